// Shared by the interpreter's files: how each engine opcode is decoded
// (length, argument counts, whether it can run further code), the lookup of a
// library row by opcode with its security and class checks, and the task
// services in force. Nothing here is part of the engine's public surface.
// Internal to engine/core: nothing above the core includes it.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"

// The decoded description of one engine opcode.
struct OpDecode {
  uint8_t length;     // words of the instruction; 0 when a string operand decides
  uint8_t operands;   // plain operand words passed to a handler (at most 3)
  int8_t in_word;     // operand word holding nargin (1-based), 0: fixed count
  int8_t out_word;    // operand word holding nargout, 0: fixed count
  int8_t in_fixed;
  int8_t out_fixed;
  bool intrinsic;
  bool runs_code;     // may start further code: the position is stored first
};
const OpDecode& op_decode(uint32_t opcode);

// Handler arguments for the instruction at insn (opcode below 327).
void op_handler_args(const OpDecode& dec, const uint16_t* insn, int* a, int* b, int* c);

// Row k (opcode - 327) of the registered tables.
struct LibRow {
  const BuiltinEntry* row;
  int32_t table;  // position of its table in the list
  int32_t index;  // row number inside its table
};
// kNotSupported when k lies past the last row (or no table is registered).
int lib_row_lookup(EngineContext* ctx, int32_t k, LibRow* out);
// kSecurityViolation when a restricted frame may not call the row,
// kWrongArgType for a class method, kNotSupported for a marker or hook row;
// kOk when callable, and then the class id is set.
int lib_row_admit(EngineContext* ctx, const LibRow& r);

// True when the current frame is a restricted (sandboxed) frame.
bool frame_is_restricted(EngineContext* ctx);

// The task services in force (never null members).
const InterpTaskOps& interp_task_ops();

