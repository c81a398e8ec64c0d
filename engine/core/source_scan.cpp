// Scanning a source for what the loader needs before any compilation: the
// span, name and visibility of each definition, and the libraries named on
// "use" lines. A definition runs from its header to its "endfunction" line,
// or up to the next header, or to the end of the text.
#include <cstring>

#include "engine/core/errors.h"
#include "engine/core/lexer.h"
#include "engine/core/libraries.h"
#include "engine/core/source_lex.h"

namespace {

using srclex::blank;
using srclex::ident_char;
using srclex::ident_start;
using srclex::keyword_at;

constexpr char kKwFunction[] = "function";
constexpr char kKwDefine[] = "define";
constexpr char kKwEndfunction[] = "endfunction";
constexpr char kKwPrivate[] = "private";
constexpr char kKwPublic[] = "public";
constexpr char kKwInclude[] = "include";
constexpr char kKwIncludeIfExists[] = "includeifexists";
constexpr char kKwUse[] = "use";
constexpr char kKwUseIfExists[] = "useifexists";

int32_t after_line_end(const char* t, int32_t n, int32_t e) {
  if (e >= n) return e;
  return (t[e] == '\r' && e + 1 < n && t[e + 1] == '\n') ? e + 2 : e + 1;
}

int32_t line_end_of(const char* t, int32_t n, int32_t p) {
  while (p < n && t[p] != '\n' && t[p] != '\r') ++p;
  return p;
}

// Reads one statement that may continue over lines ending in "..." or hold
// block comments, with the compiler's source reader.
struct Cursor {
  const char* t;
  int32_t n;
  int32_t p;
  int32_t eol;        // end of the current physical line
  int32_t lines = 0;  // line ends crossed by continuations and block comments

  void skip_ws() {
    const int32_t before = lines;
    lex_skip_inline(t, n, &p, &lines);
    if (lines != before) eol = line_end_of(t, n, p);  // a continuation or comment crossed a line end
  }
  bool at_statement_end() {
    skip_ws();
    return p >= eol || t[p] == ';' || t[p] == ',' || t[p] == '%' || (t[p] == '/' && p + 1 < eol && t[p + 1] == '/');
  }
  bool ident(int32_t* start, int32_t* length) {
    skip_ws();
    if (p >= eol || !ident_start(t[p])) return false;
    *start = p;
    p = srclex::ident_end(t, p, eol);
    *length = p - *start;
    return true;
  }
  bool take(char ch) {
    skip_ws();
    if (p < eol && t[p] == ch) {
      ++p;
      return true;
    }
    return false;
  }
  bool take_assign() {
    skip_ws();
    if (p < eol && t[p] == '=' && !(p + 1 < eol && t[p + 1] == '=')) {
      ++p;
      return true;
    }
    return false;
  }
  // Past the closing bracket of a group whose opener was just taken: the
  // brackets, strings and comments inside are read as the compiler reads
  // them (a default «b = ')'» or «b = abs(-2)» holds a parenthesis).
  bool skip_group(char close) {
    LexCursor lx(t, n, p);
    int depth = 0;
    for (;;) {
      const LexPiece piece = lex_piece(&lx);
      if (piece == kPieceEnd || piece == kPieceLineEnd || piece == kPieceLineComment) return false;
      if (piece == kPieceOpen) ++depth;
      if (piece != kPieceClose) continue;
      if (depth-- > 0) continue;
      if (t[lx.start] != close) return false;
      p = lx.pos;
      lines += lx.lines;
      eol = line_end_of(t, n, p);
      return true;
    }
  }
};

int missing_name(Cursor& c) { return c.at_statement_end() ? kMissingFunctionName : kBadFunctionHeader; }

// "function" [outputs "="] name ["::" name] ["(" inputs ")"]
int parse_function_header(Cursor& c, SourceDefinition* d) {
  if (c.at_statement_end()) return kMissingFunctionName;
  bool outputs = false;
  if (c.take('[') || c.take('(')) {
    if (!c.skip_group(c.t[c.p - 1] == '[' ? ']' : ')') || !c.take_assign()) return kBadFunctionHeader;
    outputs = true;
  }
  int32_t s = 0, len = 0;
  if (!c.ident(&s, &len)) return missing_name(c);
  if (!outputs && c.take_assign() && !c.ident(&s, &len)) return missing_name(c);
  d->name = c.t + s;
  d->name_length = len;
  d->class_name = nullptr;
  d->class_length = 0;
  if (c.p < c.eol && c.t[c.p] == ':') {
    if (!(c.p + 1 < c.eol && c.t[c.p + 1] == ':')) return kBadFunctionHeader;
    c.p += 2;
    d->class_name = d->name;
    d->class_length = len;
    if (!c.ident(&s, &len)) return kBadFunctionHeader;
    d->name = c.t + s;
    d->name_length = len;
  }
  if (c.take('(') && !c.skip_group(')')) return kBadFunctionHeader;
  return c.at_statement_end() ? kOk : kBadFunctionHeader;
}

// "define" name "=" expression
int parse_define(Cursor& c, SourceDefinition* d) {
  int32_t s = 0, len = 0;
  if (!c.ident(&s, &len) || !c.take_assign() || c.at_statement_end()) return kBadDefinition;
  d->name = c.t + s;
  d->name_length = len;
  d->class_name = nullptr;
  d->class_length = 0;
  return kOk;
}

// The definition keyword at p, or null.
const char* header_keyword(const char* t, int32_t p, int32_t e) {
  if (keyword_at(t, p, e, kKwFunction)) return kKwFunction;
  if (keyword_at(t, p, e, kKwDefine)) return kKwDefine;
  return nullptr;
}

// A "private" or "public" mark at p: sets *mark to 1 or 0 and *after to the
// text behind it; false for any other line.
bool visibility_mark(const char* t, int32_t p, int32_t e, uint8_t* mark, int32_t* after) {
  int32_t k = 0;
  if (keyword_at(t, p, e, kKwPrivate)) {
    *mark = 1;
    k = int32_t(sizeof kKwPrivate) - 1;
  } else if (keyword_at(t, p, e, kKwPublic)) {
    *mark = 0;
    k = int32_t(sizeof kKwPublic) - 1;
  } else {
    return false;
  }
  *after = srclex::skip_blanks(t, p + k, e);
  return true;
}

// The end of a function's text: its "endfunction" line included, else the
// start of the next header line, else the end of the text. Lines counts the
// line ends before the returned position.
int32_t function_end(const char* t, int32_t n, int32_t from, int32_t* lines, DefinitionScan* scan) {
  srclex::LineReader r(t, n, from);
  srclex::Line ln;
  while (r.next(&ln)) {
    const int32_t p = ln.content, e = ln.end;
    uint8_t mark = 0;
    int32_t after = p;
    const bool marked = p < e && visibility_mark(t, p, e, &mark, &after);
    if (p < e && (header_keyword(t, p, e) || (marked && header_keyword(t, after, e)))) return ln.start;
    if (marked && srclex::rest_is_empty(t, after, e)) scan->next_private = mark;
    if (p < e && keyword_at(t, p, e, kKwEndfunction)) {
      if (ln.next > ln.end) ++*lines;
      return ln.next;
    }
    if (ln.next > ln.end) ++*lines;
  }
  return n;
}

}  // namespace

