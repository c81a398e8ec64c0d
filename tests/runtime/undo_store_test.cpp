// The value store against a small model: random operations on records,
// fields, rows, marks, undo and redo, compaction, growth, save and load,
// with the structure check (blocks tile the value area, reference counts
// equal the slots naming them) after every step; then the edge cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

constexpr int64_t kBufferBytes = 64 * 1024;

// A slot of the model: kSlotEmpty, kSlotNoData, kSlotMarked, or data.
struct Val {
  int32_t kind = kSlotEmpty;
  std::vector<uint64_t> data;
};

struct ModelRecord {
  std::vector<std::pair<int32_t, bool>> fields;
  bool table = false;  // the slot table is laid out
  int32_t rows = 0, cur = 0;
  std::vector<std::vector<Val>> slots;  // [row][field]

  int32_t size_words() const {
    const int32_t f = int32_t(fields.size());
    return table ? int32_t(undo_laid_out_words(f)) : 2 * f + kRecHeadWords;
  }
  int field(int32_t code) const {
    for (size_t i = 0; i < fields.size(); ++i)
      if (fields[i].first == code) return int(i);
    return -1;
  }
  void drop_oldest() {
    slots.erase(slots.begin());
    slots.push_back(std::vector<Val>(fields.size()));
    --rows;
    if (cur > 0) --cur;
  }
};

struct StoreBuffer {
  std::vector<uint64_t> words = std::vector<uint64_t>(kBufferBytes / 8);
  UndoStore* s = nullptr;
  int64_t size = 0;
  int start(int64_t bytes) {
    size = bytes;
    return undo_store_init(&s, words.data(), bytes);
  }
};

struct Reader {
  const std::vector<uint8_t>* bytes;
  size_t at = 0;
  static bool read(void* to, int64_t n, void* context) {
    Reader* r = static_cast<Reader*>(context);
    if (r->at + size_t(n) > r->bytes->size()) return false;
    std::memcpy(to, r->bytes->data() + r->at, size_t(n));
    r->at += size_t(n);
    return true;
  }
};

class ValueStoreModel {
 public:
  explicit ValueStoreModel(uint32_t seed) : rng_(seed) {
    EXPECT_EQ(buf_->start(16384), 0);
  }

