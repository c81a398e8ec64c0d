// Outputs their readers accept: the HTML of random texts with tables keeps
// every element balanced (a style never crosses a cell), and the LaTeX of
// every printable character, in text and in a link target, matches a model
// of the escapes and, where a TeX system is installed, compiles.
#include <gtest/gtest.h>

#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "runtime/markup/markup_parse.h"

namespace {

std::string convert(const std::string& src, MarkupFormatId id, uint32_t options) {
  const int32_t cap = int32_t(src.size()) * 32 + 4096;
  std::vector<char> buffer(static_cast<size_t>(cap));
  char* out = nullptr;
  int32_t bytes = 0, chars = 0;
  const int status = markup_parse(src.data(), int32_t(src.size()), buffer.data(), cap, options, "\n",
                                  markup_format(id), 0, &out, &bytes, &chars);
  EXPECT_EQ(status, 0) << src;
  return status == 0 ? std::string(out, size_t(bytes)) : std::string();
}

// The first element whose end does not close the innermost open one, or ""
// when the elements nest; void elements (br, hr, img) and comments aside.
std::string unbalanced(const std::string& html) {
  std::vector<std::string> open;
  for (size_t k = html.find('<'); k != std::string::npos; k = html.find('<', k + 1)) {
    if (html.compare(k, 4, "<!--") == 0) continue;
    const bool closing = k + 1 < html.size() && html[k + 1] == '/';
    size_t e = k + (closing ? 2 : 1);
    while (e < html.size() && std::isalnum(static_cast<unsigned char>(html[e]))) ++e;
    const std::string name = html.substr(k + (closing ? 2 : 1), e - k - (closing ? 2 : 1));
    if (name == "br" || name == "hr" || name == "img") continue;
    if (!closing) {
      open.push_back(name);
    } else if (open.empty() || open.back() != name) {
      return "</" + name + "> at " + std::to_string(k) + " with <" + (open.empty() ? "" : open.back()) + "> open";
    } else {
      open.pop_back();
    }
  }
  return open.empty() ? std::string() : "<" + open.back() + "> never closed";
}

std::vector<std::string> table_texts(uint32_t seed, int count) {
  const char* const alphabet[] = {"|", "|", "|=", "**", "//", "__", "^^", ",,", "##", "[[", "]]", "{{", "}}",
                                  "a", "b", " ", "\n", "\n|", "x|y", "~", "<", "&", "* ", "= "};
  const uint32_t n = sizeof alphabet / sizeof *alphabet;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  std::vector<std::string> texts;
  for (int t = 0; t < count; ++t) {
    std::string s = "|";
    const size_t length = 4 + next() % 80;
    while (s.size() < length) s += alphabet[next() % n];
    texts.push_back(s);
  }
  return texts;
}

TEST(MarkupReaders, HtmlElementsBalanceAcrossTableCells) {
  EXPECT_EQ(convert("|**a|b**", kMkHtml, kMkOptNoDocument),
            "<table>\n<tr><td><b>a</b></td>\n<td><b>b</b></td>\n</tr>\n</table>\n");
  int tested = 0;
  for (const std::string& text : table_texts(0x5EED, 1500))
    for (uint32_t options : {uint32_t(kMkOptNoDocument), 0u}) {
      const std::string html = convert(text, kMkHtml, options);
      EXPECT_EQ(unbalanced(html), "") << text << "\n" << html;
      ++tested;
    }
  EXPECT_EQ(tested, 3000);
}

// What each printable ASCII character becomes in LaTeX running text.
const std::map<char, std::string>& latex_text_escapes() {
  static const std::map<char, std::string> m = {
      {'#', "\\#"},        {'$', "\\$"},         {'%', "\\%"},
      {'&', "\\&"},        {'_', "\\_"},         {'{', "\\{"},
      {'}', "\\}"},        {'^', "$\\,\\hat{}\\,$"}, {'~', "$\\,\\tilde{}\\,$"},
      {'\\', "$\\backslash$"}, {'|', "$|$"},     {'<', "$<$"},
      {'>', "$>$"},        {'\'', "'{}"},        {'`', "`{}"}};
  return m;
}

// A character written as it stands in both places would be plain; these are
// the ones \href's argument must not see raw.
const std::map<char, std::string>& latex_target_escapes() {
  static const std::map<char, std::string> m = {
      {'%', "\\%"}, {'#', "\\#"}, {'\\', "\\\\"}, {'{', "\\%7B"}, {'}', "\\%7D"}};
  return m;
}

std::string escaped(char c, const std::map<char, std::string>& m) {
  const auto it = m.find(c);
  return it == m.end() ? std::string(1, c) : it->second;
}

// Characters that may start markup: written after "~", their escape.
bool markup_char(char c) { return std::string("*/_^,#[]{}|=~\\<-;:").find(c) != std::string::npos; }

TEST(MarkupReaders, LatexEscapesEveryPrintableCharacter) {
  for (char c = 0x21; c < 0x7F; ++c) {
    SCOPED_TRACE(std::string(1, c));
    // A tilde escapes the character after it: written twice, it is one.
    const std::string src = c == '~' ? "x~~y" : "x" + std::string(1, c) + "y";
    const std::string text = convert(src, kMkLatex, kMkOptNoDocument);
    EXPECT_EQ(text, "\nx" + escaped(c, latex_text_escapes()) + "y\n");
    if (c == '|' || c == ']') continue;  // they end a target
    const std::string link = convert("[[http://a.org/p" + std::string(1, c) + "q|t]]", kMkLatex, kMkOptNoDocument);
    EXPECT_EQ(link, "\n\\href{http://a.org/p" + escaped(c, latex_target_escapes()) + "q}{t}\n");
  }
}

// Where pdflatex is installed: one document with every printable character
// in text, a heading, a table cell, a style and a link target compiles.
TEST(MarkupReaders, LatexOfEveryPrintableCharacterCompiles) {
  if (std::system("command -v pdflatex >/dev/null 2>&1") != 0) GTEST_SKIP() << "no TeX system";
  std::string all;
  for (char c = 0x21; c < 0x7F; ++c) {
    if (markup_char(c)) all += '~';
    all += c;
  }
  std::string src = "= Heading " + all + "\n" + all + "\n\n|" + all + "|**bold " + all + "|x**\n\n//" + all +
                    "//\n\n";
  for (char c = 0x21; c < 0x7F; ++c)
    if (c != '|' && c != ']') src += "[[http://a.org/" + std::string(1, c) + "|link]] ";
  src += "\n";
  const std::string doc = convert(src, kMkLatex, 0);
  char dir[] = "/tmp/tn_latex_XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  std::ofstream(std::string(dir) + "/doc.tex") << doc;
  const std::string cmd = std::string("cd ") + dir +
                          " && pdflatex -interaction=nonstopmode -halt-on-error doc.tex >log.txt 2>&1";
  const int status = std::system(cmd.c_str());
  std::ifstream log(std::string(dir) + "/log.txt");
  const std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_EQ(status, 0) << doc << "\n" << text.substr(text.size() > 3000 ? text.size() - 3000 : 0);
  std::system((std::string("rm -rf ") + dir).c_str());
}

}  // namespace
