// Grid and free layout of an instance's subplots: changing the grid (cells
// keep their row and column), positions in the figure frame, the spring rule
// for free frames, figure assignment and handler resolution, selection and
// the switches on the target subplots. Grid arithmetic divides by rows and
// columns clamped to at least 1; a grid of 0 rows has no subplots.
#include "runtime/layout.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "graphics/subplot/autoscale.h"
#include "runtime/figure_draw.h"
#include "runtime/plot_lists.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr double kRigidSprings[kSpringsPerDirection] = {1.0, 1.0, 0.0};
// The smallest spring weighed by (1 - q) / q; a spring of 0 takes the change.
constexpr double kSoftestSpring = 1e-12;
// Offset of a subplot appended in free layout, in pixels.
constexpr double kAppendStep = 20.0;
constexpr uint32_t kCapSelectAllBit = 1u << 3;  // capability kind 9
constexpr uint32_t kCapScaleFormsBit = 1u << 4; // capability kind 8
constexpr uint32_t kScaleFormBits = 0x1F8000;   // bits 15 to 20
constexpr uint32_t kScaleOneOrEight[2][2] = {{kScaleLogX, kScaleDbX}, {kScaleLogY, kScaleDbY}};

int32_t cells(const InstanceRec* rec) { return std::max(0, rec->rows) * std::max(0, rec->cols); }

// Before a layout change: the layout as it is goes into the current row,
// then the change's row is pushed. Right after a start or a reset the
// current row holds no layout yet, and undo would have nothing to go back to.
int push_row(RuntimeBlock* b, int32_t id) { return inst_push_view_row(b, id); }

// Text of the figure record at run position `figure`.
bool figure_text(RuntimeBlock* b, int32_t id, int32_t figure, const char** text, int32_t* length) {
  int32_t start = 0;
  if (rec_find_instance(b, id, &start) != 0) return false;
  RecordView r;
  return rec_at(b, int64_t(start) + figure, &r) && r.tag == kTagFigure && rec_text(r, 0, text, length);
}

template <typename F>
void each_target(InstanceRec* rec, F f) {
  const uint32_t t = inst_targets(rec);
  for (int32_t k = 0; k < kMaxSubplots; ++k)
    if (t & (1u << k)) f(rec->subplots[k]);
}

int set_view_flag(RuntimeBlock* b, int32_t id, uint32_t bit, bool on) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  TN_TRY(push_row(b, id));
  each_target(rec, [&](Subplot& s) { s.viewFlags = on ? (s.viewFlags | bit) : (s.viewFlags & ~bit); });
  return inst_layout_to_array(b, id);
}

}  // namespace

void inst_reset_subplot_slot(Subplot* s) {
  subplot_init_defaults(s);
  for (int32_t& w : s->handlerWords) w = kNoHandler;
  s->handlerWords[kSubplotFigureWord] = kEmptyFigure;
}

int inst_set_grid(RuntimeBlock* b, int32_t id, int32_t r, int32_t c) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  r = std::max(0, r);
  c = std::max(0, c);
  if (!rec->free_layout && r == rec->rows && c == rec->cols) return 0;
  const int32_t max = std::clamp(rec->max_subplots, 1, kMaxSubplots);
  while (int64_t(r) * c > max) (c > r ? c : r)--;
  const int32_t old_r = std::max(0, rec->rows), old_c = std::max(0, rec->cols);
  const int32_t old_n = std::min(cells(rec), kMaxSubplots);
  // The old subplots are copied out first, so no cell is overwritten before
  // it has moved (the same as copying backward when the columns grow).
  static_assert(sizeof(Subplot) * kMaxSubplots < 32768, "copy on the stack");
  Subplot old[kMaxSubplots];
  double old_springs[kMaxSubplots][kSpringValues];
  std::memcpy(old, rec->subplots, sizeof old);
  std::memcpy(old_springs, rec->springs, sizeof old_springs);
  bool used[kMaxSubplots] = {};
  const bool shrinks = r < old_r || c < old_c;
  if ((rec->selection != 0 && shrinks) || rec->free_layout) {
    int32_t kept = 0;
    for (int32_t k = 0; k < old_n; ++k) {
      const bool keep = rec->selection == 0 ? rec->free_layout != 0 : (rec->selection >> k) & 1;
      if (!keep || kept >= r * c) continue;
      rec->subplots[kept] = old[k];
      std::memcpy(rec->springs[kept], old_springs[k], sizeof old_springs[k]);
      used[kept++] = true;
    }
    rec->free_layout = 0;
  } else {
    for (int32_t row = 0; row < std::min(r, old_r); ++row)
      for (int32_t col = 0; col < std::min(c, old_c); ++col) {
        rec->subplots[row * c + col] = old[row * old_c + col];
        used[row * c + col] = true;
      }
  }
  for (int32_t k = 0; k < kMaxSubplots; ++k)
    if (!used[k]) inst_reset_subplot_slot(&rec->subplots[k]);
  rec->rows = r;
  rec->cols = c;
  b->h.interaction_word = 0;
  rec->selection = 0;
  inst_layout_positions(rec);
  return 0;
}

