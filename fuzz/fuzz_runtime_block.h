// The runtime block the image targets load into: a block with the host's
// library registered, grown by doubling up to a cap that each target sets
// from what its seeds need, so that a hostile size in a header costs at most
// that much. The block's messages ("TN memory expanded ...") go to a sink
// that is emptied each time.
// Laying a block out (binding the built-in tables, registering the library)
// costs many times what loading a small image does, so it is done once: the
// block as initialisation left it is kept, and every run copies it back into
// the same buffer at the same address, where everything in it is as a fresh
// initialisation would make it. The block word the block and its engine name
// is a global, so it outlives the call that made the block.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/core/streams.h"
#include "fuzz/image_model.h"
#include "graphics/plotlist/plot_store.h"
#include "host/builtin_table_host.h"
#include "runtime/embedded_streams.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/runtime_block.h"
#include "runtime/undo_store.h"

namespace fuzzblock {

constexpr uint32_t kStartBytes = 512u << 10;
constexpr uint32_t kMaxBytes = 8u << 20;
// The least cap: two doublings of the start, so that small images too reach
// the loader's growth (and its replay of what was delivered before it),
// while a hostile size costs little.
constexpr uint32_t kMinCapBytes = 4 * kStartBytes;

// The fuzz input as the loader's byte source: reads past its end fail.
struct Input {
  const uint8_t* data;
  size_t size, at;
  static bool read(void* to, uint32_t n, void* arg) {
    auto* in = static_cast<Input*>(arg);
    if (in->size - in->at < n) return false;
    if (n) std::memcpy(to, in->data + in->at, n);
    in->at += n;
    return true;
  }
};

inline char g_sink[1 << 12];
inline uint32_t g_sink_len = 0;

inline void require(bool ok) {
  if (!ok) std::abort();
}

// The host's block word, the buffer the block starts in each run, and the
// initialised block kept to copy into it.
inline RuntimeBlock* g_block = nullptr;
inline void* g_home = nullptr;
inline void* g_initial = nullptr;

// Doubling up to the cap passed as the context. The home buffer is kept.
inline bool grow(RuntimeBlock** b, uint32_t* size, void* cap_arg) {
  const uint32_t cap = uint32_t(reinterpret_cast<uintptr_t>(cap_arg));
  if (*size >= cap) return false;
  const uint32_t next = *size * 2 > cap ? cap : *size * 2;
  void* fresh = std::calloc(1, next);
  if (!fresh) return false;
  std::memcpy(fresh, *b, *size);
  if (*b != g_home) std::free(*b);
  *b = static_cast<RuntimeBlock*>(fresh);
  *size = next;
  return true;
}

// The cap for a flat image of `bytes`: a valid image loads into a block of
// less than three times its size (the saved areas, and room beside them).
inline uint32_t cap_for_flat(size_t bytes) {
  const uint64_t cap = uint64_t(bytes) * 3;
  return uint32_t(cap < kMinCapBytes ? kMinCapBytes : cap > kMaxBytes ? kMaxBytes : cap);
}

// Lays a block of kStartBytes out in `buffer`, as the block word's block.
inline void init_block(void* buffer) {
  std::memset(buffer, 0, kStartBytes);
  require(runtime_block_init(&g_block, buffer, kStartBytes, 0, 2) == 0);
  require(rt_register_library(g_block, g_builtin_table_host) == 0);
  EngineContext* c = rt_engine(g_block);
  // Field by field: a braced copy brings the stack's padding bytes along,
  // and the block must be the same bytes at every initialisation.
  c->capture.buffer = g_sink;
  c->capture.capacity = sizeof g_sink;
  c->capture.length = &g_sink_len;
  io_set_redirect(c, kFdStderr, kFdCapture, 0);
}

// A block of kStartBytes as initialisation leaves it, growing up to `cap`;
// returns the block word. Give it back with release_block.
inline RuntimeBlock** fresh_block(uint32_t cap) {
  if (!g_home) {
    g_home = std::malloc(kStartBytes);
    init_block(g_home);
    g_initial = std::malloc(kStartBytes);
    std::memcpy(g_initial, g_home, kStartBytes);
  }
  std::memcpy(g_home, g_initial, kStartBytes);
  g_block = static_cast<RuntimeBlock*>(g_home);
  rt_embedded_reset(g_block);  // the stream slots are the process's, not the copy's
  rt_set_grow_callback(g_block, grow, reinterpret_cast<void*>(uintptr_t(cap)));
  g_sink_len = 0;
  return &g_block;
}

inline void release_block() {
  if (g_block != g_home) std::free(g_block);
  g_block = nullptr;
}

// What every load must leave: a refused image the block in its initial
// state, a loaded one stores that pass their checks and instances that take
// layout operations. Given the image's requests as the model cuts them (null
// when they do not add up), a loaded block written back must give them, as
// settled (fuzz/image_model.h).
inline void check_loaded(RuntimeBlock* b, int status, const imagemodel::Sections* image) {
  require(plotstore_check(rt_plot_store(b)) && undo_store_check(rt_value_store(b)));
  if (status != 0) {
    require(b->h.instance_count == 1 && b->h.record_words == 0 && inst_find_by_id(b, 0));
    return;
  }
  if (!image) {
    std::fprintf(stderr, "fuzz: an image loads whose requests do not add up\n");
    std::abort();
  }
  const imagemodel::Sections got = imagemodel::written(b), want = imagemodel::expected(*image, got, rt_table_fingerprint(rt_engine(b)));
  const int k = imagemodel::first_difference(want, got);
  if (k >= 0) imagemodel::differs("fuzz: the loaded image written back", k, want, got);
  for (int32_t k = 0; k < b->h.instance_count; ++k) {
    const int32_t id = inst_at(b, k)->id;
    inst_apply_stored(b, id);
    inst_layout_to_array(b, id);
    inst_set_grid(b, id, 2, 3);
    char title[64];
    const char* text = nullptr;
    int32_t length = 0;
    inst_get_title(b, id, &text, &length, title, sizeof title);
  }
}

}  // namespace fuzzblock
