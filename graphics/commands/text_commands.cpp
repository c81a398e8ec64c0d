// text, settabs and legend: records 55-58 and 66-68. Texts reach the records
// as the UTF-8 bytes of their characters (the drivers read UTF-8), packed 8
// per double. Every argument is read and every size counted before the
// first record is written; a failure leaves the stacks and the list as they
// were, the Font structure's read-outs included.
#include "graphics/commands/text_commands.h"

#include <cmath>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/text_args.h"
#include "graphics/subplot/autoscale.h"

const OptionDesc kFontOptions[] = {
    opt_text_row("Font", ""),
    opt_row("Size", kOptReal, 10),
    opt_row("Bold", kOptLogical, 0),
    opt_row("Italic", kOptLogical, 0),
    opt_row("Underline", kOptLogical, 0),
    opt_row("Outline", kOptLogical, 0, 0, 0, 0, kOptionHidden),
    opt_row("Color", kOptRow3, 0, 0, 0),
    opt_end_row(),
};

namespace {

constexpr uint16_t kTab = 9, kLF = 10;
constexpr double kDefaultFontSize = 10.0;
constexpr double kColourScale = 255.9;
constexpr int64_t kMaxTextBytes = int64_t(1) << 30;
constexpr int32_t kFlowFixed = 1;      // L
constexpr int32_t kPointFixed = 5;     // x, y, z, justification, L
constexpr int32_t kFontFixed = 2;      // size, flags
constexpr int32_t kLegendFixed = 3;    // 0, k, L
constexpr int32_t kRecordPerLine = 2;  // a legend entry's style bits and colour

uint8_t colour_byte(double v) {
  const double b = std::trunc(kColourScale * v);
  if (!(b > 0)) return 0;  // NaN too
  return b >= 255 ? 255 : uint8_t(b);
}

// The Font structure's read-out: what records 67 and 68 need. The face
// name is the "Font" field's value, pushed on top of the arguments while
// the records are written (see push_face), so that a name of any length
// goes into record 67 whole.
struct FontArg {
  CharsArg face;
  double size = kDefaultFontSize;
  uint32_t flags = 0;
  uint8_t rgb[3] = {0, 0, 0};
};

int read_font_fields(EngineContext* ctx, FontArg* f) {
  TN_TRY(opt_get_number(ctx, 0, "Size", kFontOptions, kDefaultFontSize, &f->size));
  static const struct {
    const char* name;
    uint32_t flag;
  } kFlags[] = {{"Bold", kFontFlagBold},
                {"Italic", kFontFlagItalic},
                {"Underline", kFontFlagUnderline},
                {"Outline", kFontFlagOutline}};
  for (const auto& k : kFlags) {
    uint8_t on = 0;
    TN_TRY(opt_get_bool(ctx, 0, k.name, kFontOptions, 0, &on));
    if (on) f->flags |= k.flag;
  }
  TN_TRY(opt_read_struct(ctx, 0, "Color", kFontOptions));
  return plot_text_color_arg(ctx, f->rgb);
}

// The Font structure on top, left in place; whatever a failed read-out
// pushed is dropped again.
int read_font(EngineContext* ctx, FontArg* f) {
  const int32_t items = stk_item_count(ctx);
  const int status = read_font_fields(ctx, f);
  while (stk_item_count(ctx) > items) stk_drop(ctx);
  return status;
}

// Pushes the face name of the Font structure on top and views it; the
// caller drops it when the records are written. Nothing stays pushed when
// this fails.
int push_face(EngineContext* ctx, FontArg* f) {
  TN_TRY(opt_read_struct(ctx, 0, "Font", kFontOptions));
  const int status = arg_chars(ctx, 0, &f->face);
  if (status != kOk) stk_drop(ctx);
  return status;
}

int read_justification(EngineContext* ctx, int depth, uint32_t* out) {
  CharsArg j;
  if (arg_chars(ctx, depth, &j) != kOk || j.count > 2) return kWrongType;
  uint32_t flags = 0;
  for (int64_t i = 0; i < j.count; ++i) {
    switch (j.at(i)) {
      case 'l': case 'L': flags |= kJustifyLeft; break;
      case 'r': case 'R': flags |= kJustifyRight; break;
      case 't': case 'T': flags |= kJustifyTop; break;
      case 'b': case 'B': flags |= kJustifyBottom; break;
      case 'c': case 'C': break;
      default: return kWrongType;
    }
  }
  *out = flags;
  return kOk;
}

// Doubles of record 67's data: size, flags, the whole name and its zero byte.
int64_t font_record_data(const FontArg& f) { return kFontFixed + text_doubles(f.face.bytes + 1); }

// Record 67 {size, flags, name, zero byte}, coloured by the font colour.
void put_font_record(PlotWriter* w, const FontArg& f) {
  const StyleSpec colour{0, f.rgb[0], f.rgb[1], f.rgb[2], 0};
  plotwriter_begin_record(w, kCodeFont, kNoId, kNoId, &colour, int32_t(font_record_data(f)));
  plotwriter_put(w, f.size);
  plotwriter_put(w, double(f.flags));
  BytePacker p{w};
  for (int64_t i = 0; i < f.face.count; ++i) p.put_char(f.face.at(i));
  p.put(0);
  p.flush();
}

// The records of one text call: the arguments lie `above` items deep (the
// face name, when a Font structure came, lies on top of them).
int text_records(EngineContext* ctx, int nargin, int above, int text_at, bool three_d, const FontArg* font,
                 Subplot* s, CommandList list) {
  auto depth = [&](int arg) { return nargin - 1 - arg + above; };
  const int left = nargin - (font ? 1 : 0);
  if (left == 2) return kTooManyInputs;
  const int fixed = three_d ? 4 : 3;  // the point and the text
  uint32_t justify = 0;
  if (left > 1 && left != fixed) {
    if (left != fixed + 1) return kTooManyInputs;
    TN_TRY(read_justification(ctx, depth(fixed), &justify));
  }
  double p[3] = {0, 0, 0};
  for (int a = 0; left > 1 && a < (three_d ? 3 : 2); ++a) TN_TRY(stk_get_real_scalar(ctx, depth(a), &p[a]));
  CharsArg text;
  TN_TRY(arg_chars(ctx, depth(text_at), &text));
  if (text.bytes > kMaxTextBytes || (font && font->face.bytes > kMaxTextBytes)) return kPlotOverflow;
  const int32_t text_n = (left == 1 ? kFlowFixed : kPointFixed) + text_doubles(text.bytes);
  const int64_t need = kRecHead + text_n + (font ? 2 * kRecHead + font_record_data(*font) : 0);
  TN_TRY(command_room(list, need));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  if (font) put_font_record(&w, *font);
  if (left == 1) {
    plotwriter_begin_record(&w, kCodeFlowText, kNoId, kNoId, nullptr, text_n);
  } else {
    plotwriter_begin_record(&w, three_d ? kCodeTextAt3 : kCodeTextAt, kNoId, kNoId, nullptr, text_n);
    for (double v : p) plotwriter_put(&w, v);
    plotwriter_put(&w, double(justify));
    subplot_autoscale_to_data(s, &p[0], &p[1], three_d ? &p[2] : nullptr, 1);
    if (three_d) subplot_set_3d(s, 1);
  }
  plotwriter_put(&w, double(text.bytes));
  put_chars(&w, text);
  if (font) plotwriter_begin_record(&w, kCodeFontReset, kNoId, kNoId, nullptr, 0);
  *list.used = w.used;
  return kOk;
}

}  // namespace

