// The root-locus builder. The gain K steps by a constant factor over 36
// decades about the window's own gain scale (so that a locus is traced
// alike at every frequency scale), and each step is bisected (at most 9
// levels below a whole step) where a root moves further than the
// tolerance, the next step starting at twice the last; every accepted gain
// advances, so the trace always ends.
// Roots are paired greedily, then by a bounded search. Each branch has an
// equal slot of the data area; a full slot ends the trace.
#include "graphics/commands/root_locus.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numlib/polyroots.h"

namespace {

// The step variable v: K = 0 at v = 0, K rises linearly to kGainFirst times
// the window's gain scale at v = 1, then by e^kGainFactorLog per unit of v
// up to kGainLast times the scale; past it the numerator's roots end the
// branches that reach them.
constexpr double kGainFirst = 1e-18;
constexpr double kGainLast = 1e18;
constexpr double kGainFactorLog = 0.25;
constexpr int kMaxLevels = 9;
constexpr double kCostGrowth = 100;
constexpr double kMoveShare = 0.0002;
// A point within this share of the tolerance of its neighbours' chord goes,
// while that chord is at most kLineReach tolerances long.
constexpr double kLineShare = 0.1;
constexpr double kLineReach = 5;
constexpr double kNoDistance = 1e30;
constexpr int32_t kMinSlot = 5;

int side(double im) { return im > 0 ? 1 : im < 0 ? -1 : 0; }

// Roots of p (n + 1 coefficients, leading zeros allowed) into re, im; n
// values, NaN for roots lost with leading zeros. scratch: n + 1 + roots work.
void roots_of(const double* p, int32_t n, double* re, double* im, double* scratch) {
  int32_t lead = 0;
  while (lead < n && p[lead] == 0) ++lead;
  const int32_t d = n - lead;
  std::memcpy(scratch, p + lead, size_t(d + 1) * sizeof(double));
  if (d > 0) roots_real_coeffs(scratch, d, re, im, scratch + d + 1);
  for (int32_t k = d; k < n; ++k) re[k] = im[k] = NAN;
}

}  // namespace

namespace {

// wd den + (wn / |num[0]|) num, num aligned with den's last coefficients.
void char_poly_weighted(const double* num, int32_t dn, const double* den, int32_t dd, double wd, double wn,
                        double* out) {
  const double scale = std::fabs(num[0]);
  for (int32_t k = 0; k <= dd; ++k) out[k] = wd * den[k];
  if (!(scale > 0)) return;
  for (int32_t k = 0; k <= dn; ++k) out[dd - dn + k] += wn / scale * num[k];
}

// The gain at which the loci of a (degree da) and the normalised b (db)
// reach the window's size R: |a| / |b| over the powers of R. 1 when either
// sum is no use.
double gain_scale(const double* a, int32_t da, const double* b, int32_t db, const LocusWindow& win) {
  const double r = std::max({std::fabs(win.xlo), std::fabs(win.xhi), std::fabs(win.ylo), std::fabs(win.yhi)});
  double sa = 0, sb = 0;
  for (int32_t k = 0; k <= da; ++k) sa = sa * r + std::fabs(a[k]);
  for (int32_t k = 0; k <= db; ++k) sb = sb * r + std::fabs(b[k]);
  const double g = sa / (sb / std::fabs(b[0]));
  return g > 0 && std::isfinite(g) ? g : 1.0;
}

}  // namespace

void rlocus_char_poly(const double* num, int32_t dn, const double* den, int32_t dd, double t,
                      double* out) {
  char_poly_weighted(num, dn, den, dd, 1 - t, t, out);
}

