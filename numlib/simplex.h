// Linear programming: a revised simplex method with an explicit basis inverse,
// two phases and deterministic anti-stall perturbation, under a bounds layer
// that turns lower and upper bounds into shifts, sign flips and extra rows.
// Nothing is allocated; the caller's work array holds every list and matrix.
#pragma once

#include <cstdint>

// Results of one simplex iteration.
enum : int {
  kSimplexPivoted = 0,
  kSimplexOptimal = 1,
  kSimplexStalled = 2,  // pivoted with a step that is not positive
  kSimplexUnbounded = 3,
};

// Maximise c'x subject to A x <= b (m rows, n columns, row-major) and
// lb <= x <= ub, with lb and ub holding their first n_lb and n_ub entries; a
// missing bound, a -Inf lower or +Inf upper bound means none. x (n): the
// optimum; NaN everywhere when infeasible; when unbounded +Inf (-Inf for a
// variable with only an upper bound). False only when out of iterations.
bool numk_simplex(const double* a, const double* b, const double* c, int32_t m, int32_t n,
                  const double* lb, int32_t n_lb, const double* ub, int32_t n_ub, double* x,
                  double* work);
int64_t numk_simplex_work_doubles(int32_t m, int32_t n);

// Maximise cost'x subject to t x <= rhs (rows x n), x >= 0 except where
// free_flags is set. t and rhs are rewritten (rows negated, perturbation). x:
// the optimum, NaN everywhere when infeasible, +Inf everywhere when unbounded.
bool numk_simplex_phases(double* t, double* rhs, const double* cost, const uint8_t* free_flags,
                         int32_t rows, int32_t n, double* x, double* work);
int64_t numk_simplex_phases_work_doubles(int32_t rows, int32_t n);

// Variables: 0 .. n-1 structural, n + i the slack of row i, n + rows + k the
// artificials. row_map[v - n] names the row of a slack or artificial column:
// r for +e_r, ~r for -e_r (a slack of a negated row). basis holds rows variable
// numbers, nonbasic n + artificials of them. Without a cost it prices the
// phase-1 objective (-1 on artificials); with one, artificials still basic sit
// on redundant rows and never leave. pivot is rows doubles of scratch.
int numk_simplex_iteration(const double* t, const double* rhs, const double* cost,
                           const uint8_t* free_flags, const int32_t* row_map, int32_t rows,
                           int32_t n, int32_t artificials, int32_t* basis, int32_t* nonbasic,
                           double* binv, double* pivot);

// Exchanges nonbasic[q] and basis[p] and updates binv by one rank-one step.
void numk_simplex_basis_update(const double* t, const int32_t* row_map, int32_t rows,
                               int32_t n, int32_t q, int32_t p, int32_t* basis,
                               int32_t* nonbasic, double* binv, double* pivot);
