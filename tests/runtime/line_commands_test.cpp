// The line plot commands run from ZVR code in an instance's drawing
// context: the records each writes (checked field by field against a model
// of the expected list), the errors that write nothing, and the room rule:
// a list with exactly the room needed takes the records, one double less
// gives "Plot memory overflow" with the list untouched, with and without
// the opening record.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "engine/lib/builtin_tables.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
struct Commands : DrawingCommands {};

// Header of a record: code, id, index, style bits, colour, n.
Doubles rec(double code, double id, double index, double bits, double colour, Doubles data) {
  Doubles r{code, id, index, bits, colour, double(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
Doubles cat(std::initializer_list<Doubles> parts) {
  Doubles all;
  for (const Doubles& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(Commands, RecordsOfEachCommand) {
  const double red = pack_colour(255, 0, 0);
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      {"plot([1 2 3 4 5; 6 7 8 9 10; 11 12 13 14 15])",
       cat({rec(1, -1, 1, 8, 0, {5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5}), rec(1, -1, 2, 8, 0, {5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
            rec(1, -1, 3, 8, 0, {5, 1, 2, 3, 4, 5, 11, 12, 13, 14, 15})})},
      {"plot(1:5, [1 2 3 4 5; 6 7 8 9 10; 11 12 13 14 15])",
       cat({rec(1, -1, 1, 8, 0, {5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5}), rec(1, -1, 2, 8, 0, {5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
            rec(1, -1, 3, 8, 0, {5, 1, 2, 3, 4, 5, 11, 12, 13, 14, 15})})},
      {"plot([0 1 2], [5 6 7; 8 9 10])",
       cat({rec(1, -1, 1, 8, 0, {3, 0, 1, 2, 5, 6, 7}), rec(1, -1, 2, 8, 0, {3, 0, 1, 2, 8, 9, 10})})},
      {"plot([0 1 2], [5 6 7], 'r', 42)", rec(1, 42, 1, 4, red, {3, 0, 1, 2, 5, 6, 7})},
      {"plot(zeros(2, 0))", {}},  // the engine's empties have no rows: only the object is opened
      {"plot3([1 2], [3 4], [5 6])", rec(13, -1, 1, 8, 0, {2, 1, 2, 3, 4, 5, 6})},
      {"line([1 2; 3 4], [5; 6])", cat({rec(4, -1, 1, 8, 0, {1, 2, 5}), rec(4, -1, 2, 8, 0, {3, 4, 6})})},
      {"line([1 2], 5, 'r', 7)", rec(4, 7, 1, 4, red, {1, 2, 5})},
      {"line3([1 2 3], 4)", rec(14, -1, 1, 8, 0, {1, 2, 3, 4, 0, 0, 0, 0})},
      {"line3([1 2 3; 4 5 6], [7; 8])", rec(14, -1, 1, 8, 0, {1, 2, 3, 7, 4, 5, 6, 8})},
      {"circle(0, 0, [1 2 3])", rec(5, -1, -1, 8, 0, {3, 0, 0, 0, 0, 0, 0, 1, 2, 3})},
      {"circle([1 2], 0, 1, 'r,g', 9)",
       cat({rec(5, 9, 1, 4, red, {1, 1, 0, 1}), rec(5, 9, 2, 2, pack_colour(0, 255, 0), {1, 2, 0, 1})})},
      {"activeregion(0, 2, 1, 3, 5)", rec(12, 5, -1, 0, 0, {4, 0, 2, 2, 0, 1, 1, 3, 3})},
      {"activeregion([0 1 1], [0 0 1], 6)", rec(12, 6, -1, 0, 0, {3, 0, 1, 1, 0, 0, 1})},
      // Bands last column first, stacked by running sums, closed to the base.
      {"area([1 2; 3 4])", cat({rec(1, -1, 2, 0x20 | 1, 0, {4, 1, 1, 2, 2, 0, 3, 7, 0}),
                                rec(1, -1, 1, 0x20 | 4, 0, {4, 1, 1, 2, 2, 0, 1, 3, 0})})},
      {"area([1; 2], [5; 6], 1, 'r')", rec(1, -1, 1, 0x20 | 4, red, {4, 1, 1, 2, 2, 1, 5, 6, 1})},
      {"area(99, [1; 2], [5; 6], 1)", rec(1, -1, 1, 0x20 | 1, 0, {4, 1, 1, 2, 2, 1, 5, 6, 1})},
      {"bar([3 4])", rec(7, -1, 1, 0x20 | 1, 0, {0, 0.8, 2, 1, 2, 3, 4})},
      {"barh([10 20], [3 4])", rec(7, -1, 1, 0x20 | 1, 0, {1, 8, 2, 10, 20, 3, 4})},
      {"bar([1 2; 3 4], 'stacked')",
       cat({rec(7, -1, 1, 0x20 | 4, 0, {0, 0.8, 2, 1, 2, 4, 6}), rec(7, -1, 2, 0x20 | 1, 0, {0, 0.8, 2, 1, 2, 1, 2})})},
      {"bar([0 0; 3 4], 'i')", rec(7, -1, 1, 0x20 | 1, 0, {2, 0.8, 2, 1, 2, 3, 4, 0, 0})},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(records(), c.want) << c.code;
    EXPECT_EQ(list()[0], kCodeOpenObject) << c.code;
  }
}

TEST_F(Commands, PolarWritesCartesianPointsAndMarksThePolarSubplot) {
  ASSERT_EQ(run("polar([0 pi/2], [2 3], 'r');\n"), kOk);
  const Doubles r = records();
  ASSERT_EQ(r.size(), 6u + 5u);
  EXPECT_EQ(r[3], 4);  // the style string's colour index
  EXPECT_NEAR(r[7], 2, 1e-12);
  EXPECT_NEAR(r[8], 0, 1e-12);
  EXPECT_NEAR(r[10], 3, 1e-12);
  EXPECT_EQ(s().polar, 1);
  EXPECT_TRUE(s().scaleFlags & kScaleEqualAspect);
}

TEST_F(Commands, StaircaseHas2mMinus1Points) {
  // Find a style letter with the stairs bit from the parsed styles themselves.
  ASSERT_EQ(run("plot([1 2 3], [4 5 6], 's');\n"), kOk);
  const Doubles r = records();
  ASSERT_GE(r.size(), 7u);
  if (!(uint32_t(r[3]) & 0x800)) GTEST_SKIP() << "no stairs letter";
  EXPECT_EQ(r, rec(1, -1, 1, r[3], r[4], {5, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6}));
}

TEST_F(Commands, ErrorsWriteNothing) {
  const std::pair<const char*, int> cases[] = {
      {"plot([1 2; 3 4], [1 2 3; 4 5 6; 7 8 9])", kIncompatibleSize},
      {"plot([1 2 3; 4 5 6], [1 2 3; 4 5 6; 7 8 9])", kIncompatibleSize},
      {"plot(1, 2, 3)", kWrongType},
      {"plot(1, 'r', 1, 2)", kWrongType},
      {"line([1 2 3], 4)", kBadSize},
      {"line([1 2], [4 5])", kBadSize},
      {"line([1 2; 3 4; 5 6], [1; 2])", kIncompatibleSize},
      {"line([1 2], 4, 'r', [1 2])", kBadArgument},
      {"line3([1 2 3; 4 5 6; 7 8 9], [1; 2; 3])", kBadSize},
      {"circle([1 2], [1 2 3], 1)", kIncompatibleSize},
      {"circle(1, 1, 1, 'r', [1 2])", kBadArgument},
      {"activeregion(1, 2, 3, 4)", kTooFewInputs},
      {"activeregion([1 2], [1 2 3], 4)", kIncompatibleSize},
      {"polar([1 2], [1 2 3])", kIncompatibleSize},
      {"area('r', 1)", kBadArgument},
      {"area([1 2; 3 4], [1 2 3; 4 5 6])", kIncompatibleSize},
      {"bar([1 2], 'x')", kUnknownOption},
      {"bar([1 2; 3 4; 5 6], 'i')", kBadSize},
      {"bar([1 2 3], [1 2])", kIncompatibleSize},
      {"bar([1 2], [1 2], [1 2 3])", kBadSize},
      {"bar([1 2], 'g', 'r', 'b')", kBadArgument},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
}

// Exact room takes the records; one double less gives 10001, nothing written.
TEST_F(Commands, ExactRoomAndOneLess) {
  const char* codes[] = {
      "plot([1 2 3 4 5; 6 7 8 9 10; 11 12 13 14 15])", "plot(zeros(3, 0))", "plot3([1 2], [3 4], [5 6])",
      "polar([0 1; 2 3], [1 1; 2 2])",  "line([1 2; 3 4], [5; 6])", "line3([1 2 3; 4 5 6], [7; 8])",
      "circle(0, 0, [1 2 3])",          "circle([1 2], 0, 1, 'r,g')", "activeregion(0, 2, 1, 3, 5)",
      "activeregion([0 1 1], [0 0 1], 6)", "area([1 2; 3 4])", "bar([1 2; 3 4], 'stacked')",
      "bar([1 2; 3 4], 'i')", "barh([1 2 3])",
  };
  for (const char* code : codes)
    for (int32_t before : {0, 7}) {
      // Measure the records on a roomy list, starting with `before` used.
      host.block->h.build.capacity = full_capacity;
      used() = 0;
      if (before) {
        ASSERT_EQ(run("scale([0 1]);\n"), kOk);
      }
      ASSERT_EQ(used(), before);
      ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
      const int32_t need = used();
      const Doubles want = list();
      for (int32_t less : {0, 1}) {
        used() = 0;
        host.block->h.build.capacity = full_capacity;
      if (before) {
        ASSERT_EQ(run("scale([0 1]);\n"), kOk);
      }
        host.block->h.build.capacity = need - less;
        const int status = run(std::string(code) + ";\n");
        if (less == 0) {
          EXPECT_EQ(status, kOk) << code;
          EXPECT_EQ(list(), want) << code;
        } else {
          EXPECT_EQ(status, kPlotOverflow) << code << " before " << before;
          EXPECT_EQ(used(), before) << code;
        }
      }
    }
}

TEST_F(Commands, CirclesWidenTheLimitsByTheirSquares) {
  ASSERT_EQ(run("circle([0 4], [0 1], [1 2]);\n"), kOk);
  EXPECT_EQ(s().xMin, -1);
  EXPECT_EQ(s().xMax, 6);
  EXPECT_EQ(s().yMin, -1);
  EXPECT_EQ(s().yMax, 3);
}

}  // namespace

namespace {

TEST_F(Commands, WithoutACurrentSubplotNothingIsWritten) {
  host.block->h.build.subplot = -1;
  EXPECT_EQ(run("plot(1:3);\n"), kBadContext);
  EXPECT_EQ(run("circle(0, 0, 1);\n"), kBadContext);
  EXPECT_EQ(used(), 0);
}

TEST_F(Commands, FirstrunIsTheFigureOnlyByte) {
  ASSERT_EQ(run("a = firstrun;\n"), kOk);
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  rec->figure_only = 1;
  EXPECT_EQ(run("if ~firstrun, error('x'); end\n"), kOk);
  rec->figure_only = 0;
  EXPECT_EQ(run("if firstrun, error('x'); end\n"), kOk);
}

}  // namespace

namespace {

TEST_F(Commands, SubplotSelectsTheCellAndSetsTheGrid) {
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  for (const char* code : {"subplot(221);\n", "subplot('221');\n", "subplot(2, 2, 1);\n"}) {
    used() = 0;
    ASSERT_EQ(run(code), kOk) << code;
    rec = inst_find_by_id(host.block, 0);
    EXPECT_EQ(rec->rows, 2) << code;
    EXPECT_EQ(rec->cols, 2) << code;
    EXPECT_EQ(host.block->h.build.subplot, 0) << code;
    EXPECT_EQ(list(), (Doubles{kCodeOpenObject, -1, -1, 0, 0, 1, 0})) << code;
  }
  ASSERT_EQ(run("subplot(224); plot(1:2);\n"), kOk);
  EXPECT_EQ(host.block->h.build.subplot, 3);
  // A new grid clears the axes and keeps the cells it laid out in the
  // figure's frame, for code after it in the same run.
  // A cell laid out without the margin option gets it back with its plot
  // frame inside the margins.
  ASSERT_EQ(run("subplot(221); plot(1:2);\n"), kOk);
  rec = inst_find_by_id(host.block, 0);
  rec->subplots[0].optionFlags &= ~kOptMargin;
  rec->subplots[0].marginLeft = 2;
  subplot_set_rect(&rec->subplots[0], rec->subplots[0].rectLeft, rec->subplots[0].rectRight,
                   rec->subplots[0].rectTop, rec->subplots[0].rectBottom);
  ASSERT_EQ(run("subplot(2, 1, 2);\n"), kOk);
  rec = inst_find_by_id(host.block, 0);
  const double* f = rec->frame;
  EXPECT_DOUBLE_EQ(rec->subplots[0].frameLeft, f[0] + 2 * rec->subplots[0].charWidth);
  for (int k = 0; k < 2; ++k) {
    const Subplot& s = rec->subplots[k];
    EXPECT_EQ(s.hasContent, 0) << "cell " << k;
    EXPECT_DOUBLE_EQ(s.rectLeft, f[0]) << "cell " << k;
    EXPECT_DOUBLE_EQ(s.rectRight, f[1]) << "cell " << k;
    EXPECT_DOUBLE_EQ(s.rectTop, f[2] + k * (f[3] - f[2]) / 2) << "cell " << k;
    EXPECT_DOUBLE_EQ(s.rectBottom, f[2] + (k + 1) * (f[3] - f[2]) / 2) << "cell " << k;
  }
  const std::pair<const char*, int> bad[] = {
      {"subplot(511);\n", kBadArgument}, {"subplot(225);\n", kBadArgument}, {"subplot('2x1');\n", kBadArgument},
      {"subplot(100);\n", kBadArgument}, {"subplot(1, 2);\n", kTooManyInputs}, {"subplot(2, 2, 5);\n", kBadArgument},
  };
  for (auto [code, status] : bad) EXPECT_EQ(run(code), status) << code;
}

}  // namespace

namespace {

// Every row of the graphics sections: the commands, scale, subplot,
// firstrun and the special-variable functions hold their bodies (and run);
// every other row that still holds the placeholder answers "Not supported"
// when called with its least inputs and outputs.
TEST_F(Commands, BoundRowsAndPlaceholders) {
  const std::set<std::string> bound = {
      "plot",   "plot3",  "polar",   "area",  "line",   "line3",  "circle", "activeregion", "bar",
      "barh",   "fplot",  "scale",   "subplot", "firstrun", "_id", "_nb", "_ix", "_m", "_z", "_x", "_y",
      "_theta", "_rho",   "_z0",     "_x0",   "_y0",    "_theta0", "_rho0", "_p0", "_z1", "_x1", "_y1",
      "_theta1", "_rho1", "_p1",     "_kx",   "_ky",    "_dx",    "_dy",    "_q",
      "text",   "settabs", "legend", "fontset", "slider", "pushbutton", "button", "popupmenu", "textfield",
      "bodemag", "bodephase",
      "dbodemag", "dbodephase", "sigma", "dsigma", "step", "dstep", "impulse", "dimpulse", "responseset", "zgrid",
      "sgrid", "hgrid", "ngrid", "plotroots", "initial", "dinitial", "lsim", "dlsim",
      "nyquist", "dnyquist", "nichols", "dnichols", "rlocus", "hstep",
      "plotpoly", "mesh", "surf", "daspect", "plotoption", "scalefactor", "label", "title", "lightangle",
      "material", "sensor3"};
  for (const char* code : {"plot(1);\n", "plot3(1, 2, 3);\n", "polar(1, 1);\n", "area(1);\n", "line([1 1], 1);\n",
                           "line3([1 1 1], 1);\n", "circle(0, 0, 1);\n", "activeregion(0, 1, 0, 1, 1);\n",
                           "bar(1);\n", "barh(1);\n", "fplot(@sin);\n", "scale([0 1]);\n", "subplot(111);\n",
                           "a = firstrun;\n", "a = _x;\n", "_q\n", "text('a');\n",
                           "settabs(1);\n", "legend('a');\n", "f = fontset;\n",
                           "slider('a', 1, [0 2]);\n", "pushbutton('a');\n", "button('a', 1);\n",
                           "popupmenu('a', {'x'}, 1);\n", "textfield('a', '', 1);\n",
                           "plotpoly([0 1 0], [0 0 1], [0 0 0], 'fan');\n", "mesh(eye(2));\n", "surf(eye(2));\n",
                           "a = daspect;\n", "plotoption('frame');\n", "a = scalefactor;\n", "label('x');\n",
                           "title('t');\n", "lightangle(0, 0);\n", "material(1);\n", "sensor3('s', [0 0 0], 1);\n"})
    EXPECT_EQ(run(code), kOk) << code;
  std::set<std::string> seen;
  int placeholders = 0;
  for (int i = 0; i < kEngineTableRows; ++i) {
    const BuiltinEntry& row = g_builtin_table_engine[i];
    if (std::string(builtin_row_section(g_builtin_table_engine, i)) != "!Tarnivel" || !row.fn ||
        row.name[0] == '+' || row.name[0] == '!')
      continue;
    if (bound.count(row.name)) {
      seen.insert(row.name);
      EXPECT_NE(row.fn, builtin_not_supported) << row.name;
      continue;
    }
    if (row.fn != builtin_not_supported) continue;  // built by another part of the runtime
    std::string call = std::string(row.name) + "(";
    for (int k = 0; k < row.min_in; ++k) call += k ? ", 1" : "1";
    call += ")";
    if (row.min_out == 1) call = "a = " + call;
    EXPECT_EQ(run(call + ";\n"), kNotSupported) << call;
    ++placeholders;
  }
  EXPECT_EQ(seen, bound);
  EXPECT_EQ(placeholders, 0);  // every row of the section is built
}

}  // namespace

namespace {

// Each command under the failure sweep, as a call and as a statement (which
// pushes the no-value item): a failure leaves its inputs as they were.
TEST_F(Commands, EveryCommandPassesTheFailureSweep) {
  ASSERT_EQ(run("x_ = [0 1 2]; y_ = [1 2 3; 4 5 6]; s_ = 'r,g'; i_ = 3; a_ = [1 2; 3 4]; b_ = [5; 6];\n"
                "a3_ = [1 2 3; 4 5 6]; r_ = [1 2 3]; k_ = 'stacked'; l_ = [0 1]; n_ = 111; e_ = [1 2];\n"),
            kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
  } cases[] = {
      {"plot", {"x_", "y_", "s_", "i_"}}, {"plot", {"y_"}},          {"plot3", {"x_", "x_", "x_", "s_"}},
      {"polar", {"x_", "r_", "s_"}},      {"area", {"y_"}},          {"area", {"e_", "e_", "i_", "s_"}},
      {"line", {"a_", "b_", "s_", "i_"}}, {"line3", {"a3_", "b_"}},  {"circle", {"x_", "x_", "r_", "s_", "i_"}},
      {"circle", {"x_", "x_", "r_"}},     {"activeregion", {"x_", "r_", "i_"}},
      {"activeregion", {"i_", "i_", "i_", "i_", "i_"}},              {"bar", {"y_", "k_"}},
      {"barh", {"x_", "y_"}},             {"scale", {"l_"}},         {"subplot", {"n_"}},
  };
  for (const auto& k : cases)
    for (int nout : {0, -1})
      EXPECT_TRUE(sweep_call(k.name, k.inputs, nout)) << k.name << " " << k.inputs.size() << " " << nout;
}

}  // namespace
