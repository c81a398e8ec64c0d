// min, max, find and nnz against models written with explicit subscripts on
// random arrays (1 to 4 dimensions, NaN, complex, single and integer
// classes), the elementwise rules as a table, find's storage order, and every
// error path with the stacks left as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/lib/extremes.h"
#include "support/nd_reference.h"

namespace {

using ndref::NdArray;
const double kNaN = std::nan("");
using D = std::vector<double>;

int first_non_singleton(const std::vector<int32_t>& dims) {
  for (size_t k = 0; k < dims.size(); ++k)
    if (dims[k] > 1) return int(k);
  return 0;
}

// The model of a min/max reduction: values and 1-based positions.
struct Extremes {
  std::vector<int32_t> dims;
  std::vector<double> re, im, pos;
};

Extremes model_extremes(const NdArray& x, int d, bool is_max) {
  Extremes r;
  std::vector<int32_t> rd = x.dims, xd = x.dims;
  if (d < int(rd.size())) rd[size_t(d)] = 1;
  if (d >= int(xd.size())) xd.resize(size_t(d) + 1, 1);
  r.dims = ndref::normal_dims(rd);
  const auto n = size_t(ndref::count_of(rd));
  r.re.assign(n, 0);
  r.im.assign(x.cplx() ? n : 0, 0);
  r.pos.assign(n, 0);
  ndref::for_each_subscript(rd, [&](const std::vector<int64_t>& s) {
    std::vector<int64_t> at = s;
    at.resize(xd.size(), 0);
    int64_t best = 0;
    auto value = [&](int64_t k, double* re, double* im) {
      at[size_t(d)] = k;
      const auto i = size_t(ndref::storage_index(xd, at));
      *re = x.re[i];
      *im = x.cplx() ? x.im[i] : 0;
    };
    double br, bi;
    value(0, &br, &bi);
    for (int64_t k = 1; k < xd[size_t(d)]; ++k) {
      double vr, vi;
      value(k, &vr, &vi);
      bool take;
      if (!x.cplx()) {
        take = (is_max ? vr > br : vr < br) || (std::isnan(br) && !std::isnan(vr));
      } else if (std::isnan(vr) || std::isnan(vi)) {
        take = false;
      } else {
        const double mb = br * br + bi * bi, mv = vr * vr + vi * vi;
        take = std::isnan(br) || std::isnan(bi) || (is_max ? mv > mb : mv < mb);
      }
      if (take) best = k, br = vr, bi = vi;
    }
    const auto o = size_t(ndref::storage_index(rd, s));
    r.re[o] = br;
    if (x.cplx()) r.im[o] = bi;
    r.pos[o] = double(best + 1);
  });
  return r;
}

class Extreme : public ndref::EngineTest {
 protected:
  enum class Cls { kDouble, kSingle, kInt16 };

  void push_as(const NdArray& x, Cls cls) {
    if (cls == Cls::kDouble) return push(x);
    if (cls == Cls::kSingle) {
      std::vector<float> re(x.re.begin(), x.re.end()), im(x.im.begin(), x.im.end());
      return tv::push_single(c, x.dims, re, im);
    }
    std::vector<int64_t> v;
    for (double e : x.re) v.push_back(int64_t(e));  // integral, no NaN
    tv::push_ints(c, kElemI16, x.dims, v);
  }
};

TEST_F(Extreme, ReductionsAlongEveryDimensionMatchTheModel) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 240; ++round) {
    const Cls cls = Cls(round % 3);
    const bool cplx = cls != Cls::kInt16 && round % 4 == 1;
    NdArray x = ndref::random_array(rng, cplx, 0.15);
    if (cls == Cls::kInt16) {
      for (double& v : x.re) v = std::isnan(v) ? 0 : v * 1000;
    }
    const int nd = int(x.dims.size());
    for (int is_max = 0; is_max < 2; ++is_max) {
      for (int d = -1; d <= nd; ++d) {
        SCOPED_TRACE(::testing::Message() << "round " << round << " dim " << d << " max " << is_max);
        const int dd = d < 0 ? first_non_singleton(x.dims) : d;
        const Extremes want = model_extremes(x, dd, is_max);
        for (int nout = 1; nout <= 2; ++nout) {
          push_as(x, cls);
          int nargin = 1;
          if (d >= 0) {
            tv::push_double(c, {0, 0}, {});
            tv::push_scalar(c, d + 1);
            nargin = 3;
          }
          ASSERT_EQ(run([&] { return bi_min_max(c, is_max, nargin, nout); }, nargin, nout), kOk);
          const tv::Value v = tv::read(c, 0);
          ASSERT_EQ(v.dims, std::vector<uint32_t>(want.dims.begin(), want.dims.end()));
          EXPECT_EQ(v.cls, cls == Cls::kDouble ? "double" : cls == Cls::kSingle ? "single" : "int16");
          EXPECT_EQ(v.cplx, cplx);
          for (size_t i = 0; i < want.re.size(); ++i) {
            const double got = cls == Cls::kInt16 ? double(v.ints[i]) : v.re[i];
            EXPECT_TRUE(ndref::same_value(got, want.re[i])) << i << ": " << got << " vs " << want.re[i];
            if (cplx) { EXPECT_TRUE(ndref::same_value(v.im[i], want.im[i])) << i; }
          }
          if (nout == 2) {
            const tv::Value p = tv::read(c, 1);
            EXPECT_EQ(p.cls, "double");
            EXPECT_EQ(p.re, want.pos);
          }
          clear();
        }
      }
    }
  }
}

