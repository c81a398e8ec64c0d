// slider, pushbutton, button, popupmenu and textfield: one record per
// control (codes 59-65), its rectangle left at 0 for the layout pass. Each
// call reads all its arguments and sizes all its records first, so a list
// without room for the whole call is left as it was (10001).
#include "graphics/commands/control_commands.h"

#include <cmath>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/numfmt.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/text_args.h"
#include "graphics/plotlist/plot_records.h"

namespace {

constexpr uint16_t kTab = 9;
constexpr int32_t kSliderFixed = 9;   // min, max, row, 4 rectangle values, n, L
constexpr int32_t kButtonFixed = 5;   // value, count, top, bottom, L
constexpr int32_t kMenuFixed = 8;     // current, shown, m, L, 4 rectangle values
constexpr int32_t kFieldFixed = 7;    // 4 rectangle values, row, 2 reserved
constexpr int32_t kFieldBytes = 16;   // the value's field, its zero byte included
constexpr int32_t kFieldText = 15;
constexpr int32_t kDefaultPrecision = 4;
constexpr int32_t kMaxFormatNumber = 99;  // widths and precisions saturate here
constexpr uint32_t kControlBits = 0;
constexpr double kRowAlone = -1.0;
constexpr int32_t kRowStep = 2;  // a chained control takes two segments: label and control
constexpr int64_t kMaxBytes = int64_t(1) << 30;

// The optional trailing style and id arguments, from argument `first` on.
int read_style_id(EngineContext* ctx, int nargin, int first, StyleArg* style, double* id) {
  if (nargin > first) TN_TRY(arg_style(ctx, nargin, first, style));
  if (nargin > first + 1) TN_TRY(arg_scalar_id(ctx, nargin, first + 1, id));
  return kOk;
}

int32_t text_doubles64(int64_t bytes) { return int32_t((bytes + 7) / 8); }

// Row positions of controls whose labels are chained by TAB: 0, 2, 4, ...
// for a chain, -1 for a control alone on its line.
struct RowChain {
  double next = kRowAlone;
  double take(uint16_t separator) {
    double pos = next >= 0 ? next : (separator == kTab ? 0.0 : kRowAlone);
    next = separator == kTab ? pos + kRowStep : kRowAlone;
    return pos;
  }
};

void put_line(PlotWriter* w, const CharsArg& a, const LabelLine& l) {
  BytePacker p{w};
  for (int64_t i = l.from; i < l.to; ++i) p.put_char(a.at(i));
  p.flush();
}

}  // namespace

