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

// Text that becomes source or a name refuses a character above 255 (307)
// instead of cutting it to its low byte; a character up to 255 is taken.
TEST_F(TextContainerScript, TextAboveAByteIsNoNameAndNoSource) {
  struct Case {
    const char* line;
    int status;
  };
  const Case cases[] = {
      {"x = eval(['''abc''' char(295) ';']);", kUnknownCharset},  // the cut made a quote
      {"eval(['x = 1;' char(295)]);", kUnknownCharset},
      {"x = feval(['ab' char(371)], -1);", kUnknownCharset},  // the cut called abs
      {"feval(['ab' char(371)], -1);", kUnknownCharset},
      {"x = builtin(['ab' char(371)], -1);", kUnknownCharset},
      {"x = str2fun(['ab' char(371)]);", kUnknownCharset},
      {"x = inline(['x' char(371)]);", kUnknownCharset},
      {"s.a = 1; x = s.(char(353));", kUnknownCharset},  // the cut read field a
      {"s.a = 1; s.(char(353)) = 2;", kUnknownCharset},
      {"x = struct(char(353), 1);", kUnknownCharset},
      {"s.a = 1; x = setfield(s, char(353), 2);", kUnknownCharset},
      {"s.a = 1; x = isfield(s, char(353));", kUnknownCharset},
      {"x = getfield(struct('a', 1), char(353));", kUnknownCharset},
      {"x = eval(['x = 1' char(233)]);", kUnrecognizedToken},  // a byte: compiled as it stands
      {"x = struct(['b' char(233)], 1);", kOk},
      {"x = feval(['ab' 's'], -1);", kOk},
  };
  for (const Case& k : cases) {
    line("clear x");
    EXPECT_EQ(line(k.line), k.status) << k.line;
    if (k.status != kOk) {
      EXPECT_EQ(var("x"), nullptr) << k.line;
    }
  }
}

}  // namespace
