// The serial device layer over termios. Ports are opened non-blocking and
// every wait is a poll bounded by the port's time-out, taken in short slices
// so that the abort test is asked while nothing arrives; the port itself is
// raw (8 data bits, no parity, no line editing).
#include "host/devices/serial_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "host/devices/posix_io.h"

namespace {

constexpr char kTtyClass[] = "/sys/class/tty";
constexpr char kDevDir[] = "/dev/";
constexpr const char* kPortPrefixes[] = {"ttyUSB", "ttyACM", "ttyAMA", "rfcomm", "ttyS"};
constexpr char kUartPrefix[] = "ttyS";
constexpr int32_t kMaxPortIndex = 99;
constexpr int32_t kDrainTimeoutMs = 10;
// Longest single wait before the abort test is asked again.
constexpr int kWaitSliceMs = 20;
// Delays of at most this many microseconds that are not whole milliseconds
// are timed by busy waiting: a sleep cannot be shorter than a millisecond.
constexpr int32_t kBusyWaitLimitUs = 2000;
constexpr int64_t kNsPerUs = 1000;
constexpr int64_t kNsPerMs = 1000000;

const std::vector<std::string>* g_injected_ports = nullptr;

int64_t now_ns() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool asked_to_abort(const SerialDevice* dev) { return dev->abort_test && dev->abort_test(dev->abort_context); }

enum class Wait { kReady, kTimedOut, kAborted, kFailed };

// Waits until the port is ready for `events` or the time-out passes, asking
// the abort test between slices.
Wait wait_ready(SerialDevice* dev, short events, int32_t timeout_ms) {
  const int64_t deadline = now_ns() + int64_t(std::max(timeout_ms, 0)) * kNsPerMs;
  for (;;) {
    const int64_t left_ms = (deadline - now_ns() + kNsPerMs - 1) / kNsPerMs;
    struct pollfd p {dev->handle, events, 0};
    const int n = ::poll(&p, 1, int(std::clamp<int64_t>(left_ms, 0, kWaitSliceMs)));
    if (n < 0 && errno != EINTR) return Wait::kFailed;
    if (n > 0) return (p.revents & (POLLERR | POLLNVAL)) && !(p.revents & events) ? Wait::kFailed : Wait::kReady;
    if (asked_to_abort(dev)) return Wait::kAborted;
    if (now_ns() >= deadline) return Wait::kTimedOut;
  }
}

int write_bytes(SerialDevice* dev, const char* bytes, int32_t count) {
  const int32_t timeout = dev->reserved[kSerialTimeoutWord];
  while (count > 0) {
    const ssize_t n = ::write(dev->handle, bytes, size_t(count));
    if (n > 0) {
      bytes += n;
      count -= int32_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return kSerialIoFailed;
    const Wait w = wait_ready(dev, POLLOUT, timeout);
    if (w == Wait::kAborted) return kSerialAborted;
    if (w != Wait::kReady) return kSerialIoFailed;
  }
  return kSerialOk;
}

void pause_after_byte(int32_t delay_us) {
  if (delay_us <= kBusyWaitLimitUs && delay_us % 1000 != 0) {
    const int64_t until = now_ns() + int64_t(delay_us) * kNsPerUs;
    while (now_ns() < until) {
    }
    return;
  }
  struct timespec ts {delay_us / 1000000, long(delay_us / 1000 % 1000) * kNsPerMs};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// The number after a prefix, for the natural order of the port names.
bool split_port_name(const std::string& name, size_t* prefix, long* number) {
  for (size_t i = 0; i < sizeof kPortPrefixes / sizeof kPortPrefixes[0]; ++i) {
    const size_t n = std::strlen(kPortPrefixes[i]);
    if (name.compare(0, n, kPortPrefixes[i]) != 0 || name.size() == n) continue;
    if (!std::all_of(name.begin() + long(n), name.end(), [](char c) { return std::isdigit(uint8_t(c)); })) continue;
    *prefix = i;
    *number = std::strtol(name.c_str() + n, nullptr, 10);
    return true;
  }
  return false;
}

// A ttyS entry stands for every possible UART; only those with a device
// behind them (a port type other than 0) are ports.
bool uart_present(const std::string& name) {
  const std::string type_path = std::string(kTtyClass) + "/" + name + "/type";
  const int fd = ::open(type_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[16] = {};
  const ssize_t n = devio::read_some(fd, text, sizeof text - 1);
  ::close(fd);
  return n > 0 && std::strtol(text, nullptr, 10) != 0;
}

std::vector<std::string> machine_ports() {
  struct Entry {
    size_t prefix;
    long number;
    std::string name;
  };
  std::vector<Entry> found;
  if (DIR* dir = ::opendir(kTtyClass)) {
    while (const dirent* e = ::readdir(dir)) {
      Entry entry{0, 0, e->d_name};
      if (!split_port_name(entry.name, &entry.prefix, &entry.number)) continue;
      if (entry.name.compare(0, std::strlen(kUartPrefix), kUartPrefix) == 0 && !uart_present(entry.name)) continue;
      found.push_back(entry);
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
    return a.prefix != b.prefix ? a.prefix < b.prefix : a.number < b.number;
  });
  std::vector<std::string> paths;
  for (const Entry& e : found) paths.push_back(kDevDir + e.name);
  return paths;
}

}  // namespace

std::vector<std::string> serial_port_list() { return g_injected_ports ? *g_injected_ports : machine_ports(); }

void serial_set_port_list(const std::vector<std::string>* list) { g_injected_ports = list; }

bool serial_port_name(int32_t index, std::string* name) {
  const std::vector<std::string> ports = serial_port_list();
  if (index < 0 || size_t(index) >= ports.size()) return false;
  *name = ports[size_t(index)];
  return true;
}

bool serial_configure(int* handle, const std::string& path, int64_t speed, int32_t stop_tenths, bool dtr_handshake,
                      bool cts_flow) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  struct termios t {};
  // Not shared: nobody else may open the port while it is ours.
  bool ok = ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && ::ioctl(fd, TIOCEXCL) == 0 && ::tcgetattr(fd, &t) == 0;
  const uint32_t constant = serial_speed_constant(speed);
  if (ok) {
    cfmakeraw(&t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // 1.5 stop bits have no termios setting: they become 2.
    if (stop_tenths != kStopBitsOne) t.c_cflag |= CSTOPB;
    if (cts_flow) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (constant) ok = cfsetispeed(&t, constant) == 0 && cfsetospeed(&t, constant) == 0;
  }
  ok = ok && ::tcsetattr(fd, TCSANOW, &t) == 0;
  if (ok && !constant) ok = serial_set_arbitrary_speed(fd, uint32_t(speed));
  if (!ok) {
    ::close(fd);
    return false;
  }
  // DTR is raised either way (handshake mode or simply enabled); a port
  // without modem lines, such as a pseudo-terminal, refuses the request.
  (void)dtr_handshake;
  int dtr = TIOCM_DTR;
  (void)::ioctl(fd, TIOCMBIS, &dtr);
  *handle = fd;
  return true;
}

int serial_open(const std::string& path, int32_t port_index, int64_t speed, int32_t stop_tenths, bool dtr_handshake,
                bool cts_flow, int32_t timeout_ms, int32_t delay_us, SerialDevice* out) {
  if (port_index < 0 || port_index > kMaxPortIndex) return kSerialBadPort;
  if (!serial_speed_accepted(speed)) return kSerialBadSpeed;
  SerialDevice dev;
  if (!serial_configure(&dev.handle, path, speed, stop_tenths, dtr_handshake, cts_flow)) return kSerialOpenFailed;
  // Input that waited before the port was ours is not the application's.
  dev.reserved[kSerialTimeoutWord] = kDrainTimeoutMs;
  serial_flush_input(&dev);
  // The time-outs are kept here, not in the port, so the port need not be
  // opened a second time to change them.
  dev.reserved[kSerialTimeoutWord] = std::max(timeout_ms, 0);
  dev.delay_us = delay_us;
  *out = dev;
  return kSerialOk;
}

int serial_write(SerialDevice* dev, const char* bytes, int32_t count) {
  if (dev->delay_us <= 0) return write_bytes(dev, bytes, count);
  for (int32_t i = 0; i < count; ++i) {
    if (const int code = write_bytes(dev, bytes + i, 1); code != kSerialOk) return code;
    pause_after_byte(dev->delay_us);
    if (asked_to_abort(dev)) return kSerialAborted;
  }
  return kSerialOk;
}

// Reads what the port has, up to count bytes, waiting at most the time-out
// for each byte. The bytes that arrived before a time-out or a break are in
// the buffer and counted in *got whatever the code.
int serial_read(SerialDevice* dev, char* buffer, int32_t count, int32_t* got) {
  *got = 0;
  if (dev->reserved[kSerialAbortPendingWord]) {
    dev->reserved[kSerialAbortPendingWord] = 0;
    return kSerialAborted;
  }
  bool said_ready = false;  // the last wait said a byte was there
  while (*got < count) {
    const ssize_t n = ::read(dev->handle, buffer + *got, size_t(count - *got));
    if (n > 0) {
      *got += int32_t(n);
      said_ready = false;
      if (asked_to_abort(dev)) return kSerialAborted;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // A port that says it is ready and then has nothing is gone.
    if ((n < 0 && errno != EAGAIN) || said_ready) return kSerialIoFailed;
    const Wait w = wait_ready(dev, POLLIN, dev->reserved[kSerialTimeoutWord]);
    if (w == Wait::kAborted) return kSerialAborted;
    if (w == Wait::kFailed) return kSerialIoFailed;
    if (w == Wait::kTimedOut) {
      if (*got < count) buffer[*got] = 0;
      return kSerialTimeout;
    }
    said_ready = true;
  }
  return kSerialOk;
}

void serial_flush_input(SerialDevice* dev) {
  char byte = 0;
  int32_t got = 0;
  while (serial_read(dev, &byte, 1, &got) == kSerialOk && got == 1) {
  }
}

void serial_close(SerialDevice* dev) {
  if (dev->handle >= 0) ::close(dev->handle);
  *dev = SerialDevice{};
}

void serial_set_abort_callback(SerialDevice* dev, SerialAbortTest fn, void* context) {
  dev->abort_test = fn;
  dev->abort_context = fn ? context : nullptr;
}
