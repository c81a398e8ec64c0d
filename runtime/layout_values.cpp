// The layout kept in the value store: value 100 (rows, cols, then per
// subplot its figure, packed flag word, locked ranges and, in free layout,
// its frame) and value 102 (one row of 17 per 3-D subplot), written after
// every layout change and applied back after undo and redo. Values are real
// matrices in the engine's flat form; a stored value is untrusted and is
// applied only when its shape is one this file writes. The locked ranges are
// the view: a zoomed or dragged axis comes back to what it showed, an axis
// stored without one follows its data again.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kFixedWordsPerSubplot = 6;
constexpr int32_t kFreeWordsPerSubplot = 10;
constexpr int32_t kLayoutHeadWords = 2;  // rows, cols
constexpr uint32_t kSelectedBit = 1u << 17;

// {bit of the word, source: 'A' scale flags or 'B' option flags, bit, inverted}
struct FlagBit {
  uint8_t word_bit;
  char source;
  uint8_t bit;
  bool inverted;
};
constexpr FlagBit kFlagBits[] = {
    {0, 'A', 0, false},  {5, 'B', 2, false},   {6, 'A', 1, false},   {7, 'A', 4, false},
    {11, 'B', 6, false}, {12, 'A', 6, false},  {13, 'B', 13, false}, {14, 'B', 14, false},
    {15, 'B', 15, true}, {16, 'B', 16, true},  {18, 'B', 17, false}, {19, 'B', 20, true},
    {20, 'B', 18, false}, {21, 'B', 19, false},
};

// Writes a real rows x cols matrix (row by row) under `key` in the newest row.
int store_matrix(RuntimeBlock* b, int32_t id, int32_t key, int64_t rows, int64_t cols, const double* values) {
  void* data = nullptr;
  const int64_t n = rows * cols;
  TN_TRY(undo_store_put_value(rt_value_store(b), id, 0, key, kFlatHeaderWords + n, &data));
  double* out = static_cast<double*>(data);
  tn::st_f64(out + 0, double(kKindReal));
  tn::st_f64(out + 1, double(rows));
  tn::st_f64(out + 2, double(cols));
  for (int64_t k = 0; k < n; ++k) tn::st_f64(out + kFlatHeaderWords + k, values[k]);
  return 0;
}

// A stored real matrix: its size and values; false for anything else.
bool read_matrix(RuntimeBlock* b, int32_t id, int32_t key, int64_t* rows, int64_t* cols, const double** values) {
  int32_t units = 0;
  void* data = nullptr;
  if (undo_store_get_value(rt_value_store(b), id, 0, key, &units, &data) != 0 || !data) return false;
  if (units < kFlatHeaderWords) return false;
  const double* in = static_cast<const double*>(data);
  const double kind = tn::ld_f64(in), r = tn::ld_f64(in + 1), c = tn::ld_f64(in + 2);
  if (kind != double(kKindReal) || !(r >= 0) || !(c >= 0) || r > units || c > units) return false;
  if (r * c != units - kFlatHeaderWords) return false;
  *rows = int64_t(r), *cols = int64_t(c);
  *values = in + kFlatHeaderWords;
  return true;
}

// The ranges value 100 keeps for a subplot, {x0, x1, y0, y1}: for each
// locked axis the range it shows, 0 and 0 for one that follows its data. A
// 3-D box keeps its limits instead: its pixel map is a projection, not a
// range. The mark of a manipulation under way does not count.
void view_ranges(const Subplot& s, double* r) {
  r[0] = r[1] = r[2] = r[3] = 0.0;
  const bool x = (s.xMode & ~kAxisMark) == kAxisLocked, y = (s.yMode & ~kAxisMark) == kAxisLocked;
  if (s.is3D) {
    if (x) r[0] = s.xMin, r[1] = s.xMax;
    if (y) r[2] = s.yMin, r[3] = s.yMax;
    return;
  }
  if (x) subplot_visible_xrange(&s, r, r + 1);
  if (y) subplot_visible_yrange(&s, r + 2, r + 3);
}

// Gives a subplot the view stored for it: every axis whose stored range
// differs from what it shows now is unlocked, then locked again to a stored
// range that is one (finite, lower below upper). An axis that already shows
// its range keeps its map untouched. The refresh that follows undo and redo
// rescales the unlocked axes from their data.
void apply_view(Subplot* s, bool three_d, const double* r) {
  double now[4];
  view_ranges(*s, now);
  const bool same_kind = (s->is3D != 0) == three_d;
  s->is3D = three_d;
  int32_t* modes[2] = {&s->xMode, &s->yMode};
  double lock[4] = {kEmptyMin, kEmptyMax, kEmptyMin, kEmptyMax};
  bool relock = false;
  for (int a = 0; a < 2; ++a) {
    const double lo = r[2 * a], hi = r[2 * a + 1];
    if (same_kind && now[2 * a] == lo && now[2 * a + 1] == hi) continue;
    if (*modes[a] == kAxisLocked) *modes[a] = kAxisFixed;
    if (std::isfinite(lo) && std::isfinite(hi) && lo < hi) lock[2 * a] = lo, lock[2 * a + 1] = hi, relock = true;
  }
  if (relock) subplot_set_fixed_limits(s, lock[0], lock[1], lock[2], lock[3]);
}

