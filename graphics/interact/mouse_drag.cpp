// One mouse move with the button held, by interaction case: the drag
// handlers (with drag-out and drop between subplots, and the legend), zoom
// bands, dragging of limits, frame moves in grid and free layout, and the
// camera cases. Bands and outlines are self-inverting: erased, then drawn.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/core/status.h"
#include "graphics/interact/hit_test.h"
#include "graphics/interact/interaction_internal.h"
#include "graphics/subplot/subplot_view.h"
#include "runtime/figure_draw.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"

namespace {

constexpr uint32_t kOptLegendLeft = 0x40000, kOptLegendBottom = 0x80000;
constexpr uint32_t kCapNoFrameMoves = 1u << 4;
constexpr uint32_t kFlagKeepDropState = 4;  // the block's flag word: the drop handler sees its own hit
constexpr uint32_t kDraggedElementBits = 0x381b;  // x, y, x0, y0, id, nb, ix
constexpr double kPanPerDegree = 0.06;

bool in_frame(const Subplot& s, double x, double y) {
  return std::min(s.frameLeft, s.frameRight) <= x && x < std::max(s.frameLeft, s.frameRight) &&
         std::min(s.frameTop, s.frameBottom) <= y && y < std::max(s.frameTop, s.frameBottom);
}

// The subplots a change applies to: the active one, then the moving set.
template <class Fn>
void for_each_moving(RuntimeBlock* b, InstanceRec* rec, Fn fn) {
  const int32_t k = b->h.interaction.active;
  fn(k);
  const uint32_t others = b->h.interaction.moving & ~(1u << k);
  for (int32_t j = 0; j < interact_cells(rec); ++j)
    if ((others >> j) & 1) fn(j);
}

int legend_drag(RuntimeBlock* b, Subplot* s, double x, double y) {
  const ManipState& m = b->h.manip;
  const bool left = x + m.dx < (s->frameLeft + s->frameRight) / 2;
  const double centre = (s->frameTop + s->frameBottom) / 2, py = y + m.dy;
  const bool bottom = s->frameBottom >= s->frameTop ? py > centre : py < centre;
  const uint32_t corner = (left ? kOptLegendLeft : 0u) | (bottom ? kOptLegendBottom : 0u);
  if ((s->optionFlags & (kOptLegendLeft | kOptLegendBottom)) == corner) return 0;
  s->optionFlags = (s->optionFlags & ~(kOptLegendLeft | kOptLegendBottom)) | corner;
  return kRtHandledRedraw;
}

// Drag-out and drop: the pointer left the pressed subplot for one with a
// drop handler for the dragged element. Answers -1 when nothing happened.
int drag_to_other(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  const int32_t k = b->h.interaction.active;
  InstanceRec* rec = inst_find_by_id(b, id);
  const int32_t element = interact_element(b->h.manip);
  if (in_frame(rec->subplots[k], x, y)) return -1;
  const int32_t out = interact_handler(b, id, k, kTagMouseDragOut, element);
  const int32_t j = interact_subplot_at(rec, x, y, false);
  if (out == kNoHandler || j < 0 || j == k) return -1;
  const int32_t drop = interact_handler(b, id, j, kTagMouseDrop, element);
  ManipState scratch;
  if (drop == kNoHandler || !interact_hit_test(b, id, j, x, y, modifier, &scratch)) return -1;
  interact_drop_row(b, id);
  int status = interact_run_handler(handle, id, out, k, nullptr, 0, nullptr);
  if (status != 0) return interact_fail(*handle, id, status);
  b = *handle;
  const ManipState old = b->h.manip;
  if (!(b->h.flag_byte & kFlagKeepDropState)) {
    ManipState next = scratch;
    next.x = old.x, next.y = old.y, next.x0 = old.x0, next.y0 = old.y0;
    next.id = old.id, next.nb = old.nb, next.ix = old.ix;
    next.valid = (scratch.valid & ~kDraggedElementBits) | (old.valid & kDraggedElementBits);
    b->h.manip = next;
  }
  b->h.interaction_target = j;
  status = interact_run_handler(handle, id, drop, j, nullptr, 0, nullptr);
  b = *handle;
  interact_push_row(b, id);
  if (status != 0) {
    b->h.manip = old;
    return interact_fail(b, id, status);
  }
  b->h.interaction.active = j;
  return interact_redraw(handle, id, kRtHandledRedraw);
}

int move_manipulate(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  Subplot* s = &rec->subplots[b->h.interaction.active];
  ManipState& m = b->h.manip;
  if (m.valid & kManipLegend) return legend_drag(b, s, x, y);
  if (interact_text_scrollable(s) && interact_element(m) < 0) {
    const double anchor = b->h.interaction.anchor_y;
    interact_set_text_scroll(s, s->frameBottom <= s->frameTop ? y - anchor : anchor - y);
    return kRtHandledRedraw;
  }
  m.px = x, m.py = y;
  if (s->hasContent) {
    subplot_pixel_to_point(s, x, y, &m.x1, &m.y1);
    m.valid |= kManipX1 | kManipY1;
  }
  m.valid = modifier ? m.valid | kManipFlag : m.valid & ~uint32_t(kManipFlag);
  if (interact_figure_only(b, id)) {
    TN_TRY(interact_redraw(handle, id, 0));
    b = *handle;
    interact_hit_test(b, id, b->h.interaction.active, x, y, modifier);
    return kRtHandledRedraw;
  }
  const int dropped = drag_to_other(handle, id, x, y, modifier);
  if (dropped != -1) return dropped;
  return interact_manipulate_step(handle, id, false, x, y, modifier);
}

int move_zoom(RuntimeBlock* b, int32_t id, bool x_only, double x, double y, uint8_t modifier) {
  InteractionState& st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  Subplot* s = &rec->subplots[st.active];
  if (x_only && (s->scaleFlags & kScaleEqualAspect)) {
    st.active = kNoSubplot;
    return kRtNoInteraction;
  }
  if ((!x_only && s->is3D) || modifier) {
    // The zoom out happens at the release, about the point where it is.
    st.anchor_x = x;
    if (!x_only) st.anchor_y = y;
    return 0;
  }
  subplot_clamp_to_frame(s, &x, &y);
  const double top = s->frameTop, bottom = s->frameBottom;
  const double y1 = x_only ? top : st.anchor_y, y2 = x_only ? bottom : y;
  const double old_y1 = x_only ? top : st.anchor_y, old_y2 = x_only ? bottom : st.current_y;
  for_each_moving(b, rec, [&](int32_t j) {
    if (b->h.band_drawn) interact_band(b, rec, st.active, j, st.anchor_x, old_y1, st.current_x, old_y2);
    interact_band(b, rec, st.active, j, st.anchor_x, y1, x, y2);
  });
  b->h.band_drawn = interact_has_focus_rect(b) ? 1 : 0;
  st.current_x = x;
  st.current_y = x_only ? 0.0 : y;
  return interact_has_focus_rect(b) ? 0 : int(kRtHandledRedraw);
}

// Drags and camera moves change the view at every move, and a drag under
// the middle button never sees its release: the history row is pushed at
// the first change, and after each move it holds the view shown, so that
// redo draws the view the drag left whether or not the release comes.
void open_view_row(RuntimeBlock* b, int32_t id) {
  if (!b->h.interaction.row_pushed) interact_push_row(b, id);
}

int store_view_row(RuntimeBlock** handle, int32_t id, int status) {
  RuntimeBlock* b = *handle;
  if (status != kRtHandledRedraw || !b->h.interaction.row_pushed) return status;
  const int stored = inst_layout_to_array(b, id);
  return stored != 0 ? stored : status;
}

int move_drag(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  subplot_clamp_to_frame(&rec->subplots[st.active], &x, &y);
  const double dx = x - st.anchor_x, dy = y - st.anchor_y;
  // A move that goes nowhere (held at the frame's edge, or a click) leaves
  // the axes as they were, unlocked ones unlocked: no undo step for it.
  if (dx == 0 && (modifier || dy == 0)) return 0;
  open_view_row(b, id);
  for_each_moving(b, rec, [&](int32_t j) {
    if (modifier) subplot_drag_x_by(&rec->subplots[j], dx);
    else subplot_drag_by(&rec->subplots[j], dx, dy);
  });
  st.anchor_x = x, st.anchor_y = y;
  return store_view_row(handle, id, interact_redraw(handle, id, kRtHandledRedraw));
}

int move_camera(RuntimeBlock** handle, int32_t id, int32_t c, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  Subplot* s = &inst_find_by_id(b, id)->subplots[st.active];
  const double cx = (s->frameLeft + s->frameRight) / 2, cy = (s->frameTop + s->frameBottom) / 2;
  const bool y_up = !(s->yScale < 0);
  double dx = (x - st.anchor_x) * (std::numbers::pi / 2), dy = (y - st.anchor_y) * (std::numbers::pi / 2);
  if (y_up) dy = -dy;
  subplot_scale_by_half_size(s, &dx, &dy);
  open_view_row(b, id);
  switch (c) {
    case kCaseOrbit: subplot_camorbit(s, -dx, dy); break;
    case kCasePan: {
      const double angle = subplot_view_angle(s), k = angle > 0 ? kPanPerDegree / angle : kPanPerDegree;
      subplot_campan(s, k * dx, -k * dy);
      break;
    }
    case kCaseRoll:
      subplot_camroll(s, std::atan2(y - cy, x - cx) - std::atan2(st.anchor_y - cy, st.anchor_x - cx));
      break;
    case kCaseDollyLateral:
      subplot_camera_move(s, st.anchor_x - x, y_up ? y - st.anchor_y : st.anchor_y - y, 0, 0);
      break;
    default: {
      const double d = std::hypot(x - cx, y - cy);
      const double w = std::hypot(s->frameRight - s->frameLeft, s->frameBottom - s->frameTop);
      const double distance = subplot_camera_distance(s);
      if (w > 0 && distance > 0 && std::isfinite(distance))
        subplot_camera_move(s, 0, 0, (d - st.anchor_y) * 2 * st.anchor_x * s->xScale / distance / w, modifier);
      st.anchor_y = d;
      return store_view_row(handle, id, interact_redraw(handle, id, kRtHandledRedraw));
    }
  }
  st.anchor_x = x, st.anchor_y = y;
  return store_view_row(handle, id, interact_redraw(handle, id, kRtHandledRedraw));
}

// The outline of the selected frames, shifted by the frame-move offset.
void draw_outline(RuntimeBlock* b, int32_t id, bool on) {
  InstanceRec* rec = inst_find_by_id(b, id);
  for (int32_t j = 0; j < interact_cells(rec); ++j)
    if ((rec->selection >> j) & 1) inst_draw_subplot(b, id, j, on);
}

double snap(double p, double step) { return step > 0 ? std::floor(p / step + 0.5) * step : p; }

// Free layout: the selected frames move by the pointer's displacement, or
// the two edges of the grabbed corner do; edges land on the grid step.
int move_free_frames(RuntimeBlock** handle, int32_t id, double x, double y) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  const double dx = x - st.current_x, dy = y - st.current_y;
  const double gx = b->h.driver ? b->h.driver->values.gridStepX : 0.0;
  const double gy = b->h.driver ? b->h.driver->values.gridStepY : 0.0;
  const int32_t part = st.frame_part;
  for (int32_t j = 0; j < interact_cells(rec); ++j) {
    if (!((rec->selection >> j) & 1)) continue;
    Subplot& s = rec->subplots[j];
    double l = s.rectLeft, r = s.rectRight, t = s.rectTop, bo = s.rectBottom;
    if (part == 0) {
      const double w = r - l, h = bo - t;
      l = snap(l + dx, gx), t = snap(t + dy, gy);
      r = l + w, bo = t + h;
    } else {
      double min_w = 0, min_h = 0;
      subplot_margin_size(&s, &min_w, &min_h);
      const bool down = bo >= t;  // the vertical extent grows downward
      if (part == 1 || part == 3) l = std::min(snap(l + dx, gx), r - min_w);
      else r = std::max(l + snap(r + dx - l, gx), l + min_w);
      if (part == 1 || part == 2) {
        t = snap(t + dy, gy);
        t = down ? std::min(t, bo - min_h) : std::max(t, bo + min_h);
      } else {
        bo = t + snap(bo + dy - t, gy);
        bo = down ? std::max(bo, t + min_h) : std::min(bo, t - min_h);
      }
    }
    subplot_set_rect(&s, l, r, t, bo);
  }
  st.current_x = x, st.current_y = y;
  if (part > 0) return interact_redraw(handle, id, kRtHandledRedraw);
  return kRtHandledRedraw;
}

