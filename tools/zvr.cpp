// zvr: runs a ZVR file (or the text of -e) as top-level code in a fresh
// engine whose engine and host tables are registered as the program
// registers them (the application runtime's built-ins are not bound here),
// the test tool of the script suite. Descriptor 0 reads standard input, 1 writes
// standard output and 2 standard error; the exit status is 0, or 1 after an
// error that nothing caught (its report is on standard error). With -d, each
// stop for debugging runs the next line of the given text as a command line in
// the suspended context; when the lines run out, dbquit.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#if defined(TN_SANITIZED)
#include <sanitizer/asan_interface.h>
#endif

#include "engine/core/calls.h"
#include "engine/core/context.h"
#include "engine/core/debug_state.h"
#include "engine/core/errors.h"
#include "engine/core/interp.h"
#include "engine/core/snapshot.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/libraries.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/engine_start.h"
#include "host/block_pages.h"
#include "host/builtin_table_host.h"
#include "host/interrupt_poll.h"
#include "host/posix_clock.h"
#include "host/stdio_console.h"
#include "runtime/graphics_builtins.h"
#include "tools/toolfiles/regular_file.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
// Large enough for a product of two 1000 x 1000 matrices; calloc leaves the
// pages untouched until the engine uses them, so start-up does not pay for it.
constexpr uint32_t kDefaultBlockMegabytes = 512;
// Offsets inside the block are 32-bit and the block is addressed in 8-byte words.
constexpr uint32_t kMaxBlockMegabytes = 2047;
constexpr int kMaxOptimisation = 4;

// The host's table with its "!lapack" rows back at the placeholder: name
// resolution then passes over them to the engine's own rows of the same
// names, and every row keeps its index (zvr -E, which tests those rows).
constexpr int kHostRowsMax = 128;
BuiltinEntry g_host_own_linalg[kHostRowsMax + 1];

bool host_table_without_lapack() {
  const BuiltinEntry* t = g_builtin_table_host;
  bool in_lapack = false;
  int k = 0;
  for (; t[k].name[0]; ++k) {
    if (k == kHostRowsMax) return false;
    g_host_own_linalg[k] = t[k];
    if (t[k].name[0] == '@' || t[k].name[0] == '!') in_lapack = std::strcmp(t[k].name, "!lapack") == 0;
    else if (in_lapack && t[k].name[0] != '+') g_host_own_linalg[k].fn = builtin_not_supported;
  }
  g_host_own_linalg[k] = BuiltinEntry{};
  return true;
}

void usage() {
  std::fprintf(stderr,
               "usage: zvr [-O level] [-m megabytes] [-E] [--relocate] [--no-gap] [-d LINES] FILE\n"
               "       zvr [-O level] [-m megabytes] [-E] [--relocate] [--no-gap] [-d LINES] -e TEXT\n"
               "  -E          the engine's own linear algebra in place of the LAPACK rows\n"
               "  -d LINES    at each stop for debugging, runs the next line as a command\n"
               "  --relocate  moves the engine's block after every slice (a test mode)\n"
               "  --no-gap    cell stores never leave a gap in a variable's block (a test mode)\n");
}

bool parse_count(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno || end == text || *end || v < low || v > high) return false;
  *out = v;
  return true;
}

using Block = std::unique_ptr<void, decltype(&std::free)>;

// The relocation test mode: the block moves to a new address after every
// slice, and the old copy is poisoned, so that anything still pointing into
// it reads garbage (and, in the sanitizer build, is reported as a use of
// poisoned memory). Only the block itself may hold state that survives a
// slice.
constexpr unsigned char kPoison = 0xDD;

// The copies a moving block takes turns in. A fresh allocation at every move
// cost more in the kernel's page faults than the test's own work (a 4 MB
// block is mapped and unmapped thousands of times a run); the ring is
// touched once. A pointer kept across fewer than this many moves lands in a
// poisoned copy.
constexpr int kMoveRingSize = 8;

void poison_copy(void* at, uint32_t size) {
  std::memset(at, kPoison, size);
#if defined(TN_SANITIZED)
  __asan_poison_memory_region(at, size);
#endif
}

void unpoison_copy(void* at, uint32_t size) {
#if defined(TN_SANITIZED)
  __asan_unpoison_memory_region(at, size);
#else
  (void)at;
  (void)size;
#endif
}

struct MoveRing {
  Block copies[kMoveRingSize] = {{nullptr, &std::free}, {nullptr, &std::free}, {nullptr, &std::free},
                                 {nullptr, &std::free}, {nullptr, &std::free}, {nullptr, &std::free},
                                 {nullptr, &std::free}, {nullptr, &std::free}};
  int next = 0;
  uint32_t size = 0;

  ~MoveRing() {
    for (Block& b : copies)
      if (b) unpoison_copy(b.get(), size);
  }
};
MoveRing g_move_ring;

