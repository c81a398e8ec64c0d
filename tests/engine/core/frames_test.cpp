// Call frames: pushing with argument checks and varargin, popping with
// results, unwinding, try handlers and statement calls.
// Every case ends with the heap holding exactly the blocks someone owns.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <map>
#include <string>

#include "engine/core/assign.h"
#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/service_table.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"
#include "support/code_builder.h"
#include "support/engine_block.h"
#include "support/heap_check.h"

namespace {

constexpr uint32_t kBlockBytes = 65536;

double real_at(EngineContext* c, int depth) {
  double v = 0;
  EXPECT_EQ(stk_get_real_scalar(c, depth, &v), kOk);
  return v;
}

// The value stored in a local's heap block: kind, a, b and the first data word.
struct HeapValue {
  uint32_t kind, a, b;
  double first;
};
HeapValue local_value(EngineContext* c, int32_t slot) {
  const uint32_t* w = frame_words(c, c->frame);
  const int32_t index = int32_t(w[kFrameFixedWords + slot]);
  EXPECT_GT(index, 0);
  const uint64_t* h = heap_words(c) + index;
  HeapValue v{};
  std::memcpy(&v.kind, h, 4);
  std::memcpy(&v.a, reinterpret_cast<const uint8_t*>(h) + 4, 4);
  std::memcpy(&v.b, reinterpret_cast<const uint8_t*>(h) + 8, 4);
  std::memcpy(&v.first, h + kHeapValueHeaderWords, 8);
  return v;
}

struct Frames : ::testing::Test {
  EngineBlock b = EngineBlock::make(kBlockBytes);
  EngineContext* c = b.ctx();
  CodePosition caller{kAreaCode, 0, 4242};

