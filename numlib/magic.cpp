// The classical constructions by parity: the staircase for odd orders, the
// complement pattern for multiples of 4, and for the other even orders four
// shifted odd quadrants with column exchanges between the top and bottom half.
#include "numlib/magic.h"

#include <cstddef>

namespace {

using Idx = std::ptrdiff_t;

inline void swap_cells(double* a, Idx p, Idx q) {
  double t = a[p];
  a[p] = a[q];
  a[q] = t;
}

}  // namespace

void int_pattern_matrix(double* a, int32_t m32, int32_t s32) {
  const Idx m = m32, s = s32;
  if (m < 1) return;
  Idx i = 0, j = (m - 1) / 2;
  const Idx total = m * m;
  for (Idx k = 1; k <= total; ++k) {
    a[i * s + j] = static_cast<double>(k);
    if (k % m == 0) {
      i = (i + 1) % m;  // the run's next cell is taken: go below the last one
    } else {
      i = (i + m - 1) % m;
      j = (j + 1) % m;
    }
  }
}

void magic_square_kernel(double* a, int32_t n32) {
  const Idx n = n32;
  if (n < 1) return;
  if (n % 2 == 1) {
    int_pattern_matrix(a, n32, n32);
    return;
  }
  if (n % 4 == 0) {
    const Idx nn = n * n;
    for (Idx i = 0; i < n; ++i) {
      const bool p = (i + 1) % 4 < 2;
      for (Idx j = 0; j < n; ++j) {
        const bool q = (j + 1) % 4 < 2;
        const Idx lin = i * n + j;
        a[lin] = static_cast<double>(p == q ? nn - lin : lin + 1);
      }
    }
    return;
  }
  // n = 2m with m odd.
  const Idx m = n / 2;
  const double mm = static_cast<double>(m * m);
  int_pattern_matrix(a, static_cast<int32_t>(m), n32);
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < m; ++j) {
      const double v = a[i * n + j];
      a[i * n + j + m] = v + 2 * mm;
      a[(i + m) * n + j] = v + 3 * mm;
      a[(i + m) * n + j + m] = v + mm;
    }
  const Idx k = (m - 1) / 2;
  for (Idx j = 0; j < k; ++j)
    for (Idx i = 0; i < m; ++i) swap_cells(a, i * n + j, (i + m) * n + j);
  swap_cells(a, k * n, (k + m) * n);
  swap_cells(a, k * n + k, (k + m) * n + k);
  for (Idx j = n - (m - 3) / 2; j < n; ++j)
    for (Idx i = 0; i < m; ++i) swap_cells(a, i * n + j, (i + m) * n + j);
}