  void step() {
    // Weights: puts and row moves dominate; removal, growth and reloads are rare.
    static const std::vector<double> weights = {2, 0.4, 4, 1, 4, 1.5, 5, 5, 5, 1, 1, 3, 0.3, 0.3, 0.3};
    const int op = std::discrete_distribution<int>(weights.begin(), weights.end())(rng_);
    const int32_t id = pick(0, 2);
    const int32_t code = 100 + pick(0, 3);
    UndoStore* s = buf_->s;
    auto it = model_.find(id);
    ModelRecord* m = it == model_.end() ? nullptr : &it->second;
    switch (op) {
      case 0:
        if (!m) {
          const int expect =
              laid_out_used() + kRecHeadWords + kUndoReserveWords > capacity() ? kRtTooManyVarInUndoBuf : 0;
          ASSERT_EQ(undo_store_add_record(s, id), expect);
          if (!expect) model_[id] = ModelRecord{};
        }
        break;
      case 1:
        ASSERT_EQ(undo_store_remove_record(s, id), m ? 0 : kRtNonexistentUndoSet);
        if (m) model_.erase(id);
        break;
      case 2: {
        const bool flag = pick(0, 3) == 0;
        int expect = 0;
        if (!m) expect = kRtNonexistentUndoSet;
        else if (m->field(code) >= 0) expect = kRtVarDuplicate;
        else if (m->table || m->rows > 0) expect = kRtTooManyVarInUndoBuf;
        else if (laid_out_used() - undo_laid_out_words(int64_t(m->fields.size())) +
                     undo_laid_out_words(int64_t(m->fields.size()) + 1) + kUndoReserveWords >
                 capacity())
          expect = kRtTooManyVarInUndoBuf;
        ASSERT_EQ(undo_store_add_field(s, id, code, flag), expect);
        if (!expect) m->fields.push_back({code, flag});
        break;
      }
      case 3: {
        // A record cleared before it has fields stays without them.
        if (m && m->fields.empty() && pick(0, 7) != 0) break;
        // Every add counted the records at their laid-out size: a clear
        // always has the room.
        const int expect = m ? 0 : kRtNonexistentUndoSet;
        ASSERT_EQ(undo_store_clear_record(s, id), expect);
        if (!expect) {
          m->table = !m->fields.empty();
          m->rows = 1;
          m->cur = 0;
          m->slots.assign(kUndoMaxRows, std::vector<Val>(m->fields.size()));
        }
        break;
      }
      case 4: {
        if (m && m->fields.empty() && pick(0, 7) != 0) break;
        int expect = m ? 0 : kRtNonexistentUndoSet;
        if (m && !m->fields.empty() && (!m->table || m->rows < 1)) expect = kRtNonexistentUndoSet;
        ASSERT_EQ(undo_store_push_row(s, id), expect);
        if (expect) break;
        if (m->slots.empty()) m->slots.assign(kUndoMaxRows, std::vector<Val>(m->fields.size()));
        if (m->rows > 0) {
          for (int32_t r = m->cur + 1; r < m->rows; ++r) m->slots[r].assign(m->fields.size(), Val{});
          m->rows = m->cur + 1;
        }
        if (m->rows == kUndoMaxRows) m->drop_oldest();
        if (m->rows > 0) m->slots[m->rows] = m->slots[m->rows - 1];
        m->cur = m->rows;
        ++m->rows;
        break;
      }
      case 5: {
        const int expect = !m || m->rows < 2 ? kRtNonexistentUndoSet : 0;
        ASSERT_EQ(undo_store_drop_last_row(s, id), expect);
        if (expect) break;
        m->slots[m->rows - 1].assign(m->fields.size(), Val{});
        --m->rows;
        if (m->cur >= m->rows) m->cur = m->rows - 1;
        break;
      }
      case 6:
      case 7:
      case 8: put(id, code, m);
        break;
      case 9: {
        const bool mark = pick(0, 1) == 1;
        const int32_t back = pick(0, 2);
        const int expect = slot_status(m, back, code);
        ASSERT_EQ(undo_store_set_value(s, id, back, code, mark), expect);
        if (!expect) m->slots[m->cur - back][m->field(code)] = Val{mark ? kSlotMarked : kSlotEmpty, {}};
        break;
      }
      case 10: {
        const int32_t back = pick(0, 2);
        int expect = m ? 0 : kRtNonexistentUndoSet;
        if (m && (back > m->cur || m->cur - back >= m->rows || !m->table)) expect = kRtNonexistentUndoSet;
        ASSERT_EQ(undo_store_release_row(s, id, back), expect);
        if (!expect)
          for (Val& v : m->slots[m->cur - back])
            if (v.kind == kSlotMarked) v.kind = kSlotEmpty;
        break;
      }
      case 11: {
        const bool undo = pick(0, 1) == 0;
        int expect = m ? 0 : kRtNonexistentUndoSet;
        if (m && undo && m->cur <= 0) expect = kRtCannotUndo;
        if (m && !undo && m->cur >= m->rows - 1) expect = kRtCannotRedo;
        ASSERT_EQ(undo ? undo_store_undo(s, id) : undo_store_redo(s, id), expect);
        if (!expect) m->cur += undo ? -1 : 1;
        break;
      }
      case 12:
        undo_store_compact(s);
        break;
      case 13:
        if (buf_->size < kBufferBytes) {
          const int64_t grown = std::min<int64_t>(kBufferBytes, buf_->size + 8 * pick(1, 512));
          ASSERT_EQ(undo_store_grow(s, grown), 0);
          buf_->size = grown;
        }
        break;
      default:
        save_and_load();
        break;
    }
    std::string why;
    ASSERT_TRUE(undo_store_check(buf_->s, &why)) << why;
    compare();
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  // The words once every record is laid out: what the adds count.
  int64_t laid_out_used() const {
    int64_t u = 0;
    for (const auto& [id, m] : model_) u += std::max<int64_t>(m.size_words(), undo_laid_out_words(int64_t(m.fields.size())));
    return u;
  }
  int64_t capacity() const { return undo_word(buf_->s, kUsRecordCapacity); }

  int slot_status(const ModelRecord* m, int32_t back, int32_t code) const {
    if (!m) return kRtNonexistentUndoSet;
    if (m->field(code) < 0) return kRtVarNotFound;
    const int32_t row = back < 0 ? m->cur : m->cur - back;
    if (back > m->cur || row >= m->rows || !m->table) return kRtNonexistentUndoSet;
    return 0;
  }

  void put(int32_t id, int32_t code, ModelRecord* m) {
    if ((!m || !m->table) && pick(0, 4) != 0)
      for (auto& [other, r] : model_)
        if (r.table) {
          id = other;
          m = &r;
        }
    if (m && !m->fields.empty() && pick(0, 4) != 0) code = m->fields[size_t(pick(0, int(m->fields.size()) - 1))].first;
    const int32_t back = pick(-1, 1);
    const int64_t units = pick(0, 5) == 0 ? pick(300, 1500) : pick(0, 6);
    void* data = nullptr;
    const int expect = slot_status(m, back, code);
    const int st = undo_store_put_value(buf_->s, id, back, code, units, &data);
    if (expect) {
      ASSERT_EQ(st, expect);
      return;
    }
    int32_t target = back < 0 ? m->cur : m->cur - back;
    const int fi = m->field(code);
    m->slots[target][fi] = Val{};
    if (units < 1) {
      ASSERT_EQ(st, 0);
      m->slots[target][fi].kind = kSlotNoData;
      return;
    }
    if (m->fields[fi].second)
      for (int32_t k = 0, drops = m->cur - target; k < drops && target > 0; ++k, --target) m->drop_oldest();
    // Rows dropped to make room: the store tells how many; never the target.
    const int32_t store_rows = undo_word(buf_->s, record_word(id) + kRecRows);
    ASSERT_LE(m->rows - store_rows, target);
    while (m->rows > store_rows) {
      m->drop_oldest();
      --target;
    }
    if (st == kRtVarTooLargeForUndo) {
      ASSERT_TRUE(target == 0 || m->rows <= target + 1);
      return;
    }
    ASSERT_EQ(st, 0);
    Val v{0, std::vector<uint64_t>(size_t(units))};
    for (auto& w : v.data) w = rng_();
    std::memcpy(data, v.data.data(), size_t(units) * 8);
    m->slots[target][fi] = v;
  }

  int64_t record_word(int32_t id) const {
    int64_t r = kUsHeaderWords;
    for (int32_t k = 0; k < undo_word(buf_->s, kUsRecordCount); ++k) {
      if (undo_word(buf_->s, r + kRecId) == id) return r;
      r += undo_word(buf_->s, r + kRecSize);
    }
    return -1;
  }

  void save_and_load() {
    UndoStore* s = buf_->s;
    const UndoSavedSizes sizes = undo_store_saved_sizes(s);
    std::vector<uint8_t> image(reinterpret_cast<uint8_t*>(s), reinterpret_cast<uint8_t*>(s) + sizes.head_bytes);
    const uint8_t* values = undo_store_value_area(s);
    image.insert(image.end(), values, values + int64_t(sizes.units) * kUndoUnitBytes);
    auto other = std::make_unique<StoreBuffer>();
    ASSERT_EQ(other->start(8 * pick(1024, kBufferBytes / 8)), 0);
    Reader reader{&image};
    const int st = undo_store_load(other->s, sizes, Reader::read, &reader);
    if (st == 0) {
      buf_ = std::move(other);
    } else {
      ASSERT_TRUE(st == kRtVarTooLargeForUndo || st == 600) << st;
    }
  }

  void compare() {
    ASSERT_EQ(undo_word(buf_->s, kUsRecordCount), int32_t(model_.size()));
    for (auto& [id, m] : model_) {
      const int64_t r = record_word(id);
      ASSERT_GE(r, 0);
      ASSERT_EQ(undo_word(buf_->s, r + kRecRows), m.rows) << id;
      ASSERT_EQ(undo_word(buf_->s, r + kRecCurrent), m.cur);
      ASSERT_EQ(undo_word(buf_->s, r + kRecFields), int32_t(m.fields.size()));
      if (!m.table) continue;
      for (int32_t back = 0; back <= m.cur; ++back)
        for (size_t f = 0; f < m.fields.size(); ++f) {
          const int32_t code = m.fields[f].first;
          const Val& v = m.slots[m.cur - back][f];
          int32_t units = 0;
          void* data = nullptr;
          ASSERT_EQ(undo_store_get_value(buf_->s, id, back, code, &units, &data), 0);
          ASSERT_EQ(undo_store_value_present(buf_->s, id, back, code), v.kind >= kSlotNoData);
          ASSERT_EQ(undo_store_value_marked(buf_->s, id, back, code), v.kind == kSlotMarked);
          ASSERT_EQ(units, int32_t(v.data.size()));
          if (units) {
            ASSERT_EQ(std::memcmp(data, v.data.data(), size_t(units) * 8), 0);
          }
        }
    }
  }

  std::mt19937 rng_;
  std::unique_ptr<StoreBuffer> buf_ = std::make_unique<StoreBuffer>();
  std::map<int32_t, ModelRecord> model_;
};

}  // namespace

