// The interpreter loop with hand-assembled code: scalar fast paths against the
// general handlers, time slices and exact resumption, aborts, breakpoints, try
// handlers, waiting and pending events, and restricted frames.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/errors.h"
#include "engine/core/interp_steps.h"
#include "engine/core/strings.h"
#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

struct Interp : InterpFixture {};

// s = 0; i = 0; while i < n: s = s + i; i = i + 1 (locals 1 and 2 of the base workspace).
std::string sum_loop(int n) {
  return "  push_zero\n  store_local 1\n  push_zero\n  store_local 2\n"
         "loop:\n  load_local 1\n  push_int16 " + std::to_string(n) + "\n  lt\n  jump_if_false done\n"
         "  load_local 2\n  load_local 1\n  plus\n  store_local 2\n  inc_local 1\n  jump loop\n"
         "done:\n  halt\n";
}

TEST_F(Interp, ScalarLoopRunsToTheEndAndLeavesTheBaseFrame) {
  EXPECT_EQ(run(sum_loop(10)), kOk);
  EXPECT_EQ(local(2), 45.0);
  EXPECT_EQ(local(1), 10.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  EXPECT_EQ(c->pos.kind, kAreaNone);
  EXPECT_EQ(c->running, 0);
  EXPECT_TRUE(check_heap_chain(c));
}

TEST_F(Interp, FastPathsGiveWhatTheGeneralPathGives) {
  // Each operation once on scalars (fast) and once on 1 x 1 matrices made by
  // the general handlers (a typed operand falls back): same results.
  struct Case { const char* op; double a, b, want; };
  const Case cases[] = {{"plus", 2, 3, 5},    {"minus", 2, 3, -1},  {"times", 2, 3, 6},
                        {"mtimes", -2, 3, -6}, {"rdivide", 1, 4, 0.25}, {"mrdivide", 1, 0, HUGE_VAL}};
  for (const Case& k : cases) {
    start("  push_double " + std::to_string(k.a) + "\n  push_double " + std::to_string(k.b) + "\n  " + k.op +
              "\n  halt\n",
          1);
    ASSERT_EQ(interp_run(c, 0), kOk) << k.op;
    EXPECT_EQ(pop_real(), k.want) << k.op;
  }
  const char* compares[] = {"eq", "ne", "lt", "gt", "le", "ge"};
  const bool want[][3] = {{false, true, false}, {true, false, true}, {true, false, false},
                          {false, false, true}, {true, true, false}, {false, true, true}};
  const double pairs[][2] = {{1, 2}, {2, 2}, {3, 2}};
  for (int i = 0; i < 6; ++i) {
    for (int j = 0; j < 3; ++j) {
      start("  push_double " + std::to_string(pairs[j][0]) + "\n  push_double " + std::to_string(pairs[j][1]) +
                "\n  " + compares[i] + "\n  halt\n",
            1);
      ASSERT_EQ(interp_run(c, 0), kOk);
      // A logical 1 x 1 exactly as the value-stack pusher makes it.
      uint8_t* e = nullptr;
      ASSERT_EQ(stk_push_logical_array(c, 0, nullptr, &e), kOk);
      *e = want[i][j];
      ASSERT_EQ(desc_data_words(desc_at(c, 0)), desc_data_words(desc_at(c, 1)));
      EXPECT_EQ(std::memcmp(desc_at(c, 0), desc_at(c, 1), 12), 0);
      EXPECT_EQ(std::memcmp(item_data(c, 0), item_data(c, 1), 24), 0) << compares[i] << j;
      stk_drop(c);
      stk_drop(c);
    }
  }
  // NaN is true as a condition, and never equal.
  start("  push_double nan\n  jump_if_false no\n  push_one\n  halt\nno:\n  push_zero\n  halt\n", 1);
  ASSERT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 1.0);
}

