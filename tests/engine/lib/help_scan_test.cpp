// The scanners of help text: logical lines with continuations, the entries
// of a help file (words, qualified words, operator tokens, with comments and
// help text between them), the code before a comment, and the lines,
// summary and markup test of a help comment. Tables of texts and answers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/lib/help_scan.h"

namespace {

int32_t len(const std::string& s) { return int32_t(s.size()); }

TEST(HelpScan, CodeLengthBeforeComment) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"", 0},          {"a", 0},           {"ab", 2},           {"x = 1; % c", 7}, {"x // c", 2},
      {"x /* c */", 2}, {"%", 0},           {"a/b", 3},          {"%%", 0},         {"y = a % b // c", 6},
      {"a/", 2},        {"/*", 0},          {"abc/*d", 3},       {"a'%'", 2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(src_code_length_before_comment(c.text, len(c.text)), c.expected) << '"' << c.text << '"';
  EXPECT_EQ(src_code_length_before_comment(nullptr, 5), 0);
}

TEST(HelpScan, SkipLogicalLine) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"abc\ndef", 4},
      {"abc\r\ndef", 5},
      {"abc\rdef", 4},
      {"f(a, ...\n  b)\nnext", 14},
      {"f(a, ... comment\r\n  b, ...\r\n c)\r\nx", 33},
      {"y = 1 % not ... a continuation\nz", 31},
      {"a ...", 5},
      {"a ...\n", 6},
      {"\n\n", 1},
      // "..." inside a string or a comment continues nothing; a block
      // comment over lines is part of the line it starts on.
      {"function f(a, b = '...')\n% help\n", 25},
      {"f('it''s ...') // ...\nx", 22},
      {"f(a) /* one\ntwo */\nx", 19},
  };
  for (const auto& c : cases) EXPECT_EQ(src_skip_logical_line(c.text, len(c.text)), c.expected) << '"' << c.text << '"';
}

// Every entry of a help file as "qualifier::word" (or "word").
std::vector<std::string> entries(const std::string& text) {
  std::vector<std::string> out;
  int32_t pos = 0;
  const char *w = nullptr, *q = nullptr;
  int32_t wn = 0, qn = 0;
  while (help_file_next_word(text.data(), len(text), &pos, &w, &wn, &q, &qn)) {
    EXPECT_GE(pos, 0);
    EXPECT_LE(pos, len(text));
    out.push_back((qn ? std::string(q, size_t(qn)) + "::" : std::string()) + std::string(w, size_t(wn)));
  }
  EXPECT_EQ(pos, len(text));
  return out;
}

TEST(HelpScan, HelpFileEntries) {
  using V = std::vector<std::string>;
  EXPECT_EQ(entries(""), V{});
  EXPECT_EQ(entries("  \n\t\r\n"), V{});
  EXPECT_EQ(entries("sin\n% sin(x)\n% Sine.\ncos % cos(x)\n   % Cosine.\n"), (V{"sin", "cos"}));
  EXPECT_EQ(entries("// comment sin\n/* block\ncos */\ntan\n"), V{"tan"});
  EXPECT_EQ(entries("point::plus\n% p + q\nvec3::norm\n"), (V{"point::plus", "vec3::norm"}));
  // Operator tokens, ended by a comment or a word.
  EXPECT_EQ(entries("+\n% a + b\n||\n% or\n.^\n'\n.'\n~=% ne\n:\n"), (V{"+", "||", ".^", "'", ".'", "~=", ":"}));
  EXPECT_EQ(entries("/\n% divide\n/* not an entry */\n\\\n"), (V{"/", "\\"}));
  // The rest of a synopsis line after its word is passed over.
  EXPECT_EQ(entries("atan2(y, x)\n% four-quadrant\nnext\n"), (V{"atan2", "next"}));
  EXPECT_EQ(entries("_under 9lives a_1"), (V{"_under", "9lives", "a_1"}));
  // A lone "::" or one before no word qualifies nothing.
  EXPECT_EQ(entries("a::\nb"), (V{"a", "::", "b"}));
  // A block left open runs to the end of the text.
  EXPECT_EQ(entries("x\n/* open"), V{"x"});
}

