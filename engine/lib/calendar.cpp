// Calendar and clock built-ins. Every argument is read in place and the
// arguments are removed only once the result stands, so a failing call leaves
// the stack as it was. `clock` turns its origin plus the elapsed time into a
// whole civil date each call, so day, month and year roll over together.
#include "engine/lib/calendar.h"

#include <cmath>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_args.h"
#include "engine/lib/clock_source.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerMinute = 60;
constexpr double kTicksPerSecond = 10000;  // 0.1 ms
constexpr int64_t kTicksPerMinute = 60 * 10000;
constexpr int64_t kTicksPerHour = 60 * kTicksPerMinute;
constexpr int64_t kTicksPerDay = 24 * kTicksPerHour;
constexpr int64_t kUnixEpochDay = 2440588;  // day number of 1970-01-01
constexpr int kFieldCount = 6;
constexpr int kMinDateVector = 3;
// Past these the 64-bit day arithmetic (and a double's day fraction) would
// no longer mean anything.
constexpr double kMaxField = 1e12;
constexpr double kMaxJulian = 1e13;

bool field_ok(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxField; }

// Pushes the fields as one 1x6 row (nout 1) or as nout scalars, the first
// field on top; then removes the nargin arguments below.
int push_fields(EngineContext* ctx, const double* f, int nargin, int nout) {
  if (nout <= 1) {
    double* row = nullptr;
    TN_TRY(stk_push_matrix(ctx, 1, kFieldCount, &row, nullptr));
    for (int i = 0; i < kFieldCount; ++i) row[i] = f[i];
    return stk_remove(ctx, 1, nargin);
  }
  const arr::StackMark mark = arr::stack_mark(ctx);
  for (int i = nout - 1; i >= 0; --i) {
    const int st = stk_push_real(ctx, f[i]);
    if (st != kOk) return arr::stack_restore(ctx, mark, st);
  }
  return stk_remove(ctx, nout, nargin);
}

// An integer argument in place, with the errors of the integer pop.
int arg_int(EngineContext* ctx, int depth, int64_t* v) {
  int32_t i = 0;
  // A date field of NaN is no integer, like 1.5: 102, where the integer
  // reader gives it the range error of the conversions.
  double x = 0;
  if (stk_get_real_scalar(ctx, depth, &x) == kOk && std::isnan(x)) return kNonIntegerArg;
  TN_TRY(stk_get_int(ctx, depth, &i));
  *v = i;
  return kOk;
}

}  // namespace

namespace {

// Division rounding toward minus infinity: the day-number formulas count
// whole cycles of months, years and centuries, and a date before their
// origin (about 4800 BC) has a negative count, which truncation would round
// the wrong way.
int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr int64_t kEraYears = 4800;         // years counted from 4801 BC
constexpr int64_t kDayNumberOffset = 32045;  // day number of 1 March 4801 BC, negated
constexpr int64_t kDaysPer400Years = 146097;
constexpr int64_t kDaysPer4Years = 1461;

}  // namespace

// Years begin in March, so that the leap day ends them: a = -1 for January
// and February, which belong to the year before; m counts months from March.
int64_t cal_day_number(int64_t year, int64_t month, int64_t day) {
  const int64_t a = floor_div(month - 3, 12);
  const int64_t y = year + kEraYears + a;
  const int64_t m = month - 3 - 12 * a;
  return day + floor_div(153 * m + 2, 5) + 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) -
         kDayNumberOffset;
}

CalDate cal_date_of_day(int64_t n) {
  const int64_t a = n + kDayNumberOffset - 1;
  const int64_t centuries = floor_div(4 * a + 3, kDaysPer400Years);
  const int64_t c = a - floor_div(kDaysPer400Years * centuries, 4);
  const int64_t years = floor_div(4 * c + 3, kDaysPer4Years);
  const int64_t e = c - floor_div(kDaysPer4Years * years, 4);
  const int64_t m = floor_div(5 * e + 2, 153);
  const int64_t late = floor_div(m, 10);  // January and February: the next year
  return CalDate{100 * centuries + years - kEraYears + late, m + 3 - 12 * late, e - floor_div(153 * m + 2, 5) + 1};
}

double cal_julian(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, double second) {
  const int64_t n = cal_day_number(year, month, day);
  return double(n) - 0.5 + ((second / 60 + double(minute)) / 60 + double(hour)) / 24;
}

