// The handler call with the real engine and builder images: inputs and
// outputs by code, copying records, the busy and running guards, cancel,
// growth in the run and in the output phase (the handler runs once per
// call), derived variables with a chain and a cycle, failure reports, the
// break poll and the debugger refusal.
#include "runtime/app_fixture.h"

#include "engine/core/frames.h"
#include "engine/core/calls.h"
#include "engine/core/interp.h"

namespace {

using apptest::App;
using apptest::g_probe;

const char kSource[] =
    "function a = make_a()\n a = 5;\nendfunction\n"
    "function r = probe(x, id, p, m)\n r = double([isempty(x), isempty(id), isempty(p), m]);\nendfunction\n"
    "function x = quiet()\n cancel(false);\n x = 1;\nendfunction\n"
    "function x = loud()\n cancel;\n x = 1;\nendfunction\n"
    "function x = bump(x)\n x = x + 1;\nendfunction\n"
    "function x = big()\n tn_count;\n x = zeros(1, 60000);\nendfunction\n"
    "function x = heavy(x)\n tn_count;\n tn_plot_mark;\n y = zeros(1, 60000);\n x = x + 1;\nendfunction\n"
    "function x = fails()\n error('boom in handler');\nendfunction\n"
    "function spin()\n while true\n end\nendfunction\n"
    "function x = nest()\n tn_reenter;\n x = 9;\nendfunction\n"
    "function b = twice(a)\n b = 2 * a;\nendfunction\n"
    "function c = plus1(b)\n tn_count;\n c = b + 1;\nendfunction\n"
    "function r = same(c)\n r = c;\nendfunction\n"
    "function a = seta()\n a = 10;\nendfunction\n"
    "function x = suspend()\n tn_answer;\n x = 1;\nendfunction\n"
    "function m = tell()\n m = sprintf('first line\\nsecond');\nendfunction\n"
    // cancel under try: directly, from a function called in the try, and in
    // a catch block that itself stands in a try; quiet and loud.
    "function x = trapped_q()\n try\n cancel(false);\n catch\n x = 2;\n end\n x = 3;\nendfunction\n"
    "function x = trapped_l()\n try\n cancel;\n catch\n x = 2;\n end\n x = 3;\nendfunction\n"
    "function deep_q()\n cancel(false);\nendfunction\n"
    "function deep_l()\n cancel(true);\nendfunction\n"
    "function x = trapped_deep_q()\n try\n deep_q;\n catch\n end\n x = 3;\nendfunction\n"
    "function x = trapped_deep_l()\n try\n deep_l;\n catch\n end\n x = 3;\nendfunction\n"
    "function x = trapped_catch_q()\n try\n try\n error('a');\n catch\n cancel(0);\n end\n catch\n x = 2;\n end\n"
    " x = 3;\nendfunction\n"
    "function x = trapped_catch_l()\n try\n try\n error('a');\n catch\n cancel(1);\n end\n catch\n x = 2;\n end\n"
    " x = 3;\nendfunction\n";

const char kDescription[] =
    "instance demo\n"
    "var a\nvar b\nvar c\nvar r\nvar x\nvar k\nvar big\n"
    "init a = make_a()\n"
    "resize b = (a)\n"                      // 0: copy
    "resize r = probe(_x, _id, _param, _m)\n"  // 1
    "resize k = (_key)\n"                   // 2
    "resize x = quiet()\n"                  // 3
    "resize x = loud()\n"                   // 4
    "resize x = bump(x)\n"                  // 5
    "resize big = big()\n"                  // 6
    "resize x = heavy(x)\n"                 // 7
    "resize x = fails()\n"                  // 8
    "resize spin()\n"                       // 9
    "resize x = nest()\n"                   // 10
    "resize r = same(c)\n"                  // 11
    "resize a = seta()\n"                   // 12
    "resize x = suspend()\n"                // 13
    "resize _msg = tell()\n"                // 14
    "resize x = trapped_q()\n"              // 15
    "resize x = trapped_l()\n"              // 16
    "resize x = trapped_deep_q()\n"         // 17
    "resize x = trapped_deep_l()\n"         // 18
    "resize x = trapped_catch_q()\n"        // 19
    "resize x = trapped_catch_l()\n"        // 20
    "derived b = twice(a)\n"
    "derived c = plus1(b)\n";

int32_t resize(App& t, int n) { return t.record(kTagResize, n); }

TEST_F(App, RecordWithoutFunctionCopiesItsInputs) {
  build(kDescription, kSource);
  EXPECT_EQ(value("a"), 5);  // the build-time reset ran the init handler
  ASSERT_EQ(call(resize(*this, 0)), 0);
  EXPECT_EQ(value("b"), 5);
}

TEST_F(App, EventVariablesAreEmptyWithoutAnEvent) {
  build(kDescription, kSource);
  ASSERT_EQ(call(resize(*this, 1)), 0);
  ASSERT_EQ(handler_push_input(host.block, 0, false, code("r")), 0);
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  ASSERT_EQ(stk_get_matrix(c(), 0, &rows, &cols, &re, nullptr), 0);
  ASSERT_EQ(rows * cols, 3);  // _m too is empty without an event
  EXPECT_EQ(re[0], 1);
  EXPECT_EQ(re[1], 1);
  EXPECT_EQ(re[2], 1);
  stk_drop(c());
  // With an event the valid fields arrive.
  host.block->h.manip.valid = kManipX | kManipId | kManipFlag;
  host.block->h.manip.x = 2.5;
  ASSERT_EQ(call(resize(*this, 1), true, 0), 0);
  ASSERT_EQ(handler_push_input(host.block, 0, false, code("r")), 0);
  ASSERT_EQ(stk_get_matrix(c(), 0, &rows, &cols, &re, nullptr), 0);
  EXPECT_EQ(re[0], 0);
  EXPECT_EQ(re[1], 0);
  EXPECT_EQ(re[2], 1);  // no parameter list stored
  EXPECT_EQ(re[3], 1);
  stk_drop(c());
}

TEST_F(App, KeyArrivesAsItsNameOrCharacter) {
  build(kDescription, kSource);
  const struct { uint32_t key; const char* want; } cases[] = {
      {kKeyLeft, "left"}, {kKeyUp, "up"}, {kKeyDown, "down"}, {kKeyRight, "right"}, {'q', "q"}, {0, ""}};
  for (const auto& k : cases) {
    ASSERT_EQ(call(resize(*this, 2), false, -1, k.key), 0);
    EXPECT_EQ(text("k"), k.want) << k.key;
  }
}

TEST_F(App, CancelQuietIsSuccessWithoutOutputsLoudIs402) {
  build(kDescription, kSource);
  EXPECT_EQ(call(resize(*this, 3)), 0);
  EXPECT_FALSE(present("x"));
  EXPECT_EQ(call(resize(*this, 4)), kHandlerBusy);
  EXPECT_FALSE(present("x"));
  EXPECT_EQ(host.take_output(), "");  // neither prints a report
  EXPECT_EQ(host.block->h.busy, 0);
}

// No catch takes a cancel: the handler ends where it called it, with the
// same answer as an untrapped cancel, and nothing after it runs.
TEST_F(App, CancelEndsTheHandlerThroughEveryTry) {
  build(kDescription, kSource);
  const struct {
    int record;
    int want;
  } cases[] = {{15, 0}, {16, kHandlerBusy}, {17, 0}, {18, kHandlerBusy}, {19, 0}, {20, kHandlerBusy}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.record);
    EXPECT_EQ(call(resize(*this, k.record)), k.want);
    EXPECT_FALSE(present("x"));
    EXPECT_EQ(host.take_output(), "");
    EXPECT_EQ(host.block->h.busy, 0);
  }
}

