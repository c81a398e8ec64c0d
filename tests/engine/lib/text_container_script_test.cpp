// String, cell, list and structure intrinsics called from source text: their
// error codes and reports come back from the run.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/core/containers.h"
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

// x = [x item] with a computed item, one or several, grows x's block where it
// lies: the block keeps room behind the value (a store of the concatenation
// would give the variable a block of exactly its words), and the value is
// the one the loop builds.
TEST_F(TextContainerScript, AppendsOfComputedItemsGrowTheVariableWhereTheyLie) {
  struct Case {
    const char* loop;
    double sum;   // of double(v), v the variable
    double count;
  };
  const Case cases[] = {
      {"v = 1:20; for k = 1:60, v = [v k * 2]; end", 210 + 60 * 61, 80},
      {"v = (1:20).'; for k = 1:60, v = [v; abs(-k)]; end", 210 + 30 * 61, 80},
      {"v = 1:20; for k = 1:60, v = [v k + 1 k + 2]; end", 210 + 30 * 61 * 2 + 180, 140},
      {"v = char(65 * ones(1, 30)); for k = 1:60, v = [v sprintf('%d', mod(k, 10))]; end", 65 * 30 + 6 * (48 * 10 + 45),
       90},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.loop);
    ASSERT_EQ(line(std::string(t.loop) + "\nn = numel(v); s = sum(double(v));"), kOk);
    EXPECT_EQ(real("n"), t.count);
    EXPECT_EQ(real("s"), t.sum);
    const uint32_t* h = var("v");
    ASSERT_NE(h, nullptr);
    const int32_t block = int32_t(reinterpret_cast<const uint64_t*>(h) - heap_words(c));
    EXPECT_GT(heap_block_size(c, block), kElemHeaderWords + int64_t(desc_data_words(h)));
  }
}

}  // namespace