void inst_get_grid(RuntimeBlock* b, int32_t id, int32_t* rows, int32_t* cols) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  *rows = rec ? rec->rows : 0;
  *cols = rec ? rec->cols : 0;
}

void inst_layout_positions(InstanceRec* rec) {
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  if (rec->free_layout) {
    for (int32_t k = 0; k < n; ++k) {
      Subplot& s = rec->subplots[k];
      subplot_set_rect(&s, s.rectLeft, s.rectRight, s.rectTop, s.rectBottom);
    }
    return;
  }
  const double left = rec->frame[0], right = rec->frame[1], top = rec->frame[2], bottom = rec->frame[3];
  const int32_t r = std::max(1, rec->rows), c = std::max(1, rec->cols);
  const double w = (right - left) / c, h = std::fabs(top - bottom) / r;
  const double down = top <= bottom ? 1.0 : -1.0;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t i = k / c, j = k % c;
    subplot_set_rect(&rec->subplots[k], left + j * w, left + (j + 1) * w, top + down * i * h,
                     top + down * (i + 1) * h);
  }
}

int inst_free_layout(RuntimeBlock* b, int32_t id, bool rigid) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  TN_TRY(push_row(b, id));
  TN_TRY(inst_layout_to_free(b, id));
  for (auto& springs : rec->springs)
    for (int32_t k = 0; k < kSpringValues; ++k)
      springs[k] = rigid ? kRigidSprings[k % kSpringsPerDirection] : kSpringDefault;
  return inst_layout_to_array(b, id);
}

int inst_layout_to_free(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  rec->rows = cells(rec);
  rec->cols = 1;
  rec->free_layout = 1;
  rec->pending_frames = 0;  // the grid's cells: proportions of the frame
  return 0;
}

int inst_to_free_layout(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  int32_t kept = 0;
  for (int32_t k = 0; k < n; ++k) {
    const bool selected = (rec->selection >> k) & 1;
    const bool last_chance = k == n - 1 && kept == 0;
    if (selected && !last_chance) continue;
    if (kept != k) {
      rec->subplots[kept] = rec->subplots[k];
      std::memcpy(rec->springs[kept], rec->springs[k], sizeof rec->springs[k]);
    }
    if (selected) rec->subplots[kept].handlerWords[kSubplotFigureWord] = kEmptyFigure;
    ++kept;
  }
  rec->rows = kept;
  rec->cols = 1;
  rec->free_layout = 1;
  rec->selection = 0;
  return 0;
}

void spring_move(double origin, double extent, double origin2, double extent2, double a, double b,
                 const double* q, double* near_out, double* far_out) {
  const double m[3] = {a, b - a, extent - b};
  double e[3];
  for (int k = 0; k < 3; ++k) {
    const double v = std::clamp(q[k], kSoftestSpring, 1.0);
    e[k] = (1.0 - v) / v;
  }
  const double sum = m[0] * e[0] + m[1] * e[1] + m[2] * e[2];
  double f1 = sum == 0.0 ? 0.0 : m[0] * e[0] / sum;
  double f12 = sum == 0.0 ? 1.0 : (m[0] * e[0] + m[1] * e[1]) / sum;
  if (q[kSpringNear] <= 0.0) f1 = 1.0;
  if (q[kSpringNear] >= 1.0) f1 = 0.0;
  if (q[kSpringFar] <= 0.0) f12 = 0.0;
  if (q[kSpringFar] >= 1.0) f12 = 1.0;
  (void)origin;
  const double change = extent2 - extent;
  *near_out = origin2 + a + f1 * change;
  *far_out = origin2 + b + f12 * change;
}

