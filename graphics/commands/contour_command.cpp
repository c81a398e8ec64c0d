// contour and contour3: level curves of a grid as polyline records, traced
// straight into the list's free room (x from the record's data on, y from
// half the room, then moved down behind x). Filled levels close their
// regions; after them a background record and the reordering by enclosed
// area, largest first, so smaller regions are drawn over larger ones.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/contour_commands.h"
#include "graphics/commands/contour_trace.h"
#include "graphics/render/draw_room.h"
#include "graphics/subplot/autoscale.h"

namespace {

constexpr int32_t kDefaultLevels = 7;
constexpr int32_t kMaxCountedLevels = 100;
constexpr int32_t kLevelColours = 7;
// Colour indices by level: black, blue, red, magenta, green, cyan, yellow.
constexpr uint32_t kLevelColourBits[kLevelColours] = {0, 1, 4, 5, 2, 3, 6};
constexpr int32_t kLeastTracePoints = 2;
constexpr int32_t kRectPoints = 4;
constexpr int32_t kRectRecord = kRecHead + 1 + 2 * kRectPoints;
static_assert(kRectRecord == 15);

// The levels of one command: given values, or N counted between zmin and
// zmax (strictly inside them).
struct Levels {
  const double* given = nullptr;
  int32_t count = 0;
  double zmin = 0, zmax = 0;
  double at(int32_t i) const { return given ? given[i] : zmin + (zmax - zmin) * (i + 1) / (count + 1); }
};

int settle_levels(const MatArg& lv, double zmin, double zmax, bool any_finite, Levels* out) {
  out->zmin = zmin, out->zmax = zmax;
  const int64_t n = lv.given ? int64_t(lv.rows) * lv.cols : 0;
  int32_t counted = 0;
  if (n == 0) {
    counted = kDefaultLevels;
  } else if (n == 1) {
    const double v = lv.re[0];
    counted = v >= 1 ? int32_t(std::min<double>(v, kMaxCountedLevels)) : 0;
  } else if (n == 2 && lv.re[0] == lv.re[1]) {
    out->given = lv.re, out->count = 1;
    return kOk;
  } else {
    if (n > INT32_MAX) return kBadSize;
    out->given = lv.re, out->count = int32_t(n);
    return kOk;
  }
  // Counted levels lie strictly between the smallest and largest finite value.
  out->count = any_finite && zmax > zmin ? counted : 0;
  return kOk;
}

// Shoelace area of a polyline record's points, closed back to the first.
double record_area(const double* rec) {
  int32_t m;
  if (!double_to_count(rec[kRecHead], INT32_MAX, &m) || m < 3) return 0.0;
  const double* x = rec + kRecHead + 1;
  const double* y = x + m;
  double a = 0;
  for (int32_t i = 0; i < m; ++i) {
    const int32_t j = i + 1 == m ? 0 : i + 1;
    a += x[i] * y[j] - x[j] * y[i];
  }
  return std::fabs(a) / 2;
}

struct AreaIndex {
  double area;
  int64_t at;
};

// Reorders the records in [start, used) by decreasing area. The index and
// the copy the records are gathered in take the room they need from a
// drawing room; kPlotOverflow only when that memory cannot be had.
int reorder_by_area(double* data, int32_t start, int32_t used) {
  int64_t records = 0;
  for (int32_t at = start; at < used; at += kRecHead + int32_t(data[at + kPlotRecCount])) ++records;
  if (records < 2) return kOk;
  ScopedDrawRoom room;
  const int64_t index_bytes = int64_t(sizeof(AreaIndex)) * records;
  void* work = draw_room_take(&room.room, kRoomPoints, index_bytes + int64_t(used - start) * int64_t(sizeof(double)));
  if (!work) return kPlotOverflow;
  AreaIndex* index = static_cast<AreaIndex*>(work);
  int64_t k = 0;
  for (int32_t at = start; at < used; at += kRecHead + int32_t(data[at + kPlotRecCount]))
    index[k++] = AreaIndex{record_area(data + at), at};
  std::stable_sort(index, index + records, [](const AreaIndex& a, const AreaIndex& b) { return a.area > b.area; });
  double* copy = reinterpret_cast<double*>(static_cast<char*>(work) + index_bytes);
  int64_t to = 0;
  for (int64_t i = 0; i < records; ++i) {
    const int64_t len = kRecHead + int64_t(data[index[i].at + kPlotRecCount]);
    std::memcpy(copy + to, data + index[i].at, size_t(len) * sizeof(double));
    to += len;
  }
  std::memcpy(data + start, copy, size_t(to) * sizeof(double));
  return kOk;
}

struct Trace {
  double* data;
  int32_t capacity;
  int32_t* used;
  int32_t code;
  bool three_d;
};

// One trace into a record. kPlotOverflow when the list cannot hold a
// header and two points, or the room cut the trace; earlier records stay.
int trace_record(const Trace& t, const ContourGrid& g, double level, bool filled, const ContourStart& st,
                 uint8_t* visited, const StyleSpec& style) {
  const int32_t u = *t.used;
  const int32_t planes = t.three_d ? 3 : 2;
  const int64_t free_after_head = int64_t(t.capacity) - u - kRecHead - 1;
  const int64_t room = free_after_head > 0 ? free_after_head / planes : 0;
  if (room < kLeastTracePoints) return kPlotOverflow;
  double* x = t.data + u + kRecHead + 1;
  double* y = x + room;
  int32_t m = 0;
  TN_TRY(contour_trace_level(g, level, filled, st.r, st.c, st.dir, visited, x, y, int32_t(room), &m));
  std::memmove(x + m, y, size_t(m) * sizeof(double));
  if (t.three_d)
    for (int32_t i = 0; i < m; ++i) x[2 * m + i] = level;
  t.data[u + kRecHead] = m;
  contour_add_segment(t.data, t.used, u + kRecHead + 1 + planes * m, t.code, style);
  return kOk;
}

// The background of filled contours: the rectangle in the style of the
// highest filled level below every value, put in front of the command's
// records.
int put_background(const Trace& t, int32_t start, const ContourGrid& g, const Levels& lv, const StyleArg& style) {
  int32_t best = -1;
  for (int32_t i = 0; i < lv.count; ++i) {
    StyleSpec st;
    style_of(style, i, kLevelColourBits[i % kLevelColours], nullptr, &st);
    if ((st.bits & kStyleBitFill) && lv.at(i) < lv.zmin && (best < 0 || lv.at(i) > lv.at(best))) best = i;
  }
  if (best < 0) return kOk;
  if (int64_t(t.capacity) - *t.used < kRectRecord) return kPlotOverflow;
  std::memmove(t.data + start + kRectRecord, t.data + start, size_t(*t.used - start) * sizeof(double));
  StyleSpec st;
  style_of(style, best, kLevelColourBits[best % kLevelColours], nullptr, &st);
  PlotWriter w{t.data, t.capacity, start};
  plotwriter_begin_record(&w, kCodePolyline, -1, -1, &st, 1 + 2 * kRectPoints);
  for (double v : {double(kRectPoints), g.x1, g.x1, g.x2, g.x2, g.y1, g.y2, g.y2, g.y1}) plotwriter_put(&w, v);
  *t.used += kRectRecord;
  return kOk;
}

}  // namespace

