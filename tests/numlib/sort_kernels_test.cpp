// The fast sorts against the Shell sorts they stand in for, over random
// lines full of ties, -0, Inf and NaN (NaNs of one kind and of several),
// every direction and stride: the same values in the same places, the same
// companions and permutations exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
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
    Vec scratch(n + 1), merge((n + 1) / 2 + 1);
    bool unlike = false;  // two NaNs of the line differ in their bits
    uint64_t nan_bits = 0;
    for (int k = 0; k < n; ++k) {
      const double a = data[size_t(start + k * stride)];
      if (!std::isnan(a)) continue;
      unlike = unlike || (nan_bits != 0 && bits(a) != nan_bits);
      nan_bits = bits(a);
    }
    shellsort_real(model.data() + start, n, stride, desc);
    // With the merge room on two trials in three: long lines of few values
    // are counted then.
    sort_real(data.data() + start, n, stride, desc, scratch.data(), trial % 3 ? merge.data() : nullptr);
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

// Lines made of ordered stretches, the inputs the run merging is for:
// sorted, reversed (strictly, and with ties), all equal, each value twice,
// periodic, and a few stretches of each kind, with NaN mixed in or not.
Vec ordered_line(std::mt19937& rng, int n, bool mixed_nans) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Vec pool = random_line(rng, n, mixed_nans);
  auto by_value = [](double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; };
  Vec v;
  const int shape = static_cast<int>(rng() % 6);
  if (shape == 0) {  // all equal
    v.assign(n, pool[0]);
  } else if (shape == 1) {  // each value twice
    Vec half(pool.begin(), pool.begin() + n / 2);
    std::sort(half.begin(), half.end(), by_value);
    v = half;
    v.insert(v.end(), half.begin(), half.end());
    v.resize(n, 1.5);
  } else if (shape == 2) {  // periodic
    const int period = 1 + static_cast<int>(rng() % 97);
    for (int k = 0; k < n; ++k) v.push_back(double(k % period));
  } else {  // stretches of random lengths, each sorted one way or the other
    const int stretches = shape == 3 ? 1 : 1 + static_cast<int>(rng() % 12);
    for (int r = 0, at = 0; r < stretches; ++r) {
      const int len = r + 1 == stretches ? n - at : static_cast<int>(rng() % (n - at + 1));
      Vec part(pool.begin() + at, pool.begin() + at + len);
      if (rng() % 3 == 0) {  // distinct values, so that a reversal is strict
        for (int k = 0; k < len; ++k) part[k] = at + k + 0.25 * (rng() % 3);
      }
      std::sort(part.begin(), part.end(), by_value);
      if (rng() % 2) std::reverse(part.begin(), part.end());
      v.insert(v.end(), part.begin(), part.end());
      at += len;
    }
  }
  if (rng() % 3 == 0)  // a few NaNs anywhere
    for (int k = static_cast<int>(rng() % 4); k > 0 && n > 0; --k) v[rng() % n] = mixed_nans && k % 2 ? -nan : nan;
  return v;
}

