// The stream layer: walks the "+write", "+read", "+fclose", "+iocontrol" and
// "+iocbuffering" hook rows of the registered tables in search order, keeps
// the capture buffer of fd 5, and routes fds 1 and 2 through their redirection.
// A redirection is applied once and never again to its target, so no setting
// of the two redirect words can make a write loop.
#include "engine/core/streams.h"

#include "engine/core/numfmt.h"

#include <cstring>

#include "engine/core/service_table.h"

namespace {

// The context's stream words: redirect[0] is the next free descriptor,
// redirect[1] and redirect[2] the targets of fds 1 and 2.
constexpr int kNextFdWord = 0;

bool is_std_out(int32_t fd) { return fd == kFdStdout || fd == kFdStderr; }
bool is_console_out(int32_t fd) { return fd >= kFdStdout && fd <= kFdConsole3; }

int32_t redirect_target(const EngineContext* ctx, int32_t fd) { return ctx->redirect[fd]; }
bool redirected(const EngineContext* ctx, int32_t fd) {
  return is_std_out(fd) && ctx->redirect[fd] != fd;
}
bool copy_flag(const EngineContext* ctx, int32_t fd) { return ctx->redirect_copy[fd - 1] != 0; }

bool row_named(const BuiltinEntry& row, const char* name) {
  return std::strncmp(row.name, name, sizeof row.name) == 0;
}

// Visits the rows called `name` in search order; rows without a hook are
// skipped. The walk goes on only while the visitor answers kNotMyDescriptor.
// *seen tells whether any row of that name exists. The table list is read
// afresh for each table: nothing of the block is held across a hook call.
template <typename Visit>
int walk_hooks(EngineContext* ctx, const char* name, Visit visit, bool* seen = nullptr) {
  if (seen) *seen = false;
  for (int t = 0; t < ctx->table_count; ++t) {
    const LibraryTableRef ref = table_refs(ctx)[t];
    for (int r = 0; r < ref.rows; ++r) {
      const BuiltinEntry& row = ref.table[r];
      if (!row_named(row, name)) continue;
      if (seen) *seen = true;
      if (!row.fn) continue;
      const int status = visit(row);
      if (status != kNotMyDescriptor) return status;
    }
  }
  return kNotMyDescriptor;
}

template <typename Hook>
Hook hook_of(const BuiltinEntry& row) {
  return reinterpret_cast<Hook>(reinterpret_cast<void (*)()>(row.fn));
}

// What one output operation sends: bytes, a line end in each row's own mode,
// or the start or end of a burst.
struct Output {
  enum Kind { kBytes, kNewline, kBuffering } kind;
  const char* bytes;
  int32_t length;
  int32_t on;
};

int capture_append(EngineContext* ctx, const char* bytes, int32_t length) {
  CaptureBuffer& cap = ctx->capture;
  if (!cap.buffer || !cap.length) return kOk;  // nobody captures: dropped
  const uint64_t used = *cap.length;
  if (used + uint64_t(length) > cap.capacity) return kDataStackOverflow;
  std::memcpy(cap.buffer + used, bytes, size_t(length));
  *cap.length = uint32_t(used + uint64_t(length));
  return kOk;
}

// One descriptor, no redirection. Without any row of the hook's name the
// console descriptors succeed: an engine without a console still runs.
int output_direct(EngineContext* ctx, int32_t fd, const Output& out) {
  bool seen = false;
  int status;
  if (out.kind == Output::kBuffering) {
    if (fd == kFdCapture) return kOk;
    status = walk_hooks(ctx, kHookBuffering, [&](const BuiltinEntry& row) {
      return hook_of<StreamBufferingHook>(row)(ctx, fd, out.on, builtin_data(ctx, &row));
    }, &seen);
  } else if (fd == kFdCapture) {
    return out.kind == Output::kNewline ? capture_append(ctx, "\n", 1)
                                        : capture_append(ctx, out.bytes, out.length);
  } else {
    status = walk_hooks(ctx, kHookWrite, [&](const BuiltinEntry& row) {
      const char* bytes = out.bytes;
      int32_t length = out.length;
      if (out.kind == Output::kNewline) {
        switch (row.min_in) {
          case kNewlineCR: bytes = "\r", length = 1; break;
          case kNewlineCRLF: bytes = "\r\n", length = 2; break;
          default: bytes = "\n", length = 1; break;
        }
      }
      return hook_of<StreamWriteHook>(row)(ctx, fd, bytes, length, builtin_data(ctx, &row));
    }, &seen);
  }
  return !seen && is_console_out(fd) ? kOk : status;
}

// Redirection of fds 1 and 2: without copy the output goes to the target
// only; with copy to the fd and then to the target, unless the target is
// itself copied on (the two copying each other would echo forever). The
// target's own redirection is never applied.
int output_routed(EngineContext* ctx, int32_t fd, const Output& out) {
  if (!redirected(ctx, fd)) return output_direct(ctx, fd, out);
  const int32_t target = redirect_target(ctx, fd);
  if (!copy_flag(ctx, fd)) return output_direct(ctx, target, out);
  const int status = output_direct(ctx, fd, out);
  if (status != kOk && status != kNotMyDescriptor) return status;
  if (redirected(ctx, target) && copy_flag(ctx, target)) return status;
  return output_direct(ctx, target, out);
}

}  // namespace

int io_write(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length) {
  if (length < -1 || (!bytes && length != 0 && length != -1)) return kBadArgument;
  if (length == -1) length = bytes ? int32_t(std::strlen(bytes)) : 0;
  if (!bytes) bytes = "";
  return output_routed(ctx, fd, Output{Output::kBytes, bytes, length, 0});
}

