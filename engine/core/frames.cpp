// Pushing, popping and unwinding call frames, finding a try handler, the
// workspace lookups and the polling of the host's abort request. A frame owns
// its locals' heap blocks (a lent argument's is its link, not the caller's
// value): every path that removes a frame frees them, and a failed push frees
// what it took, so no block is ever left without an owner.
#include "engine/core/frames.h"

#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/code_position.h"
#include "engine/core/containers.h"
#include "engine/core/debug_state.h"
#include "engine/core/heap.h"
#include "engine/core/lib_calls.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"

namespace {

constexpr char kOnAbortHook[] = "+onabort";

bool is_base_frame(const uint32_t* w) { return int32_t(w[kFwCallerKind]) == kAreaBaseFrame; }

// Index of the frame below, or -1 when the chain ends (base frame, a frame
// pushed with no frame below it, or a distance that does not point downward).
int32_t previous_frame(const uint32_t* w, int32_t index) {
  // 0 <= index - distance < index: 1 <= distance <= index, one unsigned test
  // of the difference (every caller's index is a frame's, not negative; a
  // distance of 0 gives the index, one past it wraps to index + 2^32 - d).
  TN_ASSERT(index >= 0);
  const uint32_t prev = uint32_t(index) - w[kFwPrevDistance];
  return prev < uint32_t(index) ? int32_t(prev) : -1;
}

// kFwResults of a function called in statement context: -1, or -2 when it
// declares no outputs (then the count it sees, kFwNargout, is 1 rather than 0).
constexpr int32_t kResultsStatement = -1;
constexpr int32_t kResultsNoOutputs = -2;
constexpr uint32_t kNoSlotValue = uint32_t(kNoBlock);

bool statement_call(const uint32_t* w) {
  const int32_t wanted = int32_t(w[kFwResults]);
  // A code block run in statement context has no locals: it keeps nothing.
  if (wanted == kResultsStatement) return int32_t(w[kFwLocals]) >= 1;
  return wanted == kResultsNoOutputs && int32_t(w[kFwNargout]) >= 1;
}

// A function frame whose first local is a plain output (the count the
// function sees is 1 or more: not a lone varargout) and holds a value.
bool statement_result_set(const uint32_t* w) {
  return int32_t(w[kFwResults]) == kResultsStatement && int32_t(w[kFwNargout]) >= 1 &&
         w[kFrameFixedWords] != kNoSlotValue;
}

// Data words of the items whose descriptors lie in [from, to).
int64_t items_data_words(EngineContext* ctx, int64_t from, int64_t to) {
  const uint32_t* d = desc_words(ctx);
  int64_t sum = 0;
  for (int64_t k = from; k + kDescWords <= to; k += kDescWords) sum += desc_data_words(d + k);
  return sum;
}

int64_t items_above_frame(EngineContext* ctx, int32_t index) {
  const int64_t first = index + frame_fixed_words(frame_words(ctx, index));
  return first >= ctx->desc_top ? 0 : (ctx->desc_top - first) / kDescWords;
}

[[gnu::noinline]] void free_slots_split(EngineContext* ctx, uint32_t* slots, int32_t locals, bool clear) {
  for (int32_t k = 0; k < locals; ++k) {
    heap_free(ctx, int32_t(slots[k]));
    if (clear) slots[k] = kNoSlotValue;
  }
}
// Every return runs it. While the class hints are not split (no free can
// split them) heap_free only lowers heap_hint: the heap's base, size and hint
// are held across the loop. kClearSlots false leaves the slots as they are,
// for a frame whose slots lie above the stack's top once it is gone (nothing
// reads a word there before a push writes it). That return's two-local frame
// (fib's argument and result) frees its slots without the loop's set-up and
// steps; the plain pop's loop is what the tests hold it to.
template <bool kClearSlots>
[[gnu::always_inline]] inline void free_slots_body(EngineContext* ctx, uint32_t* slots, int32_t locals) {
  if (ctx->heap_hints_split) return free_slots_split(ctx, slots, locals, kClearSlots);
  uint64_t* heap = heap_words(ctx);
  asm("" : "+r"(heap));  // one register: not ctx and the base added again in every step
  const uint32_t size = uint32_t(ctx->heap_size);
  int32_t hint = ctx->heap_hint;
  const auto free_slot = [&](uint32_t* slot) [[gnu::always_inline]] {
    uint64_t wide = *slot;
    asm("" : "+r"(wide));  // widened by its load: the address takes no copy of its low half
    const uint32_t block = uint32_t(wide);
    if (kClearSlots) *slot = kNoSlotValue;
    if (__builtin_expect(block - 1 >= size, 0)) return;  // no block: 0 or -1
    heap_mark_block_free_at(ctx, heap + wide, int32_t(block));
    if (int32_t(block) - 1 < hint) hint = int32_t(block) - 1;
  };
  if (!kClearSlots && locals == 2) {  // the commonest small function's return (an argument, a result): no loop
    free_slot(slots);
    free_slot(slots + 1);
    ctx->heap_hint = hint;
    return;
  }
  uint32_t* const end = slots + locals;
  for (int64_t k = -int64_t(locals); k < 0; ++k) free_slot(end + k);  // one register for the place and the count
  ctx->heap_hint = hint;
}
// Out of line: inlined in the interpreter's return, its loop runs the
// padding of the loop's aligned labels and crowds the loop's registers
// (measured: fewer instructions, no slower).
[[gnu::noinline]] void free_locals(EngineContext* ctx, uint32_t* w) {
  free_slots_body<true>(ctx, w + kFrameFixedWords, int32_t(w[kFwLocals]));
}

// Removes the current frame with all its items and locals.
void unwind_one(EngineContext* ctx) {
  const int32_t index = ctx->frame;
  uint32_t* w = frame_words(ctx, index);
  const int64_t first = index + frame_fixed_words(w);
  if (first < ctx->desc_top) ctx->data_top -= int32_t(items_data_words(ctx, first, ctx->desc_top));
  free_locals(ctx, w);
  ctx->desc_top = index;
  ctx->frame = previous_frame(w, index);
}

// Where a compiled function's local-name table lies, as kFwNameTable says it.
inline int32_t name_table_locator(EngineContext* ctx, const uint16_t* header) {
  if (header[kHdrFlags] & kHdrNoNames) return -1;
  const uint8_t* names = reinterpret_cast<const uint8_t*>(header + kHdrInputSlots + header[kHdrMaxIn]);
  const uint8_t* code = blk(ctx, ctx->code_base);
  if (names >= code && names < code + int64_t(ctx->code_size) * 2) return int32_t((names - code) / 2);
  const uint8_t* data = blk(ctx, ctx->data_base);
  if (names >= data + 2 && names < data + int64_t(ctx->data_capacity) * 8) return -int32_t(names - data);
  return -1;
}

void write_value_header(uint64_t* block, uint32_t kind, uint32_t a, uint32_t b) {
  uint8_t* p = reinterpret_cast<uint8_t*>(block);
  tn::st_u32(p, kind);
  tn::st_u32(p + 4, a);
  tn::st_u32(p + 8, b);
  tn::st_u32(p + 12, 0);
}

// The fixed words of a new frame, written in one place for every kind of push.
struct FrameWords {
  const CodePosition* caller;
  uint32_t prev_distance;
  bool function_value;
  int32_t function_id;
  int32_t caller_word;
  int32_t locals;
  int32_t results;
  int32_t nargin;
  int32_t nargout_seen;
  int32_t named;
  bool resume;
  int32_t sandbox;
  int32_t current_function;
  int32_t caller_step;
  int32_t name_table;
};

// The words a new frame's first item's descriptor does not overlap (a
// frame is pushed over its lowest argument), and the three it does.
[[gnu::always_inline]] inline void write_frame_words_above(uint32_t* w, const FrameWords& f) {
  w[kFwCatchKind] = 0;
  w[kFwCatchOffset] = 0;
  w[kFwCatchKeep] = 0;
  w[kFwFunctionValue] = f.function_value ? 1 : 0;
  w[kFwSuspendKind] = 0;
  w[kFwSuspendOffset] = 0;
  w[kFwFunctionId] = uint32_t(f.function_id);
  w[kFwMethodClass] = uint32_t(f.caller_word);
  w[kFwLocals] = uint32_t(f.locals);
  w[kFwResults] = uint32_t(f.results);
  w[kFwNargin] = uint32_t(f.nargin);
  w[kFwNargout] = uint32_t(f.nargout_seen);
  w[kFwFrameNames] = uint32_t(f.named);
  w[kFwResume] = f.resume ? 1 : 0;
  w[kFwSandbox] = uint32_t(f.sandbox);
  w[kFwLine] = uint32_t(-1);
  w[kFwCurrentFunction] = uint32_t(f.current_function);
  w[kFwStepMode] = f.caller_step == kStepInto ? kStepStopAtNext : kStepRun;
  w[kFwNameTable] = uint32_t(f.name_table);
}
[[gnu::always_inline]] inline void write_frame_words_below(uint32_t* w, const CodePosition* caller,
                                                           uint32_t prev_distance) {
  w[kFwCallerKind] = caller ? uint32_t(caller->kind) : 0;
  w[kFwCallerOffset] = caller ? caller->offset : 0;
  w[kFwPrevDistance] = prev_distance;
}
[[gnu::always_inline]] inline void write_frame_words(uint32_t* w, const FrameWords& f) {
  write_frame_words_below(w, f.caller, f.prev_distance);
  write_frame_words_above(w, f);
}
static_assert(kDescWords == 3 && kFwPrevDistance == kDescWords - 1);

// A variable's block from a value's descriptor {kind, a, b} and its data
// words (a scalar's one word stored directly rather than through a copy call).
void fill_value_block(uint64_t* block, const uint32_t* head, const uint64_t* from, int64_t words) {
  write_value_header(block, head[0], head[1], head[2]);
  if (words == 1)
    tn::store<uint64_t>(block + kHeapValueHeaderWords, tn::load<uint64_t>(from));
  else
    std::memcpy(block + kHeapValueHeaderWords, from, size_t(words) * 8);
}

// A reference argument to a variable that the calling function assigns the
// call's result to at once («a = f(a, ...)» in a function without an active
// try block) need not be copied: nothing can read the variable before that
// store, and an error in the call ends the calling frame too. The block
// moves to the callee; the variable is undefined until the store. r holds
// the reference's words; args_from is the descriptor index of the lowest
// argument.
bool argument_block_moves(EngineContext* ctx, const CodePosition* caller, int32_t nargout, const uint32_t* r,
                          int64_t args_from) {
  const int32_t index = ctx->frame;
  if (!caller || nargout != 1 || index < 0 || r[kRefOffset] != 0) return false;
  const uint32_t* w = frame_words(ctx, index);
  const int32_t slot = int32_t(r[kRefSlot]);
  if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame || w[kFwFrameNames] != 0 || w[kFwCatchKind] != 0 ||
      slot < 0 || slot >= int32_t(w[kFwLocals]) || int64_t(r[kRefSlotWord]) != index + kFrameFixedWords + slot ||
      desc_words(ctx)[r[kRefSlotWord]] != r[kRefBlock])
    return false;
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, caller->kind, &bytes);
  if (!base || caller->offset % 2 != 0 || int64_t(caller->offset) + 4 > bytes) return false;
  const auto* next = reinterpret_cast<const uint16_t*>(base + caller->offset);
  if (next[0] != kOpStoreLocal || int16_t(next[1]) != slot) return false;
  // No other reference of the frame's pending expression may point at it.
  for (int64_t k = index + frame_fixed_words(w); k < args_from; k += kDescWords)
    if (desc_words(ctx)[k] == kKindReference) return false;
  return true;
}

