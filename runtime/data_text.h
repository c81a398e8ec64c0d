// The data exchange text: an 8-bit text with an optional header line
// "%TN xdata "type"" and link line, read into and written from the handler
// variables _xdata and _xdatatype. A body after a header is read back as one
// literal value and never run as a command.
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

// Special-variable codes of the data text.
constexpr int32_t kCodeXdata = 33;
constexpr int32_t kCodeXdatatype = 34;

// Pushes the value of _xdata (code 33) or _xdatatype (code 34) read from
// text; an empty string for no text or length <= 0. A body that builds no
// single value gives kTooManyInputs, a refused one kBadArgument; a failure
// pushes nothing. *reported (when given) tells whether the failure has been
// reported already: the body's run reports its own; a body refused before
// it ran is left to the caller's report, which then names `_xdata` (no
// location of code that ran before).
int xdata_parse_header(RuntimeBlock* b, int32_t code, const char* text, int32_t length, bool* reported = nullptr);

// Output phase of a data handler: the value on top is written into
// buffer[*length .. capacity) and popped. *length counts the bytes in the
// buffer before and after. On failure (kRtExhausted when the buffer
// is too small, a type error) *length keeps what was there before and the
// value stays on the stack.
// _xdata: as source text when the buffer already holds text or type_follows
// (a _xdatatype output comes later in the record); else a char array as its
// bytes, a numeric matrix as TAB-separated rows.
int xdata_write_data(RuntimeBlock* b, bool type_follows, char* buffer, int32_t capacity, int32_t* length);
// _xdatatype: the header line (and, for 0 <= link_id <= 99, the link line
// with the instance id) is put in front of the text already in the buffer.
int xdata_write_type(RuntimeBlock* b, char* buffer, int32_t capacity, int32_t* length, int32_t instance_id,
                     int32_t link_id);
