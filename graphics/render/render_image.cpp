// Images. An image is resampled into rows of device pixels built in the
// drawing room (nearest, linear or cubic); nearest rows that share a source
// row go out as one call.
#include <cmath>
#include <cstdint>

#include "graphics/plotlist/colour_map.h"
#include "graphics/render/render_internal.h"

namespace {

constexpr uint32_t kImageThreePlanes = 1;
constexpr uint32_t kImageWholeMultiples = 2;
constexpr uint32_t kImageModeShift = 2;
constexpr uint32_t kImageModeMask = 3;
constexpr uint32_t kModeLinear = 1;
constexpr uint32_t kModeCubic = 3;
constexpr int32_t kImageHead = 7;  // flags, rows, columns, x0, y0, width, height
constexpr int32_t kTableDoubles = 768;
constexpr int32_t kMaxSide = 1 << 24;
constexpr double kMaxPixels = 1 << 24;  // output rows or columns drawn at most

uint8_t clamp_byte(double v) {
  if (!(v > 0.0)) return 0;
  return v >= 255.0 ? 255 : uint8_t(v);
}

// Source position of output j of w over n source pixels, for the
// interpolating modes: index k and fraction t.
void interp_position(int32_t j, int32_t w, int32_t n, int32_t* k, double* t) {
  const double s = w > 1 ? double(j) * (n - 1) / (w - 1) : 0.0;
  int32_t kk = int32_t(std::floor(s));
  double tt = s - kk;
  if (kk >= n - 1) kk = n - 2, tt = 1.0;
  *k = kk;
  *t = tt;
}

void cubic_weights(double t, double w[4]) {
  w[0] = ((1 - t / 2) * t - 0.5) * t;
  w[1] = (1.5 * t - 2.5) * t * t + 1;
  w[2] = ((2 - 1.5 * t) * t + 0.5) * t;
  w[3] = (0.5 * t - 0.5) * t * t;
}

int32_t clamp_index(int32_t i, int32_t n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); }

struct ImageSource {
  const uint8_t* plane[3];
  int32_t planes, rows, cols;
  uint8_t at(int p, int32_t r, int32_t c) const { return plane[p][int64_t(r) * cols + c]; }
};

// One interpolated output row (source row position k, t) into out[p][0..w).
void interpolated_row(const ImageSource& src, uint32_t mode, int32_t k, double t, int32_t j0, int32_t w_total,
                      int32_t count, uint8_t* out[3]) {
  double wr[4] = {1 - t, t, 0, 0};
  int32_t rows_at[4] = {k, k + 1, k + 1, k + 1};
  int taps = 2;
  if (mode == kModeCubic) {
    cubic_weights(t, wr);
    for (int i = 0; i < 4; ++i) rows_at[i] = clamp_index(k - 1 + i, src.rows);
    taps = 4;
  }
  for (int32_t j = 0; j < count; ++j) {
    int32_t kc;
    double tc;
    interp_position(j0 + j, w_total, src.cols, &kc, &tc);
    double wc[4] = {1 - tc, tc, 0, 0};
    int32_t cols_at[4] = {kc, kc + 1, kc + 1, kc + 1};
    if (mode == kModeCubic) {
      cubic_weights(tc, wc);
      for (int i = 0; i < 4; ++i) cols_at[i] = clamp_index(kc - 1 + i, src.cols);
    }
    for (int p = 0; p < src.planes; ++p) {
      double v = 0;
      for (int a = 0; a < taps; ++a)
        for (int b = 0; b < taps; ++b) v += wr[a] * wc[b] * src.at(p, rows_at[a], cols_at[b]);
      out[p][j] = clamp_byte(std::floor(v + 0.5));
    }
  }
}

struct ImageGeometry {
  double left, top;   // device position of output pixel (0, 0)
  double dpx, dpy;    // device pixel size
  int32_t w, h;       // output size
  int32_t j0, j1;     // drawn columns
};

bool image_geometry(const RenderState* st, const double* head, int32_t rows, int32_t cols, uint32_t flags,
                    ImageGeometry* g) {
  const Subplot* s = st->s;
  double px, py, ex, ey;
  subplot_data_to_pixel(s, &head[3], &head[4], nullptr, 1, &px, &py, nullptr);
  subplot_data_to_pixel_extent(s, &head[5], &head[6], nullptr, 1, &ex, &ey);
  double l = std::fmin(px, px + ex), r = std::fmax(px, px + ex);
  double t = std::fmin(py, py + ey), b = std::fmax(py, py + ey);
  if (!render_finite(l, r) || !render_finite(t, b)) return false;
  const double fl = std::fmin(s->frameLeft, s->frameRight), fr = std::fmax(s->frameLeft, s->frameRight);
  const double ft = std::fmin(s->frameTop, s->frameBottom), fb = std::fmax(s->frameTop, s->frameBottom);
  if (r <= fl || l >= fr || b <= ft || t >= fb) return false;
  g->dpx = 1.0, g->dpy = 1.0;
  if (st->drv->pixel_size) st->drv->pixel_size(&g->dpx, &g->dpy);
  if (!(g->dpx > 0) || !(g->dpy > 0)) return false;
  const double wd = (r - l) / g->dpx, hd = (b - t) / g->dpy;
  if (!(wd >= 1) || !(hd >= 1) || wd > kMaxPixels * 64 || hd > kMaxPixels * 64) return false;
  int64_t w = int64_t(wd), h = int64_t(hd);
  if ((flags & kImageWholeMultiples) && w > cols) {
    const int64_t cut = w / cols * cols;
    l += double((w - cut) / 2) * g->dpx;
    w = cut;
  }
  if ((flags & kImageWholeMultiples) && h > rows) {
    const int64_t cut = h / rows * rows;
    t += double((h - cut) / 2) * g->dpy;
    h = cut;
  }
  int64_t j0 = l < fl ? int64_t(std::ceil((fl - l) / g->dpx)) : 0;
  int64_t j1 = int64_t(std::floor((fr - l) / g->dpx));
  if (j1 > w) j1 = w;
  if (j0 >= j1 || j1 - j0 > kMaxPixels) return false;
  g->left = l, g->top = t, g->w = int32_t(std::min<int64_t>(w, INT32_MAX)), g->h = int32_t(std::min<int64_t>(h, INT32_MAX));
  g->j0 = int32_t(j0), g->j1 = int32_t(j1);
  return true;
}

}  // namespace

