// Nyquist sampling: approach from outside the window with coarse steps that
// stay in neighbouring cells, an edge search to the window's border, then
// steps of 0.05 rad, which stop on the marks of the poles and zeros (a ladder
// about each down to its own scale, so that a resonance is found at any
// frequency), bisected where the curve deviates more than the tolerance from
// its chord. Every loop is bounded: the approach by its step floor, the
// searches by the trial angle meeting an end, the main loop by the point
// budget, the depth and the precision of the angle.
#include "graphics/commands/nyquist_response.h"

#include <algorithm>
#include <cmath>

#include "numlib/control/tf_eval.h"

namespace {

constexpr double kStep = 0.05;
constexpr double kStepFloor = 1.0 / 5120;
constexpr double kEps = 2.220446049250313e-15;
constexpr int kMaxDepth = 7;     // below a step, unless the sweep asks for more
constexpr int kDepthLimit = 40;  // the most any sweep may ask for
constexpr double kSplitPrecision = 4 * kEps;  // of the angle: no split below it
constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kMinPoints = 5;
constexpr double kArgTurn = kPi / 4;
constexpr int kEdgeHalvings = 60;
constexpr int kEdgeSteps = 64;  // coarse steps looking for the window: half a turn

// 0 inside; outside, the ring 1 right, 2 right-above, ... 8 right-below.
int cell_of(const NyquistSweep& sw, double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return 1;  // a pole: outside, its side unknown
  const int cx = x < sw.xlo ? -1 : x > sw.xhi ? 1 : 0;
  const int cy = y < sw.ylo ? -1 : y > sw.yhi ? 1 : 0;
  static const int ring[3][3] = {{6, 5, 4}, {7, 0, 3}, {8, 1, 2}};  // [cx + 1][cy + 1]
  return ring[cx + 1][cy + 1];
}

bool adjacent(int a, int b) {
  const int d = a > b ? a - b : b - a;
  return d < 2 || d == 7;
}

struct Point {
  double theta, x, y, w;
  int cell;
};

// The angle interval [a, target] being tried and the upper halves still to
// come. Each half keeps its own level: the upper half is as deep as the lower
// one that was accepted before it, so a point accepted at the deepest level
// never licenses a further split, and the narrowest step is a step over
// 2^depth. A step ends at the next mark when one comes first. Splitting also
// leaves room for a point per pending half, per coarse step, mark and break
// still to go, so the sweep reaches its end whatever the curve spends.
struct Stepper {
  double pending[kDepthLimit];
  int levels[kDepthLimit];
  int size = 0;
  int level = 0;
  int depth = kMaxDepth;
  double target = 0;
  double theta1 = 0;
  const NyquistSweep* sw = nullptr;

