// One kernel of the figure-size benchmark (bench/figure_sizes.sh times whole
// runs of this program beside bench/figure_sizes_matplotlib.py): a figure
// whose plot handler makes its data and draws it with surf, plot3, circle,
// pcolor or markers, in a block that starts at the default MemMin and grows
// to the default MemMax as the program's does, drawn into 800 x 600 through
// the Qt raster driver. Kernel names are KIND-SIZE-STEP:
//   first   the plot handler runs (data made, records written) and the
//           figure is drawn;
//   redraw  the figure is drawn;
//   step    one move of the Drag tool (a 3-D camera orbit for surf and plot3,
//           a pan for the 2-D ones) and the redraw.
// Everything before the first kernel run is start-up, which the script
// measures with reps = 0 and subtracts. Prints the seconds of the kernel runs
// alone and the peak resident memory in kB.
// Usage: figure_sizes_bench KIND-SIZE-STEP reps [picture.png]
#include <sys/resource.h>

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

constexpr int kWidth = 800, kHeight = 600;
constexpr double kStep = 4.0;  // pixels a drag move

// The data of each kind at size n; the same in bench/figure_sizes_matplotlib.py.
std::string source_of(const std::string& kind, const std::string& n) {
  const std::string head = "function draw()\n n = " + n + ";\n";
  if (kind == "surf")
    return head + " [X, Y] = meshgrid(-3 + 6 * (0:n-1) / (n - 1));\n"
                  " Z = 3 * (1 - X).^2 .* exp(-X.^2 - (Y + 1).^2) - 10 * (X / 5 - X.^3 - Y.^5) .* exp(-X.^2 - Y.^2);\n"
                  " surf(X, Y, Z);\nendfunction\n";
  if (kind == "plot3")
    return head + " t = 20 * pi * (0:n-1) / (n - 1);\n plot3(cos(t), sin(t), t / (20 * pi));\nendfunction\n";
  if (kind == "circle")
    return head + " k = 0:n-1;\n circle(mod(k * 0.618034, 1), mod(k * 0.414214, 1), 0.01 + 0.02 * mod(k * 0.7071, 1));\n"
                  "endfunction\n";
  if (kind == "pcolor")
    return head + " t = -3 + 6 * (0:n-1) / (n - 1);\n pcolor(sin(t' * t));\nendfunction\n";
  return head + " k = 0:n-1;\n plot(mod(k * 0.618034, 1), mod(k * 0.414214, 1), 'o');\nendfunction\n";  // markers
}

double peak_kb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return double(r.ru_maxrss);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: figure_sizes_bench KIND-SIZE-STEP reps [picture.png]\n");
    return 2;
  }
  const std::string name = argv[1];
  const size_t d1 = name.find('-'), d2 = name.rfind('-');
  if (d1 == std::string::npos || d2 == d1) return 2;
  const std::string kind = name.substr(0, d1), size = name.substr(d1 + 1, d2 - d1 - 1), step = name.substr(d2 + 1);
  const int reps = std::max(0, std::atoi(argv[2]));

  BenchFigure fig;
  if (!fig.open_program({{"demo", source_of(kind, size)}}, "instance demo\nfigure \"Sizes\"\nplot draw()\n", kWidth,
                        kHeight))
    return 1;
  RuntimeBlock** handle = fig.handle;
  if (figure_layout_subplots(handle, 0, 0, kWidth, 0, kHeight) != 0 || inst_refresh(handle, 0) != 0) return 1;
  if (figure_layout_subplots(handle, 0, 0, kWidth, 0, kHeight) != 0) return 1;
  figure_draw(*handle, 0);  // the first draw sets up fonts and caches: start-up

  int failures = 0;
  const Subplot& s = inst_find_by_id(*handle, 0)->subplots[0];
  const double cx = (s.frameLeft + s.frameRight) / 2, cy = (s.frameTop + s.frameBottom) / 2;
  if (step == "step") {
    failures += interact_set_tool_mode(handle, kToolDrag) < 0;
    failures += interact_mouse_down(handle, 0, cx, cy, 0) < 0;
  }
  const auto t0 = std::chrono::steady_clock::now();
  for (int k = 0; k < reps; ++k) {
    if (step == "first") {
      failures += inst_refresh(handle, 0) != 0;
    } else if (step == "step") {
      // 20 moves right, 20 back.
      const double x = cx + kStep * ((k / 20) % 2 ? 20 - k % 20 : k % 20 + 1);
      const int st = interact_mouse_move(handle, 0, x, cy, 0, nullptr, 0, nullptr);
      failures += st != kRtHandledRedraw && st != 0;
    }
    figure_draw(*handle, 0);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (step == "step") failures += interact_mouse_up(handle, 0, 0) < 0;
  fig.close();
  if (argc > 3) fig.image.save(argv[3]);
  std::printf("%.9f %d\n", seconds, int(peak_kb()));
  return failures ? 1 : 0;
}
