// contour and contour3: level curves of a grid as polyline records, traced
// straight into the list's free room (x from the record's data on, y from
// half the room, then moved down behind x). Filled levels close their
// regions, each region one record with its holes; after them a background
// record and the reordering by enclosed area, largest first, so smaller
// regions are drawn over larger ones.
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

// Shoelace area of a polyline record's points, closed back to the first:
// positive when they turn counter-clockwise, 0 for a record of fewer than
// three points.
double signed_area(const double* rec) {
  int32_t m;
  if (!double_to_count(rec[kRecHead], INT32_MAX, &m) || m < 3) return 0.0;
  const double* x = rec + kRecHead + 1;
  const double* y = x + m;
  double a = 0;
  for (int32_t i = 0; i < m; ++i) {
    const int32_t j = i + 1 == m ? 0 : i + 1;
    a += x[i] * y[j] - x[j] * y[i];
  }
  return a / 2;
}

double record_area(const double* rec) { return std::fabs(signed_area(rec)); }

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

// Filled levels. The walk gives the boundaries of the regions at or above
// the level: an outer ring round each region and a ring round each hole in
// it (a dip below the level), every ring its own trace. Painted alone a
// hole would take the region's colour, so each region becomes one record:
// its outer ring, then each hole followed by a step back to the outer
// ring's first point (where the drivers know a join and leave it out of a
// fill's outline). The steps to a hole and back cancel, so an odd-even
// fill leaves the holes empty and the shoelace area is the region's own,
// which orders nested regions as their levels (a region of a higher level
// lies in the filled part of the one below it). The rings of a region are
// found by the grid points they bound: the regions are the 4-connected sets
// of values at or above the level (the walk parts a saddle's high corners).
struct RingEntry {
  int32_t region;
  int32_t at;     // the record's place in the list
  double area;    // signed
};

struct RegionWork {
  ScopedDrawRoom room;
  int32_t* labels = nullptr;  // a region per grid point, kLowPoint below the level
  int64_t* stack = nullptr;
  RingEntry* rings = nullptr;
  int64_t ring_room = 0;
};

constexpr int32_t kLowPoint = -1;
constexpr int32_t kUnlabelled = -2;
constexpr int64_t kFirstRings = 256;

int label_regions(const ContourGrid& g, double L, RegionWork* w) {
  const int64_t C = g.cols, n = int64_t(g.rows) * C;
  void* grid = draw_room_take(&w->room.room, kRoomWalk, n * int64_t(sizeof(int32_t) + sizeof(int64_t)));
  if (!grid) return kPlotOverflow;
  w->stack = static_cast<int64_t*>(grid);
  w->labels = reinterpret_cast<int32_t*>(w->stack + n);
  for (int64_t i = 0; i < n; ++i) w->labels[i] = g.z[i] >= L ? kUnlabelled : kLowPoint;
  int32_t next = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (w->labels[i] != kUnlabelled) continue;
    int64_t top = 0;
    w->labels[i] = next;
    w->stack[top++] = i;
    while (top > 0) {
      const int64_t p = w->stack[--top], r = p / C, c = p % C;
      const int64_t near[4] = {c > 0 ? p - 1 : -1, c + 1 < C ? p + 1 : -1, r > 0 ? p - C : -1, p + C < n ? p + C : -1};
      for (int64_t q : near)
        if (q >= 0 && w->labels[q] == kUnlabelled) w->labels[q] = next, w->stack[top++] = q;
    }
    ++next;
  }
  return kOk;
}

// The region a trace bounds: that of the high grid point beside its start
// (the walk keeps the high values on its right).
int32_t start_region(const ContourGrid& g, const int32_t* labels, const ContourStart& s) {
  const int64_t C = g.cols;
  switch (s.dir) {
    case kHeadUp: return labels[s.r * C + s.c + 1];
    case kHeadLeft: return labels[(s.r + 1) * C + s.c];
    default: return labels[s.r * C + s.c];  // heading right or down
  }
}