TEST_F(Interp, FusedComparisonAndJumpLeaveWhatTheSeparateStepsLeave) {
  // «load_local x; y; op; jump» with x a real scalar local is one step; the
  // same words with a jump to the next instruction after each take the
  // separate steps. Both must leave the same stacks, locals and branch,
  // word for word.
  const char* ops[] = {"eq", "ne", "lt", "gt", "le", "ge"};
  const char* seconds[] = {"push_int16 2", "push_int16 -3", "push_zero", "push_one", "load_local 2"};
  const char* xs[] = {"2", "raw:0x8000000000000000", "0", "nan", "1.5", "-inf", "-3"};
  const char* jumps[] = {"jump_if_false", "jump_if_true"};
  auto state = [&](bool split, const std::string& x, const std::string& second, const std::string& op,
                   const std::string& jump) {
    const std::string gap = split ? "  jump 0\n" : "";
    const std::string code = "  push_double " + x + "\n  store_local 1\n  push_double 0\n  store_local 2\n" +
                             "  load_local 1\n" + gap + "  " + second + "\n" + gap + "  " + op + "\n" + gap +
                             "  " + jump + " no\n  push_one\n  halt\nno:\n  push_zero\n  halt\n";
    EXPECT_EQ(run(code, 1), kOk) << code;
    std::vector<uint64_t> words(data_words(c), data_words(c) + c->data_top);
    words.insert(words.end(), desc_words(c) + kBaseFrameWords, desc_words(c) + c->desc_top);
    words.push_back(std::bit_cast<uint64_t>(local(1)));
    words.push_back(std::bit_cast<uint64_t>(local(2)));
    while (c->desc_top > kBaseFrameWords) stk_drop(c);
    return words;
  };
  for (const char* op : ops)
    for (const char* second : seconds)
      for (const char* x : xs)
        for (const char* jump : jumps)
          EXPECT_EQ(state(false, x, second, op, jump), state(true, x, second, op, jump))
              << op << " " << second << " " << x << " " << jump;
}

TEST_F(Interp, FusedStepsThatPushNothingLeaveAFullStackAsTheSeparateStepsDo) {
  // A comparison feeding its jump, an operation stored at once and a local
  // copied to another push nothing, so they run with no room left on the
  // stacks (where the separate steps would have to grow them). Each must
  // take the branch and leave the locals the separate steps leave on stacks
  // with room.
  const char* bodies[] = {"load_local 1\n@push_int16 2\n@lt\n@jump_if_false no",
                          "load_local 1\n@push_int16 2\n@ge\n@jump_if_true no",
                          "load_local 1\n@load_local 2\n@lt\n@jump_if_false no",
                          "load_local 1\n@push_one\n@plus\n@store_local 1",
                          "load_local 1\n@load_local 2\n@minus\n@store_local 2",
                          "load_local 1\n@store_local 2",
                          "load_local 1\n@push_one\n@minus\n@store_local 3"};
  auto state = [&](bool split, bool full, std::string body) {
    for (size_t at; (at = body.find('@')) != std::string::npos;) body.replace(at, 1, split ? "  jump 0\n  " : "  ");
    // The locals are set first, up to the backward jump that ends the slice.
    start("  jump set\ngo:\n  " + body + "\n  halt\nno:\n  dec_local 4\n  halt\nset:\n  push_double 1.5\n"
          "  store_local 1\n  push_double -4\n  store_local 2\n  push_zero\n  store_local 4\n  jump go\n");
    std::vector<uint64_t> words;
    if (testing::Test::HasFatalFailure()) return words;
    EXPECT_EQ(interp_run(c, 1), kSliceEnded) << body;
    while (full && uint32_t(c->desc_top) + 3u < c->desc_capacity && uint32_t(c->data_top) + 1u < c->data_capacity)
      EXPECT_EQ(stk_push_real(c, 7.0), kOk);
    EXPECT_EQ(interp_run(c, 0), kOk) << body;
    for (int k = 1; k <= 4; ++k) {  // local 4: -1 where the branch was taken
      const uint32_t slot = frame_words(c, 0)[kFrameFixedWords + k];
      words.push_back(slot == uint32_t(-1) ? 0 : heap_words(c)[slot + kHeapValueHeaderWords]);
    }
    while (c->desc_top > kBaseFrameWords) stk_drop(c);
    return words;
  };
  for (const char* body : bodies) {
    const std::vector<uint64_t> want = state(true, false, body);
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(state(false, true, body), want) << body;
    EXPECT_EQ(state(false, false, body), want) << body;
  }
}

