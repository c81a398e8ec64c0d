// The golden list of all registered built-in rows in search order (the host's
// table, then the engine's), for tests that check row indexes.
// Where the library listing gives a row no counts of its own (it only names
// it beside a row with counts), the row keeps the counts of the built-in's
// own description: `dbhalt` takes no argument and gives nothing, so it is
// (0, 0, 0, 0), not the (1, 2, 0, 0) of `dbstop` beside it. Do not "fix"
// such rows to their neighbours' counts.
#pragma once

#include <cstdint>

struct GoldenRow {
  const char* name;
  int min_in, max_in, min_out, max_out;
  int class_word;
  int64_t data;  // kPtr: a pointer supplied by the row's owner
};

inline constexpr int64_t kPtr = -1;

inline constexpr GoldenRow kGoldenRows[] = {
#include "support/builtin_rows_golden.inc"
};

inline constexpr int kGoldenHostRows = 80;
inline constexpr int kGoldenEngineRows = 324;
static_assert(sizeof kGoldenRows / sizeof kGoldenRows[0] == kGoldenHostRows + kGoldenEngineRows);
