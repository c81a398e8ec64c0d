// General value-stack operations: sizes, the flat item form, scratch space,
// and removing, rotating, reversing and duplicating items. Reordering works in
// place (cycle rotation) and every capacity test precedes the first write.
#include "engine/core/stack_ops.h"

#include <cstring>
#include <numeric>

#include "engine/core/checked.h"
#include "engine/core/value_stack.h"

namespace {

bool depth_ok(const EngineContext* ctx, int depth) {
  return depth >= 0 && depth < stk_item_count(ctx);
}

// True when the items at depths [depth, depth + count) all exist.
bool range_ok(const EngineContext* ctx, int depth, int count) {
  return depth >= 0 && count >= 0 &&
         static_cast<int64_t>(depth) + count <= static_cast<int64_t>(stk_item_count(ctx));
}

// Data words from a descriptor read from outside the stack: the product is
// formed in 64 bits so that a hostile a and b cannot wrap to a small size.
int64_t data_words64(uint32_t kind, uint32_t a, uint32_t b) {
  if (kind & 62) return a;
  int64_t n = tn::mul64(a, b);  // saturates
  return (kind & 1) ? tn::mul64(n, 2) : n;
}

// Rotates x[0, len) so that its last `top` elements come first, following
// gcd(len, top) cycles that each move elements by `top` places: no scratch.
template <typename T>
void rotate_in_place(T* x, int64_t len, int64_t top) {
  if (top <= 0 || top >= len) return;
  int64_t below = len - top;
  int64_t cycles = std::gcd(len, top);
  for (int64_t s = 0; s < cycles; ++s) {
    T carried = x[s];
    int64_t j = s;
    for (;;) {
      int64_t from = j + below;  // new[j] = old[(j + below) mod len]
      if (from >= len) from -= len;
      if (from == s) break;
      x[j] = x[from];
      j = from;
    }
    x[j] = carried;
  }
}

}  // namespace

int stk_item_words(EngineContext* ctx, int depth, int64_t* n) {
  if (!depth_ok(ctx, depth)) return kBadArgument;
  *n = static_cast<int64_t>(desc_data_words(desc_at(ctx, depth))) + kFlatHeaderWords;
  return kOk;
}

int stk_descriptor_as_doubles(EngineContext* ctx, int depth, double* buffer) {
  if (!depth_ok(ctx, depth)) return kBadArgument;
  const uint32_t* d = desc_at(ctx, depth);
  // b carries signed subtypes (user objects) and marker tags.
  tn::st_f64(buffer + 0, static_cast<double>(d[0]));
  tn::st_f64(buffer + 1, static_cast<double>(d[1]));
  tn::st_f64(buffer + 2, static_cast<double>(static_cast<int32_t>(d[2])));
  std::memmove(buffer + kFlatHeaderWords, item_data(ctx, depth),
               static_cast<size_t>(desc_data_words(d)) * 8);
  return kOk;
}

