// The simplex kernels. Slack and artificial columns are never stored: the row
// map gives their row and sign. Invariant between iterations: binv is the
// inverse of the matrix whose column i is the column of basis[i], and the
// basic solution is binv rhs (recomputed, never kept).
#include "numlib/simplex.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kArtificialLevel = 2.220446049250313e-15;  // 10 machine epsilons
constexpr uint32_t kSeedStart = 1013904223u;
constexpr uint32_t kSeedStep = 1664525u;
// Scales a signed 32-bit seed below 5e-8 in magnitude.
constexpr double kPerturbScale = 2.3283064365386962e-17;
constexpr int64_t kIterationsPerRow = 100;

// A reduced cost or pivot entry counts only above this fraction of the scale of
// what it was computed from: below it its sign is rounding noise, and trusting
// it sends the method along a false ray (a huge finite "optimum" of an
// unbounded problem, or "unbounded" at an optimum with a flat edge).
constexpr double kNoise = 1e-11;

enum class LoopEnd { kOptimal, kUnbounded, kExhausted };

bool is_artificial(int32_t v, int32_t n, int32_t rows) { return v >= n + rows; }

// row i of binv times column v.
double row_times_column(const double* binv, const double* t, const int32_t* row_map,
                        int32_t rows, int32_t n, int32_t i, int32_t v) {
  const double* row = binv + int64_t(i) * rows;
  if (v < n) {
    double s = 0.0;
    for (int32_t k = 0; k < rows; ++k) s = s + row[k] * t[int64_t(k) * n + v];
    return s;
  }
  const int32_t r = row_map[v - n];
  return r >= 0 ? row[r] : -row[~r];
}

// Rounding noise in row i of binv times a column: the row's 1-norm times the
// column's largest magnitude (binv carries the error of every update so far).
double noise_scale(const double* binv, int32_t rows, int32_t i, double col_max) {
  const double* row = binv + int64_t(i) * rows;
  double s = 0.0;
  for (int32_t k = 0; k < rows; ++k) s = s + std::fabs(row[k]);
  return s * col_max;
}

double column_max(const double* t, int32_t rows, int32_t n, int32_t v) {
  if (v >= n) return 1.0;
  double mx = 0.0;
  for (int32_t k = 0; k < rows; ++k) mx = std::fmax(mx, std::fabs(t[int64_t(k) * n + v]));
  return mx;
}

// Nonzero beyond rounding noise.
bool significant(double v, double scale) { return std::fabs(v) > kNoise * scale; }

double row_times_rhs(const double* binv, const double* rhs, int32_t rows, int32_t i) {
  const double* row = binv + int64_t(i) * rows;
  double s = 0.0;
  for (int32_t k = 0; k < rows; ++k) s = s + row[k] * rhs[k];
  return s;
}

double objective(const double* cost, int32_t v, int32_t n, int32_t rows) {
  if (cost == nullptr) return is_artificial(v, n, rows) ? -1.0 : 0.0;
  return v < n ? cost[v] : 0.0;
}

void fill(double* x, int32_t n, double v) {
  for (int32_t k = 0; k < n; ++k) x[k] = v;
}

void set_identity(double* binv, int32_t rows) {
  for (int64_t i = 0; i < int64_t(rows) * rows; ++i) binv[i] = 0.0;
  for (int32_t i = 0; i < rows; ++i) binv[int64_t(i) * rows + i] = 1.0;
}

