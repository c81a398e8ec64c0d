// The interpreter's fast paths for complex double scalars against the general
// operators and built-ins: descriptor and data words bit for bit, over a grid
// of parts with signed zeros, infinities, NaN, subnormals and overflow, every
// mix of real and complex operands.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "support/asm.h"
#include "support/started_engine.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kParts[] = {0.0, -0.0, 1.5, -3.0, 1e308, -1e-310, kInf, -kInf, kNaN, -kNaN};

struct Value {
  double re, im;
  bool cplx;
};

// An item as words: its descriptor, then its data.
std::vector<uint64_t> item_words(EngineContext* c) {
  const uint32_t* d = desc_at(c, 0);
  std::vector<uint64_t> w{d[0], d[1], d[2]};
  const uint64_t* p = item_data(c, 0);
  w.insert(w.end(), p, p + desc_data_words(d));
  return w;
}

class ComplexFast : public StartedEngineTest {
 protected:
  void push(const Value& v) {
    double *re = nullptr, *im = nullptr;
    ASSERT_EQ(stk_push_matrix(c, 1, 1, &re, v.cplx ? &im : nullptr), kOk);
    *re = v.re;
    if (v.cplx) *im = v.im;
  }
  // The operands are stored in locals 0.. of the base workspace (by the
  // general store), the code runs in a frame that keeps one result; the
  // result's words, popped.
  std::vector<uint64_t> run(const std::string& text, const std::vector<Value>& args) {
    for (size_t k = 0; k < args.size(); ++k) {
      push(args[k]);
      EXPECT_EQ(var_store_local(c, int32_t(k)), kOk);
    }
    const std::vector<uint16_t> code = tnasm::asm_code(text);
    EXPECT_EQ(call_setup_frame(c, code.data(), int32_t(code.size()), 0, 1, 0, 0, 0), kOk);
    EXPECT_EQ(interp_run(c, 0), kOk) << text;
    std::vector<uint64_t> w = item_words(c);
    stk_drop(c);
    return w;
  }
  // The operator's registered handler on the operands pushed as they are.
  std::vector<uint64_t> general(uint16_t op, const std::vector<Value>& args) {
    for (const Value& v : args) push(v);
    const OpHandler h = interp_op_handler(op);
    EXPECT_EQ(h.fn(c, h.selector, 0, 0, 0), kOk);
    std::vector<uint64_t> w = item_words(c);
    stk_drop(c);
    return w;
  }
  // Values of both kinds: every complex pair of parts, and every real part.
  static std::vector<Value> grid() {
    std::vector<Value> v;
    for (double re : kParts) {
      v.push_back({re, 0.0, false});
      for (double im : kParts) v.push_back({re, im, true});
    }
    return v;
  }
};

TEST_F(ComplexFast, OperatorsAndBuiltinsGiveTheGeneralBits) {
  const struct {
    const char* name;
    uint16_t op;
    int arity;
  } ops[] = {{"plus", kOpPlus, 2},   {"minus", kOpMinus, 2},     {"times", kOpTimes, 2},   {"mtimes", kOpMtimes, 2},
             {"rdivide", kOpRdivide, 2}, {"mrdivide", kOpMrdivide, 2}, {"eq", kOpEq, 2}, {"ne", kOpNe, 2},
             {"lt", kOpLt, 2},       {"gt", kOpGt, 2},           {"le", kOpLe, 2},         {"ge", kOpGe, 2},
             {"uminus", kOpUminus, 1}, {"real", kOpReal, 1},      {"imag", kOpImag, 1},     {"abs", kOpAbs, 1},
             {"conj", kOpConj, 1}};
  const std::vector<Value> values = grid();
  const Value none{0, 0, true};  // a second operand that is not used
  for (const auto& o : ops) {
    const std::string text = std::string("  load_local 0\n") + (o.arity == 2 ? "  load_local 1\n  " : "  ") +
                             o.name + "\n  ret_function\n";
    for (const Value& a : values)
      for (const Value& b : o.arity == 2 ? values : std::vector<Value>{none}) {
        if (o.arity == 2 && !a.cplx && !b.cplx) continue;  // the real paths are tested elsewhere
        std::vector<Value> args{a, b};
        args.resize(size_t(o.arity));
        ASSERT_EQ(run(text, args), general(o.op, args))
            << o.name << " (" << a.re << "," << a.im << "," << a.cplx << ") (" << b.re << "," << b.im << ")";
      }
  }
}

TEST_F(ComplexFast, LocalsKeepBothPartsThroughStoresAndLoads) {
  // A new local, a complex over a complex, then a real over it and back: the
  // value read is the value stored, kind and parts.
  const Value z{-0.0, kNaN, true}, w{kInf, -0.0, true}, r{2.0, 0.0, false};
  const std::string text =
      "  load_local 0\n  store_local 3\n  load_local 1\n  store_local 3\n  load_local 3\n  store_local 4\n"
      "  load_local 2\n  store_local 4\n  load_local 1\n  store_local 4\n  load_local 4\n  ret_function\n";
  push(w);
  const std::vector<uint64_t> want = item_words(c);
  stk_drop(c);
  EXPECT_EQ(run(text, {z, w, r}), want);
}

}  // namespace
