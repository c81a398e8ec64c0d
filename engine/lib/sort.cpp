// The sort intrinsic and what the set functions share with it: comparison
// functions per element class, string elements of lists and cells, result
// pushers. sort copies its argument above the arguments and sorts the copy's
// lines in place, so the arguments stay untouched until the final removal.
#include "engine/lib/sort.h"

#include <cstring>
#include <limits>
#include <type_traits>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/indexing.h"
#include "engine/core/local_queries.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "numlib/sort_kernels.h"

namespace {

const SortCmpRec& rec_of(void* rec) { return *static_cast<const SortCmpRec*>(rec); }

template <typename T>
int32_t cmp_ints(int32_t i, int32_t j, void* rec) {
  const SortCmpRec& r = rec_of(rec);
  const auto* p = static_cast<const uint8_t*>(r.data);
  const int64_t step = int64_t{r.stride} * int64_t{sizeof(T)};
  const T a = tn::load<T>(p + i * step);
  const T b = tn::load<T>(p + j * step);
  return a < b ? -1 : a > b ? 1 : 0;
}

double single_key(const SortCmpRec& r, int32_t k) {
  const int64_t at = int64_t{k} * r.stride * 4;
  const double re = tn::load<float>(static_cast<const uint8_t*>(r.data) + at);
  if (!r.imag) return re;
  const double im = tn::load<float>(static_cast<const uint8_t*>(r.imag) + at);
  return re * re + im * im;
}

// The key of a real single or an integer of up to 32 bits, exact as a double.
double pair_key(const NumOperand& y, const uint8_t* p) {
  if (y.kind == NumKind::kSingle) return tn::load<float>(p);
  return static_cast<double>(load_int_element(p, 0, y.type));
}

// 'a...' or empty: ascending; 'd...': descending; anything else kUnknownOption.
int read_direction(EngineContext* ctx, int depth, uint8_t* descending) {
  TypedView t;
  if (!typed_view(ctx, depth, &t)) return kWrongArgType;
  if (t.count == 0) {
    *descending = 0;
    return kOk;
  }
  const uint16_t first = tn::load<uint16_t>(t.elems);
  if (first != u'a' && first != u'd') return kUnknownOption;
  *descending = first == u'd' ? 1 : 0;
  return kOk;
}

int sort_list(EngineContext* ctx, int nargin, int nout, uint8_t descending) {
  const int depth = nargin - 1;
  const int32_t n = list_or_cell_count(ctx, depth);
  const StackMark mark = stack_mark(ctx);
  void* scratch;
  TN_TRY(push_scratch(ctx, kStringElemWords * n + (int64_t{n} + 1) / 2, &scratch));
  auto* elems = static_cast<StringElem*>(scratch);
  auto* perm = reinterpret_cast<int32_t*>(static_cast<uint64_t*>(scratch) + kStringElemWords * n);
  int st = list_string_elems(ctx, depth + 1, elems, n);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  sort_index(n, sort_cmp_string, perm, elems, descending);
  if (nout == 2) {
    double* index;
    st = push_index_row(ctx, n, &index);
    if (st != kOk) return fail_to_mark(ctx, mark, st);
    for (int32_t k = 0; k < n; ++k) index[k] = perm[k] + 1.0;
  }
  st = push_list_of(ctx, elems, perm, n);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  return stk_remove(ctx, nout, nargin + 1);
}

// Sorts every line of the top item y (a copy of the argument), carrying the
// index array when given: the positions 1, 2, ... along each line for
// doubles; for the other classes, lines of two or more elements get their
// positions written whatever the index held. Scratch space lies past the data top; nothing is
// pushed while it is in use.
int sort_lines(EngineContext* ctx, const NumOperand& y, const DimSplit& g, double* index,
               uint8_t descending) {
  if (g.length < 2 || y.count == 0) return kOk;
  const auto L = static_cast<int32_t>(g.length);
  const auto S = static_cast<int32_t>(g.stride);
  const int64_t lines = g.outer * g.stride;
  auto line_base = [&](int64_t line) {
    const int64_t o = line / g.stride, s = line % g.stride;
    return o * g.length * g.stride + s;
  };

  if (y.kind == NumKind::kDouble && !y.cplx) {
    // The fast sorts need a line's room (two for the index) past the data
    // top, and half as much again to merge the runs of an ordered line;
    // without the first the Shell sorts work in place, without the second
    // the general sorts (a contiguous line with the index merges in the
    // first).
    const int64_t line_words = index ? 2 * g.length : S != 1 ? g.length : 0;
    const int64_t merge_words = index ? g.length + 1 : (g.length + 1) / 2;
    void* scratch = nullptr;
    void* merge = nullptr;
    if (stk_reserve_top(ctx, line_words + merge_words, &scratch) == kOk)
      merge = static_cast<uint64_t*>(scratch) + line_words;
    else if (line_words == 0 || stk_reserve_top(ctx, line_words, &scratch) != kOk)
      scratch = nullptr;
    if (line_words == 0) scratch = nullptr;
    auto* re = static_cast<double*>(y.re);
    for (int64_t line = 0; line < lines; ++line) {
      const int64_t b = line_base(line);
      if (index)
        sort_real_pair(re + b, index + b, L, S, descending, static_cast<SortPair*>(scratch),
                       static_cast<SortPair*>(merge), true);
      else
        sort_real(re + b, L, S, descending, static_cast<double*>(scratch),
                  static_cast<double*>(merge));
    }
    return kOk;
  }
  if (y.kind == NumKind::kDouble) {
    void* scratch;
    TN_TRY(stk_reserve_top(ctx, g.length, &scratch));
    auto* keys = static_cast<double*>(scratch);
    auto* re = static_cast<double*>(y.re);
    auto* im = static_cast<double*>(y.im);
    for (int64_t line = 0; line < lines; ++line) {
      const int64_t b = line_base(line);
      for (int64_t k = 0; k < g.length; ++k) {
        const double r = re[b + k * S], i = im[b + k * S];
        keys[k] = r * r + i * i;
      }
      shellsort_real_multi(keys, re + b, im + b, index ? index + b : nullptr, L, S, descending);
    }
    return kOk;
  }

  // Singles and integers: a permutation of the line sorted through the
  // class's comparison, then the line rearranged through a copy.
  const SortCmpFn cmp = y.kind == NumKind::kSingle ? sort_cmp_single : sort_cmp_for_type(y.type);
  if (!cmp) return kWrongArgType;
  const uint32_t es = num_elem_bytes(y);
  // Contiguous real lines first go through the sorts of their own type
  // (counted or merged, stable either way), in the free space; from the
  // first line they refuse (untouched) on, the permutation sorts below.
  int64_t first = 0;
  if (!y.cplx && S == 1) {
    int64_t free_bytes = 0;
    void* room = nullptr;
    stk_free_space(ctx, &free_bytes, &room);
    if (free_bytes >= typed_sort_room_bytes(g.length, es, index != nullptr)) {
      auto* re = static_cast<uint8_t*>(y.re);
      while (first < lines && sort_line_of_type(y, re + line_base(first) * es,
                                                index ? index + line_base(first) : nullptr, g.length,
                                                descending, room, free_bytes))
        ++first;
      if (first == lines) return kOk;
    }
  }
  const int64_t perm_words = (g.length * 4 + 7) / 8;
  const int64_t copy_words = (g.length * es + 7) / 8;
  const int64_t plain_words = perm_words + copy_words * (y.cplx ? 2 : 1);
  // Real values whose doubles keep their order (single, integers of up to
  // 32 bits) are sorted as (value, position) pairs where there is room for
  // them too: the same permutation, much faster than through cmp.
  const bool as_pairs = !y.cplx && (y.kind == NumKind::kSingle || es <= 4);
  // Past them, where there is room, the merge room of an ordered line: half
  // the pairs, or half the positions for the permutation sort.
  void* scratch;
  SortPair* pairs = nullptr;
  SortPair* pair_merge = nullptr;
  int32_t* perm_merge = nullptr;
  if (as_pairs && stk_reserve_top(ctx, plain_words + 3 * g.length + 1, &scratch) == kOk) {
    pairs = reinterpret_cast<SortPair*>(static_cast<uint64_t*>(scratch) + plain_words);
    pair_merge = pairs + g.length;
  } else if (as_pairs && stk_reserve_top(ctx, plain_words + 2 * g.length, &scratch) == kOk) {
    pairs = reinterpret_cast<SortPair*>(static_cast<uint64_t*>(scratch) + plain_words);
  } else if (!as_pairs && stk_reserve_top(ctx, plain_words + perm_words / 2 + 1, &scratch) == kOk) {
    perm_merge = reinterpret_cast<int32_t*>(static_cast<uint64_t*>(scratch) + plain_words);
  } else {
    TN_TRY(stk_reserve_top(ctx, plain_words, &scratch));
  }
  auto* perm = static_cast<int32_t*>(scratch);
  auto* copy = reinterpret_cast<uint8_t*>(static_cast<uint64_t*>(scratch) + perm_words);
  auto* re = static_cast<uint8_t*>(y.re);
  auto* im = static_cast<uint8_t*>(y.im);
  auto rearrange = [&](uint8_t* part, int64_t b) {
    for (int64_t k = 0; k < g.length; ++k) std::memcpy(copy + k * es, part + (b + k * S) * es, es);
    for (int64_t k = 0; k < g.length; ++k)
      std::memcpy(part + (b + k * S) * es, copy + int64_t{perm[k]} * es, es);
  };
  for (int64_t line = first; line < lines; ++line) {
    const int64_t b = line_base(line);
    SortCmpRec rec{re + b * es, im ? im + b * es : nullptr, descending, S};
    if (pairs) {
      for (int32_t k = 0; k < L; ++k) pairs[k] = SortPair{pair_key(y, re + (b + int64_t{k} * S) * es), double(k)};
      sort_pairs(pairs, L, descending, pair_merge);
      for (int32_t k = 0; k < L; ++k) perm[k] = static_cast<int32_t>(pairs[k].comp);
    } else {
      sort_index(L, cmp, perm, &rec, descending, perm_merge);
    }
    rearrange(re, b);
    if (im) rearrange(im, b);
    if (index)
      for (int64_t k = 0; k < g.length; ++k) index[b + k * S] = perm[k] + 1.0;
  }
  return kOk;
}

// 1, 2, ... along every line.
void fill_index(const DimSplit& g, double* index) {
  if (g.stride == 1) {
    // Contiguous lines; counted in 32 bits (sort_numeric takes no more
    // elements), which convert to doubles a vector at a time.
    const auto n = static_cast<int32_t>(g.length);
    for (int64_t line = 0; line < g.outer; ++line, index += n)
      for (int32_t k = 0; k < n; ++k) index[k] = static_cast<double>(k + 1);
    return;
  }
  for (int64_t line = 0; line < g.outer * g.stride; ++line) {
    const int64_t b = (line / g.stride) * g.length * g.stride + line % g.stride;
    for (int64_t k = 0; k < g.length; ++k) index[b + k * g.stride] = double(k + 1);
  }
}

int sort_numeric(EngineContext* ctx, int nargin, int nout, int dim, uint8_t descending) {
  const int depth = nargin - 1;
  const NumOperand x = num_operand(ctx, depth);
  if (x.kind == NumKind::kNone) return kWrongArgType;
  if (x.count > std::numeric_limits<int32_t>::max()) return kObjectTooLarge;
  DimSplit g;
  shape_split_at_dim(x.ndims, x.dims, &dim, &g);
  // Real values alone are sorted where they lie (the stack's own copy of
  // the argument) once the arguments above them are gone: no copy to make
  // and none to move down. Nothing from here on can fail: doubles need no
  // room, and the other classes' room (a permutation and a copy of a line)
  // is there already.
  int64_t free_bytes = 0;
  stk_free_space(ctx, &free_bytes, nullptr);
  const int64_t line_room = 8 * ((g.length * 4 + 7) / 8 + (g.length * num_elem_bytes(x) + 7) / 8);
  if (nout == 1 && !x.cplx && (x.kind == NumKind::kDouble || free_bytes >= line_room)) {
    TN_TRY(stk_remove(ctx, 0, nargin - 1));
    return sort_lines(ctx, num_operand(ctx, 0), g, nullptr, descending);
  }
  if (nout == 2 && x.plain && x.kind == NumKind::kDouble && !x.cplx) {
    // The copy is the sorted array and the argument's own copy, the same
    // shape and class, becomes the index below it: the two outputs lie in
    // place and only the other arguments' room is closed up. Nothing from
    // the copy on can fail.
    TN_TRY(stk_dup(ctx, depth, 1));
    auto* index = static_cast<double*>(num_operand(ctx, depth + 1).re);
    fill_index(g, index);
    TN_TRY(sort_lines(ctx, num_operand(ctx, 0), g, index, descending));
    return stk_remove(ctx, 1, nargin - 1);  // between the two outputs
  }
  constexpr int kMostDims = 64;
  if (nout == 2 && !x.cplx && x.kind != NumKind::kDouble && x.ndims <= kMostDims &&
      free_bytes >= 8 * x.count + 512 + line_room) {
    // Singles and integers: once the arguments above it are gone, the
    // argument's own copy moves up to make room for the index under it and
    // is sorted there, where it ends; no result is moved down over the
    // arguments. Nothing from the push on can fail: the room for both and
    // for the sort of a line is there.
    int32_t dims[kMostDims];
    for (int d = 0; d < x.ndims; ++d) dims[d] = static_cast<int32_t>(x.dims[d]);
    TN_TRY(stk_remove(ctx, 0, nargin - 1));
    double* index;
    TN_TRY(stk_push_double_under_top(ctx, x.ndims, dims, &index));
    if (g.length < 2) fill_index(g, index);  // longer lines' sorts write their positions
    return sort_lines(ctx, num_operand(ctx, 0), g, index, descending);
  }
  const StackMark mark = stack_mark(ctx);
  double* index = nullptr;
  if (nout == 2) {
    TN_TRY(stk_push_double_nd(ctx, x.ndims, reinterpret_cast<const int32_t*>(x.dims), &index,
                              nullptr));
    fill_index(g, index);
  }
  int st = stk_dup(ctx, depth + (nout == 2 ? 1 : 0), 1);
  if (st == kOk) st = sort_lines(ctx, num_operand(ctx, 0), g, index, descending);
  if (st != kOk) return fail_to_mark(ctx, mark, st);
  return stk_remove(ctx, nout, nargin);
}

// --- sort into a variable's block ----------------------------------------------------

// The words of the typed sorts' least scratch space for a line of L
// elements of es bytes: a permutation and a copy of the line.
int64_t plain_line_words(int64_t L, uint32_t es) { return (L * 4 + 7) / 8 + (L * es + 7) / 8; }

bool sort_block_takes(EngineContext* ctx, const LocalArg* args, int64_t pushed_words, uint32_t* result) {
  uint32_t* h = args[0].h;
  const NumOperand x = num_operand_of(h, args[0].data);
  if (x.kind == NumKind::kNone || x.cplx || x.count > std::numeric_limits<int32_t>::max()) return false;
  std::memcpy(result, h, 3 * sizeof *h);
  if (x.kind == NumKind::kDouble) return true;  // the doubles' sorts need no room
  DimSplit g;
  int dim = -1;
  shape_split_at_dim(x.ndims, x.dims, &dim, &g);
  return pushed_words + plain_line_words(g.length, num_elem_bytes(x)) < data_free_words(ctx);
}

void sort_block_write(EngineContext* ctx, const LocalArg* args, const uint32_t*, uint64_t* dst, double* index,
                      uint8_t descending) {
  uint32_t* h = args[0].h;
  if (dst != args[0].data) std::memcpy(dst, args[0].data, size_t{desc_data_words(h)} * 8);
  const NumOperand x = num_operand_of(h, dst);
  DimSplit g;
  int dim = -1;
  shape_split_at_dim(x.ndims, x.dims, &dim, &g);
  // As sort_numeric: the doubles' sorts carry positions 1, 2, ...; the other
  // classes' write them for lines of two or more.
  if (index && (x.kind == NumKind::kDouble || g.length < 2)) fill_index(g, index);
  (void)sort_lines(ctx, x, g, index, descending);  // cannot fail: sort_block_takes saw the room
}

}  // namespace

