// The life of an instance that runs application code: reset with its init
// handlers, terminate and close, change handlers, refresh and plot-all with
// each subplot's plot handler behind its opening record, the figure command
// text, undo and redo, and the current subplot drawn alone into a rectangle.
// Every operation takes the block handle: handlers may grow the block, so
// nothing read before a call is used after it.
#include <algorithm>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/streams.h"
#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/embedded_streams.h"
#include "runtime/declaration.h"
#include "runtime/figure_draw.h"
#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/plot_lists.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr int32_t kStateOff = 0, kStateInit = 1, kStateIdle = 2;
constexpr int kRunning = 500;
constexpr int kSuspended = 505;
constexpr int kMaxGrowths = 48;
constexpr uint8_t kFigureContext = 1;

// Runs every record of the tag in record order until one fails; running out
// of records is success.
int run_each(RuntimeBlock** handle, int32_t id, int32_t tag) {
  for (int32_t pos = 0;;) {
    const int found = rec_find_tag(*handle, id, &pos, tag);
    if (found == kRtUndefElement) return 0;
    TN_TRY(found);
    TN_TRY(handler_call_plain(handle, id, pos, -1, false));
  }
}

int32_t cells(const InstanceRec* rec) { return std::max(0, rec->rows) * std::max(0, rec->cols); }

// The subplots' plot handlers into a fresh list, each behind the opening
// record of its object; with `only` >= 0 that subplot alone, and its frame
// is left as it is (it may have been given one to draw into). No room for an
// opening record: 10001.
//
// A handler may draw into other cells through `subplot`. So every subplot
// starts again before any handler runs, and a cell without a handler of its
// own that an earlier handler drew into keeps that object alone: an empty
// one opened after it would be drawn over it.
int plot_subplots(RuntimeBlock** handle, int32_t id, bool event, int32_t only) {
  TN_TRY(plotstore_begin_list(*handle, id, true));
  int status = 0;
  InstanceRec* rec = inst_find_by_id(*handle, id);
  const int32_t n = std::min(cells(rec), kMaxSubplots);
  // Drawn again: the unlocked axes follow the new data from their defaults,
  // and what the handlers draw now decides between 2-D and 3-D.
  SubplotPlotRun runs[kMaxSubplots];
  for (int32_t k = 0; k < n; ++k) subplot_reset_for_plotting(&rec->subplots[k], &runs[k]);
  for (int32_t k = only >= 0 ? only : 0; k < n; ++k) {
    RuntimeBlock* b = *handle;
    if ((rec = inst_find_by_id(b, id)) == nullptr) return kRtNonexistentInstance;
    if (k >= cells(rec)) break;  // a handler made the grid smaller
    PlotBuildState& st = b->h.build;
    double* list = plotstore_data(rt_plot_store(b)) + st.start;
    const int32_t plot = rec->subplots[k].handlerWords[kSubplotPlotHandlerWord];
    if (plot < 0 && plotlist_has_object(list, st.used, k)) continue;
    st.subplot = k;
    if (!plotlist_open_object(list, st.capacity, &st.used, k)) {
      status = kRtPlotOverflow;
      break;
    }
    if (plot >= 0) {
      status = handler_call(handle, id, plot, false, true, false, k, event, 0, kFdStdout, -1, nullptr, 0, nullptr,
                            nullptr, 0, nullptr);
      if (status != 0) break;
    }
    if (only >= 0) break;
  }
  RuntimeBlock* b = *handle;
  rec = inst_find_by_id(b, id);
  if (rec) plotstore_commit_list(b);
  else b->h.build.key = -1;  // a handler closed its own instance: its list goes
  b->h.build.subplot = -1;
  if (!rec) return kRtNonexistentInstance;
  for (int32_t k = 0; k < n; ++k) subplot_finish_plotting(&rec->subplots[k], &runs[k]);
  if (only < 0) inst_layout_positions(rec);
  return status;
}

