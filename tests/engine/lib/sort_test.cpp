// sort on a started engine: NaN placement, lists of
// strings, and a randomised check over every class, shape, dimension and
// direction (each line sorted, the index reproducing it, equal keys in input
// order) with lines found by explicit subscripts; errors leave the stacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/core/local_queries.h"
#include "engine/core/opcodes.h"
#include "engine/lib/arrays.h"
#include "engine/lib/sets.h"
#include "engine/lib/sort.h"
#include "numlib/shellsort.h"
#include "support/failure_sweep.h"
#include "support/same_doubles.h"
#include "support/set_fixture.h"
#include "support/zvr_session.h"

namespace {

using V = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

class Sort : public SetFixture {
 protected:
  void sort_call(int nargin, int nargout) {
    expect_ok([&] { return bi_sort(c, nargin, nargout); }, nargin, nargout < 0 ? 1 : nargout);
  }
};

TEST_F(Sort, NaNLastAscendingFirstDescending) {
  tv::push_row(c, {3, kNaN, 1});
  sort_call(1, 1);
  expect_same_doubles(tv::read(c).re, {1, 3, kNaN});
  clear();
  tv::push_row(c, {kNaN, 2, kNaN, 5});
  tv::push_chars(c, u"d");
  sort_call(2, 2);
  expect_same_doubles(tv::read(c).re, {kNaN, kNaN, 5, 2});
  expect_same_doubles(tv::read(c, 1).re, {1, 3, 4, 2});
  clear();
  tv::push_single(c, {1, 3}, {3, NAN, 1});
  sort_call(1, 1);
  expect_same_doubles(tv::read(c).re, {1, 3, kNaN});
  clear();
  tv::push_row(c, {kNaN, 1, 0}, {0, 0, kNaN});  // NaN moduli last, in input order
  sort_call(1, 2);
  expect_same_doubles(tv::read(c, 1).re, {2, 1, 3});
}

TEST_F(Sort, ListsOfStrings) {
  push_list({u"b", u"a", u"ab"});
  sort_call(1, 2);
  EXPECT_EQ(read_list(), (std::vector<std::u16string>{u"a", u"ab", u"b"}));
  expect_same_doubles(tv::read(c, 1).re, {2, 3, 1});
  clear();

  // Descending, equal strings in input order; codes compare unsigned, so
  // a character above 0x7fff sorts last.
  push_list({u"x", u"\u9000", u"", u"x", u"xy"}, true);
  tv::push_chars(c, u"descend");
  sort_call(2, 2);
  EXPECT_EQ(read_list(), (std::vector<std::u16string>{u"\u9000", u"xy", u"x", u"x", u""}));
  expect_same_doubles(tv::read(c, 1).re, {2, 5, 1, 4, 3});
  clear();

  push_list({});
  sort_call(1, 2);
  EXPECT_EQ(read_list(), std::vector<std::u16string>{});
  EXPECT_EQ(tv::read(c, 1).re.size(), 0u);
}

TEST_F(Sort, ClassesAndShapesAreKept) {
  tv::push_chars(c, u"hello");
  sort_call(1, 1);
  EXPECT_EQ(tv::read(c).cls, "char");
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{'e', 'h', 'l', 'l', 'o'}));
  clear();
  tv::push_logicals(c, {1, 0, 1, 0});
  tv::push_chars(c, u"descend");
  sort_call(2, 2);
  EXPECT_EQ(tv::read(c).cls, "logical");
  EXPECT_EQ(tv::read(c).ints, (std::vector<int64_t>{1, 1, 0, 0}));
  expect_same_doubles(tv::read(c, 1).re, {1, 3, 2, 4});
  clear();
  tv::push_double(c, {2, 1, 3}, {3, 1, 2, 6, 5, 4});  // pages {3, 1}, {2, 6}, {5, 4}
  tv::push_scalar(c, 3);
  sort_call(2, 2);
  const tv::Value v = tv::read(c), i = tv::read(c, 1);
  EXPECT_EQ(v.dims, (std::vector<uint32_t>{2, 1, 3}));
  EXPECT_FALSE(v.plain);
  expect_same_doubles(v.re, {2, 1, 3, 4, 5, 6});
  EXPECT_EQ(i.dims, v.dims);
  expect_same_doubles(i.re, {2, 1, 1, 3, 3, 2});
  clear();
  tv::push_row(c, {});
  sort_call(1, 2);
  EXPECT_EQ(tv::read(c).re.size(), 0u);
}

