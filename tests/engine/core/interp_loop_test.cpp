// A for loop's steps done together by the interpreter (the range's next value
// stored into its variable with the body's first line, and the end of a body
// whose last statement is «s = s + a / b» with the backward jump and the next
// step) against the same code with a nop between the steps, which takes
// each step alone: the same stacks, locals and recorded lines, word for
// word, after a whole run and after every slice of a run by slices.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/frames.h"
#include "engine/core/lib_calls.h"
#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

// a / b of two real scalars, noted as a right division: the row a library's
// `/` is, done inline by the loop.
int right_division(EngineContext* c, int, int, uintptr_t) {
  double b = 0, a = 0;
  TN_TRY(stk_pop_real_scalar(c, &b));
  TN_TRY(stk_pop_real_scalar(c, &a));
  return stk_push_real(c, a / b);
}
const bool kNoted = lib_note_scalar_operator(right_division, kOpMrdivide) == kOk;


// What a run leaves that the steps could change: the items above the
// running frame's code (the loop's state), locals 1 to 3 of the workspace
// with their headers, and the line and function the frame recorded.
struct State {
  std::vector<uint32_t> desc;
  std::vector<uint64_t> data;
  std::vector<std::vector<uint64_t>> locals;
  uint32_t line = 0, function = 0;
  std::string output;  // what the run wrote (an error's report)
  bool operator==(const State&) const = default;
};

// The bodies whose end is done with the loop's next step: «s = s + 1 / (k * k)»
// (a library division) and «s = s + k * m» (three locals).
enum class Body { kDivision, kProduct };

// One loop over locals 1 (the sum), 2 (the variable) and 3 (a factor):
// `before` sets them, then, over the n values on top packed as a range,
//   for k = range; [if s > 1, local 4; end] body; end
// (the test when `fails`: local 4 is never set, so a step after the sum
// passes 1 fails on the body's first line) with a nop between the steps
// that are otherwise done together when split.
std::string loop_code(const std::string& before, const std::string& range, int n, Body body, bool split,
                      bool fails) {
  const std::string gap = split ? "  nop\n" : "";
  const std::string test = fails ? "  load_local 1\n  push_int16 1\n  gt\n  jump_if_false ok\n  load_local 4\n"
                                   "  pop_item\nok:\n" : "";
  const std::string statement =
      body == Body::kDivision
          ? "  load_local 1\n  push_one\n  load_local 2\n  load_local 2\n  mtimes\n  lib 0 2 1\n" + gap + "  plus\n"
          : "  load_local 1\n  load_local 2\n  load_local 3\n  mtimes\n" + gap + "  plus\n";
  return before + "  push_double 0.5\n  store_local 3\n" + range + "  range_pack " + std::to_string(n) + "\n" +
         "top:\n  for_range_next done\n" + gap + "  store_local 2\n" + gap + "  position -1 4\n" + test +
         statement + "  store_local 1\n" + gap + "  position -1 5\n" + gap + "  jump top\n" +
         "done:\n  pop_item\n  position -1 6\n  halt\n";
}

struct LoopSteps : InterpFixture {
  const BuiltinEntry table[2] = {fn_row("slash", right_division, 2, 2, 0, 1), BuiltinEntry{}};

