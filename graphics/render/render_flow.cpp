// The flow of a subplot's text and controls: records 55-57 and 59-66 as the
// interpreter meets them, in the drawing and the layout pass alike (the flow
// is started and advanced in both, so both place every line at the same
// height), the tab-stop record rewritten in place, the "..." marks of a
// scrolled flow, and the geometry shared with the controls.
#include "graphics/render/render_flow.h"

#include <cmath>
#include <cstring>

#include "graphics/render/render_internal.h"

namespace {

constexpr char kTAB = '\t', kLF = '\n', kBS = '\b';
constexpr int32_t kMaxTextBytes = 1 << 30;
constexpr double kNoExtentCharStop = 10.0;  // a sample's stop per character without text measuring
constexpr double kBackArrowFactor = 3.0;     // a BS sample adds three arrow sizes
constexpr int32_t kBevelChunk = 64;          // pixels per image-row call
constexpr StyleSpec kBevelWhite = {kStyleBitFill | 7, 255, 255, 255};
constexpr uint32_t kAlignFlowText = kAlignLeft;
constexpr uint32_t kAlignMarksBottom = kAlignRight | kAlignBelow;
constexpr char kMarks[] = "...";
constexpr double kMaxAlign = 4294967295.0;

enum : int32_t {
  kSliderColumnField = 2,
  kTextFieldColumnField = 4,
  kTextAtLength = 4,  // records 56, 57: x, y, z, justification, L
  kTextAtBytes = 5,
};

const char* record_bytes(const PlotRecord& rec, int32_t first, int32_t count) {
  if (first < 0 || first > rec.n || count < 0 || (int64_t(count) + 7) / 8 > rec.n - first) return nullptr;
  return reinterpret_cast<const char*>(rec.data + first);
}

double line_step(const RenderState* st) {
  return st->s->frameTop <= st->s->frameBottom ? st->line_height : -st->line_height;
}

// The flow begins at the first flowed record of the object.
void ensure_flow(RenderState* st) {
  if (st->flow_started) return;
  st->flow_started = true;
  if (!st->s->hasContent) {
    render_flow_start(st->s, st->line_height, st->lines, &st->flow_y);
    return;
  }
  // A subplot with axes places its lines by the same rule, centred when they
  // fit and from the top when they do not, but never takes the scroll state:
  // its mode word and yMax are its limits' and yOffset is the pixel map that
  // the records after the text are still drawn through.
  Subplot unscrolled = *st->s;
  unscrolled.yMode = kAxisUnscaled;
  unscrolled.yOffset = 0.0;
  render_flow_start(&unscrolled, st->line_height, st->lines, &st->flow_y);
}

// Code 55 {L, bytes}: one step, plus one per LF that does not end the text.
void flow_text(RenderState* st, const PlotRecord& rec) {
  int32_t len;
  if (!record_count(rec, 0, kMaxTextBytes, &len)) return;
  const char* t = record_bytes(rec, 1, len);
  if (!t) return;
  ensure_flow(st);
  const double step = line_step(st);
  const double first = st->flow_y;
  st->flow_y += step;
  for (int32_t i = 0; i + 1 < len; ++i)
    if (t[i] == kLF) st->flow_y += step;
  // Lines wholly outside the frame are laid out, not drawn: a long scrolled
  // flow costs the driver only its visible lines.
  const Subplot* s = st->s;
  const double h = std::fabs(step);
  const double lo = std::fmin(first, st->flow_y - step) - h, hi = std::fmax(first, st->flow_y - step) + h;
  const bool visible = hi >= std::fmin(s->frameTop, s->frameBottom) && lo <= std::fmax(s->frameTop, s->frameBottom);
  if (st->draw && visible)
    render_text_lines(s->frameLeft, s->frameRight, first, step, st->columns, st->tabs, st->tab_count, t, len,
                      st->drv, st->ctx);
}

// Codes 56, 57 {x, y, z, justification, L, bytes}; in 3-D, 57 is a point
// of the scene whose callback draws the text.
void text_at(RenderState* st, const PlotRecord& rec) {
  if (st->draw && st->is3d && rec.code_int == kCodeTextAt3) return render_text3_to_scene(st, rec);
  if (!st->draw || st->is3d || !st->drv->draw_text || rec.n < kTextAtBytes) return;
  int32_t len;
  if (!record_count(rec, kTextAtLength, kMaxTextBytes, &len)) return;
  const char* t = record_bytes(rec, kTextAtBytes, len);
  const double a = rec.data[3];
  if (!t || !(a >= 0 && a <= kMaxAlign)) return;
  double px, py;
  subplot_data_to_pixel(st->s, &rec.data[0], &rec.data[1], rec.code_int == kCodeTextAt3 ? &rec.data[2] : nullptr,
                        1, &px, &py, nullptr);
  if (!render_finite(px, py)) return;
  st->drv->draw_text(px, py, t, len, uint32_t(a), nullptr, st->ctx);
}

// Code 66 {k, k stops, L, samples}: only stops with a sample are written
// and used.
void tab_stops(RenderState* st, const PlotRecord& rec) {
  int32_t k, len;
  if (!record_count(rec, 0, rec.n - 2, &k) || !record_count(rec, 1 + k, kMaxTextBytes, &len)) return;
  const char* t = record_bytes(rec, 2 + k, len);
  if (!t) return;
  double* stops = st->q->list + rec.at + kRecHead + 1;  // the request's list is writable
  const GraphicsDriver* d = st->drv;
  int32_t j = 0, from = 0;
  double last = 0.0;
  for (int32_t i = 0; i <= len && j < k; ++i) {
    if (i < len && t[i] != kTAB) continue;
    if (i == len && i == from) break;  // nothing after the last TAB: no sample
    const char* seg = t + from;
    int32_t n = i - from;
    double w;
    if (d->text_extent) {
      const bool back = n > 0 && seg[0] == kBS;
      w = 0.0;
      d->text_extent(seg + (back ? 1 : 0), n - (back ? 1 : 0), &w, nullptr, st->ctx);
      if (back) w += kBackArrowFactor * st->arrow_size;
      last += w;
      stops[j] = last;
    } else {
      stops[j] = kNoExtentCharStop * n;
    }
    ++j;
    from = i + 1;
  }
  st->tabs = stops;
  st->tab_count = j;
}

// Codes 59-65 in the flow: a control whose column field is above 0 shares
// the previous line. The control renderers lay out and draw it.
void flow_control(RenderState* st, const PlotRecord& rec) {
  ensure_flow(st);
  const int32_t code = rec.code_int;
  const int32_t field = code == kCodeTextField ? kTextFieldColumnField : code <= 60 ? kSliderColumnField : -1;
  const double step = line_step(st);
  if (field >= 0 && field < rec.n && rec.data[field] > 0.0) st->flow_y -= step;
  render_control(st, rec, st->flow_y);
  st->flow_y += step;
}

}  // namespace

