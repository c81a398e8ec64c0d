// Tick choice for linear and logarithmic axes. Steps are powers of ten and
// their 2- and 5-fold parts; log axes use runs of factors per decade from a
// fixed table, finest first dropped while the ticks would crowd.
#include "graphics/render/axis_ticks.h"

#include <cmath>
#include <utility>

namespace {

constexpr double kDegenerateSpan = 1e-8;
constexpr double kHugeSpan = 1e18;
constexpr int32_t kMaxDecadeSteps = 400;

// Tick table: lists A to K. A..F open the table, one tick per 1e6 .. 10.
constexpr double kTickTable[] = {
    1, -1e6,                                          // A
    1, -1e5,                                          // B
    1, -1e4,                                          // C
    1, -1000,                                         // D
    1, -100,                                          // E
    1, -10,                                           // F
    1, 2, 5, -10,                                     // G
    1, 2, 4, 6, 8, -10,                               // H
    1, 2, 3, 4, 5, 6, 7, 8, 9, -10,                   // I
    1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9, -10,  // J
    1, 1.2, 1.4, 1.6, 1.8, 2, 2.2, 2.4, 2.6, 2.8, 3, 3.2, 3.4, 3.6, 3.8, 4,
    4.5, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8.5, 9, 9.5, -10,  // K
    0};
constexpr int32_t kListA = 0, kListB = 2, kListF = 10, kListI = 22;

constexpr double kLabelTable[] = {
    1, -1e6, 1, -1e5, 1, -1e4, 1, -1000, 1, -100, 1, -10,
    1, 2, 5, -10,
    1, 2, 4, 6, 8, -10,
    1, 2, 3, 4, 5, 6, 8, -10,
    1, 2, 3, 4, 5, 6, 7, 8, 9, -10,
    1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9, -10,
    1, 1.2, 1.4, 1.6, 1.8, 2, 2.2, 2.4, 2.6, 2.8, 3, 3.2, 3.4, 3.6, 3.8, 4,
    4.5, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8.5, 9, 9.5, -10,
    0};
static_assert(kTickTable[kListF] == 1 && kTickTable[kListF + 1] == -10 && kTickTable[kListI + 8] == 9);
static_assert(kLabelTable[kListF + 1] == -10);

// A candidate label pair passes when it starts inside the range and a
// second label fits before the limit.
bool passes(double first, double step, double lo, double limit) { return first >= lo && first + step < limit; }

double first_multiple(double lo, double step) { return std::ceil(lo / step) * step; }

void choose_labels(double lo, double limit, double decade, double s2, AxisTicks* t) {
  const double m = t->minorStep, s = t->majorStep;
  struct Cand {
    double first, step;
  };
  Cand c[6];
  int32_t n = 0;
  if (m >= s2) c[n++] = {t->minorFirst, m};
  if (m <= s * 0.1) {
    if (s * 0.1 >= s2) c[n++] = {std::ceil(10 * lo / s) * s * 0.1, s * 0.1};
    if (s * 0.2 >= s2) c[n++] = {std::ceil(5 * lo / s) * s * 0.2, s * 0.2};
    if (s * 0.5 >= s2) c[n++] = {std::ceil(2 * lo / s) * s * 0.5, s * 0.5};
  }
  if (s >= s2) c[n++] = {t->majorFirst, s};
  if (2 * s >= s2) c[n++] = {first_multiple(lo, 2 * s), 2 * s};
  for (int32_t i = 0; i < n; ++i)
    if (passes(c[i].first, c[i].step, lo, limit)) {
      t->labelFirst = c[i].first, t->labelStep = c[i].step;
      return;
    }
  // Nothing fits: start at ten decades and shrink while allowed.
  const double e = 10 * decade;
  static constexpr double kShrink[] = {0.5, 0.2, 0.1, 0.05};
  double step = e, first = first_multiple(lo, e);
  for (double f : kShrink) {
    if (passes(first, step, lo, limit) || e * f < s2) break;
    step = e * f;
    first = first_multiple(lo, step);
  }
  if (step < s2 && !(first + step >= limit && first <= limit)) first += step;
  t->labelFirst = first;
  t->labelStep = step < s2 ? 10 * e : step;
}

// Walks `table` from `from`, stopping at the first factor whose ratio to the
// previous one is below `ratio`; returns the start of the last list walked
// to its end, or `fallback`. *integral: every factor walked was whole.
int32_t finest_list(const double* table, int32_t from, double ratio, int32_t fallback, bool* integral) {
  int32_t best = fallback, start = from;
  bool whole = true, best_whole = true;
  for (int32_t i = from; table[i] != 0; ++i) {
    const double f = table[i];
    if (i > start) {
      const double prev = table[i - 1];
      if (!(std::fabs(f / prev) >= ratio)) break;
    }
    if (f < 0) {
      best = start;
      best_whole = whole;
      start = i + 1;
    } else if (f != std::floor(f)) {
      whole = false;
    }
  }
  if (integral) *integral = best_whole;
  return best;
}

}  // namespace

