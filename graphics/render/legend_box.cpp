// Legend geometry and drawing. The box sits in one corner of the plot frame,
// inset by a grid step when the subplot is framed and by one pixel when not;
// on frames whose y runs upward the layout is mirrored.
#include "graphics/render/legend_box.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr char kLF = '\n';
constexpr double kUnframedInset = 1.0;
constexpr double kGridSlack = 1.5;  // grid steps of room beside text and sample
constexpr double kHalf = 0.5;
constexpr uint32_t kPenFillOnly = kStyleBitFill;

// Calls fn(start, length) for each of the n entry lines.
template <class F>
void each_line(int32_t n, int32_t length, const char* text, F&& fn) {
  int32_t at = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t end = at;
    while (end < length && text[end] != kLF) ++end;
    fn(i, at, std::max(0, std::min(end, length) - at));
    at = std::min(end + 1, length);
  }
}

uint32_t to_u32(double v) { return v >= 0.0 && v < 4294967296.0 ? uint32_t(v) : 0u; }

}  // namespace

void legend_box_layout(const Subplot* s, int32_t n, int32_t text_length, const char* text, bool framed,
                       const GraphicsDriver* d, GraphicsDriverContext* ctx, LegendLayout* out) {
  const GraphicsDriverValues& v = d ? d->values : kNoDriverValues;
  const double gx = v.gridStepX, gy = v.gridStepY;
  if (n < 0) n = 0;
  if (!text) text = "", text_length = 0;
  double max_w = 0.0, line_h = 0.0, sample = 0.0;
  if (d && d->text_extent) {
    each_line(n, text_length, text, [&](int32_t, int32_t at, int32_t len) {
      double w = 0.0, h = 0.0;
      d->text_extent(text + at, len, &w, &h, ctx);
      max_w = std::max(max_w, w);
      line_h = std::max(line_h, h);
    });
    double h = 0.0;
    d->text_extent("M", 1, nullptr, &h, ctx);
    sample = kHalf * h;
  } else {
    int32_t chars = 0;
    each_line(n, text_length, text, [&](int32_t, int32_t, int32_t len) { chars = std::max(chars, len); });
    max_w = chars * gx;
    line_h = std::fabs(s->frameTop - s->rectTop);
    sample = gx;
  }
  const double w = max_w + sample + kGridSlack * gx;
  const double h = n * line_h + gy;
  out->hw = w / 2, out->hh = h / 2;
  out->sample = sample;
  const double ix = framed ? gx : kUnframedInset, iy = framed ? gy : kUnframedInset;
  const uint32_t o = s->optionFlags;
  out->cx = (o & kOptLegendLeft) ? s->frameLeft + ix + out->hw : s->frameRight - ix - out->hw;
  const bool bottom = (o & kOptLegendBottom) != 0;
  if (s->frameTop < s->frameBottom) {
    const double top = bottom ? s->frameBottom - iy - h : s->frameTop + iy;
    out->cy = top + out->hh;
    out->entryY = top + (line_h + gy) / 2;
    out->lineStep = line_h;
  } else {
    const double upper = bottom ? s->frameBottom + iy + h : s->frameTop - iy;
    out->cy = upper - out->hh;
    out->entryY = upper - (line_h + gy) / 2;
    out->lineStep = -line_h;
  }
  out->entryX = out->cx - out->hw + (sample + gx) / 2;
}

bool legend_box_contains(const Subplot* s, int32_t n, int32_t text_length, const char* text, double px, double py,
                         bool framed, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  LegendLayout l;
  legend_box_layout(s, n, text_length, text, framed, d, ctx, &l);
  return std::fabs(px - l.cx) < l.hw && std::fabs(py - l.cy) < l.hh;
}

void legend_render(const Subplot* s, int32_t n, int32_t text_length, const char* text, const double* styles,
                   bool framed, const StyleSpec* frame_style, const StyleSpec* back_style, const GraphicsDriver* d,
                   GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  LegendLayout l;
  legend_box_layout(s, n, text_length, text, framed, d, ctx, &l);
  const double bx[5] = {l.cx - l.hw, l.cx + l.hw, l.cx + l.hw, l.cx - l.hw, l.cx - l.hw};
  const double by[5] = {l.cy - l.hh, l.cy - l.hh, l.cy + l.hh, l.cy + l.hh, l.cy - l.hh};
  d->draw_polyline(bx, by, 5, back_style, ctx);
  d->draw_polyline(bx, by, 5, frame_style, ctx);
  const double gx = d->values.gridStepX, half = l.sample / 2;
  if (!text) text = "", text_length = 0;
  each_line(n, text_length, text, [&](int32_t i, int32_t at, int32_t len) {
    const double y = l.entryY + i * l.lineStep;
    const uint32_t colour = to_u32(styles ? styles[2 * i + 1] : 0.0);
    StyleSpec st{to_u32(styles ? styles[2 * i] : 0.0), uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)};
    const uint32_t kind = st.bits & kStyleBitsKind;
    if ((st.bits & kStyleBitsPen) == kPenFillOnly) {
      const double xs[4] = {l.entryX - half, l.entryX + half, l.entryX + half, l.entryX - half};
      const double ys[4] = {y - half, y - half, y + half, y + half};
      d->draw_polyline(xs, ys, 4, &st, ctx);
    } else if (kind < kStyleKindInvisible) {
      const double xs[2] = {l.entryX - half, l.entryX + half}, ys[2] = {y, y};
      d->draw_polyline(xs, ys, 2, &st, ctx);
    } else {
      d->draw_polyline(&l.entryX, &y, 1, &st, ctx);
    }
    if (d->draw_text) d->draw_text(l.entryX + (l.sample + gx) / 2, y, text + at, len, kAlignLeft, nullptr, ctx);
  });
}
