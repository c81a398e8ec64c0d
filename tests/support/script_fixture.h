// A started engine for tests that run command lines from source text to the
// end (every time slice) and check the variables left in the base
// workspace. Output on fds 1 and 2 is captured in `out`.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/interp.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"

struct ScriptFixture : ::testing::Test {
  static constexpr uint32_t kSize = 1 << 22;
  std::unique_ptr<uint64_t[]> block{new uint64_t[kSize / 8]()};
  EngineContext* c = nullptr;
  char out[4096] = {};
  uint32_t out_len = 0;
  ScriptFixture() {
    EXPECT_EQ(engine_start(block.get(), kSize, &c), kOk);
    c->capture = CaptureBuffer{out, sizeof out, &out_len};
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
  }
  int line(const std::string& text) {
    int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
    while (status == kSliceEnded) status = interp_run(c, 0);
    return status;
  }
  // The heap block of a base-workspace variable (null when there is none).
  const uint32_t* var(const char* name) {
    uint8_t* table = nullptr;
    int32_t count = 0;
    frame_var_table(c, &table, &count);
    for (int32_t k = 0; k < count; ++k) {
      if (std::strncmp(reinterpret_cast<const char*>(table) + 32 * k, name, 32) != 0) continue;
      const uint32_t index = frame_words(c, 0)[kFrameFixedWords + k];
      return index == uint32_t(-1) ? nullptr : reinterpret_cast<const uint32_t*>(heap_words(c) + index);
    }
    return nullptr;
  }
};
