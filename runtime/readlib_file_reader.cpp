// Library files from the file system. The name is taken as given first; when
// no such file exists, the directory is searched for the one entry whose name
// equals it ignoring ASCII case. Only regular files are read, and only whole.
#include "runtime/readlib_file_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/core/status.h"

namespace {

char ascii_lower(char ch) { return (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch; }

bool equal_ignoring_case(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (ascii_lower(*a) != ascii_lower(*b)) return false;
  return *a == *b;
}

bool fits_regular(const struct stat& st, int32_t size) { return S_ISREG(st.st_mode) && st.st_size <= size; }

// Reads the regular file `path` whole into buffer. Only a regular file is
// opened: a FIFO would block the open until a writer came, and opening a
// device may act on it. The type is checked before the open and again on the
// descriptor, since the name may be given another file in between; the open
// does not wait (O_NONBLOCK) for a FIFO put there meanwhile.
int read_whole(const char* path, char* buffer, int32_t size, int32_t* length) {
  struct stat st {};
  if (::stat(path, &st) != 0 || !fits_regular(st, size)) return kFileNotFound;
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kFileNotFound;
  int status = kFileNotFound;
  // Reads of the regular file wait as usual once its type is known.
  if (::fstat(fd, &st) == 0 && fits_regular(st, size) && ::fcntl(fd, F_SETFL, 0) == 0) {
    int64_t done = 0;
    while (done < st.st_size) {
      const ssize_t n = ::read(fd, buffer + done, size_t(st.st_size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    if (done == st.st_size) {
      *length = int32_t(done);
      status = kOk;
    }
  }
  ::close(fd);
  return status;
}

// The entry of the candidate's directory whose name matches ignoring case.
bool find_case_insensitive(const char* candidate, std::string* match) {
  const char* slash = std::strrchr(candidate, '/');
  const std::string dir = slash ? std::string(candidate, size_t(slash - candidate + 1)) : std::string();
  const char* leaf = slash ? slash + 1 : candidate;
  if (!*leaf) return false;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    if (equal_ignoring_case(e->d_name, leaf)) {
      *match = dir + e->d_name;
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace

int readlib_file_reader(const char* candidate, int, char* buffer, int32_t size, int32_t* length) {
  if (!candidate || !*candidate || !buffer || size < 0 || !length) return kFileNotFound;
  // A name that exists is the file meant, whatever its type.
  struct stat st {};
  if (::stat(candidate, &st) == 0) return read_whole(candidate, buffer, size, length);
  std::string match;
  if (!find_case_insensitive(candidate, &match)) return kFileNotFound;
  return read_whole(match.c_str(), buffer, size, length);
}
