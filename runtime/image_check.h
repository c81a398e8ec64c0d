// Structure checks of the parts of a loaded image that later code walks: the
// record list, the name table and the instance records. Each answers true
// only for data that every reader of this subsystem can walk without
// leaving its area.
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

bool image_records_valid(RuntimeBlock* b);
bool image_names_valid(RuntimeBlock* b, int64_t loaded_bytes);
bool image_instances_valid(RuntimeBlock* b);
