// Argument reading and list opening shared by the plot command bodies.
// Arguments are addressed by number from the first (deepest); nothing is
// removed until the body has written its records.
#include "graphics/commands/command_args.h"

#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "graphics/plotlist/plot_style.h"
#include "graphics/subplot/autoscale.h"

namespace {
constexpr int32_t kOpenObjectSubplot = 0;
}  // namespace

int arg_matrix(EngineContext* ctx, int nargin, int arg, MatArg* out) {
  double* re = nullptr;
  double* im = nullptr;
  TN_TRY(stk_get_matrix(ctx, nargin - 1 - arg, &out->rows, &out->cols, &re, &im));
  out->re = re;
  out->given = true;
  return kOk;
}

int arg_real_matrix(EngineContext* ctx, int nargin, int arg, MatArg* out) {
  double* re = nullptr;
  double* im = nullptr;
  TN_TRY(stk_get_matrix(ctx, nargin - 1 - arg, &out->rows, &out->cols, &re, &im));
  if (im) return kWrongType;
  out->re = re;
  out->given = true;
  return kOk;
}

int arg_refuse_text(EngineContext* ctx, int nargin, int first, int count) {
  for (int arg = first; arg < first + count && arg < nargin; ++arg)
    if (stk_is_char(ctx, nargin - 1 - arg)) return kWrongType;
  return kOk;
}

int arg_style(EngineContext* ctx, int nargin, int arg, StyleArg* out) {
  int32_t len = 0;
  TN_TRY(stk_get_string_buf(ctx, nargin - 1 - arg, out->text, kStyleTextBytes, &len));
  out->length = len;
  int32_t count = 0;
  return plotstyle_count(out->text, len, &count);
}

int style_of(const StyleArg& st, int32_t i, uint32_t default_bits, const uint8_t* default_rgb, StyleSpec* out) {
  if (st.length < 0) {
    *out = StyleSpec{default_bits, 0, 0, 0};
    if (default_rgb) out->r = default_rgb[0], out->g = default_rgb[1], out->b = default_rgb[2];
    return kOk;
  }
  return plotstyle_get_nth(st.text, st.length, i, default_bits, default_rgb, out);
}

int arg_scalar_id(EngineContext* ctx, int nargin, int arg, double* id) {
  MatArg m;
  if (arg_matrix(ctx, nargin, arg, &m) != kOk || m.rows != 1 || m.cols != 1) return kBadArgument;
  *id = m.re[0];
  return kOk;
}

int command_room(const CommandList& list, int64_t records) {
  const int64_t need = records + (*list.used == 0 ? kOpenObjectLength : 0);
  return need <= int64_t(list.capacity) - *list.used ? kOk : int(kPlotOverflow);
}

void command_open(const CommandList& list, Subplot* s) {
  if (*list.used != 0) return;
  plotlist_open_object(list.data, list.capacity, list.used, kOpenObjectSubplot);
  subplot_begin_autoscale(s);
}

bool command_object_empty(const CommandList& list) {
  PlotReader r;
  plotreader_init(&r, list.data, *list.used, 0);
  PlotRecord rec;
  int32_t last_code = kCodeOpenObject;
  while (plotreader_next(&r, &rec)) last_code = rec.code_int;
  return last_code == kCodeOpenObject;
}

PlotWriter command_writer(const CommandList& list) { return PlotWriter{list.data, list.capacity, *list.used}; }

void command_done(EngineContext* ctx, int nargin) {
  for (int k = 0; k < nargin; ++k) stk_drop(ctx);
}
