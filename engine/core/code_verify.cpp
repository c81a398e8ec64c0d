// Verifier of compiled code read from an image. Instruction lengths come
// from the opcode table, the meaning of each operand word from the operand
// table below (one row per opcode whose words name something; intrinsics
// take theirs from their argument-count words): nothing is checked by hand
// per opcode. A function's code must end in an instruction that does not
// fall through, with at most the alignment padding of its block behind it.
#include "engine/core/code_verify.h"

#include <array>

#include "engine/core/builtin_call_check.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/opcodes.h"

namespace {

// What an operand word holds, and so which values are sound.
enum Operand : uint8_t {
  kAny,       // a constant: every value is sound
  kCount,     // an item count or stack depth: not negative
  kResults,   // a requested result count: -1 (a statement) or more
  kFlag,      // 0 or 1
  kSlot,      // a local slot of the function
  kJump,      // a jump: lands on an instruction of the function
  kHandler,   // a try handler: 0, or a forward jump counted from the instruction's end
  kSymbol,    // a name in the symbol area
  kFunction,  // a function-table entry of a function
  kSource,    // the function a position names: a function, -1 or -2
  kPairCount, // the count a range is packed from: 2 or 3
};

// How an instruction changes the items above its frame, where the opcode
// table's effect does not say it (kStackTable: it does).
enum Stack : uint8_t {
  kStackTable,
  kStackPush,       // pushes one item
  kStackKeep,       // leaves the items as they are
  kStackPop,        // takes the top item
  kStackReplace,    // replaces the top item
  kStackCall,       // takes the nargin operand's items, gives the nargout operand's (a statement: 1)
  kStackNamedCall,  // takes the function and the list, gives the nargout operand's
  kStackIndex,      // takes the subscripts pushed (not the ":" the mask marks), keeps the value
  kStackIndexStore, // takes the subscripts pushed, the reference and the value stored
  kStackSubscripts, // takes n subscripts, keeps the reference below them
  kStackIndexWord,  // reads the value `depth` items down, pushes one
  kStackDup,        // reads a items, pushes n of them again
  kStackMove,       // moves an item within the top max(from, to) + 1
  kStackPack,       // packs n items into one
  kStackCase,       // takes the case value, keeps the switch value; both ways
  kStackCondition,  // takes a condition; both ways
  kStackShortCut,   // takes a condition that the jump keeps as the result
  kStackLoop,       // reads the loop state: pushes the next element, or jumps out keeping the state
  kStackTry,        // a handler resumes with the kept items
  kStackRefStore,   // takes the value stored and the reference
  kStackEnd,        // ends the flow
};

struct OperandRow {
  uint16_t opcode;
  std::array<Operand, 3> words;
  Stack stack;
};

// The engine opcodes whose operand words name something (kind 1 rows of
// the opcode table that are no intrinsic). Words of other plain rows are
// constants.
constexpr OperandRow kOperandRows[] = {
    {kOpDupItems, {kCount, kCount}, kStackDup},
    {kOpMoveItem, {kCount, kCount}, kStackMove},
    {kOpMakeList, {kCount}, kStackTable},
    {kOpListFlatten, {kCount}, kStackTable},
    {kOpDeclareGlobal, {kSlot, kFlag}, kStackKeep},
    {kOpLoadLocal, {kSlot}, kStackPush},
    {kOpStoreLocal, {kSlot}, kStackPop},
    {kOpDisplayLocal, {kSlot}, kStackKeep},
    {kOpStoreAnsDisplay, {kSlot}, kStackPop},
    {kOpDisplayNamed, {kSlot}, kStackPop},
    {kOpIncLocal, {kSlot}, kStackKeep},
    {kOpDecLocal, {kSlot}, kStackKeep},
    {kOpClearLocal, {kSlot}, kStackKeep},
    {kOpRefField, {kSymbol}, kStackReplace},
    {kOpIndexRead, {kCount, kAny}, kStackIndex},
    {kOpRefElement, {kCount}, kStackSubscripts},
    {kOpIndexBeginning, {kCount, kCount, kCount}, kStackIndexWord},
    {kOpIndexEnd, {kCount, kCount, kCount}, kStackIndexWord},
    {kOpIndexMatrixrow, {kCount, kCount, kCount}, kStackIndexWord},
    {kOpIndexMatrixcol, {kCount, kCount, kCount}, kStackIndexWord},
    {kOpPushRef, {kSlot}, kStackPush},
    {kOpPushRefTarget, {kSlot}, kStackPush},
    {kOpDeref, {}, kStackReplace},
    {kOpIndexRefRead, {kCount, kAny}, kStackIndex},
    {kOpRefAssign, {}, kStackRefStore},
    {kOpIndexAssign, {kCount, kAny}, kStackIndexStore},
    {kOpEval, {}, kStackCall},
    {kOpFeval, {}, kStackCall},
    {kOpBuiltin, {}, kStackCall},
    {kOpJump, {kJump}, kStackEnd},
    {kOpJumpIfTrue, {kJump}, kStackCondition},
    {kOpJumpIfFalse, {kJump}, kStackCondition},
    {kOpSkip, {kAny}, kStackKeep},
    {kOpCaseTest, {kJump}, kStackCase},
    {kOpForNext, {kJump}, kStackLoop},
    {kOpForRangeNext, {kJump}, kStackLoop},
    {kOpRangePack, {kPairCount}, kStackPack},
    {kOpRangeFinal, {}, kStackReplace},
    {kOpOrElse, {kJump}, kStackShortCut},
    {kOpAndThen, {kJump}, kStackShortCut},
    {kOpCallUser, {kFunction, kCount, kResults}, kStackCall},
    // A position whose line takes two words.
    {kOpPositionWide, {kSource, kAny, kAny}, kStackKeep},
    {kOpCallNamed, {kResults}, kStackNamedCall},
    {kOpRetFunction, {}, kStackEnd},
    {kOpHalt, {}, kStackEnd},
    {kOpTryHandler, {kHandler, kCount}, kStackTry},
    {kOpPosition, {kSource, kAny}, kStackKeep},
    {kOpTaskEnd, {}, kStackEnd},
    {kOpWriteString8, {}, kStackKeep},
    {kOpWriteString16, {}, kStackKeep},
};

// The roles of every engine opcode's operand words, built once from the
// rows above and the intrinsic table.
struct Roles {
  std::array<std::array<Operand, 3>, kEngineOpcodeCount> words{};
  std::array<uint32_t, kEngineOpcodeCount> in_counts{}, out_counts{};
  std::array<bool, kEngineOpcodeCount> intrinsic{};
  std::array<Stack, kEngineOpcodeCount> stack{};
};

const Roles kRoles = [] {
  Roles r{};
  for (uint32_t op = 0; op < uint32_t(kEngineOpcodeCount); ++op) {
    if (const IntrinsicEntry* e = intrinsic_by_opcode(op)) {
      r.intrinsic[op] = true;
      r.in_counts[op] = e->in_args;
      r.out_counts[op] = e->out_args;
    }
  }
  // The literal pushes between no-op and the text writes: one item each.
  for (uint32_t op = kOpPushInt16; op <= kOpPushNoValue; ++op) r.stack[op] = kStackPush;
  for (const OperandRow& row : kOperandRows) {
    r.words[row.opcode] = row.words;
    r.stack[row.opcode] = row.stack;
  }
  return r;
}();

// Instructions after which execution never reaches the next word.
bool ends_flow(uint16_t op) { return op < kFirstLibraryOpcode && kRoles.stack[op] == kStackEnd; }

// A result count as the stack sees it: a statement's call leaves one item.

// The stack change of one instruction: it needs `need` items above its
// frame, leaves `next` more (negative: fewer) when it goes on, and `jump`
// more at its jump target (kNoJump: none), or exactly `jump` items when
// `jump_absolute` (a try handler's kept items).
struct Change {
  int need = 0, next = 0, jump = 0;
  bool jump_absolute = false;
};

Change stack_change(const uint16_t* insn) {
  Change c;
  const uint16_t op = *insn;
  if (op >= kFirstLibraryOpcode) {
    c.need = int16_t(insn[1]);
    c.next = builtin_results_owed(int16_t(insn[2])) - c.need;
    return c;
  }
  auto word = [&](int k) { return int(int16_t(insn[k])); };
  switch (kRoles.stack[op]) {
    case kStackTable: {
      int nin = 0, nout = 0;
      insn_stack_effect(insn, &nin, &nout);
      c.need = nin;
      c.next = builtin_results_owed(nout) - nin;
      return c;
    }
    case kStackPush: c.next = 1; return c;
    case kStackKeep: case kStackEnd: return c;
    case kStackPop: c.need = 1; c.next = -1; return c;
    case kStackReplace: c.need = 1; return c;
    case kStackCall: {
      // Intrinsics carry their counts as their argument-count words say.
      int in = word(1), out = word(3);
      if (kRoles.intrinsic[op]) {
        int k = 1;
        in = argc_is_variable(kRoles.in_counts[op]) ? word(k++) : int(kRoles.in_counts[op]);
        out = argc_is_variable(kRoles.out_counts[op]) ? word(k) : int(kRoles.out_counts[op]);
      } else {
        in = word(2);
      }
      c.need = in;
      c.next = builtin_results_owed(out) - in;
      return c;
    }
    case kStackNamedCall: c.need = 2; c.next = builtin_results_owed(word(1)) - 2; return c;
    case kStackIndex: {
      const int pushed = word(1) - __builtin_popcount(uint32_t(insn[2]));
      c.need = pushed + 1;
      c.next = -pushed;
      return c;
    }
    case kStackIndexStore: {
      const int pushed = word(1) - __builtin_popcount(uint32_t(insn[2]));
      c.need = pushed + 2;
      c.next = -c.need;
      return c;
    }
    case kStackSubscripts: c.need = word(1) + 1; c.next = -word(1); return c;
    case kStackIndexWord: c.need = word(1) + 1; c.next = 1; return c;
    case kStackDup: c.need = word(1); c.next = word(2); return c;
    case kStackMove: c.need = (word(1) > word(2) ? word(1) : word(2)) + 1; return c;
    case kStackPack: c.need = word(1); c.next = 1 - word(1); return c;
    case kStackCase: c.need = 2; c.next = c.jump = -1; return c;
    case kStackCondition: c.need = 1; c.next = c.jump = -1; return c;
    case kStackShortCut: c.need = 1; c.next = -1; c.jump = 0; return c;
    case kStackLoop: c.need = 1; c.next = 1; c.jump = 0; return c;
    case kStackTry: c.jump = word(2); c.jump_absolute = true; return c;
    case kStackRefStore: c.need = 2; c.next = -2; return c;
  }
  return c;
}

constexpr uint16_t kFirstNegativeOpcode = 0x8000;
constexpr uint16_t kKnownHeaderFlags =
    kHdrVarargin | kHdrVarargout | kHdrArgless | kHdrNoNames | kHdrTrusted | kHdrRestricted;

// Words of the instruction at `insn`, 0 when its string length word lies at
// or past `end` (the caller checks the whole length against the block).
int64_t length_within(const uint16_t* insn, const uint16_t* end) {
  if (*insn >= kFirstLibraryOpcode) return kLibraryCallWords;
  const OpcodeInfo& info = kOpcodeInfoTable[*insn];
  if ((info.kind == kOperandString8 || info.kind == kOperandString16) && insn + 1 >= end) return 0;
  return insn_length(insn);
}

// A built-in row's call: the row exists and takes the counts, as the
// compiler emits it (a statement's call asks for -1 results). The built-in
// trusts them: it takes its arguments and leaves that many results.
bool library_call_counts(EngineContext* c, int32_t k, uint16_t in_word, uint16_t out_word) {
  LibRow r{};
  if (lib_row_lookup(c, k, &r) != kOk) return false;
  const int nargin = int16_t(in_word), nargout = int16_t(out_word);
  const BuiltinEntry* row = r.row;
  const bool in_ok = nargin >= row->min_in && ((row->max_in & kArgsAny) || nargin <= row->max_in);
  const bool out_ok = nargout == -1 || (nargout >= row->min_out && ((row->max_out & kArgsAny) || nargout <= row->max_out));
  return in_ok && out_ok;
}

// Where entry `id`'s block of code starts, or 0 for an entry that owns none
// (a name, or a function not loaded). Functions and library blocks own one.
int64_t code_block_of(EngineContext* c, int32_t id) {
  const int32_t kind = int32_t(fn_entry(c, id)[kEntName]);
  const int64_t off = int32_t(fn_entry(c, id)[kEntCode]);
  return (kind < 0 || kind == kEntryLibrary) && off > 0 ? off : 0;
}

}  // namespace

