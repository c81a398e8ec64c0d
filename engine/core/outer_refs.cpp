// References held by the frames below the current one (outer_refs.h). The
// walk goes down the frames from the current one: each frame's items lie
// on the descriptor stack between its locals and the next frame's words,
// their data words in the same order on the data stack.
#include "engine/core/outer_refs.h"

#include "engine/core/frames.h"
#include "engine/core/var_blocks.h"

namespace {

// Calls fn with the data words (as u32) of every reference item of the
// frames below the current one.
template <class Fn>
void for_each_outer_ref(EngineContext* ctx, Fn fn) {
  int32_t index = ctx->frame;
  if (index <= 0) return;
  const uint32_t* desc = desc_words(ctx);
  uint64_t* data = data_words(ctx);
  int64_t data_end = ctx->data_top;
  int64_t end = ctx->desc_top;
  bool own = true;  // the current frame's items: its own statement's references
  while (index >= 0) {
    const uint32_t* w = frame_words(ctx, index);
    const int64_t first = index + frame_fixed_words(w);
    for (int64_t k = end - kDescWords; k >= first; k -= kDescWords) {
      const uint32_t* d = desc + k;
      data_end -= desc_data_words(d);
      if (!own && d[0] == kKindReference && d[1] == kRefDataWords && data_end >= 0)
        fn(reinterpret_cast<uint32_t*>(data + data_end));
    }
    own = false;
    end = index;
    const uint32_t prev = uint32_t(index) - w[kFwPrevDistance];
    index = prev < uint32_t(index) ? int32_t(prev) : -1;
  }
}

// The reference names nothing any more: ref_at refuses it.
void lose_target(uint32_t* r) {
  r[kRefBlock] = 0;
  r[kRefOffset] = 0;
}

}  // namespace

bool outer_refs_may_see(EngineContext* ctx, int32_t slot_word) {
  const int32_t index = ctx->frame;
  if (index <= 0) return false;
  const uint32_t* w = frame_words(ctx, index);
  const int64_t first = index + kFrameFixedWords;
  const bool own_slot = slot_word >= first && slot_word < first + int32_t(w[kFwLocals]);
  return !own_slot || block_is_link(ctx, int32_t(desc_words(ctx)[slot_word]));
}

void outer_refs_splice(EngineContext* ctx, int32_t block, int32_t moved, int64_t at, int64_t old_len,
                       int64_t new_len) {
  const int64_t delta = new_len - old_len;
  for_each_outer_ref(ctx, [&](uint32_t* r) {
    if (int32_t(r[kRefBlock]) != block) return;
    const int64_t o = int32_t(r[kRefOffset]);
    if (o >= at + old_len) {
      r[kRefOffset] = uint32_t(o + delta);  // behind the edit (or at an insertion point)
    } else if (o > at || (o == at && new_len == 0)) {
      lose_target(r);  // inside what was replaced
      return;
    }
    // In front of the edit, or on the element that was replaced: it now
    // names the new one.
    r[kRefBlock] = uint32_t(moved);
  });
}

void outer_refs_drop(EngineContext* ctx, int32_t block) {
  for_each_outer_ref(ctx, [&](uint32_t* r) {
    if (int32_t(r[kRefBlock]) == block) lose_target(r);
  });
}
