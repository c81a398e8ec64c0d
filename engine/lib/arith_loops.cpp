// The elementwise loops of the arithmetic operators: hot paths, written for
// speed on purpose. The operator is chosen once per call; each loop body is a
// lambda or an operation struct inlined into its own loop, and a one-element
// operand is read once outside the loop. Integer arithmetic goes through an
// unsigned type at least 32 bits wide, so it wraps and is never undefined.
// Loops whose elements are dear (pow, fmod) are split across cores over large
// arrays; the plain operators are bound by memory and stay in one thread.
#include "engine/lib/arith_loops.h"

#include <cmath>
#include <limits>
#include <type_traits>

#include "engine/core/complex_scalar.h"
#include "engine/core/parallel_for.h"
#include "engine/lib/arith.h"
#include "engine/lib/zip.h"

namespace {

// --- Splitting a loop across cores -------------------------------------------------

// The operand from element lo on: a one-element operand stays as it is.
template <typename T>
LoopArg loop_arg_from(const LoopArg& a, int64_t lo) {
  if (!a.array) return a;
  const T* im = a.im ? static_cast<const T*>(a.im) + lo : nullptr;
  return {static_cast<const T*>(a.re) + lo, im, true};
}

// body(out_re, out_im, a, b, count) run over ranges of the loop; each range
// writes only its own elements, so the bits are the one-thread loop's.
template <typename T, typename Body>
struct SplitLoop {
  T* ore;
  T* oim;
  LoopArg a, b;
  Body body;

  static void range(void* p, int64_t lo, int64_t hi) {
    SplitLoop& s = *static_cast<SplitLoop*>(p);
    s.body(s.ore + lo, s.oim ? s.oim + lo : nullptr, loop_arg_from<T>(s.a, lo),
           loop_arg_from<T>(s.b, lo), hi - lo);
  }
};

template <typename T, typename Body>
void split(T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n, Body body) {
  SplitLoop<T, Body> loop{ore, oim, a, b, body};
  tn_parallel_for<SplitLoop<T, Body>::range>(n, kParallelForMinRange, &loop);
}

// zip, split.
template <typename T, typename F>
void zip_split(T* out, const LoopArg& a, const LoopArg& b, int64_t n, F f) {
  split(out, static_cast<T*>(nullptr), a, b, n,
        [f](T* o, T*, const LoopArg& x, const LoopArg& y, int64_t m) { zip<T>(o, x, y, m, f); });
}

// --- Integers ------------------------------------------------------------------

template <typename T>
struct IntArith {
  // Wide enough that no operand is promoted to a signed int on the way.
  using W = std::conditional_t<(sizeof(T) <= 4), uint32_t, uint64_t>;
  static constexpr bool kSigned = std::is_signed_v<T>;

  static T add(T a, T b) { return static_cast<T>(static_cast<W>(a) + static_cast<W>(b)); }
  static T sub(T a, T b) { return static_cast<T>(static_cast<W>(a) - static_cast<W>(b)); }
  static T mul(T a, T b) { return static_cast<T>(static_cast<W>(a) * static_cast<W>(b)); }

