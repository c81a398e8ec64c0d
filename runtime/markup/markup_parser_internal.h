// Internal to runtime/markup: the parser's state shared by the lexer, the
// block parser and the inline parser. The output state is the first member
// and carries a pointer back, so hooks reach the parse through it.
#pragma once

#include <cstdint>

#include "runtime/markup/markup_parse.h"

// Returns a failing status of expr from the enclosing function.
#define MK_TRY(expr)              \
  do {                            \
    const int mk_status = (expr); \
    if (mk_status != 0) return mk_status; \
  } while (0)

// Token kinds of markup_next_token.
enum MarkupTokenKind : int32_t {
  kTokChar, kTokBlank, kTokTab, kTokLineEnd, kTokHeading, kTokLineBreak, kTokListRun, kTokDefMarker,
  kTokCell, kTokHeaderCell, kTokRule, kTokPre, kTokStyle, kTokLinkOpen, kTokLinkClose, kTokImageOpen,
  kTokImageClose, kTokExt, kTokExtBlock, kTokExt3, kTokExt3Block,
  kTokEnd  // the source is used up
};

// The parser's six states.
enum MarkupState : int32_t { kStBetween, kStText, kStLineStart, kStHeading, kStPreLineStart, kStPreLine };

// Style indices: the six delimiters, the inline nowiki, links and images.
enum MarkupStyle : int32_t {
  kMkStyleBold, kMkStyleItalic, kMkStyleUnderline, kMkStyleSuper, kMkStyleSub, kMkStyleMono, kMkStyleNowiki,
  kMkStyleLink, kMkStyleImage, kMkStyleCount
};

struct MarkupToken {
  int32_t kind = kTokEnd;
  int32_t value = 0;  // style index, heading level or nesting depth
  int32_t start = 0;  // where the token begins (after line-start blanks)
  int32_t end = 0;    // the position after it
};

// What the current block is, so that closing it writes the right ends.
enum MarkupBlock : int32_t { kBlkNone, kBlkParagraph, kBlkList, kBlkHeading, kBlkPre };

constexpr int32_t kMkStyleStackSize = 16;
constexpr int32_t kMkMinFreeBeforeToken = 3;  // room every token step may need at least
constexpr int32_t kMkFixedTemplateBytes = 2048;

// What a format writes, as one literal string, for each of the quiet
// characters of a text run ('<', '>', '"', '&', '\'', '`', '$', '%'); length
// kMkNotInRun when the character goes through the character path.
constexpr int32_t kMkQuietCount = 8;
constexpr int32_t kMkNotInRun = -1;
struct MarkupQuietBytes {
  const char* text[kMkQuietCount];
  int32_t length[kMkQuietCount];
  int32_t units[kMkQuietCount];
};

// Byte classes of a text run: 0 ends it, 1 plain (copied as it stands),
// 2 + k the quiet character k of kMkQuietChars.
inline constexpr char kMkQuietChars[] = "<>\"&'`$%";
static_assert(sizeof kMkQuietChars - 1 == kMkQuietCount, "one string per quiet character");
struct MarkupRunBytes {
  uint8_t cls[256];
  constexpr MarkupRunBytes() : cls() {
    for (int c = 0x21; c < 0x7F; ++c) cls[c] = 1;
    for (const char* s = "~=\\{}[]*/_^,#|:"; *s; ++s) cls[uint8_t(*s)] = 0;
    for (int k = 0; k < kMkQuietCount; ++k) cls[uint8_t(kMkQuietChars[k])] = uint8_t(2 + k);
  }
};
inline constexpr MarkupRunBytes kMkRunBytes;

// Templates whose expansion cannot change during a parse, written from a copy.
enum MarkupFixedState : uint8_t { kMkFixedUnknown, kMkFixedYes, kMkFixedNo };

struct MarkupOpenStyle {
  int32_t style;
  int32_t target_position;  // links and images: the target's (image source's) place
  int32_t target_length;
  bool wrote_monospace;     // the inline nowiki wrote the monospace begin
};