TEST_F(Extreme, ElementwiseRules) {
  struct Row {
    double ar, ai, br, bi;  // NaN in ai/bi: that operand is real
    double max_re, max_im, min_re, min_im;
  };
  const double R = kNaN;  // marks a real operand
  const std::vector<Row> rows = {
      {1, R, 3, R, 3, 0, 1, 0},
      {kNaN, R, 3, R, 3, 0, 3, 0},      // NaN loses either side
      {3, R, kNaN, R, 3, 0, 3, 0},
      {kNaN, R, kNaN, R, kNaN, 0, kNaN, 0},
      {0.0, R, -0.0, R, -0.0, 0, -0.0, 0},  // equal values give b
      {-0.0, R, 0.0, R, 0.0, 0, 0.0, 0},
      {3, 4, 0, 5, 0, 5, 0, 5},           // equal moduli: b
      {3, 4, 1, 1, 3, 4, 1, 1},
      {kNaN, 1, 2, 2, 2, 2, 2, 2},        // a NaN part of a gives b
      {1, 1, kNaN, 0, 1, 1, 1, 1},        // a NaN modulus of b never wins
      {3, 4, 5, R, 5, 0, 5, 0},           // one complex: equal moduli give the real one
      {5, R, 3, 4, 5, 0, 5, 0},
      {1, 1, 5, R, 5, 0, 1, 1},
      {kNaN, 1, 5, R, 5, 0, 5, 0},        // a NaN part of the complex one: the real one
  };
  for (const Row& r : rows) {
    for (int is_max = 0; is_max < 2; ++is_max) {
      SCOPED_TRACE(::testing::Message() << r.ar << "," << r.ai << " vs " << r.br << "," << r.bi << " max " << is_max);
      const bool ac = !std::isnan(r.ai), bc = !std::isnan(r.bi);
      if (ac) tv::push_cscalar(c, r.ar, r.ai); else tv::push_scalar(c, r.ar);
      if (bc) tv::push_cscalar(c, r.br, r.bi); else tv::push_scalar(c, r.br);
      ASSERT_EQ(run([&] { return bi_min_max(c, is_max, 2, 1); }, 2, 1), kOk);
      const tv::Value v = tv::read(c);
      EXPECT_EQ(v.cplx, ac || bc);
      EXPECT_TRUE(ndref::same_value(v.re[0], is_max ? r.max_re : r.min_re)) << v.re[0];
      if (v.cplx) { EXPECT_TRUE(ndref::same_value(v.im[0], is_max ? r.max_im : r.min_im)) << v.im[0]; }
      clear();
    }
  }
  // Arrays with a scalar expanded on either side, in the common class.
  tv::push_row(c, {1, kNaN, 5, -2});
  tv::push_scalar(c, 2);
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMax, 2, 1); }, 2, 1), kOk);
  EXPECT_EQ(tv::read(c).re, (std::vector<double>{2, 2, 5, 2}));
  clear();
  tv::push_ints(c, kElemI8, {1, 3}, {-3, 7, 2});
  tv::push_ints(c, kElemI8, {1, 1}, {2});
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMin, 2, 1); }, 2, 1), kOk);
  EXPECT_EQ(tv::read(c).cls, "int8");
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{-3, 2, 2}));
  clear();
  // Unsigned 64-bit values compare as unsigned; int8 with uint16 becomes uint16.
  tv::push_ints(c, kElemU64, {1, 2}, {int64_t(0x8000000000000000u), 1});
  tv::push_ints(c, kElemU64, {1, 2}, {1, 2});
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMax, 2, 1); }, 2, 1), kOk);
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{int64_t(0x8000000000000000u), 2}));
  clear();
  tv::push_ints(c, kElemI8, {1, 1}, {5});
  tv::push_ints(c, kElemU16, {1, 1}, {300});
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMin, 2, 1); }, 2, 1), kOk);
  EXPECT_EQ(tv::read(c).cls, "uint16");
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{5});
  clear();
  // Single with a double: double.
  tv::push_single(c, {1, 2}, {1.5f, 4});
  tv::push_scalar(c, 2);
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMax, 2, 1); }, 2, 1), kOk);
  EXPECT_EQ(tv::read(c).cls, "double");
  EXPECT_EQ(tv::read(c).re, (std::vector<double>{2, 4}));
  clear();
}

