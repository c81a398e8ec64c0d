// Subplot set-ups, geometry (rectangle, margins, character size) and the
// small accessors of its options, title and labels. Geometry fields survive
// subplot_init; only the layout's own set-up writes their defaults.
#include <cmath>
#include <cstring>

#include "graphics/subplot/subplot.h"

namespace {

constexpr double kDefaultFontSize = 10.0;
constexpr double kTickLength = 4.0, kMinorTickLength = 2.0;
constexpr double kDefaultCharWidth = 12.0, kDefaultLineHeight = 20.0;
constexpr double kDefaultExtent = 1000.0;
constexpr double kLayoutMargin = 0.04;
constexpr uint32_t kCapMask = 0xE7000;
constexpr uint32_t kCap3D = 0x8444, kCap2D = 0x8044;
constexpr uint32_t kShareXBits = kScaleLogX | kScaleDbX | kScaleEqualAspect;
constexpr uint32_t kShareYBits = kScaleLogY | kScaleDbY;
constexpr double kShareScaleTol = 0.001, kShareOffsetTol = 0.1;

void copy_padded(char* to, int cap, const char* text, int32_t length) {
  std::memset(to, 0, size_t(cap));
  if (!text) return;
  int32_t n = length < 0 ? int32_t(strnlen(text, size_t(cap))) : length;
  if (n > cap) n = cap;
  std::memcpy(to, text, size_t(n));
}

}  // namespace

void subplot_init(Subplot* s, uint8_t reset_options) {
  s->hasContent = 0;
  s->xMode = s->yMode = s->zMode = kAxisUnscaled;
  s->frozen = 0;
  s->scaleFixed = 0;
  s->xZoomRefSet = s->yZoomRefSet = 0;
  s->scaleKind = 0;
  s->fontSize = kDefaultFontSize;
  s->xMin = s->yMin = s->zMin = kEmptyMin;
  s->xMax = s->yMax = s->zMax = kEmptyMax;
  s->xDefMin = s->yDefMin = s->zDefMin = kEmptyMin;
  s->xDefMax = s->yDefMax = s->zDefMax = kEmptyMax;
  s->scaleFlags = 0;
  s->is3D = 0;
  subplot_reset_camera(s);
  subplot_update_transform(s);
  // The view update fills the 3-D fields; a cleared subplot's 2-D map is the
  // identity until its first transform.
  s->xOffset = s->yOffset = 0.0;
  s->xScale = s->yScale = 1.0;
  for (double& f : s->scaleFactor) f = 1.0;
  s->polar = 0;
  s->tickLength = kTickLength;
  s->minorTickLength = kMinorTickLength;
  if (reset_options) {
    s->gridFixed = 0;
    s->toolFlags = 0;
    s->optionFlags = kOptDefault;
  }
  std::memset(s->title, 0, sizeof s->title);
  std::memset(s->xLabel, 0, sizeof s->xLabel);
  std::memset(s->yLabel, 0, sizeof s->yLabel);
  std::memset(s->zLabel, 0, sizeof s->zLabel);
}

void subplot_init_defaults(Subplot* s) {
  std::memset(s, 0, sizeof *s);  // also the padding, so saved records are reproducible
  s->frameLeft = s->rectLeft = 0.0;
  s->frameRight = s->rectRight = kDefaultExtent;
  s->frameTop = s->rectTop = 0.0;
  s->frameBottom = s->rectBottom = kDefaultExtent;
  s->needsLayout = 1;
  s->charWidth = kDefaultCharWidth;
  s->lineHeight = kDefaultLineHeight;
  subplot_init(s, 1);
}

void subplot_set_char_size(Subplot* s, double width, double height) {
  s->charWidth = width;
  s->lineHeight = s->frameTop > s->frameBottom ? -std::fabs(height) : std::fabs(height);
}

void subplot_invalidate(Subplot* s) { s->needsLayout = 1; }
bool subplot_is_laid_out(const Subplot* s) { return s->needsLayout == 0; }

void subplot_set_margins(Subplot* s, double left, double right, double top, double bottom) {
  s->marginLeft = left;
  s->marginRight = right;
  s->marginTop = top;
  s->marginBottom = bottom;
  subplot_set_rect(s, s->rectLeft, s->rectRight, s->rectTop, s->rectBottom);
  s->needsLayout = 0;
}

