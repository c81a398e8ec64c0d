// Engine tasks and their scheduler. A task's block in the variable heap holds
// its record, two clock states (the slice lap, restarted after every
// instruction, and the sleep clock, restarted only by a sleep) and its
// stacks: of the stack size S less the clock states, the first half is the
// data stack and the second the descriptor stack. Every place is kept as a
// byte offset from the context, so the engine's block may move between
// slices; records are read through the heap index each time.
#include "engine/lib/tasks.h"

#include <cmath>
#include <cstring>

#include "engine/core/call_cache.h"
#include "engine/core/calls.h"
#include "engine/core/checked.h"
#include "engine/core/heap.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/options.h"
#include "engine/core/snapshot.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/funvals.h"
#include "engine/lib/semaphores.h"
#include "engine/core/frames.h"

namespace {

// Words of the task record.
enum : int {
  kTwDescBase = 0, kTwDescCap = 1, kTwDescTop = 2, kTwFrame = 3,
  kTwDataBase = 4, kTwDataCap = 5, kTwDataTop = 6,
  kTwRng = 7,  // uniform {lcg, xs}, normal {lcg, xs}
  kTwPosKind = 11, kTwPosFlag = 12, kTwPosOffset = 13,
  kTwErrCode = 14, kTwErrFunction = 15, kTwErrLine = 16,
  kTwFailingOp = 17,  // 32 bytes
  kTwNext = 25, kTwId = 26, kTwOverrun = 27,  // a float
  kTwSliceUsed = 28, kTwTotalUsed = 30,
  kTwAccumulator = 32, kTwPriority = 33,
  kTwClock = 34, kTwSleepClock = 35,
  kTwWake = 36, kTwPrevWake = 38,
};
static_assert(kTwFailingOp + kFailingOpBytes / 4 == kTwNext);
// The loop's slicing and the image writer read these words by the core's names.
static_assert(int(kTwNext) == int(kTaskNext) && int(kTwRng) == int(kTaskRandom) && int(kTwSliceUsed) == int(kTaskSliceUsed) &&
              int(kTwTotalUsed) == int(kTaskTotalUsed) && int(kTwClock) == int(kTaskClockState) &&
              int(kTwOverrun) == int(kTaskSliceOverrun) && int(kTwSleepClock) == int(kTaskSleepClockState) &&
              int(kTwId) == int(kTaskId) && int(kTwAccumulator) == int(kTaskAccumulator) &&
              int(kTwPriority) == int(kTaskPriority));

constexpr int32_t kDefaultStack = 8192;
constexpr int32_t kMinStack = 1024;
constexpr int32_t kRecordBytes = 4 * kTaskRecordWords;
constexpr int32_t kDefaultPriority = 21;
constexpr int32_t kMinPriority = kTaskMinPriority;
constexpr int32_t kMaxPriority = kTaskMaxPriority;
constexpr double kMaxStackOption = 1 << 30;
constexpr uint32_t kStaticTaskEndOffset = 2;  // bytes: the task-end word of the static code
constexpr int kClockLap = 1;   // mode 1: read and restart the lap
constexpr int kClockPeek = 0;  // mode 0: read only

uint8_t* rec_bytes(EngineContext* c, int32_t task) {
  return task == 0 ? reinterpret_cast<uint8_t*>(c->main_task)
                   : reinterpret_cast<uint8_t*>(heap_words(c) + task);
}
uint32_t rw(EngineContext* c, int32_t t, int w) { return tn::ld_u32(rec_bytes(c, t) + 4 * w); }
void set_rw(EngineContext* c, int32_t t, int w, uint32_t v) { tn::st_u32(rec_bytes(c, t) + 4 * w, v); }
double rd(EngineContext* c, int32_t t, int w) { return tn::ld_f64(rec_bytes(c, t) + 4 * w); }
void set_rd(EngineContext* c, int32_t t, int w, double v) { tn::st_f64(rec_bytes(c, t) + 4 * w, v); }

void* clock_state(EngineContext* c, int32_t t, int word) {
  return t == 0 ? c->clock_state : ctx_bytes(c) + rw(c, t, word);
}
double read_clock(EngineContext* c, int32_t t, int word, int mode) {
  return c->clock_fn ? c->clock_fn(clock_state(c, t, word), 0, mode) : 0.0;
}
int32_t clock_bytes(const EngineContext* c) { return task_clock_bytes(c); }

void save_current(EngineContext* c) {
  const int32_t t = c->task_current;
  set_rw(c, t, kTwDescBase, c->desc_base.v);
  set_rw(c, t, kTwDescCap, c->desc_capacity);
  set_rw(c, t, kTwDescTop, uint32_t(c->desc_top));
  set_rw(c, t, kTwFrame, uint32_t(c->frame));
  set_rw(c, t, kTwDataBase, c->data_base.v);
  set_rw(c, t, kTwDataCap, c->data_capacity);
  set_rw(c, t, kTwDataTop, uint32_t(c->data_top));
  set_rw(c, t, kTwRng, c->rng_uniform.lcg);
  set_rw(c, t, kTwRng + 1, c->rng_uniform.xs);
  set_rw(c, t, kTwRng + 2, c->rng_normal.lcg);
  set_rw(c, t, kTwRng + 3, c->rng_normal.xs);
  set_rw(c, t, kTwPosKind, uint32_t(c->pos.kind));
  set_rw(c, t, kTwPosFlag, c->pos.flag);
  set_rw(c, t, kTwPosOffset, c->pos.offset);
  set_rw(c, t, kTwErrCode, uint32_t(c->status_word));
  set_rw(c, t, kTwErrFunction, uint32_t(c->error_area.loc_function));
  set_rw(c, t, kTwErrLine, uint32_t(c->error_area.loc_line));
  std::memcpy(rec_bytes(c, t) + 4 * kTwFailingOp, c->failing_op, kFailingOpBytes);
  if (t == 0) set_rd(c, 0, kTwSliceUsed, c->time_used);
  // The loop reads the slice clock once a lap of steps: the time since its
  // last reading still belongs to the context leaving.
  if (t != 0 && c->clock_fn)
    set_rd(c, t, kTwTotalUsed, rd(c, t, kTwTotalUsed) + read_clock(c, t, kTwClock, kClockLap));
}

void load_task(EngineContext* c, int32_t t) {
  c->desc_base.v = rw(c, t, kTwDescBase);
  c->desc_capacity = rw(c, t, kTwDescCap);
  c->desc_top = int32_t(rw(c, t, kTwDescTop));
  c->frame = int32_t(rw(c, t, kTwFrame));
  c->data_base.v = rw(c, t, kTwDataBase);
  c->data_capacity = rw(c, t, kTwDataCap);
  c->data_top = int32_t(rw(c, t, kTwDataTop));
  c->rng_uniform = RandomState{rw(c, t, kTwRng), rw(c, t, kTwRng + 1)};
  c->rng_normal = RandomState{rw(c, t, kTwRng + 2), rw(c, t, kTwRng + 3)};
  c->pos.kind = int32_t(rw(c, t, kTwPosKind));
  c->pos.flag = uint8_t(rw(c, t, kTwPosFlag));
  c->pos.offset = rw(c, t, kTwPosOffset);
  c->status_word = int32_t(rw(c, t, kTwErrCode));
  c->error_area.loc_function = int32_t(rw(c, t, kTwErrFunction));
  c->error_area.loc_line = int32_t(rw(c, t, kTwErrLine));
  std::memcpy(c->failing_op, rec_bytes(c, t) + 4 * kTwFailingOp, kFailingOpBytes);
  c->task_current = t;
  set_rw(c, t, kTwOverrun, 0);
  set_rd(c, t, kTwSliceUsed, 0);
  set_rw(c, t, kTwAccumulator, 0);
  if (t == 0) c->time_used = 0;
  // A fresh slice starts now: the lap kept from when this context last ran
  // holds the other contexts' time, and its first reading would end the
  // slice after one instruction.
  interp_slice_restart(c);
}

bool asleep(EngineContext* c, int32_t t) {
  const double wake = rd(c, t, kTwWake);
  return wake >= 0 && c->clock_fn && read_clock(c, t, kTwSleepClock, kClockPeek) < wake;
}

int32_t code_kind(EngineContext* c, int32_t t) {
  return t == c->task_current ? c->pos.kind : int32_t(rw(c, t, kTwPosKind));
}

// An accumulator gains a context's priority at every choice it loses; a
// task asleep for hours must not wrap it round to a loser's value.
constexpr int32_t kAccumulatorCap = kTaskAccumulatorCap;
void gain(EngineContext* c, int32_t t, int32_t priority) {
  const int32_t acc = int32_t(rw(c, t, kTwAccumulator));
  set_rw(c, t, kTwAccumulator, uint32_t(acc < kAccumulatorCap - priority ? acc + priority : kAccumulatorCap));
}

// The accumulator scheduler. Every context with code, the main one included,
// gains its priority at each choice, and the one chosen starts again from 0:
// however busy the others, a context with code waits only until its
// accumulator passes theirs, so none is starved. The main context is the
// candidate to beat (ties keep the earlier candidate: the main context, then
// list order); a sleeping task is passed over; a main context without code
// is no candidate.
int32_t choose_next(EngineContext* c) {
  const bool main_has_code = code_kind(c, 0) != kAreaNone;
  int32_t best = 0;
  bool have = main_has_code;
  int32_t best_acc = int32_t(rw(c, 0, kTwAccumulator));
  for (int32_t t = c->task_first; t != 0; t = int32_t(rw(c, t, kTwNext))) {
    if (code_kind(c, t) == kAreaNone) continue;
    const int32_t acc = int32_t(rw(c, t, kTwAccumulator));
    if ((!have || acc > best_acc) && !asleep(c, t)) {
      best = t;
      best_acc = acc;
      have = true;
    }
    gain(c, t, int32_t(rw(c, t, kTwPriority)));
  }
  if (main_has_code) gain(c, 0, kDefaultPriority);
  set_rw(c, best, kTwAccumulator, 0);
  if (best != 0) set_rd(c, best, kTwWake, -1);
  return best;
}

// Seconds until the first sleeping task with code is due, at most `limit`;
// 0 when a context other than the current one could run now.
double next_chance(EngineContext* c, double limit) {
  if (c->task_current != 0 && code_kind(c, 0) != kAreaNone) return 0;
  double first = limit;
  for (int32_t t = c->task_first; t != 0; t = int32_t(rw(c, t, kTwNext))) {
    if (t == c->task_current || code_kind(c, t) == kAreaNone) continue;
    const double wake = rd(c, t, kTwWake);
    const double left = wake < 0 || !c->clock_fn ? 0 : wake - read_clock(c, t, kTwSleepClock, kClockPeek);
    if (left <= 0) return 0;
    if (left < first) first = left;
  }
  return first;
}

// The scheduler kept the current context running past the end of its slice.
// When another context could run, the next question (after the next
// instruction) chooses it: the current one starts again from 0 and the
// others have gained. Otherwise it answers the same until a sleeping task is
// due or a task is started (which clears this): the context runs on until
// then, a slice at most, instead of asking after every instruction.
void defer_next_choice(EngineContext* c) {
  const int32_t t = c->task_current;
  const double past = (t == 0 ? c->time_used : rd(c, t, kTwSliceUsed)) - c->time_slice;
  if (past >= 0) tn::store(rec_bytes(c, t) + 4 * kTwOverrun, float(past + next_chance(c, c->time_slice)));
}

bool op_yield(EngineContext* c, CodePosition* pos) { return task_yield(c, pos); }
void op_switch(EngineContext* c, int32_t task) { task_switch(c, task); }
void op_remove(EngineContext* c, int32_t task) { task_delete(c, task); }

int op_run_event(EngineContext* c, CodePosition* pos);

// A posted item list: a u32 argument count and four unused bytes, then the
// function item and the arguments in flat form (three doubles kind, a, b and
// the data words). The call is prepared from the current position; when
// pushing or calling fails, the frames and stacks go back to where they were.
constexpr uint32_t kMaxPostedArgs = 1u << 16;
constexpr int kItemListHeadBytes = 8;

int run_item_list(EngineContext* c, const uint8_t* list) {
  const uint32_t n = tn::ld_u32(list);
  if (n > kMaxPostedArgs) return kBadArgument;
  const double* q = reinterpret_cast<const double*>(list + kItemListHeadBytes);
  const int32_t frame0 = c->frame, desc0 = c->desc_top, data0 = c->data_top;
  const CodePosition pos0 = c->pos;
  int status = kOk;
  for (uint32_t i = 0; i <= n && status == kOk; ++i) {
    status = stk_push_descriptor(c, q);
    int64_t words = 0;
    if (status == kOk) status = stk_item_words(c, 0, &words);
    q += words;
  }
  if (status == kOk) status = call_function_value(c, 0, -1, int(n) + 1, 0);
  if (status != kOk) {
    if (c->frame > frame0) frame_unwind(c, frame0 + 1);
    c->desc_top = desc0;
    c->data_top = data0;
    c->pos = pos0;
  }
  return status;
}

// Runs the oldest pending event: a function entry is called with the code
// position stored around it; an item list is pushed and its function called.
int op_run_event(EngineContext* c, CodePosition* pos) {
  if (c->event_count < 1) return kOk;
  const PendingEvent e = c->events[0];
  std::memmove(c->events, c->events + 1, sizeof(PendingEvent) * size_t(c->event_count - 1));
  --c->event_count;
  if (pos) c->pos = *pos;
  int status = kOk;
  if (e.fn) status = e.fn(c, e.data);
  else if (e.data) status = run_item_list(c, static_cast<const uint8_t*>(e.data));
  if (pos) *pos = c->pos;
  return status;
}

// The main context takes the turn from the task that ran, for the host to
// resume it: every context with code gains its priority as at a choice, and
// the main context starts again from 0, as chosen. Without this the task
// that gave way would have gained nothing while the main context ran, and
// the main context, winning the tie, would run a second slice before it.
void op_hand_back(EngineContext* c) {
  if (c->task_current == 0) return;
  for (int32_t t = c->task_first; t != 0; t = int32_t(rw(c, t, kTwNext)))
    if (code_kind(c, t) != kAreaNone) gain(c, t, int32_t(rw(c, t, kTwPriority)));
  task_switch(c, 0);
}

constexpr InterpTaskOps kTaskOps = {op_yield, op_switch, op_remove, op_run_event, op_hand_back};

}  // namespace

