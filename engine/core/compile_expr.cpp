// The expression compiler: one left-to-right scan with an explicit stack of
// operator and bracket records (a shunting-yard parser). Operands emit code at
// once; operators wait on the stack until an operator of lower or equal
// precedence, a separator or a closing bracket reduces them. The scan keeps
// the number of values the code has pushed since the expression began, so
// that "end" inside subscripts knows how deep its indexed value lies.
#include <cmath>
#include <cstring>

#include "engine/core/compile_stmt_list.h"
#include "engine/core/compiler.h"
#include "engine/core/compile_unit.h"
#include "engine/core/lexer.h"
#include "engine/core/operator_table.h"
#include "engine/core/symbols.h"

namespace tncomp {
namespace {

enum RecKind : int32_t {
  kRecBinary = 0,
  kRecPrefix = 1,
  kRecRange = 4,
  kRecJump = 5,        // pending "?", "||" or "&&" jumps
  kRecGroup = 6,       // "(" grouping
  kRecCellOuter = 7,
  kRecMatrix = 8,
  kRecCellRow = 9,
  kRecCallIntrinsic = 10,
  kRecCallLibrary = 11,
  kRecCallUser = 12,
  kRecAnonymous = 13,
  kRecVarRead = 14,    // variable followed by "(", "{" or "."
  kRecVarTarget = 15,  // the same as an assignment target
  kRecSubscript = 16,  // "(" subscripts of a value
  kRecBrace = 17,      // "{" subscripts
  kRecDynField = 18,   // ".(" field name
  kRecFlatCall = 19,   // call whose arguments are gathered into a list by x{:}
};

// Operator rows the scan treats specially (indices into kOperatorTable).
enum : int32_t {
  kRowVertcat = 0,
  kRowHorzcat = 1,
  kRowColon = 2,
  kRowConditional = 3,
  kRowOrElse = 4,
  kRowAndThen = 5,
  kFirstPlainRow = 6,
};

constexpr int32_t kRecordCapacity = 200;
constexpr int32_t kRecordHeadroom = 7;       // the scan stops this far below the capacity
constexpr int32_t kVariablePrecedence = 25;  // above every operator: any reduction dereferences
constexpr int32_t kAnonymousPrecedence = 11; // a body ends at "," or ";"
constexpr int32_t kCellRowPrecedence = 9;    // popped by ";" but not by ","
constexpr int32_t kClosingLevel = 4;
constexpr int32_t kSeparatorLevel = 10;
constexpr int32_t kRowLevel = 8;
constexpr int32_t kRangeLevel = 13;
constexpr int kMaxColonSubscripts = 16;    // the colon mask is one 16-bit operand word
// Counts travel in signed 16-bit operand words, which the interpreter reads
// signed: a count beyond this is refused here, never wrapped into another.
constexpr int32_t kMaxOperandCount = INT16_MAX;
constexpr int kMaxCaptures = 64;
constexpr int32_t kNoRow = -1;

struct Rec {
  int32_t prec = 0;
  int32_t kind = 0;
  int32_t value = 0;   // operator row, opcode, intrinsic row, library row k, function id, slot, symbol
  int32_t aux = 0;     // colon mask; jump chain head; flattened-argument flag
  int32_t count = 0;   // "," seen; ":" seen; "?" stage
  int32_t extra = 0;   // top-level items inside the brackets (for "end")
  int32_t sp = 0;      // values pushed when the record opened
  int32_t text = 0;    // text position after the opening bracket / of the parameter list
  int32_t text2 = 0;   // end of the parameter list
  int64_t code = 0;    // code position at the start of an anonymous body
};

bool stopping(int32_t kind) {
  switch (kind) {
    case kRecGroup: case kRecCellOuter: case kRecMatrix: case kRecCallIntrinsic: case kRecCallLibrary:
    case kRecCallUser: case kRecSubscript: case kRecBrace: case kRecDynField: case kRecFlatCall:
      return true;
    default:
      return false;
  }
}

bool is_call(int32_t kind) {
  return kind == kRecCallIntrinsic || kind == kRecCallLibrary || kind == kRecCallUser || kind == kRecFlatCall;
}

int32_t name_length(const char* s) { return int32_t(strnlen(s, kNameBytes)); }

// Number of comma-separated items at nesting level 0 from p up to the
// unbalanced closer (1 for empty text), strings and transposes read as the
// statement reader reads them.
int32_t expr_count_toplevel_items(const char* t, int32_t n, int32_t p) {
  int32_t items = 1, depth = 0;
  LexCursor lx(t, n, p);
  for (;;) {
    const LexPiece piece = lex_piece(&lx);
    if (piece == kPieceEnd) break;
    if (piece == kPieceOpen) {
      ++depth;
    } else if (piece == kPieceClose) {
      if (depth == 0) break;
      --depth;
    } else if (piece == kPieceChar && t[lx.start] == ',' && depth == 0) {
      ++items;
    }
  }
  return items;
}

class ExprCompiler {
 public:
  ExprCompiler(Unit& u, const char* t, int32_t n, int requested, bool statement, bool target, const char* what)
      : u_(u), t_(t), n_(n), requested_(requested), statement_(statement), target_(target), what_(what),
        start_(u.pos) {}

  int run(ExprResult* out);

 private:
  // ---- scanning helpers ----
  void skip_blanks() {
    while (p_ < n_ && lex_blank(t_[p_])) ++p_;
  }
  int32_t next_nonblank(int32_t q) const {
    while (q < n_ && lex_blank(t_[q])) ++q;
    return q;
  }
  char at(int32_t q) const { return q < n_ ? t_[q] : '\0'; }
  bool more_text(int32_t q) const { return next_nonblank(q) < n_; }

  // ---- records ----
  int push(const Rec& r) {
    if (nrec_ + kRecordHeadroom >= kRecordCapacity) return kTooManySubexpressions;
    recs_[nrec_++] = r;
    return kOk;
  }
  Rec* top() { return nrec_ > 0 ? &recs_[nrec_ - 1] : nullptr; }
  bool in_anonymous_body() const {
    for (int32_t i = 0; i < nrec_; ++i)
      if (recs_[i].kind == kRecAnonymous) return true;
    return false;
  }

  // ---- emission ----
  int emit_word_op(uint16_t op, int delta) {
    TN_TRY(u_.emit(op));
    sp_ += delta;
    return kOk;
  }
  int emit_op1(uint16_t op, uint16_t a, int delta) {
    TN_TRY(u_.emit2(op, a));
    sp_ += delta;
    return kOk;
  }
  int emit_string(const uint16_t* chars, int32_t length, bool wide);
  int emit_text_string(const char* s, int32_t length) { return emit_string8(s, length); }
  template <typename Ch>
  int emit_string8(const Ch* chars, int32_t length);
  int emit_intrinsic(const IntrinsicEntry* e, int nargin, int nargout, int* result);
  int emit_library(int32_t k, const BuiltinEntry* row, int nargin, int nargout, int* result);
  int emit_user_call(int32_t id, int nargin, int nargout);
  int counts_fit(int nargin, int nargout);
  int compile_emit_operator_call(int32_t row, int nargin);

