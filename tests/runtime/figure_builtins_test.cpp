// The figure, instance, idle and redraw built-ins and `movezero` from ZVR
// code run in an instance, at every output count: figures through fake
// figure callbacks and without them, the instance list and titles, the
// status bits of clf and redraw, the moved polynomials against hand-worked
// products, and every one of them under the failure sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/value_stack.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/fake_host.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
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
    "plot demo_plot2(x)\n"
    "instance other\n"
    "title \"Other one\"\n"
    "var y\n"
    "instance plain\n";

// What the fake host's figure callbacks were asked.
struct FigureLog {
  bool accept = true;
  std::vector<std::string> calls;
  static bool create(RuntimeBlock*, int32_t id, int32_t, void* context) {
    auto* log = static_cast<FigureLog*>(context);
    log->calls.push_back("new " + std::to_string(id));
    return log->accept;
  }
  static void notify(RuntimeBlock*, int32_t id, int32_t what, const char* text, int32_t length, int32_t,
                     void* context) {
    auto* log = static_cast<FigureLog*>(context);
    log->calls.push_back(std::to_string(what) + " " + std::to_string(id) +
                         (text ? " " + std::string(text, size_t(length)) : std::string()));
  }
};

struct FigureBuiltins : ::testing::Test {
  FakeHost host;
  EngineContext* c = nullptr;
  FigureLog log;
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, {});
    ASSERT_TRUE(builder.build(kApp)) << builder.error;
    c = rt_engine(host.block);
    RuntimeBlock* h = host.block;
    ASSERT_EQ(figure_layout_subplots(&h, 0, 0, 100, 0, 50), 0);
    enter(true);
  }
  void callbacks() { rt_set_figure_callbacks(host.block, FigureLog::create, FigureLog::notify, &log); }
  void enter(bool figure, int32_t id = 0) { host.block->h.user = CallContext{host.block, id, uint8_t(figure), 0, 0}; }
  int32_t status_bits() const { return host.block->h.user.status; }
  int run(const std::string& code) {
    int status = exec_command_line(c, code.data(), int32_t(code.size()), 0);
    if (status == kSliceEnded) status = interp_run(c, 0);
    if (status != kOk) frame_unwind(c, 0);
    return status;
  }
  std::string out(const std::string& code) {
    host.take_output();
    const int status = run(code + "\n");
    const std::string text = host.take_output();
    return status == kOk ? text : "error " + std::to_string(status) + (getenv("TN_DEBUG_OUT") ? text : "");
  }
};

TEST_F(FigureBuiltins, InstancesAndTheirTitles) {
  EXPECT_EQ(out("disp(tncurrentinstance)"), "     0\n");
  EXPECT_EQ(out("disp(tninstances)"), "     0     1     2\n");
  EXPECT_EQ(out("tncurrentinstance"), "ans =\n     0\n");
  enter(false, 1);
  EXPECT_EQ(out("i = tncurrentinstance; t = tninstancetitle(i); disp(t); disp(tninstancetitle(0))"),
            "Other one\nDemo\n");
  // A missing id raises its own text and identifier; a missing title another.
  EXPECT_EQ(out("try, tninstancetitle(7); catch, [m, i] = lasterr(); disp(m); disp(i); end"),
            "Bad TN instance ID\ntn:badInstanceId\n");
  EXPECT_EQ(out("try, tninstancetitle(0.5); catch, [m, i] = lasterr(); disp(i); end"), "tn:badInstanceId\n");
  EXPECT_EQ(out("try, tninstancetitle(2); catch, [m, i] = lasterr(); disp(m); disp(i); end"),
            "Cannot get title of TN instance\ntn:title\n");
  // An id is numeric: text and logical values are refused, whatever their code.
  for (const char* id : {"'ab'", "[1 2]", "char(0)", "char(1)", "true", "false", "[]", "1i"}) {
    SCOPED_TRACE(id);
    EXPECT_EQ(run(std::string("tninstancetitle(") + id + ");\n"), kWrongArgType);
    EXPECT_EQ(run(std::string("t = tninstancetitle(") + id + ");\n"), kWrongArgType);
  }
  EXPECT_EQ(out("try, tninstancetitle('A'); catch, [m, i] = lasterr(); disp(m); end"), "Wrong type\n");
  EXPECT_EQ(out("tninstancetitle(1)"), "ans =\nOther one\n");
  EXPECT_EQ(out("disp(tninstancetitle(int32(1)))"), "Other one\n");
}

