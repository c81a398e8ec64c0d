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

// Newton inverses of I_x(a, b) = p and P(k, x / theta) = p.
bool beta_icdf_kernel(double p, double a, double b, double* out);
bool gamma_icdf_kernel(double p, double k, double theta, double* out);
