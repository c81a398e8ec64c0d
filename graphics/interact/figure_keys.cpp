// Keys on a figure: the focused text field first, then the instance's key
// handlers (the first tag-39 record whose key matches, else the catch-all
// with an empty key text), then the figure shortcuts. A key handler runs
// between a history row and a refresh, like every change users can undo.
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "graphics/interact/interaction_internal.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr uint32_t kFirstShortcutKey = 8, kLastShortcutKey = 127;
constexpr uint32_t kScaleToggleMask = kScaleLogX | kScaleLogY | kScaleDbY;  // 19
constexpr uint32_t kGridBitsMask = 0x7000, kGridMinor = 0x1000, kGridMajor = 0x2000, kGridFine = 0x4000;
constexpr int32_t kMaxGridSide = 4;

// The first character of a UTF-8 key text as a 16-bit character; 0 when the
// text does not begin with a whole character.
uint32_t first_char(const char* text, int32_t length) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  if (length < 1) return 0;
  if (p[0] < 0x80) return p[0];
  if ((p[0] & 0xE0) == 0xC0 && length >= 2) return uint32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
  if ((p[0] & 0xF0) == 0xE0 && length >= 3)
    return uint32_t(p[0] & 0x0F) << 12 | uint32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
  return 0;
}

// The key handler for `key`: the first match, else the last catch-all.
int32_t key_handler(RuntimeBlock* b, int32_t id, uint32_t key) {
  int32_t start = 0, pos = 0, catch_all = kNoHandler;
  if (rec_find_instance(b, id, &start) != 0) return kNoHandler;
  while (rec_find_tag(b, id, &pos, kTagKey) == 0) {
    RecordView r;
    const char* text = nullptr;
    int32_t length = 0;
    if (!rec_at(b, int64_t(start) + pos, &r) || !rec_text(r, 0, &text, &length)) continue;
    if (length == 0) catch_all = pos;
    else if (first_char(text, length) == key) return pos;
  }
  return catch_all;
}

// The figure next to the current subplot's in record order (cycling).
int step_figure(RuntimeBlock** handle, int32_t id, bool forward) {
  RuntimeBlock* b = *handle;
  const int32_t k = inst_current_subplot(b, id);
  InstanceRec* rec = inst_find_by_id(b, id);
  if (k < 0 || k >= kMaxSubplots) return 0;
  int32_t figures[256], n = 0, pos = 0;
  while (n < 256 && rec_find_tag(b, id, &pos, kTagFigure) == 0) figures[n++] = pos;
  if (n == 0) return 0;
  const int32_t now = inst_own_figure(rec->subplots[k]);
  int32_t at = -1;
  for (int32_t i = 0; i < n; ++i)
    if (figures[i] == now) at = i;
  const int32_t next = at < 0 ? (forward ? 0 : n - 1) : (at + (forward ? 1 : n - 1)) % n;
  if (figures[next] == now) return 0;
  TN_TRY(inst_set_current_subplot(handle, id, figures[next]));
  return kRtHandledRedraw;
}

int toggle_scale(RuntimeBlock** handle, int32_t id, uint32_t bit) {
  uint32_t common = 0, allowed = 0, mixed = 0;
  TN_TRY(inst_scale_flags_get(*handle, id, &common, &allowed, &mixed));
  TN_TRY(inst_scale_flags_set(handle, id, kScaleToggleMask, common ^ bit));
  return kRtHandledRedraw;
}

int grid_lines(RuntimeBlock** handle, int32_t id, uint32_t bit) {
  uint32_t common = 0, allowed = 0, mixed = 0;
  TN_TRY(inst_subplot_props_get(*handle, id, &common, &allowed, &mixed));
  TN_TRY(inst_subplot_props_set(*handle, id, kGridBitsMask, (common & bit) ? kGridMinor : bit));
  TN_TRY(inst_refresh(handle, id));
  return kRtHandledRedraw;
}

int resize_grid(RuntimeBlock** handle, int32_t id, int32_t drows, int32_t dcols) {
  int32_t rows = 0, cols = 0;
  inst_get_grid(*handle, id, &rows, &cols);
  rows += drows, cols += dcols;
  if (rows < 1 || rows > kMaxGridSide || cols < 1 || cols > kMaxGridSide) return kRtHandledRedraw;
  TN_TRY(inst_set_grid_redraw(handle, id, rows, cols));
  return kRtHandledRedraw;
}

}  // namespace

int inst_key_event(RuntimeBlock** handle, int32_t id, uint32_t key) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  int32_t start = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  if (rec->focus_record >= 0) return interact_textfield_key(handle, id, key);
  const int32_t record = key_handler(b, id, key);
  if (record == kNoHandler) return inst_key_shortcut(handle, id, key);
  const bool pushed = inst_push_view_row(b, id) == 0;
  const int status = handler_call(handle, id, record, false, true, false, -1, false, key, kFdStdout, -1, nullptr, 0,
                                  nullptr, nullptr, 0, nullptr);
  if (status != 0) {
    if (pushed) undo_store_drop_last_row(rt_value_store(*handle), id);
    return status == kHandlerBusy ? 0 : status;
  }
  TN_TRY(inst_refresh(handle, id));
  TN_TRY(inst_run_change_handlers(handle, id));
  return kRtHandledRedraw;
}

int inst_key_shortcut(RuntimeBlock** handle, int32_t id, uint32_t key) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  if (key < kFirstShortcutKey || key > kLastShortcutKey) return kRtUndefElement;
  switch (key) {
    case 8: case 127:
      TN_TRY(inst_set_current_subplot(handle, id, -1));
      return kRtHandledRedraw;
    case '+': return step_figure(handle, id, true);
    case '-': return step_figure(handle, id, false);
    case '0': case 'Z': return inst_redo(handle, id);
    case '9': case 'z': return inst_undo(handle, id);
    // Through the tool setter, so that leaving manipulate ends the pending
    // subplots as the menu commands do.
    case '1': case '2': case '3': case '4': case '5': return interact_set_tool_mode(handle, int32_t(key - '0'));
    case 'l': return toggle_scale(handle, id, kScaleLogX);
    case 'L': return toggle_scale(handle, id, kScaleLogY);
    case 'd': return toggle_scale(handle, id, kScaleDbY);
    case 'g': return grid_lines(handle, id, kGridMajor);
    case 'G': return grid_lines(handle, id, kGridFine);
    case 'j': return resize_grid(handle, id, -1, 0);
    case 'k': return resize_grid(handle, id, 1, 0);
    case 'n': return resize_grid(handle, id, 0, -1);
    case 'm': return resize_grid(handle, id, 0, 1);
    case 'o':
      TN_TRY(inst_subplots_apply(handle, id));
      return kRtHandledRedraw;
    default: return kRtUndefElement;
  }
}
