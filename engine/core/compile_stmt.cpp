// The statement compiler: the statements read into records (compile_read.cpp)
// are generated in order, each block kind opening and closing in a pair of
// functions headed by the code shape it emits; then the function's return
// sequence. Every forward jump is patched through a chain of its unpatched
// operands and checked to fit.
#include <cstdio>
#include <cstring>

#include "engine/core/compile_stmt_list.h"
#include "engine/core/compile_unit.h"
#include "engine/core/compiler.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/lexer.h"
#include "engine/core/symbols.h"

namespace tncomp {

// ---- names and jump chains ---------------------------------------------------

int32_t varname_table_find(const uint8_t* names, int32_t count, const char* text, int32_t length) {
  if (length < 1 || length > kNameBytes) return -1;
  for (int32_t i = 0; i < count; ++i) {
    const char* e = reinterpret_cast<const char*>(names + int64_t(i) * kNameBytes);
    if (std::memcmp(e, text, size_t(length)) == 0 && (length == kNameBytes || e[length] == 0)) return i;
  }
  return -1;
}

namespace {

constexpr int32_t kMaxIndexedNames = 0xFFFE;  // slot + 1 fits an index entry
constexpr int64_t kMinIndexEntries = 64;
constexpr int64_t kIndexShareOfStatements = 4;  // the index takes at most a quarter

bool name_equals(const uint8_t* entry, const char* text, int32_t length) {
  return std::memcmp(entry, text, size_t(length)) == 0 && (length == kNameBytes || entry[length] == 0);
}

// FNV-1a over the name's characters.
uint32_t name_hash(const char* text, int32_t length) {
  uint32_t h = 2166136261u;
  for (int32_t i = 0; i < length; ++i) h = (h ^ uint8_t(text[i])) * 16777619u;
  return h;
}

}  // namespace

int32_t Unit::find_name(const char* text, int32_t length) const {
  if (!name_index) return varname_table_find(names, name_count, text, length);
  if (length < 1 || length > kNameBytes) return -1;
  for (uint32_t h = name_hash(text, length) & name_index_mask;; h = (h + 1) & name_index_mask) {
    const uint16_t e = name_index[h];
    if (e == 0) return -1;
    if (name_equals(name_entry(e - 1), text, length)) return e - 1;
  }
}

// Enters a slot's name, unless an earlier slot has it (a scan finds the
// first of equal names, and so does the index).
void Unit::index_name(int32_t slot) {
  const char* text = reinterpret_cast<const char*>(name_entry(slot));
  const int32_t length = int32_t(strnlen(text, kNameBytes));
  if (length < 1) return;
  for (uint32_t h = name_hash(text, length) & name_index_mask;; h = (h + 1) & name_index_mask) {
    const uint16_t e = name_index[h];
    if (e == 0) {
      name_index[h] = uint16_t(slot + 1);
      return;
    }
    if (name_equals(name_entry(e - 1), text, length)) return;
  }
}

void attach_name_index(Unit& u, Scratch* s) {
  if (u.name_capacity < 1 || u.name_capacity > kMaxIndexedNames) return;
  // At most half full, so that probes stay short.
  int64_t entries = kMinIndexEntries;
  while (entries < 2 * int64_t(u.name_capacity)) entries *= 2;
  const int64_t bytes = entries * int64_t(sizeof(uint16_t));
  const int64_t room = s->stmt_bytes & ~int64_t(7);
  if (bytes * kIndexShareOfStatements > room) return;
  s->stmt_bytes = room - bytes;
  u.name_index = reinterpret_cast<uint16_t*>(s->stmts + s->stmt_bytes);
  u.name_index_mask = uint32_t(entries - 1);
  std::memset(u.name_index, 0, size_t(bytes));
  for (int32_t slot = 0; slot < u.name_count; ++slot) u.index_name(slot);
}

int Unit::add_name(const char* text, int32_t length, int32_t* slot) {
  if (length > kIdentifierLimit) return fail_named(kNameTooLong, text, length, length);
  const int32_t found = find_name(text, length);
  if (found >= 0) {
    *slot = found;
    return kOk;
  }
  if (name_count >= name_capacity) {
    // A function's names share the free data-stack space: short of the
    // table's own limit, more room is what is missing.
    if (function_id != -1 && name_capacity < kMaxLocals) scratch_short = true;
    return kVariableTableOverflow;
  }
  uint8_t* e = names + int64_t(name_count) * kNameBytes;
  std::memset(e, 0, kNameBytes);
  std::memcpy(e, text, size_t(length));
  *slot = name_count++;
  if (name_index) index_name(*slot);
  if (workspace_count) *workspace_count = uint32_t(name_count);
  return kOk;
}

namespace {

constexpr int kJumpOrigin = 1;     // jump offsets count from the word after the operand
constexpr int kHandlerOrigin = 2;  // try_handler offsets from the word after the instruction

int patch_at(Unit& u, int64_t operand, int64_t target, int origin) {
  const int64_t offset = target - (operand + origin);
  if (offset < INT16_MIN || offset > INT16_MAX) return kCompilationOverflow;
  u.code[operand] = uint16_t(int16_t(offset));
  return kOk;
}

int chain_patch_from(Unit& u, int64_t head, int64_t target, int origin) {
  while (head > 0) {
    const uint16_t link = u.code[head];
    TN_TRY(patch_at(u, head, target, origin));
    head = link ? head - link : 0;
  }
  return kOk;
}

}  // namespace

void carve_scratch(EngineContext* ctx, const char* text, int32_t length, bool function, Scratch* s) {
  uint8_t* begin = reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_top);
  uint8_t* end = reinterpret_cast<uint8_t*>(data_words(ctx) + ctx->data_capacity);
  const uint8_t* tb = reinterpret_cast<const uint8_t*>(text);
  if (tb + length > begin && tb < end) {
    // Keep to the larger side of the text.
    if (tb - begin >= end - (tb + length)) {
      end = const_cast<uint8_t*>(tb);
    } else {
      begin = const_cast<uint8_t*>(tb) + length;
    }
  }
  begin = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(begin) + 7) & ~uintptr_t(7));
  int64_t bytes = end > begin ? end - begin : 0;
  if (function) {
    const int64_t n = bytes / 4 / kNameBytes;
    s->name_capacity = int32_t(n < kMaxLocals ? n : kMaxLocals);
    end -= int64_t(s->name_capacity) * kNameBytes;
    s->names = end;
    bytes -= int64_t(s->name_capacity) * kNameBytes;
  }
  int64_t chars = bytes / 4 / 2;
  if (chars > kMaxStringChars) chars = kMaxStringChars;
  s->chars_capacity = int32_t(chars);
  end -= chars * 2;
  s->chars = reinterpret_cast<uint16_t*>(end);
  s->stmts = begin;
  s->stmt_bytes = end > begin ? end - begin : 0;
}

