// Output formats of the markup converter: the nine constant `MarkupFormat`
// records, the output state they write into, template expansion with its
// expression language, list markers, the character and text-run writers and
// line wrapping. Nothing here knows the markup language itself; every write
// is bounded by the output's capacity and reports a full output instead.
#pragma once

#include <cstdint>

struct MarkupOut;

// Templates of a format, in the record's order; one slot each, null when
// the format writes nothing for it.
enum MarkupTemplate : int32_t {
  kMkHeadingBegin, kMkHeadingEnd, kMkParagraphBegin, kMkParagraphEnd, kMkLineBreak,
  kMkPreBegin, kMkPreEnd, kMkPreLineBegin, kMkPreLineEnd,
  kMkBulletListBegin, kMkBulletListEnd, kMkBulletItemBegin, kMkBulletItemEnd,
  kMkNumberedListBegin, kMkNumberedListEnd, kMkNumberedItemBegin, kMkNumberedItemEnd,
  kMkDefListBegin, kMkDefListEnd, kMkTermBegin, kMkTermEnd, kMkTermSeparator, kMkDefinitionBegin, kMkDefinitionEnd,
  kMkIndentBlockBegin, kMkIndentBlockEnd, kMkIndentParaBegin, kMkIndentParaEnd,
  kMkTableBegin, kMkTableEnd, kMkRowBegin, kMkRowEnd, kMkHeaderCellBegin, kMkHeaderCellEnd, kMkCellBegin, kMkCellEnd,
  kMkRule,
  kMkBoldBegin, kMkBoldEnd, kMkItalicBegin, kMkItalicEnd, kMkUnderlineBegin, kMkUnderlineEnd,
  kMkSuperBegin, kMkSuperEnd, kMkSubBegin, kMkSubEnd, kMkMonoBegin, kMkMonoEnd,
  kMkLinkBegin, kMkLinkEnd, kMkLinkTargetEnd, kMkImageBegin, kMkImageEnd, kMkImageSourceEnd,
  kMkTemplateCount
};

// Writers. A character writer writes the character at text (n bytes left in
// the source), sets *used to the bytes it took and answers 1, or 0 when the
// output is full. A text-run writer answers 0, or 1 when the output is full.
// A break test answers for the byte at pos of the output [0, end), reading
// that byte and the next: 0 no break, 1 break replacing it, 2 break after it.
using MarkupCharFn = int (*)(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void* data);
using MarkupRunFn = int (*)(const char* text, int32_t length, MarkupOut* out, const void* data);
using MarkupBreakFn = int (*)(const char* line, int32_t pos, int32_t end, const void* data);

// Hooks and tables that callers set in a copy of a record (all null in the
// constant ones): (level, item number, begin, marker, source position,
// output, data); non-zero stops the conversion.
using MarkupHookFn = int (*)(int32_t level, int32_t item, int32_t begin, const char* marker, int32_t position,
                             MarkupOut* out, const void* data);
struct MarkupPrefix {
  const char* prefix;
  const char* replacement;
};
struct MarkupCharRow {
  char ch;
  const char* replacement;
};

struct MarkupFormat {
  const char* space;
  int32_t font_size;
  char escape;
  const char* document_begin;
  const char* document_end;
  int32_t max_heading;
  const char* templates[kMkTemplateCount];
  int32_t link_target_after;
  int32_t image_source_after;
  int32_t no_styles_in_images;
  const MarkupPrefix* prefixes;
  MarkupRunFn run_writer;
  const void* run_data;
  MarkupCharFn char_writer;
  const void* char_data;
  MarkupCharFn pre_char_writer;
  const void* pre_char_data;
  int32_t wrap_column;
  MarkupBreakFn break_test;
  const void* break_data;
  MarkupHookFn container_hook;
  MarkupHookFn block_hook;
  MarkupHookFn inline_hook;
  const void* hook_data;
  const void* extensions;
  const void* rewriters;
};

enum MarkupFormatId : int32_t {
  kMkPlainText, kMkCompactText, kMkNull, kMkWiki, kMkHtml, kMkRtf, kMkLatex, kMkManPage, kMkDisplayText,
  kMkFormatCount
};
const MarkupFormat* markup_format(MarkupFormatId id);

// The build date and time the HTML document begin names ("Dec 7 2026
// 08:10:00"); the compiler's by default. At most 63 bytes are kept.
void markup_set_build_date(const char* text);

// Kinds of the nesting levels, as the list markers read them.
enum MarkupLevelKind : uint8_t {
  kMkLevelBullet, kMkLevelNumbered, kMkLevelDefTerm, kMkLevelDefinition, kMkLevelIndented, kMkLevelTable
};
constexpr int32_t kMkMaxDepth = 8;
constexpr int32_t kMkMaxRepeat = 100;

// The output state: a bounded buffer with its counts, the line end and
// indentation, the nesting, the open link target or image source, and the
// template variables.
struct MarkupOut {
  char* buffer = nullptr;
  int32_t capacity = 0;
  int32_t bytes = 0;
  int32_t chars = 0;   // UTF-16 units of what was written
  int32_t column = 0;  // bytes since the line end (a line end sets it to the indentation)
  int32_t indent = 0;
  const char* line_end = "\n";
  int32_t line_end_length = 1;
  const MarkupFormat* format = nullptr;
  uint8_t kinds[kMkMaxDepth] = {};
  int32_t depth = 0;
  const char* source = nullptr;
  int32_t source_length = 0;
  int32_t span_position = 0;  // the open link target or image source
  int32_t span_length = 0;
  int32_t wrap_searched = 0;  // no break point lies on this line before it
  int32_t source_offset = 0;  // source positions plus this are the caller's
  void* parser = nullptr;     // the parse writing here, for the hooks' queries
  // Template variables: item, level, source position, size, anchors.
  int64_t i = 0, l = 0, o = 0, s = 0, x = 0;
};

// Expands a template (length -1: up to the NUL; null writes nothing): 1
// when everything fit, 0 when the output is full.
int markup_expand_template(const char* tpl, int32_t length, char escape, MarkupOut* out);
// The value of an expression; one that does not parse is 1, a division by
// zero 0.
int64_t markup_eval_expr(const char* text, int32_t length, const MarkupOut* out);
// The marker string of the current nesting into buffer (at least
// kMkMaxDepth + 1 bytes, NUL-ended); its length.
int32_t markup_list_markers(const MarkupOut* out, char* buffer);

// A well-formed UTF-8 sequence at text (no overlong form, no surrogate, at
// most U+10FFFF): its length and *code, else 0. Every count of characters
// and the display's decoder agree on this one test.
int32_t markup_utf8_sequence(const char* text, int32_t n, uint32_t* code);

// The UTF-16 units n bytes of output count for (markup_put_bytes's count).
int32_t markup_char_units(const char* text, int32_t n);
// Low-level writes; 1 when they fit.
int markup_put_bytes(MarkupOut* out, const char* text, int32_t n);
int markup_put_line_end(MarkupOut* out);
// One character of ordinary text through the format's character writer
// (preformatted: its preformatted-character writer).
int markup_write_char(MarkupOut* out, const char* text, int32_t n, bool preformatted, int32_t* used);
// The open link target or image source: 1 when the output is full.
int markup_write_text_run(MarkupOut* out, const MarkupFormat* format);
// Breaks the current line when it has reached the wrap column; 0 when the
// inserted line end does not fit.
int markup_wrap_line(MarkupOut* out);
