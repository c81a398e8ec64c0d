// The special-function built-ins on the value stack: result shapes and stack
// heights at every output count, the argument chosen to hold a result, type
// errors the engine's retry would hide from scripts, and the room sweep (a
// call that runs out of room leaves the stacks exactly as they were).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/special/special_builtins.h"
#include "numlib/special/special_kernels.h"
#include "support/failure_sweep.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

namespace {

using V = std::vector<double>;

class SpecialBuiltins : public ::testing::Test {
 protected:
  StartedEngine e;
  EngineContext* c = e.c;
  void TearDown() override {
    EXPECT_TRUE(e.invariants());
    e.clear();
  }
};

TEST_F(SpecialBuiltins, NonDoubleArgumentsAreWrongType) {
  tv::push_ints(c, kElemI8, {1, 1}, {3});
  EXPECT_EQ(bi_gamma(c, 1, 1, kSelGamma), kWrongArgType);
  tv::push_scalar(c, 2);
  EXPECT_EQ(bi_gammainc(c, 2, 1, 0), kWrongArgType);
  EXPECT_EQ(bi_nchoosek(c, 2, 1, 0), kWrongArgType);
  EXPECT_EQ(e.items(), 2);
}

TEST_F(SpecialBuiltins, ResultTakesTheWidestArgumentEarliestOnTies) {
  // gammainc(x, a) with a scalar x and a 2 x 1 a keeps a's shape.
  tv::push_scalar(c, 1);
  tv::push_double(c, {2, 1}, {1, 2});
  ASSERT_EQ(bi_gammainc(c, 2, 1, 0), kOk);
  ASSERT_EQ(e.items(), 1);
  tv::Value v = tv::read(c);
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{2, 1}));
  EXPECT_NEAR(v.re[0], 1 - std::exp(-1.0), 1e-15);
  e.clear();
  // A complex argument's storage gives a real result.
  tv::push_row(c, {0.5, 1}, {3, 4});
  tv::push_scalar(c, 2);
  ASSERT_EQ(bi_beta(c, 2, 1, kSelBeta), kOk);
  v = tv::read(c);
  EXPECT_FALSE(v.cplx);
  EXPECT_NEAR(v.re[1], 0.5, 1e-15);
}

TEST_F(SpecialBuiltins, FailedIterationLeavesTheArguments) {
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 1);
  const uintptr_t never = reinterpret_cast<uintptr_t>(
      +[](double, double, double, double*) { return false; });
  EXPECT_EQ(bi_betainc(c, 3, 1, never), kNoConvergence);
  EXPECT_EQ(e.items(), 3);
}

// Runs `call` under the failure sweep on fresh arguments.
void sweep(StartedEngine& e, const std::function<void()>& push_args, const std::function<int()>& call) {
  bool swept = false;
  auto push = [&] {
    push_args();
    return int(kOk);
  };
  EXPECT_TRUE(sweep_rooms(e.c, push, call, &swept));
  EXPECT_TRUE(swept) << "the call fails even with room";
  e.clear();
}

TEST_F(SpecialBuiltins, RoomSweepOfBuiltinsThatPushResults) {
  const auto two_rows = [&] {
    tv::push_row(c, {0.3, 1, 2}, {1, 0, 0});
    tv::push_scalar(c, 0.5);
  };
  sweep(e, two_rows, [&] { return bi_hypot(c, 2, 1, 0); });
  for (int outs = 1; outs <= 3; ++outs)
    sweep(e, two_rows, [&] { return bi_elliptic(c, 2, outs, 'j'); });
  sweep(e, two_rows, [&] { return bi_elliptic(c, 2, 1, 'e'); });
  for (int outs = 1; outs <= 2; ++outs)
    sweep(e, [&] { tv::push_row(c, {0, 0.5, 0.9}); }, [&] { return bi_ellipke(c, 1, outs, 0); });
  const auto dist_args = [&] {
    tv::push_chars(c, u"gamma");
    tv::push_row(c, {0.5, 1, 2});
    tv::push_scalar(c, 2);
    tv::push_scalar(c, 1.5);
  };
  for (uintptr_t sel : {'p', 'c', 'i'})
    sweep(e, dist_args, [&] { return bi_distribution(c, 4, 1, sel); });
}

TEST_F(SpecialBuiltins, EllipjPushesFirstOutputOnTop) {
  tv::push_scalar(c, 0.7);
  tv::push_scalar(c, 0);
  ASSERT_EQ(bi_elliptic(c, 2, 3, 'j'), kOk);
  ASSERT_EQ(e.items(), 3);
  EXPECT_NEAR(tv::read(c, 0).re[0], std::sin(0.7), 1e-15);  // sn
  EXPECT_NEAR(tv::read(c, 1).re[0], std::cos(0.7), 1e-15);  // cn
  EXPECT_EQ(tv::read(c, 2).re[0], 1);                       // dn
}

}  // namespace