// The run merging against the Shell sorts: every kernel with its merge room,
// every direction, contiguous and strided, on ordered lines long enough for
// the merging and short enough for the Shell sorts to be cheap.
TEST(SortKernels, OrderedRunsAgainstTheShellSort) {
  std::mt19937 rng(564);
  for (int trial = 0; trial < 1500; ++trial) {
    const int n = trial % 25 == 0 ? 20000 : static_cast<int>(rng() % 3000);
    const int stride = std::vector<int>{1, 1, 1, 2, -1}[rng() % 5];
    const uint8_t desc = rng() % 2;
    const bool mixed = trial % 4 == 3;
    const int span = n == 0 ? 1 : (n - 1) * std::abs(stride) + 1;
    const int start = stride < 0 ? span - 1 : 0;
    Vec data(span, 0.5);
    const Vec line = ordered_line(rng, n, mixed);
    for (int k = 0; k < n; ++k) data[size_t(start + k * stride)] = line[k];
    bool unlike = false;
    uint64_t nan_bits = 0;
    for (double a : line) {
      if (!std::isnan(a)) continue;
      unlike = unlike || (nan_bits != 0 && bits(a) != nan_bits);
      nan_bits = bits(a);
    }

    Vec model = data, got = data, scratch(n + 1), merge((n + 1) / 2 + 1);
    shellsort_real(model.data() + start, n, stride, desc);
    sort_real(got.data() + start, n, stride, desc, scratch.data(), merge.data());
    if (unlike)
      expect_same_bits(got, model);
    else
      expect_same_values(got, model);

    // Companions: positions (the index of sort) or shuffled ones.
    Vec comp(span), mk = data, keys = data;
    for (int k = 0; k < span; ++k) comp[k] = k + 1;
    if (trial % 3 == 0) std::shuffle(comp.begin(), comp.end(), rng);
    Vec mc = comp;
    std::vector<SortPair> pairs(n + 1), room((n + 1) / 2 + 1);
    shellsort_real_pair(mk.data() + start, mc.data() + start, n, stride, desc);
    sort_real_pair(keys.data() + start, comp.data() + start, n, stride, desc, pairs.data(),
                   trial % 5 == 4 ? nullptr : room.data(),  // without room: the scratch's
                   trial % 3 != 0 && stride > 0);           // positions ascending along the line
    expect_same_bits(keys, mk);
    expect_same_bits(comp, mc);

    // The pairs and the permutation sort by themselves.
    std::vector<SortPair> want_pairs(n), got_pairs(n);
    for (int k = 0; k < n; ++k) got_pairs[k] = SortPair{line[k], double(n - k)};
    sort_pairs(got_pairs.data(), n, desc, room.data());
    Vec wk(line), wc(n);
    for (int k = 0; k < n; ++k) wc[k] = n - k;
    shellsort_real_pair(wk.data(), wc.data(), n, 1, desc);
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(bits(got_pairs[k].key), bits(wk[k])) << k;
      EXPECT_EQ(got_pairs[k].comp, wc[k]) << k;
    }
    struct Ctx {
      const double* v;
    } ctx{line.data()};
    auto cmp = [](int32_t x, int32_t y, void* c) -> int32_t {
      const double a = static_cast<Ctx*>(c)->v[x], b = static_cast<Ctx*>(c)->v[y];
      if (a < b) return -1;
      if (a > b) return 1;
      return std::isnan(a) == std::isnan(b) ? 0 : std::isnan(a) ? 1 : -1;
    };
    std::vector<int32_t> want(n + 1, -7), got_index(n + 1, -7), index_room((n + 1) / 2 + 1);
    shellsort_index(n, cmp, want.data(), &ctx, desc);
    sort_index(n, cmp, got_index.data(), &ctx, desc, index_room.data());
    EXPECT_EQ(got_index, want);
    if (::testing::Test::HasFailure()) FAIL() << "trial " << trial << " n " << n;
  }
}

