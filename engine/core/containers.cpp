// Building, inspecting and taking apart containers; reshaping and transposing
// the top item; raw payloads and library objects. Containers are flat runs of
// elements so they move with word copies. Every test precedes the first change
// of the stacks; only names interned on the way stay in the symbol area.
#include "engine/core/containers.h"

#include <cstring>

#include "engine/core/symbols.h"
#include "engine/core/transpose_copy.h"

namespace {

// Typed-array header words (u32) at the start of a numeric, char or logical payload.
constexpr int kHdrType = 0;
constexpr int kHdrNdims = 1;
constexpr int kHdrDims = 2;

// A cell array's size vector is a 1 x k signed 32-bit typed array.
constexpr uint32_t kSizeVectorNdims = 2;

bool depth_ok(const EngineContext* ctx, int depth) {
  return depth >= 0 && depth < stk_item_count(ctx);
}

// Descriptor of a container at depth, or null.
uint32_t* container_at(EngineContext* ctx, int depth) {
  if (!depth_ok(ctx, depth)) return nullptr;
  uint32_t* d = desc_at(ctx, depth);
  return d[0] == kKindContainer ? d : nullptr;
}

bool is_typed_subtype(uint32_t b) { return b == kPayNumeric || b == kPayChar || b == kPayLogical; }

uint32_t hdr(const uint64_t* payload, int i) {
  return tn::ld_u32(reinterpret_cast<const uint8_t*>(payload) + 4 * i);
}
void set_hdr(uint64_t* payload, int i, uint32_t v) {
  tn::st_u32(reinterpret_cast<uint8_t*>(payload) + 4 * i, v);
}

// Walks a run of `words` words of elements. A header claiming more words than
// remain ends the walk, so a damaged container cannot lead past its data.
struct ElementWalk {
  uint64_t* at;
  int64_t left;
  bool done() const { return left < kElemHeaderWords || elem_total_words(at) > left; }
  void next() {
    uint32_t w = elem_total_words(at);
    at += w;
    left -= w;
  }
};

ElementWalk walk_of(EngineContext* ctx, int depth) {
  return ElementWalk{item_data(ctx, depth), desc_at(ctx, depth)[1]};
}

int32_t count_elements(ElementWalk w) {
  int32_t n = 0;
  for (; !w.done(); w.next()) ++n;
  return n;
}

// The walk over a list's or cell array's entries: a cell array's size vector
// is stepped over.
ElementWalk entry_walk(EngineContext* ctx, int depth) {
  ElementWalk w = walk_of(ctx, depth);
  if (desc_at(ctx, depth)[2] == kContCell && !w.done()) w.next();
  return w;
}

uint64_t* element_at(ElementWalk w, int64_t index) {
  for (int64_t i = 0; !w.done(); w.next(), ++i)
    if (i == index) return w.at;
  return nullptr;
}

// Size vector of a cell array (the first element).
uint32_t size_vector_words(int k) {
  return (typed_header_bytes(kSizeVectorNdims) + 4 * static_cast<uint32_t>(k) + 7) / 8;
}
uint32_t size_element_words(int k) { return kElemHeaderWords + size_vector_words(k); }

void write_size_element(uint64_t* e, const int32_t* sizes, int k) {
  uint32_t words = size_vector_words(k);
  elem_set_header(e, kKindPayload, words, kPayNumeric, 0);
  uint64_t* p = elem_data(e);
  std::memset(p, 0, static_cast<size_t>(words) * 8);
  set_hdr(p, kHdrType, kElemI32);
  set_hdr(p, kHdrNdims, kSizeVectorNdims);
  set_hdr(p, kHdrDims, 1);
  set_hdr(p, kHdrDims + 1, static_cast<uint32_t>(k));
  uint8_t* v = reinterpret_cast<uint8_t*>(p) + typed_header_bytes(kSizeVectorNdims);
  for (int i = 0; i < k; ++i) tn::st_i32(v + 4 * i, sizes[i]);
}

// Sizes held in a size element and their number k; null when the element is
// not a well-formed 1 x k int32 array (a damaged container).
uint32_t* size_vector(uint64_t* e, int* k) {
  uint64_t* p = elem_data(e);
  uint32_t n = hdr(p, kHdrDims + 1);
  if (elem_kind(e) != kKindPayload || elem_data_words(e) < size_vector_words(0) ||
      hdr(p, kHdrType) != kElemI32 || hdr(p, kHdrNdims) != kSizeVectorNdims || n > kMaxDims ||
      size_vector_words(static_cast<int>(n)) > elem_data_words(e))
    return nullptr;
  *k = static_cast<int>(n);
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(p) +
                                     typed_header_bytes(kSizeVectorNdims));
}

