// The byte-level stream built-ins: fread and sread turn bytes into values,
// fwrite, swrite and bwrite values into bytes, by a precision. Arguments stay
// on the stack until the results stand, so every failure leaves the caller's
// stacks as they were; fread sizes its room before it takes a byte from the
// stream, except in "all" mode, whose limit is the room itself.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/array_args.h"
#include "engine/lib/stream_builtins.h"
#include "engine/lib/stream_precision.h"

namespace {

constexpr int kMaxReadInputs = 3;
constexpr int kMaxReadOutputs = 2;
// Bytes kept clear between a result array and the raw bytes read above it:
// the result's header and the count's word.
constexpr int64_t kReadMarginBytes = 64;

// --- Writing ---------------------------------------------------------------

// The elements of an item, its real parts in storage order.
struct Elements {
  uint8_t* bytes;
  int64_t count;
};

bool elements_at(EngineContext* ctx, int depth, Elements* out) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] == kKindReal || d[0] == kKindComplex) {
    *out = {reinterpret_cast<uint8_t*>(item_data(ctx, depth)), int64_t(d[1]) * d[2]};
    return true;
  }
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.size == 0) return false;
  *out = {t.elems, t.count};
  return true;
}

void swap_elements(uint8_t* bytes, int64_t count, uint32_t size) {
  for (int64_t i = 0; i < count; ++i) std::reverse(bytes + i * size, bytes + (i + 1) * size);
}

// Copies the data at depth to the top and converts the copy to the
// precision's elements, in machine order or swapped. The original stays, so
// a failure later on changes nothing the caller sees.
int convert_copy(EngineContext* ctx, int depth, const Precision& p, Elements* out) {
  TN_TRY(stk_dup(ctx, depth, 1));
  int status = p.is_float ? stk_convert_to_double(ctx, 0, p.size == 4 ? 1 : 0, nullptr)
                          : stk_convert_to_int(ctx, 0, int(p.size), p.is_unsigned, 0);
  if (status == kOk && !elements_at(ctx, 0, out)) status = kWrongArgType;
  if (status != kOk) {
    stk_drop(ctx);
    return status == kWrongType ? kWrongArgType : status;
  }
  if (p.swap) swap_elements(out->bytes, out->count, p.size);
  return kOk;
}

// The precision of the call: the argument on top when there is one.
int write_precision(EngineContext* ctx, bool given, Precision* p) {
  *p = Precision{};
  return given ? io_parse_precision(ctx, p) : kOk;
}

// --- Reading ---------------------------------------------------------------

struct ReadShape {
  bool all = false;       // as many rows as the bytes give
  bool columns_given = false;
  int64_t rows = 0;       // when not all
  int64_t cols = 1;
};

// Reads a size argument: [] or Inf, n, [m n] (m may be Inf).
int read_size(EngineContext* ctx, int depth, ReadShape* s) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindReal) return kBadSize;
  const int64_t n = int64_t(d[1]) * d[2];
  const uint64_t* v = item_data(ctx, depth);
  if (n == 0) {
    s->all = true;
    return kOk;
  }
  if (n > 2) return kBadSize;
  auto count = [](double x, int64_t* out) {
    if (!(x >= 0) || x >= double(kMaxTypedElements) + 1) return false;
    *out = int64_t(x);
    return true;
  };
  const double m = tn::ld_f64(v);
  if (n == 2) {
    s->columns_given = true;
    if (!count(tn::ld_f64(v + 1), &s->cols)) return kBadSize;
  }
  if (std::isinf(m) && m > 0) {
    s->all = true;
    return kOk;
  }
  return count(m, &s->rows) ? kOk : kBadSize;
}

// Where the bytes come from: a stream, or the data of an argument read with
// a stride (2 for the characters of a char array, whose low bytes count).
struct ByteSource {
  bool stream = false;
  int32_t fd = 0;
  int depth = 0;  // the argument of sread
};

uint32_t out_bytes(const Precision& p) {
  if (!p.star) return 8;
  return p.is_char ? 2 : p.size;
}

double element_value(const uint8_t* e, const Precision& p) {
  if (p.is_float) return p.size == 4 ? double(tn::load<float>(e)) : tn::load<double>(e);
  switch (p.size) {
    case 1: return p.is_unsigned ? double(e[0]) : double(int8_t(e[0]));
    case 2: return p.is_unsigned ? double(tn::load<uint16_t>(e)) : double(tn::load<int16_t>(e));
    case 4: return p.is_unsigned ? double(tn::load<uint32_t>(e)) : double(tn::load<int32_t>(e));
    default: return p.is_unsigned ? double(tn::load<uint64_t>(e)) : double(tn::load<int64_t>(e));
  }
}

