// The interpreter's frame: set-up of one object (styles, background, the
// prescan for the colour map, lights and the flow's lines), the record loop
// that dispatches on the code, and the closing bracket with the title.
// Records of drawings not handled here are stepped over by their length.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "graphics/render/legend_box.h"
#include "graphics/render/render_axes.h"
#include "graphics/render/render_charts.h"
#include "graphics/render/render_box3d.h"
#include "graphics/render/render_internal.h"

namespace {

constexpr double kLineHeightFactor = 1.2;
constexpr double kArrowFactor = 0.4;
constexpr double kArrowNoExtent = 5.0;
constexpr double kClampFactor = 100.0;
constexpr int32_t kFillKindWhite = 1;
constexpr int32_t kFillKindBackground = 2;
constexpr uint32_t kOptTitle = 0x10000 | 0x100000;
constexpr char kLF = '\n', kTAB = '\t';
// Codes of the flow's controls and their column fields.
enum : int32_t {
  kSliderColumnField = 2,     // record index 8
  kTextFieldColumnField = 4,  // record index 10
  kButtonLabelLength = 4,     // record index 10
};
constexpr int32_t kMaxTextBytes = 1 << 30;
constexpr uint32_t kOptChartGridBits = 0x6000;  // grid bits that show the charts
constexpr uint32_t kOptChartFineBit = 0x4000;   // with their fine lines
constexpr int32_t kChartLines = 10;             // damping and frequency lines of a chart
constexpr uint32_t kOptLegendShown = 0x20000;

// Text bytes of a record: `count` bytes starting at data double `first`,
// when they lie inside the record.
const char* record_text(const PlotRecord& rec, int32_t first, int32_t count) {
  if (first < 0 || first > rec.n || count < 0 || (int64_t(count) + 7) / 8 > rec.n - first) return nullptr;
  return reinterpret_cast<const char*>(rec.data + first);
}

void count_flow_text(RenderState* st, const PlotRecord& rec) {
  int32_t len;
  if (!record_count(rec, 0, kMaxTextBytes, &len)) return;
  const char* t = record_text(rec, 1, len);
  if (!t) return;
  st->lines += 1;
  int32_t col = 1;
  for (int32_t i = 0; i < len; ++i) {
    if (t[i] == kLF && i + 1 < len) {
      st->lines += 1;
      col = 1;
    } else if (t[i] == kTAB) {
      ++col;
      if (col > st->columns) st->columns = col;
    }
  }
}

void count_control(RenderState* st, const PlotRecord& rec, int32_t code) {
  if (code == kCodeSlider || code == kCodeLogSlider || code == kCodeTextField) {
    const int32_t field = code == kCodeTextField ? kTextFieldColumnField : kSliderColumnField;
    if (field >= rec.n) return;
    const double v = rec.data[field];
    if (!(v > 0.0)) st->lines += 1;
    const double want = v > 0.0 && v < kMaxTextBytes ? std::trunc(v) + 2 : 2;
    if (want > st->columns) st->columns = int32_t(want);
  } else if (code >= kCodePushButton && code <= kCodeRadioButtons) {
    st->lines += 1;
    // The label's TABs separate the buttons: one column each.
    int32_t len;
    const char* label = record_count(rec, kButtonLabelLength, kMaxTextBytes, &len)
                            ? record_text(rec, kButtonLabelLength + 1, len)
                            : nullptr;
    int32_t cols = 1;
    for (int32_t i = 0; label && i < len; ++i) cols += label[i] == kTAB;
    if (label && cols > st->columns) st->columns = cols;
  } else if (code == kCodePopupMenu) {
    st->lines += 1;
    if (st->columns < 2) st->columns = 2;
  }
}

void prescan(RenderState* st, int32_t start) {
  PlotReader r;
  plotreader_init(&r, st->q->list, st->q->length, start);
  PlotRecord rec;
  bool first = true;
  while (plotreader_next(&r, &rec)) {
    if (rec.code_int == kCodeOpenObject && !first) break;
    first = false;
    int32_t m;
    switch (rec.code_int) {
      case kCodeColourMap:
        if (st->draw && record_count(rec, 0, (rec.n - 1) / 3, &m)) {
          st->map_m = m;
          st->map_r = rec.data + 1;
          st->map_g = rec.data + 1 + m;
          st->map_b = rec.data + 1 + 2 * m;
        }
        break;
      case kCodeLights:
        st->light_record = rec.at;
        break;
      case kCodeFlowText:
        count_flow_text(st, rec);
        break;
      case kCodePolyline:
      case kCodeFreqPolyline:
      case kCodePolyline3:
        st->lone_curve = st->scene_feeders++ == 0 ? rec.at : -1;
        break;
      case kCodeLine3:
      case kCodePolygons:
      case kCodeTextAt3:
        ++st->scene_feeders;
        st->lone_curve = -1;
        break;
      default:
        if (rec.code_int >= kCodeSlider && rec.code_int <= kCodeTextField) count_control(st, rec, rec.code_int);
        break;
    }
  }
}

void set_font_record(RenderState* st, const PlotRecord& rec) {
  if (st->is3d || !st->drv->set_font) return;
  if (rec.code_int == kCodeFontReset) {
    st->drv->set_font(nullptr, 0.0, 0, nullptr, st->ctx);
    st->font_changed = false;
    return;
  }
  if (rec.n < 3) return;
  const char* face = reinterpret_cast<const char*>(rec.data + 2);
  const size_t room = size_t(rec.n - 2) * sizeof(double);
  if (!std::memchr(face, 0, room)) return;  // the name must end inside the record
  const double flags = rec.data[1];
  const uint32_t f = flags >= 0.0 && flags < 4294967296.0 ? uint32_t(flags) : 0;
  const StyleSpec style = record_style(rec);
  const uint8_t colour[3] = {style.r, style.g, style.b};
  st->drv->set_font(face, rec.data[0], f, colour, st->ctx);
  st->font_changed = true;
}

}  // namespace

