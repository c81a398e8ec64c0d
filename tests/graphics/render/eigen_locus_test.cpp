// The eigenvalue-locus raster: the distance checked by its definition (the
// smallest weighted change of the coefficients that puts a root at the
// point: the change found has the root, its size is the distance, and no
// other change with the root is smaller) on random polynomials and positive
// definite weightings; and record 46 drawn through the recording driver:
// black at the roots, rows mirrored about the real axis, ranges off the
// axis, levels and bands, and nothing drawn when something is missing. The
// distance also against numpy's nearest polynomial (refdata/).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/render/eigen_locus.h"
#include "graphics/render/plot_render.h"
#include "support/room_limit.h"
#include "support/plot_list_builder.h"
#include "support/recording_driver.h"

namespace {

using cd = std::complex<double>;
using Mat = std::vector<double>;

// Inverse of a small symmetric positive definite matrix by Gauss-Jordan.
Mat inverse(Mat a, int n) {
  Mat inv(size_t(n) * n, 0.0);
  for (int i = 0; i < n; ++i) inv[size_t(i) * n + i] = 1;
  for (int c = 0; c < n; ++c) {
    const double piv = a[size_t(c) * n + c];
    for (int j = 0; j < n; ++j) a[size_t(c) * n + j] /= piv, inv[size_t(c) * n + j] /= piv;
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[size_t(r) * n + c];
      for (int j = 0; j < n; ++j) a[size_t(r) * n + j] -= f * a[size_t(c) * n + j], inv[size_t(r) * n + j] -= f * inv[size_t(c) * n + j];
    }
  }
  return inv;
}

double quad(const Mat& m, const std::vector<double>& u, int n) {
  double s = 0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) s += u[size_t(i)] * m[size_t(i) * n + j] * u[size_t(j)];
  return s;
}

cd polyval(const std::vector<double>& p, cd z) {
  cd v = 0;
  for (double c : p) v = v * z + c;
  return v;
}

