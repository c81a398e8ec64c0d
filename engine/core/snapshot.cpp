// Loading engine state images and laying the areas out again in a grown
// block. The loader trusts nothing in an image: sizes are tested before any
// change, and after reading every structure that later code walks (heap
// chain, frames, function table, symbols, tasks) is checked; a damaged image
// leaves an empty context that engine_reset accepts.
#include "engine/core/snapshot.h"

#include <bit>
#include <cstring>

#include "engine/core/call_cache.h"
#include "engine/core/checked.h"
#include "engine/core/code_position.h"
#include "engine/core/code_verify.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/image_words.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"

static_assert(std::endian::native == std::endian::little,
              "image sections are read straight into the areas");

namespace {

constexpr int kDescWords = 3;
constexpr int kEntryWords = kFnEntryWords;
constexpr uint32_t kEntryCodeWords = 8;  // 16-bit code words per table entry
constexpr int32_t kKindLibrary = 0;
constexpr int32_t kKindVariable = 1;
constexpr uint32_t kLibraryIndexMask = 0x3fffffffu;
constexpr uint16_t kUseListDeleted = 0xffff;
constexpr int kFnCapacityDivisor = 256;  // new code words per table entry on growth
constexpr int64_t kTaskRecordHeapWords = kTaskRecordBytes / 8;
constexpr int64_t kStaticTaskEnd = 2;  // bytes: the task end of the static code, where a task's first call returns

// Data words of a descriptor read from an image: the product of two hostile
// 32-bit sizes is capped, far above any real data top, so sums cannot wrap.
constexpr uint64_t kWordsCap = uint64_t(1) << 36;
int64_t data_words64(uint32_t kind, uint32_t a, uint32_t b) {
  if (kind & 62) return a;
  uint64_t n = uint64_t(a) * b;
  if (n > kWordsCap) n = kWordsCap;
  return int64_t((kind & 1) ? 2 * n : n);
}

int64_t half_up(int64_t bytes) { return (bytes + 1) / 2; }

// --- The main task's stacks -------------------------------------------------
// While another task runs, the context's stack fields are that task's and the
// main task's stacks are described by its record.

struct MainStacks {
  uint32_t desc_base, desc_capacity;
  int32_t desc_top;
  uint32_t data_base, data_capacity;
};

MainStacks main_stacks(const EngineContext* c) {
  if (c->task_current == 0)
    return {c->desc_base.v, c->desc_capacity, c->desc_top, c->data_base.v, c->data_capacity};
  const uint32_t* r = c->main_task;
  return {r[kTaskDescBase], r[kTaskDescCapacity], int32_t(r[kTaskDescTop]), r[kTaskDataBase],
          r[kTaskDataCapacity]};
}

void set_main_stacks(EngineContext* c, uint32_t desc_base, uint32_t desc_capacity, uint32_t data_capacity) {
  if (c->task_current == 0) {
    c->desc_base.v = desc_base;
    c->desc_capacity = desc_capacity;
    c->data_capacity = data_capacity;
  } else {
    c->main_task[kTaskDescBase] = desc_base;
    c->main_task[kTaskDescCapacity] = desc_capacity;
    c->main_task[kTaskDataCapacity] = data_capacity;
  }
}

// Start of the data area: the registration lists, when there are any, lie
// ahead of the data stack.
uint32_t data_area_start(const EngineContext* c, uint32_t data_base) {
  uint32_t start = data_base;
  if (c->table_count > 0 && c->tables.v && c->tables.v < start) start = c->tables.v;
  if (c->named_count > 0 && c->named.v && c->named.v - 8 < start) start = c->named.v - 8;
  return start;
}

// Adds delta to the positive code offsets of functions and library use-lists.
// A variable's entry keeps a heap index in the same word and is left alone.
void shift_code_offsets(EngineContext* c, int64_t delta) {
  for (int32_t id = 1; id < c->fn_count; ++id) {
    uint32_t* e = fn_entry(c, id);
    const int32_t kind = int32_t(e[0]);
    if ((kind < 0 || kind == kKindLibrary) && int32_t(e[2]) > 0) e[2] = uint32_t(int64_t(e[2]) + delta);
  }
}

// --- Checking a loaded image ------------------------------------------------

struct Loaded {
  int64_t desc_top, data_top, heap_words, fn_count, code_words, symbol_bytes;
  int32_t frame;
  CodePosition pos;
  int32_t task_current, task_first;
  int32_t sem_index, sem_capacity;
};

class ImageCheck {
 public:
  ImageCheck(EngineContext* c, const Loaded& l, uint64_t* scratch, int64_t scratch_words)
      : c_(c), l_(l), heap_(heap_words(c)), code_(c, scratch, scratch_words) {}

  bool code_short_of_room() const { return code_.short_of_room(); }
  bool all() {
    return heap_chain() && symbols() && functions() && code_.verify_area() && semaphores() &&
           frames(main_stacks()) && code_position(l_.pos.kind, l_.pos.offset, main_stacks()) && tasks();
  }

  // The stacks of one context (the main one or a task's) as frames() walks them.
  struct Stacks {
    const uint32_t* desc;
    int64_t desc_top, data_top;
    int32_t frame;
    bool task;  // a task's stacks end at a first frame instead of a base frame
  };
  Stacks main_stacks() const { return {desc_words(c_), l_.desc_top, l_.data_top, l_.frame, false}; }

