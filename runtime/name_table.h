// The variable-name table: 32-byte entries {code, 28-byte name} mapping the
// variable codes of handler records to names. Codes and names are unique;
// a name of exactly 28 bytes is stored without its terminating zero.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kNameBytes = 28;
constexpr int32_t kNameTableMinBytes = 256;
constexpr int32_t kNameCodeMin = -(1 << 30);
constexpr int32_t kNameCodeMax = (1 << 30) - 1;

struct NameEntry {
  int32_t code;
  char name[kNameBytes];
};
static_assert(sizeof(NameEntry) == 32);

struct NameTable {
  int32_t capacity;
  int32_t count;
};
// Capacity entries follow the two words.
constexpr int32_t kNameTableHeadBytes = 8;
static_assert(sizeof(NameTable) == kNameTableHeadBytes);
inline NameEntry* name_entries(NameTable* t) { return reinterpret_cast<NameEntry*>(t + 1); }
inline const NameEntry* name_entries(const NameTable* t) { return reinterpret_cast<const NameEntry*>(t + 1); }

// Area bytes a table of `rows` entries needs.
constexpr int64_t name_table_bytes(int64_t rows) { return kNameTableHeadBytes + rows * int64_t(sizeof(NameEntry)); }

int fixtab_init(NameTable** out, void* area, int64_t area_size);
int fixtab_resize(NameTable* t, int64_t area_size);
int fixtab_add(NameTable* t, int32_t code, const char* name, int32_t length);
// The name and its length (at most 28; the name need not be terminated).
int fixtab_find(const NameTable* t, int32_t code, const char** name, int32_t* length = nullptr);