int move_grid_frames(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  const int32_t k = st.active;
  int32_t cell = interact_subplot_at(rec, x, y, true);
  if (cell < 0) cell = k;
  if (cell == b->h.frame_move.target_cell) {
    st.current_x = x, st.current_y = y;
    if (x != st.anchor_x || y != st.anchor_y) {
      b->h.frame_move.offset_x = x - st.anchor_x;
      b->h.frame_move.offset_y = y - st.anchor_y;
      b->h.frame_move.drawn = 1;
      draw_outline(b, id, true);
    }
    return interact_has_focus_rect(b) ? 0 : int(kRtHandledRedraw);
  }
  const int32_t cols = std::max(1, rec->cols), rows = std::max(1, rec->rows);
  int32_t dr = cell / cols - k / cols, dc = cell % cols - k % cols;
  // Clipped so that every selected subplot stays on the grid.
  for (int32_t j = 0; j < interact_cells(rec); ++j) {
    if (!((st.moving >> j) & 1)) continue;
    dr = std::clamp(dr, -(j / cols), rows - 1 - j / cols);
    dc = std::clamp(dc, -(j % cols), cols - 1 - j % cols);
  }
  TN_TRY(interact_move_subplots(b, id, dr, dc, modifier != 0));
  b->h.frame_move.target_cell = cell;
  st.current_x = st.anchor_x, st.current_y = st.anchor_y;
  st.frames_moved = 1;
  return interact_redraw(handle, id, kRtHandledRedraw);
}

