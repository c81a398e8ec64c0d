// Containers built and taken apart again (lists, structures, cell arrays),
// reshaping, transposing, and the capacity failures that must leave both
// stacks as they were.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "support/raw_items.h"
#include "support/test_context.h"
#include "support/stack_invariants.h"

using tn_test::matrix_values;
using tn_test::test_push_chars;
using tn_test::test_push_matrix;
using tn_test::test_push_real;
using tn_test::test_push_typed;

namespace {

std::vector<double> values(std::initializer_list<double> v) { return v; }

std::vector<uint32_t> typed_dims(EngineContext* c, int depth) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(item_data(c, depth));
  std::vector<uint32_t> d(tn::ld_u32(p + 4));
  for (size_t i = 0; i < d.size(); ++i) d[i] = tn::ld_u32(p + 8 + 4 * i);
  return d;
}

class Containers : public ::testing::Test {
 protected:
  TestContext h = make_test_context(4096, 3 * 256 + 1);
  EngineContext* c = h.ctx();
};

}  // namespace

TEST_F(Containers, ListPackAndExpandRoundTrip) {
  test_push_real(c, 7);
  test_push_matrix(c, 2, 1, {1, 2}, {3, 4});
  test_push_chars(c, "abc");
  auto before = snapshot_stacks(c);
  int32_t items_words = c->data_top;
  ASSERT_EQ(stk_make_container(c, 3, 0, nullptr, 0), kOk);
  ASSERT_EQ(stk_item_count(c), 1);
  EXPECT_EQ(desc_at(c, 0)[1], static_cast<uint32_t>(items_words + 6));
  EXPECT_EQ(c->data_top, items_words + 6);
  EXPECT_TRUE(stk_is_list(c, 0));
  EXPECT_FALSE(stk_is_struct(c, 0));
  EXPECT_FALSE(stk_is_object(c, 0));

  int nd = 0;
  const uint32_t* dims = nullptr;
  int32_t count = 0;
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &count, nullptr), kOk);
  EXPECT_EQ(nd, 1);
  EXPECT_EQ(dims, nullptr);
  EXPECT_EQ(count, 3);

  ASSERT_EQ(stk_list_get(c, 0, 2), kOk);
  EXPECT_EQ(matrix_values(c, 0), values({1, 2, 3, 4}));
  EXPECT_EQ(desc_at(c, 0)[0], kKindComplex);
  stk_drop(c);
  ASSERT_EQ(stk_list_get(c, 0, 1), kOk);
  EXPECT_EQ(matrix_values(c, 0), values({7}));
  stk_drop(c);
  EXPECT_EQ(stk_list_get(c, 0, 0), kIndexOutOfRange);
  EXPECT_EQ(stk_list_get(c, 0, 4), kIndexOutOfRange);
  EXPECT_EQ(stk_struct_get_field(c, 0, "a", 1), kWrongType);
  EXPECT_EQ(stk_container_field_at(c, 0, 1, nullptr, nullptr), kWrongType);

  ASSERT_EQ(stk_expand_list(c, &count), kOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(snapshot_stacks(c), before);
  EXPECT_TRUE(check_stack_invariants(c));
}

TEST_F(Containers, StructureFieldsByName) {
  test_push_real(c, 1);
  ASSERT_EQ(stk_make_container(c, 1, 0, "alpha", 5), kOk);
  uint32_t size = desc_at(c, 0)[1];
  test_push_matrix(c, 1, 3, {4, 5, 6});
  ASSERT_EQ(stk_make_container(c, 1, 1, "beta", 4), kOk);
  EXPECT_EQ(desc_at(c, 0)[1], size + 2 + 3);  // appending adds 2 + data words
  EXPECT_EQ(stk_item_count(c), 1);
  EXPECT_TRUE(stk_is_struct(c, 0));
  EXPECT_FALSE(stk_is_list(c, 0));

  ASSERT_EQ(stk_struct_get_field(c, 0, "beta", 4), kOk);
  EXPECT_EQ(matrix_values(c, 0), values({4, 5, 6}));
  ASSERT_EQ(stk_struct_get_field(c, 1, "alpha", 5), kOk);
  EXPECT_EQ(matrix_values(c, 0), values({1}));
  stk_drop(c);
  stk_drop(c);

  const char* name = nullptr;
  int32_t len = 0;
  ASSERT_EQ(stk_container_field_at(c, 0, 2, &name, &len), kOk);
  EXPECT_EQ(std::string(name, len), "beta");
  EXPECT_EQ(stk_container_field_at(c, 0, 3, &name, &len), kIndexOutOfRange);
  EXPECT_EQ(stk_container_field_at(c, 0, 0, &name, &len), kIndexOutOfRange);
  EXPECT_EQ(stk_list_get(c, 0, 1), kWrongType);

  // A name never interned is refused without touching the symbol area; an
  // interned name that no field carries is refused after the walk.
  int32_t extent = c->sym_extent;
  EXPECT_EQ(stk_struct_get_field(c, 0, "gamma", 5), kUndefinedField);
  EXPECT_EQ(c->sym_extent, extent);
  int32_t sym = 0;
  ASSERT_EQ(symtab_intern(c, "delta", 5, kIdentifierLimit, &sym), kOk);
  EXPECT_EQ(stk_struct_get_field(c, 0, "delta", 5), kUndefinedField);

  int32_t count = 0;
  ASSERT_EQ(stk_expand_list(c, &count), kOk);  // field values, names dropped
  EXPECT_EQ(count, 2);
  EXPECT_EQ(matrix_values(c, 0), values({4, 5, 6}));
  EXPECT_EQ(matrix_values(c, 1), values({1}));
}