constexpr int32_t kMostReferences = 64;

// Data words from which a variable passed whole is lent to the callee rather
// than copied. A lent argument that the callee writes costs the link block as
// well as the copy (about 15 ns a call more, whatever the size); one that is
// only read saves the copy. Measured per call: at 256 words the two even out
// (read 15 ns less, written 15 ns more), at 512 reading saves 35 ns, at 64
// it saves 5 ns. Below this the copy path stays as it was.
constexpr uint32_t kLendMinWords = 256;

// A reference argument to a whole value held by a local of a frame below
// (directly, or lent to it in turn) is lent: the callee's slot gets a link
// block naming that block (see var_blocks.h), so the call costs the same for
// any size of value. That local cannot change while the callee's frame lies
// above it; a global's value can, and is copied. r holds the reference's
// words, at its block; args_from is the descriptor index of the lowest
// argument.
bool argument_block_lends(EngineContext* ctx, const uint32_t* r, int64_t at, int64_t args_from) {
  if (r[kRefOffset] != 0) return false;
  const uint64_t* e = heap_words(ctx) + at;
  if ((elem_kind(e) & (kKindReference | kKindNoValue | kKindMarker)) || elem_data_words(e) < kLendMinWords)
    return false;
  const int64_t slot_word = r[kRefSlotWord];
  if (slot_word >= args_from) return false;
  const int32_t held = int32_t(desc_words(ctx)[slot_word]);
  return held == at || (heap_index_ok(ctx, held) && block_is_link(ctx, held) && link_lender(ctx, held) == at);
}

// The argument blocks a push has taken: the data stack's new top, and which
// arguments (bit k: argument k from the top) were references, which of
// those hand their variable's block over, with the slot words to clear, and
// which were lent (their block is a link).
struct ArgumentBlocks {
  int32_t done = 0;
  int64_t data_end = 0;
  uint64_t referenced = 0;
  uint64_t handed = 0;
  uint64_t lent = 0;
  uint32_t handed_slot[kMostReferences];
};

