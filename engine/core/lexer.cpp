// The lexer: the shared source reader, blanks, comments, continuations,
// keywords, number and string literals. Readers take a [position, end)
// window of 8-bit text and never look past end; line ends are counted once
// whatever their form.
#include "engine/core/lexer.h"

#include <cmath>
#include <cstring>

#include "engine/core/numfmt.h"
#include "engine/core/status.h"

namespace {

constexpr char kContinuation[] = "...";
constexpr int32_t kContinuationLength = 3;

// Consumes the line end at p (CR LF counts once) and counts it.
int32_t take_line_end(const char* t, int32_t end, int32_t p, int32_t* line) {
  if (t[p] == '\r' && p + 1 < end && t[p + 1] == '\n') ++p;
  if (line) ++*line;
  return p + 1;
}

int32_t to_line_end(const char* t, int32_t end, int32_t p) {
  while (p < end && !lex_line_end(t[p])) ++p;
  return p;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Digits of a radix after a prefix: the integer accumulates in 64 bits and
// wraps beyond them (an integer literal keeps its low bytes); the double is
// formed from the 64 bits while they hold the value exactly (correctly
// rounded by the conversion), and longer runs go on in floating point.
struct RadixValue {
  uint64_t bits = 0;
  double value = 0;
  bool overflow = false;
  int32_t digits = 0;
};

int32_t read_radix(const char* t, int32_t end, int32_t p, int radix, RadixValue* v) {
  for (; p < end; ++p) {
    const int d = hex_digit(t[p]);
    if (d < 0 || d >= radix) break;
    if (!v->overflow && v->bits > (UINT64_MAX - uint64_t(d)) / uint64_t(radix)) {
      v->overflow = true;
      v->value = double(v->bits);
    }
    if (v->overflow) v->value = v->value * radix + d;
    v->bits = v->bits * uint64_t(radix) + uint64_t(d);
    ++v->digits;
  }
  if (!v->overflow) v->value = double(v->bits);
  return p;
}

bool word_contains_int(const char* t, int32_t from, int32_t to) {
  for (int32_t i = from; i + 3 <= to; ++i)
    if (t[i] == 'i' && t[i + 1] == 'n' && t[i + 2] == 't') return true;
  return false;
}

bool suffix_at(const char* t, int32_t end, int32_t p, const char* word) {
  const int32_t n = int32_t(std::strlen(word));
  if (end - p < n || std::memcmp(t + p, word, size_t(n)) != 0) return false;
  return p + n >= end || !lex_ident_char(t[p + n]);
}

// Integer literal: "0x" hex, "0b" binary, "0" octal or decimal digits, then
// "int" or "uint" and a size.
int read_integer_literal(const char* t, int32_t end, int32_t* pos, NumberLiteral* out, int32_t* bad) {
  int32_t p = *pos;
  RadixValue v;
  if (t[p] == '0' && p + 1 < end && (t[p + 1] == 'x' || t[p + 1] == 'X')) {
    p = read_radix(t, end, p + 2, 16, &v);
  } else if (t[p] == '0' && p + 1 < end && (t[p + 1] == 'b' || t[p + 1] == 'B')) {
    p = read_radix(t, end, p + 2, 2, &v);
  } else if (t[p] == '0' && p + 1 < end && lex_digit(t[p + 1])) {
    p = read_radix(t, end, p + 1, 8, &v);
  } else {
    p = read_radix(t, end, p, 10, &v);
  }
  if (end - p >= 4 && std::memcmp(t + p, "uint", 4) == 0) {
    out->is_unsigned = true;
    p += 4;
  } else if (end - p >= 3 && std::memcmp(t + p, "int", 3) == 0) {
    p += 3;
  } else {
    *bad = p < end ? uint8_t(t[p]) : 0;
    return kUnrecognizedToken;
  }
  int32_t size = 0;
  const int32_t digits_at = p;
  while (p < end && lex_digit(t[p]) && size < 1000) size = size * 10 + (t[p++] - '0');
  if (p == digits_at || (p < end && lex_ident_char(t[p]))) {
    *bad = p < end ? uint8_t(t[p]) : 0;
    return kUnrecognizedToken;
  }
  if (size != 8 && size != 16 && size != 32 && size != 64) return kUnsupportedIntegerSize;
  out->is_integer = true;
  out->int_bits = size;
  out->bits = v.bits;
  out->plain_integer = true;
  *pos = p;
  return kOk;
}

}  // namespace

int32_t lex_block_comment_rest(const char* t, int32_t end, int32_t p, int32_t* lines, bool* closed) {
  while (p < end && !(t[p] == '*' && p + 1 < end && t[p + 1] == '/'))
    p = lex_line_end(t[p]) ? take_line_end(t, end, p, lines) : p + 1;
  *closed = p < end;
  return *closed ? p + 2 : end;
}

LexPiece lex_piece(LexCursor* c) {
  const char* t = c->text;
  const int32_t end = c->end;
  int32_t p = c->pos;
  c->start = p;
  c->unclosed = false;
  if (p >= end) {
    c->operand = false;
    return kPieceEnd;
  }
  const char ch = t[p];
  LexPiece piece = kPieceChar;
  bool operand = false;
  if (lex_blank(ch)) {
    while (p < end && lex_blank(t[p])) ++p;
    piece = kPieceBlanks;
  } else if (lex_line_end(ch)) {
    p = take_line_end(t, end, p, &c->lines);
    piece = kPieceLineEnd;
  } else if (ch == '%' || (ch == '/' && p + 1 < end && t[p + 1] == '/')) {
    p = to_line_end(t, end, p);
    piece = kPieceLineComment;
  } else if (ch == '/' && p + 1 < end && t[p + 1] == '*') {
    bool closed = false;
    p = lex_block_comment_rest(t, end, p + 2, &c->lines, &closed);
    c->unclosed = !closed;
    piece = kPieceBlockComment;
  } else if (ch == '.' && end - p >= kContinuationLength &&
             std::memcmp(t + p, kContinuation, kContinuationLength) == 0) {
    p = to_line_end(t, end, p);
    if (p < end) p = take_line_end(t, end, p, &c->lines);
    while (p < end && (lex_blank(t[p]) || lex_line_end(t[p])))
      p = lex_line_end(t[p]) ? take_line_end(t, end, p, &c->lines) : p + 1;
    piece = kPieceContinuation;
  } else if (ch == '\'' && c->operand) {
    ++p;
    piece = kPieceTranspose;
    operand = true;
  } else if (ch == '\'') {
    // "''" stands for a quote and a backslash takes the next character, so
    // neither ends the string; a line end always does.
    ++p;
    c->unclosed = true;
    while (p < end && !lex_line_end(t[p])) {
      if (t[p] == '\\') {
        p += p + 1 < end && !lex_line_end(t[p + 1]) ? 2 : 1;
      } else if (t[p] != '\'') {
        ++p;
      } else if (p + 1 < end && t[p + 1] == '\'') {
        p += 2;
      } else {
        ++p;
        c->unclosed = false;
        break;
      }
    }
    piece = kPieceString;
    operand = true;
  } else if (ch == '(' || ch == '[' || ch == '{') {
    ++p;
    piece = kPieceOpen;
  } else if (ch == ')' || ch == ']' || ch == '}') {
    ++p;
    piece = kPieceClose;
    operand = true;
  } else {
    ++p;
    operand = lex_ident_char(ch) || ch == '.';
  }
  c->pos = p;
  c->operand = operand;
  return piece;
}

void lex_skip_inline(const char* t, int32_t end, int32_t* pos, int32_t* line) {
  LexCursor c(t, end, *pos);
  // A quote starts no blank, comment or continuation: stop before reading
  // the string it may open only to throw it away.
  while (c.pos < end && t[c.pos] != '\'') {
    LexCursor probe = c;
    const LexPiece piece = lex_piece(&probe);
    if (piece != kPieceBlanks && piece != kPieceBlockComment && piece != kPieceContinuation) break;
    c = probe;
  }
  *pos = c.pos;
  if (line) *line += c.lines;
}

int lex_skip_blanks(EngineContext*, const char* t, int32_t end, int32_t* pos, bool separators, int32_t* line) {
  LexCursor c(t, end, *pos);
  int result = kSkipNothing;
  while (c.pos >= end || t[c.pos] != '\'') {  // a quote: as above
    LexCursor probe = c;
    const LexPiece piece = lex_piece(&probe);
    if (piece == kPieceBlanks || piece == kPieceLineComment || piece == kPieceBlockComment ||
        piece == kPieceContinuation) {
      result = kSkipBlanks;
    } else if (piece == kPieceEnd || piece == kPieceLineEnd ||
               (separators && piece == kPieceChar && (t[c.pos] == ',' || t[c.pos] == ';'))) {
      c = probe;
      result = kSkipStatementEnd;
      break;
    } else {
      break;
    }
    c = probe;
  }
  *pos = c.pos;
  if (line) *line += c.lines;
  return result;
}

bool lex_match_keyword(const char* t, int32_t end, int32_t* pos, const char* keyword) {
  const int32_t n = int32_t(std::strlen(keyword));
  const int32_t p = *pos;
  if (end - p < n || std::memcmp(t + p, keyword, size_t(n)) != 0) return false;
  if (p + n < end && lex_ident_char(t[p + n])) return false;
  *pos = p + n;
  return true;
}

int32_t lex_identifier_end(const char* t, int32_t end, int32_t p) {
  if (p >= end || !lex_ident_start(t[p])) return p;
  while (p < end && lex_ident_char(t[p])) ++p;
  return p;
}

int lex_number(const char* t, int32_t end, int32_t* pos, NumberLiteral* out, int32_t* bad) {
  *out = NumberLiteral{};
  int32_t p = *pos;
  int32_t word_end = p;
  while (word_end < end && lex_ident_char(t[word_end])) ++word_end;
  if (word_contains_int(t, p, word_end)) return read_integer_literal(t, end, pos, out, bad);

  RadixValue v;
  if (t[p] == '0' && p + 1 < end && (t[p + 1] == 'x' || t[p + 1] == 'X')) {
    p = read_radix(t, end, p + 2, 16, &v);
    out->value = v.value;
    out->plain_integer = true;
  } else if (t[p] == '0' && p + 1 < end && (t[p + 1] == 'b' || t[p + 1] == 'B')) {
    p = read_radix(t, end, p + 2, 2, &v);
    out->value = v.value;
    out->plain_integer = true;
  } else if (t[p] == '0' && p + 1 < end && lex_digit(t[p + 1])) {
    p = read_radix(t, end, p + 1, 8, &v);
    out->value = v.value;
    out->plain_integer = true;
  } else {
    const int32_t start = p;
    bool point = false, negative_exponent = false;
    while (p < end && lex_digit(t[p])) ++p;
    // "1./x" is 1 ./ x: a point before an operator belongs to the operator.
    if (p < end && t[p] == '.' &&
        !(p + 1 < end && (t[p + 1] == '*' || t[p + 1] == '/' || t[p + 1] == '\\' || t[p + 1] == '^'))) {
      point = true;
      ++p;
      while (p < end && lex_digit(t[p])) ++p;
    }
    if (p < end && (t[p] == 'e' || t[p] == 'E')) {
      int32_t q = p + 1;
      bool minus = false;
      if (q < end && (t[q] == '+' || t[q] == '-')) minus = t[q++] == '-';
      if (q < end && lex_digit(t[q])) {
        while (q < end && lex_digit(t[q])) ++q;
        negative_exponent = minus;
        p = q;
      }
    }
    int32_t at = start;
    double value = 0;
    scan_number(t, p, &at, &value);
    out->value = value;
    out->plain_integer = !point && !negative_exponent;
  }
  if (p < end && (t[p] == 'i' || t[p] == 'j') &&
      (!(p + 1 < end && lex_ident_char(t[p + 1])) || suffix_at(t, end, p + 1, "single"))) {
    out->imaginary = true;
    ++p;
  }
  if (suffix_at(t, end, p, "single")) {
    out->single = true;
    p += 6;
  }
  *pos = p;
  return kOk;
}

int lex_string(EngineContext* ctx, const char* t, int32_t end, int32_t* pos, uint16_t* chars, int32_t capacity,
               int32_t* length, bool* wide) {
  int32_t p = *pos + 1;
  int32_t n = 0;
  *wide = false;
  auto put = [&](uint32_t ch) {
    if (n >= capacity) return false;
    if (ch > 0xFF) *wide = true;
    chars[n++] = uint16_t(ch);
    return true;
  };
  for (;;) {
    if (p >= end || lex_line_end(t[p])) return kUnterminatedString;
    const char c = t[p];
    uint32_t ch;
    if (c == '\'') {
      if (p + 1 < end && t[p + 1] == '\'') {
        ch = '\'';
        p += 2;
      } else {
        ++p;
        break;
      }
    } else if (c == '\\') {
      if (p + 1 >= end) return kUnterminatedString;
      const char e = t[p + 1];
      p += 2;
      switch (e) {
        case '"': case '\'': case '\\': ch = uint8_t(e); break;
        case 'a': ch = 7; break;
        case 'b': ch = 8; break;
        case 'f': ch = 12; break;
        case 'n': ch = 10; break;
        case 'r': ch = 13; break;
        case 't': ch = 9; break;
        case 'v': ch = 11; break;
        case 'x':
        case 'u': {
          const int digits = e == 'x' ? 2 : 4;
          ch = 0;
          for (int k = 0; k < digits && p < end && hex_digit(t[p]) >= 0; ++k) ch = ch * 16 + uint32_t(hex_digit(t[p++]));
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            ch = uint32_t(e - '0');
            for (int k = 1; k < 3 && p < end && t[p] >= '0' && t[p] <= '7'; ++k) ch = ch * 8 + uint32_t(t[p++] - '0');
            break;
          }
          return kUnknownEscape;
      }
    } else if ((uint8_t(c) & 0x80) && ctx && ctx->charset[kCharsetDecode]) {
      uint16_t decoded = 0;
      int32_t at = p;
      const bool ok = ctx->charset[kCharsetDecode](t, &decoded, &at, end) != 0;
      if (at <= p) at = p + 1;  // the decoder always moves on; be sure of it
      ch = ok ? decoded : uint8_t(c);
      p = at;
    } else {
      ch = uint8_t(c);
      ++p;
    }
    if (!put(ch)) return kExpressionTooLarge;
  }
  *pos = p;
  *length = n;
  return kOk;
}
