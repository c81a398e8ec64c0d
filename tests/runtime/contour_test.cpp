// The contour tracer against a model on random grids (every cell-edge
// crossing passed exactly once, closed curves repeating their first point),
// filled mode's closed regions, and contour and contour3 run from ZVR code:
// the levels, ties at grid values, the background and order by area of
// filled contours, the 3-D records, a list that fills mid-way, the failure
// sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "graphics/commands/contour_trace.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
struct Point {
  double x, y;
};
using Trace = std::vector<Point>;

// Every trace of one level, as the command runs them.
std::vector<Trace> trace_all(const ContourGrid& g, double level, bool filled) {
  std::vector<uint8_t> visited(size_t(g.rows) * g.cols, 0);
  std::vector<Trace> out;
  const int32_t room = 8 * g.rows * g.cols + 64;
  std::vector<double> x(room), y(room);
  contour_for_each_start(g, level, filled, visited.data(), [&](const ContourStart& s) {
    int32_t m = 0;
    EXPECT_EQ(contour_trace_level(g, level, filled, s.r, s.c, s.dir, visited.data(), x.data(), y.data(), room, &m),
              0);
    Trace t;
    for (int32_t i = 0; i < m; ++i) t.push_back({x[i], y[i]});
    out.push_back(t);
    return 0;
  });
  return out;
}

// The model: the crossing of every cell edge whose ends straddle the level.
std::vector<Point> model_crossings(const ContourGrid& g, double L) {
  std::vector<Point> out;
  const double dx = (g.x2 - g.x1) / (g.cols - 1), dy = (g.y2 - g.y1) / (g.rows - 1);
  auto z = [&](int r, int c) { return g.z[r * g.cols + c]; };
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.cols; ++c) {
      if (c + 1 < g.cols && std::min(z(r, c), z(r, c + 1)) < L && L < std::max(z(r, c), z(r, c + 1)))
        out.push_back({g.x1 + (c + (L - z(r, c)) / (z(r, c + 1) - z(r, c))) * dx, g.y1 + r * dy});
      if (r + 1 < g.rows && std::min(z(r, c), z(r + 1, c)) < L && L < std::max(z(r, c), z(r + 1, c)))
        out.push_back({g.x1 + c * dx, g.y1 + (r + (L - z(r, c)) / (z(r + 1, c) - z(r, c))) * dy});
    }
  return out;
}

bool near(Point a, Point b) { return std::fabs(a.x - b.x) <= 1e-12 && std::fabs(a.y - b.y) <= 1e-12; }

TEST(ContourTrace, RandomGridsPassEveryCrossingOnce) {
  std::mt19937_64 rng(41);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int round = 0; round < 6; ++round) {
    const int R = 40, C = 30;
    std::vector<double> z(R * C);
    // Smooth waves plus noise: long open curves and many closed ones.
    const double a = u(rng) * 3, b = u(rng) * 3;
    for (int r = 0; r < R; ++r)
      for (int c = 0; c < C; ++c) z[r * C + c] = std::sin(a * r / 5.0 + c / 4.0) * std::cos(b * c / 6.0 - r / 7.0) + 0.2 * u(rng);
    const ContourGrid g{z.data(), R, C, -2.0, 3.0, 1.0, 9.0};
    for (double L : {-0.5, 0.0, 0.13, 0.71}) {
      std::vector<Point> points;
      for (const Trace& t : trace_all(g, L, false)) {
        ASSERT_GE(t.size(), 2u);
        const bool closed = t.size() > 2 && near(t.front(), t.back());
        points.insert(points.end(), t.begin(), t.end() - (closed ? 1 : 0));
      }
      const std::vector<Point> want = model_crossings(g, L);
      EXPECT_EQ(points.size(), want.size()) << round << " " << L;
      for (const Point& p : want) {
        int seen = 0;
        for (const Point& q : points) seen += near(p, q);
        EXPECT_EQ(seen, 1) << round << " " << L << " at " << p.x << "," << p.y;
      }
    }
  }
}