TEST(ValueStore, RandomOperationsAgainstAModel) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    ValueStoreModel model(seed);
    for (int i = 0; i < 2500; ++i) {
      model.step();
      if (::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "seed " << seed << " step " << i;
        return;
      }
    }
  }
}

TEST(ValueStore, EdgeCases) {
  StoreBuffer b;
  EXPECT_EQ(b.start(8191), kRtTooSmallUndoBuf);
  ASSERT_EQ(b.start(8192), 0);
  UndoStore* s = b.s;
  ASSERT_EQ(undo_store_add_record(s, 1), 0);
  ASSERT_EQ(undo_store_add_field(s, 1, 5, 0), 0);
  ASSERT_EQ(undo_store_clear_record(s, 1), 0);
  EXPECT_EQ(undo_store_add_field(s, 1, 6, 0), kRtTooManyVarInUndoBuf);  // laid out
  // Fifteen pushes add rows; later pushes drop the oldest.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(undo_store_push_row(s, 1), 0);
  EXPECT_EQ(undo_word(s, int64_t(kUsHeaderWords) + kRecRows), kUndoMaxRows);
  int undos = 0;
  while (undo_store_undo(s, 1) == 0) ++undos;
  EXPECT_EQ(undos, 15);
  EXPECT_EQ(undo_store_undo(s, 1), kRtCannotUndo);
  ASSERT_EQ(undo_store_redo(s, 1), 0);
  ASSERT_EQ(undo_store_push_row(s, 1), 0);  // discards the redo rows
  EXPECT_FALSE(undo_store_can_redo(s, 1));
  EXPECT_EQ(undo_store_redo(s, 1), kRtCannotRedo);
  int32_t index = 7;
  ASSERT_EQ(undo_store_alloc(s, 0, &index), 0);
  EXPECT_EQ(index, kSlotEmpty);
  EXPECT_TRUE(undo_store_check(s));
}

