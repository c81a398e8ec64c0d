// The short ways of a call: a plain frame clears its slots as a fixed run of
// words, which must stay inside the stack's room; the allocator's inline path
// merges the free run at its hint, which must leave what a scan from the
// heap's start leaves, also when the run is too small and the scan goes on;
// the one-scalar push leaves exactly the words the plain push leaves, or
// declines with nothing changed; the one-scalar return leaves what a push
// and the plain pop leave, or declines with nothing changed.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "support/code_builder.h"
#include "support/engine_block.h"
#include "support/heap_check.h"

namespace {

TEST(FrameCost, PlainFrameWritesNothingPastTheStacksRoom) {
  for (int32_t spare : {0, 3, 5, 8}) {  // words of room left behind the frame and its argument
    EngineBlock b = EngineBlock::make(65536);
    EngineContext* c = b.ctx();
    HandFunction f;
    f.locals = 2;
    f.max_in = 1;
    f.max_out = 1;
    const uint32_t at = place_function(c, f);
    ASSERT_EQ(stk_push_real(c, 2.5), kOk);
    const int32_t index = c->desc_top - 3;
    const int32_t limit = index + kFrameFixedWords + 2 + 3 + spare;
    ASSERT_LT(limit + 16, c->desc_capacity);
    c->desc_capacity = limit;
    for (int32_t k = limit; k < limit + 16; ++k) desc_words(c)[k] = 0x5a5a5a5a;
    CodePosition caller{kAreaCode, 0, 40};
    ASSERT_EQ(frame_push(c, &caller, function_header(c, at), 7, 0, 1, 1, 0, 0, 0), kOk) << spare;
    for (int32_t k = limit; k < limit + 16; ++k) EXPECT_EQ(desc_words(c)[k], 0x5a5a5a5au) << spare;
    const uint32_t* w = frame_words(c, c->frame);
    EXPECT_EQ(c->frame, index);
    EXPECT_GT(int32_t(w[kFrameFixedWords]), 0);
    EXPECT_EQ(w[kFrameFixedWords + 1], uint32_t(-1));
    EXPECT_EQ(w[kFwLocals], 2u);
    EXPECT_EQ(frame_pop(c), kOk);
    EXPECT_TRUE(check_heap_used(c, {}));
  }
}

TEST(FrameCost, ManyArgumentsReachTheirSlotsOverTheirOwnDescriptors) {
  // Nine arguments' descriptors reach past the fixed words into the slots;
  // the slots take them in reverse order, the last one left empty.
  EngineBlock b = EngineBlock::make(65536);
  EngineContext* c = b.ctx();
  HandFunction f;
  f.locals = 10;
  f.max_in = 9;
  for (uint16_t k = 0; k < 9; ++k) f.input_slots.push_back(uint16_t(8 - k));
  const uint32_t at = place_function(c, f);
  for (int k = 0; k < 9; ++k) ASSERT_EQ(stk_push_real(c, 10.0 + k), kOk);
  ASSERT_EQ(frame_push(c, nullptr, function_header(c, at), 7, 0, 0, 9, 0, 0, 0), kOk);
  const uint32_t* w = frame_words(c, c->frame);
  for (int k = 0; k < 9; ++k) {
    double v = 0;
    std::memcpy(&v, heap_words(c) + w[kFrameFixedWords + 8 - k] + kHeapValueHeaderWords, 8);
    EXPECT_EQ(v, 10.0 + k) << k;
  }
  EXPECT_EQ(w[kFrameFixedWords + 9], uint32_t(-1));
  EXPECT_EQ(frame_pop(c), kOk);
  EXPECT_TRUE(check_heap_used(c, {}));
}

TEST(FrameCost, InlineAllocationMatchesAScanFromTheStart) {
  // Blocks a, b, c, d of 3 words and a guard; then some are freed and a
  // request is made: exact fit at the hint, merged fit, merged run too small.
  struct Case {
    std::vector<int> freed;
    int64_t request;
  };
  for (const Case& t : {Case{{0}, 3}, Case{{0, 1}, 7}, Case{{0, 1}, 9}, Case{{1, 2}, 4}, Case{{0, 2, 3}, 6}}) {
    EngineBlock fast = EngineBlock::make(65536), scan = EngineBlock::make(65536);
    int32_t blocks[5] = {};
    for (EngineContext* c : {fast.ctx(), scan.ctx()}) {
      for (int k = 0; k < 5; ++k) ASSERT_EQ(heap_alloc(c, k == 4 ? 1 : 3, &blocks[k]), kOk);
      for (int k : t.freed) heap_free(c, blocks[k]);
    }
    heap_hint_reset(scan.ctx());
    int32_t got = 0, want = 0;
    ASSERT_EQ(heap_alloc(fast.ctx(), t.request, &got), kOk);
    ASSERT_EQ(heap_alloc_scan(scan.ctx(), t.request, &want), kOk);
    EXPECT_EQ(got, want) << t.request;
    EXPECT_EQ(fast->heap_hint, scan->heap_hint) << t.request;
    EXPECT_EQ(std::memcmp(heap_words(fast.ctx()), heap_words(scan.ctx()), size_t(fast->heap_size) * 8), 0)
        << t.request;
  }
}

TEST(FrameCost, ScalarBlockAllocationIsHeapAlloc) {
  // The same random run of requests and frees in two heaps, one taking its
  // 3-word blocks through the short way: the same blocks, words and hints
  // (holes of every size split the class hints on the way).
  EngineBlock a = EngineBlock::make(65536), b = EngineBlock::make(65536);
  std::mt19937 rng(4242);
  std::vector<int32_t> live;
  int split_steps = 0;
  for (int step = 0; step < 4000; ++step) {
    split_steps += b->heap_hints_split != 0;
    if (live.empty() || rng() % 5 < 3) {
      const int64_t n = rng() % 2 ? kScalarValueBlockWords : 1 + int64_t(rng() % 9);
      int32_t got = 0, want = 0;
      const int status = heap_alloc(b, n, &want);
      if (n == kScalarValueBlockWords) {
        got = heap_alloc_scalar_block(a);
        ASSERT_EQ(got != 0, status == kOk) << step;
      } else {
        ASSERT_EQ(heap_alloc(a, n, &got), status) << step;
      }
      ASSERT_EQ(got, want) << step;
      if (status == kOk) live.push_back(got);
    } else {
      const size_t k = rng() % live.size();
      heap_free(a, live[k]);
      heap_free(b, live[k]);
      live.erase(live.begin() + long(k));
    }
    ASSERT_EQ(a->heap_hint, b->heap_hint) << step;
    ASSERT_EQ(a->heap_hints_split, b->heap_hints_split) << step;
    ASSERT_EQ(std::memcmp(a->heap_class_hint, b->heap_class_hint, sizeof a->heap_class_hint), 0) << step;
  }
  EXPECT_EQ(std::memcmp(heap_words(a.ctx()), heap_words(b.ctx()), size_t(a->heap_size) * 8), 0);
  EXPECT_GT(split_steps, 0);  // both ways of keeping the hints were met
}

// Two engines built alike: a caller's frame (with its sandbox and step words
// set) and a real scalar argument above it, and the callee placed in each.
struct ScalarCallSetup {
  uint16_t flags = 0;
  uint16_t locals = 2;
  uint16_t input_slot = 0;
  uint16_t max_out = 1;
  uint32_t caller_sandbox = 0;
  uint32_t caller_step = kStepRun;
  bool holes = false;  // freed blocks at the hint, so that the allocation merges
};

struct ScalarCallEngine {
  EngineBlock b = EngineBlock::make(65536);
  const uint16_t* header = nullptr;
  PlainCallee callee{};

