// Frames, tick marks, tick labels, axis names and grids of 2-D subplots, and
// the straight-line, circle and rule helpers. Tick values are in "tick
// units" (data times the axis scale factor, or decibels on a dB axis); each
// is turned back into data before it meets the pixel map, so log and dB
// axes share the linear code. Every loop is bounded by kMaxAxisTicks. A y
// label never runs past the subplot's left edge: it is written short (with
// a note) or left out.
#include "graphics/render/render_axes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/core/numfmt.h"
#include "graphics/render/axis_ticks.h"
#include "graphics/render/tick_label_form.h"

namespace {

constexpr double kLabelDrop = 0.15;      // labels below the frame, in line heights
constexpr double kHalf = 0.5;
constexpr double kXLabelChars = 6.0;     // label spacing of x, in character widths
constexpr double kYLabelLines = 2.0;     // label spacing of y, in line heights
constexpr double kZeroLabel = 0.01;      // a label this close to 0, in steps, reads 0
constexpr int32_t kPolarSpokes = 12;
constexpr double kSpokeDegrees = 15.0;
constexpr double kDbPerNeper = 20.0 / 2.302585092994046;  // 20 / ln 10
// The fixed band of the general number format, 0.1 <= |v| < 2e9, by the
// exponent and the leading digit: below and above it labels take the
// exponent form (5e-2, 2.5e9), as the engine writes such numbers.
constexpr int32_t kFixedLowExp = -1, kFixedHighExp = 9, kFixedHighLead = 2;
constexpr int32_t kLabelDigits = 15;     // every decimal of 15 digits survives a double
constexpr int32_t kWideLabelBytes = 48;  // any double in either form, with room
constexpr int32_t kMaxSpreadSteps = 64;  // steps grow 2- to 2.5-fold: far past any range of doubles
constexpr double kLabelGapChars = 0.5;   // room between neighbouring labels across, in character widths
constexpr double kLabelGapLines = 0.25;  // and up and down, in line heights
constexpr uint32_t kAlignNameBelowRight = kAlignRight | kAlignBelow;
constexpr char kDbText[] = "[dB]";
constexpr uint32_t kOptTitleShown = kOptLabel | kOptMargin;  // as the closing bracket draws the title
constexpr int32_t kMaxFormLabels = 64;  // labels of one axis a form is chosen for
constexpr double kDriverGap = 1.0;      // a right-aligned text ends a pixel before its x
// The band of tick_decimal_text that holds no value: the exponent form.
constexpr int32_t kExponentLow = 1, kExponentHigh = -1;

enum class Mode { kLinear, kLog, kDb };
enum class Which { kMinor, kMajor, kLabel };

struct Axis {
  const Subplot* s;
  const StyleSpec* style;
  const GraphicsDriver* d;
  GraphicsDriverContext* ctx;
  bool is_x;
  Mode mode;
  double f;                        // scale factor of the axis
  double lo, hi, limit, s1, s2;    // tick units; s1, s2 steps (ratios on log axes)
  AxisTicks t;
  AxisLogLists logs;
};

void segment(const Axis& a, double x0, double y0, double x1, double y1) {
  const double x[2] = {x0, x1}, y[2] = {y0, y1};
  a.d->draw_polyline(x, y, 2, a.style, a.ctx);
}

double to_data(const Axis& a, double t) { return a.mode == Mode::kDb ? std::pow(10.0, t / 20.0) : t / a.f; }

double to_pixel(const Axis& a, double t) {
  const double v = to_data(a, t);
  double p = 0.0;
  if (a.is_x)
    subplot_data_to_pixel(a.s, &v, nullptr, nullptr, 1, &p, nullptr, nullptr);
  else
    subplot_data_to_pixel(a.s, nullptr, &v, nullptr, 1, nullptr, &p, nullptr);
  return p;
}

// Tick marks run inward from both edges of the frame.
void mark(const Axis& a, double t, double len) {
  const Subplot* s = a.s;
  const double p = to_pixel(a, t);
  if (a.is_x) {
    const double in = s->frameTop < s->frameBottom ? -len : len;  // from the bottom toward the top
    segment(a, p, s->frameBottom, p, s->frameBottom + in);
    segment(a, p, s->frameTop, p, s->frameTop - in);
  } else {
    const double in = s->frameLeft < s->frameRight ? len : -len;
    segment(a, s->frameLeft, p, s->frameLeft + in, p);
    segment(a, s->frameRight, p, s->frameRight - in, p);
  }
}

void rule(const Axis& a, double t) {
  const Subplot* s = a.s;
  const double p = to_pixel(a, t);
  if (a.is_x)
    segment(a, p, s->frameBottom, p, s->frameTop);
  else
    segment(a, s->frameLeft, p, s->frameRight, p);
}

// How an axis's labels are written: as plain numbers; in a form with a note
// (tick_label_form.h); or, on a log axis, each plain where it fits and in
// the exponent form where it does not. With `drop`, a label wider than
// `room` is left out: a label cut by the subplot's edge would read as
// another number.
enum class LabelKind { kPlain, kForm, kLogExponent };
struct LabelFit {
  LabelKind kind = LabelKind::kPlain;
  bool drop = false;
  double room = 0.0;
  TickLabelForm form{};
};
const LabelFit kPlainLabels{};

// Where the label of tick value t goes, and its text (none when the value
// cannot be written in the fit's form).
struct LabelPlace {
  double x, y;
  uint32_t align;
  int32_t n;
  char text[kTickDecimalBytes];
};

// The value a label shows: one within a hundredth of a step of 0 is 0.
double label_value(const Axis& a, double t) {
  return a.mode == Mode::kLinear && std::fabs(t / a.t.labelStep) < kZeroLabel ? 0.0 : t;
}

// Width of a text as drawn. A label of digits, signs, points and "e" is no
// wider than its count of "0"s: the driver measures it only when that
// count does not fit the room.
double text_width(const Axis& a, const char* text, int32_t n, double room) {
  const double estimate = n * std::fabs(a.s->charWidth);
  bool plain = true;
  for (int32_t k = 0; k < n && plain; ++k)
    plain = (text[k] >= '0' && text[k] <= '9') || text[k] == '-' || text[k] == '.' || text[k] == 'e';
  if ((plain && estimate <= room) || !a.d->text_extent) return estimate;
  double w = 0.0;
  a.d->text_extent(text, n, &w, nullptr, a.ctx);
  return w;
}

int32_t label_text(const Axis& a, double t, const LabelFit& fit, char* text) {
  int64_t n = 0;
  int32_t exp = 0;
  if (fit.kind == LabelKind::kForm) {
    if (!axis_tick_units(t, a.t.labelStep, &n, &exp) || exp != fit.form.exp) return 0;
    return tick_label_form_text(fit.form, n, text);
  }
  const int32_t plain = axis_label_text(t, text);
  if (fit.kind != LabelKind::kLogExponent || text_width(a, text, plain, fit.room) <= fit.room ||
      !tick_decimal_of(t, &n, &exp))
    return plain;
  return tick_decimal_text(n, exp, kExponentLow, kExponentHigh, text);
}

LabelPlace place_label(const Axis& a, double t, const LabelFit& fit = kPlainLabels) {
  t = label_value(a, t);
  LabelPlace l;
  l.n = label_text(a, t, fit, l.text);
  const Subplot* s = a.s;
  const double p = to_pixel(a, t);
  if (a.is_x)
    l.x = p, l.y = s->frameBottom + kLabelDrop * s->lineHeight, l.align = kAlignBelow;
  else
    l.x = s->frameLeft - kHalf * s->charWidth, l.y = p, l.align = kAlignRight;
  return l;
}

void label(const Axis& a, double t, const LabelFit& fit = kPlainLabels) {
  const LabelPlace l = place_label(a, t, fit);
  if (l.n <= 0 || (fit.drop && text_width(a, l.text, l.n, fit.room) > fit.room)) return;
  a.d->draw_text(l.x, l.y, l.text, l.n, l.align, nullptr, a.ctx);
}

template <class F>
void each_tick(const Axis& a, Which w, F&& fn) {
  if (a.mode == Mode::kLog) {
    const double* list = w == Which::kMinor ? a.logs.minor : w == Which::kMajor ? a.logs.major : a.logs.label;
    const double top = w == Which::kLabel ? a.limit : a.hi;
    auto visit = [](double v, void* c) { (*static_cast<F*>(c))(v); };
    axis_log_walk(list, a.logs.firstDecade, a.lo, top, visit, &fn);
    return;
  }
  const double first = w == Which::kMinor ? a.t.minorFirst : w == Which::kMajor ? a.t.majorFirst : a.t.labelFirst;
  const double step = w == Which::kMinor ? a.t.minorStep : w == Which::kMajor ? a.t.majorStep : a.t.labelStep;
  const double top = w == Which::kLabel ? a.limit : a.hi;
  if (!(step > 0)) return;
  for (int32_t k = 0; k < kMaxAxisTicks; ++k) {
    const double t = axis_tick_at(first, step, k);
    if (!(t < top)) break;
    fn(t);
  }
}

// True when no two neighbouring labels of the axis touch.
bool labels_apart(const Axis& a) {
  const Subplot* s = a.s;
  TickLabelBox prev{};
  bool first = true, apart = true;
  each_tick(a, Which::kLabel, [&](double t) {
    if (!apart) return;
    const LabelPlace l = place_label(a, t);
    const TickLabelBox box = tick_label_box(l.x, l.y, l.n, l.align, s->charWidth, s->lineHeight);
    apart = first || tick_labels_apart(prev, box, s->charWidth, s->lineHeight);
    prev = box, first = false;
  });
  return apart;
}

// The label spacing only foresees labels of a few characters; longer ones
// (many digits around a large value, or many decades) would run together.
// While neighbours touch, the next coarser step of 1, 2, 5 times a power of
// ten, or the next coarser log list, is taken. Where the coarser step leaves
// no label in the range, or no coarser list is left, the first label stands
// alone.
void spread_labels(Axis* a) {
  for (int32_t k = 0; k < kMaxSpreadSteps && !labels_apart(*a); ++k) {
    if (a->mode == Mode::kLog) {
      const double* coarser = axis_coarser_label_list(a->logs.label);
      if (coarser == a->logs.label) {  // log labels end at the limit itself
        double first = NAN;
        each_tick(*a, Which::kLabel, [&](double t) { first = std::isnan(first) ? t : first; });
        a->limit = first;
        return;
      }
      a->logs.label = coarser;
      continue;
    }
    const double step = axis_wider_step(a->t.labelStep);
    const double first = axis_first_multiple(a->lo, step);
    if (!(first < a->limit)) {
      a->limit = axis_tick_at(a->t.labelFirst, a->t.labelStep, 0) + kHalf * a->t.labelStep;
      return;
    }
    a->t.labelFirst = first, a->t.labelStep = step;
  }
}

// --- Labels left of a y axis ------------------------------------------------
// Their room is the fixed margin, from the subplot's left edge to where the
// labels end. Labels wider than it take a form with a note (the note above
// them in the top margin, or after the title when it is wider still); a
// label that fits no form is left out rather than cut.

double y_label_x(const Subplot* s) { return s->frameLeft - kHalf * s->charWidth; }

// Where a note too wide for the label column starts: after the title.
double note_line_left(const Axis& a) {
  const Subplot* s = a.s;
  const int32_t n = int32_t(strnlen(s->title, sizeof s->title));
  if ((s->optionFlags & kOptTitleShown) != kOptTitleShown || n == 0) return s->frameLeft;
  double w = n * std::fabs(s->charWidth);
  if (a.d->text_extent) a.d->text_extent(s->title, n, &w, nullptr, a.ctx);
  return s->frameLeft + w + std::fabs(s->charWidth);
}

struct WidthContext {
  const Axis* a;
  double room;
};
double form_text_width(const char* text, int32_t n, void* context) {
  const WidthContext* c = static_cast<const WidthContext*>(context);
  return text_width(*c->a, text, n, c->room);
}

LabelFit fit_y_labels(const Axis& a) {
  const Subplot* s = a.s;
  LabelFit fit;
  fit.room = y_label_x(s) - kDriverGap - s->rectLeft;
  int64_t units[kMaxFormLabels];
  int32_t count = 0, exp = 0;
  bool fits = true, exact = a.mode == Mode::kLinear;
  each_tick(a, Which::kLabel, [&](double t) {
    const LabelPlace l = place_label(a, t);
    fits = fits && text_width(a, l.text, l.n, fit.room) <= fit.room;
    int64_t n = 0;
    int32_t e = 0;
    if (!exact) return;
    exact = count < kMaxFormLabels && axis_tick_units(label_value(a, t), a.t.labelStep, &n, &e) &&
            (count == 0 || e == exp);
    if (exact) units[count++] = n, exp = e;
  });
  if (fits) return fit;
  fit.drop = true;
  if (a.mode == Mode::kLog) {
    fit.kind = LabelKind::kLogExponent;
    return fit;
  }
  if (!exact || count == 0) return fit;
  WidthContext c{&a, fit.room};
  const double note_room = std::max(fit.room, s->rectRight - kDriverGap - note_line_left(a));
  if (tick_label_form_choose(units, count, exp, fit.room, note_room, form_text_width, &c, &fit.form))
    fit.kind = LabelKind::kForm;
  return fit;
}

// The note of a form sits on the title's line: right-aligned over the
// labels when the label column holds it, else after the title. Its box, or
// an empty one when there is none.
TickLabelBox note_box(const Axis& a, const LabelFit& fit) {
  TickLabelBox b{0, 0, 0, 0};
  if (fit.kind != LabelKind::kForm || fit.form.note_length <= 0) return b;
  const Subplot* s = a.s;
  const double w = text_width(a, fit.form.note, fit.form.note_length, 0.0), h = std::fabs(s->lineHeight);
  b.left = w <= fit.room ? y_label_x(s) - kDriverGap - w : note_line_left(a);
  b.right = b.left + w;
  b.top = (s->rectTop + s->frameTop) * kHalf - kHalf * h;
  b.bottom = b.top + h;
  return b;
}

// The labels, then the note; a label at the top of the frame that would
// touch a note over the column is left out.
void y_labels(const Axis& a) {
  const LabelFit fit = fit_y_labels(a);
  const TickLabelBox note = note_box(a, fit);
  const bool has_note = note.right > note.left;
  const Subplot* s = a.s;
  each_tick(a, Which::kLabel, [&](double t) {
    if (has_note) {
      const LabelPlace l = place_label(a, t, fit);
      if (!tick_labels_apart(note, tick_label_box(l.x, l.y, l.n, l.align, s->charWidth, s->lineHeight),
                             s->charWidth, s->lineHeight))
        return;
    }
    label(a, t, fit);
  });
  if (has_note)
    a.d->draw_text(note.left, (note.top + note.bottom) * kHalf, fit.form.note, fit.form.note_length, kAlignLeft,
                   nullptr, a.ctx);
}

// Chooses the ticks of the axis; false when there are none.
bool choose(Axis* a, bool with_labels) {
  if (a->mode == Mode::kLog) return axis_log_tick_lists(a->lo, a->hi, a->limit, a->s1, a->s2, &a->logs);
  return axis_ticks(a->lo, a->hi, a->limit, a->s1, a->s2, &a->t, with_labels);
}

Axis make_axis(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx,
               bool is_x) {
  Axis a{};
  a.s = s, a.style = style, a.d = d, a.ctx = ctx, a.is_x = is_x;
  a.f = s->scaleFactor[is_x ? 0 : 1];
  if (!(a.f != 0.0) || !std::isfinite(a.f)) a.f = 1.0;
  return a;
}

void ordered_ranges(const Subplot* s, double* xlo, double* xhi, double* ylo, double* yhi) {
  subplot_visible_xrange(s, xlo, xhi);
  subplot_visible_yrange(s, ylo, yhi);
  if (*xlo > *xhi) std::swap(*xlo, *xhi);
  if (*ylo > *yhi) std::swap(*ylo, *yhi);
}

bool db_y(const Subplot* s) { return (s->scaleFlags & kScaleDbY) && !(s->scaleFlags & kScaleLogY); }

// Sets the axis's range, limit and steps. `room` is the pixel room kept for
// the name at the far end (0 for grids).
void set_x_range(Axis* a, double xlo, double xhi, double room) {
  const Subplot* s = a->s;
  const double sc = std::fabs(s->xScale);
  if (s->scaleFlags & kScaleLogX) {
    a->mode = Mode::kLog;
    a->lo = xlo * a->f, a->hi = xhi * a->f, a->limit = xhi * std::exp(-room / sc) * a->f;
    a->s1 = std::exp(s->fontSize / sc), a->s2 = std::exp(kXLabelChars * s->charWidth / sc);
    return;
  }
  a->mode = Mode::kLinear;
  a->lo = xlo * a->f, a->hi = xhi * a->f, a->limit = (xhi - std::fabs(room / s->xScale)) * a->f;
  a->s1 = s->fontSize / sc * a->f, a->s2 = kXLabelChars * s->charWidth / sc * a->f;
}

// False on a dB axis without a positive visible top.
bool set_y_range(Axis* a, double ylo, double yhi, double room) {
  const Subplot* s = a->s;
  const double sc = std::fabs(s->yScale);
  const double spacing = kYLabelLines * std::fabs(s->lineHeight);
  if (db_y(s)) {
    if (!(yhi > 0) || !(ylo > 0)) return false;
    a->mode = Mode::kDb;
    const double per_db = sc / kDbPerNeper;  // pixels per decibel
    a->lo = 20 * std::log10(ylo), a->hi = 20 * std::log10(yhi);
    a->limit = a->hi - room / per_db;
    a->s1 = s->fontSize / per_db, a->s2 = spacing / per_db;
    return true;
  }
  if (s->scaleFlags & kScaleLogY) {
    a->mode = Mode::kLog;
    a->lo = ylo * a->f, a->hi = yhi * a->f, a->limit = yhi * std::exp(-room / sc) * a->f;
    a->s1 = std::exp(s->fontSize / sc), a->s2 = std::exp(spacing / sc);
    return true;
  }
  a->mode = Mode::kLinear;
  a->lo = ylo * a->f, a->hi = yhi * a->f, a->limit = (yhi - std::fabs(room / s->yScale)) * a->f;
  a->s1 = s->fontSize / sc * a->f, a->s2 = spacing / sc * a->f;
  return true;
}

// Marks, then labels when asked and the driver writes text.
void draw_axis(Axis* a, bool labels) {
  const bool text = labels && a->d->draw_text;
  if (!choose(a, text)) return;
  const Subplot* s = a->s;
  each_tick(*a, Which::kMinor, [&](double t) { mark(*a, t, s->minorTickLength); });
  each_tick(*a, Which::kMajor, [&](double t) { mark(*a, t, s->tickLength); });
  if (!text) return;
  spread_labels(a);
  if (!a->is_x) return y_labels(*a);
  each_tick(*a, Which::kLabel, [&](double t) { label(*a, t); });
}

int32_t name_length(const char* name) { return int32_t(strnlen(name, kSubplotLabelBytes)); }

void x_axis(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx,
            double xlo, double xhi, bool labels) {
  Axis a = make_axis(s, style, d, ctx, true);
  const int32_t n = name_length(s->xLabel);
  double w = 0.0;
  if (n > 0) {
    if (d->text_extent)
      d->text_extent(s->xLabel, n, &w, nullptr, ctx);
    else
      w = s->frameLeft - s->rectLeft;
  }
  w += s->charWidth;
  set_x_range(&a, xlo, xhi, w);
  draw_axis(&a, labels);
  if (labels && d->draw_text && n > 0)
    d->draw_text(s->frameRight, s->frameBottom + kLabelDrop * s->lineHeight, s->xLabel, n, kAlignNameBelowRight,
                 nullptr, ctx);
}

void y_axis(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx,
            double ylo, double yhi, bool labels) {
  Axis a = make_axis(s, style, d, ctx, false);
  const int32_t n = name_length(s->yLabel);
  const bool db = db_y(s);
  double h = 0.0;
  if (n > 0 || db) {
    if (d->text_extent) {
      d->text_extent(s->yLabel, n, nullptr, &h, ctx);
      h = (db ? 2 * h : h) + kHalf * std::fabs(s->lineHeight);
    } else {
      h = kHalf * s->lineHeight + (n > 0 && db ? 2 : 1) * std::fabs(s->frameTop - s->rectTop);
    }
  }
  if (!set_y_range(&a, ylo, yhi, h)) return;
  draw_axis(&a, labels);
  if (!labels || !d->draw_text) return;
  const double x = s->frameLeft - kHalf * s->charWidth;
  if (n > 0) d->draw_text(x, s->frameTop, s->yLabel, n, kAlignNameBelowRight, nullptr, ctx);
  if (db)
    d->draw_text(x, n > 0 ? 2 * s->frameTop - s->rectTop : s->frameTop, kDbText, int32_t(sizeof kDbText - 1),
                 kAlignNameBelowRight, nullptr, ctx);
}

// Polar subplots label one axis from the origin outward.
void polar_labels(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx,
                  double xlo, double xhi, double ylo, double yhi) {
  if (!d->draw_text) return;
  const uint32_t o = s->optionFlags;
  const bool margin = (o & kOptMargin) != 0;
  if ((o & kOptLabelsX) && margin && xlo * xhi < 0 && (yhi < xhi || ylo * yhi > 0)) {
    Axis a = make_axis(s, style, d, ctx, true);
    const double sc = std::fabs(s->xScale);
    a.lo = 0, a.hi = a.limit = xhi * a.f;
    a.s1 = s->fontSize / sc * a.f, a.s2 = kXLabelChars * s->charWidth / sc * a.f;
    if (axis_ticks(a.lo, a.hi, a.limit, a.s1, a.s2, &a.t, true)) {
      spread_labels(&a);
      each_tick(a, Which::kLabel, [&](double t) { label(a, t); });
    }
    return;
  }
  if ((o & kOptLabelsY) && margin && ylo * yhi < 0) {
    Axis a = make_axis(s, style, d, ctx, false);
    const double sc = std::fabs(s->yScale);
    a.lo = 0, a.hi = a.limit = yhi * a.f;
    a.s1 = s->fontSize / sc * a.f, a.s2 = kYLabelLines * std::fabs(s->lineHeight / s->yScale) * a.f;
    if (axis_ticks(a.lo, a.hi, a.limit, a.s1, a.s2, &a.t, true)) {
      spread_labels(&a);
      y_labels(a);
    }
  }
}

void polar_rings(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx,
                 double xlo, double xhi, double ylo, double yhi) {
  // One factor for step and bound: the rings then end where the ticks end.
  double f = s->scaleFactor[0];
  if (!(f != 0.0) || !std::isfinite(f)) f = 1.0;
  const double rx = std::max(std::fabs(xlo), std::fabs(xhi)), ry = std::max(std::fabs(ylo), std::fabs(yhi));
  const double r = std::sqrt(rx * rx + ry * ry);
  const double sc = std::fabs(s->xScale);
  AxisTicks t;
  if (!axis_ticks(0, r * f, 0, s->fontSize / sc * f, kXLabelChars * s->charWidth / sc * f, &t, false)) return;
  if (!(t.minorStep > 0)) return;
  for (int32_t k = 1; k <= kMaxAxisTicks; ++k) {
    const double v = axis_tick_at(0, t.minorStep, k);
    if (!(v < r * f)) break;
    render_circle_data(s, 0, 0, v / f, style, d, ctx);
  }
}

}  // namespace