// Copies each of the top `args` arguments, last first, into a new block; its
// descriptor's first word then holds the block index (the block header keeps
// kind, a and b). Every block is taken before anything else changes, so on a
// failure give_back_argument_blocks leaves the stacks as they were.
inline int take_argument_blocks(EngineContext* ctx, const CodePosition* caller, int32_t nargout, int32_t args,
                                ArgumentBlocks* t) {
  uint64_t* heap = heap_words(ctx);
  int64_t data_end = ctx->data_top;
  int status = kOk;
  int32_t done = 0;
  for (; done < args; ++done) {
    uint32_t* d = desc_at(ctx, done);
    const int64_t n = desc_data_words(d);
    data_end -= n;
    const uint64_t* from = data_words(ctx) + data_end;
    uint32_t head[kDescWords] = {d[0], d[1], d[2]};
    int64_t words = n;
    if (d[0] == kKindReference) {
      const auto* r = reinterpret_cast<const uint32_t*>(from);
      const int64_t at = int64_t(int32_t(r[kRefBlock])) + int32_t(r[kRefOffset]);
      if (r[kRefOffset] != 0) entry_gap_close_in(ctx, int32_t(r[kRefBlock]));  // as ref_element does
      if (done >= kMostReferences || d[1] != kRefDataWords || !heap_index_ok(ctx, at)) {
        data_end += n;
        status = TN_ILLEGAL();
        break;
      }
      t->referenced |= uint64_t(1) << done;
      // A block handed to one argument is copied for the others; one lent
      // to an argument is not handed to another.
      bool taken = false, lent = false;
      for (int32_t k = 0; k < done; ++k) {
        if ((t->handed >> k) & 1) taken |= uint32_t(at) == desc_at(ctx, k)[0];
        if ((t->lent >> k) & 1) lent |= link_lender(ctx, int32_t(desc_at(ctx, k)[0])) == at;
      }
      const int64_t args_from = int64_t(ctx->desc_top) - kDescWords * args;
      if (!taken && !lent && argument_block_moves(ctx, caller, nargout, r, args_from)) {
        t->handed |= uint64_t(1) << done;
        t->handed_slot[done] = r[kRefSlotWord];
        d[0] = uint32_t(at);
        continue;
      }
      if (!taken && argument_block_lends(ctx, r, at, args_from)) {
        int32_t link = 0;
        status = heap_alloc(ctx, kLinkBlockWords, &link);
        if (status != kOk) {
          data_end += n;
          break;
        }
        link_write_borrowed(ctx, link, int32_t(at));
        t->lent |= uint64_t(1) << done;
        d[0] = uint32_t(link);
        continue;
      }
      from = heap + at;
      for (int i = 0; i < kDescWords; ++i) head[i] = elem_word(from, i);
      words = elem_data_words(from);
      from += kElemHeaderWords;
    }
    int32_t block = 0;
    status = heap_alloc(ctx, words + kHeapValueHeaderWords, &block);
    if (status != kOk) {
      data_end += n;
      break;
    }
    fill_value_block(heap + block, head, from, words);
    d[0] = uint32_t(block);
  }
  t->done = done;
  t->data_end = data_end;
  return status;
}

void give_back_argument_blocks(EngineContext* ctx, const ArgumentBlocks& t) {
  const uint64_t* heap = heap_words(ctx);
  for (int32_t k = 0; k < t.done; ++k) {
    uint32_t* d = desc_at(ctx, k);
    const int32_t block = int32_t(d[0]);
    d[0] = (t.referenced >> k) & 1 ? kKindReference : tn::ld_u32(heap + block);
    if (!((t.handed >> k) & 1)) heap_free(ctx, block);
  }
}

// The arguments' data leave the data stack; a variable whose block moved is
// undefined until the store that follows the call.
inline void hand_over_argument_blocks(EngineContext* ctx, const ArgumentBlocks& t) {
  ctx->data_top = int32_t(t.data_end);
  for (int32_t k = 0; k < t.done && t.handed; ++k)
    if ((t.handed >> k) & 1) desc_words(ctx)[t.handed_slot[k]] = uint32_t(kNoBlock);
}

// All the argument blocks of a call whose arguments include references, or
// none (and the stacks as they were) on a failure. Kept out of the plain
// frame's push, which is shorter without it.
[[gnu::noinline]] int bind_referenced_arguments(EngineContext* ctx, const CodePosition* caller, int32_t nargout,
                                                int32_t args) {
  ArgumentBlocks taken;
  const int status = take_argument_blocks(ctx, caller, nargout, args, &taken);
  if (status != kOk) {
    give_back_argument_blocks(ctx, taken);
    return status;
  }
  hand_over_argument_blocks(ctx, taken);
  return kOk;
}

// Undoes the varargin packing of a failed push: the list goes back to the
// separate items it was made of (a list pushed empty is dropped).
void unpack_varargin(EngineContext* ctx, int packed) {
  if (packed == 0) {
    stk_drop(ctx);
    return;
  }
  int32_t count = 0;
  stk_expand_list(ctx, &count);
}

}  // namespace

namespace {

int push_frame(EngineContext* ctx, const CodePosition* caller, const uint16_t* header, int32_t function_id,
               int32_t caller_word, int32_t nargout, int32_t nargin, int function_value, int argless,
               int completion);

// The values an anonymous function captured become its first argument,
// which its code unpacks into variables of their names. Kept out of
// frame_push, so that every other call goes straight on to push_frame.
[[gnu::noinline]] int push_capturing_frame(EngineContext* ctx, const CodePosition* caller, const uint16_t* header,
                                           int32_t function_id, int32_t caller_word, int32_t nargout,
                                           int32_t nargin, int argless, int completion) {
  const double* flat = nullptr;
  TN_TRY(inline_captures(ctx, nargin, &flat));
  TN_TRY(stk_push_descriptor(ctx, flat));
  TN_TRY(stk_move(ctx, nargin + 1, nargin));
  const int status = push_frame(ctx, caller, header, function_id, caller_word, nargout, nargin + 1, 1, argless,
                                completion);
  if (status != kOk) {
    stk_remove(ctx, nargin, 1);
    return status;
  }
  frame_words(ctx, ctx->frame)[kFwNargin] = uint32_t(nargin);  // the caller's count
  return kOk;
}

}  // namespace

