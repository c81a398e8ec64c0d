// Call frames: records of 22 words on the descriptor stack, directly below
// the items the called code works with, each followed by its local slots
// (heap indices of the locals' values, -1 when unset). Frames are chained by
// the distance in word 2; the base frame at word 0 is never popped.
#pragma once

#include <cstdint>

#include "engine/core/checked.h"
#include "engine/core/context.h"

// CallFrame words.
enum FrameWord : int {
  kFwCallerKind = 0,   // caller's code area kind; 0 from outside; 6 the base frame
  kFwCallerOffset = 1,
  kFwPrevDistance = 2,  // this index - previous index
  kFwCatchKind = 3,     // 0: no try block active
  kFwCatchOffset = 4,
  kFwCatchKeep = 5,     // items above the locals kept when an error is caught
  kFwFunctionValue = 6,
  kFwSuspendKind = 7,   // pending debugger step entry
  kFwSuspendOffset = 8,
  kFwFunctionId = 9,
  kFwMethodClass = 10,
  kFwLocals = 11,
  kFwResults = 12,      // results kept at return; -1 statement, -2 no outputs
  kFwNargin = 13,
  kFwNargout = 14,      // result count seen by the function
  kFwFrameNames = 15,   // local slots whose names are kept in the frame
  kFwResume = 16,       // call the calling built-in again after the return
  kFwSandbox = 17,
  kFwLine = 18,
  kFwCurrentFunction = 19,
  kFwStepMode = 20,
  kFwNameTable = 21,    // >0 code words from the code base; <-1 bytes from the data base; 0 in frame; -1 none
  kFrameFixedWords = 22,
};

constexpr int kFrameNameBytes = 32;
constexpr int kFrameNameWords = kFrameNameBytes / 4;
constexpr int kFrameNamedLocalWords = 1 + kFrameNameWords;  // slot and name
constexpr int32_t kStepRun = 0;
constexpr int32_t kStepStopAtNext = 2;
constexpr int32_t kStepInto = 3;
constexpr int32_t kFunctionValueFrame = -2;  // word 19 of a function-value frame

// Compiled function header, 16-bit words at the function's code start.
enum CodeHeaderWord : int {
  kHdrFlags = 0,
  kHdrLocals = 1,
  kHdrMaxIn = 2,
  kHdrMaxOut = 3,
  kHdrInputSlots = 4,  // one word per declared input: the local slot it fills
};
enum : uint16_t {
  kHdrVarargin = 1,
  kHdrVarargout = 2,
  kHdrArgless = 4,
  kHdrNoNames = 8,
  kHdrTrusted = 16,
  kHdrRestricted = 32,
  kHdrCaptures = 64,  // an inline function value that carries captured values behind its code
};

// Words of the frame ahead of its items: the 22 fixed words and the local area.
inline int64_t frame_fixed_words(const uint32_t* w) {
  const int32_t named = int32_t(w[kFwFrameNames]);
  return kFrameFixedWords + (named >= 1 ? int64_t(kFrameNamedLocalWords) * named
                                        : int64_t(int32_t(w[kFwLocals])));
}

inline uint32_t* frame_words(EngineContext* ctx, int32_t index) { return desc_words(ctx) + index; }

// Pushes a frame for the nargin items on top (and, for a function-value or
// argument-less call, the item just below them). caller: the return position
// or null; header: the callee's compiled header or null.
int frame_push(EngineContext* ctx, const CodePosition* caller, const uint16_t* header,
               int32_t function_id, int32_t caller_word, int32_t nargout, int32_t nargin,
               int function_value, int argless, int completion);
int frame_pop(EngineContext* ctx);

// --- The plain call's short way ----------------------------------------------------
// What a plain call needs of its callee's header (the call cache keeps it).
struct PlainCallee {
  int32_t function_id;
  int32_t caller_word;
  int32_t locals;
  int32_t max_in;
  int32_t max_out;
  int32_t name_table;  // the frame's kFwNameTable word
  uint16_t flags;
  uint16_t first_slot;  // the first input's local slot (0 when it takes none)
  // The frame's kFwSandbox word is (the caller's & sandbox_keep) | sandbox_set:
  // a trusted function clears it, a restricted one sets it, others inherit it.
  uint32_t sandbox_keep;
  uint32_t sandbox_set;
};
// A push that did nothing because the call is not plain (the general push
// then takes it).
constexpr int kFrameNotPlain = -1;
// True when header is a plain function's (no varargin, varargout or
// argument-less form; every input slot inside its locals); *out its shape.
bool frame_plain_callee(EngineContext* ctx, const uint16_t* header, int32_t function_id, int32_t caller_word,
                        PlainCallee* out);
// frame_push for a callee that passed frame_plain_callee, with 0 <= nargin <=
// max_in and nargout <= max_out, called from the position `caller` (not
// kAreaNone): the same frame, without the header's checks. kFrameNotPlain
// (nothing changed) when an argument is a reference or a container (a copy,
// or the choice of a method, comes first), when the arguments do not lie
// above the current frame or the stack lacks room; a heap failure's status
// (nothing changed).
int frame_push_plain(EngineContext* ctx, CodePosition caller, const uint16_t* header, const PlainCallee& callee,
                     int32_t nargout, int32_t nargin);
