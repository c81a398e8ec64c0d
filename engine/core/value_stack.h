// The value stack: two parallel stacks in the context's block, descriptors of
// three u32 words {kind, a, b} per item and the items' data in 8-byte words.
// Items are addressed by depth (0 = top); their data lie in the same order as
// their descriptors, without gaps, the top item's data ending at the data top.
#pragma once

#include <cstdint>

#include "engine/core/checked.h"
#include "engine/core/context.h"

// Descriptor kinds (bit values).
enum : uint32_t {
  kKindReal = 0,
  kKindComplex = 1,
  kKindPayload = 2,
  kKindContainer = 4,
  kKindReference = 8,
  kKindNoValue = 16,
  kKindMarker = 32,
};

// Payload subtypes (kind 2).
enum : uint32_t {
  kPayInline = 1,
  kPayFuncRef = 2,
  kPayNumeric = 3,
  kPayChar = 4,
  kPayLogical = 5,
  kPayFirstClass = 6,  // library objects: 6 + 128 * table position + |class word|
};

// Container subtypes (kind 4); other values are objects.
enum : uint32_t {
  kContList = 0,
  kContStruct = 1,
  kContCell = 2,
};

// Typed-array element types.
enum : uint32_t {
  kElemI8 = 1,
  kElemI16 = 2,
  kElemI32 = 4,
  kElemI64 = 8,
  kElemUnsigned = 128,
  kElemU8 = 129,
  kElemU16 = 130,
  kElemU32 = 132,
  kElemU64 = 136,
  kElemDouble = 64,
  kElemDoubleComplex = 65,
  kElemSingle = 66,
  kElemSingleComplex = 67,
};

constexpr int64_t kMaxTypedElements = 100000000;
constexpr int64_t kMaxNdElements = 0x3fffffff;

// Data words of an item from its descriptor.
inline uint32_t item_data_words(uint32_t kind, uint32_t a, uint32_t b) {
  if (kind & 62) return a;
  uint32_t n = a * b;
  return (kind & 1) ? 2 * n : n;
}

// Words of one descriptor: {kind, a, b}.
constexpr int kDescWords = 3;

// Descriptor words of the item at depth d.
inline uint32_t* desc_at(EngineContext* c, int depth) {
  return desc_words(c) + c->desc_top - kDescWords * (depth + 1);
}

inline uint32_t desc_data_words(const uint32_t* d) { return item_data_words(d[0], d[1], d[2]); }

// Value shapes, one predicate each; nobody spells these tests out again.
// A real 1 x 1 double matrix: {kind 0, rows 1, columns 1}, its first two
// words read as one (the interpreter's fast paths test it on every step).
constexpr uint64_t kRealScalarHead = uint64_t(1) << 32;
inline bool desc_is_real_scalar(const uint32_t* d) {
  return tn::load<uint64_t>(d) == kRealScalarHead && d[2] == 1;
}
inline void set_desc_real_scalar(uint32_t* d) {
  tn::store<uint64_t>(d, kRealScalarHead);
  d[2] = 1;
}
// The two top items are both real 1 x 1 double matrices.
inline bool top_two_real_scalars(EngineContext* c) {
  return c->desc_top >= 2 * kDescWords && desc_is_real_scalar(desc_at(c, 1)) && desc_is_real_scalar(desc_at(c, 0));
}

// Index of the first data word of the item at depth d (walks the items above).
inline int32_t item_data_index(EngineContext* c, int depth) {
  int32_t at = c->data_top;
  const uint32_t* d = desc_words(c) + c->desc_top;
  for (int i = 0; i <= depth; ++i) {
    d -= 3;
    at -= static_cast<int32_t>(desc_data_words(d));
  }
  return at;
}

inline uint64_t* item_data(EngineContext* c, int depth) {
  return data_words(c) + item_data_index(c, depth);
}

// Number of items on the stack.
inline int stk_item_count(const EngineContext* c) { return c->desc_top / 3; }

// Free room: descriptor words and data words.
inline bool desc_room(const EngineContext* c) {
  return static_cast<int64_t>(c->desc_top) + 3 < static_cast<int64_t>(c->desc_capacity);
}
inline int64_t data_free_words(const EngineContext* c) {
  return static_cast<int64_t>(c->data_capacity) - c->data_top;
}

