// The interpreter's fast paths kept out of line: element reads and writes of
// a local's real matrix, references to locals pushed in place, and arrays
// stored, returned or passed without a copy. Each returns "not taken" with
// nothing changed whenever its operands are anything else.
#include "engine/core/interp_fast.h"

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/lib_calls.h"
#include "engine/core/local_queries.h"
#include "engine/core/stack_ops.h"

namespace interp_fast {

namespace {

// True when slot k of the running function is never read again after the
// instructions from `code` on: they are the function's return sequence (the
// output count tests and the loads of outputs other than k), the frame
// returns at its end, and no try block of the frame could resume its code.
// Slot 0 is read by the return of a statement call, so it never dies here.
bool local_dies_at_return(EngineContext* c, const uint16_t* code, const uint16_t* end, int32_t k) {
  if (k <= 0 || c->frame < 0) return false;
  const uint32_t* w = frame_words(c, c->frame);
  if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame || int32_t(w[kFwLocals]) <= k || w[kFwFrameNames] != 0 ||
      w[kFwCatchKind] != 0)
    return false;
  constexpr int kLongestReturn = 64;
  const uint16_t* reach = code;  // the farthest jump target seen
  for (int i = 0; i < kLongestReturn && code + 2 <= end; ++i) {
    switch (code[0]) {
      case kOpRetFunction:
        return reach <= code;
      case kOpNargout:
      case kOpPushInt16:
        code += 2;
        break;
      case kOpGt:
        code += 1;
        break;
      case kOpJumpIfFalse: {
        const int16_t off = int16_t(code[1]);
        if (off < 0) return false;
        code += 2;
        if (code + off > reach) reach = code + off;
        break;
      }
      case kOpLoadLocal:
        if (int16_t(code[1]) == k) return false;
        code += 2;
        break;
      default:
        return false;
    }
  }
  return false;
}

// The real double matrix a reference item designates (its data at w), or null.
inline uint64_t* ref_real_matrix(EngineContext* c, const uint64_t* w) {
  const auto* r = reinterpret_cast<const uint32_t*>(w);
  const int64_t at = int64_t(int32_t(r[kRefBlock])) + int32_t(r[kRefOffset]);
  if (!heap_index_ok(c, at)) return nullptr;
  if (r[kRefOffset] != 0) entry_gap_close_in(c, int32_t(r[kRefBlock]));  // as ref_element does
  uint64_t* e = heap_words(c) + at;
  return tn::ld_u32(e) == kKindReal ? e : nullptr;
}

// The block of a lent argument's own copy, made for a write (the slot then
// holds it); 0 for a slot that is no lent argument or without heap room.
int32_t lent_copy(EngineContext* c, const uint32_t* slot) {
  SlotTarget t;
  slot_locate_word(c, int32_t(slot - desc_words(c)), &t);
  return slot_borrowed(t) && slot_detach(c, &t) == kOk ? t.block : 0;
}

// Pushes a reference to a local whose value lies in its own block (slot_word
// is the slot's descriptor-stack index); the caller has tested for room.
inline void push_local_ref(EngineContext* c, uint32_t slot_word, uint32_t block, int32_t k, bool assign) {
  uint64_t* p = stk_claim(c, kKindReference, kRefDataWords, 0, kRefDataWords);
  p[0] = (assign ? 1u : 0u) | uint64_t(kRefTagValue) << 32;
  p[1] = slot_word | uint64_t(block) << 32;
  p[2] = 0;  // the whole value, not created
  p[3] = uint32_t(k);
}

// True when the value loaded by the instruction before `code` is an argument
// of a call of a user function that follows at once, with nothing but the
// pushes of the other arguments in between: no instruction can then see the
// value, and the callee takes its copy straight from the variable.
bool feeds_user_call(const uint16_t* code, const uint16_t* end) {
  constexpr int kMostPushes = 8;
  for (int pushed = 0; pushed <= kMostPushes; ++pushed) {
    if (code + 4 > end) return false;
    switch (code[0]) {
      case kOpCallUser:
        return pushed < int16_t(code[2]);
      case kOpLoadLocal:
      case kOpPushInt16:
        code += 2;
        break;
      case kOpPushZero:
      case kOpPushOne:
        code += 1;
        break;
      default:
        return false;
    }
  }
  return false;
}

// --- Elements of a local's real double matrix --------------------------------------
// Read or assigned by one or two real scalar subscripts in the variable's
// block; any other operand, and every error, takes the handler.

// «a(i)», «a(i, j)» and «a(i) = x» with locals as subscripts, from the
// push_ref or push_ref_target at insn: the element is read or written at
// once, with no reference made. The next instruction, or null.
}  // namespace

