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

// What `drawnow` and `quit` ask of the main window: repaint it now, and
// request that it close (through the host's normal close path). Each is a
// function and context pair; a null function does nothing.
struct HostWindowCallbacks {
  struct Call {
    void (*fn)(void* context);
    void* context;
  };
  Call repaint;
  Call request_close;
};

// Built-ins acting on the main window; their data word is the host's
// HostWindowCallbacks record, stored by host_builtins_attach_window before
// registration. Both return 0 at once: the window acts when its own events
// run. Without a record `drawnow` has nothing to paint (0) and `quit`
// nothing to close ("Not supported").
int bi_drawnow(EngineContext* ctx, int nargin, int nargout, uintptr_t callbacks);
int bi_quit(EngineContext* ctx, int nargin, int nargout, uintptr_t callbacks);
// The record must outlive the table's registration; null detaches it. A
// detached row holds kHostNoWindow, never 0: a zero data word would hand the
// engine's default data word (the runtime's call context) in its place.
void host_builtins_attach_window(const HostWindowCallbacks* callbacks);
extern const HostWindowCallbacks kHostNoWindow;
