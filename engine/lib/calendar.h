// Calendar and clock: Julian dates by the Fliegel and Van Flandern day
// number (integer arithmetic in 64 bits, division truncating toward zero),
// and the built-ins `clock`, `cal2julian`, `julian2cal`, `tic` and `toc`.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// The day number of a proleptic Gregorian date (month and day may lie
// outside their ranges; the formula carries them).
int64_t cal_day_number(int64_t year, int64_t month, int64_t day);

// The date of a day number.
struct CalDate {
  int64_t year, month, day;
};
CalDate cal_date_of_day(int64_t n);

// A Julian date split into its civil fields, the seconds rounded to 0.1 ms
// with the carry taken up through minutes, hours and the day.
struct CalInstant {
  int64_t year, month, day, hour, minute;
  double second;
};
CalInstant cal_split_julian(double jd);
double cal_julian(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute, double second);

int bi_clock(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_cal2julian(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_julian2cal(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_tic(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_toc(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
