// The display's text writer and its page printers: one rows-by-columns page of
// doubles, singles, integers, characters or logicals, one output line per row,
// and the size-and-class description ("2x3 uint8 array"). Every number goes
// through the engine's formatters; no chunk is cut by the scratch buffer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/frames.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/lib/display_text.h"

namespace {

// Whole numbers below these magnitudes are shown without fraction digits.
constexpr double kWholeBoundDouble = 10000000.0;
constexpr double kWholeBoundSingle = 100000.0;
constexpr int32_t kSingleMaxDigits = 7;

// Extra field width beyond the digits: real, and complex (per pair).
constexpr int32_t kRealFieldExtra = 5;
constexpr int32_t kComplexFieldExtra = 8;

// Integer field widths of the full layout by element size, one more when signed.
int32_t int_field_width(uint32_t size, bool is_signed) {
  int32_t w = 0;
  switch (size) {
    case 1: w = 4; break;
    case 2: w = 6; break;
    case 4: w = 11; break;
    case 8: w = 21; break;
    default: w = 0; break;
  }
  // An unsigned 64-bit value has 20 digits and fits 21 as it is.
  return w + (is_signed ? 1 : 0);
}

bool is_whole(double x, double bound) { return std::fabs(x) < bound && std::floor(x + 0.5) == x; }

// True when every element (both parts) is a whole number below the bound;
// scanned from the last element back, stopping at the first that is not.
template <typename T>
bool all_whole(const T* re, const T* im, int64_t n, double bound) {
  for (int64_t i = n - 1; i >= 0; --i) {
    if (!is_whole(double(re[i]), bound)) return false;
    if (im && !is_whole(double(im[i]), bound)) return false;
  }
  return true;
}

char sign_char(double re, double im, bool has_im) {
  if (re > 0) return '+';
  if (re < 0) return '-';
  return has_im && im != 0 ? 'I' : ' ';
}

template <typename T>
int sign_page(DisplayText& out, int32_t rows, int32_t cols, const T* re, const T* im,
              bool line_ends) {
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t i = int64_t(r) * cols + c;
      TN_TRY(display_put_char(out, sign_char(double(re[i]), im ? double(im[i]) : 0.0, im != nullptr)));
    }
    if (line_ends) TN_TRY(display_newline(out));
  }
  return kOk;
}

int empty_page(DisplayText& out, bool full_layout) {
  if (!full_layout) return display_put(out, "[]");
  TN_TRY(display_put(out, " []"));
  return display_newline(out);
}

}  // namespace

// --- Writer -----------------------------------------------------------------

DisplayText display_text_begin(EngineContext* ctx, int32_t fd, char* fallback) {
  int64_t bytes = 0;
  void* at = nullptr;
  stk_free_space(ctx, &bytes, &at);
  constexpr int64_t kMaxScratch = int64_t(1) << 30;
  if (bytes >= kDisplayMinScratch && at)
    return DisplayText{ctx, fd, static_cast<char*>(at), int32_t(std::min(bytes, kMaxScratch)), 0};
  return DisplayText{ctx, fd, fallback, kDisplayMinScratch, 0};
}

int display_flush(DisplayText& out) {
  if (out.pos == 0) return kOk;
  const int32_t n = out.pos;
  out.pos = 0;
  TN_TRY(io_write(out.ctx, out.fd, out.buf, n));
  return poll_abort(out.ctx) ? kAborted : kOk;
}

int display_room(DisplayText& out, int32_t n) {
  // The formatters write digits only while position + 2 < capacity.
  if (int64_t(out.pos) + n + 2 < out.capacity) return kOk;
  return display_flush(out);
}

int display_newline(DisplayText& out) {
  if (out.pos > 0) {
    const int32_t n = out.pos;
    out.pos = 0;
    TN_TRY(io_write(out.ctx, out.fd, out.buf, n));
  }
  TN_TRY(io_newline(out.ctx, out.fd));
  return poll_abort(out.ctx) ? kAborted : kOk;
}