TEST_F(FigureBuiltins, ClfAndRedrawSetTheirBitsInAFigureContextOnly) {
  RuntimeBlock* b = host.block;
  InstanceRec* rec = inst_find_by_id(b, 0);
  ASSERT_EQ(run("subplots(sprintf('First\\tSecond'));\n"), kOk);
  b->h.user.status = 0;
  EXPECT_EQ(out("redraw"), "");
  EXPECT_EQ(status_bits(), kCallRedraw);
  b->h.user.status = 0;
  EXPECT_EQ(out("clf"), "");
  EXPECT_EQ(status_bits(), kCallLayoutChanged);
  EXPECT_EQ(rec->rows, 1);
  EXPECT_EQ(rec->cols, 1);
  EXPECT_EQ(rec->subplots[0].handlerWords[kSubplotFigureWord], kEmptyFigure);
  int32_t pos = 0, length = 0;
  EXPECT_FALSE(plotstore_find(rt_plot_store(b), 0, &pos, &length));
  // Inside a list being built, clf starts the list again.
  b->h.build = PlotBuildState{0, 0, 100, 40, 3};
  EXPECT_EQ(run("clf;\n"), kOk);
  EXPECT_EQ(b->h.build.used, 0);
  EXPECT_EQ(b->h.build.subplot, 0);
  b->h.build.key = -1;
  enter(false);
  EXPECT_EQ(run("clf;\n"), kBadContext);
  EXPECT_EQ(run("redraw;\n"), kBadContext);
  enter(true, 9);
  EXPECT_EQ(run("redraw;\n"), kBadContext);
}

TEST_F(FigureBuiltins, IdleStateStopsAndRestartsIdle) {
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  enter(false);
  EXPECT_EQ(out("disp(idlestate)"), "true\n");
  EXPECT_EQ(out("old = idlestate(false); disp(old); disp(idlestate)"), "true\nfalse\n");
  EXPECT_EQ(rec->idle_enabled, 0);
  EXPECT_EQ(out("idlestate(1); idlestate"), "ans =\ntrue\n");
  EXPECT_EQ(rec->idle_enabled, 1);
  enter(false, 9);
  EXPECT_EQ(run("idlestate;\n"), kBadContext);
}

TEST_F(FigureBuiltins, FiguresThroughTheHostsCallbacks) {
  RuntimeBlock* b = host.block;
  callbacks();
  // Instance 0 has figure records; instance 1 has none.
  EXPECT_EQ(out("figure(0); f = currentfigure; disp(f)"), "     0\n");
  EXPECT_EQ(log.calls, std::vector<std::string>{"102 0"});
  EXPECT_EQ(run("figure(1);\n"), kRtInvalidFigureId);
  EXPECT_EQ(run("currentfigure(44);\n"), kRtInvalidFigureId);
  EXPECT_EQ(run("figure(0.5);\n"), kBadArgument);
  // A new figure is a new instance, made current.
  log.calls.clear();
  const int32_t count = b->h.instance_count;
  const int32_t fresh = b->h.next_instance_id;
  const std::string id = std::to_string(fresh);
  EXPECT_EQ(out("f = figure; fprintf('%d %d', f, currentfigure)"), id + " " + id);
  EXPECT_EQ(log.calls, std::vector<std::string>{"new " + id});
  EXPECT_EQ(b->h.instance_count, count + 1);
  EXPECT_NE(inst_find_by_id(b, fresh), nullptr);
  // A refusal deletes the new instance again.
  log.accept = false;
  EXPECT_EQ(run("figure;\n"), kRtCannotCreateFigure);
  EXPECT_EQ(b->h.instance_count, count + 1);
  EXPECT_EQ(inst_find_by_id(b, fresh + 1), nullptr);
  // The title goes to the current figure's window.
  log.calls.clear();
  ASSERT_EQ(run("currentfigure(0);\n"), kOk);
  EXPECT_EQ(out("figuretitle('Wave')"), "");
  EXPECT_EQ(log.calls, (std::vector<std::string>{"102 0", "116 0 Wave"}));
  EXPECT_EQ(run("figuretitle(3);\n"), kWrongArgType);
  // A current-figure word that names no figure window counts as none.
  b->h.current_figure = 2;
  EXPECT_EQ(run("figuretitle('x');\n"), kIllegalError);
  b->h.current_figure = 77;
  EXPECT_EQ(run("figuretitle('x');\n"), kIllegalError);
}

