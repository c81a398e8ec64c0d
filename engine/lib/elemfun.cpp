// The elementary-function handlers: argument checks, the in-place loops over
// real and complex double arrays, and the switch of a real array to complex
// at its first element outside the real domain. Real paths are the standard
// library's functions in tight loops; complex elements go to elemfun_complex.
// Loops over large arrays whose elements are dear (not abs, sign, rounding:
// those are bound by memory) are split across cores by tn_parallel_for.
#include "engine/lib/elemfun.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/opcodes.h"
#include "engine/core/parallel_for.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/elemfun_complex.h"

namespace {

// The top item as a double array; a getter's kWrongType is reported as kWrongArgType so that an
// object operand gets its class method.
struct Arr {
  double* re;
  double* im;  // null for a real array
  int64_t n;
};

int top_double_array(EngineContext* ctx, Arr* a) {
  int st = stk_get_double_array(ctx, 0, nullptr, nullptr, &a->n, &a->re, &a->im);
  return st == kWrongType ? kWrongArgType : st;
}

// --- Ranges of an array ------------------------------------------------------
//
// A range function gets the Arr and runs over [lo, hi) of it, on the caller
// or on a worker: it touches only its own elements and calls nothing but the
// maths library, so every element gets the bits the one-thread loop gave it.
// The data pointers are copied to locals first: under -fno-strict-aliasing a
// store through a.re could change a.re itself, and the loop would reload it
// at every element.

template <TnRangeFn Range>
void over_ranges(Arr* a) {
  tn_parallel_for<Range>(a->n, kParallelForMinRange, a);
}

// --- The in-place loop -------------------------------------------------------
//
// A kernel K gives, for a real element x: widens(x), true when its result is
// complex (kMayWiden false: never); real(x), the result otherwise; wide(x),
// the complex result; and cx(a, b) for a complex element.

template <class K>
Cx widen(double x) {
  return K::widens(x) ? K::wide(x) : Cx{K::real(x), 0.0};
}

template <class K>
void real_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  for (int64_t i = lo; i < hi; ++i) re[i] = K::real(re[i]);
}

template <class K>
void complex_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  double* const im = static_cast<Arr*>(p)->im;
  for (int64_t i = lo; i < hi; ++i) {
    Cx r = K::cx(re[i], im[i]);
    re[i] = r.re;
    im[i] = r.im;
  }
}

template <class K>
void widened_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  double* const im = static_cast<Arr*>(p)->im;
  for (int64_t i = lo; i < hi; ++i) {
    Cx r = widen<K>(re[i]);
    re[i] = r.re;
    im[i] = r.im;
  }
}

// Whether some element widens. A range stops at its first such element, and
// gives up in steps of kScanStep once another range has found one.
struct WideScan {
  Arr arr;
  std::atomic<bool> found{false};
};
constexpr int64_t kScanStep = 4096;

template <class K>
void scan_range(void* p, int64_t lo, int64_t hi) {
  auto* scan = static_cast<WideScan*>(p);
  const double* const re = scan->arr.re;
  for (int64_t step = lo; step < hi; step += kScanStep) {
    if (scan->found.load(std::memory_order_relaxed)) return;
    const int64_t end = std::min(hi, step + kScanStep);
    for (int64_t i = step; i < end; ++i) {
      if (K::widens(re[i])) {
        scan->found.store(true, std::memory_order_relaxed);
        return;
      }
    }
  }
}

template <class K>
bool any_widens(const Arr& a) {
  if constexpr (!K::kMayWiden) {
    return false;
  } else {
    WideScan scan{a};
    tn_parallel_for<scan_range<K>>(a.n, kParallelForMinRange, &scan);
    return scan.found.load(std::memory_order_relaxed);  // the call's return orders it
  }
}

