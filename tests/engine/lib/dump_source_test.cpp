// The source-text dump and the literal reader together: what the dump writes
// reads back through str2obj to the same value (randomised over every value
// shape, and to the bit with the exact digit count); the constant-expression
// check accepts exactly the value-building code; a refused text never runs;
// with any digit count the largest doubles and singles read back finite;
// the exact dump (the save format) reads back to the bit for random values
// of every class and nesting, non-finite numbers, -0 and subnormals included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/indexing.h"
#include "engine/core/stack_ops.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/dump_source.h"
#include "engine/lib/str2obj.h"
#include "support/zvr_session.h"

namespace {

// --- Random values as ZVR expressions ------------------------------------------------

struct ValueGen {
  std::mt19937 rng;
  explicit ValueGen(uint32_t seed) : rng(seed) {}
  int pick(int n) { return int(rng() % uint32_t(n)); }

  // A double with at most 15 significant digits: written with 15 it reads
  // back as itself.
  std::string real() {
    switch (pick(6)) {
      case 0: return std::to_string(pick(2001) - 1000);
      case 1: return std::to_string(pick(64) - 32) + "/8";
      case 2: return "0";
      case 3: return "1";
      default: {
        char buf[64];
        std::uniform_real_distribution<double> u(-1, 1);
        const int exp = pick(40) - 20;
        std::snprintf(buf, sizeof buf, "%.15g", u(rng) * std::pow(10.0, exp));
        return buf;
      }
    }
  }
  // Singles are written with 7 digits: values that need no more.
  std::string short_real() { return std::to_string(pick(20001) - 10000) + "/" + (pick(2) ? "8" : "1"); }
  std::string short_row(int n) {
    std::string s = "[";
    for (int k = 0; k < n; ++k) s += " " + short_real();
    return s + "]";
  }
  std::string row(int n, bool with_runs) {
    std::string s = "[";
    for (int k = 0; k < n; ++k) {
      // Runs of equal values and counting sequences take the shortened forms.
      const int shape = with_runs ? pick(4) : 3;
      const std::string v = real();
      if (shape == 0) s += " " + v + "*ones(1," + std::to_string(1 + pick(7)) + ")";
      else if (shape == 1) s += " zeros(1," + std::to_string(1 + pick(8)) + ")";
      else if (shape == 2) s += " " + std::to_string(pick(40) - 20) + ":" + std::to_string(20 + pick(5));
      else s += " " + v;
    }
    return s + "]";
  }
  std::string matrix() {
    const int r = pick(4), c = pick(4);
    if (r == 0 || c == 0) return "zeros(" + std::to_string(r) + "," + std::to_string(c) + ")";
    std::string s = "[";
    for (int i = 0; i < r; ++i) s += (i ? "; " : "") + row(c, false);
    return s + "]";
  }
  std::string chars() {
    std::string s = "[''";
    for (int k = pick(12); k > 0; --k) {
      // Quotes, backslashes, control characters, Latin-1 and wider characters.
      static const int kSpecial[] = {39, 92, 7, 9, 10, 13, 0, 31, 127, 128, 233, 255, 256, 8364, 65535};
      const int ch = pick(3) == 0 ? kSpecial[pick(15)] : 32 + pick(95);
      s += " char(" + std::to_string(ch) + ")";
    }
    return s + "]";
  }
  std::string value(int depth) {
    const int kinds = depth > 2 ? 10 : 14;
    switch (pick(kinds)) {
      case 0: return real();
      case 1: return row(1 + pick(12), true);
      case 2: return matrix();
      case 3: return row(1 + pick(5), false) + " + 1j*" + row(1, false);
      case 4: {
        static const char* const kInts[] = {"int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64"};
        return std::string(kInts[pick(8)]) + "(" + (pick(2) ? row(1 + pick(8), true) : std::to_string(pick(200))) + ")";
      }
      case 5: return "single(" + (pick(2) ? short_row(1 + pick(6)) : short_real()) + ")";
      case 6: return "logical(" + row(1 + pick(9), false) + " > 0)";
      case 7: return chars();
      case 8: return "reshape(" + row(8, false) + ", [2 2 2])";
      case 9: return pick(2) ? "@sin" : "int64(zeros(1, " + std::to_string(pick(9)) + "))";
      case 10: {
        std::string s = "{";
        for (int k = pick(4); k > 0; --k) s += value(depth + 1) + (k > 1 ? ", " : "");
        return s + "}";
      }
      case 11: {
        std::string s = "struct(";
        for (int k = 1 + pick(3); k > 0; --k)
          s += "'f" + std::to_string(k) + "', {" + value(depth + 1) + "}" + (k > 1 ? ", " : "");
        return s + ")";
      }
      case 12: {
        const int r = 1 + pick(2), c = pick(3);
        std::string s = "reshape({";
        for (int k = 0; k < r * c; ++k) s += value(depth + 1) + (k + 1 < r * c ? ", " : "");
        return s + "}, [" + std::to_string(r) + " " + std::to_string(c) + "])";
      }
      default: return "single(" + short_row(1 + pick(3)) + " + 1j*" + short_row(1) + ")";
    }
  }
};

struct DumpSource : ::testing::Test, ZvrSession {
  bool truth(const std::string& expr) {
    const std::string v = value(expr);
    return v == "logical 1x1 [1]" || v == "double 1x1 [1]";
  }
};

TEST_F(DumpSource, WhatTheDumpWritesReadsBackToTheSameValue) {
  ValueGen gen(20260412);
  int checked = 0;
  for (int i = 0; i < 400; ++i) {
    const std::string expr = gen.value(0);
    SCOPED_TRACE(expr);
    ASSERT_EQ(run("x_ = " + expr + ";"), kOk) << take_output();
    ASSERT_EQ(run("t_ = dumpvar(x_); y_ = str2obj(t_);"), kOk) << take_output();
    // Same value, same class, and the dump is a fixed point: classes of
    // nested elements and shapes of empty arrays survive too.
    EXPECT_TRUE(truth("same(x_, y_) && strcmp(t_, dumpvar(y_))"))
        << value("t_");
    ++checked;
  }
  EXPECT_EQ(checked, 400);
  EXPECT_TRUE(clean());
}

TEST_F(DumpSource, ExactDigitsKeepEveryDoubleToTheBit) {
  std::mt19937_64 rng(7);
  std::vector<uint16_t> text(1 << 14);
  std::string bytes;
  for (int i = 0; i < 300; ++i) {
    double re[4];
    for (double& v : re) {
      uint64_t bits = rng();
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) v = double(int64_t(bits)) * 1e-300;
    }
    double* p = nullptr;
    ASSERT_EQ(stk_push_matrix(c, 1, 4, &p, nullptr), kOk);
    std::memcpy(p, re, sizeof re);
    int32_t n = 0;
    ASSERT_EQ(value_dump_source(c, text.data(), int32_t(text.size()), &n, -1, nullptr, -1, kDumpDigitsExact), kOk);
    bytes.assign(text.begin(), text.begin() + n);
    ASSERT_EQ(literal_read_value(c, bytes.data(), int32_t(bytes.size())), kOk) << bytes;
    int32_t rows = 0, cols = 0;
    double* back = nullptr;
    ASSERT_EQ(stk_get_matrix(c, 0, &rows, &cols, &back, nullptr), kOk);
    ASSERT_EQ(rows * cols, 4);
    EXPECT_EQ(std::memcmp(back, re, sizeof re), 0) << bytes;
    stk_drop(c);
  }
  EXPECT_TRUE(clean());
}

