// Gaps in variables' blocks (entry_gap.h). A block with a gap holds its
// value's words up to the gap, the gap, then the rest of the value: word x
// of the value lies at x below the gap and at x + the gap's length from it
// on. The gap sits at an entry boundary of the value's own container, behind
// its size element, so the headers, the size vector and every entry lie
// whole on one side of it.
#include "engine/core/entry_gap.h"

#include <algorithm>
#include <cstring>

#include "engine/core/element_layout.h"
#include "engine/core/entry_finger.h"
#include "engine/core/entry_index.h"
#include "engine/core/frames.h"
#include "engine/core/outer_refs.h"
#include "engine/core/var_blocks.h"

namespace {

// Stores whose entries behind them fill fewer words than this move them;
// a gap pays for itself only past a few cache lines.
constexpr int64_t kGapMinTail = 512;
// A gap widened for a longer entry takes this many words at least, or an
// eighth of the value, so that widening it (which moves every entry behind
// it) happens a bounded number of times per word the value grows.
constexpr int64_t kGapMinWords = 64;
// Values past this many words keep the plain store: the gap's arithmetic
// stays well inside the 32-bit words of offsets and headers.
constexpr int64_t kGapMaxValueWords = INT32_MAX / 4;

// Gaps opened in this process: tests read it to know that their stores did
// go through one.
uint64_t g_gaps_opened = 0;

uint32_t* value_header(EngineContext* ctx, int32_t block) { return block_words32(ctx, block); }

// Words of the value in `block` (its header included), without the gap.
int64_t value_words(EngineContext* ctx, int32_t block) {
  return kHeapValueHeaderWords + int64_t(value_header(ctx, block)[1]);
}

// Where word x of the value lies in its block while the gap is open there.
inline int64_t placed(const EntryGap& g, int64_t x) { return x < g.at ? x : x + g.words; }

// The finger on the value's own list or cell array in block, or null.
EntryFinger* own_finger(EngineContext* ctx, int32_t block) { return finger_at(ctx, block, 0); }

// A block for the value with a gap of `words` at `at` (the gap's old words
// there), half as large again for the growth to come: the words before and
// behind the gap are copied, the slot takes the new block and the old one
// is freed. False, with nothing changed, when the heap has no room.
bool move_to_larger_block(EngineContext* ctx, VarRef* r, int64_t value, int64_t words) {
  const EntryGap g = ctx->entry_gap;
  const int64_t want = value + words;
  int32_t fresh = 0;
  if (heap_alloc(ctx, want + want / 2, &fresh) != kOk && heap_alloc(ctx, want, &fresh) != kOk) return false;
  uint64_t* heap = heap_words(ctx);
  std::memcpy(heap + fresh, heap + r->block, size_t(g.at) * 8);
  std::memcpy(heap + fresh + g.at + words, heap + r->block + g.at + g.words, size_t(value - g.at) * 8);
  SlotTarget t;
  slot_locate_word(ctx, r->slot_word, &t);
  if (!slot_keeps_block(t)) heap_free(ctx, r->block);  // forgets the block's fingers and gap
  slot_set_block(ctx, t, fresh);
  r->block = fresh;
  ctx->entry_gap = EntryGap{fresh, g.at, int32_t(words)};  // the free forgot the old block's
  return true;
}

}  // namespace

uint64_t entry_gap_opened_count() { return g_gaps_opened; }

void entry_gap_close(EngineContext* ctx) {
  EntryGap& g = ctx->entry_gap;
  if (g.block != 0 && g.words > 0) {
    uint64_t* base = heap_words(ctx) + g.block;
    const int64_t value = value_words(ctx, g.block);
    if (g.at < value) std::memmove(base + g.at, base + g.at + g.words, size_t(value - g.at) * 8);
  }
  g = EntryGap{};
}

bool entry_gap_referenced(EngineContext* ctx) {
  const EntryGap& g = ctx->entry_gap;
  if (g.block == 0 || g.words < 0) return false;
  constexpr int kMostOperands = 40;
  const int above = frame_arg_count(ctx);
  if (above > kMostOperands) return true;
  for (int d = 0; d < above; ++d) {
    VarRef r;
    if (desc_at(ctx, d)[0] == kKindReference && ref_at(ctx, d, &r) && r.block == g.block) return true;
  }
  return false;
}

bool entry_gap_serves_step(EngineContext* ctx, const VarRef& r) {
  return ctx->entry_gap_allowed && r.assign && r.offset == 0 && own_finger(ctx, r.block) != nullptr;
}

