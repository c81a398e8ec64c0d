// Standard input of a process without a window (fd 0 on this process's
// stdin) and the registration of the tables in the program's order: the
// engine's (from engine_start), the host's in front, the console's behind.
// Output on fds 1 to 3 goes through the host table's console hooks to the
// process's stdio.
#include "host/stdio_console.h"

#include <cstdio>

#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "host/builtin_table_host.h"

namespace {

// One byte per call, as a console hands over a line; end of input is
// kEndOfFile, a read error kReadWriteError.
int console_read(EngineContext*, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t) {
  if (fd != kFdStdin) return kNotMyDescriptor;
  *count = 0;
  if (capacity < 1) return kOk;
  std::fflush(stdout);  // a prompt written before the read is seen first
  const int ch = std::fgetc(stdin);
  if (ch == EOF) return std::ferror(stdin) ? kReadWriteError : kEndOfFile;
  buffer[0] = char(ch);
  *count = 1;
  return kOk;
}

// Registered behind the engine's and the host's tables: fd 0 for a process
// without a command panel (the host's head rows own fds 1 to 3).
const BuiltinEntry kConsoleTable[] = {
    stream_hook_row(kHookRead, static_cast<StreamReadHook>(console_read), kReadBytePerCall),
    BuiltinEntry{},
};

constexpr int kPrepend = 1;
constexpr int kAppend = 0;

}  // namespace

int stdio_console_register(EngineContext* ctx) { return stdio_console_register(ctx, g_builtin_table_host); }

int stdio_console_register(EngineContext* ctx, const BuiltinEntry* host_table) {
  TN_TRY(engine_register_builtin_table(ctx, host_table, kPrepend));
  return engine_register_builtin_table(ctx, kConsoleTable, kAppend);
}