  // The result count of a call that ends at text position q: 1 when more text
  // follows or a record stays open, else the requested count (or -1 in a
  // statement, 0 otherwise).
  int call_nargout(int32_t q) const {
    if (more_text(q) || nrec_ > 0) return 1;
    if (requested_ >= 1) return requested_;
    return statement_ ? -1 : 0;
  }
  void note_call(int32_t q, int result) {
    if (!more_text(q) && nrec_ == 0) {
      end_call_pos_ = u_.pos;
      end_call_count_ = result;
    }
  }

  // ---- steps of the scan ----
  int operand();
  int after_operand();
  int number();
  void integer_literal_low_bytes(NumberLiteral* lit);
  int string_literal();
  int identifier();
  int function_reference();
  int colon_operand();
  int close_empty_call();
  int open_paren_after_value();
  int range_or_branch();
  int short_circuit(int32_t row);
  int separator(char c);
  int closer(char c);
  int close_call(Rec r, int nargin);
  int compile_reduce_operators(int32_t level);
  int reduce_one(const Rec& r);
  int build_anonymous(const Rec& r);
  int mark_referenced(int32_t id);
  int user_call_or_record(int32_t id, int32_t q);
  int32_t find_any_library_function(const char* name, int32_t length);
  bool anonymous_parameter(const char* name, int32_t length) const;
  int intern(const char* name, int32_t length, int32_t* symbol);

  Unit& u_;
  const char* t_;
  int32_t n_;
  int requested_;
  bool statement_;
  bool target_;
  const char* what_;
  int64_t start_;

