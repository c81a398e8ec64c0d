// The tool mode, the pending subplots whose leave handlers run when the
// pointer or the tool leaves them, and the small queries the host's commands
// use. The block may move in every handler call: nothing is kept across one
// but the handle and instance ids.
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "graphics/interact/interaction.h"
#include "graphics/interact/interaction_internal.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"

namespace {

// Saved images may hold the old camera and zoom variants of the tools.
constexpr int32_t kFirstZoomVariant = 6, kLastZoomVariant = 7;
constexpr int32_t kFirstDragVariant = 8, kLastDragVariant = 12;

int32_t stored_mode(int32_t mode) {
  if (mode >= kFirstZoomVariant && mode <= kLastZoomVariant) return kToolZoom;
  if (mode >= kFirstDragVariant && mode <= kLastDragVariant) return kToolDrag;
  return mode;
}

}  // namespace

int32_t interact_handler(RuntimeBlock* b, int32_t id, int32_t k, int32_t tag, int32_t element) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec || k < 0 || k >= kMaxSubplots || tag < kTagMousePress || tag > kTagMouseDragOut) return kNoHandler;
  SubplotHandlers slots;
  if (inst_subplot_resolve(b, id, rec->subplots[k].handlerWords[kSubplotFigureWord], element, &slots) != 0)
    return kNoHandler;
  return slots.mouse[tag - kTagMousePress];
}

int interact_run_handler(RuntimeBlock** handle, int32_t id, int32_t record, int32_t subplot, char* msg,
                         int32_t msg_capacity, int32_t* msg_length) {
  return handler_call(handle, id, record, false, true, false, subplot, true, 0, kFdStdout, -1, nullptr, 0, nullptr,
                      msg, msg_capacity, msg_length);
}

int interact_end_pending(RuntimeBlock** handle, int32_t id, bool redraw, uint8_t* redraw_wanted) {
  if (redraw_wanted) *redraw_wanted = 0;
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const int32_t k = rec->pending_subplot;
  rec->pending_subplot = -1;
  if (k < 0) return 0;
  const int32_t element = (b->h.manip.valid & kManipId) ? b->h.manip.id : -1;
  const int32_t leave = interact_handler(b, id, k, kTagMouseLeave, element);
  if (leave == kNoHandler) return 0;
  manip_state_clear(&b->h.manip);
  TN_TRY(interact_run_handler(handle, id, leave, k, nullptr, 0, nullptr));
  if (!redraw) {
    if (redraw_wanted) *redraw_wanted = 1;
    return 0;
  }
  TN_TRY(inst_refresh(handle, id));
  return kRtHandledRedraw;
}

int interact_set_tool_mode(RuntimeBlock** handle, int32_t mode) {
  int answer = 0;
  if ((*handle)->h.interaction_mode == kToolManipulate && mode != kToolManipulate) {
    // Every instance, even after one fails: each pending subplot is ended
    // once; the first error is the answer.
    for (int32_t k = 0; k < (*handle)->h.instance_count; ++k) {
      const int status = interact_end_pending(handle, inst_at(*handle, k)->id, true, nullptr);
      if (status == kRtHandledRedraw && answer == 0) answer = status;
      else if (status != 0 && status != kRtHandledRedraw && (answer == 0 || answer == kRtHandledRedraw))
        answer = status;
    }
  }
  if (stored_mode(mode) != (*handle)->h.interaction_mode) (*handle)->h.interaction.wheel.open = 0;
  (*handle)->h.interaction_mode = stored_mode(mode);
  return answer;
}

int32_t interact_get_tool_mode(const RuntimeBlock* b) { return b->h.interaction_mode; }

bool inst_takes_mouse(RuntimeBlock* b, int32_t id) {
  int32_t start = 0, pos = 0;
  if (!inst_find_by_id(b, id) || rec_find_instance(b, id, &start) != 0) return false;
  if (rec_find_tag(b, id, &pos, kTagFigure) == 0) return true;
  RecordView header, next;
  return rec_at(b, start, &header) && rec_at(b, int64_t(start) + header.length, &next) && next.tag == kTagFigureOnly;
}

bool rt_instance_known(RuntimeBlock* b, int32_t id) {
  int32_t start = 0;
  return rec_find_instance(b, id, &start) == 0;
}

void rt_set_interactive_highlight(RuntimeBlock* b, uint8_t on) { b->h.interactive_highlight = on; }
