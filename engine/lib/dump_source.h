// Values written back as source text: the writer that turns any value into
// ZVR text which, evaluated, recreates it (dumpvar, the variable dump, the
// variables intrinsic, the runtime's data text). Output goes to an fd or into
// a 16-bit buffer whose position every append advances and never passes the
// capacity; nothing is pushed while writing into a buffer, so the buffer may
// be the free tail of the data stack.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Digits of doubles from dumpvar and the variable dump; singles always get 7.
constexpr int kDumpDigitsDouble = 15;
constexpr int kDumpDigitsSingle = 7;
constexpr int kDumpDigitsExact = -1;

// Writes the top item as source text and drops it; a failure leaves it.
// buffer null or fd >= 0: the text goes to the fd as it is produced; fd < 0:
// into buffer[*position .. capacity). name (length < 0: zero-terminated)
// makes it an assignment "name = text;" and a line end. digits: significant
// digits of doubles (singles get 7); kDumpDigitsExact: the fewest that read
// back to the same number. kDataStackOverflow when the buffer runs short,
// kAborted when the abort poll fires at a line end of fd output, a hook's
// status for library class values.
int value_dump_source(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
                      const char* name, int32_t name_length, int digits);

// value_dump_source without dropping the item.
int value_dump_source_keep(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
                           const char* name, int32_t name_length, int digits);
// Writes the top item (kept) into the upper half of the free data stack,
// which stays free afterwards: *text and *length are valid until the next push.
int dump_into_free_space(EngineContext* ctx, const char* name, int32_t name_length, int digits,
                         uint16_t** text, int32_t* length);

// One numeric, char or logical 2-d array. re/im point at row-major elements
// (im null: real); the element type follows from the flags: is_double,
// is_single, is_char (16-bit characters), is_logical (bytes), else an integer
// of int_size bytes, signed unless is_unsigned.
int dump_array_source(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
                      const char* name, int32_t name_length, const void* re, const void* im, int64_t rows,
                      int64_t columns, bool is_double, bool is_single, bool is_char, bool is_logical,
                      int int_size, bool is_unsigned, int digits);

// dumpvar(value), dumpvar(name, value), dumpvar(fd, name, value).
int bi_dumpvar(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// The workspace's variables, each dumped to fd as an assignment (qualifiers:
// "global name" / "persistent name" lines first), or, for fd < 0, added as
// fields of the structure on top (the caller pushed it empty).
int dump_variables(EngineContext* ctx, int32_t fd, bool qualifiers);
// dump_variables for an fd only (kNotMyDescriptor for a negative one), with the
// fd's line buffering on while it writes.
int dump_variables_to_channel(EngineContext* ctx, int32_t fd, bool qualifiers);

// Registers the handler of the variables intrinsic.
void dump_source_register_ops();

// Bounded 16-bit buffer helpers.
// Widens each byte of text while *position < capacity; returns the count written.
int32_t wbuf_append_cstr(uint16_t* buf, int32_t* position, const char* text, int32_t capacity);
// The count bytes just written as 8-bit text at buf + *position (viewed as
// bytes) become count 16-bit characters in place, when they fit.
bool wbuf_widen_in_place(uint16_t* buf, int32_t* position, int32_t count, int32_t capacity);
// Writes 16-bit text to fd in chunks through the charset encoder (its low
// byte without one). The chunks are built in spare, spare_bytes long, when it
// exceeds 16 bytes (the unused tail of a caller's buffer), else locally.
int io_write_wchars(EngineContext* ctx, int32_t fd, const uint16_t* text, int32_t count, void* spare,
                    int32_t spare_bytes);