double rlocus_match_greedy(const double* pre, const double* pim, const double* nre,
                           const double* nim, int32_t k, int32_t* perm, double* largest) {
  for (int32_t i = 0; i < k; ++i)
    if (std::isnan(pre[i]) || std::isnan(pim[i]) || std::isnan(nre[i]) || std::isnan(nim[i])) {
      for (int32_t j = 0; j < k; ++j) perm[j] = j;
      if (largest) *largest = NAN;
      return NAN;
    }
  auto free_root = [&](int32_t i, int32_t j) {
    for (int32_t q = 0; q < i; ++q)
      if (perm[q] == j) return false;
    return true;
  };
  double total = 0, most = 0;
  for (int32_t i = 0; i < k; ++i) {
    double best = kNoDistance;
    int32_t at = -1;
    for (int pass = 0; pass < 2 && at < 0; ++pass)
      for (int32_t j = 0; j < k; ++j) {
        if (!free_root(i, j)) continue;
        // First pass: never across the real axis; the second takes any root.
        const int a = side(pim[i]), b = side(nim[j]);
        if (pass == 0 && a != 0 && b != 0 && a != b) continue;
        const double d = std::fabs(nre[j] - pre[i]) + std::fabs(nim[j] - pim[i]);
        if (d < best || at < 0) best = d, at = j;
      }
    perm[i] = at;
    total += best;
    most = std::max(most, best);
  }
  if (largest) *largest = most;
  return total;
}

namespace {

constexpr int32_t kMatchSteps = 10000;
constexpr double kConjugateShare = 1e-9;  // relative distance of a conjugate pair's parts

bool conjugates(double re1, double im1, double re2, double im2) {
  const double scale = std::fabs(re1) + std::fabs(im1) + std::fabs(re2) + std::fabs(im2);
  return im1 != 0 && std::fabs(re1 - re2) <= kConjugateShare * scale &&
         std::fabs(im1 + im2) <= kConjugateShare * scale;
}

// The depth-first search of rlocus_match_roots. partner[i]: the previous
// root i's conjugate below it in the list, or -1; taken[j]: whether new root
// j is paired on the current path.
struct Matcher {
  const double *pre, *pim, *nre, *nim;
  int32_t k;
  int32_t *cur, *taken, *partner;
  double *partial, *moved;

  double dist(int32_t i, int32_t j) const { return std::fabs(nre[j] - pre[i]) + std::fabs(nim[j] - pim[i]); }

  // New root j may follow previous root i given the pairs chosen for the
  // roots before i: never across the axis; the conjugate of a pair takes
  // the conjugate of its partner's root (a real root when that one is real).
  bool allowed(int32_t i, int32_t j, const int32_t* chosen) const {
    const int a = side(pim[i]), b = side(nim[j]);
    if (a != 0 && b != 0 && a != b) return false;
    const int32_t p = partner[i];
    if (p < 0) return true;
    const int32_t q = chosen[p];
    if (nim[q] == 0) return nim[j] == 0;
    return conjugates(nre[q], nim[q], nre[j], nim[j]);
  }

  // The next free allowed root of previous root i after (d0, j0) in the
  // order of (distance, index) whose total stays below bound; -1 when none.
  int32_t next(int32_t i, double d0, int32_t j0, double bound, double* d_out) const {
    int32_t at = -1;
    double best = 0;
    for (int32_t j = 0; j < k; ++j) {
      if (taken[j]) continue;
      const double d = dist(i, j);
      if (d < d0 || (d == d0 && j <= j0) || !(partial[i] + d < bound)) continue;
      if (at >= 0 && (d > best || (d == best && j > at))) continue;
      if (!allowed(i, j, cur)) continue;
      at = j, best = d;
    }
    *d_out = best;
    return at;
  }

