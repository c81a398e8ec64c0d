// Stack reordering checked against a plain vector-of-items model, plus the
// flat item form and the capacity failures that must leave
// both stacks untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "support/raw_items.h"
#include "support/test_context.h"
#include "support/stack_invariants.h"


namespace {

struct ModelItem {
  uint32_t desc[3];
  std::vector<uint64_t> data;
};

// The stack as a vector, bottom item first.
std::vector<ModelItem> read_stack(EngineContext* c) {
  std::vector<ModelItem> items;
  for (int d = stk_item_count(c) - 1; d >= 0; --d) {
    ModelItem m;
    std::copy_n(desc_at(c, d), 3, m.desc);
    const uint64_t* p = item_data(c, d);
    m.data.assign(p, p + desc_data_words(m.desc));
    items.push_back(m);
  }
  return items;
}

void expect_stack(EngineContext* c, const std::vector<ModelItem>& model, const char* step) {
  auto items = read_stack(c);
  ASSERT_EQ(items.size(), model.size()) << step;
  int64_t words = 0;
  for (size_t i = 0; i < model.size(); ++i) {
    ASSERT_TRUE(std::equal(model[i].desc, model[i].desc + 3, items[i].desc)) << step << " item " << i;
    ASSERT_EQ(items[i].data, model[i].data) << step << " item " << i;
    words += static_cast<int64_t>(model[i].data.size());
  }
  ASSERT_EQ(c->data_top, words) << step;
}

ModelItem random_item(std::mt19937_64& rng) {
  ModelItem m;
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  switch (pick(6)) {
    case 0: m.desc[0] = kKindReal; m.desc[1] = pick(4); m.desc[2] = pick(4); break;
    case 1: m.desc[0] = kKindComplex; m.desc[1] = 1 + pick(3); m.desc[2] = 1 + pick(3); break;
    case 2: m.desc[0] = kKindPayload; m.desc[1] = pick(6); m.desc[2] = kPayFirstClass; break;
    case 3: m.desc[0] = kKindContainer; m.desc[1] = pick(9); m.desc[2] = pick(3); break;
    case 4: m.desc[0] = kKindNoValue; m.desc[1] = 0; m.desc[2] = 0; break;
    default: m.desc[0] = kKindMarker; m.desc[1] = 0; m.desc[2] = static_cast<uint32_t>(rng()); break;
  }
  m.data.resize(desc_data_words(m.desc));
  for (auto& w : m.data) w = rng();
  return m;
}

void push_model_item(EngineContext* c, const ModelItem& m) {
  uint64_t* p = stk_claim(c, m.desc[0], m.desc[1], m.desc[2], static_cast<uint32_t>(m.data.size()));
  std::copy(m.data.begin(), m.data.end(), p);
}

}  // namespace