  uint32_t fn(uint16_t locals, uint16_t in, uint16_t out, uint16_t flags = 0) {
    HandFunction f;
    f.flags = flags;
    f.locals = locals;
    f.max_in = in;
    f.max_out = out;
    return place_function(c, f);
  }
  int push(uint32_t at, int32_t nargout, int32_t nargin, int fv = 0, int argless = 0) {
    return frame_push(c, &caller, function_header(c, at), 7, 0, nargout, nargin, fv, argless, 0);
  }
};

TEST_F(Frames, PushMovesArgumentsIntoLocalsAndPopKeepsResults) {
  const uint32_t f = fn(3, 2, 1);
  ASSERT_EQ(stk_push_real(c, 99), kOk);  // belongs to the base frame
  const int32_t data_before = c->data_top;
  ASSERT_EQ(stk_push_real(c, 1.5), kOk);
  ASSERT_EQ(stk_push_cstr(c, -1, "hello"), kOk);
  const int32_t frame_at = c->desc_top - 6;
  ASSERT_EQ(push(f, 1, 2), kOk);

  EXPECT_EQ(c->frame, frame_at);
  EXPECT_EQ(c->desc_top, frame_at + kFrameFixedWords + 3);
  EXPECT_EQ(c->data_top, data_before);
  EXPECT_EQ(frame_arg_count(c), 0);
  const uint32_t* w = frame_words(c, c->frame);
  EXPECT_EQ(w[kFwCallerKind], uint32_t(kAreaCode));
  EXPECT_EQ(w[kFwCallerOffset], 4242u);
  EXPECT_EQ(int32_t(w[kFwPrevDistance]), frame_at);  // the base frame is at 0
  EXPECT_EQ(w[kFwFunctionId], 7u);
  EXPECT_EQ(w[kFwLocals], 3u);
  EXPECT_EQ(w[kFwResults], 1u);
  EXPECT_EQ(w[kFwNargin], 2u);
  EXPECT_EQ(w[kFwNargout], 1u);
  EXPECT_EQ(int32_t(w[kFwLine]), -1);
  EXPECT_EQ(int32_t(w[kFwCurrentFunction]), -1);
  EXPECT_EQ(int32_t(w[kFwNameTable]), int32_t(f + kHdrInputSlots + 2));
  EXPECT_EQ(local_value(c, 0).first, 1.5);
  EXPECT_EQ(local_value(c, 1).kind, kKindPayload);  // the string
  EXPECT_EQ(int32_t(w[kFrameFixedWords + 2]), -1);

  ASSERT_EQ(stk_push_real(c, 10), kOk);
  ASSERT_EQ(stk_push_real(c, 20), kOk);  // only the top one is a result
  ASSERT_EQ(frame_pop(c), kOk);
  EXPECT_EQ(c->frame, 0);
  EXPECT_EQ(c->desc_top, frame_at + 3);
  EXPECT_EQ(real_at(c, 0), 20);
  EXPECT_EQ(real_at(c, 1), 99);
  EXPECT_EQ(c->pos.kind, kAreaCode);
  EXPECT_EQ(c->pos.offset, 4242u);
  EXPECT_TRUE(check_heap_used(c, {}));
}

// A return frees its locals as heap_free frees them one by one, whether or
// not the heap's class hints are split (the return's own loop is written for
// the unsplit hints): the same heap words, hints and entry fingers.
TEST_F(Frames, ReturnFreesLocalsAsHeapFreeDoes) {
  for (const bool split : {false, true}) {
    EngineBlock e = EngineBlock::make(kBlockBytes);
    int32_t hole = 0, guard = 0, large = 0;
    if (split) {
      // A one-word hole that a larger request passes splits the hints.
      ASSERT_EQ(heap_alloc(e, 1, &hole), kOk);
      ASSERT_EQ(heap_alloc(e, 1, &guard), kOk);
      heap_free(e, hole);
      ASSERT_EQ(heap_alloc(e, 5, &large), kOk);
    }
    ASSERT_EQ(e->heap_hints_split != 0, split);
    HandFunction f;
    f.locals = 4;
    f.max_in = 3;
    f.max_out = 1;
    const uint32_t at = place_function(e, f);
    ASSERT_EQ(stk_push_real(e, 1.5), kOk);
    ASSERT_EQ(stk_push_cstr(e, -1, "hello"), kOk);
    ASSERT_EQ(stk_make_container(e, 1, 0, nullptr, 0), kOk);  // {'hello'}: fingers lie only on containers
    ASSERT_EQ(stk_push_real(e, -2), kOk);
    ASSERT_EQ(frame_push(e, &caller, function_header(e, at), 7, 0, 1, 3, 0, 0, 0), kOk);
    const uint32_t* w = frame_words(e, e->frame);
    ASSERT_EQ(int32_t(w[kFrameFixedWords + 3]), -1);  // one local never set
    e->entry_finger[0].block = int32_t(w[kFrameFixedWords + 1]);
    EngineBlock twin = EngineBlock::raw(e.size);
    std::memcpy(twin.mem.get(), e.mem.get(), e.size);
    const uint32_t* tw = frame_words(twin, twin->frame);
    for (int32_t k = 0; k < 4; ++k) heap_free(twin, int32_t(tw[kFrameFixedWords + k]));
    ASSERT_EQ(frame_pop(e), kOk);
    EXPECT_EQ(std::memcmp(heap_words(e), heap_words(twin), size_t(e->heap_size) * 8), 0) << split;
    EXPECT_EQ(e->heap_hint, twin->heap_hint) << split;
    EXPECT_EQ(e->heap_hints_split, twin->heap_hints_split) << split;
    for (int k = 0; k < kHeapHintClasses; ++k) EXPECT_EQ(e->heap_class_hint[k], twin->heap_class_hint[k]) << split;
    for (int k = 0; k < kHeapTakenSlots; ++k) EXPECT_EQ(e->heap_taken[k], twin->heap_taken[k]) << split;
    EXPECT_EQ(e->entry_finger[0].block, 0) << split;
    EXPECT_EQ(twin->entry_finger[0].block, 0) << split;
    EXPECT_TRUE(split ? check_heap_used(e, {{guard, 1}, {large, 5}}) : check_heap_used(e, {})) << split;
  }
}

TEST_F(Frames, ArgumentCountErrorsLeaveEverythingInPlace) {
  const uint32_t f = fn(2, 1, 1);
  const uint32_t block = fn(0, 0, 1, kHdrArgless);
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  const int32_t top = c->desc_top;
  EXPECT_EQ(push(f, 1, 2), kTooManyInputs);
  EXPECT_EQ(push(f, 2, 1), kTooManyOutputs);
  EXPECT_EQ(push(block, 2, 0), kTooManyOutputs);
  EXPECT_EQ(push(block, 0, 1), kTooManyInputs);
  EXPECT_EQ(frame_push(c, &caller, nullptr, 0, 0, 0, 1, 0, 1, 0), kIllegalError);
  EXPECT_EQ(frame_push(c, &caller, nullptr, 0, 0, 0, 0, 1, 1, 0), kIllegalError);
  EXPECT_EQ(c->desc_top, top);
  EXPECT_EQ(c->frame, 0);
  EXPECT_TRUE(check_heap_used(c, {}));
}

TEST_F(Frames, VararginPacksTheRestOrGivesAnEmptyList) {
  HandFunction h;
  h.flags = kHdrVarargin;
  h.locals = 3;
  h.max_in = 2;
  h.max_out = 0;
  const uint32_t f = place_function(c, h);
  struct Case {
    int nargin;
    uint32_t list_words;  // data words of the varargin list
    bool slot0_set;
  };
  // A real scalar element is 2 header words and 1 data word.
  for (const Case k : {Case{4, 9, true}, Case{1, 0, true}, Case{0, 0, false}}) {
    for (int i = 0; i < k.nargin; ++i) ASSERT_EQ(stk_push_real(c, 10 + i), kOk);
    ASSERT_EQ(push(f, -1, k.nargin), kOk) << k.nargin;
    const uint32_t* w = frame_words(c, c->frame);
    EXPECT_EQ(int32_t(w[kFwResults]), -2);  // declares no outputs
    EXPECT_EQ(int32_t(w[kFwNargin]), k.nargin);
    EXPECT_EQ(int32_t(w[kFrameFixedWords]) != -1, k.slot0_set);
    const HeapValue list = local_value(c, 1);
    EXPECT_EQ(list.kind, kKindContainer) << k.nargin;
    EXPECT_EQ(list.a, k.list_words);
    EXPECT_EQ(list.b, kContList);
    ASSERT_EQ(frame_pop(c), kOk);
    // Called as a statement, it leaves a no-value item as a built-in does.
    EXPECT_EQ(c->desc_top, kBaseFrameWords + 3);
    EXPECT_EQ(desc_at(c, 0)[0], kKindNoValue);
    stk_drop(c);
    EXPECT_EQ(c->data_top, 0);
    EXPECT_TRUE(check_heap_used(c, {}));
  }
}

TEST_F(Frames, FailedPushFreesTheBlocksItTookAndKeepsTheArguments) {
  const uint32_t f = fn(3, 3, 0);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(stk_push_zeros(c, 4, 5, 0), kOk);  // 20 words each
  // Leave room for about two of the three argument blocks.
  int32_t filler = 0;
  ASSERT_EQ(heap_alloc(c, c->heap_size - 1 - 50, &filler), kOk);
  const int32_t desc_top = c->desc_top, data_top = c->data_top;
  EXPECT_EQ(push(f, 0, 3), kVariableOverflow);
  EXPECT_EQ(c->desc_top, desc_top);
  EXPECT_EQ(c->data_top, data_top);
  EXPECT_EQ(c->frame, 0);
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  EXPECT_EQ(desc_at(c, 2)[1], 4u);
  EXPECT_TRUE(check_heap_used(c, {{filler, c->heap_size - 51}}));

  // The same with varargin: the packed list is taken apart again.
  HandFunction h;
  h.flags = kHdrVarargin;
  h.locals = 2;
  h.max_in = 2;
  const uint32_t g = place_function(c, h);
  EXPECT_EQ(push(g, 0, 3), kVariableOverflow);
  EXPECT_EQ(c->desc_top, desc_top);
  EXPECT_EQ(c->data_top, data_top);
  EXPECT_EQ(desc_at(c, 1)[0], kKindReal);
  EXPECT_EQ(desc_at(c, 1)[2], 5u);
}

// Large variables passed by reference are lent: the slot gets a link to the
// caller's block, twice for f(x, x); a small one is copied. At every heap
// room the push either succeeds or leaves the stacks and the heap as they
// were; the pop frees the links and copies, never the caller's blocks.
TEST_F(Frames, LentArgumentsTakeALinkEachAndGiveItBackOnFailure) {
  const uint32_t f = fn(4, 4, 0);
  ASSERT_EQ(stk_push_zeros(c, 1, 300, 0), kOk);
  ASSERT_EQ(var_store_local(c, 0), kOk);
  ASSERT_EQ(stk_push_zeros(c, 1, 20, 0), kOk);
  ASSERT_EQ(var_store_local(c, 1), kOk);
  const int32_t big = int32_t(frame_words(c, 0)[kFrameFixedWords]);
  const int32_t small = int32_t(frame_words(c, 0)[kFrameFixedWords + 1]);
  const std::map<int64_t, int64_t> base = {{big, 302}, {small, 22}};
  ASSERT_TRUE(check_heap_used(c, base));
  const int64_t tail = c->heap_size - heap_used_extent(heap_words(c), c->heap_size);
  bool failed = false, pushed = false;
  for (int64_t room = 0; room < 48; ++room) {
    int32_t filler = 0;
    ASSERT_EQ(heap_alloc(c, tail - 2 - room, &filler), kOk);
    ASSERT_EQ(var_push_ref(c, 0, 0), kOk);
    ASSERT_EQ(var_push_ref(c, 0, 0), kOk);
    ASSERT_EQ(var_push_ref(c, 1, 0), kOk);
    ASSERT_EQ(stk_push_real(c, 2.5), kOk);
    const int32_t desc_top = c->desc_top, data_top = c->data_top;
    std::map<int64_t, int64_t> held = base;
    held[filler] = tail - 2 - room;
    const int status = push(f, 0, 4);
    if (status != kOk) {
      ASSERT_EQ(status, kVariableOverflow) << room;
      failed = true;
      EXPECT_EQ(c->desc_top, desc_top);
      EXPECT_EQ(c->data_top, data_top);
      EXPECT_EQ(desc_at(c, 1)[0], kKindReference);
      EXPECT_TRUE(check_heap_used(c, held)) << room;
      for (int k = 0; k < 4; ++k) stk_drop(c);
    } else {
      pushed = true;
      const uint32_t* w = frame_words(c, c->frame);
      for (int k = 0; k < 2; ++k) {
        const int32_t link = int32_t(w[kFrameFixedWords + k]);
        ASSERT_TRUE(block_is_link(c, link)) << k;
        EXPECT_EQ(link_lender(c, link), big);
      }
      EXPECT_FALSE(block_is_link(c, int32_t(w[kFrameFixedWords + 2])));
      EXPECT_NE(int32_t(w[kFrameFixedWords + 2]), small);
      EXPECT_EQ(local_value(c, 3).first, 2.5);
      ASSERT_EQ(frame_pop(c), kOk);
      EXPECT_EQ(c->desc_top, desc_top - 12);
    }
    EXPECT_TRUE(check_heap_used(c, held)) << room;
    heap_free(c, filler);
  }
  EXPECT_TRUE(failed && pushed);
  EXPECT_TRUE(check_heap_used(c, base));
}

TEST_F(Frames, UnwindStopsAtTheBaseFrameOrTheLimit) {
  const uint32_t f = fn(1, 1, 1);
  ASSERT_EQ(stk_push_real(c, 1), kOk);  // base frame's own item
  int32_t frames[3];
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(stk_push_real(c, 2 + i), kOk);
    ASSERT_EQ(push(f, 1, 1), kOk);
    frames[i] = c->frame;
    ASSERT_EQ(stk_push_cstr(c, -1, "scratch"), kOk);
  }
  c->pos = CodePosition{kAreaCode, 0, 8};
  ASSERT_EQ(frame_unwind(c, frames[1]), kOk);  // frames at or above the limit go
  EXPECT_EQ(c->frame, frames[0]);
  EXPECT_EQ(c->pos.kind, kAreaCode);
  frame_words(c, frames[0])[kFwSuspendKind] = kAreaCode;
  ASSERT_EQ(frame_unwind(c, -1), kOk);  // a suspended frame stops it
  EXPECT_EQ(c->frame, frames[0]);
  ASSERT_EQ(frame_unwind(c, 0), kOk);
  EXPECT_EQ(c->frame, 0);
  EXPECT_EQ(c->pos.kind, kAreaNone);
  EXPECT_EQ(c->desc_top, kBaseFrameWords + 3);
  EXPECT_EQ(c->data_top, 1);
  EXPECT_EQ(real_at(c, 0), 1);
  EXPECT_TRUE(check_heap_used(c, {}));
}

