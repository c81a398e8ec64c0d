// nchoosek, gcd, lcm and diln: elementwise, in the storage of an argument.
// The integer functions work in exact integers: binomials correctly rounded,
// gcd and lcm in 64 bits for values up to 2^53 (beyond, a double no longer
// tells neighbouring integers apart, and the call fails with kBadArgument).
#include <cmath>
#include <cstdint>
#include <numeric>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/special/element_args.h"
#include "numlib/special/elliptic_kernels.h"
#include "numlib/special/special_builtins.h"
#include "numlib/special/special_kernels.h"

namespace {

constexpr double kTwoTo53 = 9007199254740992.0;
constexpr uintptr_t kSelGcd = 'd';

bool is_integer(double v) { return std::floor(v) == v; }

// Binomial coefficient, or false for arguments that have none.
bool binomial(double n, double k, double* out) {
  if (!(n >= 0 && k >= 0) || !is_integer(n) || !is_integer(k) || k > n) return false;
  if (n <= kTwoTo53) {
    *out = binomial_exact(n, k);
  } else {
    // Integers this large are spaced apart: the logarithmic form is as exact as they are.
    *out = std::floor(
        std::exp(log_gamma_lanczos(n + 1) - log_gamma_lanczos(k + 1) - log_gamma_lanczos(n - k + 1)) +
        0.5);
  }
  return true;
}

bool gcd_lcm(double a, double b, bool want_gcd, double* out) {
  if (!is_integer(a) || !is_integer(b) || std::fabs(a) > kTwoTo53 || std::fabs(b) > kTwoTo53)
    return false;
  const auto x = static_cast<uint64_t>(std::fabs(a));
  const auto y = static_cast<uint64_t>(std::fabs(b));
  const uint64_t g = std::gcd(x, y);  // gcd(0, y) = y, gcd(0, 0) = 0
  if (want_gcd) {
    *out = static_cast<double>(g);
  } else {
    // a / g is exact, so the one product rounds once; a zero gives 0.
    *out = g == 0 ? 0.0 : (a / static_cast<double>(g)) * b;
    if (*out == 0) *out = 0;  // no negative zero
  }
  return true;
}

}  // namespace

int bi_nchoosek(EngineContext* ctx, int, int, uintptr_t) {
  ElementArgs a;
  TN_TRY(element_args_fetch(ctx, 2, &a));
  const int keep = element_args_widest(a);
  double* out = a.re[keep];
  for (int64_t i = 0; i < a.count; ++i)
    if (!binomial(a.re[0][i * a.stride[0]], a.re[1][i * a.stride[1]], &out[i])) return kBadArgument;
  element_args_keep(ctx, a, keep);
  return kOk;
}

int bi_gcd_lcm(EngineContext* ctx, int, int, uintptr_t data) {
  ElementArgs a;
  TN_TRY(element_args_fetch(ctx, 2, &a));
  const int keep = element_args_widest(a);
  double* out = a.re[keep];
  for (int64_t i = 0; i < a.count; ++i)
    if (!gcd_lcm(a.re[0][i * a.stride[0]], a.re[1][i * a.stride[1]], data == kSelGcd, &out[i]))
      return kBadArgument;
  element_args_keep(ctx, a, keep);
  return kOk;
}

int bi_diln(EngineContext* ctx, int, int, uintptr_t) {
  int64_t count;
  double *re, *im;
  if (stk_get_double_array(ctx, 0, nullptr, nullptr, &count, &re, &im) != kOk) return kWrongArgType;
  for (int64_t i = 0; i < count; ++i) re[i] = dilog_kernel(re[i]);
  stk_make_real_top(ctx);
  return kOk;
}