TEST(EigenLocus, DistanceIsTheSmallestWeightedChangeWithARootThere) {
  std::mt19937_64 rng(46);
  std::normal_distribution<double> g(0.0, 1.0);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + round % 5;
    std::vector<double> p(size_t(n) + 1);
    for (double& c : p) c = g(rng);
    Mat A(size_t(n) * n), W(size_t(n) * n, 0.0);
    for (double& a : A) a = g(rng);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        for (int k = 0; k < n; ++k) W[size_t(i) * n + j] += A[size_t(i) * n + k] * A[size_t(j) * n + k];
        if (i == j) W[size_t(i) * n + j] += 0.5;
      }
    const Mat Winv = inverse(W, n);
    const bool real_point = round % 2 == 0;
    const cd z(g(rng), real_point ? 0.0 : g(rng));
    std::vector<double> scratch(2 * size_t(n));
    const double d = erlocus_root_distance(p.data(), W.data(), n, z.real(), z.imag(), scratch.data());
    if (n == 1 && !real_point) {
      // Only the constant moves, and it is real: no change reaches a complex root.
      EXPECT_TRUE(std::isinf(d) || std::isnan(d)) << round;
      continue;
    }
    // The smallest change: delta = -W V (V'WV)^-1 [Re P; Im P], V the real
    // and imaginary parts of (z^(n-1), ..., 1).
    std::vector<double> vr(static_cast<size_t>(n)), vi(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      const cd v = std::pow(z, n - 1 - i);
      vr[size_t(i)] = v.real(), vi[size_t(i)] = v.imag();
    }
    const cd P = polyval(p, z);
    std::vector<double> Wvr(size_t(n), 0), Wvi(size_t(n), 0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) Wvr[size_t(i)] += W[size_t(i) * n + j] * vr[size_t(j)], Wvi[size_t(i)] += W[size_t(i) * n + j] * vi[size_t(j)];
    double a = 0, b = 0, c = 0;
    for (int i = 0; i < n; ++i) a += vr[size_t(i)] * Wvr[size_t(i)], b += vr[size_t(i)] * Wvi[size_t(i)], c += vi[size_t(i)] * Wvi[size_t(i)];
    double l1, l2;
    if (real_point) {
      l1 = P.real() / a, l2 = 0;
    } else {
      const double det = a * c - b * b;
      l1 = (c * P.real() - b * P.imag()) / det, l2 = (a * P.imag() - b * P.real()) / det;
    }
    std::vector<double> delta(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) delta[size_t(i)] = -(Wvr[size_t(i)] * l1 + Wvi[size_t(i)] * l2);
    std::vector<double> q = p;
    for (int i = 0; i < n; ++i) q[size_t(i) + 1] += delta[size_t(i)];
    double scale = 0;
    for (int i = 0; i <= n; ++i) scale += std::fabs(p[size_t(i)]) * std::pow(std::abs(z), n - i);
    EXPECT_LE(std::abs(polyval(q, z)), 1e-9 * (1 + scale)) << round;
    const double size = quad(Winv, delta, n);
    EXPECT_NEAR(d, size, 1e-8 * (1 + size)) << round;
    // Any other change that keeps the root costs more.
    for (int t = 0; t < 5 && n > (real_point ? 1 : 2); ++t) {
      std::vector<double> u(static_cast<size_t>(n));
      for (double& e : u) e = g(rng);
      // Project u onto the changes that leave p(z) alone, V'u = 0, through
      // an orthogonal basis of V's columns.
      std::vector<double> e1 = vr, e2 = vi;
      auto dot = [&](const std::vector<double>& a, const std::vector<double>& b) {
        double t = 0;
        for (int i = 0; i < n; ++i) t += a[size_t(i)] * b[size_t(i)];
        return t;
      };
      const double r12 = dot(e1, e2) / dot(e1, e1);
      for (int i = 0; i < n; ++i) e2[size_t(i)] -= r12 * e1[size_t(i)];
      for (const std::vector<double>* v : {&e1, &e2}) {
        const double vv = dot(*v, *v);
        if (vv <= 1e-300) continue;
        const double vu = dot(*v, u);
        for (int i = 0; i < n; ++i) u[size_t(i)] -= vu / vv * (*v)[size_t(i)];
      }
      std::vector<double> other = delta;
      for (int i = 0; i < n; ++i) other[size_t(i)] += u[size_t(i)];
      EXPECT_GE(quad(Winv, other, n), size * (1 - 1e-9)) << round;
    }
  }
  // At a root the distance is 0: (z - 1)(z - 2)(z^2 + 1).
  const double p[] = {1, -3, 3, -3, 2};
  const double W[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  double scratch[8];
  EXPECT_EQ(erlocus_root_distance(p, W, 4, 1, 0, scratch), 0);
  EXPECT_EQ(erlocus_root_distance(p, W, 4, 2, 0, scratch), 0);
  EXPECT_EQ(erlocus_root_distance(p, W, 4, 0, 1, scratch), 0);
}

#include "refdata/erlocus_reference.inc"

// Against numpy's nearest polynomial (refdata/make_erlocus_reference.py):
// the minimum-norm change of the coefficients, its root checked by
// numpy.polyval, at real and complex points; 0 at numpy's roots of p.
TEST(EigenLocus, DistanceMatchesNumpysNearestPolynomial) {
  int roots = 0, complex_points = 0;
  for (const ErlocusRef& c : kErlocusRefs) {
    const int32_t n = int32_t(c.p.size()) - 1;
    ASSERT_EQ(c.W.size(), size_t(n) * size_t(n));
    std::vector<double> scratch(2 * size_t(n));
    const double d = erlocus_root_distance(c.p.data(), c.W.data(), n, c.x, c.y, scratch.data());
    if (c.at_root) {
      // numpy's root is within rounding of the true one: p there is of the
      // order of eps, the distance of its square.
      EXPECT_LE(std::fabs(d), 1e-20) << "n " << n << " at " << c.x << "," << c.y;
      ++roots;
    } else {
      EXPECT_NEAR(d, c.d, 1e-9 * (1 + c.d)) << "n " << n << " at " << c.x << "," << c.y;
    }
    complex_points += c.y != 0;
  }
  EXPECT_GT(roots, 20);
  EXPECT_GT(complex_points, 20);
}

using plotlists::flat_subplot;
using plotlists::ListBuilder;
using plotlists::pack_bytes;