// With any digit count for doubles (dumpvar's 15, a dialog's 1 to 17; a
// single keeps its 7) the text of a finite value reads back finite: next to
// the largest double the rounded last digit would overflow, so it is
// rounded toward zero instead.
TEST_F(DumpSource, EveryDigitCountReadsBackFiniteAtTheEndOfTheRange) {
  std::vector<uint16_t> text(256);
  std::string bytes;
  const int32_t one[2] = {1, 1};
  for (int digits = 0; digits <= 17; ++digits) {
    for (int single = 0; single < 2; ++single) {
      double v = single ? double(std::numeric_limits<float>::max()) : std::numeric_limits<double>::max();
      for (int k = 0; k < 12; ++k, v = single ? double(std::nextafter(float(v), 0.0f)) : std::nextafter(v, 0.0)) {
        for (const double x : {v, -v}) {
          SCOPED_TRACE(::testing::Message() << "digits " << digits << " single " << single << " step " << k);
          if (single) {
            float* p = nullptr;
            ASSERT_EQ(stk_push_single_nd(c, 2, one, &p, nullptr), kOk);
            *p = float(x);
          } else {
            ASSERT_EQ(stk_push_real(c, x), kOk);
          }
          int32_t n = 0;
          ASSERT_EQ(value_dump_source(c, text.data(), int32_t(text.size()), &n, -1, nullptr, -1, digits), kOk);
          bytes.assign(text.begin(), text.begin() + n);
          ASSERT_EQ(literal_read_value(c, bytes.data(), int32_t(bytes.size())), kOk) << bytes;
          double got = 0;
          if (single) {
            float* p = nullptr;
            ASSERT_EQ(stk_get_single_array(c, 0, nullptr, nullptr, nullptr, &p, nullptr), kOk) << bytes;
            got = double(*p);
          } else {
            ASSERT_EQ(stk_get_real_scalar(c, 0, &got), kOk) << bytes;
          }
          EXPECT_TRUE(std::isfinite(got)) << bytes;
          // Within one unit of the mantissa's last digit, and the rounding
          // of the reader.
          const double reader = single ? 0x1p-24 : 0x1p-53;
          EXPECT_LE(std::fabs(got - x), std::fabs(x) * (std::pow(10.0, -digits) + reader)) << bytes;
          stk_drop(c);
        }
      }
    }
  }
  EXPECT_TRUE(clean());
}

