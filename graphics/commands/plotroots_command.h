// plotroots: the roots of polynomials, one marker set per row.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/plotlist/style_spec.h"

// Appends {1, id, index, bits, rgb, 2d + 1, d, re[d], im[d]} of the roots of
// re (+ i im, im null for real coefficients), degree d, and widens the
// auto-scale; kPlotOverflow when the record and the finder's scratch (from
// the top of the list) do not fit.
int plotroots_compute(CommandList list, const double* re, const double* im, int32_t d,
                      const StyleSpec& style, double id, double index, Subplot* s);
int plot_cmd_plotroots(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