  void start(const NyquistSweep& s, double a, double end) {
    sw = &s;
    depth = s.max_depth > 0 ? std::min(s.max_depth, kDepthLimit) : kMaxDepth;
    theta1 = end;
    size = 0;
    next(a);
  }
  static int32_t after(const double* v, int32_t n, double a) {
    return v ? int32_t(v + n - std::upper_bound(v, v + n, a)) : 0;
  }
  // Points still owed to reach theta1 without splitting: the target, each
  // pending half, the coarse steps, marks and breaks behind it.
  int64_t owed() const {
    const double top = size > 0 ? pending[0] : target;
    const double rest = std::ceil((theta1 - top) / kStep);
    return 1 + size + (rest > 0 ? int64_t(rest) + 1 : 0) + after(sw->marks, sw->nmarks, top) +
           after(sw->breaks, sw->nbreaks, top);
  }
  bool can_split(double a, int32_t count, int32_t room) const {
    return level < depth && target - a > kSplitPrecision * std::fabs(target) && count + owed() + 1 < room;
  }
  void split(double a) {
    pending[size] = target;
    levels[size] = level + 1;
    ++size;
    ++level;
    target = (a + target) / 2;
  }
  // After a point at angle a was accepted.
  void next(double a) {
    if (size > 0) {
      --size;
      target = pending[size];
      level = levels[size];
    } else {
      level = 0;
      // The coarse steps keep to one grid from the sweep's start, marks or not.
      double k = std::floor((a - sw->theta0) / kStep) + 1;
      double grid = sw->theta0 + k * kStep;
      if (grid <= a) grid = sw->theta0 + (k + 1) * kStep;
      target = std::min(grid, theta1);
      if (sw->marks) {
        const double* m = std::upper_bound(sw->marks, sw->marks + sw->nmarks, a);
        if (m != sw->marks + sw->nmarks) target = std::min(target, *m);
      }
    }
  }
};

// The first break in (lo, hi], NaN when none.
double break_between(const NyquistSweep& sw, double lo, double hi) {
  if (!sw.breaks) return NAN;
  const double* b = std::upper_bound(sw.breaks, sw.breaks + sw.nbreaks, lo);
  return b != sw.breaks + sw.nbreaks && *b <= hi ? *b : NAN;
}

// The frequency written for angle theta.
double sweep_frequency(const NyquistSweep& sw, double theta) {
  const double f = !sw.continuous ? theta : theta == kPi ? INFINITY : std::tan(theta / 2);
  return sw.negfreq ? -f : f;
}

// Distance of (x, y) from the segment (x0, y0)-(x1, y1).
double segment_distance(double x0, double y0, double x1, double y1, double x, double y) {
  const double dx = x1 - x0, dy = y1 - y0, l2 = dx * dx + dy * dy;
  double u = l2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / l2 : 0;
  u = std::clamp(u, 0.0, 1.0);
  return std::hypot(x - x0 - u * dx, y - y0 - u * dy);
}

Point eval(const NyquistSweep& sw, double theta) {
  Point p;
  p.theta = theta;
  nyquist_point(sw, theta, &p.x, &p.y, &p.w);
  p.cell = cell_of(sw, p.x, p.y);
  return p;
}

// The sampler's blocks in data after its count word: x, y and (with
// frequencies) w, cap points each while sampling, packed to the count at the
// end. cap is the room's and the budget's; open() writes a lone count of 0
// and is false when not even kMinPoints fit.
struct SweepBlocks {
  double* data;
  double *x, *y, *w;
  int32_t cap;
  int32_t split_room;  // the points splits may count on: the same whether or not w is written
  int64_t planes;

  bool open(const NyquistSweep& sw, double* out, int64_t space, int32_t max_points, bool fixed_space) {
    data = out;
    planes = sw.with_freq ? 3 : 2;
    int64_t c64 = (space - 1) / planes;
    if (c64 > max_points) c64 = max_points;
    if (c64 < kMinPoints) {
      if (space >= 1) data[0] = 0;
      return false;
    }
    cap = int32_t(c64);
    split_room = cap - 3;
    if (fixed_space) {
      // The same space holds more points without the frequencies; splitting
      // as if they were written keeps the curve the same at every output count.
      split_room = int32_t(std::min<int64_t>({(space - 1) / 3, int64_t(max_points), int64_t(cap)})) - 3;
    }
    x = data + 1;
    y = x + cap;
    w = sw.with_freq ? y + cap : nullptr;
    return true;
  }
  void put(int32_t k, const Point& p) {
    x[k] = p.x, y[k] = p.y;
    if (w) w[k] = p.w;
  }
  // Packs the blocks to count points and gives the words written.
  int32_t close(int32_t count) {
    for (int32_t k = 0; k < count; ++k) data[1 + count + k] = y[k];
    if (w)
      for (int32_t k = 0; k < count; ++k) data[1 + 2 * count + k] = w[k];
    data[0] = count;
    return int32_t(planes * count + 1);
  }
};

// Stores the point p that a step from angle a to target reached. Where a
// pole lies between them the curve goes to infinity: a NaN point parts it
// from the last. Three points in one outside cell keep the outer two.
template <class Append>
void store_step(const NyquistSweep& sw, SweepBlocks& blocks, double a, double target, const Point& p,
                int32_t* count, Point* last, Point* before, Append&& append) {
  const double pole = break_between(sw, a, target);
  if (!std::isnan(pole)) {
    blocks.put((*count)++, Point{pole, NAN, NAN, sweep_frequency(sw, pole), -1});
    append(p);
    *before = p;
  } else if (p.cell != 0 && *count >= 2 && p.cell == last->cell && last->cell == before->cell) {
    blocks.put(*count - 1, p);
    *last = p;
  } else {
    append(p);
  }
}

}  // namespace

