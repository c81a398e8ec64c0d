// Delaunay triangulation, point location and interpolation: random point
// sets against scipy.spatial (refdata/make_delaunay.py) as sets of simplices,
// the empty-circumsphere property, the triangle count 2n - h - 2, the hull
// flags, griddata against scipy's linear interpolation, and the small cases
// and errors from ZVR code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "numlib/misc/geometry.h"
#include "support/zvr_session.h"

namespace {

struct RefSet {
  int n = 0, d = 0, m = 0, h = 0, q = 0;
  std::vector<double> pts;                 // n x d
  std::set<std::vector<int>> simplices;    // sorted, 1-based
  std::vector<int> hull;
  std::vector<double> query;               // q x 3: x, y, value
};

RefSet read_set(const std::string& name) {
  std::ifstream in(std::string(TN_MISC_REFDATA "/") + name);
  RefSet r;
  in >> r.n >> r.d >> r.m >> r.h >> r.q;
  r.pts.resize(size_t(r.n) * r.d);
  for (double& v : r.pts) in >> v;
  for (int s = 0; s < r.m; ++s) {
    std::vector<int> v(size_t(r.d) + 1);
    for (int& x : v) in >> x;
    r.simplices.insert(v);
  }
  r.hull.resize(size_t(r.h));
  for (int& v : r.hull) in >> v;
  r.query.resize(size_t(r.q) * 3);
  // strtod reads "nan", which operator>> refuses.
  for (double& v : r.query) {
    std::string word;
    in >> word;
    v = std::strtod(word.c_str(), nullptr);
  }
  return r;
}

class Geometry : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(z.clean()); }

  void push_matrix(const std::vector<double>& v, int32_t rows, int32_t cols) {
    double* re = nullptr;
    ASSERT_EQ(stk_push_matrix(z.c, rows, cols, &re, nullptr), kOk);
    std::copy(v.begin(), v.end(), re);
  }
  std::vector<double> top_doubles(int32_t* rows = nullptr, int32_t* cols = nullptr) {
    int32_t r = 0, c = 0;
    double* re = nullptr;
    EXPECT_EQ(stk_get_matrix(z.c, 0, &r, &c, &re, nullptr), kOk);
    if (rows) *rows = r;
    if (cols) *cols = c;
    return std::vector<double>(re, re + int64_t(r) * c);
  }

  ZvrSession z;
};

TEST_F(Geometry, RandomSetsMatchScipy) {
  for (const char* name : {"delaunay_2d_40.txt", "delaunay_2d_200.txt", "delaunay_2d_500.txt",
                           "delaunay_3d_60.txt", "delaunay_3d_300.txt"}) {
    const RefSet r = read_set(name);
    ASSERT_GT(r.n, 0) << name;
    push_matrix(r.pts, r.n, r.d);
    ASSERT_EQ(bi_delaunayn(z.c, 1, 2, 0), kOk) << name;
    int32_t m = 0, cols = 0;
    const std::vector<double> t = top_doubles(&m, &cols);
    ASSERT_EQ(cols, r.d + 1);
    std::set<std::vector<int>> got;
    for (int32_t s = 0; s < m; ++s) {
      std::vector<int> v;
      for (int32_t k = 0; k <= r.d; ++k) v.push_back(int(t[size_t(s) * cols + k]));
      std::sort(v.begin(), v.end());
      got.insert(v);
    }
    EXPECT_EQ(got, r.simplices) << name;
    if (r.d == 2) {
      EXPECT_EQ(m, 2 * r.n - r.h - 2) << name;
    }
    // No point strictly inside any circumsphere.
    std::vector<double> work(size_t(geom_circumcenter_work(r.d)));
    for (int32_t s = 0; s < m; ++s) {
      int32_t verts[4];
      for (int32_t k = 0; k <= r.d; ++k) verts[k] = int32_t(t[size_t(s) * cols + k]) - 1;
      double c[3], r2 = 0;
      geom_circumcenter(r.pts.data(), r.d, verts, c, &r2, work.data());
      for (int i = 0; i < r.n; ++i) {
        double dist = 0;
        for (int k = 0; k < r.d; ++k) dist += (r.pts[size_t(i) * r.d + k] - c[k]) * (r.pts[size_t(i) * r.d + k] - c[k]);
        EXPECT_GE(dist, r2 * (1 - 1e-9)) << name << " simplex " << s << " point " << i;
      }
    }
    stk_drop(z.c);
    // The hull flags (second output, below T).
    const uint8_t* flags = reinterpret_cast<const uint8_t*>(item_data(z.c, 0)) + 16;
    std::vector<int> hull;
    for (int i = 0; i < r.n; ++i)
      if (flags[i]) hull.push_back(i + 1);
    EXPECT_EQ(hull, r.hull) << name;
    stk_drop(z.c);
  }
}

