// The converter's hot paths, written for speed on purpose: runs of ordinary
// text copied in one pass, and templates that cannot change during a parse
// written from a copy expanded once. Each writes exactly the bytes, counts
// and columns that the character path and the template expander write.
#include <cstring>

#include "runtime/markup/markup_parser_internal.h"

namespace {

// ---- hot path, written for speed on purpose: a run of ordinary text in a
// text state goes to the output in one pass. Plain bytes start no token
// and every writer that may take them copies them unchanged. Quiet bytes
// start no token either ('<' only where no extension can begin at it: the
// next byte is no '<', or the marker there is known to be unclosed) and
// the format writes each as one literal string (an HTML entity, say),
// which the run copies in place of the character writer. Single blanks
// between run bytes join the run only while they stand before the wrap
// column, and no string a run writes holds a blank, so wrapping once after
// the run breaks where per-character wrapping would: at the run's last
// blank, or nowhere.

// True when an extension marker can begin at the '<' at j.
bool extension_may_begin(const MarkupParser* p, int32_t j) {
  const char* s = p->source;
  const int32_t n = p->length;
  if ((p->options & kMkOptNoExtensions) || j + 1 >= n || s[j + 1] != '<') return false;
  const bool triple = j + 2 < n && s[j + 2] == '<';
  const int32_t known = p->unclosed_from[triple];
  return !(known > 0 && j + (triple ? 3 : 2) >= known);
}

// The output bytes of the byte at j inside a run, or kMkNotInRun.
inline int32_t run_width(const MarkupParser* p, const MarkupQuietBytes& q, int32_t j) {
  const uint8_t c = kMkRunBytes.cls[uint8_t(p->source[j])];
  if (c == 1) return 1;
  if (c == 0) return kMkNotInRun;
  if (c == 2 && extension_may_begin(p, j)) return kMkNotInRun;  // '<'
  return q.length[c - 2];
}

// Bytes of the quiet byte at j and of the equal ones after it that may join
// the run, at most limit of them.
int32_t quiet_stretch(const MarkupParser* p, int32_t j, int32_t limit) {
  const char* s = p->source;
  if (limit < 1) return 0;
  const int32_t end = p->length - j < limit ? p->length : j + limit;
  int32_t e = j + 1;
  if (s[j] == '<') {
    while (e < end && s[e] == '<' && !extension_may_begin(p, e)) ++e;
  } else {
    while (e < end && s[e] == s[j]) ++e;
  }
  return e - j;
}

// ---- templates fixed for a parse: one whose expressions read no variable
// but s and x (the font size and the anchors flag, fixed for the parse)
// and that writes no list markers expands to the same bytes every time.
// Every expression stands in braces directly after an escape character
// ("%{...}" or the count of "%%{...}...%%"), so looking at those finds
// every variable the template reads; unknown letters count as variables.
bool reads_only_fixed(const char* tpl, char escape) {
  for (const char* c = tpl; *c; ++c) {
    if (*c != escape || !c[1]) continue;
    if (c[1] == 'L') return false;
    if (c[1] != '{') continue;
    for (const char* e = c + 2; *e && *e != '}'; ++e)
      if (((*e >= 'a' && *e <= 'z') || (*e >= 'A' && *e <= 'Z')) && *e != 's' && *e != 'x') return false;
  }
  return true;
}

// Expands template which into the parser's copy, with the line end "\n"
// and no indentation: every '\n' of the copy is then a line end, since
// expressions write digits only.
void expand_fixed(MarkupParser* p, int32_t which) {
  const char* tpl = p->format->templates[which];
  p->fixed_state[which] = kMkFixedNo;
  if (!reads_only_fixed(tpl, p->format->escape)) return;
  MarkupOut scratch;
  scratch.buffer = p->fixed_text + p->fixed_used;
  scratch.capacity = kMkFixedTemplateBytes - p->fixed_used;
  scratch.format = p->format;
  scratch.s = p->fixed_s;
  scratch.x = p->fixed_x;
  if (!markup_expand_template(tpl, -1, p->format->escape, &scratch)) return;  // too long to keep
  p->fixed_at[which] = p->fixed_used;
  p->fixed_length[which] = scratch.bytes;
  // The characters of the pieces between line ends (a line end counts one).
  int32_t line_ends = 0;
  for (int32_t k = 0; k < scratch.bytes; ++k) line_ends += scratch.buffer[k] == '\n';
  p->fixed_units[which] = markup_char_units(scratch.buffer, scratch.bytes) - line_ends;
  p->fixed_line_ends[which] = line_ends;
  const void* lf = std::memchr(scratch.buffer, '\n', size_t(scratch.bytes));
  p->fixed_first_lf[which] = lf ? int32_t(static_cast<const char*>(lf) - scratch.buffer) : scratch.bytes;
  p->fixed_used += scratch.bytes;
  p->fixed_state[which] = kMkFixedYes;
}

// The copy in pieces between its line ends, each line end written as the
// output's own (with the current indentation), as the expander writes
// them; the pieces' characters are counted once, when the copy is made.
// Only a copy that fits whole is written so: near a full output the
// expander writes what fits, as it always has.
bool fixed_fits(const MarkupParser* p, int32_t which) {
  const int64_t line_ends = p->fixed_line_ends[which];
  const int64_t indent = p->out.indent > 0 ? p->out.indent : 0;  // put_line_end writes no fewer spaces
  const int64_t need = p->fixed_length[which] + line_ends * (p->out.line_end_length + indent - 1);
  return need <= p->out.capacity - p->out.bytes;
}

void write_fixed(MarkupParser* p, int32_t which) {
  const char* text = p->fixed_text + p->fixed_at[which];
  const int32_t n = p->fixed_length[which];
  MarkupOut& out = p->out;
  for (int32_t k = 0, e = p->fixed_first_lf[which]; k < n; e = k) {
    while (e < n && text[e] != '\n') ++e;
    std::memcpy(out.buffer + out.bytes, text + k, size_t(e - k));
    out.bytes += e - k;
    out.column += e - k;
    if (e < n) markup_put_line_end(&out);
    k = e + 1;
  }
  out.chars += p->fixed_units[which];
}

}  // namespace

