// The FFT's results bit for bit: hashes of its outputs on fixed inputs of
// every kind of length and layout, taken from the kernels as they were before
// the twiddle tables were cached and interleaved vectors batched, so any
// change in rounding shows; then the same bits when the cache refuses every
// table, and from threads sharing the cache while tables come and go.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "numlib/fft.h"
#include "numlib/fft_twiddles.h"

namespace {

// Inputs from a fixed generator (the same bits on every machine), with NaN,
// infinities, signed zeros and subnormals planted in some cases.
struct BitsCase {
  int32_t n, stride, count, dist;
  bool real, inverse;
  int specials;
};

double next_input(uint64_t* state) {
  *state = *state * 6364136223846793005ull + 1442695040888963407ull;
  return double(int64_t(*state >> 11) - (int64_t{1} << 52)) / double(int64_t{1} << 52);
}
double special_value(int k) {
  static const double v[] = {0.0, -0.0, INFINITY, -INFINITY, NAN, 1e-310, -1e308, 1.0};
  return v[k & 7];
}
// Every NaN hashes as one: which operand's NaN an addition passes on (and so
// its sign) is the compiler's choice of operand order, not the kernel's.
uint64_t fnv(const std::vector<double>& a, uint64_t h) {
  for (double v : a) {
    if (std::isnan(v)) v = NAN;
    unsigned char p[sizeof v];
    std::memcpy(p, &v, sizeof v);
    for (unsigned char byte : p) {
      h ^= byte;
      h *= 1099511628211ull;
    }
  }
  return h;
}

// The case's output arrays (gaps included) hashed; the input is seeded by the
// case's index, so every case stands alone.
uint64_t run_bits_case(const BitsCase& k, int index) {
  uint64_t state = 0x9E3779B97F4A7C15ull * uint64_t(index + 1);
  const int64_t span = int64_t(k.n - 1) * k.stride + int64_t(k.count - 1) * k.dist + 1;
  const size_t len = size_t(span);
  std::vector<double> ir(len), ii(len), orr(len, 7.5), oi(len, -7.5);
  for (double& v : ir) v = next_input(&state);
  for (double& v : ii) v = next_input(&state);
  for (int s = 0; s < k.specials; ++s) {
    ir[size_t((int64_t(s) * 7919) % span)] = special_value(s);
    ii[size_t((int64_t(s) * 104729) % span)] = special_value(s + 3);
  }
  std::vector<double> work(size_t(numk_fft_work_doubles(k.n)));
  const int r = numk_fft(ir.data(), k.real ? nullptr : ii.data(), k.n, k.stride, k.count, k.dist, orr.data(),
                         oi.data(), k.inverse ? 1 : 0, work.data(), int64_t(work.size()), nullptr);
  return r == kFftDone ? fnv(orr, fnv(oi, 1469598103934665603ull)) : uint64_t(r);
}

// Lengths of every kind (powers of two around the cache-block and batch
// thresholds, odd factors, mixed, a prime), real pairs, and the interleaved
// batches of a pass over a leading dimension, with and without gaps.
std::vector<BitsCase> bits_cases() {
  std::vector<BitsCase> v;
  for (int inv = 0; inv < 2; ++inv) {
    const bool i = inv != 0;
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 25, 30, 32, 49, 60, 64, 77, 96, 100, 121, 128, 243,
                  255, 256, 360, 512, 1000, 1024, 2187, 4096, 6144, 8192, 10007, 16384, 65536, 98304, 531441,
                  7168, 20480, 1 << 20})
      v.push_back({n, 1, 1, 1, false, i, n % 7});
    for (int n : {2, 6, 64, 100, 1024, 3000, 8192})
      v.push_back({n, 1, 2, n, true, i, 0});
    const int shapes[][2] = {{4, 3}, {8, 8}, {16, 5}, {64, 64}, {128, 33}, {1024, 16}, {1024, 1024},
                             {12, 7}, {30, 30}, {2048, 3}, {96, 40}, {8192, 20}, {4, 1000}, {20, 64}};
    for (const auto& s : shapes) {
      v.push_back({s[0], s[1], s[1], 1, false, i, s[0] % 3});
      if (s[1] % 2 == 0) v.push_back({s[0], s[1], s[1], 1, true, i, 0});
    }
    v.push_back({64, 10, 3, 2, false, i, 0});
    v.push_back({256, 9, 4, 2, false, i, 1});
    v.push_back({60, 9, 4, 2, false, i, 0});
    v.push_back({1024, 1, 9, 1024, false, i, 2});
  }
  return v;
}

