// Times the paths where a value or the variable heap grows step by step:
// appending 100,000 elements with `x(k) = k` and with `x(end + 1) = k` beside
// the same loop on a preallocated vector, appending to a cell array with
// `c{k} = k`, and a recursion 16,000 calls deep with and without a struct
// local. Each kernel runs in a fresh engine; runs are interleaved and the
// median of each, less the median of an empty program, is reported.
// Then the paths that must grow no faster than their data: each is timed at
// n, 4n and 16n, and the growth exponent (the slope of log time over log n)
// is printed beside the limit of 1.15; the exit status is 2 when one is over.
// Cell elements are read and stored forward, backward and in a scattered
// order: p = mod((1:n) * 40503, n) + 1, a permutation (40503 is prime to
// every n here) whose steps jump across the container as a random one's do,
// built in linear time, so that no sort's n log n hides in the figures.
// Stores of cell entries whose size changes (forward, backward, by braces
// and by parentheses), deleting the last element and appending computed
// items (a formatted text, a product, a call, a column, two items at once)
// must stay linear too; bench/growth_octave.sh times those beside Octave,
// with the deletions at the front.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/lib/engine_start.h"
#include "host/block_pages.h"

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

// A path timed at sizes n, 4n and 16n (see with_size).
struct GrowthPath {
  const char* name;
  const char* text;
  int n;
};

constexpr double kGrowthLimit = 1.15;
constexpr int kGrowthSteps = 3;
constexpr int kGrowthFactor = 4;
constexpr int kGrowthRuns = 3;  // at most, at each size

const char kReader[] = "function r = first(x)\n  r = x(1);\nendfunction\n";

const std::vector<GrowthPath>& growth_paths() {
  static const std::vector<GrowthPath> list = {
      {"c{k} read, n cells", "c = num2cell(1:N);\ns = 0;\nfor k = 1:N\n  s = s + c{k};\nend\n", 6250},
      {"c{k} read backward, n cells", "c = num2cell(1:N);\ns = 0;\nfor k = N:-1:1\n  s = s + c{k};\nend\n", 6250},
      {"c{p(k)} read, scattered order",
       "c = num2cell(1:N);\np = mod((1:N) * 40503, N) + 1;\ns = 0;\nfor k = 1:N\n  s = s + c{p(k)};\nend\n", 6250},
      {"c(p(k)) read, scattered order",
       "c = num2cell(1:N);\np = mod((1:N) * 40503, N) + 1;\ns = 0;\nfor k = 1:N\n  d = c(p(k));\n  s = s + d{1};\nend\n",
       6250},
      {"c{k} = -k backward, n cells", "c = num2cell(1:N);\nfor k = N:-1:1\n  c{k} = -k;\nend\n", 6250},
      {"c{p(k)} = -k, scattered order",
       "c = num2cell(1:N);\np = mod((1:N) * 40503, N) + 1;\nfor k = 1:N\n  c{p(k)} = -k;\nend\n", 6250},
      {"l{p(k)} list read, scattered",
       "l = {};\nfor k = 1:N\n  l{end + 1} = k;\nend\np = mod((1:N) * 40503, N) + 1;\ns = 0;\n"
       "for k = 1:N\n  s = s + l{p(k)};\nend\n",
       6250},
      {"s.c{p(k)} read, scattered order",
       "s.c = num2cell(1:N);\np = mod((1:N) * 40503, N) + 1;\nt = 0;\nfor k = 1:N\n  t = t + s.c{p(k)};\nend\n", 6250},
      {"c{end + 1} = k, n appends", "c = {};\nfor k = 1:N\n  c{end + 1} = k;\nend\n", 6250},
      {"c{k} = k, n stores into cell(1, 0)", "c = cell(1, 0);\nfor k = 1:N\n  c{k} = k;\nend\n", 6250},
      {"a{k} * b{k}, n cells each", "a = num2cell(1:N);\nb = a;\ns = 0;\nfor k = 1:N\n  s = s + a{k} * b{k};\nend\n",
       6250},
      {"s.c{end + 1} = k, n appends", "s.c = {};\nfor k = 1:N\n  s.c{end + 1} = k;\nend\n", 6250},
      {"numel(c), n calls, n cells", "c = num2cell(1:N);\ns = 0;\nfor k = 1:N\n  s = s + numel(c);\nend\n", 6250},
      {"numel(x), n calls, n elements", "x = zeros(1, N);\ns = 0;\nfor k = 1:N\n  s = s + numel(x);\nend\n", 2000},
      {"size(x), n calls, n elements", "x = zeros(1, N);\nfor k = 1:N\n  s = size(x);\nend\n", 2000},
      {"class(x), n calls, n elements", "x = zeros(1, N);\nfor k = 1:N\n  s = class(x);\nend\n", 2000},
      {"f(x) reads x(1), n calls", "x = zeros(1, N);\ns = 0;\nfor k = 1:N\n  s = s + first(x);\nend\n", 2000},
      {"s = [s 'x'], n appends", "s = '';\nfor k = 1:N\n  s = [s 'x'];\nend\n", 20000},
      {"repmat(row, 16, 4), n elements", "x = 1:N;\nfor k = 1:20\n  y = repmat(x, 16, 4);\nend\n", 4096},
      {"transpose, n elements", "A = reshape(1:N, 512, N / 512);\nfor k = 1:10\n  B = A.';\nend\n", 65536},
      {"x = reshape(x, ...), n elements",
       "x = zeros(1, N);\nfor k = 1:200\n  x = reshape(x, Q, 4);\n  x = reshape(x, 1, N);\nend\n", 16384},
      {"c{k} = k into cell(1, n)", "c = cell(1, N);\nfor k = 1:N\n  c{k} = k;\nend\n", 10000},
      {"c(k) = {k} into cell(1, n)", "c = cell(1, N);\nfor k = 1:N\n  c(k) = {k};\nend\n", 10000},
      {"c{k} = [k k] over num2cell(1:n)", "c = num2cell(1:N);\nfor k = 1:N\n  c{k} = [k k];\nend\n", 10000},
      {"c{k} = k backward", "c = cell(1, N);\nfor k = N:-1:1\n  c{k} = k;\nend\n", 10000},
      {"c{k} = 'abc' into cell(1, n)", "c = cell(1, N);\nfor k = 1:N\n  c{k} = 'abc';\nend\n", 10000},
      {"x(end) = [], n times", "x = 1:N;\nfor k = 1:N\n  x(end) = [];\nend\n", 10000},
      {"s = [s sprintf('%d,', k)], n", "s = '';\nfor k = 1:N\n  s = [s sprintf('%d,', k)];\nend\n", 10000},
      {"x = [x k * 2], n appends", "x = [];\nfor k = 1:N\n  x = [x k * 2];\nend\n", 10000},
      {"x = [x abs(k)], n appends", "x = [];\nfor k = 1:N\n  x = [x abs(k)];\nend\n", 10000},
      {"x = [x; abs(k)], n appends", "x = [];\nfor k = 1:N\n  x = [x; abs(k)];\nend\n", 10000},
      {"x = [x k + 1 k + 2], n appends", "x = [];\nfor k = 1:N\n  x = [x k + 1 k + 2];\nend\n", 10000},
  };
  return list;
}