// One drawn row: its pixel position and colours.
struct Row {
  double x, y;
  int n;
  std::vector<int> r, g, b;
};
std::vector<int> ints(const std::string& s) {
  std::vector<int> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(std::stoi(item));
  return out;
}
std::vector<Row> rows_of(const std::string& log) {
  std::vector<Row> out;
  std::stringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("image_row ", 0) != 0) continue;
    std::stringstream f(line.substr(10));
    Row row;
    std::string n, bands, cell, rows, r, g, b;
    f >> row.x >> row.y >> n >> bands >> cell >> rows >> r >> g >> b;
    row.n = std::stoi(n.substr(2));
    row.r = ints(r.substr(2)), row.g = ints(g.substr(2)), row.b = ints(b.substr(2));
    out.push_back(row);
  }
  return out;
}

struct Locus : ::testing::Test {
  recdrv::Recorder rec;
  Subplot s{};
  StyleSpec default_style{0, 0, 0, 0};
  std::string draw(ListBuilder& b) {
    int32_t at = 0;
    s.optionFlags &= ~0xFFu;
    RenderRequest q{b.d.data(), int32_t(b.d.size()), nullptr, &s, &at,
                    &default_style, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &rec.table,
                    &rec.context};
    plotlist_render(&q);
    return rec.take();
  }
  // Record 46 of p with the identity weighting and k levels.
  static std::vector<double> locus(const std::vector<double>& p, const std::vector<double>& levels,
                                   const std::vector<uint8_t>& colours) {
    const int n = int(p.size()) - 1;
    std::vector<double> d{double(n)};
    d.insert(d.end(), p.begin(), p.end());
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) d.push_back(i == j ? 1.0 : 0.0);
    d.push_back(double(levels.size()));
    for (double l : levels) d.push_back(l * l);
    if (!colours.empty())
      for (double v : pack_bytes(colours)) d.push_back(v);
    return d;
  }
};

TEST_F(Locus, BlackAtTheRootsAndMirroredRows) {
  // 20 by 20 pixels over [-2, 2]^2: a pixel is 0.2, y = 0 lies on pixel row 10.
  flat_subplot(&s, 0, 20, 0, 20, -2, 2, -2, 2);
  ListBuilder b;
  b.open(0).recv(46, 0, 0, locus({1, 0, 1}, {}, {}));  // roots +i and -i
  const std::vector<Row> rows = rows_of(draw(b));
  ASSERT_FALSE(rows.empty());
  // Every pixel row of the frame is drawn; rows mirrored about pixel row 10
  // have the same colours (row 0's mirror lies below the frame).
  ASSERT_EQ(rows.size(), 21u);  // row 10, the axis, is drawn twice
  std::vector<const Row*> at(20, nullptr);
  for (const Row& r : rows) {
    ASSERT_TRUE(r.y >= 0 && r.y < 20);
    EXPECT_EQ(r.n, 20);
    at[size_t(r.y)] = &r;
  }
  for (int y = 1; y < 20; ++y) {
    ASSERT_TRUE(at[size_t(y)] && at[size_t(20 - y)]) << y;
    EXPECT_EQ(at[size_t(y)]->r, at[size_t(20 - y)]->r) << y;
    EXPECT_EQ(at[size_t(y)]->b, at[size_t(20 - y)]->b) << y;
  }
  bool up = false, down = false;
  for (const Row& r : rows) {
    if (r.y == 5) up = r.r[10] == 0 && r.g[10] == 0 && r.b[10] == 0;
    if (r.y == 15) down = r.r[10] == 0 && r.g[10] == 0 && r.b[10] == 0;
  }
  EXPECT_TRUE(up);
  EXPECT_TRUE(down);
  // Far from the roots: white.
  EXPECT_EQ(rows[0].r[0], 255);
}

