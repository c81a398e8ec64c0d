// A started engine for the sort and set tests, with helpers that push and
// read lists (or cells) of strings, and the check that a call replaced its
// arguments by its outputs and left well-formed stacks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "support/expect_error.h"
#include "support/stack_invariants.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

class SetFixture : public StartedEngineTest {
 protected:
  // Runs a call on the top nargin items and expects nout items in their place.
  template <typename Call>
  void expect_ok(Call call, int nargin, int nout) {
    const int before = items();
    ASSERT_EQ(call(), kOk);
    ASSERT_EQ(items(), before - nargin + nout);
    ASSERT_TRUE(check_stack_invariants(c, desc0, data0));
  }
  void push_list(const std::vector<std::u16string>& strings, bool cell = false) {
    for (const auto& s : strings) tv::push_chars(c, s);
    ASSERT_EQ(stk_make_container(c, static_cast<int>(strings.size()), 0, nullptr, 0), kOk);
    if (cell) {
      const int32_t dims[2] = {1, static_cast<int32_t>(strings.size())};
      ASSERT_EQ(stk_reshape_container(c, 2, dims), kOk);
    }
  }

  // The strings of a list or cell at depth; a non-string element reads "<?>".
  std::vector<std::u16string> read_list(int depth = 0) {
    std::vector<std::u16string> out;
    int32_t n = 0;
    uint64_t* e = nullptr;
    EXPECT_EQ(stk_get_container_dims(c, depth, nullptr, nullptr, &n, &e), kOk);
    for (int32_t k = 0; k < n; ++k, e += elem_total_words(e)) {
      if (elem_kind(e) != kKindPayload || elem_word(e, 2) != kPayChar) {
        out.push_back(u"<?>");
        continue;
      }
      const auto* p = reinterpret_cast<const uint8_t*>(elem_data(e));
      const uint32_t ndims = tn::ld_u32(p + 4);
      size_t count = 1;
      for (uint32_t d = 0; d < ndims; ++d) count *= tn::ld_u32(p + 8 + 4 * d);
      const auto* chars = reinterpret_cast<const char16_t*>(p + typed_header_bytes(ndims));
      out.emplace_back(chars, chars + count);
    }
    return out;
  }
};
