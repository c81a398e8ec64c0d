// One mouse move in manipulate mode on a figure whose plot handler draws a
// 100,000-point curve computed from the dragged value, beside the redraw
// alone. A move is the drag handler, the refresh (the plot handler runs
// again) and the figure drawn through the Qt raster driver into an 800 x 600
// image; the redraw is the last step alone. Prints the medians in
// milliseconds. Usage: drag_bench [moves]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <QGuiApplication>

#include "graphics/interact/interaction.h"
#include "bench/bench_figure.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "runtime/runtime_status.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr uint32_t kBytes = 64u << 20;
constexpr int kWidth = 800, kHeight = 600;

const char kSource[] =
    "function p = start()\n p = 1;\nendfunction\n"
    "function draw(p)\n scale([0 1 -3 3]);\n x = (0:99999) / 99999;\n"
    " plot(x, p * sin(8 * pi * x));\n plot(0.5, p, 'o', 1);\nendfunction\n"
    "function p = dragged(y1)\n p = y1;\nendfunction\n";
const char kApp[] = "instance demo\nvar p\ninit p = start()\nfigure \"Curve\"\nplot draw(p)\ndrag 1 p = dragged(_y1)\n";

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const int moves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 41;
  BenchFigure fig;
  if (!fig.open(kBytes, {{"demo", kSource}}, kApp, kWidth, kHeight)) return 1;
  RuntimeBlock*& block = fig.block;
  if (figure_layout_subplots(&block, 0, 0, kWidth, 0, kHeight) != 0 || inst_refresh(&block, 0) != 0) return 1;
  figure_draw(block, 0);

  const Subplot& s = inst_find_by_id(block, 0)->subplots[0];
  const double x = 0.5, y = 1.0;
  double px = 0, py = 0;
  subplot_data_to_pixel(&s, &x, &y, nullptr, 1, &px, &py, nullptr);
  int failures = interact_mouse_down(&block, 0, px, py, 0) != kRtHandledRedraw;
  std::vector<double> move_ms, redraw_ms;
  for (int k = 0; k < moves; ++k) {
    const double to = py + (k % 2 ? -40.0 : 40.0);
    auto t0 = std::chrono::steady_clock::now();
    failures += interact_mouse_move(&block, 0, px, to, 0, nullptr, 0, nullptr) != kRtHandledRedraw;
    figure_draw(block, 0);
    move_ms.push_back(ms_since(t0));
    t0 = std::chrono::steady_clock::now();
    figure_draw(block, 0);
    redraw_ms.push_back(ms_since(t0));
  }
  failures += interact_mouse_up(&block, 0, 0) != kRtHandledRedraw;
  fig.close();
  std::printf("one move %.2f ms (median of %d), redraw alone %.2f ms%s\n", median(move_ms), moves,
              median(redraw_ms), failures ? " (failures!)" : "");
  return failures ? 1 : 0;
}