[[gnu::noinline]] const uint16_t* local_element(EngineContext* c, const uint16_t* insn, const uint16_t* end,
                                                const uint32_t* slots, uint32_t count) {
  const uint64_t* heap = heap_words(c);
  const int64_t size = c->heap_size;
  // The block of a local, or null.
  auto block = [&](uint32_t k) -> uint64_t* {
    const int64_t b = k < count ? int32_t(slots[k]) : -1;
    return b >= 1 && b + kElemHeaderWords <= size ? const_cast<uint64_t*>(heap) + b : nullptr;
  };
  auto scalar = [&](uint16_t word, uint64_t* out) {
    const uint64_t* b = block(uint32_t(int16_t(word)));
    if (!b || b[0] != kScalarHead || b[1] != kScalarTail) return false;
    *out = b[kHeapValueHeaderWords];
    return true;
  };
  const bool target = insn[0] == kOpPushRefTarget;
  uint64_t* e = block(uint32_t(int16_t(insn[1])));
  if (e && (tn::ld_u32(e) & kKindReference)) {
    // A lent argument: read in the caller's block, or given a copy of its own to write.
    const int32_t lender = target ? lent_copy(c, slots + int16_t(insn[1])) : link_lender(c, int32_t(e - heap));
    e = lender ? const_cast<uint64_t*>(heap) + lender : nullptr;
  }
  uint64_t subs[2];
  if (!e || tn::ld_u32(e) != kKindReal || insn + 7 > end || !scalar(insn[3], subs)) return nullptr;
  int n = 1;
  const uint16_t* op = insn + 4;
  if (op[0] == kOpLoadLocal) {
    if (insn + 9 > end || !scalar(op[1], subs + 1)) return nullptr;
    n = 2;
    op += 2;
  }
  int64_t off;
  if (op[0] != (target ? kOpIndexAssign : kOpIndexRefRead) || op[1] != n || op[2] != 0 ||
      !scalar_element(reinterpret_cast<const uint32_t*>(e), subs, n, &off))
    return nullptr;
  if (!target) {
    if (!desc_room(c) || c->data_top + 1 >= int64_t(c->data_capacity)) return nullptr;
    *stk_claim(c, kKindReal, 1, 1, 1) = e[kElemHeaderWords + off];
    return op + 3;
  }
  const uint32_t* top = desc_words(c) + c->desc_top - 3;
  if (c->desc_top < 3 || top[0] != kKindReal || top[1] != 1 || top[2] != 1) return nullptr;
  e[kElemHeaderWords + off] = data_words(c)[c->data_top - 1];
  c->data_top -= 1;
  c->desc_top -= 3;
  return op + 3;
}

// A reference to a local holding its value in its own block, written in
// place, or read from the caller's block for a lent argument (a global's
// link, an undefined target, or a write to a lent argument takes the
// handler).
[[gnu::noinline]] bool push_ref_fast(EngineContext* c, const uint32_t* slot, int32_t k, bool target) {
  if (!heap_index_ok(c, int32_t(*slot)) || !desc_room(c) ||
      c->data_top + int64_t(kRefDataWords) >= int64_t(c->data_capacity))
    return false;
  uint32_t block = *slot;
  if (heap_words(c)[block] & kKindReference) {
    block = uint32_t(target ? lent_copy(c, slot) : link_lender(c, int32_t(block)));
    if (!block) return false;
  }
  // Only an assignment's reference looks across a gap; a reading one sees
  // the block closed (whatever reads through it need not know of gaps).
  if (!target) entry_gap_close_in(c, int32_t(block));
  push_local_ref(c, uint32_t(slot - desc_words(c)), block, k, target);
  return true;
}


// index_ref_read n 0 on a reference and n real scalars.
[[gnu::noinline]] bool index_read_fast(EngineContext* c, int n) {
  if ((n != 1 && n != 2) || c->desc_top < 3 * (n + 1)) return false;
  uint32_t* d = desc_words(c) + c->desc_top - 3 * (n + 1);
  uint64_t* data = data_words(c);
  uint64_t* subs = data + c->data_top - n;
  if (d[0] != kKindReference || d[1] != kRefDataWords || !desc_is_real_scalar(d + 3) || (n == 2 && !desc_is_real_scalar(d + 6)))
    return false;
  uint64_t* e = ref_real_matrix(c, subs - kRefDataWords);
  int64_t off;
  if (!e || !scalar_element(reinterpret_cast<const uint32_t*>(e), subs, n, &off)) return false;
  const uint64_t v = e[kElemHeaderWords + off];
  d[0] = kKindReal;
  d[1] = 1;
  d[2] = 1;
  c->desc_top -= 3 * n;
  c->data_top -= n + kRefDataWords - 1;
  data[c->data_top - 1] = v;
  return true;
}

