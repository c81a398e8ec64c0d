// The runtime's rows of the built-in tables: console output by descriptor
// from ZVR code, the refusing "+write", standard input from the command
// panel, the clock and the break poll, and the fingerprint of the rows the
// program registers (a saved image carries it: a change here is a change of
// the image format).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/engine_start.h"
#include "host/builtin_table_host.h"
#include "runtime/console_hooks.h"
#include "runtime/fake_host.h"
#include "runtime/host_clock.h"
#include "runtime/image_loader.h"

namespace {

constexpr uint32_t kEngineBytes = 1u << 21;

// A sink that keeps what each stream receives.
struct SinkCapture {
  std::string out, err;
  int flushes = 0;
  ConsoleSink sink() {
    return ConsoleSink{[](void* c, int32_t stream, const char* bytes, int32_t n) {
                         auto* s = static_cast<SinkCapture*>(c);
                         (stream == kConsoleOut ? s->out : s->err).append(bytes, size_t(n));
                         return int(kOk);
                       },
                       [](void* c, int32_t) { ++static_cast<SinkCapture*>(c)->flushes; }, this};
  }
};

struct Console : ::testing::Test {
  std::unique_ptr<uint64_t[]> mem{new uint64_t[kEngineBytes / 8]()};
  EngineContext* ctx = nullptr;
  SinkCapture cap;
  void SetUp() override {
    ASSERT_EQ(engine_start(mem.get(), kEngineBytes, &ctx), kOk);
    ASSERT_EQ(engine_register_builtin_table(ctx, g_builtin_table_host, 1), kOk);
    const ConsoleSink s = cap.sink();
    rt_console_set_sink(&s);
  }
  void TearDown() override { rt_console_set_sink(nullptr); }
  int run(const std::string& code) {
    const int status = exec_command_line(ctx, code.data(), int32_t(code.size()), 0);
    return status == kSliceEnded ? interp_run(ctx, 0) : status;
  }
};

TEST_F(Console, DescriptorOneIsStandardOutputTwoAndThreeStandardError) {
  ASSERT_EQ(run("fprintf(1, 'one;'); fprintf(2, 'two;'); fprintf(3, 'three;'); disp('d')\n"), kOk);
  EXPECT_EQ(cap.out, "one;d\r\n");  // the table's console ends lines with CR LF
  EXPECT_EQ(cap.err, "two;three;");
  // Descriptor 4 belongs to no console hook.
  EXPECT_EQ(io_write(ctx, 4, "x", 1), kNotMyDescriptor);
  EXPECT_EQ(cap.out.size() + cap.err.size(), 17u);
}

// Standard error held for a step that may run again: a short report is
// taken back whole; one past the bound goes out in its order, everything
// held before it first, and nothing is taken back (before, the part past
// the bound went out ahead of the part held, which a retry then dropped).
TEST_F(Console, HeldErrorsKeepTheirOrderPastTheBound) {
  const int64_t mark = rt_console_hold_errors();
  ASSERT_EQ(run("fprintf(2, 'short;')\n"), kOk);
  EXPECT_EQ(rt_console_take_errors(mark), "short;");
  EXPECT_EQ(cap.err, "");
  const int64_t outer = rt_console_hold_errors();
  const int64_t inner = rt_console_hold_errors();
  std::string want;
  for (int k = 0; k < 40; ++k) {
    const std::string piece = std::to_string(k) + ":" + std::string(40000, char('a' + k % 26)) + ";";
    ASSERT_EQ(io_write(ctx, kFdStderr, piece.data(), int32_t(piece.size())), kOk);
    want += piece;
  }
  EXPECT_EQ(rt_console_take_errors(inner), "");
  ASSERT_EQ(io_write(ctx, kFdStderr, "after;", 6), kOk);
  EXPECT_EQ(rt_console_take_errors(outer), "");
  EXPECT_EQ(cap.err, want + "after;");
  // The next hold starts afresh.
  const int64_t again = rt_console_hold_errors();
  ASSERT_EQ(io_write(ctx, kFdStderr, "x;", 2), kOk);
  EXPECT_EQ(rt_console_take_errors(again), "x;");
}

TEST_F(Console, BufferingAndControlAnswerOnlyForTheirDescriptors) {
  struct Case { int32_t fd; int buffering, control; };
  const Case cases[] = {{0, kNotMyDescriptor, kNotMyDescriptor}, {1, kOk, kOk}, {2, kOk, kOk},
                        {3, kOk, kNotMyDescriptor}, {4, kNotMyDescriptor, kNotMyDescriptor}};
  for (const Case& k : cases) {
    EXPECT_EQ(rt_console_buffering(ctx, k.fd, 0, 0), k.buffering) << k.fd;
    uint32_t word = 7;
    EXPECT_EQ(rt_console_control(ctx, k.fd, kIoReqEof, &word, 0), k.control) << k.fd;
    if (k.control == kOk) {
      EXPECT_EQ(word, 0u) << k.fd;
    }
  }
  EXPECT_EQ(cap.flushes, 3);  // the end of a burst on 1, 2 and 3
  // The "@Tarnivel" section's "+write" takes nothing.
  for (int32_t fd : {0, 1, 2, 3, 4, 1024}) EXPECT_EQ(rt_refusing_write(ctx, fd, "x", 1, 0), kNotMyDescriptor);
  EXPECT_EQ(g_builtin_table_host[11].fn, builtin_fn_from(static_cast<StreamWriteHook>(rt_refusing_write)));
}

// The command panel's line, read through the hook the way the engine reads it.
struct Stdin : ::testing::Test {
  CallContext panel{nullptr, 0, 1, 0, 0};
  CallContext handler{nullptr, 0, 0, 0, 0};
  void TearDown() override { *rt_stdin_exchange() = StdinExchange{kStdinIdle, nullptr, 0}; }
  int read(CallContext* cc, char* buffer, int32_t capacity, int32_t* count) {
    return rt_stdin_read(nullptr, kFdStdin, buffer, capacity, count, reinterpret_cast<uintptr_t>(cc));
  }
};

TEST_F(Stdin, WantedThenReadyThenIdleWithCrReadAsLf) {
  StdinExchange& x = *rt_stdin_exchange();
  char buf[16];
  int32_t n = -1;
  EXPECT_EQ(read(&panel, buf, sizeof buf, &n), kWaitInput);
  EXPECT_EQ(x.state, kStdinWanted);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(read(&panel, buf, sizeof buf, &n), kWaitInput);  // still waiting: nothing supplied
  const char line[] = "a\rb\r";
  x = StdinExchange{kStdinReady, line, 4};
  ASSERT_EQ(read(&panel, buf, sizeof buf, &n), kOk);
  EXPECT_EQ(std::string(buf, size_t(n)), "a\nb\n");
  EXPECT_EQ(x.state, kStdinIdle);
  EXPECT_EQ(read(&panel, buf, sizeof buf, &n), kWaitInput);
}

TEST_F(Stdin, ALineLongerThanTheBufferIsDeliveredWhole) {
  StdinExchange& x = *rt_stdin_exchange();
  const std::string line = "0123456789abcdefghij\r";
  x = StdinExchange{kStdinReady, line.data(), int32_t(line.size())};
  std::string got;
  char buf[6];
  int32_t n = 0;
  while (x.state == kStdinReady) {
    ASSERT_EQ(read(&panel, buf, sizeof buf, &n), kOk);
    got.append(buf, size_t(n));
  }
  EXPECT_EQ(got, "0123456789abcdefghij\n");
}

TEST_F(Stdin, OtherDescriptorsAndHandlerCodeAreRefused) {
  StdinExchange& x = *rt_stdin_exchange();
  x = StdinExchange{kStdinReady, "x", 1};
  char buf[4];
  int32_t n = 0;
  EXPECT_EQ(rt_stdin_read(nullptr, 3, buf, 4, &n, reinterpret_cast<uintptr_t>(&panel)), kNotMyDescriptor);
  EXPECT_EQ(read(&handler, buf, 4, &n), kBadContext);
  EXPECT_EQ(x.state, kStdinReady);  // the line waits for the panel
  // An engine without a call context reads its console elsewhere.
  EXPECT_EQ(read(nullptr, buf, 4, &n), kNotMyDescriptor);
}

TEST(HostClock, ResetAnswersTheTimeBeforeItAndProcessTimeAdvancesUnderLoad) {
  for (int process : {0, 1}) {
    double slot = 0;
    cpu_time_callback(&slot, process, 1);
    // Work until the clock has moved, at most a few seconds.
    volatile double sink = 0;
    double t = 0;
    for (int round = 0; round < 1000 && t <= 0.002; ++round) {
      for (int i = 0; i < 200000; ++i) sink = sink + i * 1e-9;
      t = cpu_time_callback(&slot, process, 0);
    }
    EXPECT_GT(t, 0.002) << process;
    const double before = cpu_time_callback(&slot, process, 1);
    EXPECT_GE(before, t) << process;
    EXPECT_LT(cpu_time_callback(&slot, process, 0), before) << process;
  }
  EXPECT_EQ(cpu_time_callback(nullptr, 0, 1), 0.0);
}

TEST(HostClock, BreakPollReadsAndClearsTheFlag) {
  BreakFlag flag{0};
  EXPECT_EQ(break_key_poll(&flag), 0);
  flag.store(1);
  EXPECT_EQ(break_key_poll(&flag), 1);
  EXPECT_EQ(break_key_poll(&flag), 0);
  EXPECT_EQ(break_key_poll(nullptr), 0);
}

TEST(RuntimeRows, BoundAtLayOutAndFingerprintPinned) {
  FakeHost host;
  ASSERT_EQ(host.start(1u << 21, 1u << 21), 0);
  ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
  EngineContext* c = rt_engine(host.block);
  // Row k = 80: the standard-input "+read" at the head of the engine's table.
  const BuiltinEntry* read = lib_entry_by_index(c, kHostTableRows);
  ASSERT_STREQ(read->name, kHookRead);
  EXPECT_EQ(read->fn, builtin_fn_from(static_cast<StreamReadHook>(rt_stdin_read)));
  for (const char* name : {"subplots", "subplotprops", "subplotpos", "subplotsize", "subplotspring", "subplotparam",
                           "tntitle", "tnversion", "tnhelp"}) {
    int32_t index = -1;
    const BuiltinEntry* row = lib_find_builtin(c, name, nullptr, 0, &index);
    ASSERT_NE(row, nullptr) << name;
    EXPECT_FALSE(builtin_is_placeholder(row)) << name;
  }
  // The last section's rows keep their placeholders and indexes.
  EXPECT_STREQ(lib_entry_by_index(c, 403)->name, "figuretitle");
  EXPECT_EQ(lib_entry_by_index(c, 404), nullptr);
  EXPECT_EQ(rt_table_fingerprint(c), 0x113163ADu);
}

}  // namespace
