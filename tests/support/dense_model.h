// Plain dense complex matrices for checking the numeric kernels: naive
// products, adjoints, norms, random fills, multiset matching of eigenvalues and
// a reader for the reference data files. Obviously correct, not fast.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace model {

using cd = std::complex<double>;

struct Mat {
  int rows = 0, cols = 0;
  std::vector<cd> v;
  Mat() = default;
  Mat(int m, int n) : rows(m), cols(n), v(size_t(m) * size_t(n)) {}
  cd& operator()(int i, int j) { return v[size_t(i) * size_t(cols) + size_t(j)]; }
  cd operator()(int i, int j) const { return v[size_t(i) * size_t(cols) + size_t(j)]; }
};

inline Mat identity(int n) {
  Mat r(n, n);
  for (int i = 0; i < n; ++i) r(i, i) = 1.0;
  return r;
}

inline Mat from_real(const double* a, int m, int n) {
  Mat r(m, n);
  for (size_t k = 0; k < r.v.size(); ++k) r.v[k] = a[k];
  return r;
}

inline Mat from_split(const double* re, const double* im, int m, int n) {
  Mat r(m, n);
  for (size_t k = 0; k < r.v.size(); ++k) r.v[k] = cd(re[k], im[k]);
  return r;
}

inline Mat mul(const Mat& a, const Mat& b) {
  Mat r(a.rows, b.cols);
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < b.cols; ++j) {
      cd s = 0.0;
      for (int k = 0; k < a.cols; ++k) s += a(i, k) * b(k, j);
      r(i, j) = s;
    }
  return r;
}

inline Mat adjoint(const Mat& a) {
  Mat r(a.cols, a.rows);
  for (int i = 0; i < a.rows; ++i)
    for (int j = 0; j < a.cols; ++j) r(j, i) = std::conj(a(i, j));
  return r;
}

inline double max_abs(const Mat& a) {
  double m = 0.0;
  for (const cd& z : a.v) m = std::max(m, std::abs(z));
  return m;
}

inline double max_diff(const Mat& a, const Mat& b) {
  double m = 0.0;
  for (size_t k = 0; k < a.v.size(); ++k) m = std::max(m, std::abs(a.v[k] - b.v[k]));
  return m;
}

// max |Q^H Q - I|.
inline double unitarity_error(const Mat& q) {
  return max_diff(mul(adjoint(q), q), identity(q.cols));
}

// Largest column sum of moduli: the scale of eigenvalue tolerances.
inline double norm1(const Mat& a) {
  double m = 0.0;
  for (int j = 0; j < a.cols; ++j) {
    double s = 0.0;
    for (int i = 0; i < a.rows; ++i) s += std::abs(a(i, j));
    m = std::max(m, s);
  }
  return m;
}

inline std::vector<double> random_vec(std::mt19937_64& rng, size_t n, double lo = -1.0,
                                      double hi = 1.0) {
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> r(n);
  for (double& x : r) x = u(rng);
  return r;
}

// Matches got against want as multisets: each wanted value takes the nearest
// value not yet taken. Returns the largest distance of a match (infinity when
// the sizes differ or a NaN takes part).
inline double multiset_distance(const std::vector<cd>& got, const std::vector<cd>& want) {
  if (got.size() != want.size()) return INFINITY;
  std::vector<bool> used(got.size(), false);
  double worst = 0.0;
  for (const cd& w : want) {
    size_t best = got.size();
    double bd = INFINITY;
    for (size_t k = 0; k < got.size(); ++k) {
      if (used[k]) continue;
      double d = std::abs(got[k] - w);
      if (d < bd) {
        bd = d;
        best = k;
      }
    }
    if (best == got.size()) return INFINITY;
    used[best] = true;
    worst = std::max(worst, bd);
  }
  return worst;
}

inline std::vector<cd> zip(const double* re, const double* im, size_t n) {
  std::vector<cd> r(n);
  for (size_t k = 0; k < n; ++k) r[k] = cd(re[k], im ? im[k] : 0.0);
  return r;
}

// Reference data files: '#' lines are comments; every other line is one
// record of whitespace-separated numbers (inf/nan as strtod reads them).
inline std::vector<std::vector<double>> read_records(const std::string& path) {
  std::vector<std::vector<double>> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::vector<double> rec;
    std::string tok;
    while (ls >> tok) rec.push_back(std::strtod(tok.c_str(), nullptr));
    out.push_back(std::move(rec));
  }
  return out;
}

}  // namespace model