// --- Randomised check over every class ------------------------------------------------

struct ClassCase {
  const char* name;
  uint32_t type;  // 0 double, 66 single, else the integer type; char and logical below
  bool cplx;
  int subtype;    // kPayNumeric, kPayChar or kPayLogical
};

const ClassCase kClasses[] = {
    {"double", 0, false, kPayNumeric},   {"complex", 0, true, kPayNumeric},
    {"single", 66, false, kPayNumeric},  {"csingle", 66, true, kPayNumeric},
    {"int8", kElemI8, false, kPayNumeric},   {"uint8", kElemU8, false, kPayNumeric},
    {"int16", kElemI16, false, kPayNumeric}, {"uint16", kElemU16, false, kPayNumeric},
    {"int32", kElemI32, false, kPayNumeric}, {"uint32", kElemU32, false, kPayNumeric},
    {"int64", kElemI64, false, kPayNumeric}, {"uint64", kElemU64, false, kPayNumeric},
    {"char", kElemU16, false, kPayChar},     {"logical", kElemU8, false, kPayLogical},
};

struct Sample {
  std::vector<int32_t> dims;
  std::vector<double> re, im;
  std::vector<int64_t> ints;
};

Sample random_sample(std::mt19937_64& rng, const ClassCase& k) {
  Sample s;
  const int nd = 2 + int(rng() % 3);
  int64_t n = 1;
  for (int d = 0; d < nd; ++d) {
    s.dims.push_back(1 + int32_t(rng() % 5));
    n *= s.dims.back();
  }
  const double pool[] = {-2, -1, 0, 1, 1, 2, 3, kNaN};
  const int64_t ipool[] = {std::numeric_limits<int64_t>::min(), -300, -1, 0, 1, 1, 200, 70000,
                           std::numeric_limits<int64_t>::max()};
  for (int64_t i = 0; i < n; ++i) {
    if (k.type == 0 || k.type == 66) {
      s.re.push_back(pool[rng() % 8]);
      if (k.cplx) s.im.push_back(pool[rng() % 8]);
    } else {
      s.ints.push_back(k.subtype == kPayLogical ? int64_t(rng() % 2) : ipool[rng() % 9]);
    }
  }
  return s;
}

void push_sample(EngineContext* c, const ClassCase& k, const Sample& s) {
  if (k.type == 0) return tv::push_double(c, s.dims, s.re, s.im);
  if (k.type == 66) {
    std::vector<float> re(s.re.begin(), s.re.end()), im(s.im.begin(), s.im.end());
    return tv::push_single(c, s.dims, re, im);
  }
  tv::push_ints(c, k.type, s.dims, s.ints);
  desc_at(c, 0)[2] = uint32_t(k.subtype);  // char and logical arrays share the layout
}

// The sort key of element i: floating classes by value or squared modulus
// (NaN above all), integers by value in their signedness.
int compare_keys(const ClassCase& k, const tv::Value& v, size_t a, size_t b) {
  auto nan_last = [](double x, double y) {
    if (x < y) return -1;
    if (x > y) return 1;
    return std::isnan(x) == std::isnan(y) ? 0 : std::isnan(x) ? 1 : -1;
  };
  if (!v.re.empty()) {
    if (!v.cplx) return nan_last(v.re[a], v.re[b]);
    return nan_last(v.re[a] * v.re[a] + v.im[a] * v.im[a], v.re[b] * v.re[b] + v.im[b] * v.im[b]);
  }
  if (k.type & kElemUnsigned) {
    const auto x = uint64_t(v.ints[a]), y = uint64_t(v.ints[b]);
    return x < y ? -1 : x > y;
  }
  return v.ints[a] < v.ints[b] ? -1 : v.ints[a] > v.ints[b];
}

