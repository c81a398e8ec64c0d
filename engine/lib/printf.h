// Formatted output and input: the printf engine behind sprintf, fprintf,
// error, warning and assert, and the scan engine behind sscanf and fscanf.
// Both work on 16-bit characters and on the value stack; every number they
// write or read goes through the engine's own formatter and scanner.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/streams.h"

// --- The argument cursor --------------------------------------------------------
// The arguments after the format are walked as one sequence of elements, the
// elements of each argument in storage order. Pointers into the arguments stay
// valid while nothing is pushed or popped.
struct FmtCursor {
  EngineContext* ctx;
  int32_t first_depth;  // depth of the first argument
  int32_t nargs;        // arguments after the format
  int32_t taken;        // arguments moved onto so far (the current one included)
  uint32_t type;        // element type of the current argument (64 for a double matrix)
  int64_t count;        // its elements
  int64_t index;        // its next element
  const uint8_t* data;  // its first element
};

// One element: its value as a number, as a 32-bit integer (doubles truncated
// toward zero), and for int64 and uint64 elements their 64 bits.
struct FmtElement {
  double value;
  int32_t integer;
  bool has_raw;
  uint64_t raw;
  uint32_t type;
};

// Starts a cursor over the nargs top items; kWrongType when one of them is not
// a real double matrix or a numeric, char or logical array.
int fmt_cursor_init(EngineContext* ctx, int32_t nargs, FmtCursor* cur);
// The next element, moving over used-up and empty arguments; kIndexOutOfRange
// when the arguments are exhausted.
int fmt_fetch_element(FmtCursor* cur, FmtElement* out);
// Moves onto the next argument; kIndexOutOfRange when none is left.
int fmt_next_argument(FmtCursor* cur);
// Elements left in the current argument, moving onto the next argument first
// when the current one is used up. *has_argument is false when there was
// nothing to move onto.
int64_t fmt_remaining_in_argument(FmtCursor* cur, bool* has_argument);
// True when no element is left in any argument.
bool fmt_exhausted(const FmtCursor* cur);

// --- The printf engine -------------------------------------------------------------
// Formats the nargs top items (the format deepest) and consumes them. Without
// a stream the result replaces them as a 1 x n char row. For a stream, line
// feeds become the end of line of descriptor fd, the text is encoded with
// the context's character set and left in the free data space: *text and
// *length describe it until the next push. *eol_extra (when given) is the
// bytes that ends of line took beyond one each (0 without a stream). On
// error the items stay.
int fmt_printf_engine(EngineContext* ctx, int nargs, bool for_stream, const char** text,
                      int32_t* length, int32_t* eol_extra = nullptr, int32_t fd = kFdStdout);

// The end-of-line bytes (1 or 2) of the first "+write" row that accepts a
// zero-length write to fd 1; a line feed when none answers.
int32_t io_stdout_newline_mode(EngineContext* ctx, char bytes[2]);
// The same for the descriptor a write to fd reaches (the target of fd 1 or 2
// redirected without a copy): a file whose row asks for LF gets LF, whatever
// the console wants. A descriptor that no row takes (the capture buffer)
// gets the standard output's end of line.
int32_t io_newline_mode_of(EngineContext* ctx, int32_t fd, char bytes[2]);

// --- The intrinsics -------------------------------------------------------------------
int bi_sprintf(EngineContext* ctx, int nargin);
int bi_fprintf(EngineContext* ctx, int nargin, int nargout);
// error (warning false) and warning (true); the arguments are removed in
// every case. Returns the code that error raises, or 0.
int bi_error_warning_assert(EngineContext* ctx, int nargin, bool warning);
// assert (condition, further arguments): the condition's truth decides
// whether nothing happens, kAssertionFalse is raised, or error gets the rest.
int bi_assert(EngineContext* ctx, int nargin);

// --- The scan engine --------------------------------------------------------------------
// Scans text (16-bit characters) with the format on top of the stack and
// pushes the results above it, the values on top; with nargout 2 the count
// of conversions below them, with 3 the characters consumed below that. The
// format stays; callers remove their arguments.
int scan_engine(EngineContext* ctx, const uint16_t* text, int32_t length, int nargout);
// Items scan_engine leaves for nargout.
int scan_result_count(int nargout);

// Reads one line from fd into a buffer of capacity 16-bit characters, after
// `already` bytes kept from a read that had to wait (kWaitRetry leaves the
// bytes read so far unconverted in the buffer, their count in *count). End of
// file ends the line without error; with drop the final line feed goes.
int io_read_line(EngineContext* ctx, int32_t fd, bool drop, uint16_t* buffer, int32_t already,
                 int32_t capacity, int32_t* count);

int bi_sscanf(EngineContext* ctx, int nargin, int nargout);
int bi_fscanf(EngineContext* ctx, int nargin, int nargout);

// --- Interpreter binding ----------------------------------------------------------------
// The opcodes above in the interpreter's handler shape: selector = the
// opcode, a = nargin, b = nargout, c unused. Register each opcode of
// kFormattedIoOpcodes with op_formatted_io and the opcode as its selector.
int op_formatted_io(EngineContext* ctx, int32_t selector, int nargin, int nargout, int unused);
constexpr int kFormattedIoOpcodeCount = 7;
extern const uint16_t kFormattedIoOpcodes[kFormattedIoOpcodeCount];
