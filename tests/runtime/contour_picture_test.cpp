// Filled contours judged by their picture, not by their records: contour
// runs as from ZVR code, the interpreter draws the list through a driver
// that rasterises every filled polygon at pixel centres (odd-even, the last
// fill over a pixel shows), and each pixel must show the level whose band
// holds the field there (the model of support/contour_model.h). Pixels may
// disagree only within a pixel of a band's boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "graphics/render/plot_render.h"
#include "graphics/subplot/subplot.h"
#include "runtime/drawing_context.h"
#include "runtime/contour_call.h"
#include "support/contour_model.h"

namespace {

using namespace contour_model;

// The picture's size in pixels: more for large grids, fewer for small
// ones, whose cells still span several pixels each.
int width = 0, height = 0;

constexpr int kMaxLevels = 12;

// The picture: each pixel's level, from the colour of the last filled
// polygon over its centre.
struct Raster {
  std::vector<int> level = std::vector<int>(size_t(width) * height, kNone);
  GraphicsDriverContext context{};
  GraphicsDriver table{};

  static void polyline(const double* x, const double* y, int32_t n, const StyleSpec* s, GraphicsDriverContext* c) {
    if (!(s->bits & kStyleBitFill) || n < 3) return;
    Raster* r = static_cast<Raster*>(c->device);
    const int id = s->r == 0x0a && s->g == 0 ? int(s->b) - 1 : -3;  // the level of the style string
    std::vector<std::vector<double>> rows(height);
    for (int32_t i = 0; i < n; ++i) {
      const int32_t j = i + 1 == n ? 0 : i + 1;
      const double y0 = y[i], y1 = y[j];
      if (y0 == y1) continue;
      const double lo = std::min(y0, y1), hi = std::max(y0, y1);
      // Rows whose centre lies in [lo, hi).
      const int first = std::max(0, int(std::ceil(lo - 0.5)));
      const int last = std::min(height - 1, int(std::ceil(hi - 0.5)) - 1);
      for (int row = first; row <= last; ++row) {
        const double yc = row + 0.5;
        rows[size_t(row)].push_back(x[i] + (yc - y0) * (x[j] - x[i]) / (y1 - y0));
      }
    }
    for (int row = 0; row < height; ++row) {
      std::vector<double>& xs = rows[size_t(row)];
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2) {
        const int a = std::max(0, int(std::ceil(xs[k] - 0.5)));
        const int b = std::min(width - 1, int(std::ceil(xs[k + 1] - 0.5)) - 1);
        for (int col = a; col <= b; ++col) r->level[size_t(row) * width + col] = id;
      }
    }
  }

  Raster() {
    graphics_context_defaults(&context);
    context.device = this;
    table.draw_polyline = polyline;
  }
};

Subplot picture_subplot(const Field& f) {
  Subplot s{};
  subplot_init_defaults(&s);
  subplot_set_char_size(&s, 7.0, 13.0);
  subplot_set_margins(&s, 0, 0, 0, 0);
  subplot_set_rect(&s, 0, width, 0, height);
  s.xMin = std::min(f.x1, f.x2), s.xMax = std::max(f.x1, f.x2);
  s.yMin = std::min(f.y1, f.y2), s.yMax = std::max(f.y1, f.y2);
  s.xMode = s.yMode = kAxisFixed;
  s.optionFlags &= ~kOptFrame;
  subplot_compute_transform(&s, 0, 0.0);
  return s;
}

struct ContourPictures : ::testing::Test {
  FakeHost host;
  int fields = 0;
  int worst = 0;
  int64_t judged = 0, wrong = 0;
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(open_drawing_context(&host, 96u << 20)); }
  EngineContext* c() { return rt_engine(host.block); }

  int contour(const Field& f) { return contour_filled(&host, f, kMaxLevels); }

  Judgement judge(const Field& f) {
    width = int64_t(f.rows) * f.cols > 400 ? 160 : 64;
    height = width * 3 / 4;
    EXPECT_EQ(contour(f), kOk) << f.name;
    const double* d = plotstore_data(rt_plot_store(host.block)) + host.block->h.build.start;
    std::vector<double> list(d, d + host.block->h.build.used);
    Subplot s = picture_subplot(f);
    Raster raster;
    int32_t at = 0;
    RenderRequest q{list.data(), int32_t(list.size()), nullptr, &s, &at, nullptr, nullptr, nullptr, nullptr,
                    nullptr, -1, 0, 0, 0, false, &raster.table, &raster.context, 0, 0, 0, 0.0};
    plotlist_render(&q);
    // The data point of each pixel centre, from the subplot's own mapping.
    double px[2], py[2];
    const double dx[2] = {f.x1, f.x2}, dy[2] = {f.y1, f.y2};
    subplot_data_to_pixel(&s, dx, dy, nullptr, 2, px, py, nullptr);
    const Judgement j = judge_picture(f.name, model_picture(f, width, height, px, py), raster.level, width, height);
    ++fields;
    worst = std::max(worst, j.worst);
    judged += j.judged, wrong += j.wrong;
    return j;
  }
};

