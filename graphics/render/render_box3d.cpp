// The 3-D axes box: which limit of each axis lies far from the viewer, the
// six-corner outline, pixels per unit at the back corner, and the two passes
// around the data. Every tick loop is bounded by kMaxAxisTicks and stops
// when a step no longer moves the running value.
#include "graphics/render/render_box3d.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/render/axis_ticks.h"
#include "graphics/render/render_axes.h"

namespace {

constexpr double kUnitProbe = 1e-6;
constexpr double kTickSpacingChars = 6.0;
constexpr double kUpDownRoomFactor = 1.5;
constexpr double kUpDownSpacingLines = 2.0;
constexpr double kZeroLabelShare = 0.01;
constexpr int32_t kMaxSpreadSteps = 64;  // label steps grow 2- to 2.5-fold: far past any range
constexpr int32_t kNameBytes = kSubplotLabelBytes;
constexpr int32_t kTickBitShift = 4;  // x, y, z bits are 4 apart
enum : uint32_t { kBoxTicks = 0x2, kBoxGrid = 0x4, kBoxLabels = 0x8 };
enum : uint32_t { kAlignCentreBelow = kAlignBelow, kAlignCentreAbove = kAlignAbove };

// F front, B back for x, y, z of the outline's points, the first again last.
constexpr bool kOutlineFront[7][3] = {{true, false, false}, {true, true, false},  {false, true, false},
                                      {false, true, true},  {false, false, true}, {true, false, true},
                                      {true, false, false}};

uint32_t axis_bits(const Subplot* s, int i) { return (s->optionFlags >> (kTickBitShift * i)) & 0xE; }

bool project(const Subplot* s, const double p[3], double* px, double* py) {
  subplot_data_to_pixel(s, &p[0], &p[1], &p[2], 1, px, py, nullptr);
  return std::isfinite(*px) && std::isfinite(*py);
}

void segment(const Subplot* s, const double a[3], const double b[3], const StyleSpec* style, const GraphicsDriver* d,
             GraphicsDriverContext* ctx) {
  double x[2], y[2];
  if (!project(s, a, &x[0], &y[0]) || !project(s, b, &x[1], &y[1])) return;
  d->draw_polyline(x, y, 2, style, ctx);
}

struct BoxAxes {
  double lo[3], hi[3], back[3], front[3], x[7], y[7], depth[7], ppu[3];
};

void box_values(const Subplot* s, BoxAxes* b) {
  render_box3d_outline(s, b->lo, b->hi, b->back, b->front, b->x, b->y, b->depth);
  render_box3d_pixels_per_unit(s, b->back, b->front, b->ppu);
}

// Calls f(t) for t = first, first + step, ... while t < end, bounded.
template <typename F>
void tick_walk(double first, double step, double end, F f) {
  double last = -HUGE_VAL;
  for (int32_t n = 0; n < kMaxAxisTicks; ++n) {
    const double t = axis_tick_at(first, step, n);
    if (!(t < end) || !(t > last)) return;  // past the end, or the step no longer moves t
    f(t);
    last = t;
  }
}

void axis_grid_and_marks(const Subplot* s, const BoxAxes& b, int i, const StyleSpec* axes_style,
                         const StyleSpec* frame_style, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  const uint32_t bits = axis_bits(s, i);
  if (!(bits & (kBoxTicks | kBoxGrid)) || std::isnan(b.ppu[i])) return;
  const double f = s->scaleFactor[i];
  const int j = (i + 1) % 3, k = (i + 2) % 3;
  AxisTicks t{};
  if (!axis_ticks(b.lo[i] * f, b.hi[i] * f, b.hi[i] * f, s->fontSize / b.ppu[i] * f,
                  kTickSpacingChars * s->charWidth / b.ppu[i] * f, &t, false))
    return;
  const double end = b.hi[i] * f;
  if (bits & kBoxGrid) {
    tick_walk(t.majorFirst, t.majorStep, end, [&](double tv) {
      const double v = tv / f;
      double p[3], q[3];
      p[i] = q[i] = v;
      p[j] = b.front[j], p[k] = b.back[k];
      q[j] = b.back[j], q[k] = b.back[k];
      segment(s, p, q, frame_style, d, ctx);
      p[j] = b.back[j], p[k] = b.front[k];
      segment(s, p, q, frame_style, d, ctx);
    });
  }
  if (!(bits & kBoxTicks)) return;
  auto marks = [&](double length) {
    double dd[3];
    for (int a = 0; a < 3; ++a) dd[a] = b.front[a] > b.back[a] ? -length / b.ppu[a] : length / b.ppu[a];
    return [=, &b](double tv) {
      const double v = tv / f;
      double p[3], q[3];
      p[i] = q[i] = v;
      p[j] = b.front[j], p[k] = b.back[k];
      q[j] = b.front[j] + dd[j], q[k] = b.back[k];
      segment(s, p, q, axes_style, d, ctx);
      p[j] = b.back[j], p[k] = b.front[k];
      q[j] = b.back[j], q[k] = b.front[k] + dd[k];
      segment(s, p, q, axes_style, d, ctx);
    };
  };
  tick_walk(t.minorFirst, t.minorStep, end, marks(s->minorTickLength));
  tick_walk(t.majorFirst, t.majorStep, end, marks(s->tickLength));
}

// The one alignment of an axis' labels and name: the outward side of its edge.
uint32_t label_alignment(const Subplot* s, const double p0[3], const double p1[3], const double p2[3], bool* ok) {
  double x0, y0, x1, y1, x2, y2;
  *ok = project(s, p0, &x0, &y0) && project(s, p1, &x1, &y1) && project(s, p2, &x2, &y2);
  if (!*ok) return 0;
  const double ex = x2 - x1, ey = y2 - y1, ox = x0 - x1, oy = y0 - y1;
  const double c = ex * oy - ey * ox;
  if (std::fabs(ey) <= std::fabs(ex)) {
    const int odd = (s->lineHeight > 0) + (c > 0) + (ex > 0);
    return odd % 2 ? kAlignCentreBelow : kAlignCentreAbove;
  }
  return ((c > 0 && y1 > y2) || (c <= 0 && y1 <= y2)) ? kAlignLeft : kAlignRight;
}

void axis_labels(const Subplot* s, const BoxAxes& b, int i, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (std::isnan(b.ppu[i]) || !(axis_bits(s, i) & kBoxLabels)) return;
  const double f = s->scaleFactor[i];
  const int j = (i + 1) % 3, k = (i + 2) % 3;
  const char* field = i == 0 ? s->xLabel : (i == 1 ? s->yLabel : s->zLabel);
  const int32_t n = int32_t(strnlen(field, kNameBytes));
  double w, h;
  if (d->text_extent) {
    d->text_extent(field, n, &w, &h, ctx);
  } else {
    w = n * s->charWidth;
    h = std::fabs(s->lineHeight);
  }
  double px0, py0, px1, py1;
  double q[3] = {b.back[0], b.back[1], b.back[2]};
  const bool ends = project(s, b.back, &px0, &py0);
  q[i] = b.front[i];
  const bool across = !(ends && project(s, q, &px1, &py1)) || std::fabs(px1 - px0) >= std::fabs(py1 - py0);
  const double room = across ? w : kUpDownRoomFactor * std::fabs(h);
  const double spacing = across ? kTickSpacingChars * s->charWidth : kUpDownSpacingLines * std::fabs(s->lineHeight);
  const double limit = b.hi[i] - room / b.ppu[i];
  AxisTicks t{};
  if (!axis_ticks(b.lo[i] * f, b.hi[i] * f, limit * f, s->fontSize / b.ppu[i] * f, spacing / b.ppu[i] * f, &t, true))
    return;
  double o = s->charWidth / b.ppu[j];
  if (b.front[j] <= b.back[j]) o = -o;
  double p0[3], p1[3], p2[3];
  p0[i] = p1[i] = t.labelFirst / f;
  p2[i] = (t.labelFirst + t.labelStep) / f;
  p0[j] = b.front[j] + o;
  p1[j] = p2[j] = b.front[j];
  p0[k] = p1[k] = p2[k] = b.back[k];
  bool ok;
  const uint32_t align = label_alignment(s, p0, p1, p2, &ok);
  if (!ok) return;  // no side to put them on
  double end = limit * f;
  char text[kTickLabelBytes + 1];
  // Calls fn(text, length, px, py) for each label of the edge.
  auto each_label = [&](auto fn) {
    tick_walk(t.labelFirst, t.labelStep, end, [&](double tv) {
      // A label that is zero but for rounding reads 0; the count goes on from there.
      if (std::fabs(tv / t.labelStep) < kZeroLabelShare) tv = 0.0;
      double p[3], px, py;
      p[i] = tv / f, p[j] = b.front[j] + o, p[k] = b.back[k];
      if (!project(s, p, &px, &py)) return;
      fn(text, axis_label_text(tv, text), px, py);
    });
  };
  // Long labels would run together at the spacing chosen: the next coarser
  // step while neighbours touch, or the first label alone where the coarser
  // step leaves none on the edge.
  for (int32_t round = 0; round < kMaxSpreadSteps; ++round) {
    TickLabelBox prev{};
    bool first = true, apart = true;
    each_label([&](const char*, int32_t len, double px, double py) {
      const TickLabelBox box = tick_label_box(px, py, len, align, s->charWidth, s->lineHeight);
      apart = apart && (first || tick_labels_apart(prev, box, s->charWidth, s->lineHeight));
      prev = box, first = false;
    });
    if (apart) break;
    const double step = axis_wider_step(t.labelStep);
    const double start = axis_first_multiple(std::min(b.lo[i] * f, b.hi[i] * f), step);
    if (!(start < end)) {
      end = axis_tick_at(t.labelFirst, t.labelStep, 0) + 0.5 * t.labelStep;
      break;
    }
    t.labelFirst = start, t.labelStep = step;
  }
  each_label([&](const char* str, int32_t len, double px, double py) {
    d->draw_text(px, py, str, len, align, nullptr, ctx);
  });
  if (field[0] == 0) return;
  double p[3], px, py;
  p[i] = b.hi[i], p[j] = b.front[j] + o, p[k] = b.back[k];
  if (project(s, p, &px, &py)) d->draw_text(px, py, field, n, align, nullptr, ctx);
}

}  // namespace

