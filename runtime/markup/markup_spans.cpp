// The span table of the rich-text display and the converter runs: the span
// hook records each element's output range; a run that fills its output or
// its table frees both and retries with doubled sizes, giving up at the cap.
// Also the UTF-16/UTF-8 conversions whose counts the spans rely on.
#include <cstdlib>
#include <cstring>

#include "runtime/markup/markup_display.h"
#include "runtime/markup/markup_parser_internal.h"

namespace {

constexpr int64_t kOutputSlack = 1024;    // first buffer: 2 x length + this
constexpr int64_t kSpanSlack = 116;       // first span table: length + this
constexpr int64_t kCapFactor = 10;        // cap: 10 x length + kCapSlack
constexpr int64_t kCapSlack = 65536;
constexpr char16_t kReplacement = 0xFFFD;

// Span kinds by marker, with the span pushed beside a term or a header cell.
struct KindRow {
  const char* marker;
  int32_t kind;
  int32_t companion;
};
const KindRow kKinds[] = {
    {"**", kMkSpanBold, kMkSpanNone},         {"//", kMkSpanItalic, kMkSpanNone},
    {"__", kMkSpanUnderline, kMkSpanNone},    {"^^", kMkSpanSuper, kMkSpanNone},
    {",,", kMkSpanSub, kMkSpanNone},          {"##", kMkSpanMono, kMkSpanNone},
    {"{{{", kMkSpanMono, kMkSpanNone},        {"[[", kMkSpanLink, kMkSpanNone},
    {"{{", kMkSpanImage, kMkSpanNone},        {"p", kMkSpanParagraph, kMkSpanNone},
    {"=", kMkSpanHeading, kMkSpanNone},       {"|", kMkSpanCell, kMkSpanNone},
    {"|=", kMkSpanCell, kMkSpanHeaderBold},   {"*", kMkSpanBullet, kMkSpanNone},
    {"#", kMkSpanNumbered, kMkSpanNone},      {";", kMkSpanTerm, kMkSpanTermBold},
    {";:", kMkSpanTermWithDefinition, kMkSpanNone}, {":", kMkSpanDefinition, kMkSpanNone}};

// The row of a marker, or null. The hook runs at every element's begin and
// end, so the first byte is compared before the whole marker.
const KindRow* kind_row(const char* marker) {
  if (!marker) return nullptr;
  for (const KindRow& r : kKinds)
    if (r.marker[0] == marker[0] && std::strcmp(r.marker, marker) == 0) return &r;
  return nullptr;
}

void* allocate(int64_t bytes) { return bytes > 0 && bytes <= INT32_MAX ? std::malloc(size_t(bytes)) : nullptr; }

int parse_into(MarkupConverter* c, const char* source, int32_t length, const MarkupFormat* format, uint32_t options,
               int32_t font_size, const char* line_end) {
  char* out = nullptr;
  c->status = markup_parse(source, length, c->buffer, c->buffer_bytes, options, line_end, format, font_size, &out,
                           &c->bytes, &c->chars);
  c->text = c->status == 0 ? out : nullptr;
  return c->status;
}

void release(MarkupConverter* c) {
  std::free(c->buffer);
  c->buffer = nullptr;
  c->text = nullptr;
}

}  // namespace

MarkupSpanTable* markup_span_table_init(void* memory, int32_t bytes, bool in_chars) {
  if (!memory || bytes < kMkSpanHeaderBytes + int32_t(sizeof(MarkupSpan))) return nullptr;
  auto* t = static_cast<MarkupSpanTable*>(memory);
  t->capacity = (bytes - kMkSpanHeaderBytes) / int32_t(sizeof(MarkupSpan));
  t->count = 0;
  t->in_chars = in_chars ? 1 : 0;
  t->depth = 0;
  return t;
}

int32_t markup_token(const char* marker) {
  const KindRow* r = kind_row(marker);
  return r ? r->kind : kMkSpanNone;
}

int markup_span_hook(int32_t level, int32_t, int32_t begin, const char* marker, int32_t position, MarkupOut* out,
                     const void* data) {
  auto* t = static_cast<MarkupSpanTable*>(const_cast<void*>(data));
  const KindRow* row = kind_row(marker);
  if (!t || !row) return 0;
  const int32_t kind = row->kind, extra = row->companion;
  const int32_t needed = extra != kMkSpanNone ? 2 : 1;
  const int32_t at = t->in_chars ? markup_out_char_count(out) : markup_out_byte_length(out);
  if (!begin) {
    for (int32_t k = 0; k < needed; ++k) {
      if (t->depth <= 0) return kMkSpanUnbalanced;
      const int32_t index = t->stack[--t->depth];
      if (index >= 0 && index < t->count) t->spans[index].end = at;
    }
    return 0;
  }
  if (t->count > t->capacity - needed) return kMkSpanTableFull;
  if (t->depth > kMkSpanStackSize - needed) return kMkSpanUnbalanced;
  int32_t source_length = 0;
  if (kind == kMkSpanLink || kind == kMkSpanImage) markup_current_source_span(out, nullptr, &source_length);
  const int32_t kinds[2] = {kind, extra};
  for (int32_t k = 0; k < needed; ++k) {
    t->spans[t->count] = MarkupSpan{at, at, kinds[k], level, position, source_length};
    t->stack[t->depth++] = t->count++;
  }
  return 0;
}