// The bowl of the report: levels through 4, the value at the middles of the
// grid's sides, cut a wedge of the outer colour across the inner rings.
Field bowl(double step, int count) {
  Field f;
  const int n = int(std::lround(4 / step)) + 1;
  f.name = "bowl step " + std::to_string(step) + " levels " + std::to_string(count);
  f.rows = f.cols = n;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      const double x = -2 + c * step, y = -2 + r * step;
      f.z.push_back(x * x + y * y);
    }
  f.x1 = f.y1 = 1, f.x2 = f.y2 = n;
  f.given = {double(count)};
  return f;
}

TEST_F(ContourPictures, TheBowlOfRingsHasNoWedge) {
  for (double step : {0.2, 0.1})
    for (int count = 1; count <= kMaxLevels; ++count) {
      const Judgement j = judge(bowl(step, count));
      EXPECT_LE(j.worst, 1) << j.where;
      EXPECT_GT(j.judged, width * height / 2);
    }
}

// Random fields of every kind the bands must survive.
Field random_field(std::mt19937_64& rng, int round) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Field f;
  const int kind = round % 6;
  // A few large grids, many small ones.
  const int big_rows[] = {500, 300, 120, 60}, big_cols[] = {500, 121, 301, 501};
  if (round < 4) {
    f.rows = big_rows[round], f.cols = big_cols[round];
  } else {
    f.rows = 2 + int(rng() % 11), f.cols = 2 + int(rng() % 11);
  }
  const int R = f.rows, C = f.cols;
  f.z.resize(size_t(R) * C);
  const double a = 1 + 5 * u(rng), b = 1 + 5 * u(rng), p = 6 * u(rng);
  for (int r = 0; r < R; ++r)
    for (int c = 0; c < C; ++c) {
      const double x = double(c) / (C - 1), y = double(r) / (R - 1);
      double v = std::sin(a * x + p) * std::cos(b * y - p) + 0.5 * x * y;  // smooth
      switch (round < 4 ? 0 : kind) {
        case 1: v = u(rng) - 0.5; break;                              // noise: saddles everywhere
        case 2: v = (x - 0.5) * (y - 0.5) * 4; break;                 // one saddle at a grid point or between
        case 3: v = std::round(v * 3) / 3; break;                     // plateaus at level values
        case 4: v = double(rng() % 4); break;                         // values on levels, plateaus, ties
        case 5: if (u(rng) < 0.2) v = NAN; break;                     // holes
        default: break;
      }
      f.z[size_t(r) * C + c] = v;
    }
  if (kind == 5 && round >= 4 && R * C > 4) f.z[size_t(rng() % (size_t(R) * C))] = NAN;
  f.x1 = u(rng) * 4 - 2, f.x2 = f.x1 + 0.5 + 3 * u(rng);
  f.y1 = u(rng) * 4 - 2, f.y2 = f.y1 + 0.5 + 3 * u(rng);
  if (rng() % 4 == 0) std::swap(f.y1, f.y2);  // a grid upside down
  const int count = 1 + (round / 6) % kMaxLevels;
  double zmin = INFINITY, zmax = -INFINITY;
  for (double v : f.z)
    if (std::isfinite(v)) zmin = std::min(zmin, v), zmax = std::max(zmax, v);
  if (!(zmin <= zmax)) zmin = 0, zmax = 1;
  switch (rng() % 4) {
    case 0: f.given = {double(count)}; break;  // counted between the extremes
    case 1:                                     // values the grid holds
      for (int i = 0; i < count; ++i) f.given.push_back(f.z[rng() % f.z.size()]);
      for (double& v : f.given)
        if (!std::isfinite(v)) v = zmin;
      break;
    case 2:  // some outside the data, the rest between
      for (int i = 0; i < count; ++i) f.given.push_back(zmin - 0.5 + (zmax - zmin + 1) * u(rng));
      break;
    default:  // thirds, on the plateaus of the rounded fields
      for (int i = 0; i < count; ++i) f.given.push_back(std::round((zmin + (zmax - zmin) * u(rng)) * 3) / 3);
      break;
  }
  if (f.given.size() == 1 && rng() % 2) f.given = {f.given[0], f.given[0]};  // one level, not a count
  if (f.given.size() > 1) std::sort(f.given.begin(), f.given.end());
  f.name = "round " + std::to_string(round) + " kind " + std::to_string(kind) + " " + std::to_string(R) + "x" +
           std::to_string(C) + " levels " + std::to_string(f.given.size());
  return f;
}

TEST_F(ContourPictures, RandomFieldsShowTheirBands) {
  std::mt19937_64 rng(83);
  for (int round = 0; round < 400; ++round) {
    const Field f = random_field(rng, round);
    const Judgement j = judge(f);
    EXPECT_LE(j.worst, 1) << j.where;
  }
  std::printf("%d fields: %lld of %lld pixels off their band, none farther than %d from one of the band shown\n",
              fields, static_cast<long long>(wrong), static_cast<long long>(judged), worst);
}

}  // namespace
