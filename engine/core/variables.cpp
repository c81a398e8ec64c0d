// Local variables: slots of the current workspace holding heap blocks, the
// link blocks that tie a slot to a global or persistent entry, and the
// instructions and built-in that read, store, increment, link and clear them.
// Every store allocates before it frees, so a full heap never leaves a slot
// naming a freed block.
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/entry_finger.h"
#include "engine/core/errors.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/outer_refs.h"
#include "engine/core/symbols.h"
#include "engine/core/var_blocks.h"

namespace {

// The slot's value is about to be freed or rewritten whole: references that
// callers below hold into it lose their target (a borrowed argument's block
// is the caller's, and stays as it is).
void slot_value_drops(EngineContext* ctx, const SlotTarget& t) {
  if (t.block != kNoBlock && !slot_borrowed(t) && outer_refs_may_see(ctx, t.slot_word)) outer_refs_drop(ctx, t.block);
}

constexpr char kClearFunctions[] = "-f";
constexpr int32_t kNoArgument = -1;

// Raises code naming slot k.
int raise_for(EngineContext* ctx, int code, int32_t k) {
  return err_raise_code(ctx, code, k, 0, kNoArgument, nullptr);
}

void write_value(EngineContext* ctx, int32_t block, const uint32_t* h, const uint64_t* data) {
  uint64_t* e = heap_words(ctx) + block;
  // A block rewritten where it lies may hold other entries; fingers and
  // indexes lie only in one that held a container (heap_free).
  if (elem_kind(e) == kKindContainer) finger_forget(ctx, block);
  elem_set_header(e, h[0], h[1], h[2], 0);
  std::memcpy(e + kElemHeaderWords, data, size_t(desc_data_words(h)) * 8);
}

// Compares a char array item with a 32-byte name entry.
bool name_matches(const uint8_t* entry, const uint16_t* name, int64_t n) {
  if (n < 1 || n > kFrameNameBytes) return false;
  for (int64_t i = 0; i < n; ++i)
    if (name[i] != entry[i]) return false;
  return n == kFrameNameBytes || entry[n] == 0;
}

bool is_char_array(EngineContext* ctx, int depth, const uint16_t** text, int64_t* n) {
  TypedView t;
  if (!typed_view(ctx, depth, &t) || t.subtype != kPayChar || t.type != kElemU16) return false;
  *text = reinterpret_cast<const uint16_t*>(t.elems);
  *n = t.count;
  return true;
}

// "clear -f" moves compiled code, so it is refused while any of it runs or
// will run again: code-area code at the current position, a frame above the
// base frame that runs a function or returns or catches into code-area code,
// or an engine task. Blocks compiled from a command line run on the data
// stack and do not count.
bool functions_in_use(EngineContext* ctx) {
  if (ctx->task_first != 0 || ctx->task_current != 0 || ctx->pos.kind == kAreaCode) return true;
  for (int32_t index = ctx->frame; index > 0;) {
    const uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwCallerKind]) == kAreaCode || int32_t(w[kFwCatchKind]) == kAreaCode ||
        int32_t(w[kFwFunctionId]) > 0)
      return true;
    const int64_t prev = int64_t(index) - int32_t(w[kFwPrevDistance]);
    if (prev < 0 || prev >= index) break;
    index = int32_t(prev);
  }
  return false;
}

int clear_functions(EngineContext* ctx) {
  if (functions_in_use(ctx)) return kBadContext;
  for (int32_t id = 1; id < ctx->fn_count; ++id)
    if (ent(ctx, id, kEntName) < 0 && ent(ctx, id, kEntCode) > 0) TN_TRY(fn_code_remove(ctx, id));
  return kOk;
}

}  // namespace

int slot_locate(EngineContext* ctx, int32_t k, SlotTarget* out) {
  int32_t slots = 0;
  const int32_t ws = frame_workspace(ctx, &slots);
  if (ws < 0 || k < 0 || k >= slots) return TN_ILLEGAL();
  slot_locate_word(ctx, ws + kFrameFixedWords + k, out);
  return kOk;
}

void slot_locate_word(EngineContext* ctx, int32_t slot_word, SlotTarget* out) {
  const int32_t v = int32_t(desc_words(ctx)[slot_word]);
  *out = SlotTarget{slot_word, 0, 0, heap_index_ok(ctx, v) ? v : kNoBlock};
  if (out->block == kNoBlock || !block_is_link(ctx, v)) return;
  out->link = v;
  out->block = kNoBlock;
  const int32_t entry = int32_t(block_words32(ctx, v)[kLinkEntry]);
  if (entry == 0) {
    const int32_t lender = link_lender(ctx, v);
    if (lender) out->block = lender;  // a borrowed argument
    return;
  }
  if (entry < 1 || entry >= ctx->fn_count) return;
  out->entry = entry;
  const int32_t value = ent(ctx, entry, kEntCode);
  if (heap_index_ok(ctx, value)) out->block = value;
}

