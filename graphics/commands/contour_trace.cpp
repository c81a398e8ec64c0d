// The contour tracer's walk. Each step picks the exit of the next cell by
// tests on its corners, in a fixed order, so ties at the level always go
// the same way (in filled mode every test counts a value at the level as
// high); the filled mode's edge walk goes clockwise round the grid, each
// side's cell edges examined once from where the walk enters it.
#include "graphics/commands/contour_trace.h"

#include <cmath>

#include "graphics/plotlist/plot_store.h"

namespace {

// Sides of the grid in clockwise order (y grows with the row).
enum : int32_t { kSideRight = 0, kSideBottom = 1, kSideLeft = 2, kSideTop = 3, kSides = 4 };

struct Walk {
  const ContourGrid& g;
  double L;
  bool filled;
  double dx, dy;
  double* x;
  double* y;
  int32_t room;
  int32_t* count;
  int32_t first = 0;  // the trace's first point
  bool cut = false;

  double z(int32_t r, int32_t c) const { return g.z[int64_t(r) * g.cols + c]; }
  // The step table's two tests. A filled region is every point at or above
  // its level, so there a value equal to the level counts as high wherever
  // it is tested, and NaN as low; lines keep the table's own comparisons.
  bool low(double v) const { return filled ? !(v >= L) : v <= L; }
  bool high(double v) const { return filled ? v >= L : L < v; }

