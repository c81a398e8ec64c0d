// Brace stores through the gap in a cell array's block, held to the plain
// stores: one engine runs a loop of stores, reads and calls in slices (it
// pauses at every backward jump), a second runs the same statements one
// command line at a time with the gap switched off. At every pause the
// first engine's gap is closed (the host may read any variable there) and
// its value must be the second's word for word; its heap chain must hold
// and its stacks stand where the loop keeps them.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/core/entry_gap.h"
#include "support/heap_check.h"
#include "support/zvr_session.h"

namespace {

// The words of a base-workspace variable's value (its header included),
// as they lie once the gap is closed; empty when it is unset.
std::vector<uint64_t> value_words(EngineContext* c, const char* name) {
  const int32_t block = ZvrSession::base_variable_block(c, name);
  if (block < 1) return {};
  const uint64_t* base = heap_words(c) + block;
  const auto* h = reinterpret_cast<const uint32_t*>(base);
  const int64_t words = kHeapValueHeaderWords + item_data_words(h[0], h[1], h[2]);
  const EntryGap& g = c->entry_gap;
  const bool gap = g.block == block && g.words >= 0;
  std::vector<uint64_t> out(static_cast<size_t>(words));
  for (int64_t x = 0; x < words; ++x) out[size_t(x)] = base[gap && x >= g.at ? x + g.words : x];
  return out;
}

// The values stored: rows of doubles, text, nested cells, int8 rows, empty
// matrices, of lengths 0 to 5; built by engine operations alone, so that
// nothing but the store itself decides whether the gap stays.
constexpr char kMake[] =
    "function v = mk(t, j, len)\n"
    "  if t == 0, v = j * ones(1, len);\n"
    "  elseif t == 1, v = char(65 + mod(j, 26) + zeros(1, len));\n"
    "  elseif t == 2, v = {j, len};\n"
    "  elseif t == 3, v = int8(mod(j, 100) * ones(1, len));\n"
    "  else, v = [];\n"
    "  end\n"
    "endfunction\n";

// Statement j of the loop: a brace store, a parenthesis store of one entry,
// a read of another entry (which closes the gap), a store of a value taken
// from another cell array, a nested store into an entry that holds a cell.
constexpr char kStep[] =
    "switch op(j)\n"
    "  case 0, c{idx(j)} = mk(kind(j), j, len(j));\n"
    "  case 1, c(idx(j)) = {mk(kind(j), j, len(j))};\n"
    "  case 2, t = c{idx(j)};\n"
    "  case 3, c{idx(j)} = src{j};\n"
    "  case 4, if iscell(c{idx(j)}), c{idx(j)}{1} = j; end\n"
    "end\n";

struct Program {
  std::vector<int> op, idx, kind, len;
};

// Runs of forward and backward stores with a jump between them, some reads
// and other steps among them: the gap moves a little at each store, far at
// each jump, and closes and opens again.
Program make_program(std::mt19937* rng, int n, int m) {
  Program p;
  int at = 1 + int((*rng)() % n), dir = 1;
  for (int j = 0; j < m; ++j) {
    const uint32_t r = (*rng)() % 100;
    if (r < 6) at = 1 + int((*rng)() % n);  // a jump
    if (r >= 6 && r < 10) dir = -dir;
    at += dir;
    if (at < 1) at = n;
    if (at > n) at = 1;
    const uint32_t o = (*rng)() % 100;
    p.op.push_back(o < 70 ? 0 : o < 82 ? 1 : o < 90 ? 2 : o < 96 ? 3 : 4);
    p.idx.push_back(p.op.back() == 2 ? 1 + int((*rng)() % n) : at);
    p.kind.push_back(int((*rng)() % 5));
    p.len.push_back(int((*rng)() % 6));
  }
  return p;
}

std::string row(const char* name, const std::vector<int>& v) {
  std::string s = std::string(name) + " = [";
  for (int x : v) s += std::to_string(x) + " ";
  return s + "];\n";
}

struct EntryGapSessions : ::testing::Test {
  ZvrSession gapped, plain;

  EntryGapSessions() { plain.c->entry_gap_off = 1; }

  void both(const std::string& text) {
    ASSERT_EQ(gapped.run(text), kOk) << text << gapped.take_output();
    ASSERT_EQ(plain.run(text), kOk) << plain.take_output();
  }
};

TEST_F(EntryGapSessions, EveryPauseOfASlicedLoopHoldsThePlainStoresValueWithTheGapClosed) {
  std::mt19937 rng(20261208);
  const char* const starts[] = {"c = num2cell(1:900);", "c = cell(1, 1200);", "c = cell(30, 40);"};
  for (int round = 0; round < 6; ++round) {
    const char* start = starts[round % 3];
    const int level = round < 3 ? 4 : 0;  // the compiler's lowest and highest levels
    SCOPED_TRACE(std::string(start) + " at level " + std::to_string(level));
    compile_set_optimisation(gapped.c, level, 0);
    compile_set_optimisation(plain.c, level, 0);
    const int n = start[4] == 'n' ? 900 : 1200;
    const int m = 500;
    const Program p = make_program(&rng, n, m);
    both(kMake);
    both(std::string(start) + "src = num2cell((1:" + std::to_string(m) + ") * 3);\n" + row("op", p.op) +
         row("idx", p.idx) + row("kind", p.kind) + row("len", p.len));

    const std::string loop = "for j = 1:" + std::to_string(m) + "\n" + kStep + "end\n";
    ASSERT_EQ(exec_command_line(gapped.c, loop.data(), int32_t(loop.size()), 0), kSliceEnded);
    int status = kSliceEnded;
    int32_t desc = -1, data = -1;
    bool paused_open = false;
    for (int j = 1; status == kSliceEnded; ++j) {
      status = interp_run(gapped.c, 1);
      if (status != kSliceEnded) break;  // the last pass ends the loop
      paused_open = paused_open || gapped.c->entry_gap.block != 0;
      const std::string one = "j = " + std::to_string(j) + ";\n" + kStep;
      ASSERT_EQ(plain.run(one), kOk) << plain.take_output();
      ASSERT_EQ(value_words(gapped.c, "c"), value_words(plain.c, "c")) << "after statement " << j;
      ASSERT_TRUE(check_heap_chain(gapped.c)) << "after statement " << j;
      if (desc < 0) desc = gapped.c->desc_top, data = gapped.c->data_top;
      ASSERT_EQ(gapped.c->desc_top, desc) << "after statement " << j;
      ASSERT_EQ(gapped.c->data_top, data) << "after statement " << j;
    }
    ASSERT_EQ(status, kOk) << gapped.take_output();
    EXPECT_FALSE(paused_open);  // no gap outlives a slice
    EXPECT_EQ(gapped.c->entry_gap.block, 0);  // a run that ends leaves none
    EXPECT_EQ(value_words(gapped.c, "c"), value_words(plain.c, "c"));
    EXPECT_TRUE(gapped.clean());
    EXPECT_TRUE(plain.clean());
  }
}

}  // namespace
