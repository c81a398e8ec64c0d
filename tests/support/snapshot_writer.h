// Test-only engine image helpers: the writer (shared with the image tools),
// a memory reader that can be made to fail, and the capture of what a
// running engine can observe of its state, for round-trip comparisons.
#pragma once

#include <cstring>
#include <cstdint>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "tools/imagetools/engine_image_writer.h"

// Delivers an image from memory; can be told to fail at a byte position.
struct MemoryReader {
  const std::vector<uint8_t>* image;
  size_t at = 0;
  size_t fail_from = SIZE_MAX;  // a read reaching this position fails

  static int read(void* to, uint32_t bytes, void* arg) {
    auto* r = static_cast<MemoryReader*>(arg);
    if (r->at + bytes > r->image->size() || r->at + bytes > r->fail_from) return 0;
    std::memcpy(to, r->image->data() + r->at, bytes);
    r->at += bytes;
    return 1;
  }
};

inline int load_image(EngineContext* c, const std::vector<uint8_t>& image, size_t fail_from = SIZE_MAX) {
  MemoryReader r{&image, 0, fail_from};
  return engine_load_image(c, &MemoryReader::read, &r);
}

// What a running engine can observe of its state: items and frames, heap
// contents, function table, code and symbols, and the loaded context words.
struct EngineState {
  std::vector<uint32_t> desc;
  std::vector<uint64_t> data, heap;
  std::vector<uint32_t> table;
  std::vector<uint16_t> code;
  std::vector<uint8_t> symbols;
  std::vector<int64_t> words;

  bool operator==(const EngineState&) const = default;
};

inline EngineState capture_state(EngineContext* c) {
  EngineState s;
  s.desc.assign(desc_words(c), desc_words(c) + c->desc_top);
  s.data.assign(data_words(c), data_words(c) + c->data_top);
  const int64_t used = heap_used_extent(heap_words(c), c->heap_size);
  s.heap.assign(heap_words(c), heap_words(c) + used);
  s.table.assign(fn_entry(c, 0), fn_entry(c, c->fn_count));
  s.code.assign(code_words(c) + c->fn_capacity * 8, code_words(c) + c->code_free);
  const uint8_t* end = reinterpret_cast<uint8_t*>(code_words(c)) + size_t(c->code_size) * 2;
  s.symbols.assign(end + c->sym_extent, end);
  s.words = {c->frame,        c->fn_count,     c->fn_capacity,  c->pos.kind,   c->pos.flag,
             c->pos.offset,   c->task_current, c->task_first,   c->task_next_id, c->task_word,
             c->sem_table[0], c->sem_table[1], c->disp_word1,   c->disp_word2, c->disp_flag,
             c->disp_text[0], c->disp_text[1], c->disp_text[2]};
  // The generators the running context draws from; while the main task
  // runs, its record's generator words are no state of its (the context's
  // are), and an image carries the live ones there.
  s.words.insert(s.words.end(), {c->rng_uniform.lcg, c->rng_uniform.xs, c->rng_normal.lcg, c->rng_normal.xs});
  for (int k = 0; k < kMainTaskWords; ++k)
    if (c->task_current != 0 || k < kTaskRandom || k >= kTaskRandom + 4) s.words.push_back(c->main_task[k]);
  return s;
}
