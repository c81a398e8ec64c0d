// c2dm, d2cm, ss2tf and tf2ss with their kernels. Every built-in reads its
// arguments where they lie, works in scratch that starts beyond the words its
// outputs will take, and pushes the outputs only when nothing can fail any
// more, so an error leaves the stack as it was.
#include "numlib/control/conversions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/control/control_args.h"
#include "numlib/dense_lu.h"
#include "numlib/expm.h"
#include "numlib/matmul.h"
#include "numlib/polyroots.h"

namespace {

constexpr int kNotRowVector = 24;       // "Not a row vector"
constexpr int64_t kHeaderSlack = 16;    // words a pushed matrix may take beyond its elements
constexpr int kMaxOutputs = 4;

using control_args::Bump;
using control_args::Mat;
using control_args::real_matrix;

void conv_add(const double* x, int64_t nx, const double* y, int64_t ny, double scale, double* out) {
  for (int64_t i = 0; i < nx; ++i)
    for (int64_t j = 0; j < ny; ++j) out[i + j] += scale * x[i] * y[j];
}

// The outputs of a call, gathered in scratch and pushed at the end.
struct Outputs {
  int count = 0;
  Mat m[kMaxOutputs];
};

int64_t output_words(const Outputs& o) {
  int64_t w = 0;
  for (int k = 0; k < o.count; ++k) w += o.m[k].count() + kHeaderSlack;
  return w;
}

// Pushes the outputs last first (the first ends on top) and removes the
// nargin arguments beneath them. The room was tested before any work.
int push_outputs(EngineContext* ctx, const Outputs& o, int nargin) {
  const int32_t desc0 = ctx->desc_top, data0 = ctx->data_top;
  for (int k = o.count - 1; k >= 0; --k) {
    double* p = nullptr;
    const int s = stk_push_matrix(ctx, o.m[k].rows, o.m[k].cols, &p, nullptr);
    if (s != kOk) {
      ctx->desc_top = desc0;
      ctx->data_top = data0;
      return s;
    }
    if (o.m[k].count()) std::memmove(p, o.m[k].re, size_t(o.m[k].count()) * sizeof(double));
  }
  return stk_remove(ctx, o.count, nargin);
}

// Scratch beyond the outputs' words: the outputs are gathered low in it, so
// each push copies downwards (memmove) from a higher address.
struct Room {
  double* base = nullptr;
  int64_t words = 0;
};
Room room_of(EngineContext* ctx, int64_t out_words) {
  void* free_ptr = nullptr;
  int64_t bytes = 0;
  stk_free_space(ctx, &bytes, &free_ptr);
  return {static_cast<double*>(free_ptr) + out_words, bytes / 8 - out_words};
}

// --- State-space discretisations ----------------------------------------------

// Ad, Bd by the matrix exponential of [A T, B T; 0, 0].
void kernel_zoh(const double* a, int64_t n, const double* b, int64_t m, double t, double* ad,
                double* bd, Bump bump) {
  const int64_t N = n + m;
  double* mm = bump.take(N * N);
  double* e = bump.take(N * N);
  double* work = bump.take(numk_expm_work_real(N));
  std::fill(mm, mm + N * N, 0.0);
  for (int64_t i = 0; i < n; ++i) {
    for (int64_t j = 0; j < n; ++j) mm[i * N + j] = a[i * n + j] * t;
    for (int64_t j = 0; j < m; ++j) mm[i * N + n + j] = b[i * m + j] * t;
  }
  numk_expm_real(mm, int32_t(N), e, work);
  for (int64_t i = 0; i < n; ++i) {
    for (int64_t j = 0; j < n; ++j) ad[i * n + j] = e[i * N + j];
    for (int64_t j = 0; j < m; ++j) bd[i * m + j] = e[i * N + n + j];
  }
}

// First-order hold: [A T, B T, 0; 0, 0, I; 0, 0, 0]; Bd = G1 - G2 + Phi G2,
// Dd = D + C G2 (cd, dd given as copies of C and D).
void kernel_foh(const double* a, int64_t n, const double* b, int64_t m, const double* c, int64_t p,
                double t, double* ad, double* bd, double* dd, Bump bump) {
  const int64_t N = n + 2 * m;
  double* mm = bump.take(N * N);
  double* e = bump.take(N * N);
  double* work = bump.take(numk_expm_work_real(N));
  double* g2 = bump.take(n * m);
  std::fill(mm, mm + N * N, 0.0);
  for (int64_t i = 0; i < n; ++i) {
    for (int64_t j = 0; j < n; ++j) mm[i * N + j] = a[i * n + j] * t;
    for (int64_t j = 0; j < m; ++j) mm[i * N + n + j] = b[i * m + j] * t;
  }
  for (int64_t i = 0; i < m; ++i) mm[(n + i) * N + n + m + i] = 1.0;
  numk_expm_real(mm, int32_t(N), e, work);
  for (int64_t i = 0; i < n; ++i) {
    for (int64_t j = 0; j < n; ++j) ad[i * n + j] = e[i * N + j];
    for (int64_t j = 0; j < m; ++j) {
      g2[i * m + j] = e[i * N + n + m + j];
      bd[i * m + j] = e[i * N + n + j] - g2[i * m + j];
    }
  }
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < m; ++j) {
      double s = 0.0;
      for (int64_t k = 0; k < n; ++k) s += ad[i * n + k] * g2[k * m + j];
      bd[i * m + j] += s;
    }
  for (int64_t i = 0; i < p; ++i)
    for (int64_t j = 0; j < m; ++j) {
      double s = 0.0;
      for (int64_t k = 0; k < n; ++k) s += c[i * n + k] * g2[k * m + j];
      dd[i * m + j] += s;
    }
}