namespace {

constexpr int kNotPlain = kFrameNotPlain;

// Sets a frame's n slots unset. A function has a few locals: stored one by
// one, which costs less than the library call a loop would become.
[[gnu::always_inline]] inline void clear_slots(uint32_t* slots, int32_t n) {
  switch (n) {
    case 4: slots[3] = kNoSlotValue; [[fallthrough]];
    case 3: slots[2] = kNoSlotValue; [[fallthrough]];
    case 2: slots[1] = kNoSlotValue; [[fallthrough]];
    case 1: slots[0] = kNoSlotValue; [[fallthrough]];
    case 0: return;
    default: std::memset(slots, 0xff, size_t(n) * 4);
  }
}
static_assert(kNoSlotValue == 0xffffffffu);

// clear_slots for 1 to kScalarCallFewLocals slots that lie above the stack's
// top with room for all four (a new frame's): all four are cleared, with two
// stores; those past n stay above the frame, where nothing reads them.
[[gnu::always_inline]] inline void clear_few_slots(uint32_t* slots, [[maybe_unused]] int32_t n) {
  static_assert(kScalarCallFewLocals == 4);
  TN_ASSERT(n >= 1 && n <= kScalarCallFewLocals);
  tn::store<uint64_t>(slots, ~uint64_t(0));
  tn::store<uint64_t>(slots + 2, ~uint64_t(0));
}

// What a plain call needs of its callee's header: false for a header that
// is not plain (argless, varargin or varargout, an input slot outside its
// locals).
bool plain_callee(EngineContext* ctx, const uint16_t* header, int32_t function_id, int32_t caller_word,
                  PlainCallee* out) {
  const uint16_t flags = header[kHdrFlags];
  if (flags & (kHdrArgless | kHdrVarargin | kHdrVarargout)) return false;
  const int32_t locals = header[kHdrLocals];
  const int32_t max_in = header[kHdrMaxIn];
  for (int32_t k = 0; k < max_in; ++k)
    if (header[kHdrInputSlots + k] >= locals) return false;
  *out = PlainCallee{function_id, caller_word, locals, max_in, header[kHdrMaxOut], 0, flags,
                     uint16_t(max_in >= 1 ? header[kHdrInputSlots] : 0), ~0u, 0};
  out->name_table = name_table_locator(ctx, header);
  if (flags & kHdrRestricted) out->sandbox_set = 1;
  if (flags & kHdrTrusted) out->sandbox_keep = out->sandbox_set = 0;  // trusted wins
  return true;
}

// The frame of a plain call once its callee's header has passed the checks:
// the arguments' blocks, the slots and the fixed words, exactly as push_frame
// writes them. kNotPlain, before anything changes, when the arguments do not
// lie above the current frame or the stack has no room (push_frame then
// reports it). kMayReference: some argument may be a reference; without it
// (the call cache's path) an argument that is a reference or a container is
// left, with everything else, to the general push.
template <bool kMayReference>
[[gnu::always_inline]] inline int push_plain_body(EngineContext* ctx, const CodePosition* caller,
                                                  const uint16_t* input_slots, const PlainCallee& callee,
                                                  int32_t nargout, int32_t nargin, int completion) {
  const int32_t locals = callee.locals;
  const int32_t prev_frame = ctx->frame;
  uint32_t* desc = desc_words(ctx);
  const uint32_t* caller_frame = prev_frame >= 0 ? desc + prev_frame : nullptr;
  const int64_t floor = caller_frame ? prev_frame + frame_fixed_words(caller_frame) : 0;
  const int64_t index = int64_t(ctx->desc_top) - int64_t(kDescWords) * nargin;
  if (index < floor) return kNotPlain;
  const int64_t new_top = index + kFrameFixedWords + locals;
  if (new_top + int64_t(kDescWords) * nargin > int64_t(ctx->desc_capacity)) return kNotPlain;

  // The arguments' blocks, as push_frame takes them; when no argument is a
  // reference, by a loop that knows it.
  bool references = false;
  const bool one_scalar = !kMayReference && nargin == 1 && desc_is_real_scalar(desc + index);
  if (kMayReference) {
    for (int64_t k = index; k < ctx->desc_top; k += kDescWords) references |= desc[k] == kKindReference;
  } else if (!one_scalar) {
    for (int64_t k = index; k < ctx->desc_top; k += kDescWords)
      if (desc[k] == kKindReference || desc[k] == kKindContainer) return kNotPlain;
  }
  if (one_scalar) {
    // One real scalar, the commonest argument: its block written as the
    // loop below writes it (the descriptor word the loop sets to the block
    // lies under the frame's fixed words, which are written last).
    int32_t block = 0;
    TN_TRY(heap_alloc(ctx, 1 + kHeapValueHeaderWords, &block));
    uint64_t* b = heap_words(ctx) + block;
    write_value_header(b, kKindReal, 1, 1);
    b[kHeapValueHeaderWords] = data_words(ctx)[ctx->data_top - 1];
    ctx->data_top -= 1;
    desc[index] = uint32_t(block);
  } else if (references) {
    TN_TRY(bind_referenced_arguments(ctx, caller, nargout, nargin));
  } else {
    uint64_t* heap = heap_words(ctx);
    int64_t data_end = ctx->data_top;
    for (int32_t done = 0; done < nargin; ++done) {
      uint32_t* d = desc + ctx->desc_top - kDescWords * (done + 1);
      const int64_t n = desc_data_words(d);
      int32_t block = 0;
      const int status = heap_alloc(ctx, n + kHeapValueHeaderWords, &block);
      if (status != kOk) {
        for (int32_t k = 0; k < done; ++k) {
          uint32_t* given = desc + ctx->desc_top - kDescWords * (k + 1);
          const int32_t b = int32_t(given[0]);
          given[0] = tn::ld_u32(heap + b);
          heap_free(ctx, b);
        }
        return status;
      }
      data_end -= n;
      const uint64_t* from = data_words(ctx) + data_end;
      fill_value_block(heap + block, d, from, n);
      d[0] = uint32_t(block);
    }
    ctx->data_top = int32_t(data_end);
  }

  // Only the block indexes are kept: they go straight to their slots. With
  // few arguments their descriptors lie inside the frame's fixed words, which
  // are written last; with more they may lie under the slots and move first.
  uint32_t* w = desc + index;
  uint32_t* slots = w + kFrameFixedWords;
  const uint32_t* given = w;
  if (kDescWords * nargin > kFrameFixedWords) {
    std::memmove(desc + new_top, w, size_t(nargin) * kDescWords * 4);
    given = desc + new_top;
  }
  clear_slots(slots, locals);
  if (nargin == 1)
    slots[input_slots[0]] = given[0];
  else
    for (int32_t k = 0; k < nargin; ++k) slots[input_slots[k]] = given[kDescWords * k];

  int32_t results = nargout < 0 ? -1 : nargout;
  if (callee.max_out == 0) results = -2;
  const uint32_t caller_sandbox = caller_frame ? caller_frame[kFwSandbox] : 0;
  const int32_t sandbox = int32_t((caller_sandbox & callee.sandbox_keep) | callee.sandbox_set);
  const int32_t caller_step = caller_frame ? int32_t(caller_frame[kFwStepMode]) : 0;

  write_frame_words(w, FrameWords{caller, uint32_t(int32_t(index) - prev_frame), false, callee.function_id,
                                   callee.caller_word, locals, results, nargin, nargout < 0 ? 1 : nargout, 0,
                                   completion != 0, sandbox, -1, caller_step, callee.name_table});

  ctx->frame = int32_t(index);
  ctx->desc_top = int32_t(new_top);
  return kOk;
}

// The frame of the common call, built with the cases that cannot arise left
// out: a compiled function without varargin, varargout or the argless form,
// called with arguments and results within its counts and no function value
// below the arguments. The words
// written are exactly push_frame's. kNotPlain, before anything changes, for
// any other call (push_frame then takes it, errors included).
int push_plain_frame(EngineContext* ctx, const CodePosition* caller, const uint16_t* header, int32_t function_id,
                     int32_t caller_word, int32_t nargout, int32_t nargin, int completion) {
  PlainCallee callee{};
  if (!plain_callee(ctx, header, function_id, caller_word, &callee)) return kNotPlain;
  if (nargin < 0 || nargin > callee.max_in || nargout > callee.max_out) return kNotPlain;
  return push_plain_body<true>(ctx, caller, header + kHdrInputSlots, callee, nargout, nargin, completion);
}

}  // namespace