void drop_trailing_ones(int32_t* s, int* k) {
  while (*k > 2 && s[*k - 1] == 1) --*k;
}

// Target shape of a reshape holding `count` elements: without sizes count x 1
// (0 x 0 when empty); one size n means n x 1. Negative sizes or a product
// other than count give 21. With `zero_to_empty` any zero size gives 0 x 0,
// the rule of numeric arrays; cell arrays keep their zero sizes.
int target_shape(int ndims, const int32_t* dims, int64_t count, bool zero_to_empty,
                 int32_t* out, int* k) {
  if (ndims > kMaxDims) return kArgOutOfRange;
  if (!dims || ndims < 1) {
    out[0] = count == 0 ? 0 : static_cast<int32_t>(count);
    out[1] = count == 0 ? 0 : 1;
    *k = 2;
    return kOk;
  }
  *k = ndims < 2 ? 2 : ndims;
  out[1] = 1;
  int64_t product = 1;
  bool any_zero = false;
  for (int i = 0; i < ndims; ++i) {
    if (dims[i] < 0) return kBadSize;
    out[i] = dims[i];
    any_zero = any_zero || dims[i] == 0;
    product = tn::mul64(product, dims[i]);
  }
  if (product != count) return kBadSize;
  if (zero_to_empty && any_zero) {
    out[0] = out[1] = 0;
    *k = 2;
  }
  drop_trailing_ones(out, k);
  return kOk;
}

// Pushes a copy of an element as an item.
int push_element_copy(EngineContext* ctx, const uint64_t* e) {
  if (!desc_room(ctx)) return kStackOverflow;
  uint32_t w = elem_data_words(e);
  if (static_cast<int64_t>(w) > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* p = stk_claim(ctx, elem_word(e, 0), elem_word(e, 1), elem_word(e, 2), w);
  std::memcpy(p, e + kElemHeaderWords, static_cast<size_t>(w) * 8);
  return kOk;
}

// New size vector of a cell array after appending n cells: rows and columns
// grow, an empty array becomes a row; other shapes cannot grow by appending.
int appended_cell_sizes(EngineContext* ctx, int depth, int n, int32_t* rows, int32_t* cols) {
  ElementWalk w = walk_of(ctx, depth);
  if (w.done()) return kBadArgument;
  int k = 0;
  const uint32_t* s = size_vector(w.at, &k);
  if (!s) return kBadArgument;
  int64_t cells = count_elements(w) - 1;
  int64_t grown = cells + n;
  if (grown > INT32_MAX) return kBadSize;
  if (cells == 0 || (k == 2 && s[0] == 1)) {
    *rows = 1;
    *cols = static_cast<int32_t>(grown);
  } else if (k == 2 && s[1] == 1) {
    *rows = static_cast<int32_t>(grown);
    *cols = 1;
  } else {
    return kBadSize;
  }
  return kOk;
}

}  // namespace

