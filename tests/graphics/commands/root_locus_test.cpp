// The root-locus builder: the characteristic polynomial, the pairing rules
// (nearest on its own side of the real axis; NaN keeps the identity), the
// searched pairing against every permutation, and the branches, which mirror
// each other without crossing and hold points of real positive gain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

#include "graphics/commands/root_locus.h"
#include "numlib/polyroots.h"

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

// The model of the searched pairing: every permutation that keeps to the
// sides of the axis and maps conjugate pairs of previous roots (the later
// one to its earlier partner) onto conjugates or onto two real roots.
struct PairingModel {
  const std::vector<double>&pre, &pim, &nre, &nim;
  bool valid(const std::vector<int32_t>& p) const {
    const size_t k = pre.size();
    for (size_t i = 0; i < k; ++i) {
      const double a = pim[i], b = nim[size_t(p[i])];
      if (a * b < 0) return false;
      for (size_t q = 0; q < i; ++q) {
        if (!(pim[q] != 0 && pre[q] == pre[i] && pim[q] == -pim[i])) continue;
        const size_t u = size_t(p[q]), v = size_t(p[i]);
        const bool ok = nim[u] == 0 ? nim[v] == 0 : nre[u] == nre[v] && nim[u] == -nim[v];
        if (!ok) return false;
        break;
      }
    }
    return true;
  }
  double cost(const std::vector<int32_t>& p) const {
    double t = 0;
    for (size_t i = 0; i < pre.size(); ++i)
      t += std::fabs(nre[size_t(p[i])] - pre[i]) + std::fabs(nim[size_t(p[i])] - pim[i]);
    return t;
  }
};

// Roots of a real polynomial: reals and conjugate pairs, in a shuffled order.
void random_roots(std::mt19937& rng, size_t k, std::vector<double>* re, std::vector<double>* im) {
  std::uniform_real_distribution<double> u(-2, 2);
  re->clear(), im->clear();
  while (re->size() < k) {
    const double x = std::round(u(rng) * 8) / 8, y = std::round(u(rng) * 8) / 8;
    if (re->size() + 2 <= k && y != 0) {
      re->insert(re->end(), {x, x});
      im->insert(im->end(), {y, -y});
    } else {
      re->push_back(x);
      im->push_back(0);
    }
  }
  std::vector<size_t> order(k);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  std::vector<double> r2(k), i2(k);
  for (size_t q = 0; q < k; ++q) r2[q] = (*re)[order[q]], i2[q] = (*im)[order[q]];
  *re = r2, *im = i2;
}

TEST(RootLocus, SearchedPairingIsTheCheapestThatKeepsTheRules) {
  // Greedy pairs 0 with 0.5 and leaves 1 the far root; the search swaps.
  {
    const double pre[] = {0, 1}, pim[] = {0, 0}, nre[] = {0.5, -0.6}, nim[] = {0, 0};
    int32_t perm[2];
    double largest = 0;
    std::vector<double> work(size_t(rlocus_match_work(2)));
    EXPECT_NEAR(rlocus_match_roots(pre, pim, nre, nim, 2, perm, &largest, work.data()), 1.1, 1e-15);
    EXPECT_EQ(perm[0], 1);
    EXPECT_EQ(perm[1], 0);
    EXPECT_NEAR(largest, 0.6, 1e-15);
    const double bad[] = {0.5, NAN};  // NaN: the identity, as greedy
    EXPECT_TRUE(std::isnan(rlocus_match_roots(pre, pim, bad, nim, 2, perm, &largest, work.data())));
    EXPECT_EQ(perm[1], 1);
  }
  // Random root sets on a grid (so that conjugates are exact) against every
  // permutation: the searched total is the model's least among the valid
  // ones; with none valid, the greedy pairing stands.
  std::mt19937 rng(42);
  for (int trial = 0; trial < 400; ++trial) {
    const size_t k = 1 + size_t(trial % 6);
    std::vector<double> pre, pim, nre, nim;
    random_roots(rng, k, &pre, &pim);
    random_roots(rng, k, &nre, &nim);
    const PairingModel model{pre, pim, nre, nim};
    std::vector<int32_t> p(k);
    std::iota(p.begin(), p.end(), 0);
    double least = INFINITY;
    do
      if (model.valid(p)) least = std::min(least, model.cost(p));
    while (std::next_permutation(p.begin(), p.end()));
    std::vector<int32_t> perm(k), greedy(k);
    std::vector<double> work(static_cast<size_t>(rlocus_match_work(int32_t(k))));
    double largest = 0, greedy_largest = 0;
    const double g = rlocus_match_greedy(pre.data(), pim.data(), nre.data(), nim.data(), int32_t(k), greedy.data(),
                                         &greedy_largest);
    const double total = rlocus_match_roots(pre.data(), pim.data(), nre.data(), nim.data(), int32_t(k), perm.data(),
                                            &largest, work.data());
    std::vector<int32_t> sorted = perm;
    std::sort(sorted.begin(), sorted.end());
    for (size_t q = 0; q < k; ++q) ASSERT_EQ(sorted[q], int32_t(q)) << trial;  // a permutation
    EXPECT_NEAR(total, model.cost(perm), 1e-12) << trial;
    if (std::isfinite(least)) {
      EXPECT_TRUE(model.valid(perm)) << trial;
      EXPECT_NEAR(total, least, 1e-12) << trial;
      double most = 0;
      for (size_t i = 0; i < k; ++i)
        most = std::max(most, std::fabs(nre[size_t(perm[i])] - pre[i]) + std::fabs(nim[size_t(perm[i])] - pim[i]));
      EXPECT_EQ(largest, most) << trial;
    } else {
      EXPECT_EQ(perm, greedy) << trial;
      EXPECT_EQ(total, g) << trial;
    }
  }
}