// The lines of the first comment at or after `from`, joined with "|".
std::string comment_lines(const std::string& text, int32_t from = 0, bool at_line = false) {
  HelpComment c{};
  const bool found = at_line ? help_comment_at_line(text.data(), len(text), from, &c)
                             : help_comment_after(text.data(), len(text), from, &c);
  if (!found) return "<none>";
  HelpLines lines(text.data(), len(text), c);
  HelpLine line{};
  std::string out;
  for (int k = 0; lines.next(&line); ++k) {
    if (k) out += "|";
    out += std::string(text.data() + line.start, size_t(line.n));
  }
  return out;
}

TEST(HelpScan, CommentLines) {
  EXPECT_EQ(comment_lines("% a\n% b\nc\n% d"), " a| b");
  EXPECT_EQ(comment_lines("x % a\n  % b\n\n% c"), " a| b");
  EXPECT_EQ(comment_lines("// a\n% b\n//c\n"), " a| b|c");
  EXPECT_EQ(comment_lines("/* one */ x"), " one ");
  EXPECT_EQ(comment_lines("/*\nfirst\n  second\n*/\n% after"), "first|  second");
  EXPECT_EQ(comment_lines("/* a\nb */"), " a|b ");
  EXPECT_EQ(comment_lines("/* open\nto the end"), " open|to the end");
  EXPECT_EQ(comment_lines("no comment here"), "<none>");
  EXPECT_EQ(comment_lines("% last line without end"), " last line without end");
  EXPECT_EQ(comment_lines("%\r\n%x\r\n"), "|x");
  // After a header: only a comment that opens the next line counts.
  EXPECT_EQ(comment_lines("  % help\n", 0, true), " help");
  EXPECT_EQ(comment_lines("  y = 1; % not help\n", 0, true), "<none>");
  EXPECT_EQ(comment_lines("\n% help\n", 0, true), "<none>");
}

TEST(HelpScan, SummaryAndMarkup) {
  const struct {
    const char* text;
    const char* summary;
    bool markup;
  } cases[] = {
      {"% f(x)\n% Does f.\n% More.\n", " Does f.", false},
      {"% f(x)\n", "", false},
      {"%= Title\n% body\n", " body", true},
      {"% = not markup\n", "", false},
      {"//=Title\n//x\n", "x", true},
      {"/*\nf(x)\nDoes f.\n*/", "Does f.", false},
      {"/*= Title\ntext */", "text ", true},
  };
  for (const auto& c : cases) {
    const std::string t = c.text;
    HelpComment hc{};
    ASSERT_TRUE(help_comment_after(t.data(), len(t), 0, &hc)) << t;
    const HelpLine s = help_summary_line(t.data(), len(t), hc);
    EXPECT_EQ(std::string(t.data() + s.start, size_t(s.n)), c.summary) << t;
    EXPECT_EQ(help_is_markup(t.data(), len(t), hc), c.markup) << t;
  }
}

// Texts made of the characters the scanners care about, cut anywhere: every
// scanner stays inside the text, moves forward and ends.
TEST(HelpScan, RandomTextsStayInBounds) {
  constexpr char kAlphabet[] = "ab_9 \t\r\n%/*.:+|'=";
  std::mt19937 rng(2026);
  for (int round = 0; round < 4000; ++round) {
    std::string t(size_t(rng() % 40), ' ');
    for (char& ch : t) ch = kAlphabet[rng() % (sizeof kAlphabet - 1)];
    const int32_t n = len(t);
    const int32_t skip = src_skip_logical_line(t.data(), n);
    EXPECT_TRUE(skip >= 0 && skip <= n && (n == 0 || skip > 0)) << t;
    const int32_t code = src_code_length_before_comment(t.data(), n);
    EXPECT_TRUE(code >= 0 && code <= n) << t;
    int32_t pos = 0, steps = 0;
    const char *w = nullptr, *q = nullptr;
    int32_t wn = 0, qn = 0;
    while (help_file_next_word(t.data(), n, &pos, &w, &wn, &q, &qn)) {
      ASSERT_LT(++steps, 100) << t;
      EXPECT_TRUE(wn > 0 && w >= t.data() && w + wn <= t.data() + pos && pos <= n) << t;
      HelpComment c{};
      if (!help_comment_after(t.data(), n, pos, &c)) continue;
      EXPECT_TRUE(c.start >= pos && c.start < n) << t;
      HelpLines lines(t.data(), n, c);
      HelpLine line{};
      int count = 0;
      while (lines.next(&line)) {
        ASSERT_LT(++count, 100) << t;
        EXPECT_TRUE(line.start >= c.start && line.n >= 0 && line.start + line.n + line.eol <= n) << t;
      }
    }
  }
}

}  // namespace