TEST_F(Containers, MakeContainerRefusals) {
  test_push_real(c, 1);
  test_push_real(c, 2);
  auto before = snapshot_stacks(c);
  EXPECT_EQ(stk_make_container(c, 1, 1, nullptr, 0), kBadArgument);  // below is no container
  EXPECT_EQ(stk_make_container(c, 3, 0, nullptr, 0), kBadArgument);  // fewer items than n
  std::string longname(33, 'n');
  EXPECT_EQ(stk_make_container(c, 1, 0, longname.data(), 33), kNameTooLong);
  EXPECT_EQ(stk_make_container(c, 1, 0, "", 0), kNullName);
  EXPECT_EQ(snapshot_stacks(c), before);
}

TEST_F(Containers, CellArrays) {
  int32_t three = 3;
  ASSERT_EQ(stk_push_cell_array(c, 1, &three), kOk);
  int nd = 0;
  const uint32_t* dims = nullptr;
  int32_t count = 0;
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &count, nullptr), kOk);
  EXPECT_EQ(nd, 2);
  EXPECT_EQ(dims[0], 3u);
  EXPECT_EQ(dims[1], 3u);
  EXPECT_EQ(count, 9);
  EXPECT_TRUE(stk_is_list(c, 0));
  ASSERT_EQ(stk_list_get(c, 0, 1), kOk);  // the first cell, not the size vector
  EXPECT_EQ(desc_at(c, 0)[0], kKindReal);
  EXPECT_EQ(desc_at(c, 0)[1], 0u);
  stk_drop(c);
  EXPECT_EQ(stk_list_get(c, 0, 10), kIndexOutOfRange);
  int32_t raw_count = 0;
  ASSERT_EQ(stk_get_container(c, 0, &raw_count, nullptr), kOk);
  EXPECT_EQ(raw_count, 10);
  ASSERT_EQ(stk_expand_list(c, &count), kOk);
  EXPECT_EQ(count, 9);
  EXPECT_EQ(c->data_top, 0);

  int32_t shapes[][4] = {{2, 0, 0, 0}, {2, 3, 1, 1}, {-4, 2, 0, 0}};
  int nds[] = {2, 4, 2};
  uint32_t want_k[] = {2, 2, 2}, want_cells[] = {0, 6, 0};
  for (int i = 0; i < 3; ++i) {
    TestContext fresh = make_test_context(4096, 3 * 256 + 1);
    ASSERT_EQ(stk_push_cell_array(fresh.ctx(), nds[i], shapes[i]), kOk);
    ASSERT_EQ(stk_get_container_dims(fresh.ctx(), 0, &nd, &dims, &count, nullptr), kOk);
    EXPECT_EQ(static_cast<uint32_t>(nd), want_k[i]) << i;
    EXPECT_EQ(static_cast<uint32_t>(count), want_cells[i]) << i;
  }
  int32_t many[17] = {};
  EXPECT_EQ(stk_push_cell_array(c, 17, many), kArgOutOfRange);
  ASSERT_EQ(stk_push_cell_array(c, 0, nullptr), kOk);
  ASSERT_EQ(stk_get_container_dims(c, 0, &nd, &dims, &count, nullptr), kOk);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(check_stack_invariants(c));
}

