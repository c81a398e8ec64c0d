// A real engine with its base workspace ready for variable tests: named
// slots, and one check of every invariant a step must keep (the items above
// the base frame well formed, the heap chain whole, and exactly the expected
// blocks in use: the slots' values and links and the error texts).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/var_blocks.h"
#include "support/engine_block.h"
#include "support/heap_check.h"
#include "support/stack_invariants.h"

struct Workspace {
  EngineBlock eng;
  EngineContext* c = nullptr;
  BuiltinEntry rows[2] = {};  // the engine's error table, so messages carry their text

  explicit Workspace(uint32_t size = 1u << 21) : eng(EngineBlock::make(size)), c(eng.ctx()) {
    std::strcpy(rows[0].name, kHookErrMsgTable);
    rows[0].fn = errmsg_table_as_fn(kEngineErrorTable);
    EXPECT_EQ(engine_register_builtin_table(c, rows, 1), kOk);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  void name(int32_t k, const char* n) {
    uint8_t* e = frame_var_name_entry(c, k);
    std::memset(e, 0, kFrameNameBytes);
    std::memcpy(e, n, std::strlen(n));
  }

  int32_t slot_block(int32_t k) const {
    SlotTarget t;
    slot_locate(c, k, &t);
    return t.block;
  }

  // Drops every item above the base frame.
  void clear_stack() {
    c->desc_top = kBaseFrameWords;
    c->data_top = 0;
  }

  ::testing::AssertionResult sound() {
    auto stack = check_stack_invariants(c, kBaseFrameWords, 0);
    if (!stack) return stack;
    std::map<int64_t, int64_t> used;
    for (int32_t k = 0; k < kBaseFrameSlots; ++k) {
      SlotTarget t;
      slot_locate(c, k, &t);
      if (t.link) used[t.link] = kLinkBlockWords;
      if (t.block != kNoBlock) used[t.block] = 2;
    }
    for (int32_t id = 1; id < c->fn_count; ++id) {
      const int32_t v = ent(c, id, kEntCode);
      if (ent(c, id, kEntName) == kEntryVariable && v > 0) used[v] = 2;
    }
    for (int32_t text : {c->err_pending_text, c->err_last_text})
      if (text > 0) used[text] = 1;
    return check_heap_used(c, used);
  }
};
