// Construction, constants, shape queries and the random generators: the
// first draws worked out by hand, the normal draws against the formula, the
// state round trip, the size-argument forms as tables, and the
// error paths with the stacks left as they were.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <numbers>

#include "engine/core/containers.h"
#include "engine/core/opcodes.h"
#include "engine/lib/array_intrinsics.h"
#include "engine/lib/construct.h"
#include "engine/lib/random.h"
#include "support/nd_reference.h"

namespace {

using D = std::vector<double>;
using U = std::vector<uint32_t>;
const double kNaN = std::nan("");

// A size argument: a scalar, a row, or text.
struct Arg {
  enum { kNum, kRow, kText } kind;
  double v = 0;
  D row;
  std::u16string text;
};
Arg n(double v) { return {Arg::kNum, v, {}, {}}; }
Arg r(D v) { return {Arg::kRow, 0, std::move(v), {}}; }
Arg t(std::u16string s) { return {Arg::kText, 0, {}, std::move(s)}; }

class Construct : public ndref::EngineTest {
 protected:
  void push_args(const std::vector<Arg>& args) {
    for (const Arg& a : args) {
      if (a.kind == Arg::kNum) tv::push_scalar(c, a.v);
      if (a.kind == Arg::kRow) tv::push_double(c, {1, int32_t(a.row.size())}, a.row);
      if (a.kind == Arg::kText) tv::push_chars(c, a.text);
    }
  }
  // Runs fn(nargin) over the arguments; on success returns the result.
  int call(const std::function<int(int)>& fn, const std::vector<Arg>& args, tv::Value* out = nullptr) {
    push_args(args);
    const int nargin = int(args.size());
    const int st = run([&] { return fn(nargin); }, nargin, 1);
    if (st == kOk && out) *out = tv::read(c);
    clear();
    return st;
  }
  double draw_scalar(int sel) {
    tv::Value v;
    EXPECT_EQ(call([&](int k) { return bi_array_ctor(c, sel, k); }, {}, &v), kOk);
    return v.re.at(0);
  }
};

// The generator written out again: lcg * 1664525 + 1013904223, then the
// xorshift 13, 17, 5, the two words combined by XOR and scaled by 2^-32.
struct HandGenerator {
  uint32_t lcg, xs;
  double next() {
    lcg = lcg * 1664525u + 1013904223u;
    xs ^= xs << 13;
    xs ^= xs >> 17;
    xs ^= xs << 5;
    return double(lcg ^ xs) / 4294967296.0;
  }
};

TEST_F(Construct, FirstTenUniformDrawsAreExact) {
  // From the state {0, 1}: the first word is 1013904223 XOR 270369.
  const uint64_t want[10] = {0x3fce3569bf000000, 0x3fd0d60bccc00000, 0x3fd300178b000000,
                             0x3fe715994f600000, 0x3fed957e5a400000, 0x3fe66833aac00000,
                             0x3fdc9317cdc00000, 0x3fe7440863400000, 0x3feecf59f8400000,
                             0x3fcc904637000000};
  EXPECT_EQ(std::bit_cast<uint64_t>(double(1013904223u ^ 270369u) / 4294967296.0), want[0]);
  for (uint64_t w : want) EXPECT_EQ(tv::bits(draw_scalar(kCtorRand)), w);
  // The same ten as one array, after resetting the state.
  tv::Value v;
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRand, k); }, {t(u"seed"), r({0, 1})}, &v), kOk);
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRand, k); }, {n(2), n(5)}, &v), kOk);
  EXPECT_EQ(v.dims, (U{2, 5}));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(tv::bits(v.re[size_t(i)]), want[i]) << i;
  // The normal generator has a record of its own: untouched by all this.
  EXPECT_EQ(c->rng_normal.lcg, 0u);
  EXPECT_EQ(c->rng_normal.xs, 1u);
}

