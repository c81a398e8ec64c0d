// The interpreter loop. This is the engine's hot path and is written for
// speed on purpose: one computed-goto jump per opcode (GCC labels as values)
// into short cases, with fast paths that work directly on the stacks for
// double scalars, real and complex (arithmetic, comparisons, conditions, loop
// steps, local loads and stores), for element reads and writes of a local's
// real matrix, and for arrays stored, returned or passed to a user function
// without a copy, falling back to the general handler whenever their operands
// are anything else. The fast paths themselves live in interp_fast.h (inlined)
// and interp_fast.cpp (out of line), the slower steps in interp_steps.cpp.
// Some fast paths read the instructions that follow and do their work in one
// step (a load, a second operand and an operator; a comparison and the jump
// it feeds; a local's load or an operator and the store that takes its value;
// a function's closing return; the end of a for loop's body with the loop's
// next step); they apply only where no instruction in between could observe
// the difference, and the result is the one the steps give.
// Invariant: between instructions pc points at the next opcode of the area
// that ctx->pos names; every call that may run code or move an area goes
// through PROTECT or HALF_PROTECT, and the cached stack and heap bases are
// addressed afresh at `top`.
#include "engine/core/interp.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/builtin_call_check.h"
#include "engine/core/calls.h"
#include "engine/core/complex_scalar.h"
#include "engine/core/control_flow.h"
#include "engine/core/convert.h"
#include "engine/core/debug_state.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/interp_fast.h"
#include "engine/core/interp_report.h"
#include "engine/core/interp_steps.h"
#include "engine/core/overload.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"

namespace {

using namespace interp_fast;
using namespace interp_steps;

constexpr double kPi = 3.141592653589793;
constexpr double kGoldenRatio = 1.618033988749895;
constexpr int32_t kNoLocation = -1;
constexpr uint16_t kFirstNegativeOpcode = 0x8000;


// How the loop treats each engine opcode: the label it jumps to.
enum OpClass : uint8_t {
  kClsGeneric, kClsNop, kClsPushZero, kClsPushOne, kClsPushI, kClsPushPi, kClsPushGolden, kClsPushInt16,
  kClsPushImagInt16, kClsPushDouble, kClsPushImagDouble, kClsPushSingle, kClsPushSmallTyped, kClsPushInt32,
  kClsPushInt64, kClsPushString8, kClsPushString16, kClsPushNoValue, kClsWriteString8, kClsWriteString16,
  kClsPop, kClsDisp, kClsPushEmpty, kClsDeclareGlobal, kClsLoadLocal, kClsStoreLocal, kClsDisplayLocal,
  kClsStoreAnsDisplay, kClsIncLocal, kClsPushRef, kClsPlus, kClsMinus, kClsTimes, kClsDivide, kClsUminus,
  kClsCompare, kClsJump, kClsJumpIfTrue, kClsJumpIfFalse, kClsSkip, kClsCase, kClsForNext, kClsForRange,
  kClsRangePack, kClsRangeFinal, kClsOrElse, kClsAndThen, kClsCallUser, kClsPositionWide, kClsReturn,
  kClsTry, kClsPosition, kClsInfo, kClsAssert, kClsTaskEnd, kClsPartOf, kClsAbs, kClsConj,
  kClsIndexRefRead, kClsIndexAssign, kClsNargio, kClsComplexOf,
  kClassCount
};

constexpr std::array<uint8_t, kEngineOpcodeCount> kOpClass = [] {
  std::array<uint8_t, kEngineOpcodeCount> t{};
  t[kOpNop] = kClsNop;
  t[kOpPushZero] = kClsPushZero;
  t[kOpPushOne] = kClsPushOne;
  t[kOpI] = kClsPushI;
  t[kOpPi] = kClsPushPi;
  t[kOpGoldenratio] = kClsPushGolden;
  t[kOpPushInt16] = kClsPushInt16;
  t[kOpPushImagInt16] = kClsPushImagInt16;
  t[kOpPushDouble] = kClsPushDouble;
  t[kOpPushImagDouble] = kClsPushImagDouble;
  t[kOpPushSingle] = kClsPushSingle;
  t[kOpPushImagSingle] = kClsPushSingle;
  for (uint16_t op : {kOpPushSmallInt8, kOpPushSmallInt16, kOpPushSmallInt32, kOpPushSmallUint8,
                      kOpPushSmallUint16, kOpPushSmallUint32, kOpPushSmallInt64, kOpPushSmallUint64})
    t[op] = kClsPushSmallTyped;
  t[kOpPushInt32] = t[kOpPushUint32] = kClsPushInt32;
  t[kOpPushInt64] = t[kOpPushUint64] = kClsPushInt64;
  t[kOpPushString8] = kClsPushString8;
  t[kOpPushString16] = kClsPushString16;
  t[kOpPushNoValue] = kClsPushNoValue;
  t[kOpWriteString8] = kClsWriteString8;
  t[kOpWriteString16] = kClsWriteString16;
  t[kOpPopItem] = kClsPop;
  t[kOpDisp] = kClsDisp;
  t[kOpPushEmpty] = kClsPushEmpty;
  t[kOpDeclareGlobal] = kClsDeclareGlobal;
  t[kOpLoadLocal] = kClsLoadLocal;
  t[kOpStoreLocal] = kClsStoreLocal;
  t[kOpDisplayLocal] = kClsDisplayLocal;
  t[kOpStoreAnsDisplay] = kClsStoreAnsDisplay;
  t[kOpIncLocal] = t[kOpDecLocal] = kClsIncLocal;
  t[kOpPushRef] = t[kOpPushRefTarget] = kClsPushRef;
  t[kOpIndexRefRead] = kClsIndexRefRead;
  t[kOpIndexAssign] = kClsIndexAssign;
  t[kOpPlus] = kClsPlus;
  t[kOpMinus] = kClsMinus;
  t[kOpTimes] = t[kOpMtimes] = kClsTimes;
  t[kOpRdivide] = t[kOpMrdivide] = kClsDivide;
  t[kOpUminus] = kClsUminus;
  for (uint16_t op : {kOpEq, kOpNe, kOpLt, kOpGt, kOpLe, kOpGe}) t[op] = kClsCompare;
  t[kOpJump] = kClsJump;
  t[kOpJumpIfTrue] = kClsJumpIfTrue;
  t[kOpJumpIfFalse] = kClsJumpIfFalse;
  t[kOpSkip] = kClsSkip;
  t[kOpCaseTest] = kClsCase;
  t[kOpForNext] = kClsForNext;
  t[kOpForRangeNext] = kClsForRange;
  t[kOpRangePack] = kClsRangePack;
  t[kOpRangeFinal] = kClsRangeFinal;
  t[kOpOrElse] = kClsOrElse;
  t[kOpAndThen] = kClsAndThen;
  t[kOpCallUser] = kClsCallUser;
  t[kOpPositionWide] = kClsPositionWide;
  t[kOpRetFunction] = t[kOpHalt] = kClsReturn;
  t[kOpTryHandler] = kClsTry;
  t[kOpPosition] = kClsPosition;
  t[kOpInfo] = kClsInfo;
  t[kOpAssert] = kClsAssert;
  t[kOpTaskEnd] = kClsTaskEnd;
  t[kOpReal] = t[kOpImag] = kClsPartOf;
  t[kOpAbs] = kClsAbs;
  t[kOpConj] = kClsConj;
  t[kOpNargin] = t[kOpNargout] = kClsNargio;
  t[kOpComplex] = kClsComplexOf;
  return t;
}();

// The operations that take values from the stack and leave values there and
// do nothing else: they cannot see a variable's block, so a gap a brace
// store left in one stays open across them (a reference among their operands
// is an assignment's or an append's, made where the gap was closed).
constexpr std::array<bool, kEngineOpcodeCount> kKeepsEntryGap = [] {
  std::array<bool, kEngineOpcodeCount> t{};
  for (int op = kOpNop; op <= kOpPushNoValue; ++op) t[op] = true;
  for (uint16_t op : {kOpPopItem, kOpDupItems, kOpMoveItem, kOpSprintf, kOpRangePack}) t[op] = true;
  for (int op = kOpPushEmpty; op <= kOpInd2sub; ++op) t[op] = true;
  for (int op = kOpUplus; op <= kOpIsnan; ++op) t[op] = true;
  for (int op = kOpNum2list; op <= kOpOrderfields; ++op) t[op] = true;
  return t;
}();
static_assert(kOpPushNoValue == 34 && kOpInd2sub == 85 && kOpIsnan == 275 && kOpOrderfields == 290);
// The reads through a reference: they too keep the gap unless one of the
// references on the stack is into the block that holds it (an assignment's,
// whose element offsets count the value's words without the gap).
constexpr std::array<bool, kEngineOpcodeCount> kReadsThroughRef = [] {
  std::array<bool, kEngineOpcodeCount> t{};
  for (uint16_t op : {kOpRefField, kOpRefDynfield, kOpIndexRead, kOpIndexBeginning, kOpIndexEnd, kOpIndexMatrixrow,
                      kOpIndexMatrixcol, kOpDeref, kOpIndexRefRead})
    t[op] = true;
  return t;
}();

// A brace store's step (the element step of an assignment, the store, the
// store of one entry by parentheses): the handler may read and keep the gap
// in the variable's block.
int brace_store_step(EngineContext* c, const OpHandler& h, int a, int b, int cc) {
  c->entry_gap_allowed = 1;
  const int status = h.fn(c, h.selector, a, b, cc);
  c->entry_gap_allowed = 0;
  return status;
}

using LabelTable = std::array<const void*, kEngineOpcodeCount>;
LabelTable build_labels(const void* const* by_class) {
  LabelTable t{};
  for (int op = 0; op < kEngineOpcodeCount; ++op) t[op] = by_class[kOpClass[op]];
  return t;
}

// Dereferences the references among the top n items above the current frame
// (the arguments a call left on the stack for a built-in).
int deref_call_arguments(EngineContext* c, int n) {
  const int above = frame_arg_count(c);
  for (int d = 0; d < n && d < above; ++d)
    if (desc_at(c, d)[0] == kKindReference) TN_TRY(ref_deref_at(c, d));
  return kOk;
}

// call_user id nargin nargout at insn: a user function takes its copies of
// arguments passed as references; a built-in reached through the id takes
// values. Inlined: it is on the path of every call.
[[gnu::always_inline]] inline int call_user_function(EngineContext* c, const uint16_t* insn) {
  const int nargin = int16_t(insn[2]);
  bool references = false;
  for (int d = 0; d < nargin && !references && stk_has_item(c, d); ++d)
    references = desc_at(c, d)[0] == kKindReference;
  TN_TRY(fn_call_user_id(c, int16_t(insn[1]), caller_function_id(c), nargin, int16_t(insn[3])));
  return references ? deref_call_arguments(c, nargin) : kOk;
}

// Whether a position instruction must do more than record the line: echo or
// a breakpoint anywhere (only calls out of the loop change these), or
// stepping in the current frame (fw: its words, null without a frame).
[[gnu::always_inline]] inline bool lines_watched_anywhere(const EngineContext* c) {
  const int32_t echo = c->dbg_word[kEchoTargetWord];
  return echo == kEchoAll || echo >= 0 || c->bp_count > 0;
}
[[gnu::always_inline]] inline bool frame_stepping(const uint32_t* fw) {
  return fw && int32_t(fw[kFwStepMode]) != kStepRun;
}

// The current frame's local slots when it is its own workspace without a
// name table in the frame (a function's frame): what workspace_slots finds
// first. False when the lookup must walk outward.
[[gnu::always_inline]] inline bool own_frame_slots(uint32_t* w, uint32_t** slots, uint32_t* count) {
  const int32_t locals = int32_t(w[kFwLocals]);
  if (locals < 1 || w[kFwFrameNames] != 0) return false;
  *slots = w + kFrameFixedWords;
  *count = uint32_t(locals);
  return true;
}

// The statuses after which the loop goes on at the stored position.
[[gnu::always_inline]] inline bool status_resumes(int s) {
  return s == kOk || s == kSliceEnded || s == kDebugSuspend;
}

}  // namespace