int stk_push_descriptor(EngineContext* ctx, const double* buffer) {
  uint32_t w[3];
  for (int i = 0; i < 3; ++i)
    w[i] = static_cast<uint32_t>(tn::dtoi64(tn::ld_f64(buffer + i)));
  if (!desc_room(ctx)) return kStackOverflow;
  int64_t words = data_words64(w[0], w[1], w[2]);
  if (words > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* p = stk_claim(ctx, w[0], w[1], w[2], static_cast<uint32_t>(words));
  // The buffer may lie in the free part of the data stack (scratch space).
  std::memmove(p, buffer + kFlatHeaderWords, static_cast<size_t>(words) * 8);
  return kOk;
}

int stk_reserve_top(EngineContext* ctx, int64_t n, void** pointer) {
  if (n < 0) return kBadArgument;
  if (n > data_free_words(ctx)) return kDataStackOverflow;
  *pointer = data_words(ctx) + ctx->data_capacity - n;
  return kOk;
}

int stk_shrink_top_matrix(EngineContext* ctx, int32_t rows, int32_t cols) {
  if (ctx->desc_top < kDescWords || rows < 0 || cols < 0) return kBadArgument;
  uint32_t* d = desc_at(ctx, 0);
  const int64_t words = int64_t{rows} * cols;
  if (d[0] != kKindReal || words > desc_data_words(d)) return kBadArgument;
  ctx->data_top -= static_cast<int32_t>(desc_data_words(d) - words);
  d[1] = static_cast<uint32_t>(rows);
  d[2] = static_cast<uint32_t>(cols);
  return kOk;
}

int stk_shrink_top_typed(EngineContext* ctx, int32_t rows, int32_t cols) {
  if (ctx->desc_top < kDescWords || rows < 0 || cols < 0) return kBadArgument;
  uint32_t* d = desc_at(ctx, 0);
  const int64_t old_words = desc_data_words(d);
  const int64_t header = typed_header_bytes(2);
  if (d[0] != kKindPayload || old_words * 8 < header) return kBadArgument;
  auto* b = reinterpret_cast<uint8_t*>(item_data(ctx, 0));
  const uint32_t size = elem_size(tn::ld_u32(b));
  if (tn::ld_u32(b + 4) != 2 || size == 0) return kBadArgument;
  const int64_t count = int64_t{rows} * cols;
  if (count > int64_t{tn::ld_u32(b + 8)} * tn::ld_u32(b + 12)) return kBadArgument;
  const int64_t used = header + count * size, words = (used + 7) / 8;
  std::memset(b + used, 0, static_cast<size_t>(words * 8 - used));
  tn::st_u32(b + 8, static_cast<uint32_t>(rows));
  tn::st_u32(b + 12, static_cast<uint32_t>(cols));
  ctx->data_top -= static_cast<int32_t>(old_words - words);
  d[1] = static_cast<uint32_t>(words);
  return kOk;
}

int stk_push_double_under_top(EngineContext* ctx, int ndims, const int32_t* dims, double** re) {
  if (ctx->desc_top < kDescWords) return kBadArgument;
  // Pushed once above the top to learn its size (and that both fit), then
  // again where the top item's data was.
  TN_TRY(stk_push_double_nd(ctx, ndims, dims, nullptr, nullptr));
  const int32_t words = ctx->data_top - item_data_index(ctx, 0);
  stk_drop(ctx);
  uint32_t top[kDescWords];
  std::memcpy(top, desc_at(ctx, 0), sizeof top);
  const int32_t from = item_data_index(ctx, 0), item_words = ctx->data_top - from;
  uint64_t* data = data_words(ctx);
  std::memmove(data + from + words, data + from, static_cast<size_t>(item_words) * 8);
  stk_drop(ctx);
  TN_TRY(stk_push_double_nd(ctx, ndims, dims, re, nullptr));  // not reached: the room was there
  stk_claim(ctx, top[0], top[1], top[2], static_cast<uint32_t>(item_words));
  return kOk;
}

int stk_free_space(EngineContext* ctx, int64_t* bytes, void** pointer) {
  if (bytes) *bytes = data_free_words(ctx) * 8;
  if (pointer) *pointer = data_words(ctx) + ctx->data_top;
  return kOk;
}

int stk_remove(EngineContext* ctx, int depth, int count) {
  if (count < 1) return kOk;
  if (!range_ok(ctx, depth, count)) return kBadArgument;
  int32_t start = item_data_index(ctx, depth + count - 1);
  int32_t end = item_data_index(ctx, depth - 1);
  uint64_t* data = data_words(ctx);
  std::memmove(data + start, data + end, static_cast<size_t>(ctx->data_top - end) * 8);
  ctx->data_top -= end - start;

  uint32_t* desc = desc_words(ctx);
  int32_t dstart = ctx->desc_top - 3 * (depth + count);
  int32_t dend = ctx->desc_top - 3 * depth;
  std::memmove(desc + dstart, desc + dend, static_cast<size_t>(3 * depth) * 4);
  ctx->desc_top -= dend - dstart;
  return kOk;
}

int stk_move(EngineContext* ctx, int n, int k) {
  if (k < 1 || k == n) return kOk;
  if (k > n || !range_ok(ctx, 0, n)) return kBadArgument;
  int32_t start = item_data_index(ctx, n - 1);
  int32_t split = item_data_index(ctx, n - k - 1);  // start of the top n - k items
  rotate_in_place(data_words(ctx) + start, ctx->data_top - start, ctx->data_top - split);
  rotate_in_place(desc_words(ctx) + ctx->desc_top - 3 * n, 3 * static_cast<int64_t>(n),
                  3 * static_cast<int64_t>(n - k));
  return kOk;
}

int stk_reverse(EngineContext* ctx, int n) {
  if (n < 2) return kOk;
  if (!range_ok(ctx, 0, n)) return kBadArgument;
  for (int i = n; i >= 2; --i) TN_TRY(stk_move(ctx, i, i - 1));
  return kOk;
}

int stk_dup(EngineContext* ctx, int depth, int count) {
  if (count < 1) return kOk;
  if (!range_ok(ctx, depth, count)) return kBadArgument;
  // Each push needs its descriptor to end below the capacity.
  if (static_cast<int64_t>(ctx->desc_top) + 3 * static_cast<int64_t>(count) >=
      static_cast<int64_t>(ctx->desc_capacity))
    return kStackOverflow;
  int32_t start = item_data_index(ctx, depth + count - 1);
  int32_t end = item_data_index(ctx, depth - 1);
  if (end - start > data_free_words(ctx)) return kDataStackOverflow;

  uint64_t* data = data_words(ctx);
  std::memcpy(data + ctx->data_top, data + start, static_cast<size_t>(end - start) * 8);
  ctx->data_top += end - start;
  uint32_t* desc = desc_words(ctx);
  std::memcpy(desc + ctx->desc_top, desc + ctx->desc_top - 3 * (depth + count),
              static_cast<size_t>(3 * count) * 4);
  ctx->desc_top += 3 * count;
  return kOk;
}