TEST_F(Construct, NormalDrawsFollowTheFormula) {
  HandGenerator g{0, 1};
  tv::Value v;
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRandn, k); }, {n(3), n(4), n(5)}, &v), kOk);
  ASSERT_EQ(v.re.size(), 60u);
  for (double got : v.re) {
    const double u1 = g.next(), u2 = g.next();
    EXPECT_NEAR(got, std::sqrt(-2 * std::log(u1)) * std::sin(2 * std::numbers::pi * u2), 1e-12);
  }
  // A uniform draw of exactly 0 counts as 2^-32: the value stays finite.
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRandn, k); }, {t(u"s"), r({1861099850, 1})}), kOk);
  HandGenerator z{1861099850, 1};
  ASSERT_EQ(z.next(), 0.0);
  const double u2 = z.next();
  const double x = draw_scalar(kCtorRandn);
  EXPECT_TRUE(std::isfinite(x));
  EXPECT_NEAR(x, std::sqrt(-2 * std::log(0x1p-32)) * std::sin(2 * std::numbers::pi * u2), 1e-12);
  // rand_normal draws from the record of its kind.
  c->rng_uniform = {0, 1};
  EXPECT_EQ(tv::bits(rand_normal(c, kRandUniform)), 0x3fce3569bf000000u);
}

TEST_F(Construct, GeneratorStateRoundTrips) {
  tv::Value v;
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRand, k); }, {t(u"seed")}, &v), kOk);
  EXPECT_EQ(v.dims, (U{2, 1}));
  EXPECT_EQ(v.re, (D{0, 1}));
  for (int sel : {kCtorRand, kCtorRandn}) {
    // Words of every size, the high bit included, come back as they went in.
    for (D state : {D{4294967295.0, 3000000000.0}, D{7, 2147483648.0}, D{123456789, 1}}) {
      ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, sel, k); }, {t(u"state"), r(state)}, &v), kOk);
      EXPECT_TRUE(v.plain && v.re.empty());
      ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, sel, k); }, {t(u"state")}, &v), kOk);
      EXPECT_EQ(v.re, state);
      D first;
      for (int i = 0; i < 5; ++i) first.push_back(draw_scalar(sel));
      ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, sel, k); }, {t(u"state")}, &v), kOk);
      const D after = v.re;
      ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, sel, k); }, {t(u"state"), r(state)}), kOk);
      for (int i = 0; i < 5; ++i) EXPECT_EQ(tv::bits(draw_scalar(sel)), tv::bits(first[size_t(i)]));
      ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, sel, k); }, {t(u"state")}, &v), kOk);
      EXPECT_EQ(v.re, after);
    }
  }
  // One word: xs is 1 for rand, 2 for randn.
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRand, k); }, {t(u"seed"), n(7)}), kOk);
  EXPECT_EQ(c->rng_uniform.lcg, 7u);
  EXPECT_EQ(c->rng_uniform.xs, 1u);
  ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, kCtorRandn, k); }, {t(u"x"), n(7)}), kOk);
  EXPECT_EQ(c->rng_normal.lcg, 7u);
  EXPECT_EQ(c->rng_normal.xs, 2u);
  auto rand_call = [&](int k) { return bi_array_ctor(c, kCtorRand, k); };
  EXPECT_EQ(call(rand_call, {t(u"seed"), r({1, 2, 3})}), kBadSize);
  EXPECT_EQ(call(rand_call, {t(u"seed"), n(1), n(2)}), kTooManyInputs);
  EXPECT_EQ(call(rand_call, {t(u"seed"), t(u"x")}), kWrongArgType);
}

