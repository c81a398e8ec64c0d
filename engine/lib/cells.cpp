// num2cell and num2list: an array split into the entries of a cell array or
// a list, each entry a sub-array of the array's own class. Entries are written
// in one pass into a container claimed above the arguments, whose size is
// known before anything is written.
#include <cmath>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/container_access.h"
#include "engine/lib/container_builtins.h"
#include "engine/lib/operands.h"

namespace {

// The array being split, as raw elements.
struct Source {
  NumKind kind;
  bool cplx;
  uint32_t subtype;  // typed payload subtype (numeric, char, logical)
  uint32_t type;     // element type
  uint32_t esize;
  int ndims;
  int64_t dims[kMaxDims];
  int64_t count;
  const uint8_t* re;
  const uint8_t* im;
};

// The array argument at depth: kWrongArgType for anything but a numeric, char or
// logical array, kArgOutOfRange beyond 16 dimensions.
int source_of(EngineContext* ctx, int depth, Source* s) {
  const NumOperand o = num_operand(ctx, depth);
  if (o.kind == NumKind::kNone) return kWrongArgType;
  if (o.ndims > kMaxDims) return kArgOutOfRange;
  s->kind = o.kind;
  s->cplx = o.cplx;
  s->subtype = o.plain ? kPayNumeric : desc_at(ctx, depth)[2];
  s->type = o.type;
  s->esize = o.kind == NumKind::kDouble ? 8 : o.kind == NumKind::kSingle ? 4 : (o.type & 127);
  s->ndims = o.ndims;
  for (int i = 0; i < o.ndims; ++i) s->dims[i] = o.dims[i];
  s->count = o.count;
  s->re = static_cast<const uint8_t*>(o.re);
  s->im = static_cast<const uint8_t*>(o.im);
  return kOk;
}

// Trailing sizes of 1 dropped, never below two dimensions.
int canonical_ndims(const int64_t* d, int n) {
  while (n > 2 && d[n - 1] == 1) --n;
  return n;
}

int64_t product(const int64_t* d, int n) {
  int64_t p = 1;
  for (int i = 0; i < n; ++i) p *= d[i];
  return p;
}

// Storage order: the column subscript varies fastest, then the row, then the
// page subscripts from the third on.
int64_t linear_index(const int64_t* sub, const int64_t* dims, int n) {
  int64_t page = 0;
  for (int i = n - 1; i >= 2; --i) page = page * dims[i] + sub[i];
  return (page * dims[0] + sub[0]) * dims[1] + sub[1];
}

void odometer_next(int64_t* sub, const int64_t* dims, int n) {
  static constexpr int kOrder[kMaxDims] = {1, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int k = 0; k < n; ++k) {
    const int i = kOrder[k];
    if (++sub[i] < dims[i]) return;
    sub[i] = 0;
  }
}

// How one entry (a sub-array of `shape`) is stored.
struct EntryForm {
  uint32_t kind, a, b;  // the element header's descriptor words
  uint32_t words;       // data words
  uint32_t header_bytes;  // typed-array header, 0 for a plain matrix
  int ndims;            // canonical
};

EntryForm entry_form(const Source& s, const int64_t* shape, int n) {
  EntryForm f{};
  f.ndims = canonical_ndims(shape, n);
  const int64_t count = product(shape, n);
  const int parts = s.cplx ? 2 : 1;
  if (s.kind == NumKind::kDouble && f.ndims == 2) {
    f.kind = s.cplx ? kKindComplex : kKindReal;
    f.a = static_cast<uint32_t>(shape[0]);
    f.b = static_cast<uint32_t>(shape[1]);
    f.words = static_cast<uint32_t>(count * parts);
    return f;
  }
  f.header_bytes = typed_header_bytes(static_cast<uint32_t>(f.ndims));
  f.words = static_cast<uint32_t>((f.header_bytes + count * s.esize * parts + 7) / 8);
  f.kind = kKindPayload;
  f.a = f.words;
  f.b = s.subtype;
  return f;
}

// Size vector element of a cell array of k dimensions.
uint32_t size_vector_words(int k) { return (typed_header_bytes(2) + 4 * static_cast<uint32_t>(k) + 7) / 8; }

uint64_t* write_size_vector(uint64_t* at, const int64_t* sizes, int k) {
  const uint32_t words = size_vector_words(k);
  elem_set_header(at, kKindPayload, words, kPayNumeric, 0);
  auto* p = reinterpret_cast<uint8_t*>(at + kElemHeaderWords);
  std::memset(p, 0, size_t{words} * 8);
  tn::st_u32(p, kElemI32);
  tn::st_u32(p + 4, 2);
  tn::st_u32(p + 8, 1);
  tn::st_u32(p + 12, static_cast<uint32_t>(k));
  for (int i = 0; i < k; ++i) tn::st_i32(p + typed_header_bytes(2) + 4 * i, static_cast<int32_t>(sizes[i]));
  return at + kElemHeaderWords + words;
}

// Pushes the split of s: entries are the sub-arrays spanning the dimensions
// marked in `spans` (the other subscripts fixed per entry), taken in the
// storage order of the remaining dimensions. A cell array has the shape of
// those remaining dimensions; a list is a plain run of the entries.
int push_split(EngineContext* ctx, const Source& s, const bool* spans, bool as_cell) {
  const int n = s.ndims;
  int64_t outer[kMaxDims], inner[kMaxDims];
  for (int i = 0; i < n; ++i) {
    outer[i] = spans[i] ? 1 : s.dims[i];
    inner[i] = spans[i] ? s.dims[i] : 1;
  }
  const int64_t entries = product(outer, n);
  const int64_t per_entry = product(inner, n);
  const EntryForm f = entry_form(s, inner, n);
  const int cell_k = canonical_ndims(outer, n);
  const int64_t words = tn::mul64(entries, int64_t{kElemHeaderWords} + f.words) +
                        (as_cell ? kElemHeaderWords + size_vector_words(cell_k) : 0);
  uint64_t* at = nullptr;
  TN_TRY(clib::claim_container(ctx, words, as_cell ? kContCell : kContList, &at));
  if (as_cell) at = write_size_vector(at, outer, cell_k);

  const int parts = s.cplx ? 2 : 1;
  int64_t osub[kMaxDims] = {}, isub[kMaxDims] = {}, sub[kMaxDims];
  for (int64_t e = 0; e < entries; ++e, odometer_next(osub, outer, n)) {
    elem_set_header(at, f.kind, f.a, f.b, 0);
    auto* p = reinterpret_cast<uint8_t*>(at + kElemHeaderWords);
    std::memset(p, 0, size_t{f.words} * 8);
    if (f.header_bytes) {
      tn::st_u32(p, s.type);
      tn::st_u32(p + 4, static_cast<uint32_t>(f.ndims));
      for (int i = 0; i < f.ndims; ++i) tn::st_u32(p + 8 + 4 * i, static_cast<uint32_t>(inner[i]));
    }
    uint8_t* out = p + f.header_bytes;
    std::memset(isub, 0, sizeof isub);
    for (int64_t j = 0; j < per_entry; ++j, odometer_next(isub, inner, n)) {
      for (int i = 0; i < n; ++i) sub[i] = spans[i] ? isub[i] : osub[i];
      const int64_t from = linear_index(sub, s.dims, n);
      std::memcpy(out + j * s.esize, s.re + from * s.esize, s.esize);
      if (parts == 2) std::memcpy(out + (per_entry + j) * s.esize, s.im + from * s.esize, s.esize);
    }
    at += kElemHeaderWords + f.words;
  }
  return kOk;
}

int push_empty_list(EngineContext* ctx) { return stk_make_container(ctx, 0, 0, nullptr, 0); }

// Reports a getter's kWrongType as the argument error kWrongArgType.
int arg_error(int status) { return status == kWrongType ? kWrongArgType : status; }

}  // namespace

