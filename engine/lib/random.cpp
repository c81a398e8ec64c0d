// The random generators' draws, array fills and state forms. The fills keep
// the record in locals for the whole array, and the state round trip is exact:
// the words read back as doubles set the same record again.
#include "engine/lib/random.h"

#include <cmath>
#include <numbers>

#include "engine/lib/array_args.h"

using namespace arr;

namespace {

RandomState* record_of(EngineContext* ctx, int kind) {
  return kind == kRandNormal ? &ctx->rng_normal : &ctx->rng_uniform;
}

// A uniform draw of exactly 0 would give an infinite value; the smallest
// nonzero draw stands in for it.
constexpr double kSmallestDraw = 0x1p-32;

double normal_draw(RandomState* s) {
  double u1 = rand_uniform(s);
  double u2 = rand_uniform(s);
  if (u1 == 0) u1 = kSmallestDraw;
  return std::sqrt(-2.0 * std::log(u1)) * std::sin(2.0 * std::numbers::pi * u2);
}

// The wrapping conversion: a state word read back as a double in [0, 2^32)
// sets the same word, and other values keep their low 32 bits.
uint32_t state_word(double x) { return static_cast<uint32_t>(tn::dto_wrap64(x)); }

}  // namespace

double rand_normal(EngineContext* ctx, int kind) {
  if (kind == kRandNormal) return normal_draw(&ctx->rng_normal);
  return rand_uniform(&ctx->rng_uniform);
}

void rand_fill(EngineContext* ctx, int kind, double* out, int64_t n) {
  RandomState s = *record_of(ctx, kind);
  if (kind == kRandNormal) {
    for (int64_t i = 0; i < n; ++i) out[i] = normal_draw(&s);
  } else {
    for (int64_t i = 0; i < n; ++i) out[i] = rand_uniform(&s);
  }
  *record_of(ctx, kind) = s;
}

int rand_state(EngineContext* ctx, int kind, int nargin) {
  if (nargin > 2) return kTooManyInputs;
  if (!args_present(ctx, nargin) || nargin < 1) return kWrongArgType;
  RandomState* rec = record_of(ctx, kind);
  if (nargin == 1) {
    double* col;
    TN_TRY(stk_push_matrix(ctx, 2, 1, &col, nullptr));
    col[0] = rec->lcg;
    col[1] = rec->xs;
    return stk_remove(ctx, 1, 1);
  }
  int32_t rows, cols;
  double* re;
  int st = stk_get_matrix(ctx, 0, &rows, &cols, &re, nullptr);
  if (st != kOk) return as_arg_error(st);
  const int64_t n = int64_t{rows} * cols;
  if (n != 1 && n != 2) return kBadSize;
  // The result [] takes the place of the string; room is tested first.
  if (!desc_room(ctx)) return kStackOverflow;
  rec->lcg = state_word(re[0]);
  rec->xs = n == 2 ? state_word(re[1]) : (kind == kRandNormal ? 2u : 1u);
  drop_items(ctx, 2);
  return stk_push_empty(ctx);
}