TEST_F(FigureBuiltins, FiguresWithoutCallbacks) {
  EXPECT_EQ(run("figure;\n"), kNotSupported);
  EXPECT_EQ(run("f = figure;\n"), kNotSupported);
  EXPECT_EQ(run("figure(5);\n"), kRtInvalidFigureId);
  EXPECT_EQ(out("figure(0); disp(figure(0))"), "     0\n");
  EXPECT_EQ(out("figuretitle('quiet')"), "");
  EXPECT_EQ(out("figure(0)"), "");
}

// movezero: hand-worked products of the divided polynomial and the new factor.
TEST_F(FigureBuiltins, MoveZeroMovesRealAndComplexZeros) {
  struct Case {
    const char* code;
    const char* printed;
  };
  const Case cases[] = {
      // A real zero to a real place, row and column.
      {"p = movezero([1 -3 2], 1, 4); fprintf('%g ', p)", "1 -6 8 "},
      {"p = movezero([1; -3; 2], 1, 4); fprintf('%g ', size(p), p)", "3 1 1 -6 8 "},
      // (z^2 - 2z + 5)(z - 3): the pair 1 +- 2i to -1 +- i.
      {"[p, z] = movezero([1 -5 11 -15], 1+2i, -1+1i); fprintf('%g ', p, real(z), imag(z))", "1 -1 -4 -6 -1 1 "},
      // Across the real axis the pair splits: (z - 1)(z - 2)(z - 3).
      {"[p, z] = movezero([1 -5 11 -15], 1+2i, 2-1i); fprintf('%g ', p, z, imag(z))", "1 -6 11 -6 2 0 "},
      // A real zero to a complex place takes the next real root along.
      {"[p, z] = movezero([1 -6 11 -6], 1, 1+1i); fprintf('%g ', p, imag(z))", "1 -5 8 -6 1 "},
      // Without a second real root the new place is real.
      {"[p, z] = movezero([1 -1], 1, 2+1i); fprintf('%g ', p, z, imag(z))", "1 -2 2 0 "},
      // Small imaginary parts count as real; an empty p comes back at once.
      {"p = movezero([1 -3 2] + 1e-9i, 1, 4); fprintf('%g ', p)", "1 -6 8 "},
      {"p = movezero([], 1, 4); fprintf('%d', isempty(p))", "1"},
  };
  for (const Case& k : cases) EXPECT_EQ(out(k.code), k.printed) << k.code;
  EXPECT_EQ(out("movezero([1 -3 2], 1, 4)"), "ans =\n     1    -6     8\n");
  struct Bad {
    const char* code;
    int status;
  };
  const Bad bad[] = {{"movezero(ones(2), 1, 4)", 22},         {"movezero([1 2i 3], 1, 4)", kWrongType},
                     {"movezero([1 2], [1 2], 4)", kBadArgument}, {"movezero([1 2], 1, 'ab')", kBadArgument},
                     {"movezero(5, 1, 4)", kBadArgument},        {"movezero([1 2], 1+1i, 2+1i)", kBadArgument}};
  for (const Bad& k : bad) EXPECT_EQ(run(std::string(k.code) + ";\n"), k.status) << k.code;
}

