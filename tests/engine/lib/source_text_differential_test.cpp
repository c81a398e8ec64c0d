// Random programs whose statements, subscripts, multiple assignments, command
// words, function headers and function bodies hold string literals and
// comments made of the characters that every scan of the source must read
// the same way (quotes, doubled and escaped quotes, backslashes, double
// quotes, comment marks, continuations, brackets, separators, "="), beside
// the same programs written through temporaries built from character codes,
// with no quote and no comment left: both must print the same, word for word,
// at the compiler's lowest and highest levels. The definitions follow the
// code that uses them, so the loader's scan must also read every string and
// comment before them as the compiler does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/interp.h"
#include "engine/core/libraries.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/lib/engine_start.h"

namespace {

// Printed by every program (in both forms) as it ends, so that a program
// that stops early can never pass for one that ran.
constexpr char kEndMark[] = "program end";

// The helpers: out writes any value as text, show does so for each argument
// (it is called in command syntax), report an error's message without the
// line (the two forms place their statements on different lines). They are
// the same text in both forms.
constexpr char kHelpers[] =
    "function out(v)\n"
    "  if iscell(v)\n"
    "    fprintf('{%d %d:', size(v, 1), size(v, 2));\n"
    "    for q = 1:numel(v), out(v{q}); end\n"
    "    fprintf('}\\n');\n"
    "  else\n"
    "    fprintf('%s[%d %d]', class(v), size(v, 1), size(v, 2));\n"
    "    fprintf('%d,', double(v));\n"
    "    fprintf('\\n');\n"
    "  end\n"
    "endfunction\n"
    "function report(e)\n"
    "  k = find(e == '(');\n"
    "  if ~isempty(k), e = e(1:k(end) - 1); end\n"
    "  disp(e)\n"
    "endfunction\n"
    "function show(varargin)\n"
    "  fprintf('show %d\\n', nargin);\n"
    "  for q = 1:nargin, out(varargin{q}); end\n"
    "endfunction\n";

// The pieces that string contents, comments and command words are made of.
const char* const kPieces[] = {"'",  "''", "\"", "\\", "%", "//", "/*", "*/", "(",   ")", "[", "]", "{",  "}",
                               ";",  ",",  "=",  "==", "...", " ", "a", "b",  "z9", "end", "@", "~", ":", ".'"};

// One program in two forms: a, with literals and comments; b, through
// temporaries.
struct Twin {
  std::string a, b;
};

class ProgramMaker {
 public:
  explicit ProgramMaker(uint32_t seed) : rng_(seed) {}

  Twin program() {
    Twin t;
    const int statements = pick(14, 26);
    functions_ = pick(2, 4);
    for (int k = 0; k < statements; ++k) {
      pending_.clear();
      const Twin s = statement();
      // Every statement catches its errors: the program runs to its end.
      t.a += "try\n" + s.a + "\ncatch\n  report(lasterr)\nend\n";
      t.b += pending_ + "try\n" + s.b + "\ncatch\n  report(lasterr)\nend\n";
    }
    t.a += std::string("disp('") + kEndMark + "')\n";
    t.b += std::string("disp('") + kEndMark + "')\n";
    for (int f = 0; f < functions_; ++f) {
      const Twin d = definition(f);
      t.a += d.a;
      t.b += d.b;
    }
    t.a += kHelpers;
    t.b += kHelpers;
    return t;
  }

 private:
  int pick(int a, int b) { return a + int(rng_() % uint32_t(b - a + 1)); }
  bool chance(int one_in) { return pick(1, one_in) == 1; }
  std::string num(int a, int b) { return std::to_string(pick(a, b)); }

  // Text of one to six pieces.
  std::string content() {
    std::string s;
    const int n = pick(1, 6);
    for (int k = 0; k < n; ++k) s += kPieces[pick(0, int(std::size(kPieces)) - 1)];
    return s;
  }

  // The literal that stands for the text: each quote doubled or escaped, a
  // backslash escaped, a double quote as it is or escaped.
  std::string literal(const std::string& text) {
    std::string s = "'";
    for (char ch : text) {
      if (ch == '\'') {
        s += chance(2) ? "''" : "\\'";
      } else if (ch == '\\') {
        s += "\\\\";
      } else if (ch == '"') {
        s += chance(3) ? "\\\"" : "\"";
      } else {
        s += ch;
      }
    }
    return s + "'";
  }

