// The FFT, polynomial and interpn rows called directly: every room from none
// upwards (failures leave the stacks as they were, success leaves exactly the
// outputs), every error path with the stacks unchanged, and the identities
// ifft(fft(x)) = x and interpolation exact on its nodes.
#include <gtest/gtest.h>

#include "numlib/signal/fft_builtins.h"
#include "numlib/signal/interpn.h"
#include "numlib/signal/polynomials.h"
#include "support/row_sweep.h"

namespace {

const RowCall kSuccess[] = {
    {"fft", bi_fft, 'f', {"[1 2 3 4 5 6]"}, 1},
    {"fft n", bi_fft, 'f', {"[1 2 3 4 5]", "8"}, 1},
    {"fft n shrink", bi_fft, 'f', {"[1 2 3 4 5]", "3"}, 1},
    {"fft dim", bi_fft, 'f', {"[1 2; 3 4; 5 6]", "[]", "2"}, 1},
    {"ifft complex", bi_fft, 'i', {"[1 2i 3 4]"}, 1},
    {"fft empty", bi_fft, 'f', {"zeros(0, 3)"}, 1},
    {"fft2", bi_fft2, '2', {"[1 2; 3 4]", "4"}, 1},
    {"ifft2 m n", bi_fft2, 'I', {"[1 2; 3 4]", "3", "5"}, 1},
    {"fftn", bi_fftn, 'f', {"ones(2, 3, 4)"}, 1},
    {"ifftn siz", bi_fftn, 'i', {"[1 2; 3 4]", "[3 2 2]"}, 1},
    {"polyval", bi_polyval, 0, {"[1 2 3]", "[1 2; 3 4]"}, 1},
    {"polyval complex", bi_polyval, 0, {"[1 1i]", "[1 2]"}, 1},
    {"polyder", bi_polyder, 0, {"[1 2 3]"}, 1},
    {"polyder product", bi_polyder, 0, {"[1 0]", "[1 1]"}, 1},
    {"polyder quotient", bi_polyder, 0, {"[1 0]", "[1 1]"}, 2},
    {"polyint", bi_polyint, 0, {"[3 2]", "1i"}, 1},
    {"roots", bi_roots, 0, {"[1 -3 2]"}, 1},
    {"roots matrix", bi_roots, 0, {"[1 2; -3 -4; 2 3]"}, 1},
    {"roots complex", bi_roots, 0, {"[1 1i 2]"}, 1},
    {"roots nonfinite", bi_roots, 0, {"[1 NaN 2; 1 2 3]"}, 1},
    {"poly nonfinite", bi_poly, 0, {"[1 NaN; Inf 2]"}, 1},
    {"poly", bi_poly, 0, {"[1 2; 3 4]"}, 1},
    {"poly roots", bi_poly, 0, {"[1i -1i]"}, 1},
    {"interpn", bi_interpn, 0, {"[1 2 3]", "[10 20 30]", "[2.5 4]"}, 1},
    {"interpn 2-d", bi_interpn, 0, {"[0 1]", "[0 1]", "[1 2; 3 4]", "0.5", "0.5", "'n'"}, 1},
};

const RowCall kErrors[] = {
    {"fft text", bi_fft, 'f', {"{1}"}, 1, kWrongArgType},
    {"fft n", bi_fft, 'f', {"[1 2]", "2.5"}, 1, kNonIntegerArg},
    {"fft dim", bi_fft, 'f', {"[1 2]", "2", "0"}, 1, kBadDimension},
    {"fft2 siz", bi_fft2, '2', {"[1 2]", "[1 2 3]"}, 1, kBadSize},
    {"fftn siz", bi_fftn, 'f', {"ones(2, 3, 4)", "[2 3]"}, 1, kBadSize},
    {"fftn large", bi_fftn, 'f', {"ones(2, 2)", "ones(1, 17)"}, 1, kObjectTooLarge},
    {"polyval", bi_polyval, 0, {"[1 2; 3 4]", "1"}, 1, 22},
    {"polyder outputs", bi_polyder, 0, {"[1 2 3]"}, 2, kTooManyOutputs},
    {"polyint c", bi_polyint, 0, {"[1 2]", "[1 2]"}, 1, kNonScalarArg},
    {"roots dim", bi_roots, 0, {"[1 2 3]", "3"}, 1, kBadArgument},
    {"poly shape", bi_poly, 0, {"[1 2 3; 4 5 6]"}, 1, 22},
    {"interpn option", bi_interpn, 0, {"[1 2 3]", "[1 2 3]", "1.5", "'q'"}, 1, kUnknownOption},
    {"interpn size", bi_interpn, 0, {"[1 2 3]", "[1 2]", "1.5"}, 1, kBadSize},
    {"interpn unsorted", bi_interpn, 0, {"[1 3 2]", "[1 2 3]", "1.5"}, 1, kAnyError},
};

TEST(SignalRows, EveryRoomFailureLeavesTheStacksAsTheyWere) {
  ZvrSession s;
  for (const RowCall& rc : kSuccess) sweep_room(s, rc);
}

TEST(SignalRows, ErrorsLeaveTheStacksAsTheyWere) {
  ZvrSession s;
  for (const RowCall& rc : kErrors) expect_error_leaves_stacks(s, rc);
}

TEST(SignalRows, InverseTransformsGiveTheInputBack) {
  ZvrSession s;
  for (const char* x : {"rand(1, 97)", "rand(1, 1024) + 1i * rand(1, 1024)", "rand(6, 10)",
                        "rand(2, 3, 4)", "rand(1, 3^7)"}) {
    SCOPED_TRACE(x);
    ASSERT_EQ(s.run(std::string("x = ") + x + ";\n"), kOk);
    EXPECT_EQ(s.value("max(abs(ifft(fft(x)) - x)(:)) < 1e-13"), s.value("true"));
    EXPECT_EQ(s.value("max(abs(ifftn(fftn(x)) - x)(:)) < 1e-13"), s.value("true"));
    EXPECT_EQ(s.value("max(abs(ifft2(fft2(x)) - x)(:)) < 1e-13"), s.value("true"));
  }
}

TEST(SignalRows, InterpolationIsExactOnItsNodesAndOnLines) {
  ZvrSession s;
  ASSERT_EQ(s.run("g = [0 0.3 1 1.7 2.5]; v = 3 * g - 2;\n"), kOk);
  for (const char* m : {"'l'", "'n'", "'>'"})
    EXPECT_EQ(s.value(std::string("max(abs(interpn(g, v, g, ") + m + ") - v))"), s.value("0")) << m;
  // The previous point of the last node is the one before it.
  EXPECT_EQ(s.value("max(abs(interpn(g, v, g(1:4), '<') - v(1:4)))"), s.value("0"));
  EXPECT_EQ(s.value("interpn(g, v, 2.5, '<')"), s.value("v(4)"));
  // Multilinear interpolation reproduces a function linear in each coordinate.
  ASSERT_EQ(s.run("x = [0 1 3]; y = [1 2 4 5]; [Y, X] = meshgrid(y, x); V = 2*X + 3*Y + X.*Y;\n"), kOk);
  ASSERT_EQ(s.run("qx = [0.5 2.2 2.9]; qy = [1.5 4.5 2.1];\n"), kOk);
  EXPECT_EQ(s.value("max(abs(interpn(x, y, V, qx, qy) - (2*qx + 3*qy + qx.*qy))) < 1e-13"),
            s.value("true"));
}

}  // namespace

