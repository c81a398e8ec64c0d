// libFuzzer target: the contour tracer over small grids read from the
// input (NaN, infinities, flat regions and values at the level are all a
// byte away), plain and filled, every start of every level traced into
// outputs of exactly the room given. No input may crash, hang, or write a
// point beyond its room, and a filled trace that fits its room is closed.
#include <cstdint>
#include <vector>

#include "graphics/commands/contour_trace.h"
#include "graphics/plotlist/plot_store.h"

namespace {

double value(uint8_t b) {
  switch (b % 16) {
    case 12: return __builtin_nan("");
    case 13: return __builtin_inf();
    case 14: return -__builtin_inf();
    case 15: return 1e300;
    default: return double(b % 16) / 4.0;  // ties at the levels 0.5, 1, 2
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t rows = 2 + data[0] % 12, cols = 2 + data[1] % 12;
  const bool filled = data[2] & 1;
  const int32_t room = 1 + data[3];
  std::vector<double> z(size_t(rows) * cols);
  for (size_t i = 0; i < z.size(); ++i) z[i] = value(4 + i < size ? data[4 + i] : 0);
  const ContourGrid g{z.data(), rows, cols, -1.0, 2.0, 0.0, 3.0};
  std::vector<uint8_t> visited(z.size());
  for (double level : {0.5, 1.0, 2.0, 0.3}) {
    std::fill(visited.begin(), visited.end(), 0);
    contour_for_each_start(g, level, filled, visited.data(), [&](const ContourStart& s) {
      std::vector<double> x(static_cast<size_t>(room)), y(static_cast<size_t>(room));  // exact sizes for the sanitizers
      int32_t m = 0;
      const int status = contour_trace_level(g, level, filled, s.r, s.c, s.dir, visited.data(), x.data(), y.data(),
                                             room, &m);
      if (m > room || (status != 0 && status != kPlotOverflow)) __builtin_trap();
      // A filled trace that fits is one closed region boundary.
      if (filled && status == 0 && (m < 1 || x[0] != x[size_t(m) - 1] || y[0] != y[size_t(m) - 1])) __builtin_trap();
      return 0;
    });
  }
  return 0;
}
