// The statement compiler: golden disassembly of every control construct, of
// the optimisation levels' rewrites, of position instructions, function
// headers and the display forms; and the compile errors with their codes,
// messages and lines. Each table row is source text and its expected code.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/compile_harness.h"

namespace {

struct Golden {
  CompileOptions options;
  const char* source;
  const char* code;
  const char* header = nullptr;  // a function's header words, blank-separated
};

std::string header_text(const std::vector<uint16_t>& words) {
  std::string s;
  for (uint16_t w : words) s += (s.empty() ? "" : " ") + std::to_string(w);
  return s;
}

void check(const Golden* rows, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const Golden& g = rows[i];
    SCOPED_TRACE(g.source);
    CompileHarness h;
    const CompileOutcome out = h.run(g.source, g.options);
    ASSERT_EQ(out.status, kOk) << out.report;
    EXPECT_EQ(out.text, code_lines(g.code));
    if (g.header) {
      EXPECT_EQ(header_text(out.header), g.header);
    }
    // The disassembly is exact: it assembles back to the same words.
    std::vector<uint16_t> back;
    std::string error;
    tnasm::AsmOptions a;
    a.base_words = int(out.code_start % 4);
    ASSERT_TRUE(tnasm::assemble(out.text, &back, &error, a)) << error;
    EXPECT_EQ(back, std::vector<uint16_t>(out.code.begin() + out.code_start, out.code.end()));
  }
}

TEST(CompileStatements, ControlConstructs) {
  const Golden rows[] = {
      {{}, R"--(x = 1; if x > 1, disp(1), elseif x < 0, disp(2), else, disp(3), end)--",
       "push_one; store_local 1; load_local 1; push_one; gt; jump_if_false L1; push_one; disp; jump L3; L1:; "
       "load_local 1; push_zero; lt; jump_if_false L2; push_int16 2; disp; jump L3; L2:; push_int16 3; disp; L3:; "
       "halt"},
      {{}, R"--(x = 1; switch x, case 1, disp(1), case {2, 3}, disp(2), otherwise, disp(0), end)--",
       "push_one; store_local 1; load_local 1; jump L1; jump L4; L1:; push_one; case_test L2; push_one; disp; jump L4; "
       "L2:; push_int16 2; push_int16 3; make_list 2; case_test L3; push_int16 2; disp; jump L4; L3:; push_zero; disp; "
       "L4:; pop_item; halt"},
      {{}, R"--(x = 1; while x, x = x - 1; end)--",
       "push_one; store_local 1; L1:; load_local 1; jump_if_false L2; load_local 1; push_one; minus; store_local 1; "
       "jump L1; L2:; halt"},
      {{}, R"--(for k = 1:3
  if k == 2, continue, end
  if k == 3, break, end
end)--",
       "push_one; push_int16 3; range_pack 2; L1:; for_range_next L4; store_local 1; load_local 1; push_int16 2; eq; "
       "jump_if_false L2; jump L1; L2:; load_local 1; push_int16 3; eq; jump_if_false L3; jump L4; L3:; jump L1; L4:; "
       "pop_item; halt"},
      {{}, R"--(for v = {1, 2}, a = v; end)--",
       "push_one; push_int16 2; make_list 2; L1:; for_next L2; store_local 1; load_local 1; store_local 2; jump L1; "
       "L2:; pop_item; halt"},
      {{}, R"--(x = 1;
for k = 1:3
  switch x
    case 1
      break
  end
end)--",
       "push_one; store_local 1; push_one; push_int16 3; range_pack 2; L1:; for_range_next L4; store_local 2; "
       "load_local 1; jump L2; jump L3; L2:; push_one; case_test L3; pop_item; jump L4; L3:; pop_item; jump L1; L4:; "
       "pop_item; halt"},
      {{}, R"--(repeat
  x = 1;
  if x, continue, end
until x > 2)--",
       "L1:; push_one; store_local 1; load_local 1; jump_if_false L2; jump L2; L2:; load_local 1; push_int16 2; gt; "
       "jump_if_false L1; halt"},
      {{}, R"--(try, error('x'), catch, disp(1), end)--",
       R"--(try_handler L1 0; push_string8 "x"; error 1; try_handler 0 0; jump L2; L1:; try_handler 0 0; push_one; disp; )--"
       "L2:; halt"},
      {{}, R"--(for k=1:3, try, error('x'), end, end)--",
       "push_one; push_int16 3; range_pack 2; L1:; for_range_next L3; store_local 1; try_handler L2 1; "
       R"--(push_string8 "x"; error 1; L2:; try_handler 0 0; jump L1; L3:; pop_item; halt)--"},
      {{}, R"--(try
  x = 1;
  try
    y = 2;
  catch
    y = 3;
  end
catch
  x = 4;
end)--",
       "try_handler L3 0; push_one; store_local 1; try_handler L1 0; push_int16 2; store_local 2; try_handler L3 0; "
       "jump L2; L1:; try_handler L3 0; push_int16 3; store_local 2; L2:; try_handler 0 0; jump L4; L3:; "
       "try_handler 0 0; push_int16 4; store_local 1; L4:; halt"},
      {{}, R"--(x = 1;
try
  while x
    try
      break
    end
  end
end)--",
       "push_one; store_local 1; try_handler L3 0; L1:; load_local 1; jump_if_false L3; try_handler L2 0; "
       "try_handler L3 0; jump L3; L2:; try_handler L3 0; jump L1; L3:; try_handler 0 0; halt"},
      {{}, R"--(x = 1;
switch x
  case 1
    try
      error('e');
    catch
      x = 2;
    end
end)--",
       "push_one; store_local 1; load_local 1; jump L1; jump L3; L1:; push_one; case_test L3; try_handler L2 1; "
       R"--(push_string8 "e"; error 1; try_handler 0 0; jump L3; L2:; try_handler 0 0; push_int16 2; store_local 1; L3:; )--"
       "pop_item; halt"},
      {{}, R"--(x = 1; y = x || 0 || 2; z = x && y)--",
       "push_one; store_local 1; load_local 1; or_else L1; push_zero; or_else L1; push_int16 2; L1:; store_local 2; "
       "load_local 1; and_then L2; load_local 2; L2:; store_local 3; display_local 3; halt"},
      {{}, R"--(return)--", "halt; halt"},
      {{}, R"--(global g h
g = 1;)--",
       "declare_global 1 0; declare_global 2 0; push_one; store_local 1; halt"},
  };
  check(rows, std::size(rows));
}