bool same_element(const tv::Value& x, size_t a, const tv::Value& y, size_t b) {
  if (x.re.empty()) return x.ints[a] == y.ints[b];
  if (tv::bits(x.re[a]) != tv::bits(y.re[b])) return false;
  return !x.cplx || tv::bits(x.im[a]) == tv::bits(y.im[b]);
}

// Storage offset of zero-based subscripts: pages after rows after columns.
int64_t offset_of(const std::vector<uint32_t>& dims, const std::vector<int64_t>& subs) {
  int64_t page = 0;
  for (size_t d = dims.size(); d-- > 2;) page = page * dims[d] + subs[d];
  return (page * dims[0] + subs[0]) * dims[1] + subs[1];
}

// Every line along dimension dim: the storage offsets of its elements.
std::vector<std::vector<int64_t>> lines_along(const std::vector<uint32_t>& dims, size_t dim) {
  std::vector<std::vector<int64_t>> lines;
  int64_t total = 1;
  for (uint32_t d : dims) total *= d;
  const int64_t len = dim < dims.size() ? dims[dim] : 1;
  std::vector<int64_t> subs(dims.size(), 0);
  for (int64_t n = 0; n < total / len; ++n) {
    std::vector<int64_t> line;
    for (int64_t k = 0; k < len; ++k) {
      if (dim < dims.size()) subs[dim] = k;
      line.push_back(offset_of(dims, subs));
    }
    lines.push_back(line);
    for (size_t d = 0; d < dims.size(); ++d) {  // next combination of the other subscripts
      if (d == dim) continue;
      if (++subs[d] < dims[d]) break;
      subs[d] = 0;
    }
  }
  return lines;
}

TEST_F(Sort, RandomisedEveryClassShapeAndDirection) {
  std::mt19937_64 rng(2024);
  for (const ClassCase& k : kClasses) {
    for (int trial = 0; trial < 40; ++trial) {
      SCOPED_TRACE(std::string(k.name) + " trial " + std::to_string(trial));
      const Sample s = random_sample(rng, k);
      push_sample(c, k, s);
      const tv::Value in = tv::read(c);
      const int want_dim = int(rng() % 6) - 1;  // -1: the default; may lie beyond the array
      const int dir = int(rng() % 3);           // none, ascend, descend
      const int nargout = 1 + int(rng() % 2);
      int nargin = 1;
      if (want_dim >= 0) {
        tv::push_scalar(c, want_dim + 1);
        ++nargin;
      }
      if (dir) {
        tv::push_chars(c, dir == 1 ? u"ascend" : u"descend");
        ++nargin;
      }
      sort_call(nargin, nargout);
      const tv::Value out = tv::read(c);
      EXPECT_EQ(out.cls, in.cls);
      EXPECT_EQ(out.dims, in.dims);
      EXPECT_EQ(out.cplx, in.cplx);

      size_t dim = want_dim >= 0 ? size_t(want_dim) : 0;
      if (want_dim < 0)
        for (size_t d = 0; d < in.dims.size(); ++d)
          if (in.dims[d] > 1) {
            dim = d;
            break;
          }
      const int sign = dir == 2 ? -1 : 1;
      tv::Value index;
      if (nargout == 2) {
        index = tv::read(c, 1);
        EXPECT_EQ(index.dims, in.dims);
      }
      for (const auto& line : lines_along(in.dims, dim)) {
        for (size_t q = 1; q < line.size(); ++q)
          ASSERT_LE(sign * compare_keys(k, out, line[q - 1], line[q]), 0) << "unsorted";
        if (nargout == 2) {
          std::vector<bool> seen(line.size(), false);
          for (size_t q = 0; q < line.size(); ++q) {
            const double p = index.re[line[q]];
            ASSERT_TRUE(p >= 1 && p <= double(line.size()) && !seen[size_t(p) - 1]);
            seen[size_t(p) - 1] = true;
            ASSERT_TRUE(same_element(out, line[q], in, line[size_t(p) - 1]));
            if (q > 0 && compare_keys(k, out, line[q - 1], line[q]) == 0) {
              ASSERT_LT(index.re[line[q - 1]], p) << "equal keys out of input order";
            }
          }
        } else {  // a permutation of the line
          std::vector<bool> used(line.size(), false);
          for (size_t q = 0; q < line.size(); ++q) {
            bool found = false;
            for (size_t r = 0; r < line.size() && !found; ++r)
              if (!used[r] && same_element(out, line[q], in, line[r])) used[r] = found = true;
            ASSERT_TRUE(found);
          }
        }
      }
      clear();
    }
  }
}

