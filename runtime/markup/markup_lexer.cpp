// The markup lexer: the next token of the source for the parser's state.
// Line-start markers are recognised only in the line-start states, inline
// markers only in the text states; every scan stops at the source's length,
// so unterminated texts (from images and help files) are read safely.
#include <cstring>

#include "runtime/markup/markup_parser_internal.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

int32_t line_end_length(const char* s, int32_t n, int32_t k) {
  if (k >= n || !is_line_end(s[k])) return 0;
  return s[k] == '\r' && k + 1 < n && s[k + 1] == '\n' ? 2 : 1;
}

int32_t skip_blanks(const char* s, int32_t n, int32_t k) {
  while (k < n && is_blank(s[k])) ++k;
  return k;
}

// True when only blanks follow k up to the line's end or the source's.
bool rest_blank(const char* s, int32_t n, int32_t k) {
  k = skip_blanks(s, n, k);
  return k >= n || is_line_end(s[k]);
}

bool starts(const char* s, int32_t n, int32_t k, const char* what) {
  const int32_t m = int32_t(std::strlen(what));
  return k <= n - m && std::memcmp(s + k, what, size_t(m)) == 0;
}

// The length of the run of c at k. Heading and rule markers may be as long
// as the text, so eight bytes are compared at a time.
int32_t run_of(const char* s, int32_t n, int32_t k, char c) {
  int32_t j = k;
  const uint64_t all_c = 0x0101010101010101ull * uint8_t(c);
  for (uint64_t w = 0; j <= n - 8; j += 8) {
    std::memcpy(&w, s + j, sizeof w);
    if (w != all_c) break;
  }
  while (j < n && s[j] == c) ++j;
  return j - k;
}

bool scheme_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
         c == '.';
}

MarkupToken token(int32_t kind, int32_t value, int32_t start, int32_t end) {
  MarkupToken t;
  t.kind = kind;
  t.value = value;
  t.start = start;
  t.end = end;
  return t;
}

// One character: value is where the character to write stands.
MarkupToken char_token(int32_t k) { return token(kTokChar, k, k, k + 1); }

int32_t style_of_pair(char c) {
  switch (c) {
    case '*': return kMkStyleBold;
    case '/': return kMkStyleItalic;
    case '_': return kMkStyleUnderline;
    case '^': return kMkStyleSuper;
    case ',': return kMkStyleSub;
    case '#': return kMkStyleMono;
    default: return -1;
  }
}

int32_t current_kind(const MarkupParser* p) {
  return p->out.depth > 0 ? p->out.kinds[p->out.depth - 1] : -1;
}

bool level_takes(uint8_t kind, char c) {
  switch (kind) {
    case kMkLevelBullet: return c == '*';
    case kMkLevelDefTerm: case kMkLevelDefinition: return c == ';' || c == ':';
    case kMkLevelIndented: return c == ':';
    case kMkLevelTable: return false;
    default: return c == '#';
  }
}

// A list or definition marker run at k (step 4's matching); kind End when
// the line is no list item.
MarkupToken list_run(const MarkupParser* p, int32_t k) {
  const char* s = p->source;
  const int32_t n = p->length;
  // A table level is closed by any non-table line: the run then counts from
  // no open level, and the parser closes the table before it.
  const int32_t depth = p->out.depth > 0 && p->out.kinds[0] == kMkLevelTable ? 0 : p->out.depth;
  const char c0 = s[k];
  if ((c0 == ';' && (p->options & kMkOptNoDefLists)) || (c0 == ':' && (p->options & kMkOptNoIndent)))
    return MarkupToken{};
  if (depth > 0 && !level_takes(p->out.kinds[0], c0)) return MarkupToken{};
  const bool indented = depth > 0 ? p->out.kinds[0] == kMkLevelIndented : c0 == ':';
  int32_t m = 0;
  char last = 0;
  for (int32_t j = k; j < n && m < kMkMaxDepth; ++j) {
    const char c = s[j];
    if (!std::strchr("*#;:", c) || c == 0) break;
    if (indented && c != ':') break;
    const int32_t level = m + 1;
    bool fits;
    if (level <= depth)
      fits = level_takes(p->out.kinds[level - 1], c);
    else
      fits = c == '*' || c == '#' || (c == ';' && !(p->options & kMkOptNoDefLists)) || (c == ':' && indented);
    if (!fits) break;
    ++m;
    last = c;
  }
  if (m == 0) return MarkupToken{};
  const bool definition = last == ':' && m <= depth &&
                          (p->out.kinds[m - 1] == kMkLevelDefTerm || p->out.kinds[m - 1] == kMkLevelDefinition);
  return token(definition ? kTokDefMarker : kTokListRun, m, k, k + m);
}