  // A stored position that code resumes at: an instruction start of verified
  // code, or a place inside its area for code run from the stacks or the heap
  // (code that eval and function values carry, checked where they run).
  bool code_position(int64_t kind, int64_t offset, const Stacks& s) const {
    if (kind == kAreaNone) return true;
    if (offset % 2 != 0) return false;
    switch (kind) {
      case kAreaCode: return code_.instruction_start(offset / 2);
      case kAreaDataStack: return offset < s.data_top * 8;
      case kAreaHeap: return offset < l_.heap_words * 8;
      case kAreaStatic: return offset == kStaticHaltOffset || offset == kStaticTaskEnd;
      default: return false;
    }
  }

  // Headers use their low 32 bits only; anything above marks a damaged image.
  // The heap is saved to the end of its last block in use and the loader
  // makes the rest one free block: a saved heap that ends in a free block
  // (a zero-size one past a block one word short, say) is no heap a writer
  // saved, and would leave the loaded heap's free end in pieces.
  bool heap_chain() const {
    bool clean = true;
    const bool whole = heap_walk(heap_, l_.heap_words, [&](int64_t, int64_t, uint64_t h) { clean &= (h >> 32) == 0; });
    return whole && clean && saved_heap_ends_in_use(heap_, l_.heap_words);
  }

  // A value block: an in-use block whose 16-byte header describes data that fit.
  bool value_block(int64_t index) const {
    if (!heap_is_used_block(heap_, l_.heap_words, index)) return false;
    const int64_t size = heap_header_size(heap_header(heap_, index - 1));
    if (size < kHeapValueHeaderWords) return false;
    const uint8_t* h = reinterpret_cast<const uint8_t*>(heap_ + index);
    const int64_t n = data_words64(tn::ld_u32(h), tn::ld_u32(h + 4), tn::ld_u32(h + 8));
    return n >= 0 && n + kHeapValueHeaderWords <= size;
  }

  // A local's value block that is a borrowed argument's link (no entry, a
  // lender block) must name a value block that is no link itself.
  // The words of a link block, as var_blocks.h lays it out.
  static constexpr uint32_t kLinkDataWords = 4;
  static constexpr int kLinkEntry = 6;
  static constexpr int kLinkLender = 7;
  bool lent_block(int64_t index) const {
    const uint8_t* h = reinterpret_cast<const uint8_t*>(heap_ + index);
    if (tn::ld_u32(h) != kKindReference) return true;
    if (tn::ld_u32(h + 4) < uint32_t(kLinkDataWords)) return false;  // a link's words are read
    if (tn::ld_u32(h + 4 * kLinkEntry) != 0) return true;
    const int64_t lender = tn::ld_u32(h + 4 * kLinkLender);
    if (lender == 0) return true;  // a link without its entry reads as undefined
    return value_block(lender) && tn::ld_u32(reinterpret_cast<const uint8_t*>(heap_ + lender)) != kKindReference;
  }

  const uint8_t* code_end() const {
    return reinterpret_cast<const uint8_t*>(code_words(c_)) + int64_t(c_->code_size) * 2;
  }

  // The symbol area is a packed run of {length, characters} records that ends
  // exactly at the end of the code area.
  bool symbols() const {
    int64_t at = -l_.symbol_bytes;
    while (at < 0) at += 1 + code_end()[at];
    return at == 0;
  }

  bool symbol(int64_t s) const {
    return s >= -l_.symbol_bytes && s < 0 && s + 1 + code_end()[s] <= 0;
  }
  bool symbol_or_zero(int64_t s) const { return s == 0 || symbol(s); }

  bool code_offset(int64_t off) const {
    return off >= int64_t(c_->fn_capacity) * kEntryCodeWords && off < int64_t(c_->code_free);
  }

  bool use_list(int64_t off) const {
    if (!code_offset(off)) return false;
    const uint16_t* code = code_words(c_);
    const int64_t count = code[off];
    if (off + 1 + count > int64_t(c_->code_free)) return false;
    for (int64_t k = 0; k < count; ++k) {
      const uint16_t lib = code[off + 1 + k];
      if (lib != kUseListDeleted && lib >= l_.fn_count) return false;
    }
    return true;
  }

  bool functions() const {
    const uint32_t* zero = fn_entry(c_, 0);
    if (zero[0] || zero[1] || zero[2] || zero[3]) return false;
    for (int64_t id = 1; id < l_.fn_count; ++id) {
      const uint32_t* e = fn_entry(c_, int(id));
      const int32_t kind = int32_t(e[0]);
      const int32_t third = int32_t(e[2]);
      const int32_t fourth = int32_t(e[3]);
      if (kind < 0) {
        const int64_t lib = e[1] & kLibraryIndexMask;
        if (!symbol(kind) || lib >= l_.fn_count) return false;
        if (lib != 0 && int32_t(fn_entry(c_, int(lib))[0]) != kKindLibrary) return false;
        if (third != -1 && third != 0 && !code_offset(third)) return false;
        if (!symbol_or_zero(fourth)) return false;
      } else if (kind == kKindLibrary) {
        if (!symbol(int32_t(e[1])) || fourth != 0) return false;
        if (third != -1 && third != 0 && !use_list(third)) return false;
      } else if (kind == kKindVariable) {
        if (!symbol(int32_t(e[1]))) return false;
        if (third != -1 && !value_block(third)) return false;
        if (fourth != -1 && (fourth < 1 || fourth >= l_.fn_count)) return false;
      } else {
        return false;
      }
    }
    return true;
  }

