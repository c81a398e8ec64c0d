// The line, close, redirect and control intrinsics of the stream layer, and
// the dispatcher of every stream opcode. A line read that must wait (502)
// leaves its buffer with a marker on top, whose tag is the bytes read so far:
// the interpreter runs the instruction again and the read goes on after them.
#include "engine/lib/stream_builtins.h"

#include <algorithm>
#include <cmath>

#include "engine/core/checked.h"
#include "engine/core/errors.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_args.h"
#include "engine/lib/printf.h"

namespace {

constexpr int32_t kLargestBuffer = -1;  // stk_push_str_buffer: as large as the free space
constexpr int kRedirectableFds = 2;     // fds 1 and 2
constexpr char kRedirectLoopId[] = "ZVR:redirectLoop";
constexpr char kRedirectLoopMessage[] = "stdout <-> stderr redirection loop";
constexpr char kCloseAll[] = "all";

// A descriptor argument: a real scalar, truncated.
int fd_arg(EngineContext* ctx, int depth, int32_t* fd) {
  double v = 0;
  const int st = stk_get_real_scalar(ctx, depth, &v);
  if (st != kOk) return st == kWrongType ? kWrongArgType : st;
  *fd = tn::dtoi32(v);
  return kOk;
}

// Pushes what a call with nargout gives when it has no value of its own.
int push_nothing(EngineContext* ctx, int nargout) { return nargout < 0 ? stk_push_no_value(ctx) : kOk; }

// --- fgetl, fgets -------------------------------------------------------------

int line_limit(EngineContext* ctx, int depth, int64_t* limit) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindReal || int64_t(d[1]) * d[2] < 1) return kWrongArgType;
  const double v = tn::ld_f64(item_data(ctx, depth));
  *limit = v >= double(INT32_MAX) ? INT32_MAX : v >= 1 ? int64_t(v) : 0;
  return kOk;
}

// True when the stream says its position is at its end.
bool at_stream_end(EngineContext* ctx, int32_t fd) {
  uint8_t at_end = 0;
  return io_control(ctx, fd, kIoReqEof, 0, nullptr, &at_end) == kOk && at_end;
}

int bi_fgetl_fgets(EngineContext* ctx, int nargin, bool drop) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  int32_t already = 0;
  const bool resumed = stk_is_marker(ctx, 0, &already);
  if (resumed) stk_drop(ctx);  // the buffer of the read that waited is on top now
  const int args_at = resumed ? 1 : 0;
  int32_t fd = 0;
  int64_t limit = INT32_MAX;
  int status = fd_arg(ctx, args_at + nargin - 1, &fd);
  if (status == kOk && nargin == 2) status = line_limit(ctx, args_at, &limit);
  if (status != kOk) {
    if (resumed) stk_drop(ctx);
    return status;
  }
  if (!resumed && limit < 1) {
    // Nothing is read for a maximum below one character.
    uint16_t* none = nullptr;
    TN_TRY(stk_push_char_row(ctx, 0, &none));
    return stk_remove(ctx, 1, nargin);
  }
  int32_t chars = kLargestBuffer;
  uint16_t* buffer = nullptr;
  if (resumed) {
    TypedView t;
    if (!typed_view(ctx, 0, &t)) return kIllegalError;
    buffer = reinterpret_cast<uint16_t*>(t.elems);
    chars = int32_t(t.count);
  } else {
    TN_TRY(stk_push_str_buffer(ctx, &chars, &buffer));
  }
  const int32_t capacity = int32_t(std::min<int64_t>(chars, limit));
  const bool room_bound = chars < limit;
  int32_t count = 0;
  status = io_read_line(ctx, fd, false, buffer, already, capacity, &count);
  if (status == kWaitRetry) {
    status = stk_push_marker(ctx, count);
    if (status == kOk) return kWaitRetry;
  }
  const bool ended = count > 0 && buffer[count - 1] == '\n';
  // A line cut by the room, not by the caller's maximum or the end of the
  // stream, is no line: the room is what failed.
  if (status == kOk && room_bound && !ended && (count > 0 || capacity < 1) && !at_stream_end(ctx, fd))
    status = kDataStackOverflow;
  if (status == kOk && drop && ended) --count;
  if (status == kOk) status = stk_repush_str(ctx, count);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  return stk_remove(ctx, 1, nargin);
}

// --- fclose, redirect -----------------------------------------------------------

