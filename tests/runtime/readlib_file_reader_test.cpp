// The file reader of the library path: whole regular files, a name matched
// ignoring case when the exact one is missing, and refusals.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/core/status.h"
#include "runtime/readlib_file_reader.h"

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

}  // namespace
