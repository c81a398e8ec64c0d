// Step, impulse, initial-state and driven responses of transfer functions and
// state-space models. Continuous systems are sampled exactly: the model is
// held (zero-order for steps, first-order for driven inputs) and simulated by
// its state recursion, a transfer function through its balanced controller
// form (never the held polynomials' difference equation, which is unstable in
// rounding once the held poles crowd near z = 1). Every loop is bounded by a
// sample count checked as a double before it becomes an integer.
#include "graphics/commands/time_response.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numlib/control/conversions.h"

namespace {

constexpr double kGridShare = 0.005;           // one step is this share of the range
constexpr double kImpulseZeroCoefficient = 1e-8;
// A time this close (relatively) to a whole number of sample steps is that
// number of steps.
constexpr double kGridSnap = 1e-9;

// t / ts as a count of sample steps, before it is rounded either way: a
// quotient within kGridSnap of a whole number is that number, so that a
// time meant as a multiple of ts (a range end of (n - 1) ts, a start of
// 0.3 with ts = 0.1) lands on its sample whichever way the division rounds.
double grid_steps(double t, double ts) {
  const double q = t / ts, r = std::nearbyint(q);
  return std::fabs(q - r) <= kGridSnap * std::max(std::fabs(r), 1.0) ? r : q;
}

// Leading zero coefficients dropped: the degree that is left (-1: all zero).
int32_t true_degree(const double* p, int32_t n, const double** start) {
  int32_t k = 0;
  while (k <= n && p[k] == 0.0) ++k;
  *start = p + std::min(k, n);
  return n - k;
}

// num (degree m > n) / den (degree n) in place: the non-constant part of the
// quotient is taken off, leaving a numerator of degree n at num + m - n.
const double* proper_part(double* num, int32_t m, const double* den, int32_t n) {
  for (int32_t i = 0; i < m - n; ++i) {
    const double q = num[i] / den[0];
    for (int32_t j = 0; j <= n; ++j) num[i + j] -= q * den[j];
  }
  return num + (m - n);
}

double drive_input(TimeDrive drive, int64_t k) {
  if (k < 0) return 0.0;
  if (drive == kDriveImpulse) return k == 0 ? 1.0 : 0.0;
  return drive == kDriveStep ? 1.0 : 0.0;
}

// y[k] = (sum_j b[j] u[k-j] - sum_{i>=1} a[i] y[k-i]) / a[0], both of l + 1
// coefficients, from rest; the values of samples first .. first + count - 1
// are kept. hist: 2 (l + 1) doubles.
void run_filter(const double* b, const double* a, int32_t l, TimeDrive drive, int64_t first,
                int64_t count, double* y, double* hist) {
  double* uh = hist;       // uh[j] = u[k - j]
  double* yh = hist + l + 1;  // yh[i] = y[k - i]
  std::fill(hist, hist + 2 * (l + 1), 0.0);
  const int64_t last = first + count;
  for (int64_t k = std::min<int64_t>(first, 0); k < last; ++k) {
    for (int32_t j = l; j > 0; --j) uh[j] = uh[j - 1], yh[j] = yh[j - 1];
    uh[0] = drive_input(drive, k);
    double acc = 0.0;
    for (int32_t j = 0; j <= l; ++j) acc += b[j] * uh[j];
    for (int32_t i = 1; i <= l; ++i) acc -= a[i] * yh[i];
    yh[0] = k < 0 ? 0.0 : acc / a[0];
    if (k >= first) y[k - first] = yh[0];
  }
}

// C' and D' of the drive: the impulse reads C A and C b (the response of the
// held step is then the derivative of the step response), the step C and D's
// first column, the initial state C alone.
void drive_outputs(const SsModel& s, TimeDrive drive, bool continuous, double* c2, double* d2) {
  const int64_t n = s.n, m = s.m;
  for (int64_t o = 0; o < s.p; ++o) {
    double dd = 0.0;
    if (drive == kDriveImpulse && continuous) {
      for (int64_t j = 0; j < n; ++j) {
        double acc = 0.0;
        for (int64_t k = 0; k < n; ++k) acc += s.c[o * n + k] * s.a[k * n + j];
        c2[o * n + j] = acc;
      }
      if (m > 0 && s.b)
        for (int64_t k = 0; k < n; ++k) dd += s.c[o * n + k] * s.b[k * m];
    } else {
      for (int64_t j = 0; j < n; ++j) c2[o * n + j] = s.c ? s.c[o * n + j] : 0.0;
      if (drive != kDriveInitial && m > 0 && s.d) dd = s.d[o * m];
    }
    d2[o] = dd;
  }
}

// x <- ad x + bd u over the steps, writing y = c2 x + d2 u for steps from
// first on (curve-major, stride). x and xn: n doubles each.
void run_states(const double* ad, const double* bd, const double* c2, const double* d2, int32_t n,
                int32_t p, TimeDrive drive, bool held_step, int64_t first, int64_t count,
                double* y, int64_t stride, double* x, double* xn) {
  for (int64_t k = 0; k < first + count; ++k) {
    const double u = held_step ? (drive == kDriveInitial ? 0.0 : 1.0) : drive_input(drive, k);
    if (k >= first)
      for (int32_t o = 0; o < p; ++o) {
        double acc = d2[o] * u;
        for (int32_t j = 0; j < n; ++j) acc += c2[int64_t(o) * n + j] * x[j];
        y[o * stride + (k - first)] = acc;
      }
    for (int32_t i = 0; i < n; ++i) {
      double acc = bd[i] * u;
      for (int32_t j = 0; j < n; ++j) acc += ad[int64_t(i) * n + j] * x[j];
      xn[i] = acc;
    }
    std::memcpy(x, xn, size_t(n) * sizeof(double));
  }
}

// The matrix exponential turns NaN and Inf into ordinary-looking numbers:
// a model with a non-finite coefficient is held as none at all.
bool all_finite(const double* v, int64_t count) {
  return std::all_of(v, v + count, [](double x) { return std::isfinite(x); });
}

// Times of the continuous grid, and the leading zeros of each curve.
void grid_times(const ContinuousGrid& g, double t0, double delay, double* t) {
  int32_t at = 0;
  if (g.lead) {
    t[at++] = t0 + delay;
    t[at++] = delay;
  }
  for (int32_t i = 0; i < kContinuousSamples; ++i) t[at++] = double(g.skip + i) * g.dt + delay;
}

}  // namespace