const LocalResultHooks kSortBlockHooks = {sort_block_takes, sort_block_write};

// A contiguous real line of singles or integers (at p) through the sort of
// its own type, when it takes it: see sort_typed_line.
bool sort_line_of_type(const NumOperand& y, uint8_t* p, double* index, int64_t n, uint8_t descending,
                       void* room, int64_t room_bytes) {
  auto as = [&](auto* keys) {
    using T = std::remove_pointer_t<decltype(keys)>;
    if (reinterpret_cast<uintptr_t>(p) % alignof(T) != 0) return false;
    return sort_typed_line(reinterpret_cast<T*>(p), index, n, descending, room, room_bytes);
  };
  if (y.kind == NumKind::kSingle) return as(static_cast<float*>(nullptr));
  switch (y.type) {
    case kElemI8: return as(static_cast<int8_t*>(nullptr));
    case kElemU8: return as(static_cast<uint8_t*>(nullptr));
    case kElemI16: return as(static_cast<int16_t*>(nullptr));
    case kElemU16: return as(static_cast<uint16_t*>(nullptr));
    case kElemI32: return as(static_cast<int32_t*>(nullptr));
    case kElemU32: return as(static_cast<uint32_t*>(nullptr));
    case kElemI64: return as(static_cast<int64_t*>(nullptr));
    case kElemU64: return as(static_cast<uint64_t*>(nullptr));
    default: return false;
  }
}

