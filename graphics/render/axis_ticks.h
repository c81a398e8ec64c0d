// Tick positions of one axis: `axis_ticks` chooses minor, major and label
// steps for a linear range; `axis_log_tick_lists` chooses factor lists for a
// logarithmic range. Every walk over ticks is bounded by a step count, so no
// range (huge, tiny, reversed, NaN) can make a caller loop without end, and
// every tick value is the double nearest to a short decimal, so that its
// label reads 0.1 and not 0.09999999999999998.
#pragma once

#include <cstdint>

struct AxisTicks {
  double minorFirst, minorStep;
  double majorFirst, majorStep;
  double labelFirst, labelStep;
};

// Largest number of ticks any loop over one axis visits.
constexpr int32_t kMaxAxisTicks = 10000;

// lo..hi with the label limit `limit`, the smallest tick step `min_step` and
// the smallest label step `min_label_step` (all in axis units). Labels are
// chosen only when `with_labels`. False when the range is degenerate.
bool axis_ticks(double lo, double hi, double limit, double min_step, double min_label_step, AxisTicks* out,
                bool with_labels);

// The tick k steps after `first` on a linear axis: the whole multiple of
// `step` (1, 2 or 5 times a power of ten) nearest to first + k step, as the
// double nearest to that decimal. Where the multiple has more digits than a
// double holds, or the step is no such decimal, first + k step itself.
double axis_tick_at(double first, double step, int32_t k);

// The tick t of a linear axis with step `step` as n × 10^p, 10^p the unit
// of the step's decimal (0.2 = 2 × 10^-1): true when t is the double nearest
// to that decimal, as every tick axis_tick_at gives is.
bool axis_tick_units(double t, double step, int64_t* n, int32_t* p);

// The next coarser label step after `step`: 1, 2 and 5 times a power of ten
// in turn, as the double nearest to that decimal (twice a step that is no
// such decimal).
double axis_wider_step(double step);

// The first whole multiple of `step` at or above `lo`, nearest its decimal.
double axis_first_multiple(double lo, double step);

// A log list: positive factors ended by a negative value whose magnitude
// steps to the next decade group. Lists live in static tables.
struct AxisLogLists {
  double firstDecade;
  const double* minor;
  const double* major;
  const double* label;
};
// Only finite 0 < lo < hi (after ordering) give lists; otherwise the
// one-per-decade list and false.
bool axis_log_tick_lists(double lo, double hi, double limit, double min_ratio, double min_label_ratio,
                         AxisLogLists* out);

// Walks the values of `list` from `first_decade` (a power of ten) while
// below `hi` and calls visit(v, context) for each v with lo <= v <= hi, v
// the double nearest to factor × power of ten. Bounded by kMaxAxisTicks.
using AxisTickVisit = void (*)(double v, void* context);
void axis_log_walk(const double* list, double first_decade, double lo, double hi, AxisTickVisit visit,
                   void* context);

// The label list that comes before `list` in the label table, one tick per
// decade group coarser; `list` itself when it is the coarsest or no list of
// that table.
const double* axis_coarser_label_list(const double* list);

// The one-per-decade list (used where nothing finer is chosen).
const double* axis_log_decade_list();
