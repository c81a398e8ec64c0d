// Control-flow instructions: range loops against a model of the colon
// operator (count with its tolerance, running-sum values, zero steps, integer
// ranges), the last value of a range, loops over collections, the switch test
// and the short-circuit operators.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

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

TEST_F(ControlFlow, RangeLoopRunsOverTheColonElements) {
  // 1:0.1:1.3 has four elements although the running sum passes 1.3 at the last.
  ASSERT_EQ(loop(dbl(1) + dbl(0.1) + dbl(1.3), 3), kOk);
  EXPECT_EQ(reals(), colon_model(1, 0.1, 1.3));
  EXPECT_EQ(g_seen.size(), 4u);
  struct Case { double s, st, e; size_t n; };
  const Case cases[] = {{1, 1, 0, 0}, {5, -1, 1, 5}, {1, 0, 5, 0}, {5, 0, 1, 0}, {0, 0.1, 1, 11}, {1, 2, 6, 3},
                        {1, 1, 1, 1}, {0, NAN, 1, 0}, {NAN, 1, 3, 0}, {-2.5, 0.5, -1, 4}};
  for (const Case& k : cases) {
    g_seen.clear();
    ASSERT_EQ(loop(dbl(k.s) + dbl(k.st) + dbl(k.e), 3), kOk);
    EXPECT_EQ(g_seen.size(), k.n) << k.s << ":" << k.st << ":" << k.e;
    EXPECT_EQ(reals(), colon_model(k.s, k.st, k.e));
  }
  // Two operands: the step is 1.
  g_seen.clear();
  ASSERT_EQ(loop(dbl(0.5) + dbl(3), 2), kOk);
  EXPECT_EQ(reals(), (std::vector<double>{0.5, 1.5, 2.5}));
  // A range too long for the colon operator is refused as it refuses it.
  EXPECT_EQ(loop(dbl(1) + dbl(1) + dbl(1e10), 3), kObjectTooLarge);
  EXPECT_EQ(c->desc_top > kBaseFrameWords, true);
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

TEST_F(ControlFlow, RangeFinalIsTheLastValueTheLoopWouldLeave) {
  const auto final_of = [&](const std::string& operands, int n) {
    start(operands + "  range_pack " + std::to_string(n) + "\n  range_final\n  halt\n", 1);
    EXPECT_EQ(interp_run(c, 0), kOk);
  };
  final_of(dbl(1) + dbl(0.1) + dbl(1.3), 3);
  EXPECT_EQ(pop_real(), colon_model(1, 0.1, 1.3).back());
  final_of(dbl(5) + dbl(-2) + dbl(0), 3);
  EXPECT_EQ(pop_real(), 1.0);
  final_of(dbl(2) + dbl(1), 2);  // empty: no value
  EXPECT_EQ(desc_at(c, 0)[0], kKindNoValue);
  stk_drop(c);
  final_of("  push_small_typed.int8 1\n  push_small_typed.int8 2\n  push_small_typed.int8 6\n", 3);
  int32_t v = 0;
  EXPECT_EQ(stk_get_int(c, 0, &v), kOk);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(desc_at(c, 0)[2], kPayNumeric);
  stk_drop(c);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(ControlFlow, RangePackingPromotesAndRefusesNonScalars) {
  // A double and an int8 give a double range.
  g_seen.clear();
  ASSERT_EQ(loop(dbl(1) + "  push_small_typed.int8 3\n", 2), kOk);
  EXPECT_EQ(reals(), (std::vector<double>{1, 2, 3}));
  double* re = nullptr;
  ASSERT_EQ(stk_push_matrix(c, 1, 2, &re, nullptr), kOk);
  re[0] = re[1] = 1;
  start("  push_int16 4\n  range_pack 2\n  halt\n", 0, 1);
  EXPECT_EQ(interp_run(c, 0), kNonScalarArg);
}

TEST_F(ControlFlow, ForOverCollections) {
  // [1 2; 3 4] gives its columns [1; 3] and [2; 4].
  double* re = nullptr;
  ASSERT_EQ(stk_push_matrix(c, 2, 2, &re, nullptr), kOk);
  re[0] = 1, re[1] = 2, re[2] = 3, re[3] = 4;
  ASSERT_EQ(loop_over_item(), kOk);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].a, 2u);
  EXPECT_EQ(g_seen[0].b, 1u);
  EXPECT_EQ(tn::ld_f64(&g_seen[0].data[1]), 3.0);
  EXPECT_EQ(tn::ld_f64(&g_seen[1].data[0]), 2.0);
  // An empty list runs nothing; a list gives its elements.
  g_seen.clear();
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  ASSERT_EQ(loop_over_item(), kOk);
  EXPECT_TRUE(g_seen.empty());
  ASSERT_EQ(stk_push_real(c, 7), kOk);
  ASSERT_EQ(stk_push_cstr(c, 2, "ab"), kOk);
  ASSERT_EQ(stk_make_container(c, 2, 0, nullptr, 0), kOk);
  ASSERT_EQ(loop_over_item(), kOk);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].real(), 7.0);
  EXPECT_EQ(g_seen[1].b, kPayChar);
  // A char row gives one character per step, as 1 x 1 char arrays.
  g_seen.clear();
  ASSERT_EQ(stk_push_cstr(c, 3, "xyz"), kOk);
  ASSERT_EQ(loop_over_item(), kOk);
  ASSERT_EQ(g_seen.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(g_seen[i].data.data());
    EXPECT_EQ(g_seen[i].b, kPayChar);
    EXPECT_EQ(tn::ld_u32(p + 12), 1u);
    EXPECT_EQ(tn::load<uint16_t>(p + 16), uint16_t('x' + i));
  }
  // A 2 x 2 x 2 int8 array gives 2 x 1 x 2 slabs.
  g_seen.clear();
  const int32_t dims[3] = {2, 2, 2};
  void* e = nullptr;
  ASSERT_EQ(stk_push_typed_array(c, 3, dims, 1, 0, &e), kOk);
  for (int i = 0; i < 8; ++i) static_cast<int8_t*>(e)[i] = int8_t(i);
  ASSERT_EQ(loop_over_item(), kOk);
  ASSERT_EQ(g_seen.size(), 2u);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(g_seen[1].data.data());
  EXPECT_EQ(tn::ld_u32(p + 4), 3u);
  EXPECT_EQ(tn::ld_u32(p + 12), 1u);
  const int8_t* el = reinterpret_cast<const int8_t*>(p + 24);
  EXPECT_EQ((std::vector<int>{el[0], el[1], el[2], el[3]}), (std::vector<int>{1, 3, 5, 7}));
  // Anything else is the wrong type.
  ASSERT_EQ(stk_push_no_value(c), kOk);
  EXPECT_EQ(loop_over_item(), kWrongArgType);
}

