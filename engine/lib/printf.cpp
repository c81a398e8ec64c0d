// The printf engine and the intrinsics over it (sprintf, fprintf, error,
// warning, assert). The text is built in the free data space above the
// arguments, which are read in place and consumed only once it is complete, so
// a failure leaves the stack as it was. The format is reused until the
// arguments are used up or a pass over it takes no element.
#include "engine/lib/printf.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/convert.h"
#include "engine/core/errors.h"
#include "engine/core/numfmt.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int32_t kDefaultPrecision = 4;
constexpr int32_t kUnlimited = INT32_MAX;
// Widths and precisions written as digits saturate here.
constexpr int32_t kCountSaturation = 1 << 30;
// The integer formatters write their digits and prefix without a capacity
// test (at most 23 characters); the number scratch keeps that much spare.
constexpr int32_t kFieldSpare = 32;
// Room kept between the output and the end of the free space, so that the
// char row pushed in place of the arguments ends below the output.
constexpr int32_t kRowMargin = 32;
// A number field this close to the scratch capacity may have been cut.
constexpr int32_t kCutMargin = 8;
// Identifiers accepted by error and warning.
constexpr int32_t kIdentifierMaxChars = 66;

constexpr double kTwo31 = 2147483648.0;
constexpr double kTwo32 = 4294967296.0;
constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

// A line feed of the format or of an argument: the stream's end of line.
constexpr uint16_t kLineFeed = '\n';

bool is_letter(uint16_t ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }
bool is_digit(uint16_t ch) { return ch >= '0' && ch <= '9'; }
bool is_float_letter(uint16_t ch) {
  switch (ch) {
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'k': case 'K': return true;
    default: return false;
  }
}

// The elements of the item at depth: a real double matrix, or a numeric, char
// or logical array. False for every other item.
bool item_elements(EngineContext* c, int depth, uint32_t* type, int64_t* count,
                   const uint8_t** data) {
  const uint32_t* d = desc_at(c, depth);
  if (d[0] == kKindReal) {
    *type = kElemDouble;
    *count = int64_t(d[1]) * d[2];
    *data = reinterpret_cast<const uint8_t*>(item_data(c, depth));
    return true;
  }
  TypedView v;
  if (!typed_view(c, depth, &v)) return false;
  *type = v.type;
  *count = v.count;
  *data = v.elems;
  return true;
}

bool read_element(uint32_t type, const uint8_t* data, int64_t i, FmtElement* e) {
  e->type = type;
  e->has_raw = false;
  switch (type) {
    case kElemDouble:
    case kElemDoubleComplex:
      e->value = tn::load<double>(data + 8 * i);
      e->integer = tn::dtoi32(e->value);
      return true;
    case kElemSingle:
    case kElemSingleComplex:
      e->value = tn::load<float>(data + 4 * i);
      e->integer = tn::dtoi32(e->value);
      return true;
    default:
      break;
  }
  if (!elem_is_integer(type)) return false;
  const __int128 x = load_int_element(data, i, type);
  const auto bits = static_cast<uint64_t>(x);
  if (type == kElemU64)  // the high word times 2^32 plus the low word
    e->value = double(uint32_t(bits >> 32)) * kTwo32 + double(uint32_t(bits));
  else
    e->value = double(int64_t(bits));
  e->integer = int32_t(uint32_t(bits));
  if (type == kElemI64 || type == kElemU64) {
    e->has_raw = true;
    e->raw = bits;
  }
  return true;
}

// --- The output --------------------------------------------------------------------

// One formatting run: the format, the cursor, the output in the upper part of
// the free data space and a scratch buffer for number fields below it.
struct Run {
  const uint16_t* format;
  int64_t format_length;
  FmtCursor cur;
  uint16_t* out;
  int32_t n;
  int32_t capacity;
  char* scratch;
  int32_t scratch_capacity;
  uint16_t eol[2];
  int32_t eol_length;
  int32_t line_ends;  // line feeds written as eol
  bool productive;
};

