// Top-level code that assigns many names: the workspace's name table grows
// as the text needs, without a cap below what 16-bit slots can address, and
// the text compiles a few times at most (each growth doubles the table), so
// the cost follows the text and not the text times the names.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "engine/core/compiler.h"
#include "engine/core/fntable.h"
#include "support/zvr_session.h"

namespace {

int g_compiles = 0;

int counting_compiler(EngineContext* ctx, int32_t library, const char* text, int32_t length, uint16_t* code,
                      int64_t capacity, int64_t* code_words, int32_t function_id, uint32_t flags, int32_t* values) {
  ++g_compiles;
  return compile_source(ctx, library, text, length, code, capacity, code_words, function_id, flags, values);
}

struct CountedCompiles {
  CompileSourceFn previous = fn_set_compiler(&counting_compiler);
  CountedCompiles() { g_compiles = 0; }
  ~CountedCompiles() { fn_set_compiler(previous); }
};

// lines statements over names variables: "v<k> = <line>;", the names first
// met in order, then assigned again round and round.
std::string assignments(int lines, int names) {
  std::string text;
  for (int i = 0; i < lines; ++i) text += "v" + std::to_string(i % names) + " = " + std::to_string(i) + ";\n";
  return text;
}

// The compilations that doubling allows for `names` names from a table of 16:
// one per growth and the one that succeeds.
int doubling_bound(int names) {
  int compiles = 1;
  for (int room = 16; room < names; room *= 2) ++compiles;
  return compiles;
}

TEST(WorkspaceNames, TopLevelTextGrowsTheTableByDoubling) {
  struct Case {
    int lines, names;
  };
  for (const Case k : {Case{60, 40}, Case{600, 300}, Case{3000, 1500}}) {
    SCOPED_TRACE(std::to_string(k.names) + " names");
    ZvrSession s;
    CountedCompiles counted;
    ASSERT_EQ(s.run(assignments(k.lines, k.names)), kOk) << s.take_output();
    EXPECT_LE(g_compiles, doubling_bound(k.names));
    // Each variable holds the last line that assigned it.
    for (int v : {0, k.names / 2, k.names - 1}) {
      const int last = v + (k.lines - 1 - v) / k.names * k.names;
      EXPECT_EQ(s.value("v" + std::to_string(v)), s.value(std::to_string(last)));
    }
    EXPECT_TRUE(s.clean());
  }
}

TEST(WorkspaceNames, LaterLinesAndEvalKeepGrowingTheSameWorkspace) {
  ZvrSession s;
  ASSERT_EQ(s.run(assignments(1100, 1100)), kOk) << s.take_output();
  // A command line after that, and an eval from ZVR code, add their names
  // to the same workspace; the earlier names keep their values.
  ASSERT_EQ(s.run("w1 = v1099 + 1; w2 = w1 * 2;\n"), kOk) << s.take_output();
  EXPECT_EQ(s.value("w2"), s.value("2200"));
  ASSERT_EQ(s.run("t = ''; for k = 1:1200, t = [t sprintf('u%d = %d;', k, k)]; end; eval(t);\n"), kOk)
      << s.take_output();
  EXPECT_EQ(s.value("u1200 + v7"), s.value("1207"));
  EXPECT_TRUE(s.clean());
}

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The CPU time of running text in a fresh session, the better of two.
double run_cost(const std::string& text) {
  double best = 1e9;
  for (int k = 0; k < 2; ++k) {
    ZvrSession s(1u << 24);
    const double t0 = cpu_seconds();
    EXPECT_EQ(s.run(text), kOk) << s.take_output();
    const double t = cpu_seconds() - t0;
    best = t < best ? t : best;
  }
  return best;
}

// The same number of lines over 2,000 names and over 10 cost about the
// same, at top level and in a function: names are found through an index,
// not by a scan of all of them (which made the first many times dearer).
TEST(WorkspaceNames, CompileCostFollowsTheTextNotTheNames) {
  constexpr int kLines = 2500;
  for (const bool in_function : {false, true}) {
    SCOPED_TRACE(in_function ? "function" : "top level");
    auto text = [&](int names) {
      const std::string body = assignments(kLines, names);
      return in_function ? "function f()\n" + body + "endfunction\nf();\n" : body;
    };
    const double many = run_cost(text(2000)), few = run_cost(text(10));
    EXPECT_LT(many, 4 * few + 0.005) << many << " s over 2,000 names, " << few << " s over 10";
  }
}

}  // namespace
