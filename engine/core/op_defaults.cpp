// The process-wide table of engine opcode handlers, with the core's own
// operations (stack items, variables, references, indexing and assignment,
// integer conversions, lasterr and the like) as its defaults; the base library
// registers the rest at start-up.
#include <array>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/indexing.h"
#include "engine/core/interp.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

namespace {

int not_supported(EngineContext*, int32_t, int, int, int) { return kNotSupported; }

int h_dup_items(EngineContext* c, int32_t, int a, int n, int) { return stk_dup(c, a - n, n); }
int h_move_item(EngineContext* c, int32_t, int from, int to, int) { return stk_move(c, from, to); }
int h_make_list(EngineContext* c, int32_t, int n, int, int) { return stk_make_container(c, n, 0, nullptr, 0); }
int h_list_append(EngineContext* c, int32_t, int, int, int) { return stk_make_container(c, 1, 1, nullptr, 0); }

// nargin / nargout: the frame's count, or with a function argument its maximum.
int h_nargio(EngineContext* c, int32_t which, int nargin, int, int) {
  if (nargin >= 1) return funarg_pop_resolve(c, 0, which);
  return frame_push_nargio(c, which);
}

// int8 ... uint64: selector = element size | unsigned << 8.
constexpr int32_t kIntUnsignedShift = 8;
int h_convert_int(EngineContext* c, int32_t sel, int, int, int) {
  const int status = stk_convert_to_int(c, 0, sel & 0xff, sel >> kIntUnsignedShift, 0);
  return status == kWrongType ? kWrongArgType : status;
}

int h_rethrow(EngineContext* c, int32_t, int, int, int) { return bi_rethrow(c); }
int h_lasterr(EngineContext* c, int32_t as_structure, int, int nargout, int) {
  return bi_lasterr_lasterror(c, nargout, as_structure != 0);
}
int h_exist(EngineContext* c, int32_t, int nargin, int nargout, int) { return bi_exist(c, nargin, nargout, 0); }

// Variables, references, indexing and assignment. fid and the method class
// are the running frame's words 9 and 10.
int32_t running_word(EngineContext* c, int word) {
  return c->frame >= 0 ? int32_t(frame_words(c, c->frame)[word]) : 0;
}
int h_link_global(EngineContext* c, int32_t, int k, int persistent, int) {
  return var_link_global(c, k, persistent ? running_word(c, kFwFunctionId) : -1);
}
int h_clear(EngineContext* c, int32_t, int nargin, int, int) { return bi_clear(c, nargin); }
int h_push_local(EngineContext* c, int32_t, int k, int, int) { return var_push_local(c, k); }
int h_store_local(EngineContext* c, int32_t, int k, int, int) { return var_store_local(c, k); }
int h_subsref(EngineContext* c, int32_t, int, int, int) { return bi_subsref(c); }
int h_subsasgn(EngineContext* c, int32_t, int, int, int) { return bi_subsasgn(c); }
int h_add_constant(EngineContext* c, int32_t sign, int k, int, int) { return var_local_add_constant(c, k, sign); }
int h_clear_local(EngineContext* c, int32_t, int k, int, int) { return var_clear_local(c, k); }
int h_ref_field(EngineContext* c, int32_t, int symbol, int, int) {
  return op_ref_step(c, symbol, running_word(c, kFwMethodClass));
}
int h_ref_dynfield(EngineContext* c, int32_t, int, int, int) {
  return op_ref_step_dynfield(c, running_word(c, kFwMethodClass));
}
int h_index_read(EngineContext* c, int32_t, int n, int mask, int fid) {
  return index_extract(c, n, uint32_t(uint16_t(mask)), index_read_call_kind(uint32_t(mask)), fid);
}
int h_ref_element(EngineContext* c, int32_t, int n, int, int) { return op_ref_step_element(c, n); }
int h_index_end(EngineContext* c, int32_t end_flag, int depth, int position, int count) {
  return op_index_end(c, depth, position, count, end_flag);
}
int h_matrixrow(EngineContext* c, int32_t row_flag, int depth, int position, int count) {
  return op_index_matrixrow(c, depth, position, count, row_flag);
}
int h_push_ref(EngineContext* c, int32_t assign_flag, int k, int, int) { return var_push_ref(c, k, assign_flag); }
int h_deref(EngineContext* c, int32_t, int, int, int) { return ref_deref_top(c); }
int h_index_ref_read(EngineContext* c, int32_t, int n, int mask, int fid) {
  return op_index_get(c, fid, n, uint32_t(uint16_t(mask)), index_read_call_kind(uint32_t(mask)));
}
int h_ref_assign(EngineContext* c, int32_t, int, int, int) { return op_ref_assign(c); }
int h_index_assign(EngineContext* c, int32_t, int n, int mask, int) {
  return op_index_set(c, n, uint32_t(uint16_t(mask)));
}
int h_inline(EngineContext* c, int32_t, int nargin, int nargout, int) { return bi_inline(c, nargin, nargout, 0); }

using HandlerTable = std::array<OpHandler, kEngineOpcodeCount>;

// Constant-initialised, so that a registration made from any start-up code
// finds the table in place.
constexpr HandlerTable default_handlers() {
  HandlerTable t{};
  t.fill(OpHandler{not_supported, 0});
  t[kOpDupItems] = {h_dup_items, 0};
  t[kOpMoveItem] = {h_move_item, 0};
  t[kOpMakeList] = {h_make_list, 0};
  t[kOpListAppend] = {h_list_append, 0};
  t[kOpNargin] = {h_nargio, 0};
  t[kOpNargout] = {h_nargio, 1};
  const struct { uint16_t op; int size; int unsigned_flag; } ints[] = {
      {kOpInt8, 1, 0},   {kOpInt16, 2, 0},  {kOpInt32, 4, 0},  {kOpInt64, 8, 0},
      {kOpUint8, 1, 1},  {kOpUint16, 2, 1}, {kOpUint32, 4, 1}, {kOpUint64, 8, 1}};
  for (const auto& i : ints) t[i.op] = {h_convert_int, i.size | i.unsigned_flag << kIntUnsignedShift};
  t[kOpRethrow] = {h_rethrow, 0};
  t[kOpLasterr] = {h_lasterr, 0};
  t[kOpLasterror] = {h_lasterr, 1};
  t[kOpExist] = {h_exist, 0};
  t[kOpDeclareGlobal] = {h_link_global, 0};
  t[kOpClear] = {h_clear, 0};
  t[kOpLoadLocal] = {h_push_local, 0};
  t[kOpSubsref] = {h_subsref, 0};
  t[kOpStoreLocal] = {h_store_local, 0};
  t[kOpSubsasgn] = {h_subsasgn, 0};
  t[kOpIncLocal] = {h_add_constant, 1};
  t[kOpDecLocal] = {h_add_constant, -1};
  t[kOpClearLocal] = {h_clear_local, 0};
  t[kOpRefField] = {h_ref_field, 0};
  t[kOpRefDynfield] = {h_ref_dynfield, 0};
  t[kOpIndexRead] = {h_index_read, 0};
  t[kOpRefElement] = {h_ref_element, 0};
  t[kOpIndexBeginning] = {h_index_end, 0};
  t[kOpIndexEnd] = {h_index_end, 1};
  t[kOpIndexMatrixrow] = {h_matrixrow, 1};
  t[kOpIndexMatrixcol] = {h_matrixrow, 0};
  t[kOpPushRef] = {h_push_ref, 0};
  t[kOpPushRefTarget] = {h_push_ref, 1};
  t[kOpDeref] = {h_deref, 0};
  t[kOpIndexRefRead] = {h_index_ref_read, 0};
  t[kOpRefAssign] = {h_ref_assign, 0};
  t[kOpIndexAssign] = {h_index_assign, 0};
  t[kOpInline] = {h_inline, 0};
  return t;
}

constinit HandlerTable g_handlers = default_handlers();

}  // namespace

OpHandler interp_set_op_handler(uint32_t opcode, OpHandlerFn fn, int32_t selector) {
  if (opcode >= uint32_t(kEngineOpcodeCount)) return OpHandler{nullptr, 0};
  const OpHandler old = g_handlers[opcode];
  static constexpr HandlerTable kDefaults = default_handlers();
  g_handlers[opcode] = fn ? OpHandler{fn, selector} : kDefaults[opcode];
  return old;
}

OpHandler interp_op_handler(uint32_t opcode) {
  return opcode < uint32_t(kEngineOpcodeCount) ? g_handlers[opcode] : OpHandler{not_supported, 0};
}

bool interp_op_registered(uint32_t opcode) { return interp_op_handler(opcode).fn != not_supported; }