void render_box3d_outline(const Subplot* s, double lo[3], double hi[3], double back[3], double front[3], double x[7],
                          double y[7], double depth[7]) {
  subplot_get_limits3(s, &lo[0], &hi[0], &lo[1], &hi[1], &lo[2], &hi[2]);
  for (int i = 0; i < 3; ++i) {
    const bool low_side = s->orthographic ? s->camPos[i] < 0 : s->camPos[i] < s->camTarget[i];
    back[i] = low_side ? hi[i] : lo[i];
    front[i] = low_side ? lo[i] : hi[i];
  }
  double px[7], py[7], pz[7];
  for (int p = 0; p < 7; ++p) {
    px[p] = kOutlineFront[p][0] ? front[0] : back[0];
    py[p] = kOutlineFront[p][1] ? front[1] : back[1];
    pz[p] = kOutlineFront[p][2] ? front[2] : back[2];
  }
  subplot_data_to_pixel(s, px, py, pz, 7, x, y, depth);
  // Points behind a perspective camera take a neighbour's place.
  if (std::isnan(x[0])) {
    const bool six = !std::isnan(x[5]);
    x[0] = six ? x[5] : 0.0;
    y[0] = six ? y[5] : 0.0;
  }
  for (int p = 1; p < 7; ++p)
    if (std::isnan(x[p])) x[p] = x[p - 1], y[p] = y[p - 1];
}

