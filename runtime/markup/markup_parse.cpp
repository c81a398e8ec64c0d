// The markup parser's block structure: the six states, paragraphs, headings
// with their sections and counters, the nesting stack of lists, definition
// lists, indented blocks and tables, and preformatted blocks. Every element
// start and end expands its template and calls the block-element hook; a
// non-zero status (a full output, a hook's code) stops the parse at once.
#include <cstring>

#include "runtime/markup/markup_parser_internal.h"

namespace {

constexpr int32_t kNulRoom = 2;             // the NUL and one byte spare
constexpr int32_t kTabWidth = 4;
constexpr uint32_t kSectionLevels = 4;      // heading levels kept as open sections

bool is_blank(char c) { return c == ' ' || c == '\t'; }

void skip_blanks(MarkupParser* p) {
  while (p->pos < p->length && is_blank(p->source[p->pos])) ++p->pos;
}

int32_t position_of(const MarkupParser* p, int32_t at) { return at + p->out.source_offset; }

int element_hook(MarkupParser* p, int32_t level, int32_t item, int32_t begin, const char* marker, int32_t at) {
  return markup_call_hook(p, p->format->block_hook, level, item, begin, marker, at);
}

int container_hook(MarkupParser* p, int32_t level, int32_t item, int32_t begin, const char* marker, int32_t at) {
  return markup_call_hook(p, p->format->container_hook, level, item, begin, marker, at);
}

// Levels and their templates, markers and item templates.
struct LevelShape {
  int32_t list_begin, list_end, item_begin, item_end;
  const char* container_marker;
  const char* item_marker;
};

LevelShape shape_of(uint8_t kind) {
  switch (kind) {
    case kMkLevelBullet:
      return {kMkBulletListBegin, kMkBulletListEnd, kMkBulletItemBegin, kMkBulletItemEnd, "*", "*"};
    case kMkLevelNumbered:
      return {kMkNumberedListBegin, kMkNumberedListEnd, kMkNumberedItemBegin, kMkNumberedItemEnd, "#", "#"};
    case kMkLevelDefTerm:
      return {kMkDefListBegin, kMkDefListEnd, kMkTermBegin, kMkTermEnd, ";", ";"};
    case kMkLevelDefinition:
      return {kMkDefListBegin, kMkDefListEnd, kMkDefinitionBegin, kMkDefinitionEnd, ";", ";:"};
    case kMkLevelIndented:
      return {kMkIndentBlockBegin, kMkIndentBlockEnd, kMkIndentParaBegin, kMkIndentParaEnd, ":", ":"};
    default:
      return {kMkTableBegin, kMkTableEnd, kMkCellBegin, kMkCellEnd, "|", "|"};
  }
}

uint8_t kind_of_marker(char c) {
  switch (c) {
    case '*': return kMkLevelBullet;
    case ';': return kMkLevelDefTerm;
    case ':': return kMkLevelIndented;
    default: return kMkLevelNumbered;
  }
}

void set_vars(MarkupParser* p, int32_t level, int32_t item) {
  p->out.l = level;
  p->out.i = item;
}

int32_t counter_of(const MarkupParser* p, int32_t level) {
  return p->out.kinds[level - 1] == kMkLevelNumbered ? p->counters[level - 1] : 0;
}

// ---- table cells: cell begin -> header? "|=" : "|"; cell end likewise.
int begin_cell(MarkupParser* p, bool header, int32_t at) {
  const int32_t d = p->out.depth;
  p->header_cell[d - 1] = header;
  MK_TRY(element_hook(p, 0, 0, 1, header ? "|=" : "|", at));
  set_vars(p, d, 0);
  MK_TRY(markup_write_template(p, header ? kMkHeaderCellBegin : kMkCellBegin));
  skip_blanks(p);
  return 0;
}

int end_cell(MarkupParser* p, int32_t at) {
  const int32_t d = p->out.depth;
  const bool header = p->header_cell[d - 1];
  set_vars(p, d, 0);
  MK_TRY(markup_write_template(p, header ? kMkHeaderCellEnd : kMkCellEnd));
  return element_hook(p, 0, 0, 0, header ? "|=" : "|", at);
}

// ---- item end: the end template of the current level's kind and the hook;
// a numbered level counts the item.
int end_item(MarkupParser* p, int32_t at) {
  const int32_t d = p->out.depth;
  if (d == 0) return 0;
  const uint8_t kind = p->out.kinds[d - 1];
  if (kind == kMkLevelTable) {
    MK_TRY(end_cell(p, at));
    return markup_write_template(p, kMkRowEnd);
  }
  const LevelShape sh = shape_of(kind);
  const int32_t item = counter_of(p, d);
  set_vars(p, d, item);
  MK_TRY(markup_write_template(p, sh.item_end));
  MK_TRY(element_hook(p, d, item, 0, sh.item_marker, at));
  if (kind == kMkLevelNumbered) ++p->counters[d - 1];
  return 0;
}

// ---- level close: the list's end template and the container hook.
int close_level(MarkupParser* p, int32_t at, bool with_counter) {
  const int32_t d = p->out.depth;
  const uint8_t kind = p->out.kinds[d - 1];
  const LevelShape sh = shape_of(kind);
  const int32_t item = with_counter ? counter_of(p, d) : 0;
  set_vars(p, d, item);
  MK_TRY(markup_write_template(p, sh.list_end));
  p->out.depth = d - 1;
  return container_hook(p, kind == kMkLevelTable ? 0 : d, item, 0, sh.container_marker, at);
}

// ---- level open: the container hook and the list's begin template.
int open_level(MarkupParser* p, uint8_t kind, int32_t at) {
  const int32_t d = p->out.depth + 1;
  p->out.kinds[d - 1] = kind;
  p->out.depth = d;
  p->counters[d - 1] = 1;
  p->header_cell[d - 1] = false;
  const LevelShape sh = shape_of(kind);
  MK_TRY(container_hook(p, kind == kMkLevelTable ? 0 : d, 0, 1, sh.container_marker, at));
  set_vars(p, d, 0);
  return markup_write_template(p, sh.list_begin);
}

// ---- paragraph: element hook "p", paragraph begin ... paragraph end.
int begin_paragraph(MarkupParser* p, int32_t at) {
  MK_TRY(element_hook(p, 0, 0, 1, "p", at));
  set_vars(p, 0, 0);
  MK_TRY(markup_write_template(p, kMkParagraphBegin));
  p->block = kBlkParagraph;
  p->state = kStText;
  return 0;
}

// Closing the block: the styles, then the paragraph or the current item
// and every open level, deepest first.
int close_block(MarkupParser* p) {
  const int32_t at = p->pos;
  MK_TRY(markup_close_styles(p));
  p->pending_space = false;
  if (p->block == kBlkParagraph) {
    set_vars(p, 0, 0);
    MK_TRY(markup_write_template(p, kMkParagraphEnd));
    MK_TRY(element_hook(p, 0, 0, 0, "p", at));
  } else if (p->block == kBlkList) {
    MK_TRY(end_item(p, at));
    while (p->out.depth > 0) MK_TRY(close_level(p, at, false));
  }
  p->block = kBlkNone;
  p->state = kStBetween;
  return 0;
}

// ---- heading: "=" x L text [=...] -> sections closed, counters, heading
// begin ... heading end at the line end.
int begin_heading(MarkupParser* p, const MarkupToken& t) {
  int32_t level = t.value;
  if (level == 1 && (p->options & kMkOptDemoteTitle)) level = 2;
  for (int32_t lv = p->heading_level; lv > level; --lv)
    if (lv <= int32_t(kSectionLevels) && (p->heading_bits & (1u << lv)))
      MK_TRY(container_hook(p, lv, 0, 0, "=", t.start));
  if (level <= int32_t(kSectionLevels)) {
    p->heading_bits &= (2u << level) - 1;
    p->heading_bits |= 1u << level;
  }
  if (level == 1) {
    ++p->heading_counters[0];
    p->heading_counters[1] = 0;
  } else if (level == 2) {
    ++p->heading_counters[1];
  }
  int32_t number = 0;
  if (level == 1 && (p->options & kMkOptNumberLevel1)) number = p->heading_counters[0];
  if (level == 2 && (p->options & kMkOptNumberLevel2)) number = p->heading_counters[1];
  p->heading_level = level;
  p->heading_number = number;
  MK_TRY(container_hook(p, level, number, 1, "=", t.start));
  MK_TRY(element_hook(p, level, number, 1, "=", t.start));
  set_vars(p, level, number);
  p->out.o = position_of(p, t.end);
  p->pos = t.end;
  MK_TRY(markup_write_template(p, kMkHeadingBegin));
  skip_blanks(p);
  p->block = kBlkHeading;
  p->state = kStHeading;
  return 0;
}

int end_heading(MarkupParser* p) {
  MK_TRY(markup_close_styles(p));
  p->pending_space = false;
  set_vars(p, p->heading_level, p->heading_number);
  MK_TRY(markup_write_template(p, kMkHeadingEnd));
  MK_TRY(element_hook(p, p->heading_level, p->heading_number, 0, "=", p->pos));
  p->block = kBlkNone;
  p->state = kStBetween;
  return 0;
}

// ---- list items (step 4): end the item, close the deeper levels, open the
// new ones from the run's characters, then begin the item of level n.
int begin_item(MarkupParser* p, const MarkupToken& t) {
  const int32_t n = t.value;
  const char* run = p->source + t.start;
  if (p->block == kBlkList) {
    MK_TRY(markup_close_styles(p));
    MK_TRY(end_item(p, t.start));
  }
  while (p->out.depth > n) MK_TRY(close_level(p, t.start, true));
  while (p->out.depth < n) MK_TRY(open_level(p, kind_of_marker(run[p->out.depth]), t.start));
  if (p->out.kinds[n - 1] == kMkLevelDefinition) p->out.kinds[n - 1] = kMkLevelDefTerm;
  const uint8_t kind = p->out.kinds[n - 1];
  const LevelShape sh = shape_of(kind);
  const int32_t item = counter_of(p, n);
  MK_TRY(element_hook(p, n, item, 1, sh.item_marker, t.start));
  set_vars(p, n, item);
  p->pos = t.end;
  MK_TRY(markup_write_template(p, sh.item_begin));
  skip_blanks(p);
  p->block = kBlkList;
  p->state = kStText;
  return 0;
}

// ---- definition: ";" term ":" definition on one line, or ":" on a line
// of its own inside the definition list.
int begin_definition(MarkupParser* p, const MarkupToken& t, bool own_line) {
  const int32_t n = t.value;
  MK_TRY(markup_close_styles(p));
  p->pending_space = false;
  const bool was_term = p->out.kinds[p->out.depth - 1] == kMkLevelDefTerm;
  MK_TRY(end_item(p, t.start));
  while (p->out.depth > n) MK_TRY(close_level(p, t.start, true));
  if (own_line && !was_term) {
    set_vars(p, n, 0);
    MK_TRY(markup_write_template(p, kMkTermSeparator));
  }
  p->out.kinds[n - 1] = kMkLevelDefinition;
  const char* marker = own_line ? ":" : ";:";
  MK_TRY(element_hook(p, n, 0, 1, marker, t.start));
  set_vars(p, n, 0);
  p->pos = t.end;
  MK_TRY(markup_write_template(p, kMkDefinitionBegin));
  skip_blanks(p);
  p->block = kBlkList;
  p->state = kStText;
  return 0;
}

// ---- table row: opens the table level when needed, then row begin and
// the first cell.
int begin_row(MarkupParser* p, const MarkupToken& t) {
  const bool at_table = p->out.depth > 0 && p->out.kinds[p->out.depth - 1] == kMkLevelTable;
  if (!at_table && p->out.depth >= kMkMaxDepth) {
    // No room for another level: the bar continues the item's text.
    p->state = kStText;
    p->pending_space = true;
    MK_TRY(markup_flush_space(p));
    int32_t used = 1;
    return markup_write_ordinary(p, t.start, &used, false);
  }
  if (p->block == kBlkParagraph) {
    MK_TRY(close_block(p));
  } else if (p->block == kBlkList) {
    MK_TRY(markup_close_styles(p));
    MK_TRY(end_item(p, t.start));
  }
  if (!at_table) MK_TRY(open_level(p, kMkLevelTable, t.start));
  set_vars(p, p->out.depth, 0);
  MK_TRY(markup_write_template(p, kMkRowBegin));
  p->block = kBlkList;
  p->state = kStText;
  p->pos = t.end;
  return begin_cell(p, t.kind == kTokHeaderCell, t.start);
}

int write_rule(MarkupParser* p, const MarkupToken& t) {
  MK_TRY(element_hook(p, 0, 0, 1, "----", t.start));
  set_vars(p, 0, 0);
  MK_TRY(markup_write_template(p, kMkRule));
  p->pos = t.end;
  return element_hook(p, 0, 0, 0, "----", t.end);
}

// ---- preformatted: "{{{" line ... "}}}" line; the lines between are copied.
int begin_pre(MarkupParser* p, const MarkupToken& t) {
  MK_TRY(element_hook(p, 0, 0, 1, "{{{", t.start));
  set_vars(p, 0, 0);
  MK_TRY(markup_write_template(p, kMkPreBegin));
  // The rest of the marker's line is blanks: skip it and its line end.
  p->pos = t.end;
  skip_blanks(p);
  if (p->pos < p->length && p->source[p->pos] == '\r') ++p->pos;
  if (p->pos < p->length && p->source[p->pos] == '\n') ++p->pos;
  p->block = kBlkPre;
  p->state = kStPreLineStart;
  return 0;
}

int end_pre(MarkupParser* p, int32_t at) {
  set_vars(p, 0, 0);
  MK_TRY(markup_write_template(p, kMkPreEnd));
  MK_TRY(element_hook(p, 0, 0, 0, "{{{", at));
  p->block = kBlkNone;
  p->state = kStBetween;
  return 0;
}

int pre_space(MarkupParser* p) {
  if (p->format->pre_char_writer) {
    int32_t used = 1;
    if (!markup_write_char(&p->out, " ", 1, true, &used)) return kMkOutputFull;
  } else if (!markup_put_bytes(&p->out, " ", 1)) {
    return kMkOutputFull;
  }
  return markup_wrap_line(&p->out) ? 0 : kMkOutputFull;
}

int step_pre_line(MarkupParser* p, const MarkupToken& t) {
  p->pos = t.end;
  switch (t.kind) {
    case kTokLineEnd:
      p->state = kStPreLineStart;
      return markup_write_template(p, kMkPreLineEnd);
    case kTokBlank:
      return pre_space(p);
    case kTokTab: {
      // Spaces up to the next output column that is a multiple of the tab width.
      const int32_t spaces = kTabWidth - (p->out.column % kTabWidth + kTabWidth) % kTabWidth;
      for (int32_t k = 0; k < spaces; ++k) MK_TRY(pre_space(p));
      return 0;
    }
    default: {
      int32_t used = 1;
      MK_TRY(markup_write_ordinary(p, t.start, &used, true));
      p->pos = t.start + used;
      return 0;
    }
  }
}

int step_text(MarkupParser* p, const MarkupToken& t);

// ---- cell marker in a row: cell end, next cell begin. The styles open at
// the cell's end close before it and open again in the next cell, so that
// each cell's output is whole on its own: an HTML element or an RTF group
// that began in one cell and ended in the next would cross the cell's own.
// Hot path, written for speed on purpose: a cell marker comes in a text
// state at a table level, outside the inline nowiki, and after the first
// border the style stack holds only the styles carried over; so while "||"
// follows (and the hooks left the state and the level as they were), the
// lexer would answer a cell marker for the first bar, and nothing runs
// between the tokens (no rewriting, and no text run begins at a bar). A run
// of bars is taken here bar by bar, with the room test the main loop makes
// before each token.
bool plain_cell_follows(const MarkupParser* p) {
  const int32_t j = p->pos;
  return j + 1 < p->length && p->source[j] == '|' && p->source[j + 1] == '|' && !p->format->rewriters &&
         p->state == kStText && p->out.depth > 0 && p->out.kinds[p->out.depth - 1] == kMkLevelTable;
}

int next_cells(MarkupParser* p, MarkupToken t) {
  for (;;) {
    p->pending_space = false;
    MarkupCarriedStyles carried;
    MK_TRY(markup_close_styles_carried(p, &carried));
    MK_TRY(end_cell(p, t.start));
    p->pos = t.end;
    MK_TRY(begin_cell(p, t.kind == kTokHeaderCell, t.start));
    MK_TRY(markup_reopen_styles(p, carried, t.start));
    if (!plain_cell_follows(p)) return 0;
    if (p->half_capacity - p->out.bytes < kMkMinFreeBeforeToken) return kMkOutputFull;
    t = MarkupToken{kTokCell, 0, p->pos, p->pos + 1};
  }
}

int step_between(MarkupParser* p, const MarkupToken& t) {
  switch (t.kind) {
    case kTokLineEnd: case kTokBlank: case kTokTab:
      p->pos = t.end;
      return 0;
    case kTokHeading: return begin_heading(p, t);
    case kTokListRun: case kTokDefMarker: return begin_item(p, t);
    case kTokCell: case kTokHeaderCell: return begin_row(p, t);
    case kTokRule: return write_rule(p, t);
    case kTokPre: return begin_pre(p, t);
    case kTokExtBlock: case kTokExt3Block: {
      int32_t unused = 0;
      return markup_extension(p, t, &unused);
    }
    default:
      MK_TRY(begin_paragraph(p, t.start));
      return step_text(p, t);
  }
}

int step_text(MarkupParser* p, const MarkupToken& t) {
  switch (t.kind) {
    case kTokLineEnd:
      p->pending_space = false;
      p->pos = t.end;
      if (p->state == kStHeading) return end_heading(p);
      p->state = kStLineStart;
      return 0;
    case kTokBlank: case kTokTab:
      p->pending_space = true;
      p->pos = t.end;
      return 0;
    case kTokCell: case kTokHeaderCell:
      return next_cells(p, t);
    case kTokDefMarker:
      return begin_definition(p, t, false);
    case kTokLineBreak:
      // An image's alternative text is an attribute's value where the
      // format keeps styles out of images: a break there is a blank.
      if (!p->format->no_styles_in_images || !markup_style_open(p, kMkStyleImage)) break;
      p->pending_space = true;
      p->pos = t.end;
      return 0;
    default:
      break;
  }
  MK_TRY(markup_flush_space(p));
  p->pos = t.end;
  switch (t.kind) {
    case kTokLineBreak:
      set_vars(p, p->out.depth, 0);
      return markup_write_template(p, kMkLineBreak);
    case kTokStyle: return markup_style_toggle(p, t.value, t.start);
    case kTokLinkOpen: case kTokImageOpen: return markup_open_link(p, t);
    case kTokLinkClose: case kTokImageClose: {
      const int32_t style = t.kind == kTokLinkClose ? kMkStyleLink : kMkStyleImage;
      if (markup_style_open(p, style)) return markup_style_toggle(p, style, t.start);
      int32_t used = 1;
      MK_TRY(markup_write_ordinary(p, t.start, &used, false));
      return markup_write_ordinary(p, t.start + 1, &used, false);
    }
    case kTokExt: case kTokExt3: case kTokExtBlock: case kTokExt3Block: {
      int32_t unused = 0;
      return markup_extension(p, t, &unused);
    }
    default: {
      int32_t used = 1;
      MK_TRY(markup_write_ordinary(p, t.value, &used, false));
      p->pos = t.value + used > t.end ? t.value + used : t.end;
      return 0;
    }
  }
}

int step_line_start(MarkupParser* p, const MarkupToken& t) {
  const bool table = p->out.depth > 0 && p->out.kinds[p->out.depth - 1] == kMkLevelTable;
  switch (t.kind) {
    case kTokLineEnd:
      MK_TRY(close_block(p));
      p->pos = t.end;
      return 0;
    case kTokHeading: case kTokRule: case kTokPre: case kTokExtBlock: case kTokExt3Block:
      MK_TRY(close_block(p));
      return step_between(p, t);
    case kTokListRun:
      if (p->block != kBlkList || (p->out.depth > 0 && p->out.kinds[0] == kMkLevelTable)) {
        MK_TRY(close_block(p));
        return step_between(p, t);
      }
      return begin_item(p, t);
    case kTokDefMarker:
      return begin_definition(p, t, true);
    case kTokCell: case kTokHeaderCell:
      return begin_row(p, t);
    default:
      break;
  }
  if ((p->options & kMkOptLineEndsBlock) || table) {
    MK_TRY(close_block(p));
    MK_TRY(begin_paragraph(p, t.start));
  } else {
    p->pending_space = true;  // the line end counts as a space text
    p->state = kStText;
  }
  return step_text(p, t);
}

int step(MarkupParser* p, const MarkupToken& t) {
  switch (p->state) {
    case kStBetween: return step_between(p, t);
    case kStLineStart: return step_line_start(p, t);
    case kStPreLineStart:
      if (t.kind == kTokPre) {
        p->pos = t.end;
        return end_pre(p, t.start);
      }
      MK_TRY(markup_write_template(p, kMkPreLineBegin));
      p->state = kStPreLine;
      return step_pre_line(p, t);
    case kStPreLine: return step_pre_line(p, t);
    default: return step_text(p, t);
  }
}

// The end of the source closes whatever is open, the heading sections
// last, then the document end.
int finish(MarkupParser* p) {
  switch (p->state) {
    case kStHeading: MK_TRY(end_heading(p)); break;
    case kStPreLine:
      MK_TRY(markup_write_template(p, kMkPreLineEnd));
      MK_TRY(end_pre(p, p->pos));
      break;
    case kStPreLineStart: MK_TRY(end_pre(p, p->pos)); break;
    default: MK_TRY(close_block(p)); break;
  }
  for (int32_t lv = p->heading_level; lv >= 1; --lv)
    if (lv <= int32_t(kSectionLevels) && (p->heading_bits & (1u << lv)))
      MK_TRY(container_hook(p, lv, 0, 0, "=", p->pos));
  p->heading_bits = 0;
  if (!(p->options & kMkOptNoDocument) &&
      !markup_expand_template(p->format->document_end, -1, p->format->escape, &p->out))
    return kMkOutputFull;
  return 0;
}

bool is_extension(int32_t kind) {
  return kind == kTokExt || kind == kTokExtBlock || kind == kTokExt3 || kind == kTokExt3Block;
}

bool may_rewrite(const MarkupParser* p) {
  return p->format->rewriters && !(p->options & kMkOptNoExtensions) && p->state != kStPreLineStart &&
         p->state != kStPreLine && p->pos >= p->rewrite_end;
}

int run(MarkupParser* p) {
  if (!(p->options & kMkOptNoDocument) &&
      !markup_expand_template(p->format->document_begin, -1, p->format->escape, &p->out))
    return kMkOutputFull;
  const bool fast = markup_text_runs_apply(p->format);
  const MarkupQuietBytes quiet = markup_quiet_bytes(p->format);
  for (;;) {
    if (p->half_capacity - p->out.bytes < kMkMinFreeBeforeToken) return kMkOutputFull;
    if (may_rewrite(p)) MK_TRY(markup_rewrite(p));
    if (fast && p->pos < p->length && kMkRunBytes.cls[uint8_t(p->source[p->pos])] != 0 &&
        (p->state == kStText || p->state == kStHeading) && !markup_in_nowiki(p))
      MK_TRY(markup_text_run(p, quiet));
    MarkupToken t = markup_next_token(p);
    if (t.kind == kTokEnd) break;
    // An extension marker that nothing closes is text in every state: it
    // starts a paragraph between blocks and continues the block at a line
    // start, as any other character does.
    if (is_extension(t.kind) && !markup_extension_closed(p, t))
      t = MarkupToken{kTokChar, t.start, t.start, t.start + 1};
    const int32_t before = p->pos, swaps = p->swaps;
    MK_TRY(step(p, t));
    // Every token consumes input (a swap restarts the positions), so no
    // source can make the parse loop.
    if (p->pos <= before && p->swaps == swaps) p->pos = t.end > before ? t.end : before + 1;
  }
  return finish(p);
}

}  // namespace

