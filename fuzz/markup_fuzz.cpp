// libFuzzer target: arbitrary bytes as a markup text. The first byte picks
// the format and whether the span hook runs, the next three the options;
// the source then sits in a buffer of exactly its size. Every run must end
// with a status; a parsed output is NUL-ended inside its half, RTF braces
// balance, a link target ends its field's argument only at its end, no
// HTML attribute holds a tag, and span retries stop at the cap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/markup_rules.h"
#include "runtime/markup/markup_display.h"

namespace {

// Names the broken condition before stopping, so a crash reads at once.
#define require(ok)                                                  \
  do {                                                               \
    if (!(ok)) {                                                     \
      std::fprintf(stderr, "markup_fuzz: %s (line %d)\n", #ok, __LINE__); \
      std::abort();                                                  \
    }                                                                \
  } while (0)

bool rtf_balanced(const char* text, int32_t n) {
  int depth = 0;
  for (int32_t k = 0; k < n; ++k) {
    if (text[k] == '\\') {
      ++k;
      continue;
    }
    depth += text[k] == '{' ? 1 : text[k] == '}' ? -1 : 0;
    if (depth < 0) return false;
  }
  return depth == 0;
}

int32_t put_text(void*, const char16_t*, int32_t length, bool) { return length > 0 ? 0 : 0; }
void format_chars(void*, int32_t start, int32_t end, const MarkupCharFormat* f) {
  require(start <= end);
  if (f && (f->mask & kMkCfLink)) require(f->link_target_length >= 0);
}
void format_paragraphs(void*, int32_t start, int32_t end, const MarkupParaFormat*) { require(start <= end); }
void remove_text(void*, int32_t start, int32_t end) { require(start < end); }
void collapse(void*, int32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 4;
  constexpr size_t kLongest = 1 << 16;
  if (size < kHeader || size > kLongest) return 0;
  const MarkupFormatId id = MarkupFormatId(data[0] % kMkFormatCount);
  const bool spans = (data[0] & 0x80) != 0;
  const uint32_t options = uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16;
  // The source in a buffer of exactly its length: a read past it is caught.
  const int32_t n = int32_t(size - kHeader);
  std::vector<char> source(data + kHeader, data + size);
  if (spans) {
    MarkupSpanConverter* c = markup_converter_run_spans(source.data(), n, (data[1] & 1) != 0);
    require(c != nullptr);
    require(c->run.status == 0 || c->run.status == 1);
    if (c->run.status == 1) require(c->run.buffer_bytes == markup_converter_cap(n));
    markup_span_converter_free(c);
    const MarkupRichSink sink{nullptr, put_text, format_chars, format_paragraphs, remove_text, collapse};
    markup_render_richedit(&sink, source.data(), n, false, nullptr, (data[1] & 2) != 0);
    return 0;
  }
  const int32_t capacity = 2 * n + int32_t(data[3]) * 8;
  std::vector<char> buffer(size_t(capacity > 0 ? capacity : 1));
  char* out = nullptr;
  int32_t bytes = 0, chars = 0;
  const int status = markup_parse(source.data(), n, buffer.data(), capacity, options, "\r\n", markup_format(id), 0,
                                  &out, &bytes, &chars);
  require(status == 0 || status == 1);
  if (status != 0) return 0;
  const int32_t half = capacity / 2;
  const bool first = out == buffer.data(), second = out == buffer.data() + half;
  require(first || second);
  require(bytes >= 0 && bytes + 2 <= half && out[bytes] == 0 && chars <= bytes);
  if (id == kMkRtf && options == 0) require(rtf_balanced(out, bytes));
  if (id == kMkRtf) require(markup_rules::rtf_field_fault(std::string(out, size_t(bytes))).empty());
  if (id == kMkHtml) require(markup_rules::html_attribute_fault(std::string(out, size_t(bytes))).empty());
  return 0;
}