// A break request between the FFT's combination passes ends each transform
// row with 501 "Execution halted" and the stacks as they were.
TEST(SignalRows, BreakRequestHaltsWithTheStacksAsTheyWere) {
  const RowCall kHalted[] = {
      {"fft", bi_fft, 'f', {"ones(1, 27)"}, 1, kAborted},
      {"ifft n", bi_fft, 'i', {"ones(1, 5)", "27"}, 1, kAborted},
      {"fft2", bi_fft2, '2', {"ones(9, 9)"}, 1, kAborted},
      {"fftn", bi_fftn, 'f', {"ones(3, 9, 2)"}, 1, kAborted},
  };
  ZvrSession s;
  for (const RowCall& rc : kHalted) {
    SCOPED_TRACE(rc.name);
    assign_inputs(s, rc);
    push_inputs(s, rc);
    const StackSnapshot before = snapshot_stacks(s.c);
    engine_set_option_pair(s.c, +[](void*) -> uint8_t { return 1; }, nullptr);
    const int st = rc.fn(s.c, int(rc.inputs.size()), rc.nargout, rc.data);
    engine_set_option_pair(s.c, nullptr, nullptr);
    EXPECT_EQ(st, rc.status);
    EXPECT_TRUE(snapshot_stacks(s.c) == before);
    s.e.clear();
  }
}