StyleSpec render_effective_style(const RenderState* st, const PlotRecord& rec) {
  StyleSpec style = record_style(rec);
  if (style.bits & kStyleBitDefault) {
    const uint32_t kind = style.bits & kStyleBitsKind;
    const bool chart = rec.code_int >= 47 && rec.code_int <= 50;
    style = chart ? st->chart_style : st->default_style;
    if (kind >= kStyleKindInvisible) style.bits = (style.bits & ~kStyleBitsKind) | kind;
  }
  return style;
}

namespace {

// Code 58 {0, k, L, k style pairs, L text bytes}: drawn when the legend
// option is on, back in the fill style, framed in the axes style.
void draw_legend(RenderState* st, const PlotRecord& rec) {
  if (!(st->s->optionFlags & kOptLegendShown) || rec.n < 3) return;
  int32_t k, len;
  if (!record_count(rec, 1, kMaxTextBytes, &k) || !record_count(rec, 2, kMaxTextBytes, &len)) return;
  const int64_t text_at = 3 + int64_t(2) * k;
  if (text_at > rec.n) return;
  const char* text = record_text(rec, int32_t(text_at), len);
  if (!text) return;
  const bool framed = (st->s->optionFlags & kOptFrame) != 0;
  legend_render(st->s, k, len, text, rec.data + 3, framed, &st->axes_style, &st->fill_style, st->drv, st->ctx);
}

// Charts 47-50 when the subplot's grid bits are on (the fine lines with bit
// 0x4000), and the chart values 51-54 from their first data double.
void draw_chart(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  const uint32_t grid = st->s->optionFlags & kOptChartGridBits;
  const bool fine = (grid & kOptChartFineBit) != 0;
  const double v = rec.n >= 1 ? rec.data[0] : NAN;
  switch (rec.code_int) {
    case kCodeZgrid: if (grid) render_zgrid(st->s, kChartLines, kChartLines, fine, &style, st->drv, st->ctx); return;
    case kCodeSgrid: if (grid) render_sgrid(st->s, kChartLines, kChartLines, fine, &style, st->drv, st->ctx); return;
    case kCodeHgrid: if (grid) render_hgrid(st->s, fine, &style, st->drv, st->ctx); return;
    case kCodeNgrid: if (grid) render_ngrid(st->s, fine, &style, st->drv, st->ctx); return;
    case kCodeZgridWn: return render_zgrid_wn(st->s, v, &style, st->drv, st->ctx);
    case kCodeZgridZeta: return render_zgrid_zeta(st->s, v, &style, st->drv, st->ctx);
    case kCodeSgridCircle: return render_sgrid_circle(st->s, v, &style, st->drv, st->ctx);
    case kCodeSgridRay: return render_sgrid_ray(st->s, v, &style, st->drv, st->ctx);
    default: return;
  }
}

void draw_record(RenderState* st, const PlotRecord& rec) {
  const int32_t code = rec.code_int;
  if (code == kCodeFont || code == kCodeFontReset) return set_font_record(st, rec);
  if (render_flow_record(st, rec)) return;
  if (code == kCodeMaterial) {
    st->material_record = rec.at;
    return;
  }
  if (!st->draw) return;
  const StyleSpec style = render_effective_style(st, rec);
  switch (code) {
    case kCodePolyline:
    case kCodeFreqPolyline:
    case kCodePolyline3:
      return render_polyline(st, rec, style);
    case kCodeLine:
      return render_clipped_line(st, rec, style);
    case kCodeLine3:
      return render_line3(st, rec, style);
    case kCodePolygons:
      if (st->is3d) render_polygons(st, rec);
      return;
    default:
      break;
  }
  if (st->is3d) return;  // the rest are 2-D drawings
  switch (code) {
    case kCodeCircles:
    case kCodeEllipses:
      return render_ellipses(st, rec, style);
    case kCodeBars:
      return render_bars(st, rec, style);
    case kCodeMultiPolyline:
      return render_multi_polyline(st, rec, style);
    case kCodeImage:
      return render_image(st, rec);
    case kCodeCells:
      return render_cells(st, rec, style);
    case kCodeEigenLocus:
      return render_eigen_locus(st, rec);
    case kCodeLegend:
      return draw_legend(st, rec);
    default:
      break;
  }
  if (code >= kCodeChartFirst && code <= kCodeChartLast) draw_chart(st, rec, style);
}

void closing_bracket(RenderState* st) {
  const Subplot* s = st->s;
  const GraphicsDriver* d = st->drv;
  if (d->clip_begin) d->clip_begin(s->rectLeft, s->rectRight, s->rectTop, s->rectBottom, st->ctx);
  if (st->framed && !st->is3d) axes_render(s, &st->axes_style, d, st->ctx);
  render_flow_marks(st);
  const uint32_t options = s->optionFlags;
  const int32_t title_len = int32_t(strnlen(s->title, sizeof s->title));
  if ((options & kOptTitle) == kOptTitle && title_len > 0 && d->draw_text)
    d->draw_text(s->frameLeft, (s->rectTop + s->frameTop) * 0.5, s->title, title_len, kAlignLeft, nullptr, st->ctx);
  if (d->clip_end) d->clip_end(st->ctx);
}

}  // namespace

