// Coloured cells (pcolor), each filled by the colour of its corners' mean,
// then the grid over them. On a pixel-exact target a rectilinear grid goes
// out as image rows of the cell each pixel shows, so that the work follows
// the frame's pixels, not the cells (a large grid puts ten on a pixel).
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "graphics/plotlist/colour_map.h"
#include "graphics/render/render_internal.h"

namespace {

constexpr int32_t kMaxSide = 1 << 24;
constexpr double kGreyFactor = 255.49;
constexpr int32_t kCellsHead = 3;  // flags, rows, columns
constexpr uint32_t kCellsXVector = 1, kCellsXFull = 2, kCellsYVector = 4, kCellsYFull = 8;
// A frame wider or taller than this many device pixels, or of more pixels
// than kMaxPixelArea, is drawn cell by cell: it reaches far beyond any
// raster target, and its rows would be mostly work for no visible pixel.
constexpr int64_t kMaxPixelSide = 1 << 15;
constexpr int64_t kMaxPixelArea = int64_t(1) << 26;
constexpr int32_t kNoCell = -1;

struct CellGrid {
  int32_t rows, cols;
  bool x_full, x_vec, y_full, y_vec;
  const double* X;
  const double* Y;
  const double* V;
  double x(int32_t i, int32_t j) const { return x_full ? X[int64_t(i) * cols + j] : x_vec ? X[j] : double(j + 1); }
  double y(int32_t i, int32_t j) const { return y_full ? Y[int64_t(i) * cols + j] : y_vec ? Y[i] : double(i + 1); }
};

uint8_t grey_byte(double v) {
  if (!(v > 0.0)) return 0;
  return v >= 255.0 ? 255 : uint8_t(v);
}

// The colour of cell (i, j), between grid points i, i + 1 and j, j + 1.
void cell_colour(const RenderState* st, const CellGrid& g, int32_t i, int32_t j, uint8_t c[3]) {
  const double* v = g.V + int64_t(i) * g.cols + j;
  const double mean = (v[0] + v[1] + v[g.cols + 1] + v[g.cols]) / 4;
  if (st->map_m > 0) {
    colormap_index(st->map_r, st->map_g, st->map_b, st->map_m, mean, c);
  } else {
    c[0] = c[1] = c[2] = grey_byte(std::trunc(mean * kGreyFactor));
  }
}

// A device pixel as the driver makes it: truncated toward zero, saturated.
int32_t device_pixel(double v) {
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32_t(v);
}

// The frame's clip on the device, as the driver cuts it: pixels l to r - 1
// and t to b - 1. False when the frame is not finite.
struct PixelBox {
  int64_t l, t, r, b;
};
bool frame_clip(const Subplot* s, PixelBox* box) {
  if (!render_finite(s->frameLeft, s->frameRight) || !render_finite(s->frameTop, s->frameBottom)) return false;
  box->l = std::min(device_pixel(s->frameLeft), device_pixel(s->frameRight));
  box->r = std::max(device_pixel(s->frameLeft), device_pixel(s->frameRight));
  box->t = std::min(device_pixel(s->frameTop), device_pixel(s->frameBottom));
  box->b = std::max(device_pixel(s->frameTop), device_pixel(s->frameBottom));
  return true;
}

// Whether a cell's polygon changes no pixel of a pixel-exact target: its
// corners all fall on one pixel (such a polygon fills none) or the box of
// its pixels lies wholly outside the clip. A cell with a corner that is not
// finite is left to the driver.
bool cell_draws_nothing(const PixelBox& clip, const double px[4], const double py[4]) {
  int64_t l = INT64_MAX, r = INT64_MIN, t = INT64_MAX, b = INT64_MIN;
  for (int k = 0; k < 4; ++k) {
    if (!render_finite(px[k], py[k])) return false;
    const int64_t x = device_pixel(px[k]), y = device_pixel(py[k]);
    l = std::min(l, x), r = std::max(r, x), t = std::min(t, y), b = std::max(b, y);
  }
  return (l == r && t == b) || r < clip.l || l >= clip.r || b < clip.t || t >= clip.b;
}

// Every cell through the driver's filled polygon: the way for targets that
// are not pixel-exact (pages, vector copies) and for curvilinear grids, where
// a pixel-exact target is spared the cells that would change nothing.
void draw_each_cell(RenderState* st, const CellGrid& g) {
  PixelBox clip{};
  const bool skip = st->ctx && st->ctx->pixel_exact && st->drv->clip_begin && frame_clip(st->s, &clip);
  for (int32_t i = 0; i + 1 < g.rows; ++i)
    for (int32_t j = 0; j + 1 < g.cols; ++j) {
      const double x[4] = {g.x(i, j), g.x(i, j + 1), g.x(i + 1, j + 1), g.x(i + 1, j)};
      const double y[4] = {g.y(i, j), g.y(i, j + 1), g.y(i + 1, j + 1), g.y(i + 1, j)};
      double px[4], py[4];
      subplot_data_to_pixel(st->s, x, y, nullptr, 4, px, py, nullptr);
      if (skip && cell_draws_nothing(clip, px, py)) continue;
      uint8_t c[3];
      cell_colour(st, g, i, j, c);
      const StyleSpec cell{kStyleBitFill, c[0], c[1], c[2], 0};
      st->drv->draw_polyline(px, py, 4, &cell, st->ctx);
    }
}

// The grid's pixels along one axis: n values, transformed one axis at a time
// (a 2-D transform is separable). False when a pixel is not finite or a
// value is not positive on a logarithmic axis, where the transform repeats
// the previous pixel and the cells would not be those drawn one by one.
bool axis_pixels(const Subplot* s, bool along_x, const double* v, int32_t n, double* px, int32_t* out) {
  const bool logarithmic = (s->scaleFlags & (along_x ? kScaleXLog : kScaleYLog)) != 0;
  if (logarithmic)
    for (int32_t k = 0; k < n; ++k)
      if (!(v[k] > 0)) return false;
  if (along_x)
    subplot_data_to_pixel(s, v, nullptr, nullptr, n, px, nullptr, nullptr);
  else
    subplot_data_to_pixel(s, nullptr, v, nullptr, n, nullptr, px, nullptr);
  for (int32_t k = 0; k < n; ++k) {
    if (!std::isfinite(px[k])) return false;
    out[k] = device_pixel(px[k]);
  }
  return true;
}

// next[k]: the first pixel at or after k that has no cell yet (w: none).
int32_t first_free(int32_t* next, int32_t k) {
  while (next[k] != k) {
    next[k] = next[next[k]];
    k = next[k];
  }
  return k;
}

// For each pixel lo .. lo + w - 1 of one axis, the last of the cells
// 0 .. n - 1 whose span covers it, or kNoCell. Cell c spans the pixels from
// P[c] to P[c + 1], both included; with `wide_only` only cells whose span is
// more than one pixel count. Cells are taken last first, and each pixel is
// given once, so that the cost is the cells plus the pixels however the
// spans overlap.
void last_cover(const int32_t* P, int32_t n, int64_t lo, int32_t w, bool wide_only, int32_t* out, int32_t* next) {
  for (int32_t k = 0; k < w; ++k) out[k] = kNoCell, next[k] = k;
  next[w] = w;
  for (int32_t c = n - 1; c >= 0; --c) {
    int64_t a = P[c], b = P[c + 1];
    if (a > b) std::swap(a, b);
    if (wide_only && a == b) continue;
    a = std::max<int64_t>(a - lo, 0);
    b = std::min<int64_t>(b - lo, w - 1);
    for (int32_t k = a <= b ? first_free(next, int32_t(a)) : w; k <= b; k = first_free(next, k)) {
      out[k] = c;
      next[k] = k + 1;
    }
  }
}

// Whether a full coordinate matrix is one vector repeated: every row of X
// equal to the first (along_x), or every column of Y equal to the first.
bool repeats_vector(const double* m, int32_t rows, int32_t cols, bool along_x) {
  for (int32_t i = 0; i < rows; ++i)
    for (int32_t j = 0; j < cols; ++j)
      if (!(m[int64_t(i) * cols + j] == (along_x ? m[j] : m[int64_t(i) * cols]))) return false;
  return true;
}

// The cells as image rows, for a rectilinear grid on a pixel-exact target
// (the driver context's pixel rule): a cell covers the pixels from its
// smallest to its largest truncated corner, both included, except one whose
// corners all fall on one pixel, which covers none; the last cell filled
// over a pixel shows. Cells are filled row by row, so a pixel shows the cell
// of the last grid row over it that reaches it, and in that row the last
// column; a row whose span is one pixel reaches it only through a column
// wider than one pixel. False when the grid or the target does not allow it.
bool draw_cell_pixels(RenderState* st, const CellGrid& g) {
  const GraphicsDriver* d = st->drv;
  if (!st->ctx || !st->ctx->pixel_exact || !d->draw_image_row || !d->clip_begin) return false;
  if (g.x_full && !repeats_vector(g.X, g.rows, g.cols, true)) return false;
  if (g.y_full && !repeats_vector(g.Y, g.rows, g.cols, false)) return false;
  const Subplot* s = st->s;
  PixelBox clip;
  if (!frame_clip(s, &clip)) return false;
  const int64_t l = clip.l, t = clip.t;
  if (clip.r - l > kMaxPixelSide || clip.b - t > kMaxPixelSide || (clip.r - l) * (clip.b - t) > kMaxPixelArea)
    return false;
  const int32_t W = int32_t(clip.r - l), H = int32_t(clip.b - t), R = g.rows, C = g.cols;
  if (W <= 0 || H <= 0) return true;  // nothing of the frame is visible
  // The room: the grid's values and pixels along each axis, then the covers
  // of the frame's columns and rows, the free-pixel list and a row of colours.
  const int64_t ints = int64_t(C) + R + 2 * int64_t(W) + 2 * int64_t(H) + std::max(W, H) + 1;
  double* room = render_points(st, 2 * (int64_t(C) + R) + (ints + 1) / 2 + (3 * int64_t(W) + 7) / 8);
  if (!room) return false;
  double* xv = room;
  double* yv = xv + C;
  double* pix = yv + R;  // one axis at a time
  int32_t* PX = reinterpret_cast<int32_t*>(pix + std::max(C, R));
  int32_t* PY = PX + C;
  int32_t* col_all = PY + R;
  int32_t* col_wide = col_all + W;
  int32_t* row_all = col_wide + W;
  int32_t* row_wide = row_all + H;
  int32_t* next = row_wide + H;
  uint8_t* red = reinterpret_cast<uint8_t*>(next + std::max(W, H) + 1);
  uint8_t* green = red + W;
  uint8_t* blue = green + W;
  for (int32_t j = 0; j < C; ++j) xv[j] = g.x(0, j);
  for (int32_t i = 0; i < R; ++i) yv[i] = g.y(i, 0);
  if (!axis_pixels(s, true, xv, C, pix, PX) || !axis_pixels(s, false, yv, R, pix, PY)) return false;
  last_cover(PX, C - 1, l, W, false, col_all, next);
  last_cover(PX, C - 1, l, W, true, col_wide, next);
  last_cover(PY, R - 1, t, H, false, row_all, next);
  last_cover(PY, R - 1, t, H, true, row_wide, next);
  for (int32_t y = 0; y < H;) {
    const int32_t top = row_all[y];
    if (top == kNoCell) {
      ++y;
      continue;
    }
    // A flat top row (one pixel high) shows only through wide columns;
    // elsewhere the last wide row under it shows.
    const bool flat = PY[top] == PY[top + 1];
    const int32_t under = flat ? row_wide[y] : kNoCell;
    int32_t band = 1;  // pixel rows with the same top row are alike
    while (!flat && y + band < H && row_all[y + band] == top) ++band;
    int32_t run = kNoCell, ci = kNoCell, cj = kNoCell;
    uint8_t c[3] = {0, 0, 0};
    for (int32_t x = 0; x <= W; ++x) {
      int32_t i = top, j = kNoCell;
      if (x < W) {
        j = flat ? col_wide[x] : col_all[x];
        if (j == kNoCell && under != kNoCell) i = under, j = col_all[x];
      }
      if (j == kNoCell) {
        if (run != kNoCell)
          d->draw_image_row(double(l + run), double(t + y), x - run, 1, 1, band, red + run, green + run, blue + run,
                            st->ctx);
        run = kNoCell;
        continue;
      }
      if (i != ci || j != cj) cell_colour(st, g, i, j, c), ci = i, cj = j;
      red[x] = c[0], green[x] = c[1], blue[x] = c[2];
      if (run == kNoCell) run = x;
    }
    y += band;
  }
  return true;
}

}  // namespace

