// The serial-port library over a pseudo-terminal: the port list names the
// slave, the test drives the master. Options strings and structures, port
// names, writing and reading (text mode, time-outs with and without bytes,
// the abort test between bytes), the control requests and closing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/context.h"
#include "host/devices/device_session.h"
#include "host/devices/file_library.h"
#include "host/devices/serial_device.h"
#include "host/devices/serial_library.h"

namespace {

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    int slave_fd = -1;
    char name[256] = {};
    if (openpty(&master, &slave_fd, name, nullptr, nullptr) != 0) return;
    slave = name;
    ::close(slave_fd);  // the library opens the slave by its path
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
  void send(const std::string& bytes) const { ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  // What the port wrote, waiting briefly for it.
  std::string received() const {
    std::string out;
    char buf[256];
    struct pollfd p {master, POLLIN, 0};
    while (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, size_t(n));
    }
    return out;
  }
};

// A session whose port list is the pseudo-terminal's slave (and a second
// name that is not there), and whose abort poll answers as told.
struct SerialSession : DeviceSession {
  Pty pty;
  std::vector<std::string> ports;
  int abort_after = -1;  // asks answered false before the first true; -1: never
  int asks = 0;

  SerialSession() {
    ports = {pty.slave, "/dev/tn-no-such-port"};
    serial_set_port_list(&ports);
    engine_set_option_pair(c, poll, this);
  }
  ~SerialSession() { serial_set_port_list(nullptr); }

  static uint8_t poll(void* self) {
    auto* s = static_cast<SerialSession*>(self);
    ++s->asks;
    return s->abort_after >= 0 && s->asks > s->abort_after ? 1 : 0;
  }
  std::string port() const { return "'" + pty.slave + "'"; }
  std::string identifier() {
    return value("getfield(lasterror(), 'identifier')");
  }
};

TEST(SerialOptions, StringsParseAndSaturate) {
  const struct {
    const char* text;
    int64_t speed;
    int32_t timeout, stop;
    bool handshake, text_mode;
  } cases[] = {
      {"", 19200, 1000, 20, false, false},
      {"b9600T500s1.5th", 9600, 500, 15, true, true},
      {"s1", 19200, 1000, 10, false, false},
      {"s2s1", 19200, 1000, 10, false, false},
      {"s3", 19200, 1000, 20, false, false},
      {"bT", 0, 0, 20, false, false},
      {"b99999999999999999999999T99999999999999", 2147483647, 2147483647, 20, false, false},
      {"x b 1200 ? h", 0, 1000, 20, true, false},
  };
  for (const auto& c : cases) {
    SerialSettings s;
    serial_parse_option_string(c.text, int32_t(std::strlen(c.text)), &s);
    EXPECT_EQ(s.speed, c.speed) << c.text;
    EXPECT_EQ(s.timeout_ms, c.timeout) << c.text;
    EXPECT_EQ(s.stop_tenths, c.stop) << c.text;
    EXPECT_EQ(s.handshake, c.handshake) << c.text;
    EXPECT_EQ(s.text_mode, c.text_mode) << c.text;
  }
}

TEST(SerialOptions, SpeedMapping) {
  const int64_t accepted[] = {75,    110,   150,   300,    450,    600,    1200,   1800,   2400,  4800, 7200,
                              9600,  14400, 19200, 28800,  38400,  57600,  115200, 230400, 460800, 921600};
  for (int64_t bps : accepted) EXPECT_TRUE(serial_speed_accepted(bps)) << bps;
  for (int64_t bps : {0, 1000, 19201, 3000000, -9600}) EXPECT_FALSE(serial_speed_accepted(bps)) << bps;
  EXPECT_EQ(serial_speed_constant(9600), uint32_t(B9600));
  EXPECT_EQ(serial_speed_constant(115200), uint32_t(B115200));
  EXPECT_EQ(serial_speed_constant(921600), uint32_t(B921600));
  for (int64_t bps : {450, 7200, 14400, 28800}) EXPECT_EQ(serial_speed_constant(bps), 0u) << bps;
}

