// Keys typed into the focused text field of an instance and its commit.
// The field's text lives in its display-list record (saved in the image):
// it is found through the bounded reader and edited only inside its 16-byte
// field, so a damaged or shortened record is refused (12), never overrun.
#include <algorithm>
#include <cstring>

#include "engine/core/numfmt.h"
#include "engine/core/status.h"
#include "graphics/interact/interaction_internal.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/handler_call.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"

namespace {

constexpr int32_t kCodeTextField = 65;
constexpr int32_t kFieldBytes = 16;
constexpr int32_t kFieldChars = 14;  // what the field holds with its terminator and a spare byte
constexpr int32_t kFieldTexts = 7;   // the rectangle, the row position and two reserved values
constexpr uint32_t kKeyBackspace = 8, kKeyLineFeed = 10, kKeyReturn = 13;
constexpr uint32_t kCommitBits = kManipX1 | kManipId | kManipNb;  // 0x1804
static_assert(kCommitBits == 0x1804);

struct Field {
  uint8_t* text;  // the 16-byte field
  int32_t length;
  double id, index;
};

// The focused field's bytes in the instance's list; false for a record that
// is not (or no longer) a text field, or is cut short.
bool focused_field(RuntimeBlock* b, int32_t id, const InstanceRec* rec, Field* f) {
  PlotStore* store = rt_plot_store(b);
  int32_t pos = 0, length = 0;
  if (!plotstore_find(store, id, &pos, &length)) return false;
  double* list = plotstore_data(store) + pos;
  PlotReader r;
  plotreader_init(&r, list, length, rec->focus_record);
  PlotRecord record;
  if (!plotreader_next(&r, &record) || record.code_int != kCodeTextField || record.n < kFieldTexts) return false;
  uint8_t* bytes = reinterpret_cast<uint8_t*>(list + record.at + kRecHead + kFieldTexts);
  const int32_t size = (record.n - kFieldTexts) * int32_t(sizeof(double));
  const uint8_t* label_end = static_cast<const uint8_t*>(std::memchr(bytes, 0, size_t(size)));
  if (!label_end) return false;
  const int32_t at = int32_t(label_end - bytes) + 1;
  if (at + kFieldBytes > size) return false;
  f->text = bytes + at;
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(f->text, 0, kFieldBytes));
  f->length = end ? int32_t(end - f->text) : kFieldBytes;
  f->id = record.head[kPlotRecId];
  f->index = record.head[kPlotRecIndex];
  return true;
}

bool accepted_char(uint32_t key) {
  return (key >= '0' && key <= '9') || key == '-' || key == '.' || key == 'e' || key == 'E';
}

// Removes the bytes [from, to) of the field, moving its tail down.
void erase(Field* f, int32_t from, int32_t to) {
  std::memmove(f->text + from, f->text + to, size_t(kFieldBytes - to));
  std::memset(f->text + kFieldBytes - (to - from), 0, size_t(to - from));
  f->length -= to - from;
}

void drop_focus(InstanceRec* rec) {
  rec->focus_subplot = rec->focus_record = rec->focus_caret = rec->focus_anchor = -1;
}

}  // namespace

int interact_textfield_key(RuntimeBlock** handle, int32_t id, uint32_t key) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->focus_record < 0) return 0;
  Field f;
  if (!focused_field(b, id, rec, &f)) return kIllegalError;
  if (key == kKeyReturn || key == kKeyLineFeed) {
    const int status = interact_commit_textfield(handle, id);
    rec = inst_find_by_id(*handle, id);
    drop_focus(rec);
    // A commit that took no value leaves the edited text in the list: the
    // refresh writes the field's own value back.
    if (status == 0) return interact_redraw(handle, id, kRtHandledRedraw);
    return status;
  }
  int32_t caret = std::clamp(rec->focus_caret, 0, f.length);
  int32_t anchor = std::clamp(rec->focus_anchor, 0, f.length);
  const bool selected = caret < anchor;
  if (key == kKeyBackspace) {
    if (selected) erase(&f, caret, anchor);
    else if (caret > 0) erase(&f, caret - 1, caret), --caret;
    anchor = caret;
  } else if (key == kKeyLeft) {
    if (!selected) caret = std::max(0, caret - 1);
    anchor = caret;
  } else if (key == kKeyRight) {
    if (selected) caret = anchor;
    else caret = std::min(f.length, caret + 1);
    anchor = caret;
  } else if (accepted_char(key)) {
    if (selected) erase(&f, caret, anchor);
    if (f.length + 1 <= kFieldChars) {
      std::memmove(f.text + caret + 1, f.text + caret, size_t(kFieldBytes - caret - 1));
      f.text[caret++] = uint8_t(key);
      ++f.length;
    }
    anchor = caret;
  } else {
    return 0;
  }
  rec->focus_caret = caret;
  rec->focus_anchor = anchor;
  return kRtHandledRedraw;
}

int interact_commit_textfield(RuntimeBlock** handle, int32_t id) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->focus_record < 0) return 0;
  Field f;
  if (!focused_field(b, id, rec, &f)) return kIllegalError;
  double value = 0;
  char text[kFieldBytes + 1] = {};
  std::memcpy(text, f.text, size_t(f.length));
  if (!scan_number(text, f.length, nullptr, &value)) return 0;
  const int32_t k = rec->focus_subplot;
  ManipState& m = b->h.manip;
  m.valid = kCommitBits;
  m.x1 = value;
  m.id = f.id >= 0 && f.id <= double(INT32_MAX) ? int32_t(f.id) : -1;
  m.nb = f.index >= 0 && f.index <= double(INT32_MAX) ? int32_t(f.index) : -1;
  if (k < 0 || k >= kMaxSubplots) return 0;
  interact_push_row(b, id);
  bool had = false;
  b->h.interaction_target = k;
  const int status = interact_run_drag(handle, id, k, m.id, &had);
  if (status != 0) {
    interact_drop_row(*handle, id);
    return status;
  }
  if (!had) interact_drop_row(*handle, id);
  // The handler's outputs are the instance's variables now: its figure is
  // computed again from them, however the commit came (Return, a press
  // elsewhere, the view losing the focus).
  return interact_redraw(handle, id, kRtHandledRedraw);
}