  // Truncated quotient; a zero divisor gives 0, MIN / -1 the wrapped MIN.
  static T div(T a, T b) {
    if (b == 0) return 0;
    if constexpr (kSigned)
      if (b == static_cast<T>(-1)) return static_cast<T>(W{0} - static_cast<W>(a));
    return static_cast<T>(a / b);
  }
  // Sign of the dividend; a zero divisor gives 0, and so does -1 (MIN % -1).
  static T rem(T a, T b) {
    if (b == 0) return 0;
    if constexpr (kSigned)
      if (b == static_cast<T>(-1)) return 0;
    return static_cast<T>(a % b);
  }
  // Sign of the divisor, exact: the remainder is moved by b only when the
  // signs differ, and then |r| < |b| keeps the sum in range. A zero divisor
  // gives the dividend for signed types and 0 for unsigned ones.
  static T mod(T a, T b) {
    if constexpr (kSigned) {
      if (b == 0) return a;
      if (b == static_cast<T>(-1)) return 0;
      T r = static_cast<T>(a % b);
      if (r != 0 && ((r < 0) != (b < 0))) r = static_cast<T>(r + b);
      return r;
    } else {
      return b == 0 ? T{0} : static_cast<T>(a % b);
    }
  }
};

template <typename T>
void int_loop(int op, T* out, const LoopArg& a, const LoopArg& b, int64_t n) {
  using A = IntArith<T>;
  switch (op) {
    case kArithPlus: zip<T>(out, a, b, n, [](T x, T y) { return A::add(x, y); }); break;
    case kArithMinus: zip<T>(out, a, b, n, [](T x, T y) { return A::sub(x, y); }); break;
    case kArithTimes: zip<T>(out, a, b, n, [](T x, T y) { return A::mul(x, y); }); break;
    case kArithRdivide: zip<T>(out, a, b, n, [](T x, T y) { return A::div(x, y); }); break;
    case kArithRem: zip<T>(out, a, b, n, [](T x, T y) { return A::rem(x, y); }); break;
    case kArithMod: zip<T>(out, a, b, n, [](T x, T y) { return A::mod(x, y); }); break;
    default: break;
  }
}

// --- Real floating point ---------------------------------------------------------

template <typename T>
void real_loop(int op, T* out, const LoopArg& a, const LoopArg& b, int64_t n) {
  switch (op) {
    case kArithPlus: zip<T>(out, a, b, n, [](T x, T y) { return x + y; }); break;
    case kArithMinus: zip<T>(out, a, b, n, [](T x, T y) { return x - y; }); break;
    case kArithTimes: zip<T>(out, a, b, n, [](T x, T y) { return x * y; }); break;
    case kArithRdivide: zip<T>(out, a, b, n, [](T x, T y) { return x / y; }); break;
    case kArithRem: zip_split<T>(out, a, b, n, [](T x, T y) { return std::fmod(x, y); }); break;
    case kArithMod:
      zip_split<T>(out, a, b, n,
                   [](T x, T y) { return y == 0 ? x : std::fmod(std::fmod(x, y) + y, y); });
      break;
    case kArithRealpow:
      zip_split<T>(out, a, b, n, [](T x, T y) { return std::pow(x, y); });
      break;
    default: break;
  }
}

// An exponent counts as integral when rounding it leaves it unchanged (NaN
// does not). Not floor(y + 0.5) == y: the addition rounds every odd integer
// between 2^52 and 2^53 (2^23 and 2^24 for singles) up to the next one.
template <typename T>
inline bool integral(T y) {
  return std::floor(y) == y;
}

template <typename T>
bool power_is_complex(const LoopArg& a, const LoopArg& b, int64_t n) {
  const T* x = static_cast<const T*>(a.re);
  const T* y = static_cast<const T*>(b.re);
  for (int64_t i = 0; i < n; ++i) {
    const T xv = x[a.array ? i : 0], yv = y[b.array ? i : 0];
    if (xv < 0 && !integral(yv)) return true;
  }
  return false;
}

// The general rule: a negative base with an integral exponent takes the sign
// of the exponent's parity; with a fractional one the result is complex.
template <typename T>
void power_general_range(T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n) {
  const T* x = static_cast<const T*>(a.re);
  const T* y = static_cast<const T*>(b.re);
  for (int64_t i = 0; i < n; ++i) {
    const T xv = x[a.array ? i : 0], yv = y[b.array ? i : 0];
    if (!(xv < 0)) {
      ore[i] = std::pow(xv, yv);
    } else if (integral(yv)) {
      const T r = std::pow(std::fabs(xv), yv);
      ore[i] = std::fmod(yv, T(2)) != 0 ? -r : r;
    } else if (!oim) {  // callers test first; a real result has no room for it
      ore[i] = std::numeric_limits<T>::quiet_NaN();
    } else {
      double re, im;
      arith_complex_power(xv, 0.0, yv, 0.0, &re, &im);
      ore[i] = static_cast<T>(re);
      oim[i] = static_cast<T>(im);
      continue;
    }
    if (oim) oim[i] = 0;
  }
}

template <typename T>
void power_general(T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n) {
  split(ore, oim, a, b, n, power_general_range<T>);
}

// --- Complex ---------------------------------------------------------------------

// The operations of one element pair are shared with the scalar paths.
using CAdd = cplx::Add;
using CSub = cplx::Sub;
using CMul = cplx::Mul;
using CDiv = cplx::Div;

struct CPow {
  template <bool AC, bool BC, typename T>
  static void f(T ar, T ai, T br, T bi, T& re, T& im) {
    double r, m;
    arith_complex_power(ar, AC ? ai : 0.0, br, BC ? bi : 0.0, &r, &m);
    re = static_cast<T>(r);
    im = static_cast<T>(m);
  }
};

template <typename Op, bool AC, bool BC, typename T>
void complex_zip(T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n) {
  const T* ar = static_cast<const T*>(a.re);
  const T* ai = static_cast<const T*>(a.im);
  const T* br = static_cast<const T*>(b.re);
  const T* bi = static_cast<const T*>(b.im);
  // A one-element operand is index 0 throughout: the index is masked.
  const int64_t ma = a.array ? -1 : 0, mb = b.array ? -1 : 0;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t ja = i & ma, jb = i & mb;
    T re, im;
    Op::template f<AC, BC>(ar[ja], AC ? ai[ja] : T(0), br[jb], BC ? bi[jb] : T(0), re, im);
    ore[i] = re;
    oim[i] = im;
  }
}

template <typename Op, typename T>
void complex_dispatch(T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n) {
  if (a.im && b.im)
    complex_zip<Op, true, true>(ore, oim, a, b, n);
  else if (a.im)
    complex_zip<Op, true, false>(ore, oim, a, b, n);
  else
    complex_zip<Op, false, true>(ore, oim, a, b, n);
}

// The complex power takes a logarithm, an exponential and a sine and cosine
// per element: split, unlike the other complex operators.
template <typename T>
void complex_power(T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n) {
  split(ore, oim, a, b, n, complex_dispatch<CPow, T>);
}

