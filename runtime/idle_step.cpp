// Idle processing: one step runs the instance's idle handler when it is due
// and schedules the next one by the mode the handler left (a fixed 0.1 s, a
// rate in seconds, or an amount: the share of the time the handler may
// take). With the view's redraw flag the figure is plotted again after it.
#include <algorithm>
#include <cmath>

#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"

namespace {

constexpr int32_t kStateOff = 0, kStateIdle = 2;
enum : int32_t { kIdleFixed = 0, kIdleRate = 1, kIdleAmount = 2 };
constexpr double kDefaultPeriod = 0.1;
constexpr double kMinDelay = 0.001, kMaxDelay = 1.0;
constexpr double kSmallestAmount = 1e-9;

// The next due time by the mode the handler left; `value` is what it stored
// in the next-due field, `started`/`ended` the clock around the handler.
double next_due(int32_t mode, double value, double base, double started, double ended) {
  switch (mode) {
    case kIdleRate: return started + (value > 0.0 ? value : kDefaultPeriod);  // NaN fails the test too
    case kIdleAmount: {
      if (base == -1.0) return started + kDefaultPeriod;
      const double a = value > 0.0 ? std::min(value, 1.0) : kSmallestAmount;
      const double delay = std::clamp((ended - started) * (1.0 / a - 1.0), kMinDelay, kMaxDelay);
      return ended + delay;
    }
    default: return started + kDefaultPeriod;
  }
}

}  // namespace

int inst_idle_step(RuntimeBlock** handle, int32_t id, bool redraw) {
  RuntimeBlock* b = *handle;
  InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  // Another handler runs: this step changes nothing.
  if (b->h.busy) return 0;
  const double now = rt_clock_read(b, kClockSlotIdle, false, false);
  if (rec->next_due > 0.0 && now > 0.0 && now < rec->next_due) return 0;
  if (!rec->idle_enabled || rec->state != kStateIdle) return 0;
  int32_t start = 0, pos = 0;
  TN_TRY(rec_find_instance(b, id, &start));
  if (rec_find_tag(b, id, &pos, kTagIdle) != 0) return 0;
  rec->idle_mode = kIdleFixed;
  const int status = handler_call_plain(handle, id, pos, -1, false);
  b = *handle;
  const double ended = rt_clock_read(b, kClockSlotIdle, false, false);
  rec = inst_find_by_id(b, id);
  if (!rec) return kRtNonexistentInstance;
  rec->next_due = next_due(rec->idle_mode, rec->next_due, rec->idle_base, now, ended);
  rec->idle_base = now;
  if (status == kRtHandledRedraw) return status;
  if (status != 0) {
    rec->state = kStateOff;
    return status == kHandlerBusy ? 0 : status;
  }
  if (!redraw) return 0;
  if (b->h.user.status & kCallQuietCancel) return 0;
  if (rec->rows == 1 && rec->cols == 1 && rec->subplots[0].handlerWords[kSubplotPlotHandlerWord] < 0) return 0;
  const int plotted = inst_plot_all(handle, id);
  if (plotted != 0 && plotted != kRtHandledRedraw)
    if (InstanceRec* r = inst_find_by_id(*handle, id)) r->state = kStateOff;
  return kRtHandledRedraw;
}

int inst_idle_step_redraw(RuntimeBlock** handle, int32_t id) { return inst_idle_step(handle, id, true); }
