// The controls of a subplot's flow (records 59-65): each is laid out on its
// line of the row of segments, its rectangle written back into its record
// for the hit test and the tracking, and, in the drawing pass, drawn through
// the driver alone (bevels as grey rows, never widgets). Counts, texts and
// values come from saved lists: a record that does not add up is skipped,
// never laid out, so it can never be hit.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "graphics/render/render_flow.h"
#include "graphics/render/render_internal.h"

namespace {

// Data fields.
enum : int32_t {
  kSliderMin = 0, kSliderMax = 1, kSliderRow = 2, kSliderLeft = 3, kSliderRight = 4, kSliderTop = 5,
  kSliderBottom = 6, kSliderThumbs = 7, kSliderValues = 8,
  kButtonValue = 0, kButtonCount = 1, kButtonTop = 2, kButtonBottom = 3, kButtonLabel = 4,
  kMenuCurrent = 0, kMenuShown = 1, kMenuItems = 2, kMenuLabel = 3, kMenuLeft = 4, kMenuTop = 5,
  kMenuBottom = 6, kMenuRight = 7, kMenuLabelBytes = 8,
  kFieldLeft = 0, kFieldRight = 1, kFieldTop = 2, kFieldBottom = 3, kFieldRow = 4, kFieldTexts = 7,
};
constexpr int32_t kMaxCount = 1 << 24;
constexpr int32_t kMaxTextBytes = 1 << 30;
constexpr int32_t kFieldBytes = 16;
constexpr double kNoExtentCharWidth = 10.0;
constexpr double kTrackInset = 3.0;
constexpr double kSmallRow = 12.0;
constexpr double kHalfFactor = 0.4;  // half heights of fields and buttons, of the line height
constexpr double kTrackHalf = 2.0;
constexpr double kMenuMargin = 4.0;
constexpr double kBoxGap = 4.0;
constexpr uint8_t kThumbLight = 250, kThumbDark = 150;
constexpr StyleSpec kWhiteFill = {kStyleBitFill | 7, 255, 255, 255};
constexpr StyleSpec kYellowFill = {kStyleBitFill | 6, 255, 255, 0};
constexpr StyleSpec kHighlightFill = {kStyleBitFill | 1, 0, 0, 255};
constexpr uint8_t kWhiteText[3] = {255, 255, 255};
constexpr double kMaxBits = 9007199254740992.0;  // 2^53: check boxes past bit 52 have no bit
constexpr char kTAB = '\t';

const char* bytes_at(const PlotRecord& rec, int32_t first, int32_t count) {
  if (first < 0 || first > rec.n || count < 0 || (int64_t(count) + 7) / 8 > rec.n - first) return nullptr;
  return reinterpret_cast<const char*>(rec.data + first);
}

// The row of one control: segment boundaries from the frame and tab stops.
struct Row {
  const RenderState* st;
  double b(int32_t k) const {
    const Subplot* s = st->s;
    return plot_scale_value(s->frameLeft, s->frameRight, st->columns, st->tabs, st->tab_count, k);
  }
};

double text_width(const RenderState* st, const char* t, int32_t n) {
  if (n <= 0) return 0.0;
  if (!st->drv->text_extent) return kNoExtentCharWidth * n;
  double w = 0.0;
  st->drv->text_extent(t, n, &w, nullptr, st->ctx);
  return w;
}

void text(const RenderState* st, double x, double y, const char* t, int32_t n, uint32_t align,
          const uint8_t* colour = nullptr) {
  if (n > 0 && st->drv->draw_text) st->drv->draw_text(x, y, t, n, align, colour, st->ctx);
}

// A control is drawn only when its line lies within the frame.
bool line_visible(const RenderState* st, double y) {
  const Subplot* s = st->s;
  const double h = st->line_height * 0.5;
  return y + h >= std::fmin(s->frameTop, s->frameBottom) && y - h <= std::fmax(s->frameTop, s->frameBottom);
}

// The writable data of a record of the request's list.
double* writable(const RenderState* st, const PlotRecord& rec) { return st->q->list + rec.at + kRecHead; }

int32_t row_position(double v) { return v > 0 && v < kMaxCount ? int32_t(v) : 0; }

void fill_box(const RenderState* st, double x0, double x1, double y0, double y1, const StyleSpec& fill) {
  plot_driver_rect(x0, x1, y0, y1, &fill, st->drv, st->ctx);
}

// 59, 60 {min, max, row, left, right, top, bottom, n, n values, n colours, L, label}.
void slider(RenderState* st, const PlotRecord& rec, double y) {
  int32_t n, len;
  if (!record_count(rec, kSliderThumbs, kMaxCount, &n) || int64_t(kSliderValues) + 2 * int64_t(n) >= rec.n ||
      !record_count(rec, kSliderValues + 2 * n, kMaxTextBytes, &len))
    return;
  const char* label = bytes_at(rec, kSliderValues + 2 * n + 1, len);
  if (!label) return;
  const Row row{st};
  const int32_t p = row_position(rec.data[kSliderRow]);
  const double lh = st->line_height;
  const double half = lh < kSmallRow ? lh * 0.5 - 1.0 : kHalfFactor * lh;
  const double left = row.b(p + 1);
  const double right = (len > 0 ? row.b(p + 2) : st->s->frameRight) - kTrackInset;
  double* d = writable(st, rec);
  d[kSliderLeft] = left, d[kSliderRight] = right, d[kSliderTop] = y - half, d[kSliderBottom] = y + half;
  if (!st->draw || !line_visible(st, y)) return;
  text(st, row.b(p), y, label, len, kAlignLeft);
  const StyleSpec style = record_style(rec);
  render_bevel_box(left, right, y - kTrackHalf, y + kTrackHalf, &style, true, st->s, st->drv, st->ctx);
  const double lo = rec.data[kSliderMin], hi = rec.data[kSliderMax];
  const bool log = rec.code_int == kCodeLogSlider;
  for (int32_t i = 0; i < n; ++i) {
    double v = rec.data[kSliderValues + i];
    const RenderRequest* q = st->q;
    if (q->live_thumb == i + 1 && rec.head[kPlotRecId] == q->live_id && rec.head[kPlotRecIndex] == q->live_index)
      v = q->live_value;
    if (!(v >= std::fmin(lo, hi) && v <= std::fmax(lo, hi))) continue;
    const double x = slider_value_to_pixel(v, lo, hi, log, left, right) - 0.5;
    if (st->drv->draw_image_row) {
      const uint8_t greys[3] = {kThumbLight, kThumbDark, kThumbDark};
      const int32_t rows = int32_t(2 * half) + 1;
      if (x - 1 >= std::fmin(st->s->frameLeft, st->s->frameRight) && x + 1 <= std::fmax(st->s->frameLeft, st->s->frameRight))
        st->drv->draw_image_row(x - 1, y - half, 3, 1, 1, rows, greys, nullptr, nullptr, st->ctx);
    } else if (st->drv->draw_polyline) {
      StyleSpec mark{kStyleBitFill, 0, 0, 0};
      const double c = rec.data[kSliderValues + n + i];
      if (c >= 0 && c <= 16777215.0) {
        const uint32_t u = uint32_t(c);
        mark.r = uint8_t(u >> 16), mark.g = uint8_t(u >> 8), mark.b = uint8_t(u);
      }
      const double xs[5] = {x, x + half, x, x - half, x};
      const double ys[5] = {y - half, y, y + half, y, y - half};
      st->drv->draw_polyline(xs, ys, 5, &mark, st->ctx);
    }
  }
}

// 61-63 {value, count, top, bottom, L, label TAB item TAB item ...}.
void buttons(RenderState* st, const PlotRecord& rec, double y) {
  int32_t len;
  if (rec.n <= kButtonLabel || !record_count(rec, kButtonLabel, kMaxTextBytes, &len)) return;
  const char* t = bytes_at(rec, kButtonLabel + 1, len);
  if (!t) return;
  int32_t items = 0;
  for (int32_t i = 0; i < len; ++i) items += t[i] == kTAB;
  const double half = kHalfFactor * st->line_height;
  double* d = writable(st, rec);
  d[kButtonCount] = items, d[kButtonTop] = y - half, d[kButtonBottom] = y + half;
  if (!st->draw || !line_visible(st, y)) return;
  const Row row{st};
  const StyleSpec style = record_style(rec);
  const double v = rec.data[kButtonValue];
  const uint64_t mask = v >= 0 && v < kMaxBits ? uint64_t(v) : 0;
  int32_t k = 0, from = 0;
  for (int32_t i = 0; i <= len; ++i) {
    if (i < len && t[i] != kTAB) continue;
    const char* item = t + from;
    const int32_t n = i - from;
    from = i + 1;
    const double x = row.b(k);
    if (k == 0) {
      text(st, x, y, item, n, kAlignLeft);
    } else if (rec.code_int == kCodePushButton) {
      const double w = text_width(st, item, n) + 2 * half;
      render_bevel_box(x, x + w, y - half, y + half, &style, v == k, st->s, st->drv, st->ctx);
      text(st, x + half, y, item, n, kAlignLeft);
    } else if (rec.code_int == kCodeCheckBoxes) {
      fill_box(st, x, x + 2 * half, y - half, y + half, kWhiteFill);
      plot_driver_rect(x, x + 2 * half, y - half, y + half, &style, st->drv, st->ctx);
      if (k <= 53 && (mask >> (k - 1)) & 1 && st->drv->draw_polyline) {
        const double ax[2] = {x, x + 2 * half}, ay[2] = {y - half, y + half}, by[2] = {y + half, y - half};
        st->drv->draw_polyline(ax, ay, 2, &style, st->ctx);
        st->drv->draw_polyline(ax, by, 2, &style, st->ctx);
      }
      text(st, x + 2 * half + kBoxGap, y, item, n, kAlignLeft);
    } else {
      if (st->drv->draw_ellipse) {
        st->drv->draw_ellipse(x + half, y, half, half, &style, st->ctx);
        if (v == k) {
          StyleSpec dot = style;
          dot.bits |= kStyleBitFill;
          st->drv->draw_ellipse(x + half, y, half * 0.5, half * 0.5, &dot, st->ctx);
        }
      }
      text(st, x + 2 * half + kBoxGap, y, item, n, kAlignLeft);
    }
    ++k;
  }
}

// The items of a pop-up: zero-ended texts after the label's last double.
struct MenuItems {
  const char* bytes = nullptr;
  int32_t size = 0;
  // Item i (from 0) and its length; false when the record ends first.
  bool item(int32_t i, const char** t, int32_t* n) const {
    int32_t at = 0;
    for (int32_t k = 0;; ++k) {
      const void* z = at < size ? std::memchr(bytes + at, 0, size_t(size - at)) : nullptr;
      if (!z) return false;
      const int32_t end = int32_t(static_cast<const char*>(z) - bytes);
      if (k == i) {
        *t = bytes + at;
        *n = end - at;
        return true;
      }
      at = end + 1;
    }
  }
};

// 64 {current, shown, m, L, left, top, bottom, right, label, items}.
bool menu_parts(const PlotRecord& rec, int32_t* m, const char** label, int32_t* len, MenuItems* items) {
  if (rec.n < kMenuLabelBytes || !record_count(rec, kMenuItems, kMaxCount, m) ||
      !record_count(rec, kMenuLabel, kMaxTextBytes, len))
    return false;
  *label = bytes_at(rec, kMenuLabelBytes, *len);
  if (!*label) return false;
  const int32_t first = kMenuLabelBytes + (*len + 7) / 8;
  items->bytes = reinterpret_cast<const char*>(rec.data + first);
  items->size = (rec.n - first) * int32_t(sizeof(double));
  const char* t;
  int32_t n;
  return *m == 0 || items->item(*m - 1, &t, &n);
}

int32_t menu_choice(double v, int32_t m) {
  return v >= 0 && v < m ? int32_t(v) : -1;
}

void draw_open_menu(RenderState* st, const PlotRecord& rec) {
  int32_t m, len;
  const char* label;
  MenuItems items;
  if (!menu_parts(rec, &m, &label, &len, &items) || m == 0) return;
  const double* d = rec.data;
  const double h = d[kMenuBottom] - d[kMenuTop];
  const int32_t current = std::max(menu_choice(d[kMenuCurrent], m), 0);
  const int32_t shown = menu_choice(d[kMenuShown], m);
  // Items run in the frame's downward direction; the current one lies on the control.
  const bool up = st->s->frameTop > st->s->frameBottom;
  const double dir = up ? -1.0 : 1.0;
  const double start = up ? d[kMenuBottom] + current * h : d[kMenuTop] - current * h;
  const double end = start + dir * m * h;
  fill_box(st, d[kMenuLeft], d[kMenuRight], start, end, kWhiteFill);
  const StyleSpec style = record_style(rec);
  plot_driver_rect(d[kMenuLeft], d[kMenuRight], start, end, &style, st->drv, st->ctx);
  for (int32_t i = 0; i < m; ++i) {
    const char* t;
    int32_t n;
    if (!items.item(i, &t, &n)) return;
    const double y0 = start + dir * i * h, y1 = y0 + dir * h;
    if (i == shown) fill_box(st, d[kMenuLeft], d[kMenuRight], y0, y1, kHighlightFill);
    text(st, d[kMenuLeft] + kMenuMargin, (y0 + y1) * 0.5, t, n, kAlignLeft, i == shown ? kWhiteText : nullptr);
  }
}

void popup(RenderState* st, const PlotRecord& rec, double y) {
  int32_t m, len;
  const char* label;
  MenuItems items;
  if (!menu_parts(rec, &m, &label, &len, &items)) return;
  double widest = 0.0;
  for (int32_t i = 0; i < m; ++i) {
    const char* t;
    int32_t n;
    items.item(i, &t, &n);
    widest = std::fmax(widest, text_width(st, t, n));
  }
  const Row row{st};
  const double half = st->line_height * 0.5;
  const double x0 = row.b(1), x1 = x0 + widest + 2 * kMenuMargin;
  double* d = writable(st, rec);
  d[kMenuLeft] = x0, d[kMenuRight] = x1, d[kMenuTop] = y - half, d[kMenuBottom] = y + half;
  if (!st->draw || !line_visible(st, y)) return;
  text(st, row.b(0), y, label, len, kAlignLeft);
  if (menu_choice(rec.data[kMenuShown], m) >= 0) {
    st->deferred_menu = rec.at;  // drawn open over everything else
    return;
  }
  const StyleSpec style = record_style(rec);
  render_bevel_box(x0, x1, y - half, y + half, &style, false, st->s, st->drv, st->ctx);
  const char* t;
  int32_t n;
  const int32_t current = menu_choice(rec.data[kMenuCurrent], m);
  if (current >= 0 && items.item(current, &t, &n)) text(st, x0 + kMenuMargin, y, t, n, kAlignLeft);
}

// 65 {left, right, top, bottom, row, -, -, label, 0, 16-byte field}.
void text_field(RenderState* st, const PlotRecord& rec, double y) {
  if (rec.n <= kFieldTexts) return;
  const char* bytes = reinterpret_cast<const char*>(rec.data + kFieldTexts);
  const int32_t size = (rec.n - kFieldTexts) * int32_t(sizeof(double));
  const char* z = static_cast<const char*>(std::memchr(bytes, 0, size_t(size)));
  if (!z || (z - bytes) + 1 + kFieldBytes > size) return;
  const int32_t len = int32_t(z - bytes);
  const char* value = z + 1;
  const char* vz = static_cast<const char*>(std::memchr(value, 0, kFieldBytes));
  const int32_t vlen = vz ? int32_t(vz - value) : kFieldBytes;
  const Row row{st};
  const int32_t p = row_position(rec.data[kFieldRow]);
  const double half = kHalfFactor * st->line_height;
  const double x0 = row.b(p + 1), x1 = row.b(p + 2);
  double* d = writable(st, rec);
  d[kFieldLeft] = x0, d[kFieldRight] = x1, d[kFieldTop] = y - half, d[kFieldBottom] = y + half;
  if (!st->draw || !line_visible(st, y)) return;
  text(st, row.b(p), y, bytes, len, kAlignLeft);
  fill_box(st, x0, x1, y - half, y + half, kWhiteFill);
  const StyleSpec style = record_style(rec);
  plot_driver_rect(x0, x1, y - half, y + half, &style, st->drv, st->ctx);
  const double right = x1 - kTrackInset;
  const RenderRequest* q = st->q;
  if (q->edit_flag >= 0 && q->edit_record == rec.at) {
    const int32_t caret = std::clamp(q->edit_caret, 0, vlen), anchor = std::clamp(q->edit_anchor, 0, vlen);
    // x of the boundary before character i: the text is right-aligned.
    auto at = [&](int32_t i) { return right - text_width(st, value + i, vlen - i); };
    if (caret != anchor) {
      fill_box(st, at(std::min(caret, anchor)), at(std::max(caret, anchor)), y - half + 1, y + half - 1,
               kYellowFill);
    } else if (st->drv->draw_polyline) {
      const double cx[2] = {at(caret), at(caret)}, cy[2] = {y - half + 2, y + half - 2};
      st->drv->draw_polyline(cx, cy, 2, &style, st->ctx);
    }
  }
  text(st, right, y, value, vlen, kAlignRight);
}

}  // namespace