TEST(SerialLibrary, OpenNamesAndErrors) {
  SerialSession s;
  ASSERT_GE(s.pty.master, 0);
  EXPECT_EQ(s.value("serialdevopen(" + s.port() + ", 'b9600T500s1.5th')"), "double 1x1 [1024]");
  if (::geteuid() != 0)  // exclusive use binds everyone but the superuser
    EXPECT_NE(s.value("serialdevopen(" + s.port() + ")").rfind("error", 0), std::string::npos);
  ASSERT_EQ(s.run("closedevice(1024);\n"), kOk);
  // Programs written against port numbers: COMn names the n-th listed port.
  EXPECT_EQ(s.value("opendevice('COM1', 'T50')"), "double 1x1 [1024]");
  ASSERT_EQ(s.run("closedevice(1024);\n"), kOk);
  EXPECT_EQ(s.value("serialdevopen('COM1:')"), "double 1x1 [1024]");
  ASSERT_EQ(s.run("closedevice(1024);\n"), kOk);
  const struct {
    std::string call;
    const char* id;
  } errors[] = {
      {"serialdevopen(" + s.port() + ", 'b1000')", "'serial:bps'"},
      {"serialdevopen(" + s.port() + ", serialdevset('BPS', 1000))", "'serial:bps'"},
      {"serialdevopen('/dev/tn-unlisted')", "'serial:devname'"},
      {"serialdevopen('COM3')", "'serial:devname'"},
      {"serialdevopen('COM0')", "'serial:devname'"},
      {"serialdevopen('COM1x')", "'serial:devname'"},
      {"serialdevopen('/dev/tn-no-such-port')", "'serial:device'"},  // listed, but not there
  };
  for (const auto& e : errors) {
    EXPECT_EQ(s.value(e.call).rfind("error", 0), 0u) << e.call;
    EXPECT_EQ(s.identifier(), e.id) << e.call;
  }
  EXPECT_EQ(s.value("serialdevopen(5)"), "error 44");
  EXPECT_EQ(s.value("serialdevopen(" + s.port() + ", 5)"), "error 43");
  // An options structure: every option, including the default ones.
  EXPECT_EQ(s.value("serialdevopen(" + s.port() + ", serialdevset('BPS', 450, 'StopBits', 1.5, 'Timeout', 0.05))"),
            "double 1x1 [1024]");
  EXPECT_EQ(s.value("fieldnames(serialdevset())"),
            "{'BPS', 'Delay', 'Handshake', 'StopBits', 'TextMode', 'Timeout'}");
  EXPECT_EQ(s.value("getfield(serialdevset('Timeout', 3), 'Timeout')"), "double 1x1 [3]");
  EXPECT_EQ(s.value("serialdevset('Nope', 3)"), "error 108");
  EXPECT_TRUE(s.clean());
}

TEST(SerialLibrary, PortNames) {
  SerialSession s;
  EXPECT_EQ(s.value("serialdevname()"), "{'" + s.pty.slave + "', '/dev/tn-no-such-port'}");
  EXPECT_EQ(s.value("serialdevname(1)"), "'" + s.pty.slave + "'");
  EXPECT_EQ(s.value("serialdevname(2)"), "'/dev/tn-no-such-port'");
  EXPECT_EQ(s.value("serialdevname(3)"), "''");
  EXPECT_EQ(s.value("serialdevname(0)"), "''");
  EXPECT_EQ(s.value("devicename(99)"), "''");
  EXPECT_EQ(s.value("devicename(1)"), "'" + s.pty.slave + "'");
  EXPECT_EQ(s.value("serialdevname({1})"), "error 44");
  // The machine's own list holds device paths only.
  serial_set_port_list(nullptr);
  for (const std::string& p : serial_port_list()) EXPECT_EQ(p.rfind("/dev/", 0), 0u) << p;
  EXPECT_TRUE(s.clean());
}

TEST(SerialLibrary, WriteAndReadRoundTrip) {
  SerialSession s;
  ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + ", 'b115200T200');\n"), kOk);
  EXPECT_EQ(s.value("fwrite(p, 'hello')"), "double 1x1 [5]");
  EXPECT_EQ(s.pty.received(), "hello");
  ASSERT_EQ(s.run("fprintf(p, 'n=%d', 42);\n"), kOk);
  EXPECT_EQ(s.pty.received(), "n=42");
  s.pty.send("abc\x01\xff");
  EXPECT_EQ(s.value("fread(p, 3, '*char')"), "'abc'");
  EXPECT_EQ(s.value("fread(p, 2)'"), "double 1x2 [1 255]");
  // Binary mode keeps line ends; a line read stops at either byte.
  s.pty.send("x\r\ny\n");
  EXPECT_EQ(s.value("fgetl(p)"), "'x'");
  EXPECT_EQ(s.value("fgetl(p)"), "''");
  EXPECT_EQ(s.value("fgets(p)"), "'y\n'");
  EXPECT_TRUE(s.clean());
}

TEST(SerialLibrary, TextModeJoinsCrLfAcrossReads) {
  SerialSession s;
  ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + ", 'tT100');\n"), kOk);
  s.pty.send("a\r");
  EXPECT_EQ(s.value("double(fread(p, 2, '*char'))"), "double 1x2 [97 10]");
  s.pty.send("\nb\rc\n");
  EXPECT_EQ(s.value("double(fread(p, 3, '*char'))"), "double 1x3 [98 10 99]");
  EXPECT_EQ(s.value("fgetl(p)"), "''") << "an LF after a plain byte is a line end of its own";
  EXPECT_EQ(s.value("fgetl(p)"), "error 306");
  s.pty.send("line\r\nnext\r");
  EXPECT_EQ(s.value("fgetl(p)"), "'line'");
  EXPECT_EQ(s.value("fgetl(p)"), "'next'");
  EXPECT_TRUE(s.clean());
}