  int32_t p_ = 0;
  int32_t token_ = 0;  // start of the token being handled
  Rec recs_[kRecordCapacity];
  int32_t nrec_ = 0;
  int32_t sp_ = 0;
  bool expect_operand_ = true;
  int64_t end_call_pos_ = -1;
  int end_call_count_ = 1;
  int64_t var_pos_ = -1;
  int32_t var_slot_ = -1;
};

// ---- emission -------------------------------------------------------------

int ExprCompiler::emit_string(const uint16_t* chars, int32_t length, bool wide) {
  if (!wide) return emit_string8(chars, length);
  if (length > 0xFFFF) return kExpressionTooLarge;
  TN_TRY(u_.need(int64_t(length) + 2));
  u_.code[u_.pos++] = kOpPushString16;
  u_.code[u_.pos++] = uint16_t(length);
  for (int32_t i = 0; i < length; ++i) u_.code[u_.pos++] = chars[i];
  ++sp_;
  return kOk;
}

// A string of byte characters, two to a word, low byte first.
template <typename Ch>
int ExprCompiler::emit_string8(const Ch* chars, int32_t length) {
  if (length > 0xFFFF) return kExpressionTooLarge;
  TN_TRY(u_.need(int64_t(length + 1) / 2 + 2));
  u_.code[u_.pos++] = kOpPushString8;
  u_.code[u_.pos++] = uint16_t(length);
  for (int32_t i = 0; i < length; i += 2) {
    const uint16_t lo = uint8_t(chars[i]);
    const uint16_t hi = i + 1 < length ? uint8_t(chars[i + 1]) : 0;
    u_.code[u_.pos++] = uint16_t(lo | hi << 8);
  }
  ++sp_;
  return kOk;
}

int ExprCompiler::counts_fit(int nargin, int nargout) {
  if (nargin > kMaxOperandCount) return u_.fail(kTooManyInputs);
  if (nargout > kMaxOperandCount) return u_.fail(kTooManyOutputs);
  return kOk;
}

int ExprCompiler::emit_intrinsic(const IntrinsicEntry* e, int nargin, int nargout, int* result) {
  TN_TRY(counts_fit(nargin, nargout));
  const int32_t len = int32_t(strnlen(e->name, sizeof e->name));
  if (!argc_admits(e->in_args, nargin)) return u_.fail_named(kWrongNargin, e->name, len, nargin);
  int r;
  if (argc_is_variable(e->out_args)) {
    if (nargout >= 0 && !argc_admits(e->out_args, nargout)) return u_.fail_named(kWrongNargout, e->name, len, nargout);
    r = nargout;
  } else {
    if (nargout >= 0 && nargout != int(e->out_args)) return u_.fail_named(kWrongNargout, e->name, len, nargout);
    r = int(e->out_args);
  }
  TN_TRY(u_.emit(uint16_t(e->opcode)));
  if (argc_is_variable(e->in_args)) TN_TRY(u_.emit(uint16_t(nargin)));
  if (argc_is_variable(e->out_args)) TN_TRY(u_.emit(uint16_t(nargout)));
  sp_ += (r < 0 ? 1 : r) - nargin;
  *result = r;
  return kOk;
}

bool row_fits(const BuiltinEntry* row, int nargin, int nargout) {
  const bool in_ok = nargin >= row->min_in && ((row->max_in & kArgsAny) || nargin <= row->max_in);
  const bool out_ok =
      nargout < 0 || (nargout >= row->min_out && ((row->max_out & kArgsAny) || nargout <= row->max_out));
  return in_ok && out_ok;
}

int ExprCompiler::emit_library(int32_t k, const BuiltinEntry* row, int nargin, int nargout, int* result) {
  TN_TRY(counts_fit(nargin, nargout));
  if (!row_fits(row, nargin, nargout)) {
    // A user function of the same name takes over counts the row refuses.
    const int32_t len = int32_t(strnlen(row->name, sizeof row->name));
    int32_t id = fn_find_user(u_.ctx, row->name, len, nullptr, 0, u_.library, 1, nullptr);
    if (id <= 0) id = find_any_library_function(row->name, len);
    if (id > 0) {
      TN_TRY(mark_referenced(id));
      TN_TRY(emit_user_call(id, nargin, nargout));
      *result = nargout;
      return kOk;
    }
    const bool in_ok = nargin >= row->min_in && ((row->max_in & kArgsAny) || nargin <= row->max_in);
    return in_ok ? u_.fail_named(kWrongNargout, row->name, len, nargout)
                 : u_.fail_named(kWrongNargin, row->name, len, nargin);
  }
  TN_TRY(u_.emit3(uint16_t(kFirstLibraryOpcode + k), uint16_t(nargin), uint16_t(nargout)));
  sp_ += (nargout < 0 ? 1 : nargout) - nargin;
  *result = nargout;
  return kOk;
}

// A user function called as a statement leaves one item, like a built-in:
// its first output when set, else a no-value item (the frame's return).
int ExprCompiler::emit_user_call(int32_t id, int nargin, int nargout) {
  TN_TRY(counts_fit(nargin, nargout));
  TN_TRY(u_.need(4));
  u_.code[u_.pos++] = kOpCallUser;
  u_.code[u_.pos++] = uint16_t(id);
  u_.code[u_.pos++] = uint16_t(nargin);
  u_.code[u_.pos++] = uint16_t(nargout);
  sp_ += (nargout < 0 ? 1 : nargout) - nargin;
  return kOk;
}

// The call that implements an operator: a user function of that name (without
// class, so a method never captures an operator), a registered row without
// class, else the intrinsic.
int ExprCompiler::compile_emit_operator_call(int32_t row, int nargin) {
  const char* name = kOperatorTable[row].name;
  const int32_t len = int32_t(std::strlen(name));
  const int32_t id = fn_find_user(u_.ctx, name, len, nullptr, 0, u_.library, 1, nullptr);
  if (id > 0) {
    TN_TRY(mark_referenced(id));
    return emit_user_call(id, nargin, 1);
  }
  int32_t k = 0;
  for (const BuiltinEntry* r = lib_find_builtin(u_.ctx, name, nullptr, 0, &k); r;
       r = lib_find_builtin(u_.ctx, name, r, 0, &k)) {
    if (r->class_word < 1 && row_fits(r, nargin, 1)) {
      int result = 0;
      return emit_library(k, r, nargin, 1, &result);
    }
  }
  if (const IntrinsicEntry* e = intrinsic_find(name)) {
    if (!argc_admits(e->in_args, nargin)) return u_.fail_named(kWrongNargin, name, len, nargin);
    if (!argc_admits(e->out_args, 1)) return u_.fail_named(kUndefinedFunction, name, len);
    int result = 0;
    return emit_intrinsic(e, nargin, argc_is_variable(e->out_args) ? 1 : -1, &result);
  }
  return u_.fail_named(kUndefinedFunction, name, len);
}

int ExprCompiler::mark_referenced(int32_t id) {
  if (id > 0 && id < u_.ctx->fn_count && ent(u_.ctx, id, kEntCode) == kCodeNotCompiled)
    ent_set(u_.ctx, id, kEntCode, kCodeReferenced);
  return kOk;
}

int32_t ExprCompiler::find_any_library_function(const char* name, int32_t length) {
  const int32_t sym = symtab_find(u_.ctx, name, length);
  if (sym == 0) return -1;
  for (int32_t id = 1; id < u_.ctx->fn_count; ++id) {
    const int32_t extra = ent(u_.ctx, id, kEntExtra);
    if (ent(u_.ctx, id, kEntName) == sym && (extra == 0 || extra == sym)) return id;
  }
  return -1;
}

int ExprCompiler::intern(const char* name, int32_t length, int32_t* symbol) {
  TN_TRY(symtab_intern(u_.ctx, name, length, kIdentifierLimit, symbol));
  // The symbols grow down toward the code being written.
  return u_.need(0);
}

bool ExprCompiler::anonymous_parameter(const char* name, int32_t length) const {
  for (int32_t i = nrec_ - 1; i >= 0; --i) {
    const Rec& r = recs_[i];
    if (r.kind != kRecAnonymous) continue;
    for (int32_t q = r.text; q < r.text2;) {
      if (!lex_ident_start(t_[q])) {
        ++q;
        continue;
      }
      const int32_t e = lex_identifier_end(t_, r.text2, q);
      if (e - q == length && std::memcmp(t_ + q, name, size_t(length)) == 0) return true;
      q = e;
    }
  }
  return false;
}

// ---- operands -------------------------------------------------------------

// An integer literal is its digits accumulated in 64 bits (longer runs
// wrap), of which it keeps the low bytes of its class: "300int8" is 44,
// "70000int16" 4464, "3000000000int32" -1294967296. The one signed value
// past the maximum, the minimum's magnitude, takes over a prefix minus:
// "-128int8" is the minimum itself, not the negation of -128 (which
// saturates to 127).
void ExprCompiler::integer_literal_low_bytes(NumberLiteral* lit) {
  const int bits = lit->int_bits;
  const uint64_t signed_max = bits == 64 ? uint64_t(INT64_MAX) : (uint64_t{1} << (bits - 1)) - 1;
  const Rec* r = top();
  const bool negated = r && r->kind == kRecPrefix && std::strcmp(kOperatorTable[r->value].token, "-") == 0;
  // A power or transpose after it binds tighter than the minus.
  const char after = at(next_nonblank(p_));
  if (!lit->is_unsigned && lit->bits == signed_max + 1 && negated && after != '^' && after != '.' &&
      after != '\'') {
    --nrec_;
    lit->bits = ~signed_max;  // two's complement of the minimum
    return;
  }
  if (bits == 64) return;
  const uint64_t mask = (uint64_t{1} << bits) - 1;
  uint64_t low = lit->bits & mask;
  if (!lit->is_unsigned && (low >> (bits - 1)) != 0) low |= ~mask;  // sign-extended
  lit->bits = low;
}

int ExprCompiler::number() {
  NumberLiteral lit;
  int32_t bad = 0;
  const int status = lex_number(t_, n_, &p_, &lit, &bad);
  if (status == kUnrecognizedToken) return u_.fail(status, bad);
  TN_TRY(status);
  if (lit.is_integer) {
    integer_literal_low_bytes(&lit);
    const bool u = lit.is_unsigned;
    const int64_t s = int64_t(lit.bits);
    uint16_t op;
    switch (lit.int_bits) {
      case 8: return emit_op1(u ? kOpPushSmallUint8 : kOpPushSmallInt8, uint16_t(lit.bits), 1);
      case 16: return emit_op1(u ? kOpPushSmallUint16 : kOpPushSmallInt16, uint16_t(lit.bits), 1);
      case 32: {
        const int64_t v = u ? int64_t(uint32_t(lit.bits)) : int64_t(int32_t(lit.bits));
        if (v >= INT16_MIN && v <= INT16_MAX)
          return emit_op1(u ? kOpPushSmallUint32 : kOpPushSmallInt32, uint16_t(v), 1);
        op = u ? kOpPushUint32 : kOpPushInt32;
        TN_TRY(u_.emit3(op, uint16_t(lit.bits), uint16_t(lit.bits >> 16)));
        ++sp_;
        return kOk;
      }
      default: {
        const bool fits = u ? lit.bits <= uint64_t(INT16_MAX) : (s >= INT16_MIN && s <= INT16_MAX);
        if (fits) return emit_op1(u ? kOpPushSmallUint64 : kOpPushSmallInt64, uint16_t(lit.bits), 1);
        TN_TRY(u_.need(5));
        u_.code[u_.pos++] = u ? kOpPushUint64 : kOpPushInt64;
        for (int k = 0; k < 4; ++k) u_.code[u_.pos++] = uint16_t(lit.bits >> (16 * k));
        ++sp_;
        return kOk;
      }
    }
  }
  const double v = lit.value;
  uint16_t op;
  if (lit.single) {
    op = lit.imaginary ? kOpPushImagSingle : kOpPushSingle;
  } else if (v == 0) {
    return emit_word_op(kOpPushZero, 1);
  } else if (v == 1) {
    return emit_word_op(lit.imaginary ? kOpI : kOpPushOne, 1);
  } else if (lit.plain_integer && v >= INT16_MIN && v <= INT16_MAX && v == std::floor(v)) {
    return emit_op1(lit.imaginary ? kOpPushImagInt16 : kOpPushInt16, uint16_t(int16_t(v)), 1);
  } else {
    op = lit.imaginary ? kOpPushImagDouble : kOpPushDouble;
  }
  TN_TRY(u_.align_for_double());
  TN_TRY(u_.need(5));
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  u_.code[u_.pos++] = op;
  for (int k = 0; k < 4; ++k) u_.code[u_.pos++] = uint16_t(bits >> (16 * k));
  ++sp_;
  return kOk;
}

int ExprCompiler::string_literal() {
  int32_t length = 0;
  bool wide = false;
  const int status = lex_string(u_.ctx, t_, n_, &p_, u_.chars, u_.chars_capacity, &length, &wide);
  // The scratch is cut from the free data-stack space: a string it cannot
  // hold below the longest string there is wants room, not a shorter text.
  if (status == kExpressionTooLarge && u_.chars_capacity < kMaxStringChars) u_.scratch_short = true;
  TN_TRY(status);
  return emit_string(u_.chars, length, wide || u_.wide_strings);
}

int ExprCompiler::user_call_or_record(int32_t id, int32_t q) {
  // q: the text after the name. "f(" opens an argument list; a bare name or
  // "f()" is a call without arguments.
  const int32_t r = next_nonblank(q);
  if (at(r) == '(') {
    const int32_t inside = next_nonblank(r + 1);
    if (at(inside) != ')') {
      Rec rec;
      rec.kind = kRecCallUser;
      rec.value = id;
      rec.text = r + 1;
      p_ = r + 1;
      return push(rec);
    }
    q = inside + 1;
  }
  p_ = q;
  const int nargout = call_nargout(q);
  TN_TRY(emit_user_call(id, 0, nargout));
  note_call(q, nargout);
  expect_operand_ = false;
  return kOk;
}

int ExprCompiler::identifier() {
  const int32_t q = lex_identifier_end(t_, n_, p_);
  const int32_t len = q - p_;
  const char* name = t_ + p_;
  if (len > kMaxIdentifier) return u_.fail_named(kNameTooLong, name, len, len);
  char name0[kMaxIdentifier + 1];
  std::memcpy(name0, name, size_t(len));
  name0[len] = 0;
  const int32_t r = next_nonblank(q);
  const char follow = at(r);

  // 1. A local variable, or a parameter of an enclosing anonymous function.
  int32_t slot = anonymous_parameter(name, len) ? kAnonParamSlot : u_.find_name(name, len);
  if (slot != -1) {
    const bool subscripted =
        follow == '(' || follow == '{' || (follow == '.' && (lex_ident_start(at(r + 1)) || at(r + 1) == '('));
    const bool first = u_.pos == start_ && nrec_ == 0;
    if (first) {
      var_pos_ = u_.pos;
      var_slot_ = slot;
    }
    p_ = q;
    expect_operand_ = false;
    if (subscripted) {
      Rec rec;
      rec.prec = kVariablePrecedence;
      rec.kind = target_ && nrec_ == 0 ? kRecVarTarget : kRecVarRead;
      rec.value = slot;
      TN_TRY(push(rec));
      return emit_op1(rec.kind == kRecVarTarget ? kOpPushRefTarget : kOpPushRef, uint16_t(slot), 1);
    }
    return emit_op1(kOpLoadLocal, uint16_t(slot), 1);
  }

  // 2. A user function visible from this library.
  int32_t id = fn_find_user(u_.ctx, name, len, nullptr, 0, u_.library, 1, nullptr);
  if (id > 0) {
    TN_TRY(mark_referenced(id));
    return user_call_or_record(id, q);
  }

  // 3. The index words.
  static constexpr struct {
    const char* word;
    uint16_t op;
    int missing;
  } kIndexWords[] = {
      {"beginning", kOpIndexBeginning, kMisplacedBeginning},
      {"end", kOpIndexEnd, kMisplacedEnd},
      {"matrixrow", kOpIndexMatrixrow, kMisplacedMatrixrow},
      {"matrixcol", kOpIndexMatrixcol, kMisplacedMatrixcol},
  };
  for (const auto& w : kIndexWords) {
    if (std::strcmp(name0, w.word) != 0) continue;
    const Rec* sub = nullptr;
    for (int32_t i = nrec_ - 1; i >= 0 && !sub; --i)
      if (recs_[i].kind == kRecSubscript || recs_[i].kind == kRecBrace) sub = &recs_[i];
    if (!sub) return u_.fail(w.missing);
    const bool single = sub->extra == 1;
    if (w.op == kOpIndexMatrixrow && !(single || sub->count == 0)) return u_.fail(kWrongIndexWord);
    if (w.op == kOpIndexMatrixcol && !(single || sub->count == 1)) return u_.fail(kWrongIndexWord);
    if (sp_ - sub->sp > kMaxOperandCount) return u_.fail(kCompilationOverflow);
    TN_TRY(u_.need(4));
    u_.code[u_.pos++] = w.op;
    u_.code[u_.pos++] = uint16_t(sp_ - sub->sp);
    u_.code[u_.pos++] = uint16_t(sub->count + 1);
    u_.code[u_.pos++] = uint16_t(sub->extra);
    ++sp_;
    p_ = q;
    expect_operand_ = false;
    return kOk;
  }

  // 4. A registered library row. A method of a library class (positive class
  // word) is reached through its objects only: called by opcode it refuses
  // every plain value, so it must not hide the intrinsic of the same name.
  int32_t k = 0;
  const BuiltinEntry* row = lib_find_builtin(u_.ctx, name0, nullptr, 0, &k);
  int32_t method_k = row ? k : 0;
  const BuiltinEntry* method_row = row;
  while (row && row->class_word >= 1) row = lib_find_builtin(u_.ctx, name0, row, 0, &k);
  auto library_call = [&](const BuiltinEntry* found, int32_t index) -> int {
    if (follow == '(') {
      Rec rec;
      rec.kind = kRecCallLibrary;
      rec.value = index;
      rec.text = r + 1;
      p_ = r + 1;
      return push(rec);
    }
    if (found->min_in != 0) return u_.fail_named(kWrongNargin, name, len, 0);
    p_ = q;
    const int nargout = call_nargout(q);
    if (nargout >= 0 && !row_fits(found, 0, nargout)) return u_.fail_named(kWrongNargout, name, len, nargout);
    int result = 0;
    TN_TRY(emit_library(index, found, 0, nargout, &result));
    note_call(q, result);
    expect_operand_ = false;
    return kOk;
  };
  if (row) return library_call(row, k);

  // 5. An intrinsic.
  if (const IntrinsicEntry* e = intrinsic_find(name0)) {
    if (follow == '(') {
      Rec rec;
      rec.kind = kRecCallIntrinsic;
      rec.value = int32_t(e - kIntrinsicTable);
      rec.text = r + 1;
      p_ = r + 1;
      return push(rec);
    }
    if (argc_min(e->in_args) != 0) return u_.fail_named(kWrongNargin, name, len, 0);
    p_ = q;
    int result = 0;
    TN_TRY(emit_intrinsic(e, 0, call_nargout(q), &result));
    note_call(q, result);
    expect_operand_ = false;
    return kOk;
  }

  // 5b. A name that only a library class has (qnorm, q2mat, ...): the call
  // refuses plain values and the overload finds the method through the object.
  if (method_row) return library_call(method_row, method_k);

  // 6. A method of some user class: which one is decided when the call runs,
  // from the class of an object argument (the call by the method's entry
  // resolves its name then, as every call by name does).
  id = fn_find_user(u_.ctx, name, len, nullptr, -1, u_.library, 1, nullptr);
  if (id > 0 && ent(u_.ctx, id, kEntExtra) != 0) return user_call_or_record(id, q);

  // 7. Unknown: a function defined later, or an error.
  if (!u_.forward_refs) {
    if (in_anonymous_body()) return user_call_or_record(0, q);  // "inline" compiles the body again
    id = find_any_library_function(name, len);
    if (id > 0) {
      TN_TRY(mark_referenced(id));
      return user_call_or_record(id, q);
    }
    return u_.fail_named(kUnknownFunction, name, len, len);
  }
  TN_TRY(fn_table_define(u_.ctx, name, len, nullptr, 0, u_.library, 0, 0, kNoLibrary, &id));
  TN_TRY(u_.need(0));
  TN_TRY(mark_referenced(id));
  return user_call_or_record(id, q);
}

int ExprCompiler::function_reference() {
  int32_t q = p_ + 1;
  if (at(q) == '(') {
    // "@(" parameters ")" body
    int32_t e = q + 1;
    for (;;) {
      e = next_nonblank(e);
      if (at(e) == ')') break;
      if (!lex_ident_start(at(e))) return u_.fail(kBadAnonymousFunction);
      e = next_nonblank(lex_identifier_end(t_, n_, e));
      if (at(e) == ',') {
        ++e;
        continue;
      }
      if (at(e) != ')') return u_.fail(kBadAnonymousFunction);
    }
    const int32_t body = next_nonblank(e + 1);
    if (body >= n_ || at(body) == ',' || at(body) == ';' || at(body) == ')' || at(body) == ']' || at(body) == '}')
      return u_.fail(kBadAnonymousFunction);
    Rec rec;
    rec.prec = kAnonymousPrecedence;
    rec.kind = kRecAnonymous;
    rec.text = q + 1;
    rec.text2 = e;
    rec.extra = body;
    rec.sp = sp_;
    rec.code = u_.pos;
    p_ = body;
    return push(rec);
  }
  if (!lex_ident_start(at(q))) return u_.fail(kBadFunctionReference, q < n_ ? uint8_t(t_[q]) : -1);
  int32_t e = lex_identifier_end(t_, n_, q);
  if (at(e) == ':' && at(e + 1) == ':' && lex_ident_start(at(e + 2))) e = lex_identifier_end(t_, n_, e + 2);
  TN_TRY(emit_text_string(t_ + q, e - q));
  TN_TRY(emit_word_op(kOpStr2fun, 0));
  p_ = e;
  expect_operand_ = false;
  return kOk;
}

// ":" where an operand is expected: a whole-dimension subscript, or x{:}.
int ExprCompiler::colon_operand() {
  Rec* r = top();
  const char after = at(next_nonblank(p_ + 1));
  if (r && r->kind == kRecSubscript && (after == ',' || after == ')')) {
    p_ = p_ + 1;
    expect_operand_ = false;
    if (r->count < kMaxColonSubscripts) {
      r->aux |= 1 << r->count;
      return kOk;
    }
    // Past the mask's bits: the place is held by a value, so that the index
    // counts its subscripts right and refuses them when it runs (a try
    // catches that), as it refuses any other seventeenth subscript.
    return emit_word_op(kOpPushEmpty, 1);
  }
  if (!(r && r->kind == kRecBrace && after == '}')) return u_.fail(kUnexpectedColon);
  // x{:}: the list becomes the argument list of the call below.
  const int32_t below = nrec_ - 2;
  int32_t call = below;
  if (call >= 0 && recs_[call].kind == kRecVarRead) --call;
  if (call < 0 || !is_call(recs_[call].kind) || r->count != 0) return u_.fail(kMisplacedListFlattening);
  --nrec_;  // the brace record
  if (top()->kind == kRecVarRead) {
    TN_TRY(emit_word_op(kOpDeref, 0));
    --nrec_;
  }
  Rec& c = *top();
  if (c.kind == kRecFlatCall) {
    // Arguments before this one are in the list already (each "," appends).
    TN_TRY(emit_op1(kOpJoin, 2, -1));
  } else {
    if (c.count > 0) TN_TRY(emit_op1(kOpListFlatten, uint16_t(c.count + 1), -c.count));
    const char* name;
    int32_t len;
    if (c.kind == kRecCallIntrinsic) {
      name = kIntrinsicTable[c.value].name;
      len = int32_t(strnlen(name, sizeof kIntrinsicTable[0].name));
    } else if (c.kind == kRecCallLibrary) {
      const BuiltinEntry* row = lib_entry_by_index(u_.ctx, c.value);
      name = row->name;
      len = int32_t(strnlen(name, sizeof row->name));
    } else {
      name = symtab_name(u_.ctx, ent(u_.ctx, c.value, kEntName), &len);
      if (!name) return u_.fail(kMisplacedListFlattening);
    }
    int32_t symbol = 0;
    TN_TRY(intern(name, len, &symbol));
    c.kind = kRecFlatCall;
    c.value = symbol;
  }
  c.aux = 1;  // the current argument is already in the list
  p_ = next_nonblank(p_ + 1) + 1;
  expect_operand_ = false;
  return kOk;
}

// ")" where an operand is expected: only "name()" with nothing inside.
int ExprCompiler::close_empty_call() {
  Rec* r = top();
  if (!r || r->count != 0 || next_nonblank(r->text) != p_ ||
      !(r->kind == kRecCallIntrinsic || r->kind == kRecCallLibrary || r->kind == kRecCallUser))
    return u_.fail(kIncompleteExpression);
  const Rec rec = *r;
  --nrec_;
  ++p_;
  return close_call(rec, 0);
}

int ExprCompiler::operand() {
  const char c = t_[p_];
  if (lex_digit(c) || (c == '.' && lex_digit(at(p_ + 1)))) {
    TN_TRY(number());
    expect_operand_ = false;
    return kOk;
  }
  if (c == '\'') {
    TN_TRY(string_literal());
    expect_operand_ = false;
    return kOk;
  }
  if (lex_ident_start(c)) return identifier();
  switch (c) {
    case '(': {
      Rec rec;
      rec.kind = kRecGroup;
      ++p_;
      return push(rec);
    }
    case '[': {
      const int32_t q = next_nonblank(p_ + 1);
      if (at(q) == ']') {
        p_ = q + 1;
        expect_operand_ = false;
        return emit_word_op(kOpPushEmpty, 1);
      }
      Rec rec;
      rec.kind = kRecMatrix;
      p_ = p_ + 1;
      return push(rec);
    }
    case '{': {
      const int32_t q = next_nonblank(p_ + 1);
      if (at(q) == '}') {
        p_ = q + 1;
        expect_operand_ = false;
        return emit_op1(kOpMakeList, 0, 1);
      }
      Rec outer;
      outer.kind = kRecCellOuter;
      TN_TRY(push(outer));
      Rec row;
      row.prec = kCellRowPrecedence;
      row.kind = kRecCellRow;
      row.sp = sp_;
      p_ = p_ + 1;
      return push(row);
    }
    case '@':
      return function_reference();
    case ':':
      return colon_operand();
    case ')':
      return close_empty_call();
    case ',':
      return u_.fail(kUnexpectedComma);
    case ';':
      return u_.fail(kUnexpectedSemicolon);
    case ']':
      return u_.fail(kUnexpectedRightBracket);
    case '}':
      return u_.fail(kUnexpectedRightBrace);
    default:
      break;
  }
  for (int32_t row = 0; kOperatorTable[row].kind != kOperatorEnd; ++row) {
    const OperatorEntry& op = kOperatorTable[row];
    if (op.kind != kOperatorPrefix) continue;
    const int32_t len = int32_t(std::strlen(op.token));
    if (n_ - p_ < len || std::memcmp(t_ + p_, op.token, size_t(len)) != 0) continue;
    Rec rec;
    rec.prec = int32_t(op.precedence);
    rec.kind = kRecPrefix;
    rec.value = row;
    p_ += len;
    return push(rec);
  }
  return u_.fail(kUnrecognizedToken, uint8_t(c));
}

// ---- after an operand -------------------------------------------------------

int ExprCompiler::open_paren_after_value() {
  Rec* r = top();
  const int32_t inside = next_nonblank(p_ + 1);
  const bool empty = at(inside) == ')';
  const bool no_record = nrec_ == 0 || (nrec_ == 1 && r->kind == kRecVarRead);
  if (empty || (no_record && requested_ > 1 && !target_)) {
    // A function value called: feval with the value as its first argument.
    if (r && r->kind == kRecVarRead) {
      TN_TRY(emit_word_op(kOpDeref, 0));
      --nrec_;
    }
    const IntrinsicEntry* feval = intrinsic_by_opcode(kOpFeval);
    if (empty) {
      p_ = inside + 1;
      const int nargout = call_nargout(p_);
      int result = 0;
      TN_TRY(emit_intrinsic(feval, 1, nargout, &result));
      note_call(p_, result);
      return kOk;
    }
    Rec rec;
    rec.kind = kRecCallIntrinsic;
    rec.value = int32_t(feval - kIntrinsicTable);
    rec.count = 1;  // the value is the first argument
    rec.text = p_ + 1;
    p_ = p_ + 1;
    expect_operand_ = true;
    return push(rec);
  }
  Rec rec;
  rec.kind = kRecSubscript;
  rec.value = kOpIndexRead;
  if (r && (r->kind == kRecVarRead || r->kind == kRecVarTarget)) {
    rec.value = r->kind == kRecVarRead ? kOpIndexRefRead : kOpIndexAssign;
    --nrec_;
  }
  rec.sp = sp_;
  rec.text = p_ + 1;
  rec.extra = expr_count_toplevel_items(t_, n_, p_ + 1);
  p_ = p_ + 1;
  expect_operand_ = true;
  return push(rec);
}

int ExprCompiler::range_or_branch() {
  TN_TRY(compile_reduce_operators(kRangeLevel));
  Rec* r = top();
  if (r && r->kind == kRecJump && r->value == kRowConditional && r->count == 0) {
    // The ":" of "c ? a : b" closes the true branch.
    const int64_t operand = u_.pos + 1;
    TN_TRY(u_.emit2(kOpJump, kPendingJump));
    --sp_;
    TN_TRY(patch_jump(u_, r->aux, u_.pos));
    r->aux = int32_t(operand);
    r->count = 1;
  } else if (r && r->kind == kRecRange && r->count == 0) {
    r->count = 1;
  } else {
    if (r && r->kind == kRecRange) TN_TRY(compile_reduce_operators(kOperatorTable[kRowColon].precedence));  // a:b:c:d is (a:b:c):d
    Rec rec;
    rec.prec = int32_t(kOperatorTable[kRowColon].precedence);
    rec.kind = kRecRange;
    TN_TRY(push(rec));
  }
  ++p_;
  expect_operand_ = true;
  return kOk;
}

int ExprCompiler::short_circuit(int32_t row) {
  const OperatorEntry& op = kOperatorTable[row];
  const int32_t prec = int32_t(op.precedence);
  p_ += int32_t(std::strlen(op.token));
  expect_operand_ = true;
  if (row == kRowConditional) {
    TN_TRY(compile_reduce_operators(kRangeLevel));
    const int64_t operand = u_.pos + 1;
    TN_TRY(u_.emit2(kOpJumpIfFalse, kPendingJump));
    --sp_;
    Rec rec;
    rec.prec = prec;
    rec.kind = kRecJump;
    rec.value = row;
    rec.aux = int32_t(operand);
    return push(rec);
  }
  const uint16_t opcode = row == kRowOrElse ? kOpOrElse : kOpAndThen;
  TN_TRY(compile_reduce_operators(prec + 1));
  Rec* r = top();
  const int64_t operand = u_.pos + 1;
  if (r && r->kind == kRecJump && r->value == row) {
    // a || b || c: one chain, patched once at its end.
    int64_t head = r->aux;
    TN_TRY(u_.emit2(opcode, kPendingJump));
    TN_TRY(chain_link(u_, &head, operand));
    r->aux = int32_t(head);
    --sp_;
    return kOk;
  }
  TN_TRY(compile_reduce_operators(prec));
  TN_TRY(u_.emit2(opcode, kPendingJump));
  --sp_;
  Rec rec;
  rec.prec = prec;
  rec.kind = kRecJump;
  rec.value = row;
  rec.aux = int32_t(operand);
  return push(rec);
}

int ExprCompiler::separator(char c) {
  ++p_;
  expect_operand_ = true;
  if (c == ',') {
    TN_TRY(compile_reduce_operators(kSeparatorLevel));
    Rec* r = top();
    if (!r) return u_.fail(kUnexpectedComma);
    switch (r->kind) {
      case kRecMatrix:
      case kRecBinary: {
        Rec rec;
        rec.prec = int32_t(kOperatorTable[kRowHorzcat].precedence);
        rec.kind = kRecBinary;
        rec.value = kRowHorzcat;
        return push(rec);
      }
      case kRecFlatCall:
        if (r->aux == 0) TN_TRY(emit_word_op(kOpListAppend, -1));
        r->aux = 0;
        return kOk;
      case kRecCellRow: case kRecCallIntrinsic: case kRecCallLibrary: case kRecCallUser: case kRecSubscript:
      case kRecBrace:
        // The items are counted into one operand word (a call's nargin,
        // make_list's count, the subscript count). Subscripts past the
        // sixteenth are refused when the instruction runs, where a try sees it.
        if (r->count + 2 > kMaxOperandCount)
          return u_.fail(is_call(r->kind) ? int(kTooManyInputs) : int(kCompilationOverflow));
        ++r->count;
        return kOk;
      default:
        return u_.fail(kUnexpectedComma);
    }
  }
  TN_TRY(compile_reduce_operators(kRowLevel));
  Rec* r = top();
  int32_t inner = nrec_ - 1;
  while (inner >= 0 && recs_[inner].kind == kRecBinary) --inner;
  if (!r || inner < 0 || (recs_[inner].kind != kRecMatrix && recs_[inner].kind != kRecCellOuter))
    return u_.fail(kUnexpectedSemicolon);
  Rec rec;
  rec.prec = int32_t(kOperatorTable[kRowVertcat].precedence);
  rec.kind = kRecBinary;
  rec.value = kRowVertcat;
  TN_TRY(push(rec));
  if (recs_[inner].kind == kRecCellOuter) {
    Rec row;
    row.prec = kCellRowPrecedence;
    row.kind = kRecCellRow;
    row.sp = sp_;
    TN_TRY(push(row));
  }
  return kOk;
}

int ExprCompiler::close_call(Rec r, int nargin) {
  const int32_t q = p_;
  int nargout = call_nargout(q);
  int result = nargout;
  switch (r.kind) {
    case kRecCallIntrinsic:
      TN_TRY(emit_intrinsic(&kIntrinsicTable[r.value], nargin, nargout, &result));
      break;
    case kRecCallLibrary: {
      const BuiltinEntry* row = lib_entry_by_index(u_.ctx, r.value);
      TN_TRY(emit_library(r.value, row, nargin, nargout, &result));
      break;
    }
    case kRecCallUser:
      TN_TRY(emit_user_call(r.value, nargin, nargout));
      result = nargout;
      break;
    default:
      return u_.fail(kUnexpectedRightParen);
  }
  note_call(q, result);
  expect_operand_ = false;
  return kOk;
}

int ExprCompiler::closer(char c) {
  TN_TRY(compile_reduce_operators(kClosingLevel));
  Rec* r = top();
  if (c == ')') {
    if (!r) return u_.fail(kUnexpectedExprEnd);
    const Rec rec = *r;
    switch (rec.kind) {
      case kRecGroup:
        --nrec_;
        ++p_;
        return kOk;
      case kRecCallIntrinsic:
      case kRecCallLibrary:
      case kRecCallUser:
        --nrec_;
        ++p_;
        return close_call(rec, rec.count + 1);
      case kRecSubscript: {
        --nrec_;
        ++p_;
        const int nsubs = rec.count + 1;
        const int pushed = nsubs - __builtin_popcount(uint32_t(rec.aux));
        // Parenthesis assignment completes the target: nothing may follow it.
        if (rec.value == kOpIndexAssign && more_text(p_)) return u_.fail(kBadAssignmentTarget);
        TN_TRY(u_.emit3(uint16_t(rec.value), uint16_t(nsubs), uint16_t(rec.aux)));
        // A read leaves the selection; an assignment consumes the reference too.
        sp_ -= pushed + (rec.value == kOpIndexAssign ? 1 : 0);
        return kOk;
      }
      case kRecDynField:
        --nrec_;
        ++p_;
        return emit_word_op(kOpRefDynfield, -1);
      case kRecFlatCall: {
        --nrec_;
        ++p_;
        if (rec.aux == 0) TN_TRY(emit_word_op(kOpListAppend, -1));
        int32_t len = 0;
        const char* name = symtab_name(u_.ctx, rec.value, &len);
        if (name && len == 5 && std::memcmp(name, "feval", 5) == 0) {
          TN_TRY(emit_word_op(kOpPushEmpty, 1));
        } else {
          TN_TRY(emit_text_string(name, len));
        }
        const int nargout = call_nargout(p_);
        TN_TRY(emit_op1(kOpCallNamed, uint16_t(nargout), (nargout < 0 ? 1 : nargout) - 2));
        note_call(p_, nargout);
        return kOk;
      }
      default:
        return u_.fail(kUnexpectedRightParen);
    }
  }
  if (c == ']') {
    if (!r || r->kind != kRecMatrix) return u_.fail(kUnexpectedRightBracket);
    --nrec_;
    ++p_;
    return kOk;
  }
  if (!r) return u_.fail(kUnexpectedRightBrace);
  if (r->kind == kRecCellOuter) {
    --nrec_;
    ++p_;
    return kOk;
  }
  if (r->kind == kRecBrace) {
    const int32_t nsubs = r->count + 1;
    --nrec_;
    ++p_;
    return emit_op1(kOpRefElement, uint16_t(nsubs), -nsubs);
  }
  return u_.fail(kUnexpectedRightBrace);
}

int ExprCompiler::after_operand() {
  const char c = t_[p_];
  const char c1 = at(p_ + 1);
  switch (c) {
    case '(':
      return open_paren_after_value();
    case '{': {
      Rec rec;
      rec.kind = kRecBrace;
      rec.value = kOpRefElement;
      rec.sp = sp_;
      rec.text = p_ + 1;
      rec.extra = expr_count_toplevel_items(t_, n_, p_ + 1);
      p_ = p_ + 1;
      expect_operand_ = true;
      return push(rec);
    }
    case ':':
      return range_or_branch();
    case '?':
      return short_circuit(kRowConditional);
    case ',':
    case ';':
      return separator(c);
    case ')':
    case ']':
    case '}':
      return closer(c);
    default:
      break;
  }
  if (c == '|' && c1 == '|') return short_circuit(kRowOrElse);
  if (c == '&' && c1 == '&') return short_circuit(kRowAndThen);
  if (c == '.' && c1 == '(') {
    Rec rec;
    rec.kind = kRecDynField;
    rec.value = kOpRefDynfield;
    p_ += 2;
    expect_operand_ = true;
    return push(rec);
  }
  if (c == '.' && lex_ident_start(c1)) {
    const int32_t s = p_ + 1;
    const int32_t e = lex_identifier_end(t_, n_, s);
    if (e - s > kMaxIdentifier) return u_.fail_named(kNameTooLong, t_ + s, e - s, e - s);
    int32_t symbol = 0;
    TN_TRY(intern(t_ + s, e - s, &symbol));
    p_ = e;
    return emit_op1(kOpRefField, uint16_t(symbol), 0);
  }
  for (int32_t row = kFirstPlainRow; kOperatorTable[row].kind != kOperatorEnd; ++row) {
    const OperatorEntry& op = kOperatorTable[row];
    if (op.kind != kOperatorBinary && op.kind != kOperatorPostfix) continue;
    const int32_t len = int32_t(std::strlen(op.token));
    if (n_ - p_ < len || std::memcmp(t_ + p_, op.token, size_t(len)) != 0) continue;
    TN_TRY(compile_reduce_operators(int32_t(op.precedence)));
    p_ += len;
    if (op.kind == kOperatorPostfix) return compile_emit_operator_call(row, 1);
    Rec rec;
    rec.prec = int32_t(op.precedence);
    rec.kind = kRecBinary;
    rec.value = row;
    expect_operand_ = true;
    return push(rec);
  }
  if (lex_ident_char(c) || c == '\'') return u_.fail(kSyntaxError);
  return u_.fail(kUnrecognizedToken, uint8_t(c));
}

// ---- reduction ----------------------------------------------------------------

int ExprCompiler::build_anonymous(const Rec& r) {
  // The body's code gives way to the text it came from, the parameter names
  // and the values of the workspace variables the body reads.
  int32_t slots[kMaxCaptures];
  int ncap = 0;
  for (int64_t q = r.code; q < u_.pos;) {
    const uint16_t op = u_.code[q];
    if ((op == kOpLoadLocal || op == kOpPushRef) && int16_t(u_.code[q + 1]) >= 0) {
      const int32_t slot = int16_t(u_.code[q + 1]);
      bool seen = false;
      for (int k = 0; k < ncap && !seen; ++k) seen = slots[k] == slot;
      if (!seen) {
        if (ncap >= kMaxCaptures) return u_.fail(kTooManySubexpressions);
        slots[ncap++] = slot;
      }
    }
    q += op >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(u_.code + q);
  }
  int32_t body_end = token_;
  while (body_end > r.extra && lex_blank(t_[body_end - 1])) --body_end;
  u_.pos = r.code;
  sp_ = r.sp;
  TN_TRY(emit_text_string(t_ + r.extra, body_end - r.extra));
  int nparams = 0;
  for (int32_t q = r.text; q < r.text2;) {
    if (!lex_ident_start(t_[q])) {
      ++q;
      continue;
    }
    const int32_t e = lex_identifier_end(t_, r.text2, q);
    TN_TRY(emit_text_string(t_ + q, e - q));
    ++nparams;
    q = e;
  }
  for (int k = 0; k < ncap; ++k) {
    const char* name = reinterpret_cast<const char*>(u_.name_entry(slots[k]));
    TN_TRY(emit_text_string(name, name_length(name)));
    TN_TRY(emit_op1(kOpLoadLocal, uint16_t(slots[k]), 1));
  }
  if (ncap > 0) TN_TRY(emit_op1(kOpStruct, uint16_t(2 * ncap), 1 - 2 * ncap));
  const int nargs = 1 + nparams + (ncap > 0 ? 1 : 0);
  if (nargs > kMaxOperandCount) return u_.fail(kTooManyInputs);
  return emit_op1(kOpInline, uint16_t(nargs), 1 - nargs);
}

int ExprCompiler::reduce_one(const Rec& r) {
  switch (r.kind) {
    case kRecBinary:
      return compile_emit_operator_call(r.value, 2);
    case kRecPrefix:
      return compile_emit_operator_call(r.value, 1);
    case kRecRange:
      return compile_emit_operator_call(kRowColon, r.count + 2);
    case kRecJump:
      if (r.value == kRowConditional) {
        if (r.count == 0) return u_.fail(kWrongNargin);  // "?" without ":"
        return patch_jump(u_, r.aux, u_.pos);
      }
      return chain_patch(u_, r.aux, u_.pos);
    case kRecCellRow:
      return emit_op1(kOpMakeList, uint16_t(r.count + 1), -r.count);
    case kRecAnonymous:
      return build_anonymous(r);
    case kRecVarRead:
      return emit_word_op(kOpDeref, 0);
    case kRecVarTarget:
      return emit_word_op(kOpRefAssign, -1);
    default:
      return kOk;
  }
}

int ExprCompiler::compile_reduce_operators(int32_t level) {
  while (nrec_ > 0) {
    const Rec& r = recs_[nrec_ - 1];
    if (stopping(r.kind) || r.prec < level) break;
    const Rec rec = r;
    --nrec_;
    TN_TRY(reduce_one(rec));
  }
  return kOk;
}

// ---- the scan -------------------------------------------------------------------

int ExprCompiler::run(ExprResult* out) {
  for (;;) {
    skip_blanks();
    token_ = p_;
    if (nrec_ + kRecordHeadroom >= kRecordCapacity) return u_.fail(kTooManySubexpressions);
    if (p_ >= n_) {
      if (expect_operand_) return u_.fail(kIncompleteExpression);
      break;
    }
    TN_TRY(expect_operand_ ? operand() : after_operand());
  }
  token_ = n_;
  TN_TRY(compile_reduce_operators(0));
  if (nrec_ > 0) return u_.fail(kIncompleteExpression);

  int count = u_.pos == end_call_pos_ ? end_call_count_ : 1;
  if (requested_ >= 1 && count < requested_) {
    if (what_) return u_.fail_named(kWrongNargout, what_, int32_t(std::strlen(what_)), count);
    return u_.fail(kWrongNargout);
  }

  // "assert(...)" alone vanishes under the optimisation flag.
  bool dropped = false;
  if (u_.opt_flag && u_.pos == end_call_pos_ && u_.pos - start_ >= 2) {
    int32_t q = next_nonblank(0);
    if (lex_match_keyword(t_, n_, &q, "assert") && u_.code[end_call_pos_ - 2] == kOpAssert) {
      u_.pos = start_;
      count = 0;
      dropped = true;
    }
  }
  if (u_.opt_level >= 4 && !dropped) code_simplify_expression(u_.code, start_, &u_.pos);
  out->count = count;
  out->var_pos = var_pos_;
  out->var_slot = var_slot_;
  out->dropped = dropped;
  return kOk;
}

}  // namespace

int compile_expression(Unit& u, const char* text, int32_t length, int requested, bool statement, bool target,
                       ExprResult* result, const char* what) {
  ExprCompiler c(u, text, length, requested, statement, target, what);
  *result = ExprResult{};
  return c.run(result);
}

}  // namespace tncomp
