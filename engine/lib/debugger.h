// The debugger's built-ins of the host's "@debug" group: breakpoints, the
// suspended run, the call stack, source listing and echo.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int bi_dbstack(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbhalt(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbstop(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbclear(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbstatus(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbcont(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbstep(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbquit(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_dbtype(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_echo(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
