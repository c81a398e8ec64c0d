// Gray code and base64: the routines against their definitions (Gray code as
// x ^ x >> 1 and its inverse by search, base64 against the RFC 4648 vectors),
// and the built-ins on every class they take, with their round trips.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/lib/bit_ops.h"
#include "engine/lib/gray_base64.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

namespace {

TEST(GrayCode, DecodeInvertsEncodeAndNeighboursDifferInOneBit) {
  for (uint32_t x = 0; x <= 0xFFFF; ++x) {
    ASSERT_EQ(gray_decode32(gray_encode32(x)), x);
    ASSERT_EQ(__builtin_popcount(gray_encode32(x) ^ gray_encode32(x + 1)), 1);
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t x = rng() >> (rng() % 64);
    ASSERT_EQ(gray_decode64(gray_encode64(x)), x);
    ASSERT_EQ(gray_decode32(gray_encode32(uint32_t(x))), uint32_t(x));
    ASSERT_EQ(__builtin_popcountll(gray_encode64(x) ^ gray_encode64(x + 1)), x == ~uint64_t{0} ? 1 : 1);
    // The decoded value is the prefix exclusive-or of its bits.
    uint64_t want = 0, acc = 0;
    for (int b = 63; b >= 0; --b) {
      acc ^= (x >> b) & 1;
      want |= acc << b;
    }
    ASSERT_EQ(gray_decode64(x), want);
  }
}

std::string encode(const std::string& in, int64_t cap = 1 << 16) {
  std::vector<uint8_t> out(size_t(cap) + 1);
  int64_t n = 0;
  if (base64_encode_block(reinterpret_cast<const uint8_t*>(in.data()), int64_t(in.size()), out.data(), cap, &n) != kOk)
    return "error";
  return std::string(out.begin(), out.begin() + n);
}

std::string decode(const std::string& in, int64_t cap = 1 << 16) {
  std::vector<uint8_t> out(size_t(cap) + 1);
  int64_t n = 0;
  if (base64_decode_buffer(reinterpret_cast<const uint8_t*>(in.data()), int64_t(in.size()), out.data(), cap, &n) != kOk)
    return "error";
  return std::string(out.begin(), out.begin() + n);
}

TEST(Base64, RfcVectorsLinesAndShortGroups) {
  const std::pair<std::string, std::string> rfc[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                                                     {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
                                                     {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, text] : rfc) {
    EXPECT_EQ(encode(plain), text);
    EXPECT_EQ(decode(text), plain);
  }
  EXPECT_EQ(encode(std::string(45, 'a')).size(), 60u);
  const std::string two = encode(std::string(46, 'a'));
  ASSERT_EQ(two.size(), 65u);
  EXPECT_EQ(two[60], '\n');
  EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 1);
  EXPECT_EQ(encode(std::string(90, 'a')).size(), 121u);   // two full lines
  EXPECT_EQ(encode(std::string(91, 'a')).size(), 126u);   // and a third
  EXPECT_EQ(decode("TW Fu"), "Man");
  EXPECT_EQ(decode("TQ"), "M");
  EXPECT_EQ(decode("TWE"), "Ma");
  EXPECT_EQ(decode("T"), "");
  EXPECT_EQ(decode(" \n\tTWFu\r\nTWFu  "), "ManMan");
  EXPECT_EQ(decode("TQ==TWFu"), "M");  // padding ends the text
  // Room: five bytes before every encoded group, three before a decoded one.
  EXPECT_EQ(encode("Man", 4), "error");
  EXPECT_EQ(encode("Man", 5), "TWFu");
  EXPECT_EQ(decode("TWFu", 2), "error");
  EXPECT_EQ(decode("TWFu", 3), "Man");
}

// A started engine with room for the large sampled operands.
class GrayBase64Builtins : public ::testing::Test {
 protected:
  StartedEngine e{1u << 25};
  EngineContext* c = e.c;
  void TearDown() override {
    EXPECT_TRUE(e.invariants());
    e.clear();
  }
};

TEST_F(GrayBase64Builtins, GraycodeKeepsTheClassAndRoundTrips) {
  std::mt19937_64 rng(11);
  for (uint32_t type : {uint32_t{kElemU8}, uint32_t{kElemI8}, uint32_t{kElemU16}, uint32_t{kElemI32},
                        uint32_t{kElemU32}, uint32_t{kElemU64}, uint32_t{kElemI64}}) {
    const int w = int(type & 127) * 8;
    std::vector<int64_t> v;
    const size_t n = w <= 16 ? size_t{1} << w : 100000;
    for (size_t i = 0; i < n; ++i) v.push_back(w <= 16 ? int64_t(i) : int64_t(rng()));
    for (auto& x : v)
      if (w < 64) x = (type & kElemUnsigned) ? int64_t(uint64_t(x) & ((uint64_t{1} << w) - 1)) : int64_t(int64_t(uint64_t(x) << (64 - w)) >> (64 - w));
    tv::push_ints(c, type, tv::row_dims(n), v);
    ASSERT_EQ(bi_graycode(c, 1, 1, 'g'), kOk);
    const tv::Value g = tv::read(c);
    for (size_t i = 0; i < n; ++i) {
      const uint64_t mask = w == 64 ? ~uint64_t{0} : (uint64_t{1} << w) - 1;
      ASSERT_EQ(uint64_t(g.ints[i]) & mask, gray_encode64(uint64_t(v[i]) & mask));
    }
    ASSERT_EQ(bi_graycode(c, 1, 1, 'i'), kOk);
    const tv::Value back = tv::read(c);
    EXPECT_EQ(back.cls, g.cls);
    EXPECT_EQ(back.ints, v);
    stk_drop(c);
  }
  // Doubles below 2^53, and a complex argument made real.
  std::vector<double> d;
  for (int i = 0; i < 100000; ++i) d.push_back(double(rng() >> 11));
  tv::push_row(c, d);
  ASSERT_EQ(bi_graycode(c, 1, 1, 'g'), kOk);
  ASSERT_EQ(bi_graycode(c, 1, 1, 'i'), kOk);
  EXPECT_EQ(tv::read(c).re, d);
  stk_drop(c);
  tv::push_row(c, {5, 7}, {1, 2});
  ASSERT_EQ(bi_graycode(c, 1, 1, 'g'), kOk);
  const tv::Value r = tv::read(c);
  EXPECT_FALSE(r.cplx);
  EXPECT_EQ(r.re, (std::vector<double>{7, 4}));
  stk_drop(c);
  tv::push_single(c, {1, 1}, {1});
  EXPECT_EQ(bi_graycode(c, 1, 1, 'g'), kWrongArgType);
}

TEST_F(GrayBase64Builtins, Base64RoundTripsCharsAndBytes) {
  std::mt19937_64 rng(12);
  for (int trial = 0; trial < 60; ++trial) {
    const size_t n = trial == 0 ? 0 : rng() % 2001;
    std::u16string chars;
    std::vector<int64_t> bytes;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t b = uint8_t(rng());
      chars.push_back(char16_t(b));
      bytes.push_back(b);
    }
    const bool as_chars = trial % 2 == 0;
    if (as_chars)
      tv::push_chars(c, chars);
    else
      tv::push_ints(c, kElemU8, tv::row_dims(n), bytes);
    ASSERT_EQ(bi_base64encode(c, 1, 1, 'e'), kOk);
    const tv::Value text = tv::read(c);
    EXPECT_EQ(text.cls, "char");
    const size_t groups = (n + 2) / 3;
    EXPECT_EQ(text.ints.size(), 4 * groups + (groups > 0 ? (groups - 1) / 15 : 0));
    ASSERT_EQ(bi_base64encode(c, 1, 1, 'd'), kOk);
    const tv::Value back = tv::read(c);
    EXPECT_EQ(back.cls, "char");
    EXPECT_EQ(back.ints, bytes);
    stk_drop(c);
  }
  // Wider elements give their low bytes.
  tv::push_ints(c, kElemI32, tv::row_dims(3), {0x14D, 0x261, -146});
  ASSERT_EQ(bi_base64encode(c, 1, 1, 'e'), kOk);
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{'T', 'W', 'F', 'u'}));
  stk_drop(c);
  tv::push_row(c, {77, 97, 110});
  EXPECT_EQ(bi_base64encode(c, 1, 1, 'e'), kWrongArgType);
}

}  // namespace