int32_t tab_stop_samples(const char* text, int32_t length, int32_t k) {
  int32_t j = 0, from = 0;
  for (int32_t i = 0; i <= length && j < k; ++i) {
    if (i < length && text[i] != kTAB) continue;
    if (i == length && i == from) break;
    ++j;
    from = i + 1;
  }
  return j;
}

double plot_scale_value(double left, double right, int32_t n, const double* stops, int32_t t, int32_t k) {
  if (t >= 1 && stops) {
    if (k <= 0) return left;
    if (t == 1) return left + k * stops[0];
    if (k > t) return left + stops[t - 1] + (stops[t - 1] - stops[t - 2]) * (k - t);
    return left + stops[k - 1];
  }
  if (n > 0 && n * kMinSegmentWidth < right - left) return left + (right - left) / n * k;
  return left + kMinSegmentWidth * k;
}

int32_t scale_find_segment(double left, double right, int32_t n, const double* stops, int32_t t, double x) {
  if (!(x >= left)) return -1;
  for (int32_t k = 0; k < n; ++k)
    if (plot_scale_value(left, right, n, stops, t, k + 1) > x) return k;
  return -1;
}

void render_flow_start(Subplot* s, double h, int32_t lines, double* y) {
  const double top = s->frameTop, bottom = s->frameBottom;
  const double dir = top > bottom ? -1.0 : 1.0;
  const double first = (bottom - top - (lines - 1) * dir * h) * 0.5 + top;
  const bool fits = dir < 0 ? first <= top - h / 2 : first >= top + h / 2;
  if (fits) {
    s->yMode = kAxisUnscaled;
    *y = first;
    return;
  }
  if (s->yMode == kAxisUnscaled) s->yOffset = 0.0;
  s->yMode = kAxisFixed;
  const double height = 2 * std::fabs(top - first) + h;
  s->yMax = height;
  if (!(s->yOffset >= 0.0)) s->yOffset = 0.0;  // NaN too
  if (s->yOffset > height) s->yOffset = height;
  *y = (h / 2 - s->yOffset) * dir + top;
}