int bi_num2cell(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 2 || !stk_has_item(ctx, nargin - 1)) return kBadArgument;
  Source s;
  TN_TRY(source_of(ctx, nargin - 1, &s));
  bool spans[kMaxDims] = {};
  if (nargin == 2) {
    const NumOperand d = num_operand(ctx, 0);
    if (d.kind != NumKind::kDouble || d.cplx) return kWrongArgType;
    const auto* v = static_cast<const double*>(d.re);
    for (int64_t i = 0; i < d.count; ++i) {
      if (!(v[i] >= 1) || std::floor(v[i]) != v[i]) return kBadDimension;
      if (v[i] <= s.ndims) spans[static_cast<int>(v[i]) - 1] = true;
    }
  }
  if (s.count == 0) {
    TN_TRY(push_empty_list(ctx));
  } else {
    TN_TRY(push_split(ctx, s, spans, true));
  }
  return stk_remove(ctx, 1, nargin);
}

int bi_num2list(EngineContext* ctx, int nargin) {
  if (nargin < 1 || nargin > 2 || !stk_has_item(ctx, nargin - 1)) return kBadArgument;
  Source s;
  TN_TRY(source_of(ctx, nargin - 1, &s));
  bool spans[kMaxDims] = {};
  if (nargin == 2) {
    int32_t dim = 0;
    TN_TRY(arg_error(stk_get_int(ctx, 0, &dim)));
    if (dim < 1) return kBadDimension;
    // Each entry is a slice: every dimension but dim spans it.
    for (int i = 0; i < s.ndims; ++i) spans[i] = i != dim - 1;
  }
  if (s.count == 0) {
    TN_TRY(push_empty_list(ctx));
  } else {
    TN_TRY(push_split(ctx, s, spans, false));
  }
  return stk_remove(ctx, 1, nargin);
}