template <class K>
int run(EngineContext* ctx) {
  Arr a;
  TN_TRY(top_double_array(ctx, &a));
  if (a.im) {
    over_ranges<complex_range<K>>(&a);
    return kOk;
  }
  // Whether the result turns complex is settled before any element is
  // written: a failure to make room for the imaginary parts must leave the
  // operand as it was.
  if (!any_widens<K>(a)) {
    over_ranges<real_range<K>>(&a);
    return kOk;
  }
  void* imv;
  TN_TRY(stk_make_complex_top(ctx, &imv));
  TN_TRY(top_double_array(ctx, &a));  // the imaginary parts go behind the real ones
  over_ranges<widened_range<K>>(&a);
  return kOk;
}

// Reciprocal forms: an inverse function takes the reciprocal of its argument
// first, a direct one gives the reciprocal of its result.
template <class K>
struct RecipIn {
  static constexpr bool kMayWiden = K::kMayWiden;
  static bool widens(double x) { return K::widens(1 / x); }
  static double real(double x) { return K::real(1 / x); }
  static Cx wide(double x) { return K::wide(1 / x); }
  static Cx cx(double a, double b) {
    Cx r = cx_recip(a, b);
    return K::cx(r.re, r.im);
  }
};

template <class K>
struct RecipOut {
  static constexpr bool kMayWiden = false;
  static bool widens(double) { return false; }  // direct functions stay real
  static double real(double x) { return 1 / K::real(x); }
  static Cx wide(double) { return {}; }
  static Cx cx(double a, double b) {
    Cx r = K::cx(a, b);
    return cx_recip(r.re, r.im);
  }
};

template <class K>
int run_maybe_recip_in(EngineContext* ctx, int reciprocal) {
  return reciprocal ? run<RecipIn<K>>(ctx) : run<K>(ctx);
}
template <class K>
int run_maybe_recip_out(EngineContext* ctx, int reciprocal) {
  return reciprocal ? run<RecipOut<K>>(ctx) : run<K>(ctx);
}

// A function whose real results are always real.
#define TN_REAL_ONLY(Name, real_expr, cx_expr)           \
  struct Name {                                          \
    static constexpr bool kMayWiden = false;             \
    static bool widens(double) { return false; }         \
    static double real(double x) { return real_expr; }   \
    static Cx wide(double) { return {}; }                \
    static Cx cx(double a, double b) { return cx_expr; } \
  };

// --- Exponential and logarithm family ------------------------------------------

TN_REAL_ONLY(KExp, std::exp(x), cx_exp_family(kExpExp, a, b))
TN_REAL_ONLY(KExpm1, std::expm1(x), cx_exp_family(kExpExpm1, a, b))
TN_REAL_ONLY(KLog1p, std::log1p(x), cx_exp_family(kExpLog1p, a, b))

// The logarithms and the root of a negative real: a NaN stays a real NaN.
struct KLog {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return x < 0; }
  static double real(double x) { return std::log(x); }
  static Cx wide(double x) { return {std::log(-x), kPi}; }
  static Cx cx(double a, double b) { return cx_exp_family(kExpLog, a, b); }
};
struct KLog10 {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return x < 0; }
  static double real(double x) { return std::log10(x); }
  static Cx wide(double x) { return {std::log10(-x), kPiOverLn10}; }
  static Cx cx(double a, double b) { return cx_exp_family(kExpLog10, a, b); }
};
struct KLog2 {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return x < 0; }
  static double real(double x) { return std::log2(x); }
  static Cx wide(double x) { return {std::log2(-x), kPiOverLn2}; }
  static Cx cx(double a, double b) { return cx_exp_family(kExpLog2, a, b); }
};
struct KSqrt {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return x < 0; }
  static double real(double x) { return std::sqrt(x); }
  static Cx wide(double x) { return {0.0, std::sqrt(-x)}; }
  static Cx cx(double a, double b) { return cx_sqrt(a, b); }
};

// --- Circular family -------------------------------------------------------------

double real_sinc(double x) {
  if (x == 0) return 1.0;
  double w = kPi * x;
  return std::sin(w) / w;
}

