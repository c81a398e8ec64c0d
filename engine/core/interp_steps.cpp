// The interpreter's slower steps, out of the loop: typed constants and text
// written out, the workspace's slots for the fast local paths, calls of user
// functions and handlers, breakpoints and time slices between tasks.
#include "engine/core/interp_steps.h"

#include <cstdint>
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/errors.h"
#include "engine/core/assign.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"

namespace interp_steps {

bool is_base_frame(EngineContext* c, int32_t index) {
  return index >= 0 && int32_t(frame_words(c, index)[kFwCallerKind]) == kAreaBaseFrame;
}

uint32_t* workspace_slots(EngineContext* c, uint32_t* count) {
  int32_t slots = 0;
  const int32_t ws = frame_workspace(c, &slots);
  *count = ws >= 0 && slots > 0 ? uint32_t(slots) : 0;
  return ws >= 0 ? frame_words(c, ws) + kFrameFixedWords : nullptr;
}

int32_t caller_function_id(EngineContext* c) {
  return c->frame >= 0 ? int32_t(frame_words(c, c->frame)[kFwFunctionId]) : 0;
}

int push_typed_scalar(EngineContext* c, uint32_t size, bool is_unsigned, uint64_t bits) {
  const int32_t one[2] = {1, 1};
  void* e = nullptr;
  TN_TRY(stk_push_typed_array(c, 2, one, int(size), is_unsigned ? 1 : 0, &e));
  std::memcpy(e, &bits, size);
  return kOk;
}

int push_single(EngineContext* c, double re, double im, bool imaginary) {
  const int32_t one[2] = {1, 1};
  float* fr = nullptr;
  float* fi = nullptr;
  TN_TRY(stk_push_single_nd(c, 2, one, &fr, imaginary ? &fi : nullptr));
  *fr = float(re);
  if (fi) *fi = float(im);
  return kOk;
}

int write_string16(EngineContext* c, const uint16_t* chars, int32_t n) {
  if (c->charset[kCharsetEncode]) {
    // Through the charset encoder, as every 16-bit text written out; a chunk
    // of characters always fits the buffer (3 bytes each and the reserve).
    constexpr int32_t kChunkChars = 64;
    uint8_t bytes[kChunkChars * kMaxEncodedBytes + 8];
    for (int32_t i = 0; i < n; i += kChunkChars) {
      const int32_t take = n - i < kChunkChars ? n - i : kChunkChars;
      int32_t count = 0;
      wstr_to_bytes(c, kNewlineLF, chars + i, take, bytes, int32_t(sizeof bytes), &count);
      TN_TRY(io_write(c, kFdStdout, reinterpret_cast<const char*>(bytes), count));
    }
    return kOk;
  }
  // Without a charset, characters above 255 have no byte of their own.
  char buf[256];
  int32_t at = 0;
  for (int32_t i = 0; i < n; ++i) {
    buf[at++] = chars[i] < 256 ? char(chars[i]) : '?';
    if (at == int32_t(sizeof buf) || i + 1 == n) {
      TN_TRY(io_write(c, kFdStdout, buf, at));
      at = 0;
    }
  }
  return kOk;
}

// Maps "Undefined variable" for a local of the current frame to "Undefined input argument".
int local_read_status(EngineContext* c, int status, int slot) {
  if (status != kUndefinedVariable || c->frame < 0) return status;
  if (slot < int32_t(frame_words(c, c->frame)[kFwLocals]))
    return err_raise_code(c, kUndefinedInputArg, slot, 0, -1, nullptr);
  return status;
}

// Dereferences the references among the top n items above the current frame
// (the arguments a call left on the stack for a built-in).
// The breakpoint list holds {function id, line} pairs.
bool breakpoint_at(EngineContext* c, int32_t function_id, int32_t line) {
  if (c->bp_count < 1 || c->bp_list < 1) return false;
  const uint8_t* list = reinterpret_cast<const uint8_t*>(heap_words(c) + c->bp_list);
  for (int32_t i = 0; i < c->bp_count; ++i)
    if (tn::ld_i32(list + 8 * i) == function_id && tn::ld_i32(list + 8 * i + 4) == line) return true;
  return false;
}

namespace {

// The slice clock is read once per lap, a lap being a budget of steps: a fast
// instruction takes one step, any other instruction an eighth of the budget
// (g_slice_call_steps), so that at most eight calls out, whose cost nothing
// bounds, run between two readings. After each reading the budget is set
// from the rate the lap measured, for the next lap to last a fiftieth of the
// slice, or what is left of it when that is less. It at most doubles from
// lap to lap, so that a lap of cheap steps followed by costly ones overruns
// by one short lap at most; a clock coarser than the instructions (a lap
// measuring nothing) doubles it.
// Each lap starts where the last ended, so the time used stays exact
// whatever the budget; only the moment the slice is seen to end moves, by a
// lap at most.
constexpr double kLapsPerSlice = 50;
constexpr int32_t kMaxLapSteps = 1 << 16;  // a reading per 65,536 steps costs nothing
constexpr int32_t kCallsOutPerLap = 8;

constexpr int kWordBytes = 4;

// The slice clock's state of the current context (record: a task's, null
// for the main context).
void* slice_clock_state(EngineContext* c, uint64_t* record) {
  return record ? ctx_bytes(c) + tn::ld_u32(reinterpret_cast<uint8_t*>(record) + kWordBytes * kTaskClockState)
                : c->clock_state;
}

// Reads a lap of the current context's slice clock into its time used (and a
// task's total time); *lap gets the lap and *left what is left of the slice
// and the overrun the scheduler allowed: the slice is used up when that is
// below 0.
void read_slice_lap(EngineContext* c, double* lap, double* left) {
  uint64_t* record = c->task_current != 0 ? heap_words(c) + c->task_current : nullptr;
  const double dt = c->clock_fn(slice_clock_state(c, record), 0, 1);
  *lap = dt;
  if (!record) {
    c->time_used += dt;
    *left = c->time_slice + double(tn::load<float>(c->main_task + kTaskSliceOverrun)) - c->time_used;
    return;
  }
  uint8_t* r = reinterpret_cast<uint8_t*>(record);
  const double used = tn::ld_f64(r + kWordBytes * kTaskSliceUsed) + dt;
  tn::st_f64(r + kWordBytes * kTaskSliceUsed, used);
  tn::st_f64(r + kWordBytes * kTaskTotalUsed, tn::ld_f64(r + kWordBytes * kTaskTotalUsed) + dt);
  *left = c->time_slice + double(tn::load<float>(r + kWordBytes * kTaskSliceOverrun)) - used;
}

int32_t valid_budget(int32_t budget) { return budget < 1 ? 1 : budget > kMaxLapSteps ? kMaxLapSteps : budget; }

// The lap's budget. One serves every context of the process, as one thread
// drives them; it starts again from one step with each fresh slice, so the
// pace of one context's code never sets the laps of the next.
int32_t g_lap_budget = 1;

// Grants a lap of `budget` steps from now.
void grant_lap(EngineContext* c, int32_t budget) {
  g_lap_budget = valid_budget(budget);
  c->slice_steps_left = g_lap_budget;
  g_slice_call_steps = g_lap_budget / kCallsOutPerLap + 1;
}

}  // namespace

int32_t slice_next_budget(int32_t budget, double lap, double left, double slice) {
  budget = valid_budget(budget);
  const double most = 2.0 * double(budget);
  double want = most;
  if (lap > 0) {
    double span = slice / kLapsPerSlice;
    if (left < span) span = left;
    want = double(budget) * span / lap;
  }
  if (!(want < most)) want = most;  // NaN too
  if (!(want >= 1)) want = 1;
  return valid_budget(int32_t(want));
}

void slice_lap_restart(EngineContext* c) {
  grant_lap(c, 1);
  if (!c->clock_fn) return;
  uint64_t* record = c->task_current != 0 ? heap_words(c) + c->task_current : nullptr;
  c->clock_fn(slice_clock_state(c, record), 0, 1);
}

bool slice_used(EngineContext* c) {
  if (!c->clock_fn) {
    grant_lap(c, 1);
    return c->yield_request != 0;
  }
  double lap = 0, left = 0;
  read_slice_lap(c, &lap, &left);
  grant_lap(c, slice_next_budget(g_lap_budget, lap, left, c->time_slice));
  return left < 0;
}

}  // namespace interp_steps
