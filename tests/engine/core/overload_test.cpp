// Operator overloading and operand conversion: an object operand has its
// class's method run, a missing method is
// reported under the class's name, subsref gets the subscripts as {type,
// subs}, and integer, char and logical operands are retried as double.
#include <gtest/gtest.h>

#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/overload.h"
#include "engine/core/symbols.h"
#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

std::vector<std::string> g_seen;

// Records the item on top as text: numbers, strings, lists and structures.
std::string describe(EngineContext* c, int depth) {
  const uint32_t* d = desc_at(c, depth);
  if (d[0] == kKindReal && d[1] * d[2] == 1) return std::to_string(int(tn::ld_f64(item_data(c, depth))));
  if (stk_is_char(c, depth)) {
    char buf[64];
    int32_t n = 0;
    stk_get_string_buf(c, depth, buf, sizeof buf, &n);
    return "'" + std::string(buf, size_t(n)) + "'";
  }
  if (d[0] == kKindContainer) {
    int32_t count = 0;
    stk_get_container(c, depth, &count, nullptr);
    std::string s = d[2] == kContStruct ? "struct(" : "list(";
    for (int32_t k = 1; k <= count; ++k) {
      if (d[2] == kContStruct) {
        const char* name = nullptr;
        int32_t n = 0;
        stk_container_field_at(c, depth, k, &name, &n);
        s += std::string(name, size_t(n)) + "=";
        stk_struct_get_field(c, depth, std::string(name, size_t(n)).c_str(), n);
      } else {
        stk_list_get(c, depth, k);
      }
      s += describe(c, 0) + (k < count ? "," : "");
      stk_drop(c);
      d = desc_at(c, depth);
    }
    return s + ")";
  }
  return "?";
}

int bi_record(EngineContext* ctx, int, int, uintptr_t) {
  g_seen.push_back(describe(ctx, 0));
  stk_drop(ctx);
  return kOk;
}

int g_displayed = 0;
int test_display(EngineContext* ctx, int32_t, int pop) {
  ++g_displayed;
  if (pop) stk_drop(ctx);
  return kOk;
}

int lib_plus(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  g_seen.push_back("lib plus " + std::to_string(nargin) + " " + std::to_string(nargout));
  stk_drop(ctx);
  stk_drop(ctx);
  return stk_push_real(ctx, 31);
}

struct Overload : InterpFixture {
  const BuiltinEntry table[3] = {fn_row("record", bi_record, 1, 1, 0, 0), fn_row("plus", lib_plus, 2, 2, 1, 1, 1),
                                 BuiltinEntry{}};
  int32_t pt = 0;  // the class symbol of "pt" objects

  Overload() {
    EXPECT_EQ(engine_register_builtin_table(c, table, 1), kOk);
    handle(kOpMinus, interp_test::plus_doubles);
    EXPECT_EQ(symtab_intern(c, "pt", 2, 32, &pt), kOk);
    interp_set_display(test_display);
    g_seen.clear();
    g_displayed = 0;
  }
  ~Overload() override { interp_set_display(nullptr); }

  void method(const char* name, const std::string& text) {
    int32_t id = 0;
    ASSERT_EQ(fn_table_define(c, name, int32_t(std::strlen(name)), "pt", 2, 0, 0, 0, kNoLibrary, &id), kOk);
    ASSERT_EQ(fn_compile_on_demand(c, id, text.data(), int32_t(text.size()), 0, 0), kOk);
  }
  // A "pt" object: a structure {x = v} with the class's subtype.
  void push_object(double v) {
    ASSERT_EQ(stk_push_real(c, v), kOk);
    ASSERT_EQ(stk_make_container(c, 1, 0, "x", 1), kOk);
    desc_at(c, 0)[2] = uint32_t(pt);
  }
};

TEST_F(Overload, ObjectOperandRunsItsClassMethod) {
  method("plus", "function r = plus(a, b)\nasm push_int16 42\nasm ret_function\nend\n");
  push_object(1);
  start("  push_int16 5\n  plus\n  halt\n", 1, 1);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 42.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  // The object second: the method still runs.
  ASSERT_EQ(stk_push_real(c, 5), kOk);
  push_object(1);
  start("  plus\n  halt\n", 1, 2);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 42.0);
}