void nyquist_point(const NyquistSweep& sw, double theta, double* re, double* im, double* w) {
  const double sign = sw.negfreq ? -1.0 : 1.0;
  double hr = NAN, hi = NAN;
  double f = theta;
  if (sw.continuous) f = theta == kPi ? INFINITY : std::tan(theta / 2);
  if (sw.continuous && sw.snum && std::isfinite(f)) {
    tf_eval_at_complex(sw.snum, sw.sm, sw.sden, sw.sn, 0, sign * f, &hr, &hi);
  } else if (sw.continuous && sw.snum) {
    // The limit at an infinite frequency: 0 below the denominator's degree,
    // the ratio of the leading coefficients at it (the mapped system's value
    // at z = -1 would be rounding noise of its coefficients).
    int32_t m = 0, n = 0;
    while (m < sw.sm && sw.snum[m] == 0) ++m;
    while (n < sw.sn && sw.sden[n] == 0) ++n;
    if (sw.sm - m < sw.sn - n) hr = 0, hi = 0;
    if (sw.sm - m == sw.sn - n && sw.sden[n] != 0) {
      // i^k of the leading terms cancel: the same degree in both.
      hr = sw.snum[m] / sw.sden[n], hi = 0;
    }
  }
  // At an infinite frequency (and where powers of a huge one overflow) the
  // mapped system gives the value.
  if (!(std::isfinite(hr) && std::isfinite(hi)))
    tf_eval_at_complex(sw.num, sw.m, sw.den, sw.n, std::cos(theta), sign * std::sin(theta), &hr, &hi);
  if (sw.continuous) nyquist_delay_rotate(sw.delay, sign * f, &hr, &hi);
  *re = hr, *im = hi, *w = sign * f;
}

namespace {

constexpr int32_t kLadderSteps = 24;      // rungs on each side of a mark at most
constexpr double kLadderFloor = 1e-13;    // of the angle: the finest rung
constexpr double kBoundaryShare = 1e-9;   // a pole this near the boundary (relative) is on it

// The angle and scale (in angle) of a root: its frequency and its distance
// from the boundary; false for a root at zero frequency or beyond use.
bool root_angle(const NyquistSweep& sw, double re, double im, double* theta, double* width, bool* boundary) {
  if (!std::isfinite(re) || !std::isfinite(im)) return false;
  if (sw.continuous) {
    const double sigma = std::fabs(re), omega = std::fabs(im);
    // A well-damped root acts about its magnitude, a light one at its
    // imaginary part.
    const double wc = sigma > omega ? std::hypot(re, im) : omega;
    const double ws = sigma > omega ? wc : sigma;
    if (!(wc > 0) || !std::isfinite(wc)) return false;
    *theta = 2 * std::atan(wc);
    *width = 2 * ws / (1 + wc * wc);
    if (!std::isfinite(*width)) *width = 2 * ws / wc / wc;
    *boundary = sigma <= kBoundaryShare * wc;
  } else {
    const double rho = std::hypot(re, im);
    *theta = std::fabs(std::atan2(im, re));
    if (!(*theta > 0)) return false;
    *width = std::fabs(1 - rho);
    *boundary = *width <= kBoundaryShare;
  }
  *width = std::max(*width, kLadderFloor * *theta);
  return true;
}

// Writes the marks of one root (at most 1 + 2 kLadderSteps) at out with
// rungs growing by factor; returns how many.
int32_t root_marks(const NyquistSweep& sw, double theta, double width, bool on_boundary, double factor,
                   double* out) {
  int32_t k = 0;
  auto put = [&](double t) {
    if (t > sw.theta0 && t < sw.theta1) out[k++] = t;
  };
  if (!on_boundary) put(theta);
  double d = width;
  for (int32_t r = 0; r < kLadderSteps && d < kStep; ++r, d *= factor) put(theta - d), put(theta + d);
  return k;
}

}  // namespace

