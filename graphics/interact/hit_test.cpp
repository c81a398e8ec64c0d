// Hit test by priority. A level of 2 at the start lets an area (image,
// active region) win only while nothing else is hit; an area sets the best
// distance to 0 so later lines and circles cannot win, but polyline points
// and bars, which test against the tolerance alone at level 0, still can.
// Points use the sum of the absolute pixel differences. Controls take part in
// the same walk: one under the pointer wins over what came before it.
#include "graphics/interact/hit_test.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/interact/control_track.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/render/legend_box.h"
#include "graphics/render/plot_render.h"
#include "numlib/control/tf_eval.h"

namespace {

constexpr double kBestStart = 1000.0;  // times the tolerance
constexpr uint32_t kOptLegendOn = 0x20000;
constexpr uint32_t kOptFramed = 0x8000;
constexpr int32_t kMaxHitCount = 1 << 28;
constexpr double kBarHorizontal = 1, kBarBases = 2;
constexpr int32_t kImageHead = 7;
// Frequency-response records of a transfer function.
enum : int32_t { kCodeMagnitude = 19, kCodePhase = 20, kCodeDiscreteMagnitude = 23, kCodeDiscretePhase = 24 };

struct Hit {
  const Subplot* s;
  ManipState* st;
  double px, py, tol, best;
  int32_t level;
  int32_t id;  // the current record's, checked by record_hit_id
  // A control's tracking writes more of the state than a hit does (a
  // slider's x is its value): a later winner starts again from the state
  // before the walk, and the control's other effects wait for the end.
  ManipState base;
  bool control_won = false;
  ControlHit control;
};

// A new winner takes the state: what a control won before is undone.
void claim(Hit* h) {
  if (!h->control_won) return;
  *h->st = h->base;
  h->control_won = false;
}

// A record takes part only when its id is a whole number 0..INT32_MAX: a
// NaN, infinite, fractional, negative or larger id is never hit, and no id
// is converted before it is known to fit.
bool record_hit_id(const PlotRecord& rec, int32_t* id) {
  const double v = rec.head[kPlotRecId];
  if (!(v >= 0 && v <= double(INT32_MAX)) || v != std::trunc(v)) return false;
  *id = int32_t(v);
  return true;
}

void to_pixel(const Subplot* s, double x, double y, const double* z, double* px, double* py) {
  subplot_data_to_pixel(s, &x, &y, z, 1, px, py, nullptr);
}

void set_hit(Hit* h, const PlotRecord& rec, uint32_t flags, double x0, double y0) {
  claim(h);
  h->st->id = h->id;
  const double nb = rec.head[kPlotRecIndex];
  h->st->nb = nb > -2147483648.0 && nb < 2147483647.0 ? int32_t(nb) : -1;
  h->st->x0 = x0, h->st->y0 = y0;
  h->st->valid = (h->st->valid & kManipPointer) | flags;
}

// Codes 1, 2, 13: the nearest point within the tolerance.
void hit_points(Hit* h, const PlotRecord& rec) {
  const int32_t planes = rec.code_int == kCodePolyline3 ? 3 : 2;
  int32_t m;
  if (!record_count(rec, 0, kMaxHitCount, &m)) return;
  const bool freq = rec.code_int == kCodeFreqPolyline && int64_t(3) * m + 1 == rec.n;
  if (int64_t(planes + (freq ? 1 : 0)) * m + 1 > rec.n) return;
  const double* x = rec.data + 1;
  const double* y = x + m;
  const double* z = planes == 3 ? y + m : nullptr;
  for (int32_t j = 0; j < m; ++j) {
    double qx, qy;
    to_pixel(h->s, x[j], y[j], z ? z + j : nullptr, &qx, &qy);
    const double d = std::fabs(qx - h->px) + std::fabs(qy - h->py);
    if (!(d < h->tol) || !(h->level > 0 || d < h->best)) continue;
    set_hit(h, rec, kManipPointHit | (z ? uint32_t(kManipZ0) : 0u) | (freq ? uint32_t(kManipQ1) : 0u), x[j], y[j]);
    if (z) h->st->z0 = z[j];
    if (freq) h->st->q1 = y[m + j];
    h->st->ix = j + 1;
    h->level = 0;
    h->best = d;
  }
}

// Code 4: perpendicular pixel distance; the reported point is the foot of
// the perpendicular from the pointer's data position.
void hit_line(Hit* h, const PlotRecord& rec) {
  if (rec.n < 3 || h->level <= 0) return;
  const double a = rec.data[0], b = rec.data[1], c = rec.data[2];
  double a2, b2, c2;
  subplot_line_to_pixel(h->s, a, b, c, &a2, &b2, &c2);
  const double norm = std::sqrt(a2 * a2 + b2 * b2);
  if (!(norm > 0)) return;
  const double d = std::fabs(a2 * h->px + b2 * h->py - c2) / norm;
  if (!(d < h->tol) || !(d < h->best)) return;
  double x, y;
  subplot_pixel_to_point(h->s, h->px, h->py, &x, &y);
  const double n2 = a * a + b * b;
  if (!(n2 > 0)) return;
  set_hit(h, rec, kManipElementHit, (b * (b * x - a * y) + a * c) / n2, (a * (a * y - b * x) + b * c) / n2);
  h->level = 1;
  h->best = d;
}

// Code 5: the pointer projected radially onto each circle's pixel ellipse.
void hit_circles(Hit* h, const PlotRecord& rec) {
  int32_t k;
  if (h->level <= 0 || !record_count(rec, 0, kMaxHitCount, &k) || int64_t(3) * k + 1 > rec.n) return;
  for (int32_t i = 0; i < k; ++i) {
    const double r = rec.data[1 + 2 * k + i];
    double cx, cy;
    to_pixel(h->s, rec.data[1 + i], rec.data[1 + k + i], nullptr, &cx, &cy);
    const double rx = std::fabs(r * h->s->xScale), ry = std::fabs(r * h->s->yScale);
    if (!(rx > 0) || !(ry > 0)) continue;
    double dx = h->px - cx, dy = h->py - cy;
    if (dx == 0 && dy == 0) dx = 1;
    const double t = 1.0 / std::sqrt((dx / rx) * (dx / rx) + (dy / ry) * (dy / ry));
    const double ex = cx + t * dx, ey = cy + t * dy;
    const double d = std::fabs(ex - h->px) + std::fabs(ey - h->py);
    if (!(d < h->tol) || !(d < h->best)) continue;
    double x0, y0;
    subplot_pixel_to_point(h->s, ex, ey, &x0, &y0);
    set_hit(h, rec, kManipElementHit, x0, y0);
    h->st->nb = i + 1;
    h->level = 1;
    h->best = d;
  }
}

// Code 7: bars whose extent across holds the pointer, by the distance to
// their end (and base) along the value axis.
void hit_bars(Hit* h, const PlotRecord& rec) {
  int32_t m;
  if (rec.n < 3 || !record_count(rec, 2, kMaxHitCount, &m)) return;
  const double fl = rec.data[0];
  const bool horizontal = std::fmod(fl, 2.0) == kBarHorizontal, bases = fl == kBarBases || fl == 3;
  if (int64_t(bases ? 3 : 2) * m + 3 > rec.n) return;
  const double hw = rec.data[1] / 2;
  const double* pos = rec.data + 3;
  const double* val = pos + m;
  const double* base = bases ? val + m : nullptr;
  for (int32_t j = 0; j < m; ++j) {
    double a0, a1, b0, b1, v, w = 0, pv, pw = 0;
    if (horizontal) {
      to_pixel(h->s, 0, pos[j] - hw, nullptr, &b0, &a0);
      to_pixel(h->s, 0, pos[j] + hw, nullptr, &b1, &a1);
      to_pixel(h->s, val[j], 0, nullptr, &v, &b0);
      if (base) to_pixel(h->s, base[j], 0, nullptr, &w, &b0);
      pv = h->px, pw = h->py;
    } else {
      to_pixel(h->s, pos[j] - hw, 0, nullptr, &a0, &b0);
      to_pixel(h->s, pos[j] + hw, 0, nullptr, &a1, &b1);
      to_pixel(h->s, 0, val[j], nullptr, &b0, &v);
      if (base) to_pixel(h->s, 0, base[j], nullptr, &b0, &w);
      pv = h->py, pw = h->px;
    }
    if (!(std::min(a0, a1) < pw && pw < std::max(a0, a1))) continue;
    double d = std::fabs(pv - v), end = val[j];
    if (base && std::fabs(pv - w) < d) d = std::fabs(pv - w), end = base[j];
    if (!(d < h->tol) || !(d < h->best)) continue;
    if (horizontal)
      set_hit(h, rec, kManipPointHit, end, pos[j]);
    else
      set_hit(h, rec, kManipPointHit, pos[j], end);
    h->st->ix = j + 1;
    h->level = 0;
    h->best = d;
  }
}

// Code 9: strictly inside the image's rectangle.
void hit_image(Hit* h, const PlotRecord& rec) {
  if (h->level <= 1 || rec.n < kImageHead) return;
  const double* r = rec.data;
  double l, t, rr, b;
  to_pixel(h->s, r[3], r[4], nullptr, &l, &b);
  to_pixel(h->s, r[3] + r[5], r[4] + r[6], nullptr, &rr, &t);
  if (!(std::min(l, rr) < h->px && h->px < std::max(l, rr) && std::min(t, b) < h->py && h->py < std::max(t, b)))
    return;
  set_hit(h, rec, kManipElementHit, h->st->x, h->st->y);
  h->best = 0;
}

// Code 12: even-odd crossings of a ray from the pointer to the right.
void hit_region(Hit* h, const PlotRecord& rec) {
  int32_t m;
  if (h->level <= 1 || !record_count(rec, 0, kMaxHitCount, &m) || int64_t(2) * m + 1 > rec.n || m < 3) return;
  bool inside = false;
  double ax, ay;
  to_pixel(h->s, rec.data[m], rec.data[2 * m], nullptr, &ax, &ay);  // the last vertex
  for (int32_t j = 0; j < m; ++j) {
    double bx, by;
    to_pixel(h->s, rec.data[1 + j], rec.data[1 + m + j], nullptr, &bx, &by);
    if ((ay > h->py) != (by > h->py)) {
      const double xc = ax + (h->py - ay) * (bx - ax) / (by - ay);
      if (h->px < xc) inside = !inside;
    }
    ax = bx, ay = by;
  }
  if (!inside) return;
  claim(h);
  h->st->id = h->id;
  h->st->valid = (h->st->valid & kManipPointer) | kManipId;
  h->best = 0;
  h->level = 2;
}

// Codes 19, 20 (s = i x) and 23, 24 (z = e^{i x T}): the response at the
// pointer's x, magnitude (19, 23) or phase (20, 24), against the pointer's y.
void hit_response(Hit* h, const PlotRecord& rec) {
  if (h->level == 0 || !(h->st->valid & kManipX)) return;
  const bool discrete = rec.code_int >= kCodeDiscreteMagnitude;
  const int32_t at = discrete ? 1 : 0;
  int32_t dn, dd;
  if (!record_count(rec, at, kMaxHitCount, &dn) || !record_count(rec, at + 1, kMaxHitCount, &dd)) return;
  if (at + 2 + int64_t(dn) + 1 + dd + 1 > rec.n) return;
  const double x = h->st->x;
  double re = 0.0, im = x;
  if (discrete) re = std::cos(x * rec.data[0]), im = std::sin(x * rec.data[0]);
  const double* num = rec.data + at + 2;
  double hr, hi;
  tf_eval_at_complex(num, dn, num + dn + 1, dd, re, im, &hr, &hi);
  const bool magnitude = rec.code_int == kCodeMagnitude || rec.code_int == kCodeDiscreteMagnitude;
  const double v = magnitude ? std::hypot(hr, hi) : std::atan2(hi, hr);
  double qx, qy;
  to_pixel(h->s, x, v, nullptr, &qx, &qy);
  const double d = std::fabs(h->py - qy);
  if (!(d < h->tol) || !(d < h->best)) return;
  set_hit(h, rec, kManipElementHit, x, v);
  h->level = 1;
  h->best = d;
}

// Code 58: the legend box, when the legend is on. True when grabbed.
bool hit_legend(Hit* h, const PlotRecord& rec, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!(h->s->optionFlags & kOptLegendOn) || rec.n < 3) return false;
  int32_t k, len;
  if (!record_count(rec, 1, kMaxHitCount, &k) || !record_count(rec, 2, kMaxHitCount, &len)) return false;
  const int64_t text_at = 3 + int64_t(2) * k;
  if (text_at + (int64_t(len) + 7) / 8 > rec.n) return false;
  const char* text = reinterpret_cast<const char*>(rec.data + text_at);
  const bool framed = (h->s->optionFlags & kOptFramed) != 0;
  if (!legend_box_contains(h->s, k, len, text, h->px, h->py, framed, d, ctx)) return false;
  LegendLayout l;
  legend_box_layout(h->s, k, len, text, framed, d, ctx, &l);
  claim(h);
  h->st->valid = kManipLegend;
  h->st->dx = l.cx - l.hw - h->px;
  h->st->dy = l.cy - l.hh - h->py;
  return true;
}

}  // namespace

