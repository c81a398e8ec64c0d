// What the interpreter loop stands on: the decode table of the engine
// opcodes, the process-wide table of opcode handlers (with the core's own
// handlers as defaults), code positions, calls of library rows, and the task
// services. The decode table is derived once from the instruction tables, so
// it always agrees with them.
#include <array>
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/indexing.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

namespace {

// --- Decode table ------------------------------------------------------------

constexpr int kMaxHandlerOperands = 3;

bool opcode_runs_code(uint32_t op) {
  switch (op) {
    case kOpSubsasgn: case kOpIndexRead: case kOpIndexRefRead: case kOpEval: case kOpFeval:
    case kOpBuiltin: case kOpCallNamed:
      return true;
    default:
      return false;
  }
}

OpDecode decode_of(uint32_t op) {
  OpDecode d{};
  const OpcodeInfo& info = kOpcodeInfoTable[op];
  switch (info.kind) {
    case kOperandNone: d.length = 1; break;
    case kOperandWords: d.length = uint8_t(info.count + 1); break;
    case kOperandInt32: d.length = uint8_t(2 * info.count + 1); break;
    case kOperandInt64:
    case kOperandDouble: d.length = uint8_t(4 * info.count + 1); break;
    default: d.length = 0; break;  // strings: the length word decides
  }
  if (info.kind == kOperandWords)
    d.operands = uint8_t(info.count < kMaxHandlerOperands ? info.count : kMaxHandlerOperands);
  if (const IntrinsicEntry* e = intrinsic_by_opcode(op)) {
    d.intrinsic = true;
    int8_t word = 1;
    if (argc_is_variable(e->in_args)) d.in_word = word++;
    else d.in_fixed = int8_t(e->in_args);
    if (argc_is_variable(e->out_args)) d.out_word = word;
    else d.out_fixed = int8_t(e->out_args);
  }
  d.runs_code = opcode_runs_code(op);
  return d;
}

const std::array<OpDecode, kEngineOpcodeCount> kDecode = [] {
  std::array<OpDecode, kEngineOpcodeCount> t{};
  for (uint32_t op = 0; op < uint32_t(kEngineOpcodeCount); ++op) t[op] = decode_of(op);
  return t;
}();

// --- Default handlers: the operations the core itself provides ----------------

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
  return index_extract(c, n, uint32_t(uint16_t(mask)), 1, fid);
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
  return op_index_get(c, fid, n, uint32_t(uint16_t(mask)));
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

// --- Tasks: the single-context defaults ---------------------------------------

bool single_yield(EngineContext*, CodePosition*) { return false; }
void single_switch(EngineContext*, int32_t) {}
void single_remove(EngineContext*, int32_t) {}

// Runs the oldest queued function call with the position stored around it.
// A queued item list needs the task scheduler's runner; it stays queued.
int single_run_event(EngineContext* c, CodePosition* pos) {
  if (c->event_count < 1 || !c->events[0].fn) return kOk;
  const PendingEvent e = c->events[0];
  std::memmove(c->events, c->events + 1, sizeof(PendingEvent) * size_t(c->event_count - 1));
  --c->event_count;
  if (pos) c->pos = *pos;
  const int status = e.fn(c, e.data);
  if (pos) *pos = c->pos;
  return status;
}

constexpr InterpTaskOps kSingleContext = {single_yield, single_switch, single_remove, single_run_event};
InterpTaskOps g_task_ops = kSingleContext;

// The static code block: sequences that frames return into (a task's first
// call returns into the task end at byte 2).
constexpr uint16_t kStaticCode[] = {kOpHalt, kOpTaskEnd, kOpNop, kOpNop};

}  // namespace

const OpDecode& op_decode(uint32_t opcode) { return kDecode[opcode]; }

void op_handler_args(const OpDecode& dec, const uint16_t* insn, int* a, int* b, int* c) {
  *a = *b = *c = 0;
  if (dec.intrinsic) {
    *a = dec.in_word ? int16_t(insn[dec.in_word]) : dec.in_fixed;
    *b = dec.out_word ? int16_t(insn[dec.out_word]) : dec.out_fixed;
    return;
  }
  if (dec.operands >= 1) *a = int16_t(insn[1]);
  if (dec.operands >= 2) *b = int16_t(insn[2]);
  if (dec.operands >= 3) *c = int16_t(insn[3]);
}

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

// --- Library rows ----------------------------------------------------------------

int lib_row_lookup(EngineContext* ctx, int32_t k, LibRow* out) {
  if (k < 0) return kNotSupported;
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    if (k < refs[t].rows) {
      *out = LibRow{&refs[t].table[k], t, k};
      return kOk;
    }
    k -= refs[t].rows;
  }
  return kNotSupported;
}

