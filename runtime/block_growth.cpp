// Growth of the runtime block: the host copies it into a larger buffer and
// the areas are laid out again, the whole gain going to the area that
// overflowed. Areas are moved from the top down so that nothing is written
// over before it has been moved; afterwards every header pointer that named
// the old buffer (call context, engine user data) is pointed at the new one.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/core/snapshot.h"
#include "engine/core/state_copy.h"
#include "engine/core/streams.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/console_hooks.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/plot_lists.h"
#include "runtime/runtime_block.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr int64_t kKiB = 1024, kMiB = 1024 * 1024;
constexpr int kMessageBytes = 80;

// The area a code's gain goes to; -1 for a fresh proportional split.
int area_for_code(int code) {
  if (code < kRtExhausted) return kAreaEngine;
  switch (code) {
    case kRtNotEnoughMemForTNFile: return kAreaRecords;
    case kRtVarTooLargeForUndo: return kAreaValues;
    case kRtPlotOverflow: return kAreaMain;
    default: return -1;
  }
}

void repoint(RuntimeBlock* b) {
  b->h.user.block = b;
  engine_set_user_data(rt_engine(b), reinterpret_cast<uintptr_t>(&b->h.user));
}

void print_expanded(RuntimeBlock* b, uint32_t size) {
  char text[kMessageBytes];
  if (size < kMiB)
    std::snprintf(text, sizeof text, "TN memory expanded to %lld KB", static_cast<long long>(size / kKiB));
  else
    std::snprintf(text, sizeof text, "TN memory expanded to %.1f MB", double(size) / double(kMiB));
  EngineContext* ctx = rt_engine(b);
  io_write(ctx, kFdStderr, text, -1);
  io_newline(ctx, kFdStderr);
}

}  // namespace

bool rt_is_memory_code(int code) {
  switch (code) {
    case kStackOverflow: case kStackOverflowVar: case kDataStackOverflow: case kDataStackOverflowVar:
    case kVariableOverflow: case kCodeOverflow:
    case kCompilationOverflow: case kTooManyUserFunctions:
    case kRtExhausted: case kRtPlotOverflow: case kRtNoMoreNameSlot: case kRtNotEnoughMemForTNFile:
    case kRtTooManyVarInUndoBuf: case kRtVarTooLargeForUndo:
      return true;
    default:
      return false;
  }
}

void instance_array_move(uint8_t* old_top, uint8_t* new_top, int32_t count) {
  // Instance 0 first: the array moves up, and each record's copy overlaps at
  // most the record itself (memmove copies it whole before writing).
  for (int32_t i = 0; i < count; ++i)
    std::memmove(new_top - int64_t(i + 1) * kInstanceBytes, old_top - int64_t(i + 1) * kInstanceBytes,
                 kInstanceBytes);
}

bool runtime_block_resize(RuntimeBlock* b, uint32_t new_size, int code) {
  EngineContext* ctx = rt_engine(b);
  const int64_t old_total = [&] {
    int64_t t = 0;
    for (int k = 0; k < kAreaCount; ++k) t += b->h.area_size[k];
    return t;
  }();
  const int64_t new_total = rt_area_total(new_size);
  const int chosen = area_for_code(code);
  AreaSplit split{};
  for (int k = 0; k < kAreaCount; ++k) split.size[k] = b->h.area_size[k];
  if (chosen >= 0)
    split.size[chosen] += new_total - old_total;
  else
    split = rt_initial_split(new_total);
  bool ok = new_total > old_total && new_total <= INT32_MAX;
  for (int k = 0; ok && k < kAreaCount; ++k) ok = split.size[k] >= b->h.area_size[k];
  if (!ok) {
    engine_offsets_to_pointers(ctx, 0, code);
    repoint(b);
    return false;
  }

  // Old and new starts of every area.
  uint8_t* base = reinterpret_cast<uint8_t*>(b);
  int64_t old_start[kAreaCount], new_start[kAreaCount];
  old_start[0] = new_start[0] = kRuntimeHeaderBytes;
  for (int k = 1; k < kAreaCount; ++k) {
    old_start[k] = old_start[k - 1] + b->h.area_size[k - 1];
    new_start[k] = new_start[k - 1] + split.size[k - 1];
  }
  const int32_t old_main = b->h.area_size[kAreaMain];
  for (int k = kAreaCount - 1; k >= kAreaRecords; --k)
    std::memmove(base + new_start[k], base + old_start[k], size_t(b->h.area_size[k]));
  for (int k = 0; k < kAreaCount; ++k) b->h.area_size[k] = int32_t(split.size[k]);
  // No area shrinks, so none of these re-layouts can fail.
  undo_store_grow(rt_value_store(b), split.size[kAreaValues]);
  fixtab_resize(rt_name_table(b), split.size[kAreaNames]);
  instance_array_move(base + old_start[kAreaMain] + old_main, base + new_start[kAreaMain] + split.size[kAreaMain],
                      b->h.instance_count);
  plotstore_move(reinterpret_cast<PlotStore*>(base + old_start[kAreaMain]),
                 reinterpret_cast<PlotStore*>(base + new_start[kAreaMain]),
                 rt_plot_store_doubles(b, b->h.instance_count));
  plotstore_widen_list(b);
  b->h.alloc_size = new_size;
  const bool engine_grew = split.size[kAreaEngine] > old_start[1] - kRuntimeHeaderBytes;
  engine_offsets_to_pointers(ctx, engine_grew ? uint32_t(split.size[kAreaEngine]) : 0, code);
  repoint(b);
  return true;
}