// The markers that count at a line start (after its blanks), or End.
MarkupToken line_start_marker(const MarkupParser* p, int32_t k) {
  const char* s = p->source;
  const int32_t n = p->length;
  const uint32_t opt = p->options;
  const char c = s[k];
  if (c == '=') {
    const int32_t m = run_of(s, n, k, '=');
    const int32_t top = p->format->max_heading > 0 ? p->format->max_heading : 1;
    return token(kTokHeading, m < top ? m : top, k, k + m);
  }
  if (c == '-' && !(opt & kMkOptNoRule)) {
    const int32_t m = run_of(s, n, k, '-');
    if (m >= 4) return token(kTokRule, 0, k, k + m);
  }
  if (c == '|' && !(opt & kMkOptNoTables)) {
    const bool header = k + 1 < n && s[k + 1] == '=';
    return token(header ? kTokHeaderCell : kTokCell, 0, k, k + (header ? 2 : 1));
  }
  if (starts(s, n, k, "{{{") && rest_blank(s, n, k + 3)) return token(kTokPre, 0, k, k + 3);
  if (c == '<' && !(opt & kMkOptNoExtensions)) {
    if (starts(s, n, k, "<<<")) return token(kTokExt3Block, 0, k, k + 3);
    if (starts(s, n, k, "<<")) return token(kTokExtBlock, 0, k, k + 2);
  }
  if ((c == '*' || c == '#') && k + 1 < n && s[k + 1] == c) {
    const int32_t style = c == '*' ? kMkStyleBold : kMkStyleMono;
    const int32_t depth = p->out.depth > 0 && p->out.kinds[0] == kMkLevelTable ? 0 : p->out.depth;
    const uint8_t second = c == '*' ? kMkLevelBullet : kMkLevelNumbered;
    if (markup_style_enabled(p, style) && (depth == 0 || (depth >= 2 && p->out.kinds[1] != second)))
      return token(kTokStyle, style, k, k + 2);
  }
  if (c == '*' || c == '#' || c == ';' || c == ':') return list_run(p, k);
  return MarkupToken{};
}

// Inline tokens at k in the text states.
MarkupToken inline_token(const MarkupParser* p, int32_t k) {
  const char* s = p->source;
  const int32_t n = p->length;
  const uint32_t opt = p->options;
  const char c = s[k];
  if (c == '~' && !(opt & kMkOptNoEscape)) {
    // The escaped character is taken literally; a final '~' or one before a
    // line end is itself.
    if (k + 1 >= n || is_line_end(s[k + 1])) return char_token(k);
    return token(kTokChar, k + 1, k, k + 2);
  }
  if (p->state == kStHeading && c == '=') {
    const int32_t m = run_of(s, n, k, '=');
    if (rest_blank(s, n, k + m)) return token(kTokBlank, 0, k, k + m);  // the optional closing marker
  }
  if (c == '\\' && k + 1 < n && s[k + 1] == '\\') return token(kTokLineBreak, 0, k, k + 2);
  if (starts(s, n, k, "{{{")) return token(kTokStyle, kMkStyleNowiki, k, k + 3);
  if (k + 1 < n && s[k + 1] == c) {
    const int32_t style = style_of_pair(c);
    const bool address = c == '/' && k >= 2 && s[k - 1] == ':' && scheme_char(s[k - 2]);
    if (style >= 0 && markup_style_enabled(p, style) && !address) return token(kTokStyle, style, k, k + 2);
    const bool linked = markup_style_open(p, kMkStyleLink) || markup_style_open(p, kMkStyleImage);
    if (c == '[' && !(opt & kMkOptNoLinks)) return token(kTokLinkOpen, 0, k, k + 2);
    if (c == '{' && !(opt & kMkOptNoImages) && !markup_style_open(p, kMkStyleImage))
      return token(kTokImageOpen, 0, k, k + 2);
    if (c == ']' && linked) return token(kTokLinkClose, 0, k, k + 2);
    if (c == '}' && linked) return token(kTokImageClose, 0, k, k + 2);
    if (c == '<' && !(opt & kMkOptNoExtensions))
      return starts(s, n, k, "<<<") ? token(kTokExt3, 0, k, k + 3) : token(kTokExt, 0, k, k + 2);
  }
  if (p->state == kStText && current_kind(p) == kMkLevelTable && c == '|') {
    if (rest_blank(s, n, k + 1)) return token(kTokBlank, 0, k, k + 1);  // a row's closing bar
    const bool header = k + 1 < n && s[k + 1] == '=';
    return token(header ? kTokHeaderCell : kTokCell, 0, k, k + (header ? 2 : 1));
  }
  if (p->state == kStText && c == ':' && current_kind(p) == kMkLevelDefTerm)
    return token(kTokDefMarker, p->out.depth, k, k + 1);
  return char_token(k);
}

}  // namespace

