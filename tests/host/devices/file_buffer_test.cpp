// The file library's read buffer against a model of each file as a string
// of bytes, with a position and a carriage-return flag per descriptor:
// random mixtures of line reads (one byte per hook call, as the stream layer
// asks), reads of any size (past the buffer's too), writes, seeks, tells, end
// tests, flushes and opens on several descriptors of the same files, binary
// and text, with system reads that deliver fewer bytes than asked so that
// buffer refills fall everywhere; and the number of system reads a line
// loop makes, which must follow the bytes read, not the calls.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/core/streams.h"
#include "host/devices/device_session.h"
#include "host/devices/file_library.h"

namespace {

std::mt19937 g_rng;  // the short reads' own draws, seeded by each test
bool g_short_reads = false;
int64_t g_reads = 0;

int64_t test_read(int fd, char* buffer, int64_t length) {
  ++g_reads;
  if (g_short_reads && length > 1 && g_rng() % 2) length = 1 + int64_t(g_rng() % 9) % length;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size_t(length));
    if (n >= 0 || errno != EINTR) return n;
  }
}

struct ReadSeam {
  explicit ReadSeam(bool short_reads, uint32_t seed = 1) {
    g_short_reads = short_reads;
    g_rng.seed(seed);
    g_reads = 0;
    fileio_set_platform_read(test_read);
  }
  ~ReadSeam() { fileio_set_platform_read(nullptr); }
};

struct ModelSlot {
  int32_t fd = -1;
  int file = 0;
  bool text = false;
  bool writable = false;
  bool cr = false;
  int64_t pos = 0;
};

// One read as the library delivers it: up to `capacity` bytes; in line mode
// a CR or LF ends the read and is delivered as LF. Text mode gives CR as LF
// and drops an LF that follows a CR, also across reads.
std::string model_read(ModelSlot& s, const std::string& f, int64_t capacity, bool line) {
  std::string out;
  while (int64_t(out.size()) < capacity) {
    int got = -1;
    while (s.pos < int64_t(f.size())) {
      char ch = f[size_t(s.pos++)];
      if (s.text) {
        if (ch == '\n' && s.cr) {
          s.cr = false;
          continue;
        }
        s.cr = ch == '\r';
        if (ch == '\r') ch = '\n';
      }
      got = uint8_t(ch);
      break;
    }
    if (got < 0) break;
    if (line && (got == '\r' || got == '\n')) {
      out += '\n';
      break;
    }
    out += char(got);
  }
  return out;
}

// Text mode writes each CR, LF, CR LF or LF CR as CR LF.
std::string model_text(const std::string& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char ch = bytes[i];
    if (ch != '\r' && ch != '\n') {
      out += ch;
      continue;
    }
    if (i + 1 < bytes.size() && bytes[i + 1] == (ch == '\r' ? '\n' : '\r')) ++i;
    out += "\r\n";
  }
  return out;
}

std::string random_bytes(std::mt19937& rng, size_t n) {
  static const char kAlphabet[] = {'a', 'b', '\r', '\n', ' ', '\0'};
  std::string s(n, 'a');
  for (char& c : s) c = kAlphabet[rng() % sizeof kAlphabet];
  return s;
}

struct ModelRun {
  DeviceSession s;
  std::mt19937 rng;
  std::vector<std::string> files;  // the model's contents
  std::vector<ModelSlot> slots;
  std::vector<char> buffer;
  std::string trace;  // the steps so far, for a failure's message

  explicit ModelRun(uint32_t seed) : rng(seed) {}

  std::string name(int file) const { return "f" + std::to_string(file); }

  void open(int file, const std::string& mode) {
    const std::string v = s.value("fopen(" + s.path(name(file)) + ", '" + mode + "')");
    ASSERT_EQ(v.rfind("double 1x1 [", 0), 0u) << v;
    ModelSlot m;
    m.fd = std::stoi(v.substr(12));
    ASSERT_GE(m.fd, 0) << mode;
    m.file = file;
    m.text = mode.size() > 1 && mode[1] == 't';
    m.writable = mode[0] != 'r';
    if (mode[0] == 'w') files[size_t(file)].clear();
    if (mode[0] == 'a') m.pos = int64_t(files[size_t(file)].size());
    trace += " open" + std::to_string(m.fd) + "(" + mode + ")";
    slots.push_back(m);
  }

  int64_t capacity() {
    switch (rng() % 4) {
      case 0: return 1;
      case 1: return 1 + rng() % 12;
      case 2: return rng() % 400;
      default: return 60000 + rng() % 200000;  // around the buffer's size and past it
    }
  }

