// The statement compiler: reads the statements of a function or of top-level
// code into a list in the free data-stack space (normalising their text and
// collecting every assigned name as a local first, so that a variable read
// before its assignment in the text is still known), then generates the code
// of each statement and the control flow of the blocks. Every forward jump is
// patched through a chain of its unpatched operands and checked to fit.
#include <cstdio>
#include <cstring>

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

int32_t Unit::find_name(const char* text, int32_t length) const {
  return varname_table_find(names, name_count, text, length);
}

int Unit::add_name(const char* text, int32_t length, int32_t* slot) {
  if (length > kIdentifierLimit) return fail_named(kNameTooLong, text, length, length);
  const int32_t found = find_name(text, length);
  if (found >= 0) {
    *slot = found;
    return kOk;
  }
  if (name_count >= name_capacity) return kVariableTableOverflow;
  uint8_t* e = names + int64_t(name_count) * kNameBytes;
  std::memset(e, 0, kNameBytes);
  std::memcpy(e, text, size_t(length));
  *slot = name_count++;
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

// ---- statement records -----------------------------------------------------------

enum StmtKind : int32_t {
  kStSilent = 0,  // expression statement ending in ";"
  kStShown = 1,
  kStIf = 3,
  kStElseif = 4,
  kStElse = 5,
  kStEnd = 6,
  kStSwitch = 7,
  kStCase = 8,
  kStOtherwise = 9,
  kStFor = 10,
  kStWhile = 11,
  kStRepeat = 12,
  kStUntil = 13,
  kStBreak = 14,
  kStContinue = 15,
  kStReturn = 16,
  kStTry = 18,
  kStCatch = 19,
  kStGlobal = 20,
  kStPersistent = 21,
  kStValue = 30,  // the expression of a "define": its value is the result
};

struct StmtHeader {
  int32_t kind, line, count, len1, len2;
};
constexpr int64_t kStmtHeaderBytes = sizeof(StmtHeader);
static_assert(kStmtHeaderBytes == 20);

int64_t pad4(int64_t n) { return (n + 3) & ~int64_t(3); }

struct Stmt {
  int32_t kind, line, count;
  const char* t1;
  int32_t n1;
  const char* t2;
  int32_t n2;
};

constexpr int kMaxBracketDepth = 30;
constexpr int kMaxBlocks = 64;
constexpr int32_t kMaxLocals = 4096;

// What the header of the text declares. Outputs take slots 0.. in order; an
// input takes the slot of the output of its name, else the next new slot.
struct Header {
  bool seen = false;
  bool define = false;
  bool varargin = false;
  bool varargout = false;
  int32_t outputs = 0;
  int32_t inputs = 0;
  uint16_t input_slot[kMaxLocals] = {};
};
constexpr int32_t kMaxStringChars = 0xFFFF;
constexpr int32_t kVarargoutPushed = 8;  // varargout elements a call can take
constexpr uint16_t kVarargoutElementWords = 7;  // push_ref, push_int16, ref_element, deref

bool operator_char(char c) {
  switch (c) {
    case '+': case '-': case '*': case '/': case '\\': case '^': case '.': case '<': case '>': case '=':
    case '~': case '?': case ':': case '|': case '&': case '!':
      return true;
    default:
      return false;
  }
}

const char* trim(const char* s, int32_t* n) {
  while (*n > 0 && lex_blank(s[0])) {
    ++s;
    --*n;
  }
  while (*n > 0 && lex_blank(s[*n - 1])) --*n;
  return s;
}

// Splits text at top-level commas; calls f(item, length) for each.
template <typename F>
int for_each_item(const char* s, int32_t n, F f) {
  int depth = 0;
  int32_t start = 0;
  char quote_prev = 0;
  for (int32_t i = 0; i <= n; ++i) {
    if (i < n) {
      const char c = s[i];
      if (c == '\'') {
        if (!(lex_ident_char(quote_prev) || quote_prev == ')' || quote_prev == ']' || quote_prev == '}' ||
              quote_prev == '.' || quote_prev == '\'')) {
          for (++i; i < n && s[i] != '\''; ++i)
            if (s[i] == '\\') ++i;
        }
        quote_prev = '\'';
        continue;
      }
      if (!lex_blank(c)) quote_prev = c;
      if (c == '(' || c == '[' || c == '{') ++depth;
      if (c == ')' || c == ']' || c == '}') --depth;
      if (c != ',' || depth != 0) continue;
    }
    TN_TRY(f(s + start, i - start));
    start = i + 1;
  }
  return kOk;
}

// ---- the statement reader -----------------------------------------------------------

class Reader {
 public:
  Reader(Unit& u, const char* t, int32_t n, uint8_t* out, int64_t capacity, Header* header)
      : u_(u), t_(t), n_(n), out_(out), cap_(capacity), header_(header) {}

  int read_all();
  int64_t used() const { return used_; }
  int32_t line() const { return line_; }

 private:
  struct Scan {
    int64_t start = 0;  // output byte offset
    int32_t length = 0;
    int32_t eq = -1;    // offset of the top-level "="
    bool silent = false;
  };

  int compile_read_statement();
  int function_header();
  int define_statement();
  int pragma();
  int names_statement(int32_t kind);
  int expression_statement();
  int record_scanned(const Scan& s, int32_t kind, bool allow_empty);
  bool command_syntax(int32_t name_end);
  int compile_command_syntax_args(int32_t name_end);
  int compile_scan_statement_text(Scan* s, bool header_default);
  int resolve_blank(char c, bool in_brackets, bool operand_end, bool after_anon);
  int assignment(const Scan& s, int32_t kind, bool for_loop);
  int header_names(char close, bool outputs, int32_t* count, bool* var_last);
  bool input_may_share(int32_t slot) const;

  int put(char c) {
    if (used_ + 1 > cap_) return kExpressionTooLarge;
    out_[used_++] = uint8_t(c);
    return kOk;
  }
  int put_text(const char* s, int32_t n) {
    if (used_ + n > cap_) return kExpressionTooLarge;
    std::memcpy(out_ + used_, s, size_t(n));
    used_ += n;
    return kOk;
  }
  // Starts a record whose texts follow; finish_record writes its header.
  int begin_record(int64_t* at) {
    if (used_ + kStmtHeaderBytes > cap_) return kExpressionTooLarge;
    *at = used_;
    used_ += kStmtHeaderBytes;
    return kOk;
  }
  int align_text() {
    while (used_ % 4 != 0) TN_TRY(put(' '));
    return kOk;
  }
  void finish_record(int64_t at, int32_t kind, int32_t count, int32_t len1, int32_t len2) {
    const StmtHeader h{kind, stmt_line_, count, len1, len2};
    std::memcpy(out_ + at, &h, sizeof h);
  }
  int simple_record(int32_t kind) {
    int64_t at = 0;
    TN_TRY(begin_record(&at));
    finish_record(at, kind, 0, 0, 0);
    return kOk;
  }
  int text_record(int32_t kind, int32_t count, const char* a, int32_t na, const char* b, int32_t nb) {
    int64_t at = 0;
    TN_TRY(begin_record(&at));
    TN_TRY(put_text(a, na));
    TN_TRY(align_text());
    TN_TRY(put_text(b, nb));
    TN_TRY(align_text());
    finish_record(at, kind, count, na, nb);
    return kOk;
  }
  // Blanks and continuations on the same line.
  void same_line_blanks() {
    for (;;) {
      while (p_ < n_ && lex_blank(t_[p_])) ++p_;
      if (n_ - p_ >= 3 && std::memcmp(t_ + p_, "...", 3) == 0) {
        int32_t q = p_;
        lex_skip_blanks(u_.ctx, t_, n_, &q, false, &line_);
        p_ = q;
        continue;
      }
      return;
    }
  }
  bool at_word(const char* w, int32_t* end) {
    int32_t q = p_;
    if (!lex_match_keyword(t_, n_, &q, w)) return false;
    *end = q;
    return true;
  }
  // Moves p_ from an opening quote past its closing one ('' and a backslash
  // escape stay inside), or to the end of the line when it is not closed.
  void skip_quoted() {
    ++p_;
    while (p_ < n_ && !lex_line_end(t_[p_])) {
      if (t_[p_] == '\\' && p_ + 1 < n_) {
        p_ += 2;
        continue;
      }
      if (t_[p_] == '\'') {
        if (p_ + 1 < n_ && t_[p_ + 1] == '\'') {
          p_ += 2;
          continue;
        }
        ++p_;
        return;
      }
      ++p_;
    }
  }
  // The statement must end here: 160 when more follows.
  int expect_end() {
    if (lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_) != kSkipStatementEnd) return kUnexpectedExpression;
    return kOk;
  }

  Unit& u_;
  const char* t_;
  int32_t n_;
  uint8_t* out_;
  int64_t cap_;
  int64_t used_ = 0;
  Header* header_;
  int32_t p_ = 0;
  int32_t line_ = 0;
  int32_t stmt_line_ = 0;
  int32_t statements_ = 0;
  bool stop_ = false;
};

