// contour of a 500 x 500 grid (closed and open curves) at the 7 default
// levels through the command's body, as a handler's contour(z) runs it, and
// the filled form; then both lists drawn into 800 x 600 through the Qt
// raster driver. Prints milliseconds (best of the repetitions) beside the
// figures given for Matplotlib's contour and contourf on the same grid
// (bench/contour.sh measures them when Matplotlib is installed).
// Usage: contour_bench [repetitions] [contour=seconds] [contourf=seconds]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "bench/timing.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "graphics/commands/contour_commands.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/render/plot_render.h"
#include "graphics/subplot/autoscale.h"
#include "platform/qt_driver.h"

namespace {

constexpr int kSide = 500;
constexpr int kWidth = 800, kHeight = 600;
constexpr int32_t kListDoubles = 1 << 24;

double given_seconds(int argc, char** argv, const char* name) {
  const std::string key = std::string(name) + "=";
  for (int i = 2; i < argc; ++i)
    if (std::strncmp(argv[i], key.c_str(), key.size()) == 0) return std::atof(argv[i] + key.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  constexpr uint32_t kBlock = 1u << 26;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlock / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlock, &c) != 0) return 1;
  // Peaks and hollows on a slope: rings round each, and curves that leave
  // the grid at its edges.
  std::vector<double> z(size_t(kSide) * kSide);
  for (int r = 0; r < kSide; ++r)
    for (int k = 0; k < kSide; ++k) {
      const double x = -3 + 6.0 * k / (kSide - 1), y = -3 + 6.0 * r / (kSide - 1);
      z[size_t(r) * kSide + k] = 3 * (1 - x) * (1 - x) * std::exp(-x * x - (y + 1) * (y + 1)) -
                                 10 * (x / 5 - x * x * x - std::pow(y, 5)) * std::exp(-x * x - y * y) -
                                 std::exp(-(x + 1) * (x + 1) - y * y) / 3 + 1.5 * x;
    }
  std::vector<double> list(kListDoubles);
  int32_t used = 0;
  Subplot s{};
  auto run = [&](bool filled) {
    double* p = nullptr;
    if (stk_push_matrix(c, kSide, kSide, &p, nullptr) != 0) std::abort();
    std::memcpy(p, z.data(), z.size() * sizeof(double));
    int nargin = 1;
    if (filled) {
      if (stk_push_empty(c) || stk_push_empty(c) || stk_push_cstr(c, 1, "f")) std::abort();
      nargin = 4;
    }
    used = 0;
    subplot_init_defaults(&s);
    if (contour_compute(c, nargin, &s, false, CommandList{list.data(), kListDoubles, &used}) != 0) std::abort();
  };
  struct Form {
    const char* name;
    bool filled;
    double ours, drawn, theirs;
    int32_t doubles;
  } forms[2] = {{"contour", false, 0, 0, given_seconds(argc, argv, "contour"), 0},
                {"contourf", true, 0, 0, given_seconds(argc, argv, "contourf"), 0}};
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  std::vector<double> scratch(1 << 20);
  for (Form& f : forms) {
    f.ours = bench::best_seconds([&] { run(f.filled); }, reps);
    f.doubles = used;
    Subplot sub = s;
    sub.rectLeft = sub.frameLeft = 0, sub.rectRight = sub.frameRight = kWidth;
    sub.rectTop = sub.frameTop = 0, sub.rectBottom = sub.frameBottom = kHeight;
    sub.marginLeft = sub.marginRight = sub.marginTop = sub.marginBottom = 0.0;
    sub.needsLayout = 0;
    subplot_compute_transform(&sub, 0, 0.0);
    f.drawn = bench::best_seconds([&] { image.fill(Qt::white); }, [&] {
      QPainter painter(&image);
      QtDriverTarget target;
      GraphicsDriverContext ctx{};
      graphics_context_defaults(&ctx);
      qt_target_begin(&target, &painter, &ctx);
      int32_t start = 0;
      RenderRequest q{list.data(), used, scratch.data(), int32_t(scratch.size()), &sub, &start, nullptr, nullptr,
                      nullptr, nullptr, nullptr, -1, 0, 0, 0, false, &g_qt_screen_driver, &ctx};
      plotlist_render(&q);
      qt_target_end(&target, &ctx);
    }, reps);
  }
  std::printf("contour of a %dx%d grid at the 7 default levels, best of %d\n", kSide, kSide, reps);
  for (const Form& f : forms) {
    std::printf("  %-9s built-in body %8.3f ms (%d doubles)", f.name, f.ours * 1e3, f.doubles);
    if (f.theirs > 0) std::printf("  Matplotlib %8.3f ms (%.2fx)", f.theirs * 1e3, f.ours / f.theirs);
    std::printf("\n  %-9s drawn 800x600 %8.3f ms\n", f.name, f.drawn * 1e3);
  }
  return 0;
}