void render_image(RenderState* st, const PlotRecord& rec) {
  if (rec.n < kImageHead || !st->drv->draw_image_row) return;
  const double fl = rec.data[0];
  const uint32_t flags = fl >= 0 && fl < 16.0 ? uint32_t(fl) : 0;
  int32_t rows, cols;
  if (!record_count(rec, 1, kMaxSide, &rows) || !record_count(rec, 2, kMaxSide, &cols) || rows == 0 || cols == 0)
    return;
  ImageSource src{};
  src.planes = (flags & kImageThreePlanes) ? 3 : 1;
  src.rows = rows, src.cols = cols;
  const int64_t plane_bytes = int64_t(rows) * cols;
  if (plane_bytes * src.planes > int64_t(rec.n - kImageHead) * 8) return;  // the bytes must lie in the record
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(rec.data + kImageHead);
  for (int p = 0; p < src.planes; ++p) src.plane[p] = bytes + p * plane_bytes;
  ImageGeometry g;
  if (!image_geometry(st, rec.data, rows, cols, flags, &g)) return;
  const int32_t count = g.j1 - g.j0;
  // Three planes of a row, then (one plane through the colour map) a
  // 256-entry table.
  const bool mapped = src.planes == 1 && st->map_m > 0;
  uint8_t* sb = reinterpret_cast<uint8_t*>(render_points(st, (int64_t(3) * count + 7) / 8 + (mapped ? kTableDoubles : 0)));
  if (!sb) return;
  uint8_t* row[3];
  for (int p = 0; p < 3; ++p) row[p] = sb + int64_t(p) * count;
  uint8_t* table = nullptr;
  if (mapped) {
    table = sb + int64_t(3) * count;
    for (int v = 0; v < 256; ++v) colormap_index(st->map_r, st->map_g, st->map_b, st->map_m, v / 255.0, table + 3 * v);
  }
  uint32_t mode = (flags >> kImageModeShift) & kImageModeMask;
  if (mode != kModeLinear && mode != kModeCubic) mode = 0;
  if (rows < 2 || cols < 2) mode = 0;  // a single row or column has nothing to blend
  const Subplot* s = st->s;
  const double ft = std::fmin(s->frameTop, s->frameBottom), fb = std::fmax(s->frameTop, s->frameBottom);
  const double x = g.left + g.j0 * g.dpx;
  const uint8_t* green = nullptr;
  const uint8_t* blue = nullptr;
  auto finish_row = [&](void) {
    if (src.planes == 3) {
      green = row[1], blue = row[2];
    } else if (table) {
      for (int32_t j = count - 1; j >= 0; --j) {
        const uint8_t* c = table + 3 * row[0][j];
        row[2][j] = c[2], row[1][j] = c[1], row[0][j] = c[0];
      }
      green = row[1], blue = row[2];
    } else {
      green = blue = nullptr;  // grey
    }
  };
  int32_t i = 0;
  // Rows above the frame are skipped without work.
  if (g.top < ft) i = int32_t(std::min<double>(g.h, std::ceil((ft - g.top) / g.dpy)));
  while (i < g.h) {
    const double y = g.top + i * g.dpy;
    if (y >= fb) break;
    if (mode == 0) {
      const int32_t sr = int32_t(int64_t(i) * rows / g.h);
      int32_t run = 1;
      while (i + run < g.h && int32_t(int64_t(i + run) * rows / g.h) == sr && g.top + (i + run) * g.dpy < fb) ++run;
      for (int32_t j = 0; j < count; ++j) {
        const int32_t sc = int32_t(int64_t(g.j0 + j) * cols / g.w);
        for (int p = 0; p < src.planes; ++p) row[p][j] = src.at(p, sr, sc);
      }
      finish_row();
      st->drv->draw_image_row(x, y, count, 1, 1, run, row[0], green, blue, st->ctx);
      i += run;
      continue;
    }
    int32_t k;
    double t;
    interp_position(i, g.h, rows, &k, &t);
    interpolated_row(src, mode, k, t, g.j0, g.w, count, row);
    finish_row();
    st->drv->draw_image_row(x, y, count, 1, 1, 1, row[0], green, blue, st->ctx);
    ++i;
  }
}