// Each built-in under the failure sweep: a failing call leaves the stacks
// and the heap as they were, a refused figure included.
TEST_F(FigureBuiltins, EveryBuiltinPassesTheFailureSweep) {
  callbacks();
  auto real = [&](double v) { return [=, this] { return stk_push_real(c, v); }; };
  auto text = [&](const char* s) { return [=, this] { return stk_push_cstr(c, int32_t(std::strlen(s)), s); }; };
  auto row = [&](std::vector<double> v) {
    return [=, this] {
      double* re = nullptr;
      TN_TRY(stk_push_matrix(c, 1, int32_t(v.size()), &re, nullptr));
      for (size_t k = 0; k < v.size(); ++k) re[k] = v[k];
      return int(kOk);
    };
  };
  auto both = [](std::function<int()> a, std::function<int()> b, std::function<int()> d) {
    return [=] {
      TN_TRY(a());
      TN_TRY(b());
      return d();
    };
  };
  auto none = [] { return int(kOk); };
  struct Case {
    BuiltinFn fn;
    std::function<int()> push;
    int nin;
    std::vector<int> nouts;
  };
  const Case cases[] = {
      {bi_figure, real(0), 1, {-1, 0, 1}},
      {bi_currentfigure, none, 0, {-1, 1}},
      {bi_currentfigure, real(0), 1, {-1, 0, 1}},
      {bi_figuretitle, text("T"), 1, {-1, 0}},
      {bi_clf, none, 0, {-1, 0}},
      {bi_redraw, none, 0, {-1, 0}},
      {bi_idlestate, none, 0, {-1, 1}},
      {bi_idlestate, real(1), 1, {-1, 0, 1}},
      {bi_tncurrentinstance, none, 0, {1}},
      {bi_tninstances, none, 0, {1}},
      {bi_tninstancetitle, real(1), 1, {-1, 1}},
      {bi_tninstancetitle, real(8), 1, {1}},
      {bi_movezero, both(row({1, -3, 2}), real(1), real(4)), 3, {-1, 1, 2}},
      {bi_movezero, both(row({1, -5, 11, -15}), [this] { return stk_push_complex(c, 1, 2); },
                         [this] { return stk_push_complex(c, -1, 1); }), 3, {1, 2}},
  };
  int swept = 0;
  for (const Case& k : cases)
    for (int nout : k.nouts) {
      bool ok = false;
      auto call = [&] { return lib_call_builtin(c, k.fn, k.nin, nout); };
      EXPECT_TRUE(sweep_rooms(c, k.push, call, &ok)) << reinterpret_cast<void*>(k.fn) << " " << k.nin << " " << nout;
      swept += ok;
    }
  EXPECT_GE(swept, 25);
  // A refused new figure leaves the stacks as they were.
  log.accept = false;
  for (int nout : {-1, 0, 1}) {
    bool ok = false;
    EXPECT_TRUE(sweep_rooms(c, none, [&] { return lib_call_builtin(c, bi_figure, 0, nout); }, &ok)) << nout;
    EXPECT_FALSE(ok);
  }
}

}  // namespace

namespace {

const char kCallApp[] =
    "instance demo\n"
    "var x\n"
    "init x = xstart()\n"
    "entry \"go\" x = go(x)\n"
    "entry \"grow\" x = grow(x)\n"
    "instance other\n"
    "title \"Other\"\n"
    "var y\n"
    "init y = ystart()\n"
    "call \"bump\" y = bump(y)\n"
    "call \"add\" y = add(y)\n"
    "call \"peek\" peek(y)\n"
    "call \"twice\" y = twice(y)\n"
    "call \"copy\" y = (y)\n"
    "call \"broken\" y = broken(y)\n"
    "call \"widen\" y = widen(y)\n";

const char kDemoSource[] =
    "function x = xstart()\n x = 1;\nendfunction\n"
    "function r = bump(v)\n r = -100;\nendfunction\n"
    "function x = grow(x)\n tncall(1, 'widen');\nendfunction\n"
    "function x = go(x)\n tncall(1, 'bump'); x = bump(x) + tncall(1, 'peek');\nendfunction\n";
const char kOtherSource[] =
    "function y = ystart()\n y = 10;\nendfunction\n"
    "function y = bump(y)\n y = y + 1;\nendfunction\n"
    "function y = add(d, y)\n y = y + d;\nendfunction\n"
    "function r = peek(y)\n r = y;\nendfunction\n"
    "function [y, a, b] = twice(y)\n a = 2 * y; b = 3 * y; y = y + 1;\nendfunction\n"
    "function y = broken(y)\n error('broken');\nendfunction\n"
    "function y = widen(y)\n y = [y(1) + 1, zeros(1, 300000)];\nendfunction\n";

// tncall from the code of instance 0 into instance 1; the block may grow
// to eight times its size.
struct CallIntoOther : FigureBuiltins {
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, 8 * kBytes), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    Builder builder(host.block, {{"demo", kDemoSource}, {"other", kOtherSource}});
    ASSERT_TRUE(builder.build(kCallApp)) << builder.error;
    c = rt_engine(host.block);
    enter(false);
  }
  std::string peek() { return out("fprintf('%g', tncall(1, 'peek'))"); }
};