int chain_link(Unit& u, int64_t* head, int64_t operand) {
  uint16_t link = kPendingJump;
  if (*head > 0) {
    const int64_t distance = operand - *head;
    if (distance <= 0 || distance > 0xFFFF) return kCompilationOverflow;
    link = uint16_t(distance);
  }
  u.code[operand] = link;
  *head = operand;
  return kOk;
}

int chain_patch(Unit& u, int64_t head, int64_t target) { return chain_patch_from(u, head, target, kJumpOrigin); }

int patch_jump(Unit& u, int64_t operand, int64_t target) { return patch_at(u, operand, target, kJumpOrigin); }

namespace {

// ---- code generation ---------------------------------------------------------------

enum BlockType : int32_t {
  kBlockIf = 20,
  kBlockSwitch = 21,
  kBlockWhile = 22,
  kBlockFor = 23,
  kBlockRepeat = 24,
  kBlockTry = 25,
};

struct Block {
  int32_t type = 0;
  int32_t line = 0;
  int64_t pending = 0;     // operand of the jump to the next branch (0: none)
  int64_t end_chain = 0;   // jumps to the end of the block (breaks for loops)
  int64_t cont_chain = 0;  // continue jumps of a repeat block
  int64_t loop_start = -1;
  bool else_seen = false;
  // try blocks
  int64_t handler = 0;          // operand of the try_handler that installs this handler
  int64_t reinstall_chain = 0;  // try_handler operands that install it again
  int32_t keep = 0;             // for and switch blocks open at the try
  bool in_catch = false;
};

const char* block_name(int32_t type) {
  switch (type) {
    case kBlockIf: return "if";
    case kBlockSwitch: return "switch";
    case kBlockWhile: return "while";
    case kBlockFor: return "for";
    case kBlockTry: return "try";
    default: return "";
  }
}

class Generator {
 public:
  Generator(Unit& u) : u_(u) {}
  int compile_statement(const Stmt& st);
  int finish();
  int32_t values() const { return values_; }
  int32_t open_line() const { return nblocks_ > 0 ? blocks_[nblocks_ - 1].line : u_.line; }

