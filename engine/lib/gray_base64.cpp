// Gray code and base64: the routines on plain values and byte buffers, and
// the built-ins graycode/igraycode (in place, class kept) and
// base64encode/base64decode (into a buffer of the free data stack that
// becomes the result string).
#include "engine/lib/gray_base64.h"

#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_shape.h"
#include "engine/lib/bit_ops.h"

namespace {

constexpr uintptr_t kGrayEncode = 'g';
constexpr uintptr_t kBase64Encode = 'e';
constexpr double kTwo32 = 4294967296.0;

constexpr int kGroupBytes = 3;
constexpr int kGroupChars = 4;
constexpr int64_t kLineSpan = 61;  // 60 characters and a line feed
constexpr int kEncodeRoom = kGroupChars + 1;
constexpr uint8_t kLineFeed = 10;
constexpr uint8_t kPad = '=';
constexpr int32_t kWholeFreeSpace = -1;  // string-buffer request: all free space
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
static_assert(sizeof kAlphabet == 65);

// Characters the decoder reads: the digits-to-'z' range, '+' and '/';
// everything else (blanks, line feeds, control characters) is skipped.
bool significant(uint8_t ch) { return (ch >= '0' && ch <= 'z') || ch == '+' || ch == '/'; }

uint32_t sextet(uint8_t ch) {
  if (ch >= 'A' && ch <= 'Z') return ch - 'A';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
  if (ch >= '0' && ch <= '9') return ch - '0' + 52;
  return ch == '+' ? 62 : 63;
}

// The prefix exclusive-or, stopping once the value shifted in is at most 1:
// every later step would shift it out entirely.
template <typename U>
U gray_decode(U x) {
  for (unsigned s = 1; s < 8 * sizeof(U); s *= 2) {
    const U t = static_cast<U>(x >> s);
    x ^= t;
    if (t <= 1) break;
  }
  return x;
}

int run_graycode(EngineContext* ctx, bool encode) {
  TN_TRY(stk_argcheck(ctx, 1, nullptr));
  ArrayArg a;
  if (!array_arg(ctx, 0, &a) || a.cls == ArrayArg::kSingle) return kWrongArgType;
  auto code64 = [encode](uint64_t v) { return encode ? gray_encode64(v) : gray_decode64(v); };
  auto code32 = [encode](uint32_t v) { return encode ? gray_encode32(v) : gray_decode32(v); };
  if (a.cls == ArrayArg::kDouble) {
    uint8_t* out = a.re;
    if (a.cplx) {
      // The result is real: built beside the argument, which then goes.
      uint8_t* unused = nullptr;
      TN_TRY(push_like(ctx, a, shape_of(a), false, &out, &unused));
      array_arg(ctx, 1, &a);
    }
    for (int64_t i = 0; i < a.count; ++i) {
      const uint64_t g = code64(tn::dto_wrap64(tn::ld_f64(a.re + 8 * i)));
      tn::st_f64(out + 8 * i, double(uint32_t(g >> 32)) * kTwo32 + double(uint32_t(g)));
    }
    return a.cplx ? stk_remove(ctx, 1, 1) : kOk;
  }
  for (int64_t i = 0; i < a.count; ++i) {
    uint8_t* e = a.re + int64_t{a.esize} * i;
    switch (a.esize) {
      case 1: tn::store<uint8_t>(e, uint8_t(code32(tn::load<uint8_t>(e)))); break;
      case 2: tn::store<uint16_t>(e, uint16_t(code32(tn::load<uint16_t>(e)))); break;
      case 4: tn::store<uint32_t>(e, code32(tn::load<uint32_t>(e))); break;
      default: tn::store<uint64_t>(e, code64(tn::load<uint64_t>(e))); break;
    }
  }
  return kOk;
}

// Groups of three bytes from in, written at out[*pos] on with a line feed
// before every group that starts at position 60, 121, 182, ...
int encode_groups(const uint8_t* in, int64_t len, uint8_t* out, int64_t cap, int64_t* pos) {
  for (int64_t i = 0; i < len; i += kGroupBytes) {
    if (*pos + kEncodeRoom > cap) return kDataStackOverflow;
    if ((*pos + 1) % kLineSpan == 0) out[(*pos)++] = kLineFeed;
    const int64_t n = len - i < kGroupBytes ? len - i : kGroupBytes;
    uint32_t bits = uint32_t(in[i]) << 16;
    if (n > 1) bits |= uint32_t(in[i + 1]) << 8;
    if (n > 2) bits |= in[i + 2];
    out[(*pos)++] = kAlphabet[bits >> 18 & 63];
    out[(*pos)++] = kAlphabet[bits >> 12 & 63];
    out[(*pos)++] = n > 1 ? kAlphabet[bits >> 6 & 63] : kPad;
    out[(*pos)++] = n > 2 ? kAlphabet[bits & 63] : kPad;
  }
  return kOk;
}

// The low byte of every element of a char, logical or integer array.
uint8_t low_byte(const ArrayArg& a, int64_t i) { return a.re[int64_t{a.esize} * i]; }

int run_base64(EngineContext* ctx, bool encode) {
  TN_TRY(stk_argcheck(ctx, 1, nullptr));
  ArrayArg a;
  if (!array_arg(ctx, 0, &a) || a.cls != ArrayArg::kInt) return kWrongArgType;
  int32_t length = kWholeFreeSpace;
  uint16_t* chars = nullptr;
  TN_TRY(stk_push_str_buffer2(ctx, &length, &chars));
  array_arg(ctx, 1, &a);
  // The input's bytes go to the end of the buffer, the output from its start.
  auto* buffer = reinterpret_cast<uint8_t*>(chars);
  const int64_t room = int64_t{length} - a.count;
  int st = room < 0 ? kDataStackOverflow : kOk;
  int64_t produced = 0;
  if (st == kOk) {
    uint8_t* in = buffer + room;
    for (int64_t i = 0; i < a.count; ++i) in[i] = low_byte(a, i);
    st = encode ? base64_encode_block(in, a.count, buffer, room, &produced)
                : base64_decode_buffer(in, a.count, buffer, room, &produced);
  }
  if (st == kOk) st = stk_shrink_byte_string(ctx, int32_t(produced));
  if (st != kOk) {
    stk_drop(ctx);
    return kDataStackOverflow;
  }
  return stk_remove(ctx, 1, 1);
}

}  // namespace