// Tustin: X = (I - A T/2)^-1; Ad = (I + A T/2) X; Bd = X B; Cd = T C X;
// Dd = D + Cd B / 2. Outputs may not alias the inputs.
void kernel_tustin(const double* a, int64_t n, const double* b, int64_t m, const double* c,
                   int64_t p, const double* d, double t, double* ad, double* bd, double* cd,
                   double* dd, Bump bump) {
  double* lhs = bump.take(n * n);
  double* x = bump.take(n * n);
  double* ip = bump.take(n * n);
  auto* perm = reinterpret_cast<uint32_t*>(bump.take(n + 1));
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) {
      const double id = i == j ? 1.0 : 0.0;
      lhs[i * n + j] = id - a[i * n + j] * t / 2;
      ip[i * n + j] = id + a[i * n + j] * t / 2;
      x[i * n + j] = id;
    }
  linsolve_left_real(lhs, x, int32_t(n), int32_t(n), perm, 0);
  matmul_real(int32_t(n), int32_t(n), int32_t(n), ip, x, ad);
  matmul_real(int32_t(n), int32_t(n), int32_t(m), x, b, bd);
  matmul_real(int32_t(p), int32_t(n), int32_t(n), c, x, cd);
  for (int64_t k = 0; k < p * n; ++k) cd[k] *= t;
  matmul_real(int32_t(p), int32_t(n), int32_t(m), cd, b, dd);
  for (int64_t k = 0; k < p * m; ++k) dd[k] = d[k] + 0.5 * dd[k];
}

// Inverse Tustin: Y = (I + Ad)^-1; A = (2/T)(Ad - I) Y; B = 2 Y Bd;
// C = (2/T) Cd Y; D = Dd - Cd B / 2.
void kernel_tustin_inverse(const double* ad, int64_t n, const double* bd, int64_t m,
                           const double* cd, int64_t p, const double* dd, double t, double* a,
                           double* b, double* c, double* d, Bump bump) {
  double* lhs = bump.take(n * n);
  double* y = bump.take(n * n);
  double* am = bump.take(n * n);
  auto* perm = reinterpret_cast<uint32_t*>(bump.take(n + 1));
  for (int64_t i = 0; i < n; ++i)
    for (int64_t j = 0; j < n; ++j) {
      const double id = i == j ? 1.0 : 0.0;
      lhs[i * n + j] = id + ad[i * n + j];
      am[i * n + j] = ad[i * n + j] - id;
      y[i * n + j] = id;
    }
  linsolve_left_real(lhs, y, int32_t(n), int32_t(n), perm, 0);
  matmul_real(int32_t(n), int32_t(n), int32_t(n), am, y, a);
  for (int64_t k = 0; k < n * n; ++k) a[k] *= 2 / t;
  matmul_real(int32_t(n), int32_t(n), int32_t(m), y, bd, b);
  for (int64_t k = 0; k < n * m; ++k) b[k] *= 2;
  matmul_real(int32_t(p), int32_t(n), int32_t(n), cd, y, c);
  for (int64_t k = 0; k < p * n; ++k) c[k] *= 2 / t;
  matmul_real(int32_t(p), int32_t(n), int32_t(m), cd, b, d);
  for (int64_t k = 0; k < p * m; ++k) d[k] = dd[k] - 0.5 * d[k];
}