  // The same text from its character codes: no quote, no comment mark.
  static std::string codes(const std::string& text) {
    std::string s = "char([";
    for (size_t k = 0; k < text.size(); ++k) s += (k ? " " : "") + std::to_string(int(uint8_t(text[k])));
    return s + "])";
  }

  // A string operand: the literal in form a, a temporary assigned before the
  // statement in form b.
  Twin lit(const std::string& text) {
    const std::string name = "t" + std::to_string(temps_++) + "_";
    pending_ += name + " = " + codes(text) + ";\n";
    return {literal(text), name};
  }
  Twin lit() { return lit(content()); }

  // Comment text: anything but a line end (and, in a block comment, "*/").
  std::string comment_text(bool block) {
    std::string s = content();
    if (block)
      for (size_t at; (at = s.find("*/")) != std::string::npos;) s.erase(at, 2);
    return s;
  }
  // A comment that may stand where blanks may: a block comment on one line.
  std::string inline_comment() { return chance(2) ? " " : " /*" + comment_text(true) + "*/ "; }
  // A comment at the end of a line (or nothing).
  std::string line_comment() {
    switch (pick(0, 4)) {
      case 0: return " %" + comment_text(false);
      case 1: return " //" + comment_text(false);
      case 2: return " /*" + comment_text(true) + "*/";
      case 3: return " /*" + comment_text(true) + "\n" + comment_text(true) + "*/";
      default: return "";
    }
  }

  // A command word: a letter, then characters that are text in a word
  // (never a blank, a separator or a comment mark).
  std::string word() {
    static const char kWordChars[] = "abz09()[]{}='\\\".:-+@!*/";
    std::string s(1, "abcxyz"[pick(0, 5)]);
    const int n = pick(0, 6);
    for (int k = 0; k < n; ++k) {
      const char ch = kWordChars[pick(0, int(sizeof kWordChars) - 2)];
      if (ch == '/' && s.back() == '/') continue;
      if ((ch == '/' || ch == '*') && s.back() == '/') continue;
      s += ch;
    }
    return s;
  }

