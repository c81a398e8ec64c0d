// The operators reached through the interpreter: after start-up every
// operator opcode runs the library's operator, and the interpreter's scalar
// fast paths give bit for bit what the operators give for the same operands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"

namespace {

constexpr uint32_t kSize = 1 << 20;

struct InterpOps : ::testing::Test {
  std::unique_ptr<uint64_t[]> block{new uint64_t[kSize / 8]()};
  EngineContext* c = nullptr;
  InterpOps() { EXPECT_EQ(engine_start(block.get(), kSize, &c), kOk); }

  // Runs {code..., halt} as top-level code keeping one result.
  int run(std::vector<uint16_t> code) {
    code.push_back(kOpHalt);
    EXPECT_EQ(call_setup_frame(c, code.data(), int32_t(code.size()), 0, 1, 0, 0, 0), kOk);
    return interp_run(c, 0);
  }
  std::vector<uint8_t> top_bytes() {
    const uint32_t* d = desc_at(c, 0);
    std::vector<uint8_t> v(12 + 8 * size_t(desc_data_words(d)));
    std::memcpy(v.data(), d, 12);
    std::memcpy(v.data() + 12, item_data(c, 0), v.size() - 12);
    return v;
  }
};

// push_double and its operand (the loop reads it wherever it lies).
std::vector<uint16_t> push_double(double v) {
  uint16_t w[4];
  std::memcpy(w, &v, 8);
  return {kOpPushDouble, w[0], w[1], w[2], w[3]};
}

TEST_F(InterpOps, ScalarFastPathsMatchTheOperatorsBitForBit) {
  const uint16_t ops[] = {kOpPlus, kOpMinus, kOpTimes, kOpMtimes, kOpRdivide, kOpMrdivide,
                          kOpEq,   kOpNe,    kOpLt,    kOpGt,     kOpLe,      kOpGe};
  std::vector<double> values = {0.0, -0.0, 1.0, -2.5, 1e308, -1e-310, HUGE_VAL, -HUGE_VAL, NAN, 3.0, 0.1};
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> any(-1e6, 1e6);
  for (int i = 0; i < 20; ++i) values.push_back(any(rng));
  for (uint16_t op : ops) {
    const OpHandler lib = interp_op_handler(op);
    for (double a : values) {
      for (double b : values) {
        // Fast path: two literal scalars and the opcode.
        std::vector<uint16_t> code = push_double(a);
        for (uint16_t w : push_double(b)) code.push_back(w);
        code.push_back(op);
        ASSERT_EQ(run(code), kOk);
        const std::vector<uint8_t> fast = top_bytes();
        stk_drop(c);
        // The operator itself on the same operands.
        ASSERT_EQ(stk_push_real(c, a), kOk);
        ASSERT_EQ(stk_push_real(c, b), kOk);
        ASSERT_EQ(lib.fn(c, lib.selector, 2, 1, 0), kOk);
        EXPECT_EQ(fast, top_bytes()) << op << " " << a << " " << b;
        stk_drop(c);
      }
    }
  }
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST_F(InterpOps, OperatorOpcodesRunTheLibraryOperators) {
  // int8(100) + int8(100) wraps to -56.
  ASSERT_EQ(run({kOpPushSmallInt8, 100, kOpPushSmallInt8, 100, kOpPlus}), kOk);
  int32_t v = 0;
  ASSERT_EQ(stk_get_int(c, 0, &v), kOk);
  EXPECT_EQ(v, -56);
  EXPECT_EQ(desc_at(c, 0)[2], kPayNumeric);
  stk_drop(c);
  // A comparison of an int8 and a double gives a logical.
  ASSERT_EQ(run({kOpPushSmallInt8, 3, kOpPushInt16, 3, kOpEq}), kOk);
  EXPECT_EQ(desc_at(c, 0)[2], kPayLogical);
  stk_drop(c);
  // 7 \ 14 through the numerical library's left division.
  ASSERT_EQ(run({kOpPushInt16, 7, kOpPushInt16, 14, kOpMldivide}), kOk);
  double r = 0;
  ASSERT_EQ(stk_pop_real_scalar(c, &r), kOk);
  EXPECT_EQ(r, 2.0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

}  // namespace

namespace {

TEST_F(InterpOps, DisplayAndFormattedOutputRunThroughTheLoop) {
  char buf[512] = {};
  uint32_t len = 0;
  c->capture = CaptureBuffer{buf, sizeof buf, &len};
  ASSERT_EQ(io_set_redirect(c, kFdStdout, kFdCapture, 0), kOk);
  // "5" as a statement: stored in ans and shown under its name.
  ASSERT_EQ(run({kOpPushInt16, 5, kOpStoreAnsDisplay, 0, kOpPushNoValue}), kOk);
  const std::string shown(buf, len);
  EXPECT_EQ(shown.rfind("ans =", 0), 0u) << shown;
  EXPECT_NE(shown.find('5'), std::string::npos) << shown;
  stk_drop(c);
  // sprintf('%d', 7)
  ASSERT_EQ(run({kOpPushString8, 2, uint16_t('%' | 'd' << 8), kOpPushInt16, 7, kOpSprintf, 2}), kOk);
  char text[8];
  int32_t n = 0;
  ASSERT_EQ(stk_pop_string_buf(c, text, sizeof text, &n), kOk);
  EXPECT_EQ(std::string(text, size_t(n)), "7");
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

}  // namespace

namespace {

std::vector<double> g_loop_values;
int record_value(EngineContext* ctx, int32_t, int, int, int) {
  double v = 0;
  TN_TRY(stk_pop_real_scalar(ctx, &v));
  g_loop_values.push_back(v);
  return kOk;
}

TEST_F(InterpOps, ForLoopRunsOverTheColonOperatorsElements) {
  // The loop body hands its value to a recorder registered for a spare opcode.
  const OpHandler saved = interp_set_op_handler(kOpVariables, record_value, 0);
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> tenths(-40, 40), steps(-25, 25);
  for (int trial = 0; trial < 300; ++trial) {
    const double s = tenths(rng) / 10.0, e = tenths(rng) / 10.0, st = steps(rng) / 10.0;
    if (st == 0) continue;  // the colon operator refuses what the loop skips
    // The row the colon operator builds.
    ASSERT_EQ(run([&] {
                std::vector<uint16_t> code = push_double(s);
                for (uint16_t w : push_double(st)) code.push_back(w);
                for (uint16_t w : push_double(e)) code.push_back(w);
                code.insert(code.end(), {kOpColon, 3});
                return code;
              }()),
              kOk);
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    ASSERT_EQ(stk_get_matrix(c, 0, &rows, &cols, &re, &im), kOk);
    const std::vector<double> row(re, re + int64_t(rows) * cols);
    stk_drop(c);
    // The loop over the same range.
    g_loop_values.clear();
    std::vector<uint16_t> code = push_double(s);
    for (uint16_t w : push_double(st)) code.push_back(w);
    for (uint16_t w : push_double(e)) code.push_back(w);
    code.insert(code.end(), {kOpRangePack, 3, kOpForRangeNext, 3, kOpVariables, kOpJump, uint16_t(-5), kOpPopItem,
                             kOpPushNoValue});
    ASSERT_EQ(run(code), kOk);
    stk_drop(c);
    EXPECT_EQ(g_loop_values, row) << s << ":" << st << ":" << e;
  }
  interp_set_op_handler(kOpVariables, saved.fn, saved.selector);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

}  // namespace
