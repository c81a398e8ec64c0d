// Saved images damaged in the words that later index memory: code bytes of
// the handlers, the engine header's words (the semaphore table's among
// them). Each image is either refused when it loads, with a status and the
// block as initialisation left it, or runs its init and plot handlers
// without reading outside the block (the sanitizer build sees any such read).
#include <gtest/gtest.h>

#include "engine/core/opcodes.h"
#include "engine/core/snapshot.h"
#include "runtime/fake_host.h"
#include "runtime/instances.h"
#include "support/image_feed.h"

namespace {

using namespace tnbuild;

constexpr uint32_t kBuildBytes = 4u << 20;
constexpr uint32_t kMaxBytes = 8u << 20;  // a damaged size asks for growth: keep it cheap
constexpr size_t kReqCode = kReqEngineFirst + 4;

// The init handler makes a semaphore table (saved with the image) and asks
// for another semaphore when it runs again; the plot handler negates.
const char kSource[] =
    "function x = p_init()\n x = 2;\n s = semaphorenew();\nendfunction\n"
    "function p_plot(x)\n if ~x\n  x = 1;\n end\n plot(1:3, [x ~x x]);\nendfunction\n";

const char kDescription[] =
    "instance p\n"
    "var x\n"
    "init x = p_init()\n"
    "figure \"Main\"\n"
    "plot p_plot(x)\n";

Sections build_image() {
  FakeHost h;
  EXPECT_EQ(h.start(kBuildBytes, kMaxBytes), 0);
  EXPECT_EQ(rt_register_library(h.block, g_builtin_table_host), 0);
  Builder builder(h.block, {{"p", kSource}});
  EXPECT_TRUE(builder.build(kDescription)) << builder.error;
  return builder.sections();
}

// The load's status; once loaded, every instance's init and plot handlers
// run. A refused image leaves the block as initialisation left it.
int load_and_run(const Sections& parts) {
  FakeHost h;
  if (h.start(kBuildBytes, kMaxBytes) != 0 || rt_register_library(h.block, g_builtin_table_host) != 0) return -1;
  RequestFeed feed{&parts, 0, SIZE_MAX};
  const int status = rt_load_image(&h.block, &RequestFeed::read, &feed);
  if (status != 0) {
    EXPECT_EQ(h.block->h.instance_count, 1);
    EXPECT_EQ(rt_engine(h.block)->fn_count, 1);
    return status;
  }
  for (int32_t k = 0; k < h.block->h.instance_count; ++k) {
    const int32_t id = inst_at(h.block, k)->id;
    inst_reset(&h.block, id);
    inst_plot_all(&h.block, id);
  }
  return 0;
}

uint32_t engine_word(const Sections& s, uint32_t at) { return tn::get_le32(s[kReqEngineHeader].data() + at); }
void set_engine_word(Sections* s, uint32_t at, uint32_t v) { tn::put_le32((*s)[kReqEngineHeader].data() + at, v); }

// The init handler's return loads its output: turned into a store, it takes
// an item the frame does not have.
TEST(DamagedImage, StoreThatTakesAMissingItemIsRefused) {
  const Sections image = build_image();
  ASSERT_EQ(load_and_run(image), 0);
  const std::vector<uint8_t>& code = image[kReqCode];
  int changed = 0;
  for (size_t k = 0; k + 5 < code.size(); k += 2) {
    const uint16_t op = uint16_t(code[k] | code[k + 1] << 8), next = uint16_t(code[k + 4] | code[k + 5] << 8);
    if (op != kOpLoadLocal || next != kOpRetFunction) continue;
    Sections bad = image;
    bad[kReqCode][k] = uint8_t(kOpStoreLocal);
    EXPECT_EQ(load_and_run(bad), kInitError) << "code byte " << k;
    ++changed;
  }
  EXPECT_GT(changed, 0);
}

// Every code byte with its low two bits (a neighbouring opcode, a local
// or a jump one off) and its top bit flipped, one at a time.
TEST(DamagedImage, EveryCodeByteFlippedLoadsSafelyOrIsRefused) {
  const Sections image = build_image();
  int refused = 0;
  for (size_t at = 0; at < image[kReqCode].size(); ++at) {
    for (int bit : {0, 1, 7}) {
      Sections bad = image;
      bad[kReqCode][at] ^= uint8_t(1 << bit);
      if (load_and_run(bad) != 0) ++refused;
    }
  }
  EXPECT_GT(refused, 0);
}

// The semaphore table's words: a heap index that names no table the heap
// holds, or a capacity past its block, is refused; none (0 or -1) loads.
TEST(DamagedImage, SemaphoreTableWordsAreChecked) {
  const Sections image = build_image();
  const uint32_t index = engine_word(image, kImgSemWord0), capacity = engine_word(image, kImgSemWord1);
  ASSERT_GT(int32_t(index), 0) << "the init handler made a semaphore table";
  struct Row {
    uint32_t index, capacity;
    int status;
  };
  const Row rows[] = {
      {index, capacity, 0},
      {0, 12345, 0},
      {0xffffffffu, 7, 0},
      {index + 0x100000, capacity, kInitError},
      {0x7fffffff, capacity, kInitError},
      {uint32_t(-5), capacity, kInitError},
      {index + 1, capacity, kInitError},
      {index, capacity * 64, kInitError},
      {index, 0, kInitError},
      {index, 0x80000000u, kInitError},
  };
  for (const Row& r : rows) {
    Sections bad = image;
    set_engine_word(&bad, kImgSemWord0, r.index);
    set_engine_word(&bad, kImgSemWord1, r.capacity);
    EXPECT_EQ(load_and_run(bad), r.status) << r.index << " " << r.capacity;
  }
}

// Every word of the image's header and of the engine's set to values around
// its own and to the extremes: each image loads and runs, or is refused.
TEST(DamagedImage, EveryHeaderWordLoadsSafelyOrIsRefused) {
  const Sections image = build_image();
  for (const size_t request : {size_t(kReqHeader), size_t(kReqEngineHeader)}) {
    for (uint32_t at = 0; at + 4 <= image[request].size(); at += 4) {
      const uint32_t was = tn::get_le32(image[request].data() + at);
      for (uint32_t v : {0u, 1u, 0xffffffffu, 0x7fffffffu, 0x80000000u, was + 1, was - 1, was * 2 + 8}) {
        Sections bad = image;
        tn::put_le32(bad[request].data() + at, v);
        load_and_run(bad);
      }
    }
  }
}

}  // namespace
