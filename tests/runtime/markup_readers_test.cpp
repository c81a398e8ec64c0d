// Outputs their readers accept: the HTML of random texts with tables keeps
// every element balanced (a style never crosses a cell) and no tag inside an
// attribute, the RTF of random texts ends each link's field argument only at
// its end, and the LaTeX of every printable character, in text and in a link
// target, matches a model of the escapes and, where a TeX system is
// installed, compiles wherever the link stands, its targets intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "fuzz/markup_rules.h"
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

// The characters \href's argument must not see raw: raw, they stop the
// compilation (or change the target) where the link stands in another
// command's argument.
const std::map<char, std::string>& latex_target_escapes() {
  static const std::map<char, std::string> m = {
      {'%', "\\%"}, {'#', "\\#"}, {'&', "\\&"},     {'_', "\\_"},     {'~', "\\~"},
      {'\\', "\\\\"}, {'{', "\\%7B"}, {'}', "\\%7D"}, {'^', "\\%5E"}};
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

// The link targets of an uncompressed PDF, PDF string escapes undone.
std::vector<std::string> pdf_uris(const std::string& pdf) {
  std::vector<std::string> uris;
  for (size_t k = pdf.find("/URI("); k != std::string::npos; k = pdf.find("/URI(", k + 1)) {
    std::string uri;
    int depth = 1;
    for (size_t j = k + 5; j < pdf.size(); ++j) {
      char c = pdf[j];
      if (c == '\\' && j + 1 < pdf.size()) {
        c = pdf[++j];
        if (c >= '0' && c <= '7') {
          int v = 0;
          for (int d = 0; d < 3 && j < pdf.size() && pdf[j] >= '0' && pdf[j] <= '7'; ++d) v = v * 8 + (pdf[j++] - '0');
          --j;
          c = char(v);
        }
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0) {
        break;
      }
      uri += c;
    }
    uris.push_back(uri);
  }
  return uris;
}

// What a target becomes in the PDF: the characters written as URL escapes,
// and an empty fragment (a final '#') left out, as hyperref does.
std::string target_in_pdf(const std::string& target) {
  std::string r;
  for (char c : target) r += c == '{' ? "%7B" : c == '}' ? "%7D" : c == '^' ? "%5E" : std::string(1, c);
  if (!r.empty() && r.back() == '#') r.pop_back();
  return r;
}

// Where pdflatex is installed: one document with every printable character
// in text, a heading, a table cell, a style and a link target compiles, and
// a target of every printable character keeps its characters in a heading
// (numbered, so that it also goes into the bookmarks), in the argument of
// each style that takes one, in a table cell and in a term; so does one of
// carets in pairs.
TEST(MarkupReaders, LatexOfEveryPrintableCharacterCompiles) {
  if (std::system("command -v pdflatex >/dev/null 2>&1") != 0) GTEST_SKIP() << "no TeX system";
  std::string all, target = "http://a.org/";
  for (char c = 0x21; c < 0x7F; ++c) {
    if (markup_char(c)) all += '~';
    all += c;
    if (c != '|' && c != ']') target += c;
  }
  std::string src = "= Heading " + all + "\n" + all + "\n\n|" + all + "|**bold " + all + "|x**\n\n//" + all +
                    "//\n\n";
  std::vector<std::string> want;
  for (char c = 0x21; c < 0x7F; ++c)
    if (c != '|' && c != ']') {
      src += "[[http://a.org/" + std::string(1, c) + "|link]] ";
      want.push_back(target_in_pdf("http://a.org/" + std::string(1, c)));
    }
  const std::string link = "[[" + target + "|t]]";
  src += "\n\n== See " + link + "\n\n__" + link + "__ ^^" + link + "^^ ,," + link + ",, **" + link + "**\n\n|" +
         link + "|x\n\n; " + link + " : d\n";
  want.insert(want.end(), 7, target_in_pdf(target));
  // Carets in pairs, which TeX reads as character codes before any command
  // sees them: "^^7d" a closing brace, "^^5c" a backslash.
  const std::string carets = "http://a.org/^^7d^^5c^^25";
  src += "\n=== [[" + carets + "|c]]\n\n[[" + carets + "]]\n";
  want.insert(want.end(), 2, target_in_pdf(carets));
  const std::string doc = convert(src, kMkLatex, kMkOptNumberLevel2);
  char dir[] = "/tmp/tn_latex_XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  std::ofstream(std::string(dir) + "/doc.tex") << doc;
  const std::string cmd = std::string("cd ") + dir +
                          " && pdflatex -interaction=nonstopmode -halt-on-error"
                          " '\\pdfcompresslevel=0 \\pdfobjcompresslevel=0 \\input{doc}' >log.txt 2>&1";
  const int status = std::system(cmd.c_str());
  std::ifstream log(std::string(dir) + "/log.txt");
  const std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_EQ(status, 0) << doc << "\n" << text.substr(text.size() > 3000 ? text.size() - 3000 : 0);
  std::ifstream pdf_file(std::string(dir) + "/doc.pdf", std::ios::binary);
  std::vector<std::string> got = pdf_uris(std::string((std::istreambuf_iterator<char>(pdf_file)), {}));
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want) << doc;
  std::system((std::string("rm -rf ") + dir).c_str());
}

