// Registration of the intrinsic functions of the base library (elementary
// functions, class conversions and type tests, construction, shape,
// reductions, extremes and search, sorting and sets, streams) as the handlers of
// their opcodes.
#pragma once

// Registers each such opcode that has no handler yet, so that a handler
// installed earlier for the same opcode keeps precedence. Program start-up
// calls it after the operators' handlers, before any code runs.
void engine_intrinsic_handlers_install();
