// String routines of the engine: UTF-8 and double-byte decoding, bounded
// buffers. Every appender stops at its capacity.
#include "engine/core/strings.h"

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