TEST_F(CallIntoOther, SetsTheOtherInstancesVariablesWithItsOwnFunctions) {
  InstanceRec* other = inst_find_by_id(host.block, 1);
  EXPECT_EQ(peek(), "10");
  EXPECT_EQ(other->changed_outside, 0);
  // The caller's library has a bump of its own; the other instance's runs.
  EXPECT_EQ(out("tncall(1, 'bump')"), "");
  EXPECT_EQ(peek(), "11");
  EXPECT_EQ(other->changed_outside, 1);
  EXPECT_EQ(out("tncall(1, 'add', 5)"), "");
  EXPECT_EQ(peek(), "16");
  // From a handler of the caller, whose library has a bump of its own.
  int32_t pos = 0;
  ASSERT_EQ(rec_find_tag(host.block, 0, &pos, kTagEntry), 0);
  RuntimeBlock* h = host.block;
  ASSERT_EQ(handler_call_plain(&h, 0, pos, -1, false), 0) << host.take_output();
  EXPECT_EQ(peek(), "17");
  // x = bump(x) + peek ran with the caller's own bump: -100 + 17.
  ASSERT_EQ(handler_push_input(host.block, 0, false, tnbuild::kFirstVariableCode), 0);
  double x = 0;
  ASSERT_EQ(stk_pop_real_scalar(c, &x), 0);
  EXPECT_EQ(x, -83.0);
  EXPECT_EQ(out("fprintf('%g', tncall(1, 'peek') + 1)"), "18");
  // The record's output is taken; the rest go to the caller, as many as asked.
  EXPECT_EQ(out("[a, b] = tncall(1, 'twice'); fprintf('%g %g', a, b)"), "34 51");
  EXPECT_EQ(out("a = tncall(1, 'twice'); fprintf('%g', a)"), "36");
  EXPECT_EQ(out("tncall(1, 'twice')"), "");
  EXPECT_EQ(peek(), "20");
}

TEST_F(CallIntoOther, StoresOnceAcrossAGrowth) {
  // A value too large for the store: nothing is stored, the handler call
  // grows the block and runs again, and the target changes once.
  int32_t pos = 0;
  ASSERT_EQ(rec_find_tag(host.block, 0, &pos, kTagEntry), 0);
  ASSERT_EQ(rec_find_tag(host.block, 0, &pos, kTagEntry), 0);
  RuntimeBlock* h = host.block;
  const int moves = host.moves;
  const int status = handler_call_plain(&h, 0, pos, -1, false);
  host.block = h;  // the block word the growth moved
  ASSERT_EQ(status, 0) << host.take_output();
  EXPECT_GT(host.moves, moves);
  c = rt_engine(host.block);
  host.block->h.user = CallContext{host.block, 0, 0, 0, 0};
  ASSERT_EQ(handler_push_input(host.block, 1, false, tnbuild::kFirstVariableCode + 1), 0);
  double* re = nullptr;
  int32_t rows = 0, cols = 0;
  ASSERT_EQ(stk_get_matrix(c, 0, &rows, &cols, &re, nullptr), 0);
  EXPECT_EQ(cols, 300001);
  EXPECT_EQ(re[0], 11.0);
  stk_drop(c);
  EXPECT_EQ(out("y = tncall(1, 'peek'); fprintf('%g %d', y(1), numel(y))"), "11 300001");
  EXPECT_EQ(inst_find_by_id(host.block, 1)->changed_outside, 1);
}