int64_t charpoly_scratch(int64_t n) { return n * n + numk_charpoly_work(n) + n + 1; }

// det(sI - A) into cp (n + 1), a kept.
void charpoly_of(const double* a, int64_t n, double* cp, Bump bump) {
  double* copy = bump.take(n * n);
  std::memcpy(copy, a, size_t(n * n) * sizeof(double));
  numk_charpoly(copy, int32_t(n), cp, bump.take(numk_charpoly_work(n)));
}

// Degree of a coefficient row after its leading zeros.
int64_t strip_leading(const double* p, int64_t len) {
  int64_t k = 0;
  while (k < len - 1 && p[k] == 0.0) ++k;
  return k;
}

enum class Method { Zoh, Foh, Tustin, Matched };

int read_method(EngineContext* ctx, int depth, bool continuous_to_discrete, Method* out) {
  *out = continuous_to_discrete ? Method::Zoh : Method::Tustin;
  if (!stk_is_char(ctx, depth)) return kWrongArgType;
  char text[8] = {};
  int32_t length = 0;
  TN_TRY(stk_get_string_buf(ctx, depth, text, sizeof text, &length));
  if (length == 0) return kOk;
  switch (text[0]) {
    case 't': *out = Method::Tustin; return kOk;
    case 'z': if (continuous_to_discrete) { *out = Method::Zoh; return kOk; } break;
    case 'f': if (continuous_to_discrete) { *out = Method::Foh; return kOk; } break;
    case 'm': if (continuous_to_discrete) { *out = Method::Matched; return kOk; } break;
    default: break;
  }
  return kUnknownOption;
}

int read_sample_time(EngineContext* ctx, int depth, double* t) {
  const int s = stk_get_real_scalar(ctx, depth, t);
  return s == kWrongType ? kWrongArgType : s;
}

// The state-space checks shared by c2dm, d2cm and ss2tf; an empty D passes.
// The inputs (*m) and outputs (*p) are B's columns and C's rows, or D's when
// there are no states: every empty matrix is 0 x 0 here, so B and C of a
// static gain carry no sizes.
int check_state_space(const Mat& a, const Mat& b, const Mat& c, const Mat& d, bool allow_empty_d,
                      int64_t* m, int64_t* p) {
  if (a.rows != a.cols || b.rows != a.rows || c.cols != a.cols) return kIncompatibleSize;
  *m = b.cols;
  *p = c.rows;
  if (a.rows == 0 && b.count() == 0 && c.count() == 0) *m = d.cols, *p = d.rows;
  if (allow_empty_d && d.count() == 0) return kOk;
  if (d.rows != *p || d.cols != *m) return kIncompatibleSize;
  return kOk;
}

// One transfer-function row of c2dm or d2cm: numd and dend of n + 1
// coefficients each (numd right-aligned, a leading zero where the method
// gives a shorter numerator).
void convert_row(const double* num, int64_t m, const double* den, int64_t n, double t,
                 Method method, bool to_discrete, double* numd, double* dend, Bump bump) {
  // A non-finite coefficient or sample time makes the whole system
  // non-finite. The methods would not carry it through: the hold methods'
  // matrix exponential, characteristic polynomials and root maps turn NaN and
  // Inf into ordinary-looking numbers.
  const auto finite = [](const double* p, int64_t count) {
    return std::all_of(p, p + count, [](double v) { return std::isfinite(v); });
  };
  if (!finite(num, m + 1) || !finite(den, n + 1) || !std::isfinite(t)) {
    std::fill(numd, numd + n + 1, NAN);
    std::fill(dend, dend + n + 1, NAN);
    return;
  }
  std::fill(numd, numd + n + 1, 0.0);
  std::fill(dend, dend + n + 1, 0.0);
  if (n == 0) {
    numd[0] = num[0] / den[0];
    dend[0] = 1.0;
    return;
  }
  if (method == Method::Tustin) {
    double* work = bump.take(2 * (n + 1) * (n + 1));
    if (to_discrete)
      ctrl_bilinear_subst(num, int32_t(m), den, int32_t(n), 2 / t, -2 / t, 1, 1, true, numd, dend, work);
    else
      ctrl_bilinear_subst(num, int32_t(m), den, int32_t(n), t, 2, -t, 2, true, numd, dend, work);
    return;
  }
  if (method == Method::Matched) {
    ctrl_matched_pz(num, int32_t(m), den, int32_t(n), t, numd, dend, bump.take(ctrl_matched_work(int32_t(n))));
    return;
  }
  // Hold methods: controller form, discretised, back to a transfer function.
  double* a = bump.take(n * n);
  double* b = bump.take(n);
  double* c = bump.take(n);
  double d = 0.0;
  ctrl_matrix_kernel_g(num, 1, int32_t(m), den, int32_t(n), a, b, c, &d);
  double* ad = bump.take(n * n);
  double* bd = bump.take(n);
  if (method == Method::Zoh) {
    kernel_zoh(a, n, b, 1, t, ad, bd, bump);
  } else {
    kernel_foh(a, n, b, 1, c, 1, t, ad, bd, &d, bump);
  }
  double* cp = bump.take(n + 1);
  charpoly_of(ad, n, cp, bump);
  ctrl_matrix_kernel_f(ad, int32_t(n), bd, 1, c, d, cp, numd, bump.take(charpoly_scratch(n)));
  std::memcpy(dend, cp, size_t(n + 1) * sizeof(double));
}

}  // namespace

