// libFuzzer target: arbitrary bytes as the data of two embedded records, "d"
// and "e", read by two streams open at once (each text or base64, the second
// on either record) under a script of reads, seeks, tells, end tests, other
// control codes, writes, closes and reopens, opens with an unknown mode or
// name, and opens until every slot is taken. Every answer is checked against
// a model of each stream: the exact status, the bytes delivered, the
// position and the end test after each step.
// Input: byte 0 flags (bit 0 the first stream base64, bit 1 the second
// base64, bit 2 the second on "d"), bytes 1-2 and 3-4 the lengths of "d" and
// "e" (little-endian), their data, then three-byte steps {op, value (int16)}.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "fuzz/embedded_stream_model.h"
#include "fuzz/fuzz_runtime_block.h"
#include "runtime/embedded_streams.h"
#include "runtime/instances.h"
#include "tools/imagetools/image_builder.h"

namespace {

using fuzzblock::require;

constexpr size_t kHead = 5;
constexpr size_t kStep = 3;
constexpr int32_t kBuffer = 64;
constexpr int kTooManyOpenFiles = 304;

// The low four bits of a step's op; bit 4 picks the second stream.
enum Op : uint8_t {
  kOpControl = 5,       // 0 to 5: that request with the value
  kOpRead = 6,          // value % 64 bytes
  kOpClose = 7,         // negative value: descriptor -1, then both open again
  kOpOtherCode = 8,     // a request past the seeks
  kOpFill = 9,          // open until no slot is free, then close those
  kOpBadMode = 10,      // efopen with a mode other than the two: 108
  kOpWrite = 11,        // 302 in the block, 301 outside it
  kOpBadName = 12,      // efopen of a name no record has: 300
  kOpNotAStream = 13,   // hooks on a descriptor that is no open stream: 301
  kOpFarSeek = 14,      // value % 3 picks the origin, value * 4096 the offset
};
constexpr int32_t kFarSeekScale = 4096;  // two such seeks forward pass the farthest text position
constexpr uint8_t kSecond = 0x10;

std::string escaped(const uint8_t* bytes, size_t length) {
  std::string out;
  for (size_t k = 0; k < length; ++k) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", bytes[k]);
    out += hex;
  }
  return out;
}

struct Run {
  EngineContext* c;
  uintptr_t cc;
  int32_t base;

  // efopen(name[, mode]): its status and, on success, the descriptor; the
  // stack as it was either way.
  int open(const char* name, const char* mode, int32_t* fd) const {
    const int nargin = mode ? 2 : 1;
    require(stk_push_cstr(c, int32_t(std::strlen(name)), name) == kOk);
    if (mode) require(stk_push_cstr(c, int32_t(std::strlen(mode)), mode) == kOk);
    const int status = bi_efopen(c, nargin, 1, cc);
    if (status != kOk) {
      for (int k = 0; k < nargin; ++k) stk_drop(c);
      return status;
    }
    double v = 0;
    require(stk_get_real_scalar(c, 0, &v) == kOk);
    stk_drop(c);
    *fd = int32_t(v);
    return kOk;
  }
};

struct Stream {
  const char* name;
  bool base64;
  int32_t fd;
  EmbeddedStreamModel model;
};

// The stream's position and end test against its model.
void check_position(const Run& r, const Stream& s) {
  uint32_t word = 0xFFFFFFFFu;
  require(rt_embedded_control(r.c, s.fd, kIoReqTell, &word, r.cc) == kOk && int64_t(word) == s.model.at);
  word = 7;
  require(rt_embedded_control(r.c, s.fd, kIoReqEof, &word, r.cc) == kOk && word == (s.model.at_end() ? 1u : 0u));
}

void check_read(const Run& r, Stream* s, int32_t want) {
  char buffer[kBuffer];
  int32_t count = -1;
  const int status = rt_embedded_read(r.c, s->fd, buffer, want, &count, r.cc);
  std::string expected;
  for (int b; int32_t(expected.size()) < want && (b = s->model.next()) >= 0;) expected += char(b);
  require(status == (expected.empty() ? kEndOfFile : kOk));
  require(count == int32_t(expected.size()) && std::memcmp(buffer, expected.data(), expected.size()) == 0);
}

