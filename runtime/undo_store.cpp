// The value store's records, fields and rows: adding and removing records,
// laying out the slot table, pushing and dropping history rows, and reading
// and writing slots. Records are found by scanning from the first; room
// checks count every record at its laid-out size and keep the 128-word
// reserve free, so laying a record out at its reset always has the room.
#include "runtime/undo_store.h"

#include <algorithm>

#include "engine/core/status.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store_internal.h"

using namespace undo_detail;

namespace undo_detail {

int64_t find_record(const UndoStore* s, int32_t id) {
  const int64_t end = kUsHeaderWords + int64_t(get(s, kUsRecordCapacity));
  int64_t r = kUsHeaderWords;
  for (int32_t k = 0; k < get(s, kUsRecordCount); ++k) {
    const int32_t size = get(s, r + kRecSize);
    if (size < kRecHeadWords || r + size > end) return -1;  // damaged: stop
    if (get(s, r + kRecId) == id) return r;
    r += size;
  }
  return -1;
}

int64_t used_record_words(const UndoStore* s) {
  int64_t used = 0, r = kUsHeaderWords;
  for (int32_t k = 0; k < get(s, kUsRecordCount); ++k) {
    const int32_t size = get(s, r + kRecSize);
    if (size < kRecHeadWords) break;
    used += size;
    r += size;
  }
  return used;
}

int64_t laid_out_record_words(const UndoStore* s) {
  int64_t words = 0, r = kUsHeaderWords;
  for (int32_t k = 0; k < get(s, kUsRecordCount); ++k) {
    const int32_t size = get(s, r + kRecSize);
    if (size < kRecHeadWords) break;
    words += std::max<int64_t>(size, undo_laid_out_words(get(s, r + kRecFields)));
    r += size;
  }
  return words;
}

}  // namespace undo_detail

namespace {

// Moves the records behind record r by delta words (the record's size word
// is the caller's to change).
void shift_behind(UndoStore* s, int64_t r, int64_t delta) {
  const int64_t from = r + get(s, r + kRecSize);
  const int64_t end = kUsHeaderWords + used_record_words(s);
  if (end > from) std::memmove(bytes(s) + 4 * (from + delta), bytes(s) + 4 * from, size_t(4 * (end - from)));
}

int32_t field_index(const UndoStore* s, int64_t r, int32_t code) {
  const int32_t f = rec(s, r, kRecFields);
  for (int32_t i = 0; i < f; ++i)
    if (get(s, r + kRecHeadWords + 2 * i) == code) return i;
  return -1;
}

void release_slot(UndoStore* s, int64_t w) {
  const int32_t v = get(s, w);
  if (v >= 0) undo_store_release_value(s, v);
  put(s, w, kSlotEmpty);
}

void clear_row(UndoStore* s, int64_t r, int32_t row) {
  for (int32_t i = 0; i < rec(s, r, kRecFields); ++i) release_slot(s, slot_word(s, r, row, i));
}

// Drops row 0: its blocks are released and the later rows move down.
void drop_oldest_row(UndoStore* s, int64_t r) {
  const int32_t f = rec(s, r, kRecFields), rows = rec(s, r, kRecRows);
  clear_row(s, r, 0);
  if (f > 0 && rows > 1)
    std::memmove(bytes(s) + 4 * slot_word(s, r, 0, 0), bytes(s) + 4 * slot_word(s, r, 1, 0),
                 size_t(4) * size_t(f) * size_t(rows - 1));
  for (int32_t i = 0; i < f; ++i) put(s, slot_word(s, r, rows - 1, i), kSlotEmpty);
  set_rec(s, r, kRecRows, rows - 1);
  if (rec(s, r, kRecCurrent) > 0) set_rec(s, r, kRecCurrent, rec(s, r, kRecCurrent) - 1);
}

// The record and the row (current - back; a negative back is the current
// row) of a slot operation.
int locate(UndoStore* s, int32_t id, int32_t back, int64_t* r, int32_t* row) {
  *r = find_record(s, id);
  if (*r < 0) return kRtNonexistentUndoSet;
  const int32_t cur = rec(s, *r, kRecCurrent);
  if (back > cur) return kRtNonexistentUndoSet;
  *row = back < 0 ? cur : cur - back;
  if (*row >= rec(s, *r, kRecRows) || !laid_out(s, *r)) return kRtNonexistentUndoSet;
  return 0;
}

int locate_field(UndoStore* s, int32_t id, int32_t back, int32_t code, int64_t* r, int32_t* row, int64_t* w) {
  *r = find_record(s, id);
  if (*r < 0) return kRtNonexistentUndoSet;
  const int32_t fi = field_index(s, *r, code);
  if (fi < 0) return kRtVarNotFound;
  const int st = locate(s, id, back, r, row);
  if (st) return st;
  *w = slot_word(s, *r, *row, fi);
  return 0;
}

}  // namespace

