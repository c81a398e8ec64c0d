// The opcode rows of the array intrinsics: each adapter passes the operand
// words on to the built-in in the form its family takes.
#include "engine/lib/array_intrinsics.h"

#include "engine/core/opcodes.h"
#include "engine/lib/construct.h"
#include "engine/lib/extremes.h"
#include "engine/lib/reductions.h"

namespace {

int op_constant(EngineContext* c, int32_t s, int a, int, int) { return bi_inf_nan_realmin_realmax(c, s, a); }
int op_eps(EngineContext* c, int32_t, int a, int, int) { return bi_eps(c, a); }
int op_true_false(EngineContext* c, int32_t s, int a, int, int) { return bi_true_false(c, s, a); }
int op_typed(EngineContext* c, int32_t s, int a, int, int) { return op_typed_scalar(c, s, a); }
int op_list_flatten(EngineContext* c, int32_t, int a, int, int) { return op_66_join(c, a); }
int op_join(EngineContext* c, int32_t, int a, int, int) { return bi_join(c, a); }
int op_ctor(EngineContext* c, int32_t s, int a, int, int) { return bi_array_ctor(c, s, a); }
int op_ndims(EngineContext* c, int32_t, int, int, int) { return bi_ndims(c); }
int op_size(EngineContext* c, int32_t, int a, int b, int) { return bi_size(c, a, b); }
int op_length_numel(EngineContext* c, int32_t s, int, int, int) { return bi_length_numel(c, s); }
int op_magic(EngineContext* c, int32_t, int, int, int) { return bi_magic(c); }
int op_complex(EngineContext* c, int32_t, int, int, int) { return bi_complex(c); }
int op_real(EngineContext* c, int32_t, int, int, int) { return bi_real(c); }
int op_imag(EngineContext* c, int32_t, int, int, int) { return bi_imag(c); }
int op_isempty(EngineContext* c, int32_t, int, int, int) { return bi_isempty(c); }
int op_stats(EngineContext* c, int32_t s, int a, int, int) { return bi_sum_prod_stats(c, s, a); }
int op_cumulative(EngineContext* c, int32_t s, int a, int, int) { return bi_cumsum_cumprod(c, s, a); }
int op_any_all(EngineContext* c, int32_t s, int a, int, int) { return bi_any_all(c, s, a); }
int op_min_max(EngineContext* c, int32_t s, int a, int b, int) { return bi_min_max(c, s, a, b); }
int op_find(EngineContext* c, int32_t, int a, int b, int) { return bi_find(c, a, b); }
int op_nnz(EngineContext* c, int32_t, int, int, int) { return bi_nnz(c); }

constexpr ArrayIntrinsic kRows[] = {
    {kOpInf, op_constant, kConstInf},
    {kOpNan, op_constant, kConstNaN},
    {kOpRealmin, op_constant, kConstRealmin},
    {kOpRealmax, op_constant, kConstRealmax},
    {kOpEps, op_eps, 0},
    {kOpTrue, op_true_false, kLogicalTrue},
    {kOpFalse, op_true_false, kLogicalFalse},
    {kOpPushSmallInt8, op_typed, kOpPushSmallInt8},
    {kOpPushSmallInt16, op_typed, kOpPushSmallInt16},
    {kOpPushSmallInt32, op_typed, kOpPushSmallInt32},
    {kOpPushSmallUint8, op_typed, kOpPushSmallUint8},
    {kOpPushSmallUint16, op_typed, kOpPushSmallUint16},
    {kOpPushSmallUint32, op_typed, kOpPushSmallUint32},
    {kOpPushSmallInt64, op_typed, kOpPushSmallInt64},
    {kOpPushSmallUint64, op_typed, kOpPushSmallUint64},
    {kOpListFlatten, op_list_flatten, 0},
    {kOpJoin, op_join, 0},
    {kOpCell, op_ctor, kCtorCell},
    {kOpNdims, op_ndims, 0},
    {kOpSize, op_size, 0},
    {kOpLength, op_length_numel, kShapeLength},
    {kOpNumel, op_length_numel, kShapeNumel},
    {kOpZeros, op_ctor, kCtorZeros},
    {kOpOnes, op_ctor, kCtorOnes},
    {kOpEye, op_ctor, kCtorEye},
    {kOpRand, op_ctor, kCtorRand},
    {kOpRandn, op_ctor, kCtorRandn},
    {kOpMagic, op_magic, 0},
    {kOpComplex, op_complex, 0},
    {kOpReal, op_real, 0},
    {kOpImag, op_imag, 0},
    {kOpSum, op_stats, kStatSum},
    {kOpProd, op_stats, kStatProd},
    {kOpMean, op_stats, kStatMean},
    {kOpVar, op_stats, kStatVar},
    {kOpStd, op_stats, kStatStd},
    {kOpMoment, op_stats, kStatMoment},
    {kOpSkewness, op_stats, kStatSkewness},
    {kOpKurtosis, op_stats, kStatKurtosis},
    {kOpCumsum, op_cumulative, kCumSum},
    {kOpCumprod, op_cumulative, kCumProd},
    {kOpAny, op_any_all, kReduceAny},
    {kOpAll, op_any_all, kReduceAll},
    {kOpMin, op_min_max, kExtremeMin},
    {kOpMax, op_min_max, kExtremeMax},
    {kOpFind, op_find, 0},
    {kOpNnz, op_nnz, 0},
    {kOpIsempty, op_isempty, 0},
};

}  // namespace

std::span<const ArrayIntrinsic> array_intrinsics() { return kRows; }
