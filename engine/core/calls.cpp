// Starting calls: a frame and a code position for a user function, a small
// code stub on the data stack for a built-in, code blocks compiled from text
// and command lines. Nothing here runs code: the interpreter does, from the
// position left here. A code stub lives in an item just above its frame, so
// popping the frame at its halt removes the stub with everything else.
#include <algorithm>
#include <cstring>

#include "engine/core/call_cache.h"
#include "engine/core/calls.h"
#include "engine/core/entry_gap.h"
#include "engine/core/debug_state.h"
#include "engine/core/errors.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/interp_steps.h"
#include "engine/core/libraries.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int kMaxStubWords = 8 + 2 * kArgsAny;  // opcode, counts, pops, no-value, halt
constexpr int32_t kNameGrowth = 16;              // the least a full workspace grows by
// Slots travel in signed 16-bit operand words: no workspace holds more names.
constexpr int32_t kMaxWorkspaceNames = INT16_MAX + 1;
constexpr char kDbstep[] = "dbstep";

InterpRunFn g_runner = interp_run;

int32_t words_for_code(int64_t code_words) { return int32_t((code_words + 3) / 4); }

// The frame is pushed on top (it has no locals, so only its fixed words) and
// rotated below the n top items; their data never move.
int push_frame_below(EngineContext* c, int n, const CodePosition* caller, int32_t function_id, int nargout) {
  const int64_t floor = c->frame >= 0 ? c->frame + frame_fixed_words(frame_words(c, c->frame)) : 0;
  if (int64_t(c->desc_top) - 3 * int64_t(n) < floor) return kBadArgument;
  TN_TRY(frame_push(c, caller, nullptr, function_id, 0, nargout, 0, 0, 0, 0));
  const int32_t index = c->frame;
  const int32_t below = index - 3 * n;
  uint32_t* d = desc_words(c);
  std::rotate(d + below, d + index, d + index + kFrameFixedWords);
  uint32_t* w = d + below;
  w[kFwPrevDistance] = uint32_t(int32_t(w[kFwPrevDistance]) - 3 * n);
  c->frame = below;
  return kOk;
}

const CodePosition* caller_position(EngineContext* c, CodePosition* keep) {
  *keep = c->pos;
  return keep->kind != kAreaNone ? keep : nullptr;
}

uint32_t data_byte_offset(EngineContext* c, const void* p) {
  return uint32_t(reinterpret_cast<const uint8_t*>(p) - reinterpret_cast<const uint8_t*>(data_words(c)));
}

// Built-in through a stub: the call, the drops of results not asked for, a
// no-value item for a statement call that gives none, then halt.
int call_builtin(EngineContext* c, int32_t context_id, int nargin, int nargout, const BuiltinEntry* row,
                 int32_t opcode, const IntrinsicEntry* intrinsic, const char* name) {
  int min_out = 0, max_out = 0;
  bool in_word = true, out_word = true;
  if (row) {
    min_out = row->min_out;
    max_out = (row->max_out & kArgsAny) ? kArgcNoMaximum : row->max_out;
  } else {
    min_out = argc_min(intrinsic->out_args);
    max_out = argc_max(intrinsic->out_args);
    in_word = argc_is_variable(intrinsic->in_args);
    out_word = argc_is_variable(intrinsic->out_args);
  }
  int n = nargout;
  if (n < 0) n = min_out > 0 ? 1 : 0;
  if (max_out != kArgcNoMaximum && n > max_out) return fn_raise(c, kTooManyOutputs, 0, -1, name);
  const int produced = std::max(n, min_out);
  uint16_t stub[kMaxStubWords];
  int len = 0;
  stub[len++] = uint16_t(opcode);
  if (in_word) stub[len++] = uint16_t(nargin);
  if (out_word) stub[len++] = uint16_t(produced);
  for (int k = n; k < produced && len < kMaxStubWords - 2; ++k) stub[len++] = kOpPopItem;
  if (nargout < 0 && produced == 0) stub[len++] = kOpPushNoValue;
  stub[len++] = kOpHalt;
  return call_setup_frame(c, stub, len, nargin, nargout < 0 ? 1 : n, 0, context_id, 0);
}

int call_user(EngineContext* c, int32_t id, int nargin, int nargout, bool keep_position, bool function_value) {
  const uint16_t* h = fn_code_header(c, id);
  if (!h) {
    const int status = fn_compile_on_demand(c, id, nullptr, 0, 0, 0);
    // Errors in the source pass; a function without source is undefined.
    if (status != kOk && status != kUndefinedFunctionOrVariable) return status;
    h = fn_code_header(c, id);
  }
  if (!h) {
    int32_t n = 0;
    const char* name = nullptr;
    fn_name_by_id(c, id, &name, &n);
    return fn_raise(c, kUndefinedFunction, 0, n, name);
  }
  const CodePosition keep = c->pos;
  const int32_t start = ent(c, id, kEntCode);
  TN_TRY(frame_push(c, keep.kind != kAreaNone ? &keep : nullptr, h, id, ent(c, id, kEntExtra), nargout, nargin,
                    function_value ? 1 : 0, 0, 0));
  if (!keep_position) c->pos = CodePosition{kAreaCode, 0, uint32_t((start + code_header_words(h)) * 2)};
  return kOk;
}