int64_t nyquist_marks_room(int32_t k) { return int64_t(k) * (2 + 2 * kLadderSteps); }

void nyquist_sweep_marks(NyquistSweep* sw, const double* pre, const double* pim, int32_t np, const double* zre,
                         const double* zim, int32_t nz, int32_t max_marks, double* room) {
  // A conjugate pair marks the same angle: the roots below the axis are left
  // out (discrete) or alike (continuous: the frequency is |im|).
  const int32_t k = np + nz;
  double* breaks = room + int64_t(k) * (1 + 2 * kLadderSteps);
  int32_t nb = 0;
  for (int32_t i = 0; i < np; ++i) {
    double theta, width;
    bool boundary;
    if (pim[i] >= 0 && root_angle(*sw, pre[i], pim[i], &theta, &width, &boundary) && boundary &&
        theta > sw->theta0 && theta < sw->theta1)
      breaks[nb++] = theta;
  }
  int32_t count = 0;
  for (double factor = 4; factor < 1e300; factor *= factor) {
    count = 0;
    for (int32_t i = 0; i < k; ++i) {
      const bool pole = i < np;
      const double re = pole ? pre[i] : zre[i - np], im = pole ? pim[i] : zim[i - np];
      double theta, width;
      bool boundary;
      if (im < 0 || !root_angle(*sw, re, im, &theta, &width, &boundary)) continue;
      count += root_marks(*sw, theta, width, pole && boundary, factor, room + count);
    }
    if (count <= max_marks) break;
  }
  std::sort(room, room + count);
  count = int32_t(std::unique(room, room + count) - room);
  std::sort(breaks, breaks + nb);
  nb = int32_t(std::unique(breaks, breaks + nb) - breaks);
  sw->marks = count > 0 ? room : nullptr, sw->nmarks = count;
  sw->breaks = nb > 0 ? breaks : nullptr, sw->nbreaks = nb;
}

void nyquist_delay_rotate(double delay, double w, double* re, double* im) {
  if (delay == 0 || !std::isfinite(w)) return;
  const double a = -delay * w, c = std::cos(a), s = std::sin(a);
  const double r = *re * c - *im * s;
  *im = *re * s + *im * c;
  *re = r;
}

