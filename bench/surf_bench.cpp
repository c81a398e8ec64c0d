// One kernel of the surface benchmark (bench/surf.sh times whole runs of
// this program beside bench/surf_matplotlib.py): a figure whose plot handler
// calls surf on a 100 x 100 grid (19,602 triangles) under a colour map with
// one light, refreshed (the handler runs surf) and drawn into 800 x 600
// through the Qt raster driver, reps times. Everything before the first run
// is start-up, which the script measures with reps = 0 and subtracts.
// Prints the seconds of the runs alone, the refresh and the draw apart, and
// the scene's figures of the last draw: primitives drawn, splits, pairs the
// walk counted and pairs it tested one by one.
// Usage: surf_bench reps [picture.png]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QGuiApplication>

#include "bench/bench_figure.h"
#include "graphics/render/render_scene.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "tools/imagetools/image_builder.h"

namespace {

constexpr uint32_t kBytes = 64u << 20;
constexpr int kWidth = 800, kHeight = 600;

// The grid of bench/surf_matplotlib.py: 100 x 100 over -3..3, peaks and
// hollows; a 64-entry map from blue to red; one light.
const char kSource[] =
    "function [X, Y, Z] = grid()\n n = 100;\n"
    " [X, Y] = meshgrid(-3 + 6 * (0:n-1) / (n - 1));\n"
    " Z = 3 * (1 - X).^2 .* exp(-X.^2 - (Y + 1).^2) - 10 * (X / 5 - X.^3 - Y.^5) .* exp(-X.^2 - Y.^2)"
    " - exp(-(X + 1).^2 - Y.^2) / 3;\n"
    "endfunction\n"
    "function draw(X, Y, Z)\n"
    " t = (0:63)' / 63;\n colormap([t, 0.5 * ones(64, 1), 1 - t]);\n"
    " lightangle(-0.8, 0.6);\n surf(X, Y, Z);\n"
    "endfunction\n";
const char kApp[] = "instance demo\nvar X\nvar Y\nvar Z\ninit [X, Y, Z] = grid()\nfigure \"Surface\"\nplot draw(X, Y, Z)\n";

double since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: surf_bench reps [picture.png]\n");
    return 2;
  }
  const int reps = std::max(0, std::atoi(argv[1]));
  BenchFigure fig;
  if (!fig.open(kBytes, {{"demo", kSource}}, kApp, kWidth, kHeight)) return 1;
  RuntimeBlock*& block = fig.block;  // built with its init handler run: the grid is there
  if (figure_layout_subplots(&block, 0, 0, kWidth, 0, kHeight) != 0 || inst_refresh(&block, 0) != 0) return 1;
  if (figure_layout_subplots(&block, 0, 0, kWidth, 0, kHeight) != 0) return 1;
  figure_draw(block, 0);  // the first draw sets up fonts and caches: start-up
  double refresh = 0, draw = 0;
  int failures = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int k = 0; k < reps; ++k) {
    const auto a = std::chrono::steady_clock::now();
    failures += inst_refresh(&block, 0) != 0;
    refresh += since(a);
    const auto b = std::chrono::steady_clock::now();
    figure_draw(block, 0);
    draw += since(b);
  }
  const double seconds = since(t0);
  fig.close();
  if (argc > 2) fig.image.save(argv[2]);
  const SceneStats st = scene_last_stats();
  std::printf("%.9f %.9f %.9f %d %d %lld %lld %lld\n", seconds, refresh, draw, st.drawn, st.splits,
              static_cast<long long>(st.pairs), static_cast<long long>(st.tested), static_cast<long long>(st.budget));
  return failures ? 1 : 0;
}
