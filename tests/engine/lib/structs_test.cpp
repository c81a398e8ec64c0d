// Structure intrinsics: construction and its errors, field tests and reads,
// random sequences of setfield, rmfield and orderfields checked through
// fieldnames and getfield against a model, reordering by every kind of order
// and its errors, object fields seen from their own class and from a parent's
// methods, and full stacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/frames.h"
#include "engine/core/symbols.h"
#include "engine/lib/container_builtins.h"
#include "support/expect_error.h"
#include "support/value_fixture.h"

namespace {

class Structs : public ValueFixture {
 protected:
  // Pushes struct(name1, v1, ...) with numeric values.
  void make(const std::vector<std::pair<std::string, double>>& fields) {
    for (const auto& [name, v] : fields) {
      str(name);
      num(v);
    }
    ASSERT_EQ(bi_struct(c, int(2 * fields.size())), kOk);
  }
  int struct_status(int nargin) {
    const StackSnapshot before = snapshot_stacks(c);
    const int s = bi_struct(c, nargin);
    if (s != kOk) {
      EXPECT_TRUE(snapshot_stacks(c) == before);
    }
    return s;
  }
  // fieldnames of the structure on top, leaving it in place.
  std::string names() {
    EXPECT_EQ(stk_dup(c, 0, 1), kOk);
    EXPECT_EQ(bi_fieldnames(c), kOk);
    std::string s = top();
    stk_drop(c);
    return s;
  }
  std::string get(const std::string& name) {
    EXPECT_EQ(stk_dup(c, 0, 1), kOk);
    str(name);
    const int status = bi_getfield(c);
    if (status != kOk) {
      stk_drop(c);
      stk_drop(c);
      return "error " + std::to_string(status);
    }
    std::string s = top();
    stk_drop(c);
    return s;
  }
  int32_t intern(const std::string& name) {
    int32_t sym = 0;
    EXPECT_EQ(symtab_intern(c, name.data(), int32_t(name.size()), kFieldNameLimit, &sym), kOk);
    return sym;
  }
  void set_running_class(int32_t sym) { frame_words(c, c->frame)[kFwMethodClass] = uint32_t(sym); }
};

TEST_F(Structs, BuildingAndItsErrors) {
  str("a");
  num(1);
  str("b");
  str("two");
  ASSERT_EQ(bi_struct(c, 4), kOk);
  EXPECT_EQ(top(), "struct(a=1, b='two')");
  EXPECT_EQ(items(), 1);
  ASSERT_EQ(bi_struct(c, 1), kOk);  // a structure stays as it is
  EXPECT_EQ(top(), "struct(a=1, b='two')");
  clear();

  ASSERT_EQ(bi_struct(c, 0), kOk);
  EXPECT_EQ(top(), "struct()");
  clear();

  struct {
    const char* what;
    std::function<void()> push;
    int nargin, status;
  } bad[] = {
      {"a name alone", [&] { str("a"); }, 1, kWrongArgType},
      {"a list", [&] { strings({"x"}); }, 1, kWrongArgType},
      {"a cell array", [&] { str("q"); cells(1, 1); }, 1, kWrongArgType},
      {"odd count", [&] { str("a"); num(1); str("b"); }, 3, kTooFewInputs},
      {"empty name", [&] { str("a"); num(1); str(""); num(2); }, 4, kNullName},
      {"long name", [&] { str(std::string(33, 'n')); num(1); }, 2, kNameTooLong},
      {"number as name", [&] { num(3); num(1); }, 2, kWrongArgType},
  };
  for (const auto& b : bad) {
    b.push();
    EXPECT_EQ(struct_status(b.nargin), b.status) << b.what;
    clear();
  }
  str(std::string(32, 'n'));
  num(1);
  ASSERT_EQ(bi_struct(c, 2), kOk);
  EXPECT_EQ(names(), "{'" + std::string(32, 'n') + "'}");
}

TEST_F(Structs, AnObjectBecomesAPlainStructure) {
  make({{"x", 1}});
  desc_at(c, 0)[2] = uint32_t(intern("point"));
  EXPECT_EQ(top(), "obj<point>(x=1)");
  ASSERT_EQ(bi_isstruct(c), kOk);
  EXPECT_EQ(top(), "logical(0)");
  clear();
  make({{"x", 1}});
  desc_at(c, 0)[2] = uint32_t(intern("point"));
  ASSERT_EQ(bi_struct(c, 1), kOk);
  EXPECT_EQ(top(), "struct(x=1)");
  ASSERT_EQ(stk_dup(c, 0, 1), kOk);
  ASSERT_EQ(bi_isstruct(c), kOk);
  EXPECT_EQ(top(), "logical(1)");
}

TEST_F(Structs, FieldTestsAndReads) {
  make({{"alpha", 1}, {"beta", 2}});
  str("beta");
  ASSERT_EQ(bi_isfield(c), kOk);
  EXPECT_EQ(top(), "logical(1)");
  stk_drop(c);
  make({{"alpha", 1}});
  str("neverInternedName");
  ASSERT_EQ(bi_isfield(c), kOk);  // compares bytes: no symbol needed
  EXPECT_EQ(top(), "logical(0)");
  stk_drop(c);
  make({{"alpha", 1}});
  str("alph");
  ASSERT_EQ(bi_isfield(c), kOk);
  EXPECT_EQ(top(), "logical(0)");
  stk_drop(c);

  make({{"alpha", 1}, {"beta", 2}});
  EXPECT_EQ(get("beta"), "2");
  EXPECT_EQ(get("alpha"), "1");
  EXPECT_EQ(get("anotherNeverInterned"), "error 39");
  EXPECT_EQ(symtab_find(c, "anotherNeverInterned", 20), 0);
  intern("gamma");
  EXPECT_EQ(get("gamma"), "error 39");
  EXPECT_EQ(items(), 1);

  // Wrong kinds: 44 with the arguments kept.
  clear();
  num(1);
  str("alpha");
  expect_error(c, kWrongArgType, [&] { return bi_isfield(c); }, 2);
  num(1);
  str("alpha");
  expect_error(c, kWrongArgType, [&] { return bi_getfield(c); }, 2);
  make({{"alpha", 1}});
  num(1);
  expect_error(c, kWrongArgType, [&] { return bi_getfield(c); }, 2);
  strings({"alpha"});
  str("alpha");
  expect_error(c, kWrongArgType, [&] { return bi_isfield(c); }, 2);
  num(1);
  expect_error(c, kWrongArgType, [&] { return bi_fieldnames(c); }, 1);
}

// A name given again is the same field: the place of its first pair, the
// value of its last.
TEST_F(Structs, RepeatedNamesBuildOneField) {
  double k = 0;
  for (const char* n : {"a", "b", "a", "c", "b", "a"}) {
    str(n);
    num(++k);
  }
  ASSERT_EQ(bi_struct(c, 12), kOk);
  EXPECT_EQ(top(), "struct(a=6, b=5, c=4)");
  strings({"a", "a"});
  ASSERT_EQ(bi_rmfield(c), kOk);
  EXPECT_EQ(top(), "struct(b=5, c=4)");
}

TEST_F(Structs, OrderfieldsByNamesAndByOrders) {
  // Bytes decide: upper case first, a prefix before its extensions.
  make({{"b", 1}, {"B", 2}, {"bb", 3}, {"_", 4}, {"a1", 5}, {"a", 6}});
  ASSERT_EQ(bi_orderfields(c, 1, 1), kOk);
  EXPECT_EQ(top(), "struct(B=2, _=4, a=6, a1=5, b=1, bb=3)");
  EXPECT_EQ(items(), 1);
  clear();

  make({{"x", 1}, {"y", 2}, {"z", 3}});
  row({3, 1, 2});
  ASSERT_EQ(bi_orderfields(c, 2, 2), kOk);
  EXPECT_EQ(top(0), "struct(z=3, x=1, y=2)");
  EXPECT_EQ(top(1), "[3;1;2]");
  clear();

  make({{"x", 1}, {"y", 2}, {"z", 3}});
  strings({"y", "z", "x"});
  ASSERT_EQ(bi_orderfields(c, 2, 1), kOk);
  EXPECT_EQ(top(), "struct(y=2, z=3, x=1)");
  clear();

  make({{"x", 1}, {"y", 2}, {"z", 3}});
  make({{"z", 0}, {"x", 0}, {"y", 0}});
  ASSERT_EQ(bi_orderfields(c, 2, 2), kOk);
  EXPECT_EQ(top(0), "struct(z=3, x=1, y=2)");
  EXPECT_EQ(top(1), "[3;1;2]");
  clear();

  ASSERT_EQ(bi_struct(c, 0), kOk);
  ASSERT_EQ(bi_orderfields(c, 1, 2), kOk);
  EXPECT_EQ(top(0), "struct()");
  EXPECT_EQ(top(1), "[]");
  clear();

  struct {
    const char* what;
    std::vector<double> order;
    int status;
  } bad[] = {
      {"count", {1, 2}, kBadSize},
      {"fraction", {1, 2.5, 3}, kNonIntegerArg},
      {"NaN", {1, 2, std::nan("")}, kNonIntegerArg},
      {"fraction after a bad position", {9, 2.5, 3}, kNonIntegerArg},
      {"repeat", {1, 1, 2}, kNotPermutation},
      {"zero", {0, 1, 2}, kNotPermutation},
      {"past the end", {1, 2, 4}, kNotPermutation},
  };
  for (const auto& b : bad) {
    make({{"x", 1}, {"y", 2}, {"z", 3}});
    row(b.order);
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(bi_orderfields(c, 2, 2), b.status) << b.what;
    EXPECT_TRUE(snapshot_stacks(c) == before) << b.what;
    clear();
  }
  auto expect_order_error = [&](int status, const char* what) {
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(bi_orderfields(c, 2, 1), status) << what;
    EXPECT_TRUE(snapshot_stacks(c) == before) << what;
    clear();
  };
  make({{"x", 1}, {"y", 2}});
  strings({"x"});
  expect_order_error(kBadSize, "name count");
  make({{"x", 1}, {"y", 2}});
  strings({"x", "w"});
  expect_order_error(kBadArgument, "unknown name");
  make({{"x", 1}, {"y", 2}});
  num(1);
  str("y");
  list(2);
  expect_order_error(kBadArgument, "a number among the names");
  make({{"x", 1}, {"y", 2}});
  strings({"x", "x"});
  expect_order_error(kNotPermutation, "repeated name");
  make({{"x", 1}, {"y", 2}});
  make({{"y", 0}, {"q", 0}});
  expect_order_error(kBadArgument, "other structure");
  make({{"x", 1}, {"y", 2}});
  str("xy");
  expect_order_error(kWrongType, "a string");
  num(1);
  num(1);
  expect_order_error(kWrongArgType, "not a structure");
}

// Random sequences against a model of the field list.
TEST_F(Structs, RandomSequencesMatchAModel) {
  std::mt19937 rng(20240611);
  const std::vector<std::string> pool = {"a", "b", "ab", "zed", "Q", "b2", "longer_name"};
  using Model = std::vector<std::pair<std::string, std::string>>;  // name, value text
  for (int round = 0; round < 40; ++round) {
    clear();
    ASSERT_EQ(bi_struct(c, 0), kOk);
    Model model;
    for (int step = 0; step < 30; ++step) {
      const int op = int(rng() % 5);
      if (op <= 1) {  // setfield with values of varying size
        const std::string name = pool[rng() % pool.size()];
        std::string text;
        str(name);
        switch (rng() % 3) {
          case 0: {
            const double v = double(rng() % 100);
            num(v);
            text = vt::num(v);
            break;
          }
          case 1: {
            std::vector<double> v(1 + rng() % 6);
            for (double& x : v) x = double(rng() % 10);
            row(v);
            text = v.size() == 1 ? vt::num(v[0]) : top();
            break;
          }
          default: {
            const std::string s(1 + rng() % 9, char('a' + rng() % 26));
            str(s);
            text = "'" + s + "'";
          }
        }
        ASSERT_EQ(bi_setfield(c), kOk);
        auto it = std::find_if(model.begin(), model.end(), [&](auto& f) { return f.first == name; });
        if (it != model.end()) it->second = text;
        else model.emplace_back(name, text);
      } else if (op == 2) {  // rmfield of one name or several
        std::vector<std::string> gone;
        const int n = 1 + int(rng() % 3);
        for (int i = 0; i < n; ++i) gone.push_back(pool[rng() % pool.size()]);
        if (n == 1 && rng() % 2) str(gone[0]);
        else strings(gone);
        ASSERT_EQ(bi_rmfield(c), kOk);
        for (const auto& g : gone) {
          auto it = std::find_if(model.begin(), model.end(), [&](auto& f) { return f.first == g; });
          if (it != model.end()) model.erase(it);
        }
      } else if (op == 3) {  // orderfields by name
        ASSERT_EQ(bi_orderfields(c, 1, 1), kOk);
        std::stable_sort(model.begin(), model.end(), [](auto& x, auto& y) { return x.first < y.first; });
      } else {  // orderfields by a random permutation
        std::vector<double> perm(model.size());
        for (size_t i = 0; i < perm.size(); ++i) perm[i] = double(i + 1);
        std::shuffle(perm.begin(), perm.end(), rng);
        if (perm.empty()) ASSERT_EQ(stk_push_empty(c), kOk);
        else row(perm);
        ASSERT_EQ(bi_orderfields(c, 2, 2), kOk);
        EXPECT_EQ(desc_at(c, 1)[1] * desc_at(c, 1)[2], perm.size());
        stk_remove(c, 1, 1);
        Model next;
        for (double p : perm) next.push_back(model[size_t(p) - 1]);
        model = next;
      }
      ASSERT_EQ(items(), 1);
      ASSERT_TRUE(vt::check_item(c));
      std::string want = "{";
      for (size_t i = 0; i < model.size(); ++i) want += (i ? ", '" : "'") + model[i].first + "'";
      ASSERT_EQ(names(), want + "}") << "round " << round << " step " << step;
      for (const auto& [name, value] : model) ASSERT_EQ(get(name), value);
      for (const auto& name : pool) {
        ASSERT_EQ(stk_dup(c, 0, 1), kOk);
        str(name);
        ASSERT_EQ(bi_isfield(c), kOk);
        const bool in = std::any_of(model.begin(), model.end(), [&](auto& f) { return f.first == name; });
        ASSERT_EQ(top(), in ? "logical(1)" : "logical(0)");
        stk_drop(c);
      }
    }
  }
}

TEST_F(Structs, ObjectFieldsFollowTheRunningClass) {
  const int32_t point = intern("point"), base = intern("base"), other = intern("other");
  // An object of class point holding a parent object of class base, as the
  // field named after the parent's class.
  str("base");
  make({{"id", 7}});
  desc_at(c, 0)[2] = uint32_t(base);
  str("x");
  num(1);
  ASSERT_EQ(bi_struct(c, 4), kOk);
  desc_at(c, 0)[2] = uint32_t(point);
  EXPECT_EQ(top(), "obj<point>(base=obj<base>(id=7), x=1)");

  // Outside class methods nothing is visible.
  EXPECT_EQ(get("x"), "error 40");
  // The object's own methods see every field.
  set_running_class(point);
  EXPECT_EQ(get("x"), "1");
  EXPECT_EQ(get("id"), "error 39");
  // The parent's methods see the parent's part only.
  set_running_class(base);
  EXPECT_EQ(get("id"), "7");
  EXPECT_EQ(get("x"), "error 39");
  str("id");
  row({1, 2, 3, 4});
  ASSERT_EQ(bi_setfield(c), kOk);
  EXPECT_EQ(top(), "obj<point>(base=obj<base>(id=[1 2 3 4]), x=1)");
  str("extra");
  str("e");
  ASSERT_EQ(bi_setfield(c), kOk);
  EXPECT_EQ(top(), "obj<point>(base=obj<base>(id=[1 2 3 4], extra='e'), x=1)");
  EXPECT_TRUE(vt::check_item(c));
  // Another class sees nothing.
  set_running_class(other);
  str("x");
  num(2);
  const StackSnapshot before = snapshot_stacks(c);
  EXPECT_EQ(bi_setfield(c), kPrivateField);
  EXPECT_TRUE(snapshot_stacks(c) == before);
  stk_drop(c);
  stk_drop(c);
  set_running_class(0);
  // Objects are not structures for the other field functions.
  str("x");
  expect_error(c, kWrongArgType, [&] { return bi_isfield(c); }, 1);
  expect_error(c, kWrongArgType, [&] { return bi_fieldnames(c); }, 0);
  str("x");
  expect_error(c, kWrongArgType, [&] { return bi_rmfield(c); }, 1);
}

}  // namespace
