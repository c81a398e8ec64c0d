// md5 and sha1 of a file read through an engine descriptor, and the
// elementwise quaternion product of two 10^6-element arrays, timed through the
// built-ins on a started engine. Usage: digest_quaternion_bench FILE [reps]
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/timing.h"
#include "engine/core/calls.h"
#include "engine/core/context.h"
#include "engine/core/libraries.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "numlib/misc/digest.h"
#include "numlib/quaternion/quaternion.h"

namespace {

constexpr int32_t kBenchFd = 4000;
// The data stack is an eighth of the block: two 32 MB operands need this much.
constexpr uint32_t kBlockBytes = 1u << 30;
constexpr int64_t kQuaternionElements = 1000000;

std::FILE* g_file = nullptr;

int file_read(EngineContext*, int32_t fd, char* buf, int32_t cap, int32_t* count, uintptr_t) {
  if (fd != kBenchFd) return kNotMyDescriptor;
  const size_t n = std::fread(buf, 1, size_t(cap), g_file);
  *count = int32_t(n);
  return n == 0 ? kEndOfFile : kOk;
}

int file_control(EngineContext*, int32_t fd, uint32_t, uint32_t*, uintptr_t) {
  return fd == kBenchFd ? kOk : kNotMyDescriptor;
}

BuiltinEntry g_rows[] = {
    stream_hook_row(kHookRead, static_cast<StreamReadHook>(file_read), kReadBuffered),
    stream_hook_row(kHookControl, static_cast<StreamControlHook>(file_control), 0),
    BuiltinEntry{},
};

double time_digest(EngineContext* c, BuiltinFn fn, const char* path, int reps) {
  return bench::best_seconds(
      [&] {
        if (g_file) std::fclose(g_file);
        g_file = std::fopen(path, "rb");
        stk_push_real(c, kBenchFd);
      },
      [&] {
        const int s = fn(c, 1, 1, 0);
        if (s != kOk) { std::fprintf(stderr, "status %d\n", s); std::abort(); }
        stk_drop(c);
      },
      reps);
}

// Two random quaternion arrays; q1 .* q2 through the "times" row.
double time_product(EngineContext* c, int reps) {
  uint32_t dims[2] = {1, uint32_t(kQuaternionElements)};
  return bench::best_seconds(
      [&] {
        for (int k = 0; k < 2; ++k) {
          QuaternionView q;
          const int s = quaternion_new(c, 2, dims, &q);
          if (s != kOk) {
            std::fprintf(stderr, "quaternion_new: status %d (data stack %u words)\n", s, c->data_capacity);
            std::abort();
          }
          for (int j = 0; j < kQuaternionParts; ++j)
            for (int64_t i = 0; i < q.count; ++i) q.c[j][i] = double((i * 7 + j * 13 + k) % 101) / 50.0 - 1;
        }
      },
      [&] {
        if (bi_quaternion_product(c, 2, 1, 't') != kOk) std::abort();
        stk_drop(c);
      },
      reps);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: digest_quaternion_bench FILE [reps]\n");
    return 2;
  }
  const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlockBytes / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlockBytes, &c) != kOk) return 1;
  if (engine_register_builtin_table(c, g_rows, 0) != kOk) return 1;
  std::printf("md5 of %s: %.3f s\n", argv[1], time_digest(c, bi_md5, argv[1], reps));
  std::printf("sha1 of %s: %.3f s\n", argv[1], time_digest(c, bi_sha1, argv[1], reps));
  // The class id the engine gives the section's rows, as when they run as methods.
  int32_t index = 0;
  const BuiltinEntry* row = lib_find_builtin(c, "q2mat", nullptr, 0, &index);
  for (int32_t t = 0; row && t < c->table_count; ++t)
    if (row >= table_refs(c)[t].table && row < table_refs(c)[t].table + table_refs(c)[t].rows)
      c->class_id = builtin_class_id(t, row->class_word);
  std::printf("quaternion times, %lld elements: %.4f s\n", static_cast<long long>(kQuaternionElements),
              time_product(c, reps));
  return 0;
}
