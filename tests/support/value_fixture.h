// A fixture with a real started engine (engine_start: tables, error table,
// base frame), stack heights measured from the base frame, value builders for
// char rows and matrices, lists and cell arrays, and a deep check of every
// item left on the stack at the end of a test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "support/stack_invariants.h"
#include "support/typed_values.h"
#include "support/value_text.h"

struct ValueFixture : ::testing::Test {
  static constexpr uint32_t kBlockBytes = 1 << 21;
  std::unique_ptr<uint64_t[]> block{new uint64_t[kBlockBytes / 8]()};
  EngineContext* c = nullptr;
  int32_t base_desc = 0, base_data = 0;

  void SetUp() override {
    ASSERT_EQ(engine_start(block.get(), kBlockBytes, &c), kOk);
    base_desc = c->desc_top;
    base_data = c->data_top;
  }
  void TearDown() override {
    EXPECT_TRUE(check_stack_invariants(c, base_desc, base_data));
    for (int d = 0; d < items(); ++d) EXPECT_TRUE(vt::check_item(c, d)) << "depth " << d;
  }

  int items() const { return (c->desc_top - base_desc) / 3; }
  void clear() {
    while (items() > 0) stk_drop(c);
  }

  // Builders.
  void str(const std::string& s) { tv::push_chars(c, std::u16string(s.begin(), s.end())); }
  void chars(const std::vector<std::string>& rows) {
    const int32_t dims[2] = {int32_t(rows.size()), rows.empty() ? 0 : int32_t(rows[0].size())};
    uint16_t* d = nullptr;
    ASSERT_EQ(stk_push_char_array(c, 2, dims, &d), kOk);
    for (const auto& r : rows) for (char ch : r) *d++ = uint16_t(uint8_t(ch));
  }
  void num(double x) { tv::push_scalar(c, x); }
  void row(const std::vector<double>& v) { tv::push_row(c, v); }
  // Packs the n top items into a list.
  void list(int n) { ASSERT_EQ(stk_make_container(c, n, 0, nullptr, 0), kOk); }
  void strings(const std::vector<std::string>& v) {
    for (const auto& s : v) str(s);
    list(int(v.size()));
  }
  // Packs the top rows x cols items (row-major) into a cell array.
  void cells(int rows, int cols) {
    list(rows * cols);
    const int32_t dims[2] = {rows, cols};
    ASSERT_EQ(stk_reshape_container(c, 2, dims), kOk);
  }
  std::string top(int depth = 0) { return vt::show(c, depth); }
};