// --- Against the Shell sorts -------------------------------------------------------------

uint64_t bits_of(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// sort of double and single rows full of ties, -0, Inf and NaN, at one and
// two outputs in both directions, against the Shell sorts that sort used
// before (the model): the index and, with it, the values exactly; values
// alone the same up to the order of -0 and 0.
TEST_F(Sort, MatchesTheShellSortsOnTies) {
  std::mt19937 rng(5601);
  const double inf = std::numeric_limits<double>::infinity();
  const V pool = {-inf, -2, -1, -0.0, 0.0, 0.5, 1, 3, inf, kNaN};
  for (int trial = 0; trial < 400; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const int n = int(rng() % 300);
    const bool single = trial % 3 == 2;
    const uint8_t desc = rng() % 2;
    const int nargout = 1 + int(rng() % 2);
    V x(size_t(n), 0.0);
    for (double& v : x) v = pool[rng() % pool.size()];
    if (single)
      tv::push_single(c, {1, n}, std::vector<float>(x.begin(), x.end()));
    else
      tv::push_row(c, x);
    if (desc) tv::push_chars(c, u"descend");
    sort_call(desc ? 2 : 1, nargout);

    V want = x, order(size_t(n), 0.0);
    for (int k = 0; k < n; ++k) order[size_t(k)] = k + 1;
    if (single) {
      const std::vector<float> f(x.begin(), x.end());
      SortCmpRec rec{f.data(), nullptr, desc, 1};
      std::vector<int32_t> perm(size_t(n) + 1);
      shellsort_index(n, sort_cmp_single, perm.data(), &rec, desc);
      for (int k = 0; k < n; ++k) {
        want[size_t(k)] = x[size_t(perm[size_t(k)])];
        order[size_t(k)] = perm[size_t(k)] + 1;
      }
    } else if (nargout == 2) {
      shellsort_real_pair(want.data(), order.data(), n, 1, desc);
    } else {
      shellsort_real(want.data(), n, 1, desc);
    }
    const tv::Value got = tv::read(c);
    EXPECT_EQ(got.cls, single ? "single" : "double");
    ASSERT_EQ(got.re.size(), size_t(n));
    std::vector<uint64_t> a, b;
    for (int k = 0; k < n; ++k) {
      const double g = got.re[size_t(k)], w = want[size_t(k)];
      if (nargout == 2 || single)
        EXPECT_EQ(bits_of(g), bits_of(w)) << k;
      else
        EXPECT_TRUE(g == w || (std::isnan(g) && std::isnan(w))) << k;
      a.push_back(bits_of(g));
      b.push_back(bits_of(w));
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b) << "the same values";
    if (nargout == 2) {
      const tv::Value i = tv::read(c, 1);
      EXPECT_EQ(i.cls, "double");
      EXPECT_EQ(i.re, order);
    }
    clear();
    if (HasFailure()) return;
  }
}

// --- Errors and stack heights ------------------------------------------------------------

TEST_F(Sort, ErrorsLeaveTheStacks) {
  tv::push_row(c, {3, 1, 2});
  tv::push_chars(c, u"x");
  expect_error(c, kUnknownOption, [&] { return bi_sort(c, 2, 1); });
  clear();
  tv::push_row(c, {3, 1, 2});
  tv::push_scalar(c, 1);
  tv::push_scalar(c, 1);
  expect_error(c, kUnknownOption, [&] { return bi_sort(c, 3, 1); });
  clear();
  tv::push_row(c, {3, 1, 2});
  tv::push_scalar(c, 0);
  expect_error(c, kBadDimension, [&] { return bi_sort(c, 2, 2); });
  clear();
  tv::push_row(c, {3, 1, 2});
  tv::push_scalar(c, 1.5);
  expect_error(c, kNonIntegerArg, [&] { return bi_sort(c, 2, 1); });
  clear();
  push_list({u"b", u"a"});
  tv::push_scalar(c, 1);
  expect_error(c, kTooManyInputs, [&] { return bi_sort(c, 2, 1); });
  clear();
  tv::push_chars(c, u"b");
  tv::push_scalar(c, 2);
  ASSERT_EQ(stk_make_container(c, 2, 0, nullptr, 0), kOk);  // a list with a number
  expect_error(c, kWrongType, [&] { return bi_sort(c, 1, 2); });
  clear();
  tv::push_scalar(c, 1);
  ASSERT_EQ(stk_make_container(c, 1, 0, "f", 1), kOk);  // a structure
  expect_error(c, kWrongArgType, [&] { return bi_sort(c, 1, 1); });
  clear();

  // No outputs: the arguments go and nothing comes.
  tv::push_row(c, {3, 1, 2});
  tv::push_chars(c, u"descend");
  expect_ok([&] { return bi_sort(c, 2, 0); }, 2, 0);
  // The interpreter binding passes nargin, then nargout.
  tv::push_row(c, {2, 1});
  expect_ok([&] { return op_sort_sets(c, kOpSort, 1, 2, 0); }, 1, 2);
}

// --- Results written into the stores' blocks ------------------------------------------

// s = sort(x), [s, i] = sort(x), s = diff(x) and s = ismember(x, y) of
// variables, written straight into the blocks the stores fill, give under
// every cut room what the instructions give through the stack: the same
// status and the same variables after.
TEST(ResultsIntoVariables, EveryCutRoomGivesWhatTheStackGives) {
  // Doubles first: diff takes them alone, ismember them and 64-bit integers.
  const char* const inputs[] = {
      "x = mod((1:40) * 7, 13) - 4; x(5) = NaN; y = -4:0.5:9;",
      "x = reshape(mod((1:48) * 5, 7), 6, 8); y = [0 2 3 5];",
      "x = int64(mod((1:30) * 5, 11)); y = int64([1 3 4 8]);",
      "x = int8(mod((1:120) * 3, 17))';",
      "x = single(reshape(40:-1:1, 5, 8));",
  };
  const int doubles = 2;
  const char* const statements[] = {"s = sort(x);", "[s, i] = sort(x);", "s = sort(x, 'descend');",
                                    "x = sort(x);", "[x, i] = sort(x, 'd');", "s = diff(x);", "x = diff(x);",
                                    "s = ismember(x, y);", "y = ismember(x, y);"};
  auto install = [](bool into) {
    local_result_install(kOpSort, into ? &kSortBlockHooks : nullptr);
    local_result_install(kOpDiff, into ? &kDiffBlockHooks : nullptr);
    local_result_install(kOpIsmember, into ? &kIsmemberBlockHooks : nullptr);
  };
  auto outcome = [&](const char* input, const char* statement, SweepRoom room, int64_t k, bool into) {
    ZvrSession z(1u << 20);
    EXPECT_EQ(z.run(std::string(input) + " s = {1, 'old'}; i = 'old';"), kOk) << z.take_output();
    install(into);
    int status;
    {
      RoomLimit limit(z.c, room, k);
      status = z.run(statement);
    }
    install(true);
    if (status != kOk) frame_unwind(z.c, 0);
    return std::to_string(status) + " " + z.value("s") + " " + z.value("i") + " " + z.value("x") + " " +
           z.value("y");
  };
  for (const char* input : inputs)
    for (const char* statement : statements)
      for (SweepRoom room : {SweepRoom::kData, SweepRoom::kDesc, SweepRoom::kHeap}) {
        const bool real = input == inputs[0] || input == inputs[doubles - 1];
        if ((std::strstr(statement, "diff") && !real) || (std::strstr(statement, "ismember") && !real && input != inputs[doubles]))
          continue;
        for (int64_t k = 0; k < 4096; ++k) {
          const std::string stack = outcome(input, statement, room, k, false);
          ASSERT_EQ(outcome(input, statement, room, k, true), stack)
              << input << " " << statement << " " << sweep_room_name(room) << " room " << k;
          if (stack.rfind("0 ", 0) == 0) break;  // the run with this room succeeds
        }
      }
}

}  // namespace
