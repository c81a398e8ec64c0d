// The image tools end to end: tnbuild writes the flat stream, tnpack the
// same application behind a copy of a program that still runs; both load
// into a fresh block, equal to what the builder makes in process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/core/fntable.h"
#include "host/appended/appended_reader.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "runtime/record_list.h"
#include "support/image_feed.h"
#include "tools/imagetools/application_build.h"
#include "tools/imagetools/image_packer.h"

namespace {

using namespace tnbuild;

constexpr uint32_t kBlockBytes = 4u << 20;

int run(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

void start(FakeHost* h) {
  ASSERT_EQ(h->start(kBlockBytes, 4 * kBlockBytes), 0);
  ASSERT_EQ(rt_register_library(h->block, g_builtin_table_host), 0);
}

void expect_demo_loaded(RuntimeBlock* b) {
  ASSERT_EQ(b->h.instance_count, 1);
  const char* text = nullptr;
  int32_t length = 0;
  char buffer[64];
  ASSERT_EQ(inst_get_title(b, 0, &text, &length, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(text, size_t(length)), "Demo");
  int32_t pos = 0;
  EXPECT_EQ(rec_find_tag(b, 0, &pos, kTagMouseDrag), 0);
}

TEST(ImageTools, TnbuildAndTnpackRoundTrip) {
  const std::string scratch = TOOLS_SCRATCH;
  const std::string image = scratch + "/demo.img", packed = scratch + "/demo_packed", flat_out = scratch + "/demo.flat";
  ASSERT_EQ(run(std::string(TNBUILD_PATH) + " " + DEMO_DESCRIPTION + " " + image), 0);
  ASSERT_EQ(run(std::string(TNPACK_PATH) + " " + DEMO_DESCRIPTION + " " + TEST_PROGRAM_PATH + " " + packed), 0);
  ASSERT_EQ(run(std::string(TNPACK_PATH) + " --flat " + DEMO_DESCRIPTION + " " + flat_out), 0);
  // The packed program still runs as itself.
  EXPECT_EQ(run(packed + " -e \"x = 1 + 1;\""), 0);

  Sections in_process;
  std::string description, error;
  ASSERT_TRUE(build_application(DEMO_DESCRIPTION, &in_process, &description, &error)) << error;
  const std::vector<uint8_t> stream = read_file(image);
  EXPECT_EQ(stream, flat(in_process));
  EXPECT_EQ(read_file(flat_out), stream);

  FakeHost from_flat;
  start(&from_flat);
  FlatFeed feed{&stream, stream.size()};
  ASSERT_EQ(rt_load_image(&from_flat.block, &FlatFeed::read, &feed), 0);
  EXPECT_EQ(feed.at, stream.size());
  expect_demo_loaded(from_flat.block);

  AppendedStream s{};
  AppendedDescription d{};
  ASSERT_TRUE(appended_open(packed.c_str(), &s, &d));
  EXPECT_EQ(std::string(d.text, d.length), description);
  FakeHost from_packed;
  start(&from_packed);
  EXPECT_EQ(rt_load_image(&from_packed.block, &appended_chunk_read, &s), 0);
  appended_close(&s);
  appended_description_free(&d);
  expect_demo_loaded(from_packed.block);
  EXPECT_EQ(from_packed.block->h.record_words, from_flat.block->h.record_words);
}

// The bundled demo built in a large block (its function table then larger
// than a 512 KB block's whole code area) loads into a 512 KB block that may
// grow: the engine asks for a larger code area and the loader grows the block,
// where it used to refuse the image with 600.
TEST(ImageTools, DemoFromALargeBlockLoadsIntoASmallBlockThatGrows) {
  const std::string tnd = APPS_DEMO_DESCRIPTION;
  const std::vector<uint8_t> description = read_file(tnd);
  const std::vector<uint8_t> source = read_file(tnd.substr(0, tnd.size() - 3) + "zvr");
  ASSERT_FALSE(description.empty());
  ASSERT_FALSE(source.empty());
  FakeHost writer;
  ASSERT_EQ(writer.start(32u << 20, 32u << 20), 0);
  ASSERT_EQ(rt_register_library(writer.block, g_builtin_table_host), 0);
  Builder builder(writer.block, {{"demo", std::string(source.begin(), source.end())}});
  ASSERT_TRUE(builder.build(std::string(description.begin(), description.end()))) << builder.error;
  const Sections saved = builder.sections();

  FakeHost small;
  ASSERT_EQ(small.start(512u << 10, 64u << 20), 0);
  ASSERT_EQ(rt_register_library(small.block, g_builtin_table_host), 0);
  ASSERT_GT(int64_t(rt_engine(writer.block)->fn_capacity) * kEntryCodeWords,
            int64_t(rt_engine(small.block)->code_size));
  RequestFeed feed{&saved, 0};
  ASSERT_EQ(rt_load_image(&small.block, &RequestFeed::read, &feed), 0);
  EXPECT_GT(small.moves, 0);
  ASSERT_EQ(small.block->h.instance_count, 1);
  const char* text = nullptr;
  int32_t length = 0;
  char buffer[64];
  ASSERT_EQ(inst_get_title(small.block, 0, &text, &length, buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(text, size_t(length)), "Tarnivel Demo");
}

TEST(ImageTools, BadInputIsRefusedWithAStatus) {
  const std::string scratch = TOOLS_SCRATCH;
  EXPECT_EQ(run(std::string(TNBUILD_PATH)), 2 << 8);
  EXPECT_NE(run(std::string(TNBUILD_PATH) + " " + scratch + "/missing.tnd " + scratch + "/x.img"), 0);
  const std::string bad = scratch + "/bad.tnd";
  ASSERT_TRUE(write_file(bad, std::vector<uint8_t>{'b', 'o', 'g', 'u', 's', '\n'}));
  EXPECT_NE(run(std::string(TNPACK_PATH) + " --flat " + bad + " " + scratch + "/x.img"), 0);
}

}  // namespace
