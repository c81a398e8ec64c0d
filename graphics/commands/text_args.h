// Texts of the text-bearing records: a character-array argument read in
// place (no copy on the stack) with the count of the UTF-8 bytes it makes,
// and the packer that writes bytes 8 per double through the checked writer.
// Internal to graphics/commands.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/status.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "graphics/plotlist/plot_records.h"

// A character-array argument read in place, and the UTF-8 bytes it makes.
struct CharsArg {
  const uint8_t* elems = nullptr;
  int64_t count = 0;
  int64_t bytes = 0;
  uint16_t at(int64_t i) const { return tn::load<uint16_t>(elems + 2 * i); }
  // UTF-8 bytes of characters [from, to).
  int64_t bytes_of(int64_t from, int64_t to) const {
    int64_t n = 0;
    for (int64_t i = from; i < to; ++i) n += utf8_length(at(i));
    return n;
  }
};

inline int arg_chars(EngineContext* ctx, int depth, CharsArg* out) {
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.subtype != kPayChar || t.size != 2) return kWrongType;
  out->elems = t.elems;
  out->count = t.count;
  out->bytes = 0;
  for (int64_t i = 0; i < t.count; ++i) out->bytes += utf8_length(out->at(i));
  return kOk;
}

inline int32_t text_doubles(int64_t bytes) { return int32_t((bytes + 7) / 8); }

// Packs bytes 8 per double into the writer; flush pads the last with zeros.
struct BytePacker {
  PlotWriter* w;
  uint8_t buf[8] = {};
  int n = 0;
  void put(uint8_t b) {
    buf[n++] = b;
    if (n == 8) flush();
  }
  void put_char(uint16_t ch) {
    uint8_t u[4];
    const int32_t k = utf8_put(u, ch);
    for (int32_t j = 0; j < k; ++j) put(u[j]);
  }
  void flush() {
    if (n == 0) return;
    std::memset(buf + n, 0, sizeof buf - size_t(n));
    double d;
    std::memcpy(&d, buf, sizeof d);
    plotwriter_put(w, d);
    n = 0;
  }
};

inline void put_chars(PlotWriter* w, const CharsArg& a) {
  BytePacker p{w};
  for (int64_t i = 0; i < a.count; ++i) p.put_char(a.at(i));
  p.flush();
}

// One line of a label text: characters [from, to) and the separator that
// ended it (0 at the text's end).
struct LabelLine {
  int64_t from = 0, to = 0;
  uint16_t separator = 0;
};
// The next line from *pos, ended by LF or, when tabs_end_lines, also TAB;
// the separator is consumed. False when the text is used up.
inline bool next_label_line(const CharsArg& a, int64_t* pos, bool tabs_end_lines, LabelLine* out) {
  if (*pos >= a.count) return false;
  int64_t i = *pos;
  while (i < a.count && a.at(i) != 10 && !(tabs_end_lines && a.at(i) == 9)) ++i;
  out->from = *pos;
  out->to = i;
  out->separator = i < a.count ? a.at(i) : 0;
  *pos = i < a.count ? i + 1 : i;
  return true;
}

