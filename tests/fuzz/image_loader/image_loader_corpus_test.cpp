// The loader's fuzz entry over truncations and flips of a built image.
#include <gtest/gtest.h>

#include "fuzz/corpus.h"
#include "fuzz/fuzz_runtime_block.h"
#include "runtime/image_loader.h"
#include "support/image_feed.h"
#include "runtime/fake_host.h"
#include "tools/imagetools/image_builder.h"

TEST(ImageLoaderCorpus, EveryInputGivesAStatus) {
  FakeHost h;
  ASSERT_EQ(h.start(2u << 20, 2u << 20), 0);
  ASSERT_EQ(rt_register_library(h.block, g_builtin_table_host), 0);
  tnbuild::Builder builder(h.block, {{"demo", "function x = demo_init()\n x = 1;\nendfunction\n"}});
  ASSERT_TRUE(builder.build("instance demo\nvar x\ninit x = demo_init()\nfigure \"F\"\ndrag -1 x = demo_init()\n"));
  const std::vector<uint8_t> seed = tnbuild::flat(builder.sections());
  // The seed loads whole within the target's cap on growth.
  RuntimeBlock* b = fuzzblock::fresh_block(fuzzblock::kStartBytes, fuzzblock::cap_for_flat(seed.size()));
  tnbuild::FlatFeed feed{&seed, seed.size()};
  EXPECT_EQ(rt_load_image(&b, &tnbuild::FlatFeed::read, &feed), 0);
  std::free(b);
  EXPECT_GT(run_corpus(seed, 320, 200), 0);
  EXPECT_EQ(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0);
}
