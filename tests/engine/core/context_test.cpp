// Block layout, registration of built-in tables, reset and named blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/core/context.h"
#include "engine/core/service_table.h"

namespace {

struct Block {
  explicit Block(uint32_t n) : mem(new uint64_t[(n + 7) / 8]()), size(n) {}
  std::unique_ptr<uint64_t[]> mem;
  uint32_t size;
  void* ptr() { return mem.get(); }
};

int dummy_fn(EngineContext*, int nargin, int, uintptr_t data) { return 7000 + nargin + int(data); }

BuiltinEntry row(const char* name, BuiltinFn fn = dummy_fn, int32_t class_word = 0) {
  BuiltinEntry e{};
  e.fn = fn;
  e.class_word = class_word;
  std::strncpy(e.name, name, sizeof e.name - 1);
  return e;
}

struct Expected {
  uint32_t size, data_words, heap_words, desc_words, code_words;
  int32_t fn_capacity;
};

TEST(EngineLayout, RefusesTooSmallOrMisalignedBlocks) {
  Block b(8000);
  EngineContext* c = reinterpret_cast<EngineContext*>(1);
  EXPECT_EQ(engine_init(b.ptr(), 7311, &c), kInitError);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(engine_init(static_cast<char*>(b.ptr()) + 4, 7312, &c), kInitError);
  EXPECT_EQ(engine_init(b.ptr(), 7312, &c), kOk);
}

TEST(EngineReset, BuildsTheBaseFrameEvenInTheSmallestBlock) {
  for (uint32_t size : {7312u, 65536u}) {
    Block b(size);
    EngineContext* c;
    ASSERT_EQ(engine_init(b.ptr(), size, &c), kOk);
    engine_reset(c);
    EXPECT_EQ(c->desc_top, kBaseFrameWords);
    EXPECT_EQ(c->frame, 0);
    const uint32_t* w = desc_words(c);
    EXPECT_EQ(w[0], 6u);
    EXPECT_EQ(int32_t(w[2]), -1);
    EXPECT_EQ(int32_t(w[9]), -1);
    EXPECT_EQ(w[11], 1u);
    EXPECT_EQ(w[15], 16u);
    for (int i = 22; i < 38; ++i) EXPECT_EQ(int32_t(w[i]), -1);
    EXPECT_STREQ(reinterpret_cast<const char*>(w + 38), "ans");
    EXPECT_EQ(reinterpret_cast<const char*>(w + 46)[0], 0);
  }
}

TEST(EngineReset, KeepsOnlyTheHeapBlocksOfGlobalVariables) {
  Block b(65536);
  EngineContext* c;
  ASSERT_EQ(engine_init(b.ptr(), b.size, &c), kOk);
  // Three blocks in use: 4, 6 and 2 words; the tail is free.
  uint64_t* h = heap_words(c);
  const int64_t total = c->heap_size;
  h[0] = kHeapInUse | 4;
  h[5] = kHeapInUse | 6;
  h[12] = kHeapInUse | 2;
  h[15] = uint64_t(total - 16);
  // Entry 1: a global variable whose value is the block at index 6.
  uint32_t* e = fn_entry(c, 1);
  e[0] = 1;
  e[1] = 0;
  e[2] = 6;
  e[3] = uint32_t(-1);
  c->fn_count = 2;
  engine_reset(c);
  EXPECT_EQ(h[0], 4u);
  EXPECT_EQ(h[5], kHeapMark | kHeapInUse | 6);
  EXPECT_EQ(h[12], 2u);
  EXPECT_EQ(h[15], uint64_t(total - 16));
}

TEST(BuiltinTables, RegistrationShadowsAndCountsRows) {
  Block b(1 << 20);
  EngineContext* c;
  ASSERT_EQ(engine_init(b.ptr(), b.size, &c), kOk);
  static BuiltinEntry engine_rows[] = {row("@Engine", nullptr), row("sin"), row("cos"), row("")};
  static BuiltinEntry app_rows[] = {row("!Tarnivel", nullptr), row("sin"), row("")};
  static BuiltinEntry empty_rows[] = {row("")};
  const uint32_t base0 = c->data_base.v;
  const uint32_t cap0 = c->data_capacity;

  EXPECT_EQ(engine_register_builtin_table(c, empty_rows, 1), kOk);
  EXPECT_EQ(engine_register_builtin_table(c, nullptr, 1), kOk);
  EXPECT_EQ(c->table_count, 0);

  ASSERT_EQ(engine_register_builtin_table(c, engine_rows, 1), kOk);
  EXPECT_EQ(engine_register_builtin_table(c, engine_rows, 1), kInitError);
  EXPECT_EQ(c->table_count, 1);
  ASSERT_EQ(engine_register_builtin_table(c, app_rows, 1), kOk);
  EXPECT_EQ(c->table_count, 2);
  // The records sit ahead of the data stack, which lost as much room.
  EXPECT_EQ(c->tables.v, base0);
  EXPECT_GE(c->data_base.v, base0 + 2 * sizeof(LibraryTableRef));
  EXPECT_EQ(cap0 - c->data_capacity, (c->data_base.v - base0) / 8);

  // The later, prepended table is searched first.
  EXPECT_EQ(lib_entry_by_index(c, 0), &app_rows[0]);
  EXPECT_EQ(lib_entry_by_index(c, 1), &app_rows[1]);
  EXPECT_EQ(lib_entry_by_index(c, 2), &engine_rows[0]);
  EXPECT_EQ(lib_entry_by_index(c, 4), &engine_rows[2]);
  EXPECT_EQ(lib_entry_by_index(c, 5), nullptr);
  EXPECT_EQ(lib_entry_by_index(c, -1), nullptr);

  engine_set_user_data(c, 5);
  EXPECT_EQ(lib_call_by_name(c, "sin", 0, 2), 7007);  // app's row, default data word
  EXPECT_EQ(lib_call_by_name(c, "tan", 0, 2), kUnknownFunction);
  EXPECT_EQ(lib_call_by_name(c, "sin", 3, 2), kUnknownFunction);

  // Appending puts a table last.
  static BuiltinEntry tail_rows[] = {row("tail"), row("")};
  ASSERT_EQ(engine_register_builtin_table(c, tail_rows, 0), kOk);
  EXPECT_EQ(lib_entry_by_index(c, 5), &tail_rows[0]);
}

TEST(BuiltinTables, RegistrationMovesItemsAlreadyOnTheStack) {
  Block b(1 << 16);
  EngineContext* c;
  ASSERT_EQ(engine_init(b.ptr(), b.size, &c), kOk);
  uint64_t* d = data_words(c);
  for (int i = 0; i < 5; ++i) d[i] = 100 + i;
  c->data_top = 5;
  static BuiltinEntry t1[] = {row("a"), row("")};
  static BuiltinEntry t2[] = {row("b"), row("")};
  ASSERT_EQ(engine_register_builtin_table(c, t1, 1), kOk);
  ASSERT_EQ(engine_register_builtin_table(c, t2, 1), kOk);
  d = data_words(c);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(d[i], uint64_t(100 + i));
}

TEST(BuiltinTables, RefusesBadClassWordsAndTheReserve) {
  Block b(1 << 16);
  EngineContext* c;
  ASSERT_EQ(engine_init(b.ptr(), b.size, &c), kOk);
  static BuiltinEntry bad_hi[] = {row("x", dummy_fn, 128), row("")};
  static BuiltinEntry bad_lo[] = {row("x", dummy_fn, -128), row("")};
  static BuiltinEntry ok_edge[] = {row("x", dummy_fn, -127), row("y", dummy_fn, 127), row("")};
  EXPECT_EQ(engine_register_builtin_table(c, bad_hi, 1), kInitError);
  EXPECT_EQ(engine_register_builtin_table(c, bad_lo, 1), kInitError);
  EXPECT_EQ(c->table_count, 0);
  EXPECT_EQ(engine_register_builtin_table(c, ok_edge, 1), kOk);

  // The smallest block keeps its little data stack: registration is refused.
  Block small(7312);
  ASSERT_EQ(engine_init(small.ptr(), small.size, &c), kOk);
  static BuiltinEntry t[] = {row("a"), row("")};
  EXPECT_EQ(engine_register_builtin_table(c, t, 1), kInitError);

  // A full data stack gives 3 and changes nothing.
  ASSERT_EQ(engine_init(b.ptr(), b.size, &c), kOk);
  c->data_top = int32_t(c->data_capacity) - 2;
  const uint32_t base = c->data_base.v;
  EXPECT_EQ(engine_register_builtin_table(c, t, 1), kDataStackOverflow);
  EXPECT_EQ(c->data_base.v, base);
  EXPECT_EQ(c->table_count, 0);
}

TEST(EngineLayout, AMovedBlockKeepsWorking) {
  Block a(1 << 16), b(1 << 16);
  EngineContext* c;
  ASSERT_EQ(engine_init(a.ptr(), a.size, &c), kOk);
  static BuiltinEntry t[] = {row("f"), row("")};
  ASSERT_EQ(engine_register_builtin_table(c, t, 1), kOk);
  engine_reset(c);
  std::memcpy(b.ptr(), a.ptr(), a.size);
  std::memset(a.ptr(), 0xdd, a.size);
  auto* moved = static_cast<EngineContext*>(b.ptr());
  EXPECT_EQ(lib_entry_by_index(moved, 0), &t[0]);
  EXPECT_STREQ(reinterpret_cast<const char*>(desc_words(moved) + 38), "ans");
}

}  // namespace