int Reader::read_all() {
  line_ = compile_first_line(u_.ctx) + 1;
  u_.line = line_;
  while (!stop_) {
    if (lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_) == kSkipStatementEnd) {
      if (p_ >= n_) break;
      continue;
    }
    if (p_ >= n_) break;
    stmt_line_ = line_;
    u_.line = line_;
    TN_TRY(compile_read_statement());
  }
  u_.line = line_;
  if ((u_.flags & kCompileHeaderExpected) && !header_->seen) return kFunctionHeaderExpected;
  return kOk;
}

int Reader::compile_read_statement() {
  static constexpr struct {
    const char* word;
    int32_t kind;
    char form;  // e: needs an expression; a: stands alone; p: a statement may follow; f: for; n: names
  } kKeywords[] = {
      {"if", kStIf, 'e'},        {"elseif", kStElseif, 'e'},   {"else", kStElse, 'p'},
      {"end", kStEnd, 'a'},      {"switch", kStSwitch, 'e'},   {"case", kStCase, 'e'},
      {"otherwise", kStOtherwise, 'p'}, {"for", kStFor, 'f'}, {"while", kStWhile, 'e'},
      {"repeat", kStRepeat, 'p'}, {"until", kStUntil, 'e'},    {"break", kStBreak, 'a'},
      {"continue", kStContinue, 'a'}, {"return", kStReturn, 'a'}, {"try", kStTry, 'p'},
      {"catch", kStCatch, 'p'},  {"global", kStGlobal, 'n'},   {"persistent", kStPersistent, 'n'},
  };
  int32_t e = 0;
  if (at_word("function", &e)) {
    const bool allowed = (u_.flags & kCompileHeaderExpected) && !header_->seen && statements_ == 0;
    if (!allowed) {
      if (u_.flags & kCompileStopAtHeader) {
        stop_ = true;
        return kOk;
      }
      return kUnexpectedFunctionHeader;
    }
    p_ = e;
    return function_header();
  }
  if (at_word("endfunction", &e)) {
    if (!header_->seen || header_->define) return kUnexpectedEndfunction;
    stop_ = true;
    return kOk;
  }
  if (at_word("define", &e)) {
    const bool allowed = (u_.flags & kCompileDefineAllowed) && !header_->seen && statements_ == 0;
    if (!allowed) return kUnexpectedDefinition;
    p_ = e;
    return define_statement();
  }
  if (at_word("_pragma", &e)) {
    p_ = e;
    return pragma();
  }
  if (at_word("use", &e) || at_word("useifexists", &e)) {
    while (p_ < n_ && !lex_line_end(t_[p_])) ++p_;
    return kOk;
  }
  if (at_word("include", &e) || at_word("includeifexists", &e)) return kIncludeNotPermitted;
  if (at_word("public", &e) || at_word("private", &e)) {
    p_ = e;
    return kOk;  // the rest of the line is read as a statement of its own
  }
  ++statements_;
  for (const auto& k : kKeywords) {
    if (!at_word(k.word, &e)) continue;
    p_ = e;
    switch (k.form) {
      case 'a':
        TN_TRY(simple_record(k.kind));
        return expect_end();
      case 'p':
        TN_TRY(simple_record(k.kind));
        lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_);
        return kOk;
      case 'n':
        return names_statement(k.kind);
      case 'f': {
        Scan s;
        TN_TRY(compile_scan_statement_text(&s, false));
        if (s.eq < 0) return kBadForAssignment;
        return assignment(s, kStFor, true);
      }
      default: {
        Scan s;
        TN_TRY(compile_scan_statement_text(&s, false));
        return record_scanned(s, k.kind, false);
      }
    }
  }
  const int32_t name_end = lex_identifier_end(t_, n_, p_);
  if (name_end > p_ && command_syntax(name_end)) return compile_command_syntax_args(name_end);
  return expression_statement();
}

