// UTF-8 bytes from the graphics layer turned into the 16-bit text that Qt
// draws. Never fails: every input byte ends up in the output, as part of a
// decoded character or, when it cannot be decoded, as a character of its own.
#pragma once

#include <cstdint>

#include <QString>

// Converts length bytes of UTF-8 into out (replacing its contents).
// Well-formed 2- and 3-byte sequences become one character, well-formed
// 4-byte sequences a surrogate pair; every other byte (a stray continuation
// byte, a truncated, overlong or surrogate sequence, 0xF5 to 0xFF) is taken
// on its own as the character of the same value. A negative length counts as
// empty.
void cstring_from_utf8(const char* bytes, int32_t length, QString* out);
