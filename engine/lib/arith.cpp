// The elementwise arithmetic operator: operand checks, promotion to the
// common class, the result item and the choice of loop; and the complex
// scalar power. Every check precedes the first change to the stacks, so an
// error leaves both operands in place (promotion may have converted them).
#include "engine/lib/arith.h"

#include <cmath>
#include <complex>
#include <utility>

#include "engine/core/checked.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/arith_loops.h"
#include "engine/lib/operands.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

bool known_op(int op) {
  switch (op) {
    case kArithPlus: case kArithMinus: case kArithTimes: case kArithRdivide:
    case kArithLdivide: case kArithRem: case kArithMod: case kArithPower:
    case kArithRealpow:
      return true;
    default:
      return false;
  }
}

bool scalar_fast_op(int op) { return known_op(op) && op != kArithPower && op != kArithRealpow; }

double scalar_op(int op, double a, double b) {
  switch (op) {
    case kArithPlus: return a + b;
    case kArithMinus: return a - b;
    case kArithTimes: return a * b;
    case kArithRdivide: return a / b;
    case kArithLdivide: return b / a;
    case kArithRem: return std::fmod(a, b);
    default: return b == 0 ? a : std::fmod(std::fmod(a, b) + b, b);  // kArithMod
  }
}

// cplx_operand: an operand is complex. A real power may still write complex
// results (into im) when the result was pushed complex.
void run_double(int op, bool cplx_operand, void* re, void* im, const LoopArg& a, const LoopArg& b,
                int64_t n) {
  auto* ore = static_cast<double*>(re);
  auto* oim = static_cast<double*>(im);
  if (cplx_operand)
    arith_complex_loop_double(op, ore, oim, a, b, n);
  else if (op == kArithPower)
    arith_real_power_double(ore, oim, a, b, n);
  else
    arith_real_loop_double(op, ore, a, b, n);
}

void run_single(int op, bool cplx_operand, void* re, void* im, const LoopArg& a, const LoopArg& b,
                int64_t n) {
  auto* ore = static_cast<float*>(re);
  auto* oim = static_cast<float*>(im);
  if (cplx_operand)
    arith_complex_loop_single(op, ore, oim, a, b, n);
  else if (op == kArithPower)
    arith_real_power_single(ore, oim, a, b, n);
  else
    arith_real_loop_single(op, ore, a, b, n);
}

// |x|^yr e^(-theta yi) with |x| = h 2^k, h in [1, 2 sqrt 2): h^yr is formed
// by pow and 2^(k yr) exactly in two parts, 2^n times 2^f (|f| <= 1/2) with
// the product's rounding error carried as a factor, so the magnitude keeps
// its digits where e^(ln|x| yr) would lose ln|x| ulps (about 700 at the ends
// of the range). False where a part leaves the normal range (or the
// argument is not finite): the caller then takes the exponential of the
// logarithm.
bool power_magnitude(double xr, double xi, double yr, double yi, double theta, double* m) {
  constexpr double kLn2 = 0.69314718055994530942;
  constexpr double kMaxScale = 0x1p30;  // keeps n an int and n + the exponents of the parts in range
  // Each part on its own: fmax would pass over a NaN part.
  if (!std::isfinite(xr) || !std::isfinite(xi) || !std::isfinite(yr) || !std::isfinite(yi))
    return false;
  const double big = std::fmax(std::fabs(xr), std::fabs(xi));  // not 0: the caller took x = 0
  const int k = std::ilogb(big);
  const double h = std::hypot(std::scalbn(xr, -k), std::scalbn(xi, -k));
  const double t = k * yr;
  if (!(std::fabs(t) < kMaxScale)) return false;
  const double t_err = std::fma(static_cast<double>(k), yr, -t);  // k yr = t + t_err exactly
  const double n = std::nearbyint(t);
  const double part = std::pow(h, yr) * std::exp2(t - n) * (1 + t_err * kLn2) *
                      (yi == 0 ? 1.0 : std::exp(-theta * yi));
  if (!std::isnormal(part)) return false;
  *m = std::ldexp(part, static_cast<int>(n));
  return true;
}

}  // namespace

