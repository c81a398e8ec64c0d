// The eigenvalue-locus raster and its distance function. Rows and columns
// are counted by index and bounded by the frame's pixels, so no pixel size
// and no range can make the raster run long; the upper half-plane is
// computed and each row drawn twice, mirrored about the real axis, since
// real polynomials have conjugate roots.
#include <algorithm>
#include <cmath>

#include "graphics/render/eigen_locus.h"
#include "graphics/render/render_internal.h"

namespace {

constexpr int32_t kColourBytes = 3;
constexpr int32_t kBytesPerDouble = 8;
constexpr int32_t kMaxDegree = 4096;
constexpr int32_t kMaxLevels = 1 << 20;

// Fixed bands without levels: squared distance bounds and their colours.
struct Band {
  double bound;
  uint8_t r, g, b;
};
constexpr Band kBands[] = {{0.01, 0, 0, 0}, {0.25, 0, 0, 255}, {1.0, 102, 102, 255}, {4.0, 204, 204, 204}};
constexpr uint8_t kWhite = 255;

void pixel_colour(double d, int32_t k, const double* levels2, const uint8_t* colours, uint8_t out[3]) {
  out[0] = out[1] = out[2] = kWhite;
  if (k > 0) {
    for (int32_t i = 0; i < k; ++i)
      if (levels2[i] > d) {
        out[0] = colours[kColourBytes * i], out[1] = colours[kColourBytes * i + 1], out[2] = colours[kColourBytes * i + 2];
        return;
      }
    return;
  }
  for (const Band& b : kBands)
    if (d <= b.bound) {
      out[0] = b.r, out[1] = b.g, out[2] = b.b;
      return;
    }
}

}  // namespace

double erlocus_root_distance(const double* p, const double* W, int32_t n, double x, double y, double* scratch) {
  double* vr = scratch;
  double* vi = scratch + n;
  // v = (z^(n-1), ..., z, 1), built from the end.
  double pr = 1.0, pi = 0.0;
  for (int32_t i = n - 1; i >= 0; --i) {
    vr[i] = pr, vi[i] = pi;
    const double t = pr * x - pi * y;
    pi = pr * y + pi * x;
    pr = t;
  }
  // P = p(z) by Horner.
  double Pr = 0.0, Pi = 0.0;
  for (int32_t i = 0; i <= n; ++i) {
    const double t = Pr * x - Pi * y + p[i];
    Pi = Pr * y + Pi * x;
    Pr = t;
  }
  double a = 0, b = 0, c = 0;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) {
      const double w = W[int64_t(i) * n + j];
      a += vr[i] * w * vr[j];
      b += vr[i] * w * vi[j];
      c += vi[i] * w * vi[j];
    }
  if (y == 0) return Pr * Pr / a;
  return (Pi * Pi * a + Pr * Pr * c - 2 * Pr * Pi * b) / (a * c - b * b);
}