int stk_make_container(EngineContext* ctx, int n, int append, const char* name,
                       int32_t name_length) {
  if (n < 0) return kBadArgument;
  int32_t sym = 0;
  if (name) TN_TRY(symtab_intern(ctx, name, name_length, kFieldNameLimit, &sym));
  uint32_t subtype = name ? kContStruct : kContList;
  if (n == 0) {
    if (append) return kOk;
    if (!desc_room(ctx)) return kStackOverflow;
    stk_claim(ctx, kKindContainer, 0, subtype, 0);
    return kOk;
  }
  if (static_cast<int64_t>(n) + (append ? 1 : 0) > stk_item_count(ctx)) return kBadArgument;
  int32_t cell_rows = 0, cell_cols = 0;
  bool to_cell = false;
  if (append) {
    const uint32_t* target = container_at(ctx, n);
    if (!target) return kBadArgument;
    if (target[2] == kContCell) {
      TN_TRY(appended_cell_sizes(ctx, n, n, &cell_rows, &cell_cols));
      to_cell = true;
    }
  }
  if (2 * static_cast<int64_t>(n) > data_free_words(ctx)) return kDataStackOverflow;

  // Each item's data move up by two words per item at or below it, top item
  // first so nothing is overwritten before it has moved.
  uint64_t* data = data_words(ctx);
  int32_t base = item_data_index(ctx, n - 1);
  int32_t end = ctx->data_top;
  for (int d = 0; d < n; ++d) {
    uint32_t w = desc_data_words(desc_at(ctx, d));
    int32_t start = end - static_cast<int32_t>(w);
    std::memmove(data + start + 2 * (n - d), data + start, static_cast<size_t>(w) * 8);
    end = start;
  }
  int32_t at = base;
  for (int d = n - 1; d >= 0; --d) {
    const uint32_t* desc = desc_at(ctx, d);
    elem_set_header(data + at, desc[0], desc[1], desc[2], sym);
    at += static_cast<int32_t>(kElemHeaderWords + desc_data_words(desc));
  }
  uint32_t added = static_cast<uint32_t>(at - base);
  ctx->desc_top -= 3 * n;
  ctx->data_top += 2 * n;

  if (append) {
    uint32_t* target = desc_at(ctx, 0);
    target[1] += added;
    if (to_cell) {
      int k = 0;
      uint32_t* s = size_vector(item_data(ctx, 0), &k);
      s[0] = static_cast<uint32_t>(cell_rows);
      s[1] = static_cast<uint32_t>(cell_cols);
    }
    return kOk;
  }
  // The n descriptors just popped leave room for the container's.
  uint32_t* desc = desc_words(ctx) + ctx->desc_top;
  desc[0] = kKindContainer;
  desc[1] = added;
  desc[2] = subtype;
  ctx->desc_top += 3;
  return kOk;
}

int stk_push_cell_array(EngineContext* ctx, int ndims, const int32_t* dims) {
  if (ndims > kMaxDims) return kArgOutOfRange;
  int32_t sizes[kMaxDims] = {0, 0};
  int k = 2;
  if (dims && ndims == 1) {
    sizes[0] = sizes[1] = dims[0] < 0 ? 0 : dims[0];
  } else if (dims && ndims > 1) {
    k = ndims;
    for (int i = 0; i < ndims; ++i) sizes[i] = dims[i] < 0 ? 0 : dims[i];
    drop_trailing_ones(sizes, &k);
  }
  int64_t cells = 1;
  for (int i = 0; i < k; ++i) cells = tn::mul64(cells, sizes[i]);
  // Each cell is an empty matrix: a bare element header.
  int64_t words = cells > INT32_MAX ? INT64_MAX : cells * kElemHeaderWords + size_element_words(k);
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;

  uint64_t* p = stk_claim(ctx, kKindContainer, static_cast<uint32_t>(words), kContCell,
                          static_cast<uint32_t>(words));
  write_size_element(p, sizes, k);
  p += size_element_words(k);
  for (int64_t i = 0; i < cells; ++i, p += kElemHeaderWords)
    elem_set_header(p, kKindReal, 0, 0, 0);
  return kOk;
}

int stk_get_container(EngineContext* ctx, int depth, int32_t* count, uint64_t** first) {
  if (!container_at(ctx, depth)) return kWrongType;
  ElementWalk w = walk_of(ctx, depth);
  if (count) *count = count_elements(w);
  if (first) *first = w.at;
  return kOk;
}

int stk_is_list(EngineContext* ctx, int depth) {
  const uint32_t* d = container_at(ctx, depth);
  return d && (d[2] == kContList || d[2] == kContCell);
}

int stk_is_struct(EngineContext* ctx, int depth) {
  const uint32_t* d = container_at(ctx, depth);
  return d && d[2] == kContStruct;
}

int stk_is_object(EngineContext* ctx, int depth) {
  const uint32_t* d = container_at(ctx, depth);
  return d && d[2] != kContList && d[2] != kContStruct && d[2] != kContCell;
}