CodeVerifier::CodeVerifier(EngineContext* c, uint64_t* scratch, int64_t scratch_words)
    : c_(c),
      code_(code_words(c)),
      table_end_(int64_t(c->fn_capacity) * kEntryCodeWords),
      free_(c->code_free) {
  const int64_t words = free_ / 64 + 1;
  if (scratch && scratch_words >= 2 * words) {
    block_starts_ = scratch;
    insn_starts_ = scratch + words;
    for (int64_t k = 0; k < 2 * words; ++k) scratch[k] = 0;
    scratch += 2 * words;
    scratch_words -= 2 * words;
  }
  heights_ = reinterpret_cast<int32_t*>(scratch);
  height_room_ = scratch ? scratch_words * 2 : 0;
}

void CodeVerifier::mark(uint64_t* bits, int64_t word) const { bits[word >> 6] |= uint64_t(1) << (word & 63); }
bool CodeVerifier::marked(const uint64_t* bits, int64_t word) const {
  return (bits[word >> 6] >> (word & 63)) & 1;
}

bool CodeVerifier::symbol(int32_t s) const {
  return s < 0 && s >= -kSymbolReach && s >= c_->sym_extent && marked(symbol_starts_.data(), -int64_t(s));
}

// The next block start above `start`, or the first free word.
int64_t CodeVerifier::block_end(int64_t start) const {
  if (block_starts_) {
    for (int64_t w = start + 1; w < free_;) {
      const uint64_t bits = block_starts_[w >> 6] >> (w & 63);
      if (bits) return w + __builtin_ctzll(bits);
      w = (w | 63) + 1;
    }
    return free_;
  }
  int64_t end = free_;
  for (int32_t id = 1; id < c_->fn_count; ++id) {
    const int64_t off = code_block_of(c_, id);
    if (off > start && off < end) end = off;
  }
  return end;
}

