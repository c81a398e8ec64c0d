// The engine operations handed to the numerical library: one record written
// at start-up, read by the matrix operators on the engine's thread.
#include "engine/lib/numlib_hooks.h"

#include "engine/core/calls.h"
#include "engine/lib/arith.h"
#include "engine/lib/arrays.h"
#include "engine/lib/display.h"
#include "engine/lib/matprod.h"
#include "engine/lib/ranges.h"
#include "engine/lib/reductions.h"
#include "numlib/engine_ops.h"

static_assert(kReshapeSqueeze == kSqueeze, "squeeze travels as reshape's argument count");

namespace {

int flip_form(EngineContext* ctx, int form, int) {
  if (form == kFlipFormLr) return bi_fliplr(ctx);
  return bi_flipud(ctx, form == kFlipFormUd ? kFlipUd : kFlipDim);
}

void display_format(EngineContext* ctx, char* letter, int32_t* digits) {
  display_get_options(ctx, letter, digits, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

void engine_ops_install() {
  NumlibEngineOps ops = numlib_engine_ops();
  ops.elementwise_binary = arith_elementwise_binary;
  ops.sum_prod_stats = bi_sum_prod_stats;
  ops.cumsum_cumprod = bi_cumsum_cumprod;
  ops.diff = bi_diff;
  ops.flipud_flipdim = flip_form;
  ops.permute_ipermute = bi_permute;
  ops.repmat = bi_repmat;
  ops.reshape_squeeze = bi_reshape;
  ops.rot90 = bi_rot90;
  ops.transpose = bi_transpose;
  ops.cat = bi_cat;
  ops.horzcat = bi_horzcat;
  ops.vertcat = bi_vertcat;
  ops.display_format = display_format;
  numlib_set_engine_ops(ops);
}
