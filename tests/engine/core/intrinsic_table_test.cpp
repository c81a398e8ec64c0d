// The intrinsic table checked against its reference wording: the opcode map
// and the argument-count lists below are kept verbatim and parsed here, and
// every row must decode to exactly what they say.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/core/opcodes.h"

namespace {

// "3 `i`/`j`; 4 `pi`; ..." : opcode, then its names.
const char* const kOpcodeMapText =
    R"(3 `i`/`j`; 4 `pi`; 5 `goldenratio`; 6 `inf`/`Inf`; 7 `nan`/`NaN`; 8 `realmin`; 9 `realmax`; )"
    R"(10 `eps`; 11 `true`; 12 `false`; 40 `disp`; 41 `format`; 42 `sprintf`; 43 `fprintf`; )"
    R"(44 `sscanf`; 45 `fscanf`; 46 `fgetl`; 47 `fgets`; 48 `fread`; 49 `sread`; 50 `fwrite`; )"
    R"(51 `swrite`; 52 `bwrite`; 53 `fclose`; 54 `redirect`; 55 `fflush`; 56 `fseek`; 57 `ftell`; )"
    R"(58 `feof`; 59 `clc`; 61 `horzcat`; 62 `vertcat`; 63 `cat`; 67 `join`; 68 `cell`; 69 `ndims`; )"
    R"(70 `size`; 71 `length`; 72 `numel`; 73 `reshape`; 74 `squeeze`; 75 `permute`; 76 `ipermute`; )"
    R"(77 `zeros`; 78 `ones`; 79 `eye`; 80 `rand`; 81 `randn`; 82 `magic`; 83 `colon`; 84 `sub2ind`; )"
    R"(85 `ind2sub`; 87 `clear`; 89 `subsref`; 91 `subsasgn`; 112 `nargin`; 113 `nargout`; 114 `deal`; )"
    R"(115 `variables`; 116 `uplus`; 117 `uminus`; 118 `conj`; 119 `complex`; 120 `real`; 121 `imag`; )"
    R"(122 `abs`; 123 `angle`; 124 `sign`; 125 `ctranspose`; 126 `transpose`; 127 `fliplr`; )"
    R"(128 `flipud`; 129 `flipdim`; 130 `rot90`; 131 `sort`; 132 `unique`; 133 `union`; )"
    R"(134 `intersect`; 135 `setdiff`; 136 `setxor`; 137 `ismember`; 138 `fix`; 139 `floor`; )"
    R"(140 `ceil`; 141 `round`; 142 `exp`; 143 `expm1`; 144 `log`; 145 `log10`; 146 `log1p`; )"
    R"(147 `log2`; 148 `reallog`; 149 `sin`; 150 `cos`; 151 `tan`; 152 `sec`; 153 `csc`; 154 `cot`; )"
    R"(155 `sinh`; 156 `cosh`; 157 `tanh`; 158 `sech`; 159 `csch`; 160 `coth`; 161 `asin`; 162 `acos`; )"
    R"(163 `atan`; 164 `asec`; 165 `acsc`; 166 `acot`; 167 `atan2`; 168 `asinh`; 169 `acosh`; )"
    R"(170 `atanh`; 171 `asech`; 172 `acsch`; 173 `acoth`; 174 `sinc`; 175 `sqrt`; 176 `realsqrt`; )"
    R"(177 `det`; 178 `sum`; 179 `prod`; 180 `mean`; 181 `var`; 182 `std`; 183 `moment`; )"
    R"(184 `skewness`; 185 `kurtosis`; 186 `cov`; 187 `cumsum`; 188 `cumprod`; 189 `diag`; 190 `tril`; )"
    R"(191 `triu`; 192 `repmat`; 193 `ndgrid`; 194 `meshgrid`; 195 `trace`; 196 `diff`; 197 `kron`; )"
    R"(198 `ischar`; 199 `setstr`; 200 `char`; 201 `double`; 202 `single`; 203 `int8`; 204 `int16`; )"
    R"(205 `int32`; 206 `uint8`; 207 `uint16`; 208 `uint32`; 209 `int64`; 210 `uint64`; )"
    R"(211 `isnumeric`; 212 `isfloat`; 213 `isinteger`; 214 `isscalar`; 215 `isvector`; )"
    R"(216 `swapbytes`; 217 `cast`; 218 `typecast`; 219 `isletter`; 220 `isdigit`; 221 `isspace`; )"
    R"(222 `upper`; 223 `lower`; 224 `strcmp`; 225 `strcmpi`; 226 `findstr`; 227 `strmatch`; )"
    R"(228 `deblank`; 229 `strtrim`; 230 `strtok`; 231 `plus`; 232 `minus`; 233 `mtimes`; )"
    R"(234 `mrdivide`; 235 `mldivide`; 236 `times`; 237 `rdivide`; 238 `ldivide`; 239 `rem`; )"
    R"(240 `mod`; 241 `conv`; 242 `conv2`; 243 `deconv`; 244 `filter`; 245 `addpol`; 246 `mpower`; )"
    R"(247 `power`; 248 `realpow`; 249 `inv`; 250 `eq`; 251 `ne`; 252 `same`; 253 `unsame`; 254 `lt`; )"
    R"(255 `gt`; 256 `le`; 257 `ge`; 258 `and`; 259 `or`; 260 `xor`; 261 `not`; 262 `any`; 263 `all`; )"
    R"(264 `min`; 265 `max`; 266 `cross`; 267 `dot`; 268 `find`; 269 `nnz`; 270 `isempty`; )"
    R"(271 `islogical`; 272 `logical`; 273 `isfinite`; 274 `isinf`; 275 `isnan`; 276 `exist`; )"
    R"(277 `num2list`; 278 `num2cell`; 279 `list2num`; 280 `islist`; 281 `iscell`; 282 `replist`; )"
    R"(283 `struct`; 284 `isstruct`; 285 `isfield`; 286 `getfield`; 287 `setfield`; 288 `rmfield`; )"
    R"(289 `fieldnames`; 290 `orderfields`; 291 `class`; 292 `isobject`; 293 `isa`; 294 `methods`; )"
    R"(295 `eval`; 296 `feval`; 297 `builtin`; 298 `inline`; 299 `str2fun`; 300 `fun2str`; )"
    R"(317 `error`; 318 `warning`; 319 `rethrow`; 320 `lasterr`; 321 `lasterror`; 324 `info`; )"
    R"(325 `assert`.)";

// Each intrinsic takes exactly 1 input and gives exactly 1 output, except:
const char* const kFixedCountsText =
    R"(fixed 0/1: `goldenratio`, `i`, `j`, `info`, `lasterror`, `pi`, `variables`; )"
    R"(fixed 1/0: `disp`, `fclose`, `fflush`, `rethrow`; fixed 3/1: `setfield`, `subsasgn`; )"
    R"(fixed 2/1: `addpol`, `and`, `atan2`, `cast`, `complex`, `eq`, `findstr`, `flipdim`, `ge`, `getfield`, `gt`, `horzcat`, `ipermute`, `isa`, `isfield`, `ismember`, `kron`, `ldivide`, `le`, `lt`, `minus`, `mldivide`, `mod`, `mpower`, `mrdivide`, `mtimes`, `ne`, `or`, `permute`, `plus`, `power`, `rdivide`, `realpow`, `rem`, `replist`, `rmfield`, `same`, `subsref`, `times`, `typecast`, `unsame`, `vertcat`, `xor`.)";

const char* const kVariableCountsText =
    R"(`builtin`, `deal`, `feval` 0..*/0..*; `fprintf` 0..*/0..1; `clear` 0..*/0; )"
    R"(`char`, `join`, `sprintf`, `struct`, `sub2ind` 0..*/1; `clc` 0..1/0; )"
    R"(`eps`, `nargin`, `nargout` 0..1/1; `true`, `false`, `rand`, `randn` 0..16/1; )"
    R"(`inf`, `Inf`, `nan`, `NaN`, `realmax`, `realmin` 0..17/1; `format` 0..2/0; )"
    R"(`redirect` 0..3/0..1; `lasterr` 0/1..2; `assert`, `error`, `warning` 1..*/0; )"
    R"(`cat`, `class`, `inline` 1..*/1; `ndgrid` 1..16/1..16; `cell`, `ones`, `zeros` 1..16/1; )"
    R"(`reshape` 1..17/1; `size` 1..2/1..16; `fscanf`, `meshgrid`, `orderfields`, `strtok` 1..2/1..2; )"
    R"(`all`, `any`, `bwrite`, `cov`, `cumprod`, `cumsum`, `diag`, `exist`, `fgetl`, `fgets`, `kurtosis`, `mean`, `num2cell`, `num2list`, `prod`, `rot90`, `skewness`, `sum`, `swrite`, `tril`, `triu` 1..2/1; )"
    R"(`fread`, `sort`, `sread` 1..3/0..2; `max`, `min` 1..3/1..2; `find` 1..3/1..3; )"
    R"(`diff`, `eye`, `std`, `var` 1..3/1; `eval` 1/0..*; `methods` 1/0..1; `unique` 1/1..3; )"
    R"(`fseek` 2..3/0..1; )"
    R"(`colon`, `conv`, `conv2`, `cross`, `dot`, `fwrite`, `moment`, `repmat`, `strcmp`, `strcmpi`, `strmatch` 2..3/1; )"
    R"(`ind2sub` 2/1..16; `deconv` 2/1..2; `intersect`, `setdiff`, `setxor`, `sscanf`, `union` 2/1..3; )"
    R"(`filter` 3..5/1..2.)";

struct Counts {
  int in_min, in_max, out_min, out_max;  // kArgcNoMaximum for "*"
};

std::vector<std::string> split(const std::string& s, const std::string& sep) {
  std::vector<std::string> out;
  size_t at = 0;
  for (size_t next; (next = s.find(sep, at)) != std::string::npos; at = next + sep.size())
    out.push_back(s.substr(at, next - at));
  out.push_back(s.substr(at));
  return out;
}

std::vector<std::string> backticked(const std::string& s) {
  std::vector<std::string> names;
  for (size_t a = s.find('`'); a != std::string::npos; a = s.find('`', a)) {
    size_t b = s.find('`', a + 1);
    names.push_back(s.substr(a + 1, b - a - 1));
    a = b + 1;
  }
  return names;
}

void parse_range(std::string s, int* lo, int* hi) {
  if (!s.empty() && s.back() == '.') s.pop_back();  // the sentence's full stop
  size_t dots = s.find("..");
  *lo = std::stoi(s.substr(0, dots));
  if (dots == std::string::npos) {
    *hi = *lo;
    return;
  }
  std::string top = s.substr(dots + 2);
  *hi = top == "*" ? kArgcNoMaximum : std::stoi(top);
}

// "I/O" after the last blank of a group.
Counts group_counts(const std::string& group) {
  std::string io = group.substr(group.rfind(' ') + 1);
  if (io.back() == ':') io.pop_back();
  size_t slash = io.find('/');
  Counts c;
  parse_range(io.substr(0, slash), &c.in_min, &c.in_max);
  parse_range(io.substr(slash + 1), &c.out_min, &c.out_max);
  return c;
}

// name -> expected counts, from the two lists (default 1/1 for the rest).
std::map<std::string, Counts> expected_counts(const std::map<std::string, int>& names) {
  std::map<std::string, Counts> out;
  for (auto& [name, op] : names) out[name] = {1, 1, 1, 1};
  auto apply = [&](const std::vector<std::string>& list, const Counts& c) {
    for (const std::string& n : list) {
      EXPECT_TRUE(out.count(n)) << n << " is in a count list but not in the opcode map";
      out[n] = c;
    }
  };
  // "fixed I/O: `a`, `b`" groups, then "`a`, `b` I/O" groups.
  for (const std::string& g : split(kFixedCountsText, "; ")) {
    size_t colon = g.find(':');
    apply(backticked(g.substr(colon)), group_counts(g.substr(0, colon + 1)));
  }
  for (const std::string& g : split(kVariableCountsText, "; ")) apply(backticked(g), group_counts(g));
  return out;
}

std::map<std::string, int> opcode_map_names() {
  std::map<std::string, int> names;
  for (const std::string& entry : split(kOpcodeMapText, "; "))
    for (const std::string& n : backticked(entry)) names[n] = std::stoi(entry);
  return names;
}

TEST(IntrinsicTable, HoldsExactlyTheMappedNames) {
  std::map<std::string, int> names = opcode_map_names();
  ASSERT_EQ(names.size(), size_t(kIntrinsicCount));
  std::set<std::string> seen;
  for (int k = 0; k < kIntrinsicCount; ++k) {
    const IntrinsicEntry& e = kIntrinsicTable[k];
    ASSERT_TRUE(names.count(e.name)) << e.name;
    EXPECT_EQ(e.opcode, uint32_t(names[e.name])) << e.name;
    EXPECT_TRUE(seen.insert(e.name).second) << "duplicate " << e.name;
  }
  EXPECT_EQ(kIntrinsicTable[kIntrinsicCount].opcode, kIntrinsicEndOpcode);
  EXPECT_EQ(kIntrinsicTable[kIntrinsicCount].name[0], '\0');
}

TEST(IntrinsicTable, CountWordsDecodeToTheWrittenCounts) {
  std::map<std::string, int> names = opcode_map_names();
  std::map<std::string, Counts> want = expected_counts(names);
  // The lists name 153 intrinsics besides the 1/1 ones; a lost group would
  // silently turn them into 1/1.
  int exceptions = 0;
  for (auto& [n, c] : want) exceptions += !(c.in_min == 1 && c.in_max == 1 && c.out_min == 1 && c.out_max == 1);
  EXPECT_EQ(exceptions, 153);
  for (int k = 0; k < kIntrinsicCount; ++k) {
    const IntrinsicEntry& e = kIntrinsicTable[k];
    const Counts& c = want[e.name];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(argc_min(e.in_args), c.in_min);
    EXPECT_EQ(argc_max(e.in_args), c.in_max);
    EXPECT_EQ(argc_min(e.out_args), c.out_min);
    EXPECT_EQ(argc_max(e.out_args), c.out_max);
    // A range that is one number is written as a fixed word.
    EXPECT_EQ(argc_is_variable(e.in_args), c.in_min != c.in_max);
    EXPECT_EQ(argc_is_variable(e.out_args), c.out_min != c.out_max);
  }
}

TEST(IntrinsicTable, OrderAndAliases) {
  auto index = [](const char* n) { return intrinsic_find(n) - kIntrinsicTable; };
  EXPECT_LT(index("i"), index("j"));
  EXPECT_LT(index("inf"), index("Inf"));
  EXPECT_LT(index("nan"), index("NaN"));
  EXPECT_STREQ(intrinsic_by_opcode(kOpI)->name, "i");
  EXPECT_STREQ(intrinsic_by_opcode(kOpInf)->name, "inf");
  EXPECT_STREQ(intrinsic_by_opcode(kOpNan)->name, "nan");
  EXPECT_EQ(intrinsic_find("nosuch"), nullptr);
  EXPECT_EQ(intrinsic_find(""), nullptr);  // the end row is not a name
}

// The instruction an intrinsic call compiles to: opcode, then nargin when the
// input count is variable, then nargout when the output count is.
TEST(IntrinsicTable, CallLengthAndEffectFollowTheCountWords) {
  for (int k = 0; k < kIntrinsicCount; ++k) {
    const IntrinsicEntry& e = kIntrinsicTable[k];
    SCOPED_TRACE(e.name);
    uint16_t code[3] = {uint16_t(e.opcode), 0, 0};
    int words = 1;
    int in = argc_min(e.in_args), out = argc_max(e.out_args) == kArgcNoMaximum ? 5 : argc_max(e.out_args);
    if (argc_is_variable(e.in_args)) code[words++] = uint16_t(in);
    if (argc_is_variable(e.out_args)) code[words++] = uint16_t(out);
    EXPECT_EQ(insn_length(code), words);
    int nin = -1, nout = -1;
    int status = insn_stack_effect(code, &nin, &nout);
    if (kOpcodeInfoTable[e.opcode].effect == kEffectIrregular) {
      EXPECT_EQ(status, kBadArgument);
      continue;
    }
    ASSERT_EQ(status, kOk);
    EXPECT_EQ(nin, in);
    EXPECT_EQ(nout, out);
  }
}

}  // namespace
