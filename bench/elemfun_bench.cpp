// Times the elementary functions in place on a real double array of a
// million elements on the value stack against the same standard-library loop
// over a plain buffer, and reports both and their ratio (the handlers should
// cost little beyond the loop itself).
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/timing.h"
#include "engine/core/opcodes.h"
#include "engine/core/value_stack.h"
#include "engine/lib/elemfun.h"
#include "engine/lib/engine_start.h"

namespace {

constexpr int32_t kCount = 1000000;
constexpr int kReps = 7;

template <class F>
double best_seconds(F&& f) {
  return bench::best_seconds(f, kReps);
}

struct Case {
  const char* name;
  uint32_t opcode;
  double (*plain)(double);
};

}  // namespace

int main() {
  constexpr uint32_t kBlock = 64u << 20;
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlock / 8]());
  EngineContext* ctx = nullptr;
  if (engine_start(block.get(), kBlock, &ctx) != kOk) return 1;
  std::vector<double> source(kCount), buffer(kCount);
  // Inside every domain, so that no array turns complex.
  for (int32_t i = 0; i < kCount; ++i) source[i] = 0.0005 + (i % 1000) * 0.000999;

  const Case cases[] = {
      {"abs", kOpAbs, [](double x) { return std::fabs(x); }},
      {"floor", kOpFloor, [](double x) { return std::floor(x); }},
      {"sqrt", kOpSqrt, [](double x) { return std::sqrt(x); }},
      {"exp", kOpExp, [](double x) { return std::exp(x); }},
      {"log", kOpLog, [](double x) { return std::log(x); }},
      {"sin", kOpSin, [](double x) { return std::sin(x); }},
      {"tanh", kOpTanh, [](double x) { return std::tanh(x); }},
      {"acos", kOpAcos, [](double x) { return std::acos(x); }},
  };
  std::printf("%-8s %12s %12s %8s\n", "function", "engine ms", "plain ms", "ratio");
  for (const Case& c : cases) {
    double* re;
    if (stk_push_matrix(ctx, 1, kCount, &re, nullptr) != kOk) return 1;
    double engine = best_seconds([&] {
      std::memcpy(re, source.data(), sizeof(double) * kCount);
      elemfun_run_opcode(ctx, c.opcode);
    });
    stk_drop(ctx);
    double plain = best_seconds([&] {
      std::memcpy(buffer.data(), source.data(), sizeof(double) * kCount);
      for (double& x : buffer) x = c.plain(x);
    });
    std::printf("%-8s %12.3f %12.3f %8.2f\n", c.name, engine * 1e3, plain * 1e3, engine / plain);
  }
  return 0;
}
