// Shell sorts: gap sequences, strides, NaN placement per
// kernel (worked by hand from the insertion rules), and randomised checks of
// the tie-breaking kernels against a stable reference sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "numlib/shellsort.h"
#include "support/same_doubles.h"

namespace {

using Vec = std::vector<double>;

TEST(ShellSort, SmallCountsAndIndexOutput) {
  Vec one = {NAN};
  shellsort_real(one.data(), 1, 1, 1);
  EXPECT_TRUE(std::isnan(one[0]));
  std::vector<int32_t> idx = {7, 7};
  auto cmp = [](int32_t x, int32_t y, void*) { return x < y ? -1 : x > y; };
  shellsort_index(1, cmp, idx.data(), nullptr, 0);
  EXPECT_EQ(idx, (std::vector<int32_t>{0, 7}));
  idx = {7, 7};
  shellsort_index(0, cmp, idx.data(), nullptr, 0);
  shellsort_index(-3, cmp, idx.data(), nullptr, 0);
  EXPECT_EQ(idx, (std::vector<int32_t>{7, 7}));
}

// On already ordered data no element moves, so pass i of gap h compares
// (i, i - h): the differences give the gaps in order.
std::vector<int> gaps_used(int n) {
  std::vector<std::pair<int, int>> calls;
  std::vector<int32_t> idx(n);
  shellsort_index(
      n,
      [](int32_t x, int32_t y, void* ctx) {
        static_cast<std::vector<std::pair<int, int>>*>(ctx)->push_back({x, y});
        return x < y ? -1 : 1;
      },
      idx.data(), &calls, 0);
  std::vector<int> gaps;
  for (auto [x, y] : calls)
    if (gaps.empty() || gaps.back() != x - y) gaps.push_back(x - y);
  return gaps;
}

TEST(ShellSort, GapSequences) {
  EXPECT_EQ(gaps_used(2), (std::vector<int>{1}));
  EXPECT_EQ(gaps_used(4), (std::vector<int>{1}));
  EXPECT_EQ(gaps_used(5), (std::vector<int>{4, 1}));
  EXPECT_EQ(gaps_used(13), (std::vector<int>{4, 1}));
  EXPECT_EQ(gaps_used(14), (std::vector<int>{13, 4, 1}));
  EXPECT_EQ(gaps_used(122), (std::vector<int>{121, 40, 13, 4, 1}));
}

TEST(ShellSort, Strides) {
  Vec v = {1, 3, 5, 2, 4};
  shellsort_real(&v[4], 5, -1, 0);  // the element at the base comes first
  EXPECT_EQ(v, (Vec{5, 4, 3, 2, 1}));

  Vec m = {3, 9, 1, 8, 2, 7};  // sort column 0 of a 3 x 2 matrix
  shellsort_real(m.data(), 3, 2, 0);
  EXPECT_EQ(m, (Vec{1, 9, 2, 8, 3, 7}));

  Vec k = {2, 1, 3}, c = {20, 10, 30};
  shellsort_real_pair(&k[2], &c[2], 3, -1, 0);
  EXPECT_EQ(k, (Vec{3, 2, 1}));
  EXPECT_EQ(c, (Vec{30, 20, 10}));

  Vec w = {4, 0, 2, 0, 3};
  std::vector<int32_t> p = {0, 9, 1, 9, 2};
  shellsort_real_with_perm(w.data(), p.data(), 3, 2);
  EXPECT_EQ(w, (Vec{2, 0, 3, 0, 4}));
  EXPECT_EQ(p, (std::vector<int32_t>{1, 9, 2, 9, 0}));

  // Stride 0 leaves everything as it is, even where NaN would move.
  Vec z = {NAN, 1, 0};
  shellsort_real(z.data(), 3, 0, 1);
  shellsort_real_pair(z.data(), z.data() + 1, 3, 0, 1);
  expect_same_doubles(z, {NAN, 1, 0});

  // The complex sort takes positive strides only.
  Vec re = {2, 1}, im = {0, 0};
  shellsort_complex(&re[1], &im[1], 2, -1, 0);
  EXPECT_EQ(re, (Vec{2, 1}));
  Vec re2 = {2, 7, 1, 7}, im2 = {0, 7, 0, 7};
  shellsort_complex(re2.data(), im2.data(), 2, 2, 0);
  EXPECT_EQ(re2, (Vec{1, 7, 2, 7}));
}

TEST(ShellSort, NaNPlacementPerKernel) {
  // NaN ranks above every number: last ascending, first descending, wherever
  // it starts (the gap-4 pass and the barrier cases included).
  for (const Vec& start : {Vec{3, NAN, 1, 2}, Vec{2, 1, NAN, 0, -1}, Vec{NAN, 1, NAN, 0}}) {
    Vec v = start;
    shellsort_real(v.data(), int32_t(v.size()), 1, 0);
    const size_t nans = size_t(std::count_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }));
    for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(std::isnan(v[i]), i >= v.size() - nans);
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end() - long(nans)));
    v = start;
    shellsort_real(v.data(), int32_t(v.size()), 1, 1);
    for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(std::isnan(v[i]), i < nans);
    EXPECT_TRUE(std::is_sorted(v.rbegin(), v.rend() - long(nans)));
  }
  Vec v = {1, NAN, 2};
  shellsort_real(v.data(), 3, 1, 1);
  expect_same_doubles(v, {NAN, 2, 1});

  // Pair: NaNs are equal among themselves, so the companion orders them.
  Vec k = {NAN, 1, NAN}, c = {0, 1, 2};
  shellsort_real_pair(k.data(), c.data(), 3, 1, 0);
  expect_same_doubles(k, {1, NAN, NAN});
  EXPECT_EQ(c, (Vec{1, 0, 2}));
  k = {1, NAN, NAN};
  c = {0, 2, 1};
  shellsort_real_pair(k.data(), c.data(), 3, 1, 1);
  expect_same_doubles(k, {NAN, NAN, 1});
  EXPECT_EQ(c, (Vec{1, 2, 0}));

  // With permutation (ascending only): NaN last.
  Vec w = {2, NAN, 1};
  std::vector<int32_t> p = {0, 1, 2};
  shellsort_real_with_perm(w.data(), p.data(), 3, 1);
  expect_same_doubles(w, {1, 2, NAN});
  EXPECT_EQ(p, (std::vector<int32_t>{2, 0, 1}));

  // Complex: a NaN part makes the modulus NaN, which ranks last ascending.
  Vec re = {NAN, 1, 3}, im = {0, 0, 4};
  shellsort_complex(re.data(), im.data(), 3, 1, 0);
  expect_same_doubles(re, {1, 3, NAN});
  re = {1, 0, 3};
  im = {0, NAN, 4};
  shellsort_complex(re.data(), im.data(), 3, 1, 1);
  expect_same_doubles(re, {0, 3, 1});
  expect_same_doubles(im, {NAN, 4, 0});

  // Multi: like the pair sort, the fourth array breaking ties when present.
  Vec keys = {NAN, 1}, b = {10, 11}, cc = {20, 21}, d = {5, 1};
  shellsort_real_multi(keys.data(), b.data(), cc.data(), d.data(), 2, 1, 0);
  expect_same_doubles(keys, {1, NAN});
  EXPECT_EQ(b, (Vec{11, 10}));
  keys = {NAN, 1};
  b = {10, 11};
  shellsort_real_multi(keys.data(), b.data(), cc.data(), nullptr, 2, 1, 1);
  expect_same_doubles(keys, {NAN, 1});
  EXPECT_EQ(b, (Vec{10, 11}));
  keys = {1, NAN, NAN};
  Vec b3 = {0, 1, 2}, c3 = {0, 0, 0}, d3 = {0, 2, 1};
  shellsort_real_multi(keys.data(), b3.data(), c3.data(), d3.data(), 3, 1, 0);
  EXPECT_EQ(b3, (Vec{0, 2, 1}));
}