TEST(ContourTrace, ConeGivesOneClosedCircle) {
  const int n = 21;
  std::vector<double> z(n * n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) z[r * n + c] = std::hypot(r - 10.0, c - 10.0);
  const ContourGrid g{z.data(), n, n, -10, 10, -10, 10};
  for (bool filled : {false, true}) {
    const std::vector<Trace> traces = trace_all(g, 5.5, filled);
    ASSERT_EQ(traces.size(), 1u) << filled;
    const Trace& t = traces[0];
    EXPECT_GT(t.size(), 20u);
    EXPECT_EQ(t.front().x, t.back().x);
    EXPECT_EQ(t.front().y, t.back().y);
    for (const Point& p : t) EXPECT_NEAR(std::hypot(p.x, p.y), 5.5, 0.1);
  }
}

// Filled mode closes every region along the grid's edge; each record
// starts and ends on the same point and the corners it passes are grid corners.
TEST(ContourTrace, FilledRegionsAreClosed) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int round = 0; round < 20; ++round) {
    const int R = 2 + round % 7, C = 2 + round % 5;
    std::vector<double> z(R * C);
    for (double& v : z) v = u(rng);
    const ContourGrid g{z.data(), R, C, 0, 1, 0, 1};
    for (double L : {0.3, 0.5, 0.7}) {
      for (const Trace& t : trace_all(g, L, true)) {
        ASSERT_GE(t.size(), 3u);
        EXPECT_TRUE(near(t.front(), t.back())) << round << " " << L;
        for (const Point& p : t) {
          EXPECT_GE(p.x, 0);
          EXPECT_LE(p.x, 1);
          EXPECT_GE(p.y, 0);
          EXPECT_LE(p.y, 1);
        }
      }
    }
  }
}

// Levels equal to grid values: the level ties at a corner the walk passes,
// on plateaus and next to NaN. A filled region goes round once: the
// triangle of [0 1; 1 2] at 1 is one record of 4 points (it was 37, the
// triangle twelve times), and on random grids of the values 0, 1 and 2
// every record is closed, none is longer than the cell edges and corners it
// could pass, and a level's records hold a few points per grid point.
TEST(ContourTrace, FilledRegionsAtTiesGoRoundOnce) {
  {
    const double z[] = {0, 1, 1, 2};
    const std::vector<Trace> t = trace_all(ContourGrid{z, 2, 2, 1, 2, 1, 2}, 1.0, true);
    ASSERT_EQ(t.size(), 1u);
    const Trace want = {{2, 1}, {1, 2}, {2, 2}, {2, 1}};
    ASSERT_EQ(t[0].size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) EXPECT_TRUE(near(t[0][k], want[k])) << k;
  }
  // r + c at the level of its antidiagonal: one region, one record.
  for (int n : {3, 50}) {
    std::vector<double> z(size_t(n) * n);
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) z[size_t(r) * n + c] = r + c;
    const std::vector<Trace> t = trace_all(ContourGrid{z.data(), n, n, 1, double(n), 1, double(n)}, n - 1.0, true);
    ASSERT_EQ(t.size(), 1u) << n;
    EXPECT_LE(t[0].size(), size_t(2 * n + 2)) << n;
    EXPECT_TRUE(near(t[0].front(), t[0].back())) << n;
  }
  std::mt19937_64 rng(54);
  for (int round = 0; round < 3000; ++round) {
    const int R = 2 + int(rng() % 6), C = 2 + int(rng() % 6);
    const bool with_nan = round % 3 == 0;
    std::vector<double> z(size_t(R) * C);
    for (double& v : z) v = with_nan && rng() % 5 == 0 ? NAN : double(rng() % 3);
    const ContourGrid g{z.data(), R, C, 1, double(C), 1, double(R)};
    const size_t edges = size_t(R) * (C - 1) + size_t(C) * (R - 1);
    for (double L : {0.0, 0.5, 1.0, 2.0}) {
      size_t total = 0;
      for (const Trace& t : trace_all(g, L, true)) {
        ASSERT_FALSE(t.empty());
        EXPECT_TRUE(near(t.front(), t.back())) << round << " " << L;
        EXPECT_LE(t.size(), edges + 6) << round << " " << L;
        total += t.size();
      }
      EXPECT_LE(total, size_t(3 * R * C + 8)) << round << " " << L;
    }
  }
}