ContinuousGrid timeresp_continuous_grid(double t0, double tf) {
  ContinuousGrid g{};
  g.dt = (tf - t0) * kGridShare;
  const double k = t0 > 0 ? std::floor(t0 / g.dt) : 0.0;
  // A range that is not finite has no grid either.
  g.too_many = !(k <= kMaxDiscreteSamples) || !std::isfinite(t0) || !std::isfinite(g.dt);
  if (k >= 1 && !g.too_many) {
    g.skip = int64_t(k);
    g.dt = t0 / k;
  }
  g.lead = !(t0 > 0);
  g.points = g.lead ? kContinuousPoints : kContinuousSamples;
  return g;
}

int64_t timeresp_tf_continuous_work(int32_t m, int32_t n) {
  const int64_t l = std::max(m, n) + 1;
  // The worked numerator and denominator, then the held realisation: A, b,
  // c, d, Ad, bd, the state and its successor, the hold's own work.
  return 2 * (l + 1) + 2 * l * l + 5 * l + 1 + ctrl_matrix_kernel_zoh_work(l, 1);
}

// The held response runs through the controller form's states, never
// through the held polynomials: their difference equation is unstable in
// rounding once the held poles crowd near z = 1 (a high order, or a step
// short beside the time constants), as the state recursion is not.
int timeresp_tf_continuous(const double* num, int32_t m, const double* den, int32_t n, double t0,
                           double tf, double delay, TimeDrive drive, double* t, double* y,
                           double* work) {
  const ContinuousGrid g = timeresp_continuous_grid(t0 - delay, tf - delay);
  if (g.too_many) return kTooManySamples;
  grid_times(g, t0 - delay, delay, t);
  const double* nz;
  const double* dz;
  int32_t mm = true_degree(num, m, &nz), nn = true_degree(den, n, &dz);
  if (nn < 0 || (drive == kDriveImpulse && nn == 0 && std::fabs(dz[0]) < kImpulseZeroCoefficient)) {
    std::fill(y, y + g.points, NAN);
    return 0;
  }
  const int64_t l = std::max(m, n) + 1;
  double* nw = work;                 // the numerator worked on: up to l + 1
  double* dw = nw + l + 1;
  double* a = dw + l + 1;
  double* b = a + l * l;
  double* c = b + l;
  double* d = c + l;
  double* ad = d + 1;
  double* bd = ad + l * l;
  double* x = bd + l;
  double* xn = x + l;
  double* scratch = xn + l;
  if (mm < 0) mm = 0, nz = num + m;  // an all-zero numerator: the zero constant
  if (!all_finite(nz, mm + 1) || !all_finite(dz, nn + 1)) {
    std::fill(y, y + g.points, NAN);
    if (g.lead) y[0] = y[1] = 0.0;
    return 0;
  }
  std::memcpy(nw, nz, size_t(mm + 1) * sizeof(double));
  std::memcpy(dw, dz, size_t(nn + 1) * sizeof(double));
  if (drive == kDriveImpulse) {
    // The impulse is the step of G(s) s: the denominator loses its factor s,
    // or the numerator gains one.
    if (std::fabs(dw[nn]) < kImpulseZeroCoefficient) --nn;
    else nw[++mm] = 0.0;
  }
  const double* pn = nw;
  if (mm > nn) pn = proper_part(nw, mm, dw, nn), mm = nn;
  ctrl_matrix_kernel_g(pn, 1, mm, dw, nn, a, b, c, d);
  ss_balance_model(a, b, c, nn, 1, 1, x);  // x holds the scaling until the state starts
  if (nn > 0) ctrl_matrix_kernel_zoh(a, nn, b, 1, g.dt, ad, bd, scratch);
  std::fill(x, x + nn, 0.0);
  double* ys = y + (g.lead ? 2 : 0);
  if (g.lead) y[0] = y[1] = 0.0;
  run_states(ad, bd, c, d, nn, 1, kDriveStep, true, g.skip, kContinuousSamples, ys,
             kContinuousSamples, x, xn);
  return 0;
}