// plot_subplots, grown and run again while the list has no room for an
// opening record or a plot handler ran short (the handlers' own steps are
// inner ones: the figure's handlers run again together).
int plot_subplots_growing(RuntimeBlock** handle, int32_t id, bool event, int32_t only = -1) {
  for (int growths = 0;; ++growths) {
    const RtStep step = rt_begin_step(*handle);
    const int status = plot_subplots(handle, id, event, only);
    if (!rt_grow_for_step(handle, step, rt_is_memory_code(status) && growths < kMaxGrowths, status)) return status;
  }
}

int run_command_text(RuntimeBlock** handle, int32_t id) {
  RuntimeBlock* b = *handle;
  int32_t start = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  RecordView header, r;
  const char* text = nullptr;
  int32_t length = 0;
  if (!rec_at(b, start, &header) || !rec_at(b, int64_t(start) + header.length, &r) || r.tag != kTagFigureOnly ||
      !rec_text(r, 0, &text, &length))
    return kRtUndefElement;
  const std::string source(text, size_t(length));  // the list moves with the block
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  b->h.user = CallContext{b, id, kFigureContext, 0, -1};  // no handler's figure to share
  b->h.build.subplot = cells(rec) - 1;
  EngineContext* c = rt_engine(b);
  // Flag 0: the engine prints a compile error itself.
  int status = exec_command_line(c, source.data(), int32_t(source.size()), 0);
  if (status != kRunning) return status;
  b->h.user.status = 0;
  if (!rt_has_break_poll(b)) return interp_run(c, 0);
  do status = interp_run(rt_engine(*handle), 1);
  while (status == kRunning);
  return status;
}

}  // namespace

int inst_reset(RuntimeBlock** handle, int32_t id) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (inst_detect_figure_only(b, id)) return inst_layout_reset(b, id, false);
  int32_t start = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  rec->next_due = rec->idle_base = -1.0;
  rec->state = kStateInit;
  if (rec->initialised) {
    // A failing terminate handler ends the reset with the instance off, not
    // left "init running".
    const int status = inst_run_terminate_handlers(handle, id);
    if (status != 0) {
      if ((rec = inst_find_by_id(*handle, id)) != nullptr) rec->state = kStateOff, rec->idle_mode = 0;
      return status;
    }
  }
  b = *handle;
  rec = inst_find_by_id(b, id);
  rec->state = kStateInit;
  rec->selection = 0;
  ++b->h.history_serial;
  TN_TRY(undo_store_clear_record(rt_value_store(b), id));
  TN_TRY(inst_layout_reset(b, id, false));
  int32_t pos = 0;
  if (rec_find_tag(b, id, &pos, kTagFigure) == 0) TN_TRY(inst_subplot_assign(b, id, -1, -1, pos, true));
  pos = 0;
  RecordView caps;
  if (rec_find_tag(b, id, &pos, kTagCapabilities) == 0 && rec_at(b, int64_t(start) + pos, &caps) &&
      caps.data_words > 0)
    rec->capabilities = uint32_t(caps.data[0]);
  const int status = run_each(handle, id, kTagInit);
  b = *handle;
  plotstore_free(rt_plot_store(b), id);
  rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  if (status != 0) {
    rec->state = kStateOff;
    rec->idle_mode = 0;
    return status;
  }
  pos = 0;
  RecordView decl;
  const char* text = nullptr;
  int32_t length = 0;
  if (rec_find_tag(b, id, &pos, kTagDeclaration) == 0 && rec_at(b, int64_t(start) + pos, &decl) &&
      rec_text(decl, 0, &text, &length)) {
    const int declared = tn_init_compile(handle, id, text, length);
    b = *handle;
    rec = inst_find_by_id(b, id);
    if (!rec) return kRtNonexistentInstance;
    if (declared != 0) {
      rec->state = kStateOff;
      rec->idle_mode = 0;
      return declared;
    }
  }
  rec->initialised = 1;
  rec->state = inst_has_idle_handler(b, id) ? kStateIdle : kStateOff;
  rec->idle_mode = 0;
  return 0;
}

