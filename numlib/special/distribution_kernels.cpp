// Kernels of the continuous distributions: closed forms, or the error, gamma
// and beta kernels, or their inverses (distribution_inverses.cpp). Densities
// and distribution functions of distributions on [0, Inf) are 0 below 0.
// Every value that is a double comes out near full precision: densities in
// log form where their factors overflow, each tail of a distribution
// function from its own form (erfc, expm1, the smaller incomplete tail).
#include "numlib/special/distribution_kernels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "numlib/special/special_kernels.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kSqrt2Pi = 2.5066282746310007;
constexpr double kInvSqrtPi = 0.5641895835477563;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Student's t needs an integer count of degrees of freedom below 2^31.
constexpr double kMaxDegrees = 2147483648.0;
constexpr double kQuarter = 0.25;
constexpr double kLn2 = 0.6931471805599453;
// ln of the largest double: beyond it exp overflows.
constexpr double kLogLargest = 709.782712893384;

// The two parts u = r / (1 + r) and 1 - u = 1 / (1 + r) of a ratio r >= 0
// given as num / den, each to its own relative accuracy (and without
// forming r where it overflows).
struct Split {
  double u, v;
};
Split split_ratio(double num, double den) {
  if (num <= den) {
    const double r = num / den;
    return {r / (1 + r), 1 / (1 + r)};
  }
  const double r = den / num;
  return {1 / (1 + r), r / (1 + r)};
}

bool put(double* out, double v) {
  *out = v;
  return true;
}

// e^log_front / den: the quotient where both are ordinary doubles (the
// exponent of a large ln den would cost its digits), else in log form.
double exp_over(double log_front, double den) {
  const double front = std::exp(log_front);
  const double v = front / den;
  if (front >= std::numeric_limits<double>::min() && front < kInf &&
      v >= std::numeric_limits<double>::min() && v < kInf)
    return v;
  return std::exp(log_front - std::log(den));
}

double erf_of(double x) { return erf_kernel(x, false); }

// z^(k - 1) e^-z / Gamma(k) for z > 0, in log form: the power and Gamma(k)
// overflow long before their quotient does.
double gamma_density(double z, double k) { return std::exp(log_gamma_prefactor(k, z)) / z; }

// A density c x^(k - 1) (...) at x = 0: +Inf for k < 1, 0 for k > 1, the
// constant for k = 1 (whose other factors may overflow or vanish on their own).
double density_at_zero(double k, double at_one) {
  if (std::isnan(k)) return kNaN;
  return k < 1 ? kInf : k > 1 ? 0 : at_one;
}

// Phi(z) of the standard normal through erfc on the side of z, so that
// neither tail loses its digits to (erf + 1) / 2.
double std_normal_cdf(double z) { return std::erfc(-z / kSqrt2) / 2; }

// The standard normal quantile: erfinv of 2p - 1 in the middle (exact
// there), erfc's inverse of the smaller tail 2p or 2 (1 - p) outside it.
double std_normal_quantile(double p) {
  if (!(p >= 0 && p <= 1)) return kNaN;
  if (p < kQuarter) return -kSqrt2 * erfc_inverse(2 * p);
  if (p > 1 - kQuarter) return kSqrt2 * erfc_inverse(2 * (1 - p));
  return kSqrt2 * erfinv_kernel(2 * p - 1);
}

// Normal.
bool norm_pdf(double x, double mu, double s, double* o) {
  const double z = (x - mu) / s;
  return put(o, std::exp(-z * z / 2) / (s * kSqrt2Pi));
}
bool norm_cdf(double x, double mu, double s, double* o) { return put(o, std_normal_cdf((x - mu) / s)); }
bool norm_icdf(double p, double mu, double s, double* o) {
  return put(o, std_normal_quantile(p) * s + mu);
}

// Uniform: b < a writes the value and then fails the call.
bool unif_pdf(double x, double a, double b, double* o) {
  *o = (x < a || x >= b) ? 0 : 1 / (b - a);
  return !(b < a);
}
bool unif_cdf(double x, double a, double b, double* o) {
  *o = x < a ? 0 : x < b ? (x - a) / (b - a) : 1;
  return !(b < a);
}
bool unif_icdf(double p, double a, double b, double* o) {
  // From the nearer end, so that the end itself is not lost in a + (b - a) p.
  *o = !(p >= 0 && p <= 1) ? kNaN : p == 0 ? a : p == 1 ? b : p <= 0.5 ? a + (b - a) * p : b - (b - a) * (1 - p);
  return !(b < a);
}

