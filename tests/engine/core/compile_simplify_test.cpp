// The rewriting passes on hand-written code: every simplifier pattern; the
// retargeting rules and the empty-loop fold of the peephole pass; the 16-bit
// limit of patched jumps; random token soup.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "support/compile_harness.h"

namespace {

std::string simplify(const char* text) {
  std::vector<uint16_t> code = tnasm::asm_code(text);
  int64_t end = int64_t(code.size());
  code_simplify_expression(code.data(), 0, &end);
  return tnasm::disassemble(code.data(), size_t(end));
}

std::string tidy(const char* text) {
  return tnasm::disassemble(tnasm::asm_code(text));
}

struct Rewrite {
  const char* in;
  const char* out;
};

TEST(CompileSimplify, PatternsTable) {
  const Rewrite rows[] = {
      {"uminus\numinus", "uplus"},
      {"uplus\nuplus", "uplus"},
      {"uminus\nuplus", "uminus"},
      {"uplus\numinus", "uminus"},
      {"push_one\numinus", "push_int16 -1"},
      {"push_zero\nint16", "push_small_typed.int16 0"},
      {"push_one\nuint64", "push_small_typed.uint64 1"},
      {"push_int16 300\nint8", "push_small_typed.int8 44"},
      {"push_int16 -1\nuint8", "push_small_typed.uint8 255"},
      {"push_int16 -5\nint32", "push_small_typed.int32 -5"},
      {"push_int16 -1\nsqrt", "i"},
      {"push_int16 7\nuplus", "push_int16 7"},
      {"push_int16 7\ndouble", "push_int16 7"},
      {"push_int16 7\numinus", "push_int16 -7"},
      {"push_int16 -7\nabs", "push_int16 7"},
      {"push_int16 -7\nsign", "push_int16 -1"},
      {"push_int16 0\nsign", "push_int16 0"},
      {"push_int16 -32768\numinus", "push_int16 -32768\numinus"},
      {"push_imag_int16 4\numinus", "push_imag_int16 -4"},
      {"push_int16 3\ni\nmtimes", "push_imag_int16 3"},
      {"i\npush_int16 3\nmtimes", "push_imag_int16 3"},
      {"push_double 2.5\numinus", "push_double -2.5"},
      {"push_double 2.5\nconj", "push_double 2.5"},
      {"push_double 2.5\nreal", "push_double 2.5"},
      {"push_double 2.5\nimag", "push_zero"},
      {"push_double 2.5\nsign", "push_one"},
      {"push_double -2.5\nsign", "push_int16 -1"},
      {"push_double 0\nsign", "push_zero"},
      {"push_double nan\nsign", "push_double nan"},
      {"push_double -2.5\nabs", "push_double 2.5"},
      {"push_double inf\nexp", "push_double inf"},
      {"push_double 0.5\nsin", "push_double 0.479425538604203"},
      {"push_double 0.5\ncos", "push_double 0.8775825618903728"},
      {"push_double 0.5\ntan", "push_double 0.5463024898437905"},
      {"push_double 0.5\natan", "push_double 0.4636476090008061"},
      {"push_imag_double 1.5\numinus", "push_imag_double -1.5"},
      {"push_int16 2\numinus\numinus", "push_int16 2"},
      {"nop\nnop\nload_local 1\nnop", "load_local 1"},
  };
  for (const Rewrite& r : rows) {
    SCOPED_TRACE(r.in);
    EXPECT_EQ(simplify(r.in), tidy(r.out));
  }
}

std::string peephole(const char* text, bool fold = false) {
  std::vector<uint16_t> code = tnasm::asm_code(text);
  code_peephole_optimise(code.data(), int64_t(code.size()), fold);
  return tnasm::disassemble(code);
}

TEST(CompilePeephole, RetargetingRules) {
  const Rewrite rows[] = {
      // A jump to a jump to a jump reaches the final target.
      {"jump a\na:\njump b\nb:\njump c\nhalt\nc:\nhalt", "jump c\na:\njump c\nb:\njump c\nhalt\nc:\nhalt"},
      // A jump to itself stays.
      {"a:\njump a\njump a", "a:\njump a\njump a"},
      {"jump_if_false a\na:\nnop\nhalt", "jump_if_false b\nnop\nb:\nhalt"},
      {"case_test a\na:\nskip 0\nhalt", "case_test b\nskip 0\nb:\nhalt"},
      {"for_next a\na:\nposition 1 2\njump b\nb:\nhalt", "for_next c\nposition 1 2\njump c\nc:\nhalt"},
      {"jump_if_true a\na:\nposition 1 2\nhalt", "jump_if_true a\na:\nposition 1 2\nhalt"},
      {"jump a\na:\nret_function", "ret_function\nnop\nret_function"},
      {"jump_if_false a\na:\nret_function", "jump_if_false a\na:\nret_function"},
      // The try handler's offset is never retargeted.
      {"try_handler a 0\na:\nnop\nhalt", "try_handler a 0\na:\nnop\nhalt"},
  };
  for (const Rewrite& r : rows) {
    SCOPED_TRACE(r.in);
    EXPECT_EQ(peephole(r.in), tidy(r.out));
  }
}

TEST(CompilePeephole, EmptyLoopFold) {
  const char* loop =
      "push_one\npush_int16 10\nrange_pack 2\nl:\nfor_range_next x\nstore_local 1\nposition 1 2\n"
      "jump l\nx:\npop_item\nhalt";
  EXPECT_EQ(peephole(loop, true),
            tidy("push_one\npush_int16 10\nrange_pack 2\nrange_final\nstore_local 1\njump x\nnop\nnop\nnop\n"
                 "nop\npop_item\nx:\nhalt"));
  EXPECT_EQ(peephole(loop, false), tidy(loop));
  // Not folded: an empty range, a zero step, a range from a variable, a body.
  const char* kept[] = {
      "push_one\npush_zero\nrange_pack 2\nl:\nfor_range_next x\nstore_local 1\njump l\nx:\npop_item",
      "push_one\npush_zero\npush_int16 5\nrange_pack 3\nl:\nfor_range_next x\nstore_local 1\njump l\nx:\npop_item",
      "push_one\nload_local 2\nrange_pack 2\nl:\nfor_range_next x\nstore_local 1\njump l\nx:\npop_item",
      "push_one\npush_int16 3\nrange_pack 2\nl:\nfor_range_next x\nstore_local 1\npush_one\npop_item\njump l\n"
      "x:\npop_item",
  };
  for (const char* k : kept) {
    SCOPED_TRACE(k);
    EXPECT_EQ(peephole(k, true), tidy(k));
  }
  EXPECT_EQ(peephole("push_int16 5\npush_int16 -2\npush_one\nrange_pack 3\nl:\nfor_range_next x\n"
                     "store_local 1\njump l\nx:\npop_item\nhalt",
                     true),
            tidy("push_int16 5\npush_int16 -2\npush_one\nrange_pack 3\nrange_final\nstore_local 1\njump x\n"
                 "nop\npop_item\nx:\nhalt"));
}

// Every patched jump must fit 16 bits: forward (if), backward (while, for),
// and the short-circuit chains.
TEST(CompileStatementsLimits, JumpsBeyondSixteenBitsAreRefused) {
  std::string body;
  for (int k = 0; k < 5000; ++k) body += "y = 1.5;\n";
  const std::string cases[] = {
      "x = 1;\nif x\n" + body + "end",
      "x = 1;\nwhile x\n" + body + "end",
      "for k = 1:3\n" + body + "end",
      "x = 1;\nrepeat\n" + body + "until x",
      "x = 1;\ntry\n" + body + "end",
  };
  for (const std::string& src : cases) {
    SCOPED_TRACE(src.substr(0, 20));
    CompileHarness h({}, 16u << 20);
    const CompileOutcome out = h.run(src);
    EXPECT_EQ(out.status, kCompilationOverflow);
    EXPECT_EQ(out.report.substr(0, 20), "Compilation overflow");
  }
  // A shorter body fits.
  CompileHarness h({}, 16u << 20);
  std::string fits;
  for (int k = 0; k < 3000; ++k) fits += "y = 1.5;\n";
  EXPECT_EQ(h.run("x = 1;\nwhile x\n" + fits + "end").status, kOk);
}

}  // namespace

