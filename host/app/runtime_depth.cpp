// The depth counter; one thread, so a plain integer.
#include "host/app/runtime_depth.h"

namespace {
int g_depth = 0;
}

int host_runtime_depth() { return g_depth; }
RuntimeCallScope::RuntimeCallScope() { ++g_depth; }
RuntimeCallScope::~RuntimeCallScope() { --g_depth; }
