// The lexer: blanks, comments and continuations with their line counts,
// keywords, number literals (correctly rounded, every radix and suffix) and
// string literals with their escapes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <string>

#include "engine/core/lexer.h"
#include "engine/core/status.h"

namespace {

struct SkipCase {
  const char* text;
  bool separators;
  int result;
  int32_t stop;   // position after skipping
  int32_t lines;  // line ends counted
};

TEST(Lexer, SkipBlanksTable) {
  const SkipCase cases[] = {
      {"x", false, kSkipNothing, 0, 0},
      {"  \tx", false, kSkipBlanks, 3, 0},
      {"% note\nx", false, kSkipStatementEnd, 7, 1},
      {"// note\r\nx", false, kSkipStatementEnd, 9, 1},
      {"/* a\r\nb\nc */ x", false, kSkipBlanks, 13, 2},
      {"... rest\n\n  x", false, kSkipBlanks, 12, 2},
      {"\r\rx", false, kSkipStatementEnd, 1, 1},
      {", x", true, kSkipStatementEnd, 1, 0},
      {"; x", false, kSkipNothing, 0, 0},
      {"", false, kSkipStatementEnd, 0, 0},
      {"/* open", false, kSkipStatementEnd, 7, 0},
  };
  for (const SkipCase& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t pos = 0, lines = 0;
    const int32_t n = int32_t(std::strlen(c.text));
    EXPECT_EQ(lex_skip_blanks(nullptr, c.text, n, &pos, c.separators, &lines), c.result);
    EXPECT_EQ(pos, c.stop);
    EXPECT_EQ(lines, c.lines);
  }
}

// The source reader's pieces of a text, one letter each: b blanks, n line
// end, c line comment, k block comment, u continuation, s string, t
// transpose, o opener, x closer, . any other character.
std::string pieces(const char* text, int32_t* lines) {
  static const char kLetters[] = "Ebnckustox.";
  LexCursor c(text, int32_t(std::strlen(text)), 0);
  std::string s;
  for (LexPiece p; (p = lex_piece(&c)) != kPieceEnd;) s += kLetters[p];
  *lines = c.lines;
  return s;
}

TEST(Lexer, SourceReaderPieces) {
  const struct {
    const char* text;
    const char* pieces;
    int32_t lines;
  } rows[] = {
      // A quote after an operand, with nothing between, is a transpose.
      {"x'", ".t", 0},
      {"x1'", "..t", 0},
      {"x.'", "..t", 0},
      {"(x)'", "o.xt", 0},
      {"[1 2]'", "o.b.xt", 0},
      {"c{1}'", ".o.xt", 0},
      {"x''", ".tt", 0},
      {"'ab'.'", "s.t", 0},
      // After anything else, blanks and comments included, it opens a string.
      {"x 'a'", ".bs", 0},
      {"x/*c*/'a'", ".ks", 0},
      {"=''", ".s", 0},
      {"('a',", "os.", 0},
      // Doubled and escaped quotes stay inside; a line end always ends it.
      {"'a''b'", "s", 0},
      {"'a\\'/*'", "s", 0},
      {"'a\\\\'x", "s.", 0},
      {"'it''s /*' % c", "sbc", 0},
      {"'%' // c", "sbc", 0},
      {"'abc\nx", "sn.", 1},
      {"'a\\\nb", "sn.", 1},
      {"'a''", "s", 0},
      // Comments, continuations and line ends.
      {"a /* b\n c */\nd", ".bkn.", 2},
      {"a ... 'x\n\n  b", ".bu.", 2},
      {"a % 'x\r\nb", ".bcn.", 1},
      {"/* open", "k", 0},
      {"a..b", "....", 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    int32_t lines = 0;
    EXPECT_EQ(pieces(r.text, &lines), r.pieces);
    EXPECT_EQ(lines, r.lines);
  }
}

// The reader ends a string where the literal lexer does, for random texts of
// quotes, backslashes, escapes and comment marks.
TEST(Lexer, SourceReaderStringsEndWhereLiteralsEnd) {
  static const char* const kParts[] = {"'", "''", "\\'", "\\\\", "\\", "\\n", "\\x4", "\\12", "\"", "%",
                                       "/*", "*/", "//", "(", "]", "a", " ", "...", "\n"};
  std::mt19937 rng(64);
  int closed = 0;
  for (int k = 0; k < 4000; ++k) {
    std::string text = "'";
    const int n = int(rng() % 8);
    for (int q = 0; q < n; ++q) text += kParts[rng() % std::size(kParts)];
    if (rng() % 4 != 0) text += "'";
    LexCursor c(text.data(), int32_t(text.size()), 0);
    ASSERT_EQ(lex_piece(&c), kPieceString) << text;
    uint16_t chars[64];
    int32_t pos = 0, length = 0;
    bool wide = false;
    const int status = lex_string(nullptr, text.data(), int32_t(text.size()), &pos, chars, 64, &length, &wide);
    if (status == kOk) {
      ++closed;
      EXPECT_FALSE(c.unclosed) << text;
      EXPECT_EQ(c.pos, pos) << text;
    } else if (status == kUnterminatedString) {
      EXPECT_TRUE(c.unclosed) << text;
    }
  }
  EXPECT_GT(closed, 1500);
}

// What may stand between the words of one line.
TEST(Lexer, SkipInline) {
  const struct {
    const char* text;
    int32_t stop, lines;
  } rows[] = {
      {"  /* a */ x", 10, 0}, {" /* a\nb */ x", 11, 1}, {" ... c\n  x", 9, 1}, {" % c\nx", 1, 0},
      {" // c", 1, 0},        {"\nx", 0, 0},             {"x", 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    int32_t pos = 0, lines = 0;
    lex_skip_inline(r.text, int32_t(std::strlen(r.text)), &pos, &lines);
    EXPECT_EQ(pos, r.stop);
    EXPECT_EQ(lines, r.lines);
  }
}

TEST(Lexer, KeywordsStandAlone) {
  int32_t pos = 0;
  EXPECT_TRUE(lex_match_keyword("end;", 4, &pos, "end"));
  EXPECT_EQ(pos, 3);
  pos = 0;
  EXPECT_FALSE(lex_match_keyword("endfunction", 11, &pos, "end"));
  EXPECT_FALSE(lex_match_keyword("end_x", 5, &pos, "end"));
  EXPECT_FALSE(lex_match_keyword("en", 2, &pos, "end"));
  EXPECT_EQ(pos, 0);
}

struct NumberCase {
  const char* text;
  double value;
  int32_t consumed;
  bool imaginary, single, plain;
};

TEST(Lexer, NumbersTable) {
  const NumberCase cases[] = {
      {"0.3", 0.3, 3, false, false, false},
      {"0.1+", 0.1, 3, false, false, false},
      {"1./x", 1.0, 1, false, false, true},
      {"1.^2", 1.0, 1, false, false, true},
      {"1.5", 1.5, 3, false, false, false},
      {".5e1", 5.0, 4, false, false, false},
      {"2e3", 2000.0, 3, false, false, true},
      {"2e-3", 0.002, 4, false, false, false},
      {"2e", 2.0, 1, false, false, true},
      {"0x1F", 31.0, 4, false, false, true},
      {"0b101", 5.0, 5, false, false, true},
      {"017", 15.0, 3, false, false, true},
      {"3i", 3.0, 2, true, false, true},
      {"2.5j", 2.5, 4, true, false, false},
      {"4single", 4.0, 7, false, true, true},
      {"3isingle", 3.0, 8, true, true, true},
      {"1e400", HUGE_VAL, 5, false, false, true},
      {"123456789012345678901234567890", 1.2345678901234568e29, 30, false, false, true},
      {"0.1000000000000000055511151231257827", 0.1, 36, false, false, false},
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(c.text);
    NumberLiteral lit;
    int32_t pos = 0, bad = 0;
    ASSERT_EQ(lex_number(c.text, int32_t(std::strlen(c.text)), &pos, &lit, &bad), kOk);
    EXPECT_EQ(lit.value, c.value);
    EXPECT_EQ(pos, c.consumed);
    EXPECT_EQ(lit.imaginary, c.imaginary);
    EXPECT_EQ(lit.single, c.single);
    EXPECT_EQ(lit.plain_integer, c.plain);
    EXPECT_FALSE(lit.is_integer);
  }
}

TEST(Lexer, IntegerLiterals) {
  struct Case {
    const char* text;
    int status;
    uint64_t bits;
    int bits_size;
    bool is_unsigned;
  } cases[] = {
      {"300int8", kOk, 300, 8, false},
      {"0x10int8", kOk, 16, 8, false},
      {"0b11uint16", kOk, 3, 16, true},
      {"017int32", kOk, 15, 32, false},
      {"18446744073709551615uint64", kOk, UINT64_MAX, 64, true},
      {"5int7", kUnsupportedIntegerSize, 0, 0, false},
      {"5int", kUnrecognizedToken, 0, 0, false},
      {"5inx8", kOk, 0, 0, false},  // no "int": a plain 5 followed by a name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    NumberLiteral lit;
    int32_t pos = 0, bad = 0;
    EXPECT_EQ(lex_number(c.text, int32_t(std::strlen(c.text)), &pos, &lit, &bad), c.status);
    if (c.status != kOk || c.bits_size == 0) continue;
    EXPECT_TRUE(lit.is_integer);
    EXPECT_EQ(lit.bits, c.bits);
    EXPECT_EQ(lit.int_bits, c.bits_size);
    EXPECT_EQ(lit.is_unsigned, c.is_unsigned);
    EXPECT_EQ(pos, int32_t(std::strlen(c.text)));
  }
}

std::u16string lex_text(const char* text, int* status, int32_t* consumed = nullptr) {
  uint16_t chars[64];
  int32_t n = 0, pos = 0;
  bool wide = false;
  *status = lex_string(nullptr, text, int32_t(std::strlen(text)), &pos, chars, 64, &n, &wide);
  if (consumed) *consumed = pos;
  return std::u16string(chars, chars + (*status == kOk ? n : 0));
}

TEST(Lexer, StringsAndEscapes) {
  int status = 0;
  int32_t consumed = 0;
  EXPECT_EQ(lex_text("'it''s' x", &status, &consumed), u"it's");
  EXPECT_EQ(consumed, 7);
  EXPECT_EQ(lex_text(R"('a\tb\n\\\'\"')", &status), u"a\tb\n\\'\"");
  EXPECT_EQ(lex_text(R"('\a\b\f\r\v')", &status), std::u16string({7, 8, 12, 13, 11}));
  EXPECT_EQ(lex_text(R"('\x41\x4g\101\0\u20AC')", &status), std::u16string({'A', 4, 'g', 'A', 0, 0x20AC}));
  lex_text(R"('\q')", &status);
  EXPECT_EQ(status, kUnknownEscape);
  lex_text("'open", &status);
  EXPECT_EQ(status, kUnterminatedString);
  lex_text("'line\nend'", &status);
  EXPECT_EQ(status, kUnterminatedString);
}

}  // namespace
