// Number formatting and scanning: every decimal, hexadecimal and octal text
// the engine writes for a number comes from these formatters. They append
// 8-bit text at *pos (advanced on return), never at or beyond the capacity,
// and never write a terminator; the caller does.
#pragma once

#include <cstdint>

// Floating-point notation styles. Any other style letter is formatted like
// kStyleGeneral without fraction digits.
enum : char {
  kStyleFixed = 'f',
  kStyleExp = 'e',
  kStyleGeneral = 'g',
  kStyleShortest = 'k',     // shortest of fixed, scientific and integer mantissa
  kStyleShortestFix = 'K',  // the same with fixed notation favoured
};

// One real number. precision counts digits after the point for every style
// (an upper bound for 'g', 'k' and 'K'). Digits are the exact decimal value of
// the double, rounded half up at the last digit written.
void fmt_double(char* buf, int32_t* pos, double value, int32_t precision, char style, int32_t width,
                bool left_align, bool upper_case, bool plus_sign, bool space_sign, bool zero_pad,
                bool alternate, int32_t capacity);

// One complex number, "re +imi" (or "re+imi" left-aligned); a number whose
// imaginary part is zero or negligible against the real part looks real.
void fmt_complex(char* buf, int32_t* pos, double re, double im, int32_t precision, char style,
                 int32_t width, bool left_align, bool upper_case, char unit, bool plus_sign,
                 bool space_sign, bool alternate, int32_t capacity);

// Integers. min_digits pads with leading zeros (a zero with min_digits 0
// writes no digit); width pads with blanks.
void fmt_int32_dec(char* buf, int32_t* pos, int32_t value, bool is_unsigned, int32_t width,
                   bool left_align, bool plus_sign, bool space_sign, int32_t min_digits,
                   int32_t capacity);
void fmt_uint_hex(char* buf, int32_t* pos, uint32_t value, int32_t width, bool left_align,
                  bool upper_case, bool alternate, int32_t min_digits, int32_t capacity);
void fmt_uint_oct(char* buf, int32_t* pos, uint32_t value, int32_t width, bool left_align,
                  bool alternate, int32_t min_digits, int32_t capacity);
void fmt_int64_dec(char* buf, int32_t* pos, int64_t value, bool is_unsigned, int32_t width,
                   bool left_align, bool plus_sign, bool space_sign, int32_t min_digits,
                   int32_t capacity);
void fmt_int64_hex(char* buf, int32_t* pos, uint64_t value, int32_t width, bool left_align,
                   bool upper_case, bool alternate, int32_t min_digits, int32_t capacity);
void fmt_int64_oct(char* buf, int32_t* pos, uint64_t value, int32_t width, bool left_align,
                   bool alternate, int32_t min_digits, int32_t capacity);

// Reads a decimal number at *pos (pos may be null: from 0, end not returned):
// blanks and tabs, one sign, digits with an optional point, an optional
// exponent. False when no digit or point follows the sign; *pos then stands
// after the blanks and sign and *result is untouched. The value is the double
// nearest the text. A negative length means zero-terminated text.
bool scan_number(const char* text, int32_t length, int32_t* pos, double* result);
