// The engine's built-in table against the golden row list, and binding of functions into rows by section and name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/streams.h"
#include "engine/lib/builtin_tables.h"
#include "support/builtin_golden.h"

namespace {

constexpr int kEngineFirstK = kGoldenHostRows;

std::vector<BuiltinEntry> engine_copy() {
  return std::vector<BuiltinEntry>(g_builtin_table_engine, g_builtin_table_engine + kEngineTableRows + 1);
}

// Stand-ins that are only compared, never called.
BuiltinFn fake_fn(uintptr_t n) { return reinterpret_cast<BuiltinFn>(0x10000 + 16 * n); }

int row_index(const std::vector<BuiltinEntry>& t, const char* section, const char* name) {
  for (int i = 0; t[i].name[0]; ++i)
    if (!std::strcmp(t[i].name, name) && !std::strcmp(builtin_row_section(t.data(), i), section)) return i;
  return -1;
}

TEST(EngineBuiltinTable, RowsMatchTheGoldenList) {
  ASSERT_EQ(builtin_table_rows(g_builtin_table_engine), kEngineTableRows);
  ASSERT_EQ(kEngineTableRows, kGoldenEngineRows);
  for (int i = 0; i < kEngineTableRows; ++i) {
    const BuiltinEntry& r = g_builtin_table_engine[i];
    const GoldenRow& g = kGoldenRows[kEngineFirstK + i];
    SCOPED_TRACE("k " + std::to_string(kEngineFirstK + i) + " " + g.name);
    EXPECT_STREQ(r.name, g.name);
    EXPECT_EQ(r.min_in, g.min_in);
    EXPECT_EQ(r.max_in, g.max_in);
    EXPECT_EQ(r.min_out, g.min_out);
    EXPECT_EQ(r.max_out, g.max_out);
    EXPECT_EQ(r.class_word, g.class_word);
    if (g.data != kPtr) {
      EXPECT_EQ(r.data, uintptr_t(g.data));
    }
  }
}

TEST(EngineBuiltinTable, EveryCallableRowIsReachableBySectionAndName) {
  // Binding in row order gives each row its own function: a second row of the
  // same section and name (the head's two error tables) takes the second binding.
  std::vector<BuiltinEntry> t = engine_copy();
  for (int i = 0; i < kEngineTableRows; ++i) {
    if (t[i].name[0] == '@' || t[i].name[0] == '!') continue;
    if (!builtin_is_placeholder(&t[i])) continue;  // rows the engine itself implements
    const BuiltinBinding b{builtin_row_section(t.data(), i), t[i].name, fake_fn(i), 0};
    ASSERT_EQ(builtin_table_bind(t.data(), &b, 1), kOk) << t[i].name;
    EXPECT_EQ(t[i].fn, fake_fn(i)) << t[i].name;
  }
}

TEST(EngineBuiltinTable, BindingFindsOnlyUnboundRowsOfItsSection) {
  std::vector<BuiltinEntry> t = engine_copy();
  const int plot = row_index(t, "!Tarnivel", "plot");
  // A row of one of the engine's own sections that still holds its placeholder.
  int open_row = -1;
  for (int i = 0; i < int(t.size()) && t[i].name[0] && open_row < 0; ++i)
    if (builtin_is_placeholder(&t[i]) && t[i].name[0] != '+' &&
        std::strstr(builtin_row_section(t.data(), i), "ZVR"))
      open_row = i;
  // Once every row of the engine's sections is built, one is put back to its
  // placeholder in the copy.
  if (open_row < 0) {
    open_row = row_index(t, "@ZVR", "inmem");
    ASSERT_GE(open_row, 0);
    t[open_row].fn = builtin_not_supported;
  }
  ASSERT_GE(plot, 0);
  ASSERT_GE(open_row, 0);
  // The graphics and message-table rows are bound into the shared table by
  // whichever earlier test in this process started an engine or a runtime:
  // the copy starts from the placeholders either way.
  t[plot].fn = builtin_not_supported;
  for (int i : {1, 2}) t[i].fn = builtin_hook(t[i].name).fn;

  const BuiltinBinding list[] = {
      {"!Tarnivel", "plot", fake_fn(1), 0},
      {builtin_row_section(t.data(), open_row), t[open_row].name, fake_fn(2), 0x5000},
      {"", "+errmsgtable", fake_fn(3), 0},
      {"", "+errmsgtable", fake_fn(4), 0},
  };
  ASSERT_EQ(builtin_table_bind(t.data(), list, 4), kOk);
  EXPECT_EQ(t[plot].fn, fake_fn(1));
  EXPECT_EQ(t[plot].data, 0u);
  EXPECT_EQ(t[open_row].data, 0x5000u);
  EXPECT_EQ(t[1].fn, fake_fn(3));
  EXPECT_EQ(t[2].fn, fake_fn(4));
  // Binding the same list again changes nothing.
  ASSERT_EQ(builtin_table_bind(t.data(), list, 4), kOk);
  EXPECT_EQ(t[1].fn, fake_fn(3));
  EXPECT_EQ(t[2].fn, fake_fn(4));

  const BuiltinBinding refused[] = {
      {"!Tarnivel", "plot", fake_fn(9), 0},  // already holds another function
      {"!ZVR", "plot", fake_fn(9), 0},       // not in that section
      {"", "@ZVR", fake_fn(9), 0},           // markers hold no function
      {"", "+errmsgtable", fake_fn(9), 0},   // both error-table rows are taken
      {"!ZVR", "nosuchname", fake_fn(9), 0},
  };
  for (const BuiltinBinding& b : refused)
    EXPECT_EQ(builtin_table_bind(t.data(), &b, 1), kUnknownFunction) << b.name;
  EXPECT_EQ(t[plot].fn, fake_fn(1));
}

}  // namespace
