// Cells and lists: num2cell and num2list against a model written with
// explicit subscripts on random arrays of every class and 1 to 4 dimensions, list2num and the round trips through it, replist, the error
// codes with the arguments left in place, and full stacks.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/lib/construct.h"
#include "engine/lib/container_builtins.h"
#include "engine/lib/strfun.h"
#include "support/value_fixture.h"

namespace {

class CellsLists : public ValueFixture {
 protected:
  std::string run(int (*fn)(EngineContext*, int), int arg) {
    const StackSnapshot before = snapshot_stacks(c);
    const int status = fn(c, arg);
    if (status != kOk) {
      EXPECT_TRUE(snapshot_stacks(c) == before);
      return "error " + std::to_string(status);
    }
    EXPECT_TRUE(vt::check_item(c));
    return top();
  }
  std::string run0(int (*fn)(EngineContext*)) {
    const StackSnapshot before = snapshot_stacks(c);
    const int status = fn(c);
    if (status != kOk) {
      EXPECT_TRUE(snapshot_stacks(c) == before);
      return "error " + std::to_string(status);
    }
    EXPECT_TRUE(vt::check_item(c));
    return top();
  }
  // The 2 x 3 matrix [1 2 3;4 5 6].
  void m23() { tv::push_double(c, {2, 3}, {1, 2, 3, 4, 5, 6}); }
};

TEST_F(CellsLists, Num2listAndNum2cellWorked) {
  struct {
    const char* what;
    std::function<void()> push;
    int (*fn)(EngineContext*, int);
    int nargin;
    std::string want;
  } rows[] = {
      {"beyond", [&] { m23(); num(3); }, bi_num2list, 2, "{[1 2 3;4 5 6]}"},
      {"char", [&] { str("ab"); }, bi_num2list, 1, "{'a', 'b'}"},
      {"logical", [&] { tv::push_logicals(c, {1, 0}); }, bi_num2list, 1, "{logical(1), logical(0)}"},
      {"char rows", [&] { chars({"ab", "cd"}); num(1); }, bi_num2list, 2, "{'ab', 'cd'}"},
      {"empty list", [&] { ASSERT_EQ(stk_push_empty(c), kOk); }, bi_num2list, 1, "{}"},
      {"empty with dim", [&] { ASSERT_EQ(stk_push_empty(c), kOk); num(2); }, bi_num2list, 2, "{}"},
      {"cell of all", [&] { m23(); row({2, 1}); }, bi_num2cell, 2, "cell(int32([1 1]): [1 2 3;4 5 6])"},
      {"dims beyond ignored", [&] { m23(); num(5); }, bi_num2cell, 2, "cell(int32([2 3]): 1, 2, 3, 4, 5, 6)"},
      {"cell of chars", [&] { chars({"ab", "cd"}); num(2); }, bi_num2cell, 2, "cell(int32([2 1]): 'ab', 'cd')"},
      {"empty cell", [&] { str(""); }, bi_num2cell, 1, "{}"},
      // Errors.
      {"dim 0", [&] { m23(); num(0); }, bi_num2list, 2, "error 34"},
      {"dim fraction", [&] { m23(); num(1.5); }, bi_num2list, 2, "error 102"},
      {"dim vector", [&] { m23(); row({1, 2}); }, bi_num2list, 2, "error 104"},
      {"dim list", [&] { m23(); strings({"a"}); }, bi_num2list, 2, "error 44"},
      {"list argument", [&] { strings({"a"}); }, bi_num2list, 1, "error 44"},
      {"struct argument", [&] { ASSERT_EQ(bi_struct(c, 0), kOk); }, bi_num2cell, 1, "error 44"},
      {"dims 0", [&] { m23(); row({1, 0}); }, bi_num2cell, 2, "error 34"},
      {"dims fraction", [&] { m23(); num(1.5); }, bi_num2cell, 2, "error 34"},
      {"dims NaN", [&] { m23(); num(std::nan("")); }, bi_num2cell, 2, "error 34"},
      {"dims string", [&] { m23(); str("a"); }, bi_num2cell, 2, "error 44"},
  };
  for (const auto& r : rows) {
    r.push();
    const int before = items();
    EXPECT_EQ(run(r.fn, r.nargin), r.want) << r.what;
    EXPECT_EQ(items(), r.want.rfind("error", 0) == 0 ? before : before - r.nargin + 1) << r.what;
    clear();
  }
}

TEST_F(CellsLists, MoreThanSixteenDimensionsAreRefused) {
  std::vector<int32_t> dims(17, 1);
  dims[15] = 2;
  dims[16] = 2;
  void* data = nullptr;
  ASSERT_EQ(stk_push_typed_array(c, 17, dims.data(), 1, 0, &data), kOk);
  EXPECT_EQ(run(bi_num2list, 1), "error 103");
  EXPECT_EQ(run(bi_num2cell, 1), "error 103");
}

// The model: element (i0, i1, i2, i3) of an array of sizes D lies at
// ((i3 * D2 + i2) * D0 + i0) * D1 + i1 in storage order.
struct Model {
  std::vector<int32_t> dims;  // 4 entries, padded with 1
  int64_t at(const int64_t* s) const {
    return ((s[3] * dims[2] + s[2]) * dims[0] + s[0]) * dims[1] + s[1];
  }
};

TEST_F(CellsLists, SplitsMatchAModelOnRandomArrays) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    const int nd = 1 + int(rng() % 4);
    Model m{{1, 1, 1, 1}};
    for (int i = 0; i < nd; ++i) m.dims[i] = 1 + int32_t(rng() % 3);
    const int64_t count = int64_t(m.dims[0]) * m.dims[1] * m.dims[2] * m.dims[3];
    std::vector<double> re(static_cast<size_t>(count)), im(static_cast<size_t>(count));
    std::vector<int64_t> ints(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
      re[size_t(i)] = double(rng() % 50) - 20;
      im[size_t(i)] = double(rng() % 7);
      ints[size_t(i)] = int64_t(rng() % 200) - 100;
    }
    const int cls = int(rng() % 5);
    std::vector<int32_t> shape(m.dims.begin(), m.dims.end());
    switch (cls) {
      case 0: tv::push_double(c, shape, re); break;
      case 1: tv::push_double(c, shape, re, im); break;
      case 2: tv::push_single(c, shape, std::vector<float>(re.begin(), re.end())); break;
      case 3: tv::push_ints(c, kElemI16, shape, ints); break;
      default: {
        uint16_t* d = nullptr;
        ASSERT_EQ(stk_push_char_array(c, 4, shape.data(), &d), kOk);
        for (int64_t i = 0; i < count; ++i) d[i] = uint16_t(ints[size_t(i)] + 100);
      }
    }
    const tv::Value whole = tv::read(c);
    // Which dimensions each entry spans.
    bool spans[4] = {false, false, false, false};
    const bool as_cell = rng() % 2;
    int nargin = 1;
    if (as_cell && rng() % 3) {
      std::vector<double> chosen;
      for (int i = 0; i < 5; ++i)
        if (rng() % 2) chosen.push_back(double(i + 1));  // 5 lies beyond every array
      if (chosen.empty()) chosen.push_back(1);
      for (double d : chosen) if (d <= 4) spans[int(d) - 1] = true;
      row(chosen);
      nargin = 2;
    } else if (!as_cell && rng() % 3) {
      const int dim = 1 + int(rng() % 5);
      for (int i = 0; i < 4; ++i) spans[i] = i != dim - 1;
      num(dim);
      nargin = 2;
    }
    ASSERT_EQ((as_cell ? bi_num2cell : bi_num2list)(c, nargin), kOk);
    ASSERT_EQ(items(), 1);
    ASSERT_TRUE(vt::check_item(c));