// Chi-square.
bool chi2_pdf(double x, double k, double, double* o) {
  if (!(x > 0)) return put(o, 0);
  return put(o, gamma_density(x / 2, k / 2) / 2);
}
bool chi2_cdf(double x, double k, double, double* o) {
  if (x < 0) return put(o, 0);
  return incomplete_gamma_kernel(k / 2, x / 2, o);
}
bool chi2_icdf(double p, double k, double, double* o) {
  if (!gamma_icdf_kernel(p, k / 2, 1, o)) return false;
  *o *= 2;
  return true;
}

// Student's t.
bool integer_degrees(double nu) { return std::trunc(nu) == nu && nu > 0 && nu < kMaxDegrees; }
bool t_pdf(double x, double nu, double, double* o) {
  if (!integer_degrees(nu)) return put(o, kNaN);
  // (1 + x^2 / nu)^(-(nu + 1) / 2) / (sqrt(nu) B(nu / 2, 1 / 2)), in log
  // form: the Gamma quotient of the definition overflows from nu = 343.
  const double r = x * x / nu;
  const double log_base = std::isfinite(r) ? std::log1p(r) : 2 * std::log(std::fabs(x)) - std::log(nu);
  return put(o, std::exp(-(nu + 1) / 2 * log_base - 0.5 * std::log(nu) - log_beta(nu / 2, 0.5)));
}
bool t_cdf(double x, double nu, double, double* o) {
  if (!integer_degrees(nu)) return put(o, kNaN);
  if (nu == 1) {
    // atan(x) / pi + 1/2, as atan(1 / |x|) / pi in the lower tail.
    return put(o, x < -1 ? std::atan(-1 / x) / kPi : std::atan(x) / kPi + 0.5);
  }
  if (x == 0) return put(o, 0.5);
  // I_{nu / (nu + x^2)}(nu / 2, 1 / 2) with both nu / (nu + x^2) and
  // x^2 / (nu + x^2) to full accuracy.
  const double ax = std::fabs(x);
  const Split w = ax <= 1 ? split_ratio(ax * ax, nu) : split_ratio(ax, nu / ax);
  double i, rest;
  if (!incomplete_beta_pair(w.v, w.u, nu / 2, 0.5, &i, &rest)) return false;
  return put(o, x > 0 ? 0.5 + rest / 2 : i / 2);
}
bool t_icdf(double p, double nu, double, double* o) {
  // t = sqrt(nu y / (1 - y)), y the beta quantile of 2q - 1 with
  // q = max(p, 1 - p); from the tail 1 - q itself and through the odds,
  // t keeps its digits far out in the tails.
  const bool lower = p < 0.5;
  const double tail = lower ? p : 1 - p;
  BetaQuantile y;
  if (!beta_quantile(1 - 2 * tail, 2 * tail, 0.5, nu / 2, &y)) return false;
  const double t = beta_odds_power(y, 0.5, std::sqrt(nu));
  return put(o, lower ? -t : t);
}

// F.
// d1 x / (d1 x + d2) and d2 / (d1 x + d2), each to its own accuracy.
Split f_split(double x, double d1, double d2) {
  const double num = d1 * x;
  if (std::isfinite(num)) return split_ratio(num, d2);
  return split_ratio(x, d2 / d1);
}
bool f_pdf(double x, double d1, double d2, double* o) {
  if (!(x >= 0)) return put(o, 0);
  if (x == 0) {
    // The density at 0: +Inf below d1 = 2, 0 above, d1 / (d2 B(1, d2 / 2)) = 1 at 2.
    if (std::isnan(d1 + d2)) return put(o, kNaN);
    return put(o, d1 < 2 ? kInf : d1 > 2 ? 0 : 1);
  }
  // u^(d1 / 2) (1 - u)^(d2 / 2) / (x B(d1 / 2, d2 / 2)), u = d1 x / (d1 x + d2).
  const Split w = f_split(x, d1, d2);
  return put(o, exp_over(log_beta_power(d1 / 2, d2 / 2, w.u, w.v), x));
}
bool f_cdf(double x, double d1, double d2, double* o) {
  if (x < 0) return put(o, 0);
  // I_u(d1 / 2, d2 / 2): the same as 1 - I_{1 - u}(d2 / 2, d1 / 2), without
  // losing the lower tail where d1 x / (d1 x + d2) is far below 1.
  const Split w = f_split(x, d1, d2);
  double lower, upper;
  if (!incomplete_beta_pair(w.u, w.v, d1 / 2, d2 / 2, &lower, &upper)) return false;
  return put(o, lower);
}
bool f_icdf(double p, double d1, double d2, double* o) {
  BetaQuantile y;
  if (!beta_quantile(p, 1 - p, d1 / 2, d2 / 2, &y)) return false;
  return put(o, beta_odds_power(y, 1, d2 / d1));
}

// Exponential with mean mu.
bool exp_pdf(double x, double mu, double, double* o) {
  return put(o, !(x >= 0) ? 0 : std::exp(-x / mu) / mu);
}
bool exp_cdf(double x, double mu, double, double* o) {
  return put(o, !(x > 0) ? 0 : -std::expm1(-x / mu));
}

