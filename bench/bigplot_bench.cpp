// One kernel of the large-plot benchmark (bench/bigplot.sh times whole runs
// of this program beside bench/bigplot_matplotlib.py): a figure whose plot
// handler calls plot(x, y) with the n points x = 1:n, y = sin(x / (n / 100))
// made by its init handler, in a block that starts at the default MemMin and
// grows to the default MemMax as the program's does, drawn into 800 x 600
// through the Qt raster driver (past 2 x 10^6 points, whose x and y the
// default does not hold, to a MemMax of 1 GB). Kernels KERNEL-N, each run
// reps times:
//   plot  the plot handler runs (a refresh) and the figure is drawn;
//   draw  the figure is drawn;
//   drag  one move of the Drag tool across the frame (the x limits follow
//         the pointer, 4 pixels a move, back and forth) and the redraw.
// Everything before the first kernel run is start-up, which the script
// measures with reps = 0 and subtracts. Prints the seconds of the kernel runs
// alone and the pixels the curve inked in the last picture.
// Usage: bigplot_bench plot|draw|drag-N reps [picture.png]   (N: 1e6, 1e7, ...)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QGuiApplication>

#include "bench/bench_figure.h"
#include "graphics/interact/interaction.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "runtime/runtime_status.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr int32_t kLargeMemMax = int32_t(1) << 30;
constexpr int kWidth = 800, kHeight = 600;
constexpr double kStep = 4.0;  // pixels a drag move

std::string source_of(const std::string& n) {
  return "function [x, y] = start()\n x = 1:" + n + ";\n y = sin(x / (" + n + " / 100));\nendfunction\n"
         "function draw(x, y)\n plot(x, y, 'b');\nendfunction\n";
}
const char kApp[] = "instance demo\nvar x\nvar y\ninit [x, y] = start()\nfigure \"Curve\"\nplot draw(x, y)\n";

int blue_pixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == qRgb(0, 0, 255);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: bigplot_bench plot|draw|drag-N reps [picture.png]\n");
    return 2;
  }
  const std::string name = argv[1];
  const size_t dash = name.find('-');
  if (dash == std::string::npos) return 2;
  const std::string kernel = name.substr(0, dash), n = name.substr(dash + 1);
  const int reps = std::max(0, std::atoi(argv[2]));
  // x and y of 10^7 points (160 MB) are more than the default MemMax holds:
  // such sizes run with the MemMax a user sets for them in the settings file.
  const int32_t mem_max = std::atof(n.c_str()) > 2e6 ? kLargeMemMax : kMemMaxDefault;
  BenchFigure fig;
  if (!fig.open_program({{"demo", source_of(n)}}, kApp, kWidth, kHeight, mem_max)) return 1;
  RuntimeBlock** handle = fig.handle;
  // The init handler makes the data; the plot handler draws it.
  if (figure_layout_subplots(handle, 0, 0, kWidth, 0, kHeight) != 0 || inst_refresh(handle, 0) != 0) return 1;
  figure_draw(*handle, 0);  // the first draw sets up fonts and caches: start-up

  int failures = 0;
  const Subplot& s = inst_find_by_id(*handle, 0)->subplots[0];
  const double cx = (s.frameLeft + s.frameRight) / 2, cy = (s.frameTop + s.frameBottom) / 2;
  if (kernel == "drag") {
    failures += interact_set_tool_mode(handle, kToolDrag) < 0;
    failures += interact_mouse_down(handle, 0, cx, cy, 0) != 0;
  }
  const auto t0 = std::chrono::steady_clock::now();
  for (int k = 0; k < reps; ++k) {
    if (kernel == "plot") {
      failures += inst_refresh(handle, 0) != 0;
    } else if (kernel == "drag") {
      // 20 moves right, 20 back: the view stays near the whole curve.
      const double x = cx + kStep * ((k / 20) % 2 ? 20 - k % 20 : k % 20 + 1);
      const int st = interact_mouse_move(handle, 0, x, cy, 0, nullptr, 0, nullptr);
      failures += st != kRtHandledRedraw && st != 0;
    }
    figure_draw(*handle, 0);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (kernel == "drag") failures += interact_mouse_up(handle, 0, 0) < 0;
  fig.close();
  if (argc > 3) fig.image.save(argv[3]);
  std::printf("%.9f %d\n", seconds, blue_pixels(fig.image));
  return failures ? 1 : 0;
}
