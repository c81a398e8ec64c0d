// The standard-stream console (fds 0 to 3 on this process's stdio) and the
// registration of the tables in the program's order: the engine's (from
// engine_start), the host's in front, the console's behind. Placeholder hook
// rows pass every descriptor on, so the console's hooks answer for 0 to 3.
#include "host/stdio_console.h"

#include <cstdio>

#include "engine/core/newline.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "host/builtin_table_host.h"

namespace {

// fd 1 and 3 to standard output, fd 2 to standard error; other descriptors
// belong to whatever hook comes next.
FILE* console_stream(int32_t fd) {
  if (fd == kFdStdout || fd == kFdConsole3) return stdout;
  if (fd == kFdStderr) return stderr;
  return nullptr;
}

int console_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  FILE* f = console_stream(fd);
  if (!f) return kNotMyDescriptor;
  // Standard output is buffered: an error report must still follow the output before it.
  if (f == stderr) std::fflush(stdout);
  if (length > 0 && std::fwrite(bytes, 1, size_t(length), f) != size_t(length)) return kReadWriteError;
  return kOk;
}

int console_buffering(EngineContext*, int32_t fd, int32_t on, uintptr_t) {
  FILE* f = console_stream(fd);
  if (!f) return kNotMyDescriptor;
  if (!on) std::fflush(f);
  return kOk;
}

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

// Registered behind the engine's and the host's tables: the only hooks that
// own fds 0 to 3.
const BuiltinEntry kConsoleTable[] = {
    stream_hook_row(kHookWrite, static_cast<StreamWriteHook>(console_write), kNewlineLF),
    stream_hook_row(kHookBuffering, static_cast<StreamBufferingHook>(console_buffering), 0),
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