// Grids with NaN, infinities, flat regions and values at the level: every
// walk ends within its bound and its room.
TEST(ContourTrace, HostileGridsEndWithinTheirRoom) {
  std::mt19937_64 rng(99);
  const double pool[] = {0.0, 1.0, 0.5, -1.0, NAN, INFINITY, -INFINITY, 0.5, 0.5, 2.0};
  for (int round = 0; round < 300; ++round) {
    const int R = 2 + int(rng() % 9), C = 2 + int(rng() % 9);
    std::vector<double> z(R * C);
    for (double& v : z) v = pool[rng() % 10];
    const ContourGrid g{z.data(), R, C, 0, 1, 0, 1};
    for (bool filled : {false, true}) {
      std::vector<uint8_t> visited(R * C, 0);
      const int32_t room = 1 + int32_t(rng() % 40);
      std::vector<double> x(room), y(room);
      contour_for_each_start(g, 0.5, filled, visited.data(), [&](const ContourStart& s) {
        int32_t m = 0;
        const int status = contour_trace_level(g, 0.5, filled, s.r, s.c, s.dir, visited.data(), x.data(), y.data(),
                                               room, &m);
        EXPECT_LE(m, room);
        EXPECT_TRUE(status == 0 || status == kPlotOverflow);
        return 0;
      });
    }
  }
}

struct Contours : DrawingCommands {};

Doubles rec_at(const Doubles& r, size_t* at) {
  const size_t len = 6 + size_t(r[*at + 5]);
  Doubles out(r.begin() + long(*at), r.begin() + long(*at + len));
  *at += len;
  return out;
}
std::vector<Doubles> split(const Doubles& r) {
  std::vector<Doubles> out;
  for (size_t at = 0; at < r.size();) out.push_back(rec_at(r, &at));
  return out;
}

TEST_F(Contours, DefaultLevelsOfATwoByTwoGrid) {
  ASSERT_EQ(run("contour([0 1; 1 2]);\n"), kOk);
  const std::vector<Doubles> recs = split(records());
  // Level 1 passes through the grid points valued 1, the ends of the bottom
  // row's and the right column's crossings: both start tests take it (they
  // are not strict there), so it is traced from each end.
  const int level_of[] = {0, 1, 2, 3, 3, 4, 5, 6};
  ASSERT_EQ(recs.size(), 8u);
  const double colours[7] = {0, 1, 4, 5, 2, 3, 6};
  for (size_t k = 0; k < recs.size(); ++k) {
    const Doubles& r = recs[k];
    const int i = level_of[k];
    const double L = 2.0 * (i + 1) / 8;
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[3], colours[i]);
    ASSERT_EQ(r[6], 2) << k;
    for (int p = 0; p < 2; ++p) {
      const double x = r[7 + p], y = r[9 + p];
      EXPECT_TRUE(x == 1 || x == 2 || y == 1 || y == 2) << k;  // on a cell edge
      EXPECT_NEAR((x - 1) + (y - 1), L, 1e-12) << k;          // z is x + y - 2 along every edge
    }
  }
  // The level equal to grid values lies exactly on their points.
  EXPECT_EQ(recs[3], (Doubles{1, -1, -1, 5, 0, 5, 2, 2, 1, 1, 2}));
  EXPECT_EQ(recs[4], (Doubles{1, -1, -1, 5, 0, 5, 2, 2, 1, 1, 2}));
}

