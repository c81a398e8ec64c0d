// The host's time rows (`clock`, `tic`, `toc`) run from ZVR code with the
// host's table registered in front of the engine's, as start-up does, and
// the process clocks replaced by ones the test moves.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/lib/calendar.h"
#include "engine/lib/clock_source.h"
#include "host/builtin_table_host.h"
#include "support/zvr_session.h"

namespace {

// A ZVR session with the host's table registered in front, as start-up does,
// and the process clocks replaced by ones the test moves.
double g_fake_elapsed = 0;
int64_t g_fake_local = 0;
double fake_elapsed() { return g_fake_elapsed; }
int64_t fake_local() { return g_fake_local; }

class ClockTest : public ::testing::Test {
 protected:
  ZvrSession s;
  void SetUp() override {
    ASSERT_EQ(engine_register_builtin_table(s.c, g_builtin_table_host, 1), kOk);
    g_fake_elapsed = 12.5;
    clock_set_sources_for_tests(fake_elapsed, fake_local);
  }
  void TearDown() override { clock_set_sources_for_tests(nullptr, nullptr); }
  static int64_t local(int y, int m, int d, int h, int mi, int sec) {
    return (cal_day_number(y, m, d) - 2440588) * 86400 + h * 3600 + mi * 60 + sec;
  }
};

TEST_F(ClockTest, DayMonthAndYearRollOverTogether) {
  const struct {
    int64_t start;
    double later;
    const char* first;
    const char* then;
  } cases[] = {
      {local(2024, 1, 31, 23, 59, 59), 2, "double 1x6 [2024 1 31 23 59 59]", "double 1x6 [2024 2 1 0 0 1]"},
      {local(2023, 12, 31, 23, 59, 58), 2.25, "double 1x6 [2023 12 31 23 59 58]", "double 1x6 [2024 1 1 0 0 0.25]"},
      {local(2024, 2, 28, 23, 0, 0), 3600, "double 1x6 [2024 2 28 23 0 0]", "double 1x6 [2024 2 29 0 0 0]"},
      {local(2023, 2, 28, 23, 59, 59), 1.5, "double 1x6 [2023 2 28 23 59 59]", "double 1x6 [2023 3 1 0 0 0.5]"},
  };
  for (const auto& k : cases) {
    clock_reset_for_tests();
    g_fake_elapsed = 12.5;
    g_fake_local = k.start;
    EXPECT_EQ(s.value("clock"), k.first);
    // The wall clock is read only at the first call: later ones follow the
    // elapsed time, whatever the local time does meanwhile.
    g_fake_local = 0;
    g_fake_elapsed += k.later;
    EXPECT_EQ(s.value("clock()"), k.then);
  }
}

TEST_F(ClockTest, TocMeasuresFromTicOrFromStart) {
  EXPECT_EQ(s.value("toc"), "double 1x1 [12.5]");
  ASSERT_EQ(s.run("tic\n"), kOk);
  g_fake_elapsed = 14.75;
  EXPECT_EQ(s.value("toc()"), "double 1x1 [2.25]");
  EXPECT_EQ(s.run("toc\n"), kOk);
  EXPECT_EQ(s.value("tic(1)"), "error 186");
  EXPECT_EQ(s.value("clock(1)"), "error 186");
}

TEST(ClockSource, RealClocksAdvanceAndAreNotCpuTime) {
  const double a = clock_seconds();
  EXPECT_GE(a, 0.0);
  EXPECT_GE(clock_seconds(), a);
  EXPECT_GT(clock_local_seconds(), int64_t{1600000000});
}

}  // namespace
