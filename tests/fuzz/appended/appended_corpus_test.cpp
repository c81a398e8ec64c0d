// The appended-file fuzz entry over a real packed application (the image
// tools' round-trip demo, packed as tnpack packs it behind a small stand-in
// program) and over a packed file of blind sections, each truncated and
// flipped: the first reaches every chunk and the image they carry.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/corpus.h"
#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

namespace {

const std::vector<uint8_t> kProgram(64, 0x90);

TEST(AppendedCorpus, APackedApplicationLoadsAndItsDamageIsAnswered) {
  tnbuild::Sections sections;
  std::string description, error;
  ASSERT_TRUE(tnbuild::build_application(DEMO_DESCRIPTION, &sections, &description, &error)) << error;
  const std::vector<uint8_t> seed = tnbuild::with_trailer(kProgram, tnbuild::appended_block(sections, description));
  EXPECT_EQ(run_seed(seed), 0);
  EXPECT_GT(run_corpus(seed, 0, 64), 0);
}

TEST(AppendedCorpus, BlindSectionsGiveAnAnswer) {
  tnbuild::Sections parts = {std::vector<uint8_t>(68, 1), {}, std::vector<uint8_t>(300, 2)};
  const std::vector<uint8_t> seed = tnbuild::with_trailer(kProgram, tnbuild::appended_block(parts, "about"));
  EXPECT_GT(run_corpus(seed, seed.size(), 1), 0);
}

}  // namespace
