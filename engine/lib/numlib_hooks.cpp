// The engine operations handed to the numerical library: one record written
// at start-up, read by the matrix operators on the engine's thread.
#include "engine/lib/numlib_hooks.h"

#include "engine/core/calls.h"
#include "engine/lib/arith.h"
#include "engine/lib/matprod.h"
#include "numlib/engine_ops.h"

void engine_ops_install() {
  NumlibEngineOps ops = numlib_engine_ops();
  ops.elementwise_binary = arith_elementwise_binary;
  ops.complex_power = arith_complex_power;
  ops.mtimes = bi_mtimes;
  ops.find_builtin = lib_find_builtin;
  numlib_set_engine_ops(ops);
}
