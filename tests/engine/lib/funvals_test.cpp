// Function values through compiled ZVR code: feval and builtin, references
// and anonymous functions with captured values, eval, and the built-ins that call back (apply, map, cellfun, fevalx),
// nested in one another. Every case ends with the stacks back at the base
// frame, after success and after each caught error.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/containers.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/lib/eval.h"
#include "engine/lib/funvals.h"
#include "support/zvr_session.h"

namespace {

// struct(name, value, ...): a stand-in while the structure built-ins are not
// part of this library, enough for the captured values of anonymous functions.
int struct_pairs(EngineContext* c, int32_t, int nargin, int, int) {
  const int n = nargin / 2;
  for (int i = 0; i < n; ++i) {
    const int name_depth = 2 * (n - i) - 1 + (i > 0 ? 1 : 0);
    char name[33];
    int32_t length = 0;
    TN_TRY(stk_get_string_buf(c, name_depth, name, 32, &length));
    TN_TRY(stk_dup(c, name_depth - 1, 1));
    TN_TRY(stk_make_container(c, 1, i > 0 ? 1 : 0, name, length));
  }
  return stk_remove(c, 1, 2 * n);
}

struct Funvals : ::testing::Test, ZvrSession {
  OpHandler saved_struct = interp_set_op_handler(kOpStruct, struct_pairs, 0);
  ~Funvals() override { interp_set_op_handler(kOpStruct, saved_struct.fn, saved_struct.selector); }

  Funvals() {
    const char* definitions =
        "function y = twice(a)\n y = a * 2;\nendfunction\n"
        "function [p, q] = both(a)\n p = a; q = -a;\nendfunction\n"
        "function quiet(a)\n a;\nendfunction\n"
        "function y = fliplr(x)\n y = 42;\nendfunction\n"
        "function r = ev(a)\n r = eval('a * 10');\nendfunction\n";
    EXPECT_EQ(run(definitions), kOk) << take_output();
    EXPECT_TRUE(clean());
  }