// Random keys with many repeats and NaNs; the tie-breaking kernels must give
// exactly the order of a stable sort (NaN ranked above every number) when the
// companion holds the positions.
TEST(ShellSort, TieBreakingKernelsAreStable) {
  std::mt19937_64 rng(17);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + int(rng() % 300);
    std::vector<double> keys(n);
    for (auto& x : keys) x = rng() % 7 == 6 ? NAN : double(rng() % 6) - 2.0;
    auto rank = [&](int i) { return std::isnan(keys[i]) ? 1e300 : keys[i]; };
    for (uint8_t desc : {0, 1}) {
      std::vector<int> order(n);
      for (int i = 0; i < n; ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return desc ? rank(a) > rank(b) : rank(a) < rank(b);
      });

      Vec k = keys, pos(n);
      for (int i = 0; i < n; ++i) pos[i] = i;
      shellsort_real_pair(k.data(), pos.data(), n, 1, desc);
      for (int i = 0; i < n; ++i) ASSERT_EQ(pos[i], order[i]) << "pair " << n;

      // Multi with strided companions (stride 3) and the positions fourth.
      Vec mk = keys, comp(3 * size_t(n), -1.0), re(3 * size_t(n)), im(3 * size_t(n));
      for (int i = 0; i < n; ++i) {
        comp[3 * i] = i;
        re[3 * i] = i * 10;
        im[3 * i] = -i;
      }
      shellsort_real_multi(mk.data(), re.data(), im.data(), comp.data(), n, 3, desc);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(comp[3 * i], order[i]) << "multi " << n;
        ASSERT_EQ(re[3 * i], order[i] * 10);
        ASSERT_EQ(im[3 * i], -order[i]);
        ASSERT_EQ(comp[3 * i + 1], -1.0);  // between the strided slots: untouched
      }

      std::vector<int32_t> idx(n);
      auto cmp = [](int32_t x, int32_t y, void* ctx) -> int32_t {
        const auto& kv = *static_cast<std::vector<double>*>(ctx);
        const double a = std::isnan(kv[x]) ? 1e300 : kv[x], b = std::isnan(kv[y]) ? 1e300 : kv[y];
        return a < b ? -1 : a > b ? 1 : 0;
      };
      shellsort_index(n, cmp, idx.data(), &keys, desc);
      for (int i = 0; i < n; ++i) ASSERT_EQ(idx[i], order[i]) << "index " << n;
    }
  }
}

