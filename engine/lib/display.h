// Display of values: the text a user sees for a value on the stack, by `disp`,
// by a statement result shown with its name, and the `format` settings that
// choose the number style. Everything goes out through io_write/io_newline;
// text is gathered in a scratch buffer (the free data stack) and written out
// before it could overflow, so a line may have any length.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Format letters (the style handed to the number formatter, or a mode).
enum : char {
  kDispFixed = 'f',
  kDispExp = 'e',
  kDispGeneral = 'g',
  kDispBank = 'F',  // fixed notation with the display digits, whole numbers too
  kDispSign = '+',  // one sign character per element
};

// The settings kept in the context (and carried by the snapshot image).
struct DisplayOptions {
  char letter;     // kDisp*
  int32_t digits;  // digits after the point for non-integer elements
  char unit;       // 'i' or 'j'
  uint8_t loose;   // 1: a blank line before and after each value
  int32_t setting5;
  bool flag;       // stored as setting 6: 0 when set, -1 when not
};

void display_set_options(EngineContext* ctx, char letter, int32_t digits, char unit, uint8_t loose,
                         int32_t setting5, bool flag);
// Each out-pointer may be null.
void display_get_options(EngineContext* ctx, char* letter, int32_t* digits, char* unit,
                         uint8_t* loose, int32_t* setting5, bool* flag);
DisplayOptions display_options(const EngineContext* ctx);

// Displays the top item on fd; with pop the item is removed afterwards (not
// on an error). kOk, kWrongArgType for a value without a display of its own
// here (library objects, references, markers: the caller may try a class
// `disp` method), kAborted when the host asked to stop, or a write failure.
int bi_disp(EngineContext* ctx, int32_t fd, bool pop);

// The `disp` intrinsic: kWrongArgType at once for a user object (so its class
// method can run), else bi_disp on fd 1, popping the value.
int op_disp(EngineContext* ctx);

// A statement result shown with its name: the header "name =" (or "??? ="
// for a null or empty name) on its own line, then the value on fd 1. Unless
// skip_object_check, a user object on top returns kWrongArgType after the
// header, so that its class's `disp` method shows the value.
int display_named(EngineContext* ctx, const char* name, int32_t length, bool skip_object_check,
                  bool pop);
// The same with the name of a variable slot of the current workspace.
int op_display_name(EngineContext* ctx, int32_t slot, bool skip_object_check, bool pop);

// The `format` intrinsic over its nargin (0 to 2) string arguments, which it
// removes. kUnknownOption for an unknown keyword or a bad style argument,
// kWrongArgType for an argument that is not a string.
int bi_format(EngineContext* ctx, int nargin);

// --- Page printers ------------------------------------------------------------
// Text under construction for one fd: the scratch buffer, its capacity and
// the bytes pending in it. Chunks are appended after making room (earlier
// text is written out first), so no chunk is ever cut.
struct DisplayText {
  EngineContext* ctx;
  int32_t fd;
  char* buf;
  int32_t capacity;
  int32_t pos;
};

// Element types of disp_size_class_text besides the integer sizes.
enum : int32_t {
  kSizeClassDouble = 0,
  kSizeClassSingle = -1,
  kSizeClassCell = -2,
};

// One page, row-major, rows by columns. Each returns kOk, kAborted or a write
// failure. imag is null for real data.
int disp_double_array(DisplayText& out, int32_t rows, int32_t cols, const double* re,
                      const double* im);
// full_layout off is the inline form of a summary: no leading blank, no
// field width, no line ends.
int disp_single_array(DisplayText& out, int32_t rows, int32_t cols, const float* re,
                      const float* im, bool marked, bool full_layout);
// type: an integer element type (kElemI8 ... kElemU64).
int disp_int_array(DisplayText& out, uint32_t type, int32_t rows, int32_t cols,
                   const uint8_t* data, bool class_marked, bool full_layout, bool sign_only);
int disp_char_array(DisplayText& out, int32_t rows, int32_t cols, const uint16_t* chars);
int disp_logical_array(DisplayText& out, bool sign_only, int32_t rows, int32_t cols,
                       const uint8_t* data);
// "2x3 uint8 array", "int16 number", "logical value", "1x1 cell array" into
// buf at *pos; elem_type is an integer size or kSizeClass*. Nothing is
// written when fewer than 20 bytes remain.
void disp_size_class_text(char* buf, int32_t capacity, int32_t* pos, int32_t elem_type,
                          bool is_unsigned, bool logical, bool is_char, int32_t ndims,
                          const uint32_t* dims);
