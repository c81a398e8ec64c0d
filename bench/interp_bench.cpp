// Times the interpreter loop on scalar code: a while loop and a for loop
// over a range summing real doubles (the fast paths), and the same for loop
// with a complex sum (its loads, stores and additions through the general
// handlers). Reports nanoseconds per loop iteration, with no task and again
// with one sleeping task, when the loop counts its steps and reads the clock
// once a lap of them.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/value_stack.h"
#include "engine/lib/engine_start.h"
#include "host/builtin_table_host.h"
#include "host/posix_clock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kBlockBytes = 1 << 22;
constexpr int kIterations = 10000000;

std::vector<uint16_t> literal(double v) {
  uint16_t w[4];
  std::memcpy(w, &v, sizeof v);
  return {kOpPushDouble, w[0], w[1], w[2], w[3]};
}

// Appends a jump-style instruction whose operand reaches `target` (a word index).
void jump_to(std::vector<uint16_t>* code, uint16_t op, size_t target) {
  code->push_back(op);
  code->push_back(uint16_t(int16_t(int64_t(target) - int64_t(code->size() + 1))));
}

double time_run(EngineContext* c, std::vector<uint16_t> code) {
  code.push_back(kOpHalt);
  if (call_setup_frame(c, code.data(), int32_t(code.size()), 0, 0, 0, 0, 0) != kOk) return -1;
  const auto t0 = Clock::now();
  int status = interp_run(c, 0);
  while (status == kSliceEnded) status = interp_run(c, 0);
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return status == kOk ? s : -1;
}

}  // namespace

int main() {
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlockBytes / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlockBytes, &c) != kOk) return 1;

  // i = 0; s = 0; while i < n: s = s + i; i = i + 1
  std::vector<uint16_t> w = {kOpPushZero, kOpStoreLocal, 1, kOpPushZero, kOpStoreLocal, 2};
  const size_t head = w.size();
  w.insert(w.end(), {kOpLoadLocal, 1});
  for (uint16_t x : literal(kIterations)) w.push_back(x);
  w.push_back(kOpLt);
  const size_t exit_at = w.size();
  w.insert(w.end(), {kOpJumpIfFalse, 0});
  w.insert(w.end(), {kOpLoadLocal, 2, kOpLoadLocal, 1, kOpPlus, kOpStoreLocal, 2, kOpIncLocal, 1});
  jump_to(&w, kOpJump, head);
  w[exit_at + 1] = uint16_t(w.size() - (exit_at + 2));

  // s = 0; for i = 1:n: s = s + i
  auto for_loop = [](std::vector<uint16_t> init) {
    std::vector<uint16_t> f = init;
    f.insert(f.end(), {kOpStoreLocal, 2, kOpPushOne});
    for (uint16_t x : literal(kIterations)) f.push_back(x);
    f.insert(f.end(), {kOpRangePack, 2});
    const size_t top = f.size();
    f.insert(f.end(), {kOpForRangeNext, 0});
    f.insert(f.end(), {kOpStoreLocal, 1, kOpLoadLocal, 2, kOpLoadLocal, 1, kOpPlus, kOpStoreLocal, 2});
    jump_to(&f, kOpJump, top);
    f[top + 1] = uint16_t(f.size() - (top + 2));
    f.push_back(kOpPopItem);
    return f;
  };
  const std::vector<uint16_t> scalar_for = for_loop({kOpPushZero});
  const std::vector<uint16_t> complex_for = for_loop({kOpI});

  const double t_while = time_run(c, w);
  const double t_for = time_run(c, scalar_for);
  const double t_complex = time_run(c, complex_for);
  std::printf("while loop, scalars:   %6.2f ns/iteration\n", 1e9 * t_while / kIterations);
  std::printf("for loop, scalars:     %6.2f ns/iteration\n", 1e9 * t_for / kIterations);
  std::printf("for loop, complex sum: %6.2f ns/iteration\n", 1e9 * t_complex / kIterations);

  // One task that sleeps through the runs: every instruction counts a step of
  // the slice clock's lap, and the slice accounting passes the sleeper over.
  static uint64_t clock_state = 0;
  if (engine_register_builtin_table(c, g_builtin_table_host, 1) != kOk) return 1;
  engine_set_callbacks(c, posix_clock_callback, &clock_state, kPosixClockStateBytes);
  posix_clock_callback(&clock_state, 0, 1);
  const char kSleeper[] = "function sleeper()\n  threadsleep(1e6);\nendfunction\nthreadnew(@sleeper);\n";
  int status = exec_command_line(c, kSleeper, int32_t(sizeof kSleeper - 1), 0);
  for (int i = 0; i < 10 && (status == kSliceEnded || status == kOk); ++i) status = interp_run(c, 0);
  if (c->task_first == 0) return 1;
  const double s_while = time_run(c, w);
  const double s_for = time_run(c, scalar_for);
  std::printf("with one sleeping task:\n");
  std::printf("while loop, scalars:   %6.2f ns/iteration (%.2fx)\n", 1e9 * s_while / kIterations, s_while / t_while);
  std::printf("for loop, scalars:     %6.2f ns/iteration (%.2fx)\n", 1e9 * s_for / kIterations, s_for / t_for);
  return 0;
}
