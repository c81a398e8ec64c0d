// Root loci: the closed-loop poles of num/den as the loop gain runs from 0
// to infinity, traced as one polyline per branch by stepping a normalised
// gain t in [0, 1] and pairing each step's roots with the previous ones.
#pragma once

#include <cstdint>

// (1 - t) den + (t / |num[0]|) num, num aligned with den's last coefficients
// (dn <= dd); out: dd + 1 coefficients.
void rlocus_char_poly(const double* num, int32_t dn, const double* den, int32_t dd, double t,
                      double* out);

// Pairs the k new roots with the k previous ones (perm[i]: the new root of
// previous root i), each previous root taking the nearest free new root by
// |dx| + |dy| on its own side of the real axis (real roots pair with
// either side). A NaN root gives the identity and NaN. Returns the total
// distance; *largest (when given) the largest single move.
double rlocus_match_greedy(const double* pre, const double* pim, const double* nre,
                           const double* nim, int32_t k, int32_t* perm, double* largest);

// Work in doubles for rlocus_match_roots with k roots.
int64_t rlocus_match_work(int32_t k);
// Pairs as rlocus_match_greedy, then searches depth first (at most 10000
// steps, nearest candidates first) for a pairing of smaller total distance
// that keeps to the sides of the real axis and maps each conjugate pair of
// previous roots onto a conjugate pair (or onto two real roots). The
// greedy pairing stands when the search finds nothing better. Returns the
// total distance; *largest (when given) the largest single move.
double rlocus_match_roots(const double* pre, const double* pim, const double* nre, const double* nim,
                          int32_t k, int32_t* perm, double* largest, double* work);

struct LocusWindow {
  double xlo, xhi, ylo, yhi;
  double tol;
};

// Work in doubles for degree da.
int64_t rlocus_build_work(int32_t da);
// The branches of a (degree da) towards b (degree db <= da, normalised by
// |b[0]|), written as polylines {m, x[m], y[m]} ended by -1.0 into data
// (room doubles). Returns the data length; with slots below 5 doubles the
// data is the single -1.0. *gains (when given) counts the gains whose
// roots were found, bisections included.
int32_t rlocus_build_branches(const double* a, int32_t da, const double* b, int32_t db,
                              const LocusWindow& win, double* data, int64_t room, double* work,
                              int64_t* gains = nullptr);
