// Decoding of UTF-8 for the drawing driver: one pass, no allocation beyond the
// output string. Well-formedness follows the Unicode table of valid byte
// sequences, so overlong forms and encoded surrogates are never decoded.
#include "platform/utf8_text.h"

namespace {

constexpr uint8_t kContinuationLow = 0x80;
constexpr uint8_t kContinuationHigh = 0xBF;
constexpr char16_t kHighSurrogateBase = 0xD800;
constexpr char16_t kLowSurrogateBase = 0xDC00;
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

void cstring_from_utf8(const char* bytes, int32_t length, QString* out) {
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
      dst[w++] = lead;  // ASCII, or a byte that starts no well-formed sequence
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
