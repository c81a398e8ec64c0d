// Bodies of contour and contour3 (level curves of a grid as polyline
// records), the record writer they share, and erlocus (the record of the
// eigenvalue-locus raster). A full list keeps the records
// of the traces already written and gives kPlotOverflow.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/plotlist/style_spec.h"
#include "graphics/subplot/subplot.h"

// contour (three_d false, code 1) and contour3 (code 13, marks the subplot 3-D).
int contour_compute(EngineContext* ctx, int nargin, Subplot* s, bool three_d, CommandList list);
// Writes the header {code, -1, -1, bits, colour, end - used - 6} of the
// record whose data the caller has put at used + 6, and sets used to end.
void contour_add_segment(double* data, int32_t* used, int32_t end, int32_t code, const StyleSpec& style);
// erlocus(p, W [, levels, colours]): record 46; the roots of p widen the limits.
int erlocus_compute(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
