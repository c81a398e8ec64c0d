// The contour tracer's fuzz target over a small seed corpus: grids with
// ties at the levels, NaN, infinities and flat regions, plain and filled,
// with rooms from one point up, each truncated and flipped at a stride.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/corpus.h"

namespace {

// Header bytes: rows - 2, columns - 2, filled flag, room - 1; then one
// byte a grid value (low four bits: quarter steps, 12-15 specials).
std::vector<uint8_t> seed(uint8_t rows, uint8_t cols, uint8_t filled, uint8_t room, uint8_t salt) {
  std::vector<uint8_t> s = {uint8_t(rows - 2), uint8_t(cols - 2), filled, uint8_t(room - 1)};
  for (int i = 0; i < rows * cols; ++i) s.push_back(uint8_t((i * 7 + salt * 3 + (i / cols) * 5) % 16));
  return s;
}

TEST(ContourCorpus, GridsPlainAndFilled) {
  int runs = 0;
  for (uint8_t filled : {0, 1})
    for (uint8_t room : {1, 3, 40, 255}) {
      runs += run_corpus(seed(6, 5, filled, room, 1), 16, 60);
      runs += run_corpus(seed(13, 13, filled, room, 2), 16, 60);
    }
  // A cone: one closed ring per level, through grid points at 1.
  std::vector<uint8_t> cone = {7, 7, 1, 200};
  for (int r = 0; r < 9; ++r)
    for (int c = 0; c < 9; ++c) cone.push_back(uint8_t(std::abs(r - 4) + std::abs(c - 4)));
  runs += run_corpus(cone, 16, 80);
  EXPECT_GT(runs, 0);
}

}  // namespace
