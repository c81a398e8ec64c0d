// Inverses of the gamma and beta distribution functions: Newton's method on
// the logarithm of the smaller tail, over ln x (gamma) or the log-odds of x
// (beta), kept inside a bracket of points known to lie below and above the
// root. A step that leaves the bracket or stops shrinking is replaced by
// bisection, so every answer is a root found to the resolution of the
// variable, never a start or a step that merely came out as zero.
#include <cmath>
#include <limits>

#include "numlib/special/distribution_kernels.h"
#include "numlib/special/special_kernels.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kSqrt2 = 1.4142135623730951;
// Relative resolution asked of the variable (ln x or the log-odds): 2^-50.
constexpr double kRootTolerance = 8.881784197001252e-16;
// Newton, bisection and widening steps together; bisection of the whole
// range of the variable to the tolerance takes about 60.
constexpr int kMaxRootSteps = 300;
// Below this ln x a gamma quantile is below the smallest double.
constexpr double kLogSmallest = -745.2;
constexpr double kSmallestNormal = std::numeric_limits<double>::min();

// The residual of the variable u and its slope, dR/du > 0 where finite.
struct Residual {
  double value;
  double slope;
};

bool put_value(double* out, double v) {
  *out = v;
  return true;
}

// ln(1 + e^v) without overflow: ln x = -softplus(-v) and ln(1 - x) =
// -softplus(v) for the log-odds v of x.
double softplus(double v) { return v > 0 ? v + std::log1p(std::exp(-v)) : std::log1p(std::exp(v)); }

double tolerance(double u) { return kRootTolerance * std::fmax(1.0, std::fabs(u)); }

// The root of R as the last point evaluated and the Newton shift from it,
// which the caller applies in its own variable (x + x (1 - x) shift, say)
// so that the rounding of u itself does not reach the answer.
struct Root {
  double u;
  double shift;
};

// Solves R(u) = 0 for an increasing R from u. The bracket [lo, hi] holds
// the points seen with R < 0 and R > 0; Newton is taken while it lands
// strictly inside and at least halves the step before last, else the
// bracket is bisected, or, while one side is still open, the search widens
// towards it by doubling strides.
template <class Eval>
bool solve_increasing(Eval eval, double u, Root* root) {
  double lo = -kInf, hi = kInf;
  double step = kInf, step_before = kInf, stride = 1;
  for (int n = 0; n < kMaxRootSteps; ++n) {
    Residual r;
    if (!eval(u, &r)) return false;
    *root = {u, 0};
    if (r.value == 0) return true;
    if (r.value < 0) {
      lo = u;
    } else if (r.value > 0) {
      hi = u;
    } else {
      return false;  // NaN: no side to go to
    }
    const double newton = -r.value / r.slope;
    const bool closed = std::isfinite(lo) && std::isfinite(hi);
    if (closed && hi - lo <= tolerance(u)) {
      if (std::fabs(newton) <= hi - lo) root->shift = newton;
      return true;
    }
    double next = u + newton;
    const bool take_newton = std::isfinite(next) && next > lo && next < hi &&
                             (!closed || std::fabs(newton) <= 0.5 * std::fabs(step_before));
    if (take_newton && std::fabs(newton) <= tolerance(u)) {
      root->shift = newton;
      return true;
    }
    if (!take_newton) {
      if (closed) {
        next = lo + (hi - lo) / 2;
      } else {
        next = r.value < 0 ? u + stride : u - stride;
        stride *= 2;
      }
    }
    step_before = step;
    step = next - u;
    u = next;
  }
  return false;
}

// The standard normal quantile of a tail pair, for starting points.
double normal_quantile(double p, double q) { return kSqrt2 * erfinv_kernel(p <= 0.5 ? 2 * p - 1 : 1 - 2 * q); }

// ln z of the standard gamma quantile (scale 1) of P = p, Q = q.
bool gamma_log_quantile(double p, double q, double k, Root* u) {
  const bool lower = p <= 0.5;
  const double target = std::log(lower ? p : q);
  // Wilson and Hilferty's cube of a normal variate for shapes from 1; for
  // smaller shapes or beyond its reach, P(k, z) ~ z^k / Gamma(k + 1).
  double start = kNaN;
  if (k >= 1) {
    const double c = 1 / (9 * k);
    const double base = 1 - c + normal_quantile(p, q) * std::sqrt(c);
    if (base > 0) start = std::log(k) + 3 * std::log(base);
  }
  if (!std::isfinite(start)) start = (std::log(p) + log_gamma_lanczos(k + 1)) / k;
  if (lower && start < kLogSmallest) {
    *u = {-kInf, 0};  // the quantile is below every positive double
    return true;
  }
  if (!std::isfinite(start)) start = 0;
  auto eval = [&](double v, Residual* r) {
    const double z = std::exp(v);
    double pl = 0, pu = 1;
    if (z == kInf) {
      pl = 1;
      pu = 0;
    } else if (z > 0 && !incomplete_gamma_pair(k, z, &pl, &pu)) {
      return false;
    }
    // d P / d ln z = z^k e^-z / Gamma(k), the density in log form.
    const double log_density = log_gamma_prefactor(k, z);
    if (lower) {
      r->value = std::log(pl) - target;
      r->slope = std::exp(log_density - std::log(pl));
    } else {
      r->value = target - std::log(pu);
      r->slope = std::exp(log_density - std::log(pu));
    }
    return true;
  };
  return solve_increasing(eval, start, u);
}

