// Small string routines shared by the whole engine: bounded copying,
// comparison and search of 8-bit text, appending into bounded buffers, and the
// conversion between 16-bit characters and bytes through the character set.
#pragma once

#include <cstdint>

// Decodes one UTF-8 character of at most 3 bytes at *pos (pos may be null:
// position 0) and advances the position; false for a byte that starts no
// valid sequence (the position then moves by one, the character is untouched).
bool utf8_next_char(const uint8_t* bytes, int32_t length, int32_t* pos, uint16_t* out);