bool rt_memory_expand(RuntimeBlock** handle, int code) {
  RuntimeBlock* b = *handle;
  if (!b || !b->h.grow.fn) return false;
  uint32_t size = b->h.alloc_size;
  engine_pointers_to_offsets(rt_engine(b));
  if (!b->h.grow.fn(handle, &size, b->h.grow.context)) return false;
  b = *handle;
  b->h.alloc_size = size;
  if (!runtime_block_resize(b, size, code)) return false;
  print_expanded(b, size);
  return true;
}

namespace {

// The state copies of the outermost undoable steps, one per scope (a
// resumable step opens a scope), kept between steps so that a handler call
// that does not grow the block allocates nothing.
struct StateBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  int64_t capacity = 0;
};
thread_local std::vector<StateBuffer> t_copies;
thread_local int32_t t_scope = 0;       // resumable steps open
thread_local int32_t t_open_steps = 0;  // undoable steps open in the present scope

}  // namespace

RtStep rt_begin_step(RuntimeBlock* b) {
  const RtStep step{rt_console_hold_errors(), t_open_steps, t_open_steps == 0, false};
  ++t_open_steps;
  if (!step.copied) return step;
  if (t_copies.size() <= size_t(t_scope)) t_copies.resize(size_t(t_scope) + 1);
  StateBuffer& copy = t_copies[size_t(t_scope)];
  EngineContext* ctx = rt_engine(b);
  const int64_t bytes = engine_state_copy(ctx, copy.bytes.get(), copy.capacity);
  if (bytes > copy.capacity) {
    copy.bytes.reset(new uint8_t[size_t(bytes)]);
    copy.capacity = bytes;
    engine_state_copy(ctx, copy.bytes.get(), copy.capacity);
  }
  engine_state_hold(copy.bytes.get());
  return step;
}

RtStep rt_begin_resumable_step() {
  const RtStep step{rt_console_hold_errors(), t_open_steps, false, true};
  ++t_scope;
  t_open_steps = 0;
  return step;
}

bool rt_grow_for_step(RuntimeBlock** handle, const RtStep& step, bool retry, int status) {
  if (step.resumes) --t_scope;
  t_open_steps = step.depth;
  const std::string report = rt_console_take_errors(step.held);
  // An inner step's failure goes to the enclosing step, which undoes it.
  if (!step.resumes) retry = retry && step.copied;
  const bool grew = retry && rt_memory_expand(handle, status);
  if (step.copied) {
    // The state goes back into the grown block; a failure that stands
    // keeps what its run did, and its report, as any failed run does.
    const uint8_t* copy = t_copies[size_t(t_scope)].bytes.get();
    if (grew) engine_state_restore(rt_engine(*handle), copy);
    else engine_state_release(rt_engine(*handle), copy);
  }
  if (!grew) rt_console_put_errors(report);
  return grew;
}