TEST_F(Extreme, StatedCornerCases) {
  auto along = [&](std::vector<double> row, int is_max, int nout) {
    tv::push_row(c, row);
    EXPECT_EQ(run([&] { return bi_min_max(c, is_max, 1, nout); }, 1, nout), kOk);
    std::pair<double, double> r{tv::read(c, 0).re[0], nout == 2 ? tv::read(c, 1).re[0] : 0};
    clear();
    return r;
  };
  EXPECT_EQ(along({1, kNaN, 3}, 1, 2), (std::pair<double, double>{3, 3}));
  auto nan_pair = along({kNaN, kNaN}, 1, 2);
  EXPECT_TRUE(std::isnan(nan_pair.first));
  EXPECT_EQ(nan_pair.second, 1);
  EXPECT_EQ(along({2, 5, 5}, 1, 2).second, 2);
  EXPECT_EQ(along({kNaN, 4, 1}, 0, 2), (std::pair<double, double>{1, 3}));
  // max([1 2; 3 4], [], 2) is [2; 4].
  tv::push_double(c, {2, 2}, {1, 2, 3, 4});
  tv::push_double(c, {0, 0}, {});
  tv::push_scalar(c, 2);
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMax, 3, 1); }, 3, 1), kOk);
  EXPECT_EQ(tv::read(c).dims, (std::vector<uint32_t>{2, 1}));
  EXPECT_EQ(tv::read(c).re, (std::vector<double>{2, 4}));
  clear();
  // Along a dimension of length 0 (a 0 x 3 matrix): 0x0 for both outputs,
  // along either dimension.
  for (int dim : {1, 2}) {
    ASSERT_TRUE(desc_room(c));
    stk_claim(c, kKindReal, 0, 3, 0);
    tv::push_double(c, {0, 0}, {});
    tv::push_scalar(c, dim);
    ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMin, 3, 2); }, 3, 2), kOk);
    for (int depth = 0; depth < 2; ++depth) {
      EXPECT_TRUE(tv::read(c, depth).plain);
      EXPECT_EQ(tv::read(c, depth).dims, (std::vector<uint32_t>{0, 0}));
    }
    clear();
  }
  // Characters keep their class.
  tv::push_chars(c, u"zebra");
  ASSERT_EQ(run([&] { return bi_min_max(c, kExtremeMin, 1, 1); }, 1, 1), kOk);
  EXPECT_EQ(tv::read(c).cls, "char");
  EXPECT_EQ(tv::read(c).ints, std::vector<int64_t>{'a'});
  clear();
}

// find's model: positions in storage order, found by walking the subscripts.
std::vector<int64_t> model_found(const NdArray& x) {
  std::vector<int64_t> s;
  ndref::for_each_subscript(x.dims, [&](const std::vector<int64_t>& sub) {
    const int64_t i = ndref::storage_index(x.dims, sub);
    const bool nz = x.re[size_t(i)] != 0 || std::isnan(x.re[size_t(i)]) ||
                    (x.cplx() && (x.im[size_t(i)] != 0 || std::isnan(x.im[size_t(i)])));
    if (nz) s.push_back(i);
  });
  std::sort(s.begin(), s.end());
  return s;
}

