// The appended application's trailer, description and chunks. Positions are
// 64-bit; the trailer's offset, the description length and every chunk
// length are tested against the bytes left before the trailer, so a damaged
// or foreign file never leads to a large allocation or a read past the block.
// Each refusal of the trailer or the description is recorded by its reason.
#include "host/appended/appended_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "host/appended/program_image.h"

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

bool refuse(AppendedStream* s, AppendedFault fault) {
  s->fault = fault;
  return false;
}

// The trailer, checked against the program image where its format tells
// where that ends: a block lies behind the image, and a file that ends with
// its image carries none.
bool read_block_start(AppendedStream* s) {
  if (std::fseek(s->file, 0, SEEK_END) != 0) return refuse(s, kAppendedUnreadable);
  const int64_t size = std::ftell(s->file);
  if (size < 0) return refuse(s, kAppendedUnreadable);
  s->file_size = size;
  s->image_end = program_image_end(s->file, size);
  if (s->image_end >= size) return refuse(s, kAppendedNothing);
  if (size - std::max<int64_t>(s->image_end, 0) < kWordBytes) return refuse(s, kAppendedTrailerCut);
  s->end = size;
  uint32_t offset = 0;
  if (!seek(s, size - kWordBytes) || !read_u32(s, &offset)) return refuse(s, kAppendedUnreadable);
  s->end = size - kWordBytes;
  s->offset = offset;
  if (int64_t(offset) > s->end) return refuse(s, kAppendedOffsetPastEnd);
  if (int64_t(offset) < s->image_end) return refuse(s, kAppendedOffsetInImage);
  return seek(s, offset) || refuse(s, kAppendedUnreadable);
}

bool read_description(AppendedStream* s, AppendedDescription* d) {
  uint32_t length = 0;
  s->description_length = -1;  // not even its length fits
  if (!read_u32(s, &length)) return refuse(s, kAppendedDescriptionPastEnd);
  s->description_length = length;
  const int64_t with_zero = int64_t(length) + 1;
  if (with_zero > s->end - s->at) return refuse(s, kAppendedDescriptionPastEnd);
  char* text = static_cast<char*>(std::malloc(size_t(with_zero)));
  if (!text) return refuse(s, kAppendedNoMemory);
  if (!read_exact(s, text, with_zero)) {
    std::free(text);
    return refuse(s, kAppendedUnreadable);
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
  *s = AppendedStream{file, 0, 0, kAppendedSound, 0, -1, 0, 0};
  if (!s->file) return refuse(s, kAppendedUnreadable);
  if (!read_block_start(s) || !read_description(s, d)) {
    appended_close(s);
    return false;
  }
  return true;
}

bool appended_is_build_description(const char* text, uint32_t length) {
  const std::string_view all(text ? text : "", text ? length : 0);
  size_t at = 0;
  while (at < all.size()) {
    const size_t end = std::min(all.find('\n', at), all.size());
    std::string_view line = all.substr(at, end - at);
    at = end + 1;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line.remove_prefix(first);
    constexpr std::string_view kInstance = "instance";
    if (line.substr(0, kInstance.size()) != kInstance || line.size() == kInstance.size()) return false;
    const size_t name = line.find_first_not_of(" \t", kInstance.size());
    return name > kInstance.size() && name != std::string_view::npos && line[name] != '\r';
  }
  return false;
}

std::string appended_fault_text(const AppendedStream& s) {
  const std::string size = std::to_string(s.file_size), offset = std::to_string(s.offset);
  switch (s.fault) {
    case kAppendedSound:
    case kAppendedNothing: return std::string();
    case kAppendedUnreadable: return "the program file cannot be read";
    case kAppendedTrailerCut:
      return "the trailer is cut short: " + std::to_string(s.file_size - std::max<int64_t>(s.image_end, 0)) +
             " bytes follow the program image, where the trailer alone takes 4";
    case kAppendedOffsetPastEnd:
      return "the trailer's block offset " + offset + " lies past the end of the file (" + size + " bytes)";
    case kAppendedOffsetInImage:
      return "the trailer is lost: the last 4 bytes give a block offset of " + offset +
             ", inside the program image, which ends at " + std::to_string(s.image_end);
    case kAppendedDescriptionPastEnd:
      if (s.description_length < 0)
        return "the block at offset " + offset + " ends before its description length, at the trailer";
      return "the description length " + std::to_string(s.description_length) +
             " runs past the end of the file (" + size + " bytes)";
    case kAppendedNoMemory:
      return "no memory for a description of " + std::to_string(s.description_length) + " bytes";
  }
  return std::string();
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
