// A real engine for interpreter tests: hand-assembled code run as top-level
// code in a frame of its own, functions compiled from the fake compiler's
// notation, fd 1 and fd 2 captured, and a stand-in for plus on double arrays
// (the library's operators are not part of the core), registered for the
// test and restored after it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/control_flow.h"
#include "engine/core/errors.h"
#include "engine/core/interp.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "support/asm.h"
#include "support/engine_block.h"
#include "support/fn_fakes.h"
#include "support/heap_check.h"

namespace interp_test {

// The doubles of a real or complex matrix item.
inline std::vector<double> values_at(EngineContext* c, int depth) {
  const uint32_t* d = desc_at(c, depth);
  const uint64_t* p = item_data(c, depth);
  std::vector<double> v(desc_data_words(d));
  for (size_t i = 0; i < v.size(); ++i) v[i] = tn::ld_f64(p + i);
  return v;
}

// plus on real double matrices (same size, or a scalar); anything else 44.
inline int plus_doubles(EngineContext* c, int32_t, int, int, int) {
  const uint32_t* a = desc_at(c, 1);
  const uint32_t* b = desc_at(c, 0);
  if (a[0] != kKindReal || b[0] != kKindReal) return kWrongArgType;
  const int64_t na = int64_t(a[1]) * a[2], nb = int64_t(b[1]) * b[2];
  if (na != nb && na != 1 && nb != 1) return kIncompatibleSize;
  const uint32_t rows = na >= nb ? a[1] : b[1], cols = na >= nb ? a[2] : b[2];
  std::vector<double> x(values_at(c, 1)), y(values_at(c, 0)), r(size_t(std::max(na, nb)));
  for (size_t i = 0; i < r.size(); ++i) r[i] = x[na == 1 ? 0 : i] + y[nb == 1 ? 0 : i];
  stk_drop(c);
  stk_drop(c);
  double* re = nullptr;
  TN_TRY(stk_push_matrix(c, int32_t(rows), int32_t(cols), &re, nullptr));
  std::copy(r.begin(), r.end(), re);
  return kOk;
}

struct InterpFixture : ::testing::Test {
  static constexpr uint32_t kBlockBytes = 512 * 1024;
  EngineBlock eng = EngineBlock::make(kBlockBytes);
  FakeCompiler compiler;
  EngineContext* c = eng.ctx();
  char out_buf[8192] = {};
  uint32_t out_len = 0;
  std::vector<std::pair<uint32_t, OpHandler>> saved;

  const BuiltinEntry errors_table[2] = {errors_row(), BuiltinEntry{}};

  static BuiltinEntry errors_row() {
    BuiltinEntry e{};
    e.fn = errmsg_table_as_fn(kEngineErrorTable);
    std::strncpy(e.name, kHookErrMsgTable, sizeof e.name - 1);
    return e;
  }

  // The engine's messages are registered first, so rows that tests register
  // in front of them (prepend) are counted from 0.
  InterpFixture() {
    engine_register_builtin_table(c, errors_table, 0);
    c->capture = CaptureBuffer{out_buf, sizeof out_buf, &out_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
    handle(kOpPlus, plus_doubles);
  }
  ~InterpFixture() override {
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) interp_set_op_handler(it->first, it->second.fn, it->second.selector);
  }

  void handle(uint32_t op, OpHandlerFn fn, int32_t selector = 0) {
    saved.emplace_back(op, interp_set_op_handler(op, fn, selector));
  }
  std::string output() const { return std::string(out_buf, out_len); }

  // Places assembled top-level code in a frame of its own (nargin items on
  // top become the frame's items), ready for interp_run.
  void start(const std::string& text, int nargout = 0, int nargin = 0) {
    const std::vector<uint16_t> code = tnasm::asm_code(text);
    ASSERT_EQ(call_setup_frame(c, code.data(), int32_t(code.size()), nargin, nargout, 0, 0, 0), kOk);
  }
  int run(const std::string& text, int nargout = 0) {
    start(text, nargout);
    return interp_run(c, 0);
  }
  int32_t define(const std::string& name, const std::string& text) {
    int32_t id = 0;
    EXPECT_EQ(fn_define_from_source(c, name.data(), int32_t(name.size()), text.data(), int32_t(text.size()), 0, 0,
                                    0, &id),
              kOk);
    return id;
  }
  double pop_real() {
    double v = -1;
    EXPECT_EQ(stk_pop_real_scalar(c, &v), kOk);
    return v;
  }
  // The real value of base-workspace slot k.
  double local(int k) {
    const uint32_t* slot = frame_words(c, 0) + kFrameFixedWords + k;
    EXPECT_NE(*slot, uint32_t(-1));
    return tn::ld_f64(heap_words(c) + *slot + kHeapValueHeaderWords);
  }
  int items() const { return stk_item_count(c); }
};

}  // namespace interp_test
