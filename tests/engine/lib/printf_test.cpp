// The printf engine against golden texts, byte for byte: every conversion,
// flags, widths, precisions and '*', format reuse over vectors, integer,
// char, logical and single arguments, the 64-bit cases, escapes left alone;
// fprintf's descriptors, ends of line and character set; error, warning and
// assert with identifiers, the texts they leave, and the stack afterwards.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/errors.h"
#include "engine/core/opcodes.h"
#include "engine/core/strings.h"
#include "engine/lib/printf.h"
#include "support/io_engine.h"
#include "support/stack_invariants.h"
#include "support/typed_values.h"

namespace {

using namespace io_test;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
  const char16_t* format;
  std::vector<Arg> args;
  const char16_t* expected;
};

// Worked out by hand from the conversion rules (default precision 4, 'g'
// dropping digits it does not need, exponents without '+' or leading zeros).
const std::vector<Case> kCases = {
    {u"%5.2f|%-4d|%s", {D({3.14159}), D({7}), T(u"ab")}, u" 3.14|7   |ab"},
    {u"%d", {}, u""},
    {u"a%db", {D({})}, u"a"},
    {u"%s", {D({65})}, u"A"},
    {u"%c%c", {T(u"hi")}, u"hi"},
    {u"%x", {D({255})}, u"ff"},
    {u"%#X", {D({255})}, u"0xFF"},
    {u"%x", {D({-1})}, u"-1"},
    {u"%.3d", {D({7})}, u"007"},
    {u"%05d", {D({7})}, u"    7"},
    {u"%f", {D({1.0 / 3})}, u"0.3333"},
    {u"%d %d\n", {D({1, 2, 3, 4, 5})}, u"1 2\n3 4\n5 "},
    {u"%d\n", {D({1, 2, 3})}, u"1\n2\n3\n"},
    // Beyond 32 bits: from 64 bits; beyond 64: the number formatter.
    {u"%d", {D({3e9})}, u"3000000000"},
    {u"%x", {D({4294967296.0})}, u"100000000"},
    {u"%d", {D({-2147483649.0})}, u"-2147483649"},
    {u"%o", {D({4294967296.0})}, u"40000000000"},
    {u"%d|%x", {D({1180591620717411303424.0, 18446744073709551616.0})}, u"1.1806e21|1.8447e19"},
    {u"%d|%d|%i", {D({2.5, -2.5, -0.4})}, u"3|-2|0"},
    {u"%d %d %X %i", {D({kInf, kNaN, kInf, -kInf})}, u"inf nan Inf -inf"},
    {u"%e", {D({1500})}, u"1.5000e3"},
    {u"%g|%g|%g", {D({0.05, 2500000000.0, 1234567.5})}, u"5e-2|2.5e9|1234567.5"},
    {u"%.2e", {D({9.9999999})}, u"1.00e1"},
    {u"%.0e|%g|%.3g", {D({9.5, 0.09999999, 9.9999e9})}, u"1e1|1e-1|1e10"},
    {u"%.0e", {D({12345})}, u"1e4"},
    {u"%+d|% d|%+d|% d", {D({5, 5, -5, -5})}, u"+5| 5|-5|-5"},
    {u"%-6.2f|", {D({2.5})}, u"2.50  |"},
    {u"%08.3f", {D({-3.5})}, u"-003.500"},
    {u"%*d", {D({5, 42})}, u"   42"},
    {u"%.*f", {D({2, 3.14159})}, u"3.14"},
    {u"<%*d>", {D({5})}, u"<"},  // the width took the last element
    {u"%o|%#o|%#.0o|%.3o", {D({8, 8, 8, 8})}, u"10|10|010|010"},
    {u"%5s|%-5s|%.1s", {T(u"ab"), T(u"ab"), T(u"abc")}, u"   ab|ab   |a"},
    {u"%s-%s", {T(u"ab"), T(u"cd")}, u"ab-cd"},
    {u"%s", {D({72.9, 105})}, u"Hi"},
    {u"%d%s", {D({1, 66, 67})}, u"1BC"},  // %s takes the rest of the argument
    {u"%s=%d;", {T(u"ab"), D({3})}, u"ab=3;"},
    {u"%d:%s|", {D({1}), T(u"xy"), D({2}), T(u"zw")}, u"1:xy|2:zw|"},
    {u"[%s]", {T(u"")}, u"[]"},
    {u"%s|", {T(u"a"), T(u""), T(u"b")}, u"a||b|"},
    {u"abc", {D({5})}, u"abc"},  // a pass that takes nothing is not repeated
    {u"%5c|%-3c|", {D({65, 66})}, u"    A|B  |"},
    {u"%c|%c%c", {D({65.7, 72, 105})}, u"A|Hi"},
    {u"%i|%X|%8.3x|%-#8x|", {D({42, 3054, 255, 255})}, u"42|BEE|     0ff|0xff    |"},
    {u"100%%|50%", {}, u"100%|50%"},
    {u"%u|", {D({5})}, u"%u|"},  // not a conversion: '%' and the text goes on
    {u"%5y", {}, u"%y"},
    {u"%-+", {}, u"%"},
    {u"%G|%E", {D({1e-5, 12345.678})}, u"1E-5|1.2346E4"},
    {u"%10.3e|", {D({12345.678})}, u"   1.235e4|"},
    {u"%-+8.1f|", {D({2.26})}, u"+2.3    |"},
    {u"% .2f", {D({1.5})}, u" 1.50"},
    {u"%#.0f|%.0f", {D({3, 0.75})}, u"3.|1"},
    {u"%5.1f%%", {D({99.44})}, u" 99.4%"},
    {u"%g", {D({1.5e-20})}, u"1.5e-20"},
    {u"%k", {D({0.000123})}, u"123e-6"},
    {u"%.10g", {D({0.1})}, u"0.1"},
    {u"%f", {D({-0.0})}, u"0.0000"},
    {u"%7.2f|", {D({-kInf})}, u"   -inf|"},
    // Arguments of every class.
    {u"%d", {T(u"AB")}, u"6566"},
    {u"%d", {L({1, 0})}, u"10"},
    {u"%f", {S({0.1})}, u"0.1000"},
    {u"%d,", {N(kElemI8, {-5, 7})}, u"-5,7,"},
    {u"%d %g|", {N(kElemI16, {-300}), S({2.5})}, u"-300 2.5|"},
    {u"%x", {N(kElemU8, {200})}, u"c8"},
    {u"%d", {N(kElemU32, {4000000000})}, u"4000000000"},
    {u"%d", {N(kElemI64, {9007199254740993})}, u"9007199254740993"},
    {u"%d|%x", {N(kElemU64, {-1, -1})}, u"18446744073709551615|ffffffffffffffff"},
    {u"%x|%d", {N(kElemI64, {-1, std::numeric_limits<int64_t>::min()})}, u"-1|-9223372036854775808"},
    // No escapes are interpreted; line feeds and wide characters pass through.
    {u"a\\nb\\t%d", {D({1})}, u"a\\nb\\t1"},
    {u"%s", {T(u"a\nb")}, u"a\nb"},
    {u"%s%c", {T(u"\u20ac")}, u"\u20ac"},
    {u"%s%c", {T(u"\u20ac"), D({0x263a})}, u"\u20ac\u263a"},
};