int plot_text_color_arg(EngineContext* ctx, uint8_t rgb[3]) {
  double v[3] = {0, 0, 0};
  int64_t count = 0;
  int status = kOk;
  const uint32_t kind = desc_at(ctx, 0)[0];
  if (kind == kKindReal || kind == kKindComplex) {
    double* re = nullptr;
    double* im = nullptr;
    status = stk_get_double_array(ctx, 0, nullptr, nullptr, &count, &re, &im);
    for (int64_t i = 0; status == kOk && i < count && i < 3; ++i) v[i] = kColourScale * tn::ld_f64(re + i);
  } else {
    TypedView t;
    if (!typed_view(ctx, 0, &t) || t.subtype != kPayNumeric) {
      status = kWrongType;
    } else {
      count = t.count;
      for (int64_t i = 0; i < count && i < 3; ++i) {
        if (t.type == kElemU8) v[i] = t.elems[i];
        else if (t.type == kElemSingle) v[i] = kColourScale * double(tn::load<float>(t.elems + 4 * i));
        else if (t.type == kElemDouble) v[i] = kColourScale * tn::ld_f64(t.elems + 8 * i);
        else status = kWrongType;
      }
      if (count == 0 && t.type != kElemU8 && t.type != kElemSingle && t.type != kElemDouble) status = kWrongType;
    }
  }
  stk_drop(ctx);
  TN_TRY(status);
  if (count != 0 && count != 1 && count != 3) return kBadSize;
  if (count == 1) v[1] = v[2] = v[0];
  for (int i = 0; i < 3; ++i) rgb[i] = colour_byte(v[i] / kColourScale);
  return kOk;
}

