// The set functions on a started engine: every function with all its outputs
// against a reference model (linear searches, NaN equal to nothing) on random
// integer-valued data with NaN in several classes and shapes, and on lists of
// strings; mixed classes; errors leave the stacks as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/core/opcodes.h"
#include "engine/lib/sets.h"
#include "support/failure_sweep.h"
#include "support/set_fixture.h"

namespace {

using V = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// --- Reference model ---------------------------------------------------------------------

bool ref_eq(double a, double b) { return a == b; }
bool ref_eq(const std::u16string& a, const std::u16string& b) { return a == b; }
bool ref_less(double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); }
bool ref_less(const std::u16string& a, const std::u16string& b) { return a < b; }

template <class K>
struct Entry {
  K value;
  int origin;  // 0 first operand, 1 second
  int pos;     // 0-based first position in its operand
};

template <class K>
int find_equal(const std::vector<K>& xs, const K& v) {
  for (size_t i = 0; i < xs.size(); ++i)
    if (ref_eq(xs[i], v)) return int(i);
  return -1;
}

// The distinct values of xs with their first positions, in input order.
template <class K>
std::vector<Entry<K>> distinct(const std::vector<K>& xs, int origin) {
  std::vector<Entry<K>> out;
  for (size_t i = 0; i < xs.size(); ++i) {
    bool seen = false;
    for (const auto& e : out) seen = seen || ref_eq(e.value, xs[i]);
    if (!seen) out.push_back({xs[i], origin, int(i)});
  }
  return out;
}

template <class K>
struct Result {
  std::vector<K> c;
  V ia, ib, j;
};

// Sorted by value, ties in the order the entries were made.
template <class K>
Result<K> finish(std::vector<Entry<K>> es) {
  std::stable_sort(es.begin(), es.end(),
                   [](const Entry<K>& x, const Entry<K>& y) { return ref_less(x.value, y.value); });
  Result<K> r;
  for (const auto& e : es) {
    r.c.push_back(e.value);
    if (e.origin == 0) r.ia.push_back(e.pos + 1);
    if (e.origin == 1) r.ib.push_back(e.pos + 1);
  }
  return r;
}

enum class Op { kUnique, kUnion, kIntersect, kSetdiff, kSetxor };

template <class K>
Result<K> reference(Op op, const std::vector<K>& a, const std::vector<K>& b) {
  const auto da = distinct(a, 0), db = distinct(b, 1);
  std::vector<Entry<K>> es;
  switch (op) {
    case Op::kUnique: {
      Result<K> r = finish(da);
      std::vector<Entry<K>> sorted = da;
      std::stable_sort(sorted.begin(), sorted.end(), [](const Entry<K>& x, const Entry<K>& y) {
        return ref_less(x.value, y.value);
      });
      for (size_t k = 0; k < a.size(); ++k)  // the entry of each element: its value's, or its own NaN
        for (size_t q = 0; q < sorted.size(); ++q)
          if (ref_eq(sorted[q].value, a[k]) || sorted[q].pos == int(k)) {
            r.j.push_back(double(q + 1));
            break;
          }
      return r;
    }
    case Op::kUnion:
      es = da;
      for (const auto& e : db)
        if (find_equal(a, e.value) < 0) es.push_back(e);
      return finish(es);
    case Op::kIntersect: {
      Result<K> r;
      for (const auto& e : da)
        if (find_equal(b, e.value) >= 0) es.push_back(e);
      r = finish(es);
      for (const K& v : r.c) r.ib.push_back(find_equal(b, v) + 1);
      return r;
    }
    case Op::kSetdiff:
      for (const auto& e : da)
        if (find_equal(b, e.value) < 0) es.push_back(e);
      return finish(es);
    case Op::kSetxor:
      for (const auto& e : da)
        if (find_equal(b, e.value) < 0) es.push_back(e);
      for (const auto& e : db)
        if (find_equal(a, e.value) < 0) es.push_back(e);
      return finish(es);
  }
  return {};
}

int call(EngineContext* c, Op op, int nargout) {
  switch (op) {
    case Op::kUnique: return bi_unique(c, nargout);
    case Op::kUnion: return bi_union(c, nargout);
    case Op::kIntersect: return bi_intersect(c, nargout);
    case Op::kSetdiff: return bi_setdiff(c, nargout);
    default: return bi_setxor(c, nargout);
  }
}

struct ArrayClass;
struct Shaped;

