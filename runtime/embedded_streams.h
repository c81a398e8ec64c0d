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

// The slot table is the process's (32 slots shared by every block in it);
// each slot names the block that opened it by the host's block word, which
// stays the same while the block grows and moves. A slot: that owner, the
// instance id and the record's word offset in that instance's run (neither
// moves when the block grows or another instance goes), and a state word.
// The descriptor base is the engine's, so it stays in the block's header.
// State word: bits 0-26 the read position (data bytes in text, where a seek
// may leave it past the end; source characters at the current base64 group
// in base64), bit 27 open, bit 28 base64, bit 29 end of the base64 data
// seen, bits 30-31 the bytes of the current base64 group already delivered
// (0 to 2).
struct EmbeddedSlot {
  const void* owner;  // the host's block word; null for a closed slot
  int32_t instance_id;
  int32_t record;
  uint32_t state;
};

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

// Closes the streams of one instance (it is closing), or every stream of the
// block and its descriptor block (the block is laid out, or its engine was
// emptied or replaced by an image).
void rt_embedded_close_instance(RuntimeBlock* b, int32_t id);
void rt_embedded_reset(RuntimeBlock* b);
// The slot a descriptor of this block names, null when none (for tests).
const EmbeddedSlot* rt_embedded_slot(RuntimeBlock* b, int32_t fd);
// Binds efopen and the hooks into their rows.
int rt_embedded_bind();
