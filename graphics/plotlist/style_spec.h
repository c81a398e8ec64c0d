// A parsed plot style: the style bits and an RGB colour. Saved as part of
// instance records and the block header, so its layout is fixed.
#pragma once

#include <cstddef>
#include <cstdint>

struct StyleSpec {
  uint32_t bits;
  uint8_t r, g, b;
};
static_assert(sizeof(StyleSpec) == 8);
static_assert(offsetof(StyleSpec, r) == 4);
