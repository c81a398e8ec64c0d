// Button down on a figure: the subplot under the pointer (or a selected
// frame's corner), the interaction case, the history row, and in manipulate
// mode the hit test and the press and drag handlers; also selection toggling,
// frame corners and the context click.
#include <cmath>

#include "engine/core/status.h"
#include "graphics/interact/control_track.h"
#include "graphics/interact/interaction_internal.h"
#include "graphics/subplot/autoscale.h"
#include "graphics/subplot/subplot_view.h"
#include "runtime/figure_draw.h"
#include "runtime/handler_call.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"

namespace {

constexpr double kCornerReach = 3.0;  // pixels, on both axes

// The selected subplots that share the active one's scale move with it;
// fewer than two move as one.
uint32_t moving_set(const InstanceRec* rec, int32_t k, bool x_only) {
  uint32_t set = 0;
  int count = 0;
  for (int32_t j = 0; j < interact_cells(rec); ++j)
    if (((rec->selection >> j) & 1) && subplots_share_scale(&rec->subplots[k], &rec->subplots[j], x_only))
      set |= 1u << j, ++count;
  return count < 2 ? 0u : set;
}

// Zoom and zoom x: allowed by the zoom references (out with Shift).
int press_zoom(RuntimeBlock* b, int32_t id, Subplot* s, bool x_only, double x, double y, uint8_t modifier) {
  InteractionState& st = b->h.interaction;
  const bool allowed = x_only ? !(s->scaleFlags & kScaleEqualAspect) && subplot_zoom_x_allowed(s, !modifier)
                              : subplot_zoom_allowed(s, !modifier);
  if (!allowed) {
    st.active = kNoSubplot;
    return kRtNoInteraction;
  }
  interact_push_row(b, id);
  st.anchor_x = st.current_x = x;
  st.anchor_y = st.current_y = y;
  b->h.band_drawn = 0;
  return 0;
}

// Select: the selection changes, then a frame move begins (not with Shift,
// not in a figure-only instance).
int press_select(RuntimeBlock** handle, int32_t id, int32_t k, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  int result = interact_toggle_select(b, id, k, modifier);
  InstanceRec* rec = inst_find_by_id(b, id);
  st.moving = rec->selection;
  b->h.frame_move.target_cell = -1;
  b->h.frame_move.drawn = 0;
  st.anchor_x = st.current_x = x;
  st.anchor_y = st.current_y = y;
  st.frames_moved = 0;
  if (rec->free_layout) {
    TN_TRY(inst_layout_compact(b, id));
    st.moving = rec->selection;
    TN_TRY(inst_layout_to_array(b, id));
    result = interact_redraw(handle, id, kRtHandledRedraw);
    if (result != kRtHandledRedraw) return result;  // the redraw failed: no frame move
    b = *handle;
  }
  if (modifier || interact_figure_only(b, id)) {
    b->h.interaction.active = kNoSubplot;
    return kRtNoInteraction;
  }
  // The layout at the press is the snapshot every grid move starts from,
  // and what undo goes back to.
  TN_TRY(inst_layout_to_array(b, id));
  interact_push_row(b, id);
  return result;
}

bool changes_view(int32_t c) {
  switch (c) {
    case kCaseZoom: case kCaseZoomX: case kCaseDrag: case kCaseOrbit: case kCasePan: case kCaseRoll:
    case kCaseDollyLateral: case kCaseDollyForward:
      return true;
    default:
      return false;
  }
}

int press_by_case(RuntimeBlock** handle, int32_t id, int32_t c, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  Subplot* s = &rec->subplots[st.active];
  switch (c) {
    case kCaseManipulate: return interact_manipulate_step(handle, id, true, x, y, modifier);
    case kCaseZoom: return press_zoom(b, id, s, false, x, y, modifier);
    case kCaseZoomX: return press_zoom(b, id, s, true, x, y, modifier);
    case kCaseSelect: return press_select(handle, id, st.active, x, y, modifier);
    // These push their history row at the first move that changes the view
    // (mouse_drag.cpp): a press that moves nothing leaves no empty step,
    // also under the middle button, whose release the view never sends.
    case kCaseDrag: case kCaseOrbit: case kCasePan: case kCaseRoll: case kCaseDollyLateral:
      st.anchor_x = x, st.anchor_y = y;
      return 0;
    case kCaseDollyForward:
      st.anchor_x = subplot_camera_distance(s);
      st.anchor_y = std::hypot(x - (s->frameLeft + s->frameRight) / 2, y - (s->frameTop + s->frameBottom) / 2);
      return 0;
    default:
      st.active = kNoSubplot;
      return kRtNoInteraction;
  }
}

// The control step on the manipulated subplot, through the block's driver.
void control_step(RuntimeBlock* b, int32_t id, int32_t k, double x, double y, uint8_t modifier) {
  Subplot* s = &inst_find_by_id(b, id)->subplots[k];
  interact_control_drag_step(b, id, k, s, x, y, modifier, &b->h.manip, nullptr, b->h.driver, rt_graphics_context(b));
}

}  // namespace