void ctrl_bilinear_subst(const double* num, int32_t m, const double* den, int32_t n, double a,
                         double b, double c, double d, bool normalise, double* num_out,
                         double* den_out, double* work) {
  const int64_t w = int64_t(n) + 1;
  double* pa = work;       // row j: (a z + b)^j, j + 1 coefficients
  double* pc = work + w * w;  // (c z + d)^k, built up
  std::fill(pa, pa + w * w, 0.0);
  pa[0] = 1.0;
  for (int64_t j = 1; j < w; ++j) {
    const double* prev = pa + (j - 1) * w;
    double* row = pa + j * w;
    for (int64_t i = 0; i < j; ++i) {
      row[i] += a * prev[i];
      row[i + 1] += b * prev[i];
    }
  }
  std::fill(num_out, num_out + w, 0.0);
  std::fill(den_out, den_out + w, 0.0);
  std::fill(pc, pc + w, 0.0);
  pc[0] = 1.0;
  for (int64_t k = 0; k < w; ++k) {
    if (k > 0) {
      // pc := pc (c z + d), k + 1 coefficients.
      for (int64_t i = k; i >= 1; --i) pc[i] = c * pc[i] + d * pc[i - 1];
      pc[0] = c * pc[0];
    }
    const double nk = k >= n - m ? num[k - (n - m)] : 0.0;
    conv_add(pa + (n - k) * w, n - k + 1, pc, k + 1, nk, num_out);
    conv_add(pa + (n - k) * w, n - k + 1, pc, k + 1, den[k], den_out);
  }
  if (normalise && den_out[0] != 0.0) {
    const double lead = den_out[0];
    for (int64_t k = 0; k < w; ++k) {
      num_out[k] /= lead;
      den_out[k] /= lead;
    }
    den_out[0] = 1.0;
  }
}

void ctrl_matrix_kernel_f(const double* a, int32_t n, const double* b, int32_t b_stride,
                          const double* c, double d, const double* charpoly_a, double* num,
                          double* work) {
  const int64_t nn = n;
  double* abc = work;
  for (int64_t i = 0; i < nn; ++i)
    for (int64_t j = 0; j < nn; ++j) abc[i * nn + j] = a[i * nn + j] - b[i * b_stride] * c[j];
  numk_charpoly(abc, n, num, work + nn * nn);
  for (int64_t k = 0; k <= nn; ++k) num[k] = num[k] - charpoly_a[k] + d * charpoly_a[k];
}

void ctrl_matrix_kernel_g(const double* num, int32_t p, int32_t m, const double* den, int32_t n,
                          double* a, double* b, double* c, double* d) {
  const int64_t nn = n;
  std::fill(a, a + nn * nn, 0.0);
  std::fill(b, b + nn, 0.0);
  if (nn > 0) {
    for (int64_t j = 0; j < nn; ++j) a[j] = -den[j + 1] / den[0];
    for (int64_t i = 1; i < nn; ++i) a[i * nn + i - 1] = 1.0;
    b[0] = 1.0;
  }
  for (int64_t i = 0; i < p; ++i) {
    const double* row = num + i * (int64_t(m) + 1);
    double* ci = c + i * nn;
    std::fill(ci, ci + nn, 0.0);
    if (m < n) {
      for (int64_t k = 0; k <= m; ++k) ci[nn - 1 - m + k] = row[k] / den[0];
      d[i] = 0.0;
    } else {
      for (int64_t j = 0; j < nn; ++j)
        ci[j] = row[j + 1] / den[0] - row[0] * den[j + 1] / (den[0] * den[0]);
      d[i] = row[0] / den[0];
    }
  }
}