namespace {

// Random texts built from the language's tokens never crash the compiler or
// leave it without a status of its own; compiled code always decodes.
TEST(CompileRobustness, RandomTokenSoup) {
  static const char* const kTokens[] = {
      "x", "y", "f", "end", "if", "else", "elseif", "for", "while", "switch", "case", "otherwise", "try",
      "catch", "repeat", "until", "break", "continue", "return", "global", "function", "define", "(", ")",
      "[", "]", "{", "}", ",", ";", "\n", " ", "=", "==", "+", "-", "*", "'", ".'", ":", "?", "||", "&&", "~",
      "@", "@(t)", ".", ".(", "1", "2.5", "0x1F", "3i", "7int8", "'s'", "'a''b'", "%c\n", "...\n", "/*\n*/",
      "x{:}", "end+1", "sin", "size", "nargin", "disp", "...", "\"", "\\", "!", "#", "_pragma line 3\n",
  };
  static const char kProgram[] =
      "function [a, b] = f(x, y = 2)\nglobal g\na = x(end) + y';\nb = {1, 'two'; @(t) t^2, [1 -2]};\n"
      "for k = 1:3, try, a(k) = k; catch, break, end, end\nswitch a, case {1, 2}, b = 3; otherwise, b = 4; end\n"
      "while a > 0 && ~isempty(b), a = a - 1; if a == 2, continue, end, end\nrepeat, a = a + 1; until a > 3\n"
      "s.f{2}.g = c ? 1 : 2;\nz = max(b{:}) || -a.^2\n";
  std::mt19937 rng(20240611);
  int compiled = 0;
  std::unique_ptr<CompileHarness> h;
  for (int round = 0; round < 4000; ++round) {
    if (round % 100 == 0) h = std::make_unique<CompileHarness>(std::vector<BuiltinEntry>{}, 4u << 20);
    std::string text;
    if (round % 2) {
      // A valid program with a few bytes deleted, repeated or replaced by a token.
      text = kProgram;
      for (int edits = 1 + int(rng() % 3); edits > 0; --edits) {
        const size_t at = rng() % text.size();
        switch (rng() % 3) {
          case 0: text.erase(at, 1 + rng() % 4); break;
          case 1: text.insert(at, text.substr(at, 1 + rng() % 6)); break;
          default: text.insert(at, kTokens[rng() % std::size(kTokens)]); break;
        }
      }
    } else {
      const int n = 1 + int(rng() % 24);
      for (int k = 0; k < n; ++k) text += kTokens[rng() % std::size(kTokens)];
    }
    CompileOptions o;
    o.level = int(rng() % 5);
    o.positions = rng() & 1;
    if (rng() % 4 == 0) o.function_id = 0;
    if (text.rfind("function", 0) == 0) o.function_id = 0;
    const CompileOutcome out = h->run(text, o);
    ASSERT_TRUE(out.status == kOk || (out.status >= 6 && out.status <= 1000)) << out.status << " " << text;
    if (out.status == kOk) {
      ++compiled;
      ASSERT_EQ(out.text.find(".word"), std::string::npos) << text << "\n" << out.text;
    }
  }
  EXPECT_GT(compiled, 200);
}

}  // namespace
