// The "md5" and "sha1" built-ins: one body for both digests, told apart by a
// small record of the digest's operations. The input is read where it lies and
// stays on the stack until the result has been pushed, so a failure leaves the
// stacks as they were; a stream is read through all the free data-stack space.
#include <algorithm>
#include <cstdint>

#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "numlib/misc/digest.h"

namespace {

// The smallest read buffer a stream is hashed through.
constexpr int64_t kMinReadBuffer = 8;
// Characters narrowed to bytes per feeding step.
constexpr int kCharChunk = 512;
// io_read takes an int32 capacity; keep whole words.
constexpr int64_t kMaxReadChunk = int64_t{INT32_MAX} & ~int64_t{7};

// Either digest behind one interface: the built-in does not care which.
struct DigestOps {
  void (*init)(void* state);
  void (*update)(void* state, const uint8_t* bytes, uint64_t length);
  void (*finish_hex)(void* state, char* out);
  int hex_chars;
};

union AnyDigest {
  Md5Context md5;
  Sha1Context sha1;
};

const DigestOps kMd5Ops = {
    [](void* s) { md5_init(static_cast<Md5Context*>(s)); },
    [](void* s, const uint8_t* b, uint64_t n) { md5_update(static_cast<Md5Context*>(s), b, n); },
    [](void* s, char* out) {
      md5_final(static_cast<Md5Context*>(s));
      md5_hex(static_cast<Md5Context*>(s), out);
    },
    kMd5HexChars};

const DigestOps kSha1Ops = {
    [](void* s) { sha1_init(static_cast<Sha1Context*>(s)); },
    [](void* s, const uint8_t* b, uint64_t n) { sha1_update(static_cast<Sha1Context*>(s), b, n); },
    [](void* s, char* out) {
      sha1_final(static_cast<Sha1Context*>(s));
      sha1_hex_digest(static_cast<Sha1Context*>(s), out);
    },
    kSha1HexChars};

// A char array: each 16-bit character narrowed to its low byte, the engine's
// conversion of text to 8-bit strings, without touching the input.
void feed_chars(const DigestOps& ops, void* state, const TypedView& t) {
  uint8_t chunk[kCharChunk];
  for (int64_t at = 0; at < t.count;) {
    const int64_t n = std::min<int64_t>(kCharChunk, t.count - at);
    for (int64_t i = 0; i < n; ++i) chunk[i] = uint8_t(tn::load<uint16_t>(t.elems + 2 * (at + i)));
    ops.update(state, chunk, uint64_t(n));
    at += n;
  }
}

// A stream to its end, read into the free data-stack space.
int feed_stream(EngineContext* ctx, const DigestOps& ops, void* state, int32_t fd) {
  int64_t free_bytes = 0;
  void* buffer = nullptr;
  TN_TRY(stk_free_space(ctx, &free_bytes, &buffer));
  if (free_bytes < kMinReadBuffer) return kStackOverflow;
  io_control(ctx, fd, kIoReqRawRead, 0, nullptr, nullptr);  // only announces the raw read
  // The control hook may have used the stack: ask again for the space.
  TN_TRY(stk_free_space(ctx, &free_bytes, &buffer));
  if (free_bytes < kMinReadBuffer) return kStackOverflow;
  const int32_t capacity = int32_t(std::min(free_bytes, kMaxReadChunk));
  for (;;) {
    int32_t count = 0;
    const int status = io_read(ctx, fd, static_cast<char*>(buffer), capacity, 0, &count);
    if (status == kEndOfFile) {
      if (count > 0) ops.update(state, static_cast<const uint8_t*>(buffer), uint64_t(count));
      return kOk;
    }
    if (status != kOk) return status;
    if (count > 0) ops.update(state, static_cast<const uint8_t*>(buffer), uint64_t(count));
    if (poll_abort(ctx)) return kAborted;
  }
}

int digest_builtin(EngineContext* ctx, int nargin, const DigestOps& ops) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 1) return kTooManyInputs;
  AnyDigest any;
  void* state = &any;
  ops.init(state);
  TypedView t{};
  const bool typed = typed_view(ctx, 0, &t);
  if (typed && stk_is_char(ctx, 0)) {
    feed_chars(ops, state, t);
  } else if (typed && t.subtype == kPayNumeric && elem_is_integer(t.type)) {
    // All bytes of the elements, little-endian as they are stored.
    ops.update(state, t.elems, uint64_t(t.count) * t.size);
  } else {
    int32_t fd = 0;
    const int status = stk_get_int(ctx, 0, &fd);
    if (status == kWrongType) return kWrongArgType;
    TN_TRY(status);
    TN_TRY(feed_stream(ctx, ops, state, fd));
  }
  char hex[kSha1HexChars];
  ops.finish_hex(state, hex);
  TN_TRY(stk_push_cstr(ctx, ops.hex_chars, hex));
  stk_replace_with_top(ctx, 0);
  return kOk;
}

}  // namespace

int bi_md5(EngineContext* ctx, int nargin, int, uintptr_t) { return digest_builtin(ctx, nargin, kMd5Ops); }
int bi_sha1(EngineContext* ctx, int nargin, int, uintptr_t) { return digest_builtin(ctx, nargin, kSha1Ops); }
