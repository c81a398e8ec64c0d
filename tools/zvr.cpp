// zvr: runs a ZVR file (or the text of -e) as top-level code in a fresh
// engine, the test tool of the script suite. Descriptor 1 goes to standard
// output and 2 to standard error; the exit status is 0, or 1 after an error
// that nothing caught (its report is on standard error).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/context.h"
#include "engine/core/errors.h"
#include "engine/core/interp.h"
#include "engine/core/newline.h"
#include "engine/core/snapshot.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/lib/engine_start.h"
#include "host/builtin_table_host.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kDefaultBlockMegabytes = 32;
// Offsets inside the block are 32-bit and the block is addressed in 8-byte words.
constexpr uint32_t kMaxBlockMegabytes = 2047;
constexpr int kMaxOptimisation = 4;

// fd 1 and 3 to standard output, fd 2 to standard error; other descriptors
// belong to whatever hook comes next.
FILE* console_stream(int32_t fd) {
  if (fd == kFdStdout || fd == kFdConsole3) return stdout;
  if (fd == kFdStderr) return stderr;
  return nullptr;
}

int console_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  FILE* f = console_stream(fd);
  if (!f) return kNotMyDescriptor;
  // Standard output is buffered: an error report must still follow the output before it.
  if (f == stderr) std::fflush(stdout);
  if (length > 0 && std::fwrite(bytes, 1, size_t(length), f) != size_t(length)) return kReadWriteError;
  return kOk;
}

int console_buffering(EngineContext*, int32_t fd, int32_t on, uintptr_t) {
  FILE* f = console_stream(fd);
  if (!f) return kNotMyDescriptor;
  if (!on) std::fflush(f);
  return kOk;
}

// The console: fd 1 to 3 on this process's streams. It is registered behind
// the engine's table, so the engine's rows keep the indices that engine_start
// gives them, and its hooks are the only "+write" rows.
BuiltinEntry g_console_table[] = {
    stream_hook_row("+write", static_cast<StreamWriteHook>(console_write), kNewlineLF),
    stream_hook_row("+iocbuffering", static_cast<StreamBufferingHook>(console_buffering), 0),
    BuiltinEntry{},
};

// The host's "!lapack" section (marker to the next marker) as a table of its
// own, registered in front of the engine's rows as the program does with
// the host's whole table; the rest of that table is the host's business.
constexpr int kSectionRowsMax = 64;
BuiltinEntry g_lapack_section[kSectionRowsMax + 1];

bool copy_lapack_section() {
  const BuiltinEntry* t = g_builtin_table_host;
  int start = 0;
  while (t[start].name[0] && std::strcmp(t[start].name, "!lapack") != 0) ++start;
  if (!t[start].name[0]) return false;
  int k = 0;
  do {
    g_lapack_section[k] = t[start + k];
    ++k;
  } while (k < kSectionRowsMax && t[start + k].name[0] && t[start + k].name[0] != '@' &&
           t[start + k].name[0] != '!');
  g_lapack_section[k] = BuiltinEntry{};
  return true;
}

bool read_file(const char* path, std::string* text) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char buf[1 << 16];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

void usage() {
  std::fprintf(stderr,
               "usage: zvr [-O level] [-m megabytes] [-L] [--relocate] FILE\n"
               "       zvr [-O level] [-m megabytes] [-L] [--relocate] -e TEXT\n"
               "  -L          the LAPACK rows stand in front of the engine's own\n"
               "  --relocate  moves the engine's block after every slice (a test mode)\n");
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
// slice, and the old copy is poisoned before it is freed, so that anything
// still pointing into it reads garbage (and the sanitizers see a use after
// free). Only the block itself may hold state that survives a slice.
constexpr unsigned char kPoison = 0xDD;

int relocate(Block* block, uint32_t size, EngineContext** ctx) {
  Block moved(std::calloc(size / 8, 8), &std::free);
  if (!moved) return kVariableOverflow;
  std::memcpy(moved.get(), block->get(), size);
  std::memset(block->get(), kPoison, size);
  const ptrdiff_t at = reinterpret_cast<uint8_t*>(*ctx) - static_cast<uint8_t*>(block->get());
  *block = std::move(moved);
  *ctx = reinterpret_cast<EngineContext*>(static_cast<uint8_t*>(block->get()) + at);
  return engine_offsets_to_pointers(*ctx, 0, 0) == kOk ? kOk : kIllegalError;
}

// Compiles and runs the text to its end. The report of an error that nothing
// caught is already on fd 2 when the status comes back. With relocate set,
// the code runs in slices (every backward jump hands control back) and the
// block moves between them.
int run_text(Block* block, uint32_t size, EngineContext** ctx, const std::string& text, bool relocating) {
  if (text.size() > size_t(INT32_MAX)) return kObjectTooLarge;
  // The executor prints a compilation error itself.
  int status = exec_command_line(*ctx, text.data(), int32_t(text.size()), 0);
  // 500 hands control back between slices: go on until the code ends.
  while (status == kSliceEnded) {
    if (relocating) TN_TRY(relocate(block, size, ctx));
    status = interp_run(*ctx, relocating ? 1 : 0);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  long level = -1;
  long megabytes = kDefaultBlockMegabytes;
  const char* expression = nullptr;
  const char* path = nullptr;
  bool relocating = false;
  bool lapack_first = false;
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
    } else if (arg == "-e" && i + 1 < argc) {
      expression = argv[++i];
    } else if (arg == "-L") {
      lapack_first = true;
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
  } else if (!read_file(path, &text)) {
    std::fprintf(stderr, "zvr: cannot read %s: %s\n", path, std::strerror(errno));
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
  EngineContext* ctx = nullptr;
  int status = engine_start(block.get(), size, &ctx);
  if (status == kOk) status = engine_register_builtin_table(ctx, g_console_table, 0);
  if (status == kOk && lapack_first)
    status = copy_lapack_section() ? engine_register_builtin_table(ctx, g_lapack_section, 1)
                                   : kNotSupported;
  if (status != kOk) {
    std::fprintf(stderr, "zvr: engine start-up failed with status %d\n", status);
    return kExitError;
  }
  if (level >= 0) compile_set_optimisation(ctx, int(level), 0);
  // Text is written and read as UTF-8, as the host does.
  engine_set_charset(ctx, 'u');

  status = run_text(&block, size, &ctx, text, relocating);
  std::fflush(stdout);
  return status == kOk ? kExitOk : kExitError;
}
