// The appended application's trailer, description and chunks. Positions are
// 64-bit; the trailer's offset, the description length and every chunk
// length are tested against the bytes left before the trailer, so a damaged
// or foreign file never leads to a large allocation or a read past the block.
#include "host/appended/appended_reader.h"

#include <zlib.h>

#include <cstdlib>

namespace {

constexpr int64_t kWordBytes = 4;

bool read_exact(AppendedStream* s, void* to, int64_t n) {
  if (n < 0 || n > s->end - s->at) return false;
  if (n > 0 && std::fread(to, 1, size_t(n), s->file) != size_t(n)) return false;
  s->at += n;
  return true;
}

bool read_u32(AppendedStream* s, uint32_t* v) {
  uint8_t b[kWordBytes];
  if (!read_exact(s, b, kWordBytes)) return false;
  *v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return true;
}

bool seek(AppendedStream* s, int64_t to) {
  if (std::fseek(s->file, long(to), SEEK_SET) != 0) return false;
  s->at = to;
  return true;
}

bool read_block_start(AppendedStream* s) {
  if (std::fseek(s->file, 0, SEEK_END) != 0) return false;
  const int64_t size = std::ftell(s->file);
  if (size < kWordBytes) return false;
  s->end = size;
  uint32_t offset = 0;
  if (!seek(s, size - kWordBytes) || !read_u32(s, &offset)) return false;
  s->end = size - kWordBytes;
  return int64_t(offset) <= s->end && seek(s, offset);
}

bool read_description(AppendedStream* s, AppendedDescription* d) {
  uint32_t length = 0;
  if (!read_u32(s, &length)) return false;
  const int64_t with_zero = int64_t(length) + 1;
  if (with_zero > s->end - s->at) return false;
  char* text = static_cast<char*>(std::malloc(size_t(with_zero)));
  if (!text) return false;
  if (!read_exact(s, text, with_zero)) {
    std::free(text);
    return false;
  }
  d->text = text;
  d->length = length;
  return true;
}

}  // namespace

void appended_description_free(AppendedDescription* d) {
  std::free(d->text);
  d->text = nullptr;
  d->length = 0;
}

void appended_close(AppendedStream* s) {
  if (s->file) std::fclose(s->file);
  s->file = nullptr;
}

bool appended_open(const char* path, AppendedStream* s, AppendedDescription* d) {
  return appended_open_file(std::fopen(path, "rb"), s, d);
}

bool appended_open_file(std::FILE* file, AppendedStream* s, AppendedDescription* d) {
  appended_description_free(d);
  *s = AppendedStream{file, 0, 0};
  if (!s->file) return false;
  if (!read_block_start(s) || !read_description(s, d)) {
    appended_close(s);
    return false;
  }
  return true;
}

bool appended_chunk_read(void* destination, uint32_t bytes, void* stream) {
  auto* s = static_cast<AppendedStream*>(stream);
  uint32_t length = 0;
  if (!s || !s->file || !read_u32(s, &length)) return false;
  // Even an empty request needs a whole (empty) zlib stream.
  if (length == 0 || int64_t(length) > s->end - s->at) return false;
  uint8_t* packed = static_cast<uint8_t*>(std::malloc(length));
  if (!packed) return false;
  bool ok = read_exact(s, packed, length);
  if (ok) {
    // A zero-byte request inflates into a spare byte of room: with no room
    // at all zlib inflates into one byte of its own and reports no error,
    // so a chunk of one byte would pass; only an empty stream leaves the
    // spare byte unwritten.
    uint8_t spare = 0;
    Bytef* to = bytes > 0 ? static_cast<Bytef*>(destination) : &spare;
    uLongf produced = bytes > 0 ? bytes : sizeof spare;
    ok = uncompress(to, &produced, packed, length) == Z_OK && produced == bytes;
  }
  std::free(packed);
  return ok;
}