// The outputs readers rejected, byte for byte: a target in a heading and in
// \underline's argument, a quote and a backslash in an RTF link target, a
// line break in HTML alternative text (also with the inline nowiki written
// in monospace, which must not open inside the attribute either).
TEST(MarkupReaders, TargetsAndAlternativeTextsWhereReadersTakeThem) {
  EXPECT_EQ(convert("== See [[http://h/a_b&c=1~x|t]]\n", kMkLatex, kMkOptNoDocument),
            "\n\\subsection*{See \\href{http://h/a\\_b\\&c=1\\~x}{t}}\n");
  EXPECT_EQ(convert("__[[http://h/a_b|t]]__\n", kMkLatex, kMkOptNoDocument),
            "\n\\underline{\\href{http://h/a\\_b}{t}}\n");
  EXPECT_EQ(convert("[[http://h/?q=\"a\\b\"|t]]\n", kMkRtf, kMkOptNoDocument),
            "{\\pard\\sb80\\li60\\qj\\fi160\\f0\\fs20 {\\field{\\*\\fldinst{HYPERLINK "
            "\"http://h/?q=\\\\\"a\\\\\\\\b\\\\\"\"}}{\\fldrslt \n"
            "t}}\\par}\n");
  EXPECT_EQ(convert("{{p.png|two\\\\lines}}\n", kMkHtml, kMkOptNoDocument),
            "<p><img src=\"p.png\" alt=\"two lines\" /></p>\n");
  EXPECT_EQ(convert("{{p.png|a {{{x}}\n", kMkHtml, kMkOptNoDocument | kMkOptNowikiMonospace),
            "<p><img src=\"p.png\" alt=\"a x\" /></p>\n");
}

// Random texts of links, images, breaks, quotes and backslashes: every RTF
// field argument ends at its end, and no HTML attribute holds a tag.
std::vector<std::string> link_texts(uint32_t seed, int count) {
  const char* const alphabet[] = {"[[", "]]", "{{", "}}", "|", "\"", "\\", "\\\\", "{{{", "}}}", "**", "//",
                                  "a", " ", "\n", "<", "&", "~", "* ", "= ", "|x", "{", "}", "'"};
  const uint32_t n = sizeof alphabet / sizeof *alphabet;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  std::vector<std::string> texts;
  for (int t = 0; t < count; ++t) {
    std::string s;
    const size_t length = 2 + next() % 60;
    while (s.size() < length) s += alphabet[next() % n];
    texts.push_back(s);
  }
  return texts;
}

TEST(MarkupReaders, FieldArgumentsAndAttributesHoldOverRandomTexts) {
  int links = 0, images = 0;
  for (const std::string& text : link_texts(0xF1E1D, 1200))
    for (uint32_t options : {0u, uint32_t(kMkOptNowikiMonospace)}) {
      const std::string rtf = convert(text, kMkRtf, options);
      EXPECT_EQ(markup_rules::rtf_field_fault(rtf), "") << text << "\n" << rtf;
      const std::string html = convert(text, kMkHtml, options);
      EXPECT_EQ(markup_rules::html_attribute_fault(html), "") << text << "\n" << html;
      links += rtf.find("HYPERLINK") != std::string::npos;
      images += html.find("<img") != std::string::npos;
    }
  // The texts reach what the rules are about.
  EXPECT_GT(links, 300);
  EXPECT_GT(images, 300);
}

}  // namespace
