// The valid values of the fixed fields of saved images, as tables: a row
// gives a run of fields (32-bit little-endian words, read signed or, for
// counts, unsigned; or bytes) and the least and greatest value each may hold. The loaders check a
// header against its table before anything of it is used, so that no word
// reaches code that would take it as it stands (an id counted on from
// INT32_MAX, a count below zero). Bounds that depend on the loading block
// (a stack top against its capacity, a heap index against the heap) are
// checked again against the block by the loaders' structure checks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/checked.h"

struct ImageWordRange {
  uint32_t offset;  // bytes from the start of the header or record
  uint32_t count;   // fields of the run
  uint8_t bytes;    // 4: a 32-bit word, 1: a byte
  int64_t min, max;
  const char* name;
  bool unsigned_count = false;  // a word read unsigned: a size the loader judges itself
};

constexpr uint8_t kImageWord = 4;
constexpr uint8_t kImageByte = 1;
constexpr int64_t kAnyWordMin = INT32_MIN, kAnyWordMax = INT32_MAX;
constexpr int64_t kAnyCountMax = UINT32_MAX;
constexpr bool kUnsignedCount = true;  // the last member of a row of unsigned counts

// The value of field k of a row.
inline int64_t image_word_value(const uint8_t* at, const ImageWordRange& r, uint32_t k) {
  const uint8_t* p = at + r.offset + size_t(k) * r.bytes;
  if (r.bytes == kImageByte) return int64_t(*p);
  return r.unsigned_count ? int64_t(tn::get_le32(p)) : int64_t(int32_t(tn::get_le32(p)));
}

// The first row with a field out of its range, or -1 when every field lies
// in its range.
inline int image_words_broken(const uint8_t* at, const ImageWordRange* rows, size_t n) {
  for (size_t i = 0; i < n; ++i)
    for (uint32_t k = 0; k < rows[i].count; ++k) {
      const int64_t v = image_word_value(at, rows[i], k);
      if (v < rows[i].min || v > rows[i].max) return int(i);
    }
  return -1;
}

// The rows of the engine's 240-byte image header (engine/core/snapshot.cpp)
// and of a task record in its heap block.
extern const ImageWordRange kEngineImageWords[];
extern const size_t kEngineImageWordRows;
extern const ImageWordRange kTaskRecordWords[];
extern const size_t kTaskRecordWordRows;
