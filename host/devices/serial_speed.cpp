// Serial speeds: the accepted list, their termios constants, and the speeds
// without one (450, 7200, 14400, 28800) set through termios2 with BOTHER.
// <asm/termios.h> clashes with <termios.h>, hence this file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

#include "host/devices/serial_device.h"

namespace {

struct SpeedRow {
  int64_t bps;
  uint32_t constant;  // 0: none
};

constexpr SpeedRow kSpeeds[] = {
    {75, B75},         {110, B110},       {150, B150},       {300, B300},       {450, 0},
    {600, B600},       {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {7200, 0},         {9600, B9600},     {14400, 0},        {19200, B19200},   {28800, 0},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
    {921600, B921600},
};

}  // namespace

bool serial_speed_accepted(int64_t bps) {
  for (const SpeedRow& r : kSpeeds)
    if (r.bps == bps) return true;
  return false;
}

uint32_t serial_speed_constant(int64_t bps) {
  for (const SpeedRow& r : kSpeeds)
    if (r.bps == bps) return r.constant;
  return 0;
}

bool serial_set_arbitrary_speed(int fd, uint32_t bps) {
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return false;
  t.c_cflag &= ~tcflag_t(CBAUD);
  t.c_cflag |= BOTHER;
  t.c_cflag &= ~tcflag_t(CBAUD << IBSHIFT);
  t.c_cflag |= BOTHER << IBSHIFT;
  t.c_ispeed = bps;
  t.c_ospeed = bps;
  return ::ioctl(fd, TCSETS2, &t) == 0;
}