int32_t freqresp_nyquist_adaptive(const NyquistSweep& sw, double* data, int64_t space,
                                  int32_t max_points) {
  SweepBlocks blocks;
  if (!blocks.open(sw, data, space, max_points, true)) return 1;
  const int32_t cap = blocks.cap;
  auto put = [&](int32_t k, const Point& p) { blocks.put(k, p); };
  int32_t count = 0;
  Point last{}, before{};
  auto append = [&](const Point& p) {
    put(count++, p);
    before = last;
    last = p;
  };

  double a = sw.theta0;
  Point p0 = eval(sw, a);
  put(0, p0);
  count = 1;
  last = p0;
  // Approach: outside, coarse steps that keep to neighbouring cells.
  double h = kStep, b = a;
  bool inside_found = p0.cell == 0;
  while (!inside_found && a < sw.theta1) {
    double th = std::min(a + h, sw.theta1);
    if (sw.marks) {
      // Never past a mark: a resonance may reach into the window there.
      const double* m = std::upper_bound(sw.marks, sw.marks + sw.nmarks, a);
      if (m != sw.marks + sw.nmarks) th = std::min(th, *m);
    }
    const Point p = eval(sw, th);
    if (p.cell == 0) {
      inside_found = true;
      b = th;
      break;
    }
    if (p.cell == last.cell || adjacent(p.cell, last.cell) || h < kStepFloor) {
      if (!(p.cell == last.cell || adjacent(p.cell, last.cell))) h = kStep;
      put(0, p);
      last = p;
      a = th;
      continue;
    }
    h /= 2;
    if (h < kStepFloor) continue;  // the next try is taken anyway
  }
  if (inside_found && b > a) {
    // Edge search towards the border: thirds, then halves.
    while (b - a > kEps * std::fabs(b)) {
      const double th = 0.7 * a + 0.3 * b;
      if (th == a || th == b) break;
      const Point p = eval(sw, th);
      if (p.cell == 0) break;
      put(0, p);
      last = p;
      a = th;
    }
    for (double f = 0.5; (b - a) * f > kEps * std::fabs(b); f /= 2) {
      const double th = a + f * (b - a);
      if (th == a || th == b) break;
      const Point p = eval(sw, th);
      if (p.cell != 0) {
        put(0, p);
        last = p;
        a = th;
      }
    }
  }
  // Main loop.
  Stepper step;
  step.start(sw, a, sw.theta1);
  while (count < cap - 3 && a < sw.theta1) {
    const double target = step.target;
    const Point p = eval(sw, target);
    // One tolerance in data units for both axes: |dx| + |dy|, or, past it,
    // the bend against the last stored segment.
    const double nx = p.x - last.x, ny = p.y - last.y;
    const double chord = std::fabs(nx) + std::fabs(ny);
    double d = chord;
    if (d > sw.xtol && count >= 2) {
      const double sx = last.x - before.x, sy = last.y - before.y;
      const double seg = std::fabs(sx) + std::fabs(sy);
      if (seg > 0) d = 3 * std::fabs(nx * sy - ny * sx) / seg;
    }
    // A turn of the value by more than kArgTurn also splits: a resonance
    // narrower than a step can swing its loop out and back between two
    // points that lie on one line with the last segment. Within the
    // tolerance of the origin a turn is not seen (a delay's spiral turns
    // there without end).
    const bool turns =
        std::fabs(std::remainder(std::atan2(p.y, p.x) - std::atan2(last.y, last.x), 2 * kPi)) > kArgTurn &&
        std::max(std::fabs(p.x) + std::fabs(p.y), std::fabs(last.x) + std::fabs(last.y)) > sw.xtol;
    bool bends = !(d <= sw.xtol) || turns;  // NaN counts as bending
    const bool may_split = p.cell == 0 || p.cell != last.cell;
    if (!bends && may_split) {
      // The curve half way must lie near the chord.
      const Point q = eval(sw, a + (target - a) / 2);
      bends = !(segment_distance(last.x, last.y, p.x, p.y, q.x, q.y) <= sw.xtol);
    }
    if (bends && may_split && step.can_split(a, count, blocks.split_room)) {
      step.split(a);
      continue;
    }
    store_step(sw, blocks, a, target, p, &count, &last, &before, append);
    a = target;
    step.next(a);
  }
  if (last.theta != sw.theta1) append(eval(sw, sw.theta1));
  return blocks.close(count);
}