TEST_F(Contours, LevelForms) {
  struct Case {
    const char* code;
    size_t records;
  };
  const Case cases[] = {
      {"contour([0 1; 1 2], [], [0.5 0.5])", 1},   {"contour([0 1; 1 2], [], 200)", 100},
      {"contour([0 1; 1 2], [], 3)", 4},           {"contour([0 1; 1 2], [], 0)", 0},
      {"contour([0 1; 1 2], [], NaN)", 0},         {"contour([0 1; 1 2], [], [0.2 0.4 0.6])", 3},
      {"contour([5 5; 5 5])", 0},                  {"contour([1 2 3])", 0},
      {"contour([0 NaN; 1 2], [], [0.5 0.5])", 0}, {"contour([0 1; 1 2], [0 0 1 1])", 8},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(split(records()).size(), c.records) << c.code;
  }
  used() = 0;
  ASSERT_EQ(run("contour([0 1; 1 2], [], [0.5 0.5]);\n"), kOk);
  const Doubles r = records();
  ASSERT_EQ(r.size(), 11u);
  EXPECT_NEAR(r[7] - 1 + r[9] - 1, 0.5, 1e-12);
  // Limits place the grid.
  used() = 0;
  ASSERT_EQ(run("contour([0 1; 1 2], [10 20 -1 1], [0.5 0.5]);\n"), kOk);
  EXPECT_EQ(records(), (Doubles{1, -1, -1, 0, 0, 5, 2, 15, 10, -1, 0}));
  EXPECT_EQ(s().xMin, 10);
  EXPECT_EQ(s().xMax, 20);
  EXPECT_EQ(run("contour([0 1; 1 2], [1 2 3]);\n"), kBadSize);
}

TEST_F(Contours, StartTestsAtTies) {
  // Bottom row, non-strict on both ends: the level at z(0, 0) starts there.
  ASSERT_EQ(run("contour([1 2; 3 4], [], [1 1]);\n"), kOk);
  Doubles r = records();
  ASSERT_EQ(r.size(), 6u + 1 + 2 * size_t(r[6]));
  EXPECT_EQ(r[7], 1);
  EXPECT_EQ(r[7 + size_t(r[6])], 1);
  // Top row is strict below: z(R-1, j+1) < L; a level equal to it does not start there.
  used() = 0;
  ASSERT_EQ(run("contour([4 3; 2 1], [], [3 3]);\n"), kOk);
  for (const Doubles& d : split(records())) EXPECT_GE(d[6], 2);
}

// The filled level at a corner value through the command: one record of
// the triangle, and a 40 by 40 grid's region of about 80 points (the walk
// went round until its step cap, past the list's room).
TEST_F(Contours, FilledLevelAtACornerValueIsOneRegion) {
  ASSERT_EQ(run("contour([0 1; 1 2], [], [1 1], 'f');\n"), kOk);
  EXPECT_EQ(records(), (Doubles{1, -1, -1, 0x20, 0, 9, 4, 2, 1, 2, 2, 1, 2, 2, 1}));
  used() = 0;
  ASSERT_EQ(run("[r_, c_] = meshgrid(1:40, 1:40); contour(r_ + c_, [], [41 41], 'f');\n"), kOk);
  const std::vector<Doubles> recs = split(records());
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_LE(recs[0][6], 82);
}

TEST_F(Contours, FilledBackgroundAndOrderByArea) {
  ASSERT_EQ(run("[x, y] = meshgrid(-5:5, -5:5); z_ = sqrt(x.^2 + y.^2);\n"
                "contour(z_, [-5 5 -5 5], [-1 2.5 4.5], 'rf,gf,bf');\n"),
            kOk);
  const std::vector<Doubles> recs = split(records());
  ASSERT_GE(recs.size(), 3u);
  // The background in the style of level -1 (red, filled) comes first.
  EXPECT_EQ(recs[0], (Doubles{1, -1, -1, 0x20 | 4, pack_colour(255, 0, 0), 9, 4, -5, -5, 5, 5, -5, 5, 5, -5}));
  double last = INFINITY;
  for (size_t k = 0; k < recs.size(); ++k) {
    const Doubles& d = recs[k];
    const int m = int(d[6]);
    double a = 0;
    for (int i = 0; i < m; ++i) {
      const int j = (i + 1) % m;
      a += d[7 + i] * d[7 + m + j] - d[7 + j] * d[7 + m + i];
    }
    a = std::fabs(a) / 2;
    EXPECT_LE(a, last + 1e-9);
    last = a;
    if (k == 0) continue;  // the background rectangle
    EXPECT_EQ(d[7], d[6 + m]);          // closed: first x = last x
    EXPECT_EQ(d[7 + m], d[6 + 2 * m]);  // and first y = last y
  }
}

