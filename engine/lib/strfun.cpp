// String intrinsics over char arrays (16-bit codes in storage order): class
// tests, case mapping, comparison, search, matching, tokens and trimming.
// Results are built above the arguments and then take their place, so an
// error leaves the arguments untouched; case mapping and trimming work in place.
#include "engine/lib/strfun.h"

#include <algorithm>
#include <cstring>

#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/container_access.h"

namespace {

using clib::item_chars;

constexpr int64_t kNoCountLimit = 1000000000;  // strcmp without a count

bool is_letter(uint16_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(uint16_t c) { return c >= '0' && c <= '9'; }
// White space of isspace and strtok.
bool is_space(uint16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
// What deblank and strtrim drop: white space and the zero character.
bool is_trimmed(uint16_t c) { return c == 0 || is_space(c); }
uint16_t to_upper(uint16_t c) { return (c >= 'a' && c <= 'z') ? uint16_t(c - 32) : c; }
uint16_t to_lower(uint16_t c) { return (c >= 'A' && c <= 'Z') ? uint16_t(c + 32) : c; }

bool in_class(uint16_t c, int cls) {
  switch (cls) {
    case kCharLetter: return is_letter(c);
    case kCharDigit: return is_digit(c);
    case kCharSpace: return is_space(c);
    default: return false;
  }
}

// The char array at depth, or kWrongArgType.
int char_arg(EngineContext* ctx, int depth, const uint16_t** s, int64_t* n) {
  if (!stk_has_item(ctx, depth) || !item_chars(ctx, depth, s, n)) return kWrongArgType;
  return kOk;
}

// Pushes a 1 x n double row; a 1 x 0 row when n is 0.
int push_row(EngineContext* ctx, int64_t n, double** out) {
  if (n > INT32_MAX) return kDataStackOverflow;
  if (n > 0) return stk_push_matrix(ctx, 1, static_cast<int32_t>(n), out, nullptr);
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindReal, 1, 0, 0);
  *out = nullptr;
  return kOk;
}

// Pushes a char row holding s[0, n).
int push_text(EngineContext* ctx, const uint16_t* s, int64_t n) {
  if (n > INT32_MAX) return kDataStackOverflow;
  uint16_t* out = nullptr;
  TN_TRY(stk_push_char_row(ctx, static_cast<int32_t>(n), &out));
  if (n > 0) std::memcpy(out, s, static_cast<size_t>(n) * 2);
  return kOk;
}

// Replaces the nargin arguments below the k results on top by the results.
int take_place(EngineContext* ctx, int results, int nargin) {
  return stk_remove(ctx, results, nargin);
}

bool equal_prefix(const uint16_t* a, const uint16_t* b, int64_t n, bool fold) {
  for (int64_t i = 0; i < n; ++i) {
    const uint16_t x = fold ? to_upper(a[i]) : a[i];
    const uint16_t y = fold ? to_upper(b[i]) : b[i];
    if (x != y) return false;
  }
  return true;
}

// The option of strmatch: false for none, true for 'exact'.
int strmatch_option(EngineContext* ctx, bool* exact) {
  const uint16_t* s;
  int64_t n;
  TN_TRY(char_arg(ctx, 0, &s, &n));
  if (n == 0) return kOk;
  if (s[0] != 'e') return kUnknownOption;
  *exact = true;
  return kOk;
}

}  // namespace

int bi_char_test(EngineContext* ctx, int cls) {
  TN_TRY(stk_argcheck(ctx, 1, "S"));
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.type != kElemU16) return kWrongArgType;
  // The result has the argument's header with the logical element type.
  const uint32_t hb = typed_header_bytes(t.ndims);
  const int64_t words = (hb + t.count + 7) / 8;
  if (!desc_room(ctx)) return kStackOverflow;
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  const auto* src = reinterpret_cast<const uint8_t*>(item_data(ctx, 0));
  auto* out = reinterpret_cast<uint8_t*>(
      stk_claim(ctx, kKindPayload, static_cast<uint32_t>(words), kPayLogical, static_cast<uint32_t>(words)));
  std::memset(out, 0, static_cast<size_t>(words) * 8);
  std::memcpy(out, src, hb);
  tn::st_u32(out, kElemU8);
  const auto* chars = reinterpret_cast<const uint16_t*>(src + hb);
  for (int64_t i = 0; i < t.count; ++i) out[hb + i] = in_class(chars[i], cls) ? 1 : 0;
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int bi_change_case(EngineContext* ctx, int which) {
  TN_TRY(stk_argcheck(ctx, 1, "S"));
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.type != kElemU16) return kWrongArgType;
  auto* s = reinterpret_cast<uint16_t*>(t.elems);
  for (int64_t i = 0; i < t.count; ++i) s[i] = which == kCaseUpper ? to_upper(s[i]) : to_lower(s[i]);
  return kOk;
}

