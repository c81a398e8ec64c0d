// The contour tracer's walk. Each step picks the exit of the next cell by
// tests on its corners, in a fixed order, so ties at the level always go
// the same way; the filled mode's edge walk goes clockwise round the grid,
// each side's cell edges examined once from where the walk enters it.
#include "graphics/commands/contour_trace.h"

#include <cmath>

#include "graphics/plotlist/plot_store.h"

namespace {

// Sides of the grid in clockwise order (y grows with the row).
enum : int32_t { kSideRight = 0, kSideBottom = 1, kSideLeft = 2, kSideTop = 3, kSides = 4 };

struct Walk {
  const ContourGrid& g;
  double L;
  double dx, dy;
  double* x;
  double* y;
  int32_t room;
  int32_t* count;
  bool cut = false;

  double z(int32_t r, int32_t c) const { return g.z[int64_t(r) * g.cols + c]; }

  // The level's place along an edge from a to b: 0 at a when a is the level.
  static double fraction(double L, double a, double b) {
    if (a == L) return 0.0;
    const double t = (L - a) / (b - a);
    if (!(t >= 0.0)) return 0.0;  // NaN too: values that do not straddle
    return t > 1.0 ? 1.0 : t;
  }
  bool put(double px, double py) {
    if (*count >= room) {
      cut = true;
      return false;
    }
    x[*count] = px;
    y[*count] = py;
    ++*count;
    return true;
  }
  // Where the level crosses the edge a state stands on.
  void crossing(int32_t r, int32_t c, int32_t dir, double* px, double* py) const {
    if (dir == kHeadRight || dir == kHeadLeft) {
      const double t = fraction(L, z(r, c), z(r + 1, c));
      *px = g.x1 + c * dx, *py = g.y1 + (r + t) * dy;
      return;
    }
    const double t = fraction(L, z(r, c), z(r, c + 1));
    *px = g.x1 + (c + t) * dx, *py = g.y1 + r * dy;
  }
  bool put_crossing(int32_t r, int32_t c, int32_t dir) {
    double px, py;
    crossing(r, c, dir, &px, &py);
    return put(px, py);
  }
  bool put_corner(int32_t side) {
    switch (side) {
      case kSideRight: return put(g.x2, g.y1);   // the right side ends bottom right
      case kSideBottom: return put(g.x1, g.y1);
      case kSideLeft: return put(g.x1, g.y2);
      default: return put(g.x2, g.y2);
    }
  }

  // One step of the table: the exit of the next cell.
  void step(int32_t* r, int32_t* c, int32_t* dir) const {
    switch (*dir) {
      case kHeadRight:
        if (z(*r, *c + 1) <= L) *dir = kHeadDown;
        else if (L < z(*r + 1, *c + 1)) *dir = kHeadUp, ++*r;
        else ++*c;
        return;
      case kHeadUp:
        if (z(*r + 1, *c + 1) <= L) *dir = kHeadRight, ++*c;
        else if (z(*r + 1, *c) <= L) ++*r;
        else *dir = kHeadLeft;
        return;
      case kHeadLeft:
        if (z(*r + 1, *c - 1) <= L) *dir = kHeadUp, --*c, ++*r;
        else if (L < z(*r, *c - 1)) *dir = kHeadDown, --*c;
        else --*c;
        return;
      default:
        if (z(*r - 1, *c) <= L) *dir = kHeadLeft, --*r;
        else if (L < z(*r - 1, *c + 1)) *dir = kHeadRight, --*r, ++*c;
        else --*r;
        return;
    }
  }
  bool at_edge(int32_t r, int32_t c, int32_t dir) const {
    switch (dir) {
      case kHeadRight: return c >= g.cols - 1;
      case kHeadLeft: return c < 1;
      case kHeadUp: return r >= g.rows - 1;
      default: return r < 1;
    }
  }

