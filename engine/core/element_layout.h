// The layout of container payloads as indexing and assignment read and write
// them wherever they lie (data stack or variable heap): walking elements, the
// size vector that leads a cell array, and building a container from entries.
// A walk never passes the words its container claims, so a damaged header
// ends it instead of leading past the data.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/value_stack.h"

constexpr uint32_t kCellSizeNdims = 2;

// Data words of a cell array's size vector of k sizes (a 1 x k int32 array).
inline uint32_t cell_size_words(int k) {
  return (typed_header_bytes(kCellSizeNdims) + 4 * uint32_t(k) + 7) / 8;
}

// Writes a size element (header and vector) at e.
inline void write_cell_sizes(uint64_t* e, const int32_t* sizes, int k) {
  const uint32_t words = cell_size_words(k);
  elem_set_header(e, kKindPayload, words, kPayNumeric, 0);
  auto* p = reinterpret_cast<uint8_t*>(elem_data(e));
  std::memset(p, 0, size_t(words) * 8);
  tn::st_u32(p, kElemI32);
  tn::st_u32(p + 4, kCellSizeNdims);
  tn::st_u32(p + 8, 1);
  tn::st_u32(p + 12, uint32_t(k));
  for (int i = 0; i < k; ++i) tn::st_i32(p + typed_header_bytes(kCellSizeNdims) + 4 * i, sizes[i]);
}

// The shape rules of numeric arrays, applied to cell arrays too: any size 0
// gives 0 x 0, trailing sizes 1 are dropped down to two.
inline void cell_shape_rules(int32_t* dims, int* nd) {
  for (int k = 0; k < *nd; ++k)
    if (dims[k] <= 0) {
      dims[0] = dims[1] = 0;
      *nd = 2;
      return;
    }
  while (*nd > 2 && dims[*nd - 1] == 1) --*nd;
}

// The sizes held by a size element; null when it is not a 1 x k int32 array
// with 2 <= k <= 16 that fits its element.
inline const uint32_t* read_cell_sizes(const uint64_t* e, int64_t room, int* k) {
  if (room < kElemHeaderWords || elem_total_words(e) > room) return nullptr;
  const auto* p = reinterpret_cast<const uint8_t*>(e + kElemHeaderWords);
  if (elem_kind(e) != kKindPayload || elem_data_words(e) < cell_size_words(0)) return nullptr;
  const uint32_t n = tn::ld_u32(p + 12);
  if (tn::ld_u32(p) != kElemI32 || tn::ld_u32(p + 4) != kCellSizeNdims || tn::ld_u32(p + 8) != 1 ||
      n < 2 || n > uint32_t(kMaxDims) || cell_size_words(int(n)) > elem_data_words(e))
    return nullptr;
  *k = int(n);
  return reinterpret_cast<const uint32_t*>(p + typed_header_bytes(kCellSizeNdims));
}

// The entries of a list or cell array (a cell's size element excluded), with
// the shape indexing gives them: a list is a row {1, n} ({0, 0} when empty),
// a cell array has its sizes.
struct Entries {
  uint64_t* first;  // first entry's header
  int64_t words;    // words from first to the container's end
  int64_t count;
  int ndims;
  const uint32_t* dims;
  uint32_t list_dims[2];
  bool cell;
};

// h: the container's {kind, a, b} words, data: its data. Sets where the
// entries lie and a cell array's sizes, not the count; false for other values
// and for a cell array without a valid size element.
inline bool container_span(const uint32_t* h, uint64_t* data, Entries* out) {
  if (h[0] != kKindContainer || (h[2] != kContList && h[2] != kContCell)) return false;
  out->first = data;
  out->words = h[1];
  out->cell = h[2] == kContCell;
  if (out->cell) {
    int k = 0;
    const uint32_t* s = read_cell_sizes(data, out->words, &k);
    if (!s) return false;
    const uint32_t w = elem_total_words(data);
    out->first = data + w;
    out->words -= w;
    out->ndims = k;
    out->dims = s;
  }
  return true;
}

// A list's sizes: one row of its n entries.
inline void list_dims_set(Entries* out, int64_t n) {
  out->list_dims[0] = n > 0 ? 1 : 0;
  out->list_dims[1] = uint32_t(n);
  out->ndims = 2;
  out->dims = out->list_dims;
}

// The entries of a container, counted by a walk: as container_span, with
// the count and a list's sizes.
inline bool container_entries(const uint32_t* h, uint64_t* data, Entries* out) {
  if (!container_span(h, data, out)) return false;
  int64_t n = 0;
  for (int64_t at = 0; at + kElemHeaderWords <= out->words;) {
    const int64_t w = elem_total_words(out->first + at);
    if (at + w > out->words) break;
    at += w;
    ++n;
  }
  out->count = n;
  if (!out->cell) list_dims_set(out, n);
  return true;
}

// Word offsets (from e.first) of the entries, into out[0 .. count).
inline void entry_offsets(const Entries& e, int32_t* out) {
  int64_t at = 0;
  for (int64_t i = 0; i < e.count; ++i) {
    out[i] = int32_t(at);
    at += elem_total_words(e.first + at);
  }
}

// The first element named by symbol in a run of `words` words of elements.
inline uint64_t* find_named_element(uint64_t* first, int64_t words, int32_t symbol) {
  for (int64_t at = 0; at + kElemHeaderWords <= words;) {
    uint64_t* e = first + at;
    const int64_t w = elem_total_words(e);
    if (at + w > words) break;
    if (elem_name(e) == symbol) return e;
    at += w;
  }
  return nullptr;
}