// Pushes the result array of n = rows x cols elements from raw bytes (each
// swapped first when the precision asks).
int push_read_result(EngineContext* ctx, uint8_t* raw, int64_t rows, int64_t cols, bool char_row, const Precision& p) {
  const int64_t n = rows * cols;
  if (p.swap) swap_elements(raw, n, p.size);
  int32_t dims[2] = {int32_t(rows), int32_t(cols)};
  if (char_row) {
    dims[0] = 1;
    dims[1] = int32_t(n);
  }
  if (!p.star || (p.is_float && p.size == 8)) {
    double* re = nullptr;
    TN_TRY(stk_push_matrix(ctx, dims[0], dims[1], &re, nullptr));
    for (int64_t i = 0; i < n; ++i) re[i] = element_value(raw + i * p.size, p);
    return kOk;
  }
  if (p.is_float) {
    float* re = nullptr;
    TN_TRY(stk_push_single_nd(ctx, 2, dims, &re, nullptr));
    std::memmove(re, raw, size_t(n) * 4);
    return kOk;
  }
  if (p.is_char) {
    uint16_t* chars = nullptr;
    TN_TRY(stk_push_char_array(ctx, 2, dims, &chars));
    for (int64_t i = 0; i < n; ++i) chars[i] = raw[i];
    return kOk;
  }
  void* e = nullptr;
  TN_TRY(stk_push_typed_array(ctx, 2, dims, int(p.size), p.is_unsigned, &e));
  std::memmove(e, raw, size_t(n) * p.size);
  return kOk;
}

// Reads up to cap elements from the stream into the far end of the free data
// space, clear of the result that will be pushed below them. *got is the
// number of bytes read.
int read_stream(EngineContext* ctx, int32_t fd, uint8_t* raw, int64_t cap_bytes, int32_t* got) {
  (void)io_control(ctx, fd, kIoReqRawRead, 0, nullptr, nullptr);  // a notice; its answer is not looked at
  int32_t count = 0;
  const int status = io_read(ctx, fd, reinterpret_cast<char*>(raw), int32_t(cap_bytes), 0, &count);
  *got = count > 0 ? count : 0;
  if (status == kWaitRetry) return kOk;  // what arrived so far is the result
  if (status == kEndOfFile) return *got > 0 ? kOk : kEndOfFile;
  return status;
}

// The shared body of fread and sread; the arguments are removed below the
// results once they stand.
int read_values(EngineContext* ctx, int nargin, int nargout, ByteSource src) {
  if (nargin > kMaxReadInputs) return kTooManyInputs;
  if (nargout > kMaxReadOutputs) return kTooManyOutputs;
  if (nargin < 1) return kTooFewInputs;
  Precision p;
  if (nargin == 3) TN_TRY(io_parse_precision(ctx, &p));
  ReadShape shape;
  shape.all = nargin < 2;
  if (nargin >= 2) TN_TRY(read_size(ctx, nargin - 2, &shape));
  const int outputs = nargout >= 2 ? 2 : 1;

  // The bytes of sread's argument.
  const uint8_t* arg_bytes = nullptr;
  int64_t arg_count = 0;
  int stride = 1;
  if (!src.stream) {
    TypedView t;
    const int depth = nargin - 1;
    if (!typed_view(ctx, depth, &t) || t.size != (t.subtype == kPayChar ? 2u : 1u) || t.is_complex)
      return kWrongType;
    arg_bytes = t.elems;
    arg_count = t.count;
    stride = t.subtype == kPayChar ? 2 : 1;
  }

  const bool empty = shape.cols == 0 || (!shape.all && shape.rows == 0);
  if (int64_t(ctx->desc_top) + 3 * outputs > int64_t(ctx->desc_capacity)) return kStackOverflow;
  const int64_t free_bytes = data_free_words(ctx) * 8 - kReadMarginBytes;
  const int64_t per_element = p.size + out_bytes(p);
  int64_t cap = 0;  // elements
  if (empty) {
    cap = 0;
  } else if (shape.all && src.stream) {
    // The room is the only limit: a read that fills it is refused below.
    cap = std::min<int64_t>(free_bytes / per_element, kMaxTypedElements);
    cap = std::min<int64_t>(cap, INT32_MAX / p.size);
    if (cap < 1) return kDataStackOverflow;
  } else {
    if (src.stream) {
      cap = shape.rows * shape.cols;
    } else {
      // sread: whole rows of what the bytes hold.
      const int64_t held = arg_count / p.size / shape.cols;
      cap = (shape.all ? held : std::min(shape.rows, held)) * shape.cols;
    }
    if (cap > kMaxTypedElements || cap * per_element > free_bytes || cap * p.size > INT32_MAX)
      return kDataStackOverflow;
  }

  uint8_t* raw = reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_capacity) - cap * p.size;
  int64_t bytes = 0;
  if (src.stream && cap > 0) {
    int32_t got = 0;
    TN_TRY(read_stream(ctx, src.fd, raw, cap * p.size, &got));
    bytes = got;
    if (shape.all && bytes == cap * p.size) return kDataStackOverflow;  // the room ran out, not the stream
  } else if (!src.stream) {
    bytes = cap * p.size;
    for (int64_t i = 0; i < bytes; ++i) raw[i] = arg_bytes[i * stride];
  }
  const int64_t cols = shape.cols;
  const int64_t rows = empty ? 0 : bytes / (cols * p.size);
  const bool char_row = p.star && p.is_char && !shape.columns_given;

  const arr::StackMark mark = arr::stack_mark(ctx);
  if (outputs == 2) TN_TRY(stk_push_real(ctx, double(rows * cols)));
  const int status = empty ? stk_push_empty(ctx) : push_read_result(ctx, raw, rows, cols, char_row, p);
  if (status != kOk) return arr::stack_restore(ctx, mark, status);
  // No output asked for: the bytes are read (a stream moves on) and the
  // result goes with the arguments.
  const int kept = nargout == 0 ? 0 : outputs;
  return stk_remove(ctx, kept, nargin + outputs - kept);
}

}  // namespace

