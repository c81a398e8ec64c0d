// The value store's value area and whole-store operations: formatting,
// first-fit allocation with lazy merging, compaction (slots rewritten to the
// moved blocks), growth into a larger buffer, loading a saved store, and the
// structure check that loading and the tests share.
#include <map>
#include <string>

#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"
#include "runtime/undo_store_internal.h"

using namespace undo_detail;

namespace {

constexpr int32_t kHeadFixedBytes = 36;  // seven header words and two spare words
constexpr int32_t kBadImage = 600;       // the engine's "Initialization error"

struct Geometry {
  int64_t r, c, v;
};

Geometry geometry_for(int64_t size) {
  Geometry g;
  g.r = (size - kHeadFixedBytes) / 32;
  g.c = (size - 4 * g.r - kHeadFixedBytes) / kUndoUnitBytes;
  g.v = size / kUndoUnitBytes - g.c;
  return g;
}

uint8_t* unit_ptr(UndoStore* s, int64_t unit) { return bytes(s) + kUndoUnitBytes * unit; }

// Rewrites every slot that names block `from` to name `to`.
void retarget_slots(UndoStore* s, int32_t from, int32_t to) {
  int64_t r = kUsHeaderWords;
  for (int32_t k = 0; k < get(s, kUsRecordCount); ++k) {
    if (laid_out(s, r)) {
      const int32_t f = rec(s, r, kRecFields);
      for (int32_t row = 0; row < kUndoMaxRows; ++row)
        for (int32_t i = 0; i < f; ++i) {
          const int64_t w = slot_word(s, r, row, i);
          if (get(s, w) == from) put(s, w, to);
        }
    }
    r += rec(s, r, kRecSize);
  }
}

// End (in units) of the last used block; blocks are assumed to tile.
int64_t used_extent(const UndoStore* s) {
  int64_t end = 0;
  const int64_t c = get(s, kUsValueCapacity);
  for (int64_t i = 0; i < c;) {
    const int64_t len = block_len(s, i);
    if (len < 0) break;
    if (block_refs(s, i) > 0) end = i + 1 + len;
    i += 1 + len;
  }
  return end;
}

// Lays the store out for `size` bytes with its records and its first `keep`
// value units kept; the rest of the value area becomes one free block.
bool relay(UndoStore* s, int64_t size, int64_t keep) {
  const Geometry g = geometry_for(size);
  if (g.r < used_record_words(s) || g.c < keep) return false;
  const int64_t v = get(s, kUsValueStart);
  if (keep > 0) std::memmove(unit_ptr(s, g.v), unit_ptr(s, v), size_t(kUndoUnitBytes * keep));
  put(s, kUsSize, int32_t(size));
  put(s, kUsRecordCapacity, int32_t(g.r));
  put(s, kUsValueStart, int32_t(g.v));
  put(s, kUsValueCapacity, int32_t(g.c));
  if (g.c > keep) set_block(s, keep, 0, int32_t(g.c - keep - 1));
  return true;
}

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

}  // namespace

int32_t undo_word(const UndoStore* s, int64_t w) { return get(s, w); }

int undo_store_init(UndoStore** out, void* buffer, int64_t size) {
  if (size < kUndoMinBytes || size > INT32_MAX) return kRtTooSmallUndoBuf;
  UndoStore* s = static_cast<UndoStore*>(buffer);
  const Geometry g = geometry_for(size);
  put(s, kUsSize, int32_t(size));
  put(s, kUsMaxRows, kUndoMaxRows);
  put(s, kUsRecordCapacity, int32_t(g.r));
  put(s, kUsRecordCount, 0);
  put(s, kUsValueCapacity, int32_t(g.c));
  put(s, kUsValueStart, int32_t(g.v));
  put(s, kUsCompacted, 1);
  set_block(s, 0, 0, int32_t(g.c - 1));
  *out = s;
  return 0;
}

int undo_store_grow(UndoStore* s, int64_t new_size) {
  const int64_t size = get(s, kUsSize);
  if (new_size < size || new_size > INT32_MAX) return kRtTooSmallUndoBuf;
  if (new_size == size) return 0;
  return relay(s, new_size, get(s, kUsValueCapacity)) ? 0 : kRtTooSmallUndoBuf;
}

int undo_store_alloc(UndoStore* s, int64_t units, int32_t* index) {
  if (units == 0) {
    *index = kSlotEmpty;
    return 0;
  }
  const int64_t c = get(s, kUsValueCapacity);
  if (units < 0 || units >= c) return kRtVarTooLargeForUndo;
  for (int pass = 0; pass < 2; ++pass) {
    for (int64_t i = 0; i < c;) {
      int64_t len = block_len(s, i);
      if (block_refs(s, i) <= 0) {
        for (int64_t j = i + 1 + len; j < c && block_refs(s, j) <= 0; j = i + 1 + len)
          len += block_len(s, j) + 1;
        set_block(s, i, 0, int32_t(len));
        if (len >= units + 1) {
          set_block(s, i + 1 + units, 0, int32_t(len - units - 1));
          set_block(s, i, 1, int32_t(units));
          *index = int32_t(i);
          return 0;
        }
      }
      i += 1 + len;
    }
    if (get(s, kUsCompacted)) break;
    undo_store_compact(s);
  }
  return kRtVarTooLargeForUndo;
}

void undo_store_release_value(UndoStore* s, int32_t index) {
  if (index < 0) return;
  set_block(s, index, block_refs(s, index) - 1, block_len(s, index));
  put(s, kUsCompacted, 0);
}