int call_named(EngineContext* c, const char* name, int32_t context_id, int nargin, int nargout, uint32_t flags,
               bool keep_position) {
  int32_t id = -1, opcode = -1;
  const BuiltinEntry* row = nullptr;
  const IntrinsicEntry* intrinsic = nullptr;
  TN_TRY(fn_resolve_ref(c, name, context_id, nargin, nargout, &id, &row, &opcode, &intrinsic, flags));
  if (id > 0) return call_user(c, id, nargin, nargout, keep_position, false);
  return call_builtin(c, context_id, nargin, nargout, row, opcode, intrinsic, name);
}

// The call instruction's call when its id may not be what the name means:
// by its name, of which at most kOpNameBytes characters are taken.
[[gnu::noinline]] int call_id_by_name(EngineContext* c, int32_t id, int32_t context_id, int nargin, int nargout) {
  const char* text = nullptr;
  int32_t n = 0;
  fn_name_by_id(c, id, &text, &n);
  char name[kOpNameBytes + 1] = {};
  std::memcpy(name, text, size_t(n < kOpNameBytes ? n : kOpNameBytes));
  return call_named(c, name, context_id, nargin, nargout, 0, false);
}

// The current workspace's name table grows by n names, so that a statement
// compiled there (a command line at a debugger stop, eval) can make new
// variables. The table is kept in the frame: the base frame's is already,
// a function frame's lies in its code, and its names are copied into the
// frame the first time. Everything above the workspace's local area (items,
// and the frames of code blocks) moves up; the workspace's slots stay where
// they are, so references to its variables stay true. A workspace whose
// names were not kept (code compiled without names) cannot grow.
// The names a full table of `names` grows by: as many again, so that a text
// assigning many names compiles a few times at most, not once per few names.
int32_t name_growth(int32_t names) {
  const int32_t room = kMaxWorkspaceNames - names;
  const int32_t step = names > kNameGrowth ? names : kNameGrowth;
  return step < room ? step : room;
}

// The name slots the current workspace has now (0 when its names cannot
// grow).
int32_t workspace_name_slots(EngineContext* c) {
  const int32_t ws = frame_workspace_index(c);
  if (ws < 0) return 0;
  const uint32_t* w = frame_words(c, ws);
  const int32_t where = int32_t(w[kFwNameTable]);
  if (where < 0) return 0;
  return where == 0 ? int32_t(w[kFwFrameNames]) : int32_t(w[kFwLocals]);
}

int grow_workspace_names(EngineContext* c, int32_t n) {
  if (n < 1) return kVariableTableOverflow;
  const int32_t ws = frame_workspace_index(c);
  if (ws < 0) return kStackOverflow;
  uint32_t* w = frame_words(c, ws);
  const int32_t where = int32_t(w[kFwNameTable]);
  if (where < 0) return kVariableTableOverflow;  // no names, or names on the data stack
  const int32_t slots_before = where == 0 ? int32_t(w[kFwFrameNames]) : int32_t(w[kFwLocals]);
  const int64_t area_before = frame_fixed_words(w) - kFrameFixedWords;
  const int32_t named = slots_before + n;
  const int64_t extra = int64_t(named) * kFrameNamedLocalWords - area_before;
  if (int64_t(c->desc_top) + extra >= int64_t(c->desc_capacity)) return kStackOverflow;
  uint32_t* d = desc_words(c);
  uint32_t* slots = w + kFrameFixedWords;
  const int64_t area_end = ws + kFrameFixedWords + area_before;
  std::memmove(d + area_end + extra, d + area_end, size_t(c->desc_top - area_end) * 4);
  if (where == 0) {
    // Names move up past the new slots; the new names follow the old ones.
    std::memmove(slots + named, slots + slots_before, size_t(slots_before) * kFrameNameBytes);
  } else {
    std::memcpy(slots + named, blk<uint8_t>(c, c->code_base) + int64_t(where) * 2,
                size_t(slots_before) * kFrameNameBytes);
  }
  for (int32_t k = slots_before; k < named; ++k) slots[k] = uint32_t(-1);
  std::memset(slots + named + int64_t(slots_before) * kFrameNameWords, 0, size_t(n) * kFrameNameBytes);
  w[kFwFrameNames] = uint32_t(named);
  w[kFwNameTable] = 0;
  c->desc_top += int32_t(extra);
  if (c->frame > ws) {
    // The frames above moved with everything else; the lowest of them counts
    // its distance to the workspace, which grew.
    c->frame += int32_t(extra);
    for (int32_t index = c->frame;;) {
      uint32_t* above = frame_words(c, index);
      const int32_t prev = index - int32_t(above[kFwPrevDistance]);
      if (prev <= ws + extra) {
        above[kFwPrevDistance] = uint32_t(int32_t(above[kFwPrevDistance]) + int32_t(extra));
        break;
      }
      index = prev;
    }
  }
  return kOk;
}

