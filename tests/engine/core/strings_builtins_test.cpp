// utf8encode and utf8decode on the value stack, with their argument errors.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/core/strings.h"
#include "engine/core/strings_builtins.h"
#include "engine/core/value_stack.h"
#include "support/stack_invariants.h"
#include "support/test_context.h"

namespace {

void push_chars(EngineContext* c, const std::vector<uint16_t>& s) {
  uint16_t* d;
  ASSERT_EQ(stk_push_char_row(c, static_cast<int32_t>(s.size()), &d), kOk);
  if (!s.empty()) std::memcpy(d, s.data(), 2 * s.size());
}

void push_bytes(EngineContext* c, const std::vector<uint8_t>& b, bool is_unsigned = true) {
  int32_t dims[2] = {1, static_cast<int32_t>(b.size())};
  void* d;
  ASSERT_EQ(stk_push_typed_array(c, 2, dims, 1, is_unsigned, &d), kOk);
  if (!b.empty()) std::memcpy(d, b.data(), b.size());
}

// The top item's elements, with its element type and dims.
struct Top {
  uint32_t subtype, type, rows, cols;
  std::vector<uint8_t> bytes;
};

Top top(EngineContext* c) {
  TypedView t;
  EXPECT_TRUE(typed_view(c, 0, &t));
  Top r{t.subtype, t.type, t.dims[0], t.dims[1], {}};
  r.bytes.assign(t.elems, t.elems + t.count * t.size);
  return r;
}

std::vector<uint8_t> as_bytes(const std::vector<uint16_t>& s) {
  std::vector<uint8_t> b(2 * s.size());
  if (!s.empty()) std::memcpy(b.data(), s.data(), b.size());
  return b;
}

TEST(StringBuiltins, Utf8EncodeDecode) {
  TestContext tc = make_test_context(1 << 16);
  EngineContext* c = tc;
  ASSERT_EQ(stk_push_real(c, 7), kOk);  // an item below must stay untouched
  push_chars(c, {0x41, 0xe9, 0x20ac});
  ASSERT_EQ(builtin_utf8encode(c, 1, 1, 0), kOk);
  Top e = top(c);
  EXPECT_EQ(e.subtype, kPayNumeric);
  EXPECT_EQ(e.type, kElemU8);
  EXPECT_EQ(e.rows, 1u);
  EXPECT_EQ(e.cols, 6u);
  EXPECT_EQ(e.bytes, (std::vector<uint8_t>{0x41, 0xc3, 0xa9, 0xe2, 0x82, 0xac}));
  EXPECT_EQ(stk_item_count(c), 2);
  EXPECT_TRUE(check_stack_invariants(c));

  ASSERT_EQ(builtin_utf8decode(c, 1, 1, 0), kOk);  // and back
  Top d = top(c);
  EXPECT_EQ(d.subtype, kPayChar);
  EXPECT_EQ(d.bytes, as_bytes({0x41, 0xe9, 0x20ac}));
  EXPECT_TRUE(check_stack_invariants(c));
  stk_drop(c);
  double v;
  ASSERT_EQ(stk_pop_real_scalar(c, &v), kOk);
  EXPECT_EQ(v, 7);

  push_bytes(c, {0x41, 0xff, 0x42}, false);  // signed bytes are accepted too
  ASSERT_EQ(builtin_utf8decode(c, 1, 1, 0), kOk);
  EXPECT_EQ(top(c).bytes, as_bytes({'A', 'B'}));
  stk_drop(c);

  push_bytes(c, {0xc3});
  ASSERT_EQ(builtin_utf8decode(c, 1, 1, 0), kOk);
  Top empty = top(c);
  EXPECT_EQ(empty.subtype, kPayChar);
  EXPECT_EQ(empty.rows + empty.cols, 0u);
  stk_drop(c);

  push_chars(c, {});
  ASSERT_EQ(builtin_utf8encode(c, 1, 1, 0), kOk);
  EXPECT_EQ(top(c).bytes.size(), 0u);
  EXPECT_TRUE(check_stack_invariants(c));
}

TEST(StringBuiltins, WrongArgumentsAndOverflow) {
  TestContext tc = make_test_context(1 << 14);
  EngineContext* c = tc;
  ASSERT_EQ(stk_push_real(c, 65), kOk);
  EXPECT_EQ(builtin_utf8encode(c, 1, 1, 0), kWrongArgType);
  EXPECT_EQ(builtin_utf8decode(c, 1, 1, 0), kWrongArgType);
  stk_drop(c);
  int32_t dims[2] = {1, 2};
  void* d;
  ASSERT_EQ(stk_push_typed_array(c, 2, dims, 2, 1, &d), kOk);  // uint16 is not bytes
  EXPECT_EQ(builtin_utf8decode(c, 1, 1, 0), kWrongArgType);
  stk_drop(c);
  push_chars(c, {'a'});
  EXPECT_EQ(builtin_utf8decode(c, 1, 1, 0), kWrongArgType);
  stk_drop(c);
  uint8_t* l;
  ASSERT_EQ(stk_push_logical_array(c, 2, dims, &l), kOk);
  EXPECT_EQ(builtin_utf8decode(c, 1, 1, 0), kWrongArgType);
  stk_drop(c);

  // Three bytes a character do not fit where the characters just did; the
  // failure leaves the stack as it was.
  int64_t free_words = data_free_words(c);
  std::vector<uint16_t> wide(static_cast<size_t>((free_words - 4) * 4 / 2), 0x20ac);
  push_chars(c, wide);
  int32_t top_before = c->data_top;
  EXPECT_EQ(builtin_utf8encode(c, 1, 1, 0), kDataStackOverflow);
  EXPECT_EQ(c->data_top, top_before);
  EXPECT_TRUE(check_stack_invariants(c));
}

}  // namespace