int32_t axis_label_text(double v, char* buf) {
  char wide[kWideLabelBytes];
  int32_t pos = 0;
  if (v == 0 || !std::isfinite(v)) {
    fmt_double(wide, &pos, v, 0, kStyleGeneral, 0, false, false, false, false, false, false, kWideLabelBytes);
    std::memcpy(buf, wide, size_t(pos));
    return pos;
  }
  // The fewest significant digits that read back as v (a tick value is the
  // double nearest to its decimal, so these are the decimal's digits), at
  // most as many as any decimal keeps through a double: binary noise past
  // them is not shown.
  const std::to_chars_result r = std::to_chars(wide, wide + sizeof wide, v, std::chars_format::scientific);
  int32_t digits = 0;
  for (const char* p = wide; p < r.ptr && *p != 'e'; ++p) digits += *p >= '0' && *p <= '9';
  digits = std::min(digits, kLabelDigits);
  for (;;) {
    // Rounded to that many digits first: the form follows the rounded value
    // (0.09999999999999998 to 15 digits is 0.1, fixed).
    pos = 0;
    fmt_double(wide, &pos, v, digits - 1, kStyleExp, 0, false, false, false, false, false, false, kWideLabelBytes);
    const char* e = static_cast<const char*>(std::memchr(wide, 'e', size_t(pos)));
    int32_t exp10 = 0, lead = 0, kept = 0;
    if (e) std::from_chars(e + 1, wide + pos, exp10);
    for (const char* p = wide; p < (e ? e : wide + pos); ++p) {
      if (*p < '0' || *p > '9') continue;
      if (!lead) lead = *p - '0';
      ++kept;
      if (*p != '0') digits = kept;  // trailing zeros of the rounding add nothing
    }
    const bool fixed =
        exp10 >= kFixedLowExp && (exp10 < kFixedHighExp || (exp10 == kFixedHighExp && lead < kFixedHighLead));
    pos = 0;
    fmt_double(wide, &pos, v, fixed ? std::max(0, digits - 1 - exp10) : digits - 1, fixed ? kStyleFixed : kStyleExp,
               0, false, false, false, false, false, false, kWideLabelBytes);
    // Too long only where ticks are finer than the values' resolution.
    if (pos <= kTickLabelBytes || digits <= 1) break;
    --digits;
  }
  pos = std::min(pos, kTickLabelBytes);
  std::memcpy(buf, wide, size_t(pos));
  return pos;
}

