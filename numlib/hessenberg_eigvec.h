// Eigenvectors of an upper Hessenberg matrix by inverse iteration: H - lambda I
// is factored with interchanges between neighbouring rows only, and its
// triangular factor is solved, with scaling that keeps every element finite,
// from start vectors until the solution has grown by about 1 / eps, then
// until its residual is down to rounding. O(n^2) per vector; nothing
// allocates.
#pragma once

#include <cstdint>

// Doubles of work for one vector: the complex factor and its interchanges.
inline int64_t numk_hessenberg_eigvec_work(int64_t n) { return 2 * n * n + n; }

// x := an eigenvector of the upper Hessenberg (h_re, h_im) (n x n, row-major;
// h_im null for a real h; entries below the subdiagonal are not read) for the
// eigenvalue (lr, li), scaled so that its largest element has |re| + |im| = 1.
// The iteration goes on until the residual (H - lambda I) x is within a few
// n eps of |H - lambda I| |x| in every element. False when no start vector
// grew enough (a lambda far from every eigenvalue) or the residual did not
// get there in a few steps; x then holds the last solution, scaled alike, and
// the caller should find the vector another way. The elements of h must be
// finite.
bool numk_hessenberg_eigvec(const double* h_re, const double* h_im, int32_t n, double lr, double li,
                            double* x_re, double* x_im, double* work);
