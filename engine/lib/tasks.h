// Cooperative engine tasks: the 40-word task record (the main task's in the
// context, the others at the head of a variable-heap block with their two
// clock states and their stacks), the accumulator scheduler, and the
// built-ins threadnew, threadkill and threadsleep. Tasks are not threads of
// the operating system: everything runs on the thread that drives the engine.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kTaskRecordWords = 40;
static_assert(kTaskRecordWords == kMainTaskWords);

// Installs the scheduler's operations in the interpreter loop.
void tasks_install();

// The current task's record, or null for the main task.
uint32_t* task_current_record(EngineContext* ctx);
// task: a record's heap index, 0 the main task, -1 the next one chosen.
void task_switch(EngineContext* ctx, int32_t task);
void task_delete(EngineContext* ctx, int32_t task);
bool task_find(EngineContext* ctx, int32_t id, int32_t* index);
void engine_clear_stacks(EngineContext* ctx);
bool task_yield(EngineContext* ctx, CodePosition* pos);

// Starts a task running the function value with its inputs, the nargin
// items on top of the caller's stacks (left there: the caller removes them).
int thread_create(EngineContext* ctx, int32_t stack_bytes, int32_t caller_id, int nargin, int sandbox,
                  int32_t priority, int32_t* id);

int bi_threadnew(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_threadkill(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_threadsleep(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
