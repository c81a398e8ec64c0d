// The console of a process without a window: fd 0 reads standard input; fd 1
// writes standard output and fds 2 and 3 standard error through the host
// table's console hooks. The console's own table goes
// behind the engine's and the host's, registered in the program's own order,
// so every row keeps the index and class id a saved application expects.
#pragma once

#include "engine/core/context.h"

// Registers the host's table in front of what engine_start registered, then
// the console's table behind both. kOk or the registration's status. The
// second form registers a stand-in of the host's table (the same rows, some
// of them at their placeholder).
int stdio_console_register(EngineContext* ctx);
int stdio_console_register(EngineContext* ctx, const BuiltinEntry* host_table);
