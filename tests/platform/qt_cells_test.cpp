// pcolor figures drawn through the Qt screen driver offscreen, once as image
// rows worked out pixel by pixel (the pixel-exact target) and once cell by
// cell (the same target with the pixel rule withheld): the two pictures are
// the same bytes on random rectilinear grids (uniform, uneven, reversed and
// shuffled spacing, full coordinate matrices, log axes, cells larger and far
// smaller than a pixel, limits that clip them) and on curvilinear ones; and
// the driver calls of a large grid follow the frame's pixel rows.
// The engine headers come first: Qt's keyword macros (slots) would rename
// their parameters.
#include "runtime/drawing_context.h"
#include "runtime/figure_draw.h"

#include <memory>
#include <random>

#include <QImage>

#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

struct CallCounts {
  long polylines = 0, filled = 0, image_rows = 0;
};
CallCounts g_calls;

void counting_polyline(const double* x, const double* y, int32_t n, const StyleSpec* style,
                       GraphicsDriverContext* ctx) {
  ++g_calls.polylines;
  if (style && style->bits == kStyleBitFill) ++g_calls.filled;
  qt_draw_polyline(x, y, n, style, ctx);
}

void counting_image_row(double x, double y, int32_t n, int32_t bands, int32_t cell_width, int32_t rows_per_band,
                        const uint8_t* red, const uint8_t* green, const uint8_t* blue, GraphicsDriverContext* ctx) {
  ++g_calls.image_rows;
  qt_draw_image_row(x, y, n, bands, cell_width, rows_per_band, red, green, blue, ctx);
}

// A one-subplot figure whose plot code runs once; drawn as often as asked.
struct CellFigure {
  FakeHost host;
  // The figure at w x h; `cells` withholds the pixel rule, so that every
  // cell goes to the driver as its own polygon.
  QImage draw(int w, int h, bool cells) {
    EXPECT_EQ(figure_layout_subplots(&host.block, 0, 0, w, 0, h), 0);
    Canvas c(w, h);
    if (cells) c.ctx.pixel_exact = 0;
    GraphicsDriver driver = g_qt_screen_driver;
    driver.draw_polyline = counting_polyline;
    driver.draw_image_row = counting_image_row;
    rt_set_graphics_driver(host.block, &driver);
    rt_set_graphics_context(host.block, &c.ctx);
    g_calls = {};
    figure_draw(host.block, 0);
    c.finish();
    rt_set_graphics_driver(host.block, &kEmptyGraphicsDriver);
    return c.image.copy();
  }
};

// The drawing context of the runtime tests in a block large enough for the
// larger grids.
constexpr uint32_t kCellBlockBytes = 12u << 20;

std::unique_ptr<CellFigure> cell_figure(const std::string& code) {
  auto f = std::make_unique<CellFigure>();
  open_drawing_context(&f->host, kCellBlockBytes);
  EXPECT_EQ(drawing_run(&f->host, code), kOk) << code;
  plotstore_commit_list(f->host.block);
  return f;
}

// "" when the pictures are the same, else where they first differ.
std::string difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return "sizes differ";
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "pixel (%d, %d): %08x, cell by cell %08x", x, y, a.pixel(x, y), b.pixel(x, y));
        return buf;
      }
  return "";
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// ZVR code of one random grid of r x c points: its x and y coordinates, its
// values, a colour map or none, grid lines or none, log axes or limits.
std::string random_grid(std::mt19937& rng, int r, int c) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const bool logs = pick(5) == 0;
  // An axis of n points: uniform, uneven, reversed, shuffled (cells that
  // overlap), with repeated points (cells of no width), within one pixel
  // under the fixed limits below, or absent (1..n).
  bool narrow = false;
  auto axis = [&](const char* name, int n) {
    const std::string k = "(1:" + std::to_string(n) + ")";
    const double a = 0.1 + unit(rng), s = 0.5 + 4 * unit(rng);
    std::string v;
    switch (pick(logs ? 3 : 7)) {
      case 0: v = num(a) + " + " + num(s) + " * " + k; break;
      case 1: v = "cumsum(" + num(a) + " + mod(" + k + " * " + num(0.3 + unit(rng)) + ", 1))"; break;
      case 2: v = "fliplr(" + num(a) + " + cumsum(0.05 + mod(" + k + " * 0.618034, 1)))"; break;
      case 3: v = num(a) + " + mod(" + k + " * " + num(0.3 + unit(rng)) + ", 1) * " + num(s); break;
      case 4: v = num(a) + " + " + num(s) + " * floor(" + k + " * " + num(0.2 + 0.6 * unit(rng)) + ")"; break;
      case 5: v = "6 + 1e-6 * " + k, narrow = true; break;
      default: return std::string();
    }
    return std::string(name) + " = " + v + ";\n";
  };
  std::string x = axis("x", c), y = axis("y", r);
  if (x.empty()) x = "x = 1:" + std::to_string(c) + ";\n";
  if (y.empty()) y = "y = 1:" + std::to_string(r) + ";\n";
  std::string code = x + y;
  // The last cells of no width: the corner one covers no pixel at all.
  if (pick(3) == 0) code += "x(end) = x(end - 1);\ny(end) = y(end - 1);\n";
  const std::string R = std::to_string(r), C = std::to_string(c);
  code += "V = mod(((0:" + R + "-1)' * ones(1, " + C + ")) * " + num(unit(rng)) + " + ones(" + R + ", 1) * (0:" +
          C + "-1) * " + num(unit(rng)) + ", 1.3) - 0.1;\n";
  if (pick(4) == 0) code += "V(" + std::to_string(1 + pick(r)) + ", :) = NaN;\n";
  if (pick(2)) code += "colormap([mod((1:7)' * 0.31, 1), mod((1:7)' * 0.57, 1), mod((1:7)' * 0.83, 1)]);\n";
  const std::string style = pick(4) == 0 ? ", 'k'" : "";
  switch (pick(4)) {
    case 0: code += "pcolor(V" + style + ");\n"; break;  // the grid 1..c by 1..r
    case 1: code += "[X, Y] = meshgrid(x, y);\npcolor(X, Y, V" + style + ");\n"; break;
    case 2:  // curvilinear: drawn cell by cell either way
      code += "[X, Y] = meshgrid(x, y);\nX = X + 0.3 * sin(Y);\npcolor(X, Y, V" + style + ");\n";
      break;
    default: code += "pcolor(x, y, V" + style + ");\n"; break;
  }
  if (logs) {
    code += "scale('loglog');\n";
  } else if (narrow || pick(3) == 0) {
    // Limits inside the data: cells cut at the frame on every side.
    code += "scale([" + num(2 + 3 * unit(rng)) + " " + num(8 + 4 * unit(rng)) + " " + num(2 + 3 * unit(rng)) + " " +
            num(8 + 4 * unit(rng)) + "]);\n";
  }
  return code;
}