  // Sums the data words of the items whose descriptors lie in [from, to).
  static bool items(const uint32_t* d, int64_t from, int64_t to, int64_t* sum) {
    if (from > to || (to - from) % kDescWords != 0) return false;
    for (int64_t k = from; k < to; k += kDescWords) *sum += data_words64(d[k], d[k + 1], d[k + 2]);
    return true;
  }

  // From the current frame down to the base frame at word 0: every frame's
  // fixed part fits below the frame above it, its locals are value blocks,
  // the positions it resumes at are sound, and the items between frames
  // account for the whole data stack.
  bool frames(const Stacks& s) const {
    int64_t data = 0;
    if (s.frame == -1) return items(s.desc, 0, s.desc_top, &data) && data == s.data_top;
    int64_t index = s.frame;
    int64_t upper = s.desc_top;
    for (;;) {
      if (index < 0 || index + kFrameFixedWords > upper) return false;
      const uint32_t* w = s.desc + index;
      const int32_t locals = int32_t(w[kFwLocals]);
      const int32_t named = int32_t(w[kFwFrameNames]);
      if (locals < 0 || named < 0 || (named >= 1 && locals > named)) return false;
      const int64_t fixed = frame_fixed_words(w);
      if (fixed > upper - index) return false;
      if (!name_table(int32_t(w[kFwNameTable]), locals, s)) return false;
      for (int32_t k = 0; k < locals; ++k) {
        const int32_t slot = int32_t(w[kFrameFixedWords + k]);
        if (slot != -1 && (!value_block(slot) || !lent_block(slot))) return false;
      }
      if (!items(s.desc, index + fixed, upper, &data) || data > s.data_top) return false;
      if (!code_position(int32_t(w[kFwCatchKind]), w[kFwCatchOffset], s) ||
          !code_position(int32_t(w[kFwSuspendKind]), w[kFwSuspendOffset], s))
        return false;
      if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame) return index == 0 && data == s.data_top;
      if (!code_position(int32_t(w[kFwCallerKind]), w[kFwCallerOffset], s)) return false;
      const int64_t prev = index - int32_t(w[kFwPrevDistance]);
      if (prev >= index) return false;
      if (prev == -1 && s.task) return items(s.desc, 0, index, &data) && data == s.data_top;
      upper = index;
      index = prev;
    }
  }

  // A local-name table outside the frame must lie in the code area or on
  // the data stack with room for every local's 32-byte name.
  bool name_table(int32_t where, int32_t locals, const Stacks& s) const {
    const int64_t bytes = int64_t(kFrameNameBytes) * locals;
    if (where > 0) return int64_t(where) * 2 + bytes <= int64_t(c_->code_size) * 2;
    if (where < -1) return -int64_t(where) + bytes <= s.data_top * 8;
    return true;
  }

  // The semaphore table: none (index 0 or -1), or an in-use heap block that
  // holds its head word and every entry its capacity counts.
  static constexpr int64_t kSemHeadWords = 1;
  bool semaphores() const {
    const int64_t index = l_.sem_index;
    if (index == 0 || index == -1) return true;
    const int64_t capacity = l_.sem_capacity;
    if (!heap_is_used_block(heap_, l_.heap_words, index) || capacity < 1) return false;
    return kSemHeadWords + capacity <= heap_header_size(heap_header(heap_, index - 1));
  }

  // Tasks run from records in heap blocks; the list must name in-use blocks
  // large enough for a record and must not loop.
  bool tasks() const {
    if (l_.task_current != 0) return false;  // the stacks in the image would be a task's
    int64_t index = l_.task_first;
    for (int64_t seen = 0; index != 0; ++seen) {
      if (seen > l_.heap_words / (kTaskRecordHeapWords + 1)) return false;
      if (!heap_is_used_block(heap_, l_.heap_words, index)) return false;
      if (heap_header_size(heap_header(heap_, index - 1)) < kTaskRecordHeapWords) return false;
      index = int32_t(tn::ld_u32(reinterpret_cast<const uint8_t*>(heap_ + index) + 4 * kTaskNext));
    }
    return true;
  }

 private:
  EngineContext* c_;
  const Loaded& l_;
  const uint64_t* heap_;
  CodeVerifier code_;
};

