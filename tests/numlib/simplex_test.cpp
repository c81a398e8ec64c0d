// Simplex kernels: the worked programs (phase 1, infeasible, unbounded, free
// and bounded variables, a cycling example), bit-identical repeats, random
// programs against reference optima from SciPy (refdata/lp_random.txt, made by
// refdata/make_lp.py), and the basis inverse kept exact through exchanges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numlib/simplex.h"

namespace {

using Vec = std::vector<double>;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Program {
  int32_t m = 0, n = 0;
  Vec a, b, c, lb, ub;
};

struct Solution {
  bool ok;
  Vec x;
};

Solution solve(const Program& p) {
  // NaN-filled, so that reading any work double before writing it shows.
  Vec work(size_t(numk_simplex_work_doubles(p.m, p.n)), std::numeric_limits<double>::quiet_NaN());
  Solution s{false, Vec(size_t(p.n), -99.0)};
  s.ok = numk_simplex(p.a.data(), p.b.data(), p.c.data(), p.m, p.n, p.lb.data(),
                      int32_t(p.lb.size()), p.ub.data(), int32_t(p.ub.size()), s.x.data(),
                      work.data());
  return s;
}

bool all_nan(const Vec& x) {
  for (double v : x)
    if (!std::isnan(v)) return false;
  return true;
}

TEST(Simplex, WorkedPrograms) {
  struct Case {
    const char* what;
    Program p;
    Vec want;  // NaN entries: expect NaN
    double tol = 1e-12;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"infeasible", {1, 1, {1}, {-1}, {1}, {0}, {}}, {nan}},
      {"free bounded above", {1, 1, {1}, {3}, {1}, {}, {}}, {3}},
      {"free unbounded", {1, 1, {1}, {3}, {-1}, {}, {}}, {kInf}},
      {"no rows, positive cost", {0, 2, {}, {}, {1, -1}, {0, 0}, {}}, {kInf, kInf}},
      {"no rows, shifts", {0, 2, {}, {}, {-1, -2}, {2, 3}, {}}, {2, 3}},
      {"no rows, free with cost", {0, 2, {}, {}, {0, -1}, {}, {}}, {kInf, kInf}},
      {"only upper bound", {0, 1, {}, {}, {1}, {}, {5}}, {5}},
      {"upper bound, unbounded other", {0, 2, {}, {}, {1, 1}, {}, {5}}, {-kInf, kInf}},
      {"both bounds", {1, 2, {1, 1}, {10}, {1, 1}, {0, 1}, {3, 4}}, {3, 4}},
      {"bounds tighter than row", {1, 2, {1, 1}, {5}, {2, 1}, {-1, -1}, {3, 3}}, {3, 2}},
      {"shorter bound arrays", {1, 2, {1, 1}, {4}, {1, 2}, {1}, {}}, {1, 3}},
      // Beale's program cycles under largest-coefficient pricing; the
      // perturbation that breaks the cycle shows below 1e-7.
      {"Beale",
       {3, 4, {0.25, -8, -1, 9, 0.5, -12, -0.5, 3, 0, 0, 1, 0}, {0, 0, 1}, {0.75, -20, 0.5, -6}, {0, 0, 0, 0}, {}},
       {1, 0, 1, 0},
       1e-6},
      // Phase 1 ends with the artificial of row 1 basic at level 0; the first
      // candidate to replace it (x1, a zero column) has a zero pivot entry.
      {"pivot-out skips zero entries", {2, 2, {0, 1, 0, -1}, {1, -1}, {-1, -1}, {0, 0}, {}}, {0, 1}},
      {"equality by two rows", {2, 2, {1, 1, -1, -1}, {2, -2}, {-1, -3}, {0, 0}, {}}, {2, 0}},
  };
  for (const Case& k : cases) {
    const Solution s = solve(k.p);
    ASSERT_TRUE(s.ok) << k.what;
    for (size_t j = 0; j < k.want.size(); ++j) {
      if (std::isnan(k.want[j]))
        EXPECT_TRUE(std::isnan(s.x[j])) << k.what << " " << j;
      else if (std::isinf(k.want[j]))
        EXPECT_EQ(s.x[j], k.want[j]) << k.what << " " << j;
      else
        EXPECT_NEAR(s.x[j], k.want[j], k.tol) << k.what << " " << j;
    }
  }
}