#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"

namespace {

}  // namespace

namespace {

TEST(NamedBlocks, AddFindAndKeepTheStackWhole) {
  Block b(1 << 16);
  EngineContext* c;
  ASSERT_EQ(engine_init(b.ptr(), b.size, &c), kOk);
  engine_reset(c);
  static BuiltinEntry t[] = {row("f"), row("")};
  ASSERT_EQ(engine_register_builtin_table(c, t, 1), kOk);
  int a = 1, z = 2;
  ASSERT_EQ(stk_push_real(c, 9.5), kOk);
  EXPECT_EQ(engine_add_named_block(c, "alpha", &a), kOk);
  EXPECT_EQ(engine_add_named_block(c, "zeta", &z), kOk);
  EXPECT_EQ(engine_add_named_block(c, "alpha", &z), kInitError);
  EXPECT_EQ(engine_add_named_block(c, "none", nullptr), kOk);
  EXPECT_EQ(engine_find_named_block(c, "alpha"), &a);
  EXPECT_EQ(engine_find_named_block(c, "zeta"), &z);
  EXPECT_EQ(engine_find_named_block(c, "none"), nullptr);
  // A table registered later moves the pairs behind its records.
  static BuiltinEntry t2[] = {row("g"), row("")};
  ASSERT_EQ(engine_register_builtin_table(c, t2, 1), kOk);
  EXPECT_EQ(engine_find_named_block(c, "zeta"), &z);
  EXPECT_EQ(lib_entry_by_index(c, 0), &t2[0]);
  double v = 0;
  ASSERT_EQ(stk_pop_real_scalar(c, &v), kOk);
  EXPECT_EQ(v, 9.5);
}

}  // namespace
