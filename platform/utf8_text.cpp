// Decoding and encoding of UTF-8 for the drawing driver and the host's
// windows: one pass, no allocation beyond the output string. Well-formedness follows the Unicode table of valid byte
// sequences, so overlong forms and encoded surrogates are never decoded.
#include "platform/utf8_text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr uint8_t kContinuationLow = 0x80;
constexpr uint8_t kContinuationHigh = 0xBF;
constexpr char16_t kHighSurrogateBase = 0xD800;
constexpr char16_t kLowSurrogateBase = 0xDC00;
constexpr char16_t kLastLowSurrogate = 0xDFFF;
constexpr uint32_t kFirstSupplementary = 0x10000;

bool in_range(uint8_t b, uint8_t lo, uint8_t hi) { return b >= lo && b <= hi; }

// The allowed range of the second byte of a sequence led by lead, and the
// sequence's length; 0 when lead opens no sequence. Later bytes are always
// continuation bytes 0x80 to 0xBF.
int sequence_shape(uint8_t lead, uint8_t* lo, uint8_t* hi) {
  *lo = kContinuationLow;
  *hi = kContinuationHigh;
  if (in_range(lead, 0xC2, 0xDF)) return 2;
  if (lead == 0xE0) { *lo = 0xA0; return 3; }
  if (lead == 0xED) { *hi = 0x9F; return 3; }  // excludes the surrogates
  if (in_range(lead, 0xE1, 0xEF)) return 3;
  if (lead == 0xF0) { *lo = 0x90; return 4; }
  if (lead == 0xF4) { *hi = 0x8F; return 4; }  // nothing above U+10FFFF
  if (in_range(lead, 0xF1, 0xF3)) return 4;
  return 0;
}

constexpr uint8_t kLeadMask[5] = {0, 0, 0x1F, 0x0F, 0x07};

}  // namespace

void utf8_decode(const char* bytes, int32_t length, Utf8Malformed policy, QString* out) {
  out->resize(length > 0 ? length : 0);  // never more characters than bytes
  char16_t* dst = reinterpret_cast<char16_t*>(out->data());
  const uint8_t* s = reinterpret_cast<const uint8_t*>(bytes);
  int32_t i = 0, w = 0;
  while (i < length) {
    uint8_t lead = s[i];
    uint8_t lo, hi;
    int len = lead < 0x80 ? 1 : sequence_shape(lead, &lo, &hi);
    bool whole = len > 1 && length - i >= len && in_range(s[i + 1], lo, hi);
    for (int k = 2; whole && k < len; ++k)
      whole = in_range(s[i + k], kContinuationLow, kContinuationHigh);
    if (!whole) {
      // ASCII, or a byte that starts no well-formed sequence
      if (lead < 0x80 || policy == Utf8Malformed::kTakeByte) dst[w++] = lead;
      ++i;
      continue;
    }
    uint32_t cp = lead & kLeadMask[len];
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    if (cp >= kFirstSupplementary) {
      cp -= kFirstSupplementary;
      dst[w++] = static_cast<char16_t>(kHighSurrogateBase + (cp >> 10));
      dst[w++] = static_cast<char16_t>(kLowSurrogateBase + (cp & 0x3FF));
    } else {
      dst[w++] = static_cast<char16_t>(cp);
    }
    i += len;
  }
  out->truncate(w);
}

void cstring_from_utf8(const char* bytes, int32_t length, QString* out) {
  utf8_decode(bytes, length, Utf8Malformed::kTakeByte, out);
}

QString cstring_from_bytes(const char* bytes, int32_t length) {
  QString out;
  utf8_decode(bytes, length, Utf8Malformed::kSkip, &out);
  return out;
}

QString cstring_from_cstr(const char* bytes) {
  return bytes ? cstring_from_bytes(bytes, int32_t(std::strlen(bytes))) : QString();
}

QByteArray cstring_to_bytes(const QString& text) {
  QByteArray out;
  out.reserve(text.size() * 3);
  const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    uint32_t cp = s[i];
    const bool high = cp >= kHighSurrogateBase && cp < kLowSurrogateBase;
    if (high && i + 1 < n && s[i + 1] >= kLowSurrogateBase && s[i + 1] <= kLastLowSurrogate) {
      cp = kFirstSupplementary + ((cp - kHighSurrogateBase) << 10) + (s[i + 1] - kLowSurrogateBase);
      ++i;
    }
    if (cp < 0x80) {
      out.append(char(cp));
    } else if (cp < 0x800) {
      out.append(char(0xC0 | (cp >> 6)));
      out.append(char(0x80 | (cp & 0x3F)));
    } else if (cp < kFirstSupplementary) {
      out.append(char(0xE0 | (cp >> 12)));
      out.append(char(0x80 | ((cp >> 6) & 0x3F)));
      out.append(char(0x80 | (cp & 0x3F)));
    } else {
      out.append(char(0xF0 | (cp >> 18)));
      out.append(char(0x80 | ((cp >> 12) & 0x3F)));
      out.append(char(0x80 | ((cp >> 6) & 0x3F)));
      out.append(char(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

int32_t utf8_cut_length(const char* bytes, int32_t length, int32_t capacity) {
  if (capacity <= 0 || length <= 0) return 0;
  if (length <= capacity) return length;
  // Step back over continuation bytes to the start of the sequence that the
  // cut would split; a sequence that ends exactly at the cut is kept.
  const uint8_t* s = reinterpret_cast<const uint8_t*>(bytes);
  // At most three steps: stray continuation bytes beyond that are no
  // sequence and may be cut anywhere.
  int32_t cut = capacity;
  for (int k = 0; k < 3 && cut > 0 && (s[cut] & 0xC0) == kContinuationLow; ++k) --cut;
  return (s[cut] & 0xC0) == kContinuationLow ? capacity : cut;
}

int32_t runtime_length(qsizetype size) {
  return int32_t(std::clamp<qsizetype>(size, 0, std::numeric_limits<int32_t>::max()));
}

bool runtime_length_fits(qsizetype size) { return size >= 0 && size <= std::numeric_limits<int32_t>::max(); }
