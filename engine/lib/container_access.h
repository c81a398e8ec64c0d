// Reading containers and text from inside the base library: bounded walks over
// a container's elements, the text of a char-array element or item, and copies
// of elements pushed as items. Internal to engine/lib; pointers stay valid
// until the next operation that moves data below them.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

namespace clib {

// Walks `left` words of elements; a header claiming more words than remain
// ends the walk, so a damaged container cannot lead past its data.
struct Walk {
  uint64_t* at;
  int64_t left;
  bool done() const { return left < kElemHeaderWords || elem_total_words(at) > left; }
  void next() {
    const uint32_t w = elem_total_words(at);
    at += w;
    left -= w;
  }
};

// All elements of the container at depth (fields of a structure or object).
inline Walk walk_items(EngineContext* ctx, int depth) {
  return Walk{item_data(ctx, depth), desc_at(ctx, depth)[1]};
}

// The entries of a list or cell array: a cell array's size vector is skipped.
inline Walk walk_entries(EngineContext* ctx, int depth) {
  Walk w = walk_items(ctx, depth);
  if (desc_at(ctx, depth)[2] == kContCell && !w.done()) w.next();
  return w;
}

inline int32_t count_walk(Walk w) {
  int32_t n = 0;
  for (; !w.done(); w.next()) ++n;
  return n;
}

inline bool is_container(EngineContext* ctx, int depth, uint32_t subtype) {
  const uint32_t* d = desc_at(ctx, depth);
  return d[0] == kKindContainer && d[2] == subtype;
}
// A list or a cell array.
inline bool is_list_like(EngineContext* ctx, int depth) {
  return is_container(ctx, depth, kContList) || is_container(ctx, depth, kContCell);
}
inline bool is_user_object_subtype(uint32_t subtype) {
  return subtype != kContList && subtype != kContStruct && subtype != kContCell;
}

// Characters of a char array held in `words` data words; false when the data
// are not a well-formed char array.
inline bool char_data(const uint64_t* p, uint32_t words, const uint16_t** s, int64_t* n) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  if (words < 2 || tn::ld_u32(b) != kElemU16) return false;
  const uint32_t ndims = tn::ld_u32(b + 4);
  if (ndims < 2 || ndims > 255) return false;
  const int64_t hb = typed_header_bytes(ndims);
  if (hb > int64_t{words} * 8) return false;
  int64_t count = 1;
  for (uint32_t i = 0; i < ndims; ++i) count = tn::mul64(count, tn::ld_u32(b + 8 + 4 * i));
  if (count > (int64_t{words} * 8 - hb) / 2) return false;
  *s = reinterpret_cast<const uint16_t*>(b + hb);
  *n = count;
  return true;
}

// The text of a char-array element.
inline bool elem_chars(const uint64_t* e, const uint16_t** s, int64_t* n) {
  return elem_kind(e) == kKindPayload && elem_word(e, 2) == kPayChar &&
         char_data(e + kElemHeaderWords, elem_data_words(e), s, n);
}

// The text of a char-array item at depth.
inline bool item_chars(EngineContext* ctx, int depth, const uint16_t** s, int64_t* n) {
  const uint32_t* d = desc_at(ctx, depth);
  return d[0] == kKindPayload && d[2] == kPayChar && char_data(item_data(ctx, depth), d[1], s, n);
}

// The 8-bit form of a name into buf; *too_long when it is longer than `cap`
// bytes (no stored name is that long); kUnknownCharset for a character above 255.
inline int name_bytes(const uint16_t* s, int64_t n, char* buf, int32_t cap, int32_t* len, bool* too_long) {
  *too_long = n > cap;
  *len = 0;
  if (*too_long) return kOk;
  TN_TRY(wchars_to_name_bytes(s, n, buf));
  *len = static_cast<int32_t>(n);
  return kOk;
}

// Longest name that can be interned or stored (the symbol area's length byte).
constexpr int32_t kNameBytes = 255;

// Pushes a copy of an element as an item: kStackOverflow or kDataStackOverflow when it does not fit.
inline int push_elem_copy(EngineContext* ctx, const uint64_t* e) {
  if (!desc_room(ctx)) return kStackOverflow;
  const uint32_t w = elem_data_words(e);
  if (int64_t{w} > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* p = stk_claim(ctx, elem_word(e, 0), elem_word(e, 1), elem_word(e, 2), w);
  std::memmove(p, e + kElemHeaderWords, size_t{w} * 8);
  return kOk;
}

// Claims a container item of `words` data words after testing both stacks.
inline int claim_container(EngineContext* ctx, int64_t words, uint32_t subtype, uint64_t** out) {
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx) || words > INT32_MAX) return kDataStackOverflow;
  *out = stk_claim(ctx, kKindContainer, static_cast<uint32_t>(words), subtype,
                   static_cast<uint32_t>(words));
  return kOk;
}

// Drops items until `items` remain: undoes the pushes of a failed operation.
inline void pop_to(EngineContext* ctx, int items) {
  while (stk_item_count(ctx) > items) stk_drop(ctx);
}

}  // namespace clib
