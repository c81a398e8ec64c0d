// The `cancel` built-in: ends the running handler with 402. With a false
// argument it also sets the quiet-cancel bit of the call context, so that
// the handler call counts the handler as done and takes no output.
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "runtime/handler_call.h"

namespace {

int bi_cancel(EngineContext* c, int nargin, int, uintptr_t data) {
  auto* call = reinterpret_cast<CallContext*>(data);
  if (nargin > 0) {
    uint8_t loud = 1;
    TN_TRY(stk_pop_bool(c, &loud));
    if (!loud && call) call->status |= kCallQuietCancel;
  }
  return kCancel;
}

}  // namespace

int rt_handler_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {"!Tarnivel", "cancel", bi_cancel, 0},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, 1);
}