bool frame_is_restricted(EngineContext* ctx) {
  return ctx->frame >= 0 && frame_words(ctx, ctx->frame)[kFwSandbox] != 0;
}

int lib_row_admit(EngineContext* ctx, const LibRow& r) {
  if (frame_is_restricted(ctx)) {
    // The last group mark at or above the row decides.
    char mark = 0;
    const BuiltinEntry* table = table_refs(ctx)[r.table].table;
    for (int32_t i = 0; i <= r.index; ++i)
      if (table[i].name[0] == '!' || table[i].name[0] == '@') mark = table[i].name[0];
    if (mark != '!') return kSecurityViolation;
  }
  if (r.row->class_word > 0) return kWrongArgType;
  // Marker and hook rows keep other things than a built-in in their function field.
  const char mark = r.row->name[0];
  if (!r.row->fn || mark == '@' || mark == '!' || mark == '+') return kNotSupported;
  ctx->class_id = builtin_class_id(r.table, r.row->class_word);
  return kOk;
}

int lib_call_opcode(EngineContext* ctx, int32_t opcode, int nargin, int nargout) {
  if (opcode >= 0 && opcode < kEngineOpcodeCount) {
    const OpHandler h = g_handlers[opcode];
    return h.fn(ctx, h.selector, nargin, nargout, 0);
  }
  LibRow r{};
  if (lib_row_lookup(ctx, opcode - int32_t(kFirstLibraryOpcode), &r) != kOk) return TN_ILLEGAL();
  TN_TRY(lib_row_admit(ctx, r));
  return r.row->fn(ctx, nargin, nargout, builtin_data(ctx, r.row));
}

int lib_call_builtin(EngineContext* ctx, BuiltinFn fn, int nargin, int nargout) {
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    for (int32_t i = 0; i < refs[t].rows; ++i) {
      const BuiltinEntry& row = refs[t].table[i];
      if (row.fn != fn) continue;
      ctx->class_id = builtin_class_id(t, row.class_word);
      return fn(ctx, nargin, nargout, builtin_data(ctx, &row));
    }
  }
  return fn(ctx, nargin, nargout, ctx->default_data);
}

// --- Positions -----------------------------------------------------------------

const uint16_t* interp_static_code() { return kStaticCode; }

const uint8_t* code_area_base(EngineContext* ctx, int32_t kind, int64_t* bytes) {
  switch (kind) {
    case kAreaCode:
      *bytes = int64_t(ctx->code_size) * 2;
      return reinterpret_cast<const uint8_t*>(code_words(ctx));
    case kAreaDataStack:
      *bytes = int64_t(ctx->data_capacity) * 8;
      return reinterpret_cast<const uint8_t*>(data_words(ctx));
    case kAreaHeap:
      *bytes = int64_t(ctx->heap_size) * 8;
      return reinterpret_cast<const uint8_t*>(heap_words(ctx));
    case kAreaStatic:
      *bytes = int64_t(sizeof kStaticCode);
      return reinterpret_cast<const uint8_t*>(kStaticCode);
    default:
      *bytes = 0;
      return nullptr;
  }
}

const uint16_t* code_get_pc(EngineContext* ctx) {
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, ctx->pos.kind, &bytes);
  // An offset outside its area (or odd) names no code.
  if (!base || ctx->pos.offset % 2 != 0 || int64_t(ctx->pos.offset) + 2 > bytes) return nullptr;
  return reinterpret_cast<const uint16_t*>(base + ctx->pos.offset);
}

void code_set_pc(EngineContext* ctx, const uint16_t* pc) {
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, ctx->pos.kind, &bytes);
  if (!base) return;
  ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(pc) - base);
}

// --- Tasks -------------------------------------------------------------------------

const InterpTaskOps& interp_task_ops() { return g_task_ops; }

void interp_set_task_ops(const InterpTaskOps* ops) {
  g_task_ops = kSingleContext;
  if (!ops) return;
  if (ops->yield) g_task_ops.yield = ops->yield;
  if (ops->switch_to) g_task_ops.switch_to = ops->switch_to;
  if (ops->remove) g_task_ops.remove = ops->remove;
  if (ops->run_event) g_task_ops.run_event = ops->run_event;
}

// --- Display -------------------------------------------------------------------------

namespace {
int display_missing(EngineContext*, int32_t, int) { return kNotSupported; }
DisplayFn g_display = display_missing;
}  // namespace

void interp_set_display(DisplayFn fn) { g_display = fn ? fn : display_missing; }
int interp_display(EngineContext* ctx, int32_t fd, int pop) { return g_display(ctx, fd, pop); }