bool plotlist_section_start(const double* list, int32_t length, int32_t n, int32_t* start) {
  PlotReader r;
  plotreader_init(&r, list, length, 0);
  PlotRecord rec;
  int32_t count = 0, after_last = -1;
  for (bool first = true;; first = false) {
    const int32_t at = r.pos;
    if (!plotreader_next(&r, &rec)) break;
    const bool opening = rec.code_int == kCodeOpenObject;
    if (first && !opening) {  // records before the first opening record: section 0
      if (n == 0) return *start = 0, true;
      ++count;
    }
    if (!opening) continue;
    if (n == count) return *start = at, true;
    ++count;
    after_last = r.pos;
  }
  if (n < 0 && after_last >= 0 && after_last < length) return *start = after_last, true;
  return false;
}

bool plotlist_hit_test_section(double* list, int32_t length, int32_t start, int32_t subplot_index, Subplot* s,
                               double px, double py, double tolerance, uint8_t modifier, uint8_t start_byte,
                               ManipState* st, const GraphicsDriver* d,
                               GraphicsDriverContext* ctx, ControlPress* press) {
  if (press) *press = ControlPress{};
  st->handler_subplot = subplot_index;
  st->px = px, st->py = py;
  st->id = st->nb = st->ix = -1;
  st->valid = 0;
  if (!list || start < 0 || start >= length) return false;
  if (s->hasContent) {
    subplot_pixel_to_point(s, px, py, &st->x, &st->y);
    st->x1 = st->x, st->y1 = st->y;
    st->valid = kManipPointer;
  }
  // The controls' rectangles are filled before the walk reads them.
  const bool controls = controls_lay_out(list, length, start, s, start_byte != 0, d, ctx);
  const int32_t columns = controls ? plotlist_flow_columns(list, length, start) : 0;
  const double* stops = nullptr;
  int32_t stop_count = 0;
  Hit h{s, st, px, py, tolerance, tolerance * kBestStart, 2, -1, *st};
  PlotReader r;
  plotreader_init(&r, list, length, start);
  PlotRecord rec;
  bool first = true;
  while (plotreader_next(&r, &rec)) {
    if (rec.code_int == kCodeOpenObject) {
      if (!first) break;
      first = false;
      continue;
    }
    first = false;
    if (rec.code_int == kCodeLegend) {
      if (hit_legend(&h, rec, d, ctx)) return true;
      continue;
    }
    if (rec.code_int == kCodeTabStops) {
      control_take_stops(rec, &stops, &stop_count);
      continue;
    }
    if (!record_hit_id(rec, &h.id)) continue;
    switch (rec.code_int) {
      case kCodePolyline:
      case kCodeFreqPolyline:
      case kCodePolyline3:
        hit_points(&h, rec);
        break;
      case kCodeLine:
        hit_line(&h, rec);
        break;
      case kCodeCircles:
        hit_circles(&h, rec);
        break;
      case kCodeBars:
        hit_bars(&h, rec);
        break;
      case kCodeImage:
        hit_image(&h, rec);
        break;
      case kCodeActiveRegion:
        hit_region(&h, rec);
        break;
      case kCodeMagnitude:
      case kCodePhase:
      case kCodeDiscreteMagnitude:
      case kCodeDiscretePhase:
        hit_response(&h, rec);
        break;
      case kCodeSlider:
      case kCodeLogSlider:
      case kCodePushButton:
      case kCodeCheckBoxes:
      case kCodeRadioButtons:
      case kCodePopupMenu:
      case kCodeTextField: {
        if (!control_laid_out(rec)) return false;
        // A control under the pointer wins whatever was hit before it and
        // leaves the level at 0: only nearer polyline points or bars follow.
        ManipState trial = h.base;
        ControlHit ch;
        if (!control_press_test(rec, s, columns, stops, stop_count, px, py, &trial, &ch)) break;
        *st = trial;
        h.control_won = true;
        h.control = ch;
        h.level = 0;
        break;
      }
      default:
        break;
    }
  }
  if (h.control_won) control_press_apply(h.control, start_byte != 0, list, s, press);
  st->valid = modifier ? st->valid | kManipFlag : st->valid & ~uint32_t(kManipFlag);
  return true;
}

bool hit_point_in_box(double x, double y, double left, double right, double top, double bottom) {
  return left <= x && x <= right && top <= y && y < bottom;
}

bool subplot_clamp_to_frame(const Subplot* s, double* x, double* y) {
  const double l = std::min(s->frameLeft, s->frameRight), r = std::max(s->frameLeft, s->frameRight);
  const double t = std::min(s->frameTop, s->frameBottom), b = std::max(s->frameTop, s->frameBottom);
  const double cx = std::clamp(*x, l, r), cy = std::clamp(*y, t, b);
  const bool changed = cx != *x || cy != *y;
  *x = cx, *y = cy;
  return changed;
}

void subplot_scale_by_half_size(const Subplot* s, double* a, double* b) {
  const double half = std::max(std::fabs(s->frameRight - s->frameLeft), std::fabs(s->frameBottom - s->frameTop)) / 2;
  if (!(half > 0)) return;
  *a /= half, *b /= half;
}
