// The loader's fuzz entry over truncations and flips of built images, each
// built in the smallest block, so that the seeds are small and mostly
// content (the fuzzer runs thousands of them a second).
#include <gtest/gtest.h>

#include "fuzz/corpus.h"
#include "fuzz/fuzz_runtime_block.h"
#include "fuzz/seed_images.h"
#include "runtime/image_loader.h"
#include "support/image_feed.h"

TEST(ImageLoaderCorpus, EveryInputGivesAStatus) {
  for (const fuzzseed::App& app : fuzzseed::apps()) {
    tnbuild::Sections sections;
    std::string error;
    ASSERT_TRUE(fuzzseed::build(app, &sections, &error)) << error;
    const std::vector<uint8_t> seed = tnbuild::flat(sections);
    EXPECT_LT(seed.size(), 128u << 10);
    // The seed loads whole within the target's cap on growth.
    RuntimeBlock** b = fuzzblock::fresh_block(fuzzblock::cap_for_flat(seed.size()));
    tnbuild::FlatFeed feed{&seed, seed.size()};
    EXPECT_EQ(rt_load_image(b, &tnbuild::FlatFeed::read, &feed), 0);
    fuzzblock::release_block();
    EXPECT_GT(run_corpus(seed, 320, 200), 0);
    EXPECT_EQ(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0);
  }
}
