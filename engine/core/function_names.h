// Names of functions for messages and listings: the bare name of a function
// id, its qualified name (library "/", "." when private, class "::", name),
// and the name and line of the code where the last error was located.
// Every writer stops at its buffer's capacity and ends the text with a zero.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Function ids with a meaning of their own.
constexpr int32_t kFunctionNone = -1;
constexpr int32_t kFunctionInline = -2;

// Bare name of a function-table entry: "(base)" for entry 0, "(none)" for a
// negative or unknown id, "(inline)" for inline code. Not zero-terminated.
void fn_name_by_id(EngineContext* ctx, int32_t id, const char** text, int32_t* length);

// Qualified name of an id into buffer (capacity size, zero-terminated).
void fn_name_and_line(EngineContext* ctx, int32_t id, char* buffer, int32_t size, int32_t* length);

// The qualified name of the function at the error location (empty when no
// function is known) and the failing-operation name, each into its buffer
// when one is given; returns the location's line (0 or less: none known).
int32_t code_function_name(EngineContext* ctx, char* buffer, int32_t size, char* operation,
                           int32_t operation_size);