// index_assign n 0 of a real scalar through a reference and n real scalars.
[[gnu::noinline]] bool index_assign_fast(EngineContext* c, int n) {
  if ((n != 1 && n != 2) || c->desc_top < 3 * (n + 2)) return false;
  const uint32_t* d = desc_words(c) + c->desc_top - 3 * (n + 2);
  uint64_t* subs = data_words(c) + c->data_top - n;
  if (!desc_is_real_scalar(d) || d[3] != kKindReference || d[4] != kRefDataWords || !desc_is_real_scalar(d + 6) ||
      (n == 2 && !desc_is_real_scalar(d + 9)))
    return false;
  uint64_t* e = ref_real_matrix(c, subs - kRefDataWords);
  int64_t off;
  if (!e || !scalar_element(reinterpret_cast<const uint32_t*>(e), subs, n, &off)) return false;
  e[kElemHeaderWords + off] = subs[-int(kRefDataWords) - 1];
  c->desc_top -= 3 * (n + 2);
  c->data_top -= n + kRefDataWords + 1;
  return true;
}

[[gnu::noinline]] int32_t large_lent_block(EngineContext* c, int32_t block) {
  const int32_t lender = block_is_link(c, block) ? link_lender(c, block) : 0;
  return lender && desc_data_words(block_words32(c, lender)) >= kLargeValueWords ? lender : 0;
}

// An array loaded by the instruction at insn (slot: its local, or null) and
// stored or returned at once goes from block to block (or its block moves
// when the slot dies) instead of through the stack; passed straight to a
// user function, it travels as a reference. kReturned: the frame was popped
// and the position is the caller's. slot holds a block.
[[gnu::noinline]] ArrayLoad load_array(EngineContext* c, const uint16_t* insn, const uint8_t* base,
                                       int64_t area_bytes, const uint32_t* slot, int32_t block) {
  const uint16_t* end = reinterpret_cast<const uint16_t*>(base + area_bytes);
  const int32_t k = int16_t(insn[1]);
  if (insn + 4 <= end && insn[2] == kOpStoreLocal)
    return var_try_copy_local(c, k, int16_t(insn[3]), local_dies_at_return(c, insn + 4, end, k)) ? ArrayLoad::kStored
                                                                                                 : ArrayLoad::kNone;
  if (insn + 3 <= end && insn[2] == kOpRetFunction) {
    c->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(insn + 3) - base);
    return var_try_return_local(c, k) ? ArrayLoad::kReturned : ArrayLoad::kNone;
  }
  if (local_read_in_place(c, insn, end, block, base)) return ArrayLoad::kReturned;  // position set
  if (!desc_room(c) || c->data_top + int64_t(kRefDataWords) >= int64_t(c->data_capacity)) return ArrayLoad::kNone;
  const uint32_t* h = block_words32(c, block);
  const bool array = h[0] <= kKindComplex || (h[0] == kKindPayload && h[2] >= kPayNumeric && h[2] <= kPayLogical);
  if (!array || !feeds_user_call(insn + 2, end)) return ArrayLoad::kNone;
  push_local_ref(c, uint32_t(slot - desc_words(c)), uint32_t(block), k, false);
  return ArrayLoad::kReferenced;
}

namespace {

// The block of local k when it holds a real scalar in its own block, else 0.
[[gnu::always_inline]] inline uint32_t real_scalar_block(const uint32_t* slots, uint32_t count, const uint64_t* heap,
                                                         uint16_t k) {
  const uint32_t slot = uint32_t(int16_t(k));
  const uint32_t b = slot < count ? slots[slot] : 0;
  if (b == uint32_t(-1) || b == 0 || heap[b] != kScalarHead || heap[b + 1] != kScalarTail) return 0;
  return b;
}

// The arithmetic operators three_locals_stored takes, as bits above kOpPlus:
// plus, minus, mtimes, mrdivide, times, rdivide (mldivide lies between).
static_assert(kOpMinus == kOpPlus + 1 && kOpMtimes == kOpPlus + 2 && kOpMrdivide == kOpPlus + 3 &&
              kOpTimes == kOpPlus + 5 && kOpRdivide == kOpPlus + 6);
constexpr uint32_t kArithBits = 0b1101111;
[[gnu::always_inline]] inline bool is_arith(uint16_t op) {
  const uint32_t i = uint16_t(op - kOpPlus);
  return i < 7 && (kArithBits >> i & 1) != 0;
}

}  // namespace

