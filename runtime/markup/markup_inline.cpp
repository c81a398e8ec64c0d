// The markup parser's inline part: the style stack and its properly nested
// closes, links and images, ordinary characters, extensions and source
// rewriting with the swap of the buffer halves. Positions handed to hooks
// stay positions in the caller's source across every swap.
#include <cstring>

#include "runtime/markup/markup_parser_internal.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

int32_t begin_template(int32_t style) {
  static const int32_t kBegin[kMkStyleCount] = {kMkBoldBegin, kMkItalicBegin, kMkUnderlineBegin, kMkSuperBegin,
                                                kMkSubBegin,  kMkMonoBegin,   kMkMonoBegin,      kMkLinkBegin,
                                                kMkImageBegin};
  return kBegin[style];
}

int32_t end_template(int32_t style) { return begin_template(style) + 1; }

int hook(MarkupParser* p, int32_t begin, const char* marker, int32_t at) {
  return markup_call_hook(p, p->format->inline_hook, -1, 0, begin, marker, at);
}

// The open link's or image's target as the output state's span.
void select_target(MarkupParser* p, const MarkupOpenStyle& e) {
  p->out.span_position = e.target_position;
  p->out.span_length = e.target_length;
}

// Link (image) open writing: nothing without a target-end template; else
// the begin template and, unless the target follows the text, the target
// and the target-end template.
int write_link_open(MarkupParser* p, int32_t style) {
  const MarkupFormat* f = p->format;
  const bool image = style == kMkStyleImage;
  const char* target_end = f->templates[image ? kMkImageSourceEnd : kMkLinkTargetEnd];
  if (!target_end) return 0;
  MK_TRY(markup_write_template(p, begin_template(style)));
  if (image ? f->image_source_after : f->link_target_after) return 0;
  if (markup_write_text_run(&p->out, f)) return kMkOutputFull;
  return markup_write_template(p, image ? kMkImageSourceEnd : kMkLinkTargetEnd);
}

int write_link_close(MarkupParser* p, const MarkupOpenStyle& e) {
  const MarkupFormat* f = p->format;
  const bool image = e.style == kMkStyleImage;
  const int32_t target_end = image ? kMkImageSourceEnd : kMkLinkTargetEnd;
  if (f->templates[target_end] && (image ? f->image_source_after : f->link_target_after)) {
    MK_TRY(markup_write_template(p, target_end));
    select_target(p, e);
    if (markup_write_text_run(&p->out, f)) return kMkOutputFull;
  }
  return markup_write_template(p, end_template(e.style));
}

int close_entry(MarkupParser* p, const MarkupOpenStyle& e, int32_t at) {
  if (e.style == kMkStyleNowiki) return e.wrote_monospace ? markup_write_template(p, kMkMonoEnd) : 0;
  if (e.style == kMkStyleLink || e.style == kMkStyleImage) {
    select_target(p, e);
    MK_TRY(write_link_close(p, e));
    const int status = hook(p, 0, markup_style_delimiter(e.style), at);
    p->out.span_position = p->out.span_length = 0;
    return status;
  }
  MK_TRY(markup_write_template(p, end_template(e.style)));
  return hook(p, 0, markup_style_delimiter(e.style), at);
}

int open_entry(MarkupParser* p, int32_t style, int32_t at, bool reopening) {
  if (p->style_count >= kMkStyleStackSize) return 0;
  MarkupOpenStyle& e = p->styles[p->style_count++];
  e = MarkupOpenStyle{style, 0, 0, false};
  if (style == kMkStyleNowiki) {
    // Its monospace templates only once, and never again after a nested
    // close; and, as every style, not inside an image where the format
    // keeps styles out of images.
    const bool in_image = p->format->no_styles_in_images && markup_style_open(p, kMkStyleImage);
    e.wrote_monospace = !reopening && !in_image && (p->options & kMkOptNowikiMonospace) &&
                        !markup_style_open(p, kMkStyleMono);
    return e.wrote_monospace ? markup_write_template(p, kMkMonoBegin) : 0;
  }
  MK_TRY(hook(p, 1, markup_style_delimiter(style), at));
  return markup_write_template(p, begin_template(style));
}