void reopen(const Run& r, Stream* s) {
  int32_t fd = -1;
  require(r.open(s->name, s->base64 ? "base64" : nullptr, &fd) == kOk);
  require(fd >= r.base && fd < r.base + kEmbeddedSlots);
  s->fd = fd;
  s->model.at = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  const uint8_t flags = data[0];
  const size_t d_length = std::min<size_t>(size - kHead, size_t(data[1]) | size_t(data[2]) << 8);
  const size_t e_length = std::min<size_t>(size - kHead - d_length, size_t(data[3]) | size_t(data[4]) << 8);
  const uint8_t* d = data + kHead;
  const uint8_t* e = d + d_length;
  // The builder resets instances through the block word, which is global.
  RuntimeBlock** handle = fuzzblock::fresh_block(fuzzblock::kMaxBytes);
  {
    // A later record of the same name and another instance's are never read.
    tnbuild::Builder builder(*handle, {});
    require(builder.build("instance f\nembed \"d\" \"" + escaped(d, d_length) + "\"\nembed \"e\" \"" +
                          escaped(e, e_length) + "\"\nembed \"d\" \"zz\"\ninstance g\nembed \"d\" \"other\"\n"));
  }
  RuntimeBlock* b = *handle;
  b->h.user = CallContext{b, 0, 0, 0, 0};
  Run r{rt_engine(b), reinterpret_cast<uintptr_t>(&b->h.user), 0};
  const std::string d_text(reinterpret_cast<const char*>(d), d_length);
  const std::string e_text(reinterpret_cast<const char*>(e), e_length);
  const bool second_on_d = (flags & 4) != 0;
  Stream streams[2] = {
      {"d", (flags & 1) != 0, -1, EmbeddedStreamModel::of(d_text, (flags & 1) != 0)},
      {second_on_d ? "d" : "e", (flags & 2) != 0, -1,
       EmbeddedStreamModel::of(second_on_d ? d_text : e_text, (flags & 2) != 0)},
  };
  // The first open reserves the descriptor block.
  r.base = b->h.stream_base;
  require(r.base == 0 && r.open(streams[0].name, streams[0].base64 ? "base64" : nullptr, &streams[0].fd) == kOk);
  r.base = b->h.stream_base;
  require(r.base >= kFdFirstLibrary && streams[0].fd == r.base);
  reopen(r, &streams[1]);
  require(streams[1].fd == r.base + 1);

  for (size_t at = kHead + d_length + e_length; at + kStep <= size; at += kStep) {
    const uint8_t op = data[at] & 0x0F;
    Stream& s = streams[(data[at] & kSecond) ? 1 : 0];
    const int16_t value = int16_t(uint16_t(data[at + 1]) | uint16_t(data[at + 2]) << 8);
    uint32_t word = uint32_t(int32_t(value));
    switch (op) {
      case kIoReqEof:
      case kIoReqTell: {
        require(rt_embedded_control(r.c, s.fd, op, &word, r.cc) == kOk);
        require(int64_t(word) == (op == kIoReqTell ? s.model.at : int64_t(s.model.at_end())));
        break;
      }
      case kIoReqSeekSet:
      case kIoReqSeekCur:
      case kIoReqSeekEnd:
      case kOpFarSeek: {
        const bool far = op == kOpFarSeek;
        const uint32_t request = far ? kIoReqSeekSet + uint16_t(value) % 3 : op;
        const int32_t offset = far ? int32_t(value) * kFarSeekScale : value;
        word = uint32_t(offset);
        const bool ok = s.model.seek(request, offset);
        require(rt_embedded_control(r.c, s.fd, request, &word, r.cc) == (ok ? kOk : kReadWriteError));
        break;
      }
      case kOpControl:
      case kOpOtherCode: {
        // Past the seeks: text answers 0 to all and base64 to a flush alone,
        // neither changing anything.
        const uint32_t code = op == kOpControl ? kIoReqFlush : value >= 0 ? kIoReqFlush + uint32_t(value) : word;
        const uint32_t before = word;
        const int status = rt_embedded_control(r.c, s.fd, code, &word, r.cc);
        require(status == (!s.base64 || code == kIoReqFlush ? kOk : kIllegalError) && word == before);
        break;
      }
      case kOpClose: {
        if (value < 0) {
          require(rt_embedded_close(r.c, kCloseAllFd, r.cc) == kNotMyDescriptor);
          for (const Stream& t : streams) require(rt_embedded_close(r.c, t.fd, r.cc) == kNotMyDescriptor);
          reopen(r, &streams[0]);
          reopen(r, &streams[1]);
          require(streams[0].fd == r.base && streams[1].fd == r.base + 1);
          break;
        }
        const int32_t fd = s.fd;
        require(rt_embedded_close(r.c, fd, r.cc) == kOk);
        require(rt_embedded_close(r.c, fd, r.cc) == kNotMyDescriptor);
        int32_t count = 0;
        char buffer[1];
        require(rt_embedded_read(r.c, fd, buffer, 1, &count, r.cc) == kNotMyDescriptor && count == 0);
        reopen(r, &s);
        require(s.fd == fd);  // the first free slot is the one just closed
        break;
      }
      case kOpFill: {
        // The other streams take two slots: thirty more open, the next is refused.
        int32_t extra[kEmbeddedSlots + 1];
        int n = 0, status = kOk;
        while (n <= kEmbeddedSlots && (status = r.open(value < 0 ? "e" : "d", nullptr, &extra[n])) == kOk) {
          require(extra[n] >= r.base && extra[n] < r.base + kEmbeddedSlots);
          ++n;
        }
        require(status == kTooManyOpenFiles && n == kEmbeddedSlots - 2);
        for (int k = 0; k < n; ++k) require(rt_embedded_close(r.c, extra[k], r.cc) == kOk);
        break;
      }
      case kOpBadMode: {
        static const char* const modes[] = {"binary", "", "Base64", "text ", "base6", "texts", "TEXT", "base64\n"};
        int32_t fd = -1;
        require(r.open("d", modes[uint16_t(value) % 8], &fd) == kUnknownOption);
        break;
      }
      case kOpBadName: {
        static const char* const names[] = {"x", "", "dd", "D", "other"};
        int32_t fd = -1;
        require(r.open(names[uint16_t(value) % 5], nullptr, &fd) == kFileNotFound);
        break;
      }
      case kOpWrite: {
        const int32_t fd = value < 0 ? r.base + kEmbeddedDescriptors + (-int32_t(value)) : r.base + value % 1024;
        const bool mine = fd < r.base + kEmbeddedDescriptors;
        require(rt_embedded_write(r.c, fd, "x", 1, r.cc) == (mine ? kReadWriteError : kNotMyDescriptor));
        break;
      }
      case kOpNotAStream: {
        // Slots past the 32, descriptors below and above the block; -1
        // closes every stream, so it is left to the close step.
        int32_t fd = value < 0 ? r.base - 1 + int32_t(value) : r.base + kEmbeddedSlots + value % 2000;
        if (fd == kCloseAllFd) fd = -2;
        int32_t count = -1;
        char buffer[1];
        require(rt_embedded_read(r.c, fd, buffer, 1, &count, r.cc) == kNotMyDescriptor && count == 0);
        require(rt_embedded_control(r.c, fd, kIoReqTell, &word, r.cc) == kNotMyDescriptor);
        require(rt_embedded_close(r.c, fd, r.cc) == kNotMyDescriptor);
        break;
      }
      default: check_read(r, &s, int32_t(uint16_t(value) % kBuffer)); break;
    }
    check_position(r, s);
  }
  fuzzblock::release_block();
  return 0;
}
