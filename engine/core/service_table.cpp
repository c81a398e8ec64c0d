// The static service table. Slots whose operation is not built yet hold null;
// their position is reserved so that the order never changes.
#include "engine/core/service_table.h"

#include "engine/core/calls.h"
#include "engine/core/streams.h"

namespace {

template <typename F>
constexpr ServiceFn svc(F f) {
  return reinterpret_cast<ServiceFn>(f);
}

EngineServiceTable make_table() {
  EngineServiceTable t{};
  t.slot[kSvcVersionString] = svc(&engine_version_string);
  t.slot[kSvcFnFindByName] = svc(&fn_find_by_name);
  t.slot[kSvcFnCallFunarg] = svc(&fn_call_funarg);
  t.slot[kSvcLibFindBuiltin] = svc(&lib_find_builtin);
  t.slot[kSvcLibEntryByIndex] = svc(&lib_entry_by_index);
  t.slot[kSvcFnCall] = svc(&fn_call);
  t.slot[kSvcExecCodeBlock] = svc(&exec_code_block);
  t.slot[kSvcExecCheckHaltOpcode] = svc(&exec_check_halt_opcode);
  t.slot[kSvcFrameReturnDiscard] = svc(&frame_return_discard);
  t.slot[kSvcLibCallByName] = svc(&lib_call_by_name);
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