  explicit ScalarCallEngine(const ScalarCallSetup& t) {
    EngineContext* c = b.ctx();
    HandFunction caller;
    caller.locals = 2;
    caller.max_out = 1;
    const uint32_t caller_at = place_function(c, caller);
    EXPECT_EQ(frame_push(c, nullptr, function_header(c, caller_at), 5, 0, 1, 0, 0, 0, 0), kOk);
    frame_words(c, c->frame)[kFwSandbox] = t.caller_sandbox;
    frame_words(c, c->frame)[kFwStepMode] = t.caller_step;
    if (t.holes) {
      int32_t blocks[3] = {};
      for (int32_t& k : blocks) EXPECT_EQ(heap_alloc(c, 3, &k), kOk);
      heap_free(c, blocks[1]);
      heap_free(c, blocks[0]);
    }
    HandFunction f;
    f.flags = t.flags;
    f.locals = t.locals;
    f.max_in = 1;
    f.max_out = t.max_out;
    f.input_slots = {t.input_slot};
    header = function_header(c, place_function(c, f));
    EXPECT_TRUE(frame_plain_callee(c, header, 7, 3, &callee));
    EXPECT_EQ(stk_push_real(c, 2.5), kOk);
    c->pos = CodePosition{kAreaCode, 0, 40};
  }
  // The argument's value left alone where the push wrote it: its descriptor
  // and the tops taken back.
  void unpush() {
    b->desc_top -= kDescWords;
    b->data_top -= 1;
  }
  // Everything a push may write: the stacks below their tops, the heap, the
  // tops, the frame and the heap's hint.
  std::vector<uint32_t> state() const {
    EngineContext* c = b.ctx();
    std::vector<uint32_t> v(desc_words(c), desc_words(c) + c->desc_top);
    const auto* heap = reinterpret_cast<const uint32_t*>(heap_words(c));
    v.insert(v.end(), heap, heap + int64_t(c->heap_size) * 2);
    const auto* data = reinterpret_cast<const uint32_t*>(data_words(c));
    v.insert(v.end(), data, data + int64_t(c->data_top) * 2);
    for (int32_t w : {c->desc_top, c->data_top, c->frame, c->heap_hint, c->heap_hints_split}) v.push_back(uint32_t(w));
    v.insert(v.end(), std::begin(c->heap_class_hint), std::end(c->heap_class_hint));
    v.insert(v.end(), std::begin(c->heap_taken), std::end(c->heap_taken));
    for (const EntryFinger& f : c->entry_finger) v.push_back(uint32_t(f.block));
    return v;
  }
};

TEST(FrameCost, ScalarCallWritesWhatThePlainPushWrites) {
  std::vector<ScalarCallSetup> cases;
  for (uint16_t flags : {0, kHdrRestricted + 0, kHdrTrusted + 0, kHdrRestricted | kHdrTrusted, kHdrNoNames + 0})
    for (uint32_t sandbox : {0u, 1u})
      cases.push_back({flags, 2, 1, 1, sandbox, kStepRun, false});
  for (uint16_t locals : {1, 3, 4, 5, 9})
    cases.push_back({0, locals, uint16_t(locals - 1), 1, 0, kStepRun, locals > 3});
  cases.push_back({0, 2, 0, 0, 0, kStepInto, false});
  cases.push_back({0, 2, 0, 2, 0, kStepStopAtNext, true});
  cases.push_back({0, 2, 1, 2, 0, kStepRun, true});
  for (const ScalarCallSetup& t : cases) {
    for (int32_t nargout : {-1, 0, 1, 2}) {
      if (nargout > t.max_out) continue;
      ScalarCallEngine fast(t), few(t), plain(t), given(t);
      ASSERT_EQ(fast.state(), plain.state());
      const std::vector<uint32_t> before = few.state();
      given.unpush();
      const std::vector<uint32_t> given_before = given.state();
      ASSERT_EQ(frame_push_scalar_call(fast.b.ctx(), fast.callee, nargout), kOk);
      ASSERT_EQ(frame_push_plain(plain.b.ctx(), plain.b->pos, plain.header, plain.callee, nargout, 1), kOk);
      EXPECT_EQ(fast.state(), plain.state()) << "flags " << t.flags << " locals " << t.locals << " nargout " << nargout;
      // The push that calls nothing, for the callees it is made for: the
      // same words, or (class hints split, a stepping caller) nothing changed.
      const bool made_for = t.locals <= kScalarCallFewLocals && t.max_out >= 1 && nargout <= 1;
      const bool few_takes = made_for && !few.b->heap_hints_split && t.caller_step == kStepRun;
      if (made_for) {
        EXPECT_EQ(frame_push_scalar_call_few(few.b.ctx(), few.callee, nargout), few_takes ? kOk : kFrameNotPlain);
        EXPECT_EQ(few.state(), few_takes ? plain.state() : before) << "locals " << t.locals << " nargout " << nargout;
        // The value never pushed: the same words again.
        EXPECT_EQ(frame_push_scalar_call_given(given.b.ctx(), given.callee, nargout), few_takes ? kOk : kFrameNotPlain);
        EXPECT_EQ(given.state(), few_takes ? plain.state() : given_before) << "locals " << t.locals << " nargout " << nargout;
      }
      // And they leave again alike.
      EXPECT_EQ(frame_pop(fast.b.ctx()), kOk);
      EXPECT_EQ(frame_pop(plain.b.ctx()), kOk);
      EXPECT_EQ(fast.state(), plain.state());
      if (few_takes) {
        EXPECT_EQ(frame_pop(few.b.ctx()), kOk);
        EXPECT_EQ(few.state(), plain.state());
        EXPECT_EQ(frame_pop(given.b.ctx()), kOk);
        EXPECT_EQ(given.state(), plain.state());
      }
    }
  }
}

TEST(FrameCost, ScalarCallDeclinesWithNothingChanged) {
  // Each setting leaves the call to the general push.
  const std::vector<std::pair<const char*, std::function<void(EngineContext*)>>> declines = {
      {"a breakpoint set", [](EngineContext* c) { c->bp_count = 1; }},
      {"no position", [](EngineContext* c) { c->pos.kind = kAreaNone; }},
      {"a complex argument", [](EngineContext* c) {
         stk_drop(c);
         EXPECT_EQ(stk_push_complex(c, 1.0, 2.0), kOk);
       }},
      {"the hint at a block in use", [](EngineContext* c) {
         int32_t k = 0;
         EXPECT_EQ(heap_alloc(c, 3, &k), kOk);
         c->heap_hint = k - 1;
       }},
      {"no room for the frame", [](EngineContext* c) { c->desc_capacity = c->desc_top + kFrameFixedWords; }},
      {"the argument below the frame", [](EngineContext* c) { frame_words(c, c->frame)[kFwLocals] = 9; }},
  };
  for (const auto& [what, set] : declines) {
    ScalarCallEngine e(ScalarCallSetup{});
    set(e.b.ctx());
    const std::vector<uint32_t> before = e.state();
    EXPECT_EQ(frame_push_scalar_call(e.b.ctx(), e.callee, 1), kFrameNotPlain) << what;
    EXPECT_EQ(e.state(), before) << what;
    // The push that calls nothing has a position by its contract.
    if (std::strcmp(what, "no position") == 0) continue;
    EXPECT_EQ(frame_push_scalar_call_few(e.b.ctx(), e.callee, 1), kFrameNotPlain) << what;
    EXPECT_EQ(e.state(), before) << what;
    // A complex argument is pushed before any call is tried.
    if (std::strcmp(what, "a complex argument") == 0) continue;
    ScalarCallEngine g(ScalarCallSetup{});
    set(g.b.ctx());
    g.unpush();
    const std::vector<uint32_t> given_before = g.state();
    EXPECT_EQ(frame_push_scalar_call_given(g.b.ctx(), g.callee, 1), kFrameNotPlain) << what;
    EXPECT_EQ(g.state(), given_before) << what;
  }
  // The heap's class hints split: the take would call out.
  {
    ScalarCallEngine e(ScalarCallSetup{});
    e.b->heap_hints_split = 1;
    const std::vector<uint32_t> before = e.state();
    EXPECT_EQ(frame_push_scalar_call_few(e.b.ctx(), e.callee, 1), kFrameNotPlain);
    EXPECT_EQ(e.state(), before);
  }
  // Room for the callee's frame but not for the four slots that push clears.
  ScalarCallEngine e(ScalarCallSetup{}), g(ScalarCallSetup{});
  e.b->desc_capacity = e.b->desc_top + kFrameFixedWords + 2;  // the argument and two slots
  const std::vector<uint32_t> before = e.state();
  EXPECT_EQ(frame_push_scalar_call_few(e.b.ctx(), e.callee, 1), kFrameNotPlain);
  EXPECT_EQ(e.state(), before);
  EXPECT_EQ(frame_push_scalar_call(e.b.ctx(), e.callee, 1), kOk);
  // The same room for the value never pushed (the frame starts where its
  // descriptor would have).
  g.b->desc_capacity = g.b->desc_top + kFrameFixedWords + 2;
  g.unpush();
  const std::vector<uint32_t> given_before = g.state();
  EXPECT_EQ(frame_push_scalar_call_given(g.b.ctx(), g.callee, 1), kFrameNotPlain);
  EXPECT_EQ(g.state(), given_before);
}

// A called frame of the setup, the value to return and where each engine's
// position and stacks stand.
std::vector<uint32_t> return_state(const ScalarCallEngine& e) {
  std::vector<uint32_t> v = e.state();
  const EngineContext* c = e.b.ctx();
  v.insert(v.end(), {uint32_t(c->pos.kind), c->pos.flag, c->pos.offset});
  return v;
}

// How the callee's locals stand at its return: besides its argument, blocks
// given to its other locals (a real scalar's, a container's, which entry
// fingers and offset indexes may name) and the heap's class hints split or not.
struct ReturnLocals {
  bool others = false;
  bool container = false;
  bool split = false;
  bool swap = false;  // the first and last slots' blocks exchanged: the lower block freed first
};

void set_return_locals(ScalarCallEngine& e, uint16_t locals, const ReturnLocals& r) {
  EngineContext* c = e.b.ctx();
  uint32_t* slots = frame_words(c, c->frame) + kFrameFixedWords;
  if (r.split) {
    // A one-word hole passed by a larger request's scan splits the hints.
    int32_t hole = 0, guard = 0, big = 0;
    ASSERT_EQ(heap_alloc(c, 1, &hole), kOk);
    ASSERT_EQ(heap_alloc(c, 1, &guard), kOk);
    heap_free(c, hole);
    ASSERT_EQ(heap_alloc(c, 5, &big), kOk);
    ASSERT_NE(c->heap_hints_split, 0);
  }
  for (uint16_t k = 0; k + 1 < locals && r.others; ++k) {
    int32_t block = 0;
    const bool container = r.container && k == 0;
    ASSERT_EQ(heap_alloc(c, container ? kHeapValueHeaderWords : kScalarValueBlockWords, &block), kOk);
    heap_words(c)[block] = container ? uint64_t(kKindContainer) : kRealScalarHead;
    heap_words(c)[block + 1] = container ? 0 : 1;
    if (container) c->entry_finger[0].block = block;
    slots[k] = uint32_t(block);
  }
  if (r.swap && locals > 1) std::swap(slots[0], slots[locals - 1]);
}

TEST(FrameCost, ScalarReturnLeavesWhatAPushAndThePlainPopLeave) {
  const uint64_t bits = std::bit_cast<uint64_t>(-7.25);
  const ReturnLocals ways[] = {{},
                               {true, false, false},
                               {true, true, false},
                               {true, true, true},
                               {false, false, true},
                               {true, false, false, true},
                               {true, true, false, true},
                               {false, false, false, true}};
  for (const ReturnLocals& r : ways)
  for (uint16_t locals : {1, 2, 3, 5}) {
    for (int32_t nargout : {1, 2}) {
      ScalarCallSetup t{};
      t.locals = locals;
      t.input_slot = uint16_t(locals - 1);
      t.max_out = 2;
      ScalarCallEngine fast(t), plain(t);
      ASSERT_EQ(frame_push_plain(fast.b.ctx(), fast.b->pos, fast.header, fast.callee, nargout, 1), kOk);
      ASSERT_EQ(frame_push_plain(plain.b.ctx(), plain.b->pos, plain.header, plain.callee, nargout, 1), kOk);
      set_return_locals(fast, locals, r);
      set_return_locals(plain, locals, r);
      fast.b->pos.offset = plain.b->pos.offset = 90;  // the callee's own code
      ASSERT_EQ(return_state(fast), return_state(plain));
      ASSERT_TRUE(frame_return_real(fast.b.ctx(), bits));
      ASSERT_EQ(stk_push_real(plain.b.ctx(), -7.25), kOk);
      ASSERT_TRUE(frame_pop_plain(plain.b.ctx()));
      EXPECT_EQ(return_state(fast), return_state(plain))
          << "locals " << locals << " nargout " << nargout << " others " << r.others << " split " << r.split
          << " swap " << r.swap;
      EXPECT_EQ(fast.b->pos.offset, 40u);
      EXPECT_EQ(fast.b->entry_finger[0].block, 0);
      if (!r.split) EXPECT_TRUE(check_heap_used(fast.b.ctx(), {}));
    }
  }
}

TEST(FrameCost, ScalarReturnReadsNoWordBesideTheOnesItTests) {
  // The words next to those read two at a time do not stop the return.
  for (const FrameWord word : {kFwNargout, kFwSandbox}) {
    ScalarCallEngine fast(ScalarCallSetup{}), plain(ScalarCallSetup{});
    for (ScalarCallEngine* e : {&fast, &plain}) {
      ASSERT_EQ(frame_push_plain(e->b.ctx(), e->b->pos, e->header, e->callee, 1, 1), kOk);
      frame_words(e->b.ctx(), e->b->frame)[word] = ~0u;
    }
    ASSERT_TRUE(frame_return_real(fast.b.ctx(), std::bit_cast<uint64_t>(2.5))) << word;
    ASSERT_EQ(stk_push_real(plain.b.ctx(), 2.5), kOk);
    ASSERT_TRUE(frame_pop_plain(plain.b.ctx()));
    EXPECT_EQ(return_state(fast), return_state(plain)) << word;
  }
}

TEST(FrameCost, ScalarReturnDeclinesWithNothingChanged) {
  // Each setting leaves the return to the push and the general pop.
  const std::vector<std::pair<const char*, std::function<void(EngineContext*)>>> declines = {
      {"no output asked for", [](EngineContext* c) { frame_words(c, c->frame)[kFwResults] = 0; }},
      {"a statement call", [](EngineContext* c) { frame_words(c, c->frame)[kFwResults] = uint32_t(-1); }},
      {"a built-in to resume", [](EngineContext* c) { frame_words(c, c->frame)[kFwResume] = 1; }},
      {"the base frame", [](EngineContext* c) { frame_words(c, c->frame)[kFwCallerKind] = kAreaBaseFrame; }},
      {"names kept in the frame", [](EngineContext* c) { frame_words(c, c->frame)[kFwFrameNames] = 2; }},
      // The two words are read as one: each half, and each one's top bit, counts.
      {"a resume word of its top bit", [](EngineContext* c) { frame_words(c, c->frame)[kFwResume] = 1u << 31; }},
      {"a names word of its top bit", [](EngineContext* c) { frame_words(c, c->frame)[kFwFrameNames] = 1u << 31; }},
      {"an item above the locals", [](EngineContext* c) { EXPECT_EQ(stk_push_real(c, 1.0), kOk); }},
      {"no frame", [](EngineContext* c) { c->frame = -1; }},
  };
  for (const auto& [what, set] : declines) {
    ScalarCallEngine e(ScalarCallSetup{});
    ASSERT_EQ(frame_push_plain(e.b.ctx(), e.b->pos, e.header, e.callee, 1, 1), kOk);
    set(e.b.ctx());
    const std::vector<uint32_t> before = return_state(e);
    EXPECT_FALSE(frame_return_real(e.b.ctx(), 0)) << what;
    EXPECT_EQ(return_state(e), before) << what;
  }
}

}  // namespace