int io_newline(EngineContext* ctx, int32_t fd) {
  return output_routed(ctx, fd, Output{Output::kNewline, nullptr, 0, 0});
}

int io_set_buffering(EngineContext* ctx, int32_t fd, int32_t on) {
  return output_routed(ctx, fd, Output{Output::kBuffering, nullptr, 0, on});
}

// Needs the engine's own number formatter ('g' style, left-aligned, with the
// display precision); until it is linked in the number is not written.
// Numbers shown by the stream layer itself: style 'g' at the display precision.
int io_printf(EngineContext* ctx, int32_t fd, double value) {
  constexpr int32_t kNumberBuffer = 103;
  constexpr int32_t kNumberCapacity = 78;
  char text[kNumberBuffer];
  int32_t pos = 0;
  fmt_double(text, &pos, value, ctx->disp_word1, 'g', 0, true, false, false, false, false, false,
             kNumberCapacity);
  return io_write(ctx, fd, text, pos);
}

int io_read(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, uint8_t line_mode,
            int32_t* count) {
  int32_t local_count = 0;
  if (!count) count = &local_count;
  *count = 0;
  if (capacity < 0 || (!buffer && capacity > 0)) return kBadArgument;
  const int none_status = fd == kFdStdin ? kEndOfFile : kNotMyDescriptor;
  const int status = walk_hooks(ctx, kHookRead, [&](const BuiltinEntry& row) -> int {
    auto hook = hook_of<StreamReadHook>(row);
    const uintptr_t user = builtin_data(ctx, &row);
    *count = 0;
    if (!(row.min_in == kReadBytePerCall && line_mode)) {
      return hook(ctx, fd, buffer, capacity, count, user);
    }
    if (capacity < 1) return kNotMyDescriptor;
    // A console hands over one byte per call; the line ends at CR or LF.
    while (*count < capacity) {
      int32_t got = 0;
      const int st = hook(ctx, fd, buffer + *count, 1, &got, user);
      if (st == kNotMyDescriptor) {
        *count = 0;
        return st;
      }
      if (st == kEndOfFile) return *count == 0 ? kEndOfFile : kOk;
      if (st != kOk) return st;
      if (got < 1) return kWaitRetry;
      char& c = buffer[*count];
      ++*count;
      if (c == '\r' || c == '\n') {
        c = '\n';
        return kOk;
      }
    }
    return kOk;  // a full buffer is a complete read, never passed on
  });
  if (status != kNotMyDescriptor) return status;
  *count = 0;
  return none_status;
}

// Descriptor -1 closes every library's descriptors, so it goes to every
// "+fclose" row, whatever the rows before it answered (one that answered 0
// would otherwise keep the later libraries' streams open). Its status is the
// first failure, else 0; kNotMyDescriptor only when there is no row at all.
int io_fclose(EngineContext* ctx, int32_t fd) {
  const auto close = [&](const BuiltinEntry& row) {
    return hook_of<StreamCloseHook>(row)(ctx, fd, builtin_data(ctx, &row));
  };
  if (fd != kCloseAllFd) return walk_hooks(ctx, kHookClose, close);
  int failure = kOk;
  bool seen = false;
  walk_hooks(
      ctx, kHookClose,
      [&](const BuiltinEntry& row) {
        const int status = close(row);
        if (failure == kOk && status != kOk && status != kNotMyDescriptor) failure = status;
        return int(kNotMyDescriptor);  // on to the next row
      },
      &seen);
  return seen ? failure : int(kNotMyDescriptor);
}

// Redirection does not apply: a control request concerns the stream named.
int io_control(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t value, uint32_t* out_word,
               uint8_t* out_flag) {
  uint32_t word = value;
  const int status = walk_hooks(ctx, kHookControl, [&](const BuiltinEntry& row) {
    return hook_of<StreamControlHook>(row)(ctx, fd, request, &word, builtin_data(ctx, &row));
  });
  if (status == kNotMyDescriptor) return status;
  if (request == kIoReqEof && out_flag) *out_flag = word != 0;
  if (request == kIoReqTell && out_word) *out_word = word;
  return status;
}

int io_set_redirect(EngineContext* ctx, int32_t fd, int32_t target, uint8_t copy) {
  if (!is_std_out(fd)) return kNotMyDescriptor;
  ctx->redirect[fd] = target;
  ctx->redirect_copy[fd - 1] = copy ? 1 : 0;
  return kOk;
}

namespace {

// The ring of noted opens; t_opens counts every one noted.
thread_local int32_t t_noted[kNotedOpens];
thread_local uint64_t t_opens = 0;

}  // namespace

void io_note_open(int32_t fd) { t_noted[t_opens++ % kNotedOpens] = fd; }

uint64_t io_opens_mark() { return t_opens; }

void io_close_opened_since(EngineContext* ctx, uint64_t mark) {
  const uint64_t first = t_opens - mark > kNotedOpens ? t_opens - kNotedOpens : mark;
  for (uint64_t k = t_opens; k-- > first;) io_fclose(ctx, t_noted[k % kNotedOpens]);
}

int32_t fd_alloc(EngineContext* ctx, int32_t n) {
  const int32_t first = ctx->redirect[kNextFdWord];
  if (n < 0 || int64_t(first) + n > INT32_MAX) return -1;
  ctx->redirect[kNextFdWord] = first + n;
  return first;
}
