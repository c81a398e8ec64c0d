// Control tracking: press tests and the per-move control step. Records come
// from saved images: every count and text is bounded by its record, ids and
// indexes go through checked conversions, and a control without an id (or
// whose rectangle was never laid out) is never hit.
#include "graphics/interact/control_track.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/interact/hit_test.h"
#include "graphics/interact/sensor_geometry.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/render/plot_render.h"
#include "graphics/render/render_flow.h"
#include "graphics/subplot/plot_options.h"
#include "numlib/control/tf_eval.h"
#include "runtime/runtime_block.h"

namespace {

enum : int32_t {
  kSliderMin = 0, kSliderMax = 1, kSliderLeft = 3, kSliderRight = 4, kSliderTop = 5, kSliderBottom = 6,
  kSliderThumbs = 7, kSliderValues = 8,
  kButtonValue = 0, kButtonCount = 1, kButtonTop = 2, kButtonBottom = 3,
  kMenuCurrent = 0, kMenuShown = 1, kMenuItems = 2, kMenuTop = 5, kMenuBottom = 6,
  kFieldLeft = 0, kFieldRight = 1, kFieldTop = 2, kFieldBottom = 3,
};
constexpr double kIdLimit = 2147483648.0;
constexpr int32_t kMaxCount = 1 << 24;
constexpr int32_t kMaxBit = 53;  // check boxes past bit 52 have no bit
constexpr double kFarAway = 1e30;
constexpr uint32_t kSliderStart = kManipIx | kManipX | kManipX0 | kManipId | kManipNb;  // 0x3803
constexpr uint32_t kPushStart = kManipIx | kManipId | kManipNb;                         // 0x3800
constexpr uint32_t kChoiceStart = kManipX | kManipX0 | kManipId | kManipNb;             // 0x1803
constexpr uint32_t kMenuStart = kManipX | kManipX0 | kManipId;                          // 0x803
constexpr uint32_t kFieldStart = kManipId | kManipNb;                                   // 0x1800
static_assert(kSliderStart == 0x3803 && kPushStart == 0x3800 && kChoiceStart == 0x1803 && kMenuStart == 0x803);

bool to_int(double v, int32_t* out) {
  if (!(v > -kIdLimit && v < kIdLimit)) return false;
  *out = int32_t(v);
  return true;
}

// A control's id and index from its header; false for a control without id.
bool control_id(const PlotRecord& rec, int32_t* id, int32_t* index) {
  if (!(rec.head[kPlotRecId] >= 0 && rec.head[kPlotRecId] < kIdLimit)) return false;
  *id = int32_t(rec.head[kPlotRecId]);
  if (!to_int(rec.head[kPlotRecIndex], index)) *index = -1;
  return true;
}

bool is_control(int32_t code) { return code >= kCodeSlider && code <= kCodeTextField; }

// The last tab-stop record's stops as the renderer wrote them.
struct Stops {
  const double* at = nullptr;
  int32_t count = 0;
};
void take_stops(const PlotRecord& rec, Stops* out) {
  int32_t k, len;
  if (!record_count(rec, 0, rec.n - 2, &k) || !record_count(rec, 1 + k, kMaxCount, &len) ||
      (int64_t(len) + 7) / 8 > rec.n - 2 - k)
    return;
  out->at = rec.data + 1;
  out->count = tab_stop_samples(reinterpret_cast<const char*>(rec.data + 2 + k), len, k);
}

// The section's controls laid out through the driver (no drawing).
void layout_section(double* list, int32_t length, int32_t start, Subplot* s, const GraphicsDriver* d,
                    GraphicsDriverContext* ctx) {
  int32_t at = start;
  RenderRequest q{list, length, nullptr, s, &at, nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0,
                  0, 0, true, d, ctx, 0, 0, 0, 0};
  plotlist_render(&q);
}

struct Walk {
  PlotReader r;
  bool first = true;
  bool next(PlotRecord* rec) {
    while (plotreader_next(&r, rec)) {
      const bool opening = rec->code_int == kCodeOpenObject;
      const bool was_first = first;
      first = false;
      if (opening && !was_first) return false;
      if (!opening) return true;
    }
    return false;
  }
};

char button_kind(int32_t code) { return code == kCodeRadioButtons ? 'r' : code == kCodeCheckBoxes ? 'c' : 'b'; }

double bit_of(int32_t k) { return k >= 1 && k <= kMaxBit ? std::ldexp(1.0, k - 1) : 0.0; }

// value XOR 2^(k-1) for masks that are whole numbers below 2^53.
double toggle_bit(double value, int32_t k) {
  if (!(value >= 0 && value < std::ldexp(1.0, kMaxBit)) || k < 1 || k > kMaxBit) return value;
  const uint64_t v = uint64_t(value) ^ (uint64_t(1) << (k - 1));
  return double(v);
}

// A sensor record {kind, part, values} of the pressed id: part bit 1 answers
// without the modifier key, bit 2 with it. It needs the pressed 3-D point.
constexpr uint32_t kPressedPoint = kManipX0 | kManipY0 | kManipZ0;
constexpr int32_t kMaxKindCode = 255;
constexpr int32_t kSensorBoth = 3;
constexpr int32_t kSensorPlain = 1, kSensorModified = 2;
void sensor_step(const PlotRecord& rec, const Subplot* s, double x, double y, ManipState* st) {
  if (!s->is3D || (st->valid & kPressedPoint) != kPressedPoint) return;
  int32_t kind, part;
  if (!record_count(rec, kSensorKind, kMaxKindCode, &kind) || !record_count(rec, kSensorPart, kSensorBoth, &part))
    return;
  if (!(part & ((st->valid & kManipFlag) ? kSensorModified : kSensorPlain))) return;
  const double* v = rec.data + kSensorValues;
  if (kind == kSensorPlane && rec.n >= kSensorValues + kSensorPlaneValues)
    sensor3_plane_point(s, x, y, v, v + 3, st);
  else if (kind == kSensorSphere && rec.n >= kSensorValues + kSensorSphereValues)
    sensor3_sphere_point(s, x, y, v, st);
}

// Record 45 {dn, dd, numerator, denominator}: q := Re f(x1 + i y1) / Re f(x0 + i y0).
void rational_step(const PlotRecord& rec, ManipState* st) {
  constexpr uint32_t kNeeds = kManipX0 | kManipY0 | kManipX1 | kManipY1;
  int32_t dn, dd;
  if ((st->valid & kNeeds) != kNeeds || !record_count(rec, 0, kMaxCount, &dn) || !record_count(rec, 1, kMaxCount, &dd) ||
      int64_t(2) + dn + 1 + dd + 1 > rec.n)
    return;
  const double* num = rec.data + 2;
  const double* den = num + dn + 1;
  double r1, i1, r0, i0;
  tf_eval_at_complex(num, dn, den, dd, st->x1, st->y1, &r1, &i1);
  tf_eval_at_complex(num, dn, den, dd, st->x0, st->y0, &r0, &i0);
  const double q = r1 / r0;
  if (std::isfinite(q)) {
    st->q1 = q;
    st->valid |= kManipQ1;
  }
}

}  // namespace

