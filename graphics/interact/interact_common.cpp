// The small steps every interaction entry shares: the subplot under the
// pointer, the hit test on the instance's committed list, history rows,
// redraws, the mouse-rate limit, status texts and self-inverting rectangles.
#include <algorithm>
#include <cstring>

#include "engine/core/status.h"
#include "graphics/interact/control_track.h"
#include "graphics/interact/hit_test.h"
#include "graphics/interact/interaction_internal.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/figure_draw.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kClockSlotMouse = 5;
constexpr double kDefaultMouseInterval = 0.01;  // seconds: moves above 100 per second are dropped

constexpr int32_t kFocusAnchorAll = 32000;  // a focused field starts with its whole text selected
constexpr int32_t kStateSuspended = 1, kStateIdleOn = 2;  // a pop-up press suspends idle processing

bool in_span(double v, double a, double b) { return a <= b ? a <= v && v < b : b <= v && v < a; }

}  // namespace

int32_t interact_element(const ManipState& m) { return (m.valid & kManipId) ? m.id : -1; }

int32_t interact_cells(const InstanceRec* rec) {
  return std::min(std::max(0, rec->rows) * std::max(0, rec->cols), kMaxSubplots);
}

bool interact_figure_only(RuntimeBlock* b, int32_t id) {
  int32_t start = 0;
  RecordView header, next;
  return rec_find_instance(b, id, &start) == 0 && rec_at(b, start, &header) &&
         rec_at(b, int64_t(start) + header.length, &next) && next.tag == kTagFigureOnly;
}

bool interact_has_drawing(const InstanceRec* rec, int32_t k) {
  if (k < 0 || k >= kMaxSubplots) return false;
  const int32_t plot = rec->subplots[k].handlerWords[kSubplotPlotHandlerWord];
  return plot >= 0 || plot == kPlotByOtherCell;
}

int32_t interact_subplot_at(const InstanceRec* rec, double x, double y, bool outer) {
  for (int32_t k = interact_cells(rec) - 1; k >= 0; --k) {
    const Subplot& s = rec->subplots[k];
    const bool inside = outer ? in_span(x, s.rectLeft, s.rectRight) && in_span(y, s.rectTop, s.rectBottom)
                              : in_span(x, s.frameLeft, s.frameRight) && in_span(y, s.frameTop, s.frameBottom);
    if (inside) return k;
  }
  return kNoSubplot;
}

bool interact_hit_test(RuntimeBlock* b, int32_t id, int32_t k, double x, double y, uint8_t modifier,
                       ManipState* st, bool press) {
  if (!st) st = &b->h.manip;
  InstanceRec* rec = inst_find_by_id(b, id);
  Subplot* s = &rec->subplots[k];
  PlotStore* store = rt_plot_store(b);
  int32_t pos = 0, length = 0, start = -1;
  double* list = nullptr;
  if (plotstore_find(store, id, &pos, &length)) {
    list = plotstore_data(store) + pos;
    if (!plotlist_section_start(list, length, k, &start)) start = -1;
  }
  ControlPress taken;
  const bool found = plotlist_hit_test_section(list, length, start, k, s, x, y, kHitTolerance, modifier, press ? 1 : 0,
                                               st, b->h.driver, rt_graphics_context(b), &taken);
  if (!found && s->hasContent) {
    // No object to test: the pointer alone is the event.
    subplot_pixel_to_point(s, x, y, &st->x, &st->y);
    st->x1 = st->x, st->y1 = st->y;
    st->valid = kManipPointer | (modifier ? uint32_t(kManipFlag) : 0u);
  }
  // A press that focuses a text field or opens a pop-up tells the instance.
  if (taken.field_record >= 0) {
    rec->focus_subplot = k, rec->focus_record = taken.field_record;
    rec->focus_caret = 0, rec->focus_anchor = kFocusAnchorAll;
  }
  if (taken.popup && rec->state == kStateIdleOn) rec->state = kStateSuspended, rec->resume = 1;
  return found;
}

bool interact_text_scrollable(const Subplot* s) { return !s->hasContent && s->yMode == kAxisFixed; }

void interact_set_text_scroll(Subplot* s, double offset) {
  s->yOffset = offset > 0 ? std::min(offset, std::max(s->yMax, 0.0)) : 0.0;  // NaN too
}

void interact_push_row(RuntimeBlock* b, int32_t id) {
  b->h.interaction.row_pushed = inst_push_row(b, id) == 0;
}

void interact_drop_row(RuntimeBlock* b, int32_t id) {
  if (b->h.interaction.row_pushed) undo_store_drop_last_row(rt_value_store(b), id);
  b->h.interaction.row_pushed = 0;
}

int interact_redraw(RuntimeBlock** handle, int32_t id, int result) {
  const int status = inst_refresh(handle, id);
  if (status == 0) return result;
  // A plot handler's error ends the interaction like any handler's.
  (*handle)->h.interaction.active = kNoSubplot;
  return status;
}

int interact_fail(RuntimeBlock* b, int32_t id, int status) {
  interact_drop_row(b, id);
  const int32_t k = b->h.interaction.active;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (rec && k >= 0 && k < kMaxSubplots) subplot_mark_axes(&rec->subplots[k], 0);
  b->h.interaction.active = kNoSubplot;
  return status;
}

bool interact_move_paced(RuntimeBlock* b) {
  if (!rt_has_clock(b)) return true;
  if (rt_clock_read(b, kClockSlotMouse, false, false) < kDefaultMouseInterval) return false;
  rt_clock_read(b, kClockSlotMouse, false, true);
  return true;
}

void interact_clear_text(char* text, int32_t size, int32_t* length) {
  if (length) *length = 0;
  else if (text && size >= 1) text[0] = '\0';
}

void interact_put_text(const char* message, char* text, int32_t size, int32_t* length) {
  const int32_t n = int32_t(std::strlen(message));
  if (length) {
    *length = n;
    if (text) std::memcpy(text, message, size_t(std::clamp(n, 0, std::max(0, size))));
    return;
  }
  if (!text || size < 1) return;
  const int32_t m = std::min(n, size - 1);
  std::memcpy(text, message, size_t(m));
  text[m] = '\0';
}

bool interact_has_focus_rect(const RuntimeBlock* b) { return b->h.driver && b->h.driver->focus_rect; }

void interact_focus_rect(RuntimeBlock* b, double left, double top, double right, double bottom) {
  if (interact_has_focus_rect(b)) b->h.driver->focus_rect(left, top, right, bottom, 0, rt_graphics_context(b));
}

void interact_band(RuntimeBlock* b, const InstanceRec* rec, int32_t k, int32_t j, double x1, double y1, double x2,
                   double y2) {
  const Subplot* a = &rec->subplots[k];
  const Subplot* s = &rec->subplots[j];
  double dx = 0, dy = 0;
  subplot_origin_shift(a, s, &dx, &dy);
  interact_focus_rect(b, x1 + dx, y1 + dy, x2 + dx, y2 + dy);
}

int32_t interact_case(const RuntimeBlock* b, uint8_t modifier, const Subplot* s) {
  const int32_t mode = b->h.interaction_mode;
  if (!s->hasContent) return mode == kToolSelect ? kCaseSelect : kCaseManipulate;
  if (!s->is3D) return mode;
  switch (mode) {
    case kToolZoom: return kCaseZoom;
    case kToolZoomX: return s->orthographic ? kCaseZoom : kCaseDollyForward;
    case kToolDrag: return modifier ? kCaseDollyLateral : kCaseOrbit;
    default: return mode;
  }
}