  Twin statement() {
    const std::string k = num(1, 9);
    switch (pick(0, 23)) {
      case 0: {
        const Twin l = lit();
        return {"v = " + l.a + ";" + inline_comment() + "out(v);" + line_comment(), "v = " + l.b + "; out(v);"};
      }
      case 1: {
        const Twin l = lit();
        return {"x = zeros(1, 4); x(numel(" + l.a + ")) = " + k + "; out(x)" + line_comment(),
                "x = zeros(1, 4); x(numel(" + l.b + ")) = " + k + "; out(x)"};
      }
      case 2: {
        const Twin l = lit();
        return {"x = zeros(3, 2); x(numel(" + l.a + ")," + inline_comment() + "2) = " + k + "; out(x);",
                "x = zeros(3, 2); x(numel(" + l.b + "), 2) = " + k + "; out(x);"};
      }
      case 3: {
        const Twin l = lit();
        const std::string transpose = chance(2) ? ".'" : "";
        return {"x = (1:30) * 2; y = x(end + 0*" + l.a + transpose + "); out(y);" + line_comment(),
                "x = (1:30) * 2; y = x(end + 0*" + l.b + transpose + "); out(y);"};
      }
      case 4: {
        const Twin l = lit();
        return {"z = zeros(1, 5); z(max(1, end - numel(" + l.a + "))) = " + k + "; out(z)",
                "z = zeros(1, 5); z(max(1, end - numel(" + l.b + "))) = " + k + "; out(z)"};
      }
      case 5: {
        const Twin l1 = lit(), l2 = lit();
        return {"c = cell(1, 2); c{numel(" + l1.a + ")} = " + l2.a + "; out(c);" + line_comment(),
                "c = cell(1, 2); c{numel(" + l1.b + ")} = " + l2.b + "; out(c);"};
      }
      case 6: {
        const Twin l1 = lit(), l2 = lit(), l3 = lit();
        return {"a_ = []; b_ = {}; [a_(numel(" + l1.a + "))," + inline_comment() + "b_{numel(" + l2.a + ")}] = deal(" +
                    l3.a + ", " + k +
                    "); out(a_); out(b_);",
                "a_ = []; b_ = {}; [a_(numel(" + l1.b + ")), b_{numel(" + l2.b + ")}] = deal(" + l3.b + ", " + k +
                    "); out(a_); out(b_);"};
      }
      case 7: {
        const Twin l1 = lit(), l2 = lit();
        const std::string sep = pick(0, 1) ? "," : "";
        return {"m = [" + l1.a + sep + inline_comment() + l2.a + "]; out(m)" + line_comment(),
                "m = [" + l1.b + sep + " " + l2.b + "]; out(m)"};
      }
      case 8: {
        // A cell over two lines: the line end (after a comment or not) ends
        // the first row; a continuation keeps the row going.
        const Twin l1 = lit(), l2 = lit(), l3 = lit(), l4 = lit();
        if (chance(3)) {
          return {"m = {" + l1.a + ", " + l2.a + " ..." + comment_text(false) + "\n  " + l3.a + " " + l4.a + "}; out(m);",
                  "m = {" + l1.b + ", " + l2.b + ", " + l3.b + ", " + l4.b + "}; out(m);"};
        }
        const std::string end1 = pick(0, 1) ? " %" + comment_text(false) : " /*" + comment_text(true) + "*/";
        return {"m = {" + l1.a + " " + l2.a + end1 + "\n  " + l3.a + ", " + l4.a + "}; out(m);",
                "m = {" + l1.b + ", " + l2.b + "; " + l3.b + ", " + l4.b + "}; out(m);"};
      }
      case 9: {
        const std::string text = content();
        const Twin l1 = lit(text), l2 = lit(chance(2) ? text : content());
        return {"if strcmp(" + l1.a + ", " + l2.a + ")" + line_comment() + "\n  out(1);\nelse\n  out(2);\nend",
                "if strcmp(" + l1.b + ", " + l2.b + ")\n  out(1);\nelse\n  out(2);\nend"};
      }
      case 10: {
        const std::string text = content();
        const Twin l1 = lit(text), l2 = lit(chance(2) ? text : content()), l3 = lit();
        return {"switch " + l1.a + line_comment() + "\n  case {" + l2.a + ", " + l3.a + "}" + line_comment() +
                    "\n    out(1);\n  otherwise\n    out(2);\nend",
                "switch " + l1.b + "\n  case {" + l2.b + ", " + l3.b + "}\n    out(1);\n  otherwise\n    out(2);\nend"};
      }
      case 11: {
        // eval of a text that holds a literal itself.
        const Twin l = lit("w = " + literal(content()) + ";");
        return {"w = 0; eval(" + l.a + "); out(w);" + line_comment(), "w = 0; eval(" + l.b + "); out(w);"};
      }
      case 12: {
        const Twin l = lit("numel(" + literal(content()) + ")");
        return {"x = zeros(3, 2); x(eval(" + l.a + "), 2) = " + k + "; out(x);",
                "x = zeros(3, 2); x(eval(" + l.b + "), 2) = " + k + "; out(x);"};
      }
      case 13: {
        const Twin l1 = lit(), l2 = lit();
        return {"fh = @(s) [s " + l1.a + "]; out(fh(" + l2.a + "));" + line_comment(),
                "fh = @(s) [s " + l1.b + "]; out(fh(" + l2.b + "));"};
      }
      case 14: {
        // Command syntax: quoted words and plain ones.
        Twin t{"show", "show("};
        const int n = pick(1, 3);
        for (int q = 0; q < n; ++q) {
          t.b += q ? ", " : "";
          if (chance(2)) {
            const Twin l = lit();
            t.a += " " + l.a;
            t.b += l.b;
          } else {
            const std::string w = word();
            t.a += " " + w;
            t.b += codes(w);
          }
        }
        t.a += pick(0, 1) ? line_comment() : std::string(pick(0, 1) ? ";" : "");
        t.b += ")";
        return t;
      }
      case 15: {
        const int f = pick(0, functions_ - 1);
        const std::string name = "d" + std::to_string(f) + "_";
        if (chance(2)) return {"out(" + name + "(" + k + "))", "out(" + name + "(" + k + "))"};
        const Twin l = lit();
        return {"out(" + name + "(" + k + ", " + l.a + "))", "out(" + name + "(" + k + ", " + l.b + "))"};
      }
      case 16: {
        const std::string name = "g" + num(0, functions_ - 1) + "_";
        return {"out(" + name + "())" + line_comment(), "out(" + name + "())"};
      }
      case 17: {
        // A block comment at the end of a statement that shows its value:
        // the line end after the comment still ends the statement.
        const Twin l = lit();
        return {"v = " + l.a + " /*" + comment_text(true) + "*/\n-" + k + ";", "v = " + l.b + "\n-" + k + ";"};
      }
      case 18: {
        const Twin l = lit();
        return {"for ch = " + l.a + line_comment() + "\n  out(ch);\nend", "for ch = " + l.b + "\n  out(ch);\nend"};
      }
      case 19: {
        const Twin l1 = lit(), l2 = lit();
        return {"x = zeros(4, 4); x(numel(" + l1.a + "), min(4, numel([" + l2.a + " " + l1.a + "]))) = " + k +
                    "; out(x)",
                "x = zeros(4, 4); x(numel(" + l1.b + "), min(4, numel([" + l2.b + " " + l1.b + "]))) = " + k +
                    "; out(x)"};
      }
      case 20: {
        const Twin l = lit();
        return {"s_ = struct(); s_.f = " + l.a + ";" + inline_comment() + "out(s_.f);",
                "s_ = struct(); s_.f = " + l.b + "; out(s_.f);"};
      }
      case 21: {
        // Transposes of variables and of bracketed strings beside string
        // literals: a quote after an operand transposes, after a blank it opens a string.
        const Twin l1 = lit(), l2 = lit();
        const std::string head = "q_ = [1 2 3]; v = {q_' ";
        return {head + l1.a + " q_'' (" + l2.a + ")' [" + l1.a + "].'}; out(v);" + line_comment(),
                head + l1.b + " q_'' (" + l2.b + ")' [" + l1.b + "].'}; out(v);"};
      }
      case 22: {
        const Twin l1 = lit(), l2 = lit();
        return {"m_ = magic(4); y = m_(end - numel([1 2]') + 0*numel(" + l1.a + "), end + 0*numel((" + l2.a +
                    ")')); out(y);",
                "m_ = magic(4); y = m_(end - numel([1 2]') + 0*numel(" + l1.b + "), end + 0*numel((" + l2.b +
                    ")')); out(y);"};
      }
      default: {
        const Twin l1 = lit(), l2 = lit();
        return {"v = fliplr([" + l1.a + " " + l2.a + "]) == " + l2.a + "(1); out(v);" + line_comment(),
                "v = fliplr([" + l1.b + " " + l2.b + "]) == " + l2.b + "(1); out(v);"};
      }
    }
  }

