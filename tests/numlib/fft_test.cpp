// FFT kernels against a naive long-double DFT: every length to 200 and random
// longer ones, both directions, the real-pair path, strided and batched
// layouts (gaps stay untouched), the split plan, work sizing and break requests.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "numlib/fft.h"
#include "support/engine_block.h"

namespace {

using Vec = std::vector<double>;
constexpr double kEps = 2.220446049250313e-16;

// X(k) = sum x(j) exp(-+2 pi i jk/n), angles reduced exactly through jk mod n.
void naive_dft(const Vec& xr, const Vec& xi, bool inverse, Vec& yr, Vec& yi) {
  const size_t n = xr.size();
  const long double pi = 3.141592653589793238462643383279502884L;
  std::vector<long double> c(n), s(n);
  for (size_t m = 0; m < n; ++m) {
    const long double a = 2 * pi * (long double)m / (long double)n;
    c[m] = cosl(a);
    s[m] = inverse ? sinl(a) : -sinl(a);
  }
  yr.assign(n, 0);
  yi.assign(n, 0);
  // Plain pointers and no division in the inner loop: test code is compiled
  // unoptimised, where every vector subscript is a call.
  const double *pr = xr.data(), *pi_ = xi.data();
  const long double *pc = c.data(), *ps = s.data();
  for (size_t k = 0; k < n; ++k) {
    long double sr = 0, si = 0;
    for (size_t j = 0, m = 0; j < n; ++j) {
      sr += pr[j] * pc[m] - pi_[j] * ps[m];
      si += pr[j] * ps[m] + pi_[j] * pc[m];
      m += k;
      if (m >= n) m -= n;
    }
    if (inverse) {
      sr /= n;
      si /= n;
    }
    yr[k] = double(sr);
    yi[k] = double(si);
  }
}

// Rounding grows about linearly with n through the running-product twiddles.
double tolerance(const Vec& xr, const Vec& xi, bool inverse) {
  double norm = 0;
  for (size_t j = 0; j < xr.size(); ++j) norm += xr[j] * xr[j] + xi[j] * xi[j];
  const double n = double(xr.size());
  return 8 * kEps * (n + 8) * std::sqrt(norm) / (inverse ? n : 1.0);
}

struct Fixture {
  std::mt19937_64 rng{20240611};
  Vec random_vec(size_t n) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Vec v(n);
    for (double& x : v) x = u(rng);
    return v;
  }
};

int run_fft(Vec& in_re, Vec* in_im, int32_t n, int32_t stride, int32_t count, int32_t dist,
            Vec& out_re, Vec& out_im, bool inverse) {
  Vec work(size_t(numk_fft_work_doubles(n)));
  return numk_fft(in_re.data(), in_im ? in_im->data() : nullptr, n, stride, count, dist,
                  out_re.data(), out_im.data(), inverse, work.data(), int64_t(work.size()),
                  nullptr);
}

void check_one(Fixture& fx, int32_t n, bool inverse) {
  Vec xr = fx.random_vec(n), xi = fx.random_vec(n), yr, yi;
  naive_dft(xr, xi, inverse, yr, yi);
  Vec ir = xr, ii = xi, orr(n), oi(n);
  ASSERT_EQ(run_fft(ir, &ii, n, 1, 1, n, orr, oi, inverse), kFftDone);
  const double tol = tolerance(xr, xi, inverse);
  for (int32_t k = 0; k < n; ++k)
    ASSERT_LE(std::hypot(orr[k] - yr[k], oi[k] - yi[k]), tol)
        << "n " << n << " k " << k << (inverse ? " inverse" : " forward");
}

TEST(Fft, EveryLengthTo200BothDirections) {
  Fixture fx;
  for (int32_t n = 1; n <= 200; ++n) {
    check_one(fx, n, false);
    check_one(fx, n, true);
  }
}

TEST(Fft, RandomLengthsTo5000) {
  Fixture fx;
  std::uniform_int_distribution<int32_t> len(201, 5000);
  // Primes, prime powers and squares of untried candidates among them.
  std::vector<int32_t> lengths = {4999, 3125, 2401, 4096, 2187, 1331, 3721, 4802};
  for (int i = 0; i < 6; ++i) lengths.push_back(len(fx.rng));
  for (int32_t n : lengths) {
    check_one(fx, n, false);
    check_one(fx, n, true);
  }
}

