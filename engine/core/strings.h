// Small string routines shared by the whole engine: bounded copying,
// comparison and search of 8-bit text, appending into bounded buffers, and the
// conversion between 16-bit characters and bytes through the character set.
// Every appender stops at its capacity; the text appenders keep the last byte
// free for the caller's terminator.
#pragma once

#include <cstdint>

#include "engine/core/newline.h"

struct EngineContext;

// A negative length passed with 8-bit text means "runs to its zero byte".

// Copies min(capacity, length) bytes, correct for overlapping areas, and adds
// a zero byte when fewer than capacity bytes were copied. Returns the count
// copied.
int32_t str_copy_n(char* dest, int32_t capacity, const char* src, int32_t length);

// Same length and bytes; ignore_case folds only A-Z. A zero-terminated side
// must end exactly where the other side's explicit length ends.
bool str_equal(const char* a, int32_t length_a, const char* b, int32_t length_b, bool ignore_case);

int32_t str_len(const char* text);

// Offset of the first occurrence of the pattern, -1 when absent; an empty
// pattern is found at 0.
int32_t str_find(const char* text, int32_t length, const char* pattern, int32_t pattern_length);

// Copies while *pos + 1 < capacity; returns where in the text it stopped (the
// zero byte when all of it was copied).
const char* buf_append_cstr(char* buf, int32_t* pos, const char* text, int32_t capacity);
// Copies up to count bytes while *pos + 1 < capacity; returns the count written.
int32_t buf_append_n(char* buf, int32_t* pos, const char* bytes, int32_t count, int32_t capacity);
// Appends the byte up to count times while *pos + 1 < capacity; returns the
// count written.
int32_t buf_append_repeat(char* buf, int32_t* pos, char byte, int32_t count, int32_t capacity);
// The same for 16-bit characters (capacity in characters).
int32_t wbuf_append_repeat(uint16_t* buf, int32_t* pos, uint16_t ch, int32_t count, int32_t capacity);

// The most bytes a charset encoder writes for one character.
constexpr int32_t kMaxEncodedBytes = 3;

// UTF-8 bytes of one 16-bit unit (1 to 3), and their unbounded writer: out
// must hold utf8_length(ch) bytes; returns that count.
int32_t utf8_length(uint16_t ch);
int32_t utf8_put(uint8_t* out, uint16_t ch);

// Appends ch as 1 to 3 bytes of UTF-8 when *pos + 3 < capacity (room for the
// longest form and a terminator); else writes nothing and returns false.
// Surrogates are encoded one unit at a time.
bool buf_append_utf8(uint8_t* buf, int32_t* pos, uint16_t ch, int32_t capacity);

// Decodes one UTF-8 character of at most 3 bytes at *pos (pos may be null:
// position 0) and advances the position; false for a byte that starts no
// valid sequence (the position then moves by one, the character is untouched).
bool utf8_next_char(const uint8_t* bytes, int32_t length, int32_t* pos, uint16_t* out);

// Length of a leading UTF-8 byte-order mark (3 or 0).
int32_t utf8_bom_length(const uint8_t* bytes, int32_t length);

// Double-byte character set: bytes below 128 are single characters, any other
// byte leads a pair (lead * 256 + trail). A lead byte with nothing after it
// yields kReplacementChar and advances by one, so decoding loops always end.
constexpr uint16_t kReplacementChar = 0xfffd;
bool dbcs_next_char(const uint8_t* bytes, uint16_t* out, int32_t* pos, int32_t length);
// Appends one or two bytes below the capacity; false when they do not fit.
bool buf_append_dbcs(uint16_t ch, uint8_t* buf, int32_t* pos, int32_t capacity);

// Sets the context's charset slots (context.h gives their calling
// conventions): 'u' UTF-8, 's' and 'G' double-byte, anything else none (each
// character is its low byte, each byte a character). The 'u' encoder reports
// a character it had no room for as not written.
void engine_set_charset(EngineContext* ctx, char mode);

// Narrows 16-bit text that becomes source or a name (eval text, function and
// field names) to one byte a character. A character above 255 has no byte:
// cutting it to its low byte would turn U+0127 into a quote or char(353) into
// 'a', so it is refused with kUnknownCharset and nothing is written. The
// characters may lie at any address.
int wchars_to_name_bytes(const void* chars, int64_t count, char* out);

// Line-feed translation of wstr_to_bytes: the modes of newline.h.

// Converts 16-bit text for export: line feeds by the newline mode, every other
// character through the charset encoder (or its low byte without one). The
// bytes always end with a zero byte (capacity >= 1); *count excludes it.
// Returns true when all of the text fit. The buffer may hold the text itself:
// the text is then moved to the buffer's end first (at most capacity / 2 - 5
// characters of it), and the conversion stops rather than overwrite
// characters it has not read yet.
bool wstr_to_bytes(EngineContext* ctx, int newline_mode, const uint16_t* text, int32_t length,
                   uint8_t* buf, int32_t capacity, int32_t* count);