// --- Comparison functions ---------------------------------------------------------

int32_t sort_cmp_uint8(int32_t i, int32_t j, void* rec) { return cmp_ints<uint8_t>(i, j, rec); }
int32_t sort_cmp_uint16(int32_t i, int32_t j, void* rec) { return cmp_ints<uint16_t>(i, j, rec); }
int32_t sort_cmp_uint32(int32_t i, int32_t j, void* rec) { return cmp_ints<uint32_t>(i, j, rec); }
int32_t sort_cmp_uint64(int32_t i, int32_t j, void* rec) { return cmp_ints<uint64_t>(i, j, rec); }
int32_t sort_cmp_int8(int32_t i, int32_t j, void* rec) { return cmp_ints<int8_t>(i, j, rec); }
int32_t sort_cmp_int16(int32_t i, int32_t j, void* rec) { return cmp_ints<int16_t>(i, j, rec); }
int32_t sort_cmp_int32(int32_t i, int32_t j, void* rec) { return cmp_ints<int32_t>(i, j, rec); }
int32_t sort_cmp_int64(int32_t i, int32_t j, void* rec) { return cmp_ints<int64_t>(i, j, rec); }

int32_t sort_cmp_single(int32_t i, int32_t j, void* rec) {
  const SortCmpRec& r = rec_of(rec);
  return cmp_nan_last(single_key(r, i), single_key(r, j));
}

