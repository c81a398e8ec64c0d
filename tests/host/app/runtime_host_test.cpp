// The runtime host: the allocation loop under an injected allocator, growth
// of a real runtime block up to MemMax, the 64-bit growth step, the dialog
// and progress callbacks and "Running" in status pane 1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "host/app/runtime_host.h"
#include "host/ui/input_dialog.h"
#include "platform/status_panes.h"
#include "runtime/runtime_status.h"
#include "tests/host/ui/scripted_dialogs.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;

// An allocator that fails above a limit and records every request.
struct Recorder {
  static inline size_t limit = 0;
  static inline std::vector<size_t> asked;
  static inline int released = 0;
  static void* allocate(size_t n) {
    asked.push_back(n);
    return n <= limit ? std::malloc(n) : nullptr;
  }
  static void* reallocate(void* p, size_t n) {
    asked.push_back(n);
    return n <= limit ? std::realloc(p, n) : nullptr;
  }
  static void release(void* p) {
    ++released;
    std::free(p);
  }
  static void reset(size_t l) {
    limit = l;
    asked.clear();
    released = 0;
  }
};
const HostAllocator kRecorder = {Recorder::allocate, Recorder::reallocate, Recorder::release};

TEST(RuntimeHost, AllocationHalvesUntilItSucceedsAndStopsBelowTheLeastBlock) {
  struct Row {
    int32_t mem_min;
    size_t limit;
    int32_t status;
    int32_t size;
    std::vector<size_t> asked;
  } rows[] = {
      {int32_t(4 * kMiB), size_t(kMiB), 0, int32_t(kMiB), {4 * kMiB, 2 * kMiB, kMiB}},
      {int32_t(2 * kMiB), size_t(2 * kMiB), 0, int32_t(2 * kMiB), {2 * kMiB}},
      // Nothing succeeds: the loop ends below 8192 bytes with no block.
      {65536, 0, kRtNotEnoughMemForTN, 0, {65536, 32768, 16384, 8192}},
      {8191, size_t(kMiB), kRtNotEnoughMemForTN, 0, {}},
      {-5, size_t(kMiB), kRtNotEnoughMemForTN, 0, {}},
      // Allocated and laid out, but its name table is too small: freed again.
      {8192, size_t(kMiB), kRtTooSmallNameBuf, 0, {8192}},
  };
  for (const Row& r : rows) {
    Recorder::reset(r.limit);
    {
      RuntimeHost h(r.mem_min, r.mem_min, 0, 2, &kRecorder);
      EXPECT_EQ(h.creation_status(), r.status) << r.mem_min;
      EXPECT_EQ(h.has_block(), r.status == 0) << r.mem_min;
      EXPECT_EQ(h.size(), r.size) << r.mem_min;
      EXPECT_EQ(Recorder::asked, r.asked) << r.mem_min;
      if (h.has_block()) {
        // Laid out in the full size that was allocated.
        EXPECT_EQ(h.block()->h.alloc_size, uint32_t(r.size));
        EXPECT_EQ(h.block()->h.line_end, 2);
      }
    }
    EXPECT_EQ(Recorder::released, r.asked.empty() ? 0 : (r.limit >= r.asked.back() ? 1 : 0)) << r.mem_min;
  }
}

TEST(RuntimeHost, GrowsTheRealBlockUpToMemMaxThenRefuses) {
  RuntimeHost h{int32_t(100 * kMiB), int32_t(128 * kMiB), 0, 2};
  ASSERT_TRUE(h.has_block());
  EXPECT_TRUE(rt_memory_expand(h.block_handle(), kRtVarTooLargeForUndo));
  EXPECT_EQ(h.size(), int32_t(128 * kMiB));
  EXPECT_EQ(h.block()->h.alloc_size, uint32_t(128 * kMiB));
  EXPECT_FALSE(rt_memory_expand(h.block_handle(), kRtVarTooLargeForUndo));
  EXPECT_EQ(h.size(), int32_t(128 * kMiB));

  RuntimeHost fixed{int32_t(kMiB), int32_t(kMiB), 0, 2};
  RuntimeBlock* before = fixed.block();
  EXPECT_FALSE(rt_memory_expand(fixed.block_handle(), kRtVarTooLargeForUndo));
  EXPECT_EQ(fixed.block(), before);
  EXPECT_EQ(fixed.size(), int32_t(kMiB));
}