int undo_store_add_record(UndoStore* s, int32_t id) {
  if (laid_out_record_words(s) + kRecHeadWords + kUndoReserveWords > get(s, kUsRecordCapacity))
    return kRtTooManyVarInUndoBuf;
  const int64_t used = used_record_words(s);
  const int64_t r = kUsHeaderWords + used;
  put(s, r + kRecSize, kRecHeadWords);
  put(s, r + kRecId, id);
  put(s, r + kRecFields, 0);
  put(s, r + kRecRows, 0);
  put(s, r + kRecCurrent, 0);
  put(s, kUsRecordCount, get(s, kUsRecordCount) + 1);
  return 0;
}

int undo_store_remove_record(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  if (laid_out(s, r))
    for (int32_t row = 0; row < rec(s, r, kRecRows); ++row) clear_row(s, r, row);
  const int32_t size = rec(s, r, kRecSize);
  shift_behind(s, r, -size);
  put(s, kUsRecordCount, get(s, kUsRecordCount) - 1);
  return 0;
}

int undo_store_add_field(UndoStore* s, int32_t id, int32_t code, int32_t flag) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  if (field_index(s, r, code) >= 0) return kRtVarDuplicate;
  // A record with a slot table or rows keeps its shape: no room for a field.
  if (laid_out(s, r) || rec(s, r, kRecRows) > 0) return kRtTooManyVarInUndoBuf;
  const int32_t f = rec(s, r, kRecFields), size = rec(s, r, kRecSize);
  // Every record must still fit once its slot table is laid out.
  if (laid_out_record_words(s) - undo_laid_out_words(f) + undo_laid_out_words(f + 1) + kUndoReserveWords >
      get(s, kUsRecordCapacity))
    return kRtTooManyVarInUndoBuf;
  shift_behind(s, r, 2);
  put(s, r + kRecHeadWords + 2 * f, code);
  put(s, r + kRecHeadWords + 2 * f + 1, flag != 0 ? 1 : 0);
  set_rec(s, r, kRecFields, f + 1);
  set_rec(s, r, kRecSize, size + 2);
  return 0;
}

int undo_store_get_field(UndoStore* s, int32_t id, int32_t position, bool flagged_only, int32_t* code) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  const int32_t f = rec(s, r, kRecFields);
  if (position < 0) return kRtVarNotFound;
  // Flagged-only counts the position among the flagged fields.
  for (int32_t i = 0, seen = 0; i < f; ++i) {
    if (flagged_only && get(s, r + kRecHeadWords + 2 * i + 1) == 0) continue;
    if (seen++ == position) {
      *code = get(s, r + kRecHeadWords + 2 * i);
      return 0;
    }
  }
  return kRtVarNotFound;
}

int undo_store_clear_record(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  const int32_t f = rec(s, r, kRecFields), size = rec(s, r, kRecSize);
  if (laid_out(s, r)) {
    for (int32_t row = 0; row < rec(s, r, kRecRows); ++row) clear_row(s, r, row);
  } else {
    // The adds counted this record at its laid-out size, and a loaded store
    // passed the same count (undo_store_check): the room is there.
    const int64_t full = undo_laid_out_words(f);
    const bool fits = used_record_words(s) - size + full + kUndoReserveWords <= get(s, kUsRecordCapacity);
    TN_ASSERT(fits);
    if (!fits) return kRtNonexistentUndoSet;
    shift_behind(s, r, full - size);
    set_rec(s, r, kRecSize, int32_t(full));
    for (int64_t w = r + kRecHeadWords + 2 * f; w < r + full; ++w) put(s, w, 0);
    for (int32_t row = 0; row < kUndoMaxRows; ++row)
      for (int32_t i = 0; i < f; ++i) put(s, slot_word(s, r, row, i), kSlotEmpty);
  }
  set_rec(s, r, kRecRows, 1);
  set_rec(s, r, kRecCurrent, 0);
  return 0;
}

int undo_store_push_row(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  const int32_t f = rec(s, r, kRecFields);
  if (f > 0 && (!laid_out(s, r) || rec(s, r, kRecRows) < 1)) return kRtNonexistentUndoSet;
  int32_t rows = rec(s, r, kRecRows);
  for (int32_t row = rec(s, r, kRecCurrent) + 1; row < rows; ++row) clear_row(s, r, row);
  rows = rows > 0 ? rec(s, r, kRecCurrent) + 1 : 0;
  set_rec(s, r, kRecRows, rows);
  if (rows == kUndoMaxRows) {
    drop_oldest_row(s, r);
    rows = kUndoMaxRows - 1;
  }
  if (f > 0) {
    for (int32_t i = 0; i < f; ++i) {
      const int32_t v = get(s, slot_word(s, r, rows - 1, i));
      if (v >= 0) set_block(s, v, block_refs(s, v) + 1, block_len(s, v));
      put(s, slot_word(s, r, rows, i), v);
    }
  }
  set_rec(s, r, kRecRows, rows + 1);
  set_rec(s, r, kRecCurrent, rows);
  return 0;
}

