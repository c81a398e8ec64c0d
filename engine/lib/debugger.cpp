// The debugger's built-ins: breakpoints (dbstop, dbclear, dbstatus), the
// suspended run (dbhalt, dbcont, dbstep, dbquit), the call stack (dbstack),
// source listing (dbtype) and echo. The built-ins that resume or abandon a
// suspended run leave nothing on the stack: the code that called them is
// unwound and the loop goes on from the restored position.
#include "engine/lib/debugger.h"

#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/debug_state.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/function_names.h"
#include "engine/core/libraries.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/lib/semaphores.h"

namespace {

constexpr int32_t kTextBytes = 128;
constexpr int32_t kStackNameLimit = 100;
constexpr int32_t kTypeNumberColumns = 4;
constexpr int32_t kLineBytes = 512;
constexpr char kInterruptOption[] = "-interrupt";
constexpr char kInterruptNote[] = "Interrupt key enters debugging mode";
constexpr char kInlineName[] = "(inline)";

struct Text {
  char s[kTextBytes];
  int32_t n = 0;
  bool is(const char* t) const { return int32_t(std::strlen(t)) == n && std::memcmp(s, t, size_t(n)) == 0; }
};

// The argument at depth as text (a name or an option).
int read_text(EngineContext* ctx, int depth, Text* t) {
  return stk_get_string_buf(ctx, depth, t->s, kTextBytes, &t->n);
}

// A line argument: a string of decimal digits, or a number.
int read_line(EngineContext* ctx, int depth, int32_t* line) {
  if (!stk_is_char(ctx, depth)) return stk_get_int(ctx, depth, line);
  Text t;
  TN_TRY(read_text(ctx, depth, &t));
  if (t.n == 0) return kBadArgument;
  int64_t v = 0;
  for (int32_t i = 0; i < t.n; ++i) {
    if (t.s[i] < '0' || t.s[i] > '9') return kBadArgument;
    v = v * 10 + (t.s[i] - '0');
    if (v > INT32_MAX) return kArgOutOfRange;
  }
  *line = int32_t(v);
  return kOk;
}

int32_t previous(const uint32_t* w, int32_t index) {
  const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
  return (prev >= 0 && prev < index) ? int32_t(prev) : -1;
}

// The current frame, or its caller when the host entered it (a command line).
int32_t user_frame(EngineContext* ctx) {
  int32_t index = ctx->frame;
  if (index >= 0) {
    const uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwCallerKind]) == kAreaNone) index = previous(w, index);
  }
  return index;
}

struct Out {
  char buf[kLineBytes];
  int32_t pos = 0;
  void add(const char* s, int32_t n) { buf_append_n(buf, &pos, s, n, kLineBytes); }
  void add_decimal(int32_t v, int32_t width = 0) {
    fmt_int32_dec(buf, &pos, v, false, width, false, false, false, 1, kLineBytes);
  }
  int write(EngineContext* ctx, int32_t fd) {
    TN_TRY(io_write(ctx, fd, buf, pos));
    pos = 0;
    return io_newline(ctx, fd);
  }
};

// "name;line" on fd 1.
int write_location(EngineContext* ctx, int32_t function_id, int32_t line) {
  Out o;
  const char* name = nullptr;
  int32_t n = 0;
  if (function_id == kFunctionInline) {
    name = kInlineName;
    n = int32_t(sizeof kInlineName) - 1;
  } else {
    fn_name_by_id(ctx, function_id, &name, &n);
  }
  o.add(name, n < kStackNameLimit ? n : kStackNameLimit);
  o.add(";", 1);
  o.add_decimal(line);
  return o.write(ctx, kFdStdout);
}

// A {name, line} structure pushed for dbstack's list.
int push_location(EngineContext* ctx, int32_t function_id, int32_t line) {
  const char* name = kInlineName;
  int32_t n = int32_t(sizeof kInlineName) - 1;
  if (function_id != kFunctionInline) fn_name_by_id(ctx, function_id, &name, &n);
  if (n > kStackNameLimit) n = kStackNameLimit;
  TN_TRY(stk_push_cstr(ctx, n, name));
  TN_TRY(stk_make_container(ctx, 1, 0, "name", 4));
  TN_TRY(stk_push_real(ctx, double(line)));
  return stk_make_container(ctx, 1, 1, "line", 4);
}

bool starts_definition(const char* s, int32_t n) {
  int32_t i = 0;
  while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  for (const char* word : {"function", "define"}) {
    const int32_t k = int32_t(std::strlen(word));
    if (n - i >= k && std::memcmp(s + i, word, size_t(k)) == 0) {
      const char c = i + k < n ? s[i + k] : ' ';
      const bool name_char = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
      if (!name_char) return true;
    }
  }
  return false;
}

bool has_breakpoint(EngineContext* ctx, int32_t function_id, int32_t line, bool first) {
  for (int32_t i = 0; i < (ctx->bp_list > 0 ? ctx->bp_count : 0); ++i) {
    int32_t f = 0, l = 0;
    dbg_breakpoint_get(ctx, i, &f, &l);
    if (f == function_id && (l == line || (first && l < 1))) return true;
  }
  return false;
}