 private:
  int position();
  int jump_to_chain(uint16_t op, int64_t* chain);
  int jump_back(uint16_t op, int64_t target);
  int condition(const Stmt& st, const char* what, int64_t* chain);
  int expression_statement(const Stmt& st);
  int assignment(const Stmt& st);
  // Block kinds: each opens and closes in a pair of functions, with the
  // branches between (elseif, case, catch) beside them.
  int open_if(const Stmt& st);
  int if_branch(const Stmt& st, Block* b);
  int close_if(Block* b);
  int open_switch(const Stmt& st);
  int switch_case(const Stmt& st, Block* b);
  int close_switch(Block* b);
  int open_while(const Stmt& st);
  int close_while(Block* b);
  int open_for(const Stmt& st);
  int close_for(Block* b);
  int open_repeat(const Stmt& st);
  int close_repeat(const Stmt& st, Block* b, int64_t stmt_start);
  int open_try(const Stmt& st);
  int try_catch(Block* b);
  int close_try(Block* b);
  int close_block(Block* b);
  int next_pass(const Block& loop);
  int loop_exit(const Stmt& st);
  int declare_variables(const Stmt& st);
  int reinstall_handler(int32_t below);
  int return_code();
  int leave_blocks(int32_t loop);
  int open_block(int32_t type, int32_t line, Block** b);
  int32_t keep_count() const {
    int32_t k = 0;
    for (int32_t i = 0; i < nblocks_; ++i) k += blocks_[i].type == kBlockFor || blocks_[i].type == kBlockSwitch;
    return k;
  }
  Block* top() { return nblocks_ > 0 ? &blocks_[nblocks_ - 1] : nullptr; }
  int64_t last_insn(int64_t from) const {
    int64_t last = -1;
    for (int64_t q = from; q < u_.pos;) {
      last = q;
      q += u_.code[q] >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(u_.code + q);
    }
    return last;
  }

  Unit& u_;
  Block blocks_[kMaxBlocks];
  int32_t nblocks_ = 0;
  int32_t values_ = 0;
};

int Generator::open_block(int32_t type, int32_t line, Block** b) {
  if (nblocks_ >= kMaxBlocks) return kTooManyNestedBlocks;
  blocks_[nblocks_] = Block{};
  blocks_[nblocks_].type = type;
  blocks_[nblocks_].line = line;
  *b = &blocks_[nblocks_++];
  return kOk;
}

int Generator::position() {
  if (!u_.emit_positions) return kOk;
  if (u_.line >= 0 && u_.line <= kPositionLineMax)
    return u_.emit3(kOpPosition, uint16_t(u_.function_id), uint16_t(u_.line));
  // A line the short form cannot hold (past 32,767, or set by a pragma).
  const uint32_t line = uint32_t(u_.line);
  TN_TRY(u_.emit2(kOpPositionWide, uint16_t(u_.function_id)));
  return u_.emit2(uint16_t(line & 0xFFFF), uint16_t(line >> 16));
}

int Generator::jump_to_chain(uint16_t op, int64_t* chain) {
  TN_TRY(u_.emit2(op, kPendingJump));
  return chain_link(u_, chain, u_.pos - 1);
}

int Generator::jump_back(uint16_t op, int64_t target) {
  TN_TRY(u_.emit2(op, kPendingJump));
  return patch_jump(u_, u_.pos - 1, target);
}

// A condition and the jump taken when it is false; a constant condition
// becomes a plain jump (false) or a skip (true) from level 1 on.
int Generator::condition(const Stmt& st, const char* what, int64_t* chain) {
  const int64_t start = u_.pos;
  ExprResult r;
  TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r, what));
  if (u_.opt_level >= 1 && code_is_bool_constant(u_.code + start, u_.pos - start, false)) {
    u_.pos = start;
    return jump_to_chain(kOpJump, chain);
  }
  if (u_.opt_level >= 1 && code_is_bool_constant(u_.code + start, u_.pos - start, true)) {
    u_.pos = start;
    return u_.emit2(kOpSkip, 0);
  }
  return jump_to_chain(kOpJumpIfFalse, chain);
}

int Generator::assignment(const Stmt& st) {
  ExprResult r;
  TN_TRY(compile_expression(u_, st.t2, st.n2, st.count, false, false, &r));
  int32_t slots[kMaxLocals > 64 ? 64 : kMaxLocals];
  int32_t nslots = 0;
  TN_TRY(for_each_item(st.t1, st.n1, [&](const char* item, int32_t n) {
    item = trim(item, &n);
    const int64_t start = u_.pos;
    ExprResult t;
    TN_TRY(compile_expression(u_, item, n, 1, false, true, &t));
    const int64_t last = last_insn(start);
    if (t.var_pos == start && u_.pos == start + 2 && u_.code[start] == kOpLoadLocal) {
      u_.code[start] = kOpStoreLocal;
    } else if (last < 0 || t.var_slot < 0 ||
               (u_.code[last] != kOpIndexAssign && u_.code[last] != kOpRefAssign)) {
      return int(kBadAssignmentTarget);
    }
    if (nslots < 64) slots[nslots++] = t.var_slot;
    return int(kOk);
  }));
  // An inline function's own «y=body» shows nothing.
  if (st.kind == kStShown && u_.function_id != kFunctionInline)
    for (int32_t i = 0; i < nslots; ++i) TN_TRY(u_.emit2(kOpDisplayLocal, uint16_t(slots[i])));
  return kOk;
}