  // The level's place along an edge from a to b: 0 at a when a is the level.
  static double fraction(double L, double a, double b) {
    if (a == L) return 0.0;
    const double t = (L - a) / (b - a);
    if (!(t >= 0.0)) return 0.0;  // NaN too: values that do not straddle
    return t > 1.0 ? 1.0 : t;
  }
  bool put(double px, double py) {
    // A region's boundary passes a grid point at the level (or a corner of
    // the grid) once, however many of its crossings lie there.
    if (filled && *count > first && x[*count - 1] == px && y[*count - 1] == py) return true;
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
        if (low(z(*r, *c + 1))) *dir = kHeadDown;
        else if (high(z(*r + 1, *c + 1))) *dir = kHeadUp, ++*r;
        else ++*c;
        return;
      case kHeadUp:
        if (low(z(*r + 1, *c + 1))) *dir = kHeadRight, ++*c;
        else if (low(z(*r + 1, *c))) ++*r;
        else *dir = kHeadLeft;
        return;
      case kHeadLeft:
        if (low(z(*r + 1, *c - 1))) *dir = kHeadUp, --*c, ++*r;
        else if (high(z(*r, *c - 1))) *dir = kHeadDown, --*c;
        else --*c;
        return;
      default:
        if (low(z(*r - 1, *c))) *dir = kHeadLeft, --*r;
        else if (high(z(*r - 1, *c + 1))) *dir = kHeadRight, --*r, ++*c;
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
        if (!(low(z(k, C - 1)) && high(z(k + 1, C - 1)))) return false;
        *r = k, *c = C - 1, *dir = kHeadLeft;
        return true;
      case kSideBottom:
        if (!(low(z(0, k)) && high(z(0, k + 1)))) return false;
        *r = 0, *c = k, *dir = kHeadUp;
        return true;
      case kSideLeft:
        // Heading right into the grid keeps the higher values on the right,
        // as every start heading right does.
        if (!(low(z(k + 1, 0)) && high(z(k, 0)))) return false;
        *r = k, *c = 0, *dir = kHeadRight;
        return true;
      default:
        if (!(low(z(R - 1, k + 1)) && high(z(R - 1, k)))) return false;
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

// The mark a state leaves on its grid point: heading right anywhere, or a
// start on the grid's edge heading into it.
uint8_t edge_mark(const ContourGrid& g, int32_t r, int32_t c, int32_t dir) {
  if (dir == kHeadRight) return kMarkRight;
  if (dir == kHeadUp && r == 0) return kMarkBottom;
  if (dir == kHeadDown && r == g.rows - 1) return kMarkTop;
  if (dir == kHeadLeft && c == g.cols - 1) return kMarkRightSide;
  return 0;
}

int64_t max_steps(const ContourGrid& g) { return 4 * int64_t(g.rows) * g.cols + 8; }

// A level curve: from its start to the grid's edge, or round to a crossing
// already passed heading right (its own start, for a closed curve).
int line_walk(Walk& w, const ContourGrid& g, int32_t r, int32_t c, int32_t dir, uint8_t* visited) {
  if (!w.put_crossing(r, c, dir)) return kPlotOverflow;
  visited[int64_t(r) * g.cols + c] |= edge_mark(g, r, c, dir);
  for (int64_t steps = 0; steps < max_steps(g) && !w.at_edge(r, c, dir); ++steps) {
    w.step(&r, &c, &dir);
    if (!w.put_crossing(r, c, dir)) return kPlotOverflow;
    if (dir == kHeadRight) {
      uint8_t& mark = visited[int64_t(r) * g.cols + c];
      if (mark & kMarkRight) break;
      mark |= kMarkRight;
    }
  }
  return 0;
}

// Clockwise along the grid's edge from the exit a state stands on, to the
// next place where the walk leaves the region (the state that enters the
// grid there), passing the corners between. False when the whole edge lies
// in the region (no such place) or the room ran out.
bool edge_walk(Walk& w, int32_t* r, int32_t* c, int32_t* dir) {
  int32_t side, k;
  edge_of(*r, *c, *dir, &side, &k);
  for (int32_t turn = 0; turn <= kSides; ++turn) {
    const int32_t n = w.side_edges(side);
    // Right and bottom are walked toward lower indices, left and top toward higher.
    const bool down = side == kSideRight || side == kSideBottom;
    for (int32_t e = turn == 0 ? (down ? k - 1 : k + 1) : (down ? n - 1 : 0); e >= 0 && e < n; e += down ? -1 : 1)
      if (w.restart(side, e, r, c, dir)) return true;
    if (!w.put_corner(side)) return false;
    side = (side + 1) % kSides;
  }
  return false;
}

// A filled region's boundary: every value is high (at or above the level)
// or low, so each crossing lies on exactly one boundary, which the walk
// follows with the high values on its right, along the grid's edge where it
// meets it, until it stands on its starting crossing again. The state, not
// the point, says so: crossings at a grid point equal to the level share
// their place.
int filled_walk(Walk& w, const ContourGrid& g, int32_t r, int32_t c, int32_t dir, uint8_t* visited) {
  const int32_t r0 = r, c0 = c, dir0 = dir;
  const int32_t first = w.first = *w.count;
  if (!w.put_crossing(r, c, dir)) return kPlotOverflow;
  const double home_x = w.x[first], home_y = w.y[first];
  visited[int64_t(r) * g.cols + c] |= edge_mark(g, r, c, dir);
  for (int64_t steps = 0; steps < max_steps(g); ++steps) {
    if (w.at_edge(r, c, dir)) {
      if (!edge_walk(w, &r, &c, &dir)) break;
    } else {
      w.step(&r, &c, &dir);
    }
    if (r == r0 && c == c0 && dir == dir0) break;
    if (!w.put_crossing(r, c, dir)) break;
    visited[int64_t(r) * g.cols + c] |= edge_mark(g, r, c, dir);
  }
  // Closed whatever ended the walk.
  if (!(w.x[*w.count - 1] == home_x && w.y[*w.count - 1] == home_y)) w.put(home_x, home_y);
  return w.cut ? int(kPlotOverflow) : 0;
}

}  // namespace

int contour_trace_level(const ContourGrid& g, double level, bool filled, int32_t start_r, int32_t start_c,
                        int32_t start_dir, uint8_t* visited, double* x, double* y, int32_t room, int32_t* count) {
  if (g.rows < 2 || g.cols < 2) return 0;
  Walk w{g, level, filled, (g.x2 - g.x1) / (g.cols - 1), (g.y2 - g.y1) / (g.rows - 1), x, y, room, count};
  const int32_t dir = start_dir & 3;
  return filled ? filled_walk(w, g, start_r, start_c, dir, visited) : line_walk(w, g, start_r, start_c, dir, visited);
}