// -den(s) / num(s) at s: real and non-negative on the locus.
std::complex<double> gain_at(const std::vector<double>& num, const std::vector<double>& den, std::complex<double> s) {
  std::complex<double> n = 0, d = 0;
  for (double c : num) n = n * s + c;
  for (double c : den) d = d * s + c;
  return -d / n;
}

TEST(RootLocus, BranchesHoldRealPositiveGainsAndKeepTheirHalf) {
  // Poles 0, -1, -2 (two meet at the break-away point near -0.42 and leave as
  // a pair); poles -1 +- 2i, -3 with a zero at -2; a tenth-order system.
  std::vector<double> tenth = {1};
  for (int k = 1; k <= 10; ++k) {
    std::vector<double> next(tenth.size() + 1, 0.0);
    for (size_t i = 0; i < tenth.size(); ++i) next[i] += tenth[i], next[i + 1] += k * tenth[i];
    tenth = next;
  }
  const struct {
    std::vector<double> num, den;
    LocusWindow win;
  } cases[] = {
      {{1}, {1, 3, 2, 0}, {-3, 1, -2, 2, 0.02}},
      {{1, 2}, {1, 5, 11, 15}, {-4, 1, -4, 4, 0.02}},
      {{1, 3, 5, 7, 9}, tenth, {-12, 2, -7, 7, 0.02}},
  };
  for (const auto& c : cases) {
    const int32_t dd = int32_t(c.den.size()) - 1, dn = int32_t(c.num.size()) - 1;
    std::vector<double> data(40000), work(size_t(rlocus_build_work(dd)));
    int64_t gains = 0;
    const int32_t length = rlocus_build_branches(c.den.data(), dd, c.num.data(), dn, c.win, data.data(), 20000,
                                                 work.data(), &gains);
    ASSERT_GT(length, 1);
    EXPECT_EQ(data[size_t(length - 1)], -1.0);
    EXPECT_GE(gains, 50);
    int32_t branches = 0;
    for (size_t at = 0; data[at] != -1.0; ++branches) {
      const size_t m = size_t(data[at]);
      const double* x = &data[at + 1];
      const double* y = x + m;
      int half = 0;
      for (size_t q = 0; q < m; ++q) {
        const std::complex<double> g = gain_at(c.num, c.den, {x[q], y[q]});
        // The gain is at most 49 before the last step; the branches that end
        // at zeros end at an infinite one.
        if (q + 1 == m && !(std::abs(g) < 1e3)) continue;
        EXPECT_LE(std::fabs(g.imag()), 1e-6 * (1 + std::abs(g))) << dd << " " << q;
        EXPECT_GE(g.real(), -1e-6 * (1 + std::abs(g))) << dd << " " << q;
        const int s = y[q] > 0 ? 1 : y[q] < 0 ? -1 : 0;
        if (s != 0 && half != 0) {
          EXPECT_EQ(s, half) << dd << " branch " << branches << " point " << q;
        }
        if (s != 0) half = s;
      }
      at += 1 + 2 * m;
    }
    EXPECT_EQ(branches, dd);
  }
}

}  // namespace