// Appends a descriptor and claims `words` data words with no test: callers test
// room first so that a failure leaves the stacks as they were.
inline uint64_t* stk_claim(EngineContext* c, uint32_t kind, uint32_t a, uint32_t b, uint32_t words) {
  TN_ASSERT(int64_t(c->desc_top) + 3 <= int64_t(c->desc_capacity) && int64_t(words) <= data_free_words(c));
  uint32_t* d = desc_words(c) + c->desc_top;
  d[0] = kind;
  d[1] = a;
  d[2] = b;
  c->desc_top += 3;
  uint64_t* p = data_words(c) + c->data_top;
  c->data_top += static_cast<int32_t>(words);
  return p;
}

// Pops the top item (descriptor and data).
inline void stk_drop(EngineContext* c) {
  TN_ASSERT(c->desc_top >= kDescWords);
  uint32_t* d = desc_at(c, 0);
  TN_ASSERT(int64_t(desc_data_words(d)) <= c->data_top);
  c->data_top -= static_cast<int32_t>(desc_data_words(d));
  c->desc_top -= 3;
}

// Header length in bytes of a typed array with ndims dimensions.
inline uint32_t typed_header_bytes(uint32_t ndims) { return ((ndims + 3) / 2) * 8; }

// Element size in bytes of a typed-array element type (0 when unknown).
inline uint32_t elem_size(uint32_t type) {
  switch (type) {
    case kElemDouble: return 8;
    case kElemDoubleComplex: return 8;
    case kElemSingle: return 4;
    case kElemSingleComplex: return 4;
    default: {
      uint32_t s = type & 127;
      return (s == 1 || s == 2 || s == 4 || s == 8) && (type & ~255u) == 0 ? s : 0;
    }
  }
}

// True when an item exists at depth (guards getters against a bad depth).
inline bool stk_has_item(const EngineContext* c, int depth) {
  return depth >= 0 && 3 * (static_cast<int64_t>(depth) + 1) <= c->desc_top;
}

// A typed array's header read from its payload (subtypes 3 to 5). typed_view
// refuses a payload whose header or elements would run past its data words.
struct TypedView {
  uint32_t subtype;
  uint32_t type;
  uint32_t ndims;
  const uint32_t* dims;
  int64_t count;       // product of the dims
  uint32_t size;       // element size in bytes, 0 for an unknown type
  bool is_complex;     // types 65 and 67
  uint8_t* elems;      // first element, behind the header
  uint32_t words;      // data words of the item
};
bool typed_view(EngineContext* c, int depth, TypedView* out);
// The same for a value's descriptor words d and its data p (a stack item's
// or a heap block's).
bool typed_view_of(const uint32_t* d, uint8_t* p, TypedView* out);

// Moves the top item into the place of the item just below the `depth` items
// under it (the item that was at `depth` before the top was pushed), which is
// dropped; the items in between keep their order. Cannot fail.
void stk_replace_with_top(EngineContext* c, int depth);

// True for the integer element types (signed and unsigned, 1 to 8 bytes).
inline bool elem_is_integer(uint32_t type) {
  uint32_t s = type & 127;
  return (type & ~255u) == 0 && (type & 64) == 0 && (s == 1 || s == 2 || s == 4 || s == 8);
}

// Element i of an integer array, sign-extended for signed types and
// zero-extended for unsigned ones (128 bits hold every 8-byte value).
inline __int128 load_int_element(const uint8_t* e, int64_t i, uint32_t type) {
  switch (type) {
    case kElemI8: return tn::load<int8_t>(e + i);
    case kElemU8: return tn::load<uint8_t>(e + i);
    case kElemI16: return tn::load<int16_t>(e + 2 * i);
    case kElemU16: return tn::load<uint16_t>(e + 2 * i);
    case kElemI32: return tn::load<int32_t>(e + 4 * i);
    case kElemU32: return tn::load<uint32_t>(e + 4 * i);
    case kElemI64: return tn::load<int64_t>(e + 8 * i);
    case kElemU64: return tn::load<uint64_t>(e + 8 * i);
    default: return 0;
  }
}

// --- Pushers ---------------------------------------------------------------
int stk_push_empty(EngineContext* ctx);
int stk_push_no_value(EngineContext* ctx);
int stk_push_marker(EngineContext* ctx, int32_t tag);
int stk_push_real(EngineContext* ctx, double v);
int stk_push_zeros(EngineContext* ctx, int32_t rows, int32_t cols, int complex_flag);
int stk_push_inf(EngineContext* ctx);
int stk_push_nan(EngineContext* ctx);
int stk_push_logical_scalar(EngineContext* ctx, uint8_t v);
int stk_push_complex(EngineContext* ctx, double re, double im);
int stk_push_matrix(EngineContext* ctx, int32_t rows, int32_t cols, double** re, double** im);
int stk_push_double_nd(EngineContext* ctx, int ndims, const int32_t* dims, double** re, double** im);
int stk_push_single_nd(EngineContext* ctx, int ndims, const int32_t* dims, float** re, float** im);
int stk_push_typed_array(EngineContext* ctx, int ndims, const int32_t* dims, int elem_size,
                         int unsigned_flag, void** data);