bool frame_plain_callee(EngineContext* ctx, const uint16_t* header, int32_t function_id, int32_t caller_word,
                        PlainCallee* out) {
  return plain_callee(ctx, header, function_id, caller_word, out);
}

int frame_push_plain(EngineContext* ctx, CodePosition caller, const uint16_t* header, const PlainCallee& callee,
                     int32_t nargout, int32_t nargin) {
  TN_ASSERT(nargin >= 0 && nargin <= callee.max_in && nargout <= callee.max_out && caller.kind != kAreaNone);
  // One argument, the commonest count, with its count known to the compiler.
  const int status = nargin == 1
                         ? push_plain_body<false>(ctx, &caller, header + kHdrInputSlots, callee, nargout, 1, 0)
                         : push_plain_body<false>(ctx, &caller, header + kHdrInputSlots, callee, nargout, nargin, 0);
  if (__builtin_expect(ctx->bp_count > 0, 0) && status == kOk && dbg_entry_breakpoint(ctx, callee.function_id))
    frame_words(ctx, ctx->frame)[kFwStepMode] = kStepStopAtNext;
  return status;
}

namespace {

// frame_push_scalar_call's body. kAnyCall: its contract (any count, any
// caller, the heap's class hints split or not, when the take goes out of
// line); without it frame_push_scalar_call_few's, whose push calls nothing
// and clears the slots inline, so that the call cache's way inlining it
// saves few registers.
// kGiven (with the few push's contract): the argument was never pushed, its
// value waits in the data word at the stack's top; the frame goes where its
// descriptor would have gone and the data stack keeps its top.
template <bool kAnyCall, bool kGiven = false>
[[gnu::always_inline]] inline int push_scalar_call(EngineContext* ctx, const PlainCallee& callee, int32_t nargout) {
  static_assert(!(kAnyCall && kGiven));
  const int32_t prev = ctx->frame;
  // The interpreter's call always has a position.
  TN_ASSERT(kAnyCall || ctx->pos.kind != kAreaNone);
  if (prev < 0 || ctx->bp_count > 0 || (kAnyCall && ctx->pos.kind == kAreaNone))
    return kNotPlain;  // frame_push_plain's way
  uint32_t* desc = desc_words(ctx);
  const int64_t index = int64_t(ctx->desc_top) - (kGiven ? 0 : kDescWords);
  // A caller frame with names kept in it is a workspace: the general push
  // finds where its local area ends. The few push leaves a stepping caller
  // to the other.
  if (desc[prev + kFwFrameNames] != 0 || (!kAnyCall && desc[prev + kFwStepMode] != kStepRun) ||
      index < int64_t(prev) + kFrameFixedWords + int32_t(desc[prev + kFwLocals]) ||
      index + kFrameFixedWords + (kAnyCall ? callee.locals : kScalarCallFewLocals) + kDescWords >
          int64_t(ctx->desc_capacity) ||
      (!kGiven && !desc_is_real_scalar(desc + index)))
    return kNotPlain;
  // Exactly what push_plain_body writes for this call. The words above the
  // argument's descriptor go first: they lie above the stack's top, where a
  // decline leaves nothing that counts, and little is then held across the
  // heap's take (its loop needs most of the registers).
  uint32_t* w = desc + index;
  const uint32_t* caller_frame = desc + prev;
  // The few push's count is -1, 0 or 1, asked of a callee with an output by
  // a caller that is not stepping: the words that count gives are simpler to
  // reach, and the callee does not step.
  TN_ASSERT(kAnyCall || (nargout >= -1 && nargout <= 1 && callee.max_out >= 1));
  const int32_t caller_step = kAnyCall ? int32_t(caller_frame[kFwStepMode]) : kStepRun;
  const int32_t results = kAnyCall ? (callee.max_out == 0 ? -2 : nargout < 0 ? -1 : nargout) : nargout;
  const int32_t nargout_seen = kAnyCall ? (nargout < 0 ? 1 : nargout) : nargout & 1;
  const int32_t sandbox = int32_t((caller_frame[kFwSandbox] & callee.sandbox_keep) | callee.sandbox_set);
  write_frame_words_above(w, FrameWords{nullptr, 0, false, callee.function_id, callee.caller_word, callee.locals,
                                        results, 1, nargout_seen, 0, false, sandbox, -1, caller_step,
                                        callee.name_table});
  if (kAnyCall)
    clear_slots(w + kFrameFixedWords, callee.locals);
  else
    clear_few_slots(w + kFrameFixedWords, callee.locals);
  // For the few push the heap's own test of its class hints is this one,
  // just before it (the compiler folds the two), so nothing is called.
  if (!kAnyCall && ctx->heap_hints_split) return kNotPlain;
  const int32_t block = heap_take_at_hint(ctx, kScalarValueBlockWords);
  if (block == 0) return kNotPlain;
  uint64_t* b = heap_words(ctx) + block;
  write_value_header(b, kKindReal, 1, 1);
  if (kGiven) {
    b[kHeapValueHeaderWords] = data_words(ctx)[ctx->data_top];
  } else {
    b[kHeapValueHeaderWords] = data_words(ctx)[ctx->data_top - 1];
    ctx->data_top -= 1;
  }
  // The frame's index and the caller's read again (the take changed
  // neither): held across the take's loop with w they would cost saved
  // registers (fib: 5 pairs of pushes and pops a call before, none now).
  const int32_t at = ctx->desc_top - (kGiven ? 0 : kDescWords);
  write_frame_words_below(w, &ctx->pos, uint32_t(at - ctx->frame));
  w[kFrameFixedWords + callee.first_slot] = uint32_t(block);
  ctx->frame = at;
  ctx->desc_top = at + kFrameFixedWords + callee.locals;
  return kOk;
}

}  // namespace

