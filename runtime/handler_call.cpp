// The handler call's main sequence: busy guard and derived variables, then
// attempts (inputs pushed, function run, outputs taken) that a memory status
// repeats after the block grew. A run stopped for room is undone before the
// next attempt (the step's engine-state copy, runtime_block.h), so the
// handler's effects happen once whatever growth it needs; a run that
// succeeded never runs again: a store that needs a larger block grows it and
// stores again with the value still on the stack.
#include "runtime/handler_call.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/dump_source.h"
#include "graphics/render/graphics_driver.h"
#include "runtime/data_text.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/name_table.h"
#include "runtime/record_list.h"
#include "runtime/records.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/undo_store.h"

namespace {

constexpr int kRunning = 500;        // "Execution halted": the run goes on in slices
constexpr int kSuspended = 505;      // the handler tried to enter the debugger
constexpr int kMaxGrowths = 48;      // every growth loop ends
constexpr double kProgressStart = 0.5;
constexpr double kProgressStep = 0.1;
constexpr int32_t kFunctionNameBytes = 33;

// A handler description in the record list, read through the block each
// time: the list moves with the block.
struct Hd {
  int64_t at = 0;  // absolute word index of the function code
  int32_t fn = 0, nin = 0, nout = 0;
  int32_t context = 0;  // the instance's library slot (header data word 1)
  int32_t output(RuntimeBlock* b, int32_t k) const { return rt_record_words(b)[at + kHdFixedWords + k]; }
  int32_t input(RuntimeBlock* b, int32_t k) const { return rt_record_words(b)[at + kHdFixedWords + nout + k]; }
};

// The handler record at `record` words into the run that starts at `start`.
int locate_hd(RuntimeBlock* b, int32_t start, int32_t record, Hd* hd) {
  RecordView header, r;
  if (!rec_at(b, start, &header) || header.tag != kTagHeader || header.data_words < 2) return kRtNonexistentInstance;
  if (record < 0 || !rec_at(b, int64_t(start) + record, &r)) return kRtUndefElement;
  const int32_t off = rec_hd_offset(r.tag, r.data, r.data_words);
  if (off < 0) return kRtUndefElement;
  hd->at = (r.data - rt_record_words(b)) + off;
  hd->fn = r.data[off + kHdFunction];
  hd->nin = r.data[off + kHdInputs];
  hd->nout = r.data[off + kHdOutputs];
  hd->context = header.data[1];
  return 0;
}

// The start of the instance's run (10040 when it has none) and whether the
// run holds a tag-16 record (without one there is nothing to bring up to
// date or to mark), in one walk over the list.
int find_run(RuntimeBlock* b, int32_t id, int32_t* start, bool* derived) {
  RecordView r;
  int64_t found = -1;
  *derived = false;
  for (int64_t w = 0; rec_at(b, w, &r); w += r.length) {
    if (r.tag == kTagHeader) {
      if (found >= 0) break;
      if (r.data_words > 0 && r.data[0] == id) found = w;
    } else if (found >= 0 && r.tag == kTagDerived) {
      *derived = true;
    }
  }
  if (found < 0) return kRtNonexistentInstance;
  *start = int32_t(found);
  return 0;
}

void drop_to(EngineContext* c, int32_t depth) {
  while (c->desc_top > depth) stk_drop(c);
}

int push_key(EngineContext* c, uint32_t key) {
  static const char* const kArrows[] = {"up", "down", "left", "right"};
  if (key >= kKeyUp && key <= kKeyRight) return stk_push_cstr(c, -1, kArrows[key - kKeyUp]);
  const char16_t ch = char16_t(key & 0xFFFF);
  return stk_push_wstr(c, ch ? 1 : 0, &ch);
}

// The installed driver's scale from pixels to the units of _width and
// _height (1 with the empty table).
double unit_scale(RuntimeBlock* b, bool height) {
  const GraphicsDriver* d = b->h.driver;
  if (!d) return 1.0;
  return height ? d->values.unitScaleY : d->values.unitScaleX;
}

struct CallIo {
  bool previous, event, nested;
  bool* reported;  // set when a failure has been reported where it happened
  int32_t subplot;
  uint32_t key;
  int32_t fd, link_id;
  char* text;
  int32_t text_size;
  int32_t* text_length;
  char* msg;
  int32_t msg_capacity;
  int32_t* msg_length;
  HandlerTextGrow grow;
};

// An output data text, written with its value on top of the stack. One
// that does not fit its buffer is written again into a buffer twice as
// large; one whose writer wants more of the block (the source form is made
// in the engine's free space) again after the block has grown. A refused
// write leaves the value on the stack and the text's earlier part as it was.
template <typename Write>
int write_text_output(RuntimeBlock** handle, const CallIo& io, bool may_grow, char** text, int32_t* size,
                      Write write) {
  for (int growths = 0;;) {
    const int status = write(*handle, *text, *size);
    if (status == kRtExhausted && io.grow.fn) {
      const int64_t want = std::max<int64_t>(int64_t(*size) * 2, 4096);
      if (want > INT32_MAX || !io.grow.fn(io.grow.context, want, text, size)) return status;
      continue;
    }
    if (status == 0 || status == kRtExhausted || !may_grow || !rt_is_memory_code(status) ||
        growths++ == kMaxGrowths || !rt_memory_expand(handle, status))
      return status;
  }
}

int push_one_input(RuntimeBlock* b, int32_t id, int32_t code, const CallIo& io) {
  EngineContext* c = rt_engine(b);
  const bool event_code = code >= kCodeFirstSpecial && code <= kCodeLastEvent;
  if ((!io.event && event_code) || (code == kCodeParam && io.subplot < 0)) return stk_push_empty(c);
  b->h.manip.handler_subplot = io.subplot;
  switch (code) {
    case 11: case 12: case 13: case 14: case 15: case 16:
      return handler_push_input(b, id, io.previous, code);
    case kCodeKey: return push_key(c, io.key);
    case kCodeFd: return stk_push_real(c, io.fd);
    case kCodeWidth: case kCodeHeight: {
      const InstanceRec* rec = inst_find_by_id(b, id);
      if (!rec) return stk_push_real(c, 0.0);
      const bool height = code == kCodeHeight;
      const double extent = height ? std::fabs(rec->frame[2] - rec->frame[3]) : rec->frame[1] - rec->frame[0];
      return stk_push_real(c, extent * unit_scale(b, height));
    }
    case kCodeXdata: case kCodeXdatatype: return xdata_parse_header(b, code, io.text, io.text_size, io.reported);
    default:
      if ((code >= 2 && code <= 10) || (code >= 17 && code <= kCodeParam))
        return handler_push_special_var(b, id, code, io.previous);
      return handler_push_input(b, id, io.previous, code);
  }
}

int push_inputs(RuntimeBlock* b, int32_t id, const Hd& hd, const CallIo& io) {
  EngineContext* c = rt_engine(b);
  for (int32_t k = 0; k < hd.nin; ++k) {
    const int32_t code = hd.input(b, k);
    int status = push_one_input(b, id, code, io);
    if (status == kRtNonexistentUndoSet) status = stk_push_empty(c);
    if (status != 0) return status;
  }
  return 0;
}

// After a run that ended with `status` other than 500 (handed back), whether
// the handler's code goes on: a task, not the handler, stopped for
// debugging or failed. A task's error ends that task alone: its report is
// on fd 2 already, naming the task's function, and the handler's code,
// still the main context's, is resumed where the task's slice took over.
bool task_ended(EngineContext* c, int status) {
  return handler_end_task_stop(c, status) || interp_task_failed(c, status);
}

// Runs the function; with a break poll in slices, showing progress. The
// engine polls at each slice end and ends the run with 501 itself.
int run_function(RuntimeBlock** handle, const Hd& hd) {
  RuntimeBlock* b = *handle;
  EngineContext* c = rt_engine(b);
  const char* stored = nullptr;
  int32_t length = 0;
  if (fixtab_find(rt_name_table(b), hd.fn, &stored, &length) != 0) return kRtVarNotFound;
  char name[kFunctionNameBytes] = {};
  std::memcpy(name, stored, size_t(std::min(length, kFunctionNameBytes - 1)));
  const int slice = rt_has_break_poll(b) ? 1 : 0;
  int status = interp_call(c, name, hd.context, hd.nin, hd.nout, 0, slice);
  while (status == kRunning || task_ended(rt_engine(*handle), status)) {
    status = interp_run(rt_engine(*handle), slice);
    b = *handle;
    if (status != kRunning || !b->h.progress.fn || !rt_has_clock(b)) continue;
    const double t = rt_clock_read(b, kClockSlotHandler, false, false);
    if (t >= b->h.progress_threshold) {
      b->h.progress.fn(1, t, b->h.progress.context);
      b->h.progress_threshold = t + kProgressStep;
    }
  }
  return status;
}

void report_suspended(EngineContext* c) {
  static const char kCannot[] = "Cannot step in TN handlers.\n";
  static const char kLocals[] = "Local variables:\n";
  io_write(c, kFdStderr, kCannot, int32_t(sizeof kCannot - 1));
  io_write(c, kFdStderr, kLocals, int32_t(sizeof kLocals - 1));
  dump_variables_to_channel(c, kFdStderr, false);
}

// `_msg`: up to the first line end, at most the capacity; nothing for a
// capacity of 0.
int take_message(EngineContext* c, const CallIo& io) {
  char* text = nullptr;
  int32_t length = 0;
  TN_TRY(stk_get_cstring(c, 0, &text, &length));
  int32_t n = 0;
  while (n < length && text[n] != '\n' && text[n] != '\r') ++n;
  if (io.msg && io.msg_capacity > 0) {
    if (io.msg_length) {
      n = std::min(n, io.msg_capacity);
      std::memcpy(io.msg, text, size_t(n));
      *io.msg_length = n;
    } else {
      n = std::min(n, io.msg_capacity - 1);
      std::memcpy(io.msg, text, size_t(n));
      io.msg[n] = 0;
    }
  }
  stk_drop(c);
  return 0;
}

int take_idle_value(RuntimeBlock* b, int32_t id, int32_t mode) {
  EngineContext* c = rt_engine(b);
  double* re = nullptr;
  int64_t count = 0;
  TN_TRY(stk_get_double_array(c, 0, nullptr, nullptr, &count, &re, nullptr));
  InstanceRec* rec = inst_find_by_id(b, id);
  if (rec) {
    rec->next_due = count > 0 ? re[0] : std::nan("");
    rec->idle_mode = mode;
  }
  stk_drop(c);
  return 0;
}

// Stores one variable output; a store that needs a larger block grows it
// and stores again, the value still on the stack.
int store_variable(RuntimeBlock** handle, int32_t id, int32_t row, int32_t code, bool may_grow) {
  for (int growths = 0;; ++growths) {
    const int status = handler_store_output(*handle, id, row, code, 0);
    if (status == 0 || !may_grow || !rt_is_memory_code(status) || growths == kMaxGrowths ||
        !rt_memory_expand(handle, status))
      return status;
  }
}

// The outputs in record order, each the top of the stack; the number of
// variables assigned goes to *assigned.
int take_outputs(RuntimeBlock** handle, int32_t id, const Hd& hd, const CallIo& io, bool may_grow,
                 int32_t* assigned) {
  char* text = io.text;
  int32_t text_size = io.text_size;
  for (int32_t k = 0; k < hd.nout; ++k) {
    RuntimeBlock* b = *handle;
    EngineContext* c = rt_engine(b);
    const int32_t code = hd.output(b, k);
    int status = 0;
    switch (code) {
      case kCodeParam: status = inst_store_set_value(b, id, io.subplot); break;
      case kCodeXdata: {
        bool type_follows = false;
        for (int32_t j = k + 1; j < hd.nout; ++j) type_follows |= hd.output(b, j) == kCodeXdatatype;
        if (text && io.text_length)
          status = write_text_output(handle, io, may_grow, &text, &text_size,
                                     [&](RuntimeBlock* at, char* t, int32_t n) {
                                       return xdata_write_data(at, type_follows, t, n, io.text_length);
                                     });
        else stk_drop(c);
        break;
      }
      case kCodeXdatatype:
        if (text && io.text_length)
          status = write_text_output(handle, io, may_grow, &text, &text_size,
                                     [&](RuntimeBlock* at, char* t, int32_t n) {
                                       return xdata_write_type(at, t, n, io.text_length, id, io.link_id);
                                     });
        else stk_drop(c);
        break;
      case kCodeMsg: status = take_message(c, io); break;
      case kCodeCursor: {
        uint8_t on = 0;
        status = stk_pop_bool(c, &on);
        if (status == 0) b->h.cursor_kind = on;
        break;
      }
      case kCodeIdleRate: status = take_idle_value(b, id, 1); break;
      case kCodeIdleAmount: status = take_idle_value(b, id, 2); break;
      default:
        status = store_variable(handle, id, io.nested && io.previous ? 1 : 0, code, may_grow);
        if (status == 0) {
          stk_drop(rt_engine(*handle));
          ++*assigned;
        }
        break;
    }
    if (status != 0) return status;
  }
  return 0;
}

// Where an attempt stopped: a failure while the outputs were taken must not
// run the handler again; the engine reports the failures of a run itself.
enum class Phase { kLocate, kInputs, kRun, kOutputs };

// One attempt: inputs, run, outputs.
int attempt(RuntimeBlock** handle, int32_t id, int32_t start, int32_t record, const CallIo& io, bool may_grow,
            Phase* phase, int32_t* assigned, int32_t* outputs) {
  *phase = Phase::kLocate;
  RuntimeBlock* b = *handle;
  Hd hd;
  TN_TRY(locate_hd(b, start, record, &hd));
  *outputs = hd.nout;
  b->h.user = CallContext{b, id, 0, 0, io.subplot};
  b->h.build.subplot = io.subplot;
  EngineContext* c = rt_engine(b);
  const int32_t base = c->desc_top;
  *phase = Phase::kInputs;
  int status = push_inputs(b, id, hd, io);
  if (status != 0) {
    drop_to(rt_engine(*handle), base);
    return status;
  }
  if (hd.fn < 0) {
    // The inputs are the outputs: the first output code takes the last input.
    if (hd.nout > hd.nin) {
      drop_to(c, base);
      return kRtUndefElement;
    }
  } else {
    *phase = Phase::kRun;
    status = run_function(handle, hd);
    b = *handle;
    c = rt_engine(b);
    if (status == kSuspended) report_suspended(c);
    if (status != 0) {
      frame_unwind(c, 0);
      // No handler stays suspended: with its frames gone the engine leaves
      // the debugger's state, or every later run would stop at once.
      if (status == kSuspended) err_state_clear(c);
      drop_to(c, base);
      return status;
    }
  }
  if (io.event) b->h.last_handled_target = b->h.interaction_target;
  if (io.text_length) *io.text_length = 0;
  *phase = Phase::kOutputs;
  status = take_outputs(handle, id, hd, io, may_grow, assigned);
  drop_to(rt_engine(*handle), base);
  return status;
}

int clear_progress(RuntimeBlock* b) {
  if (b->h.progress_threshold > kProgressStart && b->h.progress.fn) b->h.progress.fn(0, 0.0, b->h.progress.context);
  return 0;
}

bool record_has_cursor_output(RuntimeBlock* b, int32_t start, int32_t record) {
  Hd hd;
  if (locate_hd(b, start, record, &hd) != 0) return false;
  for (int32_t k = 0; k < hd.nout; ++k)
    if (hd.output(b, k) == kCodeCursor) return true;
  return false;
}

}  // namespace