// Levels 1 to 4: constant conditions, jump threading, empty-loop folding,
// constant folding and dropped silent expressions; the assert flag.
TEST(CompileStatements, OptimisationLevels) {
  const Golden rows[] = {
      {{.level = 1}, R"--(if 0, a = 1; end)--", "jump L1; push_one; store_local 1; L1:; halt"},
      {{.level = 1}, R"--(if true, a = 1; else a = 2; end)--",
       "skip 0; push_one; store_local 1; jump L1; push_int16 2; store_local 1; L1:; halt"},
      {{.level = 1}, R"--(while 1, a = 1; end)--", "L1:; skip 0; push_one; store_local 1; jump L1; halt"},
      {{.level = 2}, R"--(x = 1;
while x
  if x, x = 2; end
end)--",
       "push_one; store_local 1; L1:; load_local 1; jump_if_false L2; load_local 1; jump_if_false L1; push_int16 2; "
       "store_local 1; jump L1; L2:; halt"},
      {{.level = 2}, R"--(x = 1;
while x
  if x, break, end
end)--",
       "push_one; store_local 1; L1:; load_local 1; jump_if_false L2; load_local 1; jump_if_false L1; jump L2; "
       "jump L1; L2:; halt"},
      {{.level = 3}, R"--(for k = 1:10, end)--",
       "push_one; push_int16 10; range_pack 2; range_final; store_local 1; jump L1; nop; pop_item; L1:; halt"},
      {{.level = 3}, R"--(x = 3; for k = 1:x, end)--",
       "push_int16 3; store_local 1; push_one; load_local 1; range_pack 2; L1:; for_range_next L2; store_local 2; "
       "jump L1; L2:; pop_item; halt"},
      {{.level = 4, .positions = true}, R"--(for k = 10:-2:1
end)--",
       "position -1 1; push_int16 10; push_int16 -2; push_one; range_pack 3; range_final; store_local 1; jump L1; nop; "
       "nop; nop; nop; pop_item; L1:; halt"},
      {{.level = 4}, R"--(x = 1;
x;
x + 1;
sin(x);
disp(x);)--",
       "push_one; store_local 1; load_local 1; disp; halt"},
      {{.opt_flag = true}, R"--(assert(1 == 1);
x = 1;)--",
       "push_one; store_local 1; halt"},
  };
  check(rows, std::size(rows));
}