int bi_fclose(EngineContext* ctx, int nargin) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t fd = 0;
  if (stk_is_char(ctx, 0)) {
    char text[sizeof kCloseAll + 1];
    int32_t length = 0;
    if (stk_get_string_buf(ctx, 0, text, int32_t(sizeof text), &length) != kOk || length != 3 ||
        text[0] != 'a' || text[1] != 'l' || text[2] != 'l')
      return kUnknownOption;
    fd = kCloseAllFd;
  } else {
    TN_TRY(fd_arg(ctx, 0, &fd));
  }
  TN_TRY(io_fclose(ctx, fd));
  stk_drop(ctx);
  return kOk;
}

int print_redirect_state(EngineContext* ctx, int32_t fd) {
  TN_TRY(io_write(ctx, kFdStdout, fd == kFdStdout ? "stdout (fd=" : "stderr (fd=", -1));
  TN_TRY(io_printf(ctx, kFdStdout, fd));
  TN_TRY(io_write(ctx, kFdStdout, ") -> fd=", -1));
  TN_TRY(io_printf(ctx, kFdStdout, ctx->redirect[fd]));
  if (ctx->redirect_copy[fd - 1]) TN_TRY(io_write(ctx, kFdStdout, " copy", -1));
  return io_newline(ctx, kFdStdout);
}

int push_redirect_rows(EngineContext* ctx, int32_t fd) {
  const int32_t first = fd ? fd : kFdStdout;
  const int32_t rows = fd ? 1 : kRedirectableFds;
  double* re = nullptr;
  TN_TRY(stk_push_matrix(ctx, rows, 2, &re, nullptr));
  for (int32_t r = 0; r < rows; ++r) {
    re[2 * r] = ctx->redirect[first + r];
    re[2 * r + 1] = ctx->redirect_copy[first + r - 1];
  }
  return kOk;
}

int bi_redirect(EngineContext* ctx, int nargin, int nargout) {
  if (nargin > 3) return kTooManyInputs;
  int32_t fd = 0, target = 0;
  uint8_t copy = 0;
  if (nargin >= 1) TN_TRY(fd_arg(ctx, nargin - 1, &fd));
  if (nargin >= 2) TN_TRY(fd_arg(ctx, nargin - 2, &target));
  if (nargin == 3) {
    const int st = stk_get_bool(ctx, 0, &copy);
    if (st != kOk) return st == kWrongType ? kWrongArgType : st;
  }
  if (nargin >= 1 && fd != kFdStdout && fd != kFdStderr) return kNotMyDescriptor;
  if (nargin >= 2) {
    if (fd + target == kFdStdout + kFdStderr && ctx->redirect[target] == fd)
      return err_raise_id(ctx, kRedirectLoopId, -1, kRedirectLoopMessage, -1);
    TN_TRY(io_set_redirect(ctx, fd, target, copy));
  }
  if (nargout >= 1) {
    TN_TRY(push_redirect_rows(ctx, fd));
    return stk_remove(ctx, 1, nargin);
  }
  arr::drop_items(ctx, nargin);
  if (nargin < 2) {
    if (fd) {
      TN_TRY(print_redirect_state(ctx, fd));
    } else {
      TN_TRY(print_redirect_state(ctx, kFdStdout));
      TN_TRY(print_redirect_state(ctx, kFdStderr));
    }
  }
  return push_nothing(ctx, nargout);
}

// --- fflush, fseek, ftell, feof, clc ---------------------------------------------------

int bi_fflush(EngineContext* ctx, int nargin) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t fd = 0;
  TN_TRY(fd_arg(ctx, 0, &fd));
  TN_TRY(io_control(ctx, fd, kIoReqFlush, 0, nullptr, nullptr));
  stk_drop(ctx);
  return kOk;
}

int bi_clc(EngineContext* ctx, int nargin) {
  if (nargin > 1) return kTooManyInputs;
  int32_t fd = kFdStdout;
  if (nargin == 1) TN_TRY(fd_arg(ctx, 0, &fd));
  TN_TRY(io_control(ctx, fd, kIoReqClear, 0, nullptr, nullptr));
  arr::drop_items(ctx, nargin);
  return kOk;
}

int bi_feof(EngineContext* ctx, int nargin) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t fd = 0;
  TN_TRY(fd_arg(ctx, 0, &fd));
  uint8_t at_end = 0;
  TN_TRY(io_control(ctx, fd, kIoReqEof, 0, nullptr, &at_end));
  TN_TRY(stk_push_logical_scalar(ctx, at_end));
  return stk_remove(ctx, 1, 1);
}

