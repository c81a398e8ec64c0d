// A host for runtime tests whose grow callback always moves the block: a new
// buffer, the contents copied, the old buffer filled with 0xDD and freed, so
// that any pointer kept across a growth is caught (under ASan at once).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/streams.h"
#include "runtime/embedded_streams.h"
#include "runtime/runtime_block.h"

struct FakeHost {
  static constexpr uint8_t kPoison = 0xDD;
  RuntimeBlock* block = nullptr;  // the host's block word
  uint32_t size = 0;
  uint32_t max = 0;
  int moves = 0;
  char out[4096] = {};
  uint32_t out_len = 0;

  // Lays out a block of `bytes`; `limit` is the host's maximum size.
  int start(uint32_t bytes, uint32_t limit) {
    void* buffer = std::malloc(bytes);
    std::memset(buffer, 0, bytes);
    size = bytes;
    max = limit;
    const int status = runtime_block_init(&block, buffer, bytes, 0, 2);
    if (status != 0) {
      std::free(buffer);
      block = nullptr;
      return status;
    }
    rt_set_grow_callback(block, grow, this);
    EngineContext* c = rt_engine(block);
    c->capture = CaptureBuffer{out, sizeof out, &out_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
    return 0;
  }

  std::string take_output() {
    std::string s(out, out_len);
    out_len = 0;
    return s;
  }

  static bool grow(RuntimeBlock** b, uint32_t* current, void* context) {
    FakeHost* h = static_cast<FakeHost*>(context);
    if (*current >= h->max) return false;
    const uint32_t next = std::min<uint64_t>(h->max, uint64_t(*current) * 3 / 2);
    void* fresh = std::malloc(next);
    std::memset(fresh, 0, next);
    std::memcpy(fresh, *b, *current);
    std::memset(*b, kPoison, *current);
    std::free(*b);
    *b = static_cast<RuntimeBlock*>(fresh);
    *current = next;
    h->size = next;
    ++h->moves;
    return true;
  }

  // The block goes: so do the streams it opened (their slots are the
  // process's).
  ~FakeHost() {
    if (block) rt_embedded_reset(block);
    std::free(block);
  }
};
