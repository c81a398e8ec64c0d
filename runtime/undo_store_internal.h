// Word access shared by the value store's files: header and record words,
// record lookup, slot positions and block heads. Not part of the runtime's
// public surface.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/checked.h"
#include "runtime/undo_store.h"

namespace undo_detail {

inline uint8_t* bytes(UndoStore* s) { return reinterpret_cast<uint8_t*>(s); }
inline const uint8_t* bytes(const UndoStore* s) { return reinterpret_cast<const uint8_t*>(s); }
inline int32_t get(const UndoStore* s, int64_t w) { return tn::ld_i32(bytes(s) + 4 * w); }
inline void put(UndoStore* s, int64_t w, int32_t v) { tn::st_i32(bytes(s) + 4 * w, v); }

// Block heads are units of two words {reference count, length}, indexed from V.
inline int64_t head_word(const UndoStore* s, int64_t index) {
  return 2 * (int64_t(get(s, kUsValueStart)) + index);
}
inline int32_t block_refs(const UndoStore* s, int64_t index) { return get(s, head_word(s, index)); }
inline int32_t block_len(const UndoStore* s, int64_t index) { return get(s, head_word(s, index) + 1); }
inline void set_block(UndoStore* s, int64_t index, int32_t refs, int32_t len) {
  put(s, head_word(s, index), refs);
  put(s, head_word(s, index) + 1, len);
}

// Records: word position of a record, -1 when absent.
int64_t find_record(const UndoStore* s, int32_t id);
int64_t used_record_words(const UndoStore* s);
// The words the records take once every one is laid out: what the room
// checks count, so that laying a record out (a reset) never runs short.
int64_t laid_out_record_words(const UndoStore* s);
inline int32_t rec(const UndoStore* s, int64_t r, int32_t k) { return get(s, r + k); }
inline void set_rec(UndoStore* s, int64_t r, int32_t k, int32_t v) { put(s, r + k, v); }
inline bool laid_out(const UndoStore* s, int64_t r) {
  const int32_t f = rec(s, r, kRecFields);
  return rec(s, r, kRecSize) > 2 * f + kRecHeadWords || (f > 0 && rec(s, r, kRecRows) > 0);
}
inline int64_t slot_word(const UndoStore* s, int64_t r, int32_t row, int32_t field) {
  const int32_t f = rec(s, r, kRecFields);
  return r + kRecHeadWords + 2 * int64_t(f) + int64_t(row) * f + field;
}

}  // namespace undo_detail