// A full workspace grows by as many names again, or by the least step when
// the stack has no room for that many.
int grow_full_workspace(EngineContext* c) {
  const int32_t names = workspace_name_slots(c);
  if (grow_workspace_names(c, name_growth(names)) == kOk) return kOk;
  return name_growth(names) > kNameGrowth ? grow_workspace_names(c, kNameGrowth) : kVariableTableOverflow;
}

// The frame just pushed (nothing above it yet) becomes a workspace: n local
// slots, all unset, with their names kept in the frame as the base frame
// keeps its own; the compiler fills them in order.
int add_workspace_names(EngineContext* c, int32_t n) {
  const int64_t extra = int64_t(n) * kFrameNamedLocalWords;
  if (c->desc_top != c->frame + kFrameFixedWords || int64_t(c->desc_top) + extra >= int64_t(c->desc_capacity))
    return kStackOverflow;
  uint32_t* w = frame_words(c, c->frame);
  uint32_t* slots = w + kFrameFixedWords;
  for (int32_t k = 0; k < n; ++k) slots[k] = uint32_t(-1);
  std::memset(slots + n, 0, size_t(n) * kFrameNameBytes);
  w[kFwFrameNames] = uint32_t(n);
  w[kFwLocals] = 0;
  w[kFwNameTable] = 0;
  c->desc_top += int32_t(extra);
  return kOk;
}

bool readfn_present(EngineContext* c) {
  int32_t k = 0;
  return lib_find_builtin(c, kHookReadFn, nullptr, 0, &k) != nullptr;
}

// Blanks the definitions of a text (line ends kept, so line numbers stay
// true), leaving the statements that surround them.
int blank_definitions(EngineContext* c, const char* text, char* copy, int32_t length) {
  std::memmove(copy, text, size_t(length));
  return fn_each_definition(c, text, length, [&](const SourceDefinition& d) {
    for (int32_t i = d.start; i < d.end; ++i)
      if (copy[i] != '\n' && copy[i] != '\r') copy[i] = ' ';
    return int(kOk);
  });
}

// Compiles text as top-level code into an item above a new frame and points
// the position at it. On error the frame is gone again. With statements_only
// the compiler sees the text with its definitions blanked, in the free
// descriptor space above the new frame (the compiler uses the data stack).
// With own_names the new frame is a workspace of its own, with room for
// that many variables (more as the text needs them), instead of the
// caller's; values_from >= 0: see kCompileValuesFrom.
int compile_block(EngineContext* c, const char* text, int32_t length, uint32_t flags, int nargout,
                  int32_t* value_count, bool statements_only, int32_t values_from = -1, int32_t own_names = 0) {
  if (values_from >= 0) flags |= kCompileValuesFrom;
  if (int64_t(c->desc_top) + kFrameFixedWords + length >= int64_t(c->desc_capacity)) return kStackOverflow;
  const int32_t context_id = frame_current_function(c);
  for (;;) {
    CodePosition keep{};
    const CodePosition* caller = caller_position(c, &keep);
    TN_TRY(frame_push(c, caller, nullptr, context_id, 0, nargout, 0, 0, 0, 0));
    if (own_names > 0 && add_workspace_names(c, own_names) != kOk) {
      frame_return_discard(c);
      return kStackOverflow;
    }
    // The compiler's output area is an item while it works, so its own use
    // of the free data stack stays above it.
    const int64_t lent = data_free_words(c) / 2;
    if (!desc_room(c) || lent < 1) {
      frame_return_discard(c);
      return kDataStackOverflow;
    }
    uint64_t* area = stk_claim(c, kKindReal, 1, uint32_t(lent), uint32_t(lent));
    const char* source = text;
    int status = kOk;
    if (statements_only) {
      int32_t capacity = 0;
      char* copy = source_scratch(c, text, length, &capacity);
      status = capacity < length ? kStackOverflow : blank_definitions(c, text, copy, length);
      source = copy;
    }
    int64_t size = 0;
    int32_t values = values_from >= 0 ? values_from : 0;
    if (status == kOk)
      status = fn_compiler()(c, fn_library_of(c, context_id), source, length, reinterpret_cast<uint16_t*>(area),
                             lent * 4, &size, -1, flags | (readfn_present(c) ? uint32_t(kCompileReadfnPresent) : 0u),
                             &values);
    const int32_t w = words_for_code(size);
    if (status == kOk && (size < 1 || w > lent)) status = kCodeOverflow;
    if (status != kOk) {
      stk_drop(c);
      frame_return_discard(c);
      // A full name table grows and the text compiles again; each growth
      // doubles the table, so the retries stay few however many names.
      if (status == kVariableTableOverflow && own_names > 0 && name_growth(own_names) > 0) {
        own_names += name_growth(own_names);
        err_store(c, 0, nullptr, 0, false);
        continue;
      }
      if (status == kVariableTableOverflow && own_names == 0 &&
          grow_full_workspace(c) == kOk) {
        // The attempt's error text must not stand for a later error's report.
        err_store(c, 0, nullptr, 0, false);
        continue;
      }
      return status;
    }
    desc_at(c, 0)[2] = uint32_t(w);
    c->data_top -= int32_t(lent - w);
    frame_words(c, c->frame)[kFwFunctionValue] = 1;  // a caught error keeps the code item
    if (nargout >= 0) frame_words(c, c->frame)[kFwResults] = uint32_t(values);
    if (value_count) *value_count = values;
    c->pos = CodePosition{kAreaDataStack, 0, data_byte_offset(c, area)};
    return kOk;
  }
}

}  // namespace

