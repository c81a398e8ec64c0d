// Code simplification and the peephole pass. The simplifier folds constants
// in one expression's code and compacts it until it meets a jump; from there
// on it only rewrites in place (freed words become nop) so that jump offsets
// stay valid, and it never folds across a jump target. The peephole pass
// threads jumps and removes empty loops over constant ranges; it never moves
// code. Both repeat whole passes until one changes nothing.
#include <cmath>
#include <cstring>

#include "engine/core/compiler.h"
#include "engine/core/opcodes.h"
#include "engine/core/range.h"

namespace {

constexpr int kAlignWords = 4;      // an 8-byte literal's operand starts on an 8-byte boundary
constexpr int kMaxTargets = 256;    // jump targets tracked in one expression
constexpr int16_t kSelfJump = -2;   // a jump to itself
constexpr int kHistory = 8;         // instruction starts the peephole pass remembers

int64_t length_at(const uint16_t* code, int64_t q) {
  return code[q] >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(code + q);
}

bool is_double_literal(uint16_t op) { return op >= kOpPushDouble && op <= kOpPushImagSingle; }

bool is_expression_jump(uint16_t op) {
  return op == kOpJump || op == kOpJumpIfFalse || op == kOpJumpIfTrue || op == kOpAndThen || op == kOpOrElse;
}

double double_at(const uint16_t* p) {
  uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) bits |= uint64_t(p[k]) << (16 * k);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

void put_double(uint16_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int k = 0; k < 4; ++k) p[k] = uint16_t(bits >> (16 * k));
}

// The small typed constant an integer cast of a constant becomes, 0 for none.
uint16_t typed_opcode_for_cast(uint16_t cast) {
  switch (cast) {
    case kOpInt8: return kOpPushSmallInt8;
    case kOpInt16: return kOpPushSmallInt16;
    case kOpInt32: return kOpPushSmallInt32;
    case kOpUint8: return kOpPushSmallUint8;
    case kOpUint16: return kOpPushSmallUint16;
    case kOpUint32: return kOpPushSmallUint32;
    case kOpInt64: return kOpPushSmallInt64;
    case kOpUint64: return kOpPushSmallUint64;
    default: return 0;
  }
}

// A rewrite: the words that replace `consumed` words of code.
struct Rewrite {
  uint16_t words[5];
  int length = 0;
  int64_t consumed = 0;
  void set1(uint16_t a) {
    words[0] = a;
    length = 1;
  }
  void set2(uint16_t a, uint16_t b) {
    words[0] = a;
    words[1] = b;
    length = 2;
  }
  void set_double(uint16_t op, double d) {
    words[0] = op;
    put_double(words + 1, d);
    length = 5;
  }
};

// The pattern at r, if any; `blocked(q)` tells whether q is a jump target.
template <typename Blocked>
bool match(const uint16_t* code, int64_t r, int64_t end, bool compacting, Blocked blocked, Rewrite* out) {
  const uint16_t a = code[r];
  const int64_t la = length_at(code, r);
  const int64_t rb = r + la;
  if (rb >= end || blocked(rb)) return false;
  const uint16_t b = code[rb];
  const int64_t lb = length_at(code, rb);
  out->consumed = la + lb;
  if ((a == kOpUminus && b == kOpUminus) || (a == kOpUplus && b == kOpUplus)) {
    out->set1(kOpUplus);
    return true;
  }
  if ((a == kOpUminus && b == kOpUplus) || (a == kOpUplus && b == kOpUminus)) {
    out->set1(kOpUminus);
    return true;
  }
  if (a == kOpPushOne && b == kOpUminus) {
    out->set2(kOpPushInt16, uint16_t(-1));
    return true;
  }
  if ((a == kOpPushZero || a == kOpPushOne) && typed_opcode_for_cast(b)) {
    out->set2(typed_opcode_for_cast(b), a == kOpPushOne ? 1 : 0);
    return true;
  }
  if (a == kOpPushInt16) {
    const int32_t k = int16_t(code[r + 1]);
    if (const uint16_t typed = typed_opcode_for_cast(b)) {
      int32_t v = k;
      if (b == kOpInt8) v = int8_t(k);
      if (b == kOpUint8) v = k & 0xFF;
      out->set2(typed, uint16_t(v));
      return true;
    }
    if (k == -1 && b == kOpSqrt) {
      out->set1(kOpI);
      return true;
    }
    if (b == kOpUplus || b == kOpDouble) {
      out->set2(kOpPushInt16, uint16_t(k));
      return true;
    }
    if ((b == kOpUminus || b == kOpAbs) && k != INT16_MIN) {
      out->set2(kOpPushInt16, uint16_t(b == kOpUminus || k < 0 ? -k : k));
      return true;
    }
    if (b == kOpSign) {
      out->set2(kOpPushInt16, uint16_t(k > 0 ? 1 : k < 0 ? -1 : 0));
      return true;
    }
    if (b == kOpI) {
      const int64_t rc = rb + lb;
      if (rc < end && !blocked(rc) && code[rc] == kOpMtimes) {
        out->consumed += 1;
        out->set2(kOpPushImagInt16, uint16_t(k));
        return true;
      }
    }
    return false;
  }
  if (a == kOpI && b == kOpPushInt16) {
    const int64_t rc = rb + lb;
    if (rc < end && !blocked(rc) && code[rc] == kOpMtimes) {
      out->consumed += 1;
      out->set2(kOpPushImagInt16, code[rb + 1]);
      return true;
    }
    return false;
  }
  if (a == kOpPushImagInt16 && b == kOpUminus && int16_t(code[r + 1]) != INT16_MIN) {
    out->set2(kOpPushImagInt16, uint16_t(-int16_t(code[r + 1])));
    return true;
  }
  if (a == kOpPushDouble) {
    const double d = double_at(code + r + 1);
    switch (b) {
      case kOpUminus: out->set_double(kOpPushDouble, -d); return true;
      case kOpConj:
      case kOpReal: out->set_double(kOpPushDouble, d); return true;
      case kOpImag: out->set1(kOpPushZero); return true;
      case kOpSign:
        // The sign of NaN is NaN: the constant itself.
        if (std::isnan(d)) out->set_double(kOpPushDouble, d);
        else if (d > 0) out->set1(kOpPushOne);
        else if (d == 0) out->set1(kOpPushZero);
        else out->set2(kOpPushInt16, uint16_t(-1));
        return true;
      case kOpAbs: out->set_double(kOpPushDouble, std::fabs(d)); return true;
      case kOpExp: out->set_double(kOpPushDouble, std::exp(d)); return true;
      case kOpSin: out->set_double(kOpPushDouble, std::sin(d)); return true;
      case kOpCos: out->set_double(kOpPushDouble, std::cos(d)); return true;
      case kOpTan: out->set_double(kOpPushDouble, std::tan(d)); return true;
      case kOpAtan: out->set_double(kOpPushDouble, std::atan(d)); return true;
      default: return false;
    }
  }
  if (compacting && a == kOpPushImagDouble && b == kOpUminus) {
    out->set_double(kOpPushImagDouble, -double_at(code + r + 1));
    return true;
  }
  return false;
}

}  // namespace

