// text, settabs and legend: records 55-58 and 66-68. Texts reach the records
// as the UTF-8 bytes of their characters (the drivers read UTF-8), packed 8
// per double. Every argument is read and every size counted before the
// first record is written; a failure leaves the stacks and the list as they
// were, the Font structure's read-outs included.
#include "graphics/commands/text_commands.h"

#include <cmath>
#include <cstring>

#include "engine/core/containers.h"
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
constexpr int32_t kFaceBytes = 128;  // what a driver reads of a face name
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

// The Font structure's read-out: what records 67 and 68 need.
struct FontArg {
  char face[kFaceBytes] = {};
  int32_t face_length = 0;
  double size = kDefaultFontSize;
  uint32_t flags = 0;
  uint8_t rgb[3] = {0, 0, 0};
};

// The face name: its UTF-8 bytes, cut at a whole character within what a
// driver reads.
int read_face(EngineContext* ctx, FontArg* f) {
  TN_TRY(opt_read_struct(ctx, 0, "Font", kFontOptions));
  CharsArg name;
  TN_TRY(arg_chars(ctx, 0, &name));
  for (int64_t i = 0; i < name.count; ++i) {
    uint8_t u[4];
    const int32_t k = utf8_put(u, name.at(i));
    if (f->face_length + k >= kFaceBytes) break;
    std::memcpy(f->face + f->face_length, u, size_t(k));
    f->face_length += k;
  }
  stk_drop(ctx);
  return kOk;
}

int read_font_fields(EngineContext* ctx, FontArg* f) {
  TN_TRY(read_face(ctx, f));
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

// Record 67 {size, flags, name, zero byte}, coloured by the font colour.
void put_font_record(PlotWriter* w, const FontArg& f) {
  const StyleSpec colour{0, f.rgb[0], f.rgb[1], f.rgb[2]};
  const int32_t name_doubles = text_doubles(int64_t(f.face_length) + 1);
  plotwriter_begin_record(w, kCodeFont, kNoId, kNoId, &colour, kFontFixed + name_doubles);
  plotwriter_put(w, f.size);
  plotwriter_put(w, double(f.flags));
  BytePacker p{w};
  for (int32_t i = 0; i < f.face_length; ++i) p.put(uint8_t(f.face[i]));
  p.put(0);
  p.flush();
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
  FontArg font;
  const bool has_font = nargin > 1 && stk_is_struct(ctx, 0);
  if (has_font) TN_TRY(read_font(ctx, &font));
  const int left = nargin - (has_font ? 1 : 0);
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
  if (text.bytes > kMaxTextBytes) return kPlotOverflow;
  const int32_t text_n = (left == 1 ? kFlowFixed : kPointFixed) + text_doubles(text.bytes);
  const int32_t font_n = kFontFixed + text_doubles(int64_t(font.face_length) + 1);
  const int64_t need = kRecHead + text_n + (has_font ? 2 * kRecHead + font_n : 0);
  TN_TRY(command_room(list, need));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  if (has_font) put_font_record(&w, font);
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
  if (has_font) plotwriter_begin_record(&w, kCodeFontReset, kNoId, kNoId, nullptr, 0);
  *list.used = w.used;
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
