// String operations of the value stack: round trips between 8- and 16-bit
// text and character rows, text read from the free space, and the host
// charset's decoding and encoding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"

namespace {

class ValueStrings : public ::testing::Test {
 protected:
  TestContext t = make_test_context(1 << 16);
  EngineContext* c = t.ctx();

  std::vector<uint16_t> chars_at(int depth) {
    uint16_t* d;
    int64_t n;
    EXPECT_TRUE(stk_is_char(c, depth));
    stk_get_typed_array(c, depth, nullptr, nullptr, &n, nullptr, nullptr, reinterpret_cast<void**>(&d));
    return std::vector<uint16_t>(d, d + n);
  }
};

using U16 = std::vector<uint16_t>;

TEST_F(ValueStrings, EightAndSixteenBitRoundTrips) {
  ASSERT_EQ(stk_push_cstr(c, -1, "h\xe9llo"), kOk);
  EXPECT_EQ(chars_at(0), (U16{'h', 0xe9, 'l', 'l', 'o'}));  // bytes zero-extended
  ASSERT_EQ(stk_push_cstr(c, 3, "abcdef"), kOk);
  ASSERT_EQ(stk_push_wstr(c, -1, u"\u20acx"), kOk);
  EXPECT_EQ(chars_at(0), (U16{0x20ac, 'x'}));
  ASSERT_EQ(stk_push_cstr(c, 0, ""), kOk);
  EXPECT_TRUE(check_stack_invariants(c));

  char buf[16];
  int32_t len;
  ASSERT_EQ(stk_pop_string_buf(c, buf, 0, &len), kOk);  // empty fits any buffer with a length
  EXPECT_EQ(len, 0);
  // Its readers take names and source: a character above 255 has no byte.
  EXPECT_EQ(stk_pop_string_buf(c, buf, sizeof buf, nullptr), kUnknownCharset);
  stk_drop(c);
  ASSERT_EQ(stk_push_wstr(c, -1, u"\u00ffx"), kOk);
  ASSERT_EQ(stk_pop_string_buf(c, buf, sizeof buf, nullptr), kOk);
  EXPECT_STREQ(buf, "\xff" "x");
  ASSERT_EQ(stk_get_string_buf(c, 0, buf, 3, &len), kOk);
  EXPECT_EQ(std::string(buf, len), "abc");
  EXPECT_EQ(stk_get_string_buf(c, 0, buf, 3, nullptr), kObjectTooLarge);
  ASSERT_EQ(stk_get_string_buf(c, 0, buf, 4, nullptr), kOk);
  EXPECT_STREQ(buf, "abc");
  EXPECT_EQ(stk_get_string_buf(c, 1, buf, 4, nullptr), kObjectTooLarge);  // 5 characters
  EXPECT_EQ(stk_get_string_buf(c, 1, buf, 4, &len), kObjectTooLarge);
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  EXPECT_EQ(stk_get_string_buf(c, 0, buf, 4, &len), kWrongType);
  EXPECT_EQ(stk_pop_string_buf(c, buf, 4, &len), kWrongType);
  EXPECT_EQ(c->desc_top, 9);
}

TEST_F(ValueStrings, TextFromTheFreeSpaceIsReadBeforeItIsOverwritten) {
  // Built-ins format into the free data space and push from there.
  const char text[] = "scratch text longer than a header";
  const int64_t n = sizeof text - 1;
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  for (int offset : {0, 3, 16, 17, 40, 90}) {
    SCOPED_TRACE(offset);
    auto* scratch = reinterpret_cast<char*>(data_words(c) + c->data_top) + offset;
    std::memcpy(scratch, text, n + 1);
    ASSERT_EQ(stk_push_cstr(c, -1, scratch), kOk);
    EXPECT_EQ(chars_at(0), U16(text, text + n));
    stk_drop(c);
    std::memcpy(scratch, text, n + 1);
    ASSERT_EQ(stk_push_bytes(c, -1, scratch), kOk);
    EXPECT_EQ(chars_at(0), U16(text, text + n));
    stk_drop(c);
    EXPECT_TRUE(check_stack_invariants(c));
  }
}

// A double-byte character set: a byte from 128 leads a pair.
int decode_pairs(const void* in, void* out, void* state, int n) {
  auto* b = static_cast<const uint8_t*>(in);
  auto* pos = static_cast<int32_t*>(state);
  if (b[*pos] < 128) {
    *static_cast<uint16_t*>(out) = b[(*pos)++];
    return 1;
  }
  if (*pos + 1 >= n) {
    ++*pos;
    return 0;
  }
  *static_cast<uint16_t*>(out) = static_cast<uint16_t>(b[*pos] << 8 | b[*pos + 1]);
  *pos += 2;
  return 1;
}

int encode_utf8(const void* in, void* out, void* state, int cap) {
  uint16_t ch = *static_cast<const uint16_t*>(in);
  auto* b = static_cast<uint8_t*>(out);
  auto* pos = static_cast<int32_t*>(state);
  int need = ch < 0x80 ? 1 : ch < 0x800 ? 2 : 3;
  if (*pos + need > cap) return 0;
  if (need == 1) {
    b[(*pos)++] = static_cast<uint8_t>(ch);
  } else if (need == 2) {
    b[(*pos)++] = static_cast<uint8_t>(0xc0 | ch >> 6);
    b[(*pos)++] = static_cast<uint8_t>(0x80 | (ch & 63));
  } else {
    b[(*pos)++] = static_cast<uint8_t>(0xe0 | ch >> 12);
    b[(*pos)++] = static_cast<uint8_t>(0x80 | (ch >> 6 & 63));
    b[(*pos)++] = static_cast<uint8_t>(0x80 | (ch & 63));
  }
  return 1;
}

TEST_F(ValueStrings, HostCharsetDecodingAndEncoding) {
  auto push_raw_bytes = [&](const std::string& s) {
    int32_t len = -2;
    uint16_t* d;
    ASSERT_EQ(stk_push_str_buffer2(c, &len, &d), kOk);
    std::memcpy(d, s.data(), s.size());
  };
  push_raw_bytes("a\x81\x40z\x90");
  ASSERT_EQ(stk_pop_bytes_via_host(c, 5), kOk);  // no callback: byte by byte
  EXPECT_EQ(chars_at(0), (U16{'a', 0x81, 0x40, 'z', 0x90}));
  c->charset[kCharsetDecode] = decode_pairs;
  push_raw_bytes("a\x81\x40z\x90");
  ASSERT_EQ(stk_pop_bytes_via_host(c, 5), kOk);
  EXPECT_EQ(chars_at(0), (U16{'a', 0x8140, 'z', 0x90}));  // a lone lead byte stands for itself
  EXPECT_TRUE(check_stack_invariants(c));

  // Encoding replaces the character array at its depth; the items above stay.
  ASSERT_EQ(stk_push_wstr(c, -1, u"A\u00e9\u20ac"), kOk);
  ASSERT_EQ(stk_push_real(c, 42), kOk);
  uint8_t* bytes;
  int32_t len;
  ASSERT_EQ(stk_get_wstring(c, 1, 1, &bytes, &len), kOk);  // no encoder: low bytes
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), len + 1), std::string("A\xe9\xac\0", 4));
  EXPECT_EQ(stk_get_wstring(c, 1, 0, &bytes, &len), kWrongType);  // no longer characters
  stk_drop(c);
  stk_drop(c);
  c->charset[kCharsetEncode] = encode_utf8;
  ASSERT_EQ(stk_push_wstr(c, -1, u"A\u00e9\u20ac"), kOk);
  ASSERT_EQ(stk_push_real(c, 42), kOk);
  ASSERT_EQ(stk_get_wstring(c, 1, 0, &bytes, &len), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), len), "A\xc3\xa9\xe2\x82\xac");
  int dims_nd;
  const uint32_t* dims;
  ASSERT_EQ(stk_get_array_info(c, 1, &dims_nd, &dims, nullptr), kOk);
  EXPECT_EQ(dims[1], 6u);
  double v;
  ASSERT_EQ(stk_get_real_scalar(c, 0, &v), kOk);
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(check_stack_invariants(c));

  // The encoder runs out of room: nothing changes.
  ASSERT_EQ(stk_push_wstr(c, -1, u"\u20ac\u20ac\u20ac\u20ac\u20ac"), kOk);
  t.set_capacity(c->data_top + 4, 1000);
  StackSnapshot before = snapshot_stacks(c);
  EXPECT_EQ(stk_get_wstring(c, 0, 1, &bytes, &len), kDataStackOverflow);
  EXPECT_TRUE(snapshot_stacks(c) == before);
}

}  // namespace