int32_t skip_blanks(const char* s, int32_t n, int32_t k) {
  while (k < n && is_blank(s[k])) ++k;
  return k;
}

// A link's target (image's source) from k: up to '|', the closing pair, or a
// line end followed by another; *end is where the scan stopped.
int32_t scan_target(const char* s, int32_t n, int32_t k, const char* close, int32_t* end) {
  int32_t j = k;
  while (j < n) {
    if (s[j] == '|') break;
    if (j + 1 < n && s[j] == close[0] && s[j + 1] == close[1]) break;
    if (is_line_end(s[j])) {
      int32_t after = j + (s[j] == '\r' && j + 1 < n && s[j + 1] == '\n' ? 2 : 1);
      if (after < n && is_line_end(s[after])) break;
    }
    ++j;
  }
  *end = j;
  int32_t m = j;
  while (m > k && (is_blank(s[m - 1]) || is_line_end(s[m - 1]))) --m;
  return m - k;
}

const MarkupExtension* find_extension(const MarkupParser* p, const char* name, int32_t length, bool triple) {
  for (auto* e = static_cast<const MarkupExtension*>(p->format->extensions); e && e->name; ++e) {
    if (((e->flags & kMkExtTriple) != 0) != triple) continue;
    const int32_t m = int32_t(std::strlen(e->name));
    if (m > length || std::memcmp(e->name, name, size_t(m)) != 0) continue;
    if (m == length || (e->flags & kMkExtPrefix)) return e;
  }
  return nullptr;
}

// Where the closing marker of an extension starts from k, or -1: inline
// forms close anywhere, block forms at a line start.
int32_t find_close(const char* s, int32_t n, int32_t k, const char* close, bool block) {
  const int32_t m = int32_t(std::strlen(close));
  for (int32_t j = k; j <= n - m; ++j) {
    if (std::memcmp(s + j, close, size_t(m)) != 0) continue;
    if (!block || j == 0 || is_line_end(s[j - 1])) return j;
  }
  return -1;
}

// Where close (m bytes) first begins at or after k, or -1.
int32_t find_any(const char* s, int32_t n, int32_t k, const char* close, int32_t m) {
  while (k <= n - m) {
    const void* hit = std::memchr(s + k, close[0], size_t(n - m + 1 - k));
    if (!hit) return -1;
    const int32_t j = int32_t(static_cast<const char*>(hit) - s);
    if (std::memcmp(s + j, close, size_t(m)) == 0) return j;
    k = j + 1;
  }
  return -1;
}

}  // namespace

int markup_write_ordinary(MarkupParser* p, int32_t at, int32_t* used, bool preformatted) {
  *used = 1;
  if (at < 0 || at >= p->length) return 0;
  uint32_t code = 0;
  const int32_t len = markup_utf8_sequence(p->source + at, p->length - at, &code);
  if (len == 0) return 0;  // a malformed byte writes nothing, so counts stay in step with the display
  if (!markup_write_char(&p->out, p->source + at, len, preformatted, used)) return kMkOutputFull;
  return markup_wrap_line(&p->out) ? 0 : kMkOutputFull;
}

// ---- style toggle: open (hook, begin) or close at k with the styles above
// it reopened in their order; links and images above k are dropped.
int markup_style_toggle(MarkupParser* p, int32_t style, int32_t at) {
  int32_t found = -1;
  for (int32_t k = p->style_count - 1; k >= 0 && found < 0; --k)
    if (p->styles[k].style == style) found = k;
  if (found < 0) {
    if (style == kMkStyleLink || style == kMkStyleImage) return 0;
    if (p->format->no_styles_in_images && markup_style_open(p, kMkStyleImage)) return 0;
    return open_entry(p, style, at, false);
  }
  MarkupCarriedStyles above;
  above.count = 0;
  for (int32_t k = found + 1; k < p->style_count; ++k) above.styles[above.count++] = p->styles[k].style;
  while (p->style_count > found) {
    const MarkupOpenStyle e = p->styles[--p->style_count];
    MK_TRY(close_entry(p, e, at));
  }
  return markup_reopen_styles(p, above, at);
}

