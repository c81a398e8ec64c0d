// MD5 and SHA-1: the published vectors, generated messages against hashlib
// (refdata/make_digests.py), feeding in pieces, and the built-ins from ZVR
// code: strings, integer arrays, streams read through a "+read" hook, the
// abort poll and the stacks after every error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "engine/core/frames.h"
#include "engine/core/streams.h"
#include "numlib/misc/digest.h"
#include "numlib/misc/sha1_blocks.h"
#include "support/zvr_session.h"

namespace {

std::string md5_of(const std::string& s, size_t piece = 0) {
  Md5Context m;
  md5_init(&m);
  const auto* b = reinterpret_cast<const uint8_t*>(s.data());
  if (piece == 0) md5_update(&m, b, s.size());
  for (size_t at = 0; piece && at < s.size(); at += piece) md5_update(&m, b + at, std::min(piece, s.size() - at));
  md5_final(&m);
  char hex[kMd5HexChars];
  md5_hex(&m, hex);
  return std::string(hex, kMd5HexChars);
}

std::string sha1_of(const std::string& s, size_t piece = 0) {
  Sha1Context m;
  sha1_init(&m);
  const auto* b = reinterpret_cast<const uint8_t*>(s.data());
  if (piece == 0) sha1_update(&m, b, s.size());
  for (size_t at = 0; piece && at < s.size(); at += piece) sha1_update(&m, b + at, std::min(piece, s.size() - at));
  sha1_final(&m);
  char hex[kSha1HexChars];
  sha1_hex_digest(&m, hex);
  return std::string(hex, kSha1HexChars);
}

TEST(Md5, Rfc1321Vectors) {
  EXPECT_EQ(md5_of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5_of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Sha1, Fips180Vectors) {
  EXPECT_EQ(sha1_of(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(sha1_of("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha1_of(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

std::string lcg_bytes(size_t n, uint32_t x) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    x = 1664525u * x + 1013904223u;
    s[i] = char(x >> 24);
  }
  return s;
}

struct RefLine {
  std::string kind;
  uint64_t length = 0;
  uint32_t seed = 0;
  std::string md5, sha1;
};

std::vector<RefLine> ref_lines() {
  std::ifstream in(TN_MISC_REFDATA "/digests.txt");
  std::vector<RefLine> out;
  RefLine r;
  while (in >> r.kind >> r.length >> r.seed >> r.md5 >> r.sha1) out.push_back(r);
  return out;
}

// Boundary lengths (55, 56, 63, 64, 65, ...) and random data up to 1 MiB,
// fed at once and in uneven pieces.
TEST(Digests, GeneratedMessagesMatchHashlib) {
  const auto lines = ref_lines();
  ASSERT_GE(lines.size(), 30u);
  for (const RefLine& r : lines) {
    if (r.kind != "lcg") continue;
    const std::string data = lcg_bytes(size_t(r.length), r.seed);
    EXPECT_EQ(md5_of(data), r.md5) << r.length;
    EXPECT_EQ(sha1_of(data), r.sha1) << r.length;
    EXPECT_EQ(md5_of(data, 7), r.md5) << r.length;
    EXPECT_EQ(sha1_of(data, 61), r.sha1) << r.length;
  }
}

// The processor's SHA-1 instructions against the portable compression, block
// runs of every length to 40 from random states and data (skipped where the
// processor lacks them; the vectors above then cover the portable path alone).
TEST(Sha1, HardwareBlocksMatchThePortableTransform) {
  if (!sha1_blocks_hw_available()) GTEST_SKIP() << "no SHA instructions";
  uint64_t x = 0x9e3779b97f4a7c15u;
  auto next = [&x] {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    return x;
  };
  for (int round = 0; round < 200; ++round) {
    const uint64_t blocks = 1 + next() % 40;
    std::vector<uint8_t> data(blocks * kDigestBlockBytes);
    for (uint8_t& b : data) b = uint8_t(next() >> 56);
    Sha1Context model;
    sha1_init(&model);
    for (uint32_t& w : model.state) w = uint32_t(next());
    uint32_t hw[kSha1StateWords];
    std::copy(model.state, model.state + kSha1StateWords, hw);
    for (uint64_t b = 0; b < blocks; ++b) sha1_transform(&model, data.data() + b * kDigestBlockBytes);
    sha1_blocks_hw(hw, data.data(), blocks);
    ASSERT_TRUE(std::equal(hw, hw + kSha1StateWords, model.state)) << "round " << round << ", " << blocks << " blocks";
  }
}

// 2^29 + 5 bytes: the bit length needs its upper word.
TEST(Digests, BitLengthBeyond32Bits) {
  for (const RefLine& r : ref_lines()) {
    if (r.kind != "zero") continue;
    const std::vector<uint8_t> chunk(1 << 20, 0);
    Md5Context m;
    Sha1Context s;
    md5_init(&m);
    sha1_init(&s);
    for (uint64_t left = r.length; left > 0;) {
      const uint64_t k = std::min<uint64_t>(left, chunk.size());
      md5_update(&m, chunk.data(), k);
      sha1_update(&s, chunk.data(), k);
      left -= k;
    }
    md5_final(&m);
    sha1_final(&s);
    char h1[kMd5HexChars], h2[kSha1HexChars];
    md5_hex(&m, h1);
    sha1_hex_digest(&s, h2);
    EXPECT_EQ(std::string(h1, kMd5HexChars), r.md5);
    EXPECT_EQ(std::string(h2, kSha1HexChars), r.sha1);
  }
}

// --- The built-ins from ZVR code -----------------------------------------------

constexpr int32_t kFileFd = 4000;

// A "+read" hook serving one host file on kFileFd, a chunk at a time.
struct FileSource {
  std::FILE* f = nullptr;
  int controls = 0;
  int reads = 0;
};

int file_read(EngineContext*, int32_t fd, char* buf, int32_t cap, int32_t* count, uintptr_t user) {
  if (fd != kFileFd) return kNotMyDescriptor;
  auto* src = reinterpret_cast<FileSource*>(user);
  ++src->reads;
  const size_t n = std::fread(buf, 1, size_t(std::min(cap, 3000)), src->f);
  *count = int32_t(n);
  return n == 0 ? kEndOfFile : kOk;
}

int file_control(EngineContext*, int32_t fd, uint32_t request, uint32_t*, uintptr_t user) {
  if (fd != kFileFd) return kNotMyDescriptor;
  if (request == kIoReqRawRead) ++reinterpret_cast<FileSource*>(user)->controls;
  return kOk;
}

class DigestBuiltins : public ::testing::Test {
 protected:
  void SetUp() override {
    // CTest runs the cases of this fixture in parallel processes: each has a file of its own.
    path_ = ::testing::TempDir() + "digest_stream_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    std::ofstream(path_, std::ios::binary) << lcg_bytes(100003, 1);
    src_.f = std::fopen(path_.c_str(), "rb");
    ASSERT_NE(src_.f, nullptr);
    const auto user = reinterpret_cast<uintptr_t>(&src_);
    rows_[0] = stream_hook_row(kHookRead, file_read, kReadBuffered, user);
    rows_[1] = stream_hook_row(kHookControl, file_control, 0, user);
    ASSERT_EQ(engine_register_builtin_table(z.c, rows_, 0), kOk);
  }
  void TearDown() override {
    if (src_.f) std::fclose(src_.f);
    std::remove(path_.c_str());
    EXPECT_TRUE(z.clean());
  }
  ZvrSession z;
  FileSource src_;
  std::string path_;
  BuiltinEntry rows_[3]{};
};

TEST_F(DigestBuiltins, StringsAndIntegerArrays) {
  EXPECT_EQ(z.value("md5('abc')"), "'900150983cd24fb0d6963f7d28e17f72'");
  EXPECT_EQ(z.value("sha1('')"), "'da39a3ee5e6b4b0d3255bfef95601890afd80709'");
  EXPECT_EQ(z.value("md5(uint8([97 98 99]))"), z.value("md5('abc')"));
  // An int32 array: every byte, little-endian.
  const std::string le("\x01\x00\x00\x00\xfe\xff\xff\xff\x00\x01\x00\x00", 12);
  EXPECT_EQ(z.value("md5(int32([1 -2 256]))"), "'" + md5_of(le) + "'");
  EXPECT_EQ(z.value("sha1(int32([1; -2; 256]))"), "'" + sha1_of(le) + "'");
  EXPECT_EQ(z.value("sha1(uint64(2^40))"), "'" + sha1_of(std::string("\0\0\0\0\0\1\0\0", 8)) + "'");
}

TEST_F(DigestBuiltins, StreamToItsEndThenTheEmptyRemainder) {
  const std::string data = lcg_bytes(100003, 1);
  EXPECT_EQ(z.value("md5(4000)"), "'" + md5_of(data) + "'");
  EXPECT_EQ(src_.controls, 1);
  EXPECT_GT(src_.reads, 30);  // the hook's chunks, not one read
  EXPECT_EQ(z.value("md5(4000)"), "'d41d8cd98f00b204e9800998ecf8427e'");
  std::rewind(src_.f);
  EXPECT_EQ(z.value("sha1(4000)"), "'" + sha1_of(data) + "'");
}

TEST_F(DigestBuiltins, ErrorsLeaveTheStacks) {
  EXPECT_EQ(z.value("md5({1})"), "error 44");
  EXPECT_EQ(z.value("sha1(struct('a', 1))"), "error 44");
  EXPECT_EQ(z.value("md5([1 2])"), "error 104");
  EXPECT_EQ(z.value("md5(2.5)"), "error 102");
  EXPECT_EQ(z.value("md5(4001)"), "error 301");  // no library owns it
  EXPECT_EQ(z.value("md5('a', 'b')"), "error " + std::to_string(kWrongNargin));
}

uint8_t always_abort(void*) { return 1; }

TEST_F(DigestBuiltins, AbortPollStopsAStream) {
  engine_set_option_pair(z.c, always_abort, nullptr);
  EXPECT_EQ(z.value("sha1(4000)"), "error 501");
  engine_set_option_pair(z.c, nullptr, nullptr);
  EXPECT_EQ(src_.reads, 1);
}

}  // namespace
