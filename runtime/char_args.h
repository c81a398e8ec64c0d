// Text arguments of the runtime's built-ins: a character value on the value
// stack as UTF-8, for names and paths handed to the host or compared with the
// UTF-8 names the records keep.
#pragma once

#include <string>

struct EngineContext;

// The character value at depth as UTF-8 in *out (replaced). kWrongArgType
// when the value there is not characters.
int char_arg_utf8(EngineContext* ctx, int depth, std::string* out);
