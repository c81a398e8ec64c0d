// The user's interrupt on POSIX: while armed, SIGINT sets a flag that the
// engine's abort poll reads and clears; unarmed (the engine is not polling),
// SIGINT ends the process as it does by default.
#pragma once

#include <cstdint>

// Installs the SIGINT handler; true on success.
bool interrupt_poll_install();
// Armed while the engine runs in slices and so reads the poll.
void interrupt_poll_set_armed(bool armed);
// The abort poll for engine_set_option_pair: 1 once after each SIGINT.
uint8_t interrupt_poll(void* arg);