TEST_F(App, BusyAnswers402AndLeavesTheRunningHandlerUntouched) {
  build(kDescription, kSource);
  g_probe.record = resize(*this, 5);
  ASSERT_EQ(call(resize(*this, 10)), 0);
  EXPECT_EQ(g_probe.reentry, kHandlerBusy);
  EXPECT_EQ(value("x"), 9);
  EXPECT_EQ(host.block->h.busy, 0);
}

TEST_F(App, CallFromARunningBuiltinIs400) {
  build(kDescription, kSource);
  g_probe.record = resize(*this, 5);
  const char line[] = "tn_reenter;";
  EngineContext* ctx = c();
  ASSERT_EQ(exec_command_line(ctx, line, int32_t(sizeof line - 1), 0), 500);
  EXPECT_EQ(interp_run(ctx, 0), 0);
  EXPECT_EQ(g_probe.reentry, kBadContext);
}

TEST_F(App, HeapGrowthRunsTheHandlerAgainAndDrawsOnce) {
  build(kDescription, kSource, 1u << 20);
  ASSERT_EQ(plotstore_begin_list(host.block, 0, true), 0);
  const int moves = host.moves;
  ASSERT_EQ(call(resize(*this, 7)), 0);
  EXPECT_GT(host.moves, moves);
  EXPECT_GE(g_probe.counted, 2);             // ran again after the block grew
  EXPECT_EQ(host.block->h.build.used, 6);    // its plot record written once
  EXPECT_TRUE(std::isnan(value("x")) || value("x") == 1);
  plotstore_commit_list(host.block);
}

