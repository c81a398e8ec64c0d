// margin and dmargin over the sweep of L on the unit circle: real-axis
// crossings give gain-margin candidates, unit-circle crossings phase-margin
// candidates, each refined by bisection. The continuous loop is mapped onto
// the disc by s = (z - 1)/(z + 1) and its angles turned into frequencies.
#include "numlib/control/margins.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/control/conversions.h"

namespace {

constexpr int kNotRowVector = 24;  // "Not a row vector"
constexpr double kPi = 3.141592653589793;
constexpr double kStep = 0.015707963267948967;       // pi / 200
constexpr double kSweepEnd = 3.173008580125691;      // 1.01 pi
constexpr double kEps = 2.220446049250313e-16;
constexpr double kIntegratorTest = 1e-6;
constexpr double kNoPhaseMargin = 10.0;
constexpr double kPhaseMarginLimit = 5.0;            // pm from here on counts as none
constexpr int kBisections = 20;
constexpr int64_t kHeaderSlack = 16;
constexpr int kMaxOutputs = 4;

struct Loop {
  const double* num;
  int32_t m;
  const double* den;
  int32_t n;
  void at(double theta, double* re, double* im) const {
    tf_eval_at_complex(num, m, den, n, std::cos(theta), std::sin(theta), re, im);
  }
};

// The gain-margin record and its update rule.
struct GainMargins {
  bool any = false;
  double gm[2] = {0, 0};
  double at[2] = {0, 0};
  void candidate(double r, double angle) {
    if (!any) {
      gm[0] = gm[1] = -1.0 / r;
      at[0] = at[1] = angle;
      any = true;
      return;
    }
    const double c1 = -1.0 / gm[1], c0 = -1.0 / gm[0];
    const bool upper_exception = r <= -1.0 && gm[1] >= 1.0;
    if (r < c1 && !upper_exception) {
      gm[1] = -1.0 / r;
      at[1] = angle;
    } else if (r > c0 && !(gm[0] <= 1.0 && r >= 1.0)) {
      gm[0] = -1.0 / r;
      at[0] = angle;
    }
  }
};

}  // namespace

bool poly_schur_stable(double* a, int32_t n) {
  int32_t lead = 0;
  while (lead < n && a[lead] == 0.0) ++lead;
  a += lead;
  n -= lead;
  if (a[0] < 0.0)
    for (int32_t k = 0; k <= n; ++k) a[k] = -a[k];
  while (n >= 1) {
    const double k = a[n] / a[0];
    // a[i] -= k a[n - i] for all i together: pairs (i, n - i) from old values.
    for (int32_t i = 0, j = n; i <= j; ++i, --j) {
      const double ai = a[i], aj = a[j];
      if (i == j) {
        a[i] = ai * (1.0 - k);
      } else {
        a[i] = ai - k * aj;
        a[j] = aj - k * ai;
      }
    }
    if (!(a[0] > 0.0)) return false;
    --n;
  }
  return true;
}