class Printf : public IoEngine {
 protected:
  void push_all(const char16_t* format, const std::vector<Arg>& args) {
    push(ctx, T(format));
    for (const Arg& a : args) push(ctx, a);
  }
  std::u16string sprintf(const char16_t* format, const std::vector<Arg>& args) {
    push_all(format, args);
    EXPECT_EQ(bi_sprintf(ctx, int(args.size()) + 1), kOk);
    EXPECT_EQ(items(), 1);
    std::u16string s = chars_at(ctx);
    stk_drop(ctx);
    return s;
  }
  // The engine's last stored error text and identifier, as a try block leaves them.
  std::pair<std::string, std::string> caught(int code) {
    char buf[kReportBufferBytes];
    int32_t n = 0;
    err_format_report(ctx, code, true, buf, sizeof buf, &n);
    err_store(ctx, code, buf, n, false);
    err_clear_location(ctx);
    EXPECT_EQ(bi_lasterr_lasterror(ctx, 2, false), kOk);
    const std::u16string message = chars_at(ctx, 0), id = chars_at(ctx, 1);
    stk_drop(ctx);
    stk_drop(ctx);
    return {show(message), show(id)};
  }
  std::string pending() {
    if (ctx->err_pending_text < 1) return "<none>";
    return reinterpret_cast<const char*>(heap_words(ctx) + ctx->err_pending_text + 1);
  }

};