  // Function f of the program: d<f>_ takes a default for its last input,
  // g<f>_ keeps literals in its body. Either may end at "endfunction" or at
  // the next header.
  Twin definition(int f) {
    Twin t;
    const std::string fs = std::to_string(f);
    {
      Twin dflt;
      switch (pick(0, 3)) {
        case 0: {
          const std::string text = content();
          dflt = {literal(text), codes(text)};
          break;
        }
        case 1: {
          const std::string text = content();
          dflt = {"numel(" + literal(text) + ")", "numel(" + codes(text) + ")"};
          break;
        }
        case 2: dflt = {"abs(-" + num(1, 9) + ")", ""}; dflt.b = dflt.a; break;
        default: {
          const std::string text = content();
          dflt = {"{" + literal(text) + ", [1 2]}", "{" + codes(text) + ", [1 2]}"};
          break;
        }
      }
      const std::string head = "function r = d" + fs + "_(a,";
      t.a += head + inline_comment() + "b = " + dflt.a + ")" + header_comment() + "\n  r = {a, b};\n";
      t.b += head + " b = " + dflt.b + ")\n  r = {a, b};\n";
      end_function(&t);
    }
    {
      pending_.clear();
      t.a += "function r = g" + fs + "_()" + header_comment() + "\n";
      std::string body_a, body_b;
      const int n = pick(1, 3);
      for (int q = 0; q < n; ++q) {
        const Twin l1 = lit(), l2 = lit();
        body_a += "  r{" + std::to_string(q + 1) + "} = [" + l1.a + " " + l2.a + "];" + line_comment() + "\n";
        body_b += "  r{" + std::to_string(q + 1) + "} = [" + l1.b + " " + l2.b + "];\n";
      }
      t.a += body_a;
      t.b += "function r = g" + fs + "_()\n" + pending_ + body_b;
      end_function(&t);
    }
    return t;
  }

