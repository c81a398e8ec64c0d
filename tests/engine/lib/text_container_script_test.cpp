// String, cell, list and structure intrinsics called from source text: their
// error codes and reports come back from the run.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/script_fixture.h"

namespace {

struct TextContainerScript : ScriptFixture {
  // A real scalar left in the base workspace; NaN when there is none.
  double real(const char* name) {
    const uint32_t* h = var(name);
    if (h && h[0] == kKindReal && h[1] == 1 && h[2] == 1) return tn::ld_f64(h + 4);
    return std::nan("");
  }
};

TEST_F(TextContainerScript, ErrorCodesComeBackFromTheRun) {
  EXPECT_EQ(line("x = orderfields(struct('a', 1, 'b', 2), [1 1]);"), kNotPermutation);
  EXPECT_EQ(line("x = getfield(struct('a', 1), 'neverUsedAnywhere');"), kUndefinedField);
  EXPECT_EQ(line("x = struct('a', 1, 'b');"), kTooFewInputs);
  EXPECT_EQ(line("x = strmatch('a', {'a'}, 'z');"), kUnknownOption);
  EXPECT_EQ(line("e = 0; try, x = upper(3); catch, e = 1; end"), kOk);
  EXPECT_EQ(real("e"), 1.0);
  EXPECT_EQ(std::string(out, out_len),
            "Not a permutation of consecutive integers 'orderfields'\n"
            "Undefined structure field 'getfield'\n"
            "Too few input arguments 'struct'\n"
            "Unknown option 'strmatch'\n");
}

}  // namespace