int put(Run& r, uint16_t ch) {
  if (r.n >= r.capacity) return kDataStackOverflow;
  r.out[r.n++] = ch;
  return kOk;
}

// A character of the format or of an argument: a line feed is the stream's end of line.
int put_text_char(Run& r, uint16_t ch) {
  if (ch != kLineFeed) return put(r, ch);
  for (int32_t i = 0; i < r.eol_length; ++i) TN_TRY(put(r, r.eol[i]));
  ++r.line_ends;
  return kOk;
}

int put_blanks(Run& r, int64_t count) {
  for (int64_t i = 0; i < count; ++i) TN_TRY(put(r, ' '));
  return kOk;
}

// The field options of one conversion.
struct Field {
  bool left = false, plus = false, space = false, alternate = false, zero = false;
  int32_t width = 0;
  int32_t precision = kDefaultPrecision;
  bool has_precision = false;
  uint16_t letter = 0;  // the character that decides the conversion
};

// Runs a formatter into the scratch buffer and copies its field to the output.
template <typename Write>
int put_field(Run& r, const Field& s, Write write) {
  if (int64_t(s.width) + kCutMargin >= r.scratch_capacity) return kDataStackOverflow;
  int32_t pos = 0;
  write(r.scratch, &pos, r.scratch_capacity);
  if (pos + kCutMargin >= r.scratch_capacity) return kDataStackOverflow;  // may have been cut
  for (int32_t i = 0; i < pos; ++i) TN_TRY(put(r, uint8_t(r.scratch[i])));
  return kOk;
}

int put_double(Run& r, const Field& s, double x) {
  const uint16_t l = s.letter;
  char style = kStyleGeneral;
  if (l == 'f' || l == 'F') style = kStyleFixed;
  else if (l == 'e' || l == 'E') style = kStyleExp;
  else if (l == 'k' || l == 'K') style = kStyleShortest;
  const bool upper = l >= 'A' && l <= 'Z';
  return put_field(r, s, [&](char* b, int32_t* pos, int32_t cap) {
    fmt_double(b, pos, x, s.precision, style, s.width, s.left, upper, s.plus, s.space, s.zero,
               s.alternate, cap);
  });
}

int32_t min_digits(const Field& s) { return s.has_precision ? s.precision : 1; }

// 'd' and 'i'. Doubles round half up; what fits 32 bits is written from 32
// bits, what fits 64 from 64, and the rest by the number formatter.
int put_decimal(Run& r, const Field& s, const FmtElement& e) {
  if (!std::isfinite(e.value)) return put_double(r, s, e.value);
  const int32_t digits = min_digits(s);
  if (e.has_raw) {
    const bool is_unsigned = e.type == kElemU64;
    return put_field(r, s, [&](char* b, int32_t* pos, int32_t cap) {
      fmt_int64_dec(b, pos, int64_t(e.raw), is_unsigned, s.width, s.left, s.plus, s.space, digits,
                    cap);
    });
  }
  const double v = tn::round_half_up(e.value);
  if (v >= -kTwo31 && v < kTwo31) {
    return put_field(r, s, [&](char* b, int32_t* pos, int32_t cap) {
      fmt_int32_dec(b, pos, int32_t(v), false, s.width, s.left, s.plus, s.space, digits, cap);
    });
  }
  if (v >= -kTwo63 && v < kTwo63) {
    return put_field(r, s, [&](char* b, int32_t* pos, int32_t cap) {
      fmt_int64_dec(b, pos, int64_t(v), false, s.width, s.left, s.plus, s.space, digits, cap);
    });
  }
  return put_double(r, s, e.value);
}