// Beta.
bool beta_pdf(double x, double a, double b, double* o) {
  if (!(x > 0) || x >= 1) return put(o, 0);
  // x^(a - 1) (1 - x)^(b - 1) / B(a, b) in log form.
  // Divided by the smaller of x and 1 - x (exact from 1/2 up); the log of
  // the other is small.
  const double y = 1 - x, pt = log_beta_power(a, b, x, y);
  return put(o, x <= 0.5 ? exp_over(pt - std::log1p(-x), x) : exp_over(pt - std::log(x), y));
}
bool beta_cdf(double x, double a, double b, double* o) {
  if (x <= 0) return put(o, 0);
  if (x >= 1) return put(o, 1);
  return incomplete_beta_kernel(x, a, b, o);
}

// Rayleigh.
bool rayl_pdf(double x, double s, double, double* o) {
  const double z = x / s;
  return put(o, !(x > 0) ? 0 : z / s * std::exp(-z * z / 2));
}
bool rayl_cdf(double x, double s, double, double* o) {
  const double z = x / s;
  return put(o, !(x > 0) ? 0 : -std::expm1(-z * z / 2));
}

// Cauchy.
bool cauchy_pdf(double x, double x0, double g, double* o) {
  const double t = (x - x0) / g;
  if (std::fabs(t) > 1) {
    // 1 / (t^2 + 1) as u^2 / (1 + u^2), u = 1 / t: t^2 may overflow.
    const double u = 1 / t;
    return put(o, u * u / ((1 + u * u) * g * kPi));
  }
  return put(o, 1 / ((t * t + 1) * g * kPi));
}
bool cauchy_cdf(double x, double x0, double g, double* o) {
  const double t = (x - x0) / g;
  // atan(t) / pi + 1/2, as atan(1 / |t|) / pi in the lower tail.
  return put(o, t < -1 ? std::atan(-1 / t) / kPi : std::atan(t) / kPi + 0.5);
}

// Chi.
bool chi_pdf(double x, double k, double, double* o) {
  if (x < 0) return put(o, 0);
  if (x * x == kInf) return put(o, 0);
  if (x >= 1) {
    // 2 z^(k / 2) e^-z / (x Gamma(k / 2)) with z = x^2 / 2: the gamma
    // density's log form, exact where x^(k - 1) and Gamma(k / 2) overflow.
    return put(o, 2 * std::exp(log_gamma_prefactor(k / 2, x * x / 2) - std::log(x)));
  }
  if (x > 0) {
    // x^(k - 1) as x^k / x: k - 1 itself may round.
    const double v = std::pow(x, k) / x * std::exp(-x * x / 2) /
                     (std::pow(2, k / 2 - 1) * gamma_function_kernel(k / 2, false));
    if (v >= std::numeric_limits<double>::min() && v < kInf) return put(o, v);
    return put(o, std::exp(k * std::log(x) - x * x / 2 - (k / 2 - 1) * kLn2 - log_gamma_lanczos(k / 2)) / x);
  }
  return put(o, std::pow(x, k - 1) * std::exp(-x * x / 2) /
                    (std::pow(2, k / 2 - 1) * gamma_function_kernel(k / 2, false)));
}
bool chi_cdf(double x, double k, double, double* o) {
  if (x < 0) return put(o, 0);
  return incomplete_gamma_kernel(k / 2, x * x / 2, o);
}

// Gamma with shape k and scale theta.
bool gamma_pdf(double x, double k, double th, double* o) {
  if (x < 0) return put(o, 0);
  if (x > 0 && std::isfinite(x)) return put(o, gamma_density(x / th, k) / th);
  if (x == 0) return put(o, density_at_zero(k, 1 / th));
  return put(o, std::pow(x, k - 1) * std::exp(-x / th) /
                    (gamma_function_kernel(k, false) * std::pow(th, k)));
}
bool gamma_cdf(double x, double k, double th, double* o) {
  if (x < 0) return put(o, 0);
  return incomplete_gamma_kernel(k, x / th, o);
}
bool gamma_icdf(double p, double k, double th, double* o) { return gamma_icdf_kernel(p, k, th, o); }

// Half-normal with parameter theta.
bool halfnorm_pdf(double x, double th, double, double* o) {
  if (x < 0) return put(o, 0);
  const double z = x * th;
  return put(o, 2 * th / kPi * std::exp(-z * z / kPi));
}
bool halfnorm_cdf(double x, double th, double, double* o) {
  if (x < 0) return put(o, 0);
  return put(o, erf_of(x * th * kInvSqrtPi));
}

