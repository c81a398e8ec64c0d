// Times the ODE solver and the special functions from ZVR code, as users run
// them: ode45 on a 10-state linear system at fixed steps (the time per step
// must not grow with the number of steps, since the output table doubles its
// capacity instead of moving at every step), Van der Pol at the tolerances
// of the scipy comparison, and erf, gamma and the normal cdf on 10^6 values.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "bench/timing.h"
#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/status.h"
#include "engine/lib/engine_start.h"

namespace {

constexpr uint32_t kBlock = 1024u << 20;
constexpr int kReps = 3;

int run(EngineContext* c, const std::string& text) {
  const int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
  if (status != kSliceEnded) return status;
  return interp_run(c, 0);
}

// Seconds of the best of kReps runs of the text (after an untimed setup).
double time_text(EngineContext* c, const std::string& setup, const std::string& text) {
  if (run(c, setup) != kOk) return -1;
  bool failed = false;
  const double s = bench::best_seconds([&] { failed = failed || run(c, text) != kOk; }, kReps);
  return failed ? -1 : s;
}

}  // namespace

int main() {
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlock / 8]());
  EngineContext* c = nullptr;
  if (engine_start(block.get(), kBlock, &c) != kOk) return 1;
  // A stable 10-state linear system; a fixed step h is accepted every time.
  const std::string system =
      "A = -eye(10) * 0.5 + diag(0.1 * ones(1, 9), 1) - diag(0.1 * ones(1, 9), -1); "
      "f = @(t, y) A * y; y0 = ones(10, 1);";
  std::printf("%-34s %10s %12s\n", "case", "seconds", "us per step");
  double per_step[2] = {0, 0};
  const int steps[2] = {10000, 100000};
  for (int k = 0; k < 2; ++k) {
    const double h = 0.001;
    const std::string opts = "o = odeset('InitialStep', " + std::to_string(h) + ", 'MaxStep', " +
                             std::to_string(h) + ", 'RelTol', 1e-2, 'Refine', 1);";
    const std::string text = "[t, y] = ode45(f, [0 " + std::to_string(steps[k] * h) + "], y0, o);";
    const double s = time_text(c, system + opts, text);
    per_step[k] = s / steps[k] * 1e6;
    std::printf("ode45 linear, %6d steps           %10.4f %12.3f\n", steps[k], s, per_step[k]);
  }
  std::printf("growth of the time per step: %.1f %%\n", (per_step[1] / per_step[0] - 1) * 100);
  const std::string vdp =
      "vdp = @(t, y) [y(2); (1 - y(1)^2) * y(2) - y(1)]; "
      "o = odeset('RelTol', 1e-6, 'AbsTol', 1e-9);";
  double s = time_text(c, vdp, "[t, y] = ode45(vdp, [0 20], [2; 0], o);");
  std::printf("ode45 Van der Pol [0, 20]          %10.4f\n", s);
  // The same run through the event-capable solver (a timed event beyond the span).
  s = time_text(c, vdp, "[t, y] = ode45(vdp, [0 20], [2; 0], odeset(o, 'EventTime', [100 50]));");
  std::printf("ode45 Van der Pol, event solver    %10.4f\n", s);
  const std::string x = "x = (1:1000000) / 1e5 - 5;";
  s = time_text(c, x, "y = erf(x);");
  std::printf("erf, 10^6 values                   %10.4f\n", s);
  s = time_text(c, x + " x = x / 2 + 3;", "y = gamma(x);");
  std::printf("gamma, 10^6 values                 %10.4f\n", s);
  s = time_text(c, x, "y = cdf('norm', x);");
  std::printf("cdf('norm'), 10^6 values           %10.4f\n", s);
  return 0;
}
