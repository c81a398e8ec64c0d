// The precision names of fread, sread, fwrite, swrite and bwrite: 36 rows (the
// twelve base names, then each with ";l", then with ";b") and an empty end
// row. A row fixes the element's byte size, signedness, byte order and class.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kPrecisionNameBytes = 12;
constexpr int kPrecisionBaseRows = 12;
constexpr int kPrecisionRows = 3 * kPrecisionBaseRows;

struct PrecisionRow {
  char name[kPrecisionNameBytes];
  uint32_t size;        // element bytes: 1, 2, 4 or 8
  uint8_t is_unsigned;
  uint8_t swap;         // bytes stored most significant first
  uint8_t is_char;
  uint8_t is_float;
};
static_assert(sizeof(PrecisionRow) == 20);

extern const PrecisionRow kPrecisionTable[kPrecisionRows + 1];

// What a precision argument asks for; `star` keeps the element class on reading.
struct Precision {
  uint32_t size = 1;
  uint8_t is_unsigned = 1;
  uint8_t swap = 0;
  uint8_t is_char = 0;
  uint8_t is_float = 0;
  uint8_t star = 0;
};

// Reads the precision argument on top of the stack (left there): a leading
// '*' sets star, the rest must equal a row name exactly. kUnknownOption for
// any other text (or one of more than 11 characters), kWrongArgType for a
// value that is not text.
int io_parse_precision(EngineContext* ctx, Precision* out);
