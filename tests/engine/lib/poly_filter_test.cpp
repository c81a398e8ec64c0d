// conv, conv2, deconv, filter and addpol called from ZVR code on random
// operands, against reference loops with explicit row-major subscripts (and
// the transposed direct form II written out for filter); then a room sweep
// showing that a failing call leaves the stacks as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/lib/poly_filter.h"
#include "support/typed_values.h"
#include "support/zvr_session.h"

namespace {

using C = std::complex<double>;

// A dense value with explicit subscripts: element (i, j, p) at (p * rows + i) * cols + j.
struct M {
  int rows = 0, cols = 0, pages = 1;
  std::vector<C> v;
  bool cplx = false;
  C& at(int i, int j, int p = 0) { return v[size_t((p * rows + i) * cols + j)]; }
  C at(int i, int j, int p = 0) const { return v[size_t((p * rows + i) * cols + j)]; }
};

M zeros(int r, int c, bool cplx, int pages = 1) { return {r, c, pages, std::vector<C>(size_t(r * c * pages)), cplx}; }

class PolyFilter : public ::testing::Test {
 protected:
  ZvrSession s;
  std::mt19937_64 rng{2026};

  double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
  int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  M random(int r, int c, bool cplx, int pages = 1) {
    M m = zeros(r, c, cplx, pages);
    for (C& x : m.v) x = C(uniform(-1, 1), cplx ? uniform(-1, 1) : 0.0);
    return m;
  }

  static std::string part(const M& m, int p, bool imag) {
    std::string t = "[";
    char buf[40];
    for (int i = 0; i < m.rows; ++i) {
      for (int j = 0; j < m.cols; ++j) {
        std::snprintf(buf, sizeof buf, "%.17g ", imag ? m.at(i, j, p).imag() : m.at(i, j, p).real());
        t += buf;
      }
      if (i + 1 < m.rows) t += "; ";
    }
    return t + "]";
  }
  // ZVR source for the value: a literal, complex(...) and cat(3, ...) as needed.
  static std::string lit(const M& m) {
    auto page = [&](int p) {
      return m.cplx ? "complex(" + part(m, p, false) + ", " + part(m, p, true) + ")" : part(m, p, false);
    };
    if (m.rows * m.cols == 0) return m.rows == 1 ? "zeros(1, 0)" : "[]";
    if (m.pages == 1) return page(0);
    std::string t = "cat(3";
    for (int p = 0; p < m.pages; ++p) t += ", " + page(p);
    return t + ")";
  }

  // Runs the statement, then reads the named variables back.
  std::vector<tv::Value> eval(const std::string& code, std::vector<std::string> names) {
    EXPECT_EQ(s.run(code + "\n"), kOk) << code.substr(0, 300) << "\n" << s.take_output();
    std::vector<tv::Value> out;
    for (const std::string& n : names) {
      EXPECT_EQ(s.push_variable(n.c_str()), kOk) << n;
      out.push_back(tv::read(s.c));
      stk_drop(s.c);
    }
    return out;
  }
  tv::Value eval1(const std::string& expr) { return eval("r_ = " + expr + ";", {"r_"})[0]; }

  // The value read back as M (pages from a third dimension).
  static M as_m(const tv::Value& v) {
    M m;
    m.rows = v.dims.size() > 0 ? int(v.dims[0]) : 0;
    m.cols = v.dims.size() > 1 ? int(v.dims[1]) : 0;
    m.pages = v.dims.size() > 2 ? int(v.dims[2]) : 1;
    m.cplx = v.cplx;
    for (size_t k = 0; k < v.re.size(); ++k) m.v.push_back(C(v.re[k], v.cplx ? v.im[k] : 0.0));
    return m;
  }