int Generator::expression_statement(const Stmt& st) {
  if (st.count > 0) return assignment(st);
  const int64_t start = u_.pos;
  ExprResult r;
  TN_TRY(compile_expression(u_, st.t1, st.n1, 0, true, false, &r));
  const bool lone = r.var_pos == start && u_.pos == start + 2 && u_.code[start] == kOpLoadLocal;
  if (r.count == 0) return kOk;
  if (st.kind == kStShown) {
    // A lone variable shows its name, unless its caller takes it as a value
    // (a text evaluated for outputs); it counts as a value for such callers
    // either way, as any other shown expression does.
    const bool top = !u_.ans_convention && !u_.is_function() && nblocks_ == 0;
    if (lone && top && u_.values_from >= 0) {
      if (values_++ >= u_.values_from) {
        u_.pos = start;
        return compile_expression(u_, st.t1, st.n1, 1, false, false, &r);
      }
      return u_.emit2(kOpDisplayNamed, uint16_t(r.var_slot));
    }
    if (lone) return u_.emit2(kOpDisplayNamed, uint16_t(r.var_slot));
    if (u_.ans_convention) return u_.emit2(kOpStoreAnsDisplay, 0);
    if (top) {
      // Top-level code leaves the value for its caller (data texts, code
      // blocks). A value that the caller takes is asked of its call as one
      // output, never as a statement's optional result: compiled again so.
      // What compiling did besides the code (names, table entries) is the
      // same the second time.
      if (u_.values_from >= 0 && values_ >= u_.values_from) {
        u_.pos = start;
        TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r));
      }
      ++values_;
      return kOk;
    }
    return u_.emit(kOpDisp);
  }
  if (u_.ans_convention) return u_.emit2(kOpStoreLocal, 0);
  // A read by index stays: with a function value in the variable, `h(x);`
  // is a call.
  if (u_.opt_level >= 4 && code_all_flagged(u_.code + start, u_.pos - start) &&
      !code_reads_by_index(u_.code + start, u_.pos - start)) {
    u_.pos = start;
    return kOk;
  }
  return u_.emit(kOpPopItem);
}

// Installs again the handler that was active below block `below`: that of the
// nearest enclosing try still in its try part, or none.
int Generator::reinstall_handler(int32_t below) {
  for (int32_t j = below - 1; j >= 0; --j) {
    Block& t = blocks_[j];
    if (t.type != kBlockTry || t.in_catch) continue;
    TN_TRY(u_.emit3(kOpTryHandler, kPendingJump, uint16_t(t.keep)));
    return chain_link(u_, &t.reinstall_chain, u_.pos - 2);
  }
  return u_.emit3(kOpTryHandler, 0, 0);
}

// Leaves the blocks above the loop at index `loop`: switch values are
// dropped and the handlers of the try blocks crossed are given up.
int Generator::leave_blocks(int32_t loop) {
  for (int32_t i = nblocks_ - 1; i > loop; --i) {
    if (blocks_[i].type == kBlockSwitch) TN_TRY(u_.emit(kOpPopItem));
    if (blocks_[i].type == kBlockTry && !blocks_[i].in_catch) TN_TRY(reinstall_handler(i));
  }
  return kOk;
}

// ---- blocks: each kind opens and closes side by side ------------------------------

// if c1 ... elseif c2 ... else ... end
//         <c1> jump_if_false L1         a constant condition: jump L1, or skip
//         <body 1>
//         jump End
//   L1:   position <c2> jump_if_false L2
//         <body 2>
//         jump End
//   L2:   <else body>
//   End:
int Generator::open_if(const Stmt& st) {
  Block* b = nullptr;
  TN_TRY(open_block(kBlockIf, st.line, &b));
  return condition(st, "if", &b->pending);
}
int Generator::if_branch(const Stmt& st, Block* b) {
  if (!b || b->type != kBlockIf || b->else_seen) return kUnexpectedElse;
  TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
  TN_TRY(chain_patch(u_, b->pending, u_.pos));
  b->pending = 0;
  if (st.kind == kStElse) {
    b->else_seen = true;
    return kOk;
  }
  TN_TRY(position());
  return condition(st, "if", &b->pending);
}
int Generator::close_if(Block* b) {
  TN_TRY(chain_patch(u_, b->pending, u_.pos));
  return chain_patch(u_, b->end_chain, u_.pos);
}

// switch e, case c1 ... otherwise ... end
//         <e> jump C1                   the switch value stays on the stack
//   C1:   position <c1> case_test C2    case_test jumps when c1 does not match
//         <body 1>
//         jump End
//   C2:   ...                           otherwise: its body, with no test
//   End:  pop_item                      the switch value
int Generator::open_switch(const Stmt& st) {
  ExprResult r;
  TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r, "switch"));
  Block* b = nullptr;
  TN_TRY(open_block(kBlockSwitch, st.line, &b));
  return jump_to_chain(kOpJump, &b->pending);
}
int Generator::switch_case(const Stmt& st, Block* b) {
  if (!b || b->type != kBlockSwitch || b->else_seen) return kUnexpectedCase;
  TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
  TN_TRY(chain_patch(u_, b->pending, u_.pos));
  b->pending = 0;
  if (st.kind == kStOtherwise) {
    b->else_seen = true;
    return kOk;
  }
  TN_TRY(position());
  ExprResult r;
  TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r, "case"));
  return jump_to_chain(kOpCaseTest, &b->pending);
}
int Generator::close_switch(Block* b) {
  TN_TRY(chain_patch(u_, b->pending, u_.pos));
  TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
  return u_.emit(kOpPopItem);
}

