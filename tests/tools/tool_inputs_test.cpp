// The files the tools are given by name: a directory, a device that never
// ends (/dev/zero), a FIFO without a writer, a file past the reader's limit.
// Each tool refuses such a name at once, with one line on standard error and
// its failure status, and writes no output. The tools run under a time
// limit (and, outside the sanitizer build, a memory limit), so that a tool
// that reads for ever fails its case instead of stalling the run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/imagetools/image_packer.h"
#include "tools/toolfiles/regular_file.h"

namespace {

using toolfiles::ReadResult;
using toolfiles::ReadStatus;

constexpr int kToolSeconds = 20;
constexpr int kTimedOut = 124;  // timeout's status for a command it stopped

// Standard output and error of a tool run under the limits, and its exit
// status (kTimedOut when the time limit stopped it).
std::string run_limited(const std::string& command, int* status) {
#if defined(TN_SANITIZED)
  const std::string limits;
#else
  const std::string limits = "ulimit -v 4194304; ";  // KB: 4 GB of address space
#endif
  const std::string line = "(" + limits + "timeout " + std::to_string(kToolSeconds) + " " + command + ") 2>&1";
  std::string out;
  FILE* pipe = popen(line.c_str(), "r");
  if (!pipe) return out;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return out;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// A sparse file of `bytes` bytes: no disk is written for it.
bool sparse_file(const std::string& path, uint64_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = ::ftruncate(fileno(f), off_t(bytes)) == 0;
  return std::fclose(f) == 0 && ok;
}

struct Inputs {
  std::string dir, folder, fifo, zero = "/dev/zero", out;
};

Inputs make_inputs(const std::string& name) {
  Inputs in;
  in.dir = std::string(TOOLS_SCRATCH) + "/" + name;
  EXPECT_EQ(std::system(("rm -rf " + in.dir + " && mkdir -p " + in.dir + "/folder").c_str()), 0);
  in.folder = in.dir + "/folder";
  in.fifo = in.dir + "/fifo";
  EXPECT_EQ(::mkfifo(in.fifo.c_str(), 0600), 0);
  in.out = in.dir + "/out";
  return in;
}

struct Case {
  std::string command;  // the tool and its arguments
  std::string line;     // all it writes, without the line end
  int status;
};

void expect_refused(const std::vector<Case>& cases, const std::string& out) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    std::remove(out.c_str());
    int status = 0;
    EXPECT_EQ(run_limited(c.command, &status), c.line + "\n");
    EXPECT_EQ(status, c.status);
    EXPECT_FALSE(exists(out));
  }
}

const char kNotRegular[] = ": not a regular file";

TEST(ToolInputs, ZvrReadsOnlyARegularScript) {
  const Inputs in = make_inputs("zvr_inputs");
  const std::string zvr = TEST_PROGRAM_PATH;
  const std::string big = in.dir + "/big.zvr";
  ASSERT_TRUE(sparse_file(big, toolfiles::kTextFileMaxBytes + 1));
  const std::string too_large = ": larger than " + std::to_string(toolfiles::kTextFileMaxBytes) + " bytes";
  std::vector<Case> cases;
  for (const std::string& path : {in.folder, in.zero, in.fifo})
    cases.push_back({zvr + " " + path, "zvr: cannot read " + path + kNotRegular, 2});
  cases.push_back({zvr + " " + big, "zvr: cannot read " + big + too_large, 2});
  cases.push_back({zvr + " " + in.dir + "/none.zvr",
                   "zvr: cannot read " + in.dir + "/none.zvr: No such file or directory", 2});
  expect_refused(cases, in.out);
  // A regular script runs.
  const std::string script = in.dir + "/ok.zvr";
  const std::string text = "fprintf(1, 'ran\\n');\n";
  ASSERT_TRUE(tnbuild::write_file(script, std::vector<uint8_t>(text.begin(), text.end())));
  int status = 0;
  EXPECT_EQ(run_limited(zvr + " " + script, &status), "ran\n");
  EXPECT_EQ(status, 0);
}

