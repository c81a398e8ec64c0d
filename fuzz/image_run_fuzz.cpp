// libFuzzer target: arbitrary bytes as a flat runtime image which, once it
// loads (and gives its requests back when written, fuzz/image_model.h),
// runs the way the program runs it, with no window: every instance is
// reset (its init handlers run), its figure commands and plot handlers run
// and the figure is drawn through a recording driver, every menu entry and
// item runs with its undo row, the change handlers and an idle step run, and
// undo and redo step back and forth. An undo or a redo is what its steps
// give: run again from the same block, the history's step, the stored
// values applied, a refresh and the change handlers must leave the instance
// as the operation did. (The instance need not show the stored values
// themselves: a plot handler may lay its cells out with subplot, which sets
// the grid in the refresh without storing it.) A break poll with a budget
// stops code that would not end. Every call must give a status and leave the stores
// whole; the next input starts from a fresh block. With TN_FUZZ_SHOW set,
// each call's status and the drawing calls go to stderr.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/core/streams.h"
#include "fuzz/fuzz_runtime_block.h"
#include "runtime/figure_draw.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/menu_exec.h"
#include "runtime/record_list.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"
#include "tests/support/recording_driver.h"

namespace {

using fuzzblock::require;

constexpr int kMostMenuRecords = 64;  // per kind, past any seed's menus
// Polls before a run of code is stopped. Every handler of the seeds that
// ends by itself polls a few times at most; the project's own applications
// hold one whose plot handler works a second on purpose (1,500 turns of a
// sum over 100,000 elements), which under the sanitizers took libFuzzer's
// ten seconds for one input at a budget of 4,000. A hundred turns keep
// every such run short.
constexpr long kPollBudget = 100;

using fuzzblock::Input;

long g_polls = 0;
uint8_t budget_poll(void*) { return ++g_polls > kPollBudget ? 1 : 0; }

char g_out[1 << 12];
uint32_t g_out_len = 0;

// Each call runs with a fresh budget and leaves the stores whole.
const bool g_show = std::getenv("TN_FUZZ_SHOW") != nullptr;

template <typename Call>
void step(RuntimeBlock** handle, Call call, const char* what) {
  g_polls = 0;
  g_out_len = 0;
  const int status = call();
  if (g_show) std::fprintf(stderr, "%s: %d after %ld polls: %.*s\n", what, status, g_polls, int(g_out_len), g_out);
  RuntimeBlock* b = *handle;
  require(plotstore_check(rt_plot_store(b)) && undo_store_check(rt_value_store(b)));
}

// Every named record of a kind ('m' menu entries, 'e' entries, 'i' items)
// runs as its menu command.
void run_menus(RuntimeBlock** handle, int32_t id, char kind) {
  int32_t cursor = -1;
  for (int k = 0; k < kMostMenuRecords; ++k) {
    const char* name = nullptr;
    int32_t length = 0;
    uint8_t submenu = 0, title = 0;
    const int32_t before = cursor;
    if (rec_nth_of_kind(*handle, id, kind, &cursor, &name, &length, &submenu, &title) != 0 || cursor <= before) break;
    if (!name || length <= 0 || submenu || title) continue;
    step(handle, [&] { return inst_menu_exec(handle, id, cursor); }, "menu");
  }
}

// The block as it stood before a step, to run the step again from there.
struct Saved {
  const RuntimeBlock* at = nullptr;
  std::vector<uint8_t> bytes;
};

void save_block(RuntimeBlock* b, Saved* saved) {
  saved->at = b;
  const auto* p = reinterpret_cast<const uint8_t*>(b);
  saved->bytes.assign(p, p + b->h.alloc_size);
}

// The instance's bytes, with the fields that follow the clock (the idle
// schedule) as a load settles them.
std::vector<uint8_t> instance_bytes(RuntimeBlock* b, int32_t id) {
  const InstanceRec* rec = inst_find_by_id(b, id);
  if (!rec) return {};
  std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(rec), reinterpret_cast<const uint8_t*>(rec) + kInstanceBytes);
  const double never = -1.0;
  std::memcpy(bytes.data() + offsetof(InstanceRec, next_due), &never, sizeof never);
  std::memcpy(bytes.data() + offsetof(InstanceRec, idle_base), &never, sizeof never);
  return bytes;
}