int64_t timeresp_ss_continuous_work(const SsModel& s) {
  const int64_t n = s.n, p = s.p;
  return 2 * n * n + n + p * n + p + 2 * n + 2 * n + ctrl_matrix_kernel_zoh_work(n, 1);
}

// The model is balanced (a diagonal change of the states by powers of two,
// exact) before it is held: the matrix exponential of a badly scaled A, such
// as a companion form, loses digits that the balanced one keeps.
int timeresp_ss_continuous(const SsModel& s, double t0, double tf, double delay, TimeDrive drive,
                           const double* x0, double* t, double* y, double* work) {
  const ContinuousGrid g = timeresp_continuous_grid(t0 - delay, tf - delay);
  if (g.too_many) return kTooManySamples;
  grid_times(g, t0 - delay, delay, t);
  const int64_t n = s.n;
  double* ad = work;
  double* bd = ad + n * n;
  double* c2 = bd + n;
  double* d2 = c2 + int64_t(s.p) * n;
  double* x = d2 + s.p;
  double* xn = x + n;
  double* bcol = xn + n;
  double* scale = bcol + n;
  double* ab = scale + n;
  double* scratch = ab + n * n;
  for (int64_t i = 0; i < n; ++i) bcol[i] = s.m > 0 && s.b ? s.b[i * s.m] : 0.0;
  const int32_t at = g.lead ? 2 : 0;
  if (!all_finite(s.a, n * n) || !all_finite(bcol, n)) {
    for (int32_t o = 0; o < s.p; ++o)
      for (int32_t i = 0; i < g.points; ++i) y[int64_t(o) * g.points + i] = i < at ? 0.0 : NAN;
    return 0;
  }
  std::copy_n(s.a, n * n, ab);
  drive_outputs(s, drive, true, c2, d2);  // C A T = (C T)(T^-1 A T): balanced after
  ss_balance_model(ab, bcol, c2, s.n, 1, s.p, scale);
  if (n > 0) ctrl_matrix_kernel_zoh(ab, n, bcol, 1, g.dt, ad, bd, scratch);
  for (int64_t i = 0; i < n; ++i) x[i] = drive == kDriveInitial && x0 ? x0[i] / scale[i] : 0.0;
  for (int32_t o = 0; o < s.p; ++o)
    for (int32_t i = 0; i < at; ++i) y[int64_t(o) * g.points + i] = 0.0;
  run_states(ad, bd, c2, d2, s.n, s.p, drive, true, g.skip, kContinuousSamples, y + at, g.points,
             x, xn);
  return 0;
}

