// The variable-name table over area 3 of the runtime block. Names compare on
// their first 28 bytes, so a longer name equal there is a duplicate.
#include "runtime/name_table.h"

#include <cstring>

#include "runtime/runtime_status.h"

namespace {

int32_t stored_length(const NameEntry& e) { return int32_t(strnlen(e.name, kNameBytes)); }

int64_t capacity_for(int64_t area_size) { return (area_size - kNameTableHeadBytes) / int64_t(sizeof(NameEntry)); }

}  // namespace

int fixtab_init(NameTable** out, void* area, int64_t area_size) {
  if (area_size < kNameTableMinBytes) return kRtTooSmallNameBuf;
  NameTable* t = static_cast<NameTable*>(area);
  t->capacity = int32_t(capacity_for(area_size));
  t->count = 0;
  *out = t;
  return 0;
}

int fixtab_resize(NameTable* t, int64_t area_size) {
  const int64_t cap = capacity_for(area_size);
  if (cap < t->count || cap > INT32_MAX) return kRtTooSmallNameBuf;
  t->capacity = int32_t(cap);
  return 0;
}

int fixtab_add(NameTable* t, int32_t code, const char* name, int32_t length) {
  if (t->count >= t->capacity) return kRtNoMoreNameSlot;
  if (code < kNameCodeMin || code > kNameCodeMax) return kRtVarDuplicate;
  const int32_t n = length > 0 ? (length < kNameBytes ? length : kNameBytes)
                               : int32_t(strnlen(name, kNameBytes));
  for (int32_t i = 0; i < t->count; ++i) {
    const NameEntry& e = name_entries(t)[i];
    if (e.code == code) return kRtVarDuplicate;
    if (stored_length(e) == n && std::memcmp(e.name, name, size_t(n)) == 0) return kRtVarDuplicate;
  }
  NameEntry& e = name_entries(t)[t->count];
  e.code = code;
  std::memset(e.name, 0, sizeof e.name);
  std::memcpy(e.name, name, size_t(n));
  ++t->count;
  return 0;
}

int fixtab_find(const NameTable* t, int32_t code, const char** name, int32_t* length) {
  for (int32_t i = 0; i < t->count; ++i)
    if (name_entries(t)[i].code == code) {
      if (name) *name = name_entries(t)[i].name;
      if (length) *length = stored_length(name_entries(t)[i]);
      return 0;
    }
  return kRtVarNotFound;
}
