// The layout and text built-ins from ZVR code run in an instance's figure
// context, at every output count: the layout text, properties, positions,
// springs, size and parameters round-trip; refusals outside a figure
// context; the instance texts; and every one of them under the failure sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/value_stack.h"
#include "runtime/fake_host.h"
#include "runtime/layout.h"
#include "runtime/runtime_status.h"
#include "runtime/tn_builtins.h"
#include "support/failure_sweep.h"
#include "tools/imagetools/image_builder.h"

namespace {

using tnbuild::Builder;

constexpr uint32_t kBytes = 4u << 20;

const char kApp[] =
    "instance demo\n"
    "title \"Demo\"\n"
    "var x\n"
    "figure \"First\"\n"
    "plot demo_plot(x)\n"
    "figure \"Second\"\n"
    "plot demo_plot2(x)\n";

struct FigureCode : ::testing::Test {
  FakeHost host;
  EngineContext* c = nullptr;
  InstanceRec* rec = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, {});
    ASSERT_TRUE(builder.build(kApp)) << builder.error;
    c = rt_engine(host.block);
    rec = inst_find_by_id(host.block, 0);
    RuntimeBlock* h = host.block;
    ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 100, 0, 50), 0);
    enter(true);
  }
  void enter(bool figure, int32_t id = 0) { host.block->h.user = CallContext{host.block, id, uint8_t(figure), 0, 0}; }
  int32_t status_bits() const { return host.block->h.user.status; }
  // Runs a command line; its status, with the frames unwound after a failure.
  int run(const std::string& code) {
    int status = exec_command_line(c, code.data(), int32_t(code.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    return status;
  }
  // What the code prints, or "error N".
  std::string out(const std::string& code) {
    host.take_output();
    const int status = run(code + "\n");
    const std::string text = host.take_output();
    return status == kOk ? text : "error " + std::to_string(status) + (getenv("TN_DEBUG_OUT") ? text : "");
  }
};

TEST_F(FigureCode, LayoutBuiltinsRefuseOutsideAFigureContext) {
  enter(false);
  const char* calls[] = {"subplots", "a = subplots", "subplots('First')", "subplotprops", "[a, b] = subplotprops",
                         "subplotpos",  "subplotsize", "[w, h] = subplotsize", "subplotspring", "subplotparam"};
  for (const char* code : calls) EXPECT_EQ(run(std::string(code) + ";\n"), kBadContext) << code;
  // The texts need an instance only.
  EXPECT_EQ(out("disp(tntitle)"), "Demo\n");
  enter(false, 77);
  EXPECT_EQ(run("tntitle;\n"), kBadContext);
  EXPECT_EQ(rec->rows, 1);
}

TEST_F(FigureCode, LayoutTextSetsTheGridAndReadsBack) {
  EXPECT_EQ(out("disp(subplots)"), "First\n");
  EXPECT_EQ(status_bits(), 0);
  // Two lines, the first with two cells: a 2 x 2 layout whose last cell is empty.
  EXPECT_EQ(out("subplots(sprintf('First\\tSecond\\nFirst'))"), "");
  EXPECT_EQ(rec->rows, 2);
  EXPECT_EQ(rec->cols, 2);
  EXPECT_EQ(rec->subplots[3].handlerWords[kSubplotFigureWord], kEmptyFigure);
  EXPECT_EQ(status_bits(), kCallLayoutChanged | kCallRedraw);
  EXPECT_EQ(out("t = subplots; fprintf('%d|', double(t))"), "70|105|114|115|116|9|83|101|99|111|110|100|10|70|105|114|115|116|9|");
  // CR LF ends one line; an unknown name takes the default figure; the
  // output is the layout as now set.
  EXPECT_EQ(out("t = subplots(sprintf('Second\\r\\nNone\\tFirst\\n')); fprintf('%d|', double(t))"),
            "83|101|99|111|110|100|9|10|9|70|105|114|115|116|");
  EXPECT_EQ(rec->subplots[2].handlerWords[kSubplotFigureWord], kDefaultFigure);
  // Empty text changes nothing, and nothing but text is taken.
  host.block->h.user.status = 0;
  EXPECT_EQ(out("subplots(''); subplots([])"), "");
  EXPECT_EQ(status_bits(), 0);
  EXPECT_EQ(out("subplots(3)"), "error " + std::to_string(kWrongArgType));
}

TEST_F(FigureCode, PropertiesRoundTripWithTheirViews) {
  ASSERT_EQ(run("subplots(sprintf('First\\tSecond'));\n"), kOk);
  rec->subplots[1].is3D = 1;
  EXPECT_EQ(out("p = subplotprops; disp(size(p)); [p, v] = subplotprops; disp(size(v)); fprintf('%g', v(1))"),
            "     2     5\n     1    17\n1");
  // Log x on subplot 0 with locked limits; a new camera for subplot 1,
  // which keeps its position once the automatic view flags are off.
  ASSERT_EQ(run("p = subplotprops; p(1, :) = [1 -1 2 -3 4]; [q, v] = subplotprops; v(2) = 0; v(5:7) = [3 4 5];"
                "subplotprops(p, v);\n"), kOk);
  EXPECT_EQ(rec->subplots[0].scaleFlags & 1u, 1u);
  EXPECT_EQ(rec->subplots[0].frozen, 1);
  EXPECT_EQ(rec->subplots[1].camPos[1], 4.0);
  EXPECT_EQ(out("[p2, v2] = subplotprops; fprintf('%d', all(all(p2 == p)) && all(all(v2 == v)))"), "1");
  // Zero limits unlock the scale again.
  ASSERT_EQ(run("p(1, 2:5) = 0; subplotprops(p);\n"), kOk);
  EXPECT_EQ(rec->subplots[0].frozen, 0);
  struct Bad { const char* code; int status; };
  const Bad bad[] = {{"subplotprops(zeros(3, 5))", kBadSize},
                     {"subplotprops(zeros(2, 4))", kBadSize},
                     {"subplotprops(p, zeros(1, 16))", kBadSize},
                     {"subplotprops(p, [2 zeros(1, 16)])", kIndexOutOfRange},
                     {"subplotprops([-1 0 0 0 0; 0 0 0 0 0])", kBadArgument},
                     {"subplotprops([0.5 0 0 0 0; 0 0 0 0 0])", kBadArgument}};
  for (const Bad& b : bad) EXPECT_EQ(run(std::string(b.code) + ";\n"), b.status) << b.code;
}

TEST_F(FigureCode, PositionsInGridStepsMakeTheLayoutFree) {
  ASSERT_EQ(run("subplots(sprintf('First\\tSecond'));\n"), kOk);
  EXPECT_EQ(out("disp(subplotpos)"), "         0      6.25         0      6.25\n"
                                     "      6.25      12.5         0      6.25\n");
  ASSERT_EQ(run("subplotpos([1 5 1 4; 5 10 2 6]);\n"), kOk);
  EXPECT_EQ(rec->free_layout, 1);
  EXPECT_EQ(rec->rows, 2);
  EXPECT_EQ(rec->subplots[1].rectRight, 80.0);
  EXPECT_EQ(rec->springs[1][4], kSpringDefault);
  EXPECT_EQ(out("p = subplotpos; fprintf('%d', all(all(p == [1 5 1 4; 5 10 2 6])))"), "1");
  EXPECT_EQ(run("subplotpos(ones(3, 4));\n"), kBadSize);
}

TEST_F(FigureCode, SpringsRoundTripAndAreChecked) {
  ASSERT_EQ(run("subplotpos([0 5 0 4]);\n"), kOk);
  ASSERT_EQ(run("subplotspring([1 1 0 0.25 0.5 0.75]);\n"), kOk);
  EXPECT_EQ(out("s = subplotspring; fprintf('%d', all(s == [1 1 0 0.25 0.5 0.75]))"), "1");
  EXPECT_EQ(run("subplotspring([1 1 0 0.25 0.5 1.5]);\n"), kBadArgument);
  EXPECT_EQ(run("subplotspring([1 1 0 0.25 0.5 NaN]);\n"), kBadArgument);
  EXPECT_EQ(run("subplotspring(ones(2, 6));\n"), kBadSize);
}

TEST_F(FigureCode, SizeInPixelsOrWholeGridSteps) {
  // The figure is 100 x 50 pixels; grid steps of 8 round up.
  EXPECT_EQ(out("[w, h] = subplotsize; fprintf('%g %g|', w, h); s = subplotsize; fprintf('%g %g', s(1), s(2))"),
            "100 50|13 7");
  EXPECT_EQ(out("subplotsize"), "ans =\n    13     7\n");
  // A design size moves free frames to the actual size by their springs.
  ASSERT_EQ(run("subplotpos([0 5 0 5]); subplotspring([0 1 1 1 1 0]);\n"), kOk);
  host.block->h.user.status = 0;
  ASSERT_EQ(run("subplotsize(100, 50);\n"), kOk);  // the size it has: nothing moves
  EXPECT_EQ(rec->subplots[0].rectRight, 40.0);
  EXPECT_EQ(status_bits(), 0);
  ASSERT_EQ(run("subplotsize([5 5]);\n"), kOk);
  // Designed for 40 x 40: the soft left margin takes the 60 more pixels.
  EXPECT_EQ(rec->subplots[0].rectLeft, 60.0);
  EXPECT_EQ(rec->subplots[0].rectRight, 100.0);
  EXPECT_EQ(rec->subplots[0].rectBottom, 40.0);
  EXPECT_EQ(status_bits(), kCallLayoutChanged | kCallRedraw);
  struct Bad { const char* code; int status; };
  const Bad bad[] = {{"subplotsize(0, 5)", kBadArgument}, {"subplotsize(5, -1)", kBadArgument},
                     {"subplotsize(NaN, 5)", kBadArgument}, {"subplotsize([1 2 3])", kBadSize},
                     {"subplotsize([1; 2])", kBadSize}, {"subplotsize([1 2], 3)", kBadSize}};
  for (const Bad& b : bad) EXPECT_EQ(run(std::string(b.code) + ";\n"), b.status) << b.code;
  EXPECT_EQ(run("subplotsize([]);\n"), kOk);
}

TEST_F(FigureCode, ParametersRoundTripAsAList) {
  ASSERT_EQ(run("subplots(sprintf('First\\tSecond'));\n"), kOk);
  EXPECT_EQ(out("p = subplotparam; fprintf('%d %d', length(p), isempty(p{1}))"), "2 1");
  ASSERT_EQ(run("q = subplotparam({7, 'b'});\n"), kOk);
  EXPECT_EQ(out("p = subplotparam; fprintf('%d %s', p{1}, p{2})"), "7 b");
  EXPECT_EQ(out("r = subplotparam; fprintf('%d %s', q{1}, r{2})"), "7 b");
  EXPECT_EQ(out("subplotparam({}); p = subplotparam; fprintf('%d', p{1})"), "7");
  EXPECT_EQ(run("subplotparam(5);\n"), kWrongArgType);
}

TEST_F(FigureCode, InstanceTextsFromRecordsThenFromTheStore) {
  EXPECT_EQ(out("disp(tntitle); t = tntitle('Renamed'); disp(t); disp(tntitle)"), "Demo\nRenamed\nRenamed\n");
  EXPECT_EQ(out("tntitle([]); disp(tntitle)"), "Renamed\n");
  EXPECT_EQ(run("v = tnversion;\n"), kRtUndefElement);
  EXPECT_EQ(out("tnversion('1.2'); tnhelp('Press'); fprintf('%s %s', tnversion, tnhelp)"), "1.2 Press");
  EXPECT_EQ(run("tnhelp(3);\n"), kWrongArgType);
  EXPECT_EQ(out("tnhelp"), "ans =\nPress\n");
}

// Each built-in under the failure sweep, with inputs that set and outputs
// that read: a failing call leaves the stacks and the heap as they were.
TEST_F(FigureCode, EveryLayoutBuiltinPassesTheFailureSweep) {
  ASSERT_EQ(run("subplots(sprintf('First\\tSecond'));\n"), kOk);
  rec->subplots[1].is3D = 1;
  auto matrix = [&](int32_t r, int32_t cols, double v) {
    return [=, this] {
      double* re = nullptr;
      TN_TRY(stk_push_matrix(c, r, cols, &re, nullptr));
      for (int32_t k = 0; k < r * cols; ++k) re[k] = v;
      return int(kOk);
    };
  };
  auto text = [&](const char* s) { return [=, this] { return stk_push_cstr(c, int32_t(std::strlen(s)), s); }; };
  auto list = [&] {
    return [this] {
      TN_TRY(stk_push_real(c, 1));
      if (int s = stk_push_cstr(c, 1, "a"); s != kOk) return stk_drop(c), s;
      return stk_make_container(c, 2, 0, nullptr, 0);
    };
  };
  auto none = [] { return int(kOk); };
  struct Case {
    BuiltinFn fn;
    std::function<int()> push;
    int nin;
  };
  const Case cases[] = {
      {bi_subplots, none, 0}, {bi_subplots, text("First\tSecond"), 1},
      {bi_subplotprops, none, 0}, {bi_subplotprops, matrix(2, 5, 0), 1},
      {bi_subplotpos, none, 0}, {bi_subplotpos, matrix(2, 4, 1), 1},
      {bi_subplotspring, none, 0}, {bi_subplotspring, matrix(2, 6, 0.5), 1},
      {bi_subplotsize, none, 0}, {bi_subplotsize, matrix(1, 2, 4), 1},
      {bi_subplotparam, none, 0}, {bi_subplotparam, list(), 1},
      {bi_tntitle, none, 0}, {bi_tntitle, text("T"), 1},
      {bi_tnversion, text("V"), 1}, {bi_tnhelp, none, 0},
  };
  int swept = 0;
  for (const Case& k : cases)
    for (int nout : {0, 1, 2}) {
      bool ok = false;
      auto call = [&] { return lib_call_builtin(c, k.fn, k.nin, nout); };
      EXPECT_TRUE(sweep_rooms(c, k.push, call, &ok)) << reinterpret_cast<void*>(k.fn) << " " << k.nin << " " << nout;
      swept += ok;
    }
  // Two outputs are more than the texts and most layout calls give.
  EXPECT_GE(swept, 32);
}

}  // namespace
