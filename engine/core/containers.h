// Containers (lists, structures, cell arrays, user objects) and payload items
// (raw data, library objects). A container's data are a gapless run of
// elements, each a 16-byte header {kind, a, b, name symbol} and the element's
// data words; a cell array's first element is its 1 x k int32 size vector.
#pragma once

#include <cstdint>

#include "engine/core/checked.h"
#include "engine/core/context.h"
#include "engine/core/value_stack.h"

constexpr uint32_t kElemHeaderWords = 2;  // 8-byte words of an element header
constexpr int kMaxDims = 16;              // longest dimension vector
constexpr int32_t kFieldNameLimit = 32;   // longest field name

// Element header access. An element pointer points at its header.
inline uint32_t elem_word(const uint64_t* e, int i) {
  return tn::ld_u32(reinterpret_cast<const uint8_t*>(e) + 4 * i);
}
inline uint32_t elem_kind(const uint64_t* e) { return elem_word(e, 0); }
inline int32_t elem_name(const uint64_t* e) { return static_cast<int32_t>(elem_word(e, 3)); }
inline uint32_t elem_data_words(const uint64_t* e) {
  return item_data_words(elem_word(e, 0), elem_word(e, 1), elem_word(e, 2));
}
inline uint32_t elem_total_words(const uint64_t* e) { return kElemHeaderWords + elem_data_words(e); }
inline uint64_t* elem_data(uint64_t* e) { return e + kElemHeaderWords; }
inline void elem_set_header(uint64_t* e, uint32_t kind, uint32_t a, uint32_t b, int32_t name) {
  uint8_t* p = reinterpret_cast<uint8_t*>(e);
  tn::st_u32(p, kind);
  tn::st_u32(p + 4, a);
  tn::st_u32(p + 8, b);
  tn::st_i32(p + 12, name);
}

// Container construction.
int stk_make_container(EngineContext* ctx, int n, int append, const char* name, int32_t name_length);
int stk_push_cell_array(EngineContext* ctx, int ndims, const int32_t* dims);

// Inspection. The out pointers may be null; pointers into the stack stay valid
// until the next push or pop that moves data.
int stk_get_container(EngineContext* ctx, int depth, int32_t* count, uint64_t** first);
int stk_is_list(EngineContext* ctx, int depth);
int stk_is_struct(EngineContext* ctx, int depth);
int stk_is_object(EngineContext* ctx, int depth);
int stk_get_container_dims(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                           int32_t* count, uint64_t** first);
int stk_list_get(EngineContext* ctx, int depth, int32_t index);
int stk_struct_get_field(EngineContext* ctx, int depth, const char* name, int32_t length);
int stk_container_field_at(EngineContext* ctx, int depth, int32_t k, const char** name,
                           int32_t* length);
int stk_expand_list(EngineContext* ctx, int32_t* count);

// Shape changes of the top item.
int stk_reshape(EngineContext* ctx, int ndims, const int32_t* dims);
int stk_reshape_container(EngineContext* ctx, int ndims, const int32_t* dims);
int stk_transpose(EngineContext* ctx);

// Payloads and library objects (stk_push_raw is declared with the pushers).
int stk_get_raw(EngineContext* ctx, int depth, uint32_t* subtype, uint32_t* byte_length, void** data);
int stk_push_object(EngineContext* ctx, uint32_t byte_length, void** data);
int stk_get_object(EngineContext* ctx, int depth, uint32_t* byte_length, void** data);