TEST_F(DumpSource, AShortBufferFailsAndKeepsTheValue) {
  std::vector<uint16_t> text(4000);
  ASSERT_EQ(run("x_ = (1:100) * 0.37;"), kOk);
  ASSERT_EQ(push_variable("x_"), kOk);
  const int32_t top = c->desc_top;
  for (int32_t cap : {0, 10, 49, 120}) {
    int32_t n = 0;
    EXPECT_EQ(value_dump_source(c, text.data(), cap, &n, -1, "x", -1, kDumpDigitsDouble), kDataStackOverflow);
    EXPECT_LE(n, cap);
    EXPECT_EQ(c->desc_top, top);
  }
  int32_t n = 0;
  EXPECT_EQ(value_dump_source(c, text.data(), int32_t(text.size()), &n, -1, "x", -1, kDumpDigitsDouble), kOk);
  EXPECT_EQ(std::string(text.begin(), text.begin() + 4), "x = ");
  EXPECT_EQ(text[size_t(n) - 1], '\n');
  EXPECT_TRUE(clean());
}

TEST_F(DumpSource, TheVariableDumpWritesEachVariableWithItsQualifier) {
  ASSERT_EQ(run("global g_; g_ = 2; a_ = [1 2; 3 4]; s_ = struct('k', 'v');"), kOk);
  take_output();
  EXPECT_EQ(dump_variables_to_channel(c, kFdStdout, true), kOk);
  EXPECT_EQ(take_output(), "global g_\ng_ = 2;\na_ = [1,2\n3,4];\ns_ = struct('k','v');\n");
  EXPECT_EQ(dump_variables_to_channel(c, kFdStdout, false), kOk);
  EXPECT_EQ(take_output(), "g_ = 2;\na_ = [1,2\n3,4];\ns_ = struct('k','v');\n");
  EXPECT_EQ(dump_variables_to_channel(c, -1, true), kNotMyDescriptor);
  EXPECT_TRUE(clean());
}

