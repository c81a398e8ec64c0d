// The data exchange text: every value class written as a data handler's
// _xdata and _xdatatype outputs and read back as its inputs, header and
// link line byte for byte, the line ends of the three modes, the plain forms
// without a header, and bodies that must not run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/interp.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/dump_source.h"
#include "runtime/data_text.h"
#include "runtime/fake_host.h"
#include "runtime/runtime_status.h"

namespace {

constexpr uint32_t kBytes = 2u << 20;

int g_counted = 0;
int counting_builtin(EngineContext* ctx, int, int, uintptr_t) {
  ++g_counted;
  return stk_push_real(ctx, 1);
}
BuiltinEntry g_counting_table[] = {builtin_row("counted_", 0, 1, 0, 1, 0, 0, counting_builtin), {}};

struct DataText : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  EngineContext* c = nullptr;
  int32_t base_top = 0;
  void SetUp() override {
    ASSERT_EQ(host.start(kBytes, kBytes), 0);
    b = host.block;
    ASSERT_EQ(rt_register_library(b, g_counting_table), 0);
    c = rt_engine(b);
    base_top = c->desc_top;
  }
  int run(const std::string& text) {
    const int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
    return status == kSliceEnded ? interp_run(c, 0) : status;
  }
  // Pushes a copy of a base-workspace variable.
  void push_var(const char* name) {
    uint8_t* table = nullptr;
    int32_t count = 0;
    frame_var_table(c, &table, &count);
    const uint32_t* slots = frame_words(c, 0) + kFrameFixedWords;
    for (int32_t i = 0; table && i < count; ++i) {
      if (std::strncmp(reinterpret_cast<const char*>(table) + kFrameNameBytes * i, name, kFrameNameBytes) != 0)
        continue;
      const uint64_t* block = heap_words(c) + slots[i];
      const uint32_t* h = reinterpret_cast<const uint32_t*>(block);
      const uint32_t words = item_data_words(h[0], h[1], h[2]);
      uint64_t* to = stk_claim(c, h[0], h[1], h[2], words);
      std::memcpy(to, block + kHeapValueHeaderWords, size_t(words) * 8);
      return;
    }
    ADD_FAILURE() << "no variable " << name;
  }
  // The top item's exact source text (kept on the stack): equal texts mean
  // equal values of equal classes, to the bit.
  std::string source_of_top() {
    std::vector<uint16_t> text(1 << 18);
    int32_t n = 0;
    EXPECT_EQ(value_dump_source_keep(c, text.data(), int32_t(text.size()), &n, -1, nullptr, -1, kDumpDigitsExact),
              kOk);
    return std::string(text.begin(), text.begin() + n);
  }
  std::string string_on_top() {
    char text[512] = {};
    int32_t n = 0;
    EXPECT_EQ(stk_get_string_buf(c, 0, text, sizeof text - 1, &n), kOk);
    stk_drop(c);
    return std::string(text, size_t(n));
  }
  std::string read_type(const std::string& text) {
    EXPECT_EQ(xdata_parse_header(b, kCodeXdatatype, text.data(), int32_t(text.size())), kOk);
    return string_on_top();
  }
  bool stack_clean() const { return c->desc_top == base_top && c->frame == 0; }
};

TEST_F(DataText, WrittenThenReadBackInModeTwoWithALinkLine) {
  const char* const values[] = {
      "[1.5 -2; 3e-7 4]",  "[1+2j, -0.1-3j]", "int16([-3 7 300])", "[5int64, -6int64]",
      "['ab\"c'; 'd''ef']", "[true false true]", "struct('a', 1, 'b', 'x')",
      "reshape({1, 'two', [3 4]}, [1 3])", "{1, {2, 'x'}, []}", "0.1 * (1:7)", "single([0.1 2.5])", "''",
      "pi * [1e300 1e-300]", "char([233 8364 10 0])",
  };
  for (const char* v : values) {
    SCOPED_TRACE(v);
    ASSERT_EQ(run(std::string("x_ = ") + v + ";"), kOk) << host.take_output();
    push_var("x_");
    const std::string want = source_of_top();
    char buf[4096];
    std::memset(buf, '#', sizeof buf);
    int32_t length = 0;
    // The handler's outputs in record order: _xdata, then _xdatatype.
    ASSERT_EQ(xdata_write_data(b, true, buf, sizeof buf, &length), kOk);
    ASSERT_EQ(stk_push_cstr(c, -1, "matrix"), kOk);
    ASSERT_EQ(xdata_write_type(b, buf, sizeof buf, &length, 3, 7), kOk);
    const std::string text(buf, size_t(length));
    const std::string head = "%TN xdata \"matrix\"\r\n%TN link 03 07\r\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find('\n', head.size()), text.find("\r\n", head.size()) + 1) << "every line ends CR LF";
    EXPECT_TRUE(stack_clean());
    EXPECT_EQ(read_type(text), "matrix");
    ASSERT_EQ(xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size())), kOk) << text;
    EXPECT_EQ(source_of_top(), want) << text;
    stk_drop(c);
    EXPECT_TRUE(stack_clean());
  }
}

