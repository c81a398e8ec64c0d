// UTF-8 bytes turned into the 16-bit text that Qt shows, and back. One
// decoder serves the drawing driver (every byte kept: a byte that cannot be
// decoded becomes a character of its own) and the host's windows (such bytes
// skipped); encoding writes surrogate pairs as four-byte sequences.
#pragma once

#include <cstdint>

#include <QByteArray>
#include <QString>

// What the decoder does with a byte that starts no well-formed sequence.
enum class Utf8Malformed { kTakeByte, kSkip };

// Converts length bytes of UTF-8 into out (replacing its contents) under the
// given policy. A negative length counts as empty.
void utf8_decode(const char* bytes, int32_t length, Utf8Malformed policy, QString* out);

// Converts length bytes of UTF-8 into out (replacing its contents).
// Well-formed 2- and 3-byte sequences become one character, well-formed
// 4-byte sequences a surrogate pair; every other byte (a stray continuation
// byte, a truncated, overlong or surrogate sequence, 0xF5 to 0xFF) is taken
// on its own as the character of the same value. A negative length counts as
// empty.
void cstring_from_utf8(const char* bytes, int32_t length, QString* out);

// The host's conversions: malformed bytes skipped.
QString cstring_from_bytes(const char* bytes, int32_t length);
QString cstring_from_cstr(const char* bytes);  // ended by a zero byte; null is empty
// UTF-8 of text (no terminating zero in the count; QByteArray keeps one after
// its data). A well-formed surrogate pair becomes one four-byte sequence; a
// lone surrogate is encoded on its own in three bytes.
QByteArray cstring_to_bytes(const QString& text);
// The longest prefix of length bytes that is at most capacity bytes and does
// not end inside a multi-byte sequence.
int32_t utf8_cut_length(const char* bytes, int32_t length, int32_t capacity);

// A Qt size (64 bits) as the runtime's 32-bit length, clamped to the largest
// one: a text cut to a capacity is read no further than the capacity, and a
// text that must go whole is refused before (runtime_length_fits).
int32_t runtime_length(qsizetype size);
bool runtime_length_fits(qsizetype size);