class Sets : public SetFixture {
 protected:
  void check(const ArrayClass& k, const Shaped& a, const Shaped& b, Op op, int nargout);
  // The values of a numeric result as doubles (integers widened).
  V values(int depth = 0) {
    const tv::Value v = tv::read(c, depth);
    if (!v.re.empty() || v.ints.empty()) return v.re;
    return V(v.ints.begin(), v.ints.end());
  }
  std::vector<uint32_t> dims(int depth = 0) { return tv::read(c, depth).dims; }
};

void expect_same(const V& got, const V& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size(); ++i) {
    if (std::isnan(want[i]))
      EXPECT_TRUE(std::isnan(got[i])) << what << " " << i;
    else
      EXPECT_EQ(got[i], want[i]) << what << " " << i;
  }
}

std::vector<uint32_t> vec_dims(size_t k, bool row) {
  if (k == 0) return {0, 0};
  return row ? std::vector<uint32_t>{1, uint32_t(k)} : std::vector<uint32_t>{uint32_t(k), 1};
}

// --- Worked examples ---------------------------------------------------------------------

// Complex values of one modulus but different values stay apart, and equal
// ones merge even when others of that modulus lie between them in the input.
TEST_F(Sets, ComplexValuesMergeByValue) {
  tv::push_row(c, {1, -1, 1, 0, 0}, {0, 0, 0, 1, 1});
  expect_ok([&] { return bi_unique(c, 3); }, 1, 3);
  const tv::Value b = tv::read(c);
  EXPECT_TRUE(b.cplx);
  expect_same(b.re, {-1, 0, 1}, "re");
  expect_same(b.im, {0, 1, 0}, "im");
  expect_same(values(1), {2, 4, 1}, "i");
  expect_same(values(2), {3, 1, 3, 2, 2}, "j");
  clear();
  tv::push_row(c, {1, 2});
  tv::push_row(c, {2, 1}, {0, 1});  // real with complex: 2 is common
  expect_ok([&] { return bi_intersect(c, 3); }, 2, 3);
  expect_same(tv::read(c).re, {2}, "c");
  expect_same(values(1), {2}, "ia");
  expect_same(values(2), {1}, "ib");
}

// --- Reference checks on random data ------------------------------------------------------

struct ArrayClass {
  const char* name;
  bool nan;  // can hold NaN
  std::function<void(EngineContext*, const std::vector<int32_t>&, const V&)> push;
};

const ArrayClass kArrayClasses[] = {
    {"double", true, [](EngineContext* c, const std::vector<int32_t>& d, const V& v) { tv::push_double(c, d, v); }},
    {"single", true,
     [](EngineContext* c, const std::vector<int32_t>& d, const V& v) {
       tv::push_single(c, d, std::vector<float>(v.begin(), v.end()));
     }},
    {"int16", false,
     [](EngineContext* c, const std::vector<int32_t>& d, const V& v) {
       tv::push_ints(c, kElemI16, d, std::vector<int64_t>(v.begin(), v.end()));
     }},
    {"uint64", false,
     [](EngineContext* c, const std::vector<int32_t>& d, const V& v) {
       tv::push_ints(c, kElemU64, d, std::vector<int64_t>(v.begin(), v.end()));
     }},
    {"char", false,
     [](EngineContext* c, const std::vector<int32_t>& d, const V& v) {
       tv::push_ints(c, kElemU16, d, std::vector<int64_t>(v.begin(), v.end()));
       desc_at(c, 0)[2] = kPayChar;
     }},
    {"logical", false,
     [](EngineContext* c, const std::vector<int32_t>& d, const V& v) {
       std::vector<int64_t> bits;
       for (double x : v) bits.push_back(x != 0 ? 1 : 0);
       tv::push_ints(c, kElemU8, d, bits);
       desc_at(c, 0)[2] = kPayLogical;
     }},
};

struct Shaped {
  std::vector<int32_t> dims;
  V values;
};

using Shapes = std::vector<std::vector<int32_t>>;
const Shapes kSmallShapes = {{0, 0}, {1, 1}, {1, 4}, {1, 7}, {5, 1}, {2, 3}, {3, 2}, {2, 2, 2}};

// Integers below spread, one in nan_every of them NaN where the class holds
// NaN.
Shaped random_array(std::mt19937_64& rng, bool nan, bool logical, const Shapes& shapes = kSmallShapes,
                    int spread = 6, int nan_every = 5) {
  Shaped s;
  s.dims = shapes[rng() % shapes.size()];
  int n = 1;
  for (int32_t d : s.dims) n *= d;
  for (int i = 0; i < n; ++i) {
    double x = double(rng() % spread);
    if (nan && rng() % nan_every == 0) x = kNaN;
    if (logical) x = x >= 2 ? 1 : 0;
    s.values.push_back(x);
  }
  return s;
}