InterpRunFn interp_set_runner(InterpRunFn fn) {
  InterpRunFn old = g_runner;
  g_runner = fn ? fn : interp_run;
  return old;
}

int interp_run_hook(EngineContext* c, int slice) { return g_runner(c, slice); }

int call_setup_frame(EngineContext* c, const uint16_t* code, int32_t length, int nargin, int nargout,
                     int32_t extra_locals, int32_t function_id, int flag) {
  if (extra_locals != 0 || nargin < 0 || length < 1) return kBadArgument;
  const int64_t floor = c->frame >= 0 ? c->frame + frame_fixed_words(frame_words(c, c->frame)) : 0;
  if ((int64_t(c->desc_top) - floor) / 3 < nargin) return kBadArgument;
  const uint32_t words = uint32_t(words_for_code(length));
  if (!desc_room(c)) return kStackOverflow;
  if (int64_t(words) >= data_free_words(c)) return kDataStackOverflow;
  uint64_t* item = stk_claim(c, kKindReal, 1, words, words);
  item[words - 1] = 0;
  std::memcpy(item, code, size_t(length) * 2);
  TN_TRY(stk_move(c, nargin + 1, nargin));
  CodePosition keep{};
  const CodePosition* caller = caller_position(c, &keep);
  const int status = push_frame_below(c, nargin + 1, caller, function_id, nargout);
  if (status != kOk) {
    stk_remove(c, nargin, 1);
    return status;
  }
  // The code is the frame's first item: a caught error must keep it, as it
  // keeps a function value below the arguments.
  frame_words(c, c->frame)[kFwFunctionValue] = 1;
  if (flag) frame_words(c, c->frame)[kFwResume] = 1;
  c->pos = CodePosition{kAreaDataStack, 0, data_byte_offset(c, item_data(c, nargin))};
  return kOk;
}

int fn_call(EngineContext* c, const char* name, int32_t context_id, int nargin, int nargout, int user_only,
            int keep_position) {
  return call_named(c, name, context_id, nargin, nargout, user_only ? uint32_t(kResolveUserOnly) : 0u, keep_position != 0);
}

int fn_call_user_id(EngineContext* c, int32_t id, int32_t context_id, int nargin, int nargout) {
  if (fn_resolves_to_self(c, id, context_id, nargin)) return call_user(c, id, nargin, nargout, false, false);
  return call_id_by_name(c, id, context_id, nargin, nargout);
}