  // Cell edges on a side: rows of the left and right columns, columns of
  // the bottom and top rows.
  int32_t side_edges(int32_t side) const { return side == kSideRight || side == kSideLeft ? g.rows - 1 : g.cols - 1; }
  // Whether the walk leaves the region at edge k of the side, and the state
  // that enters the grid there.
  bool restart(int32_t side, int32_t k, int32_t* r, int32_t* c, int32_t* dir) const {
    const int32_t R = g.rows, C = g.cols;
    switch (side) {
      case kSideRight:
        if (!(z(k, C - 1) <= L && L < z(k + 1, C - 1))) return false;
        *r = k, *c = C - 1, *dir = kHeadLeft;
        return true;
      case kSideBottom:
        if (!(z(0, k) <= L && L < z(0, k + 1))) return false;
        *r = 0, *c = k, *dir = kHeadUp;
        return true;
      case kSideLeft:
        // Heading right into the grid keeps the higher values on the right,
        // as every start heading right does.
        if (!(z(k + 1, 0) < L && L <= z(k, 0))) return false;
        *r = k, *c = 0, *dir = kHeadRight;
        return true;
      default:
        if (!(z(R - 1, k + 1) < L && L <= z(R - 1, k))) return false;
        *r = R - 1, *c = k, *dir = kHeadDown;
        return true;
    }
  }
};

// The side a state stands on when it is at the grid's edge, and its edge
// index along that side.
void edge_of(int32_t r, int32_t c, int32_t dir, int32_t* side, int32_t* k) {
  switch (dir) {
    case kHeadRight: *side = kSideRight, *k = r; return;
    case kHeadLeft: *side = kSideLeft, *k = r; return;
    case kHeadUp: *side = kSideTop, *k = c; return;
    default: *side = kSideBottom, *k = c; return;
  }
}

// Where a start on the grid's edge lies: its side and index, or side -1.
void start_side(const ContourGrid& g, int32_t r, int32_t c, int32_t dir, int32_t* side, int32_t* k) {
  *side = -1, *k = -1;
  if (dir == kHeadUp && r == 0) *side = kSideBottom, *k = c;
  else if (dir == kHeadDown && r == g.rows - 1) *side = kSideTop, *k = c;
  else if (dir == kHeadRight && c == 0) *side = kSideLeft, *k = r;
  else if (dir == kHeadLeft && c == g.cols - 1) *side = kSideRight, *k = r;
}

// The mark a state leaves on its grid point: heading right anywhere, or a
// start on the grid's edge heading into it.
uint8_t edge_mark(const ContourGrid& g, int32_t r, int32_t c, int32_t dir) {
  if (dir == kHeadRight) return kMarkRight;
  if (dir == kHeadUp && r == 0) return kMarkBottom;
  if (dir == kHeadDown && r == g.rows - 1) return kMarkTop;
  if (dir == kHeadLeft && c == g.cols - 1) return kMarkRightSide;
  return 0;
}

uint8_t this_trace(uint8_t mark) { return uint8_t(mark << kMarkThisTraceShift); }

// Clears the trace under way's marks, which only edge entries carry, from
// the points of the grid's edge.
void clear_this_trace(const ContourGrid& g, uint8_t* visited) {
  const uint8_t keep = uint8_t((1u << kMarkThisTraceShift) - 1);
  const int64_t R = g.rows, C = g.cols;
  for (int64_t c = 0; c < C; ++c) visited[c] &= keep, visited[(R - 1) * C + c] &= keep;
  for (int64_t r = 0; r < R; ++r) visited[r * C] &= keep, visited[r * C + C - 1] &= keep;
}

// The walk of contour_trace_level; *entries tells whether it left marks of
// its own to clear.
int trace_walk(Walk& w, const ContourGrid& g, bool filled, int32_t r, int32_t c, int32_t dir, uint8_t* visited,
               bool* entries) {
  double* x = w.x;
  double* y = w.y;
  int32_t home_side, home_k;
  start_side(g, r, c, dir, &home_side, &home_k);
  const int64_t max_steps = 4 * int64_t(g.rows) * g.cols + 8;
  const int32_t first = *w.count;
  if (!w.put_crossing(r, c, dir)) return kPlotOverflow;
  const double home_x = x[first], home_y = y[first];
  // Filled mode's records are closed regions, whatever ends the walk.
  auto close = [&]() -> int {
    if (filled && !(x[*w.count - 1] == home_x && y[*w.count - 1] == home_y)) w.put(home_x, home_y);
    return w.cut ? int(kPlotOverflow) : 0;
  };
  // A start heading right is marked, so a closed curve ends on its first
  // point; a start on the grid's edge, so that no later scan repeats it.
  {
    uint8_t& mark = visited[int64_t(r) * g.cols + c];
    const uint8_t m = edge_mark(g, r, c, dir);
    mark |= m;
    if (filled && home_side >= 0) mark |= this_trace(m), *entries = true;
  }
  for (int64_t steps = 0; steps < max_steps; ++steps) {
    if (w.at_edge(r, c, dir)) {
      if (!filled) break;
      // Clockwise along the edge from the exit: the rest of this side, then
      // whole sides, each ended by its corner.
      int32_t side, k;
      edge_of(r, c, dir, &side, &k);
      bool restarted = false, home = false;
      for (int32_t turn = 0; turn <= kSides && !restarted && !home; ++turn) {
        const int32_t n = w.side_edges(side);
        // Right and bottom are walked toward lower indices, left and top toward higher.
        const bool down = side == kSideRight || side == kSideBottom;
        int32_t e = turn == 0 ? (down ? k - 1 : k + 1) : (down ? n - 1 : 0);
        for (; e >= 0 && e < n; e += down ? -1 : 1) {
          if (side == home_side && e == home_k) {
            home = true;
            break;
          }
          if (w.restart(side, e, &r, &c, &dir)) {
            // A level at a corner value crosses two sides at that corner:
            // the walk may come back to its starting crossing from the
            // other side's edge. The crossing decides, not the edge.
            double px, py;
            w.crossing(r, c, dir, &px, &py);
            if (px == home_x && py == home_y) home = true;
            else restarted = true;
            break;
          }
        }
        if (restarted || home) break;
        if (!w.put_corner(side)) return kPlotOverflow;
        side = (side + 1) % kSides;
      }
      if (home) return close();
      if (!restarted) break;  // round the whole grid without a crossing
      uint8_t& mark = visited[int64_t(r) * g.cols + c];
      const uint8_t m = edge_mark(g, r, c, dir);
      // An entry this trace has taken before: the walk has gone round a
      // loop that does not pass its start (ties at the level can make one).
      // It ends here rather than go round again.
      if (mark & this_trace(m)) return close();
      if (!w.put_crossing(r, c, dir)) return kPlotOverflow;
      if (dir == kHeadRight && (mark & kMarkRight)) break;
      mark |= m | this_trace(m);
      *entries = true;
      continue;
    }
    w.step(&r, &c, &dir);
    if (!w.put_crossing(r, c, dir)) return kPlotOverflow;
    // Back on the starting crossing: in filled mode the region is closed
    // (a start at a grid point, where the level ties, can be passed again
    // inside the grid).
    if (filled && x[*w.count - 1] == home_x && y[*w.count - 1] == home_y && *w.count - first > 2) return close();
    if (dir == kHeadRight) {
      uint8_t& mark = visited[int64_t(r) * g.cols + c];
      if (mark & kMarkRight) break;
      mark |= kMarkRight;
    }
  }
  return close();
}

}  // namespace

int contour_trace_level(const ContourGrid& g, double level, bool filled, int32_t start_r, int32_t start_c,
                        int32_t start_dir, uint8_t* visited, double* x, double* y, int32_t room, int32_t* count) {
  if (g.rows < 2 || g.cols < 2) return 0;
  Walk w{g, level, (g.x2 - g.x1) / (g.cols - 1), (g.y2 - g.y1) / (g.rows - 1), x, y, room, count};
  bool entries = false;
  const int status = trace_walk(w, g, filled, start_r, start_c, start_dir & 3, visited, &entries);
  if (entries) clear_this_trace(g, visited);
  return status;
}