int Reader::pragma() {
  same_line_blanks();
  if (p_ >= n_ || !lex_ident_start(t_[p_])) return u_.fail(kUnrecognizedToken, p_ < n_ ? uint8_t(t_[p_]) : -1);
  int32_t e = 0;
  if (at_word("line", &e)) {
    p_ = e;
    same_line_blanks();
    int32_t value = 0;
    bool digits = false;
    while (p_ < n_ && lex_digit(t_[p_]) && value < 100000000) {
      value = value * 10 + (t_[p_++] - '0');
      digits = true;
    }
    if (digits) line_ = value;
  }
  while (p_ < n_ && !lex_line_end(t_[p_])) ++p_;
  return kOk;
}

int Reader::names_statement(int32_t kind) {
  if (kind == kStPersistent) {
    if (!u_.is_function()) return kPersistentOutsideFunction;
    if (!u_.emit_positions) return kNotSupported;
  }
  int64_t at = 0;
  TN_TRY(begin_record(&at));
  const int64_t text = used_;
  int32_t count = 0;
  for (;;) {
    if (lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_) == kSkipStatementEnd) break;
    if (!lex_ident_start(t_[p_])) return u_.fail(kUnrecognizedToken, uint8_t(t_[p_]));
    const int32_t e = lex_identifier_end(t_, n_, p_);
    int32_t slot = 0;
    TN_TRY(u_.add_name(t_ + p_, e - p_, &slot));
    if (count > 0) TN_TRY(put(','));
    TN_TRY(put_text(t_ + p_, e - p_));
    ++count;
    p_ = e;
  }
  const int32_t len = int32_t(used_ - text);
  TN_TRY(align_text());
  finish_record(at, kind, count, len, 0);
  return kOk;
}

// An input may take the slot of the output of its name once; a name is
// never repeated within the outputs or within the inputs.
bool Reader::input_may_share(int32_t slot) const {
  if (header_->outputs == 0 || slot >= header_->outputs) return false;
  for (int32_t k = 0; k < header_->inputs; ++k)
    if (header_->input_slot[k] == slot) return false;
  return true;
}

