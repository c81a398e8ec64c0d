// The static service table. Slots whose operation is not built yet hold null;
// their position is reserved so that the order never changes.
#include "engine/core/service_table.h"

#include "engine/core/events.h"
#include "engine/core/frames.h"
#include "engine/core/snapshot.h"
#include "engine/core/streams.h"

namespace {

template <typename F>
constexpr ServiceFn svc(F f) {
  return reinterpret_cast<ServiceFn>(f);
}

EngineServiceTable make_table() {
  EngineServiceTable t{};
  t.slot[kSvcVersionString] = svc(&engine_version_string);
  t.slot[kSvcLibEntryByIndex] = svc(&lib_entry_by_index);
  t.slot[kSvcLibCallByName] = svc(&lib_call_by_name);
  t.slot[kSvcInterpInFunction] = svc(&interp_in_function);
  t.slot[kSvcPollAbort] = svc(&poll_abort);
  t.slot[kSvcStkDepth] = svc(&stk_depth);
  t.slot[kSvcFrameUnwind] = svc(&frame_unwind);
  t.slot[kSvcErrGetPosition] = svc(&err_get_position);
  t.slot[kSvcErrSetPosition] = svc(&err_set_position);
  t.slot[kSvcGetEventPoster] = svc(&engine_get_event_poster);
  t.slot[kSvcStkExportSize] = svc(&stk_export_size);
  t.slot[kSvcStkExportItems] = svc(&stk_export_items);
  t.slot[kSvcIoWrite] = svc(&io_write);
  t.slot[kSvcIoPrintf] = svc(&io_printf);
  t.slot[kSvcIoNewline] = svc(&io_newline);
  t.slot[kSvcIoSetBuffering] = svc(&io_set_buffering);
  t.slot[kSvcIoControl] = svc(&io_control);
  t.slot[kSvcIoRead] = svc(&io_read);
  t.slot[kSvcFdAlloc] = svc(&fd_alloc);
  return t;
}

}  // namespace

const EngineServiceTable kEngineServices = make_table();