void curve_render_adaptive(const double* p, const double* W, int32_t n, int32_t k, const double* levels2,
                           const uint8_t* colours, double* scratch, int64_t scratch_size, const Subplot* s,
                           const GraphicsDriver* drv, GraphicsDriverContext* ctx) {
  if (!drv->draw_image_row || !scratch) return;
  double dpx = 1.0, dpy = 1.0;
  if (drv->pixel_size) drv->pixel_size(&dpx, &dpy);
  if (!(dpx > 0) || !(dpy > 0)) return;
  const double fl = std::fmin(s->frameLeft, s->frameRight), fr = std::fmax(s->frameLeft, s->frameRight);
  const double ft = std::fmin(s->frameTop, s->frameBottom), fb = std::fmax(s->frameTop, s->frameBottom);
  const double width_px = (fr - fl) / dpx, height_px = (fb - ft) / dpy;
  if (!(width_px >= 1) || !(height_px >= 1) || width_px > INT32_MAX || height_px > INT32_MAX) return;
  const int32_t cols = int32_t(width_px), max_rows = int32_t(height_px) + 1;
  double xlo, xhi, ylo, yhi;
  subplot_visible_xrange(s, &xlo, &xhi);
  subplot_visible_yrange(s, &ylo, &yhi);
  const double dx = (xhi - xlo) / width_px, dy = std::fabs((yhi - ylo) / height_px);
  if (!std::isfinite(dx) || !(dy > 0) || !std::isfinite(dy)) return;
  const int64_t row_doubles = (int64_t(kColourBytes) * cols + kBytesPerDouble - 1) / kBytesPerDouble;
  if (scratch_size < row_doubles + 2 * int64_t(n)) return;
  uint8_t* red = reinterpret_cast<uint8_t*>(scratch);
  uint8_t* green = red + cols;
  uint8_t* blue = green + cols;
  double* work = scratch + row_doubles;
  // The pixel row of y = 0, on the pixel grid.
  const double zero = 0.0;
  double x0px, y0px;
  subplot_data_to_pixel(s, &xlo, &zero, nullptr, 1, &x0px, &y0px, nullptr);
  if (!std::isfinite(y0px)) return;
  y0px = std::floor(y0px / dpy + 0.5) * dpy;
  const double abot = std::fabs(ylo), atop = std::fabs(yhi);
  const bool one_side = (ylo > 0 && yhi > 0) || (ylo < 0 && yhi < 0);
  const double y_start = one_side ? std::fmin(abot, atop) : 0.0, y_end = std::fmax(abot, atop);
  const double first = std::floor(y_start / dy);
  if (!(first < 1e15)) return;
  for (int32_t i = 0; i < max_rows; ++i) {
    const double j = first + i;  // the row's number counted from the real axis
    double y = j * dy;
    if (y > y_end + dy) break;
    if (y < dy) y = 0;  // the first row lies on the axis while below one pixel
    const double up = y0px - j * dpy, down = y0px + j * dpy;
    const bool up_in = up >= ft && up < fb, down_in = down >= ft && down < fb;
    if (!up_in && !down_in) continue;
    for (int32_t c = 0; c < cols; ++c) {
      uint8_t rgb[3];
      const double d = erlocus_root_distance(p, W, n, xlo + c * dx, y, work);
      pixel_colour(d, k, levels2, colours, rgb);
      red[c] = rgb[0], green[c] = rgb[1], blue[c] = rgb[2];
    }
    if (up_in) drv->draw_image_row(fl, up, cols, 1, 1, 1, red, green, blue, ctx);
    if (down_in) drv->draw_image_row(fl, down, cols, 1, 1, 1, red, green, blue, ctx);
  }
}

// Record 46: n, p (n + 1), W (n·n), k, the k squared levels, then the k
// colours packed as bytes. n and k must lay out within the record.
void render_eigen_locus(RenderState* st, const PlotRecord& rec) {
  int32_t n, k;
  if (!record_count(rec, 0, kMaxDegree, &n) || n < 1) return;
  const int64_t at_k = 1 + (int64_t(n) + 1) + int64_t(n) * n;
  if (at_k >= rec.n || !double_to_count(rec.data[at_k], kMaxLevels, &k)) return;
  const int64_t colour_doubles = (int64_t(kColourBytes) * k + kBytesPerDouble - 1) / kBytesPerDouble;
  if ((int64_t(n) + 1) * n + k + colour_doubles + 3 > rec.n) return;
  const double* p = rec.data + 1;
  const double* W = p + n + 1;
  const double* levels2 = rec.data + at_k + 1;
  const uint8_t* colours = reinterpret_cast<const uint8_t*>(levels2 + k);
  // A row of colour bytes and the root finder's 2n doubles.
  double dpx = 1.0, dpy = 1.0;
  if (st->drv->pixel_size) st->drv->pixel_size(&dpx, &dpy);
  const double width_px = std::fabs(st->s->frameRight - st->s->frameLeft) / dpx;
  if (!(width_px >= 1) || width_px > INT32_MAX) return;
  const int64_t size = (int64_t(kColourBytes) * int64_t(width_px) + kBytesPerDouble - 1) / kBytesPerDouble + 2 * int64_t(n);
  double* scratch = render_points(st, size);
  if (!scratch) return;
  curve_render_adaptive(p, W, n, k, levels2, colours, scratch, size, st->s, st->drv, st->ctx);
}