// 'x', 'X' and 'o': values of 0 or more, from the integer part (or the 64
// bits of a 64-bit element); negative and non-finite values and values of 64
// bits or more go to the number formatter.
int put_unsigned(Run& r, const Field& s, const FmtElement& e) {
  const bool hex = s.letter != 'o';
  const bool upper = s.letter == 'X';
  const int32_t digits = min_digits(s);
  auto put64 = [&](uint64_t u) {
    return put_field(r, s, [&](char* b, int32_t* pos, int32_t cap) {
      if (hex) fmt_int64_hex(b, pos, u, s.width, s.left, upper, s.alternate, digits, cap);
      else fmt_int64_oct(b, pos, u, s.width, s.left, s.alternate, digits, cap);
    });
  };
  if (e.has_raw) {
    if (e.type == kElemI64 && int64_t(e.raw) < 0) return put_double(r, s, e.value);
    return put64(e.raw);
  }
  if (!std::isfinite(e.value) || e.value < 0) return put_double(r, s, e.value);
  const double t = std::trunc(e.value);
  if (t < kTwo32) {
    const auto u = uint32_t(t);
    return put_field(r, s, [&](char* b, int32_t* pos, int32_t cap) {
      if (hex) fmt_uint_hex(b, pos, u, s.width, s.left, upper, s.alternate, digits, cap);
      else fmt_uint_oct(b, pos, u, s.width, s.left, s.alternate, digits, cap);
    });
  }
  if (t < kTwo64) return put64(uint64_t(t));
  return put_double(r, s, e.value);
}

int fetch(Run& r, FmtElement* e) {
  TN_TRY(fmt_fetch_element(&r.cur, e));
  r.productive = true;
  return kOk;
}

// 's': the rest of the current argument (at most the precision), each element
// a character; the next conversion starts with the next argument.
int put_string(Run& r, const Field& s) {
  bool has_argument = false;
  const int64_t left = fmt_remaining_in_argument(&r.cur, &has_argument);
  if (!has_argument) return kIndexOutOfRange;
  int64_t n = left < s.precision ? left : s.precision;
  if (n < 0) n = 0;
  if (!s.left) TN_TRY(put_blanks(r, int64_t(s.width) - n));
  for (int64_t k = 0; k < n; ++k) {
    FmtElement e;
    if (read_element(r.cur.type, r.cur.data, r.cur.index + k, &e))
      TN_TRY(put_text_char(r, uint16_t(e.integer)));
  }
  if (s.left) TN_TRY(put_blanks(r, int64_t(s.width) - n));
  r.cur.index = r.cur.count;  // the rest of the argument is dropped
  r.productive = true;
  return kOk;
}

int put_character(Run& r, const Field& s) {
  FmtElement e;
  TN_TRY(fetch(r, &e));
  const auto ch = uint16_t(tn::dtoi64(e.value));
  if (!s.left) TN_TRY(put_blanks(r, int64_t(s.width) - 1));
  TN_TRY(put_text_char(r, ch));
  if (s.left) TN_TRY(put_blanks(r, int64_t(s.width) - 1));
  return kOk;
}

int32_t read_count(const uint16_t* f, int64_t len, int64_t* j) {
  int32_t v = 0;
  while (*j < len && is_digit(f[*j])) {
    v = v < kCountSaturation / 10 ? v * 10 + (f[*j] - '0') : kCountSaturation;
    ++*j;
  }
  return v;
}

// One conversion starting at the '%' at format[i]; *next is where copying
// goes on. kIndexOutOfRange ends the output.
int convert(Run& r, int64_t i, int64_t* next) {
  const uint16_t* f = r.format;
  const int64_t len = r.format_length;
  Field s;
  uint16_t letter = 0;
  for (int64_t k = i + 1; k < len; ++k) {
    if (is_letter(f[k]) || f[k] == '_') {
      letter = f[k];
      break;
    }
  }
  if (letter == 's') s.precision = kUnlimited;

  int64_t j = i + 1;
  for (bool flags = true; flags && j < len; ) {
    switch (f[j]) {
      case '-': s.left = true; ++j; break;
      case '+': s.plus = true; ++j; break;
      case ' ': s.space = true; ++j; break;
      case '#': s.alternate = true; ++j; break;
      default: flags = false; break;
    }
  }
  FmtElement e;
  if (j < len && f[j] == '*') {
    ++j;
    TN_TRY(fetch(r, &e));
    s.width = e.integer;
  } else {
    if (j < len && f[j] == '0' && is_float_letter(letter)) s.zero = true;
    s.width = read_count(f, len, &j);
  }
  if (j < len && f[j] == '.') {
    ++j;
    s.has_precision = true;
    if (j < len && f[j] == '*') {
      ++j;
      TN_TRY(fetch(r, &e));
      s.precision = e.integer;
    } else {
      s.precision = read_count(f, len, &j);
    }
  }

  if (j >= len) {  // the format ends inside the conversion
    *next = j;
    return put(r, '%');
  }
  s.letter = f[j];
  *next = j + 1;
  switch (s.letter) {
    case '%':
      return put(r, '%');
    case 's':
      return put_string(r, s);
    case 'c':
      return put_character(r, s);
    case 'd': case 'i':
      TN_TRY(fetch(r, &e));
      return put_decimal(r, s, e);
    case 'x': case 'X': case 'o':
      TN_TRY(fetch(r, &e));
      return put_unsigned(r, s, e);
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'k': case 'K':
      TN_TRY(fetch(r, &e));
      return put_double(r, s, e.value);
    default:
      // Not a conversion: a '%', then the text goes on from this character.
      *next = j;
      return put(r, '%');
  }
}

