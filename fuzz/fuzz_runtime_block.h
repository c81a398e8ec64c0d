// The runtime block the image targets load into: a fresh block with the
// host's library registered, grown by doubling up to a cap that each target
// sets from what its seeds need, so that a hostile size in a header costs at
// most that much. The block's messages ("TN memory expanded ...") go to a
// sink that is emptied each time.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/core/streams.h"
#include "host/builtin_table_host.h"
#include "runtime/runtime_block.h"

namespace fuzzblock {

constexpr uint32_t kStartBytes = 512u << 10;
constexpr uint32_t kMaxBytes = 8u << 20;
// A packed application's chunks inflate to far more than the file holds: the
// round-trip demo, 11 KB packed, loads from a start of 4 MB (its engine image
// is refused by a smaller engine area) into 32 MB.
constexpr uint32_t kPackedStartBytes = 4u << 20;
constexpr uint32_t kPackedCapBytes = 32u << 20;

inline char g_sink[1 << 12];
inline uint32_t g_sink_len = 0;

inline void require(bool ok) {
  if (!ok) std::abort();
}

// Doubling up to the cap passed as the context.
inline bool grow(RuntimeBlock** b, uint32_t* size, void* cap_arg) {
  const uint32_t cap = uint32_t(reinterpret_cast<uintptr_t>(cap_arg));
  if (*size >= cap) return false;
  const uint32_t next = *size * 2 > cap ? cap : *size * 2;
  void* fresh = std::calloc(1, next);
  if (!fresh) return false;
  std::memcpy(fresh, *b, *size);
  std::free(*b);
  *b = static_cast<RuntimeBlock*>(fresh);
  *size = next;
  return true;
}

// The cap for a flat image of `bytes`: a valid image loads into a block of
// less than three times its size (the saved areas, and room beside them).
inline uint32_t cap_for_flat(size_t bytes) {
  const uint64_t cap = uint64_t(bytes) * 3;
  return uint32_t(cap < kStartBytes ? kStartBytes : cap > kMaxBytes ? kMaxBytes : cap);
}

// Freed by the caller with std::free.
inline RuntimeBlock* fresh_block(uint32_t start, uint32_t cap) {
  RuntimeBlock* b = nullptr;
  void* buffer = std::calloc(1, start);
  require(runtime_block_init(&b, buffer, start, 0, 2) == 0);
  require(rt_register_library(b, g_builtin_table_host) == 0);
  rt_set_grow_callback(b, grow, reinterpret_cast<void*>(uintptr_t(cap)));
  EngineContext* c = rt_engine(b);
  g_sink_len = 0;
  c->capture = CaptureBuffer{g_sink, sizeof g_sink, &g_sink_len};
  io_set_redirect(c, kFdStderr, kFdCapture, 0);
  return b;
}

}  // namespace fuzzblock