TEST_F(Printf, GoldenTexts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(show(c.format));
    EXPECT_EQ(show(sprintf(c.format, c.args)), show(c.expected));
  }
}

TEST_F(Printf, EmptyResultIsAnEmptyCharArray) {
  push_all(u"%d", {});
  ASSERT_EQ(bi_sprintf(ctx, 1), kOk);
  const uint32_t* d = desc_at(ctx, 0);
  EXPECT_EQ(d[0], uint32_t(kKindPayload));
  EXPECT_EQ(d[2], uint32_t(kPayChar));
  EXPECT_EQ(chars_at(ctx), u"");
  stk_drop(ctx);
}

TEST_F(Printf, RefusalsLeaveTheStackAsItWas) {
  auto refused = [&](int nargs, int status) {
    const StackSnapshot before = snapshot_stacks(ctx);
    EXPECT_EQ(bi_sprintf(ctx, nargs), status);
    EXPECT_TRUE(snapshot_stacks(ctx) == before);
    while (items() > 0) stk_drop(ctx);
  };
  refused(0, kTooFewInputs);
  push(ctx, D({1}));
  refused(1, kBadArgument);  // the format is no char array
  push(ctx, T(u"%d"));
  tv::push_cscalar(ctx, 1, 2);
  refused(2, kWrongType);
  push(ctx, T(u"%d"));
  ASSERT_EQ(stk_make_container(ctx, 0, 0, nullptr, 0), kOk);
  refused(2, kWrongType);
}

TEST_F(Printf, OutputBeyondTheFreeSpaceIsDataStackOverflow) {
  // 40 free words: 64 characters of output and a 128-byte number field.
  auto limit = [&] { ctx->data_capacity = uint32_t(ctx->data_top) + 40; };
  const uint32_t capacity = ctx->data_capacity;
  push_all(u"%d", {D({1, 2, 3})});
  limit();
  EXPECT_EQ(bi_sprintf(ctx, 2), kOk);
  EXPECT_EQ(chars_at(ctx), u"123");
  stk_drop(ctx);
  for (const char16_t* format : {u"%100d", u"%.200f"}) {
    push_all(format, {D({1})});
    limit();
    const StackSnapshot before = snapshot_stacks(ctx);
    EXPECT_EQ(bi_sprintf(ctx, 2), kDataStackOverflow) << show(format);
    EXPECT_TRUE(snapshot_stacks(ctx) == before);
    stk_drop(ctx);
    stk_drop(ctx);
  }
  const std::u16string fits(60, u'x'), too_long(70, u'x');
  push_all(fits.c_str(), {});
  limit();
  EXPECT_EQ(bi_sprintf(ctx, 1), kOk);
  EXPECT_EQ(chars_at(ctx), fits);
  stk_drop(ctx);
  push_all(too_long.c_str(), {});
  limit();
  EXPECT_EQ(bi_sprintf(ctx, 1), kDataStackOverflow);
  stk_drop(ctx);
  ctx->data_capacity = capacity;
}

class PrintfCrlf : public Printf {
 protected:
  PrintfCrlf() { newline_mode = kNewlineCRLF; }
};

TEST_F(PrintfCrlf, StreamsGetTheConsoleEndOfLineAndCharset) {
  char eol[2];
  EXPECT_EQ(io_stdout_newline_mode(ctx, eol), 2);
  EXPECT_EQ(std::string(eol, 2), "\r\n");

  // The console gets CR LF; the count takes each end of line as the one
  // byte it is in this platform's streams.
  push_all(u"%d\n", {D({1, 2, 3})});
  ASSERT_EQ(bi_fprintf(ctx, 2, 1), kOk);
  EXPECT_EQ(doubles_at(ctx), std::vector<double>{6});
  stk_drop(ctx);
  EXPECT_EQ(console.written[1], "1\r\n2\r\n3\r\n");

  engine_set_charset(ctx, 'u');
  push(ctx, D({2}));
  push_all(u"x%sy%c", {T(u"\u00e9"), D({10})});
  ASSERT_EQ(bi_fprintf(ctx, 4, -1), kOk);  // a statement: no value
  EXPECT_EQ(desc_at(ctx, 0)[0], uint32_t(kKindNoValue));
  stk_drop(ctx);
  EXPECT_EQ(console.written[2], "x\xc3\xa9y\r\n");

  push(ctx, D({1}));
  push(ctx, T(u"quiet"));
  ASSERT_EQ(bi_fprintf(ctx, 2, 0), kOk);
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(console.written[1], "1\r\n2\r\n3\r\nquiet");

  // sprintf keeps a line feed whatever the console wants.
  EXPECT_EQ(sprintf(u"a\n", {}), u"a\n");
}