namespace {

// Fills the cache entry of (id, context_id) when resolution gives id itself
// and id is a compiled plain function; null otherwise (the general call then
// compiles, resolves or reports).
[[gnu::noinline]] const CallCacheEntry* call_cache_fill(EngineContext* c, int32_t id, int32_t context_id,
                                                        int nargin) {
  if (!fn_resolves_to_self(c, id, context_id, nargin)) return nullptr;
  const uint16_t* h = fn_code_header(c, id);
  PlainCallee callee{};
  if (!h || !frame_plain_callee(c, h, id, ent(c, id, kEntExtra), &callee)) return nullptr;
  const int64_t start = (ent(c, id, kEntCode) + code_header_words(h)) * 2;
  if (start + 2 > int64_t(c->code_size) * 2) return nullptr;
  CallCacheEntry e;
  e.callee = id;
  e.context = context_id;
  e.code = ent(c, id, kEntCode);
  e.start_offset = int32_t(start);
  const bool few = callee.max_in >= 1 && callee.max_out >= 1 && callee.locals <= kScalarCallFewLocals;
  e.few_nargout_span = few ? 3 : 0;
  e.shape = callee;
  call_cache_store(c, e);
  return call_cache_find(c, id, context_id);
}

// A pushed callee's frame is entered at its first instruction.
inline void enter_callee(EngineContext* c, const CallCacheEntry* e) {
  c->pos = CodePosition{kAreaCode, 0, uint32_t(e->start_offset)};
}

// The cached call's way for everything but its commonest case: the push
// checks the arguments, the counts and the room.
[[gnu::noinline]] int call_cached_general(EngineContext* c, const CallCacheEntry* e, int nargin, int nargout) {
  if (uint32_t(nargin) > uint32_t(e->shape.max_in) || nargout > e->shape.max_out || c->pos.kind == kAreaNone)
    return kFrameNotPlain;
  const int status = frame_push_plain(c, c->pos, code_words(c) + e->code, e->shape, nargout, nargin);
  if (status != kOk) return status;  // a heap failure as the general call reports it, or not plain
  enter_callee(c, e);
  return kOk;
}

// A hit with one argument that the push calling nothing declined (the
// heap's class hints split, an argument that is not a real scalar, no block
// at the heap's hint, ...): the one-scalar push that takes split hints, then
// the general one.
[[gnu::noinline]] int call_cached_scalar(EngineContext* c, const CallCacheEntry* e, int nargout) {
  if (frame_push_scalar_call(c, e->shape, nargout) == kOk) {
    enter_callee(c, e);
    return kOk;
  }
  return call_cached_general(c, e, 1, nargout);
}

// A hit that the push calling nothing does not take: other counts, a
// callee with more locals or no output.
[[gnu::noinline]] int call_cached_other(EngineContext* c, const CallCacheEntry* e, int nargin, int nargout) {
  if (nargin == 1 && e->shape.max_in >= 1 && nargout <= e->shape.max_out) return call_cached_scalar(c, e, nargout);
  return call_cached_general(c, e, nargin, nargout);
}

// A miss: the entry is filled when the call can take the cache's way.
[[gnu::noinline]] int call_cached_miss(EngineContext* c, int32_t id, int32_t context_id, int nargin, int nargout) {
  if (id <= 0 || id >= c->fn_count) return kFrameNotPlain;
  const CallCacheEntry* e = call_cache_fill(c, id, context_id, nargin);
  return e ? call_cached_other(c, e, nargin, nargout) : kFrameNotPlain;
}

// A call with no frame below it: its context is 0, and only the general
// pushes take it.
[[gnu::noinline]] int call_cached_frameless(EngineContext* c, int32_t id, int nargin, int nargout) {
  const CallCacheEntry* e = call_cache_find(c, id, 0);
  return e ? call_cached_other(c, e, nargin, nargout) : call_cached_miss(c, id, 0, nargin, nargout);
}

}  // namespace

// Kept out of the interpreter loop: inlined there, its registers crowd the
// loop's own and every instruction pays (measured: fewer instructions per
// call out of line, the call's own cost included). A hit with one real
// scalar argument, few locals and the heap's class hints not split is pushed
// here by a push that calls nothing, so that this way saves only the
// registers the heap's take needs: everything else leaves by a tail call
// (the other hits and the misses, the declines of the push). The frame's
// words are stored one by one: packed into vector registers first (as the
// vectorizer would) they cost more instructions than they save. An entry
// found needs no check against the function table: every change of it
// empties the cache.
// The caller's function id, the cache's context, is read here from the
// caller's frame, which the push reads anyway: the interpreter reading it
// first costs the frame's index and the block's base twice. No frame (no
// caller's id, context 0) is never pushed here.
[[gnu::noinline, gnu::optimize("no-tree-slp-vectorize")]] int fn_call_user_cached(EngineContext* c, int32_t id,
                                                                                   int nargin, int nargout) {
  const int32_t prev = c->frame;
  if (__builtin_expect(prev < 0, 0)) return call_cached_frameless(c, id, nargin, nargout);
  const int32_t context_id = int32_t(desc_words(c)[prev + kFwFunctionId]);
  const CallCacheEntry* e = call_cache_find(c, id, context_id);
  if (__builtin_expect(!e, 0)) return call_cached_miss(c, id, context_id, nargin, nargout);
  if (__builtin_expect(nargin != 1 || uint32_t(nargout + 1) >= e->few_nargout_span, 0))
    return call_cached_other(c, e, nargin, nargout);
  TN_ASSERT(id < c->fn_count && e->code == ent(c, id, kEntCode));
  if (frame_push_scalar_call_few(c, e->shape, nargout) != kOk) return call_cached_scalar(c, e, nargout);
  enter_callee(c, e);
  return kOk;
}