  struct Case {
    const char* expr;
    const char* expected;
  };
  void check(std::initializer_list<Case> cases) {
    for (const Case& k : cases) {
      EXPECT_EQ(value(k.expr), k.expected) << k.expr << "\n" << take_output();
      EXPECT_TRUE(clean()) << k.expr;
    }
  }
  // Runs statements that must end without an uncaught error.
  void statements(const std::string& text) {
    const int status = run(text);
    EXPECT_EQ(status, kOk) << text << "\n" << take_output();
    if (status != kOk) frame_unwind(c, 0);
    EXPECT_TRUE(clean()) << text;
  }
};

TEST_F(Funvals, FevalAndBuiltinWithAShadowingUserFunction) {
  check({
      {"feval('fliplr', [1 2 3])", "double 1x1 [42]"},
      {"builtin('fliplr', [1 2 3])", "double 1x3 [3 2 1]"},
      {"feval(@fliplr, [1 2 3])", "double 1x1 [42]"},
      {"fliplr([1 2 3])", "double 1x1 [42]"},
      {"feval('twice', 4)", "double 1x1 [8]"},
      {"feval(@twice, 4)", "double 1x1 [8]"},
      {"feval(@(t) t * 3, 4)", "double 1x1 [12]"},
      {"builtin('twice', 4)", "error 121"},
      {"builtin(@fliplr, [1 2])", "error 44"},
      {"feval('', 1)", "error 204"},
      {"feval(3, 1)", "error 44"},
      {"feval('nosuchfunction', 1)", "error 121"},
  });
  // Two outputs through feval and through a reference held in a variable.
  statements("[a, b] = feval('both', 5);\ng = @both;\n[c, d] = g(6);\nr = [a b c d];\n");
  check({{"r", "double 1x4 [5 -5 6 -6]"}});
  // Called as statements, user functions and built-ins leave nothing behind.
  statements("feval('quiet', 1)\nfeval('twice', 1)\nbuiltin('fliplr', 1)\nfeval(@quiet, 2);\n");
  // A function of no outputs cannot give one.
  EXPECT_EQ(value("feval('quiet', 1)"), "error 126");
  EXPECT_TRUE(clean());
}

TEST_F(Funvals, ApplyOnFunctionsOfZeroOneAndTwoOutputs) {
  check({
      {"apply(@quiet, {3})", "{}"},
      {"apply(@twice, {3})", "{double 1x1 [6]}"},
      {"apply(@both, {3})", "{double 1x1 [3], double 1x1 [-3]}"},
      {"apply(@both, {3}, 1)", "{double 1x1 [3]}"},
      {"apply(@both, {3}, 0)", "{}"},
      {"apply('twice', {5})", "{double 1x1 [10]}"},
      {"apply(@(a, b) a - b, {5, 2})", "{double 1x1 [3]}"},
      {"apply(@both, {3}, 3)", "{double 1x1 [3], double 1x1 [-3]}"},  // tried with fewer
      {"apply(@both, {3}, 70000)", "error 103"},
      {"apply(@both, {3}, -1)", "error 103"},
      {"apply(@both, {3}, 1.5)", "error 103"},
      {"apply(@both, 3)", "error 44"},
      {"apply(@twice, {1, 2})", "error 124"},
  });
  statements("apply(@quiet, {1});\n");
}

TEST_F(Funvals, MapBroadcastsASingleElementCollection) {
  check({
      {"map(@(a, b) a + b, {1, 2, 3}, {10})", "{double 1x1 [11], double 1x1 [12], double 1x1 [13]}"},
      {"map(@(a, b) a + b, {5}, {1, 2})", "{double 1x1 [6], double 1x1 [7]}"},
      {"map(@(a, b) a + b, {5}, {1})", "{double 1x1 [6]}"},
      {"map(@twice, {})", "{}"},
      {"map(@(a, b) a, {1, 2}, {1, 2, 3})", "error 20"},
      {"map(@twice, 3)", "error 44"},
      {"map(@twice, {1, 2; 3, 4})", "cell 2x2 {double 1x1 [2], double 1x1 [4], double 1x1 [6], double 1x1 [8]}"},
      {"map(@(a, b) a * b, {2}, {1, 2; 3, 4})",
       "cell 2x2 {double 1x1 [2], double 1x1 [4], double 1x1 [6], double 1x1 [8]}"},
  });
  // Two outputs: one list each, the first output first.
  statements("[p, q] = map(@both, {1, 2, 3});\n[e1, e2] = map(@both, {});\n");
  check({{"p", "{double 1x1 [1], double 1x1 [2], double 1x1 [3]}"},
         {"q", "{double 1x1 [-1], double 1x1 [-2], double 1x1 [-3]}"},
         {"e2", "{}"}});
  statements("map(@quiet, {1, 2});\nmap(@twice, {1, 2})\n");
}

TEST_F(Funvals, CellfunAndItsClassRules) {
  check({
      {"cellfun(@twice, {1, 2, 3})", "double 1x3 [2 4 6]"},
      {"cellfun(@(x) x > 1, {1, 2, 3})", "logical 1x3 [0 1 1]"},
      // The first result fixes the class; later ones are converted to it.
      {"cellfun(@(x) x, {int8(5), 300, -1})", "int8 1x3 [5 44 -1]"},
      {"cellfun(@(x) x, {uint16(7), 2})", "uint16 1x2 [7 2]"},
      {"cellfun(@(x) x, {'a', 66})", "'aB'"},
      {"cellfun(@(x) x, {1 > 0, 0})", "logical 1x2 [1 0]"},
      {"cellfun(@(x) x, {1, int8(3)})", "double 1x2 [1 3]"},
      // Complex results stay complex; all-real ones come back real.
      {"cellfun(@(x) x * 1i, {1, 2})", "double 1x2 [0+1i 0+2i]"},
      {"cellfun(@(x) x, {1, 2i})", "double 1x2 [1+0i 0+2i]"},
      {"cellfun(@(x) x * 1i * 0, {1, 2})", "double 1x2 [0 0]"},
      // The shape of the collection; extra arguments follow each element.
      {"cellfun(@twice, {1, 2; 3, 4})", "double 2x2 [2 4 6 8]"},
      {"cellfun(@(x, y) x + y, {1, 2}, 10)", "double 1x2 [11 12]"},
      {"cellfun(@twice, {})", "double 0x0 []"},
      {"cellfun(@(x) [x x], {1, 2})", "error 21"},
      {"cellfun(@(x) {x}, {1, 2})", "error 21"},
      {"cellfun(@twice, 5)", "error 44"},
  });
}

TEST_F(Funvals, AnonymousFunctionsCarryTheirCapturedValues) {
  statements("k = 5;\nh = @(t) t + k;\nk = 7;\nr1 = h(2);\n");
  check({{"r1", "double 1x1 [7]"}});
  // Two captured values unpack through a multiple assignment.
  statements("m = 3; k = 4;\ng = @(t) t * m + k;\nclear m k\nr2 = g(2);\n");
  check({{"r2", "double 1x1 [10]"}, {"fun2str(g)", "'t * m + k'"}});
  // Captured values travel with the value, into callbacks and back out.
  statements("s = 100;\nadd = @(x) x + s;\nr3 = cellfun(add, {1, 2});\nr4 = map(@(f) f(1), {add, g});\n");
  check({{"r3", "double 1x2 [101 102]"}, {"r4", "{double 1x1 [101], double 1x1 [7]}"}});
  // inline with argument names, and one that finds its own argument.
  check({{"feval(inline('a - b', 'a', 'b'), 5, 2)", "double 1x1 [3]"},
         {"feval(inline('t * 2 + 1'), 4)", "double 1x1 [9]"}});
}

TEST_F(Funvals, EvalOfStatementsAndExpressions) {
  check({
      {"eval('3 * 4')", "double 1x1 [12]"},
      {"eval('1, 2')", "double 1x1 [2]"},
      {"ev(4)", "double 1x1 [40]"},
      {"eval('x_unset = 1;')", "error 126"},
      {"eval('1 +')", "error 161"},
      {"eval(5)", "error 44"},
  });
  // A statement assigns in the workspace; an expression statement is ans.
  take_output();
  statements("eval('w = 9;');\n");
  statements("eval('w + 1')\n");
  statements("r = [w ans];\n");
  check({{"r", "double 1x2 [9 10]"}});
  EXPECT_EQ(take_output(), "ans =\n    10\n");
  // An error in the text is caught by the surrounding try, or ends the run.
  statements("try\n eval('undefined_thing + 1');\n caught = 0;\ncatch\n caught = 1;\nend\n");
  check({{"caught", "double 1x1 [1]"}});
  statements("try\n y = eval('2 * 3');\ncatch\n y = 0;\nend\n");
  check({{"y", "double 1x1 [6]"}});
  EXPECT_EQ(run("eval('undefined_thing + 1')\n"), kUnknownFunction);
  frame_unwind(c, 0);
  EXPECT_TRUE(clean());
}

TEST_F(Funvals, FevalxExpandsSingletonDimensions) {
  check({
      {"fevalx(@(a, b) a + b, [1; 2; 3], [10 20 30 40])", "double 3x4 [11 21 31 41 12 22 32 42 13 23 33 43]"},
      {"fevalx(@(a, b) [a b], [1; 2], 5)", "double 2x2 [1 5 2 5]"},
      {"fevalx(@(a) a, int8([1 2]))", "int8 1x2 [1 2]"},
      {"fevalx(@(a, b) b, [1 2], int8([3; 4]))", "int8 2x2 [3 3 4 4]"},
      {"fevalx(@(a, b) b, [1 2], [1i; 2])", "double 2x2 [0+1i 0+1i 2+0i 2+0i]"},
      {"fevalx(@(a, b) a, [1 2 3], [1 2])", "error 20"},
      {"fevalx(5, 1)", "error 44"},
  });
  statements("fevalx(@quiet, 1);\n");
}

TEST_F(Funvals, CallbacksNestAndFailCleanly) {
  // A callback that itself calls back.
  check({{"map(@(x) cellfun(@twice, x), {{1, 2}, {3}})", "{double 1x2 [2 4], double 1x1 [6]}"},
         {"cellfun(@(x) apply(@both, {x}){2}, {1, 2})", "double 1x2 [-1 -2]"}});
  // An error inside a callee, inside a resumed built-in, or in a built-in's
  // own checks: the try cuts everything back.
  const char* failing[] = {"map(@(x) x(3), {1, 2})", "cellfun(@(x) [x x], {1})",
                           "apply(@twice, {1, 2})", "map(@(x) cellfun(@(y) [y y], {x}), {1})",
                           "fevalx(@twice, [1 2], [1 2 3])", "feval(@(x) x(3) + 1, 1)"};
  for (const char* f : failing) {
    statements(std::string("try\n r = ") + f + ";\n ok = 0;\ncatch\n ok = 1;\nend\n");
    check({{"ok", "double 1x1 [1]"}});
  }
}

// The host calls a compiled function whose built-ins call back into ZVR code.
TEST_F(Funvals, HostCallOfAFunctionThatCallsBack) {
  statements("function r = squares(v)\n s = 1;\n r = cellfun(@(x) x * x + s - 1, v);\nendfunction\n");
  ASSERT_EQ(stk_push_real(c, 3), kOk);
  ASSERT_EQ(stk_push_real(c, 4), kOk);
  ASSERT_EQ(stk_make_container(c, 2, 0, nullptr, 0), kOk);
  ASSERT_EQ(interp_call(c, "squares", 0, 1, 1, 0, 0), kOk) << take_output();
  EXPECT_EQ(render(0), "double 1x2 [9 16]");
  stk_drop(c);
  EXPECT_TRUE(clean());
  // nargin of an anonymous function does not count its captured values.
  statements("s = 2;\nh = @(a, b) a + b + s;\n");
  check({{"nargin(h)", "double 1x1 [2]"}, {"nargout(h)", "double 1x1 [1]"}, {"nargin(@both)", "double 1x1 [1]"}});
}

// The built-ins called directly: a check that fails before the call leaves
// the arguments as they were.
TEST_F(Funvals, FailedChecksLeaveTheArguments) {
  ASSERT_EQ(call_function_value(c, 0, 0, 0, 1), kTooFewInputs);
  ASSERT_EQ(stk_push_real(c, 3), kOk);
  ASSERT_EQ(stk_push_real(c, 4), kOk);
  EXPECT_EQ(call_function_value(c, 0, 0, 2, 1), kWrongArgType);
  EXPECT_EQ(bi_apply(c, 2, 1, 0), kWrongArgType);
  EXPECT_EQ(bi_map_cellfun(c, 2, 1, kMapSelector), kWrongArgType);
  EXPECT_EQ(bi_map_cellfun(c, 2, 1, kCellfunSelector), kWrongArgType);
  EXPECT_EQ(bi_fevalx(c, 2, 1, 0), kWrongArgType);
  EXPECT_EQ(bi_fun2str(c), kWrongArgType);
  EXPECT_EQ(bi_eval(c, 1), kWrongArgType);
  EXPECT_EQ(e.items(), 2);
  EXPECT_EQ(render(1), "double 1x1 [3]");
  EXPECT_EQ(render(0), "double 1x1 [4]");
  e.clear();
  EXPECT_TRUE(clean());
}

}  // namespace