    // Expected entries, in storage order of the fixed subscripts.
    int64_t outer[4], inner[4];
    for (int i = 0; i < 4; ++i) {
      outer[i] = spans[i] ? 1 : m.dims[i];
      inner[i] = spans[i] ? m.dims[i] : 1;
    }
    int64_t o[4], k = 0;
    for (o[3] = 0; o[3] < outer[3]; ++o[3])
      for (o[2] = 0; o[2] < outer[2]; ++o[2])
        for (o[0] = 0; o[0] < outer[0]; ++o[0])
          for (o[1] = 0; o[1] < outer[1]; ++o[1]) {
            ASSERT_EQ(stk_list_get(c, 0, int32_t(++k)), kOk);
            const tv::Value e = tv::read(c);
            stk_drop(c);
            EXPECT_EQ(e.cls, whole.cls);
            EXPECT_EQ(e.cplx, whole.cplx);
            std::vector<uint32_t> want_dims(inner, inner + 4);
            while (want_dims.size() > 2 && want_dims.back() == 1) want_dims.pop_back();
            EXPECT_EQ(e.dims, want_dims) << "round " << round;
            EXPECT_EQ(e.plain, whole.cls == "double" && want_dims.size() == 2);
            int64_t s[4], j = 0;
            for (s[3] = 0; s[3] < inner[3]; ++s[3])
              for (s[2] = 0; s[2] < inner[2]; ++s[2])
                for (s[0] = 0; s[0] < inner[0]; ++s[0])
                  for (s[1] = 0; s[1] < inner[1]; ++s[1], ++j) {
                    int64_t full[4];
                    for (int i = 0; i < 4; ++i) full[i] = spans[i] ? s[i] : o[i];
                    const size_t from = size_t(m.at(full));
                    if (!whole.ints.empty()) {
                      ASSERT_EQ(e.ints[size_t(j)], whole.ints[from]);
                    } else {
                      ASSERT_EQ(e.re[size_t(j)], whole.re[from]);
                      if (whole.cplx) {
                        ASSERT_EQ(e.im[size_t(j)], whole.im[from]);
                      }
                    }
                  }
          }
    EXPECT_EQ(stk_list_get(c, 0, int32_t(k + 1)), kIndexOutOfRange);
    if (as_cell) {
      int ndims = 0;
      const uint32_t* cd = nullptr;
      ASSERT_EQ(stk_get_container_dims(c, 0, &ndims, &cd, nullptr, nullptr), kOk);
      std::vector<uint32_t> want(outer, outer + 4), got(cd, cd + ndims);
      while (want.size() > 2 && want.back() == 1) want.pop_back();
      EXPECT_EQ(got, want);
    }
    clear();
  }
}