int frame_push_scalar_call(EngineContext* ctx, const PlainCallee& callee, int32_t nargout) {
  return push_scalar_call<true>(ctx, callee, nargout);
}

int frame_push_scalar_call_few(EngineContext* ctx, const PlainCallee& callee, int32_t nargout) {
  TN_ASSERT(callee.locals <= kScalarCallFewLocals);
  return push_scalar_call<false>(ctx, callee, nargout);
}

int frame_push_scalar_call_given(EngineContext* ctx, const PlainCallee& callee, int32_t nargout) {
  TN_ASSERT(callee.locals <= kScalarCallFewLocals && uint32_t(ctx->data_top) < ctx->data_capacity);
  return push_scalar_call<false, true>(ctx, callee, nargout);
}

int frame_push(EngineContext* ctx, const CodePosition* caller, const uint16_t* header,
               int32_t function_id, int32_t caller_word, int32_t nargout, int32_t nargin,
               int function_value, int argless, int completion) {
  int status = kNotPlain;
  if (!function_value && !argless && header)
    status = push_plain_frame(ctx, caller, header, function_id, caller_word, nargout, nargin, completion);
  if (status != kNotPlain) {
  } else if (!function_value || !header || nargin < 0 || !(header[kHdrFlags] & kHdrCaptures)) {
    status = push_frame(ctx, caller, header, function_id, caller_word, nargout, nargin, function_value, argless,
                        completion);
  } else {
    status = push_capturing_frame(ctx, caller, header, function_id, caller_word, nargout, nargin, argless,
                                  completion);
  }
  // A breakpoint at the function's entry stops at its first line (code blocks,
  // which have no header, run in their caller's function but are not entered).
  if (__builtin_expect(ctx->bp_count > 0, 0) && status == kOk && header && dbg_entry_breakpoint(ctx, function_id))
    frame_words(ctx, ctx->frame)[kFwStepMode] = kStepStopAtNext;
  return status;
}

namespace {

int push_frame(EngineContext* ctx, const CodePosition* caller, const uint16_t* header, int32_t function_id,
               int32_t caller_word, int32_t nargout, int32_t nargin, int function_value, int argless,
               int completion) {
  if (nargin < 0) return TN_ILLEGAL();
  if (argless && (function_value || nargin > 0)) return TN_ILLEGAL();
  const int callee_words = (function_value || argless) ? kDescWords : 0;

  const uint16_t flags = header ? header[kHdrFlags] : 0;
  int32_t locals = 0, max_in = 0, max_out = 0;
  bool declares_no_outputs = false;
  if (header && (flags & kHdrArgless)) {
    if (nargin > 0) return kTooManyInputs;
    if (nargout > 1) return kTooManyOutputs;
    if (nargout < 0) nargout = 1;
  } else if (header) {
    locals = header[kHdrLocals];
    max_in = header[kHdrMaxIn];
    max_out = header[kHdrMaxOut];
    if (nargin > max_in && !(flags & kHdrVarargin)) return kTooManyInputs;
    if (nargout > max_out && !(flags & kHdrVarargout)) return kTooManyOutputs;
    declares_no_outputs = max_out == 0 && !(flags & kHdrVarargout);
    for (int32_t k = 0; k < max_in; ++k)
      if (header[kHdrInputSlots + k] >= locals) return TN_ILLEGAL();
  } else if (nargin > 0) {
    return kTooManyInputs;  // no header: no locals to receive arguments
  } else if (argless && nargout > 1) {
    return kTooManyOutputs;
  }
  const int32_t named = argless ? locals : 0;
  const int64_t local_area = named ? int64_t(kFrameNamedLocalWords) * named : locals;

  // The arguments (and the callee item) must lie above the current frame.
  // Whole items above the floor; the division is needed only below it.
  const int64_t floor = ctx->frame >= 0 ? ctx->frame + frame_fixed_words(frame_words(ctx, ctx->frame)) : 0;
  const int64_t above = ctx->desc_top - floor;
  const int64_t count = int64_t(nargin) + (callee_words ? 1 : 0);
  if (above < kDescWords * count && (above >= 0 || above / kDescWords < count)) return TN_ILLEGAL();

  // Varargin: the arguments from position max_in onward become one list; with
  // too few arguments for that, the varargin local gets an empty list.
  const bool varargin = header && (flags & kHdrVarargin) && max_in >= 1;
  const int32_t packed = varargin && nargin >= max_in - 1 ? nargin - (max_in - 1) : -1;
  const bool empty_varargin = varargin && nargin < max_in - 1;
  const int32_t args = packed >= 0 ? max_in : nargin;

  const int64_t top_after_pack = ctx->desc_top - int64_t(kDescWords) * (packed > 0 ? packed - 1 : packed == 0 ? -1 : 0);
  const int64_t index = top_after_pack - int64_t(kDescWords) * args - callee_words;
  const int64_t new_top = index + kFrameFixedWords + local_area + callee_words;
  if (new_top + int64_t(kDescWords) * args > int64_t(ctx->desc_capacity)) return kStackOverflow;

  // An argument may be a reference to a variable of the caller (the
  // interpreter passes an array that way rather than pushing a copy): it
  // stands for the variable's value. The values a list packs are taken first.
  for (int32_t k = 0; k < packed; ++k)
    if (desc_at(ctx, k)[0] == kKindReference) TN_TRY(ref_deref_at(ctx, k));
  if (packed >= 0) TN_TRY(stk_make_container(ctx, packed, 0, nullptr, 0));

  ArgumentBlocks taken;
  int status = take_argument_blocks(ctx, caller, nargout, args, &taken);
  int32_t empty_list_block = 0;
  if (status == kOk && empty_varargin) status = heap_alloc(ctx, kHeapValueHeaderWords, &empty_list_block);
  if (status != kOk) {
    give_back_argument_blocks(ctx, taken);
    if (packed >= 0) unpack_varargin(ctx, packed);
    return status;
  }
  hand_over_argument_blocks(ctx, taken);
  uint64_t* heap = heap_words(ctx);

  uint32_t callee[kDescWords] = {};
  if (callee_words) std::memcpy(callee, desc_at(ctx, args), sizeof callee);
  const int32_t prev_frame = ctx->frame;
  const uint32_t* caller_frame = prev_frame >= 0 ? frame_words(ctx, prev_frame) : nullptr;
  const int32_t caller_sandbox = caller_frame ? int32_t(caller_frame[kFwSandbox]) : 0;
  const int32_t caller_step = caller_frame ? int32_t(caller_frame[kFwStepMode]) : 0;

  // The argument descriptors move up behind the frame and its local area,
  // out of the way of the words written below.
  uint32_t* desc = desc_words(ctx);
  uint32_t* moved = desc + new_top;
  if (args == 1) {
    const uint32_t* a = desc + index + callee_words;
    const uint32_t a0 = a[0], a1 = a[1], a2 = a[2];
    moved[0] = a0;
    moved[1] = a1;
    moved[2] = a2;
  } else {
    std::memmove(moved, desc + index + callee_words, size_t(args) * kDescWords * 4);
  }

  uint32_t* w = desc + index;
  uint32_t* slots = w + kFrameFixedWords;
  for (int32_t k = 0; k < locals; ++k) slots[k] = uint32_t(-1);
  if (named) std::memset(slots + named, 0, size_t(named) * kFrameNameBytes);
  for (int32_t k = 0; k < args; ++k) {
    // moved[] keeps the stack order: the first argument lowest.
    slots[header[kHdrInputSlots + k]] = moved[kDescWords * k];
  }
  if (empty_list_block) {
    write_value_header(heap + empty_list_block, kKindContainer, 0, kContList);
    slots[header[kHdrInputSlots + max_in - 1]] = uint32_t(empty_list_block);
  }
  if (callee_words) std::memcpy(w + kFrameFixedWords + local_area, callee, sizeof callee);

  int32_t results = nargout < 0 ? -1 : nargout;
  if (declares_no_outputs) results = -2;
  int32_t seen = nargout < 0 ? 1 : nargout;
  if (header && (flags & kHdrVarargout)) seen = max_out - 1;
  int32_t sandbox = caller_sandbox;
  if (flags & kHdrRestricted) sandbox = 1;
  if (flags & kHdrTrusted) sandbox = 0;

  write_frame_words(w, FrameWords{caller, uint32_t(int32_t(index) - prev_frame), function_value != 0, function_id,
                                   caller_word, locals, results, nargin, seen, named, completion != 0, sandbox,
                                   function_value ? kFunctionValueFrame : -1, caller_step,
                                   argless ? 0 : header ? name_table_locator(ctx, header) : -1});

  ctx->frame = int32_t(index);
  ctx->desc_top = int32_t(new_top);
  return kOk;
}

}  // namespace

