// The file library as ZVR programs use it, through the real stream layer
// with the host's table registered in front: slots and descriptors, open
// modes, text mode both ways, end of file, seeks and tells (also past what
// the 32-bit word holds), closing all, and launchurl.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/devices/device_session.h"
#include "host/devices/file_library.h"

namespace {

TEST(FileLibrary, ThirtyThirdOpenFailsAndAFreedSlotComesBackWithItsNumber) {
  DeviceSession s;
  ASSERT_EQ(s.run("fds = zeros(1, 32); for k = 1:32, fds(k) = fopen(" + s.path("f") + " , 'w'); end\n"), kOk);
  EXPECT_EQ(s.value("all(fds == 1024 + (0:31))"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("fopen(" + s.path("g") + ", 'w')"), "error 304");
  EXPECT_TRUE(std::filesystem::exists(s.dir / "f"));
  EXPECT_FALSE(std::filesystem::exists(s.dir / "g")) << "nothing is created when no slot is free";
  ASSERT_EQ(s.run("fclose(fds(8));\n"), kOk);
  EXPECT_EQ(s.value("fopen(" + s.path("g") + ", 'w')"), "double 1x1 [1031]");
  EXPECT_EQ(s.value("fopen(" + s.path("h") + ", 'w')"), "error 304");
  EXPECT_TRUE(s.clean());
}

TEST(FileLibrary, OpenModes) {
  DeviceSession s;
  s.write_file("have", "abc");
  const struct {
    std::string call;
    std::string result;
  } cases[] = {
      {"fopen(" + s.path("missing") + ", 'r')", "double 1x1 [-1]"},
      {"fopen(" + s.path("missing") + ", 'a')", "double 1x1 [-1]"},
      {"fopen(" + s.path("missing") + ")", "double 1x1 [-1]"},
      {"fopen(" + s.path("missing") + ", '')", "double 1x1 [-1]"},
      {"fopen(" + s.path("have") + ", 'x')", "error 108"},
      {"fopen(42)", "error 43"},  // the conversion of the name refuses it
      {"fopen(" + s.path("have") + ", 7)", "error 44"},
      {"fopen(" + s.path("") + ", 'r')", "double 1x1 [-1]"},  // a directory is no file
  };
  for (const auto& c : cases) EXPECT_EQ(s.value(c.call), c.result) << c.call;
  // "w" creates and truncates; "a" appends to what is there; "r" reads only.
  ASSERT_EQ(s.run("f = fopen(" + s.path("new") + ", 'w'); fwrite(f, 'xy'); fclose(f);\n"
                  "f = fopen(" + s.path("have") + ", 'a'); fwrite(f, 'de'); fclose(f);\n"),
            kOk) << s.take_output();
  EXPECT_EQ(s.file_text("new"), "xy");
  EXPECT_EQ(s.file_text("have"), "abcde");
  ASSERT_EQ(s.run("f = fopen(" + s.path("have") + ", 'r');\n"), kOk);
  EXPECT_EQ(s.value("fwrite(f, 'z')"), "error 302");
  EXPECT_EQ(s.value("fread(f, Inf, '*char')"), "'abcde'");
  ASSERT_EQ(s.run("fclose(f); f = fopen(" + s.path("have") + ", 'w'); fclose(f);\n"), kOk);
  EXPECT_EQ(s.file_text("have"), "");
  EXPECT_TRUE(s.clean());
}

TEST(FileLibrary, TextModeWritesEveryLineEndAsCrLf) {
  DeviceSession s;
  ASSERT_EQ(s.run("f = fopen(" + s.path("t") + ", 'wt'); fwrite(f, ['a' 10 'b' 13 10 'c' 13]);"
                  " fwrite(f, [10 13 'd' 13 13]); fclose(f);\n"),
            kOk);
  EXPECT_EQ(s.file_text("t"), "a\r\nb\r\nc\r\n\r\nd\r\n\r\n");
  // Binary mode keeps every byte.
  ASSERT_EQ(s.run("f = fopen(" + s.path("b") + ", 'w'); fwrite(f, ['a' 10 'b' 13]); fclose(f);\n"), kOk);
  EXPECT_EQ(s.file_text("b"), "a\nb\r");
}

TEST(FileLibrary, TextModeReadsCrLfAsOneLineEndAlsoWhenAReadEndsBetween) {
  DeviceSession s;
  s.write_file("t", "x\r\ny\rz");
  // Split after every byte but the last: the first read asks for k bytes
  // (each read fills what it asks for, so k = 2 ends between the CR and the LF).
  for (int k = 1; k <= 4; ++k) {
    ASSERT_EQ(s.run("f = fopen(" + s.path("t") + ", 'rt'); a = fread(f, " + std::to_string(k) +
                    ", '*char'); b = fread(f, Inf, '*char'); fclose(f);\n"),
              kOk) << k;
    EXPECT_EQ(s.value("double([a b])"), "double 1x5 [120 10 121 10 122]") << "first read of " << k << " bytes";
  }
  // Line by line.
  ASSERT_EQ(s.run("f = fopen(" + s.path("t") + ", 'rt');\n"), kOk);
  EXPECT_EQ(s.value("fgetl(f)"), "'x'");
  EXPECT_EQ(s.value("fgets(f)"), "'y\n'");
  EXPECT_EQ(s.value("fgetl(f)"), "'z'");
  EXPECT_EQ(s.value("feof(f)"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("fgetl(f)"), "''");
  EXPECT_TRUE(s.clean());
}

TEST(FileLibrary, EndOfFileSeekAndTell) {
  DeviceSession s;
  s.write_file("empty", "");
  s.write_file("ten", "0123456789");
  ASSERT_EQ(s.run("e = fopen(" + s.path("empty") + "); f = fopen(" + s.path("ten") + ");\n"), kOk);
  EXPECT_EQ(s.value("feof(e)"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("fread(e)"), "error 305");
  EXPECT_EQ(s.value("fgetl(e)"), "''");
  const struct {
    const char* code;
    const char* result;
  } steps[] = {
      {"feof(f)", "logical 1x1 [0]"},
      {"fseek(f, 4)", "double 1x1 [0]"},
      {"ftell(f)", "double 1x1 [4]"},
      {"fseek(f, -3, 'cof')", "double 1x1 [0]"},
      {"ftell(f)", "double 1x1 [1]"},
      {"fseek(f, -2, 'e')", "double 1x1 [0]"},
      {"char(fread(f)')", "'89'"},
      {"feof(f)", "logical 1x1 [1]"},
      {"fseek(f, -1, 'bof')", "double 1x1 [-1]"},  // before the beginning
      {"fseek(f, -20, 'c')", "double 1x1 [-1]"},
      {"ftell(f)", "double 1x1 [10]"},
      {"fseek(f, 2, 'x')", "error 108"},
      {"fseek(f, 2, '')", "error 108"},
      {"fseek(f, 2, 5)", "error 44"},
      {"fseek(f, 2.9, 'b')", "double 1x1 [0]"},
      {"ftell(f)", "double 1x1 [2]"},
      {"fseek(f, 2^33, 'b')", "double 1x1 [-1]"},  // the word cannot hold it
      {"ftell(f)", "double 1x1 [2]"},
  };
  for (const auto& st : steps) EXPECT_EQ(s.value(st.code), st.result) << st.code;
  // As statements: no value and no display.
  s.take_output();
  ASSERT_EQ(s.run("fseek(f, 0)\nfseek(f, -100, 'c')\n"), kOk);
  EXPECT_EQ(s.take_output(), "");
  EXPECT_TRUE(s.clean());
}

TEST(FileLibrary, TellPastTheWordGivesMinusOneNotAWrappedPosition) {
  DeviceSession s;
  {
    std::ofstream(s.dir / "sparse").put('x');
  }
  std::error_code ec;
  std::filesystem::resize_file(s.dir / "sparse", (uint64_t(1) << 32) + 7, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  ASSERT_EQ(s.run("f = fopen(" + s.path("sparse") + ");\n"), kOk);
  EXPECT_EQ(s.value("fseek(f, 0, 'e')"), "double 1x1 [0]");
  EXPECT_EQ(s.value("ftell(f)"), "double 1x1 [-1]");
  EXPECT_EQ(s.value("feof(f)"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("fseek(f, -8, 'c')"), "double 1x1 [0]");
  EXPECT_EQ(s.value("ftell(f) == 2^32 - 1"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("fread(f, 1)"), "double 1x1 [0]");
  EXPECT_EQ(s.value("ftell(f)"), "double 1x1 [-1]");
  std::filesystem::remove(s.dir / "sparse", ec);
}

TEST(FileLibrary, ClosingAndDescriptorsNobodyOwns) {
  DeviceSession s;
  ASSERT_EQ(s.run("a = fopen(" + s.path("a") + ", 'w'); b = fopen(" + s.path("b") + ", 'w');\n"), kOk);
  EXPECT_EQ(s.value("fclose(a)"), "error 187") << "fclose has no output";
  ASSERT_EQ(s.run("fclose(a);\n"), kOk);
  EXPECT_EQ(s.value("fwrite(a, 1)"), "error 301");
  ASSERT_EQ(s.run("fclose(a)\n"), kNotMyDescriptor);
  ASSERT_EQ(s.run("fclose('all');\n"), kOk);
  EXPECT_EQ(s.value("fwrite(b, 1)"), "error 301");
  EXPECT_EQ(s.value("fgetl(b)"), "error 301");
  EXPECT_EQ(s.value("feof(b)"), "error 301");
  EXPECT_EQ(s.value("ftell(b)"), "error 301");
  EXPECT_EQ(s.run("fflush(b);\n"), kNotMyDescriptor);
  EXPECT_EQ(s.run("fclose('al');\n"), kUnknownOption);
  EXPECT_EQ(s.run("fclose({});\n"), kWrongArgType);
  // The slots are free again.
  EXPECT_EQ(s.value("fopen(" + s.path("c") + ", 'w')"), "double 1x1 [1024]");
  ASSERT_EQ(s.run("fflush(1024);\n"), kOk);
  fileio_close_all();
  EXPECT_EQ(s.value("fwrite(1024, 1)"), "error 301") << "closed at quit";
}

// A program as users write it: a file written with fprintf, read back line
// by line, sought and read as bytes, and closed.
TEST(FileLibrary, AProgramWritesReadsSeeksAndCloses) {
  DeviceSession s;
  const std::string program =
      "f = fopen(" + s.path("data.txt") + ", 'wt');\n"
      "for k = 1:3\n"
      "  fprintf(f, 'row %d: %g\\n', k, k / 4);\n"
      "end\n"
      "fclose(f);\n"
      "f = fopen(" + s.path("data.txt") + ", 'rt');\n"
      "lines = {};\n"
      "while ~feof(f)\n"
      "  lines{end + 1} = fgetl(f);\n"
      "end\n"
      "fseek(f, 7, 'bof');\n"
      "[v, n] = fread(f, 4, '*char');\n"
      "fseek(f, -6, 'eof');\n"
      "tail = fgets(f);\n"
      "fclose(f);\n"
      "fprintf('%s|', lines{:}); fprintf('%s %d [%s]\\n', v', n, tail(1:end-1));\n";
  ASSERT_EQ(s.run(program), kOk) << s.take_output();
  // The console's end of line is CR LF.
  EXPECT_EQ(s.take_output(), "row 1: 0.25|row 2: 0.5|row 3: 0.75|0.25 4 [0.75]\r\n");
  EXPECT_EQ(s.file_text("data.txt"), "row 1: 0.25\r\nrow 2: 0.5\r\nrow 3: 0.75\r\n");
  EXPECT_TRUE(s.clean());
}

struct Launch {
  std::vector<std::string> texts;
  bool answer = true;
};

bool record_launch(void* context, const char* text) {
  auto* l = static_cast<Launch*>(context);
  l->texts.push_back(text);
  return l->answer;
}

TEST(FileLibrary, LaunchurlHandsTheTextOverWhole) {
  DeviceSession s;
  Launch launch;
  launchurl_set_launcher(record_launch, &launch);
  EXPECT_EQ(s.value("launchurl('https://example.org/a b?x=1&y=$(rm -rf ~)')"), "logical 1x1 [1]");
  launch.answer = false;
  EXPECT_EQ(s.value("launchurl('mailto:\xc3\xa9@x')"), "logical 1x1 [0]");
  EXPECT_EQ(s.value("launchurl(42)"), "error 44");
  EXPECT_EQ(s.value("launchurl({'a'})"), "error 44");
  s.take_output();
  ASSERT_EQ(s.run("launchurl('file:///tmp')\nlaunchurl('x');\n"), kOk);
  EXPECT_EQ(s.take_output(), "") << "a statement shows nothing";
  launchurl_set_launcher(nullptr, nullptr);
  const std::vector<std::string> expected = {"https://example.org/a b?x=1&y=$(rm -rf ~)", "mailto:\xc3\xa9@x",
                                             "file:///tmp", "x"};
  EXPECT_EQ(launch.texts, expected);
  EXPECT_TRUE(s.clean());
}

TEST(FileLibrary, TheDefaultOpenerStartsOnlyAProgramThatExists) {
  // Run with an empty search path: no opener can be found, so false, and no
  // shell ever interprets the text.
  const char* saved = std::getenv("PATH");
  const std::string keep = saved ? saved : "";
  ::setenv("PATH", "/nonexistent", 1);
  EXPECT_FALSE(launchurl_xdg_open(nullptr, "http://example.org/;touch /tmp/tn_never"));
  ::setenv("PATH", keep.c_str(), 1);
  EXPECT_FALSE(std::filesystem::exists("/tmp/tn_never"));
}

}  // namespace
