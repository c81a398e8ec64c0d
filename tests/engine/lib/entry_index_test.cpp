// The offset indexes of large cell arrays and lists are never read stale: a
// random walk of stores that resize elements, appends, deletions, insertions,
// whole-value stores (in place, of the same size and count), clears and
// nested edits, checked after every step by reads in random order against a
// model; and the hooks that drop them (a freed block, a new engine at the
// same address, a grown block, another engine's edits) leave none behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/core/entry_index.h"
#include "engine/core/snapshot.h"
#include "support/zvr_session.h"

namespace {

using Model = std::vector<std::vector<int>>;

// A model entry standing for an element the reads leave alone.
const std::vector<int> kNotRead = {-1};

const char kSame[] = "function r = same(a, b)\n  r = numel(a) == numel(b) && all(a(:) == b(:));\nendfunction\n";

std::string row_text(const std::vector<int>& v) {
  std::string s = "[";
  for (size_t i = 0; i < v.size(); ++i) s += (i ? " " : "") + std::to_string(v[i]);
  return s + "]";
}

std::string cell_text(const Model& m) {
  std::string s = "{";
  for (size_t i = 0; i < m.size(); ++i) s += (i ? ", " : "") + row_text(m[i]);
  return s + "}";
}

std::vector<int> random_row(std::mt19937& g, int k) {
  std::vector<int> v(g() % 5);
  for (int& x : v) x = k * 10 + int(g() % 10);
  return v;
}

class EntryIndex : public ::testing::Test {
 protected:
  ZvrSession s;
  std::mt19937 g{20261207};

  void SetUp() override { run(kSame); }
  void run(const std::string& text) { ASSERT_EQ(s.run(text), kOk) << text << s.take_output(); }

  // Reads of `name`{k} at random places (far apart, so that the index
  // answers), each against the model.
  void check_reads(const std::string& name, const Model& m, const std::string& what, int reads = 12) {
    ASSERT_GE(m.size(), size_t(kEntryIndexMinCount)) << what;
    for (int i = 0; i < reads; ++i) {
      const size_t k = g() % m.size();
      if (m[k] == kNotRead) continue;
      const std::string at = std::to_string(k + 1);
      // Every third read in parentheses (a one-element cell), through the
      // same index.
      const bool paren = i % 3 == 2;
      if (paren) run("p_ = " + name + "(" + at + ");\n");
      const std::string read = paren ? "p_{1}" : name + "{" + at + "}";
      ASSERT_EQ(s.value("same(" + read + ", " + row_text(m[k]) + ")"), s.value("true"))
          << what << ": element " << k + 1 << " of " << m.size() << " read as " << read;
    }
    EXPECT_GT(entry_index_live_count(), 0) << what;  // the reads went through an index
  }