// A file library's row beside the CR LF console: descriptor kFileFd, whose
// "+write" row asks for single line feeds.
int file_write(EngineContext*, int32_t fd, const char* b, int32_t n, uintptr_t u) {
  if (fd != kFileFd) return kNotMyDescriptor;
  reinterpret_cast<Console*>(u)->written[fd].append(b, size_t(n));
  return kOk;
}

// Each stream gets the end of line of the row that takes it, not the
// console's; fd 1 redirected without a copy is written to its target alone
// and takes the target's; with a copy the console's bytes go to both.
TEST_F(PrintfCrlf, EachStreamGetsItsOwnRowsEndOfLine) {
  const auto user = reinterpret_cast<uintptr_t>(&console);
  static BuiltinEntry file_rows[2];
  file_rows[0] = stream_hook_row(kHookWrite, file_write, kNewlineLF, user);
  file_rows[1] = BuiltinEntry{};
  ASSERT_EQ(engine_register_builtin_table(ctx, file_rows, 0), kOk);
  char eol[2];
  EXPECT_EQ(io_newline_mode_of(ctx, kFileFd, eol), 1);
  EXPECT_EQ(eol[0], '\n');
  EXPECT_EQ(io_newline_mode_of(ctx, kFdStdout, eol), 2);
  EXPECT_EQ(io_newline_mode_of(ctx, kFdCapture, eol), 2);  // no row: the console's

  const auto fprintf_count = [&](int32_t fd, const char16_t* text) {
    push(ctx, D({double(fd)}));
    push(ctx, T(text));
    EXPECT_EQ(bi_fprintf(ctx, 2, 1), kOk);
    const double n = doubles_at(ctx)[0];
    stk_drop(ctx);
    return n;
  };
  EXPECT_EQ(fprintf_count(kFileFd, u"a\nb\n"), 4);
  EXPECT_EQ(console.written[kFileFd], "a\nb\n");
  ASSERT_EQ(io_set_redirect(ctx, kFdStdout, kFileFd, 0), kOk);
  EXPECT_EQ(fprintf_count(kFdStdout, u"c\n"), 2);
  EXPECT_EQ(console.written[kFileFd], "a\nb\nc\n");
  EXPECT_EQ(console.written[kFdStdout], "");
  ASSERT_EQ(io_set_redirect(ctx, kFdStdout, kFileFd, 1), kOk);
  EXPECT_EQ(fprintf_count(kFdStdout, u"d\n"), 2);
  EXPECT_EQ(console.written[kFdStdout], "d\r\n");
  EXPECT_EQ(console.written[kFileFd], "a\nb\nc\nd\r\n");
  ASSERT_EQ(io_set_redirect(ctx, kFdStdout, kFdStdout, 0), kOk);
}

// fprintf's count: the text's UTF-8 bytes with each end of line as one byte,
// whatever the console's end of line; line feeds counted for the CR LF console.
struct CountCase {
  const char16_t* format;
  std::vector<Arg> args;
  double count;
  int line_feeds;
};
const std::vector<CountCase> kCountCases = {
    {u"plain", {}, 5, 0},
    {u"a\n", {}, 2, 1},
    {u"a\nb\n\n", {}, 5, 3},
    {u"%c", {D({10})}, 1, 1},
    {u"%s|%s", {T(u"x\ny"), T(u"\n")}, 5, 2},
    {u"%s\n", {T(u"\u00e9\u20ac")}, 6, 1},
    {u"\u00e4\r\n", {}, 4, 1},
};

