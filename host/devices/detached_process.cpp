// Detached children over posix_spawnp, reaped without blocking.
#include "host/devices/detached_process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <vector>

extern char** environ;

namespace {

std::vector<pid_t> g_children;

void reap_finished() {
  for (size_t i = 0; i < g_children.size();) {
    if (::waitpid(g_children[i], nullptr, WNOHANG) != 0) {
      g_children[i] = g_children.back();
      g_children.pop_back();
    } else {
      ++i;
    }
  }
}

}  // namespace

bool spawn_detached(const char* program, const std::string& argument) {
  reap_finished();
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::string name = program, arg = argument;
  char* argv[] = {name.data(), arg.data(), nullptr};
  pid_t pid = 0;
  const int status = posix_spawnp(&pid, program, nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (status != 0) return false;
  g_children.push_back(pid);
  return true;
}
