// Control-flow instructions: range loops against a model of the colon
// operator (count with its tolerance, running-sum values, zero steps), and
// integer ranges that keep their class and never wrap.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "engine/core/control_flow.h"
#include "engine/core/convert.h"
#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

// Every value the loop body sees, as a copy of its item.
struct Seen {
  uint32_t kind, a, b;
  std::vector<uint64_t> data;
  double real() const { return tn::ld_f64(data.data()); }
};
std::vector<Seen> g_seen;

int bi_record(EngineContext* ctx, int, int, uintptr_t) {
  const uint32_t* d = desc_at(ctx, 0);
  const uint64_t* p = item_data(ctx, 0);
  g_seen.push_back(Seen{d[0], d[1], d[2], std::vector<uint64_t>(p, p + desc_data_words(d))});
  stk_drop(ctx);
  return kOk;
}

// The colon operator's real range, as its description gives it (the model).
std::vector<double> colon_model(double start, double step, double end) {
  std::vector<double> v;
  if (step == 0) return v;  // a loop over a zero step runs nothing
  const double q = ((end - start) + step) / step;
  if (q > 2147483647.0) return {NAN};
  const double f = std::floor(q * 1.000000000000222);
  const int64_t n = (f >= 1 && f < 2147483648.0) ? int64_t(f) : 0;
  double x = start;
  for (int64_t i = 0; i < n; ++i, x += step) v.push_back(x);
  return v;
}

struct ControlFlow : InterpFixture {
  const BuiltinEntry table[2] = {fn_row("record", bi_record, 1, 1, 0, 0), BuiltinEntry{}};
  ControlFlow() {
    EXPECT_EQ(engine_register_builtin_table(c, table, 1), kOk);
    g_seen.clear();
  }
  // A loop over the range packed from the code in front of it; the body records the value.
  int loop(const std::string& operands, int n) {
    return run(operands + "  range_pack " + std::to_string(n) +
               "\nloop:\n  for_range_next done\n  lib 0 1 0\n  jump loop\ndone:\n  pop_item\n  halt\n");
  }
  // A loop over the collection given as the frame's item.
  int loop_over_item() {
    start("loop:\n  for_next done\n  lib 0 1 0\n  jump loop\ndone:\n  pop_item\n  halt\n", 0, 1);
    return interp_run(c, 0);
  }
  std::vector<double> reals() const {
    std::vector<double> v;
    for (const Seen& s : g_seen) v.push_back(s.real());
    return v;
  }
};

std::string dbl(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, 8);
  char buf[40];
  std::snprintf(buf, sizeof buf, "  push_double raw:0x%016llx\n", static_cast<unsigned long long>(bits));
  return buf;
}

TEST_F(ControlFlow, RangeLoopMatchesTheColonModelOnRandomDecimals) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> tenths(-50, 50), steps(-30, 30);
  for (int trial = 0; trial < 400; ++trial) {
    const double s = tenths(rng) / 10.0, e = tenths(rng) / 10.0;
    const double st = steps(rng) / (trial % 3 == 0 ? 7.0 : 10.0);
    g_seen.clear();
    ASSERT_EQ(loop(dbl(s) + dbl(st) + dbl(e), 3), kOk);
    const std::vector<double> want = colon_model(s, st, e);
    ASSERT_EQ(reals(), want) << s << ":" << st << ":" << e;
  }
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(ControlFlow, IntegerRangesKeepTheirClassAndNeverWrap) {
  struct Case { std::string code; int n; std::vector<int64_t> want; };
  const Case cases[] = {
      {"  push_small_typed.int8 120\n  push_small_typed.int8 10\n  push_small_typed.int8 127\n", 3, {120}},
      {"  push_small_typed.int8 5\n  push_small_typed.int8 -1\n  push_small_typed.int8 1\n", 3, {5, 4, 3, 2, 1}},
      {"  push_small_typed.int8 1\n  push_small_typed.int8 0\n  push_small_typed.int8 5\n", 3, {}},
      {"  push_small_typed.int8 1\n  push_small_typed.int8 2\n  push_small_typed.int8 6\n", 3, {1, 3, 5}},
      {"  push_small_typed.int8 1\n  push_small_typed.int8 2\n  push_small_typed.int8 0\n", 3, {}},
      // An unsigned range with a negative signed step counts down.
      {"  push_small_typed.uint8 5\n  push_small_typed.int8 -1\n  push_small_typed.uint8 1\n", 3, {5, 4, 3, 2, 1}},
      {"  push_small_typed.uint8 253\n  push_small_typed.uint8 255\n", 2, {253, 254, 255}},
      {"  push_small_typed.int64 -2\n  push_small_typed.int64 1\n", 2, {-2, -1, 0, 1}},
  };
  for (const Case& k : cases) {
    g_seen.clear();
    ASSERT_EQ(loop(k.code, k.n), kOk) << k.code;
    std::vector<int64_t> got;
    for (const Seen& s : g_seen) {
      ASSERT_EQ(s.kind, kKindPayload);
      const uint8_t* p = reinterpret_cast<const uint8_t*>(s.data.data());
      const uint32_t type = tn::ld_u32(p);
      got.push_back(int64_t(load_int_element(p + 16, 0, type)));
    }
    EXPECT_EQ(got, k.want) << k.code;
  }
  // The whole int8 range: 256 values, none lost to wrapping.
  g_seen.clear();
  ASSERT_EQ(loop("  push_small_typed.int8 -128\n  push_small_typed.int8 127\n", 2), kOk);
  EXPECT_EQ(g_seen.size(), 256u);
}

// Switch value and case value pushed by the given code; 1 when matched, 0 when not.
struct SwitchCase { const char* name; std::string values; int want; };

// The first step of a loop over a real range far past the colon's limit
// keeps the whole count in its state: the loop steps without building it.
TEST_F(ControlFlow, RealRangeLoopsPastTheColonLimit) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case { double start, step, end; uint64_t count; };
  const Case cases[] = {{1, 1, 1e18, uint64_t(1e18)}, {1, 1, inf, UINT64_MAX}, {0, 0.5, 4294967296.0, 8589934593u}};
  for (const Case& k : cases) {
    for (double v : {k.start, k.step, k.end}) ASSERT_EQ(stk_push_real(c, v), kOk);
    ASSERT_EQ(op_range_pack(c, 3), kOk);
    ASSERT_EQ(op_for_range_next(c), kOk);
    EXPECT_EQ(tn::ld_f64(item_data(c, 0)), k.start);
    EXPECT_EQ(item_data(c, 1)[kRsLeft], k.count - 1);
    stk_drop(c);
    EXPECT_EQ(op_for_range_next(c), kOk);
    EXPECT_EQ(tn::ld_f64(item_data(c, 0)), k.start + k.step);
    stk_drop(c);
    stk_drop(c);
  }
}

}  // namespace
