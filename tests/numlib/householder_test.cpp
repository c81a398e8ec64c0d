// Householder kernels: the worked reflector examples, reflector application
// against the explicit matrix I - beta v v^H, and Hessenberg and QR checked by
// reconstruction, orthogonality and exact zeros on random real and complex data.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "numlib/householder.h"
#include "support/dense_model.h"

namespace {

using model::cd;
using model::Mat;
using Vec = std::vector<double>;

// The explicit reflector I - beta v v^H of order p.
Mat reflector(const Vec& v_re, const Vec* v_im, double beta) {
  const int p = int(v_re.size());
  Mat h = model::identity(p);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) {
      cd vi(v_re[i], v_im ? (*v_im)[i] : 0.0), vj(v_re[j], v_im ? (*v_im)[j] : 0.0);
      h(i, j) -= beta * vi * std::conj(vj);
    }
  return h;
}

TEST(Householder, WorkedRealReflectors) {
  Vec v(2);
  double beta = 0;
  const double x34[] = {3, 4};
  la_house_real(x34, 2, 1, v.data(), &beta);
  EXPECT_EQ(v, (Vec{2, 1}));
  EXPECT_DOUBLE_EQ(beta, 0.4);
  Mat hx = model::mul(reflector(v, nullptr, beta), model::from_real(x34, 2, 1));
  EXPECT_NEAR(hx(0, 0).real(), -5, 1e-15);
  EXPECT_NEAR(hx(1, 0).real(), 0, 1e-15);

  const double x02[] = {0, 2};
  la_house_real(x02, 2, 1, v.data(), &beta);
  EXPECT_EQ(v, (Vec{1, 1}));
  hx = model::mul(reflector(v, nullptr, beta), model::from_real(x02, 2, 1));
  EXPECT_EQ(hx(0, 0).real(), -2);
  EXPECT_EQ(hx(1, 0).real(), 0);

  // A negative zero reflects like +0: H x = -|x| e1.
  const double xm0[] = {-0.0, 2};
  la_house_real(xm0, 2, 1, v.data(), &beta);
  EXPECT_EQ(v, (Vec{1, 1}));

  // Zero vector and NaN first element: v = 0, beta = 1.
  const double zeros[] = {0, 0, 0}, nan_first[] = {NAN, 1, 2};
  for (const double* x : {zeros, nan_first}) {
    Vec w(3, 7.0);
    la_house_real(x, 3, 1, w.data(), &beta);
    EXPECT_EQ(w, (Vec{0, 0, 0}));
    EXPECT_EQ(beta, 1);
  }

  // A negative stride reads the vector backwards from its first element.
  const double back[] = {4, 3};
  la_house_real(back + 1, 2, -1, v.data(), &beta);
  EXPECT_EQ(v, (Vec{2, 1}));
}

TEST(Householder, ReflectorsMapOntoFirstAxis) {
  std::mt19937_64 rng(11);
  for (int p = 1; p <= 9; ++p) {
    for (int rep = 0; rep < 20; ++rep) {
      Vec xr = model::random_vec(rng, p), xi = model::random_vec(rng, p);
      if (rep == 0) xr[0] = xi[0] = 0;  // the x0 = 0 branch
      if (rep == 1) {                   // huge and tiny: the scaling must hold
        for (double& a : xr) a *= 1e300;
        for (double& a : xi) a *= 1e300;
      }
      if (rep == 2)
        for (double& a : xr) a *= 1e-300;
      if (rep == 3) {  // squared moduli underflow; real reciprocal overflows
        for (double& a : xr) a *= 1e-310;
        for (double& a : xi) a *= 1e-170;
      }
      double norm = 0;
      for (int k = 0; k < p; ++k) norm = std::hypot(norm, std::hypot(xr[k], xi[k]));

      Vec v(p), vi(p);
      double beta;
      la_house_real(xr.data(), p, 1, v.data(), &beta);
      double nr = 0;
      for (double a : xr) nr = std::hypot(nr, a);
      Mat h = reflector(v, nullptr, beta);
      EXPECT_LT(model::unitarity_error(h), 1e-14);
      Mat hx = model::mul(h, model::from_real(xr.data(), p, 1));
      EXPECT_NEAR(hx(0, 0).real(), xr[0] >= 0 ? -nr : nr, 1e-14 * nr + 1e-321);
      for (int k = 1; k < p; ++k) EXPECT_LE(std::abs(hx(k, 0)), 1e-14 * nr + 1e-321);

      la_house_complex(xr.data(), xi.data(), p, 1, v.data(), vi.data(), &beta);
      h = reflector(v, &vi, beta);
      EXPECT_LT(model::unitarity_error(h), 1e-14);
      hx = model::mul(h, model::from_split(xr.data(), xi.data(), p, 1));
      cd x0(xr[0], xi[0]);
      cd want = x0 == 0.0 ? cd(-norm) : -x0 / std::abs(x0) * norm;
      EXPECT_LE(std::abs(hx(0, 0) - want), 1e-14 * norm) << p << " " << rep;
      for (int k = 1; k < p; ++k) EXPECT_LE(std::abs(hx(k, 0)), 1e-14 * norm);
    }
  }
}