bool ui_slider_track(double x, double y, double left, double right, double top, double bottom, int32_t id,
                     int32_t index, const double* thumbs, int32_t n, double minimum, double maximum, bool log,
                     bool start, ManipState* st) {
  if (start) {
    if (n < 1 || !(left <= x && x <= right && top <= y && y <= bottom)) return false;
    int32_t best = -1;
    double dist = kFarAway;
    for (int32_t i = 0; i < n; ++i) {
      const double d = std::fabs(slider_value_to_pixel(thumbs[i], minimum, maximum, log, left, right) - x);
      if (d < dist) dist = d, best = i;
    }
    if (best < 0) return false;  // no thumb at a finite distance
    st->ix = best + 1;
    st->x = slider_pixel_to_value(x, minimum, maximum, log, left, right);
    st->x0 = thumbs[best];
    st->id = id, st->nb = index;
    st->valid = (st->valid & kManipPointer) | kSliderStart;
    return true;
  }
  const double v = slider_pixel_to_value(x, minimum, maximum, log, left, right);
  st->x1 = std::clamp(v, std::fmin(minimum, maximum), std::fmax(minimum, maximum));
  if (std::isnan(v)) st->x1 = minimum;
  st->valid |= kManipX1;
  return true;
}

bool ui_buttons_track(double x, double y, double row_left, double row_right, double, double, int32_t n,
                      const double* stops, int32_t t, double top, double bottom, int32_t id, int32_t index,
                      char kind, double value, bool start, ManipState* st) {
  const int32_t k = scale_find_segment(row_left, row_right, n, stops, t, x);
  const bool inside = top <= y && y <= bottom && k >= 1 && k <= n;
  if (start) {
    if (!inside) return false;
    st->id = id, st->nb = index;
    if (kind == 'b') {
      st->ix = k, st->x = k;
      st->valid = (st->valid & kManipPointer) | kPushStart;
    } else {
      st->x = kind == 'c' ? toggle_bit(value, k) : k;
      st->x0 = value;
      st->valid = (st->valid & kManipPointer) | kChoiceStart;
    }
    return true;
  }
  if (kind == 'b') {
    const bool on = inside && k == st->ix;
    st->x = on ? k : 0;
    st->valid = on ? st->valid | kManipIx : st->valid & ~uint32_t(kManipIx);
  } else {
    st->x1 = !inside ? st->x0 : kind == 'c' ? toggle_bit(st->x0, k) : k;
    st->valid |= kManipX1;
  }
  return true;
}