TN_REAL_ONLY(KSin, std::sin(x), cx_circular(kTrigSin, a, b))
TN_REAL_ONLY(KCos, std::cos(x), cx_circular(kTrigCos, a, b))
// The reciprocals of the sine and cosine, formed directly far from the axis.
TN_REAL_ONLY(KCsc, 1 / std::sin(x), cx_circular_recip(kTrigSin, a, b))
TN_REAL_ONLY(KSec, 1 / std::cos(x), cx_circular_recip(kTrigCos, a, b))
TN_REAL_ONLY(KTan, std::tan(x), cx_circular(kTrigTan, a, b))
TN_REAL_ONLY(KSinc, real_sinc(x), cx_circular(kTrigSinc, a, b))
TN_REAL_ONLY(KAtan, std::atan(x), cx_circular(kTrigAtan, a, b))

bool outside_unit(double x) { return x < -1 || x > 1; }

struct KAsin {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return outside_unit(x); }
  static double real(double x) { return std::asin(x); }
  static Cx wide(double x) { return real_asin_wide(x); }
  static Cx cx(double a, double b) { return cx_circular(kTrigAsin, a, b); }
};
struct KAcos {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return outside_unit(x); }
  static double real(double x) { return std::acos(x); }
  static Cx wide(double x) { return real_acos_wide(x); }
  static Cx cx(double a, double b) { return cx_circular(kTrigAcos, a, b); }
};

// --- Hyperbolic family -------------------------------------------------------------

TN_REAL_ONLY(KSinh, std::sinh(x), cx_hyperbolic(kTrigSin, a, b))
TN_REAL_ONLY(KCosh, std::cosh(x), cx_hyperbolic(kTrigCos, a, b))
TN_REAL_ONLY(KCsch, real_csch(x), cx_hyperbolic_recip(kTrigSin, a, b))
TN_REAL_ONLY(KSech, real_sech(x), cx_hyperbolic_recip(kTrigCos, a, b))
TN_REAL_ONLY(KTanh, std::tanh(x), cx_hyperbolic(kTrigTan, a, b))
TN_REAL_ONLY(KAsinh, std::asinh(x), cx_hyperbolic(kTrigAsin, a, b))

struct KAcosh {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return x < 1; }
  static double real(double x) { return std::acosh(x); }
  static Cx wide(double x) { return real_acosh_wide(x); }
  static Cx cx(double a, double b) { return cx_hyperbolic(kTrigAcos, a, b); }
};
struct KAtanh {
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return outside_unit(x); }
  static double real(double x) { return std::atanh(x); }
  static Cx wide(double x) { return real_atanh_wide(x); }
  static Cx cx(double a, double b) { return cx_hyperbolic(kTrigAtan, a, b); }
};

// acoth(x) = atanh(1/x), but near |x| = 1 the rounding of 1/x is magnified a
// millionfold, as in atanh's own wide form: on the real axis the value is
// taken from x itself. Outside [-1, 1] it is ln((x + 1)/(x - 1))/2, the real
// part of atanh's wide form; inside, the real part is atanh(x) and the
// imaginary part that of atanh(1/x). Off the axis the reciprocal is harmless.
struct KAcoth {
  using In = RecipIn<KAtanh>;
  static constexpr bool kMayWiden = true;
  static bool widens(double x) { return In::widens(x); }
  static double real(double x) { return std::isnan(x) ? x : real_atanh_wide(x).re; }
  static Cx wide(double x) { return {std::atanh(x), In::wide(x).im}; }
  static Cx cx(double a, double b) {
    Cx r = In::cx(a, b);
    if (b == 0 && std::fabs(a) != 1 && !std::isnan(a)) r.re = std::fabs(a) > 1 ? real_atanh_wide(a).re : std::atanh(a);
    return r;
  }
};

#undef TN_REAL_ONLY

// --- Magnitude, phase, sign, rounding --------------------------------------------

double real_sign(double x) {
  if (x > 0) return 1.0;
  if (x < 0) return -1.0;
  return x == 0 ? 0.0 : x;  // NaN stays NaN
}

// z/|z| with the modulus taken without overflow; an infinite part counts
// as the direction it points in. Tiny parts are scaled up by a power of 2
// first: a subnormal modulus keeps only the bits above 2^-1074, and the
// quotients would lose as many digits.
constexpr double kSignTiny = 0x1p-900;
constexpr double kSignLift = 0x1p600;