// The log-odds u = ln(x / (1 - x)) of the beta quantile of P = p, Q = q.
bool beta_log_odds_quantile(double p, double q, double a, double b, Root* u) {
  const bool lower = p <= 0.5;
  const double target = std::log(lower ? p : q);
  const double log_b = log_beta(a, b);
  // The normal approximation for shapes from 1, else the tail forms
  // I_x(a, b) ~ x^a / (a B) and 1 - I_x(a, b) ~ (1 - x)^b / (b B).
  double start = kNaN;
  const double mean = a / (a + b);
  if (a >= 1 && b >= 1) {
    const double sd = std::sqrt(a * b / ((a + b) * (a + b) * (a + b + 1)));
    const double x = mean + normal_quantile(p, q) * sd;
    if (x > 0 && x < 1) start = std::log(x / (1 - x));
  }
  if (!std::isfinite(start)) {
    // ln x (or ln(1 - x)) of the tail form, turned into log-odds.
    const double lt = lower ? (target + std::log(a) + log_b) / a : (target + std::log(b) + log_b) / b;
    if (lt < 0) start = (lt - std::log1p(-std::exp(lt))) * (lower ? 1 : -1);
  }
  if (!std::isfinite(start)) start = std::log(mean / (1 - mean));
  if (!std::isfinite(start)) start = 0;
  auto eval = [&](double v, Residual* r) {
    // x and 1 - x both from v, so neither loses digits near its end.
    const double log_x = -softplus(-v), log_y = -softplus(v);
    const double x = std::exp(log_x), y = std::exp(log_y);
    double log_il, log_iu;
    if (x < kSmallestNormal || y < kSmallestNormal) {
      // Beyond the normal doubles at one end (where x or 1 - x has too few
      // bits left to move the tail) the tail is its leading term, x^a / (a B)
      // or (1 - x)^b / (b B), taken from ln x or ln(1 - x) themselves.
      if (x < y) {
        log_il = a * log_x - std::log(a) - log_b;
        log_iu = std::log1p(-std::exp(log_il));
      } else {
        log_iu = b * log_y - std::log(b) - log_b;
        log_il = std::log1p(-std::exp(log_iu));
      }
    } else {
      double il, iu;
      if (!incomplete_beta_pair(x, y, a, b, &il, &iu)) return false;
      log_il = std::log(il);
      log_iu = std::log(iu);
    }
    // d I / d u = x^a (1 - x)^b / B(a, b).
    const double log_density = a * log_x + b * log_y - log_b;
    if (lower) {
      r->value = log_il - target;
      r->slope = std::exp(log_density - log_il);
    } else {
      r->value = target - log_iu;
      r->slope = std::exp(log_density - log_iu);
    }
    return true;
  };
  return solve_increasing(eval, start, u);
}

}  // namespace

bool gamma_icdf_kernel(double p, double k, double theta, double* out) {
  if (!(k >= 0 && theta >= 0 && p >= 0 && p <= 1)) return put_value(out, kNaN);
  if (p == 0) return put_value(out, 0);
  if (p == 1) return put_value(out, kInf);
  if (std::isinf(k)) return put_value(out, kNaN);
  if (k == 0) return put_value(out, 0);  // all of the mass at 0
  Root u;
  if (!gamma_log_quantile(p, 1 - p, k, &u)) return false;
  const double z = std::exp(u.u);
  return put_value(out, (z + z * u.shift) * theta);
}

bool beta_quantile(double p, double q, double a, double b, BetaQuantile* out) {
  if (!(a >= 0 && b >= 0 && p >= 0 && p <= 1 && q >= 0 && q <= 1) || std::isinf(a) || std::isinf(b) ||
      (a == 0 && b == 0)) {
    *out = {kNaN, kNaN, kNaN, 0};
    return true;
  }
  // The ends are exact; a shape of zero puts all of the mass at one end.
  const bool at_zero = p == 0 || (a == 0 && q > 0);
  if (at_zero || q == 0 || b == 0) {
    *out = at_zero ? BetaQuantile{0, 1, -kInf, 0} : BetaQuantile{1, 0, kInf, 0};
    return true;
  }
  Root u;
  if (!beta_log_odds_quantile(p, q, a, b, &u)) return false;
  const double x = std::exp(-softplus(-u.u)), y = std::exp(-softplus(u.u));
  // d x / d u = x (1 - x).
  const double moved = x * y * u.shift;
  *out = {x + moved, y - moved, u.u, u.shift};
  return true;
}

double beta_odds_power(const BetaQuantile& q, double power, double scale) {
  double v = std::exp(power * q.log_odds);
  if (v >= std::numeric_limits<double>::min() && v < kInf) {
    v *= scale;
  } else {
    v = std::exp(power * q.log_odds + std::log(scale));
  }
  if (v == 0 || v == kInf || std::isnan(v)) return v;  // no shift moves it back (and Inf * 0 is NaN)
  return v + v * power * q.shift;
}

bool beta_icdf_kernel(double p, double a, double b, double* out) {
  BetaQuantile q;
  if (!beta_quantile(p, 1 - p, a, b, &q)) return false;
  return put_value(out, q.x);
}
