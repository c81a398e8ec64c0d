// The engine context: the record at the head of the caller's block, the
// division of the rest of the block into the four working areas, built-in
// table registration, named blocks, and the engine's start-up and reset.
// Everything inside the block is referred to by 32-bit byte offsets from the
// context's own address, so the block can be moved with memcpy and saved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/core/status.h"

struct EngineContext;
struct EngineServiceTable;

// A byte offset inside the block, counted from the context's address. Kept in
// its own type so that a word index or a count is never used as an offset.
struct BlockOff {
  uint32_t v;
};

// Built-in function: inputs on the value stack (first input deepest), replaced
// by the outputs; returns a status.
using BuiltinFn = int (*)(EngineContext* ctx, int nargin, int nargout, uintptr_t data);

// One row of a built-in table. Tables are static data, never saved, so the
// function and data word are pointer-sized.
struct BuiltinEntry {
  BuiltinFn fn;       // null for a marker row ("+errmsgtable" keeps its table here)
  uintptr_t data;     // 0: the context's default data word is passed
  int32_t class_word; // -127..127; nonzero for methods of a library class
  char name[32];      // "@" core group, "!" flaggable group, "+" hook
  uint8_t min_in, max_in, min_out, max_out;  // 64 means any
};
static_assert(sizeof(BuiltinEntry) == 56);

constexpr int kArgsAny = 64;

// One registered table; these records sit at the front of the data area.
struct LibraryTableRef {
  const BuiltinEntry* table;
  int32_t rows;        // rows before the empty-name terminator
  uint8_t group_flag;  // set by engine_set_library_flag
};
static_assert(sizeof(LibraryTableRef) == 16);

struct NamedBlock {
  const char* name;
  void* block;
};
static_assert(sizeof(NamedBlock) == 16);

// Where code runs: area 1 code area, 3 data stack, 4 variable heap, 5 static
// code; 0 when nothing runs.
struct CodePosition {
  int32_t kind;
  uint8_t flag;  // nested-run mark
  uint32_t offset;
};

enum : int32_t {
  kAreaNone = 0,
  kAreaCode = 1,
  kAreaDataStack = 3,
  kAreaHeap = 4,
  kAreaStatic = 5,
  kAreaBaseFrame = 6,  // frame word 0 of the base frame
};

using ClockFn = double (*)(void* state, int process_time, int update);
using ContextResolverFn = EngineContext* (*)(void* handle);
using AbortPollFn = uint8_t (*)(void* arg);
using PendingEventFn = int (*)(EngineContext* ctx, void* data);
// Character-set callbacks (context field `charset`), all three of this type:
//   [0] byte-order mark: (bytes, null, null, length) -> bytes to skip
//   [1] decoder: (bytes, uint16_t* out char, int32_t* position, length) ->
//       nonzero when a character was decoded; the position always advances
//   [2] encoder: (const uint16_t* char, uint8_t* buffer, int32_t* position,
//       capacity) -> nonzero when the bytes were written
using CharsetFn = int (*)(const void* in, void* out, void* state, int n);
enum : int { kCharsetBom = 0, kCharsetDecode = 1, kCharsetEncode = 2 };

struct PendingEvent {
  PendingEventFn fn;
  void* data;
};

struct RandomState {
  uint32_t lcg;
  uint32_t xs;
};

struct CaptureBuffer {
  char* buffer;
  uint32_t capacity;
  uint32_t* length;
};

constexpr int kMainTaskWords = 40;
constexpr int kMaxPendingEvents = 16;
constexpr int kErrorAreaBytes = 32;
constexpr int kFailingOpBytes = 32;
// Request sizes of 1, 2, ..., 8 words, then 9-15, 16-31, 32-63, 64-127 and
// 128 or more: each class has its own scan hint (heap.h).
constexpr int kHeapHintClasses = 13;
// Blocks taken last, whose headers a falling hint may stop at (heap.h).
constexpr int kHeapTakenSlots = 16;

// The error state that belongs to the running task (saved on a task switch):
// whether the error was already reported, and where it happened.
struct ErrorArea {
  uint8_t reported;
  int32_t loc_function;  // function id; -1 none, -2 inline code
  int32_t loc_line;
  int32_t spare[5];
};
static_assert(sizeof(ErrorArea) == kErrorAreaBytes);

// A list or cell array in a variable's heap block (the value itself or one
// nested in it), as last seen: its place, data words, entry count, and one
// entry with its word offset from the first entry.
struct EntryFinger {
  int32_t block;  // heap block holding the container; 0 = none
  int32_t at;     // word offset of the container's header in the block
  uint32_t words;
  int32_t count;
  int32_t index;
  int32_t offset;
};
constexpr int kEntryFingers = 2;  // two containers read side by side keep theirs