  std::string header_comment() {
    switch (pick(0, 4)) {
      case 0: return " %" + comment_text(false);
      case 1: return " /*" + comment_text(true) + "*/";
      case 2: return " //" + comment_text(false);
      case 3: return " /*" + comment_text(true) + "\n" + comment_text(true) + "*/";
      default: return "";
    }
  }

  void end_function(Twin* t) {
    if (chance(3)) return;  // the next header ends it
    t->a += "endfunction\n";
    t->b += "endfunction\n";
  }

  std::mt19937 rng_;
  std::string pending_;  // form b: the temporaries of the statement being made
  int temps_ = 0;
  int functions_ = 2;
};

constexpr uint32_t kBlockBytes = 4u << 20;
constexpr size_t kOutputBytes = 1u << 18;

// A fresh engine runs one program to its end; its output is captured.
struct RunResult {
  int status = 0;
  std::string output;
};

// Runs texts one after another as command lines; before each, `before`
// may give the engine more (a nonzero status ends the run with it).
template <typename Before>
RunResult run_texts(const std::vector<std::string>& texts, int level, Before&& before) {
  std::unique_ptr<uint64_t, decltype(&std::free)> block(static_cast<uint64_t*>(std::calloc(kBlockBytes / 8, 8)),
                                                        &std::free);
  std::unique_ptr<char[]> out(new char[kOutputBytes]);
  uint32_t out_len = 0;
  EngineContext* c = nullptr;
  RunResult r;
  r.status = engine_start(block.get(), kBlockBytes, &c);
  if (r.status != kOk) return r;
  compile_set_optimisation(c, level, 0);
  c->capture = CaptureBuffer{out.get(), uint32_t(kOutputBytes), &out_len};
  io_set_redirect(c, kFdStderr, kFdCapture, 0);
  io_set_redirect(c, kFdStdout, kFdCapture, 0);
  int status = kOk;
  for (size_t k = 0; k < texts.size() && status == kOk; ++k) {
    status = before(c, k);
    if (status != kOk) break;
    status = exec_command_line(c, texts[k].data(), int32_t(texts[k].size()), 0);
    while (status == kSliceEnded) status = interp_run(c, 0);
  }
  r.status = status;
  r.output.assign(out.get(), out_len);
  return r;
}

RunResult run_program(const std::string& text, int level) {
  return run_texts({text}, level, [](EngineContext*, size_t) { return int(kOk); });
}

TEST(SourceTextDifferential, LiteralsAndCommentsReadAsTheirTemporaries) {
#if defined(TN_SANITIZED)
  constexpr int kPrograms = 200;
#else
  constexpr int kPrograms = 600;
#endif
  int failed = 0;
  for (int p = 0; p < kPrograms && failed < 3; ++p) {
    ProgramMaker maker(20261208u + uint32_t(p));
    const Twin t = maker.program();
    if (const char* dump = std::getenv("TN_SOURCE_PROGRAM"); dump && std::atoi(dump) == p)
      std::fprintf(stdout, "%s\n----\n%s", t.a.c_str(), t.b.c_str());
    for (int level : {0, 4}) {
      const RunResult b = run_program(t.b, level);
      // The program through temporaries runs to its end.
      ASSERT_EQ(b.status, kOk) << "program " << p << ":\n" << b.output << "\n" << t.b;
      ASSERT_NE(b.output.find(kEndMark), std::string::npos) << "program " << p << ":\n" << b.output << "\n" << t.b;
      const RunResult a = run_program(t.a, level);
      EXPECT_EQ(a.status, b.status) << "program " << p << " at level " << level;
      EXPECT_EQ(a.output, b.output) << "program " << p << " at level " << level << ":\n" << t.a;
      if (a.output != b.output || a.status != b.status) ++failed;
    }
  }
}

// Texts of nothing but quotes, escapes, comment marks, brackets, separators,
// line ends and headers: every one compiles (and runs) or gives a status,
// and the reader never reads outside the text (checked under the sanitizers).
TEST(SourceTextDifferential, ArbitraryTextsGiveAStatus) {
  static const char* const kTokens[] = {"'",  "''", "\\", "\"", "%", "//", "/*", "*/", "...", "(", ")", "[", "]",
                                        "{",  "}",  ";",  ",",  "=", " ",  "\n", "\r\n", "x", "y1", "2", "@",
                                        ".'", "function f(", "function [a, b] = g(x, y = ", "endfunction\n",
                                        "disp ", "private ", "end"};
#if defined(TN_SANITIZED)
  constexpr int kTexts = 400;
#else
  constexpr int kTexts = 1500;
#endif
  std::mt19937 rng(64);
  int ran = 0;
  for (int k = 0; k < kTexts; ++k) {
    std::string text;
    const int n = 1 + int(rng() % 40);
    for (int q = 0; q < n; ++q) text += kTokens[rng() % std::size(kTokens)];
    const RunResult r = run_program(text, k % 2 ? 0 : 4);
    EXPECT_NE(r.status, kSliceEnded) << text;
    if (r.status == kOk) ++ran;
  }
  EXPECT_GT(ran, kTexts / 20) << ran;
}


// ---- Files of several definitions -----------------------------------------------------
// Random files of definitions and top-level code whose joints are where a
// loader could read otherwise than the compiler: one-line definitions and
// statements after "endfunction" on its line, command words holding quotes
// and dots with a block comment after them, block comments after a header's
// separator or after "endfunction", defines and headers over lines, files
// that open with a byte-order mark. The comments hold definitions of their
// own, which must stay comments. Each file (form a) runs beside the same
// program (form b) whose definitions are given to the compiler one by one,
// with plain text in their comments, before its top-level statements run as
// one text: both must print the same.

struct FileTwin {
  std::string file;                 // a: one source text
  std::vector<std::string> names;   // b: each definition's name
  std::vector<std::string> defs;    // b: and its text
  std::string top;                  // b: the top-level statements
};

class FileMaker {
 public:
  explicit FileMaker(uint32_t seed) : rng_(seed) {}