bool CodeVerifier::verify_area() {
  // Names that code may use: the record starts within an operand's reach.
  const uint8_t* end = reinterpret_cast<const uint8_t*>(code_) + int64_t(c_->code_size) * 2;
  for (int64_t at = c_->sym_extent; at < 0; at += 1 + end[at])
    if (at >= -kSymbolReach) mark(symbol_starts_.data(), -at);

  if (block_starts_) {
    for (int32_t id = 1; id < c_->fn_count; ++id)
      if (const int64_t off = code_block_of(c_, id)) mark(block_starts_, off);
  }
  // Two passes: the first finds every instruction start, the second checks
  // the jumps against them.
  for (const bool mark_pass : {true, false})
    for (int32_t id = 1; id < c_->fn_count; ++id)
      if (!function(id, mark_pass)) return false;
  verified_ = true;
  return true;
}

bool CodeVerifier::function(int32_t id, bool mark_pass) {
  const uint32_t* e = fn_entry(c_, id);
  if (int32_t(e[kEntName]) >= 0 || int32_t(e[kEntCode]) <= 0) return true;
  Span fn{};
  if (!span_of(id, &fn)) return false;
  if (mark_pass && insn_starts_) {
    for (int64_t at = fn.from; at < fn.reach; at += insn_length(code_ + at)) mark(insn_starts_, at);
  }
  // Operands in the first pass; jump targets, which need every start, with
  // the stack heights in the second.
  if (!mark_pass) return stack_heights(fn);
  for (int64_t at = fn.from; at < fn.reach; at += insn_length(code_ + at))
    if (!operands(at, fn, mark_pass)) return false;
  return true;
}