CalInstant cal_split_julian(double jd) {
  int64_t n = int64_t(std::floor(jd + 0.5));
  const double s = ((jd - double(n)) + 0.5) * double(kSecondsPerDay);
  // Rounded once, then split with carries: the seconds stay below 60 and the
  // last fraction of a tick before midnight becomes the next day.
  int64_t ticks = int64_t(std::floor(s * kTicksPerSecond + 0.5));
  if (ticks < 0) ticks = 0;
  if (ticks >= kTicksPerDay) {
    n += ticks / kTicksPerDay;
    ticks %= kTicksPerDay;
  }
  const CalDate d = cal_date_of_day(n);
  CalInstant r{d.year, d.month, d.day, ticks / kTicksPerHour, (ticks % kTicksPerHour) / kTicksPerMinute, 0};
  r.second = double(ticks % kTicksPerMinute) / kTicksPerSecond;
  return r;
}

int bi_cal2julian(EngineContext* ctx, int nargin, int, uintptr_t) {
  int64_t year = 0, month = 0, day = 1, hour = 0, minute = 0;
  double second = 0;
  if (nargin == 1) {
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    TN_TRY(stk_get_matrix(ctx, 0, &rows, &cols, &re, &im));
    if (im) return kWrongArgType;
    const int64_t count = int64_t(rows) * cols;
    if (count < kMinDateVector || count > kFieldCount) return kBadSize;
    double v[kFieldCount] = {0, 0, 0, 0, 0, 0};
    for (int64_t i = 0; i < count; ++i) {
      if (!field_ok(re[i])) return kArgOutOfRange;
      v[i] = re[i];
    }
    year = int64_t(v[0]);
    month = int64_t(v[1]);
    day = int64_t(v[2]);
    hour = int64_t(v[3]);
    minute = int64_t(v[4]);
    second = v[5];
  } else {
    // Arguments by position: year month [day [hour [minute [second]]]].
    int depth = 0;
    if (nargin >= 6) {
      TN_TRY(stk_get_real_scalar(ctx, depth++, &second));
      if (!field_ok(second)) return kArgOutOfRange;
    }
    if (nargin >= 5) TN_TRY(arg_int(ctx, depth++, &minute));
    if (nargin >= 4) TN_TRY(arg_int(ctx, depth++, &hour));
    if (nargin >= 3) TN_TRY(arg_int(ctx, depth++, &day));
    TN_TRY(arg_int(ctx, depth++, &month));
    TN_TRY(arg_int(ctx, depth, &year));
  }
  TN_TRY(stk_push_real(ctx, cal_julian(year, month, day, hour, minute, second)));
  return stk_remove(ctx, 1, nargin);
}

int bi_julian2cal(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  double jd = 0;
  const int st = stk_get_real_scalar(ctx, 0, &jd);
  if (st == kWrongType) return kWrongArgType;
  TN_TRY(st);
  if (!std::isfinite(jd) || std::fabs(jd) > kMaxJulian) return kArgOutOfRange;
  const CalInstant t = cal_split_julian(jd);
  const double f[kFieldCount] = {double(t.year), double(t.month), double(t.day),
                                 double(t.hour), double(t.minute), t.second};
  return push_fields(ctx, f, nargin, nargout);
}

int bi_clock(EngineContext* ctx, int nargin, int, uintptr_t) {
  double* row = nullptr;
  TN_TRY(stk_push_matrix(ctx, 1, kFieldCount, &row, nullptr));
  const double m = clock_seconds();
  if (clock_origin() == 0) clock_set_origin(double(clock_local_seconds()) - m);
  const double t = clock_origin() + m;
  const double days = std::floor(t / double(kSecondsPerDay));
  const double in_day = t - days * double(kSecondsPerDay);
  const CalDate d = cal_date_of_day(int64_t(days) + kUnixEpochDay);
  const double hour = std::floor(in_day / double(kSecondsPerHour));
  const double minute = std::floor((in_day - hour * double(kSecondsPerHour)) / double(kSecondsPerMinute));
  const double f[kFieldCount] = {double(d.year), double(d.month), double(d.day), hour, minute,
                                 in_day - hour * double(kSecondsPerHour) - minute * double(kSecondsPerMinute)};
  for (int i = 0; i < kFieldCount; ++i) row[i] = f[i];
  return stk_remove(ctx, 1, nargin);
}

int bi_tic(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  // Called as a statement it leaves the no-value item the statement drops.
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  clock_set_tic_time(clock_seconds());
  return stk_remove(ctx, nargout < 0 ? 1 : 0, nargin);
}

int bi_toc(EngineContext* ctx, int nargin, int, uintptr_t) {
  TN_TRY(stk_push_real(ctx, clock_seconds() - clock_tic_time()));
  return stk_remove(ctx, 1, nargin);
}
