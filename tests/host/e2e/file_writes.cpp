// Counts the writes of one file while it runs, for the end-to-end scripts:
// inotify on the file's directory reports a new copy moved onto the name
// (how a safe writer finishes) and a close after writing in place. A close
// with nothing written since the last count is none: a writer may open the
// file for writing only to learn that it can. Prints "ready" once the watch
// stands and "writes N" when SIGTERM or SIGINT ends it.
//   file_writes DIR NAME
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

volatile sig_atomic_t g_stop = 0;

void on_stop(int) { g_stop = 1; }

struct Count {
  long writes = 0;
  bool modified = false;  // written in place since the last count
};

// Reads the events waiting on fd and counts those that wrote `name`.
void count_events(int fd, const char* name, Count* c) {
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
      at += ssize_t(sizeof(inotify_event)) + e->len;
      if (e->len == 0 || std::strcmp(e->name, name) != 0) continue;
      if (e->mask & IN_MODIFY) c->modified = true;
      if ((e->mask & IN_MOVED_TO) || ((e->mask & IN_CLOSE_WRITE) && c->modified)) {
        ++c->writes;
        c->modified = false;
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: file_writes DIR NAME\n");
    return 2;
  }
  struct sigaction sa{};
  sa.sa_handler = on_stop;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, argv[1], IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE) < 0) {
    std::fprintf(stderr, "file_writes: cannot watch %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  Count count;
  while (!g_stop) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) count_events(fd, argv[2], &count);
  }
  count_events(fd, argv[2], &count);
  std::printf("writes %ld\n", count.writes);
  return 0;
}
