// The files a command-line tool is given by name (a script, a build
// description, its sources, a program to copy) are read through here: only
// a regular file is read, never more than the caller's limit, so that a
// directory, a device (/dev/zero), a FIFO or a runaway file is refused with
// a reason instead of read for ever.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace toolfiles {

// A script, a build description or a source: far above any written by hand
// or generated, far below what would strain the machine.
constexpr uint64_t kTextFileMaxBytes = uint64_t(256) << 20;
// A program that tnpack copies (the appended block's trailer gives its
// length in 32 bits).
constexpr uint64_t kProgramFileMaxBytes = uint64_t(1) << 30;

enum class ReadStatus {
  kOk,
  kMissing,     // no such file (ENOENT)
  kNotRegular,  // a directory, a device, a FIFO, a socket
  kTooLarge,    // more bytes than the limit
  kFailed,      // any other error of open, fstat or read (errno kept)
};

struct ReadResult {
  ReadStatus status = ReadStatus::kOk;
  int error = 0;  // errno of a kFailed result
};

// Reads the regular file at path whole into *bytes (replacing what it held).
// Opening never blocks (a FIFO without a writer is refused at once), and the
// read stops at limit + 1 bytes whatever the file's size says.
ReadResult read_regular_file(const std::string& path, uint64_t limit, std::string* bytes);
ReadResult read_regular_file(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes);

// One line without its end: "cannot read PATH: REASON".
std::string read_failure(const std::string& path, const ReadResult& result, uint64_t limit);

}  // namespace toolfiles
