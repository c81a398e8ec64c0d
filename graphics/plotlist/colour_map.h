// Colour map lookup: a value between 0 and 1 becomes a colour through the
// m entries of a colour map (three planes r[m], g[m], b[m] of values 0..1),
// or a grey level without one. Every byte is clamped to 0..255.
#pragma once

#include <cstdint>

// m < 1 (or null planes): grey. out receives r, g, b.
void colormap_index(const double* r, const double* g, const double* b, int32_t m, double v, uint8_t out[3]);
// A colour component 0..1 as a byte: floor(c * 255.9999) clamped, NaN 0.
uint8_t colour_unit_to_byte(double c);