// Runs iterations until optimal, unbounded or out of budget. Steps without
// progress are counted; a long run of them moves rhs by a tiny deterministic
// amount to break the tie that keeps the method in place.
LoopEnd run_phase(double* t, double* rhs, const double* cost, const uint8_t* free_flags,
                  const int32_t* row_map, int32_t rows, int32_t n, int32_t artificials,
                  int32_t* basis, int32_t* nonbasic, double* binv, double* pivot,
                  int64_t budget) {
  uint32_t seed = kSeedStart;  // unsigned: wraps by definition
  int64_t stalled = 0;
  for (int64_t it = 0; it < budget; ++it, seed += kSeedStep) {
    const int r = numk_simplex_iteration(t, rhs, cost, free_flags, row_map, rows, n, artificials,
                                         basis, nonbasic, binv, pivot);
    if (r == kSimplexOptimal) return LoopEnd::kOptimal;
    if (r == kSimplexUnbounded) return LoopEnd::kUnbounded;
    if (r == kSimplexPivoted) {
      stalled = 0;
      continue;
    }
    if (stalled++ > int64_t(rows) + n) {
      uint32_t s = seed;
      for (int32_t i = 0; i < rows; ++i, s += kSeedStep)
        rhs[i] = rhs[i] + double(static_cast<int32_t>(s)) * kPerturbScale;
      stalled = 0;
    }
  }
  return LoopEnd::kExhausted;
}

struct PhaseWork {
  double* binv;
  double* pivot;
  int32_t* row_map;  // 2 rows: slacks, then artificials
  int32_t* basis;    // rows
  int32_t* nonbasic; // n + rows
};

PhaseWork carve_phase_work(double* work, int32_t rows) {
  PhaseWork w;
  w.binv = work;
  w.pivot = work + int64_t(rows) * rows;
  w.row_map = reinterpret_cast<int32_t*>(w.pivot + rows);
  w.basis = w.row_map + 2 * int64_t(rows);
  w.nonbasic = w.basis + rows;
  return w;
}

}  // namespace

int64_t numk_simplex_phases_work_doubles(int32_t rows, int32_t n) {
  const int64_t ints = int64_t(n) + 5 * int64_t(rows);
  return int64_t(rows) * rows + rows + (ints + 1) / 2 + 1;
}

int64_t numk_simplex_work_doubles(int32_t m, int32_t n) {
  const int64_t rows = int64_t(m) + n;
  const int64_t flag_doubles = (2 * int64_t(n) + 7) / 8;
  return rows * n + rows + 2 * int64_t(n) +
         numk_simplex_phases_work_doubles(int32_t(rows), n) + flag_doubles;
}

void numk_simplex_basis_update(const double* t, const int32_t* row_map, int32_t rows,
                               int32_t n, int32_t q, int32_t p, int32_t* basis,
                               int32_t* nonbasic, double* binv, double* pivot) {
  const int32_t enter = nonbasic[q];
  nonbasic[q] = basis[p];
  basis[p] = enter;
  for (int32_t i = 0; i < rows; ++i)
    pivot[i] = row_times_column(binv, t, row_map, rows, n, i, enter);
  const double tp = pivot[p];
  const double f = -1.0 / tp;
  for (int32_t i = 0; i < rows; ++i) pivot[i] = f * pivot[i];
  pivot[p] = 1.0 / tp;
  const double* prow = binv + int64_t(p) * rows;
  for (int32_t i = 0; i < rows; ++i) {
    if (i == p) continue;
    double* row = binv + int64_t(i) * rows;
    for (int32_t k = 0; k < rows; ++k) row[k] = row[k] + pivot[i] * prow[k];
  }
  double* row_p = binv + int64_t(p) * rows;
  for (int32_t k = 0; k < rows; ++k) row_p[k] = pivot[p] * row_p[k];
}