namespace {

// Moves every free frame from the old figure rectangle to the new one.
void move_free_frames(InstanceRec* rec, double l, double w, double t, double h, double l2, double w2, double t2,
                      double h2) {
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  for (int32_t k = 0; k < n; ++k) {
    Subplot& s = rec->subplots[k];
    double nl, nr, nt, nb;
    spring_move(l, w, l2, w2, s.rectLeft - l, s.rectRight - l, rec->springs[k], &nl, &nr);
    spring_move(t, h, t2, h2, s.rectTop - t, s.rectBottom - t, rec->springs[k] + kSpringsPerDirection, &nt, &nb);
    subplot_set_rect(&s, nl, nr, nt, nb);
  }
}

// Each cell's frame taken from the frame's corner to (left, top), its
// distances from the corner scaled by sx and sy.
void scale_frames(InstanceRec* rec, double left, double top, double sx, double sy) {
  const double* f = rec->frame;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  for (int32_t k = 0; k < n; ++k) {
    Subplot& s = rec->subplots[k];
    subplot_set_rect(&s, left + (s.rectLeft - f[0]) * sx, left + (s.rectRight - f[0]) * sx,
                     top + (s.rectTop - f[2]) * sy, top + (s.rectBottom - f[2]) * sy);
  }
}

// The figure's first rectangle after frames were set before it had one
// (the builder lays an image out against the reset frame): each frame goes
// where a reset in that rectangle would have put it, for the springs take
// over only from a layout the user has seen. Frames in pixels keep their
// place from the corner; frames for a design size are converted as a reset
// converts them, with the default springs; frames from the grid are
// proportions of the reset frame.
void place_pending_frames(InstanceRec* rec, double l2, double w2, double t2, double h2) {
  const double* f = rec->frame;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  if (rec->pending_frames == kFramesForDesign) {
    double springs[kMaxSubplots][kSpringValues];
    std::memcpy(springs, rec->springs, sizeof springs);
    for (int32_t k = 0; k < n; ++k) std::fill(rec->springs[k], rec->springs[k] + kSpringValues, kSpringDefault);
    move_free_frames(rec, f[0], f[1] - f[0], f[2], f[3] - f[2], l2, w2, t2, h2);
    std::memcpy(rec->springs, springs, sizeof springs);
    return;
  }
  const bool pixels = rec->pending_frames == kFramesInPixels;
  scale_frames(rec, l2, t2, pixels ? 1.0 : w2 / (f[1] - f[0]), pixels ? 1.0 : h2 / (f[3] - f[2]));
}

}  // namespace

int inst_layout_in_rect(RuntimeBlock* b, int32_t id, double left, double right, double top, double bottom) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->free_layout) {
    const double* f = rec->frame;
    if (rec->pending_frames == kFramesForDesign || inst_frame_is_reset(rec))
      place_pending_frames(rec, left, right - left, top, bottom - top);
    else
      move_free_frames(rec, f[0], f[1] - f[0], f[2], f[3] - f[2], left, right - left, top, bottom - top);
  }
  rec->frame[0] = left;
  rec->frame[1] = right;
  rec->frame[2] = top;
  rec->frame[3] = bottom;
  if (!inst_frame_is_reset(rec)) rec->pending_frames = 0;
  inst_layout_positions(rec);
  return 0;
}

int inst_layout_from_design_size(RuntimeBlock* b, int32_t id, double width, double height) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const double* f = rec->frame;
  const double w = f[1] - f[0], h = f[3] - f[2];
  if (!rec->free_layout || (w == width && h == height)) return 0;
  if (inst_frame_is_reset(rec)) {
    // No rectangle yet: the frame becomes the design's, the frames in it
    // are those of the design, and the first rectangle converts them.
    const bool pixels = rec->pending_frames == kFramesInPixels;
    scale_frames(rec, f[0], f[2], pixels ? 1.0 : width / w, pixels ? 1.0 : height / h);
    rec->frame[1] = f[0] + width;
    rec->frame[3] = f[2] + height;
    rec->pending_frames = kFramesForDesign;
  } else {
    move_free_frames(rec, f[0], width, f[2], height, f[0], w, f[2], h);
  }
  inst_layout_positions(rec);
  return 0;
}