// A recursive radix-2 transform in long double with exact twiddles: the model
// for lengths beyond the naive DFT's reach.
void model_fft(std::vector<std::complex<long double>>& x, bool inverse) {
  const size_t n = x.size();
  if (n < 2) return;
  std::vector<std::complex<long double>> even(n / 2), odd(n / 2);
  for (size_t i = 0; i < n / 2; ++i) even[i] = x[2 * i], odd[i] = x[2 * i + 1];
  model_fft(even, inverse);
  model_fft(odd, inverse);
  const long double pi = 3.141592653589793238462643383279502884L;
  for (size_t k = 0; k < n / 2; ++k) {
    const long double a = (inverse ? 2 : -2) * pi * (long double)k / (long double)n;
    const std::complex<long double> t = std::complex<long double>(cosl(a), sinl(a)) * odd[k];
    x[k] = even[k] + t;
    x[k + n / 2] = even[k] - t;
  }
}

// Powers of two large enough for the cache-blocked stages, the stage pairs
// and the blocked bit reversal: within a few log2(n) eps of the model, and
// the same bits whether a vector lies with unit stride or strided among others.
TEST(Fft, LargePowersOfTwoAcrossLayouts) {
  Fixture fx;
  for (int32_t n : {1024, 8192, 16384, 65536, 262144}) {
    const bool inverse = n == 16384;
    Vec xr = fx.random_vec(n), xi = fx.random_vec(n);
    std::vector<std::complex<long double>> model(n);
    for (int32_t i = 0; i < n; ++i) model[i] = {xr[i], xi[i]};
    model_fft(model, inverse);
    Vec ir = xr, ii = xi, orr(n), oi(n);
    ASSERT_EQ(run_fft(ir, &ii, n, 1, 1, n, orr, oi, inverse), kFftDone);
    long double err = 0, norm = 0;
    for (int32_t k = 0; k < n; ++k) {
      const std::complex<long double> m = model[k] / (long double)(inverse ? n : 1);
      err += std::norm(std::complex<long double>(orr[k], oi[k]) - m);
      norm += std::norm(m);
    }
    EXPECT_LE(double(sqrtl(err / norm)), 4 * std::log2(double(n)) * kEps) << n;
    // Second of three interleaved vectors (stride 3, dist 1).
    const int32_t count = 3;
    Vec sr(size_t(n) * count), si(sr.size()), sor(sr.size()), soi(sr.size());
    for (int32_t i = 0; i < n; ++i) {
      sr[size_t(i) * count + 1] = xr[i];
      si[size_t(i) * count + 1] = xi[i];
    }
    ASSERT_EQ(run_fft(sr, &si, n, count, count, 1, sor, soi, inverse), kFftDone);
    for (int32_t k = 0; k < n; ++k) {
      ASSERT_EQ(sor[size_t(k) * count + 1], orr[k]) << n << " " << k;
      ASSERT_EQ(soi[size_t(k) * count + 1], oi[k]) << n << " " << k;
    }
  }
}

