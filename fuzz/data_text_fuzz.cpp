// libFuzzer target: arbitrary bytes as a data exchange text, read as _xdata
// and as _xdatatype. Every input must give a status; a success leaves exactly
// one value, a failure none, and either way no frame, no code position and
// no lent stack capacity stays behind.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/core/frames.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "runtime/data_text.h"
#include "runtime/runtime_block.h"

namespace {

constexpr uint32_t kBlockBytes = 1u << 20;
constexpr size_t kLongestText = 1 << 16;
char g_sink[1 << 12];
uint32_t g_sink_len = 0;

void require(bool ok) {
  if (!ok) std::abort();
}

RuntimeBlock* started_block() {
  static RuntimeBlock* block = [] {
    RuntimeBlock* b = nullptr;
    void* buffer = std::calloc(1, kBlockBytes);
    require(runtime_block_init(&b, buffer, kBlockBytes, 0, 2) == 0);
    EngineContext* c = rt_engine(b);
    // Error reports of failing bodies go to a sink that is emptied each time.
    c->capture = CaptureBuffer{g_sink, sizeof g_sink, &g_sink_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
    return b;
  }();
  return block;
}

// Descriptor words above the current frame. A body compiled in the workspace
// may add its names to the frame, which then takes more words: the items
// above it are what must not change.
int64_t words_above_frame(EngineContext* c) {
  return c->desc_top - (c->frame + frame_fixed_words(frame_words(c, c->frame)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kLongestText) return 0;
  RuntimeBlock* b = started_block();
  EngineContext* c = rt_engine(b);
  const int64_t words = words_above_frame(c);
  const int32_t frame = c->frame;
  const uint32_t capacity = c->data_capacity;
  for (int32_t code : {kCodeXdata, kCodeXdatatype}) {
    const int32_t data_top = c->data_top;
    const int status = xdata_parse_header(b, code, reinterpret_cast<const char*>(data), int32_t(size));
    require(c->frame == frame && c->data_capacity == capacity && c->pos.kind == kAreaNone);
    if (status == 0) {
      require(words_above_frame(c) == words + 3);
      stk_drop(c);
    }
    require(words_above_frame(c) == words && c->data_top == data_top);
    g_sink_len = 0;
  }
  return 0;
}
