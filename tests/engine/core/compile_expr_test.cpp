// The expression compiler: golden code for literals, the operator table's
// precedences, calls of every kind, indexing and assignment targets,
// matrices and cells, anonymous functions and list flattening, constant
// folding at level 4; and which implementation an operator or a name binds
// to (user functions, library rows, intrinsics, forward references).
#include <gtest/gtest.h>

#include <string>

#include "support/compile_harness.h"
#include "support/fn_fakes.h"

namespace {

struct Golden {
  CompileOptions options;
  const char* source;
  const char* code;
};

void check(const Golden* rows, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(rows[i].source);
    CompileHarness h;
    const CompileOutcome out = h.run(rows[i].source, rows[i].options);
    ASSERT_EQ(out.status, kOk) << out.report;
    EXPECT_EQ(out.text, code_lines(rows[i].code));
  }
}

TEST(CompileExpressions, Literals) {
  const Golden rows[] = {
      {{}, R"--(a = 3; b = 3.5; c = 0; d = 1i; e = 2e3; f = 3.0; g = 1.0; h = 70000; k = 0i; m = 2.5i; n = 0.3;)--",
       "push_int16 3; store_local 1; nop; nop; nop; push_double 3.5; store_local 2; push_zero; store_local 3; i; "
       "store_local 4; push_int16 2000; store_local 5; nop; nop; nop; push_double 3; store_local 6; push_one; "
       "store_local 7; nop; nop; push_double 70000; store_local 8; push_zero; store_local 9; nop; nop; "
       "push_imag_double 2.5; store_local 10; nop; push_double 0.3; store_local 11; halt"},
      {{}, R"--(a = 100int8; b = 0x10int8; c = 65535uint16; d = 70000int32; e = 4000000000uint32; f = 5uint64; g = 0x123456789int64;)--",
       "push_small_typed.int8 100; store_local 1; push_small_typed.int8 16; store_local 2; push_small_typed.uint16 -1; "
       "store_local 3; push_int32.int32 70000; store_local 4; push_int32.uint32 4000000000; store_local 5; "
       "push_small_typed.uint64 5; store_local 6; push_int64.int64 4886718345; store_local 7; halt"},
      // The minimum of a signed class, written with its minus, is one literal.
      {{}, R"--(a = -128int8; b = -9223372036854775808int64; c = 18446744073709551615uint64;)--",
       "push_small_typed.int8 -128; store_local 1; push_int64.int64 -9223372036854775808; store_local 2; "
       "push_int64.uint64 18446744073709551615; store_local 3; halt"},
      // A literal that does not fit its class keeps the low bytes of its
      // value in 64 bits; only the minimum's magnitude takes over a minus.
      {{}, R"--(a = 300uint8; b = 128int8; c = -129int8; d = -128int8^2; e = 0x100uint8; f = 2147483648int32;)--",
       "push_small_typed.uint8 44; store_local 1; push_small_typed.int8 -128; store_local 2; "
       "push_small_typed.int8 -127; uminus; store_local 3; push_small_typed.int8 -128; push_int16 2; mpower; uminus; "
       "store_local 4; push_small_typed.uint8 0; store_local 5; push_int32.int32 -2147483648; store_local 6; halt"},
      {{}, R"--(g = 18446744073709551616uint64; h = 9223372036854775808int64; k = 99999999999999999999999int64;)--",
       "push_small_typed.uint64 0; store_local 1; push_int64.int64 -9223372036854775808; store_local 2; "
       "push_int64.int64 200376420520689663; store_local 3; halt"},
      {{}, R"--(a = 2.5single; b = 3isingle; c = 'it''s'; d = '\u20ac'; e = '';)--",
       R"--(nop; nop; nop; push_single 2.5; store_local 1; nop; push_imag_single 3; store_local 2; push_string8 "it's"; )--"
       R"--(store_local 3; push_string16 "\u20ac"; store_local 4; push_string8 ""; store_local 5; halt)--"},
  };
  check(rows, std::size(rows));
}