double slider_value_to_pixel(double v, double lo, double hi, bool log, double left, double right) {
  if (log && lo > 0 && hi / lo > 0 && hi != lo) return left + (right - left) * std::log(v / lo) / std::log(hi / lo);
  if (!(hi != lo)) return left;
  return left + (right - left) * (v - lo) / (hi - lo);
}

double slider_pixel_to_value(double x, double lo, double hi, bool log, double left, double right) {
  if (!(right != left) || !(hi != lo)) return lo;
  const double f = (x - left) / (right - left);
  if (log && lo > 0 && hi / lo > 0) return lo * std::pow(hi / lo, f);
  return lo + f * (hi - lo);
}

void render_control(RenderState* st, const PlotRecord& rec, double y) {
  switch (rec.code_int) {
    case kCodeSlider:
    case kCodeLogSlider:
      return slider(st, rec, y);
    case kCodePushButton:
    case kCodeCheckBoxes:
    case kCodeRadioButtons:
      return buttons(st, rec, y);
    case kCodePopupMenu:
      return popup(st, rec, y);
    case kCodeTextField:
      return text_field(st, rec, y);
    default:
      return;
  }
}

void render_deferred_menu(RenderState* st) {
  if (st->deferred_menu < 0 || !st->draw) return;
  PlotReader r;
  plotreader_init(&r, st->q->list, st->q->length, st->deferred_menu);
  PlotRecord rec;
  if (plotreader_next(&r, &rec) && rec.code_int == kCodePopupMenu) draw_open_menu(st, rec);
}