// while c ... end
//   Top:  position <c> jump_if_false End    continue: jump Top
//         <body>                            break: jump End
//         jump Top
//   End:
int Generator::open_while(const Stmt& st) {
  Block* b = nullptr;
  TN_TRY(open_block(kBlockWhile, st.line, &b));
  b->loop_start = u_.pos;
  TN_TRY(position());
  return condition(st, "while", &b->end_chain);
}
int Generator::close_while(Block* b) {
  TN_TRY(next_pass(*b));
  return chain_patch(u_, b->end_chain, u_.pos);
}

// for v = e ... end
//         <e>                       a colon range ends in range_pack n, not colon n
//   Top:  for_next End              for_range_next End for a range
//         store_local v
//         <body>                    continue: jump Top; break: jump End
//         jump Top
//   End:  pop_item                  the loop state
int Generator::open_for(const Stmt& st) {
  int32_t n = st.n1;
  const char* var = trim(st.t1, &n);
  if (lex_identifier_end(var, n, 0) != n) return kBadForVariable;
  const int32_t slot = u_.find_name(var, n);
  if (slot < 0) return kBadForVariable;
  const int64_t start = u_.pos;
  ExprResult r;
  TN_TRY(compile_expression(u_, st.t2, st.n2, 1, false, false, &r, "for"));
  uint16_t loop_op = kOpForNext;
  const int64_t last = last_insn(start);
  if (last >= 0 && u_.code[last] == kOpColon) {
    u_.code[last] = kOpRangePack;  // same operand: the number of range parts
    loop_op = kOpForRangeNext;
  }
  Block* b = nullptr;
  TN_TRY(open_block(kBlockFor, st.line, &b));
  b->loop_start = u_.pos;
  TN_TRY(jump_to_chain(loop_op, &b->end_chain));
  return u_.emit2(kOpStoreLocal, uint16_t(slot));
}
int Generator::close_for(Block* b) {
  TN_TRY(next_pass(*b));
  TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
  return u_.emit(kOpPopItem);
}

// repeat ... until c
//   Top:  <body>                    continue: jump Next; break: jump End
//   Next: position <c> jump_if_false Top    «until true»: nothing;
//                                           «until false»: jump Top
//   End:
int Generator::open_repeat(const Stmt& st) {
  Block* b = nullptr;
  TN_TRY(open_block(kBlockRepeat, st.line, &b));
  b->loop_start = u_.pos;
  return kOk;
}
int Generator::close_repeat(const Stmt& st, Block* b, int64_t stmt_start) {
  if (!b || b->type != kBlockRepeat) return kUnexpectedUntil;
  TN_TRY(chain_patch(u_, b->cont_chain, stmt_start));
  ExprResult r;
  const int64_t start = u_.pos;
  TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r, "until"));
  if (u_.opt_level >= 1 && code_is_bool_constant(u_.code + start, u_.pos - start, true)) {
    u_.pos = start;  // «until true» leaves after one pass
  } else if (u_.opt_level >= 1 && code_is_bool_constant(u_.code + start, u_.pos - start, false)) {
    u_.pos = start;
    TN_TRY(jump_back(kOpJump, b->loop_start));
  } else {
    TN_TRY(jump_back(kOpJumpIfFalse, b->loop_start));
  }
  TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
  --nblocks_;
  return kOk;
}

// The end of a pass of a while or for loop, and its continue: back to the
// loop's test.
int Generator::next_pass(const Block& loop) { return jump_back(kOpJump, loop.loop_start); }

// break and continue leave the blocks inside the loop first (switch values
// dropped, try handlers given up).
int Generator::loop_exit(const Stmt& st) {
  int32_t loop = nblocks_ - 1;
  while (loop >= 0 && blocks_[loop].type != kBlockWhile && blocks_[loop].type != kBlockFor &&
         blocks_[loop].type != kBlockRepeat)
    --loop;
  if (loop < 0) return kUnexpectedBreak;
  TN_TRY(leave_blocks(loop));
  Block& l = blocks_[loop];
  if (st.kind == kStBreak) return jump_to_chain(kOpJump, &l.end_chain);
  if (l.type == kBlockRepeat) return jump_to_chain(kOpJump, &l.cont_chain);
  return next_pass(l);
}

