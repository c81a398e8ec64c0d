// Every registered built-in row by its index k (opcode 327 + k) after the
// start-up registration order, against the golden list; search order of the
// rows that share a name; the host table's start-up data words.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/context.h"
#include "engine/core/streams.h"
#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/engine_start.h"
#include "host/builtin_table_host.h"
#include "host/stdio_console.h"
#include "support/builtin_golden.h"

namespace {

constexpr uint32_t kBlockBytes = 1u << 20;
constexpr int kTotalRows = kHostTableRows + kEngineTableRows;

// An engine with the tables registered as start-up does: the engine's table
// first, the host's later, both in front of what is there.
struct Engine {
  std::unique_ptr<uint64_t[]> mem{new uint64_t[kBlockBytes / 8]()};
  EngineContext* ctx = nullptr;
  Engine() {
    EXPECT_EQ(engine_init(mem.get(), kBlockBytes, &ctx), kOk);
    EXPECT_EQ(engine_register_builtin_table(ctx, g_builtin_table_engine, 1), kOk);
  }
  void add_host() { EXPECT_EQ(engine_register_builtin_table(ctx, g_builtin_table_host, 1), kOk); }
};

// The indexes k of the rows called name, in search order.
std::vector<int> rows_named(EngineContext* ctx, const char* name) {
  std::vector<int> ks;
  for (int k = 0; const BuiltinEntry* e = lib_entry_by_index(ctx, k); ++k)
    if (!std::strcmp(e->name, name)) ks.push_back(k);
  return ks;
}

// Rows 0 .. kTotalRows - 1 against the golden list.
void expect_golden_rows(EngineContext* ctx) {
  for (int k = 0; k < kTotalRows; ++k) {
    const BuiltinEntry* e = lib_entry_by_index(ctx, k);
    const GoldenRow& g = kGoldenRows[k];
    SCOPED_TRACE("k " + std::to_string(k) + " " + g.name);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->name, g.name);
    EXPECT_EQ(e->min_in, g.min_in);
    EXPECT_EQ(e->max_in, g.max_in);
    EXPECT_EQ(e->min_out, g.min_out);
    EXPECT_EQ(e->max_out, g.max_out);
    EXPECT_EQ(e->class_word, g.class_word);
    if (g.data != kPtr) {
      EXPECT_EQ(e->data, uintptr_t(g.data));
    }
  }
}

TEST(RegisteredBuiltinRows, EveryIndexMatchesTheGoldenList) {
  Engine eng;
  eng.add_host();
  ASSERT_EQ(builtin_table_rows(g_builtin_table_host), kHostTableRows);
  ASSERT_EQ(kHostTableRows, kGoldenHostRows);
  expect_golden_rows(eng.ctx);
  EXPECT_EQ(lib_entry_by_index(eng.ctx, kTotalRows), nullptr);

  EXPECT_STREQ(lib_entry_by_index(eng.ctx, 0)->name, "+write");
  EXPECT_EQ(lib_entry_by_index(eng.ctx, 0)->min_in, 2);
  EXPECT_EQ(lib_entry_by_index(eng.ctx, kHostTableRows), &g_builtin_table_engine[0]);
  EXPECT_STREQ(lib_entry_by_index(eng.ctx, kHostTableRows)->name, "+read");
  // The engine's table sits second, which fixes the quaternion class id.
  EXPECT_EQ(table_refs(eng.ctx)[1].table, g_builtin_table_engine);
}

TEST(RegisteredBuiltinRows, ZvrRegistersAsTheProgramDoes) {
  // engine_start, the host's table in front, the console's behind: the
  // golden indices and class ids hold, and the console's rows come last.
  std::unique_ptr<uint64_t[]> mem(new uint64_t[kBlockBytes / 8]());
  EngineContext* ctx = nullptr;
  ASSERT_EQ(engine_start(mem.get(), kBlockBytes, &ctx), kOk);
  ASSERT_EQ(stdio_console_register(ctx), kOk);
  expect_golden_rows(ctx);
  EXPECT_EQ(table_refs(ctx)[1].table, g_builtin_table_engine);
  int k = kTotalRows;
  EXPECT_STREQ(lib_entry_by_index(ctx, k++)->name, kHookRead);
  EXPECT_EQ(lib_entry_by_index(ctx, k), nullptr);
  // The host's rows resolve: an unbuilt one answers "Not supported", and its
  // "!lapack" placeholders give way to the engine's operators.
  for (const BuiltinEntry* row = g_builtin_table_host; row->name[0]; ++row) {
    if (row->name[0] == '@' || row->name[0] == '!' || row->name[0] == '+' || !builtin_is_placeholder(row)) continue;
    EXPECT_EQ(lib_call_by_name(ctx, row->name, 0, 0), kNotSupported) << row->name;
    break;
  }
  int32_t index = -1;
  for (const char* name : {"mldivide", "mrdivide", "inv", "det"}) {
    const BuiltinEntry* row = lib_find_builtin(ctx, name, nullptr, 0, &index);
    EXPECT_TRUE(row == nullptr || row->fn != builtin_not_supported) << name;
  }
}

