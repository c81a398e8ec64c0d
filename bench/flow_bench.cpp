// 500 lines of flowed text in 4 tab columns and 20 controls drawn into an
// 800 x 600 raster image through the interpreter and the Qt driver, beside
// the segments the driver actually paints drawn with QPainter::drawText
// directly; and a press on the last control (its layout pass included).
// Prints milliseconds (best of the repetitions). Usage: flow_bench [repetitions]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "bench/timing.h"
#include "graphics/interact/control_track.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/render/plot_render.h"
#include "graphics/subplot/subplot.h"
#include "platform/device_geometry.h"
#include "platform/qt_driver.h"

namespace {

constexpr int kLines = 500, kControls = 20;
constexpr int kWidth = 800, kHeight = 600;

struct Segment {
  double x, y;
  std::string text;
};
std::vector<Segment>* g_segments = nullptr;
GraphicsDriver g_capture;

// Records the texts the interpreter hands to the driver that land on the image.
void capture_text(double x, double y, const char* text, int32_t n, uint32_t align, const uint8_t* colour,
                  GraphicsDriverContext* ctx) {
  if (y > -20 && y < kHeight + 20) g_segments->push_back({x, y, std::string(text, size_t(n))});
  g_qt_screen_driver.draw_text(x, y, text, n, align, colour, ctx);
}

void put_text(PlotWriter* w, const std::string& s) {
  plotwriter_put_text(w, s.data(), int32_t(s.size()));
}

// The list: a tab-stop record, 500 text records, then sliders and buttons.
std::vector<double> build_list() {
  std::vector<double> list(1 << 20);
  int32_t used = 0;
  plotlist_open_object(list.data(), int32_t(list.size()), &used, 0);
  PlotWriter w{list.data(), int32_t(list.size()), used};
  const std::string tabs = "xxxxxxxxxxxx\txxxxxxxxxxxx\txxxxxxxxxxxx\txxxxxxxxxxxx\t";
  plotwriter_begin_record(&w, kCodeTabStops, -1, -1, nullptr, 6 + plotwriter_text_doubles(int32_t(tabs.size())));
  plotwriter_put(&w, 4);
  for (int i = 0; i < 4; ++i) plotwriter_put(&w, 0);
  plotwriter_put(&w, double(tabs.size()));
  put_text(&w, tabs);
  for (int i = 0; i < kLines; ++i) {
    const std::string t = "row " + std::to_string(i) + "\t" + std::to_string(i * 3) + "\t" +
                          std::to_string(i * 7) + "\tlast column";
    plotwriter_begin_record(&w, kCodeFlowText, -1, -1, nullptr, 1 + plotwriter_text_doubles(int32_t(t.size())));
    plotwriter_put(&w, double(t.size()));
    put_text(&w, t);
  }
  const StyleSpec style{0, 0, 0, 0};
  for (int i = 0; i < kControls; ++i) {
    const std::string label = "control " + std::to_string(i);
    const int32_t tn = plotwriter_text_doubles(int32_t(label.size()));
    if (i % 2 == 0) {
      plotwriter_begin_record(&w, 59, i + 1, 1, &style, 12 + tn);
      for (double v : {0.0, 10.0, -1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 5.0, 0.0}) plotwriter_put(&w, v);
      plotwriter_put(&w, double(label.size()));
      put_text(&w, label);
      plotwriter_put(&w, 0);  // pad to the record's count
    } else {
      const std::string items = label + "\tone\ttwo";
      plotwriter_begin_record(&w, 62, i + 1, 1, &style, 5 + plotwriter_text_doubles(int32_t(items.size())));
      for (double v : {5.0, 0.0, 0.0, 0.0}) plotwriter_put(&w, v);
      plotwriter_put(&w, double(items.size()));
      put_text(&w, items);
    }
  }
  list.resize(size_t(w.used));
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const int reps = argc > 1 ? std::atoi(argv[1]) : 30;
  std::vector<double> list = build_list();
  Subplot sub{};
  subplot_init_defaults(&sub);
  sub.rectLeft = sub.frameLeft = 0, sub.rectRight = sub.frameRight = kWidth;
  sub.rectTop = sub.frameTop = 0, sub.rectBottom = sub.frameBottom = kHeight;
  sub.needsLayout = 0;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  auto clear = [&] { image.fill(Qt::white); };
  std::vector<Segment> segments;
  g_segments = &segments;
  g_capture = g_qt_screen_driver;
  g_capture.draw_text = capture_text;
  auto render = [&](const GraphicsDriver* d, bool no_draw) {
    QPainter p(&image);
    QtDriverTarget target;
    GraphicsDriverContext ctx{};
    graphics_context_defaults(&ctx);
    qt_target_begin(&target, &p, &ctx);
    int32_t start = 0;
    RenderRequest q{list.data(), int32_t(list.size()), nullptr, &sub, &start,
                    nullptr, nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, no_draw, d, &ctx, 0, 0, 0, 0};
    plotlist_render(&q);
    qt_target_end(&target, &ctx);
  };
  sub.yMode = kAxisUnscaled, sub.yOffset = 0;
  clear();
  render(&g_capture, false);  // the visible segments, once
  const double drawn = bench::best_seconds(clear, [&] { render(&g_qt_screen_driver, false); }, reps);

  QFont font(QString::fromLatin1(kDefaultFigureFontFace));
  font.setPixelSize(int(kDefaultFigureFontSize));
  const double direct = bench::best_seconds(clear, [&] {
    QPainter p(&image);
    p.setFont(font);
    p.setPen(Qt::black);
    for (const Segment& s : segments)
      p.drawText(QPoint(device_coord(s.x), device_coord(s.y)), QString::fromUtf8(s.text.data(), int(s.text.size())));
  }, reps);

  // A press on the last control: the press lays the section out first.
  const double* last = nullptr;
  PlotReader r;
  plotreader_init(&r, list.data(), int32_t(list.size()), 0);
  PlotRecord rec;
  while (plotreader_next(&r, &rec))
    if (rec.code_int == 62) last = rec.data;
  // The first box lies after the label's column: the first tab stop, which
  // the drawing wrote into the tab-stop record.
  const double first_stop = list[kOpenObjectLength + kRecHead + 1];
  const double px = sub.frameLeft + first_stop + 2, py = last ? (last[2] + last[3]) / 2 : 0;
  bool hit = false;
  const double press = bench::best_seconds([&] {
    QPainter p(&image);
    QtDriverTarget target;
    GraphicsDriverContext ctx{};
    graphics_context_defaults(&ctx);
    qt_target_begin(&target, &p, &ctx);
    ManipState st{};
    ControlPress out;
    plotlist_hit_test_section(list.data(), int32_t(list.size()), 0, 0, &sub, px, py, kHitTolerance, 0, 1, &st,
                              &g_qt_screen_driver, &ctx, &out);
    hit = out.hit;
    qt_target_end(&target, &ctx);
  }, reps);

  std::printf("%d flowed lines in 4 columns and %d controls into %dx%d, best of %d\n", kLines, kControls, kWidth,
              kHeight, reps);
  std::printf("  interpreter and Qt driver   %8.3f ms\n", drawn * 1e3);
  std::printf("  QPainter::drawText (%4zu)    %8.3f ms  (%.2fx)\n", segments.size(), direct * 1e3, drawn / direct);
  std::printf("  press on the last control   %8.3f ms  (%s, layout pass included)\n", press * 1e3,
              hit ? "hit" : "missed");
  return 0;
}