int64_t ctrl_matched_work(int32_t n) {
  const int64_t nn = n;
  return 8 * (nn + 1) + roots_real_work(nn) + 4 * (nn + 1);
}

void ctrl_matched_map_poly(const double* re, const double* im, int32_t k, int32_t extra, double t,
                           double* p, double* work) {
  const int64_t total = int64_t(k) + extra;
  double* zr = work;
  double* zi = zr + total;
  double* pi = zi + total;
  for (int64_t j = 0; j < k; ++j) {
    const double mag = std::exp(re[j] * t);
    zr[j] = mag * std::cos(im[j] * t);
    zi[j] = mag * std::sin(im[j] * t);
  }
  for (int64_t j = k; j < total; ++j) {
    zr[j] = -1.0;
    zi[j] = 0.0;
  }
  numk_poly_from_roots(zr, zi, int32_t(total), p, pi);
}

// p (degree d, d + 2 coefficients of room) times (z - 1) k times, in place.
static void times_z_minus_one(double* p, int64_t d, int64_t k) {
  for (int64_t r = 0; r < k; ++r, ++d) {
    p[d + 1] = -p[d];
    for (int64_t i = d; i > 0; --i) p[i] -= p[i - 1];
  }
}

// Trailing zero coefficients of p (degree d): its roots at exactly 0.
static int64_t roots_at_origin(const double* p, int64_t d) {
  int64_t k = 0;
  while (k < d && p[d - k] == 0.0) ++k;
  return k;
}

void ctrl_matched_pz(const double* num, int32_t m, const double* den, int32_t n, double t,
                     double* numd, double* dend, double* work) {
  const int64_t nn = n;
  int64_t lead = strip_leading(num, int64_t(m) + 1);
  const int64_t mm = m - lead;
  double* q = work;                 // a copy of the coefficients (the roots kernel rewrites it)
  double* re = q + (nn + 1);
  double* im = re + (nn + 1);
  double* mapwork = im + (nn + 1);  // 3 (n + 1)
  double* rwork = mapwork + 3 * (nn + 1) + 2 * (nn + 1);
  // Poles and zeros at s = 0 map to z = 1 exactly; they are set apart, so
  // that the gain can be matched where it is finite (below).
  const int64_t kd = roots_at_origin(den, nn);
  const int64_t kn = mm > 0 ? roots_at_origin(num + lead, mm) : 0;
  std::memcpy(q, den, size_t(nn - kd + 1) * sizeof(double));
  if (nn - kd > 0) roots_real_coeffs(q, int32_t(nn - kd), re, im, rwork);
  ctrl_matched_map_poly(re, im, int32_t(nn - kd), 0, t, dend, mapwork);
  // Numerator: its roots and n - m - 1 more at -1 when m < n.
  const int32_t extra = mm < nn ? int32_t(nn - mm - 1) : 0;
  std::memcpy(q, num + lead, size_t(mm - kn + 1) * sizeof(double));
  if (mm - kn > 0) roots_real_coeffs(q, int32_t(mm - kn), re, im, rwork);
  const int64_t deg = mm + extra;  // numd's degree
  double* nd = numd + (nn - deg);
  std::fill(numd, numd + nn + 1, 0.0);
  ctrl_matched_map_poly(re, im, int32_t(mm - kn), extra, t, nd, mapwork);
  // The gain is matched at s = 0 (z = 1) on what is left beside the roots
  // there: G(s) ~ s^k g0 near 0, k = kn - kd, and z - 1 ~ s t, so the rest
  // of the discrete function must give g0 / t^k at z = 1. Without roots at
  // the origin this is the gain at s = 0, numd(1)/dend(1) = num[m]/den[n].
  double sn = 0.0, sd = 0.0;
  for (int64_t k = 0; k <= deg - kn; ++k) sn += nd[k];
  for (int64_t k = 0; k <= nn - kd; ++k) sd += dend[k];
  const double gain = num[m - kn] / den[nn - kd] / std::pow(t, double(kn - kd));
  const double scale = gain * sd / sn;
  times_z_minus_one(nd, deg - kn, kn);
  times_z_minus_one(dend, nn - kd, kd);
  for (int64_t k = 0; k <= nn; ++k) numd[k] *= scale;
}

