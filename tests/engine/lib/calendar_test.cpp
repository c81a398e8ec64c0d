// Calendar conversions: day numbers against a table made with Python's
// datetime, and round trips of random instants from 1600 to 2400.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "engine/lib/calendar.h"

namespace {

struct DatedDay {
  int y, m, d, h, mi;
  double s;
  int64_t n;  // datetime.date(y, m, d).toordinal() + 1721425
};
const DatedDay kDays[] = {
    {2264, 8, 23, 8, 18, 20.5943, 2548204},  {1675, 2, 9, 17, 21, 26.5198, 2332881},
    {1981, 7, 6, 7, 58, 25.1479, 2444792},   {2102, 2, 24, 20, 36, 8.2556, 2488854},
    {2225, 7, 25, 13, 47, 5.5272, 2533930},  {1859, 3, 20, 10, 39, 23.8521, 2400124},
    {2367, 1, 25, 21, 33, 8.904, 2585613},   {1652, 3, 21, 0, 28, 15.8563, 2324521},
    {2400, 5, 6, 15, 22, 54.1543, 2597768},  {2169, 2, 11, 10, 48, 5.9977, 2513313},
    {1891, 4, 29, 15, 35, 56.898, 2411852},  {2301, 2, 1, 18, 3, 39.0999, 2561514},
    {1632, 9, 14, 13, 47, 48.297, 2317393},  {1992, 2, 12, 1, 11, 6.5589, 2448665},
    {1704, 4, 20, 11, 54, 29.3998, 2343543}, {1631, 11, 16, 5, 19, 56.0945, 2317090},
    {2044, 6, 10, 1, 8, 10.8499, 2467777},   {1827, 5, 30, 17, 12, 9.8834, 2388507},
    {1765, 1, 12, 7, 33, 21.0172, 2365725},  {2343, 6, 30, 12, 30, 35.448, 2577003},
    {1600, 2, 29, 0, 0, 0.0, 2305507},       {1700, 2, 28, 0, 0, 0.0, 2342031},
    {1700, 3, 1, 0, 0, 0.0, 2342032},        {1900, 2, 28, 0, 0, 0.0, 2415079},
    {1900, 3, 1, 0, 0, 0.0, 2415080},        {2000, 2, 29, 0, 0, 0.0, 2451604},
    {2000, 3, 1, 0, 0, 0.0, 2451605},        {2100, 2, 28, 0, 0, 0.0, 2488128},
    {2100, 3, 1, 0, 0, 0.0, 2488129},        {2400, 2, 29, 0, 0, 0.0, 2597701},
    {2399, 12, 31, 0, 0, 0.0, 2597641},      {1969, 12, 31, 0, 0, 0.0, 2440587},
    {1970, 1, 1, 0, 0, 0.0, 2440588},
};

TEST(Calendar, DayNumbersMatchTheModelBothWays) {
  for (const DatedDay& r : kDays) {
    EXPECT_EQ(cal_day_number(r.y, r.m, r.d), r.n) << r.y << "-" << r.m << "-" << r.d;
    const CalDate d = cal_date_of_day(r.n);
    EXPECT_EQ(d.year * 10000 + d.month * 100 + d.day, r.y * 10000 + r.m * 100 + r.d);
    const CalInstant t = cal_split_julian(cal_julian(r.y, r.m, r.d, r.h, r.mi, r.s));
    EXPECT_EQ(t.hour * 100 + t.minute, r.h * 100 + r.mi);
    EXPECT_NEAR(t.second, r.s, 1e-9);
  }
}

// Every instant of 0.1 ms resolution between 1600 and 2400 comes back whole:
// the date, hour and minute exactly, the seconds to the tick.
TEST(Calendar, RandomInstantsRoundTripToATenthOfAMillisecond) {
  std::mt19937_64 rng(27);
  const int64_t first = cal_day_number(1600, 1, 1), last = cal_day_number(2400, 12, 31);
  std::uniform_int_distribution<int64_t> day(first, last), tick(0, 86400LL * 10000 - 1);
  for (int k = 0; k < 10000; ++k) {
    const CalDate d = cal_date_of_day(day(rng));
    const int64_t t = tick(rng);
    const double s = double(t % 600000) / 10000;
    const CalInstant r = cal_split_julian(cal_julian(d.year, d.month, d.day, t / 36000000, t / 600000 % 60, s));
    ASSERT_EQ(r.year * 10000 + r.month * 100 + r.day, d.year * 10000 + d.month * 100 + d.day) << k;
    ASSERT_EQ(r.hour * 60 + r.minute, t / 600000) << k;
    ASSERT_EQ(std::llround(r.second * 10000), t % 600000) << k;
    ASSERT_LT(r.second, 60.0);
  }
}

// Every day within ten million of the origin, before it as after it, comes
// back as itself, through a valid date that is the day after its
// predecessor's.
TEST(Calendar, EveryDayWithinTenMillionRoundTrips) {
  constexpr int64_t kSpan = 10000000;
  CalDate prev = cal_date_of_day(-kSpan - 1);
  for (int64_t n = -kSpan; n <= kSpan; ++n) {
    const CalDate d = cal_date_of_day(n);
    ASSERT_EQ(cal_day_number(d.year, d.month, d.day), n);
    ASSERT_TRUE(d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31) << n;
    const bool next_in_month = d.year == prev.year && d.month == prev.month && d.day == prev.day + 1;
    const bool first_of_month = d.day == 1 && (d.month == prev.month % 12 + 1) &&
                                d.year == prev.year + (prev.month == 12 ? 1 : 0);
    ASSERT_TRUE(next_in_month || first_of_month) << n;
    prev = d;
  }
}

}  // namespace