TEST_F(Geometry, GriddataMatchesScipyInsideAndIsNanOutside) {
  const RefSet r = read_set("delaunay_2d_200.txt");
  std::vector<double> x, y, zv, qx, qy;
  for (int i = 0; i < r.n; ++i) {
    x.push_back(r.pts[2 * i]);
    y.push_back(r.pts[2 * i + 1]);
    zv.push_back(std::sin(3 * x.back()) + std::cos(2 * y.back()));
  }
  for (int k = 0; k < r.q; ++k) {
    qx.push_back(r.query[3 * k]);
    qy.push_back(r.query[3 * k + 1]);
  }
  push_matrix(x, 1, r.n);
  push_matrix(y, 1, r.n);
  push_matrix(zv, 1, r.n);
  push_matrix(qx, 1, r.q);
  push_matrix(qy, 1, r.q);
  ASSERT_EQ(bi_tsearch_griddata(z.c, 5, 1, kGeomGriddata), kOk);
  int32_t rows = 0, cols = 0;
  const std::vector<double> g = top_doubles(&rows, &cols);
  EXPECT_EQ(rows, 1);
  ASSERT_EQ(cols, r.q);
  int inside = 0;
  for (int k = 0; k < r.q; ++k) {
    const double want = r.query[3 * k + 2];
    if (std::isnan(want)) {
      EXPECT_TRUE(std::isnan(g[k])) << k;
    } else {
      ++inside;
      EXPECT_NEAR(g[k], want, 1e-12) << k;
    }
  }
  EXPECT_GT(inside, 100);
  stk_drop(z.c);
  // Nearest at every data point gives its value.
  push_matrix(x, 1, r.n);
  push_matrix(y, 1, r.n);
  push_matrix(zv, 1, r.n);
  push_matrix(x, 1, r.n);
  push_matrix(y, 1, r.n);
  ASSERT_EQ(stk_push_cstr(z.c, -1, "nearest"), kOk);
  ASSERT_EQ(bi_tsearch_griddata(z.c, 6, 1, kGeomGriddata), kOk);
  EXPECT_EQ(top_doubles(), zv);
  stk_drop(z.c);
}

TEST_F(Geometry, SmallCasesAndErrorsFromZvr) {
  EXPECT_EQ(z.value("delaunay([0 1 0], [0 0 1])"), "double 1x3 [1 2 3]");
  ASSERT_EQ(z.run("[T, H] = delaunay([0 1 0], [0 0 1]);\n"), kOk);
  EXPECT_EQ(z.value("H"), "logical 3x1 [1 1 1]");
  ASSERT_EQ(z.run("x = [0 1 1 0]; y = [0 0 1 1];\n[T, H] = delaunay(x, y);\n"), kOk);
  EXPECT_EQ(z.value("size(T)"), "double 1x2 [2 3]");
  EXPECT_EQ(z.value("H"), "logical 4x1 [1 1 1 1]");
  ASSERT_EQ(z.run("x = [0 1 1 0 0.5]; y = [0 0 1 1 0.5];\n[T, H] = delaunay(x, y);\n"), kOk);
  EXPECT_EQ(z.value("size(T)"), "double 1x2 [4 3]");
  EXPECT_EQ(z.value("H"), "logical 5x1 [1 1 1 1 0]");
  // The centre is a vertex of all four: the lowest simplex index.
  EXPECT_EQ(z.value("tsearch(x, y, T, 0.5, 0.5)"), "double 1x1 [1]");
  EXPECT_EQ(z.value("tsearchn([x' y'], T, [0.5 0.5; 2 2])"), "double 2x1 [1 nan]");
  EXPECT_EQ(z.value("griddata(x, y, x + y, [0.5 3], [0.25 3])"), "double 1x2 [0.75 nan]");
  EXPECT_EQ(z.value("griddata(x, y, x + 2*y, x, y, 'nearest')"), "double 1x5 [0 1 3 2 1.5]");
  EXPECT_EQ(z.value("griddatan([x' y'], (x + 1i*y).', [0.5 0.25])"), "double 1x1 [0.5+0.25i]");
  EXPECT_EQ(z.value("delaunay([1 2], [1 2 3])"), "error 20");
  EXPECT_EQ(z.value("delaunayn({1})"), "error 44");
  EXPECT_EQ(z.value("tsearchn([x' y'], [T T], [0 0])"), "error 20");
  EXPECT_EQ(z.value("tsearchn([x' y'], T + 10, [0 0])"), "error 29");
  EXPECT_EQ(z.value("griddata(x, y, x, x, y, 'cubic')"), "error 108");
  EXPECT_EQ(z.value("griddatan([x' y'], [1 2], [0 0])"), "error 21");
  EXPECT_EQ(z.value("griddata(x, y, x, [1 2], [1 2 3])"), "error 20");
}

