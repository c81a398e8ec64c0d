// Invariants of the value stacks, checked after every operation by the tests:
// descriptor heights in whole items, data heights equal to the items' data
// words, and well-formed items (canonical typed-array headers, zero padding).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/value_stack.h"

// Checks the items above descriptor word desc_from and data word data_from
// (both 0 while no call frame is on the stacks).
inline ::testing::AssertionResult check_stack_invariants(EngineContext* c, int32_t desc_from = 0,
                                                         int32_t data_from = 0) {
  auto fail = [](const std::string& why) { return ::testing::AssertionFailure() << why; };
  if (c->desc_top < desc_from || (c->desc_top - desc_from) % 3 != 0)
    return fail("descriptor top " + std::to_string(c->desc_top) + " is not whole items");
  if (static_cast<uint32_t>(c->desc_top) > c->desc_capacity) return fail("descriptor top past capacity");
  if (c->data_top < data_from || static_cast<uint32_t>(c->data_top) > c->data_capacity)
    return fail("data top " + std::to_string(c->data_top) + " out of bounds");
  int items = (c->desc_top - desc_from) / 3;
  int64_t words = 0;
  for (int depth = 0; depth < items; ++depth) {
    const uint32_t* d = desc_at(c, depth);
    std::string at = "item at depth " + std::to_string(depth) + ": ";
    uint32_t kind = d[0];
    if (kind != 0 && kind != 1 && kind != 2 && kind != 4 && kind != 8 && kind != 16 && kind != 32)
      return fail(at + "bad kind " + std::to_string(kind));
    if (kind == kKindComplex && static_cast<uint64_t>(d[1]) * d[2] == 0)
      return fail(at + "complex matrix without elements");
    if ((kind == kKindNoValue || kind == kKindMarker) && d[1] != 0) return fail(at + "data on a mark");
    words += desc_data_words(d);
    if (kind != kKindPayload || d[2] < kPayNumeric || d[2] > kPayLogical) continue;
    TypedView t;
    if (!typed_view(c, depth, &t)) return fail(at + "typed header runs past its data");
    if (t.size == 0) return fail(at + "unknown element type " + std::to_string(t.type));
    if (d[2] == kPayChar && t.type != kElemU16) return fail(at + "char array not 16-bit");
    if (d[2] == kPayLogical && t.type != kElemU8) return fail(at + "logical array not 8-bit");
    if (t.ndims > 2 && t.dims[t.ndims - 1] == 1) return fail(at + "trailing dimension 1");
    if (t.count == 0 && (t.ndims != 2 || t.dims[0] != 0 || t.dims[1] != 0))
      return fail(at + "empty array not 0 x 0");
    // Everything behind the elements is padding and reads as zero.
    int64_t used = (t.elems - reinterpret_cast<uint8_t*>(item_data(c, depth))) +
                   t.count * t.size * (t.is_complex ? 2 : 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(item_data(c, depth));
    for (int64_t i = used; i < int64_t{t.words} * 8; ++i)
      if (bytes[i] != 0) return fail(at + "nonzero padding byte " + std::to_string(i));
  }
  if (words != c->data_top - data_from)
    return fail("items hold " + std::to_string(words) + " data words, data top is " +
                std::to_string(c->data_top - data_from));
  return ::testing::AssertionSuccess();
}

// The used part of both stacks, to show that a failing operation changed nothing.
struct StackSnapshot {
  int32_t desc_top = 0, data_top = 0;
  std::vector<uint32_t> desc;
  std::vector<uint64_t> data;
  bool operator==(const StackSnapshot&) const = default;
};

inline StackSnapshot snapshot_stacks(EngineContext* c) {
  StackSnapshot s;
  s.desc_top = c->desc_top;
  s.data_top = c->data_top;
  s.desc.assign(desc_words(c), desc_words(c) + c->desc_top);
  s.data.assign(data_words(c), data_words(c) + c->data_top);
  return s;
}
