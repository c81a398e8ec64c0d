// Magic squares: every row and column of the order-n square sums to
// n (n^2 + 1) / 2 (except for n = 2, which has none), using 1 .. n^2 once.
#pragma once

#include <cstdint>

// a := the magic square of order n >= 1 (n^2 doubles, row-major).
void magic_square_kernel(double* a, int32_t n);

// The odd square of order m (staircase method) into the m x m block at a,
// whose rows are s doubles apart.
void int_pattern_matrix(double* a, int32_t m, int32_t s);