bool ui_popup_track(double x, double y, double row_left, double row_right, double, double, int32_t n,
                    const double* stops, int32_t t, double top, double bottom, int32_t id, double current,
                    int32_t items, bool start, ManipState* st, const Subplot* s) {
  if (start) {
    if (!(top <= y && y <= bottom)) return false;
    const int32_t k = scale_find_segment(row_left, row_right, n, stops, t, x);
    st->x = k >= 0 ? k : 1;
    st->x0 = current + 1;
    st->id = id;
    st->valid = (st->valid & kManipPointer) | kMenuStart;
    return true;
  }
  const double h = bottom - top;
  if (!(h > 0) || items < 1) {
    st->x1 = st->x0;  // a menu without height keeps its choice
  } else {
    const double c = st->x0 - 1;
    const bool up = s->frameTop > s->frameBottom;
    const double from = up ? bottom + c * h : top - c * h;
    const double offset = up ? from - y : y - from;
    const double item = std::floor(offset / h) + 1;
    st->x1 = std::clamp(std::isnan(item) ? 1.0 : item, 1.0, double(items));
  }
  st->valid |= kManipX1;
  return true;
}

void interact_state_set_scroll(ManipState* st, double scroll_x, double scroll_y) {
  st->dx = scroll_x, st->dy = scroll_y;
  st->valid |= kManipDelta;
}

bool control_laid_out(const PlotRecord& rec) {
  int32_t a, b;
  switch (rec.code_int) {
    case kCodeSlider: case kCodeLogSlider: a = kSliderLeft, b = kSliderRight; break;
    case kCodePushButton: case kCodeCheckBoxes: case kCodeRadioButtons: a = kButtonTop, b = kButtonBottom; break;
    case kCodePopupMenu: a = kMenuTop, b = kMenuBottom; break;
    default: a = kFieldLeft, b = kFieldRight; break;
  }
  return b < rec.n && rec.data[a] != rec.data[b];
}

void control_take_stops(const PlotRecord& rec, const double** at, int32_t* count) {
  Stops stops;
  take_stops(rec, &stops);
  if (stops.at) *at = stops.at, *count = stops.count;
}

bool controls_lay_out(double* list, int32_t length, int32_t start, Subplot* s, bool press, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!list || start < 0 || start >= length) return false;
  bool any = false, empty = false;
  Walk w;
  plotreader_init(&w.r, list, length, start);
  PlotRecord rec;
  while (w.next(&rec))
    if (is_control(rec.code_int)) any = true, empty = empty || !control_laid_out(rec);
  // A press lays out in the driver's own pixels: a print or metafile copy
  // leaves rectangles in its pixels.
  if (any && (press || empty)) layout_section(list, length, start, s, d, ctx);
  return any;
}

