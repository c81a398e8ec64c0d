// Option structures: defaults by type, updates by name and value pairs
// (replacing, appending, case-sensitive names), and reading
// options back with the template filling what the structure lacks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/options.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "support/engine_block.h"
#include "support/stack_invariants.h"

namespace {

class Options : public ::testing::Test {
 protected:
  void SetUp() override { stack_base = ctx->desc_top; }

  // Field names of the structure at depth, in order.
  std::vector<std::string> names(int depth = 0) {
    std::vector<std::string> out;
    for (int32_t k = 1;; ++k) {
      const char* name = nullptr;
      int32_t n = 0;
      if (stk_container_field_at(ctx, depth, k, &name, &n) != kOk) break;
      out.emplace_back(name, size_t(n));
    }
    return out;
  }
  // A field pushed, described as text: "[v1 v2]" for doubles, "L1" for a
  // logical scalar, "'abc'" for chars, "{}" for an empty list.
  std::string field(const char* name, int depth = 0) {
    if (stk_struct_get_field(ctx, depth, name, int32_t(std::strlen(name))) != kOk) return "<none>";
    std::string s = describe_top();
    stk_drop(ctx);
    return s;
  }
  std::string describe_top() {
    const uint32_t* d = desc_at(ctx, 0);
    if (d[0] == kKindContainer) return d[1] == 0 ? "{}" : "{...}";
    if (stk_is_char(ctx, 0)) {
      char buf[64];
      int32_t n = 0;
      EXPECT_EQ(stk_get_string_buf(ctx, 0, buf, sizeof buf, &n), kOk);
      return "'" + std::string(buf, size_t(n)) + "'";
    }
    if (stk_is_logical(ctx, 0)) {
      uint8_t v = 0;
      EXPECT_EQ(stk_get_bool(ctx, 0, &v), kOk);
      return "L" + std::to_string(v);
    }
    int64_t count = 0;
    double* re = nullptr;
    EXPECT_EQ(stk_get_double_array(ctx, 0, nullptr, nullptr, &count, &re, nullptr), kOk);
    std::string s = "[";
    char num[32];
    for (int64_t i = 0; i < count; ++i) {
      std::snprintf(num, sizeof num, "%s%g", i ? " " : "", re[i]);
      s += num;
    }
    return s + "]";
  }
  void text(const char* s) { ASSERT_EQ(stk_push_cstr(ctx, -1, s), kOk); }
  void real(double v) { ASSERT_EQ(stk_push_real(ctx, v), kOk); }
  void row(std::vector<double> v) {
    double* re = nullptr;
    ASSERT_EQ(stk_push_matrix(ctx, 1, int32_t(v.size()), &re, nullptr), kOk);
    for (size_t i = 0; i < v.size(); ++i) re[i] = v[i];
  }
  int items() { return (ctx->desc_top - stack_base) / 3; }