// The listing of dbtype, line by line, from the source read into scratch space.
int type_source(EngineContext* ctx, int32_t function_id, int32_t current) {
  int32_t capacity = 0;
  char* buffer = source_scratch(ctx, nullptr, 0, &capacity);
  int32_t n = 0, first = 0;
  if (!buffer) return kStackOverflow;
  TN_TRY(fn_locate_source(ctx, function_id, buffer, capacity, &n, &first));
  int32_t at = 0;
  for (int32_t line = first; at < n; ++line) {
    if (ctx->abort_fn && ctx->abort_fn(ctx->abort_arg)) break;
    int32_t end = at;
    while (end < n && buffer[end] != '\r' && buffer[end] != '\n') ++end;
    if (line != first && starts_definition(buffer + at, end - at)) break;
    // The prefix: current-line and breakpoint marks, the number right-aligned
    // in four columns (more for numbers that need them), a blank.
    char prefix[2] = {line == current ? '>' : ' ', has_breakpoint(ctx, function_id, line, line == first) ? '#' : ' '};
    Out o;
    o.add(prefix, 2);
    o.add_decimal(line, kTypeNumberColumns);
    o.add(" ", 1);
    TN_TRY(io_write(ctx, kFdStdout, o.buf, o.pos));
    TN_TRY(io_write(ctx, kFdStdout, buffer + at, end - at));
    TN_TRY(io_newline(ctx, kFdStdout));
    if (end >= n) break;
    at = end + (buffer[end] == '\r' && end + 1 < n && buffer[end + 1] == '\n' ? 2 : 1);
  }
  return kOk;
}

}  // namespace

int bi_dbstack(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  bool all = false;
  if (nargin == 1) {
    Text t;
    TN_TRY(read_text(ctx, 0, &t));
    if (!t.is("all")) return kUnknownOption;
    all = true;
  }
  int32_t listed = 0;
  for (int32_t index = user_frame(ctx); index >= 0;) {
    const uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwPrevDistance]) < 1) break;
    const int32_t id = int32_t(w[kFwCurrentFunction]);
    const int32_t line = int32_t(w[kFwLine]);
    const bool from_host = int32_t(w[kFwCallerKind]) == kAreaNone;
    const int32_t prev = previous(w, index);
    if (id >= 0 || id == kFunctionInline) {
      if (nargout < 1) {
        TN_TRY(write_location(ctx, id, line));
      } else {
        TN_TRY(push_location(ctx, id, line));
        ++listed;
      }
    }
    if (from_host && !all) break;
    index = prev;
  }
  if (nargout < 1) return finish_no_output(ctx, nargin, nargout);
  TN_TRY(stk_make_container(ctx, listed, 0, nullptr, 0));
  return stk_remove(ctx, 1, nargin);
}

int bi_dbhalt(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  TN_TRY(finish_no_output(ctx, nargin, nargout));
  if (ctx->frame >= 0) frame_words(ctx, ctx->frame)[kFwStepMode] = kStepStopAtNext;
  return kDebugSuspend;
}

int bi_dbstop(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  int32_t line = 0;
  if (nargin >= 2) TN_TRY(read_line(ctx, 0, &line));
  Text t;
  TN_TRY(read_text(ctx, nargin - 1, &t));
  if (t.is(kInterruptOption)) {
    if (nargin >= 2) return kTooManyInputs;
    TN_TRY(finish_no_output(ctx, nargin, nargout));
    dbg_set_interrupt_mode(ctx, 1);
    // Control goes back to the host at once, which then runs the code in
    // slices and so reads the interrupt key.
    return kSliceEnded;
  }
  TN_TRY(dbg_breakpoint_add(ctx, t.s, t.n, line));
  return finish_no_output(ctx, nargin, nargout);
}

int bi_dbclear(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin == 0) {
    TN_TRY(dbg_breakpoint_remove(ctx, nullptr, 0, -1));
    return finish_no_output(ctx, nargin, nargout);
  }
  if (nargin == 1 && !stk_is_char(ctx, 0)) {
    // A number alone: the entry at that index of the list (as dbstatus lists it, from 0).
    int32_t index = 0;
    TN_TRY(stk_get_int(ctx, 0, &index));
    if (index < 0) return kArgOutOfRange;
    TN_TRY(dbg_breakpoint_remove(ctx, nullptr, 0, index));
    return finish_no_output(ctx, nargin, nargout);
  }
  int32_t line = 0;
  if (nargin >= 2) TN_TRY(read_line(ctx, 0, &line));
  Text t;
  TN_TRY(read_text(ctx, nargin - 1, &t));
  if (t.is(kInterruptOption)) {
    if (nargin >= 2) return kTooManyInputs;
    dbg_set_interrupt_mode(ctx, 0);
  } else {
    TN_TRY(dbg_breakpoint_remove(ctx, t.s, t.n, line));
  }
  return finish_no_output(ctx, nargin, nargout);
}

