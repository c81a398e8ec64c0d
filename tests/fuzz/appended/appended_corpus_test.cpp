// The appended-file fuzz entry over a real packed application (the image
// tools' round-trip demo, packed as tnpack packs it behind a small stand-in
// program) and over a packed file of blind sections, each truncated and
// flipped: the first reaches every chunk and the image they carry.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/corpus.h"
#include "fuzz/fuzz_runtime_block.h"
#include "host/appended/appended_reader.h"
#include "runtime/image_loader.h"
#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

namespace {

const std::vector<uint8_t> kProgram(64, 0x90);

TEST(AppendedCorpus, APackedApplicationLoadsAndItsDamageIsAnswered) {
  tnbuild::Sections sections;
  std::string description, error;
  ASSERT_TRUE(tnbuild::build_application(DEMO_DESCRIPTION, &sections, &description, &error)) << error;
  const std::vector<uint8_t> seed = tnbuild::with_trailer(kProgram, tnbuild::appended_block(sections, description));
  // The seed loads whole in the target's block, so that mutations start
  // from a file that reaches every chunk.
  std::FILE* file = fmemopen(const_cast<uint8_t*>(seed.data()), seed.size(), "rb");
  AppendedStream s{};
  AppendedDescription d{};
  ASSERT_TRUE(appended_open_file(file, &s, &d));
  RuntimeBlock* b = fuzzblock::fresh_block(fuzzblock::kPackedStartBytes, fuzzblock::kPackedCapBytes);
  EXPECT_EQ(rt_load_image(&b, &appended_chunk_read, &s), 0);
  EXPECT_EQ(b->h.instance_count, 1);
  std::free(b);
  appended_close(&s);
  appended_description_free(&d);
  EXPECT_EQ(run_seed(seed), 0);
  EXPECT_GT(run_corpus(seed, 0, 64), 0);
}

TEST(AppendedCorpus, BlindSectionsGiveAnAnswer) {
  tnbuild::Sections parts = {std::vector<uint8_t>(68, 1), {}, std::vector<uint8_t>(300, 2)};
  const std::vector<uint8_t> seed = tnbuild::with_trailer(kProgram, tnbuild::appended_block(parts, "about"));
  EXPECT_GT(run_corpus(seed, seed.size(), 1), 0);
}

}  // namespace
