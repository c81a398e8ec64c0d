// Button up, hover, wheel and the cursor query. The release applies what
// the bands chose (zoom) and closes the history row of the interaction; the
// hover runs mouse-over handlers (ending the pending subplot it leaves) or
// shows the tool's status text.
#include <cmath>
#include <initializer_list>

#include "engine/core/status.h"
#include "graphics/interact/control_track.h"
#include "graphics/interact/interaction_internal.h"
#include "graphics/subplot/autoscale.h"
#include "graphics/subplot/subplot_view.h"
#include "runtime/figure_draw.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kStateIdleOn = 2;

const char kZoomText[] = "Zoom (hold down the Shift key to zoom out)";
const char kZoomXText[] = "Zoom along x axis (hold down the Shift key to zoom out)";
const char kDragText[] = "Drag (hold down the Shift key to drag along x axis)";
const char kResizeText[] = "Resize";
const char kSelectText[] = "Select (hold down the Shift key for multiple selection)";
const char kCloserText[] = "Move closer (hold down the Shift key to move away)";
const char kOrbitText[] = "Orbit around target";
const char kPanText[] = "Pan and tilt camera";
const char kRollText[] = "Roll camera around view axis";
const char kDollyLateralText[] = "Make camera dolly laterally";
const char kDollyForwardText[] = "Make camera dolly forward";
const char kDollyFixedText[] = "Make camera dolly forward (fixed target)";

// Whether a handler record assigns instance variables (and so changes
// what the plot handlers draw); status texts and cursor outputs do not.
bool assigns_variables(RuntimeBlock* b, int32_t id, int32_t record) {
  int32_t start = 0;
  RecordView r;
  if (rec_find_instance(b, id, &start) != 0 || !rec_at(b, int64_t(start) + record, &r)) return false;
  const int32_t at = rec_hd_offset(r.tag, r.data, r.data_words);
  if (at < 0 || at + kHdFixedWords > r.data_words) return false;
  const int32_t nout = r.data[at + kHdOutputs];
  for (int32_t k = 0; k < nout && at + kHdFixedWords + k < r.data_words; ++k)
    if (hd_is_variable(r.data[at + kHdFixedWords + k])) return true;
  return false;
}

// The zoom cases' text is shown only while the zoom is allowed.
const char* hover_text(RuntimeBlock* b, const InstanceRec* rec, int32_t c, Subplot* s, double x, double y,
                       uint8_t modifier) {
  switch (c) {
    case kCaseZoom: case 6: return subplot_zoom_allowed(s, !modifier) ? kZoomText : nullptr;
    case kCaseZoomX: return subplot_zoom_x_allowed(s, !modifier) ? kZoomXText : nullptr;
    case kCaseDrag: return kDragText;
    case kCaseSelect: {
      int32_t k = 0, part = 0;
      return rec->free_layout && interact_frame_corner(rec, x, y, &k, &part) ? kResizeText : kSelectText;
    }
    case 7: return kCloserText;
    case kCaseOrbit: return kOrbitText;
    case kCasePan: return kPanText;
    case kCaseRoll: return kRollText;
    case kCaseDollyLateral: return kDollyLateralText;
    case kCaseDollyForward: return modifier ? kDollyFixedText : kDollyForwardText;
    default: (void)b; return nullptr;
  }
}

// One uninterrupted run of wheel steps over a subplot is one history row,
// as one drag is: a scroll gesture sends many small steps, and a row each
// would push the whole history out in one turn of the wheel. The run's
// first step writes the view it found into the current row and pushes the
// run's row; a later step adds to that row while nothing has pushed, undone
// or redone a row since (the history serial), no press or tool change came
// between and the pointer is over the same subplot. True when this step
// began the run; a row that cannot be pushed leaves the run closed and the
// step goes on without one, as a press does.
bool wheel_row(RuntimeBlock* b, int32_t id, int32_t k) {
  InteractionState::WheelRun& run = b->h.interaction.wheel;
  if (run.open && run.instance == id && run.subplot == k && run.serial == b->h.history_serial) return false;
  run.open = 0;
  if (inst_push_view_row(b, id) != 0) return false;
  run = InteractionState::WheelRun{1, id, k, b->h.history_serial};
  return true;
}