TEST_F(Overload, MissingMethodIsReportedUnderTheClassName) {
  push_object(1);
  start("  push_int16 5\n  minus\n  halt\n", 1, 1);
  EXPECT_EQ(interp_run(c, 0), kUndefinedFunction);
  EXPECT_EQ(std::string(c->failing_op, strnlen(c->failing_op, sizeof c->failing_op)), "pt::minus");
  EXPECT_NE(output().find("'pt::minus'"), std::string::npos) << output();
  frame_unwind(c, 0);
  // disp without a method: the built-in display shows it, no error.
  push_object(1);
  start("  disp\n  halt\n", 0, 1);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(g_displayed, 1);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(Overload, IndexReadOnAnObjectCallsSubsrefWithTypeAndSubs) {
  // o(2, :) with the colon compiled as a mask bit: subs = {2, ':'}.
  method("subsref", "function r = subsref(o, s)\nasm load_local 2\nasm lib 0 1 0\nasm push_int16 8\n"
                    "asm ret_function\nend\n");
  push_object(1);
  start("  push_int16 2\n  index_read 2 0x2\n  halt\n", 1, 1);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 8.0);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0], "struct(type='()',subs=list(2,':'))");
  // end of the object: "end" with the object, the position and the count.
  method("end", "function r = end(o, k, n)\nasm load_local 3\nasm lib 0 1 0\nasm load_local 2\n"
                "asm lib 0 1 0\nasm push_int16 6\nasm ret_function\nend\n");
  g_seen.clear();
  push_object(1);
  start("  index_end 0 1 2\n  halt\n", 2, 1);
  ASSERT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 6.0);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"2", "1"}));  // count, then position
}

TEST_F(Overload, IntegerCharAndLogicalOperandsAreRetriedAsDouble) {
  struct Case { std::string push; double want; };
  const Case cases[] = {{"  push_small_typed.int8 5\n  push_int16 3\n", 8},
                        {"  push_int16 3\n  push_small_typed.int8 -5\n", -2},
                        {"  push_string8 \"a\"\n  push_one\n", 98},
                        {"  true 0\n  true 0\n", 2},
                        {"  push_small_typed.uint16 65535\n  push_small_typed.int8 1\n", 65536}};
  handle(kOpTrue, [](EngineContext* ctx, int32_t, int, int, int) { return stk_push_logical_scalar(ctx, 1); });
  for (const Case& k : cases) {
    start(k.push + "  plus\n  halt\n", 1);
    ASSERT_EQ(interp_run(c, 0), kOk) << k.push;
    EXPECT_EQ(pop_real(), k.want) << k.push;
    EXPECT_EQ(c->desc_top, kBaseFrameWords);
  }
  // Nothing to convert: the first failure is reported.
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  start("  push_one\n  plus\n  halt\n", 1, 1);
  EXPECT_EQ(interp_run(c, 0), kWrongArgType);
  frame_unwind(c, 0);
  out_len = 0;
  // A conversion that cannot help (different sizes after it) reports the new failure.
  double* re = nullptr;
  ASSERT_EQ(stk_push_matrix(c, 1, 2, &re, nullptr), kOk);
  re[0] = re[1] = 1;
  start("  push_string8 \"abc\"\n  plus\n  halt\n", 1, 1);
  EXPECT_EQ(interp_run(c, 0), kIncompatibleSize);
  EXPECT_NE(output().find("'+'"), std::string::npos) << output();
}

}  // namespace

namespace {

TEST_F(Overload, NestedAssignmentRunsThroughTheLoop) {
  // s.a{3}(2) = 5 on an undefined s (base slot 1).
  int32_t a = 0;
  ASSERT_EQ(symtab_intern(c, "a", 1, 32, &a), kOk);
  EXPECT_EQ(run("  push_int16 5\n  push_ref_target 1\n  ref_field " + std::to_string(a) +
                "\n  push_int16 3\n  ref_element 1\n  push_int16 2\n  index_assign 1 0\n"
                "  load_local 1\n  lib 0 1 0\n  halt\n"),
            kOk);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0], "struct(a=list(?,?,?))");
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  EXPECT_TRUE(check_heap_chain(c));
}

TEST_F(Overload, IndexAssignmentToAnObjectRunsSubsasgnAndStoresItsResult) {
  method("subsasgn", "function r = subsasgn(o, s, v)\nasm load_local 2\nasm lib 0 1 0\nasm load_local 3\n"
                     "asm lib 0 1 0\nasm push_int16 99\nasm ret_function\nend\n");
  push_object(1);
  start("  store_local 1\n  push_int16 7\n  push_ref_target 1\n  push_int16 2\n  index_assign 1 0\n"
        "  load_local 1\n  halt\n", 1, 1);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 99.0);  // the method's result replaced the variable
  EXPECT_EQ(g_seen, (std::vector<std::string>{"struct(type='()',subs=list(2))", "7"}));
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

}  // namespace