void slot_set_block(EngineContext* ctx, const SlotTarget& t, int32_t block) {
  if (t.link && t.entry == 0) {
    // A borrowed argument (or a link without its entry) gets a value of its own.
    heap_free(ctx, t.link);
    desc_words(ctx)[t.slot_word] = uint32_t(block);
  } else if (t.link) {
    ent_set(ctx, t.entry, kEntCode, block);
  } else {
    desc_words(ctx)[t.slot_word] = uint32_t(block);
  }
}

void slot_replace_block(EngineContext* ctx, const SlotTarget& t, int32_t block) {
  if (!slot_keeps_block(t)) heap_free(ctx, t.block);
  slot_set_block(ctx, t, block);
}

void link_write_borrowed(EngineContext* ctx, int32_t link, int32_t lender) {
  uint32_t* w = block_words32(ctx, link);
  std::memset(w, 0, size_t(kLinkBlockWords) * 8);
  w[0] = kKindReference;
  w[1] = kLinkDataWords;
  w[kLinkLender] = uint32_t(lender);
}

int slot_detach(EngineContext* ctx, SlotTarget* t) {
  if (!slot_keeps_block(*t)) return kOk;
  const int64_t words = elem_total_words(heap_words(ctx) + t->block);
  int32_t fresh = 0;
  TN_TRY(heap_alloc(ctx, words, &fresh));
  uint64_t* heap = heap_words(ctx);
  std::memcpy(heap + fresh, heap + t->block, size_t(words) * 8);
  tn::st_u32(reinterpret_cast<uint8_t*>(heap + fresh) + 12, 0);  // a variable's header ends in a zero word
  if (t->entry != 0) {
    // A kept value: the variable stays linked, its entry names the copy.
    ent_set(ctx, t->entry, kEntCode, fresh);
    t->block = fresh;
    return kOk;
  }
  heap_free(ctx, t->link);
  desc_words(ctx)[t->slot_word] = uint32_t(fresh);
  *t = SlotTarget{t->slot_word, 0, 0, fresh};
  return kOk;
}

int var_push_local(EngineContext* ctx, int32_t k) {
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  if (t.block == kNoBlock) return raise_for(ctx, kUndefinedVariable, k);
  const uint32_t* h = block_words32(ctx, t.block);
  const uint32_t n = desc_data_words(h);
  if (!desc_room(ctx)) return raise_for(ctx, kStackOverflowVar, k);
  if (int64_t(n) > data_free_words(ctx)) return raise_for(ctx, kDataStackOverflowVar, k);
  uint64_t* p = stk_claim(ctx, h[0], h[1], h[2], n);
  std::memcpy(p, heap_words(ctx) + t.block + kElemHeaderWords, size_t(n) * 8);
  return kOk;
}

int var_store_local(EngineContext* ctx, int32_t k) {
  if (!stk_has_item(ctx, 0)) return TN_ILLEGAL();
  if (desc_at(ctx, 0)[0] == kKindNoValue) {
    stk_drop(ctx);
    return kOk;
  }
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  if (desc_at(ctx, 0)[0] == kKindReference) TN_TRY(ref_deref_at(ctx, 0));
  const uint32_t* h = desc_at(ctx, 0);
  const int64_t words = kElemHeaderWords + int64_t(desc_data_words(h));
  slot_value_drops(ctx, t);
  if (t.block != kNoBlock && !slot_keeps_block(t) && heap_block_size(ctx, t.block) == words) {
    write_value(ctx, t.block, h, item_data(ctx, 0));
  } else {
    int32_t fresh = 0;
    TN_TRY(heap_alloc(ctx, words, &fresh));
    write_value(ctx, fresh, h, item_data(ctx, 0));
    slot_replace_block(ctx, t, fresh);
  }
  stk_drop(ctx);
  return kOk;
}

namespace {

// Slot k as a value the load instruction would push: a plain block (no
// global link) of a stored kind, with room for it on both stacks.
bool loadable_block(EngineContext* ctx, int32_t k, SlotTarget* t) {
  if (slot_locate(ctx, k, t) != kOk || t->link || t->block == kNoBlock) return false;
  const uint32_t* h = block_words32(ctx, t->block);
  if (h[0] & (kKindReference | kKindNoValue | kKindMarker)) return false;
  return desc_room(ctx) && int64_t(desc_data_words(h)) <= data_free_words(ctx);
}

}  // namespace

