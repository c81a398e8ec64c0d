// The library-text fuzz entry over truncations and flips of library sources
// (the built application's own, and texts with every comment form, headers
// continued over lines, methods, definitions, use, include, private and
// public lines and stray ends) beside help files (entries with qualifiers,
// operators, line and block comments, marked-up text, entries cut short).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fuzz/corpus.h"

namespace {

// {word, length of the source, the source, the help file}
std::vector<uint8_t> seed(uint8_t word, const std::string& source, const std::string& help) {
  std::vector<uint8_t> s = {word, uint8_t(source.size() & 0xFF), uint8_t(source.size() >> 8)};
  s.insert(s.end(), source.begin(), source.end());
  s.insert(s.end(), help.begin(), help.end());
  return s;
}

const char* const kSources[] = {
    "function y = lib_f(x)\n% lib_f(x)\n% Doubles x.\n y = lib_g(x) * 2;\nendfunction\n"
    "function y = lib_g(x)\n// lib_g(x)\n// Its input.\n y = x;\nendfunction\n"
    "function lib_h()\n/* lib_h\n   Nothing. */\nendfunction\n",
    "use other\nprivate\nfunction y = lib_g(a, ...\n   b)\n%= marked\n% second\n y = a;\nendfunction\npublic\n"
    "function [a, b] = lib_f(x) % on the header\n a = x; b = x;\nendfunction\nendfunction\n"
    "define lib_h 3\nfunction r = pt::lib_m(a)\r\n% method\r\n r = a;\r\nendfunction\r\n",
    "include lib_missing\nincludeifexists zz\nfunction lib_h()\n  /*\n  */\nendfunction\nfunction y = lib_f(\n",
    "function y = lib_g(x)\n y = x % no help\nendfunction\nfunction y = lib_f(x)\n\n% after a blank\n y = 1;\n",
};

const char* const kHelpFiles[] = {
    "sin\n% sin(x)\n% The sine.\ncos // cos(x)\n// The cosine.\npt::norm\n/* norm(p)\n   Its length. */\n"
    "+ % a + b\n% Addition.\n|| % a || b\n% Or.\n",
    "/* before */ // skipped\n%= = Title\n% **bold**\nq::\n::x\n_a1 %\n",
    "word /* open", "\r\nlast % x\r\n% y", "...",
    // The entries help and lookfor are held to: line comments of both
    // markers mixed and indented, blocks with blank edges, marked-up text.
    "sin // sin(x)\n  // The sine, in radians.\n\t% of x\n//\n+ /*\n a + b\n  Addition.  \n */\nthe % x\n",
    "sin\r\n//= = Sine\r\n// **x**\r\n+ /* one line */ % not this\nh::lib % h\n%  the lib\n",
};

// A source the compiler refuses (found by the fuzzer): its functions do not
// compile, and help sin must still print the help file's text.
const char kRefusedSource[] =
      "\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\xbf\x00" "function y = lib_f(x)\n"
      "% l\n"
      "//f\x08\xfc\x00use other\n"
      "private\n"
      "function y = lib(x)\n"
      "% d2cmDoubl<s x.\n"
      " y = lib_g(x) * 2;\n"
      "endfunction\n"
      "function y = lib_g(x)\n"
      "// lib_g(x)\n"
      "// Its input.\n"
      " y = x;\n"
      "endfunctionc\n"
      "function_g(a, ...\n"
      "   b)\n"
      "%= marked\n"
      "% second\n"
      " y = a;\n"
      "endfunc\x8dtion\n"
      "public\n"
      "function [a, b] = lib_f(x lib_h()\n"
      "/* lib_h\n"
      "   Nothing) % on the header\n"
      " a = x; b = x;\n"
      "endfunction\n"
      "e. */\n"
      "endfunction\n"
      "/* before */ // skipped\n"
      "%= = Titlendfunction\n"
      "define lib_h 3\n"
      "function r = pt::lib_\n"
      "% **bold*m(a)\r\n"
      "% method\r\n"
      " r = a;*\n"
      "q:\r\n"
      "endfendfunction before */ // skipp=\n"
      "ef% = Title\n"
      "% **bold**\n"
      "q::\n"
      "::x\n"
      "_:\n"
      "::x\n"
      "_a1 a1 %%\n"
      "\n";

TEST(LibraryTextCorpus, EveryTextGivesAnAnswer) {
  int runs = 0;
  uint8_t word = 0;
  for (const char* source : kSources)
    for (const char* help : kHelpFiles) runs += run_corpus(seed(word++, source, help), 1, 4);
  runs += run_corpus(seed(0, kSources[1], kHelpFiles[0]), 0, 60);
  runs += run_seed(seed(1, std::string(kRefusedSource, sizeof kRefusedSource - 1), ""));
  EXPECT_GT(runs, 0);
}

}  // namespace

namespace {

// A library that does not compile leaves the help of operators and
// intrinsics to the help files: help('+') and help sin print their entries,
// or the apology where the help files have none.
TEST(LibraryTextCorpus, OperatorHelpWhateverTheLibraryHolds) {
  const std::string helps[] = {"+\n% a + b\n% Plus.\nsin\n% sin(x)\n% Sine.\n", "cos\n% cos(x)\n% Cosine.\n", ""};
  for (const std::string& help : helps)
    for (const char* source :
         {"function y = lib_f(x)\n y = (;\nendfunction\n", "function\n", "endfunction\n)",
          "function y = lib_g(x)\nendfun-ctionc\nfunction_g(a, ...\n   b)\nendfunc\x8dtion\n"
          "define lib_h 5",
          // A nameless function keyword after whole functions, alone on its
          // line, before a body, and as a header with outputs only.
          "function y = lib_f(x)\n y = 2 * x;\nendfunction\n\nfunction\n",
          "function y = lib_f(x)\n% lib_f(x)\n% Doubles x.\n y = 2 * x;\nfunction\nendfunction\n",
          "function y = lib_f(x)\n y = x;\nendfunction\nfunction y =\n y = 1;\nendfunction\n",
          // A function that compiles and names functions the text cannot
          // give, before a nameless keyword (line 7): each name it left to
          // be compiled once failed one of the command lines that followed.
          "function lib_f\na\na\na\na\na\nfunction\n",
          "function lib_f\na\nb\nc\nd\ne\nfunction\n"})
      EXPECT_EQ(run_seed(seed(0, source, help)), 0) << source << "\n" << help;
}

}  // namespace