Cx cx_sign(double a, double b) {
  if (a == 0 && b == 0) return {0.0, 0.0};
  if (std::isinf(a) || std::isinf(b)) {
    a = std::isinf(a) ? std::copysign(1.0, a) : std::copysign(0.0, a);
    b = std::isinf(b) ? std::copysign(1.0, b) : std::copysign(0.0, b);
  }
  if (std::fabs(a) < kSignTiny && std::fabs(b) < kSignTiny) {
    a *= kSignLift;
    b *= kSignLift;
  }
  double m = std::hypot(a, b);
  return {a / m, b / m};
}

// Ranges of the magnitude, phase and sign of complex elements, and of the
// real-only logarithm and root, dear enough to split.
void cx_abs_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  const double* const im = static_cast<Arr*>(p)->im;
  for (int64_t i = lo; i < hi; ++i) re[i] = std::hypot(re[i], im[i]);
}
void cx_angle_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  const double* const im = static_cast<Arr*>(p)->im;
  for (int64_t i = lo; i < hi; ++i) re[i] = std::atan2(im[i], re[i]);
}
void cx_sign_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  double* const im = static_cast<Arr*>(p)->im;
  for (int64_t i = lo; i < hi; ++i) {
    Cx s = cx_sign(re[i], im[i]);
    re[i] = s.re;
    im[i] = s.im;
  }
}
void real_log_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  for (int64_t i = lo; i < hi; ++i) re[i] = std::log(re[i]);
}
void real_sqrt_range(void* p, int64_t lo, int64_t hi) {
  double* const re = static_cast<Arr*>(p)->re;
  for (int64_t i = lo; i < hi; ++i) re[i] = std::sqrt(re[i]);
}

template <class F>
void apply_all(Arr& a, F f) {
  int64_t n = a.im ? 2 * a.n : a.n;  // imaginary parts follow the real ones
  double* p = a.re;
  for (int64_t i = 0; i < n; ++i) p[i] = f(p[i]);
}

// --- atan2 -----------------------------------------------------------------------------

constexpr int kAtan2Y = 1;  // depth of the first argument
constexpr int kAtan2X = 0;

// The loop's operands: a one-element operand has stride 0.
struct Atan2Loop {
  const double* y;
  const double* x;
  int64_t sy, sx;
  double* out;
};

void atan2_range(void* p, int64_t lo, int64_t hi) {
  const Atan2Loop l = *static_cast<Atan2Loop*>(p);
  for (int64_t i = lo; i < hi; ++i) l.out[i] = std::atan2(l.y[i * l.sy], l.x[i * l.sx]);
}

// True when the item at depth can hold atan2's result in place: real, with
// the result's element count (a non-scalar operand's shape is the result's).
bool atan2_target(EngineContext* ctx, int depth, int64_t count) {
  int64_t n;
  double* im;
  if (stk_get_double_array(ctx, depth, nullptr, nullptr, &n, nullptr, &im) != kOk) return false;
  return !im && n == count;
}

}  // namespace

int bi_abs(EngineContext* ctx) {
  Arr a;
  TN_TRY(top_double_array(ctx, &a));
  if (!a.im) {
    double* const re = a.re;
    for (int64_t i = 0; i < a.n; ++i) re[i] = std::fabs(re[i]);
    return kOk;
  }
  over_ranges<cx_abs_range>(&a);
  stk_make_real_top(ctx);
  return kOk;
}

int bi_angle(EngineContext* ctx) {
  Arr a;
  TN_TRY(top_double_array(ctx, &a));
  if (!a.im) {
    double* const re = a.re;
    for (int64_t i = 0; i < a.n; ++i) {
      double x = re[i];
      re[i] = x >= 0 ? 0.0 : x < 0 ? kPi : x;
    }
    return kOk;
  }
  over_ranges<cx_angle_range>(&a);
  stk_make_real_top(ctx);
  return kOk;
}

