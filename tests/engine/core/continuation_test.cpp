// Built-ins that call user code: a test built-in calls its function argument
// twice in a row through the continuation protocol, from top-level code and
// from inside a function, with user functions and with a row as the callee.
#include <gtest/gtest.h>

#include "engine/core/continuation.h"
#include "engine/core/stack_ops.h"
#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

int g_resumes = 0;

// twice(f, x) = f(f(x)); a step counter lies between f and the value.
int bi_twice(EngineContext* ctx, int nargin, int, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) {
    if (nargin != 2) return kBadArgument;
    TN_TRY(stk_push_real(ctx, 1));
    TN_TRY(stk_move(ctx, 2, 1));  // [f, 1, x]
    return builtin_call_value(ctx, 2, 1, 1);
  }
  ++g_resumes;
  if (results != 1) return kBadArgument;
  double step = 0;
  TN_TRY(stk_get_real_scalar(ctx, 1, &step));
  double r = 0;
  TN_TRY(stk_get_real_scalar(ctx, 0, &r));
  if (r < 0) return kArgOutOfRange;  // refuses negative intermediate values
  if (step == 1) {
    tn::st_f64(item_data(ctx, 1), 2);
    return builtin_call_value(ctx, 2, 1, 1);
  }
  return stk_remove(ctx, 1, 2);  // [r2]
}

// twicen(x) = inc(inc(x)), calling by name.
int bi_twicen(EngineContext* ctx, int nargin, int, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results < 0) {
    TN_TRY(stk_push_real(ctx, 1));
    TN_TRY(stk_move(ctx, 2, 1));  // [1, x]
    return builtin_call_name(ctx, "inc", 1, 1);
  }
  double step = 0;
  TN_TRY(stk_get_real_scalar(ctx, 1, &step));
  if (step == 1) {
    tn::st_f64(item_data(ctx, 1), 2);
    return builtin_call_name(ctx, "inc", 1, 1);
  }
  return stk_remove(ctx, 1, 1);
}

int bi_double(EngineContext* ctx, int, int, uintptr_t) {
  double x = 0;
  TN_TRY(stk_pop_real_scalar(ctx, &x));
  return stk_push_real(ctx, 2 * x);
}

struct Continuation : InterpFixture {
  const BuiltinEntry table[4] = {fn_row("twice", bi_twice, 2, 2, 1, 1), fn_row("dbl", bi_double, 1, 1, 1, 1),
                                 fn_row("twicen", bi_twicen, 1, 1, 1, 1), BuiltinEntry{}};
  Continuation() {
    EXPECT_EQ(engine_register_builtin_table(c, table, 1), kOk);
    define("inc", "function y = inc(x)\nasm load_local 1\nasm push_one\nasm plus\nasm store_local 0\n"
                  "asm load_local 0\nasm ret_function\nend\n");
    define("neg", "function y = neg(x)\nasm push_int16 -1\nasm ret_function\nend\n");
    g_resumes = 0;
  }
};

TEST_F(Continuation, BuiltinCallsAUserFunctionTwiceInARow) {
  start("  push_string8 \"inc\"\n  push_int16 5\n  lib 0 2 1\n  halt\n", 1);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 7.0);
  EXPECT_EQ(g_resumes, 2);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  EXPECT_TRUE(check_heap_chain(c));
}

TEST_F(Continuation, WorksInsideAFunctionAndWithARowAsTheCallee) {
  define("g", "function y = g(x)\nasm push_string8 \"dbl\"\nasm load_local 1\nasm lib 0 2 1\n"
              "asm push_int16 100\nasm plus\nasm store_local 0\nasm load_local 0\nasm ret_function\nend\n");
  ASSERT_EQ(stk_push_real(c, 3), kOk);
  EXPECT_EQ(interp_call(c, "g", 0, 1, 1, 0, 0), kOk);
  EXPECT_EQ(pop_real(), 112.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  // By name, and nested: twicen inside twice's callee chain is a plain call.
  start("  push_int16 1\n  lib 2 1 1\n  halt\n", 1);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 3.0);
}

TEST_F(Continuation, AFailingResumedBuiltinReportsItsOwnName) {
  start("  push_string8 \"neg\"\n  push_int16 5\n  lib 0 2 1\n  halt\n", 1);
  EXPECT_EQ(interp_run(c, 0), kArgOutOfRange);
  EXPECT_EQ(g_resumes, 1);
  EXPECT_NE(output().find("'twice'"), std::string::npos) << output();
}

}  // namespace
