// The UTF-8 conversion of the drawing driver, case by case against a table.
#include <gtest/gtest.h>

#include <string>

#include "platform/utf8_text.h"

namespace {

std::u16string convert(const std::string& bytes) {
  QString out;
  cstring_from_utf8(bytes.data(), int32_t(bytes.size()), &out);
  return std::u16string(reinterpret_cast<const char16_t*>(out.utf16()), size_t(out.size()));
}

TEST(Utf8Text, ConversionTable) {
  struct Row {
    const char* name;
    std::string in;
    std::u16string out;
  } rows[] = {
      {"empty", "", u""},
      {"ascii", "Ax 0", u"Ax 0"},
      {"two-byte", "\xC3\xA9", u"\u00E9"},
      {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
      {"four-byte to a surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"largest code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
      {"stray continuation", "\x80" "a", u"\u0080a"},
      {"truncated two-byte at the end", "a\xC3", u"a\u00C3"},
      {"truncated three-byte", "\xE2\x82" "b", u"\u00E2\u0082b"},
      {"lead then ascii", "\xC3" "A", u"\u00C3A"},
      {"overlong two-byte", "\xC0\xAF", u"\u00C0\u00AF"},
      {"overlong three-byte", "\xE0\x80\xAF", u"\u00E0\u0080\u00AF"},
      {"encoded surrogate", "\xED\xA0\x80", u"\u00ED\u00A0\u0080"},
      {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
      {"overlong four-byte", "\xF0\x80\x80\x80", u"\u00F0\u0080\u0080\u0080"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080"},
      {"F5 to FF", "\xF5\xFF", u"\u00F5\u00FF"},
      {"four-byte cut short", "\xF0\x9F\x98", u"\u00F0\u009F\u0098"},
      {"mixed", "x\xC3\xA9\xFFy\xE2\x82\xAC", u"x\u00E9\u00FFy\u20AC"},
  };
  for (const Row& r : rows) EXPECT_EQ(convert(r.in), r.out) << r.name;
}

TEST(Utf8Text, NegativeLengthIsEmptyAndOutputReplaced) {
  QString out = QStringLiteral("old");
  cstring_from_utf8("abc", -1, &out);
  EXPECT_TRUE(out.isEmpty());
  cstring_from_utf8("ab", 1, &out);
  EXPECT_EQ(out, QStringLiteral("a"));
}

}  // namespace

namespace {

// The two policies of one decoder and the encoder, on one table: kept is the
// drawing driver's reading, skipped the host's.
TEST(Utf8Text, PoliciesAndRoundTrip) {
  struct Row {
    std::string in;
    std::u16string kept, skipped;
  } rows[] = {
      {"\xC3\xA9", u"\u00E9", u"\u00E9"},
      {"a\xC3", u"a\u00C3", u"a"},
      {"\x80" "b", u"\u0080b", u"b"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00", u"\xD83D\xDE00"},
      {"\xED\xA0\x80" "c", u"\u00ED\u00A0\u0080c", u"c"},
      {"x\xFFy\xE2\x82\xAC", u"x\u00FFy\u20AC", u"xy\u20AC"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(convert(r.in), r.kept) << r.in;
    const QString s = cstring_from_bytes(r.in.data(), int32_t(r.in.size()));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())), r.skipped) << r.in;
    // What the host decodes encodes back to well-formed bytes that decode the same.
    const QByteArray back = cstring_to_bytes(s);
    EXPECT_EQ(cstring_from_bytes(back.constData(), int32_t(back.size())), s);
  }
  EXPECT_EQ(cstring_to_bytes(QString::fromUtf16(u"\xD83D\xDE00")), QByteArray("\xF0\x9F\x98\x80"));
  EXPECT_EQ(cstring_to_bytes(QString::fromUtf16(u"\u00E9\u20AC")), QByteArray("\xC3\xA9\xE2\x82\xAC"));
  EXPECT_EQ(cstring_from_cstr(nullptr), QString());
  EXPECT_EQ(cstring_from_cstr("\xC3\xA9z"), QString::fromUtf16(u"\u00E9z"));
}

TEST(Utf8Text, CutNeverSplitsASequence) {
  const std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // 1, 2, 3, 4 bytes
  const int32_t n = int32_t(s.size());
  const int32_t expect[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  for (int32_t cap = 0; cap <= n + 1; ++cap)
    EXPECT_EQ(utf8_cut_length(s.data(), n, cap), expect[cap]) << cap;
  // Stray continuation bytes are no sequence: cut where asked.
  EXPECT_EQ(utf8_cut_length("\x80\x80\x80\x80\x80\x80", 6, 5), 5);
}

}  // namespace
