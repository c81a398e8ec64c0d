// Errors: the message tables attached through "+errmsgtable" rows, raising an
// error by code (with template expansion) or by identifier, the pending and
// last error texts kept in the variable heap, the report printed on fd 2, and
// the built-ins lasterr, lasterror and rethrow. Nothing here raises an error
// of its own: a full heap or stack only leaves a text unstored or cut.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// One row of an error-message table. A table ends with an all-zero row; a
// code may have a plain row and, later in the same table, a template row.
struct ErrMsgEntry {
  uint32_t code;
  const char* identifier;  // without the "ZVR:" prefix
  const char* message;     // plain text or a template with %v %f %n %s %S %i %c
};

// 142 codes have a plain row and 34 rows hold templates (code 120 has two).
constexpr int kEngineErrorRows = 176;
constexpr int kEnginePlainRows = 142;
constexpr int kEngineTemplateRows = 34;
extern const ErrMsgEntry kEngineErrorTable[kEngineErrorRows + 1];

inline constexpr const char kHookErrMsgTable[] = "+errmsgtable";
inline constexpr const char kEngineIdPrefix[] = "ZVR:";
constexpr int32_t kEngineIdPrefixLength = 4;

// Engine codes lie below this; the runtime's and the graphics' from it.
constexpr int32_t kFirstRuntimeCode = 10000;
// Longest identifier interned for an error raised by identifier.
constexpr int32_t kErrorIdLimit = 127;
// Buffer of a printed or caught report (the report is at most 123 characters).
constexpr int32_t kReportBufferBytes = 124;
// Longest function name placed in a position.
constexpr int32_t kPositionNameLimit = 66;

// An "+errmsgtable" row keeps its table in the function field.
BuiltinFn errmsg_table_as_fn(const ErrMsgEntry* table);
const ErrMsgEntry* errmsg_table_of(const BuiltinEntry& row);

// The first row of the first table holding code; with templated, the next
// row of that table with the same code when there is one. Null when no table
// has the code.
const ErrMsgEntry* errmsg_lookup(EngineContext* ctx, int32_t code, bool templated);

// The code of an identifier "ZVR:name" (length -1: zero-terminated), compared
// exactly with every table's identifiers; 0 when the text is no such identifier.
int32_t err_code_from_identifier(EngineContext* ctx, const char* text, int32_t length);

// Raises code with template arguments and returns it unchanged. variable: a
// local slot of the current workspace or negative; function: a symbol offset
// or 0; integer: a number, a character code or the length of text for %S,
// negative for none; text: 8-bit text or null.
int err_raise_code(EngineContext* ctx, int32_t code, int32_t variable, int32_t function,
                   int32_t integer, const char* text);

// Raises an error by identifier (null: code 10) with an optional message;
// lengths of -1 mean zero-terminated. Returns the code, or the status of
// interning an unknown identifier.
int err_raise_id(EngineContext* ctx, const char* identifier, int32_t identifier_length,
                 const char* message, int32_t message_length);

// Makes text (or, when null, the code's table message) the pending error text,
// records code as the current error code with its location and, with position,
// appends " (function;line)".
void err_store(EngineContext* ctx, int32_t code, const char* text, int32_t length,
               bool with_position);

// The text of an error raised by its identifier alone (`error` or `rethrow`
// given no message): the table's message, or the identifier itself when no
// table knows the code; never the text of an earlier error.
void err_store_identified(EngineContext* ctx, int32_t code, const char* identifier, int32_t length);

// Commits the pending text: it becomes the last error text.
void err_clear_location(EngineContext* ctx);

// The code the last error text was stored for; 0 when no text is stored.
int32_t err_last_code(EngineContext* ctx);
// The code of the text raised and not yet reported; 0 when none is pending.
int32_t err_pending_code(EngineContext* ctx);

// The report of an error as zero-terminated text of at most capacity - 1 bytes.
void err_format_report(EngineContext* ctx, int32_t code, bool current, char* buffer,
                       int32_t capacity, int32_t* out_length);

// Prints the report on fd 2 and ends the line; with keep the report is stored
// and committed first.
int err_print(EngineContext* ctx, int32_t code, bool keep);

// Pushes the identifier of code as a char row ("" when it has none).
int err_identifier_text(EngineContext* ctx, int32_t code);

// The error location, shared with the debugger: err_note_location records
// status as the current error code and the innermost frame that runs a known
// function (or was entered from the host); err_state_clear forgets both.
void err_note_location(EngineContext* ctx, int32_t status, int32_t line);
void err_state_clear(EngineContext* ctx);

// The intrinsics lasterr (as_structure false) and lasterror (true): the report
// of the current error, with two outputs also its identifier.
int bi_lasterr_lasterror(EngineContext* ctx, int nargout, bool as_structure);
// The intrinsic rethrow: raises again the error described by the structure on
// top (fields "identifier" and "message"), its message kept exactly.
int bi_rethrow(EngineContext* ctx);