bool markup_text_runs_apply(const MarkupFormat* f) {
  return !f->rewriters && (!f->char_writer || f->char_writer == markup_table_char || f->char_writer == markup_rtf_char);
}

// The literal string the format's character writer writes for c, if it
// writes one: the default and RTF writers copy these bytes, the table
// writer expands its row's template, which is literal without the escape
// character and line ends (and a blank would be a break point).
MarkupQuietBytes markup_quiet_bytes(const MarkupFormat* f) {
  MarkupQuietBytes q;
  for (int32_t k = 0; k < kMkQuietCount; ++k) {
    q.text[k] = kMkQuietChars + k;
    q.length[k] = 1;
    if (f->char_writer != markup_table_char) continue;
    for (const auto* row = static_cast<const MarkupCharRow*>(f->char_data); row && row->ch; ++row) {
      if (row->ch != kMkQuietChars[k]) continue;
      const char* r = row->replacement ? row->replacement : "";
      const bool literal = std::strchr(r, f->escape) == nullptr && std::strpbrk(r, "\n\r \t") == nullptr;
      q.text[k] = r;
      q.length[k] = literal ? int32_t(std::strlen(r)) : kMkNotInRun;
      break;
    }
  }
  for (int32_t k = 0; k < kMkQuietCount; ++k)
    q.units[k] = q.length[k] > 0 ? markup_char_units(q.text[k], q.length[k]) : 0;
  return q;
}

int markup_text_run(MarkupParser* p, const MarkupQuietBytes& q) {
  const char* s = p->source;
  const int32_t n = p->length;
  // The pending blank is written only when a run follows it: before a
  // marker it may be dropped (a cell bar) or written elsewhere.
  if (p->pos + 1 >= n || run_width(p, q, p->pos) < 0 || run_width(p, q, p->pos + 1) < 0) return 0;
  MK_TRY(markup_flush_space(p));
  char* o = p->out.buffer + p->out.bytes;
  char* const o_end = p->out.buffer + (p->half_capacity - kMkMinFreeBeforeToken);
  const bool blanks = p->format->space && p->format->space[0] == ' ' && p->format->space[1] == 0;
  const int32_t wrap = p->format->wrap_column > 0 ? p->format->wrap_column : INT32_MAX;
  const char* const o_start = o;
  int32_t j = p->pos, units = 0, column = p->out.column;
  while (j < n && o < o_end) {
    // A stretch of plain bytes, copied as it stands.
    const int32_t limit = n - j < o_end - o ? n : j + int32_t(o_end - o);
    int32_t e = j;
    while (e < limit && kMkRunBytes.cls[uint8_t(s[e])] == 1) ++e;
    std::memcpy(o, s + j, size_t(e - j));
    o += e - j;
    units += e - j;
    column += e - j;
    j = e;
    if (j >= limit) break;
    if (s[j] == ' ') {
      if (!blanks || j + 1 >= n || run_width(p, q, j + 1) < 0 || column + 1 >= wrap) break;
      *o++ = ' ';
      ++units, ++column, ++j;
      continue;
    }
    const int32_t m = run_width(p, q, j);
    if (m < 0) break;
    // A stretch of one quiet byte: its string, then doubling copies.
    const int32_t k = kMkRunBytes.cls[uint8_t(s[j])] - 2;
    const int32_t r = quiet_stretch(p, j, m > 0 ? int32_t((o_end - o) / m) : n);
    if (r == 0) break;
    const int64_t total = int64_t(r) * m;
    std::memcpy(o, q.text[k], size_t(m));
    for (int64_t filled = m; filled < total; filled *= 2)
      std::memcpy(o + filled, o, size_t(filled < total - filled ? filled : total - filled));
    o += total;
    units += r * q.units[k];
    column += int32_t(total);
    j += r;
  }
  p->out.bytes += int32_t(o - o_start);
  p->out.chars += units;
  p->out.column = column;
  p->pos = j;
  return markup_wrap_line(&p->out) ? 0 : kMkOutputFull;
}

int markup_write_template(MarkupParser* p, int32_t which) {
  const char* tpl = which >= 0 && which < kMkTemplateCount ? p->format->templates[which] : nullptr;
  if (tpl && p->fixed_state[which] == kMkFixedUnknown) expand_fixed(p, which);
  // A hook may have changed s or x: the template is then expanded anew.
  if (tpl && p->fixed_state[which] == kMkFixedYes && p->out.s == p->fixed_s && p->out.x == p->fixed_x &&
      fixed_fits(p, which)) {
    write_fixed(p, which);
  } else if (!markup_expand_template(tpl, -1, p->format->escape, &p->out)) {
    return kMkOutputFull;
  }
  const int32_t wrap = p->format->wrap_column;
  if (wrap <= 0 || p->out.column < wrap) return 0;  // markup_wrap_line's own first test, without the call
  return markup_wrap_line(&p->out) ? 0 : kMkOutputFull;
}
