// Filled contours with holes drawn through the Qt screen driver offscreen
// and judged pixel by pixel against the model of support/contour_model.h:
// a region is one polygon, its outer ring and each hole joined to it there
// and back, and those joins must not show (across the hole, or across the
// lower regions behind it). The driver's geometry (truncated coordinates,
// the outline in the fill's colour) moves a boundary by a pixel or two at
// most; a join drawn would lie many pixels from any boundary.
// The engine headers come first: Qt's keyword macros (slots) would rename
// their parameters.
#include "runtime/drawing_context.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <random>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "graphics/render/plot_render.h"
#include "graphics/subplot/subplot.h"
#include "runtime/contour_call.h"
#include "support/contour_model.h"
#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace contour_model;
using namespace qt_probe;

constexpr int kWidth = 240, kHeight = 180;
constexpr int kMaxLevels = 8;
constexpr QRgb kFigureBackground = 0xFFE5E5E5;
// Truncation moves a boundary by up to a pixel, the outline adds one on
// its right and lower side.
constexpr int kBoundaryPixels = 2;

// A field on [-2, 2] x [-1.5, 1.5] from a function of the point.
Field field(const std::string& name, int rows, int cols, const std::function<double(double, double)>& f,
            std::vector<double> levels) {
  Field out{name, rows, cols, {}, -2, 2, -1.5, 1.5, std::move(levels)};
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c)
      out.z.push_back(f(out.x1 + (out.x2 - out.x1) * c / (cols - 1), out.y1 + (out.y2 - out.y1) * r / (rows - 1)));
  return out;
}

double distance(double x, double y, double cx, double cy) { return std::hypot(x - cx, y - cy); }

struct QtContourPictures : ::testing::Test {
  FakeHost host;
  void SetUp() override { ASSERT_NO_FATAL_FAILURE(open_drawing_context(&host, 32u << 20)); }
  EngineContext* c() { return rt_engine(host.block); }

  int contour(const Field& f) { return contour_filled(&host, f, kMaxLevels); }

  Judgement judge(const Field& f) {
    EXPECT_EQ(contour(f), kOk) << f.name;
    const double* d = plotstore_data(rt_plot_store(host.block)) + host.block->h.build.start;
    std::vector<double> list(d, d + host.block->h.build.used);
    Subplot s{};
    subplot_init_defaults(&s);
    subplot_set_char_size(&s, 7.0, 13.0);
    subplot_set_margins(&s, 0, 0, 0, 0);
    subplot_set_rect(&s, 0, kWidth, 0, kHeight);
    s.xMin = f.x1, s.xMax = f.x2, s.yMin = f.y1, s.yMax = f.y2;
    s.xMode = s.yMode = kAxisFixed;
    s.optionFlags &= ~kOptFrame;
    subplot_compute_transform(&s, 0, 0.0);
    Canvas canvas(kWidth, kHeight);
    int32_t at = 0;
    RenderRequest q{list.data(), int32_t(list.size()), nullptr, &s, &at, nullptr, nullptr, nullptr, nullptr,
                    nullptr, -1, 0, 0, 0, false, &g_qt_screen_driver, &canvas.ctx, 0, 0, 0, 0.0};
    plotlist_render(&q);
    canvas.finish();
    // Each pixel's level from its colour: (0x0a, 0, level + 1); the figure's
    // background where no level is filled.
    std::vector<int> shown(size_t(kWidth) * kHeight);
    for (int row = 0; row < kHeight; ++row)
      for (int col = 0; col < kWidth; ++col) {
        const QRgb p = canvas.image.pixel(col, row);
        shown[size_t(row) * kWidth + col] =
            p == kFigureBackground ? kNone : qRed(p) == 0x0a && qGreen(p) == 0 ? qBlue(p) - 1 : -3;
      }
    double px[2], py[2];
    const double dx[2] = {f.x1, f.x2}, dy[2] = {f.y1, f.y2};
    subplot_data_to_pixel(&s, dx, dy, nullptr, 2, px, py, nullptr);
    const std::vector<int> want = model_picture(f, kWidth, kHeight, px, py);
    return judge_picture(f.name, want, shown, kWidth, kHeight);
  }
};

// Regions with holes of every shape: holes in the rectangle of an edge that
// lies wholly above the level, holes in a traced ring, rings in holes in
// rings, and several holes whose joins cross each other's holes.
TEST_F(QtContourPictures, RegionsWithHolesShowNoJoins) {
  const std::vector<Field> fields = {
      // Two discs below the level in a plane above it; -1 is the background.
      field("two discs", 41, 51,
            [](double x, double y) { return 4 * std::min(distance(x, y, -0.9, -0.4), distance(x, y, 0.9, 0.5)); },
            {-1, 3}),
      field("two discs, lower levels behind", 41, 51,
            [](double x, double y) { return 4 * std::min(distance(x, y, -0.9, -0.4), distance(x, y, 0.9, 0.5)); },
            {-1, 1, 2, 3}),
      // A trench round a disc: the plane outside holds the ring, the disc is a region of its own.
      field("ring", 61, 61, [](double x, double y) { return std::fabs(distance(x, y, 0.1, 0) - 0.9); },
            {0.1, 0.25, 0.4}),
      // Ripples: holes in regions in holes. (No ring runs within a pixel of
      // the grid's edge, where the region's outline would cover its hole.)
      field("nested rings", 81, 81, [](double x, double y) { return std::cos(5 * distance(x, y, 0.1, -0.1)); },
            {-0.6, 0, 0.6}),
      // Dips in a slope: the region's outer ring is traced, not the rectangle.
      field("dips in a slope", 51, 61,
            [](double x, double y) {
              return x + 0.5 * y - 2 * std::exp(-8 * (std::pow(x + 1, 2) + std::pow(y - 0.6, 2))) -
                     2 * std::exp(-8 * (std::pow(x - 0.3, 2) + std::pow(y + 0.7, 2))) -
                     2 * std::exp(-8 * (std::pow(x - 1.2, 2) + std::pow(y - 0.4, 2)));
            },
            {-1.5, -0.5, 0.5}),
  };
  for (const Field& f : fields) {
    const Judgement j = judge(f);
    EXPECT_LE(j.worst, kBoundaryPixels) << j.where;
    EXPECT_GT(j.judged, kWidth * kHeight / 2) << f.name;
  }
}

// Many dips scattered at random: each hole's joins pass other holes.
TEST_F(QtContourPictures, ScatteredHolesShowNoJoins) {
  std::mt19937_64 rng(90);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int round = 0; round < 6; ++round) {
    std::vector<double> cx, cy;
    const int dips = 3 + round;
    for (int k = 0; k < dips; ++k) cx.push_back(-1.7 + 3.4 * u(rng)), cy.push_back(-1.2 + 2.4 * u(rng));
    const Field f = field("scattered " + std::to_string(round), 61, 81,
                          [&](double x, double y) {
                            double z = 0.3 * x;
                            for (int k = 0; k < dips; ++k)
                              z -= std::exp(-20 * (std::pow(x - cx[size_t(k)], 2) + std::pow(y - cy[size_t(k)], 2)));
                            return z;
                          },
                          {-0.7, -0.3});
    const Judgement j = judge(f);
    EXPECT_LE(j.worst, kBoundaryPixels) << j.where;
  }
}

}  // namespace