int timeresp_discrete_samples(double t0, double tf, double ts, int64_t* k0, int64_t* count) {
  const double first = std::ceil(grid_steps(t0, ts)), last = std::floor(grid_steps(tf, ts));
  const double c = last - first + 1;
  *k0 = 0;
  *count = 0;
  // NaN fails every comparison; a far first index would cost as many steps.
  if (!(c <= kMaxDiscreteSamples) || !(std::fabs(first) <= kMaxSimulatedSteps)) return kTooManySamples;
  if (c < 1) return 0;
  *k0 = int64_t(first);
  *count = int64_t(c);
  return 0;
}

int64_t timeresp_tf_discrete_work(int32_t m, int32_t n) { return 4 * (int64_t(std::max(m, n)) + 1); }

void timeresp_tf_discrete(const double* num, int32_t m, const double* den, int32_t n, int64_t k0,
                          int64_t count, TimeDrive drive, double* y, double* work) {
  const int32_t l = std::max(m, n);
  double* b = work;
  double* a = b + l + 1;
  double* hist = a + l + 1;
  std::fill(b, b + 2 * (l + 1), 0.0);
  std::memcpy(b + (l - m), num, size_t(m + 1) * sizeof(double));
  std::memcpy(a + (l - n), den, size_t(n + 1) * sizeof(double));
  int64_t at = 0;
  for (; at < count && k0 + at < 0; ++at) y[at] = 0.0;
  if (at < count) run_filter(b, a, l, drive, k0 + at, count - at, y + at, hist);
}

int64_t timeresp_ss_discrete_work(const SsModel& s) {
  return int64_t(s.p) * s.n + s.p + 3 * int64_t(s.n);
}

void timeresp_ss_discrete(const SsModel& s, int64_t k0, int64_t count, TimeDrive drive,
                          const double* x0, double* y, double* work) {
  const int64_t n = s.n;
  double* c2 = work;
  double* d2 = c2 + int64_t(s.p) * n;
  double* x = d2 + s.p;
  double* xn = x + n;
  double* bcol = xn + n;
  for (int64_t i = 0; i < n; ++i) bcol[i] = s.m > 0 && s.b ? s.b[i * s.m] : 0.0;
  drive_outputs(s, drive, false, c2, d2);
  for (int64_t i = 0; i < n; ++i) x[i] = drive == kDriveInitial && x0 ? x0[i] : 0.0;
  int64_t at = 0;
  for (; at < count && k0 + at < 0; ++at)
    for (int32_t o = 0; o < s.p; ++o) y[o * count + at] = 0.0;
  if (at < count)
    run_states(s.a, bcol, c2, d2, s.n, s.p, drive, false, k0 + at, count - at, y + at, count, x,
               xn);
}

namespace {

// The staircase form in place: c times then rows of c values become 2c
// times (t, t + ts) and rows of 2c values (y, y). Destinations lie above
// their sources, so going from the end down never reads a written cell.
void expand_staircase(double* area, int64_t c, int32_t rows, double ts) {
  for (int32_t r = rows; r >= 1; --r)
    for (int64_t k = c - 1; k >= 0; --k) {
      const double v = area[r * c + k];
      area[2 * r * c + 2 * k] = v;
      area[2 * r * c + 2 * k + 1] = v;
    }
  for (int64_t k = c - 1; k >= 0; --k) {
    const double t = area[k];
    area[2 * k] = t;
    area[2 * k + 1] = t + ts;
  }
}

// A sample count from a range, as a double first: kTooManySamples when it
// is not a count that can be run.
int sample_count(double first_time, double tf, double d, double ts, int64_t* n) {
  const double c = std::ceil(grid_steps(tf - d - first_time, ts)) + 1;
  *n = 0;
  if (!(c <= kMaxDiscreteSamples)) return kTooManySamples;
  if (c > 0) *n = int64_t(c);
  return 0;
}

}  // namespace