// Position instructions precede statements; elseif, case and while carry
// theirs inside their code, repeat has none.
TEST(CompileStatements, PositionInstructions) {
  const Golden rows[] = {
      {{.positions = true}, R"--(x = 1;
if x
  y = 2;
elseif x > 3
  y = 3;
else
  y = 4;
end)--",
       "position -1 1; push_one; store_local 1; position -1 2; load_local 1; jump_if_false L1; position -1 3; "
       "push_int16 2; store_local 2; jump L3; L1:; position -1 4; load_local 1; push_int16 3; gt; jump_if_false L2; "
       "position -1 5; push_int16 3; store_local 2; position -1 6; jump L3; L2:; position -1 7; push_int16 4; "
       "store_local 2; position -1 8; L3:; halt"},
      {{.positions = true}, R"--(x = 1;
switch x
  case 1
    y = 2;
end)--",
       "position -1 1; push_one; store_local 1; position -1 2; load_local 1; jump L1; jump L2; L1:; position -1 3; "
       "push_one; case_test L2; position -1 4; push_int16 2; store_local 2; position -1 5; L2:; pop_item; halt"},
      {{.positions = true}, R"--(x = 1;
while x
  x = 0;
end
repeat
  x = 1;
until x)--",
       "position -1 1; push_one; store_local 1; L1:; position -1 2; load_local 1; jump_if_false L2; position -1 3; "
       "push_zero; store_local 1; position -1 4; jump L1; L2:; position -1 6; push_one; store_local 1; position -1 7; "
       "load_local 1; jump_if_false L2; halt"},
      // A line the short form's signed word cannot hold takes the wide form
      // (low and high halves); the lines around it keep the short one.
      {{.positions = true}, "_pragma line 32765\nx = 1;\nx = 2;\n_pragma line 65535\nx = 3;\n_pragma line 70000\nx = 4;",
       "position -1 32766; push_one; store_local 1; position -1 32767; push_int16 2; store_local 1; "
       "position_wide -1 0 1; push_int16 3; store_local 1; position_wide -1 4465 1; push_int16 4; store_local 1; "
       "halt"},
      {{.positions = true, .function_id = 0}, "function f\n_pragma line 99999\nwhile 1\n  break\nend",
       "L1:; position_wide 1 -31072 1; push_one; jump_if_false L2; position_wide 1 -31071 1; jump L2; "
       "position_wide 1 -31070 1; jump L1; L2:; ret_function"},
  };
  check(rows, std::size(rows));
}

// The lines counted in a long text (blank lines, comments over lines,
// continuations) are recorded whole in its position instructions.
TEST(CompileStatements, LinesCountedPastTheShortFormStayWhole) {
  std::string text;
  std::vector<int32_t> expected;
  for (int32_t line = 1; line <= 70001; ++line) {
    if (line % 4999 == 0 || line == 70001) {
      text += "x = ...\n 1;\n";
      expected.push_back(line++);
    } else if (line % 7 == 0) {
      text += "/* a\n */ % b\n";
      ++line;
    } else {
      text += line % 2 ? "\n" : "% c\n";
    }
  }
  CompileHarness h;
  const CompileOutcome out = h.run(text, {.positions = true});
  ASSERT_EQ(out.status, kOk) << out.report;
  std::vector<int32_t> lines;
  for (size_t q = size_t(out.code_start); q < out.code.size(); q += size_t(insn_length(&out.code[q])))
    if (is_position_op(out.code[q])) lines.push_back(position_line(&out.code[q]));
  EXPECT_EQ(lines, expected);
}

