// Built-ins that act on the main window (`drawnow`, `quit`) and the start-up
// step that hands them the application object through their rows' data word.
// Until the window exists in this program they answer "Not supported".
#include "host/builtin_table_host.h"

int bi_drawnow(EngineContext*, int, int, uintptr_t) { return kNotSupported; }

int bi_quit(EngineContext*, int, int, uintptr_t) { return kNotSupported; }

// Start-up step: runs once the application object exists, before the table
// is registered.
void host_builtins_attach_app(void* app) {
  const uintptr_t word = reinterpret_cast<uintptr_t>(app);
  builtin_table_set_data(g_builtin_table_host, bi_drawnow, word);
  builtin_table_set_data(g_builtin_table_host, bi_quit, word);
}
