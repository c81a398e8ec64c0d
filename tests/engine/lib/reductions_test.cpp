// Reductions and accumulations against models written with explicit
// subscripts: random real and complex arrays of 1 to 4 dimensions with NaN,
// every dimension (and one past the last, and the default), then the Part's
// corner cases and every error path with the stacks left as they were.
#include <gtest/gtest.h>

#include <complex>
#include <random>

#include "engine/lib/reductions.h"
#include "support/nd_reference.h"

namespace {

using ndref::NdArray;
using Cx = std::complex<double>;
using Line = std::vector<Cx>;

// The model of a reduction along d (0-based): every line's values gathered
// by subscripts, reduced by f into one element of the result.
NdArray model_reduce(const NdArray& x, int d, const std::function<Cx(const Line&)>& f, bool cplx) {
  NdArray r;
  std::vector<int32_t> rd = x.dims;
  if (d < int(rd.size())) rd[d] = 1;
  r.dims = ndref::normal_dims(rd);
  const int64_t len = d < int(x.dims.size()) ? x.dims[d] : 1;
  r.re.assign(size_t(r.count()), 0);
  if (cplx) r.im.assign(size_t(r.count()), 0);
  std::vector<int32_t> full = rd;  // subscripts over the result, in x's rank
  ndref::for_each_subscript(full, [&](const std::vector<int64_t>& s) {
    Line line;
    std::vector<int64_t> at = s;
    if (d >= int(at.size())) at.resize(size_t(d) + 1, 0);
    std::vector<int32_t> xd = x.dims;
    if (d >= int(xd.size())) xd.resize(size_t(d) + 1, 1);
    for (int64_t k = 0; k < len; ++k) {
      at[size_t(d)] = k;
      const int64_t i = ndref::storage_index(xd, at);
      line.push_back({x.re[size_t(i)], x.cplx() ? x.im[size_t(i)] : 0.0});
    }
    const Cx v = f(line);
    const int64_t o = ndref::storage_index(full, s);
    r.re[size_t(o)] = v.real();
    if (cplx) r.im[size_t(o)] = v.imag();
  });
  return r;
}

int first_non_singleton(const NdArray& x) {
  for (size_t k = 0; k < x.dims.size(); ++k)
    if (x.dims[k] > 1) return int(k);
  return 0;
}

Cx line_sum(const Line& l) {
  double r = 0, i = 0;
  for (const Cx& v : l) r += v.real(), i += v.imag();
  return {r, i};
}
Cx line_prod(const Line& l) {
  double pr = 1, pi = 0;
  for (const Cx& v : l) {
    const double nr = pr * v.real() - pi * v.imag();
    pi = pr * v.imag() + pi * v.real();
    pr = nr;
  }
  return {pr, pi};
}
Cx line_real_prod(const Line& l) {
  double p = 1;
  for (const Cx& v : l) p *= v.real();
  return p;
}
Cx line_mean(const Line& l) { return line_sum(l) / double(l.size()); }
double line_var(const Line& l, bool by_n) {
  const Cx m = line_mean(l);
  double q = 0;
  for (const Cx& v : l) q += std::norm(v - m);
  return q / (by_n ? double(l.size()) : double(l.size()) - 1);
}
Cx central(const Line& l, int k) {
  const Cx m = line_mean(l);
  Cx q = 0;
  for (const Cx& v : l) {
    Cx p = 1;  // by repeated products, so NaN parts spread as they would by hand
    for (int j = 0; j < k; ++j) p *= v - m;
    q += p;
  }
  return q / double(l.size());
}
double rcentral(const Line& l, int k) {
  double s = 0;
  for (const Cx& v : l) s += v.real();
  const double m = s / double(l.size());
  double q = 0;
  for (const Cx& v : l) q += std::pow(v.real() - m, k);
  return q / double(l.size());
}

class Reductions : public ndref::EngineTest {
 protected:
  // Runs sel over x (with dim d + 1 when d >= 0, after the extra arguments).
  tv::Value reduce(int sel, const NdArray& x, int d, std::vector<double> extra = {}) {
    push(x);
    for (double e : extra) tv::push_scalar(c, e);
    if (d >= 0) tv::push_scalar(c, d + 1);
    const int nargin = 1 + int(extra.size()) + (d >= 0 ? 1 : 0);
    EXPECT_EQ(run([&] { return bi_sum_prod_stats(c, sel, nargin); }, nargin, 1), kOk);
    tv::Value v = tv::read(c);
    stk_drop(c);
    return v;
  }

