// The scene fuzz target over a small seed corpus: crossing segments,
// piercing and cyclic triangles, NaN and huge coordinates, a full block and
// a clip rectangle, each truncated and flipped bit by bit at a stride.
#include <gtest/gtest.h>

#include <vector>

#include "fuzz/corpus.h"

namespace {

// A primitive: kind byte then nine coordinate bytes (value = (b - 120) / 2).
void prim(std::vector<uint8_t>& s, uint8_t kind, std::initializer_list<int> c) {
  s.push_back(kind);
  for (int v : c) s.push_back(uint8_t(v * 2 + 120));
  for (size_t i = c.size(); i < 9; ++i) s.push_back(120);
}

std::vector<uint8_t> seed(uint8_t room, uint8_t clip) {
  std::vector<uint8_t> s = {room, 0, 7, clip};
  prim(s, 1, {0, 0, 10, 10, 10, -12});  // crossing segments
  prim(s, 1, {0, 10, 0, 10, 0, 0});
  prim(s, 0x2e, {0, 0, 0, 20, 0, 10, 0, 20, 5});  // piercing triangles
  prim(s, 0x7e, {5, 5, -5, 15, 5, -5, 10, 15, 20});
  prim(s, 0x7e, {0, 0, 3, 30, 2, 0, 30, -2, 0});  // a cycle of three
  prim(s, 0x7e, {26, -4, 3, 11, 22, 0, 7, 18, 0});
  prim(s, 0x7e, {4, 22, 3, 2, -2, 0, 6, -2, 0});
  prim(s, 0, {5, 5, 30});  // a point over them
  s.push_back(2);  // NaN and huge coordinates
  for (uint8_t b : {250, 120, 120, 252, 130, 140, 251, 0, 1}) s.push_back(b);
  s.push_back(0x0e);
  for (uint8_t b : {120, 120, 120, 121, 120, 120, 120, 121, 120}) s.push_back(b);  // tiny
  return s;
}

TEST(SceneCorpus, SeedsTruncatedAndFlipped) {
  for (uint8_t room : {0, 2, 8, 60}) EXPECT_GT(run_corpus(seed(room, 0), 48, 200), 0);
  EXPECT_GT(run_corpus(seed(60, 1), 48, 200), 0);
}

// Many overlapping tilted triangles: conflicts everywhere, little room.
TEST(SceneCorpus, AWorstCase) {
  std::vector<uint8_t> s = {12, 1, 0, 0};
  for (int i = 0; i < 40; ++i) prim(s, 0x7e, {i % 3, 0, (i % 2 ? 5 : -5), 50, 1, (i % 2 ? -5 : 5), 25, 50, 0});
  run_seed(s);
  s[0] = 199;
  EXPECT_GT(run_corpus(s, 8, 60), 0);
}

// Points and segments drawn alike (options bit 2; kind bit 0x10 shares the
// words of the one before): a chain crossing itself and a triangle, alike
// points on one pixel at several depths, and unlike ones among them.
TEST(SceneCorpus, AlikeChainsAndPoints) {
  for (uint8_t options : {2, 3}) {
    std::vector<uint8_t> s = {60, 0, 7, options};
    prim(s, 0x2e, {0, 0, 0, 20, 0, 10, 0, 20, 5});
    prim(s, 1, {-4, 2, -8, 2, 4, -4});
    for (int i = 0; i < 8; ++i)
      prim(s, 0x11, {2 + 3 * (i % 3), 4 + 2 * (i % 4), -8 + 3 * i, 5 + 3 * (i % 2), 8 - 2 * (i % 3), -5 + 3 * i});
    for (int i = 0; i < 4; ++i) prim(s, i % 2 ? 0x10 : 0, {6, 6, 10 - 5 * i});
    prim(s, 0x10, {6, 6, 12});
    EXPECT_GT(run_corpus(s, 24, 200), 0);
  }
}

// Found by the fuzzer: four triangles, one edge-on, and a segment at
// y = 3e38 that split 117 times until the budget ran out with a skipped run
// of candidates larger than what was left of it; the indexed walks stopped
// short of the plain walk's pair count.
TEST(SceneCorpus, TheBudgetRunsOutInASkippedRun) {
  const std::vector<uint8_t> s = {
      0xc7, 0x01, 0x00, 0x00, 0x7e, 0x78, 0x78, 0x6e, 0xdc, 0x7a, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
      0xff, 0xff, 0x78, 0x7e, 0x78, 0x78, 0x7e, 0x78, 0x78, 0x82, 0xdc, 0x7a, 0x6e, 0xaa, 0xdc, 0x78, 0x79, 0x88,
      0xfc, 0x78, 0x8c, 0x6e, 0x82, 0xdc, 0x7a, 0x6e, 0xaa, 0xdc, 0x78, 0x7a, 0x6e, 0xaa, 0xaa, 0xaa};
  ASSERT_EQ(s.size(), 52u);
  EXPECT_EQ(run_seed(s), 0);
}

}  // namespace
