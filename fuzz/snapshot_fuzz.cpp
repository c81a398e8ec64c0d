// libFuzzer target: arbitrary bytes as an engine state image. Every input must
// give a status; a loaded state must keep a whole heap chain, unwind, reset,
// and survive being grown into a larger block. A loaded state is also held
// against the image, cut by its header's sizes here: written back, it gives
// the image's header and sections again (the header as loading reads it: the
// position flag a byte, the disposition flag a yes or no, the main task's
// overrun cleared), its heap holds the image's heap words, which end in a
// block in use, and then one free block to the heap's end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/context.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "fuzz/engine_image_model.h"
#include "tests/support/code_builder.h"
#include "tests/support/snapshot_writer.h"

namespace {

constexpr uint32_t kBlock = 32768;
constexpr uint32_t kGrown = 49152;
alignas(64) uint8_t g_block[kBlock];
alignas(64) uint8_t g_grown[kGrown];

struct Input {
  const uint8_t* data;
  size_t size, at;
};

int read_input(void* to, uint32_t bytes, void* arg) {
  auto* in = static_cast<Input*>(arg);
  if (in->size - in->at < bytes) return 0;
  std::memcpy(to, in->data + in->at, bytes);
  in->at += bytes;
  return 1;
}

void require(bool ok) {
  if (!ok) std::abort();
}

[[noreturn]] void differs(const char* what, size_t at) {
  std::fprintf(stderr, "snapshot_fuzz: %s (byte %zu)\n", what, at);
  std::abort();
}

// The loaded context against the image it came from.
void check_against_image(EngineContext* c, const uint8_t* image, size_t size) {
  const std::vector<uint8_t> got = write_engine_image(c);
  const std::vector<uint8_t> want = engineimage::header_as_loaded(image, got.data());
  auto word = [&](uint32_t at) { return tn::get_le32(image + at); };
  const bool tasks = word(kImgTaskFirst) != 0;
  for (size_t at = 0; at < kImageHeaderBytes; ++at)
    if (want[at] != got[at]) differs("the header written back is not the image's", at);
  // The sections: descriptors, data and heap, then the function table, code
  // and symbols as they stand in the image.
  const uint64_t held = word(kImgHeapWords);  // heap words in the image
  const uint64_t before_heap = uint64_t(word(kImgDescTop)) * 4 + uint64_t(word(kImgDataTop)) * 8;
  const uint64_t after_heap =
      uint64_t(word(kImgFnCount)) * 16 + uint64_t(word(kImgCodeWords)) * 2 + word(kImgSymbolBytes);
  const uint8_t* sections = image + kImageHeaderBytes;
  require(kImageHeaderBytes + before_heap + held * 8 + after_heap <= size);
  const uint8_t* written = got.data() + kImageHeaderBytes;
  const uint64_t written_heap = uint64_t(tn::get_le32(got.data() + kImgHeapWords)) * 8;
  if (std::memcmp(written, sections, before_heap) != 0) differs("the stacks written back are not the image's", 0);
  if (got.size() != kImageHeaderBytes + before_heap + written_heap + after_heap ||
      std::memcmp(written + before_heap + written_heap, sections + before_heap + held * 8, after_heap) != 0)
    differs("the table, code or symbols written back are not the image's", 0);
  const uint64_t* heap = heap_words(c);
  if (!tasks && held && std::memcmp(heap, sections + before_heap, held * 8) != 0)
    differs("the heap loaded is not the image's", 0);
  // The image's heap words end in a block in use (its writer saved them to
  // there): a free block before the free end would leave that end in pieces.
  if (!saved_heap_ends_in_use(heap, int64_t(held))) differs("the heap's words end in a free block", held);
  if (int64_t(held) < c->heap_size) {
    const uint64_t tail = heap_header(heap, int64_t(held));
    if (heap_header_used(tail) || heap_header_size(tail) != c->heap_size - int64_t(held) - 1)
      differs("the heap's free tail does not reach its end", held);
  }
}

bool chain_whole(EngineContext* c) {
  return heap_walk(heap_words(c), c->heap_size, [](int64_t, int64_t, uint64_t) {});
}

// A valid image with every structure the loader checks, so that inputs can be
// small changes to it rather than blind bytes.
std::vector<uint8_t> make_seed() {
  EngineContext* c = nullptr;
  std::memset(g_block, 0, sizeof g_block);
  require(engine_init(g_block, kBlock, &c) == kOk);
  engine_reset(c);
  int32_t s_f = 0, s_v = 0;
  require(symtab_intern(c, "f", 1, 32, &s_f) == kOk && symtab_intern(c, "v", 1, 32, &s_v) == kOk);
  HandFunction f;
  f.locals = 2;
  f.max_in = 1;
  f.max_out = 1;
  const uint32_t code = place_function(c, f);
  int32_t var = 0;
  require(heap_alloc(c, 2, &var) == kOk);
  std::memset(heap_words(c) + var, 0, 16);
  const uint32_t entries[] = {uint32_t(s_f), 0, code, 0, 1, uint32_t(s_v), uint32_t(var), uint32_t(-1)};
  std::memcpy(fn_entry(c, 1), entries, sizeof entries);
  c->fn_count = 3;
  require(stk_push_cstr(c, -1, "text") == kOk && stk_push_real(c, 2) == kOk);
  const CodePosition at{kAreaCode, 0, code * 2 + 8};
  require(frame_push(c, &at, function_header(c, code), 1, 0, 1, 1, 0, 0, 0) == kOk);
  require(stk_push_real(c, 3) == kOk);
  c->pos = at;
  return write_engine_image(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> seed = make_seed();
  // Odd first byte: the rest is XOR-ed into the seed from a chosen position
  // and the result cut to a chosen length. Even: the bytes are the image.
  std::vector<uint8_t> patched;
  if (size >= 5 && (data[0] & 1)) {
    patched = seed;
    const size_t from = (data[1] | size_t(data[2]) << 8) % seed.size();
    const size_t keep = seed.size() - (data[3] | size_t(data[4]) << 8) % 64;
    for (size_t k = 5; k < size && from + k - 5 < patched.size(); ++k) patched[from + k - 5] ^= data[k];
    patched.resize(keep);
    data = patched.data();
    size = patched.size();
  }
  EngineContext* c = nullptr;
  std::memset(g_block, 0, sizeof g_block);
  require(engine_init(g_block, kBlock, &c) == kOk);
  Input in{data, size, 0};
  const int status = engine_load_image(c, &read_input, &in);
  require(chain_whole(c));
  if (status == kOk) {
    check_against_image(c, data, size);
    // A loaded state is one the engine can grow, unwind and use.
    std::memcpy(g_grown, g_block, kBlock);
    c = reinterpret_cast<EngineContext*>(g_grown);
    const int grown = engine_offsets_to_pointers(c, kGrown, size ? data[size - 1] % 8 : 0);
    require(grown == kOk || grown == kInitError);
    require(chain_whole(c));
    frame_unwind(c, 0);
  }
  engine_reset(c);
  require(chain_whole(c));
  int32_t index = 0;
  heap_alloc(c, 8, &index);
  return 0;
}
