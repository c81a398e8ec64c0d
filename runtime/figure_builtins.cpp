// The TN built-ins about figures and instances: `figure`, `currentfigure`,
// `figuretitle`, `clf`, `redraw`, `idlestate`, `tncurrentinstance`,
// `tninstances` and `tninstancetitle`. Each checks its inputs before it
// changes anything, and pushes its outputs last, so a failure leaves the
// stacks and the instances as they were.
#include <cmath>
#include <cstring>

#include "engine/core/errors.h"
#include "engine/core/options.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/tn_builtins.h"

namespace {

constexpr int32_t kTitleBytes = 1024;
constexpr int32_t kNoRaiseArgument = -1;  // err_raise_code: no variable, no integer
constexpr char kBadInstanceIdent[] = "tn:badInstanceId";
constexpr char kBadInstanceText[] = "Bad TN instance ID";
constexpr char kTitleIdent[] = "tn:title";
constexpr char kTitleText[] = "Cannot get title of TN instance";

CallContext* call_of(uintptr_t data) {
  CallContext* cc = reinterpret_cast<CallContext*>(data);
  return cc && cc->block ? cc : nullptr;
}

// The instance whose code runs; with `figure` also its figure context.
InstanceRec* running_instance(uintptr_t data, bool figure) {
  CallContext* cc = call_of(data);
  if (!cc || (figure && !cc->flags)) return nullptr;
  return inst_find_by_id(cc->block, cc->instance_id);
}

// Leaves `pushed` outputs (pushed on top) in place of the nargin inputs; a
// statement call that gave none leaves the no-value item it drops.
int finish(EngineContext* ctx, int nargin, int nargout, int pushed) {
  if (nargout < 0 && pushed == 0) {
    TN_TRY(stk_push_no_value(ctx));
    pushed = 1;
  }
  return nargin > 0 ? stk_remove(ctx, pushed, nargin) : kOk;
}

// A figure window belongs to an instance with a figure or a figure-only
// record; a current-figure word naming none (closed, or from a saved image)
// counts as none.
bool has_figure_window(RuntimeBlock* b, int32_t id) {
  int32_t pos = 0;
  if (!inst_find_by_id(b, id)) return false;
  if (rec_find_tag(b, id, &pos, kTagFigure) == 0) return true;
  pos = 0;
  return rec_find_tag(b, id, &pos, kTagFigureOnly) == 0;
}

// The id at depth: a real scalar holding an int32 value.
int read_id(EngineContext* ctx, int depth, int32_t* id) {
  double v = 0;
  TN_TRY(stk_get_real_scalar(ctx, depth, &v));
  if (!(v >= double(INT32_MIN) && v <= double(INT32_MAX)) || v != std::floor(v)) return kBadArgument;
  *id = int32_t(v);
  return kOk;
}

// Makes id current and tells the host to bring its window up.
int make_current(RuntimeBlock* b, int32_t id) {
  if (!has_figure_window(b, id)) return kRtInvalidFigureId;
  b->h.current_figure = id;
  const RtFigureCallbacks cb = b->h.figure;
  if (cb.notify) cb.notify(b, id, kFigureActivate, nullptr, 0, inst_find_by_id(b, id)->layout_word, cb.context);
  return kOk;
}

// A new instance for a new figure; the host opens its window or the
// instance goes again.
int new_figure(RuntimeBlock* b, int32_t* id) {
  const RtFigureCallbacks cb = b->h.figure;
  if (!cb.create) return kNotSupported;
  TN_TRY(inst_create(b, id));
  if (!cb.create(b, *id, inst_find_by_id(b, *id)->layout_word, cb.context)) {
    inst_store_discard(b, *id);
    return kRtCannotCreateFigure;
  }
  b->h.current_figure = *id;
  return kOk;
}

}  // namespace

int bi_figure(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  RuntimeBlock* b = cc->block;
  int32_t id = 0;
  // The output's room first: a figure once created is not taken back. A
  // statement call asks for no id.
  if (nargout > 0) TN_TRY(stk_push_real(ctx, 0));
  const int pushed = nargout > 0 ? 1 : 0;
  int status = nargin > 0 ? read_id(ctx, pushed, &id) : kOk;
  if (status == kOk) status = nargin > 0 ? make_current(b, id) : new_figure(b, &id);
  if (status != kOk) {
    if (pushed) stk_drop(ctx);
    return status;
  }
  if (pushed) {
    stk_drop(ctx);
    TN_TRY(stk_push_real(ctx, id));
  }
  return finish(ctx, nargin, nargout, pushed);
}

int bi_currentfigure(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  RuntimeBlock* b = cc->block;
  int32_t id = 0;
  if (nargin > 0) TN_TRY(read_id(ctx, 0, &id));
  const bool wanted = nargout > 0 || (nargout < 0 && nargin == 0);
  if (wanted) TN_TRY(stk_push_real(ctx, nargin > 0 ? id : b->h.current_figure));
  if (nargin > 0) {
    if (const int status = make_current(b, id); status != kOk) {
      if (wanted) stk_drop(ctx);
      return status;
    }
  }
  return finish(ctx, nargin, nargout, wanted ? 1 : 0);
}

int bi_figuretitle(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  RuntimeBlock* b = cc->block;
  if (!stk_is_char(ctx, 0)) return kWrongArgType;
  const int32_t id = b->h.current_figure;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec || !has_figure_window(b, id)) return kIllegalError;
  char text[kTitleBytes];
  int32_t length = 0;
  TN_TRY(stk_get_string_buf(ctx, 0, text, kTitleBytes, &length));
  const RtFigureCallbacks cb = b->h.figure;
  if (cb.notify) cb.notify(b, id, kFigureSetTitle, text, length, rec->layout_word, cb.context);
  return finish(ctx, nargin, nargout, 0);
}

