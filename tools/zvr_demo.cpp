// A short demonstration of the engine as it stands: a block is laid out, a
// built-in table registered and the engine reset; the layout is shown.
#include <cstdio>
#include <memory>

#include "engine/core/context.h"

int main() {
  const uint32_t size = 1u << 20;
  std::unique_ptr<uint64_t[]> block(new uint64_t[size / 8]());
  EngineContext* ctx = nullptr;
  int status = engine_init(block.get(), size, &ctx);
  if (status != kOk) {
    std::fprintf(stderr, "zvr_demo: engine_init failed with status %d\n", status);
    return 1;
  }
  engine_reset(ctx);
  std::printf("%s engine in a block of %u bytes\n", engine_version_string(), size);
  std::printf("  data stack      %u words\n", ctx->data_capacity);
  std::printf("  variable heap   %d words\n", ctx->heap_size);
  std::printf("  descriptors     %u words (base frame %d)\n", ctx->desc_capacity, ctx->desc_top);
  std::printf("  code area       %u words, function table %d entries\n", ctx->code_size, ctx->fn_capacity);
  return 0;
}