// All binary operators are left-associative; unary minus binds looser than
// "^", "~" looser than the comparisons; ranges, "?" and the short circuits.
TEST(CompileExpressions, Precedence) {
  const Golden rows[] = {
      {{}, R"--(x = 1; y = -2^2 + ~x == 2)--",
       "push_one; store_local 1; push_int16 2; push_int16 2; mpower; uminus; load_local 1; push_int16 2; eq; not; "
       "plus; store_local 2; display_local 2; halt"},
      {{}, R"--(a = 2; y = a^a^a - a.^-a)--",
       "push_int16 2; store_local 1; load_local 1; load_local 1; mpower; load_local 1; mpower; load_local 1; "
       "load_local 1; uminus; power; minus; store_local 2; display_local 2; halt"},
      {{}, R"--(a = 1; y = a + a * a / a \ a .* a ./ a .\ a)--",
       "push_one; store_local 1; load_local 1; load_local 1; load_local 1; mtimes; load_local 1; mrdivide; "
       "load_local 1; mldivide; load_local 1; times; load_local 1; rdivide; load_local 1; ldivide; plus; "
       "store_local 2; display_local 2; halt"},
      {{}, R"--(a = 1; y = a < a | a <= a & a > a | a >= a & a === a | a ~== a & a ~= a)--",
       "push_one; store_local 1; load_local 1; load_local 1; lt; load_local 1; load_local 1; le; load_local 1; "
       "load_local 1; gt; and; or; load_local 1; load_local 1; ge; load_local 1; load_local 1; same; and; or; "
       "load_local 1; load_local 1; unsame; load_local 1; load_local 1; ne; and; or; store_local 2; display_local 2; "
       "halt"},
      {{}, R"--(a = 1; y = -a' + a.' + +a)--",
       "push_one; store_local 1; load_local 1; ctranspose; uminus; load_local 1; transpose; plus; load_local 1; uplus; "
       "plus; store_local 2; display_local 2; halt"},
      {{}, R"--(y = 1:3')--", "push_one; push_int16 3; ctranspose; colon 2; store_local 1; display_local 1; halt"},
      {{}, R"--(a = 1; y = a ? 1 : a || 2)--",
       "push_one; store_local 1; load_local 1; jump_if_false L1; push_one; jump L2; L1:; load_local 1; or_else L2; "
       "push_int16 2; L2:; store_local 2; display_local 2; halt"},
  };
  check(rows, std::size(rows));
}

// Intrinsics with their count words, function values through feval,
// argument lists flattened from x{:}, anonymous functions and references.
TEST(CompileExpressions, Calls) {
  const Golden rows[] = {
      {{}, R"--(x = 1; y = size(x); [r, c] = size(x, 1); z = pi; w = pi(); t = true; u = zeros(2, 3))--",
       "push_one; store_local 1; load_local 1; size 1 1; store_local 2; load_local 1; push_one; size 2 2; "
       "store_local 3; store_local 4; pi; store_local 5; pi; store_local 6; true 0; store_local 7; push_int16 2; "
       "push_int16 3; zeros 2; store_local 8; display_local 8; halt"},
      {{}, R"--(f = @sin; y = f(); [a, b] = f(3); z = f(3))--",
       R"--(push_string8 "sin"; str2fun; store_local 1; push_ref 1; deref; feval 1 1; store_local 2; push_ref 1; deref; )--"
       "push_int16 3; feval 2 2; store_local 3; store_local 4; push_ref 1; push_int16 3; index_ref_read 1 0x0; "
       "store_local 5; display_local 5; halt"},
      {{}, R"--(c = {1, 2}; y = max(c{:}); z = max(3, c{:}, 4, c{:}))--",
       R"--(push_one; push_int16 2; make_list 2; store_local 1; push_ref 1; deref; push_string8 "max"; call_named 1; )--"
       "store_local 2; push_int16 3; push_ref 1; deref; list_flatten 2; push_int16 4; list_append; push_ref 1; deref; "
       R"--(join 2; push_string8 "max"; call_named 1; store_local 3; display_local 3; halt)--"},
      {{}, R"--(f = @(t) t^2; x = 2; g = @(t) t + x * f(t); h = {@(a, b) a + b, @() x})--",
       R"--(push_string8 "t^2"; push_string8 "t"; inline 2; store_local 1; push_int16 2; store_local 2; )--"
       R"--(push_string8 "t + x * f(t)"; push_string8 "t"; push_string8 "x"; load_local 2; push_string8 "f"; load_local 1; )--"
       R"--(struct 4; inline 3; store_local 3; push_string8 "a + b"; push_string8 "a"; push_string8 "b"; inline 3; )--"
       R"--(push_string8 "x"; push_string8 "x"; load_local 2; struct 2; inline 2; make_list 2; store_local 4; )--"
       "display_local 4; halt"},
  };
  check(rows, std::size(rows));
}