// Function headers: outputs take slots 0.., inputs follow, then the other
// locals; defaults run when fewer arguments come.
TEST(CompileStatements, FunctionsAndHeaders) {
  const Golden rows[] = {
      {{.function_id = 0}, R"--(function [a, b] = f(x, y = 3)
a = x + y;
b = x - y;)--",
       "nargin 0; push_int16 2; lt; jump_if_false L1; push_int16 3; store_local 3; L1:; load_local 2; load_local 3; "
       "plus; store_local 0; load_local 2; load_local 3; minus; store_local 1; nargout 0; push_int16 1; gt; "
       "jump_if_false L2; load_local 1; L2:; nargout 0; jump_if_false L3; load_local 0; L3:; ret_function", "8 4 2 2 2 3"},
      {{.function_id = 0}, R"--(function varargout = f(a, b, varargin)
varargout = varargin;)--",
       "load_local 3; store_local 0; nargout 0; push_int16 7; gt; jump_if_false L1; push_ref 0; push_int16 8; "
       "ref_element 1; deref; L1:; nargout 0; push_int16 6; gt; jump_if_false L2; push_ref 0; push_int16 7; "
       "ref_element 1; deref; L2:; nargout 0; push_int16 5; gt; jump_if_false L3; push_ref 0; push_int16 6; "
       "ref_element 1; deref; L3:; nargout 0; push_int16 4; gt; jump_if_false L4; push_ref 0; push_int16 5; "
       "ref_element 1; deref; L4:; nargout 0; push_int16 3; gt; jump_if_false L5; push_ref 0; push_int16 4; "
       "ref_element 1; deref; L5:; nargout 0; push_int16 2; gt; jump_if_false L6; push_ref 0; push_int16 3; "
       "ref_element 1; deref; L6:; nargout 0; push_int16 1; gt; jump_if_false L7; push_ref 0; push_int16 2; "
       "ref_element 1; deref; L7:; nargout 0; push_int16 0; gt; jump_if_false L8; push_ref 0; push_int16 1; "
       "ref_element 1; deref; L8:; ret_function", "11 4 3 1 1 2 3"},
      // An input named as an output takes that output's slot.
      {{.function_id = 0}, "function s = bump(s)\ns = s + 1;",
       "load_local 0; push_one; plus; store_local 0; nargout 0; jump_if_false L1; load_local 0; L1:; ret_function",
       "8 1 1 1 0"},
      {{.function_id = 0}, "function [x, y] = swap(y, x)",
       "nargout 0; push_int16 1; gt; jump_if_false L1; load_local 1; L1:; nargout 0; jump_if_false L2; "
       "load_local 0; L2:; ret_function", "8 2 2 2 1 0"},
      {{.function_id = 0}, "function [a, b] = f(c, a, d)\nb = c + d;",
       "load_local 2; load_local 3; plus; store_local 1; nargout 0; push_int16 1; gt; jump_if_false L1; "
       "load_local 1; L1:; nargout 0; jump_if_false L2; load_local 0; L2:; ret_function", "8 4 3 2 2 0 3"},
      {{.positions = true, .function_id = 0}, R"--(function y = f(x)
persistent n
y = x;
return
endfunction)--",
       "position 1 2; declare_global 2 1; position 1 3; load_local 1; store_local 0; position 1 4; nargout 0; "
       "jump_if_false L1; load_local 0; L1:; ret_function; nargout 0; jump_if_false L2; load_local 0; L2:; "
       "ret_function", "0 3 1 1 1"},
      {{.function_id = kFunctionInline}, R"--(function y=f(_,x);(a,b)=deal(_{:});y=a*x)--",
       R"--(push_ref 1; deref; push_string8 "deal"; call_named 2; store_local 3; store_local 4; load_local 3; )--"
       "load_local 2; mtimes; store_local 0; nargout 0; jump_if_false L1; load_local 0; L1:; ret_function", "8 5 2 1 1 2"},
      {{.function_id = 0}, R"--(function (a, b) = f(x)
a = 1; b = 2;)--",
       "push_one; store_local 0; push_int16 2; store_local 1; nargout 0; push_int16 1; gt; jump_if_false L1; "
       "load_local 1; L1:; nargout 0; jump_if_false L2; load_local 0; L2:; ret_function", "8 3 1 2 2"},
  };
  check(rows, std::size(rows));
}