namespace {

constexpr double kTinyMagnitude = 1e-9;
constexpr double kFlatShare = 1e-3;  // the least gain extent, of the gains (or of e, logarithmic)
constexpr double kPoleNudge = 1e-6;  // of the sweep, past a pole at its start
constexpr double kPoleShare = 1e-9;  // of the denominator's coefficients: a pole
constexpr int kMaxTurns = 20;
constexpr double kTwoPi = 2 * kPi;

// Whether the denominator vanishes at angle theta, to rounding: a pole on
// the sweep, where the value computed is rounding noise, huge or infinite.
bool pole_at(const NyquistSweep& sw, double theta) {
  const double c = std::cos(theta), sn = (sw.negfreq ? -1.0 : 1.0) * std::sin(theta);
  double re = 0, im = 0, scale = 0;
  for (int32_t k = 0; k <= sw.n; ++k) {
    const double r = re * c - im * sn + sw.den[k];
    im = re * sn + im * c;
    re = r;
    scale += std::fabs(sw.den[k]);
  }
  return std::hypot(re, im) <= kPoleShare * scale;
}

// Phase and magnitude at theta, the phase unwrapped against the previous
// point's (none at the start). Only the rational part is unwrapped: a
// delay's phase -delay w is added exactly, since between two points it can
// turn by many times 2 pi, which no unwrapping could see.
Point nichols_eval(const NyquistSweep& sw, double theta, const Point* prev, bool last) {
  Point p;
  p.theta = theta;
  double re, im;
  NyquistSweep plain = sw;
  plain.delay = 0;  // the delay goes into the phase directly
  nyquist_point(plain, theta, &re, &im, &p.w);
  double mag = std::sqrt(re * re + im * im);
  double ph = theta == 0 ? (re < 0 ? kPi : 0) : std::atan2(im, re);
  if (!prev && theta < sw.theta1) {
    // A pole at the sweep's start (its value infinite, or rounded to a
    // huge number) has no phase of its own: the curve comes in from
    // infinity along the phase it has just after it.
    double r2, i2, w2;
    nyquist_point(plain, theta + kPoleNudge * (sw.theta1 - theta), &r2, &i2, &w2);
    if (pole_at(sw, theta) && std::isfinite(r2) && std::isfinite(i2)) mag = INFINITY, ph = std::atan2(i2, r2);
  }
  const bool delayed = sw.continuous && sw.delay != 0;
  auto lag = [&](double w) { return delayed && std::isfinite(w) ? sw.delay * w : 0.0; };
  if (prev) {
    if (delayed && last) {
      ph = prev->x + lag(p.w);  // the previous phase: no lag at an infinite frequency
    } else if (mag <= kTinyMagnitude) {
      ph = prev->x + lag(prev->w);  // the previous rational part; the lag is exact
    } else {
      const double before = prev->x + lag(prev->w);
      for (int i = 0; i < kMaxTurns && ph > before + kPi; ++i) ph -= kTwoPi;
      for (int i = 0; i < kMaxTurns && ph < before - kPi; ++i) ph += kTwoPi;
    }
  }
  ph -= lag(p.w);
  p.x = ph, p.y = mag;
  const int cx = ph < sw.xlo ? 3 : ph >= sw.xhi ? 6 : 0;
  const int cy = mag < sw.ylo ? 1 : mag > sw.yhi ? 2 : 0;
  p.cell = cx + cy;
  return p;
}

// The extent of the stored points inside the window. On an automatic axis
// the tolerance grows with it: the figure is scaled to the curve, so a fixed
// tolerance would spend the budget on a long curve (a delay's phase, a tall
// resonance) in steps nobody sees, and leave none for the rest.
struct Extent {
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  void add(double x, double y) {
    if (std::isfinite(x)) x0 = std::min(x0, x), x1 = std::max(x1, x);
    if (std::isfinite(y)) y0 = std::min(y0, y), y1 = std::max(y1, y);
  }
  static double tolerance(double base, double share, double lo, double hi) {
    return hi > lo ? std::max(base, share * (hi - lo)) : base;
  }
};

double gain_change(const NyquistSweep& sw, double from, double to) {
  if (sw.log_y) return from > 0 && to > 0 ? std::fabs(std::log(to / from)) : INFINITY;
  return std::fabs(to - from);
}

}  // namespace