TEST_F(Containers, ReshapeMatrices) {
  test_push_matrix(c, 2, 3, {1, 2, 3, 4, 5, 6});
  int32_t d32[2] = {3, 2}, d42[2] = {4, 2};
  ASSERT_EQ(stk_reshape(c, 2, d32), kOk);
  EXPECT_EQ(desc_at(c, 0)[1], 3u);
  EXPECT_EQ(desc_at(c, 0)[2], 2u);
  EXPECT_EQ(matrix_values(c, 0), values({1, 2, 3, 4, 5, 6}));
  auto before = snapshot_stacks(c);
  EXPECT_EQ(stk_reshape(c, 2, d42), kBadSize);
  int32_t neg[2] = {-2, -3};
  EXPECT_EQ(stk_reshape(c, 2, neg), kBadSize);
  int32_t many[17];
  std::fill(many, many + 17, 1);
  many[0] = 6;
  EXPECT_EQ(stk_reshape(c, 17, many), kArgOutOfRange);
  EXPECT_EQ(snapshot_stacks(c), before);

  ASSERT_EQ(stk_reshape(c, 0, nullptr), kOk);  // count x 1
  EXPECT_EQ(desc_at(c, 0)[1], 6u);
  EXPECT_EQ(desc_at(c, 0)[2], 1u);

  // More than two dimensions make a double typed array; the data follow the header.
  int32_t d123[4] = {1, 2, 3, 1};
  ASSERT_EQ(stk_reshape(c, 4, d123), kOk);
  EXPECT_EQ(desc_at(c, 0)[0], kKindPayload);
  EXPECT_EQ(desc_at(c, 0)[2], kPayNumeric);
  EXPECT_EQ(typed_dims(c, 0), (std::vector<uint32_t>{1, 2, 3}));
  const uint64_t* p = item_data(c, 0);
  EXPECT_EQ(tn::ld_u32(p), kElemDouble);
  EXPECT_EQ(tn::ld_f64(p + 3), 1.0);
  EXPECT_EQ(tn::ld_f64(p + 8), 6.0);
  ASSERT_EQ(stk_reshape(c, 2, d32), kOk);  // stays typed, header shrinks
  EXPECT_EQ(typed_dims(c, 0), (std::vector<uint32_t>{3, 2}));
  EXPECT_EQ(desc_at(c, 0)[1], 2u + 6u);
  EXPECT_EQ(tn::ld_f64(item_data(c, 0) + 2), 1.0);
  EXPECT_EQ(c->data_top, 8);

  TestContext cx = make_test_context(4096, 3 * 256 + 1);
  test_push_matrix(cx.ctx(), 1, 2, {1, 2}, {3, 4});
  int32_t d112[3] = {1, 1, 2};
  ASSERT_EQ(stk_reshape(cx.ctx(), 3, d112), kOk);
  EXPECT_EQ(tn::ld_u32(item_data(cx.ctx(), 0)), kElemDoubleComplex);
  EXPECT_EQ(desc_at(cx.ctx(), 0)[1], 3u + 4u);
  EXPECT_TRUE(check_stack_invariants(c));
}

TEST_F(Containers, Transpose) {
  test_push_matrix(c, 1, 5, {1, 2, 3, 4, 5});
  int32_t top = c->data_top;
  ASSERT_EQ(stk_transpose(c), kOk);
  EXPECT_EQ(desc_at(c, 0)[1], 5u);
  EXPECT_EQ(desc_at(c, 0)[2], 1u);
  EXPECT_EQ(c->data_top, top);
  stk_drop(c);

  test_push_matrix(c, 2, 3, {1, 2, 3, 4, 5, 6}, {-1, -2, -3, -4, -5, -6});
  ASSERT_EQ(stk_transpose(c), kOk);
  EXPECT_EQ(desc_at(c, 0)[1], 3u);
  EXPECT_EQ(matrix_values(c, 0), values({1, 4, 2, 5, 3, 6, -1, -4, -2, -5, -3, -6}));
  stk_drop(c);

  int16_t ints[6] = {1, 2, 3, 4, 5, 6};
  test_push_typed(c, kPayNumeric, kElemI16, {2, 3}, ints);
  ASSERT_EQ(stk_transpose(c), kOk);
  EXPECT_EQ(typed_dims(c, 0), (std::vector<uint32_t>{3, 2}));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(item_data(c, 0)) + 16;
  int16_t want[6] = {1, 4, 2, 5, 3, 6};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(tn::load<int16_t>(p + 2 * i), want[i]) << i;
  stk_drop(c);

  test_push_typed(c, kPayLogical, kElemU8, {2, 2, 2});
  auto before = snapshot_stacks(c);
  EXPECT_EQ(stk_transpose(c), kNonMatrixArray);
  EXPECT_EQ(snapshot_stacks(c), before);
  ASSERT_EQ(stk_make_container(c, 1, 0, nullptr, 0), kOk);
  EXPECT_EQ(stk_transpose(c), kWrongType);
}

