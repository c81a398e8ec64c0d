// The debugger's state in the context: the breakpoint list, the interrupt
// mode, the echo target and a frame's suspended position, with the services
// that the debugger built-ins, the command line and the loop share.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

constexpr int32_t kEchoOff = -1;
constexpr int32_t kEchoAll = -2;
constexpr int kEchoTargetWord = 2;  // of EngineContext::dbg_word
constexpr int32_t kEchoDefaultFd = 2;
constexpr int32_t kBreakpointRoomStep = 8;  // entries the list grows by
constexpr int kBreakpointEntryBytes = 8;    // {function id i32, line i32}
static_assert(kBreakpointEntryBytes == 8, "one heap word per breakpoint");

// The user function of that name seen from the current frame's library: its
// id, or kUndefinedFunction raised with the name.
int dbg_find_function(EngineContext* ctx, const char* name, int32_t length, int32_t* id);

// Appends {function, line}; line below 1 means the function's entry.
int dbg_breakpoint_add(EngineContext* ctx, const char* name, int32_t length, int32_t line);
// name null: line < 0 empties the list, else removes the entry at that index
// (kArgOutOfRange outside it). A name: its entries at that line (every line
// when line < 0) go, the others keep their order.
int dbg_breakpoint_remove(EngineContext* ctx, const char* name, int32_t length, int32_t line);
// Entry i of the list (0 <= i < bp_count).
void dbg_breakpoint_get(EngineContext* ctx, int32_t i, int32_t* function_id, int32_t* line);
// True when the list holds an entry breakpoint of the function.
bool dbg_entry_breakpoint(EngineContext* ctx, int32_t function_id);

void dbg_set_interrupt_mode(EngineContext* ctx, int flag);
uint8_t dbg_get_interrupt_mode(EngineContext* ctx);
// on 0: echo off; on without a name: all code; with a name: that function.
int dbg_set_echo(EngineContext* ctx, int on, const char* name, int32_t length, int32_t fd);

// 1 when the current frame holds a suspended position, else 0.
int frame_pending_step_present(EngineContext* ctx);
// True when the current frame or one of its callers holds one.
bool frame_suspended_present(EngineContext* ctx);
// Unwinds the frames above the suspended one and makes its position the
// current one; kBadContext when nothing is suspended.
int frame_take_pending_step(EngineContext* ctx);