// Reads the names of a header list up to close (or a single name when close
// is 0) and adds them as locals in order.

int Reader::header_names(char close, bool outputs, int32_t* count, bool* var_last) {
  const char* special = outputs ? "varargout" : "varargin";
  const int misplaced = outputs ? kMisplacedVarargout : kMisplacedVarargin;
  bool special_seen = false;
  for (;;) {
    same_line_blanks();
    if (close && p_ < n_ && t_[p_] == close && *count == 0) break;
    if (p_ >= n_ || !lex_ident_start(t_[p_])) return kBadFunctionHeader;
    const int32_t s = p_;
    p_ = lex_identifier_end(t_, n_, p_);
    if (special_seen) return misplaced;
    const int32_t len = p_ - s;
    if (len == int32_t(std::strlen(special)) && std::memcmp(t_ + s, special, size_t(len)) == 0) special_seen = true;
    int32_t slot = u_.find_name(t_ + s, len);
    if (slot >= 0 && (outputs || !input_may_share(slot))) return kReusedVariableName;
    TN_TRY(u_.add_name(t_ + s, len, &slot));
    if (!outputs) header_->input_slot[*count] = uint16_t(slot);
    ++*count;
    same_line_blanks();
    if (!outputs && p_ < n_ && t_[p_] == '=' && !(p_ + 1 < n_ && t_[p_ + 1] == '=')) {
      // "name = expression": a default, set in front of the body when the
      // caller passes fewer arguments.
      ++p_;
      Scan d;
      TN_TRY(compile_scan_statement_text(&d, true));
      int32_t n = d.length;
      const char* text = trim(reinterpret_cast<const char*>(out_ + d.start), &n);
      if (n == 0) return kBadFunctionHeader;
      char expr[512];
      if (n > int32_t(sizeof expr)) return kExpressionTooLarge;
      std::memcpy(expr, text, size_t(n));
      used_ = d.start;
      char cond[24];
      const int32_t cond_len = int32_t(std::snprintf(cond, sizeof cond, "nargin<%d", *count));
      TN_TRY(text_record(kStIf, 0, cond, cond_len, "", 0));
      TN_TRY(text_record(kStSilent, 1, t_ + s, len, expr, n));
      TN_TRY(simple_record(kStEnd));
      same_line_blanks();
    }
    if (!close) break;
    if (p_ < n_ && t_[p_] == ',') {
      ++p_;
      continue;
    }
    if (p_ < n_ && t_[p_] == close) break;
    if (outputs && p_ < n_ && lex_ident_start(t_[p_])) continue;  // [a b] = ...
    return kBadFunctionHeader;
  }
  if (close) ++p_;
  *var_last = special_seen;
  return kOk;
}

int Reader::function_header() {
  header_->seen = true;
  same_line_blanks();
  if (p_ >= n_ || lex_line_end(t_[p_]) || t_[p_] == ';' || t_[p_] == ',') return kMissingFunctionName;
  // Outputs: "[a, b] =", "(a, b) =" or "a =".
  int32_t name_start = -1, name_end = -1;
  if (t_[p_] == '[' || t_[p_] == '(') {
    const char close = t_[p_] == '[' ? ']' : ')';
    ++p_;
    TN_TRY(header_names(close, true, &header_->outputs, &header_->varargout));
    same_line_blanks();
    if (!(p_ < n_ && t_[p_] == '=')) return kBadFunctionHeader;
    ++p_;
  } else if (lex_ident_start(t_[p_])) {
    const int32_t s = p_;
    const int32_t e = lex_identifier_end(t_, n_, p_);
    int32_t q = e;
    while (q < n_ && lex_blank(t_[q])) ++q;
    if (q < n_ && t_[q] == '=' && !(q + 1 < n_ && t_[q + 1] == '=')) {
      TN_TRY(header_names(0, true, &header_->outputs, &header_->varargout));
      p_ = q + 1;
    } else {
      name_start = s;
      name_end = e;
      p_ = e;
    }
  } else {
    return kBadFunctionHeader;
  }
  if (name_start < 0) {
    same_line_blanks();
    if (p_ >= n_ || lex_line_end(t_[p_]) || t_[p_] == ';' || t_[p_] == ',') return kMissingFunctionName;
    if (!lex_ident_start(t_[p_])) return kBadFunctionHeader;
    name_start = p_;
    p_ = name_end = lex_identifier_end(t_, n_, p_);
  }
  if (name_end - name_start > kIdentifierLimit)
    return u_.fail_named(kNameTooLong, t_ + name_start, name_end - name_start, name_end - name_start);
  if (n_ - p_ >= 2 && t_[p_] == ':' && t_[p_ + 1] == ':') {
    p_ += 2;
    if (p_ >= n_ || !lex_ident_start(t_[p_])) return kBadFunctionHeader;
    p_ = lex_identifier_end(t_, n_, p_);
  }
  same_line_blanks();
  if (p_ < n_ && t_[p_] == '(') {
    ++p_;
    TN_TRY(header_names(')', false, &header_->inputs, &header_->varargin));
  }
  if (lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_) != kSkipStatementEnd) return kBadFunctionHeader;
  return kOk;
}

