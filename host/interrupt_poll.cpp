// SIGINT as the engine's interrupt key. The handler only sets a flag (all a
// signal handler may safely do); the engine polls it on its own thread, and
// each interrupt is reported once. The engine reads the poll only when it
// runs in slices, so outside them SIGINT keeps its default action.
#include "host/interrupt_poll.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_armed = 0;

void on_sigint(int) {
  if (g_armed) {
    g_interrupted = 1;
    return;
  }
  // Nobody would read the flag: the default action, as if no handler were set.
  std::signal(SIGINT, SIG_DFL);
  std::raise(SIGINT);
}

}  // namespace

bool interrupt_poll_install() {
  struct sigaction action {};
  action.sa_handler = on_sigint;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &action, nullptr) == 0;
}

void interrupt_poll_set_armed(bool armed) { g_armed = armed ? 1 : 0; }

uint8_t interrupt_poll(void*) {
  if (!g_interrupted) return 0;
  g_interrupted = 0;
  return 1;
}
