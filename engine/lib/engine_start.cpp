// Program start-up of the engine: one place that does the steps in the order
// the program relies on (the engine table first, then the group flag, the
// compiler settings of the program, and the reset).
#include "engine/lib/engine_start.h"

#include "engine/core/compiler.h"
#include "engine/core/errors.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/intrinsic_handlers.h"
#include "engine/lib/numlib_hooks.h"
#include "engine/lib/op_handlers.h"
#include "engine/lib/tasks.h"

namespace {

constexpr int kProgramOptimisation = 4;

// The first "+errmsgtable" row of the engine's table carries the engine's
// messages; binding is idempotent, so a second start-up finds it in place.
int bind_engine_error_table() {
  static const BuiltinBinding binding{"", "+errmsgtable", errmsg_table_as_fn(kEngineErrorTable), 0};
  return builtin_table_bind(g_builtin_table_engine, &binding, 1);
}

}  // namespace

int engine_start(void* block, uint32_t size, EngineContext** out) {
  EngineContext* ctx = nullptr;
  TN_TRY(engine_init(block, size, &ctx));
  TN_TRY(bind_engine_error_table());
  engine_ops_install();
  engine_op_handlers_install();
  engine_intrinsic_handlers_install();
  compiler_install();
  tasks_install();
  TN_TRY(engine_register_builtin_table(ctx, g_builtin_table_engine, 1));
  engine_set_library_flag(ctx, "Tarnivel", 1);  // the result is of no use here
  compile_set_debug_info(ctx, 1);
  compile_set_optimisation(ctx, kProgramOptimisation, 0);
  engine_reset(ctx);
  *out = ctx;
  return kOk;
}
