// The data exchange text: reading _xdata and _xdatatype from a text with or
// without its "%TN xdata" header, and writing them back from a data
// handler's outputs. A body after a header is read as one literal value (the
// engine refuses anything that is not constant-building code); the value is
// written as source text that reads back exactly. A writer that fails
// leaves the caller's length word and the value as they were, and no writer
// goes past the caller's capacity.
#include "runtime/data_text.h"

#include <cstring>

#include "engine/core/errors.h"
#include "engine/core/newline.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/lib/dump_source.h"
#include "engine/lib/str2obj.h"
#include "runtime/runtime_status.h"

namespace {

constexpr char kHeaderPrefix[] = "%TN xdata ";
constexpr int32_t kHeaderPrefixBytes = sizeof kHeaderPrefix - 1;
static_assert(kHeaderPrefixBytes == 10);
constexpr char kLinkPrefix[] = "%TN link ";
constexpr int32_t kLinkPrefixBytes = sizeof kLinkPrefix - 1;
// The header line around its type: prefix, two quotes, one line-end byte.
constexpr int32_t kHeaderFixedBytes = kHeaderPrefixBytes + 2 + 1;
static_assert(kHeaderFixedBytes == 13);
// "%TN link ## **" and one line-end byte.
constexpr int32_t kLinkLineBytes = kLinkPrefixBytes + 5 + 1;
static_assert(kLinkLineBytes == 15);
constexpr int32_t kLargestLinkId = 99;
constexpr char kPlainType[] = "text";
constexpr char kXdataName[] = "_xdata";
constexpr int32_t kMatrixDigits = 15;
constexpr int32_t kElementRoom = 50;  // bytes every numeric element needs
constexpr int32_t kNumberBytes = 80;

bool is_line_end(char ch) { return ch == '\r' || ch == '\n'; }

uint8_t newline_mode(RuntimeBlock* b) {
  switch (b->h.line_end) {
    case 0: return kNewlineCR;
    case 1: return kNewlineLF;
    default: return kNewlineCRLF;
  }
}

int32_t line_end_bytes(RuntimeBlock* b) { return newline_mode(b) == kNewlineCRLF ? 2 : 1; }

void put_line_end(RuntimeBlock* b, char* at) {
  switch (newline_mode(b)) {
    case kNewlineCR: at[0] = '\r'; break;
    case kNewlineLF: at[0] = '\n'; break;
    default: at[0] = '\r'; at[1] = '\n'; break;
  }
}

bool has_header(const char* text, int32_t length) {
  return length > kHeaderPrefixBytes && std::memcmp(text, kHeaderPrefix, kHeaderPrefixBytes) == 0 &&
         text[kHeaderPrefixBytes] == '"';
}

// The 16-bit text of the char array on top, as bytes through the host's
// conversion into the free data stack, which stays free afterwards.
int top_text_bytes(EngineContext* ctx, uint8_t newline, uint8_t** bytes, int32_t* count) {
  TypedView t{};
  if (!stk_is_char(ctx, 0) || !typed_view(ctx, 0, &t)) return kWrongType;
  void* scratch = nullptr;
  int64_t free_bytes = 0;
  stk_free_space(ctx, &free_bytes, &scratch);
  const int64_t cap = std::min<int64_t>(free_bytes, INT32_MAX);
  if (t.count > INT32_MAX) return kRtExhausted;
  int32_t n = 0;
  if (!wstr_to_bytes(ctx, newline, reinterpret_cast<const uint16_t*>(t.elems), int32_t(t.count),
                     static_cast<uint8_t*>(scratch), int32_t(cap), &n))
    return kDataStackOverflow;
  *bytes = static_cast<uint8_t*>(scratch);
  *count = n;
  return kOk;
}

// Output 33 as source text, appended at *length.
int write_source(RuntimeBlock* b, EngineContext* ctx, char* buffer, int32_t capacity, int32_t* length) {
  uint16_t* text = nullptr;
  int32_t n = 0;
  TN_TRY(dump_into_free_space(ctx, nullptr, 0, kDumpDigitsExact, &text, &n));
  const int32_t room = capacity - *length;
  int32_t bytes = 0;
  // Through a scratch string: the caller's buffer only ever receives what fits.
  if (room < 1 || !wstr_to_bytes(ctx, newline_mode(b), text, n, reinterpret_cast<uint8_t*>(buffer + *length),
                                 room, &bytes))
    return kRtExhausted;
  int32_t at = *length + bytes;
  if (capacity - at >= 2) {
    put_line_end(b, buffer + at);
    at += line_end_bytes(b);
  }
  *length = at;
  return kOk;
}

int write_chars(EngineContext* ctx, char* buffer, int32_t capacity, int32_t* length) {
  uint8_t* bytes = nullptr;
  int32_t n = 0;
  TN_TRY(top_text_bytes(ctx, kNewlineLF, &bytes, &n));
  if (n > capacity) return kRtExhausted;
  std::memcpy(buffer, bytes, size_t(n));
  *length = n;
  return kOk;
}

// A numeric matrix as rows of TAB-separated numbers, each row ended.
int write_matrix(RuntimeBlock* b, EngineContext* ctx, char* buffer, int32_t capacity, int32_t* length) {
  int32_t rows = 0, cols = 0;
  double* re = nullptr;
  double* im = nullptr;
  TN_TRY(stk_get_matrix(ctx, 0, &rows, &cols, &re, &im));
  int32_t at = *length;
  const int32_t eol = line_end_bytes(b);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      if (capacity - at < kElementRoom) return kRtExhausted;
      char text[kNumberBytes];
      int32_t n = 0;
      const int64_t i = int64_t(r) * cols + c;
      if (im) {
        fmt_complex(text, &n, tn::load<double>(re + i), tn::load<double>(im + i), kMatrixDigits, 'g', 0, true, false,
                    'i', false, false, false, kNumberBytes - 1);
      } else {
        fmt_double(text, &n, tn::load<double>(re + i), kMatrixDigits, 'g', 0, true, false, false, false, false,
                   false, kNumberBytes - 1);
      }
      if (c) buffer[at++] = '\t';
      std::memcpy(buffer + at, text, size_t(n));
      at += n;
    }
    if (capacity - at < eol) return kRtExhausted;
    put_line_end(b, buffer + at);
    at += eol;
  }
  *length = at;
  return kOk;
}

