// The interpreter's scalar fast paths give bit for bit what the library's
// operators give for the same operands.
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

}  // namespace