void code_simplify_expression(uint16_t* code, int64_t start, int64_t* end) {
  for (;;) {
    // Jump targets at the start of the pass: positions no fold may swallow.
    int64_t targets[kMaxTargets];
    int ntargets = 0;
    bool too_many = false;
    for (int64_t q = start; q < *end; q += length_at(code, q)) {
      if (!is_expression_jump(code[q])) continue;
      if (ntargets == kMaxTargets) {
        too_many = true;
        break;
      }
      targets[ntargets++] = q + 2 + int16_t(code[q + 1]);
    }
    auto blocked = [&](int64_t q) {
      if (too_many) return true;
      for (int i = 0; i < ntargets; ++i)
        if (targets[i] == q) return true;
      return false;
    };

    bool changed = false;
    bool keep = false;  // positions are kept from the first jump on
    int64_t r = start, w = start;
    const int64_t e = *end;
    while (r < e) {
      const uint16_t op = code[r];
      if (!keep && op == kOpNop) {
        ++r;
        continue;
      }
      if (!keep && is_expression_jump(op)) {
        keep = true;
        while ((r - w) % kAlignWords != 0) code[w++] = kOpNop;
      }
      Rewrite rw;
      if (match(code, r, e, !keep, blocked, &rw)) {
        if (!keep && is_double_literal(rw.words[0]))
          while ((w + 1) % kAlignWords != 0) code[w++] = kOpNop;
        std::memmove(code + w, rw.words, size_t(rw.length) * 2);
        if (keep) {
          for (int64_t k = rw.length; k < rw.consumed; ++k) code[w + k] = kOpNop;
          w += rw.consumed;
        } else {
          w += rw.length;
        }
        r += rw.consumed;
        changed = true;
        continue;
      }
      const int64_t len = length_at(code, r);
      if (!keep && is_double_literal(op))
        while ((w + 1) % kAlignWords != 0) code[w++] = kOpNop;
      std::memmove(code + w, code + r, size_t(len) * 2);
      w += len;
      r += len;
    }
    if (w != *end) changed = true;
    *end = w;
    if (!changed) return;
  }
}