void tasks_install() { interp_set_task_ops(&kTaskOps); }

uint32_t* task_current_record(EngineContext* ctx) {
  return ctx->task_current == 0 ? nullptr : reinterpret_cast<uint32_t*>(heap_words(ctx) + ctx->task_current);
}

void task_switch(EngineContext* ctx, int32_t task) {
  call_cache_clear();  // calls are resolved afresh in the task that runs next
  if (task < 0) {
    if (ctx->task_first == 0) return;
    task = choose_next(ctx);
  }
  // The context already running goes on as it was, in the same slice.
  if (task == ctx->task_current) return;
  save_current(ctx);
  load_task(ctx, task);
}

void task_delete(EngineContext* ctx, int32_t task) {
  if (task <= 0) return;
  if (ctx->task_current == task) task_switch(ctx, 0);
  int32_t prev = 0;
  for (int32_t t = ctx->task_first; t != 0; prev = t, t = int32_t(rw(ctx, t, kTwNext))) {
    if (t != task) continue;
    const uint32_t next = rw(ctx, t, kTwNext);
    if (prev == 0) ctx->task_first = int32_t(next);
    else set_rw(ctx, prev, kTwNext, next);
    heap_free(ctx, t);
    return;
  }
}

// The id for a new task: the next id, or past INT32_MAX the least one from 1
// on that no live task holds (there are far fewer tasks than ids), so that
// counting on never overflows and never gives an id twice.
static int32_t take_task_id(EngineContext* ctx) {
  int32_t id = ctx->task_next_id >= 1 ? ctx->task_next_id : 1;
  int32_t found = 0;
  while (task_find(ctx, id, &found)) id = id == INT32_MAX ? 1 : id + 1;
  ctx->task_next_id = id == INT32_MAX ? 1 : id + 1;
  return id;
}