void subplot_set_rect(Subplot* s, double left, double right, double top, double bottom) {
  s->lineHeight = top > bottom ? -std::fabs(s->lineHeight) : std::fabs(s->lineHeight);
  double fl = left, fr = right, ft = top, fb = bottom;
  if (s->optionFlags & kOptMargin) {
    fl = left + s->marginLeft * s->charWidth;
    fr = right - s->marginRight * s->charWidth;
    ft = top + s->marginTop * s->lineHeight;
    fb = bottom - s->marginBottom * s->lineHeight;
  }
  const double ol = s->frameLeft, orr = s->frameRight, ot = s->frameTop, ob = s->frameBottom;
  double kx, ky;
  if (s->scaleFlags & kScaleEqualAspect) {
    const double k = (std::fabs(fb - ft) + std::fabs(fr - fl)) / (std::fabs(ob - ot) + std::fabs(orr - ol));
    kx = (orr - ol) * (fr - fl) < 0 ? -k : k;
    ky = (ot - ob) * (ft - fb) < 0 ? -k : k;
  } else {
    kx = (fr - fl) / (orr - ol);
    ky = (fb - ft) / (ob - ot);
  }
  // An axis whose transform the computation below keeps holds its data
  // range: the data at the old frame's centre goes to the new centre. That
  // is every mode word from locked up, also a fixed or automatic axis that
  // carries the mark of a manipulation under way, which a resize may meet.
  // Without limits there is no map to hold, and a subplot of flowed text
  // keeps its scroll offset in yOffset.
  const bool has_map = s->xMax >= s->xMin;
  if (has_map && s->xMode >= kAxisLocked) s->xOffset = (fl + fr) / 2 - ((ol + orr) / 2 - s->xOffset) * kx;
  if (has_map && s->yMode >= kAxisLocked) s->yOffset = (ft + fb) / 2 - ((ot + ob) / 2 - s->yOffset) * ky;
  s->xScale *= kx;
  s->yScale *= ky;
  s->frameLeft = fl, s->frameRight = fr, s->frameTop = ft, s->frameBottom = fb;
  s->rectLeft = left, s->rectRight = right, s->rectTop = top, s->rectBottom = bottom;
  subplot_compute_transform(s, 1, kLayoutMargin);
}

void subplot_get_rect(const Subplot* s, double* left, double* right, double* top, double* bottom) {
  if (left) *left = s->rectLeft;
  if (right) *right = s->rectRight;
  if (top) *top = s->rectTop;
  if (bottom) *bottom = s->rectBottom;
}

void subplot_margin_size(const Subplot* s, double* width, double* height) {
  if (width) *width = 2 * (s->marginLeft + s->marginRight) * s->charWidth;
  if (height) *height = 2 * (s->marginTop + s->marginBottom) * std::fabs(s->lineHeight);
}

bool subplot_y_grows_down(const Subplot* s) { return s->frameTop <= s->frameBottom; }

bool subplots_share_scale(const Subplot* a, const Subplot* b, uint8_t x_only) {
  if ((a->scaleFlags ^ b->scaleFlags) & kShareXBits) return false;
  if (!(std::fabs(a->xScale / b->xScale - 1) <= kShareScaleTol)) return false;
  if (!(std::fabs((a->xOffset - a->frameLeft) - (b->xOffset - b->frameLeft)) <= kShareOffsetTol)) return false;
  if (x_only) return true;
  if ((a->scaleFlags ^ b->scaleFlags) & kShareYBits) return false;
  if (!(std::fabs(a->yScale / b->yScale - 1) <= kShareScaleTol)) return false;
  return std::fabs((a->yOffset - a->frameTop) - (b->yOffset - b->frameTop)) <= kShareOffsetTol;
}

void subplot_origin_shift(const Subplot* a, const Subplot* b, double* x, double* y) {
  if (x) *x += b->frameLeft - a->frameLeft;
  if (y) *y += b->frameTop - a->frameTop;
}

void subplot_set_scale_kind(Subplot* s, uint32_t kind, uint32_t flags) {
  s->scaleKind = kind;
  if (s->scaleFixed) {
    s->scaleFlags = (s->scaleFlags & kScaleKeptBits) | (flags & ~kScaleKeptBits);
  } else {
    s->scaleFlags = flags;
    subplot_compute_transform(s, 1, kLayoutMargin);
    s->scaleFixed = 1;
  }
}

void subplot_fix_scale_flags(Subplot* s, uint8_t b) { s->scaleFixed = b; }
void subplot_set_scale_flags(Subplot* s, uint32_t value, uint32_t mask) {
  s->scaleFlags = (s->scaleFlags & ~mask) | (value & mask);
}
uint32_t subplot_get_scale_flags(const Subplot* s, uint32_t* out) {
  if (out) *out = s->scaleFlags;
  return s->scaleFlags;
}

