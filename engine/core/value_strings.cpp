// String operations of the value stack: 8- and 16-bit text to character rows
// and back, caller-filled buffers, and byte decoding (UTF-8 or the host's
// character set). Conversions work in place where the widths allow; every
// test precedes the first write, so errors leave both stacks as they were.
#include <algorithm>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int64_t kRowHeaderBytes = 16;  // header of a 2-dimensional array
constexpr int64_t kRowHeaderWords = kRowHeaderBytes / 8;
constexpr int32_t kChooseLargest = -1;   // buffer length requests
constexpr int32_t kChooseHalf = -2;
constexpr int64_t kLargestOverhead = 24;  // characters held back by kChooseLargest
constexpr int64_t kMinFreeForLargest = 6;  // words: below this the request fails
constexpr int kMaxUtf8Bytes = 3;

int64_t char_row_words(int64_t n) { return kRowHeaderWords + (2 * n + 7) / 8; }

// The payload test for an item of `words` data words starting at data word `at`.
bool fits_at(const EngineContext* c, int64_t at, int64_t words) {
  return at + words < static_cast<int64_t>(c->data_capacity);
}

uint8_t* word_ptr(EngineContext* c, int64_t index) {
  return reinterpret_cast<uint8_t*>(data_words(c) + index);
}

// Writes the header, padding and descriptor of a 1 x n array (0 x 0 for n = 0)
// whose item starts at data word `at`, which becomes the top item's start;
// the elements are already in place behind the 16-byte header.
void label_row(EngineContext* c, uint32_t* desc, int64_t at, int64_t n, uint32_t subtype,
               uint32_t type) {
  int64_t esize = elem_size(type);
  int64_t words = kRowHeaderWords + (n * esize + 7) / 8;
  uint8_t* p = word_ptr(c, at);
  int64_t used = kRowHeaderBytes + n * esize;
  std::memset(p + used, 0, static_cast<size_t>(words * 8 - used));
  tn::st_u32(p, type);
  tn::st_u32(p + 4, 2);
  tn::st_u32(p + 8, n ? 1 : 0);
  tn::st_u32(p + 12, static_cast<uint32_t>(n));
  desc[0] = kKindPayload;
  desc[1] = static_cast<uint32_t>(words);
  desc[2] = subtype;
  c->data_top = static_cast<int32_t>(at + words);
}

// Claims a descriptor for a row about to be labelled at the data top.
uint32_t* claim_row_desc(EngineContext* c) {
  uint32_t* d = desc_words(c) + c->desc_top;
  c->desc_top += 3;
  return d;
}

// Room for a new 1 x n character row on top.
int char_row_room(const EngineContext* c, int64_t n) {
  if (!desc_room(c)) return kStackOverflow;
  if (n > kMaxTypedElements) return kDataStackOverflow;
  if (!fits_at(c, c->data_top, char_row_words(n))) return kDataStackOverflow;
  return kOk;
}

// A character array at depth, seen as characters.
int char_view(EngineContext* c, int depth, TypedView* t) {
  if (!typed_view(c, depth, t) || t->subtype != kPayChar || t->size != 2) return kWrongType;
  return kOk;
}

// The top item as a byte buffer: a character array whose element bytes hold
// the caller's bytes.
struct ByteBuffer {
  int64_t start;   // data word of the item
  uint8_t* bytes;  // first element
  int64_t room;    // bytes from the first element to the item's end
};
int top_byte_buffer(EngineContext* c, int32_t n, ByteBuffer* b) {
  TypedView t;
  TN_TRY(char_view(c, 0, &t));
  b->start = item_data_index(c, 0);
  b->bytes = t.elems;
  b->room = static_cast<int64_t>(t.words) * 8 - (t.elems - word_ptr(c, b->start));
  if (n > b->room) return kDataStackOverflow;  // the bytes cannot be in the buffer
  return kOk;
}

