// The elementary functions against the standard library: real paths bit for
// bit, complex results against long-double std::complex over a grid that
// crosses every branch cut (with the cut values the real functions take), the
// switch to complex in the middle of an array, overflow-safe complex paths,
// and the stacks after every success and error.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/opcodes.h"
#include "engine/lib/elemfun.h"
#include "support/started_engine.h"
#include "support/stack_invariants.h"
#include "support/typed_values.h"

namespace {

using V = std::vector<double>;
using LD = long double;
using CxL = std::complex<LD>;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPiD = 3.141592653589793;

// --- The reference: long-double std::complex, with the cut rules -------------

// Smith's reciprocal in double precision, as the engine forms it: near the
// singular points the functions magnify its rounding, and the sign of a zero
// part matters on the imaginary cuts.
CxL lrecip(CxL z) {
  double a = double(z.real()), b = double(z.imag());
  if (a == 0 && b == 0) return {INFINITY, 0};
  if (std::fabs(a) >= std::fabs(b)) {
    double r = b / a, d = a + b * r;
    return {1 / d, -r / d};
  }
  double r = a / b, d = a * r + b;
  return {r / d, -1 / d};
}

// Power series for tiny arguments, where exp(z) - 1 and log(1 + z) would
// cancel even in long double.
CxL series_expm1(CxL z) {
  CxL term = z, sum = z;
  for (int k = 2; k < 10; ++k) sum += (term *= z / LD(k));
  return sum;
}
CxL series_log1p(CxL z) {
  CxL power = z, sum = z;
  for (int k = 2; k < 12; ++k) sum += (power *= -z) / LD(k);  // (-1)^(k+1) z^k / k
  return sum;
}

bool tiny(CxL z) { return std::abs(z) < 1e-3L; }

// Real-axis cuts: +0 (upper side) except asin and acos right of 1, which take
// the lower side, and the logarithms, whose imaginary part atan2(b, a) takes
// the side of the zero's sign; asinh's imaginary cut takes the side of the
// imaginary part.
CxL upper(CxL w) { return w.imag() == 0 ? CxL(w.real(), 0.0L) : w; }
CxL asin_side(CxL w) {
  if (w.imag() == 0 && std::fabs(w.real()) > 1) return {w.real(), w.real() > 0 ? -0.0L : 0.0L};
  return w;
}
CxL asinh_side(CxL w) {
  if (w.real() == 0 && std::fabs(w.imag()) > 1) return {w.imag() > 0 ? 0.0L : -0.0L, w.imag()};
  return w;
}

// The expected value of the function of `op` at a + bi; a real argument
// takes its reciprocal as a real division.
CxL reference(uint32_t op, LD a, LD b, bool real_arg) {
  const CxL z(a, b);
  auto recip = [&](CxL w) { return real_arg ? CxL(1 / double(w.real()), 0.0L) : lrecip(w); };
  switch (op) {
    case kOpExp: return std::exp(z);
    case kOpExpm1: return tiny(z) ? series_expm1(z) : std::exp(z) - LD(1);
    case kOpLog: return std::log(z);
    case kOpLog10: return std::log(z) / std::log(LD(10));
    case kOpLog2: return std::log(z) / std::log(LD(2));
    // 1 + z formed part by part: a complex sum would turn -0 into +0.
    case kOpLog1p: return tiny(z) ? series_log1p(z) : std::log(CxL(LD(1) + z.real(), z.imag()));
    case kOpSqrt: return std::sqrt(z.real() < 0 ? upper(z) : z);
    case kOpSin: return std::sin(z);
    case kOpCos: return std::cos(z);
    case kOpTan: return std::tan(z);
    case kOpSec: return recip(std::cos(z));
    case kOpCsc: return recip(std::sin(z));
    case kOpCot: return recip(std::tan(z));
    case kOpSinc: {
      const CxL w = LD(kPiD) * z;  // pi as a double, as the engine has it: sinc(1) is not 0
      return w == CxL(0) ? CxL(1) : std::sin(w) / w;
    }
    case kOpAsin: return std::asin(asin_side(z));
    case kOpAcos: return std::acos(asin_side(z));
    case kOpAtan: return std::atan(z);
    case kOpAsec: return std::acos(asin_side(recip(z)));
    case kOpAcsc: return std::asin(asin_side(recip(z)));
    case kOpAcot: return std::atan(recip(z));
    case kOpSinh: return std::sinh(z);
    case kOpCosh: return std::cosh(z);
    case kOpTanh: return std::tanh(z);
    case kOpSech: return recip(std::cosh(z));
    case kOpCsch: return recip(std::sinh(z));
    case kOpCoth: return recip(std::tanh(z));
    case kOpAsinh: return std::asinh(asinh_side(z));
    case kOpAcosh: return std::acosh(upper(z));
    case kOpAtanh: return std::atanh(upper(z));
    case kOpAsech: return std::acosh(upper(recip(z)));
    case kOpAcsch: return std::asinh(asinh_side(recip(z)));
    case kOpAcoth: return std::atanh(upper(recip(z)));
    default: ADD_FAILURE() << "no reference for opcode " << op; return {};
  }
}

// The real path: the standard library's double function, bit for bit.
double real_path(uint32_t op, double x) {
  switch (op) {
    case kOpExp: return std::exp(x);
    case kOpExpm1: return std::expm1(x);
    case kOpLog: return std::log(x);
    case kOpLog10: return std::log10(x);
    case kOpLog2: return std::log2(x);
    case kOpLog1p: return std::log1p(x);
    case kOpSqrt: return std::sqrt(x);
    case kOpSin: return std::sin(x);
    case kOpCos: return std::cos(x);
    case kOpTan: return std::tan(x);
    case kOpSec: return 1 / std::cos(x);
    case kOpCsc: return 1 / std::sin(x);
    case kOpCot: return 1 / std::tan(x);
    case kOpSinc: return x == 0 ? 1.0 : std::sin(kPiD * x) / (kPiD * x);
    case kOpAsin: return std::asin(x);
    case kOpAcos: return std::acos(x);
    case kOpAtan: return std::atan(x);
    case kOpAsec: return std::acos(1 / x);
    case kOpAcsc: return std::asin(1 / x);
    case kOpAcot: return std::atan(1 / x);
    case kOpSinh: return std::sinh(x);
    case kOpCosh: return std::cosh(x);
    case kOpTanh: return std::tanh(x);
    case kOpSech: return 1 / std::cosh(x);
    case kOpCsch: return 1 / std::sinh(x);
    case kOpCoth: return 1 / std::tanh(x);
    case kOpAsinh: return std::asinh(x);
    case kOpAcosh: return std::acosh(x);
    case kOpAtanh: return std::atanh(x);
    case kOpAsech: return std::acosh(1 / x);
    case kOpAcsch: return std::asinh(1 / x);
    // Not atanh(1/x): near |x| = 1 the rounding of 1/x is magnified a
    // millionfold. ln((x + 1)/(x - 1))/2, in long double, is within an ulp.
    case kOpAcoth: return double(std::copysign(0.5L * std::log1p(2.0L / (std::fabs((long double)x) - 1)), (long double)x));
    default: return kNaN;
  }
}

// Where a real argument gives a complex result (NaN never does).
bool widens(uint32_t op, double x) {
  const double r = 1 / x;
  switch (op) {
    case kOpLog:
    case kOpLog10:
    case kOpLog2:
    case kOpSqrt: return x < 0;
    case kOpAsin:
    case kOpAcos:
    case kOpAtanh: return std::fabs(x) > 1;
    case kOpAsec:
    case kOpAcsc:
    case kOpAcoth: return std::fabs(r) > 1;
    case kOpAcosh: return x < 1;
    case kOpAsech: return r < 1;
    default: return false;
  }
}

const uint32_t kFamilyOps[] = {kOpExp,   kOpExpm1, kOpLog,   kOpLog10, kOpLog2, kOpLog1p, kOpSqrt,
                               kOpSin,   kOpCos,   kOpTan,   kOpSec,   kOpCsc,  kOpCot,   kOpSinc,
                               kOpAsin,  kOpAcos,  kOpAtan,  kOpAsec,  kOpAcsc, kOpAcot,  kOpSinh,
                               kOpCosh,  kOpTanh,  kOpSech,  kOpCsch,  kOpCoth, kOpAsinh, kOpAcosh,
                               kOpAtanh, kOpAsech, kOpAcsch, kOpAcoth};

std::string op_name(uint32_t op) {
  const IntrinsicEntry* e = intrinsic_by_opcode(op);
  return e ? e->name : std::to_string(op);
}

// Component-wise closeness relative to the reference's modulus; infinities
// and NaN must match exactly.
::testing::AssertionResult close(double got_re, double got_im, CxL ref, double tol = 1e-13) {
  const LD mod = std::abs(ref);
  const LD scale = std::isfinite(mod) ? std::fmax(mod, LD(1e-300)) : LD(1);
  const LD want[2] = {ref.real(), ref.imag()};
  const double got[2] = {got_re, got_im};
  for (int k = 0; k < 2; ++k) {
    const double w = static_cast<double>(want[k]);
    bool ok;
    if (std::isnan(w))
      ok = std::isnan(got[k]);
    else if (std::isinf(w) || std::isinf(got[k]))
      ok = got[k] == w;
    else
      ok = std::fabs(got[k] - want[k]) <= tol * scale;
    if (!ok)
      return ::testing::AssertionFailure()
             << "got " << got_re << (got_im < 0 ? " - " : " + ") << std::fabs(got_im) << "i, want "
             << double(ref.real()) << (ref.imag() < 0 ? " - " : " + ")
             << double(std::fabs(ref.imag())) << "i";
  }
  return ::testing::AssertionSuccess();
}

struct Cx {
  double re, im;
};

class Elemfun : public StartedEngineClearing {
 protected:
  // Runs op on the top item; one item stays in its place.
  tv::Value run(uint32_t op) {
    const int items = e.items();
    EXPECT_EQ(elemfun_run_opcode(c, op), kOk) << op_name(op);
    EXPECT_EQ(e.items(), items);
    EXPECT_TRUE(e.invariants());
    tv::Value v = tv::read(c);
    stk_drop(c);
    return v;
  }
  tv::Value run_row(uint32_t op, const V& re, const V& im = {}) {
    tv::push_row(c, re, im);
    return run(op);
  }
  Cx scalar(uint32_t op, double re, double im = 0, bool cplx = false) {
    if (cplx)
      tv::push_cscalar(c, re, im);
    else
      tv::push_scalar(c, re);
    tv::Value v = run(op);
    return {v.re.at(0), v.cplx ? v.im.at(0) : 0.0};
  }
  // Expects status with the stacks exactly as they were.
  void expect_refused(int status, int (*call)(EngineContext*)) {
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(call(c), status);
    EXPECT_TRUE(snapshot_stacks(c) == before);
  }
};

const V kRealGrid = {-1e300, -1e10,   -800, -20, -3,     -2,    -1.5, -1,    -0.99, -0.5,
                     -1e-10, -1e-300, -0.0, 0.0, 1e-300, 1e-10, 0.5,  0.99,  1,     1.5,
                     2,      3,       20,   800, 1e10,   1e300, kInf, -kInf, kNaN};

TEST_F(Elemfun, RealArgumentsFollowTheStandardLibraryAndWidenOutsideTheDomain) {
  V reversed(kRealGrid.rbegin(), kRealGrid.rend());  // switches in the middle
  for (uint32_t op : kFamilyOps)
    for (const V* grid : {&kRealGrid, static_cast<const V*>(&reversed)}) {
      SCOPED_TRACE(op_name(op));
      const tv::Value v = run_row(op, *grid);
      bool any = false;
      for (double x : *grid) any = any || widens(op, x);
      ASSERT_EQ(v.cplx, any);
      ASSERT_EQ(v.re.size(), grid->size());
      for (size_t i = 0; i < grid->size(); ++i) {
        const double x = (*grid)[i];
        SCOPED_TRACE("x = " + std::to_string(x));
        if (widens(op, x)) {
          EXPECT_TRUE(close(v.re[i], v.im[i], reference(op, x, 0, true)));
          continue;
        }
        if (op == kOpAcoth && std::isfinite(real_path(op, x)))
          EXPECT_LE(std::fabs(v.re[i] - real_path(op, x)), std::nextafter(std::fabs(real_path(op, x)), kInf) - std::fabs(real_path(op, x)));
        else
          EXPECT_EQ(tv::bits(v.re[i]), tv::bits(real_path(op, x)));
        if (v.cplx) {
          EXPECT_EQ(v.im[i], 0.0);
        }
      }
    }
}

TEST_F(Elemfun, ComplexArgumentsAcrossTheCutsMatchStdComplex) {
  const V parts = {-3, -2, -1.5, -1, -0.5, -1e-9, -0.0, 0.0, 1e-9, 0.5, 1, 1.5, 2, 3};
  V re, im;
  for (double a : parts)
    for (double b : parts) {
      re.push_back(a);
      im.push_back(b);
    }
  for (uint32_t op : kFamilyOps) {
    SCOPED_TRACE(op_name(op));
    const tv::Value v = run_row(op, re, im);
    ASSERT_TRUE(v.cplx);
    for (size_t i = 0; i < re.size(); ++i)
      EXPECT_TRUE(close(v.re[i], v.im[i], reference(op, re[i], im[i], false)))
          << "z = " << re[i] << (std::signbit(im[i]) ? " - " : " + ") << std::fabs(im[i]) << "i";
  }
}

TEST_F(Elemfun, ComplexPathsDoNotOverflowOnLargeOrTinyArguments) {
  const V parts = {-1e300, -1e200, -1e-310, 1e-310, 1e200, 1e300};
  V re, im;
  for (double a : parts)
    for (double b : parts) {
      re.push_back(a);
      im.push_back(b);
    }
  const uint32_t ops[] = {kOpSqrt, kOpLog,   kOpLog10, kOpLog2,  kOpLog1p, kOpAsin, kOpAcos,
                          kOpAtan, kOpAsinh, kOpAcosh, kOpAtanh, kOpTan,   kOpTanh};
  for (uint32_t op : ops) {
    SCOPED_TRACE(op_name(op));
    const tv::Value v = run_row(op, re, im);
    for (size_t i = 0; i < re.size(); ++i) {
      const CxL want = reference(op, re[i], im[i], false);
      ASSERT_TRUE(std::isfinite(double(want.real())) && std::isfinite(double(want.imag())));
      EXPECT_TRUE(close(v.re[i], v.im[i], want, 1e-12)) << "z = " << re[i] << ", " << im[i];
    }
  }
  // expm1 and exp near the top of the range; abs and sign of huge parts.
  const tv::Value x = run_row(kOpExpm1, {709.5, 709.9, -800}, {1.0, -2.5, 3.0});
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(close(x.re[i], x.im[i], std::exp(CxL(V{709.5, 709.9, -800}[i], V{1.0, -2.5, 3.0}[i])) - LD(1)));
  const tv::Value a = run_row(kOpAbs, {1e308, 3e-320}, {1e308, 4e-320});
  EXPECT_DOUBLE_EQ(a.re[0], std::sqrt(2.0) * 1e308);
  EXPECT_NEAR(a.re[1], 5e-320, 1e-323);
  const tv::Value s = run_row(kOpSign, {1e308, -kInf, 0}, {1e308, 1, 0});
  EXPECT_DOUBLE_EQ(s.re[0], std::sqrt(0.5));
  EXPECT_DOUBLE_EQ(s.im[0], std::sqrt(0.5));
  EXPECT_EQ(s.re[1], -1.0);
  EXPECT_EQ(s.im[1], 0.0);
  EXPECT_EQ(s.re[2], 0.0);
  EXPECT_EQ(s.im[2], 0.0);
}

TEST_F(Elemfun, EdgeValuesOfTheFamilies) {
  const double h = 1.3169578969248166;  // acosh(2)
  auto expect = [&](uint32_t op, double x, double re, double im) {
    SCOPED_TRACE(op_name(op) + "(" + std::to_string(x) + ")");
    const Cx r = scalar(op, x);
    EXPECT_NEAR(r.re, re, 1e-15);
    EXPECT_NEAR(r.im, im, 1e-15);
  };
  expect(kOpLog, -1, 0, kPiD);
  expect(kOpLog10, -10, 1, 1.3643763538418412);
  expect(kOpLog2, -2, 1, 4.532360141827194);
  expect(kOpAsin, 2, kPiD / 2, -h);
  expect(kOpAsin, -2, -kPiD / 2, h);
  expect(kOpAcos, 2, 0, h);
  expect(kOpAcos, -2, kPiD, -h);
  expect(kOpAsec, 0.5, 0, h);
  expect(kOpAtanh, 2, 0.5493061443340549, kPiD / 2);
  expect(kOpAtanh, -2, -0.5493061443340549, kPiD / 2);
  expect(kOpAcosh, 0, 0, kPiD / 2);
  expect(kOpAcosh, -2, h, kPiD);  // the principal value
  expect(kOpSec, 0, 1, 0);
  expect(kOpAcot, 0, kPiD / 2, 0);
  expect(kOpSinc, 0, 1, 0);
  EXPECT_EQ(scalar(kOpCsc, 0).re, kInf);
  EXPECT_EQ(scalar(kOpSinc, 1).re, std::sin(kPiD) / kPiD);  // about 3.9e-17
  EXPECT_EQ(scalar(kOpTanh, 800).re, 1.0);
  EXPECT_EQ(scalar(kOpCosh, 800).re, kInf);
  EXPECT_TRUE(std::isnan(scalar(kOpLog1p, -2).re));
  EXPECT_EQ(scalar(kOpLog1p, -1).re, -kInf);
  // Small arguments keep their accuracy.
  EXPECT_EQ(scalar(kOpExpm1, 1e-20).re, 1e-20);
  EXPECT_EQ(scalar(kOpSinh, 1e-20).re, 1e-20);
  EXPECT_EQ(scalar(kOpAsinh, 1e-20).re, 1e-20);
  EXPECT_EQ(scalar(kOpAtanh, 1e-20).re, 1e-20);
  EXPECT_EQ(scalar(kOpLog1p, 1e-20).re, 1e-20);
  // The complex forms agree on the real axis whatever the zero's sign, but
  // for the logarithms: their imaginary part is atan2(b, a), -pi for b = -0.
  for (double zero : {0.0, -0.0}) {
    SCOPED_TRACE(std::signbit(zero) ? "-0" : "+0");
    const Cx l = scalar(kOpLog, -1, zero, true);
    EXPECT_EQ(l.im, std::signbit(zero) ? -kPiD : kPiD);
    const Cx r = scalar(kOpSqrt, -4, zero, true);
    EXPECT_EQ(r.re, 0.0);
    EXPECT_EQ(r.im, 2.0);
    const Cx a = scalar(kOpAsin, 2, zero, true);
    EXPECT_NEAR(a.im, -h, 1e-15);
    const Cx t = scalar(kOpAtanh, -2, zero, true);
    EXPECT_NEAR(t.im, kPiD / 2, 1e-15);
    const Cx k = scalar(kOpAcos, -2, zero, true);
    EXPECT_EQ(k.re, kPiD);
  }
  // asinh's imaginary cut: upper half from the right, lower half from the left.
  for (double zero : {0.0, -0.0}) {
    const Cx up = scalar(kOpAsinh, zero, 2, true);
    EXPECT_NEAR(up.re, h, 1e-15);
    EXPECT_NEAR(up.im, kPiD / 2, 1e-15);
    const Cx down = scalar(kOpAsinh, zero, -2, true);
    EXPECT_NEAR(down.re, -h, 1e-15);
    EXPECT_NEAR(down.im, -kPiD / 2, 1e-15);
  }
  // 1 / 0 is +Inf + 0i for complex reciprocals.
  const Cx sec0 = scalar(kOpCsc, 0, 0, true);
  EXPECT_EQ(sec0.re, kInf);
  EXPECT_EQ(sec0.im, 0.0);
}

TEST_F(Elemfun, MagnitudePhaseSignAndRounding) {
  tv::Value v = run_row(kOpAbs, {-3, -0.0, kInf, kNaN});
  EXPECT_EQ(V(v.re.begin(), v.re.begin() + 3), (V{3, 0, kInf}));
  EXPECT_FALSE(std::signbit(v.re[1]));
  EXPECT_TRUE(std::isnan(v.re[3]));
  EXPECT_FALSE(v.cplx);
  v = run_row(kOpAbs, {3, -1}, {4, 0});
  EXPECT_FALSE(v.cplx);  // made real
  EXPECT_EQ(v.re, (V{5, 1}));
  v = run_row(kOpAngle, {-3, 0, -0.0, 2});
  EXPECT_EQ(v.re, (V{kPiD, 0, 0, 0}));
  v = run_row(kOpAngle, {-1, 0}, {0, -1});
  EXPECT_FALSE(v.cplx);
  EXPECT_EQ(v.re, (V{kPiD, -kPiD / 2}));
  v = run_row(kOpSign, {-2, -0.0, 0, 5, -kInf});
  EXPECT_EQ(v.re, (V{-1, 0, 0, 1, -1}));
  EXPECT_FALSE(std::signbit(v.re[1]));
  EXPECT_TRUE(std::isnan(run_row(kOpSign, {kNaN}).re[0]));
  v = run_row(kOpSign, {3, 0}, {4, 0});
  EXPECT_TRUE(v.cplx);
  EXPECT_EQ(v.re, (V{0.6, 0}));
  EXPECT_EQ(v.im, (V{0.8, 0}));

  const V x = {2.5, -2.5, -0.5, 0.5, -2.7, 2.7, 0.49999999999999994, 4503599627370497.0, -0.2, kInf};
  EXPECT_EQ(run_row(kOpRound, x).re, (V{3, -2, 0, 1, -3, 3, 0, 4503599627370497.0, 0, kInf}));
  EXPECT_FALSE(std::signbit(run_row(kOpRound, {-0.2}).re[0]));
  EXPECT_EQ(run_row(kOpFix, x).re, (V{2, -2, -0.0, 0, -2, 2, 0, 4503599627370497.0, -0.0, kInf}));
  EXPECT_EQ(run_row(kOpFloor, x).re, (V{2, -3, -1, 0, -3, 2, 0, 4503599627370497.0, -1, kInf}));
  EXPECT_EQ(run_row(kOpCeil, x).re, (V{3, -2, -0.0, 1, -2, 3, 1, 4503599627370497.0, -0.0, kInf}));
  v = run_row(kOpFloor, {2}, {3.5});
  EXPECT_EQ(v.re, V{2});
  EXPECT_EQ(v.im, V{3});
  v = run_row(kOpRound, {-2.5}, {2.5});
  EXPECT_EQ(v.re, V{-2});
  EXPECT_EQ(v.im, V{3});
}

TEST_F(Elemfun, RealLogAndRootDropTheImaginaryPart) {
  tv::Value v = run_row(kOpReallog, {-1, 1, kPiD});
  EXPECT_FALSE(v.cplx);
  EXPECT_TRUE(std::isnan(v.re[0]));
  EXPECT_EQ(v.re[1], 0);
  EXPECT_EQ(v.re[2], std::log(kPiD));
  v = run_row(kOpRealsqrt, {4, -4}, {3, 0});
  EXPECT_FALSE(v.cplx);
  EXPECT_EQ(v.re[0], 2);
  EXPECT_TRUE(std::isnan(v.re[1]));
}

TEST_F(Elemfun, ARealArraySwitchesToComplexInPlaceAtItsFirstNegative) {
  tv::push_row(c, {4, -1, 9});
  const double* before = reinterpret_cast<double*>(item_data(c, 0));
  ASSERT_EQ(bi_exp(c, kExpSqrt), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindComplex);
  EXPECT_EQ(reinterpret_cast<double*>(item_data(c, 0)), before);
  tv::Value v = tv::read(c);
  EXPECT_EQ(v.re, (V{2, 0, 3}));
  EXPECT_EQ(v.im, (V{0, 1, 0}));
  stk_drop(c);

  // An N-d array: type 64 becomes 65, the shape stays.
  tv::push_double(c, {2, 1, 2}, {1, -1, 4, -4});
  ASSERT_EQ(bi_exp(c, kExpLog), kOk);
  v = tv::read(c);
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{2, 1, 2}));
  EXPECT_EQ(v.re, (V{0, 0, std::log(4.0), std::log(4.0)}));
  EXPECT_EQ(v.im, (V{0, kPiD, 0, kPiD}));
  EXPECT_TRUE(e.invariants());
  stk_drop(c);

}