int run_format(Run& r) {
  for (;;) {
    r.productive = false;
    for (int64_t i = 0; i < r.format_length;) {
      const uint16_t ch = r.format[i];
      if (ch != '%' || i + 1 == r.format_length) {
        TN_TRY(put_text_char(r, ch));
        ++i;
        continue;
      }
      TN_TRY(convert(r, i, &i));
    }
    if (!r.productive || fmt_exhausted(&r.cur)) return kOk;
  }
}

// The end of line of a stream as characters.
void stream_eol(EngineContext* ctx, int32_t fd, Run& r) {
  char bytes[2];
  r.eol_length = io_newline_mode_of(ctx, fd, bytes);
  for (int32_t i = 0; i < r.eol_length; ++i) r.eol[i] = uint8_t(bytes[i]);
}

bool is_identifier_char(uint16_t ch) { return is_letter(ch) || is_digit(ch) || ch == '_' || ch == ':'; }

// The identifier that error and warning take from a first argument made only
// of name characters and ':' with at least one ':'. False when it is no such text.
bool identifier_argument(EngineContext* ctx, int depth, char* out, int32_t* length) {
  if (!stk_is_char(ctx, depth)) return false;
  TypedView v;
  if (!typed_view(ctx, depth, &v) || v.count < 1 || v.count > kIdentifierMaxChars) return false;
  bool colon = false;
  for (int64_t i = 0; i < v.count; ++i) {
    const uint16_t ch = tn::load<uint16_t>(v.elems + 2 * i);
    if (!is_identifier_char(ch)) return false;
    colon = colon || ch == ':';
    out[i] = char(ch);
  }
  *length = int32_t(v.count);
  return colon;
}

// The format copy on top as 8-bit text in the free space above it (the
// message of an error whose formatting left nothing).
int unformatted_message(EngineContext* ctx, const char** text, int32_t* length) {
  TypedView f;
  if (!typed_view(ctx, 0, &f)) return kBadArgument;
  auto* buf = reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_top);
  const int64_t free_bytes = data_free_words(ctx) * 8;
  int32_t bytes = 0;
  if (f.count > INT32_MAX ||
      !wstr_to_bytes(ctx, kNewlineLF, reinterpret_cast<const uint16_t*>(f.elems), int32_t(f.count),
                     buf, int32_t(std::min<int64_t>(free_bytes, INT32_MAX)), &bytes))
    return kDataStackOverflow;
  *text = reinterpret_cast<const char*>(buf);
  *length = bytes;
  return kOk;
}

void drop_items(EngineContext* ctx, int count) {
  for (int k = 0; k < count && stk_item_count(ctx) > 0; ++k) stk_drop(ctx);
}

}  // namespace

// --- The cursor -------------------------------------------------------------------