namespace {

// One value of a fontset pair, of the option's kind: a text for the face, a
// number (or logical) for the size and the flags, a colour for Color. The
// empty matrix always passes: it reads as the default. Numbers and colours
// are checked by the readers text uses, on a copy; characters are refused
// before them, except the empty text, which the number reader too takes for
// the default.
int check_font_value(EngineContext* ctx, int depth, uint32_t type) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] == kKindReal && d[1] == 0 && d[2] == 0) return kOk;
  if (type == kOptText) return stk_is_char(ctx, depth) ? int(kOk) : int(kWrongType);
  int64_t count = 0;
  if (stk_is_char(ctx, depth) && (stk_get_array_info(ctx, depth, nullptr, nullptr, &count) != kOk || count != 0))
    return kWrongType;
  if (stk_is_struct(ctx, depth) || stk_is_list(ctx, depth)) return kWrongType;
  const int32_t items = stk_item_count(ctx);
  TN_TRY(stk_dup(ctx, depth, 1));
  uint8_t rgb[3];
  const int status =
      type == kOptRow3 ? plot_text_color_arg(ctx, rgb) : stk_pop_scalar_or_default(ctx, 0, nullptr);
  while (stk_item_count(ctx) > items) stk_drop(ctx);  // a reader that failed may leave the copy
  return status;
}

}  // namespace

int bi_fontset(EngineContext* ctx, int nargin, int, uintptr_t data) {
  const OptionDesc* tmpl = reinterpret_cast<const OptionDesc*>(data);
  // Pairs follow the structure that an odd count gives first; names that
  // are not options are left to the structure's builder to refuse.
  for (int arg = nargin % 2; arg + 1 < nargin; arg += 2) {
    const int depth = nargin - 1 - arg;
    char name[kOptionNameBytes + 1];
    int32_t length = 0;
    if (!stk_is_char(ctx, depth) || stk_get_string_buf(ctx, depth, name, sizeof name, &length) != kOk) continue;
    const int row = opt_find(tmpl, name, length);
    if (row >= 0) TN_TRY(check_font_value(ctx, depth - 1, tmpl[row].type));
  }
  return opt_make_struct(ctx, nargin, tmpl);
}

// text(s), text(x, y, s [, j]), text(x, y, z, s [, j]), each with an
// optional Font structure last.
int plot_cmd_text(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  auto depth = [&](int arg) { return nargin - 1 - arg; };
  int text_at = nargin <= 2 ? 0 : 2;
  bool three_d = false;
  if (!stk_is_char(ctx, depth(text_at))) {
    if (nargin < 4 || !stk_is_char(ctx, depth(3))) return kWrongType;
    text_at = 3;
    three_d = true;
  }
  if (!(nargin > 1 && stk_is_struct(ctx, 0))) {
    TN_TRY(text_records(ctx, nargin, 0, text_at, three_d, nullptr, s, list));
    command_done(ctx, nargin);
    return kOk;
  }
  FontArg font;
  TN_TRY(read_font(ctx, &font));
  TN_TRY(push_face(ctx, &font));
  const int status = text_records(ctx, nargin, 1, text_at, three_d, &font, s, list);
  stk_drop(ctx);  // the face name
  TN_TRY(status);
  command_done(ctx, nargin);
  return kOk;
}