namespace {

// Random systems (real poles, complex pairs, integrators, zeros) traced on
// a window of their poles' reach with the command's budget: every point on
// the locus (a real positive gain), each branch starting at a pole, every
// pole's branch present, and the trace reaching the gain's end.
TEST(RootLocus, RandomSystemsAreTracedFromTheirPolesToTheirEnds) {
  std::mt19937 rng(83);
  std::uniform_real_distribution<double> u(0, 1);
  auto times = [](std::vector<double> p, double a, double b) {  // p (s^2 + a s + b), or (s + a) when b < 0
    std::vector<double> q(p.size() + (b < 0 ? 1 : 2), 0.0);
    for (size_t i = 0; i < p.size(); ++i) {
      q[i] += p[i];
      q[i + 1] += a * p[i];
      if (b >= 0) q[i + 2] += b * p[i];
    }
    return q;
  };
  int traced = 0;
  double worst_gain = 0;
  for (int n = 0; n < 200; ++n) {
    std::vector<double> den = {1}, num = {1};
    const int factors = 1 + int(u(rng) * 3);
    for (int k = 0; k < factors; ++k) {
      if (u(rng) < 0.5) {
        den = times(den, std::pow(10, 1.5 * u(rng) - 0.5), -1);
      } else {
        const double wn = std::pow(10, u(rng) - 0.5), z = std::pow(10, -2 * u(rng));
        den = times(den, 2 * z * wn, wn * wn);
      }
    }
    for (int k = int(u(rng) * 3); k > 0; --k) den.push_back(0);  // integrators
    const int32_t dd = int32_t(den.size()) - 1;
    if (u(rng) < 0.5 && dd > 1) num = times(num, std::pow(10, 1.5 * u(rng) - 0.5), -1);
    const int32_t dn = int32_t(num.size()) - 1;
    // The poles' reach sets the window, as the automatic axes would.
    double reach = 1;
    for (double c : den) reach = std::max(reach, std::fabs(c));
    reach = std::min(reach, 20.0);
    const LocusWindow win{-2 * reach, reach, -reach, reach, 0.02 * reach};
    std::vector<double> data(size_t(dd) * 1000 + 8), work(size_t(rlocus_build_work(dd)));
    const int32_t length =
        rlocus_build_branches(den.data(), dd, num.data(), dn, win, data.data(), int64_t(dd) * 500, work.data());
    ASSERT_GT(length, 1) << n;
    ASSERT_EQ(data[size_t(length - 1)], -1.0) << n;
    int32_t branches = 0;
    for (size_t at = 0; data[at] != -1.0; ++branches) {
      const size_t m = size_t(data[at]);
      ASSERT_GE(m, 1u);
      const double* x = &data[at + 1];
      const double* y = x + m;
      // The first point is a pole: the denominator vanishes there.
      std::complex<double> d0 = 0, s0{x[0], y[0]};
      double scale = 0;
      for (double c : den) d0 = d0 * s0 + c, scale = scale * std::abs(s0) + std::fabs(c);
      EXPECT_LE(std::abs(d0), 1e-6 * scale) << n << " branch " << branches;
      for (size_t q = 1; q < m; ++q) {
        const std::complex<double> g = gain_at(num, den, {x[q], y[q]});
        if (!(std::abs(g) < 1e3)) continue;  // at a zero: an infinite gain
        const double off = std::fabs(g.imag()) / (1 + std::abs(g));
        worst_gain = std::max(worst_gain, off);
        EXPECT_LE(off, 1e-6) << n << " branch " << branches << " point " << q;
        EXPECT_GE(g.real(), -1e-6 * (1 + std::abs(g))) << n << " branch " << branches << " point " << q;
      }
      // The trace runs to the gain's end: a branch stops at a zero (an
      // infinite gain), near the last normalised gain before it (39, the
      // numerator scaled by 1 / |num[0]|; a point is kept only when it has
      // moved by the append threshold, so the last one can lie a step or two
      // earlier) or outside the window; one that never moves that far keeps
      // its pole.
      const std::complex<double> end = gain_at(num, den, {x[m - 1], y[m - 1]});
      const bool outside = x[m - 1] < win.xlo || x[m - 1] > win.xhi || y[m - 1] < win.ylo || y[m - 1] > win.yhi;
      // (The numerator here has at most one zero; a branch within the append
      // threshold of it has arrived.)
      const bool at_zero = dn == 1 && std::fabs(x[m - 1] + num[1] / num[0]) + std::fabs(y[m - 1]) <=
                                          0.001 * (win.xhi - win.xlo);
      EXPECT_TRUE(outside || m == 1 || at_zero || !(std::abs(end) * std::fabs(num[0]) < 30))
          << n << " branch " << branches << " ends at gain " << end.real() << " after " << m << " points";
      at += 1 + 2 * m;
    }
    EXPECT_EQ(branches, dd) << n;
    ++traced;
  }
  EXPECT_EQ(traced, 200);
  EXPECT_LE(worst_gain, 1e-6);
}

}  // namespace