// Fields are refused while a record's slot table is not laid out when the
// tables of all records would not fit: a reset's clear never runs short.
TEST(ValueStore, ClearingARecordAlwaysHasTheRoom) {
  StoreBuffer b;
  ASSERT_EQ(b.start(kUndoMinBytes), 0);  // 254 record words, 128 of them the reserve
  ASSERT_EQ(undo_store_add_record(b.s, 1), 0);
  ASSERT_EQ(undo_store_add_field(b.s, 1, 100, 0), 0);
  ASSERT_EQ(undo_store_add_field(b.s, 1, 101, 0), 0);  // 73 words laid out
  ASSERT_EQ(undo_store_add_record(b.s, 2), 0);
  ASSERT_EQ(undo_store_add_field(b.s, 2, 100, 0), 0);  // 39 words laid out: 112 in all
  EXPECT_EQ(undo_store_add_field(b.s, 2, 101, 0), kRtTooManyVarInUndoBuf);
  EXPECT_EQ(undo_store_add_record(b.s, 3), 0);
  EXPECT_EQ(undo_store_add_record(b.s, 4), 0);
  EXPECT_EQ(undo_store_add_record(b.s, 5), kRtTooManyVarInUndoBuf);
  for (int32_t id = 1; id <= 4; ++id) EXPECT_EQ(undo_store_clear_record(b.s, id), 0) << id;
  EXPECT_EQ(undo_store_clear_record(b.s, 9), kRtNonexistentUndoSet);
  EXPECT_TRUE(undo_store_check(b.s));
}

TEST(ValueStore, ScatteredFreeSpaceIsFoundThroughOneCompaction) {
  StoreBuffer b;
  ASSERT_EQ(b.start(8192), 0);
  UndoStore* s = b.s;
  const int32_t c = undo_word(s, kUsValueCapacity);
  std::vector<int32_t> blocks;
  int32_t index = 0;
  while (undo_store_alloc(s, 10, &index) == 0) blocks.push_back(index);
  for (size_t i = 0; i < blocks.size(); i += 2) undo_store_release_value(s, blocks[i]);
  // Every hole is 11 units; a block of 30 fits only after compaction.
  ASSERT_EQ(undo_store_alloc(s, 30, &index), 0);
  EXPECT_EQ(undo_word(s, kUsCompacted), 1);
  EXPECT_LT(index, c);
}

TEST(ValueStore, FlaggedFieldDropsOlderRowsButNeverTheTarget) {
  StoreBuffer b;
  ASSERT_EQ(b.start(8192), 0);
  UndoStore* s = b.s;
  ASSERT_EQ(undo_store_add_record(s, 1), 0);
  ASSERT_EQ(undo_store_add_field(s, 1, 5, 1), 0);
  ASSERT_EQ(undo_store_clear_record(s, 1), 0);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(undo_store_push_row(s, 1), 0);  // rows 5, current 4
  void* data = nullptr;
  ASSERT_EQ(undo_store_put_value(s, 1, 1, 5, 2, &data), 0);  // target row 3: one older row dropped
  EXPECT_EQ(undo_word(s, int64_t(kUsHeaderWords) + kRecRows), 4);
  EXPECT_EQ(undo_word(s, int64_t(kUsHeaderWords) + kRecCurrent), 3);
  int32_t units = 0;
  ASSERT_EQ(undo_store_get_value(s, 1, 1, 5, &units, &data), 0);
  EXPECT_EQ(units, 2);
  EXPECT_TRUE(undo_store_check(s));
}