TEST_F(DumpSource, AnAbortAtALineEndStopsFdOutputWithWhatWasWritten) {
  ASSERT_EQ(run("a_ = [1 2; 3 4];"), kOk);
  take_output();
  ASSERT_EQ(push_variable("a_"), kOk);
  c->abort_fn = [](void*) -> uint8_t { return 1; };
  const int32_t top = c->desc_top;
  EXPECT_EQ(value_dump_source(c, nullptr, 0, nullptr, kFdStdout, "a", -1, kDumpDigitsDouble), kAborted);
  c->abort_fn = nullptr;
  EXPECT_EQ(c->desc_top, top);
  EXPECT_EQ(take_output(), "a = [1,2\n");
  stk_drop(c);
  EXPECT_TRUE(clean());
}

TEST(DumpBuffers, WideningAndAppendingStopAtTheCapacity) {
  uint16_t buf[8] = {};
  int32_t pos = 1;
  EXPECT_EQ(wbuf_append_cstr(buf, &pos, "abcdefghij", 5), 4);
  EXPECT_EQ(pos, 5);
  std::memcpy(buf + 5, "xyz", 3);  // three bytes written as 8-bit text at the position
  EXPECT_FALSE(wbuf_widen_in_place(buf, &pos, 4, 8));
  EXPECT_TRUE(wbuf_widen_in_place(buf, &pos, 3, 8));
  EXPECT_EQ(pos, 8);
  const uint16_t want[8] = {0, 'a', 'b', 'c', 'd', 'x', 'y', 'z'};
  EXPECT_EQ(std::memcmp(buf, want, sizeof want), 0);
}

// --- The constant-expression check -------------------------------------------------------

int g_counted = 0;
int counting_builtin(EngineContext* ctx, int, int, uintptr_t) {
  ++g_counted;
  return stk_push_real(ctx, 1);
}