int arith_elementwise_binary(EngineContext* ctx, int op) {
  // Hot path: two real scalars, the result over the first one's data word.
  if (scalar_fast_op(op) && top_two_real_scalars(ctx)) {
    uint64_t* p = data_words(ctx) + ctx->data_top - 2;
    tn::st_f64(p, scalar_op(op, tn::ld_f64(p), tn::ld_f64(p + 1)));
    ctx->desc_top -= 3;
    ctx->data_top -= 1;
    return kOk;
  }
  if (!known_op(op)) return kBadArgument;
  // Shapes are tested before promotion, which would convert for nothing.
  NumOperand a, b;
  TN_TRY(elementwise_pair(ctx, &a, &b));
  const CommonClass cc = common_class(a, b);
  if (cc.kind == NumKind::kInt && (op == kArithPower || op == kArithRealpow)) return kBadArgument;
  if ((op == kArithRem || op == kArithMod) && (a.cplx || b.cplx)) return kWrongType;
  // Room for a complex result where a real power may turn out complex.
  const bool may_be_complex = a.cplx || b.cplx || (op == kArithPower && cc.kind != NumKind::kInt);
  TN_TRY(promote_pair(ctx, &a, &b, cc, numeric_result_words(cc, may_be_complex, result_shape(a, b))));

  const NumOperand shape = result_shape(a, b);
  const int64_t n = shape.count;
  LoopArg la{a.re, a.im, a.count != 1}, lb{b.re, b.im, b.count != 1};
  if (op == kArithLdivide) {
    std::swap(la, lb);
    op = kArithRdivide;
  }
  if (op == kArithRealpow) la.im = lb.im = nullptr;
  const bool cplx_operand = la.im || lb.im;
  bool power_complex = false;
  if (op == kArithPower && !cplx_operand && cc.kind != NumKind::kInt) {
    power_complex = cc.kind == NumKind::kDouble ? arith_real_power_is_complex_double(la, lb, n)
                                                : arith_real_power_is_complex_single(la, lb, n);
  }

  // Real doubles with a real result: written over the operand that has the
  // result's size, so nothing is pushed and nothing moves but the other one.
  if (cc.kind == NumKind::kDouble && !a.cplx && !b.cplx && !power_complex && n > 0) {
    const bool over_first = a.count == n;
    void* host = over_first ? a.re : b.re;
    run_double(op, false, host, nullptr, la, lb, n);
    if (over_first) {
      stk_drop(ctx);
      return kOk;
    }
    return stk_remove(ctx, 1, 1);
  }

  const bool cplx = cplx_operand || power_complex;
  void *ore, *oim;
  TN_TRY(push_numeric_result(ctx, cc, cplx, shape, &ore, &oim));
  if (n > 0) {
    switch (cc.kind) {
      case NumKind::kInt: arith_int_loop(op, cc.int_type, ore, la, lb, n); break;
      case NumKind::kDouble: run_double(op, cplx_operand, ore, oim, la, lb, n); break;
      case NumKind::kSingle: run_single(op, cplx_operand, ore, oim, la, lb, n); break;
      default: break;
    }
  }
  return stk_remove(ctx, 1, 2);
}

void arith_complex_power(double xr, double xi, double yr, double yi, double* out_re,
                         double* out_im) {
  // Exact-zero tests: a NaN part is never zero.
  if (yr == 0 && yi == 0) {
    *out_re = 1.0;
    *out_im = 0.0;
    return;
  }
  if (xr == 0 && xi == 0) {
    *out_re = 0.0;
    *out_im = 0.0;
    return;
  }
  const double theta = xi == 0 ? (xr < 0 ? kPi : 0.0) : std::atan2(xi, xr);
  double log_mod;
  if (!std::isfinite(xr) || !std::isfinite(xi)) {
    log_mod = 0.5 * std::log(xr * xr + xi * xi);  // infinite or NaN as it stands
  } else {
    // ln|x| of the complex logarithm: formed from the scaled parts, it
    // neither overflows above a modulus of 1e154 nor underflows below
    // 1e-154, and keeps its digits next to |x| = 1.
    log_mod = xi == 0 ? std::log(std::fabs(xr)) : std::log(std::complex<double>(xr, xi)).real();
  }
  const double phi = log_mod * yi + theta * yr;
  double m;
  if (!power_magnitude(xr, xi, yr, yi, theta, &m)) m = std::exp(log_mod * yr - theta * yi);
  *out_re = m * std::cos(phi);
  *out_im = m * std::sin(phi);
}