void undo_store_compact(UndoStore* s) {
  const int64_t c = get(s, kUsValueCapacity), v = get(s, kUsValueStart);
  int64_t w = 0;
  for (int64_t i = 0; i < c;) {
    const int64_t len = block_len(s, i);
    if (block_refs(s, i) > 0) {
      if (i != w) {
        std::memmove(unit_ptr(s, v + w), unit_ptr(s, v + i), size_t(kUndoUnitBytes * (len + 1)));
        retarget_slots(s, int32_t(i), int32_t(w));
      }
      w += len + 1;
    }
    i += 1 + len;
  }
  if (w < c) set_block(s, w, 0, int32_t(c - w - 1));
  put(s, kUsCompacted, 1);
}

UndoSavedSizes undo_store_saved_sizes(UndoStore* s) {
  return {kHeadFixedBytes + 4 * get(s, kUsRecordCapacity), get(s, kUsValueCapacity)};
}

const uint8_t* undo_store_value_area(UndoStore* s) { return unit_ptr(s, get(s, kUsValueStart)); }

int undo_store_load(UndoStore* s, UndoSavedSizes sizes, UndoReadFn read, void* context) {
  const int64_t size = get(s, kUsSize);
  const int64_t h = sizes.head_bytes, u = sizes.units;
  if (h < kHeadFixedBytes || u < 0) return kBadImage;
  if (h / kUndoUnitBytes + u + 1 > size / kUndoUnitBytes) return kRtVarTooLargeForUndo;
  if (!read) return 0;
  if (!read(s, h, context)) return kBadImage;
  const int64_t r = (h - kHeadFixedBytes) / 4;
  const int64_t v = (4 * r + 28) / kUndoUnitBytes;
  if (!read(unit_ptr(s, v), kUndoUnitBytes * u, context)) return kBadImage;
  // The saved header's own sizes are replaced by what was read.
  put(s, kUsRecordCapacity, int32_t(r));
  put(s, kUsValueStart, int32_t(v));
  put(s, kUsValueCapacity, int32_t(u));
  put(s, kUsCompacted, 1);
  put(s, kUsSize, int32_t(size));
  if (!undo_store_check(s)) return kBadImage;
  return relay(s, size, used_extent(s)) ? 0 : kBadImage;
}

bool undo_store_check(const UndoStore* s, std::string* why) {
  const int64_t size = get(s, kUsSize), r = get(s, kUsRecordCapacity), c = get(s, kUsValueCapacity),
                v = get(s, kUsValueStart), n = get(s, kUsRecordCount);
  if (get(s, kUsMaxRows) != kUndoMaxRows) return fail(why, "maximum rows");
  if (r < 0 || c < 0 || n < 0 || v < 0 || (v + c) * kUndoUnitBytes > size)
    return fail(why, "header sizes");
  // Blocks tile the value area.
  std::map<int64_t, int64_t> refs;  // used block -> slots naming it
  for (int64_t i = 0; i < c;) {
    const int64_t len = block_len(s, i);
    if (len < 0 || i + 1 + len > c) return fail(why, "block at " + std::to_string(i) + " overruns the area");
    if (block_refs(s, i) > 0) refs[i] = 0;
    i += 1 + len;
  }
  int64_t at = kUsHeaderWords, used = 0;
  std::map<int32_t, int> ids;
  for (int64_t k = 0; k < n; ++k) {
    if (at + kRecHeadWords > kUsHeaderWords + r) return fail(why, "record beyond the record area");
    const int64_t sz = rec(s, at, kRecSize), f = rec(s, at, kRecFields), rows = rec(s, at, kRecRows),
                  cur = rec(s, at, kRecCurrent);
    if (f < 0 || (sz != 2 * f + kRecHeadWords && sz != undo_laid_out_words(f))) return fail(why, "record size");
    if (at + sz > kUsHeaderWords + r) return fail(why, "record beyond the record area");
    if (rows < 0 || rows > kUndoMaxRows || cur < 0 || (rows > 0 && cur >= rows) || (rows == 0 && cur != 0))
      return fail(why, "rows");
    if (f > 0 && rows > 0 && sz != undo_laid_out_words(f)) return fail(why, "rows without a slot table");
    if (++ids[rec(s, at, kRecId)] > 1) return fail(why, "duplicate record id");
    for (int64_t i = 0; i < f; ++i)
      for (int64_t j = 0; j < i; ++j)
        if (get(s, at + kRecHeadWords + 2 * i) == get(s, at + kRecHeadWords + 2 * j))
          return fail(why, "duplicate field");
    if (sz == undo_laid_out_words(f) && f > 0) {
      for (int32_t row = 0; row < kUndoMaxRows; ++row)
        for (int32_t i = 0; i < f; ++i) {
          const int32_t slot = get(s, slot_word(s, at, row, i));
          if (slot < kSlotMarked) return fail(why, "slot value");
          if (slot < 0) continue;
          if (row >= rows) return fail(why, "slot beyond the rows in use names a block");
          auto it = refs.find(slot);
          if (it == refs.end()) return fail(why, "slot names no used block");
          ++it->second;
        }
    }
    used += sz;
    at += sz;
  }
  // Laying every record out keeps the reserve, as the adds ensure.
  if (laid_out_record_words(s) + kUndoReserveWords > r) return fail(why, "records too large to lay out");
  // The value area may begin inside the record area's reserve, never on a record.
  if (v * kUndoUnitBytes < 4 * (kUsHeaderWords + used)) return fail(why, "value area over the records");
  for (const auto& [index, count] : refs)
    if (block_refs(s, index) != count)
      return fail(why, "block " + std::to_string(index) + " counts " + std::to_string(block_refs(s, index)) +
                           " references, slots " + std::to_string(count));
  return true;
}
