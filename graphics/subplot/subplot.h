// The axes record of one subplot: axis modes and limits, pixel geometry, the
// 2-D data-to-pixel map, the 3-D camera and view matrix, options, title and
// labels. Saved byte for byte inside instance records, so its layout is fixed.
#pragma once

#include <cstddef>
#include <bit>
#include <cstdint>

constexpr int kSubplotTitleBytes = 64;
constexpr int kSubplotLabelBytes = 16;
constexpr int kSubplotHandlerWords = 12;

struct Subplot {
  uint8_t hasContent;
  int32_t xMode, yMode, zMode;
  uint8_t frozen;
  double xMin, yMin, zMin;
  double xMax, yMax, zMax;
  int32_t trackedId, trackedIndex;
  double trackedMin, trackedMax;
  double xDefMin, xDefMax, yDefMin, yDefMax, zDefMin, zDefMax;
  double frameLeft, frameRight, frameTop, frameBottom;
  double rectLeft, rectRight, rectTop, rectBottom;
  double marginLeft, marginRight, marginTop, marginBottom;
  double xZoomMin, yZoomMin;
  double xZoomMax, yZoomMax;
  uint8_t xZoomRefSet, yZoomRefSet;
  uint8_t needsLayout;
  double charWidth;
  double lineHeight;
  double xOffset, xScale;
  double yOffset, yScale;
  uint32_t scaleFlags;
  uint8_t is3D;
  uint32_t viewFlags;
  double camPos[3];
  double camTarget[3];
  double camUp[3];
  uint8_t orthographic;
  double viewAngleFactor;
  uint8_t aspectAuto;
  double aspect[3];
  double invAspect[3];
  double viewMatrix[4][4];
  uint8_t polar;
  uint32_t scaleKind;
  double scaleFactor[3];
  double fontSize;
  double tickLength, minorTickLength;
  uint32_t toolFlags;
  uint32_t optionFlags;
  uint8_t gridFixed;
  char title[kSubplotTitleBytes];
  char xLabel[kSubplotLabelBytes], yLabel[kSubplotLabelBytes], zLabel[kSubplotLabelBytes];
  uint8_t scaleFixed;
  int32_t handlerWords[kSubplotHandlerWords];  // figure record, plot handler, ten more
};
static_assert(sizeof(Subplot) == 848);
static_assert(std::endian::native == std::endian::little, "saved byte for byte");
static_assert(offsetof(Subplot, xMode) == 4);
static_assert(offsetof(Subplot, xMin) == 24);
static_assert(offsetof(Subplot, trackedId) == 72);
static_assert(offsetof(Subplot, frameLeft) == 144);
static_assert(offsetof(Subplot, xZoomRefSet) == 272);
static_assert(offsetof(Subplot, charWidth) == 280);
static_assert(offsetof(Subplot, scaleFlags) == 328);
static_assert(offsetof(Subplot, viewFlags) == 336);
static_assert(offsetof(Subplot, camPos) == 344);
static_assert(offsetof(Subplot, orthographic) == 416);
static_assert(offsetof(Subplot, aspect) == 440);
static_assert(offsetof(Subplot, viewMatrix) == 488);
static_assert(offsetof(Subplot, polar) == 616);
static_assert(offsetof(Subplot, scaleKind) == 620);
static_assert(offsetof(Subplot, toolFlags) == 672);
static_assert(offsetof(Subplot, gridFixed) == 680);
static_assert(offsetof(Subplot, title) == 681);
static_assert(offsetof(Subplot, zLabel) == 777);
static_assert(offsetof(Subplot, scaleFixed) == 793);
static_assert(offsetof(Subplot, handlerWords) == 796);

// Axis modes; bit 64 marks all three axes at once.
enum : int32_t { kAxisUnscaled = 0, kAxisAuto = 1, kAxisFixed = 2, kAxisLocked = 3 };
// scaleFlags bits.
enum : uint32_t {
  kScaleLogX = 1,
  kScaleLogY = 2,
  kScaleDbX = 8,
  kScaleDbY = 16,
  kScaleEqualAspect = 64,
  kScaleXLog = kScaleLogX | kScaleDbX,  // x is logarithmic
  kScaleYLog = kScaleLogY | kScaleDbY,
  kScaleKeptBits = 19,                  // kept by later scale keywords
};
// viewFlags bits.
enum : uint32_t {
  kViewAutoTarget = 1,
  kViewAutoPos = 2,
  kViewAutoUp = 4,
  kViewAutoAngle = 8,
  kViewFill = 16,
  kViewAutoAll = 15,
};
// optionFlags bits used here.
enum : uint32_t {
  kOptFrame = 0x8000,
  kOptLabel = 0x10000,
  kOptMargin = 0x100000,
  kOptGridBits = 0x7000,
  kOptDefault = 0x138BBB,
};
constexpr double kEmptyMin = 1e30;
constexpr double kEmptyMax = -1e30;