// Leaves the frame at index: the top `items` results' descriptors move down
// to where the frame began (word by word, first word first: they move toward
// the stack's base); their data stay where they are.
namespace {

inline void results_to_frame_base(EngineContext* ctx, int32_t index, int64_t items, int32_t prev) {
  uint32_t* desc = desc_words(ctx);
  const uint32_t* from = desc + ctx->desc_top - kDescWords * items;
  if (items == 1) {
    desc[index] = from[0];
    desc[index + 1] = from[1];
    desc[index + 2] = from[2];
  } else {
    for (int64_t k = 0; k < kDescWords * items; ++k) desc[index + k] = from[k];
  }
  ctx->frame = prev;
  ctx->desc_top = int32_t(index + kDescWords * items);
}

}  // namespace

int frame_pop(EngineContext* ctx) {
  const int32_t index = ctx->frame;
  if (index < 0) {
    ctx->pos.kind = kAreaNone;
    return kOk;
  }
  uint32_t* w = frame_words(ctx, index);
  const bool resume = w[kFwResume] != 0;
  ctx->pos = CodePosition{int32_t(w[kFwCallerKind]), 0, w[kFwCallerOffset]};
  int64_t items = items_above_frame(ctx, index);
  const int32_t wanted = int32_t(w[kFwResults]);
  int64_t keep = wanted < 0 ? 0 : (wanted < items ? wanted : items);
  if (statement_call(w)) {
    // A function called as a statement leaves one item, as a built-in does:
    // its code pushes no output (nargout reads 0), so the first output is
    // taken here when it is set, else a no-value item stands for it.
    TN_TRY(stk_remove(ctx, 0, int(items)));
    if (!statement_result_set(w) || var_push_local(ctx, 0) != kOk) TN_TRY(stk_push_no_value(ctx));
    items = keep = 1;
    w = frame_words(ctx, index);
  }
  if (items > keep) TN_TRY(stk_remove(ctx, int(keep), int(items - keep)));
  free_locals(ctx, w);
  const int32_t prev = previous_frame(w, index);
  results_to_frame_base(ctx, index, keep, prev);
  // A built-in that called this code continues: its call instruction ends
  // at the return position, and it learns the number of results from nargin.
  if (!resume || ctx->pos.kind == kAreaNone) return kOk;
  const uint16_t* ret = code_get_pc(ctx);
  if (!ret) return kOk;
  return lib_call_opcode(ctx, ret[-kLibraryCallWords], ~int(keep), int16_t(ret[-1]));
}

bool frame_pop_plain(EngineContext* ctx) {
  const int32_t index = ctx->frame;
  if (index < 0) return false;
  uint32_t* w = frame_words(ctx, index);
  const int32_t wanted = int32_t(w[kFwResults]);
  if (wanted < 0 || w[kFwResume] != 0 || is_base_frame(w)) return false;
  // A function's frame (no names kept in it) with its one result on top:
  // the count without a division.
  const int64_t first = index + kFrameFixedWords + int32_t(w[kFwLocals]);
  const int64_t items = w[kFwFrameNames] == 0 && ctx->desc_top - first == kDescWords ? 1
                                                                                  : items_above_frame(ctx, index);
  if (items > wanted) return false;
  // What frame_pop does when nothing is removed and nothing resumes.
  ctx->pos = CodePosition{int32_t(w[kFwCallerKind]), 0, w[kFwCallerOffset]};
  free_locals(ctx, w);
  const int32_t prev = previous_frame(w, index);
  results_to_frame_base(ctx, index, items, prev);
  return true;
}

[[gnu::noinline]] void frame_return_real_taken(EngineContext* ctx, uint32_t* w) {
  const int32_t index = ctx->frame;
  TN_ASSERT(index >= 0 && w == frame_words(ctx, index) && frame_return_real_fits(ctx, index, w));
  // What frame_pop_plain does after the value's push: its data word, which
  // the caller has pushed, stays where it is, its descriptor takes the
  // frame's first words (read before they are overwritten). The slots lie
  // above the new top. The context's words first, so that little is held
  // across the loop.
  TN_ASSERT(ctx->data_top >= 1 && uint32_t(ctx->data_top) < ctx->data_capacity);
  // The caller's area is the current one: only its offset is new.
  TN_ASSERT(ctx->pos.kind == int32_t(w[kFwCallerKind]));
  ctx->pos.flag = 0;
  ctx->pos.offset = w[kFwCallerOffset];
  ctx->frame = previous_frame(w, index);
  ctx->desc_top = index + kDescWords;
  const int32_t locals = int32_t(w[kFwLocals]);  // the descriptor's words below cover the frame's first
  set_desc_real_scalar(w);
  free_slots_body<false>(ctx, w + kFrameFixedWords, locals);
}

