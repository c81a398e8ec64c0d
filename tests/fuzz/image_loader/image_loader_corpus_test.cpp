// The loader's fuzz entry over truncations and flips of built images, each
// built in the smallest block, so that the seeds are small and mostly
// content; and the target's block, copied back for every run, against one
// initialised anew; and one seed whose image carries task records.
#include <gtest/gtest.h>

#include "engine/core/checked.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
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
    EXPECT_EQ(run_seed(tnbuild::flat(fuzzseed::unsettled(sections))), 0);
  }
}

// The reserved word at 16 is never read: whatever it holds (none, another
// table's fingerprint, junk), and whatever byte but 0 sets the two flags,
// the image loads; written back it carries the tables' own fingerprint and
// flags of 1, which the target's model allows.
TEST(ImageLoaderCorpus, ReservedWordAndFlagBytesAreAnyValue) {
  for (const fuzzseed::App& app : fuzzseed::apps()) {
    tnbuild::Sections sections;
    std::string error;
    ASSERT_TRUE(fuzzseed::build(app, &sections, &error)) << error;
    for (const tnbuild::Sections& junk : fuzzseed::junk_header_words(sections)) {
      const uint32_t word = tn::get_le32(junk.at(kReqHeader).data() + kImgReserved16);
      const std::vector<uint8_t> seed = tnbuild::flat(junk);
      RuntimeBlock** b = fuzzblock::fresh_block(fuzzblock::cap_for_flat(seed.size()));
      tnbuild::FlatFeed feed{&seed, seed.size()};
      EXPECT_EQ(rt_load_image(b, &tnbuild::FlatFeed::read, &feed), 0) << word;
      EXPECT_EQ((*b)->h.default_debug, 1);
      EXPECT_EQ((*b)->h.band_drawn, 1);
      fuzzblock::release_block();
      EXPECT_EQ(LLVMFuzzerTestOneInput(seed.data(), seed.size()), 0) << word;
    }
  }
}

// A run leaves the block loaded (or grown); the next run's block, copied back
// from the one kept, is byte for byte what a new initialisation lays out at
// that address.
TEST(ImageLoaderCorpus, EachRunStartsFromAFreshBlock) {
  tnbuild::Sections sections;
  std::string error;
  ASSERT_TRUE(fuzzseed::build(fuzzseed::apps().back(), &sections, &error)) << error;
  const std::vector<uint8_t> seed = tnbuild::flat(sections);
  for (uint32_t cap : {fuzzblock::kStartBytes, fuzzblock::kMaxBytes}) {
    RuntimeBlock** b = fuzzblock::fresh_block(cap);
    tnbuild::FlatFeed feed{&seed, seed.size()};
    EXPECT_EQ(rt_load_image(b, &tnbuild::FlatFeed::read, &feed), 0);
    EXPECT_GT((*b)->h.instance_count, 1);
    fuzzblock::release_block();
  }
  RuntimeBlock** b = fuzzblock::fresh_block(fuzzblock::kStartBytes);
  void* home = *b;
  const std::vector<uint8_t> copied(static_cast<uint8_t*>(home), static_cast<uint8_t*>(home) + fuzzblock::kStartBytes);
  fuzzblock::init_block(home);
  rt_set_grow_callback(*b, fuzzblock::grow, reinterpret_cast<void*>(uintptr_t(fuzzblock::kStartBytes)));
  EXPECT_EQ(std::memcmp(copied.data(), home, copied.size()), 0);
  fuzzblock::release_block();
}

// The application saved with waiting threads carries task records, so that
// the loader's moving of them is among what the seeds reach: every record,
// loaded at another place than it was written, points at its own block.
TEST(ImageLoaderCorpus, ASeedCarriesTaskRecords) {
  int with_tasks = 0;
  for (const fuzzseed::App& app : fuzzseed::apps()) {
    tnbuild::Sections sections;
    std::string error;
    ASSERT_TRUE(fuzzseed::build(app, &sections, &error)) << error;
    if (tn::get_le32(sections[kReqEngineHeader].data() + kImgTaskFirst) == 0) continue;
    ++with_tasks;
    const std::vector<uint8_t> seed = tnbuild::flat(sections);
    RuntimeBlock** b = fuzzblock::fresh_block(fuzzblock::cap_for_flat(seed.size()));
    tnbuild::FlatFeed feed{&seed, seed.size()};
    ASSERT_EQ(rt_load_image(b, &tnbuild::FlatFeed::read, &feed), 0);
    EngineContext* c = rt_engine(*b);
    int tasks = 0;
    for (int32_t index = c->task_first; index != 0 && tasks < 8; ++tasks) {
      const uint32_t* r = reinterpret_cast<const uint32_t*>(heap_words(c) + index);
      EXPECT_EQ(r[kTaskClockState], c->heap_base.v + uint32_t(index) * 8 + kTaskRecordBytes);
      index = int32_t(r[kTaskNext]);
    }
    EXPECT_EQ(tasks, 2);
    fuzzblock::release_block();
  }
  EXPECT_EQ(with_tasks, 1);
}
