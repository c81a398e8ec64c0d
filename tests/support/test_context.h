// The hand-built engine context for tests that need no full engine start-up:
// the record at the head of an aligned, zeroed block, the data stack, the
// descriptor stack and (when asked for) a code area behind it. Capacities can
// be lowered to test the limits.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/core/context.h"

struct TestContext {
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t[], Free> mem;
  size_t bytes = 0;
  uint32_t data_room = 0;  // data words physically available
  uint32_t desc_room = 0;  // descriptor words physically available

  EngineContext* ctx() const { return reinterpret_cast<EngineContext*>(mem.get()); }
  operator EngineContext*() const { return ctx(); }
  EngineContext* operator->() const { return ctx(); }

  // Sets the capacities (at most what the block holds).
  void set_capacity(uint32_t data_words, uint32_t desc_words) const {
    ctx()->data_capacity = data_words < data_room ? data_words : data_room;
    ctx()->desc_capacity = desc_words < desc_room ? desc_words : desc_room;
  }

  // The whole block copied to a new address: every area is an offset, so the
  // copy must work on its own.
  TestContext clone() const {
    TestContext t;
    t.mem.reset(static_cast<uint8_t*>(std::aligned_alloc(64, bytes)));
    std::memcpy(t.mem.get(), mem.get(), bytes);
    t.bytes = bytes;
    t.data_room = data_room;
    t.desc_room = desc_room;
    return t;
  }
};

// Data stack: two thirds of what follows the record; descriptors: the rest.
inline TestContext make_test_context(size_t bytes) {
  constexpr size_t kAlign = 64;
  bytes = (bytes + kAlign - 1) / kAlign * kAlign;
  TestContext t;
  t.mem.reset(static_cast<uint8_t*>(std::aligned_alloc(kAlign, bytes)));
  std::memset(t.mem.get(), 0, bytes);
  t.bytes = bytes;
  size_t head = (kContextNominalBytes + kAlign - 1) / kAlign * kAlign;
  size_t rest = bytes - head;
  size_t data_bytes = rest * 2 / 3 / kAlign * kAlign;
  EngineContext* c = t.ctx();
  c->data_base = BlockOff{static_cast<uint32_t>(head)};
  c->data_capacity = t.data_room = static_cast<uint32_t>(data_bytes / 8);
  c->desc_base = BlockOff{static_cast<uint32_t>(head + data_bytes)};
  c->desc_capacity = t.desc_room = static_cast<uint32_t>((rest - data_bytes) / 4);
  c->frame = -1;
  return t;
}

// Exact room: data words, descriptor words and a code area of code words
// whose first free word is code_free (compiled code ends there, the symbols
// sit at its end). The function table's entry 0 counts as used.
inline TestContext make_test_context(uint32_t data_words, uint32_t desc_words, uint32_t code_words = 2048,
                                     uint32_t code_free = 64) {
  constexpr size_t kAlign = 64;
  const size_t head = (kContextNominalBytes + kAlign - 1) / kAlign * kAlign;
  const size_t desc_bytes = (size_t(desc_words) * 4 + 7) / 8 * 8;
  const size_t code_bytes = (size_t(code_words) * 2 + 7) / 8 * 8;
  const size_t bytes = (head + size_t(data_words) * 8 + desc_bytes + code_bytes + kAlign - 1) / kAlign * kAlign;
  TestContext t;
  t.mem.reset(static_cast<uint8_t*>(std::aligned_alloc(kAlign, bytes)));
  std::memset(t.mem.get(), 0, bytes);
  t.bytes = bytes;
  EngineContext* c = t.ctx();
  c->frame = -1;
  c->data_base = BlockOff{static_cast<uint32_t>(head)};
  c->data_capacity = t.data_room = data_words;
  c->desc_base = BlockOff{static_cast<uint32_t>(head + size_t(data_words) * 8)};
  c->desc_capacity = t.desc_room = desc_words;
  c->code_base = BlockOff{static_cast<uint32_t>(head + size_t(data_words) * 8 + desc_bytes)};
  c->code_size = code_words;
  c->code_free = code_free;
  c->fn_count = 1;
  return t;
}
