// The precision table of the byte-level stream built-ins and its parser. The
// machine order is little-endian, so only the ";b" rows of elements wider
// than a byte swap.
#include "engine/lib/stream_precision.h"

#include <cstring>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"

namespace {

struct BaseRow {
  const char* name;
  uint32_t size;
  uint8_t is_unsigned, is_char, is_float;
};

constexpr BaseRow kBase[kPrecisionBaseRows] = {
    {"int8", 1, 0, 0, 0},  {"int16", 2, 0, 0, 0},  {"int32", 4, 0, 0, 0},  {"int64", 8, 0, 0, 0},
    {"uint8", 1, 1, 0, 0}, {"uint16", 2, 1, 0, 0}, {"uint32", 4, 1, 0, 0}, {"uint64", 8, 1, 0, 0},
    {"char", 1, 0, 1, 0},  {"uchar", 1, 1, 1, 0},  {"single", 4, 0, 0, 1}, {"double", 8, 0, 0, 1},
};

constexpr const char* kSuffixes[3] = {"", ";l", ";b"};
constexpr int kBigEndianBlock = 2;

constexpr PrecisionRow make_row(int block, const BaseRow& b) {
  PrecisionRow r{};
  int n = 0;
  for (const char* p = b.name; *p; ++p) r.name[n++] = *p;
  for (const char* p = kSuffixes[block]; *p; ++p) r.name[n++] = *p;
  r.size = b.size;
  r.is_unsigned = b.is_unsigned;
  r.swap = block == kBigEndianBlock && b.size > 1 ? 1 : 0;
  r.is_char = b.is_char;
  r.is_float = b.is_float;
  return r;
}

struct Table {
  PrecisionRow rows[kPrecisionRows + 1];
};

constexpr Table make_table() {
  Table t{};
  for (int block = 0; block < 3; ++block)
    for (int i = 0; i < kPrecisionBaseRows; ++i) t.rows[block * kPrecisionBaseRows + i] = make_row(block, kBase[i]);
  return t;
}

constexpr Table kTable = make_table();

// The longest precision text: a star and the longest name with its suffix.
constexpr int32_t kMaxPrecisionChars = 11;

}  // namespace

const PrecisionRow kPrecisionTable[kPrecisionRows + 1] = {
#define TN_ROW(i) kTable.rows[i]
    TN_ROW(0),  TN_ROW(1),  TN_ROW(2),  TN_ROW(3),  TN_ROW(4),  TN_ROW(5),  TN_ROW(6),  TN_ROW(7),
    TN_ROW(8),  TN_ROW(9),  TN_ROW(10), TN_ROW(11), TN_ROW(12), TN_ROW(13), TN_ROW(14), TN_ROW(15),
    TN_ROW(16), TN_ROW(17), TN_ROW(18), TN_ROW(19), TN_ROW(20), TN_ROW(21), TN_ROW(22), TN_ROW(23),
    TN_ROW(24), TN_ROW(25), TN_ROW(26), TN_ROW(27), TN_ROW(28), TN_ROW(29), TN_ROW(30), TN_ROW(31),
    TN_ROW(32), TN_ROW(33), TN_ROW(34), TN_ROW(35), TN_ROW(36),
#undef TN_ROW
};

int io_parse_precision(EngineContext* ctx, Precision* out) {
  if (!stk_is_char(ctx, 0)) return kWrongArgType;
  char text[kMaxPrecisionChars + 1];
  int32_t length = 0;
  if (stk_get_string_buf(ctx, 0, text, kMaxPrecisionChars + 1, &length) != kOk || length > kMaxPrecisionChars)
    return kUnknownOption;
  Precision p;
  int32_t at = 0;
  if (length > 0 && text[0] == '*') {
    p.star = 1;
    at = 1;
  }
  const int32_t n = length - at;
  for (int i = 0; kPrecisionTable[i].name[0]; ++i) {
    const PrecisionRow& r = kPrecisionTable[i];
    if (int32_t(std::strlen(r.name)) != n || std::memcmp(r.name, text + at, size_t(n)) != 0) continue;
    p.size = r.size;
    p.is_unsigned = r.is_unsigned;
    p.swap = r.swap;
    p.is_char = r.is_char;
    p.is_float = r.is_float;
    *out = p;
    return kOk;
  }
  return kUnknownOption;
}
