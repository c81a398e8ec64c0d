// Test-only engine image writer and state capture. The product has no writer:
// this one produces the image format byte for byte from a live context so
// that the loader can be tested by round trips, truncation and mutation.
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
  for (uint32_t w : c->main_task) s.words.push_back(w);
  return s;
}
