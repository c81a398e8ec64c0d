// The operators of the base library registered as the handlers of their
// engine opcodes, so that compiled code reaches them through the
// interpreter's dispatch table (engine/core cannot name them itself).
#pragma once

// Registers the arithmetic, matrix, relational and logical operators, the
// array built-ins, the string, cell, list and structure intrinsics, the
// formatted input and output and the display for their opcodes. Program
// start-up calls it once before any code runs; calling it again changes
// nothing.
void engine_op_handlers_install();