// One decoding step from bytes[*pos]; a byte that starts no character stands
// for itself, so no byte is lost and every step gives one character.
uint16_t decode_step(CharsetFn host, const uint8_t* bytes, int32_t n, int32_t* pos) {
  int32_t at = *pos;
  uint16_t ch = bytes[at];
  bool ok = host ? host(bytes, &ch, pos, n) != 0 : utf8_next_char(bytes, n, pos, &ch);
  if (*pos <= at) *pos = at + 1;  // a decoder that does not advance must not hang us
  return ok ? ch : bytes[at];
}

// Replaces the top byte buffer holding n bytes by the character row decoded
// from them. The characters are counted first, decoded into the free space
// above the bytes, then moved down over them.
int decode_top(EngineContext* c, int32_t n, CharsetFn host) {
  if (n < 0) n = 0;
  ByteBuffer b;
  TN_TRY(top_byte_buffer(c, n, &b));
  int64_t m = 0;
  for (int32_t pos = 0; pos < n; ++m) decode_step(host, b.bytes, n, &pos);
  if (m > kMaxTypedElements) return kDataStackOverflow;
  int64_t scratch = (b.bytes + n - word_ptr(c, 0) + 7) / 8;  // first word behind the bytes
  int64_t char_words = (2 * m + 7) / 8;
  if (scratch + char_words > static_cast<int64_t>(c->data_capacity) ||
      !fits_at(c, b.start, kRowHeaderWords + char_words))
    return kDataStackOverflow;
  auto* out = reinterpret_cast<uint16_t*>(word_ptr(c, scratch));
  int64_t k = 0;
  for (int32_t pos = 0; pos < n;) out[k++] = decode_step(host, b.bytes, n, &pos);
  std::memmove(word_ptr(c, b.start) + kRowHeaderBytes, out, static_cast<size_t>(2 * m));
  label_row(c, desc_at(c, 0), b.start, m, kPayChar, kElemU16);
  return kOk;
}

// Widens n bytes at src into characters at dst; the areas may overlap (the
// source may lie in the free data space, as scratch text often does).
void widen_bytes(uint16_t* dst, const uint8_t* src, int64_t n) {
  auto* d8 = reinterpret_cast<uint8_t*>(dst);
  if (src <= d8) {
    // Character i lands at or above byte i: from the last to the first.
    for (int64_t i = n - 1; i >= 0; --i) tn::store<uint16_t>(d8 + 2 * i, src[i]);
    return;
  }
  // From the first to the last, with the bytes at or above the upper half of
  // the destination so that no write reaches an unread byte.
  if (src < d8 + n) {
    std::memmove(d8 + n, src, static_cast<size_t>(n));
    src = d8 + n;
  }
  for (int64_t i = 0; i < n; ++i) tn::store<uint16_t>(d8 + 2 * i, src[i]);
}

int push_bytes_as_chars(EngineContext* c, int64_t n, const uint8_t* text) {
  TN_TRY(char_row_room(c, n));
  int64_t at = c->data_top;
  widen_bytes(reinterpret_cast<uint16_t*>(word_ptr(c, at) + kRowHeaderBytes), text, n);
  label_row(c, claim_row_desc(c), at, n, kPayChar, kElemU16);
  return kOk;
}

int push_buffer(EngineContext* c, int32_t* length, uint16_t** data, bool bytes) {
  int64_t n = *length;
  bool chosen = n < 0;
  int64_t free_words = data_free_words(c);
  if (n == kChooseLargest) {
    if (free_words < kMinFreeForLargest) return kDataStackOverflow;
    n = 4 * free_words - kLargestOverhead;
  } else if (n == kChooseHalf) {
    n = 2 * free_words;
  } else if (n < 0) {
    n = 0;
  }
  n = std::min(n, kMaxTypedElements);  // larger rows never fit
  TN_TRY(stk_push_char_row(c, static_cast<int32_t>(n), data));
  if (chosen) *length = static_cast<int32_t>(bytes ? 2 * n : n);
  return kOk;
}

const char kEmptyText[1] = {0};

}  // namespace

