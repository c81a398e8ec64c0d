// The root-locus builder: the characteristic polynomial, the pairing rules
// (nearest on its own side of the real axis; NaN keeps the identity) and the
// branches of a conjugate pair, which mirror each other without crossing.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/commands/root_locus.h"

namespace {

TEST(RootLocus, CharacteristicPolynomial) {
  const double num[] = {2, 4}, den[] = {1, 3, 2};
  double out[3];
  rlocus_char_poly(num, 1, den, 2, 0.5, out);
  EXPECT_EQ(out[0], 0.5);
  EXPECT_EQ(out[1], 1.5 + 0.5 / 2 * 2);
  EXPECT_EQ(out[2], 1 + 0.5 / 2 * 4);
  const double zero[] = {0};
  rlocus_char_poly(zero, 0, den, 2, 0.5, out);  // no numerator: the poles alone
  EXPECT_EQ(out[2], 1);
}

TEST(RootLocus, PairingKeepsToItsSideAndNaNKeepsTheIdentity) {
  // Previous: a pair at +-1i; new: the pair slightly moved, listed swapped.
  const double pre[] = {0, 0}, pim[] = {1, -1}, nre[] = {0.1, 0.1}, nim[] = {-1.1, 1.1};
  int32_t perm[2];
  double largest;
  const double total = rlocus_match_greedy(pre, pim, nre, nim, 2, perm, &largest);
  EXPECT_EQ(perm[0], 1);
  EXPECT_EQ(perm[1], 0);
  EXPECT_NEAR(total, 0.4, 1e-15);
  EXPECT_NEAR(largest, 0.2, 1e-15);
  // Even when the root across the axis is nearer, the pairing stays on its side.
  const double pim2[] = {0.01, -0.01}, nim2[] = {-0.02, 0.5};
  rlocus_match_greedy(pre, pim2, nre, nim2, 2, perm, nullptr);
  EXPECT_EQ(perm[0], 1);
  const double bad[] = {NAN, 0};
  EXPECT_TRUE(std::isnan(rlocus_match_greedy(pre, pim, bad, nim, 2, perm, &largest)));
  EXPECT_EQ(perm[0], 0);
  EXPECT_EQ(perm[1], 1);
}

TEST(RootLocus, ConjugateBranchesMirror) {
  const double den[] = {1, 2, 5}, num[] = {1};
  std::vector<double> data(4000), work(size_t(rlocus_build_work(2)));
  const LocusWindow win{-2, 2, -2, 2, 0.02};
  const int32_t length = rlocus_build_branches(den, 2, num, 0, win, data.data(), 4000, work.data());
  ASSERT_GT(length, 5);
  EXPECT_EQ(data[size_t(length - 1)], -1.0);
  const size_t m0 = size_t(data[0]), at1 = 1 + 2 * m0;
  const size_t m1 = size_t(data[at1]);
  ASSERT_EQ(m0, m1);
  ASSERT_GT(m0, 2u);
  const double s0 = data[1 + m0] > 0 ? 1 : -1;
  for (size_t k = 0; k < m0; ++k) {
    EXPECT_NEAR(data[1 + k], -1, 1e-9);                       // on the line x = -1
    EXPECT_NEAR(data[1 + m0 + k], -data[at1 + 1 + m1 + k], 1e-9);  // mirrored
    EXPECT_GT(s0 * data[1 + m0 + k], 0);                      // never crossing
  }
  // Slots below 5 doubles: the single closing value.
  EXPECT_EQ(rlocus_build_branches(den, 2, num, 0, win, data.data(), 9, work.data()), 1);
  EXPECT_EQ(data[0], -1.0);
}

}  // namespace