int interp_run(EngineContext* ctx, int slice) {
  const bool nested = ctx->running != 0;
  if (nested && !ctx->pos.flag) return kOk;
  if (ctx->status_word == kDebugSuspend) return kDebugSuspend;
  const InterpTaskOps& tasks = interp_task_ops();
  if (ctx->event_count > 0) tasks.run_event(ctx, nullptr);
  if (ctx->pos.kind == kAreaNone) {
    if (ctx->task_first == 0) return kOk;
    tasks.switch_to(ctx, -1);
  }
  // A task's slice lap starts afresh with each run: the time between two
  // runs is the host's. The main context's goes on, for a run resumes it
  // where it handed control back (a handler's run in slices does at every
  // backward jump, and a reading at each would cost it as much as its
  // loop): the host's time between (its break poll, a progress display, a
  // move of the block) is charged to it as its own. A fresh call starts its
  // lap itself (interp_call).
  if (ctx->task_first != 0 && ctx->task_current != 0) slice_lap_restart(ctx);

  static const void* const kByClass[kClassCount] = {
      &&op_generic, &&op_nop, &&op_push_zero, &&op_push_one, &&op_push_i, &&op_push_pi, &&op_push_golden,
      &&op_push_int16, &&op_push_imag_int16, &&op_push_double, &&op_push_imag_double, &&op_push_single,
      &&op_push_small_typed, &&op_push_int32, &&op_push_int64, &&op_push_string8, &&op_push_string16,
      &&op_push_no_value, &&op_write_string8, &&op_write_string16, &&op_pop, &&op_disp, &&op_push_empty,
      &&op_declare_global, &&op_load_local, &&op_store_local, &&op_display_local, &&op_store_ans_display,
      &&op_inc_local, &&op_push_ref, &&op_plus, &&op_minus, &&op_times, &&op_divide, &&op_uminus,
      &&op_compare, &&op_jump, &&op_jump_if_true, &&op_jump_if_false, &&op_skip, &&op_case, &&op_for_next,
      &&op_for_range, &&op_range_pack, &&op_range_final, &&op_or_else, &&op_and_then, &&op_call_user,
      &&op_position_wide, &&op_return, &&op_try, &&op_position, &&op_info, &&op_assert, &&op_task_end,
      &&op_part_of, &&op_abs, &&op_conj, &&op_index_ref_read, &&op_index_assign, &&op_nargio,
      &&op_complex_of};
  static const LabelTable kLabels = build_labels(kByClass);

  const uint16_t* pc = nullptr;
  const uint16_t* insn = nullptr;
  const uint8_t* base = nullptr;
  int64_t area_bytes = 0;
  // The workspace's slots for the fast local paths; found again after
  // anything that can change the frames.
  uint32_t* slots = nullptr;
  uint32_t slot_count = 0;
  bool slots_known = false;
  // No task and no pending event: fast paths go straight to the next opcode.
  // Only calls out of the loop can change this, and every call ends at `top`.
  bool quiet = false;
  // Nothing to echo, no breakpoint and no stepping in the current frame: a
  // position instruction only records the line. Only calls out of the loop
  // (which end at `top`) and returns can change this.
  bool watching = true;
  // The current frame's words while a position instruction only records the
  // line (nothing watched), else null: set with `watching` at `top` and on
  // entering a frame, and valid as long as the cached stack base is.
  uint32_t* line_fw = nullptr;
  int status = kOk;
  bool may_overload = true;  // false for a built-in resumed after the code it called
  // The stacks and the heap, addressed afresh at `top` and wherever the
  // loop resumes after a call that can move the block.
  uint32_t* desc = nullptr;
  uint64_t* data = nullptr;
  uint64_t* heap = nullptr;
  // A fused comparison's result and the instruction after it.
  bool cond_truth = false;
  const uint16_t* cond_next = nullptr;
  // The library opcode last met with two real scalars, and whether it is a
  // division done inline; forgotten at `top`, after every call out.
  LibDivision lib_division;

// Stacks and areas are addressed afresh after anything that can move them.
// A call out of the loop first closes the gap a brace store may have left
// in a variable's block (entry_gap.h), unless it can only see values on the
// stack: a brace store's own steps, an operation on values (kKeepsEntryGap),
// a user function's call (the callee reaches the variable only through
// instructions that close it).
#define SAVE_POS() (entry_gap_settle(ctx), SAVE_POS_KEEP_GAP())
#define SAVE_POS_KEEP_GAP() (ctx->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(pc) - base))
#define RELOAD()                                                   \
  do {                                                             \
    base = code_area_base(ctx, ctx->pos.kind, &area_bytes);        \
    pc = code_get_pc(ctx);                                         \
    if (!pc) goto code_end;                                        \
  } while (0)
#define DISPATCH()                                                 \
  do {                                                             \
    insn = pc;                                                     \
    TN_ASSERT(reinterpret_cast<const uint8_t*>(pc) >= base &&      \
              reinterpret_cast<const uint8_t*>(pc) + 2 <= base + area_bytes); \
    const uint16_t w_ = *pc;                                       \
    if (w_ < kEngineOpcodeCount) goto* kLabels[w_];                \
    goto op_library;                                               \
  } while (0)
// After a fast path: straight to the next opcode unless tasks or events wait.
#define NEXT_FAST()                                                \
  do {                                                             \
    if (__builtin_expect(!quiet, 0)) goto tick;                    \
    DISPATCH();                                                    \
  } while (0)
#define LOCAL_SLOT(k)                                              \
  (slots_known ? 0 : (slots = workspace_slots(ctx, &slot_count), slots_known = true, 0), \
   uint32_t(k) < slot_count ? slots + uint32_t(k) : nullptr)
#define FAIL(s)                                                    \
  do {                                                             \
    status = (s);                                                  \
    goto handle_status;                                            \
  } while (0)
#define CHECK(expr)                                                \
  do {                                                             \
    status = (expr);                                               \
    if (status != kOk) goto handle_status;                         \
  } while (0)
#define BASES() (desc = desc_words(ctx), data = data_words(ctx), heap = heap_words(ctx))
// The current frame's words through the cached stack base; null without one.
#define FRAME_WORDS() (ctx->frame >= 0 ? desc + ctx->frame : nullptr)
// Every call out of the loop that may run code, switch frames or move an area
// goes through one of these. PROTECT stores the position, calls, and unless
// the call failed reloads pc and its area (a failure is handled at the
// instruction that made it, from the position stored). The cached stack and
// heap bases are addressed afresh at `top`, where a protected case goes next;
// one that dispatches at once calls BASES() itself. HALF_PROTECT only stores
// the position: every outcome of its call leaves through the status handling.
#define PROTECT(expr) CALL_OUT(SAVE_POS(), expr)
// PROTECT for a call that cannot see a variable's block (an operation on
// values, a brace store's own step): the gap a brace store left stays.
#define PROTECT_KEEP_GAP(expr) CALL_OUT(SAVE_POS_KEEP_GAP(), expr)
#define CALL_OUT(save, expr)                                       \
  do {                                                             \
    save;                                                          \
    status = (expr);                                               \
    if (status_resumes(status)) RELOAD();                          \
  } while (0)
#define HALF_PROTECT(expr)                                         \
  do {                                                             \
    SAVE_POS();                                                    \
    status = (expr);                                               \
  } while (0)
// Back in the caller after a plain return while nothing waits. Nothing was
// watched in the callee, so there is no echo and no breakpoint: only the
// caller's own stepping (a step over the call) watches its lines.
#define REENTER_CALLER()                                           \
  do {                                                             \
    if (__builtin_expect(watching, 0)) goto entered_frame;         \
    line_fw = FRAME_WORDS();                                       \
    if (__builtin_expect(!line_fw || frame_stepping(line_fw), 0)) goto entered_frame; \
    slots_known = own_frame_slots(line_fw, &slots, &slot_count);   \
    may_overload = true;                                           \
    DISPATCH();                                                    \
  } while (0)
// Pushes a real scalar (a double, or its 64-bit pattern) over stack tops dt
// and vt read before; the room was checked.
#define PUSH_REAL_BITS(dt, vt, bits)                               \
  do {                                                             \
    set_desc_real_scalar(desc + (dt));                             \
    data[vt] = (bits);                                             \
    ctx->desc_top = (dt) + 3;                                      \
    ctx->data_top = (vt) + 1;                                      \
  } while (0)
#define PUSH_REAL(dt, vt, value)                                   \
  do {                                                             \
    set_desc_real_scalar(desc + (dt));                             \
    tn::st_f64(data + (vt), (value));                              \
    ctx->desc_top = (dt) + 3;                                      \
    ctx->data_top = (vt) + 1;                                      \
  } while (0)
// Room for one more real scalar on both stacks (a top is never negative;
// one that were would only take the slow path).
#define SCALAR_ROOM(dt, vt) \
  (uint32_t(dt) + 3u < ctx->desc_capacity && uint32_t(vt) + 1u < ctx->data_capacity)

  ctx->running = 1;
  RELOAD();
  goto top;

// --- The bookkeeping between general instructions --------------------------------
tail:
  slots_known = false;
  may_overload = true;
  if (ctx->task_first != 0 && (ctx->slice_steps_left -= g_slice_call_steps) <= 0 && slice_used(ctx))
    goto slice_over;
top:
  if (ctx->free_at_run > 0) {
    heap_free(ctx, ctx->free_at_run);
    ctx->free_at_run = -1;
  }
  ctx->error_area.loc_function = kNoLocation;
  ctx->error_area.loc_line = kNoLocation;
  ctx->failing_op[0] = 0;
  if (ctx->event_count > 0) {
    SAVE_POS();
    CodePosition p = ctx->pos;
    tasks.run_event(ctx, &p);
    ctx->pos = p;
    RELOAD();
    slots_known = false;
  }
  quiet = (ctx->task_first | ctx->event_count) == 0;
  lib_division.opcode = 0;
  BASES();
  watching = lines_watched_anywhere(ctx) || frame_stepping(FRAME_WORDS());
  line_fw = watching ? nullptr : FRAME_WORDS();
  DISPATCH();

// A fast instruction while tasks exist: only the slice is measured (once a
// lap of steps, see slice_used); the
// bookkeeping at `top` waits for the end of the slice or a posted event
// (a fast instruction changes no frame, so the workspace's slots stay valid).
tick:
  if (ctx->event_count != 0) goto tail;
  TN_ASSERT(ctx->task_first != 0);
  if (--ctx->slice_steps_left > 0 || !slice_used(ctx)) DISPATCH();
  goto slice_over;

// The slice is used up: the next task runs, or this code goes on. In a
// sliced run a task's slice ends the run: the host gets control back once
// per slice, whatever the tasks do, and the main context is resumed. The
// workspace's slots are another context's after a switch.
slice_over: {
  slots_known = false;
  may_overload = true;
  if (slice && ctx->task_current != 0) goto abort_poll;
  SAVE_POS();
  CodePosition p = ctx->pos;
  if (tasks.yield(ctx, &p)) {
    status = kOk;
    goto end_run;
  }
  ctx->pos = p;
  RELOAD();
  goto top;
}

// --- Constants: real scalars pushed inline --------------------------------------------
op_nop:
  ++pc;
  DISPATCH();
op_push_zero:
op_push_one: {
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  if (!SCALAR_ROOM(dt, vt)) goto op_push_one_slow;
  PUSH_REAL(dt, vt, *pc == kOpPushOne ? 1.0 : 0.0);
  ++pc;
  DISPATCH();
}
op_push_one_slow:
  pc = insn + 1;
  CHECK(stk_push_real(ctx, *insn == kOpPushOne ? 1.0 : 0.0));
  goto tail;
op_pop:
  if (ctx->desc_top < 3) FAIL(kBadArgument);
  stk_drop(ctx);
  ++pc;
  DISPATCH();
op_skip:
  pc += 2;
  DISPATCH();
op_jump: {
  const int16_t off = int16_t(pc[1]);
  pc += 2 + off;
  if (off >= 0) DISPATCH();
  if (slice) goto sliced_back_jump;
  NEXT_FAST();  // a loop of fast instructions still lets tasks and events in
}
// A backward jump in a sliced run hands control back to the host, after the
// abort poll, in the main context only: a task runs its whole time slice,
// as in a run without slices (without a clock to measure it, it too hands
// control back here). The main context's own slice is measured here too, so
// that a loop of jumps alone still lets the tasks in.
sliced_back_jump:
  if (ctx->task_current != 0 && ctx->clock_fn) NEXT_FAST();
  if (ctx->task_first != 0 && --ctx->slice_steps_left <= 0 && slice_used(ctx)) goto slice_over;
  goto abort_poll;

// --- Literals --------------------------------------------------------------------
op_push_i:
  pc = insn + 1;
  CHECK(stk_push_complex(ctx, 0, 1));
  goto tail;
op_push_pi:
  pc = insn + 1;
  CHECK(stk_push_real(ctx, kPi));
  goto tail;
op_push_golden:
  pc = insn + 1;
  CHECK(stk_push_real(ctx, kGoldenRatio));
  goto tail;
op_push_int16: {
  pc = insn + 2;
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  // «x op c» and «x < c» (with the jump that follows) for a real scalar x on
  // the stack: x is replaced, or consumed by the comparison.
  if (dt >= 3 && desc_is_real_scalar(desc + dt - 3)) {
    const double x = tn::ld_f64(data + vt - 1), y = double(int16_t(insn[1]));
    double r;
    if (!arith_scalars(insn[2], x, y, &r)) {
      if (!is_comparison(insn[2]) || int64_t(vt) - 1 + int64_t(kLogicalWords) >= int64_t(ctx->data_capacity))
        goto push_int16_plain;
      cond_truth = compare_scalars(insn[2], x, y);
      cond_next = insn + 3;
      ctx->desc_top = dt - 3;
      ctx->data_top = vt - 1;
      goto fused_condition;
    }
    tn::st_f64(data + vt - 1, r);
    pc = insn + 3;
    NEXT_FAST();
  }
push_int16_plain:
  if (SCALAR_ROOM(dt, vt)) {
    PUSH_REAL(dt, vt, double(int16_t(insn[1])));
    NEXT_FAST();
  }
  CHECK(stk_push_real(ctx, double(int16_t(insn[1]))));
  goto tail;
}
op_push_imag_int16:
  pc = insn + 2;
  CHECK(stk_push_complex(ctx, 0, double(int16_t(insn[1]))));
  goto tail;
op_push_double: {
  const double v = tn::ld_f64(insn + 1);
  pc = insn + 5;
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  if (SCALAR_ROOM(dt, vt)) {
    PUSH_REAL(dt, vt, v);
    NEXT_FAST();
  }
  CHECK(stk_push_real(ctx, v));
  goto tail;
}
op_push_imag_double:
  pc = insn + 5;
  CHECK(stk_push_complex(ctx, 0, tn::ld_f64(insn + 1)));
  goto tail;
op_push_single: {
  const double v = tn::ld_f64(insn + 1);
  pc = insn + 5;
  const bool imaginary = *insn == kOpPushImagSingle;
  CHECK(push_single(ctx, imaginary ? 0 : v, imaginary ? v : 0, imaginary));
  goto tail;
}
op_push_small_typed: {
  static constexpr struct { uint16_t op; uint8_t size; bool is_unsigned; } kSmall[] = {
      {kOpPushSmallInt8, 1, false},   {kOpPushSmallInt16, 2, false}, {kOpPushSmallInt32, 4, false},
      {kOpPushSmallUint8, 1, true},   {kOpPushSmallUint16, 2, true}, {kOpPushSmallUint32, 4, true},
      {kOpPushSmallInt64, 8, false},  {kOpPushSmallUint64, 8, true}};
  const uint64_t bits = uint64_t(int64_t(int16_t(insn[1])));
  pc = insn + 2;
  for (const auto& s : kSmall)
    if (s.op == *insn) CHECK(push_typed_scalar(ctx, s.size, s.is_unsigned, bits));
  goto tail;
}
op_push_int32:
  pc = insn + 3;
  CHECK(push_typed_scalar(ctx, 4, *insn == kOpPushUint32, uint64_t(insn[1]) | uint64_t(insn[2]) << 16));
  goto tail;
op_push_int64:
  pc = insn + 5;
  CHECK(push_typed_scalar(ctx, 8, *insn == kOpPushUint64,
                          uint64_t(insn[1]) | uint64_t(insn[2]) << 16 | uint64_t(insn[3]) << 32 |
                              uint64_t(insn[4]) << 48));
  goto tail;
op_push_string8:
  pc = insn + insn_length(insn);
  CHECK(stk_push_cstr(ctx, int32_t(insn[1]), reinterpret_cast<const char*>(insn + 2)));
  goto tail;
op_push_string16: {
  pc = insn + insn_length(insn);
  uint16_t* chars = nullptr;
  CHECK(stk_push_char_row(ctx, int32_t(insn[1]), &chars));
  std::memcpy(chars, insn + 2, size_t(insn[1]) * 2);
  goto tail;
}
op_push_no_value:
  pc = insn + 1;
  CHECK(stk_push_no_value(ctx));
  goto tail;
op_write_string8:
  pc = insn + insn_length(insn);
  CHECK(io_write(ctx, kFdStdout, reinterpret_cast<const char*>(insn + 2), int32_t(insn[1])));
  goto tail;
op_write_string16:
  pc = insn + insn_length(insn);
  CHECK(write_string16(ctx, insn + 2, int32_t(insn[1])));
  goto tail;
op_push_empty:
  pc = insn + 1;
  CHECK(stk_push_empty(ctx));
  goto tail;
op_info:
  pc = insn + 1;
  CHECK(stk_push_cstr(ctx, -1, engine_version_string()));
  goto tail;

// --- Locals: real and complex scalars directly in their heap blocks ---------------
op_load_local: {
  // The three-locals step tests its own slots, so it comes before this one's.
  (void)LOCAL_SLOT(0);  // the slots are known from here on
  if (starts_three_locals(insn))
    if (const uint16_t* next = three_locals_stored(insn, slots, slot_count, heap)) {
      pc = slice ? next : back_edge(ctx, next, line_fw, slots, slot_count, desc, data, heap);  // a loop's end
      NEXT_FAST();
    }
  const uint32_t* slot = LOCAL_SLOT(int16_t(insn[1]));
  if (!slot) goto op_generic;
  const uint32_t b = *slot;
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  // The room is tested only by the paths that push: a fused store or a
  // comparison feeding its jump pushes nothing.
  if (b == uint32_t(-1) || b == 0) goto load_local_array;
  const uint64_t* block = heap + b;
  if (block[0] == kScalarHead && block[1] == kScalarTail) {
    bool condition = false, call = false;
    if (const uint16_t* next = fuse_local_scalar(ctx, insn, block, slots, slot_count, desc, data, heap, &condition,
                                                       &call, &cond_truth)) {
      if (condition) {
        cond_next = next;
        goto fused_condition;
      }
      if (call) {
        insn = next;
        goto given_call;
      }
      pc = next;
      NEXT_FAST();
    }
    if (insn[2] == kOpStoreLocal)
      if (const uint16_t* next = copy_local_scalar(ctx, insn, block, slots, slot_count, heap)) {
        pc = next;
        NEXT_FAST();
      }
    // A scalar is never a lent argument's link: without room the handler
    // does what load_local_array would have left to it. (Sent there, the
    // local's number stays live through every scalar path: a spill on each
    // load.)
    if (!SCALAR_ROOM(dt, vt)) goto op_generic;
    PUSH_REAL_BITS(dt, vt, block[kHeapValueHeaderWords]);
    pc = insn + 2;
    NEXT_FAST();
  }
  if (block[0] != kComplexHead || block[1] != kScalarTail || !SCALAR_ROOM(dt, vt)) goto load_local_array;
  if (insn[2] == kOpReal || insn[2] == kOpImag) {
    // «real(z)» and «imag(z)» of a complex scalar local: the part alone.
    PUSH_REAL_BITS(dt, vt, block[kHeapValueHeaderWords + (insn[2] == kOpImag ? 1 : 0)]);
    pc = insn + 3;
    NEXT_FAST();
  }
  if (insn[2] == kOpLoadLocal)
    if (const uint16_t* next = complex_locals_stored(ctx, insn, slots, slot_count)) {
      pc = next;
      NEXT_FAST();
    }
  if (!push_complex_block(ctx, desc, data, block)) goto load_local_array;
  pc = insn + 2;
  NEXT_FAST();
}
load_local_array: {
  // Arrays of a few words are copied as quickly as anything else is done.
  const uint32_t* slot = LOCAL_SLOT(int16_t(insn[1]));
  int32_t block = int32_t(*slot);
  if (!heap_index_ok(ctx, block)) goto op_generic;
  // A lent argument's link holds a few words: its value is the caller's block.
  if (desc_data_words(block_words32(ctx, block)) < kLargeValueWords && !(block = large_lent_block(ctx, block)))
    goto op_generic;
  entry_gap_close_in(ctx, block);  // the quick loads read the value's words
  switch (load_array(ctx, insn, base, area_bytes, slot, block)) {
    case ArrayLoad::kStored:
      pc = insn + 4;
      NEXT_FAST();
    case ArrayLoad::kReferenced:
      pc = insn + 2;
      NEXT_FAST();
    case ArrayLoad::kReturned:
      RELOAD();
      goto tail;
    case ArrayLoad::kNone:
      break;
  }
  goto op_generic;
}
op_store_local: {
  uint32_t* slot = LOCAL_SLOT(int16_t(insn[1]));
  const int32_t dt = ctx->desc_top;
  if (slot && dt >= 3 && desc_is_real_scalar(desc + dt - 3)) {
    const uint32_t b = *slot;
    uint64_t* h = heap + b;
    if (b == uint32_t(-1) ? give_scalar_block(ctx, heap, slot, kScalarHead, 1) && (h = heap + *slot, true)
                          : b != 0 && h[0] == kScalarHead && h[1] == kScalarTail) {
      const int32_t vt = ctx->data_top;
      h[kHeapValueHeaderWords] = data[vt - 1];
      ctx->data_top = vt - 1;
      ctx->desc_top = dt - 3;
      pc = insn + 2;
      NEXT_FAST();
    }
  } else if (slot && dt >= 3 && desc[dt - 3] == kKindComplex && desc[dt - 2] == 1 && desc[dt - 1] == 1) {
    // A complex scalar over a complex scalar: both parts where they lie.
    if (*slot == uint32_t(-1) && !give_scalar_block(ctx, heap, slot, kComplexHead, 2)) goto op_generic;
    uint64_t* h = heap + *slot;
    if (*slot != 0 && h[0] == kComplexHead && h[1] == kScalarTail) {
      h[kHeapValueHeaderWords] = data[ctx->data_top - 2];
      h[kHeapValueHeaderWords + 1] = data[ctx->data_top - 1];
      ctx->data_top -= 2;
      ctx->desc_top -= 3;
      pc = insn + 2;
      NEXT_FAST();
    }
  }
  goto op_generic;
}
op_inc_local: {
  const uint32_t* slot = LOCAL_SLOT(int16_t(insn[1]));
  if (slot && *slot != uint32_t(-1) && *slot != 0) {
    uint64_t* h = heap + *slot;
    if (h[0] == kScalarHead && h[1] == kScalarTail) {
      const double v = tn::ld_f64(h + kHeapValueHeaderWords);
      tn::st_f64(h + kHeapValueHeaderWords, *insn == kOpIncLocal ? v + 1.0 : v - 1.0);
      pc = insn + 2;
      NEXT_FAST();
    }
  }
  goto op_generic;
}
op_push_ref: {
  const uint32_t* slot = LOCAL_SLOT(int16_t(insn[1]));
  const bool target = *insn == kOpPushRefTarget;
  if (slot) {
    const uint16_t* next = insn[2] == kOpLoadLocal ? local_element(ctx, insn, reinterpret_cast<const uint16_t*>(
                                                                       base + area_bytes), slots, slot_count)
                                                   : nullptr;
    if (next) {
      pc = next;
      NEXT_FAST();
    }
    if (push_ref_fast(ctx, slot, int16_t(insn[1]), target)) {
      pc = insn + 2;
      NEXT_FAST();
    }
  }
  if (target) goto op_generic;
  pc = insn + 2;
  PROTECT(call_handler(ctx, kOpPushRef, int16_t(insn[1]), 0, 0));
  if (status != kOk) FAIL(local_read_status(ctx, status, int16_t(insn[1])));
  goto tail;
}
op_index_ref_read:
  if (insn[2] == 0 && index_read_fast(ctx, insn[1])) {
    pc = insn + 3;
    NEXT_FAST();
  }
  goto op_generic;
op_index_assign:
  if (insn[2] == 0 && index_assign_fast(ctx, insn[1])) {
    pc = insn + 3;
    NEXT_FAST();
  }
  goto op_generic;
op_display_local:
op_store_ans_display: {
  // Composed of the store, load and show steps; the value shown is consumed.
  const int k = int16_t(insn[1]);
  pc = insn + 2;
  if (*insn == kOpStoreAnsDisplay) {
    if (ctx->desc_top >= 3 && desc_at(ctx, 0)[0] == kKindNoValue) {
      SAVE_POS();
      stk_drop(ctx);
      goto tail;
    }
    PROTECT(call_handler(ctx, kOpStoreLocal, k, 0, 0));
    if (status != kOk) goto handle_status;
  }
  PROTECT(call_handler(ctx, kOpLoadLocal, k, 0, 0));
  if (status != kOk) FAIL(local_read_status(ctx, status, k));
  PROTECT(call_handler(ctx, kOpDisplayNamed, k, 0, 0));
  if (status != kOk) goto handle_status;
  goto tail;
}
op_declare_global:
  if (frame_is_restricted(ctx)) FAIL(kSecurityViolationVariable);
  goto op_generic;

// --- Arithmetic and comparisons of double scalars, real or complex ---------------
#define BINARY_SCALARS(dt) ((dt) >= 6 && desc_is_real_scalar(desc + (dt) - 6) && desc_is_real_scalar(desc + (dt) - 3))
#define ARITH(expr)                                                                    \
  do {                                                                                 \
    const int32_t dt = ctx->desc_top, vt = ctx->data_top;                              \
    if (!BINARY_SCALARS(dt)) goto op_arith_complex;                                    \
    const double a = tn::ld_f64(data + vt - 2);                                        \
    const double b = tn::ld_f64(data + vt - 1);                                        \
    const double r_ = (expr);                                                          \
    /* «x op y; store_local k»: the result straight to a real scalar local */          \
    if (insn[1] == kOpStoreLocal && ((void)LOCAL_SLOT(0),                              \
        put_scalar_local(ctx, insn + 1, slots, slot_count, heap, std::bit_cast<uint64_t>(r_)))) { \
      ctx->data_top = vt - 2;                                                          \
      ctx->desc_top = dt - 6;                                                          \
      pc = insn + 3;                                                                   \
      NEXT_FAST();                                                                     \
    }                                                                                  \
    tn::st_f64(data + vt - 2, r_);                                                     \
    ctx->data_top = vt - 1;                                                            \
    ctx->desc_top = dt - 3;                                                            \
    pc = insn + 1;                                                                     \
    NEXT_FAST();                                                                       \
  } while (0)
op_plus:
  ARITH(a + b);
op_minus:
  ARITH(a - b);
op_times:
  ARITH(a * b);
op_divide:
  ARITH(a / b);
op_arith_complex: {
  // Two double scalars, at least one complex (two real ones took the path
  // above): the general operators' own scalar kernel, the result over the
  // first operand's data, where its two words always fit. The room test is
  // that of the elementwise operators, which push their result first.
  ScalarPair s;
  if (!double_scalar_pair(ctx, desc, data, &s) || !desc_room(ctx) || ctx->data_top + 2 > int64_t(ctx->data_capacity))
    goto op_generic;
  cplx::ScalarOp op;
  switch (*insn) {
    case kOpPlus: op = cplx::ScalarOp::kAdd; break;
    case kOpMinus: op = cplx::ScalarOp::kSub; break;
    case kOpTimes: op = cplx::ScalarOp::kMul; break;
    case kOpMtimes: op = cplx::ScalarOp::kMtimes; break;
    case kOpRdivide: op = cplx::ScalarOp::kDiv; break;
    default: op = cplx::ScalarOp::kMrdivide; break;
  }
  double re = 0, im = 0;
  cplx::scalar_binary(op, s.ar, s.ai, s.ac, s.br, s.bi, s.bc, &re, &im);
  tn::st_f64(s.pa, re);
  tn::st_f64(s.pa + 1, im);
  ctx->data_top = int32_t(s.pa + 2 - data);
  ctx->desc_top -= 3;
  desc[ctx->desc_top - 3] = kKindComplex;
  pc = insn + 1;
  NEXT_FAST();
}
op_uminus: {
  const uint32_t* d = desc + ctx->desc_top - 3;
  if (ctx->desc_top < 3 || d[0] > kKindComplex || d[1] != 1 || d[2] != 1) goto op_generic;
  tn::st_f64(data + ctx->data_top - 1, -tn::ld_f64(data + ctx->data_top - 1));
  if (d[0] == kKindComplex) tn::st_f64(data + ctx->data_top - 2, -tn::ld_f64(data + ctx->data_top - 2));
  pc = insn + 1;
  NEXT_FAST();
}

// --- real, imag, abs and conj of a double scalar ------------------------------------
// As their built-ins leave them: a real result drops the imaginary word.
#define DOUBLE_SCALAR_TOP()                                                            \
  (ctx->desc_top >= 3 && desc[ctx->desc_top - 3] <= kKindComplex &&          \
                 desc[ctx->desc_top - 2] == 1 && desc[ctx->desc_top - 1] == 1)
op_part_of: {
  if (!DOUBLE_SCALAR_TOP()) goto op_generic;
  if (desc[ctx->desc_top - 3] == kKindComplex) {
    if (*insn == kOpImag) data[ctx->data_top - 2] = data[ctx->data_top - 1];
    desc[ctx->desc_top - 3] = kKindReal;
    ctx->data_top -= 1;
  } else if (*insn == kOpImag) {
    tn::st_f64(data + ctx->data_top - 1, 0.0);
  }
  pc = insn + 1;
  NEXT_FAST();
}
op_abs: {
  if (!DOUBLE_SCALAR_TOP()) goto op_generic;
  if (desc[ctx->desc_top - 3] == kKindComplex) {
    const double m = std::hypot(tn::ld_f64(data + ctx->data_top - 2), tn::ld_f64(data + ctx->data_top - 1));
    tn::st_f64(data + ctx->data_top - 2, m);
    desc[ctx->desc_top - 3] = kKindReal;
    ctx->data_top -= 1;
  } else {
    tn::st_f64(data + ctx->data_top - 1, std::fabs(tn::ld_f64(data + ctx->data_top - 1)));
  }
  pc = insn + 1;
  NEXT_FAST();
}
op_complex_of:
  // «complex(x, y)» of two real double scalars (out of line: it is met once
  // per value made, not per step of a loop).
  if (!complex_of_real_scalars(ctx)) goto op_generic;
  pc = insn + 1;
  NEXT_FAST();
op_conj:
  if (!DOUBLE_SCALAR_TOP()) goto op_generic;
  if (desc[ctx->desc_top - 3] == kKindComplex)
    tn::st_f64(data + ctx->data_top - 1, -tn::ld_f64(data + ctx->data_top - 1));
  pc = insn + 1;
  NEXT_FAST();
op_compare: {
  // The result is a logical 1 x 1 array, as the relational operators make it.
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  if (!BINARY_SCALARS(dt)) goto op_compare_complex;
  if (int64_t(vt) + 1 >= int64_t(ctx->data_capacity)) goto op_generic;
  const double a = tn::ld_f64(data + vt - 2);
  const double b = tn::ld_f64(data + vt - 1);
  const bool r = compare_scalars(*insn, a, b);
  uint32_t* d = desc + dt - 6;
  d[0] = kKindPayload;
  d[1] = kLogicalWords;
  d[2] = kPayLogical;
  ctx->desc_top = dt - 3;
  ctx->data_top = vt - 2 + int32_t(kLogicalWords);
  uint64_t* p = data + vt - 2;
  p[0] = kLogicalHead;
  p[1] = kLogicalDims;
  p[2] = r ? 1 : 0;
  pc = insn + 1;
  NEXT_FAST();
}
op_compare_complex: {
  // Double scalars, at least one complex: == and ~= compare both parts, the
  // order the real parts alone, as the relational operators do. The room
  // test is the general operator's, which pushes its result first.
  ScalarPair s;
  if (!double_scalar_pair(ctx, desc, data, &s) || !desc_room(ctx) ||
      ctx->data_top + kLogicalWords >= int64_t(ctx->data_capacity))
    goto op_generic;
  bool r;
  switch (*insn) {
    case kOpEq: r = s.ar == s.br && s.ai == s.bi; break;
    case kOpNe: r = !(s.ar == s.br && s.ai == s.bi); break;
    default: r = compare_scalars(*insn, s.ar, s.br); break;
  }
  ctx->data_top = int32_t(s.pa - data);
  ctx->desc_top -= 6;
  uint64_t* p = stk_claim(ctx, kKindPayload, kLogicalWords, kPayLogical, kLogicalWords);
  p[0] = kLogicalHead;
  p[1] = kLogicalDims;
  p[2] = r ? 1 : 0;
  pc = insn + 1;
  NEXT_FAST();
}

// --- Conditions and jumps -----------------------------------------------------------
op_jump_if_true:
op_jump_if_false: {
  // The truth of a real or logical scalar is read directly.
  bool truth = false;
  if (const int32_t words = top_scalar_truth(ctx, desc, data, &truth)) {
    ctx->data_top -= words;
    ctx->desc_top -= 3;
  } else {
    uint8_t popped = 0;
    pc = insn + 2;
    HALF_PROTECT(stk_pop_condition(ctx, &popped));
    if (status != kOk) goto handle_status;
    truth = popped != 0;
  }
  const int16_t off = int16_t(insn[1]);
  if (truth != (*insn == kOpJumpIfTrue)) {
    pc = insn + 2;
    NEXT_FAST();
  }
  pc = insn + 2 + off;
  if (off < 0 && slice) goto sliced_back_jump;
  NEXT_FAST();
}
// A comparison of two real scalars whose operands are already consumed:
// cond_truth is its result and cond_next the instruction after it. A jump
// or short-circuit that follows acts on it at once; else the logical result
// is pushed (the fusing paths checked the room).
fused_condition:
  if (*cond_next == kOpJumpIfFalse || *cond_next == kOpJumpIfTrue) {
    // The commonest by far: tested before the switch's table.
    const int16_t off = int16_t(cond_next[1]);
    pc = cond_next + 2;
    if (cond_truth == (*cond_next == kOpJumpIfTrue)) {
      pc += off;
      if (off < 0 && slice) goto sliced_back_jump;
    }
    NEXT_FAST();
  }
  switch (*cond_next) {
    case kOpAndThen:
    case kOpOrElse:
      if (cond_truth != (*cond_next == kOpOrElse)) {
        pc = cond_next + 2;
        NEXT_FAST();
      }
      pc = cond_next + 2 + int16_t(cond_next[1]);
      break;
    default:
      pc = cond_next;
      break;
  }
  push_logical_scalar(ctx, desc, data, cond_truth);
  NEXT_FAST();
op_or_else:
op_and_then: {
  // The operand value decides: it is put back as the result and the jump taken.
  // A logical or real scalar is read directly, as the conditional jumps do.
  bool truth_now = false;
  if (const int32_t words = top_scalar_truth(ctx, desc, data, &truth_now)) {
    if (truth_now == (*insn == kOpOrElse)) {
      pc = insn + 2 + int16_t(insn[1]);
    } else {
      ctx->data_top -= words;
      ctx->desc_top -= 3;
      pc = insn + 2;
    }
    NEXT_FAST();
  }
  const int32_t desc_top = ctx->desc_top, data_top = ctx->data_top;
  uint8_t truth = 0;
  pc = insn + 2;
  CHECK(stk_pop_condition(ctx, &truth));
  if (bool(truth) == (*insn == kOpOrElse)) {
    ctx->desc_top = desc_top;
    ctx->data_top = data_top;
    pc = insn + 2 + int16_t(insn[1]);
  }
  goto tail;
}
op_case: {
  bool match = false;
  pc = insn + 2;
  CHECK(op_case_match(ctx, &match));
  if (!match) pc = insn + 2 + int16_t(insn[1]);
  goto tail;
}

// --- Loops ----------------------------------------------------------------------------
op_for_range: {
  // A real range's state on top: the next value goes straight into the loop
  // variable when the store follows and the variable holds a real scalar
  // (with the room the push would need, as the two steps would check it).
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  uint64_t* const w = real_range_state(desc, data, dt, vt);
  if (!w || !SCALAR_ROOM(dt, vt)) goto for_range_general;
  (void)LOCAL_SLOT(0);  // the slots are known from here on
  if (uint64_t* const target = insn[2] == kOpStoreLocal ? real_scalar_local(heap, slots, slot_count, insn[3])
                                                        : nullptr) {
    if (!range_step_into(w, target)) goto for_range_exhausted;
    pc = insn + 4;
    if (__builtin_expect(!quiet, 0)) goto tick;
    // The body's first line, recorded here when nothing watches lines.
    if (*pc == kOpPosition && line_fw) pc = record_line(line_fw, pc);
    DISPATCH();
  }
  double cur;
  if (!range_step(w, &cur)) goto for_range_exhausted;
  PUSH_REAL(dt, vt, cur);
  pc = insn + 2;
  NEXT_FAST();
}
for_range_exhausted:
  pc = insn + 2 + int16_t(insn[1]);
  NEXT_FAST();
for_range_general:
  pc = insn + 2;
  status = op_for_range_next(ctx);
  if (status == kLoopExhausted) pc = insn + 2 + int16_t(insn[1]);
  else if (status != kOk) goto handle_status;
  goto tail;
op_for_next:
  pc = insn + 2;
  PROTECT(op_for_next(ctx));
  if (status == kLoopExhausted) pc = insn + 2 + int16_t(insn[1]);
  else if (status != kOk) goto handle_status;
  goto tail;
op_range_pack: {
  const int n = int16_t(insn[1]);
  pc = insn + 2;
  if ((n == 2 || n == 3) && ctx->desc_top >= 3 * n) {
    bool scalars = true;
    for (int i = 1; i <= n && scalars; ++i) {
      const uint32_t* d = desc + ctx->desc_top - 3 * i;
      scalars = desc_is_real_scalar(d);
    }
    if (scalars) {
      // The values already lie side by side: one descriptor replaces n.
      ctx->desc_top -= 3 * (n - 1);
      desc[ctx->desc_top - 2] = 1;
      desc[ctx->desc_top - 1] = uint32_t(n);
      NEXT_FAST();
    }
  }
  CHECK(op_range_pack(ctx, n));
  goto tail;
}
op_range_final:
  pc = insn + 1;
  CHECK(op_range_final(ctx));
  goto tail;

// --- try, position, assert ------------------------------------------------------------
op_try: {
  pc = insn + 3;
  if (ctx->frame >= 0) {
    uint32_t* w = frame_words(ctx, ctx->frame);
    const int16_t off = int16_t(insn[1]);
    if (off <= 0) {
      w[kFwCatchKind] = 0;
    } else {
      w[kFwCatchKind] = uint32_t(ctx->pos.kind);
      w[kFwCatchOffset] = uint32_t(reinterpret_cast<const uint8_t*>(insn + 3 + off) - base);
    }
    w[kFwCatchKeep] = uint32_t(int16_t(insn[2]));
  }
  goto tail;
}
op_position:
  // pc is set on each path after the test, so that the fast path steps insn
  // in place instead of keeping a second copy of it.
  if (__builtin_expect(line_fw != nullptr, 1)) {
    line_fw[kFwCurrentFunction] = uint32_t(int16_t(insn[1]));
    line_fw[kFwLine] = uint32_t(int16_t(insn[2]));
    pc = insn + 3;
    DISPATCH();
  }
  pc = insn + 3;
  goto position_recorded;
op_position_wide:
  // A line the short form cannot hold: recorded the same way, off the fast path.
  pc = insn + kPositionWideWords;
  goto position_recorded;
position_recorded: {
  // Without a frame, or with something watched: the frame found afresh.
  uint32_t* fw = FRAME_WORDS();
  if (!fw) DISPATCH();
  fw[kFwCurrentFunction] = uint32_t(int16_t(insn[1]));
  fw[kFwLine] = uint32_t(position_line(insn));
  if (__builtin_expect(!watching, 1)) DISPATCH();
  goto position_watched;
}
position_watched: {
  // Echo, breakpoints and stepping: the line is shown or the run stops.
  const int32_t fid = int16_t(insn[1]), line = position_line(insn);
  uint32_t* w = frame_words(ctx, ctx->frame);
  const int32_t echo = ctx->dbg_word[kEchoTargetWord];
  if (__builtin_expect(echo == kEchoAll || (echo >= 0 && echo == fid), 0)) {
    // A line that cannot be echoed does not stop the program.
    PROTECT(((void)echo_source_line(ctx, fid, line), kOk));
    BASES();
    w = frame_words(ctx, ctx->frame);
  }
  if (__builtin_expect(ctx->bp_count > 0, 0) && int32_t(w[kFwStepMode]) == kStepRun && breakpoint_at(ctx, fid, line))
    w[kFwStepMode] = kStepStopAtNext;
  const int32_t step = int32_t(w[kFwStepMode]);
  if (__builtin_expect(step > 0, 0)) {
    // A stop line that cannot be printed does not keep the stop from happening.
    PROTECT(((void)interp_print_stop_line(ctx, fid, line), kOk));
    BASES();
    if (step >= kStepStopAtNext) {
      w = frame_words(ctx, ctx->frame);
      w[kFwSuspendKind] = uint32_t(ctx->pos.kind);
      w[kFwSuspendOffset] = ctx->pos.offset;
      // A task stays current: the debugger's commands run in its context.
      ctx->status_word = kDebugSuspend;
      status = kDebugSuspend;
      goto end_run;
    }
    ctx->yield_request = 1;
  }
  DISPATCH();
}
op_assert: {
  const int nargin = int16_t(insn[1]);
  pc = insn + 2;
  if (nargin < 1 || !stk_has_item(ctx, nargin - 1)) FAIL(kBadArgument);
  uint8_t truth = 0;
  CHECK(stk_test_condition(ctx, nargin - 1, &truth));
  if (truth) {
    CHECK(stk_remove(ctx, 0, nargin));
    goto tail;
  }
  if (nargin == 1) {
    stk_drop(ctx);
    FAIL(kAssertionFalse);
  }
  CHECK(stk_remove(ctx, nargin - 1, 1));
  // An empty message raises nothing, here as for error itself.
  PROTECT(call_handler(ctx, kOpError, nargin - 1, 0, 0));
  if (status == kOk) goto tail;
  FAIL(status);
}
op_disp:
  pc = insn + 1;
  if (item_user_class(ctx, 0) != 0) FAIL(kWrongArgType);
  PROTECT(interp_display(ctx, kFdStdout, 1));
  if (status != kOk) goto handle_status;
  goto tail;

// --- Calls and returns -------------------------------------------------------------------
op_call_user: {
  pc = insn + 4;
  if (__builtin_expect(quiet, 1)) {
    // The call cache's way: no resolution, no header checks, and straight on
    // into the callee (nothing between instructions has anything to do).
    SAVE_POS_KEEP_GAP();
    status = fn_call_user_cached(ctx, int16_t(insn[1]), int16_t(insn[2]), int16_t(insn[3]));
    if (status == kOk) goto call_entered;
    if (status != kFrameNotPlain) goto handle_status;
  }
  PROTECT(call_user_function(ctx, insn));
  if (status != kOk) goto handle_status;
  goto tail;
}
// «f(n - 1)»: the cached call takes the argument's value where it was
// written, or the push is finished and the call made as usual (the stacks'
// tops are as the value's step found them).
given_call: {
  pc = insn + 4;
  if (__builtin_expect(quiet && insn[2] == 1, 1)) {
    SAVE_POS_KEEP_GAP();
    status = fn_call_user_given(ctx, int16_t(insn[1]), int16_t(insn[3]));
    if (status == kOk) goto call_entered;
  }
  const int32_t dt = ctx->desc_top;
  set_desc_real_scalar(desc + dt);
  ctx->desc_top = dt + kDescWords;
  ctx->data_top += 1;
  pc = insn;
  NEXT_FAST();
}
// The cached call pushed the callee's frame and set its position.
call_entered: {
  // The cache checked the callee's first instruction against the area;
  // a caller in the code area ran from the same base.
  uint32_t* fw = desc + ctx->frame;
  if (__builtin_expect(int32_t(fw[kFwCallerKind]) != kAreaCode, 0)) base = code_area_base(ctx, kAreaCode, &area_bytes);
  pc = reinterpret_cast<const uint16_t*>(base + ctx->pos.offset);
  if (__builtin_expect(watching, 0)) goto entered_frame;
  // Nothing was watched, so nothing is in the callee's frame either: no
  // breakpoint is set, and it steps as its caller did, not at all. Its
  // frame keeps no names, so its slots are its own when it has any.
  line_fw = fw;
  TN_ASSERT(!frame_stepping(line_fw) && !lines_watched_anywhere(ctx) && line_fw[kFwFrameNames] == 0);
  slots = line_fw + kFrameFixedWords;
  slot_count = line_fw[kFwLocals];
  slots_known = int32_t(slot_count) >= 1;
  may_overload = true;
  DISPATCH();
}
op_return: {
  // Back from a function to a function: the code area's cached base holds.
  if (__builtin_expect(ctx->pos.kind == kAreaCode, 1) && frame_pop_plain(ctx)) goto returned_from_code;
  const int32_t frame = ctx->frame;
  if (frame < 0 || is_base_frame(ctx, frame)) {
    ctx->pos.kind = kAreaNone;
    goto code_end;
  }
  if (ctx->pos.kind != kAreaCode && frame_pop_plain(ctx)) {
    base = code_area_base(ctx, ctx->pos.kind, &area_bytes);
    goto returned;
  }
  const bool resumes = frame_words(ctx, frame)[kFwResume] != 0;
  status = frame_pop(ctx);
  if (status != kOk) {
    // A resumed built-in failed: the error belongs to its instruction.
    pc = code_get_pc(ctx);
    base = code_area_base(ctx, ctx->pos.kind, &area_bytes);
    if (!pc) goto code_end;
    if (resumes) {
      insn = pc - kLibraryCallWords;
      may_overload = false;
    }
    goto handle_status;
  }
  RELOAD();
  goto tail;
}
// A plain return from code of the code area (frame_pop_plain's or
// frame_return_real's): the caller's position is set, its base may differ.
returned_from_code:
  if (ctx->pos.kind != kAreaCode) base = code_area_base(ctx, ctx->pos.kind, &area_bytes);
returned:
  // No area (a null base) has no bytes: the offset's test covers it.
  if (ctx->pos.offset % 2 != 0 || int64_t(ctx->pos.offset) + 2 > area_bytes) goto code_end;
  pc = reinterpret_cast<const uint16_t*>(base + ctx->pos.offset);
  if (__builtin_expect(!quiet, 0)) goto tail;
  REENTER_CALLER();
// A plain call or return done without the bookkeeping of `top`: no task or
// event waits, nothing moved, and only the frame changed. The position is
// the new frame's; its slots and what its lines need are found here.
entered_frame: {
  uint32_t* fw = FRAME_WORDS();
  slots_known = fw && own_frame_slots(fw, &slots, &slot_count);
  may_overload = true;
  // Echo and breakpoints were off if nothing was watched before the change.
  watching = (watching && lines_watched_anywhere(ctx)) || frame_stepping(fw);
  line_fw = watching ? nullptr : fw;
  DISPATCH();
}
op_nargio:
  // Every function with one output ends with «nargout 0; jump_if_false L;
  // load_local k; L: ret_function»: one step while nothing waits.
  if (__builtin_expect(quiet, 1) && returns_local(insn) && ctx->frame >= 0) goto return_local;
op_nargio_count: {
  // Every function's return reads nargout: the frame's count, pushed inline
  // (with a function argument, or without room, the handler does it).
  const int32_t dt = ctx->desc_top, vt = ctx->data_top;
  if (int16_t(insn[1]) >= 1 || !SCALAR_ROOM(dt, vt)) goto op_generic;
  const uint32_t* fw = FRAME_WORDS();
  int32_t count = 0;
  if (fw) {
    count = int32_t(*insn == kOpNargout ? fw[kFwResults] : fw[kFwNargin]);
    if (count < 0) count = 0;
  }
  if (insn[2] == kOpJumpIfFalse || insn[2] == kOpJumpIfTrue) {
    // «if nargout ...» of a return: the count decides the jump at once.
    cond_truth = count != 0;
    cond_next = insn + 2;
    goto fused_condition;
  }
  PUSH_REAL(dt, vt, double(count));
  pc = insn + 2;
  NEXT_FAST();
}
// A function's return: its output pushed when asked for, and straight on to
// the return (nothing between the steps could see the difference). A
// negative count (the caller takes no output) reads as none.
return_local: {
  uint32_t* fw = desc + ctx->frame;
  const uint16_t* ret = insn + kReturnLocalWords;
  if (int32_t(fw[kFwResults]) <= 0) {
    pc = ret;
    DISPATCH();
  }
  const uint32_t k = uint32_t(int16_t(insn[5]));
  const int32_t vt = ctx->data_top;
  // Straight into the caller's frame when the return is a plain one from
  // code of the code area to code of the code area (whose cached base
  // holds). Such a frame keeps no names: its slots are its own.
  if (k < fw[kFwLocals] && ctx->pos.kind == kAreaCode && int32_t(fw[kFwCallerKind]) == kAreaCode &&
      frame_return_real_fits(ctx, ctx->frame, fw) && uint32_t(vt) + 1u < ctx->data_capacity) {
    if (const uint64_t* block = scalar_block(heap, fw[kFrameFixedWords + k])) {
      data[vt] = block[kHeapValueHeaderWords];  // where the value's push puts it
      ctx->data_top = vt + 1;
      frame_return_real_taken(ctx, fw);
      // Every area's size is even: an even offset below it leaves room for
      // an instruction's word.
      const uint32_t offset = ctx->pos.offset;
      TN_ASSERT(area_bytes % 2 == 0);
      if (offset % 2 != 0 || int64_t(offset) >= area_bytes) goto code_end;
      pc = reinterpret_cast<const uint16_t*>(base + offset);
      // The general return's re-entry, written out here (joined, it costs the
      // loop more than it saves).
      REENTER_CALLER();
    }
  }
  const int32_t dt = ctx->desc_top;
  if (!SCALAR_ROOM(dt, vt)) goto op_generic;
  if (const uint64_t* block = slots_known && k < slot_count ? scalar_block(heap, slots[k]) : nullptr) {
    PUSH_REAL_BITS(dt, vt, block[kHeapValueHeaderWords]);
    pc = ret;
    DISPATCH();
  }
  goto op_nargio_count;
}
op_task_end:
  if (ctx->task_current != 0) {
    const int32_t task = ctx->task_current;
    tasks.switch_to(ctx, 0);
    tasks.remove(ctx, task);
    slots_known = false;
    RELOAD();
    goto top;
  }
  ctx->pos.kind = kAreaNone;
  status = kOk;
  goto end_run;
// --- Everything else: the registered handler ------------------------------------------
op_generic: {
  const uint16_t op = *insn;
  const OpDecode& dec = op_decode(op);
  int a = 0, b = 0, c = 0;
  op_handler_args(dec, insn, &a, &b, &c);
  pc = insn + (dec.length ? dec.length : insn_length(insn));
  if (op == kOpIndexRead || op == kOpIndexRefRead) {
    c = caller_function_id(ctx);
    b = int(index_read_mask(b, pc, base + area_bytes));
  }
  const OpHandler h = interp_op_handler(op);
#ifdef TN_DEBUG_CHECKS
  // With the position the call stores: a handler that moves it on (an
  // append that passes over its store) has left its results elsewhere.
  BuiltinCallMark intrinsic_mark = builtin_call_mark(ctx);
  intrinsic_mark.pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(pc) - base);
#endif
  if (op == kOpRefElement || op == kOpRefAssign || op == kOpIndexAssign)
    PROTECT_KEEP_GAP(brace_store_step(ctx, h, a, b, c));
  else if (kKeepsEntryGap[op] || (kReadsThroughRef[op] && !entry_gap_referenced(ctx)))
    PROTECT_KEEP_GAP(h.fn(ctx, h.selector, a, b, c));
  else
    PROTECT(h.fn(ctx, h.selector, a, b, c));
#ifdef TN_DEBUG_CHECKS
  // What an intrinsic that can start code runs is checked where it runs.
  if (status == kOk && dec.intrinsic && !dec.runs_code) intrinsic_call_verify(ctx, intrinsic_mark, op, a, b);
#endif
  if (status == kUndefinedVariable && op == kOpLoadLocal) status = local_read_status(ctx, status, a);
  if (status != kOk) goto handle_status;
  goto tail;
}
op_library: {
  (void)LOCAL_SLOT(0);  // the slots are known from here on
  if (const uint16_t* next = known_division_summed(ctx, insn, lib_division, desc, data, heap, slots, slot_count)) {
    pc = slice ? next : back_edge(ctx, next, line_fw, slots, slot_count, desc, data, heap);
    NEXT_FAST();
  }
  if (const uint16_t* next = library_scalar_division(ctx, insn, slots, slot_count, &lib_division)) {
    pc = next;
    NEXT_FAST();
  }
  if (*insn >= kFirstNegativeOpcode) {
    pc = insn + 1;
    FAIL(kNotSupported);
  }
  LibRow r{};
  pc = insn + kLibraryCallWords;
  CHECK(lib_row_lookup(ctx, int32_t(*insn) - int32_t(kFirstLibraryOpcode), &r));
  CHECK(lib_row_admit(ctx, r));
  PROTECT(builtin_call(ctx, r.row, int16_t(insn[1]), int16_t(insn[2])));
  if (status != kOk) goto handle_status;
  goto tail;
}