void inst_frames_keep(RuntimeBlock* b, int32_t id, FigureFrames* out) {
  *out = FigureFrames{};
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return;
  out->kept = true;
  out->free_layout = rec->free_layout;
  out->rows = rec->rows, out->cols = rec->cols, out->pending = rec->pending_frames;
  std::memcpy(out->frame, rec->frame, sizeof out->frame);
  for (int32_t k = 0; k < std::min(cells(rec), kMaxSubplots); ++k) {
    const Subplot& s = rec->subplots[k];
    FigureFrames::Cell& c = out->cells[k];
    subplot_get_rect(&s, &c.rect[0], &c.rect[1], &c.rect[2], &c.rect[3]);
    c.margins[0] = s.marginLeft, c.margins[1] = s.marginRight, c.margins[2] = s.marginTop;
    c.margins[3] = s.marginBottom;
    c.charWidth = s.charWidth, c.lineHeight = s.lineHeight;
  }
}

void inst_frames_give_back(RuntimeBlock* b, int32_t id, const FigureFrames& kept) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!kept.kept || !rec || rec->free_layout != kept.free_layout || rec->rows != kept.rows || rec->cols != kept.cols)
    return;
  std::memcpy(rec->frame, kept.frame, sizeof rec->frame);
  rec->pending_frames = kept.pending;
  for (int32_t k = 0; k < std::min(cells(rec), kMaxSubplots); ++k) {
    Subplot& s = rec->subplots[k];
    const FigureFrames::Cell& c = kept.cells[k];
    s.marginLeft = c.margins[0], s.marginRight = c.margins[1], s.marginTop = c.margins[2];
    s.marginBottom = c.margins[3];
    s.charWidth = c.charWidth, s.lineHeight = c.lineHeight;
    // Through subplot_set_rect, so that a locked axis holds its range.
    subplot_set_rect(&s, c.rect[0], c.rect[1], c.rect[2], c.rect[3]);
  }
}

void inst_invalidate_subplots(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return;
  for (int32_t k = 0; k < std::min(cells(rec), kMaxSubplots); ++k) subplot_invalidate(&rec->subplots[k]);
}

int inst_layout_compact(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (!rec->free_layout) return 0;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  // A stable partition: unselected first, selected after, each in order.
  Subplot sorted[kMaxSubplots];
  double springs[kMaxSubplots][kSpringValues];
  uint32_t selection = 0;
  int32_t at = 0;
  for (int pass = 0; pass < 2; ++pass)
    for (int32_t k = 0; k < n; ++k) {
      const bool selected = (rec->selection >> k) & 1;
      if (selected != (pass == 1)) continue;
      sorted[at] = rec->subplots[k];
      std::memcpy(springs[at], rec->springs[k], sizeof springs[at]);
      if (selected) selection |= 1u << at;
      ++at;
    }
  std::memcpy(rec->subplots, sorted, sizeof(Subplot) * size_t(n));
  std::memcpy(rec->springs, springs, sizeof springs[0] * size_t(n));
  rec->selection = selection;
  return 0;
}

int inst_subplot_resolve(RuntimeBlock* b, int32_t id, int32_t figure, int32_t element, SubplotHandlers* out) {
  out->plot = kNoHandler;
  for (int32_t& w : out->mouse) w = kNoHandler;
  if (figure < 0) return 0;
  int32_t start = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  RecordView r;
  if (!rec_at(b, int64_t(start) + figure, &r) || r.tag != kTagFigure) return kRtUndefElement;
  for (int64_t w = int64_t(start) + figure + r.length; rec_at(b, w, &r); w += r.length) {
    if (r.tag == kTagFigure || r.tag == kTagHeader) break;
    const int32_t position = int32_t(w - start);
    if (r.tag == kTagPlot && out->plot == kNoHandler) out->plot = position;
    if (r.tag < kTagMousePress || r.tag > kTagMouseDragOut || r.tag == kTagMouseReserved) continue;
    const int32_t element_id = r.data_words > 0 ? r.data[0] : -1;
    int32_t& slot = out->mouse[r.tag - kTagMousePress];
    if (slot == kNoHandler && (element_id < 0 || element_id == element)) slot = position;
  }
  return 0;
}

