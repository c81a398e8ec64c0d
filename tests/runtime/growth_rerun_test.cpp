// A handler whose run stops for want of room runs again in the grown block,
// and the stopped run leaves nothing behind: the same tasks, semaphores,
// persistent and global values and generator state as one run in a block
// large enough from the start, for an init at build time, a menu handler in
// the program and a derived-variable update.
#include "runtime/app_fixture.h"

#include "engine/core/heap.h"
#include "engine/core/snapshot.h"
#include "engine/core/state_copy.h"
#include "engine/core/streams.h"
#include "host/devices/file_library.h"
#include "runtime/menu_exec.h"

namespace {

using apptest::App;

// Every effect kind at once, then a value larger than the block: a task
// (the spinner never ends), a persistent counter, a global counter, a
// generator draw, a semaphore held and an open stream. `words` sizes the
// value that needs the growth.
const char kSource[] =
    "function g_spin()\n while true\n end\nendfunction\n"
    "function [n, g, r, s, t, f, h] = g_effects(words)\n"
    " persistent k\n if isempty(k)\n  k = 0;\n end\n k = k + 1;\n n = k;\n"
    " global gcount\n if isempty(gcount)\n  gcount = 0;\n end\n gcount = gcount + 1;\n g = gcount;\n"
    " r = rand;\n s = semaphorenew;\n semaphorelock(s);\n t = threadnew(@g_spin);\n"
    " f = fopen('/dev/null', 'w');\n"
    " global G\n if isempty(G)\n  G = zeros(1, 5000);\n end\n G(3) = G(3) + 1;\n h = G(3);\n"
    " y = zeros(1, words);\nendfunction\n"
    "function [n, g, r, s, t, f, h] = g_init()\n [n, g, r, s, t, f, h] = g_effects(200000);\nendfunction\n"
    "function [n, g, r, s, t, f, h] = g_menu()\n [n, g, r, s, t, f, h] = g_effects(5e5);\nendfunction\n"
    "function m = g_one()\n m = 1;\nendfunction\n"
    "function n2 = g_derived(m)\n [n2, g, r, s, t, f] = g_effects(5e5);\nendfunction\n";

const char kDescription[] =
    "instance demo\n"
    "var n\nvar g\nvar r\nvar s\nvar t\nvar f\nvar h\nvar m\nvar n2\nvar w\n"
    "init [n, g, r, s, t, f, h] = g_init()\n"
    "init m = g_one()\n"
    "derived n2 = g_derived(m)\n"
    "resize w = (n2)\n"
    "menutitle \"Tools\"\n"
    "menu \"Effects\" [n, g, r, s, t, f, h] = g_menu()\n";

int task_count(EngineContext* c) {
  int n = 0;
  for (int32_t index = c->task_first; index > 0 && n < 1000; ++n) {
    const auto* r = reinterpret_cast<const uint32_t*>(heap_words(c) + index);
    index = int32_t(r[kTaskNext]);
  }
  return n;
}

// Files open in the process: their slots are the process's, shared by every
// block, so builds side by side are told apart by counts. The slots' range
// holds `fd`, the descriptor of one of them.
int open_files(App& app, double fd_seen) {
  const int32_t near = int32_t(fd_seen);
  EngineContext* c = app.c();
  int n = 0;
  for (int32_t fd = near - kFileSlots + 1; fd < near + kFileSlots; ++fd) {
    uint32_t at = 0;
    n += io_control(c, fd, kIoReqTell, 0, &at, nullptr) == kOk;
  }
  return n;
}

// What the runs so far left: the handler's outputs (less the stream's
// number), the tasks and the generator.
struct Effects {
  std::vector<double> values;
  int tasks = 0;
  RandomState uniform{};
  bool operator==(const Effects& o) const {
    return values == o.values && tasks == o.tasks && uniform.lcg == o.uniform.lcg && uniform.xs == o.uniform.xs;
  }
};

std::ostream& operator<<(std::ostream& os, const Effects& e) {
  for (double v : e.values) os << v << ' ';
  return os << "tasks " << e.tasks << " rng " << e.uniform.lcg << '/' << e.uniform.xs;
}

Effects effects(App& app) {
  Effects e;
  for (const char* name : {"n", "g", "r", "s", "t", "h"}) e.values.push_back(app.value(name));
  e.tasks = task_count(app.c());
  e.uniform = app.c()->rng_uniform;
  return e;
}

// The application built in a block of `bytes`, its init handlers run at
// build time.
struct Built : App {
  explicit Built(uint32_t bytes) {
    SetUp();
    build(kDescription, kSource, bytes, std::max(bytes, 256u << 20));
  }
  void TestBody() override {}
};

// The twin: a block large enough from the start, one run of each handler.
constexpr uint32_t kRoomy = 64u << 20;
constexpr uint32_t kSmall = 256u << 10;

TEST(Growth, AnInitThatNeedsGrowthLeavesWhatOneRunLeaves) {
  Built twin(kRoomy);
  const int files = open_files(twin, twin.value("f"));
  Built grown(kSmall);
  EXPECT_EQ(open_files(grown, grown.value("f")), files + 1);
  ASSERT_GT(grown.host.moves, 0);
  ASSERT_EQ(twin.host.moves, 0);
  const Effects e = effects(grown);
  EXPECT_EQ(e.tasks, 1);
  EXPECT_EQ(e.values[0], 1);  // the persistent counter
  EXPECT_EQ(e.values[1], 1);  // the global counter
  EXPECT_EQ(e.values[3], 1);  // the first semaphore
  EXPECT_EQ(e.values[4], 1);  // the first task
  EXPECT_EQ(e, effects(twin));
}

void menu_handler_case() {
  Built grown(1u << 20), twin(2 * kRoomy);
  const int moves = grown.host.moves;
  const int files = open_files(grown, grown.value("f"));
  ASSERT_EQ(inst_menu_exec(grown.h(), 0, grown.record(kTagMenuTitle, 0)), kRtHandledRedraw)
      << grown.host.take_output();
  ASSERT_GT(grown.host.moves, moves);
  EXPECT_EQ(open_files(grown, grown.value("f")), files + 1);
  ASSERT_EQ(inst_menu_exec(twin.h(), 0, twin.record(kTagMenuTitle, 0)), kRtHandledRedraw);
  ASSERT_EQ(twin.host.moves, 0);
  const Effects e = effects(grown);
  EXPECT_EQ(e.tasks, 2);
  EXPECT_EQ(e.values[0], 2);
  EXPECT_EQ(e.values[1], 2);
  EXPECT_EQ(e, effects(twin));
}

TEST(Growth, AMenuHandlerThatNeedsGrowthLeavesWhatOneRunLeaves) { menu_handler_case(); }

// Every global and persistent value kept in place instead of copied: the
// stopped runs' writes went to copies of their own.
TEST(Growth, KeptValuesComeBackUnwrittenAfterAStoppedRun) {
  const int64_t before = engine_state_set_kept_words(1);
  menu_handler_case();
  engine_state_set_kept_words(before);
}

int64_t heap_in_use(EngineContext* c) {
  int64_t words = 0;
  heap_walk(heap_words(c), c->heap_size, [&](int64_t, int64_t size, uint64_t h) {
    if (heap_header_used(h)) words += size;
  });
  return words;
}

// A kept value that a handler replaced is freed when its step ends.
TEST(Growth, AReplacedKeptValueIsFreedWithItsStep) {
  Built app(2 * kRoomy);
  const int32_t menu = app.record(kTagMenuTitle, 0);
  ASSERT_EQ(inst_menu_exec(app.h(), 0, menu), kRtHandledRedraw);
  const int64_t used = heap_in_use(app.c());
  for (int k = 0; k < 3; ++k) ASSERT_EQ(inst_menu_exec(app.h(), 0, menu), kRtHandledRedraw);
  // Three more tasks and semaphores; not three more copies of G.
  EXPECT_LT(heap_in_use(app.c()) - used, 5000);
  EXPECT_EQ(app.value("h"), 5);
}

// A handler that needs a derived variable brought up to date: the update's
// handler grows the block.
TEST(Growth, ADerivedUpdateThatNeedsGrowthLeavesWhatOneRunLeaves) {
  Built grown(1u << 20), twin(2 * kRoomy);
  const int moves = grown.host.moves;
  ASSERT_EQ(grown.call(grown.record(kTagResize, 0)), 0) << grown.host.take_output();
  ASSERT_GT(grown.host.moves, moves);
  ASSERT_EQ(twin.call(twin.record(kTagResize, 0)), 0);
  ASSERT_EQ(twin.host.moves, 0);
  EXPECT_EQ(grown.value("w"), 2);  // the persistent counter's second step
  EXPECT_EQ(effects(grown).tasks, 2);
  EXPECT_EQ(effects(grown), effects(twin));
}

}  // namespace