// An undo or a redo, run again by its steps from the block it started from:
// the history's step (nothing happens when it fails: 0), the stored values
// applied, a refresh, the change handlers (the first failure is the
// answer, else 10201). The answer and the instance must be the same. A block
// that moved or grew in between is not compared.
void check_history_step(RuntimeBlock** handle, const Saved& before, int32_t id, bool undo, int status) {
  RuntimeBlock* b = *handle;
  if (b != before.at || b->h.alloc_size != before.bytes.size()) return;
  const std::vector<uint8_t> shown = instance_bytes(b, id);
  std::memcpy(b, before.bytes.data(), before.bytes.size());
  g_polls = 0;
  g_out_len = 0;
  UndoStore* store = rt_value_store(b);
  int again = kRtHandledRedraw;
  if (!inst_find_by_id(b, id)) {
    again = kRtNonexistentInstance;
  } else if ((undo ? undo_store_undo(store, id) : undo_store_redo(store, id)) != 0) {
    again = 0;
  } else {
    ++b->h.history_serial;
    int failed = inst_apply_stored(b, id);
    if (failed == 0) failed = inst_refresh(handle, id);
    if (failed == 0) failed = inst_run_change_handlers(handle, id);
    if (failed != 0) again = failed;
  }
  b = *handle;
  require(plotstore_check(rt_plot_store(b)) && undo_store_check(rt_value_store(b)));
  const std::vector<uint8_t> replayed = instance_bytes(b, id);
  if (again == status && replayed == shown) return;
  size_t at = 0;
  while (at < shown.size() && at < replayed.size() && replayed[at] == shown[at]) ++at;
  std::fprintf(stderr, "image_run_fuzz: %s is not its steps (answer %d, by its steps %d; instance byte %zu)\n",
               undo ? "an undo" : "a redo", status, again, at);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RuntimeBlock** handle = fuzzblock::fresh_block(fuzzblock::cap_for_flat(size));
  Input in{data, size, 0};
  const int status = rt_load_image(handle, &Input::read, &in);
  imagemodel::Sections image;
  fuzzblock::check_loaded(*handle, status, imagemodel::split(data, size, &image) ? &image : nullptr);
  if (status != 0) {
    fuzzblock::release_block();
    return 0;
  }
  recdrv::Recorder rec;
  rec.quiet = true;
  RuntimeBlock* b = *handle;
  rt_set_break_poll(b, budget_poll, nullptr);
  rt_set_graphics_driver(b, &rec.table);
  rt_set_graphics_context(b, &rec.context);
  EngineContext* c = rt_engine(b);
  c->capture = CaptureBuffer{g_out, sizeof g_out, &g_out_len};
  io_set_redirect(c, kFdStdout, kFdCapture, 0);
  io_set_redirect(c, kFdStderr, kFdCapture, 0);

  // Ids first: handlers may add or close instances while they run.
  int32_t ids[8];
  const int32_t count = b->h.instance_count < 8 ? b->h.instance_count : 8;
  for (int32_t k = 0; k < count; ++k) ids[k] = inst_at(b, k)->id;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t id = ids[k];
    if (!inst_find_by_id(*handle, id)) continue;
    step(handle, [&] { return inst_reset(handle, id); }, "inst_reset");
    step(handle, [&] { return inst_run_figure_commands(handle, id); }, "inst_run_figure_commands");
    step(handle, [&] { return inst_plot_all(handle, id); }, "inst_plot_all");
    step(handle, [&] {
      figure_draw(*handle, id);
      return int(rec.calls);
    }, "figure_draw (calls)");
    for (const char kind : {'m', 'e', 'i'}) run_menus(handle, id, kind);
    step(handle, [&] { return inst_run_change_handlers(handle, id); }, "inst_run_change_handlers");
    step(handle, [&] { return inst_idle_step(handle, id, true); }, "inst_idle_step");
    Saved before;
    for (const bool undo : {true, false}) {
      int status = 0;
      save_block(*handle, &before);
      step(handle, [&] { return status = undo ? inst_undo(handle, id) : inst_redo(handle, id); },
           undo ? "inst_undo" : "inst_redo");
      check_history_step(handle, before, id, undo, status);
    }
    step(handle, [&] { return inst_refresh(handle, id); }, "inst_refresh");
  }
  fuzzblock::release_block();
  return 0;
}