// After a wheel step: the view goes into the run's row, and a run that has
// come back to the row before it (or a first step that changed nothing)
// leaves no row. A failed step ends the run and drops the row only when it
// began it: the steps before it stay on screen and in their row. A handler
// that moved the history itself ends the run: the newest row is not its own.
int wheel_done(RuntimeBlock* b, int32_t id, bool began, int status) {
  InteractionState::WheelRun& run = b->h.interaction.wheel;
  if (!run.open || run.serial != b->h.history_serial) {
    run.open = 0;
    return status;
  }
  if (status == 0 || status == kRtHandledRedraw) {
    const int stored = inst_layout_to_array(b, id);
    if (stored == 0) {
      if (inst_row_same_as_before(b, id)) {
        undo_store_drop_last_row(rt_value_store(b), id);
        run.open = 0;
      }
      return status;
    }
    status = stored;
  }
  if (began) undo_store_drop_last_row(rt_value_store(b), id);
  run.open = 0;
  return status;
}

// A wheel step that changes nothing ends the run it may have continued.
int wheel_end_run(RuntimeBlock* b) {
  b->h.interaction.wheel.open = 0;
  return 0;
}

int release_manipulate(RuntimeBlock** handle, int32_t id, int32_t k) {
  RuntimeBlock* b = *handle;
  const int32_t element = interact_element(b->h.manip);
  int status = 0;
  if (b->h.manip.valid & kManipControl) {
    // The control showed its own state while it moved: its drag handler runs once now.
    bool had = false;
    b->h.interaction_target = k;
    status = interact_run_drag(handle, id, k, element, &had);
    b = *handle;
  }
  const int32_t release = interact_handler(b, id, k, kTagMouseRelease, element);
  if (release != kNoHandler && (status == 0 || status == kHandlerBusy)) {
    b->h.interaction_target = k;
    status = interact_run_handler(handle, id, release, k, nullptr, 0, nullptr);
    b = *handle;
  }
  if (status != 0 && status != kHandlerBusy) interact_drop_row(b, id);
  subplot_mark_axes(&inst_find_by_id(b, id)->subplots[k], 0);
  const int result = status == 0 || status == kHandlerBusy ? int(kRtHandledRedraw) : status;
  return interact_redraw(handle, id, result);
}

// The moving set is selected again once the move is over, and the view is
// stored in the interaction's row; a row that changed nothing is dropped,
// so that the next undo steps over no empty move.
int restore_selection(RuntimeBlock* b, int32_t id) {
  const int status = inst_set_selection(b, id, b->h.interaction.moving, true);
  TN_TRY(inst_layout_to_array(b, id));
  if (inst_layout_same_as_before(b, id)) interact_drop_row(b, id);
  return status;
}

int release_zoom(RuntimeBlock** handle, int32_t id, int32_t k, bool x_only, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  const InteractionState st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  uint32_t set = st.moving | (1u << k);
  for (int32_t j = 0; j < interact_cells(rec); ++j) {
    if (!((set >> j) & 1)) continue;
    Subplot* s = &rec->subplots[j];
    double dx = 0, dy = 0;
    subplot_origin_shift(&rec->subplots[k], s, &dx, &dy);
    const Subplot* a = &rec->subplots[k];
    if (b->h.band_drawn) interact_band(b, rec, k, j, st.anchor_x, x_only ? a->frameTop : st.anchor_y,
                                        st.current_x, x_only ? a->frameBottom : st.current_y);
    if (modifier && x_only) subplot_zoom_x_out_at(s, st.anchor_x + dx);
    else if (modifier) subplot_zoom_out_at(s, st.anchor_x + dx, st.anchor_y + dy);
    else if (x_only) subplot_zoom_x_span(s, st.anchor_x + dx, st.current_x + dx);
    else subplot_zoom_rect(s, st.anchor_x + dx, st.current_x + dx, st.anchor_y + dy, st.current_y + dy);
  }
  b->h.band_drawn = 0;
  TN_TRY(interact_redraw(handle, id, 0));
  TN_TRY(restore_selection(*handle, id));
  return kRtHandledRedraw;
}