  void read_step(ModelSlot& m, bool line, bool direct) {
    const int64_t cap = capacity();
    buffer.assign(size_t(cap) + 1, '\x7f');
    int32_t count = -1;
    const int st = direct ? file_read_hook(s.c, m.fd, buffer.data(), int32_t(cap), &count, 0)
                          : io_read(s.c, m.fd, buffer.data(), int32_t(cap), line, &count);
    trace += (line ? " line" : direct ? " hook" : " read") + std::to_string(cap);
    if (line && cap < 1) {  // every read row passes it on
      ASSERT_EQ(st, kNotMyDescriptor) << trace;
      return;
    }
    const std::string want = model_read(m, files[size_t(m.file)], cap, line);
    ASSERT_EQ(st, want.empty() && cap > 0 ? kEndOfFile : kOk) << trace;
    ASSERT_EQ(std::string(buffer.data(), size_t(count)), want) << trace;
  }

  void write_step(ModelSlot& m) {
    const std::string bytes = random_bytes(rng, rng() % 3 ? rng() % 8 : rng() % 300);
    trace += " write" + std::to_string(bytes.size());
    const int st = io_write(s.c, m.fd, bytes.data(), int32_t(bytes.size()));
    if (!m.writable && !bytes.empty()) {
      ASSERT_EQ(st, kReadWriteError) << trace;
      return;
    }
    ASSERT_EQ(st, kOk) << trace;
    if (bytes.empty()) return;  // nothing moves, not even the end of the file
    const std::string stored = m.text ? model_text(bytes) : bytes;
    std::string& f = files[size_t(m.file)];
    if (int64_t(f.size()) < m.pos + int64_t(stored.size())) f.resize(size_t(m.pos) + stored.size(), '\0');
    f.replace(size_t(m.pos), stored.size(), stored);
    m.pos += int64_t(stored.size());
  }

  void seek_step(ModelSlot& m) {
    const uint32_t request = kIoReqSeekSet + rng() % 3;
    const int64_t size = int64_t(files[size_t(m.file)].size());
    int64_t offset = int64_t(rng() % 41) - 20;
    if (rng() % 4 == 0) offset = int64_t(rng() % (size + 1)) - (request == kIoReqSeekSet ? 0 : size / 2);
    if (request == kIoReqSeekSet && offset < 0) offset = -offset;
    const int64_t base = request == kIoReqSeekSet ? 0 : request == kIoReqSeekCur ? m.pos : size;
    trace += " seek" + std::to_string(request) + ":" + std::to_string(offset);
    const int st = io_control(s.c, m.fd, request, uint32_t(int32_t(offset)), nullptr, nullptr);
    if (base + offset < 0) {
      ASSERT_EQ(st, kReadWriteError) << trace;
      return;
    }
    ASSERT_EQ(st, kOk) << trace;
    m.pos = base + offset;
  }

  void check_positions() {
    for (const ModelSlot& m : slots) {
      uint32_t at = 0;
      uint8_t end = 0;
      ASSERT_EQ(io_control(s.c, m.fd, kIoReqTell, 0, &at, nullptr), kOk) << trace;
      ASSERT_EQ(int64_t(at), m.pos) << "tell of " << m.fd << trace;
      ASSERT_EQ(io_control(s.c, m.fd, kIoReqEof, 0, nullptr, &end), kOk) << trace;
      ASSERT_EQ(end != 0, m.pos >= int64_t(files[size_t(m.file)].size()))
          << "end of " << m.fd << trace;
    }
  }

  void step() {
    ModelSlot& m = slots[rng() % slots.size()];
    trace += " @" + std::to_string(m.fd);
    switch (rng() % 12) {
      case 0: case 1: case 2: case 3: return read_step(m, true, false);
      case 4: case 5: return read_step(m, false, false);
      case 6: return read_step(m, false, true);
      case 7: case 8: return write_step(m);
      case 9: return seek_step(m);
      case 10:
        trace += " flush";
        ASSERT_EQ(io_control(s.c, m.fd, kIoReqFlush, 0, nullptr, nullptr), kOk) << trace;
        return;
      default: {
        // A descriptor closes and another opens, on any of the files.
        trace += " close" + std::to_string(m.fd);
        ASSERT_EQ(io_fclose(s.c, m.fd), kOk);
        slots.erase(slots.begin() + (&m - slots.data()));
        static const char* const kModes[] = {"r", "rt", "a", "at", "w", "wt"};
        return open(int(rng() % files.size()), kModes[rng() % 6]);
      }
    }
  }