int Reader::define_statement() {
  header_->seen = true;
  header_->define = true;
  same_line_blanks();
  if (p_ >= n_ || !lex_ident_start(t_[p_])) return kBadDefinition;
  p_ = lex_identifier_end(t_, n_, p_);
  same_line_blanks();
  if (!(p_ < n_ && t_[p_] == '=' && !(p_ + 1 < n_ && t_[p_ + 1] == '='))) return kBadDefinition;
  ++p_;
  Scan s;
  TN_TRY(compile_scan_statement_text(&s, false));
  int32_t n = s.length;
  const char* text = trim(reinterpret_cast<const char*>(out_ + s.start), &n);
  if (n == 0 || s.eq >= 0) return kBadDefinition;
  used_ = s.start;
  char copy[512];
  if (n > int32_t(sizeof copy)) return kExpressionTooLarge;
  std::memcpy(copy, text, size_t(n));
  TN_TRY(text_record(kStValue, 0, copy, n, "", 0));
  stop_ = true;
  return kOk;
}

// «name word ...» is a command when a word follows the blanks after the name.
bool Reader::command_syntax(int32_t name_end) {
  if (name_end >= n_ || !lex_blank(t_[name_end])) return false;
  if (u_.find_name(t_ + p_, name_end - p_) >= 0) return false;  // a variable: «x -1» is x - 1
  int32_t r = name_end;
  while (r < n_ && lex_blank(t_[r])) ++r;
  if (r >= n_) return false;
  const char c = t_[r];
  auto word_char = [](char ch) { return lex_ident_char(ch) || (uint8_t(ch) & 0x80); };
  if (word_char(c) || c == '\'') return true;
  if (c == '.' || c == '/' || c == '-' || c == ':' || c == '*') return r + 1 < n_ && word_char(t_[r + 1]);
  return false;
}

int Reader::compile_command_syntax_args(int32_t name_end) {
  int64_t at = 0;
  TN_TRY(begin_record(&at));
  const int64_t text = used_;
  TN_TRY(put_text(t_ + p_, name_end - p_));
  p_ = name_end;
  int words = 0;
  bool silent = false;
  auto overflow = [](int s) { return s == kExpressionTooLarge ? int(kCompilationOverflow) : s; };
  for (;;) {
    while (p_ < n_ && lex_blank(t_[p_])) ++p_;
    if (p_ >= n_ || lex_line_end(t_[p_]) || t_[p_] == ',' || t_[p_] == ';' || t_[p_] == '%' ||
        (t_[p_] == '/' && p_ + 1 < n_ && t_[p_ + 1] == '/'))
      break;
    if (overflow(put(words == 0 ? '(' : ',')) != kOk) return kCompilationOverflow;
    ++words;
    if (t_[p_] == '\'') {
      // Copied to its closing quote, blanks included.
      const int32_t s = p_;
      skip_quoted();
      if (put_text(t_ + s, p_ - s) != kOk) return kCompilationOverflow;
      continue;
    }
    if (put('\'') != kOk) return kCompilationOverflow;
    while (p_ < n_ && !lex_blank(t_[p_]) && !lex_line_end(t_[p_]) && t_[p_] != ',' && t_[p_] != ';' &&
           t_[p_] != '%' && !(t_[p_] == '/' && p_ + 1 < n_ && t_[p_ + 1] == '/')) {
      if (t_[p_] == '\'' || t_[p_] == '\\')
        if (put('\\') != kOk) return kCompilationOverflow;
      if (put(t_[p_++]) != kOk) return kCompilationOverflow;
    }
    if (put('\'') != kOk) return kCompilationOverflow;
  }
  if (words > 0 && put(')') != kOk) return kCompilationOverflow;
  if (p_ < n_ && t_[p_] == ';') silent = true;
  lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_);
  const int32_t len = int32_t(used_ - text);
  if (align_text() != kOk) return kCompilationOverflow;
  finish_record(at, silent ? kStSilent : kStShown, 0, len, 0);
  return kOk;
}

int Reader::expression_statement() {
  Scan s;
  TN_TRY(compile_scan_statement_text(&s, false));
  if (s.eq >= 0) return assignment(s, s.silent ? kStSilent : kStShown, false);
  return record_scanned(s, s.silent ? kStSilent : kStShown, true);
}

// Turns the scanned text into a record: the header goes in front of it.
int Reader::record_scanned(const Scan& s, int32_t kind, bool allow_empty) {
  int32_t n = s.length;
  const char* text = trim(reinterpret_cast<const char*>(out_ + s.start), &n);
  const int64_t offset = text - reinterpret_cast<const char*>(out_ + s.start);
  used_ = s.start;
  if (n == 0) return allow_empty ? int(kOk) : int(kMissingExpression);
  if (s.start + kStmtHeaderBytes + pad4(n) > cap_) return kExpressionTooLarge;
  std::memmove(out_ + s.start + kStmtHeaderBytes, out_ + s.start + offset, size_t(n));
  used_ = s.start + kStmtHeaderBytes + n;
  TN_TRY(align_text());
  finish_record(s.start, kind, 0, n, 0);
  return kOk;
}

