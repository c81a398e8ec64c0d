// The graphics built-ins bound to their rows of the engine's table: thin
// wrappers that find the current instance and subplot through the call
// context and hand the list under construction to the command bodies.
#pragma once

#include "engine/core/context.h"

int rt_graphics_builtins_bind();
// The `scale` row's wrapper; data is the call context record.
int graphics_scale_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
