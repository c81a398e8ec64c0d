// The engine image writer of the image tools: the engine's snapshot format
// produced byte for byte from a live context (header, then descriptor stack,
// data stack, used heap, function table, code and symbols). The program
// itself has no writer; the tools and the tests use this one.
#pragma once

#include <cstring>
#include <cstdint>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"

inline std::vector<uint8_t> write_engine_image(EngineContext* c) {
  const int64_t heap_used = heap_used_extent(heap_words(c), c->heap_size);
  const uint32_t code_words_behind = c->code_free - uint32_t(c->fn_capacity) * 8;
  const uint32_t symbol_bytes = uint32_t(-c->sym_extent);
  std::vector<uint8_t> out(kImageHeaderBytes);
  uint8_t* h = out.data();
  auto put = [&](uint32_t at, uint32_t v) { tn::put_le32(h + at, v); };
  put(kImgDescTop, uint32_t(c->desc_top));
  put(kImgDataTop, uint32_t(c->data_top));
  put(kImgHeapWords, uint32_t(heap_used));
  put(kImgFnCount, uint32_t(c->fn_count));
  put(kImgCodeWords, code_words_behind);
  put(kImgSymbolBytes, symbol_bytes);
  put(kImgFrame, uint32_t(c->frame));
  put(kImgPosKind, uint32_t(c->pos.kind));
  put(kImgPosFlag, c->pos.flag);
  put(kImgPosOffset, c->pos.offset);
  for (int k = 0; k < kMainTaskWords; ++k) put(kImgMainTask + 4 * k, c->main_task[k]);
  // The generators go on where the image was written: while the main task
  // runs (as it does when a handler's run ends) its record holds no live
  // state, and its generator words carry the context's.
  if (c->task_current == 0) {
    const uint32_t random[4] = {c->rng_uniform.lcg, c->rng_uniform.xs, c->rng_normal.lcg, c->rng_normal.xs};
    for (int k = 0; k < 4; ++k) put(kImgMainTask + 4 * (kTaskRandom + k), random[k]);
  }
  put(kImgTaskCurrent, uint32_t(c->task_current));
  put(kImgTaskFirst, uint32_t(c->task_first));
  put(kImgTaskNextId, uint32_t(c->task_next_id));
  put(kImgTaskWord, uint32_t(c->task_word));
  put(kImgSemWord0, uint32_t(c->sem_table[0]));
  put(kImgSemWord1, uint32_t(c->sem_table[1]));
  put(kImgDispWord1, uint32_t(c->disp_word1));
  std::memcpy(h + kImgDispText, c->disp_text, 3);
  put(kImgDispWord2, uint32_t(c->disp_word2));
  h[kImgDispFlag] = c->disp_flag == 0 ? 1 : 0;

  auto append = [&](const void* from, size_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(from);
    out.insert(out.end(), p, p + bytes);
  };
  append(desc_words(c), size_t(c->desc_top) * 4);
  append(data_words(c), size_t(c->data_top) * 8);
  append(heap_words(c), size_t(heap_used) * 8);
  append(fn_entry(c, 0), size_t(c->fn_count) * 16);
  append(code_words(c) + size_t(c->fn_capacity) * 8, size_t(code_words_behind) * 2);
  append(reinterpret_cast<uint8_t*>(code_words(c)) + size_t(c->code_size) * 2 - symbol_bytes, symbol_bytes);
  return out;
}