// --- Statuses ---------------------------------------------------------------------------
handle_status:
  entry_gap_settle(ctx);
  slots_known = false;
  switch (status) {
    case kYield:
      pc = insn + (*insn >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(insn));
      goto yield_task;
    case kWaitInput:
      // A task keeps its position and waits, as it does for kWaitRetry; the
      // main context takes over and the run still ends with kWaitInput.
      pc = insn;
      SAVE_POS();
      if (ctx->task_current != 0) tasks.switch_to(ctx, 0);
      goto end_run;
    case kWaitRetry:
      pc = insn;
      goto wait_retry;
    case kSliceEnded:
      goto abort_poll;
    case kDebugSuspend:
      goto suspend;
    default:
      goto error_path;
  }

// A task gives way after its instruction: the next task runs, or this one
// goes on at once when it is the only one.
yield_task: {
  SAVE_POS();
  CodePosition p = ctx->pos;
  if (tasks.yield(ctx, &p)) {
    status = kOk;
    goto end_run;
  }
  ctx->pos = p;
  RELOAD();
  if (ctx->task_current != 0) goto top;
  goto abort_poll;
}

// The instruction waits for something to happen and runs again: a task
// hands control back to the main code, the main code lets the tasks run.
// A task made current runs at once: the abort poll would switch straight
// back to the main code, which would wait again, for ever.
wait_retry: {
  SAVE_POS();
  if (ctx->task_current != 0) {
    tasks.hand_back(ctx);
    status = kSliceEnded;
    goto end_run;
  }
  CodePosition p = ctx->pos;
  if (tasks.yield(ctx, &p)) {
    status = kOk;
    goto end_run;
  }
  ctx->pos = p;
  RELOAD();
  if (ctx->task_current != 0) goto top;
  goto abort_poll;
}