int stk_get_container_dims(EngineContext* ctx, int depth, int* ndims, const uint32_t** dims,
                           int32_t* count, uint64_t** first) {
  static const uint32_t kNoSizes[2] = {0, 0};
  const uint32_t* d = container_at(ctx, depth);
  if (!d || (d[2] != kContList && d[2] != kContCell)) return kWrongType;
  ElementWalk w = walk_of(ctx, depth);
  if (d[2] == kContList) {
    if (ndims) *ndims = 1;
    if (dims) *dims = nullptr;
  } else {
    int k = 2;
    const uint32_t* s = w.done() ? nullptr : size_vector(w.at, &k);
    if (ndims) *ndims = s ? k : 2;
    if (dims) *dims = s ? s : kNoSizes;  // damaged: nothing to describe but emptiness
    if (!w.done()) w.next();
  }
  if (count) *count = count_elements(w);
  if (first) *first = w.at;
  return kOk;
}

int stk_list_get(EngineContext* ctx, int depth, int32_t index) {
  const uint32_t* d = container_at(ctx, depth);
  if (!d || (d[2] != kContList && d[2] != kContCell)) return kWrongType;
  if (index < 1) return kIndexOutOfRange;
  const uint64_t* e = element_at(entry_walk(ctx, depth), index - 1);
  if (!e) return kIndexOutOfRange;
  return push_element_copy(ctx, e);
}

int stk_struct_get_field(EngineContext* ctx, int depth, const char* name, int32_t length) {
  const uint32_t* d = container_at(ctx, depth);
  if (!d || d[2] != kContStruct) return kWrongType;
  int32_t sym = symtab_find(ctx, name, length);
  if (sym == 0) return kUndefinedField;
  for (ElementWalk w = walk_of(ctx, depth); !w.done(); w.next())
    if (elem_name(w.at) == sym) return push_element_copy(ctx, w.at);
  return kUndefinedField;
}

int stk_container_field_at(EngineContext* ctx, int depth, int32_t k, const char** name,
                           int32_t* length) {
  const uint32_t* d = container_at(ctx, depth);
  if (!d || d[2] == kContList || d[2] == kContCell) return kWrongType;
  if (k < 1) return kIndexOutOfRange;
  const uint64_t* e = element_at(walk_of(ctx, depth), k - 1);
  if (!e) return kIndexOutOfRange;
  const char* text = nullptr;
  int32_t len = 0;
  if (elem_name(e) != 0) {
    text = symtab_name(ctx, elem_name(e), &len);
    if (!text) len = 0;
  }
  if (name) *name = text;
  if (length) *length = len;
  return kOk;
}

int stk_expand_list(EngineContext* ctx, int32_t* count) {
  if (!container_at(ctx, 0)) return kWrongType;
  ElementWalk w = entry_walk(ctx, 0);
  int32_t m = count_elements(w);
  if (m > 0 && static_cast<int64_t>(ctx->desc_top) - 3 + 3 * static_cast<int64_t>(m) >=
                   static_cast<int64_t>(ctx->desc_capacity))
    return kStackOverflow;

  // Elements only move down, each to where the previous one's data ended, so
  // an element's data never overrun the next element's header before it is read.
  // An element's own header may be overwritten by its data, so the walk
  // steps on before the data move.
  uint64_t* write = item_data(ctx, 0);
  ctx->desc_top -= 3;
  for (int32_t i = 0; i < m; ++i) {
    uint64_t* e = w.at;
    w.next();
    uint32_t* desc = desc_words(ctx) + ctx->desc_top;
    desc[0] = elem_word(e, 0);
    desc[1] = elem_word(e, 1);
    desc[2] = elem_word(e, 2);
    ctx->desc_top += 3;
    uint32_t dw = desc_data_words(desc);
    std::memmove(write, e + kElemHeaderWords, static_cast<size_t>(dw) * 8);
    write += dw;
  }
  ctx->data_top = static_cast<int32_t>(write - data_words(ctx));
  if (count) *count = m;
  return kOk;
}