// Rewrites the level's records from `start` on as one record per region.
// all_high: every value on the grid's edge is high, so the region holding
// the edge has the grid's rectangle for its outer ring.
int join_regions(const Trace& t, const ContourGrid& g, int32_t start, RegionWork* w, int64_t rings, bool all_high,
                 const StyleSpec& style) {
  if (rings < 2 && !all_high) return kOk;
  double* data = t.data;
  for (int64_t k = 0; k < rings; ++k) w->rings[k].area = signed_area(data + w->rings[k].at);
  std::sort(w->rings, w->rings + rings, [](const RingEntry& a, const RingEntry& b) {
    return a.region != b.region ? a.region < b.region : std::fabs(a.area) > std::fabs(b.area);
  });
  const int32_t edge_region = all_high ? w->labels[0] : kLowPoint;
  // The rectangle turns against the holes, so that its area less theirs is the region's.
  double hole_sign = 1;
  for (int64_t k = 0; k < rings; ++k)
    if (w->rings[k].region == edge_region && w->rings[k].area != 0) hole_sign = w->rings[k].area > 0 ? 1 : -1;
  const double rect_sign = (g.x2 - g.x1) * (g.y2 - g.y1) > 0 ? 1 : -1;
  const bool turn = rect_sign == hole_sign;
  const double rx[5] = {g.x1, turn ? g.x1 : g.x2, g.x2, turn ? g.x2 : g.x1, g.x1};
  const double ry[5] = {g.y1, turn ? g.y2 : g.y1, g.y2, turn ? g.y1 : g.y2, g.y1};
  // The joined records, in order of region, into working memory.
  const int64_t old_length = *t.used - start;
  const int64_t bound = old_length + kRecHead + 1 + 10;
  double* out = draw_room_doubles(&w->room.room, bound);
  if (!out) return kPlotOverflow;
  int32_t pos = 0;
  bool edge_done = !all_high;
  auto count_of = [&](int32_t at) { return int32_t(data[at + kRecHead]); };
  for (int64_t k = 0; k <= rings;) {
    // The region of rings k .. end; the rectangle comes last when no ring bounds the edge's region.
    const bool rect_alone = k == rings;
    if (rect_alone && edge_done) break;
    const int32_t region = rect_alone ? edge_region : w->rings[k].region;
    int64_t end = k;
    while (end < rings && w->rings[end].region == region) ++end;
    const bool with_rect = all_high && region == edge_region;
    edge_done = edge_done || with_rect;
    const int64_t holes_from = with_rect ? k : k + 1;
    int64_t m = with_rect ? 5 : count_of(w->rings[k].at);
    for (int64_t h = holes_from; h < end; ++h) m += count_of(w->rings[h].at) + 1;
    double* x = out + pos + kRecHead + 1;
    double* y = x + m;
    int64_t i = 0;
    auto put_ring = [&](const double* rx_, const double* ry_, int32_t n) {
      std::memcpy(x + i, rx_, size_t(n) * sizeof(double));
      std::memcpy(y + i, ry_, size_t(n) * sizeof(double));
      i += n;
    };
    auto put_record_ring = [&](int32_t at) {
      const int32_t n = count_of(at);
      put_ring(data + at + kRecHead + 1, data + at + kRecHead + 1 + n, n);
    };
    if (with_rect) put_ring(rx, ry, 5);
    else put_record_ring(w->rings[k].at);
    const double home_x = x[0], home_y = y[0];
    for (int64_t h = holes_from; h < end; ++h) {
      put_record_ring(w->rings[h].at);
      x[i] = home_x, y[i] = home_y, ++i;
    }
    out[pos + kRecHead] = double(m);
    contour_add_segment(out, &pos, pos + kRecHead + 1 + 2 * int32_t(m), kCodePolyline, style);
    k = end;
  }
  if (int64_t(start) + pos > t.capacity) return kPlotOverflow;
  std::memcpy(data + start, out, size_t(pos) * sizeof(double));
  *t.used = start + pos;
  return kOk;
}

// One filled level of contour: its regions, each one record.
int trace_regions(const Trace& t, const ContourGrid& g, double level, uint8_t* visited, const StyleSpec& style) {
  RegionWork w;
  TN_TRY(label_regions(g, level, &w));
  const int32_t start = *t.used;
  int64_t rings = 0;
  TN_TRY(contour_for_each_start(g, level, true, visited, [&](const ContourStart& cs) -> int {
    const int32_t at = *t.used;
    TN_TRY(trace_record(t, g, level, true, cs, visited, style));
    if (rings == w.ring_room) {
      const int64_t more = std::max(kFirstRings, 2 * w.ring_room);
      void* grown = draw_room_widen(&w.room.room, kRoomScene, more * int64_t(sizeof(RingEntry)),
                                    rings * int64_t(sizeof(RingEntry)));
      if (!grown) return kPlotOverflow;
      w.rings = static_cast<RingEntry*>(grown);
      w.ring_room = more;
    }
    w.rings[rings++] = RingEntry{start_region(g, w.labels, cs), at, 0.0};
    return kOk;
  }));
  bool all_high = true;
  const int32_t R = g.rows, C = g.cols;
  auto high = [&](int64_t r, int64_t c) { return g.z[r * C + c] >= level; };
  for (int32_t c = 0; c < C && all_high; ++c) all_high = high(0, c) && high(R - 1, c);
  for (int32_t r = 0; r < R && all_high; ++r) all_high = high(r, 0) && high(r, C - 1);
  return join_regions(t, g, start, &w, rings, all_high, style);
}

// The background of filled contours: the rectangle in the style of the
// highest filled level below every value, put in front of the command's
// records.
int put_background(const Trace& t, int32_t start, const ContourGrid& g, const Levels& lv, const StyleArg& style) {
  int32_t best = -1;
  for (int32_t i = 0; i < lv.count; ++i) {
    StyleSpec st;
    style_of(style, i, kLevelColourBits[i % kLevelColours], nullptr, &st);
    // Of equal levels the last, as their regions are drawn.
    if ((st.bits & kStyleBitFill) && lv.at(i) < lv.zmin && (best < 0 || lv.at(i) >= lv.at(best))) best = i;
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
      if (filled && !three_d) {
        // A level below every value is the background, drawn whole below.
        if (any_finite && level < zmin) continue;
        TN_TRY(trace_regions(t, g, level, visited, st));
        continue;
      }
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