// The body as one literal value. A run that failed has reported itself (its
// report became the last one); a body refused before it ran leaves the
// report to the caller, naming the data text as the failing operation.
int read_body(EngineContext* ctx, const char* text, int32_t length, bool* reported) {
  const int32_t last_report = ctx->err_last_text;
  const int status = literal_read_value(ctx, text, length);
  if (status == kOk || status == kDebugSuspend) return status;
  if (ctx->err_last_text != last_report) {
    if (reported) *reported = true;
    return status;
  }
  err_state_clear(ctx);
  static_assert(sizeof kXdataName <= sizeof ctx->failing_op);
  std::memcpy(ctx->failing_op, kXdataName, sizeof kXdataName);
  return status;
}

void put_two_digits(char* at, int32_t v) {
  at[0] = char('0' + v / 10);
  at[1] = char('0' + v % 10);
}

}  // namespace

int xdata_parse_header(RuntimeBlock* b, int32_t code, const char* text, int32_t length, bool* reported) {
  EngineContext* ctx = rt_engine(b);
  if (!text || length <= 0) return stk_push_cstr(ctx, 0, "");
  if (!has_header(text, length)) {
    if (code == kCodeXdatatype) return stk_push_cstr(ctx, int32_t(sizeof kPlainType - 1), kPlainType);
    return stk_push_bytes(ctx, length, text);
  }
  const int32_t type_start = kHeaderPrefixBytes + 1;
  int32_t type_end = type_start;
  while (type_end < length && text[type_end] != '"' && !is_line_end(text[type_end])) ++type_end;
  if (code == kCodeXdatatype) return stk_push_bytes(ctx, type_end - type_start, text + type_start);
  int32_t body = type_end < length ? type_end + 1 : length;
  while (body < length && is_line_end(text[body])) ++body;
  return read_body(ctx, text + body, length - body, reported);
}

int xdata_write_data(RuntimeBlock* b, bool type_follows, char* buffer, int32_t capacity, int32_t* length) {
  EngineContext* ctx = rt_engine(b);
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  if (buffer && length) {
    if (*length < 0 || *length > capacity) return kRtExhausted;
    int status = kOk;
    if (*length > 0 || type_follows) status = write_source(b, ctx, buffer, capacity, length);
    else if (stk_is_char(ctx, 0)) status = write_chars(ctx, buffer, capacity, length);
    else status = write_matrix(b, ctx, buffer, capacity, length);
    TN_TRY(status);
  }
  stk_drop(ctx);
  return kOk;
}

int xdata_write_type(RuntimeBlock* b, char* buffer, int32_t capacity, int32_t* length, int32_t instance_id,
                     int32_t link_id) {
  EngineContext* ctx = rt_engine(b);
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  if (!stk_is_char(ctx, 0)) return kWrongType;
  if (buffer && length) {
    if (*length < 0 || *length > capacity) return kRtExhausted;
    uint8_t* type = nullptr;
    int32_t type_length = 0;
    TN_TRY(top_text_bytes(ctx, kNewlineLF, &type, &type_length));
    const int32_t eol = line_end_bytes(b);
    // Two digits each: a link id or instance id past 99 gets no link line.
    const bool link = link_id >= 0 && link_id <= kLargestLinkId && instance_id >= 0 &&
                      instance_id <= kLargestLinkId;
    const int64_t header = int64_t(type_length) + kHeaderFixedBytes + (eol - 1) +
                           (link ? kLinkLineBytes + (eol - 1) : 0);
    if (int64_t(*length) + header > capacity) return kRtExhausted;
    std::memmove(buffer + header, buffer, size_t(*length));
    char* at = buffer;
    std::memcpy(at, kHeaderPrefix, kHeaderPrefixBytes);
    at += kHeaderPrefixBytes;
    *at++ = '"';
    // A quote would end the type early, a line end the header.
    for (int32_t i = 0; i < type_length; ++i) {
      const char ch = char(type[i]);
      *at++ = ch == '"' ? '\'' : is_line_end(ch) ? ' ' : ch;
    }
    *at++ = '"';
    put_line_end(b, at);
    at += eol;
    if (link) {
      std::memcpy(at, kLinkPrefix, kLinkPrefixBytes);
      at += kLinkPrefixBytes;
      put_two_digits(at, instance_id);
      at[2] = ' ';
      put_two_digits(at + 3, link_id);
      at += 5;
      put_line_end(b, at);
      at += eol;
    }
    *length += int32_t(header);
  }
  stk_drop(ctx);
  return kOk;
}
