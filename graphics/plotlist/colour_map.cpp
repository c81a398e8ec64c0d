// Colour map lookup. The factor is 255.9999, not 256: a component of 1.0
// gives 255. Components outside 0..1 clamp, so no double becomes a byte
// outside its range.
#include "graphics/plotlist/colour_map.h"

#include <cmath>

namespace {
constexpr double kByteFactor = 255.9999;
constexpr uint8_t kByteMax = 255;
}  // namespace

uint8_t colour_unit_to_byte(double c) {
  const double v = std::floor(c * kByteFactor);
  if (!(v > 0.0)) return 0;
  return v >= kByteMax ? kByteMax : uint8_t(v);
}

void colormap_index(const double* r, const double* g, const double* b, int32_t m, double v, uint8_t out[3]) {
  if (m < 1 || !r || !g || !b) {
    uint8_t grey = 0;
    if (v >= 1.0)
      grey = kByteMax;
    else if (v > 0.0)
      grey = colour_unit_to_byte(v);
    out[0] = out[1] = out[2] = grey;
    return;
  }
  int32_t k = 0;
  if (v >= 1.0)
    k = m - 1;
  else if (v > 0.0)
    k = int32_t(std::floor(m * v));
  if (k > m - 1) k = m - 1;
  out[0] = colour_unit_to_byte(r[k]);
  out[1] = colour_unit_to_byte(g[k]);
  out[2] = colour_unit_to_byte(b[k]);
}