void render_text_lines(double left, double right, double y, double step, int32_t columns, const double* stops,
                       int32_t stop_count, const char* text, int32_t length, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx) {
  if (!d || !d->draw_text || !text) return;
  int32_t c = 0, l = 0, from = 0;
  for (int32_t i = 0; i <= length; ++i) {
    const bool end = i == length;
    if (!end && text[i] != kTAB && text[i] != kLF) continue;
    if (i > from) {
      const double x = plot_scale_value(left, right, columns, stops, stop_count, c);
      d->draw_text(x, l * step + y, text + from, i - from, kAlignFlowText, nullptr, ctx);
    }
    if (end) break;
    if (text[i] == kTAB) {
      ++c;
    } else {
      ++l;
      c = 0;
    }
    from = i + 1;
  }
}

void render_bevel_box(double x0, double x1, double y0, double y1, const StyleSpec* style, bool pressed,
                      const Subplot* s, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!d) return;
  if (!d->draw_image_row) {
    plot_driver_rect(x0, x1, y0, y1, &kBevelWhite, d, ctx);
    plot_driver_rect(x0, x1, y0, y1, style, d, ctx);
    return;
  }
  if (!pressed) y1 += 1.0;
  if (!(x0 <= x1 && y0 <= y1)) return;  // NaN too
  const double w = std::trunc(x1 - x0) + 1;
  if (!(w > 2)) return;
  // Cut to the frame first, in whole rows: a box wholly outside it draws nothing.
  const double fl = std::fmin(s->frameLeft, s->frameRight), fr = std::fmax(s->frameLeft, s->frameRight);
  const double lo = std::trunc(std::fmin(s->frameTop, s->frameBottom));
  const double hi = std::trunc(std::fmax(s->frameTop, s->frameBottom));
  const double cx0 = std::fmax(x0, fl), cx1 = std::fmin(x0 + w - 1, fr);
  const double top_y = std::trunc(y0), bottom_y = std::trunc(y1);
  if (!(cx0 <= cx1 && top_y <= hi && bottom_y >= lo)) return;
  // The light edge lies on the frame's top side.
  const bool flipped = s->frameTop > s->frameBottom;
  const uint8_t light = pressed ? kBevelDark : kBevelLight;
  const uint8_t dark = pressed ? kBevelLight : kBevelDark;
  const uint8_t face = pressed ? kBevelPressedFace : kBevelFace;
  const uint8_t top_grey = flipped ? dark : light, bottom_grey = flipped ? light : dark;
  uint8_t row[kBevelChunk];
  for (double x = cx0; x <= cx1; x += kBevelChunk) {
    const int32_t n = int32_t(std::fmin(double(kBevelChunk), std::trunc(cx1 - x) + 1));
    const int32_t first_col = int32_t(x - x0), last_col = int32_t(w) - 1;
    auto fill = [&](uint8_t edge_left, uint8_t mid, uint8_t edge_right) {
      for (int32_t i = 0; i < n; ++i) {
        const int32_t col = first_col + i;
        row[i] = col == 0 ? edge_left : col == last_col ? edge_right : mid;
      }
    };
    if (top_y >= lo && top_y <= hi) {
      fill(top_grey, top_grey, top_grey);
      d->draw_image_row(x, top_y, n, 1, 1, 1, row, nullptr, nullptr, ctx);
    }
    const double mid0 = std::fmax(top_y + 1, lo), mid1 = std::fmin(bottom_y - 1, hi);
    if (mid0 <= mid1) {
      fill(light, face, dark);
      d->draw_image_row(x, mid0, n, 1, 1, int32_t(mid1 - mid0) + 1, row, nullptr, nullptr, ctx);
    }
    if (bottom_y > top_y && bottom_y >= lo && bottom_y <= hi) {
      fill(bottom_grey, bottom_grey, bottom_grey);
      d->draw_image_row(x, bottom_y, n, 1, 1, 1, row, nullptr, nullptr, ctx);
    }
  }
}

bool render_flow_record(RenderState* st, const PlotRecord& rec) {
  switch (rec.code_int) {
    case kCodeFlowText:
      flow_text(st, rec);
      return true;
    case kCodeTextAt:
    case kCodeTextAt3:
      text_at(st, rec);
      return true;
    case kCodeTabStops:
      tab_stops(st, rec);
      return true;
    default:
      if (rec.code_int >= kCodeSlider && rec.code_int <= kCodeTextField) {
        flow_control(st, rec);
        return true;
      }
      return false;
  }
}

void render_flow_marks(RenderState* st) {
  const Subplot* s = st->s;
  if (st->lines <= 0 || s->hasContent || s->yMode == kAxisUnscaled || !st->drv->draw_text) return;
  if (s->yOffset > 0)
    st->drv->draw_text(s->frameRight, (s->rectTop + s->frameTop) * 0.5, kMarks, 3, kAlignRight, nullptr, st->ctx);
  if (s->yOffset < s->yMax)
    st->drv->draw_text(s->frameRight, s->frameBottom, kMarks, 3, kAlignMarksBottom, nullptr, st->ctx);
}