// The few way alone, for an argument whose value alone was written (see
// frame_push_scalar_call_given): everything else, a miss included, is
// declined with nothing changed, and the interpreter pushes the argument and
// calls as usual.
[[gnu::noinline, gnu::optimize("no-tree-slp-vectorize")]] int fn_call_user_given(EngineContext* c, int32_t id,
                                                                                  int nargout) {
  const int32_t prev = c->frame;
  if (__builtin_expect(prev < 0, 0)) return kFrameNotPlain;
  const int32_t context_id = int32_t(desc_words(c)[prev + kFwFunctionId]);
  const CallCacheEntry* e = call_cache_find(c, id, context_id);
  if (__builtin_expect(!e || uint32_t(nargout + 1) >= e->few_nargout_span, 0)) return kFrameNotPlain;
  TN_ASSERT(id < c->fn_count && e->code == ent(c, id, kEntCode));
  if (frame_push_scalar_call_given(c, e->shape, nargout) != kOk) return kFrameNotPlain;
  enter_callee(c, e);
  return kOk;
}

int fn_call_resolving(EngineContext* c, const char* name, int32_t context_id, int nargin, int nargout,
                      uint32_t flags) {
  return call_named(c, name, context_id, nargin, nargout, flags, false);
}

int fn_call_funarg(EngineContext* c, int depth, int nargin, int nargout, int builtin_only) {
  if (poll_abort(c)) return kAborted;
  if (!stk_has_item(c, depth) || depth < nargin) return kBadArgument;
  const int32_t caller_id = frame_current_function(c);
  const uint32_t flags = builtin_only ? uint32_t(kResolveBuiltinOnly) : 0u;
  const uint32_t* d = desc_at(c, depth);
  int status = kOk;
  if (stk_is_char(c, depth)) {
    char name[kIdentifierLimit + 1] = {};
    int32_t n = 0;
    status = stk_get_string_buf(c, depth, name, kIdentifierLimit, &n);
    if (status == kObjectTooLarge) return kFunctionNotFound;
    TN_TRY(status);
    if (n == 0) return kNullName;
    name[n] = 0;
    TN_TRY(call_named(c, name, caller_id, nargin, nargout, flags, false));
  } else if (d[0] == kKindPayload && d[2] == kPayInline) {
    // The value's code runs from a copy placed below the arguments, owned by the frame.
    InlineParts parts{};
    TN_TRY(stk_get_inline(c, depth, &parts));
    if (!parts.code) return kWrongArgType;
    TN_TRY(stk_dup(c, depth, 1));
    TN_TRY(stk_move(c, nargin + 1, nargin));
    TN_TRY(stk_get_inline(c, nargin, &parts));
    CodePosition keep{};
    const CodePosition* caller = caller_position(c, &keep);
    const uint32_t start = data_byte_offset(c, parts.code + code_header_words(parts.code));
    status = frame_push(c, caller, parts.code, caller_id, 0, nargout, nargin, 1, 0, 0);
    if (status != kOk) {
      stk_remove(c, nargin, 1);
      return status;
    }
    c->pos = CodePosition{kAreaDataStack, 0, start};
  } else if (d[0] == kKindPayload && d[2] == kPayFuncRef) {
    const char* text = nullptr;
    int32_t n = 0;
    code_string_ref(item_data(c, depth), &text, &n);
    if (n > kIdentifierLimit || int64_t(n) + 4 > int64_t(d[1]) * 8) return kUndefinedFunction;
    char name[kIdentifierLimit + 1] = {};
    std::memcpy(name, text, size_t(n));
    const int32_t word = tn::load<uint16_t>(reinterpret_cast<const uint8_t*>(item_data(c, depth)) + 2);
    TN_TRY(call_named(c, name, word, nargin, nargout, flags, false));
  } else {
    return kWrongArgType;
  }
  frame_words(c, c->frame)[kFwResume] = 1;
  return kOk;
}

int interp_call(EngineContext* c, const char* name, int32_t context_id, int nargin, int nargout, int frame_flag,
                int slice) {
  entry_gap_settle(c);  // a run that paused leaves no gap to the next
  int32_t id = -1, opcode = -1;
  const BuiltinEntry* row = nullptr;
  const IntrinsicEntry* intrinsic = nullptr;
  c->pos.flag = 0;
  int status = fn_resolve_ref(c, name, context_id, nargin, nargout, &id, &row, &opcode, &intrinsic,
                              kResolveUserOnly);
  // Only user functions run here: any other answer means there is none.
  if (status != kOk && status != kDataStackOverflow) status = kUndefinedFunction;
  if (status == kOk && id < 1) status = kUndefinedFunction;
  if (status == kOk && !fn_code_header(c, id)) {
    status = fn_compile_on_demand(c, id, nullptr, 0, 0, 0);
    if (status == kUndefinedFunctionOrVariable) status = kUndefinedFunction;  // no source: no function
  }
  if (status == kOk && !fn_code_header(c, id)) status = kUndefinedFunction;
  if (status == kOk) {
    const uint16_t* h = fn_code_header(c, id);
    const int32_t start = ent(c, id, kEntCode);
    status = frame_push(c, nullptr, h, id, ent(c, id, kEntExtra), nargout, nargin, 0, 0, 0);
    if (status == kOk) {
      if (frame_flag) frame_set_flag(c);
      c->pos = CodePosition{kAreaCode, 0, uint32_t((start + code_header_words(h)) * 2)};
      // A fresh call: the main context's slice lap starts with it, not
      // where its last run handed control back.
      if (c->task_first != 0) interp_steps::slice_lap_restart(c);
      return g_runner(c, slice);
    }
  }
  // The name is the failing operation; the report goes to fd 2 unstored.
  if (status == kUndefinedFunction) fn_raise(c, kUndefinedFunction, 0, -1, name);
  std::memset(c->failing_op, 0, sizeof c->failing_op);
  std::memcpy(c->failing_op, name, strnlen(name, sizeof c->failing_op));
  c->error_area.loc_function = kFunctionNone;
  c->error_area.loc_line = 0;
  err_print(c, status, false);
  c->pos.kind = kAreaNone;
  return status;
}

