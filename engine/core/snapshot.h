// Engine snapshots: loading a saved engine state through a reader, laying the
// areas out again after the host copied the block into a larger one, and
// exporting a call (function item and arguments) into a flat buffer. An image
// is untrusted input: the loader accepts only a state it has fully checked.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/events.h"

// The 240-byte image header: little-endian 32-bit fields at these offsets.
enum ImageHeaderField : uint32_t {
  kImgDescTop = 0,
  kImgDataTop = 4,
  kImgHeapWords = 8,
  kImgFnCount = 12,
  kImgCodeWords = 16,  // code words behind the function table
  kImgSymbolBytes = 20,
  kImgFrame = 24,
  kImgPosKind = 28,
  kImgPosFlag = 32,
  kImgPosOffset = 36,
  kImgMainTask = 40,  // 40 words
  kImgTaskCurrent = 200,
  kImgTaskFirst = 204,
  kImgTaskNextId = 208,
  kImgTaskWord = 212,
  kImgSemWord0 = 216,
  kImgSemWord1 = 220,
  kImgDispWord1 = 224,
  kImgDispText = 228,  // three bytes
  kImgDispWord2 = 232,
  kImgDispFlag = 236,  // one byte: nonzero loads 0, zero loads -1
  kImageHeaderBytes = 240,
};
static_assert(kImgMainTask + 4 * kMainTaskWords == kImgTaskCurrent);

// Task record words that hold block offsets or link tasks, and the time
// words the loop's slicing reads (the record is 40 u32 words at the head of
// the task's heap block; the times are doubles over two words).
enum TaskRecordWord : int {
  kTaskDescBase = 0,
  kTaskDescCapacity = 1,
  kTaskDescTop = 2,
  kTaskFrame = 3,
  kTaskDataBase = 4,
  kTaskDataCapacity = 5,
  kTaskDataTop = 6,
  // The random generators, uniform {lcg, xs} then normal {lcg, xs}. The
  // main task's record holds the live ones in an image written while the
  // main task runs (the context's own generator words are not saved).
  kTaskRandom = 7,
  kTaskPosKind = 11,
  kTaskPosOffset = 13,
  kTaskNext = 25,
  kTaskId = 26,
  // How far past its time slice the context runs before the scheduler is
  // asked again (a float, seconds; 0 at every switch). Asked at the slice's
  // end, the scheduler kept the context running since no other could run:
  // asked again it would answer the same until a sleeping task is due or a
  // task is started. Not kept in images.
  kTaskSliceOverrun = 27,
  kTaskSliceUsed = 28,
  kTaskTotalUsed = 30,
  kTaskAccumulator = 32,
  kTaskPriority = 33,
  kTaskClockState = 34,
  kTaskSleepClockState = 35,
};
constexpr uint32_t kTaskRecordBytes = 4 * kMainTaskWords;

// Task priorities, and the cap on a scheduling accumulator (it gains a
// priority at every choice a context loses and must not wrap).
constexpr int32_t kTaskMinPriority = 1;
constexpr int32_t kTaskMaxPriority = 41;
constexpr int32_t kTaskAccumulatorCap = 1 << 30;

// The display digits an image may hold (the display's own bound).
constexpr int32_t kImageMaxDisplayDigits = 40;

// Bytes of one task clock state in a task's block: the host's state size,
// rounded up to 8. A task's block holds two (its slice lap and its sleep
// clock) between its record and its stacks.
inline int32_t task_clock_bytes(const EngineContext* c) { return (c->clock_state_size + 7) & ~7; }

// True when the chain over a saved heap's `words` words is whole and empty
// or ends in a block in use: the heap saved to the end of its last block in
// use, which is what a writer saves. (A live heap may end in free blocks of
// any size, zero included: an allocation one word short of a free block
// leaves a zero-size one.)
bool saved_heap_ends_in_use(const uint64_t* heap, int64_t words);

// Reader: copies `bytes` bytes into destination; nonzero when all were delivered.
using ImageReader = int (*)(void* destination, uint32_t bytes, void* arg);

// Area codes of engine_offsets_to_pointers (the areas' overflow statuses).
enum : int {
  kGrowDescriptors = 1,
  kGrowDescriptors2 = 2,
  kGrowData = 3,
  kGrowData2 = 4,
  kGrowHeap = 5,
  kGrowCode = 6,
};

// The context keeps block offsets, never pointers, so this is nothing to do;
// kept so that hosts can call the pair around copying the block.
void engine_pointers_to_offsets(EngineContext* ctx);

// After the host has copied the block into a larger one (new_size bytes):
// lays the areas out again, the gain going to the area named by `area` (any
// other value: the proportional layout). new_size 0 only confirms the block.
// Nonzero (600) when nothing could grow: the caller must not retry.
int engine_offsets_to_pointers(EngineContext* ctx, uint32_t new_size, int area);

// Loads an engine state image into a freshly initialised context. 305 header
// unreadable; 1, 3, 5, 6 too large (context unchanged); 600 damaged or
// unreadable sections or a header word out of its range (image_words.h), 6
// when the code found behind the table does not fit after all, and 5 when
// the heap has no room to give a task the clock states this host keeps (the
// context is then left empty and can be reset). Tasks' clocks restart.
int engine_load_image(EngineContext* ctx, ImageReader reader, void* arg);

// Call export for the event path: buffer size for the function item at
// fn_depth and the n items on top; then the buffer itself (a double holding
// n, then the function item and the arguments, deepest first, in flat form).
int stk_export_size(EngineContext* ctx, int fn_depth, int n, int64_t* size);
int stk_export_items(EngineContext* ctx, int fn_depth, int n, EventPoster* poster, void* buffer);