const uint16_t* three_locals_stored(const uint16_t* insn, const uint32_t* slots, uint32_t slot_count,
                                    uint64_t* heap) {
  // Each word is read only once the one before it has shown it is there.
  if (!is_arith(insn[6]) || !is_arith(insn[7]) || insn[8] != kOpStoreLocal) return nullptr;
  const uint32_t ba = real_scalar_block(slots, slot_count, heap, insn[1]);
  if (!ba) return nullptr;
  const uint32_t bb = real_scalar_block(slots, slot_count, heap, insn[3]);
  if (!bb) return nullptr;
  const uint32_t bc = real_scalar_block(slots, slot_count, heap, insn[5]);
  if (!bc) return nullptr;
  const double a = tn::ld_f64(heap + ba + kHeapValueHeaderWords);
  const double b = tn::ld_f64(heap + bb + kHeapValueHeaderWords);
  const double c = tn::ld_f64(heap + bc + kHeapValueHeaderWords);
  double r = 0;
  // «s = s + x * y», the accumulation of products, without the two
  // operator switches; the same two roundings in the same order.
  if ((insn[6] == kOpTimes || insn[6] == kOpMtimes) && insn[7] == kOpPlus) {
    r = a + b * c;
  } else {
    arith_scalars(insn[6], b, c, &r);
    arith_scalars(insn[7], a, r, &r);
  }
  // The target is most often the first operand, whose block was just tested.
  const uint32_t bs = insn[9] == insn[1] ? ba : real_scalar_block(slots, slot_count, heap, insn[9]);
  if (!bs) return nullptr;
  tn::st_f64(heap + bs + kHeapValueHeaderWords, r);
  return insn + 10;
}

[[gnu::noinline]] void learn_library_division(EngineContext* c, uint16_t opcode, LibDivision* known) {
  *known = LibDivision{opcode, 0, 0};
  LibRow r{};
  if (lib_row_lookup(c, int32_t(opcode) - int32_t(kFirstLibraryOpcode), &r) != kOk) return;
  // What lib_row_admit refuses or looks further into goes the general way.
  const char mark = r.row->name[0];
  if (r.row->class_word > 0 || mark == '@' || mark == '!' || mark == '+') return;
  known->op = lib_scalar_operator(r.row->fn);
  known->class_id = builtin_class_id(r.table, r.row->class_word);
}

[[gnu::noinline]] const uint16_t* library_scalar_division(EngineContext* c, const uint16_t* insn,
                                                          const uint32_t* slots, uint32_t slot_count,
                                                          LibDivision* known) {
  const int32_t dt = c->desc_top;
  const uint32_t* desc = desc_words(c);
  if (insn[1] != 2 || insn[2] != 1 || dt < 2 * kDescWords || !desc_is_real_scalar(desc + dt - 2 * kDescWords) ||
      !desc_is_real_scalar(desc + dt - kDescWords))
    return nullptr;
  if (known->opcode != insn[0]) learn_library_division(c, insn[0], known);
  // frame_is_restricted, with the stack base at hand.
  if (!known->op || (c->frame >= 0 && desc[c->frame + kFwSandbox] != 0)) return nullptr;
  c->class_id = known->class_id;
  uint64_t* top = data_words(c) + c->data_top;
  const double upper = tn::ld_f64(top - 1), lower = tn::ld_f64(top - 2);
  const double q = known->op == kOpMrdivide ? lower / upper : upper / lower;
  const uint16_t* next = insn + kLibraryCallWords;
  const uint16_t op = next[0];
  if (is_arith(op) && next[1] == kOpStoreLocal && dt >= 3 * kDescWords &&
      desc_is_real_scalar(desc + dt - 3 * kDescWords)) {
    const double a = tn::ld_f64(top - 3);
    // The operators of arith_scalars, the sum first: «s = s + 1/k».
    const double r = op == kOpPlus                      ? a + q
                     : op == kOpMinus                   ? a - q
                     : op == kOpTimes || op == kOpMtimes ? a * q
                                                         : a / q;
    if (store_scalar_local(heap_words(c), slots, slot_count, uint32_t(int16_t(next[2])), r)) {
      c->data_top -= 3;
      c->desc_top = dt - 3 * kDescWords;
      return next + 3;
    }
  }
  tn::st_f64(top - 2, q);
  c->data_top -= 1;
  c->desc_top = dt - kDescWords;
  return next;
}

