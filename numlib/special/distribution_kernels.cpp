// Kernels of the continuous distributions: closed forms, or the error, gamma
// and beta kernels, or their inverses (distribution_inverses.cpp). Densities
// and distribution functions of distributions on [0, Inf) are 0 below 0.
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

bool put(double* out, double v) {
  *out = v;
  return true;
}

double erf_of(double x) { return erf_kernel(x, false); }

// z^(k - 1) e^-z / Gamma(k) for z > 0, in log form: the power and Gamma(k)
// overflow long before their quotient does.
double gamma_density(double z, double k) { return std::exp(log_gamma_prefactor(k, z)) / z; }

// Normal.
bool norm_pdf(double x, double mu, double s, double* o) {
  return put(o, std::exp(-(x - mu) * (x - mu) / (2 * s * s)) / (s * kSqrt2Pi));
}
bool norm_cdf(double x, double mu, double s, double* o) {
  return put(o, (erf_of((x - mu) / (s * kSqrt2)) + 1) / 2);
}
bool norm_icdf(double p, double mu, double s, double* o) {
  return put(o, erfinv_kernel(2 * p - 1) * s * kSqrt2 + mu);
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
  *o = !(p >= 0 && p <= 1) ? kNaN : p == 0 ? a : p == 1 ? b : a + (b - a) * p;
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
  return put(o, gamma_function_kernel((nu + 1) / 2, false) /
                    (gamma_function_kernel(nu / 2, false) * std::sqrt(nu * kPi) *
                     std::pow(1 + x * x / nu, (nu + 1) / 2)));
}
bool t_cdf(double x, double nu, double, double* o) {
  if (!integer_degrees(nu)) return put(o, kNaN);
  if (nu == 1) return put(o, std::atan(x) / kPi + 0.5);
  if (x == 0) return put(o, 0.5);
  double i;
  if (!incomplete_beta_kernel(nu / (nu + x * x), nu / 2, 0.5, &i)) return false;
  return put(o, x > 0 ? 1 - i / 2 : i / 2);
}
bool t_icdf(double p, double nu, double, double* o) {
  // t = sqrt(nu y / (1 - y)), y the beta quantile of 2q - 1 with
  // q = max(p, 1 - p); from the tail 1 - q itself and through the odds,
  // t keeps its digits far out in the tails.
  const bool lower = p < 0.5;
  const double tail = lower ? p : 1 - p;
  BetaQuantile y;
  if (!beta_quantile(1 - 2 * tail, 2 * tail, 0.5, nu / 2, &y)) return false;
  const double t = std::sqrt(nu) * beta_odds_power(y, 0.5);
  return put(o, lower ? -t : t);
}

// F.
bool f_pdf(double x, double d1, double d2, double* o) {
  if (!(x >= 0)) return put(o, 0);
  const double b = std::exp(log_gamma_lanczos(d1 / 2) + log_gamma_lanczos(d2 / 2) -
                            log_gamma_lanczos((d1 + d2) / 2));
  const double w = d1 * x + d2;
  return put(o, std::pow(d1 * x / w, d1 / 2) * std::pow(d2 / w, d2 / 2) / (x * b));
}
bool f_cdf(double x, double d1, double d2, double* o) {
  if (x < 0) return put(o, 0);
  double i;
  if (!incomplete_beta_kernel(d2 / (d2 + d1 * x), d2 / 2, d1 / 2, &i)) return false;
  return put(o, 1 - i);
}
bool f_icdf(double p, double d1, double d2, double* o) {
  BetaQuantile y;
  if (!beta_quantile(p, 1 - p, d1 / 2, d2 / 2, &y)) return false;
  return put(o, d2 * beta_odds_power(y, 1) / d1);
}

// Exponential with mean mu.
bool exp_pdf(double x, double mu, double, double* o) {
  return put(o, !(x >= 0) ? 0 : std::exp(-x / mu) / mu);
}
bool exp_cdf(double x, double mu, double, double* o) {
  return put(o, !(x > 0) ? 0 : 1 - std::exp(-x / mu));
}

// Beta.
bool beta_pdf(double x, double a, double b, double* o) {
  if (!(x > 0) || x >= 1) return put(o, 0);
  return put(o, std::pow(x, a - 1) * std::pow(1 - x, b - 1) / beta_function_kernel(a, b));
}
bool beta_cdf(double x, double a, double b, double* o) {
  if (x <= 0) return put(o, 0);
  if (x >= 1) return put(o, 1);
  return incomplete_beta_kernel(x, a, b, o);
}

// Rayleigh.
bool rayl_pdf(double x, double s, double, double* o) {
  return put(o, !(x > 0) ? 0 : x / (s * s) * std::exp(-x * x / (2 * s * s)));
}
bool rayl_cdf(double x, double s, double, double* o) {
  return put(o, !(x > 0) ? 0 : 1 - std::exp(-x * x / (2 * s * s)));
}

// Cauchy.
bool cauchy_pdf(double x, double x0, double g, double* o) {
  const double t = (x - x0) / g;
  return put(o, 1 / ((t * t + 1) * g * kPi));
}
bool cauchy_cdf(double x, double x0, double g, double* o) {
  return put(o, std::atan((x - x0) / g) / kPi + 0.5);
}

// Chi.
bool chi_pdf(double x, double k, double, double* o) {
  if (x < 0) return put(o, 0);
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
  return put(o, 2 * th / kPi * std::exp(-x * x * th * th / kPi));
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
  const double s = x > mu ? 1 : -1;
  return put(o, ((1 - std::exp(-std::fabs(x - mu) / b)) * s + 1) / 2);
}

// Lognormal: mu and sigma of ln x; no mass at or below 0.
bool logn_pdf(double x, double mu, double s, double* o) {
  if (x <= 0) return put(o, 0);
  const double l = std::log(x) - mu;
  return put(o, std::exp(-l * l / (2 * s * s)) / (x * s * kSqrt2Pi));
}
bool logn_cdf(double x, double mu, double s, double* o) {
  if (x <= 0) return put(o, 0);
  return put(o, (erf_of((std::log(x) - mu) / (s * kSqrt2)) + 1) / 2);
}
bool logn_icdf(double p, double mu, double s, double* o) {
  if (!(p >= 0 && p <= 1)) return put(o, kNaN);
  if (p == 1) return put(o, kInf);
  return put(o, std::exp(erfinv_kernel(2 * p - 1) * s * kSqrt2 + mu));
}

// Weibull with shape k and scale lambda.
bool weib_pdf(double x, double k, double l, double* o) {
  if (x < 0) return put(o, 0);
  return put(o, k * std::pow(x, k - 1) / std::pow(l, k) * std::exp(-std::pow(x / l, k)));
}
bool weib_cdf(double x, double k, double l, double* o) {
  if (x < 0) return put(o, 0);
  return put(o, 1 - std::exp(-std::pow(x / l, k)));
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