TickLabelBox tick_label_box(double x, double y, int32_t n, uint32_t align, double char_width, double line_height) {
  const double w = n * std::fabs(char_width), h = std::fabs(line_height);
  TickLabelBox b;
  b.left = align & kAlignLeft ? x : align & kAlignRight ? x - w : x - kHalf * w;
  b.top = align & kAlignBelow ? y : align & kAlignAbove ? y - h : y - kHalf * h;
  b.right = b.left + w, b.bottom = b.top + h;
  return b;
}

bool tick_labels_apart(const TickLabelBox& a, const TickLabelBox& b, double char_width, double line_height) {
  const double gx = kLabelGapChars * std::fabs(char_width), gy = kLabelGapLines * std::fabs(line_height);
  return b.left >= a.right + gx || a.left >= b.right + gx || b.top >= a.bottom + gy || a.top >= b.bottom + gy;
}

void axes_render(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  Axis frame = make_axis(s, style, d, ctx, true);
  const uint32_t o = s->optionFlags;
  if (o & kOptFrameHorizontal) {
    segment(frame, s->frameLeft, s->frameBottom, s->frameRight, s->frameBottom);
    segment(frame, s->frameLeft, s->frameTop, s->frameRight, s->frameTop);
  }
  if (o & kOptFrameVertical) {
    segment(frame, s->frameLeft, s->frameTop, s->frameLeft, s->frameBottom);
    segment(frame, s->frameRight, s->frameTop, s->frameRight, s->frameBottom);
  }
  double xlo, xhi, ylo, yhi;
  ordered_ranges(s, &xlo, &xhi, &ylo, &yhi);
  if (s->polar) return polar_labels(s, style, d, ctx, xlo, xhi, ylo, yhi);
  const bool margin = (o & kOptMargin) != 0;
  if (o & kOptTicksX) x_axis(s, style, d, ctx, xlo, xhi, margin && (o & kOptLabelsX));
  if (o & kOptTicksY) y_axis(s, style, d, ctx, ylo, yhi, margin && (o & kOptLabelsY));
}

