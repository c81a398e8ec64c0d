// Minimal item builders for unit tests on a hand-built context
// (support/test_context.h): they write exact descriptors and data words.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/context.h"
#include "engine/core/value_stack.h"

namespace tn_test {

// Builders that stand in for the real pushers; they write what the item model
// prescribes with no capacity test of their own (tests fill a stack to its
// lowered capacity with them, past the engine's own room invariant).
inline uint64_t* raw_claim(EngineContext* c, uint32_t kind, uint32_t a, uint32_t b, uint32_t words) {
  uint32_t* d = desc_words(c) + c->desc_top;
  d[0] = kind;
  d[1] = a;
  d[2] = b;
  c->desc_top += kDescWords;
  uint64_t* p = data_words(c) + c->data_top;
  c->data_top += int32_t(words);
  return p;
}

inline void test_push_matrix(EngineContext* c, uint32_t rows, uint32_t cols,
                             std::initializer_list<double> re,
                             std::initializer_list<double> im = {}) {
  uint32_t kind = im.size() ? kKindComplex : kKindReal;
  uint64_t* p = raw_claim(c, kind, rows, cols, item_data_words(kind, rows, cols));
  for (double v : re) tn::st_f64(p++, v);
  for (double v : im) tn::st_f64(p++, v);
}

inline void test_push_real(EngineContext* c, double v) { test_push_matrix(c, 1, 1, {v}); }

// A typed array (subtype 3, 4 or 5) of the given element type and sizes; the
// elements are copied from `elems` (count x element size bytes, both parts
// for a complex type).
inline uint8_t* test_push_typed(EngineContext* c, uint32_t subtype, uint32_t type,
                                std::vector<uint32_t> dims, const void* elems = nullptr) {
  uint64_t count = 1;
  for (uint32_t d : dims) count *= d;
  uint32_t parts = (type == kElemDoubleComplex || type == kElemSingleComplex) ? 2 : 1;
  uint32_t hb = typed_header_bytes(static_cast<uint32_t>(dims.size()));
  uint64_t bytes = hb + count * elem_size(type) * parts;
  uint32_t words = static_cast<uint32_t>((bytes + 7) / 8);
  uint64_t* p = raw_claim(c, kKindPayload, words, subtype, words);
  std::memset(p, 0, words * 8u);
  uint8_t* b = reinterpret_cast<uint8_t*>(p);
  tn::st_u32(b, type);
  tn::st_u32(b + 4, static_cast<uint32_t>(dims.size()));
  for (size_t i = 0; i < dims.size(); ++i) tn::st_u32(b + 8 + 4 * i, dims[i]);
  if (elems) std::memcpy(b + hb, elems, bytes - hb);
  return b + hb;
}

inline void test_push_chars(EngineContext* c, const char* text) {
  std::vector<uint16_t> codes;
  for (const char* t = text; *t; ++t) codes.push_back(static_cast<uint8_t>(*t));
  test_push_typed(c, kPayChar, kElemU16, {1, static_cast<uint32_t>(codes.size())}, codes.data());
}

// The doubles of a real or complex matrix item (real parts, then imaginary).
inline std::vector<double> matrix_values(EngineContext* c, int depth) {
  const uint32_t* d = desc_at(c, depth);
  const uint64_t* p = item_data(c, depth);
  std::vector<double> v(item_data_words(d[0], d[1], d[2]));
  for (size_t i = 0; i < v.size(); ++i) v[i] = tn::ld_f64(p + i);
  return v;
}

}  // namespace tn_test
