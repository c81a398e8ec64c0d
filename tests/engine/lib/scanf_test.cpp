// The scan engine through sscanf and fscanf: every conversion, widths,
// suppression, literal text, format reuse, the count and position outputs,
// char results, unknown letters and formats that consume nothing (the scan
// must end), lines read from a stream, and running out of room.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/strings.h"
#include "engine/lib/printf.h"
#include "support/io_engine.h"
#include "support/stack_invariants.h"
#include "support/typed_values.h"

namespace {

using namespace io_test;

struct ScanCase {
  const char16_t* text;
  const char16_t* format;
  std::vector<double> column;  // the values when numeric
  const char16_t* chars;       // the char row otherwise (null: numeric)
  double count;
  double position;
};

const std::vector<ScanCase> kScans = {
    {u"3 4 5", u"%d", {3, 4, 5}, nullptr, 3, 5},
    {u"abc", u"%s", {}, u"abc", 1, 3},
    {u"12abc", u"%d%s", {12, 97, 98, 99}, nullptr, 2, 5},
    {u"-12+7", u"%d", {-12, 7}, nullptr, 2, 5},
    {u"0x1F 017 0b101 -0x10 08", u"%i", {31, 15, 5, -16, 0, 8}, nullptr, 6, 23},
    {u"17 ff FF", u"%o %x %x", {15, 255, 255}, nullptr, 3, 8},
    {u"1.5e3 -2.25 .5 7", u"%f", {1500, -2.25, 0.5, 7}, nullptr, 4, 16},
    {u"2.5E-1\t+1e+2", u"%e%g", {0.25, 100}, nullptr, 2, 12},
    {u"3e 4", u"%f%s", {3, 101, 4}, nullptr, 3, 4},  // an 'e' without digits stays
    {u"12345", u"%2d", {12, 34, 5}, nullptr, 3, 5},
    {u"-1234", u"%3d", {-12, 34}, nullptr, 2, 5},  // the width counts the sign
    {u"abcdef", u"%2s", {}, u"abcdef", 3, 6},
    {u"1 2 3 4", u"%*d %d", {2, 4}, nullptr, 4, 7},
    {u"ab 12", u"%*s %d", {12}, nullptr, 2, 5},
    {u"ab 12", u"%s%d", {97, 98, 12}, nullptr, 2, 5},
    {u"a b", u"%c", {}, u"a b", 3, 3},
    {u"1,2,3", u"%d,", {1, 2, 3}, nullptr, 3, 5},
    {u"1,2", u"%d;", {1}, nullptr, 1, 1},
    {u"5%", u"%d%%", {5}, nullptr, 1, 2},
    {u"10 20 x", u"%d", {10, 20}, nullptr, 2, 6},
    {u"x=1 x=2", u"x=%d ", {1, 2}, nullptr, 2, 7},
    {u"-x", u"%f", {}, nullptr, 0, 0},
    {u"9007199254740993 ffffffffffffffff", u"%d %x", {9007199254740992.0, 18446744073709551615.0}, nullptr, 2, 33},
    {u"abc", u"", {}, nullptr, 0, 0},
    // Unknown letters skip only themselves; a pass that consumes nothing ends the scan.
    {u"1 2", u"%q%d", {1, 2}, nullptr, 2, 3},
    {u"zzz", u"%qz", {}, nullptr, 0, 3},
    {u"abc", u" ", {}, nullptr, 0, 0},
    {u"abc", u"%q", {}, nullptr, 0, 0},
    {u"abc", u"%y %Q%5", {}, nullptr, 0, 0},
    {u"  ", u"%d", {}, nullptr, 0, 2},
};

class Scanf : public IoEngine {};

TEST_F(Scanf, ValuesCountAndPosition) {
  for (const ScanCase& c : kScans) {
    SCOPED_TRACE(show(c.text) + " with " + show(c.format));
    push(ctx, T(c.text));
    push(ctx, T(c.format));
    ASSERT_EQ(bi_sscanf(ctx, 2, 3), kOk);
    ASSERT_EQ(items(), 3);
    if (c.chars) {
      EXPECT_EQ(show(chars_at(ctx, 0)), show(c.chars));
    } else {
      const uint32_t* d = desc_at(ctx, 0);
      EXPECT_EQ(d[0], uint32_t(kKindReal));
      if (c.column.empty()) {
        EXPECT_EQ(d[1], 0u);
        EXPECT_EQ(d[2], 0u);
      } else {
        EXPECT_EQ(d[2], 1u);  // a column
        EXPECT_EQ(doubles_at(ctx, 0), c.column);
      }
    }
    EXPECT_EQ(doubles_at(ctx, 1), std::vector<double>{c.count});
    EXPECT_EQ(doubles_at(ctx, 2), std::vector<double>{c.position});
    for (int k = 0; k < 3; ++k) stk_drop(ctx);
  }
}

TEST_F(Scanf, DecimalsAreCorrectlyRounded) {
  const std::vector<std::pair<const char16_t*, double>> cases = {
      {u"0.1", 0.1},
      {u"3.14159265358979323846", 3.14159265358979323846},
      {u"2.2250738585072014e-308", 2.2250738585072014e-308},
      {u"1e400", std::numeric_limits<double>::infinity()},
      {u"0.000000000000000000000000000001e30", 1.0},
  };
  for (const auto& [text, value] : cases) {
    push(ctx, T(text));
    push(ctx, T(u"%f"));
    ASSERT_EQ(bi_sscanf(ctx, 2, 1), kOk);
    const std::vector<double> got = doubles_at(ctx);
    ASSERT_EQ(got.size(), 1u) << show(text);
    EXPECT_EQ(tv::bits(got[0]), tv::bits(value)) << show(text);
    stk_drop(ctx);
  }
}

TEST_F(Scanf, ArgumentsMustBeText) {
  push(ctx, D({1}));
  push(ctx, T(u"%d"));
  const StackSnapshot before = snapshot_stacks(ctx);
  EXPECT_EQ(bi_sscanf(ctx, 2, 1), kWrongArgType);
  EXPECT_TRUE(snapshot_stacks(ctx) == before);
  stk_drop(ctx);
  stk_drop(ctx);
  EXPECT_EQ(bi_sscanf(ctx, 1, 1), kTooFewInputs);
  push(ctx, D({1}));
  EXPECT_EQ(scan_engine(ctx, nullptr, 0, 1), kBadArgument);
  stk_drop(ctx);
}

TEST_F(Scanf, ValuesBeyondTheFreeSpaceAreDataStackOverflow) {
  push(ctx, T(u"1 2 3 4 5 6 7 8 9 10"));
  push(ctx, T(u"%d"));
  const uint32_t capacity = ctx->data_capacity;
  ctx->data_capacity = uint32_t(ctx->data_top) + 8;
  const StackSnapshot before = snapshot_stacks(ctx);
  EXPECT_EQ(bi_sscanf(ctx, 2, 3), kDataStackOverflow);
  EXPECT_TRUE(snapshot_stacks(ctx) == before);
  ctx->data_capacity = uint32_t(ctx->data_top) + 16;
  EXPECT_EQ(bi_sscanf(ctx, 2, 1), kOk);
  EXPECT_EQ(doubles_at(ctx).size(), 10u);
  stk_drop(ctx);
  // A char result needs its header and a moment's room for the codes.
  for (const char16_t* text : {u"abcdefgh", u"a"}) {
    // 8 values need 8 words; 1 value a row of 3 words and a word for the code.
    const uint32_t least = text[1] ? 8 : 4;
    push(ctx, T(text));
    push(ctx, T(u"%s"));
    ctx->data_capacity = uint32_t(ctx->data_top) + least - 1;
    EXPECT_EQ(bi_sscanf(ctx, 2, 1), kDataStackOverflow);
    ctx->data_capacity = uint32_t(ctx->data_top) + least;
    EXPECT_EQ(bi_sscanf(ctx, 2, 1), kOk);
    EXPECT_EQ(chars_at(ctx), text);
    stk_drop(ctx);
  }
  ctx->data_capacity = capacity;
}

TEST_F(Scanf, FscanfReadsOneLineFromStandardInput) {
  console.input = "7 8 9\n10 11\n";
  push(ctx, T(u"%d"));
  ASSERT_EQ(bi_fscanf(ctx, 1, 2), kOk);
  EXPECT_EQ(doubles_at(ctx, 0), (std::vector<double>{7, 8, 9}));
  EXPECT_EQ(doubles_at(ctx, 1), std::vector<double>{3});
  stk_drop(ctx);
  stk_drop(ctx);
  push(ctx, D({0}));
  push(ctx, T(u"%d"));
  ASSERT_EQ(bi_fscanf(ctx, 2, 1), kOk);
  EXPECT_EQ(doubles_at(ctx), (std::vector<double>{10, 11}));
  stk_drop(ctx);
  // At the end of the input the line is empty.
  push(ctx, T(u"%d"));
  ASSERT_EQ(bi_fscanf(ctx, 1, 1), kOk);
  EXPECT_EQ(doubles_at(ctx), std::vector<double>{});
  stk_drop(ctx);
  EXPECT_EQ(items(), 0);
}

class ScanfBytewise : public Scanf {
 protected:
  ScanfBytewise() { bytewise_input = true; }
};

TEST_F(ScanfBytewise, FscanfStopsAtTheEndOfTheLine) {
  console.input = "a b\r1 2";
  push(ctx, D({kFileFd}));
  push(ctx, T(u"%c"));
  ASSERT_EQ(bi_fscanf(ctx, 2, 1), kOk);
  EXPECT_EQ(chars_at(ctx), u"a b");  // the line feed is dropped
  stk_drop(ctx);
  engine_set_charset(ctx, 'u');
  console.input = "\xc3\xa9t\xc3\n";
  console.at = 0;
  push(ctx, D({kFileFd}));
  push(ctx, T(u"%s"));
  ASSERT_EQ(bi_fscanf(ctx, 2, 1), kOk);
  EXPECT_EQ(show(chars_at(ctx)), show(u"\u00e9t\u00c3"));  // a cut sequence stays a byte
  stk_drop(ctx);

  console.stall = true;
  push(ctx, T(u"%d"));
  const StackSnapshot before = snapshot_stacks(ctx);
  EXPECT_EQ(bi_fscanf(ctx, 1, 1), kWaitRetry);
  EXPECT_TRUE(snapshot_stacks(ctx) == before);
  stk_drop(ctx);
  push(ctx, D({3}));
  push(ctx, T(u"%d"));
  EXPECT_EQ(bi_fscanf(ctx, 2, 1), kNotMyDescriptor);
  stk_drop(ctx);
  stk_drop(ctx);
}

TEST(ReadLine, KeepsWhatAWaitingReadDelivered) {
  // A hook that delivers "ab", then must wait, then delivers "c" and the line feed.
  struct Feed {
    std::vector<std::string> parts;
    size_t next = 0;
  };
  static Feed feed;
  feed = Feed{{"a", "b", "", "c", "\n"}, 0};
  auto hook = [](EngineContext*, int32_t, char* b, int32_t, int32_t* n, uintptr_t) {
    const std::string& p = feed.parts[feed.next++];
    if (p.empty()) return int(kOk);
    b[0] = p[0];
    *n = 1;
    return int(kOk);
  };
  EngineBlock block = EngineBlock::make(1u << 18);
  BuiltinEntry rows[2]{};
  rows[0] = stream_hook_row(kHookRead, static_cast<StreamReadHook>(hook), kReadBytePerCall);
  ASSERT_EQ(engine_register_builtin_table(block, rows, 1), kOk);
  uint16_t line[16];
  int32_t n = 0;
  EXPECT_EQ(io_read_line(block, 0, false, line, 0, 16, &n), kWaitRetry);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(io_read_line(block, 0, false, line, n, 16, &n), kOk);
  EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(line), size_t(n)), u"abc\n");
}

}  // namespace