  FileTwin file() {
    FileTwin t;
    if (chance(4)) t.file = "\xEF\xBB\xBF";
    const int count = pick(3, 7);
    std::vector<Item> items;
    for (int k = 0; k < count; ++k) {
      items.push_back(definition(k));
      items.push_back(top_level(call_of(k)));
      if (chance(2)) {
        bool line_comment = false;
        const Twin c = command(&line_comment);
        items.push_back(top_level(c, line_comment));
      }
    }
    // Definitions and statements in any order: the top-level code runs once
    // every definition is in.
    std::shuffle(items.begin(), items.end(), rng_);
    for (size_t k = 0; k < items.size(); ++k) {
      Item& item = items[k];
      const bool next_is_definition = k + 1 < items.size() && items[k + 1].definition;
      if (item.definition && item.open && (!next_is_definition || chance(2))) {
        const std::string end = item.one_line ? " endfunction" : "\nendfunction";
        item.a += end;
        item.b += end;
        item.open = false;
      }
      const Joint j = joint(item);
      t.file += item.a + j.a;
      if (item.definition) {
        t.names.push_back(item.name);
        t.defs.push_back(item.b + j.b);
      } else {
        t.top += item.b + "\n";
      }
    }
    // Last, whether any definition inside a comment came to be defined.
    const std::string last = hidden_check() + "\ndisp('" + kEndMark + "')\n";
    t.file += last + kHelpers;
    t.top += last;
    return t;
  }

