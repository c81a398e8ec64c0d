// The lists that info(kind) and inmem print or return: variables, user
// functions, libraries, global and persistent variables, libraries in use,
// built-ins, operators and engine threads.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// The kind letters info takes.
inline constexpr char kInfoKinds[] = "vfmlgpubot";
// inmem's kind (the loaded functions): no letter names it.
constexpr char kInmemKind = '\0';
// The data words of the info and inmem rows.
constexpr uintptr_t kInfoData = 'i';
constexpr uintptr_t kInmemData = 'm';

bool info_kind_known(char kind);

// Prints the list of that kind on fd 1 (nargout < 1), or pushes it as a list
// (of structures, or of names for 'l', 'g', 'p' and 'u'). kUnknownOption for
// any other kind; on failure nothing is left pushed.
int info_list(EngineContext* ctx, char kind, int nargout);