bool control_press_test(const PlotRecord& rec, const Subplot* s, int32_t columns, const double* stops,
                        int32_t stop_count, double px, double py, ManipState* st, ControlHit* hit) {
  int32_t id, index;
  if (!control_id(rec, &id, &index)) return false;
  const double* d = rec.data;
  hit->id = id, hit->index = index;
  switch (rec.code_int) {
    case kCodeSlider:
    case kCodeLogSlider: {
      int32_t n;
      if (!record_count(rec, kSliderThumbs, kMaxCount, &n) || int64_t(kSliderValues) + 2 * int64_t(n) >= rec.n)
        return false;
      if (!ui_slider_track(px, py, d[kSliderLeft], d[kSliderRight], d[kSliderTop], d[kSliderBottom], id, index,
                           d + kSliderValues, n, d[kSliderMin], d[kSliderMax], rec.code_int == kCodeLogSlider,
                           true, st))
        return false;
      hit->range = true, hit->minimum = d[kSliderMin], hit->maximum = d[kSliderMax];
      return true;
    }
    case kCodePushButton:
    case kCodeCheckBoxes:
    case kCodeRadioButtons: {
      int32_t n;
      if (rec.n <= kButtonBottom || !record_count(rec, kButtonCount, kMaxCount, &n)) return false;
      // The group holds n buttons after its label, whatever the flow's columns.
      if (scale_find_segment(s->frameLeft, s->frameRight, columns, stops, stop_count, px) > n) return false;
      return ui_buttons_track(px, py, s->frameLeft, s->frameRight, s->frameLeft, s->frameRight, columns, stops,
                              stop_count, d[kButtonTop], d[kButtonBottom], id, index, button_kind(rec.code_int),
                              d[kButtonValue], true, st);
    }
    case kCodePopupMenu: {
      int32_t m;
      if (rec.n <= kMenuBottom || !record_count(rec, kMenuItems, kMaxCount, &m)) return false;
      if (!ui_popup_track(px, py, s->frameLeft, s->frameRight, s->frameLeft, s->frameRight, columns, stops,
                          stop_count, d[kMenuTop], d[kMenuBottom], id, d[kMenuCurrent], m, true, st, s))
        return false;
      st->nb = index;
      hit->menu_at = rec.at + kRecHead + kMenuShown;  // the menu opens on its current choice
      hit->menu_shown = d[kMenuCurrent];
      hit->popup = true;
      return true;
    }
    default: {
      if (rec.n <= kFieldBottom ||
          !hit_point_in_box(px, py, d[kFieldLeft], d[kFieldRight], d[kFieldTop], d[kFieldBottom]))
        return false;
      st->id = id, st->nb = index;
      st->valid = (st->valid & kManipPointer) | kFieldStart;
      hit->field_record = rec.at;
      return true;
    }
  }
}

void control_press_apply(const ControlHit& hit, bool start, double* list, Subplot* s, ControlPress* press) {
  if (press) press->hit = true;
  if (!start) return;
  s->trackedId = hit.id, s->trackedIndex = hit.index;
  if (hit.range) s->trackedMin = hit.minimum, s->trackedMax = hit.maximum;
  if (hit.menu_at >= 0) list[hit.menu_at] = hit.menu_shown;
  if (press) press->field_record = hit.field_record, press->popup = hit.popup;
}

