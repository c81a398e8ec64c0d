// The layout converters of the LAPACK rows: single copy loops, row by row on
// the engine side. A row-major matrix read column-major is its transpose, so
// the transposed converters copy in element order.
#include "numlib/linalg/lapack_layout.h"

#include <cmath>
#include <cstring>

namespace {

using Idx = int64_t;
bool none(int32_t m, int32_t n) { return m < 1 || n < 1; }
double im_of(const double* im, Idx k) { return im ? im[k] : 0.0; }

}  // namespace

void lay_real_to_colmajor(const double* src, double* dst, int32_t m, int32_t n) {
  lay_real_to_colmajor_ld(src, dst, m, m, n);
}

void lay_real_to_colmajor_ld(const double* src, double* dst, int32_t ld, int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) dst[i + j * ld] = src[i * n + j];
}

void lay_cplx_to_colmajor(const double* re, const double* im, double* dst, int32_t m, int32_t n) {
  lay_cplx_to_colmajor_ld(re, im, dst, m, m, n);
}

void lay_cplx_to_colmajor_ld(const double* re, const double* im, double* dst, int32_t ld, int32_t m,
                             int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) {
      dst[2 * (i + j * ld)] = re[i * n + j];
      dst[2 * (i + j * ld) + 1] = im_of(im, i * n + j);
    }
}

void lay_real_to_colmajor_transposed(const double* src, double* dst, int32_t m, int32_t n) {
  if (none(m, n)) return;
  std::memcpy(dst, src, size_t(Idx{m} * n) * 8);
}

void lay_real_to_colmajor_transposed_ld(const double* src, double* dst, int32_t ld, int32_t m,
                                        int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) dst[i * ld + j] = src[i * n + j];
}

void lay_cplx_to_colmajor_transposed(const double* re, const double* im, double* dst, int32_t m,
                                     int32_t n) {
  if (none(m, n)) return;
  for (Idx k = 0; k < Idx{m} * n; ++k) {
    dst[2 * k] = re[k];
    dst[2 * k + 1] = im_of(im, k);
  }
}

void lay_cplx_to_colmajor_ctransposed(const double* re, const double* im, double* dst, int32_t m,
                                      int32_t n) {
  if (none(m, n)) return;
  for (Idx k = 0; k < Idx{m} * n; ++k) {
    dst[2 * k] = re[k];
    dst[2 * k + 1] = im ? -im[k] : 0.0;  // +0, not -0, for a real input
  }
}

void lay_cplx_to_colmajor_ctransposed_ld(const double* re, const double* im, double* dst, int32_t ld,
                                         int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) {
      dst[2 * (i * ld + j)] = re[i * n + j];
      dst[2 * (i * ld + j) + 1] = im ? -im[i * n + j] : 0.0;
    }
}

void lay_identity_real(double* dst, int32_t n) {
  if (n < 1) return;
  std::memset(dst, 0, size_t(Idx{n} * n) * 8);
  for (Idx i = 0; i < n; ++i) dst[i * (n + 1)] = 1.0;
}

void lay_identity_complex(double* dst, int32_t n) {
  if (n < 1) return;
  std::memset(dst, 0, size_t(2 * Idx{n} * n) * 8);
  for (Idx i = 0; i < n; ++i) dst[2 * i * (n + 1)] = 1.0;
}

void lay_real_from_colmajor(const double* src, double* dst, int32_t m, int32_t n) {
  lay_real_from_colmajor_ld(src, m, dst, m, n);
}

void lay_real_from_colmajor_ld(const double* src, int32_t ld, double* dst, int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) dst[i * n + j] = src[i + j * ld];
}

void lay_cplx_from_colmajor(const double* src, double* re, double* im, int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) {
      re[i * n + j] = src[2 * (i + j * m)];
      if (im) im[i * n + j] = src[2 * (i + j * m) + 1];
    }
}

void lay_cplx_from_colmajor_ld(const double* src, int32_t ld, double* re, double* im, int32_t m,
                               int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) {
      re[i * n + j] = src[2 * (i + j * ld)];
      im[i * n + j] = src[2 * (i + j * ld) + 1];
    }
}

void lay_real_from_colmajor_transposed(const double* src, double* dst, int32_t m, int32_t n) {
  if (none(m, n)) return;
  std::memcpy(dst, src, size_t(Idx{m} * n) * 8);
}

void lay_real_from_colmajor_transposed_ld(const double* src, int32_t ld, double* dst, int32_t m,
                                          int32_t n) {
  if (none(m, n)) return;
  for (Idx j = 0; j < n; ++j)
    for (Idx i = 0; i < m; ++i) dst[i + j * m] = src[i + j * ld];
}

void lay_cplx_from_colmajor_transposed(const double* src, double* re, double* im, int32_t m,
                                       int32_t n) {
  if (none(m, n)) return;
  for (Idx k = 0; k < Idx{m} * n; ++k) {
    re[k] = src[2 * k];
    im[k] = src[2 * k + 1];
  }
}