int inst_run_terminate_handlers(RuntimeBlock** handle, int32_t id) {
  InstanceRec* rec = inst_find_by_id(*handle, id);
  if (!rec) return kRtNonexistentInstance;
  if (!rec->initialised) return 0;
  int32_t start = 0;
  TN_TRY(rec_find_instance(*handle, id, &start));
  rec->initialised = 0;
  rec->state = kStateOff;
  return run_each(handle, id, kTagTerminate);
}

int inst_close(RuntimeBlock** handle, int32_t id) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  const int status = inst_run_terminate_handlers(handle, id);
  RuntimeBlock* b = *handle;
  rt_embedded_close_instance(b, id);
  rec_delete_instance(b, id);
  inst_store_discard(b, id);
  return status;
}

int inst_run_change_handlers(RuntimeBlock** handle, int32_t id) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  for (int32_t pos = 0;;) {
    RuntimeBlock* b = *handle;
    const int found = rec_find_tag(b, id, &pos, kTagChange);
    if (found == kRtUndefElement) return 0;
    TN_TRY(found);
    int32_t start = 0;
    RecordView r;
    TN_TRY(rec_find_instance(b, id, &start));
    if (!rec_at(b, int64_t(start) + pos, &r) || r.data_words < 1) return kRtUndefElement;
    const int32_t watched = r.data[0];
    bool call = watched <= 0;
    for (int32_t k = 0; k < watched && k + 1 < r.data_words && !call; ++k)
      call = undo_store_value_present(rt_value_store(b), id, 0, r.data[1 + k]);
    if (call) TN_TRY(handler_call_plain(handle, id, pos, -1, false));
  }
}

int inst_refresh(RuntimeBlock** handle, int32_t id) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  rec->focus_subplot = rec->focus_record = -1;
  int32_t pos = 0;
  const bool has_figure = rec_find_tag(b, id, &pos, kTagFigure) == 0;
  // A figure-only instance runs its command text at every refresh, not only
  // the first after a reset: its picture is that text's in the layout of
  // the moment, and a reset here would take its layout away. The byte only
  // tells the text whether this is its first run.
  const bool figure_only = inst_is_figure_only(b, id);
  if (!figure_only && !has_figure) return rec->initialised ? 0 : inst_reset(handle, id);
  plotstore_free(rt_plot_store(b), id);
  if (figure_only) {
    const int32_t n = std::min(cells(rec), kMaxSubplots);
    SubplotPlotRun runs[kMaxSubplots];
    for (int32_t k = 0; k < n; ++k) subplot_reset_for_plotting(&rec->subplots[k], &runs[k]);
    TN_TRY(plotstore_begin_list(b, id, true));
    const int status = inst_run_figure_commands(handle, id);
    b = *handle;
    plotstore_commit_list(b);
    if ((rec = inst_find_by_id(b, id)) != nullptr) {
      for (int32_t k = 0; k < n; ++k) subplot_finish_plotting(&rec->subplots[k], &runs[k]);
      rec->figure_only = rec->resume = 0;
      // As after plot handlers: a `clf` or `subplots` in the text left cells
      // at their default frames.
      inst_layout_positions(rec);
    }
    return status;
  }
  if (!rec->initialised) TN_TRY(inst_reset(handle, id));
  return plot_subplots_growing(handle, id, true);
}

int inst_refresh_after_change(RuntimeBlock** handle, int32_t id) {
  InstanceRec* rec = inst_find_by_id(*handle, id);
  if (!rec) return kRtNonexistentInstance;
  rec->changed_outside = 0;
  return inst_refresh(handle, id);
}

int inst_plot_all(RuntimeBlock** handle, int32_t id) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  plotstore_free(rt_plot_store(*handle), id);
  return plot_subplots_growing(handle, id, false);
}