int bi_strcmp(EngineContext* ctx, int ignore_case, int nargin) {
  if (nargin < 2 || nargin > 3) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, "SS[i"));
  int64_t limit = kNoCountLimit;
  bool answer = true;
  if (nargin == 3) {
    const uint32_t* d = desc_at(ctx, 0);
    if (d[0] != kKindReal || d[1] != 1 || d[2] != 1) return kBadArgument;
    const double n = tn::ld_f64(item_data(ctx, 0));
    if (!(n >= 1)) limit = 0;  // answers true at once
    else if (n < static_cast<double>(kNoCountLimit)) limit = static_cast<int64_t>(n);
  }
  if (limit > 0) {
    const uint16_t *a, *b;
    int64_t la, lb;
    TN_TRY(char_arg(ctx, nargin - 1, &a, &la));
    TN_TRY(char_arg(ctx, nargin - 2, &b, &lb));
    if ((la < limit || lb < limit) && la != lb) {
      answer = false;
    } else {
      answer = equal_prefix(a, b, std::min({la, lb, limit}), ignore_case != 0);
    }
  }
  TN_TRY(stk_push_logical_scalar(ctx, answer ? 1 : 0));
  return take_place(ctx, 1, nargin);
}

int bi_findstr(EngineContext* ctx) {
  TN_TRY(stk_argcheck(ctx, 2, "SS"));
  const uint16_t *s, *p;
  int64_t ls, lp;
  TN_TRY(char_arg(ctx, 1, &s, &ls));
  TN_TRY(char_arg(ctx, 0, &p, &lp));
  if (ls == 0 || lp == 0) {
    TN_TRY(stk_push_empty(ctx));
    return take_place(ctx, 1, 2);
  }
  auto found_at = [&](int64_t i) { return std::memcmp(s + i, p, static_cast<size_t>(lp) * 2) == 0; };
  int64_t k = 0;
  for (int64_t i = 0; i + lp <= ls; ++i) k += found_at(i) ? 1 : 0;
  double* out = nullptr;
  TN_TRY(push_row(ctx, k, &out));
  // The pushes leave the arguments' data where they were.
  for (int64_t i = 0, j = 0; i + lp <= ls; ++i)
    if (found_at(i)) out[j++] = static_cast<double>(i + 1);
  return take_place(ctx, 1, 2);
}

