// A model of an embedded-data stream as its reader sees it, for the fuzz
// target and the tests: the bytes the record stands for and the position,
// moved by the rules of the stream's mode. Text positions count stored bytes
// and go anywhere from 0 on (CR and CR LF read as LF); base64 positions
// count decoded bytes and stop at the end of the data, which the whole-text
// decoder marks where the first short group is.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/streams.h"
#include "engine/lib/gray_base64.h"
#include "runtime/embedded_streams.h"

struct EmbeddedStreamModel {
  std::string bytes;  // text: as stored; base64: decoded
  bool base64 = false;
  int64_t at = 0;

  static EmbeddedStreamModel of(const std::string& stored, bool base64) {
    if (!base64) return {stored, false, 0};
    std::vector<uint8_t> out(3 * (stored.size() / 4 + 2));
    int64_t length = 0;
    base64_decode_buffer(reinterpret_cast<const uint8_t*>(stored.data()), int64_t(stored.size()), out.data(),
                         int64_t(out.size()), &length);
    return {std::string(out.begin(), out.begin() + length), true, 0};
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
