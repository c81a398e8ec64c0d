// Graphics built-in wrappers: 400 without a current subplot; otherwise the
// body runs on the current subplot of the current instance and the list
// being built, and a success marks the layout as changed.
#include "runtime/graphics_builtins.h"

#include "engine/core/status.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/instances.h"

namespace {
constexpr char kGraphicsSection[] = "!Tarnivel";
}  // namespace

int graphics_scale_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  if (!call || !call->block) return kBadContext;
  RuntimeBlock* b = call->block;
  const int32_t k = b->h.build.subplot;
  InstanceRec* rec = k >= 0 && k < kMaxSubplots ? inst_find_by_id(b, call->instance_id) : nullptr;
  if (!rec || b->h.build.key != call->instance_id) return kBadContext;
  double* list = plotstore_data(rt_plot_store(b)) + b->h.build.start;
  TN_TRY(scale_body(ctx, nargin, nargout, &rec->subplots[k], list, b->h.build.capacity, &b->h.build.used));
  call->status |= kCallLayoutChanged;
  return kOk;
}

int rt_graphics_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {kGraphicsSection, "scale", graphics_scale_builtin, 0},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, 1);
}
