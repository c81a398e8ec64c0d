// map and cellfun: a function value called once per element of collections,
// resumed after each call to collect its results. The state lives on the
// value stack under each call's arguments:
//   [f, c1 .. ck, o1 .. ok, i, N, k, H1 .. Hq]
// (collections, a cursor per collection, the 1-based index of the call under
// way, the element count, the number of collections, then the result
// holders: map keeps one list per output, cellfun one array that its first
// result gives a class). A cursor is the word offset of the collection's next
// element, so each call reaches its elements without a walk; a collection of
// one element, used for every call, keeps -(offset + 1). Holders lie on top so
// that each result is appended where it lands.
#include <algorithm>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/continuation.h"
#include "engine/core/convert.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/funvals.h"

namespace {

constexpr int kBookkeeping = 3;  // i, N, k; the cursors lie below them
// Depths of the bookkeeping numbers above the holders.
constexpr int kDepthK = 0;
constexpr int kDepthCount = 1;
constexpr int kDepthIndex = 2;

bool is_collection(EngineContext* c, int depth) { return stk_is_list(c, depth) || stk_is_struct(c, depth); }

int collection_count(EngineContext* c, int depth, int32_t* count) {
  if (!is_collection(c, depth)) return kWrongArgType;
  if (stk_is_struct(c, depth)) return stk_get_container(c, depth, count, nullptr);
  return stk_get_container_dims(c, depth, nullptr, nullptr, count, nullptr);
}

// Word offset of a collection's first element (a cell's size element skipped).
int32_t first_offset(EngineContext* c, int depth) {
  if (desc_at(c, depth)[2] != kContCell || desc_at(c, depth)[1] < kElemHeaderWords) return 0;
  return int32_t(elem_total_words(item_data(c, depth)));
}

// Pushes a copy of the element at word offset `at` of the collection at
// depth; *next: the offset behind it.
int push_element_at(EngineContext* c, int depth, int64_t at, int64_t* next) {
  const uint32_t* d = desc_at(c, depth);
  if (d[0] != kKindContainer || at < 0 || at + kElemHeaderWords > d[1]) return kBadArgument;
  const uint64_t* e = item_data(c, depth) + at;
  if (at + elem_total_words(e) > d[1]) return kBadArgument;
  const uint32_t words = elem_data_words(e);
  if (!desc_room(c)) return kStackOverflow;
  if (int64_t(words) > data_free_words(c)) return kDataStackOverflow;
  const uint32_t kind = elem_word(e, 0), a = elem_word(e, 1), b = elem_word(e, 2);
  uint64_t* to = stk_claim(c, kind, a, b, words);
  std::memmove(to, e + kElemHeaderWords, size_t(words) * 8);
  *next = at + kElemHeaderWords + words;
  return kOk;
}

// Appends the top item to the list at depth (counted with the top item) as
// its last element; the items between keep their order.
int append_top_into(EngineContext* c, int depth) {
  if (depth < 1 || !stk_has_item(c, depth)) return kBadArgument;
  uint32_t* holder = desc_at(c, depth);
  if (holder[0] != kKindContainer || holder[2] != kContList) return kBadArgument;
  if (data_free_words(c) < kElemHeaderWords) return kDataStackOverflow;
  const uint32_t* top = desc_at(c, 0);
  const uint32_t kind = top[0], a = top[1], b = top[2];
  const int32_t words = int32_t(desc_data_words(top));
  uint64_t* data = data_words(c);
  const int32_t end = item_data_index(c, depth) + int32_t(holder[1]);
  const int32_t top_start = c->data_top - words;
  // [between][top] -> [header][top][between]
  std::rotate(data + end, data + top_start, data + c->data_top);
  std::memmove(data + end + kElemHeaderWords, data + end, size_t(c->data_top - end) * 8);
  elem_set_header(data + end, kind, a, b, 0);
  holder[1] += uint32_t(words) + kElemHeaderWords;
  c->desc_top -= 3;
  c->data_top += kElemHeaderWords;
  return kOk;
}

int read_count(EngineContext* c, int depth, int32_t* out) {
  double v = 0;
  TN_TRY(stk_get_real_scalar(c, depth, &v));
  if (!(v >= 0 && v <= INT32_MAX)) return kBadArgument;
  *out = tn::dtoi32(v);
  return kOk;
}

int holders_of(bool is_map, int nargout) { return is_map ? (nargout < 0 ? 0 : nargout) : 1; }

// Pushes the arguments of the next call and calls the function.
int call_next(EngineContext* c, bool is_map, int32_t k, int q) {
  for (int32_t j = 1; j <= k; ++j) {
    const int pushed = int(j - 1);
    const int cursor = pushed + q + kBookkeeping + int(k - j);
    const int collection = pushed + q + kBookkeeping + int(k) + int(k - j);
    if (!is_map && j > 1) {
      TN_TRY(stk_dup(c, collection, 1));  // cellfun's further arguments
      continue;
    }
    double o = 0;
    TN_TRY(stk_get_real_scalar(c, cursor, &o));
    const bool shared = o < 0;
    int64_t at = shared ? int64_t(-o) - 1 : int64_t(o), next = 0;
    TN_TRY(push_element_at(c, collection, at, &next));
    if (!shared) tn::st_f64(item_data(c, cursor + 1), double(next));
  }
  const int f = int(k) + kBookkeeping + q + int(k) + int(k);
  return builtin_call_value(c, f, int(k), is_map ? q : 1);
}

int map_start(EngineContext* c, bool is_map, int nargin, int nargout) {
  if (nargin < 2) return kTooFewInputs;
  if (!stk_has_item(c, nargin - 1)) return kBadArgument;
  const int32_t k = nargin - 1;
  int32_t n = -1;
  for (int32_t j = 1; j <= (is_map ? k : 1); ++j) {
    int32_t count = 0;
    TN_TRY(collection_count(c, int(k - j), &count));
    if (!is_map) n = count;
    else if (count != 1 && n >= 0 && count != n) return kIncompatibleSize;
    else if (count != 1) n = count;
  }
  if (n < 0) n = 1;  // every collection has one element
  const int q = holders_of(is_map, nargout);
  if (n == 0) {
    TN_TRY(stk_remove(c, 0, nargin));
    if (!is_map) return stk_push_empty(c);
    for (int j = 0; j < q; ++j) TN_TRY(stk_make_container(c, 0, 0, nullptr, 0));
    return nargout < 0 ? stk_push_no_value(c) : kOk;
  }
  for (int32_t j = 1; j <= k; ++j) {
    const int depth = int(k - j) + int(j - 1);
    double cursor = 0;
    if (is_map || j == 1) {
      int32_t count = 0;
      TN_TRY(collection_count(c, depth, &count));
      const int32_t first = first_offset(c, depth);
      cursor = count == 1 && n > 1 ? -double(first) - 1 : double(first);
    }
    TN_TRY(stk_push_real(c, cursor));
  }
  TN_TRY(stk_push_real(c, 1));
  TN_TRY(stk_push_real(c, n));
  TN_TRY(stk_push_real(c, k));
  for (int j = 0; j < q; ++j) TN_TRY(is_map ? stk_make_container(c, 0, 0, nullptr, 0) : stk_push_empty(c));
  return call_next(c, is_map, k, q);
}

// --- cellfun's result array ----------------------------------------------------

// The first collection's shape: a cell array's sizes, else a row.
void collection_shape(EngineContext* c, int depth, int32_t n, int* nd, int32_t* dims) {
  int k = 0;
  const uint32_t* s = nullptr;
  if (!stk_is_struct(c, depth) && stk_get_container_dims(c, depth, &k, &s, nullptr, nullptr) == kOk && s &&
      desc_at(c, depth)[2] == kContCell) {
    *nd = k;
    for (int i = 0; i < k; ++i) dims[i] = int32_t(s[i]);
    return;
  }
  *nd = 2;
  dims[0] = 1;
  dims[1] = n;
}

// An array of the class of the result r (complex for double and single, made
// real at the end when it can be).
int push_holder_like(EngineContext* c, const ArrayView& r, int nd, const int32_t* dims) {
  switch (r.cls) {
    case ElemClass::Double: {
      double *re = nullptr, *im = nullptr;
      return stk_push_double_nd(c, nd, dims, &re, &im);
    }
    case ElemClass::Single: {
      float *re = nullptr, *im = nullptr;
      return stk_push_single_nd(c, nd, dims, &re, &im);
    }
    case ElemClass::Int:
      break;
  }
  if (r.subtype == kPayChar) return stk_push_char_array(c, nd, dims, nullptr);
  if (r.subtype == kPayLogical) return stk_push_logical_array(c, nd, dims, nullptr);
  void* data = nullptr;
  return stk_push_typed_array(c, nd, dims, int(r.esize), (r.type & kElemUnsigned) ? 1 : 0, &data);
}

// Converts the result on top to the holder's class, in place.
int convert_to_holder(EngineContext* c, const ArrayView& h, const ArrayView& r) {
  if (h.cls == ElemClass::Double) return stk_convert_to_double(c, 0, 0, nullptr);
  if (h.cls == ElemClass::Single) return stk_convert_to_double(c, 0, 1, nullptr);
  if (r.cls == h.cls && r.subtype == h.subtype && r.type == h.type) return kOk;
  if (h.subtype == kPayLogical) return stk_convert_to_logical(c, 0);
  return stk_convert_to_int(c, 0, int(h.esize), (h.type & kElemUnsigned) ? 1 : 0, 0);
}

int store_result(EngineContext* c, int32_t k, int32_t index) {
  ArrayView r{};
  if (!array_view(desc_at(c, 0), item_data(c, 0), &r) || r.count != 1) return kBadSize;
  if (index == 1) {
    // The first result fixes the class; the holder takes the first collection's shape.
    int nd = 2;
    int32_t dims[kMaxDims];
    int32_t n = 0;
    TN_TRY(read_count(c, 1 + 1 + kDepthCount, &n));
    collection_shape(c, 1 + 1 + kBookkeeping + int(k) + int(k) - 1, n, &nd, dims);
    TN_TRY(push_holder_like(c, r, nd, dims));
    stk_replace_with_top(c, 1);
  }
  ArrayView h{};
  array_view(desc_at(c, 1), item_data(c, 1), &h);
  TN_TRY(convert_to_holder(c, h, r));
  array_view(desc_at(c, 1), item_data(c, 1), &h);
  if (!array_view(desc_at(c, 0), item_data(c, 0), &r) || r.count != 1) return kBadSize;
  const int64_t at = int64_t(index - 1) * h.esize;
  std::memcpy(h.re + at, r.re, h.esize);
  if (h.im) {
    if (r.im) std::memcpy(h.im + at, r.im, h.esize);
    else std::memset(h.im + at, 0, h.esize);
  }
  stk_drop(c);
  return kOk;
}

bool imaginary_all_zero(const ArrayView& h) {
  for (int64_t i = 0; i < h.count; ++i) {
    if (h.esize == 8 ? tn::load<double>(h.im + 8 * i) != 0.0 : tn::load<float>(h.im + 4 * i) != 0.0f) return false;
  }
  return true;
}

// --- the end ----------------------------------------------------------------------

int map_finish(EngineContext* c, int32_t k, int q, int nargout) {
  // Lists become cells of the first cell collection of as many elements.
  int nd = 0;
  int32_t dims[kMaxDims];
  int32_t n = 0;
  TN_TRY(read_count(c, q + kDepthCount, &n));
  for (int32_t j = 1; j <= k && nd == 0; ++j) {
    const int depth = int(k - j) + kBookkeeping + q + int(k);
    int kd = 0;
    const uint32_t* s = nullptr;
    int32_t count = 0;
    if (desc_at(c, depth)[0] != kKindContainer || desc_at(c, depth)[2] != kContCell) continue;
    if (stk_get_container_dims(c, depth, &kd, &s, &count, nullptr) != kOk || count != n) continue;
    nd = kd;
    for (int i = 0; i < kd; ++i) dims[i] = int32_t(s[i]);
  }
  for (int j = 0; j < q; ++j) {
    if (nd > 0) TN_TRY(stk_reshape_container(c, nd, dims));
    TN_TRY(stk_move(c, q, q - 1));
  }
  TN_TRY(stk_reverse(c, q));  // the first output on top
  TN_TRY(stk_remove(c, q, kBookkeeping + 2 * int(k) + 1));
  return nargout < 0 ? stk_push_no_value(c) : kOk;
}

int cellfun_finish(EngineContext* c, int32_t k) {
  ArrayView h{};
  if (array_view(desc_at(c, 0), item_data(c, 0), &h) && h.im && imaginary_all_zero(h)) stk_make_real_top(c);
  return stk_remove(c, 1, kBookkeeping + 2 * int(k) + 1);
}

int map_resume(EngineContext* c, bool is_map, int results, int nargout) {
  const int q = holders_of(is_map, nargout);
  int32_t k = 0, n = 0, index = 0;
  TN_TRY(read_count(c, results + q + kDepthK, &k));
  TN_TRY(read_count(c, results + q + kDepthCount, &n));
  TN_TRY(read_count(c, results + q + kDepthIndex, &index));
  const int wanted = is_map ? q : 1;
  if (results != wanted) {
    // A function that gave nothing to a call as a statement: nothing to collect.
    if (results == 0 && nargout < 0) {
      TN_TRY(stk_remove(c, 0, q + kBookkeeping + 2 * int(k) + 1));
      return stk_push_no_value(c);
    }
    return kTooManyOutputs;
  }
  if (is_map) {
    for (int j = 1; j <= q; ++j) TN_TRY(append_top_into(c, (results - j + 1) + (q - j)));
  } else {
    TN_TRY(store_result(c, k, index));
  }
  if (index >= n) return is_map ? map_finish(c, k, q, nargout) : cellfun_finish(c, k);
  tn::st_f64(item_data(c, q + kDepthIndex), double(index + 1));
  return call_next(c, is_map, k, q);
}

}  // namespace

int bi_map_cellfun(EngineContext* c, int nargin, int nargout, uintptr_t data) {
  const bool is_map = data != kCellfunSelector;
  const int results = builtin_resumed(nargin);
  if (results < 0) return map_start(c, is_map, nargin, nargout);
  return map_resume(c, is_map, results, nargout);
}