int inst_run_figure_commands(RuntimeBlock** handle, int32_t id) {
  int status = 0;
  const int32_t plot_used = (*handle)->h.build.used;
  for (int growths = 0;; ++growths) {
    (*handle)->h.build.used = plot_used;  // a run again drops the failed one's plot output
    const RtStep step = rt_begin_step(*handle);
    status = run_command_text(handle, id);
    if (!rt_grow_for_step(handle, step, rt_is_memory_code(status) && growths < kMaxGrowths, status)) break;
    frame_unwind(rt_engine(*handle), 0);
  }
  RuntimeBlock* b = *handle;
  b->h.user = CallContext{b, 0, 0, b->h.user.status, 0};
  b->h.build.subplot = -1;
  if (status != 0 && status != kSuspended) frame_unwind(rt_engine(b), 0);
  return status;
}

int inst_undo(RuntimeBlock** handle, int32_t id) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  if (undo_store_undo(rt_value_store(*handle), id) != 0) return 0;
  ++(*handle)->h.history_serial;
  TN_TRY(inst_apply_stored(*handle, id));
  TN_TRY(inst_refresh(handle, id));
  TN_TRY(inst_run_change_handlers(handle, id));
  return kRtHandledRedraw;
}

int inst_redo(RuntimeBlock** handle, int32_t id) {
  if (!inst_find_by_id(*handle, id)) return kRtNonexistentInstance;
  if (undo_store_redo(rt_value_store(*handle), id) != 0) return 0;
  ++(*handle)->h.history_serial;
  TN_TRY(inst_apply_stored(*handle, id));
  TN_TRY(inst_refresh(handle, id));
  TN_TRY(inst_run_change_handlers(handle, id));
  return kRtHandledRedraw;
}

int inst_draw_current_subplot(RuntimeBlock** handle, int32_t id, double left, double right, double top,
                              double bottom) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  const int32_t k = inst_current_subplot(b, id);
  const bool own = k >= 0 && rec->subplots[k].handlerWords[kSubplotPlotHandlerWord] >= 0;
  // A cell without a handler of its own that another cell's handler drew
  // into through `subplot` (or a figure's commands did) has its objects in
  // the list already: they are drawn in the rectangle as they are.
  int32_t pos = 0, length = 0;
  const bool has_objects = k >= 0 && plotstore_find(rt_plot_store(b), id, &pos, &length) &&
                           plotlist_has_object(plotstore_data(rt_plot_store(b)) + pos, length, k);
  if ((!own && !has_objects) || !b->h.driver) return figure_draw(b, id);
  // The subplot takes the rectangle and its objects alone are drawn; its
  // own rectangle then comes back (a free layout's frame is its own, not
  // one the layout computes) and the layout puts every frame back. Its own
  // handler builds the objects anew, and the refresh then rebuilds the
  // whole list.
  double own_rect[4];
  subplot_get_rect(&rec->subplots[k], &own_rect[0], &own_rect[1], &own_rect[2], &own_rect[3]);
  auto put_back = [&] {
    subplot_set_rect(&rec->subplots[k], own_rect[0], own_rect[1], own_rect[2], own_rect[3]);
    inst_layout_positions(rec);
  };
  subplot_set_rect(&rec->subplots[k], left, right, top, bottom);
  if (!own) {
    const int drawn = figure_draw_subplot(b, id, k);
    put_back();
    return drawn;
  }
  plotstore_free(rt_plot_store(b), id);
  const int status = plot_subplots_growing(handle, id, true, k);
  b = *handle;
  const int drawn = status == 0 ? figure_draw_subplot(b, id, k) : 0;
  if ((rec = inst_find_by_id(b, id)) == nullptr) return kRtNonexistentInstance;
  put_back();
  TN_TRY(status);
  TN_TRY(inst_refresh(handle, id));
  return drawn;
}