TEST_F(Construct, SizeArgumentForms) {
  struct Row {
    int sel;
    std::vector<Arg> args;
    int status;
    const char* cls;  // of the result
    U dims;
    D values;  // storage order; empty: not checked
    bool plain_empty = false;
  };
  const std::vector<Row> rows = {
      {kCtorZeros, {n(3)}, kOk, "double", {3, 3}, D(9, 0)},
      {kCtorZeros, {n(2), n(3), t(u"int8")}, kOk, "int8", {2, 3}, D(6, 0)},
      {kCtorZeros, {n(0), t(u"int8")}, kOk, "double", {0, 0}, {}, true},
      {kCtorZeros, {n(0.5), t(u"int8")}, kOk, "int8", {0, 0}, {}},
      {kCtorZeros, {n(16384)}, kObjectTooLarge, "", {}, {}},
      {kCtorZeros, {r({})}, kOk, "double", {1, 1}, {0}},
      {kCtorZeros, {t(u"uint16")}, kOk, "uint16", {1, 1}, {0}},
      {kCtorZeros, {n(2), t(u"Int8")}, kUnknownOption, "", {}, {}},
      {kCtorOnes, {r({2, 3, 0})}, kOk, "double", {0, 0}, {}, true},
      {kCtorOnes, {n(2), n(-1)}, kOk, "double", {0, 0}, {}, true},
      {kCtorOnes, {r({1, 2}), n(0)}, kOk, "double", {0, 0}, {}, true},  // the last 0 ends the reading
      {kCtorOnes, {n(0), r({1, 2})}, kNonScalarArg, "", {}, {}},
      {kCtorOnes, {r({2, 1, 2})}, kOk, "double", {2, 1, 2}, D(4, 1)},
      {kCtorOnes, {n(2), n(2), t(u"single")}, kOk, "single", {2, 2}, D(4, 1)},
      {kCtorOnes, {n(1), n(2), t(u"uint64")}, kOk, "uint64", {1, 2}, D(2, 1)},
      {kCtorOnes, {r({1e10, 1})}, kObjectTooLarge, "", {}, {}},
      {kCtorOnes, {r(D(17, 1))}, kObjectTooLarge, "", {}, {}},
      {kCtorOnes, {r({50000, 50000})}, kObjectTooLarge, "", {}, {}},
      {kCtorOnes, {n(0.5), n(INFINITY)}, kObjectTooLarge, "", {}, {}},
      {kCtorEye, {n(2), n(3)}, kOk, "double", {2, 3}, {1, 0, 0, 0, 1, 0}},
      {kCtorEye, {n(3), n(2), t(u"int32")}, kOk, "int32", {3, 2}, {1, 0, 0, 1, 0, 0}},
      {kCtorEye, {n(2), n(2), n(2)}, kBadSize, "", {}, {}},
      {kCtorEye, {n(2), n(2), n(0)}, kOk, "double", {0, 0}, {}, true},
      {kCtorRand, {n(2), t(u"single")}, kWrongArgType, "", {}, {}},
      {kCtorCell, {n(2), t(u"int8")}, kWrongArgType, "", {}, {}},
      {kCtorZeros, {n(2), n(3.0)}, kOk, "double", {2, 3}, D(6, 0)},
      {'q', {n(2)}, kIllegalError, "", {}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << char(row.sel) << " with " << row.args.size() << " arguments");
    tv::Value v;
    ASSERT_EQ(call([&](int k) { return bi_array_ctor(c, row.sel, k); }, row.args, &v), row.status);
    if (row.status != kOk) continue;
    EXPECT_EQ(v.cls, row.cls);
    EXPECT_EQ(v.dims, row.dims);
    if (row.plain_empty) { EXPECT_TRUE(v.plain); }
    if (row.values.empty()) continue;
    if (v.cls == "double" || v.cls == "single") {
      EXPECT_EQ(v.re, row.values);
    } else {
      EXPECT_EQ(D(v.ints.begin(), v.ints.end()), row.values);
    }
  }
  // cell(3) is a 3x3 cell of empty matrices; cell(0) an empty cell.
  push_args({n(3)});
  ASSERT_EQ(run([&] { return bi_array_ctor(c, kCtorCell, 1); }, 1, 1), kOk);
  int nd;
  const uint32_t* dims;
  int32_t cells;
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &cells, nullptr), kOk);
  EXPECT_EQ(cells, 9);
  EXPECT_EQ(U(dims, dims + nd), (U{3, 3}));
  clear();
  push_args({n(-2)});
  ASSERT_EQ(run([&] { return bi_array_ctor(c, kCtorCell, 1); }, 1, 1), kOk);
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &cells, nullptr), kOk);
  EXPECT_EQ(cells, 0);
  clear();
}

