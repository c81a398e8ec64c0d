// What the interpreter writes for people: the traceback of an uncaught error,
// the echo of executed source lines and the location line of a debugger stop.
// Source text is read into scratch space that no value occupies, so writing
// a report never changes the stacks.
#include <cstring>

#include "engine/core/errors.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/function_names.h"
#include "engine/core/interp.h"
#include "engine/core/interp_report.h"
#include "engine/core/libraries.h"
#include "engine/core/numfmt.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"

namespace {

constexpr int32_t kLineBytes = 128;
constexpr int32_t kEchoNameColumns = 16;
constexpr int32_t kEchoLineColumns = 5;
constexpr int32_t kEchoLimit = 80;
constexpr int32_t kStopNameLimit = 32;
constexpr char kInlineText[] = "(inline)";

struct Line {
  char buf[kLineBytes];
  int32_t pos = 0;
  void add(const char* s, int32_t n) { buf_append_n(buf, &pos, s, n, kLineBytes); }
  void add(const char* s) { buf_append_cstr(buf, &pos, s, kLineBytes); }
  void add_decimal(int32_t v, int32_t width = 0) {
    fmt_int32_dec(buf, &pos, v, false, width, false, false, false, 1, kLineBytes);
  }
};

void add_symbol(EngineContext* c, Line* l, int32_t symbol) {
  int32_t n = 0;
  const char* s = symtab_name(c, symbol, &n);
  if (s) l->add(s, n);
}

// The text of source line `line` of a function, or false when it has none.
bool source_line(EngineContext* c, int32_t function_id, int32_t line, const char** text, int32_t* length) {
  if (function_id < 1) return false;
  int32_t capacity = 0;
  char* buffer = source_scratch(c, nullptr, 0, &capacity);
  int32_t n = 0, first = 0;
  if (!buffer || fn_locate_source(c, function_id, buffer, capacity, &n, &first) != kOk) return false;
  int32_t at = 0;
  for (int32_t current = first; at <= n; ++current) {
    int32_t end = at;
    while (end < n && buffer[end] != '\r' && buffer[end] != '\n') ++end;
    if (current == line) {
      *text = buffer + at;
      *length = end - at;
      return true;
    }
    if (end >= n) break;
    at = end + (buffer[end] == '\r' && end + 1 < n && buffer[end + 1] == '\n' ? 2 : 1);
  }
  return false;
}

int write_line(EngineContext* c, int32_t fd, const Line& l) {
  TN_TRY(io_write(c, fd, l.buf, l.pos));
  return io_newline(c, fd);
}

}  // namespace

int err_print_traceback(EngineContext* ctx, int32_t code) {
  TN_TRY(err_print(ctx, code, false));
  int32_t index = ctx->frame;
  for (int visited = 0; index >= 0 && visited < kTracebackFrames;) {
    const uint32_t* w = frame_words(ctx, index);
    // A frame entered from outside the interpreter has no caller to show.
    if (w[kFwCallerKind] == kAreaNone) break;
    const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
    if (prev < 0 || prev >= index) break;
    index = int32_t(prev);
    ++visited;
    const uint32_t* f = frame_words(ctx, index);
    const int32_t id = int32_t(f[kFwCurrentFunction]);
    if (id < 0 && id != kFunctionInline) continue;
    Line l;
    l.add("-> ");
    if (id == kFunctionInline) {
      l.add(kInlineText);
    } else {
      if (ent_is_function(ctx, id)) {
        const int32_t lib = ent_library(ctx, id);
        if (lib > 0) {
          add_symbol(ctx, &l, ent(ctx, lib, kEntLink));
          l.add((fn_entry(ctx, id)[kEntLink] & kEntryPrivate) ? "/." : "/");
        }
      }
      if (int32_t(f[kFwMethodClass]) != 0) {
        add_symbol(ctx, &l, int32_t(f[kFwMethodClass]));
        l.add("::");
      }
      const char* name = nullptr;
      int32_t n = 0;
      fn_name_by_id(ctx, id, &name, &n);
      l.add(name, n);
    }
    l.add(";");
    l.add_decimal(int32_t(f[kFwLine]));
    TN_TRY(write_line(ctx, kFdStderr, l));
  }
  return kOk;
}

int echo_source_line(EngineContext* ctx, int32_t function_id, int32_t line) {
  const char* text = nullptr;
  int32_t length = 0;
  if (!source_line(ctx, function_id, line, &text, &length)) return kOk;
  Line l;
  const char* name = nullptr;
  int32_t n = 0;
  fn_name_by_id(ctx, function_id, &name, &n);
  l.add(name, n < kEchoNameColumns ? n : kEchoNameColumns);
  buf_append_repeat(l.buf, &l.pos, ' ', kEchoNameColumns - l.pos, kLineBytes);
  l.add_decimal(line, kEchoLineColumns);
  l.add(" ");
  l.add(text, length < kEchoLimit - l.pos ? length : kEchoLimit - l.pos);
  const int32_t fd = ctx->echo_fd;
  TN_TRY(write_line(ctx, fd, l));
  return io_control(ctx, fd, kIoReqFlush, 0, nullptr, nullptr);
}

int interp_print_stop_line(EngineContext* ctx, int32_t function_id, int32_t line) {
  Line l;
  l.add("<");
  if (function_id >= 0) {
    const char* name = nullptr;
    int32_t n = 0;
    fn_name_by_id(ctx, function_id, &name, &n);
    l.add(name, n < kStopNameLimit ? n : kStopNameLimit);
    l.add(":");
  }
  l.add_decimal(line);
  l.add("> ");
  TN_TRY(io_write(ctx, kFdStderr, l.buf, l.pos));
  const char* text = nullptr;
  int32_t length = 0;
  if (source_line(ctx, function_id, line, &text, &length)) TN_TRY(io_write(ctx, kFdStderr, text, length));
  return io_newline(ctx, kFdStderr);
}