int bi_sign(EngineContext* ctx) {
  Arr a;
  TN_TRY(top_double_array(ctx, &a));
  if (!a.im) {
    double* const re = a.re;
    for (int64_t i = 0; i < a.n; ++i) re[i] = real_sign(re[i]);
    return kOk;
  }
  over_ranges<cx_sign_range>(&a);
  return kOk;
}

int bi_round(EngineContext* ctx, int letter) {
  if (letter != kRoundFix && letter != kRoundFloor && letter != kRoundCeil &&
      letter != kRoundNearest)
    return kNotSupported;
  Arr a;
  TN_TRY(top_double_array(ctx, &a));
  switch (letter) {
    case kRoundFix: apply_all(a, [](double x) { return std::trunc(x); }); break;
    case kRoundFloor: apply_all(a, [](double x) { return std::floor(x); }); break;
    case kRoundCeil: apply_all(a, [](double x) { return std::ceil(x); }); break;
    default: apply_all(a, tn::round_half_up); break;
  }
  return kOk;
}

int bi_exp(EngineContext* ctx, int letter) {
  switch (letter) {
    case kExpExp: return run<KExp>(ctx);
    case kExpExpm1: return run<KExpm1>(ctx);
    case kExpLog: return run<KLog>(ctx);
    case kExpLog10: return run<KLog10>(ctx);
    case kExpLog2: return run<KLog2>(ctx);
    case kExpLog1p: return run<KLog1p>(ctx);
    case kExpSqrt: return run<KSqrt>(ctx);
    default: return kNotSupported;
  }
}

int bi_reallog(EngineContext* ctx, int letter) {
  if (letter != kExpLog && letter != kExpSqrt) return kNotSupported;
  Arr a;
  TN_TRY(top_double_array(ctx, &a));
  stk_make_real_top(ctx);  // the imaginary part is dropped without error
  if (letter == kExpLog)
    over_ranges<real_log_range>(&a);
  else
    over_ranges<real_sqrt_range>(&a);
  return kOk;
}

int bi_circular(EngineContext* ctx, int letter, int reciprocal) {
  switch (letter) {
    case kTrigSin: return reciprocal ? run<KCsc>(ctx) : run<KSin>(ctx);
    case kTrigCos: return reciprocal ? run<KSec>(ctx) : run<KCos>(ctx);
    case kTrigTan: return run_maybe_recip_out<KTan>(ctx, reciprocal);
    case kTrigSinc: return run_maybe_recip_out<KSinc>(ctx, reciprocal);
    case kTrigAsin: return run_maybe_recip_in<KAsin>(ctx, reciprocal);
    case kTrigAcos: return run_maybe_recip_in<KAcos>(ctx, reciprocal);
    case kTrigAtan: return run_maybe_recip_in<KAtan>(ctx, reciprocal);
    default: return kNotSupported;
  }
}

int bi_hyperbolic(EngineContext* ctx, int letter, int reciprocal) {
  switch (letter) {
    case kTrigSin: return reciprocal ? run<KCsch>(ctx) : run<KSinh>(ctx);
    case kTrigCos: return reciprocal ? run<KSech>(ctx) : run<KCosh>(ctx);
    case kTrigTan: return run_maybe_recip_out<KTanh>(ctx, reciprocal);
    case kTrigAsin: return run_maybe_recip_in<KAsinh>(ctx, reciprocal);
    case kTrigAcos: return run_maybe_recip_in<KAcosh>(ctx, reciprocal);
    case kTrigAtan: return reciprocal ? run<KAcoth>(ctx) : run<KAtanh>(ctx);
    default: return kNotSupported;
  }
}