[[gnu::noinline]] bool complex_of_real_scalars(EngineContext* c) {
  const int32_t dt = c->desc_top;
  uint32_t* desc = desc_words(c);
  // The built-in pushes its result before it drops the operands.
  if (dt < 2 * kDescWords || !desc_room(c) || int64_t(c->data_top) + 2 >= int64_t(c->data_capacity) ||
      !desc_is_real_scalar(desc + dt - 2 * kDescWords) || !desc_is_real_scalar(desc + dt - kDescWords))
    return false;
  uint32_t* d = desc + dt - 2 * kDescWords;
  d[0] = kKindComplex;
  d[1] = 1;
  d[2] = 1;
  c->desc_top = dt - kDescWords;
  return true;
}

namespace {

// The complex scalar kernel of an engine arithmetic operator; false for any
// other opcode.
bool complex_kernel(uint16_t op, cplx::ScalarOp* kernel) {
  switch (op) {
    case kOpPlus: *kernel = cplx::ScalarOp::kAdd; return true;
    case kOpMinus: *kernel = cplx::ScalarOp::kSub; return true;
    case kOpTimes: *kernel = cplx::ScalarOp::kMul; return true;
    case kOpMtimes: *kernel = cplx::ScalarOp::kMtimes; return true;
    case kOpRdivide: *kernel = cplx::ScalarOp::kDiv; return true;
    case kOpMrdivide: *kernel = cplx::ScalarOp::kMrdivide; return true;
    default: return false;
  }
}

// The block of local k when it holds a double scalar, real or complex: its
// parts (a real one's imaginary part read as 0) and whether it is complex.
// 0 for anything else.
uint32_t double_scalar_local(const uint32_t* slots, uint32_t count, const uint64_t* heap, uint16_t word, double* re,
                             double* im, bool* complex) {
  const uint32_t k = uint32_t(int16_t(word));
  const uint32_t b = k < count ? slots[k] : 0;
  if (b == uint32_t(-1) || b == 0 || heap[b + 1] != kScalarTail) return 0;
  const uint64_t head = heap[b];
  if (head != kScalarHead && head != kComplexHead) return 0;
  *complex = head == kComplexHead;
  *re = tn::ld_f64(heap + b + kHeapValueHeaderWords);
  *im = *complex ? tn::ld_f64(heap + b + kHeapValueHeaderWords + 1) : 0.0;
  return b;
}

}  // namespace

[[gnu::noinline]] const uint16_t* complex_locals_stored(EngineContext* c, const uint16_t* insn, const uint32_t* slots,
                                                        uint32_t slot_count) {
  // load a, load b, op1, load c, op2, store d
  cplx::ScalarOp first, second;
  if (insn[2] != kOpLoadLocal || insn[5] != kOpLoadLocal || insn[8] != kOpStoreLocal ||
      !complex_kernel(insn[4], &first) || !complex_kernel(insn[7], &second))
    return nullptr;
  // The separate steps push two complex scalars and then one more, with
  // the operators' own room tests between.
  if (int64_t(c->desc_top) + 3 * kDescWords >= int64_t(c->desc_capacity) ||
      int64_t(c->data_top) + 6 >= int64_t(c->data_capacity))
    return nullptr;
  uint64_t* heap = heap_words(c);
  double ar, ai, br, bi, cr, ci;
  bool ac, bc, cc;
  if (!double_scalar_local(slots, slot_count, heap, insn[1], &ar, &ai, &ac) || !ac ||
      !double_scalar_local(slots, slot_count, heap, insn[3], &br, &bi, &bc) ||
      !double_scalar_local(slots, slot_count, heap, insn[6], &cr, &ci, &cc))
    return nullptr;
  const uint32_t k = uint32_t(int16_t(insn[9]));
  const uint32_t d = k < slot_count ? slots[k] : 0;
  if (d == uint32_t(-1) || d == 0 || heap[d] != kComplexHead || heap[d + 1] != kScalarTail) return nullptr;
  double re = 0, im = 0;
  cplx::scalar_binary(first, ar, ai, true, br, bi, bc, &re, &im);
  double re2 = 0, im2 = 0;
  cplx::scalar_binary(second, re, im, true, cr, ci, cc, &re2, &im2);
  tn::st_f64(heap + d + kHeapValueHeaderWords, re2);
  tn::st_f64(heap + d + kHeapValueHeaderWords + 1, im2);
  return insn + 10;
}

}  // namespace interp_fast
