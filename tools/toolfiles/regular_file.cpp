// Bounded reads of regular files for the command-line tools. The file is
// opened without blocking and judged by fstat on the descriptor read, so a
// name swapped for a FIFO between a check and the open cannot stall a tool.
#include "tools/toolfiles/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace toolfiles {

namespace {

constexpr size_t kChunkBytes = size_t(1) << 16;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

ReadResult failed(int error) { return ReadResult{error == ENOENT ? ReadStatus::kMissing : ReadStatus::kFailed, error}; }

template <class Bytes>
ReadResult read_into(const std::string& path, uint64_t limit, Bytes* bytes) {
  bytes->clear();
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return failed(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failed(errno);
  if (!S_ISREG(st.st_mode)) return ReadResult{ReadStatus::kNotRegular, 0};
  if (uint64_t(st.st_size) > limit) return ReadResult{ReadStatus::kTooLarge, 0};
  bytes->reserve(size_t(st.st_size));
  // The size is a hint: a file that grows while it is read (or one of the
  // kernel's, which say 0) is read to its end, but never past the limit.
  for (;;) {
    const uint64_t room = limit + 1 - bytes->size();
    const size_t want = size_t(room < kChunkBytes ? room : kChunkBytes);
    const size_t at = bytes->size();
    bytes->resize(at + want);
    const ssize_t n = ::read(fd.get(), &(*bytes)[at], want);
    if (n < 0 && errno == EINTR) {
      bytes->resize(at);
      continue;
    }
    if (n < 0) {
      const int error = errno;
      bytes->clear();
      return ReadResult{ReadStatus::kFailed, error};
    }
    bytes->resize(at + size_t(n));
    if (n == 0) return ReadResult{};
    if (bytes->size() > limit) {
      bytes->clear();
      return ReadResult{ReadStatus::kTooLarge, 0};
    }
  }
}

}  // namespace

ReadResult read_regular_file(const std::string& path, uint64_t limit, std::string* bytes) {
  return read_into(path, limit, bytes);
}

ReadResult read_regular_file(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes) {
  return read_into(path, limit, bytes);
}

std::string read_failure(const std::string& path, const ReadResult& result, uint64_t limit) {
  std::string why;
  switch (result.status) {
    case ReadStatus::kOk: why = "read"; break;
    case ReadStatus::kMissing: why = std::strerror(ENOENT); break;
    case ReadStatus::kNotRegular: why = "not a regular file"; break;
    case ReadStatus::kTooLarge: why = "larger than " + std::to_string(limit) + " bytes"; break;
    case ReadStatus::kFailed: why = std::strerror(result.error); break;
  }
  return "cannot read " + path + ": " + why;
}

}  // namespace toolfiles