  // Searches for a pairing of total below bound; the best one found goes
  // into perm. Returns its total, or bound when none was found.
  double search(double bound, int32_t* perm) {
    for (int32_t j = 0; j < k; ++j) taken[j] = 0;
    partial[0] = 0;
    cur[0] = -1;
    moved[0] = -1;
    int32_t steps = 0;
    for (int32_t i = 0; i >= 0 && steps < kMatchSteps;) {
      if (cur[i] >= 0) taken[cur[i]] = 0;
      double d = 0;
      const int32_t j = next(i, moved[i], cur[i], bound, &d);
      if (j < 0) {
        --i;
        continue;
      }
      ++steps;
      cur[i] = j, moved[i] = d, taken[j] = 1;
      partial[i + 1] = partial[i] + d;
      if (i + 1 == k) {
        bound = partial[k];
        std::memcpy(perm, cur, size_t(k) * sizeof(int32_t));
      } else {
        ++i;
        cur[i] = -1, moved[i] = -1;
      }
    }
    return bound;
  }
};

}  // namespace

int64_t rlocus_match_work(int32_t k) {
  // partial sums (k + 1) and moves (k), then cur, taken, partner and the
  // best pairing: 4k int32 in 2k doubles.
  return 2 * int64_t(k) + 1 + 2 * int64_t(k);
}

double rlocus_match_roots(const double* pre, const double* pim, const double* nre, const double* nim,
                          int32_t k, int32_t* perm, double* largest, double* work) {
  double total = rlocus_match_greedy(pre, pim, nre, nim, k, perm, largest);
  if (std::isnan(total) || k <= 1) return total;
  Matcher m{pre, pim, nre, nim, k, nullptr, nullptr, nullptr, work, work + k + 1};
  m.cur = reinterpret_cast<int32_t*>(work + 2 * int64_t(k) + 1);
  m.taken = m.cur + k;
  m.partner = m.taken + k;
  int32_t* best = m.partner + k;
  for (int32_t i = 0; i < k; ++i) {
    m.partner[i] = -1;
    for (int32_t p = 0; p < i && m.partner[i] < 0; ++p)
      if (conjugates(pre[p], pim[p], pre[i], pim[i])) m.partner[i] = p;
  }
  // The greedy pairing bounds the search when it keeps the rules itself;
  // it stands when the search finds nothing better.
  bool kept = true;
  for (int32_t i = 0; i < k && kept; ++i) kept = m.allowed(i, perm[i], perm);
  const double bound = kept ? total : kNoDistance;
  const double searched = m.search(bound, best);
  if (!(searched < bound)) return total;
  std::memcpy(perm, best, size_t(k) * sizeof(int32_t));
  if (largest) {
    double most = 0;
    for (int32_t i = 0; i < k; ++i) most = std::max(most, m.dist(i, perm[i]));
    *largest = most;
  }
  return searched;
}

int64_t rlocus_build_work(int32_t da) {
  const int64_t n = da;
  // char poly, previous and new roots, trial roots, perm, counts, matching,
  // roots scratch
  return (n + 1) + 2 * n + 2 * n + 2 * n + n + n + rlocus_match_work(da) + (n + 1) + roots_real_work(n);
}

namespace {

bool in_window(const LocusWindow& win, double x, double y) {
  return x >= win.xlo && x <= win.xhi && y >= win.ylo && y <= win.yhi;
}

// Whether (x1, y1) lies within tol of the segment from (x0, y0) to (x2, y2),
// between its ends, and the segment is at most reach long.
bool in_line(double x0, double y0, double x1, double y1, double x2, double y2, double tol, double reach) {
  const double dx = x2 - x0, dy = y2 - y0, l2 = dx * dx + dy * dy;
  if (!(l2 > 0) || !(l2 <= reach * reach)) return false;
  const double u = ((x1 - x0) * dx + (y1 - y0) * dy) / l2;
  if (!(u >= 0 && u <= 1)) return false;
  return std::fabs((x1 - x0) * dy - (y1 - y0) * dx) <= tol * std::sqrt(l2);
}

// 0 inside the window; outside, one of the 8 cells around it (-1 for NaN).
int cell(const LocusWindow& win, double x, double y) {
  if (std::isnan(x) || std::isnan(y)) return -1;
  const int cx = x < win.xlo ? 1 : x > win.xhi ? 2 : 0;
  const int cy = y < win.ylo ? 3 : y > win.yhi ? 6 : 0;
  return cx + cy;
}

// The largest L1 move of a root that starts or ends in the window.
double largest_in_window(const double* pre, const double* pim, const double* nre, const double* nim, int32_t k,
                         const LocusWindow& win) {
  double most = 0;
  for (int32_t j = 0; j < k; ++j) {
    if (!in_window(win, pre[j], pim[j]) && !in_window(win, nre[j], nim[j])) continue;
    most = std::max(most, std::fabs(nre[j] - pre[j]) + std::fabs(nim[j] - pim[j]));
  }
  return most;
}

}  // namespace