// What a statement does with its result: shown by name, stored into "ans",
// displayed, dropped, or left for the caller of top-level code; command syntax,
// a variable's name included («x -1» indexes x with '-1', «x - 1» subtracts).
TEST(CompileStatements, ResultsAndCommands) {
  const Golden rows[] = {
      {{.flags = kCompileAnsConvention}, R"--(x = 1;
x
x + 1
x;
x + 1;
disp(x)
[a, b] = size(x))--",
       "push_one; store_local 1; load_local 1; display_named 1; load_local 1; push_one; plus; store_ans_display 0; "
       "load_local 1; store_local 0; load_local 1; push_one; plus; store_local 0; load_local 1; disp; load_local 1; "
       "size 1 2; store_local 2; store_local 3; display_local 2; display_local 3; halt"},
      {{}, R"--(x = 1; x
3
[1 2];
x(1))--",
       "push_one; store_local 1; load_local 1; display_named 1; push_int16 3; push_one; push_int16 2; horzcat; "
       "pop_item; push_ref 1; push_one; index_ref_read 1 0x0; halt"},
      {{}, R"--(disp hello
format long;
fprintf a\b 'c d' it's;
x = 1; x -1
x - 1)--",
       R"--(push_string8 "hello"; disp; push_string8 "long"; format 1; push_string8 "a\\b"; push_string8 "c d"; )--"
       R"--(push_string8 "it's"; fprintf 3 -1; pop_item; push_one; store_local 1; push_ref 1; push_string8 "-1"; )--"
       R"--(index_ref_read 1 0x0; load_local 1; push_one; minus; halt)--"},
  };
  check(rows, std::size(rows));
}

struct ErrorCase {
  CompileOptions options;
  const char* source;
  int status;
  const char* report;
};