TEST_F(Extreme, FindMatchesTheModelInStorageOrder) {
  std::mt19937 rng(5150);
  for (int round = 0; round < 300; ++round) {
    const bool cplx = round % 4 == 3;
    NdArray x = ndref::random_array(rng, cplx, 0.1);
    for (double& v : x.re)
      if (!std::isnan(v) && std::fabs(v) < 2) v = 0;
    const bool matrix = x.dims.size() == 2;
    std::vector<int64_t> found = model_found(x);
    for (int limit : {-1, 0, 1, 2, 5}) {
      for (int last = 0; last < 2; ++last) {
        for (int nout = 1; nout <= (matrix ? 3 : 1); ++nout) {
          SCOPED_TRACE(::testing::Message() << "round " << round << " n " << limit << " last " << last << " outputs " << nout);
          std::vector<int64_t> want = found;
          if (last) std::reverse(want.begin(), want.end());
          if (limit >= 0 && size_t(limit) < want.size()) want.resize(size_t(limit));
          push(x);
          int nargin = 1;
          if (limit != -1 || last) {
            tv::push_scalar(c, limit);
            nargin = 2;
          }
          if (last) {
            tv::push_chars(c, u"last");
            nargin = 3;
          }
          ASSERT_EQ(run([&] { return bi_find(c, nargin, nout); }, nargin, nout), kOk);
          const bool row = matrix && x.dims[0] == 1;
          const std::vector<uint32_t> shape =
              want.empty() ? std::vector<uint32_t>{0, 0}
                           : row ? std::vector<uint32_t>{1, uint32_t(want.size())}
                                 : std::vector<uint32_t>{uint32_t(want.size()), 1};
          const int64_t cols = x.dims[1];
          for (int o = 0; o < nout; ++o) {
            const tv::Value v = tv::read(c, o);
            EXPECT_EQ(v.dims, shape) << "output " << o;
            for (size_t j = 0; j < want.size(); ++j) {
              const int64_t s = want[j];
              if (nout == 1) {
                EXPECT_EQ(v.re[j], double(s + 1));
              } else if (o == 0) {
                EXPECT_EQ(v.re[j], double(s / cols + 1));
              } else if (o == 1) {
                EXPECT_EQ(v.re[j], double(s % cols + 1));
              } else {
                EXPECT_TRUE(ndref::same_value(v.re[j], x.re[size_t(s)]));
                EXPECT_EQ(v.cplx, cplx && !want.empty());
                if (cplx) { EXPECT_TRUE(ndref::same_value(v.im[j], x.im[size_t(s)])); }
              }
            }
          }
          clear();
        }
      }
    }
    // nnz counts the same elements.
    push(x);
    ASSERT_EQ(run([&] { return bi_nnz(c); }, 1, 1), kOk);
    EXPECT_EQ(tv::read(c).re, std::vector<double>{double(found.size())});
    clear();
  }
}

TEST_F(Extreme, FindStatedCasesAndClasses) {
  auto find1 = [&](std::vector<int32_t> dims, std::vector<double> re, std::vector<double> extra_n,
                   const char16_t* dir = nullptr) {
    tv::push_double(c, dims, re);
    for (double n : extra_n) tv::push_scalar(c, n);
    int nargin = 1 + int(extra_n.size());
    if (dir) {
      tv::push_chars(c, dir);
      ++nargin;
    }
    EXPECT_EQ(run([&] { return bi_find(c, nargin, 1); }, nargin, 1), kOk);
    tv::Value v = tv::read(c);
    clear();
    return v;
  };
  EXPECT_EQ(find1({1, 3}, {1, 1, 1}, {2}, u"").re, (std::vector<double>{1, 2}));  // empty text: first
  // With no room for a column as long as the argument, find counts first and
  // pushes only what it found.
  {
    D big(1000, 0.0);
    big[10] = big[500] = big[999] = 1;
    tv::push_row(c, big);
    const uint32_t capacity = c->data_capacity;
    c->data_capacity = uint32_t(c->data_top + 8);
    EXPECT_EQ(run([&] { return bi_find(c, 1, 1); }, 1, 1), kOk);
    c->data_capacity = capacity;
    EXPECT_EQ(tv::read(c).re, (D{11, 501, 1000}));
    clear();
  }
  // Three outputs keep the class: int8 values, logical values, single complex.
  tv::push_ints(c, kElemI8, {2, 2}, {0, -5, 7, 0});
  ASSERT_EQ(run([&] { return bi_find(c, 1, 3); }, 1, 3), kOk);
  EXPECT_EQ(tv::read(c, 0).re, (std::vector<double>{1, 2}));  // rows
  EXPECT_EQ(tv::read(c, 1).re, (std::vector<double>{2, 1}));  // columns
  EXPECT_EQ(tv::read(c, 2).cls, "int8");
  EXPECT_EQ(tv::read(c, 2).ints, (std::vector<int64_t>{-5, 7}));
  clear();
  tv::push_logicals(c, {0, 1, 1});
  ASSERT_EQ(run([&] { return bi_find(c, 1, 3); }, 1, 3), kOk);
  EXPECT_EQ(tv::read(c, 2).cls, "logical");
  EXPECT_EQ(tv::read(c, 2).dims, (std::vector<uint32_t>{1, 2}));
  clear();
  tv::push_single(c, {1, 3}, {0, 0, 2}, {0, 1, 0});
  ASSERT_EQ(run([&] { return bi_find(c, 1, 3); }, 1, 3), kOk);
  EXPECT_EQ(tv::read(c, 2).cls, "single");
  EXPECT_EQ(tv::read(c, 2).re, (std::vector<double>{0, 2}));
  EXPECT_EQ(tv::read(c, 2).im, (std::vector<double>{1, 0}));
  clear();
}

