// Shared by the files of the interaction code, not by its callers: handler
// slots resolved for an element, and the small helpers every entry uses.
#pragma once

#include <cstdint>

#include "runtime/instances.h"
#include "runtime/layout.h"

// The record position of subplot k's mouse handler of `tag` (26 to 35) for
// the element `element` (-1: records for any element), or kNoHandler. The
// slots are resolved afresh from the record list, never from the subplot's
// cached words, since the element decides which record applies.
int32_t interact_handler(RuntimeBlock* b, int32_t id, int32_t k, int32_t tag, int32_t element);

// Runs one mouse handler of the instance with the event state of the block.
// msg: the status text buffer (may be null).
int interact_run_handler(RuntimeBlock** handle, int32_t id, int32_t record, int32_t subplot, char* msg,
                         int32_t msg_capacity, int32_t* msg_length);