bool is_row(const std::vector<int32_t>& dims) { return dims.size() == 2 && dims[0] == 1; }

// op(a, b) (unique: of a) with nargout outputs, and ismember(a, b), against
// the reference.
void Sets::check(const ArrayClass& k, const Shaped& a, const Shaped& b, Op op, int nargout) {
  k.push(c, a.dims, a.values);
  if (op != Op::kUnique) k.push(c, b.dims, b.values);
  const int nargin = op == Op::kUnique ? 1 : 2;
  const Result<double> want = reference(op, a.values, op == Op::kUnique ? V{} : b.values);
  expect_ok([&] { return call(c, op, nargout); }, nargin, nargout);

  expect_same(values(0), want.c, "c");
  bool row = false;
  if (op == Op::kUnique) row = is_row(a.dims);
  if (op == Op::kSetdiff) row = is_row(a.dims);
  if (op == Op::kUnique && a.values.empty())
    EXPECT_EQ(dims(0), std::vector<uint32_t>(a.dims.begin(), a.dims.end()));
  else
    EXPECT_EQ(dims(0), vec_dims(want.c.size(), row));
  if (nargout >= 2) expect_same(values(1), want.ia, "ia");
  if (nargout >= 3) {
    if (op == Op::kUnique)
      expect_same(values(2), want.j, "j");
    else if (op != Op::kSetdiff)
      expect_same(values(2), want.ib, "ib");
  }
  for (int d = 1; d < nargout; ++d) {
    const auto got = dims(d);
    EXPECT_TRUE(got[0] <= 1) << "index outputs are rows";
  }
  clear();

  // ismember against the same data.
  k.push(c, a.dims, a.values);
  k.push(c, b.dims, b.values);
  expect_ok([&] { return bi_ismember(c); }, 2, 1);
  const tv::Value tf = tv::read(c);
  EXPECT_EQ(tf.cls, "logical");
  for (size_t i = 0; i < a.values.size(); ++i)
    EXPECT_EQ(tf.ints[i], find_equal(b.values, a.values[i]) >= 0 ? 1 : 0) << i;
  clear();
}

TEST_F(Sets, RandomArraysAgainstTheReference) {
  std::mt19937_64 rng(7);
  for (const ArrayClass& k : kArrayClasses) {
    const bool logical = std::string(k.name) == "logical";
    for (int trial = 0; trial < 120; ++trial) {
      SCOPED_TRACE(std::string(k.name) + " trial " + std::to_string(trial));
      const Shaped a = random_array(rng, k.nan, logical), b = random_array(rng, k.nan, logical);
      check(k, a, b, Op(trial % 5), 1 + int(rng() % 3));
    }
  }
}

// Arrays long enough for values repeated many times to be hashed into their
// runs, and values spread wide enough for the hashing to hand over to the
// sort: the same results as the sort alone. Each NaN is a run of its own,
// so they are few.
TEST_F(Sets, LongArraysOfRepeatedValuesAgainstTheReference) {
  const Shapes shapes = {{1, 1500}, {1300, 1}, {30, 50}, {1, 600}};
  std::mt19937_64 rng(11);
  for (const ArrayClass& k : kArrayClasses) {
    const bool logical = std::string(k.name) == "logical";
    for (int trial = 0; trial < 15; ++trial) {
      const int spread = trial % 3 == 0 ? 5 : trial % 3 == 1 ? 150 : 3000;
      SCOPED_TRACE(std::string(k.name) + " trial " + std::to_string(trial));
      const Shaped a = random_array(rng, k.nan, logical, shapes, spread, 60);
      const Shaped b = random_array(rng, k.nan, logical, shapes, spread, 60);
      check(k, a, b, Op(trial % 5), 1 + int(rng() % 3));
    }
  }
}