// frame_push_plain of the commonest call from ctx->pos, one real scalar
// argument above a frame, while no breakpoint is set and the heap has a block
// at its hint:
// kFrameNotPlain, with nothing changed, for any other (frame_push_plain then
// takes it).
int frame_push_scalar_call(EngineContext* ctx, const PlainCallee& callee, int32_t nargout);
// frame_push_scalar_call for a callee with an input, an output and at most
// kScalarCallFewLocals locals, asked for -1, 0 or 1 outputs, from a position
// that is set (the interpreter's call); it declines for a caller that is
// stepping and while the heap's class hints are split. It calls nothing, so
// that the call cache's way, which inlines it, saves few registers.
constexpr int32_t kScalarCallFewLocals = 4;
int frame_push_scalar_call_few(EngineContext* ctx, const PlainCallee& callee, int32_t nargout);
// frame_push_scalar_call_few of an argument whose value alone was written,
// as the data word at the data stack's top (not pushed: no descriptor, the
// tops unchanged): the same frame, block and tops as pushing the value and
// then frame_push_scalar_call_few, or (kFrameNotPlain) nothing that counts
// changed. The interpreter's «f(x - 1)» hands its result on this way.
int frame_push_scalar_call_given(EngineContext* ctx, const PlainCallee& callee, int32_t nargout);
// frame_pop of a frame that keeps all its items (no more than its result
// count, which is not negative), resumes no built-in and is not the base
// frame: true when done, false (nothing changed) for any other frame.
bool frame_pop_plain(EngineContext* ctx);
// A function's return of one real scalar (its 64-bit pattern; both stacks
// have room for it) where pushing it and frame_pop_plain would take the
// frame: true when done, false (nothing changed) for any other frame, or
// with anything above the frame's locals.
bool frame_return_real(EngineContext* ctx, uint64_t bits);
// frame_return_real's test of the current frame (index, its words w): it
// keeps results, resumes no built-in, is not the base frame, keeps no names
// and has nothing above its locals.
[[gnu::always_inline]] inline bool frame_return_real_fits(const EngineContext* ctx, int32_t index,
                                                          const uint32_t* w) {
  // No names and no resumed built-in: the two neighbouring words read as one.
  static_assert(kFwResume == kFwFrameNames + 1);
  return int32_t(w[kFwResults]) >= 1 && tn::load<uint64_t>(w + kFwFrameNames) == 0 &&
         int32_t(w[kFwCallerKind]) != kAreaBaseFrame &&
         ctx->desc_top == index + kFrameFixedWords + int32_t(w[kFwLocals]);
}
// frame_return_real of a current frame that fits (w its words) and returns
// to the area it runs from, once the value's data word is pushed (the
// interpreter has the data stack's top at hand); out of line with the
// locals' blocks freed in it: the interpreter tests the frame with the words
// at hand and holds nothing across the one call.
void frame_return_real_taken(EngineContext* ctx, uint32_t* w);
int frame_unwind(EngineContext* ctx, int32_t limit);
bool frame_find_handler(EngineContext* ctx, int security_flag, CodePosition* out);
int frame_arg_count(EngineContext* ctx);
void frame_set_flag(EngineContext* ctx);
int frame_push_nargio(EngineContext* ctx, int which);

int stk_depth(EngineContext* ctx, int32_t* out);
void err_get_position(EngineContext* ctx, CodePosition* out);
void err_set_position(EngineContext* ctx, const CodePosition* in);
int interp_in_function(EngineContext* ctx);

// The current workspace: the innermost frame with locals or with a name
// table of its own (a code block given its own workspace), else the base
// frame. Its word index (-1 when there is none) and its slot count. Inline:
// the interpreter looks it up after every call.
inline int32_t frame_workspace_index(EngineContext* ctx) {
  for (int32_t index = ctx->frame; index >= 0;) {
    const uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwLocals]) >= 1 || int32_t(w[kFwFrameNames]) >= 1 ||
        int32_t(w[kFwCallerKind]) == kAreaBaseFrame)
      return index;
    const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
    if (prev < 0 || prev >= index) return -1;
    index = int32_t(prev);
  }
  return -1;
}
inline int32_t frame_workspace(EngineContext* ctx, int32_t* slots) {
  const int32_t index = frame_workspace_index(ctx);
  if (slots) {
    *slots = 0;
    if (index >= 0) {
      const uint32_t* w = frame_words(ctx, index);
      const int32_t named = int32_t(w[kFwFrameNames]);
      *slots = named >= 1 ? named : int32_t(w[kFwLocals]);
    }
  }
  return index;
}
// The workspace's 32-byte name entries.
uint8_t* frame_var_name_entry(EngineContext* ctx, int32_t i);
void frame_var_table(EngineContext* ctx, uint8_t** table, int32_t* count);

// The host's request to stop running code.
int poll_abort(EngineContext* ctx);
int check_abort(EngineContext* ctx);
void run_onabort(EngineContext* ctx);

// A "+onabort" hook row's function, stored in the row cast to BuiltinFn.
using OnAbortHookFn = int (*)(EngineContext* ctx, uintptr_t data);