template <typename T>
void complex_loop(int op, T* ore, T* oim, const LoopArg& a, const LoopArg& b, int64_t n) {
  switch (op) {
    case kArithPlus: complex_dispatch<CAdd>(ore, oim, a, b, n); break;
    case kArithMinus: complex_dispatch<CSub>(ore, oim, a, b, n); break;
    case kArithTimes: complex_dispatch<CMul>(ore, oim, a, b, n); break;
    case kArithRdivide: complex_dispatch<CDiv>(ore, oim, a, b, n); break;
    case kArithPower: complex_power(ore, oim, a, b, n); break;
    default: break;
  }
}

}  // namespace

void arith_int_loop(int op, uint32_t elem_type, void* out, LoopArg a, LoopArg b, int64_t n) {
  switch (elem_type) {
    case 1: int_loop(op, static_cast<int8_t*>(out), a, b, n); break;
    case 2: int_loop(op, static_cast<int16_t*>(out), a, b, n); break;
    case 4: int_loop(op, static_cast<int32_t*>(out), a, b, n); break;
    case 8: int_loop(op, static_cast<int64_t*>(out), a, b, n); break;
    case 129: int_loop(op, static_cast<uint8_t*>(out), a, b, n); break;
    case 130: int_loop(op, static_cast<uint16_t*>(out), a, b, n); break;
    case 132: int_loop(op, static_cast<uint32_t*>(out), a, b, n); break;
    case 136: int_loop(op, static_cast<uint64_t*>(out), a, b, n); break;
    default: break;
  }
}

void arith_real_loop_double(int op, double* out, LoopArg a, LoopArg b, int64_t n) {
  real_loop(op, out, a, b, n);
}
void arith_real_loop_single(int op, float* out, LoopArg a, LoopArg b, int64_t n) {
  real_loop(op, out, a, b, n);
}

bool arith_real_power_is_complex_double(LoopArg a, LoopArg b, int64_t n) {
  return power_is_complex<double>(a, b, n);
}
bool arith_real_power_is_complex_single(LoopArg a, LoopArg b, int64_t n) {
  return power_is_complex<float>(a, b, n);
}

void arith_real_power_double(double* out_re, double* out_im, LoopArg a, LoopArg b, int64_t n) {
  // A scalar exponent that cannot give a complex element has its own loops:
  // 2 is a multiplication, other integers take the parity once.
  const double e = *static_cast<const double*>(b.re);
  if (b.array || out_im || !integral(e)) {
    power_general(out_re, out_im, a, b, n);
  } else if (e == 2) {
    zip<double>(out_re, a, b, n, [](double x, double) { return x * x; });
  } else if (std::fmod(e, 2.0) == 0) {
    zip_split<double>(out_re, a, b, n, [e](double x, double) { return std::pow(std::fabs(x), e); });
  } else {
    zip_split<double>(out_re, a, b, n, [e](double x, double) {
      return !(x < 0) ? std::pow(x, e) : -std::pow(-x, e);
    });
  }
}

void arith_real_power_single(float* out_re, float* out_im, LoopArg a, LoopArg b, int64_t n) {
  power_general(out_re, out_im, a, b, n);
}

void arith_complex_loop_double(int op, double* out_re, double* out_im, LoopArg a, LoopArg b,
                               int64_t n) {
  // A complex base squared by a real scalar 2: one multiplication per part.
  if (op == kArithPower && !b.im && !b.array && *static_cast<const double*>(b.re) == 2.0) {
    const double* ar = static_cast<const double*>(a.re);
    const double* ai = static_cast<const double*>(a.im);
    const int64_t ma = a.array ? -1 : 0;
    for (int64_t i = 0; i < n; ++i) {
      const double x = ar[i & ma], y = ai[i & ma];
      out_re[i] = x * x - y * y;
      out_im[i] = 2.0 * x * y;
    }
    return;
  }
  // One pair of scalars: the scalar kernel that the interpreter's fast
  // paths call too, so both give the same bits.
  if (n == 1 && op != kArithPower) {
    const cplx::ScalarOp k = op == kArithPlus    ? cplx::ScalarOp::kAdd
                             : op == kArithMinus ? cplx::ScalarOp::kSub
                             : op == kArithTimes ? cplx::ScalarOp::kMul
                                                 : cplx::ScalarOp::kDiv;
    const double ai = a.im ? *static_cast<const double*>(a.im) : 0.0;
    const double bi = b.im ? *static_cast<const double*>(b.im) : 0.0;
    cplx::scalar_binary(k, *static_cast<const double*>(a.re), ai, a.im != nullptr,
                        *static_cast<const double*>(b.re), bi, b.im != nullptr, out_re, out_im);
    return;
  }
  complex_loop(op, out_re, out_im, a, b, n);
}

void arith_complex_loop_single(int op, float* out_re, float* out_im, LoopArg a, LoopArg b,
                               int64_t n) {
  complex_loop(op, out_re, out_im, a, b, n);
}
