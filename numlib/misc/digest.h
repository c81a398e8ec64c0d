// MD5 and SHA-1 message digests over incremental contexts (initialise, feed
// bytes, finish), and the "md5" and "sha1" built-ins that hash strings,
// integer arrays and whole streams. The byte count is 64-bit, so streams of
// any length get the standard digests.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kDigestBlockBytes = 64;
constexpr int kMd5StateWords = 4;
constexpr int kSha1StateWords = 5;
constexpr int kMd5HexChars = 32;
constexpr int kSha1HexChars = 40;

struct Md5Context {
  uint32_t state[kMd5StateWords];
  uint8_t buffer[kDigestBlockBytes];
  uint32_t buffered;  // bytes in buffer, below 64
  uint64_t count;     // bytes fed
};

struct Sha1Context {
  uint32_t state[kSha1StateWords];
  uint8_t buffer[kDigestBlockBytes];
  uint32_t buffered;
  uint64_t count;
};

void md5_init(Md5Context* m);
void md5_update(Md5Context* m, const uint8_t* bytes, uint64_t length);
void md5_transform(Md5Context* m, const uint8_t* block);
void md5_final(Md5Context* m);
// 32 lower-case hexadecimal digits, no terminator.
void md5_hex(const Md5Context* m, char* out);

void sha1_init(Sha1Context* s);
void sha1_update(Sha1Context* s, const uint8_t* bytes, uint64_t length);
void sha1_transform(Sha1Context* s, const uint8_t* block);
void sha1_final(Sha1Context* s);
// 40 lower-case hexadecimal digits, no terminator.
void sha1_hex_digest(const Sha1Context* s, char* out);

// md5(x), sha1(x): x a string, an integer array or a file descriptor; the
// digest as a char row of lower-case hexadecimal digits.
int bi_md5(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_sha1(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
