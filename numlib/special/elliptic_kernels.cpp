// Elliptic functions and integrals, and the dilogarithm. F and E of finite
// arguments come from Carlson's symmetric integrals, which hold every
// amplitude and parameter to a few ulps; the Landen loops serve the rest and
// stop when the arithmetic mean stops moving (or c reaches 0), with a step
// limit so that a NaN parameter fails instead of looping.
#include "numlib/special/elliptic_kernels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = kPi / 2;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kPiSquaredOverSix = 1.6449340668482264;
// Landen steps before a failure.
constexpr int kMaxLanden = 100;
// The means are equal when they differ by less than this share of their sum.
constexpr double kMeanSettled = 1.1102230246251565e-15;
// tan at an odd multiple of pi/2 is taken a hair beyond it, so that the
// branch of atan below agrees with the one n counts.
constexpr double kPastPole = 1.000000000000222;
// Phase offsets of the E loop for a positive and a non-positive tangent.
constexpr double kPhaseUp = 1.2566370614359172;
constexpr double kPhaseDown = 1.8849555921538759;
// Terms of the dilogarithm's series at most (u <= 1/2 settles in about 50).
constexpr int kMaxDilogTerms = 200;
constexpr double kEps = 2.220446049250313e-16;
// Carlson's spread factors (3 r)^-1/6 and (r / 4)^-1/6 for r = 2^-53, and a
// step limit that only NaN or infinite arguments reach.
constexpr double kRfSpread = 384.0;
constexpr double kRdSpread = 581.0;
constexpr int kMaxDuplications = 60;

// The parameter transformations that bring m into [0, 1]. mc is 1 - m of
// the new parameter; for m < 0 it is 1 / (1 - m), which 1 - m / (m - 1) only
// reaches with the cancellation of a parameter near 1 (m = -1e6 lost four
// digits to it).
struct Transformed {
  double phi, m, mc, s;
  int kind;  // 0 none, 1 for m > 1, -1 for m < 0 (and NaN)
};

Transformed transform(double phi, double m) {
  if (m > 1) {
    const double s = std::sqrt(m);
    return {std::asin(s * std::sin(phi)), 1 / m, 1 - 1 / m, s, 1};
  }
  if (!(m >= 0)) {
    const double s = std::sqrt(1 - m);
    return {kHalfPi - phi, m / (m - 1), 1 / (1 - m), s, -1};
  }
  return {phi, m, 1 - m, 1, 0};
}

// Carlson's symmetric integrals R_F and R_D by duplication (DLMF 19.36.1 and
// 19.36.2): the arguments are drawn together until the series in their
// spread, cut after its fifth-order terms, is exact to rounding. Arguments
// are non-negative, at most one of them 0 (and z > 0 for R_D).
double carlson_rf(double x, double y, double z) {
  const double a0 = (x + y + z) / 3, x0 = x, y0 = y;
  const double q = kRfSpread * std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z)});
  double a = a0, f = 1;  // f = 4^-steps
  for (int k = 0; k < kMaxDuplications && f * q >= std::fabs(a); ++k) {
    const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
    const double l = sx * sy + sy * sz + sz * sx;
    x = (x + l) / 4, y = (y + l) / 4, z = (z + l) / 4, a = (a + l) / 4;
    f /= 4;
  }
  const double dx = (a0 - x0) * f / a, dy = (a0 - y0) * f / a, dz = -(dx + dy);
  const double e2 = dx * dy - dz * dz, e3 = dx * dy * dz;
  return (1 - e2 / 10 + e3 / 14 + e2 * e2 / 24 - 3 * e2 * e3 / 44) / std::sqrt(a);
}

double carlson_rd(double x, double y, double z) {
  const double a0 = (x + y + 3 * z) / 5, x0 = x, y0 = y;
  const double q = kRdSpread * std::max({std::fabs(a0 - x), std::fabs(a0 - y), std::fabs(a0 - z)});
  double a = a0, f = 1, sum = 0;
  for (int k = 0; k < kMaxDuplications && f * q >= std::fabs(a); ++k) {
    const double sx = std::sqrt(x), sy = std::sqrt(y), sz = std::sqrt(z);
    const double l = sx * sy + sy * sz + sz * sx;
    sum += f / (sz * (z + l));
    x = (x + l) / 4, y = (y + l) / 4, z = (z + l) / 4, a = (a + l) / 4;
    f /= 4;
  }
  const double dx = (a0 - x0) * f / a, dy = (a0 - y0) * f / a, dz = -(dx + dy) / 3;
  const double xy = dx * dy, z2 = dz * dz;
  const double e2 = xy - 6 * z2, e3 = (3 * xy - 8 * z2) * dz, e4 = 3 * (xy - z2) * z2, e5 = xy * z2 * dz;
  const double series = 1 - 3 * e2 / 14 + e3 / 6 + 9 * e2 * e2 / 88 - 3 * e4 / 22 -
                        9 * e2 * e3 / 52 + 3 * e5 / 26;
  return f * series / (a * std::sqrt(a)) + 3 * sum;
}