// Set-ups and geometry.
void subplot_init(Subplot* s, uint8_t reset_options);
void subplot_init_defaults(Subplot* s);
void subplot_set_char_size(Subplot* s, double width, double height);
void subplot_invalidate(Subplot* s);
bool subplot_is_laid_out(const Subplot* s);
void subplot_set_margins(Subplot* s, double left, double right, double top, double bottom);
void subplot_set_rect(Subplot* s, double left, double right, double top, double bottom);
void subplot_get_rect(const Subplot* s, double* left, double* right, double* top, double* bottom);
void subplot_margin_size(const Subplot* s, double* width, double* height);
bool subplot_y_grows_down(const Subplot* s);
bool subplots_share_scale(const Subplot* a, const Subplot* b, uint8_t x_only);
void subplot_origin_shift(const Subplot* a, const Subplot* b, double* x, double* y);

// Accessors.
void subplot_set_scale_kind(Subplot* s, uint32_t kind, uint32_t flags);
void subplot_fix_scale_flags(Subplot* s, uint8_t b);
void subplot_set_scale_flags(Subplot* s, uint32_t value, uint32_t mask);
uint32_t subplot_get_scale_flags(const Subplot* s, uint32_t* out);
void subplot_set_tools(Subplot* s, uint32_t tools, uint32_t grid_bits);
void subplot_fix_tools(Subplot* s);
void subplot_set_tool_flags(Subplot* s, uint32_t value);
uint32_t subplot_get_capabilities(const Subplot* s);
void subplot_set_option_flags(Subplot* s, uint32_t value, uint32_t mask);
uint32_t subplot_get_option_flags(const Subplot* s);
void subplot_set_aspect(Subplot* s, const double* aspect3);
bool subplot_get_aspect(const Subplot* s, double* out3);
void subplot_set_labels(Subplot* s, const char* x, int32_t xn, const char* y, int32_t yn, const char* z,
                        int32_t zn);
void subplot_set_title(Subplot* s, const char* text, int32_t length);
void subplot_set_scalefactor(Subplot* s, double x, double y, double z);
void subplot_get_scalefactor(const Subplot* s, double* x, double* y, double* z);
void subplot_get_limits3(const Subplot* s, double* x0, double* x1, double* y0, double* y1, double* z0,
                         double* z1);
void subplot_set_3d(Subplot* s, uint8_t b);
bool subplot_is_3d(const Subplot* s);
void subplot_get_view_flags(const Subplot* s, uint8_t* target, uint8_t* pos, uint8_t* up, uint8_t* persp);
void subplot_set_auto_target(Subplot* s, uint8_t b);
void subplot_set_auto_viewpoint(Subplot* s, uint8_t b);
void subplot_set_auto_upvector(Subplot* s, uint8_t b);
bool subplot_is_perspective(const Subplot* s);
void subplot_limits_hook(Subplot* s);

// Transforms and conversions; every output pointer may be null.
void subplot_compute_transform(Subplot* s, uint8_t fine, double margin);
void subplot_fit_aspect(Subplot* s);
void subplot_data_to_pixel(const Subplot* s, const double* x, const double* y, const double* z, int32_t n,
                           double* px, double* py, double* depth);
void subplot_data_to_pixel_extent(const Subplot* s, const double* x, const double* y, const double* z,
                                  int32_t n, double* px, double* py);
// Points first .. first + n - 1 of a 2-D curve x[], y[] to pixels, exactly as
// one subplot_data_to_pixel call over the whole curve gives them: a value on
// a log axis that is not positive repeats the previous point's pixel, which
// `carry` (x then y) brings in from the slice before and takes out to the next.
void subplot_data_to_pixel_slice(const Subplot* s, const double* x, const double* y, int32_t first, int32_t n,
                                 double* px, double* py, double carry[2]);
void subplot_pixel_to_point(const Subplot* s, double px, double py, double* x, double* y);
void subplot_pixel_delta_to_data(const Subplot* s, double dpx, double dpy, double* dx, double* dy);
void subplot_visible_xrange(const Subplot* s, double* lo, double* hi);
void subplot_visible_yrange(const Subplot* s, double* lo, double* hi);
void subplot_line_to_pixel(const Subplot* s, double a, double b, double c, double* a2, double* b2, double* c2);
void subplot_get_visible_ranges(const Subplot* s, double* xlo, double* xhi, double* ylo, double* yhi);
double aspect_round(double value);

// The 3-D camera and view.
void subplot_reset_camera(Subplot* s);
void subplot_update_transform(Subplot* s);
void mat3_rotation_axis(const double* axis, double angle, double* out9);
void mat3_apply(const double* m9, const double* v, double* out);
