// Pieces of the SVD built-ins that the factorisation built-ins share: the
// singular values of a matrix into scratch, svd's three factors pushed above
// a matrix left in place, and the completion of a thin factor to an
// orthonormal basis.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "numlib/linalg/linalg_stack.h"

// Scratch doubles for svd_values of a.
int64_t svd_values_scratch(const MatRef& a);

// The min(m, n) singular values of a (kept), decreasing, at *values inside
// scratch. A value the real kernel could not converge stays as the iteration
// left it (a NaN or Inf in a gives NaN values): never an error.
void svd_values(const MatRef& a, double* scratch, double** values);

// Pushes V, S and U of the matrix at depth `at` (U on top), A = U S V^H;
// economy form when econ. Nothing is pushed on failure (3, 1, or 9 when the
// complex kernel fails; the real one never does).
int svd_push_factors(EngineContext* ctx, int at, bool econ);

// dst (rows x need, need <= rows) := the columns of src (rows x cols) that
// are unit vectors, with every other column (a zero one) and the columns
// from cols on taken from an orthonormal complement, by QR of the unit ones.
// A column that is not a number is kept as it is: it is no zero column.
int64_t basis_completion_scratch(int64_t rows, int64_t cols);
void complete_basis(const double* src, int32_t rows, int32_t cols, double* dst, int32_t need,
                    double* scratch);