// [numd, dend] = c2dm(num, den, T[, method]); [Ad, Bd, Cd, Dd] = c2dm(A, B, C, D, T[, method]).
// d2cm likewise with 't' only; to_discrete tells them apart.
static int convert_system(EngineContext* ctx, int nargin, int nargout, bool to_discrete) {
  if (nargin < 3) return kTooFewInputs;
  if (nargin > 6) return kTooManyInputs;
  Method method = to_discrete ? Method::Zoh : Method::Tustin;
  const bool has_method = nargin == 4 || nargin == 6;
  if (has_method) TN_TRY(read_method(ctx, 0, to_discrete, &method));
  const int args = has_method ? nargin - 1 : nargin;
  const int shift = has_method ? 1 : 0;  // depth of the last system argument or T
  const bool state_space = args == 5;
  const int nsys = state_space ? 4 : 2;
  auto depth_of = [&](int i) { return shift + args - 1 - i; };
  double t = 0.0;
  TN_TRY(read_sample_time(ctx, depth_of(nsys), &t));
  const int nout = std::max(nargout, 1);
  if (nout > (state_space ? 4 : 2)) return kTooManyOutputs;
  Outputs out;
  if (state_space) {
    if (method == Method::Matched) return kNotSupported;
    Mat a, b, c, d;
    TN_TRY(real_matrix(ctx, depth_of(0), &a));
    TN_TRY(real_matrix(ctx, depth_of(1), &b));
    TN_TRY(real_matrix(ctx, depth_of(2), &c));
    TN_TRY(real_matrix(ctx, depth_of(3), &d));
    int64_t m = 0, p = 0;
    TN_TRY(check_state_space(a, b, c, d, false, &m, &p));
    const int64_t n = a.rows;
    out.count = nout;
    const int32_t shapes[4][2] = {{a.rows, a.rows}, {b.rows, b.cols}, {c.rows, c.cols}, {d.rows, d.cols}};
    for (int k = 0; k < nout; ++k) out.m[k] = Mat{shapes[k][0], shapes[k][1], nullptr};
    const int64_t ow = output_words(out);
    const int64_t need = 4 * (n * n + n * m + p * n + p * m) + 3 * (n + 2 * m) * (n + 2 * m) +
                         numk_expm_work_real(n + 2 * m) + 4 * n * n + n * m + 4 * n + 64;
    if (int64_t(ctx->desc_top) + 3 * nout >= int64_t(ctx->desc_capacity) ||
        ow + need > data_free_words(ctx))
      return kDataStackOverflow;
    Room room = room_of(ctx, ow);
    Bump bump{room.base};
    double* ad = bump.take(n * n);
    double* bd = bump.take(n * m);
    double* cd = bump.take(p * n);
    double* dd = bump.take(p * m);
    if (!to_discrete) {
      kernel_tustin_inverse(a.re, n, b.re, m, c.re, p, d.re, t, ad, bd, cd, dd, bump);
    } else if (method == Method::Tustin) {
      kernel_tustin(a.re, n, b.re, m, c.re, p, d.re, t, ad, bd, cd, dd, bump);
    } else {
      std::copy_n(c.re, p * n, cd);  // C of a model without states may be no memory at all
      std::memcpy(dd, d.re, size_t(p * m) * sizeof(double));
      if (method == Method::Zoh)
        kernel_zoh(a.re, n, b.re, m, t, ad, bd, bump);
      else
        kernel_foh(a.re, n, b.re, m, c.re, p, t, ad, bd, dd, bump);
    }
    double* results[4] = {ad, bd, cd, dd};
    for (int k = 0; k < nout; ++k) out.m[k].re = results[k];
    return push_outputs(ctx, out, nargin);
  }
  Mat num, den;
  TN_TRY(real_matrix(ctx, depth_of(0), &num));
  TN_TRY(real_matrix(ctx, depth_of(1), &den));
  if (num.rows != den.rows || num.cols > den.cols || den.cols == 0) return kIncompatibleSize;
  const int64_t p = den.rows, n = int64_t(den.cols) - 1, m = int64_t(num.cols) - 1;
  if (m < 0) return kIncompatibleSize;
  // Columns of numd: n + 1 for first-order hold, Tustin and equal degrees;
  // one fewer where the method leaves a strictly proper result.
  const bool proper_short = (method == Method::Zoh || method == Method::Matched) && m < n;
  const int64_t ncols = proper_short && n > 0 ? n : n + 1;
  out.count = nout;
  if (nout == 1) {
    out.m[0] = Mat{int32_t(p), int32_t(n + 1), nullptr};
  } else {
    out.m[0] = Mat{int32_t(p), int32_t(ncols), nullptr};
    out.m[1] = Mat{int32_t(p), int32_t(n + 1), nullptr};
  }
  const int64_t ow = output_words(out);
  const int64_t per_row = 12 * (n + 1) * (n + 1) + numk_expm_work_real(n + 2) +
                          2 * charpoly_scratch(n) + ctrl_matched_work(int32_t(n)) + 16 * (n + 1) + 64;
  const int64_t need = 2 * p * (n + 1) + per_row;
  if (int64_t(ctx->desc_top) + 3 * nout >= int64_t(ctx->desc_capacity) ||
      ow + need > data_free_words(ctx))
    return kDataStackOverflow;
  Room room = room_of(ctx, ow);
  Bump bump{room.base};
  double* nd = bump.take(p * (n + 1));
  double* dn = bump.take(p * (n + 1));
  for (int64_t i = 0; i < p; ++i)
    convert_row(num.re + i * (m + 1), m, den.re + i * (n + 1), n, t, method, to_discrete,
                nd + i * (n + 1), dn + i * (n + 1), bump);
  // Drop the leading column of numd where the method gives fewer coefficients.
  if (ncols < n + 1)
    for (int64_t i = 0; i < p; ++i)
      for (int64_t k = 0; k < ncols; ++k) nd[i * ncols + k] = nd[i * (n + 1) + k + 1];
  if (nout == 1) {
    out.m[0].re = dn;
  } else {
    out.m[0].re = nd;
    out.m[1].re = dn;
  }
  return push_outputs(ctx, out, nargin);
}