TEST_F(Locus, BandsAndLevels) {
  flat_subplot(&s, 0, 20, 0, 20, -2, 2, -2, 2);
  // p(z) = z: d = x^2 + y^2 at (x, y) with W = 1.
  ListBuilder b;
  b.open(0).recv(46, 0, 0, locus({1, 0}, {}, {}));
  std::vector<Row> rows = rows_of(draw(b));
  ASSERT_FALSE(rows.empty());
  const Row& axis = rows[0];  // y = 0
  EXPECT_EQ(axis.y, 10);
  // Columns at x = -2 + 0.2 c: d = x^2 through the bands.
  auto colour = [&](const Row& r, int c) { return std::vector<int>{r.r[size_t(c)], r.g[size_t(c)], r.b[size_t(c)]}; };
  EXPECT_EQ(colour(axis, 10), (std::vector<int>{0, 0, 0}));        // d = 0
  EXPECT_EQ(colour(axis, 12), (std::vector<int>{0, 0, 255}));      // d = 0.16
  EXPECT_EQ(colour(axis, 15), (std::vector<int>{102, 102, 255}));  // d = 1 (bounds hold)
  EXPECT_EQ(colour(axis, 18), (std::vector<int>{204, 204, 204}));  // d = 2.56
  EXPECT_EQ(colour(axis, 0), (std::vector<int>{204, 204, 204}));   // d = 4
  ListBuilder l;
  l.open(0).recv(46, 0, 0, locus({1, 0}, {0.5, 1.5}, {10, 20, 30, 40, 50, 60}));
  rows = rows_of(draw(l));
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(colour(rows[0], 10), (std::vector<int>{10, 20, 30}));     // d = 0 < 0.25
  EXPECT_EQ(colour(rows[0], 13), (std::vector<int>{40, 50, 60}));     // d = 0.36 < 2.25
  EXPECT_EQ(colour(rows[0], 19), (std::vector<int>{255, 255, 255}));  // d = 3.24: no level
}

TEST_F(Locus, ARangeAboveTheAxisStartsAtItsBottom) {
  // y from 1 to 3 over 20 pixels: dy = 0.1, y = 0 lies 10 pixels below the frame.
  flat_subplot(&s, 0, 20, 0, 20, -2, 2, 1, 3);
  ListBuilder b;
  b.open(0).recv(46, 0, 0, locus({1, 0, 1}, {}, {}));
  const std::vector<Row> rows = rows_of(draw(b));
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front().y, 19);  // y = 1.1: the first row inside, at the frame's bottom
  EXPECT_LE(rows.size(), 21u);
  for (const Row& r : rows) {
    EXPECT_GE(r.y, 0);
    EXPECT_LT(r.y, 20);
  }
  // The root at +i is the pixel of y = 1 on the frame's bottom edge, outside;
  // the row above it is dark blue near x = 0.
  EXPECT_EQ(rows.front().b[10], 255);
}

TEST_F(Locus, NothingDrawnWithoutWhatItNeeds) {
  flat_subplot(&s, 0, 20, 0, 20, -2, 2, -2, 2);
  ListBuilder b;
  b.open(0).recv(46, 0, 0, locus({1, 0, 1}, {}, {}));
  ASSERT_FALSE(rows_of(draw(b)).empty());
  {
    const RoomLimit limit(8 * 8);  // 3 bytes per column are 8 doubles; 2n more are missing
    EXPECT_TRUE(rows_of(draw(b)).empty());
  }
  rec.table.draw_image_row = nullptr;
  EXPECT_EQ(draw(b).find("image_row"), std::string::npos);
  rec.table.draw_image_row = recdrv::Recorder::draw_image_row;
  s.is3D = 1;  // a 2-D drawing only
  EXPECT_EQ(draw(b).find("image_row"), std::string::npos);
  s.is3D = 0;
  // Layouts that do not fit the record draw nothing.
  rec.table.draw_image_row = recdrv::Recorder::draw_image_row;
  for (double bad : {-1.0, 0.5, 3.0, 1e9, double(NAN)}) {
    std::vector<double> d = locus({1, 0, 1}, {}, {});
    d[0] = bad;
    ListBuilder w;
    w.open(0).recv(46, 0, 0, d);
    EXPECT_TRUE(rows_of(draw(w)).empty()) << bad;
  }
  std::vector<double> d = locus({1, 0, 1}, {0.5}, {1, 2, 3});
  d[1 + 3 + 4] = 2;  // k = 2 needs one more level than the record holds
  ListBuilder w;
  w.open(0).recv(46, 0, 0, d);
  EXPECT_TRUE(rows_of(draw(w)).empty());
}

}  // namespace