namespace {

bool constant_value(const uint16_t* code, int64_t q, double* v) {
  switch (code[q]) {
    case kOpPushZero: *v = 0; return true;
    case kOpPushOne: *v = 1; return true;
    case kOpPushInt16: *v = int16_t(code[q + 1]); return true;
    case kOpPushDouble: *v = double_at(code + q + 1); return true;
    default: return false;
  }
}

// A jump to the position instruction at t may land after it when what
// follows records another line or leaves at once: nop, a position, jump, skip.
bool position_passable(const uint16_t* code, int64_t length, int64_t t) {
  const int64_t after = t + length_at(code, t);
  if (after >= length) return false;
  const uint16_t op = code[after];
  return op == kOpNop || is_position_op(op) || op == kOpJump || op == kOpSkip;
}

// An empty loop over a constant, non-empty range at q (a for_range_next):
// it becomes range_final, store_local and a jump past the loop's pop_item.
bool fold_empty_loop(uint16_t* code, int64_t length, int64_t q, const int64_t* history, int nhistory) {
  const int64_t exit = q + 2 + int16_t(code[q + 1]);
  if (exit <= q || exit >= length || code[exit] != kOpPopItem) return false;
  if (q + 4 > exit || code[q + 2] != kOpStoreLocal) return false;
  const uint16_t slot = code[q + 3];
  int64_t b = q + 4;
  while (b < exit && (code[b] == kOpNop || is_position_op(code[b]))) b += length_at(code, b);
  if (b != exit - 2 || code[b] != kOpJump || b + 2 + int16_t(code[b + 1]) != q) return false;

  // The range: range_pack {n} fed by n constants, padding aside.
  int h = nhistory - 1;
  auto previous = [&]() {
    while (h >= 0 && code[history[h]] == kOpNop) --h;
    return h >= 0 ? history[h--] : int64_t(-1);
  };
  const int64_t pack = previous();
  if (pack < 0 || code[pack] != kOpRangePack) return false;
  const int n = code[pack + 1];
  if (n != 2 && n != 3) return false;
  double v[3];
  for (int k = n - 1; k >= 0; --k) {
    const int64_t at = previous();
    if (at < 0 || !constant_value(code, at, &v[k])) return false;
  }
  const double first = v[0], step = n == 3 ? v[1] : 1, last = v[n - 1];
  const bool nonempty = (step > 0 && first <= last) || (step < 0 && first >= last);
  if (!nonempty) return false;
  // The final value is found by running the sum: a loop too long for the
  // colon operator stays a loop, which can be interrupted.
  int64_t count = 0;
  if (range_real_count(first, step, last, &count) != kOk) return false;

  code[q] = kOpRangeFinal;
  code[q + 1] = kOpStoreLocal;
  code[q + 2] = slot;
  code[q + 3] = kOpJump;
  code[q + 4] = uint16_t(int16_t((exit + 1) - (q + 5)));
  for (int64_t k = q + 5; k < exit; ++k) code[k] = kOpNop;
  return true;
}

}  // namespace

void code_peephole_optimise(uint16_t* code, int64_t length, bool fold_loops) {
  for (;;) {
    bool changed = false;
    int64_t history[kHistory];
    int nhistory = 0;
    for (int64_t q = 0; q < length;) {
      const uint16_t op = code[q];
      const int64_t len = length_at(code, q);
      if (q + len > length) break;
      const bool retargetable = op == kOpJump || op == kOpJumpIfTrue || op == kOpJumpIfFalse || op == kOpCaseTest ||
                                op == kOpForNext || op == kOpForRangeNext;
      if (retargetable) {
        const int16_t off = int16_t(code[q + 1]);
        const int64_t t = q + 2 + off;
        int64_t next = -1;
        if (t >= 0 && t < length && off != kSelfJump) {
          const uint16_t target = code[t];
          if (target == kOpJump && t + 1 < length && int16_t(code[t + 1]) != kSelfJump) {
            next = t + 2 + int16_t(code[t + 1]);
          } else if (target == kOpNop) {
            next = t + 1;
          } else if (target == kOpSkip) {
            next = t + 2;
          } else if (is_position_op(target) && position_passable(code, length, t)) {
            next = t + length_at(code, t);
          } else if (op == kOpJump && target == kOpRetFunction) {
            code[q] = kOpRetFunction;
            code[q + 1] = kOpNop;
            changed = true;
          } else if (fold_loops && op == kOpForRangeNext &&
                     fold_empty_loop(code, length, q, history, nhistory)) {
            changed = true;
          }
        }
        if (next >= 0 && next != t) {
          const int64_t offset = next - (q + 2);
          if (offset >= INT16_MIN && offset <= INT16_MAX) {
            code[q + 1] = uint16_t(int16_t(offset));
            changed = true;
          }
        }
      }
      if (nhistory == kHistory) {
        std::memmove(history, history + 1, sizeof(int64_t) * (kHistory - 1));
        --nhistory;
      }
      history[nhistory++] = q;
      q += length_at(code, q);
    }
    if (!changed) return;
  }
}

bool code_is_bool_constant(const uint16_t* code, int64_t length, bool which) {
  if (length == 1) return code[0] == (which ? kOpPushOne : kOpPushZero);
  return length == 2 && code[0] == (which ? kOpTrue : kOpFalse) && code[1] == 0;
}

bool code_reads_by_index(const uint16_t* code, int64_t length) {
  for (int64_t q = 0; q < length; q += length_at(code, q))
    if (code[q] == kOpIndexRead || code[q] == kOpIndexRefRead) return true;
  return false;
}

bool code_all_flagged(const uint16_t* code, int64_t length) {
  for (int64_t q = 0; q < length; q += length_at(code, q)) {
    const OpcodeInfo* info = opcode_info(code[q]);
    if (!info || !(info->flags & kOpPure)) return false;
  }
  return true;
}