uint32_t gray_encode32(uint32_t x) { return x ^ (x >> 1); }
uint32_t gray_decode32(uint32_t x) { return gray_decode(x); }
uint64_t gray_encode64(uint64_t x) { return x ^ (x >> 1); }
uint64_t gray_decode64(uint64_t x) { return gray_decode(x); }

int base64_encode_block(const uint8_t* in, int64_t len, uint8_t* out, int64_t cap, int64_t* out_len) {
  *out_len = 0;
  return encode_groups(in, len, out, cap, out_len);
}

void base64_decode_block(const uint8_t* in, int64_t len, int64_t* pos, uint8_t* out, int* produced) {
  uint8_t got[kGroupChars] = {};
  int n = 0;
  while (n < kGroupChars) {
    while (*pos < len && !significant(in[*pos]) && in[*pos] != kPad) ++*pos;
    if (*pos >= len) break;
    got[n++] = in[(*pos)++];
  }
  uint32_t bits = 0;
  for (int k = 0; k < kGroupChars; ++k) bits = bits << 6 | (k < n ? sextet(got[k]) : 0);
  // Two characters determine one byte, three two, four three; "=" in the
  // third or fourth place ends the group's bytes early.
  int bytes = n < 2 ? 0 : n - 1;
  if (n >= 3 && got[2] == kPad) bytes = 1;
  else if (n == 4 && got[3] == kPad) bytes = 2;
  for (int k = 0; k < bytes; ++k) out[k] = uint8_t(bits >> (16 - 8 * k));
  *produced = bytes;
}

int base64_decode_buffer(const uint8_t* in, int64_t len, uint8_t* out, int64_t cap, int64_t* out_len) {
  *out_len = 0;
  int64_t pos = 0;
  int produced = kGroupBytes;
  while (produced == kGroupBytes && pos < len) {
    if (*out_len + kGroupBytes > cap) return kDataStackOverflow;
    base64_decode_block(in, len, &pos, out + *out_len, &produced);
    *out_len += produced;
  }
  return kOk;
}

int bi_graycode(EngineContext* ctx, int nargin, int, uintptr_t data) {
  if (nargin != 1 || !stk_has_item(ctx, 0)) return kBadArgument;
  return run_graycode(ctx, data == kGrayEncode);
}

int bi_base64encode(EngineContext* ctx, int nargin, int, uintptr_t data) {
  if (nargin != 1 || !stk_has_item(ctx, 0)) return kBadArgument;
  return run_base64(ctx, data == kBase64Encode);
}
