// The lexer of ZVR source text: the source reader that every scan shares
// (strings, transposes, comments, continuations, brackets), blanks, keywords,
// identifiers, number literals and string literals. Source text is 8-bit;
// every reader stops at `end` and never reads past it. Line ends (LF, CR,
// CR LF) are counted once each.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int32_t kMaxIdentifier = 32;  // longest identifier

inline bool lex_ident_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool lex_digit(char c) { return c >= '0' && c <= '9'; }
inline bool lex_ident_char(char c) { return lex_ident_start(c) || lex_digit(c); }
inline bool lex_blank(char c) { return c == ' ' || c == '\t'; }
inline bool lex_line_end(char c) { return c == '\n' || c == '\r'; }

// Results of lex_skip_blanks.
enum : int {
  kSkipNothing = 0,
  kSkipBlanks = 1,
  kSkipStatementEnd = 2,
};

// ---- the source reader -------------------------------------------------------------
// Quotes, comments, continuations and brackets are read one way, by lex_piece:
// the statement reader, command syntax, the target splitter, the subscript
// counter, function headers and the loader's scans of definitions all step
// through their text with it, so none of them can find a comment inside a
// string that another reads as text, or end a string where another goes on.

enum LexPiece : int {
  kPieceEnd = 0,       // the end of the window
  kPieceBlanks,        // spaces and tabs
  kPieceLineEnd,       // one line end (CR LF counts once)
  kPieceLineComment,   // "%" or "//" up to the line end, which is not part of it
  kPieceBlockComment,  // "/*" through "*/" (to the end of the window when unclosed)
  kPieceContinuation,  // "..." through its line end and the blanks and line ends after it
  kPieceString,        // a quoted string with its quotes; "''" and a backslash escape stay
                       // inside; an unclosed one stops before the line end
  kPieceTranspose,     // a quote right after an operand
  kPieceOpen,          // "(", "[" or "{"
  kPieceClose,         // ")", "]" or "}"
  kPieceChar,          // any other character
};

// The reader's place in a window [pos, end) of text. A quote is a transpose
// when the piece before it, with nothing between, ends an operand: an
// identifier character, ".", a closing bracket, a string or a transpose;
// after blanks, a comment or a line end it opens a string.
struct LexCursor {
  const char* text = nullptr;
  int32_t end = 0;
  int32_t pos = 0;
  int32_t start = 0;      // where the last piece began
  int32_t lines = 0;      // line ends passed, inside comments and continuations too
  bool operand = false;   // the last piece ends an operand
  bool unclosed = false;  // the last string or block comment found no end

  LexCursor() = default;
  LexCursor(const char* t, int32_t n, int32_t p) : text(t), end(n), pos(p), start(p) {}
};

// True when a comment ("%", "//" or "/*") starts at p.
inline bool lex_comment_at(const char* t, int32_t end, int32_t p) {
  return t[p] == '%' || (t[p] == '/' && p + 1 < end && (t[p + 1] == '/' || t[p + 1] == '*'));
}

// Reads the piece at the cursor and moves past it.
LexPiece lex_piece(LexCursor* c);

// From p inside a block comment: the position after its "*/" (end when
// there is none, *closed then false); the line ends passed are added to *lines.
int32_t lex_block_comment_rest(const char* text, int32_t end, int32_t p, int32_t* lines, bool* closed);

// Skips blanks, block comments and continuations but no line end and no
// line comment: what may stand between the words of one line (a header, a
// command). The line ends inside comments and continuations are counted
// into *line when it is not null.
void lex_skip_inline(const char* text, int32_t end, int32_t* pos, int32_t* line);

// Skips blanks, comments ("%" and "//" to the line end, "/* ... */" over
// lines) and continuations ("..." to the line end), repeatedly. A line end,
// the end of the text or, with separators, a "," or ";" ends the statement
// (the separator and the line end are consumed). line may be null.
int lex_skip_blanks(EngineContext* ctx, const char* text, int32_t end, int32_t* pos, bool separators,
                    int32_t* line);

// True, advancing the position, when the keyword stands at the position and
// no identifier character follows it.
bool lex_match_keyword(const char* text, int32_t end, int32_t* pos, const char* keyword);

// Position after the identifier that starts at pos (pos itself when none).
int32_t lex_identifier_end(const char* text, int32_t end, int32_t pos);

// A number literal as written.
struct NumberLiteral {
  double value = 0;           // the double value (floating literals)
  uint64_t bits = 0;          // the integer value (integer literals), its low 64 bits
  bool is_integer = false;    // "int" or "uint" suffix
  bool is_unsigned = false;
  int32_t int_bits = 0;       // 8, 16, 32, 64 for integer literals
  bool imaginary = false;     // "i" or "j" suffix
  bool single = false;        // "single" suffix
  bool plain_integer = false; // written without a decimal point or a negative exponent
};

// Reads a number literal at *pos (a digit, or "." followed by a digit) and
// advances past it and its suffixes. kUnrecognizedToken for a bad integer suffix (the
// offending character in *bad_char), kUnsupportedIntegerSize for an unsupported integer size.
int lex_number(const char* text, int32_t end, int32_t* pos, NumberLiteral* out, int32_t* bad_char);

// Reads a string literal whose opening quote is at *pos into chars (capacity
// characters) and advances past the closing quote. *wide is set when a
// character above 255 appears. kUnterminatedString without a closing quote,
// kUnknownEscape for an unknown escape, kExpressionTooLarge when the
// characters do not fit.
int lex_string(EngineContext* ctx, const char* text, int32_t end, int32_t* pos, uint16_t* chars,
               int32_t capacity, int32_t* length, bool* wide);