int timeresp_lsim_tf(const double* b, int32_t nb, const double* a, int32_t na, const double* u,
                     int64_t nu, double ts, double t0, double tf, double d, bool staircase,
                     double* area, int64_t capacity, int64_t* count) {
  *count = 0;
  if (!(ts > 0)) return 0;
  const double s_out = std::floor(grid_steps(t0 - d, ts)) * ts;
  const double start = s_out <= 0 ? s_out : 0.0;
  if (!(std::fabs(start / ts) <= kMaxSimulatedSteps)) return kTooManySamples;
  int64_t n = 0;
  if (int s = sample_count(start, tf, d, ts, &n); s) return s;
  if (double(1 + staircase) * 2 * double(n) > double(capacity)) return kTimeAreaFull;
  const int64_t shift = int64_t(start / ts);  // input index of sample 0, <= 0
  double* t = area;
  double* y = area + n;
  for (int64_t k = 0; k < n; ++k) {
    t[k] = start + double(k) * ts + d;
    double acc = 0.0;
    for (int32_t j = 0; j <= nb && j <= k; ++j) {
      const int64_t idx = k - j + shift;
      if (idx >= 0 && idx < nu) acc += b[j] * u[idx];
    }
    for (int32_t i = 1; i <= na && i <= k; ++i) acc -= a[i] * y[k - i];
    y[k] = acc / a[0];
  }
  int64_t drop = s_out > 0 ? std::min<int64_t>(int64_t(std::llround(s_out / ts)), n) : 0;
  const int64_t c = n - drop;
  std::memmove(area, t + drop, size_t(c) * sizeof(double));
  std::memmove(area + c, y + drop, size_t(c) * sizeof(double));
  if (staircase) expand_staircase(area, c, 1, ts);
  *count = staircase ? 2 * c : c;
  return 0;
}

int timeresp_lsim_ss(const SsModel& s, const double* u, int64_t nu, double ts, double t0,
                     double tf, double d, const double* x0, bool staircase, double* area,
                     int64_t capacity, int64_t* count) {
  *count = 0;
  if (x0 && t0 < 0) t0 = 0;
  if (!(ts > 0)) return 0;
  double st = std::floor(grid_steps(t0 - d, ts)) * ts;
  if (!(std::fabs(st / ts) <= kMaxSimulatedSteps)) return kTooManySamples;
  int64_t n = 0;
  if (int r = sample_count(st, tf, d, ts, &n); r) return r;
  const int32_t p = s.p, m = s.m, ns = s.n;
  if (double(1 + staircase) * double(n) * double(p + 1) + 2.0 * ns > double(capacity))
    return kTimeAreaFull;
  double* x = area + capacity - 2 * int64_t(ns);
  double* xn = x + ns;
  for (int32_t i = 0; i < ns; ++i) x[i] = x0 ? x0[i] : 0.0;
  auto advance = [&](int64_t j) {
    for (int32_t i = 0; i < ns; ++i) {
      double acc = 0.0;
      for (int32_t k = 0; k < ns; ++k) acc += s.a[int64_t(i) * ns + k] * x[k];
      if (j < nu && s.b)
        for (int32_t k = 0; k < m; ++k) acc += s.b[int64_t(i) * m + k] * u[j * m + k];
      xn[i] = acc;
    }
    std::memcpy(x, xn, size_t(ns) * sizeof(double));
  };
  int64_t j = 0, k = 0;
  // Sample k lies at st + k ts: a product, so that a long grid does not
  // drift from its sample times as a running sum would.
  if (st > 0) {
    const int64_t steps = int64_t(std::llround(st / ts));
    for (; j < steps; ++j) advance(j);
  } else if (x0) {
    st = 0;  // the initial state is the state at time 0: its sample is written once
  } else {
    for (; k < n && st + double(k) * ts < -ts / 2; ++k) {
      area[k] = st + double(k) * ts + d;
      for (int32_t o = 0; o < p; ++o) area[(o + 1) * n + k] = 0.0;
    }
  }
  for (; k < n; ++k, ++j) {
    area[k] = st + double(k) * ts + d;
    for (int32_t o = 0; o < p; ++o) {
      double acc = 0.0;
      for (int32_t q = 0; q < ns; ++q) acc += (s.c ? s.c[int64_t(o) * ns + q] : 0.0) * x[q];
      if (s.d && j < nu)
        for (int32_t q = 0; q < m; ++q) acc += s.d[int64_t(o) * m + q] * u[j * m + q];
      area[(o + 1) * n + k] = acc;
    }
    advance(j);
  }
  if (staircase) expand_staircase(area, n, p, ts);
  *count = staircase ? 2 * n : n;
  return 0;
}