TEST_F(Elemfun, Atan2ExpandsScalarsAndReplacesBothArguments) {
  auto atan2_of = [&](auto push_y, auto push_x) {
    tv::push_scalar(c, 99);  // a neighbour below stays
    push_y();
    push_x();
    EXPECT_EQ(bi_atan2(c), kOk);
    EXPECT_EQ(e.items(), 2);
    EXPECT_TRUE(e.invariants());
    tv::Value v = tv::read(c);
    stk_drop(c);
    EXPECT_EQ(tv::read(c).re, V{99});
    stk_drop(c);
    return v;
  };
  tv::Value v = atan2_of([&] { tv::push_scalar(c, 1); }, [&] { tv::push_row(c, {1, -1}); });
  EXPECT_EQ(v.re, (V{std::atan2(1.0, 1.0), std::atan2(1.0, -1.0)}));
  v = atan2_of([&] { tv::push_row(c, {1, -1, 0}); }, [&] { tv::push_scalar(c, -1); });
  EXPECT_EQ(v.re, (V{std::atan2(1.0, -1.0), std::atan2(-1.0, -1.0), std::atan2(0.0, -1.0)}));
  // Only the real parts are read; a complex Y does not take the result.
  v = atan2_of([&] { tv::push_row(c, {1, 2}, {5, 5}); }, [&] { tv::push_row(c, {0, 2}, {7, 7}); });
  EXPECT_FALSE(v.cplx);
  EXPECT_EQ(v.re, (V{kPiD / 2, kPiD / 4}));
  v = atan2_of([&] { tv::push_cscalar(c, 1, 1); }, [&] { tv::push_cscalar(c, 0, 1); });
  EXPECT_EQ(v.re, V{kPiD / 2});
  v = atan2_of([&] { tv::push_double(c, {1, 2, 2}, {1, 2, 3, 4}); }, [&] { tv::push_scalar(c, 1); });
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{1, 2, 2}));
  EXPECT_EQ(v.re[3], std::atan2(4.0, 1.0));
  v = atan2_of([&] { tv::push_scalar(c, 1); }, [&] { ASSERT_EQ(stk_push_empty(c), kOk); });
  EXPECT_EQ(v.re.size(), 0u);

  // Errors leave both arguments.
  tv::push_row(c, {1, 2});
  tv::push_row(c, {1, 2, 3});
  expect_refused(kIncompatibleSize, bi_atan2);
  e.clear();
  tv::push_scalar(c, 1);
  tv::push_single(c, {1, 1}, {1});
  expect_refused(kWrongArgType, bi_atan2);
}