// A scalar local, set by `value`, loaded where no fused step takes it
// pushes: with no room left the handler reports the overflow, and the
// stacks and the locals stay as they were.
void full_stack_scalar_load(Interp& t, const char* value) {
  EngineContext* c = t.c;
  t.start(std::string("  jump set\ngo:\n  load_local 1\n  push_double 3\n  times\n  store_local 2\n  halt\n"
                      "set:\n  ") + value + "\n  store_local 1\n  push_zero\n  store_local 2\n  jump go\n");
  ASSERT_EQ(interp_run(c, 1), kSliceEnded);
  while (uint32_t(c->desc_top) + 3u < c->desc_capacity && uint32_t(c->data_top) + 1u < c->data_capacity)
    ASSERT_EQ(stk_push_real(c, 7.0), kOk);
  const int32_t dt = c->desc_top, vt = c->data_top;
  const double before = t.local(1);
  EXPECT_NE(interp_run(c, 0), kOk);
  EXPECT_EQ(c->desc_top, dt);
  EXPECT_EQ(c->data_top, vt);
  EXPECT_EQ(t.local(1), before);
  EXPECT_EQ(t.local(2), 0.0);
}
TEST_F(Interp, RealScalarLoadThatPushesOnAFullStackFailsWithNothingChanged) {
  full_stack_scalar_load(*this, "push_double 1.5");
}
TEST_F(Interp, ComplexScalarLoadThatPushesOnAFullStackFailsWithNothingChanged) {
  full_stack_scalar_load(*this, "push_imag_int16 2");
}

TEST_F(Interp, TimeSliceHandsBackOnEveryBackwardJumpAndResumesExactly) {
  start(sum_loop(10));
  int slices = 0;
  int status;
  while ((status = interp_run(c, 1)) == kSliceEnded) {
    ++slices;
    // Handed back just after the jump: at the loop head, the local not yet reloaded.
    const uint16_t* pc = code_get_pc(c);
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(pc[0], kOpLoadLocal);
    EXPECT_EQ(local(1), double(slices));
    EXPECT_EQ(c->running, 0);
  }
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(slices, 10);
  EXPECT_EQ(local(2), 45.0);
  // A backward jump_if_true hands back too.
  start("  push_int16 3\n  store_local 1\nloop:\n  dec_local 1\n  load_local 1\n  jump_if_true loop\n  halt\n");
  slices = 0;
  while ((status = interp_run(c, 1)) == kSliceEnded) ++slices;
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(slices, 2);
  EXPECT_EQ(local(1), 0.0);
}

uint8_t g_abort_answer = 0;
uint8_t abort_poll(void*) { return g_abort_answer; }

TEST_F(Interp, AbortAtABackwardJumpEndsTheRunUncaught) {
  engine_set_option_pair(c, abort_poll, nullptr);
  g_abort_answer = 1;
  start("  try_handler catch 0\nloop:\n  jump loop\ncatch:\n  halt\n");
  EXPECT_EQ(interp_run(c, 1), kAborted);
  EXPECT_EQ(c->pos.kind, kAreaNone);
  g_abort_answer = 0;
  engine_set_option_pair(c, nullptr, nullptr);
}

TEST_F(Interp, TryHandlerCatchesAndCutsTheStackToItsDepth) {
  // Kept: the frame's code item and the two values.
  start("  push_int16 1\n  push_int16 2\n  try_handler catch 2\n"
        "  push_int16 5\n  push_int16 6\n  lib 30000 0 0\n  try_handler 0 2\n  jump done\n"
        "catch:\n  push_int16 99\ndone:\n  halt\n",
        3);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 99.0);
  EXPECT_EQ(pop_real(), 2.0);
  EXPECT_EQ(pop_real(), 1.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  EXPECT_EQ(c->status_word, kNotSupported);
  EXPECT_EQ(output(), "");  // caught: nothing printed
  // The error is kept for lasterr.
  char report[kReportBufferBytes];
  int32_t n = 0;
  err_format_report(c, c->status_word, false, report, sizeof report, &n);
  EXPECT_NE(std::string(report, n).find("Not supported"), std::string::npos);
}