TEST(StackOps, RandomSequencesMatchModel) {
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    std::mt19937_64 rng(seed);
    // Small stacks so that duplication meets both capacity limits now and then.
    TestContext h = make_test_context(160, 3 * 24 + 1);
    EngineContext* c = h.ctx();
    std::vector<ModelItem> model;
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
    for (int step = 0; step < 400; ++step) {
      int size = static_cast<int>(model.size());
      int op = pick(0, 6);
      std::string what;
      if (op == 0 || size == 0) {
        ModelItem m = random_item(rng);
        if (size >= 20 || static_cast<int64_t>(m.data.size()) > data_free_words(c)) continue;
        push_model_item(c, m);
        model.push_back(m);
        what = "push";
      } else if (op == 1) {
        int n = pick(0, size + 1), k = pick(-1, n + 1);
        int st = stk_move(c, n, k);
        what = "move " + std::to_string(n) + "," + std::to_string(k);
        if (k < 1 || k == n) {
          ASSERT_EQ(st, kOk) << what;
        } else if (k > n || n > size) {
          ASSERT_EQ(st, kBadArgument) << what;
        } else {
          ASSERT_EQ(st, kOk) << what;
          std::rotate(model.end() - n, model.end() - n + k, model.end());
        }
      } else if (op == 2) {
        int n = pick(-1, size + 1);
        int st = stk_reverse(c, n);
        what = "reverse " + std::to_string(n);
        if (n > size && n >= 2) {
          ASSERT_EQ(st, kBadArgument) << what;
        } else {
          ASSERT_EQ(st, kOk) << what;
          if (n >= 2) std::reverse(model.end() - n, model.end());
        }
      } else if (op == 3) {
        int depth = pick(0, size), count = pick(-1, size - depth + 1);
        int st = stk_remove(c, depth, count);
        what = "remove " + std::to_string(depth) + "," + std::to_string(count);
        if (count < 1) {
          ASSERT_EQ(st, kOk) << what;
        } else if (depth + count > size) {
          ASSERT_EQ(st, kBadArgument) << what;
        } else {
          ASSERT_EQ(st, kOk) << what;
          model.erase(model.end() - depth - count, model.end() - depth);
        }
      } else if (op == 4) {
        int depth = pick(0, size), count = pick(0, size - depth + 1);
        int64_t desc_top = c->desc_top, free_words = data_free_words(c);
        int st = stk_dup(c, depth, count);
        what = "dup " + std::to_string(depth) + "," + std::to_string(count);
        if (count < 1) {
          ASSERT_EQ(st, kOk) << what;
        } else if (depth + count > size) {
          ASSERT_EQ(st, kBadArgument) << what;
        } else {
          int64_t words = 0;
          for (int i = size - depth - count; i < size - depth; ++i) words += model[i].data.size();
          if (desc_top + 3 * count >= static_cast<int64_t>(c->desc_capacity)) {
            ASSERT_EQ(st, kStackOverflow) << what;
          } else if (words > free_words) {
            ASSERT_EQ(st, kDataStackOverflow) << what;
          } else {
            ASSERT_EQ(st, kOk) << what;
            std::vector<ModelItem> copies(model.end() - depth - count, model.end() - depth);
            model.insert(model.end(), copies.begin(), copies.end());
          }
        }
      } else if (op == 5) {
        stk_drop(c);
        model.pop_back();
        what = "drop";
      } else {
        // Packing into a list and expanding again is the identity.
        int n = pick(1, size);
        what = "pack and expand " + std::to_string(n);
        int64_t free_words = data_free_words(c);
        int st = stk_make_container(c, n, 0, nullptr, 0);
        if (2 * n > free_words) {
          ASSERT_EQ(st, kDataStackOverflow) << what;
        } else {
          ASSERT_EQ(st, kOk) << what;
          ASSERT_EQ(stk_item_count(c), size - n + 1) << what;
          int32_t count = 0;
          ASSERT_EQ(stk_expand_list(c, &count), kOk) << what;
          ASSERT_EQ(count, n) << what;
        }
      }
      expect_stack(c, model, what.c_str());
    }
  }
}

// x (top), y, z named by their values.
class ThreeItems : public ::testing::Test {
 protected:
  void SetUp() override {
    tn_test::test_push_matrix(c, 1, 2, {3, 3});  // z
    tn_test::test_push_real(c, 2);               // y
    tn_test::test_push_matrix(c, 0, 0, {});      // x: empty
  }
  double scalar_at(int depth) { return tn_test::matrix_values(c, depth).at(0); }
  TestContext h = make_test_context(4096, 3 * 256 + 1);
  EngineContext* c = h.ctx();
};

TEST_F(ThreeItems, FlatFormRoundTrip) {
  double buf[8] = {};
  int64_t n = 0;
  ASSERT_EQ(stk_item_words(c, 2, &n), kOk);
  EXPECT_EQ(n, 5);
  ASSERT_EQ(stk_descriptor_as_doubles(c, 2, buf), kOk);
  EXPECT_EQ(buf[0], 0.0);
  EXPECT_EQ(buf[1], 1.0);
  EXPECT_EQ(buf[2], 2.0);
  EXPECT_EQ(buf[3], 3.0);
  ASSERT_EQ(stk_push_descriptor(c, buf), kOk);
  EXPECT_EQ(tn_test::matrix_values(c, 0), (std::vector<double>{3, 3}));

  // A user object's negative subtype reads as a negative number and returns.
  uint64_t* p = stk_claim(c, kKindContainer, 1, static_cast<uint32_t>(-5), 1);
  *p = 0x1234;
  ASSERT_EQ(stk_descriptor_as_doubles(c, 0, buf), kOk);
  EXPECT_EQ(buf[2], -5.0);
  ASSERT_EQ(stk_push_descriptor(c, buf), kOk);
  EXPECT_EQ(desc_at(c, 0)[2], static_cast<uint32_t>(-5));
  EXPECT_EQ(*item_data(c, 0), 0x1234u);
  EXPECT_EQ(stk_item_words(c, 9, &n), kBadArgument);
}

