// Literal values read from text: str2obj and the readers of data written by
// the dump. The text is compiled in a workspace of its own (nothing it names
// stays behind) and run only when every instruction it compiled to builds a
// constant; anything else (a call of a function that may act, an assignment,
// a variable read) is refused with kBadArgument and nothing of it runs.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// str2obj(text): the values the text builds, exactly nargout of them
// (kTooFewOutputs / kTooManyOutputs when it builds more / fewer).
int bi_str2obj(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// Compiles text (8-bit) into a code block above a new frame, sets the code
// position to it and checks it: *value_count gets the values it leaves. On
// kBadArgument (refused) or a compile error the frame is gone again and the
// code position restored.
int literal_compile(EngineContext* ctx, const char* text, int32_t length, int32_t* value_count);

// For a caller outside the interpreter (the engine idle): compiles and
// checks text, which must build exactly one value (kTooManyInputs
// otherwise), runs it to completion and leaves the value on top. Any failure
// leaves the stacks and the code position as they were.
int literal_read_value(EngineContext* ctx, const char* text, int32_t length);