int bi_ftell(EngineContext* ctx, int nargin) {
  if (nargin != 1) return nargin < 1 ? kTooFewInputs : kTooManyInputs;
  int32_t fd = 0;
  TN_TRY(fd_arg(ctx, 0, &fd));
  uint32_t position = 0;
  const int status = io_control(ctx, fd, kIoReqTell, 0, &position, nullptr);
  if (status != kOk && status != kReadWriteError) return status;
  TN_TRY(stk_push_real(ctx, status == kOk ? double(position) : -1.0));
  return stk_remove(ctx, 1, 1);
}

// The seek request of an origin text: 'b', 'c' or 'e' first.
int seek_request(EngineContext* ctx, int depth, uint32_t* request) {
  if (!stk_is_char(ctx, depth)) return kWrongArgType;
  TypedView t;
  if (!typed_view(ctx, depth, &t)) return kWrongArgType;
  const uint16_t first = t.count > 0 ? tn::load<uint16_t>(t.elems) : 0;
  switch (first) {
    case 'b': *request = kIoReqSeekSet; return kOk;
    case 'c': *request = kIoReqSeekCur; return kOk;
    case 'e': *request = kIoReqSeekEnd; return kOk;
    default: return kUnknownOption;
  }
}

// The in/out word is unsigned 32-bit: from the beginning it holds a position,
// relative seeks read it as a signed offset. An offset that the word cannot
// carry is a failed seek, as the stream would report it.
bool seek_word(double offset, uint32_t request, uint32_t* word) {
  const double v = std::trunc(offset);
  if (request == kIoReqSeekSet) {
    if (!(v >= 0 && v <= double(UINT32_MAX))) return false;
    *word = uint32_t(v);
    return true;
  }
  if (!(v >= double(INT32_MIN) && v <= double(INT32_MAX))) return false;
  *word = uint32_t(int32_t(v));
  return true;
}

int bi_fseek(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 2) return kTooFewInputs;
  if (nargin > 3) return kTooManyInputs;
  int32_t fd = 0;
  TN_TRY(fd_arg(ctx, nargin - 1, &fd));
  double offset = 0;
  const int st = stk_get_real_scalar(ctx, nargin - 2, &offset);
  if (st != kOk) return st == kWrongType ? kWrongArgType : st;
  uint32_t request = kIoReqSeekSet;
  if (nargin == 3) TN_TRY(seek_request(ctx, 0, &request));
  uint32_t word = 0;
  int status = seek_word(offset, request, &word) ? io_control(ctx, fd, request, word, nullptr, nullptr)
                                                 : kReadWriteError;
  if (status != kOk && status != kReadWriteError) return status;
  if (nargout >= 1) {
    TN_TRY(stk_push_real(ctx, status == kOk ? 0.0 : -1.0));
    return stk_remove(ctx, 1, nargin);
  }
  arr::drop_items(ctx, nargin);
  return push_nothing(ctx, nargout);
}

}  // namespace

const uint16_t kStreamOpcodes[kStreamOpcodeCount] = {
    kOpFgetl, kOpFgets, kOpFread,  kOpSread, kOpFwrite, kOpSwrite, kOpBwrite,
    kOpFclose, kOpRedirect, kOpFflush, kOpFseek, kOpFtell, kOpFeof,  kOpClc};

int op_stream_io(EngineContext* ctx, int32_t selector, int nargin, int nargout, int) {
  switch (selector) {
    case kOpFgetl: return bi_fgetl_fgets(ctx, nargin, true);
    case kOpFgets: return bi_fgetl_fgets(ctx, nargin, false);
    case kOpFread: return bi_fread_sread(ctx, nargin, nargout, true);
    case kOpSread: return bi_fread_sread(ctx, nargin, nargout, false);
    case kOpFwrite: return bi_fwrite_family(ctx, nargin, ByteWriteKind::kStream);
    case kOpSwrite: return bi_fwrite_family(ctx, nargin, ByteWriteKind::kChars);
    case kOpBwrite: return bi_fwrite_family(ctx, nargin, ByteWriteKind::kBytes);
    case kOpFclose: return bi_fclose(ctx, nargin);
    case kOpRedirect: return bi_redirect(ctx, nargin, nargout);
    case kOpFflush: return bi_fflush(ctx, nargin);
    case kOpFseek: return bi_fseek(ctx, nargin, nargout);
    case kOpFtell: return bi_ftell(ctx, nargin);
    case kOpFeof: return bi_feof(ctx, nargin);
    case kOpClc: return bi_clc(ctx, nargin);
    default: return kNotSupported;
  }
}