TEST(StackOps, PushDescriptorLimitsLeaveStacksUnchanged) {
  TestContext h = make_test_context(8, 3 * 2 + 1);
  EngineContext* c = h.ctx();
  tn_test::test_push_real(c, 1);
  auto before = snapshot_stacks(c);
  double big[3] = {0, 3, 3};  // nine words, seven free
  EXPECT_EQ(stk_push_descriptor(c, big), kDataStackOverflow);
  EXPECT_EQ(snapshot_stacks(c), before);
  double huge[3] = {0, 4e9, 4e9};  // product beyond 32 bits must not wrap
  EXPECT_EQ(stk_push_descriptor(c, huge), kDataStackOverflow);
  EXPECT_EQ(snapshot_stacks(c), before);
  double none[3] = {16, 0, 0};
  ASSERT_EQ(stk_push_descriptor(c, none), kOk);
  before = snapshot_stacks(c);
  EXPECT_EQ(stk_push_descriptor(c, none), kStackOverflow);
  EXPECT_EQ(snapshot_stacks(c), before);
}

// A typed array on top keeps its first elements as a smaller matrix, and the
// bytes past its new end in its last word are cleared (images save them);
// anything else, a growth or more than two dimensions is refused untouched.
TEST(StackOps, ShrinkTopTypedKeepsThePrefixAndClearsThePadding) {
  TestContext h = make_test_context(4096, 3 * 16 + 1);
  EngineContext* c = h.ctx();
  struct Case {
    int size;
    int32_t rows, cols, to_rows, to_cols;
    int status;
  };
  const Case cases[] = {
      {1, 1, 13, 1, 5, kOk},  {2, 7, 1, 3, 1, kOk},       {4, 1, 9, 1, 9, kOk},
      {8, 1, 4, 1, 1, kOk},   {1, 1, 8, 1, 0, kOk},       {2, 1, 5, 1, 6, kBadArgument},
      {4, 2, 3, 3, 2, kOk},   {4, 1, 3, -1, 1, kBadArgument},
  };
  for (const Case& k : cases) {
    const int32_t dims[2] = {k.rows, k.cols};
    void* data = nullptr;
    ASSERT_EQ(stk_push_typed_array(c, 2, dims, k.size, 0, &data), kOk);
    auto* e = static_cast<uint8_t*>(data);
    for (int64_t q = 0; q < int64_t{k.rows} * k.cols * k.size; ++q) e[q] = static_cast<uint8_t>(0xA0 + q);
    const int32_t top_before = c->data_top;
    const int64_t old_words = desc_data_words(desc_at(c, 0));
    ASSERT_EQ(stk_shrink_top_typed(c, k.to_rows, k.to_cols), k.status) << k.size << " " << k.to_cols;
    if (k.status == kOk) {
      const int64_t bytes = int64_t{k.to_rows} * k.to_cols * k.size;
      const int64_t words = (typed_header_bytes(2) + bytes + 7) / 8;
      EXPECT_EQ(desc_data_words(desc_at(c, 0)), words);
      EXPECT_EQ(c->data_top, top_before - old_words + words);
      auto* b = reinterpret_cast<uint8_t*>(item_data(c, 0));
      EXPECT_EQ(tn::ld_u32(b + 8), uint32_t(k.to_rows));
      EXPECT_EQ(tn::ld_u32(b + 12), uint32_t(k.to_cols));
      for (int64_t q = 0; q < bytes; ++q) EXPECT_EQ(e[q], static_cast<uint8_t>(0xA0 + q));
      for (int64_t q = typed_header_bytes(2) + bytes; q < words * 8; ++q) EXPECT_EQ(b[q], 0) << q;
    } else {
      EXPECT_EQ(c->data_top, top_before);
    }
    ASSERT_EQ(stk_remove(c, 0, 1), kOk);
  }
  const int32_t three[3] = {2, 2, 2};
  ASSERT_EQ(stk_push_typed_array(c, 3, three, 4, 0, nullptr), kOk);
  EXPECT_EQ(stk_shrink_top_typed(c, 1, 1), kBadArgument);
  tn_test::test_push_real(c, 2);
  EXPECT_EQ(stk_shrink_top_typed(c, 1, 1), kBadArgument);
}

