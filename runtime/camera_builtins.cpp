// Camera command wrappers: 400 without a current subplot; otherwise the body
// works on the current subplot's record alone (no list is written), and a
// success marks the layout as changed so the view is drawn again.
#include "runtime/camera_builtins.h"

#include "engine/core/status.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/subplot/subplot_view.h"
#include "runtime/instances.h"

namespace {

constexpr char kGraphicsSection[] = "!Tarnivel";

template <CameraCommand kWhich>
int camera_builtin(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* call = reinterpret_cast<CallContext*>(data);
  if (!call || !call->block) return kBadContext;
  RuntimeBlock* b = call->block;
  const int32_t k = b->h.build.subplot;
  InstanceRec* rec = k >= 0 && k < kMaxSubplots ? inst_find_by_id(b, call->instance_id) : nullptr;
  if (!rec) return kBadContext;
  TN_TRY(camera_command_body(ctx, nargin, nargout, &rec->subplots[k], kWhich));
  call->status |= kCallLayoutChanged;
  return kOk;
}

}  // namespace

int rt_camera_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {kGraphicsSection, "campos", camera_builtin<CameraCommand::kPos>, 0},
      {kGraphicsSection, "camtarget", camera_builtin<CameraCommand::kTarget>, 0},
      {kGraphicsSection, "camup", camera_builtin<CameraCommand::kUp>, 0},
      {kGraphicsSection, "camdolly", camera_builtin<CameraCommand::kDolly>, 0},
      {kGraphicsSection, "campan", camera_builtin<CameraCommand::kPan>, 0},
      {kGraphicsSection, "camorbit", camera_builtin<CameraCommand::kOrbit>, 0},
      {kGraphicsSection, "camroll", camera_builtin<CameraCommand::kRoll>, 0},
      {kGraphicsSection, "camzoom", camera_builtin<CameraCommand::kZoom>, 0},
      {kGraphicsSection, "camva", camera_builtin<CameraCommand::kViewAngle>, 0},
      {kGraphicsSection, "camproj", camera_builtin<CameraCommand::kProjection>, 0},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, int(sizeof bindings / sizeof bindings[0]));
}