// Char rows longer than one literal may hold are written as pieces side by
// side, and read back whole (one quoted row of 10,000 characters was
// written, then refused as too large when read).
TEST_F(DataText, LongCharRowsReadBackWhole) {
  const char* const values[] = {"repmat('ab''c', 1, 2500)", "[repmat('x', 1, 3000); repmat('y', 1, 3000)]",
                                "repmat('z', 1, 1024)", "repmat('z', 1, 1025)"};
  std::vector<char> buf(1 << 20);
  for (const char* v : values) {
    SCOPED_TRACE(v);
    ASSERT_EQ(run(std::string("x_ = ") + v + ";"), kOk) << host.take_output();
    push_var("x_");
    const std::string want = source_of_top();
    int32_t length = 0;
    ASSERT_EQ(xdata_write_data(b, true, buf.data(), int32_t(buf.size()), &length), kOk);
    ASSERT_EQ(stk_push_cstr(c, -1, "text"), kOk);
    ASSERT_EQ(xdata_write_type(b, buf.data(), int32_t(buf.size()), &length, 0, -1), kOk);
    const std::string text(buf.data(), size_t(length));
    ASSERT_EQ(xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size())), kOk) << host.take_output();
    EXPECT_EQ(source_of_top(), want);
    stk_drop(c);
    EXPECT_TRUE(stack_clean());
  }
}

TEST_F(DataText, AMatrixWithoutATypeIsRowsOfTabSeparatedNumbers) {
  struct Case {
    const char* value;
    int32_t mode;
    const char* text;
  } cases[] = {
      {"[1 2 3; 4 5 6]", 2, "1\t2\t3\r\n4\t5\t6\r\n"},
      {"[1 2 3; 4 5 6]", 1, "1\t2\t3\n4\t5\t6\n"},
      {"[1 2 3; 4 5 6]", 0, "1\t2\t3\r4\t5\t6\r"},
      {"[0.1 -2.5e-20 1/3]", 2, "0.1\t-2.5e-20\t0.333333333333333\r\n"},
      {"zeros(0, 3)", 2, ""},
      {"'plain text'", 2, "plain text"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.value);
    b->h.line_end = k.mode;
    ASSERT_EQ(run(std::string("x_ = ") + k.value + ";"), kOk);
    push_var("x_");
    char buf[256];
    int32_t length = 0;
    ASSERT_EQ(xdata_write_data(b, false, buf, sizeof buf, &length), kOk);
    EXPECT_EQ(std::string(buf, size_t(length)), k.text);
    EXPECT_TRUE(stack_clean());
  }
  // Without a header the text is the value itself, of type "text".
  const std::string plain = "1\t2\r\n";
  EXPECT_EQ(read_type(plain), "text");
  ASSERT_EQ(xdata_parse_header(b, kCodeXdata, plain.data(), int32_t(plain.size())), kOk);
  EXPECT_EQ(string_on_top(), plain);
}

TEST_F(DataText, LineEndsOfEveryModeReadAlike) {
  for (const char* eol : {"\r", "\n", "\r\n"}) {
    SCOPED_TRACE(int(eol[0]) + int(eol[1]));
    const std::string text = std::string("%TN xdata \"m\"") + eol + "%TN link 01 02" + eol + eol + "[1,2" + eol +
                             "3,4]" + eol + eol;
    ASSERT_EQ(xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size())), kOk) << text;
    EXPECT_EQ(source_of_top(), "[1,2\n3,4]");
    stk_drop(c);
    EXPECT_EQ(read_type(text), "m");
  }
  // A text written in each mode reads back.
  for (int32_t mode : {0, 1, 2}) {
    b->h.line_end = mode;
    ASSERT_EQ(run("x_ = {[1 2; 3 4], 'a'};"), kOk);
    push_var("x_");
    const std::string want = source_of_top();
    char buf[512];
    int32_t length = 0;
    ASSERT_EQ(xdata_write_data(b, true, buf, sizeof buf, &length), kOk);
    ASSERT_EQ(stk_push_cstr(c, -1, "cell"), kOk);
    ASSERT_EQ(xdata_write_type(b, buf, sizeof buf, &length, 0, -1), kOk);
    ASSERT_EQ(xdata_parse_header(b, kCodeXdata, buf, length), kOk);
    EXPECT_EQ(source_of_top(), want);
    stk_drop(c);
  }
}

