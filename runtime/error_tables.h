// The runtime's and the plot store's error tables, attached to the engine
// through the "+errmsgtable" rows of the engine's own built-in table.
#pragma once

#include "engine/core/errors.h"

constexpr int kRuntimeErrorRows = 58;
extern const ErrMsgEntry kRuntimeErrorTable[kRuntimeErrorRows + 1];
extern const ErrMsgEntry kPlotErrorTable[2];

// Binds both tables into their rows; must follow engine_start, which binds
// the engine's own table into the first row of the head.
int rt_error_tables_bind();