namespace {

// The true locus: the roots of den + K num for K over 26 decades, found here
// for every K (the builder's pairing and steps play no part). Every true
// point inside the window must lie near a drawn segment; the distance is
// measured in shares of the window's width and height.
std::vector<double> poly_from_roots(std::initializer_list<double> roots) {
  std::vector<double> p = {1};
  for (double r : roots) {
    std::vector<double> q(p.size() + 1, 0.0);
    for (size_t i = 0; i < p.size(); ++i) q[i] += p[i], q[i + 1] -= r * p[i];
    p = q;
  }
  return p;
}

struct Segments {
  std::vector<double> x0, y0, x1, y1;
};

Segments drawn_segments(const std::vector<double>& data, int32_t length) {
  Segments s;
  for (size_t at = 0; at < size_t(length) && data[at] >= 0;) {
    const size_t m = size_t(data[at]);
    const double* x = &data[at + 1];
    const double* y = x + m;
    for (size_t q = 0; q < m; ++q) {
      const size_t r = q + 1 < m ? q + 1 : q;
      s.x0.push_back(x[q]), s.y0.push_back(y[q]), s.x1.push_back(x[r]), s.y1.push_back(y[r]);
    }
    at += 1 + 2 * m;
  }
  return s;
}

// The largest distance, in window shares, of a true locus point inside the
// window from the nearest drawn segment.
double worst_locus_miss(const std::vector<double>& num, const std::vector<double>& den, const LocusWindow& win,
                        const Segments& s) {
  const int32_t dd = int32_t(den.size()) - 1, dn = int32_t(num.size()) - 1;
  const double sx = win.xhi - win.xlo, sy = win.yhi - win.ylo;
  std::vector<double> p(size_t(dd) + 1), re(size_t(dd), 0.0), im(size_t(dd), 0.0);
  std::vector<double> work(size_t(roots_real_work(dd)) + 8);
  double worst = 0;
  for (int k = 0; k <= 5200; ++k) {
    const double gain = std::pow(10.0, -10 + k / 200.0) / std::fabs(num[0]);
    for (int32_t i = 0; i <= dd; ++i) p[size_t(i)] = den[size_t(i)];
    for (int32_t i = 0; i <= dn; ++i) p[size_t(dd - dn + i)] += gain * num[size_t(i)];
    std::vector<double> q = p;
    roots_real_coeffs(q.data(), dd, re.data(), im.data(), work.data());
    for (int32_t j = 0; j < dd; ++j) {
      const double x = re[size_t(j)], y = im[size_t(j)];
      if (!(x >= win.xlo && x <= win.xhi && y >= win.ylo && y <= win.yhi)) continue;
      double best = INFINITY;
      for (size_t g = 0; g < s.x0.size(); ++g) {
        const double ax = s.x0[g] / sx, ay = s.y0[g] / sy, bx = s.x1[g] / sx, by = s.y1[g] / sy;
        const double px = x / sx, py = y / sy, dx = bx - ax, dy = by - ay, l = dx * dx + dy * dy;
        const double u = l > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / l, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(px - ax - u * dx, py - ay - u * dy));
      }
      worst = std::max(worst, best);
    }
  }
  return worst;
}