abort_poll:
  status = check_abort(ctx);
  if (status == kSliceEnded) {
    // No gap outlives a run: between slices the host, another task or a
    // saved image may read any variable.
    SAVE_POS();
    if (ctx->task_current != 0) tasks.hand_back(ctx);
    goto end_run;
  }
  if (status == kDebugSuspend) goto suspend;
  may_overload = false;
  goto error_path;

// A task that stops where it can go on stays current, as at a breakpoint;
// one with nothing to go on from ends.
suspend:
  if (ctx->frame >= 0 && int32_t(frame_words(ctx, ctx->frame)[kFwStepMode]) >= kStepStopAtNext) {
    SAVE_POS();
    uint32_t* w = frame_words(ctx, ctx->frame);
    w[kFwSuspendKind] = uint32_t(ctx->pos.kind);
    w[kFwSuspendOffset] = ctx->pos.offset;
  } else if (ctx->task_current != 0) {
    tasks.remove(ctx, ctx->task_current);
  }
  ctx->status_word = kDebugSuspend;
  status = kDebugSuspend;
  goto end_run;

error_path:
  slots_known = false;
  if (ctx->error_area.loc_function < 0 && ctx->error_area.loc_line < 1) err_note_location(ctx, status, 0);
  if (ctx->failing_op[0] == 0 && status != kUserError && status != kAborted && insn)
    core_builtin_name(ctx, *insn, 1, ctx->failing_op);
  if (may_overload && insn && status != kAborted && overload_status(status)) goto error_overload;
  goto error_report;