// Along this program's ray a pivot entry that is zero comes out as 2.8e-17;
// taking it as a pivot gave a "solution" near 1e17 instead of unboundedness.
TEST(Simplex, RoundingNoiseIsNoPivot) {
  Program p;
  p.m = 6;
  p.n = 9;
  p.a = {0.859,  -0.76,  -0.523, 0.658,  -0.986, -0.475, -0.662, -0.159, 0.473,
         0.905,  -0.512, -0.974, 0.484,  0.819,  -0.971, 0.228,  0.187,  0.11,
         0.254,  -0.442, 0.788,  -0.558, 0.891,  0.903,  0.663,  -0.226, 0.894,
         -0.571, -0.017, 0.01,   -0.72,  0.973,  -0.638, -0.041, -0.828, -0.438,
         0.66,   0.359,  -0.271, 0.299,  -0.659, 0.32,   0.78,   -0.972, -0.4,
         -0.486, -0.824, 0.83,   0.378,  0.23,   0.225,  0.345,  -0.43,  -0.598};
  p.b = {-0.308, -0.112, -0.004, 1.492, 0.305, 0.467};
  p.c = {0.479, 0.937, -0.793, 0.174, -0.165, -0.637, -0.321, 0.566, -0.463};
  p.lb = {0.0, 0.723, -0.13, 0.0, 0.973, 0.0, 0.0, 0.0, -kInf};
  p.ub = {1.886, 2.385, 0.831, 0.641};
  const Solution s = solve(p);
  ASSERT_TRUE(s.ok);
  for (double v : s.x) EXPECT_TRUE(std::isinf(v)) << v;
}

Program random_program(std::mt19937_64& rng, int32_t m, int32_t n) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Program p;
  p.m = m;
  p.n = n;
  for (int32_t i = 0; i < m * n; ++i) p.a.push_back(u(rng));
  for (int32_t i = 0; i < m; ++i) p.b.push_back(u(rng) + 0.7);
  for (int32_t k = 0; k < n; ++k) {
    p.c.push_back(u(rng));
    p.lb.push_back(k % 4 == 3 ? -kInf : -0.5 * std::abs(u(rng)));
    p.ub.push_back(k % 3 == 0 ? kInf : 1 + std::abs(u(rng)));
  }
  return p;
}

TEST(Simplex, SameResultTwice) {
  std::mt19937_64 rng(99);
  for (int rep = 0; rep < 20; ++rep) {
    const Program p = random_program(rng, 6 + rep % 5, 4 + rep % 7);
    const Solution s1 = solve(p), s2 = solve(p);
    ASSERT_EQ(s1.ok, s2.ok);
    ASSERT_EQ(std::memcmp(s1.x.data(), s2.x.data(), sizeof(double) * s1.x.size()), 0) << rep;
  }
}

// Reads the next non-comment line as numbers ("inf" and "-inf" included).
bool read_numbers(std::istream& in, Vec& out) {
  std::string line;
  do {
    if (!std::getline(in, line)) return false;
  } while (!line.empty() && line[0] == '#');
  out.clear();
  std::istringstream words(line);
  for (std::string w; words >> w;) out.push_back(std::strtod(w.c_str(), nullptr));
  return true;
}

TEST(Simplex, RandomProgramsAgainstReference) {
  std::ifstream in(std::string(TN_NUMLIB_REFDATA) + "/lp_random.txt");
  ASSERT_TRUE(in) << "reference data missing";
  std::string word;
  int programs = 0;
  while (in >> word) {
    if (word == "#") {
      std::getline(in, word);
      continue;
    }
    ASSERT_EQ(word, "problem");
    Program p;
    int32_t n_lb = 0, n_ub = 0;
    in >> p.m >> p.n >> n_lb >> n_ub;
    std::getline(in, word);
    Vec row;
    for (int32_t i = 0; i < p.m; ++i) {
      ASSERT_TRUE(read_numbers(in, row));
      p.a.insert(p.a.end(), row.begin(), row.end());
    }
    ASSERT_TRUE(read_numbers(in, p.b));
    ASSERT_TRUE(read_numbers(in, p.c));
    ASSERT_TRUE(read_numbers(in, p.lb));
    ASSERT_TRUE(read_numbers(in, p.ub));
    ASSERT_EQ(p.a.size(), size_t(p.m) * p.n);
    ASSERT_EQ(p.lb.size(), size_t(n_lb));
    ASSERT_EQ(p.ub.size(), size_t(n_ub));
    std::string kind;
    in >> kind;
    ++programs;
    const Solution s = solve(p);
    ASSERT_TRUE(s.ok) << "program " << programs;
    if (kind == "infeasible") {
      EXPECT_TRUE(all_nan(s.x)) << "program " << programs;
      continue;
    }
    if (kind == "unbounded") {
      for (double v : s.x) EXPECT_TRUE(std::isinf(v)) << "program " << programs;
      continue;
    }
    ASSERT_EQ(kind, "optimal");
    double want = 0;
    in >> want;
    double got = 0;
    for (int32_t k = 0; k < p.n; ++k) got += p.c[k] * s.x[k];
    EXPECT_NEAR(got, want, 1e-9 * (1 + std::abs(want))) << "program " << programs;
    // The point itself must be feasible, not just its value right.
    for (int32_t i = 0; i < p.m; ++i) {
      double lhs = 0;
      for (int32_t k = 0; k < p.n; ++k) lhs += p.a[size_t(i) * p.n + k] * s.x[k];
      EXPECT_LE(lhs, p.b[i] + 1e-9) << "program " << programs << " row " << i;
    }
    for (int32_t k = 0; k < n_lb; ++k) EXPECT_GE(s.x[k], p.lb[k] - 1e-9) << programs;
    for (int32_t k = 0; k < n_ub; ++k) EXPECT_LE(s.x[k], p.ub[k] + 1e-9) << programs;
  }
  EXPECT_EQ(programs, 175);
}