// Free words left inside a variable's block between the entries of its own
// list or cell array, so that storing entries of another length one after
// another (forward or backward) moves only the entries between two stores,
// not every entry behind each. Only the interpreter's brace stores use it;
// anything else that may look at the value closes it first (entry_gap.h).
struct EntryGap {
  int32_t block;  // heap block of the gap, or of the last store that moved every entry behind it; 0 = none
  int32_t at;     // word offset of the gap in the block (an entry boundary)
  int32_t words;  // its length; -1: no gap yet, only that last store
};

struct EngineContext {
  const EngineServiceTable* svc;

  // Descriptor stack: u32 words, three per item.
  BlockOff desc_base;
  uint32_t desc_capacity;  // words
  int32_t desc_top;        // words
  int32_t frame;           // word index of the current frame, -1 = none

  // Data stack: 8-byte words.
  BlockOff data_base;
  uint32_t data_capacity;  // words
  int32_t data_top;        // words

  // Variable heap: 8-byte words, a chain of blocks.
  BlockOff heap_base;
  int32_t heap_size;

  // Code area: 16-bit words; the function table at its start, the symbol area
  // growing down from its end.
  BlockOff code_base;
  uint32_t code_size;  // words
  int32_t fn_capacity;
  int32_t fn_count;
  uint32_t code_free;  // first free code word
  int32_t sym_extent;  // minus the bytes of the symbol area

  BlockOff tables;  // LibraryTableRef array, 0 = none yet
  int32_t table_count;
  int32_t class_id;  // current object class id
  uintptr_t default_data;
  BlockOff named;  // NamedBlock array, 0 = none yet
  int32_t named_count;

  ClockFn clock_fn;
  void* clock_state;
  int32_t clock_state_size;

  ContextResolverFn resolver_fn;
  void* resolver_handle;

  PendingEvent events[kMaxPendingEvents];
  int32_t event_count;

  uint32_t main_task[kMainTaskWords];
  int32_t task_current;
  int32_t task_first;  // heap index of the first task record, 0 = none
  int32_t task_next_id;
  double time_used;
  double time_slice;
  int32_t yield_request;
  int32_t task_word;  // init -1
  int32_t sem_table[2];

  uint8_t compiler_flags[3];
  RandomState rng_uniform;
  RandomState rng_normal;

  CodePosition pos;

  uint8_t running;
  uint8_t entry_gap_allowed;  // set while the interpreter runs a brace store's steps
  uint8_t entry_gap_off;      // no store opens a gap (a test mode: the plain stores to compare with)
  // The current error code: the last status recorded with an error location;
  // also the status a run stopped with (505 while suspended for debugging).
  int32_t status_word;
  int32_t handler_mark;
  int32_t handler_mark2;
  ErrorArea error_area;
  char failing_op[kFailingOpBytes];  // set when byte 0 is above the blank
  int32_t err_pending_text;  // heap data index of the error being raised, -1 none
  int32_t err_last_text;     // heap data index of the last reported error, -1 none

  int32_t reserved_word;  // init -1
  int32_t free_at_run;    // heap block to free at the next run, -1 = none

  uint8_t emit_positions;
  uint8_t wide_strings;
  uint8_t opt_flag;
  uint8_t private_visible;
  int32_t opt_level;

  AbortPollFn abort_fn;
  void* abort_arg;

  CharsetFn charset[3];

  int32_t disp_word1;    // 4
  char disp_text[4];     // "gj"
  int32_t disp_word2;    // 24
  int32_t disp_flag;     // -1

  int32_t redirect[3];   // 1024, 1, 2
  uint8_t redirect_copy[2];
  CaptureBuffer capture;

  const char* lib_ext;   // "zvl"
  const char* help_ext;  // "hlp"

  int32_t bp_list;  // heap index, -1 = none
  int32_t bp_count;
  uint8_t interrupt_debug;
  uint8_t pending_debug;
  int32_t dbg_word[3];  // the last is the echo target
  int32_t echo_fd;

  // The function being compiled, for messages; valid while `compiling` is set
  // (code must not move then: the compiler writes at the first free word).
  uint8_t compiling;
  int32_t compile_fn;
  int32_t compile_line;

  // Every block whose header lies below this word index is in use, and the
  // index is a header of the chain (or the heap's end). Not saved; 0 is
  // always true, so whatever rewrites block headers outside heap.cpp lowers
  // it or resets it to 0.
  int32_t heap_hint;
  // Where a request of class c starts its scan while heap_hints_split is set (heap.h keeps their promise:
  // below the hint no free block is large enough for the class and no two
  // free blocks touch, and the block before it is in use). Each lies at or
  // above heap_hint and at or above the hints of the smaller classes; the
  // same rules as heap_hint: not saved, 0 always true.
  int32_t heap_class_hint[kHeapHintClasses];
  // Headers of the blocks taken last (a ring; heap_taken_next counts), each
  // a header whose block before it is in use; 0 when it no longer is.
  int32_t heap_taken[kHeapTakenSlots];
  uint32_t heap_taken_next;
  // 0 while every class hint equals heap_hint (no hole has been passed): the
  // class hints and the ring are then neither read nor kept.
  int32_t heap_hints_split;
  // The last entries found in variables' lists or cell arrays, so that the
  // next c{k} walks on from one instead of from the first entry
  // (entry_finger.h keeps them, the one noted last first). Not saved; block
  // 0 means none.
  EntryFinger entry_finger[kEntryFingers];
  // The open gap in a variable's block, if any. Not saved: never open
  // outside the interpreter's loop.
  EntryGap entry_gap;

