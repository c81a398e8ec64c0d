// Tick choice for linear and logarithmic axes. Steps are powers of ten and
// their 2- and 5-fold parts; log axes use runs of factors per decade from a
// fixed table, finest first dropped while the ticks would crowd.
#include "graphics/render/axis_ticks.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <utility>

namespace {

constexpr double kDegenerateSpan = 1e-8;
constexpr double kHugeSpan = 1e18;
constexpr int32_t kMaxDecadeSteps = 400;

// --- Decimal tick values -------------------------------------------------------
// A tick is meant as a short decimal (0.1, -0.3, 2.5e-5); first + k step in
// binary lands an ulp beside it, and the label would show the miss. Ticks
// are therefore made from whole numbers and powers of ten: n × 10^p with n
// exact in a double is one correctly rounded product or quotient while
// 10^p is exact, and the decimal scanner beyond.

constexpr double kExactWhole = 9007199254740992.0;  // 2^53: every whole number below is a double
constexpr int32_t kExactPowers = 22;                // 10^22 is the largest exact power of ten
constexpr double kStepSlack = 1e-9;                 // a step this close to m × 10^p is that decimal
constexpr double kPow10[kExactPowers + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The double nearest to n × 10^p, for a whole n with |n| < 2^53.
double decimal_value(double n, int32_t p) {
  if (n == 0) return 0.0;  // never -0, which would read "-0"
  if (p >= 0 && p <= kExactPowers) return n * kPow10[p];
  if (p < 0 && p >= -kExactPowers) return n / kPow10[-p];
  char text[48];
  std::to_chars_result w = std::to_chars(text, text + sizeof text, static_cast<int64_t>(n));
  if (w.ec != std::errc() || w.ptr == text + sizeof text) return n * std::pow(10.0, p);  // never: 48 bytes hold it
  *w.ptr++ = 'e';
  w = std::to_chars(w.ptr, text + sizeof text, p);
  double v = 0.0;
  if (std::from_chars(text, w.ptr, v).ec == std::errc::result_out_of_range)
    v = p > 0 ? std::copysign(HUGE_VAL, n) : 0.0;
  return v;
}

// A step as m × 10^p, m a whole number from 1 to 9; false when it is none.
bool decimal_step(double step, double* m, int32_t* p) {
  if (!(step > 0) || !std::isfinite(step)) return false;
  int32_t e = static_cast<int32_t>(std::floor(std::log10(step)));
  double digit = std::round(step / decimal_value(1, e));
  if (digit >= 10) digit = 1, ++e;  // log10 just below a power of ten
  if (!(digit >= 1) || !(std::fabs(step - decimal_value(digit, e)) <= kStepSlack * step)) return false;
  *m = digit, *p = e;
  return true;
}

// The step as the double nearest to its decimal.
double exact_step(double step) {
  double m;
  int32_t p;
  return decimal_step(step, &m, &p) ? decimal_value(m, p) : step;
}

// The j-th multiple of step (j whole) as the double nearest to the decimal.
double step_multiple(double j, double step) {
  double m;
  int32_t p;
  if (!decimal_step(step, &m, &p) || !(std::fabs(j * m) < kExactWhole)) return j * step;
  return decimal_value(j * m, p);
}

double power_of_ten(int32_t p) { return decimal_value(1, p); }

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

// Factors are whole tenths, so a tick is (10 × factor) × 10^(decade - 1).
constexpr double kFactorTenths = 10.0;
constexpr bool whole_tenths(const double* t) {
  for (; *t != 0; ++t) {
    const double x = *t > 0 ? *t * kFactorTenths : 0.0;
    const double miss = x - static_cast<double>(static_cast<int64_t>(x + 0.5));
    if (miss > 1e-9 || miss < -1e-9) return false;
  }
  return true;
}
static_assert(whole_tenths(kTickTable) && whole_tenths(kLabelTable));

// A candidate label pair passes when it starts inside the range and a
// second label fits before the limit.
bool passes(double first, double step, double lo, double limit) { return first >= lo && first + step < limit; }

double first_multiple(double lo, double step) { return step_multiple(std::ceil(lo / step), step); }

void choose_labels(double lo, double limit, double decade, double s2, AxisTicks* t) {
  const double m = t->minorStep, s = t->majorStep;
  struct Cand {
    double first, step;
  };
  Cand c[6];
  int32_t n = 0;
  if (m >= s2) c[n++] = {t->minorFirst, m};
  if (m <= s * 0.1) {
    for (double part : {0.1, 0.2, 0.5}) {
      const double step = exact_step(s * part);
      if (step >= s2) c[n++] = {first_multiple(lo, step), step};
    }
  }
  if (s >= s2) c[n++] = {t->majorFirst, s};
  const double twice = exact_step(2 * s);
  if (twice >= s2) c[n++] = {first_multiple(lo, twice), twice};
  for (int32_t i = 0; i < n; ++i)
    if (passes(c[i].first, c[i].step, lo, limit)) {
      t->labelFirst = c[i].first, t->labelStep = c[i].step;
      return;
    }
  // Nothing fits: start at ten decades and shrink while allowed.
  const double e = exact_step(10 * decade);
  static constexpr double kShrink[] = {0.5, 0.2, 0.1, 0.05};
  double step = e, first = first_multiple(lo, e);
  for (double f : kShrink) {
    if (passes(first, step, lo, limit) || e * f < s2) break;
    step = exact_step(e * f);
    first = first_multiple(lo, step);
  }
  if (step < s2 && !(first + step >= limit && first <= limit))
    first = step_multiple(std::round(first / step) + 1, step);
  t->labelFirst = first;
  t->labelStep = step < s2 ? exact_step(10 * e) : step;
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
  int32_t e = 0;
  double decade = 1.0;
  for (int32_t k = 0; decade < d && k < kMaxDecadeSteps; ++k) decade = power_of_ten(++e);
  for (int32_t k = 0; decade > d && k < kMaxDecadeSteps; ++k) decade = power_of_ten(--e);

  AxisTicks t{};
  t.majorFirst = first_multiple(lo, decade);
  if (t.majorFirst < lo || t.majorFirst >= hi) {
    t.majorStep = power_of_ten(e - 1);
    t.majorFirst = first_multiple(lo, t.majorStep);
  } else {
    t.majorStep = decade < min_step ? power_of_ten(e + 1) : decade;
  }
  const double s = t.majorStep, s1 = min_step;
  t.minorStep = exact_step(s > 50 * s1 ? s * 0.02 : s > 20 * s1 ? s * 0.05 : s > 10 * s1 ? s * 0.1
                           : s > 5 * s1 ? s * 0.2 : s > 2 * s1 ? s * 0.5 : s);
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
  int32_t e = 0;
  double first = 1.0;
  for (int32_t k = 0; first < lo && k < kMaxDecadeSteps; ++k) first = power_of_ten(++e);
  for (int32_t k = 0; first > lo && k < kMaxDecadeSteps; ++k) first = power_of_ten(--e);
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
  if (!(first_decade > 0) || !std::isfinite(first_decade)) return;
  // The decade as its exponent: t × f in binary would miss 0.15 or 3e-5.
  int32_t e = static_cast<int32_t>(std::lround(std::log10(first_decade)));
  double t = first_decade;
  int32_t index = 0;
  for (int32_t k = 0; t < hi && k < kMaxAxisTicks; ++k) {
    const double f = list[index];
    if (f <= 0) {
      if (f == 0) return;
      e += static_cast<int32_t>(std::lround(std::log10(-f)));
      t = power_of_ten(e);
      index = 0;
      continue;
    }
    const double v = decimal_value(std::round(f * kFactorTenths), e - 1);
    if (lo <= v && v <= hi) visit(v, context);
    ++index;
  }
}

double axis_tick_at(double first, double step, int32_t k) {
  double m;
  int32_t p;
  if (!decimal_step(step, &m, &p)) return first + k * step;
  const double j = std::round(first / step) + k;
  if (!(std::fabs(j * m) < kExactWhole)) return first + k * step;
  return decimal_value(j * m, p);
}

const double* axis_log_decade_list() { return kTickTable + kListF; }

bool axis_tick_units(double t, double step, int64_t* n, int32_t* p) {
  double m;
  if (!decimal_step(step, &m, p) || !std::isfinite(t)) return false;
  const double units = std::round(*p < 0 ? t * decimal_value(1, -*p) : t / decimal_value(1, *p));
  if (!(std::fabs(units) < kExactWhole) || decimal_value(units, *p) != t) return false;
  *n = static_cast<int64_t>(units);
  return true;
}

double axis_wider_step(double step) {
  double m;
  int32_t p;
  if (!decimal_step(step, &m, &p)) return 2 * step;
  return m < 2 ? decimal_value(2, p) : m < 5 ? decimal_value(5, p) : decimal_value(1, p + 1);
}

double axis_first_multiple(double lo, double step) { return first_multiple(lo, step); }

const double* axis_coarser_label_list(const double* list) {
  constexpr int32_t kLabelTableSize = int32_t(sizeof kLabelTable / sizeof kLabelTable[0]);
  const std::less<const double*> before;  // a total order even for pointers into other tables
  if (before(list, kLabelTable) || !before(list, kLabelTable + kLabelTableSize)) return list;
  const int32_t at = int32_t(list - kLabelTable);
  if (at == 0 || !(kLabelTable[at - 1] < 0)) return list;  // the coarsest list, or inside one
  // The list before ends at the closing value just before `at`; it starts
  // after the closing value before that one, or at the table's start.
  int32_t start = at - 1;
  while (start > 0 && kLabelTable[start - 1] > 0) --start;
  return kLabelTable + start;
}