// Ordered data, which the sorts merge as runs and ismember walks: sorted,
// reversed, a few sorted or reversed stretches, each value twice, periodic,
// all equal; NaN mixed in or not; every class, function and output count.
Shaped ordered_array(std::mt19937_64& rng, bool nan, bool logical, int n) {
  Shaped s = random_array(rng, nan, logical, {{1, n}, {n, 1}}, 1 + int(rng() % 3000), 1000);
  V& v = s.values;
  auto by_value = [](double a, double b) { return ref_less(a, b); };
  switch (rng() % 6) {
    case 0: std::fill(v.begin(), v.end(), v.empty() ? 0 : v[0]); break;
    case 1: {  // each value twice
      std::sort(v.begin(), v.begin() + n / 2, by_value);
      std::copy(v.begin(), v.begin() + n / 2, v.begin() + n / 2);
      break;
    }
    case 2:  // periodic
      for (int k = 0; k < n; ++k) v[k] = logical ? k % 2 : k % 37;
      break;
    default: {  // stretches, each sorted one way or the other
      const int stretches = 1 + int(rng() % 5);
      for (int r = 0, at = 0; r < stretches; ++r) {
        const int len = r + 1 == stretches ? n - at : int(rng() % (n - at + 1));
        std::sort(v.begin() + at, v.begin() + at + len, by_value);
        if (rng() % 2) std::reverse(v.begin() + at, v.begin() + at + len);
        at += len;
      }
    }
  }
  if (nan && rng() % 3 == 0)
    for (int k = 0; k < 3; ++k) v[rng() % n] = kNaN;
  return s;
}

TEST_F(Sets, OrderedArraysAgainstTheReference) {
  std::mt19937_64 rng(13);
  for (const ArrayClass& k : kArrayClasses) {
    const bool logical = std::string(k.name) == "logical";
    for (int trial = 0; trial < 15; ++trial) {
      SCOPED_TRACE(std::string(k.name) + " trial " + std::to_string(trial));
      const Shaped a = ordered_array(rng, k.nan, logical, 1 + int(rng() % 1500));
      // The second operand ordered, random, or a few values.
      const Shaped b = trial % 3 == 0   ? random_array(rng, k.nan, logical)
                       : trial % 3 == 1 ? random_array(rng, k.nan, logical, {{1, 1200}}, 2000, 60)
                                        : ordered_array(rng, k.nan, logical, 1 + int(rng() % 1500));
      check(k, a, b, Op(trial % 5), 1 + int(rng() % 3));
    }
  }
}

TEST_F(Sets, ResultsKeepTheFirstOperandsClass) {
  for (const ArrayClass& k : kArrayClasses) {
    k.push(c, {1, 3}, {3, 1, 3});
    k.push(c, {1, 2}, {0, 1});
    expect_ok([&] { return bi_union(c, 1); }, 2, 1);
    EXPECT_EQ(tv::read(c).cls, k.name);
    clear();
  }
}

std::vector<std::u16string> random_strings(std::mt19937_64& rng) {
  static const std::u16string pool[] = {u"", u"a", u"b", u"ab", u"ba", u"abc", u"\u00e9"};
  std::vector<std::u16string> out(rng() % 7);
  for (auto& s : out) s = pool[rng() % 7];
  return out;
}

TEST_F(Sets, ListsOfStringsAgainstTheReference) {
  std::mt19937_64 rng(11);
  for (int trial = 0; trial < 150; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const auto a = random_strings(rng), b = random_strings(rng);
    const auto op = Op(trial % 5);
    const int nargout = 1 + int(rng() % 3);
    push_list(a, trial % 2 == 0);
    if (op != Op::kUnique) push_list(b, trial % 3 == 0);
    const auto want = reference(op, a, op == Op::kUnique ? std::vector<std::u16string>{} : b);
    expect_ok([&] { return call(c, op, nargout); }, op == Op::kUnique ? 1 : 2, nargout);
    EXPECT_EQ(read_list(0), want.c);
    if (nargout >= 2) expect_same(values(1), want.ia, "ia");
    if (nargout >= 3 && op == Op::kUnique) expect_same(values(2), want.j, "j");
    if (nargout >= 3 && op != Op::kUnique && op != Op::kSetdiff) expect_same(values(2), want.ib, "ib");
    clear();

    push_list(a);
    push_list(b, true);
    expect_ok([&] { return bi_ismember(c); }, 2, 1);
    const tv::Value tf = tv::read(c);
    ASSERT_EQ(tf.ints.size(), a.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(tf.ints[i], find_equal(b, a[i]) >= 0 ? 1 : 0);
    clear();
  }
}

// --- Mixed classes ---------------------------------------------------------------------------

TEST_F(Sets, SecondOperandTakesTheFirstsClass) {
  tv::push_ints(c, kElemI8, {1, 2}, {1, 2});
  tv::push_row(c, {2.7, 3});
  expect_ok([&] { return bi_union(c, 3); }, 2, 3);
  EXPECT_EQ(tv::read(c).cls, "int8");
  expect_same(values(0), {1, 2, 3}, "c");  // 2.7 truncates to 2, which a has
  expect_same(values(1), {1, 2}, "ia");
  expect_same(values(2), {2}, "ib");
  clear();
  // Values of b that meet only after conversion are not in a.
  tv::push_ints(c, kElemI8, {1, 1}, {5});
  tv::push_row(c, {2.2, 2.7});
  expect_ok([&] { return bi_intersect(c, 1); }, 2, 1);
  EXPECT_EQ(values().size(), 0u);
  clear();
  tv::push_row(c, {1, 66});
  tv::push_chars(c, u"B");
  expect_ok([&] { return bi_ismember(c); }, 2, 1);
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{0, 1}));
}