bool inst_figure_takes_mouse(RuntimeBlock* b, int32_t id, int32_t figure) {
  int32_t start = 0;
  RecordView r;
  if (figure < 0 || rec_find_instance(b, id, &start) != 0) return false;
  if (!rec_at(b, int64_t(start) + figure, &r) || r.tag != kTagFigure) return false;
  for (int64_t w = int64_t(start) + figure + r.length; rec_at(b, w, &r); w += r.length) {
    if (r.tag == kTagFigure || r.tag == kTagHeader) break;
    if (r.tag >= kTagMousePress && r.tag <= kTagMouseDragOut && r.tag != kTagMouseReserved) return true;
  }
  return false;
}

int inst_subplot_assign_unstored(RuntimeBlock* b, int32_t id, int32_t row, int32_t col, int32_t figure,
                                 bool force) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  uint32_t targets = 0;
  if (row >= 0 && col >= 0) {
    if (row >= rec->rows || col >= rec->cols) return kRtUndefElement;
    targets = 1u << (row * rec->cols + col);
  } else {
    targets = inst_targets(rec);
  }
  for (int32_t k = 0; k < kMaxSubplots; ++k) {
    if (!(targets & (1u << k))) continue;
    Subplot& s = rec->subplots[k];
    if (!force && inst_own_figure(s) == figure) continue;
    SubplotHandlers handlers;
    TN_TRY(inst_subplot_resolve(b, id, figure, -1, &handlers));
    // A new figure starts from a clean subplot: limits, 3-D box and camera,
    // scale and polar state of the last one must not carry over.
    subplot_init(&s, 0);
    s.handlerWords[kSubplotFigureWord] = figure;
    s.handlerWords[kSubplotPlotHandlerWord] = handlers.plot;
    std::memcpy(s.handlerWords + kFirstMouseWord, handlers.mouse, sizeof handlers.mouse);
    const char* text = "";
    int32_t length = 0;
    if (figure >= 0) figure_text(b, id, figure, &text, &length);
    subplot_set_title(&s, text, length);
  }
  inst_layout_positions(rec);
  return 0;
}

int inst_subplot_share(RuntimeBlock* b, int32_t id, int32_t k, int32_t figure) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (figure < 0 || k < 0 || k >= std::min(cells(rec), kMaxSubplots)) return 0;
  Subplot& s = rec->subplots[k];
  if (s.handlerWords[kSubplotPlotHandlerWord] >= 0) return 0;
  SubplotHandlers handlers;
  TN_TRY(inst_subplot_resolve(b, id, figure, -1, &handlers));
  // Only the handler words: the cell's axes, title and plot state are what
  // the drawing handler made them.
  s.handlerWords[kSubplotFigureWord] = figure;
  s.handlerWords[kSubplotPlotHandlerWord] = kPlotByOtherCell;
  std::memcpy(s.handlerWords + kFirstMouseWord, handlers.mouse, sizeof handlers.mouse);
  return 0;
}

int32_t inst_own_figure(const Subplot& s) {
  return s.handlerWords[kSubplotPlotHandlerWord] == kPlotByOtherCell ? kEmptyFigure
                                                                     : s.handlerWords[kSubplotFigureWord];
}

int inst_subplot_assign(RuntimeBlock* b, int32_t id, int32_t row, int32_t col, int32_t figure, bool force) {
  TN_TRY(inst_subplot_assign_unstored(b, id, row, col, figure, force));
  // An initialised instance keeps its subplots' figures in its values, so
  // that undo and redo bring them back.
  const InstanceRec* rec = inst_find_by_id(b, id);
  return rec && rec->initialised ? inst_layout_to_array(b, id) : 0;
}

int inst_set_selection(RuntimeBlock* b, int32_t id, uint32_t mask, bool draw) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const uint32_t before = rec->selection;
  rec->selection = mask & ((1u << kMaxSubplots) - 1);
  const GraphicsDriver* d = b->h.driver;
  if (draw && d) {
    const uint32_t changed = before ^ rec->selection;
    for (int32_t k = 0; k < kMaxSubplots; ++k) {
      const bool on = (rec->selection >> k) & 1;
      // Only a self-inverting mark can be erased; the redraw erases the others.
      if ((changed & (1u << k)) && (on || d->focus_rect)) inst_draw_subplot(b, id, k, on);
    }
  }
  // A driver with a self-inverting mark has drawn the change; others redraw.
  return d && d->focus_rect ? 0 : kRtHandledRedraw;
}