TEST_F(Construct, LogicalsAndConstants) {
  auto logical = [&](int sel, std::vector<Arg> args, tv::Value* v) {
    return call([&](int k) { return bi_true_false(c, sel, k); }, args, v);
  };
  tv::Value v;
  ASSERT_EQ(logical(kLogicalFalse, {}, &v), kOk);
  EXPECT_EQ(v.cls, "logical");
  EXPECT_EQ(v.ints, std::vector<int64_t>{0});
  ASSERT_EQ(logical(kLogicalTrue, {n(2), n(3)}, &v), kOk);
  EXPECT_EQ(v.dims, (U{2, 3}));
  EXPECT_EQ(v.ints, std::vector<int64_t>(6, 1));
  // A size at most 0 (or NaN among several) gives the 0x0 logical.
  for (std::vector<Arg> args : {std::vector<Arg>{n(2), n(0)}, {n(-3)}, {n(2), n(kNaN)}, {r({2, 0.5})}}) {
    for (int sel : {kLogicalTrue, kLogicalFalse}) {
      ASSERT_EQ(logical(sel, args, &v), kOk);
      EXPECT_FALSE(v.plain);
      EXPECT_EQ(v.cls, "logical");
      EXPECT_EQ(v.dims, (U{0, 0}));
    }
  }
  EXPECT_EQ(logical(kLogicalTrue, {n(16384)}, nullptr), kObjectTooLarge);
  EXPECT_EQ(logical(kLogicalTrue, {r(D(17, 0))}, nullptr), kObjectTooLarge);  // the limit first
  EXPECT_EQ(logical(kLogicalTrue, {t(u"int8")}, nullptr), kWrongArgType);

  auto constant = [&](int sel, std::vector<Arg> args, tv::Value* out) {
    return call([&](int k) { return bi_inf_nan_realmin_realmax(c, sel, k); }, args, out);
  };
  ASSERT_EQ(constant(kConstNaN, {}, &v), kOk);
  EXPECT_EQ(tv::bits(v.re[0]), 0xfff8000000000000u);
  ASSERT_EQ(constant(kConstInf, {n(1), n(2)}, &v), kOk);
  EXPECT_EQ(v.re, (D{INFINITY, INFINITY}));
  ASSERT_EQ(constant(kConstRealmax, {}, &v), kOk);
  EXPECT_EQ(v.re[0], std::ldexp(2.0 - std::ldexp(1.0, -52), 1023));
  ASSERT_EQ(constant(kConstRealmin, {}, &v), kOk);
  EXPECT_EQ(v.re[0], std::ldexp(1.0, -1022));
  ASSERT_EQ(constant(kConstRealmax, {t(u"single")}, &v), kOk);
  EXPECT_EQ(v.cls, "single");
  EXPECT_EQ(v.re[0], double(std::ldexp(2.0f - std::ldexp(1.0f, -23), 127)));
  ASSERT_EQ(constant(kConstRealmin, {n(2), t(u"single")}, &v), kOk);
  EXPECT_EQ(v.re, D(4, double(std::ldexp(1.0f, -126))));
  ASSERT_EQ(constant(kConstNaN, {n(1), t(u"single")}, &v), kOk);
  EXPECT_TRUE(std::isnan(v.re[0]));
  // Empty results keep the class.
  ASSERT_EQ(constant(kConstInf, {n(0), t(u"single")}, &v), kOk);
  EXPECT_EQ(v.cls, "single");
  EXPECT_EQ(v.dims, (U{0, 0}));
  ASSERT_EQ(constant(kConstInf, {n(2), n(0), t(u"double")}, &v), kOk);
  EXPECT_EQ(v.dims, (U{0, 0}));
  EXPECT_EQ(constant(kConstInf, {n(2), t(u"int8")}, nullptr), kUnknownOption);
  EXPECT_EQ(constant('?', {}, nullptr), kIllegalError);
  EXPECT_EQ(constant(kConstInf, {r(D(17, 0))}, nullptr), kObjectTooLarge);

  // eps.
  auto eps = [&](std::vector<Arg> args, tv::Value* out) {
    return call([&](int k) { return bi_eps(c, k); }, args, out);
  };
  ASSERT_EQ(eps({}, &v), kOk);
  EXPECT_EQ(v.re[0], std::ldexp(1.0, -52));
  ASSERT_EQ(eps({r({1, -1, 0, 1024, INFINITY, kNaN})}, &v), kOk);
  EXPECT_EQ(v.re[0], std::ldexp(1.0, -52));
  EXPECT_EQ(v.re[1], -std::ldexp(1.0, -52));
  EXPECT_EQ(v.re[2], std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(v.re[3], std::ldexp(1.0, -42));
  EXPECT_TRUE(std::isnan(v.re[4]) && std::isnan(v.re[5]));
  ASSERT_EQ(eps({t(u"single")}, &v), kOk);
  EXPECT_EQ(v.cls, "single");
  EXPECT_EQ(std::bit_cast<uint32_t>(float(v.re[0])), 0x34000000u);
  EXPECT_EQ(eps({t(u"half")}, nullptr), kUnknownOption);
  tv::push_double(c, {1, 1}, {2}, {5});  // complex: the real part's spacing
  ASSERT_EQ(run([&] { return bi_eps(c, 1); }, 1, 1), kOk);
  EXPECT_FALSE(tv::read(c).cplx);
  EXPECT_EQ(tv::read(c).re, D{std::ldexp(1.0, -51)});
  clear();
  tv::push_single(c, {1, 1}, {1});
  ASSERT_EQ(run([&] { return bi_eps(c, 1); }, 1, 1), kOk);
  EXPECT_EQ(tv::read(c).re, D{std::ldexp(1.0, -23)});
  clear();
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  EXPECT_EQ(run([&] { return bi_eps(c, 1); }, 1, 1), kWrongArgType);
  clear();
}

TEST_F(Construct, ShapeQueries) {
  struct Q {
    const char* what;
    std::function<void()> push;
    U size;
    double length, numel, ndims;
    bool empty;
  };
  auto list_of = [&](int k) {
    for (int i = 0; i < k; ++i) tv::push_scalar(c, i);
    ASSERT_EQ(stk_make_container(c, k, 0, nullptr, 0), kOk);
  };
  const std::vector<Q> rows = {
      {"2x3", [&] { tv::push_double(c, {2, 3}, D(6, 1)); }, {2, 3}, 3, 6, 2, false},
      {"0x3 matrix", [&] { stk_claim(c, kKindReal, 0, 3, 0); }, {0, 3}, 3, 0, 2, true},
      {"2x3x4", [&] { tv::push_double(c, {2, 3, 4}, D(24, 1)); }, {2, 3, 4}, 4, 24, 3, false},
      {"char row", [&] { tv::push_chars(c, u"abcd"); }, {1, 4}, 4, 4, 2, false},
      {"list of 3", [&] { list_of(3); }, {1, 3}, 3, 3, 1, false},
      {"empty list", [&] { list_of(0); }, {0, 0}, 0, 0, 1, true},
      {"structure of 2", [&] {
         tv::push_scalar(c, 1);
         tv::push_scalar(c, 2);
         ASSERT_EQ(stk_make_container(c, 2, 0, "f", 1), kOk);
       }, {1, 2}, 2, 2, 1, false},
      {"2x3 cell", [&] { const int32_t d[2] = {2, 3}; ASSERT_EQ(stk_push_cell_array(c, 2, d), kOk); },
       {2, 3}, 3, 6, 2, false},
      {"empty cell", [&] { const int32_t d[2] = {0, 0}; ASSERT_EQ(stk_push_cell_array(c, 2, d), kOk); },
       {0, 0}, 0, 0, 2, true},
  };
  for (const Q& q : rows) {
    SCOPED_TRACE(q.what);
    auto one = [&](const std::function<int()>& fn) {
      q.push();
      EXPECT_EQ(run(fn, 1, 1), kOk);
      tv::Value v = tv::read(c);
      clear();
      return v;
    };
    tv::Value v = one([&] { return bi_size(c, 1, 1); });
    EXPECT_EQ(v.dims, (U{1, uint32_t(q.size.size())}));
    EXPECT_EQ(v.re, D(q.size.begin(), q.size.end()));
    EXPECT_EQ(one([&] { return bi_length_numel(c, kShapeLength); }).re, D{q.length});
    EXPECT_EQ(one([&] { return bi_length_numel(c, kShapeNumel); }).re, D{q.numel});
    EXPECT_EQ(one([&] { return bi_ndims(c); }).re, D{q.ndims});
    v = one([&] { return bi_isempty(c); });
    EXPECT_EQ(v.cls, "logical");
    EXPECT_EQ(v.ints, std::vector<int64_t>{q.empty});
    // Four outputs, the first on top: beyond the dimensions 1, or 0 when empty.
    q.push();
    ASSERT_EQ(run([&] { return bi_size(c, 1, 4); }, 1, 4), kOk);
    for (int j = 0; j < 4; ++j) {
      const double want = size_t(j) < q.size.size() ? q.size[size_t(j)] : q.numel > 0 ? 1 : 0;
      EXPECT_EQ(tv::read(c, j).re, D{want}) << "output " << j + 1;
    }
    clear();
    for (int d = 1; d <= 5; ++d) {
      q.push();
      tv::push_scalar(c, d);
      ASSERT_EQ(run([&] { return bi_size(c, 2, 1); }, 2, 1), kOk);
      const double want = size_t(d - 1) < q.size.size() ? q.size[size_t(d - 1)] : q.numel > 0 ? 1 : 0;
      EXPECT_EQ(tv::read(c).re, D{want}) << "size(x, " << d << ")";
      clear();
    }
  }
  // size(zeros(0, 3)) with three outputs: 0, 3, 0.
  stk_claim(c, kKindReal, 0, 3, 0);
  ASSERT_EQ(run([&] { return bi_size(c, 1, 3); }, 1, 3), kOk);
  EXPECT_EQ(tv::read(c, 0).re, D{0});
  EXPECT_EQ(tv::read(c, 1).re, D{3});
  EXPECT_EQ(tv::read(c, 2).re, D{0});
  clear();
  // No output: the argument is only removed.
  tv::push_scalar(c, 1);
  ASSERT_EQ(run([&] { return bi_size(c, 1, 0); }, 1, 0), kOk);
  // Errors.
  tv::push_double(c, {2, 3}, D(6, 1));
  tv::push_scalar(c, 0);
  EXPECT_EQ(run([&] { return bi_size(c, 2, 1); }, 2, 1), kBadDimension);
  EXPECT_EQ(run([&] { return bi_size(c, 2, 2); }, 2, 2), kTooManyOutputs);
  clear();
  uint16_t code[1] = {0};
  void* data;
  ASSERT_EQ(stk_push_raw(c, kPayFuncRef, 2, &data), kOk);
  std::memcpy(data, code, 2);
  EXPECT_EQ(run([&] { return bi_size(c, 1, 1); }, 1, 1), kWrongArgType);
  EXPECT_EQ(run([&] { return bi_ndims(c); }, 1, 1), kWrongArgType);
  EXPECT_EQ(run([&] { return bi_length_numel(c, kShapeNumel); }, 1, 1), kWrongArgType);
  EXPECT_EQ(run([&] { return bi_isempty(c); }, 1, 1), kWrongArgType);
  clear();
}

TEST_F(Construct, ComplexRealImagMagicAndLiterals) {
  tv::Value v;
  // complex(1, 0) is complex; a scalar expands; the imaginary parts of the
  // arguments are ignored; an int8 argument is read as double.
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 0);
  ASSERT_EQ(run([&] { return bi_complex(c); }, 2, 1), kOk);
  EXPECT_TRUE(tv::read(c).cplx);
  clear();
  tv::push_double(c, {1, 3}, {1, 2, 3}, {9, 9, 9});
  tv::push_ints(c, kElemI8, {1, 1}, {-4});
  ASSERT_EQ(run([&] { return bi_complex(c); }, 2, 1), kOk);
  v = tv::read(c);
  EXPECT_EQ(v.re, (D{1, 2, 3}));
  EXPECT_EQ(v.im, (D{-4, -4, -4}));
  // real and imag of that, in place.
  ASSERT_EQ(run([&] { return bi_imag(c); }, 1, 1), kOk);
  EXPECT_FALSE(tv::read(c).cplx);
  EXPECT_EQ(tv::read(c).re, (D{-4, -4, -4}));
  ASSERT_EQ(run([&] { return bi_imag(c); }, 1, 1), kOk);
  EXPECT_EQ(tv::read(c).re, (D{0, 0, 0}));
  clear();
  tv::push_double(c, {1, 2, 2}, {1, 2, 3, 4}, {5, 6, 7, 8});
  ASSERT_EQ(run([&] { return bi_real(c); }, 1, 1), kOk);
  EXPECT_EQ(tv::read(c).re, (D{1, 2, 3, 4}));
  EXPECT_FALSE(tv::read(c).cplx);
  clear();
  tv::push_double(c, {1, 2, 2}, {1, 2, 3, 4}, {5, 6, 7, 8});
  ASSERT_EQ(run([&] { return bi_imag(c); }, 1, 1), kOk);
  EXPECT_EQ(tv::read(c).re, (D{5, 6, 7, 8}));
  clear();
  tv::push_row(c, {1, 2});
  tv::push_row(c, {1, 2, 3});
  EXPECT_EQ(run([&] { return bi_complex(c); }, 2, 1), kIncompatibleSize);
  clear();
  tv::push_ints(c, kElemI8, {1, 1}, {1});
  EXPECT_EQ(run([&] { return bi_imag(c); }, 1, 1), kWrongArgType);
  clear();
  ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk);
  EXPECT_EQ(run([&] { return bi_real(c); }, 1, 1), kWrongArgType);
  clear();

  // magic: magic(0) is empty; the squares themselves are the numerical library's.
  ASSERT_EQ(call([&](int) { return bi_magic(c); }, {n(0)}, &v), kOk);
  EXPECT_EQ(v.dims, (U{0, 0}));
  EXPECT_EQ(call([&](int) { return bi_magic(c); }, {n(16384)}), kObjectTooLarge);
  EXPECT_EQ(call([&](int) { return bi_magic(c); }, {r({3, 3})}), kWrongArgType);
  EXPECT_EQ(call([&](int) { return bi_magic(c); }, {n(16383)}), kDataStackOverflow);

  // Typed literals from one code word.
  struct Lit {
    int opcode;
    int32_t word;
    const char* cls;
    int64_t value;
  };
  const Lit lits[] = {
      {kOpPushSmallInt8, 0x1ff, "int8", -1},         {kOpPushSmallInt16, -2, "int16", -2},
      {kOpPushSmallInt32, -3, "int32", -3},          {kOpPushSmallUint8, 0x1ff, "uint8", 255},
      {kOpPushSmallUint16, -1, "uint16", 65535},     {kOpPushSmallUint32, -1, "uint32", 4294967295},
      {kOpPushSmallInt64, -5, "int64", -5},          {kOpPushSmallUint64, -1, "uint64", -1},
      {kOpPushInt32, -70000, "int32", -70000},       {kOpPushUint32, 70000, "uint32", 70000},
  };
  for (const Lit& l : lits) {
    ASSERT_EQ(run([&] { return op_typed_scalar(c, l.opcode, l.word); }, 0, 1), kOk);
    v = tv::read(c);
    EXPECT_EQ(v.cls, l.cls);
    EXPECT_EQ(v.dims, (U{1, 1}));
    EXPECT_EQ(v.ints, std::vector<int64_t>{l.value}) << l.cls;
    clear();
  }
  EXPECT_EQ(op_typed_scalar(c, kOpPushDouble, 1), kNotSupported);
}

TEST_F(Construct, EveryOpcodeRowReachesItsBuiltIn) {
  // Each row is unique, names an intrinsic or a literal instruction, and
  // runs: zeros(2) through its adapter.
  std::vector<int> seen(kEngineOpcodeCount, 0);
  for (const ArrayIntrinsic& row : array_intrinsics()) {
    ASSERT_LT(row.opcode, kEngineOpcodeCount);
    EXPECT_EQ(seen[row.opcode]++, 0) << row.opcode;
    ASSERT_NE(row.fn, nullptr);
  }
  for (const ArrayIntrinsic& row : array_intrinsics()) {
    if (row.opcode != kOpZeros) continue;
    tv::push_scalar(c, 2);
    ASSERT_EQ(run([&] { return row.fn(c, row.selector, 1, 1, 0); }, 1, 1), kOk);
    EXPECT_EQ(tv::read(c).dims, (U{2, 2}));
    clear();
  }
}

}  // namespace
