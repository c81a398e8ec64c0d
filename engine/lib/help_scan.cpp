// Scanners of help text. Help files and function sources are untrusted text:
// every read is checked against the length, and a comment or entry cut by the
// end of the text simply ends there.
#include "engine/lib/help_scan.h"

#include <cstring>

#include "engine/core/compiler.h"

namespace {

constexpr char kOperatorChars[] = "+-*/\\^.'=~<>&|:";

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }
bool is_eol(char ch) { return ch == '\n' || ch == '\r'; }
bool is_word_char(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_';
}
bool is_operator_char(char ch) { return ch != 0 && std::strchr(kOperatorChars, ch) != nullptr; }

bool at(const char* t, int32_t n, int32_t p, char a, char b) { return p + 1 < n && t[p] == a && t[p + 1] == b; }

// The end of the line at p (its first line-end character, or n).
int32_t line_end(const char* t, int32_t n, int32_t p) {
  while (p < n && !is_eol(t[p])) ++p;
  return p;
}

// The number of line-end characters at p: CR LF counts as one end.
int32_t eol_length(const char* t, int32_t n, int32_t p) {
  if (p >= n) return 0;
  if (t[p] == '\r') return p + 1 < n && t[p + 1] == '\n' ? 2 : 1;
  return t[p] == '\n' ? 1 : 0;
}

int32_t skip_blanks(const char* t, int32_t n, int32_t p) {
  while (p < n && is_blank(t[p])) ++p;
  return p;
}

// A line comment's marker at p: '%' or '/' (for "//"), 0 when none.
char line_marker(const char* t, int32_t n, int32_t p) {
  if (p < n && t[p] == '%') return '%';
  return at(t, n, p, '/', '/') ? '/' : 0;
}

int32_t marker_length(char marker) { return marker == '%' ? 1 : 2; }

}  // namespace

int32_t src_code_length_before_comment(const char* text, int32_t length) {
  if (!text || length < 2) return 0;
  for (int32_t p = 0; p < length; ++p) {
    if (text[p] == '%' || at(text, length, p, '/', '/') || at(text, length, p, '/', '*')) return p;
  }
  return length;
}

int32_t src_skip_logical_line(const char* text, int32_t length) {
  if (!text || length <= 0) return 0;
  // The compiler's own reading: "..." in a string or a comment joins nothing.
  return source_logical_line_end(text, length);
}

bool help_file_next_word(const char* text, int32_t length, int32_t* pos, const char** word,
                         int32_t* word_length, const char** qualifier, int32_t* qualifier_length) {
  *word = nullptr;
  *word_length = 0;
  *qualifier = nullptr;
  *qualifier_length = 0;
  int32_t p = *pos < 0 ? 0 : *pos;
  while (text && p < length) {
    const char ch = text[p];
    if (is_blank(ch) || is_eol(ch)) {
      ++p;
    } else if (line_marker(text, length, p)) {
      p = line_end(text, length, p);
    } else if (at(text, length, p, '/', '*')) {
      p += 2;
      while (p < length && !at(text, length, p, '*', '/')) ++p;
      p = p < length ? p + 2 : length;
    } else if (is_word_char(ch)) {
      int32_t e = p;
      while (e < length && is_word_char(text[e])) ++e;
      if (at(text, length, e, ':', ':') && e + 2 < length && is_word_char(text[e + 2])) {
        *qualifier = text + p;
        *qualifier_length = e - p;
        p = e + 2;
        e = p;
        while (e < length && is_word_char(text[e])) ++e;
      }
      *word = text + p;
      *word_length = e - p;
      *pos = e;
      return true;
    } else if (is_operator_char(ch)) {
      // "//" and "/*" were taken as comments above, so no token starts one;
      // one that runs into a comment ends before it.
      int32_t e = p;
      while (e < length && is_operator_char(text[e]) && !at(text, length, e, '/', '/') && !at(text, length, e, '/', '*'))
        ++e;
      *word = text + p;
      *word_length = e - p;
      *pos = e;
      return true;
    } else {
      // Anything else (the rest of a synopsis after its entry word) is passed over.
      p = line_end(text, length, p);
    }
  }
  *pos = length < 0 ? 0 : length;
  return false;
}

bool help_comment_after(const char* text, int32_t length, int32_t from, HelpComment* out) {
  if (!text || from < 0 || from >= length) return false;
  const int32_t k = src_code_length_before_comment(text + from, length - from);
  const int32_t p = from + k;
  if (p >= length) return false;
  const char marker = line_marker(text, length, p);
  if (marker) {
    *out = HelpComment{marker, p};
    return true;
  }
  if (!at(text, length, p, '/', '*')) return false;
  *out = HelpComment{'*', p};
  return true;
}

bool help_comment_at_line(const char* text, int32_t length, int32_t from, HelpComment* out) {
  if (!text || from < 0 || from >= length) return false;
  const int32_t p = skip_blanks(text, length, from);
  if (p >= length) return false;
  if (const char marker = line_marker(text, length, p)) {
    *out = HelpComment{marker, p};
    return true;
  }
  if (!at(text, length, p, '/', '*')) return false;
  *out = HelpComment{'*', p};
  return true;
}

HelpLines::HelpLines(const char* text, int32_t length, const HelpComment& c)
    : t_(text), n_(length), marker_(c.marker), pos_(c.start) {
  done_ = !text || c.start < 0 || c.start >= length || c.marker == 0;
}

// A block's lines: the rest of the "/*" line when it holds more than blanks,
// then each line up to the one with "*/", which counts when it holds more
// than blanks before the mark.
bool HelpLines::next_block_line(HelpLine* line) {
  for (;;) {
    int32_t p = pos_;
    const bool first = first_;
    if (first) p += 2;  // past "/*"
    first_ = false;
    int32_t e = p;
    while (e < n_ && !is_eol(t_[e]) && !at(t_, n_, e, '*', '/')) ++e;
    const bool closed = e >= n_ || at(t_, n_, e, '*', '/');
    const bool blank_only = skip_blanks(t_, n_, p) >= e;
    *line = HelpLine{p, e - p, closed ? 0 : eol_length(t_, n_, e)};
    pos_ = e + line->eol;
    if (closed) {
      done_ = true;
      return !blank_only;
    }
    if (!(first && blank_only)) return true;
  }
}

bool HelpLines::next(HelpLine* line) {
  if (done_ || pos_ >= n_) return false;
  if (marker_ == '*') return next_block_line(line);
  // A line comment: the first line starts at its marker; each next line
  // belongs to it when its first character past blanks is a marker.
  int32_t p = first_ ? pos_ : skip_blanks(t_, n_, pos_);
  const char marker = line_marker(t_, n_, p);
  if (!marker) {
    done_ = true;
    return false;
  }
  first_ = false;
  p += marker_length(marker);
  const int32_t e = line_end(t_, n_, p);
  *line = HelpLine{p, e - p, eol_length(t_, n_, e)};
  pos_ = e + line->eol;
  if (line->eol == 0) done_ = true;
  return true;
}

HelpLine help_summary_line(const char* text, int32_t length, const HelpComment& c) {
  HelpLines lines(text, length, c);
  HelpLine line{};
  if (!lines.next(&line) || !lines.next(&line)) return HelpLine{};
  return line;
}

bool help_is_markup(const char* text, int32_t length, const HelpComment& c) {
  HelpLines lines(text, length, c);
  HelpLine line{};
  return lines.next(&line) && line.n > 0 && text[line.start] == '=';
}