bool task_find(EngineContext* ctx, int32_t id, int32_t* index) {
  if (id == 0) {
    *index = 0;
    return true;
  }
  for (int32_t t = ctx->task_first; t != 0; t = int32_t(rw(ctx, t, kTwNext)))
    if (int32_t(rw(ctx, t, kTwId)) == id) {
      *index = t;
      return true;
    }
  return false;
}

void engine_clear_stacks(EngineContext* ctx) {
  ctx->desc_top = 0;
  ctx->data_top = 0;
  ctx->frame = -1;
  ctx->pos = CodePosition{kAreaNone, 0, 0};
  ctx->status_word = 0;
  ctx->error_area.loc_function = -1;
  ctx->error_area.loc_line = -1;
  ctx->failing_op[0] = 0;
}

bool task_yield(EngineContext* ctx, CodePosition* pos) {
  ctx->pos = *pos;
  // A task that yields with no code left (it killed itself) goes once the
  // scheduler has moved off its stacks.
  const int32_t from = ctx->task_current;
  task_switch(ctx, -1);
  if (from != 0 && pos->kind == kAreaNone && ctx->task_current != from) task_delete(ctx, from);
  if (ctx->task_current == from && ctx->pos.kind != kAreaNone) defer_next_choice(ctx);
  if (ctx->pos.kind != kAreaNone) {
    *pos = ctx->pos;
    ctx->yield_request = 0;
    return false;
  }
  task_switch(ctx, 0);
  *pos = ctx->pos;
  return true;
}

