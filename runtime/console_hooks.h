// The console streams of the application's own table and standard input from
// the command panel. Descriptor 1 goes to the console sink's standard output,
// 2 and 3 to its standard error; the sink is a function and context pair that
// the host sets (the process's stdio until it does). Standard input is a
// three-state exchange with the host: the engine asks, the host supplies a
// line, the engine takes it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/context.h"

// The two streams of a console sink.
enum : int32_t { kConsoleOut = 1, kConsoleErr = 2 };

// write: the bytes to one stream, 0 or a status (kReadWriteError);
// flush: pushes out what the stream holds. Either may be null.
struct ConsoleSink {
  int (*write)(void* context, int32_t stream, const char* bytes, int32_t length);
  void (*flush)(void* context, int32_t stream);
  void* context;
};

// Replaces the sink (null: the process's stdio again) and reads it back.
void rt_console_set_sink(const ConsoleSink* sink);
ConsoleSink rt_console_sink();

// Hooks of the table's first section: "+write" and "+iocbuffering" own fds 1
// to 3, "+iocontrol" fds 1 and 2; any other descriptor kNotMyDescriptor.
int rt_console_write(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length, uintptr_t data);
int rt_console_buffering(EngineContext* ctx, int32_t fd, int32_t on, uintptr_t data);
int rt_console_control(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t* word, uintptr_t data);
// The "+write" of the "@Tarnivel" section: owns no descriptor.
int rt_refusing_write(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length, uintptr_t data);

// Holding standard error: while a step that may be run again runs, what it
// writes to standard error waits; ending the hold gives the text written
// since its mark, which the caller drops or passes on. Holds nest: text
// passed on inside an enclosing hold waits for that one.
int64_t rt_console_hold_errors();
std::string rt_console_take_errors(int64_t mark);
void rt_console_put_errors(const std::string& text);

// Standard input shared with the host's command panel: the state word, the
// pending text and its length. The host reads the wanted state, then stores
// a line and sets the state to ready.
enum : int32_t { kStdinIdle = 0, kStdinWanted = 1, kStdinReady = 2 };
struct StdinExchange {
  int32_t state;
  const char* text;
  int32_t length;
};
StdinExchange* rt_stdin_exchange();

// The "+read" hook of fd 0; its data word is the call context record. Only
// code run from the command panel (flag byte set) reads: elsewhere
// kBadContext. Without a ready line: kWaitInput and the wanted state. A CR
// is delivered as LF; a line longer than the buffer stays ready with its
// rest, so nothing typed is lost.
int rt_stdin_read(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, int32_t* count,
                  uintptr_t call_context);