// The fewest items above the frame that each instruction can meet, from 0
// at the first one, along every path (jumps, try handlers); every
// instruction must find the items it takes. Fewest is what matters: a path
// with more items only leaves some behind, which the frame's return drops.
bool CodeVerifier::stack_heights(const Span& fn) const {
  constexpr int32_t kUnseen = INT32_MAX;
  constexpr int kMostPasses = 1000;  // each pass settles one more backward edge
  const int64_t n = fn.reach - fn.from;
  if (n > height_room_) {
    short_of_room_ = true;
    return false;
  }
  int32_t* h = heights_;
  for (int64_t k = 0; k < n; ++k) h[k] = kUnseen;
  h[0] = 0;
  bool again = true;
  for (int pass = 0; again; ++pass) {
    if (pass == kMostPasses) return false;
    again = false;
    auto lower = [&](int64_t from_at, int64_t to, int64_t v) {
      if (v < 0 || to < fn.from || to >= fn.reach) return false;
      if (v < h[to - fn.from]) {
        h[to - fn.from] = int32_t(v);
        if (to <= from_at) again = true;
      }
      return true;
    };
    for (int64_t at = fn.from; at < fn.reach;) {
      const uint16_t* insn = code_ + at;
      const int64_t len = insn_length(insn);
      const int64_t have = h[at - fn.from];
      const int origin = *insn < kFirstLibraryOpcode ? jump_origin_words(*insn) : 0;
      const bool jumps = origin != 0 && !(*insn == kOpTryHandler && insn[1] == 0);
      const int64_t target = jumps ? at + origin + int16_t(insn[1]) : 0;
      // Every jump lands on a start, reached from the entry or not: a stored
      // position may resume anywhere.
      if (pass == 0 && jumps && !jump_target(target, fn, false)) return false;
      if (have != kUnseen) {
        const Change c = stack_change(insn);
        if (have < c.need) return false;
        if (!ends_flow(*insn) && !lower(at, at + len, have + c.next)) return false;
        if (jumps && !lower(at, target, c.jump_absolute ? c.jump : have + c.jump)) return false;
      }
      at += len;
    }
  }
  return true;
}