// Reads through references, "end" with its depth, targets ending in
// index_assign or ref_assign; matrices and cells with their separators.
TEST(CompileExpressions, IndexingAndTargets) {
  const Golden rows[] = {
      {{}, R"--(x = 1; a = x(1); b = x(end); c = x(:); d = x(2, :); e = x(end, end - 1); f = x(x(end)))--",
       "push_one; store_local 1; push_ref 1; push_one; index_ref_read 1 0x0; store_local 2; push_ref 1; "
       "index_end 0 1 1; index_ref_read 1 0x0; store_local 3; push_ref 1; index_ref_read 1 0x1; store_local 4; "
       "push_ref 1; push_int16 2; index_ref_read 2 0x2; store_local 5; push_ref 1; index_end 0 1 2; index_end 1 2 2; "
       "push_one; minus; index_ref_read 2 0x0; store_local 6; push_ref 1; push_ref 1; index_end 0 1 1; "
       "index_ref_read 1 0x0; index_ref_read 1 0x0; store_local 7; display_local 7; halt"},
      {{}, R"--(s.a = 1; n = 'a'; y = s.a; z = s.(n); w = s.a.b(2).c)--",
       R"--(push_one; push_ref_target 1; ref_field -2; ref_assign; push_string8 "a"; store_local 2; push_ref 1; )--"
       "ref_field -2; deref; store_local 3; push_ref 1; load_local 2; ref_dynfield; deref; store_local 4; push_ref 1; "
       "ref_field -2; ref_field -4; push_int16 2; index_ref_read 1 0x0; ref_field -6; store_local 5; display_local 5; "
       "halt"},
      {{}, R"--(c = {}; y = c{2}; z = c{2}(3); w = c{end})--",
       "make_list 0; store_local 1; push_ref 1; push_int16 2; ref_element 1; deref; store_local 2; push_ref 1; "
       "push_int16 2; ref_element 1; push_int16 3; index_ref_read 1 0x0; store_local 3; push_ref 1; index_end 0 1 1; "
       "ref_element 1; deref; store_local 4; display_local 4; halt"},
      {{}, R"--(x = 1; x(3) = 5; x(end + 1) = 6; x(:, 2) = 7;)--",
       "push_one; store_local 1; push_int16 5; push_ref_target 1; push_int16 3; index_assign 1 0x0; push_int16 6; "
       "push_ref_target 1; index_end 0 1 1; push_one; plus; index_assign 1 0x0; push_int16 7; push_ref_target 1; "
       "push_int16 2; index_assign 2 0x1; halt"},
      {{}, R"--(n = 'b'; s.a.b = 1; s.(n) = 2; c{2} = 3; c{2}{1} = 4; s.a(2) = 5;)--",
       R"--(push_string8 "b"; store_local 1; push_one; push_ref_target 2; ref_field -2; ref_field -4; ref_assign; )--"
       "push_int16 2; push_ref_target 2; load_local 1; ref_dynfield; ref_assign; push_int16 3; push_ref_target 3; "
       "push_int16 2; ref_element 1; ref_assign; push_int16 4; push_ref_target 3; push_int16 2; ref_element 1; "
       "push_one; ref_element 1; ref_assign; push_int16 5; push_ref_target 2; ref_field -2; push_int16 2; "
       "index_assign 1 0x0; halt"},
      {{}, R"--(y = [1, 2; 3, 4]; z = []; w = {}; v = {1 'a'; 2 3}; u = [1 -2 - 3]; t = [1 2
3 4
];)--",
       "push_one; push_int16 2; horzcat; push_int16 3; push_int16 4; horzcat; vertcat; store_local 1; push_empty; "
       R"--(store_local 2; make_list 0; store_local 3; push_one; push_string8 "a"; make_list 2; push_int16 2; )--"
       "push_int16 3; make_list 2; vertcat; store_local 4; push_one; push_int16 2; uminus; push_int16 3; minus; "
       "horzcat; store_local 5; push_one; push_int16 2; horzcat; push_int16 3; push_int16 4; horzcat; vertcat; "
       "store_local 6; halt"},
  };
  check(rows, std::size(rows));
}