// Whether value `key` is the same in the newest row and the one before.
bool same_as_before(RuntimeBlock* b, int32_t id, int32_t key) {
  int32_t now_units = 0, before_units = 0;
  void* now = nullptr;
  void* before = nullptr;
  if (undo_store_get_value(rt_value_store(b), id, 0, key, &now_units, &now) != 0 ||
      undo_store_get_value(rt_value_store(b), id, 1, key, &before_units, &before) != 0)
    return false;
  if (now_units != before_units || (now == nullptr) != (before == nullptr)) return false;
  return now == before || std::memcmp(now, before, size_t(now_units) * sizeof(double)) == 0;
}

// A record position of the instance's run holding a figure record.
bool figure_index_valid(RuntimeBlock* b, int32_t id, double v) {
  if (v < 0) return v == kEmptyFigure || v == kDefaultFigure;
  int32_t start = 0;
  // A NaN passes neither test above; it must not reach the conversion.
  if (!(v <= 1e9) || v != double(int64_t(v)) || rec_find_instance(b, id, &start) != 0) return false;
  RecordView r;
  // The index must be a record boundary of the run.
  int64_t w = start;
  while (w < start + int64_t(v) && rec_at(b, w, &r)) w += r.length;
  return w == start + int64_t(v) && rec_at(b, w, &r) && r.tag == kTagFigure;
}

// Sets each subplot's parameter again from the stored list, last first,
// through the same setter that handlers use; the first failure ends it.
int apply_parameters(RuntimeBlock* b, int32_t id, int32_t n) {
  if (!undo_store_value_present(rt_value_store(b), id, 0, kKeyParam)) return 0;
  for (int32_t k = n - 1; k >= 0; --k) {
    TN_TRY(inst_store_get_value(b, id, k, false));
    TN_TRY(inst_store_set_value(b, id, k));
  }
  return 0;
}

}  // namespace

uint32_t layout_pack_flags(const Subplot& s, bool selected) {
  uint32_t word = selected ? kSelectedBit : 0;
  for (const FlagBit& f : kFlagBits) {
    const uint32_t from = f.source == 'A' ? s.scaleFlags : s.optionFlags;
    const bool on = ((from >> f.bit) & 1) != f.inverted;
    if (on) word |= 1u << f.word_bit;
  }
  return word;
}

void layout_unpack_flags(uint32_t word, Subplot* s, bool* selected) {
  for (const FlagBit& f : kFlagBits) {
    uint32_t& to = f.source == 'A' ? s->scaleFlags : s->optionFlags;
    const bool on = ((word >> f.word_bit) & 1) != f.inverted;
    to = on ? (to | (1u << f.bit)) : (to & ~(1u << f.bit));
  }
  *selected = (word & kSelectedBit) != 0;
}

void layout_camera_row(const Subplot& s, int32_t k, double* row) {
  const double r[kCameraColumns] = {double(k), double(s.viewFlags), double(s.orthographic), double(s.aspectAuto),
                                    s.camPos[0], s.camPos[1], s.camPos[2], s.camTarget[0], s.camTarget[1],
                                    s.camTarget[2], s.camUp[0], s.camUp[1], s.camUp[2], s.viewAngleFactor,
                                    s.aspect[0], s.aspect[1], s.aspect[2]};
  std::memcpy(row, r, sizeof r);
}

void layout_apply_camera_row(Subplot* s, const double* row) {
  s->viewFlags = uint32_t(row[1]);
  s->orthographic = row[2] != 0;
  s->aspectAuto = row[3] != 0;
  std::memcpy(s->camPos, row + 4, sizeof s->camPos);
  std::memcpy(s->camTarget, row + 7, sizeof s->camTarget);
  std::memcpy(s->camUp, row + 10, sizeof s->camUp);
  s->viewAngleFactor = row[13];
  std::memcpy(s->aspect, row + 14, sizeof s->aspect);
  subplot_update_transform(s);
}

int inst_layout_to_array(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const int32_t n = std::min(std::max(0, rec->rows) * std::max(0, rec->cols), kMaxSubplots);
  const int32_t per = rec->free_layout ? kFreeWordsPerSubplot : kFixedWordsPerSubplot;
  double layout[kLayoutHeadWords + kFreeWordsPerSubplot * kMaxSubplots];
  double* p = layout;
  *p++ = rec->rows;
  *p++ = rec->cols;
  double cameras[kCameraColumns * kMaxSubplots];
  int32_t camera_rows = 0;
  for (int32_t k = 0; k < n; ++k) {
    const Subplot& s = rec->subplots[k];
    // A cell drawn by another cell's handler is shared again by the redraw
    // that follows every restore: stored as its own figure, it would get
    // the plot handler as well and be drawn twice.
    *p++ = inst_own_figure(s);
    *p++ = layout_pack_flags(s, (rec->selection >> k) & 1);
    view_ranges(s, p);
    p += 4;
    if (rec->free_layout) {
      *p++ = s.rectLeft;
      *p++ = s.rectRight;
      *p++ = s.rectTop;
      *p++ = s.rectBottom;
    }
    if (!s.is3D) continue;
    layout_camera_row(s, k, cameras + kCameraColumns * camera_rows++);
  }
  TN_TRY(store_matrix(b, id, kKeyLayout, 1, kLayoutHeadWords + int64_t(per) * n, layout));
  return store_matrix(b, id, kKey3D, camera_rows, kCameraColumns, cameras);
}