TEST(CompileStatements, ErrorsWithCodesMessagesAndLines) {
  const ErrorCase rows[] = {
      {{}, "x = a b", 150, "Syntax error"},
      {{}, "x = 1\ny = 2 +* 3", 174, "Unrecognized token '*' (2)"},
      {{}, "\n\nx = 'abc", 164, "String without right quote (3)"},
      {{}, "x = '\\q'", 165, "Unknown escape character sequence"},
      {{}, "x = 5int7", 173, "Unsupported literal integer size"},
      {{}, "x = 1 + ;", 161, "Incomplete expression"},
      {{}, "x = 1 + 2)", 168, "Unexpected right parenthesis"},
      {{}, "x = [1 2}", 170, "Unexpected right brace"},
      {{}, "x = {1 2]", 169, "Unexpected right bracket"},
      {{}, "x = (1, 2)", 166, "Unexpected comma"},
      {{}, "x = (1; 2)", 167, "Unexpected semicolon"},
      {{}, "y = end", 175, "\"end\" not in an index expression"},
      {{}, "y = beginning", 176, "\"beginning\" not in an index expression"},
      {{}, "y = matrixrow", 177, "\"matrixrow\" not in an index expression"},
      {{}, "x = 1; y = x(1, matrixrow)", 179, "\"matrixrow\" or \"matrixcol\" used in the wrong index"},
      {{}, "y = undefined_thing + 1", 201, "Unknown variable or function 'undefined_thing'"},
      {{}, "x = @", 206, "Bad function reference"},
      {{}, "x = @3", 206, "Bad function reference '3'"},
      {{}, "x = @(a", 207, "Bad anonymous function"},
      {{}, "c = {};\nx = c{:}", 172, "Misplaced list flattening (2)"},
      {{}, "[a, b] = 3", 187, "Wrong number of output arguments"},
      {{}, "x = sin(1, 2)", 186, "Wrong number of input arguments (2) for function 'sin'"},
      {{}, "x = disp(1)", 187, "Wrong number of output arguments (1) for function 'disp'"},
      {{}, "if x = 2, end", 201, "Unknown variable or function 'x'"},
      {{}, "if\nend", 159, "Missing expression"},
      {{}, "x = 1;\nend", 191, "Unexpected \"end\" (2)"},
      {{}, "break", 195, "\"break\" or \"continue\" not in a loop"},
      {{}, "until 1", 196, "\"until\" without matching \"repeat\""},
      {{}, "else", 192, "Unexpected \"else\""},
      {{}, "elseif 1", 192, "Unexpected \"else\""},
      {{}, "case 1", 193, "\"case\" or \"otherwise\" without matching \"switch\""},
      {{}, "catch", 194, "\"catch\" without matching \"try\""},
      {{}, "try, catch, catch, end", 194, "\"catch\" without matching \"try\""},
      {{}, "x = 1;\nif x\n  while x\n", 190, "Unbounded language construct 'while' (3)"},
      {{}, "repeat\nx = 1;", 190, "Unbounded language construct"},
      {{}, "end 3", 160, "Unexpected expression"},
      {{}, "for = 3", 162, "\"for\" not followed by a single assignment"},
      {{}, "for k\nend", 162, "\"for\" not followed by a single assignment"},
      {{}, "for x(1) = 1:3, end", 213, "Bad variable in a for loop"},
      {{}, "x + 1 = 3", 212, "Bad variable in the left part of an assignment"},
      {{}, "a(1).b = 2", 212, "Bad variable in the left part of an assignment"},
      {{}, "[1, b] = size(3)", 163, "Bad variable name"},
      {{}, "global 3x", 174, "Unrecognized token '3'"},
      {{}, "persistent p", 156, "Persistent variable declaration not in a function"},
      {{.function_id = 0}, "function y = f(x)\npersistent p", 1000, "Not supported (f;2)"},
      {{}, "function y = f(x)", 208, "Unexpected function header"},
      {{}, "include lib", 158, "\"include\" statement not permitted here"},
      {{}, "x = 1 ? 2", 186, "Wrong number of input arguments"},
      {{}, "x = 1 ?? 2", 174, "Unrecognized token '?'"},
      {{}, "_pragma 3", 174, "Unrecognized token '3'"},
      {{}, "_pragma line 40\nx = (", 161, "Incomplete expression (41)"},
      {{}, "x = abcdefghijklmnopqrstuvwxyz0123456789", 205, "Name too long 'abcdefghijklmnopqrstuvwxyz0123456789'"},
      {{.function_id = 0}, "function f(a, varargin, b)", 154, "\"varargin\" not as the last input argument"},
      {{.function_id = 0}, "function [varargout, b] = f()", 155, "\"varargout\" not as the last output argument"},
      {{.function_id = 0}, "function [a, a] = f()", 197, "Variable name reused"},
      {{.function_id = 0}, "function a = f(x, x)", 197, "Variable name reused"},
      {{.function_id = 0}, "function [a, b] = f(a, b, a)", 197, "Variable name reused"},
      {{.function_id = 0}, "function", 151, "\"function\" keyword without function name"},
      {{.function_id = 0}, "function f(3)", 152, "Bad function header"},
      {{.function_id = 0}, "x = 1", 211, "Function header expected"},
      {{.function_id = 0}, "function f\nfunction g", 208, "Unexpected function header (f;2)"},
      {{.function_id = 0}, "function y = f\ny = 1;\nif y\n  y = 2;", 190, "Unbounded language construct 'if' (f;3)"},
      {{}, "endfunction", 209, "Unexpected \"endfunction\""},
      {{}, "define x = 3", 210, "Unexpected constant definition"},
      {{.function_id = 0}, "define x 3", 153, "Bad definition"},
      {{}, "x = [(((((((((((((((((((((((((((((((1)))))))))))))))))))))))))))))))]", 184, "Too many nested (), [] and {}"},
  };
  // The same errors at optimisation levels 0 and 4.
  for (const ErrorCase& e : rows) {
    for (int level : {0, 4}) {
      SCOPED_TRACE(std::string(e.source) + " at level " + std::to_string(level));
      CompileHarness h;
      CompileOptions o = e.options;
      o.level = level;
      const CompileOutcome out = h.run(e.source, o);
      EXPECT_EQ(out.status, e.status);
      EXPECT_EQ(out.report, e.report);
    }
  }
}

}  // namespace