int inst_select_all(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (rec->capabilities & kCapSelectAllBit) return 0;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  return inst_set_selection(b, id, n >= 32 ? ~0u : (1u << n) - 1, true);
}

int32_t inst_current_subplot(RuntimeBlock* b, int32_t id) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return -1;
  if (rec->rows == 1 && rec->cols == 1) return 0;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  const uint32_t sel = rec->selection & (n >= 32 ? ~0u : (1u << n) - 1);
  return std::popcount(sel) == 1 ? std::countr_zero(sel) : -1;
}

bool inst_axes_info(RuntimeBlock* b, int32_t id, double* left, double* right, double* top, double* bottom) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec || cells(rec) == 0) return false;
  const Subplot& first = rec->subplots[0];
  *left = first.rectLeft, *right = first.rectRight, *top = first.rectTop, *bottom = first.rectBottom;
  for (int32_t k = 1; k < std::min(cells(rec), kMaxSubplots); ++k) {
    const Subplot& s = rec->subplots[k];
    *left = std::min(*left, s.rectLeft);
    *right = std::max(*right, s.rectRight);
    *top = std::min(*top, s.rectTop);
    *bottom = std::max(*bottom, s.rectBottom);
  }
  return true;
}

int inst_subplot_frame(RuntimeBlock* b, int32_t id, double* left, double* right, double* top, double* bottom) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const int32_t k = inst_current_subplot(b, id);
  if (k >= 0 && k < cells(rec)) {
    subplot_get_rect(&rec->subplots[k], left, right, top, bottom);
    return 0;
  }
  if (rec->free_layout && inst_axes_info(b, id, left, right, top, bottom)) return 0;
  *left = rec->frame[0], *right = rec->frame[1], *top = rec->frame[2], *bottom = rec->frame[3];
  return 0;
}

uint32_t inst_targets(const InstanceRec* rec) {
  if (rec->rows == 1 && rec->cols == 1) return 1;
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  return rec->selection & (n >= 32 ? ~0u : (1u << n) - 1);
}

int inst_scale_flags_get(RuntimeBlock* b, int32_t id, uint32_t* common, uint32_t* allowed, uint32_t* mixed) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  bool first = true;
  uint32_t c = 0, a = 0, m = 0;
  each_target(rec, [&](Subplot& s) {
    if (!first) m |= c ^ s.scaleFlags;
    c = first ? s.scaleFlags : (c & s.scaleFlags);
    a |= subplot_get_capabilities(&s);
    first = false;
  });
  if (rec->capabilities & kCapScaleFormsBit) a &= ~kScaleFormBits;
  *common = c, *allowed = a, *mixed = m;
  return 0;
}

int inst_scale_flags_store(RuntimeBlock* b, int32_t id, uint32_t mask, uint32_t value) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  TN_TRY(push_row(b, id));
  each_target(rec, [&](Subplot& s) {
    uint32_t v = value;
    for (const auto& pair : kScaleOneOrEight)
      if ((v & pair[0]) && (v & pair[1])) v &= ~((s.scaleFlags & pair[0]) ? pair[1] : pair[0]);
    const uint32_t allowed = subplot_get_capabilities(&s) & mask;
    s.scaleFlags = (s.scaleFlags & ~allowed) | (v & allowed);
  });
  return inst_layout_to_array(b, id);
}

int inst_view_switch_store(RuntimeBlock* b, int32_t id, ViewSwitch which, bool on) {
  switch (which) {
    case ViewSwitch::kAutoTarget: return set_view_flag(b, id, kViewAutoTarget, on);
    case ViewSwitch::kAutoViewpoint: return set_view_flag(b, id, kViewAutoPos, on);
    case ViewSwitch::kAutoUpvector: return set_view_flag(b, id, kViewAutoUp, on);
    case ViewSwitch::kPerspective: break;
  }
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  TN_TRY(push_row(b, id));
  each_target(rec, [&](Subplot& s) { s.orthographic = on ? 0 : 1; });
  return inst_layout_to_array(b, id);
}

