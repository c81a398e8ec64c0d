// The handler call: every piece of application code the runtime runs for an
// instance (init, terminate, mouse, key, idle, menu, data and plot handlers,
// derived variables) goes through handler_call. It brings the derived
// variables the handler needs up to date, pushes its inputs, runs its
// function in the engine, takes its outputs back into the value store or
// the runtime's own state and marks what depends on them. The block may
// move during a call: everything is re-read through the handle.
#pragma once

#include <cstdint>

#include "engine/core/status.h"
#include "runtime/runtime_block.h"

// Codes of a handler description.
constexpr int32_t kVariableCodeMin = -0x40000000;
constexpr int32_t kVariableCodeMax = 0x3FFFFFFF;
constexpr int32_t kConstantBias = 0x40000000;
inline bool hd_is_variable(int32_t code) {
  return code >= kVariableCodeMin && code <= kVariableCodeMax && !(code >= 1 && code <= 39);
}
inline bool hd_is_constant(int32_t code) { return code < kVariableCodeMin || code > kVariableCodeMax; }
inline double hd_constant(int32_t code) {
  return code > 0 ? double(int64_t(code) - kConstantBias) : double(int64_t(code) + kConstantBias);
}

// Key codes of the arrow keys, handed to `_key` as names.
enum : uint32_t { kKeyUp = 0xF700, kKeyDown = 0xF701, kKeyLeft = 0xF702, kKeyRight = 0xF703 };

// The answer to a call that finds another handler running, or one that the
// handler's `cancel` ended (the engine's kCancel); a call made while the
// engine runs code gets the engine's kBadContext.
constexpr int kHandlerBusy = 402;

// Where an output data text that does not fit its buffer gets a larger one:
// given the bytes it needs at least, fn answers a buffer that holds what the
// old one held, with its capacity, or false when memory runs out.
struct HandlerTextGrow {
  bool (*fn)(void* context, int64_t at_least, char** text, int32_t* size);
  void* context;
};

// record: word offset of the handler record from the instance's header
// record. previous: read variables from the row before the newest. may_grow:
// grow the block and try again on a memory status. nested: a call from
// inside another (no busy guard, no derived-variable update, no marking, no
// change callback). subplot: the subplot of the event (-1 none). event:
// false leaves the event variables empty. fd: the value of `_fd`. link_id:
// the data text header's link (-1 none). text/text_size: the `_xdata` input,
// and the output buffer with its capacity; text_length receives the output's
// length; with grow, an output text that does not fit goes to the larger
// buffer grow gives. msg/msg_capacity/msg_length: receives `_msg` (with
// msg_length no terminator is written).
int handler_call(RuntimeBlock** handle, int32_t id, int32_t record, bool previous, bool may_grow, bool nested,
                 int32_t subplot, bool event, uint32_t key, int32_t fd, int32_t link_id, char* text,
                 int32_t text_size, int32_t* text_length, char* msg, int32_t msg_capacity, int32_t* msg_length,
                 HandlerTextGrow grow = {});

// After a run that ended with `status`: a task stopped for debugging, which
// the program cannot step, ends with the report of a handler that stops, and
// the main context is current again (true); false for any other status.
bool handler_end_task_stop(EngineContext* c, int status);

// A handler record run without event, key, buffers or data text: the form
// the init, terminate, idle, change and resize handlers take.
int handler_call_plain(RuntimeBlock** handle, int32_t id, int32_t record, int32_t subplot, bool event);

// The id of the first instance whose header name equals name, or begins with
// it followed by a full stop (at most 32 characters compared); -1 when none.
int32_t inst_find_by_name(RuntimeBlock* b, const char* name);

// Pushes one input that is not a special variable: a variable's value (an
// empty matrix when it holds none; 10043 when the instance has no value set)
// or a constant as a real scalar.
int handler_push_input(RuntimeBlock* b, int32_t id, bool previous, int32_t code);
// Stores the value at the stack depth as variable `code` of the row (0 the
// newest, 1 the one before) and marks the menu states stale. The value stays
// on the stack.
int handler_store_output(RuntimeBlock* b, int32_t id, int32_t row, int32_t code, int32_t depth);

// Derived variables (tag-16 records). record >= 0: what the handler record
// at that offset needs; record < 0: every variable without a value.
bool inst_has_stale_dependents(RuntimeBlock* b, int32_t id, int32_t record, int32_t row);
int inst_update_dependents(RuntimeBlock** handle, int32_t id, int32_t record, int32_t row, bool may_grow);
// single false: the changed set is the outputs of the handler record at
// `record_or_code`; true: the one variable `record_or_code`.
int inst_mark_dependents(RuntimeBlock* b, int32_t id, int32_t record_or_code, bool single);

// Binds the handler call's built-ins (`cancel`) into their table rows.
int rt_handler_builtins_bind();

// The runtime's clock slots (3 to 5 of the host's slot buffer): the reading
// of slot `slot`, 0.0 without a clock.
double rt_clock_read(RuntimeBlock* b, int32_t slot, bool process_time, bool reset);
enum : int32_t { kClockSlotIdle = 3, kClockSlotHandler = 4 };
