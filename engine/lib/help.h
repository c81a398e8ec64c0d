// help and lookfor: help text from the comment after a function's header in
// its source and from help files (one per library section, read through the
// "+readlib" hooks with the help extension), printed or searched.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// help, help(name): prints the help text on fd 1 (marked-up text on fd 4);
// with an output, true when there is help and nothing printed.
int bi_help(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// lookfor(word): one record on fd 4 for every entry whose name or summary
// line holds the word, ignoring case.
int bi_lookfor(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// The body of lookfor: searches every library's source and help file, then
// the help files of the registered sections, "ZVR" and "other".
int lookfor_search_all(EngineContext* ctx, const char* word, int32_t length);
