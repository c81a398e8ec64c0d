// Streams over the data an application carries in its tag-42 records:
// `efopen` opens one read-only, in text or base64, and the engine's file
// functions read it through the four hooks here. The descriptor block and
// the 32 slots belong to the runtime block (its header), not the process.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

struct RuntimeBlock;

constexpr int32_t kEmbeddedSlots = 32;
constexpr int32_t kEmbeddedDescriptors = 1024;  // reserved from the engine at the first efopen

// One slot in 12 bytes, so that all 32 fit in the header's reserve (measured
// with 464 bytes free there before them): the instance id and the record's
// word offset in that instance's run (neither moves when the block grows or
// another instance goes), and a state word. The header is never saved, so
// images stay as they were and a loaded image starts with every slot closed.
// State word: bits 0-26 the read position (data bytes in text, where a seek
// may leave it past the end; source characters at the current base64 group
// in base64), bit 27 open, bit 28 base64, bit 29 end of the base64 data
// seen, bits 30-31 the bytes of the current base64 group already delivered
// (0 to 2).
struct EmbeddedSlot {
  int32_t instance_id;
  int32_t record;
  uint32_t state;
};
struct EmbeddedStreams {
  int32_t base;  // first descriptor, 0 before the first efopen
  EmbeddedSlot slot_table[kEmbeddedSlots];
};
static_assert(sizeof(EmbeddedSlot) == 12, "three words a slot");
static_assert(sizeof(EmbeddedStreams) == 388, "the base and 32 slots");

// The largest data a slot can address, and the farthest a text seek goes.
constexpr uint32_t kEmbeddedMaxBytes = (1u << 27) - 1;

// `efopen(name[, "text"|"base64"])`.
int bi_efopen(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// The hooks; data is the call context record. Descriptors outside the
// block's range answer kNotMyDescriptor.
int rt_embedded_write(EngineContext* ctx, int32_t fd, const char* bytes, int32_t length, uintptr_t data);
int rt_embedded_read(EngineContext* ctx, int32_t fd, char* buffer, int32_t capacity, int32_t* count,
                     uintptr_t data);
int rt_embedded_close(EngineContext* ctx, int32_t fd, uintptr_t data);
int rt_embedded_control(EngineContext* ctx, int32_t fd, uint32_t request, uint32_t* word, uintptr_t data);

// Closes the streams of one instance (it is closing), or every stream and
// the descriptor block (the engine was emptied or replaced by an image).
void rt_embedded_close_instance(RuntimeBlock* b, int32_t id);
void rt_embedded_reset(RuntimeBlock* b);
// Binds efopen and the hooks into their rows.
int rt_embedded_bind();