// try ... catch ... end
//          try_handler Catch keep   keep: the for and switch values open here
//          <try body>
//          try_handler Outer        the enclosing handler again (or none: 0 0)
//          jump End
//   Catch: try_handler Outer        an error in the catch part goes outward
//          <catch body>
//   End:
// Without a catch part, Catch is End: the handler installs Outer there.
int Generator::open_try(const Stmt& st) {
  const int32_t keep = keep_count();
  Block* b = nullptr;
  TN_TRY(open_block(kBlockTry, st.line, &b));
  b->keep = keep;
  TN_TRY(u_.emit3(kOpTryHandler, kPendingJump, uint16_t(keep)));
  b->handler = u_.pos - 2;
  return kOk;
}
int Generator::try_catch(Block* b) {
  if (!b || b->type != kBlockTry || b->in_catch) return kUnexpectedCatch;
  const int32_t self = nblocks_ - 1;
  TN_TRY(reinstall_handler(self));
  TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
  TN_TRY(chain_patch_from(u_, b->handler, u_.pos, kHandlerOrigin));
  TN_TRY(chain_patch_from(u_, b->reinstall_chain, u_.pos, kHandlerOrigin));
  b->in_catch = true;
  // The handler that caught stays installed: an error in the catch part
  // must reach the enclosing handler, not this one again.
  return reinstall_handler(self);
}
int Generator::close_try(Block* b) {
  if (b->in_catch) return chain_patch(u_, b->end_chain, u_.pos);
  TN_TRY(chain_patch_from(u_, b->handler, u_.pos, kHandlerOrigin));
  TN_TRY(chain_patch_from(u_, b->reinstall_chain, u_.pos, kHandlerOrigin));
  b->in_catch = true;
  return reinstall_handler(nblocks_ - 1);
}

// "end" closes the innermost block (a repeat block ends with "until").
int Generator::close_block(Block* b) {
  if (!b) return kUnexpectedEnd;
  switch (b->type) {
    case kBlockIf: TN_TRY(close_if(b)); break;
    case kBlockSwitch: TN_TRY(close_switch(b)); break;
    case kBlockWhile: TN_TRY(close_while(b)); break;
    case kBlockFor: TN_TRY(close_for(b)); break;
    case kBlockTry: TN_TRY(close_try(b)); break;
    default: return kUnexpectedEnd;
  }
  --nblocks_;
  return kOk;
}

// global and persistent: each name's slot is linked, and the variable gets
// its table entry once.
int Generator::declare_variables(const Stmt& st) {
  const int32_t owner = st.kind == kStGlobal ? kVariableGlobalOwner : u_.function_id;
  return for_each_item(st.t1, st.n1, [&](const char* name, int32_t n) {
    const int32_t slot = u_.find_name(name, n);
    if (slot < 0) return TN_ILLEGAL();
    TN_TRY(u_.emit3(kOpDeclareGlobal, uint16_t(slot), st.kind == kStGlobal ? 0 : 1));
    int32_t symbol = 0;
    TN_TRY(symtab_intern(u_.ctx, name, n, kIdentifierLimit, &symbol));
    TN_TRY(u_.need(0));
    for (int32_t id = 1; id < u_.ctx->fn_count; ++id)
      if (ent(u_.ctx, id, kEntName) == kEntryVariable && ent(u_.ctx, id, kEntLink) == symbol &&
          ent(u_.ctx, id, kEntExtra) == owner)
        return int(kOk);
    int32_t id = 0;
    const int status = fn_table_add(u_.ctx, kEntryVariable, symbol, -1, owner, &id);
    if (status != kOk) return int(kTooManyUserFunctions);
    return u_.need(0);
  });
}

int Generator::compile_statement(const Stmt& st) {
  u_.line = st.line;
  const int64_t stmt_start = u_.pos;
  const bool own_position = st.kind == kStElseif || st.kind == kStCase || st.kind == kStWhile || st.kind == kStRepeat;
  if (!own_position) TN_TRY(position());
  Block* b = top();
  switch (st.kind) {
    case kStSilent:
    case kStShown:
      return expression_statement(st);
    case kStValue: {
      ExprResult r;
      return compile_expression(u_, st.t1, st.n1, 1, false, false, &r);
    }
    case kStIf: return open_if(st);
    case kStElseif:
    case kStElse: return if_branch(st, b);
    case kStSwitch: return open_switch(st);
    case kStCase:
    case kStOtherwise: return switch_case(st, b);
    case kStWhile: return open_while(st);
    case kStFor: return open_for(st);
    case kStRepeat: return open_repeat(st);
    case kStUntil: return close_repeat(st, b, stmt_start);
    case kStBreak:
    case kStContinue: return loop_exit(st);
    case kStReturn: return return_code();
    case kStTry: return open_try(st);
    case kStCatch: return try_catch(b);
    case kStEnd: return close_block(b);
    case kStGlobal:
    case kStPersistent: return declare_variables(st);
    default: return TN_ILLEGAL();
  }
}

