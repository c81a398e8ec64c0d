// The 3-D scene's cost against its size: a hilly surface of m x m points
// (2 (m - 1)^2 triangles), seen as surf's default view sees it, optionally
// crossed by a tilted plane of as many triangles (splits along the crossing),
// depth-sorted and drawn through empty callbacks with the work area the
// interpreter gives (as large as the scene's block). bench/scene_growth.sh
// runs it over sizes and fits the growth exponent.
// Prints: triangles added, processor seconds of scene_render, primitives
// drawn, splits, pairs tested, entries visited.
// Usage: scene_growth_bench m [crossed]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "graphics/render/scene.h"

namespace {

void no_point(void*, int32_t, int32_t, int32_t, float, float, float) {}
void no_segment(void*, int32_t, int32_t, int32_t, const float*, const float*, const float*, const int32_t*) {}
void no_facet(void*, int32_t, int32_t, int32_t, const float*, const float*, const float*, const int32_t*, bool) {}

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double hills(double x, double y) {
  return (3 * (1 - x) * (1 - x) * std::exp(-x * x - (y + 1) * (y + 1)) -
          10 * (x / 5 - x * x * x - std::pow(y, 5)) * std::exp(-x * x - y * y) -
          std::exp(-(x + 1) * (x + 1) - y * y) / 3) / 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scene_growth_bench m [crossed]\n");
    return 2;
  }
  const int m = std::max(2, std::atoi(argv[1]));
  const bool crossed = argc > 2 && std::atoi(argv[2]) != 0;
  const double az = -37.5 * M_PI / 180, el = 30 * M_PI / 180;
  const double ca = std::cos(az), sa = std::sin(az), ce = std::cos(el), se = std::sin(el);
  const int64_t quads = int64_t(m - 1) * (m - 1);
  const int64_t cap = 2 * quads * (crossed ? 4 : 2) + 1024;
  std::vector<double> block((kSceneHeaderBytes + cap * kSceneBytesPerPrim) / 8 + 1);
  Scene* s = scene_init(block.data(), int64_t(block.size()) * 8, 0);
  std::vector<float> px(size_t(m) * m), py(px.size()), pz(px.size());
  for (int surface = 0; surface < (crossed ? 2 : 1); ++surface) {
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) {
        const double x = -3 + 6.0 * j / (m - 1), y = -3 + 6.0 * i / (m - 1);
        const double z = surface ? 0.3 * x : hills(x, y);
        const double xe = ca * x - sa * y, ye = sa * x + ca * y;
        const size_t k = size_t(i) * m + j;
        px[k] = float(400 + 100 * xe), py[k] = float(300 - 80 * (ce * z - se * ye)), pz[k] = float(-(se * z + ce * ye));
      }
    for (int i = 0; i + 1 < m; ++i)
      for (int j = 0; j + 1 < m; ++j) {
        const int a = i * m + j, b = a + 1, c = a + m + 1, d = a + m;
        scene_add_triangle(s, a, surface, 0, px[a], py[a], pz[a], px[b], py[b], pz[b], px[c], py[c], pz[c], 1, 1, 3);
        scene_add_triangle(s, a, surface, 1, px[a], py[a], pz[a], px[c], py[c], pz[c], px[d], py[d], pz[d], 1, 1, 6);
      }
  }
  const int32_t added = s->count;
  std::vector<double> work(block.size());
  SceneStats st{};
  const double t0 = cpu_seconds();
  scene_render(s, no_point, no_segment, no_facet, nullptr, &st, true, work.data(), int64_t(work.size()) * 8);
  const double t = cpu_seconds() - t0;
  std::printf("%d %.6f %d %d %lld %lld\n", added, t, st.drawn, st.splits, static_cast<long long>(st.tested),
              static_cast<long long>(st.visited));
  return 0;
}
