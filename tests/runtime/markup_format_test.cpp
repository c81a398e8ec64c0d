// The markup output formats: template expansion and its expressions, list
// markers, the writers of each format, wrapping, and the output's bounds.
// Expected texts are the templates worked by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/markup/markup_format.h"

namespace {

// An output over a buffer with guard bytes behind its capacity.
struct Out {
  static constexpr char kGuard = '\x7f';
  std::vector<char> buf;
  MarkupOut o;
  explicit Out(MarkupFormatId id, int32_t capacity = 4096) : buf(size_t(capacity) + 16, kGuard) {
    o.buffer = buf.data();
    o.capacity = capacity;
    o.format = markup_format(id);
    o.s = o.format->font_size;
  }
  std::string text() const { return std::string(o.buffer, size_t(o.bytes)); }
  bool guards_intact() const {
    for (size_t k = size_t(o.capacity); k < buf.size(); ++k)
      if (buf[k] != kGuard) return false;
    return true;
  }
  int expand(MarkupTemplate t) { return markup_expand_template(o.format->templates[t], -1, '%', &o); }
  // Ordinary text through the character writer, wrapping after each character.
  void write(const std::string& s) {
    for (int32_t k = 0; k < int32_t(s.size());) {
      int32_t used = 1;
      ASSERT_EQ(markup_write_char(&o, s.data() + k, int32_t(s.size()) - k, false, &used), 1);
      ASSERT_EQ(markup_wrap_line(&o), 1);
      k += used;
    }
  }
};

TEST(MarkupExpr, OperatorsPrecedenceAndFailures) {
  MarkupOut o;
  o.i = 3;
  o.l = 2;
  o.s = 10;
  o.o = 77;
  o.x = 1;
  o.bytes = 5;
  struct Case {
    const char* expr;
    int64_t value;
  };
  const Case cases[] = {
      {"3*l-2", 4},          {"4-l", 2},           {"l=1&3*s|l=2&2*s|l=3&3*s/2|5*s/4", 20},
      {"l=3&3*s/2|5*s/4", 12}, {"i>0", 1},         {"i<1", 0},
      {"l!2", 0},            {"(1+2)*3", 9},       {" ( 1 + 2 ) * ( 3 ) ", 9},
      {"7/2", 3},            {"7/0", 0},           {"0|5", 5},
      {"4&0", 0},            {"o", 77},            {"p", 5},
      {"x", 1},              {"q", 1},             {"1+", 1},
      {"", 1},               {"((((((((((((((((1))))))))))))))))", 1},
      {"(((((((((((((((1)))))))))))))))", 1},   {"3000000000*3", 9000000000},
      {"l>3&2|l-1", 1},      {"1=1=1", 1},         {"2-3", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(markup_eval_expr(c.expr, int32_t(std::strlen(c.expr)), &o), c.value) << c.expr;
}

TEST(MarkupTemplate, TheWorkedEdgeCases) {
  {  // A numbered item at level 2 in plain text: three spaces, the number, ". ".
    Out out(kMkPlainText);
    out.o.l = 2;
    out.o.i = 4;
    out.o.depth = 2;
    ASSERT_EQ(out.expand(kMkNumberedItemBegin), 1);
    EXPECT_EQ(out.text(), "   4. ");
  }
  {  // Repeats of 0 and of 500 (capped at 100).
    Out out(kMkPlainText);
    ASSERT_EQ(markup_expand_template("a%%{0}x%%b%%{500}y%%c", -1, '%', &out.o), 1);
    EXPECT_EQ(out.text(), "ab" + std::string(100, 'y') + "c");
  }
  {  // HTML headings: 20pt at level 2 with size 10, no style with size 0.
    Out out(kMkHtml);
    out.o.l = 2;
    out.o.s = 10;
    ASSERT_EQ(out.expand(kMkHeadingBegin), 1);
    EXPECT_EQ(out.text(), "<h2 style=\"font-size:20pt\">");
    Out bare(kMkHtml);
    bare.o.l = 2;
    bare.o.i = 3;
    bare.o.x = 1;
    bare.o.o = 12;
    ASSERT_EQ(bare.expand(kMkHeadingBegin), 1);
    ASSERT_EQ(bare.expand(kMkHeadingEnd), 1);
    EXPECT_EQ(bare.text(), "<h2><a name=\"h12\">3. </a></h2>\n");
  }
  {  // Wiki bullet item at level 2 inside a numbered list; HTML writes the template alone.
    Out wiki(kMkWiki), html(kMkHtml);
    for (Out* out : {&wiki, &html}) {
      out->o.kinds[0] = kMkLevelNumbered;
      out->o.kinds[1] = kMkLevelBullet;
      out->o.depth = 2;
      out->o.l = 2;
      ASSERT_EQ(out->expand(kMkBulletItemBegin), 1);
    }
    EXPECT_EQ(wiki.text(), "#* ");
    EXPECT_EQ(html.text(), "<li>");
  }
  {  // A line feed writes the line end and the indentation.
    Out out(kMkPlainText);
    out.o.line_end = "\r\n";
    out.o.line_end_length = 2;
    out.o.indent = 3;
    ASSERT_EQ(markup_expand_template("a\nb", -1, '%', &out.o), 1);
    EXPECT_EQ(out.text(), "a\r\n   b");
    EXPECT_EQ(out.o.column, 4);
  }
}

TEST(MarkupTemplate, ListMarkersOfEveryKind) {
  MarkupOut o;
  const uint8_t kinds[] = {kMkLevelBullet, kMkLevelDefTerm, kMkLevelDefinition, kMkLevelIndented,
                           kMkLevelNumbered, kMkLevelTable, kMkLevelBullet, kMkLevelBullet};
  std::memcpy(o.kinds, kinds, sizeof kinds);
  char buffer[kMkMaxDepth + 1];
  o.depth = 8;
  EXPECT_EQ(std::string(buffer, size_t(markup_list_markers(&o, buffer))), "*;::##**");
  o.depth = 0;
  EXPECT_EQ(markup_list_markers(&o, buffer), 0);
  // The marker string needs eight bytes of room, whatever its length.
  Out out(kMkWiki, 7);
  out.o.depth = 1;
  EXPECT_EQ(markup_expand_template("%L", -1, '%', &out.o), 0);
}

TEST(MarkupTemplate, FullOutputsStopAtTheCapacity) {
  for (MarkupFormatId id : {kMkPlainText, kMkHtml, kMkRtf, kMkLatex, kMkWiki})
    for (int32_t capacity = 0; capacity < 40; ++capacity) {
      Out out(id, capacity);
      out.o.l = 1;
      out.o.i = 12;
      int ok = 1;
      for (int t = 0; t < kMkTemplateCount && ok; ++t)
        ok = markup_expand_template(out.o.format->templates[t], -1, '%', &out.o);
      EXPECT_EQ(ok, 0) << id << " " << capacity;
      EXPECT_LE(out.o.bytes, capacity);
      EXPECT_TRUE(out.guards_intact()) << id << " " << capacity;
    }
}

TEST(MarkupWriters, CharactersOfEachFormat) {
  struct Case {
    MarkupFormatId id;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {kMkHtml, "a<b>&\"c", "a&lt;b&gt;&amp;&quot;c"},
      {kMkLatex, "#^~\\|'`<>{}x", "\\#$\\,\\hat{}\\,$$\\,\\tilde{}\\,$$\\backslash$$|$'{}`{}$<$$>$\\{\\}x"},
      {kMkRtf, "a\\{}", "a\\\\\\{\\}"},
      {kMkRtf, "\xC3\xA9\xE2\x82\xAC", "\\u233?\\u8364?"},
      {kMkRtf, "\xEF\xBF\xBD", "\\u-3?"},
      {kMkRtf, "\xF0\x9F\x98\x80", "\\u-10179?\\u-8704?"},
      {kMkRtf, "a\xC3", "a"},  // a lead byte cut short writes nothing
      {kMkRtf, "\xE2\x82x", "x"},
      {kMkNull, "abc\xC3\xA9", ""},
      {kMkPlainText, "a\xC3\xA9\xF0\x9F\x98\x80", "a\xC3\xA9\xF0\x9F\x98\x80"},
      {kMkWiki, "*a**b//c~d|e", "~*a*~*b/~/c~~d~|e"},
      {kMkWiki, "x\n-y\n=z\n;:", "x\n~-y\n~=z\n~;:"},
  };
  for (const Case& c : cases) {
    Out out(c.id);
    out.write(c.in);
    EXPECT_EQ(out.text(), c.out) << c.id << " " << c.in;
  }
  // Characters count in UTF-16 units: a 4-byte sequence two.
  Out out(kMkPlainText);
  out.write("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(out.o.chars, 5);
  EXPECT_EQ(out.o.bytes, 10);
}

TEST(MarkupWriters, LinkTargetsAndImageSources) {
  const std::string source = "see http://x.org/a\"b here";
  auto run = [&](MarkupFormatId id, const MarkupPrefix* prefixes) {
    Out out(id);
    MarkupFormat copy = *out.o.format;
    copy.prefixes = prefixes;
    out.o.format = &copy;
    out.o.source = source.data();
    out.o.source_length = int32_t(source.size());
    out.o.span_position = 4;
    out.o.span_length = 16;
    EXPECT_EQ(markup_write_text_run(&out.o, &copy), 0);
    return out.text();
  };
  EXPECT_EQ(run(kMkPlainText, nullptr), "http://x.org/a\"b");
  EXPECT_EQ(run(kMkHtml, nullptr), "http://x.org/a&quot;b");
  const MarkupPrefix prefixes[] = {{"ftp:", "F"}, {"http://", "<%{2+3}>"}, {nullptr, nullptr}};
  EXPECT_EQ(run(kMkPlainText, prefixes), "<5>x.org/a\"b");
  // A span outside the source writes nothing.
  Out out(kMkPlainText);
  out.o.source = source.data();
  out.o.source_length = int32_t(source.size());
  out.o.span_position = 20;
  out.o.span_length = 10;
  EXPECT_EQ(markup_write_text_run(&out.o, out.o.format), 0);
  EXPECT_EQ(out.o.bytes, 0);
  // A full output answers 1.
  Out small(kMkPlainText, 3);
  small.o.source = source.data();
  small.o.source_length = int32_t(source.size());
  small.o.span_position = 4;
  small.o.span_length = 16;
  EXPECT_EQ(markup_write_text_run(&small.o, small.o.format), 1);
  EXPECT_TRUE(small.guards_intact());
}

TEST(MarkupWrap, AtTheColumnAndNeverInDisplayText) {
  std::string words;
  while (words.size() < 75) words += "word ";
  words.resize(75);
  Out plain(kMkPlainText), display(kMkDisplayText);
  plain.write(words);
  display.write(words);
  const std::string wrapped = plain.text();
  const size_t cut = wrapped.find('\n');
  ASSERT_NE(cut, std::string::npos);
  EXPECT_LT(cut, 70u);
  EXPECT_EQ(words.substr(0, cut), wrapped.substr(0, cut));
  EXPECT_EQ(words[cut], ' ');
  EXPECT_EQ(wrapped.substr(cut + 1), words.substr(cut + 1));
  EXPECT_EQ(display.text(), words);
  // Two-byte characters reach column 70 after 35 of them.
  Out wide(kMkPlainText);
  std::string e;
  for (int k = 0; k < 34; ++k) e += "\xC3\xA9";
  wide.write(e + " " + "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(wide.text(), e + "\n\xC3\xA9\xC3\xA9");
  // RTF breaks after the blank, keeping it; the wiki test keeps markers off line starts.
  Out rtf(kMkRtf);
  rtf.write(std::string(60, 'a') + " b " + std::string(20, 'c'));
  EXPECT_EQ(rtf.text(), std::string(60, 'a') + " b \n" + std::string(20, 'c'));
  Out wiki(kMkWiki);
  wiki.o.indent = 2;
  wiki.write(std::string(60, 'a') + " b " + std::string(20, 'c'));
  EXPECT_EQ(wiki.text(), std::string(60, 'a') + " b\n  " + std::string(20, 'c'));
}

TEST(MarkupWrap, ALongLineWithoutBlanksStaysLinear) {
  // Each write searches only what it has not searched before: 200000 bytes
  // without a blank would take hours if every wrap searched the whole line.
  Out out(kMkPlainText, 1 << 20);
  const std::string line(200000, 'x');
  out.write(line);
  EXPECT_EQ(out.text(), line);
  out.write(" y");
  EXPECT_EQ(out.text(), line + "\ny");
}

TEST(MarkupFormats, NumbersAndTheBuildDate) {
  struct Row {
    MarkupFormatId id;
    int32_t size, heading, wrap;
  };
  const Row rows[] = {{kMkPlainText, 10, 4, 70}, {kMkCompactText, 10, 4, 70}, {kMkNull, 10, 4, -1},
                      {kMkWiki, 10, 6, 70},      {kMkHtml, 0, 4, 70},         {kMkRtf, 10, 4, 70},
                      {kMkLatex, 10, 4, 70},     {kMkManPage, 10, 2, 70},     {kMkDisplayText, 10, 4, -1}};
  for (const Row& r : rows) {
    const MarkupFormat* f = markup_format(r.id);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->font_size, r.size);
    EXPECT_EQ(f->max_heading, r.heading);
    EXPECT_EQ(f->wrap_column, r.wrap);
    EXPECT_EQ(f->escape, '%');
  }
  EXPECT_EQ(markup_format(kMkFormatCount), nullptr);
  markup_set_build_date("Dec 7 2026 08:10:00");
  EXPECT_STREQ(markup_format(kMkHtml)->document_begin,
               "<!-- Generated by Orvendalith Markup Engine, Dec 7 2026 08:10:00 -->\n<html><body>\n");
  // Plain text has no link templates: a link writes only its text.
  EXPECT_EQ(markup_format(kMkPlainText)->templates[kMkLinkTargetEnd], nullptr);
}

}  // namespace