  // Steps left before the loop reads the slice clock again (slice_used);
  // kept here rather than in a register of the loop, whose no-task paths
  // it would otherwise slow. Not saved.
  int32_t slice_steps_left;
};

static_assert(std::is_trivially_copyable_v<EngineContext>);
static_assert(std::is_standard_layout_v<EngineContext>);

// The areas are laid out as if the record had the size it has in the saved
// format, so every block size gives the same areas on every machine.
constexpr uint32_t kContextNominalBytes = 1080;
static_assert(sizeof(EngineContext) <= kContextNominalBytes);

constexpr uint32_t kMinBlockBytes = 7312;
constexpr int kBaseFrameWords = 166;  // 22 + 16 slots + 16 names of 8 words
constexpr int kBaseFrameSlots = 16;
constexpr int kFnEntryWords = 4;      // u32 words of one function-table entry

// Raw access to the areas. Pointers into the block are valid only until the
// next operation that can move or grow it.
inline uint8_t* ctx_bytes(EngineContext* c) { return reinterpret_cast<uint8_t*>(c); }
template <typename T = uint8_t>
inline T* blk(EngineContext* c, BlockOff off) {
  return reinterpret_cast<T*>(ctx_bytes(c) + off.v);
}
inline uint32_t* desc_words(EngineContext* c) { return blk<uint32_t>(c, c->desc_base); }
inline uint64_t* data_words(EngineContext* c) { return blk<uint64_t>(c, c->data_base); }
inline uint64_t* heap_words(EngineContext* c) { return blk<uint64_t>(c, c->heap_base); }
inline uint16_t* code_words(EngineContext* c) { return blk<uint16_t>(c, c->code_base); }
inline uint32_t* fn_entry(EngineContext* c, int id) {
  return reinterpret_cast<uint32_t*>(code_words(c)) + id * kFnEntryWords;
}
inline LibraryTableRef* table_refs(EngineContext* c) { return blk<LibraryTableRef>(c, c->tables); }
inline NamedBlock* named_blocks(EngineContext* c) { return blk<NamedBlock>(c, c->named); }

// Heap block headers: bits 0..29 size in words, bit 30 in use, bit 31 mark.
constexpr uint64_t kHeapSizeMask = 0x3fffffffu;
constexpr uint64_t kHeapInUse = 1u << 30;
constexpr uint64_t kHeapMark = 1u << 31;

// The proportional division of a block of `size` bytes into the four areas,
// derived from the nominal record size so that every machine gets the same
// areas for the same block size.
struct AreaLayout {
  uint32_t data_words;
  uint32_t heap_words;
  uint32_t desc_words;
  uint32_t desc_bytes;
  uint32_t code_bytes;
  uint32_t code_words;
  int32_t fn_capacity;
};
AreaLayout engine_area_layout(uint32_t size);
// Where the areas of such a block begin, in block order, and where the last
// ends: data stack, heap, descriptor stack, code.
struct AreaOffsets {
  uint32_t data, heap, desc, code, end;
};
AreaOffsets engine_area_offsets(const AreaLayout& l);

// Start-up and registration.
int engine_init(void* block, uint32_t size, EngineContext** out);
const char* engine_version_string();
void engine_set_callbacks(EngineContext* ctx, ClockFn fn, void* state, int32_t state_size);
void engine_set_context_resolver(EngineContext* ctx, ContextResolverFn fn, void* handle);
void engine_set_option_pair(EngineContext* ctx, AbortPollFn fn, void* arg);
void engine_set_user_data(EngineContext* ctx, uintptr_t word);
void compile_set_debug_info(EngineContext* ctx, int flag);
void compile_set_optimisation(EngineContext* ctx, int level, int flag);
int engine_register_builtin_table(EngineContext* ctx, const BuiltinEntry* table, int prepend);
int engine_set_library_flag(EngineContext* ctx, const char* name, uint8_t flag);
void builtin_table_set_data(BuiltinEntry* table, BuiltinFn fn, uintptr_t data);
const BuiltinEntry* lib_entry_by_index(EngineContext* ctx, int k);
int lib_call_by_name(EngineContext* ctx, const char* name, int class_word, int arg);
int engine_add_named_block(EngineContext* ctx, const char* name, void* block);
void* engine_find_named_block(EngineContext* ctx, const char* name);
void engine_reset_runtime(EngineContext* ctx);
void engine_reset(EngineContext* ctx);

// The data word a row's function receives.
inline uintptr_t builtin_data(const EngineContext* ctx, const BuiltinEntry* e) {
  return e->data ? e->data : ctx->default_data;
}