void grid_render(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  const uint32_t o = s->optionFlags;
  if (!(o & (kOptGridX | kOptGridY))) return;
  double xlo, xhi, ylo, yhi;
  ordered_ranges(s, &xlo, &xhi, &ylo, &yhi);
  if (s->polar) {
    if (o & kOptGridX)
      for (int32_t k = 0; k < kPolarSpokes; ++k) {
        const double angle = k * kSpokeDegrees * M_PI / 180.0;
        render_straight_line(s, std::cos(angle), std::sin(angle), 0, style, d, ctx);
      }
    if (o & kOptGridY) polar_rings(s, style, d, ctx, xlo, xhi, ylo, yhi);
    return;
  }
  if (o & kOptGridX) {
    Axis a = make_axis(s, style, d, ctx, true);
    set_x_range(&a, xlo, xhi, 0.0);
    if (choose(&a, false)) each_tick(a, Which::kMinor, [&](double t) { rule(a, t); });
  }
  if (o & kOptGridY) {
    Axis a = make_axis(s, style, d, ctx, false);
    if (set_y_range(&a, ylo, yhi, 0.0) && choose(&a, false)) each_tick(a, Which::kMinor, [&](double t) { rule(a, t); });
  }
}

void polar_grid_render(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx) {
  if (!d || !s->polar) return;
  const uint32_t o = s->optionFlags;
  if ((o & kOptTicksX) && d->draw_polyline) {
    render_hline_data(s, 0, style, d, ctx);
    render_vline_data(s, 0, style, d, ctx);
  }
  if (!(o & kOptTicksY) || (o & kOptGridY) || !d->draw_ellipse) return;
  double xlo, xhi, ylo, yhi;
  subplot_visible_xrange(s, &xlo, &xhi);
  subplot_visible_yrange(s, &ylo, &yhi);
  const double tx = std::max(xlo, xhi), ty = std::max(ylo, yhi);
  double r = std::max(std::fabs(tx), std::fabs(ty));
  const bool by_y = ty > tx;
  double f = s->scaleFactor[by_y ? 1 : 0];
  if (!(f != 0.0) || !std::isfinite(f)) f = 1.0;
  const double sc = std::fabs(by_y ? s->yScale : s->xScale);
  const double spacing = by_y ? kYLabelLines * std::fabs(s->lineHeight / s->yScale) * f
                              : kXLabelChars * s->charWidth / sc * f;
  AxisTicks t;
  if (axis_ticks(0, r * f, r * f, s->fontSize / sc * f, spacing, &t, true) && t.labelStep > 0)
    r = std::floor(r * f / t.labelStep) * t.labelStep / f;
  render_circle_data(s, 0, 0, r, style, d, ctx);
}