int move_frames(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier) {
  RuntimeBlock* b = *handle;
  InteractionState& st = b->h.interaction;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (rec->capabilities & kCapNoFrameMoves) return 0;
  if ((x != st.current_x || y != st.current_y) && b->h.frame_move.drawn) {
    if (interact_has_focus_rect(b)) draw_outline(b, id, false);
    b->h.frame_move.drawn = 0;
  }
  return rec->free_layout ? move_free_frames(handle, id, x, y) : move_grid_frames(handle, id, x, y, modifier);
}

}  // namespace

int interact_drag_case(RuntimeBlock** handle, int32_t id, int32_t c, double x, double y, uint8_t modifier) {
  switch (c) {
    case kCaseManipulate: return move_manipulate(handle, id, x, y, modifier);
    case kCaseZoom: return move_zoom(*handle, id, false, x, y, modifier);
    case kCaseZoomX: return move_zoom(*handle, id, true, x, y, modifier);
    case kCaseDrag: return move_drag(handle, id, x, y, modifier);
    case kCaseSelect: return move_frames(handle, id, x, y, modifier);
    case kCaseOrbit: case kCasePan: case kCaseRoll: case kCaseDollyLateral: case kCaseDollyForward:
      return move_camera(handle, id, c, x, y, modifier);
    default: return 0;
  }
}

