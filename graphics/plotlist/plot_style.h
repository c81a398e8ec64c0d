// Plot style texts ('r-', 'bo', 'h(f80)*', 'k,r,g'): the grammar that splits a
// text into alternatives and applies one of them to a StyleSpec. Every
// failure is kUnknownStyle with the spec partly changed; callers then write
// no record.
#pragma once

#include <cstdint>

#include "graphics/plotlist/style_spec.h"

// The engine's "Unknown option", returned unchanged by the plot commands.
constexpr int kUnknownStyle = 108;

// n < 0: counts the alternatives into *count_out (when given). n >= 0:
// applies alternative n to *spec, which the caller has preset.
int plotstyle_parse(const char* text, int32_t length, int32_t n, int32_t* count_out, StyleSpec* spec);
int plotstyle_count(const char* text, int32_t length, int32_t* count_out);
// Element n (0-based, cycling over the alternatives) from the defaults;
// default_rgb is three bytes or null (black).
int plotstyle_get_nth(const char* text, int32_t length, int32_t n, uint32_t default_bits,
                      const uint8_t* default_rgb, StyleSpec* spec);
// Sets r, g, b from the palette when the colour index is not 0.
void style_palette_colour(StyleSpec* spec);