int stk_push_char_array(EngineContext* ctx, int ndims, const int32_t* dims, uint16_t** data);
int stk_push_char_row(EngineContext* ctx, int32_t n, uint16_t** data);
int stk_push_logical_array(EngineContext* ctx, int ndims, const int32_t* dims, uint8_t** data);
int stk_push_raw(EngineContext* ctx, uint32_t subtype, uint32_t byte_length, void** data);

// --- Inspectors and getters -------------------------------------------------
bool stk_is_marker(EngineContext* ctx, int depth, int32_t* tag);
int stk_is_char(EngineContext* ctx, int depth);
int stk_is_logical(EngineContext* ctx, int depth);
int stk_get_matrix(EngineContext* ctx, int depth, int32_t* rows, int32_t* cols, double** re,
                   double** im);
int stk_top_matrix(EngineContext* ctx, int32_t* rows, int32_t* cols, double** re, double** im);
int stk_get_array_info(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                       int64_t* count);
int stk_get_double_array(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                         int64_t* count, double** re, double** im);
int stk_get_single_array(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                         int64_t* count, float** re, float** im);
int stk_get_typed_array(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                        int64_t* count, int* elem_size, int* unsigned_flag, void** data);

// Per-operand results of stk_get_multi_arrays; every array is optional.
struct MultiArrays {
  double** re = nullptr;
  double** im = nullptr;
  float** sre = nullptr;
  float** sim = nullptr;
  void** idata = nullptr;
  int* isize = nullptr;
  uint8_t* iunsigned = nullptr;
  uint8_t* stride = nullptr;
};
int stk_get_multi_arrays(EngineContext* ctx, int n, int* ndims, const uint32_t** dims,
                         int64_t* count, const MultiArrays& out);

int stk_pop_real_scalar(EngineContext* ctx, double* v);
int stk_get_real_scalar(EngineContext* ctx, int depth, double* v);
int stk_pop_complex_scalar(EngineContext* ctx, double* re, double* im);
int stk_get_int(EngineContext* ctx, int depth, int32_t* v);
int stk_pop_int(EngineContext* ctx, int32_t* v);
int stk_get_bool(EngineContext* ctx, int depth, uint8_t* v);
int stk_pop_bool(EngineContext* ctx, uint8_t* v);

struct InlineParts {
  const uint16_t* first;  // signed 16-bit count p, then p words
  const char* source;
  int32_t source_length;
  const uint16_t* code;   // null when absent
};
int stk_get_inline(EngineContext* ctx, int depth, InlineParts* out);
void stk_make_real_top(EngineContext* ctx);

// --- Strings -----------------------------------------------------------------
int stk_push_cstr(EngineContext* ctx, int32_t length, const char* text);
int stk_push_wstr(EngineContext* ctx, int32_t length, const char16_t* text);
int stk_push_str_buffer(EngineContext* ctx, int32_t* length, uint16_t** data);
int stk_push_str_buffer_alias(EngineContext* ctx, int32_t* length, uint16_t** data);
int stk_push_str_buffer2(EngineContext* ctx, int32_t* length, uint16_t** data);
int stk_repush_str(EngineContext* ctx, int32_t n);
int stk_shrink_byte_string(EngineContext* ctx, int32_t n);
// The byte decoders turn a byte that starts no character into the character
// of the same value, so no input byte is lost.
int stk_finish_byte_string(EngineContext* ctx, int32_t n);
int stk_pop_bytes_via_host(EngineContext* ctx, int32_t n);
int stk_push_bytes(EngineContext* ctx, int32_t length, const char* bytes);
int stk_get_string_buf(EngineContext* ctx, int depth, char* buffer, int32_t size, int32_t* length);
int stk_pop_string_buf(EngineContext* ctx, char* buffer, int32_t size, int32_t* length);
// Converts the character array in place to zero-terminated 8-bit text and
// relabels the item as the uint8 array it then holds (same dimensions).
int stk_get_cstring(EngineContext* ctx, int depth, char** text, int32_t* length);
// The new uint8 row includes the zero byte when the flag is set; length counts
// the text bytes without it.
int stk_get_wstring(EngineContext* ctx, int depth, int flag, uint8_t** data, int32_t* length);