  EngineBlock block = EngineBlock::make(1u << 18);
  EngineContext* ctx = block.ctx();
  int32_t stack_base = 0;
};

TEST_F(Options, OdesetWithoutArgumentsHasItsThirteenDefaults) {
  ASSERT_EQ(opt_make_struct(ctx, 0, kOdesetOptions), kOk);
  ASSERT_EQ(items(), 1);
  ASSERT_TRUE(stk_is_struct(ctx, 0));
  const std::vector<std::string> want = {"AbsTol",  "Events",    "EventTime", "InitialStep", "MaxStep",
                                         "MinStep", "NormControl", "OnEvent", "OutputFcn",   "PreArg",
                                         "Refine",  "RelTol",    "Stats"};
  EXPECT_EQ(names(), want);
  for (auto [name, value] :
       {std::pair{"AbsTol", "[1e-06]"}, {"RelTol", "[0.001]"}, {"NormControl", "L0"}, {"Stats", "L0"},
        {"PreArg", "{}"}})
    EXPECT_EQ(field(name), value) << name;
  for (const char* empty : {"Events", "EventTime", "InitialStep", "MaxStep", "MinStep", "OnEvent",
                            "OutputFcn", "Refine"})
    EXPECT_EQ(field(empty), "[]") << empty;
  EXPECT_TRUE(check_stack_invariants(ctx, stack_base, 0));
}

TEST_F(Options, PairsReplaceOrAppendInArgumentOrder) {
  text("RelTol"), real(1e-4);
  text("Refine"), row({1, 2, 3, 4, 5});
  text("RelTol"), real(2e-4);  // the later pair wins
  ASSERT_EQ(opt_make_struct(ctx, 6, kOdesetOptions), kOk);
  ASSERT_EQ(items(), 1);
  EXPECT_EQ(names().size(), 13u);
  for (auto [name, value] : {std::pair{"RelTol", "[0.0002]"}, {"Refine", "[1 2 3 4 5]"}, {"Stats", "L0"}})
    EXPECT_EQ(field(name), value) << name;
  EXPECT_TRUE(check_stack_invariants(ctx, stack_base, 0));

  // The structure given first is updated; values of any type are kept, and
  // a field shrinks as well as it grows.
  text("Refine"), real(7);
  text("OutputFcn"), text("plotter");
  ASSERT_EQ(opt_make_struct(ctx, 5, kOdesetOptions), kOk);
  ASSERT_EQ(items(), 1);
  for (auto [name, value] :
       {std::pair{"Refine", "[7]"}, {"OutputFcn", "'plotter'"}, {"AbsTol", "[1e-06]"}, {"Stats", "L0"}})
    EXPECT_EQ(field(name), value) << name;
  EXPECT_TRUE(check_stack_invariants(ctx, stack_base, 0));
}

TEST_F(Options, BadPairsAndBadStructures) {
  const int before = ctx->desc_top;
  // Names are case-sensitive; the arguments stay for the error path.
  for (const char* bad : {"tolx", "Tol", "TolXX", "A name much longer than any option"}) {
    text(bad), real(1);
    EXPECT_EQ(opt_make_struct(ctx, 2, kOptimsetOptions), kUnknownOption) << bad;
    EXPECT_EQ(ctx->desc_top, before + 6);
    stk_drop(ctx), stk_drop(ctx);
  }
  real(3), real(1);  // a name that is not text
  EXPECT_EQ(opt_make_struct(ctx, 2, kOptimsetOptions), kUnknownOption);
  stk_drop(ctx), stk_drop(ctx);

  real(1), text("TolX"), real(1);  // odd count: the first argument must be a structure
  EXPECT_EQ(opt_make_struct(ctx, 3, kOptimsetOptions), kWrongType);
  EXPECT_EQ(ctx->desc_top, before + 9);
}

TEST_F(Options, FullDataStackGivesOverflowAndKeepsTheStructure) {
  ASSERT_EQ(opt_make_struct(ctx, 0, kOptimsetOptions), kOk);
  text("TolX");
  row(std::vector<double>(64, 1.0));
  ctx->data_capacity = uint32_t(ctx->data_top + 10);
  EXPECT_EQ(opt_make_struct(ctx, 3, kOptimsetOptions), kDataStackOverflow);
  EXPECT_TRUE(check_stack_invariants(ctx, stack_base, 0));
  EXPECT_EQ(field("TolX"), "[]");
}

TEST_F(Options, ReadingFallsBackToTheTemplate) {
  static const OptionDesc tmpl[] = {
      opt_row("Color", kOptRow3, 0, 0, 0),
      opt_row("Box", kOptRow4, 1, 2, 3, 4),
      opt_row("Pair", kOptRow2, 5, 6),
      opt_row("Prompt", kOptChars0),
      opt_row("Mark", kOptChars0 + 2, 'o', 'k'),
      opt_text_row("Font", "Arial"),
      opt_text_row("NoFont", nullptr),
      opt_row("Bold", kOptLogical, 0.5),
      opt_row("List", kOptEmptyList),
      opt_end_row(),
  };
  // An empty double matrix as the options argument: every option reads as its default.
  ASSERT_EQ(stk_push_empty(ctx), kOk);
  struct Case {
    const char* name;
    const char* value;
  } cases[] = {{"Color", "[0 0 0]"}, {"Box", "[1 2 3 4]"}, {"Pair", "[5 6]"}, {"Prompt", "''"},
               {"Mark", "'ok'"},     {"Font", "'Arial'"},  {"NoFont", "''"},  {"Bold", "L0"},
               {"List", "{}"}};
  for (const Case& c : cases) {
    ASSERT_EQ(opt_read_struct(ctx, 0, c.name, tmpl), kOk) << c.name;
    EXPECT_EQ(describe_top(), c.value) << c.name;
    stk_drop(ctx);
  }
  for (const char* name : {"Colour", "color"}) EXPECT_EQ(opt_read_struct(ctx, 0, name, tmpl), kUndefinedField);
  stk_drop(ctx);

  // A structure: its non-empty fields win; an empty field reads as the default.
  ASSERT_EQ(opt_make_struct(ctx, 0, kOptimsetOptions), kOk);
  text("Display");
  ASSERT_EQ(stk_push_logical_scalar(ctx, 1), kOk);
  ASSERT_EQ(opt_make_struct(ctx, 3, kOptimsetOptions), kOk);
  for (auto [name, value] : {std::pair{"Display", "L1"}, {"TolX", "[]"}}) {
    ASSERT_EQ(opt_read_struct(ctx, 0, name, kOptimsetOptions), kOk);
    EXPECT_EQ(describe_top(), value) << name;
    stk_drop(ctx);
  }

  real(2);  // any other value is not an options argument
  EXPECT_EQ(opt_read_struct(ctx, 0, "TolX", kOptimsetOptions), kWrongType);
}

}  // namespace
