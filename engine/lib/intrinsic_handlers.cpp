// The intrinsic functions of the base library registered for their opcodes:
// each family's dispatcher is called with the opcode as its selector. Only
// opcodes still at the interpreter's default are taken.
#include "engine/lib/intrinsic_handlers.h"

#include <cstdint>

#include "engine/core/interp.h"
#include "engine/core/local_queries.h"
#include "engine/core/opcodes.h"
#include "engine/lib/array_intrinsics.h"
#include "engine/lib/classes_convert.h"
#include "engine/lib/elemfun.h"
#include "engine/lib/poly_filter.h"
#include "engine/lib/sets.h"
#include "engine/lib/sort.h"
#include "engine/lib/stream_builtins.h"

namespace {

int h_elemfun(EngineContext* c, int32_t opcode, int, int, int) { return elemfun_run_opcode(c, uint32_t(opcode)); }
int h_classes(EngineContext* c, int32_t opcode, int nargin, int, int) {
  return classes_run_opcode(c, uint32_t(opcode), nargin);
}

constexpr uint16_t kElemfunOpcodes[] = {
    kOpAbs,  kOpAngle, kOpSign,  kOpFix,   kOpFloor,   kOpCeil,   kOpRound, kOpExp,   kOpExpm1, kOpLog,
    kOpLog10, kOpLog1p, kOpLog2, kOpReallog, kOpSin,   kOpCos,    kOpTan,   kOpSec,   kOpCsc,   kOpCot,
    kOpSinh, kOpCosh,  kOpTanh,  kOpSech,  kOpCsch,    kOpCoth,   kOpAsin,  kOpAcos,  kOpAtan,  kOpAsec,
    kOpAcsc, kOpAcot,  kOpAtan2, kOpAsinh, kOpAcosh,   kOpAtanh,  kOpAsech, kOpAcsch, kOpAcoth, kOpSinc,
    kOpSqrt, kOpRealsqrt,
};

constexpr uint16_t kClassesOpcodes[] = {
    kOpUplus,   kOpIschar,   kOpSetstr,    kOpChar,     kOpDouble,    kOpSingle,   kOpInt8,
    kOpInt16,   kOpInt32,    kOpInt64,     kOpUint8,    kOpUint16,    kOpUint32,   kOpUint64,
    kOpIsnumeric, kOpIsfloat, kOpIsinteger, kOpIsscalar, kOpIsvector, kOpSwapbytes, kOpCast,
    kOpTypecast, kOpIslogical,
};

void install_if_free(uint16_t opcode, OpHandlerFn fn, int32_t selector) {
  if (!interp_op_registered(opcode)) interp_set_op_handler(opcode, fn, selector);
}

}  // namespace

void engine_intrinsic_handlers_install() {
  for (uint16_t op : kElemfunOpcodes) install_if_free(op, h_elemfun, op);
  for (uint16_t op : kClassesOpcodes) install_if_free(op, h_classes, op);
  for (const ArrayIntrinsic& row : array_intrinsics()) install_if_free(row.opcode, row.fn, row.selector);
  for (uint16_t op : kSortSetOpcodes) install_if_free(op, op_sort_sets, op);
  if (interp_op_handler(kOpSort).fn == op_sort_sets) local_result_install(kOpSort, &kSortBlockHooks);
  if (interp_op_handler(kOpIsmember).fn == op_sort_sets) local_result_install(kOpIsmember, &kIsmemberBlockHooks);
  for (const ArrayIntrinsic& row : poly_filter_intrinsics()) install_if_free(row.opcode, row.fn, row.selector);
  for (uint16_t op : kStreamOpcodes) install_if_free(op, op_stream_io, op);
}
