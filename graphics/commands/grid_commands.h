// The chart commands zgrid, sgrid, hgrid and ngrid.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/plotlist/style_spec.h"

// chart: 47..50; first_code and second_code: the records of the first and
// last value arguments (-1 where the command takes none). chart_style: the
// instance's chart style, null for grey 204 with bits 256.
int plot_cmd_grid(EngineContext* ctx, int32_t chart, int32_t first_code, int32_t second_code,
                  int nargin, Subplot* s, CommandList list, const StyleSpec* chart_style);
