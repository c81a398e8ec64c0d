// utf8encode and utf8decode. Each counts its output first, pushes the result
// (so a stack that is too small fails before anything changes) and then
// replaces the argument by it.
#include "engine/core/strings_builtins.h"

#include "engine/core/checked.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

int builtin_utf8encode(EngineContext* ctx, int, int, uintptr_t) {
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.subtype != kPayChar || t.size != 2) return kWrongArgType;
  int64_t n = 0;
  for (int64_t i = 0; i < t.count; ++i) n += utf8_length(tn::load<uint16_t>(t.elems + 2 * i));
  if (n > kMaxTypedElements) return kDataStackOverflow;
  int32_t dims[2] = {1, static_cast<int32_t>(n)};
  void* out;
  TN_TRY(stk_push_typed_array(ctx, 2, dims, 1, 1, &out));
  // The argument lies below the new item, so its characters are still where
  // the view found them.
  auto* bytes = static_cast<uint8_t*>(out);
  for (int64_t i = 0; i < t.count; ++i) bytes += utf8_put(bytes, tn::load<uint16_t>(t.elems + 2 * i));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

int builtin_utf8decode(EngineContext* ctx, int, int, uintptr_t) {
  TypedView t;
  if (!typed_view(ctx, 0, &t) || t.subtype != kPayNumeric || (t.type != kElemI8 && t.type != kElemU8))
    return kWrongArgType;
  const uint8_t* in = t.elems;
  int32_t n = static_cast<int32_t>(t.count);  // at most kMaxTypedElements
  // A byte that starts no character is skipped without producing one.
  int32_t m = 0;
  uint16_t ch;
  for (int32_t pos = 0; pos < n;)
    if (utf8_next_char(in, n, &pos, &ch)) ++m;
  uint16_t* out;
  TN_TRY(stk_push_char_row(ctx, m, &out));
  int32_t k = 0;
  for (int32_t pos = 0; pos < n;)
    if (utf8_next_char(in, n, &pos, &ch)) tn::store<uint16_t>(out + k++, ch);
  stk_replace_with_top(ctx, 0);
  return kOk;
}