int fmt_cursor_init(EngineContext* ctx, int32_t nargs, FmtCursor* cur) {
  *cur = FmtCursor{ctx, nargs - 1, nargs, 0, kElemDouble, 0, 0, nullptr};
  for (int32_t k = 0; k < nargs; ++k) {
    uint32_t type;
    int64_t count;
    const uint8_t* data;
    if (!item_elements(ctx, k, &type, &count, &data)) return kWrongType;
  }
  return kOk;
}

int fmt_next_argument(FmtCursor* cur) {
  if (cur->taken >= cur->nargs) return kIndexOutOfRange;
  const int depth = cur->first_depth - cur->taken;
  ++cur->taken;
  cur->index = 0;
  if (!item_elements(cur->ctx, depth, &cur->type, &cur->count, &cur->data)) cur->count = 0;
  return kOk;
}

int fmt_fetch_element(FmtCursor* cur, FmtElement* out) {
  for (;;) {
    while (cur->index >= cur->count) TN_TRY(fmt_next_argument(cur));
    // An element of a type that cannot be read is skipped.
    if (read_element(cur->type, cur->data, cur->index++, out)) return kOk;
  }
}

int64_t fmt_remaining_in_argument(FmtCursor* cur, bool* has_argument) {
  *has_argument = true;
  if (cur->index >= cur->count && fmt_next_argument(cur) != kOk) {
    *has_argument = false;
    return 0;
  }
  return cur->count - cur->index;
}

bool fmt_exhausted(const FmtCursor* cur) {
  if (cur->index < cur->count) return false;
  for (int32_t k = cur->taken; k < cur->nargs; ++k) {
    uint32_t type;
    int64_t count;
    const uint8_t* data;
    if (item_elements(cur->ctx, cur->first_depth - k, &type, &count, &data) && count > 0)
      return false;
  }
  return true;
}

// --- The engine -----------------------------------------------------------------------

namespace {

enum class RowAnswer { kNone, kMode, kRefused };

// The mode byte of the first "+write" row that accepts a zero-length write
// to fd. kRefused when a row answers with an error, which ends the search.
RowAnswer write_row_mode(EngineContext* ctx, int32_t fd, uint8_t* mode) {
  for (int t = 0; t < ctx->table_count; ++t) {
    const LibraryTableRef ref = table_refs(ctx)[t];
    for (int k = 0; k < ref.rows; ++k) {
      const BuiltinEntry& row = ref.table[k];
      if (!row.fn || std::strncmp(row.name, kHookWrite, sizeof row.name) != 0) continue;
      const auto hook = reinterpret_cast<StreamWriteHook>(reinterpret_cast<void (*)()>(row.fn));
      const int status = hook(ctx, fd, "", 0, builtin_data(ctx, &row));
      if (status == kNotMyDescriptor) continue;
      if (status != kOk) return RowAnswer::kRefused;
      *mode = row.min_in;
      return RowAnswer::kMode;
    }
  }
  return RowAnswer::kNone;
}

int32_t newline_bytes(uint8_t mode, char bytes[2]) {
  switch (mode) {
    case kNewlineLF: bytes[0] = '\n'; return 1;
    case kNewlineCRLF: bytes[0] = '\r'; bytes[1] = '\n'; return 2;
    default: bytes[0] = '\r'; return 1;
  }
}

// The descriptor whose hooks take a write to fd: fd 1 or 2 redirected
// without a copy writes to its target only (once: the target's own
// redirection is not followed, as in the stream layer).
int32_t written_to(const EngineContext* ctx, int32_t fd) {
  const bool std_out = fd == kFdStdout || fd == kFdStderr;
  return std_out && ctx->redirect[fd] != fd && !ctx->redirect_copy[fd - 1] ? ctx->redirect[fd] : fd;
}

}  // namespace

int32_t io_stdout_newline_mode(EngineContext* ctx, char bytes[2]) {
  uint8_t mode = kNewlineLF;
  if (write_row_mode(ctx, kFdStdout, &mode) != RowAnswer::kMode) mode = kNewlineLF;
  return newline_bytes(mode, bytes);
}