int markup_close_block(MarkupParser* p) { return p->state == kStHeading ? end_heading(p) : close_block(p); }

int markup_flush_space(MarkupParser* p) {
  if (!p->pending_space) return 0;
  p->pending_space = false;
  const char* space = p->format->space ? p->format->space : "";
  if (!markup_put_bytes(&p->out, space, int32_t(std::strlen(space)))) return kMkOutputFull;
  return markup_wrap_line(&p->out) ? 0 : kMkOutputFull;
}

int markup_call_hook(MarkupParser* p, MarkupHookFn hook, int32_t level, int32_t item, int32_t begin,
                     const char* marker, int32_t position) {
  if (!hook) return 0;
  return hook(level, item, begin, marker, position_of(p, position), &p->out, p->format->hook_data);
}

int markup_parse(const char* source, int32_t length, char* buffer, int32_t capacity, uint32_t options,
                 const char* line_end, const MarkupFormat* format, int32_t font_size, char** output,
                 int32_t* output_bytes, int32_t* output_chars) {
  if (output) *output = nullptr;
  if (output_bytes) *output_bytes = 0;
  if (output_chars) *output_chars = 0;
  const int32_t half = capacity / 2;
  if (!buffer || length < 0 || (length > 0 && !source) || half < kMkMinFreeBeforeToken || length > half)
    return kMkOutputFull;
  static MarkupParser zero;  // the parser's state starts zeroed, beside the output's own defaults
  MarkupParser p = zero;
  p.format = format ? format : markup_format(kMkPlainText);
  p.options = options;
  p.halves[0] = buffer;
  p.halves[1] = buffer + half;
  p.half_capacity = half;
  p.output_half = 1;
  if (length > 0) std::memmove(buffer, source, size_t(length));
  p.source = buffer;
  p.length = length;
  p.out.buffer = p.halves[1];
  p.out.capacity = half;
  p.out.line_end = line_end ? line_end : "\n";
  p.out.line_end_length = int32_t(std::strlen(p.out.line_end));
  p.out.format = p.format;
  p.out.source = p.source;
  p.out.source_length = length;
  p.out.s = font_size >= 1 ? font_size : p.format->font_size;
  p.out.x = (options & kMkOptAnchors) ? 1 : 0;
  p.fixed_s = p.out.s;
  p.fixed_x = p.out.x;
  p.out.parser = &p;
  const int status = run(&p);
  if (status != 0) return status;
  if (p.half_capacity - p.out.bytes < kNulRoom) return kMkOutputFull;
  p.out.buffer[p.out.bytes] = 0;
  if (output) *output = p.out.buffer;
  if (output_bytes) *output_bytes = p.out.bytes;
  if (output_chars) *output_chars = p.out.chars;
  return kMkParsed;
}

int32_t markup_out_byte_length(const MarkupOut* out) { return out ? out->bytes : 0; }
int32_t markup_out_char_count(const MarkupOut* out) { return out ? out->chars : 0; }

void markup_current_source_span(const MarkupOut* out, int32_t* position, int32_t* length) {
  const bool open = out && out->span_length > 0;
  if (position) *position = open ? out->span_position + out->source_offset : 0;
  if (length) *length = open ? out->span_length : 0;
}

void markup_out_buffer(const MarkupOut* out, const char** buffer, int32_t* bytes) {
  if (buffer) *buffer = out ? out->buffer : nullptr;
  if (bytes) *bytes = out ? out->bytes : 0;
}

void markup_level_counters(const MarkupOut* out, int32_t* level1, int32_t* level2) {
  const auto* p = out ? static_cast<const MarkupParser*>(out->parser) : nullptr;
  if (level1) *level1 = p ? p->heading_counters[0] : 0;
  if (level2) *level2 = p ? p->heading_counters[1] : 0;
}
