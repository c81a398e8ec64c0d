// The engine's part of program start-up: the block laid out, the engine's own
// table (with its error table) registered, the library flag and compiler
// settings of the program, the engine reset. The runtime and the test tools
// start an engine the same way, so row indices are always the real ones.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Lays out the engine in block and runs the start-up sequence up to the reset.
// The application runtime registers its own table and sets its user data and
// context resolver around this call, as its own start-up requires.
int engine_start(void* block, uint32_t size, EngineContext** out);