MarkupToken markup_next_token(const MarkupParser* p) {
  const char* s = p->source;
  const int32_t n = p->length;
  int32_t k = p->pos;
  if (k >= n) return token(kTokEnd, 0, n, n);
  if (p->state == kStPreLineStart) {
    const int32_t b = skip_blanks(s, n, k);
    if (starts(s, n, b, "}}}") && rest_blank(s, n, b + 3)) return token(kTokPre, 0, b, b + 3);
  }
  if (const int32_t e = line_end_length(s, n, k)) return token(kTokLineEnd, 0, k, k + e);
  if (p->state == kStPreLineStart || p->state == kStPreLine) {
    if (s[k] == ' ') return token(kTokBlank, 0, k, k + 1);
    if (s[k] == '\t') return token(kTokTab, 0, k, k + 1);
    return char_token(k);
  }
  const bool nowiki = markup_in_nowiki(p);
  if (nowiki) {
    if (starts(s, n, k, "}}}")) return token(kTokStyle, kMkStyleNowiki, k, k + 3);
    if (is_blank(s[k])) return token(s[k] == ' ' ? kTokBlank : kTokTab, 0, k, k + 1);
    return char_token(k);
  }
  if (p->state == kStBetween || p->state == kStLineStart) {
    // A marker at a line start may follow blanks; a line of blanks is empty.
    k = skip_blanks(s, n, k);
    if (k >= n) return token(kTokEnd, 0, n, n);
    if (const int32_t e = line_end_length(s, n, k)) return token(kTokLineEnd, 0, k, k + e);
    const MarkupToken t = line_start_marker(p, k);
    if (t.kind != kTokEnd) return t;
  } else if (is_blank(s[k])) {
    return token(s[k] == ' ' ? kTokBlank : kTokTab, 0, k, k + 1);
  }
  return inline_token(p, k);
}

int32_t markup_find_int(const int32_t* values, int32_t count, int32_t value) {
  for (int32_t k = 0; k < count; ++k)
    if (values[k] == value) return k;
  return -1;
}

const char* markup_style_delimiter(int32_t style) {
  static const char* const kDelimiters[kMkStyleCount] = {"**", "//", "__", "^^", ",,", "##", nullptr, "[[", "{{"};
  return style >= 0 && style < kMkStyleCount ? kDelimiters[style] : nullptr;
}

bool markup_style_enabled(const MarkupParser* p, int32_t style) {
  static const uint32_t kOff[kMkStyleCount] = {kMkOptNoBold,     kMkOptNoItalic,  kMkOptNoUnderline,
                                               kMkOptNoSuperSub, kMkOptNoSuperSub, kMkOptNoMonospace,
                                               0,                kMkOptNoLinks,   kMkOptNoImages};
  return style >= 0 && style < kMkStyleCount && !(p->options & kOff[style]);
}

bool markup_style_open(const MarkupParser* p, int32_t style) {
  for (int32_t k = 0; k < p->style_count; ++k)
    if (p->styles[k].style == style) return true;
  return false;
}

bool markup_in_nowiki(const MarkupParser* p) {
  return p->style_count > 0 && p->styles[p->style_count - 1].style == kMkStyleNowiki;
}