// sin and cos of phi - k pi, for the k that brings phi into [-pi/2, pi/2],
// from sin and cos of phi itself: (-1)^k times each. The reduced amplitude
// is never formed, as rounding it to a double moves it by up to half an ulp
// of pi/2, which next to an odd multiple of pi/2 and m near 1 (where F
// grows like 1 / cos) costs thousands of ulps of F; sin and cos of the given
// double hold it exactly. k is taken from phi / pi and moved by one where
// that quotient rounded across a half: the cosine must not be negative.
struct Reduced {
  double s, c, k;
};

Reduced reduce_by_pi(double phi) {
  double k = std::nearbyint(phi / kPi);
  double s = std::sin(phi), c = std::cos(phi);
  if (std::fmod(k, 2) != 0) s = -s, c = -c;
  if (c < 0) {
    k += s > 0 ? 1 : -1;
    s = -s, c = -c;
  }
  return {s, c, k};
}

// Whether F and E are taken through Carlson's integrals: a finite amplitude
// and parameter below 1, or above 1 with the amplitude inside its real range
// (|phi| <= pi/2; sin^2 phi <= 1/m is checked by R_F's square roots).
bool by_carlson(double phi, double m) {
  if (!std::isfinite(phi) || !std::isfinite(m)) return false;
  return m < 1 || (m > 1 && std::fabs(phi) <= kHalfPi);
}

// F(phi | m) and E(phi | m) from F = s R_F(c^2, y, 1) and
// E = F - (m / 3) s^3 R_D(c^2, y, 1) on the amplitude reduced by multiples
// of pi, each of which adds 2 K(m) (2 E(m) to E). y = 1 - m s^2 is formed
// as c^2 + (1 - m) s^2 for m > 1/2, where 1 - m is exact and the difference
// would cancel (next to m = 1 and phi = pi/2 the whole of F lies in it); the
// product m s^2 is taken before the last s, as s^3 alone underflows for an
// amplitude of 1e-150 whose E still differs from F.
void carlson_f_e(double phi, double m, double* f, double* e) {
  const Reduced r = reduce_by_pi(phi);
  const double s = r.s, c = r.c, k = r.k, x = c * c, mc = 1 - m;
  const double y = m > 0.5 ? x + mc * s * s : 1 - m * s * s;
  const double rf = carlson_rf(x, y, 1);
  // Between 1/2 and 1, F - (m / 3) s^3 R_D cancels (E nears sin phi while F
  // grows without bound): E is then the sum of the three positive terms of
  // (1 - m) F + m (1 - m) / 3 s^3 R_D(c^2, 1, y) + m s c / sqrt(y).
  const bool upper = m > 0.5 && m < 1;
  if (f) *f = s * rf;
  if (e && upper) *e = mc * (s * rf) + (m * mc / 3) * (s * s * s) * carlson_rd(x, 1, y) + m * s * c / std::sqrt(y);
  else if (e) *e = s * rf - (m * s * s) * (s / 3) * carlson_rd(x, y, 1);
  if (k == 0) return;
  const double kk = carlson_rf(0, mc, 1);
  if (f) *f += 2 * k * kk;
  if (e && upper) *e += 2 * k * (mc / 3 * (carlson_rd(0, mc, 1) + carlson_rd(0, 1, mc)));
  else if (e) *e += 2 * k * (kk - m / 3 * carlson_rd(0, mc, 1));
}

// sn, cn and dn for m in [1/2, 1) by the ascending Landen transformation
// (DLMF 22.7.6-9): the complementary modulus k' falls as k'^2 / (1 + k)^2 at
// each level, so that after a few levels the functions are tanh, sech and
// sech of u scaled down, to rounding; the formulas then lead back up. This
// keeps cn and dn to their relative accuracy next to m = 1, where cos of the
// amplitude near pi/2 keeps only eps of it absolutely. u is first reduced by
// the period 4K.
constexpr int kMaxAscending = 16;