TEST_F(DumpSource, TheCheckAcceptsOnlyValueBuildingCode) {
  BuiltinEntry table[] = {builtin_row("counted_", 0, 1, 0, 1, 0, 0, counting_builtin), {}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  ASSERT_EQ(run("k_ = 2;"), kOk);
  // The check on the compiled text, and str2obj's answer from code: a
  // text that leaves no value is refused by its count first.
  const struct {
    const char* text;
    bool accepted;
    int str2obj;
  } cases[] = {
      {"[1 2; 3 4]", true, kOk}, {"-pi", true, kOk}, {"int8([1 2]) + 1", true, kOk}, {"'a\\tb'", true, kOk},
      {"{1, 'x', {}}", true, kOk}, {"struct('a', 1)", true, kOk}, {"@sin", true, kOk}, {"1:4", true, kOk},
      {"zeros(1,5)", true, kOk}, {"7*ones(1,4)", true, kOk}, {"true(1,3)", true, kOk}, {"[1 2]'", true, kOk},
      {"reshape({1,2}, [1 2])", true, kOk}, {"single(2.5)", true, kOk}, {"5int8", true, kOk},
      {"1+2j", true, kOk}, {"eye(2)", true, kOk}, {"diag([1 2])", true, kOk}, {"NaN", true, kOk},
      {"inline('x+1', 'x')", true, kOk}, {"-7uint64", true, kOk},
      // The text reads in a workspace of its own: a variable of the
      // caller's is an unknown name there.
      {"sin(1)", false, kBadArgument}, {"k_ + 1", false, kUnknownFunction}, {"counted_()", false, kBadArgument},
      {"[1 counted_]", false, kBadArgument}, {"eval('1')", false, kBadArgument},
      {"feval('sin', 1)", false, kBadArgument}, {"rand(2)", false, kBadArgument},
      {"k_", false, kUnknownFunction}, {"disp(1)", false, kTooManyOutputs}, {"x = 1", false, kTooManyOutputs},
      {"clear k_", false, kTooManyOutputs},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    int32_t values = 0;
    const CodePosition saved = c->pos;
    const int status = literal_compile(c, k.text, int32_t(std::strlen(k.text)), &values);
    EXPECT_EQ(status, k.accepted ? kOk : k.str2obj == kUnknownFunction ? kUnknownFunction : kBadArgument);
    if (status == kOk) frame_return_discard(c);
    c->pos = saved;
    // A refused call never reaches the counting built-in.
    std::string quoted;
    for (const char* p = k.text; *p; ++p) quoted += *p == '\'' ? "''" : std::string(1, *p);
    const int run_status = run("r_ = str2obj('" + quoted + "');");
    EXPECT_EQ(run_status, k.str2obj) << take_output();
    if (run_status != kOk) frame_unwind(c, 0);
    take_output();
  }
  EXPECT_EQ(g_counted, 0);
  EXPECT_EQ(value("counted_()"), "double 1x1 [1]");
  EXPECT_EQ(g_counted, 1);
  EXPECT_TRUE(clean());
}

TEST_F(DumpSource, Str2objAtEveryOutputCount) {
  EXPECT_EQ(value("str2obj('[1 2; 3 4]')"), "double 2x2 [1 2 3 4]");
  EXPECT_EQ(value("str2obj('sin(1)')"), "error 107");
  EXPECT_EQ(run("[a_, b_] = str2obj('1');"), kTooManyOutputs);
  frame_unwind(c, 0);
  EXPECT_EQ(run("a_ = str2obj('1, 2');"), kTooFewOutputs);
  frame_unwind(c, 0);
  ASSERT_EQ(run("[a_, b_, c_] = str2obj('1, ''b'', {3}');"), kOk);
  EXPECT_EQ(value("a_"), "double 1x1 [1]");
  EXPECT_EQ(value("b_"), "'b'");
  EXPECT_EQ(value("c_"), "{double 1x1 [3]}");
  EXPECT_EQ(value("str2obj(5)"), "error 44");
  take_output();
  EXPECT_TRUE(clean());
}

// --- The save format to the bit ----------------------------------------------------

// Random values of every class and nesting whose numbers come from bit
// patterns (typecast from 32-bit halves, so that making them needs no
// number reader): NaN of either sign, the infinities, -0, subnormals and
// any finite double or single. NaNs are the two the language makes (NaN
// and -NaN); other NaN payloads have no spelling.
struct BitsGen {
  std::mt19937_64 rng;
  explicit BitsGen(uint64_t seed) : rng(seed) {}
  int pick(int n) { return int(rng() % uint64_t(n)); }

  static std::string halves(uint64_t bits) {
    return "uint32([" + std::to_string(bits & 0xffffffffu) + " " + std::to_string(bits >> 32) + "])";
  }
  uint64_t double_bits() {
    switch (pick(10)) {
      case 0: return 0xfff8000000000000u;                       // NaN
      case 1: return 0x7ff8000000000000u;                       // -NaN
      case 2: return pick(2) ? 0x7ff0000000000000u : 0xfff0000000000000u;  // +-Inf
      case 3: return pick(2) ? 0 : 0x8000000000000000u;         // +-0
      case 4: return (rng() & 0x800fffffffffffffu) | 1;         // subnormal
      case 5: {
        double v = double(pick(2001) - 1000);
        uint64_t b;
        std::memcpy(&b, &v, sizeof b);
        return b;
      }
      default: {
        uint64_t b = rng();
        if (((b >> 52) & 0x7ff) == 0x7ff) b ^= uint64_t(1) << 62;  // no other NaN, no Inf here
        return b;
      }
    }
  }
  uint32_t single_bits() {
    switch (pick(8)) {
      case 0: return 0xffc00000u;  // single(NaN)
      case 1: return 0x7fc00000u;
      case 2: return pick(2) ? 0x7f800000u : 0xff800000u;
      case 3: return pick(2) ? 0 : 0x80000000u;
      case 4: return (uint32_t(rng()) & 0x807fffffu) | 1;
      default: {
        uint32_t b = uint32_t(rng());
        if (((b >> 23) & 0xff) == 0xff) b ^= 1u << 30;
        return b;
      }
    }
  }
  std::string dbl() { return "typecast(" + halves(double_bits()) + ", 'double')"; }
  std::string sgl() { return "typecast(uint32(" + std::to_string(single_bits()) + "), 'single')"; }
  std::string element(int cls) {
    switch (cls) {
      case 0: return dbl();
      case 1: return "complex(" + dbl() + ", " + dbl() + ")";
      case 2: return sgl();
      case 3: return "complex(" + sgl() + ", " + sgl() + ")";
      case 4: {
        static const char* const kInts[] = {"int8", "uint8", "int16", "uint16", "int32", "uint32"};
        static const int64_t kLow[] = {-128, 0, -32768, 0, -2147483648LL, 0};
        static const int64_t kHigh[] = {127, 255, 32767, 65535, 2147483647LL, 4294967295LL};
        const int k = pick(6);
        const int64_t v = kLow[k] + int64_t(rng() % uint64_t(kHigh[k] - kLow[k] + 1));
        return std::string(kInts[k]) + "(" + std::to_string(v) + ")";
      }
      case 5: return std::string("typecast(") + halves(rng()) + (pick(2) ? ", 'int64')" : ", 'uint64')");
      case 6: return pick(2) ? "true" : "false";
      default: return "char(" + std::to_string(pick(3) ? 32 + pick(95) : pick(65536)) + ")";
    }
  }
  // A matrix of one class (an integer class keeps its own class name).
  std::string array() {
    const int cls = pick(8);
    const int rows = pick(4), cols = pick(5);
    if (rows * cols == 0 || pick(5) == 0) {
      if (rows * cols != 0) return element(cls);
      return cls == 6 ? "logical(zeros(" + std::to_string(rows) + "," + std::to_string(cols) + "))"
                      : "zeros(" + std::to_string(rows) + "," + std::to_string(cols) + ")";
    }
    std::string s = "[";
    // Integers of different classes do not mix: one class per array.
    const std::string int_class = cls == 4 ? std::string(pick(2) ? "int16" : "uint8") : "";
    for (int r = 0; r < rows; ++r) {
      for (int k = 0; k < cols; ++k) {
        std::string e = element(cls);
        if (cls == 4) e = int_class + "(" + std::to_string(int_class == "uint8" ? pick(256) : pick(65536) - 32768) + ")";
        if (cls == 5) e = "typecast(" + halves(rng()) + ", 'int64')";
        s += (k ? ", " : "") + e;
      }
      s += r + 1 < rows ? "; " : "";
    }
    return s + "]";
  }
  std::string value(int depth) {
    switch (pick(depth > 3 ? 3 : 9)) {
      case 0: case 1: return array();
      case 2: return "reshape([" + dbl() + ", " + dbl() + ", " + dbl() + ", " + dbl() + "], [1 2 2])";
      case 3: {
        std::string s = "{";
        for (int k = pick(4); k > 0; --k) s += value(depth + 1) + (k > 1 ? ", " : "");
        return s + "}";
      }
      case 4: {
        std::string s = "struct(";
        for (int k = 1 + pick(3); k > 0; --k)
          s += "'f" + std::to_string(k) + "', {" + value(depth + 1) + "}" + (k > 1 ? ", " : "");
        return s + ")";
      }
      case 5: {
        const int r = 1 + pick(2), c = pick(3);
        std::string s = "reshape({";
        for (int k = 0; k < r * c; ++k) s += value(depth + 1) + (k + 1 < r * c ? ", " : "");
        return s + "}, [" + std::to_string(r) + " " + std::to_string(c) + "])";
      }
      case 6: return "class(struct('x', {" + value(depth + 1) + "}), 'pt_')";
      case 7: return "@sin";
      default: return "{" + value(depth + 1) + "}";
    }
  }
};

// A value's meaning, bit for bit, as text: the kind and subtype of every
// item and container element, field names, shapes, and the bytes of every
// element of every array (never the padding behind them, which no value
// reads).
std::string canonical(const uint32_t* header, uint64_t* data, int64_t words) {
  std::string s = std::to_string(header[0]) + "/" + std::to_string(header[2]);
  if (header[0] == kKindContainer) {
    // The elements fill exactly the words the header gives.
    if (int64_t(header[1]) != words) return s + "size " + std::to_string(header[1]) + "/" + std::to_string(words);
    s += "(";
    for (int64_t at = 0; at + kElemHeaderWords <= words;) {
      uint64_t* e = data + at;
      const int64_t total = elem_total_words(e);
      if (total < kElemHeaderWords || at + total > words) return s + "damaged)";
      s += "n" + std::to_string(elem_name(e)) + ":" +
           canonical(reinterpret_cast<const uint32_t*>(e), e + kElemHeaderWords, elem_data_words(e)) + ",";
      at += total;
    }
    return s + ")";
  }
  if (header[0] == kKindPayload && header[2] == kPayFuncRef) {
    const char* text = nullptr;
    int32_t n = 0;
    code_string_ref(data, &text, &n);
    return s + "@" + std::string(text, size_t(n));
  }
  ArrayView v{};
  if (!array_view(header, data, &v)) return s + "?";
  s += " t" + std::to_string(v.type) + " d";
  for (int k = 0; k < v.ndims; ++k) s += std::to_string(v.dims[k]) + (k + 1 < v.ndims ? "x" : "");
  static constexpr char kHex[] = "0123456789abcdef";
  auto bytes = [&](const uint8_t* p) {
    std::string b;
    for (int64_t i = 0; i < v.count * int64_t(v.esize); ++i) b += {kHex[p[i] >> 4], kHex[p[i] & 15]};
    return b;
  };
  s += " re" + bytes(v.re);
  if (v.im) s += " im" + bytes(v.im);
  return s;
}

std::string top_canonical(EngineContext* c) {
  const uint32_t* d = desc_at(c, 0);
  int64_t n = 0;
  if (stk_item_words(c, 0, &n) != kOk) return "?";
  return canonical(d, item_data(c, 0), d[0] == kKindContainer ? int64_t(d[1]) : n);
}

// What the exact dump (the save format) writes reads back to the same
// words: descriptor, headers, names and every bit of every number.
TEST_F(DumpSource, TheExactDumpReadsBackToTheBit) {
  BitsGen gen(38);
  std::vector<uint16_t> text(1 << 16);
  std::string bytes;
  for (int i = 0; i < 10000; ++i) {
    const std::string expr = gen.value(0);
    SCOPED_TRACE(expr);
    ASSERT_EQ(run("x_ = " + expr + ";"), kOk) << take_output();
    ASSERT_EQ(push_variable("x_"), kOk);
    const std::string before = top_canonical(c);
    int32_t n = 0;
    ASSERT_EQ(value_dump_source(c, text.data(), int32_t(text.size()), &n, -1, nullptr, -1, kDumpDigitsExact), kOk);
    bytes.assign(text.begin(), text.begin() + n);
    ASSERT_EQ(literal_read_value(c, bytes.data(), int32_t(bytes.size())), kOk) << bytes << take_output();
    EXPECT_EQ(top_canonical(c), before) << bytes;
    stk_drop(c);
  }
  EXPECT_TRUE(clean());
}

}  // namespace