int numk_simplex_iteration(const double* t, const double* rhs, const double* cost,
                           const uint8_t* free_flags, const int32_t* row_map, int32_t rows,
                           int32_t n, int32_t artificials, int32_t* basis, int32_t* nonbasic,
                           double* binv, double* pivot) {
  // Pricing through the simplex multipliers y = c_B' binv, held in pivot;
  // y_scale bounds the magnitudes that went into each y_k.
  for (int32_t k = 0; k < rows; ++k) pivot[k] = 0.0;
  double y_scale = 0.0;
  for (int32_t i = 0; i < rows; ++i) {
    const double cb = objective(cost, basis[i], n, rows);
    const double* row = binv + int64_t(i) * rows;
    double row_norm = 0.0;
    for (int32_t k = 0; k < rows; ++k) {
      pivot[k] = pivot[k] + cb * row[k];
      row_norm = row_norm + std::fabs(row[k]);
    }
    y_scale = y_scale + std::fabs(cb) * row_norm;
  }
  const int32_t candidates = n + artificials;
  double best = 0.0;
  int32_t q = -1;
  bool increasing = true;
  for (int32_t pos = 0; pos < candidates; ++pos) {
    const int32_t v = nonbasic[pos];
    double ya;
    if (v < n) {
      ya = 0.0;
      for (int32_t k = 0; k < rows; ++k) ya = ya + pivot[k] * t[int64_t(k) * n + v];
    } else {
      const int32_t r = row_map[v - n];
      ya = r >= 0 ? pivot[r] : -pivot[~r];
    }
    const double cj = objective(cost, v, n, rows);
    const double d = cj - ya;
    if (!significant(d, std::fabs(cj) + y_scale * column_max(t, rows, n, v))) continue;
    if (d > best) {
      q = pos;
      best = d;
      increasing = true;
    } else if (v < n && free_flags[v] && -d > best) {
      q = pos;
      best = -d;
      increasing = false;
    }
  }
  if (q < 0) return kSimplexOptimal;

  const int32_t enter = nonbasic[q];
  const double enter_max = column_max(t, rows, n, enter);
  int32_t p = -1;
  double chosen = 0.0;
  for (int32_t i = 0; i < rows; ++i) {
    const int32_t v = basis[i];
    if (v < n && free_flags[v]) continue;  // free variables never leave
    if (cost != nullptr && is_artificial(v, n, rows)) continue;  // redundant rows
    const double alpha = row_times_column(binv, t, row_map, rows, n, i, enter);
    if (increasing ? !(alpha > 0.0) : !(alpha < 0.0)) continue;
    if (!significant(alpha, noise_scale(binv, rows, i, enter_max))) continue;
    const double ratio = row_times_rhs(binv, rhs, rows, i) / alpha;
    if (p < 0 || (increasing ? ratio < chosen : ratio > chosen)) {
      p = i;
      chosen = ratio;
    }
  }
  if (p < 0) return kSimplexUnbounded;
  numk_simplex_basis_update(t, row_map, rows, n, q, p, basis, nonbasic, binv, pivot);
  return chosen > 0.0 ? kSimplexPivoted : kSimplexStalled;
}

bool numk_simplex_phases(double* t, double* rhs, const double* cost, const uint8_t* free_flags,
                         int32_t rows, int32_t n, double* x, double* work) {
  const PhaseWork w = carve_phase_work(work, rows);
  for (int32_t i = 0; i < rows; ++i) {
    w.row_map[i] = i;
    w.basis[i] = n + i;
  }
  for (int32_t k = 0; k < n; ++k) w.nonbasic[k] = k;
  set_identity(w.binv, rows);

  int32_t artificials = 0;
  for (int32_t i = 0; i < rows; ++i) {
    if (!(rhs[i] < 0.0)) continue;
    double* row = t + int64_t(i) * n;
    for (int32_t k = 0; k < n; ++k) row[k] = -row[k];
    rhs[i] = -rhs[i];
    w.row_map[i] = ~i;
    w.nonbasic[n + artificials] = n + i;
    w.basis[i] = n + rows + artificials;
    w.row_map[rows + artificials] = i;
    ++artificials;
  }

  if (artificials > 0) {
    const LoopEnd end = run_phase(t, rhs, nullptr, free_flags, w.row_map, rows, n, artificials,
                                  w.basis, w.nonbasic, w.binv, w.pivot,
                                  kIterationsPerRow * rows);
    if (end == LoopEnd::kExhausted) return false;
    if (end == LoopEnd::kUnbounded) {
      fill(x, n, std::numeric_limits<double>::infinity());
      return true;
    }
    for (int32_t i = 0; i < rows; ++i) {
      if (!is_artificial(w.basis[i], n, rows)) continue;
      if (row_times_rhs(w.binv, rhs, rows, i) >= kArtificialLevel) {
        fill(x, n, std::numeric_limits<double>::quiet_NaN());
        return true;
      }
      // Pivot the artificial out on the first usable entry of its row; with
      // none the row is redundant and the artificial stays basic at level 0.
      for (int32_t q = 0; q < n + artificials; ++q) {
        const int32_t v = w.nonbasic[q];
        if (is_artificial(v, n, rows)) continue;
        const double entry = row_times_column(w.binv, t, w.row_map, rows, n, i, v);
        if (significant(entry, noise_scale(w.binv, rows, i, column_max(t, rows, n, v)))) {
          numk_simplex_basis_update(t, w.row_map, rows, n, q, i, w.basis, w.nonbasic, w.binv,
                                    w.pivot);
          break;
        }
      }
    }
    int32_t kept = 0;
    for (int32_t q = 0; q < n + artificials; ++q)
      if (!is_artificial(w.nonbasic[q], n, rows)) w.nonbasic[kept++] = w.nonbasic[q];
    artificials = kept - n;  // those left basic on redundant rows
  }

  const LoopEnd end = run_phase(t, rhs, cost, free_flags, w.row_map, rows, n, artificials,
                                w.basis, w.nonbasic, w.binv, w.pivot,
                                kIterationsPerRow * rows + 1);
  if (end == LoopEnd::kExhausted) return false;
  if (end == LoopEnd::kUnbounded) {
    fill(x, n, std::numeric_limits<double>::infinity());
    return true;
  }
  fill(x, n, 0.0);
  for (int32_t i = 0; i < rows; ++i)
    if (w.basis[i] < n) x[w.basis[i]] = row_times_rhs(w.binv, rhs, rows, i);
  return true;
}

