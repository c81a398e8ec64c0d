// Console hooks of the application's table and the command panel's standard
// input. The sink is process-wide, as the console is; every hook answers
// kNotMyDescriptor for a descriptor it does not own, so the hook walk goes on.
#include "runtime/console_hooks.h"

#include <algorithm>
#include <cstdio>

#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "runtime/runtime_block.h"

namespace {

constexpr char kCR = '\r';
constexpr char kLF = '\n';

FILE* stdio_stream(int32_t stream) { return stream == kConsoleErr ? stderr : stdout; }

// The process's stdio. The table asks for CR LF line ends, as the console
// of the platform it was made for wants; a text stream here ends lines with
// LF alone, so a CR directly before an LF of the same write is dropped.
int stdio_write(void*, int32_t stream, const char* bytes, int32_t length) {
  FILE* f = stdio_stream(stream);
  // Standard output is buffered: an error report must still follow the output before it.
  if (f == stderr) std::fflush(stdout);
  int32_t from = 0;
  for (int32_t i = 0; i < length; ++i) {
    if (bytes[i] != kCR || i + 1 >= length || bytes[i + 1] != kLF) continue;
    if (std::fwrite(bytes + from, 1, size_t(i - from), f) != size_t(i - from)) return kReadWriteError;
    from = i + 1;
  }
  if (length > from && std::fwrite(bytes + from, 1, size_t(length - from), f) != size_t(length - from))
    return kReadWriteError;
  return kOk;
}

void stdio_flush(void*, int32_t stream) { std::fflush(stdio_stream(stream)); }

constexpr ConsoleSink kStdioSink = {stdio_write, stdio_flush, nullptr};
ConsoleSink g_sink = kStdioSink;
// Held standard error and the number of holds open; past kMaxHeldBytes the
// text goes out at once rather than grow without bound.
std::string g_held;
int32_t g_holds = 0;
bool g_spilled = false;  // the held text passed the bound while a hold was open
constexpr size_t kMaxHeldBytes = size_t(1) << 20;
StdinExchange g_stdin = {kStdinIdle, nullptr, 0};

// fd 1 to standard output, 2 and 3 to standard error; 0 for any other.
int32_t console_stream(int32_t fd) {
  if (fd == kFdStdout) return kConsoleOut;
  if (fd == kFdStderr || fd == kFdConsole3) return kConsoleErr;
  return 0;
}

// Past the bound, what is held goes out first, so that the text keeps its
// order, and standard error is no longer held until the last hold ends: the
// holds' marks lie past the empty text and take nothing back.
void release_held() {
  if (!g_held.empty() && g_sink.write)
    g_sink.write(g_sink.context, kConsoleErr, g_held.data(), int32_t(g_held.size()));
  g_held.clear();
  g_spilled = true;
}

}  // namespace

void rt_console_set_sink(const ConsoleSink* sink) { g_sink = sink ? *sink : kStdioSink; }
ConsoleSink rt_console_sink() { return g_sink; }

int rt_console_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  const int32_t stream = console_stream(fd);
  if (!stream) return kNotMyDescriptor;
  if (length <= 0 || !g_sink.write) return kOk;
  if (stream == kConsoleErr && g_holds > 0 && !g_spilled) {
    if (g_held.size() + size_t(length) <= kMaxHeldBytes) {
      g_held.append(bytes, size_t(length));
      return kOk;
    }
    release_held();
  }
  return g_sink.write(g_sink.context, stream, bytes, length);
}

int64_t rt_console_hold_errors() {
  ++g_holds;
  return int64_t(g_held.size());
}

std::string rt_console_take_errors(int64_t mark) {
  std::string text;
  if (mark >= 0 && size_t(mark) <= g_held.size()) {
    text = g_held.substr(size_t(mark));
    g_held.resize(size_t(mark));
  }
  if (g_holds > 0) --g_holds;
  if (g_holds == 0) g_spilled = false;
  return text;
}

void rt_console_put_errors(const std::string& text) {
  if (text.empty()) return;
  if (g_holds > 0 && !g_spilled && g_held.size() + text.size() <= kMaxHeldBytes) {
    g_held += text;
    return;
  }
  if (g_holds > 0) release_held();
  if (g_sink.write) g_sink.write(g_sink.context, kConsoleErr, text.data(), int32_t(text.size()));
}

int rt_console_buffering(EngineContext*, int32_t fd, int32_t on, uintptr_t) {
  const int32_t stream = console_stream(fd);
  if (!stream) return kNotMyDescriptor;
  // The end of a burst pushes it out; its start needs nothing.
  if (!on && g_sink.flush) g_sink.flush(g_sink.context, stream);
  return kOk;
}

int rt_console_control(EngineContext*, int32_t fd, uint32_t request, uint32_t* word, uintptr_t) {
  if (fd != kFdStdout && fd != kFdStderr) return kNotMyDescriptor;
  switch (request) {
    case kIoReqFlush:
      if (g_sink.flush) g_sink.flush(g_sink.context, console_stream(fd));
      break;
    case kIoReqEof:
    case kIoReqTell:
      if (word) *word = 0;  // an output console has no end and no position
      break;
    default:
      break;
  }
  return kOk;
}

int rt_refusing_write(EngineContext*, int32_t, const char*, int32_t, uintptr_t) { return kNotMyDescriptor; }

StdinExchange* rt_stdin_exchange() { return &g_stdin; }

int rt_stdin_read(EngineContext*, int32_t fd, char* buffer, int32_t capacity, int32_t* count,
                  uintptr_t call_context) {
  if (fd != kFdStdin) return kNotMyDescriptor;
  *count = 0;
  const CallContext* cc = reinterpret_cast<const CallContext*>(call_context);
  // An engine without a runtime reads its console through the next hook.
  if (!cc) return kNotMyDescriptor;
  if (!cc->flags) return kBadContext;
  if (g_stdin.state < kStdinReady) {
    g_stdin.state = kStdinWanted;
    return kWaitInput;
  }
  const int32_t n = std::max(0, std::min(capacity, g_stdin.length));
  for (int32_t i = 0; i < n; ++i) buffer[i] = g_stdin.text[i] == kCR ? kLF : g_stdin.text[i];
  *count = n;
  // What did not fit stays ready for the next read.
  g_stdin.text += n;
  g_stdin.length -= n;
  if (g_stdin.length <= 0) g_stdin = StdinExchange{kStdinIdle, nullptr, 0};
  return kOk;
}