bool handler_end_task_stop(EngineContext* c, int status) {
  if (!interp_task_stopped(c, status)) return false;
  report_suspended(c);
  interp_end_task_stop(c);
  return true;
}

double rt_clock_read(RuntimeBlock* b, int32_t slot, bool process_time, bool reset) {
  if (!rt_has_clock(b)) return 0.0;
  return rt_engine(b)->clock_fn(rt_clock_slots(b) + (slot - kClockSlotIdle), process_time ? 1 : 0, reset ? 1 : 0);
}

int handler_call(RuntimeBlock** handle, int32_t id, int32_t record, bool previous, bool may_grow, bool nested,
                 int32_t subplot, bool event, uint32_t key, int32_t fd, int32_t link_id, char* text,
                 int32_t text_size, int32_t* text_length, char* msg, int32_t msg_capacity, int32_t* msg_length,
                 HandlerTextGrow grow) {
  // Another handler runs: nothing at all happens, derived variables included.
  if (!nested && (*handle)->h.busy) return kHandlerBusy;
  // Code runs only while the engine is idle.
  if (rt_engine(*handle)->running) return kBadContext;
  const int32_t row = previous ? 1 : 0;
  // The run is walked once; its offsets survive growth (nothing here adds
  // or deletes records).
  int32_t start = 0;
  bool derived = false;
  TN_TRY(find_run(*handle, id, &start, &derived));
  if (!nested) {
    RuntimeBlock* b = *handle;
    b->h.progress_threshold = kProgressStart;
    if (b->h.progress.fn && rt_has_clock(b)) rt_clock_read(b, kClockSlotHandler, false, true);
    int status = 0;
    for (int growths = 0; derived; ++growths) {
      const RtStep step = rt_begin_resumable_step();
      status = inst_update_dependents(handle, id, record, row, may_grow);
      if (!rt_grow_for_step(handle, step, status != 0 && rt_is_memory_code(status) && growths < kMaxGrowths, status))
        break;
    }
    if (status != 0) {
      clear_progress(*handle);
      return status;
    }
    (*handle)->h.busy = 1;
  }
  const int32_t plot_used = (*handle)->h.build.used;
  bool reported = false;
  const CallIo io{previous, event, nested, &reported, subplot, key, fd, link_id, text, text_size, text_length, msg,
                  msg_capacity, msg_length, grow};
  int status = 0;
  int32_t assigned = 0, outputs = 0;
  Phase phase = Phase::kLocate;
  for (int growths = 0;; ++growths) {
    (*handle)->h.build.used = plot_used;  // a retried attempt drops the failed one's plot output
    assigned = 0;
    reported = false;
    const RtStep step = rt_begin_step(*handle);
    status = attempt(handle, id, start, record, io, may_grow, &phase, &assigned, &outputs);
    // Only a failure before the outputs repeats the attempt: a handler whose
    // run succeeded never runs again.
    const bool retry = status != 0 && phase != Phase::kOutputs && may_grow && rt_is_memory_code(status) &&
                       growths < kMaxGrowths;
    if (!rt_grow_for_step(handle, step, retry, status)) break;
  }
  RuntimeBlock* b = *handle;
  if (status == 0) {
    if (!nested && outputs > 0) {
      if (derived) status = inst_mark_dependents(b, id, record, false);
      if (status == 0 && assigned > 0 && b->h.change.fn) b->h.change.fn(b, id, b->h.change.context);
    }
  } else {
    // The engine has reported a failed run; the call's own steps report here.
    if ((phase == Phase::kInputs && !reported) || phase == Phase::kOutputs) err_print(rt_engine(b), status, true);
    if (record_has_cursor_output(b, start, record)) b->h.cursor_kind = 0;
    if (status == kHandlerBusy && (b->h.user.status & kCallQuietCancel)) status = 0;
  }
  b->h.user = CallContext{b, 0, 0, b->h.user.status, 0};
  b->h.build.subplot = -1;
  if (!nested) {
    b->h.busy = 0;
    clear_progress(b);
  }
  return status;
}

int handler_call_plain(RuntimeBlock** handle, int32_t id, int32_t record, int32_t subplot, bool event) {
  return handler_call(handle, id, record, false, true, false, subplot, event, 0, kFdStdout, -1, nullptr, 0, nullptr,
                      nullptr, 0, nullptr);
}