TEST_F(Geometry, VoronoiVerticesMatchScipy) {
  const RefSet r = read_set("delaunay_2d_200.txt");
  std::ifstream in(TN_MISC_REFDATA "/voronoi_2d_200.txt");
  int k = 0;
  in >> k;
  std::vector<std::pair<double, double>> want(static_cast<size_t>(k));
  for (auto& p : want) in >> p.first >> p.second;
  push_matrix(r.pts, r.n, 2);
  ASSERT_EQ(bi_voronoin(z.c, 1, 1, 0), kOk);
  int32_t rows = 0, cols = 0;
  const std::vector<double> v = top_doubles(&rows, &cols);
  ASSERT_EQ(rows, k + 1);
  EXPECT_TRUE(std::isinf(v[0]) && std::isinf(v[1]));
  std::vector<std::pair<double, double>> got;
  for (int32_t i = 1; i < rows; ++i) got.emplace_back(v[2 * i], v[2 * i + 1]);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  for (int i = 0; i < k; ++i) {
    EXPECT_NEAR(got[size_t(i)].first, want[size_t(i)].first, 1e-9 * (1 + std::fabs(want[size_t(i)].first)));
    EXPECT_NEAR(got[size_t(i)].second, want[size_t(i)].second, 1e-9 * (1 + std::fabs(want[size_t(i)].second)));
  }
  stk_drop(z.c);
}

TEST_F(Geometry, VoronoiCellsOfTheSquareAndCentre) {
  ASSERT_EQ(z.run("x = [0 1 1 0 0.5]; y = [0 0 1 1 0.5];\n[V, C] = voronoi(x, y);\n"
                  "[W, D] = voronoin([x' y']);\n"), kOk);
  EXPECT_EQ(z.value("isinf(V(1, :))"), "logical 1x2 [1 1]");
  // Corners: their two finite vertices counter-clockwise, the point at
  // infinity in the open gap; the centre: four finite vertices around it.
  EXPECT_EQ(z.value("C"), "{double 1x3 [5 4 1], double 1x3 [3 5 1], double 1x3 [2 3 1], "
                          "double 1x3 [4 2 1], double 1x4 [2 4 5 3]}");
  EXPECT_EQ(z.value("D"), "{double 1x3 [1 4 5], double 1x3 [1 3 5], double 1x3 [1 2 3], "
                          "double 1x3 [1 2 4], double 1x4 [2 3 4 5]}");
  EXPECT_EQ(z.value("voronoi([1 2], [1 2 3])"), "error 20");
}

uint8_t always_abort(void*) { return 1; }

// The break key stops a triangulation and a Voronoi cell construction.
TEST_F(Geometry, AbortPollStopsTheWork) {
  ASSERT_EQ(z.run("x = [0 1 1 0 0.5]; y = [0 0 1 1 0.5];\n"), kOk);
  engine_set_option_pair(z.c, always_abort, nullptr);
  EXPECT_EQ(z.value("delaunay(x, y)"), "error 501");
  EXPECT_EQ(z.value("voronoin([x' y'])"), "error 501");
  engine_set_option_pair(z.c, nullptr, nullptr);
  EXPECT_EQ(z.value("size(delaunay(x, y))"), "double 1x2 [4 3]");
}

TEST_F(Geometry, TooLargeForTheFreeSpaceGivesThree) {
  std::vector<double> pts(2000);
  for (size_t i = 0; i < pts.size(); ++i) pts[i] = std::sin(double(i) * 1.7) * 100;
  push_matrix(pts, 1000, 2);
  const uint32_t capacity = z.c->data_capacity;
  const int32_t top = z.c->data_top;
  z.c->data_capacity = uint32_t(z.c->data_top + 3000);
  const std::vector<uint32_t> desc(desc_words(z.c), desc_words(z.c) + z.c->desc_top);
  EXPECT_EQ(bi_delaunayn(z.c, 1, 2, 0), kDataStackOverflow);
  z.c->data_capacity = capacity;
  EXPECT_EQ(z.c->data_top, top);
  EXPECT_EQ(std::vector<uint32_t>(desc_words(z.c), desc_words(z.c) + z.c->desc_top), desc);
  stk_drop(z.c);
}

}  // namespace