TEST_F(CallIntoOther, RefusesBadTargetsAndShortResults) {
  struct Bad {
    const char* code;
    int status;
  };
  const Bad bad[] = {{"tncall(7, 'bump')", kRtNonexistentInstance},
                     {"tncall(0.5, 'bump')", kRtNonexistentInstance},
                     {"tncall(1, 'none')", kRtUndefElement},
                     {"tncall(1, 'copy')", kIllegalError},
                     {"a = tncall(1, 'bump')", kTooManyOutputs},
                     {"[a, b, c] = tncall(1, 'twice')", kTooManyOutputs},
                     {"tncall(1, 3)", kWrongArgType},
                     {"tncall('a', 'bump')", kWrongArgType}};
  for (const Bad& k : bad) EXPECT_EQ(run(std::string(k.code) + ";\n"), k.status) << k.code;
  // A function code the name table does not know.
  int32_t start = 0, pos = 0;
  ASSERT_EQ(rec_find_instance(host.block, 1, &start), 0);
  ASSERT_EQ(rec_find_tag(host.block, 1, &pos, kTagCallEntry), 0);
  RecordView r;
  ASSERT_TRUE(rec_at(host.block, int64_t(start) + pos, &r));
  const int64_t fn_word = (r.data - rt_record_words(host.block)) + rec_hd_offset(r.tag, r.data, r.data_words);
  const int32_t saved = rt_record_words(host.block)[fn_word + kHdFunction];
  rt_record_words(host.block)[fn_word + kHdFunction] = 29999;
  EXPECT_EQ(run("tncall(1, 'bump');\n"), kRtVarNotFound);
  rt_record_words(host.block)[fn_word + kHdFunction] = saved;
  // A call that fails in the other instance stores nothing; a try block catches it.
  EXPECT_NE(run("tncall(1, 'broken');\n"), kOk);
  EXPECT_EQ(out("try, tncall(1, 'broken'); catch, disp('caught'); end"), "caught\n");
  EXPECT_EQ(peek(), "10");
  EXPECT_EQ(inst_find_by_id(host.block, 1)->changed_outside, 0);
}

}  // namespace

namespace {

// A dialog that answers from a script and records what it was shown.
struct FakeDialog {
  struct Answer {
    bool ok;
    const char* text;  // null: the text as shown
  };
  std::vector<Answer> answers;
  size_t next = 0;
  std::vector<std::string> shown;  // "title|prompt|text|ask"
  RuntimeBlock** block = nullptr;
  std::vector<int32_t> states;  // instance 0's state while up
  static int32_t run(const DialogRequest* r, void* context) {
    auto* d = static_cast<FakeDialog*>(context);
    std::string text = r->text ? std::string(r->text, size_t(*r->text_length)) : "-";
    d->shown.push_back(std::string(r->title, size_t(r->title_length)) + "|" +
                       std::string(r->prompt, size_t(r->prompt_length)) + "|" + text + "|" +
                       std::to_string(r->ask_ok_cancel));
    d->states.push_back(inst_find_by_id(*d->block, 0)->state);
    const Answer a = d->next < d->answers.size() ? d->answers[d->next++] : Answer{false, nullptr};
    if (a.text && r->text) {
      const int32_t n = std::min<int32_t>(int32_t(std::strlen(a.text)), r->text_capacity);
      std::memcpy(r->text, a.text, size_t(n));
      *r->text_length = n;
    }
    return a.ok;
  }
};

struct DialogCode : FigureBuiltins {
  FakeDialog dialog;
  void SetUp() override {
    FigureBuiltins::SetUp();
    dialog.block = &host.block;
    rt_set_dialog_callback(host.block, FakeDialog::run, &dialog);
    enter(false);
  }
  void answer(std::vector<FakeDialog::Answer> a) {
    dialog.answers = std::move(a);
    dialog.next = 0;
    dialog.shown.clear();
  }
};

TEST_F(DialogCode, PromptOnlyAnswersOkOrCancel) {
  answer({{true, nullptr}, {false, nullptr}, {false, nullptr}});
  EXPECT_EQ(out("a = dialog('Sure?'); b = dialog('Sure?'); fprintf('%d %d', a, b)"), "1 0");
  EXPECT_EQ(out("dialog('Note')"), "");
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{"|Sure?|-|1", "|Sure?|-|1", "|Note|-|0"}));
}