int frame_return_discard(EngineContext* c) {
  if (c->frame < 0) return kOk;
  frame_words(c, c->frame)[kFwResults] = 0;
  return frame_pop(c);
}

int exec_code_block(EngineContext* c, const char* text, int32_t length, int32_t* value_count) {
  entry_gap_settle(c);
  return compile_block(c, text, length, kCompileKeepNames, 1, value_count, false);
}

int exec_own_code_block(EngineContext* c, const char* text, int32_t length, int32_t* value_count) {
  entry_gap_settle(c);
  return compile_block(c, text, length, kCompileKeepNames, 1, value_count, false, -1, kNameGrowth);
}

namespace {

int eval_block(EngineContext* c, const char* text, int32_t length, int nargout, uint32_t flags, int32_t own_names) {
  if (nargout < 0) return kBadArgument;
  flags |= kCompileKeepNames;
  int32_t values = 0;
  // Counting first: with outputs wanted, a lone variable counts as a value
  // though this pass still shows it (no value is taken yet).
  const int32_t count_only = nargout >= 1 ? INT32_MAX : -1;
  TN_TRY(compile_block(c, text, length, flags, nargout, &values, false, count_only, own_names));
  // The caller's instruction takes exactly nargout items: a text that leaves
  // fewer values cannot run.
  if (values < nargout) {
    frame_return_discard(c);
    return kTooManyOutputs;
  }
  if (nargout >= 1) {
    // Once more, now that it is known which values are taken: their calls
    // ask for one output, so that no "no value" item stands for a result.
    const int32_t names = own_names > 0 ? int32_t(frame_words(c, c->frame)[kFwFrameNames]) : 0;
    frame_return_discard(c);
    TN_TRY(compile_block(c, text, length, flags, nargout, &values, false, values - nargout, names));
  }
  frame_words(c, c->frame)[kFwResults] = uint32_t(nargout);
  return kOk;
}

}  // namespace

int exec_eval_block(EngineContext* c, const char* text, int32_t length, int nargout, uint32_t flags) {
  entry_gap_settle(c);
  return eval_block(c, text, length, nargout, flags, 0);
}

int exec_own_workspace_block(EngineContext* c, const char* text, int32_t length, int nargout, uint32_t flags) {
  entry_gap_settle(c);
  return eval_block(c, text, length, nargout, flags, kNameGrowth);
}

namespace {

int compile_command_line(EngineContext* c, const char* text, int32_t length) {
  const uint32_t flags = kCompileKeepNames | kCompileAnsConvention;
  if (c->status_word == kDebugSuspend || frame_pending_step_present(c)) {
    bool empty = true;
    for (int32_t i = 0; i < length && empty; ++i) empty = text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                                                          text[i] == '\r';
    if (empty) {
      text = kDbstep;
      length = int32_t(sizeof kDbstep) - 1;
    }
    // The suspended frame keeps its position: the command is entered from the
    // host, and its end returns to the host, not into the suspended code.
    c->pos.kind = kAreaNone;
    return compile_block(c, text, length, flags, -1, nullptr, false);
  }
  // The functions a line references are compiled before it runs; those an
  // earlier compilation left marked are no business of this line unless it
  // names them (its compilation marks them again). Compiled here, one whose
  // library text no longer gives it would fail every line that follows,
  // whatever the line said, one marked name at a time; it now reports its
  // fault where it is called.
  fn_release_references(c);
  int32_t cli = 0;
  TN_TRY(lib_find_by_name(c, kCliLibrary, -1, 1, &cli));
  TN_TRY(lib_compile_source(c, cli, text, length, 1));
  TN_TRY(compile_block(c, text, length, flags, -1, nullptr, true));
  return fn_compile_pending(c, 0);
}

}  // namespace