  static ::testing::AssertionResult near(const M& got, const M& want, double tol = 1e-12) {
    if (got.rows != want.rows || got.cols != want.cols || got.pages != want.pages)
      return ::testing::AssertionFailure() << "shape " << got.rows << "x" << got.cols << "x" << got.pages << " not "
                                           << want.rows << "x" << want.cols << "x" << want.pages;
    if (got.cplx != want.cplx) return ::testing::AssertionFailure() << "complexity " << got.cplx;
    double scale = 1;
    for (const C& x : want.v) scale = std::max(scale, std::abs(x));
    for (size_t k = 0; k < got.v.size(); ++k)
      if (std::abs(got.v[k] - want.v[k]) > tol * scale)
        return ::testing::AssertionFailure() << "element " << k << ": " << got.v[k] << " not " << want.v[k];
    return ::testing::AssertionSuccess();
  }
};

// conv along dim: vectors are columns (dim 1) or rows (dim 2).
M ref_conv(const M& a, const M& b, int dim) {
  const bool cplx = a.cplx || b.cplx;
  if (dim == 1) {
    const int cols = std::max(a.cols, b.cols);
    M r = zeros(a.rows + b.rows - 1, cols, cplx);
    for (int v = 0; v < cols; ++v)
      for (int i = 0; i < a.rows; ++i)
        for (int j = 0; j < b.rows; ++j) r.at(i + j, v) += a.at(i, a.cols == 1 ? 0 : v) * b.at(j, b.cols == 1 ? 0 : v);
    return r;
  }
  const int rows = std::max(a.rows, b.rows);
  M r = zeros(rows, a.cols + b.cols - 1, cplx);
  for (int v = 0; v < rows; ++v)
    for (int i = 0; i < a.cols; ++i)
      for (int j = 0; j < b.cols; ++j) r.at(v, i + j) += a.at(a.rows == 1 ? 0 : v, i) * b.at(b.rows == 1 ? 0 : v, j);
  return r;
}

TEST_F(PolyFilter, ConvMatchesTheReferenceAlongBothDimensions) {
  for (int trial = 0; trial < 40; ++trial) {
    const int dim = 1 + trial % 2;
    const int la = between(1, 9), lb = between(1, 9), n = between(1, 4);
    const int na = trial % 5 == 0 ? 1 : n, nb = trial % 7 == 0 ? 1 : n;  // one vector against many
    const M a = dim == 1 ? random(la, na, trial % 3 == 1) : random(na, la, trial % 3 == 1);
    const M b = dim == 1 ? random(lb, nb, trial % 4 == 2) : random(nb, lb, trial % 4 == 2);
    // The dimension is implied for two rows; given otherwise.
    const bool implied = a.rows == 1 && b.rows == 1 && dim == 2;
    const std::string call = "conv(" + lit(a) + ", " + lit(b) + (implied ? "" : ", " + std::to_string(dim)) + ")";
    EXPECT_TRUE(near(as_m(eval1(call)), ref_conv(a, b, dim))) << call;
  }
  // Long real vectors take the blocked path; their sums round exactly as the plain loop's.
  for (const auto& [la, lb] : {std::pair{37, 23}, std::pair{8, 100}, std::pair{101, 7}, std::pair{16, 16}}) {
    const M a = random(1, la, false), b = random(1, lb, false), ac = random(la, 1, false);
    EXPECT_TRUE(near(as_m(eval1("conv(" + lit(a) + ", " + lit(b) + ")")), ref_conv(a, b, 2), 0.0));
    EXPECT_TRUE(near(as_m(eval1("conv(" + lit(ac) + ", " + lit(b) + ".')")), ref_conv(ac, M{lb, 1, 1, b.v}, 1), 0.0));
  }
  // Columns by default unless both operands are rows; empty operands give 0 x 0.
  EXPECT_TRUE(near(as_m(eval1("conv([1; 2], [1 3])")), ref_conv({2, 1, 1, {1, 2}}, {1, 2, 1, {1, 3}}, 1)));
  for (const char* e : {"conv([], [1 2])", "conv(zeros(1, 0), [1 2])", "conv([1 2], zeros(3, 0), 2)"}) {
    const tv::Value v = eval1(e);
    EXPECT_EQ(v.dims, (std::vector<uint32_t>{0, 0})) << e;
  }
}

TEST_F(PolyFilter, Conv2MatchesTheReferenceForEveryShape) {
  const std::pair<const char*, int> shapes[] = {{"", 0},   {"'full'", 0}, {"'f'", 0}, {"'same'", 1},
                                                {"'s'", 1}, {"'valid'", 2}, {"'v'", 2}};
  for (int trial = 0; trial < 42; ++trial) {
    const auto& [word, kind] = shapes[trial % 7];
    const M a = random(between(1, 7), between(1, 7), trial % 3 == 0);
    const M k = random(between(1, 4), between(1, 4), trial % 4 == 1);  // odd and even sizes
    int rows = a.rows, cols = a.cols, r0 = 0, c0 = 0;
    if (kind == 0) rows = a.rows + k.rows - 1, cols = a.cols + k.cols - 1, r0 = 1 - k.rows, c0 = 1 - k.cols;
    if (kind == 1) r0 = -(k.rows / 2), c0 = -(k.cols / 2);
    if (kind == 2) rows = a.rows - k.rows + 1, cols = a.cols - k.cols + 1;
    M want = zeros(std::max(rows, 0), std::max(cols, 0), a.cplx || k.cplx);
    if (rows < 1 || cols < 1) want = zeros(0, 0, false);
    for (int i = 0; i < want.rows; ++i)
      for (int j = 0; j < want.cols; ++j)
        for (int p = 0; p < k.rows; ++p)
          for (int q = 0; q < k.cols; ++q) {
            const int ai = i + r0 + p, aj = j + c0 + q;
            if (ai >= 0 && ai < a.rows && aj >= 0 && aj < a.cols) want.at(i, j) += a.at(ai, aj) * k.at(k.rows - 1 - p, k.cols - 1 - q);
          }
    const std::string call = "conv2(" + lit(a) + ", " + lit(k) + (*word ? std::string(", ") + word : "") + ")";
    EXPECT_TRUE(near(as_m(eval1(call)), want)) << call;
  }
  // An empty operand leaves A as it is.
  EXPECT_TRUE(near(as_m(eval1("conv2([1 2; 3 4], [], 'valid')")), {2, 2, 1, {1, 2, 3, 4}}));
}

TEST_F(PolyFilter, DeconvUndoesConv) {
  for (int trial = 0; trial < 40; ++trial) {
    const int nb = between(1, 6), na = between(0, 12);
    M b = random(1, nb, trial % 3 == 0);
    b.at(0, 0) = C(between(0, 1) ? 2.0 : -2.0, b.cplx ? 0.5 : 0.0);
    const bool column = trial % 2 == 1;
    M a = column ? random(na, 1, trial % 4 == 1) : random(1, na, trial % 4 == 1);
    const auto out = eval("[q_, r_] = deconv(" + lit(a) + ", " + lit(b) + ");", {"q_", "r_"});
    const M q = as_m(out[0]), r = as_m(out[1]);
    const int nq = std::max(na - nb + 1, 0);
    ASSERT_EQ(q.rows * q.cols, nq);
    ASSERT_EQ(r.rows * r.cols, nb - 1);
    if (nq > 0) {
      EXPECT_EQ(column ? q.cols : q.rows, 1);
    }
    EXPECT_EQ(q.cplx || r.cplx, (a.cplx || b.cplx) && (nq > 0 || nb > 1));
    // a = conv(b, q) + r aligned right.
    std::vector<C> back(size_t(std::max(na, nb - 1)));
    for (int i = 0; i < nb; ++i)
      for (int j = 0; j < nq; ++j) back[size_t(i + j)] += b.v[size_t(i)] * q.v[size_t(j)];
    for (int k = 0; k < nb - 1; ++k) back[back.size() - size_t(nb - 1) + size_t(k)] += r.v[size_t(k)];
    for (size_t k = 0; k < back.size(); ++k) {
      const C want = k + size_t(na) >= back.size() ? a.v[k + size_t(na) - back.size()] : C(0);
      EXPECT_LE(std::abs(back[k] - want), 1e-12 * 4) << trial << " at " << k;
    }
  }
  const auto one = eval("q1_ = deconv([1 5 6], [1 2]);", {"q1_"});
  EXPECT_EQ(one[0].re, (std::vector<double>{1, 3}));
}

// Transposed direct form II with complex arithmetic, along one vector.
void ref_filter_line(std::vector<C> b, std::vector<C> a, const std::vector<C>& x, std::vector<C>& z, std::vector<C>& y) {
  const size_t n = std::max(a.size(), b.size()) - 1;
  b.resize(n + 1);
  a.resize(n + 1);
  const C a0 = a[0];
  for (C& v : b) v /= a0;
  for (C& v : a) v /= a0;
  z.resize(n);
  y.assign(x.size(), 0.0);
  for (size_t t = 0; t < x.size(); ++t) {
    y[t] = b[0] * x[t] + (n ? z[0] : 0.0);
    for (size_t i = 0; i < n; ++i) z[i] = b[i + 1] * x[t] + (i + 1 < n ? z[i + 1] : 0.0) - a[i + 1] * y[t];
  }
}

TEST_F(PolyFilter, FilterMatchesTheDirectFormAlongEveryDimension) {
  for (int trial = 0; trial < 48; ++trial) {
    const int lb = between(1, 5), la = between(1, 5);
    const int acase = trial % 3;  // a(1) = 1, a(1) = 2, complex a
    M b = random(1, lb, trial % 5 == 0), a = random(1, la, acase == 2);
    a.at(0, 0) = acase == 0 ? C(1) : acase == 1 ? C(2) : C(1.5, 0.5);
    const int shape = trial % 4;  // row, column, matrix, 3-D
    const bool xc = trial % 6 == 1;
    M x = shape == 0 ? random(1, between(1, 9), xc) : shape == 1 ? random(between(1, 9), 1, xc)
        : shape == 2 ? random(between(2, 5), between(2, 5), xc) : random(2, 3, xc, 4);
    const bool single = trial % 5 == 3;  // the signal rounded to single first
    if (single)
      for (C& e : x.v) e = C(float(e.real()), float(e.imag()));
    const int dim = shape >= 2 ? 1 + (trial / 4) % (shape == 3 ? 3 : 2) : 0;  // 0: default
    const int n = std::max(la, lb) - 1;
    const int d = dim ? dim - 1 : (x.rows > 1 ? 0 : x.cols > 1 ? 1 : 2);
    const int len = d == 0 ? x.rows : d == 1 ? x.cols : x.pages;
    const int vectors = x.rows * x.cols * x.pages / len;
    const bool with_zi = trial % 2 == 0 && n > 0;
    M zi = random(n, vectors, trial % 8 == 0);
    const bool cplx = x.cplx || a.cplx || b.cplx || (with_zi && zi.cplx);
    M y = zeros(x.rows, x.cols, cplx, x.pages), zf = zeros(n, vectors, cplx);
    // The vectors in storage order of the other subscripts.
    int v = 0;
    for (int p = 0; p < (d == 2 ? 1 : x.pages); ++p)
      for (int i = 0; i < (d == 0 ? 1 : x.rows); ++i)
        for (int j = 0; j < (d == 1 ? 1 : x.cols); ++j, ++v) {
          std::vector<C> xs, ys, z(static_cast<size_t>(n));
          for (int t = 0; t < len; ++t) xs.push_back(x.at(d == 0 ? t : i, d == 1 ? t : j, d == 2 ? t : p));
          if (with_zi)
            for (int k = 0; k < n; ++k) z[size_t(k)] = zi.at(k, v);
          ref_filter_line(b.v, a.v, xs, z, ys);
          for (int t = 0; t < len; ++t) y.at(d == 0 ? t : i, d == 1 ? t : j, d == 2 ? t : p) = ys[size_t(t)];
          for (int k = 0; k < n; ++k) zf.at(k, v) = z[size_t(k)];
        }
    std::string call = "[y_, z_] = filter(" + lit(b) + ", " + lit(a) + ", " + (single ? "single(" + lit(x) + ")" : lit(x));
    if (with_zi || dim) call += ", " + (with_zi ? lit(zi) : std::string("[]"));
    if (dim) call += ", " + std::to_string(dim);
    call += ");";
    const auto out = eval(call, {"y_", "z_"});
    const double tol = single ? 1e-6 : 1e-11;
    EXPECT_EQ(out[0].cls, single ? "single" : "double");
    EXPECT_TRUE(near(as_m(out[0]), y, tol)) << call;
    if (n * vectors > 0) {
      EXPECT_EQ(out[1].cls, "double");
      EXPECT_TRUE(near(as_m(out[1]), zf, tol)) << call;
    }
    // One output gives the same y.
    EXPECT_EQ(eval("y1_ = " + call.substr(10), {"y1_"})[0].re, out[0].re);
  }
}

TEST_F(PolyFilter, FilterInChunksEqualsOnePassAndSingleKeepsADoubleState) {
  const M b = random(1, 6, false), x = random(1, 40, false);
  M a = random(1, 4, false);
  a.at(0, 0) = 1;
  M x1 = zeros(1, 17, false), x2 = zeros(1, 23, false);
  for (int t = 0; t < 40; ++t) (t < 17 ? x1.at(0, t) : x2.at(0, t - 17)) = x.at(0, t);
  const auto out = eval("y_ = filter(" + lit(b) + ", " + lit(a) + ", " + lit(x) + "); [y1_, z1_] = filter(" + lit(b) +
                            ", " + lit(a) + ", " + lit(x1) + "); y2_ = filter(" + lit(b) + ", " + lit(a) + ", " +
                            lit(x2) + ", z1_);",
                        {"y_", "y1_", "y2_"});
  std::vector<double> joined = out[1].re;
  joined.insert(joined.end(), out[2].re.begin(), out[2].re.end());
  EXPECT_EQ(joined, out[0].re);  // bit for bit
  // A single signal: each output is the double result rounded once.
  const tv::Value ys = eval1("filter(" + lit(b) + ", " + lit(a) + ", single(" + lit(x) + "))");
  EXPECT_EQ(ys.cls, "single");
  std::vector<C> xs, yd, z;
  for (const C& c : x.v) xs.push_back(C(double(float(c.real()))));
  ref_filter_line(b.v, a.v, xs, z, yd);
  for (size_t t = 0; t < xs.size(); ++t) EXPECT_EQ(float(ys.re[t]), float(yd[t].real())) << t;
}

TEST_F(PolyFilter, AddpolAlignsAtTheBottomRight) {
  for (int trial = 0; trial < 30; ++trial) {
    const M a = random(between(1, 4), between(1, 5), trial % 3 == 0);
    const M b = random(between(1, 4), between(1, 5), trial % 4 == 0);
    M want = zeros(std::max(a.rows, b.rows), std::max(a.cols, b.cols), a.cplx || b.cplx);
    for (const M* m : {&a, &b})
      for (int i = 0; i < m->rows; ++i)
        for (int j = 0; j < m->cols; ++j) want.at(i + want.rows - m->rows, j + want.cols - m->cols) += m->at(i, j);
    EXPECT_TRUE(near(as_m(eval1("addpol(" + lit(a) + ", " + lit(b) + ")")), want));
  }
  EXPECT_EQ(eval1("addpol([1 2 3], [1 1])").re, (std::vector<double>{1, 3, 4}));
  EXPECT_EQ(eval1("addpol([], [1 2])").re, (std::vector<double>{1, 2}));
}

// Codes that ZVR text cannot tell apart or cannot build: an empty row of
// coefficients (ZVR makes every empty 0 x 0) and an integer signal.
TEST_F(PolyFilter, FilterRefusesAnEmptyRowAndAnIntegerSignal) {
  EngineContext* c = s.c;
  const int32_t d0 = c->desc_top;
  stk_claim(c, kKindReal, 1, 0, 0);  // a 1 x 0 row of b
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 1);
  StackSnapshot before = snapshot_stacks(c);
  EXPECT_EQ(bi_filter(c, 3, 1), kBadSize);
  EXPECT_TRUE(before == snapshot_stacks(c));
  while (c->desc_top > d0) stk_drop(c);
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 1);
  tv::push_ints(c, kElemI8, {1, 2}, {1, 2});
  before = snapshot_stacks(c);
  EXPECT_EQ(bi_filter(c, 3, 1), kWrongType);
  EXPECT_TRUE(before == snapshot_stacks(c));
  while (c->desc_top > d0) stk_drop(c);
}