bool margin_discrete_kernel(const double* den, int32_t n, const double* num, int32_t m, double* pm,
                            double* pm_at, double* gm, double* gm_at, double* scratch) {
  // The closed loop den + num must be stable.
  std::memcpy(scratch, den, size_t(n + 1) * sizeof(double));
  for (int32_t k = 0; k <= m; ++k) scratch[n - m + k] += num[k];
  if (!poly_schur_stable(scratch, n)) return false;
  const Loop loop{num, m, den, n};
  GainMargins g;
  double sum = 0.0, abs_sum = 0.0;
  for (int32_t k = 0; k <= n; ++k) {
    sum += den[k];
    abs_sum += std::fabs(den[k]);
  }
  double theta = 0.0, lr, li;
  bool neg;
  if (std::fabs(sum) / abs_sum < kIntegratorTest) {
    theta = kStep;
    g.any = true;
    g.gm[0] = -std::numeric_limits<double>::infinity();
    g.at[0] = 0.0;
    g.gm[1] = std::numeric_limits<double>::infinity();
    g.at[1] = kPi;
    loop.at(theta, &lr, &li);
    neg = li < 0.0;
  } else {
    // L is real at z = 1, so the real axis is crossed at angle 0 exactly. A
    // sweep from below 0 would find that crossing (and those of |L| = 1
    // near 0) as mirror images at negative angles; it starts at 0 instead,
    // with the sign Im L takes just past 0.
    loop.at(0.0, &lr, &li);
    g.candidate(lr, 0.0);
    double r, i;
    loop.at(std::ldexp(kStep, -kBisections), &r, &i);
    neg = i < 0.0;
  }
  *pm = kNoPhaseMargin;
  *pm_at = 0.0;
  bool big = lr * lr + li * li >= 1.0;
  for (theta += kStep; theta <= kSweepEnd; theta += kStep) {
    loop.at(theta, &lr, &li);
    const bool now_neg = neg ? li < kEps : li < -kEps;
    // The unit circle is crossed by pi at the latest (beyond it lie the
    // mirror images): the step past pi looks at pi itself, so that no phase
    // margin frequency lands beyond Nyquist.
    const double top = std::min(theta, kPi);
    double tr = lr, ti = li;
    if (top != theta) loop.at(top, &tr, &ti);
    const bool now_big = tr * tr + ti * ti >= 1.0;
    if (now_neg != neg || li == 0.0) {
      if (theta >= kPi) {
        double r, i;
        loop.at(kPi, &r, &i);
        g.candidate(r, kPi);
      } else {
        double lo = theta - kStep, hi = theta, r, i;
        for (int k = 0; k < kBisections; ++k) {
          const double mid = 0.5 * (lo + hi);
          loop.at(mid, &r, &i);
          if ((i < 0.0) == neg) lo = mid; else hi = mid;
        }
        const double mid = 0.5 * (lo + hi);
        loop.at(mid, &r, &i);
        g.candidate(r, mid);
      }
    }
    if (now_big != big) {
      double lo = theta - kStep, hi = top, r, i;
      for (int k = 0; k < kBisections; ++k) {
        const double mid = 0.5 * (lo + hi);
        loop.at(mid, &r, &i);
        if ((r * r + i * i >= 1.0) == big) lo = mid; else hi = mid;
      }
      const double mid = 0.5 * (lo + hi);
      loop.at(mid, &r, &i);
      const double cand = std::fabs(std::atan2(-i, -r));
      if (cand < *pm) {
        *pm = cand;
        *pm_at = mid;
      }
    }
    neg = now_neg;
    big = now_big;
  }
  {
    double r, i;
    tf_eval_at_complex(num, m, den, n, -1.0, 0.0, &r, &i);
    g.candidate(r, kPi);
  }
  for (int k = 0; k < 2; ++k) {
    double v = g.gm[k];
    if (std::isinf(v)) v = k == 0 ? -std::numeric_limits<double>::infinity()
                                  : std::numeric_limits<double>::infinity();
    else if (std::fabs(v) < kEps * den[0] && std::fabs(v) < kEps) v = 0.0;
    gm[k] = v;
    gm_at[k] = g.at[k];
  }
  return true;
}

int64_t margin_continuous_scratch(int32_t n) {
  const int64_t w = int64_t(n) + 1;
  return 3 * w + 2 * w * w;
}

bool margin_continuous_kernel(const double* den, int32_t n, const double* num, int32_t m,
                              double* pm, double* pm_at, double* gm, double* gm_at, double* scratch) {
  const int64_t w = int64_t(n) + 1;
  double* nz = scratch;
  double* dz = nz + w;
  double* rest = dz + w;  // n + 1 for the stability test, then the substitution's work
  ctrl_bilinear_subst(num, m, den, n, 1.0, -1.0, 1.0, 1.0, true, nz, dz, rest + w);
  if (!margin_discrete_kernel(dz, n, nz, n, pm, pm_at, gm, gm_at, rest)) return false;
  auto freq = [](double theta) {
    return theta == kPi ? std::numeric_limits<double>::infinity() : std::tan(theta / 2);
  };
  *pm_at = freq(*pm_at);
  gm_at[0] = freq(gm_at[0]);
  gm_at[1] = freq(gm_at[1]);
  return true;
}

