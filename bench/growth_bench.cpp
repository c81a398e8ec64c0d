// Times the paths where a value or the variable heap grows step by step:
// appending 100,000 elements with `x(k) = k` and with `x(end + 1) = k` beside
// the same loop on a preallocated vector, appending to a cell array with
// `c{k} = k`, and a recursion 16,000 calls deep with and without a struct
// local. Each kernel runs in a fresh engine; runs are interleaved and the
// median of each, less the median of an empty program, is reported.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/lib/engine_start.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBlockBytes = 512u << 20;  // as zvr: deep recursion needs the room
constexpr int kDefaultRuns = 7;

struct Kernel {
  const char* name;
  std::string text;
};

const char kDeep[] =
    "function r = deep(n)\n"
    "  s.v = n;\n"
    "  if n == 0\n    r = 0;\n  else\n    r = deep(n - 1) + s.v;\n  end\n"
    "endfunction\n";
const char kDeepPlain[] =
    "function r = plain(n)\n"
    "  v = n;\n"
    "  if n == 0\n    r = 0;\n  else\n    r = plain(n - 1) + v;\n  end\n"
    "endfunction\n";

const std::vector<Kernel>& kernels() {
  static const std::vector<Kernel> list = {
      {"empty program", "x = 1;\n"},
      {"x(k) = k, 100,000", "x = [];\nfor k = 1:100000\n  x(k) = k;\nend\n"},
      {"x(end + 1) = k, 100,000", "x = [];\nfor k = 1:100000\n  x(end + 1) = k;\nend\n"},
      {"x(k) = k preallocated", "x = zeros(1, 100000);\nfor k = 1:100000\n  x(k) = k;\nend\n"},
      {"c{k} = k, 20,000", "c = {};\nfor k = 1:20000\n  c{k} = k;\nend\n"},
      {"recursion 16,000, struct local", std::string(kDeep) + "r = deep(16000);\n"},
      {"recursion 16,000, plain local", std::string(kDeepPlain) + "r = plain(16000);\n"},
  };
  return list;
}

// Seconds of one run of the text in a fresh engine (start-up not timed), or
// a negative number when it fails.
double run_once(const std::string& text) {
  std::unique_ptr<void, decltype(&std::free)> block(std::calloc(kBlockBytes / 8, 8), &std::free);
  EngineContext* c = nullptr;
  if (!block || engine_start(block.get(), kBlockBytes, &c) != kOk) return -1;
  const auto t0 = Clock::now();
  int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  while (status == kSliceEnded) status = interp_run(c, 0);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return status == kOk ? s : -1;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRuns;
  const std::vector<Kernel>& list = kernels();
  std::vector<std::vector<double>> times(list.size());
  for (int r = 0; r < runs; ++r)
    for (size_t k = 0; k < list.size(); ++k) {
      const double s = run_once(list[k].text);
      if (s < 0) {
        std::fprintf(stderr, "growth_bench: %s failed\n", list[k].name);
        return 1;
      }
      times[k].push_back(s);
    }
  const double empty = median(times[0]);
  std::printf("%-34s %10s\n", "kernel (median less empty program)", "seconds");
  for (size_t k = 1; k < list.size(); ++k)
    std::printf("%-34s %10.4f\n", list[k].name, median(times[k]) - empty);
  return 0;
}
