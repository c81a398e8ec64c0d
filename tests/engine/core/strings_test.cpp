// String routines: UTF-8 and double-byte coding, the charset modes and the
// export conversion with its newline modes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/core/context.h"
#include "engine/core/strings.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes utf8(const std::u16string& s, int32_t capacity = 64) {
  Bytes out(static_cast<size_t>(capacity), 0xaa);
  int32_t pos = 0;
  for (char16_t c : s) buf_append_utf8(out.data(), &pos, c, capacity);
  out.resize(static_cast<size_t>(pos));
  return out;
}

TEST(Strings, Utf8Coding) {
  EXPECT_EQ(utf8(u"A\u00e9\u20ac"), (Bytes{0x41, 0xc3, 0xa9, 0xe2, 0x82, 0xac}));
  EXPECT_EQ(utf8(u"\u07ff\u0800\uffff"), (Bytes{0xdf, 0xbf, 0xe0, 0xa0, 0x80, 0xef, 0xbf, 0xbf}));
  EXPECT_EQ(utf8(u"\U0001F600"), (Bytes{0xed, 0xa0, 0xbd, 0xed, 0xb8, 0x80}));  // unit by unit
  // Room for the longest form and a terminator is required, whatever the character.
  EXPECT_EQ(utf8(u"abcd", 4), (Bytes{'a'}));
  EXPECT_EQ(utf8(u"\u20ac\u20ac", 6), (Bytes{0xe2, 0x82, 0xac}));

  struct Case {
    Bytes in;
    int32_t start;
    bool ok;
    uint16_t ch;
    int32_t next;
  };
  const Case cases[] = {
      {{0x41}, 0, true, 0x41, 1},
      {{0xc3, 0xa9}, 0, true, 0xe9, 2},
      {{0xe2, 0x82, 0xac}, 0, true, 0x20ac, 3},
      {{0xc0, 0x80}, 0, true, 0, 2},               // overlong forms stand as they are
      {{0xc3}, 0, false, 0xbeef, 1},               // cut
      {{0xe2, 0x82}, 0, false, 0xbeef, 1},         // cut
      {{0x82, 0x41}, 0, false, 0xbeef, 1},         // stray continuation
      {{0xf0, 0x9f, 0x98, 0x80}, 0, false, 0xbeef, 1},  // four-byte lead
      {{0xc3, 0x41}, 0, false, 0xbeef, 1},
      {{0x41, 0xe2, 0x82, 0xac}, 1, true, 0x20ac, 4},
  };
  for (const Case& c : cases) {
    int32_t pos = c.start;
    uint16_t ch = 0xbeef;
    EXPECT_EQ(utf8_next_char(c.in.data(), static_cast<int32_t>(c.in.size()), &pos, &ch), c.ok);
    EXPECT_EQ(ch, c.ch);
    EXPECT_EQ(pos, c.next);
  }
  uint16_t ch = 0;
  const uint8_t two[] = {0xc3, 0xa9};
  EXPECT_TRUE(utf8_next_char(two, 2, nullptr, &ch));
  EXPECT_EQ(ch, 0xe9);

  // Every 16-bit unit survives encoding and decoding.
  std::vector<uint8_t> all(3 * 65536 + 4);
  int32_t pos = 0;
  for (uint32_t c = 0; c < 65536; ++c)
    ASSERT_TRUE(buf_append_utf8(all.data(), &pos, static_cast<uint16_t>(c), static_cast<int32_t>(all.size())));
  int32_t at = 0;
  for (uint32_t c = 0; c < 65536; ++c) {
    ASSERT_TRUE(utf8_next_char(all.data(), pos, &at, &ch));
    ASSERT_EQ(ch, c);
  }
  EXPECT_EQ(at, pos);
}