int inst_set_current_subplot_store(RuntimeBlock* b, int32_t id, int32_t figure, bool* refresh) {
  *refresh = false;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (figure < 0) {
    if (rec->free_layout) {
      TN_TRY(push_row(b, id));
      TN_TRY(inst_to_free_layout(b, id));
      *refresh = true;
      return inst_layout_to_array(b, id);
    }
    figure = kEmptyFigure;
  }
  // The row is pushed first: the assignment stores the layout in the newest
  // row, and the one before must keep the figures that undo brings back.
  TN_TRY(push_row(b, id));
  const int32_t n = cells(rec);
  if (figure >= 0 && rec->free_layout && rec->selection == 0 && n < std::min(rec->max_subplots, kMaxSubplots)) {
    Subplot& added = rec->subplots[n];
    inst_reset_subplot_slot(&added);
    const Subplot& first = rec->subplots[0];
    subplot_set_rect(&added, first.rectLeft + kAppendStep, first.rectRight + kAppendStep,
                     first.rectTop + kAppendStep, first.rectBottom + kAppendStep);
    for (double& q : rec->springs[n]) q = kSpringDefault;
    rec->rows = n + 1;
    rec->cols = 1;
    rec->selection = 1u << n;
  }
  if (const int status = inst_subplot_assign(b, id, -1, -1, figure, true); status != 0) {
    undo_store_drop_last_row(rt_value_store(b), id);
    return status;
  }
  TN_TRY(inst_layout_to_array(b, id));
  // A lone subplot without a plot handler shows nothing: its list goes.
  if (rec->rows == 1 && rec->cols == 1 && rec->subplots[0].handlerWords[kSubplotPlotHandlerWord] < 0)
    plotstore_free_subplot(b, id);
  else
    *refresh = true;
  return 0;
}

int inst_subplot_props_get(RuntimeBlock* b, int32_t id, uint32_t* common, uint32_t* allowed, uint32_t* mixed) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  bool first = true;
  uint32_t c = 0, a = 0, m = 0;
  each_target(rec, [&](Subplot& s) {
    const uint32_t v = subplot_get_option_flags(&s);
    if (!first) m |= c ^ v;
    c = first ? v : (c & v);
    a |= subplot_get_capabilities(&s);
    first = false;
  });
  *common = c, *allowed = a, *mixed = m;
  return 0;
}

int inst_subplot_props_set(RuntimeBlock* b, int32_t id, uint32_t mask, uint32_t value) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  TN_TRY(push_row(b, id));
  each_target(rec, [&](Subplot& s) { subplot_set_option_flags(&s, value, mask & subplot_get_capabilities(&s)); });
  return inst_layout_to_array(b, id);
}

int inst_subplot_query(RuntimeBlock* b, int32_t id, bool* locked, bool* mixed) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  int seen = 0, held = 0;
  each_target(rec, [&](Subplot& s) {
    if (!s.hasContent) return;
    ++seen;
    held += subplot_is_scale_locked(&s);
  });
  *locked = seen > 0 && held == seen;
  *mixed = held > 0 && held < seen;
  return 0;
}

bool inst_selection_has_plot(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return false;
  bool any = false;
  each_target(rec, [&](Subplot& s) { any |= s.hasContent != 0; });
  return any;
}

bool inst_layout_is_default(RuntimeBlock* b, int32_t id, bool* absolute, bool* relative) {
  *absolute = *relative = false;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec || !rec->free_layout) return false;
  bool all_rigid = true, all_relative = true;
  for (int32_t k = 0; k < std::min(cells(rec), kMaxSubplots); ++k)
    for (int32_t v = 0; v < kSpringValues; ++v) {
      all_rigid &= rec->springs[k][v] == kRigidSprings[v % kSpringsPerDirection];
      all_relative &= rec->springs[k][v] == kSpringDefault;
    }
  *absolute = all_rigid;
  *relative = all_relative;
  return true;
}

bool inst_subplot_options_get(RuntimeBlock* b, int32_t id, uint8_t options[kSubplotOptionBytes]) {
  std::memset(options, 0, kSubplotOptionBytes);
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return false;
  bool first = true, any_3d = false;
  each_target(rec, [&](Subplot& s) {
    any_3d |= subplot_is_3d(&s);
    const bool values[4] = {s.orthographic == 0, (s.viewFlags & kViewAutoTarget) != 0,
                            (s.viewFlags & kViewAutoPos) != 0, (s.viewFlags & kViewAutoUp) != 0};
    for (int k = 0; k < 4; ++k) {
      if (first) options[2 * k + 1] = values[k];
      else if (options[2 * k + 1] != uint8_t(values[k])) options[2 * k] = 1;
    }
    first = false;
  });
  return any_3d;
}
