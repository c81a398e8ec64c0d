// The installed engine operations: written once at start-up, read by the
// operators on the engine's thread.
#include "numlib/engine_ops.h"

namespace {
NumlibEngineOps g_ops;
}  // namespace

void numlib_set_engine_ops(const NumlibEngineOps& ops) { g_ops = ops; }
const NumlibEngineOps& numlib_engine_ops() { return g_ops; }