// --- Errors and stack heights ----------------------------------------------------------------

TEST_F(Sets, ErrorsLeaveTheStacks) {
  push_list({u"a"});
  tv::push_row(c, {1});
  expect_error(c, kWrongArgType, [&] { return bi_union(c, 1); });
  expect_error(c, kWrongArgType, [&] { return bi_ismember(c); });
  clear();
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_make_container(c, 1, 0, "f", 1), kOk);
  expect_error(c, kWrongArgType, [&] { return bi_unique(c, 1); });
  tv::push_row(c, {1, 2});
  expect_error(c, kWrongArgType, [&] { return bi_setdiff(c, 2); });
  clear();
  tv::push_chars(c, u"a");
  tv::push_scalar(c, 2);
  ASSERT_EQ(stk_make_container(c, 2, 0, nullptr, 0), kOk);
  expect_error(c, kWrongType, [&] { return bi_unique(c, 3); });
  push_list({u"a"});
  expect_error(c, kWrongType, [&] { return bi_setxor(c, 1); });
  clear();
  tv::push_row(c, {1, 2});
  tv::push_row(c, {3});
  expect_error(c, kTooManyOutputs, [&] { return bi_intersect(c, 4); });

  // Too little room for the scratch, the converted copy or the outputs.
  for (uint32_t room : {0u, 6u, 7u, 9u}) {
    const uint32_t capacity = c->data_capacity;
    c->data_capacity = uint32_t(c->data_top) + room;
    expect_error(c, kDataStackOverflow, [&] { return bi_union(c, 3); });
    c->data_capacity = capacity;
  }
  tv::push_ints(c, kElemI32, {1, 4}, {4, 3, 2, 1});
  tv::push_row(c, {1, 2, 3});
  for (uint32_t room : {2u, 6u, 12u, 18u}) {
    const uint32_t capacity = c->data_capacity;
    c->data_capacity = uint32_t(c->data_top) + room;
    expect_error(c, kDataStackOverflow, [&] { return bi_setxor(c, 3); });
    c->data_capacity = capacity;
  }
  clear();

  // The interpreter binding passes nargin, then nargout, to every set
  // function: the output count is the second, whatever the first says.
  for (int nout = 1; nout <= 3; ++nout) {
    tv::push_row(c, {2, 1, 2});
    expect_ok([&] { return op_sort_sets(c, kOpUnique, 1, nout, 0); }, 1, nout);
    clear();
    for (uint16_t op : {kOpUnion, kOpIntersect, kOpSetdiff, kOpSetxor}) {
      tv::push_row(c, {2, 1, 2});
      tv::push_row(c, {2, 3});
      expect_ok([&] { return op_sort_sets(c, op, 2, nout, 0); }, 2, nout);
      clear();
    }
  }
  tv::push_row(c, {2, 1, 2});
  tv::push_row(c, {2, 1});
  expect_ok([&] { return op_sort_sets(c, kOpIsmember, 0, 0, 0); }, 2, 1);
  EXPECT_EQ(op_sort_sets(c, kOpPlus, 1, 1, 0), kNotSupported);
}