// A class method may stand in for the failed operation.
error_overload: {
  const int length = *insn >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(insn);
  OverloadAction action = OverloadAction::kReport;
  const int raised = status;
  HALF_PROTECT(overload_try(ctx, raised, insn, length, &action));
  if (action == OverloadAction::kContinue) {
    // The method did the work: the failure's text and location are void,
    // or the next error would be reported with them.
    err_store(ctx, 0, nullptr, 0, false);
    err_clear_location(ctx);
    ctx->failing_op[0] = 0;
    RELOAD();
    goto tail;
  }
  // A method's own error replaces the text raised for the first failure.
  if (status != raised) err_store(ctx, 0, nullptr, 0, false);
  if (action != OverloadAction::kRetry) goto error_report;
  // Operands converted: the instruction runs again, without a second try.
  base = code_area_base(ctx, ctx->pos.kind, &area_bytes);
  pc = insn;
  may_overload = false;
  ctx->failing_op[0] = 0;
  BASES();
  lib_division.opcode = 0;
  line_fw = nullptr;  // the frame found afresh at the next position
  DISPATCH();
}

// The error is stored with its report, then caught by the nearest handler
// or reported with the traceback, and the run ends.
error_report: {
  may_overload = true;
  if (ctx->free_at_run < 1) {
    char report[kReportBufferBytes];
    int32_t n = 0;
    err_format_report(ctx, status, true, report, sizeof report, &n);
    err_store(ctx, status, report, n, false);
  }
  err_clear_location(ctx);
  // A halt and a cancel end the run whatever handlers stand in the way: a
  // `catch` that took them would let the code go on that was told to stop.
  if (status != kAborted && status != kCancel) {
    CodePosition handler{};
    const int security = status == kSecurityViolation || status == kSecurityViolationVariable;
    if (frame_find_handler(ctx, security, &handler)) {
      ctx->pos = handler;
      RELOAD();
      goto top;
    }
  }
  ctx->pos.kind = kAreaNone;
  if (status != kCancel) err_print_traceback(ctx, status);
  // An error in a command typed while a task is suspended ends the command
  // only; any other ends the task.
  if (ctx->task_current != 0 && !frame_suspended_present(ctx)) tasks.remove(ctx, ctx->task_current);
  goto end_run;
}