void lay_cplx_from_colmajor_ctransposed(const double* src, double* re, double* im, int32_t m,
                                        int32_t n) {
  if (none(m, n)) return;
  for (Idx k = 0; k < Idx{m} * n; ++k) {
    re[k] = src[2 * k];
    im[k] = -src[2 * k + 1];
  }
}

void lay_cplx_from_colmajor_ctransposed_ld(const double* src, int32_t ld, double* re, double* im,
                                           int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx j = 0; j < n; ++j)
    for (Idx i = 0; i < m; ++i) {
      re[i + j * m] = src[2 * (i + j * ld)];
      im[i + j * m] = -src[2 * (i + j * ld) + 1];
    }
}

void lay_diag_from_vector_real(const double* vec, double* dst, int32_t m, int32_t n) {
  if (none(m, n)) return;
  std::memset(dst, 0, size_t(Idx{m} * n) * 8);
  for (Idx i = 0; i < (m < n ? m : n); ++i) dst[i * (n + 1)] = vec[i];
}

void lay_diag_from_vector_complex(const double* vec, double* re, double* im, int32_t m, int32_t n) {
  if (none(m, n)) return;
  std::memset(re, 0, size_t(Idx{m} * n) * 8);
  std::memset(im, 0, size_t(Idx{m} * n) * 8);
  for (Idx i = 0; i < (m < n ? m : n); ++i) {
    re[i * (n + 1)] = vec[2 * i];
    im[i * (n + 1)] = vec[2 * i + 1];
  }
}

void lay_lower_real_from_colmajor(const double* src, double* dst, int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) dst[i * n + j] = j <= i ? src[i + j * m] : 0.0;
}

void lay_lower_cplx_from_colmajor(const double* src, double* re, double* im, int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) {
      re[i * n + j] = j <= i ? src[2 * (i + j * m)] : 0.0;
      im[i * n + j] = j <= i ? src[2 * (i + j * m) + 1] : 0.0;
    }
}

void lay_lower_real_from_colmajor_permuted(const double* src, double* dst, int32_t m, int32_t n,
                                           const int32_t* perm) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i) {
    const Idx t = perm[i];
    for (Idx j = 0; j < n; ++j) dst[t * n + j] = j <= i ? src[i + j * m] : 0.0;
  }
}

void lay_lower_cplx_from_colmajor_permuted(const double* src, double* re, double* im, int32_t m,
                                           int32_t n, const int32_t* perm) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i) {
    const Idx t = perm[i];
    for (Idx j = 0; j < n; ++j) {
      re[t * n + j] = j <= i ? src[2 * (i + j * m)] : 0.0;
      im[t * n + j] = j <= i ? src[2 * (i + j * m) + 1] : 0.0;
    }
  }
}

void lay_upper_real_from_colmajor(const double* src, double* dst, int32_t m, int32_t n) {
  lay_upper_real_from_colmajor_ld(src, m, dst, m, n);
}

void lay_upper_real_from_colmajor_ld(const double* src, int32_t ld, double* dst, int32_t m,
                                     int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) dst[i * n + j] = j >= i ? src[i + j * ld] : 0.0;
}

void lay_upper_cplx_from_colmajor(const double* src, double* re, double* im, int32_t m, int32_t n) {
  lay_upper_cplx_from_colmajor_ld(src, m, re, im, m, n);
}

void lay_upper_cplx_from_colmajor_ld(const double* src, int32_t ld, double* re, double* im,
                                     int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx i = 0; i < m; ++i)
    for (Idx j = 0; j < n; ++j) {
      re[i * n + j] = j >= i ? src[2 * (i + j * ld)] : 0.0;
      im[i * n + j] = j >= i ? src[2 * (i + j * ld) + 1] : 0.0;
    }
}

void lay_fill_inf(double* dst, int32_t m, int32_t n) {
  if (none(m, n)) return;
  for (Idx k = 0; k < Idx{m} * n; ++k) dst[k] = INFINITY;
}

void lay_unpack_eigvectors(const double* v, const double* wi, double* re, double* im, int32_t n) {
  const Idx nn = n;
  for (Idx j = 0; j < nn;) {
    if (wi[j] == 0 || std::isnan(wi[j]) || j + 1 >= nn) {
      for (Idx i = 0; i < nn; ++i) {
        re[i * nn + j] = v[i + j * nn];
        im[i * nn + j] = 0;
      }
      ++j;
      continue;
    }
    for (Idx i = 0; i < nn; ++i) {
      const double x = v[i + j * nn], y = v[i + (j + 1) * nn];
      re[i * nn + j] = x;
      im[i * nn + j] = y;
      re[i * nn + j + 1] = x;
      im[i * nn + j + 1] = -y;
    }
    j += 2;
  }
}
