// What the compiler needs from the function table and name resolution: the
// user-function lookup, the registered-row lookup, defining forward
// references and variable entries, the form of the compile hook, and where
// the text being compiled begins in its source.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>

#include "engine/core/calls.h"
#include "engine/core/context.h"
#include "engine/core/fntable.h"
#include "engine/core/function_names.h"

// The line before the first line of the text being compiled: the loader's
// first line while it compiles a function, else 0.
inline int32_t compile_first_line(EngineContext* ctx) { return ctx->compiling ? ctx->compile_line : 0; }