int stk_push_cstr(EngineContext* ctx, int32_t length, const char* text) {
  int64_t n = length < 0 ? static_cast<int64_t>(std::strlen(text)) : length;
  return push_bytes_as_chars(ctx, n, reinterpret_cast<const uint8_t*>(text));
}

int stk_push_wstr(EngineContext* ctx, int32_t length, const char16_t* text) {
  int64_t n = 0;
  if (length >= 0) {
    n = length;
  } else {
    while (text[n]) ++n;
  }
  TN_TRY(char_row_room(ctx, n));
  int64_t at = ctx->data_top;
  std::memmove(word_ptr(ctx, at) + kRowHeaderBytes, text, static_cast<size_t>(2 * n));
  label_row(ctx, claim_row_desc(ctx), at, n, kPayChar, kElemU16);
  return kOk;
}

int stk_push_str_buffer(EngineContext* ctx, int32_t* length, uint16_t** data) {
  return push_buffer(ctx, length, data, false);
}

int stk_push_str_buffer_alias(EngineContext* ctx, int32_t* length, uint16_t** data) {
  return push_buffer(ctx, length, data, false);
}

int stk_push_str_buffer2(EngineContext* ctx, int32_t* length, uint16_t** data) {
  return push_buffer(ctx, length, data, true);
}

int stk_repush_str(EngineContext* ctx, int32_t n) {
  if (n < 0) n = 0;
  TypedView t;
  TN_TRY(char_view(ctx, 0, &t));
  int64_t at = item_data_index(ctx, 0);
  if (n > kMaxTypedElements || !fits_at(ctx, at, char_row_words(n))) return kDataStackOverflow;
  uint8_t* elems = word_ptr(ctx, at) + kRowHeaderBytes;
  if (t.elems != elems)
    std::memmove(elems, t.elems, static_cast<size_t>(std::min<int64_t>(t.count, n) * 2));
  label_row(ctx, desc_at(ctx, 0), at, n, kPayChar, kElemU16);
  return kOk;
}

int stk_shrink_byte_string(EngineContext* ctx, int32_t n) {
  if (n < 0) n = 0;
  ByteBuffer b;
  TN_TRY(top_byte_buffer(ctx, n, &b));
  if (n > kMaxTypedElements || !fits_at(ctx, b.start, char_row_words(n)))
    return kDataStackOverflow;
  widen_bytes(reinterpret_cast<uint16_t*>(word_ptr(ctx, b.start) + kRowHeaderBytes), b.bytes, n);
  label_row(ctx, desc_at(ctx, 0), b.start, n, kPayChar, kElemU16);
  return kOk;
}

int stk_finish_byte_string(EngineContext* ctx, int32_t n) { return decode_top(ctx, n, nullptr); }

int stk_pop_bytes_via_host(EngineContext* ctx, int32_t n) {
  CharsetFn host = ctx->charset[kCharsetDecode];
  return host ? decode_top(ctx, n, host) : stk_shrink_byte_string(ctx, n);
}

int stk_push_bytes(EngineContext* ctx, int32_t length, const char* bytes) {
  int64_t n = length < 0 ? static_cast<int64_t>(std::strlen(bytes)) : length;
  int64_t chars = (n + 1) / 2;  // the buffer's characters hold the bytes
  TN_TRY(char_row_room(ctx, chars));
  int64_t at = ctx->data_top;
  std::memmove(word_ptr(ctx, at) + kRowHeaderBytes, bytes, static_cast<size_t>(n));
  label_row(ctx, claim_row_desc(ctx), at, chars, kPayChar, kElemU16);
  int st = decode_top(ctx, static_cast<int32_t>(n), nullptr);
  if (st != kOk) stk_drop(ctx);
  return st;
}