TEST(Strings, DoubleByteCoding) {
  const uint8_t in[] = {0x41, 0x82, 0xa0, 0x42, 0x93};
  std::vector<uint16_t> out;
  int32_t pos = 0;
  uint16_t ch;
  while (pos < 5) {  // must end although the last byte leads a cut pair
    ASSERT_TRUE(dbcs_next_char(in, &ch, &pos, 5));
    out.push_back(ch);
  }
  EXPECT_EQ(out, (std::vector<uint16_t>{0x41, 0x82a0, 0x42, kReplacementChar}));
  EXPECT_EQ(pos, 5);

  uint8_t buf[4] = {0, 0, 0, 0};
  pos = 0;
  EXPECT_TRUE(buf_append_dbcs(0x82a0, buf, &pos, 4));
  EXPECT_TRUE(buf_append_dbcs(0x41, buf, &pos, 4));
  EXPECT_FALSE(buf_append_dbcs(0x82a0, buf, &pos, 4));  // a pair needs two bytes
  EXPECT_TRUE(buf_append_dbcs(0x7f, buf, &pos, 4));
  EXPECT_FALSE(buf_append_dbcs(0x41, buf, &pos, 4));
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(buf[0], 0x82);
  EXPECT_EQ(buf[1], 0xa0);
}

TEST(Strings, CharsetModes) {
  EngineContext ctx{};
  engine_set_charset(&ctx, 'u');
  CharsetFn bom = ctx.charset[kCharsetBom];
  CharsetFn decode = ctx.charset[kCharsetDecode];
  CharsetFn encode = ctx.charset[kCharsetEncode];
  const uint8_t mark[] = {0xef, 0xbb, 0xbf, 'x'};
  ASSERT_TRUE(bom && decode && encode);
  EXPECT_EQ(bom(mark, nullptr, nullptr, 4), 3);
  EXPECT_EQ(bom(mark, nullptr, nullptr, 2), 0);
  EXPECT_EQ(bom(mark + 1, nullptr, nullptr, 3), 0);
  uint16_t ch = 0;
  int32_t pos = 0;
  const uint8_t e_acute[] = {0xc3, 0xa9};
  EXPECT_TRUE(decode(e_acute, &ch, &pos, 2));
  EXPECT_EQ(ch, 0xe9);
  EXPECT_EQ(pos, 2);
  uint8_t buf[8];
  pos = 0;
  ch = 0x20ac;
  EXPECT_TRUE(encode(&ch, buf, &pos, 8));
  EXPECT_EQ(pos, 3);
  EXPECT_FALSE(encode(&ch, buf, &pos, 6));  // a failed write is reported

  const uint8_t pair[] = {0x41, 0x82, 0xa0, 0x93};
  for (char mode : {'s', 'G'}) {
    engine_set_charset(&ctx, mode);
    EXPECT_EQ(ctx.charset[kCharsetBom], nullptr);
    pos = 1;
    ASSERT_TRUE(ctx.charset[kCharsetDecode](pair, &ch, &pos, 4));
    EXPECT_EQ(ch, 0x82a0);
    EXPECT_EQ(pos, 3);
    EXPECT_TRUE(ctx.charset[kCharsetDecode](pair, &ch, &pos, 4));
    EXPECT_EQ(ch, kReplacementChar);
    EXPECT_EQ(pos, 4);
    pos = 0;
    EXPECT_TRUE(ctx.charset[kCharsetEncode](&ch, buf, &pos, 2));
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(buf[0], 0xff);
    EXPECT_EQ(buf[1], 0xfd);
  }
  engine_set_charset(&ctx, 'x');
  EXPECT_EQ(ctx.charset[kCharsetDecode], nullptr);
  EXPECT_EQ(ctx.charset[kCharsetEncode], nullptr);
}

struct Export {
  bool complete;
  Bytes bytes;  // without the terminator
};

Export export_text(EngineContext* ctx, int mode, const std::u16string& s, int32_t capacity) {
  Bytes buf(static_cast<size_t>(capacity) + 1, 0xaa);
  int32_t count = -1;
  bool ok = wstr_to_bytes(ctx, mode, reinterpret_cast<const uint16_t*>(s.data()),
                          static_cast<int32_t>(s.size()), buf.data(), capacity, &count);
  EXPECT_GE(count, 0);
  EXPECT_LT(count, capacity);
  EXPECT_EQ(buf[static_cast<size_t>(count)], 0);
  EXPECT_EQ(buf[static_cast<size_t>(capacity)], 0xaa);
  return {ok, Bytes(buf.begin(), buf.begin() + count)};
}

Bytes b(const char* s) { return Bytes(s, s + std::strlen(s)); }