TEST(SerialLibrary, TimeoutsWithAndWithoutBytes) {
  SerialSession s;
  ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + ", 'T30');\n"), kOk);
  EXPECT_EQ(s.value("fread(p, 4)"), "error 306");
  s.pty.send("xy");
  EXPECT_EQ(s.value("fread(p, 5, '*char')"), "'xy'") << "the bytes that came are delivered";
  s.pty.send("z");
  ASSERT_EQ(s.run("[v, n] = fread(p, 5, '*char');\n"), kOk);
  EXPECT_EQ(s.value("{v, n}"), "{'z', double 1x1 [1]}");
  EXPECT_TRUE(s.clean());
}

TEST(SerialLibrary, TheAbortTestEndsAReadOrAWriteBetweenBytes) {
  SerialSession s;
  ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + ", serialdevset('Timeout', 5, 'Delay', 0.0005));\n"), kOk);
  // Nothing arrives: the break ends the wait long before the time-out.
  s.abort_after = 0;
  EXPECT_EQ(s.value("fread(p, 4)"), "error 501");
  // Bytes arrived before the break: they are delivered, the break comes next.
  s.pty.send("ab");
  s.asks = 0;
  EXPECT_EQ(s.value("fread(p, 4, '*char')"), "'ab'");
  s.abort_after = -1;
  EXPECT_EQ(s.value("fread(p, 4)"), "error 501");
  // A write with a pause after each byte asks after each one.
  s.abort_after = 1;
  s.asks = 0;
  EXPECT_EQ(s.value("fwrite(p, 'abcdef')"), "error 302");
  EXPECT_EQ(s.pty.received(), "ab");
  s.abort_after = -1;
  EXPECT_EQ(s.value("fwrite(p, 'cd')"), "double 1x1 [2]");
  EXPECT_EQ(s.pty.received(), "cd");
  EXPECT_TRUE(s.clean());
}

// flushdevice and closedevice give nothing: as a statement, shown or not,
// they show nothing, keep "ans" and leave the next statement working.
TEST(SerialLibrary, ZeroOutputCallsAsStatements) {
  SerialSession s;
  ASSERT_EQ(s.run("ans = 5; p = serialdevopen(" + s.port() + ", 'T20');\n"), kOk);
  s.take_output();
  for (const char* statement : {"flushdevice(p)", "flushdevice(p);", "feval('flushdevice', p)", "closedevice(p)"}) {
    ASSERT_EQ(s.run(std::string(statement) + "\ny = ans + 1;\n"), kOk) << statement;
    EXPECT_EQ(s.take_output(), "") << statement;
    EXPECT_EQ(s.value("y"), "double 1x1 [6]") << statement;
    EXPECT_TRUE(s.clean()) << statement;
  }
  ASSERT_EQ(s.run("closedevice(serialdevopen(" + s.port() + ")); y = ans + 2;\n"), kOk);
  EXPECT_EQ(s.value("y"), "double 1x1 [7]");
  EXPECT_TRUE(s.clean());
}

TEST(SerialLibrary, ControlRequestsAndClosing) {
  SerialSession s;
  ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + ", 'T20'); f = fopen(" + s.path("file") + ", 'w');\n"), kOk);
  EXPECT_EQ(s.value("feof(p)"), "logical 1x1 [0]");
  EXPECT_EQ(s.value("ftell(p)"), "double 1x1 [-1]");
  EXPECT_EQ(s.value("fseek(p, 0)"), "double 1x1 [-1]");
  s.pty.send("stale");
  ASSERT_EQ(s.run("fflush(p);\n"), kOk);
  EXPECT_EQ(s.value("fread(p, 1)"), "error 306");
  s.pty.send("stale");
  ASSERT_EQ(s.run("flushdevice(p);\n"), kOk);
  EXPECT_EQ(s.value("fread(p, 1)"), "error 306");
  EXPECT_EQ(s.run("flushdevice(p + 1);\n"), kNotMyDescriptor);
  EXPECT_EQ(s.value("fwrite(p, 'k')"), "double 1x1 [1]");
  EXPECT_EQ(s.pty.received(), "k");
  ASSERT_EQ(s.run("closedevice(p);\n"), kOk);
  EXPECT_EQ(s.value("fwrite(p, 1)"), "error 301");
  EXPECT_EQ(s.run("closedevice(p);\n"), kNotMyDescriptor);
  // fclose('all') and fclose(-1) close the files and the ports alike,
  // whichever library takes -1 first.
  for (const char* all : {"'all'", "-1"}) {
    ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + "); f = fopen(" + s.path("file") + ", 'w');\n"), kOk);
    ASSERT_EQ(s.run(std::string("fclose(") + all + ");\n"), kOk);
    EXPECT_EQ(s.value("fwrite(f, 1)"), "error 301") << all;
    EXPECT_EQ(s.value("fwrite(p, 'k')"), "error 301") << all;
    EXPECT_EQ(s.run("closedevice(p);\n"), kNotMyDescriptor) << all;
  }
  // At quit every port is closed.
  ASSERT_EQ(s.run("p = serialdevopen(" + s.port() + ");\n"), kOk);
  fileio_close_all();
  EXPECT_EQ(s.value("fwrite(p, 1)"), "error 301");
  EXPECT_EQ(s.value("fclose(p)"), "error 187");
}

}  // namespace