TEST_F(DataText, HeaderEdges) {
  // The prefix without a quote is no header.
  EXPECT_EQ(read_type("%TN xdata matrix\n1"), "text");
  // A type not closed before the line end still ends there.
  EXPECT_EQ(read_type("%TN xdata \"abc\r\n5"), "abc");
  const std::string open = "%TN xdata \"abc\r\n5";
  ASSERT_EQ(xdata_parse_header(b, kCodeXdata, open.data(), int32_t(open.size())), kOk);
  EXPECT_EQ(source_of_top(), "5");
  stk_drop(c);
  // An empty text: both variables empty strings.
  for (int32_t code : {kCodeXdata, kCodeXdatatype}) {
    ASSERT_EQ(xdata_parse_header(b, code, "", 0), kOk);
    EXPECT_EQ(string_on_top(), "");
    ASSERT_EQ(xdata_parse_header(b, code, nullptr, 5), kOk);
    EXPECT_EQ(string_on_top(), "");
  }
  // A quote in the type becomes an apostrophe; a link id past 99 gets no line.
  struct Case {
    int32_t instance, link;
    const char* head;
  } cases[] = {
      {3, 7, "%TN xdata \"a'b\"\r\n%TN link 03 07\r\n"},
      {12, 99, "%TN xdata \"a'b\"\r\n%TN link 12 99\r\n"},
      {3, 100, "%TN xdata \"a'b\"\r\n"},
      {100, 5, "%TN xdata \"a'b\"\r\n"},
      {3, -1, "%TN xdata \"a'b\"\r\n"},
  };
  for (const Case& k : cases) {
    char buf[64];
    std::memcpy(buf, "body", 4);
    int32_t length = 4;
    ASSERT_EQ(stk_push_cstr(c, -1, "a\"b"), kOk);
    ASSERT_EQ(xdata_write_type(b, buf, sizeof buf, &length, k.instance, k.link), kOk);
    EXPECT_EQ(std::string(buf, size_t(length)), std::string(k.head) + "body");
  }
  EXPECT_TRUE(stack_clean());
}

TEST_F(DataText, BodiesThatAreNotOneLiteralValueNeverRun) {
  const struct {
    const char* body;
    int status;
  } cases[] = {
      // A variable of the caller is not seen: the body reads in a
      // workspace of its own, where the name is unknown.
      {"counted_()", kBadArgument}, {"[1 counted_]", kBadArgument}, {"x_", kUnknownFunction},
      {"y_ = 3", kBadArgument},     {"1, 2", kTooManyInputs},       {"", kTooManyInputs},
      {"[1 2; 3]", 0},  // compiles and is constant, but fails while running
  };
  ASSERT_EQ(run("x_ = 1;"), kOk);
  for (const auto& k : cases) {
    SCOPED_TRACE(k.body);
    const std::string text = std::string("%TN xdata \"t\"\n") + k.body;
    const int status = xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size()));
    if (k.status) {
      EXPECT_EQ(status, k.status);
    } else {
      EXPECT_NE(status, kOk);
    }
    EXPECT_TRUE(stack_clean());
    EXPECT_EQ(c->pos.kind, kAreaNone);
    host.take_output();
  }
  EXPECT_EQ(g_counted, 0);
  EXPECT_EQ(run("z_ = counted_();"), kOk);
  EXPECT_EQ(g_counted, 1);
}

// Function references of every name str2fun takes: written as data text
// they read back to the same reference. A name that is an identifier (or
// two joined by "::") is written "@name"; any other (an operator, an
// unbalanced bracket, an empty name) as the str2fun call "@name" stands for
// ("@1)" was written, and refused as an unexpected right parenthesis).
TEST_F(DataText, FunctionReferencesOfAnyNameReadBack) {
  const struct {
    const char* zvr;   // the name as a ZVR literal
    const char* body;  // the body written
  } cases[] = {
      {"'sin'", "@sin"},       {"'a::b'", "@a::b"},          {"'_x1'", "@_x1"},
      {"'1)'", "str2fun('1)')"}, {"'+'", "str2fun('+')"},      {"''", "str2fun('')"},
      {"'it''s'", "str2fun('it\\'s')"}, {"'@(x) x+1'", "str2fun('@(x) x+1')"}, {"'a::'", "str2fun('a::')"},
      {"'a b'", "str2fun('a b')"}, {"'9lives'", "str2fun('9lives')"}, {"'a::b::c'", "str2fun('a::b::c')"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.zvr);
    ASSERT_EQ(run(std::string("f_ = {str2fun(") + k.zvr + "), 1};"), kOk) << host.take_output();
    push_var("f_");
    const std::string want = source_of_top();
    char buf[512];
    int32_t length = 0;
    ASSERT_EQ(xdata_write_data(b, true, buf, sizeof buf, &length), kOk);
    ASSERT_EQ(stk_push_cstr(c, -1, "f"), kOk);
    ASSERT_EQ(xdata_write_type(b, buf, sizeof buf, &length, 0, -1), kOk);
    const std::string text(buf, size_t(length));
    EXPECT_NE(text.find(std::string("{") + k.body + ","), std::string::npos) << text;
    ASSERT_EQ(xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size())), kOk) << text << host.take_output();
    EXPECT_EQ(source_of_top(), want);
    stk_drop(c);
    EXPECT_TRUE(stack_clean());
  }
}