  // A fresh engine, as the fixture makes it, with the division's table.
  void fresh() {
    eng = EngineBlock::make(kBlockBytes);
    c = eng.ctx();
    out_len = 0;
    c->capture = CaptureBuffer{out_buf, sizeof out_buf, &out_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
    ASSERT_EQ(engine_register_builtin_table(c, errors_table, 0), kOk);
    ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  }

  State state() {
    State s;
    // The code is the running frame's first item: the items above it.
    const int64_t floor = c->frame + frame_fixed_words(frame_words(c, c->frame));
    const uint32_t* desc = desc_words(c);
    const int64_t first = c->frame > 0 ? floor + kDescWords : floor;
    s.desc.assign(desc + std::min(first, int64_t(c->desc_top)), desc + c->desc_top);
    int64_t words = 0;
    for (int64_t d = first; d < c->desc_top; d += kDescWords) words += desc_data_words(desc + d);
    s.data.assign(data_words(c) + c->data_top - words, data_words(c) + c->data_top);
    for (int k = 1; k <= 3; ++k) {
      const uint32_t b = frame_words(c, 0)[kFrameFixedWords + k];
      std::vector<uint64_t> value;
      if (b != uint32_t(-1) && b != 0) {
        const uint64_t* h = heap_words(c) + b;
        value.assign(h, h + kHeapValueHeaderWords + desc_data_words(reinterpret_cast<const uint32_t*>(h)));
      }
      s.locals.push_back(value);
    }
    const uint32_t* w = frame_words(c, c->frame);
    s.line = w[kFwLine];
    s.function = w[kFwCurrentFunction];
    s.output = output();
    return s;
  }

  // The states after each slice (one slice: a run without them), in a fresh
  // engine, and the run's status.
  std::vector<State> run_states(const std::string& code, bool slices, int* status) {
    fresh();
    start(code);
    std::vector<State> states;
    while ((*status = interp_run(c, slices ? 1 : 0)) == kSliceEnded) states.push_back(state());
    states.push_back(state());
    EXPECT_TRUE(check_heap_chain(c));
    return states;
  }
};

TEST_F(LoopSteps, TogetherAsEachAloneInEveryShapeOfLoopAndRun) {
  EXPECT_TRUE(kNoted);
  struct Case {
    const char* name;
    const char* before;
    const char* range;
    int n;        // values packed
    bool fails;   // the body's first line fails after the second step
    int status;   // the run's
  } cases[] = {
      {"a plain series", "  push_zero\n  store_local 1\n", "  push_one\n  push_int16 20\n", 2, false, kOk},
      {"an empty range", "  push_zero\n  store_local 1\n", "  push_int16 5\n  push_one\n", 2, false, kOk},
      {"a zero step", "  push_zero\n  store_local 1\n", "  push_one\n  push_zero\n  push_int16 5\n", 3, false, kOk},
      {"a negative fractional step", "  push_zero\n  store_local 1\n",
       "  push_int16 3\n  push_double -0.25\n  push_zero\n", 3, false, kOk},
      {"a sum not yet defined", "", "  push_one\n  push_int16 4\n", 2, false, kUndefinedVariable},
      {"a variable holding text", "  push_zero\n  store_local 1\n  push_string8 \"ab\"\n  store_local 2\n",
       "  push_one\n  push_int16 3\n", 2, false, kOk},
      {"a sum holding text", "  push_string8 \"ab\"\n  store_local 1\n", "  push_one\n  push_int16 3\n", 2, false, kOk},
      {"steps past 2^53", "  push_zero\n  store_local 1\n",
       "  push_double 9007199254740989\n  push_double 9007199254740994\n", 2, false, kOk},
      {"an error on the body's first line", "  push_zero\n  store_local 1\n", "  push_one\n  push_int16 9\n", 2,
       true, kUndefinedVariable},
  };
  for (const Case& k : cases) {
    for (const Body body : {Body::kDivision, Body::kProduct})
    for (const bool slices : {false, true}) {
      SCOPED_TRACE(std::string(k.name) + (body == Body::kDivision ? ", a division" : ", a product") +
                   (slices ? ", by slices" : ""));
      int together_status = 0, alone_status = 0;
      const std::vector<State> together =
          run_states(loop_code(k.before, k.range, k.n, body, false, k.fails), slices, &together_status);
      const std::vector<State> alone =
          run_states(loop_code(k.before, k.range, k.n, body, true, k.fails), slices, &alone_status);
      EXPECT_EQ(together_status, alone_status);
      EXPECT_EQ(together_status, k.status);
      ASSERT_EQ(together.size(), alone.size());
      for (size_t i = 0; i < together.size(); ++i) EXPECT_TRUE(together[i] == alone[i]) << "after slice " << i;
    }
  }
}

}  // namespace
