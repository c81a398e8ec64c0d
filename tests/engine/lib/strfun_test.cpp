// String intrinsics against worked-out results: class tests, case mapping,
// comparison with and without a count, search, matching of char matrices and
// lists, tokens and trimming; their error codes with the arguments left as
// they were.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/lib/strfun.h"
#include "support/value_fixture.h"

namespace {

// An argument: a char row, a char matrix, a number or a list of strings.
struct Arg {
  enum Kind { kStr, kMatrix, kNum, kList, kRow } kind;
  std::vector<std::string> text;
  std::vector<double> values;
};
Arg S(const std::string& s) { return {Arg::kStr, {s}, {}}; }
Arg M(std::vector<std::string> rows) { return {Arg::kMatrix, std::move(rows), {}}; }
Arg N(double x) { return {Arg::kNum, {}, {x}}; }
Arg R(std::vector<double> v) { return {Arg::kRow, {}, std::move(v)}; }
Arg Lst(std::vector<std::string> v) { return {Arg::kList, std::move(v), {}}; }

using Call = std::function<int(EngineContext*, int nargin, int nargout)>;

struct Case {
  const char* what;
  Call fn;
  std::vector<Arg> args;
  int nargout;
  std::string want;  // outputs from the top down, joined by " | "
};

const Call kIsletter = [](EngineContext* c, int, int) { return bi_char_test(c, kCharLetter); };
const Call kIsdigit = [](EngineContext* c, int, int) { return bi_char_test(c, kCharDigit); };
const Call kIsspace = [](EngineContext* c, int, int) { return bi_char_test(c, kCharSpace); };
const Call kUpper = [](EngineContext* c, int, int) { return bi_change_case(c, kCaseUpper); };
const Call kLower = [](EngineContext* c, int, int) { return bi_change_case(c, kCaseLower); };
const Call kStrcmp = [](EngineContext* c, int n, int) { return bi_strcmp(c, 0, n); };
const Call kStrcmpi = [](EngineContext* c, int n, int) { return bi_strcmp(c, 1, n); };
const Call kFindstr = [](EngineContext* c, int, int) { return bi_findstr(c); };
const Call kStrmatch = [](EngineContext* c, int n, int) { return bi_strmatch(c, n); };
const Call kDeblank = [](EngineContext* c, int, int) { return bi_deblank(c, kTrimTrailing); };
const Call kStrtrim = [](EngineContext* c, int, int) { return bi_deblank(c, kTrimBoth); };
const Call kStrtok = [](EngineContext* c, int n, int o) { return bi_strtok(c, n, o); };

class StrFun : public ValueFixture {
 protected:
  void push(const Arg& a) {
    switch (a.kind) {
      case Arg::kStr: str(a.text[0]); break;
      case Arg::kMatrix: chars(a.text); break;
      case Arg::kNum: num(a.values[0]); break;
      case Arg::kRow: row(a.values); break;
      case Arg::kList: strings(a.text); break;
    }
  }
  // Runs a case; returns the outputs' texts, or "error N" with the stack
  // checked unchanged.
  std::string run(const Case& k) {
    for (const Arg& a : k.args) push(a);
    const int nargin = int(k.args.size());
    const StackSnapshot before = snapshot_stacks(c);
    const int status = k.fn(c, nargin, k.nargout);
    if (status != kOk) {
      EXPECT_TRUE(snapshot_stacks(c) == before) << k.what;
      clear();
      return "error " + std::to_string(status);
    }
    const int outputs = k.nargout >= 2 ? k.nargout : 1;
    EXPECT_EQ(items(), outputs) << k.what;
    std::string s;
    for (int d = 0; d < items(); ++d) {
      EXPECT_TRUE(vt::check_item(c, d)) << k.what;
      s += (d ? " | " : "") + top(d);
    }
    clear();
    return s;
  }
};

TEST_F(StrFun, WorkedResults) {
  const std::vector<Case> cases = {
      // Classes: ASCII only, the argument's shape kept.
      {"isletter", kIsletter, {S("a1_Z")}, 1, "logical([1 0 0 1])"},
      {"isdigit", kIsdigit, {S("a10 ")}, 1, "logical([0 1 1 0])"},
      {"isspace tab", kIsspace, {S("a\tb\r\n ")}, 1, "logical([0 1 0 1 1 1])"},
      {"isspace of zero", kIsspace, {S(std::string("a\0", 2))}, 1, "logical([0 0])"},
      {"class of matrix", kIsletter, {M({"a1", "2b"})}, 1, "logical([1 0;0 1])"},
      {"class of empty", kIsdigit, {S("")}, 1, "logical([])"},
      {"upper", kUpper, {S("abc1Z{")}, 1, "'ABC1Z{'"},
      {"lower", kLower, {S("ABC1z@[")}, 1, "'abc1z@['"},
      {"upper matrix", kUpper, {M({"ab", "cd"})}, 1, "['AB';'CD']"},
      // Comparison.
      {"strcmp equal", kStrcmp, {S("abc"), S("abc")}, 1, "logical(1)"},
      {"strcmp longer", kStrcmp, {S("abc"), S("abcd")}, 1, "logical(0)"},
      {"strcmp case", kStrcmp, {S("abc"), S("ABC")}, 1, "logical(0)"},
      {"strcmp empty", kStrcmp, {S(""), S("")}, 1, "logical(1)"},
      {"strcmp n prefix", kStrcmp, {S("abc"), S("abd"), N(2)}, 1, "logical(1)"},
      {"strcmp n past end", kStrcmp, {S("ab"), S("abc"), N(3)}, 1, "logical(0)"},
      {"strcmp n both short", kStrcmp, {S("ab"), S("ab"), N(5)}, 1, "logical(1)"},
      {"strcmp n both long", kStrcmp, {S("abcx"), S("abcy"), N(3)}, 1, "logical(1)"},
      {"strcmp n zero", kStrcmp, {S("ab"), S("xy"), N(0)}, 1, "logical(1)"},
      {"strcmp n negative", kStrcmp, {S("ab"), S("xyz"), N(-4)}, 1, "logical(1)"},
      {"strcmp storage order", kStrcmp, {M({"ab", "cd"}), S("abcd")}, 1, "logical(1)"},
      {"strcmp not by columns", kStrcmp, {M({"ab", "cd"}), S("acbd")}, 1, "logical(0)"},
      {"strcmpi", kStrcmpi, {S("ABC"), S("abc")}, 1, "logical(1)"},
      {"strcmpi n", kStrcmpi, {S("ABx"), S("aby"), N(2)}, 1, "logical(1)"},
      {"strcmpi differs", kStrcmpi, {S("AB["), S("ab{")}, 1, "logical(0)"},
      // Search.
      {"findstr overlapping", kFindstr, {S("abababa"), S("aba")}, 1, "[1 3 5]"},
      {"findstr none", kFindstr, {S("a"), S("abc")}, 1, "zeros(1,0)"},
      {"findstr empty", kFindstr, {S(""), S("a")}, 1, "[]"},
      {"findstr empty pattern", kFindstr, {S("abc"), S("")}, 1, "[]"},
      {"findstr one", kFindstr, {S("xaa"), S("a")}, 1, "[2 3]"},
      {"findstr scalar result", kFindstr, {S("hello"), S("llo")}, 1, "3"},
      // Matching.
      {"strmatch rows", kStrmatch, {S("ab"), M({"abc", "xab", "abd"})}, 1, "1"},
      {"strmatch later row", kStrmatch, {S("xa"), M({"abc", "xab", "abd"})}, 1, "2"},
      {"strmatch exact columns", kStrmatch, {S("ab"), M({"abc", "xab"}), S("exact")}, 1, "0"},
      {"strmatch exact row", kStrmatch, {S("abc"), M({"xyz", "abc"}), S("e")}, 1, "2"},
      {"strmatch empty option", kStrmatch, {S("ab"), M({"xab", "abc"}), S("")}, 1, "2"},
      {"strmatch list exact", kStrmatch, {S("ab"), Lst({"x", "abc", "ab"}), S("exact")}, 1, "3"},
      {"strmatch list prefix", kStrmatch, {S("ab"), Lst({"x", "abc", "ab"})}, 1, "2"},
      {"strmatch list short", kStrmatch, {S("abc"), Lst({"ab", "a"})}, 1, "0"},
      {"strmatch empty str", kStrmatch, {S(""), Lst({"q", "r"})}, 1, "1"},
      {"strmatch empty list", kStrmatch, {S("a"), Lst({})}, 1, "0"},
      {"strmatch bad option", kStrmatch, {S("a"), Lst({"a"}), S("x")}, 1, "error 108"},
      {"strmatch non-char entry", kStrmatch, {S("a"), R({1})}, 1, "error 44"},
      {"strmatch number str", kStrmatch, {N(1), Lst({"a"})}, 1, "error 44"},
      // Tokens.
      {"strtok two outputs", kStrtok, {S("  hello world")}, 2, "'hello' | ' world'"},
      {"strtok one output", kStrtok, {S("  hello world")}, 1, "'hello'"},
      {"strtok statement", kStrtok, {S("one")}, -1, "'one'"},
      {"strtok delims", kStrtok, {S("a,b"), S(",")}, 1, "'a'"},
      {"strtok delims rest", kStrtok, {S(",,a,b"), S(",")}, 2, "'a' | ',b'"},
      {"strtok only delims", kStrtok, {S(" \t ")}, 2, "'' | ' \\9 '"},
      {"strtok empty", kStrtok, {S("")}, 2, "'' | ''"},
      {"strtok whole", kStrtok, {S("word")}, 2, "'word' | ''"},
      // Trimming: zero characters count as blanks.
      {"deblank", kDeblank, {S("ab  ")}, 1, "'ab'"},
      {"deblank keeps leading", kDeblank, {S(" a b\t\r\n")}, 1, "' a b'"},
      {"deblank zero", kDeblank, {S(std::string("ab\0 \0", 5))}, 1, "'ab'"},
      {"deblank all blank", kDeblank, {S("   ")}, 1, "''"},
      {"strtrim all blank", kStrtrim, {S(std::string(" \t\0", 3))}, 1, "''"},
      {"strtrim", kStrtrim, {S("  ab ")}, 1, "'ab'"},
      {"strtrim inner kept", kStrtrim, {S("\t a  b \n")}, 1, "'a  b'"},
      {"strtrim matrix in storage order", kStrtrim, {M({" ab", "cd "})}, 1, "'abcd'"},
      {"strtrim nothing", kStrtrim, {S("xy")}, 1, "'xy'"},
      // Wrong kinds.
      {"isletter number", kIsletter, {N(65)}, 1, "error 44"},
      {"upper number", kUpper, {N(1)}, 1, "error 44"},
      {"strcmp number", kStrcmp, {S("a"), N(1)}, 1, "error 44"},
      {"strcmp fractional n", kStrcmp, {S("a"), S("a"), N(1.5)}, 1, "error 44"},
      {"strcmp row n", kStrcmp, {S("a"), S("a"), R({1, 2})}, 1, "error 44"},
      {"findstr number", kFindstr, {S("a"), N(1)}, 1, "error 44"},
      {"deblank number", kDeblank, {N(1)}, 1, "error 44"},
      {"strtok number delims", kStrtok, {S("a b"), N(32)}, 1, "error 44"},
  };
  for (const Case& k : cases) EXPECT_EQ(run(k), k.want) << k.what;
}

TEST_F(StrFun, NonAsciiCodesAreInNoClass) {
  tv::push_chars(c, u"\u00e9A\u0661 \u3000");
  ASSERT_EQ(bi_char_test(c, kCharLetter), kOk);
  EXPECT_EQ(top(), "logical([0 1 0 0 0])");
  clear();
  tv::push_chars(c, u"\u00e9a\u0101");
  ASSERT_EQ(bi_change_case(c, kCaseUpper), kOk);
  EXPECT_EQ(top(), "'\\233A\\257'");
}

TEST_F(StrFun, NArrayShapesAreKept) {
  const int32_t dims[3] = {1, 2, 2};
  uint16_t* d = nullptr;
  ASSERT_EQ(stk_push_char_array(c, 3, dims, &d), kOk);
  for (char ch : std::string("a1 b")) *d++ = uint16_t(ch);
  ASSERT_EQ(bi_char_test(c, kCharLetter), kOk);
  EXPECT_EQ(top(), "logical(1x2x2:[1 0 0 1])");
  clear();
  ASSERT_EQ(stk_push_char_array(c, 3, dims, &d), kOk);
  for (char ch : std::string(" ab ")) *d++ = uint16_t(ch);
  ASSERT_EQ(bi_deblank(c, kTrimBoth), kOk);
  EXPECT_EQ(top(), "'ab'");
}

TEST_F(StrFun, ArgumentsBelowStayAndResultsTakeTheirPlace) {
  num(7);  // an unrelated item below the arguments
  str("x y");
  ASSERT_EQ(bi_strtok(c, 1, 2), kOk);
  EXPECT_EQ(items(), 3);
  EXPECT_EQ(top(0), "'x'");
  EXPECT_EQ(top(1), "' y'");
  EXPECT_EQ(top(2), "7");
  clear();
  // Trimming in place never needs more room than the argument had.
  str("   padded   ");
  const int32_t before = c->data_top;
  ASSERT_EQ(bi_deblank(c, kTrimBoth), kOk);
  EXPECT_LE(c->data_top, before);
  EXPECT_EQ(top(), "'padded'");
}

}  // namespace

// What trimming leaves is a row even when nothing is left: 1 x 0, whatever
// the argument's shape.
TEST_F(StrFun, TrimmingEverythingLeavesAOneByZeroRow) {
  for (int trim : {kTrimTrailing, kTrimBoth}) {
    for (const Arg& a : {S("   "), S(""), M({" \t", "\r "})}) {
      push(a);
      ASSERT_EQ(bi_deblank(c, trim), kOk);
      int nd = 0;
      const uint32_t* dims = nullptr;
      int64_t count = -1;
      ASSERT_EQ(stk_get_array_info(c, 0, &nd, &dims, &count), kOk);
      EXPECT_EQ(std::vector<uint32_t>(dims, dims + nd), (std::vector<uint32_t>{1, 0}));
      EXPECT_TRUE(stk_is_char(c, 0));
      clear();
    }
  }
}
