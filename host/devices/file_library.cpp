// Files of ZVR programs over POSIX descriptors. Writes go straight to the
// descriptor (nothing is held back, so nothing is lost at exit); reads come
// through a buffer per slot, which every write, seek or flush gives back
// first, so positions and contents are what unbuffered reads would give.
// Text mode writes every line end as CR LF and reads CR, LF and CR LF as one
// LF, also when a CR LF is split between two reads.
#include "host/devices/file_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "host/devices/posix_io.h"
#include "host/devices/serial_library.h"

namespace {

constexpr int kNoFile = -1;
constexpr int32_t kNoBase = -1;
constexpr int kTooManyOpenFiles = 304;
constexpr double kOpenFailed = -1;
constexpr int kFileMode = 0666;  // before the umask, as every program creates files
// Bytes converted per write in text mode.
constexpr int kTextChunk = 4096;

// Bytes a slot reads from the system at a time. A line read asks for one
// byte per call; the buffer turns that into one system read per this many.
constexpr int32_t kReadBuffer = 64 * 1024;

struct FileSlot {
  int fd = kNoFile;
  bool text = false;
  bool cr_pending = false;  // the last byte a text read delivered came from a CR
  // Which file this is: a write through another slot of the same file makes
  // this slot's buffered bytes stale.
  dev_t dev = 0;
  ino_t ino = 0;
  // Read ahead, not yet delivered: buffer[head, tail). The descriptor's own
  // position lies tail - head bytes past the position the program sees.
  int32_t head = 0;
  int32_t tail = 0;
};

FileSlot g_slots[kFileSlots];
char g_buffers[kFileSlots][kReadBuffer];  // untouched pages cost nothing
int32_t g_base = kNoBase;
FilePlatformRead g_platform_read = nullptr;

int64_t platform_read(int fd, char* buffer, int64_t length) {
  return g_platform_read ? g_platform_read(fd, buffer, length) : devio::read_some(fd, buffer, length);
}

char* buffer_of(const FileSlot* s) { return g_buffers[s - g_slots]; }
int32_t buffered(const FileSlot* s) { return s->tail - s->head; }

FileSlot* slot_of(int32_t fd) {
  if (g_base == kNoBase || fd < g_base || fd >= g_base + kFileSlots) return nullptr;
  FileSlot* s = &g_slots[fd - g_base];
  return s->fd == kNoFile ? nullptr : s;
}

void close_slot(FileSlot* s) {
  ::close(s->fd);
  *s = FileSlot{};
}

void close_files() {
  for (FileSlot& s : g_slots)
    if (s.fd != kNoFile) close_slot(&s);
}

// Gives the bytes read ahead back: the descriptor returns to the position
// the program sees, so that a write lands there and the next read sees what
// the file holds then.
bool give_back(FileSlot* s) {
  if (buffered(s) > 0 && ::lseek(s->fd, -off_t(buffered(s)), SEEK_CUR) < 0) return false;
  s->head = s->tail = 0;
  return true;
}

// The file of `s` changes (written through s, or truncated by an open):
// every other slot of that file forgets what it read ahead.
void drop_other_buffers(const FileSlot* s) {
  for (FileSlot& o : g_slots)
    if (&o != s && o.fd != kNoFile && o.dev == s->dev && o.ino == s->ino) give_back(&o);
}

// Text mode: each CR, LF, CR LF or LF CR becomes CR LF.
bool write_text(int fd, const char* bytes, int32_t length) {
  char out[kTextChunk + 2];
  int n = 0;
  for (int32_t i = 0; i < length; ++i) {
    const char ch = bytes[i];
    if (ch == '\r' || ch == '\n') {
      const char other = ch == '\r' ? '\n' : '\r';
      if (i + 1 < length && bytes[i + 1] == other) ++i;
      out[n++] = '\r';
      out[n++] = '\n';
    } else {
      out[n++] = ch;
    }
    if (n >= kTextChunk) {
      if (!devio::write_all(fd, out, n)) return false;
      n = 0;
    }
  }
  return devio::write_all(fd, out, n);
}

// One raw byte of a text read: CR gives LF, an LF right after a CR gives
// nothing (false).
bool text_byte(FileSlot* s, char ch, char* out) {
  if (ch == '\n' && s->cr_pending) {
    s->cr_pending = false;
    return false;
  }
  s->cr_pending = ch == '\r';
  *out = ch == '\r' ? '\n' : ch;
  return true;
}

// Converts the bytes just read in place; returns the bytes kept.
int32_t convert_text(FileSlot* s, char* bytes, int32_t n) {
  int32_t kept = 0;
  for (int32_t i = 0; i < n; ++i) kept += text_byte(s, bytes[i], bytes + kept);
  return kept;
}

// Hands buffered bytes over, converted in text mode, up to `room` delivered
// bytes. Text mode takes a raw byte only while there is room for what it
// gives: the bytes taken are the shortest run that fills the room, as an
// unbuffered read would have taken them, and an LF after the last CR stays
// for the next read.
int32_t deliver(FileSlot* s, char* out, int32_t room) {
  const char* in = buffer_of(s);
  if (!s->text) {
    const int32_t n = buffered(s) < room ? buffered(s) : room;
    if (n == 1) {
      *out = in[s->head];  // a line read's byte: no call for it
    } else {
      std::memcpy(out, in + s->head, size_t(n));
    }
    s->head += n;
    return n;
  }
  int32_t kept = 0;
  while (kept < room && s->head < s->tail) kept += text_byte(s, in[s->head++], out + kept);
  return kept;
}

int open_flags(char first, bool* append, int* flags) {
  *append = false;
  switch (first) {
    case 0:
    case 'r': *flags = O_RDONLY; return kOk;
    case 'w': *flags = O_RDWR | O_CREAT | O_TRUNC; return kOk;
    case 'a':
      *flags = O_RDWR;
      *append = true;
      return kOk;
    default: return kUnknownOption;
  }
}

// Opens a regular file (a directory is no file to read or write).
int open_file(const char* path, int flags, bool append, struct stat* st) {
  const int fd = ::open(path, flags | O_CLOEXEC, kFileMode);
  if (fd < 0) return kNoFile;
  if (::fstat(fd, st) != 0 || S_ISDIR(st->st_mode) || (append && ::lseek(fd, 0, SEEK_END) < 0)) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

// The first two characters of the mode argument (0 where there are none).
int mode_chars(EngineContext* ctx, int depth, char* first, char* second) {
  if (!stk_is_char(ctx, depth)) return kWrongArgType;
  TypedView t;
  if (!typed_view(ctx, depth, &t)) return kWrongArgType;
  const auto at = [&](int64_t i) { return i < t.count ? char(tn::load<uint16_t>(t.elems + 2 * i)) : char(0); };
  *first = at(0);
  *second = at(1);
  return kOk;
}

// A seek from the current position counts from the position the program
// sees. A failed seek leaves the position and the buffer as they were.
int seek(FileSlot* s, off_t offset, int whence) {
  if (whence == SEEK_CUR) offset -= buffered(s);
  if (::lseek(s->fd, offset, whence) < 0) return kReadWriteError;
  s->head = s->tail = 0;
  return kOk;
}

}  // namespace

void fileio_table_init() {
  close_files();
  g_base = kNoBase;
  serialio_table_init();
}

void fileio_close_all() {
  close_files();
  serialio_close_all();
}

int bi_fopen(EngineContext* ctx, int nargin, int, uintptr_t) {
  if (nargin < 1) return kTooFewInputs;
  if (nargin > 2) return kTooManyInputs;
  if (g_base == kNoBase) {
    const int32_t base = fd_alloc(ctx, kFileDescriptorBlock);
    if (base < 0) return kTooManyOpenFiles;
    g_base = base;
  }
  char first = 0, second = 0;
  if (nargin == 2) TN_TRY(mode_chars(ctx, 0, &first, &second));
  bool append = false;
  int flags = 0;
  TN_TRY(open_flags(first, &append, &flags));
  int slot = 0;
  while (slot < kFileSlots && g_slots[slot].fd != kNoFile) ++slot;
  if (slot == kFileSlots) return kTooManyOpenFiles;

  // A copy of the name in the context's character set, zero-terminated, on
  // top for now (the conversion replaces the item it converts).
  TN_TRY(stk_dup(ctx, nargin - 1, 1));
  uint8_t* name = nullptr;
  int32_t length = 0;
  if (const int status = stk_get_wstring(ctx, 0, 1, &name, &length); status != kOk) {
    stk_drop(ctx);
    return status;
  }
  struct stat st {};
  const int fd = open_file(reinterpret_cast<const char*>(name), flags, append, &st);
  stk_drop(ctx);
  const int status = stk_push_real(ctx, fd == kNoFile ? kOpenFailed : double(g_base + slot));
  if (status != kOk) {
    if (fd != kNoFile) ::close(fd);
    return status;
  }
  if (fd != kNoFile) {
    FileSlot& s = g_slots[slot];
    s = FileSlot{};
    s.fd = fd;
    s.text = first != 0 && second == 't';
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    if (flags & O_TRUNC) drop_other_buffers(&s);
    io_note_open(g_base + slot);
  }
  return stk_remove(ctx, 1, nargin);
}

int file_write_hook(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  FileSlot* s = slot_of(fd);
  if (!s) return kNotMyDescriptor;
  if (length <= 0) return kOk;
  if (!give_back(s)) return kReadWriteError;
  drop_other_buffers(s);
  const bool ok = s->text ? write_text(s->fd, bytes, length) : devio::write_all(s->fd, bytes, length);
  return ok ? kOk : kReadWriteError;
}

// Fills the caller's buffer up to the capacity or the end of the file, from
// the slot's buffer while it holds bytes; a read of a buffer's size or more
// goes to the caller's buffer directly. Text mode converts each piece as it
// arrives, so a CR LF split between two reads (or two calls) still gives one LF.
int file_read_hook(EngineContext*, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t) {
  FileSlot* s = slot_of(fd);
  if (!s) return kNotMyDescriptor;
  *count = 0;
  if (capacity < 1) return kOk;
  while (*count < capacity) {
    if (buffered(s) > 0) {
      *count += deliver(s, buffer + *count, capacity - *count);
      continue;
    }
    const int32_t want = capacity - *count;
    const bool direct = want >= kReadBuffer;
    char* into = direct ? buffer + *count : buffer_of(s);
    const int64_t n = platform_read(s->fd, into, direct ? want : kReadBuffer);
    if (n < 0) return kReadWriteError;
    if (n == 0) break;
    if (direct) {
      *count += s->text ? convert_text(s, into, int32_t(n)) : int32_t(n);
    } else {
      s->head = 0;
      s->tail = int32_t(n);
    }
  }
  return *count == 0 ? kEndOfFile : kOk;
}

int file_close_hook(EngineContext*, int32_t fd, uintptr_t) {
  if (fd == kCloseAllFd) {
    close_files();
    return kOk;
  }
  FileSlot* s = slot_of(fd);
  if (!s) return kNotMyDescriptor;
  close_slot(s);
  return kOk;
}

// The in/out word is unsigned: a position from the beginning, or a signed
// offset for the relative seeks. A position the word cannot hold is a
// failure rather than a wrapped number.
int file_control_hook(EngineContext*, int32_t fd, uint32_t request, uint32_t* word, uintptr_t) {
  FileSlot* s = slot_of(fd);
  if (!s) return kNotMyDescriptor;
  switch (request) {
    case kIoReqEof: {
      // Bytes read ahead lie before the end: the next read delivers them.
      if (buffered(s) > 0) {
        *word = 0;
        return kOk;
      }
      struct stat st {};
      const off_t at = ::lseek(s->fd, 0, SEEK_CUR);
      if (at < 0 || ::fstat(s->fd, &st) != 0) return kReadWriteError;
      *word = at >= st.st_size ? 1 : 0;
      return kOk;
    }
    case kIoReqSeekSet: return seek(s, off_t(*word), SEEK_SET);
    case kIoReqSeekCur: return seek(s, off_t(int32_t(*word)), SEEK_CUR);
    case kIoReqSeekEnd: return seek(s, off_t(int32_t(*word)), SEEK_END);
    case kIoReqTell: {
      off_t at = ::lseek(s->fd, 0, SEEK_CUR);
      if (at < 0) return kReadWriteError;
      at -= buffered(s);
      if (at > off_t(UINT32_MAX)) return kReadWriteError;
      *word = uint32_t(at);
      return kOk;
    }
    // Every write has reached the system already; what was read ahead is
    // given back, so the next read sees the file as others left it.
    case kIoReqFlush: return give_back(s) ? kOk : kReadWriteError;
    default: return kIllegalError;
  }
}

void fileio_set_platform_read(FilePlatformRead fn) { g_platform_read = fn; }
