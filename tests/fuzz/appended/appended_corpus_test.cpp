// The appended-file fuzz entry over real packed applications (the image
// tools' round-trip demo, packed as tnpack packs it behind a small stand-in
// program, and the image targets' applications built in a small block) and
// over a packed file of blind sections, each truncated and flipped: the
// first reach every chunk and the image they carry.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/corpus.h"
#include "fuzz/fuzz_runtime_block.h"
#include "fuzz/seed_images.h"
#include "host/appended/appended_reader.h"
#include "runtime/image_loader.h"
#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t max_out_size, unsigned int seed);

namespace {

const std::vector<uint8_t> kProgram(64, 0x90);

std::vector<uint8_t> packed_app(const fuzzseed::App& app, bool unsettled = false) {
  tnbuild::Sections sections;
  std::string error;
  EXPECT_TRUE(fuzzseed::build(app, &sections, &error)) << error;
  if (unsettled) sections = fuzzseed::unsettled(sections);
  return tnbuild::with_trailer(kProgram, tnbuild::appended_block(sections, "about"));
}

// The file loads whole in the target's block, so that mutations start from
// a file that reaches every chunk.
void expect_loads(const std::vector<uint8_t>& file_bytes) {
  std::FILE* file = fmemopen(const_cast<uint8_t*>(file_bytes.data()), file_bytes.size(), "rb");
  AppendedStream s{};
  AppendedDescription d{};
  ASSERT_TRUE(appended_open_file(file, &s, &d));
  RuntimeBlock** b = fuzzblock::fresh_block(fuzzblock::kMinCapBytes);
  EXPECT_EQ(rt_load_image(b, &appended_chunk_read, &s), 0);
  EXPECT_GE((*b)->h.instance_count, 1);
  fuzzblock::release_block();
  appended_close(&s);
  appended_description_free(&d);
}

TEST(AppendedCorpus, APackedApplicationLoadsAndItsDamageIsAnswered) {
  tnbuild::Sections sections;
  std::string description, error;
  ASSERT_TRUE(tnbuild::build_application(DEMO_DESCRIPTION, &sections, &description, &error)) << error;
  const std::vector<uint8_t> seed = tnbuild::with_trailer(kProgram, tnbuild::appended_block(sections, description));
  expect_loads(seed);
  EXPECT_EQ(run_seed(seed), 0);
  EXPECT_GT(run_corpus(seed, 0, 64), 0);
}

TEST(AppendedCorpus, TheImageTargetsApplicationsPacked) {
  for (const fuzzseed::App& app : fuzzseed::apps()) {
    const std::vector<uint8_t> seed = packed_app(app);
    expect_loads(seed);
    EXPECT_EQ(run_seed(seed), 0);
    EXPECT_EQ(run_seed(packed_app(app, true)), 0);
  }
}

// The target's cross-over takes packed files apart and packs them again with
// whole chunks: a file crossed with itself comes back byte for byte, and two
// applications give a file that opens, whose chunks the loader reads.
TEST(AppendedCorpus, CrossingOverKeepsChunksWhole) {
  std::vector<std::vector<uint8_t>> files;
  for (const fuzzseed::App& app : fuzzseed::apps()) files.push_back(packed_app(app));
  std::vector<uint8_t> out(1 << 16);
  for (const auto& a : files)
    for (const auto& b : files)
      for (unsigned seed = 0; seed < 8; ++seed) {
        const size_t n = LLVMFuzzerCustomCrossOver(a.data(), a.size(), b.data(), b.size(), out.data(), out.size(), seed);
        ASSERT_GT(n, 0u);
        const std::vector<uint8_t> crossed(out.begin(), out.begin() + ptrdiff_t(n));
        if (&a == &b) EXPECT_EQ(crossed, a);
        std::FILE* file = fmemopen(out.data(), n, "rb");
        AppendedStream s{};
        AppendedDescription d{};
        ASSERT_TRUE(appended_open_file(file, &s, &d));
        appended_close(&s);
        appended_description_free(&d);
        EXPECT_EQ(LLVMFuzzerTestOneInput(crossed.data(), crossed.size()), 0);
      }
}

TEST(AppendedCorpus, BlindSectionsGiveAnAnswer) {
  tnbuild::Sections parts = {std::vector<uint8_t>(68, 1), {}, std::vector<uint8_t>(300, 2)};
  const std::vector<uint8_t> seed = tnbuild::with_trailer(kProgram, tnbuild::appended_block(parts, "about"));
  EXPECT_GT(run_corpus(seed, seed.size(), 1), 0);
}

}  // namespace
