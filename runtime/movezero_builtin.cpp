// `movezero(p, zold, znew)`: moves a zero of a real polynomial by dividing
// out its factor and multiplying the new one in. The polynomial keeps its
// length; a divisor of higher degree than p is refused rather than divided
// past the coefficients.
#include <cmath>
#include <complex>
#include <vector>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/polyroots.h"
#include "runtime/tn_builtins.h"

namespace {

constexpr int kNonVector = 22;            // "Non-vector array"
constexpr double kImagRelTol = 1e-6;      // sum|imag| / sum|real| below this: real
constexpr double kImagAbsPerCoeff = 1e-3;  // or sum|imag| below this times the length
constexpr double kNoRoot = 1e18;          // distance of "no second real root"

using Poly = std::vector<double>;

// Divides p by the monic divisor d (leading 1 left out), dropping the remainder.
Poly divide(const Poly& p, const Poly& d) {
  const size_t n = p.size() - d.size();
  Poly q(n, 0.0);
  for (size_t k = 0; k < n; ++k) {
    double v = p[k];
    for (size_t j = 0; j < d.size() && j < k; ++j) v -= d[j] * q[k - 1 - j];
    q[k] = v;
  }
  return q;
}

// Multiplies q by the monic factor d (leading 1 left out).
Poly multiply(const Poly& q, const Poly& d) {
  Poly r(q.size() + d.size(), 0.0);
  for (size_t k = 0; k < q.size(); ++k) {
    r[k] += q[k];
    for (size_t j = 0; j < d.size(); ++j) r[k + 1 + j] += q[k] * d[j];
  }
  return r;
}

Poly quadratic(std::complex<double> z) { return {-2 * z.real(), std::norm(z)}; }
Poly linear(double z) { return {-z}; }
Poly two_reals(double a, double b) { return {-(a + b), a * b}; }

// The real roots of p, leading zeros left out.
std::vector<double> real_roots(const Poly& p) {
  size_t lead = 0;
  while (lead < p.size() && p[lead] == 0.0) ++lead;
  std::vector<double> out;
  if (p.size() - lead < 2) return out;
  Poly q(p.begin() + std::ptrdiff_t(lead), p.end());
  const int32_t n = int32_t(q.size() - 1);
  const size_t count = static_cast<size_t>(n);
  std::vector<double> re(count), im(count), work(static_cast<size_t>(roots_real_work(n)));
  roots_real_coeffs(q.data(), n, re.data(), im.data(), work.data());
  for (int32_t k = 0; k < n; ++k)
    if (im[size_t(k)] == 0.0) out.push_back(re[size_t(k)]);
  return out;
}

// The moved polynomial and znew as moved; kBadArgument when the divisor is
// of higher degree than p.
int move_zero(const Poly& p, std::complex<double> zold, std::complex<double>* znew, Poly* out) {
  const size_t degree = p.size() - 1;
  Poly div, mul;
  if (zold.imag() != 0.0) {
    div = quadratic(zold);
    if (zold.imag() * znew->imag() >= 0) {
      mul = quadratic(*znew);
    } else {
      // The pair meets the real axis and splits there.
      mul = two_reals(zold.real(), znew->real());
      *znew = znew->real();
    }
  } else if (znew->imag() != 0.0) {
    // The real root nearest zold, then the next nearest other one.
    const std::vector<double> roots = real_roots(p);
    size_t nearest = roots.size();
    for (size_t k = 0; k < roots.size(); ++k)
      if (nearest == roots.size() || std::fabs(roots[k] - zold.real()) < std::fabs(roots[nearest] - zold.real()))
        nearest = k;
    double best = kNoRoot, r2 = 0;
    for (size_t k = 0; k < roots.size(); ++k)
      if (k != nearest && std::fabs(roots[k] - zold.real()) < best) best = std::fabs(roots[k] - zold.real()), r2 = roots[k];
    if (best < kNoRoot) {
      div = two_reals(zold.real(), r2);
      mul = quadratic(*znew);
    } else {
      *znew = znew->real();
    }
  }
  if (div.empty()) {
    div = linear(zold.real());
    mul = linear(znew->real());
  }
  if (div.size() > degree) return kBadArgument;
  *out = multiply(divide(p, div), mul);
  return kOk;
}

// p as a real vector: complex coefficients with small imaginary parts pass.
int read_poly(EngineContext* ctx, int depth, Poly* p, int32_t* rows, int32_t* cols) {
  double *re = nullptr, *im = nullptr;
  TN_TRY(stk_get_matrix(ctx, depth, rows, cols, &re, &im));
  if (*rows > 1 && *cols > 1) return kNonVector;
  const int64_t n = int64_t(*rows) * *cols;
  p->assign(re, re + n);
  if (!im) return kOk;
  double sum_re = 0, sum_im = 0;
  for (int64_t k = 0; k < n; ++k) sum_re += std::fabs(re[k]), sum_im += std::fabs(im[k]);
  if (sum_im < kImagRelTol * sum_re || sum_im < kImagAbsPerCoeff * double(n)) return kOk;
  return kWrongType;
}

int read_point(EngineContext* ctx, int depth, std::complex<double>* z) {
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  if (stk_get_matrix(ctx, depth, &rows, &cols, &re, &im) != kOk || rows != 1 || cols != 1) return kBadArgument;
  *z = {re[0], im ? im[0] : 0.0};
  return kOk;
}

}  // namespace

int bi_movezero(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  Poly p;
  int32_t rows = 0, cols = 0;
  std::complex<double> zold, znew;
  TN_TRY(read_poly(ctx, 2, &p, &rows, &cols));
  TN_TRY(read_point(ctx, 1, &zold));
  TN_TRY(read_point(ctx, 0, &znew));
  Poly moved;
  if (!p.empty()) TN_TRY(move_zero(p, zold, &znew, &moved));
  // The first output lies on top: znew as moved goes first.
  int pushed = 0;
  if (nargout >= 2) {
    TN_TRY(znew.imag() != 0.0 ? stk_push_complex(ctx, znew.real(), znew.imag()) : stk_push_real(ctx, znew.real()));
    pushed = 1;
  }
  double* out = nullptr;
  if (const int status = stk_push_matrix(ctx, rows, cols, &out, nullptr); status != kOk) {
    if (pushed) stk_drop(ctx);
    return status;
  }
  for (size_t k = 0; k < moved.size(); ++k) out[k] = moved[k];
  ++pushed;
  return stk_remove(ctx, pushed, nargin);
}