TEST(QtCells, PixelRowsMatchTheCellsDrawnOneByOne) {
  std::mt19937 rng(79);
  const int sides[] = {2, 3, 5, 9, 40, 150, 400};
  int as_rows = 0;
  for (int k = 0; k < 36; ++k) {
    int r = sides[rng() % 7], c = sides[rng() % 7];
    if (r * c > 30000) r = 2 + int(rng() % 60);
    // Every third grid has cells under a pixel both ways in the small
    // figure, where most cells fall on one pixel and draw nothing.
    if (k % 3 == 1) r = 100 + int(rng() % 30), c = 100 + int(rng() % 30);
    const std::string code = random_grid(rng, r, c);
    auto f = cell_figure(code);
    const int w = k % 3 == 1 ? 120 : k % 2 ? 160 : 360, h = k % 3 == 1 ? 90 : k % 2 ? 110 : 240;
    const QImage rows = f->draw(w, h, false);
    as_rows += g_calls.image_rows > 0;
    const QImage cells = f->draw(w, h, true);
    ASSERT_EQ(difference(rows, cells), "") << "grid " << k << ", " << r << " x " << c << ":\n" << code;
  }
  EXPECT_GE(as_rows, 20);  // the curvilinear grids and the rest
}

// A 200 x 200 grid in a 420 x 300 figure: no polygon per cell on the
// screen, one image row call per band of like pixel rows at most; a target
// without the pixel rule (a page, a vector copy) still gets every cell.
TEST(QtCells, DrawingCallsFollowThePixelRowsNotTheCells) {
  auto f = cell_figure("t = (1:200) / 40;\npcolor(sin(t' * t));\n");
  f->draw(420, 300, false);
  const Subplot& s = inst_find_by_id(f->host.block, 0)->subplots[0];
  EXPECT_EQ(g_calls.filled, 0);
  EXPECT_GT(g_calls.image_rows, 0);
  EXPECT_LE(g_calls.image_rows, long(std::fabs(s.frameBottom - s.frameTop)) + 1);
  f->draw(420, 300, true);
  EXPECT_EQ(g_calls.filled, 199 * 199);
  EXPECT_EQ(g_calls.image_rows, 0);

  // A curvilinear grid zoomed in: the cells wholly outside the frame cost
  // the screen no driver call.
  auto g = cell_figure(
      "[X, Y] = meshgrid(1:100);\nX = X + 0.2 * sin(Y);\npcolor(X, Y, mod(X .* Y, 1));\nscale([40 45 40 45]);\n");
  g->draw(300, 200, false);
  EXPECT_EQ(g_calls.image_rows, 0);
  EXPECT_GT(g_calls.filled, 25);
  EXPECT_LT(g_calls.filled, 100);
  g->draw(300, 200, true);
  EXPECT_EQ(g_calls.filled, 99 * 99);

  // The rule is the raster painter's: a transformed painter has none.
  QImage image(50, 50, QImage::Format_RGB32);
  QPainter painter(&image);
  GraphicsDriverContext ctx{};
  graphics_context_defaults(&ctx);
  QtDriverTarget target;
  qt_target_begin(&target, &painter, &ctx);
  EXPECT_EQ(ctx.pixel_exact, 1);
  qt_target_end(&target, &ctx);
  EXPECT_EQ(ctx.pixel_exact, 0);
  painter.scale(2, 2);
  qt_target_begin(&target, &painter, &ctx);
  EXPECT_EQ(ctx.pixel_exact, 0);
  qt_target_end(&target, &ctx);
}

}  // namespace
