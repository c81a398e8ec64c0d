// The engine's clock and break-poll callbacks over the platform's clocks:
// process time from CLOCK_PROCESS_CPUTIME_ID, elapsed time from
// CLOCK_MONOTONIC. The host installs both (rt_set_clock_callback,
// rt_set_break_poll); neither processes events or blocks.
#pragma once

#include <atomic>
#include <cstdint>

// The slots a host hands rt_set_clock_callback: the engine's three, then the
// runtime's three, 8 bytes each, outside the block (which moves).
constexpr int kHostClockSlots = 6;
constexpr int32_t kHostClockSlotBytes = 8;

// The engine's ClockFn. `slot` is one 8-byte slot holding the start, in
// seconds of the chosen clock. Answers the seconds since that start (process
// time with the process-time flag, else elapsed time); with the reset flag
// the current reading becomes the start, and the answer is still the time
// before the reset. 0.0 when the platform clock cannot be read.
double cpu_time_callback(void* slot, int process_time, int reset);

// The engine's AbortPollFn. `flag` is the host's break flag (an
// std::atomic<uint8_t>, which it sets from its key handling); the poll reads
// and clears it, and answers whether it was set.
uint8_t break_key_poll(void* flag);
using BreakFlag = std::atomic<uint8_t>;
