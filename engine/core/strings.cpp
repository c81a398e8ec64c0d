// String routines of the engine: bounded copying, comparison and search, the
// bounded appenders, UTF-8 and double-byte coding and the export conversion.
// Every appender stops at its capacity and never writes at or beyond it.
#include "engine/core/strings.h"

#include <cstring>

#include "engine/core/context.h"
#include "engine/core/status.h"

namespace {

int32_t resolve_length(const char* text, int32_t length) {
  return length < 0 ? str_len(text) : length;
}

unsigned char fold(unsigned char c, bool ignore_case) {
  return (ignore_case && c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Adapters from the typed routines to the context's slot convention.
int utf8_bom_slot(const void* in, void*, void*, int n) {
  return utf8_bom_length(static_cast<const uint8_t*>(in), n);
}

int utf8_decode_slot(const void* in, void* out, void* state, int n) {
  return utf8_next_char(static_cast<const uint8_t*>(in), n, static_cast<int32_t*>(state),
                        static_cast<uint16_t*>(out));
}

// Output is well-formed UTF-8: a surrogate unit encodes no character by
// itself, so it is written as U+FFFD.
int utf8_encode_slot(const void* in, void* out, void* state, int n) {
  constexpr uint16_t kFirstSurrogate = 0xd800, kLastSurrogate = 0xdfff;
  uint16_t ch = *static_cast<const uint16_t*>(in);
  if (ch >= kFirstSurrogate && ch <= kLastSurrogate) ch = kReplacementChar;
  return buf_append_utf8(static_cast<uint8_t*>(out), static_cast<int32_t*>(state), ch, n);
}

int dbcs_decode_slot(const void* in, void* out, void* state, int n) {
  return dbcs_next_char(static_cast<const uint8_t*>(in), static_cast<uint16_t*>(out),
                        static_cast<int32_t*>(state), n);
}

int dbcs_encode_slot(const void* in, void* out, void* state, int n) {
  return buf_append_dbcs(*static_cast<const uint16_t*>(in), static_cast<uint8_t*>(out),
                         static_cast<int32_t*>(state), n);
}

}  // namespace

int32_t str_len(const char* text) { return static_cast<int32_t>(std::strlen(text)); }

int32_t str_copy_n(char* dest, int32_t capacity, const char* src, int32_t length) {
  if (capacity <= 0) return 0;
  int32_t n = resolve_length(src, length);
  if (n > capacity) n = capacity;
  std::memmove(dest, src, static_cast<size_t>(n));  // either direction, as overlap requires
  if (n < capacity) dest[n] = 0;
  return n;
}

bool str_equal(const char* a, int32_t length_a, const char* b, int32_t length_b, bool ignore_case) {
  const auto* ua = reinterpret_cast<const unsigned char*>(a);
  const auto* ub = reinterpret_cast<const unsigned char*>(b);
  if (length_a >= 0 && length_b >= 0) {
    if (length_a != length_b) return false;
    for (int32_t i = 0; i < length_a; ++i)
      if (fold(ua[i], ignore_case) != fold(ub[i], ignore_case)) return false;
    return true;
  }
  if (length_a < 0 && length_b < 0) {
    for (int32_t i = 0;; ++i) {
      if (fold(ua[i], ignore_case) != fold(ub[i], ignore_case)) return false;
      if (ua[i] == 0) return true;
    }
  }
  // One explicit length: the terminated side may not end early nor run on.
  const unsigned char* counted = length_a >= 0 ? ua : ub;
  const unsigned char* terminated = length_a >= 0 ? ub : ua;
  int32_t n = length_a >= 0 ? length_a : length_b;
  for (int32_t i = 0; i < n; ++i) {
    if (terminated[i] == 0) return false;
    if (fold(counted[i], ignore_case) != fold(terminated[i], ignore_case)) return false;
  }
  return terminated[n] == 0;
}

int32_t str_find(const char* text, int32_t length, const char* pattern, int32_t pattern_length) {
  int32_t n = resolve_length(text, length);
  int32_t m = resolve_length(pattern, pattern_length);
  if (m > n) return -1;
  if (m == 0) return 0;
  for (int32_t i = 0; i + m <= n; ++i)
    if (std::memcmp(text + i, pattern, static_cast<size_t>(m)) == 0) return i;
  return -1;
}

const char* buf_append_cstr(char* buf, int32_t* pos, const char* text, int32_t capacity) {
  while (*text && *pos + 1 < capacity) buf[(*pos)++] = *text++;
  return text;
}

int32_t buf_append_n(char* buf, int32_t* pos, const char* bytes, int32_t count, int32_t capacity) {
  int32_t written = 0;
  while (written < count && *pos + 1 < capacity) buf[(*pos)++] = bytes[written++];
  return written;
}

int32_t buf_append_repeat(char* buf, int32_t* pos, char byte, int32_t count, int32_t capacity) {
  int32_t written = 0;
  while (written < count && *pos + 1 < capacity) {
    buf[(*pos)++] = byte;
    ++written;
  }
  return written;
}

int32_t wbuf_append_repeat(uint16_t* buf, int32_t* pos, uint16_t ch, int32_t count, int32_t capacity) {
  int32_t written = 0;
  while (written < count && *pos + 1 < capacity) {
    buf[(*pos)++] = ch;
    ++written;
  }
  return written;
}

int32_t utf8_length(uint16_t ch) { return ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3; }

int32_t utf8_put(uint8_t* out, uint16_t ch) {
  if (ch < 0x80) {
    out[0] = static_cast<uint8_t>(ch);
    return 1;
  }
  if (ch < 0x800) {
    out[0] = static_cast<uint8_t>(0xc0 | ch >> 6);
    out[1] = static_cast<uint8_t>(0x80 | (ch & 63));
    return 2;
  }
  out[0] = static_cast<uint8_t>(0xe0 | ch >> 12);
  out[1] = static_cast<uint8_t>(0x80 | (ch >> 6 & 63));
  out[2] = static_cast<uint8_t>(0x80 | (ch & 63));
  return 3;
}

bool buf_append_utf8(uint8_t* buf, int32_t* pos, uint16_t ch, int32_t capacity) {
  // The test is for the longest form whatever ch needs, so that a run of
  // appends stops at the same place for every character.
  if (static_cast<int64_t>(*pos) + kMaxEncodedBytes >= capacity) return false;
  *pos += utf8_put(buf + *pos, ch);
  return true;
}

bool utf8_next_char(const uint8_t* bytes, int32_t length, int32_t* pos, uint16_t* out) {
  int32_t at = pos ? *pos : 0;
  int32_t next = at + 1;
  bool ok = false;
  uint32_t b0 = bytes[at];
  if (b0 < 0x80) {
    *out = static_cast<uint16_t>(b0);
    ok = true;
  } else if ((b0 & 0xe0) == 0xc0 && at + 1 < length && (bytes[at + 1] & 0xc0) == 0x80) {
    *out = static_cast<uint16_t>((b0 & 31) << 6 | (bytes[at + 1] & 63));
    next = at + 2;
    ok = true;
  } else if ((b0 & 0xf0) == 0xe0 && at + 2 < length && (bytes[at + 1] & 0xc0) == 0x80 &&
             (bytes[at + 2] & 0xc0) == 0x80) {
    *out = static_cast<uint16_t>((b0 & 15) << 12 | (bytes[at + 1] & 63) << 6 | (bytes[at + 2] & 63));
    next = at + 3;
    ok = true;
  }
  if (pos) *pos = next;
  return ok;
}

int32_t utf8_bom_length(const uint8_t* bytes, int32_t length) {
  return (length >= 3 && bytes[0] == 0xef && bytes[1] == 0xbb && bytes[2] == 0xbf) ? 3 : 0;
}

bool dbcs_next_char(const uint8_t* bytes, uint16_t* out, int32_t* pos, int32_t length) {
  int32_t at = *pos;
  uint8_t lead = bytes[at];
  if (lead < 0x80) {
    *out = lead;
    *pos = at + 1;
  } else if (at + 1 < length) {
    *out = static_cast<uint16_t>(lead << 8 | bytes[at + 1]);
    *pos = at + 2;
  } else {
    *out = kReplacementChar;  // a cut pair: never read past the input
    *pos = at + 1;
  }
  return true;
}

bool buf_append_dbcs(uint16_t ch, uint8_t* buf, int32_t* pos, int32_t capacity) {
  if (ch < 0x80) {
    if (*pos >= capacity) return false;
    buf[(*pos)++] = static_cast<uint8_t>(ch);
    return true;
  }
  if (static_cast<int64_t>(*pos) + 1 >= capacity) return false;
  buf[(*pos)++] = static_cast<uint8_t>(ch >> 8);
  buf[(*pos)++] = static_cast<uint8_t>(ch);
  return true;
}

int wchars_to_name_bytes(const void* chars, int64_t count, char* out) {
  const auto* p = static_cast<const uint8_t*>(chars);
  constexpr uint16_t kLastByteChar = 0xff;
  for (int64_t i = 0; i < count; ++i) {
    uint16_t ch;
    std::memcpy(&ch, p + 2 * i, sizeof ch);
    if (ch > kLastByteChar) return kUnknownCharset;
  }
  for (int64_t i = 0; i < count; ++i) {
    uint16_t ch;
    std::memcpy(&ch, p + 2 * i, sizeof ch);
    out[i] = static_cast<char>(ch);
  }
  return kOk;
}

void engine_set_charset(EngineContext* ctx, char mode) {
  CharsetFn slots[3] = {nullptr, nullptr, nullptr};
  switch (mode) {
    case 'u':
      slots[kCharsetBom] = utf8_bom_slot;
      slots[kCharsetDecode] = utf8_decode_slot;
      slots[kCharsetEncode] = utf8_encode_slot;
      break;
    case 's':
    case 'G':
      slots[kCharsetDecode] = dbcs_decode_slot;
      slots[kCharsetEncode] = dbcs_encode_slot;
      break;
    default:
      break;
  }
  for (int i = 0; i < 3; ++i) ctx->charset[i] = slots[i];
}

namespace {
// The encoder path keeps this many bytes in hand: the longest character and
// the terminator.
constexpr int32_t kEncoderReserve = 5;
constexpr int32_t kAliasSpareChars = 5;
}  // namespace

bool wstr_to_bytes(EngineContext* ctx, int newline_mode, const uint16_t* text, int32_t length,
                   uint8_t* buf, int32_t capacity, int32_t* count) {
  *count = 0;
  if (capacity < 1) return false;
  if (length < 0) length = 0;
  bool complete = true;
  const uint8_t* src = reinterpret_cast<const uint8_t*>(text);
  // Characters are read with memcpy: after the move they may sit at an odd
  // address.
  auto uptr = [](const void* p) { return reinterpret_cast<uintptr_t>(p); };
  bool alias = uptr(src) < uptr(buf) + static_cast<uintptr_t>(capacity) &&
               uptr(buf) < uptr(src) + 2 * static_cast<uintptr_t>(length);
  if (alias) {
    int32_t room = capacity / 2 - kAliasSpareChars;
    if (room < 0) room = 0;
    if (length > room) {
      length = room;
      complete = false;
    }
    uint8_t* moved = buf + (capacity - 2 * length);
    std::memmove(moved, src, 2 * static_cast<size_t>(length));
    src = moved;
  }
  CharsetFn encode = ctx ? ctx->charset[kCharsetEncode] : nullptr;
  int32_t pos = 0;
  int32_t i = 0;
  for (; i < length; ++i) {
    uint16_t ch;
    std::memcpy(&ch, src + 2 * static_cast<size_t>(i), sizeof ch);
    // Once ch is read its two bytes are free; nothing beyond them may be
    // written while the text still lies in the buffer.
    int64_t unread = alias ? (src - buf) + 2 * static_cast<int64_t>(i + 1) : INT64_MAX;
    int32_t need = ch == '\n' && newline_mode == kNewlineCRLF ? 2 : 1;
    if (encode) {
      if (capacity - pos < kEncoderReserve || pos + kMaxEncodedBytes > unread) break;
    } else if (static_cast<int64_t>(pos) + need >= capacity || pos + need > unread) {
      break;
    }
    if (ch == '\n') {
      if (newline_mode == kNewlineLF) {
        buf[pos++] = '\n';
      } else {
        buf[pos++] = '\r';
        if (newline_mode == kNewlineCRLF) buf[pos++] = '\n';
      }
    } else if (encode) {
      if (!encode(&ch, buf, &pos, capacity)) break;
    } else {
      buf[pos++] = static_cast<uint8_t>(ch);
    }
  }
  if (i < length) complete = false;
  buf[pos] = 0;
  *count = pos;
  return complete;
}