namespace {

// One capacity case: stacks of the given sizes, a setup that fills them with
// test builders, and the operation that must fail leaving them as they were.
struct LimitCase {
  const char* what;
  uint32_t data_words;
  int items_room;  // descriptors that fit
  void (*setup)(EngineContext*);
  int (*op)(EngineContext*);
  int want;
};

void two_reals(EngineContext* c) {
  test_push_real(c, 1);
  test_push_real(c, 2);
}
void square(EngineContext* c) { test_push_matrix(c, 3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}); }
void list_of_square(EngineContext* c) {
  square(c);
  stk_make_container(c, 1, 0, nullptr, 0);
}
void struct_of_square(EngineContext* c) {
  square(c);
  stk_make_container(c, 1, 0, "f", 1);
}
void list_of_two(EngineContext* c) {
  two_reals(c);
  stk_make_container(c, 2, 0, nullptr, 0);
}
void list_of_three(EngineContext* c) {
  two_reals(c);
  test_push_real(c, 3);
  stk_make_container(c, 3, 0, nullptr, 0);
}
void int16_square(EngineContext* c) { test_push_typed(c, kPayNumeric, kElemI16, {3, 3}); }
void char_2x3(EngineContext* c) { test_push_typed(c, kPayChar, kElemU16, {2, 3}); }
void matrix_2x3(EngineContext* c) { test_push_matrix(c, 2, 3, {1, 2, 3, 4, 5, 6}); }
void nothing(EngineContext*) {}

int32_t k123[3] = {1, 2, 3};
int32_t k21[2] = {2, 1};
int32_t k2[1] = {2};

const LimitCase kLimitCases[] = {
    {"transpose matrix", 17, 4, square, [](EngineContext* c) { return stk_transpose(c); }, 3},
    {"transpose int16", 7, 4, int16_square, [](EngineContext* c) { return stk_transpose(c); }, 3},
    {"list_get data", 19, 4, list_of_square, [](EngineContext* c) { return stk_list_get(c, 0, 1); }, 3},
    {"struct field data", 19, 4, struct_of_square,
     [](EngineContext* c) { return stk_struct_get_field(c, 0, "f", 1); }, 3},
    {"dup data", 17, 4, square, [](EngineContext* c) { return stk_dup(c, 0, 1); }, 3},
    {"cell array data", 12, 4, nothing, [](EngineContext* c) { return stk_push_cell_array(c, 1, k2); }, 3},
    {"reshape list data", 10, 4, list_of_two, [](EngineContext* c) { return stk_reshape_container(c, 2, k21); }, 3},
    {"reshape matrix to 3-D", 8, 4, matrix_2x3, [](EngineContext* c) { return stk_reshape(c, 3, k123); }, 3},
    {"reshape chars to 3-D", 4, 4, char_2x3, [](EngineContext* c) { return stk_reshape(c, 3, k123); }, 3},
    {"raw payload data", 5, 4, nothing,
     [](EngineContext* c) { return stk_push_raw(c, kPayFirstClass, 40, nullptr); }, 3},
    {"pack data", 5, 4, two_reals, [](EngineContext* c) { return stk_make_container(c, 2, 0, nullptr, 0); }, 3},
    {"empty list descriptor", 8, 2, two_reals,
     [](EngineContext* c) { return stk_make_container(c, 0, 0, nullptr, 0); }, 1},
    {"cell array descriptor", 64, 2, two_reals,
     [](EngineContext* c) { return stk_push_cell_array(c, 0, nullptr); }, 1},
    {"list_get descriptor", 64, 1, list_of_square, [](EngineContext* c) { return stk_list_get(c, 0, 1); }, 1},
    {"dup descriptor", 64, 2, two_reals, [](EngineContext* c) { return stk_dup(c, 0, 1); }, 1},
    {"raw payload descriptor", 64, 2, two_reals,
     [](EngineContext* c) { return stk_push_raw(c, kPayFirstClass, 8, nullptr); }, 1},
    {"expand descriptors", 64, 2, list_of_three, [](EngineContext* c) { return stk_expand_list(c, nullptr); }, 1},
};

}  // namespace

TEST(ContainerLimits, FailuresLeaveStacksUnchanged) {
  for (const LimitCase& t : kLimitCases) {
    TestContext h = make_test_context(t.data_words, 3 * t.items_room + 1);
    EngineContext* c = h.ctx();
    t.setup(c);
    auto before = snapshot_stacks(c);
    int32_t extent = c->sym_extent;
    EXPECT_EQ(t.op(c), t.want) << t.what;
    EXPECT_TRUE(snapshot_stacks(c) == before) << t.what;
    EXPECT_EQ(c->sym_extent, extent) << t.what;
  }
}