TEST_F(Elemfun, NonDoubleArgumentsAndUnknownSelectorsAreRefused) {
  using Push = void (*)(EngineContext*);
  const Push pushes[] = {
      [](EngineContext* x) { tv::push_ints(x, kElemI8, {1, 1}, {-3}); },
      [](EngineContext* x) { tv::push_chars(x, u"a"); },
      [](EngineContext* x) { tv::push_logicals(x, {1}); },
      [](EngineContext* x) { tv::push_single(x, {1, 2}, {1, 2}); },
      [](EngineContext* x) { ASSERT_EQ(stk_push_cell_array(x, 1, nullptr), kOk); },
      [](EngineContext* x) { ASSERT_EQ(stk_make_container(x, 0, 0, nullptr, 0), kOk); },
  };
  for (Push p : pushes) {
    p(c);
    std::vector<uint32_t> ops(std::begin(kFamilyOps), std::end(kFamilyOps));
    ops.insert(ops.end(), {kOpAbs, kOpAngle, kOpSign, kOpFix, kOpFloor, kOpCeil, kOpRound, kOpReallog, kOpRealsqrt});
    for (uint32_t op : ops) {
      SCOPED_TRACE(op_name(op));
      const StackSnapshot before = snapshot_stacks(c);
      EXPECT_EQ(elemfun_run_opcode(c, op), kWrongArgType);
      EXPECT_TRUE(snapshot_stacks(c) == before);
    }
    stk_drop(c);
  }
  // Unknown selectors, before the argument is looked at.
  ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk);
  EXPECT_EQ(bi_round(c, 'x'), kNotSupported);
  EXPECT_EQ(bi_exp(c, 'x'), kNotSupported);
  EXPECT_EQ(bi_reallog(c, 'e'), kNotSupported);
  EXPECT_EQ(bi_circular(c, 'x', 0), kNotSupported);
  EXPECT_EQ(bi_hyperbolic(c, kTrigSinc, 0), kNotSupported);
  EXPECT_EQ(elemfun_run_opcode(c, kOpSum), kNotSupported);
  EXPECT_EQ(e.items(), 1);
}

}  // namespace
