// The host's built-in table: 80 rows that the host registers in front of the
// engine's table once the runtime stands, so they are searched first and hold
// indexes 0..79 of every saved application's library calls. Filled in
// writable memory at program start; row order is part of the image format.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Rows before the empty-name end row.
constexpr int kHostTableRows = 80;

extern BuiltinEntry g_builtin_table_host[kHostTableRows + 1];

// The features `hasfeature` answers true for, one per line.
extern const char kHostFeatureList[];

// Fills g_builtin_table_host from its row list. Runs once by itself at program
// start; calling it again puts every row back as it was then.
void builtin_table_init_runtime();

// Built-ins acting on the main window; their data word is the application
// object, stored by host_builtins_attach_app before registration.
int bi_drawnow(EngineContext* ctx, int nargin, int nargout, uintptr_t app);
int bi_quit(EngineContext* ctx, int nargin, int nargout, uintptr_t app);
void host_builtins_attach_app(void* app);
