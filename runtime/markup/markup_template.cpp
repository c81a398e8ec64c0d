// Template expansion and its expression language, list markers, the
// character and text-run writers of the formats, and line wrapping. Every
// byte goes through put_byte, which keeps the counts and refuses to pass the
// capacity; reads of templates and sources stop at their lengths.
#include <cstring>

#include "runtime/markup/markup_format.h"

namespace {

constexpr int kMaxParens = 16;
constexpr int32_t kMarkerRoom = 8;  // the marker string needs this much output room

// UTF-16 units a byte adds to the character count: an ASCII byte or the
// lead of a 2- or 3-byte sequence one, the lead of a 4-byte sequence two.
int32_t units_of(uint8_t b) {
  if (b < 0x80) return 1;
  if (b >= 0xC0 && b < 0xF0) return 1;
  if (b >= 0xF0 && b < 0xF8) return 2;
  return 0;
}

int put_byte(MarkupOut* out, char c) {
  if (out->bytes >= out->capacity) return 0;
  out->buffer[out->bytes++] = c;
  out->chars += units_of(uint8_t(c));
  ++out->column;
  return 1;
}

// The expression parser: precedence climbing over one expression.
struct Expr {
  const char* s;
  int32_t n;
  int32_t pos = 0;
  const MarkupOut* out;
  bool bad = false;
  int depth = 0;

