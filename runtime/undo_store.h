// The value store: per instance a record of fields (variable codes) with up
// to 16 rows of values, one current; values are reference-counted blocks of
// 8-byte units in a value area that the blocks tile exactly. Saved raw in the
// runtime image, so every word below is also a file word (int32, little-endian).
#pragma once

#include <bit>
#include <cstdint>
#include <string>

// The store is addressed through its first byte; it lives inside the
// runtime block and moves with it.
struct UndoStore;

// Header words.
enum : int32_t {
  kUsSize = 0,
  kUsMaxRows = 1,
  kUsRecordCapacity = 2,  // R, words
  kUsRecordCount = 3,
  kUsValueCapacity = 4,   // C, units
  kUsValueStart = 5,      // V, units from the store's start
  kUsCompacted = 6,
  kUsHeaderWords = 7,
};
// Record words.
enum : int32_t {
  kRecSize = 0,
  kRecId = 1,
  kRecFields = 2,
  kRecRows = 3,
  kRecCurrent = 4,
  kRecHeadWords = 5,
};
// Slot values.
enum : int32_t {
  kSlotNoData = -1,  // a value without data (present)
  kSlotEmpty = -2,
  kSlotMarked = -3,
};
constexpr int32_t kUndoMaxRows = 16;
static_assert(std::endian::native == std::endian::little, "saved byte for byte");
constexpr int32_t kUndoMinBytes = 8192;
constexpr int32_t kUndoReserveWords = 128;  // kept free by every add
constexpr int32_t kUndoUnitBytes = 8;

// Laid-out size of a record of f fields: entries, then 16 rows of slots in a
// table of twice that many words (the saved shape).
inline int64_t undo_laid_out_words(int64_t f) { return 2 * (kUndoMaxRows + 1) * f + kRecHeadWords; }

int undo_store_init(UndoStore** out, void* buffer, int64_t size);
int undo_store_grow(UndoStore* s, int64_t new_size);
int undo_store_add_record(UndoStore* s, int32_t id);
int undo_store_remove_record(UndoStore* s, int32_t id);
int undo_store_add_field(UndoStore* s, int32_t id, int32_t code, int32_t flag);
int undo_store_get_field(UndoStore* s, int32_t id, int32_t position, bool flagged_only, int32_t* code);
int undo_store_clear_record(UndoStore* s, int32_t id);
int undo_store_push_row(UndoStore* s, int32_t id);
int undo_store_drop_last_row(UndoStore* s, int32_t id);
int undo_store_get_value(UndoStore* s, int32_t id, int32_t back, int32_t code, int32_t* units, void** data);
int undo_store_set_value(UndoStore* s, int32_t id, int32_t back, int32_t code, bool mark);
int undo_store_put_value(UndoStore* s, int32_t id, int32_t back, int32_t code, int64_t units, void** data);
bool undo_store_value_present(UndoStore* s, int32_t id, int32_t back, int32_t code);
bool undo_store_value_marked(UndoStore* s, int32_t id, int32_t back, int32_t code);
int undo_store_release_row(UndoStore* s, int32_t id, int32_t back);
int undo_store_alloc(UndoStore* s, int64_t units, int32_t* index);
void undo_store_release_value(UndoStore* s, int32_t index);
void undo_store_compact(UndoStore* s);
int undo_store_undo(UndoStore* s, int32_t id);
int undo_store_redo(UndoStore* s, int32_t id);
bool undo_store_can_undo(UndoStore* s, int32_t id);
bool undo_store_can_redo(UndoStore* s, int32_t id);

// Saved form: the first `head_bytes` bytes of the store, then `units` units
// of the value area from its start.
struct UndoSavedSizes {
  int32_t head_bytes;  // H
  int32_t units;       // U
};
using UndoReadFn = bool (*)(void* destination, int64_t bytes, void* context);
int undo_store_load(UndoStore* s, UndoSavedSizes sizes, UndoReadFn read, void* context);
UndoSavedSizes undo_store_saved_sizes(UndoStore* s);
const uint8_t* undo_store_value_area(UndoStore* s);

// Word access for readers and checkers.
int32_t undo_word(const UndoStore* s, int64_t w);

// Structure check: header, records, blocks tiling the value area, and every
// used block's reference count equal to the number of slots naming it.
// On failure *why (when given) names the first fault. Loading refuses a
// store that fails it.
bool undo_store_check(const UndoStore* s, std::string* why = nullptr);