// Switch value and case value pushed by the given code; 1 when matched, 0 when not.
struct SwitchCase { const char* name; std::string values; int want; };

TEST_F(ControlFlow, SwitchTestTable) {
  const std::string list_ab = "  push_string8 \"x\"\n  push_string8 \"abc\"\n  make_list 2\n";
  const SwitchCase cases[] = {
      {"number in list of numbers", "  push_int16 3\n  push_int16 1\n  push_int16 3\n  make_list 2\n", 1},
      {"number not in list", "  push_int16 3\n  push_int16 1\n  make_list 1\n", 0},
      {"string in list", "  push_string8 \"abc\"\n" + list_ab, 1},
      {"string prefix", "  push_string8 \"abc\"\n  push_string8 \"ab\"\n", 0},
      {"string equal", "  push_string8 \"abc\"\n  push_string8 \"abc\"\n", 1},
      {"number equal", "  push_int16 4\n  push_int16 4\n", 1},
      {"nan never matches", "  push_double nan\n  push_double nan\n", 0},
      {"int8 switch value", "  push_small_typed.int8 3\n  push_int16 3\n", 1},
      {"number against chars", "  push_int16 98\n  push_string8 \"abc\"\n", 1},
      {"number against typed", "  push_int16 7\n  push_small_typed.uint16 7\n", 1},
      {"empty switch value", "  push_empty\n  push_int16 1\n", 0},
      {"typed element in list", "  push_int16 3\n  push_small_typed.int8 3\n  make_list 1\n", kNotSupported},
      {"string in list of numbers", "  push_string8 \"a\"\n  push_int16 1\n  make_list 1\n", kWrongType},
      {"string against number", "  push_string8 \"a\"\n  push_int16 97\n", kWrongType},
      {"complex switch value", "  i\n  push_int16 1\n", kWrongType},
  };
  for (const SwitchCase& k : cases) {
    const int status = run(k.values + "  case_test no\n  push_one\n  halt\nno:\n  push_zero\n  halt\n", 2);
    if (k.want > 1) {
      EXPECT_EQ(status, k.want) << k.name;
      frame_unwind(c, 0);
      c->desc_top = kBaseFrameWords;
      c->data_top = 0;
      continue;
    }
    ASSERT_EQ(status, kOk) << k.name;
    EXPECT_EQ(pop_real(), double(k.want)) << k.name;
    stk_drop(c);  // the switch value stays for the next case
    EXPECT_EQ(c->desc_top, kBaseFrameWords) << k.name;
  }
  // A list element of another size than 1 x 1.
  double* re = nullptr;
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  ASSERT_EQ(stk_push_matrix(c, 1, 2, &re, nullptr), kOk);
  re[0] = re[1] = 2;
  ASSERT_EQ(stk_make_container(c, 1, 0, nullptr, 0), kOk);
  start("  case_test no\nno:\n  halt\n", 0, 2);
  EXPECT_EQ(interp_run(c, 0), kBadSize);
}

TEST_F(ControlFlow, ShortCircuitKeepsTheDecidingValue) {
  struct Case { const char* op; std::string first; double want; };
  // or_else: a true first operand is the result; and_then: a false one.
  const Case cases[] = {{"or_else", "  push_int16 2\n", 2},   {"or_else", "  push_zero\n", 9},
                        {"and_then", "  push_zero\n", 0},      {"and_then", "  push_int16 2\n", 9},
                        {"or_else", "  push_double nan\n", NAN}, {"and_then", "  push_double nan\n", 9}};
  for (const Case& k : cases) {
    ASSERT_EQ(run(k.first + "  " + k.op + " end\n  push_int16 9\nend:\n  halt\n", 1), kOk);
    const double got = pop_real();
    if (std::isnan(k.want)) EXPECT_TRUE(std::isnan(got));
    else EXPECT_EQ(got, k.want) << k.op;
    EXPECT_EQ(c->desc_top, kBaseFrameWords);
  }
  // A value that is no condition stops the instruction.
  EXPECT_EQ(run("  push_no_value\n  or_else end\nend:\n  halt\n"), kWrongTypeForBool);
}

}  // namespace