  void blanks() {
    while (pos < n && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  }
  static int precedence(char c) {
    switch (c) {
      case '|': return 1;
      case '&': return 2;
      case '=': case '!': case '<': case '>': return 3;
      case '+': case '-': return 4;
      case '*': case '/': return 5;
      default: return 0;
    }
  }
  int64_t primary() {
    blanks();
    if (pos >= n) return bad = true, 0;
    const char c = s[pos];
    if (c == '(') {
      if (++depth > kMaxParens) return bad = true, 0;
      ++pos;
      const int64_t v = binary(1);
      blanks();
      if (pos >= n || s[pos] != ')') return bad = true, 0;
      ++pos;
      --depth;
      return v;
    }
    if (c >= '0' && c <= '9') {
      uint64_t v = 0;
      while (pos < n && s[pos] >= '0' && s[pos] <= '9') v = v * 10 + uint64_t(s[pos++] - '0');
      return int64_t(v);
    }
    ++pos;
    switch (c) {
      case 'i': return out->i;
      case 'l': return out->l;
      case 'o': return out->o;
      case 'p': return out->bytes;
      case 's': return out->s;
      case 'x': return out->x;
      default: return bad = true, 0;
    }
  }
  static int64_t apply(char op, int64_t a, int64_t b) {
    // Wrapping arithmetic: the operands are template numbers, and no
    // overflow may be undefined behaviour.
    const uint64_t ua = uint64_t(a), ub = uint64_t(b);
    switch (op) {
      case '|': return a != 0 ? a : b;
      case '&': return a != 0 ? b : 0;
      case '=': return a == b;
      case '!': return a != b;
      case '<': return a < b;
      case '>': return a > b;
      case '+': return int64_t(ua + ub);
      case '-': return int64_t(ua - ub);
      case '*': return int64_t(ua * ub);
      default:
        if (b == 0 || (a == INT64_MIN && b == -1)) return 0;
        return a / b;
    }
  }
  int64_t binary(int min_prec) {
    int64_t left = primary();
    for (;;) {
      if (bad) return 0;
      blanks();
      if (pos >= n) return left;
      const char op = s[pos];
      const int p = precedence(op);
      if (p == 0 || p < min_prec) return left;
      ++pos;
      const int64_t right = binary(p + 1);
      left = apply(op, left, right);
    }
  }
};

// The position of the next "esc esc" at or after from, or n.
int32_t find_double_escape(const char* t, int32_t n, int32_t from, char esc) {
  for (int32_t k = from; k + 1 < n; ++k)
    if (t[k] == esc && t[k + 1] == esc) return k;
  return n;
}

// The expression in braces at pos (t[pos] == '{'): its end after the '}'.
int32_t brace_end(const char* t, int32_t n, int32_t pos) {
  int32_t k = pos + 1;
  while (k < n && t[k] != '}') ++k;
  return k < n ? k + 1 : n;
}

int put_decimal(MarkupOut* out, int64_t v) {
  char digits[24];
  int k = 0;
  uint64_t u = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
  do {
    digits[k++] = char('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0 && !put_byte(out, '-')) return 0;
  while (k > 0)
    if (!put_byte(out, digits[--k])) return 0;
  return 1;
}

// One UTF-8 sequence at text: its length, or 0 when it is cut short or
// malformed (the lead byte is then skipped by the callers).
int32_t sequence_length(const char* text, int32_t n) {
  uint32_t code = 0;
  return markup_utf8_sequence(text, n, &code);
}

uint32_t code_point(const char* text, int32_t len) {
  const uint8_t b = uint8_t(text[0]);
  uint32_t cp = len == 1 ? b : len == 2 ? b & 0x1Fu : len == 3 ? b & 0x0Fu : b & 0x07u;
  for (int32_t k = 1; k < len; ++k) cp = (cp << 6) | (uint8_t(text[k]) & 0x3Fu);
  return cp;
}

// A malformed byte is dropped: the display's decoder would skip it, and the
// character count must agree with what it shows.
int copy_char(MarkupOut* out, const char* text, int32_t n, int32_t* used) {
  const int32_t len = sequence_length(text, n);
  *used = len > 0 ? len : 1;
  return len > 0 ? markup_put_bytes(out, text, len) : 1;
}

// The table writers of HTML and LaTeX.
int table_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void* data) {
  for (const auto* row = static_cast<const MarkupCharRow*>(data); row && row->ch; ++row)
    if (row->ch == text[0]) {
      *used = 1;
      return markup_expand_template(row->replacement, -1, out->format ? out->format->escape : '%', out);
    }
  return copy_char(out, text, n, used);
}

int put_rtf_unit(MarkupOut* out, uint32_t unit) {
  const int64_t value = unit >= 0x8000 ? int64_t(unit) - 0x10000 : int64_t(unit);
  return markup_put_bytes(out, "\\u", 2) && put_decimal(out, value) && put_byte(out, '?');
}

}  // namespace

int32_t markup_utf8_sequence(const char* text, int32_t n, uint32_t* code) {
  if (n <= 0) return 0;
  const uint8_t b = uint8_t(text[0]);
  if (b < 0x80) return *code = b, 1;
  const int32_t len = b >= 0xC2 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xF0 && b < 0xF5 ? 4 : 0;
  if (len == 0 || len > n) return 0;
  uint32_t cp = len == 2 ? b & 0x1Fu : len == 3 ? b & 0x0Fu : b & 0x07u;
  for (int32_t k = 1; k < len; ++k) {
    const uint8_t c = uint8_t(text[k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  *code = cp;
  return len;
}

int32_t markup_char_units(const char* text, int32_t n) {
  int32_t units = 0;
  for (int32_t k = 0; k < n; ++k) units += units_of(uint8_t(text[k]));
  return units;
}

int markup_put_bytes(MarkupOut* out, const char* text, int32_t n) {
  if (n > out->capacity - out->bytes) {
    // What fits is written, as byte-by-byte writing would leave it.
    for (int32_t k = 0; k < n; ++k)
      if (!put_byte(out, text[k])) return 0;
    return 1;
  }
  std::memcpy(out->buffer + out->bytes, text, size_t(n));
  out->bytes += n;
  out->column += n;
  for (int32_t k = 0; k < n; ++k) out->chars += units_of(uint8_t(text[k]));
  return 1;
}

int markup_put_line_end(MarkupOut* out) {
  if (!markup_put_bytes(out, out->line_end, out->line_end_length)) return 0;
  for (int32_t k = 0; k < out->indent; ++k)
    if (!put_byte(out, ' ')) return 0;
  out->column = out->indent;
  out->wrap_searched = out->bytes;
  return 1;
}

int64_t markup_eval_expr(const char* text, int32_t length, const MarkupOut* out) {
  Expr e{text, length, 0, out};
  const int64_t v = e.binary(1);
  e.blanks();
  return e.bad || e.pos != length ? 1 : v;
}

int32_t markup_list_markers(const MarkupOut* out, char* buffer) {
  int32_t n = 0;
  const int32_t depth = out->depth < kMkMaxDepth ? out->depth : kMkMaxDepth;
  for (int32_t k = 0; k < depth; ++k) {
    switch (out->kinds[k]) {
      case kMkLevelBullet: buffer[n++] = '*'; break;
      case kMkLevelDefTerm: buffer[n++] = ';'; break;
      case kMkLevelDefinition: case kMkLevelIndented: buffer[n++] = ':'; break;
      default: buffer[n++] = '#'; break;
    }
  }
  buffer[n] = 0;
  return n;
}

int markup_expand_template(const char* tpl, int32_t length, char escape, MarkupOut* out) {
  if (!tpl) return 1;
  const int32_t n = length < 0 ? int32_t(std::strlen(tpl)) : length;
  for (int32_t k = 0; k < n;) {
    const char c = tpl[k];
    if (c == '\n') {
      if (!markup_put_line_end(out)) return 0;
      ++k;
      continue;
    }
    if (c != escape || k + 1 >= n) {
      // A literal run up to the next escape or line feed, in one write.
      int32_t j = k + 1;
      while (j < n && tpl[j] != escape && tpl[j] != '\n') ++j;
      if (j < n && tpl[j] == escape && j + 1 >= n) ++j;  // a final escape is literal too
      if (!markup_put_bytes(out, tpl + k, j - k)) return 0;
      k = j;
      continue;
    }
    const char d = tpl[k + 1];
    if (d == escape && k + 2 < n && tpl[k + 2] == '{') {
      // esc esc {count} text esc esc
      const int32_t expr_end = brace_end(tpl, n, k + 2);
      const int64_t count = markup_eval_expr(tpl + k + 3, expr_end - k - 4, out);
      const int32_t text_end = find_double_escape(tpl, n, expr_end, escape);
      const int64_t times = count < 1 ? 0 : count > kMkMaxRepeat ? kMkMaxRepeat : count;
      for (int64_t t = 0; t < times; ++t)
        if (!markup_expand_template(tpl + expr_end, text_end - expr_end, escape, out)) return 0;
      k = text_end + 2 > n ? n : text_end + 2;
    } else if (d == '{') {
      const int32_t expr_end = brace_end(tpl, n, k + 1);
      if (!put_decimal(out, markup_eval_expr(tpl + k + 2, expr_end - k - 3, out))) return 0;
      k = expr_end;
    } else if (d == 'L') {
      if (out->capacity - out->bytes < kMarkerRoom) return 0;
      char markers[kMkMaxDepth + 1];
      if (!markup_put_bytes(out, markers, markup_list_markers(out, markers))) return 0;
      k += 2;
    } else {
      if (!put_byte(out, c)) return 0;
      ++k;
    }
  }
  return 1;
}

int markup_write_char(MarkupOut* out, const char* text, int32_t n, bool preformatted, int32_t* used) {
  const MarkupFormat* f = out->format;
  MarkupCharFn fn = f ? (preformatted ? f->pre_char_writer : f->char_writer) : nullptr;
  const void* data = f ? (preformatted ? f->pre_char_data : f->char_data) : nullptr;
  if (fn) return fn(out, text, n, used, data);
  return copy_char(out, text, n, used);
}

int markup_write_text_run(MarkupOut* out, const MarkupFormat* format) {
  if (!out->source || out->span_position < 0 || out->span_length <= 0 ||
      out->span_position > out->source_length - out->span_length)
    return 0;
  const char* text = out->source + out->span_position;
  int32_t length = out->span_length;
  for (const MarkupPrefix* p = format->prefixes; p && p->prefix; ++p) {
    const int32_t m = int32_t(std::strlen(p->prefix));
    if (m > length || std::memcmp(text, p->prefix, size_t(m)) != 0) continue;
    if (!markup_expand_template(p->replacement, -1, format->escape, out) || !markup_wrap_line(out)) return 1;
    text += m;
    length -= m;
    break;
  }
  if (format->run_writer) return format->run_writer(text, length, out, format->run_data);
  // Copied as it stands, the column unchanged. Characters count as the
  // display's decoder counts them (a 4-byte sequence two UTF-16 units), and
  // a malformed byte is dropped, so spans after a link stay in place.
  for (int32_t k = 0; k < length;) {
    const int32_t len = sequence_length(text + k, length - k);
    if (len == 0) {
      ++k;
      continue;
    }
    if (out->bytes > out->capacity - len) return 1;
    std::memcpy(out->buffer + out->bytes, text + k, size_t(len));
    out->bytes += len;
    out->chars += units_of(uint8_t(text[k]));
    k += len;
  }
  return 0;
}

int markup_wrap_line(MarkupOut* out) {
  const MarkupFormat* f = out->format;
  if (!f || f->wrap_column <= 0 || out->column < f->wrap_column) return 1;
  // Positions before wrap_searched were searched already (or lie before a
  // line end): only the rest is scanned, so wrapping a long line stays linear.
  const int32_t searched = out->wrap_searched < 0 || out->wrap_searched > out->bytes ? 0 : out->wrap_searched;
  int32_t line = out->bytes;
  while (line > searched && out->buffer[line - 1] != '\n' && out->buffer[line - 1] != '\r') --line;
  const int32_t floor = line;
  int32_t at = -1, answer = 0;
  for (int32_t k = out->bytes - 1; k >= floor && at < 0; --k) {
    if (f->break_test) {
      // The tests read the byte and the one after it only.
      answer = f->break_test(out->buffer, k, out->bytes, f->break_data);
      if (answer == 1 || answer == 2) at = k;
    } else if (out->buffer[k] == ' ' || out->buffer[k] == '\t') {
      answer = 1;
      at = k;
    }
  }
  if (at < 0) {
    out->wrap_searched = out->bytes;
    return 1;
  }
  // Replace the byte, or break after it, by the line end and the indentation.
  const int32_t cut = answer == 1 ? at : at + 1;
  const int32_t tail = out->bytes - (answer == 1 ? at + 1 : at + 1);
  const int32_t insert = out->line_end_length + out->indent;
  const int32_t grown = cut + insert + tail;
  if (grown > out->capacity) return 0;
  std::memmove(out->buffer + cut + insert, out->buffer + out->bytes - tail, size_t(tail));
  std::memcpy(out->buffer + cut, out->line_end, size_t(out->line_end_length));
  std::memset(out->buffer + cut + out->line_end_length, ' ', size_t(out->indent));
  if (answer == 1) out->chars -= units_of(uint8_t(' '));
  for (int32_t k = 0; k < insert; ++k) out->chars += units_of(uint8_t(out->buffer[cut + k]));
  out->bytes = grown;
  out->column = out->indent + tail;
  out->wrap_searched = cut + insert;
  return 1;
}

// Writers of the constant formats, used by markup_formats.cpp.
int markup_null_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void*) {
  (void)out;
  const int32_t len = sequence_length(text, n);
  *used = len > 0 ? len : 1;
  return 1;
}

int markup_null_run(const char*, int32_t, MarkupOut*, const void*) { return 0; }

int markup_table_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void* data) {
  return table_char(out, text, n, used, data);
}

int markup_rtf_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void*) {
  const char c = text[0];
  if (uint8_t(c) < 0x80) {
    *used = 1;
    if (c == '\\' || c == '{' || c == '}') return put_byte(out, '\\') && put_byte(out, c);
    return put_byte(out, c);
  }
  const int32_t len = sequence_length(text, n);
  if (len == 0) {
    *used = 1;  // a lead byte without its continuation bytes writes nothing
    return 1;
  }
  *used = len;
  const uint32_t cp = code_point(text, len);
  if (cp < 0x10000) return put_rtf_unit(out, cp);
  // Outside the 16-bit range: the two units of its surrogate pair.
  const uint32_t v = cp - 0x10000;
  return put_rtf_unit(out, 0xD800 + (v >> 10)) && put_rtf_unit(out, 0xDC00 + (v & 0x3FF));
}

namespace {

// A link target or image source written character by character through a
// format's character writer.
int run_through(MarkupCharFn write, const char* text, int32_t length, MarkupOut* out, const void* data) {
  for (int32_t k = 0; k < length;) {
    int32_t used = 1;
    if (!write(out, text + k, length - k, &used, data)) return 1;
    k += used;
  }
  return 0;
}

// A link target is the quoted argument of a HYPERLINK field instruction,
// which has escapes of its own beneath the RTF ones: a quote would end the
// argument and a backslash escapes the character after it, so each is
// written after a backslash of the field's (itself "\\" in RTF).
int rtf_target_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void* data) {
  if (text[0] != '"' && text[0] != '\\') return markup_rtf_char(out, text, n, used, data);
  *used = 1;
  return markup_put_bytes(out, "\\\\", 2) && markup_rtf_char(out, text, n, used, data);
}

}  // namespace

int markup_rtf_run(const char* text, int32_t length, MarkupOut* out, const void* data) {
  return run_through(rtf_target_char, text, length, out, data);
}

int markup_table_run(const char* text, int32_t length, MarkupOut* out, const void* data) {
  return run_through(markup_table_char, text, length, out, data);
}

int markup_wiki_char(MarkupOut* out, const char* text, int32_t n, int32_t* used, const void*) {
  const char c = text[0];
  const char prev = out->bytes > 0 ? out->buffer[out->bytes - 1] : '\n';
  const bool line_start = prev == '\n' || prev == '\r';
  bool escape = c == '~' || c == '|';
  if (line_start && std::strchr("*#;:=-", c) && c) escape = true;
  if (c == prev && c && std::strchr("*/#_^,[]{}<>\\", c)) escape = true;
  if (escape && !put_byte(out, '~')) return 0;
  return copy_char(out, text, n, used);
}

int markup_wiki_break(const char* line, int32_t pos, int32_t end, const void*) {
  if (line[pos] != ' ') return 0;
  if (pos + 1 < end && std::strchr("*#|=", line[pos + 1]) && line[pos + 1]) return 0;
  return 1;
}

int markup_rtf_break(const char* line, int32_t pos, int32_t, const void*) { return line[pos] == ' ' ? 2 : 0; }
