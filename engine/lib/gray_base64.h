// Binary-reflected Gray code on unsigned 32- and 64-bit values, and the
// base64 text encoding of RFC 4648 (standard alphabet, "=" padding, lines of
// 60 characters) over bounded byte buffers.
#pragma once

#include <cstdint>

uint32_t gray_encode32(uint32_t x);
uint32_t gray_decode32(uint32_t x);
uint64_t gray_encode64(uint64_t x);
uint64_t gray_decode64(uint64_t x);

// Encodes len bytes into out (capacity cap): kOk, or kDataStackOverflow when a group and
// its line feed would not fit; *out_len receives the bytes written.
int base64_encode_block(const uint8_t* in, int64_t len, uint8_t* out, int64_t cap, int64_t* out_len);

// Decodes one group of four significant characters from in[*pos] on (blanks
// and control characters skipped), advancing *pos; *produced receives the
// bytes written to out (0 to 3; fewer than four characters before the end
// give the bytes they determine).
void base64_decode_block(const uint8_t* in, int64_t len, int64_t* pos, uint8_t* out, int* produced);

// Decodes a whole text: kOk, or kDataStackOverflow when a group's three bytes would not
// fit in cap; *out_len receives the bytes written.
int base64_decode_buffer(const uint8_t* in, int64_t len, uint8_t* out, int64_t cap, int64_t* out_len);