// Ordered inputs cost close to one comparison an element: sorted, reversed,
// all equal, two sorted halves, a few runs; a random line is no worse than
// the general sort's n log n.
TEST(SortKernels, OrderedInputsCostLinearComparisons) {
  const int n = 100000;
  struct Ctx {
    std::vector<double> v;
    int64_t calls = 0;
  } ctx;
  auto cmp = [](int32_t x, int32_t y, void* c) -> int32_t {
    auto* k = static_cast<Ctx*>(c);
    ++k->calls;
    return k->v[x] < k->v[y] ? -1 : k->v[x] > k->v[y] ? 1 : 0;
  };
  std::mt19937 rng(565);
  struct Shape {
    const char* name;
    double (*value)(int k, int n);
    double per_element;  // comparisons an element, at most
  };
  const Shape shapes[] = {
      {"sorted", [](int k, int) { return k / 7.0; }, 1.01},
      {"reversed", [](int k, int n) { return double(n - k); }, 1.01},
      {"all equal", [](int, int) { return 3.0; }, 1.01},
      {"each value twice", [](int k, int n) { return double(k % (n / 2)); }, 3.1},
      {"periodic", [](int k, int) { return double(k % 10007); }, 8.0},
  };
  std::vector<int32_t> index(n), room(n / 2 + 1);
  for (const Shape& shape : shapes) {
    for (uint8_t desc = 0; desc < 2; ++desc) {
      ctx.v.resize(n);
      for (int k = 0; k < n; ++k) ctx.v[k] = shape.value(desc ? n - 1 - k : k, n);
      ctx.calls = 0;
      sort_index(n, cmp, index.data(), &ctx, desc, room.data());
      EXPECT_LE(ctx.calls, shape.per_element * n) << shape.name << " desc " << int(desc);
      for (int k = 1; k < n; ++k)
        ASSERT_LE(cmp(index[k - 1], index[k], &ctx) * (desc ? -1 : 1), 0) << shape.name;
    }
  }
  for (double& x : ctx.v) x = double(rng() % 1000);
  ctx.calls = 0;
  sort_index(n, cmp, index.data(), &ctx, 0, room.data());
  EXPECT_LE(ctx.calls, 3 * n * std::log2(n));
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

// 64-bit integer keys, which doubles cannot tell apart past 2^53: values
// next to the extremes and to +-2^62, in random lines and in lines of a few
// sorted and reversed runs, long enough now and then for the bucket pass,
// with and without the merge room. Against std::stable_sort, exactly: pairs
// by key then position, keys alone by key.
std::vector<int64_t> integer_line(std::mt19937& rng, int n) {
  const int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
  const int64_t near = int64_t{1} << 62;
  const std::vector<int64_t> bases = {lo, -near, -1, near, hi - 64};
  std::vector<int64_t> v(n);
  for (int64_t& x : v) x = bases[rng() % bases.size()] + static_cast<int64_t>(rng() % 64);
  if (rng() % 2) {  // a few runs, each sorted one way or the other
    for (int start = 0; start < n;) {
      const int len = std::min<int>(n - start, 1 + static_cast<int>(rng() % (n / 3 + 1)));
      if (rng() % 2)
        std::sort(v.begin() + start, v.begin() + start + len);
      else
        std::sort(v.begin() + start, v.begin() + start + len, std::greater<int64_t>());
      start += len;
    }
  }
  return v;
}

TEST(SortKernels, IntegerKeysExactly) {
  std::mt19937 rng(6464);
  for (int trial = 0; trial < 600; ++trial) {
    const int n = trial % 20 == 0 ? 4096 + static_cast<int>(rng() % 12000) : static_cast<int>(rng() % 600);
    const std::vector<int64_t> line = integer_line(rng, n);
    const bool with_room = trial % 3 != 2;

    std::vector<IntPair> got(n), want(n), room((n + 1) / 2 + 1);
    for (int k = 0; k < n; ++k) got[k] = want[k] = IntPair{line[k], k};
    std::stable_sort(want.begin(), want.end(), [](const IntPair& a, const IntPair& b) { return a.key < b.key; });
    sort_int_pairs(got.data(), n, with_room ? room.data() : nullptr);
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(got[k].key, want[k].key) << k;
      EXPECT_EQ(got[k].pos, want[k].pos) << k;
    }

    std::vector<int64_t> keys = line, model = line, key_room((n + 1) / 2 + 1);
    std::sort(model.begin(), model.end());
    sort_int_keys(keys.data(), n, with_room ? key_room.data() : nullptr);
    EXPECT_EQ(keys, model);
    if (::testing::Test::HasFailure()) FAIL() << "trial " << trial << " n " << n;
  }
}

}  // namespace