namespace {

// The press proper, once a text field being edited has been committed.
int press(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  InteractionState& st = b->h.interaction;
  st.active = kNoSubplot;
  st.frame_part = 0;
  st.row_pushed = 0;
  const bool select = b->h.interaction_mode == kToolSelect;
  int32_t k = kNoSubplot, part = 0;
  if (select && interact_frame_corner(rec, x, y, &k, &part)) st.frame_part = part;
  if (k < 0) k = interact_subplot_at(rec, x, y, select);
  if (k < 0) {
    if (select) interact_toggle_select(b, id, -1, 0);
    return kRtNoInteraction;
  }
  if (!interact_has_drawing(rec, k) && !interact_figure_only(b, id) && !select) return kRtNoInteraction;
  const int32_t c = interact_case(b, modifier, &rec->subplots[k]);
  // Undo goes back to the view as it is at the press, with its selection:
  // a lock a handler made since the last row is in it.
  if (changes_view(c)) TN_TRY(inst_layout_to_array(b, id));
  st.active = k;
  if (rec->selection == 0) st.moving = 0;
  if (c == kCaseManipulate) {
    inst_set_selection(b, id, 0, true);
  } else if (c != kCaseSelect) {
    st.moving = moving_set(rec, k, c == kCaseZoomX || (c == kCaseDrag && modifier));
    inst_set_selection(b, id, 0, true);
  }
  return press_by_case(handle, id, c, x, y, modifier);
}

}  // namespace

int interact_mouse_down(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (!inst_takes_mouse(b, id)) return kRtNoInteraction;
  rec->resume = 0;
  b->h.interaction.wheel.open = 0;  // a press ends a run of wheel steps, even one that changes nothing
  bool committed = false;
  if (rec->focus_record >= 0) {
    const int status = interact_commit_textfield(handle, id);
    rec = inst_find_by_id(*handle, id);
    rec->focus_subplot = rec->focus_record = rec->focus_caret = rec->focus_anchor = -1;
    if (status != 0 && status != kRtHandledRedraw) return status;
    committed = status == kRtHandledRedraw;
  }
  const int status = press(handle, id, x, y, modifier);
  // The committed value changed the figure: the view redraws even when the
  // press itself had nothing to draw.
  return committed && status == 0 ? int(kRtHandledRedraw) : status;
}

int interact_context_click(RuntimeBlock** handle, int32_t id, double x, double y) {
  const int32_t mode = (*handle)->h.interaction_mode;
  (*handle)->h.interaction_mode = kToolSelect;
  int status = interact_mouse_down(handle, id, x, y, 0);
  // A press that redraws (a free layout compacts its selection) still
  // leaves its frame move open: the release closes every one the press began.
  if (status == 0 || (*handle)->h.interaction.active >= 0) {
    const int release = interact_mouse_up(handle, id, 0);
    if (status == 0) status = release;
  }
  (*handle)->h.interaction_mode = mode;
  return status;
}

int interact_toggle_select(RuntimeBlock* b, int32_t id, int32_t n, uint8_t add) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  uint32_t mask = 0;
  if (n >= 0 && n < kMaxSubplots) mask = add ? rec->selection ^ (1u << n) : 1u << n;
  if (mask == rec->selection) return interact_has_focus_rect(b) ? 0 : int(kRtHandledRedraw);
  return inst_set_selection(b, id, mask, true);
}