TEST_F(App, OutputGrowthStoresAgainWithoutRunningTwice) {
  build(kDescription, kSource, 1u << 20);
  // The engine grows first, so that only the value store runs short.
  for (int k = 0; k < 5; ++k) ASSERT_TRUE(rt_memory_expand(h(), kVariableOverflow));
  for (int k = 0; k < 5; ++k) ASSERT_TRUE(rt_memory_expand(h(), kDataStackOverflow));
  ASSERT_LT(host.block->h.area_size[kAreaValues], 60000 * 8);
  const int moves = host.moves;
  ASSERT_EQ(call(resize(*this, 6)), 0);
  EXPECT_EQ(g_probe.counted, 1);
  EXPECT_GT(host.moves, moves);
  ASSERT_TRUE(present("big"));
}

TEST_F(App, DerivedChainRecomputesOnDemand) {
  build(kDescription, kSource);
  ASSERT_EQ(call(resize(*this, 12)), 0);  // a = 10: b and c are dropped
  EXPECT_FALSE(present("b"));
  EXPECT_FALSE(present("c"));
  g_probe.counted = 0;
  ASSERT_EQ(call(resize(*this, 11)), 0);  // needs c: twice, then plus1
  EXPECT_EQ(value("b"), 20);
  EXPECT_EQ(value("c"), 21);
  EXPECT_EQ(value("r"), 21);
  EXPECT_EQ(g_probe.counted, 1);
  ASSERT_EQ(call(resize(*this, 11)), 0);  // nothing stale: plus1 does not run again
  EXPECT_EQ(g_probe.counted, 1);
}

TEST_F(App, CircularDerivedPairIs10007) {
  build("instance demo\nvar a\nvar b\nvar r\nresize r = (a)\nderived b = f(a)\nderived a = g(b)\n",
        "function y = f(x)\n y = x;\nendfunction\nfunction y = g(x)\n y = x;\nendfunction\n");
  EXPECT_EQ(call(resize(*this, 0)), 10007);
  EXPECT_EQ(host.block->h.busy, 0);
}

// A derived record naming a code that is no field of the instance (a
// damaged image, or a variable of another instance): every scan ends. With
// an input missing the wanted value cannot be computed and the handler runs
// without it; with an output missing nothing is marked in its place.
void name_no_field(App& t, int derived, bool input) {
  constexpr int32_t kNoField = 4242;
  int32_t start = 0;
  ASSERT_EQ(rec_find_instance(t.host.block, 0, &start), 0);
  int32_t* hd = rt_record_words(t.host.block) + start + t.record(kTagDerived, derived) + kRecordHeadWords;
  hd[kHdFixedWords + (input ? hd[kHdOutputs] : 0)] = kNoField;
}

TEST_F(App, DerivedInputNamingNoFieldEnds) {
  build("instance demo\nvar a\nvar b\nvar r\nresize r = (b)\nderived b = twice(a)\n", kSource);
  name_no_field(*this, 0, true);
  EXPECT_EQ(call(record(kTagResize, 0)), 0);
  EXPECT_TRUE(std::isnan(value("r")));
  EXPECT_EQ(host.block->h.busy, 0);
}

TEST_F(App, DerivedOutputNamingNoFieldEnds) {
  build("instance demo\nvar a\nvar b\nvar c\nresize a = seta()\nderived b = twice(a)\nderived c = plus1(b)\n",
        kSource);
  name_no_field(*this, 1, false);
  EXPECT_EQ(call(record(kTagResize, 0)), 0);
  EXPECT_EQ(value("a"), 10);
  EXPECT_FALSE(present("b"));  // dropped, to be computed again
}