void contour_add_segment(double* data, int32_t* used, int32_t end, int32_t code, const StyleSpec& style) {
  const int32_t at = *used;
  data[at + kPlotRecCode] = code;
  data[at + kPlotRecId] = -1;
  data[at + kPlotRecIndex] = -1;
  data[at + kPlotRecStyle] = style.bits;
  data[at + kPlotRecColour] = pack_colour(style.r, style.g, style.b);
  data[at + kPlotRecCount] = end - at - kRecHead;
  *used = end;
}

// contour(z [, limits [, levels [, style]]]) and contour3 alike.
int contour_compute(EngineContext* ctx, int nargin, Subplot* s, bool three_d, CommandList list) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 4) return kTooManyInputs;
  StyleArg style;
  if (nargin >= 4) TN_TRY(arg_style(ctx, nargin, 3, &style));
  MatArg lv, lim, zm;
  if (nargin >= 3) TN_TRY(arg_matrix(ctx, nargin, 2, &lv));
  if (nargin >= 2) TN_TRY(arg_matrix(ctx, nargin, 1, &lim));
  TN_TRY(arg_matrix(ctx, nargin, 0, &zm));
  const int64_t nlim = lim.given ? int64_t(lim.rows) * lim.cols : 0;
  if (nlim != 0 && nlim != 4) return kBadSize;
  const int32_t R = zm.rows, C = zm.cols;
  ContourGrid g{zm.re, R, C, 1.0, double(C), 1.0, double(R)};
  if (nlim == 4 && lim.re[0] != lim.re[1] && lim.re[2] != lim.re[3])
    g.x1 = lim.re[0], g.x2 = lim.re[1], g.y1 = lim.re[2], g.y2 = lim.re[3];
  int64_t scratch_bytes = 0;
  void* scratch = nullptr;
  TN_TRY(stk_free_space(ctx, &scratch_bytes, &scratch));
  const int64_t cells = int64_t(R) * C;
  if (scratch_bytes < cells) return kDataStackOverflow;
  double zmin = INFINITY, zmax = -INFINITY;
  for (int64_t i = 0; i < cells; ++i)
    if (std::isfinite(zm.re[i])) zmin = std::min(zmin, zm.re[i]), zmax = std::max(zmax, zm.re[i]);
  const bool any_finite = zmin <= zmax;
  Levels levels;
  TN_TRY(settle_levels(lv, zmin, zmax, any_finite, &levels));
  for (int32_t i = 0; i < levels.count; ++i) {
    StyleSpec st;
    TN_TRY(style_of(style, i, kLevelColourBits[i % kLevelColours], nullptr, &st));
  }
  TN_TRY(command_room(list, 0));
  command_open(list, s);
  if (three_d) subplot_set_3d(s, 1);
  {
    const double xs[2] = {g.x1, g.x2}, ys[2] = {g.y1, g.y2};
    double zs[2] = {any_finite ? zmin : 0.0, any_finite ? zmax : 0.0};
    if (levels.given) zs[0] = levels.given[0], zs[1] = levels.given[levels.count - 1];
    subplot_autoscale_to_data(s, xs, ys, three_d ? zs : nullptr, 2);
  }
  const Trace t{list.data, list.capacity, list.used, three_d ? kCodePolyline3 : kCodePolyline, three_d};
  const int32_t start = *list.used;
  bool any_filled = false;
  uint8_t* visited = static_cast<uint8_t*>(scratch);
  if (R >= 2 && C >= 2)
    for (int32_t i = 0; i < levels.count; ++i) {
      StyleSpec st;
      style_of(style, i, kLevelColourBits[i % kLevelColours], nullptr, &st);
      const bool filled = st.bits & kStyleBitFill;
      any_filled = any_filled || filled;
      const double level = levels.at(i);
      std::memset(visited, 0, size_t(cells));
      TN_TRY(contour_for_each_start(g, level, filled, visited, [&](const ContourStart& cs) {
        return trace_record(t, g, level, filled, cs, visited, st);
      }));
    }
  if (any_filled && !three_d && any_finite) {
    TN_TRY(put_background(t, start, g, levels, style));
    TN_TRY(reorder_by_area(list.data, start, *list.used));
  }
  command_done(ctx, nargin);
  return kOk;
}