int thread_create(EngineContext* ctx, int32_t stack_bytes, int32_t caller_id, int nargin, int sandbox,
                  int32_t priority, int32_t* id) {
  if (stack_bytes < kMinStack) stack_bytes = kMinStack;
  const int64_t words = (int64_t(stack_bytes) + kRecordBytes) / 8 + 1;
  int32_t index = 0;
  TN_TRY(heap_alloc(ctx, words, &index));
  uint8_t* rec = reinterpret_cast<uint8_t*>(heap_words(ctx) + index);
  std::memset(rec, 0, size_t(words) * 8);
  const uint32_t rec_off = uint32_t(rec - ctx_bytes(ctx));
  const int32_t cb = clock_bytes(ctx);
  const int32_t usable = stack_bytes - 2 * cb;
  const uint32_t data_cap = uint32_t(usable / 2 / 8);
  const uint32_t stacks_off = rec_off + kRecordBytes + 2 * cb;
  set_rw(ctx, index, kTwClock, rec_off + kRecordBytes);
  set_rw(ctx, index, kTwSleepClock, rec_off + kRecordBytes + cb);
  set_rw(ctx, index, kTwDataBase, stacks_off);
  set_rw(ctx, index, kTwDataCap, data_cap);
  set_rw(ctx, index, kTwDescBase, stacks_off + data_cap * 8);
  set_rw(ctx, index, kTwDescCap, uint32_t((usable - int32_t(data_cap) * 8) / 4));
  set_rw(ctx, index, kTwFrame, uint32_t(-1));
  set_rw(ctx, index, kTwPriority, uint32_t(priority));
  set_rd(ctx, index, kTwWake, -1);
  set_rw(ctx, index, kTwRng, ctx->rng_uniform.lcg);
  set_rw(ctx, index, kTwRng + 1, ctx->rng_uniform.xs);
  set_rw(ctx, index, kTwRng + 2, ctx->rng_normal.lcg);
  set_rw(ctx, index, kTwRng + 3, ctx->rng_normal.xs);

  // The function value and its inputs are copied, not moved: the caller's
  // stacks change only once the task stands.
  const int32_t data_from = item_data_index(ctx, nargin - 1);
  const int32_t n_data = ctx->data_top - data_from;
  const int32_t n_desc = kDescWords * nargin;
  // As a push that does not fit: the data stack's overflow first, then the
  // descriptor stack's.
  const int room = uint32_t(n_data) > data_cap                                          ? kDataStackOverflow
                   : uint32_t(n_desc) * 4 + 64 > uint32_t(usable) - data_cap * 8 ? kStackOverflow
                                                                                 : kOk;
  if (room != kOk) {
    heap_free(ctx, index);
    return room;
  }
  const int32_t caller = ctx->task_current;
  const CodePosition caller_pos = ctx->pos;
  save_current(ctx);
  load_task(ctx, index);
  engine_clear_stacks(ctx);
  {
    // Both stacks lie in the block: no growth between here and the copies.
    EngineContext* c = ctx;
    const uint32_t from_task = caller;
    const uint8_t* src_data = ctx_bytes(c) + rw(c, int32_t(from_task), kTwDataBase) + size_t(data_from) * 8;
    const uint8_t* src_desc = ctx_bytes(c) + rw(c, int32_t(from_task), kTwDescBase) +
                              size_t(int32_t(rw(c, int32_t(from_task), kTwDescTop)) - n_desc) * 4;
    std::memmove(data_words(c), src_data, size_t(n_data) * 8);
    std::memmove(desc_words(c), src_desc, size_t(n_desc) * 4);
    c->data_top = n_data;
    c->desc_top = n_desc;
  }
  ctx->pos = CodePosition{kAreaStatic, caller_pos.flag, kStaticTaskEndOffset};
  const int status = call_function_value(ctx, 0, caller_id, nargin, 0);
  // A sandboxed task runs its function's frame restricted (a built-in called
  // directly has already run and left no frame).
  if (status == kOk && sandbox && ctx->frame >= 0) frame_words(ctx, ctx->frame)[kFwSandbox] = 1;
  save_current(ctx);
  load_task(ctx, caller);
  if (status != kOk) {
    heap_free(ctx, index);
    return status;
  }
  set_rw(ctx, index, kTwNext, uint32_t(ctx->task_first));
  ctx->task_first = index;
  *id = take_task_id(ctx);
  set_rw(ctx, index, kTwId, uint32_t(*id));
  set_rd(ctx, index, kTwSliceUsed, 0);
  set_rd(ctx, index, kTwTotalUsed, 0);
  set_rw(ctx, index, kTwAccumulator, 0);
  set_rd(ctx, index, kTwPrevWake, 0);
  set_rd(ctx, index, kTwWake, -1);
  read_clock(ctx, index, kTwClock, kClockLap);
  read_clock(ctx, index, kTwSleepClock, kClockLap);
  return kOk;
}