// settabs(samples): a text of TAB-ended samples, or counts of letters.
int plot_cmd_settabs(EngineContext* ctx, Subplot* s, CommandList list) {
  CharsArg text;
  MatArg counts;
  int64_t k = 0, bytes = 0;
  const bool is_text = stk_is_char(ctx, 0);
  if (is_text) {
    TN_TRY(arg_chars(ctx, 0, &text));
    for (int64_t i = 0; i < text.count; ++i) k += text.at(i) == kTab;
    if (text.count > 0 && text.at(text.count - 1) != kTab) ++k;
    bytes = text.bytes;
  } else {
    TN_TRY(arg_matrix(ctx, 1, 0, &counts));
    k = int64_t(counts.rows) * counts.cols;
    for (int64_t i = 0; i < k; ++i) {
      const double v = counts.re[i];
      bytes += 1 + (v >= 1 ? (v < double(kMaxTextBytes) ? int64_t(v) : kMaxTextBytes) : 0);
      if (bytes > kMaxTextBytes) return kPlotOverflow;
    }
  }
  if (bytes > kMaxTextBytes || k > kMaxTextBytes) return kPlotOverflow;
  const int64_t n = 2 + k + text_doubles(bytes);
  TN_TRY(command_room(list, kRecHead + n));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeTabStops, kNoId, kNoId, nullptr, int32_t(n));
  plotwriter_put(&w, double(k));
  for (int64_t i = 0; i < k; ++i) plotwriter_put(&w, 0.0);  // the renderer's stops
  plotwriter_put(&w, double(bytes));
  if (is_text) {
    put_chars(&w, text);
  } else {
    BytePacker p{&w};
    for (int64_t i = 0; i < k; ++i) {
      const double v = counts.re[i];
      for (int64_t j = v >= 1 ? int64_t(v) : 0; j > 0; --j) p.put('x');
      p.put(uint8_t(kTab));
    }
    p.flush();
  }
  *list.used = w.used;
  command_done(ctx, 1);
  return kOk;
}

// legend(s [, style]): one entry per line of s.
int plot_cmd_legend(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  CharsArg text;
  TN_TRY(arg_chars(ctx, nargin - 1, &text));
  StyleArg style;
  if (nargin > 1) TN_TRY(arg_style(ctx, nargin, 1, &style));
  int64_t k = 1;
  for (int64_t i = 0; i < text.count; ++i) k += text.at(i) == kLF;
  if (text.count > 0 && text.at(text.count - 1) == kLF) --k;
  if (text.bytes > kMaxTextBytes || k > kMaxTextBytes) return kPlotOverflow;
  // The styles are parsed before anything is written: a bad one writes nothing.
  const int64_t n = kLegendFixed + kRecordPerLine * k + text_doubles(text.bytes);
  TN_TRY(command_room(list, kRecHead + n));
  StyleSpec probe;
  for (int64_t i = 0; i < k; ++i) TN_TRY(style_of(style, int32_t(i), kDefaultCurveBits, nullptr, &probe));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeLegend, kNoId, kNoId, nullptr, int32_t(n));
  plotwriter_put(&w, 0.0);
  plotwriter_put(&w, double(k));
  plotwriter_put(&w, double(text.bytes));
  for (int64_t i = 0; i < k; ++i) {
    StyleSpec st;
    style_of(style, int32_t(i), kDefaultCurveBits, nullptr, &st);
    plotwriter_put(&w, double(st.bits));
    plotwriter_put(&w, pack_colour(st.r, st.g, st.b));
  }
  put_chars(&w, text);
  *list.used = w.used;
  subplot_set_tool_flags(s, subplot_get_capabilities(s) | kLegendToolFlag);
  command_done(ctx, nargin);
  return kOk;
}
