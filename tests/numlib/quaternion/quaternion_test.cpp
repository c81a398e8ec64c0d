// The quaternion class: the kernels against scipy's rotations
// (refdata/make_rotations.py) and against algebraic identities on random
// quaternions, and the class from ZVR code: error codes, clean stacks after
// every error, and a dump that reads back to the same value.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/libraries.h"
#include "numlib/quaternion/quaternion.h"
#include "support/snapshot_writer.h"
#include "support/zvr_session.h"

namespace {

using Q = std::array<double, 4>;

Q random_q(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> u(-2, 2);
  return {u(rng), u(rng), u(rng), u(rng)};
}

Q mul(const Q& a, const Q& b) {
  Q out;
  quaternion_mul_kernel(a.data(), b.data(), out.data());
  return out;
}

std::array<double, 9> matrix(const Q& q) {
  std::array<double, 9> m;
  quaternion_to_matrix_kernel(q[0], q[1], q[2], q[3], m.data());
  return m;
}

TEST(QuaternionKernels, RotationsMatchScipy) {
  std::ifstream in(TN_QUATERNION_REFDATA "/rotations.txt");
  std::vector<double> v(16);
  int lines = 0;
  while (in >> v[0]) {
    for (int k = 1; k < 16; ++k) in >> v[k];
    ++lines;
    Q q;
    quaternion_from_rpy_kernel(v[0], v[1], v[2], q.data());
    // q and -q are the same rotation.
    const double sign = q[0] * v[3] + q[1] * v[4] + q[2] * v[5] + q[3] * v[6] < 0 ? -1 : 1;
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(sign * q[j], v[3 + j], 1e-14) << lines;
    const auto m = matrix(q);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(m[k], v[7 + k], 1e-14) << lines;
    // Off gimbal lock the angles come back.
    if (std::fabs(v[1]) < 1.5) {
      double r = 0, p = 0, y = 0;
      quaternion_to_rpy_kernel(q[0], q[1], q[2], q[3], &r, &p, &y);
      EXPECT_NEAR(r, v[0], 1e-12);
      EXPECT_NEAR(p, v[1], 1e-12);
      EXPECT_NEAR(y, v[2], 1e-12);
    }
  }
  EXPECT_EQ(lines, 200);
}

// The product of quaternions is the product of their rotations.
TEST(QuaternionKernels, ProductIsRotationProduct) {
  std::mt19937_64 rng(7);
  for (int t = 0; t < 500; ++t) {
    const Q a = random_q(rng), b = random_q(rng);
    const auto ma = matrix(a), mb = matrix(b), mab = matrix(mul(a, b));
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double s = 0;
        for (int k = 0; k < 3; ++k) s += ma[3 * i + k] * mb[3 * k + j];
        EXPECT_NEAR(mab[3 * i + j], s, 1e-13);
      }
  }
  const Q i{0, 1, 0, 0}, j{0, 0, 1, 0};
  EXPECT_EQ(mul(i, j), (Q{0, 0, 0, 1}));
  EXPECT_EQ(mul(j, i), (Q{0, 0, 0, -1}));
}

TEST(QuaternionKernels, ExpLogAndSquareRootInvert) {
  std::mt19937_64 rng(11);
  for (int t = 0; t < 500; ++t) {
    const Q q = random_q(rng);
    Q e = q;
    quaternion_log_kernel(e.data());
    quaternion_exp_kernel(e.data());
    Q s = q;
    quaternion_sqrt_kernel(s.data());
    const Q s2 = mul(s, s);
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(e[k], q[k], 1e-13);
      EXPECT_NEAR(s2[k], q[k], 1e-13);
    }
  }
  Q m{-4, 0, 0, 0};
  quaternion_sqrt_kernel(m.data());
  EXPECT_EQ(m, (Q{0, 2, 0, 0}));
  Q g{0, 0, 0, 0};
  double r = 1, p = 1, y = 1;
  quaternion_to_rpy_kernel(g[0], g[1], g[2], g[3], &r, &p, &y);
  EXPECT_EQ(r + p + y, 0.0);
  // Pitch exactly pi/2: roll 0.
  Q up;
  quaternion_from_rpy_kernel(0.3, M_PI / 2, 0.1, up.data());
  quaternion_to_rpy_kernel(up[0], up[1], up[2], up[3], &r, &p, &y);
  EXPECT_EQ(r, 0.0);
  EXPECT_NEAR(p, M_PI / 2, 1e-15);
}

