// Bodies of the 2-D line plot commands. Each takes its arguments from the
// engine's value stack (first deepest), appends records to the list under
// construction through the checked writer and widens the subplot's
// automatic limits. The room for every record, and for the opening record
// when the list is empty, is checked before anything is written, so a full
// list gives kPlotOverflow and leaves the list as it was. On success the
// arguments are removed and nothing is pushed.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/subplot/subplot.h"

// The list under construction.
struct CommandList {
  double* data;
  int32_t capacity;
  int32_t* used;
};

int plot_cmd_plot(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool three_d, bool ids_allowed);
int plot_cmd_polar(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_line(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool three_d);
int plot_cmd_circle(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_activeregion(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_area(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed);
// Style bits of the default colour of the i-th band or bar series.
uint32_t command_default_colour_bits(int32_t i);
int plot_cmd_bar(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool horizontal);
// fplot's sampler, entered again by the engine with each value of the
// function (nargin < 0, see continuation.h). *not_calling (when given) is 0
// exactly when the body handed a call of the function to the engine and
// returned 0: the command is not over then. s may be null on such an entry
// when the drawing context is gone; the body then clears its state (400).
int plot_cmd_fplot(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed,
                   uint8_t* not_calling);
