// Graphics built-in wrappers: 400 without a current subplot; otherwise the
// body runs on the current subplot of the current instance and the list
// being built, and a success marks the layout as changed.
#include "runtime/graphics_builtins.h"

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/commands/line_commands.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/instances.h"

namespace {
constexpr char kGraphicsSection[] = "!Tarnivel";

// The current subplot and the list under construction, or kBadContext.
int current_target(uintptr_t data, CallContext** call_out, Subplot** s, CommandList* list) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  if (!call || !call->block) return kBadContext;
  RuntimeBlock* b = call->block;
  const int32_t k = b->h.build.subplot;
  InstanceRec* rec = k >= 0 && k < kMaxSubplots ? inst_find_by_id(b, call->instance_id) : nullptr;
  if (!rec || b->h.build.key != call->instance_id) return kBadContext;
  *call_out = call;
  *s = &rec->subplots[k];
  *list = CommandList{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, &b->h.build.used};
  return kOk;
}

// A command without results: runs the body on the current subplot.
template <class Body>
int run_command(EngineContext* ctx, int nargout, uintptr_t data, Body body) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(body(s, list));
  call->status |= kCallLayoutChanged;
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  return kOk;
}

int plot_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_plot(ctx, nargin, s, l, false, true); });
}
int plot3_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_plot(ctx, nargin, s, l, true, true); });
}
int polar_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_polar(ctx, nargin, s, l); });
}
int line_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_line(ctx, nargin, s, l, false); });
}
int line3_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_line(ctx, nargin, s, l, true); });
}
int circle_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_circle(ctx, nargin, s, l); });
}
int activeregion_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_activeregion(ctx, nargin, s, l); });
}

int area_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_area(ctx, nargin, s, l, true); });
}
int bar_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_bar(ctx, nargin, s, l, false); });
}
int barh_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  return run_command(ctx, nargout, data,
                     [&](Subplot* s, CommandList l) { return plot_cmd_bar(ctx, nargin, s, l, true); });
}

// firstrun: the instance's figure-only byte, false without an instance.
int firstrun_builtin(EngineContext* ctx, int, int, uintptr_t data) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  const InstanceRec* rec = call && call->block ? inst_find_by_id(call->block, call->instance_id) : nullptr;
  return stk_push_logical_scalar(ctx, rec && rec->figure_only ? 1 : 0);
}

}  // namespace

int graphics_scale_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = nullptr;
  Subplot* s = nullptr;
  CommandList list{};
  TN_TRY(current_target(data, &call, &s, &list));
  TN_TRY(scale_body(ctx, nargin, nargout, s, list.data, list.capacity, list.used));
  call->status |= kCallLayoutChanged;
  return kOk;
}

int rt_graphics_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {kGraphicsSection, "scale", graphics_scale_builtin, 0},
      {kGraphicsSection, "plot", plot_builtin, 0},
      {kGraphicsSection, "plot3", plot3_builtin, 0},
      {kGraphicsSection, "polar", polar_builtin, 0},
      {kGraphicsSection, "line", line_builtin, 0},
      {kGraphicsSection, "line3", line3_builtin, 0},
      {kGraphicsSection, "circle", circle_builtin, 0},
      {kGraphicsSection, "activeregion", activeregion_builtin, 0},
      {kGraphicsSection, "area", area_builtin, 0},
      {kGraphicsSection, "bar", bar_builtin, 0},
      {kGraphicsSection, "barh", barh_builtin, 0},
      {kGraphicsSection, "firstrun", firstrun_builtin, 0},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, int(sizeof bindings / sizeof bindings[0]));
}
