// The statement reader: the first pass of the statement compiler. It reads
// a function's or top-level code's statements into records (normalising
// their text and collecting every assigned name as a local first, so that a
// variable read before its assignment in the text is still known). The
// loader reads sources with it too (source_walk.h), keeping no records, so
// that definitions begin and end where the compiler reads them.
#include <cstdio>
#include <cstring>

#include "engine/core/compile_stmt_list.h"
#include "engine/core/compiler.h"
#include "engine/core/errors.h"
#include "engine/core/lexer.h"
#include "engine/core/source_walk.h"
#include "engine/core/symbols.h"

namespace tncomp {
namespace {

// ---- the statement reader -----------------------------------------------------------

class Reader {
 public:
  Reader(Unit& u, const char* t, int32_t n, uint8_t* out, int64_t capacity, Header* header,
         SourceStretch* walk = nullptr)
      : u_(u), t_(t), n_(n), out_(out), cap_(capacity), header_(header), walk_(walk) {
    if (walk) {
      counted_to_ = walk->from;
      counted_lines_ = walk->line;
    }
  }

  int read_all();
  int64_t used() const { return used_; }
  // The loader's reading: line ends before pos (pos never goes back).
  int32_t lines_to(int32_t pos);

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
  int scan_piece(LexPiece piece, int32_t to, char* stack, int* depth, char* prev, bool* operand_end,
                 bool* after_anon, Scan* s);
  int resolve_blank(char c, bool in_brackets, bool operand_end, bool after_anon);
  int assignment(const Scan& s, int32_t kind, bool for_loop);
  int header_names(char close, bool outputs, int32_t* count, bool* var_last);
  bool input_may_share(int32_t slot) const;
  int stop_before_header();
  int walk_line(int kind, int32_t words);
  void walk_past(int status);
  bool ended_at_line_end() const;