// The 64-bit paths under the failure sweep: every function at every output
// count on short int64 and uint64 operands, with a second operand of the
// same class or a double one converted first; long uint64 operands (ordered,
// hashed as few values, or scrambled), which the sweep costs more, through
// each path once: values alone and with positions. Each room cut word by
// word must fail cleanly or give the result of a run with room.
TEST_F(Sets, SixtyFourBitPathsUnderTheFailureSweep) {
  const int64_t top = std::numeric_limits<int64_t>::max(), bottom = std::numeric_limits<int64_t>::min();
  std::vector<std::vector<int64_t>> lines = {{top, 5, bottom, 5, -1, top - 1, int64_t{1} << 62}};
  std::vector<int64_t> sorted, periodic, scrambled;
  for (int64_t k = 0; k < 1030; ++k) {  // past the length from which runs are hashed
    sorted.push_back((int64_t{1} << 62) + k);
    periodic.push_back(bottom + k % 13);
    scrambled.push_back(top - (k * 389) % 1030);
  }
  lines.insert(lines.end(), {sorted, periodic, scrambled});
  const uint16_t binary[] = {kOpUnion, kOpIntersect, kOpSetdiff, kOpSetxor};
  for (uint32_t type : {uint32_t{kElemI64}, uint32_t{kElemU64}}) {
    for (const auto& x : lines) {
      const bool long_line = x.size() > 100;
      if (long_line && type == kElemI64) continue;
      const std::vector<int64_t> y(x.begin(), x.begin() + int64_t(x.size() + 1) / 2);
      auto push_x = [&] {
        tv::push_ints(c, type, {1, int32_t(x.size())}, x);
        return int(kOk);
      };
      for (int nout = 1; nout <= 3; ++nout) {
        if (long_line && nout == 2) continue;
        EXPECT_TRUE(sweep_rooms(c, push_x, [&] { return op_sort_sets(c, kOpUnique, 1, nout, 0); }))
            << type << " " << x.size() << " unique " << nout;
        for (int second = 0; second < (long_line ? 1 : 2); ++second) {
          auto push_both = [&] {
            push_x();
            if (second == 0)
              tv::push_ints(c, type, {int32_t(y.size()), 1}, y);
            else
              tv::push_row(c, {3, 1, 2});
            return int(kOk);
          };
          for (uint16_t op : binary) {
            if (long_line && op != kOpUnion && op != kOpSetdiff) continue;
            EXPECT_TRUE(sweep_rooms(c, push_both, [&] { return op_sort_sets(c, op, 2, nout, 0); }))
                << type << " " << x.size() << " op " << op << " " << nout << " second " << second;
          }
          if (nout == 1) {
            EXPECT_TRUE(sweep_rooms(c, push_both, [&] { return op_sort_sets(c, kOpIsmember, 2, 1, 0); }))
                << type << " " << x.size() << " ismember second " << second;
          }
        }
      }
    }
  }
}


// The paths of singles and of integers up to 32 bits under the failure
// sweep: sort with its index (the index pushed under the argument's copy,
// two runs merged with their positions, many runs as records), ismember in
// an ordered set read where it lies, the set functions of ordered
// operands, and of one- and two-byte integers through a table of their
// values. Each room cut word by word must fail cleanly or give the result
// of a run with room.
TEST_F(Sets, ClassPathsUnderTheFailureSweep) {
  std::vector<int64_t> ascending, twice, periodic, descending;
  for (int64_t k = 0; k < 600; ++k) {
    ascending.push_back(3 * k - 700);
    twice.push_back(k % 300);
    periodic.push_back(k % 13);
    descending.push_back(900 - 2 * k);
  }
  const std::vector<std::vector<int64_t>> lines = {ascending, twice, periodic, descending};
  const uint16_t binary[] = {kOpUnion, kOpIntersect, kOpSetdiff, kOpSetxor, kOpIsmember};
  for (uint32_t type : {uint32_t{kElemSingle}, uint32_t{kElemI32}, uint32_t{kElemU16}, uint32_t{kElemI8}}) {
    for (const auto& x : lines) {
      auto push = [&](const std::vector<int64_t>& v, int32_t rows) {
        const std::vector<int32_t> dims = {rows, int32_t(v.size()) / rows};
        if (type == kElemSingle)
          tv::push_single(c, dims, std::vector<float>(v.begin(), v.end()));
        else
          tv::push_ints(c, type, dims, v);
      };
      const std::vector<int64_t> y(x.begin(), x.begin() + int64_t(x.size()) / 2);
      auto push_x = [&] {
        push(x, 1);
        return int(kOk);
      };
      auto push_both = [&] {
        push(x, 1);
        push(y, int32_t(y.size()));
        return int(kOk);
      };
      EXPECT_TRUE(sweep_rooms(c, push_x, [&] { return op_sort_sets(c, kOpSort, 1, 2, 0); }))
          << type << " " << x[1] << " sort";
      for (uint16_t op : binary)
        EXPECT_TRUE(sweep_rooms(c, push_both, [&] { return op_sort_sets(c, op, 2, 1, 0); }))
            << type << " " << x[1] << " op " << op;
    }
  }
}

}  // namespace