void render_box3d_pixels_per_unit(const Subplot* s, const double back[3], const double front[3], double out[3]) {
  double bx, by;
  subplot_data_to_pixel(s, &back[0], &back[1], &back[2], 1, &bx, &by, nullptr);
  for (int i = 0; i < 3; ++i) {
    double q[3] = {back[0], back[1], back[2]};
    const double step = kUnitProbe * (front[i] - back[i]);
    q[i] = back[i] + step;
    double qx, qy;
    subplot_data_to_pixel(s, &q[0], &q[1], &q[2], 1, &qx, &qy, nullptr);
    const double v = std::hypot(qx - bx, qy - by) / std::fabs(step);
    // An axis seen end-on (0) is as useless as one of no extent (NaN).
    out[i] = std::isfinite(v) && v > 0.0 ? v : NAN;
  }
}

void render_box3d_frame(const Subplot* s, const StyleSpec* axes_style, const StyleSpec* frame_style,
                        const StyleSpec* fill_style, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  BoxAxes b;
  box_values(s, &b);
  d->draw_polyline(b.x, b.y, 7, fill_style, ctx);
  for (int i = 0; i < 3; ++i) {
    double p[3] = {b.back[0], b.back[1], b.back[2]}, q[3] = {b.back[0], b.back[1], b.back[2]};
    p[i] = b.lo[i];
    q[i] = b.hi[i];
    segment(s, p, q, frame_style, d, ctx);
  }
  for (int i = 0; i < 3; ++i) axis_grid_and_marks(s, b, i, axes_style, frame_style, d, ctx);
}

void render_box3d_labels(const Subplot* s, const StyleSpec* axes_style, const StyleSpec*, const GraphicsDriver* d,
                         GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  BoxAxes b;
  box_values(s, &b);
  d->draw_polyline(b.x, b.y, 7, axes_style, ctx);
  if (!d->draw_text) return;
  for (int i = 0; i < 3; ++i) axis_labels(s, b, i, d, ctx);
}
