// Large-page advice over the engine block: only whole large pages inside the
// heap less its ends are advised, small blocks are left alone, and an engine
// on an advised block stores and reads back values that span many pages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/context.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/lib/engine_start.h"
#include "host/block_pages.h"

namespace {

constexpr uint64_t kLargePage = uint64_t{2} << 20;

bool system_grants_large_pages_on_request() {
  std::ifstream f("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string line;
  return std::getline(f, line) && (line.find("[madvise]") != std::string::npos ||
                                    line.find("[always]") != std::string::npos);
}

}  // namespace

TEST(BlockPages, AdvisesWholeLargePagesInsideTheHeapOnly) {
  for (uint32_t megabytes : {4u, 16u, 64u, 512u}) {
    const uint32_t size = megabytes << 20;
    std::unique_ptr<void, decltype(&std::free)> block(std::calloc(size / 8, 8), &std::free);
    ASSERT_TRUE(block);
    const AreaOffsets at = engine_area_offsets(engine_area_layout(size));
    const uint64_t advised = block_advise_large_pages(block.get(), size);
    EXPECT_EQ(advised % kLargePage, 0u) << megabytes;
    // The heap's first and last megabytes are what start-up touches.
    if (advised > 0) EXPECT_LE(advised + (uint64_t{8} << 20), uint64_t(at.desc - at.heap)) << megabytes;
    if (megabytes == 512 && system_grants_large_pages_on_request()) EXPECT_GT(advised, 0u);
  }
  EXPECT_EQ(block_advise_large_pages(nullptr, 512u << 20), 0u);
}

TEST(BlockPages, AnEngineOnAnAdvisedBlockKeepsLargeValues) {
  const uint32_t size = 512u << 20;  // as zvr's: room for the value on the data stack
  std::unique_ptr<void, decltype(&std::free)> block(std::calloc(size / 8, 8), &std::free);
  ASSERT_TRUE(block);
  block_advise_large_pages(block.get(), size);
  EngineContext* c = nullptr;
  ASSERT_EQ(engine_start(block.get(), size, &c), kOk);
  // 2 M doubles (16 MB, past the heap's small-page start) stored, grown
  // and read back at both ends.
  const std::string text =
      "x = repmat(1:1024, 256, 8);\nx(end + 1, :) = 7;\ns = sum(x(:)) - 7 * 8192;\n"
      "if s ~= 256 * 8 * 1024 * 1025 / 2 || x(1, 1) ~= 1 || x(256, 8192) ~= 1024\n  error('wrong');\nend\n";
  int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  while (status == kSliceEnded) status = interp_run(c, 0);
  EXPECT_EQ(status, kOk);
}