// Task records keep their stacks and clock states as offsets in the writer's
// layout, where the clock states lie right behind the record; they are moved
// by the distance between the writer's and this block's place of the record,
// and must then lie inside the record's block, behind the record; the stacks
// and the position they hold pass the checks the main ones do. The clock
// states become this host's, right behind the record, where the writer's
// leave room for them (a writer without a clock leaves none: its tasks are
// moved to larger blocks afterwards, by give_clock_room).
bool relocate_tasks(EngineContext* c, const ImageCheck& check) {
  uint64_t* heap = heap_words(c);
  const int64_t clocks = 2 * int64_t(task_clock_bytes(c));
  for (int32_t index = c->task_first; index != 0;) {
    uint32_t r[kMainTaskWords];
    uint8_t* at = reinterpret_cast<uint8_t*>(heap + index);
    std::memcpy(r, at, sizeof r);
    if (image_words_broken(at, kTaskRecordWords, kTaskRecordWordRows) >= 0) return false;
    const int64_t record = int64_t(c->heap_base.v) + int64_t(index) * 8;
    const int64_t block_end = record + heap_header_size(heap_header(heap, index - 1)) * 8;
    const int64_t behind = record + kTaskRecordBytes;  // the first byte behind the record
    const int64_t delta = behind - int64_t(r[kTaskClockState]);
    const int64_t desc = int64_t(r[kTaskDescBase]) + delta;
    const int64_t data = int64_t(r[kTaskDataBase]) + delta;
    const int64_t desc_end = desc + int64_t(r[kTaskDescCapacity]) * 4;
    const int64_t data_end = data + int64_t(r[kTaskDataCapacity]) * 8;
    if (desc < behind || data < behind || desc_end > block_end || data_end > block_end) return false;
    if (desc % 4 != 0 || data % 8 != 0) return false;
    if (desc < data_end && data < desc_end) return false;  // the two stacks overlap
    if (r[kTaskDescTop] > r[kTaskDescCapacity] || r[kTaskDataTop] > r[kTaskDataCapacity]) return false;
    const int32_t frame = int32_t(r[kTaskFrame]);
    if (frame < -1 || frame >= int32_t(r[kTaskDescTop])) return false;
    const ImageCheck::Stacks stacks{reinterpret_cast<const uint32_t*>(ctx_bytes(c) + desc), r[kTaskDescTop],
                                    r[kTaskDataTop], frame, true};
    if (!check.frames(stacks) || !check.code_position(int32_t(r[kTaskPosKind]), r[kTaskPosOffset], stacks))
      return false;
    const bool room = (desc < data ? desc : data) - behind >= clocks;
    // Without room the clock words name the record's end: give_clock_room
    // moves the task before any clock is read.
    r[kTaskClockState] = uint32_t(behind);
    r[kTaskSleepClockState] = uint32_t(room ? behind + clocks / 2 : behind);
    r[kTaskDescBase] = uint32_t(desc);
    r[kTaskDataBase] = uint32_t(data);
    std::memcpy(at, r, sizeof r);
    index = int32_t(r[kTaskNext]);
  }
  return true;
}

// A relocated task whose stacks begin closer behind its record than this
// host's two clock states need is moved to a new block laid out as a task
// made here would be (record, clock states, data stack, descriptor stack),
// its stacks' capacities and contents kept. 5 when the heap has no room for
// the new block (a larger heap would have).
int give_clock_room(EngineContext* c) {
  const int64_t clock = task_clock_bytes(c);
  uint8_t* b = ctx_bytes(c);
  for (int32_t prev = 0, index = c->task_first; index != 0;) {
    uint32_t r[kMainTaskWords];
    std::memcpy(r, heap_words(c) + index, sizeof r);
    const int64_t behind = r[kTaskClockState];
    const int64_t stacks = r[kTaskDescBase] < r[kTaskDataBase] ? r[kTaskDescBase] : r[kTaskDataBase];
    int32_t keep = index;
    if (stacks - behind < 2 * clock) {
      const int64_t data_bytes = int64_t(r[kTaskDataCapacity]) * 8, desc_bytes = int64_t(r[kTaskDescCapacity]) * 4;
      TN_TRY(heap_alloc(c, (kTaskRecordBytes + 2 * clock + data_bytes + desc_bytes + 7) / 8, &keep));
      const int64_t record = int64_t(c->heap_base.v) + int64_t(keep) * 8;
      const int64_t data = record + kTaskRecordBytes + 2 * clock, desc = data + data_bytes;
      std::memcpy(b + data, b + r[kTaskDataBase], size_t(r[kTaskDataTop]) * 8);
      std::memcpy(b + desc, b + r[kTaskDescBase], size_t(r[kTaskDescTop]) * 4);
      r[kTaskClockState] = uint32_t(record + kTaskRecordBytes);
      r[kTaskSleepClockState] = uint32_t(record + kTaskRecordBytes + clock);
      r[kTaskDataBase] = uint32_t(data);
      r[kTaskDescBase] = uint32_t(desc);
      std::memcpy(b + record, r, sizeof r);
      if (prev == 0) c->task_first = keep;
      else tn::st_u32(reinterpret_cast<uint8_t*>(heap_words(c) + prev) + 4 * kTaskNext, uint32_t(keep));
      heap_free(c, index);
    }
    prev = keep;
    index = int32_t(r[kTaskNext]);
  }
  return kOk;
}

// The writer's clock states mean nothing here: every task's laps start at
// the load (a task asleep sleeps its time again from now).
constexpr int kClockRestartLap = 1;  // the clock's mode 1: read and restart the lap
void restart_task_clocks(EngineContext* c) {
  uint8_t* b = ctx_bytes(c);
  const int32_t clock = task_clock_bytes(c);
  for (int32_t index = c->task_first; index != 0;) {
    const uint8_t* r = reinterpret_cast<const uint8_t*>(heap_words(c) + index);
    for (int word : {int(kTaskClockState), int(kTaskSleepClockState)}) {
      uint8_t* state = b + tn::ld_u32(r + 4 * word);
      std::memset(state, 0, size_t(clock));
      if (c->clock_fn) c->clock_fn(state, 0, kClockRestartLap);
    }
    index = int32_t(tn::ld_u32(r + 4 * kTaskNext));
  }
}