int64_t entry_gap_seek(EngineContext* ctx, int32_t block, const Entries& ent, int64_t linear) {
  const EntryGap& g = ctx->entry_gap;
  EntryFinger* f = own_finger(ctx, block);
  if (!f || linear < 0 || linear >= f->count) return -1;
  uint64_t* base = heap_words(ctx) + block;
  const int64_t first = ent.first - base;  // the size element lies before the gap
  int64_t at;
  if (f->index <= linear && linear - f->index <= kEntryShortWalk) {
    at = first + f->offset;
    for (int64_t i = f->index; i < linear; ++i) at += elem_total_words(base + placed(g, at));
  } else if (entry_index_held(ctx, *f)) {
    at = first + entry_index_offset(ctx, *f, ent.first, linear);
  } else {
    return -1;  // an index built now would walk across the gap
  }
  if (at - first > INT32_MAX) return -1;
  f->index = int32_t(linear);
  f->offset = int32_t(at - first);
  return at;
}

int entry_gap_store(EngineContext* ctx, VarRef* r, const uint32_t* h, const uint64_t* data) {
  EntryGap& g = ctx->entry_gap;
  if (!ctx->entry_gap_allowed || ctx->entry_gap_off) return -1;
  EntryFinger* f = own_finger(ctx, r->block);
  if (!f || finger_first_word(ctx, *f) + f->offset != r->offset) return -1;
  const int32_t was = r->block;
  const bool open = entry_gap_open_in(ctx, r->block);
  uint64_t* base = heap_words(ctx) + r->block;
  const int64_t value = value_words(ctx, r->block);
  const int64_t old_len = elem_total_words(base + (open ? placed(g, r->offset) : r->offset));
  const uint32_t kind = h[0], a = h[1], b = h[2];
  const int64_t new_len = kElemHeaderWords + int64_t(desc_data_words(h));
  const int64_t delta = new_len - old_len;
  const int64_t end = r->offset + old_len;  // where the gap goes
  if (value + std::max<int64_t>(delta, 0) + kGapMinWords + value / 8 > kGapMaxValueWords) {
    entry_gap_close_in(ctx, r->block);
    return -1;
  }
  if (!open) {
    // The first store that moves a long tail is made as usual; the gap opens
    // at the second one in a row, so that a lone store costs no more.
    if (delta == 0 || value - end < kGapMinTail) return -1;
    if (g.block != r->block) {
      entry_gap_close(ctx);
      g = EntryGap{r->block, 0, -1};
      return -1;
    }
    g.block = r->block;
    g.at = int32_t(end);
    g.words = 0;
    ++g_gaps_opened;
  }
  // The gap moves to the end of the entry: the entries between its old and
  // new places cross it.
  if (g.at < end)
    std::memmove(base + g.at, base + g.at + g.words, size_t(end - g.at) * 8);
  else if (g.at > end)
    std::memmove(base + end + g.words, base + end, size_t(g.at - end) * 8);
  g.at = int32_t(end);

  // The fingers and indexes of the block: the container's own ones follow
  // the store; those of containers inside its entries are forgotten.
  const int fi = int(f - ctx->entry_finger);
  EntryFinger own = *f;
  for (EntryFinger& o : ctx->entry_finger)
    if (o.block == r->block && &o != f) o.block = 0;
  EntryIndexTaken taken[kEntryIndexSlots];
  const int n_taken = entry_index_take_block(ctx, r->block, taken);

  if (delta > g.words) {
    const int64_t words = delta + std::max<int64_t>(kGapMinWords, value / 8);
    if (heap_block_size(ctx, r->block) >= value + words) {
      std::memmove(base + end + words, base + end + g.words, size_t(value - end) * 8);
      g.words = int32_t(words);
    } else if (!move_to_larger_block(ctx, r, value, words)) {
      entry_gap_close(ctx);
      for (int t = 0; t < n_taken; ++t) entry_index_put(ctx, taken[t].view, std::move(taken[t].held));
      ctx->entry_finger[fi] = own;
      return -1;  // the plain store finds out whether any room is left
    }
    base = heap_words(ctx) + r->block;
  }
  uint64_t* e = base + r->offset;
  const int32_t name = elem_name(e);
  elem_set_header(e, kind, a, b, name);
  std::memmove(e + kElemHeaderWords, data, size_t(new_len - kElemHeaderWords) * 8);
  g.at = int32_t(r->offset + new_len);
  g.words = int32_t(g.words - delta);
  value_header(ctx, r->block)[1] = uint32_t(int64_t(own.words) + delta);

  const EntryFinger before = own;
  own.block = r->block;
  own.words = uint32_t(int64_t(own.words) + delta);
  ctx->entry_finger[fi] = own;
  for (int t = 0; t < n_taken; ++t) {
    EntryFinger& v = taken[t].view;
    if (v.at != 0 || v.words != before.words || v.count != before.count) continue;  // dropped
    entry_index_shift(&taken[t].held, own.offset, delta);
    v.block = r->block;
    v.words = own.words;
    entry_index_put(ctx, v, std::move(taken[t].held));
  }
  // The callers' references see the value without the gap: one entry
  // changed its length.
  if (outer_refs_may_see(ctx, r->slot_word)) outer_refs_splice(ctx, was, r->block, r->offset, old_len, new_len);
  return kOk;
}
