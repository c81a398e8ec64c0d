// The layout operations that run application code: each does its layout
// side (value-store row included), then refreshes the instance or runs its
// resize handlers. A layout change that fails is returned before any
// handler runs.
#include "graphics/subplot/autoscale.h"
#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

int figure_layout_subplots(RuntimeBlock** handle, int32_t id, double left, double right, double top,
                           double bottom) {
  TN_TRY(inst_layout_in_rect(*handle, id, left, right, top, bottom));
  if (!inst_find_by_id(*handle, id)->initialised) return 0;
  for (int32_t pos = 0;;) {
    const int found = rec_find_tag(*handle, id, &pos, kTagResize);
    if (found == kRtUndefElement) return 0;
    TN_TRY(found);
    TN_TRY(handler_call_plain(handle, id, pos, -1, false));
  }
}

int inst_set_current_subplot(RuntimeBlock** handle, int32_t id, int32_t figure) {
  bool refresh = false;
  TN_TRY(inst_set_current_subplot_store(*handle, id, figure, &refresh));
  if (!refresh) return 0;
  const int status = inst_refresh(handle, id);
  return figure < 0 ? 0 : status;
}

namespace {

// The layout side of a change after its value-store row: a failure drops
// the row again, so that undo does not step over a change that never was.
template <typename Change>
int with_undo_row(RuntimeBlock* b, int32_t id, Change change) {
  TN_TRY(inst_push_view_row(b, id));
  int status = change();
  if (status == 0) status = inst_layout_to_array(b, id);
  if (status != 0) undo_store_drop_last_row(rt_value_store(b), id);
  return status;
}

}  // namespace

int inst_set_grid_redraw(RuntimeBlock** handle, int32_t id, int32_t rows, int32_t cols) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  RuntimeBlock* b = *handle;
  TN_TRY(with_undo_row(b, id, [&] { return inst_set_grid(b, id, rows, cols); }));
  return inst_refresh(handle, id);
}

int inst_subplots_apply(RuntimeBlock** handle, int32_t id) {
  InstanceRec* rec = inst_find_by_id(*handle, id);
  if (!rec) return kRtNonexistentInstance;
  bool locked = false, mixed = false;
  TN_TRY(inst_subplot_query(*handle, id, &locked, &mixed));
  const uint32_t targets = inst_targets(rec);
  TN_TRY(with_undo_row(*handle, id, [&] {
    for (int32_t k = 0; k < kMaxSubplots; ++k) {
      if (!(targets & (1u << k))) continue;
      if (locked) subplot_unlock_scale(&rec->subplots[k]);
      else subplot_lock_scale(&rec->subplots[k]);
    }
    return 0;
  }));
  return inst_refresh(handle, id);
}

int inst_scale_flags_set(RuntimeBlock** handle, int32_t id, uint32_t mask, uint32_t value) {
  TN_TRY(inst_scale_flags_store(*handle, id, mask, value));
  return inst_refresh(handle, id);
}

namespace {

int view_switch(RuntimeBlock** handle, int32_t id, ViewSwitch which, bool on) {
  TN_TRY(inst_view_switch_store(*handle, id, which, on));
  return inst_refresh(handle, id);
}

}  // namespace

int inst_set_auto_target(RuntimeBlock** handle, int32_t id, bool on) {
  return view_switch(handle, id, ViewSwitch::kAutoTarget, on);
}
int inst_set_auto_viewpoint(RuntimeBlock** handle, int32_t id, bool on) {
  return view_switch(handle, id, ViewSwitch::kAutoViewpoint, on);
}
int inst_set_auto_upvector(RuntimeBlock** handle, int32_t id, bool on) {
  return view_switch(handle, id, ViewSwitch::kAutoUpvector, on);
}
int inst_set_perspective(RuntimeBlock** handle, int32_t id, bool on) {
  return view_switch(handle, id, ViewSwitch::kPerspective, on);
}