// The code entered from the host ended. In a task that is a command typed
// while the task is suspended: the task stays current while it still is
// (the debugger's next command runs there too), else it is over (dbquit).
code_end:
  entry_gap_settle(ctx);
  ctx->pos.kind = kAreaNone;
  if (ctx->task_current != 0 && !frame_suspended_present(ctx)) tasks.remove(ctx, ctx->task_current);
  if (!nested) ctx->running = 0;
  if (ctx->task_current != 0) return kOk;
  return ctx->pos.kind != kAreaNone ? kSliceEnded : kOk;

end_run:
  entry_gap_settle(ctx);
  if (!nested) ctx->running = 0;
  return status == kWaitRetry ? kSliceEnded : status;

#undef SAVE_POS
#undef SAVE_POS_KEEP_GAP
#undef PROTECT_KEEP_GAP
#undef CALL_OUT
#undef RELOAD
#undef DISPATCH
#undef NEXT_FAST
#undef LOCAL_SLOT
#undef FAIL
#undef CHECK
#undef BASES
#undef FRAME_WORDS
#undef PROTECT
#undef HALF_PROTECT
#undef PUSH_REAL
#undef PUSH_REAL_BITS
#undef SCALAR_ROOM
#undef BINARY_SCALARS
#undef REENTER_CALLER
#undef ARITH
#undef DOUBLE_SCALAR_TOP
}
