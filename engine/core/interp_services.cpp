// The services the loop calls that others install: the task scheduler's
// switching and pending events (by default one context that runs queued
// calls itself), the built-in display of values, and the tests that tell a
// host an error ended only a task or a task stopped for debugging.
#include <cstring>

#include "engine/core/interp.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/interp_steps.h"

namespace {

bool single_yield(EngineContext*, CodePosition*) { return false; }
void single_switch(EngineContext*, int32_t) {}
void single_remove(EngineContext*, int32_t) {}
void single_hand_back(EngineContext*) {}

// Runs the oldest queued function call with the position stored around it.
// A queued item list needs the task scheduler's runner; it stays queued.
int single_run_event(EngineContext* c, CodePosition* pos) {
  if (c->event_count < 1 || !c->events[0].fn) return kOk;
  const PendingEvent e = c->events[0];
  std::memmove(c->events, c->events + 1, sizeof(PendingEvent) * size_t(c->event_count - 1));
  --c->event_count;
  if (pos) c->pos = *pos;
  const int status = e.fn(c, e.data);
  if (pos) *pos = c->pos;
  return status;
}

constexpr InterpTaskOps kSingleContext = {single_yield, single_switch, single_remove, single_run_event,
                                          single_hand_back};
InterpTaskOps g_task_ops = kSingleContext;

}  // namespace

const InterpTaskOps& interp_task_ops() { return g_task_ops; }

void interp_slice_restart(EngineContext* ctx) { interp_steps::slice_lap_restart(ctx); }

void interp_set_task_ops(const InterpTaskOps* ops) {
  g_task_ops = kSingleContext;
  if (!ops) return;
  if (ops->yield) g_task_ops.yield = ops->yield;
  if (ops->switch_to) g_task_ops.switch_to = ops->switch_to;
  if (ops->remove) g_task_ops.remove = ops->remove;
  if (ops->run_event) g_task_ops.run_event = ops->run_event;
  if (ops->hand_back) g_task_ops.hand_back = ops->hand_back;
}

namespace {
int display_missing(EngineContext*, int32_t, int) { return kNotSupported; }
DisplayFn g_display = display_missing;
}  // namespace

void interp_set_display(DisplayFn fn) { g_display = fn ? fn : display_missing; }
int interp_display(EngineContext* ctx, int32_t fd, int pop) { return g_display(ctx, fd, pop); }

// An error in the main context leaves no code position (the error path sets
// none), while one in a task deletes the task and loads the main context's.
bool interp_task_failed(const EngineContext* ctx, int status) {
  if (status == kOk || status == kSliceEnded || status == kWaitInput || status == kDebugSuspend ||
      status == kAborted)
    return false;
  return !ctx->running && ctx->pos.kind != kAreaNone;
}

bool interp_task_stopped(const EngineContext* ctx, int status) {
  return status == kDebugSuspend && ctx->task_current != 0;
}

void interp_end_task_stop(EngineContext* ctx) {
  if (ctx->task_current == 0) return;
  g_task_ops.remove(ctx, ctx->task_current);
  ctx->status_word = kOk;
}
