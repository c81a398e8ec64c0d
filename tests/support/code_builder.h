// Hand-made compiled functions for tests that need code in the code area
// before the compiler exists: a header (flags, locals, inputs, outputs, input
// slots), the 32-byte local names and a few code words, placed at the first
// free code word (aligned to 4 words, as the compiler places code).
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/context.h"
#include "engine/core/frames.h"

struct HandFunction {
  uint16_t flags = 0;
  uint16_t locals = 0;
  uint16_t max_in = 0;
  uint16_t max_out = 0;
  std::vector<uint16_t> input_slots;  // defaults to 0, 1, 2 ...
  std::vector<std::string> names;     // local names (unless kHdrNoNames)
  std::vector<uint16_t> code = {0x1234, 0x5678};
};

// Places the function and returns its code offset in code words.
inline uint32_t place_function(EngineContext* c, const HandFunction& f) {
  uint32_t at = (c->code_free + 3) & ~3u;
  uint16_t* w = code_words(c) + at;
  uint32_t k = 0;
  w[k++] = f.flags;
  w[k++] = f.locals;
  w[k++] = f.max_in;
  w[k++] = f.max_out;
  for (uint16_t i = 0; i < f.max_in; ++i) w[k++] = i < f.input_slots.size() ? f.input_slots[i] : i;
  if (!(f.flags & kHdrNoNames)) {
    for (uint16_t i = 0; i < f.locals; ++i) {
      char name[kFrameNameBytes] = {};
      if (i < f.names.size()) std::memcpy(name, f.names[i].data(), std::min(f.names[i].size(), sizeof name));
      std::memcpy(w + k, name, sizeof name);
      k += kFrameNameBytes / 2;
    }
  }
  for (uint16_t v : f.code) w[k++] = v;
  c->code_free = at + ((k + 3) & ~3u);
  return at;
}

inline const uint16_t* function_header(EngineContext* c, uint32_t offset) { return code_words(c) + offset; }