int timeresp_resample(double* area, int64_t capacity, int64_t n, int32_t p, const double* new_t,
                      int64_t k) {
  const int64_t rows = int64_t(p) + 1;
  if ((std::max(n, k) + k) * rows > capacity) return kTimeAreaFull;
  double* out = area + std::max(n, k) * rows;
  const double* t = area;
  for (int64_t i = 0; i < k; ++i) {
    const double x = new_t[i];
    out[i] = x;
    const int64_t j = int64_t(std::upper_bound(t, t + n, x) - t) - 1;  // last old time <= x
    for (int32_t o = 0; o < p; ++o) {
      const double* y = area + (o + 1) * n;
      double v;
      if (j < 0 || n == 0) v = 0.0;
      else if (j >= n - 1) v = y[n - 1];
      else {
        const double f = (x - t[j]) / (t[j + 1] - t[j]);
        v = (1 - f) * y[j] + f * y[j + 1];
      }
      out[(o + 1) * k + i] = v;
    }
  }
  std::memmove(area, out, size_t(k * rows) * sizeof(double));
  return 0;
}

int64_t timeresp_hstep_work(int32_t dcd, int32_t dpd, int32_t) {
  const int64_t c = int64_t(dcd) + 1, n = dpd;
  // The controller's output history, the plant's form (A, b, c, d) with its
  // scaling, the held Ad and bd, the state and its successor, the hold's work.
  return c + 2 * n * n + 6 * n + 1 + ctrl_matrix_kernel_zoh_work(n, 1);
}

// The chain runs as the two systems it is: the controller's difference
// equation at the sample times, its output held over r fine steps, and the
// plant's balanced controller form held for the fine step. Folding both into
// one fine-step polynomial, as the z-transform suggests, puts r poles on a
// circle and the plant's near z = 1: that recursion is unstable in rounding.
void timeresp_hstep_values(const double* cn, int32_t dcn, const double* cd, int32_t dcd,
                           const double* pn, int32_t dpn, const double* pd, int32_t dpd, double ts,
                           int32_t r, int64_t first, int64_t count, double* y, double* work) {
  const int64_t n = dpd;
  double* uh = work;  // uh[i]: the controller's output i samples back
  double* a = uh + dcd + 1;
  double* b = a + n * n;
  double* c = b + n;
  double* d = c + n;
  double* scale = d + 1;
  double* ad = scale + n;
  double* bd = ad + n * n;
  double* x = bd + n;
  double* xn = x + n;
  double* scratch = xn + n;
  if (!all_finite(pn, dpn + 1) || !all_finite(pd, dpd + 1)) {
    std::fill(y, y + count, NAN);
    return;
  }
  ctrl_matrix_kernel_g(pn, 1, dpn, pd, dpd, a, b, c, d);
  ss_balance_model(a, b, c, dpd, 1, 1, scale);
  if (n > 0) ctrl_matrix_kernel_zoh(a, n, b, 1, ts / r, ad, bd, scratch);
  std::fill(uh, uh + dcd + 1, 0.0);
  std::fill(x, x + n, 0.0);
  // The controller in z^-1 form: numerator coefficient j at lag dcd - dcn + j,
  // driven by the unit step (1 at every sample from 0 on).
  double u = 0.0;
  const int64_t last = first + count;
  for (int64_t i = 0; i < last; ++i) {
    if (i % r == 0) {
      const int64_t k = i / r;  // the sample: inputs j samples back are 1 while k - j >= 0
      double acc = 0.0;
      for (int32_t j = 0; j <= dcn; ++j)
        if (k - (dcd - dcn + j) >= 0) acc += cn[j];
      for (int32_t q = dcd; q > 0; --q) uh[q] = uh[q - 1];
      for (int32_t q = 1; q <= dcd; ++q) acc -= cd[q] * uh[q];
      u = uh[0] = acc / cd[0];
    }
    if (i >= first) {
      double out = *d * u;
      for (int64_t q = 0; q < n; ++q) out += c[q] * x[q];
      y[i - first] = out;
    }
    for (int64_t q = 0; q < n; ++q) {
      double acc = bd[q] * u;
      for (int64_t j = 0; j < n; ++j) acc += ad[q * n + j] * x[j];
      xn[q] = acc;
    }
    std::memcpy(x, xn, size_t(n) * sizeof(double));
  }
}