int bi_c2dm(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  return convert_system(ctx, nargin, nargout, true);
}

int bi_d2cm(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  return convert_system(ctx, nargin, nargout, false);
}

// [num, den] = ss2tf(A, B, C, D[, iu]).
int bi_ss2tf(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin < 4) return kTooFewInputs;
  if (nargin > 5) return kTooManyInputs;
  if (nargout > 2) return kTooManyOutputs;
  const int shift = nargin == 5 ? 1 : 0;
  Mat a, b, c, d;
  TN_TRY(real_matrix(ctx, shift + 3, &a));
  TN_TRY(real_matrix(ctx, shift + 2, &b));
  TN_TRY(real_matrix(ctx, shift + 1, &c));
  TN_TRY(real_matrix(ctx, shift, &d));
  int64_t iu = 0;
  if (nargin == 5) {
    double v = 0.0;
    const int s = stk_get_real_scalar(ctx, 0, &v);
    if (s != kOk) return s == kWrongType ? kWrongArgType : s;
    iu = int64_t(std::nearbyint(v)) - 1;
  }
  int64_t m = 0, p = 0;
  TN_TRY(check_state_space(a, b, c, d, true, &m, &p));
  const int64_t n = a.rows;
  if (nargin == 4 && m > 1) return kTooFewInputs;
  if (iu < 0 || (iu >= m && m > 0) || (m == 0 && nargin == 5)) return kIndexOutOfRange;
  bool has_d = false;
  for (int64_t k = 0; k < d.count(); ++k) has_d = has_d || d.re[k] != 0.0;
  const int nout = std::max(nargout, 1);
  Outputs out;
  out.count = nout;
  // num: p rows of n + 1 (n without D), trimmed later; den: 1 by n + 1.
  if (nout == 1) {
    out.m[0] = Mat{1, int32_t(n + 1), nullptr};
  } else {
    out.m[0] = Mat{int32_t(p), int32_t(n + 1), nullptr};
    out.m[1] = Mat{1, int32_t(n + 1), nullptr};
  }
  const int64_t ow = output_words(out);
  const int64_t need = (p + 2) * (n + 1) + 2 * charpoly_scratch(n) + 64;
  if (int64_t(ctx->desc_top) + 3 * nout >= int64_t(ctx->desc_capacity) ||
      ow + need > data_free_words(ctx))
    return kDataStackOverflow;
  Room room = room_of(ctx, ow);
  Bump bump{room.base};
  double* den = bump.take(n + 1);
  double* num = bump.take(p * (n + 1));
  charpoly_of(a.re, n, den, bump);
  if (nout == 1) {
    out.m[0].re = den;
    return push_outputs(ctx, out, nargin);
  }
  double* kw = bump.take(charpoly_scratch(n));
  for (int64_t i = 0; i < p; ++i) {
    const double di = has_d ? d.re[i * m + iu] : 0.0;
    if (n == 0) {  // a static gain: B and C hold nothing to point into
      num[i] = di;
      continue;
    }
    ctrl_matrix_kernel_f(a.re, int32_t(n), b.re + iu, int32_t(m), c.re + i * n, di, den,
                         num + i * (n + 1), kw);
  }
  // Without D the leading coefficient goes; then columns zero in every row.
  int64_t first = has_d ? 0 : 1;
  while (first < n) {
    bool zero = true;
    for (int64_t i = 0; i < p; ++i) zero = zero && num[i * (n + 1) + first] == 0.0;
    if (!zero) break;
    ++first;
  }
  if (first > n) first = n;
  const int64_t cols = n + 1 - first;
  for (int64_t i = 0; i < p; ++i)
    for (int64_t k = 0; k < cols; ++k) num[i * cols + k] = num[i * (n + 1) + first + k];
  out.m[0] = Mat{int32_t(p), int32_t(cols), num};
  out.m[1].re = den;
  return push_outputs(ctx, out, nargin);
}