void render_straight_line(const Subplot* s, double a, double b, double c, const StyleSpec* style,
                          const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  if (s->scaleFlags & (kScaleLogX | kScaleLogY | kScaleDbX | kScaleDbY)) return;
  if (a == 0 && b == 0) return;
  double x[2], y[2];
  if (std::fabs(b) <= std::fabs(a)) {
    subplot_visible_yrange(s, &y[0], &y[1]);
    for (int i = 0; i < 2; ++i) x[i] = (c - b * y[i]) / a;
  } else {
    subplot_visible_xrange(s, &x[0], &x[1]);
    for (int i = 0; i < 2; ++i) y[i] = (c - a * x[i]) / b;
  }
  double px[2], py[2];
  subplot_data_to_pixel(s, x, y, nullptr, 2, px, py, nullptr);
  d->draw_polyline(px, py, 2, style, ctx);
}

void render_circle_data(const Subplot* s, double x, double y, double r, const StyleSpec* style,
                        const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!d || !d->draw_ellipse) return;
  double px, py;
  subplot_data_to_pixel(s, &x, &y, nullptr, 1, &px, &py, nullptr);
  d->draw_ellipse(px, py, std::fabs(r * s->xScale), std::fabs(r * s->yScale), style, ctx);
}

void render_hline_data(const Subplot* s, double y, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  double py;
  subplot_data_to_pixel(s, nullptr, &y, nullptr, 1, nullptr, &py, nullptr);
  const double xs[2] = {s->frameLeft, s->frameRight}, ys[2] = {py, py};
  d->draw_polyline(xs, ys, 2, style, ctx);
}

void render_vline_data(const Subplot* s, double x, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline) return;
  double px;
  subplot_data_to_pixel(s, &x, nullptr, nullptr, 1, &px, nullptr, nullptr);
  const double xs[2] = {px, px}, ys[2] = {s->frameTop, s->frameBottom};
  d->draw_polyline(xs, ys, 2, style, ctx);
}