// The header of a function and the extent of its code: every instruction up
// to the last one that ends the flow (fn->reach is the word behind it) must
// decode inside the block; behind it only alignment padding may follow,
// which nothing reaches.
bool CodeVerifier::span_of(int32_t id, Span* fn) const {
  const int64_t off = int32_t(fn_entry(c_, id)[kEntCode]);
  const int64_t end = block_end(off);
  if (off + kHdrInputSlots > end) return false;
  const uint16_t* h = code_ + off;
  if ((h[kHdrFlags] & ~kKnownHeaderFlags) != 0) return false;
  for (int k = 0; k < h[kHdrMaxIn]; ++k)
    if (off + kHdrInputSlots + k >= end || h[kHdrInputSlots + k] >= h[kHdrLocals]) return false;
  const int64_t from = off + code_header_words(h);
  if (from >= end) return false;
  int64_t at = from;
  int64_t reached = from;
  while (at < end) {
    const uint16_t* insn = code_ + at;
    if (*insn >= kFirstNegativeOpcode) break;
    const int64_t n = length_within(insn, code_ + end);
    if (n == 0 || at + n > end) break;
    at += n;
    if (ends_flow(*insn)) reached = at;
  }
  if (reached == from || end - reached >= int64_t(kCodeAlignWords)) return false;
  *fn = Span{h, from, reached};
  return true;
}