int release_frames(RuntimeBlock** handle, int32_t id) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (b->h.frame_move.drawn && interact_has_focus_rect(b))
    for (int32_t j = 0; j < interact_cells(rec); ++j)
      if ((rec->selection >> j) & 1) inst_draw_subplot(b, id, j, false);
  b->h.frame_move.drawn = 0;
  const InteractionState& st = b->h.interaction;
  if (rec->free_layout) {
    TN_TRY(inst_layout_to_array(b, id));
    // Frames moved without a redraw: their objects follow them now.
    if (st.current_x != st.anchor_x || st.current_y != st.anchor_y)
      return interact_redraw(handle, id, kRtHandledRedraw);
  } else if (!st.frames_moved) {
    interact_drop_row(b, id);
  } else {
    TN_TRY(inst_layout_to_array(b, id));
  }
  return interact_has_focus_rect(b) ? 0 : int(kRtHandledRedraw);
}

}  // namespace

int interact_mouse_up(RuntimeBlock** handle, int32_t id, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  if (st.active < 0) return kRtNoInteraction;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->resume) rec->state = kStateIdleOn, rec->resume = 0;
  if (rec->focus_record >= 0) return 0;
  const int32_t k = st.active;
  st.active = kNoSubplot;
  Subplot* s = &rec->subplots[k];
  const int32_t tool = b->h.interaction_mode;
  if ((tool == kToolZoom || tool == kToolZoomX || tool == kToolDrag) && !s->hasContent &&
      interact_element(b->h.manip) < 0)
    return 0;
  const int32_t c = interact_case(b, modifier, s);
  switch (c) {
    case kCaseManipulate: return release_manipulate(handle, id, k);
    case kCaseZoom: return release_zoom(handle, id, k, false, modifier);
    case kCaseZoomX: return release_zoom(handle, id, k, true, modifier);
    case kCaseSelect: return release_frames(handle, id);
    case kCaseDrag: case kCaseOrbit: case kCasePan: case kCaseRoll: case kCaseDollyLateral: case kCaseDollyForward:
      return restore_selection(b, id);
    default: return 0;
  }
}

int interact_mouse_hover(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier, char* text,
                         int32_t text_size, int32_t* text_length) {
  RuntimeBlock* b = *handle;
  if (!interact_move_paced(b)) return kRtNoHandler;
  interact_clear_text(text, text_size, text_length);
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->focus_record >= 0) return 0;
  const int32_t k = interact_subplot_at(rec, x, y, false);
  if (b->h.interaction_mode != kToolManipulate) {
    if (k < 0 || !interact_has_drawing(rec, k)) return 0;
    Subplot* s = &rec->subplots[k];
    const char* message = hover_text(b, rec, interact_case(b, modifier, s), s, x, y, modifier);
    if (message) interact_put_text(message, text, text_size, text_length);
    return 0;
  }
  if (k < 0 || !interact_has_drawing(rec, k)) return interact_end_pending(handle, id, true, nullptr);
  int result = 0;
  if (rec->pending_subplot >= 0 && rec->pending_subplot != k) {
    result = interact_end_pending(handle, id, true, nullptr);
    if (result != 0 && result != kRtHandledRedraw) return result;
    b = *handle;
  }
  interact_hit_test(b, id, k, x, y, modifier);
  const int32_t over = interact_handler(b, id, k, kTagMouseOver, interact_element(b->h.manip));
  if (over == kNoHandler) return result;
  b->h.cursor_kind = 1;
  b->h.interaction_target = k;
  TN_TRY(interact_run_handler(handle, id, over, k, text, text_size, text_length));
  b = *handle;
  inst_find_by_id(b, id)->pending_subplot = k;
  if (assigns_variables(b, id, over)) return interact_redraw(handle, id, kRtHandledRedraw);
  return result;
}