TEST_F(Interp, ErrorInACalleeIsCaughtByTheCallerAndItsFramesGo) {
  define("bad", "function y = bad(x)\nasm push_int16 4\nasm lib 30000 0 0\nend\n");
  define("top", "function y = top(x)\nasm try_handler catch 0\nasm load_local 1\nasm call_user @bad 1 1\n"
                "asm store_local 0\nasm load_local 0\nasm ret_function\nasm catch:\nasm push_int16 -1\n"
                "asm ret_function\nend\n");
  ASSERT_EQ(stk_push_real(c, 3), kOk);
  EXPECT_EQ(interp_call(c, "top", 0, 1, 1, 0, 0), kOk);
  EXPECT_EQ(pop_real(), -1.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  EXPECT_TRUE(check_heap_chain(c));
}

TEST_F(Interp, FusedReturnTakesExactlyItsPatternFromACallingFunction) {
  // «nargout 0; jump_if_false L; load_local k; L: ret_function» of a function
  // called from a function's code returns local k straight into the caller,
  // whichever its slot; the same words with anything else where ret_function
  // stands take the separate steps. Locals: 0 y, 1 x, 2 z = x + 10.
  struct Case { const char* end; double want; };
  const Case cases[] = {
      {"asm load_local 0\nasm out:\nasm ret_function\n", 6},
      {"asm load_local 2\nasm out:\nasm ret_function\n", 13},
      {"asm load_local 1\nasm out:\nasm ret_function\n", 3},
      {"asm load_local 0\nasm out:\nasm push_one\nasm plus\nasm ret_function\n", 7},
      {"asm load_local 2\nasm out:\nasm uminus\nasm ret_function\n", -13},
      // Another two-word step where the load stands: its operand is no local.
      {"asm push_int16 2\nasm out:\nasm ret_function\n", 2},
  };
  int n = 0;
  for (const Case& k : cases) {
    const std::string callee = "callee" + std::to_string(n), top = "top" + std::to_string(n++);
    define(callee, "function y = " + callee + "(x, z)\nasm load_local 1\nasm push_int16 2\nasm times\n" +
                       "asm store_local 0\nasm load_local 1\nasm push_int16 10\nasm plus\nasm store_local 2\n" +
                       "asm nargout 0\nasm jump_if_false out\n" + k.end + "end\n");
    define(top, "function y = " + top + "(x)\nasm load_local 1\nasm call_user @" + callee +
                    " 1 1\nasm store_local 0\nasm load_local 0\nasm ret_function\nend\n");
    for (int run = 0; run < 2; ++run) {  // the second through the call cache
      ASSERT_EQ(stk_push_real(c, 3), kOk);
      EXPECT_EQ(interp_call(c, top.c_str(), 0, 1, 1, 0, 0), kOk) << k.end;
      EXPECT_EQ(pop_real(), k.want) << k.end;
      EXPECT_EQ(c->desc_top, kBaseFrameWords) << k.end;
      EXPECT_TRUE(check_heap_chain(c)) << k.end;
    }
  }
}

TEST_F(Interp, FusedReturnLeavesTheWordsTheSeparateStepsLeave) {
  // The return pattern and the same words with a step between the load and
  // ret_function (which the fusion does not take), each in a fresh engine:
  // where the caller stops right after the call, both stacks, the heap, the
  // frame, the position and the heap's hint must agree word for word.
  // Callee locals: 0 y, 1 x, then z and w where declared (never given).
  struct Case { const char* what; const char* head; const char* body; int k; int nargout; };
  const Case cases[] = {
      {"two locals, y", "function y = f(x)", "asm load_local 1\nasm push_int16 2\nasm times\nasm store_local 0\n", 0, 1},
      {"two locals, x", "function y = f(x)", "asm load_local 1\nasm store_local 0\n", 1, 1},
      {"four locals, z", "function y = f(x, z, w)",
       "asm load_local 1\nasm push_int16 3\nasm plus\nasm store_local 2\nasm load_local 2\nasm store_local 0\n"
       "asm load_local 1\nasm store_local 3\n", 2, 1},
      {"slots found afresh", "function y = f(x)",
       "asm load_local 1\nasm store_local 0\nasm push_string8 \"a\"\nasm pop_item\n", 0, 1},
      {"no output asked", "function y = f(x)", "asm load_local 1\nasm store_local 0\n", 0, 0},
      {"not a real scalar", "function y = f(x)", "asm push_string8 \"ab\"\nasm store_local 0\n", 0, 1},
  };
  auto state = [](const Case& k, bool split) {
    EngineBlock b = EngineBlock::make(kBlockBytes);
    EngineContext* e = b.ctx();
    auto def = [&](const std::string& name, const std::string& text) {
      int32_t id = 0;
      EXPECT_EQ(fn_define_from_source(e, name.data(), int32_t(name.size()), text.data(), int32_t(text.size()), 0, 0,
                                      0, &id),
                kOk);
    };
    // The caller first, so that its code lies where it lies in both engines;
    // its backward jump hands back right after the call.
    def("top", "function y = top(x)\nasm load_local 1\nasm call_user @f 1 " + std::to_string(k.nargout) +
                   "\nasm stop:\nasm jump stop\nend\n");
    def("f", std::string(k.head) + "\n" + k.body + "asm nargout 0\nasm jump_if_false out\nasm load_local " +
                 std::to_string(k.k) + "\n" + (split ? "asm jump 0\n" : "") + "asm out:\nasm ret_function\nend\n");
    std::vector<uint64_t> words;
    EXPECT_EQ(stk_push_real(e, 5), kOk);
    EXPECT_EQ(interp_call(e, "top", 0, 1, 1, 0, 1), kSliceEnded) << k.what;
    words.assign(data_words(e), data_words(e) + e->data_top);
    words.insert(words.end(), desc_words(e), desc_words(e) + e->desc_top);
    words.insert(words.end(), heap_words(e), heap_words(e) + e->heap_size);
    words.insert(words.end(), {uint64_t(e->frame), uint64_t(e->pos.kind), e->pos.flag, e->pos.offset,
                               uint64_t(e->heap_hint), uint64_t(e->heap_hints_split)});
    return words;
  };
  for (const Case& k : cases) EXPECT_EQ(state(k, false), state(k, true)) << k.what;
}

int ok_builtin(EngineContext* ctx, int, int, uintptr_t) { return stk_push_real(ctx, 1); }

TEST_F(Interp, RestrictedFrameCannotCallACoreRowAndNoInnerTryCatchesIt) {
  const BuiltinEntry table[] = {marker_row("@core"), fn_row("corefn", ok_builtin, 0, 0, 0, 1),
                                marker_row("!grp"), fn_row("grpfn", ok_builtin, 0, 0, 0, 1),
                                BuiltinEntry{}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  // A restricted function with a try of its own around a call of a core row.
  const std::string inner = "function y = inner\nasm try_handler catch 0\nasm lib 3 0 1\nasm lib 1 0 1\n"
                            "asm plus\nasm ret_function\nasm catch:\nasm push_int16 -1\nasm ret_function\nend\n";
  int32_t id = 0;
  ASSERT_EQ(fn_define_from_source(c, "inner", 5, inner.data(), int32_t(inner.size()), 0, 0, 1, &id), kOk);
  EXPECT_EQ(interp_call(c, "inner", 0, 0, 1, 0, 0), kSecurityViolation);
  EXPECT_NE(output().find("Security violation"), std::string::npos);
  frame_unwind(c, 0);
  // The first handler outside the restricted code catches it.
  define("outer", "function y = outer\nasm try_handler catch 0\nasm call_user @inner 0 1\nasm ret_function\n"
                  "asm catch:\nasm push_int16 -2\nasm ret_function\nend\n");
  EXPECT_EQ(interp_call(c, "outer", 0, 0, 1, 0, 0), kOk);
  EXPECT_EQ(pop_real(), -2.0);
  // The "!" group is open to restricted frames; the frame flag of interp_call restricts too.
  define("grp", "function y = grp\nasm lib 3 0 1\nasm ret_function\nend\n");
  EXPECT_EQ(interp_call(c, "grp", 0, 0, 1, 1, 0), kOk);
  EXPECT_EQ(pop_real(), 1.0);
  define("core", "function y = core\nasm lib 1 0 1\nasm ret_function\nend\n");
  EXPECT_EQ(interp_call(c, "core", 0, 0, 1, 1, 0), kSecurityViolation);
  frame_unwind(c, 0);  // the host's part after an uncaught error
  EXPECT_EQ(interp_call(c, "core", 0, 0, 1, 0, 0), kOk);
  EXPECT_EQ(pop_real(), 1.0);
}

}  // namespace

namespace {

struct Debugging : InterpFixture {
  SourceStore store;
  BuiltinEntry hooks[2] = {hook_row(kHookReadFn, store_hook, reinterpret_cast<uintptr_t>(&store)), BuiltinEntry{}};
  const std::string text = "function y = f(x)\nasm position @f 2\nasm load_local 1\nasm position @f 4\n"
                           "asm store_local 0\nasm load_local 0\nasm ret_function\nend\n";
  int32_t fid = 0;
  Debugging() {
    store.first_line = 1;
    store.function("f", text);
    EXPECT_EQ(engine_register_builtin_table(c, hooks, 1), kOk);
    fid = define("f", text);
  }
  void breakpoint(int32_t line) {
    int32_t block = 0;
    ASSERT_EQ(heap_alloc(c, 1, &block), kOk);
    uint8_t* p = reinterpret_cast<uint8_t*>(heap_words(c) + block);
    tn::st_i32(p, fid);
    tn::st_i32(p + 4, line);
    c->bp_list = block;
    c->bp_count = 1;
  }
};

TEST_F(Debugging, BreakpointSuspendsWith505UntilTheStatusIsCleared) {
  breakpoint(4);
  ASSERT_EQ(stk_push_real(c, 9), kOk);
  EXPECT_EQ(interp_call(c, "f", 0, 1, 1, 0, 0), kDebugSuspend);
  EXPECT_EQ(output(), "<f:4> asm position @f 4\n");
  EXPECT_EQ(c->status_word, kDebugSuspend);
  const uint32_t* w = frame_words(c, c->frame);
  EXPECT_EQ(int32_t(w[kFwStepMode]), kStepStopAtNext);
  EXPECT_EQ(int32_t(w[kFwSuspendKind]), kAreaCode);
  EXPECT_EQ(w[kFwSuspendOffset], c->pos.offset);
  EXPECT_EQ(int32_t(w[kFwLine]), 4);
  EXPECT_EQ(interp_run(c, 0), kDebugSuspend);  // until the debugger clears it
  // The debugger's continue: step mode and status cleared, the run goes on.
  frame_words(c, c->frame)[kFwStepMode] = kStepRun;
  c->status_word = 0;
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 9.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(Debugging, UndefinedLocalOfTheFunctionIsAnUndefinedInput) {
  // Called without its argument, f reads an unset input slot.
  EXPECT_EQ(interp_call(c, "f", 0, 0, 1, 0, 0), kUndefinedInputArg);
  EXPECT_NE(output().find("'x'"), std::string::npos) << output();
  frame_unwind(c, 0);
  // A base-workspace slot beyond the frame's own locals stays undefined.
  EXPECT_EQ(run("  load_local 5\n  halt\n"), kUndefinedVariable);
}

}  // namespace

namespace {

int g_calls = 0;
int g_answers[4] = {};
// Answers from g_answers in turn, then 0; pushes its call number when its
// work is done (0, or 504: complete, then yield).
int scripted_builtin(EngineContext* ctx, int, int, uintptr_t) {
  const int status = g_calls < 4 ? g_answers[g_calls] : kOk;
  ++g_calls;
  if (status != kOk && status != kYield) return status;
  TN_TRY(stk_push_real(ctx, g_calls));
  return status;
}

struct Statuses : InterpFixture {
  const BuiltinEntry table[2] = {fn_row("scripted", scripted_builtin, 0, 0, 0, 1), BuiltinEntry{}};
  Statuses() {
    EXPECT_EQ(engine_register_builtin_table(c, table, 1), kOk);
    g_calls = 0;
    std::fill(g_answers, g_answers + 4, kOk);
  }
};

TEST_F(Statuses, WaitAndYieldHandBackAtTheRightInstruction) {
  // 502: handed back as 500 before the instruction, which runs again.
  // 504: the instruction is complete; handed back after it.
  // 503: the run ends with 503 before the instruction, which runs again.
  const int answers[4] = {kWaitRetry, kYield, kWaitInput, kOk};
  std::copy(answers, answers + 4, g_answers);
  start("  lib 0 0 1\n  lib 0 0 1\n  lib 0 0 1\n  halt\n", 3);
  const uint16_t* first = nullptr;
  EXPECT_EQ(interp_run(c, 0), kSliceEnded);
  EXPECT_EQ(g_calls, 1);
  first = code_get_pc(c);
  EXPECT_EQ(interp_run(c, 0), kSliceEnded);  // the retry, complete, then the yield
  EXPECT_EQ(g_calls, 2);
  EXPECT_EQ(code_get_pc(c), first + kLibraryCallWords);
  EXPECT_EQ(interp_run(c, 0), kWaitInput);
  EXPECT_EQ(g_calls, 3);
  EXPECT_EQ(code_get_pc(c), first + kLibraryCallWords);
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(pop_real(), 5.0);
  EXPECT_EQ(pop_real(), 4.0);
  EXPECT_EQ(pop_real(), 2.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

int g_event_runs = 0;
int count_event(EngineContext* ctx, void* data) {
  ++g_event_runs;
  return stk_push_real(ctx, double(reinterpret_cast<uintptr_t>(data)));
}

TEST_F(Statuses, PendingEventsRunBetweenInstructions) {
  start("  push_int16 1\n  push_int16 2\n  halt\n", 4);
  c->events[0] = PendingEvent{count_event, reinterpret_cast<void*>(uintptr_t(7))};
  c->events[1] = PendingEvent{count_event, reinterpret_cast<void*>(uintptr_t(8))};
  c->event_count = 2;
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(g_event_runs, 2);
  EXPECT_EQ(c->event_count, 0);
  // One at the run's entry, one at the first instruction boundary.
  std::vector<double> got;
  for (int i = 0; i < 4; ++i) got.push_back(pop_real());
  EXPECT_EQ(got, (std::vector<double>{2, 1, 8, 7}));
}

double g_tick = 0;
double tick_clock(void*, int, int) { return g_tick; }
int g_yields = 0;
bool counting_yield(EngineContext* ctx, CodePosition*) {
  ++g_yields;
  ctx->time_used = 0;
  return false;
}

// The clock is read once a lap of steps, and each reading sets the next
// lap's budget from the rate it measured: a fiftieth of the 0.05 s slice
// (1 ms), or what is left of the slice when that is less; at most twice the
// last budget, so one lap of cheap steps before costly ones overruns little.
TEST(SliceBudget, FollowsTheRateTheLapMeasured) {
  struct Case {
    int32_t budget;
    double lap, left;
    int32_t want;
  };
  const Case cases[] = {
      {100, 0.001, 1.0, 100},     // the lap took a fiftieth: the same again
      {1000, 0.01, 1.0, 100},     // ten times too long: a tenth
      {100, 0.0001, 1.0, 200},    // ten times too short: twice, no more
      {1, 0.0, 1.0, 2},           // a clock coarser than the lap: twice
      {40000, 0.0, 1.0, 65536},   // the most
      {1000, 0.001, 0.0005, 500}, // half a fiftieth left of the slice
      {1000, 0.001, -0.01, 1},    // the slice is over
      {0, 0.001, 1.0, 1},         // no budget yet: one step
      {-5, 0.0, 1.0, 2},
      {1, 1e9, 1.0, 1},           // a lap that took ages: one step
      {100, std::nan(""), 1.0, 200},
  };
  for (const Case& k : cases)
    EXPECT_EQ(interp_steps::slice_next_budget(k.budget, k.lap, k.left, 0.05), k.want)
        << k.budget << " " << k.lap << " " << k.left;
}

TEST_F(Statuses, TimeSliceYieldsOnlyWhenUsedTimeExceedsIt) {
  const InterpTaskOps ops{counting_yield, nullptr, nullptr, nullptr};
  interp_set_task_ops(&ops);
  engine_set_callbacks(c, tick_clock, nullptr, 0);
  c->task_first = 1;  // tasks exist (the scheduler is stood in for)
  c->time_slice = 0.5;
  g_tick = 0.25;
  // The entry reads the clock once to start the lap; then every instruction
  // adds a tick: two ticks equal the slice (no yield), the third exceeds it.
  start("  push_int16 1\n  push_int16 2\n  push_int16 3\n  push_int16 4\n  push_int16 5\n  push_int16 6\n"
        "  halt\n");
  EXPECT_EQ(interp_run(c, 0), kOk);
  EXPECT_EQ(g_yields, 2);
  c->task_first = 0;
  engine_set_callbacks(c, nullptr, nullptr, 0);
  interp_set_task_ops(nullptr);
}

}  // namespace

namespace {

TEST_F(Interp, ClearFunctionsIsRefusedOnlyWhileFunctionCodeRuns) {
  const int32_t f = define("f", "function y = f\nasm push_string8 \"-f\"\nasm clear 1\nasm push_one\n"
                                "asm ret_function\nend\n");
  EXPECT_EQ(interp_call(c, "f", 0, 0, 1, 0, 0), kBadContext);
  frame_unwind(c, 0);
  // Top-level code (held on the data stack) may remove every function's code.
  EXPECT_EQ(run("  push_string8 \"-f\"\n  clear 1\n  halt\n"), kOk);
  EXPECT_EQ(ent(c, f, kEntCode), kCodeNotCompiled);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

}  // namespace

namespace {

TEST_F(Interp, IntegerConversionOfAnUnsupportedValueIsAWrongArgument) {
  EXPECT_EQ(run("  make_list 0\n  int8\n  halt\n"), kWrongArgType);
  frame_unwind(c, 0);
  c->desc_top = kBaseFrameWords;
  c->data_top = 0;
  EXPECT_EQ(run("  push_double 300.7\n  uint8\n  halt\n", 1), kOk);
  int32_t v = 0;
  EXPECT_EQ(stk_get_int(c, 0, &v), kOk);
  EXPECT_EQ(v, 44);  // truncated, then wrapped in eight bits
}

}  // namespace

namespace {

// Text written by the code itself goes through the charset encoder when one
// is selected (UTF-8, a surrogate unit as U+FFFD); without one, a character
// above 255 has no byte and is written as '?'.
TEST_F(Interp, SixteenBitTextIsWrittenThroughTheCharset) {
  const std::string code = "  write_string16 \"A\\u00e9\\u20ac\\ud800!\"\n  halt\n";
  ASSERT_EQ(run(code), kOk) << output();
  EXPECT_EQ(output(), "A\xe9?" "?!");
  out_len = 0;
  engine_set_charset(c, 'u');
  ASSERT_EQ(run(code), kOk);
  EXPECT_EQ(output(), "A\xc3\xa9\xe2\x82\xac\xef\xbf\xbd!");
  out_len = 0;
  // Longer than one chunk of the encoder's buffer.
  ASSERT_EQ(run("  write_string16 \"" + std::string(150, 'x') + "\\u20ac\"\n  halt\n"), kOk);
  EXPECT_EQ(output(), std::string(150, 'x') + "\xe2\x82\xac");
}

}  // namespace