int32_t rlocus_build_branches(const double* a, int32_t da, const double* b, int32_t db,
                              const LocusWindow& win, double* data, int64_t room, double* work,
                              int64_t* gains) {
  int64_t found = 0;
  if (gains) *gains = 0;
  if (da <= 0) {
    if (room >= 1) data[0] = -1.0;
    return 1;
  }
  const int64_t slot = room / da;
  const int64_t cap = (slot - 1) / 2;
  if (slot < kMinSlot) {
    data[0] = -1.0;
    return 1;
  }
  double* poly = work;
  double* pre = poly + da + 1;
  double* pim = pre + da;
  double* nre = pim + da;
  double* nim = nre + da;
  double* tre = nim + da;
  double* tim = tre + da;
  int32_t* perm = reinterpret_cast<int32_t*>(tim + da);
  int64_t* counts = reinterpret_cast<int64_t*>(tim + 2 * int64_t(da));
  double* match = tim + 3 * int64_t(da);
  double* scratch = match + rlocus_match_work(da);
  auto bx = [&](int32_t j) { return data + j * slot + 1; };
  auto by = [&](int32_t j) { return data + j * slot + 1 + cap; };
  const double min_dx = kMoveShare * (win.xhi - win.xlo), min_dy = kMoveShare * (win.yhi - win.ylo);
  const double line_tol = kLineShare * win.tol, line_reach = kLineReach * win.tol;
  roots_of(a, da, pre, pim, scratch);
  for (int32_t j = 0; j < da; ++j) {
    bx(j)[0] = pre[j], by(j)[0] = pim[j];
    counts[j] = 1;
  }
  auto append_all = [&](const double* re, const double* im) {
    bool full = false;
    for (int32_t j = 0; j < da; ++j) {
      const int64_t m = counts[j];
      const double dx = std::fabs(re[j] - bx(j)[m - 1]), dy = std::fabs(im[j] - by(j)[m - 1]);
      if (!(dx >= min_dx || dy >= min_dy) && !(std::isnan(re[j]) != std::isnan(bx(j)[m - 1]))) continue;
      // Three points in one cell outside the window: the middle one goes (a
      // branch on its way to infinity would fill its slot, and the segment
      // left stays in the cell, which the window does not touch).
      const int c = cell(win, re[j], im[j]);
      if (c != 0 && m >= 2 && c == cell(win, bx(j)[m - 1], by(j)[m - 1]) &&
          c == cell(win, bx(j)[m - 2], by(j)[m - 2])) {
        bx(j)[m - 1] = re[j], by(j)[m - 1] = im[j];
        continue;
      }
      // On a straight run (the real axis, an asymptote, a gentle arc) the
      // middle point adds nothing either.
      if (m >= 2 && in_line(bx(j)[m - 2], by(j)[m - 2], bx(j)[m - 1], by(j)[m - 1], re[j], im[j], line_tol,
                            line_reach)) {
        bx(j)[m - 1] = re[j], by(j)[m - 1] = im[j];
        continue;
      }
      if (m >= cap) {
        full = true;
        continue;
      }
      bx(j)[m] = re[j], by(j)[m] = im[j];
      counts[j] = m + 1;
      if (counts[j] >= cap) full = true;
    }
    return full;
  };
  // The normalised gain t = K / (1 + K) and 1 - t are both taken from K,
  // so that neither loses its digits at either end of the sweep.
  const double k0 = kGainFirst * gain_scale(a, da, b, db, win);
  const double v_end = 1 + std::log(kGainLast / kGainFirst) / kGainFactorLog;
  auto gain_at = [&](double v) { return v <= 1 ? k0 * v : k0 * std::exp((v - 1) * kGainFactorLog); };
  double t = 0, prev_cost = 0, step = 1;
  bool full = false;
  while (!full) {
    if (t >= v_end) {
      // At t = 1 the polynomial is b alone: db branches end at b's roots, the
      // others stay where they are.
      for (int32_t j = 0; j < da; ++j) nre[j] = pre[j], nim[j] = pim[j];
      if (db > 0) {
        roots_of(b, db, tre, tim, scratch);
        // Each root of b takes the nearest branch not yet taken.
        for (int32_t j = 0; j < da; ++j) perm[j] = 0;
        for (int32_t q = 0; q < db; ++q) {
          double best = kNoDistance;
          int32_t at = -1;
          for (int32_t j = 0; j < da; ++j) {
            if (perm[j]) continue;
            const double d = std::fabs(tre[q] - pre[j]) + std::fabs(tim[q] - pim[j]);
            if (d < best || at < 0) best = d, at = j;
          }
          perm[at] = 1;
          nre[at] = tre[q], nim[at] = tim[q];
        }
      }
      append_all(nre, nim);
      break;
    }
    // Bisect while a root moves too far, unless the cost explodes; when it
    // grows 100-fold below the first level, the level above stands (its
    // roots are still in nre, nim).
    int level = 0;
    double hi = std::min(t + step, v_end), cost = 0, above_hi = hi, above_cost = 0;
    for (;;) {
      const double gain = gain_at(hi);
      char_poly_weighted(b, db, a, da, 1 / (1 + gain), gain / (1 + gain), poly);
      roots_of(poly, da, tre, tim, scratch);
      ++found;
      double largest = 0;
      cost = rlocus_match_roots(pre, pim, tre, tim, da, perm, &largest, match);
      const bool grown = prev_cost > 0 && cost >= kCostGrowth * prev_cost;
      if (grown && level > 0) {
        hi = above_hi, cost = above_cost;
        break;
      }
      for (int32_t j = 0; j < da; ++j) {
        const int32_t k = perm[j] >= 0 && perm[j] < da ? perm[j] : j;
        nre[j] = tre[k], nim[j] = tim[k];
      }
      // Only moves that touch the window ask for a finer step: a branch
      // running off to infinity outside it moves further at every step and
      // would fill its slot long before the gain reaches its end.
      if (!std::isnan(largest)) largest = largest_in_window(pre, pim, nre, nim, da, win);
      if (!(largest > win.tol) || grown || level >= kMaxLevels) break;
      above_hi = hi, above_cost = cost;
      hi = (t + hi) / 2;
      ++level;
    }
    full = append_all(nre, nim);
    std::memcpy(pre, nre, size_t(da) * sizeof(double));
    std::memcpy(pim, nim, size_t(da) * sizeof(double));
    prev_cost = std::isfinite(cost) ? cost : prev_cost;
    // The next step starts at twice the one taken: where the roots move
    // fast it stays short without halving down from a whole step each time.
    step = std::min(1.0, 2 * (hi - t));
    t = hi;
  }
  // Pack the slots into consecutive polylines and close the list.
  int64_t at = 0;
  for (int32_t j = 0; j < da; ++j) {
    const int64_t m = counts[j];
    const double* x = bx(j);
    const double* y = by(j);
    // Moving down never overwrites what is still to be read: slot j starts at
    // or after the packed position.
    data[at] = double(m);
    std::memmove(data + at + 1, x, size_t(m) * sizeof(double));
    std::memmove(data + at + 1 + m, y, size_t(m) * sizeof(double));
    at += 2 * m + 1;
  }
  data[at++] = -1.0;
  if (gains) *gains = found;
  return int32_t(at);
}