int inst_apply_stored(RuntimeBlock* b, int32_t id) {
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  int64_t rows = 0, cols = 0;
  const double* v = nullptr;
  if (!read_matrix(b, id, kKeyLayout, &rows, &cols, &v) || rows != 1 || cols < kLayoutHeadWords) return 0;
  const double r = tn::ld_f64(v), c = tn::ld_f64(v + 1);
  // Each bounded on its own: a huge count times 0 is 0, and the counts are
  // converted to int32 below.
  if (!(r >= 0 && c >= 0 && r <= kMaxSubplots && c <= kMaxSubplots && r * c <= kMaxSubplots)) return 0;
  const int32_t n = int32_t(r) * int32_t(c);
  const int64_t body = cols - kLayoutHeadWords;
  const bool free = n > 0 && body == int64_t(kFreeWordsPerSubplot) * n;
  if (!free && body != int64_t(kFixedWordsPerSubplot) * n) return 0;
  if (free) {
    rec->free_layout = 0;
    TN_TRY(inst_set_grid(b, id, n, 1));
    rec->free_layout = 1;
  } else {
    TN_TRY(inst_set_grid(b, id, int32_t(r), int32_t(c)));
  }
  const int32_t per = free ? kFreeWordsPerSubplot : kFixedWordsPerSubplot;
  // The subplots that were 3-D: those with a camera row.
  const double* cameras = nullptr;
  int64_t camera_rows = 0, camera_cols = 0;
  if (!read_matrix(b, id, kKey3D, &camera_rows, &camera_cols, &cameras) || camera_cols != kCameraColumns)
    camera_rows = 0;
  uint32_t three_d = 0;
  for (int64_t i = 0; i < camera_rows; ++i) {
    const double k = tn::ld_f64(cameras + i * kCameraColumns);
    if (k >= 0 && k < n) three_d |= 1u << int32_t(k);
  }
  uint32_t selection = 0;
  for (int32_t k = 0; k < n; ++k) {
    const double* e = v + kLayoutHeadWords + int64_t(per) * k;
    const double figure = tn::ld_f64(e);
    if (figure_index_valid(b, id, figure)) {
      const int32_t row = free ? k : k / int32_t(c), col = free ? 0 : k % int32_t(c);
      TN_TRY(inst_subplot_assign_unstored(b, id, row, col, int32_t(figure), false));
    }
    Subplot& s = rec->subplots[k];
    const double word = tn::ld_f64(e + 1);
    bool selected = false;
    if (word >= 0 && word <= double(UINT32_MAX)) layout_unpack_flags(uint32_t(word), &s, &selected);
    if (selected) selection |= 1u << k;
    // The frame first: the view's ranges are mapped onto the frame it has.
    if (free) subplot_set_rect(&s, tn::ld_f64(e + 6), tn::ld_f64(e + 7), tn::ld_f64(e + 8), tn::ld_f64(e + 9));
    const double ranges[4] = {tn::ld_f64(e + 2), tn::ld_f64(e + 3), tn::ld_f64(e + 4), tn::ld_f64(e + 5)};
    apply_view(&s, (three_d >> k) & 1, ranges);
  }
  rec->selection = selection;
  for (int64_t i = 0; i < camera_rows; ++i) {
    double row[kCameraColumns];
    for (int32_t j = 0; j < kCameraColumns; ++j) row[j] = tn::ld_f64(cameras + i * kCameraColumns + j);
    if (!(row[0] >= 0 && row[0] < n)) continue;
    if (!(row[1] >= 0 && row[1] <= double(UINT32_MAX))) continue;
    layout_apply_camera_row(&rec->subplots[int32_t(row[0])], row);
  }
  inst_layout_positions(rec);
  return apply_parameters(b, id, n);
}

bool inst_layout_same_as_before(RuntimeBlock* b, int32_t id) {
  return same_as_before(b, id, kKeyLayout) && same_as_before(b, id, kKey3D);
}

int inst_push_view_row(RuntimeBlock* b, int32_t id) {
  TN_TRY(inst_layout_to_array(b, id));
  return inst_push_row(b, id);
}

int inst_push_row(RuntimeBlock* b, int32_t id) {
  ++b->h.history_serial;
  return undo_store_push_row(rt_value_store(b), id);
}

bool inst_row_same_as_before(RuntimeBlock* b, int32_t id) {
  int32_t code = 0;
  for (int32_t f = 0; undo_store_get_field(rt_value_store(b), id, f, false, &code) == 0; ++f)
    if (!same_as_before(b, id, code)) return false;
  return undo_store_can_undo(rt_value_store(b), id);
}