// [A, B, C, D] = tf2ss(num, den).
int bi_tf2ss(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin != 2) return nargin < 2 ? kTooFewInputs : kTooManyInputs;
  if (nargout > kMaxOutputs) return kTooManyOutputs;
  Mat num, den;
  TN_TRY(real_matrix(ctx, 1, &num));
  TN_TRY(real_matrix(ctx, 0, &den));
  if (den.rows != 1) return kNotRowVector;
  const int64_t n = int64_t(den.cols) - 1, p = num.rows, m = int64_t(num.cols) - 1;
  if (n < 0 || (p > 0 && (m > n || m < 0))) return kIncompatibleSize;
  const int nout = std::max(nargout, 1);
  Outputs out;
  out.count = nout;
  if (p == 0) {
    for (int k = 0; k < nout; ++k) out.m[k] = Mat{0, 0, nullptr};
    return push_outputs(ctx, out, nargin);
  }
  const int32_t shapes[4][2] = {{int32_t(n), int32_t(n)}, {int32_t(n), 1}, {int32_t(p), int32_t(n)}, {int32_t(p), 1}};
  for (int k = 0; k < nout; ++k) out.m[k] = Mat{shapes[k][0], shapes[k][1], nullptr};
  const int64_t ow = output_words(out);
  const int64_t need = n * n + n + p * n + p + 16;
  if (int64_t(ctx->desc_top) + 3 * nout >= int64_t(ctx->desc_capacity) ||
      ow + need > data_free_words(ctx))
    return kDataStackOverflow;
  Room room = room_of(ctx, ow);
  Bump bump{room.base};
  double* a = bump.take(n * n);
  double* b = bump.take(n);
  double* c = bump.take(p * n);
  double* d = bump.take(p);
  ctrl_matrix_kernel_g(num.re, int32_t(p), int32_t(m), den.re, int32_t(n), a, b, c, d);
  double* results[4] = {a, b, c, d};
  for (int k = 0; k < nout; ++k) out.m[k].re = results[k];
  return push_outputs(ctx, out, nargin);
}

int64_t ctrl_matrix_kernel_zoh_work(int64_t n, int64_t m) {
  return 2 * (n + m) * (n + m) + numk_expm_work_real(n + m);
}

void ctrl_matrix_kernel_zoh(const double* a, int64_t n, const double* b, int64_t m, double t,
                            double* ad, double* bd, double* work) {
  kernel_zoh(a, n, b, m, t, ad, bd, Bump{work});
}

int64_t ctrl_matrix_kernel_c_work(int64_t n) {
  // Controller form (a, b, c), ad, bd, the hold, the characteristic polynomial.
  // The first-order hold takes n + 2 square and n doubles more than the zero-order one.
  return 2 * n * n + 4 * n + ctrl_matrix_kernel_zoh_work(n + 1, 1) + 2 * n + 1 + charpoly_scratch(n) +
         n * n;
}

void ctrl_matrix_kernel_c(const double* num, int64_t m, const double* den, int64_t n, double t,
                          double* numd, double* dend, double* work) {
  convert_row(num, m, den, n, t, Method::Zoh, true, numd, dend, Bump{work});
}

void ctrl_matrix_kernel_d(const double* num, int64_t m, const double* den, int64_t n, double t,
                          double* numd, double* dend, double* work) {
  convert_row(num, m, den, n, t, Method::Foh, true, numd, dend, Bump{work});
}

int64_t ctrl_matrix_kernel_b_work(int64_t n, int64_t m) {
  const int64_t big = n + 2 * m;
  return 2 * big * big + numk_expm_work_real(big) + n * m;
}

void ctrl_matrix_kernel_b(const double* a, int64_t n, const double* b, int64_t m, const double* c,
                          int64_t p, double t, double* ad, double* bd, double* dd, double* work) {
  kernel_foh(a, n, b, m, c, p, t, ad, bd, dd, Bump{work});
}