// Each of the five, given room for k data words, k = 0, 1, ...: every
// failure leaves the stacks exactly as they were, and some room succeeds.
TEST_F(PolyFilter, FailuresForLackOfRoomChangeNothing) {
  EngineContext* c = s.c;
  struct Call {
    std::function<int()> run;
    std::function<void()> push;
  };
  const Call calls[] = {
      {[&] { return bi_conv(c, 2); }, [&] { tv::push_row(c, {1, 2, 3}); tv::push_row(c, {1, 2}, {1, 0}); }},
      {[&] { return bi_conv2(c, 3); }, [&] { tv::push_double(c, {2, 2}, {1, 2, 3, 4}); tv::push_row(c, {1, 2}); tv::push_chars(c, u"same"); }},
      {[&] { return bi_deconv(c, 2); }, [&] { tv::push_row(c, {1, 5, 6, 7}); tv::push_row(c, {1, 2}, {1, 1}); }},
      {[&] { return bi_filter(c, 4, 2); }, [&] { tv::push_row(c, {1, 2}); tv::push_row(c, {2, 1}); tv::push_single(c, {1, 3}, {1, 2, 3}); tv::push_row(c, {0.5}); }},
      {[&] { return bi_addpol(c); }, [&] { tv::push_row(c, {1, 2}); tv::push_double(c, {2, 1}, {1, 2}, {3, 4}); }},
      {[&] { return bi_deconv(c, 2); }, [&] { stk_push_empty(c); tv::push_row(c, {1, 2}, {1, 1}); }},
  };
  for (const Call& call : calls) {
    bool done = false;
    for (int k = 0; k < 200 && !done; ++k) {
      const int32_t d0 = c->desc_top, w0 = c->data_top;
      call.push();
      const uint32_t capacity = c->data_capacity;
      const StackSnapshot before = snapshot_stacks(c);
      c->data_capacity = uint32_t(c->data_top + k);
      const int st = call.run();
      c->data_capacity = capacity;
      if (st == kOk) {
        done = true;
      } else {
        EXPECT_EQ(st, kDataStackOverflow);
        EXPECT_TRUE(before == snapshot_stacks(c)) << k;
      }
      EXPECT_TRUE(check_stack_invariants(c, d0, w0));
      while (c->desc_top > d0) stk_drop(c);
    }
    EXPECT_TRUE(done);
  }
}

}  // namespace