void ascending_landen(double u, double m, double* sn, double* cn, double* dn) {
  const double mc = 1 - m;
  const double kk = carlson_rf(0, mc, 1);
  double w = u;
  const double periods = std::nearbyint(u / (4 * kk));
  if (periods != 0) w = std::fma(-periods, 4 * kk, u);
  double kp[kMaxAscending];  // k' of each level below the first
  double k = std::sqrt(m), kc = std::sqrt(mc);
  int levels = 0;
  // Down until k'^2 cosh^2 w is below rounding, where the functions of
  // parameter 1 - k'^2 are those of parameter 1.
  while (levels < kMaxAscending) {
    const double c = std::cosh(w);
    if (kc * c * kc * c < kEps / 4) break;
    kc = (kc / (1 + k)) * (kc / (1 + k));
    k = std::sqrt((1 - kc) * (1 + kc));
    kp[levels++] = kc;
    w /= 1 + kc;
  }
  double s = std::tanh(w), cc = 1 / std::cosh(w), d = cc;
  for (int j = levels - 1; j >= 0; --j) {
    const double p = kp[j], k2 = (1 - p) * (1 + p), dd = d * d;
    const double s1 = (1 + p) * s * cc / d;
    const double c1 = (1 + p) / k2 * ((dd - p) / d);
    const double d1 = (1 - p) / k2 * ((dd + p) / d);
    s = s1, cc = c1, d = d1;
  }
  if (sn) *sn = s;
  if (cn) *cn = cc;
  if (dn) *dn = d;
}

}  // namespace

bool jacobi_elliptic_kernel(double u, double m, double tol, double* am, double* sn, double* cn,
                            double* dn, double* work, int64_t work_doubles) {
  if (!(m >= 0 && m <= 1)) return false;
  double amp;
  if (m == 1) {
    // The Gudermannian 2 atan(e^u) - pi/2, in a form that does not cancel
    // for small u.
    amp = std::atan(std::sinh(u));
    if (am) *am = amp;
    if (sn) *sn = std::tanh(u);
    if (cn) *cn = 1 / std::cosh(u);
    if (dn) *dn = 1 / std::cosh(u);
    return true;
  }
  if (!am && m >= 0.5 && std::isfinite(u) && tol <= kEllipticTol) {
    ascending_landen(u, m, sn, cn, dn);
    return true;
  }
  const int64_t quarter = work_doubles / 4;
  double* a = work;
  double* b = work + quarter;
  double* c = work + 2 * quarter;
  if (quarter < 1) return false;
  a[0] = 1;
  b[0] = std::sqrt(1 - m);
  c[0] = std::sqrt(m);
  int64_t n = 0;
  while (std::fabs(c[n]) > tol) {
    if (++n >= quarter) return false;
    a[n] = (a[n - 1] + b[n - 1]) / 2;
    b[n] = std::sqrt(a[n - 1] * b[n - 1]);
    c[n] = (a[n - 1] - b[n - 1]) / 2;
  }
  double phi = std::ldexp(a[n] * u, static_cast<int>(n));
  for (int64_t k = n; k >= 1; --k)
    phi = (phi + std::asin(c[k] / a[k] * std::sin(std::fmod(phi, kTwoPi)))) / 2;
  amp = std::fmod(phi, kTwoPi);
  const double s = std::sin(amp);
  if (am) *am = amp;
  if (sn) *sn = s;
  if (cn) *cn = std::cos(amp);
  // 1 - m sn^2 cancels next to m = 1, where sn nears 1 and dn nears cn:
  // cn^2 + (1 - m) sn^2 keeps dn as accurate as cn.
  if (dn) *dn = m > 0.5 ? std::sqrt(std::cos(amp) * std::cos(amp) + (1 - m) * s * s) : std::sqrt(1 - m * s * s);
  return true;
}