int fn_find_next_definition(EngineContext* ctx, const char* t, int32_t n, DefinitionScan* scan,
                            SourceDefinition* out) {
  srclex::LineReader r(t, n, scan->position);
  srclex::Line ln;
  int32_t line = scan->line;
  while (r.next(&ln)) {
    int32_t p = ln.content;
    const int32_t e = ln.end;
    const int32_t line_ends = ln.next > ln.end ? 1 : 0;
    if (p < e) {
      uint8_t mark = 0;
      int32_t after = p;
      if (visibility_mark(t, p, e, &mark, &after)) {
        scan->next_private = mark;
        p = after;
      }
      const char* kw = header_keyword(t, p, e);
      if (kw) {
        SourceDefinition d{};
        d.start = ln.start;
        d.line = line;
        d.is_private = scan->next_private;
        d.is_define = kw == kKwDefine;
        scan->next_private = 0;
        Cursor c{t, n, p + int32_t(std::strlen(kw)), e};
        TN_TRY(d.is_define ? parse_define(c, &d) : parse_function_header(c, &d));
        const int32_t body = after_line_end(t, n, c.eol);
        int32_t lines = line + c.lines + (body > c.eol ? 1 : 0);
        d.end = d.is_define ? body : function_end(t, n, body, &lines, scan);
        scan->position = d.end;
        scan->line = lines;
        *out = d;
        return kOk;
      }
      // A misplaced line outside every definition is reported at its line.
      int status = kOk;
      if (keyword_at(t, p, e, kKwEndfunction)) status = kUnexpectedEndfunction;
      if (keyword_at(t, p, e, kKwInclude) || keyword_at(t, p, e, kKwIncludeIfExists)) status = kIncludeNotPermitted;
      if (status != kOk) {
        scan->line = line;
        if (ctx) err_note_location(ctx, status, line + 1);
        return status;
      }
    }
    line += line_ends;
  }
  scan->position = n;
  scan->line = line;
  return kEndOfFile;
}

int source_use_lines(const char* t, int32_t n, UseLineVisit visit, void* arg) {
  srclex::LineReader r(t, n);
  srclex::Line ln;
  while (r.next(&ln)) {
    int32_t p = ln.content;
    const int32_t e = ln.end;
    bool if_exists = false;
    if (keyword_at(t, p, e, kKwUseIfExists)) {
      if_exists = true;
      p += int32_t(sizeof kKwUseIfExists) - 1;
    } else if (keyword_at(t, p, e, kKwUse)) {
      p += int32_t(sizeof kKwUse) - 1;
    } else {
      continue;
    }
    for (;;) {
      p = srclex::skip_blanks(t, p, e);
      if (srclex::rest_is_empty(t, p, e)) break;
      if (!ident_start(t[p])) return kBadLibraryName;
      const int32_t q = srclex::ident_end(t, p, e);
      TN_TRY(visit(arg, t + p, q - p, if_exists));
      p = srclex::skip_blanks(t, q, e);
      if (p < e && t[p] == ',') {
        ++p;
        continue;
      }
      if (srclex::rest_is_empty(t, p, e)) break;
      return kBadLibraryName;
    }
  }
  return kOk;
}