TEST(Strings, ExportNewlineModes) {
  EngineContext ctx{};
  EXPECT_EQ(export_text(&ctx, kNewlineCR, u"a\nb", 16).bytes, b("a\rb"));
  EXPECT_EQ(export_text(&ctx, kNewlineLF, u"a\nb", 16).bytes, b("a\nb"));
  EXPECT_EQ(export_text(&ctx, kNewlineCRLF, u"a\nb\n", 16).bytes, b("a\r\nb\r\n"));
  EXPECT_EQ(export_text(&ctx, kNewlineLF, u"\u0141\u00e9", 16).bytes, (Bytes{0x41, 0xe9}));
  Export cut = export_text(&ctx, kNewlineCRLF, u"ab\ncd", 4);
  EXPECT_FALSE(cut.complete);
  EXPECT_EQ(cut.bytes, b("ab"));  // the pair does not fit before the terminator
  EXPECT_TRUE(export_text(&ctx, kNewlineCR, u"abc", 4).complete);
  EXPECT_FALSE(export_text(&ctx, kNewlineCR, u"abcd", 4).complete);

  engine_set_charset(&ctx, 'u');
  Export u = export_text(&ctx, kNewlineCRLF, u"\u00e9\n\u20ac", 16);
  EXPECT_TRUE(u.complete);
  EXPECT_EQ(u.bytes, (Bytes{0xc3, 0xa9, '\r', '\n', 0xe2, 0x82, 0xac}));
  Export short_u = export_text(&ctx, kNewlineCR, u"abcdef", 8);  // stops with 5 bytes left
  EXPECT_FALSE(short_u.complete);
  EXPECT_EQ(short_u.bytes, b("abcd"));

  engine_set_charset(&ctx, 's');
  EXPECT_EQ(export_text(&ctx, kNewlineCR, u"A\u82a0\n", 16).bytes, (Bytes{0x41, 0x82, 0xa0, '\r'}));
}

}  // namespace

namespace {

// Text that becomes source or a name is one byte a character; a character
// above 255 is refused whole, never cut to its low byte (U+0127 would be a
// quote, U+0161 the letter 'a').
TEST(Strings, NamesRefuseCharactersAboveAByte) {
  struct Case {
    std::u16string text;
    int status;
  };
  const Case cases[] = {
      {u"", kOk},          {u"abs", kOk},        {u"\u00e9t\u00ff", kOk},
      {u"1\u0127+2", kUnknownCharset}, {u"\u0161", kUnknownCharset},
      {u"ab\u0173", kUnknownCharset},  {u"x\u0100", kUnknownCharset},
      {u"\u20ac", kUnknownCharset},    {u"\xd800", kUnknownCharset},
  };
  for (const Case& k : cases) {
    // Characters at an odd address, as in a text moved in the free space.
    std::vector<uint8_t> at(2 * k.text.size() + 1);
    std::memcpy(at.data() + 1, k.text.data(), 2 * k.text.size());
    std::string out(k.text.size(), '#');
    EXPECT_EQ(wchars_to_name_bytes(at.data() + 1, int64_t(k.text.size()), out.data()), k.status);
    std::string want(k.text.size(), '#');  // a refusal writes nothing
    if (k.status == kOk)
      for (size_t i = 0; i < k.text.size(); ++i) want[i] = char(k.text[i]);
    EXPECT_EQ(out, want);
  }
}

// With UTF-8 selected every character is written as its UTF-8 bytes, and a
// surrogate unit, which is no character by itself, as U+FFFD.
TEST(Strings, Utf8OutputIsWellFormed) {
  EngineContext ctx{};
  engine_set_charset(&ctx, 'u');
  const std::u16string text = u"A\u00e9\u20ac\xd800x\xdc00\n";
  uint8_t buf[64];
  int32_t n = 0;
  ASSERT_TRUE(wstr_to_bytes(&ctx, kNewlineLF, reinterpret_cast<const uint16_t*>(text.data()),
                            int32_t(text.size()), buf, sizeof buf, &n));
  EXPECT_EQ(Bytes(buf, buf + n), (Bytes{0x41, 0xc3, 0xa9, 0xe2, 0x82, 0xac, 0xef, 0xbf, 0xbd, 0x78,
                                        0xef, 0xbf, 0xbd, '\n'}));
  engine_set_charset(&ctx, 0);  // no charset: low bytes, as before
  ASSERT_TRUE(wstr_to_bytes(&ctx, kNewlineLF, reinterpret_cast<const uint16_t*>(text.data()), 3, buf,
                            sizeof buf, &n));
  EXPECT_EQ(Bytes(buf, buf + n), (Bytes{0x41, 0xe9, 0xac}));
}

}  // namespace