// Computed by the kernels before the cache, on the cases above in order
// (every NaN hashed as one);
// the prime 10007 (cases 35 and 112, whose planted infinities make every
// output NaN either way) since its factor goes through the chirp convolution.
const uint64_t kGoldenBits[] = {
    0x6a25dfa113706a7aull, 0x52ba49acb3f696e3ull, 0xe9cb83d289ba1e13ull, 0x19ae9aef733e5143ull,
    0xd4ae3b2dec899e73ull, 0x0458bbb64e50c5a3ull, 0x7928c0623e25580dull, 0xc21d6bcdbce1498full,
    0x0a6e294bee609a33ull, 0x3356d55d12fa53c3ull, 0x2f0fa68943cc6d53ull, 0xdd3f03314d8b9a83ull,
    0x32c5b3339f8340b3ull, 0x637757fdbf4af133ull, 0xd5563b0e82b9b123ull, 0x2fcd5b9000d63183ull,
    0x2ada40d097e4e6b7ull, 0xc5ec49381a6918c3ull, 0x04e7ef13391c52fdull, 0x53c8c258b79237f8ull,
    0x83acdd920b988d83ull, 0x8b85de996643db43ull, 0x6c831c6d2454fb33ull, 0xe2fde7cb8921bb83ull,
    0x4604b695134bb713ull, 0xb5d2e67d49690653ull, 0xc724bde0f5a67383ull, 0x1497e722f2588003ull,
    0x8edf3fb2ffe420b2ull, 0x49d3de21db601803ull, 0x08c838eaa3c2c383ull, 0x0a0427c1a302d893ull,
    0x02dfe4e8672c5eccull, 0x36cee9d3d47f8383ull, 0xaabf11e2f4cb0383ull, 0xd57245bf0ccb7fd3ull,
    0xb44ab98575f90383ull, 0xe4a339847d0d0383ull, 0xb569d0ee81c50383ull, 0xc6fc6379b5fed2b3ull,
    0x5b399f38a229ff83ull, 0x67db2b60b6900383ull, 0xe9aaccf10a9d0383ull, 0x082276aaa21769ffull,
    0x768aa6e30ef8f663ull, 0x9960f83b38e4f1edull, 0xd04df41c796a03d2ull, 0x61b425ecf2ce9bf2ull,
    0x32152c92a60103bdull, 0x2262f2f6c6ac2491ull, 0x987177906899ffd7ull, 0x16dba71e94a592e2ull,
    0x8fdb071d4ce6e503ull, 0xb58479aade32395dull, 0x4859c2a8d544eefbull, 0x5d7fda094501a446ull,
    0xc123e290acba4849ull, 0x9d54faab878a777dull, 0x88f3b38c947db90bull, 0xefb107d44f6b04ffull,
    0x32a1ece99cd1f18cull, 0xbdfa9d91f98bab6aull, 0x230e3ddf4a3806a3ull, 0xdb107a660a45ecefull,
    0xc04d2ba19ab36ddbull, 0xf77b15d69f6addf1ull, 0xf2c84c988ccc02adull, 0x08f4f954f50d458full,
    0xe9f16627b417dcecull, 0x37a599d8d580cc5eull, 0xf13763e71b037942ull, 0x76d17f072de66eb8ull,
    0x706c0d10d858fa80ull, 0x261548f747940d9bull, 0xf507a17b2f665eb5ull, 0xca041164bba66471ull,
    0xfaf6f0323cf51137ull, 0x6a25dfa113706a7aull, 0x52ba49acb3f696e3ull, 0xe9cb83d289ba1e13ull,
    0x19ae9aef733e5143ull, 0xd4ae3b2dec899e73ull, 0x0458bbb64e50c5a3ull, 0x6172587d2dcff9c9ull,
    0x169a5ed4b6d2fd58ull, 0x0a6e294bee609a33ull, 0x3356d55d12fa53c3ull, 0x2f0fa68943cc6d53ull,
    0xdd3f03314d8b9a83ull, 0x32c5b3339f8340b3ull, 0x637757fdbf4af133ull, 0xd5563b0e82b9b123ull,
    0x2fcd5b9000d63183ull, 0xffdf6971f0872647ull, 0xc5ec49381a6918c3ull, 0x91a5069158ec86d6ull,
    0xb970269576b1803dull, 0x83acdd920b988d83ull, 0x8b85de996643db43ull, 0x6c831c6d2454fb33ull,
    0xe2fde7cb8921bb83ull, 0x4604b695134bb713ull, 0xb5d2e67d49690653ull, 0xc724bde0f5a67383ull,
    0x1497e722f2588003ull, 0x92fb20d7529217a3ull, 0x49d3de21db601803ull, 0x08c838eaa3c2c383ull,
    0x0a0427c1a302d893ull, 0x4b94982cfc477f18ull, 0x36cee9d3d47f8383ull, 0xaabf11e2f4cb0383ull,
    0xd57245bf0ccb7fd3ull, 0xb44ab98575f90383ull, 0xe4a339847d0d0383ull, 0xb569d0ee81c50383ull,
    0xc6fc6379b5fed2b3ull, 0x746d4656f7ecd6beull, 0x67db2b60b6900383ull, 0xe9aaccf10a9d0383ull,
    0x9d2d2df17197bebbull, 0x846ded1989801fdbull, 0xe7e8b0c663a96d63ull, 0x1d52fd381053f2f1ull,
    0x80d5e439d44346c2ull, 0x2f3ad7c5512a803bull, 0x852b00fc7e117f7dull, 0xadcec9571f2dd417ull,
    0xa2f64364f2cc362aull, 0x97f2ceec729e4158ull, 0x1a46cafdee7b36d4ull, 0x80c39e10adb0887aull,
    0xf49e0504da5c44cfull, 0xc1ab43011d8d4af6ull, 0x29618742fafed79bull, 0xfa0580575d3e3e20ull,
    0x89cb8180b4c255deull, 0x73836535fb3150bfull, 0x03a3ae616d56d17bull, 0xc5ebacbd66bc5524ull,
    0xb645b81f61b2a144ull, 0xaef5efb59ddf32cbull, 0x4869cd21be3a2fabull, 0xde2ab158d9fa1b2aull,
    0xcd498724cd0ad733ull, 0xc21a9c4768f584bdull, 0x69d5222f95daefdeull, 0x6342ac5cf03b3c47ull,
    0x834851435ae28332ull, 0x8067163981a02d86ull, 0xb734cfbee1e1b6d7ull, 0xcd35b368cda39410ull,
    0xe04cc4f548867f7cull, 0x35376c55fafeb63cull,
};