int stk_get_string_buf(EngineContext* ctx, int depth, char* buffer, int32_t size,
                       int32_t* length) {
  TypedView t;
  TN_TRY(char_view(ctx, depth, &t));
  int64_t limit = length ? size : static_cast<int64_t>(size) - 1;
  if (t.count > limit) return kObjectTooLarge;
  // Its readers take names, keywords and source: 307 for a character above
  // 255 rather than its low byte.
  TN_TRY(wchars_to_name_bytes(t.elems, t.count, buffer));
  if (length)
    *length = static_cast<int32_t>(t.count);
  else
    buffer[t.count] = 0;
  return kOk;
}

int stk_pop_string_buf(EngineContext* ctx, char* buffer, int32_t size, int32_t* length) {
  TN_TRY(stk_get_string_buf(ctx, 0, buffer, size, length));
  stk_drop(ctx);
  return kOk;
}

int stk_get_cstring(EngineContext* ctx, int depth, char** text, int32_t* length) {
  TypedView t;
  TN_TRY(char_view(ctx, depth, &t));
  // Narrowing forward in place is safe: byte i is written after character i
  // (bytes 2i, 2i+1) has been read. The item is relabelled as the 8-bit array
  // it now holds, so it is never read as characters again; its words stay.
  int64_t n = t.count;
  for (int64_t i = 0; i < n; ++i) t.elems[i] = static_cast<uint8_t>(tn::load<uint16_t>(t.elems + 2 * i));
  uint8_t* item_start = t.elems - typed_header_bytes(t.ndims);
  std::memset(t.elems + n, 0, static_cast<size_t>(int64_t{t.words} * 8 - (t.elems + n - item_start)));
  tn::st_u32(item_start, kElemU8);
  desc_at(ctx, depth)[2] = kPayNumeric;
  if (text) *text = n ? reinterpret_cast<char*>(t.elems) : const_cast<char*>(kEmptyText);
  if (length) *length = static_cast<int32_t>(n);
  return kOk;
}

int stk_get_wstring(EngineContext* ctx, int depth, int flag, uint8_t** data, int32_t* length) {
  TypedView t;
  TN_TRY(char_view(ctx, depth, &t));
  const auto* chars = t.elems;
  int64_t n = t.count;
  int64_t term = flag ? 1 : 0;
  CharsetFn enc = ctx->charset[kCharsetEncode];
  int64_t total;
  if (!enc) {
    total = n + term;
    int32_t dims[2] = {1, static_cast<int32_t>(total)};
    void* e;
    TN_TRY(stk_push_typed_array(ctx, 2, dims, 1, 1, &e));
    auto* out = static_cast<uint8_t*>(e);
    for (int64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(tn::load<uint16_t>(chars + 2 * i));
    if (flag) out[n] = 0;
  } else {
    // The encoder writes at most 3 bytes a character into a buffer as large as
    // that or as the free space; the buffer is cut to the bytes written.
    if (!desc_room(ctx)) return kStackOverflow;
    int64_t fit = (data_free_words(ctx) - kRowHeaderWords - 1) * 8;
    // One byte more than the bytes can need: an encoder keeps the last byte
    // of its buffer free.
    int64_t cap = std::min({kMaxUtf8Bytes * n + 1, fit, kMaxTypedElements});
    if (cap < 0) return kDataStackOverflow;
    int64_t at = ctx->data_top;
    uint8_t* out = word_ptr(ctx, at) + kRowHeaderBytes;
    int32_t pos = 0;
    for (int64_t i = 0; i < n; ++i) {
      uint16_t ch = tn::load<uint16_t>(chars + 2 * i);
      if (!enc(&ch, out, &pos, static_cast<int>(cap))) return kDataStackOverflow;
    }
    if (pos + term > cap) return kDataStackOverflow;
    if (flag) out[pos] = 0;
    total = pos + term;
    label_row(ctx, claim_row_desc(ctx), at, total, kPayNumeric, kElemU8);
  }
  stk_replace_with_top(ctx, depth);
  TypedView r;
  typed_view(ctx, depth, &r);
  if (data) *data = r.elems;
  if (length) *length = static_cast<int32_t>(total - term);
  return kOk;
}
