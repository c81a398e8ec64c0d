// Building an instance's display list in the plot store: the runtime begins
// a list for a key, plot commands append at the build state's used count,
// and the runtime commits it. At most one list is built at a time.
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

int plotstore_begin_list(RuntimeBlock* b, int32_t key, bool fresh);
void plotstore_commit_list(RuntimeBlock* b);
// After the block grew: the list being built takes the new room, so that the
// plot command that overflowed fits when its handler runs again.
void plotstore_widen_list(RuntimeBlock* b);
void plotstore_free_subplot(RuntimeBlock* b, int32_t key);

// A plot handler may draw into several cells through `subplot`, so a list
// holds objects of several subplots, in the order they were opened. Whether
// the first `used` doubles of a list hold an object of subplot k:
bool plotlist_has_object(const double* list, int32_t used, int32_t k);
// Where the list's last record begins when it opens an object of subplot k
// (an object still empty), else -1.
int32_t plotlist_empty_object_at(const double* list, int32_t used, int32_t k);