TEST(RuntimeHost, GrowthStepIn64BitsClampsAndAFailedReallocationChangesNothing) {
  Recorder::reset(size_t(kMiB));
  RuntimeHost h{int32_t(kMiB), INT32_MAX, 0, 2, &kRecorder};
  ASSERT_TRUE(h.has_block());
  struct Row {
    uint32_t size;
    size_t expect;
  } rows[] = {
      {uint32_t(1536 * kMiB), size_t(INT32_MAX)},   // 2.25 GB clamps to MemMax
      {uint32_t(1024 * kMiB), size_t(1536 * kMiB)},  // an ordinary step
  };
  for (const Row& r : rows) {
    Recorder::asked.clear();
    RuntimeBlock* memory = h.block();
    uint32_t size = r.size;
    EXPECT_FALSE(host_grow_block(&memory, &size, &h));  // the allocator refuses
    ASSERT_EQ(Recorder::asked, std::vector<size_t>{r.expect});
    EXPECT_EQ(memory, h.block());
    EXPECT_EQ(size, r.size);
    EXPECT_EQ(h.size(), int32_t(kMiB));
  }
  uint32_t at_max = uint32_t(INT32_MAX);
  RuntimeBlock* memory = h.block();
  Recorder::asked.clear();
  EXPECT_FALSE(host_grow_block(&memory, &at_max, &h));
  EXPECT_TRUE(Recorder::asked.empty());
}

TEST(RuntimeHost, DialogAndRunningCallbacks) {
  AppRuntimeHost h{int32_t(kMiB), int32_t(kMiB), 0, 2};
  ASSERT_TRUE(h.has_block());
  RuntimeBlock* b = h.block();
  // Before the status bar exists: nothing happens.
  EXPECT_EQ(b->h.progress.fn(1, 0.5, b->h.progress.context), 0);
  StatusPanes bar(3);
  h.set_status_bar(&bar);
  b->h.progress.fn(1, 0.5, b->h.progress.context);
  EXPECT_EQ(bar.pane_text(kRunningPane), QStringLiteral("Running"));
  b->h.progress.fn(0, 0.0, b->h.progress.context);
  EXPECT_EQ(bar.pane_text(kRunningPane), QString());

  ScriptedDialogs dialogs;
  int32_t length = 0;
  DialogRequest confirm{"T", 1, "Sure?", 5, nullptr, 0, &length, 1};
  EXPECT_EQ(b->h.dialog.fn(&confirm, b->h.dialog.context), 1);
  dialogs.answer_ok = false;
  EXPECT_EQ(b->h.dialog.fn(&confirm, b->h.dialog.context), 0);
  RuntimeHost base{int32_t(kMiB), int32_t(kMiB), 0, 2};
  dialogs.answer_ok = true;
  EXPECT_EQ(base.block()->h.dialog.fn(&confirm, &base), 0);  // the base host has no dialog
  EXPECT_EQ(dialogs.asked.size(), 2);
}

}  // namespace

namespace {

// The file-dialog callback the host installs: Qt filters, the proposed
// name, UTF-8 both ways, and cancel as length 0.
TEST(RuntimeHostFiles, FileDialogsGoThroughTheService) {
  ScriptedDialogs dialogs;
  char path[64];
  const char kFilter[] = "txt/html|*.txt;*.html|All files|*.*||";
  dialogs.chosen = QString::fromUtf8("/tmp/\xC3\xA9t\xC3\xA9.txt");
  int32_t n = host_file_dialog_thunk(false, "Open \xC3\xA9", 7, kFilter, int32_t(sizeof kFilter - 1), "", 0, path,
                                     int32_t(sizeof path), nullptr);
  EXPECT_EQ(std::string(path, size_t(n)), "/tmp/\xC3\xA9t\xC3\xA9.txt");
  n = host_file_dialog_thunk(true, "Save", 4, "|All files|*.*||", 16, "b.txt", 5, path, int32_t(sizeof path), nullptr);
  EXPECT_EQ(n, 14);
  dialogs.chosen.clear();
  EXPECT_EQ(host_file_dialog_thunk(false, "", 0, "", 0, "", 0, path, int32_t(sizeof path), nullptr), 0);
  // A path longer than the room is refused rather than cut.
  dialogs.chosen = QString(100, QLatin1Char('x'));
  EXPECT_EQ(host_file_dialog_thunk(false, "", 0, "", 0, "", 0, path, int32_t(sizeof path), nullptr), 0);
  EXPECT_EQ(dialogs.asked, (QStringList{QString::fromUtf8("open|Open \xC3\xA9|txt/html (*.txt *.html);;All files (*)"),
                                        QStringLiteral("save|Save|All files (*)|b.txt"), QStringLiteral("open||"),
                                        QStringLiteral("open||")}));
}

}  // namespace
