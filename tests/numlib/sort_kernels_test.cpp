// The fast sorts against the Shell sorts they stand in for, over random
// lines full of ties, -0, Inf and NaN (NaNs of one kind and of several),
// every direction and stride: the same values in the same places, the same
// companions and permutations exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "numlib/sort_kernels.h"

namespace {

using Vec = std::vector<double>;

uint64_t bits(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Values from a small pool, so that most keys have equals, and from a
// spread chosen per line (quarters up to 16, wide reals, reals up to the
// largest double, where the range of the keys overflows); a negative NaN
// joins the pool only when asked.
Vec random_line(std::mt19937& rng, int n, bool mixed_nans) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Vec pool = {-inf, -2, -1, -0.0, 0.0, 0.5, 1, 3, inf, nan};
  std::uniform_int_distribution<int> pick(0, static_cast<int>(pool.size()) + 3);
  std::uniform_real_distribution<double> spread(-1, 1);
  const int kind = static_cast<int>(rng() % 3);
  Vec v(n);
  for (double& x : v) {
    const int k = pick(rng);
    if (k < static_cast<int>(pool.size()))
      x = pool[k];
    else if (kind == 0)
      x = std::floor(std::ldexp(double(rng() % 64), -2));
    else
      x = spread(rng) * (kind == 1 ? 1e6 : std::numeric_limits<double>::max());
    if (mixed_nans && std::isnan(x) && rng() % 2) x = -nan;
  }
  return v;
}

// Lines are short, but every 40th is long enough for the bucket pass.
int random_count(std::mt19937& rng, int trial) {
  return trial % 40 == 0 ? 4096 + static_cast<int>(rng() % 12000) : static_cast<int>(rng() % 200);
}

// Same number or same NaN bits at every place, and the same bit patterns
// overall (so -0 and 0 are kept, wherever the order of equal keys puts them).
void expect_same_values(const Vec& got, const Vec& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i]))
      EXPECT_EQ(bits(got[i]), bits(want[i])) << i;
    else
      EXPECT_EQ(got[i], want[i]) << i;
  }
  std::vector<uint64_t> a, b;
  for (double x : got) a.push_back(bits(x));
  for (double x : want) b.push_back(bits(x));
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
}

void expect_same_bits(const Vec& got, const Vec& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(bits(got[i]), bits(want[i])) << i;
}

TEST(SortKernels, RealValuesAgainstTheShellSort) {
  std::mt19937 rng(561);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = random_count(rng, trial);
    const int stride = std::vector<int>{1, 1, 2, 3, -1}[rng() % 5];
    const uint8_t desc = rng() % 2;
    const bool mixed = trial % 4 == 3;  // NaNs of both signs
    const int span = n == 0 ? 1 : (n - 1) * std::abs(stride) + 1;
    Vec data = random_line(rng, span, mixed);
    Vec model = data;
    const int start = stride < 0 ? span - 1 : 0;
    Vec scratch(n + 1);
    bool unlike = false;  // two NaNs of the line differ in their bits
    uint64_t nan_bits = 0;
    for (int k = 0; k < n; ++k) {
      const double a = data[size_t(start + k * stride)];
      if (!std::isnan(a)) continue;
      unlike = unlike || (nan_bits != 0 && bits(a) != nan_bits);
      nan_bits = bits(a);
    }
    shellsort_real(model.data() + start, n, stride, desc);
    sort_real(data.data() + start, n, stride, desc, scratch.data());
    if (unlike)
      expect_same_bits(data, model);  // unlike NaNs: the Shell sort's own result
    else
      expect_same_values(data, model);
    if (::testing::Test::HasFailure()) FAIL() << "trial " << trial;
  }
}

TEST(SortKernels, PairsAndPermutationsExactly) {
  std::mt19937 rng(562);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = random_count(rng, trial);
    const int stride = std::vector<int>{1, 1, 2, -1}[rng() % 4];
    const uint8_t desc = rng() % 2;
    const int span = n == 0 ? 1 : (n - 1) * std::abs(stride) + 1;
    Vec keys = random_line(rng, span, trial % 2);
    // Distinct companions in a random order, as the index of a line after
    // earlier sorts of other lines would be: positions 1..n shuffled.
    Vec comp(span);
    std::vector<int> order(span);
    for (int k = 0; k < span; ++k) order[k] = k + 1;
    std::shuffle(order.begin(), order.end(), rng);
    for (int k = 0; k < span; ++k) comp[k] = order[k];
    Vec mk = keys, mc = comp;
    const int start = stride < 0 ? span - 1 : 0;
    std::vector<SortPair> scratch(n + 1);
    shellsort_real_pair(mk.data() + start, mc.data() + start, n, stride, desc);
    sort_real_pair(keys.data() + start, comp.data() + start, n, stride, desc, scratch.data());
    expect_same_bits(keys, mk);
    expect_same_bits(comp, mc);

    // The permutation sort through a comparison with ties and NaN.
    struct Ctx {
      const double* v;
    } ctx{keys.data()};
    auto cmp = [](int32_t x, int32_t y, void* c) -> int32_t {
      const double a = static_cast<Ctx*>(c)->v[x], b = static_cast<Ctx*>(c)->v[y];
      if (a < b) return -1;
      if (a > b) return 1;
      return std::isnan(a) == std::isnan(b) ? 0 : std::isnan(a) ? 1 : -1;
    };
    std::vector<int32_t> want(n + 1, -7), got(n + 1, -7);
    shellsort_index(n, cmp, want.data(), &ctx, desc);
    sort_index(n, cmp, got.data(), &ctx, desc);
    EXPECT_EQ(got, want);
    if (::testing::Test::HasFailure()) FAIL() << "trial " << trial;
  }
}

// Without scratch a strided line is left to the Shell sorts: the same bits.
TEST(SortKernels, NoScratchIsTheShellSort) {
  std::mt19937 rng(563);
  Vec keys = random_line(rng, 301, false), comp(301);
  for (int k = 0; k < 301; ++k) comp[k] = k;
  Vec mk = keys, mc = comp;
  shellsort_real(mk.data(), 101, 3, 1);
  Vec got = keys;
  sort_real(got.data(), 101, 3, 1, nullptr);
  expect_same_bits(got, mk);
  mk = keys;
  shellsort_real_pair(mk.data(), mc.data(), 301, 1, 0);
  sort_real_pair(keys.data(), comp.data(), 301, 1, 0, nullptr);
  expect_same_bits(keys, mk);
  expect_same_bits(comp, mc);
}

}  // namespace
