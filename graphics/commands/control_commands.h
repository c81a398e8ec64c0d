// Bodies of the control built-ins slider, pushbutton, button, popupmenu and
// textfield: one record per control (codes 59-65) in the list under
// construction, each with its id and its 1-based index within the call.
// The whole call is sized before anything is written; arguments are removed
// on success.
#pragma once

#include "engine/core/context.h"
#include "graphics/commands/line_commands.h"

int plot_cmd_slider(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_pushbutton(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_button(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_popupmenu(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
int plot_cmd_textfield(EngineContext* ctx, int nargin, Subplot* s, CommandList list);