int markup_close_styles(MarkupParser* p) {
  while (p->style_count > 0) {
    const MarkupOpenStyle e = p->styles[--p->style_count];
    MK_TRY(close_entry(p, e, p->pos));
  }
  return 0;
}

int markup_close_styles_carried(MarkupParser* p, MarkupCarriedStyles* carried) {
  carried->count = 0;
  for (int32_t k = 0; k < p->style_count; ++k) carried->styles[carried->count++] = p->styles[k].style;
  return markup_close_styles(p);
}

int markup_reopen_styles(MarkupParser* p, const MarkupCarriedStyles& carried, int32_t at) {
  for (int32_t k = 0; k < carried.count; ++k) {
    const int32_t s = carried.styles[k];
    if (s == kMkStyleLink || s == kMkStyleImage) continue;  // ended with their text
    MK_TRY(open_entry(p, s, at, true));
  }
  return 0;
}

// ---- link: "[[" target ["|" text] "]]"; image: "{{" source ["|" alt] "}}".
int markup_open_link(MarkupParser* p, const MarkupToken& t) {
  const int32_t style = t.kind == kTokLinkOpen ? kMkStyleLink : kMkStyleImage;
  if (markup_style_open(p, kMkStyleLink) || markup_style_open(p, kMkStyleImage)) {
    p->pos = t.end;  // "[[" inside a link or image opens nothing and is dropped
    return 0;
  }
  const char* s = p->source;
  const int32_t start = skip_blanks(s, p->length, t.end);
  int32_t end = start;
  const int32_t length = scan_target(s, p->length, start, style == kMkStyleLink ? "]]" : "}}", &end);
  if (length == 0) {
    p->pos = end;
    return 0;
  }
  p->out.span_position = start;
  p->out.span_length = length;
  MK_TRY(hook(p, 1, markup_style_delimiter(style), t.start));
  MK_TRY(write_link_open(p, style));
  if (p->style_count < kMkStyleStackSize) p->styles[p->style_count++] = MarkupOpenStyle{style, start, length, false};
  const bool bar = end < p->length && s[end] == '|';
  p->pos = bar ? skip_blanks(s, p->length, end + 1) : start;  // without a text the target is the text
  return 0;
}

// ---- an extension marker is closed when its close begins anywhere after it:
// the name ends before any close, and a blank cannot begin one. One that
// is not is ordinary text, whatever the parser's state.
bool markup_extension_closed(MarkupParser* p, const MarkupToken& t) {
  const bool triple = t.kind == kTokExt3 || t.kind == kTokExt3Block;
  const int32_t known = p->unclosed_from[triple];
  if (known > 0 && t.end >= known) return false;
  const char* close = triple ? ">>>" : ">>";
  if (find_any(p->source, p->length, t.end, close, triple ? 3 : 2) >= 0) return true;
  p->unclosed_from[triple] = t.end;
  return false;
}