// Level 4 folds constants but never across a jump target.
TEST(CompileExpressions, ConstantFoldingAtLevel4) {
  const Golden rows[] = {
      {{.level = 4}, R"--(x = 1; y = [-1 int8(1) uint8(-1) 3i 3*i i*3 sqrt(-1) abs(-2.5) sin(0.5) -(-x) sign(-2.5) -(1) +(-3)])--",
       "push_one; store_local 1; push_int16 -1; push_small_typed.int8 1; horzcat; push_small_typed.uint8 255; horzcat; "
       "push_imag_int16 3; horzcat; push_imag_int16 3; horzcat; push_imag_int16 3; horzcat; i; horzcat; nop; "
       "push_double 2.5; horzcat; nop; nop; push_double 0.479425538604203; horzcat; load_local 1; uplus; horzcat; "
       "push_int16 -1; horzcat; push_int16 -1; horzcat; push_int16 -3; horzcat; store_local 2; display_local 2; halt"},
      {{.level = 4}, R"--(y = [-2.5 exp(1) real(2.5) imag(2.5) -1.5i abs(-3) sign(0) double(7)])--",
       "nop; nop; nop; push_double -2.5; push_one; exp; horzcat; push_double 2.5; horzcat; push_zero; horzcat; "
       "push_imag_double -1.5; horzcat; push_int16 3; horzcat; push_zero; sign; horzcat; push_int16 7; horzcat; "
       "store_local 1; display_local 1; halt"},
  };
  check(rows, std::size(rows));
}

BuiltinEntry row(const char* name, uint8_t min_in, uint8_t max_in, uint8_t min_out, uint8_t max_out,
                 int32_t class_word = 0) {
  static const BuiltinFn stub = [](EngineContext*, int, int, uintptr_t) { return 0; };
  return fn_row(name, stub, min_in, max_in, min_out, max_out, class_word);
}

// A user function named like an operator's function takes every operator
// compiled after it; a method of that name (with a class) never does.
TEST(CompileExpressions, OperatorsBindToUserFunctionsWithoutClass) {
  CompileHarness h;
  EXPECT_EQ(h.run("y = 1 + 2;").text, code_lines("push_one; push_int16 2; plus; store_local 1; halt"));
  int32_t method = -1;
  ASSERT_EQ(fn_table_define(h.ctx(), "plus", 4, "cls", 3, 0, 0, 0, kNoLibrary, &method), kOk);
  EXPECT_EQ(h.run("y = 1 + 2;").text, code_lines("push_one; push_int16 2; plus; store_local 1; halt"));
  const int32_t id = h.define("plus");
  EXPECT_EQ(h.run("y = 1 + 2;").text,
            code_lines("push_one; push_int16 2; call_user " + std::to_string(id) + " 2 1; store_local 1; halt"));
  EXPECT_EQ(ent(h.ctx(), id, kEntCode), kCodeReferenced);

  // The same holds for intrinsics called by name: a user sin hides the
  // intrinsic for code compiled after it, never for code compiled before.
  const std::string before = h.run("y = sin(1);").text;
  EXPECT_EQ(before.find("call_user"), std::string::npos) << before;
  const int32_t sin_id = h.define("sin");
  EXPECT_EQ(h.run("y = sin(1);").text,
            code_lines("push_one; call_user " + std::to_string(sin_id) + " 1 1; store_local 1; halt"));
}

