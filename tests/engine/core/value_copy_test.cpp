// Arrays through calls without needless copies: an argument passed as a
// reference to the caller's variable, moved to the callee when the caller
// stores the result into that variable at once, and put back whole when the
// frame push fails; a local returned into the caller's variable.
#include <gtest/gtest.h>

#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

struct ValueCopy : InterpFixture {
  // g(s, v): v with its first element set to s.
  void define_setter() {
    define("g", "function y = g(s, v)\nasm load_local 1\nasm push_ref_target 2\nasm push_one\n"
                "asm index_assign 1 0\nasm load_local 2\nasm store_local 0\nasm load_local 0\nasm ret_function\nend\n");
  }
  // top(v): v = g(7, v), returned.
  void define_caller() {
    define("top", "function r = top(v)\nasm push_int16 7\nasm load_local 1\nasm call_user @g 2 1\n"
                  "asm store_local 1\nasm load_local 1\nasm store_local 0\nasm load_local 0\nasm ret_function\nend\n");
  }
  void push_row(int n) {
    double* re = nullptr;
    ASSERT_EQ(stk_push_matrix(c, 1, n, &re, nullptr), kOk);
    for (int i = 0; i < n; ++i) re[i] = i + 1;
  }
  // Takes all of the heap but `keep` data words of its largest free block.
  void fill_heap(int64_t keep) {
    std::map<int64_t, HeapBlockView> blocks;
    ASSERT_TRUE(heap_blocks(c, &blocks));
    int64_t largest = 0;
    for (const auto& [index, b] : blocks)
      if (!b.used) largest = std::max(largest, b.size);
    int32_t filler = 0;
    ASSERT_EQ(heap_alloc(c, largest - keep - 1, &filler), kOk);
  }
};

TEST_F(ValueCopy, ArgumentMovesToTheCalleeAndTheResultBack) {
  define_setter();
  define_caller();
  push_row(20);
  // Room for one copy of the row and the scalar's block: no second copy fits.
  fill_heap(30);
  ASSERT_EQ(interp_call(c, "top", 0, 1, 1, 0, 0), kOk);
  const std::vector<double> r = interp_test::values_at(c, 0);
  ASSERT_EQ(r.size(), 20u);
  EXPECT_EQ(r[0], 7.0);
  EXPECT_EQ(r[19], 20.0);
  stk_drop(c);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  EXPECT_TRUE(check_heap_chain(c));
}

TEST_F(ValueCopy, FailedPushPutsTheMovedArgumentBack) {
  define_setter();
  define_caller();
  push_row(20);
  // top's block for v (22 words) fits; g's block for the scalar does not.
  fill_heap(24);
  EXPECT_EQ(interp_call(c, "top", 0, 1, 1, 0, 0), kVariableOverflow);
  // The failed call leaves top's frame as it was: v holds its block, and
  // the reference and the scalar are still its items.
  ASSERT_GT(c->frame, 0);
  const uint32_t* w = frame_words(c, c->frame);
  const int32_t v = int32_t(w[kFrameFixedWords + 1]);
  std::map<int64_t, HeapBlockView> blocks;
  ASSERT_TRUE(heap_blocks(c, &blocks));
  ASSERT_TRUE(blocks.count(v) && blocks[v].used);
  const uint32_t* h = reinterpret_cast<const uint32_t*>(heap_words(c) + v);
  EXPECT_TRUE(h[0] == kKindReal && h[1] == 1 && h[2] == 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(tn::ld_f64(heap_words(c) + v + kHeapValueHeaderWords + i), i + 1.0);
  EXPECT_EQ(frame_arg_count(c), 2);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReference);
  EXPECT_EQ(desc_at(c, 1)[0], kKindReal);
  EXPECT_TRUE(check_heap_chain(c));
  frame_unwind(c, 0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(ValueCopy, ReferencesPackedIntoVararginAreValues) {
  // h(varargin): the second argument of the list.
  define("h", "function y = h(varargin)\nasm push_ref 1\nasm push_int16 2\nasm ref_element 1\nasm deref\n"
              "asm store_local 0\nasm load_local 0\nasm ret_function\nend\n");
  define("top", "function r = top(v)\nasm push_one\nasm load_local 1\nasm call_user @h 2 1\n"
                "asm store_local 1\nasm load_local 1\nasm store_local 0\nasm load_local 0\nasm ret_function\nend\n");
  push_row(12);
  ASSERT_EQ(interp_call(c, "top", 0, 1, 1, 0, 0), kOk);
  const std::vector<double> r = interp_test::values_at(c, 0);
  ASSERT_EQ(r.size(), 12u);
  EXPECT_EQ(r[11], 12.0);
  stk_drop(c);
  EXPECT_TRUE(check_heap_used(c, {}));
}

}  // namespace