bool var_try_copy_local(EngineContext* ctx, int32_t from, int32_t to, bool from_dies) {
  SlotTarget s, t;
  if (!loadable_block(ctx, from, &s) || slot_locate(ctx, to, &t) != kOk) return false;
  if (s.block == t.block) return true;  // the same variable: the store rewrites what it holds
  slot_value_drops(ctx, t);
  if (from_dies) {
    slot_replace_block(ctx, t, s.block);
    desc_words(ctx)[s.slot_word] = uint32_t(kNoBlock);
    return true;
  }
  const uint32_t* h = block_words32(ctx, s.block);
  const int64_t words = kElemHeaderWords + int64_t(desc_data_words(h));
  if (t.block != kNoBlock && !slot_keeps_block(t) && heap_block_size(ctx, t.block) == words) {
    write_value(ctx, t.block, h, heap_words(ctx) + s.block + kElemHeaderWords);
    return true;
  }
  int32_t fresh = 0;
  if (heap_alloc(ctx, words, &fresh) != kOk) return false;
  h = block_words32(ctx, s.block);
  write_value(ctx, fresh, h, heap_words(ctx) + s.block + kElemHeaderWords);
  slot_replace_block(ctx, t, fresh);
  return true;
}

int var_store_block(EngineContext* ctx, int32_t k, int64_t words, int32_t* block) {
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  if (t.block != kNoBlock && !slot_keeps_block(t) && heap_block_size(ctx, t.block) == words) {
    *block = t.block;
    return kOk;
  }
  return heap_alloc(ctx, words, block);
}

void var_store_finish(EngineContext* ctx, int32_t k, int32_t block, const uint32_t* h) {
  SlotTarget t;
  if (slot_locate(ctx, k, &t) != kOk) return;  // not reached: var_store_block found the slot
  slot_value_drops(ctx, t);
  uint64_t* e = heap_words(ctx) + block;
  if (block == t.block && elem_kind(e) == kKindContainer) finger_forget(ctx, block);
  elem_set_header(e, h[0], h[1], h[2], 0);
  if (block != t.block) slot_replace_block(ctx, t, block);
}

void var_store_abandon(EngineContext* ctx, int32_t k, int32_t block) {
  SlotTarget t;
  if (slot_locate(ctx, k, &t) == kOk && block != t.block) heap_free(ctx, block);
}

bool var_try_return_local(EngineContext* ctx, int32_t k) {
  // A function frame, called for exactly one result by code, with nothing
  // on the stack above its locals.
  const int32_t index = ctx->frame;
  if (index < 0) return false;
  const uint32_t* w = frame_words(ctx, index);
  if (int32_t(w[kFwCallerKind]) == kAreaBaseFrame || int32_t(w[kFwLocals]) <= k || w[kFwFrameNames] != 0 ||
      w[kFwResume] != 0 || w[kFwFunctionValue] != 0 || int32_t(w[kFwResults]) != 1 ||
      ctx->desc_top != index + frame_fixed_words(w))
    return false;
  SlotTarget s;
  if (!loadable_block(ctx, k, &s)) return false;
  // The caller stores the result at once.
  int64_t bytes = 0;
  const uint8_t* base = code_area_base(ctx, int32_t(w[kFwCallerKind]), &bytes);
  const uint32_t offset = w[kFwCallerOffset];
  if (!base || offset % 2 != 0 || int64_t(offset) + 4 > bytes) return false;
  const auto* next = reinterpret_cast<const uint16_t*>(base + offset);
  if (next[0] != kOpStoreLocal) return false;
  const int32_t to = int16_t(next[1]);

  const int32_t block = s.block;
  desc_words(ctx)[s.slot_word] = uint32_t(kNoBlock);
  if (frame_pop(ctx) != kOk) {
    // Not reached: a frame holding no items pops without fail.
    desc_words(ctx)[s.slot_word] = uint32_t(block);
    return false;
  }
  SlotTarget t;
  const bool located = slot_locate(ctx, to, &t) == kOk;
  if (located) slot_value_drops(ctx, t);
  if (!located) {
    // The store fails as it would have: its value is pushed for it.
    const uint32_t* h = block_words32(ctx, block);
    const uint32_t n = desc_data_words(h);
    uint64_t* p = stk_claim(ctx, h[0], h[1], h[2], n);
    std::memcpy(p, heap_words(ctx) + block + kElemHeaderWords, size_t(n) * 8);
    heap_free(ctx, block);
    return true;
  }
  slot_replace_block(ctx, t, block);
  ctx->pos.offset += 4;
  return true;
}

int var_clear_local(EngineContext* ctx, int32_t k) {
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  slot_value_drops(ctx, t);
  if (!slot_keeps_block(t)) heap_free(ctx, t.block);  // never the caller's block, nor a kept one
  if (t.link) {
    if (t.entry) ent_set(ctx, t.entry, kEntCode, kNoBlock);
    heap_free(ctx, t.link);
  }
  desc_words(ctx)[t.slot_word] = uint32_t(kNoBlock);
  return kOk;
}