namespace {

// Through the function loader: the installed compiler writes the function
// into the code area, numbers its lines from the loader's first line and
// reports its errors there.
TEST(CompileStatements, FunctionsThroughTheLoader) {
  CompileHarness h;
  compiler_install();
  compile_set_debug_info(h.ctx(), 1);
  const std::string src = "function y = g(x)\ny = x + 1;\n";
  int32_t id = 0;
  ASSERT_EQ(fn_define_from_source(h.ctx(), "g", 1, src.data(), int32_t(src.size()), 0, 10, 0, &id), kOk);
  const uint16_t* header = fn_code_header(h.ctx(), id);
  ASSERT_NE(header, nullptr);
  const int64_t start = code_header_words(header);
  EXPECT_EQ(header[kHdrFlags] & kHdrNoNames, 0);  // debug information keeps the names
  EXPECT_STREQ(reinterpret_cast<const char*>(header + kHdrInputSlots + 1 + 16), "x");
  tnasm::DisasmOptions d;
  d.base_words = int(start % 4);
  const std::string id_text = std::to_string(id);
  EXPECT_EQ(tnasm::disassemble(header + start, 16, d),
            code_lines("position " + id_text + " 12; load_local 1; push_one; plus; store_local 0; nargout 0; "
                       "jump_if_false L1; load_local 0; L1:; ret_function"));
  const std::string bad = "function y = h(x)\ny = x +;\n";
  EXPECT_EQ(fn_define_from_source(h.ctx(), "h", 1, bad.data(), int32_t(bad.size()), 0, 20, 0, &id),
            kIncompleteExpression);
  char report[kReportBufferBytes];
  int32_t n = 0;
  err_format_report(h.ctx(), kIncompleteExpression, true, report, sizeof report, &n);
  EXPECT_EQ(std::string(report, size_t(n)), "Incomplete expression (h;22)");
}

}  // namespace

namespace {

// The statement list, the string scratch and a function's local names are
// cut from the free data-stack space: a text that needs more of it than the
// engine has fails with the data stack's status (a room status, which a
// host that can grow its block answers by growing the data stack), and the
// same text compiles in a larger engine. A limit of the language itself
// (a string longer than 65535 characters) stays what it is, however large
// the engine.
TEST(CompileStatements, ShortScratchIsADataStackOverflow) {
  constexpr uint32_t kSmall = 256u << 10, kLarge = 4u << 20;
  int64_t free_bytes = 0;
  {
    CompileHarness probe({}, kSmall);
    free_bytes = int64_t(probe.ctx()->data_capacity - probe.ctx()->data_top) * 8;
  }
  ASSERT_GT(free_bytes, 1024);
  auto repeat = [](int64_t n, const std::function<std::string(int64_t)>& line) {
    std::string s = "function r = f\nr = 0;\n";
    for (int64_t k = 0; k < n; ++k) s += line(k);
    return s;
  };
  const std::string statements = repeat(free_bytes / 16, [](int64_t) { return "r = r + 1;\n"; });
  const std::string names = repeat(free_bytes / 64, [](int64_t k) { return "v" + std::to_string(k) + " = 1;\n"; });
  const std::string string = "function r = f\nr = '" + std::string(size_t(free_bytes / 4), 'x') + "';\n";
  const std::string expression = repeat(1, [&](int64_t) {
    std::string e = "r = 1";
    while (int64_t(e.size()) < free_bytes) e += " + 1";
    return e + ";\n";
  });
  for (const std::string* text : {&statements, &names, &string, &expression}) {
    SCOPED_TRACE(text->substr(0, 40));
    CompileHarness small({}, kSmall);
    const CompileOutcome out = small.run(*text, {.function_id = 0});
    EXPECT_EQ(out.status, kDataStackOverflow);
    EXPECT_EQ(out.report.substr(0, 19), "Data stack overflow");
    CompileHarness large({}, kLarge);
    EXPECT_EQ(large.run(*text, {.function_id = 0}).status, kOk);
  }
  CompileHarness large({}, 16u << 20);
  const std::string too_long = "function r = f\nr = '" + std::string(70000, 'x') + "';\n";
  EXPECT_EQ(large.run(too_long, {.function_id = 0}).status, kExpressionTooLarge);
}

}  // namespace