  Model random_model(int n) {
    Model m;
    for (int k = 0; k < n; ++k) m.push_back(random_row(g, k));
    return m;
  }
};

TEST_F(EntryIndex, RandomEditsNeverLeaveAStaleIndex) {
  Model m = random_model(90);
  run("c = " + cell_text(m) + ";\n");
  check_reads("c", m, "start");
  for (int step = 0; step < 60; ++step) {
    const size_t k = g() % m.size();
    const std::string at = std::to_string(k + 1);
    std::string what;
    switch (g() % 6) {
      case 0:  // a store that resizes the element
        m[k] = random_row(g, int(k));
        run("c{" + at + "} = " + row_text(m[k]) + ";\n");
        what = "store";
        break;
      case 1: {  // two stores whose size changes cancel, after reads between
        const size_t j = (k + 40) % m.size();
        const std::string at_j = std::to_string(j + 1);
        m[k] = {9};
        m[j] = {1, 2, 3, 4};
        run("c{" + at + "} = [9];\nc{" + at_j + "} = [1 2 3 4];\n");
        check_reads("c", m, "before two stores");
        m[k] = {9, 8, 7};
        m[j] = {1, 2};
        run("c{" + at + "} = [9 8 7];\nc{" + at_j + "} = [1 2];\n");
        what = "two stores";
        break;
      }
      case 2:  // appends
        m.push_back(random_row(g, 7));
        m.push_back({});
        run("c{end + 1} = " + row_text(m[m.size() - 2]) + ";\nc{end + 1} = [];\n");
        what = "append";
        break;
      case 3:  // a deletion and an insertion
        m.erase(m.begin() + long(k));
        m.insert(m.begin() + long(k / 2), std::vector<int>{5, 5});
        run("c(" + at + ") = [];\nc = [c(1:" + std::to_string(k / 2) + ") {[5 5]} c(" + std::to_string(k / 2 + 1) +
            ":end)];\n");
        what = "delete and insert";
        break;
      case 4: {  // the whole value, once more in place: same count, elements elsewhere
        std::shuffle(m.begin(), m.end(), g);
        run("d = " + cell_text(m) + ";\nc = d;\n");
        std::rotate(m.begin(), m.begin() + 1, m.end());
        run("c = " + cell_text(m) + ";\nclear d\n");
        what = "whole value";
        break;
      }
      default:  // cleared and made again of the same shape
        std::reverse(m.begin(), m.end());
        run("clear c\nc = " + cell_text(m) + ";\n");
        what = "clear";
        break;
    }
    check_reads("c", m, what + " at step " + std::to_string(step));
  }
}

TEST_F(EntryIndex, NestedContainersKeepTheirPlaces) {
  // Two cells in one struct and a cell of cells: edits to one move the
  // other within the same block, or resize the entry holding it.
  Model a = random_model(80), b = random_model(70);
  run("s.a = " + cell_text(a) + ";\ns.b = " + cell_text(b) + ";\nw = {" + cell_text(a) + ", 'x', " + cell_text(b) +
      "};\n");
  Model big = random_model(100);
  run("big = " + cell_text(big) + ";\nbig{41} = {};\n");
  big[40] = kNotRead;  // big{41}, a cell
  for (int step = 0; step < 30; ++step) {
    check_reads("s.a", a, "field a");
    check_reads("s.b", b, "field b");
    check_reads("w{3}", b, "cell of cells");
    const size_t i = g() % a.size(), j = g() % b.size();
    a[i] = random_row(g, int(i));
    b[j].push_back(int(step));
    run("s.a{" + std::to_string(i + 1) + "} = " + row_text(a[i]) + ";\ns.b{" + std::to_string(j + 1) + "} = " +
        row_text(b[j]) + ";\n");
    // w{1} is still the first a; w{3} gets b's change, and w{1} grows a tail.
    run("w{3}{" + std::to_string(j + 1) + "} = " + row_text(b[j]) + ";\nw{1}{end + 1} = 1;\n");
    // A cell inside a large one grows: the entries behind it move.
    run("big{41}{end + 1} = " + std::to_string(step) + ";\n");
    check_reads("big", big, "cell grown inside");
    if (step == 15) {
      run("s.c = 1;\n");  // a new field: the block spliced
      b.push_back({4});
      run("s.b{end + 1} = 4;\nw{3}{end + 1} = 4;\n");
    }
  }
}

TEST_F(EntryIndex, DroppedWithTheBlockAndByANewEngine) {
  Model m = random_model(100);
  run("c = " + cell_text(m) + ";\n");
  check_reads("c", m, "built");
  run("clear c\n");
  EXPECT_EQ(entry_index_live_count(), 0);  // the freed block may hold anything next
  run("c = " + cell_text(m) + ";\n");
  check_reads("c", m, "built again");
  run("c = 1;\n");
  EXPECT_EQ(entry_index_live_count(), 0);  // a whole-value store
  run("c = " + cell_text(m) + ";\n");
  check_reads("c", m, "and again");
  // A new engine in the same block, at the same address: nothing of the old.
  EngineContext* again = nullptr;
  ASSERT_EQ(engine_init(s.e.block.get(), 1u << 22, &again), kOk);
  EXPECT_EQ(again, s.c);
  EXPECT_EQ(entry_index_live_count(), 0);
}

TEST_F(EntryIndex, GrownBlockStartsWithNone) {
  // The host copies the block into a larger one and lays the areas out
  // again: the heap moves within the block, and an index must not outlive it.
  Model m = random_model(100);
  run("c = " + cell_text(m) + ";\n");
  check_reads("c", m, "before growing");
  constexpr uint32_t kGrown = (1u << 22) + (1u << 20);
  std::unique_ptr<uint64_t[]> grown(new uint64_t[kGrown / 8]());
  std::memcpy(grown.get(), s.e.block.get(), 1u << 22);
  auto* c = reinterpret_cast<EngineContext*>(grown.get());
  ASSERT_EQ(engine_offsets_to_pointers(c, kGrown, kGrowHeap), kOk);
  EXPECT_EQ(entry_index_live_count(), 0);
  std::reverse(m.begin(), m.end());
  std::string text = "c = " + cell_text(m) + ";\nbad = 0;\n";
  for (int k : {90, 7, 55, 99, 20}) {
    const std::string at = std::to_string(k + 1);
    text += "bad = bad + ~same(c{" + at + "}, " + row_text(m[size_t(k)]) + ");\n";
  }
  text += "fprintf('%d bad\\n', bad);\n";
  s.take_output();
  int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  while (status == kSliceEnded) status = interp_run(c, 0);
  ASSERT_EQ(status, kOk);
  EXPECT_EQ(s.take_output(), "0 bad\n");
}

TEST(EntryIndexEngines, AnotherEngineOnTheThreadLeavesTheFirstRight) {
  ZvrSession one, two;
  ASSERT_EQ(one.run(kSame), kOk);
  std::mt19937 g(7);
  Model m;
  for (int k = 0; k < 100; ++k) m.push_back(random_row(g, k));
  const std::string text = "c = " + cell_text(m) + ";\n";
  ASSERT_EQ(one.run(text + "x = c{90};\n"), kOk);
  // The other engine's variable likely lies in the same block number, with
  // another layout of the same size: its edits drop the first engine's index.
  std::reverse(m.begin(), m.end());
  ASSERT_EQ(two.run("c = " + cell_text(m) + ";\nx = c{90};\nc{3} = [1 2 3 4 5 6];\nx = c{80};\n"), kOk);
  std::reverse(m.begin(), m.end());
  for (int k : {95, 10, 70, 3, 99}) {
    EXPECT_EQ(one.value("same(c{" + std::to_string(k + 1) + "}, " + row_text(m[size_t(k)]) + ")"),
              one.value("true"))
        << k;
  }
}

}  // namespace