TEST_F(CellsLists, List2numJoinsFromTheFirstEntry) {
  struct {
    const char* what;
    std::function<void()> push;
    std::string want;
  } rows[] = {
      {"scalars", [&] { num(1); num(2); num(3); list(3); }, "[1 2 3]"},
      {"empty entries dropped", [&] { row({1, 2}); ASSERT_EQ(stk_push_empty(c), kOk); num(3); list(3); }, "[1 2 3]"},
      {"one entry", [&] { str("abc"); list(1); }, "'abc'"},
      {"strings", [&] { strings({"ab", "", "cd"}); }, "'abcd'"},
      {"empty list", [&] { list(0); }, "[]"},
      {"columns", [&] { tv::push_double(c, {2, 1}, {1, 2}); tv::push_double(c, {2, 2}, {3, 4, 5, 6}); list(2); },
       "[1 3 4;2 5 6]"},
      {"cell in storage order", [&] { num(1); num(2); num(3); num(4); cells(2, 2); }, "[1 2 3 4]"},
      {"first decides the class", [&] { tv::push_ints(c, kElemI8, {1, 1}, {5}); num(2); list(2); }, "int8([5 2])"},
      {"double first", [&] { num(1.5); tv::push_ints(c, kElemI8, {1, 1}, {2}); list(2); }, "[1.5 2]"},
      {"rows differ", [&] { tv::push_double(c, {2, 1}, {1, 2}); num(3); list(2); }, "error 20"},
      {"not a list", [&] { num(1); }, "error 44"},
      {"a structure", [&] { ASSERT_EQ(bi_struct(c, 0), kOk); }, "error 44"},
  };
  for (const auto& r : rows) {
    r.push();
    EXPECT_EQ(run0(bi_list2num), r.want) << r.what;
    EXPECT_EQ(items(), 1) << r.what;
    clear();
  }
}