int undo_store_drop_last_row(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  const int32_t rows = rec(s, r, kRecRows);
  if (rows < 2) return kRtNonexistentUndoSet;
  clear_row(s, r, rows - 1);
  set_rec(s, r, kRecRows, rows - 1);
  if (rec(s, r, kRecCurrent) >= rows - 1) set_rec(s, r, kRecCurrent, rows - 2);
  return 0;
}

int undo_store_get_value(UndoStore* s, int32_t id, int32_t back, int32_t code, int32_t* units, void** data) {
  int64_t r = 0, w = 0;
  int32_t row = 0;
  const int st = locate_field(s, id, back, code, &r, &row, &w);
  if (st) return st;
  const int32_t v = get(s, w);
  if (units) *units = v >= 0 ? block_len(s, v) : 0;
  if (data) *data = v >= 0 ? bytes(s) + 8 * (int64_t(get(s, kUsValueStart)) + v + 1) : nullptr;
  return 0;
}

int undo_store_set_value(UndoStore* s, int32_t id, int32_t back, int32_t code, bool mark) {
  int64_t r = 0, w = 0;
  int32_t row = 0;
  const int st = locate_field(s, id, back, code, &r, &row, &w);
  if (st) return st;
  release_slot(s, w);
  put(s, w, mark ? kSlotMarked : kSlotEmpty);
  return 0;
}

int undo_store_put_value(UndoStore* s, int32_t id, int32_t back, int32_t code, int64_t units, void** data) {
  int64_t r = 0, w = 0;
  int32_t target = 0;
  if (data) *data = nullptr;
  int st = locate_field(s, id, back, code, &r, &target, &w);
  if (st) return st;
  if (units < 0) return kRtVarTooLargeForUndo;
  release_slot(s, w);
  if (units < 1) {
    put(s, w, kSlotNoData);
    return 0;
  }
  const int32_t fi = field_index(s, r, code);
  if (get(s, r + kRecHeadWords + 2 * fi + 1) != 0) {
    // A flagged field keeps no rows older than the one written.
    const int32_t drops = rec(s, r, kRecCurrent) - target;
    for (int32_t k = 0; k < drops && target > 0; ++k, --target) drop_oldest_row(s, r);
  }
  int32_t index = 0;
  while ((st = undo_store_alloc(s, units, &index)) == kRtVarTooLargeForUndo && rec(s, r, kRecRows) > target + 1 &&
         target > 0) {
    drop_oldest_row(s, r);
    --target;
  }
  if (st) return st;
  put(s, slot_word(s, r, target, fi), index);
  if (data) *data = bytes(s) + 8 * (int64_t(get(s, kUsValueStart)) + index + 1);
  return 0;
}

bool undo_store_value_present(UndoStore* s, int32_t id, int32_t back, int32_t code) {
  int64_t r = 0, w = 0;
  int32_t row = 0;
  return locate_field(s, id, back, code, &r, &row, &w) == 0 && get(s, w) >= kSlotNoData;
}

bool undo_store_value_marked(UndoStore* s, int32_t id, int32_t back, int32_t code) {
  int64_t r = 0, w = 0;
  int32_t row = 0;
  return locate_field(s, id, back, code, &r, &row, &w) == 0 && get(s, w) < kSlotEmpty;
}

int undo_store_release_row(UndoStore* s, int32_t id, int32_t back) {
  int64_t r = 0;
  int32_t row = 0;
  const int st = locate(s, id, back, &r, &row);
  if (st) return st;
  for (int32_t i = 0; i < rec(s, r, kRecFields); ++i) {
    const int64_t w = slot_word(s, r, row, i);
    if (get(s, w) < kSlotEmpty) put(s, w, kSlotEmpty);
  }
  return 0;
}

int undo_store_undo(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  if (rec(s, r, kRecCurrent) <= 0) return kRtCannotUndo;
  set_rec(s, r, kRecCurrent, rec(s, r, kRecCurrent) - 1);
  return 0;
}

int undo_store_redo(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  if (r < 0) return kRtNonexistentUndoSet;
  if (rec(s, r, kRecCurrent) >= rec(s, r, kRecRows) - 1) return kRtCannotRedo;
  set_rec(s, r, kRecCurrent, rec(s, r, kRecCurrent) + 1);
  return 0;
}

bool undo_store_can_undo(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  return r >= 0 && rec(s, r, kRecCurrent) > 0;
}

bool undo_store_can_redo(UndoStore* s, int32_t id) {
  const int64_t r = find_record(s, id);
  return r >= 0 && rec(s, r, kRecCurrent) < rec(s, r, kRecRows) - 1;
}