  void round(bool large) {
    files.clear();
    slots.clear();
    trace.clear();
    for (int f = 0; f < 2; ++f) {
      const size_t n = large ? 100000 + rng() % 150000 : rng() % 200;
      files.push_back(random_bytes(rng, n));
      s.write_file(name(f), files.back());
    }
    static const char* const kModes[] = {"r", "rt", "a", "at"};
    for (int k = 0; k < 3; ++k) {
      open(int(rng() % 2), kModes[rng() % 4]);
      if (::testing::Test::HasFatalFailure()) return;
    }
    for (int k = 0; k < 120 && !::testing::Test::HasFatalFailure(); ++k) {
      step();
      if (!::testing::Test::HasFatalFailure()) check_positions();
    }
    if (::testing::Test::HasFatalFailure()) return;
    for (const ModelSlot& m : slots) ASSERT_EQ(io_fclose(s.c, m.fd), kOk);
    for (int f = 0; f < 2; ++f) ASSERT_EQ(s.file_text(name(f)), files[size_t(f)]) << "file " << f << trace;
  }
};

TEST(FileBuffer, ReadsWritesAndSeeksAgreeWithAByteModel) {
  for (const bool short_reads : {false, true}) {
    ReadSeam seam(short_reads, 7);
    ModelRun run(short_reads ? 11 : 12);
    for (int r = 0; r < 150 && !HasFatalFailure(); ++r) run.round(false);
    for (int r = 0; r < 6 && !HasFatalFailure(); ++r) run.round(true);
  }
}

// A read that fails reports it and the slot stays usable.
int64_t failing_read(int, char*, int64_t) { return -1; }

TEST(FileBuffer, AFailedSystemReadIsAReadWriteErrorAndTheFileStaysOpen) {
  DeviceSession s;
  s.write_file("f", "one\ntwo\n");
  ASSERT_EQ(s.run("f = fopen(" + s.path("f") + ");\n"), kOk);
  fileio_set_platform_read(failing_read);
  EXPECT_EQ(s.value("fgetl(f)"), "error 302");
  EXPECT_EQ(s.value("fread(f)"), "error 302");
  fileio_set_platform_read(nullptr);
  EXPECT_EQ(s.value("fgetl(f)"), "'one'");
  EXPECT_EQ(s.value("fgetl(f)"), "'two'");
  EXPECT_TRUE(s.clean());
}

// The read system calls the process made so far (the kernel's count).
int64_t system_reads() {
  std::ifstream io("/proc/self/io");
  std::string key;
  int64_t value = 0;
  while (io >> key >> value)
    if (key == "syscr:") return value;
  return -1;
}

TEST(FileBuffer, ALineLoopMakesOneSystemReadPerBufferNotPerByte) {
  if (system_reads() < 0) GTEST_SKIP() << "no /proc/self/io here";
  DeviceSession s;
  // 20,000 lines of 50 bytes, and one line of 100,000 bytes.
  std::string lines;
  for (int k = 0; k < 20000; ++k) lines += std::string(49, char('a' + k % 26)) + "\n";
  s.write_file("lines", lines);
  s.write_file("long", std::string(100000, 'x') + "\r\n");
  const struct {
    const char* what;
    std::string code;
    const char* result;
  } loops[] = {
      {"fgetl", "f = fopen(" + s.path("lines") + "); n = 0; while ~feof(f), l = fgetl(f); n = n + numel(l); end; fclose(f);",
       "double 1x1 [980000]"},
      {"fgets, text mode", "f = fopen(" + s.path("lines") + ", 'rt'); n = 0; while ~feof(f), n = n + numel(fgets(f)); end; fclose(f);",
       "double 1x1 [1e+06]"},
      {"fscanf", "f = fopen(" + s.path("lines") + "); n = 0; while ~feof(f), fscanf(f, '%d'); n = ftell(f); end; fclose(f);",
       "double 1x1 [1e+06]"},
      {"one long line", "f = fopen(" + s.path("long") + ", 'rt'); n = numel(fgetl(f)); fclose(f);",
       "double 1x1 [100000]"},
  };
  for (const auto& loop : loops) {
    const int64_t before = system_reads();
    ASSERT_EQ(s.run(loop.code + "\n"), kOk) << loop.what << s.take_output();
    const int64_t reads = system_reads() - before;
    // A million bytes fill the buffer about 16 times; reading a byte per
    // system call made a million of them.
    EXPECT_LE(reads, 40) << loop.what;
    EXPECT_EQ(s.value("n"), loop.result) << loop.what;
  }
  // The library's own count agrees: refills, not bytes.
  ReadSeam seam(false);
  ASSERT_EQ(s.run(loops[0].code + "\n"), kOk);
  EXPECT_LE(g_reads, 40);
  EXPECT_GE(g_reads, 16);
  EXPECT_TRUE(s.clean());
}

}  // namespace