int bi_fwrite_family(EngineContext* ctx, int nargin, ByteWriteKind kind) {
  const bool to_stream = kind == ByteWriteKind::kStream;
  const int needed = to_stream ? 2 : 1;
  if (nargin < needed) return kTooFewInputs;
  if (nargin > needed + 1) return kTooManyInputs;
  int32_t fd = 0;
  if (to_stream) {
    double v = 0;
    const int st = stk_get_real_scalar(ctx, nargin - 1, &v);
    if (st != kOk) return st == kWrongType ? kWrongArgType : st;
    fd = tn::dtoi32(v);
  }
  const bool precision_given = nargin == needed + 1;
  Precision p;
  TN_TRY(write_precision(ctx, precision_given, &p));
  Elements el{};
  TN_TRY(convert_copy(ctx, precision_given ? 1 : 0, p, &el));
  const int64_t nbytes = el.count * p.size;
  const int copy_and_args = nargin + 1;

  if (to_stream) {
    if (nbytes > INT32_MAX) {
      stk_drop(ctx);
      return kObjectTooLarge;
    }
    if (nbytes > 0) {
      // A failed write is the call's error, as fprintf's is: a count would
      // hide it.
      const int status = io_write(ctx, fd, reinterpret_cast<const char*>(el.bytes), int32_t(nbytes));
      if (status != kOk) {
        stk_drop(ctx);
        return status;
      }
    }
    stk_drop(ctx);
    TN_TRY(stk_push_real(ctx, double(el.count)));
    return stk_remove(ctx, 1, nargin);
  }

  if (nbytes > kMaxTypedElements) {
    stk_drop(ctx);
    return kObjectTooLarge;
  }
  // The result goes above the converted copy, whose data do not move.
  int status;
  if (kind == ByteWriteKind::kChars) {
    uint16_t* chars = nullptr;
    status = stk_push_char_row(ctx, int32_t(nbytes), &chars);
    if (status == kOk && elements_at(ctx, 1, &el))
      for (int64_t i = 0; i < nbytes; ++i) chars[i] = el.bytes[i];
  } else {
    void* e = nullptr;
    const int32_t dims[2] = {nbytes ? 1 : 0, int32_t(nbytes)};
    status = stk_push_typed_array(ctx, 2, dims, 1, 1, &e);
    if (status == kOk && nbytes > 0 && elements_at(ctx, 1, &el)) std::memmove(e, el.bytes, size_t(nbytes));
  }
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  return stk_remove(ctx, 1, copy_and_args);
}

int bi_fread_sread(EngineContext* ctx, int nargin, int nargout, bool from_stream) {
  ByteSource src;
  src.stream = from_stream;
  if (from_stream && nargin >= 1 && nargin <= kMaxReadInputs) {
    double v = 0;
    const int st = stk_get_real_scalar(ctx, nargin - 1, &v);
    if (st != kOk) return st == kWrongType ? kWrongArgType : st;
    src.fd = tn::dtoi32(v);
  }
  return read_values(ctx, nargin, nargout, src);
}