TEST_F(DialogCode, ValuesAreEditedAsSourceText) {
  answer({{true, "4"}});
  EXPECT_EQ(out("x = dialog('Value', 3); disp(x)"), "     4\n");
  EXPECT_EQ(dialog.shown, std::vector<std::string>{"|Value|3|1"});
  answer({{true, nullptr}});
  EXPECT_EQ(out("[a, b, ok] = dialog('Two', [1 2], 'x'); fprintf('%g %g %s %d', a, b, ok)"), "1 2 x 1");
  EXPECT_EQ(dialog.shown, std::vector<std::string>{"|Two|[1,2],'x'|1"});
  // Two values for one, then text that does not compile: shown again as left.
  answer({{true, "4, 5"}, {true, "4 +"}, {true, "6"}});
  EXPECT_EQ(out("x = dialog('Value', 3); disp(x)"), "     6\n");
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{"|Value|3|1", "|Value|4, 5|1", "|Value|4 +|1"}));
  // Text that fails while running: shown again as left.
  for (const char* bad : {"error('no')", "ones(2)(5)", "[1 2](3)", "zeros(1,2)+[1 2 3]", "x_undefined"}) {
    answer({{true, bad}, {true, "7"}});
    EXPECT_EQ(out("x = dialog('Value', 3); disp(x)"), "     7\n") << bad;
  }
  answer({{true, "[1 2](3)"}, {true, "7"}});
  EXPECT_EQ(out("x = dialog('Value', 3); disp(x)"), "     7\n");
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{"|Value|3|1", "|Value|[1 2](3)|1"}));
  // Two values, the second failing after the first was computed.
  answer({{true, "10, [1 2](3)"}, {true, "3, 4"}});
  EXPECT_EQ(out("[a, b] = dialog('T', 1, 2); fprintf('%g %g', a, b)"), "3 4");
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{"|T|1,2|1", "|T|10, [1 2](3)|1"}));
  answer({{true, "nosuch(1)"}, {true, "8"}});
  EXPECT_EQ(out("x = dialog('Value', 3); disp(x)"), "     8\n");
  answer({{true, "nosuch(1)"}, {true, "[1 2](3)"}, {true, "7"}});
  EXPECT_EQ(out("x = dialog('Value', 3); disp(x)"), "     7\n");
  EXPECT_EQ(dialog.shown, (std::vector<std::string>{"|Value|3|1", "|Value|nosuch(1)|1", "|Value|[1 2](3)|1"}));
  // Options first: digits and title.
  answer({{true, nullptr}});
  EXPECT_EQ(out("o = dialogset('NPrec', 3, 'Title', 'T'); x = dialog(o, 'P', pi); disp(x)"), "     3.142\n");
  EXPECT_EQ(dialog.shown, std::vector<std::string>{"T|P|3.142|1"});
}

TEST_F(DialogCode, CancelAndNoCallback) {
  answer({{false, "9"}, {false, nullptr}});
  EXPECT_EQ(out("[x, ok] = dialog('V', 3); fprintf('%d %d', isempty(x), ok)"), "1 0");
  EXPECT_EQ(run("x = dialog('V', 3);\n"), kCancel);
  rt_set_dialog_callback(host.block, nullptr, nullptr);
  EXPECT_EQ(run("x = dialog('V', 3);\n"), kCancel);
  EXPECT_EQ(out("[x, ok] = dialog('V', 3); fprintf('%d %d', isempty(x), ok)"), "1 0");
  EXPECT_EQ(out("ok = dialog('V'); dialog('W'); fprintf('%d', ok)"), "0");
}