int64_t markup_converter_cap(int32_t length) { return kCapFactor * int64_t(length) + kCapSlack; }

MarkupConverter* markup_converter_run(const char* source, int32_t length, const MarkupFormat* format,
                                      uint32_t options, int32_t font_size, const char* line_end) {
  auto* c = static_cast<MarkupConverter*>(std::calloc(1, sizeof(MarkupConverter)));
  if (!c) return nullptr;
  const int64_t cap = markup_converter_cap(length < 0 ? 0 : length);
  int64_t size = 2 * int64_t(length < 0 ? 0 : length) + kOutputSlack;
  for (;;) {
    c->buffer_bytes = int32_t(size < cap ? size : cap);
    c->buffer = static_cast<char*>(allocate(c->buffer_bytes));
    if (!c->buffer) {
      c->status = kMkOutputFull;
      return c;
    }
    if (parse_into(c, source, length, format, options, font_size, line_end) != kMkOutputFull ||
        c->buffer_bytes >= cap)
      return c;
    release(c);
    size = int64_t(c->buffer_bytes) * 2;
  }
}

void markup_converter_free(MarkupConverter* c) {
  if (!c) return;
  release(c);
  std::free(c);
}

MarkupSpanConverter* markup_converter_run_spans_over(const char* source, int32_t length, bool links_active,
                                                     const MarkupFormat* base) {
  auto* c = static_cast<MarkupSpanConverter*>(std::calloc(1, sizeof(MarkupSpanConverter)));
  if (!c) return nullptr;
  MarkupFormat f = *base;
  f.block_hook = markup_span_hook;
  f.inline_hook = markup_span_hook;
  if (links_active) f.templates[kMkLinkTargetEnd] = "|";
  const int32_t n = length < 0 ? 0 : length;
  const int64_t cap = markup_converter_cap(n);
  int64_t size = 2 * int64_t(n) + kOutputSlack;
  int64_t span_bytes = int64_t(n) + kSpanSlack;
  for (;;) {
    c->run.buffer_bytes = int32_t(size < cap ? size : cap);
    c->run.buffer = static_cast<char*>(allocate(c->run.buffer_bytes));
    c->span_bytes = int32_t(span_bytes < INT32_MAX ? span_bytes : INT32_MAX);
    c->spans = markup_span_table_init(allocate(c->span_bytes), c->span_bytes, true);
    if (!c->run.buffer || !c->spans) {
      // Memory exhausted: the run fails with nothing kept.
      markup_span_converter_free(c);
      return nullptr;
    }
    f.hook_data = c->spans;
    const int status = parse_into(&c->run, source, length, &f, 0, 0, "\n");
    if ((status != kMkOutputFull && status != kMkSpanTableFull) || c->run.buffer_bytes >= cap) {
      if (status == kMkSpanTableFull) c->run.status = kMkOutputFull;
      return c;
    }
    release(&c->run);
    std::free(c->spans);
    c->spans = nullptr;
    size = int64_t(c->run.buffer_bytes) * 2;
    span_bytes *= 2;
  }
}

MarkupSpanConverter* markup_converter_run_spans(const char* source, int32_t length, bool links_active) {
  return markup_converter_run_spans_over(source, length, links_active, markup_format(kMkDisplayText));
}

void markup_span_converter_free(MarkupSpanConverter* c) {
  if (!c) return;
  release(&c->run);
  std::free(c->spans);
  std::free(c);
}

int32_t markup_utf16_to_utf8(const char16_t* text, int32_t length, char* out, int32_t capacity) {
  int32_t n = 0;
  auto put = [&](uint32_t b) {
    if (out && n < capacity) out[n] = char(b);
    ++n;
  };
  for (int32_t k = 0; k < length; ++k) {
    uint32_t cp = text[k];
    if (cp >= 0xD800 && cp < 0xDC00 && k + 1 < length && text[k + 1] >= 0xDC00 && text[k + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[k + 1] - 0xDC00u);
      ++k;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      put(cp);
    } else if (cp < 0x800) {
      put(0xC0 | (cp >> 6)), put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      put(0xE0 | (cp >> 12)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | (cp >> 18)), put(0x80 | ((cp >> 12) & 0x3F)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
    }
  }
  return n;
}

int32_t markup_utf8_to_cstring(const char* text, int32_t length, char16_t* out, int32_t capacity) {
  int32_t n = 0;
  auto put = [&](uint32_t u) {
    if (out && n < capacity) out[n] = char16_t(u);
    ++n;
  };
  for (int32_t k = 0; k < length;) {
    uint32_t cp = 0;
    const int32_t len = markup_utf8_sequence(text + k, length - k, &cp);
    if (len == 0) {
      ++k;  // malformed: skipped
      continue;
    }
    k += len;
    if (cp < 0x10000) {
      put(cp);
    } else {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return n;
}
