// Bodies of the raster and field commands: image, pcolor, colormap and
// quiver. Like the line plot commands they read their arguments from the
// engine's value stack (first deepest), check the room for every record
// (and the opening record of an empty list) before writing any, and remove
// their arguments on success.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"
#include "graphics/subplot/subplot.h"

int plot_cmd_image(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed);
int plot_cmd_pcolor(EngineContext* ctx, int nargin, Subplot* s, CommandList list, bool ids_allowed);
// colormap pushes its own results: the map queried (nargout > 0 without
// arguments), or the no-value item of a statement (nargout < 0).
int plot_cmd_colormap(EngineContext* ctx, int nargin, int nargout, Subplot* s, CommandList list);
int plot_cmd_quiver(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
