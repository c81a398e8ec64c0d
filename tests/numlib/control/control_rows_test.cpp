// The matrix-equation, conversion and margin rows called directly: every room
// from none upwards (failures leave the stacks as they were, success leaves
// exactly the outputs), every error path with the stacks unchanged, and the
// residuals of the equations they solve.
#include <gtest/gtest.h>

#include "numlib/control/conversions.h"
#include "numlib/control/margins.h"
#include "numlib/control/matrix_equations.h"
#include "support/row_sweep.h"

namespace {

const char* const kA = "[-1 2 0; 0 -3 1; 1 0 -2]";
const char* const kB = "[1 0; 0 1; 1 1]";

const RowCall kSuccess[] = {
    {"lyap", bi_lyap, 0, {kA, "eye(3)"}, 1},
    {"lyap sylvester", bi_lyap, 0, {kA, "[-2 1; 0 -1]", "[1 2; 3 4; 5 6]"}, 1},
    {"dlyap", bi_dlyap, 0, {"[0.5 0.1; 0 0.3]", "eye(2)"}, 1},
    {"care", bi_care, 'c', {kA, kB, "eye(3)"}, 3},
    {"care R S", bi_care, 'c', {kA, kB, "eye(3)", "[2 0; 0 1]", "0.1 * ones(3, 2)"}, 3},
    {"care G", bi_care, 'c', {kA, "[1 0 0; 0 1 0; 0 0 0]", "eye(3)", "true"}, 2},
    {"care complex form", bi_care, 'c', {"[0 1; -1 0]", "[0; 1]", "eye(2)"}, 2},
    {"dare", bi_care, 'd', {"[1 1; 0 1]", "[0; 1]", "eye(2)", "1"}, 3},
    {"dare one output", bi_care, 'd', {"1", "1", "1"}, 1},
    {"c2dm tf", bi_c2dm, 0, {"[1 2]", "[1 3 2]", "0.1"}, 2},
    {"c2dm tf foh", bi_c2dm, 0, {"[1 2]", "[1 3 2]", "0.1", "'f'"}, 2},
    {"c2dm tf matched", bi_c2dm, 0, {"[1 2]", "[1 3 2]", "0.1", "'m'"}, 2},
    {"c2dm tf den", bi_c2dm, 0, {"[1 2]", "[1 3 2]", "0.1", "'t'"}, 1},
    {"c2dm ss", bi_c2dm, 0, {kA, kB, "[1 0 1]", "[0 0]", "0.1"}, 4},
    {"c2dm ss foh", bi_c2dm, 0, {kA, kB, "[1 0 1]", "[0 0]", "0.1", "'f'"}, 4},
    {"d2cm ss", bi_d2cm, 0, {"[0.5 0.1; 0 0.3]", "[1; 0]", "[1 1]", "0", "0.1", "'t'"}, 4},
    {"d2cm tf", bi_d2cm, 0, {"[1 0.5]", "[1 -0.5]", "0.1"}, 2},
    {"ss2tf", bi_ss2tf, 0, {kA, kB, "[1 0 1; 0 1 0]", "[0 0; 1 0]", "2"}, 2},
    {"ss2tf den", bi_ss2tf, 0, {kA, "[1; 0; 0]", "[1 0 1]", "0"}, 1},
    {"tf2ss", bi_tf2ss, 0, {"[1 2; 0 1]", "[1 3 2]"}, 4},
    {"margin", bi_margin, 0, {"4", "[1 3 3 1]"}, 4},
    {"dmargin", bi_dmargin, 0, {"0.5", "[1 -1]", "0.1"}, 4},
    {"dmargin unstable", bi_dmargin, 0, {"2", "[1 0]"}, 4},
    // NaN or Inf arguments: NaN outputs, pushed under the same room rules.
    {"lyap nonfinite", bi_lyap, 0, {kA, "[1 NaN 0; 0 1 0; 0 0 1]"}, 1},
    {"lyap sylvester nonfinite", bi_lyap, 0, {kA, "[-2 Inf; 0 -1]", "[1 2; 3 4; 5 6]"}, 1},
    {"dlyap nonfinite", bi_dlyap, 0, {"[0.5 NaN; 0 0.3]", "eye(2)"}, 1},
    {"care nonfinite", bi_care, 'c', {kA, kB, "[1 0 0; 0 NaN 0; 0 0 1]"}, 3},
    {"care G nonfinite", bi_care, 'c', {kA, "[1 0 0; 0 Inf 0; 0 0 0]", "eye(3)", "true"}, 2},
    {"dare nonfinite", bi_care, 'd', {"[1 1; 0 NaN]", "[0; 1]", "eye(2)", "1"}, 3},
    {"c2dm tf nonfinite", bi_c2dm, 0, {"[1 2]", "[1 3 2]", "NaN"}, 2},
    {"ss2tf nonfinite", bi_ss2tf, 0, {"[1 NaN 0; 0 -3 1; 1 0 -2]", kB, "[1 0 1; 0 1 0]", "[0 0; 1 0]", "2"}, 2},
};

const RowCall kErrors[] = {
    {"lyap C", bi_lyap, 0, {"1", "[1 2]"}, 1, kIncompatibleSize},
    {"lyap A", bi_lyap, 0, {"[1 2]", "3"}, 1, kIncompatibleSize},
    {"lyap complex", bi_lyap, 0, {"1i", "3"}, 1, kWrongArgType},
    {"dlyap", bi_dlyap, 0, {"[1 2; 3 4]", "1"}, 1, kBadSize},
    {"care outputs with G", bi_care, 'c', {"1", "1", "1", "true"}, 3, kTooManyOutputs},
    {"care G square", bi_care, 'c', {"eye(2)", "[1 2]", "eye(2)", "true"}, 1, kNonSquareMatrix},
    {"care B", bi_care, 'c', {"eye(2)", "[1; 2; 3]", "eye(2)"}, 1, kIncompatibleSize},
    {"dare R", bi_care, 'd', {"eye(2)", "[1; 2]", "eye(2)", "eye(2)"}, 1, kIncompatibleSize},
    {"c2dm method", bi_c2dm, 0, {"1", "[1 0]", "1", "'q'"}, 1, kUnknownOption},
    {"c2dm matched ss", bi_c2dm, 0, {"-1", "1", "1", "0", "1", "'m'"}, 1, kNotSupported},
    {"c2dm outputs", bi_c2dm, 0, {"1", "[1 0]", "1"}, 3, kTooManyOutputs},
    {"c2dm rows", bi_c2dm, 0, {"[1; 2]", "[1 0]", "1"}, 2, kIncompatibleSize},
    {"c2dm T", bi_c2dm, 0, {"1", "[1 0]", "[1 2]"}, 2, kNonScalarArg},
    {"d2cm method", bi_d2cm, 0, {"1", "[1 0]", "1", "'z'"}, 1, kUnknownOption},
    {"ss2tf inputs", bi_ss2tf, 0, {"eye(2)", "eye(2)", "eye(2)", "zeros(2)"}, 2, kTooFewInputs},
    {"ss2tf iu", bi_ss2tf, 0, {"eye(2)", "eye(2)", "[1 1]", "[0 0]", "3"}, 2, kIndexOutOfRange},
    {"ss2tf shapes", bi_ss2tf, 0, {"eye(2)", "eye(3)", "[1 1]", "[0 0]", "1"}, 2, kIncompatibleSize},
    {"tf2ss row", bi_tf2ss, 0, {"1", "[1; 2]"}, 4, 24},
    {"tf2ss degree", bi_tf2ss, 0, {"[1 2 3]", "[1 2]"}, 4, kIncompatibleSize},
    {"margin row", bi_margin, 0, {"[1; 2]", "[1 2]"}, 1, 24},
    {"margin degree", bi_margin, 0, {"[1 2 3]", "[1 2]"}, 1, kIncompatibleSize},
    {"dmargin T", bi_dmargin, 0, {"1", "[1 2]", "[1 2]"}, 1, kNonSquareMatrix},
};

TEST(ControlRows, EveryRoomFailureLeavesTheStacksAsTheyWere) {
  ZvrSession s;
  for (const RowCall& rc : kSuccess) sweep_room(s, rc);
}

TEST(ControlRows, ErrorsLeaveTheStacksAsTheyWere) {
  ZvrSession s;
  for (const RowCall& rc : kErrors) expect_error_leaves_stacks(s, rc);
}

TEST(ControlRows, SolutionsSatisfyTheirEquations) {
  ZvrSession s;
  ASSERT_EQ(s.run("A = [-1 2 0; 0 -3 1; 1 0 -2]; B = [1 0; 0 1; 1 1]; Q = eye(3); R = [2 0; 0 1];\n"), kOk);
  const char* const residuals[] = {
      "X = lyap(A, Q); r = max(abs(A*X + X*A' + Q)(:))",
      "X = lyap(A, [-2 1; 0 -1], B); r = max(abs(A*X + X*[-2 1; 0 -1] + B)(:))",
      "X = dlyap(A / 4, Q); r = max(abs((A/4)*X*(A/4)' - X + Q)(:))",
      "X = care(A, B, Q, R); r = max(abs(A'*X + X*A - X*B*(R\\B')*X + Q)(:))",
      "X = dare(A / 4, B, Q, R); Ad = A / 4; r = max(abs(Ad'*X*Ad - X - Ad'*X*B*((R + B'*X*B)\\(B'*X*Ad)) + Q)(:))",
  };
  for (const char* line : residuals) {
    SCOPED_TRACE(line);
    ASSERT_EQ(s.run(std::string(line) + ";\n"), kOk);
    EXPECT_EQ(s.value("r < 1e-12"), s.value("true"));
  }
}

}  // namespace
