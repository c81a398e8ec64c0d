// The failure sweep: one call is run with one of the engine's rooms (data
// stack, descriptor stack, variable heap) cut to k free words, k = 0, 1, 2,
// ... until it succeeds, and every failure is checked: a room status, the
// stacks exactly as before the call and the heap's used blocks unchanged. The
// successful run must give what a run without limits gives. Built-ins join it
// by being listed in a table; no test sets a room by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/heap.h"
#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"

enum class SweepRoom { kData, kDesc, kHeap };

inline const char* sweep_room_name(SweepRoom r) {
  return r == SweepRoom::kData ? "data stack" : r == SweepRoom::kDesc ? "descriptor stack" : "heap";
}

// The used blocks of the heap with their contents: what variables can see.
// Free blocks are left out, since allocation may merge or split them, and so
// are the blocks of the error texts: a failure raised with its own text
// stores it there, which is its report, not a change to the caller's data.
struct HeapImage {
  bool chain_ok = false;
  std::vector<std::pair<int64_t, std::vector<uint64_t>>> used;
  bool operator==(const HeapImage&) const = default;
};

inline HeapImage heap_image(EngineContext* c) {
  HeapImage img;
  const uint64_t* heap = heap_words(c);
  img.chain_ok = heap_walk(heap, c->heap_size, [&](int64_t i, int64_t size, uint64_t h) {
    const bool error_text = i + 1 == c->err_pending_text || i + 1 == c->err_last_text;
    if (heap_header_used(h) && !error_text)
      img.used.emplace_back(i, std::vector<uint64_t>(heap + i, heap + i + size + 1));
  });
  return img;
}

// Cuts one room to k free words for its lifetime, then gives the rest back.
// The heap is cut behind its last used block: the chain then ends in a free
// block of k words (holes below it stay usable, as they would be).
class RoomLimit {
 public:
  RoomLimit(EngineContext* c, SweepRoom room, int64_t k) : c_(c), room_(room) {
    switch (room) {
      case SweepRoom::kData:
        saved_ = c->data_capacity;
        if (int64_t(c->data_top) + k < saved_) c->data_capacity = uint32_t(c->data_top + k);
        break;
      case SweepRoom::kDesc:
        saved_ = c->desc_capacity;
        if (int64_t(c->desc_top) + k < saved_) c->desc_capacity = uint32_t(c->desc_top + k);
        break;
      case SweepRoom::kHeap: {
        saved_ = c->heap_size;
        const int64_t cut = heap_used_extent(heap_words(c), c->heap_size) + k + 1;
        if (cut < saved_) {
          heap_set_header(heap_words(c), cut - k - 1, uint64_t(k));
          c->heap_size = int32_t(cut);
          heap_hint_reset(c);
        }
        break;
      }
    }
  }
  ~RoomLimit() {
    switch (room_) {
      case SweepRoom::kData: c_->data_capacity = uint32_t(saved_); break;
      case SweepRoom::kDesc: c_->desc_capacity = uint32_t(saved_); break;
      case SweepRoom::kHeap:
        if (c_->heap_size < saved_) {
          // The cut chain is whole up to heap_size: the rest joins as one free block.
          heap_set_header(heap_words(c_), c_->heap_size, uint64_t(saved_ - c_->heap_size - 1));
          c_->heap_size = int32_t(saved_);
          heap_hint_reset(c_);
        }
        break;
    }
  }
  RoomLimit(const RoomLimit&) = delete;
  RoomLimit& operator=(const RoomLimit&) = delete;

 private:
  EngineContext* c_;
  SweepRoom room_;
  int64_t saved_ = 0;
};

inline bool is_room_status(int status) {
  return status == kStackOverflow || status == kDataStackOverflow || status == kVariableOverflow;
}

// Puts both stacks back at the heights a sweep started from: items are
// dropped while they are whole, and a broken stack is cut back by force so
// that one faulty call does not spoil the checks of the next.
inline void sweep_drop_to(EngineContext* c, int32_t desc_top, int32_t data_top) {
  if (check_stack_invariants(c, desc_top, data_top))
    while (c->desc_top > desc_top) stk_drop(c);
  c->desc_top = desc_top;
  c->data_top = data_top;
}

// Sweeps call() over every room. push() puts the call's inputs on the stack
// and returns a status; call() consumes them. A call that fails even without
// limits must leave its inputs as they were (that failure is its answer), and
// is not swept. max_room bounds k for a call that never succeeds.
// *swept (when given) tells whether the call succeeded and was swept.
// `rooms` narrows the sweep where a table of calls asks for fewer rooms.
template <class Push, class Call>
::testing::AssertionResult sweep_rooms(EngineContext* c, const Push& push, const Call& call,
                                       bool* swept = nullptr, int64_t max_room = 1 << 14,
                                       std::initializer_list<SweepRoom> rooms = {SweepRoom::kData, SweepRoom::kDesc,
                                                                                 SweepRoom::kHeap}) {
  auto fail = [](const std::string& why) { return ::testing::AssertionFailure() << why; };
  const int32_t base = c->desc_top, data_base = c->data_top;
  struct Restore {
    EngineContext* c;
    int32_t desc, data;
    ~Restore() { sweep_drop_to(c, desc, data); }
  } restore{c, base, data_base};
  if (int s = push(); s != kOk) return fail("inputs not pushed: status " + std::to_string(s));
  const StackSnapshot inputs = snapshot_stacks(c);
  const HeapImage heap0 = heap_image(c);
  const int reference = call();
  if (reference != kOk) {
    const bool same = snapshot_stacks(c) == inputs && heap_image(c) == heap0;
    sweep_drop_to(c, base, data_base);
    return same ? ::testing::AssertionSuccess()
                : fail("failed with " + std::to_string(reference) + " and changed its inputs");
  }
  if (auto inv = check_stack_invariants(c, base, data_base); !inv) return inv;
  if (swept) *swept = true;
  const StackSnapshot results = snapshot_stacks(c);
  const HeapImage heap_after = heap_image(c);
  sweep_drop_to(c, base, data_base);

  for (SweepRoom room : rooms) {
    for (int64_t k = 0;; ++k) {
      const std::string at = std::string(sweep_room_name(room)) + " room " + std::to_string(k) + ": ";
      if (k > max_room) return fail(at + "still failing");
      if (int s = push(); s != kOk) return fail(at + "inputs not pushed: status " + std::to_string(s));
      int status;
      {
        RoomLimit limit(c, room, k);
        status = call();
      }
      if (status == kOk) {
        const bool same = snapshot_stacks(c) == results && heap_image(c) == heap_after;
        sweep_drop_to(c, base, data_base);
        if (!same) return fail(at + "results differ from those of a run with room");
        break;
      }
      if (!is_room_status(status)) return fail(at + "status " + std::to_string(status) + " is not a room status");
      const HeapImage heap = heap_image(c);
      if (!heap.chain_ok) return fail(at + "heap chain broken");
      if (snapshot_stacks(c) != inputs) return fail(at + "stacks changed by a failed call");
      if (heap != heap0) return fail(at + "heap blocks changed by a failed call");
      sweep_drop_to(c, base, data_base);
    }
  }
  return ::testing::AssertionSuccess();
}