 private:
  struct Item {
    std::string a, b;
    bool definition = false;
    bool open = false;          // a function whose "endfunction" may be left to the next header
    bool one_line = false;      // its "endfunction" goes on its line
    bool line_comment = false;  // it ends in a comment to the line end
    std::string name;
  };
  struct Joint {
    std::string a, b;  // b: what the definition's own text keeps of it
  };

  int pick(int a, int b) { return a + int(rng_() % uint32_t(b - a + 1)); }
  bool chance(int one_in) { return pick(1, one_in) == 1; }

  // A block comment holding a definition (form a) or plain text (form b).
  Twin hidden_comment() {
    const std::string name = "zz" + std::to_string(hidden_++) + "_";
    std::string def;
    switch (pick(0, 3)) {
      case 0: def = "\nfunction " + name + "()\n  out(99)\nendfunction\n"; break;
      case 1: def = " function " + name + "(), out(98), endfunction "; break;
      case 2: def = "\ndefine " + name + " = 97\n"; break;
      default: def = " older:\nfunction r = " + name + "(x); r = x;\n"; break;
    }
    return {" /*" + def + "*/", " /* zz\n gone */"};
  }
  // Whether any hidden definition came to be defined.
  std::string hidden_check() {
    std::string s = "out([";
    for (int k = 0; k < hidden_; ++k) s += (k ? " exist('zz" : "exist('zz") + std::to_string(k) + "_')";
    return hidden_ ? s + "])" : "out(0)";
  }

  // A command word holding quotes and dots, never a comment mark; it starts
  // with a letter (a word that starts with a quote is a quoted string).
  std::string word() {
    static const char* const kWords[] = {"x='", "a...b", "don't", "x=''", "a'b'c", "it...", "x...'"};
    std::string w = kWords[pick(0, int(std::size(kWords)) - 1)];
    if (chance(2)) w += "z9";
    return w;
  }
  // A command whose words hold quotes and dots, a comment after them. A
  // "%" after a quote in a word starts a comment: what looks like a block
  // comment after it is part of that comment (*line_comment set).
  Twin command(bool* line_comment) {
    std::string words;
    for (int k = pick(1, 3); k > 0; --k) words += " " + word();
    *line_comment = chance(4);
    if (*line_comment) return {"show" + words + " x=' %' /* no comment", "show" + words + " x=' %' no comment"};
    const Twin c = hidden_comment();
    return {"show" + words + c.a, "show" + words + c.b};
  }

  Item top_level(const Twin& t, bool line_comment = false) {
    Item item;
    item.a = t.a;
    item.b = t.b;
    item.line_comment = line_comment;
    return item;
  }

  Twin call_of(int k) {
    const std::string name = "f" + std::to_string(k) + "_";
    const std::string s = kinds_[size_t(k)] == 'd' ? "out(" + name + ")" : "out(" + name + "(" + std::to_string(k + 2) + "))";
    return {s, s};
  }

  Item definition(int k) {
    Item item;
    item.definition = true;
    item.open = true;
    item.name = "f" + std::to_string(k) + "_";
    const std::string n = item.name;
    const std::string kk = std::to_string(k);
    Twin t;
    char kind = 'f';
    switch (pick(0, 6)) {
      case 0:
        // One line, its statements after separators.
        t.a = "function r = " + n + "(a), r = a + " + kk + ";";
        t.b = t.a;
        item.one_line = true;
        break;
      case 1:
        // A default with a line end inside its brackets.
        t.a = "function r = " + n + "(a, b = [1 2\n    3 " + kk + "])\n  r = a + sum(b(:));";
        t.b = t.a;
        break;
      case 2: {
        // A comment or a continuation between the output and "=".
        const std::string gap = chance(2) ? " /* result */ " : " ...\n    ";
        t.a = "function r" + gap + "= " + n + "(a)\n  r = a * " + kk + ";";
        t.b = t.a;
        break;
      }
      case 3: {
        // A block comment opened after the header's separator.
        const Twin c = hidden_comment();
        const std::string head = "function r = " + n + "(a)" + (chance(2) ? ";" : ",");
        t = {head + c.a + "\n  r = a - " + kk + ";", head + c.b + "\n  r = a - " + kk + ";"};
        break;
      }
      case 4: {
        // A command word in the body, a comment after it.
        bool line_comment = false;
        const Twin c = command(&line_comment);
        t = {"function r = " + n + "(a)\n  " + c.a + "\n  r = -a;", "function r = " + n + "(a)\n  " + c.b + "\n  r = -a;"};
        break;
      }
      case 5:
        // A continuation inside the input list.
        t.a = "function r = " + n + "(a, ...\n    b = " + kk + ")\n  r = a * b;";
        t.b = t.a;
        break;
      default:
        kind = 'd';
        item.open = false;
        t.a = chance(2) ? "define " + n + " = [1 2\n    3 " + kk + "]" : "define " + n + " = " + kk + " + ...\n    4";
        t.b = t.a;
        break;
    }
    kinds_.push_back(kind);
    item.a = t.a;
    item.b = t.b;
    return item;
  }