bool elliptic_f_kernel(double phi0, double m0, double* out) {
  if (by_carlson(phi0, m0)) {
    carlson_f_e(phi0, m0, out, nullptr);
    return true;
  }
  const Transformed t = transform(phi0, m0);
  double phi = t.phi;
  if (t.mc == 0) {
    // ln((1 + sin) / (1 - sin)) / 2 = atanh(sin), which is asinh(tan) up to
    // pi/2: neither cancels for small amplitudes, and tan keeps its precision
    // next to pi/2, where 1 - sin has none left.
    *out = std::fabs(phi) <= kHalfPi ? std::asinh(std::tan(phi)) : std::atanh(std::sin(phi));
    return true;
  }
  double d = phi > 0 ? 1 : -1;
  phi = std::fabs(phi);
  double a = 1, b = std::sqrt(t.mc), c = (1 - b) / 2;
  for (int steps = 0; c != 0;) {
    const double q = (phi + kHalfPi) / kPi;
    const double n = std::floor(q);
    const double p = n == q ? phi * kPastPole : phi;
    phi = n * kPi + std::atan(b / a * std::tan(p)) + p;
    d *= 2;
    const double next = a - c;
    if (std::fabs(next - a) < kMeanSettled * (std::fabs(a) + std::fabs(next))) break;
    b = std::sqrt(b * a);
    a = next;
    if (steps > kMaxLanden) return false;
    c = (a - b) / 2;
    ++steps;
  }
  const double f = phi / (d * a);
  if (t.kind > 0) {
    *out = f / t.s;
  } else if (t.kind < 0) {
    *out = (kPi / (2 * a) - f) / t.s;
  } else {
    *out = f;
  }
  return true;
}

bool elliptic_e_kernel(double phi0, double m0, double* out) {
  if (by_carlson(phi0, m0)) {
    carlson_f_e(phi0, m0, nullptr, out);
    return true;
  }
  const Transformed t = transform(phi0, m0);
  double phi = t.phi;
  if (t.mc == 0) {
    // E(phi | 1) integrates |cos|: 2n + (-1)^n sin phi with n = round(phi / pi).
    const double n = std::floor((phi + kHalfPi) / kPi);
    const double s = std::sin(phi);
    *out = std::fmod(n, 2) == 0 ? 2 * n + s : 2 * n - s;
    return true;
  }
  const double d = phi > 0 ? 1 : -1;
  phi = std::fabs(phi);
  double a = 1, b = std::sqrt(t.mc), g = 1 - t.m / 2, s = 0, w = 1, c = (1 - b) / 2;
  for (int steps = 0; c != 0;) {
    const double tn = std::tan(phi);
    const double o = tn > 0 ? kPhaseUp : kPhaseDown;
    phi = std::floor((o + phi) / kPi) * kPi + std::atan(b / a * tn) + phi;
    s += c * std::sin(phi);
    g -= w * c * c;
    w *= 2;
    const double next = a - c;
    if (std::fabs(next - a) < kMeanSettled * (std::fabs(a) + std::fabs(next))) break;
    b = std::sqrt(b * a);
    a = next;
    if (steps == kMaxLanden) return false;
    c = (a - b) / 2;
    ++steps;
  }
  const double f = d * phi / (a * w);
  const double e = d * s + g * f;
  if (t.kind > 0) {
    *out = t.s * (e - (1 - 1 / t.s / t.s) * f);
  } else if (t.kind < 0) {
    *out = t.s * (g * kPi / (2 * a) - e);
  } else {
    *out = e;
  }
  return true;
}

bool ellipke_agm_kernel(double m, double tol, double* k, double* e) {
  if (m == 1) {
    if (k) *k = std::numeric_limits<double>::infinity();
    if (e) *e = 1;
    return true;
  }
  if (!(m >= 0 && m < 1)) return false;
  if (!(tol > 0)) tol = kEllipticTol;  // the loop below would never end
  const double b0 = std::sqrt(1 - m);
  double a = (1 + b0) / 2, b = std::sqrt(b0), c = (1 - b0) / 2, w = 2;
  double sum = m + 2 * c * c;
  for (int steps = 0; w * c * c > tol; ++steps) {
    if (steps == kMaxLanden) return false;
    const double an = (a + b) / 2, bn = std::sqrt(a * b);
    c = (a - b) / 2;
    w *= 2;
    sum += w * c * c;
    a = an;
    b = bn;
  }
  const double kk = kPi / (2 * a);
  if (k) *k = kk;
  if (e) *e = (1 - sum / 2) * kk;
  return true;
}

double dilog_kernel(double x) {
  double s = 1, c = 0;
  if (x > 1) {
    const double l = std::log(x);
    c = -l * l / 2;
    s = -1;
    x = 1 / x;
  }
  if (x < 0.5) {
    c += s * (kPiSquaredOverSix - std::log(x) * std::log(1 - x));
    s = -s;
    x = 1 - x;
  }
  // Li2(u) = sum u^j / j^2, summed until the terms no longer count.
  const double u = 1 - x;
  double sum = 0, p = 1;
  for (int j = 1; j <= kMaxDilogTerms; ++j) {
    p *= u;
    const double term = p / (double(j) * j);
    sum += term;
    if (term <= kEps * sum) break;
  }
  if (std::isnan(x)) sum = x;
  return -c - s * sum;
}