TEST_F(Frames, PopsFindTheFrameBelowOnlyWhereTheDistancePointsDown) {
  // A distance from 1 to the frame's own index names a frame below; 0, one
  // past the index and the word's top values end the chain.
  const uint32_t f = fn(1, 1, 1);
  using Pop = bool (*)(EngineContext*);
  const std::pair<const char*, Pop> pops[] = {
      {"frame_pop", [](EngineContext* e) { return stk_push_real(e, 3) == kOk && frame_pop(e) == kOk; }},
      {"frame_pop_plain", [](EngineContext* e) { return stk_push_real(e, 3) == kOk && frame_pop_plain(e); }},
      {"frame_return_real", [](EngineContext* e) { return frame_return_real(e, std::bit_cast<uint64_t>(3.0)); }},
  };
  for (const auto& [name, pop] : pops) {
    ASSERT_EQ(stk_push_real(c, 2), kOk);
    ASSERT_EQ(push(f, 1, 1), kOk);
    const uint32_t at = uint32_t(c->frame);
    ASSERT_GT(at, 1u);
    ASSERT_EQ(frame_pop(c), kOk);  // no result: nothing is left
    ASSERT_EQ(c->frame, 0);
    for (const uint32_t distance : {0u, 1u, at - 1, at, at + 1, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
      ASSERT_EQ(stk_push_real(c, 2), kOk);
      ASSERT_EQ(push(f, 1, 1), kOk);
      ASSERT_EQ(uint32_t(c->frame), at);
      frame_words(c, c->frame)[kFwPrevDistance] = distance;
      ASSERT_TRUE(pop(c)) << name << " " << distance;
      EXPECT_EQ(c->frame, distance >= 1 && distance <= at ? int32_t(at - distance) : -1) << name << " " << distance;
      EXPECT_EQ(real_at(c, 0), 3.0) << name;
      c->frame = 0;
      stk_drop(c);
      EXPECT_TRUE(check_heap_used(c, {})) << name << " " << distance;
    }
  }
}

TEST_F(Frames, HandlerCatchesUnlessSandboxedSecurityError) {
  const uint32_t f = fn(1, 0, 1);
  ASSERT_EQ(push(f, 1, 0), kOk);
  const int32_t outer = c->frame;
  uint32_t* w = frame_words(c, outer);
  w[kFwCatchKind] = kAreaCode;
  w[kFwCatchOffset] = 300;
  w[kFwCatchKeep] = 1;
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  ASSERT_EQ(stk_push_real(c, 3), kOk);
  ASSERT_EQ(push(f, 1, 0), kOk);
  ASSERT_EQ(stk_push_real(c, 4), kOk);
  const int32_t inner = c->frame;

  EXPECT_TRUE(frame_find_handler(c, 0, nullptr));
  EXPECT_EQ(c->frame, inner);  // only asked: nothing discarded
  frame_words(c, outer)[kFwSandbox] = 1;
  EXPECT_FALSE(frame_find_handler(c, 1, nullptr));
  frame_words(c, outer)[kFwSandbox] = 0;

  CodePosition at{};
  ASSERT_TRUE(frame_find_handler(c, 0, &at));
  EXPECT_EQ(c->frame, outer);
  EXPECT_EQ(frame_arg_count(c), 1);
  EXPECT_EQ(real_at(c, 0), 1);
  EXPECT_EQ(at.kind, kAreaCode);
  EXPECT_EQ(at.offset, 300u);
  EXPECT_EQ(c->data_top, 1);

  // A frame entered from outside the interpreter ends the search.
  frame_words(c, outer)[kFwCatchKind] = 0;
  ASSERT_EQ(frame_push(c, nullptr, function_header(c, f), 1, 0, 1, 0, 0, 0, 0), kOk);
  frame_words(c, 0)[kFwCatchKind] = kAreaCode;
  EXPECT_FALSE(frame_find_handler(c, 0, nullptr));
  ASSERT_EQ(frame_unwind(c, 0), kOk);
  EXPECT_TRUE(frame_find_handler(c, 0, nullptr));  // the base frame's own try
  EXPECT_TRUE(check_heap_used(c, {}));
}

}  // namespace