// Moves the block. A run that goes on where the last handed control back
// goes on in the same slice lap, so the move, which dwarfs a run that ends
// at the next backward jump, is charged to the main context's slice (it is
// the context the engine hands back in): its slices end after about the
// wall time they take when the block stays put, and a task, which gets its
// turn when such a slice ends, is not kept waiting for tens of thousands of
// moves while the main script spins waiting for it.
int relocate(Block* block, uint32_t size, EngineContext** ctx) {
  MoveRing& ring = g_move_ring;
  ring.size = size;
  Block& slot = ring.copies[ring.next];
  ring.next = (ring.next + 1) % kMoveRingSize;
  if (!slot) {
    slot.reset(std::malloc(size));
    if (!slot) return kVariableOverflow;
  } else {
    unpoison_copy(slot.get(), size);
  }
  std::memcpy(slot.get(), block->get(), size);
  poison_copy(block->get(), size);
  const ptrdiff_t at = reinterpret_cast<uint8_t*>(*ctx) - static_cast<uint8_t*>(block->get());
  block->swap(slot);
  *ctx = reinterpret_cast<EngineContext*>(static_cast<uint8_t*>(block->get()) + at);
  return engine_offsets_to_pointers(*ctx, 0, 0) == kOk ? kOk : kIllegalError;
}

// Runs the code that a command line set up until it ends. In slices (500 at
// every backward jump) the abort poll is read, so SIGINT reaches the engine,
// and with relocate set the block moves between them; slices cost time in
// tight loops, so the code runs in one piece unless the block moves or the
// interrupt key is to suspend for debugging (dbstop -interrupt hands control
// back, so that the next run is sliced).
int drive(Block* block, uint32_t size, EngineContext** ctx, int status, bool relocating) {
  for (;;) {
    while (status == kSliceEnded) {
      if (relocating) TN_TRY(relocate(block, size, ctx));
      const bool sliced = relocating || dbg_get_interrupt_mode(*ctx) != 0;
      interrupt_poll_set_armed(sliced);
      status = interp_run(*ctx, sliced ? 1 : 0);
      interrupt_poll_set_armed(false);
    }
    // An error in a task ended that task alone (its report is on fd 2): the
    // main script goes on where it was.
    if (!interp_task_failed(*ctx, status)) return status;
    status = kSliceEnded;
  }
}

// Compiles and runs the text to its end. The report of an error that nothing
// caught is already on fd 2 when the status comes back.
int run_text(Block* block, uint32_t size, EngineContext** ctx, const std::string& text, bool relocating) {
  if (text.size() > size_t(INT32_MAX)) return kObjectTooLarge;
  // The executor prints a compilation error itself.
  const int status = exec_command_line(*ctx, text.data(), int32_t(text.size()), 0);
  return drive(block, size, ctx, status, relocating);
}

// While a run is suspended for debugging, the next line of the script runs as
// a command line in the suspended context (dbcont, dbstep and dbquit take the
// run on); once the lines are used up, dbquit ends it.
int run_debug_lines(Block* block, uint32_t size, EngineContext** ctx, const std::string& lines, int status,
                    bool relocating) {
  static const std::string kQuit = "dbquit";
  size_t at = 0;
  bool quit_sent = false;
  while (status == kDebugSuspend || frame_pending_step_present(*ctx)) {
    std::string line;
    if (at < lines.size()) {
      size_t end = lines.find('\n', at);
      if (end == std::string::npos) end = lines.size();
      line = lines.substr(at, end - at);
      at = end + 1;
    } else if (!quit_sent) {
      line = kQuit;
      quit_sent = true;
    } else {
      break;
    }
    err_state_clear(*ctx);
    status = run_text(block, size, ctx, line, relocating);
  }
  return status;
}

// The functions that the script defines belong to the command line's library;
// its source, for the debugger's listings and stop lines, is the script.
constexpr char kCliLibraryName[] = "_cli";
const std::string* g_script = nullptr;

int script_source(EngineContext* ctx, const char* name, const char* extension, uint32_t, char* buffer,
                  int32_t capacity, int32_t* length, int32_t* first_line, uint8_t* found, uintptr_t) {
  if (!g_script || !name || std::strcmp(name, kCliLibraryName) != 0) return kFileNotFound;
  // The script is the library's source only: its help file ("hlp") is none.
  if (extension && ctx->lib_ext && std::strcmp(extension, ctx->lib_ext) != 0) return kFileNotFound;
  if (g_script->size() > size_t(capacity)) return kDataStackOverflow;
  std::memcpy(buffer, g_script->data(), g_script->size());
  *length = int32_t(g_script->size());
  *first_line = 1;
  *found = 1;
  return kOk;
}

// Marked-up help and lookfor records (fd 4) go to standard output, where a
// window program shows them in its help window.
int help_stream_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  if (fd != kFdLookfor) return kNotMyDescriptor;
  if (length > 0 && std::fwrite(bytes, 1, size_t(length), stdout) != size_t(length)) return kReadWriteError;
  return kOk;
}

BuiltinEntry g_script_rows[3];

