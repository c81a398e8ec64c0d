// Running untrusted code: sandbox runs text in a restricted frame, and
// sandboxtrust lets a function run unrestricted whoever calls it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

int bi_sandbox(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_sandboxtrust(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