int32_t io_newline_mode_of(EngineContext* ctx, int32_t fd, char bytes[2]) {
  uint8_t mode = kNewlineLF;
  switch (write_row_mode(ctx, written_to(ctx, fd), &mode)) {
    case RowAnswer::kMode: return newline_bytes(mode, bytes);
    case RowAnswer::kRefused: return newline_bytes(kNewlineLF, bytes);
    case RowAnswer::kNone: break;
  }
  return io_stdout_newline_mode(ctx, bytes);
}

int fmt_printf_engine(EngineContext* ctx, int nargs, bool for_stream, const char** text,
                      int32_t* length, int32_t* eol_extra, int32_t fd) {
  if (nargs < 1) return kTooFewInputs;
  if (!stk_is_char(ctx, nargs - 1)) return kBadArgument;
  Run r{};
  if (for_stream) {
    stream_eol(ctx, fd, r);
  } else {
    r.eol[0] = kLineFeed;
    r.eol_length = 1;
  }
  TypedView f;
  if (!typed_view(ctx, nargs - 1, &f)) return kBadArgument;
  r.format = reinterpret_cast<const uint16_t*>(f.elems);
  r.format_length = f.count;
  TN_TRY(fmt_cursor_init(ctx, nargs - 1, &r.cur));

  // Free space F: number scratch in the lower half, the output in the upper.
  const int64_t free_bytes = data_free_words(ctx) * 8;
  const int64_t half = (free_bytes / 2) & ~int64_t(7);
  auto* base = reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_top);
  r.scratch = reinterpret_cast<char*>(base);
  r.scratch_capacity = int32_t(half - kFieldSpare > 0 ? half - kFieldSpare : 0);
  r.out = reinterpret_cast<uint16_t*>(base + half);
  const int64_t out_chars = (free_bytes - half - kRowMargin) / 2;
  r.capacity = int32_t(out_chars > 0 ? out_chars : 0);
  if (r.capacity < 1) return kDataStackOverflow;

  int status = run_format(r);
  if (status == kIndexOutOfRange) status = kOk;  // out of elements: the text so far stands
  TN_TRY(status);

  if (for_stream) {
    int32_t bytes = 0;
    if (!wstr_to_bytes(ctx, kNewlineLF, r.out, r.n, base, int32_t(free_bytes), &bytes))
      return kDataStackOverflow;
    drop_items(ctx, nargs);
    if (text) *text = reinterpret_cast<const char*>(base);
    if (length) *length = bytes;
    if (eol_extra) *eol_extra = r.line_ends * (r.eol_length - 1);
    return kOk;
  }
  // The row is pushed where the arguments were. It ends below the output (the
  // format alone held two words, and kRowMargin covers the row's header), so
  // the push, which fits wherever the output fitted, overwrites no character.
  if (!desc_room(ctx)) return kStackOverflow;
  drop_items(ctx, nargs);
  uint16_t* row = nullptr;
  TN_TRY(stk_push_char_row(ctx, r.n, &row));
  if (r.n > 0) std::memmove(row, r.out, size_t(r.n) * 2);
  if (text) *text = nullptr;
  if (length) *length = r.n;
  if (eol_extra) *eol_extra = 0;
  return kOk;
}

// --- The intrinsics -------------------------------------------------------------------

int bi_sprintf(EngineContext* ctx, int nargin) {
  if (!desc_room(ctx)) return kStackOverflow;
  return fmt_printf_engine(ctx, nargin, false, nullptr, nullptr);
}

int bi_fprintf(EngineContext* ctx, int nargin, int nargout) {
  if (nargin < 1) return kTooFewInputs;
  int32_t fd = kFdStdout;
  int nformat = nargin;
  if (!stk_is_char(ctx, nargin - 1)) {
    const uint32_t* d = desc_at(ctx, nargin - 1);
    if (d[0] != kKindReal || d[1] != 1 || d[2] != 1) return kNonScalarArg;
    fd = tn::dtoi32(tn::ld_f64(item_data(ctx, nargin - 1)));
    --nformat;
  }
  const char* text = nullptr;
  int32_t length = 0, eol_extra = 0;
  TN_TRY(fmt_printf_engine(ctx, nformat, true, &text, &length, &eol_extra, fd));
  drop_items(ctx, nargin - nformat);  // the descriptor; the text stays in free space
  TN_TRY(io_write(ctx, fd, text, length));
  // The count is the bytes written to the stream, an end of line as one
  // byte: a console whose row asks for CR LF writes LF alone here, and a
  // text-mode file, which stores CR LF, was handed one LF (ftell then says
  // more than the count).
  if (nargout == 1) return stk_push_real(ctx, length - eol_extra);
  if (nargout < 0) return stk_push_no_value(ctx);
  return kOk;
}