int register_script_source(EngineContext* ctx, const std::string* script) {
  g_script = script;
  g_script_rows[0] = builtin_hook("+readlib");
  g_script_rows[0].fn = builtin_fn_from(script_source);
  g_script_rows[1] = stream_hook_row(kHookWrite, static_cast<StreamWriteHook>(help_stream_write), kNewlineLF);
  g_script_rows[2] = builtin_end_row();
  // Appended: the rows registered before keep their opcodes.
  return engine_register_builtin_table(ctx, g_script_rows, 0);
}

// The overflows of the block's areas (stacks, heap, code): a larger block
// would have room where this one had none.
bool cured_by_larger_block(int status) {
  return status == kStackOverflow || status == kDataStackOverflow || status == kVariableOverflow ||
         status == kCodeOverflow;
}

}  // namespace

int main(int argc, char** argv) {
  long level = -1;
  long megabytes = kDefaultBlockMegabytes;
  const char* expression = nullptr;
  const char* path = nullptr;
  const char* debug_lines = nullptr;
  bool relocating = false;
  bool own_linalg = false;
  bool no_gap = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-O" && i + 1 < argc) {
      if (!parse_count(argv[++i], 0, kMaxOptimisation, &level)) return usage(), kExitUsage;
    } else if (arg.size() == 3 && arg.compare(0, 2, "-O") == 0) {
      if (!parse_count(arg.c_str() + 2, 0, kMaxOptimisation, &level)) return usage(), kExitUsage;
    } else if (arg == "-m" && i + 1 < argc) {
      if (!parse_count(argv[++i], 1, kMaxBlockMegabytes, &megabytes)) return usage(), kExitUsage;
    } else if (arg == "--relocate") {
      relocating = true;
    } else if (arg == "--no-gap") {
      no_gap = true;
    } else if (arg == "-e" && i + 1 < argc) {
      expression = argv[++i];
    } else if (arg == "-d" && i + 1 < argc) {
      debug_lines = argv[++i];
    } else if (arg == "-E") {
      own_linalg = true;
    } else if (arg == "-h" || arg == "--help") {
      usage();
      return kExitOk;
    } else if (!arg.empty() && arg[0] != '-' && !path) {
      path = argv[i];
    } else {
      usage();
      return kExitUsage;
    }
  }
  if ((expression != nullptr) == (path != nullptr)) return usage(), kExitUsage;

  std::string text;
  if (expression) {
    text = expression;
  } else if (const toolfiles::ReadResult read = toolfiles::read_regular_file(path, toolfiles::kTextFileMaxBytes, &text);
             read.status != toolfiles::ReadStatus::kOk) {
    std::fprintf(stderr, "zvr: %s\n", toolfiles::read_failure(path, read, toolfiles::kTextFileMaxBytes).c_str());
    return kExitUsage;
  }

  const uint32_t size = uint32_t(megabytes) << 20;
  // calloc: the zeroed pages come from the system as they are first touched,
  // so a large block costs nothing at start-up.
  Block block(std::calloc(size / 8, 8), &std::free);
  if (!block) {
    std::fprintf(stderr, "zvr: cannot allocate a block of %u bytes\n", size);
    return kExitError;
  }
  block_advise_large_pages(block.get(), size);
  EngineContext* ctx = nullptr;
  // The graphics rows are bound as block start binds them: commands that
  // return values work here, drawing ones answer that nothing is drawn to.
  int status = rt_graphics_builtins_bind();
  if (status == kOk) status = engine_start(block.get(), size, &ctx);
  if (status == kOk && own_linalg)
    status = host_table_without_lapack() ? stdio_console_register(ctx, g_host_own_linalg) : kNotSupported;
  else if (status == kOk)
    status = stdio_console_register(ctx);
  if (status != kOk) {
    std::fprintf(stderr, "zvr: engine start-up failed with status %d\n", status);
    return kExitError;
  }
  if (level >= 0) compile_set_optimisation(ctx, int(level), 0);
  ctx->entry_gap_off = no_gap ? 1 : 0;
  // Text is written and read as UTF-8, as the host does.
  engine_set_charset(ctx, 'u');
  // The clock state lives outside the block, which may move.
  static uint64_t clock_state = 0;
  engine_set_callbacks(ctx, posix_clock_callback, &clock_state, kPosixClockStateBytes);
  posix_clock_callback(&clock_state, 0, 1);
  if (interrupt_poll_install()) engine_set_option_pair(ctx, interrupt_poll, nullptr);
  if (register_script_source(ctx, &text) != kOk) {
    std::fprintf(stderr, "zvr: engine start-up failed\n");
    return kExitError;
  }

  status = run_text(&block, size, &ctx, text, relocating);
  if (debug_lines) status = run_debug_lines(&block, size, &ctx, debug_lines, status, relocating);
  std::fflush(stdout);
  if (cured_by_larger_block(status))
    std::fprintf(stderr, "zvr: the engine's block of %ld MB is full; -m MEGABYTES gives a larger one\n", megabytes);
  return status == kOk ? kExitOk : kExitError;
}