TEST_F(App, FailingHandlerIsReportedOnce) {
  build(kDescription, kSource);
  EXPECT_NE(call(resize(*this, 8)), 0);
  const std::string out = host.take_output();
  const size_t first = out.find("boom in handler");
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find("boom in handler", first + 1), std::string::npos) << out;
  EXPECT_EQ(c()->frame, 0);
}

uint8_t poll_after_some(void* arg) { return ++*static_cast<int*>(arg) > 20; }

TEST_F(App, BreakPollEndsASlicedRunWith501) {
  build(kDescription, kSource);
  int polls = 0;
  rt_set_break_poll(host.block, poll_after_some, &polls);
  const int32_t items = c()->desc_top;
  EXPECT_EQ(call(resize(*this, 9)), 501);
  EXPECT_GT(polls, 20);
  EXPECT_EQ(c()->desc_top, items);  // frames unwound, nothing left behind
  EXPECT_NE(host.take_output().find("Execution halted"), std::string::npos);
  rt_set_break_poll(host.block, nullptr, nullptr);
  EXPECT_EQ(call(resize(*this, 5)), 0);  // the engine runs on
}

TEST_F(App, DebuggerEntryIsRefusedWithTheTwoLines) {
  build(kDescription, kSource);
  g_probe.status = 505;
  EXPECT_EQ(call(resize(*this, 13)), 505);
  const std::string out = host.take_output();
  EXPECT_NE(out.find("Cannot step in TN handlers.\nLocal variables:\n"), std::string::npos) << out;
  EXPECT_FALSE(present("x"));
}

uint8_t never_breaks(void*) { return 0; }

// `dbhalt` in a handler: the two lines and that handler's locals, then its
// frames go and the engine leaves the debugger, so the next handler runs
// (in one call, and sliced as under the real program's break poll).
TEST_F(App, DbhaltInAHandlerLeavesTheNextOneRunning) {
  build("instance demo\nvar x\nvar y\ninit y = start()\nresize x = halt()\nresize y = one(y)\n",
        "function y = start()\n y = 0;\nendfunction\n"
        "function x = halt()\n q = 3;\n dbhalt;\n x = 1;\nendfunction\n"
        "function y = one(y)\n w = 4;\n y = y + 1;\nendfunction\n");
  for (const bool sliced : {false, true}) {
    SCOPED_TRACE(sliced ? "sliced" : "in one call");
    rt_set_break_poll(host.block, sliced ? never_breaks : nullptr, nullptr);
    host.take_output();
    EXPECT_EQ(call(record(kTagResize, 0)), 505);
    EXPECT_EQ(host.take_output(), "Cannot step in TN handlers.\nLocal variables:\nq = 3;\n");
    EXPECT_FALSE(present("x"));
    EXPECT_EQ(c()->frame, 0);
    EXPECT_EQ(call(record(kTagResize, 1)), 0);
    EXPECT_EQ(call(record(kTagResize, 1)), 0);
    EXPECT_EQ(host.take_output(), "");
    EXPECT_EQ(value("y"), 2);
    // A reset runs the init handler again.
    ASSERT_EQ(call(record(kTagResize, 0)), 505);
    host.take_output();
    EXPECT_EQ(inst_reset(h(), 0), 0);
    EXPECT_EQ(host.take_output(), "");
    EXPECT_EQ(value("y"), 0);
  }
}

TEST_F(App, MessageStopsAtTheLineEndAndRespectsTheCapacity) {
  build(kDescription, kSource);
  const int32_t rec = resize(*this, 14);
  struct Case { int32_t capacity; bool with_length; std::string want; int32_t length; };
  const Case cases[] = {{64, false, "first line", -1}, {6, false, "first", -1}, {64, true, "first line", 10},
                        {4, true, "firs", 4}, {0, false, "", -1}};
  for (const Case& k : cases) {
    char msg[64];
    std::memset(msg, 'Z', sizeof msg);
    int32_t length = -1;
    ASSERT_EQ(handler_call(h(), 0, rec, false, true, false, -1, false, 0, kFdStdout, -1, nullptr, 0, nullptr, msg,
                           k.capacity, k.with_length ? &length : nullptr),
              0);
    EXPECT_EQ(length, k.length) << k.capacity;
    if (k.capacity == 0) {
      EXPECT_EQ(msg[0], 'Z');  // nothing written
    } else if (k.with_length) {
      EXPECT_EQ(std::string(msg, size_t(length)), k.want);
    } else {
      EXPECT_EQ(std::string(msg), k.want);
    }
  }
}

