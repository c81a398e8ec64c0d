// erlocus: stores a polynomial with the weighting of its coefficients and
// the levels of its raster (record 46), which the interpreter draws at every
// repaint. The roots, computed behind the record in the list's free room,
// only widen the automatic limits; the room test counts them.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/commands/command_args.h"
#include "graphics/commands/contour_commands.h"
#include "graphics/subplot/autoscale.h"
#include "numlib/polyroots.h"

namespace {

constexpr int kNonVectorArray = 22;
constexpr int kNotRowVector = 24;
constexpr int32_t kColourColumns = 3;
constexpr int32_t kBytesPerDouble = 8;
constexpr double kByteScale = 255.0;

uint8_t colour_byte(double v) {
  const double t = kByteScale * v;
  if (!(t > 0)) return 0;
  return t >= 255.0 ? 255 : uint8_t(t);
}

}  // namespace

// erlocus(p, W) or erlocus(p, W, levels, colours).
int erlocus_compute(EngineContext* ctx, int nargin, Subplot* s, CommandList list) {
  if (nargin != 2 && nargin != 4) return kTooManyInputs;
  MatArg p, W, lv, col;
  int32_t k = 0;
  if (nargin == 4) {
    TN_TRY(arg_matrix(ctx, nargin, 3, &col));
    if (col.cols != kColourColumns || col.rows < 1) return kBadSize;
    k = col.rows;
    TN_TRY(arg_matrix(ctx, nargin, 2, &lv));
    if (lv.rows != 1 && lv.cols != 1) return kNonVectorArray;
    if (int64_t(lv.rows) * lv.cols != k) return kIncompatibleSize;
  }
  TN_TRY(arg_matrix(ctx, nargin, 1, &W));
  TN_TRY(arg_matrix(ctx, nargin, 0, &p));
  if (W.rows != W.cols) return kIncompatibleSize;
  if (W.rows == 0) {
    if (p.cols >= 2) return kIncompatibleSize;
    command_done(ctx, nargin);
    return kOk;
  }
  if (p.rows != 1) return kNotRowVector;
  const int32_t n = W.rows;
  if (p.cols != n + 1) return kIncompatibleSize;
  const int64_t colour_doubles = (int64_t(kColourColumns) * k + kBytesPerDouble - 1) / kBytesPerDouble;
  const int64_t data = (int64_t(n) + 1) * n + k + colour_doubles + 3;
  if (data > INT32_MAX - kRecHead) return kPlotOverflow;
  // Behind the record: a copy of p (the roots' fallback rewrites its
  // input), the n real and n imaginary parts, and the roots' work.
  const int64_t roots = (int64_t(n) + 1) + 2 * int64_t(n) + roots_real_work(n);
  TN_TRY(command_room(list, kRecHead + data + roots));
  command_open(list, s);
  PlotWriter w = command_writer(list);
  plotwriter_begin_record(&w, kCodeEigenLocus, -1, 1, nullptr, int32_t(data));
  plotwriter_put(&w, n);
  for (int32_t i = 0; i <= n; ++i) plotwriter_put(&w, p.re[i]);
  for (int64_t i = 0; i < int64_t(n) * n; ++i) plotwriter_put(&w, W.re[i]);
  plotwriter_put(&w, k);
  for (int32_t i = 0; i < k; ++i) plotwriter_put(&w, lv.re[i] * lv.re[i]);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(w.data + w.used);
  std::memset(bytes, 0, size_t(colour_doubles) * kBytesPerDouble);
  for (int32_t i = 0; i < k; ++i)
    for (int32_t c = 0; c < kColourColumns; ++c) bytes[kColourColumns * i + c] = colour_byte(col.at(i, c));
  w.used += int32_t(colour_doubles);
  *list.used = w.used;
  double* copy = w.data + w.used;
  double* re = copy + n + 1;
  double* im = re + n;
  std::memcpy(copy, p.re, size_t(n + 1) * sizeof(double));
  roots_real_coeffs(copy, n, re, im, im + n);
  subplot_autoscale_to_data(s, re, im, nullptr, n);
  command_done(ctx, nargin);
  return kOk;
}
