// The plot store: one heap of doubles holding every instance's display list,
// keyed by instance id. Blocks tile the block area exactly; a block's first
// double is its signed length (negative = free), the second its key.
#pragma once

#include <cstddef>
#include <cstdint>

// Statuses of the store (the runtime's error table gives their texts).
enum : int {
  kPlotStoreExhausted = 10000,  // a resize below the used length
  kPlotOverflow = 10001,        // a list does not fit
};

// Header of the store; the block area of n doubles follows, then three spare
// doubles that never belong to a block.
struct PlotStore {
  int32_t n;
  uint8_t compacted;  // 1: no used block freed since the last compaction
  uint8_t unused[3];
};
static_assert(sizeof(PlotStore) == 8);
static_assert(offsetof(PlotStore, compacted) == 4);

// Doubles of a store that are not block area: the header double and the spare.
constexpr int32_t kPlotStoreOverhead = 4;
// Header doubles of a block (size, key) before its data.
constexpr int32_t kPlotBlockHead = 2;

// The block area's doubles; positions are indices into it.
double* plotstore_data(PlotStore* s);
double plotstore_at(const PlotStore* s, int32_t i);
void plotstore_put(PlotStore* s, int32_t i, double v);

void plotstore_init(PlotStore* s, int32_t total_doubles);
int plotstore_resize(PlotStore* s, int32_t total_doubles);
int plotstore_move(PlotStore* old_store, PlotStore* new_store, int32_t total_doubles);
int32_t plotstore_compact(PlotStore* s);
void plotstore_largest_free(PlotStore* s, int32_t* data_pos, int32_t* capacity, bool allow_compaction,
                            int32_t* total_free);
bool plotstore_find(PlotStore* s, int32_t key, int32_t* data_pos, int32_t* length);
void plotstore_free(PlotStore* s, int32_t key);
int plotstore_reserve(PlotStore* s, int32_t key, int32_t* data_pos, int32_t* used, int32_t* capacity);
void plotstore_write_block(PlotStore* s, int32_t key, int32_t data_pos, int32_t used);
void plotstore_free_tail(PlotStore* s, int32_t* data_pos, int64_t* bytes);
// The room of a list being built (a free block whose data begin at
// *data_pos, `used` of its *capacity doubles written) after the store grew:
// it takes in the free blocks that follow it, and moves to the largest free
// block when that one holds more. Never compacts: the list lies in free space.
void plotstore_widen_room(PlotStore* s, int32_t* data_pos, int32_t* capacity, int32_t used);

// True when the blocks tile the area exactly with whole lengths and no key
// has two used blocks; a store read from an image must pass it before use.
bool plotstore_check(const PlotStore* s);
