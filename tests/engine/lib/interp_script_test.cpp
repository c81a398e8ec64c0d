// Control flow from source text to the end: command lines compiled and run
// by the interpreter, checked through the variables they leave in the base
// workspace (range loops with the colon count, zero steps, loops over
// columns, switch, try, short-circuit operators, while with break).
#include <gtest/gtest.h>

#include <string>

#include "support/script_fixture.h"

namespace {

struct Script : ScriptFixture {
  double real(const char* name) {
    const uint32_t* h = var(name);
    if (!h || h[0] != kKindReal) return -1e300;
    return tn::ld_f64(h + 4);
  }
};

TEST_F(Script, LoopsSwitchTryAndShortCircuitFromSource) {
  EXPECT_EQ(line("n = 0; for i = 1:0.1:1.3, n = n + 1; end"), kOk);
  EXPECT_EQ(real("n"), 4.0);  // as many as numel(1:0.1:1.3)
  EXPECT_EQ(line("k = 0; for i = 5:0:1, k = k + 1; end"), kOk);
  EXPECT_EQ(real("k"), 0.0);  // a zero step runs nothing
  EXPECT_EQ(line("d = 0; for i = 5:-1:1, d = d * 10 + i; end"), kOk);
  EXPECT_EQ(real("d"), 54321.0);
  EXPECT_EQ(line("s = 0; for v = [1 2; 3 4], s = s + v(2); end"), kOk);
  EXPECT_EQ(real("s"), 7.0);  // columns [1; 3] and [2; 4]
  EXPECT_EQ(line("switch 'abc', case {'x', 'abc'}, r = 1; case 'ab', r = 2; otherwise, r = 3; end"), kOk);
  EXPECT_EQ(real("r"), 1.0);
  EXPECT_EQ(line("switch 3, case [1 2 3], q = 1; otherwise, q = 2; end"), kOk);
  EXPECT_EQ(real("q"), 1.0);
  EXPECT_EQ(line("w = 0; try, w = 1; error('boom'); w = 2; catch, w = w + 10; end"), kOk);
  EXPECT_EQ(real("w"), 11.0);
  EXPECT_EQ(line("z = 0; if (1 < 2) || ([1 2] + [1 2 3]), z = 1; end"), kOk);
  EXPECT_EQ(real("z"), 1.0);  // the right operand is never evaluated
  EXPECT_EQ(line("i = 0; while true, i = i + 1; if i >= 3, break; end, end"), kOk);
  EXPECT_EQ(real("i"), 3.0);
  EXPECT_EQ(std::string(out, out_len), "");
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(Script, UncaughtErrorInAFunctionPrintsItsTraceback) {
  EXPECT_EQ(line("function y = inner(x)\n  y = x + [1 2] + [1 2 3];\n"), kOk);
  EXPECT_EQ(line("function y = outer(x)\n  y = inner(x);\n"), kOk);
  EXPECT_EQ(line("outer(1)"), kIncompatibleSize);
  const std::string text(out, out_len);
  EXPECT_EQ(text, "Incompatible size (_cli/inner;2) '+'\n-> _cli/outer;2\n");
}

}  // namespace