int interact_mouse_wheel(RuntimeBlock** handle, int32_t id, double x, double y, double scroll_x, double scroll_y,
                         uint8_t modifier, char* text, int32_t text_size, int32_t* text_length) {
  const int idle = inst_idle_step(handle, id, false);
  if (idle != 0 && idle != kRtHandledRedraw) return idle;
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const int32_t k = interact_subplot_at(rec, x, y, false);
  if (k < 0) return wheel_end_run(b);
  Subplot* s = &rec->subplots[k];
  if (interact_text_scrollable(s)) {
    wheel_end_run(b);
    interact_set_text_scroll(s, s->yOffset + scroll_y * s->lineHeight);
    return kRtHandledRedraw;
  }
  if (b->h.interaction_mode == kToolDrag) {
    if (!s->hasContent) return wheel_end_run(b);
    const bool began = wheel_row(b, id, k);
    s = &inst_find_by_id(b, id)->subplots[k];
    subplot_drag_by(s, -std::fabs(s->charWidth) * scroll_x, -std::fabs(s->lineHeight) * scroll_y);
    const int status = interact_redraw(handle, id, kRtHandledRedraw);
    return wheel_done(*handle, id, began, status);
  }
  if (b->h.interaction_mode != kToolManipulate) return wheel_end_run(b);
  interact_hit_test(b, id, k, x, y, modifier);
  const int32_t wheel = interact_handler(b, id, k, kTagMouseWheel, interact_element(b->h.manip));
  if (wheel == kNoHandler) return wheel_end_run(b);
  // The handler's outputs and whatever view it sets go into the run's row.
  const bool began = wheel_row(b, id, k);
  interact_state_set_scroll(&b->h.manip, scroll_x, scroll_y);
  b->h.interaction_target = k;
  int status = interact_run_handler(handle, id, wheel, k, text, text_size, text_length);
  b = *handle;
  if (status == 0) {
    inst_find_by_id(b, id)->pending_subplot = k;
    status = assigns_variables(b, id, wheel) ? interact_redraw(handle, id, kRtHandledRedraw) : kRtHandledRedraw;
  }
  return wheel_done(*handle, id, began, status);
}

int32_t interact_cursor_kind(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const bool select = b->h.interaction_mode == kToolSelect;
  const int32_t k = interact_subplot_at(rec, x, y, select);
  if (k < 0) return kCursorNone;
  const bool figure_only = interact_figure_only(b, id);
  if (!interact_has_drawing(rec, k) && !figure_only && !select) return kCursorNone;
  Subplot* s = &rec->subplots[k];
  switch (interact_case(b, modifier, s)) {
    case kCaseManipulate: {
      if (!interact_hit_test(b, id, k, x, y, modifier)) return kCursorHitFailed;
      const ManipState& m = b->h.manip;
      const int32_t element = interact_element(m);
      if (figure_only) return element >= 0 || (m.valid & kManipLegend) ? kCursorManipulate : kCursorNone;
      if (!s->hasContent) return element >= 0 ? kCursorManipulate : kCursorNone;
      bool handled = false;
      for (int32_t tag : {kTagMousePress, kTagMouseDrag, kTagMouseDrag2, kTagMouseRelease})
        handled = handled || interact_handler(b, id, k, tag, element) != kNoHandler;
      if (!handled) return kCursorNone;
      return b->h.cursor_kind || b->h.last_handled_target != k ? kCursorManipulate : kCursorNone;
    }
    case kCaseZoom: case 6:
      return subplot_zoom_allowed(s, !modifier) ? (modifier ? kCursorZoomOut : kCursorZoomIn) : kCursorNone;
    case kCaseZoomX:
      return subplot_zoom_x_allowed(s, !modifier) ? (modifier ? kCursorZoomXOut : kCursorZoomXIn) : kCursorNone;
    case kCaseDrag: return modifier ? kCursorDragX : kCursorDrag;
    case kCaseSelect: return kCursorSelect;
    case kCaseOrbit: return modifier ? kCursorOrbitShift : kCursorOrbit;
    case kCasePan: return kCursorPan;
    case kCaseRoll: return kCursorRoll;
    case kCaseDollyLateral: return kCursorDollyLateral;
    case 7: case kCaseDollyForward: return kCursorDollyForward;
    default: return kCursorNone;
  }
}
