// Code positions: the areas compiled code can run from (the code area, the
// data stack, the heap and the engine's static code) and the conversions
// between a stored position and an instruction pointer. A position is an
// offset, so that it survives the block moving; a pointer lives only inside
// one step of the loop.
#include "engine/core/code_position.h"

#include "engine/core/heap.h"
#include "engine/core/opcodes.h"
#include "engine/core/value_stack.h"

namespace {

// The static code block: sequences that frames return into (a task's first
// call returns into the task end at byte 2).
constexpr uint16_t kStaticCode[] = {kOpHalt, kOpTaskEnd, kOpNop, kOpNop};

}  // namespace

const uint8_t* code_area_base(EngineContext* ctx, int32_t kind, int64_t* bytes) {
  switch (kind) {
    case kAreaCode:
      *bytes = int64_t(ctx->code_size) * 2;
      return reinterpret_cast<const uint8_t*>(code_words(ctx));
    case kAreaDataStack:
      *bytes = int64_t(ctx->data_capacity) * 8;
      return reinterpret_cast<const uint8_t*>(data_words(ctx));
    case kAreaHeap:
      *bytes = int64_t(ctx->heap_size) * 8;
      return reinterpret_cast<const uint8_t*>(heap_words(ctx));
    case kAreaStatic:
      *bytes = int64_t(sizeof kStaticCode);
      return reinterpret_cast<const uint8_t*>(kStaticCode);
    default:
      *bytes = 0;
      return nullptr;
  }
}

const uint16_t* code_get_pc(EngineContext* ctx) {
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, ctx->pos.kind, &bytes);
  // An offset outside its area (or odd) names no code.
  if (!base || ctx->pos.offset % 2 != 0 || int64_t(ctx->pos.offset) + 2 > bytes) return nullptr;
  return reinterpret_cast<const uint16_t*>(base + ctx->pos.offset);
}

void code_set_pc(EngineContext* ctx, const uint16_t* pc) {
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, ctx->pos.kind, &bytes);
  if (!base) return;
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(pc) - base);
}
