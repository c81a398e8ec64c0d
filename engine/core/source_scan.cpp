// Scanning a source for what the loader needs before any compilation: the
// span, name and visibility of each definition, and the libraries named on
// "use" lines. The compiler's statement reader reads the text (source_walk.h),
// so a definition begins at a "function" or "define" statement wherever the
// compiler would read one, and ends where the compiler stops reading it: after
// its "endfunction" statement, at the next definition or at the end of the text.
#include "engine/core/errors.h"
#include "engine/core/lexer.h"
#include "engine/core/libraries.h"
#include "engine/core/source_walk.h"

namespace {

// The loader's own refusal of a statement, reported at its line.
int refuse(EngineContext* ctx, DefinitionScan* scan, int status, int32_t line) {
  scan->line = line;
  err_note_location(ctx, status, line + 1);
  return status;
}

struct UseVisit {
  UseLineVisit visit;
  void* arg;
  const char* text;
};

// The names of a "use" line: identifiers separated by "," up to the line end
// or a comment.
int use_names(void* arg, int kind, int32_t, int32_t p, int32_t e, int32_t) {
  if (kind != kLineUse && kind != kLineUseIfExists) return kOk;
  const auto* u = static_cast<const UseVisit*>(arg);
  const char* t = u->text;
  auto skip_blanks = [&](int32_t q) {
    while (q < e && lex_blank(t[q])) ++q;
    return q;
  };
  // Nothing but separators and a comment left.
  auto rest_is_empty = [&](int32_t q) {
    while (q < e && (lex_blank(t[q]) || t[q] == ';' || t[q] == ',')) ++q;
    return q >= e || lex_comment_at(t, e, q);
  };
  for (;;) {
    p = skip_blanks(p);
    if (rest_is_empty(p)) return kOk;
    if (!lex_ident_start(t[p])) return kBadLibraryName;
    const int32_t q = lex_identifier_end(t, e, p);
    TN_TRY(u->visit(u->arg, t + p, q - p, kind == kLineUseIfExists));
    p = skip_blanks(q);
    if (p < e && t[p] == ',') {
      ++p;
      continue;
    }
    if (rest_is_empty(p)) return kOk;
    return kBadLibraryName;
  }
}

}  // namespace

int source_walk_lines(EngineContext* ctx, const char* t, int32_t n, SourceLineVisit visit, void* arg) {
  SourceStretch s;
  s.visit = visit;
  s.arg = arg;
  for (;;) {
    TN_TRY(source_read_stretch(ctx, t, n, &s));
    // A top-level stretch ends at a header or at the end of the text; a
    // definition also after its last statement, where top-level code resumes.
    if (!s.at_header && (!s.definition || s.stop >= n)) return kOk;
    s.definition = s.at_header;
    s.from = s.stop;
    s.line = s.stop_line;
  }
}

int fn_find_next_definition(EngineContext* ctx, const char* t, int32_t n, DefinitionScan* scan,
                            SourceDefinition* out) {
  SourceStretch top;
  top.from = scan->position;
  top.line = scan->line;
  TN_TRY(source_read_stretch(ctx, t, n, &top));
  if (top.error != kOk) return refuse(ctx, scan, top.error, top.error_line);
  if (top.mark >= 0) scan->next_private = uint8_t(top.mark);
  scan->position = top.stop;
  scan->line = top.stop_line;
  if (!top.at_header) return kEndOfFile;

  SourceStretch def;
  def.from = top.stop;
  def.line = top.stop_line;
  def.definition = true;
  TN_TRY(source_read_stretch(ctx, t, n, &def));
  if (def.error != kOk) return refuse(ctx, scan, def.error, def.error_line);
  SourceDefinition d{};
  d.name = t + def.name;
  d.name_length = def.name_length;
  d.class_name = def.class_length > 0 ? t + def.class_name : nullptr;
  d.class_length = def.class_length;
  d.start = def.from;
  d.end = def.stop;
  d.line = def.line;
  d.is_private = scan->next_private;
  d.is_define = def.is_define;
  // A mark inside the definition is for the next one.
  scan->next_private = def.mark >= 0 ? uint8_t(def.mark) : 0;
  scan->position = def.stop;
  scan->line = def.stop_line;
  *out = d;
  return kOk;
}

int source_use_lines(EngineContext* ctx, const char* t, int32_t n, UseLineVisit visit, void* arg) {
  UseVisit u{visit, arg, t};
  return source_walk_lines(ctx, t, n, use_names, &u);
}