// Leaves the context empty after a failed load: nothing that engine_reset
// walks (heap chain, function table) is left damaged.
int fail_load(EngineContext* c, int32_t fn_capacity, int status) {
  call_cache_clear();
  heap_set_header(heap_words(c), 0, uint64_t(c->heap_size - 1));
  heap_hint_reset(c);
  c->fn_capacity = fn_capacity;
  c->fn_count = 1;
  std::memset(fn_entry(c, 0), 0, kEntryWords * 4);
  c->code_free = uint32_t(fn_capacity) * kEntryCodeWords;
  c->sym_extent = 0;
  c->desc_top = 0;
  c->data_top = 0;
  c->frame = -1;
  c->pos = CodePosition{kAreaNone, 0, 0};
  return status;
}

// writer_capacity when the writer's table and code do not fit this code area.
constexpr int64_t kWriterLayoutTooLarge = -1;

// The writer's table capacity: its code begins right behind its table, so
// the smallest code offset in the table tells it. 0 when the table tells
// nothing (no code yet, or offsets no table explains, which the image check
// refuses); kWriterLayoutTooLarge when that table and the code behind it do
// not fit this code area: the entries' offsets hold only behind the writer's
// table, so the area must grow (a table of this block's own capacity would
// leave every offset pointing elsewhere).
int64_t writer_capacity(EngineContext* c, int64_t fn_count, int64_t code_bytes_needed) {
  int64_t smallest = 0;
  for (int64_t id = 1; id < fn_count; ++id) {
    const uint32_t* e = fn_entry(c, int(id));
    const int32_t kind = int32_t(e[0]);
    const int32_t off = int32_t(e[2]);
    if ((kind < 0 || kind == kKindLibrary) && off > 0 && (smallest == 0 || off < smallest)) smallest = off;
  }
  if (smallest == 0 || smallest % kEntryCodeWords != 0 || smallest < kEntryCodeWords * fn_count) return 0;
  if (smallest + code_bytes_needed > int64_t(c->code_size)) return kWriterLayoutTooLarge;
  return smallest / kEntryCodeWords;
}

}  // namespace

// --- Header word ranges -------------------------------------------------------

// Every field of the 240-byte header. The six section sizes are unsigned
// counts, any value of which the checks against the block below judge with
// their own statuses (a size past the block is an overflow of that area,
// not damage); the frame, the
// position and the task and semaphore words are checked again against the
// loaded structures (ImageCheck). Of the main task's record only its
// accumulator is read before the engine writes it (the other words are
// saved over at the first switch, or rewritten at load when tasks exist).
const ImageWordRange kEngineImageWords[] = {
    {kImgDescTop, 1, kImageWord, 0, kAnyCountMax, "descriptor-stack top", kUnsignedCount},
    {kImgDataTop, 1, kImageWord, 0, kAnyCountMax, "data-stack top", kUnsignedCount},
    {kImgHeapWords, 1, kImageWord, 0, kAnyCountMax, "heap words", kUnsignedCount},
    {kImgFnCount, 1, kImageWord, 1, kAnyCountMax, "function count", kUnsignedCount},
    {kImgCodeWords, 1, kImageWord, 0, kAnyCountMax, "code words", kUnsignedCount},
    {kImgSymbolBytes, 1, kImageWord, 0, kAnyCountMax, "symbol bytes", kUnsignedCount},
    {kImgFrame, 1, kImageWord, -1, INT32_MAX, "current frame"},
    {kImgPosKind, 1, kImageWord, kAreaNone, kAreaStatic, "position kind"},
    {kImgPosFlag, 1, kImageWord, 0, 1, "position flag (nested run)"},
    {kImgPosOffset, 1, kImageWord, 0, INT32_MAX, "position offset"},
    {kImgMainTask, kTaskAccumulator, kImageWord, kAnyWordMin, kAnyWordMax, "main task record"},
    {kImgMainTask + 4 * kTaskAccumulator, 1, kImageWord, 0, kTaskAccumulatorCap, "main task accumulator"},
    {kImgMainTask + 4 * (kTaskAccumulator + 1), kMainTaskWords - kTaskAccumulator - 1, kImageWord, kAnyWordMin,
     kAnyWordMax, "main task record"},
    {kImgTaskCurrent, 1, kImageWord, 0, 0, "current task (the main one)"},
    {kImgTaskFirst, 1, kImageWord, 0, INT32_MAX, "first task"},
    {kImgTaskNextId, 1, kImageWord, 1, INT32_MAX, "next task id"},
    {kImgTaskWord, 1, kImageWord, kAnyWordMin, kAnyWordMax, "task word"},
    {kImgSemWord0, 1, kImageWord, -1, INT32_MAX, "semaphore table"},
    {kImgSemWord1, 1, kImageWord, 0, INT32_MAX, "semaphore capacity"},
    {kImgDispWord1, 1, kImageWord, 0, kImageMaxDisplayDigits, "display digits"},
    {kImgDispText, 1, kImageByte, '+', 'g', "display letter"},
    {kImgDispText + 1, 1, kImageByte, 'i', 'j', "imaginary unit"},
    {kImgDispText + 2, 1, kImageByte, 0, 1, "loose display"},
    {kImgDispText + 3, 1, kImageByte, 0, 255, "unread"},
    {kImgDispWord2, 1, kImageWord, kAnyWordMin, kAnyWordMax, "display word 2"},
    {kImgDispFlag, 4, kImageByte, 0, 255, "display flag and padding"},
};
const size_t kEngineImageWordRows = sizeof kEngineImageWords / sizeof kEngineImageWords[0];

