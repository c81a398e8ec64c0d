// The LAPACK layout converters on the cases that pin their index maps, and
// round trips of every to/from pair on a non-square matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "numlib/linalg/lapack_layout.h"

namespace {

using V = std::vector<double>;

TEST(LapackLayout, PinnedCases) {
  const V a = {1, 2, 3, 4, 5, 6};  // [1 2 3; 4 5 6]
  V col(6);
  lay_real_to_colmajor(a.data(), col.data(), 2, 3);
  EXPECT_EQ(col, (V{1, 4, 2, 5, 3, 6}));

  V z(4, -1);
  const V re = {1, 2}, im = {3, 4};
  lay_cplx_to_colmajor_ctransposed(re.data(), nullptr, z.data(), 1, 2);
  EXPECT_EQ(z, (V{1, 0, 2, 0}));
  EXPECT_FALSE(std::signbit(z[1]));  // +0, not -0
  lay_cplx_to_colmajor_ctransposed(re.data(), im.data(), z.data(), 1, 2);
  EXPECT_EQ(z, (V{1, -3, 2, -4}));

  V d(6, 9);
  const V vec = {7, 8};
  lay_diag_from_vector_real(vec.data(), d.data(), 3, 2);
  EXPECT_EQ(d, (V{7, 0, 0, 8, 0, 0}));

  const V lu = {1, 3, 2, 4};  // column-major [1 2; 3 4]
  V t(4);
  lay_upper_real_from_colmajor(lu.data(), t.data(), 2, 2);
  EXPECT_EQ(t, (V{1, 2, 0, 4}));
  lay_lower_real_from_colmajor(lu.data(), t.data(), 2, 2);
  EXPECT_EQ(t, (V{1, 0, 3, 4}));
  const int32_t perm[2] = {1, 0};
  lay_lower_real_from_colmajor_permuted(lu.data(), t.data(), 2, 2, perm);
  EXPECT_EQ(t, (V{3, 4, 1, 0}));

  const V v = {1, 2, 3, 4};  // a b c d
  const V wi = {1, -1};
  V r(4), i(4);
  lay_unpack_eigvectors(v.data(), wi.data(), r.data(), i.data(), 2);
  EXPECT_EQ(r, (V{1, 1, 2, 2}));
  EXPECT_EQ(i, (V{3, -3, 4, -4}));

  V inf = {1, 2, 3, 4};
  lay_fill_inf(inf.data(), 2, 2);
  for (double x : inf) EXPECT_EQ(x, INFINITY);

  V id(8, 5);
  lay_identity_complex(id.data(), 2);
  EXPECT_EQ(id, (V{1, 0, 0, 0, 0, 0, 1, 0}));
}

TEST(LapackLayout, RoundTrips) {
  constexpr int32_t m = 3, n = 4, ld = 5;
  V re(m * n), im(m * n);
  for (int k = 0; k < m * n; ++k) re[k] = k + 1, im[k] = -(k + 1) * 0.5;
  V buf(2 * ld * n + 2 * ld * m, 0), r(m * n), i(m * n);

  lay_real_to_colmajor_ld(re.data(), buf.data(), ld, m, n);
  lay_real_from_colmajor_ld(buf.data(), ld, r.data(), m, n);
  EXPECT_EQ(r, re);
  lay_cplx_to_colmajor_ld(re.data(), im.data(), buf.data(), ld, m, n);
  lay_cplx_from_colmajor_ld(buf.data(), ld, r.data(), i.data(), m, n);
  EXPECT_EQ(r, re);
  EXPECT_EQ(i, im);
  lay_cplx_to_colmajor(re.data(), im.data(), buf.data(), m, n);
  lay_cplx_from_colmajor(buf.data(), r.data(), i.data(), m, n);
  EXPECT_EQ(i, im);
  // Transposed out and in again: the same matrix.
  lay_real_to_colmajor_transposed_ld(re.data(), buf.data(), ld, m, n);
  lay_real_from_colmajor_transposed_ld(buf.data(), ld, r.data(), n, m);
  EXPECT_EQ(r, re);
  lay_cplx_to_colmajor_ctransposed_ld(re.data(), im.data(), buf.data(), ld, m, n);
  lay_cplx_from_colmajor_ctransposed_ld(buf.data(), ld, r.data(), i.data(), n, m);
  EXPECT_EQ(r, re);
  EXPECT_EQ(i, im);
  lay_cplx_to_colmajor_transposed(re.data(), im.data(), buf.data(), m, n);
  lay_cplx_from_colmajor_transposed(buf.data(), r.data(), i.data(), n, m);
  EXPECT_EQ(i, im);
  lay_cplx_to_colmajor_ctransposed(re.data(), im.data(), buf.data(), m, n);
  lay_cplx_from_colmajor_ctransposed(buf.data(), r.data(), i.data(), n, m);
  EXPECT_EQ(i, im);
  // A transposed read of column-major data is its element order.
  lay_real_from_colmajor_transposed(re.data(), r.data(), n, m);
  EXPECT_EQ(r, re);
  // Nothing happens for an empty shape.
  V untouched = re;
  lay_real_to_colmajor(re.data(), untouched.data(), 0, 4);
  EXPECT_EQ(untouched, re);
}

}  // namespace