// The left side of «targets = expression»: each target's variable becomes a
// local; the record holds the targets separated by "," and the right side.
int Reader::assignment(const Scan& s, int32_t kind, bool for_loop) {
  char* text = reinterpret_cast<char*>(out_ + s.start);
  int32_t left_n = s.eq;
  const char* left = trim(text, &left_n);
  int32_t right_n = s.length - s.eq - 1;
  const char* right = trim(text + s.eq + 1, &right_n);
  if (right_n == 0) return for_loop ? int(kBadForAssignment) : int(kIncompleteExpression);
  if (left_n == 0) return for_loop ? int(kBadForAssignment) : int(kBadVariableName);
  const char* list = left;
  int32_t list_n = left_n;
  if ((left[0] == '[' && left[left_n - 1] == ']') || (left[0] == '(' && left[left_n - 1] == ')')) {
    if (for_loop) return kBadForAssignment;
    list = left + 1;
    list_n = left_n - 2;
  }
  int32_t count = 0;
  TN_TRY(for_each_item(list, list_n, [&](const char* item, int32_t n) {
    item = trim(item, &n);
    if (n == 0 || !lex_ident_start(item[0])) return int(kBadVariableName);
    const int32_t e = lex_identifier_end(item, n, 0);
    int32_t slot = 0;
    TN_TRY(u_.add_name(item, e, &slot));
    ++count;
    return int(kOk);
  }));
  if (for_loop && count != 1) return kBadForAssignment;
  // Rebuild the record over the scanned text (header, targets, right side)
  // from a copy placed beyond anything the record can reach.
  const int64_t copy_at = s.start + s.length + kStmtHeaderBytes + 8;
  if (copy_at + list_n + right_n > cap_) return kExpressionTooLarge;
  std::memmove(out_ + copy_at, list, size_t(list_n));
  std::memmove(out_ + copy_at + list_n, right, size_t(right_n));
  used_ = s.start;
  int64_t at = 0;
  TN_TRY(begin_record(&at));
  std::memmove(out_ + used_, out_ + copy_at, size_t(list_n));
  used_ += list_n;
  TN_TRY(align_text());
  std::memmove(out_ + used_, out_ + copy_at + list_n, size_t(right_n));
  used_ += right_n;
  TN_TRY(align_text());
  finish_record(at, kind, count, list_n, right_n);
  return kOk;
}

// Decides what the blanks before c stand for inside and outside brackets.
int Reader::resolve_blank(char c, bool in_brackets, bool operand_end, bool after_anon) {
  const bool next_operand = lex_ident_start(c) || lex_digit(c) || c == '\'' || c == '"' ||
                            (c == '.' && p_ + 1 < n_ && lex_digit(t_[p_ + 1])) || (uint8_t(c) & 0x80);
  if (!in_brackets) {
    if (operand_end && !after_anon && next_operand) return kSyntaxError;
    return put(' ');
  }
  if (c == ']' || c == '}' || c == ',' || c == ';') return kOk;
  if (!operand_end || after_anon) return put(' ');
  if (next_operand || c == '(' || c == '[' || c == '{' || c == '@') return put(',');
  if (operator_char(c)) {
    int32_t e = p_;
    while (e < n_ && operator_char(t_[e])) ++e;
    const bool binary = e >= n_ || lex_blank(t_[e]) || lex_line_end(t_[e]);
    if (!binary && (c == '+' || c == '-' || c == '~' || c == '!')) return put(',');
  }
  return put(' ');
}