int stk_reshape(EngineContext* ctx, int ndims, const int32_t* dims) {
  if (!depth_ok(ctx, 0)) return kBadArgument;
  uint32_t* d = desc_at(ctx, 0);
  if (d[0] == kKindContainer) return stk_reshape_container(ctx, ndims, dims);
  int32_t shape[kMaxDims];
  int k = 0;
  uint64_t* p = item_data(ctx, 0);

  if (d[0] == kKindReal || d[0] == kKindComplex) {
    int64_t count = static_cast<int64_t>(d[1]) * d[2];
    TN_TRY(target_shape(ndims, dims, count, true, shape, &k));
    if (k <= 2) {
      d[1] = static_cast<uint32_t>(shape[0]);
      d[2] = static_cast<uint32_t>(shape[1]);
      return kOk;
    }
    // More than two dimensions: the matrix becomes a double typed array.
    uint32_t hw = typed_header_bytes(static_cast<uint32_t>(k)) / 8;
    if (static_cast<int64_t>(hw) > data_free_words(ctx)) return kDataStackOverflow;
    uint32_t w = desc_data_words(d);
    uint32_t type = d[0] == kKindComplex ? kElemDoubleComplex : kElemDouble;
    std::memmove(p + hw, p, static_cast<size_t>(w) * 8);
    std::memset(p, 0, static_cast<size_t>(hw) * 8);
    set_hdr(p, kHdrType, type);
    set_hdr(p, kHdrNdims, static_cast<uint32_t>(k));
    for (int i = 0; i < k; ++i) set_hdr(p, kHdrDims + i, static_cast<uint32_t>(shape[i]));
    d[0] = kKindPayload;
    d[1] = w + hw;
    d[2] = kPayNumeric;
    ctx->data_top += static_cast<int32_t>(hw);
    return kOk;
  }

  if (d[0] != kKindPayload || !is_typed_subtype(d[2])) return kWrongType;
  uint32_t type = hdr(p, kHdrType);
  uint32_t old_nd = hdr(p, kHdrNdims);
  uint32_t esize = elem_size(type);
  if (esize == 0 || old_nd < 2 || old_nd > kMaxDims) return kWrongType;
  int64_t count = 1;
  for (uint32_t i = 0; i < old_nd; ++i) count = tn::mul64(count, hdr(p, kHdrDims + i));
  TN_TRY(target_shape(ndims, dims, count, true, shape, &k));
  bool complex = type == kElemDoubleComplex || type == kElemSingleComplex;
  int64_t ebytes = tn::mul64(count, esize * (complex ? 2 : 1));
  uint32_t old_hb = typed_header_bytes(old_nd);
  if (old_hb + ebytes > static_cast<int64_t>(d[1]) * 8) return kWrongType;  // damaged header
  uint32_t new_hb = typed_header_bytes(static_cast<uint32_t>(k));
  int64_t new_words = (new_hb + ebytes + 7) / 8;
  int64_t grow = new_words - d[1];
  if (grow > data_free_words(ctx)) return kDataStackOverflow;

  uint8_t* bytes = reinterpret_cast<uint8_t*>(p);
  std::memmove(bytes + new_hb, bytes + old_hb, static_cast<size_t>(ebytes));
  std::memset(bytes, 0, new_hb);
  std::memset(bytes + new_hb + ebytes, 0, static_cast<size_t>(new_words * 8 - new_hb - ebytes));
  set_hdr(p, kHdrType, type);
  set_hdr(p, kHdrNdims, static_cast<uint32_t>(k));
  for (int i = 0; i < k; ++i) set_hdr(p, kHdrDims + i, static_cast<uint32_t>(shape[i]));
  d[1] = static_cast<uint32_t>(new_words);
  ctx->data_top += static_cast<int32_t>(grow);
  return kOk;
}

