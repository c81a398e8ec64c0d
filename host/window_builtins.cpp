// Built-ins that act on the main window (`drawnow`, `quit`) and the start-up
// step that hands them the host's callback record through their rows' data
// word. Neither waits for the window: the repaint and the close run as the
// host's own event handling decides.
#include "host/builtin_table_host.h"

#include "engine/core/status.h"
#include "engine/core/value_stack.h"

const HostWindowCallbacks kHostNoWindow = {{nullptr, nullptr}, {nullptr, nullptr}};

namespace {

const HostWindowCallbacks* callbacks_of(uintptr_t word) {
  return reinterpret_cast<const HostWindowCallbacks*>(word);
}

// Called as a statement, a built-in leaves the no-value item the statement drops.
int statement_result(EngineContext* ctx, int nargout) { return nargout < 0 ? stk_push_no_value(ctx) : kOk; }

}  // namespace

int bi_drawnow(EngineContext* ctx, int, int nargout, uintptr_t word) {
  TN_TRY(statement_result(ctx, nargout));
  const HostWindowCallbacks* cb = callbacks_of(word);
  if (cb && cb->repaint.fn) cb->repaint.fn(cb->repaint.context);
  return kOk;
}

int bi_quit(EngineContext* ctx, int, int nargout, uintptr_t word) {
  const HostWindowCallbacks* cb = callbacks_of(word);
  if (!cb || !cb->request_close.fn) return kNotSupported;
  TN_TRY(statement_result(ctx, nargout));
  cb->request_close.fn(cb->request_close.context);
  return kOk;
}

// Start-up step: runs once the window exists, before the table is registered.
void host_builtins_attach_window(const HostWindowCallbacks* callbacks) {
  const uintptr_t word = reinterpret_cast<uintptr_t>(callbacks ? callbacks : &kHostNoWindow);
  builtin_table_set_data(g_builtin_table_host, bi_drawnow, word);
  builtin_table_set_data(g_builtin_table_host, bi_quit, word);
}