void expect_counts(EngineContext* ctx, Console& console, int eol_bytes) {
  engine_set_charset(ctx, 'u');
  for (const int32_t fd : {kFdStdout, kFdStderr}) {
    for (const CountCase& c : kCountCases) {
      SCOPED_TRACE(show(c.format));
      console.written[fd].clear();
      push(ctx, D({double(fd)}));
      push(ctx, T(c.format));
      for (const Arg& a : c.args) push(ctx, a);
      ASSERT_EQ(bi_fprintf(ctx, int(c.args.size()) + 2, 1), kOk);
      EXPECT_EQ(doubles_at(ctx), std::vector<double>{c.count});
      stk_drop(ctx);
      EXPECT_EQ(double(console.written[fd].size()), c.count + c.line_feeds * (eol_bytes - 1));
    }
  }
}

TEST_F(Printf, FprintfCountsTheBytesOfTheText) { expect_counts(ctx, console, 1); }
TEST_F(PrintfCrlf, FprintfCountsAnEndOfLineOnce) { expect_counts(ctx, console, 2); }

TEST_F(Printf, FprintfDescriptors) {
  push(ctx, D({1, 2}));
  push(ctx, T(u"x"));
  EXPECT_EQ(bi_fprintf(ctx, 2, 0), kNonScalarArg);
  stk_drop(ctx);
  stk_drop(ctx);
  push(ctx, D({7}));
  push(ctx, T(u"x"));
  EXPECT_EQ(bi_fprintf(ctx, 2, 0), kNotMyDescriptor);  // nobody owns fd 7
  EXPECT_EQ(items(), 0);
  push(ctx, D({2.9}));  // truncated to 2
  push(ctx, T(u"to %s"));
  push(ctx, T(u"stderr"));
  EXPECT_EQ(bi_fprintf(ctx, 3, 0), kOk);
  EXPECT_EQ(console.written[2], "to stderr");
  EXPECT_EQ(bi_fprintf(ctx, 0, 0), kTooFewInputs);
}

TEST_F(Printf, ErrorWithIdentifiersAndFormats) {
  push_all(u"my:id", {T(u"Value %d too big"), D({5})});
  const int code = bi_error_warning_assert(ctx, 3, false);
  EXPECT_LT(code, 0);
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(pending(), "Value 5 too big");
  EXPECT_EQ(caught(code), std::make_pair(std::string("Value 5 too big"), std::string("my:id")));

  push_all(u"ZVR:badArg", {T(u"bad %s\n"), T(u"x")});
  EXPECT_EQ(bi_error_warning_assert(ctx, 3, false), kBadArgument);
  EXPECT_EQ(caught(kBadArgument), std::make_pair(std::string("bad x\\n"), std::string("ZVR:badArg")));

  push_all(u"plain %d%%", {D({3})});
  EXPECT_EQ(bi_error_warning_assert(ctx, 2, false), kUserError);
  EXPECT_EQ(caught(kUserError), std::make_pair(std::string("plain 3%"), std::string("ZVR:user")));

  // Not identifiers: a blank, or more than 66 characters.
  push_all(u"a b:c", {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, false), kUserError);
  EXPECT_EQ(pending(), "a b:c");
  const std::u16string long_id = u"x:" + std::u16string(65, u'y');
  push_all(long_id.c_str(), {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, false), kUserError);
  EXPECT_EQ(pending().size(), 67u);
}

TEST_F(Printf, ErrorWithoutMessage) {
  push_all(u"earlier", {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, false), kUserError);
  // An identifier alone: the code, the table's message, no earlier text.
  push_all(u"ZVR:badArg", {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, false), kBadArgument);
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(pending(), "<none>");
  EXPECT_EQ(caught(kBadArgument).first, "Bad argument");
  // An unknown identifier alone is its own message.
  push_all(u"my:id", {});
  const int code = bi_error_warning_assert(ctx, 1, false);
  EXPECT_LT(code, 0);
  EXPECT_EQ(pending(), "my:id");
  EXPECT_EQ(caught(code), std::make_pair(std::string("my:id"), std::string("my:id")));
  // An empty message raises nothing.
  push_all(u"", {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, false), kOk);
  push_all(u"my:id", {T(u"")});
  EXPECT_EQ(bi_error_warning_assert(ctx, 2, false), kOk);
  EXPECT_EQ(items(), 0);
  // A format that is no text: 107, and the arguments go all the same.
  push(ctx, D({42}));
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, false), kBadArgument);
  EXPECT_EQ(items(), 0);
}