// --- From ZVR code --------------------------------------------------------------

class QuaternionScript : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_TRUE(z.clean()); }
  ZvrSession z;
};

TEST_F(QuaternionScript, ErrorCodesAndCleanStacks) {
  struct Case { const char* expr; int status; };
  const Case cases[] = {
      {"quaternion([1 2], zeros(2,3))", kIncompatibleSize},
      {"quaternion(1, zeros(2,2,3))", kIncompatibleSize},
      {"quaternion(ones(2,2), zeros(2,2,2,3))", kIncompatibleSize},
      {"quaternion(zeros(2,2), zeros(2,2,4))", kBadSize},
      {"quaternion(1, [1 2])", kIncompatibleSize},
      {"quaternion({1})", kWrongArgType},
      {"quaternion(1, 2, [3 4])", kIncompatibleSize},
      {"quaternion([1 2], 1, 1, 1)", kIncompatibleSize},
      {"quaternion(ones(2,2), ones(2,2), ones(2,2), ones(2,2)) * quaternion(ones(2,2))", kIncompatibleSize},
      {"quaternion([1 2]) ^ 2", kIncompatibleSize},
      {"q2mat(quaternion([1 2], [1 2], [1 2], [1 2]))", kBadSize},
      {"size(quaternion(1), 0)", kBadDimension},
      {"size(quaternion(1), 1.5)", kNonIntegerArg},
      {"size(quaternion(1), [1 2])", kNonScalarArg},
      {"rpy2q([1 2], [1 2 3], 0)", kIncompatibleSize},
      {"rpy2q({1}, 0, 0)", kWrongArgType},
      {"quaternion([1 2]) + quaternion([1 2 3])", kIncompatibleSize},
      {"qslerp(quaternion(1), quaternion([1 2], 0, 0, 0), [1 2 3])", kIncompatibleSize},
      {"reshape(quaternion([1 2 3]), 2, 2)", kBadSize},
  };
  for (const Case& k : cases) EXPECT_EQ(z.value(k.expr), "error " + std::to_string(k.status)) << k.expr;
  ASSERT_EQ(z.run("q = quaternion(1, 2, 3, 4);\n"), kOk);
  EXPECT_EQ(z.value("q{1}"), "error " + std::to_string(kWrongVariableType));
  EXPECT_EQ(z.value("q.a"), "error " + std::to_string(kUndefinedField));
  EXPECT_EQ(z.run("q.v = 1;\n"), kUndefinedField);
  frame_unwind(z.c, 0);
  EXPECT_EQ(z.run("q.x = [1 2];\n"), kIncompatibleSize);
  frame_unwind(z.c, 0);
  // Nothing of a failed call is left, and q is unchanged.
  EXPECT_EQ(z.value("double(q)"), "double 4x1 [1 2 3 4]");
}