// The words of a task's record that the scheduler and threadkill read as
// they stand; the stacks, the position and the list link are checked by
// relocate_tasks and ImageCheck::tasks, the rest is any value.
const ImageWordRange kTaskRecordWords[] = {
    {4 * kTaskId, 1, kImageWord, 1, INT32_MAX, "task id"},
    {4 * kTaskAccumulator, 1, kImageWord, 0, kTaskAccumulatorCap, "accumulator"},
    {4 * kTaskPriority, 1, kImageWord, kTaskMinPriority, kTaskMaxPriority, "priority"},
};
const size_t kTaskRecordWordRows = sizeof kTaskRecordWords / sizeof kTaskRecordWords[0];

bool saved_heap_ends_in_use(const uint64_t* heap, int64_t words) {
  int64_t last = -1;
  if (!heap_walk(heap, words, [&](int64_t i, int64_t, uint64_t) { last = i; })) return false;
  return last < 0 || heap_header_used(heap_header(heap, last));
}

void engine_pointers_to_offsets(EngineContext*) {}

int engine_load_image(EngineContext* c, ImageReader reader, void* arg) {
  call_cache_clear();  // the loaded table and code replace what calls resolved to
  uint8_t h[kImageHeaderBytes];
  if (!reader || !reader(h, kImageHeaderBytes, arg)) return kEndOfFile;
  if (image_words_broken(h, kEngineImageWords, kEngineImageWordRows) >= 0) return kInitError;
  Loaded l{};
  l.desc_top = tn::get_le32(h + kImgDescTop);
  l.data_top = tn::get_le32(h + kImgDataTop);
  l.heap_words = tn::get_le32(h + kImgHeapWords);
  l.fn_count = tn::get_le32(h + kImgFnCount);
  l.code_words = tn::get_le32(h + kImgCodeWords);
  l.symbol_bytes = tn::get_le32(h + kImgSymbolBytes);
  l.frame = int32_t(tn::get_le32(h + kImgFrame));
  l.pos = CodePosition{int32_t(tn::get_le32(h + kImgPosKind)), uint8_t(tn::get_le32(h + kImgPosFlag)),
                       tn::get_le32(h + kImgPosOffset)};
  l.task_current = int32_t(tn::get_le32(h + kImgTaskCurrent));
  l.task_first = int32_t(tn::get_le32(h + kImgTaskFirst));
  l.sem_index = int32_t(tn::get_le32(h + kImgSemWord0));
  l.sem_capacity = int32_t(tn::get_le32(h + kImgSemWord1));

  if (c->task_current != 0) return kInitError;  // only a fresh context takes an image
  if (l.desc_top > int64_t(c->desc_capacity)) return kStackOverflow;
  if (l.data_top > int64_t(c->data_capacity)) return kDataStackOverflow;
  if (l.heap_words > int64_t(c->heap_size)) return kVariableOverflow;
  const int64_t code_size = c->code_size;
  const int64_t code_after_table = l.code_words + half_up(l.symbol_bytes);
  if (code_size < l.code_words + 2 * l.symbol_bytes + 2 + l.fn_count) return kCodeOverflow;
  // Whatever capacity the table ends up with, it holds at least F entries.
  if (l.fn_count * kEntryCodeWords + code_after_table > code_size) return kCodeOverflow;
  if (l.fn_count < 1) return kInitError;

  // From here on the context changes; a failure empties it.
  const int32_t capacity_before = c->fn_capacity;
  // Every section is one request, an empty one too: a host that streams
  // the image as one chunk per request stays in step with it.
  auto read = [&](void* to, int64_t bytes) { return reader(to, uint32_t(bytes), arg) != 0; };
  if (!read(desc_words(c), l.desc_top * 4) || !read(data_words(c), l.data_top * 8) ||
      !read(heap_words(c), l.heap_words * 8))
    return fail_load(c, capacity_before, kInitError);
  if (l.heap_words < c->heap_size)
    heap_set_header(heap_words(c), l.heap_words, uint64_t(c->heap_size - l.heap_words - 1));
  heap_hint_reset(c);
  if (!read(fn_entry(c, 0), l.fn_count * kEntryWords * 4)) return fail_load(c, capacity_before, kInitError);

  int64_t capacity = writer_capacity(c, l.fn_count, code_after_table);
  if (capacity == kWriterLayoutTooLarge) return fail_load(c, capacity_before, kCodeOverflow);
  if (capacity == 0) {
    capacity = c->fn_capacity < l.fn_count ? l.fn_count : c->fn_capacity;
    if (capacity * kEntryCodeWords + code_after_table > code_size)
      return fail_load(c, capacity_before, kCodeOverflow);
  }
  uint8_t* code = reinterpret_cast<uint8_t*>(code_words(c));
  if (!read(code + capacity * kEntryCodeWords * 2, l.code_words * 2) ||
      !read(code + code_size * 2 - l.symbol_bytes, l.symbol_bytes))
    return fail_load(c, capacity_before, kInitError);
  c->fn_capacity = int32_t(capacity);
  c->fn_count = int32_t(l.fn_count);
  c->code_free = uint32_t(capacity * kEntryCodeWords + l.code_words);
  c->sym_extent = -int32_t(l.symbol_bytes);

  // The verifier's marks go to the free part of the data stack, the largest
  // free room at hand before the heap is used.
  uint64_t* scratch = data_words(c) + l.data_top;
  ImageCheck check(c, l, scratch, int64_t(c->data_capacity) - l.data_top);
  // Code too long for the free room is no damage: a larger data stack may
  // hold its marks, which the caller can grow for.
  if (!check.all()) return fail_load(c, capacity_before, check.code_short_of_room() ? kGrowData : kInitError);

  // The tasks' records are rewritten only when everything else passed, so a
  // refusal here still leaves only the loaded areas to be emptied.
  c->task_first = l.task_first;
  if (l.task_first != 0 && !relocate_tasks(c, check)) {
    c->task_first = 0;
    return fail_load(c, capacity_before, kInitError);
  }
  if (const int room = give_clock_room(c); room != kOk) {
    c->task_first = 0;
    return fail_load(c, capacity_before, room);
  }
  restart_task_clocks(c);

  c->desc_top = int32_t(l.desc_top);
  c->data_top = int32_t(l.data_top);
  c->frame = l.frame;
  c->pos = l.pos;
  for (int k = 0; k < kMainTaskWords; ++k) c->main_task[k] = tn::get_le32(h + kImgMainTask + 4 * k);
  c->main_task[kTaskSliceOverrun] = 0;
  // An image written while the main task ran carries the generators in its
  // record; words all zero (an image from a writer that kept none there)
  // leave the fresh context's generators.
  const uint32_t* random = c->main_task + kTaskRandom;
  if (l.task_current == 0 && (random[0] | random[1] | random[2] | random[3]) != 0) {
    c->rng_uniform = RandomState{random[0], random[1]};
    c->rng_normal = RandomState{random[2], random[3]};
  }
  if (l.task_first != 0) {
    // The main task's record describes this block's stacks, not the writer's.
    uint32_t* m = c->main_task;
    m[kTaskDescBase] = c->desc_base.v;
    m[kTaskDescCapacity] = c->desc_capacity;
    m[kTaskDescTop] = uint32_t(c->desc_top);
    m[kTaskFrame] = uint32_t(c->frame);
    m[kTaskDataBase] = c->data_base.v;
    m[kTaskDataCapacity] = c->data_capacity;
    m[kTaskDataTop] = uint32_t(c->data_top);
  }
  c->task_current = l.task_current;
  c->task_next_id = int32_t(tn::get_le32(h + kImgTaskNextId));
  c->task_word = int32_t(tn::get_le32(h + kImgTaskWord));
  c->sem_table[0] = l.sem_index;
  c->sem_table[1] = l.sem_capacity;
  c->disp_word1 = int32_t(tn::get_le32(h + kImgDispWord1));
  std::memcpy(c->disp_text, h + kImgDispText, 3);
  c->disp_text[3] = 0;
  c->disp_word2 = int32_t(tn::get_le32(h + kImgDispWord2));
  c->disp_flag = h[kImgDispFlag] ? 0 : -1;
  return kOk;
}