int var_local_add_constant(EngineContext* ctx, int32_t k, double c) {
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  if (t.block == kNoBlock) return raise_for(ctx, kUndefinedVariable, k);
  const uint32_t* h = block_words32(ctx, t.block);
  if (h[0] != kKindReal && h[0] != kKindComplex) return raise_for(ctx, kWrongVariableType, k);
  TN_TRY(slot_detach(ctx, &t));
  h = block_words32(ctx, t.block);
  // Hot path of loop counters: the real parts are updated where they lie.
  uint64_t* re = heap_words(ctx) + t.block + kElemHeaderWords;
  const int64_t n = int64_t(h[1]) * h[2];
  for (int64_t i = 0; i < n; ++i) tn::st_f64(re + i, tn::ld_f64(re + i) + c);
  return kOk;
}

int var_link_global(EngineContext* ctx, int32_t k, int32_t owner) {
  SlotTarget t;
  TN_TRY(slot_locate(ctx, k, &t));
  const auto* name = reinterpret_cast<const char*>(frame_var_name_entry(ctx, k));
  if (!name) return TN_ILLEGAL();
  const int32_t length = int32_t(strnlen(name, kFrameNameBytes));
  if (length < 1) return TN_ILLEGAL();
  int32_t symbol = 0;
  TN_TRY(symtab_intern(ctx, name, length, kFrameNameBytes, &symbol));
  int32_t entry = 0;
  for (int32_t id = 1; id < ctx->fn_count && !entry; ++id)
    if (ent(ctx, id, kEntName) == kEntryVariable && ent(ctx, id, kEntLink) == symbol &&
        ent(ctx, id, kEntExtra) == owner)
      entry = id;
  if (!entry) return TN_ILLEGAL();

  int32_t link = 0, value = 0;
  TN_TRY(heap_alloc(ctx, kLinkBlockWords, &link));
  const bool has_value = heap_index_ok(ctx, ent(ctx, entry, kEntCode));
  if (!has_value) {
    const int status = heap_alloc(ctx, kElemHeaderWords, &value);
    if (status != kOk) {
      heap_free(ctx, link);
      return status;
    }
    elem_set_header(heap_words(ctx) + value, kKindReal, 0, 0, 0);
    ent_set(ctx, entry, kEntCode, value);
  }
  uint32_t* w = block_words32(ctx, link);
  std::memset(w, 0, size_t(kLinkBlockWords) * 8);
  w[0] = kKindReference;
  w[1] = kLinkDataWords;
  w[kLinkOffset] = 0;
  w[kLinkCreated] = 1;
  w[kLinkEntry] = uint32_t(entry);
  w[kLinkSlot] = uint32_t(k);
  // The slot's own value goes; a previous link goes without its global.
  heap_free(ctx, t.link ? t.link : t.block);
  desc_words(ctx)[t.slot_word] = uint32_t(link);
  return kOk;
}

uint32_t var_local_container_size(EngineContext* ctx, int32_t k) {
  SlotTarget t;
  if (slot_locate(ctx, k, &t) != kOk || t.block == kNoBlock) return 0;
  const uint32_t* h = block_words32(ctx, t.block);
  return h[0] == kKindContainer ? h[1] : 0;
}

int bi_clear(EngineContext* ctx, int nargin) {
  if (nargin < 0 || (nargin > 0 && !stk_has_item(ctx, nargin - 1))) return TN_ILLEGAL();
  int32_t slots = 0;
  if (frame_workspace(ctx, &slots) < 0) slots = 0;
  if (nargin == 0) {
    for (int32_t k = 0; k < slots; ++k) TN_TRY(var_clear_local(ctx, k));
    return kOk;
  }
  for (int d = 0; d < nargin; ++d) {
    const uint16_t* text = nullptr;
    int64_t n = 0;
    if (!is_char_array(ctx, d, &text, &n)) return kWrongArgType;
  }
  const uint16_t* text = nullptr;
  int64_t n = 0;
  is_char_array(ctx, 0, &text, &n);
  if (nargin == 1 && n == 2 && text[0] == kClearFunctions[0] && text[1] == kClearFunctions[1]) {
    TN_TRY(clear_functions(ctx));
  } else {
    for (int d = 0; d < nargin; ++d) {
      is_char_array(ctx, d, &text, &n);
      for (int32_t k = 0; k < slots; ++k) {
        const uint8_t* entry = frame_var_name_entry(ctx, k);
        if (entry && name_matches(entry, text, n)) TN_TRY(var_clear_local(ctx, k));
      }
    }
  }
  for (int d = 0; d < nargin; ++d) stk_drop(ctx);
  return kOk;
}