TEST(FftBits, SameBitsAsBeforeTheCache) {
  const std::vector<BitsCase> cases = bits_cases();
  ASSERT_EQ(cases.size(), std::size(kGoldenBits));
  for (size_t i = 0; i < cases.size(); ++i) {
    const BitsCase& k = cases[i];
    EXPECT_EQ(run_bits_case(k, int(i)), kGoldenBits[i])
        << "case " << i << ": n " << k.n << " stride " << k.stride << " count " << k.count << " dist "
        << k.dist << (k.real ? " real" : "") << (k.inverse ? " inverse" : "");
  }
  EXPECT_LE(fft_twiddles_cached_bytes(), fft_twiddles_bound_bytes());
}

// With every slot held elsewhere the cache refuses, and each transform builds
// its tables in its work array: the same bits.
TEST(FftBits, SameBitsWhenTheCacheRefuses) {
  std::vector<FftTwiddles> held;
  for (int64_t len = 2; len < 200; ++len) {
    FftTwiddles t;
    if (!fft_twiddles_acquire(len, false, &t)) break;
    held.push_back(t);
  }
  FftTwiddles refused;
  EXPECT_FALSE(fft_twiddles_acquire(1024, false, &refused));
  EXPECT_EQ(refused.slot, -1);
  const std::vector<BitsCase> cases = bits_cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].n > 65536) continue;
    EXPECT_EQ(run_bits_case(cases[i], int(i)), kGoldenBits[i]) << "case " << i;
  }
  for (FftTwiddles& t : held) fft_twiddles_release(&t);
  FftTwiddles again;
  EXPECT_TRUE(fft_twiddles_acquire(1024, false, &again));
  fft_twiddles_release(&again);
}

// A held table keeps its values, and tables are built once per length and
// direction: the same pointers while held, w(1) of the right sign.
TEST(FftBits, TablesAreSharedAndSigned) {
  FftTwiddles a, b, inv;
  ASSERT_TRUE(fft_twiddles_acquire(12, false, &a));
  ASSERT_TRUE(fft_twiddles_acquire(12, false, &b));
  ASSERT_TRUE(fft_twiddles_acquire(12, true, &inv));
  EXPECT_EQ(a.re, b.re);
  EXPECT_NE(a.re, inv.re);
  EXPECT_EQ(a.count, 12);
  EXPECT_EQ(a.im[3], -1.0);  // exp(-2 pi i 3/12) = -i
  EXPECT_EQ(inv.im[3], 1.0);
  EXPECT_EQ(a.re[0], 1.0);
  fft_twiddles_release(&a);
  fft_twiddles_release(&b);
  fft_twiddles_release(&inv);
  EXPECT_EQ(a.slot, -1);
  FftTwiddles huge;
  EXPECT_FALSE(fft_twiddles_acquire(int64_t{1} << 28, false, &huge));  // above the bound: computed by the caller
}

// Threads transform lengths enough to make the cache evict while others hold
// tables; every result keeps its bits.
TEST(FftBits, ThreadsShareTheCache) {
  const std::vector<BitsCase> cases = bits_cases();
  constexpr int kThreads = 4;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&cases, &wrong, t] {
      for (int round = 0; round < 2; ++round)
        for (size_t i = size_t(t); i < cases.size(); i += 2)
          if (cases[i].n <= 65536 && run_bits_case(cases[i], int(i)) != kGoldenBits[i]) ++wrong[size_t(t)];
    });
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[size_t(t)], 0) << "thread " << t;
  EXPECT_LE(fft_twiddles_cached_bytes(), fft_twiddles_bound_bytes());
}

}  // namespace
