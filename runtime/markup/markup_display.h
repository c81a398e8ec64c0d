// Markup shown in a rich-text control: the span table the display-text
// conversion collects through its element hooks, the converter runs that
// retry with doubled buffers up to a cap, the UTF-16/UTF-8 helpers, and the
// rendering over a rich-text sink (a function table the platform supplies).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/markup/markup_parse.h"

// Span kinds, from the element markers (markup_token).
enum MarkupSpanKind : int32_t {
  kMkSpanNone = 0,
  kMkSpanBold = 1, kMkSpanItalic, kMkSpanUnderline, kMkSpanSuper, kMkSpanSub, kMkSpanMono, kMkSpanLink,
  kMkSpanImage, kMkSpanTermBold, kMkSpanHeaderBold, kMkSpanParagraph, kMkSpanHeading, kMkSpanCell,
  kMkSpanBullet, kMkSpanNumbered, kMkSpanTerm, kMkSpanTermWithDefinition, kMkSpanDefinition,
  kMkSpanKindCount
};

// Answers of markup_span_hook besides 0.
enum MarkupSpanStatus : int {
  kMkSpanUnbalanced = 3,  // an end without its begin, or more open spans than the stack holds
  kMkSpanTableFull = 4,
};

struct MarkupSpan {
  int32_t start, end, kind, level, source_position, source_length;
};
static_assert(sizeof(MarkupSpan) == 24, "six 32-bit words");

constexpr int32_t kMkSpanStackSize = 19;
constexpr int32_t kMkSpanHeaderBytes = 92;

// The table's header: capacity, count, offset kind (1 characters, 0 bytes),
// depth and the stack of open spans' indices; the spans follow.
struct MarkupSpanTable {
  int32_t capacity, count, in_chars, depth;
  int32_t stack[kMkSpanStackSize];
  MarkupSpan spans[1];
};
static_assert(offsetof(MarkupSpanTable, spans) == kMkSpanHeaderBytes, "the header holds 92 bytes");

// Formats bytes of memory (8-byte aligned) as an empty table; null when
// fewer than the header and one span fit.
MarkupSpanTable* markup_span_table_init(void* memory, int32_t bytes, bool in_chars);
int32_t markup_token(const char* marker);
// The block-element hook that fills the table given as the format's hook data.
int markup_span_hook(int32_t level, int32_t item, int32_t begin, const char* marker, int32_t position,
                     MarkupOut* out, const void* data);

// Converter runs: they own their buffers; status is markup_parse's answer
// of the last run (0 when text and bytes are set).
struct MarkupConverter {
  int status;
  char* buffer;
  int32_t buffer_bytes;
  const char* text;  // into buffer, NUL-ended
  int32_t bytes, chars;
};
struct MarkupSpanConverter {
  MarkupConverter run;
  MarkupSpanTable* spans;
  int32_t span_bytes;
};

// Converts source, doubling the buffer on a full output up to the cap of
// 10 x length + 65536 bytes. Null only when memory runs out.
MarkupConverter* markup_converter_run(const char* source, int32_t length, const MarkupFormat* format,
                                      uint32_t options, int32_t font_size, const char* line_end);
void markup_converter_free(MarkupConverter* c);
// The display-text conversion with the span hook (links active: each link
// written as its target, '|' and its text); the span table is doubled with
// the buffer when it fills.
MarkupSpanConverter* markup_converter_run_spans(const char* source, int32_t length, bool links_active);
// The same over a copy of base (its block hook and data replaced): tests
// give heavier formats to reach the cap.
MarkupSpanConverter* markup_converter_run_spans_over(const char* source, int32_t length, bool links_active,
                                                     const MarkupFormat* base);
void markup_span_converter_free(MarkupSpanConverter* c);
// The output cap of a source of length bytes (64-bit: it may pass int32).
int64_t markup_converter_cap(int32_t length);

// UTF-16 to UTF-8: a surrogate pair becomes one 4-byte sequence, a lone
// surrogate U+FFFD. With out null only the byte count is answered.
int32_t markup_utf16_to_utf8(const char16_t* text, int32_t length, char* out, int32_t capacity);
// UTF-8 to UTF-16: malformed bytes skipped (as the host's decoder does), a
// 4-byte sequence a surrogate pair. With out null only the count.
int32_t markup_utf8_to_cstring(const char* text, int32_t length, char16_t* out, int32_t capacity);

// The rich-text sink a control offers. Positions are UTF-16 offsets.
enum MarkupCharMask : uint32_t {
  kMkCfBold = 1, kMkCfItalic = 2, kMkCfUnderline = 4, kMkCfOffset = 8, kMkCfFace = 16, kMkCfHeight = 32,
  kMkCfLink = 64,
};
struct MarkupCharFormat {
  uint32_t mask;
  int32_t offset_twips;       // baseline offset, + up
  const char* face;
  int32_t height_twips;
  const char16_t* link_target;  // kMkCfLink: the anchor's target
  int32_t link_target_length;
};
enum MarkupParaMask : uint32_t { kMkPfCentre = 1, kMkPfIndent = 2 };
struct MarkupParaFormat {
  uint32_t mask;
  int32_t start_indent_twips;  // added to the current start indent
  int32_t first_line_twips;    // first-line offset against the start indent
};
struct MarkupRichSink {
  void* context;
  // Puts text in: replaces the selection (append) or the whole text; answers
  // where the inserted text begins.
  int32_t (*put_text)(void* context, const char16_t* text, int32_t length, bool append);
  // The given format, or the control's default when null, over [start, end).
  void (*format_chars)(void* context, int32_t start, int32_t end, const MarkupCharFormat* format);
  void (*format_paragraphs)(void* context, int32_t start, int32_t end, const MarkupParaFormat* format);
  void (*remove_text)(void* context, int32_t start, int32_t end);
  void (*collapse)(void* context, int32_t position);
};

// Statuses of the display: 0 shown, else nothing was put in.
enum MarkupShowStatus : int { kMkShown = 0, kMkShowFailed = 1, kMkShowNoMemory = 2 };

int markup_render_richedit(const MarkupRichSink* sink, const char* markup, int32_t length, bool append,
                           const MarkupCharFormat* format, bool links_active);
int markup_show_in_richedit(const MarkupRichSink* sink, const char16_t* markup, int32_t length, bool append,
                            const MarkupCharFormat* format, bool links_active);
