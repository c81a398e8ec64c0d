// The stream intrinsics by descriptor: lines (fgetl, fgets), bytes (fread,
// sread, fwrite, swrite, bwrite), closing, redirection of fds 1 and 2, and
// the control requests (fflush, fseek, ftell, feof, clc). Opening belongs to
// the file library, which owns the descriptors it hands out.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

enum class ByteWriteKind { kStream, kChars, kBytes };

// fwrite (fd, data [, precision]), swrite (data [, precision]) and bwrite.
int bi_fwrite_family(EngineContext* ctx, int nargin, ByteWriteKind kind);
// fread (fd [, size [, precision]]) and sread (bytes [, size [, precision]]).
int bi_fread_sread(EngineContext* ctx, int nargin, int nargout, bool from_stream);

// The opcodes above in the interpreter's handler shape: selector = the
// opcode, a = nargin, b = nargout. Register each of kStreamOpcodes with
// op_stream_io and the opcode as its selector.
int op_stream_io(EngineContext* ctx, int32_t selector, int nargin, int nargout, int unused);
constexpr int kStreamOpcodeCount = 14;
extern const uint16_t kStreamOpcodes[kStreamOpcodeCount];
