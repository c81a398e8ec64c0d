// Name resolution over the registered tables: a row that still holds the
// "Not supported" placeholder gives way to a later row or an intrinsic of its
// name, and keeps its slot and index; otherwise the first row found answers.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/status.h"
#include "support/engine_block.h"
#include "support/fn_fakes.h"

namespace {

int working(EngineContext*, int, int, uintptr_t) { return kOk; }

TEST(Resolve, PlaceholderRowsGiveWayToLaterRowsAndIntrinsics) {
  // Registered in front: placeholders and a working row; behind: the rows
  // the front ones would hide.
  const BuiltinEntry front[] = {
      marker_row("!front"),
      fn_row("lonely", builtin_not_supported, 0, 1, 0, 1),     // nothing else has the name
      fn_row("hidden", builtin_not_supported, 0, 1, 0, 1),     // a later row has it
      fn_row("abs", builtin_not_supported, 1, 1, 0, 1),        // the intrinsic has it
      fn_row("first", working, 0, 1, 0, 1),                    // working: it answers
      fn_row("twice", builtin_not_supported, 0, 1, 0, 1),      // two placeholders
      BuiltinEntry{},
  };
  const BuiltinEntry behind[] = {
      fn_row("hidden", working, 0, 1, 0, 1),
      fn_row("first", working, 0, 1, 0, 1),
      fn_row("twice", builtin_not_supported, 0, 1, 0, 1),
      BuiltinEntry{},
  };
  EngineBlock b = EngineBlock::make(1 << 20);
  ASSERT_EQ(engine_register_builtin_table(b, behind, 0), kOk);
  ASSERT_EQ(engine_register_builtin_table(b, front, 1), kOk);
  struct Case {
    const char* name;
    int row;  // index k of the row found, -1: the intrinsic
  };
  for (const Case& t : {Case{"lonely", 1}, Case{"hidden", 6}, Case{"abs", -1}, Case{"first", 4}, Case{"twice", 8}}) {
    SCOPED_TRACE(t.name);
    int32_t k = -1;
    const BuiltinEntry* row = lib_find_builtin(b, t.name, nullptr, 0, &k);
    EXPECT_EQ(row ? k : -1, t.row);
    int32_t id = 0, opcode = 0;
    const BuiltinEntry* resolved = nullptr;
    const IntrinsicEntry* intrinsic = nullptr;
    ASSERT_EQ(fn_resolve_ref(b, t.name, 0, 1, 1, &id, &resolved, &opcode, &intrinsic), kOk);
    EXPECT_EQ(t.row < 0 ? intrinsic != nullptr : opcode == kFirstLibraryOpcode + t.row, true);
  }
  // Every placeholder keeps its slot: the index still reaches it.
  EXPECT_EQ(lib_entry_by_index(b, 2), &front[2]);
  EXPECT_EQ(lib_entry_by_index(b, 3)->fn, builtin_not_supported);
}

}  // namespace
