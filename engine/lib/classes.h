// User classes: value class names and the class, isobject, isa and methods
// intrinsics (opcodes 291 to 294).
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// True when the top item has a class name; the name is not zero-terminated.
bool value_class_name(EngineContext* ctx, const char** name, int32_t* length);

int bi_class(EngineContext* ctx, int nargin);
int bi_isobject(EngineContext* ctx);
int bi_isa(EngineContext* ctx);
int bi_methods(EngineContext* ctx, int nargout);

// Registers the four intrinsics as the handlers of their opcodes.
void classes_install();