// binv must stay the inverse of the basis columns through arbitrary exchanges
// of structural, slack (either sign) and artificial variables.
TEST(Simplex, BasisUpdateKeepsTheInverse) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int32_t rows = 5, n = 4, arts = 2;
  Vec t(size_t(rows) * n);
  for (double& v : t) v = u(rng);
  // Rows 1 and 3 negated, each served by an artificial.
  std::vector<int32_t> row_map = {0, ~1, 2, ~3, 4, 1, 3};
  std::vector<int32_t> basis = {n + 0, n + rows + 0, n + 2, n + rows + 1, n + 4};
  std::vector<int32_t> nonbasic = {0, 1, 2, 3, n + 1, n + 3};
  Vec binv(size_t(rows) * rows, 0.0), pivot(rows);
  for (int32_t i = 0; i < rows; ++i) binv[size_t(i) * rows + i] = 1.0;

  auto column = [&](int32_t v, int32_t k) {
    if (v < n) return t[size_t(k) * n + v];
    const int32_t r = row_map[v - n];
    return r >= 0 ? (k == r ? 1.0 : 0.0) : (k == ~r ? -1.0 : 0.0);
  };
  int exchanges = 0;
  for (int step = 0; step < 200; ++step) {
    const int32_t q = int32_t(rng() % (n + arts)), p = int32_t(rng() % rows);
    // Only well-conditioned exchanges: the entry binv a_q at p not tiny.
    double tp = 0;
    for (int32_t k = 0; k < rows; ++k) tp += binv[size_t(p) * rows + k] * column(nonbasic[q], k);
    if (std::abs(tp) < 0.3) continue;
    numk_simplex_basis_update(t.data(), row_map.data(), rows, n, q, p, basis.data(),
                              nonbasic.data(), binv.data(), pivot.data());
    ++exchanges;
    for (int32_t i = 0; i < rows; ++i)
      for (int32_t j = 0; j < rows; ++j) {
        double s = 0;
        for (int32_t k = 0; k < rows; ++k) s += binv[size_t(i) * rows + k] * column(basis[j], k);
        ASSERT_NEAR(s, i == j ? 1.0 : 0.0, 1e-9) << "step " << step;
      }
  }
  EXPECT_GT(exchanges, 50);
}

TEST(Simplex, IterationResults) {
  // maximise x0 subject to x0 <= 0 (a degenerate step), then x0 free below.
  const int32_t rows = 1, n = 1;
  Vec t = {1}, rhs = {0}, cost = {1}, binv = {1}, pivot(1);
  std::vector<int32_t> row_map = {0, 0}, basis = {n}, nonbasic = {0};
  uint8_t bound[1] = {0};
  EXPECT_EQ(numk_simplex_iteration(t.data(), rhs.data(), cost.data(), bound, row_map.data(), rows,
                                   n, 0, basis.data(), nonbasic.data(), binv.data(), pivot.data()),
            kSimplexStalled);
  EXPECT_EQ(basis[0], 0);
  EXPECT_EQ(numk_simplex_iteration(t.data(), rhs.data(), cost.data(), bound, row_map.data(), rows,
                                   n, 0, basis.data(), nonbasic.data(), binv.data(), pivot.data()),
            kSimplexOptimal);
  // A free variable with negative cost enters decreasing: the row never binds.
  basis = {n};
  nonbasic = {0};
  binv = {1};
  cost = {-1};
  uint8_t free_var[1] = {1};
  rhs = {2};
  EXPECT_EQ(numk_simplex_iteration(t.data(), rhs.data(), cost.data(), free_var, row_map.data(),
                                   rows, n, 0, basis.data(), nonbasic.data(), binv.data(),
                                   pivot.data()),
            kSimplexUnbounded);
}

}  // namespace
