// Clock and break poll for the engine. The slot is a plain double in the
// host's memory (the engine's clock slots are 8 bytes each); reading and
// writing it goes through memcpy, since the slot need not be aligned.
#include "runtime/host_clock.h"

#include <cstring>
#include <ctime>

namespace {

constexpr double kNanosecond = 1e-9;

// The clock's reading in seconds; false when it cannot be read.
bool read_clock(clockid_t id, double* seconds) {
  timespec ts{};
  if (clock_gettime(id, &ts) != 0) return false;
  *seconds = double(ts.tv_sec) + double(ts.tv_nsec) * kNanosecond;
  return true;
}

}  // namespace

double cpu_time_callback(void* slot, int process_time, int reset) {
  double now = 0.0, start = 0.0;
  if (!slot || !read_clock(process_time ? CLOCK_PROCESS_CPUTIME_ID : CLOCK_MONOTONIC, &now)) return 0.0;
  std::memcpy(&start, slot, sizeof start);
  if (reset) std::memcpy(slot, &now, sizeof now);
  return now - start;
}

uint8_t break_key_poll(void* flag) {
  if (!flag) return 0;
  return static_cast<BreakFlag*>(flag)->exchange(0) != 0 ? 1 : 0;
}