// Kernels without a tie-break must still sort, and keep each key with its
// companions.
TEST(ShellSort, UnstableKernelsSortAndKeepPairs) {
  std::mt19937_64 rng(23);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 1 + int(rng() % 250);
    std::vector<int32_t> ik(n), ic(n);
    Vec dk(n), re(n), im(n);
    std::vector<int32_t> perm(n);
    for (int i = 0; i < n; ++i) {
      ik[i] = int32_t(rng() % 20) - 10;
      ic[i] = i;
      dk[i] = double(rng() % 50) / 4;
      re[i] = double(rng() % 5) - 2;
      im[i] = double(rng() % 5) - 2;
      perm[i] = i;
    }
    std::vector<std::pair<int32_t, int32_t>> pairs_before;
    for (int i = 0; i < n; ++i) pairs_before.push_back({ik[i], ic[i]});
    Vec dk0 = dk, re0 = re, im0 = im;

    shellsort_int_pairs(ik.data(), ic.data(), n);
    EXPECT_TRUE(std::is_sorted(ik.begin(), ik.end()));
    std::vector<std::pair<int32_t, int32_t>> pairs_after;
    for (int i = 0; i < n; ++i) pairs_after.push_back({ik[i], ic[i]});
    std::sort(pairs_before.begin(), pairs_before.end());
    std::sort(pairs_after.begin(), pairs_after.end());
    EXPECT_EQ(pairs_before, pairs_after);

    std::vector<int32_t> plain = ik;
    std::reverse(plain.begin(), plain.end());
    shellsort_int(plain.data(), n);
    EXPECT_EQ(plain, ik);

    shellsort_real_with_perm(dk.data(), perm.data(), n, 1);
    EXPECT_TRUE(std::is_sorted(dk.begin(), dk.end()));
    for (int i = 0; i < n; ++i) EXPECT_EQ(dk[i], dk0[perm[i]]);

    Vec d2 = dk0;
    shellsort_real(d2.data(), n, 1, 1);
    EXPECT_TRUE(std::is_sorted(d2.rbegin(), d2.rend()));

    for (uint8_t desc : {0, 1}) {
      Vec r = re0, m = im0;
      shellsort_complex(r.data(), m.data(), n, 1, desc);
      auto key = [&](int i) { return std::make_tuple(r[i] * r[i] + m[i] * m[i], std::fabs(m[i]), m[i]); };
      for (int i = 1; i < n; ++i) {
        if (desc)
          EXPECT_FALSE(key(i - 1) < key(i));
        else
          EXPECT_FALSE(key(i) < key(i - 1));
      }
      std::vector<std::pair<double, double>> before, after;
      for (int i = 0; i < n; ++i) {
        before.push_back({re0[i], im0[i]});
        after.push_back({r[i], m[i]});
      }
      std::sort(before.begin(), before.end());
      std::sort(after.begin(), after.end());
      EXPECT_EQ(before, after);
    }
  }
}

}  // namespace