// ---- extension: "<<" name body ">>", "<<<" name body ">>>"; the block forms
// end at a line beginning with the closing marker.
int markup_extension(MarkupParser* p, const MarkupToken& t, int32_t* before) {
  const bool triple = t.kind == kTokExt3 || t.kind == kTokExt3Block;
  bool block = t.kind == kTokExtBlock || t.kind == kTokExt3Block;
  const char* s = p->source;
  const int32_t n = p->length;
  const char* close = triple ? ">>>" : ">>";
  const int32_t close_length = int32_t(std::strlen(close));
  const int32_t name_start = t.end;
  int32_t name_end = name_start;
  while (name_end < n && !is_blank(s[name_end]) && !is_line_end(s[name_end]) &&
         !(name_end <= n - close_length && std::memcmp(s + name_end, close, size_t(close_length)) == 0))
    ++name_end;
  const bool separated = name_end < n && (is_blank(s[name_end]) || is_line_end(s[name_end]));
  const int32_t body_start = separated ? name_end + 1 : name_end;
  int32_t close_at = find_close(s, n, body_start, close, block);
  if (close_at < 0 && block) {
    // A line-start marker whose close is on the same line: the inline form.
    block = false;
    close_at = find_close(s, n, body_start, close, false);
  }
  if (close_at < 0) {
    // The parser passes unclosed markers on as text; should one come here
    // all the same, its first character is text too.
    int32_t used = 1;
    MK_TRY(markup_write_ordinary(p, t.start, &used, false));
    p->pos = t.start + 1;
    return 0;
  }
  int32_t after = close_at + close_length;
  if (block)
    while (after < n && !is_line_end(s[after])) ++after;
  const MarkupExtension* e = find_extension(p, s + name_start, name_end - name_start, triple);
  const bool block_element = e && (e->flags & kMkExtBlock);
  p->pos = t.start;
  if (block_element) {
    MK_TRY(markup_close_block(p));
  } else if (block) {
    MK_TRY(markup_close_styles(p));
  }
  *before = p->out.bytes;
  const int32_t kept_chars = p->out.chars, kept_column = p->out.column;
  p->pos = after;
  if (e) {
    const int32_t body_end = block && close_at > body_start && is_line_end(s[close_at - 1]) ? close_at - 1 : close_at;
    const int status = e->fn(s + name_start, name_end - name_start, s + body_start,
                             body_end > body_start ? body_end - body_start : 0, &p->out, e->data);
    if (status != 0) return status;
    if (p->out.bytes >= p->out.capacity) return kMkOutputFull;
    if (e->flags & kMkExtReparse) {
      p->out.chars = kept_chars;
      p->out.column = kept_column;
      return markup_swap_buffers(p, *before, after);
    }
  }
  return markup_wrap_line(&p->out) ? 0 : kMkOutputFull;
}

// ---- source rewriting: the first function of the table that rewrites has
// its replacement swapped in as source.
int markup_rewrite(MarkupParser* p) {
  for (auto* r = static_cast<const MarkupRewriter*>(p->format->rewriters); r && r->fn; ++r) {
    const int32_t kept = p->out.bytes, kept_chars = p->out.chars, kept_column = p->out.column;
    int32_t position = p->pos;
    if (!r->fn(p->source, p->length, &position, &p->out, r->data)) continue;
    if (position <= p->pos || position > p->length) return kMkRewriteStuck;
    if (p->out.bytes >= p->out.capacity) return kMkOutputFull;
    p->out.chars = kept_chars;
    p->out.column = kept_column;
    return markup_swap_buffers(p, kept, position);
  }
  return 0;
}

// ---- swap: new source = the output before the call + the replacement + the
// rest of the old source; the other half becomes the output holding exactly
// the output before the call. The parse resumes at the replacement.
int markup_swap_buffers(MarkupParser* p, int32_t kept_bytes, int32_t old_position) {
  char* out_half = p->out.buffer;
  char* src_half = p->halves[1 - p->output_half];
  const int32_t written = p->out.bytes;
  const int32_t rest = p->length - old_position;
  if (rest < 0 || int64_t(written) + rest > p->half_capacity) return kMkOutputFull;
  std::memmove(out_half + written, p->source + old_position, size_t(rest));
  std::memmove(src_half, out_half, size_t(kept_bytes));
  p->output_half = 1 - p->output_half;
  p->source = out_half;
  p->length = written + rest;
  p->pos = kept_bytes;
  p->rewrite_end = written;
  p->out.source_offset += old_position - written;
  p->out.buffer = src_half;
  p->out.bytes = kept_bytes;
  p->out.source = p->source;
  p->out.source_length = p->length;
  if (p->out.wrap_searched > kept_bytes) p->out.wrap_searched = kept_bytes;
  // The targets of open links lay in the old source: they are gone.
  for (int32_t k = 0; k < p->style_count; ++k) p->styles[k].target_length = 0;
  p->out.span_length = 0;
  std::memset(p->unclosed_from, 0, sizeof p->unclosed_from);
  ++p->swaps;
  return 0;
}