// slider(labels, values, ranges [, kinds [, style [, id]]])
int plot_cmd_slider(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  CharsArg labels, kinds;
  MatArg values, ranges;
  StyleArg style;
  double id = kNoId;
  TN_TRY(read_style_id(ctx, nargin, 4, &style, &id));
  if (nargin > 3) TN_TRY(arg_chars(ctx, nargin - 1 - 3, &kinds));
  TN_TRY(arg_matrix(ctx, nargin, 2, &ranges));
  TN_TRY(arg_matrix(ctx, nargin, 1, &values));
  TN_TRY(arg_chars(ctx, nargin - 1, &labels));
  const int32_t count = values.rows, thumbs = values.cols;
  if (int64_t(ranges.rows) * ranges.cols == 0 || int64_t(count) * thumbs == 0) {
    command_done(ctx, nargin);
    return kOk;
  }
  if (ranges.cols != 2) return kBadSize;
  if (ranges.rows != 1 && ranges.rows != count) return kIncompatibleSize;
  // Sizes first: every record, with its label.
  int64_t need = 0, pos = 0;
  for (int32_t i = 0; i < count; ++i) {
    LabelLine l;
    const int64_t bytes = next_label_line(labels, &pos, true, &l) ? labels.bytes_of(l.from, l.to) : 0;
    need += kRecHead + kSliderFixed + 2 * int64_t(thumbs) + text_doubles64(bytes);
  }
  if (labels.bytes > kMaxBytes) return kPlotOverflow;
  TN_TRY(command_room(list, need));
  for (int32_t k = 0; k < thumbs; ++k) {
    StyleSpec probe;
    TN_TRY(style_of(style, k, kControlBits, nullptr, &probe));
  }
  command_open(list, s);
  PlotWriter w = command_writer(list);
  RowChain chain;
  pos = 0;
  for (int32_t i = 0; i < count; ++i) {
    LabelLine l;
    if (!next_label_line(labels, &pos, true, &l)) l = LabelLine{labels.count, labels.count, 0};
    const int64_t bytes = labels.bytes_of(l.from, l.to);
    const uint16_t kind = kinds.count > 0 ? kinds.at(i % kinds.count) : 0;
    const int32_t code = kind == 'l' || kind == 'L' ? kCodeLogSlider : kCodeSlider;
    StyleSpec head;
    style_of(style, i, kControlBits, nullptr, &head);
    plotwriter_begin_record(&w, code, id, i + 1, &head, kSliderFixed + 2 * thumbs + text_doubles64(bytes));
    const int32_t r = ranges.rows == 1 ? 0 : i;
    plotwriter_put(&w, ranges.at(r, 0));
    plotwriter_put(&w, ranges.at(r, 1));
    plotwriter_put(&w, chain.take(l.separator));
    for (int k = 0; k < 4; ++k) plotwriter_put(&w, 0.0);
    plotwriter_put(&w, thumbs);
    for (int32_t k = 0; k < thumbs; ++k) plotwriter_put(&w, values.at(i, k));
    for (int32_t k = 0; k < thumbs; ++k) {
      StyleSpec c;
      style_of(style, k, kControlBits, nullptr, &c);
      plotwriter_put(&w, pack_colour(c.r, c.g, c.b));
    }
    plotwriter_put(&w, double(bytes));
    put_line(&w, labels, l);
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

// Button records, one per label line: push buttons while lines remain, check
// boxes and radio buttons while values remain.
static int write_buttons(EngineContext* ctx, int nargin, Subplot* s, CommandList list, const CharsArg& labels,
                         int32_t code, const MatArg* values, const StyleArg& style, double id) {
  int64_t need = 0, pos = 0;
  int32_t count = 0;
  LabelLine l;
  const int64_t limit = code == kCodePushButton || !values ? INT32_MAX : int64_t(values->rows) * values->cols;
  while (count < limit && next_label_line(labels, &pos, false, &l)) {
    need += kRecHead + kButtonFixed + text_doubles64(labels.bytes_of(l.from, l.to));
    ++count;
  }
  if (labels.bytes > kMaxBytes) return kPlotOverflow;
  TN_TRY(command_room(list, need));
  for (int32_t k = 0; k < count; ++k) {
    StyleSpec probe;
    TN_TRY(style_of(style, k, kControlBits, nullptr, &probe));
  }
  command_open(list, s);
  PlotWriter w = command_writer(list);
  pos = 0;
  for (int32_t k = 0; k < count; ++k) {
    next_label_line(labels, &pos, false, &l);
    const int64_t bytes = labels.bytes_of(l.from, l.to);
    StyleSpec head;
    style_of(style, k, kControlBits, nullptr, &head);
    plotwriter_begin_record(&w, code, id, k + 1, &head, kButtonFixed + text_doubles64(bytes));
    plotwriter_put(&w, code == kCodePushButton || !values ? 0.0 : values->re[k]);
    for (int j = 0; j < 3; ++j) plotwriter_put(&w, 0.0);
    plotwriter_put(&w, double(bytes));
    put_line(&w, labels, l);
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

// pushbutton(labels [, style [, id]])
int plot_cmd_pushbutton(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  CharsArg labels;
  StyleArg style;
  double id = kNoId;
  TN_TRY(read_style_id(ctx, nargin, 1, &style, &id));
  TN_TRY(arg_chars(ctx, nargin - 1, &labels));
  return write_buttons(ctx, nargin, s, list, labels, kCodePushButton, nullptr, style, id);
}

// button(labels, values [, kind [, style [, id]]])
int plot_cmd_button(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  CharsArg labels, kind;
  MatArg values;
  StyleArg style;
  double id = kNoId;
  TN_TRY(read_style_id(ctx, nargin, 3, &style, &id));
  int32_t code = kCodePushButton;
  if (nargin > 2) {
    TN_TRY(arg_chars(ctx, nargin - 1 - 2, &kind));
    if (kind.count > 1) return kUnknownOption;
    const uint16_t k = kind.count ? kind.at(0) : 'b';
    if (k == 'c' || k == 'C') code = kCodeCheckBoxes;
    else if (k == 'r' || k == 'R') code = kCodeRadioButtons;
    else if (k != 'b' && k != 'B') return kUnknownOption;
  }
  TN_TRY(arg_matrix(ctx, nargin, 1, &values));
  if (values.cols > 1) return kBadSize;
  TN_TRY(arg_chars(ctx, nargin - 1, &labels));
  return write_buttons(ctx, nargin, s, list, labels, code, &values, style, id);
}

// popupmenu(label, items, choice [, style [, id]])
int plot_cmd_popupmenu(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  CharsArg label;
  StyleArg style;
  double id = kNoId;
  TN_TRY(read_style_id(ctx, nargin, 3, &style, &id));
  double choice;
  if (stk_get_real_scalar(ctx, nargin - 1 - 2, &choice) != kOk || choice != std::floor(choice)) return kWrongType;
  if (!stk_is_list(ctx, nargin - 1 - 1)) return kWrongType;
  TN_TRY(arg_chars(ctx, nargin - 1, &label));
  int32_t m = 0;
  TN_TRY(stk_get_container(ctx, nargin - 1 - 1, &m, nullptr));
  if (!(choice >= 1 && choice <= m)) return kIndexOutOfRange;
  // Each item is copied on top in turn to be measured, then to be written.
  int64_t item_bytes = 0;
  for (int32_t i = 0; i < m; ++i) {
    TN_TRY(stk_list_get(ctx, nargin - 1 - 1, i + 1));
    CharsArg item;
    const int status = arg_chars(ctx, 0, &item);
    stk_drop(ctx);
    TN_TRY(status);
    item_bytes += item.bytes + 1;
    if (item_bytes > kMaxBytes) return kPlotOverflow;
  }
  if (label.bytes > kMaxBytes) return kPlotOverflow;
  const int32_t n = kMenuFixed + text_doubles64(label.bytes) + text_doubles64(item_bytes);
  TN_TRY(command_room(list, kRecHead + int64_t(n)));
  StyleSpec head;
  TN_TRY(style_of(style, 0, kControlBits, nullptr, &head));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodePopupMenu, id, 1, &head, n);
  plotwriter_put(&w, choice - 1);  // held from 0
  plotwriter_put(&w, -1.0);        // closed
  plotwriter_put(&w, m);
  plotwriter_put(&w, double(label.bytes));
  for (int k = 0; k < 4; ++k) plotwriter_put(&w, 0.0);
  put_chars(&w, label);
  BytePacker p{&w};
  for (int32_t i = 0; i < m; ++i) {
    // The room was measured above, and dropping the copy gives back what it took.
    if (stk_list_get(ctx, nargin - 1 - 1, i + 1) != kOk) return TN_ILLEGAL();
    CharsArg item;
    arg_chars(ctx, 0, &item);
    for (int64_t c = 0; c < item.count; ++c) p.put_char(item.at(c));
    p.put(0);
    stk_drop(ctx);
  }
  p.flush();
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}

namespace {

// One conversion of a textfield format: "%", width, "." precision, letter.
struct Conversion {
  int32_t width = 0, precision = kDefaultPrecision;
  char style = kStyleGeneral;
  bool upper = false;
};

int32_t saturated(int32_t v, uint16_t digit) {
  const int32_t next = v * 10 + (digit - '0');
  return next > kMaxFormatNumber ? kMaxFormatNumber : next;
}

// The conversions of the format, cyclic; none for an empty format.
int parse_format(const CharsArg& f, Conversion* out, int32_t max, int32_t* count) {
  *count = 0;
  int64_t i = 0;
  while (i < f.count) {
    if (f.at(i) != '%' || *count == max) return kUnknownOption;
    ++i;
    Conversion c;
    c.precision = -1;
    while (i < f.count && f.at(i) >= '0' && f.at(i) <= '9') c.width = saturated(c.width, f.at(i++));
    if (i < f.count && f.at(i) == '.') {
      ++i;
      c.precision = 0;
      while (i < f.count && f.at(i) >= '0' && f.at(i) <= '9') c.precision = saturated(c.precision, f.at(i++));
    }
    if (i >= f.count) return kUnknownOption;
    const uint16_t letter = f.at(i++);
    const uint16_t lower = letter >= 'A' && letter <= 'Z' ? letter + ('a' - 'A') : letter;
    if (lower != 'g' && lower != 'e' && lower != 'f' && lower != 'k') return kUnknownOption;
    c.style = char(lower);
    c.upper = letter != lower;
    if (c.precision < 0) c.precision = kDefaultPrecision;
    out[(*count)++] = c;
  }
  return kOk;
}

constexpr int32_t kMaxConversions = 64;

}  // namespace

// textfield(label, format, values [, style [, id]])
int plot_cmd_textfield(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  CharsArg labels, format;
  MatArg values;
  StyleArg style;
  double id = kNoId;
  TN_TRY(read_style_id(ctx, nargin, 3, &style, &id));
  TN_TRY(arg_real_matrix(ctx, nargin, 2, &values));
  TN_TRY(arg_chars(ctx, nargin - 1 - 1, &format));
  TN_TRY(arg_chars(ctx, nargin - 1, &labels));
  Conversion conv[kMaxConversions];
  int32_t nconv = 0;
  TN_TRY(parse_format(format, conv, kMaxConversions, &nconv));
  const int64_t count = int64_t(values.rows) * values.cols;
  int64_t need = 0, pos = 0;
  for (int64_t i = 0; i < count; ++i) {
    LabelLine l;
    const int64_t bytes = next_label_line(labels, &pos, true, &l) ? labels.bytes_of(l.from, l.to) : 0;
    need += kRecHead + kFieldFixed + text_doubles64(bytes + 1 + kFieldBytes);
  }
  if (labels.bytes > kMaxBytes || count > kMaxBytes) return kPlotOverflow;
  TN_TRY(command_room(list, need));
  for (int64_t i = 0; i < count; ++i) {
    StyleSpec probe;
    TN_TRY(style_of(style, int32_t(i), kControlBits, nullptr, &probe));
  }
  command_open(list, s);
  PlotWriter w = command_writer(list);
  RowChain chain;
  pos = 0;
  for (int64_t i = 0; i < count; ++i) {
    LabelLine l;
    if (!next_label_line(labels, &pos, true, &l)) l = LabelLine{labels.count, labels.count, 0};
    const int64_t bytes = labels.bytes_of(l.from, l.to);
    StyleSpec head;
    style_of(style, int32_t(i), kControlBits, nullptr, &head);
    plotwriter_begin_record(&w, kCodeTextField, id, double(i + 1), &head,
                            kFieldFixed + text_doubles64(bytes + 1 + kFieldBytes));
    for (int k = 0; k < 4; ++k) plotwriter_put(&w, 0.0);
    plotwriter_put(&w, chain.take(l.separator));
    plotwriter_put(&w, 0.0);
    plotwriter_put(&w, 0.0);
    const Conversion c = nconv ? conv[i % nconv] : Conversion{};
    char text[kFieldText + 1] = {};
    char wide[2 * (kMaxFormatNumber + 32)] = {};
    int32_t at = 0;
    fmt_double(wide, &at, values.re[i], c.precision, c.style, c.width, false, c.upper, false, false, false, false,
               int32_t(sizeof wide) - 1);
    // A width beyond the field gives up its padding first, so the field
    // keeps the number's own characters; only then is the text cut.
    const char* shown = wide;
    while (at > kFieldText && *shown == ' ') ++shown, --at;
    std::memcpy(text, shown, size_t(at < kFieldText ? at : kFieldText));
    BytePacker p{&w};
    for (int64_t k = l.from; k < l.to; ++k) p.put_char(labels.at(k));
    p.put(0);
    for (int32_t k = 0; k < kFieldBytes; ++k) p.put(uint8_t(k < kFieldText ? text[k] : 0));
    p.flush();
  }
  *list.used = w.used;
  command_done(ctx, nargin);
  return kOk;
}
