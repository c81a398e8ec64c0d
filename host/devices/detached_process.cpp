// Detached children over posix_spawnp, each waited for and reaped by a
// thread of its chain, so that the program never holds a zombie.
#include "host/devices/detached_process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

namespace {

pid_t start(const SpawnStep& step) {
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return -1;
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::string name = step.program, arg = step.argument;
  char* argv[] = {name.data(), arg.data(), nullptr};
  pid_t pid = 0;
  const int status = posix_spawnp(&pid, step.program, nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  return status == 0 ? pid : -1;
}

void wait_for(pid_t pid) {
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

bool spawn_in_turn(std::vector<SpawnStep> steps) {
  if (steps.empty()) return true;
  const pid_t first = start(steps[0]);
  if (first < 0) return false;
  // Detached: the program may end while a child still runs; the child is
  // in its own session and outlives it.
  std::thread([first, steps = std::move(steps)] {
    wait_for(first);
    for (size_t i = 1; i < steps.size(); ++i) {
      const pid_t pid = start(steps[i]);
      if (pid < 0) return;
      wait_for(pid);
    }
  }).detach();
  return true;
}

bool spawn_detached(const char* program, const std::string& argument) { return spawn_in_turn({{program, argument}}); }