int bi_strmatch(EngineContext* ctx, int nargin) {
  if (nargin < 2 || nargin > 3) return kBadArgument;
  if (!stk_has_item(ctx, nargin - 1)) return kWrongArgType;
  const int str_at = nargin - 1, list_at = nargin - 2;
  const uint16_t* str;
  int64_t n;
  TN_TRY(char_arg(ctx, str_at, &str, &n));
  const bool char_list = stk_is_char(ctx, list_at) != 0;
  if (!char_list && !clib::is_list_like(ctx, list_at)) return kWrongArgType;
  bool exact = false;
  if (nargin == 3) TN_TRY(strmatch_option(ctx, &exact));

  double index = 0;
  if (char_list) {
    TypedView t;
    if (!typed_view(ctx, list_at, &t)) return kWrongArgType;
    // Each row (of each page) is a candidate of as many characters as columns.
    const int64_t cols = t.dims[1];
    const auto* rows = reinterpret_cast<const uint16_t*>(t.elems);
    const int64_t nrows = cols > 0 ? t.count / cols : 0;
    if (cols >= n && (!exact || cols == n)) {
      for (int64_t r = 0; r < nrows && index == 0; ++r)
        if (equal_prefix(rows + r * cols, str, n, false)) index = static_cast<double>(r + 1);
    }
  } else {
    const uint16_t* c = nullptr;
    int64_t len = 0;
    for (clib::Walk w = clib::walk_entries(ctx, list_at); !w.done(); w.next())
      if (!clib::elem_chars(w.at, &c, &len)) return kWrongType;
    int64_t k = 0;
    for (clib::Walk w = clib::walk_entries(ctx, list_at); !w.done() && index == 0; w.next(), ++k) {
      clib::elem_chars(w.at, &c, &len);
      if (len >= n && (!exact || len == n) && equal_prefix(c, str, n, false))
        index = static_cast<double>(k + 1);
    }
  }
  TN_TRY(stk_push_real(ctx, index));
  return take_place(ctx, 1, nargin);
}

int bi_deblank(EngineContext* ctx, int trim) {
  TN_TRY(stk_argcheck(ctx, 1, "S"));
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.type != kElemU16) return kWrongArgType;
  const auto* s = reinterpret_cast<const uint16_t*>(t.elems);
  int64_t end = t.count, begin = 0;
  while (end > 0 && is_trimmed(s[end - 1])) --end;
  if (trim == kTrimBoth)
    while (begin < end && is_trimmed(s[begin])) ++begin;
  const int64_t n = end - begin;

  // The kept characters move to behind a 1 x n header (never longer than the
  // argument's, so they only move down) and the item shrinks to them.
  uint32_t* d = desc_at(ctx, 0);
  auto* p = reinterpret_cast<uint8_t*>(item_data(ctx, 0));
  const uint32_t hb = typed_header_bytes(2);
  std::memmove(p + hb, s + begin, static_cast<size_t>(n) * 2);
  const int64_t words = (hb + 2 * n + 7) / 8;
  std::memset(p + hb + 2 * n, 0, static_cast<size_t>(words * 8 - hb - 2 * n));
  std::memset(p, 0, hb);
  tn::st_u32(p, kElemU16);
  tn::st_u32(p + 4, 2);
  tn::st_u32(p + 8, 1);  // a row even when nothing is left: 1 x 0
  tn::st_u32(p + 12, static_cast<uint32_t>(n));
  ctx->data_top -= static_cast<int32_t>(d[1] - words);
  d[1] = static_cast<uint32_t>(words);
  return kOk;
}

int bi_strtok(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 1 || nargin > 2) return kBadArgument;
  TN_TRY(stk_argcheck(ctx, nargin, "S[S"));
  static const uint16_t kDefaultDelims[] = {' ', '\t', '\r', '\n'};
  const uint16_t *s, *dl = kDefaultDelims;
  int64_t n, nd = 4;
  TN_TRY(char_arg(ctx, nargin - 1, &s, &n));
  if (nargin == 2) TN_TRY(char_arg(ctx, 0, &dl, &nd));
  auto is_delim = [&](uint16_t c) { return std::find(dl, dl + nd, c) != dl + nd; };
  int64_t start = 0;
  while (start < n && is_delim(s[start])) ++start;
  int64_t end = start;
  if (start == n) {
    start = end = 0;  // only delimiters: the whole string is the remainder
  } else {
    while (end < n && !is_delim(s[end])) ++end;
  }
  const int before = stk_item_count(ctx);
  const int results = nargout >= 2 ? 2 : 1;
  if (results == 2) TN_TRY(push_text(ctx, s + end, n - end));
  // The arguments' data stay where they were: s still points at them.
  const int status = push_text(ctx, s + start, end - start);
  if (status != kOk) {
    clib::pop_to(ctx, before);
    return status;
  }
  return take_place(ctx, results, nargin);
}
