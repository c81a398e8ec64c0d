// One kernel of the contour benchmark (bench/contour.sh times whole runs of
// this program beside bench/contour_matplotlib.py): a figure whose plot
// handler calls contour(z), or contour(z, [], [], 'f'), on a 500 x 500 grid
// of peaks and hollows on a slope (closed and open curves) at the 7 default
// levels, through the built-in as any handler does. Kernels: contour and
// contourf run the plot handler (a refresh) reps times; contour_draw and
// contourf_draw draw the figure into 800 x 600 through the Qt raster driver
// reps times. Everything before the first kernel run is start-up, which the
// script measures with reps = 0 and subtracts.
// Prints the seconds of the kernel runs alone and the list's length.
// Usage: contour_bench contour|contourf|contour_draw|contourf_draw reps [picture.png]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <QGuiApplication>

#include "bench/bench_figure.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr uint32_t kBytes = 256u << 20;
constexpr int kWidth = 800, kHeight = 600;

// The grid, as numpy builds it in contour_matplotlib.py: x along the
// columns, y along the rows, both from -3 to 3.
const char kGridSource[] =
    "function z = grid()\n n = 500;\n"
    " x = -3 + 6 * (0:n-1) / (n - 1);\n X = ones(n, 1) * x;\n Y = X';\n"
    " z = 3 * (1 - X).^2 .* exp(-X.^2 - (Y + 1).^2) - 10 * (X / 5 - X.^3 - Y.^5) .* exp(-X.^2 - Y.^2)"
    " - exp(-(X + 1).^2 - Y.^2) / 3 + 1.5 * X;\n"
    "endfunction\n";
const char kPlain[] = "function draw(z)\n contour(z);\nendfunction\n";
const char kFilled[] = "function draw(z)\n contour(z, [], [], 'f');\nendfunction\n";
const char kApp[] = "instance demo\nvar z\ninit z = grid()\nfigure \"Contour\"\nplot draw(z)\n";

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: contour_bench contour|contourf|contour_draw|contourf_draw reps\n");
    return 2;
  }
  const std::string kernel = argv[1];
  const int reps = std::max(0, std::atoi(argv[2]));
  const bool filled = kernel.rfind("contourf", 0) == 0;
  const bool draw = kernel.size() > 5 && kernel.compare(kernel.size() - 5, 5, "_draw") == 0;

  BenchFigure fig;
  const std::string source = std::string(kGridSource) + (filled ? kFilled : kPlain);
  if (!fig.open(kBytes, {{"demo", source}}, kApp, kWidth, kHeight)) return 1;
  RuntimeBlock*& block = fig.block;
  if (figure_layout_subplots(&block, 0, 0, kWidth, 0, kHeight) != 0 || inst_refresh(&block, 0) != 0) return 1;

  int failures = 0;
  if (draw) figure_draw(block, 0);  // the first draw sets up fonts and caches: start-up
  const auto t0 = std::chrono::steady_clock::now();
  for (int k = 0; k < reps; ++k) {
    if (draw) figure_draw(block, 0);
    else failures += inst_refresh(&block, 0) != 0;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (argc > 3) figure_draw(block, 0);  // a look at what was timed
  fig.close();
  if (argc > 3) fig.image.save(argv[3]);
  int32_t at = 0, doubles = 0;
  plotstore_find(rt_plot_store(block), 0, &at, &doubles);
  std::printf("%.9f %d\n", seconds, doubles);
  return failures ? 1 : 0;
}