int bi_atan2(EngineContext* ctx) {
  // Both must be double arrays: the multi-array getter would take others.
  for (int d : {kAtan2Y, kAtan2X})
    if (stk_get_double_array(ctx, d, nullptr, nullptr, nullptr, nullptr, nullptr) != kOk)
      return kWrongArgType;
  int ndims;
  const uint32_t* dims;
  int64_t count;
  double* re[2];
  uint8_t stride[2];
  MultiArrays m;
  m.re = re;
  m.stride = stride;
  int st = stk_get_multi_arrays(ctx, 2, &ndims, &dims, &count, m);
  if (st != kOk) return st == kWrongType ? kWrongArgType : st;
  Atan2Loop loop{re[kAtan2Y], re[kAtan2X], stride[kAtan2Y], stride[kAtan2X], nullptr};
  // The result goes over an argument that has its shape and is real (each
  // element is read before it is written), else into a new item.
  double* out;
  int into;
  if (atan2_target(ctx, kAtan2Y, count)) {
    out = re[kAtan2Y];
    into = kAtan2Y;
  } else if (atan2_target(ctx, kAtan2X, count)) {
    out = re[kAtan2X];
    into = kAtan2X;
  } else {
    // dims lie in an argument, which a push above it does not touch; nor
    // does it move y and x.
    TN_TRY(stk_push_double_nd(ctx, ndims, reinterpret_cast<const int32_t*>(dims), &out, nullptr));
    into = -1;
  }
  loop.out = out;
  tn_parallel_for<atan2_range>(count, kParallelForMinRange, &loop);
  if (into == kAtan2Y)
    stk_drop(ctx);
  else if (into == kAtan2X)
    stk_remove(ctx, kAtan2Y, 1);
  else
    stk_remove(ctx, 1, 2);
  return kOk;
}

int elemfun_run_opcode(EngineContext* ctx, uint32_t opcode) {
  // Circular and hyperbolic opcodes run in the order sin cos tan sec csc cot
  // and asin acos atan asec acsc acot.
  static constexpr char kDirect[] = {kTrigSin, kTrigCos, kTrigTan, kTrigCos, kTrigSin, kTrigTan};
  static constexpr char kInverse[] = {kTrigAsin, kTrigAcos, kTrigAtan,
                                      kTrigAcos, kTrigAsin, kTrigAtan};
  constexpr int kHalf = 3;
  if (opcode >= kOpSin && opcode <= kOpCot) {
    int k = static_cast<int>(opcode - kOpSin);
    return bi_circular(ctx, kDirect[k], k >= kHalf);
  }
  if (opcode >= kOpSinh && opcode <= kOpCoth) {
    int k = static_cast<int>(opcode - kOpSinh);
    return bi_hyperbolic(ctx, kDirect[k], k >= kHalf);
  }
  if (opcode >= kOpAsin && opcode <= kOpAcot) {
    int k = static_cast<int>(opcode - kOpAsin);
    return bi_circular(ctx, kInverse[k], k >= kHalf);
  }
  if (opcode >= kOpAsinh && opcode <= kOpAcoth) {
    int k = static_cast<int>(opcode - kOpAsinh);
    return bi_hyperbolic(ctx, kInverse[k], k >= kHalf);
  }
  switch (opcode) {
    case kOpAbs: return bi_abs(ctx);
    case kOpAngle: return bi_angle(ctx);
    case kOpSign: return bi_sign(ctx);
    case kOpFix: return bi_round(ctx, kRoundFix);
    case kOpFloor: return bi_round(ctx, kRoundFloor);
    case kOpCeil: return bi_round(ctx, kRoundCeil);
    case kOpRound: return bi_round(ctx, kRoundNearest);
    case kOpExp: return bi_exp(ctx, kExpExp);
    case kOpExpm1: return bi_exp(ctx, kExpExpm1);
    case kOpLog: return bi_exp(ctx, kExpLog);
    case kOpLog10: return bi_exp(ctx, kExpLog10);
    case kOpLog2: return bi_exp(ctx, kExpLog2);
    case kOpLog1p: return bi_exp(ctx, kExpLog1p);
    case kOpSqrt: return bi_exp(ctx, kExpSqrt);
    case kOpReallog: return bi_reallog(ctx, kExpLog);
    case kOpRealsqrt: return bi_reallog(ctx, kExpSqrt);
    case kOpSinc: return bi_circular(ctx, kTrigSinc, 0);
    case kOpAtan2: return bi_atan2(ctx);
    default: return kNotSupported;
  }
}
