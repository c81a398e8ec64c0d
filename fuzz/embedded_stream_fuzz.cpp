// libFuzzer target: arbitrary bytes as embedded data, read through the
// stream hooks in text or base64 mode under a script of reads, seeks, tells,
// end tests and closes. Byte 0 picks the mode, bytes 1-2 the data's length;
// the data follows, then three-byte steps {request, value (int16)}. Every
// step must answer one of the hooks' statuses, deliver no more than asked,
// and keep tell within the data's decoded length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "fuzz/fuzz_runtime_block.h"
#include "runtime/embedded_streams.h"
#include "runtime/instances.h"
#include "tools/imagetools/image_builder.h"

namespace {

using fuzzblock::require;

constexpr size_t kHead = 3;
constexpr size_t kStep = 3;
constexpr int32_t kBuffer = 64;

bool hook_status(int s) { return s == kOk || s == kEndOfFile || s == kNotMyDescriptor || s == kReadWriteError; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  const bool base64 = (data[0] & 1) != 0;
  const size_t length = std::min<size_t>(size - kHead, size_t(data[1]) | size_t(data[2]) << 8);
  std::string escaped;
  for (size_t k = 0; k < length; ++k) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", data[kHead + k]);
    escaped += hex;
  }
  // The builder resets instances through the block word, which is global.
  RuntimeBlock** handle = fuzzblock::fresh_block(fuzzblock::kMaxBytes);
  {
    tnbuild::Builder builder(*handle, {});
    require(builder.build("instance f\nembed \"d\" \"" + escaped + "\"\n"));
  }
  RuntimeBlock* b = *handle;
  b->h.user = CallContext{b, 0, 0, 0, 0};
  EngineContext* c = rt_engine(b);
  const uintptr_t cc = reinterpret_cast<uintptr_t>(&b->h.user);
  require(stk_push_cstr(c, 1, "d") == kOk);
  if (base64) require(stk_push_cstr(c, 6, "base64") == kOk);
  require(bi_efopen(c, base64 ? 2 : 1, 1, cc) == kOk);
  const int32_t fd = b->h.streams.base;
  for (size_t at = kHead + length; at + kStep <= size; at += kStep) {
    const uint8_t request = data[at] % 8;
    const int16_t value = int16_t(uint16_t(data[at + 1]) | uint16_t(data[at + 2]) << 8);
    uint32_t word = uint32_t(int32_t(value));
    int status = kOk;
    if (request == 6) {
      char buffer[kBuffer];
      int32_t count = -1;
      const int32_t want = int32_t(uint16_t(value) % kBuffer);
      status = rt_embedded_read(c, fd, buffer, want, &count, cc);
      require(count >= 0 && count <= want);
      require(status != kOk || count > 0 || want == 0);
    } else if (request == 7) {
      status = rt_embedded_close(c, value < 0 ? -1 : fd, cc);
      if (status == kOk || value < 0) {
        // Open again, so the script goes on.
        require(stk_push_cstr(c, 1, "d") == kOk);
        if (base64) require(stk_push_cstr(c, 6, "base64") == kOk);
        require(bi_efopen(c, base64 ? 2 : 1, 1, cc) == kOk);
        stk_drop(c);
      }
      continue;
    } else {
      status = rt_embedded_control(c, fd, request, &word, cc);
      if (request == kIoReqTell && status == kOk) require(word <= length);
    }
    require(hook_status(status) || status == kIllegalError);
  }
  fuzzblock::release_block();
  return 0;
}
