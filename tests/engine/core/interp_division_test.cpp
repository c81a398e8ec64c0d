// Library divisions of two real scalars done inline by the interpreter: what
// it remembers of a row between instructions is forgotten when the tables
// change under a running program, and a restricted frame or a class method
// row still takes the general call with its checks.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "engine/core/errors.h"
#include "engine/core/lib_calls.h"
#include "support/interp_fixture.h"

namespace {

using interp_test::InterpFixture;

// How often the rows below ran as built-ins (the inline division never calls them).
int g_general_calls = 0;

// Rows of two real scalars a and b: counted, then f(a, b) pushed.
template <double (*f)(double, double)>
int scalar_row(EngineContext* c, int, int, uintptr_t) {
  ++g_general_calls;
  double b = 0, a = 0;
  TN_TRY(stk_pop_real_scalar(c, &b));
  TN_TRY(stk_pop_real_scalar(c, &a));
  return stk_push_real(c, f(a, b));
}
double right_quotient(double a, double b) { return a / b; }
double left_quotient(double a, double b) { return b / a; }
double difference(double a, double b) { return a - b; }
// a / b and a \ b, as the engine's operators divide them, and a row that is
// no division: a - b.
constexpr BuiltinFn divide_right = scalar_row<right_quotient>;
constexpr BuiltinFn divide_left = scalar_row<left_quotient>;
constexpr BuiltinFn subtract = scalar_row<difference>;

const bool kNoted = lib_note_scalar_operator(divide_right, kOpMrdivide) == kOk &&
                    lib_note_scalar_operator(divide_left, kOpMldivide) == kOk;

// Row 0 of each table is what `lib 0 2 1` calls; row 1 of both puts the
// other table in front, from inside the running program.
const BuiltinEntry* g_swap_to = nullptr;
int swap_tables(EngineContext* c, int, int, uintptr_t) { return engine_register_builtin_table(c, g_swap_to, 1); }

struct Division : InterpFixture {
  Division() {
    EXPECT_TRUE(kNoted);
    g_general_calls = 0;
  }
};

enum class Row { kRight, kLeft, kSubtract };
// A table of two rows, fresh (the engine refuses a table registered twice).
std::vector<BuiltinEntry> table_of(Row r) {
  const BuiltinFn fn = r == Row::kRight ? divide_right : r == Row::kLeft ? divide_left : subtract;
  return {fn_row("op", fn, 2, 2, 0, 1), fn_row("swap", swap_tables, 0, 0, 0, 0), BuiltinEntry{}};
}

TEST_F(Division, TheRowCalledIsTheOneInForceWhenTheTablesChangeDuringTheRun) {
  struct Case {
    const char* name;
    Row first, second;
    double before, after;
    int general_calls;  // the subtracting row is always called; a division never
  } cases[] = {
      {"a division replaced by a subtraction", Row::kRight, Row::kSubtract, 2, 3, 1},
      {"a subtraction replaced by a division", Row::kSubtract, Row::kRight, 3, 2, 1},
      {"a right division replaced by a left one", Row::kRight, Row::kLeft, 2, 0.5, 0},
  };
  std::deque<std::vector<BuiltinEntry>> tables;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    g_general_calls = 0;
    // 6 op 3 twice, the tables swapped between (each put in front, so that
    // its rows count from 0), into locals 1 and 2.
    tables.push_back(table_of(k.first));
    ASSERT_EQ(engine_register_builtin_table(c, tables.back().data(), 1), kOk);
    tables.push_back(table_of(k.second));
    g_swap_to = tables.back().data();
    ASSERT_EQ(run("  push_int16 6\n  push_int16 3\n  lib 0 2 1\n  store_local 1\n  lib 1 0 0\n"
                  "  push_int16 6\n  push_int16 3\n  lib 0 2 1\n  store_local 2\n  halt\n"),
              kOk);
    EXPECT_EQ(local(1), k.before);
    EXPECT_EQ(local(2), k.after);
    EXPECT_EQ(g_general_calls, k.general_calls);
  }
}

TEST_F(Division, AClassMethodRowIsNeverDividedInline) {
  const BuiltinEntry table[] = {fn_row("slash", divide_right, 2, 2, 0, 1, 1), BuiltinEntry{}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  EXPECT_EQ(run("  push_int16 6\n  push_int16 3\n  lib 0 2 1\n  halt\n"), kWrongArgType);
}

TEST_F(Division, ARestrictedFrameCannotDivideThroughACoreRowKnownFromItsCaller) {
  const BuiltinEntry table[] = {marker_row("@core"), fn_row("slash", divide_right, 2, 2, 0, 1), BuiltinEntry{}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  const std::string inner = "function y = inner\nasm push_int16 6\nasm push_int16 3\nasm lib 1 2 1\n"
                            "asm ret_function\nend\n";
  int32_t id = 0;
  ASSERT_EQ(fn_define_from_source(c, "inner", 5, inner.data(), int32_t(inner.size()), 0, 0, 1, &id), kOk);
  // The caller divides through the row first, inline, then calls the
  // restricted function without a call out of the loop between.
  define("outer", "function y = outer\nasm push_int16 6\nasm push_int16 3\nasm lib 1 2 1\nasm pop_item\n"
                  "asm call_user @inner 0 1\nasm ret_function\nend\n");
  EXPECT_EQ(interp_call(c, "outer", 0, 0, 1, 0, 0), kSecurityViolation);
  EXPECT_EQ(g_general_calls, 0);
  frame_unwind(c, 0);  // the host's part after an uncaught error
}

}  // namespace