namespace {

int read_row(EngineContext* ctx, int depth, int32_t* len, double** re) {
  int32_t rows = 0, cols = 0;
  double* im = nullptr;
  if (stk_get_matrix(ctx, depth, &rows, &cols, re, &im) != kOk || im) return kWrongArgType;
  if (rows != 1) return kNotRowVector;
  *len = cols;
  return kOk;
}

// [gm, pm, wgm, wpm]; empty outputs when the loop is unstable.
int margins(EngineContext* ctx, int nargin, int nargout, bool discrete) {
  if (nargin < 2) return kTooFewInputs;
  if (nargin > (discrete ? 3 : 2)) return kTooManyInputs;
  if (nargout > kMaxOutputs) return kTooManyOutputs;
  const int shift = nargin == 3 ? 1 : 0;
  int32_t ln = 0, ld = 0;
  double *num = nullptr, *den = nullptr;
  TN_TRY(read_row(ctx, shift + 1, &ln, &num));
  TN_TRY(read_row(ctx, shift, &ld, &den));
  if (ln < 1 || ld < 1 || ln > ld) return kIncompatibleSize;
  double t = 1.0;
  if (nargin == 3) {
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    if (stk_get_matrix(ctx, 0, &rows, &cols, &re, &im) != kOk || im) return kWrongArgType;
    if (int64_t(rows) * cols != 1) return kNonSquareMatrix;
    t = re[0];
  }
  const int32_t n = ld - 1, m = ln - 1;
  const int nout = nargout < 1 ? 1 : nargout;
  const int64_t scratch = margin_continuous_scratch(n) + 2 * (n + 1);
  const int64_t out_words = 6 + 4 * kHeaderSlack;
  if (int64_t(ctx->desc_top) + 3 * nout >= int64_t(ctx->desc_capacity) ||
      out_words + scratch > data_free_words(ctx))
    return kDataStackOverflow;
  void* free_ptr = nullptr;
  stk_free_space(ctx, nullptr, &free_ptr);
  double* work = static_cast<double*>(free_ptr) + out_words;
  double pm = 0.0, pm_at = 0.0, gm[2], gm_at[2];
  const bool stable =
      discrete ? margin_discrete_kernel(den, n, num, m, &pm, &pm_at, gm, gm_at, work)
               : margin_continuous_kernel(den, n, num, m, &pm, &pm_at, gm, gm_at, work);
  if (discrete) {
    pm_at /= t;
    gm_at[0] /= t;
    gm_at[1] /= t;
  }
  const bool have_pm = pm < kPhaseMarginLimit;
  // Outputs pushed last first; every one is empty when the loop is unstable.
  const int32_t desc0 = ctx->desc_top, data0 = ctx->data_top;
  for (int k = nout - 1; k >= 0; --k) {
    double* p = nullptr;
    int s = kOk;
    if (!stable || ((k == 1 || k == 3) && !have_pm)) {
      s = stk_push_matrix(ctx, 0, 0, nullptr, nullptr);
    } else if (k == 0 || k == 2) {
      s = stk_push_matrix(ctx, 1, 2, &p, nullptr);
      if (s == kOk) {
        p[0] = k == 0 ? gm[0] : gm_at[0];
        p[1] = k == 0 ? gm[1] : gm_at[1];
      }
    } else {
      s = stk_push_real(ctx, k == 1 ? pm : pm_at);
    }
    if (s != kOk) {
      ctx->desc_top = desc0;
      ctx->data_top = data0;
      return s;
    }
  }
  return stk_remove(ctx, nout, nargin);
}

}  // namespace

int bi_margin(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  return margins(ctx, nargin, nargout, false);
}

int bi_dmargin(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  return margins(ctx, nargin, nargout, true);
}