// Formatting that leaves nothing (a conversion without an argument) never
// turns an error into success: the unformatted text of a format given alone
// is the message. Arguments that format to nothing make an empty message,
// which raises nothing (and warning prints nothing).
TEST_F(Printf, ErrorWhoseFormattingLeavesNothingRaisesItsText) {
  struct Unfilled {
    std::vector<Arg> args;  // the format first
    int32_t code;           // 0: an identifier's interned code
    const char* message;
  };
  const std::vector<Unfilled> cases = {
      {{T(u"%d items failed")}, kUserError, "%d items failed"},
      {{T(u"%s")}, kUserError, "%s"},
      {{T(u"pkg:id"), T(u"%s")}, 0, "%s"},
      {{T(u"ZVR:badArg"), T(u"%d%%")}, kBadArgument, "%d%%"},
      {{T(u"%s \u20ac")}, kUserError, "%s \xe2\x82\xac"},  // through the charset
      {{T(u"%s left"), T(u"")}, kUserError, " left"},         // not empty: formatted
  };
  engine_set_charset(ctx, 'u');
  for (const Unfilled& u : cases) {
    for (const Arg& a : u.args) push(ctx, a);
    const int code = bi_error_warning_assert(ctx, int(u.args.size()), false);
    if (u.code) EXPECT_EQ(code, u.code) << u.message;
    else EXPECT_LT(code, 0) << u.message;
    EXPECT_EQ(items(), 0) << u.message;
    EXPECT_EQ(pending(), u.message);
    EXPECT_TRUE(check_stack_invariants(ctx, base_desc));
  }
  // warning says the same.
  push_all(u"%d items", {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, true), kOk);
  EXPECT_EQ(console.written[2], "%d items\n");
  const std::vector<std::vector<Arg>> empty = {
      {T(u"%s"), T(u"")}, {T(u"%c%d"), D({})}, {T(u"pkg:id"), T(u"%s"), T(u"")}, {T(u"%d%s"), D({}), T(u"")}};
  for (int warning = 0; warning < 2; ++warning) {
    for (const std::vector<Arg>& args : empty) {
      err_store(ctx, 0, nullptr, 0, false);
      for (const Arg& a : args) push(ctx, a);
      EXPECT_EQ(bi_error_warning_assert(ctx, int(args.size()), warning != 0), kOk);
      EXPECT_EQ(items(), 0);
      EXPECT_EQ(pending(), "<none>");
      EXPECT_TRUE(check_stack_invariants(ctx, base_desc));
    }
  }
  EXPECT_EQ(console.written[2], "%d items\n");
}

TEST_F(Printf, WarningWritesToStandardError) {
  push_all(u"my:id", {T(u"text")});
  EXPECT_EQ(bi_error_warning_assert(ctx, 2, true), kOk);
  push_all(u"careful %d", {D({2})});
  EXPECT_EQ(bi_error_warning_assert(ctx, 2, true), kOk);
  push_all(u"my:id", {});
  EXPECT_EQ(bi_error_warning_assert(ctx, 1, true), kOk);
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(console.written[2], "text\ncareful 2\n");
  EXPECT_EQ(pending(), "<none>");
}

TEST_F(Printf, Assert) {
  push(ctx, D({1, 2}));
  push(ctx, T(u"ignored"));
  EXPECT_EQ(bi_assert(ctx, 2), kOk);
  EXPECT_EQ(items(), 0);

  push(ctx, D({1, 0}));
  EXPECT_EQ(bi_assert(ctx, 1), kAssertionFalse);
  EXPECT_EQ(items(), 0);

  push(ctx, D({}));  // empty is false
  push_all(u"bad %d", {D({4})});
  EXPECT_EQ(bi_assert(ctx, 3), kUserError);
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(pending(), "bad 4");

  push(ctx, D({0}));
  push_all(u"ZVR:badArg", {T(u"x")});
  EXPECT_EQ(bi_assert(ctx, 3), kBadArgument);
  EXPECT_EQ(pending(), "x");

  ASSERT_EQ(stk_make_container(ctx, 0, 0, nullptr, 0), kOk);
  EXPECT_EQ(bi_assert(ctx, 1), kWrongTypeForBool);
  stk_drop(ctx);
}

}  // namespace