// clf: an empty 1 x 1 layout and no display list; the list being built for
// this instance starts again.
int bi_clf(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  InstanceRec* rec = running_instance(data, true);
  if (!rec) return kBadContext;
  CallContext* cc = call_of(data);
  RuntimeBlock* b = cc->block;
  if (nargout < 0) TN_TRY(stk_push_no_value(ctx));
  // A 1 x 1 grid, whose one cell is the figure frame at once: the figure
  // text that goes on drawing (or asks `subplotpos`) sees the cell, not the
  // default frame of a reset subplot.
  rec->rows = rec->cols = 1;
  rec->free_layout = 0;
  inst_reset_subplot_slot(&rec->subplots[0]);
  inst_layout_positions(rec);
  PlotBuildState& st = b->h.build;
  if (st.key == cc->instance_id) {
    st.used = 0;
    st.subplot = 0;
  } else {
    plotstore_free(rt_plot_store(b), cc->instance_id);
  }
  cc->status |= kCallLayoutChanged;
  return finish(ctx, nargin, 0, nargout < 0 ? 1 : 0);
}

int bi_redraw(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  if (!running_instance(data, true)) return kBadContext;
  call_of(data)->status |= kCallRedraw;
  return finish(ctx, nargin, nargout, 0);
}

int bi_idlestate(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  InstanceRec* rec = running_instance(data, false);
  if (!rec) return kBadContext;
  uint8_t on = rec->idle_enabled;
  if (nargin > 0) TN_TRY(stk_get_bool(ctx, 0, &on));
  const bool wanted = nargout > 0 || (nargout < 0 && nargin == 0);
  if (wanted) TN_TRY(stk_push_logical_scalar(ctx, rec->idle_enabled ? 1 : 0));
  rec->idle_enabled = on ? 1 : 0;
  return finish(ctx, nargin, nargout, wanted ? 1 : 0);
}

int bi_tncurrentinstance(EngineContext* ctx, int, int, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  return stk_push_real(ctx, cc->instance_id);
}

int bi_tninstances(EngineContext* ctx, int, int, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  RuntimeBlock* b = cc->block;
  const int32_t n = b->h.instance_count;
  double* row = nullptr;
  TN_TRY(stk_push_matrix(ctx, n > 0 ? 1 : 0, n, &row, nullptr));
  for (int32_t k = 0; k < n; ++k) row[k] = inst_at(b, k)->id;
  return kOk;
}

int bi_tninstancetitle(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* cc = call_of(data);
  if (!cc) return kBadContext;
  int32_t id = 0;
  int32_t rows = 0, cols = 0;
  double *re = nullptr, *im = nullptr;
  // An id is a number: a character or a logical value names no instance,
  // even where its code would. The refusal is raised here, so the engine
  // does not run the call again with the id converted to a number.
  if (stk_is_char(ctx, 0) || stk_is_logical(ctx, 0))
    return err_raise_code(ctx, kWrongArgType, kNoRaiseArgument, 0, kNoRaiseArgument, nullptr);
  if (stk_get_matrix(ctx, 0, &rows, &cols, &re, &im) != kOk || rows != 1 || cols != 1 || im) return kWrongArgType;
  const double v = re[0];
  // An id no int32 holds names no instance.
  id = v >= double(INT32_MIN) && v <= double(INT32_MAX) && v == std::floor(v) ? int32_t(v) : -1;
  char buffer[kTitleBytes];
  const char* text = nullptr;
  int32_t length = 0;
  const bool exists = v == double(id) && inst_find_by_id(cc->block, id);
  const int status = exists ? inst_get_title(cc->block, id, &text, &length, buffer, kTitleBytes) : kRtNonexistentInstance;
  if (status == kRtNonexistentInstance) return err_raise_id(ctx, kBadInstanceIdent, -1, kBadInstanceText, -1);
  if (status != kOk) return err_raise_id(ctx, kTitleIdent, -1, kTitleText, -1);
  TN_TRY(stk_push_cstr(ctx, length, text));
  return finish(ctx, nargin, nargout, 1);
}

int rt_figure_builtins_bind() {
  static const BuiltinBinding bindings[] = {
      {"!Tarnivel", "clf", bi_clf, 0},
      {"!Tarnivel", "redraw", bi_redraw, 0},
      {"!Tarnivel", "idlestate", bi_idlestate, 0},
      {"!Tarnivel", "tncurrentinstance", bi_tncurrentinstance, 0},
      {"!Tarnivel", "tninstances", bi_tninstances, 0},
      {"!Tarnivel", "tninstancetitle", bi_tninstancetitle, 0},
      {"!Tarnivel", "figure", bi_figure, 0},
      {"!Tarnivel", "currentfigure", bi_currentfigure, 0},
      {"!Tarnivel", "figuretitle", bi_figuretitle, 0},
      {"!Tarnivel", "movezero", bi_movezero, 0},
      {"!Tarnivel", "tncall", bi_tncall, 0},
      {"@TNdlg", "dialog", bi_dialog, 0},
      {"@TNdlg", "dialogset", bi_option_set, reinterpret_cast<uintptr_t>(rt_dialog_options())},
  };
  return builtin_table_bind(g_builtin_table_engine, bindings, int(sizeof bindings / sizeof bindings[0]));
}