  int put(char c) {
    if (used_ + 1 > cap_) return full();
    out_[used_++] = uint8_t(c);
    return kOk;
  }
  int put_text(const char* s, int32_t n) {
    if (used_ + n > cap_) return full();
    std::memcpy(out_ + used_, s, size_t(n));
    used_ += n;
    return kOk;
  }
  int full() {
    scratch_full_ = true;
    u_.scratch_short = true;
    return kExpressionTooLarge;
  }
  // Starts a record whose texts follow; finish_record writes its header.
  int begin_record(int64_t* at) {
    if (used_ + kStmtHeaderBytes > cap_) return full();
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
  // Blanks, block comments and continuations: what may stand between the
  // words of one line.
  void same_line_blanks() { lex_skip_inline(t_, n_, &p_, &line_); }
  bool at_word(const char* w, int32_t* end) {
    int32_t q = p_;
    if (!lex_match_keyword(t_, n_, &q, w)) return false;
    *end = q;
    return true;
  }
  // The statement must end here: kUnexpectedExpression when more follows.
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
  // The loader's reading (null while compiling): boundaries only, no records kept.
  SourceStretch* walk_;
  int32_t stmt_start_ = 0;
  int walk_status_ = kOk;  // a visit's status, which ends the reading
  int32_t counted_to_ = 0;
  int32_t counted_lines_ = 0;
  bool scratch_full_ = false;  // the free space ran out
};

int Reader::read_all() {
  line_ = compile_first_line(u_.ctx) + 1;
  if (walk_) p_ = walk_->from;
  u_.line = line_;
  while (!stop_) {
    if (lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_) == kSkipStatementEnd) {
      if (p_ >= n_) break;
      continue;
    }
    if (p_ >= n_) break;
    stmt_line_ = line_;
    u_.line = line_;
    stmt_start_ = p_;
    if (!walk_) {
      TN_TRY(compile_read_statement());
      continue;
    }
    used_ = 0;  // the loader keeps no records: a statement's own text is enough
    const int status = compile_read_statement();
    if (walk_status_ != kOk) return walk_status_;
    // A reading cut short by its scratch space would find other boundaries
    // than one with room: it fails instead.
    if (scratch_full_ || (status == kVariableTableOverflow && u_.name_capacity < kMaxLocals))
      return kDataStackOverflow;
    if (status != kOk) walk_past(status);
  }
  if (walk_) {
    walk_->stop = p_;
    return kOk;
  }
  u_.line = line_;
  if ((u_.flags & kCompileHeaderExpected) && !header_->seen) return kFunctionHeaderExpected;
  return kOk;
}

// ---- the loader's reading ------------------------------------------------------------
// The statements are read as for a compilation, so the loader finds a
// definition exactly where the compiler would read its header, and its end
// where the compiler stops.

// A "function" or "define" statement where none may stand: the text before
// it is all there is.
int Reader::stop_before_header() {
  if (walk_) walk_->at_header = true;
  stop_ = true;
  return kOk;
}

int32_t Reader::lines_to(int32_t pos) {
  // Line ends as the lexer counts them: CR LF once.
  for (; counted_to_ < pos && counted_to_ < n_; ++counted_to_) {
    const char c = t_[counted_to_];
    if (c == '\n' || (c == '\r' && !(counted_to_ + 1 < n_ && t_[counted_to_ + 1] == '\n'))) ++counted_lines_;
  }
  return counted_lines_;
}

// A "use" or "include" statement for the loader. An "include" outside every
// definition is one the loader refuses.
int Reader::walk_line(int kind, int32_t words) {
  if ((kind == kLineInclude || kind == kLineIncludeIfExists) && !header_->seen && walk_->error == kOk) {
    walk_->error = kIncludeNotPermitted;
    walk_->error_line = lines_to(stmt_start_);
  }
  if (!walk_->visit) return kOk;
  int32_t line_end = words;
  while (line_end < n_ && !lex_line_end(t_[line_end])) ++line_end;
  walk_status_ = walk_->visit(walk_->arg, kind, stmt_start_, words, line_end, lines_to(stmt_start_));
  return walk_status_;
}

// A statement the compiler refuses is the compiler's to report when it
// compiles it; the reading resumes after the line it failed on (at once when
// its line end was its end). The loader refuses a stray "endfunction" and a
// header it cannot read (the compiler's faults of a header that reads, a
// name used twice or a misplaced "varargin", wait for its compilation).
void Reader::walk_past(int status) {
  const bool unreadable_header = status == kMissingFunctionName || status == kBadFunctionHeader ||
                                 status == kBadDefinition || (header_->seen && walk_->name < 0);
  if ((status == kUnexpectedEndfunction || unreadable_header) && walk_->error == kOk) {
    walk_->error = status;
    walk_->error_line = lines_to(stmt_start_);
  }
  if (!ended_at_line_end()) {
    LexCursor lx(t_, n_, p_);
    for (LexPiece piece = lex_piece(&lx); piece != kPieceEnd && piece != kPieceLineEnd;) piece = lex_piece(&lx);
    p_ = lx.pos;
  }
  if (header_->define) stop_ = true;  // a definition of one statement
}

// Whether the statement that failed at p_ had ended at the line end just
// before it. A line end read inside the statement, by a continuation or
// within [] or {}, does not end it: the statement goes on into the next
// line, as the compiler reads it, and that line is no statement of its own.
bool Reader::ended_at_line_end() const {
  if (!(p_ > stmt_start_ && lex_line_end(t_[p_ - 1]))) return false;
  LexCursor lx(t_, n_, stmt_start_);
  char stack[kMaxBracketDepth] = {};
  int depth = 0;
  LexPiece last = kPieceEnd;
  bool in_brackets = false;
  while (lx.pos < p_) {
    last = lex_piece(&lx);
    if (last == kPieceEnd) break;
    if (last == kPieceOpen) {
      if (depth < kMaxBracketDepth) stack[depth] = t_[lx.start];
      ++depth;
    } else if (last == kPieceClose && depth > 0) {
      --depth;
    }
    const char inner = depth > 0 && depth <= kMaxBracketDepth ? stack[depth - 1] : 0;
    in_brackets = inner == '[' || inner == '{';
  }
  return last == kPieceLineEnd && !in_brackets;
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
      if (u_.flags & kCompileStopAtHeader) return stop_before_header();
      return kUnexpectedFunctionHeader;
    }
    p_ = e;
    return function_header();
  }
  if (at_word("endfunction", &e)) {
    if (!header_->seen || header_->define) return kUnexpectedEndfunction;
    if (walk_) {
      // The definition takes its "endfunction" statement whole: what stands
      // after it on the line (a comment that may span lines) is read as well.
      p_ = e;
      lex_skip_blanks(u_.ctx, t_, n_, &p_, true, &line_);
    }
    stop_ = true;
    return kOk;
  }
  if (at_word("define", &e)) {
    const bool allowed = (u_.flags & kCompileDefineAllowed) && !header_->seen && statements_ == 0;
    if (!allowed && (u_.flags & kCompileStopAtHeader)) return stop_before_header();
    if (!allowed) return kUnexpectedDefinition;
    p_ = e;
    return define_statement();
  }
  if (at_word("_pragma", &e)) {
    p_ = e;
    return pragma();
  }
  const bool use_if_exists = at_word("useifexists", &e);
  if (use_if_exists || at_word("use", &e)) {
    if (walk_) TN_TRY(walk_line(use_if_exists ? kLineUseIfExists : kLineUse, e));
    while (p_ < n_ && !lex_line_end(t_[p_])) ++p_;
    return kOk;
  }
  const bool include_if_exists = at_word("includeifexists", &e);
  if (include_if_exists || at_word("include", &e)) {
    if (!walk_) return kIncludeNotPermitted;
    TN_TRY(walk_line(include_if_exists ? kLineIncludeIfExists : kLineInclude, e));
    while (p_ < n_ && !lex_line_end(t_[p_])) ++p_;
    return kOk;
  }
  const bool is_private = at_word("private", &e);
  if (is_private || at_word("public", &e)) {
    if (walk_) walk_->mark = is_private ? 1 : 0;
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
  // «global» or «persistent» alone declares nothing: no record at all.
  if (count == 0) {
    used_ = at;
    return kOk;
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
    if (special_seen && !walk_) return misplaced;
    const int32_t len = p_ - s;
    if (len == int32_t(std::strlen(special)) && std::memcmp(t_ + s, special, size_t(len)) == 0) special_seen = true;
    int32_t slot = u_.find_name(t_ + s, len);
    if (slot >= 0 && (outputs || !input_may_share(slot)) && !walk_) return kReusedVariableName;
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
      char cond[24];
      const int32_t cond_len = int32_t(std::snprintf(cond, sizeof cond, "nargin<%d", *count));
      // The records go where the scanned text lies: the expression is first
      // moved past everything written in front of it (the if record and the
      // assignment's header and name), so that it is never written over.
      const int64_t front = 3 * kStmtHeaderBytes + pad4(cond_len) + pad4(len);
      const int64_t copy_at = d.start + d.length + front;
      if (copy_at + n > cap_) return full();
      std::memmove(out_ + copy_at, text, size_t(n));
      used_ = d.start;
      TN_TRY(text_record(kStIf, 0, cond, cond_len, "", 0));
      TN_TRY(text_record(kStSilent, 1, t_ + s, len, reinterpret_cast<const char*>(out_ + copy_at), n));
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
    // «r = f», «r /* result */ = f» and «r ...» over two lines alike.
    int32_t q = e;
    lex_skip_inline(t_, n_, &q, nullptr);
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
  if (walk_) {
    // The loader defines the function by this name; a name too long is its to report.
    walk_->name = name_start;
    walk_->name_length = name_end - name_start;
  } else if (name_end - name_start > kIdentifierLimit) {
    return u_.fail_named(kNameTooLong, t_ + name_start, name_end - name_start, name_end - name_start);
  }
  if (n_ - p_ >= 2 && t_[p_] == ':' && t_[p_ + 1] == ':') {
    p_ += 2;
    if (p_ >= n_ || !lex_ident_start(t_[p_])) return kBadFunctionHeader;
    const int32_t s = p_;
    p_ = lex_identifier_end(t_, n_, p_);
    if (walk_) {
      walk_->class_name = walk_->name;
      walk_->class_length = walk_->name_length;
      walk_->name = s;
      walk_->name_length = p_ - s;
    }
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
  const int32_t name = p_;
  p_ = lex_identifier_end(t_, n_, p_);
  if (walk_) {
    walk_->name = name;
    walk_->name_length = p_ - name;
  }
  same_line_blanks();
  if (!(p_ < n_ && t_[p_] == '=' && !(p_ + 1 < n_ && t_[p_ + 1] == '='))) return kBadDefinition;
  ++p_;
  Scan s;
  TN_TRY(compile_scan_statement_text(&s, false));
  int32_t n = s.length;
  trim(reinterpret_cast<const char*>(out_ + s.start), &n);
  if (n == 0 || s.eq >= 0) return kBadDefinition;
  TN_TRY(record_scanned(s, kStValue, false));
  stop_ = true;
  return kOk;
}

// «name word ...» is a command when a word follows the blanks after the name,
// whatever the name is: a variable too, so that «f -abc» calls the function
// value f holds, and «x -1» indexes x with '-1' where «x - 1» subtracts.
bool Reader::command_syntax(int32_t name_end) {
  if (name_end >= n_ || !lex_blank(t_[name_end])) return false;
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
  int words = 0;
  bool silent = false;
  auto overflow = [](int s) { return s == kExpressionTooLarge ? int(kCompilationOverflow) : s; };
  LexCursor lx(t_, n_, name_end);
  for (;;) {
    // Between words: blanks and block comments.
    LexCursor probe = lx;
    const LexPiece piece = lex_piece(&probe);
    if (piece == kPieceBlanks || piece == kPieceBlockComment) {
      lx = probe;
      continue;
    }
    p_ = lx.pos;
    if (piece == kPieceEnd || piece == kPieceLineEnd || piece == kPieceLineComment || t_[p_] == ',' ||
        t_[p_] == ';')
      break;
    if (overflow(put(words == 0 ? '(' : ',')) != kOk) return kCompilationOverflow;
    ++words;
    if (t_[p_] == '\'') {
      // Copied to its closing quote, blanks included: at the start of a word
      // a quote always opens a string.
      lx.operand = false;
      lex_piece(&lx);
      if (put_text(t_ + p_, lx.pos - p_) != kOk) return kCompilationOverflow;
      continue;
    }
    if (put('\'') != kOk) return kCompilationOverflow;
    int32_t q = p_;
    while (q < n_ && !lex_blank(t_[q]) && !lex_line_end(t_[q]) && t_[q] != ',' && t_[q] != ';' &&
           !lex_comment_at(t_, n_, q)) {
      if (t_[q] == '\'' || t_[q] == '\\')
        if (put('\\') != kOk) return kCompilationOverflow;
      if (put(t_[q++]) != kOk) return kCompilationOverflow;
    }
    if (put('\'') != kOk) return kCompilationOverflow;
    lx.pos = q;
    lx.operand = true;
  }
  line_ += lx.lines;
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
  if (s.start + kStmtHeaderBytes + pad4(n) > cap_) return full();
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
  if (copy_at + list_n + right_n > cap_) return full();
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
// the blanks that separate elements inside brackets turned into ",". The
// source reader decides what is a string, a transpose, a comment or a
// bracket; a comment stands for blanks, and the line end after it stays.
int Reader::compile_scan_statement_text(Scan* s, bool header_default) {
  s->start = used_;
  char stack[kMaxBracketDepth];
  int depth = 0;
  char prev = 0;             // last character written
  bool operand_end = false;  // the text written so far ends an operand
  bool blank = false;        // blanks were skipped since then
  bool after_anon = false;   // the last thing written closed "@(...)"
  auto written = [&]() { return int32_t(used_ - s->start); };
  LexCursor lx(t_, n_, p_);
  int status = kOk;
  for (;;) {
    p_ = lx.pos;
    LexCursor probe = lx;
    const LexPiece piece = lex_piece(&probe);
    if (piece == kPieceEnd) break;
    const char c = t_[p_];
    const char inner = depth ? stack[depth - 1] : 0;
    const bool in_brackets = inner == '[' || inner == '{';
    if (piece == kPieceBlanks || piece == kPieceLineComment || piece == kPieceBlockComment ||
        piece == kPieceContinuation) {
      lx = probe;
      blank = true;
      continue;
    }
    if (piece == kPieceLineEnd) {
      if (!in_brackets) {
        if (!header_default) lx = probe;  // the line end ends the statement
        break;
      }
      lx = probe;
      if (prev == ',') {
        out_[used_ - 1] = ';';
        prev = ';';
      } else if (prev != '[' && prev != '{' && prev != ';' && written() > 0) {
        if ((status = put(';')) != kOk) break;
        prev = ';';
      }
      operand_end = false;
      after_anon = false;
      blank = false;
      continue;
    }
    if (depth == 0 && header_default && (c == ',' || c == ')')) break;
    if (depth == 0 && piece == kPieceChar && (c == ';' || c == ',')) {
      s->silent = c == ';';
      lx = probe;
      break;
    }
    if (in_brackets && (c == ']' || c == '}') && (prev == ',' || prev == ';')) {
      --used_;  // «[1 2;]»: a separator before the closer goes
      prev = used_ > s->start ? char(out_[used_ - 1]) : 0;
    }
    if (blank && written() > 0 && (status = resolve_blank(c, in_brackets, operand_end, after_anon)) != kOk) break;
    blank = false;
    after_anon = false;
    status = scan_piece(piece, probe.pos, stack, &depth, &prev, &operand_end, &after_anon, s);
    if (status != kOk) break;
    lx = probe;
  }
  p_ = lx.pos;
  line_ += lx.lines;
  s->length = written();
  return status;
}

// Copies one string, transpose, bracket or character [p_, to) of a statement.
int Reader::scan_piece(LexPiece piece, int32_t to, char* stack, int* depth, char* prev, bool* operand_end,
                       bool* after_anon, Scan* s) {
  const char c = t_[p_];
  if (piece == kPieceString || piece == kPieceTranspose) {
    TN_TRY(put_text(t_ + p_, to - p_));
    *prev = '\'';
    *operand_end = true;
    return kOk;
  }
  if (piece == kPieceOpen) {
    if (*depth >= kMaxBracketDepth) return kTooManyNestedBrackets;
    stack[(*depth)++] = (c == '(' && *prev == '@') ? 'a' : c;
    TN_TRY(put(c));
    *prev = c;
    *operand_end = false;
    return kOk;
  }
  if (piece == kPieceClose) {
    const int code = c == ')' ? kUnexpectedRightParen : c == ']' ? kUnexpectedRightBracket : kUnexpectedRightBrace;
    if (*depth == 0) return code;
    const char open = stack[*depth - 1];
    const bool match = (c == ')' && (open == '(' || open == 'a')) || (c == ']' && open == '[') ||
                       (c == '}' && open == '{');
    if (!match) return code;
    --*depth;
    TN_TRY(put(c));
    *prev = c;
    *operand_end = true;
    *after_anon = open == 'a';
    return kOk;
  }
  if (c == '=' && *depth == 0 && s->eq < 0 &&
      !(*prev == '<' || *prev == '>' || *prev == '=' || *prev == '~' || *prev == '!') &&
      !(p_ + 1 < n_ && t_[p_ + 1] == '=')) {
    s->eq = int32_t(used_ - s->start);
  }
  TN_TRY(put(c));
  *operand_end = lex_ident_char(c) || (c == '.' && lex_digit(*prev));
  *prev = c;
  return kOk;
}

}  // namespace

int read_statements(Unit& u, const char* text, int32_t length, uint8_t* out, int64_t capacity, Header* header,
                    int64_t* used) {
  Reader reader(u, text, length, out, capacity, header);
  const int status = reader.read_all();
  *used = reader.used();
  return status;
}

}  // namespace tncomp

int32_t source_logical_line_end(const char* t, int32_t length) {
  LexCursor c(t, length, 0);
  for (;;) {
    const LexPiece piece = lex_piece(&c);
    if (piece == kPieceEnd || piece == kPieceLineEnd) return c.pos;
  }
}

int source_read_stretch(EngineContext* ctx, const char* text, int32_t length, SourceStretch* s) {
  using namespace tncomp;
  Scratch scratch;
  carve_scratch(ctx, text, length, true, &scratch);
  Unit u;
  u.ctx = ctx;
  u.function_id = s->definition ? 0 : -1;
  u.flags = kCompileStopAtHeader | (s->definition ? kCompileHeaderExpected | kCompileDefineAllowed : 0u);
  u.names = scratch.names;
  u.name_capacity = scratch.name_capacity;
  attach_name_index(u, &scratch);
  u.emit_positions = ctx->emit_positions != 0;
  s->stop = s->from;
  s->at_header = false;
  s->mark = -1;
  s->name = s->class_name = -1;
  s->name_length = s->class_length = 0;
  s->error = kOk;
  Header header;
  Reader reader(u, text, length, scratch.stmts, scratch.stmt_bytes, &header, s);
  const int status = reader.read_all();
  s->is_define = header.define;
  s->stop_line = reader.lines_to(s->stop);
  return status;
}