int bi_error_warning_assert(EngineContext* ctx, int nargin, bool warning) {
  if (nargin < 1) return kTooFewInputs;
  int32_t code = warning ? kOk : kUserError;
  char id[kIdentifierMaxChars];
  int32_t id_length = 0;
  int rest = nargin;
  if (identifier_argument(ctx, nargin - 1, id, &id_length)) {
    code = err_code_from_identifier(ctx, id, id_length);
    if (code == 0) {
      const int status = symtab_intern(ctx, id, id_length, kErrorIdLimit, &code);
      if (status != kOk) {
        drop_items(ctx, nargin);
        return status;
      }
    }
    stk_remove(ctx, nargin - 1, 1);
    --rest;
    if (rest == 0) {
      if (warning) return kOk;
      err_store_identified(ctx, code, id, id_length);
      return code;
    }
  }
  // A copy of the format goes under the arguments: when a format given alone
  // formats to nothing (a conversion that finds no argument), the unformatted
  // text is the message, so that a failure is never reported as success.
  // With arguments an empty message is what the caller asked for: no error.
  int status = stk_dup(ctx, rest - 1, 1);
  if (status == kOk) status = stk_move(ctx, rest + 1, rest);
  if (status != kOk) {
    drop_items(ctx, rest);
    return status;
  }
  const char* text = nullptr;
  int32_t length = 0;
  status = fmt_printf_engine(ctx, rest, true, &text, &length, nullptr, kFdStderr);
  if (status != kOk) {
    drop_items(ctx, rest + 1);
    return status;
  }
  if (length == 0 && rest == 1) status = unformatted_message(ctx, &text, &length);
  stk_drop(ctx);  // the copy; the text lies above it in free space
  TN_TRY(status);
  if (length == 0) return kOk;
  if (warning) {
    TN_TRY(io_write(ctx, kFdStderr, text, length));
    TN_TRY(io_newline(ctx, kFdStderr));
    return kOk;
  }
  err_store(ctx, code, text, length, true);
  return code;
}

int bi_assert(EngineContext* ctx, int nargin) {
  if (nargin < 1) return kTooFewInputs;
  uint8_t holds = 0;
  TN_TRY(stk_test_condition(ctx, nargin - 1, &holds));
  if (holds) {
    drop_items(ctx, nargin);
    return kOk;
  }
  if (nargin == 1) {
    stk_drop(ctx);
    return kAssertionFalse;
  }
  stk_remove(ctx, nargin - 1, 1);
  return bi_error_warning_assert(ctx, nargin - 1, false);
}

// --- Interpreter binding ------------------------------------------------------------------

const uint16_t kFormattedIoOpcodes[kFormattedIoOpcodeCount] = {
    kOpSprintf, kOpFprintf, kOpSscanf, kOpFscanf, kOpError, kOpWarning, kOpAssert};

int op_formatted_io(EngineContext* ctx, int32_t selector, int nargin, int nargout, int) {
  switch (selector) {
    case kOpSprintf: return bi_sprintf(ctx, nargin);
    case kOpFprintf: return bi_fprintf(ctx, nargin, nargout);
    case kOpSscanf: return bi_sscanf(ctx, nargin, nargout);
    case kOpFscanf: return bi_fscanf(ctx, nargin, nargout);
    case kOpError: return bi_error_warning_assert(ctx, nargin, false);
    case kOpWarning: return bi_error_warning_assert(ctx, nargin, true);
    case kOpAssert: return bi_assert(ctx, nargin);
    default: return kNotSupported;
  }
}
