// Scalar kernels of the fifteen continuous distributions and the table that
// names them. Every kernel takes (x, a, b), ignoring the parameters its
// distribution does not have, and returns a success flag.
#pragma once

#include <cstdint>

using DistKernel = bool (*)(double x, double a, double b, double* out);

// How many parameters a distribution takes.
enum class DistParams : uint8_t {
  kDefaulted,  // two, each may be left out (0 and 1)
  kOne,
  kTwo,
};

struct DistributionRow {
  const char* names[2];  // second may be null
  DistParams params;
  DistKernel pdf, cdf, icdf;  // null: not supported
};

constexpr int kDistributionRows = 15;
extern const DistributionRow kDistributionTable[kDistributionRows];

// Inverses of I_x(a, b) = p and P(k, x / theta) = p.
bool beta_icdf_kernel(double p, double a, double b, double* out);
bool gamma_icdf_kernel(double p, double k, double theta, double* out);
// The beta quantile of I_x(a, b) = p, where q = 1 - p is given by the
// caller (so that a tail probability keeps its digits on either side): x
// and 1 - x, each to its own relative accuracy, and the odds x / (1 - x) as
// e^log_odds (1 + shift), which stay finite where x or 1 - x underflow.
struct BetaQuantile {
  double x, y;
  double log_odds, shift;
};
bool beta_quantile(double p, double q, double a, double b, BetaQuantile* out);
// scale (x / (1 - x))^power from the odds form; the scale joins the
// exponent where the power alone would overflow or underflow.
double beta_odds_power(const BetaQuantile& q, double power, double scale);
