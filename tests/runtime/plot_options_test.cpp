// daspect, plotoption, scalefactor, label, title, lightangle, material and
// sensor3 run from ZVR code in an instance's drawing context: the subplot
// fields each sets, the records the last three write, the errors that
// change nothing, the room each asks for and the failure sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "graphics/subplot/plot_options.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;

Doubles rec(double code, double id, double index, Doubles data) {
  Doubles r{code, id, index, 0, 0, double(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
Doubles cat(std::initializer_list<Doubles> parts) {
  Doubles all;
  for (const Doubles& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct PlotOptions : DrawingCommands {
  // The 1 x 3 row a ZVR expression gives.
  Doubles row(const std::string& expr) {
    if (run("r_ = " + expr + ";\n") != kOk || push_variable("r_") != kOk) return {};
    int32_t rows = 0, cols = 0;
    double* re = nullptr;
    double* im = nullptr;
    Doubles out;
    if (stk_get_matrix(c(), 0, &rows, &cols, &re, &im) == kOk) out.assign(re, re + int64_t(rows) * cols);
    if (rows != 1) out.push_back(-999);
    stk_drop(c());
    return out;
  }
  std::string label(const char* field, int bytes) { return std::string(field, strnlen(field, size_t(bytes))); }
};

TEST_F(PlotOptions, PlotoptionKeywords) {
  struct Case {
    const char* text;
    uint32_t mask, value;
  };
  const Case cases[] = {
      {"frame", 0x8000, 0x8000},       {"noframe", 0x8000, 0},
      {"label", 0x10000, 0x10000},     {"nolabel", 0x10000, 0},
      {"legend", 0x20000, 0x20000},    {"nolegend", 0x20000, 0},
      {"xgrid", 4, 4},                 {"noxgrid", 4, 0},
      {"ygrid", 64, 64},               {"noygrid", 64, 0},
      {"xygrid", 68, 68},              {"noxygrid", 68, 0},
      {"trlegend", 0xC0000, 0},        {"tllegend", 0xC0000, 0x40000},
      {"brlegend", 0xC0000, 0x80000},  {"bllegend", 0xC0000, 0xC0000},
      {"grid", 0x7000, 0x2000},        {"nogrid", 0x7000, 0x1000},
      {"fullgrid", 0x7000, 0x4000},
  };
  for (uint32_t start : {0u, 0xFFFFFFFFu ^ 0x100000u, uint32_t(kOptDefault)}) {
    for (const Case& c : cases) {
      s().optionFlags = start;
      s().gridFixed = 0;
      ASSERT_EQ(run(std::string("plotoption('") + c.text + "');\n"), kOk) << c.text;
      EXPECT_EQ(s().optionFlags, (start & ~c.mask) | c.value) << c.text << " from " << start;
      EXPECT_EQ(s().gridFixed, (c.mask & 0x7000) ? 1 : 0) << c.text;
    }
  }
  // fullgrid after grid keeps the full grid alone.
  ASSERT_EQ(run("plotoption('grid'); plotoption('fullgrid');\n"), kOk);
  EXPECT_EQ(s().optionFlags & 0x7000, 0x4000u);
  s().viewFlags = kViewAutoAll;
  ASSERT_EQ(run("plotoption('fill3d');\n"), kOk);
  EXPECT_EQ(s().viewFlags, kViewAutoAll | kViewFill);
  ASSERT_EQ(run("plotoption('nofill3d');\n"), kOk);
  EXPECT_EQ(s().viewFlags, kViewAutoAll);
}

TEST_F(PlotOptions, PlotoptionRefusalsAndFrozen) {
  s().optionFlags = kOptDefault;
  for (const char* text : {"nofullgrid", "notrlegend", "nobllegend", "Frame", "frames", "no", "", "tr", "grid "}) {
    EXPECT_EQ(run(std::string("plotoption('") + text + "');\n"), kUnknownOption) << text;
    EXPECT_EQ(s().optionFlags, kOptDefault) << text;
  }
  EXPECT_EQ(run("plotoption(1);\n"), kWrongArgType);
  s().frozen = 1;
  EXPECT_EQ(run("plotoption('whatever'); plotoption('noframe');\n"), kOk);
  EXPECT_EQ(s().optionFlags, kOptDefault);
}

// The margin bit, set or cleared, lays the frame out again inside the
// rectangle; the frame bit does the same.
TEST_F(PlotOptions, MarginReappliesTheRectangle) {
  s().optionFlags = kOptDefault & ~kOptMargin;
  subplot_set_rect(&s(), 0, 400, 0, 300);
  subplot_set_margins(&s(), 5, 0.5, 1.5, 1.5);
  EXPECT_EQ(s().frameLeft, 0);
  ASSERT_EQ(run("plotoption('margin');\n"), kOk);
  EXPECT_EQ(s().frameLeft, 5 * s().charWidth);
  EXPECT_EQ(s().frameRight, 400 - 0.5 * s().charWidth);
  EXPECT_EQ(s().frameTop, 1.5 * s().lineHeight);
  ASSERT_EQ(run("plotoption('nomargin');\n"), kOk);
  EXPECT_EQ(s().frameLeft, 0);
  EXPECT_EQ(s().frameRight, 400);
}

TEST_F(PlotOptions, DaspectAndScalefactor) {
  ASSERT_EQ(run("daspect([1 1 2]);\n"), kOk);
  EXPECT_EQ(s().aspectAuto, 0);
  EXPECT_EQ(row("daspect"), (Doubles{1, 1, 2}));
  EXPECT_EQ(row("daspect([1 2 4])"), (Doubles{1, 2, 4}));
  ASSERT_EQ(run("daspect([]);\n"), kOk);
  EXPECT_EQ(s().aspectAuto, 1);
  // Automatic: the computed ratios of the limits.
  ASSERT_EQ(run("plot3([0 10], [0 10], [0 20]);\n"), kOk);
  EXPECT_EQ(row("daspect"), (Doubles{1, 1, 2}));
  EXPECT_EQ(run("daspect(1:2);\n"), kBadSize);
  EXPECT_EQ(run("daspect(1:4);\n"), kBadSize);
  EXPECT_EQ(run("daspect({1});\n"), kWrongArgType);
  EXPECT_EQ(run("daspect([1 1 1i]);\n"), kWrongArgType);
  EXPECT_EQ(s().aspectAuto, 1);

  const std::pair<const char*, Doubles> factors[] = {
      {"2", {2, 2, 2}}, {"[2 3]", {2, 2, 3}}, {"[2 3 4]", {2, 3, 4}}, {"[4; 5; 6]", {4, 5, 6}}};
  for (const auto& [arg, want] : factors) {
    ASSERT_EQ(run(std::string("scalefactor(") + arg + ");\n"), kOk) << arg;
    EXPECT_EQ(Doubles(s().scaleFactor, s().scaleFactor + 3), want) << arg;
    EXPECT_EQ(row("scalefactor"), want) << arg;
  }
  EXPECT_EQ(row("scalefactor(7)"), (Doubles{7, 7, 7}));
  for (const char* bad : {"[]", "1:4"}) EXPECT_EQ(run(std::string("scalefactor(") + bad + ");\n"), kBadSize) << bad;
  EXPECT_EQ(run("scalefactor({2});\n"), kWrongArgType);
  EXPECT_EQ(Doubles(s().scaleFactor, s().scaleFactor + 3), (Doubles{7, 7, 7}));
}

// Every output count: a request gives the row, a statement without an
// argument gives it to display, one with an argument the no-value item.
TEST_F(PlotOptions, QueriesAtEveryOutputCount) {
  ASSERT_EQ(run("v_ = [1 2 3];\n"), kOk);
  for (const char* name : {"daspect", "scalefactor"}) {
    const BuiltinFn fn = engine_row(name);
    const int before = stk_item_count(c());
    ASSERT_EQ(lib_call_builtin(c(), fn, 0, 0), kOk) << name;
    EXPECT_EQ(stk_item_count(c()), before);
    for (int nout : {1, -1}) {
      ASSERT_EQ(lib_call_builtin(c(), fn, 0, nout), kOk) << name;
      ASSERT_EQ(stk_item_count(c()), before + 1);
      int32_t rows = 0, cols = 0;
      EXPECT_EQ(stk_get_matrix(c(), 0, &rows, &cols, nullptr, nullptr), kOk);
      EXPECT_EQ(rows * 10 + cols, 13);
      stk_drop(c());
    }
    ASSERT_EQ(push_variable("v_"), kOk);
    ASSERT_EQ(lib_call_builtin(c(), fn, 1, -1), kOk);
    ASSERT_EQ(stk_item_count(c()), before + 1);
    EXPECT_EQ(desc_at(c(), 0)[0], uint32_t(kKindNoValue));
    stk_drop(c());
    ASSERT_EQ(push_variable("v_"), kOk);
    ASSERT_EQ(lib_call_builtin(c(), fn, 1, 0), kOk);
    EXPECT_EQ(stk_item_count(c()), before);
  }
}

TEST_F(PlotOptions, LabelsAndTitle) {
  ASSERT_EQ(run("label('x', 'y', 'z');\n"), kOk);
  ASSERT_EQ(run("label('time');\n"), kOk);
  EXPECT_EQ(label(s().xLabel, 16), "time");
  EXPECT_EQ(label(s().yLabel, 16), "y");
  EXPECT_EQ(label(s().zLabel, 16), "z");
  // Fewer than three arguments keep the z label.
  ASSERT_EQ(run("label('a', 'a label of twenty chars');\n"), kOk);
  EXPECT_EQ(label(s().yLabel, 16), "a label of twent");
  EXPECT_EQ(label(s().zLabel, 16), "z");
  ASSERT_EQ(run("label('a', 'b', '');\n"), kOk);
  EXPECT_EQ(label(s().zLabel, 16), "");
  EXPECT_EQ(run("label('a', 2);\n"), kWrongArgType);
  EXPECT_EQ(label(s().xLabel, 16), "a");
  const std::string seventy(70, 'T');
  ASSERT_EQ(run("title('" + seventy + "');\n"), kOk);
  EXPECT_EQ(label(s().title, 64), seventy.substr(0, 64));
  ASSERT_EQ(run("title('');\n"), kOk);
  EXPECT_EQ(label(s().title, 64), "");
  EXPECT_EQ(run("title(3);\n"), kWrongArgType);
}

TEST_F(PlotOptions, LightsAndMaterial) {
  const double c1 = std::cos(1.0), s1 = std::sin(1.0), ch = std::cos(0.5), sh = std::sin(0.5);
  const std::pair<const char*, Doubles> cases[] = {
      {"lightangle([0 1], [0 0], [0.5 0.25 1])",
       rec(17, -1, -1, {1, 0, 0, 0.5, 0.25, 1, c1, s1, 0, 0.5, 0.25, 1})},
      {"lightangle([0 1], [0 0.5], [0.5 0.25 1; 0 1 0])",
       rec(17, -1, -1, {1, 0, 0, 0.5, 0.25, 1, c1 * ch, s1 * ch, sh, 0, 1, 0})},
      {"lightangle(0, pi / 2)", rec(17, -1, -1, {std::cos(M_PI / 2), 0, 1, 1, 1, 1})},
      {"lightangle(1, 0, [])", rec(17, -1, -1, {c1, s1, 0, 1, 1, 1})},
      {"lightangle([], [])", rec(17, -1, -1, {})},
      {"material(0.5)", rec(16, -1, -1, {0.5, 0.8, 1.0, 3.0, 1.0})},
      {"material([0.1 0.2 0.3 0.4 0.5])", rec(16, -1, -1, {0.1, 0.2, 0.3, 0.4, 0.5})},
      {"material([0.1; 0.2])", rec(16, -1, -1, {0.1, 0.2, 1.0, 3.0, 1.0})},
  };
  for (const auto& [code, want] : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
    EXPECT_EQ(records(), want) << code;
  }
  const std::pair<const char*, int> errors[] = {
      {"lightangle(0, 0, [1 1])", kBadSize},
      {"lightangle(0, 0, [1 1 1.5])", kArgOutOfRange},
      {"lightangle(0, 0, [1 1 NaN])", kArgOutOfRange},
      {"lightangle([0 1 2], [0 1 2], [1 1 1; 0 0 0])", kIncompatibleSize},
      {"lightangle([0 1], [0 1 2])", kIncompatibleSize},
      {"lightangle('a', 0, {1})", kWrongArgType},
      {"lightangle({0}, 0)", kWrongArgType},
      {"material([])", kBadSize},
      {"material(1:6)", kBadSize},
      {"material({1})", kWrongArgType},
  };
  for (const auto& [code, status] : errors) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
}

TEST_F(PlotOptions, Sensors) {
  const std::pair<const char*, Doubles> cases[] = {
      {"sensor3('p', [1 0 0 0 1 0], 5)", rec(18, 5, 0, {112, 3, 1, 0, 0, 0, 1, 0})},
      {"sensor3('sphere', [1; 2; 3], 6)", rec(18, 6, 0, {115, 3, 1, 2, 3})},
      {"sensor3('s', [1 2 3], 'p', 1:6, 7)",
       cat({rec(18, 7, 0, {115, 1, 1, 2, 3}), rec(18, 7, 0, {112, 2, 1, 2, 3, 4, 5, 6})})},
  };
  for (const auto& [code, want] : cases) {
    used() = 0;
    host.block->h.user.status = 0;
    ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
    EXPECT_EQ(records(), want) << code;
    EXPECT_EQ(host.block->h.user.status & kCallLayoutChanged, 0) << code;  // nothing drawn changed
  }
  host.block->h.user.status = 0;
  ASSERT_EQ(run("material(1);\n"), kOk);
  EXPECT_NE(host.block->h.user.status & kCallLayoutChanged, 0);
  const std::pair<const char*, int> errors[] = {
      {"sensor3('p', 1:3, 5)", kBadSize},
      {"sensor3('s', 1:6, 5)", kBadSize},
      {"sensor3('q', 1:3, 5)", kUnknownOption},
      {"sensor3('', 1:3, 5)", kUnknownOption},
      {"sensor3('s', 1:3, 1.5)", kWrongArgType},
      {"sensor3(1, 1:3, 1)", kWrongArgType},
      {"sensor3('s', 1:3, 's', 1:3)", kWrongArgType},
  };
  for (const auto& [code, status] : errors) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  // A second part refused: the first part's record (and the opening) stay.
  used() = 0;
  EXPECT_EQ(run("sensor3('s', [1 2 3], 'p', 1:3, 7);\n"), kBadSize);
  EXPECT_EQ(records(), rec(18, 7, 0, {115, 1, 1, 2, 3}));
}

// Each record writer at its room and one double less: lightangle asks for
// 18 free doubles or its record, material for 18, sensor3 for its values
// and 9; the opening record of an empty list counts too.
TEST_F(PlotOptions, RoomAndOneLess) {
  const std::pair<const char*, int32_t> cases[] = {
      {"lightangle(0, 0)", 18},           {"lightangle([0 1 2], [0 0 0])", 24},
      {"lightangle([], [], [])", 18},     {"material(0.5)", 18},
      {"sensor3('s', [1 2 3], 1)", 12},   {"sensor3('p', 1:6, 1)", 15},
  };
  for (const auto& [code, room] : cases)
    for (int32_t before : {0, 7})
      for (int32_t less : {0, 1}) {
        host.block->h.build.capacity = full_capacity;
        used() = 0;
        if (before) {
          ASSERT_EQ(run("scale([0 1]);\n"), kOk);
        }
        host.block->h.build.capacity = before + room + (before ? 0 : kOpenObjectLength) - less;
        const int status = run(std::string(code) + ";\n");
        if (less == 0) {
          EXPECT_EQ(status, kOk) << code;
        } else {
          EXPECT_EQ(status, kPlotOverflow) << code << " before " << before;
          EXPECT_EQ(used(), before) << code;
        }
      }
}

TEST_F(PlotOptions, RowsAreBound) {
  for (const char* name :
       {"daspect", "plotoption", "scalefactor", "label", "title", "lightangle", "material", "sensor3"})
    EXPECT_NE(engine_row(name), builtin_not_supported) << name;
}

TEST_F(PlotOptions, EveryCommandPassesTheFailureSweep) {
  ASSERT_EQ(run("a_ = [1 1 2]; e_ = []; f_ = [2 3]; k_ = 'frame'; t_ = 'a title'; x_ = 'x'; y_ = 'y';\n"
                "az_ = [0 1]; el_ = [0 0.5]; c_ = [1 1 1; 0 0 1]; m_ = 0.5; p_ = 'p'; s_ = 's';\n"
                "pv_ = 1:6; sv_ = [1 2 3]; i_ = 4;\n"),
            kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
    std::vector<int> outs;
  } cases[] = {
      {"daspect", {}, {0, -1, 1}},
      {"daspect", {"a_"}, {0, -1, 1}},
      {"daspect", {"e_"}, {0, -1, 1}},
      {"scalefactor", {}, {0, -1, 1}},
      {"scalefactor", {"f_"}, {0, -1, 1}},
      {"plotoption", {"k_"}, {0, -1}},
      {"label", {"x_"}, {0, -1}},
      {"label", {"x_", "y_", "x_"}, {0, -1}},
      {"title", {"t_"}, {0, -1}},
      {"lightangle", {"az_", "el_"}, {0, -1}},
      {"lightangle", {"az_", "el_", "c_"}, {0, -1}},
      {"material", {"m_"}, {0, -1}},
      {"sensor3", {"p_", "pv_", "i_"}, {0, -1}},
      {"sensor3", {"s_", "sv_", "p_", "pv_", "i_"}, {0, -1}},
  };
  for (const auto& k : cases)
    for (int nout : k.outs)
      EXPECT_TRUE(sweep_call(k.name, k.inputs, nout, true)) << k.name << " " << k.inputs.size() << " " << nout;
}

}  // namespace
