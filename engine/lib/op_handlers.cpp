// Opcode handlers of the operators: thin adapters from the interpreter's
// handler form (selector and operand words) to the operators' own entry
// points. The selector carries the operator character or variant.
#include "engine/lib/op_handlers.h"

#include "engine/core/interp.h"
#include "engine/core/local_queries.h"
#include "engine/core/opcodes.h"
#include "engine/lib/arith.h"
#include "engine/lib/classes.h"
#include "engine/lib/array_opcodes.h"
#include "engine/lib/arrays.h"
#include "engine/lib/display.h"
#include "engine/lib/dump_source.h"
#include "engine/lib/funvals.h"
#include "engine/lib/matprod.h"
#include "engine/lib/printf.h"
#include "engine/lib/relational.h"
#include "engine/lib/text_container_opcodes.h"
#include "engine/lib/matrix_ops.h"

namespace {

int h_arith(EngineContext* c, int32_t op, int, int, int) { return arith_elementwise_binary(c, op); }
int h_compare(EngineContext* c, int32_t sel, int, int, int) { return bi_eq(c, sel); }
int h_same(EngineContext* c, int32_t sel, int, int, int) { return bi_same(c, sel); }
int h_logic(EngineContext* c, int32_t sel, int, int, int) { return bi_and(c, sel); }
int h_not(EngineContext* c, int32_t sel, int, int, int) { return bi_not(c, sel); }
int h_finite(EngineContext* c, int32_t sel, int, int, int) { return bi_isfinite(c, sel); }

// Operators without a selector of their own.
using PlainOp = int (*)(EngineContext*);
constexpr PlainOp kPlain[] = {bi_mtimes, bi_uminus, bi_conj, bi_mrdivide, bi_mldivide, bi_mpower, bi_inv, bi_det};
constexpr uint16_t kPlainOpcodes[] = {kOpMtimes,   kOpUminus, kOpConj, kOpMrdivide,
                                      kOpMldivide, kOpMpower, kOpInv,  kOpDet};
static_assert(sizeof kPlain / sizeof kPlain[0] == sizeof kPlainOpcodes / sizeof kPlainOpcodes[0]);
int h_plain(EngineContext* c, int32_t index, int, int, int) { return kPlain[index](c); }

// Display: the value shown under the variable's name (consumed), format, and
// the built-in display for objects without a "disp" method.
int h_display_named(EngineContext* c, int32_t, int slot, int, int) { return op_display_name(c, slot, false, true); }
int h_format(EngineContext* c, int32_t, int nargin, int, int) { return bi_format(c, nargin); }
int display_value(EngineContext* c, int32_t fd, int pop) { return bi_disp(c, fd, pop != 0); }

}  // namespace

void engine_op_handlers_install() {
  const struct { uint16_t op; OpHandlerFn fn; int32_t sel; } rows[] = {
      {kOpPlus, h_arith, kArithPlus},       {kOpMinus, h_arith, kArithMinus},
      {kOpTimes, h_arith, kArithTimes},     {kOpRdivide, h_arith, kArithRdivide},
      {kOpLdivide, h_arith, kArithLdivide}, {kOpRem, h_arith, kArithRem},
      {kOpMod, h_arith, kArithMod},         {kOpPower, h_arith, kArithPower},
      {kOpRealpow, h_arith, kArithRealpow}, {kOpEq, h_compare, kCmpEq},
      {kOpNe, h_compare, kCmpNe},           {kOpLt, h_compare, kCmpLt},
      {kOpGt, h_compare, kCmpGt},           {kOpLe, h_compare, kCmpLe},
      {kOpGe, h_compare, kCmpGe},           {kOpSame, h_same, kSameSame},
      {kOpUnsame, h_same, kSameUnsame},     {kOpAnd, h_logic, kLogicAnd},
      {kOpOr, h_logic, kLogicOr},           {kOpXor, h_logic, kLogicXor},
      {kOpNot, h_not, kNotNot},             {kOpLogical, h_not, kNotLogical},
      {kOpIsfinite, h_finite, kFiniteIsfinite}, {kOpIsinf, h_finite, kFiniteIsinf},
      {kOpIsnan, h_finite, kFiniteIsnan},
  };
  for (const auto& r : rows) interp_set_op_handler(r.op, r.fn, r.sel);
  for (int32_t i = 0; i < int32_t(sizeof kPlainOpcodes / sizeof kPlainOpcodes[0]); ++i)
    interp_set_op_handler(kPlainOpcodes[i], h_plain, i);
  for (uint16_t op : kFormattedIoOpcodes) interp_set_op_handler(op, op_formatted_io, op);
  interp_set_op_handler(kOpDisplayNamed, h_display_named, 0);
  interp_set_op_handler(kOpFormat, h_format, 0);
  interp_set_display(display_value);
  funvals_install();
  classes_install();
  dump_source_register_ops();
  for (int i = 0; i < kArrayOpcodeHandlerCount; ++i)
    interp_set_op_handler(kArrayOpcodeHandlers[i].opcode, kArrayOpcodeHandlers[i].fn, kArrayOpcodeHandlers[i].selector);
  local_result_install(kOpDiff, &kDiffBlockHooks);
  for (int i = 0; i < kTextContainerOpcodeHandlerCount; ++i) {
    const TextContainerOpcodeHandler& h = kTextContainerOpcodeHandlers[i];
    interp_set_op_handler(h.opcode, h.fn, h.selector);
  }
}
