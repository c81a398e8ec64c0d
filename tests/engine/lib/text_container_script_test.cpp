// String, cell, list and structure intrinsics called from source text: the
// compiled opcodes reach their handlers, several outputs arrive in order, and
// the error codes come back from the run.
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

TEST_F(TextContainerScript, IntrinsicsRunFromSource) {
  // The base workspace holds 16 variables: names are reused.
  EXPECT_EQ(line("s = struct('b', 1, 'a', 2, 'ab', 3); [t, p] = orderfields(s); f = fieldnames(t);"), kOk);
  EXPECT_EQ(line("ok = 0; if strcmp(f{1}, 'a') && strcmp(f{2}, 'ab') && strcmp(f{3}, 'b'), ok = 1; end"), kOk);
  EXPECT_EQ(real("ok"), 1.0);
  EXPECT_EQ(line("x = p(1); y = p(3);"), kOk);
  EXPECT_EQ(real("x"), 2.0);
  EXPECT_EQ(real("y"), 1.0);
  EXPECT_EQ(line("s = setfield(s, 'c', [1 2 3]); s = rmfield(s, {'a', 'b'}); g = getfield(s, 'c'); x = g(3);"), kOk);
  EXPECT_EQ(real("x"), 3.0);
  EXPECT_EQ(line("ok = 0; if isfield(s, 'ab') && ~isfield(s, 'a') && isstruct(s), ok = 1; end"), kOk);
  EXPECT_EQ(real("ok"), 1.0);
  EXPECT_EQ(line("[t, p] = strtok('  hello world'); ok = 0;"), kOk);
  EXPECT_EQ(line("if strcmp(t, 'hello') && strcmp(p, ' world') && strcmpi(upper(t), 'HELLO'), ok = 1; end"), kOk);
  EXPECT_EQ(real("ok"), 1.0);
  EXPECT_EQ(line("g = list2num(num2list([1 2; 3 4], 1)); x = g(4); q = num2cell([5 6]); y = q{2};"), kOk);
  EXPECT_EQ(real("x"), 4.0);
  EXPECT_EQ(real("y"), 6.0);
  EXPECT_EQ(line("x = strmatch('ab', {'x', 'ab'}, 'exact'); g = findstr('abababa', 'aba'); y = g(3);"), kOk);
  EXPECT_EQ(real("x"), 2.0);
  EXPECT_EQ(real("y"), 5.0);
  EXPECT_EQ(line("g = replist({1, 2}, 3); x = g{6}; ok = 0; if iscell(g) && islist(g) && ~islist(q), ok = 1; end"), kOk);
  EXPECT_EQ(real("x"), 2.0);
  EXPECT_EQ(real("ok"), 1.0);
  EXPECT_EQ(line("g = deblank(strtrim('  ab  ')); t = isletter(g); ok = 0; if strcmp(g, 'ab') && t(2), ok = 1; end"), kOk);
  EXPECT_EQ(real("ok"), 1.0);
  EXPECT_EQ(std::string(out, out_len), "");
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

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