int stk_reshape_container(EngineContext* ctx, int ndims, const int32_t* dims) {
  uint32_t* d = container_at(ctx, 0);
  if (!d || (d[2] != kContList && d[2] != kContCell)) return kWrongType;
  ElementWalk cells = entry_walk(ctx, 0);
  uint64_t* start = item_data(ctx, 0);
  int32_t shape[kMaxDims];
  int k = 0;
  TN_TRY(target_shape(ndims, dims, count_elements(cells), false, shape, &k));
  int64_t old_words = cells.at - start;  // 0 for a list
  int64_t new_words = size_element_words(k);
  int64_t grow = new_words - old_words;
  if (grow > data_free_words(ctx)) return kDataStackOverflow;

  uint64_t* end = data_words(ctx) + ctx->data_top;
  std::memmove(start + new_words, cells.at, static_cast<size_t>(end - cells.at) * 8);
  write_size_element(start, shape, k);
  d[1] = static_cast<uint32_t>(d[1] + grow);
  d[2] = kContCell;
  ctx->data_top += static_cast<int32_t>(grow);
  return kOk;
}

namespace {

// Transposes `parts` consecutive rows x cols pages of esize-byte elements
// through scratch space above the data top.
void transpose_pages(uint8_t* src, uint8_t* scratch, int64_t rows, int64_t cols, int parts,
                     uint32_t esize) {
  int64_t page = rows * cols * esize;
  for (int part = 0; part < parts; ++part) copy_transposed(src + part * page, scratch + part * page, rows, cols, esize);
  std::memcpy(src, scratch, static_cast<size_t>(page * parts));
}

}  // namespace

int stk_transpose(EngineContext* ctx) {
  if (!depth_ok(ctx, 0)) return kBadArgument;
  uint32_t* d = desc_at(ctx, 0);
  uint64_t* p = item_data(ctx, 0);
  uint8_t* scratch = reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_top);

  if (d[0] == kKindReal || d[0] == kKindComplex) {
    uint32_t rows = d[1], cols = d[2];
    if (rows > 1 && cols > 1) {
      uint32_t w = desc_data_words(d);
      if (static_cast<int64_t>(w) > data_free_words(ctx)) return kDataStackOverflow;
      transpose_pages(reinterpret_cast<uint8_t*>(p), scratch, rows, cols,
                      d[0] == kKindComplex ? 2 : 1, sizeof(double));
    }
    d[1] = cols;
    d[2] = rows;
    return kOk;
  }

  if (d[0] != kKindPayload || !is_typed_subtype(d[2])) return kWrongType;
  uint32_t type = hdr(p, kHdrType);
  uint32_t esize = elem_size(type);
  if (esize == 0) return kWrongType;
  if (hdr(p, kHdrNdims) != 2) return kNonMatrixArray;
  uint32_t rows = hdr(p, kHdrDims), cols = hdr(p, kHdrDims + 1);
  if (rows > 1 && cols > 1) {
    int parts = (type == kElemDoubleComplex || type == kElemSingleComplex) ? 2 : 1;
    int64_t bytes = static_cast<int64_t>(rows) * cols * esize * parts;
    if (typed_header_bytes(2) + bytes > static_cast<int64_t>(d[1]) * 8) return kWrongType;
    if ((bytes + 7) / 8 > data_free_words(ctx)) return kDataStackOverflow;
    transpose_pages(reinterpret_cast<uint8_t*>(p) + typed_header_bytes(2), scratch, rows, cols,
                    parts, esize);
  }
  set_hdr(p, kHdrDims, cols);
  set_hdr(p, kHdrDims + 1, rows);
  return kOk;
}

int stk_get_raw(EngineContext* ctx, int depth, uint32_t* subtype, uint32_t* byte_length,
                void** data) {
  if (!depth_ok(ctx, depth)) return kWrongType;
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindPayload) return kWrongType;
  if (subtype) *subtype = d[2];
  if (byte_length) *byte_length = d[1] * 8;
  if (data) *data = item_data(ctx, depth);
  return kOk;
}

int stk_push_object(EngineContext* ctx, uint32_t byte_length, void** data) {
  return stk_push_raw(ctx, static_cast<uint32_t>(ctx->class_id), byte_length, data);
}

int stk_get_object(EngineContext* ctx, int depth, uint32_t* byte_length, void** data) {
  uint32_t subtype = 0;
  void* p = nullptr;
  uint32_t len = 0;
  TN_TRY(stk_get_raw(ctx, depth, &subtype, &len, &p));
  if (subtype != static_cast<uint32_t>(ctx->class_id)) return kWrongType;
  if (byte_length) *byte_length = len;
  if (data) *data = p;
  return kOk;
}