TEST_F(Extreme, ErrorsLeaveTheArgumentsInPlace) {
  struct Case {
    const char* what;
    std::function<int()> setup;
    std::function<int(int)> call;
    int status;
  };
  auto row = [&] { tv::push_row(c, {1, 2, 3}); };
  auto unknown_elements = [&] {
    // A typed array whose element type is not one of the known ones.
    void* p;
    const int32_t dims[2] = {1, 2};
    stk_push_typed_array(c, 2, dims, 1, 0, &p);
    tn::st_u32(item_data(c, 0), 3);
  };
  const std::vector<Case> cases = {
      {"two outputs of the pair form", [&] { row(); row(); return 2; },
       [&](int n) { return bi_min_max(c, kExtremeMax, n, 2); }, kTooManyOutputs},
      {"pair of different shapes", [&] { row(); tv::push_row(c, {1, 2}); return 2; },
       [&](int n) { return bi_min_max(c, kExtremeMax, n, 1); }, kIncompatibleSize},
      {"pair with a list", [&] { row(); stk_make_container(c, 0, 0, nullptr, 0); return 2; },
       [&](int n) { return bi_min_max(c, kExtremeMin, n, 1); }, kWrongArgType},
      {"middle not empty", [&] { row(); tv::push_scalar(c, 1); tv::push_scalar(c, 2); return 3; },
       [&](int n) { return bi_min_max(c, kExtremeMax, n, 1); }, kBadSize},
      {"dimension 0", [&] { row(); tv::push_double(c, {0, 0}, {}); tv::push_scalar(c, 0); return 3; },
       [&](int n) { return bi_min_max(c, kExtremeMax, n, 2); }, kBadDimension},
      {"min of a list", [&] { stk_make_container(c, 0, 0, nullptr, 0); return 1; },
       [&](int n) { return bi_min_max(c, kExtremeMin, n, 1); }, kWrongArgType},
      {"find direction", [&] { row(); tv::push_scalar(c, 1); tv::push_chars(c, u"middle"); return 3; },
       [&](int n) { return bi_find(c, n, 1); }, kUnknownOption},
      {"find direction not text", [&] { row(); tv::push_scalar(c, 1); tv::push_scalar(c, 1); return 3; },
       [&](int n) { return bi_find(c, n, 1); }, kWrongArgType},
      {"find n not integral", [&] { row(); tv::push_scalar(c, 1.5); return 2; },
       [&](int n) { return bi_find(c, n, 1); }, kNonIntegerArg},
      {"find rows of 3 dimensions", [&] { tv::push_double(c, {1, 2, 2}, {1, 0, 1, 1}); return 1; },
       [&](int n) { return bi_find(c, n, 2); }, kBadSize},
      {"find in a list", [&] { stk_make_container(c, 0, 0, nullptr, 0); return 1; },
       [&](int n) { return bi_find(c, n, 1); }, kWrongArgType},
      {"nnz of a list", [&] { stk_make_container(c, 0, 0, nullptr, 0); return 1; },
       [&](int) { return bi_nnz(c); }, kWrongArgType},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const int n = k.setup();
    EXPECT_EQ(run([&] { return k.call(n); }, n, 1), k.status);
    clear();
  }
  // An element type the engine does not know is 12, not a wrong type (the
  // item itself breaks the stack invariants, so it is checked bare).
  for (int fn = 0; fn < 2; ++fn) {
    unknown_elements();
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(fn == 0 ? bi_find(c, 1, 1) : bi_nnz(c), kIllegalError);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    clear();
  }
}

}  // namespace
