// The table of engine opcodes and the array built-ins that serve them, with
// the adapters from the interpreter's handler arguments to each built-in's
// own. Selectors choose between the built-ins that share an adapter.
#include "engine/lib/array_opcodes.h"

#include "engine/core/opcodes.h"
#include "engine/lib/arrays.h"
#include "engine/lib/ranges.h"

namespace {

// Built-ins of one shape each, chosen by opcode.
int op_fixed(EngineContext* ctx, int32_t selector, int, int, int) {
  switch (selector) {
    case kOpHorzcat: return bi_horzcat(ctx);
    case kOpVertcat: return bi_vertcat(ctx);
    case kOpTranspose: return bi_transpose(ctx);
    case kOpCtranspose: return bi_ctranspose(ctx);
    case kOpFliplr: return bi_fliplr(ctx);
    case kOpFlipud: return bi_flipud(ctx, kFlipUd);
    case kOpFlipdim: return bi_flipud(ctx, kFlipDim);
    case kOpPermute: return bi_permute(ctx, 0);
    case kOpIpermute: return bi_permute(ctx, 1);
    case kOpSqueeze: return bi_reshape(ctx, kSqueeze);
    case kOpTrace: return bi_trace(ctx);
    case kOpKron: return bi_kron(ctx);
    default: return kNotSupported;
  }
}

int op_nargin(EngineContext* ctx, int32_t selector, int nargin, int, int) {
  switch (selector) {
    case kOpCat: return bi_cat(ctx, nargin);
    case kOpReshape: return bi_reshape(ctx, nargin);
    case kOpColon: return bi_colon(ctx, nargin);
    case kOpSub2ind: return bi_sub2ind(ctx, nargin);
    case kOpRot90: return bi_rot90(ctx, nargin);
    case kOpCov: return bi_cov(ctx, nargin);
    case kOpDiag: return bi_diag(ctx, nargin);
    case kOpTril: return bi_tril(ctx, kTril, nargin);
    case kOpTriu: return bi_tril(ctx, kTriu, nargin);
    case kOpRepmat: return bi_repmat(ctx, nargin);
    case kOpDiff: return bi_diff(ctx, nargin);
    case kOpCross: return bi_cross(ctx, nargin);
    case kOpDot: return bi_dot(ctx, nargin);
    default: return kNotSupported;
  }
}

int op_ind2sub(EngineContext* ctx, int32_t, int, int nargout, int) { return bi_ind2sub(ctx, nargout); }

int op_grid(EngineContext* ctx, int32_t mesh, int nargin, int nargout, int) {
  return bi_ndgrid(ctx, nargin, nargout, mesh);
}

// The literal range: three signed 16-bit operands start, end, step.
int op_range16(EngineContext* ctx, int32_t, int start, int end, int step) {
  return colon_range(ctx, start, end, step);
}

}  // namespace

const ArrayOpcodeHandler kArrayOpcodeHandlers[] = {
    {kOpPushRange16, op_range16, 0},
    {kOpHorzcat, op_fixed, kOpHorzcat},
    {kOpVertcat, op_fixed, kOpVertcat},
    {kOpCat, op_nargin, kOpCat},
    {kOpReshape, op_nargin, kOpReshape},
    {kOpSqueeze, op_fixed, kOpSqueeze},
    {kOpPermute, op_fixed, kOpPermute},
    {kOpIpermute, op_fixed, kOpIpermute},
    {kOpColon, op_nargin, kOpColon},
    {kOpSub2ind, op_nargin, kOpSub2ind},
    {kOpInd2sub, op_ind2sub, 0},
    {kOpCtranspose, op_fixed, kOpCtranspose},
    {kOpTranspose, op_fixed, kOpTranspose},
    {kOpFliplr, op_fixed, kOpFliplr},
    {kOpFlipud, op_fixed, kOpFlipud},
    {kOpFlipdim, op_fixed, kOpFlipdim},
    {kOpRot90, op_nargin, kOpRot90},
    {kOpCov, op_nargin, kOpCov},
    {kOpDiag, op_nargin, kOpDiag},
    {kOpTril, op_nargin, kOpTril},
    {kOpTriu, op_nargin, kOpTriu},
    {kOpRepmat, op_nargin, kOpRepmat},
    {kOpNdgrid, op_grid, 0},
    {kOpMeshgrid, op_grid, 1},
    {kOpTrace, op_fixed, kOpTrace},
    {kOpDiff, op_nargin, kOpDiff},
    {kOpKron, op_fixed, kOpKron},
    {kOpCross, op_nargin, kOpCross},
    {kOpDot, op_nargin, kOpDot},
};
const int kArrayOpcodeHandlerCount = sizeof(kArrayOpcodeHandlers) / sizeof(kArrayOpcodeHandlers[0]);