int display_put(DisplayText& out, const char* text, int32_t length) {
  if (length < 0) length = str_len(text);
  while (length > 0) {
    TN_TRY(display_room(out, 1));
    const int32_t n = buf_append_n(out.buf, &out.pos, text, length, out.capacity);
    text += n;
    length -= n;
  }
  return kOk;
}

int display_put_char(DisplayText& out, char c) { return display_put(out, &c, 1); }

int display_put_wchar(DisplayText& out, uint16_t ch) {
  constexpr uint16_t kFirstEncoded = 128;
  CharsetFn encode = out.ctx->charset[kCharsetEncode];
  if (ch < kFirstEncoded || !encode) return display_put_char(out, char(ch & 0xff));
  TN_TRY(display_room(out, kMaxEncodedBytes + 1));
  encode(&ch, out.buf, &out.pos, out.capacity);
  return kOk;
}

int32_t display_digits(const DisplayOptions& o) { return std::clamp(o.digits, 0, kDisplayMaxDigits); }

char display_style(char letter) { return letter == kDispBank ? char(kDispFixed) : letter; }

// --- Page printers ------------------------------------------------------------

int disp_double_array(DisplayText& out, int32_t rows, int32_t cols, const double* re,
                      const double* im) {
  if (rows <= 0 || cols <= 0) return empty_page(out, true);
  const DisplayOptions o = display_options(out.ctx);
  if (o.letter == kDispSign) return sign_page(out, rows, cols, re, im, true);
  const int64_t n = int64_t(rows) * cols;
  int32_t digits = display_digits(o);
  if (o.letter != kDispBank && all_whole(re, im, n, kWholeBoundDouble)) digits = 0;
  const char style = display_style(o.letter);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t i = int64_t(r) * cols + c;
      TN_TRY(display_room(out, kDisplayChunkRoom));
      out.buf[out.pos++] = ' ';
      if (im) {
        fmt_complex(out.buf, &out.pos, re[i], im[i], digits, style, 2 * digits + kComplexFieldExtra,
                    false, false, o.unit, false, false, false, out.capacity);
      } else {
        fmt_double(out.buf, &out.pos, re[i], digits, style, digits + kRealFieldExtra, false, false,
                   false, false, false, false, out.capacity);
      }
    }
    TN_TRY(display_newline(out));
  }
  return kOk;
}

int disp_single_array(DisplayText& out, int32_t rows, int32_t cols, const float* re,
                      const float* im, bool marked, bool full_layout) {
  if (rows <= 0 || cols <= 0) return empty_page(out, full_layout);
  const DisplayOptions o = display_options(out.ctx);
  if (o.letter == kDispSign) return sign_page(out, rows, cols, re, im, full_layout);
  const int64_t n = int64_t(rows) * cols;
  int32_t digits = std::min(display_digits(o), kSingleMaxDigits);
  if (o.letter != kDispBank && all_whole(re, im, n, kWholeBoundSingle)) digits = 0;
  const char style = display_style(o.letter);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t i = int64_t(r) * cols + c;
      TN_TRY(display_room(out, kDisplayChunkRoom));
      if (full_layout) out.buf[out.pos++] = ' ';
      if (im) {
        const int32_t width = full_layout ? 2 * digits + kComplexFieldExtra : 0;
        fmt_complex(out.buf, &out.pos, re[i], im[i], digits, style, width, true, false, o.unit,
                    false, false, false, out.capacity);
        if (marked) buf_append_cstr(out.buf, &out.pos, " (single)", out.capacity);
      } else {
        const int32_t width = full_layout ? digits + kRealFieldExtra : 0;
        fmt_double(out.buf, &out.pos, re[i], digits, style, width, false, false, false, false,
                   false, false, out.capacity);
        if (marked) buf_append_cstr(out.buf, &out.pos, "single", out.capacity);
      }
    }
    if (full_layout) TN_TRY(display_newline(out));
  }
  return kOk;
}