void render_cells(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  if (rec.n < kCellsHead || !st->drv->draw_polyline) return;
  const double fl = rec.data[0];
  const uint32_t flags = fl >= 0 && fl < 16.0 ? uint32_t(fl) : 0;
  CellGrid g{};
  if (!record_count(rec, 1, kMaxSide, &g.rows) || !record_count(rec, 2, kMaxSide, &g.cols)) return;
  const int32_t rows = g.rows, cols = g.cols;
  const int64_t rc = int64_t(rows) * cols;
  g.x_full = flags & kCellsXFull, g.x_vec = !g.x_full && (flags & kCellsXVector);
  g.y_full = flags & kCellsYFull, g.y_vec = !g.y_full && (flags & kCellsYVector);
  const int64_t nx = g.x_full ? rc : (g.x_vec ? cols : 0), ny = g.y_full ? rc : (g.y_vec ? rows : 0);
  if (kCellsHead + nx + ny + rc > rec.n) return;  // does not add up
  g.X = rec.data + kCellsHead;
  g.Y = g.X + nx;
  g.V = g.Y + ny;
  auto gx = [&](int32_t i, int32_t j) { return g.x(i, j); };
  auto gy = [&](int32_t i, int32_t j) { return g.y(i, j); };
  auto to_pixels = [&](const double* x, const double* y, int32_t n, double* px, double* py) {
    subplot_data_to_pixel(st->s, x, y, nullptr, n, px, py, nullptr);
  };
  if (rows > 1 && cols > 1 && !draw_cell_pixels(st, g)) draw_each_cell(st, g);
  const uint32_t kind = style.bits & kStyleBitsKind;
  if (kind == kStyleKindInvisible || rows == 0 || cols == 0) return;
  const bool x_full = g.x_full, y_full = g.y_full, full = x_full || y_full;
  const double* X = g.X;
  const double* Y = g.Y;
  if (kind < kStyleKindInvisible) {
    // One line per grid row, then one per grid column.
    for (int pass = 0; pass < 2; ++pass) {
      const int32_t lines = pass == 0 ? rows : cols, along = pass == 0 ? cols : rows;
      for (int32_t a = 0; a < lines; ++a) {
        if (!full) {
          const int32_t i0 = pass == 0 ? a : 0, j0 = pass == 0 ? 0 : a;
          const int32_t i1 = pass == 0 ? a : rows - 1, j1 = pass == 0 ? cols - 1 : a;
          const double x[2] = {gx(i0, j0), gx(i1, j1)}, y[2] = {gy(i0, j0), gy(i1, j1)};
          double px[2], py[2];
          to_pixels(x, y, 2, px, py);
          st->drv->draw_polyline(px, py, 2, &style, st->ctx);
          continue;
        }
        double* x = render_points(st, int64_t(4) * along);
        if (!x) return;
        double* y = x + along;
        for (int32_t k = 0; k < along; ++k) {
          x[k] = pass == 0 ? gx(a, k) : gx(k, a);
          y[k] = pass == 0 ? gy(a, k) : gy(k, a);
        }
        to_pixels(x, y, along, x + 2 * along, y + 2 * along);
        st->drv->draw_polyline(x + 2 * along, y + 2 * along, along, &style, st->ctx);
      }
    }
    return;
  }
  if (x_full && y_full) {
    double* p = render_points(st, 2 * rc);
    if (!p) return;
    to_pixels(X, Y, int32_t(rc), p, p + rc);
    st->drv->draw_polyline(p, p + rc, int32_t(rc), &style, st->ctx);
    return;
  }
  for (int32_t i = 0; i < rows; ++i)
    for (int32_t j = 0; j < cols; ++j) {
      const double x = gx(i, j), y = gy(i, j);
      double px, py;
      to_pixels(&x, &y, 1, &px, &py);
      st->drv->draw_polyline(&px, &py, 1, &style, st->ctx);
    }
}