  void expect_equal(const tv::Value& got, const NdArray& want, bool exact, const char* what) {
    ASSERT_EQ(got.dims, std::vector<uint32_t>(want.dims.begin(), want.dims.end())) << what;
    ASSERT_EQ(got.re.size(), want.re.size()) << what;
    ASSERT_EQ(got.cplx, want.cplx()) << what;
    for (size_t i = 0; i < want.re.size(); ++i) {
      if (exact) {
        EXPECT_TRUE(ndref::same_value(got.re[i], want.re[i])) << what << " re " << i << ": " << got.re[i] << " vs " << want.re[i];
        if (want.cplx()) { EXPECT_TRUE(ndref::same_value(got.im[i], want.im[i])) << what << " im " << i; }
      } else {
        EXPECT_TRUE(ndref::near_value(got.re[i], want.re[i])) << what << " re " << i << ": " << got.re[i] << " vs " << want.re[i];
        if (want.cplx()) { EXPECT_TRUE(ndref::near_value(got.im[i], want.im[i])) << what << " im " << i; }
      }
    }
  }
};

TEST_F(Reductions, EveryStatisticAlongEveryDimensionMatchesTheModel) {
  std::mt19937 rng(20260101);
  for (int round = 0; round < 160; ++round) {
    const bool cplx = round % 3 == 2;
    const NdArray x = ndref::random_array(rng, cplx);
    const int nd = int(x.dims.size());
    for (int d = -1; d <= nd; ++d) {
      const int dd = d < 0 ? first_non_singleton(x) : d;
      SCOPED_TRACE(::testing::Message() << "round " << round << " dim " << d);
      // sum, prod and mean along a named dimension of size 1 return x as it is.
      const bool unchanged = d >= 0 && (d >= nd || x.dims[size_t(d)] == 1);
      auto simple = [&](Cx (*f)(const Line&)) { return unchanged ? x : model_reduce(x, dd, f, cplx); };
      expect_equal(reduce(kStatSum, x, d), simple(line_sum), true, "sum");
      expect_equal(reduce(kStatProd, x, d), simple(cplx ? line_prod : line_real_prod), true, "prod");
      expect_equal(reduce(kStatMean, x, d), simple(line_mean), true, "mean");
      // var and std: the optional flag, then the dimension.
      for (int flag = 0; flag < 2; ++flag) {
        auto var = [&](const Line& l) { return Cx(line_var(l, flag)); };
        auto sd = [&](const Line& l) { return Cx(std::sqrt(line_var(l, flag))); };
        const std::vector<double> fl = {double(flag)};
        expect_equal(reduce(kStatVar, x, d, fl), model_reduce(x, dd, var, false), false, "var");
        expect_equal(reduce(kStatStd, x, d, fl), model_reduce(x, dd, sd, false), false, "std");
      }
      if (d < 0) expect_equal(reduce(kStatVar, x, -1), model_reduce(x, dd, [](const Line& l) { return Cx(line_var(l, false)); }, false), false, "var()");
      for (int k = 0; k <= 4; ++k) {
        auto mom = [&](const Line& l) { return cplx ? central(l, k) : Cx(rcentral(l, k)); };
        SCOPED_TRACE(::testing::Message() << "order " << k);
        expect_equal(reduce(kStatMoment, x, d, {double(k)}), model_reduce(x, dd, mom, cplx), false, "moment");
      }
      auto skew = [&](const Line& l) {
        if (!cplx) return Cx(rcentral(l, 3) / std::pow(rcentral(l, 2), 1.5));
        const Cx m2 = central(l, 2);
        return central(l, 3) / std::sqrt(m2 * m2 * m2);
      };
      auto kurt = [&](const Line& l) {
        if (!cplx) return Cx(rcentral(l, 4) / (rcentral(l, 2) * rcentral(l, 2)));
        const Cx m2 = central(l, 2);
        return central(l, 4) / (m2 * m2);
      };
      expect_equal(reduce(kStatSkewness, x, d), model_reduce(x, dd, skew, cplx), false, "skewness");
      expect_equal(reduce(kStatKurtosis, x, d), model_reduce(x, dd, kurt, cplx), false, "kurtosis");
    }
  }
}

TEST_F(Reductions, CumulativeSumsAndProductsMatchTheModelInPlace) {
  std::mt19937 rng(7);
  for (int round = 0; round < 120; ++round) {
    const bool cplx = round % 2 == 1;
    const NdArray x = ndref::random_array(rng, cplx);
    const int nd = int(x.dims.size());
    for (int which : {kCumSum, kCumProd}) {
      for (int d = -1; d <= nd; ++d) {
        const int dd = d < 0 ? first_non_singleton(x) : d;
        // Model: every line accumulated by subscripts.
        NdArray want = x;
        if (dd < nd) {
          std::vector<int32_t> rd = x.dims;
          rd[size_t(dd)] = 1;
          ndref::for_each_subscript(rd, [&](const std::vector<int64_t>& s) {
            std::vector<int64_t> at = s, prev = s;
            for (int64_t k = 1; k < x.dims[size_t(dd)]; ++k) {
              at[size_t(dd)] = k;
              prev[size_t(dd)] = k - 1;
              const auto i = size_t(ndref::storage_index(x.dims, at));
              const auto p = size_t(ndref::storage_index(x.dims, prev));
              if (which == kCumSum) {
                want.re[i] = want.re[p] + want.re[i];
                if (cplx) want.im[i] = want.im[p] + want.im[i];
              } else if (cplx) {
                const double pr = want.re[p], pi = want.im[p], a = want.re[i], b = want.im[i];
                want.re[i] = pr * a - pi * b;
                want.im[i] = pr * b + pi * a;
              } else {
                want.re[i] = want.re[p] * want.re[i];
              }
            }
          });
        }
        push(x);
        if (d >= 0) tv::push_scalar(c, d + 1);
        const int nargin = d >= 0 ? 2 : 1;
        ASSERT_EQ(run([&] { return bi_cumsum_cumprod(c, which, nargin); }, nargin, 1), kOk);
        expect_equal(tv::read(c), want, true, which == kCumSum ? "cumsum" : "cumprod");
        stk_drop(c);
      }
    }
  }
}

TEST_F(Reductions, AnyAndAllMatchTheModelOverDoublesAndIntegers) {
  std::mt19937 rng(99);
  for (int round = 0; round < 120; ++round) {
    const bool cplx = round % 3 == 1;
    NdArray x = ndref::random_array(rng, cplx, 0.1);
    for (double& v : x.re)  // mostly zeros, so lines of every outcome occur
      if (!std::isnan(v) && std::fabs(v) < 3) v = 0;
    for (double& v : x.im)
      if (!std::isnan(v) && std::fabs(v) < 4) v = 0;
    const bool as_int = round % 3 == 2;  // the same values as an int16 array
    const int nd = int(x.dims.size());
    for (int which : {kReduceAny, kReduceAll}) {
      for (int d = -1; d <= nd; ++d) {
        const int dd = d < 0 ? first_non_singleton(x) : d;
        auto truth = [&](const Line& l) {
          bool r = which == kReduceAll;
          for (const Cx& v : l) {
            const bool t = as_int ? !std::isnan(v.real()) && v.real() != 0 : (v.real() != 0 || v.imag() != 0);
            r = which == kReduceAll ? r && t : r || t;
          }
          return Cx(r);
        };
        const NdArray want = model_reduce(x, dd, truth, false);
        if (as_int) {
          std::vector<int64_t> ints;
          for (double v : x.re) ints.push_back(std::isnan(v) ? 0 : int64_t(v));
          tv::push_ints(c, kElemI16, x.dims, ints);
        } else {
          push(x);
        }
        if (d >= 0) tv::push_scalar(c, d + 1);
        const int nargin = d >= 0 ? 2 : 1;
        ASSERT_EQ(run([&] { return bi_any_all(c, which, nargin); }, nargin, 1), kOk);
        const tv::Value got = tv::read(c);
        stk_drop(c);
        EXPECT_EQ(got.cls, "logical");
        ASSERT_EQ(got.dims, std::vector<uint32_t>(want.dims.begin(), want.dims.end()));
        for (size_t i = 0; i < want.re.size(); ++i) EXPECT_EQ(double(got.ints[i]), want.re[i]) << i;
      }
    }
  }
}

TEST_F(Reductions, TheStatedCornerCases) {
  auto scalar = [&](int sel, std::vector<int32_t> dims, std::vector<double> re, std::vector<double> extra) {
    tv::push_double(c, dims, re);
    for (double e : extra) tv::push_scalar(c, e);
    const int nargin = 1 + int(extra.size());
    EXPECT_EQ(run([&] { return bi_sum_prod_stats(c, sel, nargin); }, nargin, 1), kOk);
    tv::Value v = tv::read(c);
    stk_drop(c);
    return v;
  };
  // Empty arguments: 0, 1, NaN; with a dimension the plain 0x0.
  EXPECT_EQ(scalar(kStatSum, {0, 0}, {}, {}).re, std::vector<double>{0});
  EXPECT_EQ(scalar(kStatProd, {0, 0}, {}, {}).re, std::vector<double>{1});
  EXPECT_TRUE(std::isnan(scalar(kStatMean, {0, 0}, {}, {}).re[0]));
  EXPECT_TRUE(std::isnan(scalar(kStatMoment, {0, 0}, {}, {2}).re[0]));
  tv::Value e = scalar(kStatSum, {0, 0}, {}, {1});
  EXPECT_TRUE(e.plain);
  EXPECT_EQ(e.dims, (std::vector<uint32_t>{0, 0}));
  // sum([1 2; 3 4]) is [4 6]; along 2 [3; 7]; a row along 1 and a scalar along 3 unchanged.
  tv::Value s = scalar(kStatSum, {2, 2}, {1, 2, 3, 4}, {});
  EXPECT_EQ(s.dims, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(s.re, (std::vector<double>{4, 6}));
  s = scalar(kStatSum, {2, 2}, {1, 2, 3, 4}, {2});
  EXPECT_EQ(s.dims, (std::vector<uint32_t>{2, 1}));
  EXPECT_EQ(s.re, (std::vector<double>{3, 7}));
  EXPECT_EQ(scalar(kStatSum, {1, 3}, {1, 2, 3}, {1}).re, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(scalar(kStatSum, {1, 1}, {5}, {3}).re, std::vector<double>{5});
  EXPECT_NEAR(scalar(kStatVar, {1, 4}, {1, 2, 3, 4}, {}).re[0], 5.0 / 3, 1e-15);
  EXPECT_EQ(scalar(kStatVar, {1, 4}, {1, 2, 3, 4}, {1}).re[0], 1.25);
  EXPECT_TRUE(std::isnan(scalar(kStatVar, {1, 1}, {7}, {}).re[0]));
  EXPECT_EQ(scalar(kStatVar, {1, 1}, {7}, {1}).re[0], 0);
  EXPECT_EQ(scalar(kStatStd, {1, 4}, {1, 2, 3, 4}, {1}).re[0], std::sqrt(1.25));
  EXPECT_EQ(scalar(kStatMoment, {1, 4}, {1, 2, 3, 4}, {0}).re[0], 1);
  // A complex argument stays complex through sum even with zero imaginary parts.
  tv::push_double(c, {1, 2}, {1, 2}, {3, -3});
  ASSERT_EQ(run([&] { return bi_sum_prod_stats(c, kStatSum, 1); }, 1, 1), kOk);
  EXPECT_TRUE(tv::read(c).cplx);
  stk_drop(c);

  // any([]) false, all([]) true, whatever the dimension; any([0 NaN]) true.
  for (int which : {kReduceAny, kReduceAll}) {
    tv::push_double(c, {0, 0}, {});
    tv::push_scalar(c, 2);
    ASSERT_EQ(run([&] { return bi_any_all(c, which, 2); }, 2, 1), kOk);
    EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{which == kReduceAll});
    EXPECT_EQ(tv::read(c).cls, "logical");
    stk_drop(c);
  }
  tv::push_row(c, {0, std::nan("")});
  ASSERT_EQ(run([&] { return bi_any_all(c, kReduceAny, 1); }, 1, 1), kOk);
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{1});
  stk_drop(c);
  // cumsum of an empty argument and along a dimension past the last: unchanged.
  tv::push_row(c, {1, 2, 3});
  tv::push_scalar(c, 3);
  ASSERT_EQ(run([&] { return bi_cumsum_cumprod(c, kCumSum, 2); }, 2, 1), kOk);
  EXPECT_EQ(tv::read(c).re, (std::vector<double>{1, 2, 3}));
  stk_drop(c);
}

TEST_F(Reductions, ErrorsLeaveTheArgumentsInPlace) {
  struct Case {
    const char* what;
    std::function<int()> setup;  // pushes the arguments, returns nargin
    std::function<int(int)> call;
    int status;
  };
  auto row = [&] { tv::push_row(c, {1, 2, 3}); };
  const std::vector<Case> cases = {
      {"sum of int8", [&] { tv::push_ints(c, kElemI8, {1, 2}, {1, 2}); return 1; },
       [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }, kWrongArgType},
      {"sum of logical", [&] { tv::push_logicals(c, {1, 1}); return 1; },
       [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }, kWrongArgType},
      {"sum of single", [&] { tv::push_single(c, {1, 2}, {1, 2}); return 1; },
       [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }, kWrongArgType},
      {"dimension 0", [&] { row(); tv::push_scalar(c, 0); return 2; },
       [&](int n) { return bi_sum_prod_stats(c, kStatMean, n); }, kBadDimension},
      {"dimension 1.5", [&] { row(); tv::push_scalar(c, 1.5); return 2; },
       [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }, kNonIntegerArg},
      {"dimension a row", [&] { row(); tv::push_row(c, {1, 2}); return 2; },
       [&](int n) { return bi_sum_prod_stats(c, kStatSum, n); }, kNonScalarArg},
      {"moment order -1", [&] { row(); tv::push_scalar(c, -1); return 2; },
       [&](int n) { return bi_sum_prod_stats(c, kStatMoment, n); }, kArgOutOfRange},
      {"moment without order", [&] { row(); return 1; },
       [&](int n) { return bi_sum_prod_stats(c, kStatMoment, n); }, kWrongArgType},
      {"var flag a row", [&] { row(); tv::push_row(c, {1, 0}); tv::push_scalar(c, 1); return 3; },
       [&](int n) { return bi_sum_prod_stats(c, kStatVar, n); }, kWrongArgType},
      {"unknown selector", [&] { row(); return 1; },
       [&](int n) { return bi_sum_prod_stats(c, 'x', n); }, kIllegalError},
      {"cumsum of char", [&] { tv::push_chars(c, u"ab"); return 1; },
       [&](int n) { return bi_cumsum_cumprod(c, kCumSum, n); }, kWrongArgType},
      {"cumprod dimension 0", [&] { row(); tv::push_scalar(c, 0); return 2; },
       [&](int n) { return bi_cumsum_cumprod(c, kCumProd, n); }, kBadDimension},
      {"any of single", [&] { tv::push_single(c, {1, 1}, {1}); return 1; },
       [&](int n) { return bi_any_all(c, kReduceAny, n); }, kWrongArgType},
      {"all of a list", [&] { stk_make_container(c, 0, 0, nullptr, 0); return 1; },
       [&](int n) { return bi_any_all(c, kReduceAll, n); }, kWrongArgType},
      {"all dimension -2", [&] { row(); tv::push_scalar(c, -2); return 2; },
       [&](int n) { return bi_any_all(c, kReduceAll, n); }, kBadDimension},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const int n = k.setup();
    EXPECT_EQ(run([&] { return k.call(n); }, n, 1), k.status);
    clear();
  }
  // More than 16 dimensions cannot be reduced.
  std::vector<int32_t> dims(17, 1);
  dims.front() = dims.back() = 2;
  tv::push_double(c, dims, {1, 2, 3, 4});
  EXPECT_EQ(run([&] { return bi_sum_prod_stats(c, kStatSum, 1); }, 1, 1), kArgOutOfRange);
  clear();
}

}  // namespace