double traced_miss(const std::vector<double>& num, const std::vector<double>& den, const LocusWindow& win) {
  const int32_t dd = int32_t(den.size()) - 1, dn = int32_t(num.size()) - 1;
  std::vector<double> data(size_t(dd) * 1000 + 8), work(size_t(rlocus_build_work(dd)));
  const int32_t length =
      rlocus_build_branches(den.data(), dd, num.data(), dn, win, data.data(), int64_t(dd) * 500, work.data());
  return worst_locus_miss(num, den, win, drawn_segments(data, length));
}

// A window of the command's kind: the given view widened by 5 % each way,
// the tolerance a fortieth of its width and 10 pixels on each axis of a
// 500-pixel frame, all times 0.2.
LocusWindow view(double xlo, double xhi, double ylo, double yhi) {
  const double wx = 0.05 * (xhi - xlo), wy = 0.05 * (yhi - ylo);
  const double tol = 0.025 * (xhi - xlo + 2 * wx) + 0.02 * (xhi - xlo) + 0.02 * (yhi - ylo);
  return {xlo - wx, xhi + wx, ylo - wy, yhi + wy, 0.2 * tol};
}

TEST(RootLocus, TheLocusInsideTheWindowIsDrawnWhateverGainsItNeeds) {
  const struct {
    std::vector<double> num, den;
    LocusWindow win;
  } cases[] = {
      {{1}, {1, 3, 2, 0}, view(-4, 2, -3, 3)},
      {{1}, {1, 30, 200, 0}, view(-40, 20, -30, 30)},  // the same locus scaled by 10
      {{1}, poly_from_roots({-0.1, -0.2, -10, -20}), view(-0.5, 0.1, -0.3, 0.3)},
      {{1}, poly_from_roots({-0.1, -0.2, -10, -20}), view(-25, 5, -15, 15)},
      {{1}, poly_from_roots({-100, -200, -1000}), view(-1500, 500, -1000, 1000)},
      {{1, 20}, poly_from_roots({-1, -2, -3, -4}), view(-10, 2, -6, 6)},
      {{1, 1}, {1, 0.4, 4, 0}, view(-3, 1, -3, 3)},
      {{2}, poly_from_roots({-0.01, -0.02, -0.03}), view(-0.06, 0.02, -0.04, 0.04)},
  };
  for (const auto& c : cases) EXPECT_LE(traced_miss(c.num, c.den, c.win), 0.02) << c.den[1];
}

// Random systems at random scales (poles from 0.01 to 1000, light
// resonances, integrators, a zero) on the window of their poles' reach.
TEST(RootLocus, RandomSystemsAtEveryScaleDrawTheirLocusInTheWindow) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  double worst = 0;
  for (int n = 0; n < 60; ++n) {
    const double scale = std::pow(10, 5 * u(rng) - 2);
    std::vector<double> den = {1}, num = {1};
    auto times = [](std::vector<double> p, std::initializer_list<double> f) {
      std::vector<double> q(p.size() + f.size() - 1, 0.0);
      for (size_t i = 0; i < p.size(); ++i) {
        size_t j = 0;
        for (double c : f) q[i + j++] += c * p[i];
      }
      return q;
    };
    for (int k = 1 + int(u(rng) * 3); k > 0; --k) {
      if (u(rng) < 0.5) {
        den = times(den, {1, scale * std::pow(10, 1.5 * u(rng) - 0.5)});
      } else {
        const double wn = scale * std::pow(10, u(rng) - 0.5), z = std::pow(10, -2 * u(rng));
        den = times(den, {1, 2 * z * wn, wn * wn});
      }
    }
    if (u(rng) < 0.5) den.push_back(0);
    if (u(rng) < 0.5 && den.size() > 2) num = times(num, {1, scale * std::pow(10, 1.5 * u(rng) - 0.5)});
    const double r = 3 * scale;
    const double miss = traced_miss(num, den, view(-2 * r, r, -r, r));
    EXPECT_LE(miss, 0.02) << n;
    worst = std::max(worst, miss);
  }
  std::printf("root locus: worst miss %.3g of the window\n", worst);
}

}  // namespace