// threadnew(fun [, options [, inputs...]])
int bi_threadnew(EngineContext* ctx, int nargin, int, uintptr_t) {
  double stack = kDefaultStack, prio = 0;
  uint8_t sandbox = 0;
  int n = nargin;
  if (nargin >= 2) {
    const int depth = nargin - 2;
    TN_TRY(opt_get_number(ctx, depth, "StackSize", kThreadsetOptions, kDefaultStack, &stack));
    TN_TRY(opt_get_number(ctx, depth, "Priority", kThreadsetOptions, 0, &prio));
    TN_TRY(opt_get_bool(ctx, depth, "Sandbox", kThreadsetOptions, 0, &sandbox));
    // A stack larger than any heap holds does not fit: the heap's overflow,
    // as for any size the heap has no room for.
    if (std::isnan(stack)) return kArgOutOfRange;
    if (stack > kMaxStackOption) return kVariableOverflow;
    if (stack < kMinStack) stack = kMinStack;
    if (!std::isfinite(prio)) return kArgOutOfRange;
    // The options go below the function value, out of the task's items.
    TN_TRY(stk_move(ctx, nargin - 1, 1));
    TN_TRY(stk_move(ctx, nargin, nargin - 1));
    n = nargin - 1;
  }
  double p = kDefaultPriority + std::trunc(prio);
  p = p < kMinPriority ? kMinPriority : p > kMaxPriority ? kMaxPriority : p;
  int32_t id = 0;
  const int st = thread_create(ctx, int32_t(stack), frame_current_function(ctx), n, sandbox, int32_t(p), &id);
  if (st != kOk) {
    if (nargin >= 2) {  // the options back in place
      stk_move(ctx, nargin, 1);
      stk_move(ctx, nargin - 1, nargin - 2);
    }
    return st;
  }
  TN_TRY(stk_push_real(ctx, double(id)));
  return stk_remove(ctx, 1, nargin);
}

