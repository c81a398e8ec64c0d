// Stand-ins for the data exchange text and the variable dump until their
// own files join this tree: each answers 1000 "Not supported" and consumes
// what its caller expects it to. Delete this file when data_text.cpp and
// the dump services are merged (their definitions replace these).
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/dump_source.h"
#include "runtime/data_text.h"

int xdata_parse_header(RuntimeBlock*, int32_t, const char*, int32_t) { return kNotSupported; }
int xdata_write_data(RuntimeBlock*, bool, char*, int32_t, int32_t*) { return kNotSupported; }
int xdata_write_type(RuntimeBlock*, char*, int32_t, int32_t*, int32_t, int32_t) { return kNotSupported; }
int dump_variables_to_channel(EngineContext*, int32_t, bool) { return kNotSupported; }
