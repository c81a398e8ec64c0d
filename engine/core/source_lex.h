// Line-level reading of source text for the loader: lines with their ends
// (LF, CR or CR LF, counted once), block comments that span lines, the
// keyword a line starts with. The statement compiler does the full lexing;
// the loader only needs to recognise lines that begin with a keyword, and
// reads quotes and comments with the compiler's source reader to find them.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/lexer.h"

namespace srclex {

inline bool ident_start(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_';
}
inline bool ident_char(char ch) { return ident_start(ch) || (ch >= '0' && ch <= '9'); }
inline bool blank(char ch) { return ch == ' ' || ch == '\t'; }

struct Line {
  int32_t start;    // first character
  int32_t end;      // the line end (or the text's end)
  int32_t next;     // first character of the next line
  int32_t content;  // first character outside blanks and a leading block comment; end when none
};

// Reads the line at pos, updating the block-comment state across it. Returns
// false at the end of the text. Strings, comments and continuations are read
// by the compiler's own source reader, so a "/*" inside a string opens no
// comment here either.
class LineReader {
 public:
  LineReader(const char* text, int32_t length, int32_t pos = 0) : t_(text), n_(length), pos_(pos) {}

  bool next(Line* line) {
    if (pos_ >= n_) return false;
    line->start = pos_;
    int32_t e = pos_;
    while (e < n_ && t_[e] != '\n' && t_[e] != '\r') ++e;
    line->end = e;
    line->next = e < n_ ? (t_[e] == '\r' && e + 1 < n_ && t_[e + 1] == '\n' ? e + 2 : e + 1) : e;
    line->content = content_start(line->start, line->end);
    scan_rest(line->content, line->end);
    pos_ = line->next;
    return true;
  }

  int32_t position() const { return pos_; }

 private:
  // Skips blanks and block comments at the start of the line.
  int32_t content_start(int32_t p, int32_t end) {
    for (;;) {
      if (in_block_) {
        int32_t lines = 0;
        bool closed = false;
        p = lex_block_comment_rest(t_, end, p, &lines, &closed);
        if (!closed) return end;
        in_block_ = false;
      }
      while (p < end && blank(t_[p])) ++p;
      if (p + 1 < end && t_[p] == '/' && t_[p + 1] == '*') {
        in_block_ = true;
        p += 2;
        continue;
      }
      return p;
    }
  }

  // Follows the rest of the line for a block comment that stays open past
  // its end.
  void scan_rest(int32_t p, int32_t end) {
    if (in_block_) return;
    LexCursor lx(t_, end, p);
    for (;;) {
      const LexPiece piece = lex_piece(&lx);
      if (piece == kPieceEnd || piece == kPieceLineComment) return;
      if (piece == kPieceBlockComment && lx.unclosed) {
        in_block_ = true;
        return;
      }
    }
  }

  const char* t_;
  int32_t n_;
  int32_t pos_;
  bool in_block_ = false;
};

// True when the keyword stands at p (not followed by an identifier character).
inline bool keyword_at(const char* t, int32_t p, int32_t end, const char* keyword) {
  const int32_t k = int32_t(std::strlen(keyword));
  if (end - p < k || std::memcmp(t + p, keyword, size_t(k)) != 0) return false;
  return p + k >= end || !ident_char(t[p + k]);
}

// True when nothing but blanks and a comment remain in [p, end).
inline bool rest_is_empty(const char* t, int32_t p, int32_t end) {
  while (p < end && (blank(t[p]) || t[p] == ';' || t[p] == ',')) ++p;
  return p >= end || t[p] == '%' || (t[p] == '/' && p + 1 < end && (t[p + 1] == '/' || t[p + 1] == '*'));
}

inline int32_t skip_blanks(const char* t, int32_t p, int32_t end) {
  while (p < end && blank(t[p])) ++p;
  return p;
}

inline int32_t ident_end(const char* t, int32_t p, int32_t end) {
  while (p < end && ident_char(t[p])) ++p;
  return p;
}

}  // namespace srclex