// A double array of each shape goes under a top item of each kind, which
// keeps its descriptor and data, moved up past the new array's; the items
// below are untouched. Without room for both, on either stack, nothing
// changes.
TEST(StackOps, PushDoubleUnderTopMovesTheTopUp) {
  struct Shape {
    int ndims;
    int32_t dims[3];
  };
  const Shape shapes[] = {{2, {1, 9}}, {2, {4, 3}}, {3, {2, 1, 3}}, {2, {0, 5}}};
  for (const Shape& s : shapes)
    for (int top = 0; top < 3; ++top) {
      TestContext h = make_test_context(256, 3 * 4 + 1);
      EngineContext* c = h.ctx();
      tn_test::test_push_real(c, 7);
      const int32_t tdims[2] = {1, 11};
      void* data = nullptr;
      if (top == 0) ASSERT_EQ(stk_push_typed_array(c, 2, tdims, 1, 1, &data), kOk);
      if (top == 1) ASSERT_EQ(stk_push_typed_array(c, 2, tdims, 8, 0, &data), kOk);
      if (top == 2) tn_test::test_push_real(c, -2.5);
      if (data)
        for (int q = 0; q < 11 * (top == 0 ? 1 : 8); ++q) static_cast<uint8_t*>(data)[q] = uint8_t(q + 3);
      std::vector<ModelItem> model = read_stack(c);
      double* re = nullptr;
      ASSERT_EQ(stk_push_double_under_top(c, s.ndims, s.dims, &re), kOk);
      auto items = read_stack(c);
      ASSERT_EQ(items.size(), 3u);
      EXPECT_EQ(items[0].data, model[0].data);
      EXPECT_TRUE(std::equal(items[2].desc, items[2].desc + 3, model[1].desc));
      EXPECT_EQ(items[2].data, model[1].data);
      // The middle item is what a plain push of the shape makes.
      TestContext fresh = make_test_context(256, 3 * 4 + 1);
      double* fresh_re = nullptr;
      ASSERT_EQ(stk_push_double_nd(fresh.ctx(), s.ndims, s.dims, &fresh_re, nullptr), kOk);
      const auto plain = read_stack(fresh.ctx());
      EXPECT_TRUE(std::equal(items[1].desc, items[1].desc + 3, plain[0].desc)) << s.ndims << " " << top;
      const auto offset = reinterpret_cast<const uint8_t*>(fresh_re) -
                          reinterpret_cast<const uint8_t*>(item_data(fresh.ctx(), 0));
      EXPECT_EQ(reinterpret_cast<const uint8_t*>(re), reinterpret_cast<const uint8_t*>(item_data(c, 1)) + offset);
      if (s.ndims > 2)
        EXPECT_TRUE(std::equal(plain[0].data.begin(), plain[0].data.begin() + typed_header_bytes(3) / 8,
                               items[1].data.begin()));
      EXPECT_TRUE(check_stack_invariants(c));
    }
  // Room for the top item and not the array, or no descriptor to spare.
  for (uint32_t desc_words : {3u * 4 + 1, 3u * 1 + 1}) {
    TestContext h = make_test_context(desc_words > 4 ? 24 : 256, desc_words);
    EngineContext* c = h.ctx();
    const int32_t tdims[2] = {1, 40};
    ASSERT_EQ(stk_push_typed_array(c, 2, tdims, 4, 0, nullptr), kOk);
    const StackSnapshot before = snapshot_stacks(c);
    const int32_t dims[2] = {1, 40};
    double* re = nullptr;
    EXPECT_NE(stk_push_double_under_top(c, 2, dims, &re), kOk);
    EXPECT_TRUE(snapshot_stacks(c) == before);
  }
}