int interact_mouse_move(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier, char* text,
                        int32_t text_size, int32_t* text_length) {
  const int idle = inst_idle_step(handle, id, false);
  if (idle != 0 && idle != kRtHandledRedraw) {
    (*handle)->h.interaction.active = kNoSubplot;
    return idle;
  }
  interact_clear_text(text, text_size, text_length);
  RuntimeBlock* b = *handle;
  if (b->h.interaction.active < 0) return kRtNoInteraction;
  if (!interact_move_paced(b)) return kRtNoHandler;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) {
    b->h.interaction.active = kNoSubplot;
    return kRtNonexistentInstance;
  }
  if (rec->focus_record >= 0) return 0;
  const int32_t c = interact_case(b, modifier, &rec->subplots[b->h.interaction.active]);
  return interact_drag_case(handle, id, c, x, y, modifier);
}

// The grid rebuilt from the layout stored at the press: each cell takes the
// selected subplot the offset brings onto it; a cell keeps its own when it
// was not selected or when copying; a vacated cell takes the next subplot
// the selection displaced, in row-major order.
int interact_move_subplots(RuntimeBlock* b, int32_t id, int32_t dr, int32_t dc, bool copy) {
  TN_TRY(inst_apply_stored(b, id));
  InstanceRec* rec = inst_find_by_id(b, id);
  const uint32_t selected = b->h.interaction.moving;
  const int32_t n = interact_cells(rec), cols = std::max(1, rec->cols), rows = std::max(1, rec->rows);
  auto source = [&](int32_t c) {  // the cell whose subplot the offset brings onto c, or -1
    const int32_t r = c / cols - dr, q = c % cols - dc;
    return r >= 0 && r < rows && q >= 0 && q < cols ? r * cols + q : -1;
  };
  auto brought = [&](int32_t c) { const int32_t s = source(c); return s >= 0 && s < n && ((selected >> s) & 1); };
  int32_t displaced[kMaxSubplots], count = 0, next = 0;
  for (int32_t c = 0; c < n; ++c)
    if (!((selected >> c) & 1) && brought(c)) displaced[count++] = c;
  int32_t from[kMaxSubplots];
  uint32_t moved_selection = 0;
  for (int32_t c = 0; c < n; ++c) {
    if (brought(c)) from[c] = source(c), moved_selection |= 1u << c;
    else if (copy || !((selected >> c) & 1) || next >= count) from[c] = c;
    else from[c] = displaced[next++];
  }
  static_assert(sizeof(Subplot) * kMaxSubplots < 32 * 1024, "kept on the stack");
  Subplot before[kMaxSubplots];
  std::memcpy(before, rec->subplots, sizeof before);
  for (int32_t c = 0; c < n; ++c) std::memcpy(&rec->subplots[c], &before[from[c]], sizeof(Subplot));
  rec->selection = moved_selection;
  inst_layout_positions(rec);
  return 0;
}
