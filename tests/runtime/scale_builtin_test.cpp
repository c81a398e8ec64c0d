// The `scale` built-in run from ZVR code in an instance's drawing context:
// keywords, numeric codes, fixed and locked limits, the query at each output
// count, and the refusals, with the subplot record checked after each run.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/drawing_context.h"

namespace {


struct Scale : ::testing::Test {
  FakeHost host;
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(open_drawing_context(&host));
  }
  Subplot& s() { return inst_find_by_id(host.block, 0)->subplots[0]; }
  int run(const std::string& text) {
    EngineContext* c = rt_engine(host.block);
    int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    return status;
  }
  std::string out(const std::string& text) {
    EXPECT_EQ(run(text), kOk) << text;
    return host.take_output();
  }
};

TEST_F(Scale, LimitsFixTwoDimensionalAxesWithTheMarginAndLockThreeDimensionalOnes) {
  ASSERT_EQ(run("scale([0 10]);\n"), kOk);
  EXPECT_EQ(s().xMode, kAxisFixed);
  EXPECT_EQ(s().yMode, kAxisAuto);
  EXPECT_EQ(host.block->h.build.used, 7);  // the object was opened once
  EXPECT_EQ(out("disp(size(scale))\n"), "     1     2\n");
  double lo, hi;
  subplot_visible_xrange(&s(), &lo, &hi);
  EXPECT_NEAR(lo, -0.5 * 0.04 * 10 / 0.96, 1e-9);  // the 0.04 margin
  EXPECT_NEAR(hi, 10 + 0.5 * 0.04 * 10 / 0.96, 1e-9);
  s().is3D = 1;
  ASSERT_EQ(run("scale([0 10]);\n"), kOk);
  EXPECT_EQ(s().xMode, kAxisLocked);
  EXPECT_EQ(s().xMin, 0);
  EXPECT_EQ(s().xMax, 10);
}

TEST_F(Scale, QueryAtEveryOutputCount) {
  EXPECT_EQ(out("disp(isempty(scale))\n"), "true\n");  // both axes automatic: empty
  ASSERT_EQ(run("scale('lindb');\n"), kOk);
  EXPECT_EQ(out("[l, k] = scale; disp(k)\n"), "lindb\n");
  EXPECT_EQ(run("scale;\n"), kOk);
  EXPECT_EQ(run("scale\n"), kOk);
}

TEST_F(Scale, KeywordsKeepEarlierLogBitsOnceSet) {
  ASSERT_EQ(run("scale('loglin');\n"), kOk);
  EXPECT_EQ(s().scaleFlags, 1u);
  ASSERT_EQ(run("scale('loglog');\n"), kOk);  // keeps 1, 2 and 16 of the earlier flags
  EXPECT_EQ(s().scaleFlags, 1u);
  ASSERT_EQ(run("scale('equal');\n"), kOk);
  EXPECT_EQ(s().scaleFlags, 1u | 64u);
  s().scaleFixed = 0;
  ASSERT_EQ(run("scale('linlog/logdb');\n"), kOk);
  EXPECT_EQ(s().scaleFlags, 2u);
  EXPECT_EQ(s().scaleKind, 19u);
  s().scaleFixed = 0;
  ASSERT_EQ(run("scale(4096 + 1, 64);\n"), kOk);
  EXPECT_EQ(s().scaleFlags, 65u);
  EXPECT_EQ(s().scaleKind, 2u);
}

TEST_F(Scale, LockKeepsAZoomedViewUnlessTheLimitsAreTheSame) {
  s().hasContent = 1;
  subplot_set_fixed_limits(&s(), 2, 3, 1, 2);  // as a user zoom leaves it
  ASSERT_EQ(run("scale('lock', [0 10 0 5]);\n"), kOk);
  EXPECT_EQ(s().xMin, 2);
  EXPECT_EQ(s().yMax, 2);
  EXPECT_EQ(s().xMode, kAxisLocked);
  ASSERT_EQ(run("scale('lock', [2 3 1 2]);\n"), kOk);
  EXPECT_EQ(s().xMode, kAxisLocked);
  EXPECT_EQ(s().yMode, kAxisLocked);
  subplot_unlock_scale(&s());
  ASSERT_EQ(run("scale('lock', [0 10 0 5]);\n"), kOk);
  EXPECT_EQ(s().xMax, 10);
  EXPECT_EQ(s().yMax, 5);
}

TEST_F(Scale, EqualAspectWithLimits) {
  ASSERT_EQ(run("scale('equal', [0 1 0 1]);\n"), kOk);
  EXPECT_EQ(s().scaleFlags & 64u, 64u);
  EXPECT_DOUBLE_EQ(std::fabs(s().xScale), std::fabs(s().yScale));
}

TEST_F(Scale, Refusals) {
  struct Case {
    const char* code;
    int status;
  } cases[] = {
      {"scale('bogus');\n", kUnknownOption},   {"scale('lin/log');\n", kUnknownOption},
      {"scale([1 2 3]);\n", kBadArgument},     {"scale([0 1], 5);\n", kBadArgument},
      {"scale(1, 1, 1);\n", kBadArgument},     {"x = scale('linlin');\n", kTooManyInputs},
      {"scale({1});\n", kWrongType},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.code), c.status) << c.code;
  host.block->h.build.subplot = -1;
  EXPECT_EQ(run("scale;\n"), kBadContext);
}

TEST_F(Scale, AFullListRefusesTheOpeningRecord) {
  host.block->h.build.capacity = 6;
  EXPECT_EQ(run("scale('linlin');\n"), kPlotOverflow);
  EXPECT_EQ(host.block->h.build.used, 0);
}

}  // namespace