bool numk_simplex(const double* a, const double* b, const double* c, int32_t m, int32_t n,
                  const double* lb, int32_t n_lb, const double* ub, int32_t n_ub, double* x,
                  double* work) {
  const int64_t cap = int64_t(m) + n;
  double* t = work;
  double* rhs = t + cap * n;
  double* cost = rhs + cap;
  double* shift = cost + n;
  double* phase_work = shift + n;
  uint8_t* flipped =
      reinterpret_cast<uint8_t*>(phase_work + numk_simplex_phases_work_doubles(int32_t(cap), n));
  uint8_t* free_flags = flipped + n;

  if (m > 0) std::memcpy(t, a, sizeof(double) * size_t(m) * size_t(n));
  for (int32_t i = 0; i < m; ++i) rhs[i] = b[i];
  for (int32_t k = 0; k < n; ++k) {
    cost[k] = c[k];
    shift[k] = 0.0;
    flipped[k] = 0;
    free_flags[k] = 0;
  }
  const double inf = std::numeric_limits<double>::infinity();
  int32_t rows = m;
  for (int32_t k = 0; k < n; ++k) {
    const bool has_lo = k < n_lb && lb[k] != -inf;
    const bool has_hi = k < n_ub && ub[k] != inf;
    if (has_lo) {
      const double l = lb[k];
      shift[k] = l;
      for (int32_t i = 0; i < rows; ++i) rhs[i] = rhs[i] - t[int64_t(i) * n + k] * l;
      if (has_hi) {
        double* row = t + int64_t(rows) * n;
        for (int32_t j = 0; j < n; ++j) row[j] = 0.0;
        row[k] = 1.0;
        rhs[rows] = ub[k] - l;
        ++rows;
      }
    } else if (has_hi) {
      // The variable becomes u - x' with x' >= 0.
      const double u = ub[k];
      shift[k] = u;
      flipped[k] = 1;
      for (int32_t i = 0; i < rows; ++i) {
        double& tik = t[int64_t(i) * n + k];
        rhs[i] = rhs[i] - tik * u;
        tik = -tik;
      }
      cost[k] = -cost[k];
    } else {
      free_flags[k] = 1;
    }
  }

  if (!numk_simplex_phases(t, rhs, cost, free_flags, rows, n, x, phase_work)) return false;
  for (int32_t k = 0; k < n; ++k) x[k] = shift[k] + (flipped[k] ? -x[k] : x[k]);
  return true;
}