TEST_F(App, InstancesAreFoundByName) {
  build("instance demo.v2\nvar a\ninstance other\nvar b\n", "");
  EXPECT_EQ(inst_find_by_name(host.block, "demo"), 0);
  EXPECT_EQ(inst_find_by_name(host.block, "demo.v2"), 0);
  EXPECT_EQ(inst_find_by_name(host.block, "other"), 1);
  EXPECT_EQ(inst_find_by_name(host.block, "oth"), -1);
  EXPECT_EQ(inst_find_by_name(host.block, "demo.v"), -1);
}

}  // namespace

namespace {

// A data text whose body cannot be read is reported once, as the data
// text's failure: never at the location of a handler that failed before.
TEST_F(App, RefusedDataTextIsReportedAsTheData) {
  build("instance demo\nvar m\nvar y\nresize y = bad()\nresize m = (_xdata)\n",
        "function y = bad()\n a = 1;\n b = 2;\n y = [1 2] + [1 2 3];\nendfunction\n");
  struct Case {
    const char* body;
    int status;
    const char* report;
  } cases[] = {
      {"sin(1)", kBadArgument, "Bad argument '_xdata'\n"},  // no literal: refused before it runs
      {"1, 2", kTooManyInputs, "Too many input arguments '_xdata'\n"},
      {"[1 2] + [1 2 3]", 20, "Incompatible size '+'\n"},  // its run fails and reports itself
      {"x", 201, "Unknown variable or function 'x'\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.body);
    ASSERT_EQ(call(record(kTagResize, 0)), 20);
    EXPECT_EQ(host.take_output(), "Incompatible size (_TN_demo/bad;4) '+'\n");
    std::string text = std::string("%TN xdata \"t\"\r\n") + k.body;
    EXPECT_EQ(handler_call(h(), 0, record(kTagResize, 1), false, true, false, -1, false, 0, kFdStdout, -1, text.data(),
                           int32_t(text.size()), nullptr, nullptr, 0, nullptr),
              k.status);
    EXPECT_EQ(host.take_output(), k.report);
    EXPECT_FALSE(present("m"));
  }
}

// A data handler writes the body, then the header in front of it; another
// reads the text back into a variable.
TEST_F(App, DataTextRoundTripsThroughTwoHandlers) {
  build("instance demo\nvar a\nvar m\ninit a = start()\nresize [_xdata, _xdatatype] = export(a)\n"
        "resize m = (_xdata)\nresize m = (_xdatatype)\n",
        "function a = start()\n a = [1 2.5; -3 4];\nendfunction\n"
        "function [d, t] = export(a)\n d = a;\n t = 'matrix';\nendfunction\n");
  char text[512] = {};
  int32_t length = -1;
  ASSERT_EQ(handler_call(h(), 0, record(kTagResize, 0), false, true, false, -1, false, 0, kFdStdout, 7, text,
                         int32_t(sizeof text), &length, nullptr, 0, nullptr),
            0);
  const std::string written(text, size_t(length));
  EXPECT_EQ(written.rfind("%TN xdata \"matrix\"\r\n%TN link 00 07\r\n", 0), 0u) << written;
  ASSERT_EQ(handler_call(h(), 0, record(kTagResize, 1), false, true, false, -1, false, 0, kFdStdout, -1, text,
                         length, nullptr, nullptr, 0, nullptr),
            0);
  ASSERT_EQ(handler_push_input(host.block, 0, false, code("m")), 0);
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  ASSERT_EQ(stk_get_matrix(c(), 0, &rows, &cols, &re, nullptr), 0);
  ASSERT_EQ(rows * cols, 4);
  EXPECT_EQ(re[1], 2.5);
  EXPECT_EQ(re[2], -3);
  stk_drop(c());
  ASSERT_EQ(handler_call(h(), 0, record(kTagResize, 2), false, true, false, -1, false, 0, kFdStdout, -1, text,
                         length, nullptr, nullptr, 0, nullptr),
            0);
  EXPECT_EQ(text_of("m"), "matrix");
}

}  // namespace