int Generator::finish() {
  if (nblocks_ > 0) {
    const Block& b = blocks_[nblocks_ - 1];
    const char* name = block_name(b.type);
    u_.line = b.line;
    return u_.fail_named(kUnboundedConstruct, name, int32_t(std::strlen(name)));
  }
  return return_code();
}

// A function returns its outputs on the stack, the first on top: output k is
// pushed only when the caller asked for more than k results, so an output
// nobody asked for may stay unset (a statement call gets its first output, or
// a no-value item, from the frame's return).
// varargout gives its elements for the positions from its slot on.
int Generator::return_code() {
  if (!u_.is_function()) return u_.emit(kOpHalt);
  if (u_.argless) return u_.emit(kOpRetFunction);  // the value is already on top
  const int32_t plain = u_.varargout ? u_.outputs - 1 : u_.outputs;
  if (u_.varargout) {
    for (int32_t j = kVarargoutPushed - 1; j >= 0; --j) {
      TN_TRY(u_.emit2(kOpNargout, 0));
      TN_TRY(u_.emit2(kOpPushInt16, uint16_t(plain + j)));
      TN_TRY(u_.emit(kOpGt));
      TN_TRY(u_.emit2(kOpJumpIfFalse, kVarargoutElementWords));
      TN_TRY(u_.emit2(kOpPushRef, uint16_t(plain)));
      TN_TRY(u_.emit2(kOpPushInt16, uint16_t(j + 1)));
      TN_TRY(u_.emit2(kOpRefElement, 1));
      TN_TRY(u_.emit(kOpDeref));
    }
  }
  for (int32_t k = plain - 1; k >= 0; --k) {
    TN_TRY(u_.emit2(kOpNargout, 0));
    if (k > 0) {
      TN_TRY(u_.emit2(kOpPushInt16, uint16_t(k)));
      TN_TRY(u_.emit(kOpGt));
    }
    TN_TRY(u_.emit2(kOpJumpIfFalse, 2));
    TN_TRY(u_.emit2(kOpLoadLocal, uint16_t(k)));
  }
  return u_.emit(kOpRetFunction);
}

// ---- the compilation ------------------------------------------------------------------

// Raises one compile error. A syntax error that names the text it refuses
// has no template row to put it in: the text follows the message in quotes.
void raise_code(EngineContext* ctx, int status, int32_t integer, const char* text) {
  const ErrMsgEntry* row = text && status == kSyntaxError ? errmsg_lookup(ctx, status, false) : nullptr;
  if (!row) {
    err_raise_code(ctx, status, -1, 0, integer, text);
    return;
  }
  char message[2 * kErrorTextBytes];
  const int n = std::snprintf(message, sizeof message, "%s '%s'", row->message, text);
  err_store(ctx, status, message, n < int(sizeof message) ? n : int(sizeof message) - 1, true);
}

// Raises the status with its arguments, located at the failing statement's
// line in the function being compiled.
int raise_compile_error(Unit& u, int status) {
  EngineContext* ctx = u.ctx;
  const char* text = u.err_text_length > 0 ? u.err_text : nullptr;
  int32_t integer = u.err_integer;
  if (text && (status == kUnknownFunction || status == kNameTooLong)) integer = u.err_text_length;
  const int32_t function = u.function_id >= 0 || u.function_id == kFunctionInline ? u.function_id : 0;
  if (ctx->frame >= 0 && ctx->frame < ctx->desc_top) {
    uint32_t* w = frame_words(ctx, ctx->frame);
    const uint32_t keep_line = w[kFwLine], keep_function = w[kFwCurrentFunction];
    w[kFwLine] = uint32_t(u.line);
    w[kFwCurrentFunction] = uint32_t(function);
    raise_code(ctx, status, integer, text);
    w[kFwLine] = keep_line;
    w[kFwCurrentFunction] = keep_function;
  } else {
    raise_code(ctx, status, integer, text);
    err_note_location(ctx, status, u.line);
  }
  return status;
}