int bi_threadkill(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  int32_t id = 0, index = 0;
  TN_TRY(stk_get_int(ctx, 0, &id));
  if (id == 0 || !task_find(ctx, id, &index)) return kInvalidId;
  TN_TRY(finish_no_output(ctx, nargin, nargout));
  if (index == ctx->task_current) {
    // Killing itself: the loop deletes the task once its code is gone.
    ctx->pos.kind = kAreaNone;
    return kYield;
  }
  task_delete(ctx, index);
  return kOk;
}

// threadsleep(t [, periodic]): the wake time is measured on the task's sleep
// clock, which the slice accounting never restarts. A periodic sleep counts
// from the previous wake time, so the period holds whatever the work between.
int bi_threadsleep(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  double t = 0;
  uint8_t periodic = 0;
  if (nargin == 2) TN_TRY(stk_get_bool(ctx, 0, &periodic));
  TN_TRY(stk_get_real_scalar(ctx, nargin - 1, &t));
  TN_TRY(finish_no_output(ctx, nargin, nargout));
  const int32_t task = ctx->task_current;
  if (!(t > 0) || task == 0 || !ctx->clock_fn) return kOk;
  const double since = read_clock(ctx, task, kTwSleepClock, kClockLap);
  double wake = t;
  if (periodic) {
    wake = t + rd(ctx, task, kTwPrevWake) - since;
    if (wake < 0) wake = 0;
  }
  set_rd(ctx, task, kTwWake, wake);
  set_rd(ctx, task, kTwPrevWake, wake);
  return kYield;
}