TEST(Fft, SplitPlan) {
  struct Case {
    int32_t n;
    std::vector<int32_t> plan;
  };
  const Case cases[] = {
      {1, {}},          {2, {2}},         {8, {8}},         {12, {3, 4}},
      {10, {5, 2}},     {25, {25}},       {121, {121}},     {26, {13, 2}},
      {50, {5, 5, 2}},  {49, {7, 7}},     {35, {5, 7}},     {22, {11, 2}},
      {242, {11, 11, 2}}, {18, {3, 3, 2}}, {169, {13, 13}},    {338, {13, 13, 2}},
      {59049, {3, 3, 3, 3, 3, 3, 3, 3, 3, 3}}, {4999, {4999}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> got(40, 0);
    got.resize(size_t(numk_fft_plan(c.n, got.data(), 40)));
    EXPECT_EQ(got, c.plan) << c.n;
    const int64_t odd = int64_t(c.plan.size()) - (c.plan.empty() || c.plan.back() % 2 ? 0 : 1);
    EXPECT_EQ(numk_fft_work_doubles(c.n), 2 * int64_t(c.n) + 6 * (1 + odd)) << c.n;
  }
}

// Two real vectors through the real path match two complex transforms, with
// X(0) and X(n/2) purely real, in the interleaved layout the built-ins use.
TEST(Fft, RealPairsMatchComplexCalls) {
  Fixture fx;
  for (int32_t n : {1, 2, 3, 6, 8, 15, 16, 30, 97, 100}) {
    for (bool inverse : {false, true}) {
      const int32_t count = 4;  // vectors interleaved: stride count, dist 1
      Vec x = fx.random_vec(size_t(n) * count);
      Vec in = x, orr(x.size()), oi(x.size());
      ASSERT_EQ(run_fft(in, nullptr, n, count, count, 1, orr, oi, inverse), kFftDone);
      for (int32_t c = 0; c < count; ++c) {
        Vec vr(n), vi(n, 0.0), cr(n), ci(n);
        for (int32_t k = 0; k < n; ++k) vr[k] = x[size_t(k) * count + c];
        Vec tr = vr, ti = vi;
        ASSERT_EQ(run_fft(tr, &ti, n, 1, 1, n, cr, ci, inverse), kFftDone);
        const double tol = tolerance(vr, vi, inverse) * 4;
        for (int32_t k = 0; k < n; ++k) {
          EXPECT_NEAR(orr[size_t(k) * count + c], cr[k], tol) << n << " " << c << " " << k;
          EXPECT_NEAR(oi[size_t(k) * count + c], ci[k], tol) << n << " " << c << " " << k;
        }
        EXPECT_EQ(oi[c], 0.0);
        if (n % 2 == 0) {
          EXPECT_EQ(oi[size_t(n / 2) * count + c], 0.0);
        }
      }
    }
  }
}

// Vectors with gaps between their elements and between vectors: every element
// agrees with the DFT of its own vector, and no gap in either array is written.
TEST(Fft, StridedBatchesLeaveGapsAlone) {
  Fixture fx;
  struct Layout {
    int32_t n, stride, count, dist;
    bool real;
  };
  const Layout layouts[] = {
      {12, 2, 3, 29, false}, {45, 3, 2, 140, false}, {16, 5, 3, 1, false},
      {26, 2, 4, 60, true},  {7, 4, 2, 1, true},     {64, 1, 5, 70, false},
  };
  const double kGap = -12345.5;
  for (const Layout& l : layouts) {
    const size_t size = size_t(l.count - 1) * l.dist + size_t(l.n - 1) * l.stride + 3;
    Vec in_re(size, kGap), in_im(size, kGap), out_re(size, kGap), out_im(size, kGap);
    std::vector<bool> element(size, false);
    for (int32_t c = 0; c < l.count; ++c)
      for (int32_t i = 0; i < l.n; ++i) {
        const size_t at = size_t(c) * l.dist + size_t(i) * l.stride;
        element[at] = true;
        in_re[at] = fx.random_vec(1)[0];
        in_im[at] = l.real ? 0.0 : fx.random_vec(1)[0];
      }
    const Vec x_re = in_re, x_im = in_im;
    // The real path reads no imaginary array: gaps there would be lost.
    ASSERT_EQ(run_fft(in_re, l.real ? nullptr : &in_im, l.n, l.stride, l.count, l.dist, out_re,
                      out_im, false),
              kFftDone);
    for (size_t at = 0; at < size; ++at)
      if (!element[at]) {
        ASSERT_EQ(in_re[at], kGap) << at;
        ASSERT_EQ(out_re[at], kGap) << at;
        ASSERT_EQ(out_im[at], kGap) << at;
        if (!l.real) {
          ASSERT_EQ(in_im[at], kGap) << at;
        }
      }
    for (int32_t c = 0; c < l.count; ++c) {
      Vec vr(l.n), vi(l.n), yr, yi;
      for (int32_t i = 0; i < l.n; ++i) {
        vr[i] = x_re[size_t(c) * l.dist + size_t(i) * l.stride];
        vi[i] = x_im[size_t(c) * l.dist + size_t(i) * l.stride];
      }
      naive_dft(vr, vi, false, yr, yi);
      const double tol = tolerance(vr, vi, false) * 2;
      for (int32_t k = 0; k < l.n; ++k) {
        const size_t at = size_t(c) * l.dist + size_t(k) * l.stride;
        EXPECT_NEAR(out_re[at], yr[k], tol) << l.n << " " << c << " " << k;
        EXPECT_NEAR(out_im[at], yi[k], tol) << l.n << " " << c << " " << k;
      }
    }
  }
}

TEST(Fft, WorkSizingAndRefusals) {
  Fixture fx;
  for (int32_t n : {8, 12, 25, 59049 / 81, 2 * 3 * 5 * 7 * 11}) {
    const int64_t need = numk_fft_work_doubles(n);
    Vec xr = fx.random_vec(n), xi = fx.random_vec(n), orr(n, 99.0), oi(n, 99.0);
    // One double short: refused before anything is written.
    Vec work(size_t(need) + 16, -1.0);
    EXPECT_EQ(numk_fft(xr.data(), xi.data(), n, 1, 1, n, orr.data(), oi.data(), 0, work.data(),
                       need - 1, nullptr),
              kFftWorkTooSmall);
    EXPECT_EQ(orr, Vec(n, 99.0));
    EXPECT_EQ(oi, Vec(n, 99.0));
    // Exactly enough: the doubles beyond the stated size are never touched.
    EXPECT_EQ(numk_fft(xr.data(), xi.data(), n, 1, 1, n, orr.data(), oi.data(), 0, work.data(),
                       need, nullptr),
              kFftDone);
    for (size_t i = size_t(need); i < work.size(); ++i) ASSERT_EQ(work[i], -1.0) << n;
  }
  Vec a(6), b(6), w(64);
  EXPECT_EQ(numk_fft(a.data(), nullptr, 2, 1, 3, 2, a.data(), b.data(), 0, w.data(), 64, nullptr), kFftBadBatch);
  EXPECT_EQ(numk_fft(a.data(), b.data(), -1, 1, 1, 2, a.data(), b.data(), 0, w.data(), 64, nullptr), kFftBadBatch);
  EXPECT_EQ(numk_fft(a.data(), b.data(), 0, 1, 1, 2, a.data(), b.data(), 0, w.data(), 0, nullptr), kFftDone);
}

// The engine's break request, asked through its abort callback.
struct BreakProbe {
  int calls = 0, stop_at = 0;
  static uint8_t ask(void* arg) {
    auto* p = static_cast<BreakProbe*>(arg);
    return ++p->calls == p->stop_at;
  }
};

TEST(Fft, BreakRequestStopsBetweenCombinations) {
  EngineBlock engine = EngineBlock::make(1 << 16);
  const int32_t n = 27;  // 9 + 3 + 1 combinations
  Vec xr(n, 1.0), xi(n, 0.0), orr(n), oi(n), work(size_t(numk_fft_work_doubles(n)));
  BreakProbe never;
  engine_set_option_pair(engine, &BreakProbe::ask, &never);
  EXPECT_EQ(numk_fft(xr.data(), xi.data(), n, 1, 1, n, orr.data(), oi.data(), 0, work.data(),
                     int64_t(work.size()), engine),
            kFftDone);
  EXPECT_EQ(never.calls, 13);
  BreakProbe stop{0, 5};
  engine_set_option_pair(engine, &BreakProbe::ask, &stop);
  xr.assign(n, 1.0);
  xi.assign(n, 0.0);
  EXPECT_EQ(numk_fft(xr.data(), xi.data(), n, 1, 1, n, orr.data(), oi.data(), 0, work.data(),
                     int64_t(work.size()), engine),
            kFftInterrupted);
  EXPECT_EQ(stop.calls, 5);
  // A power of two combines nothing, so it is never asked.
  BreakProbe unused;
  engine_set_option_pair(engine, &BreakProbe::ask, &unused);
  Vec pr(16, 1.0), pi(16, 0.0), qr(16), qi(16);
  EXPECT_EQ(numk_fft(pr.data(), pi.data(), 16, 1, 1, 16, qr.data(), qi.data(), 0, work.data(),
                     int64_t(work.size()), engine),
            kFftDone);
  EXPECT_EQ(unused.calls, 0);
}

TEST(Fft, Radix2PadsShortInput) {
  const Vec in_re = {1, 2, 3}, in_im = {0, 1, 0};
  Vec orr(8), oi(8), yr, yi;
  numk_fft_radix2(in_re.data(), in_im.data(), 3, 1, orr.data(), oi.data(), 8, 1, 0);
  naive_dft({1, 2, 3, 0, 0, 0, 0, 0}, {0, 1, 0, 0, 0, 0, 0, 0}, false, yr, yi);
  for (int k = 0; k < 8; ++k) {
    EXPECT_NEAR(orr[k], yr[k], 1e-14) << k;
    EXPECT_NEAR(oi[k], yi[k], 1e-14) << k;
  }
}

}  // namespace
