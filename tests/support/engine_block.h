// A real engine in a test-owned block: engine_init on an aligned, zeroed
// buffer, optionally followed by engine_reset (base frame in place). The
// block can be grown by copying it into a larger buffer, as the host does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/core/context.h"

struct EngineBlock {
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], Free> mem;
  uint32_t size = 0;

  EngineContext* ctx() const { return reinterpret_cast<EngineContext*>(mem.get()); }
  operator EngineContext*() const { return ctx(); }
  EngineContext* operator->() const { return ctx(); }

  static EngineBlock raw(uint32_t size) {
    EngineBlock b;
    const size_t bytes = (size_t(size) + 63) / 64 * 64;
    b.mem.reset(static_cast<uint8_t*>(std::aligned_alloc(64, bytes)));
    std::memset(b.mem.get(), 0, bytes);
    b.size = size;
    return b;
  }

  // A fresh engine; with reset the base frame is built.
  static EngineBlock make(uint32_t size, bool reset = true) {
    EngineBlock b = raw(size);
    EngineContext* c = nullptr;
    EXPECT_EQ(engine_init(b.mem.get(), size, &c), kOk);
    if (reset) engine_reset(c);
    return b;
  }

  // The host's growth: the block copied into a larger buffer, the old copy
  // poisoned so that any stale access shows.
  EngineBlock grown(uint32_t new_size) {
    EngineBlock b = raw(new_size);
    std::memcpy(b.mem.get(), mem.get(), size);
    std::memset(mem.get(), 0xA5, size);
    return b;
  }
};