// Laplace.
bool laplace_pdf(double x, double mu, double b, double* o) {
  return put(o, std::exp(-std::fabs(x - mu) / b) / (2 * b));
}
bool laplace_cdf(double x, double mu, double b, double* o) {
  // ((1 - e) s + 1) / 2 with e = exp(-|x - mu| / b): e / 2 itself below mu.
  const double e = std::exp(-std::fabs(x - mu) / b);
  return put(o, x > mu ? 1 - e / 2 : e / 2);
}

// Lognormal: mu and sigma of ln x; no mass at or below 0.
bool logn_pdf(double x, double mu, double s, double* o) {
  if (x <= 0) return put(o, 0);
  const double z = (std::log(x) - mu) / s;
  const double den = x * s * kSqrt2Pi;
  if (den >= std::numeric_limits<double>::min() && den < kInf) return put(o, std::exp(-z * z / 2) / den);
  // 1 / x beyond the doubles: x into the exponent.
  return put(o, std::exp(-z * z / 2 - std::log(x) - std::log(s * kSqrt2Pi)));
}
bool logn_cdf(double x, double mu, double s, double* o) {
  if (x <= 0) return put(o, 0);
  return put(o, std_normal_cdf((std::log(x) - mu) / s));
}
bool logn_icdf(double p, double mu, double s, double* o) {
  if (!(p >= 0 && p <= 1)) return put(o, kNaN);
  if (p == 1) return put(o, kInf);
  return put(o, std::exp(std_normal_quantile(p) * s + mu));
}

// Weibull with shape k and scale lambda.
// (x / l)^k; where x / l is below the normal doubles (and would have lost
// its bits), as (2^256 x / l)^k 2^(-256 k).
constexpr double kUpscale = 0x1p256;
constexpr double kDownscale = 0x1p-256;
double ratio_power(double x, double l, double k) {
  const double r = x / l;
  if (!(r > 0 && r < std::numeric_limits<double>::min())) return std::pow(r, k);
  return std::pow(x * kUpscale / l, k) * std::pow(kDownscale, k);
}

bool weib_pdf(double x, double k, double l, double* o) {
  if (x < 0) return put(o, 0);
  if (x > 0) {
    // k x^(k - 1) / l^k = (k / x) (x / l)^k, whose powers alone overflow.
    const double w = ratio_power(x, l, k);
    if (w == kInf) return put(o, 0);
    const double front = k / x;
    if (front < kInf && w > 0 && w <= kLogLargest) return put(o, front * w * std::exp(-w));
    return put(o, std::exp(std::log(k) - std::log(x) + std::log(w) - w));
  }
  if (x == 0) return put(o, density_at_zero(k, 1 / l));
  return put(o, k * std::pow(x, k - 1) / std::pow(l, k) * std::exp(-std::pow(x / l, k)));
}
bool weib_cdf(double x, double k, double l, double* o) {
  if (x < 0) return put(o, 0);
  return put(o, -std::expm1(-ratio_power(x, l, k)));
}

}  // namespace

const DistributionRow kDistributionTable[kDistributionRows] = {
    {{"norm", "normal"}, DistParams::kDefaulted, norm_pdf, norm_cdf, norm_icdf},
    {{"unif", "uniform"}, DistParams::kDefaulted, unif_pdf, unif_cdf, unif_icdf},
    {{"chi2", "chisquare"}, DistParams::kOne, chi2_pdf, chi2_cdf, chi2_icdf},
    {{"student", "t"}, DistParams::kOne, t_pdf, t_cdf, t_icdf},
    {{"f", nullptr}, DistParams::kTwo, f_pdf, f_cdf, f_icdf},
    {{"exp", "exponential"}, DistParams::kOne, exp_pdf, exp_cdf, nullptr},
    {{"beta", nullptr}, DistParams::kTwo, beta_pdf, beta_cdf, beta_icdf_kernel},
    {{"rayl", "rayleigh"}, DistParams::kOne, rayl_pdf, rayl_cdf, nullptr},
    {{"cauchy", nullptr}, DistParams::kTwo, cauchy_pdf, cauchy_cdf, nullptr},
    {{"chi", nullptr}, DistParams::kOne, chi_pdf, chi_cdf, nullptr},
    {{"gamma", nullptr}, DistParams::kTwo, gamma_pdf, gamma_cdf, gamma_icdf},
    {{"half-normal", nullptr}, DistParams::kOne, halfnorm_pdf, halfnorm_cdf, nullptr},
    {{"laplace", nullptr}, DistParams::kTwo, laplace_pdf, laplace_cdf, nullptr},
    {{"logn", "lognormal"}, DistParams::kDefaulted, logn_pdf, logn_cdf, logn_icdf},
    {{"weib", "weibull"}, DistParams::kTwo, weib_pdf, weib_cdf, nullptr},
};