int compile_body(Unit& u, const char* text, int32_t length, Scratch& scratch, int32_t* values) {
  Header header;
  int64_t stmt_bytes = 0;
  TN_TRY(read_statements(u, text, length, scratch.stmts, scratch.stmt_bytes, &header, &stmt_bytes));

  // The header: flags, locals, inputs, outputs, the input slots, the names.
  int64_t code_start = 0;
  if (u.is_function()) {
    if (u.name_count > 0xFFFF) return kVariableTableOverflow;
    const int64_t words = kHdrInputSlots + header.inputs + int64_t(u.name_count) * (kNameBytes / 2);
    TN_TRY(u.need(words));
    uint16_t flags = 0;
    if (header.varargin) flags |= kHdrVarargin;
    if (header.varargout) flags |= kHdrVarargout;
    if (header.define) flags |= kHdrArgless;
    u.code[kHdrFlags] = flags;
    u.code[kHdrLocals] = uint16_t(header.define ? 0 : u.name_count);
    u.code[kHdrMaxIn] = uint16_t(header.inputs);
    u.code[kHdrMaxOut] = uint16_t(header.define ? 1 : header.outputs);
    for (int32_t k = 0; k < header.inputs; ++k) u.code[kHdrInputSlots + k] = header.input_slot[k];
    std::memcpy(u.code + kHdrInputSlots + header.inputs, u.names, size_t(u.name_count) * kNameBytes);
    code_start = words;
    u.pos = words;
    u.outputs = header.outputs;
    u.varargout = header.varargout;
    u.argless = header.define;
  }

  Generator gen(u);
  for (int64_t at = 0; at < stmt_bytes;) {
    StmtHeader h;
    std::memcpy(&h, scratch.stmts + at, sizeof h);
    const char* t1 = reinterpret_cast<const char*>(scratch.stmts + at + kStmtHeaderBytes);
    const char* t2 = t1 + pad4(h.len1);
    at += kStmtHeaderBytes + pad4(h.len1) + pad4(h.len2);
    const Stmt st{h.kind, h.line, h.count, t1, h.len1, t2, h.len2};
    TN_TRY(gen.compile_statement(st));
  }
  TN_TRY(gen.finish());

  // With debug information on, names stay for displays, messages and the
  // debugger even when the caller did not ask for them.
  const bool keep_names = (u.flags & kCompileKeepNames) || u.emit_positions;
  if (u.is_function() && !keep_names && u.name_count > 0) {
    // The names go; the code moves down by whole 8-byte units, so 8-byte
    // literals stay aligned.
    const int64_t names = int64_t(u.name_count) * (kNameBytes / 2);
    const int64_t from = code_start;
    std::memmove(u.code + from - names, u.code + from, size_t(u.pos - from) * 2);
    u.pos -= names;
    code_start -= names;
    u.code[kHdrFlags] |= kHdrNoNames;
  }
  if (u.opt_level >= 2) code_peephole_optimise(u.code + code_start, u.pos - code_start, u.opt_level >= 3);
  *values = gen.values();
  return kOk;
}

}  // namespace
}  // namespace tncomp

int compile_source(EngineContext* ctx, int32_t library, const char* text, int32_t length, uint16_t* code,
                   int64_t capacity, int64_t* code_words, int32_t function_id, uint32_t flags, int32_t* values) {
  using namespace tncomp;
  if (code_words) *code_words = 0;
  const int32_t values_from = values ? *values : 0;
  if (values) *values = 0;
  Unit u;
  u.ctx = ctx;
  u.library = library;
  u.function_id = function_id;
  u.flags = flags;
  u.code = code;
  u.cap = capacity;
  const uint16_t* area = ::code_words(ctx);
  if (code >= area && code < area + ctx->code_size) u.code_area_offset = code - area;
  u.opt_level = ctx->opt_level;
  u.opt_flag = ctx->opt_flag != 0;
  u.emit_positions = ctx->emit_positions != 0;
  u.wide_strings = ctx->wide_strings != 0;
  u.forward_refs = function_id != -1 || (flags & kCompileReadfnPresent);
  if ((flags & kCompileValuesFrom) && function_id == -1) u.values_from = values_from;

  Scratch scratch;
  carve_scratch(ctx, text, length, u.is_function(), &scratch);
  u.chars = scratch.chars;
  u.chars_capacity = scratch.chars_capacity;
  if (u.is_function()) {
    u.names = scratch.names;
    u.name_capacity = scratch.name_capacity;
  } else {
    // Top-level code reads and assigns the current workspace's variables.
    const int32_t ws = frame_workspace_index(ctx);
    uint8_t* table = nullptr;
    int32_t count = 0;
    frame_var_table(ctx, &table, &count);
    u.names = table;
    u.name_count = count;
    u.name_capacity = count;
    if (ws >= 0) {
      uint32_t* w = frame_words(ctx, ws);
      if (int32_t(w[kFwNameTable]) == 0) {
        u.name_capacity = int32_t(w[kFwFrameNames]);
        u.workspace_count = &w[kFwLocals];
      }
    }
  }
  attach_name_index(u, &scratch);
  u.ans_convention = (flags & kCompileAnsConvention) && u.name_count > 0 &&
                     std::strncmp(reinterpret_cast<const char*>(u.names), "ans", kNameBytes) == 0;

  int32_t produced = 0;
  int status = compile_body(u, text, length, scratch, &produced);
  // Out of room, the compilation says so with the data stack's own status,
  // so that a caller able to grow the block grows the data stack (where the
  // scratch lies) and compiles again; any other failure is the text's.
  if (status != kOk && u.scratch_short &&
      (status == kExpressionTooLarge || status == kCompilationOverflow || status == kVariableTableOverflow))
    status = kDataStackOverflow;
  if (status != kOk) return raise_compile_error(u, status);
  if (code_words) *code_words = u.pos;
  if (values) *values = produced;
  return kOk;
}

void compiler_install() { fn_set_compiler(&compile_source); }
