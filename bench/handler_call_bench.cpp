// The handler call beside the direct call of the same function: one
// variable in, one out, a trivial function. The handler call adds the busy
// guard, the derived-variable check, the value-store reads and writes and
// the marking of dependents; the target is within 3 times the direct call.
// Run it with OPENBLAS_NUM_THREADS=1: idle BLAS threads that spin on
// sched_yield would share the core and blur both figures.
#include <cstdio>
#include <memory>

#include "bench/timing.h"
#include "engine/core/calls.h"
#include "engine/core/value_stack.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "tools/imagetools/image_builder.h"

int main() {
  constexpr uint32_t kBytes = 8u << 20;
  constexpr int kCalls = 20000;
  std::unique_ptr<double[]> buffer(new double[kBytes / 8]());
  RuntimeBlock* block = nullptr;
  tnbuild::ToolHost host;
  if (tnbuild::start_block(&block, buffer.get(), kBytes, &host) != 0) return 1;
  tnbuild::Builder builder(block, {{"demo", "function y = f(x)\n y = x;\nendfunction\n"
                                            "function x = one()\n x = 1;\nendfunction\n"}});
  if (!builder.build("instance demo\nvar x\nvar y\ninit x = one()\nresize y = f(x)\n")) {
    std::fprintf(stderr, "%s\n", builder.error.c_str());
    return 1;
  }
  int32_t record = 0;
  if (rec_find_tag(block, 0, &record, kTagResize) != 0) return 1;
  const int32_t slot = rec_instance_slot(block, 0);
  int32_t x_code = 0;
  int failures = 0;
  const double handler = bench::best_seconds(
      [&] {
        for (int k = 0; k < kCalls; ++k) failures += handler_call_plain(&block, 0, record, -1, false) != 0;
      },
      15);
  (void)x_code;
  EngineContext* c = rt_engine(block);
  const double direct = bench::best_seconds(
      [&] {
        for (int k = 0; k < kCalls; ++k) {
          failures += stk_push_real(c, 1.0) != 0;
          failures += interp_call(c, "f", slot, 1, 1, 0, 0) != 0;
          stk_drop(c);
        }
      },
      15);
  std::printf("handler call %.3f us, direct call %.3f us, ratio %.2f%s\n", handler / kCalls * 1e6,
              direct / kCalls * 1e6, handler / direct, failures ? " (failures!)" : "");
  return failures ? 1 : 0;
}