bool render_finite(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

float render_narrow(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (!std::isfinite(v)) return float(v);
  return float(std::clamp(v, -kMax, kMax));
}

double* render_points(RenderState* st, int64_t count) { return draw_room_doubles(st->room, count); }

void plot_fill_background(double left, double right, double top, double bottom, const GraphicsDriver* driver,
                          GraphicsDriverContext* context) {
  if (!driver || !driver->fill_rect) return;
  if (driver->clip_begin) driver->clip_begin(left, right, top, bottom, context);
  driver->fill_rect(left, top, right, bottom, kFillBackground, context);
  if (driver->clip_end) driver->clip_end(context);
}

void plot_driver_rect(double x0, double x1, double y0, double y1, const StyleSpec* style,
                      const GraphicsDriver* driver, GraphicsDriverContext* context) {
  if (!driver || !driver->draw_polyline) return;
  const double x[5] = {x0, x1, x1, x0, x0};
  const double y[5] = {y0, y0, y1, y1, y0};
  driver->draw_polyline(x, y, 5, style, context);
}

void render_reset_styles(Subplot* s, const GraphicsDriver* driver, GraphicsDriverContext* context) {
  double w = kNoExtentCharWidth, h = kNoExtentCharHeight;
  if (driver && driver->text_extent) driver->text_extent("0", 1, &w, &h, context);
  subplot_set_char_size(s, w, h);
  const GraphicsDriverValues& v = driver ? driver->values : kNoDriverValues;
  subplot_set_margins(s, v.marginLeft, v.marginRight, v.marginTop, v.marginBottom);
}

int32_t plotlist_flow_columns(const double* list, int32_t length, int32_t start) {
  RenderRequest q{};
  q.list = const_cast<double*>(list);  // the prescan only reads
  q.length = length;
  RenderState st{};
  st.q = &q;
  st.columns = 1;
  if (start < 0 || start > length) return 1;
  prescan(&st, start);
  return st.columns;
}

bool plotlist_render(const RenderRequest* q) {
  static const GraphicsDriver kNone = kEmptyGraphicsDriver;
  RenderState st{};
  st.q = q;
  st.s = q->subplot;
  st.drv = q->driver ? q->driver : &kNone;
  st.ctx = q->context;
  st.draw = !q->no_draw;
  st.is3d = st.s->is3D != 0;
  st.default_style = q->default_style ? *q->default_style : kRenderDefaultStyle;
  st.fill_style = q->fill_style ? *q->fill_style : kRenderFillStyle;
  st.frame_style = q->frame_style ? *q->frame_style : kRenderFrameStyle;
  st.chart_style = q->chart_style ? *q->chart_style : kRenderChartStyle;
  st.axes_style = q->axes_style ? *q->axes_style : kRenderAxesStyle;
  st.framed = st.s->hasContent && (st.s->optionFlags & kOptFrame);
  st.light_record = -1;
  st.material_record = -1;
  st.columns = 1;
  st.deferred_menu = -1;
  st.lone_curve = -1;
  ScopedDrawRoom own;
  st.room = q->room ? q->room : &own.room;
  Subplot* s = st.s;
  const GraphicsDriver* d = st.drv;
  int32_t start = *q->start;
  if (start < 0 || start > q->length) start = q->length;

  if (s->needsLayout) render_reset_styles(s, q->driver, st.ctx);
  if (st.draw) {
    if (d->clip_begin) d->clip_begin(s->frameLeft, s->frameRight, s->frameTop, s->frameBottom, st.ctx);
    if (d->fill_rect)
      d->fill_rect(s->frameLeft, s->frameTop, s->frameRight, s->frameBottom,
                   st.framed && !st.is3d ? kFillKindWhite : kFillKindBackground, st.ctx);
    if (st.framed && !st.is3d) {
      // Grids lie behind the records; the axes are drawn over them at the end.
      grid_render(s, &st.frame_style, d, st.ctx);
      polar_grid_render(s, &st.frame_style, d, st.ctx);
    } else if (st.framed) {
      render_box3d_frame(s, &st.axes_style, &st.frame_style, &st.fill_style, d, st.ctx);
      // In perspective the near labels may overlap the data: drawn first.
      if (!s->orthographic) render_box3d_labels(s, &st.axes_style, &st.frame_style, d, st.ctx);
    }
  }
  prescan(&st, start);
  double h = 0.0;
  if (d->text_extent) {
    d->text_extent("M", 1, nullptr, &h, st.ctx);
    st.line_height = std::trunc(kLineHeightFactor * h);
    st.arrow_size = kArrowFactor * h;
  } else {
    st.line_height = std::fabs(s->frameTop - s->rectTop);
    st.arrow_size = kArrowNoExtent;
  }
  st.clamp = kClampFactor * (std::fabs(s->frameBottom - s->frameTop) + std::fabs(s->frameRight - s->frameLeft));
  if (st.is3d && st.draw) render_scene_setup(&st);

  PlotReader r;
  plotreader_init(&r, q->list, q->length, start);
  PlotRecord rec;
  int32_t reached = q->length;
  bool first = true;
  for (;;) {
    const int32_t at = r.pos;
    if (!plotreader_next(&r, &rec)) {
      reached = q->length;  // the list ends, or its rest does not add up
      break;
    }
    if (rec.code_int == kCodeOpenObject && !first) {
      reached = at;
      break;
    }
    first = false;
    draw_record(&st, rec);
  }
  if (st.draw) render_scene(&st);
  render_deferred_menu(&st);
  if (st.font_changed && d->set_font) d->set_font(nullptr, 0.0, 0, nullptr, st.ctx);
  if (st.draw && st.framed && st.is3d && s->orthographic)
    render_box3d_labels(s, &st.axes_style, &st.frame_style, d, st.ctx);
  if (st.draw && d->clip_end) d->clip_end(st.ctx);
  *q->start = reached;
  if (st.draw) closing_bracket(&st);
  return reached < q->length;
}