// The order by area needs room for a copy of the records: a list that holds
// them exactly, and nothing behind, still gets them in order.
TEST_F(Contours, OrderByAreaInAListThatHoldsJustTheRecords) {
  const std::string code =
      "[x, y] = meshgrid(-5:5, -5:5); z_ = sqrt(x.^2 + y.^2);\n"
      "contour(z_, [-5 5 -5 5], [-1 2.5 4.5], 'rf,gf,bf');\n";
  ASSERT_EQ(run(code), kOk);
  const Doubles want = list();
  used() = 0;
  host.block->h.build.capacity = int32_t(want.size());
  ASSERT_EQ(run(code), kOk);
  EXPECT_EQ(list(), want);
  host.block->h.build.capacity = full_capacity;
}

TEST_F(Contours, Contour3WritesLevelsAsZ) {
  ASSERT_EQ(run("contour3([0 1; 1 2], [], [0.5 1.5]);\n"), kOk);
  const std::vector<Doubles> recs = split(records());
  ASSERT_EQ(recs.size(), 2u);
  const double levels[2] = {0.5, 1.5};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(recs[size_t(i)][0], 13);
    const int m = int(recs[size_t(i)][6]);
    ASSERT_EQ(recs[size_t(i)].size(), 7u + 3 * size_t(m));
    for (int k = 0; k < m; ++k) EXPECT_EQ(recs[size_t(i)][7 + 2 * m + k], levels[i]);
  }
  EXPECT_TRUE(s().is3D);
  EXPECT_EQ(s().zMin, 0.5);
  EXPECT_EQ(s().zMax, 1.5);
}

// A list that fills mid-way keeps the whole records written and gives 10001.
TEST_F(Contours, AFullListKeepsEarlierRecords) {
  const std::string code = "contour([0 1; 1 2]);\n";
  ASSERT_EQ(run(code), kOk);
  const int32_t all = used();
  const Doubles want = list();
  for (int32_t cap = 0; cap < all; ++cap) {
    used() = 0;
    host.block->h.build.capacity = cap;
    const int status = run(code);
    EXPECT_EQ(status, kPlotOverflow) << cap;
    const Doubles got = list();
    ASSERT_LE(got.size(), want.size());
    // What was written is a whole prefix of the full list.
    size_t at = 0;
    while (at < got.size()) {
      ASSERT_LE(at + 6, got.size()) << cap;
      at += 6 + size_t(got[at + 5]);
    }
    EXPECT_EQ(at, got.size()) << cap;
    EXPECT_EQ(Doubles(want.begin(), want.begin() + long(got.size())), got) << cap;
  }
  host.block->h.build.capacity = full_capacity;
}

TEST_F(Contours, RowsAndFailureSweep) {
  ASSERT_EQ(run("z_ = [0 1 2; 1 2 3; 2 3 4]; l_ = [0 1 0 1]; v_ = [0.5 1 1.5]; s_ = 'r,gf';\n"), kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
  } cases[] = {{"contour", {"z_"}}, {"contour", {"z_", "l_", "v_", "s_"}}, {"contour3", {"z_", "l_", "v_"}}};
  for (const auto& k : cases)
    for (int nout : {0, -1})
      EXPECT_TRUE(sweep_call(k.name, k.inputs, nout)) << k.name << " " << k.inputs.size() << " " << nout;
}

}  // namespace