void subplot_set_tools(Subplot* s, uint32_t tools, uint32_t grid_bits) {
  s->toolFlags = tools;
  if (!s->gridFixed) {
    s->optionFlags = (s->optionFlags & ~kOptGridBits) | (grid_bits & kOptGridBits);
    s->gridFixed = 1;
  }
}
void subplot_fix_tools(Subplot* s) { s->gridFixed = 1; }
void subplot_set_tool_flags(Subplot* s, uint32_t value) { s->toolFlags = value; }

uint32_t subplot_get_capabilities(const Subplot* s) {
  uint32_t caps = s->toolFlags & kCapMask;
  if (s->title[0] && (s->optionFlags & kOptMargin)) caps |= kOptLabel;
  if (s->hasContent) caps |= s->is3D ? kCap3D : kCap2D;
  return caps | kOptMargin;
}

void subplot_set_option_flags(Subplot* s, uint32_t value, uint32_t mask) {
  const uint32_t old = s->optionFlags;
  s->optionFlags = (old & ~mask) | (value & mask);
  if ((old ^ s->optionFlags) & (kOptFrame | kOptMargin))
    subplot_set_rect(s, s->rectLeft, s->rectRight, s->rectTop, s->rectBottom);
}

uint32_t subplot_get_option_flags(const Subplot* s) {
  uint32_t f = s->optionFlags;
  if (!s->title[0]) f &= ~kOptLabel;
  if (!s->hasContent) f &= ~kOptFrame;
  return f;
}

void subplot_set_aspect(Subplot* s, const double* aspect3) {
  if (!aspect3) {
    s->aspectAuto = 1;
  } else {
    s->aspectAuto = 0;
    for (int i = 0; i < 3; ++i) s->aspect[i] = aspect3[i];
  }
  subplot_update_transform(s);
}

bool subplot_get_aspect(const Subplot* s, double* out3) {
  for (int i = 0; i < 3; ++i) out3[i] = s->aspect[i];
  return s->aspectAuto == 0;
}

void subplot_set_labels(Subplot* s, const char* x, int32_t xn, const char* y, int32_t yn, const char* z,
                        int32_t zn) {
  if (x) copy_padded(s->xLabel, kSubplotLabelBytes, x, xn);
  if (y) copy_padded(s->yLabel, kSubplotLabelBytes, y, yn);
  if (zn < 1)
    std::memset(s->zLabel, 0, sizeof s->zLabel);
  else if (z)
    copy_padded(s->zLabel, kSubplotLabelBytes, z, zn);
}

void subplot_set_title(Subplot* s, const char* text, int32_t length) {
  copy_padded(s->title, kSubplotTitleBytes, text, length);
}

void subplot_set_scalefactor(Subplot* s, double x, double y, double z) {
  s->scaleFactor[0] = x, s->scaleFactor[1] = y, s->scaleFactor[2] = z;
}
void subplot_get_scalefactor(const Subplot* s, double* x, double* y, double* z) {
  if (x) *x = s->scaleFactor[0];
  if (y) *y = s->scaleFactor[1];
  if (z) *z = s->scaleFactor[2];
}

void subplot_get_limits3(const Subplot* s, double* x0, double* x1, double* y0, double* y1, double* z0,
                         double* z1) {
  if (x0) *x0 = s->xMin;
  if (x1) *x1 = s->xMax;
  if (y0) *y0 = s->yMin;
  if (y1) *y1 = s->yMax;
  if (z0) *z0 = s->zMin;
  if (z1) *z1 = s->zMax;
}

void subplot_set_3d(Subplot* s, uint8_t b) { s->is3D = b; }
bool subplot_is_3d(const Subplot* s) { return s->is3D != 0; }

void subplot_get_view_flags(const Subplot* s, uint8_t* target, uint8_t* pos, uint8_t* up, uint8_t* persp) {
  if (target) *target = (s->viewFlags & kViewAutoTarget) ? 1 : 0;
  if (pos) *pos = (s->viewFlags & kViewAutoPos) ? 1 : 0;
  if (up) *up = (s->viewFlags & kViewAutoUp) ? 1 : 0;
  if (persp) *persp = s->orthographic ? 0 : 1;
}

namespace {
void set_view_flag(Subplot* s, uint32_t bit, uint8_t on) { s->viewFlags = on ? (s->viewFlags | bit) : (s->viewFlags & ~bit); }
}  // namespace
void subplot_set_auto_target(Subplot* s, uint8_t b) { set_view_flag(s, kViewAutoTarget, b); }
void subplot_set_auto_viewpoint(Subplot* s, uint8_t b) { set_view_flag(s, kViewAutoPos, b); }
void subplot_set_auto_upvector(Subplot* s, uint8_t b) { set_view_flag(s, kViewAutoUp, b); }
bool subplot_is_perspective(const Subplot* s) { return s->orthographic == 0; }
void subplot_limits_hook(Subplot*) {}
