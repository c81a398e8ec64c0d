// The interpreter's own output besides the error report: the location line
// of a debugger stop (the traceback and the echo are declared in interp.h).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Writes "<name:line> " and the source line on fd 2 (only the prefix when the
// source is not found; no name for a negative function id).
int interp_print_stop_line(EngineContext* ctx, int32_t function_id, int32_t line);