TEST(ToolInputs, TnbuildReadsOnlyARegularDescriptionAndSources) {
  const Inputs in = make_inputs("tnbuild_inputs");
  const std::string tnbuild = TNBUILD_PATH;
  std::vector<Case> cases;
  for (const std::string& path : {in.folder, in.zero, in.fifo})
    cases.push_back({tnbuild + " " + path + " " + in.out, "tnbuild: cannot read " + path + kNotRegular, 1});
  // An instance's source that is there but no regular file stops the build;
  // one that is not there is an instance without functions.
  const std::string description = in.dir + "/app.tnd";
  const std::string text = "instance demo\ntitle \"Demo\"\n";
  ASSERT_TRUE(tnbuild::write_file(description, std::vector<uint8_t>(text.begin(), text.end())));
  for (const std::string& target : {in.folder, in.zero, in.fifo}) {
    ASSERT_EQ(std::system(("ln -sfn " + target + " " + in.dir + "/demo.zvr").c_str()), 0);
    cases.push_back({tnbuild + " " + description + " " + in.out,
                     "tnbuild: cannot read " + in.dir + "/demo.zvr" + kNotRegular, 1});
  }
  expect_refused(cases, in.out);
  std::remove((in.dir + "/demo.zvr").c_str());
  int status = 0;
  EXPECT_EQ(run_limited(tnbuild + " " + description + " " + in.out, &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(exists(in.out));
}

TEST(ToolInputs, TnpackReadsOnlyRegularFiles) {
  const Inputs in = make_inputs("tnpack_inputs");
  const std::string tnpack = TNPACK_PATH, demo = DEMO_DESCRIPTION;
  const std::string big = in.dir + "/big_program";
  ASSERT_TRUE(sparse_file(big, toolfiles::kProgramFileMaxBytes + 1));
  std::vector<Case> cases;
  for (const std::string& path : {in.folder, in.zero, in.fifo}) {
    cases.push_back({tnpack + " " + demo + " " + path + " " + in.out, "tnpack: cannot read " + path + kNotRegular, 1});
    cases.push_back({tnpack + " " + path + " " + TEST_PROGRAM_PATH + " " + in.out,
                     "tnpack: cannot read " + path + kNotRegular, 1});
    cases.push_back({tnpack + " --flat " + path + " " + in.out, "tnpack: cannot read " + path + kNotRegular, 1});
  }
  cases.push_back({tnpack + " " + demo + " " + big + " " + in.out,
                   "tnpack: cannot read " + big + ": larger than " + std::to_string(toolfiles::kProgramFileMaxBytes) +
                       " bytes",
                   1});
  expect_refused(cases, in.out);
}

// The reader itself: the size fstat gives is only a hint, and the read
// stops past the limit whatever it said (the kernel's files say 0).
TEST(ToolInputs, ReaderStopsAtItsLimitWhateverTheSizeSaid) {
  std::string bytes;
  const ReadResult whole = toolfiles::read_regular_file("/proc/self/status", 1 << 20, &bytes);
  ASSERT_EQ(whole.status, ReadStatus::kOk);
  ASSERT_GT(bytes.size(), 64u);
  const ReadResult cut = toolfiles::read_regular_file("/proc/self/status", 64, &bytes);
  EXPECT_EQ(cut.status, ReadStatus::kTooLarge);
  EXPECT_TRUE(bytes.empty());
  // Exactly at the limit is whole; one byte past it is not.
  const std::string path = std::string(TOOLS_SCRATCH) + "/reader_limit";
  ASSERT_TRUE(tnbuild::write_file(path, std::vector<uint8_t>(100, 'x')));
  std::vector<uint8_t> data;
  EXPECT_EQ(toolfiles::read_regular_file(path, 100, &data).status, ReadStatus::kOk);
  EXPECT_EQ(data.size(), 100u);
  EXPECT_EQ(toolfiles::read_regular_file(path, 99, &data).status, ReadStatus::kTooLarge);
  EXPECT_EQ(toolfiles::read_regular_file(std::string(TOOLS_SCRATCH) + "/no_such_file", 100, &data).status,
            ReadStatus::kMissing);
  EXPECT_EQ(toolfiles::read_failure("f", ReadResult{ReadStatus::kTooLarge, 0}, 99), "cannot read f: larger than 99 bytes");
}

}  // namespace