struct MarkupParser {
  MarkupOut out;
  const MarkupFormat* format;
  uint32_t options;
  char* halves[2];
  int32_t half_capacity;
  int32_t output_half;
  const char* source;  // the current source half
  int32_t length;
  int32_t pos;
  int32_t rewrite_end;
  int32_t swaps;        // how many times the halves changed roles  // positions before it lie in an earlier replacement
  int32_t state;
  int32_t block;
  int32_t counters[kMkMaxDepth];  // numbered levels' item counters
  bool header_cell[kMkMaxDepth];  // table levels: the current cell is a header cell
  MarkupOpenStyle styles[kMkStyleStackSize];
  int32_t style_count;
  uint32_t heading_bits;  // bit L: a heading section of level L is open
  int32_t heading_counters[2];
  int32_t heading_level;  // of the last heading (0 before the first)
  int32_t heading_number;
  bool pending_space;     // blanks read in text, written before the next character
  // [1 for "<<<"]: no close of that extension form (">>" or ">>>") begins
  // at or after this position of the current source, so a later marker
  // whose name starts there too is text at once: a run of "<" stays
  // linear. 0 while nothing is known (a name never starts at 0).
  int32_t unclosed_from[2];
  // Templates that read no variable but s and x and no list markers are
  // expanded once, at their first use, with the parse's s and x.
  int64_t fixed_s, fixed_x;
  uint8_t fixed_state[kMkTemplateCount];
  int32_t fixed_at[kMkTemplateCount];
  int32_t fixed_length[kMkTemplateCount];
  int32_t fixed_units[kMkTemplateCount];     // characters of the copy, line ends aside
  int32_t fixed_first_lf[kMkTemplateCount];  // where its first line end stands (its length: none)
  int32_t fixed_line_ends[kMkTemplateCount];
  int32_t fixed_used;
  char fixed_text[kMkFixedTemplateBytes];
};

MarkupToken markup_next_token(const MarkupParser* p);
// Writers of the constant formats that copy plain ASCII unchanged.
int markup_table_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void* data);
int markup_rtf_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void* data);
int32_t markup_find_int(const int32_t* values, int32_t count, int32_t value);
const char* markup_style_delimiter(int32_t style);
bool markup_style_enabled(const MarkupParser* p, int32_t style);
bool markup_style_open(const MarkupParser* p, int32_t style);
bool markup_in_nowiki(const MarkupParser* p);

// The inline parser (markup_inline.cpp); each answers 0 or a stop code.
int markup_style_toggle(MarkupParser* p, int32_t style, int32_t position);
int markup_close_styles(MarkupParser* p);
// Styles that end at a border and begin again after it, in stack order.
struct MarkupCarriedStyles {
  int32_t styles[kMkStyleStackSize];
  int32_t count;
};
// Closes every open style, keeping their list in *carried.
int markup_close_styles_carried(MarkupParser* p, MarkupCarriedStyles* carried);
// Opens the carried styles again, bottom first; links and images stay closed.
int markup_reopen_styles(MarkupParser* p, const MarkupCarriedStyles& carried, int32_t at);
// Closes the current block (a heading with its end) and goes between blocks.
int markup_close_block(MarkupParser* p);
int markup_open_link(MarkupParser* p, const MarkupToken& t);
int markup_close_link(MarkupParser* p, int32_t style, int32_t position);
// False when nothing closes the extension marker t: it is then ordinary text.
bool markup_extension_closed(MarkupParser* p, const MarkupToken& t);
int markup_extension(MarkupParser* p, const MarkupToken& t, int32_t* before);
int markup_rewrite(MarkupParser* p);
int markup_swap_buffers(MarkupParser* p, int32_t kept_bytes, int32_t old_position);
int markup_full(const MarkupParser* p);  // kMkOutputFull when a write failed
// Writes template which (markup_fast.cpp: from its fixed copy where it has one).
int markup_write_template(MarkupParser* p, int32_t which);
// The hot paths (markup_fast.cpp). Text runs apply to formats whose
// character writer is one of the constant ones and that rewrite nothing;
// a run is written from the current position in a text state (0 or a
// full output; nothing when no run starts there).
bool markup_text_runs_apply(const MarkupFormat* f);
MarkupQuietBytes markup_quiet_bytes(const MarkupFormat* f);
int markup_text_run(MarkupParser* p, const MarkupQuietBytes& q);
int markup_write_ordinary(MarkupParser* p, int32_t at, int32_t* used, bool preformatted);
int markup_flush_space(MarkupParser* p);
int markup_call_hook(MarkupParser* p, MarkupHookFn hook, int32_t level, int32_t item, int32_t begin,
                     const char* marker, int32_t position);