TEST_F(QuaternionScript, ValuesThroughTheLanguage) {
  ASSERT_EQ(z.run("q = quaternion([1 2 3], [4 5 6], [7 8 9], [10 11 12]);\n"), kOk);
  EXPECT_EQ(z.value("double(q(2))"), "double 4x1 [2 5 8 11]");
  EXPECT_EQ(z.value("double(q(end))"), "double 4x1 [3 6 9 12]");
  EXPECT_EQ(z.value("size(q')"), "double 1x2 [3 1]");
  EXPECT_EQ(z.value("double(q')"), "double 3x4 [1 -4 -7 -10 2 -5 -8 -11 3 -6 -9 -12]");
  EXPECT_EQ(z.value("double(q.')"), "double 3x4 [1 4 7 10 2 5 8 11 3 6 9 12]");
  EXPECT_EQ(z.value("double(sum(q))"), "double 4x1 [6 15 24 33]");
  EXPECT_EQ(z.value("double(mean(q, 2))"), "double 4x1 [2 5 8 11]");
  EXPECT_EQ(z.value("double([q(1) q(3)])"), "double 4x2 [1 3 4 6 7 9 10 12]");
  EXPECT_EQ(z.value("q.x"), "double 1x3 [4 5 6]");
  EXPECT_EQ(z.value("size(q.v)"), "double 1x2 [3 3]");
  ASSERT_EQ(z.run("q.x = 5;\nq(2) = 3;\n"), kOk);
  EXPECT_EQ(z.value("double(q)"), "double 4x3 [1 3 3 5 0 5 7 0 9 10 0 12]");
  ASSERT_EQ(z.run("r = [1 2] .* quaternion([1 1], [1 1], [2 2], [3 3]);\n"), kOk);
  EXPECT_EQ(z.value("double(r)"), "double 4x2 [1 2 1 2 2 4 3 6]");
  EXPECT_EQ(z.value("double(quaternion(1, 2, 3, 4) / quaternion(1, 2, 3, 4))"), "double 4x1 [1 0 0 0]");
  EXPECT_EQ(z.value("double(2 \\ quaternion(2, 4, 6, 8))"), "double 4x1 [1 2 3 4]");
  EXPECT_EQ(z.value("double(quaternion(2) ^ 2)"), "double 4x1 [4 0 0 0]");
  EXPECT_EQ(z.value("q2str(quaternion(0, 0, 2, 0))"), "'2j'");
  EXPECT_EQ(z.value("q2str(quaternion(2+3i))"), "'2+3i'");
  EXPECT_EQ(z.value("q2str(quaternion(zeros(2, 3)))"), "'2x3 quaternion array'");
  EXPECT_EQ(z.value("q2str(quaternion(zeros(0, 3)))"), "'empty quaternion array'");
  EXPECT_EQ(z.value("isquaternion(q)"), "logical 1x1 [1]");
  EXPECT_EQ(z.value("isquaternion(1)"), "logical 1x1 [0]");
}

// The "+dump" text, compiled back, gives the same components and dims.
TEST_F(QuaternionScript, DumpReadsBack) {
  ASSERT_EQ(z.run("q = quaternion([1.5 -2; 3e-7 4], [0 1; 2 3], [5 6; 7 8], [0.1 0.2; 0.3 1e10]);\n"
                  "p = quaternion(1, -2, 3.25, 4);\n"), kOk);
  const BuiltinEntry* hook = lib_find_builtin(z.c, "+dump", nullptr, 0, nullptr);
  ASSERT_NE(hook, nullptr);
  using DumpHook = int (*)(EngineContext*, char*, int32_t, int32_t*, uintptr_t);
  const auto dump = reinterpret_cast<DumpHook>(reinterpret_cast<void (*)()>(hook->fn));
  for (const char* name : {"q", "p"}) {
    ASSERT_EQ(z.push_variable(name), kOk);
    z.c->class_id = int32_t(desc_at(z.c, 0)[2]);
    char text[1024];
    int32_t pos = 0;
    ASSERT_EQ(dump(z.c, text, sizeof text, &pos, 0), kOk);
    const std::string source(text, size_t(pos));
    EXPECT_EQ(z.value("double(" + source + ") - double(" + name + ")"),
              std::string(name)[0] == 'q' ? "double 2x2x4 [0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0]"
                                          : "double 4x1 [0 0 0 0]")
        << source;
  }
}

// A quaternion variable in a saved image loads back with the same payload
// bytes and stays a quaternion of the same class.
TEST_F(QuaternionScript, SavedImageKeepsThePayload) {
  ASSERT_EQ(z.run("q = quaternion([1 2; 3 4], [5 6; 7 8], [0.5 0; 0 -1], [9 8; 7 6]);\n"), kOk);
  const std::vector<uint8_t> image = write_engine_image(z.c);
  ZvrSession other;
  ASSERT_EQ(load_image(other.c, image), kOk);
  ASSERT_EQ(z.push_variable("q"), kOk);
  ASSERT_EQ(other.push_variable("q"), kOk);
  const uint32_t* d1 = desc_at(z.c, 0);
  const uint32_t* d2 = desc_at(other.c, 0);
  ASSERT_EQ(std::vector<uint32_t>(d1, d1 + 3), std::vector<uint32_t>(d2, d2 + 3));
  EXPECT_EQ(std::memcmp(item_data(z.c, 0), item_data(other.c, 0), size_t(d1[1]) * 8), 0);
  stk_drop(z.c);
  stk_drop(other.c);
  EXPECT_EQ(other.value("double(q(2, 1))"), "double 4x1 [3 7 0 7]");
}

}  // namespace