// --- Re-layout ----------------------------------------------------------------

int engine_offsets_to_pointers(EngineContext* c, uint32_t new_size, int area) {
  if (new_size < 1) return kOk;
  call_cache_clear();  // the areas move apart: offsets kept between calls may not hold
  const MainStacks m = main_stacks(c);
  const int64_t data_start = data_area_start(c, m.data_base);
  const int64_t prefix = int64_t(m.data_base) - data_start;
  const int64_t heap_base = c->heap_base.v, heap_size = c->heap_size;
  const int64_t desc_ext = int64_t(c->code_base.v) - m.desc_base;
  const int64_t code_base = c->code_base.v, code_size = c->code_size;
  const int64_t used_end = code_base + code_size * 2;

  int64_t data_ext = heap_base - data_start;
  int64_t heap_new = heap_size;
  int64_t desc_cap = m.desc_capacity, desc_ext_new = desc_ext;
  int64_t code_new = code_size;
  if (area >= kGrowDescriptors && area <= kGrowCode) {
    const int64_t gain = ((int64_t(new_size) - used_end) / 64) * 64;
    if (gain <= 0) return kInitError;
    switch (area) {
      case kGrowDescriptors:
      case kGrowDescriptors2: desc_cap += gain / 4; desc_ext_new += gain; break;
      case kGrowData:
      case kGrowData2: data_ext += gain; break;
      case kGrowHeap: heap_new += gain / 8; break;
      default: code_new += gain / 2; break;
    }
  } else {
    const AreaLayout l = engine_area_layout(new_size);
    data_ext = int64_t(l.data_words) * 8;
    heap_new = l.heap_words;
    desc_cap = l.desc_words;
    desc_ext_new = l.desc_bytes;
    code_new = l.code_words;
  }
  const int64_t data_cap = (data_ext - prefix) / 8;
  const int64_t heap_base_new = data_start + data_ext;
  const int64_t desc_base_new = heap_base_new + heap_new * 8;
  const int64_t code_base_new = desc_base_new + desc_ext_new;
  const int64_t code_end_new = code_base_new + code_new * 2;
  // Every area keeps at least what it had, none moves toward the block start
  // (so moving them from the end backward overwrites nothing), and one grows.
  if (data_cap < int64_t(m.data_capacity) || heap_new < heap_size || desc_cap < int64_t(m.desc_capacity) ||
      code_new < code_size || desc_ext_new < desc_cap * 4 || heap_new > int64_t(kHeapSizeMask) ||
      code_base_new < code_base || code_end_new > int64_t(new_size))
    return kInitError;
  if (data_cap == m.data_capacity && heap_new == heap_size && desc_cap == m.desc_capacity && code_new == code_size)
    return kInitError;

  // Code offsets stored in frames, tasks and the current position are not
  // rewritten, so the table may only grow while none of them exists.
  const int64_t code_used = int64_t(c->code_free) - int64_t(c->fn_capacity) * kEntryCodeWords;
  const int64_t symbols = -int64_t(c->sym_extent);
  const bool quiet = (c->frame == -1 || (c->frame == 0 && int32_t(desc_words(c)[kFwCallerKind]) == kAreaBaseFrame)) &&
                     c->task_first == 0 && c->task_current == 0 && c->pos.kind == kAreaNone;
  int64_t capacity = c->fn_capacity;
  if (quiet && code_new / kFnCapacityDivisor > capacity) {
    const int64_t room = (code_new - code_used - half_up(symbols)) / kEntryCodeWords;
    const int64_t wanted = code_new / kFnCapacityDivisor;
    capacity = wanted < room ? wanted : room;
    if (capacity < c->fn_capacity) capacity = c->fn_capacity;
  }
  const int64_t shift = (capacity - c->fn_capacity) * kEntryCodeWords;

  // Move from the end of the block toward its start.
  uint8_t* b = ctx_bytes(c);
  std::memmove(b + code_end_new - symbols, b + used_end - symbols, size_t(symbols));
  std::memmove(b + code_base_new + (int64_t(c->fn_capacity) * kEntryCodeWords + shift) * 2,
               b + code_base + int64_t(c->fn_capacity) * kEntryCodeWords * 2, size_t(code_used) * 2);
  std::memmove(b + code_base_new, b + code_base, size_t(c->fn_count) * kEntryWords * 4);
  std::memmove(b + desc_base_new, b + m.desc_base, size_t(m.desc_top) * 4);
  std::memmove(b + heap_base_new, b + heap_base, size_t(heap_size) * 8);

  c->code_base.v = uint32_t(code_base_new);
  c->code_size = uint32_t(code_new);
  c->fn_capacity = int32_t(capacity);
  c->code_free = uint32_t(int64_t(c->code_free) + shift);
  if (shift) shift_code_offsets(c, shift);

  const int64_t heap_delta = heap_base_new - heap_base;
  c->heap_base.v = uint32_t(heap_base_new);
  c->heap_size = int32_t(heap_new);
  uint64_t* heap = heap_words(c);
  const int64_t tail = heap_used_extent(heap, heap_size);
  if (tail < heap_new) heap_set_header(heap, tail, uint64_t(heap_new - tail - 1));
  heap_hint_reset(c);

  // A running task's stacks live in its heap block and move with the heap.
  if (c->task_current != 0) {
    c->desc_base.v = uint32_t(int64_t(c->desc_base.v) + heap_delta);
    c->data_base.v = uint32_t(int64_t(c->data_base.v) + heap_delta);
  }
  set_main_stacks(c, uint32_t(desc_base_new), uint32_t(desc_cap), uint32_t(data_cap));
  int64_t guard = heap_new;
  for (int32_t index = c->task_first; index > 0 && index < heap_new && guard-- > 0;) {
    uint8_t* r = reinterpret_cast<uint8_t*>(heap + index);
    static constexpr int kOffsetWords[] = {kTaskDescBase, kTaskDataBase, kTaskClockState, kTaskSleepClockState};
    for (int word : kOffsetWords) tn::st_u32(r + 4 * word, uint32_t(int64_t(tn::ld_u32(r + 4 * word)) + heap_delta));
    index = int32_t(tn::ld_u32(r + 4 * kTaskNext));
  }
  return kOk;
}