bool interact_frame_corner(const InstanceRec* rec, double x, double y, int32_t* subplot, int32_t* part) {
  for (int32_t k = interact_cells(rec) - 1; k >= 0; --k) {
    if (!((rec->selection >> k) & 1)) continue;
    const Subplot& s = rec->subplots[k];
    const double xs[2] = {s.rectLeft, s.rectRight}, ys[2] = {s.rectTop, s.rectBottom};
    for (int corner = 0; corner < 4; ++corner) {
      if (std::fabs(x - xs[corner & 1]) <= kCornerReach && std::fabs(y - ys[corner >> 1]) <= kCornerReach) {
        *subplot = k;
        *part = corner + 1;
        return true;
      }
    }
  }
  return false;
}

// Case 1 at the press (the press handler first) and at each move: the drag
// handlers for the hit element, bracketed by a history row.
int interact_manipulate_step(RuntimeBlock** handle, int32_t id, bool press, double x, double y,
                             uint8_t modifier) {
  RuntimeBlock* b = *handle;
  const int32_t k = b->h.interaction.active;
  InstanceRec* rec = inst_find_by_id(b, id);
  Subplot* s = &rec->subplots[k];
  if (press) {
    const int32_t focused = rec->focus_record;
    interact_hit_test(b, id, k, x, y, modifier, nullptr, true);
    if (rec->focus_record >= 0 && rec->focus_record != focused) return kRtHandledRedraw;  // a field took the focus
    if (!s->hasContent && interact_element(b->h.manip) < 0) {
      if (interact_text_scrollable(s)) {  // a text scroll begins
        b->h.interaction.anchor_y = y + (s->frameTop < s->frameBottom ? s->yOffset : -s->yOffset);
        return kRtHandledRedraw;
      }
      b->h.interaction.active = kNoSubplot;
      return 0;
    }
    if (b->h.manip.valid & kManipLegend) {
      TN_TRY(inst_layout_to_array(b, id));
      interact_push_row(b, id);
      b->h.frame_move.drawn = 0;
      return 0;
    }
  }
  const int32_t element = interact_element(b->h.manip);
  const int32_t press_handler = interact_handler(b, id, k, kTagMousePress, element);
  const bool dragged = interact_handler(b, id, k, kTagMouseDrag, element) != kNoHandler ||
                       interact_handler(b, id, k, kTagMouseDrag2, element) != kNoHandler;
  const bool released = interact_handler(b, id, k, kTagMouseRelease, element) != kNoHandler;
  b->h.interaction_target = k;
  if (press) {
    subplot_mark_axes(s, 1);
    if (press_handler != kNoHandler) {
      const int status = interact_run_handler(handle, id, press_handler, k, nullptr, 0, nullptr);
      if (status == kRtHandledRedraw) return status;
      if (status != 0) return interact_fail(*handle, id, status);
      TN_TRY(interact_redraw(handle, id, 0));
    }
    b = *handle;
    if (!dragged) {
      if (released) {
        interact_push_row(b, id);
        control_step(b, id, k, x, y, modifier);
        return kRtHandledRedraw;
      }
      if (interact_figure_only(b, id)) return kRtHandledRedraw;
      subplot_mark_axes(&inst_find_by_id(b, id)->subplots[k], 0);
      b->h.interaction.active = kNoSubplot;
      return kRtNoInteraction;
    }
    interact_push_row(b, id);
  }
  // A control that shows its own state (a pressed button, an open menu)
  // takes the event: the drag handler waits for the release.
  control_step(*handle, id, k, x, y, modifier);
  if ((*handle)->h.manip.valid & kManipControl) return kRtHandledRedraw;
  if (!press && !dragged) return 0;
  bool had = false;
  const int status = interact_run_drag(handle, id, k, element, &had);
  if (status != 0) return interact_fail(*handle, id, status);
  return interact_redraw(handle, id, kRtHandledRedraw);
}

int interact_run_drag(RuntimeBlock** handle, int32_t id, int32_t k, int32_t element, bool* had_handler) {
  const int32_t drag = interact_handler(*handle, id, k, kTagMouseDrag, element);
  const int32_t second = interact_handler(*handle, id, k, kTagMouseDrag2, element);
  *had_handler = drag != kNoHandler || second != kNoHandler;
  int status = kHandlerBusy;
  if (drag != kNoHandler) status = interact_run_handler(handle, id, drag, k, nullptr, 0, nullptr);
  if (status == kHandlerBusy && second != kNoHandler)
    status = interact_run_handler(handle, id, second, k, nullptr, 0, nullptr);
  return *had_handler ? status : 0;
}
