// State of one compilation shared by the statement and expression compilers:
// the code buffer being written, the local-name table, the options read from
// the context, and the argument of the first error. Code is only ever
// appended at `pos`, below `cap` and, for code in the code area, below the
// symbol area as it stands after every name interned so far.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/compile_links.h"
#include "engine/core/context.h"
#include "engine/core/opcodes.h"
#include "engine/core/status.h"

namespace tncomp {

constexpr int kNameBytes = 32;           // one entry of a local-name table
constexpr uint16_t kPendingJump = 0;     // end of a chain of unpatched jump operands
constexpr int kDoubleAlign = 4;          // words: 8-byte operands lie on 8-byte boundaries
constexpr int32_t kAnonParamSlot = -2;   // parameter of an enclosing "@(": never captured
constexpr int kErrorTextBytes = 40;

struct Unit {
  EngineContext* ctx = nullptr;
  int32_t library = 0;
  int32_t function_id = -1;
  uint32_t flags = 0;

  uint16_t* code = nullptr;
  int64_t cap = 0;
  int64_t pos = 0;
  int64_t code_area_offset = -1;  // code word of code[0] in the code area, -1 elsewhere

  // Local names, 32 bytes each; slot = index.
  uint8_t* names = nullptr;
  int32_t name_count = 0;
  int32_t name_capacity = 0;
  // The names by hash, when the scratch space had room for it (see
  // attach_name_index): an open-addressed table of slot + 1, 0 empty, so
  // that a lookup costs the same however many names there are.
  uint16_t* name_index = nullptr;
  uint32_t name_index_mask = 0;
  uint32_t* workspace_count = nullptr;  // top-level code: the workspace frame's local count

  bool forward_refs = false;
  bool ans_convention = false;
  int32_t values_from = -1;  // top-level code: values from this one on are called with one output
  int32_t opt_level = 0;
  bool opt_flag = false;
  bool emit_positions = false;
  bool wide_strings = false;

  int32_t line = 0;

  // A piece of the free data-stack space (the statement list, the string
  // scratch, a function's local names) ran out before the limit of its own:
  // the compilation failed for want of room, which a larger data stack gives.
  bool scratch_short = false;

  // What a function returns: its outputs (slots 0..), the last one varargout.
  int32_t outputs = 0;
  bool varargout = false;
  bool argless = false;

  // Scratch for decoded string literals.
  uint16_t* chars = nullptr;
  int32_t chars_capacity = 0;

  // Template arguments of the first error (see err_raise_code).
  int32_t err_integer = -1;
  char err_text[kErrorTextBytes] = {};
  int32_t err_text_length = 0;

  bool is_function() const { return function_id != -1; }

  // Room left for code: the buffer, and the symbol area for code-area code.
  int64_t limit() const {
    if (code_area_offset < 0) return cap;
    const int64_t floor = int64_t(code_symbol_floor(ctx)) - code_area_offset;
    return floor < cap ? floor : cap;
  }
  int need(int64_t words) const { return pos + words <= limit() ? kOk : kCodeOverflow; }
  int emit(uint16_t w) {
    TN_TRY(need(1));
    code[pos++] = w;
    return kOk;
  }
  int emit2(uint16_t a, uint16_t b) {
    TN_TRY(need(2));
    code[pos++] = a;
    code[pos++] = b;
    return kOk;
  }
  int emit3(uint16_t a, uint16_t b, uint16_t c) {
    TN_TRY(need(3));
    code[pos++] = a;
    code[pos++] = b;
    code[pos++] = c;
    return kOk;
  }
  // Pads with nop until the word after the opcode is 8-byte aligned.
  int align_for_double() {
    while ((pos + 1) % kDoubleAlign != 0) TN_TRY(emit(kOpNop));
    return kOk;
  }

  // Error arguments: a count or character (%i, %c) and a name (%n, %S, %s).
  int fail(int code, int32_t integer = -1) {
    err_integer = integer;
    return code;
  }
  int fail_named(int code, const char* text, int32_t length, int32_t integer = -1) {
    if (length > kErrorTextBytes - 1) length = kErrorTextBytes - 1;
    std::memcpy(err_text, text, size_t(length > 0 ? length : 0));
    err_text[length > 0 ? length : 0] = 0;
    err_text_length = length;
    err_integer = integer;
    return code;
  }

  // Local names.
  const uint8_t* name_entry(int32_t slot) const { return names + int64_t(slot) * kNameBytes; }
  int32_t find_name(const char* text, int32_t length) const;
  // Slot of the name, adding it when new: kVariableTableOverflow when the table is full.
  int add_name(const char* text, int32_t length, int32_t* slot);
  void index_name(int32_t slot);
};

// Slot of the 32-byte name equal to the identifier (compared over at most 32
// characters), -1 when none.
int32_t varname_table_find(const uint8_t* names, int32_t count, const char* text, int32_t length);

// A chain of unpatched jump operands: each operand word holds the distance
// back to the previous one of the same chain, 0 at the end.
int chain_link(Unit& u, int64_t* head, int64_t operand);
// Points every operand of the chain at target (offsets counted from the word
// after each operand); kCompilationOverflow when an offset does not fit 16 bits.
int chain_patch(Unit& u, int64_t head, int64_t target);
// A single jump operand.
int patch_jump(Unit& u, int64_t operand, int64_t target);

// What an expression left and where its lone variable is.
struct ExprResult {
  int count = 1;           // values left; -1 a call in statement context (maybe no value)
  int64_t var_pos = -1;    // the load_local / push_ref / push_ref_target of a lone variable
  int32_t var_slot = -1;
  bool dropped = false;    // removed entirely (an assert under the optimisation flag)
};

// Compiles text[0, length) as one expression at u.pos.
//  requested: results wanted (1 in conditions, the left-hand count of [a, b] = ...);
//  statement: the expression is a whole statement whose result may be absent;
//  target: compile the left side of an assignment;
//  what: the construct named when too few results come (null: none).
int compile_expression(Unit& u, const char* text, int32_t length, int requested, bool statement, bool target,
                       ExprResult* result, const char* what = nullptr);

}  // namespace tncomp