int disp_int_array(DisplayText& out, uint32_t type, int32_t rows, int32_t cols,
                   const uint8_t* data, bool class_marked, bool full_layout, bool sign_only) {
  if (rows <= 0 || cols <= 0) return empty_page(out, full_layout);
  const uint32_t size = type & 127;
  const bool is_unsigned = (type & kElemUnsigned) != 0;
  const int32_t width = full_layout ? int_field_width(size, !is_unsigned) : 0;
  constexpr int32_t kBitsPerByte = 8;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t i = int64_t(r) * cols + c;
      const __int128 v = load_int_element(data, i, type);
      TN_TRY(display_room(out, kDisplayChunkRoom));
      if (sign_only) {
        out.buf[out.pos++] = v < 0 ? '-' : v != 0 ? '+' : ' ';
        continue;
      }
      fmt_int64_dec(out.buf, &out.pos, int64_t(uint64_t(v)), is_unsigned, width, false, false,
                    false, 1, out.capacity);
      if (class_marked) {
        buf_append_cstr(out.buf, &out.pos, is_unsigned ? "uint" : "int", out.capacity);
        fmt_int32_dec(out.buf, &out.pos, int32_t(size * kBitsPerByte), false, 0, false, false,
                      false, 1, out.capacity);
      }
    }
    if (full_layout) TN_TRY(display_newline(out));
  }
  return kOk;
}

int disp_char_array(DisplayText& out, int32_t rows, int32_t cols, const uint16_t* chars) {
  if (rows <= 0 || cols <= 0) {
    TN_TRY(display_put(out, " ''"));
    return display_newline(out);
  }
  constexpr uint16_t kLineFeed = '\n';
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const uint16_t ch = tn::load<uint16_t>(chars + int64_t(r) * cols + c);
      if (ch == kLineFeed) {
        TN_TRY(display_newline(out));
      } else {
        TN_TRY(display_put_wchar(out, ch));
      }
    }
    TN_TRY(display_newline(out));
  }
  return kOk;
}

int disp_logical_array(DisplayText& out, bool sign_only, int32_t rows, int32_t cols,
                       const uint8_t* data) {
  if (rows <= 0 || cols <= 0) return empty_page(out, true);
  if (rows == 1 && cols == 1) {
    TN_TRY(display_put(out, data[0] ? "true" : "false"));
    return display_newline(out);
  }
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const bool on = data[int64_t(r) * cols + c] != 0;
      TN_TRY(display_put(out, sign_only ? (on ? "+" : " ") : (on ? " T" : " F")));
    }
    TN_TRY(display_newline(out));
  }
  return kOk;
}

void disp_size_class_text(char* buf, int32_t capacity, int32_t* pos, int32_t elem_type,
                          bool is_unsigned, bool logical, bool is_char, int32_t ndims,
                          const uint32_t* dims) {
  constexpr int32_t kMinRoom = 20;
  constexpr int32_t kDimRoom = 10;
  if (int64_t(capacity) - *pos < kMinRoom) return;
  const bool scalar =
      ndims == 2 && dims && dims[0] == 1 && dims[1] == 1 && elem_type != kSizeClassCell;
  if (!scalar) {
    for (int32_t i = 0; i < ndims && dims; ++i) {
      if (int64_t(capacity) - *pos < kDimRoom) {
        buf_append_cstr(buf, pos, "x...", capacity);
        break;
      }
      if (i > 0) buf_append_cstr(buf, pos, "x", capacity);
      fmt_int32_dec(buf, pos, int32_t(dims[i]), true, 0, false, false, false, 1, capacity);
    }
    buf_append_cstr(buf, pos, " ", capacity);
  }
  const char* word = "";
  if (is_char) {
    word = "char ";
  } else if (logical) {
    word = "logical ";
  } else if (elem_type == kSizeClassSingle) {
    word = "single ";
  } else if (elem_type == kSizeClassCell) {
    word = "cell ";
  } else if (elem_type != kSizeClassDouble) {
    if (is_unsigned) buf_append_cstr(buf, pos, "u", capacity);
    switch (elem_type) {
      case 1: word = "int8 "; break;
      case 2: word = "int16 "; break;
      case 4: word = "int32 "; break;
      case 8: word = "int64 "; break;
      default: word = "??? "; break;
    }
  }
  buf_append_cstr(buf, pos, word, capacity);
  buf_append_cstr(buf, pos, scalar ? (logical ? "value" : "number") : "array", capacity);
}