int bi_dbstatus(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  int32_t only = -1;
  if (nargin == 1) {
    Text t;
    TN_TRY(read_text(ctx, 0, &t));
    TN_TRY(dbg_find_function(ctx, t.s, t.n, &only));
  } else if (dbg_get_interrupt_mode(ctx)) {
    TN_TRY(io_write(ctx, kFdStdout, kInterruptNote, int32_t(sizeof kInterruptNote) - 1));
    TN_TRY(io_newline(ctx, kFdStdout));
  }
  for (int32_t i = 0; i < (ctx->bp_list > 0 ? ctx->bp_count : 0); ++i) {
    int32_t f = 0, l = 0;
    dbg_breakpoint_get(ctx, i, &f, &l);
    if (only < 0 || f == only) TN_TRY(write_location(ctx, f, l));
  }
  return finish_no_output(ctx, nargin, nargout);
}

int bi_dbcont(EngineContext* ctx, int, int, uintptr_t) {
  TN_TRY(frame_take_pending_step(ctx));
  for (int32_t index = ctx->frame; index >= 0;) {
    uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwStepMode]) != kStepRun) {
      w[kFwStepMode] = kStepRun;
      break;
    }
    if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame) break;
    index = previous(w, index);
  }
  ctx->status_word = kOk;
  return kOk;
}

int bi_dbstep(EngineContext* ctx, int nargin, int, uintptr_t) {
  enum class Step { kOver, kIn, kOut } how = Step::kOver;
  if (nargin == 1) {
    Text t;
    TN_TRY(read_text(ctx, 0, &t));
    if (t.is("in")) how = Step::kIn;
    else if (t.is("out")) how = Step::kOut;
    else return kUnknownOption;
  }
  TN_TRY(frame_take_pending_step(ctx));
  ctx->status_word = kOk;
  for (int32_t index = ctx->frame; index >= 0;) {
    uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwPrevDistance]) < 1) break;
    const int32_t prev = previous(w, index);
    if (int32_t(w[kFwStepMode]) == kStepRun) {
      index = prev;
      continue;
    }
    if (how == Step::kIn) {
      w[kFwStepMode] = kStepInto;
    } else if (how == Step::kOver) {
      w[kFwStepMode] = kStepStopAtNext;
    } else {
      w[kFwStepMode] = kStepRun;
      // A caller that runs no function (code entered from the host) does not stop.
      if (prev >= 0 && int32_t(frame_words(ctx, prev)[kFwCurrentFunction]) >= 0)
        frame_words(ctx, prev)[kFwStepMode] = kStepStopAtNext;
    }
    break;
  }
  return kOk;
}

int bi_dbquit(EngineContext* ctx, int, int, uintptr_t) {
  ctx->status_word = kOk;
  return frame_unwind(ctx, 0);
}

int bi_dbtype(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  const int32_t at = user_frame(ctx);
  int32_t id = -1, current = -1;
  if (nargin == 1) {
    Text t;
    TN_TRY(read_text(ctx, 0, &t));
    TN_TRY(dbg_find_function(ctx, t.s, t.n, &id));
  } else if (at >= 0) {
    id = int32_t(frame_words(ctx, at)[kFwCurrentFunction]);
    // A frame that runs no function: its caller's.
    const int32_t prev = previous(frame_words(ctx, at), at);
    if (id < 0 && prev >= 0) {
      id = int32_t(frame_words(ctx, prev)[kFwCurrentFunction]);
      if (id >= 0) current = int32_t(frame_words(ctx, prev)[kFwLine]);
    }
  }
  if (at >= 0 && id >= 0 && int32_t(frame_words(ctx, at)[kFwCurrentFunction]) == id)
    current = int32_t(frame_words(ctx, at)[kFwLine]);
  if (id >= 0) {
    TN_TRY(io_set_buffering(ctx, kFdStdout, 1));
    const int status = type_source(ctx, id, current);
    const int off = io_set_buffering(ctx, kFdStdout, 0);
    TN_TRY(status);
    TN_TRY(off);
  }
  return finish_no_output(ctx, nargin, nargout);
}

int bi_echo(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  int32_t fd = kEchoDefaultFd;
  int named_args = nargin;
  // An integer last argument (always with three) is the descriptor.
  if (nargin == 3 || (nargin == 2 && !stk_is_char(ctx, 0))) {
    TN_TRY(stk_get_int(ctx, 0, &fd));
    named_args = nargin - 1;
  }
  int on = 0;
  const int switch_depth = nargin - 1;
  if (stk_is_char(ctx, switch_depth)) {
    Text t;
    TN_TRY(read_text(ctx, switch_depth, &t));
    if (t.is("on")) on = 1;
    else if (!t.is("off")) return kUnknownOption;
  } else {
    uint8_t flag = 0;
    TN_TRY(stk_get_bool(ctx, switch_depth, &flag));
    on = flag != 0;
  }
  if (named_args == 2) {
    Text t;
    TN_TRY(read_text(ctx, nargin - 2, &t));
    TN_TRY(dbg_set_echo(ctx, on, t.s, t.n, fd));
  } else {
    TN_TRY(dbg_set_echo(ctx, on, nullptr, 0, fd));
  }
  return finish_no_output(ctx, nargin, nargout);
}
