// Menu items through the handler call. The handler may grow and move the
// block, so nothing of the block is held across it: positions, not
// pointers, and an output text written first into the heap and copied into
// the block's scratch region only once the call is over.
#include "runtime/menu_exec.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/streams.h"
#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/menu_state.h"
#include "runtime/plot_lists.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr char kLinkTemplate[] = "%TN link ## **";
constexpr int32_t kLinkLength = int32_t(sizeof kLinkTemplate - 1);
constexpr int32_t kNoLink = -1;
// Data words of an item record: link instance id, link id, then its label.
enum : int32_t { kItemLinkInstance = 0, kItemLinkId = 1 };

bool is_line_end(char ch) { return ch == '\r' || ch == '\n'; }

// A handler that found another running, or that `cancel` ended, is no failure here.
int menu_status(int status) { return status == kHandlerBusy ? 0 : status; }

int run_handler(RuntimeBlock** handle, int32_t id, int32_t position, char* text, int32_t size,
                int32_t* text_length, int32_t link_id, HandlerTextGrow grow = {}) {
  const int32_t subplot = inst_current_subplot(*handle, id);
  return handler_call(handle, id, position, false, true, false, subplot, false, 0, kFdStdout, link_id, text, size,
                      text_length, nullptr, 0, nullptr, grow);
}

// The text of the last record call, outside the block: a value's data text
// may be larger than any region the block has, and a handler that grows
// the block must not move it.
struct RecordText {
  char* data = nullptr;
  int32_t capacity = 0;
};
RecordText g_record_text;
constexpr int32_t kFirstRecordTextBytes = 64 * 1024;

bool grow_record_text(void* context, int64_t at_least, char** text, int32_t* size) {
  auto* t = static_cast<RecordText*>(context);
  if (at_least > INT32_MAX) return false;
  if (at_least > t->capacity) {
    char* bigger = static_cast<char*>(std::realloc(t->data, size_t(at_least)));
    if (!bigger) return false;
    // Zeros, as the first buffer holds: the call's `_xdata` input reads it.
    std::memset(bigger + t->capacity, 0, size_t(at_least - t->capacity));
    t->data = bigger;
    t->capacity = int32_t(at_least);
  }
  *text = t->data;
  *size = t->capacity;
  return true;
}

// The link line: the line after the first run of line ends.
void store_link(RuntimeBlock* b, int32_t id, int32_t position, const std::string& text) {
  size_t at = 0;
  while (at < text.size() && !is_line_end(text[at])) ++at;
  while (at < text.size() && is_line_end(text[at])) ++at;
  int32_t link_instance = 0, link_id = 0;
  if (!read_link_line(text.data() + at, int32_t(text.size() - at), &link_instance, &link_id)) return;
  int32_t start = 0;
  RecordView r;
  if (rec_find_instance(b, id, &start) != 0 || !rec_at(b, int64_t(start) + position, &r) || r.tag != kTagItem ||
      r.data_words <= kItemLinkId)
    return;
  int32_t* data = rt_record_words(b) + start + position + kRecordHeadWords;
  data[kItemLinkInstance] = link_instance;
  data[kItemLinkId] = link_id;
}

}  // namespace

bool read_link_line(const char* line, int32_t n, int32_t* link_instance, int32_t* link_id) {
  if (n < kLinkLength) return false;
  int32_t values[2] = {0, 0};
  for (int32_t i = 0; i < kLinkLength; ++i) {
    const char t = kLinkTemplate[i];
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (t == '#' || t == '*') {
      if (!digit) return false;
      int32_t& v = values[t == '#' ? 0 : 1];
      v = v * 10 + (line[i] - '0');
    } else if (line[i] != t && !digit) {
      // A literal of the template may differ only where the text has a digit.
      return false;
    }
  }
  *link_instance = values[0];
  *link_id = values[1];
  return true;
}

int inst_menu_exec(RuntimeBlock** handle, int32_t id, int32_t position) {
  int32_t start = 0;
  TN_TRY(rec_find_instance(*handle, id, &start));
  TN_TRY(inst_push_view_row(*handle, id));
  const int status = run_handler(handle, id, position, nullptr, 0, nullptr, kNoLink);
  if (status != 0) {
    undo_store_drop_last_row(rt_value_store(*handle), id);
    return menu_status(status);
  }
  TN_TRY(inst_refresh(handle, id));
  return kRtHandledRedraw;
}

int inst_call_text_handler(RuntimeBlock** handle, int32_t id, int32_t position, const char* text, int32_t length) {
  RuntimeBlock* b = *handle;
  int32_t start = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  if (!text) length = 0;
  if (length < 0) length = int32_t(std::strlen(text));
  // The handler reads its own copy: the caller's text may lie anywhere.
  std::string data(text ? text : "", size_t(length));
  RecordView item, next;
  int32_t chosen = position;
  if (rec_at(b, int64_t(start) + position, &item) && rec_at(b, int64_t(start) + position + item.length, &next) &&
      next.tag == kTagItem) {
    const char* label = nullptr;
    int32_t label_length = 0;
    constexpr int32_t kItemLabelWord = 2;
    if (rec_text(next, kItemLabelWord, &label, &label_length) && label_length == 0) {
      chosen = inst_handler_text_value(b, id, position, data.data(), length);
      if (chosen == kNoTextHandler) return kRtUndefElement;
    }
  }
  TN_TRY(inst_push_view_row(b, id));
  const int status = run_handler(handle, id, chosen, data.data(), length, nullptr, kNoLink);
  if (status != 0) {
    undo_store_drop_last_row(rt_value_store(*handle), id);
    return menu_status(status);
  }
  store_link(*handle, id, chosen, data);
  TN_TRY(inst_refresh(handle, id));
  TN_TRY(inst_run_change_handlers(handle, id));
  return kRtHandledRedraw;
}

int inst_record_call(RuntimeBlock** handle, int32_t id, int32_t position, int32_t link_id, char** out,
                     int32_t* out_length) {
  *out = nullptr;
  *out_length = 0;
  int32_t start = 0;
  TN_TRY(rec_find_instance(*handle, id, &start));
  const HandlerTextGrow grow{grow_record_text, &g_record_text};
  char* text = nullptr;
  int32_t capacity = 0;
  if (!grow_record_text(&g_record_text, kFirstRecordTextBytes, &text, &capacity)) return kRtExhausted;
  int32_t length = 0;
  TN_TRY(run_handler(handle, id, position, text, capacity, &length, link_id, grow));
  *out = g_record_text.data;
  *out_length = std::clamp(length, 0, g_record_text.capacity);
  return 0;
}
