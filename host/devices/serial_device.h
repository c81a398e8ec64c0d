// The serial device layer over termios: open and configure a listed port,
// read and write with a time-out and an abort test between bytes, discard
// pending input, close; the list of the machine's ports; the speed mapping.
// Result codes are the library's (kSerial...), not engine statuses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum : int {
  kSerialOk = 0,
  kSerialOpenFailed = 1,
  kSerialNoPath = 2,      // not reported by this layer
  kSerialAccess = 3,      // not reported by this layer
  kSerialDirectory = 4,   // not reported by this layer
  kSerialIoFailed = 5,
  kSerialTimeout = 6,
  kSerialAborted = 7,
  kSerialBadPort = 8,
  kSerialBadSpeed = 9,
};

using SerialAbortTest = bool (*)(void* context);

// An open port. The first reserved word holds the time-out in milliseconds,
// the second a break that arrived after some bytes of a read: the next read
// reports it, so that no byte and no break is lost.
struct SerialDevice {
  int handle = -1;
  int32_t delay_us = 0;  // pause after each byte written; 0 or less: none
  int32_t reserved[2] = {0, 0};
  SerialAbortTest abort_test = nullptr;
  void* abort_context = nullptr;
};

constexpr int kSerialTimeoutWord = 0;
constexpr int kSerialAbortPendingWord = 1;

// Stop bits in tenths.
constexpr int32_t kStopBitsOne = 10;
constexpr int32_t kStopBitsOneAndHalf = 15;
constexpr int32_t kStopBitsTwo = 20;

// The ports: USB, ACM, AMA, rfcomm and present ttyS devices under
// /sys/class/tty, as device paths in natural order. Tests put a list of
// their own in its place (null restores the machine's).
std::vector<std::string> serial_port_list();
void serial_set_port_list(const std::vector<std::string>* list);
// The name of the port at index (from 0); false past the end.
bool serial_port_name(int32_t index, std::string* name);

// True for the speeds the library accepts.
bool serial_speed_accepted(int64_t bps);
// The termios constant of a speed, or 0 when it has none (then the port is
// set through the arbitrary-speed interface).
uint32_t serial_speed_constant(int64_t bps);
// Sets an arbitrary speed on an open port (termios2 with BOTHER).
bool serial_set_arbitrary_speed(int fd, uint32_t bps);

// Opens the listed port `path` (port_index < 0: not listed).
int serial_open(const std::string& path, int32_t port_index, int64_t speed, int32_t stop_tenths, bool dtr_handshake,
                bool cts_flow, int32_t timeout_ms, int32_t delay_us, SerialDevice* out);
bool serial_configure(int* handle, const std::string& path, int64_t speed, int32_t stop_tenths, bool dtr_handshake,
                      bool cts_flow);
int serial_write(SerialDevice* dev, const char* bytes, int32_t count);
int serial_read(SerialDevice* dev, char* buffer, int32_t count, int32_t* got);
void serial_flush_input(SerialDevice* dev);
void serial_close(SerialDevice* dev);
void serial_set_abort_callback(SerialDevice* dev, SerialAbortTest fn, void* context);
