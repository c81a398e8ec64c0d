// Nyquist sampling: approach from outside the window with coarse steps that
// stay in neighbouring cells, an edge search to the window's border, then
// steps of 0.05 rad bisected (at most 7 levels) where the curve deviates
// more than the tolerance. Every loop is bounded: the approach by its step
// floor, the searches by the trial angle meeting an end, the main loop by
// the point budget and the fixed depth.
#include "graphics/commands/nyquist_response.h"

#include <algorithm>
#include <cmath>

#include "numlib/control/tf_eval.h"

namespace {

constexpr double kStep = 0.05;
constexpr double kStepFloor = 1.0 / 5120;
constexpr double kEps = 2.220446049250313e-15;
constexpr int kMaxDepth = 7;
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
// never licenses a further split, and the narrowest step stays kStep / 2^7.
// Splitting also leaves room for a point per pending half and per coarse
// step still to go, so the sweep reaches its end whatever the curve spends.
struct Stepper {
  double pending[kMaxDepth];
  int levels[kMaxDepth];
  int size = 0;
  int level = 0;
  double target = 0;
  double theta1 = 0;

  void start(double a, double end) {
    theta1 = end;
    size = 0;
    next(a);
  }
  // Points still owed to reach theta1 without splitting: the target, each
  // pending half and the coarse steps behind the current coarse interval.
  int64_t owed() const {
    const double top = size > 0 ? pending[0] : target;
    const double rest = std::ceil((theta1 - top) / kStep);
    return 1 + size + (rest > 0 ? int64_t(rest) + 1 : 0);
  }
  bool can_split(int32_t count, int32_t room) const {
    return level < kMaxDepth && count + owed() + 1 < room;
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
      target = std::min(a + kStep, theta1);
    }
  }
};

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

}  // namespace

void nyquist_point(const NyquistSweep& sw, double theta, double* re, double* im, double* w) {
  const double sign = sw.negfreq ? -1.0 : 1.0;
  double hr, hi;
  tf_eval_at_complex(sw.num, sw.m, sw.den, sw.n, std::cos(theta), sign * std::sin(theta), &hr, &hi);
  double f = theta;
  if (sw.continuous) {
    f = theta == kPi ? INFINITY : std::tan(theta / 2);
    nyquist_delay_rotate(sw.delay, sign * f, &hr, &hi);
  }
  *re = hr, *im = hi, *w = sign * f;
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
    const double th = std::min(a + h, sw.theta1);
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
  step.start(a, sw.theta1);
  while (count < cap - 3 && a < sw.theta1) {
    const double target = step.target;
    const Point p = eval(sw, target);
    // One tolerance in data units for both axes: |dx| + |dy|, or, past it,
    // the bend against the last stored segment.
    const double nx = p.x - last.x, ny = p.y - last.y;
    double d = std::fabs(nx) + std::fabs(ny);
    if (d > sw.xtol && count >= 2) {
      const double sx = last.x - before.x, sy = last.y - before.y;
      const double seg = std::fabs(sx) + std::fabs(sy);
      if (seg > 0) d = 3 * std::fabs(nx * sy - ny * sx) / seg;
    }
    // A turn of the value by more than kArgTurn also splits: a resonance
    // narrower than a step can swing its loop out and back between two
    // points that lie on one line with the last segment.
    const bool turns = std::fabs(std::remainder(std::atan2(p.y, p.x) - std::atan2(last.y, last.x), 2 * kPi)) > kArgTurn;
    const bool bends = !(d <= sw.xtol) || turns;  // NaN counts as bending
    if (bends && (p.cell == 0 || p.cell != last.cell) && step.can_split(count, blocks.split_room)) {
      step.split(a);
      continue;
    }
    if (p.cell != 0 && count >= 2 && p.cell == last.cell && last.cell == before.cell) {
      put(count - 1, p);  // three in one outside cell: the middle one goes
      last = p;
    } else {
      append(p);
    }
    a = target;
    step.next(a);
  }
  if (last.theta != sw.theta1) append(eval(sw, sw.theta1));
  return blocks.close(count);
}

namespace {

constexpr double kTinyMagnitude = 1e-9;
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
  Stepper step;
  step.start(a, sw.theta1);
  while (count < cap - 3 && a < sw.theta1) {
    const double target = step.target;
    const Point p = nichols_eval(sw, target, &last, target == sw.theta1);
    const double xtol = seen.tolerance(sw.xtol, sw.xshare, seen.x0, seen.x1);
    const double ytol = seen.tolerance(sw.ytol, sw.yshare, seen.y0, seen.y1);
    double dp = std::fabs(p.x - last.x), dg = gain_change(sw, last.y, p.y);
    if ((dp > xtol || dg > ytol) && dp < 10 * xtol && dg < 10 * ytol && count >= 2) {
      const double p1 = last.x - before.x, g1 = last.y - before.y;
      const double p2 = p.x - last.x, g2 = p.y - last.y;
      const double den = std::fabs(gain_change(sw, before.y, last.y)) + std::fabs(p1) * ytol / xtol;
      dp = den > 0 ? 3 * std::fabs(p1 * g2 - g1 * p2) / den : dp;
      dg = 0;
    }
    const bool bends = !(dp <= xtol) || !(dg <= ytol);
    // A turn of the rational part by more than a quarter is split even
    // outside the window: past a half turn the unwrapping would take the
    // other way round, and every later phase would be off by 2 pi.
    double turn = p.x - last.x;
    if (sw.continuous && sw.delay != 0 && std::isfinite(p.w) && std::isfinite(last.w))
      turn += sw.delay * (p.w - last.w);
    const bool unsure = std::fabs(turn) > kPi / 2;
    if (((bends && (p.cell == 0 || p.cell != last.cell)) || unsure) && step.can_split(count, blocks.split_room)) {
      step.split(a);
      continue;
    }
    if (p.cell != 0 && count >= 2 && p.cell == last.cell && last.cell == before.cell) {
      put(count - 1, p);
      last = p;
    } else {
      append(p);
    }
    a = target;
    step.next(a);
  }
  if (last.theta != sw.theta1) append(nichols_eval(sw, sw.theta1, &last, true));
  return blocks.close(count);
}