bool frame_return_real(EngineContext* ctx, uint64_t bits) {
  const int32_t index = ctx->frame;
  if (index < 0) return false;
  uint32_t* w = frame_words(ctx, index);
  if (!frame_return_real_fits(ctx, index, w)) return false;
  ctx->pos.kind = int32_t(w[kFwCallerKind]);
  data_words(ctx)[ctx->data_top] = bits;
  ctx->data_top += 1;
  frame_return_real_taken(ctx, w);
  return true;
}

int frame_unwind(EngineContext* ctx, int32_t limit) {
  entry_gap_settle(ctx);
  if (limit == 0) ctx->pos.kind = kAreaNone;
  while (ctx->frame >= 0) {
    const uint32_t* w = frame_words(ctx, ctx->frame);
    if (is_base_frame(w)) break;
    if (limit == -1 && w[kFwSuspendKind] != 0) break;
    if (limit > 0 && ctx->frame < limit) break;
    unwind_one(ctx);
  }
  return kOk;
}

bool frame_find_handler(EngineContext* ctx, int security_flag, CodePosition* out) {
  int32_t index = ctx->frame;
  while (index >= 0) {
    const uint32_t* w = frame_words(ctx, index);
    const bool catches = w[kFwCatchKind] != 0 && !(security_flag && w[kFwSandbox] != 0);
    if (catches) break;
    if (is_base_frame(w) || w[kFwCallerKind] == 0) return false;
    index = previous_frame(w, index);
  }
  if (index < 0) return false;
  if (!out) return true;

  while (ctx->frame > index) unwind_one(ctx);
  uint32_t* w = frame_words(ctx, index);
  const int64_t kept = int64_t(w[kFwCatchKeep]) + w[kFwFunctionValue];
  const int64_t items = items_above_frame(ctx, index);
  for (int64_t k = kept; k < items; ++k) stk_drop(ctx);
  *out = CodePosition{int32_t(w[kFwCatchKind]), 0, w[kFwCatchOffset]};
  // A handler catches once. The catch code installs the enclosing handler
  // first thing; disarmed here as well, an error in catch code whose first
  // instruction is damaged goes outward instead of back into the same catch
  // code, a loop without a backward jump that no break poll would see.
  w[kFwCatchKind] = 0;
  return true;
}

int frame_arg_count(EngineContext* ctx) {
  return ctx->frame < 0 ? 0 : int(items_above_frame(ctx, ctx->frame));
}

void frame_set_flag(EngineContext* ctx) {
  if (ctx->frame >= 0) frame_words(ctx, ctx->frame)[kFwSandbox] = 1;
}

int frame_push_nargio(EngineContext* ctx, int which) {
  int32_t v = 0;
  if (ctx->frame >= 0) {
    const uint32_t* w = frame_words(ctx, ctx->frame);
    v = int32_t(which ? w[kFwResults] : w[kFwNargin]);
    if (v < 0) v = 0;
  }
  return stk_push_real(ctx, double(v));
}

int stk_depth(EngineContext* ctx, int32_t* out) {
  *out = ctx->desc_top;
  return kOk;
}

void err_get_position(EngineContext* ctx, CodePosition* out) {
  out->kind = ctx->pos.kind;
  out->flag = 0;
  out->offset = ctx->pos.offset;
}

void err_set_position(EngineContext* ctx, const CodePosition* in) {
  ctx->pos = CodePosition{in->kind, 0, in->offset};
}

int interp_in_function(EngineContext* ctx) {
  for (int32_t index = ctx->frame; index >= 0;) {
    const uint32_t* w = frame_words(ctx, index);
    if (index == 0) return is_base_frame(w) ? 0 : 1;
    if (int32_t(w[kFwLocals]) >= 1) return 1;
    index = previous_frame(w, index);
  }
  return 0;
}

namespace {

// The workspace's name table and how many entries it can hold.
uint8_t* workspace_names(EngineContext* ctx, int32_t* capacity, int32_t* count) {
  *capacity = *count = 0;
  const int32_t index = frame_workspace_index(ctx);
  if (index < 0) return nullptr;
  uint32_t* w = frame_words(ctx, index);
  const int32_t where = int32_t(w[kFwNameTable]);
  *count = int32_t(w[kFwLocals]);
  *capacity = *count;
  if (where > 0) return blk(ctx, ctx->code_base) + int64_t(where) * 2;
  if (where < -1) return blk(ctx, ctx->data_base) + -int64_t(where);
  if (where == 0) {
    *capacity = int32_t(w[kFwFrameNames]);
    if (*count > *capacity) *count = *capacity;
    return reinterpret_cast<uint8_t*>(w + kFrameFixedWords + *capacity);
  }
  *count = 0;
  return nullptr;
}

}  // namespace

uint8_t* frame_var_name_entry(EngineContext* ctx, int32_t i) {
  int32_t capacity = 0, count = 0;
  uint8_t* table = workspace_names(ctx, &capacity, &count);
  if (!table || i < 0 || i >= capacity) return nullptr;
  return table + int64_t(kFrameNameBytes) * i;
}

void frame_var_table(EngineContext* ctx, uint8_t** table, int32_t* count) {
  int32_t capacity = 0;
  *table = workspace_names(ctx, &capacity, count);
  if (!*table) *count = 0;
}

void run_onabort(EngineContext* ctx) {
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    for (int32_t r = 0; r < refs[t].rows; ++r) {
      const BuiltinEntry& row = refs[t].table[r];
      if (row.fn && std::strncmp(row.name, kOnAbortHook, sizeof row.name) == 0)
        reinterpret_cast<OnAbortHookFn>(reinterpret_cast<void (*)()>(row.fn))(ctx, builtin_data(ctx, &row));
    }
  }
}

int poll_abort(EngineContext* ctx) {
  if (!ctx->abort_fn || !ctx->abort_fn(ctx->abort_arg)) return 0;
  run_onabort(ctx);
  if (!ctx->interrupt_debug) return 1;
  // The first request only arranges a stop for debugging; a second one stops.
  const bool already = ctx->pending_debug != 0;
  ctx->pending_debug = already ? 0 : 1;
  return already ? 1 : 0;
}

int check_abort(EngineContext* ctx) {
  ctx->pending_debug = 0;
  if (!ctx->abort_fn || !ctx->abort_fn(ctx->abort_arg)) return kSliceEnded;
  run_onabort(ctx);
  if (!ctx->interrupt_debug) return kAborted;
  if (ctx->frame >= 0) frame_words(ctx, ctx->frame)[kFwStepMode] = kStepStopAtNext;
  return kDebugSuspend;
}
