// The stream layer: every byte the engine writes or reads goes through a small
// integer descriptor that belongs to whichever library's "+" hook row accepts
// it. The engine owns no stream itself except the capture buffer (fd 5); it
// walks the hook rows of one name in search order until one does not answer
// kNotMyDescriptor, and applies the redirection of fds 1 and 2 exactly once.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/newline.h"


// Descriptor numbers with a fixed meaning.
enum : int32_t {
  kFdStdin = 0,
  kFdStdout = 1,
  kFdStderr = 2,
  kFdConsole3 = 3,  // third console stream
  kFdLookfor = 4,   // marked-up help and lookfor records
  kFdCapture = 5,   // the capture buffer in the context
  kFdFirstLibrary = 1024,  // first descriptor handed out by fd_alloc
};

// Hook row names.
inline constexpr const char kHookWrite[] = "+write";
inline constexpr const char kHookRead[] = "+read";
inline constexpr const char kHookClose[] = "+fclose";
inline constexpr const char kHookControl[] = "+iocontrol";
inline constexpr const char kHookBuffering[] = "+iocbuffering";

// The mode byte of a hook row is its first count byte (min_in).
// "+write": the end of line the stream wants (newline.h).
// "+read": 0 delivers one byte per call (a console line); anything else fills
// a buffer in one call.
enum : uint8_t {
  kReadBytePerCall = 0,
  kReadBuffered = 1,
};

// Control requests of "+iocontrol" and the meaning of the in/out word.
enum : uint32_t {
  kIoReqEof = 0,      // hook sets the word non-zero at end of file
  kIoReqSeekSet = 1,  // position := word from the beginning
  kIoReqSeekCur = 2,  // ... from the current position
  kIoReqSeekEnd = 3,  // ... from the end
  kIoReqTell = 4,     // hook sets the word to the position
  kIoReqFlush = 5,
  kIoReqClear = 6,    // clear the console
  kIoReqRawRead = 7,  // sent before a raw read of bytes; result ignored
};

// The hooks a library puts in the function field of its "+" rows. `user` is
// the row's data word, or the context's default data word when that is 0.
// Each returns 0, kNotMyDescriptor for a descriptor that is not its own, or
// a status that ends the search (kEndOfFile, kWaitRetry, kWaitInput, errors).
using StreamWriteHook = int (*)(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length,
                                uintptr_t user);
using StreamReadHook = int (*)(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity,
                               int32_t* count, uintptr_t user);
using StreamCloseHook = int (*)(EngineContext* ctx, int32_t fd, uintptr_t user);
using StreamControlHook = int (*)(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t* word,
                                  uintptr_t user);
using StreamBufferingHook = int (*)(EngineContext* ctx, int32_t fd, int32_t on, uintptr_t user);

// A hook row for a built-in table. The hook is stored in the function field
// and called back through its own type; `mode` is the row's mode byte.
template <typename Hook>
inline BuiltinEntry stream_hook_row(const char* name, Hook hook, uint8_t mode, uintptr_t data = 0) {
  BuiltinEntry e{};
  // Through the generic function type: the row only carries the hook.
  e.fn = reinterpret_cast<BuiltinFn>(reinterpret_cast<void (*)()>(hook));
  e.data = data;
  for (int i = 0; i < int(sizeof e.name) - 1 && name[i]; ++i) e.name[i] = name[i];
  e.min_in = mode;
  return e;
}

// Writes length bytes (-1: up to the terminating zero) to fd.
int io_write(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length);
// Writes one number in the engine's display format.
int io_printf(EngineContext* ctx, int32_t fd, double value);
// Ends a line in the end-of-line mode of each accepting hook row.
int io_newline(EngineContext* ctx, int32_t fd);
// Starts (on = 1) or ends (on = 0, which flushes) a burst of output.
int io_set_buffering(EngineContext* ctx, int32_t fd, int32_t on);
// Sends a control request; the in/out word starts as value. Request kIoReqEof
// sets *out_flag, kIoReqTell sets *out_word (each may be null).
int io_control(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t value, uint32_t* out_word,
               uint8_t* out_flag);
// Reads at most capacity bytes; in line mode a byte-per-call stream is read up
// to and including its end of line (stored as a line feed). *count is set to
// the bytes delivered, also when the status is kWaitRetry or another error.
int io_read(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, uint8_t line_mode,
            int32_t* count);
// Closes fd through the "+fclose" hooks. kCloseAllFd is offered to every
// row, each closing all its own; the status is then the first failure or 0.
constexpr int32_t kCloseAllFd = -1;
int io_fclose(EngineContext* ctx, int32_t fd);
// Redirects fd 1 or 2 to target (target == fd: not redirected); with copy the
// output goes to fd first and then to target.
int io_set_redirect(EngineContext* ctx, int32_t fd, int32_t target, uint8_t copy);
// Reserves n consecutive descriptors and returns the first; they are never
// given back. -1 (nothing reserved) for a negative n or when the numbers run out.
int32_t fd_alloc(EngineContext* ctx, int32_t n);

// Streams opened on this thread, so that a run that is undone (state_copy.h)
// closes what it opened: a library that opens a stream notes its
// descriptor; io_opens_mark tells how many were noted so far, and
// io_close_opened_since closes those noted after a mark (at most the last
// kNotedOpens of them; a descriptor already closed again is passed over).
constexpr int kNotedOpens = 64;
void io_note_open(int32_t fd);
uint64_t io_opens_mark();
void io_close_opened_since(EngineContext* ctx, uint64_t mark);