  // What follows an item: a line end, a comment, or (after a complete
  // statement) a separator and the next item on the same line.
  Joint joint(const Item& item) {
    if (item.line_comment) return {"\n", "\n"};
    const bool closed = !item.definition || !item.open;
    switch (pick(0, closed ? 4 : 2)) {
      case 0: return {"\n", "\n"};
      case 1: return {" % note\n", " % note\n"};
      case 2: {
        const Twin c = hidden_comment();
        return {c.a + "\n", c.b + "\n"};
      }
      case 3: return {", ", ""};
      default: return {"; ", ""};
    }
  }

  std::mt19937 rng_;
  int hidden_ = 0;
  std::vector<char> kinds_;  // 'f' function, 'd' define, by definition number
};

// Form b: the helpers through a command line, each definition handed to the
// compiler alone, then the top-level statements.
RunResult run_one_by_one(const FileTwin& t, int level) {
  return run_texts({kHelpers, t.top}, level, [&](EngineContext* c, size_t k) {
    if (k != 1) return int(kOk);
    int32_t cli = 0;
    TN_TRY(lib_find_by_name(c, kCliLibrary, -1, 1, &cli));
    for (size_t d = 0; d < t.defs.size(); ++d) {
      int32_t id = 0;
      TN_TRY(fn_define_from_source(c, t.names[d].data(), int32_t(t.names[d].size()), t.defs[d].data(),
                                   int32_t(t.defs[d].size()), cli, 0, 0, &id));
    }
    return int(kOk);
  });
}

TEST(SourceTextDifferential, FilesOfDefinitionsReadAsTheirDefinitionsOneByOne) {
#if defined(TN_SANITIZED)
  constexpr int kFiles = 100;
#else
  constexpr int kFiles = 300;
#endif
  int failed = 0;
  for (int p = 0; p < kFiles && failed < 3; ++p) {
    FileMaker maker(20270114u + uint32_t(p));
    const FileTwin t = maker.file();
    if (const char* dump = std::getenv("TN_SOURCE_FILE"); dump && std::atoi(dump) == p) {
      std::fprintf(stdout, "%s\n----\n", t.file.c_str());
      for (const std::string& d : t.defs) std::fprintf(stdout, "%s\n--\n", d.c_str());
      std::fprintf(stdout, "%s", t.top.c_str());
    }
    for (int level : {0, 4}) {
      const RunResult b = run_one_by_one(t, level);
      ASSERT_EQ(b.status, kOk) << "file " << p << ":\n" << b.output << "\n" << t.top;
      ASSERT_NE(b.output.find(kEndMark), std::string::npos) << "file " << p << ":\n" << b.output;
      const RunResult a = run_texts({t.file}, level, [](EngineContext* c, size_t) {
        engine_set_charset(c, 'u');
        return int(kOk);
      });
      EXPECT_EQ(a.status, b.status) << "file " << p << " at level " << level << ":\n" << a.output << "\n" << t.file;
      EXPECT_EQ(a.output, b.output) << "file " << p << " at level " << level << ":\n" << t.file;
      if (a.output != b.output || a.status != b.status) ++failed;
    }
  }
}

}  // namespace
