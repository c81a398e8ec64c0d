// The file reader of the library path: whole regular files, a name matched
// ignoring case when the exact one is missing, and refusals; what is no
// regular file (a FIFO, a directory, a device) is not found, at once, both
// for the reader and for `use` and `help` along the path.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/core/status.h"
#include "engine/lib/help.h"
#include "engine/lib/libpath.h"
#include "runtime/readlib_file_reader.h"
#include "support/fn_fakes.h"
#include "support/zvr_session.h"

namespace {

namespace fs = std::filesystem;

struct Reader : ::testing::Test {
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() / ("tn_readlib_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  void write(const char* name, const std::string& text) { std::ofstream(dir / name, std::ios::binary) << text; }
  int read(const std::string& name, std::string* out, int32_t size = 64) {
    std::string buffer(size_t(size), '\0');
    int32_t length = -1;
    const int status = readlib_file_reader((dir / name).c_str(), 0, buffer.data(), size, &length);
    if (status == kOk) *out = buffer.substr(0, size_t(length));
    return status;
  }
};

TEST_F(Reader, ExactThenCaseInsensitiveName) {
  write("PathLib.zvl", "text one");
  std::string got;
  EXPECT_EQ(read("PathLib.zvl", &got), kOk);
  EXPECT_EQ(got, "text one");
  EXPECT_EQ(read("pathlib.ZVL", &got), kOk);
  EXPECT_EQ(got, "text one");
  EXPECT_EQ(read("pathlib.zv", &got), kFileNotFound);
}

TEST_F(Reader, RefusesDirectoriesMissingFilesAndFilesTooLarge) {
  fs::create_directories(dir / "sub.zvl");
  write("big.zvl", std::string(65, 'x'));
  write("empty.zvl", "");
  std::string got = "unchanged";
  EXPECT_EQ(read("sub.zvl", &got), kFileNotFound);
  EXPECT_EQ(read("none.zvl", &got), kFileNotFound);
  EXPECT_EQ(read("big.zvl", &got), kFileNotFound);
  EXPECT_EQ(read("big.zvl", &got, 65), kOk);
  EXPECT_EQ(got.size(), 65u);
  EXPECT_EQ(read("empty.zvl", &got), kOk);
  EXPECT_EQ(got, "");
}

// Counts the opens of a FIFO by a reader: a writer's open that does not wait
// succeeds only while someone has the FIFO open for reading, and it frees a
// reader blocked in its open, so a reader that opens the FIFO is always seen
// and never left waiting.
class FifoWatch {
 public:
  explicit FifoWatch(fs::path fifo) : fifo_(std::move(fifo)), thread_([this] { watch(); }) {}
  ~FifoWatch() { finish(); }
  int finish() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return opens_;
  }

 private:
  void watch() {
    while (!done_) {
      const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        ++opens_;
        ::close(fd);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  fs::path fifo_;
  std::atomic<bool> done_{false};
  int opens_ = 0;
  std::thread thread_;
};

// A FIFO is never opened (its open would wait for a writer), nor a device
// (opening one may act on it): neither is a file to read, whatever its name.
TEST_F(Reader, RefusesFifosAndDevicesWithoutOpeningThem) {
  ASSERT_EQ(::mkfifo((dir / "pipe.zvl").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", dir / "null.zvl");
  fs::create_symlink(dir / "pipe.zvl", dir / "link.zvl");
  std::string got = "unchanged";
  for (const char* name : {"pipe.zvl", "PIPE.zvl", "link.zvl", "null.zvl", "NULL.ZVL"}) {
    FifoWatch watch(dir / "pipe.zvl");
    EXPECT_EQ(read(name, &got), kFileNotFound) << name;
    EXPECT_EQ(watch.finish(), 0) << name << " was opened";
  }
  int32_t length = 0;
  char buffer[8];
  EXPECT_EQ(readlib_file_reader("/dev/null", 0, buffer, sizeof buffer, &length), kFileNotFound);
  EXPECT_EQ(got, "unchanged");
}

// `use` and `help` as a user runs them, the path leading to a folder where a
// FIFO, a folder and a device stand under library and help file names.
class ReaderOnThePath : public Reader {
 protected:
  BuiltinEntry rows[3] = {};

  void SetUp() override {
    Reader::SetUp();
    rows[0] = hook_row("+readlib", libpath_readlib_hook, reinterpret_cast<uintptr_t>(&readlib_file_reader));
    rows[1] = fn_row("help", bi_help, 0, 1, 0, 1);
    const std::string folder = dir.string();
    ASSERT_EQ(libpath_set(folder.c_str(), int32_t(folder.size()), nullptr, 0), kOk);
    ASSERT_EQ(::mkfifo((dir / "fifolib.zvl").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "ZVR.hlp").c_str(), 0600), 0);
    fs::create_directories(dir / "dirlib.zvl");
    fs::create_symlink("/dev/null", dir / "devlib.zvl");
    fs::create_symlink("/dev/null", dir / "other.hlp");
    write("goodlib.zvl", "function y = twice(x)\n% twice(x)\n% Doubles x.\n  y = 2 * x;\nendfunction\n");
  }
  void TearDown() override {
    libpath_set("", 0, nullptr, 0);
    Reader::TearDown();
  }
  // A session of its own for each use: a library that was not found stays
  // the command line's to load.
  void start(ZvrSession& s) { ASSERT_EQ(engine_register_builtin_table(s.c, rows, 1), kOk); }
};

TEST_F(ReaderOnThePath, UseAndHelpOfWhatIsNoRegularFileFailAtOnce) {
  for (const char* lib : {"fifolib", "dirlib", "devlib"}) {
    ZvrSession s;
    start(s);
    FifoWatch library(dir / "fifolib.zvl"), help(dir / "ZVR.hlp");
    EXPECT_EQ(s.run("help sin\n"), kOk);
    EXPECT_EQ(s.take_output(), "Sorry, no help about sin\n");
    EXPECT_EQ(s.run(std::string("use ") + lib + "\n"), kLibraryNotFound) << lib;
    frame_unwind(s.c, 0);
    EXPECT_EQ(s.take_output(), std::string("Library not found '") + lib + "'\n");
    EXPECT_EQ(library.finish() + help.finish(), 0) << lib;
    EXPECT_TRUE(s.clean());
  }
  // A regular file beside them is a library as ever.
  ZvrSession s;
  start(s);
  ASSERT_EQ(s.run("use goodlib\nfunction r = user(x)\n  r = twice(x);\nendfunction\n"), kOk) << s.take_output();
  EXPECT_EQ(s.value("user(4)"), "double 1x1 [8]");
  EXPECT_EQ(s.run("help twice\n"), kOk);
  EXPECT_EQ(s.take_output(), " twice(x)\n Doubles x.\n");
  EXPECT_TRUE(s.clean());
}

}  // namespace