// A statement call (nargout -1) leaves exactly one item, like a built-in's
// stub: the first output when it is set, else a no-value item; a lone
// varargout is no plain first output.
TEST_F(Frames, StatementCallLeavesTheFirstOutputOrNoValue) {
  struct Case {
    uint16_t flags, out;
    bool set_first;
    bool value_left;
  };
  for (const Case k : {Case{0, 2, true, true}, Case{0, 2, false, false}, Case{kHdrVarargout, 1, true, false},
                       Case{kHdrVarargout, 2, true, true}}) {
    HandFunction h;  // outputs first, the input in slot 2, as compiled
    h.flags = k.flags;
    h.locals = 3;
    h.max_in = 1;
    h.max_out = k.out;
    h.input_slots = {2};
    const uint32_t f = place_function(c, h);
    ASSERT_EQ(stk_push_real(c, 5), kOk);
    ASSERT_EQ(push(f, -1, 1), kOk);
    if (k.set_first) {
      ASSERT_EQ(stk_push_real(c, 42), kOk);
      ASSERT_EQ(var_store_local(c, 0), kOk);
    }
    ASSERT_EQ(stk_push_real(c, 9), kOk);  // a leftover item (a loop's state) goes
    ASSERT_EQ(frame_pop(c), kOk);
    ASSERT_EQ(c->desc_top, kBaseFrameWords + 3) << k.flags << k.out;
    if (k.value_left)
      EXPECT_EQ(real_at(c, 0), 42);
    else
      EXPECT_EQ(desc_at(c, 0)[0], kKindNoValue);
    stk_drop(c);
    EXPECT_TRUE(check_heap_used(c, {}));
  }
}
