// The "+readlib" hook of the runtime: the source of an instance's own
// libraries ("_TN_" plus the instance's name) from its tag-43 records, so a
// library function whose code was dropped compiles again on its next call.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

inline constexpr const char kInstanceLibraryPrefix[] = "_TN_";

// The engine's SourceHookFn. Serves a library request ('l') for a name that
// begins with "_TN_": the rest of the name selects the instance by its name,
// and its tag-43 record whose name equals the whole requested name is the
// text (names compared case-sensitively). The extension must be the
// engine's library extension (or none): a help file is no record's. Anything
// else: 300, so the next hook is asked. A text larger than the buffer is never cut: 1 (stack
// overflow), on which the caller grows its room and asks again. *found
// receives the instance's debug flag.
int bi_tn_readlib(EngineContext* ctx, const char* name, const char* extension, uint32_t flags, char* buffer,
                  int32_t capacity, int32_t* length, int32_t* first_line, uint8_t* found, uintptr_t data);