namespace {

std::vector<uint8_t> saved_image(UndoStore* s) {
  const UndoSavedSizes sizes = undo_store_saved_sizes(s);
  std::vector<uint8_t> image(reinterpret_cast<uint8_t*>(s), reinterpret_cast<uint8_t*>(s) + sizes.head_bytes);
  const uint8_t* values = undo_store_value_area(s);
  image.insert(image.end(), values, values + int64_t(sizes.units) * kUndoUnitBytes);
  return image;
}

}  // namespace

TEST(ValueStore, LargerSavedStoreLoadsWhenItsContentFits) {
  StoreBuffer big;
  ASSERT_EQ(big.start(32768), 0);
  ASSERT_EQ(undo_store_add_record(big.s, 1), 0);
  ASSERT_EQ(undo_store_add_field(big.s, 1, 9, 0), 0);
  ASSERT_EQ(undo_store_clear_record(big.s, 1), 0);
  void* data = nullptr;
  ASSERT_EQ(undo_store_put_value(big.s, 1, 0, 9, 4, &data), 0);
  std::memset(data, 0x33, 32);
  const UndoSavedSizes sizes = undo_store_saved_sizes(big.s);
  const std::vector<uint8_t> image = saved_image(big.s);
  StoreBuffer small;
  ASSERT_EQ(small.start(16384), 0);
  // The saved value area is larger than this store: refused before reading.
  Reader reader{&image};
  EXPECT_EQ(undo_store_load(small.s, sizes, Reader::read, &reader), kRtVarTooLargeForUndo);
  // Saved with only its used units, it loads.
  const UndoSavedSizes trimmed{sizes.head_bytes, 5};
  std::vector<uint8_t> cut(image.begin(), image.begin() + sizes.head_bytes + 5 * 8);
  StoreBuffer small2;
  ASSERT_EQ(small2.start(16384), 0);
  Reader r2{&cut};
  ASSERT_EQ(undo_store_load(small2.s, trimmed, Reader::read, &r2), 0);
  EXPECT_TRUE(undo_store_check(small2.s));
  int32_t units = 0;
  ASSERT_EQ(undo_store_get_value(small2.s, 1, 0, 9, &units, &data), 0);
  EXPECT_EQ(units, 4);
  EXPECT_EQ(static_cast<uint8_t*>(data)[31], 0x33);
  EXPECT_EQ(undo_word(small2.s, kUsSize), 16384);
}

TEST(ValueStore, DamagedSavedStoreIsRefused) {
  StoreBuffer a;
  ASSERT_EQ(a.start(16384), 0);
  ASSERT_EQ(undo_store_add_record(a.s, 1), 0);
  ASSERT_EQ(undo_store_add_field(a.s, 1, 9, 0), 0);
  ASSERT_EQ(undo_store_clear_record(a.s, 1), 0);
  void* data = nullptr;
  ASSERT_EQ(undo_store_put_value(a.s, 1, 0, 9, 2, &data), 0);
  const UndoSavedSizes sizes = undo_store_saved_sizes(a.s);
  struct Damage {
    int64_t word;  // header or record word to overwrite
    int32_t value;
  } cases[] = {{kUsMaxRows, 17}, {kUsRecordCount, 5}, {int64_t(kUsHeaderWords) + kRecSize, 9},
               {int64_t(kUsHeaderWords) + kRecRows, 40}, {int64_t(kUsHeaderWords) + kRecHeadWords + 2, 1000}};
  for (const Damage& d : cases) {
    std::vector<uint8_t> image = saved_image(a.s);
    std::memcpy(image.data() + 4 * d.word, &d.value, 4);
    StoreBuffer b;
    ASSERT_EQ(b.start(16384), 0);
    Reader r{&image};
    EXPECT_EQ(undo_store_load(b.s, sizes, Reader::read, &r), 600) << d.word;
  }
  std::vector<uint8_t> shortened = saved_image(a.s);
  shortened.resize(shortened.size() - 8);
  StoreBuffer b;
  ASSERT_EQ(b.start(16384), 0);
  Reader r{&shortened};
  EXPECT_EQ(undo_store_load(b.s, sizes, Reader::read, &r), 600);
}
