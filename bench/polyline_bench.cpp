// One 100,000-point sine polyline drawn into an 800 x 600 raster image three
// ways: as a subplot's display list through the interpreter and the Qt
// driver, through the driver's draw_polyline alone (truncation, band test,
// the 1-pixel rasteriser, one QPainter call), and as one
// QPainter::drawPolyline of the same truncated points. Prints milliseconds (best of the repetitions) and the
// ratio. Usage: polyline_bench [repetitions]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "bench/timing.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/render/plot_render.h"
#include "graphics/subplot/subplot.h"
#include "platform/device_geometry.h"
#include "platform/qt_driver.h"

namespace {

constexpr int kPoints = 100000;
constexpr int kWidth = 800, kHeight = 600;
constexpr double kPeriods = 4.0;

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  int reps = argc > 1 ? std::atoi(argv[1]) : 30;
  std::vector<double> x(kPoints), y(kPoints);
  for (int i = 0; i < kPoints; ++i) {
    double t = double(i) / (kPoints - 1);
    x[i] = 10 + t * (kWidth - 20);
    y[i] = kHeight / 2.0 - (kHeight / 2.0 - 20) * std::sin(2 * M_PI * kPeriods * t);
  }
  std::vector<QPoint> pts(kPoints);
  for (int i = 0; i < kPoints; ++i) pts[i] = QPoint(device_coord(x[i]), device_coord(y[i]));

  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  StyleSpec style{kStyleKindSolid | 1, 0, 0, 0};
  auto clear = [&] { image.fill(Qt::white); };

  double direct = bench::best_seconds(clear, [&] {
    QPainter p(&image);
    QPen pen(QColor(0, 0, 255));
    pen.setWidth(1);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.drawPolyline(pts.data(), kPoints);
  }, reps);
  QImage direct_image = image.copy();

  double driver = bench::best_seconds(clear, [&] {
    QPainter p(&image);
    QtDriverTarget target;
    GraphicsDriverContext ctx{};
    graphics_context_defaults(&ctx);
    qt_target_begin(&target, &p, &ctx);
    g_qt_screen_driver.draw_polyline(x.data(), y.data(), kPoints, &style, &ctx);
    qt_target_end(&target, &ctx);
  }, reps);
  // The driver leaves out each segment's end pixel in its own direction,
  // Qt the end with the larger coordinate: a few pixels differ.
  int differ = 0;
  for (int yy = 0; yy < kHeight; ++yy)
    for (int xx = 0; xx < kWidth; ++xx) differ += image.pixel(xx, yy) != direct_image.pixel(xx, yy);

  // The same sine as a display list in data coordinates: x from 0 to 1, y
  // from -1 to 1, in a subplot whose frame is the whole image.
  std::vector<double> list(kOpenObjectLength + kRecHead + 1 + 2 * kPoints);
  int32_t used = 0;
  plotlist_open_object(list.data(), int32_t(list.size()), &used, 0);
  PlotWriter w{list.data(), int32_t(list.size()), used};
  plotwriter_begin_record(&w, kCodePolyline, 0, 0, &style, 1 + 2 * kPoints);
  plotwriter_put(&w, kPoints);
  for (int i = 0; i < kPoints; ++i) plotwriter_put(&w, double(i) / (kPoints - 1));
  for (int i = 0; i < kPoints; ++i) plotwriter_put(&w, std::sin(2 * M_PI * kPeriods * double(i) / (kPoints - 1)));
  Subplot sub{};
  subplot_init_defaults(&sub);
  sub.rectLeft = sub.frameLeft = 0;
  sub.rectRight = sub.frameRight = kWidth;
  sub.rectTop = sub.frameTop = 0;
  sub.rectBottom = sub.frameBottom = kHeight;
  sub.marginLeft = sub.marginRight = sub.marginTop = sub.marginBottom = 0.0;
  sub.needsLayout = 0;
  sub.xMin = 0, sub.xMax = 1, sub.yMin = -1.1, sub.yMax = 1.1;
  sub.xMode = sub.yMode = kAxisFixed;
  subplot_compute_transform(&sub, 0, 0.0);
  double interp = bench::best_seconds(clear, [&] {
    QPainter p(&image);
    QtDriverTarget target;
    GraphicsDriverContext ctx{};
    graphics_context_defaults(&ctx);
    qt_target_begin(&target, &p, &ctx);
    int32_t start = 0;
    RenderRequest q{list.data(), w.used, nullptr, &sub, &start, nullptr, nullptr,
                    nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &g_qt_screen_driver, &ctx};
    plotlist_render(&q);
    qt_target_end(&target, &ctx);
  }, reps);
  int inked = 0;  // the interpreter must have drawn the curve, not skipped it
  for (int yy = 0; yy < kHeight; ++yy)
    for (int xx = 0; xx < kWidth; ++xx) inked += image.pixel(xx, yy) != qRgb(255, 255, 255);

  std::printf("polyline of %d points into %dx%d, best of %d\n", kPoints, kWidth, kHeight, reps);
  std::printf("  QPainter::drawPolyline  %8.3f ms\n", direct * 1e3);
  std::printf("  driver draw_polyline    %8.3f ms  (%.2fx)  %d pixels differ\n", driver * 1e3, driver / direct,
              differ);
  std::printf("  interpreter and driver  %8.3f ms  (%.2fx)  %d pixels drawn\n", interp * 1e3, interp / direct,
              inked);
  return 0;
}
