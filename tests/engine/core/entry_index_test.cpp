// The offset index's pending shift against a plain model: every entry's
// offset and the entry holding a word, after random changes of one entry's
// length (the entries behind it move) near and far from the last one, and
// appends behind the last entry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "engine/core/entry_index.h"

namespace {

TEST(EntryIndex, PendingShiftReadsAsEveryOffsetMoved) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<int64_t> model;
    int64_t at = 0;
    for (int i = 0; i < 300; ++i, at += 2 + rng() % 5) model.push_back(at);
    EntryIndexHeld h;
    h.offsets = static_cast<int32_t*>(std::malloc(model.size() * sizeof(int32_t)));
    h.capacity = int64_t(model.size());
    h.count = int32_t(model.size());
    for (size_t i = 0; i < model.size(); ++i) h.offsets[i] = int32_t(model[i]);
    int64_t last = int64_t(rng() % model.size());
    for (int step = 0; step < 400; ++step) {
      const uint32_t r = rng() % 100;
      if (r < 5) {
        // An append of m empty entries behind the last one.
        const int64_t m = 1 + rng() % 3;
        const int64_t end = model.back() + 2;
        entry_index_append(&h, end, m, 2);
        for (int64_t k = 0; k < m; ++k) model.push_back(end + 2 * k);
        continue;
      }
      // A store into entry j: near the last one mostly, anywhere at times.
      const int64_t n = int64_t(model.size());
      int64_t j = r < 80 ? last + int64_t(rng() % 5) - 2 : int64_t(rng() % n);
      j = std::max<int64_t>(0, std::min(n - 1, j));
      const int64_t room = (j + 1 < n ? model[j + 1] : model[j] + 2) - model[j];
      const int64_t delta = int64_t(rng() % 7) - std::min<int64_t>(3, room - 2);
      // Any word of the entry names it.
      const int64_t word = model[j] + int64_t(rng() % room);
      entry_index_shift(&h, word, delta);
      for (int64_t k = j + 1; k < n; ++k) model[k] += delta;
      last = j;
      ASSERT_EQ(h.count, int32_t(model.size()));
      for (int64_t k = 0; k < int64_t(model.size()); ++k) ASSERT_EQ(entry_index_at(h, k), model[k]) << k;
      const int64_t probe = int64_t(rng() % model.size());
      ASSERT_EQ(entry_index_entry_of(h, model[probe]), probe);
      ASSERT_EQ(entry_index_entry_of(h, model[probe] + 1), probe);
    }
  }
}

}  // namespace
