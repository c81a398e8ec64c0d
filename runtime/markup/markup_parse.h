// The markup parser: one left-to-right pass over a help or about text that
// writes it in a `MarkupFormat`. The caller's buffer is used as two halves
// (source and output, swapped at each source rewrite); every read stops at
// the source's length and every write at the output half's capacity.
#pragma once

#include <cstdint>

#include "runtime/markup/markup_format.h"

// Option flags of markup_parse; 0 enables everything.
enum MarkupOption : uint32_t {
  kMkOptNoDocument = 0x1,
  kMkOptDemoteTitle = 0x4,
  kMkOptNumberLevel1 = 0x8,
  kMkOptNumberLevel2 = 0x10,
  kMkOptNoDefLists = 0x20,
  kMkOptNoIndent = 0x40,
  kMkOptLineEndsBlock = 0x80,
  kMkOptNoEscape = 0x100,
  kMkOptNoRule = 0x200,
  kMkOptNoLinks = 0x400,
  kMkOptNoImages = 0x800,
  kMkOptNoTables = 0x1000,
  kMkOptNoUnderline = 0x2000,
  kMkOptNoMonospace = 0x4000,
  kMkOptNoSuperSub = 0x8000,
  kMkOptNoBold = 0x10000,
  kMkOptNoItalic = 0x20000,
  kMkOptNoExtensions = 0x40000,
  kMkOptNowikiMonospace = 0x100000,
  kMkOptAnchors = 0x200000,
};

// Results of markup_parse besides a hook's or extension's own code.
enum MarkupResult : int {
  kMkParsed = 0,
  kMkOutputFull = 1,
  kMkRewriteStuck = 3,  // a rewriter claimed a rewrite but did not advance
};

// Extension table rows (ended by a null name) and their flags.
enum MarkupExtensionFlag : int32_t {
  kMkExtPrefix = 1,     // the source's name may be longer than the row's
  kMkExtReparse = 2,    // what the function writes is parsed again as markup
  kMkExtBlock = 4,      // a block element: the current block closes first
  kMkExtTriple = 8,     // serves "<<<" ... ">>>" only (else "<<" ... ">>" only)
};
using MarkupExtensionFn = int (*)(const char* name, int32_t name_length, const char* body, int32_t body_length,
                                  MarkupOut* out, const void* data);
struct MarkupExtension {
  const char* name;
  int32_t flags;
  MarkupExtensionFn fn;
  const void* data;
};

// Source-rewriting rows (ended by a null function): non-zero when the
// function wrote a replacement and moved *position past what it replaces.
using MarkupRewriteFn = int (*)(const char* source, int32_t length, int32_t* position, MarkupOut* out,
                                const void* data);
struct MarkupRewriter {
  MarkupRewriteFn fn;
  const void* data;
};

// Converts length bytes of source into buffer (capacity bytes, used as two
// halves). A null format is plain text, a font size below 1 the format's.
// *output points into buffer at the NUL-ended output; *output_bytes and
// (when not null) *output_chars, in UTF-16 units, give its length.
int markup_parse(const char* source, int32_t length, char* buffer, int32_t capacity, uint32_t options,
                 const char* line_end, const MarkupFormat* format, int32_t font_size, char** output,
                 int32_t* output_bytes, int32_t* output_chars);

// Queries a hook may make of the output it was given.
int32_t markup_out_byte_length(const MarkupOut* out);
int32_t markup_out_char_count(const MarkupOut* out);
// The caller's-source position and length of the open link target or image
// source (0 and 0 when none is open).
void markup_current_source_span(const MarkupOut* out, int32_t* position, int32_t* length);
void markup_out_buffer(const MarkupOut* out, const char** buffer, int32_t* bytes);
// The heading counters of levels 1 and 2 of the parse writing out.
void markup_level_counters(const MarkupOut* out, int32_t* level1, int32_t* level2);
