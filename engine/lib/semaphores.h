// Counting semaphores of the engine's tasks: a table in the variable heap,
// grown by doubling and never shrunk, and the built-ins that use it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int kInvalidId = 100;               // "Invalid ID"
constexpr int kSemaphoreAlreadyUnlocked = 101;  // "Semaphore already unlocked"

// A new semaphore with lock count 0; its id (1 and up) in *id.
int sem_create(EngineContext* ctx, uint32_t* id);
// The entry of id, or -1.
int32_t sem_find(EngineContext* ctx, uint32_t id);
int sem_free(EngineContext* ctx, uint32_t id);
// Takes the lock when free: *taken 1; else *taken 0 and nothing changes.
int sem_try_lock(EngineContext* ctx, uint32_t id, int* taken);
int sem_unlock(EngineContext* ctx, uint32_t id);

// The end of a built-in without outputs: the nargin arguments removed and,
// called as a statement (nargout < 0), a no-value item left in their place.
int finish_no_output(EngineContext* ctx, int nargin, int nargout);

int bi_semaphorenew(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_semaphoredelete(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_semaphorelock(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_semaphoreunlock(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
