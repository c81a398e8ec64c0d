// hstep: the step response of a sampled-data chain, discrete controller
// through a hold into a continuous plant.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/plotlist/style_spec.h"

// One curve: code 1, points at k T / r for the fine indices, led by (t0, 0)
// and (0, 0) when the range starts at or before 0. Scratch from the top of
// the list, counted with the record.
int timeresp_hstep(CommandList list, const double* cn, int32_t dcn, const double* cd, int32_t dcd,
                   const double* pn, int32_t dpn, const double* pd, int32_t dpd, double ts,
                   const StyleSpec& style, double id, double index, Subplot* s);
int plot_cmd_hstep(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
