// A model of an embedded-data stream as its reader sees it, for the fuzz
// target and the tests: the bytes the record stands for and the position,
// moved by the rules of the stream's mode. Text positions count stored bytes
// and go anywhere from 0 on (CR and CR LF read as LF); base64 positions
// count decoded bytes and stop at the end of the data, which the whole-text
// decoding marks where the first short group is. The model decodes base64
// itself, from the rules of the format rather than with the engine's
// decoder, so that a fault in that decoder shows as a difference.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/streams.h"
#include "runtime/embedded_streams.h"

struct EmbeddedStreamModel {
  std::string bytes;  // text: as stored; base64: decoded
  bool base64 = false;
  int64_t at = 0;

  static EmbeddedStreamModel of(const std::string& stored, bool base64) {
    if (!base64) return {stored, false, 0};
    return {decoded(stored), true, 0};
  }

  // Base64 as the stream reads it: only '0' to 'z', '+' and '/' count (line
  // ends, blanks and control characters are skipped); the characters that
  // count are taken in quads. A..Z, a..z, 0..9, '+' stand for 0 to 62,
  // every other counted character for 63. A quad of n characters gives n - 1
  // bytes (none for one), one when its third is '=', two when its fourth is
  // '='; a quad that gives fewer than three ends the data.
  static std::string decoded(const std::string& stored) {
    static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";
    std::string counted;
    for (const char ch : stored)
      if ((ch >= '0' && ch <= 'z') || ch == '+' || ch == '/') counted += ch;
    std::string out;
    for (size_t at = 0; at < counted.size(); at += 4) {
      const std::string quad = counted.substr(at, 4);
      uint32_t bits = 0;
      for (size_t k = 0; k < 4; ++k) {
        const size_t digit = k < quad.size() ? kDigits.find(quad[k]) : 0;
        bits = bits * 64 + uint32_t(digit == std::string::npos ? 63 : digit);
      }
      size_t bytes = quad.size() < 2 ? 0 : quad.size() - 1;
      if (quad.size() >= 3 && quad[2] == '=') bytes = 1;
      else if (quad.size() == 4 && quad[3] == '=') bytes = 2;
      for (size_t k = 0; k < bytes; ++k) out += char(uint8_t(bits >> (16 - 8 * k)));
      if (bytes < 3) break;
    }
    return out;
  }

  int64_t end() const { return int64_t(bytes.size()); }
  bool at_end() const { return at >= end(); }

  // The next byte a read delivers, or -1 when it has nothing more.
  int next() {
    while (at < end()) {
      const char c = bytes[size_t(at++)];
      if (base64) return uint8_t(c);
      if (c == '\n' && at > 1 && bytes[size_t(at - 2)] == '\r') continue;
      return c == '\r' ? '\n' : uint8_t(c);
    }
    return -1;
  }

  // A seek request with the signed value the stream reads from its word:
  // false when the stream refuses it (the position kept).
  bool seek(uint32_t request, int64_t value) {
    const int64_t from = request == kIoReqSeekSet ? 0 : request == kIoReqSeekCur ? at : end();
    if (base64) {
      // Forward by reading only: a relative seek never goes back.
      if (request == kIoReqSeekCur && value <= 0) return true;
      at = std::clamp<int64_t>(from + value, 0, end());
      return true;
    }
    const int64_t to = std::max<int64_t>(from + value, 0);
    if (to > int64_t(kEmbeddedMaxBytes)) return false;
    at = to;
    return true;
  }
};