// Copies the text of one statement (or of a header default), normalised:
// comments and continuations gone, line ends inside brackets turned into ";",
// the blanks that separate elements inside brackets turned into ",".
int Reader::compile_scan_statement_text(Scan* s, bool header_default) {
  s->start = used_;
  char stack[kMaxBracketDepth];
  int depth = 0;
  char prev = 0;             // last character written
  bool operand_end = false;  // the text written so far ends an operand
  bool blank = false;        // blanks were skipped since then
  bool after_anon = false;   // the last thing written closed "@(...)"
  auto written = [&]() { return int32_t(used_ - s->start); };
  for (;;) {
    if (p_ >= n_) break;
    const char c = t_[p_];
    const char inner = depth ? stack[depth - 1] : 0;
    const bool in_brackets = inner == '[' || inner == '{';
    if (lex_blank(c)) {
      ++p_;
      blank = true;
      continue;
    }
    if (c == '%' || (c == '/' && p_ + 1 < n_ && t_[p_ + 1] == '/')) {
      while (p_ < n_ && !lex_line_end(t_[p_])) ++p_;
      continue;
    }
    if ((c == '/' && p_ + 1 < n_ && t_[p_ + 1] == '*') ||
        (c == '.' && n_ - p_ >= 3 && std::memcmp(t_ + p_, "...", 3) == 0)) {
      lex_skip_blanks(u_.ctx, t_, n_, &p_, false, &line_);
      blank = true;
      continue;
    }
    if (lex_line_end(c)) {
      if (!in_brackets) {
        if (!header_default) lex_skip_blanks(u_.ctx, t_, n_, &p_, false, &line_);
        break;
      }
      int32_t q = p_;
      lex_skip_blanks(u_.ctx, t_, n_, &q, false, &line_);  // the line end, counted
      p_ = q;
      if (prev == ',') {
        out_[used_ - 1] = ';';
        prev = ';';
      } else if (prev != '[' && prev != '{' && prev != ';' && written() > 0) {
        TN_TRY(put(';'));
        prev = ';';
      }
      operand_end = false;
      after_anon = false;
      blank = false;
      continue;
    }
    if (depth == 0 && header_default && (c == ',' || c == ')')) break;
    if (depth == 0 && (c == ';' || c == ',')) {
      s->silent = c == ';';
      ++p_;
      break;
    }
    if (in_brackets && (c == ']' || c == '}') && (prev == ',' || prev == ';')) {
      --used_;  // «[1 2;]»: a separator before the closer goes
      prev = used_ > s->start ? char(out_[used_ - 1]) : 0;
    }
    if (blank && written() > 0) TN_TRY(resolve_blank(c, in_brackets, operand_end, after_anon));
    blank = false;
    after_anon = false;
    if (c == '\'') {
      // A quote right after an operand (or after ".") is a transpose.
      const bool transpose = (lex_ident_char(prev) || prev == ')' || prev == ']' || prev == '}' || prev == '.' ||
                              prev == '\'') &&
                             used_ > s->start && out_[used_ - 1] == uint8_t(prev);
      if (transpose) {
        TN_TRY(put(c));
        ++p_;
      } else {
        const int32_t q = p_;
        skip_quoted();
        TN_TRY(put_text(t_ + q, p_ - q));
      }
      prev = '\'';
      operand_end = true;
      continue;
    }
    if (c == '(' || c == '[' || c == '{') {
      if (depth >= kMaxBracketDepth) return kTooManyNestedBrackets;
      stack[depth++] = (c == '(' && prev == '@') ? 'a' : c;
      TN_TRY(put(c));
      ++p_;
      prev = c;
      operand_end = false;
      continue;
    }
    if (c == ')' || c == ']' || c == '}') {
      const int code = c == ')' ? kUnexpectedRightParen : c == ']' ? kUnexpectedRightBracket : kUnexpectedRightBrace;
      if (depth == 0) return code;
      const char open = stack[depth - 1];
      const bool match = (c == ')' && (open == '(' || open == 'a')) || (c == ']' && open == '[') ||
                         (c == '}' && open == '{');
      if (!match) return code;
      --depth;
      TN_TRY(put(c));
      ++p_;
      prev = c;
      operand_end = true;
      after_anon = open == 'a';
      continue;
    }
    if (c == '=' && depth == 0 && s->eq < 0 && !(prev == '<' || prev == '>' || prev == '=' || prev == '~' ||
                                                 prev == '!') &&
        !(p_ + 1 < n_ && t_[p_ + 1] == '=')) {
      s->eq = written();
    }
    TN_TRY(put(c));
    ++p_;
    operand_end = lex_ident_char(c) || (c == '.' && lex_digit(prev));
    prev = c;
  }
  s->length = written();
  return kOk;
}

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
  int for_statement(const Stmt& st);
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
  return u_.emit3(kOpPosition, uint16_t(u_.function_id), uint16_t(u_.line));
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
    if (lone) return u_.emit2(kOpDisplayNamed, uint16_t(r.var_slot));
    if (u_.ans_convention) return u_.emit2(kOpStoreAnsDisplay, 0);
    if (!u_.is_function() && nblocks_ == 0) {
      // Top-level code leaves the value for its caller (data texts, code blocks).
      ++values_;
      return kOk;
    }
    return u_.emit(kOpDisp);
  }
  if (u_.ans_convention) return u_.emit2(kOpStoreLocal, 0);
  if (u_.opt_level >= 4 && code_all_flagged(u_.code + start, u_.pos - start)) {
    u_.pos = start;
    return kOk;
  }
  return u_.emit(kOpPopItem);
}

