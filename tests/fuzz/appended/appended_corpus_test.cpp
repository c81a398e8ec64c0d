// The chunk reader's fuzz entry over truncations and flips of a packed file.
#include <gtest/gtest.h>

#include "fuzz/corpus.h"
#include "tools/imagetools/image_packer.h"

TEST(AppendedCorpus, EveryInputGivesAnAnswer) {
  tnbuild::Sections parts = {std::vector<uint8_t>(68, 1), {}, std::vector<uint8_t>(300, 2)};
  const std::vector<uint8_t> program(64, 0x90);
  const std::vector<uint8_t> seed = tnbuild::with_trailer(program, tnbuild::appended_block(parts, "about"));
  EXPECT_GT(run_corpus(seed, seed.size(), 1), 0);
}