void plotlist_control_step(double* list, int32_t length, int32_t start, Subplot* s, double x, double y,
                           ManipState* st, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (!list || start < 0 || start >= length) return;
  // A list rebuilt since the press (a handler ran) is laid out again before
  // its rectangles are read.
  Walk scan;
  plotreader_init(&scan.r, list, length, start);
  PlotRecord rec;
  bool empty = false;
  while (!empty && scan.next(&rec)) empty = is_control(rec.code_int) && !control_laid_out(rec);
  if (empty) layout_section(list, length, start, s, d, ctx);
  const int32_t columns = plotlist_flow_columns(list, length, start);
  Stops stops;
  Walk w;
  plotreader_init(&w.r, list, length, start);
  while (w.next(&rec)) {
    if (rec.code_int == kCodeTabStops) take_stops(rec, &stops);
    int32_t id, index;
    if (!control_id(rec, &id, &index) || id != st->id) continue;
    const double* dd = rec.data;
    double* out = list + rec.at + kRecHead;
    switch (rec.code_int) {
      case kCodeRational:
        rational_step(rec, st);
        break;
      case kCodeSensor:
        sensor_step(rec, s, x, y, st);
        break;
      case kCodeSlider:
      case kCodeLogSlider:
        if (index != st->nb || rec.n <= kSliderBottom) break;
        ui_slider_track(x, y, dd[kSliderLeft], dd[kSliderRight], dd[kSliderTop], dd[kSliderBottom], id, index,
                        nullptr, 0, s->trackedMin, s->trackedMax, rec.code_int == kCodeLogSlider, false, st);
        break;
      case kCodePushButton:
      case kCodeCheckBoxes:
      case kCodeRadioButtons: {
        int32_t n;
        if (index != st->nb || rec.n <= kButtonBottom || !record_count(rec, kButtonCount, kMaxCount, &n)) break;
        // Beyond the group's n buttons the pointer is off them.
        const bool beyond = scale_find_segment(s->frameLeft, s->frameRight, columns, stops.at, stops.count, x) > n;
        ui_buttons_track(x, beyond ? NAN : y, s->frameLeft, s->frameRight, s->frameLeft, s->frameRight, columns,
                         stops.at, stops.count, dd[kButtonTop], dd[kButtonBottom], id, index,
                         button_kind(rec.code_int), dd[kButtonValue], false, st);
        if (rec.code_int == kCodePushButton) {
          out[kButtonValue] = st->x;  // the pressed button, or 0 off it
          st->valid |= kManipControl;
          return;
        }
        break;
      }
      case kCodePopupMenu: {
        int32_t m;
        if (rec.n <= kMenuBottom || !record_count(rec, kMenuItems, kMaxCount, &m)) break;
        ui_popup_track(x, y, s->frameLeft, s->frameRight, s->frameLeft, s->frameRight, columns, stops.at,
                       stops.count, dd[kMenuTop], dd[kMenuBottom], id, dd[kMenuCurrent], m, false, st, s);
        out[kMenuShown] = st->x1 - 1;  // the shown choice, held from 0
        st->valid |= kManipControl;
        break;
      }
      default:
        break;
    }
  }
}

void interact_control_drag_step(RuntimeBlock* b, int32_t key, int32_t k, Subplot* s, double x, double y,
                                uint8_t modifier, ManipState* st, uint8_t* left_frame, const GraphicsDriver* d,
                                GraphicsDriverContext* ctx) {
  st->valid = modifier ? st->valid | kManipFlag : st->valid & ~uint32_t(kManipFlag);
  st->valid &= ~uint32_t(kManipControl);
  if (left_frame) *left_frame = 0;
  if (s->hasContent) {
    double cx = x, cy = y;
    const bool left = subplot_clamp_to_frame(s, &cx, &cy);
    if (left_frame) *left_frame = left ? 1 : 0;
    st->cx = cx, st->cy = cy;
    subplot_pixel_to_point(s, cx, cy, &st->x1, &st->y1);
    st->valid |= kManipX1 | kManipY1;
  }
  // Only a control or function with a valid, non-negative id is tracked: a
  // missed press leaves id -1, which no control may answer.
  if (!(st->valid & kManipId) || st->id < 0) return;
  PlotStore* store = rt_plot_store(b);
  int32_t pos = 0, length = 0, start = 0;
  if (!plotstore_find(store, key, &pos, &length)) return;
  double* list = plotstore_data(store) + pos;
  if (!plotlist_section_start(list, length, k, &start)) return;
  plotlist_control_step(list, length, start, s, x, y, st, d, ctx);
}