// A body is read as a value and leaves nothing behind: one that assigns a
// name (refused, as every assignment is) must not make that name a variable
// of the workspace, where the next body holding it would read the variable
// and be refused ("NaN = 1" once made every later NaN a bad argument).
TEST_F(DataText, ABodyThatAssignsLeavesNoNameForTheNext) {
  auto reads_nan_row = [&](const char* name) {
    const std::string text = std::string("%TN xdata \"row\"\n[") + name + " 3]";
    if (xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size())) != kOk) return false;
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    const bool ok = stk_get_matrix(c, 0, &rows, &cols, &re, &im) == kOk && rows == 1 && cols == 2 &&
                    std::isnan(re[0]) && re[1] == 3;
    stk_drop(c);
    return ok;
  };
  auto names = [&] {
    uint8_t* table = nullptr;
    int32_t count = 0;
    frame_var_table(c, &table, &count);
    std::string all;
    for (int32_t i = 0; table && i < count; ++i)
      all += std::string(reinterpret_cast<const char*>(table) + kFrameNameBytes * i,
                         strnlen(reinterpret_cast<const char*>(table) + kFrameNameBytes * i, kFrameNameBytes)) + " ";
    return all;
  };
  const std::string before = names();
  const char* const bodies[] = {"NaN=1", "nan = 1", "NaN(1) = 2", "[NaN, q_] = deal(1, 2)", "z_ = [NaN 3]"};
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    ASSERT_TRUE(reads_nan_row("NaN"));
    const std::string text = std::string("%TN xdata \"v\"\n") + body;
    EXPECT_NE(xdata_parse_header(b, kCodeXdata, text.data(), int32_t(text.size())), kOk);
    host.take_output();
    EXPECT_TRUE(reads_nan_row("NaN")) << host.take_output();
    EXPECT_TRUE(reads_nan_row("nan")) << host.take_output();
    EXPECT_EQ(names(), before);
    EXPECT_TRUE(stack_clean());
  }
  // The command line still sees NaN as NaN and no variable of those names.
  ASSERT_EQ(run("r_ = [isnan(NaN), exist('q_'), exist('z_')];"), kOk) << host.take_output();
  push_var("r_");
  EXPECT_EQ(source_of_top(), "[true,false(1,2)]");
  stk_drop(c);
}

TEST_F(DataText, ABufferTooSmallKeepsTheLengthAndTheValue) {
  ASSERT_EQ(run("x_ = [1 2 3; 4 5 6];"), kOk);
  for (int form = 0; form < 3; ++form) {
    SCOPED_TRACE(form);
    char buf[64];
    std::memcpy(buf, "0123456789", 10);
    for (int32_t capacity : {0, 5, 12, 20}) {
      push_var("x_");
      int32_t length = form == 0 ? 0 : 10;
      const int32_t before = length;
      int status = kOk;
      if (form == 2) {
        stk_drop(c);
        ASSERT_EQ(stk_push_cstr(c, -1, "matrix"), kOk);
        status = xdata_write_type(b, buf, capacity, &length, 1, 1);
      } else {
        status = xdata_write_data(b, form == 1, buf, capacity, &length);
      }
      EXPECT_EQ(status, kRtExhausted);
      EXPECT_EQ(length, before);
      EXPECT_EQ(c->desc_top, base_top + 3);
      stk_drop(c);
    }
  }
  // Types must be text; _xdata without a type must be a char or numeric matrix.
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  char buf[64];
  int32_t length = 0;
  EXPECT_EQ(xdata_write_type(b, buf, sizeof buf, &length, 0, 0), kWrongType);
  stk_drop(c);
  ASSERT_EQ(run("s_ = struct('a', 1);"), kOk);
  push_var("s_");
  EXPECT_EQ(xdata_write_data(b, false, buf, sizeof buf, &length), kWrongType);
  stk_drop(c);
  EXPECT_TRUE(stack_clean());
}

}  // namespace
