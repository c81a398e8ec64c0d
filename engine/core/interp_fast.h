// The interpreter's fast paths: the value shapes they recognise, the scalar
// kernels and tests the loop inlines (a for loop's step and the end of its
// body among them), and the paths kept out of line (element reads and writes
// of a local's matrix, references to locals, arrays moved instead of copied). Each either does its whole step or leaves every stack,
// variable and heap word as it found it, so the general handler can run.
// Internal to engine/core: only the interpreter's files include it.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "engine/core/complex_scalar.h"
#include "engine/core/context.h"
#include "engine/core/control_flow.h"
#include "engine/core/heap.h"
#include "engine/core/opcodes.h"
#include "engine/core/scalar_subscripts.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"

namespace interp_fast {

// Descriptor and heap words of a real 1 x 1 double, read as 64-bit words:
// {kind 0, rows 1} and {columns 1, 0}.
constexpr uint64_t kScalarHead = kRealScalarHead;
constexpr uint64_t kScalarTail = 1;
// The same for a complex 1 x 1 double: {kind 1, rows 1}, then its two parts.
constexpr uint64_t kComplexHead = uint64_t(kKindComplex) | uint64_t(1) << 32;
// The first two data words of a logical 1 x 1 array: {type u8, 2 dims}, {1, 1}.
constexpr uint64_t kLogicalHead = uint64_t(kElemU8) | uint64_t(2) << 32;
constexpr uint64_t kLogicalDims = uint64_t(1) | uint64_t(1) << 32;
constexpr uint32_t kLogicalWords = 3;

[[gnu::always_inline]] inline bool is_comparison(uint16_t op) {
  static_assert(kOpNe == kOpEq + 1 && kOpLt == kOpEq + 4 && kOpGe == kOpEq + 7);
  // ==, ~=, <, >, <=, >= (same and unsame lie between and are not ours).
  return uint16_t(op - kOpEq) <= 7 && op != kOpSame && op != kOpUnsame;
}
// x op y for the four arithmetic operators of two real scalars; false for
// any other opcode.
[[gnu::always_inline]] inline bool arith_scalars(uint16_t op, double x, double y, double* r) {
  switch (op) {
    case kOpPlus: *r = x + y; return true;
    case kOpMinus: *r = x - y; return true;
    case kOpTimes:
    case kOpMtimes: *r = x * y; return true;
    case kOpRdivide:
    case kOpMrdivide: *r = x / y; return true;
    default: return false;
  }
}
[[gnu::always_inline]] inline bool compare_scalars(uint16_t op, double a, double b) {
  switch (op) {
    case kOpEq: return a == b;
    case kOpNe: return a != b;
    case kOpLt: return a < b;
    case kOpGt: return a > b;
    case kOpLe: return a <= b;
    default: return a >= b;
  }
}

// Writes v over the value of local k when that is a real scalar in its own
// block; false (nothing written) otherwise.
[[gnu::always_inline]] inline bool store_scalar_local(uint64_t* heap, const uint32_t* slots, uint32_t count,
                                                      uint32_t k, double v) {
  const uint32_t b = k < count ? slots[k] : 0;
  if (b == uint32_t(-1) || b == 0 || heap[b] != kScalarHead || heap[b + 1] != kScalarTail) return false;
  tn::st_f64(heap + b + kHeapValueHeaderWords, v);
  return true;
}

// The block of a local that holds a real scalar in its own block, or null.
// Both header words through the block's address: one base register for both.
[[gnu::always_inline]] inline const uint64_t* scalar_block(const uint64_t* heap, uint32_t b) {
  if (b == uint32_t(-1) || b == 0) return nullptr;
  const uint64_t* block = heap + b;
  return block[0] == kScalarHead && block[1] == kScalarTail ? block : nullptr;
}

// The return that every function with one output ends with:
//   nargout 0; jump_if_false L; load_local k; L: ret_function
// (the output pushed only when the caller asked for it).
// Tested as a 64-bit word (words 0-3), a 32-bit one (words 3-4) and
// ret_function's word, so that neither the local (word 5) nor anything past
// ret_function is read.
constexpr int kReturnLocalWords = 6;  // the words before ret_function
constexpr uint64_t kReturnLocalHead = uint64_t(kOpNargout) | uint64_t(kOpJumpIfFalse) << 32 | uint64_t(2) << 48;
constexpr uint32_t kReturnLocalLoad = uint32_t(2) | uint32_t(kOpLoadLocal) << 16;
[[gnu::always_inline]] inline bool returns_local(const uint16_t* insn) {
  static_assert(std::endian::native == std::endian::little);
  return tn::load<uint64_t>(insn) == kReturnLocalHead && tn::load<uint32_t>(insn + 3) == kReturnLocalLoad &&
         insn[kReturnLocalWords] == kOpRetFunction;
}

// Gives an undefined local a fresh block for a double scalar (head: the
// first header word, words: the data words); false without heap room.
[[gnu::always_inline]] inline bool give_scalar_block(EngineContext* c, uint64_t* heap, uint32_t* slot, uint64_t head,
                                                     int words) {
  int32_t block = 0;
  if (words == 1 ? (block = heap_alloc_scalar_block(c)) == 0
                 : heap_alloc(c, kHeapValueHeaderWords + words, &block) != kOk)
    return false;
  heap[block] = head;
  heap[block + 1] = kScalarTail;
  *slot = uint32_t(block);
  return true;
}

// A real scalar (its bits) stored by the store_local at `store` without
// passing the stack: written over the local's real scalar, or into the block
// an unset local is given, as the store leaves it; false with nothing changed
// (the local holds something else, or no heap room).
// «load_local a; store_local b» with a real scalar in a's block is one such
// store; the answer is the instruction after it, or null.
[[gnu::always_inline]] inline bool put_scalar_local(EngineContext* c, const uint16_t* store, uint32_t* slots,
                                                     uint32_t slot_count, uint64_t* heap, uint64_t bits) {
  const uint32_t k = uint32_t(int16_t(store[1]));
  if (k >= slot_count) return false;
  if (slots[k] == uint32_t(-1) && !give_scalar_block(c, heap, slots + k, kScalarHead, 1)) return false;
  const uint32_t b = slots[k];
  if (b == 0 || heap[b] != kScalarHead || heap[b + 1] != kScalarTail) return false;
  heap[b + kHeapValueHeaderWords] = bits;
  return true;
}
[[gnu::always_inline]] inline const uint16_t* copy_local_scalar(EngineContext* c, const uint16_t* insn,
                                                                const uint64_t* block, uint32_t* slots,
                                                                uint32_t slot_count, uint64_t* heap) {
  return put_scalar_local(c, insn + 2, slots, slot_count, heap, block[kHeapValueHeaderWords]) ? insn + 4 : nullptr;
}

// Two double scalars on top of the stack, real or complex: where their data
// lie and their parts (a real one's imaginary part read as 0).
struct ScalarPair {
  bool ac, bc;
  uint64_t* pa;
  uint64_t* pb;
  double ar, ai, br, bi;
};
[[gnu::always_inline]] inline bool double_scalar_pair(EngineContext* c, const uint32_t* desc, uint64_t* data,
                                                      ScalarPair* s) {
  const uint32_t* db = desc + c->desc_top - 3;
  const uint32_t* da = db - 3;
  if (c->desc_top < 6 || da[0] > kKindComplex || db[0] > kKindComplex || da[1] != 1 || da[2] != 1 || db[1] != 1 ||
      db[2] != 1)
    return false;
  s->ac = da[0] == kKindComplex;
  s->bc = db[0] == kKindComplex;
  s->pb = data + c->data_top - (s->bc ? 2 : 1);
  s->pa = s->pb - (s->ac ? 2 : 1);
  s->ar = tn::ld_f64(s->pa);
  s->ai = s->ac ? tn::ld_f64(s->pa + 1) : 0.0;
  s->br = tn::ld_f64(s->pb);
  s->bi = s->bc ? tn::ld_f64(s->pb + 1) : 0.0;
  return true;
}

// The element that n (1 or 2) real scalar subscripts, whose data words lie
// at subs, select in the real double matrix of header h.
inline bool scalar_element(const uint32_t* h, const uint64_t* subs, int n, int64_t* off) {
  return scalar_subscript_offset(h, n, tn::ld_f64(subs), n == 2 ? tn::ld_f64(subs + 1) : 0.0, off);
}

// Pushes a real scalar over stack tops dt and vt; the caller checked the room.
[[gnu::always_inline]] inline void push_real_scalar(EngineContext* c, uint32_t* desc, uint64_t* data, int32_t dt,
                                                    int32_t vt, double v) {
  set_desc_real_scalar(desc + dt);
  tn::st_f64(data + vt, v);
  c->desc_top = dt + kDescWords;
  c->data_top = vt + 1;
}

// Pushes a logical 1 x 1 array, as the relational operators make it; the
// caller checked the room.
[[gnu::always_inline]] inline void push_logical_scalar(EngineContext* c, uint32_t* desc, uint64_t* data, bool truth) {
  const int32_t dt = c->desc_top, vt = c->data_top;
  uint32_t* d = desc + dt;
  d[0] = kKindPayload;
  d[1] = kLogicalWords;
  d[2] = kPayLogical;
  uint64_t* p = data + vt;
  p[0] = kLogicalHead;
  p[1] = kLogicalDims;
  p[2] = truth ? 1 : 0;
  c->desc_top = dt + kDescWords;
  c->data_top = vt + int32_t(kLogicalWords);
}

// Pushes the complex scalar held in block (a heap value); false without room.
[[gnu::always_inline]] inline bool push_complex_block(EngineContext* c, uint32_t* desc, uint64_t* data,
                                                      const uint64_t* block) {
  const int32_t dt = c->desc_top, vt = c->data_top;
  if (int64_t(vt) + 2 >= int64_t(c->data_capacity)) return false;
  uint32_t* d = desc + dt;
  d[0] = kKindComplex;
  d[1] = 1;
  d[2] = 1;
  data[vt] = block[kHeapValueHeaderWords];
  data[vt + 1] = block[kHeapValueHeaderWords + 1];
  c->desc_top = dt + kDescWords;
  c->data_top = vt + 2;
  return true;
}

// The truth of a real or logical scalar on top of the stack, read directly:
// its data words (to drop it), or 0 for any other item.
[[gnu::always_inline]] inline int32_t top_scalar_truth(const EngineContext* c, const uint32_t* desc,
                                                       const uint64_t* data, bool* truth) {
  const int32_t dt = c->desc_top, vt = c->data_top;
  if (dt < kDescWords) return 0;
  const uint32_t* d = desc + dt - kDescWords;
  if (desc_is_real_scalar(d)) {
    *truth = tn::ld_f64(data + vt - 1) != 0;
    return 1;
  }
  if (d[0] == kKindPayload && d[1] == kLogicalWords && d[2] == kPayLogical && data[vt - 3] == kLogicalHead &&
      data[vt - 2] == kLogicalDims) {
    *truth = uint8_t(data[vt - 1]) != 0;
    return int32_t(kLogicalWords);
  }
  return 0;
}

// The state words of a real range loop (control_flow.h) when its state is
// the top item, else null: the descriptor {kRangeStateReal, 1} read as one
// 64-bit word, then kRangeStateWords.
constexpr uint64_t kRangeStateHead = uint64_t(kRangeStateReal) | uint64_t(1) << 32;
[[gnu::always_inline]] inline uint64_t* real_range_state(const uint32_t* desc, uint64_t* data, int32_t dt,
                                                         int32_t vt) {
  const uint32_t* d = desc + dt - kDescWords;
  if (dt < kDescWords || tn::load<uint64_t>(d) != kRangeStateHead || d[2] != kRangeStateWords) return nullptr;
  return data + vt - kRangeStateWords;
}

// Room for one more real scalar on both stacks over tops dt and vt, as the
// loop's pushes test it.
[[gnu::always_inline]] inline bool scalar_room(const EngineContext* c, int32_t dt, int32_t vt) {
  return uint32_t(dt) + 3u < c->desc_capacity && uint32_t(vt) + 1u < c->data_capacity;
}

// One step of a real range loop's state words w: false when no step is
// left; else the loop value, and the state moved on.
[[gnu::always_inline]] inline bool range_step(uint64_t* w, double* value) {
  const uint64_t left = w[kRsLeft];
  if (left == 0) return false;
  const double cur = tn::ld_f64(w + kRsCur);
  tn::st_f64(w + kRsCur, cur + tn::ld_f64(w + kRsStep));
  w[kRsLeft] = left - 1;
  *value = cur;
  return true;
}
// The same step with the value written into the real scalar heap value at
// target (a loop variable's block).
[[gnu::always_inline]] inline bool range_step_into(uint64_t* w, uint64_t* target) {
  const uint64_t left = w[kRsLeft];
  if (left == 0) return false;
  const uint64_t cur = w[kRsCur];
  target[kHeapValueHeaderWords] = cur;
  tn::st_f64(w + kRsCur, std::bit_cast<double>(cur) + tn::ld_f64(w + kRsStep));
  w[kRsLeft] = left - 1;
  return true;
}

// The block of local `word` (an instruction's operand) when it holds a real
// scalar in its own block, else null.
[[gnu::always_inline]] inline uint64_t* real_scalar_local(uint64_t* heap, const uint32_t* slots, uint32_t count,
                                                          uint16_t word) {
  const uint32_t k = uint32_t(int16_t(word));
  return const_cast<uint64_t*>(scalar_block(heap, k < count ? slots[k] : 0));
}

// Records the line of the position instruction at pc in the frame's words,
// as the instruction does when nothing watches lines; the instruction after it.
[[gnu::always_inline]] inline const uint16_t* record_line(uint32_t* fw, const uint16_t* pc) {
  fw[kFwCurrentFunction] = uint32_t(int16_t(pc[1]));
  fw[kFwLine] = uint32_t(int16_t(pc[2]));
  return pc + kPositionWords;
}

// The end of a for loop's body after a statement done in a fast step, from
// pc: «position f l; jump Top» and, at Top, a real range's next value stored
// into its variable and the body's first line recorded:
//   Top: for_range_next End; store_local k; position f' l'
// each instruction done as its own fast path does it, while nothing watches
// lines (fw: the current frame's words, null when something does) and no
// task or event waits, since nothing else could then see the steps between;
// only for a run without a slice (whose backward jumps end a slice). The
// instruction to run next (pc when nothing was done).
[[gnu::always_inline]] inline const uint16_t* back_edge(EngineContext* c, const uint16_t* pc, uint32_t* fw,
                                                       const uint32_t* slots, uint32_t slot_count,
                                                       const uint32_t* desc, uint64_t* data, uint64_t* heap) {
  if (!fw || pc[0] != kOpPosition || (c->task_first | c->event_count) != 0) return pc;
  pc = record_line(fw, pc);
  if (pc[0] != kOpJump || int16_t(pc[1]) >= 0) return pc;
  // The jump is taken: the loop's top.
  const uint16_t* const top = pc + 2 + int16_t(pc[1]);
  if (top[0] != kOpForRangeNext || top[2] != kOpStoreLocal) return top;
  const int32_t dt = c->desc_top, vt = c->data_top;
  uint64_t* const w = real_range_state(desc, data, dt, vt);
  if (!w || !scalar_room(c, dt, vt)) return top;
  uint64_t* const target = real_scalar_local(heap, slots, slot_count, top[3]);
  if (!target) return top;
  if (!range_step_into(w, target)) return top + 2 + int16_t(top[1]);
  return top[4] == kOpPosition ? record_line(fw, top + 4) : top + 4;
}

// What the loop knows of one library opcode: whether its row's built-in
// agrees with an engine division (lib_note_scalar_operator) and may be done
// inline, and the class id the call sets. Learnt at its first use and
// forgotten at every call out of the loop (the only place where a table is
// registered or dropped), so it never outlives the rows it was read from.
struct LibDivision {
  uint32_t opcode = 0;  // 0: nothing known (no library opcode is 0)
  uint16_t op = 0;      // kOpMrdivide or kOpMldivide; 0: the general call
  int32_t class_id = 0;
};
// Looks the row of the library opcode up and notes what it is.
void learn_library_division(EngineContext* c, uint16_t opcode, LibDivision* known);

// The operand words of a library call of two inputs and one output, read
// as one 32-bit word (little-endian: the count of inputs first).
constexpr uint32_t kTwoInOneOut = 2u | 1u << 16;

// «s = s + a / b»: the library call at insn, whose row is known to divide,
// of two real scalars over a third, the sum after it and its store into a
// local that holds a real scalar, in one step, as library_scalar_division
// does it (the commonest of its forms, kept in the loop). The instruction
// after the store, or null (nothing done).
[[gnu::always_inline]] inline const uint16_t* known_division_summed(EngineContext* c, const uint16_t* insn,
                                                                    const LibDivision& known, const uint32_t* desc,
                                                                    const uint64_t* data, uint64_t* heap,
                                                                    const uint32_t* slots, uint32_t slot_count) {
  const int32_t dt = c->desc_top;
  if (known.opcode != insn[0] || !known.op || tn::load<uint32_t>(insn + 1) != kTwoInOneOut || insn[3] != kOpPlus ||
      insn[4] != kOpStoreLocal || dt < 3 * kDescWords)
    return nullptr;
  const uint32_t* const d = desc + dt - 3 * kDescWords;  // the sum's, then the quotient's operands
  if (!desc_is_real_scalar(d) || !desc_is_real_scalar(d + kDescWords) || !desc_is_real_scalar(d + 2 * kDescWords))
    return nullptr;
  // frame_is_restricted, with the stack base at hand.
  if (c->frame >= 0 && desc[c->frame + kFwSandbox] != 0) return nullptr;
  uint64_t* const target = real_scalar_local(heap, slots, slot_count, insn[5]);
  if (!target) return nullptr;
  c->class_id = known.class_id;
  const int32_t vt = c->data_top;
  const double upper = tn::ld_f64(data + vt - 1), lower = tn::ld_f64(data + vt - 2);
  const double q = known.op == kOpMrdivide ? lower / upper : upper / lower;
  tn::st_f64(target + kHeapValueHeaderWords, tn::ld_f64(data + vt - 3) + q);
  c->data_top = vt - 3;
  c->desc_top = dt - 3 * kDescWords;
  return insn + kLibraryCallWords + 3;  // past the sum and the store
}

// The operator at op applied to x and y, the real scalar operands of a
// fused load (see fuse_local_scalar): a comparison feeds the jump after it,
// arithmetic is stored or pushed, and with kMayCall (a constant operand:
// «f(n - 1)») handed to the call after it. Only a constant operand's forms
// test for the call: in the shared code the test cost every other form
// («s + k * k», stored or pushed) instructions, and «f(n - m)» still calls
// as usual, its argument pushed.
template <bool kMayCall>
[[gnu::always_inline]] inline const uint16_t* fused_operator(EngineContext* c, double x, double y,
                                                             const uint16_t* op, const uint32_t* slots,
                                                             uint32_t slot_count, uint32_t* desc, uint64_t* data,
                                                             uint64_t* heap, bool* condition, bool* call,
                                                             bool* truth) {
  const int32_t dt = c->desc_top, vt = c->data_top;
  // One switch for both kinds of operator: a comparison feeds the jump
  // after it, arithmetic is stored or pushed.
  double r;
  bool t;
  switch (*op) {
    case kOpPlus: r = x + y; break;
    case kOpMinus: r = x - y; break;
    case kOpTimes:
    case kOpMtimes: r = x * y; break;
    case kOpRdivide:
    case kOpMrdivide: r = x / y; break;
    case kOpEq: t = x == y; goto compared;
    case kOpNe: t = x != y; goto compared;
    case kOpLt: t = x < y; goto compared;
    case kOpGt: t = x > y; goto compared;
    case kOpLe: t = x <= y; goto compared;
    case kOpGe: t = x >= y; goto compared;
    default: return nullptr;
    compared:
      // Only a result the next instruction does not consume at once (a
      // jump) is pushed, and only that one needs the room.
      static_assert(kOpJumpIfFalse == kOpJumpIfTrue + 1);
      if (uint16_t(op[1] - kOpJumpIfTrue) > 1 &&
          (uint32_t(dt) + 3u >= c->desc_capacity || int64_t(vt) + int64_t(kLogicalWords) >= int64_t(c->data_capacity)))
        return nullptr;
      *truth = t;
      *condition = true;
      return op + 1;
  }
  // The one argument of a call: «f(n - 1)». Its value alone is written, and
  // the call takes it from there (or the loop finishes the push).
  if (kMayCall && op[1] == kOpCallUser) {
    if (!scalar_room(c, dt, vt)) return nullptr;
    tn::st_f64(data + vt, r);
    *call = true;
    return op + 1;
  }
  // Stored at once into a local that holds a real scalar: «n = n + 1».
  if (op[1] == kOpStoreLocal && store_scalar_local(heap, slots, slot_count, uint32_t(int16_t(op[2])), r))
    return op + 3;
  if (!scalar_room(c, dt, vt)) return nullptr;
  push_real_scalar(c, desc, data, dt, vt, r);
  return op + 1;
}

// «x op y» (stored at once or pushed) and «x < y» (with the jump that
// follows), where x is the real scalar local whose block the instruction at
// insn loads and y a real scalar local or small constant: one step, since no
// instruction in between can observe the operands. The next instruction;
// with *condition set, the instruction after the comparison, whose result is
// *truth (the loop acts on it); with *call set (y a constant), the call
// instruction whose one argument the result is, written as the data word at
// the stack's top and not pushed; null when nothing was done. Each path that
// pushes tests its own room: the commonest forms push nothing.
[[gnu::always_inline]] inline const uint16_t* fuse_local_scalar(EngineContext* c, const uint16_t* insn,
                                                                const uint64_t* block, const uint32_t* slots,
                                                                uint32_t slot_count, uint32_t* desc, uint64_t* data,
                                                                uint64_t* heap, bool* condition, bool* call,
                                                                bool* truth) {
  double y;
  const uint16_t* op;
  switch (insn[2]) {
    case kOpPushInt16:
      y = double(int16_t(insn[3]));
      op = insn + 4;
      break;
    case kOpPushOne:
      y = 1.0;
      op = insn + 3;
      break;
    case kOpPushZero:
      y = 0.0;
      op = insn + 3;
      break;
    case kOpLoadLocal: {
      // The operator after the second operand decides first: «s + i * j»
      // loads s, i and j in a row, and nothing is fused there.
      static_assert(kOpPlus < kOpMtimes && kOpMtimes < kOpTimes && kOpTimes < kOpRdivide && kOpRdivide < kOpEq &&
                    kOpEq < kOpGe);
      if (uint16_t(insn[4] - kOpPlus) > uint16_t(kOpGe - kOpPlus)) return nullptr;
      const uint32_t k = uint32_t(int16_t(insn[3]));
      const uint64_t* b = k < slot_count ? scalar_block(heap, slots[k]) : nullptr;
      if (!b) return nullptr;
      return fused_operator<false>(c, tn::ld_f64(block + kHeapValueHeaderWords),
                                   tn::ld_f64(b + kHeapValueHeaderWords), insn + 4, slots, slot_count, desc, data,
                                   heap, condition, call, truth);
    }
    default:
      return nullptr;
  }
  return fused_operator<true>(c, tn::ld_f64(block + kHeapValueHeaderWords), y, op, slots, slot_count, desc, data,
                              heap, condition, call, truth);
}

// «s = s + i * j»: three real scalar locals loaded in a row, two arithmetic
// operators and a store into a local that holds a real scalar, from the
// first load at insn, done in one step (the instructions' own arithmetic, in
// their order; nothing between them can fail or be seen). The instruction
// after the store, or null (nothing done).
const uint16_t* three_locals_stored(const uint16_t* insn, const uint32_t* slots, uint32_t slot_count,
                                    uint64_t* heap);
[[gnu::always_inline]] inline bool starts_three_locals(const uint16_t* insn) {
  return insn[2] == kOpLoadLocal && insn[4] == kOpLoadLocal;
}

// «a(i)», «a(i, j)» and «a(i) = x» with locals as subscripts, from the
// push_ref or push_ref_target at insn: the element is read or written at
// once, with no reference made. The next instruction, or null.
const uint16_t* local_element(EngineContext* c, const uint16_t* insn, const uint16_t* end, const uint32_t* slots,
                              uint32_t count);
// A reference to a local holding its value in its own block, written in
// place (a global's link, or an undefined target, takes the handler).
bool push_ref_fast(EngineContext* c, const uint32_t* slot, int32_t k, bool target);
// index_ref_read n 0 on a reference and n real scalars.
bool index_read_fast(EngineContext* c, int n);
// index_assign n 0 of a real scalar through a reference and n real scalars.
bool index_assign_fast(EngineContext* c, int n);

// «d = a op1 b op2 c» over double scalar locals, a complex: the loads of a
// and b, the first operator, the load of c, the second operator and the
// store into d, from the load at insn, done in one step when d holds a
// complex scalar already, each operator the complex scalar kernel as the
// separate steps take it (a real operand read with a zero imaginary part),
// in their order. Only with the room the separate steps would need. The
// instruction after the store, or null (nothing done).
const uint16_t* complex_locals_stored(EngineContext* c, const uint16_t* insn, const uint32_t* slots,
                                      uint32_t slot_count);

// «complex(x, y)» with two real double scalars on top of the stack: their
// words already lie as a complex scalar's parts, so one complex descriptor
// replaces the two, kept complex whatever y is, as the built-in leaves it.
// Only with the room the built-in needs for its result. False: nothing done.
bool complex_of_real_scalars(EngineContext* c);

// A library call (at insn) of two real scalars for one output whose row is a
// division (see LibDivision): the quotient replaces the operands at once, as
// the row leaves it, after the checks the call makes (a restricted frame
// takes the general call). «x + a / b» stored at once into a local that
// holds a real scalar («s = s + 1/(k*k)») is done in the same step, since
// nothing between can fail or be seen. The next instruction, or null
// (nothing done). Out of line: the loop's own code stays as it was.
const uint16_t* library_scalar_division(EngineContext* c, const uint16_t* insn, const uint32_t* slots,
                                        uint32_t slot_count, LibDivision* known);

// The quick forms of loading an array (see load_array), taken for values of
// at least this many data words.
constexpr uint32_t kLargeValueWords = 8;
enum class ArrayLoad { kNone, kStored, kReferenced, kReturned };
// An array loaded by the instruction at insn (slot: its local, or null) and
// stored or returned at once goes from block to block (or its block moves
// when the slot dies) instead of through the stack; passed straight to a
// user function, it travels as a reference. kReturned: the frame was popped
// and the position is the caller's. slot holds block, or lends it (a lent
// argument's link: block is then the caller's, which the quick forms only read).
ArrayLoad load_array(EngineContext* c, const uint16_t* insn, const uint8_t* base, int64_t area_bytes,
                     const uint32_t* slot, int32_t block);
// The caller's block when `block` is a lent argument's link and that value
// is large enough for load_array, else 0. Out of line: the loads of small
// values, which take the handler, meet it, the quick loads do not.
int32_t large_lent_block(EngineContext* c, int32_t block);

}  // namespace interp_fast
