// The host's "!lapack" section registered in an engine as a table of its
// own, in front of the engine's rows of the same names, as start-up does:
// code compiled after the call reaches LAPACK.
#pragma once

#include <cstring>

#include "engine/core/context.h"
#include "host/builtin_table_host.h"

inline int register_lapack_section(EngineContext* c) {
  static BuiltinEntry section[32];
  const BuiltinEntry* t = g_builtin_table_host;
  int start = 0;
  while (std::strcmp(t[start].name, "!lapack") != 0) ++start;
  int k = 0;
  do section[k] = t[start + k], ++k;
  while (t[start + k].name[0] != '@' && t[start + k].name[0] != '!' && t[start + k].name[0]);
  section[k] = BuiltinEntry{};
  return engine_register_builtin_table(c, section, 1);
}
