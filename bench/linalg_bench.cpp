// Dense linear algebra through the built-ins, timed from ZVR command lines in
// an engine whose LAPACK rows stand in front (as in the program) or not (the
// engine's own rows). Prints one line per operation: name, n, milliseconds.
// Usage: linalg_bench SECTION(lapack|own) N [repetitions]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/timing.h"
#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/lib/engine_start.h"
#include "host/builtin_table_host.h"

namespace {

constexpr uint32_t kBlockBytes = 1024u << 20;
BuiltinEntry g_section[32];

void register_lapack(EngineContext* c) {
  const BuiltinEntry* t = g_builtin_table_host;
  int start = 0;
  while (std::strcmp(t[start].name, "!lapack") != 0) ++start;
  int k = 0;
  do g_section[k] = t[start + k], ++k;
  while (t[start + k].name[0] && t[start + k].name[0] != '@' && t[start + k].name[0] != '!');
  engine_register_builtin_table(c, g_section, 1);
}

int run(EngineContext* c, const std::string& text) {
  int st = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  while (st == kSliceEnded) st = interp_run(c, 0);
  return st;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: linalg_bench lapack|own N [repetitions]\n");
    return 2;
  }
  const bool lapack = std::strcmp(argv[1], "lapack") == 0;
  const int n = std::atoi(argv[2]);
  const int reps = argc > 3 ? std::atoi(argv[3]) : 3;
  std::unique_ptr<void, decltype(&std::free)> block(std::calloc(kBlockBytes / 8, 8), &std::free);
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlockBytes, &c) != kOk) return 1;
  if (lapack) register_lapack(c);
  const std::string sz = std::to_string(n);
  if (run(c, "rand('seed', 1); A = randn(" + sz + "); b = randn(" + sz + ", 1);\n") != kOk) return 1;
  const char* ops[][2] = {
      {"A\\b", "x = A \\ b;\n"},       {"inv", "x = inv(A);\n"},
      {"det", "x = det(A);\n"},        {"svd values", "x = svd(A);\n"},
      {"svd U,S,V", "[U, S, V] = svd(A);\n"}, {"eig values", "x = eig(A);\n"},
      {"eig vectors", "[V, D] = eig(A);\n"}, {"schur", "[U, T] = schur(A);\n"},
  };
  for (const auto& op : ops) {
    int st = kOk;
    const double s = bench::best_seconds([&] { st = run(c, op[1]); }, reps);
    if (st != kOk) std::printf("%-12s %4d  status %d\n", op[0], n, st);
    else std::printf("%-12s %4d  %9.2f ms\n", op[0], n, s * 1e3);
  }
  return 0;
}