TEST(Householder, ApplicationMatchesExplicitReflector) {
  std::mt19937_64 rng(12);
  const int m = 7, n = 5;
  for (int k = 0; k < 5; ++k) {
    for (int e : {k + 1, k + 3, 9}) {  // 9 runs past both m and n: clamped
      const int pl = std::min(m, e) - k, pr = std::min(n, e) - k;
      Vec ar = model::random_vec(rng, m * n), ai = model::random_vec(rng, m * n);
      Vec vr = model::random_vec(rng, 9), vi = model::random_vec(rng, 9);
      const double beta = 0.3;
      Mat a = model::from_split(ar.data(), ai.data(), m, n);
      for (bool cplx : {false, true}) {
        // Embed the reflector into the identity at rows (columns) k ...
        auto embed = [&](int size, int p) {
          Vec r(vr.begin(), vr.begin() + p), i(vi.begin(), vi.begin() + p);
          Mat h = reflector(r, cplx ? &i : nullptr, beta), full = model::identity(size);
          for (int s = 0; s < p; ++s)
            for (int t = 0; t < p; ++t) full(k + s, k + t) = h(s, t);
          return full;
        };
        Mat base = cplx ? a : model::from_real(ar.data(), m, n);
        Vec lr = ar, li = ai, rr = ar, ri = ai;
        if (cplx) {
          la_house_apply_left_complex(lr.data(), li.data(), m, n, vr.data(), vi.data(), beta, k, e);
          la_house_apply_right_complex(rr.data(), ri.data(), m, n, vr.data(), vi.data(), beta, k, e);
        } else {
          la_house_apply_left_real(lr.data(), m, n, vr.data(), beta, k, e);
          la_house_apply_right_real(rr.data(), m, n, vr.data(), beta, k, e);
        }
        Mat got_l = cplx ? model::from_split(lr.data(), li.data(), m, n)
                         : model::from_real(lr.data(), m, n);
        Mat got_r = cplx ? model::from_split(rr.data(), ri.data(), m, n)
                         : model::from_real(rr.data(), m, n);
        EXPECT_LT(model::max_diff(got_l, model::mul(embed(m, pl), base)), 1e-14);
        EXPECT_LT(model::max_diff(got_r, model::mul(base, embed(n, pr))), 1e-14);
      }
    }
  }
}

TEST(Householder, HessenbergReduction) {
  std::mt19937_64 rng(13);
  for (int n = 0; n <= 24; n += (n < 6 ? 1 : 6)) {
    for (bool cplx : {false, true}) {
      Vec ar = model::random_vec(rng, size_t(n) * n), ai = model::random_vec(rng, size_t(n) * n);
      if (!cplx) std::fill(ai.begin(), ai.end(), 0.0);
      Mat a0 = model::from_split(ar.data(), ai.data(), n, n);
      Vec qr(size_t(n) * n, 9.0), qi(size_t(n) * n, 9.0);
      Vec work(cplx ? la_hessenberg_work_complex(n) : la_hessenberg_work_real(n));
      if (cplx)
        la_hessenberg_complex(ar.data(), ai.data(), n, qr.data(), qi.data(), work.data());
      else
        la_hessenberg_real(ar.data(), n, qr.data(), work.data());
      if (!cplx) std::fill(qi.begin(), qi.end(), 0.0);
      Mat h = model::from_split(ar.data(), ai.data(), n, n);
      Mat q = model::from_split(qr.data(), qi.data(), n, n);
      if (n <= 2) {
        EXPECT_EQ(model::max_diff(h, a0), 0);
        EXPECT_EQ(model::max_diff(q, model::identity(n)), 0);
      }
      for (int i = 0; i < n; ++i)
        for (int j = 0; j + 1 < i; ++j) EXPECT_EQ(h(i, j), 0.0) << n << " " << i << "," << j;
      EXPECT_LT(model::unitarity_error(q), 1e-14 * (n + 1));
      EXPECT_LT(model::max_diff(model::mul(model::mul(q, h), model::adjoint(q)), a0), 1e-14 * (n + 1));
    }
  }
  // Without Q the same A results.
  Vec a = model::random_vec(rng, 36), b = a, q(36), w(6);
  la_hessenberg_real(a.data(), 6, q.data(), w.data());
  la_hessenberg_real(b.data(), 6, nullptr, w.data());
  EXPECT_EQ(a, b);
}