TEST_F(CellsLists, RoundTripsThroughList2num) {
  std::mt19937 rng(11);
  for (int round = 0; round < 50; ++round) {
    const int32_t rows = 1 + int32_t(rng() % 3), cols = 1 + int32_t(rng() % 5);
    std::vector<double> v(size_t(rows) * cols);
    for (double& x : v) x = double(rng() % 100);
    tv::push_double(c, {rows, cols}, v);
    const std::string want = top();
    // Columns joined again give the matrix back.
    ASSERT_EQ(stk_dup(c, 0, 1), kOk);
    num(2);
    ASSERT_EQ(bi_num2list(c, 2), kOk);
    ASSERT_EQ(bi_list2num(c), kOk);
    EXPECT_EQ(top(), want);
    stk_drop(c);
    // Elements joined give the values in storage order as a row.
    ASSERT_EQ(bi_num2list(c, 1), kOk);
    ASSERT_EQ(bi_list2num(c), kOk);
    const tv::Value r = tv::read(c);
    EXPECT_EQ(r.dims, (std::vector<uint32_t>{1, uint32_t(v.size())}));
    EXPECT_EQ(r.re, v);
    clear();
  }
}

TEST_F(CellsLists, Replist) {
  struct {
    const char* what;
    std::function<void()> push;
    std::string want;
  } rows[] = {
      {"three", [&] { num(1); str("b"); list(2); num(3); }, "{1, 'b', 1, 'b', 1, 'b'}"},
      {"once", [&] { num(1); str("b"); list(2); num(1); }, "{1, 'b'}"},
      {"zero", [&] { num(1); list(1); num(0); }, "{}"},
      {"negative", [&] { num(1); list(1); num(-3); }, "{}"},
      {"empty list", [&] { list(0); num(1e6); }, "{}"},
      {"a cell", [&] { num(1); cells(1, 1); num(2); }, "error 44"},
      {"fraction", [&] { num(1); list(1); num(1.5); }, "error 44"},
      {"string count", [&] { num(1); list(1); str("a"); }, "error 44"},
      {"too many", [&] { num(1); list(1); num(1e9); }, "error 3"},
  };
  for (const auto& r : rows) {
    r.push();
    const std::string got = run0(bi_replist);
    EXPECT_EQ(got, r.want) << r.what;
    EXPECT_EQ(items(), got.rfind("error", 0) == 0 ? 2 : 1) << r.what;
    clear();
  }
}

// The list-building step of f(a, b, x{:}): the arguments before the list
// (deeper) come first, then the list's (or cell's) elements; an item below
// them stays.
TEST_F(CellsLists, ListFlatteningJoinsTheLeadingArgumentsInFront) {
  struct {
    const char* what;
    std::function<void()> push;
    int n;
    std::string want;
  } rows[] = {
      {"two before", [&] { num(1); str("a"); num(3); num(4); list(2); }, 3, "{1, 'a', 3, 4}"},
      {"one before a cell", [&] { num(1); num(3); num(4); cells(1, 2); }, 2, "{1, 3, 4}"},
      {"an empty list", [&] { num(1); num(2); list(0); }, 3, "{1, 2}"},
      {"no list on top", [&] { num(1); num(2); }, 2, "error 44"},
  };
  for (const auto& r : rows) {
    num(99);  // below the call: untouched
    r.push();
    const int before = items();
    const std::string got = run(op_66_join, r.n);
    EXPECT_EQ(got, r.want) << r.what;
    const bool failed = got.rfind("error", 0) == 0;
    EXPECT_EQ(items(), failed ? before : before - r.n + 1) << r.what;
    EXPECT_EQ(top(items() - 1), "99") << r.what;
    clear();
  }
}

TEST_F(CellsLists, StrmatchRefusesANonCharEntryWith43) {
  str("a");
  str("a");
  num(1);
  list(2);
  const StackSnapshot before = snapshot_stacks(c);
  EXPECT_EQ(bi_strmatch(c, 2), kWrongType);
  EXPECT_TRUE(snapshot_stacks(c) == before);
  clear();
  str("b");
  str("a");
  str("b");
  cells(2, 1);
  ASSERT_EQ(bi_strmatch(c, 2), kOk);  // cell arrays are lists of candidates too
  EXPECT_EQ(top(), "2");
}

}  // namespace
