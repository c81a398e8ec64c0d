// Small POSIX helpers shared by the file and serial libraries: whole writes
// that survive short writes and signals, and reads retried after a signal.
#pragma once

#include <cerrno>
#include <cstdint>

#include <unistd.h>

namespace devio {

// Writes every byte; false on an error (errno set).
inline bool write_all(int fd, const char* bytes, int64_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, bytes, size_t(length));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    length -= n;
  }
  return true;
}

// One read; -1 on an error other than an interruption.
inline ssize_t read_some(int fd, char* buffer, int64_t length) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size_t(length));
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace devio