int exec_command_line(EngineContext* c, const char* text, int32_t length, int flag) {
  entry_gap_settle(c);
  if (length < 0) length = int32_t(std::strlen(text));
  if (c->charset[kCharsetBom]) {
    // A text read from a file may open with a byte-order mark, which the
    // source reader drops from every other source too.
    const int skip = c->charset[kCharsetBom](text, nullptr, nullptr, length);
    if (skip > 0 && skip <= length) {
      text += skip;
      length -= skip;
    }
  }
  const int status = compile_command_line(c, text, length);
  if (status == kOk) {
    // A fresh command: the current context's slice lap starts with it.
    if (c->task_first != 0) interp_steps::slice_lap_restart(c);
    return kSliceEnded;
  }
  // Nothing runs, so nothing else will report it; the report becomes lasterr's.
  if (status != kDebugSuspend && !flag) err_print(c, status, true);
  return status;
}

bool exec_check_halt_opcode(EngineContext* c) {
  c->pos.flag = 1;
  const uint8_t* base = nullptr;
  int64_t bytes = 0;
  switch (c->pos.kind) {
    case kAreaCode: base = reinterpret_cast<const uint8_t*>(code_words(c)); bytes = int64_t(c->code_size) * 2; break;
    case kAreaDataStack: base = reinterpret_cast<const uint8_t*>(data_words(c)); bytes = int64_t(c->data_capacity) * 8; break;
    case kAreaHeap: base = reinterpret_cast<const uint8_t*>(heap_words(c)); bytes = int64_t(c->heap_size) * 8; break;
    default: return false;
  }
  int64_t at = c->pos.offset;
  auto allowed = [](uint32_t op) {
    switch (op) {
      // nop pads the 8-byte literals, which are allowed.
      case kOpNop: case kOpPushZero: case kOpPushOne: case kOpI: case kOpPi: case kOpGoldenratio: case kOpPushEmpty:
      case kOpSingle: case kOpInt8: case kOpInt16: case kOpInt32: case kOpUint8: case kOpUint16: case kOpUint32:
      case kOpInt64: case kOpUint64: case kOpVertcat: case kOpHorzcat: case kOpColon: case kOpUminus:
      case kOpCtranspose: case kOpTranspose: case kOpPlus: case kOpMinus: case kOpTimes: case kOpMtimes:
      case kOpStr2fun: case kOpLogical: case kOpEps: case kOpInf: case kOpNan: case kOpTrue: case kOpFalse:
      // The dump writes complex(re,im) for the parts no literal keeps.
      case kOpComplex:
      case kOpMakeList: case kOpPushInt16: case kOpPushImagInt16: case kOpPushSmallInt8: case kOpPushSmallInt16:
      case kOpPushSmallInt32: case kOpPushSmallUint8: case kOpPushSmallUint16: case kOpPushSmallUint32:
      case kOpPushSmallInt64: case kOpPushSmallUint64: case kOpInline: case kOpReshape: case kOpCat:
      case kOpZeros: case kOpOnes: case kOpEye: case kOpDiag: case kOpStruct: case kOpClass:
      case kOpPushDouble: case kOpPushImagDouble: case kOpPushSingle: case kOpPushImagSingle:
      case kOpPushString8: case kOpPushString16: case kOpHalt: case kOpPosition: case kOpPositionWide:
      case kOpTaskEnd:
        return true;
      default:
        return false;
    }
  };
  for (;;) {
    if (at < 0 || at + 2 > bytes) return false;
    const uint16_t* pc = reinterpret_cast<const uint16_t*>(base + at);
    const uint32_t op = *pc;
    if (op == kOpHalt) return true;
    if (at + 4 > bytes) return false;  // every other instruction reads an operand word or more
    if (op >= kFirstLibraryOpcode) {
      // A method of an object class in a "!" group, or a row named after an allowed intrinsic.
      int32_t k = int32_t(op - kFirstLibraryOpcode);
      const LibraryTableRef* refs = table_refs(c);
      bool ok = false;
      for (int32_t t = 0; t < c->table_count && !ok; ++t) {
        if (k >= refs[t].rows) {
          k -= refs[t].rows;
          continue;
        }
        const BuiltinEntry& row = refs[t].table[k];
        char mark = 0;
        for (int32_t r = 0; r < k; ++r)
          if (refs[t].table[r].name[0] == '!' || refs[t].table[r].name[0] == '@') mark = refs[t].table[r].name[0];
        const IntrinsicEntry* same = intrinsic_find(row.name);
        ok = (row.class_word < 0 && mark == '!') || (same && allowed(same->opcode));
        break;
      }
      if (!ok) return false;
    } else if (!allowed(op)) {
      return false;
    }
    const int64_t len = op >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(pc);
    if (at + 2 * len > bytes) return false;
    at += 2 * len;
  }
}