// Checks Q R = A P, Q unitary, R upper trapezoidal with exact zeros.
void check_qr(const Mat& a0, const Vec& rr, const Vec& ri, const Vec& qr, const Vec& qi,
              const std::vector<int32_t>* perm) {
  const int m = a0.rows, n = a0.cols;
  Mat r = model::from_split(rr.data(), ri.data(), m, n);
  Mat q = model::from_split(qr.data(), qi.data(), m, m);
  Mat ap(m, n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) ap(i, j) = a0(i, perm ? (*perm)[j] : j);
  for (int i = 1; i < m; ++i)
    for (int j = 0; j < std::min(i, n); ++j) EXPECT_EQ(r(i, j), 0.0);
  EXPECT_LT(model::unitarity_error(q), 1e-14 * (m + 1));
  EXPECT_LT(model::max_diff(model::mul(q, r), ap), 1e-14 * (m + n));
  if (perm) {  // column pivoting leaves a non-increasing |R(k, k)|
    for (int k = 1; k < std::min(m, n); ++k)
      EXPECT_LE(std::abs(r(k, k)), std::abs(r(k - 1, k - 1)) * (1 + 1e-12));
    std::vector<int32_t> sorted = *perm;
    std::sort(sorted.begin(), sorted.end());
    for (int j = 0; j < n; ++j) EXPECT_EQ(sorted[j], j);
  }
}

TEST(Householder, QrRandomShapes) {
  std::mt19937_64 rng(14);
  const int shapes[][2] = {{1, 1}, {3, 2}, {2, 3}, {5, 5}, {8, 3}, {3, 8}, {12, 12}, {20, 9}};
  for (auto [m, n] : shapes) {
    for (bool cplx : {false, true}) {
      for (bool pivot : {false, true}) {
        Vec ar = model::random_vec(rng, size_t(m) * n), ai = model::random_vec(rng, size_t(m) * n);
        if (!cplx) std::fill(ai.begin(), ai.end(), 0.0);
        Mat a0 = model::from_split(ar.data(), ai.data(), m, n);
        Vec qr(size_t(m) * m), qi(size_t(m) * m);
        Vec work(cplx ? la_qr_work_complex(m, n, pivot) : la_qr_work_real(m, n, pivot));
        std::vector<int32_t> perm(n, -1);
        int32_t* pp = pivot ? perm.data() : nullptr;
        if (cplx)
          la_qr_complex(ar.data(), ai.data(), m, n, qr.data(), qi.data(), pp, work.data());
        else
          la_qr_real(ar.data(), m, n, qr.data(), pp, work.data());
        SCOPED_TRACE(testing::Message() << m << "x" << n << " c" << cplx << " p" << pivot);
        check_qr(a0, ar, ai, qr, qi, pivot ? &perm : nullptr);
      }
    }
  }
}

TEST(Householder, QrWorkedShapes) {
  // 3 x 2: Q is 3 x 3 and row 2 of R is exactly zero.
  Vec a = {1, 2, 3, 4, 5, 6}, ai(6), q(9, 7.0), qi(9), w(3);
  Mat a0 = model::from_real(a.data(), 3, 2);
  la_qr_real(a.data(), 3, 2, q.data(), nullptr, w.data());
  EXPECT_EQ(a[4], 0.0);
  EXPECT_EQ(a[5], 0.0);
  check_qr(a0, a, ai, q, qi, nullptr);

  // A zero column moves last and stops the loop; the others keep their R.
  for (bool cplx : {false, true}) {
    Vec b = {1, 0, 2, 3, 0, 1, 0, 0, 5, 1, 0, 2}, bi(12), qq(16), qqi(16), ww(12);
    if (cplx) bi = {0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 3};
    Mat b0 = model::from_split(b.data(), bi.data(), 4, 3);
    std::vector<int32_t> perm(3);
    if (cplx)
      la_qr_complex(b.data(), bi.data(), 4, 3, qq.data(), qqi.data(), perm.data(), ww.data());
    else
      la_qr_real(b.data(), 4, 3, qq.data(), perm.data(), ww.data());
    EXPECT_EQ(perm[2], 1);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(b[i * 3 + 2], 0.0);
      EXPECT_EQ(bi[i * 3 + 2], 0.0);
    }
    check_qr(b0, b, bi, qq, qqi, &perm);
  }

  // Without Q the same R results.
  std::mt19937_64 rng(15);
  Vec c = model::random_vec(rng, 20), d = c, qc(16), wc(9);
  std::vector<int32_t> p1(5), p2(5);
  la_qr_real(c.data(), 4, 5, qc.data(), p1.data(), wc.data());
  la_qr_real(d.data(), 4, 5, nullptr, p2.data(), wc.data());
  EXPECT_EQ(c, d);
  EXPECT_EQ(p1, p2);
}

}  // namespace
