// The debugger's state: the breakpoint list is a variable-heap block of
// {function id, line} pairs whose room grows in steps of kBreakpointRoomStep
// (so the room is the count rounded up to the step); the block is read by
// index each time, since an allocation may move the heap.
#include "engine/core/debug_state.h"

#include "engine/core/calls.h"
#include "engine/core/checked.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/status.h"

namespace {

constexpr int32_t kNoList = -1;
constexpr int32_t kNameBytes = 64;

uint8_t* entry(EngineContext* ctx, int32_t i) {
  return reinterpret_cast<uint8_t*>(heap_words(ctx) + ctx->bp_list) + kBreakpointEntryBytes * int64_t(i);
}

void free_list(EngineContext* ctx) {
  if (ctx->bp_list > 0) heap_free(ctx, ctx->bp_list);
  ctx->bp_list = kNoList;
  ctx->bp_count = 0;
}

int32_t previous(const uint32_t* w, int32_t index) {
  const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
  return (prev >= 0 && prev < index) ? int32_t(prev) : -1;
}

}  // namespace

int dbg_find_function(EngineContext* ctx, const char* name, int32_t length, int32_t* id) {
  *id = -1;
  const int32_t library = fn_library_of(ctx, frame_current_function(ctx));
  if (length > 0 && fn_find_user_simple(ctx, name, length, library, id) == kOk && *id > 0) return kOk;
  *id = -1;
  char text[kNameBytes];
  const int32_t n = length < 0 ? 0 : (length < kNameBytes - 1 ? length : kNameBytes - 1);
  for (int32_t i = 0; i < n; ++i) text[i] = name[i];
  text[n] = 0;
  return err_raise_code(ctx, kUndefinedFunction, -1, 0, -1, text);
}

int dbg_breakpoint_add(EngineContext* ctx, const char* name, int32_t length, int32_t line) {
  int32_t id = -1;
  TN_TRY(dbg_find_function(ctx, name, length, &id));
  const int32_t count = ctx->bp_list > 0 ? ctx->bp_count : 0;
  if (count % kBreakpointRoomStep == 0) {
    // Full (or none yet): a block with room for one more step.
    int32_t index = 0;
    TN_TRY(heap_alloc(ctx, count + kBreakpointRoomStep, &index));
    uint64_t* heap = heap_words(ctx);
    for (int32_t w = 0; w < count; ++w) tn::store<uint64_t>(heap + index + w, tn::load<uint64_t>(heap + ctx->bp_list + w));
    if (ctx->bp_list > 0) heap_free(ctx, ctx->bp_list);
    ctx->bp_list = index;
  }
  tn::st_i32(entry(ctx, count), id);
  tn::st_i32(entry(ctx, count) + 4, line);
  ctx->bp_count = count + 1;
  return kOk;
}

int dbg_breakpoint_remove(EngineContext* ctx, const char* name, int32_t length, int32_t line) {
  const int32_t count = ctx->bp_list > 0 ? ctx->bp_count : 0;
  if (!name) {
    if (line < 0) {
      free_list(ctx);
      return kOk;
    }
    if (line >= count) return kArgOutOfRange;
    for (int32_t i = line; i + 1 < count; ++i) tn::store<uint64_t>(entry(ctx, i), tn::load<uint64_t>(entry(ctx, i + 1)));
    ctx->bp_count = count - 1;
  } else {
    int32_t id = -1;
    TN_TRY(dbg_find_function(ctx, name, length, &id));
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i) {
      const bool match = tn::ld_i32(entry(ctx, i)) == id && (line < 0 || tn::ld_i32(entry(ctx, i) + 4) == line);
      if (match) continue;
      if (kept != i) tn::store<uint64_t>(entry(ctx, kept), tn::load<uint64_t>(entry(ctx, i)));
      ++kept;
    }
    ctx->bp_count = kept;
  }
  if (ctx->bp_count == 0) free_list(ctx);
  return kOk;
}

void dbg_breakpoint_get(EngineContext* ctx, int32_t i, int32_t* function_id, int32_t* line) {
  *function_id = tn::ld_i32(entry(ctx, i));
  *line = tn::ld_i32(entry(ctx, i) + 4);
}

bool dbg_entry_breakpoint(EngineContext* ctx, int32_t function_id) {
  if (ctx->bp_list < 1) return false;
  for (int32_t i = 0; i < ctx->bp_count; ++i)
    if (tn::ld_i32(entry(ctx, i)) == function_id && tn::ld_i32(entry(ctx, i) + 4) < 1) return true;
  return false;
}

void dbg_set_interrupt_mode(EngineContext* ctx, int flag) {
  ctx->interrupt_debug = flag ? 1 : 0;
  ctx->pending_debug = 0;
}

uint8_t dbg_get_interrupt_mode(EngineContext* ctx) { return ctx->interrupt_debug; }

int dbg_set_echo(EngineContext* ctx, int on, const char* name, int32_t length, int32_t fd) {
  if (!on) {
    ctx->dbg_word[kEchoTargetWord] = kEchoOff;
    return kOk;
  }
  int32_t target = kEchoAll;
  if (name) TN_TRY(dbg_find_function(ctx, name, length, &target));
  ctx->dbg_word[kEchoTargetWord] = target;
  ctx->echo_fd = fd;
  return kOk;
}

int frame_pending_step_present(EngineContext* ctx) {
  return ctx->frame >= 0 && frame_words(ctx, ctx->frame)[kFwSuspendKind] != 0 ? 1 : 0;
}

bool frame_suspended_present(EngineContext* ctx) {
  for (int32_t index = ctx->frame; index >= 0;) {
    const uint32_t* w = frame_words(ctx, index);
    if (w[kFwSuspendKind] != 0) return true;
    if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame) break;
    index = previous(w, index);
  }
  return false;
}

int frame_take_pending_step(EngineContext* ctx) {
  // Nothing suspended leaves every frame as it is: the unwinding below would
  // otherwise run down to the base frame before it could tell.
  if (!frame_suspended_present(ctx)) return kBadContext;
  TN_TRY(frame_unwind(ctx, -1));
  if (ctx->frame < 0) return kBadContext;
  uint32_t* w = frame_words(ctx, ctx->frame);
  if (w[kFwSuspendKind] == 0) return kBadContext;
  ctx->pos = CodePosition{int32_t(w[kFwSuspendKind]), 0, w[kFwSuspendOffset]};
  w[kFwSuspendKind] = 0;
  return kOk;
}
