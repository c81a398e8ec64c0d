// Instance records at the top of area 1: lookup by id, the defaults of a new
// instance and the reset of its layout to one empty subplot.
#include "runtime/instances.h"

#include <cstring>

#include "runtime/layout.h"
#include "runtime/runtime_status.h"

namespace {

constexpr StyleSpec kBlack{0, 0, 0, 0, 0};
constexpr uint32_t kFillStyleBits = 0x27;
constexpr uint32_t kInteractiveAxesBits = 4;
constexpr double kDefaultFrame[4] = {0.0, 1.0, 0.0, 1.0};
enum : int { kStyleDefault, kStyleFill, kStyleChart, kStyleFrame, kStyleAxes, kStyleInteractive };

}  // namespace

InstanceRec* inst_at(RuntimeBlock* b, int32_t k) {
  uint8_t* top = rt_area(b, kAreaMain) + b->h.area_size[kAreaMain];
  return reinterpret_cast<InstanceRec*>(top - int64_t(k + 1) * kInstanceBytes);
}

InstanceRec* inst_find_by_id(RuntimeBlock* b, int32_t id) {
  for (int32_t k = 0; k < b->h.instance_count; ++k)
    if (inst_at(b, k)->id == id) return inst_at(b, k);
  return nullptr;
}

void inst_write_defaults(RuntimeBlock* b, InstanceRec* rec, int32_t id, uint8_t flag) {
  std::memset(rec, 0, sizeof *rec);  // padding too: the record is saved whole
  rec->id = id;
  rec->flag = flag;
  rec->debug = b->h.default_debug;
  rec->idle_enabled = 1;
  rec->next_due = -1.0;
  rec->idle_base = -1.0;
  rec->styles[kStyleDefault] = kBlack;
  rec->styles[kStyleFill] = StyleSpec{kFillStyleBits, 0, 0, 0, 0};
  rec->styles[kStyleChart] = b->h.default_chart_style;
  rec->styles[kStyleFrame] = b->h.default_frame_style;
  rec->styles[kStyleAxes] = kBlack;
  rec->styles[kStyleInteractive] = StyleSpec{kInteractiveAxesBits, 0, 0, 0, 0};
  rec->max_subplots = kMaxSubplots;
  rec->rows = rec->cols = 1;
  std::memcpy(rec->frame, kDefaultFrame, sizeof rec->frame);
  rec->layout_word = -1;
  rec->focus_subplot = rec->focus_record = -1;
  for (Subplot& s : rec->subplots) {
    subplot_init_defaults(&s);
    for (int32_t& w : s.handlerWords) w = -1;
  }
  rec->menu_stale = 1;
  rec->section_selector = kDefaultSectionSelector;
  rec->pending_subplot = -1;
}

void inst_defaults_init(RuntimeBlock* b) {
  b->h.instance_count = 1;
  inst_write_defaults(b, inst_at(b, 0), 0, 1);
  inst_layout_reset(b, 0, true);
}

bool inst_frame_is_reset(const InstanceRec* rec) {
  for (int k = 0; k < 4; ++k)
    if (rec->frame[k] != kDefaultFrame[k]) return false;
  return true;
}

int inst_layout_reset(RuntimeBlock* b, int32_t id, bool write_frame) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  rec->rows = rec->cols = 1;
  rec->free_layout = 0;
  if (write_frame) std::memcpy(rec->frame, kDefaultFrame, sizeof rec->frame);
  rec->layout_word = -1;
  rec->focus_subplot = rec->focus_record = -1;
  rec->focus_caret = rec->focus_anchor = 0;
  Subplot& first = rec->subplots[0];
  subplot_init_defaults(&first);
  for (int32_t& w : first.handlerWords) w = -1;
  b->h.interaction_word = 0;
  // Subplot (0, 0) shows the empty figure, assigned with force: that lays
  // the 1 x 1 grid out, and its cell is the figure frame rather than the
  // default frame the subplot was just given. Not stored in the values: a
  // reset's fresh row holds no layout, and every caller is uninitialised.
  return inst_subplot_assign_unstored(b, id, 0, 0, kEmptyFigure, true);
}
