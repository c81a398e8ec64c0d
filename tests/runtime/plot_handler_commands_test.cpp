// Graphics commands as users meet them: in the plot handler of a built
// application, run by the refresh that draws its figure. The scale query at
// every output count, the chart grids' limits, quiver's spacing, text where
// numbers are wanted, and commands called through function values as
// statements, each compared with what the plain call draws.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/core/status.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "tools/imagetools/image_builder.h"

namespace {

using Doubles = std::vector<double>;

constexpr char kDescription[] =
    "instance demo\n"
    "var x\n"
    "figure \"One\"\n"
    "plot demo_plot(x)\n";

// One figure whose plot handler is the body given; the refresh runs it.
struct HandlerRun {
  FakeHost host;
  int status = -1;
  std::string output;
  HandlerRun(const std::string& body, int32_t level = 4) {
    EXPECT_EQ(host.start(2u << 20, 64u << 20), 0);
    EXPECT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    rt_set_code_optimisation(host.block, level, 0);
    tnbuild::Builder builder(host.block, {{"demo", "function demo_plot(x)\n" + body + "\nendfunction\n"}});
    EXPECT_TRUE(builder.build(kDescription)) << builder.error;
    EXPECT_EQ(figure_layout_subplots(&host.block, 0, 0, 200, 0, 100), 0);
    host.take_output();
    status = inst_refresh(&host.block, 0);
    output = host.take_output();
  }
  const Subplot& s() { return inst_find_by_id(host.block, 0)->subplots[0]; }
  // The figure's list after the subplot's opening record.
  Doubles records() {
    int32_t pos = 0, length = 0;
    PlotStore* store = rt_plot_store(host.block);
    if (!plotstore_find(store, 0, &pos, &length) || length < kOpenObjectLength) return {};
    const double* d = plotstore_data(store) + pos;
    return Doubles(d + kOpenObjectLength, d + length);
  }
};

// The query answers a real row, whatever the stack held before it: old data
// under a complex row showed through as its imaginary parts.
TEST(PlotHandlerCommands, ScaleQueryIsARealRowAtEveryOutputCount) {
  const std::string old = "w = (1:50) * 7.5; s = sum(w .* w);\n";
  const struct {
    const char* body;
    const char* printed;
  } cases[] = {
      {"scale([0 10 0 5 -1 1]); a = scale(); fprintf('%d|', any(imag(a))); fprintf('%g ', a);",
       "0|0 10 0 5 -1 1 "},
      {"scale([0 10 0 5]); a = scale(); fprintf('%d|', any(imag(a))); fprintf('%.4f ', a);",
       "0|-0.2083 10.2083 -0.1042 5.1042 "},
      {"scale([0 10]); a = scale(); fprintf('%d|', any(imag(a))); fprintf('%.4f ', a);", "0|-0.2083 10.2083 "},
      {"a = scale(); fprintf('%d|%d', any(imag(a)), numel(a));", "0|0"},
      {"scale('loglin', [1 10 0 5 0 1]); [a, k] = scale(); fprintf('%d|%s|', any(imag(a)), k); fprintf('%g ', a);",
       "0|loglin|1 10 0 5 0 1 "},
      {"scale([0 10 0 5 -1 1]); disp(imag(scale))", "     0     0     0     0     0     0\n"},
      {"scale([0 10 0 5 -1 1]); scale", "     0    10     0     5    -1     1\n"},
  };
  for (const auto& c : cases) {
    HandlerRun run(old + c.body);
    EXPECT_EQ(run.status, kOk) << c.body << "\n" << run.output;
    EXPECT_EQ(run.output, c.printed) << c.body;
  }
}

// A chart drawn first in its subplot's object widens the limits to its
// extent, so the roots drawn over it sit in the chart; one drawn after a
// curve leaves the curve's limits.
TEST(PlotHandlerCommands, ChartsSetTheirLimitsInAFigure) {
  const double pi = 3.14159265358979323846;
  const struct {
    const char* body;
    double x0, x1, y0, y1;
  } cases[] = {
      {"zgrid(); plotroots([1 -0.5 0.3]);", -1.1, 1.1, -1.1, 1.1},
      {"zgrid([0.5 0.7], 2); plotroots([1 -0.5 0.3]);", -1.1, 1.1, -1.1, 1.1},
      {"hgrid; plotroots([1 -0.5 0.3]);", -1.1, 1.1, -1.1, 1.1},
      {"sgrid; plotroots([1 3 2]);", -2, 0.001, -0.001, 0.001},
      {"sgrid([0.5 0.7], 2, 'r'); plotroots([1 3 2]);", -2, 0.001, -0.001, 0.001},
      {"ngrid;", -2 * pi, 0, 0.1, 2},
      {"scale('linlin'); zgrid();", -1.1, 1.1, -1.1, 1.1},
      {"plotroots([1 3 2]); sgrid;", -2, -1, 0, 0},
  };
  for (const auto& c : cases) {
    HandlerRun run(c.body);
    ASSERT_EQ(run.status, kOk) << c.body << "\n" << run.output;
    EXPECT_NEAR(run.s().xMin, c.x0, 1e-12) << c.body;
    EXPECT_NEAR(run.s().xMax, c.x1, 1e-12) << c.body;
    EXPECT_NEAR(run.s().yMin, c.y0, 1e-12) << c.body;
    EXPECT_NEAR(run.s().yMax, c.y1, 1e-12) << c.body;
  }
}

// Both spacings divide by the column count less one: dy 0.5 here, not the
// rows' 1.
TEST(PlotHandlerCommands, QuiverSpacesRowsByTheColumnCount) {
  HandlerRun run("quiver([1 2 0; 3 4 1], [1 1 0; 1 -1 2]);");
  ASSERT_EQ(run.status, kOk) << run.output;
  EXPECT_DOUBLE_EQ(run.s().xMin, 0);
  EXPECT_DOUBLE_EQ(run.s().xMax, 4);
  EXPECT_DOUBLE_EQ(run.s().yMin, 0.5);
  EXPECT_DOUBLE_EQ(run.s().yMax, 2.5);
  // The first shaft: {1, -1, -1, bits, colour, 5, 2, x0, x1, y0, y1}; the
  // longest arrow (4, -1) is 0.9 x 0.5 long.
  const Doubles r = run.records();
  ASSERT_GE(r.size(), 11u);
  const double tip = 1 + 0.45 / std::sqrt(17.0);
  EXPECT_DOUBLE_EQ(r[7], 1);
  EXPECT_DOUBLE_EQ(r[8], tip);
  EXPECT_DOUBLE_EQ(r[9], 1);
  EXPECT_DOUBLE_EQ(r[10], tip);
  EXPECT_NEAR(tip, 1.109, 1e-3);
}

// Text where a command wants numbers is "Wrong type", and nothing is drawn
// or set; the engine's second chance (the character codes in its place)
// must not draw 'abc' as [97 98 99]. The same values as numbers, or as
// integers, still pass.
TEST(PlotHandlerCommands, TextWhereNumbersAreWantedIsAWrongType) {
  const char* refused[] = {
      "daspect('abc');",
      "scalefactor('ab');",
      "material('a');",
      "lightangle('ab', [1 2]);",
      "lightangle([1 2], 'ab');",
      "lightangle(0, 0, 'abc');",
      "polar('ab', [1 2]);",
      "polar([1 2], 'ab', 'r');",
      "plotpoly('abc', 1:3, 1:3, [1 2 3]);",
      "plotpoly(1:3, 1:3, 'abc', 'strip');",
      "mesh('abcd');",
      "surf('ab', 3, 'b');",
      "pcolor('abc');",
      "pcolor(1:3, [1; 2], 'abcdef');",
  };
  for (const char* body : refused) {
    HandlerRun run(std::string("daspect([1 2 4]); ") + body + " disp(1)");
    EXPECT_EQ(run.status, kWrongType) << body << "\n" << run.output;
    EXPECT_EQ(run.output.rfind("Wrong type", 0), 0u) << body << "\n" << run.output;
    EXPECT_TRUE(run.records().empty()) << body;
  }
  HandlerRun aspect("daspect('abc');");
  EXPECT_NE(aspect.s().aspect[0], 97.0);
  for (const char* body : {"daspect(double('abc')); disp(daspect)", "daspect(int8([97 98 99])); disp(daspect)"}) {
    HandlerRun run(body);
    EXPECT_EQ(run.status, kOk) << body << "\n" << run.output;
    EXPECT_EQ(run.output, "    97    98    99\n") << body;
  }
}

// A graphics built-in in a variable, called with parentheses as a statement,
// draws what the plain call draws, or reports its error as feval does (with
// the caller's line), at both optimisation levels.
TEST(PlotHandlerCommands, FunctionValuesCalledAsStatementsDraw) {
  const struct {
    const char* through_value;
    const char* plain;
  } cases[] = {
      {"h = @plot; h(1:3);", "plot(1:3);"},
      {"h = @plot; h(1:3)", "plot(1:3)"},
      {"h = @plot; h([1 2; 3 4], 'r');", "plot([1 2; 3 4], 'r');"},
      {"h = @zgrid; h(0.5, 2); plotroots([1 -0.5 0.3]);", "zgrid(0.5, 2); plotroots([1 -0.5 0.3]);"},
      {"c = {@bar}; c{1}([3 1 2]);", "bar([3 1 2]);"},
      {"s.f = @circle; s.f(0, 0, [1 2]);", "circle(0, 0, [1 2]);"},
      {"h = @plot; h(1:3, 'q');", "feval(@plot, 1:3, 'q');"},
      {"h = @daspect; h([1 1 2]); disp(daspect)", "daspect([1 1 2]); disp(daspect)"},
  };
  for (int32_t level : {0, 4}) {
    for (const auto& c : cases) {
      HandlerRun want(c.plain, level), got(c.through_value, level);
      EXPECT_EQ(got.status, want.status) << c.through_value << " at level " << level << "\n" << got.output;
      EXPECT_EQ(got.output, want.output) << c.through_value << " at level " << level;
      EXPECT_EQ(got.records(), want.records()) << c.through_value << " at level " << level;
      EXPECT_DOUBLE_EQ(got.s().xMax, want.s().xMax) << c.through_value << " at level " << level;
    }
  }
  HandlerRun drawn("h = @plot; h(1:3);");
  EXPECT_FALSE(drawn.records().empty());
}

}  // namespace