namespace {

using Doubles = std::vector<double>;
struct Erlocus : DrawingCommands {};

TEST_F(Erlocus, RecordsAndLimits) {
  ASSERT_EQ(run("erlocus([1 -3 2], [1 0; 0 2]);\n"), kOk);
  EXPECT_EQ(records(), (Doubles{46, -1, 1, 0, 0, 9, 2, 1, -3, 2, 1, 0, 0, 2, 0}));
  EXPECT_NEAR(s().xMin, 1, 1e-12);
  EXPECT_NEAR(s().xMax, 2, 1e-12);
  used() = 0;
  ASSERT_EQ(run("erlocus([1 0 4], eye(2), [0.5; 2], [1 0 0; 0 0.5 1.5]);\n"), kOk);
  Doubles r = records();
  ASSERT_EQ(r.size(), 6u + 12);
  EXPECT_EQ(Doubles(r.begin(), r.begin() + 17), (Doubles{46, -1, 1, 0, 0, 12, 2, 1, 0, 4, 1, 0, 0, 1, 2, 0.25, 4}));
  uint8_t bytes[8];
  std::memcpy(bytes, &r[17], 8);
  EXPECT_EQ(std::vector<int>(bytes, bytes + 8), (std::vector<int>{255, 0, 0, 0, 127, 255, 0, 0}));
  EXPECT_NEAR(s().yMin, -2, 1e-12);  // roots +-2i
  EXPECT_NEAR(s().yMax, 2, 1e-12);
  // Zero, NaN and infinite coefficients: the record is written, the roots
  // widen what they can, nothing breaks.
  for (const char* p : {"[0 1 2]", "[0 0 0]", "[NaN 1 2]", "[1 NaN 2]", "[Inf 1 2]", "[1 2 -Inf]"}) {
    used() = 0;
    EXPECT_EQ(run(std::string("erlocus(") + p + ", eye(2));\n"), kOk) << p;
    EXPECT_EQ(records().size(), 15u) << p;
  }
}

TEST_F(Erlocus, Errors) {
  const std::pair<const char*, int> cases[] = {
      {"erlocus([1 2 3; 4 5 6], eye(2))", 24},
      {"erlocus([1 2 3], ones(2, 3))", kIncompatibleSize},
      {"erlocus([1 2], eye(2))", kIncompatibleSize},
      {"erlocus([1 2 3], eye(2), [1 2 3], [0 0 0; 1 1 1])", kIncompatibleSize},
      {"erlocus([1 2 3], eye(2), [1 2; 3 4], [0 0 0; 1 1 1])", 22},
      {"erlocus([1 2 3], eye(2), 1)", kTooManyInputs},
      {"erlocus([1 2 3], eye(2), [1 2], [0 0; 1 1])", kBadSize},
      {"erlocus([1 2 3], eye(2), zeros(1, 0), zeros(0, 3))", kBadSize},
      {"erlocus([1 2], [])", kIncompatibleSize},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  EXPECT_EQ(run("erlocus(1, []);\n"), kOk);
  EXPECT_EQ(used(), 0);
}

// The room counts the record and, behind it, what the roots need: a copy
// of p, 2n parts and the roots' work.
TEST_F(Erlocus, ExactRoomAndOneLess) {
  for (int32_t before : {0, 7}) {
    auto prepare = [&] {
      host.block->h.build.capacity = full_capacity;
      used() = 0;
      if (before) ASSERT_EQ(run("scale([0 1]);\n"), kOk);
    };
    ASSERT_NO_FATAL_FAILURE(prepare());
    const std::string code = "erlocus([1 -3 2], eye(2), [1 2], [1 0 0; 0 1 0]);\n";
    ASSERT_EQ(run(code), kOk);
    const int32_t n = 2;
    const int32_t need = used() + (n + 1) + 2 * n + (n * n + n);
    const Doubles want = list();
    for (int32_t less : {0, 1}) {
      ASSERT_NO_FATAL_FAILURE(prepare());
      host.block->h.build.capacity = need - less;
      const int status = run(code);
      EXPECT_EQ(status, less ? kPlotOverflow : kOk) << before;
      if (less) EXPECT_EQ(used(), before);
      else EXPECT_EQ(list(), want);
    }
  }
  host.block->h.build.capacity = full_capacity;
}

TEST_F(Erlocus, FailureSweep) {
  ASSERT_EQ(run("p_ = [1 -3 2]; w_ = eye(2); l_ = [1 2]; c_ = [1 0 0; 0 1 0];\n"), kOk);
  const BuiltinFn fn = engine_row("erlocus");
  ASSERT_NE(fn, builtin_not_supported);
  for (int args : {2, 4}) {
    auto push = [&] {
      const char* names[] = {"p_", "w_", "l_", "c_"};
      for (int i = 0; i < args; ++i) TN_TRY(push_variable(names[i]));
      return int(kOk);
    };
    for (int nout : {0, -1}) {
      bool ok = false;
      auto call = [&] { return lib_call_builtin(c(), fn, args, nout); };
      EXPECT_TRUE(sweep_rooms(c(), push, call, &ok)) << args << " " << nout;
      EXPECT_TRUE(ok);
    }
  }
}

}  // namespace