bool axis_ticks(double lo, double hi, double limit, double min_step, double min_label_step, AxisTicks* out,
                bool with_labels) {
  double d = hi - lo;
  if (std::isnan(d)) {
    *out = {1, 1, 1, 1, 1, 1};
    return false;
  }
  if (std::fabs(d) < kDegenerateSpan || std::fabs(d) > kHugeSpan) {
    const double mid = (lo + hi) / 2;
    *out = {mid, 1, mid, 1, mid, 1};
    return false;
  }
  if (hi < lo) std::swap(lo, hi);
  d = hi - lo;
  double decade = 1.0;
  for (int32_t k = 0; decade < d && k < kMaxDecadeSteps; ++k) decade *= 10;
  for (int32_t k = 0; decade > d && k < kMaxDecadeSteps; ++k) decade *= 0.1;

  AxisTicks t{};
  t.majorFirst = first_multiple(lo, decade);
  if (t.majorFirst < lo || t.majorFirst >= hi) {
    t.majorStep = decade * 0.1;
    t.majorFirst = first_multiple(lo, t.majorStep);
  } else {
    t.majorStep = decade < min_step ? decade * 10 : decade;
  }
  const double s = t.majorStep, s1 = min_step;
  t.minorStep = s > 50 * s1 ? s * 0.02 : s > 20 * s1 ? s * 0.05 : s > 10 * s1 ? s * 0.1 : s > 5 * s1 ? s * 0.2
              : s > 2 * s1 ? s * 0.5 : s;
  t.minorFirst = first_multiple(lo, t.minorStep);
  t.labelFirst = t.majorFirst, t.labelStep = t.majorStep;
  if (with_labels) choose_labels(lo, limit, decade, min_label_step, &t);
  *out = t;
  return true;
}

bool axis_log_tick_lists(double lo, double hi, double limit, double min_ratio, double min_label_ratio,
                         AxisLogLists* out) {
  (void)limit;  // labels are cut at the limit by the caller
  const double* decade_list = kTickTable + kListF;
  const double d = hi - lo;
  *out = {1.0, decade_list, decade_list, kLabelTable + kListF};
  if (std::isnan(d)) return false;
  if (std::fabs(d) < kDegenerateSpan) {
    out->firstDecade = lo;
    return false;
  }
  if (hi < lo) std::swap(lo, hi);
  if (!(lo > 0) || !std::isfinite(hi)) return false;
  double first = 1.0;
  for (int32_t k = 0; first < lo && k < kMaxDecadeSteps; ++k) first *= 10;
  for (int32_t k = 0; first > lo && k < kMaxDecadeSteps; ++k) first *= 0.1;
  out->firstDecade = first;
  bool integral = true;
  const int32_t minor = finest_list(kTickTable, kListB, min_ratio, kListA, &integral);
  out->minor = kTickTable + minor;
  out->major = minor == kListA ? kTickTable + kListA : kTickTable + (integral ? kListF : kListI);
  out->label = kLabelTable + finest_list(kLabelTable, kListB, min_label_ratio, kListA, nullptr);
  return true;
}

void axis_log_walk(const double* list, double first_decade, double lo, double hi, AxisTickVisit visit,
                   void* context) {
  double t = first_decade;
  int32_t index = 0;
  for (int32_t k = 0; t < hi && k < kMaxAxisTicks; ++k) {
    const double f = list[index];
    if (f <= 0) {
      if (f == 0 || !(t > 0)) return;
      t = -(t * f);
      index = 0;
      continue;
    }
    const double v = t * f;
    if (lo <= v && v <= hi) visit(v, context);
    ++index;
  }
}

const double* axis_log_decade_list() { return kTickTable + kListF; }
