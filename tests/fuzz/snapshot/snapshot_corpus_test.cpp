// The engine image loader's fuzz entry over its own valid image: whole, then
// with bytes XOR-ed in at offsets across it (headers, tables, heap, frames)
// and cut short, each truncated and flipped; and a few raw byte images.
#include <gtest/gtest.h>

#include <vector>

#include "fuzz/corpus.h"

namespace {

constexpr uint8_t kPatchMode = 1;  // odd first byte: patch the target's image

std::vector<uint8_t> patch(uint32_t from, uint32_t cut, std::vector<uint8_t> xor_bytes) {
  std::vector<uint8_t> in = {kPatchMode, uint8_t(from), uint8_t(from >> 8), uint8_t(cut), uint8_t(cut >> 8)};
  in.insert(in.end(), xor_bytes.begin(), xor_bytes.end());
  return in;
}

TEST(SnapshotCorpus, ThePatchedImageGivesAStatus) {
  EXPECT_EQ(run_seed(patch(0, 0, {})), 0);  // the valid image, loaded, grown and unwound
  int runs = 0;
  runs += run_corpus(patch(0, 0, {0x01, 0x80, 0xff, 0x10, 0x00, 0x00, 0x00, 0x40}), 13, 1);
  for (uint32_t from = 8; from < 12000; from += 376)
    runs += run_corpus(patch(from, from % 64, {0xff, 0x7f, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00}), 0, 4);
  EXPECT_GT(runs, 0);
}

// Header words a load copies, each given a value of its own (the semaphore
// words, the display words and text, the task words): the state written
// back must hold each in its own place.
TEST(SnapshotCorpus, EachHeaderWordKeepsItsPlace) {
  constexpr uint32_t kTaskNextId = 208;  // through the display flag's word
  std::vector<uint8_t> words;
  for (uint8_t k = 0; k < 32; ++k) words.push_back(uint8_t(k % 4 == 0 ? k / 4 + 1 : 0));
  EXPECT_EQ(run_seed(patch(kTaskNextId, 0, words)), 0);
}

TEST(SnapshotCorpus, RawBytesGiveAStatus) {
  std::vector<uint8_t> raw(96);
  for (size_t k = 0; k < raw.size(); ++k) raw[k] = uint8_t(k * 29 + 2);
  raw[0] = 0;
  EXPECT_GT(run_corpus(raw, 32, 8), 0);
}

}  // namespace
