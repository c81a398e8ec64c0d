// The TN built-ins through which application code reads and sets its
// instance: the subplot layout (text, properties, positions, size, springs,
// parameters) and the title, version and help texts. Their data word is the
// call context record; the layout ones run only in a figure context.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "runtime/runtime_block.h"

int bi_subplots(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_subplotprops(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_subplotpos(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_subplotsize(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_subplotspring(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_subplotparam(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_tntitle(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_tnversion(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_tnhelp(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);

// Figures, instances, idle and redraw requests, and the control-design
// `movezero`; bound by rt_figure_builtins_bind, which rt_builtins_bind calls.
int bi_figure(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_currentfigure(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_figuretitle(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_clf(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_redraw(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_idlestate(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_tncurrentinstance(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_tninstances(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_tninstancetitle(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
int bi_movezero(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// `tncall` resumes through the continuation protocol (it runs user code).
int bi_tncall(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
// `dialog` too; `dialogset` is the engine's option setter over this template.
int bi_dialog(EngineContext* ctx, int nargin, int nargout, uintptr_t call_context);
struct OptionDesc;
const OptionDesc* rt_dialog_options();
int rt_figure_builtins_bind();

// The grid steps positions and sizes are counted in, in pixels.
constexpr double kDefaultGridStep = 8.0;
void rt_grid_steps(RuntimeBlock* b, double* step_x, double* step_y);

// Binds the runtime's rows of the engine's table: the standard-input hook
// and the built-ins above. kOk or kUnknownFunction.
int rt_builtins_bind();