int Generator::for_statement(const Stmt& st) {
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
    case kStIf:
      TN_TRY(open_block(kBlockIf, st.line, &b));
      return condition(st, "if", &b->pending);
    case kStElseif:
      if (!b || b->type != kBlockIf || b->else_seen) return kUnexpectedElse;
      TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
      TN_TRY(chain_patch(u_, b->pending, u_.pos));
      b->pending = 0;
      TN_TRY(position());
      return condition(st, "if", &b->pending);
    case kStElse:
      if (!b || b->type != kBlockIf || b->else_seen) return kUnexpectedElse;
      TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
      TN_TRY(chain_patch(u_, b->pending, u_.pos));
      b->pending = 0;
      b->else_seen = true;
      return kOk;
    case kStSwitch: {
      ExprResult r;
      TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r, "switch"));
      TN_TRY(open_block(kBlockSwitch, st.line, &b));
      return jump_to_chain(kOpJump, &b->pending);
    }
    case kStCase: {
      if (!b || b->type != kBlockSwitch || b->else_seen) return kUnexpectedCase;
      TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
      TN_TRY(chain_patch(u_, b->pending, u_.pos));
      b->pending = 0;
      TN_TRY(position());
      ExprResult r;
      TN_TRY(compile_expression(u_, st.t1, st.n1, 1, false, false, &r, "case"));
      return jump_to_chain(kOpCaseTest, &b->pending);
    }
    case kStOtherwise:
      if (!b || b->type != kBlockSwitch || b->else_seen) return kUnexpectedCase;
      TN_TRY(jump_to_chain(kOpJump, &b->end_chain));
      TN_TRY(chain_patch(u_, b->pending, u_.pos));
      b->pending = 0;
      b->else_seen = true;
      return kOk;
    case kStWhile:
      TN_TRY(open_block(kBlockWhile, st.line, &b));
      b->loop_start = u_.pos;
      TN_TRY(position());
      return condition(st, "while", &b->end_chain);
    case kStFor:
      return for_statement(st);
    case kStRepeat:
      TN_TRY(open_block(kBlockRepeat, st.line, &b));
      b->loop_start = u_.pos;
      return kOk;
    case kStUntil: {
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
    case kStBreak:
    case kStContinue: {
      int32_t loop = nblocks_ - 1;
      while (loop >= 0 && blocks_[loop].type != kBlockWhile && blocks_[loop].type != kBlockFor &&
             blocks_[loop].type != kBlockRepeat)
        --loop;
      if (loop < 0) return kUnexpectedBreak;
      TN_TRY(leave_blocks(loop));
      Block& l = blocks_[loop];
      if (st.kind == kStBreak) return jump_to_chain(kOpJump, &l.end_chain);
      if (l.type == kBlockRepeat) return jump_to_chain(kOpJump, &l.cont_chain);
      return jump_back(kOpJump, l.loop_start);
    }
    case kStReturn:
      return return_code();
    case kStTry: {
      const int32_t keep = keep_count();
      TN_TRY(open_block(kBlockTry, st.line, &b));
      b->keep = keep;
      TN_TRY(u_.emit3(kOpTryHandler, kPendingJump, uint16_t(keep)));
      b->handler = u_.pos - 2;
      return kOk;
    }
    case kStCatch: {
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
    case kStEnd: {
      if (!b) return kUnexpectedEnd;
      switch (b->type) {
        case kBlockIf:
          TN_TRY(chain_patch(u_, b->pending, u_.pos));
          TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
          break;
        case kBlockSwitch:
          TN_TRY(chain_patch(u_, b->pending, u_.pos));
          TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
          TN_TRY(u_.emit(kOpPopItem));
          break;
        case kBlockWhile:
          TN_TRY(jump_back(kOpJump, b->loop_start));
          TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
          break;
        case kBlockFor:
          TN_TRY(jump_back(kOpJump, b->loop_start));
          TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
          TN_TRY(u_.emit(kOpPopItem));
          break;
        case kBlockTry:
          if (b->in_catch) {
            TN_TRY(chain_patch(u_, b->end_chain, u_.pos));
          } else {
            TN_TRY(chain_patch_from(u_, b->handler, u_.pos, kHandlerOrigin));
            TN_TRY(chain_patch_from(u_, b->reinstall_chain, u_.pos, kHandlerOrigin));
            b->in_catch = true;
            TN_TRY(reinstall_handler(nblocks_ - 1));
          }
          break;
        default:
          return kUnexpectedEnd;  // a repeat block ends with "until"
      }
      --nblocks_;
      return kOk;
    }
    case kStGlobal:
    case kStPersistent: {
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
    default:
      return TN_ILLEGAL();
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

// Carves the free data-stack space into the statement list, the string
// scratch and (for functions) the local-name table, avoiding the source text
// when it lies there.
struct Scratch {
  uint8_t* stmts = nullptr;
  int64_t stmt_bytes = 0;
  uint16_t* chars = nullptr;
  int32_t chars_capacity = 0;
  uint8_t* names = nullptr;
  int32_t name_capacity = 0;
};

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
  Reader reader(u, text, length, scratch.stmts, scratch.stmt_bytes, &header);
  TN_TRY(reader.read_all());

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
  for (int64_t at = 0; at < reader.used();) {
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
  u.ans_convention = (flags & kCompileAnsConvention) && u.name_count > 0 &&
                     std::strncmp(reinterpret_cast<const char*>(u.names), "ans", kNameBytes) == 0;

  int32_t produced = 0;
  const int status = compile_body(u, text, length, scratch, &produced);
  if (status != kOk) return raise_compile_error(u, status);
  if (code_words) *code_words = u.pos;
  if (values) *values = produced;
  return kOk;
}

void compiler_install() { fn_set_compiler(&compile_source); }
