// Tick labels that fit the fixed margin left of a y axis. A label wider than
// the margin is cut by the subplot's edge into a number it does not mean
// ("987654.3218" reading "3218"); so when the plain labels do not fit, the
// values are written as short numbers with one note shown once above the
// labels: a power of ten that multiplies them and an offset added to them,
// "×1e-3 +987654.32" over labels 1.8 ... 3.8. Everything here is exact
// decimal arithmetic on whole numbers: a label reads the value it stands for.
#pragma once

#include <cstdint>

// Bytes of any decimal text written here (sign, 19 digits, point, exponent).
constexpr int32_t kTickDecimalBytes = 32;
// Bytes of a note: the factor and the offset.
constexpr int32_t kTickNoteBytes = 2 * kTickDecimalBytes + 8;

// The decimal n × 10^exp in its compact form: fixed where the leading digit
// stands at 10^fixed_low up to 10^fixed_high (and 2 × 10^fixed_high), the
// exponent form d.ddde-N elsewhere; no trailing zeros, zero as "0". With
// the label band (-1, 9) this is the form the plain labels take. Returns
// the length written (at most kTickDecimalBytes).
constexpr int32_t kLabelFixedLow = -1, kLabelFixedHigh = 9;
int32_t tick_decimal_text(int64_t n, int32_t exp, int32_t fixed_low, int32_t fixed_high, char* buf);

// The shortest decimal that reads back as v, as n × 10^exp; false for 0,
// NaN and infinities.
bool tick_decimal_of(double v, int64_t* n, int32_t* exp);

// A way of writing the labels of one axis whose values are n × 10^exp:
// label = (n - offset) × 10^(-shift), value = label × 10^(exp + shift) +
// offset × 10^exp.
struct TickLabelForm {
  int64_t offset;
  int32_t exp;
  int32_t shift;
  char note[kTickNoteBytes];  // "×1e-3 +987654.32", "×1e6", "-123456.8"
  int32_t note_length;
};

// Width in pixels of a text, as the caller's driver draws it.
using TickTextWidth = double (*)(const char* text, int32_t n, void* context);

// Chooses the form for the labels n[0..count) × 10^exp (count >= 1) in
// which every label is at most label_room wide and the note at most
// note_room: without an offset if any such form exists, then a factor of a
// power of ten divisible by three, then the fewest characters. False when
// none fits (or a value is too large to take an offset from).
bool tick_label_form_choose(const int64_t* n, int32_t count, int32_t exp, double label_room, double note_room,
                            TickTextWidth width, void* context, TickLabelForm* out);

// The label of the value n × 10^exp under the form.
int32_t tick_label_form_text(const TickLabelForm& form, int64_t n, char* buf);