// Library rows: row 0 of the table is the error-table hook, so the rows
// below are k = 1 to 4. The workspace keeps its names from run to run.
TEST(CompileExpressions, LibraryRows) {
  CompileHarness h({row("twice", 1, 2, 1, 1), row("plus", 2, 2, 1, 1), row("minus", 2, 2, 1, 1, 3),
                    row("many", 0, kArgsAny, 0, kArgsAny)});
  EXPECT_EQ(h.run("y = twice(1);").text, code_lines("push_one; lib 1 1 1; store_local 1; halt"));
  EXPECT_EQ(h.run("y = 1 + 2 - 3;").text,
            code_lines("push_one; push_int16 2; lib 2 2 1; push_int16 3; minus; store_local 1; halt"));
  EXPECT_EQ(h.run("[a, b, c] = many;").text,
            code_lines("lib 4 0 3; store_local 2; store_local 3; store_local 4; halt"));
  EXPECT_EQ(h.run("many(1, 2)").text, code_lines("push_one; push_int16 2; lib 4 2 -1; halt"));
  CompileOutcome bad = h.run("y = twice(1, 2, 3);");
  EXPECT_EQ(bad.status, kWrongNargin);
  EXPECT_EQ(bad.report, "Wrong number of input arguments (3) for function 'twice'");
  EXPECT_EQ(h.run("y = twice;").status, kWrongNargin);
  EXPECT_EQ(h.run("[a, b] = twice(1);").status, kWrongNargout);
  // Counts a row refuses fall back to a user function of the same name.
  const int32_t id = h.define("twice");
  EXPECT_EQ(h.run("[a, b] = twice(1);").text,
            code_lines("push_one; call_user " + std::to_string(id) + " 1 2; store_local 2; store_local 3; halt"));
}

// Unknown names: an error in top-level code, a forward reference (a new
// entry marked for compilation) in functions and where sources can be read.
TEST(CompileExpressions, UserFunctionsAndForwardReferences) {
  CompileHarness h;
  EXPECT_EQ(h.run("y = g(1);").status, kUnknownFunction);
  CompileOptions fn;
  fn.function_id = 0;
  const CompileOutcome out = h.run("function y = f(x)\ny = g(x) + g;\n[a, b] = g(1, 2);\ng(3)", fn);
  ASSERT_EQ(out.status, kOk) << out.report;
  const int32_t g = fn_find_user(h.ctx(), "g", 1, nullptr, 0, 0, 1, nullptr);
  ASSERT_GT(g, 0);
  EXPECT_EQ(ent(h.ctx(), g, kEntCode), kCodeReferenced);
  const std::string id = std::to_string(g);
  EXPECT_EQ(out.text, code_lines("load_local 1; call_user " + id + " 1 1; call_user " + id +
                                 " 0 1; plus; store_local 0; push_one; push_int16 2; call_user " + id +
                                 " 2 2; store_local 2; store_local 3; push_int16 3; call_user " + id +
                                 " 1 -1; disp; nargout 0; jump_if_false L1; load_local 0; L1:; ret_function"));
  CompileOptions readfn;
  readfn.flags = kCompileReadfnPresent;
  EXPECT_EQ(h.run("h()", readfn).status, kOk);
  EXPECT_GT(fn_find_user(h.ctx(), "h", 1, nullptr, 0, 0, 1, nullptr), 0);
}

// Top-level code shares the base workspace: new names join its table, 182
// when the frame's name entries are all taken.
TEST(CompileExpressions, WorkspaceNames) {
  CompileHarness h;
  ASSERT_EQ(h.run("a = 1; b = 2;").status, kOk);
  uint8_t* table = nullptr;
  int32_t count = 0;
  frame_var_table(h.ctx(), &table, &count);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(reinterpret_cast<char*>(table + 32), "a");
  EXPECT_EQ(h.run("c = a + b;").text, code_lines("load_local 1; load_local 2; plus; store_local 3; halt"));
  std::string many;
  for (int k = 0; k < kBaseFrameSlots; ++k) many += "v" + std::to_string(k) + " = 1;";
  EXPECT_EQ(h.run(many).status, kVariableTableOverflow);
}

}  // namespace