TEST(RegisteredBuiltinRows, HostRowsAreSearchedFirst) {
  Engine eng;
  eng.add_host();
  EXPECT_EQ(rows_named(eng.ctx, "eig"), (std::vector<int>{49, 119}));  // "!lapack" before "!ZVR"
  EXPECT_EQ(rows_named(eng.ctx, "sqrtm"), (std::vector<int>{64, 133}));
  // Console, the runtime's row that takes no fd, files, serial ports, embedded data.
  EXPECT_EQ(rows_named(eng.ctx, "+write"), (std::vector<int>{0, 11, 15, 73, 393}));
  EXPECT_EQ(rows_named(eng.ctx, "+read"), (std::vector<int>{14, 72, 80, 394}));
  EXPECT_EQ(rows_named(eng.ctx, "+readlib"), (std::vector<int>{3, 261}));
  EXPECT_EQ(rows_named(eng.ctx, "+errmsgtable"), (std::vector<int>{81, 82, 263}));
}

TEST(RegisteredBuiltinRows, TarnivelGroupIsFlaggableAtStartUp) {
  // Start-up flags the group while only the engine's table is registered.
  Engine eng;
  EXPECT_EQ(engine_set_library_flag(eng.ctx, "Tarnivel", 1), kSourceNotFound);
  EXPECT_EQ(table_refs(eng.ctx)[0].group_flag, 1);
  EXPECT_EQ(engine_set_library_flag(eng.ctx, "ZVR", 1), kSecurityViolation);
}

// A library registered behind both tables owns fd 7.
int late_write(EngineContext*, int32_t fd, const char*, int32_t, uintptr_t) {
  return fd == 7 ? kOk : kNotMyDescriptor;
}

TEST(RegisteredBuiltinRows, PlaceholderHooksPassEveryDescriptorOn) {
  Engine eng;
  eng.add_host();
  const BuiltinEntry late[] = {stream_hook_row(kHookWrite, late_write, kNewlineLF), builtin_end_row()};
  ASSERT_EQ(engine_register_builtin_table(eng.ctx, late, 0), kOk);
  EXPECT_EQ(io_write(eng.ctx, 7, "x", 1), kOk);  // past five placeholder "+write" rows
  EXPECT_EQ(io_write(eng.ctx, 8, "x", 1), kNotMyDescriptor);
  EXPECT_EQ(io_fclose(eng.ctx, 1024), kNotMyDescriptor);
}

TEST(HostBuiltinTable, StartUpDataWords) {
  const int hasfeature = 10, drawnow = 6, quit = 7;
  ASSERT_STREQ(g_builtin_table_host[hasfeature].name, "hasfeature");
  EXPECT_STREQ(reinterpret_cast<const char*>(g_builtin_table_host[hasfeature].data), "fileio");
  // Detached, the window rows hold the empty record: never 0, which would
  // hand the engine's default data word in its place.
  const uintptr_t none = reinterpret_cast<uintptr_t>(&kHostNoWindow);
  EXPECT_EQ(g_builtin_table_host[drawnow].data, none);

  const HostWindowCallbacks window{};
  host_builtins_attach_window(&window);
  for (int i = 0; i < kHostTableRows; ++i) {
    const uintptr_t want = (i == drawnow || i == quit) ? reinterpret_cast<uintptr_t>(&window)
                           : kGoldenRows[i].data == kPtr ? g_builtin_table_host[i].data
                                                         : uintptr_t(kGoldenRows[i].data);
    EXPECT_EQ(g_builtin_table_host[i].data, want) << g_builtin_table_host[i].name;
  }
  host_builtins_attach_window(nullptr);
  EXPECT_EQ(g_builtin_table_host[quit].data, none);
  host_builtins_attach_window(&window);
  builtin_table_init_runtime();
  EXPECT_EQ(g_builtin_table_host[drawnow].data, none);
  EXPECT_EQ(g_builtin_table_host[kHostTableRows].name[0], '\0');
}

// drawnow and quit reach the window through the callback record and come
// back at once; without a window, quit has nothing to close.
TEST(HostBuiltinTable, DrawnowAndQuitCallTheirCallbacksFromZvr) {
  struct Calls {
    int repaint = 0, close = 0;
  } calls;
  const HostWindowCallbacks window{{[](void* c) { ++static_cast<Calls*>(c)->repaint; }, &calls},
                                   {[](void* c) { ++static_cast<Calls*>(c)->close; }, &calls}};
  host_builtins_attach_window(&window);
  std::unique_ptr<uint64_t[]> mem(new uint64_t[kBlockBytes / 8]());
  EngineContext* ctx = nullptr;
  ASSERT_EQ(engine_start(mem.get(), kBlockBytes, &ctx), kOk);
  ASSERT_EQ(stdio_console_register(ctx), kOk);
  auto run = [&](const std::string& code) {
    const int status = exec_command_line(ctx, code.data(), int32_t(code.size()), 0);
    return status == kSliceEnded ? interp_run(ctx, 0) : status;
  };
  const int32_t base = ctx->desc_top;
  EXPECT_EQ(run("drawnow; quit; drawnow\n"), kOk);
  EXPECT_EQ(calls.repaint, 2);
  EXPECT_EQ(calls.close, 1);
  EXPECT_EQ(ctx->desc_top, base);
  host_builtins_attach_window(nullptr);
  EXPECT_EQ(run("drawnow\n"), kOk);
  ctx->capture = CaptureBuffer{nullptr, 0, nullptr};
  io_set_redirect(ctx, kFdStderr, kFdCapture, 0);  // the report goes nowhere
  EXPECT_EQ(run("quit\n"), kNotSupported);
  EXPECT_EQ(calls.repaint, 2);
  EXPECT_EQ(calls.close, 1);
}

}  // namespace