int32_t freqresp_nichols_adaptive(const NyquistSweep& sw, double* data, int64_t space,
                                  int32_t max_points) {
  SweepBlocks blocks;
  if (!blocks.open(sw, data, space, max_points, false)) return 1;
  const int32_t cap = blocks.cap;
  int32_t count = 0;
  Point last{}, before{};
  auto put = [&](int32_t k, const Point& p) { blocks.put(k, p); };
  Extent seen;
  auto append = [&](const Point& p) {
    put(count++, p);
    before = last;
    last = p;
    if (p.cell == 0) seen.add(p.x, sw.log_y && p.y > 0 ? std::log(p.y) : p.y);
  };
  append(nichols_eval(sw, sw.theta0, nullptr, false));
  double a = sw.theta0;
  if (!(last.y < INFINITY) && last.cell != 0) {
    // A pole at the start: the curve comes in from infinity, which no
    // number of splits reaches. Find where it enters the window (halving
    // between the pole and the first angle inside) and start from there.
    double b = a;
    Point in{};
    int steps = 0;
    do {
      b = std::min(b + kStep, sw.theta1);
      in = nichols_eval(sw, b, &last, b == sw.theta1);
    } while (in.cell != 0 && b < sw.theta1 && ++steps < kEdgeSteps);
    if (in.cell == 0) {
      Point edge = last;
      for (int i = 0; i < kEdgeHalvings && b - a > kEps * b; ++i) {
        const double mid = a + (b - a) / 2;
        const Point q = nichols_eval(sw, mid, &last, false);
        if (q.cell == 0) {
          b = mid;
        } else {
          a = mid, edge = q;
        }
      }
      if (edge.theta != last.theta) append(edge);
    } else {
      a = sw.theta0;
    }
  }
  if (sw.yshare > 0) {
    // The gains at the steps and marks set the gain tolerance from the
    // start: grown only as the curve is traced, it would spend the budget
    // on the rise to a tall resonance and leave none for its peak.
    auto look = [&](double th) {
      double re, im, w;
      nyquist_point(sw, th, &re, &im, &w);
      const double g = std::hypot(re, im);
      if (g >= sw.ylo && g <= sw.yhi) seen.add(NAN, sw.log_y && g > 0 ? std::log(g) : g);
    };
    for (double th = a; th < sw.theta1; th += kStep) look(th);
    for (int32_t k = 0; k < sw.nmarks; ++k) look(sw.marks[k]);
  }
  Stepper step;
  step.start(sw, a, sw.theta1);
  while (count < cap - 3 && a < sw.theta1) {
    const double target = step.target;
    const Point p = nichols_eval(sw, target, &last, target == sw.theta1);
    const double xtol = seen.tolerance(sw.xtol, sw.xshare, seen.x0, seen.x1);
    // The gains' extent is known from the start: their share alone, so that
    // a curve of small gains is drawn as finely as one of large gains (a
    // flat one as finely as one of a thousandth of its gain's range).
    const double ymag = sw.log_y ? 1 : std::max(std::fabs(seen.y0), std::fabs(seen.y1));
    const double yspan = std::max(seen.y1 - seen.y0, kFlatShare * ymag);
    const double ytol = seen.y1 >= seen.y0 && yspan > 0 && sw.yshare > 0 ? sw.yshare * yspan : sw.ytol;
    double dp = std::fabs(p.x - last.x), dg = gain_change(sw, last.y, p.y);
    if ((dp > xtol || dg > ytol) && dp < 10 * xtol && dg < 10 * ytol && count >= 2) {
      const double p1 = last.x - before.x, g1 = last.y - before.y;
      const double p2 = p.x - last.x, g2 = p.y - last.y;
      const double den = std::fabs(gain_change(sw, before.y, last.y)) + std::fabs(p1) * ytol / xtol;
      dp = den > 0 ? 3 * std::fabs(p1 * g2 - g1 * p2) / den : dp;
      dg = 0;
    }
    bool bends = !(dp <= xtol) || !(dg <= ytol);
    // A turn of the rational part by more than a quarter is split even
    // outside the window: past a half turn the unwrapping would take the
    // other way round, and every later phase would be off by 2 pi.
    double turn = p.x - last.x;
    if (sw.continuous && sw.delay != 0 && std::isfinite(p.w) && std::isfinite(last.w))
      turn += sw.delay * (p.w - last.w);
    const bool unsure = std::fabs(turn) > kPi / 2;
    const bool may_split = p.cell == 0 || p.cell != last.cell;
    if (!bends && !unsure && may_split && std::isfinite(p.y) && p.y > kTinyMagnitude) {
      // The curve half way must lie near the chord (in tolerances).
      const Point q = nichols_eval(sw, a + (target - a) / 2, &last, false);
      auto gy = [&](double g) { return (sw.log_y ? (g > 0 ? std::log(g) : -INFINITY) : g) / ytol; };
      bends = !(segment_distance(last.x / xtol, gy(last.y), p.x / xtol, gy(p.y), q.x / xtol, gy(q.y)) <= 1);
    }
    if (((bends && may_split) || unsure) && step.can_split(a, count, blocks.split_room)) {
      step.split(a);
      continue;
    }
    store_step(sw, blocks, a, target, p, &count, &last, &before, append);
    a = target;
    step.next(a);
  }
  if (last.theta != sw.theta1) append(nichols_eval(sw, sw.theta1, &last, true));
  return blocks.close(count);
}