SortCmpFn sort_cmp_for_type(uint32_t type) {
  switch (type) {
    case kElemU8: return sort_cmp_uint8;
    case kElemU16: return sort_cmp_uint16;
    case kElemU32: return sort_cmp_uint32;
    case kElemU64: return sort_cmp_uint64;
    case kElemI8: return sort_cmp_int8;
    case kElemI16: return sort_cmp_int16;
    case kElemI32: return sort_cmp_int32;
    case kElemI64: return sort_cmp_int64;
    default: return nullptr;
  }
}

// --- Strings in lists and cells -----------------------------------------------------

int32_t string_compare(const StringElem& a, const StringElem& b) {
  const int32_t n = a.length < b.length ? a.length : b.length;
  for (int32_t k = 0; k < n; ++k) {
    const uint16_t x = tn::load<uint16_t>(a.chars + k), y = tn::load<uint16_t>(b.chars + k);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

bool string_equal(const StringElem& a, const StringElem& b) {
  return a.length == b.length &&
         std::memcmp(a.chars, b.chars, static_cast<size_t>(a.length) * 2) == 0;
}

int32_t sort_cmp_string(int32_t i, int32_t j, void* rec) {
  const auto* e = static_cast<const StringElem*>(rec);
  return string_compare(e[i], e[j]);
}

bool item_is_list_or_cell(EngineContext* ctx, int depth) {
  if (!stk_has_item(ctx, depth)) return false;
  const uint32_t* d = desc_at(ctx, depth);
  return d[0] == kKindContainer && (d[2] == kContList || d[2] == kContCell);
}

int32_t list_or_cell_count(EngineContext* ctx, int depth) {
  int32_t count = 0;
  if (stk_get_container_dims(ctx, depth, nullptr, nullptr, &count, nullptr) != kOk) return 0;
  return count;
}

int list_string_elems(EngineContext* ctx, int depth, StringElem* elems, int32_t count) {
  int32_t n = 0;
  uint64_t* e = nullptr;
  TN_TRY(stk_get_container_dims(ctx, depth, nullptr, nullptr, &n, &e));
  if (n != count) return kBadArgument;
  for (int32_t k = 0; k < n; ++k, e += elem_total_words(e)) {
    // A char array element: kind 2, subtype 4, a typed header that fits.
    if (elem_kind(e) != kKindPayload || elem_word(e, 2) != kPayChar) return kWrongType;
    const auto* p = reinterpret_cast<const uint8_t*>(elem_data(e));
    const int64_t bytes = int64_t{elem_data_words(e)} * 8;
    const uint32_t ndims = bytes >= 8 ? tn::ld_u32(p + 4) : 0;
    if (ndims < 2 || int64_t{typed_header_bytes(ndims)} > bytes) return kWrongType;
    int64_t chars = 1;
    for (uint32_t d = 0; d < ndims && chars <= bytes; ++d) chars *= tn::ld_u32(p + 8 + 4 * d);
    if (typed_header_bytes(ndims) + 2 * chars > bytes) return kWrongType;
    elems[k] = StringElem{e, reinterpret_cast<const uint16_t*>(p + typed_header_bytes(ndims)),
                          static_cast<int32_t>(chars)};
  }
  return kOk;
}

int push_list_of(EngineContext* ctx, const StringElem* elems, const int32_t* order, int32_t k) {
  int64_t words = 0;
  for (int32_t r = 0; r < k; ++r) words += elem_total_words(elems[order[r]].elem);
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* out =
      stk_claim(ctx, kKindContainer, static_cast<uint32_t>(words), kContList, static_cast<uint32_t>(words));
  for (int32_t r = 0; r < k; ++r) {
    const uint64_t* e = elems[order[r]].elem;
    const uint32_t w = elem_total_words(e);
    std::memcpy(out, e, size_t{w} * 8);
    elem_set_header(out, elem_kind(e), elem_word(e, 1), elem_word(e, 2), 0);
    out += w;
  }
  return kOk;
}

// --- Result pushers ---------------------------------------------------------------

uint32_t num_elem_bytes(const NumOperand& o) {
  switch (o.kind) {
    case NumKind::kDouble: return 8;
    case NumKind::kSingle: return 4;
    case NumKind::kInt: return o.type & 127;
    default: return 0;
  }
}

int push_array_like(EngineContext* ctx, const NumOperand& like, int ndims, const int32_t* dims,
                    bool cplx, uint8_t** re, uint8_t** im) {
  int64_t count = 1;
  for (int d = 0; d < ndims; ++d) count *= dims[d] > 0 ? dims[d] : 0;
  cplx = cplx && count > 0;  // an empty array is never complex
  *re = *im = nullptr;
  switch (like.kind) {
    case NumKind::kDouble: {
      double *r, *i = nullptr;
      TN_TRY(stk_push_double_nd(ctx, ndims, dims, &r, cplx ? &i : nullptr));
      *re = reinterpret_cast<uint8_t*>(r);
      *im = reinterpret_cast<uint8_t*>(i);
      return kOk;
    }
    case NumKind::kSingle: {
      float *r, *i = nullptr;
      TN_TRY(stk_push_single_nd(ctx, ndims, dims, &r, cplx ? &i : nullptr));
      *re = reinterpret_cast<uint8_t*>(r);
      *im = reinterpret_cast<uint8_t*>(i);
      return kOk;
    }
    case NumKind::kInt: {
      const uint32_t subtype = like.plain ? kPayNumeric : like.desc[2];
      if (subtype == kPayChar) {
        uint16_t* p;
        TN_TRY(stk_push_char_array(ctx, ndims, dims, &p));
        *re = reinterpret_cast<uint8_t*>(p);
        return kOk;
      }
      if (subtype == kPayLogical) return stk_push_logical_array(ctx, ndims, dims, re);
      void* p;
      TN_TRY(stk_push_typed_array(ctx, ndims, dims, static_cast<int>(like.type & 127),
                                  (like.type & kElemUnsigned) ? 1 : 0, &p));
      *re = static_cast<uint8_t*>(p);
      return kOk;
    }
    default: return kWrongArgType;
  }
}

int push_scratch(EngineContext* ctx, int64_t words, void** p) {
  if (words < 1) words = 1;
  if (words > std::numeric_limits<int32_t>::max()) return kDataStackOverflow;
  double* d;
  TN_TRY(stk_push_matrix(ctx, 1, static_cast<int32_t>(words), &d, nullptr));
  *p = d;
  return kOk;
}

int push_index_row(EngineContext* ctx, int64_t n, double** p) {
  if (n > std::numeric_limits<int32_t>::max()) return kDataStackOverflow;
  return stk_push_matrix(ctx, 1, static_cast<int32_t>(n), p, nullptr);
}

// --- sort ---------------------------------------------------------------------------

int bi_sort(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 3) return kTooManyInputs;
  if (nargout > 2) return kTooManyOutputs;
  TN_TRY(stk_argcheck(ctx, nargin, nullptr));
  if (nargout == 0) return stk_remove(ctx, 0, nargin);
  const int nout = nargout < 0 ? 1 : nargout;

  uint8_t descending = 0;
  int rest = nargin;  // the arguments other than the direction
  if (nargin >= 2) {
    if (stk_is_char(ctx, 0)) {
      TN_TRY(read_direction(ctx, 0, &descending));
      --rest;
    } else if (nargin == 3) {
      return kUnknownOption;
    }
  }
  if (item_is_list_or_cell(ctx, nargin - 1)) {
    if (rest > 1) return kTooManyInputs;
    return sort_list(ctx, nargin, nout, descending);
  }
  int dim = -1;
  if (rest == 2) {
    int32_t d = 0;
    const int st = stk_get_int(ctx, nargin - 2, &d);
    if (st != kOk) return st == kWrongType ? kWrongArgType : st;
    if (d < 1) return kBadDimension;
    dim = d - 1;
  }
  return sort_numeric(ctx, nargin, nout, dim, descending);
}