TEST_F(DialogCode, CountsAndIdleHold) {
  struct Bad {
    const char* code;
    int status;
  };
  const Bad bad[] = {{"[a, b, c] = dialog('P', 1)", kTooManyOutputs},
                     {"dialog('P', 1, 2)", kTooFewOutputs},
                     {"a = dialog('P', 1, 2)", kTooFewOutputs},
                     {"dialog(3)", kWrongArgType}};
  for (const Bad& k : bad) EXPECT_EQ(run(std::string(k.code) + ";\n"), k.status) << k.code;
  InstanceRec* rec = inst_find_by_id(host.block, 0);
  rec->state = 2;
  answer({{true, nullptr}, {true, nullptr}});
  EXPECT_EQ(out("dialog('P'); x = dialog('P', 1);"), "");
  EXPECT_EQ(dialog.states, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(rec->state, 2);
}

}  // namespace

namespace {

// The paths of dialog that end in the call itself, under the failure sweep:
// no callback, a prompt, and values cancelled.
TEST_F(DialogCode, EndingPathsPassTheFailureSweep) {
  auto text = [&](const char* s) { return [=, this] { return stk_push_cstr(c, int32_t(std::strlen(s)), s); }; };
  auto prompt_and_value = [this] {
    TN_TRY(stk_push_cstr(c, 1, "P"));
    return stk_push_real(c, 2);
  };
  struct Case {
    bool callback;
    std::function<int()> push;
    int nin;
    int nout;
  };
  const Case cases[] = {{false, text("P"), 1, -1}, {false, text("P"), 1, 1}, {false, prompt_and_value, 2, 2},
                        {true, text("P"), 1, 0},   {true, text("P"), 1, 1},  {true, prompt_and_value, 2, 2}};
  int swept = 0;
  for (const Case& k : cases) {
    rt_set_dialog_callback(host.block, k.callback ? FakeDialog::run : nullptr, &dialog);
    answer({});  // every dialog cancelled
    for (int i = 0; i < 64; ++i) dialog.answers.push_back({false, nullptr});
    bool ok = false;
    auto call = [&] { return lib_call_builtin(c, bi_dialog, k.nin, k.nout); };
    EXPECT_TRUE(sweep_rooms(c, k.push, call, &ok)) << k.callback << " " << k.nin << " " << k.nout;
    swept += ok;
  }
  EXPECT_EQ(swept, 6);
}

}  // namespace

namespace {

// A dialog inside a plot handler: its text lives on the value stack, so the
// list being built in the plot store's free room comes through intact.
TEST(DialogInPlotHandler, LeavesTheListBeingBuiltIntact) {
  FakeHost host;
  ASSERT_EQ(host.start(kBytes, kBytes), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  const char source[] =
      "function draw(x)\n plot([1 2 3], [4 5 6]);\n [a, b, ok] = dialog('Scale', 2, 'x');\n"
      " plot([1 2 3], [7 8 9]);\nendfunction\n";
  Builder builder(host.block, {{"demo", source}});
  ASSERT_TRUE(builder.build("instance demo\nvar x\nfigure \"F\"\nplot draw(x)\n")) << builder.error;
  FakeDialog dialog;
  dialog.block = &host.block;
  auto list = [&] {
    RuntimeBlock* h = host.block;
    const int status = inst_refresh(&h, 0);
    host.block = h;
    EXPECT_EQ(status, 0) << host.take_output();
    int32_t at = 0, length = 0;
    EXPECT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &at, &length));
    const double* d = plotstore_data(rt_plot_store(host.block)) + at;
    return std::vector<double>(d, d + length);
  };
  // Without a dialog the call answers at once; with one it is shown and
  // answered OK: the same two plots either way.
  const std::vector<double> without = list();
  rt_set_dialog_callback(host.block, FakeDialog::run, &dialog);
  dialog.answers = {{true, nullptr}};
  const std::vector<double> with = list();
  EXPECT_EQ(dialog.shown, std::vector<std::string>{"|Scale|2,'x'|1"});
  EXPECT_EQ(with, without);
  EXPECT_GT(with.size(), 20u);
}

}  // namespace