// The text with every "N" replaced by n and every "Q" by n / 4, as numbers
// written out (sizes given as constants, the way users write them).
std::string with_size(const char* text, int n) {
  std::string out;
  for (const char* p = text; *p; ++p)
    out += *p == 'N' ? std::to_string(n) : *p == 'Q' ? std::to_string(n / 4) : std::string(1, *p);
  return std::string(kReader) + out;
}

// Seconds of one run of the text in a fresh engine (start-up not timed), or
// a negative number when it fails.
double run_once(const std::string& text) {
  std::unique_ptr<void, decltype(&std::free)> block(std::calloc(kBlockBytes / 8, 8), &std::free);
  EngineContext* c = nullptr;
  block_advise_large_pages(block.get(), kBlockBytes);  // as zvr's block
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

// Usage: growth_bench [runs] [part of a path's name]: with a name, only the
// empty program and the paths whose names hold it are run.
int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRuns;
  const char* only = argc > 2 ? argv[2] : nullptr;
  const std::vector<Kernel>& list = kernels();
  const size_t kernel_count = only ? 1 : list.size();
  std::vector<std::vector<double>> times(list.size());
  for (int r = 0; r < runs; ++r)
    for (size_t k = 0; k < kernel_count; ++k) {
      const double s = run_once(list[k].text);
      if (s < 0) {
        std::fprintf(stderr, "growth_bench: %s failed\n", list[k].name);
        return 1;
      }
      times[k].push_back(s);
    }
  const double empty = median(times[0]);
  std::printf("%-34s %10s\n", "kernel (median less empty program)", "seconds");
  for (size_t k = 1; k < kernel_count; ++k)
    std::printf("%-34s %10.4f\n", list[k].name, median(times[k]) - empty);

  int status = 0;
  std::printf("\n%-32s %9s %9s %9s %9s\n", "path (seconds at n, 4n, 16n)", "n", "4n", "16n", "exponent");
  for (const GrowthPath& g : growth_paths()) {
    if (only && !std::strstr(g.name, only)) continue;
    double t[kGrowthSteps];
    int n = g.n;
    for (int step = 0; step < kGrowthSteps; ++step, n *= kGrowthFactor) {
      const std::string text = with_size(g.text, n);
      std::vector<double> v;
      for (int r = 0; r < std::min(runs, kGrowthRuns); ++r) v.push_back(run_once(text));
      if (*std::min_element(v.begin(), v.end()) < 0) {
        std::fprintf(stderr, "growth_bench: %s failed at %d\n", g.name, n);
        return 1;
      }
      t[step] = std::max(median(v) - empty, 1e-6);
    }
    // Least-squares slope through the three points, equally spaced in log n.
    const double e = (std::log(t[2]) - std::log(t[0])) / (2 * std::log(double(kGrowthFactor)));
    const bool over = e > kGrowthLimit;
    if (over) status = 2;
    std::printf("%-32s %9.4f %9.4f %9.4f %9.2f%s\n", g.name, t[0], t[1], t[2], e, over ? "  OVER" : "");
  }
  return status;
}
