// libFuzzer target: arbitrary bytes as a data exchange text, read as _xdata
// and as _xdatatype. Every input must give a status; a success leaves exactly
// one value, a failure none, and either way no frame, no code position, no
// lent stack capacity and no name in the workspace stays behind. The values are held against a model
// of the text's layout, cut here from the format's rules: without the header
// line the type is "text" and the data the text's bytes; with it the type is
// what stands between the quotes (up to a quote or a line end), and the data
// the literal value of the body after the line ends that follow the header
// (the same engine reader given the model's body must give the same value).
// A value read is then written back with its type, as a data handler's
// outputs are, and must read back the same, under the same type (a quote in
// it written as an apostrophe, a line end as a blank).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "engine/core/frames.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/dump_source.h"
#include "engine/lib/str2obj.h"
#include "runtime/data_text.h"
#include "runtime/runtime_block.h"

namespace {

constexpr uint32_t kBlockBytes = 1u << 20;
constexpr size_t kLongestText = 1 << 16;
constexpr char kHeaderPrefix[] = "%TN xdata \"";
constexpr size_t kHeaderPrefixBytes = sizeof kHeaderPrefix - 1;
constexpr int32_t kWrittenRoom = 1 << 17;  // for a value written back with its type
constexpr int32_t kNoLink = -1;
char g_sink[1 << 12];
uint32_t g_sink_len = 0;

void require(bool ok) {
  if (!ok) std::abort();
}

RuntimeBlock* started_block() {
  static RuntimeBlock* block = [] {
    RuntimeBlock* b = nullptr;
    void* buffer = std::calloc(1, kBlockBytes);
    require(runtime_block_init(&b, buffer, kBlockBytes, 0, 2) == 0);
    EngineContext* c = rt_engine(b);
    // Error reports of failing bodies go to a sink that is emptied each time.
    c->capture = CaptureBuffer{g_sink, sizeof g_sink, &g_sink_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
    return b;
  }();
  return block;
}

// Descriptor words above the current frame: the items on it. A body is read
// in a workspace of its own, so the frame itself (its names) must not
// change either: a name a body assigns would turn the same name in the next
// body into a variable read.
int64_t words_above_frame(EngineContext* c) {
  return c->desc_top - (c->frame + frame_fixed_words(frame_words(c, c->frame)));
}

bool line_end(char ch) { return ch == '\r' || ch == '\n'; }

// The value on top as exact source text (kept on the stack); false when
// the text does not fit the free space (the value is then not compared).
bool top_source(EngineContext* c, std::u16string* out) {
  uint16_t* text = nullptr;
  int32_t n = 0;
  if (dump_into_free_space(c, nullptr, 0, kDumpDigitsExact, &text, &n) != kOk) return false;
  out->assign(reinterpret_cast<const char16_t*>(text), size_t(n));
  return true;
}

// What the model says the text gives for `code`: the value pushed from the
// model's cut of the text by the engine's own primitives, as source text
// (*shown false when it does not fit the free space); false when that value
// is refused.
bool model_value(EngineContext* c, int32_t code, const char* text, size_t size, std::u16string* out, bool* shown) {
  const bool header = size >= kHeaderPrefixBytes && std::memcmp(text, kHeaderPrefix, kHeaderPrefixBytes) == 0;
  int status = kOk;
  if (size == 0) {
    status = stk_push_cstr(c, 0, "");
  } else if (!header) {
    status = code == kCodeXdatatype ? stk_push_cstr(c, 4, "text") : stk_push_bytes(c, int32_t(size), text);
  } else {
    size_t end = kHeaderPrefixBytes;
    while (end < size && text[end] != '"' && !line_end(text[end])) ++end;
    if (code == kCodeXdatatype) {
      status = stk_push_bytes(c, int32_t(end - kHeaderPrefixBytes), text + kHeaderPrefixBytes);
    } else {
      size_t body = end < size ? end + 1 : size;
      while (body < size && line_end(text[body])) ++body;
      status = literal_read_value(c, text + body, int32_t(size - body));
    }
  }
  if (status != kOk) return false;
  *shown = top_source(c, out);
  stk_drop(c);
  return true;
}

[[noreturn]] void differs(const char* what, int32_t code) {
  std::fprintf(stderr, "data_text_fuzz: %s for %s\n", what, code == kCodeXdata ? "_xdata" : "_xdatatype");
  std::abort();
}

// The chars of the char row on top, as bytes when all are ASCII; false
// when the value is no char row or holds other characters.
bool top_ascii(EngineContext* c, std::string* out) {
  TypedView t{};
  if (!stk_is_char(c, 0) || !typed_view(c, 0, &t)) return false;
  out->clear();
  for (int64_t i = 0; i < t.count; ++i) {
    const uint16_t ch = reinterpret_cast<const uint16_t*>(t.elems)[i];
    if (ch >= 0x80) return false;
    out->push_back(char(ch));
  }
  return true;
}

bool ascii(const std::u16string& s) {
  for (const char16_t ch : s)
    if (ch >= 0x80) return false;
  return true;
}

// The text's two values written back as a data handler writes them (the
// data as source, then its type in front), read again: the data must come
// back the same and the type with a quote as an apostrophe and a line end as
// a blank. Only for ASCII values, which the writer's byte conversion keeps.
void round_trip(RuntimeBlock* b, const char* text, int32_t size, const std::u16string& data) {
  EngineContext* c = rt_engine(b);
  std::string type;
  require(xdata_parse_header(b, kCodeXdatatype, text, size) == kOk);
  const bool plain = top_ascii(c, &type);
  stk_drop(c);
  if (!plain || !ascii(data)) return;
  static std::string written;
  written.assign(size_t(kWrittenRoom), 0);
  int32_t length = 0;
  require(xdata_parse_header(b, kCodeXdata, text, size) == kOk);
  if (xdata_write_data(b, true, written.data(), kWrittenRoom, &length) != kOk) {
    stk_drop(c);
    return;
  }
  require(stk_push_bytes(c, int32_t(type.size()), type.data()) == kOk);
  if (xdata_write_type(b, written.data(), kWrittenRoom, &length, 0, kNoLink) != kOk) {
    stk_drop(c);
    return;
  }
  for (char& ch : type) ch = ch == '"' ? '\'' : line_end(ch) ? ' ' : ch;
  std::string type_back;
  require(xdata_parse_header(b, kCodeXdatatype, written.data(), length) == kOk);
  if (!top_ascii(c, &type_back) || type_back != type) differs("the type written and read back changes", kCodeXdatatype);
  stk_drop(c);
  if (xdata_parse_header(b, kCodeXdata, written.data(), length) != kOk)
    differs("the value written does not read back", kCodeXdata);
  std::u16string back;
  if (top_source(c, &back) && back != data) differs("the value written and read back changes", kCodeXdata);
  stk_drop(c);
  g_sink_len = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data_bytes, size_t size) {
  if (size > kLongestText) return 0;
  RuntimeBlock* b = started_block();
  EngineContext* c = rt_engine(b);
  const int64_t words = words_above_frame(c);
  const int32_t frame = c->frame;
  const uint32_t capacity = c->data_capacity;
  const int32_t desc_top = c->desc_top;
  std::u16string data;
  bool both = true;
  for (int32_t code : {kCodeXdata, kCodeXdatatype}) {
    const int32_t data_top = c->data_top;
    const char* text = reinterpret_cast<const char*>(data_bytes);
    const int status = xdata_parse_header(b, code, text, int32_t(size));
    require(c->frame == frame && c->data_capacity == capacity && c->pos.kind == kAreaNone);
    std::u16string want, got;
    bool shown = false;
    if (status == 0) {
      require(words_above_frame(c) == words + 3);
      shown = top_source(c, &got);
      stk_drop(c);
    }
    // The model reads with the room the engine had: each read is made with
    // the data stack as the caller left it, never above the other's value
    // (a body that fills most of the stack reads in one but not the other).
    require(words_above_frame(c) == words && c->data_top == data_top);
    bool shown_model = false;
    const bool modelled = model_value(c, code, text, size, &want, &shown_model);
    if (modelled != (status == 0)) differs(status == 0 ? "a value the model refuses" : "no value where the model has one", code);
    shown = shown && shown_model;
    if (shown && got != want) differs("another value than the model's", code);
    if (status == 0 && code == kCodeXdata) data = got;
    both = both && status == 0 && shown;
    require(words_above_frame(c) == words && c->data_top == data_top && c->desc_top == desc_top);
    g_sink_len = 0;
  }
  if (both) round_trip(b, reinterpret_cast<const char*>(data_bytes), int32_t(size), data);
  require(words_above_frame(c) == words && c->frame == frame && c->desc_top == desc_top);
  return 0;
}