// --- Call export ------------------------------------------------------------

int stk_export_size(EngineContext* c, int fn_depth, int n, int64_t* size) {
  if (n < 0) return kBadArgument;
  int64_t words = 0, item = 0;
  TN_TRY(stk_item_words(c, fn_depth, &item));
  words += item;
  for (int d = 0; d < n; ++d) {
    TN_TRY(stk_item_words(c, d, &item));
    words += item;
  }
  *size = 32 * words;
  return kOk;
}

int stk_export_items(EngineContext* c, int fn_depth, int n, EventPoster* poster, void* buffer) {
  if (n < 0) return kBadArgument;
  int64_t item = 0;
  TN_TRY(stk_item_words(c, fn_depth, &item));
  for (int d = 0; d < n; ++d) TN_TRY(stk_item_words(c, d, &item));
  if (poster) engine_get_event_poster(c, poster);
  // The head: a u32 argument count and four unused bytes.
  double* out = static_cast<double*>(buffer);
  tn::st_u32(reinterpret_cast<uint8_t*>(out), uint32_t(n));
  tn::st_u32(reinterpret_cast<uint8_t*>(out) + 4, 0);
  out += 1;
  TN_TRY(stk_descriptor_as_doubles(c, fn_depth, out));
  TN_TRY(stk_item_words(c, fn_depth, &item));
  out += item;
  for (int d = n - 1; d >= 0; --d) {
    TN_TRY(stk_descriptor_as_doubles(c, d, out));
    TN_TRY(stk_item_words(c, d, &item));
    out += item;
  }
  return kOk;
}