bool CodeVerifier::jump_target(int64_t target, const Span& fn, bool mark_pass) const {
  if (target < fn.from || target >= fn.reach) return false;
  if (mark_pass) return true;  // the starts are known in the second pass
  if (insn_starts_) return marked(insn_starts_, target);
  return start_by_walk(target, fn);
}

// Without marks: walks the function's instructions up to the target.
bool CodeVerifier::start_by_walk(int64_t target, const Span& fn) const {
  for (int64_t at = fn.from; at <= target && at < fn.reach; at += insn_length(code_ + at))
    if (at == target) return true;
  return false;
}

bool CodeVerifier::instruction_start(int64_t offset) const {
  if (!verified_ || offset < table_end_ || offset >= free_) return false;
  if (insn_starts_) return marked(insn_starts_, offset);
  // The function whose block holds the offset: the highest code start at or
  // below it.
  int32_t best = 0;
  int64_t best_off = -1;
  for (int32_t id = 1; id < c_->fn_count; ++id) {
    const int64_t off = code_block_of(c_, id);
    if (off > 0 && off <= offset && off > best_off) {
      best_off = off;
      best = int32_t(fn_entry(c_, id)[kEntName]) < 0 ? id : 0;
    }
  }
  if (best == 0) return false;
  Span fn{};
  return span_of(best, &fn) && start_by_walk(offset, fn);
}

bool CodeVerifier::operands(int64_t at, const Span& fn, bool mark_pass) const {
  const uint16_t* insn = code_ + at;
  const uint16_t op = *insn;
  if (op >= kFirstLibraryOpcode) return library_call_counts(c_, op - kFirstLibraryOpcode, insn[1], insn[2]);
  const OpcodeInfo& info = kOpcodeInfoTable[op];
  if (info.kind != kOperandWords) return true;  // constants and strings
  if (kRoles.intrinsic[op]) {
    int word = 1;
    if (argc_is_variable(kRoles.in_counts[op]) && !argc_admits(kRoles.in_counts[op], int16_t(insn[word++])))
      return false;
    if (argc_is_variable(kRoles.out_counts[op])) {
      const int n = int16_t(insn[word]);
      if (n != -1 && !argc_admits(kRoles.out_counts[op], n)) return false;
    }
    return true;
  }
  for (int k = 0; k < info.count && k < 3; ++k) {
    const int v = int16_t(insn[1 + k]);
    switch (kRoles.words[op][k]) {
      case kAny: break;
      case kCount: if (v < 0) return false; break;
      case kResults: if (v < -1) return false; break;
      case kFlag: if (v != 0 && v != 1) return false; break;
      case kPairCount: if (v != 2 && v != 3) return false; break;
      case kSlot: if (v < 0 || v >= fn.header[kHdrLocals]) return false; break;
      case kSymbol: if (!symbol(v)) return false; break;
      case kFunction: if (v < 1 || v >= c_->fn_count || int32_t(fn_entry(c_, v)[kEntName]) >= 0) return false; break;
      case kSource:
        if (v != -1 && v != -2 && (v < 1 || v >= c_->fn_count || int32_t(fn_entry(c_, v)[kEntName]) >= 0))
          return false;
        break;
      case kJump:
        if (!jump_target(at + jump_origin_words(op) + v, fn, mark_pass)) return false;
        break;
      case kHandler:
        // A handler lies ahead of its try: a caught error never runs the
        // instructions that raised it again without a backward jump (where
        // the host's break is asked).
        if (v < 0) return false;
        if (v != 0 && !jump_target(at + jump_origin_words(op) + v, fn, mark_pass))
          return false;
        break;
    }
  }
  return true;
}
