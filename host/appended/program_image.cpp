// The end of an ELF program image: the identification, then the header's
// tables of segments and sections, each entry's extent checked against the
// file's size before it is counted. 32- and 64-bit files alike, fields at
// the offsets of their class.
#include "host/appended/program_image.h"

#include <algorithm>

namespace {

constexpr uint8_t kElfMagic[4] = {0x7f, 'E', 'L', 'F'};
constexpr int kIdentClass = 4, kIdentData = 5;
constexpr uint8_t kClass32 = 1, kClass64 = 2, kLittleEndian = 1;
constexpr uint32_t kSectionNoBits = 8;     // a section that takes no room in the file (.bss)
constexpr int64_t kMaxTableEntries = 1 << 16;

// Field offsets of one class: the file header's, a segment entry's and a
// section entry's.
struct ElfLayout {
  int header_bytes;
  int ph_off, sh_off, ph_entsize, ph_num, sh_entsize, sh_num;  // in the file header
  int word;                                                     // bytes of an offset or a size
  int p_offset, p_filesz;                                       // in a segment entry
  int s_type, s_offset, s_size;                                 // in a section entry
};
constexpr ElfLayout kElf32{52, 0x1C, 0x20, 0x2A, 0x2C, 0x2E, 0x30, 4, 4, 0x10, 4, 0x10, 0x14};
constexpr ElfLayout kElf64{64, 0x20, 0x28, 0x36, 0x38, 0x3A, 0x3C, 8, 8, 0x20, 4, 0x18, 0x20};

uint64_t get_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int k = bytes - 1; k >= 0; --k) v = v << 8 | p[k];
  return v;
}

bool read_at(std::FILE* f, int64_t at, uint8_t* to, int64_t n) {
  return std::fseek(f, long(at), SEEK_SET) == 0 && std::fread(to, 1, size_t(n), f) == size_t(n);
}

// The end of a table of `count` entries of `entsize` bytes at `offset`, and
// the largest end of what its entries place in the file; false when any of
// it lies beyond size.
template <typename Entry>
bool table_end(std::FILE* f, int64_t size, uint64_t offset, uint64_t entsize, uint64_t count, int least_entry,
               int64_t* end, Entry entry) {
  if (count == 0) return true;
  if (count > uint64_t(kMaxTableEntries) || entsize < uint64_t(least_entry) || entsize > 4096 ||
      offset > uint64_t(size) || entsize * count > uint64_t(size) - offset)
    return false;
  *end = std::max(*end, int64_t(offset + entsize * count));
  uint8_t buffer[64];
  for (uint64_t k = 0; k < count; ++k) {
    if (!read_at(f, int64_t(offset + k * entsize), buffer, least_entry)) return false;
    uint64_t from = 0, bytes = 0;
    if (!entry(buffer, &from, &bytes)) continue;
    if (from > uint64_t(size) || bytes > uint64_t(size) - from) return false;
    *end = std::max(*end, int64_t(from + bytes));
  }
  return true;
}

}  // namespace

int64_t program_image_end(std::FILE* f, int64_t size) {
  uint8_t h[64] = {};
  if (!f || size < 16 || !read_at(f, 0, h, 16)) return -1;
  if (!std::equal(kElfMagic, kElfMagic + 4, h) || h[kIdentData] != kLittleEndian) return -1;
  if (h[kIdentClass] != kClass32 && h[kIdentClass] != kClass64) return -1;
  const ElfLayout& L = h[kIdentClass] == kClass64 ? kElf64 : kElf32;
  if (size < L.header_bytes || !read_at(f, 0, h, L.header_bytes)) return -1;
  int64_t end = L.header_bytes;
  const int ph_least = L.p_filesz + L.word, sh_least = L.s_size + L.word;
  const bool segments = table_end(f, size, get_le(h + L.ph_off, L.word), get_le(h + L.ph_entsize, 2),
                                  get_le(h + L.ph_num, 2), ph_least, &end, [&](const uint8_t* e, uint64_t* from, uint64_t* bytes) {
                                    *from = get_le(e + L.p_offset, L.word), *bytes = get_le(e + L.p_filesz, L.word);
                                    return true;
                                  });
  const bool sections = table_end(f, size, get_le(h + L.sh_off, L.word), get_le(h + L.sh_entsize, 2),
                                  get_le(h + L.sh_num, 2), sh_least, &end, [&](const uint8_t* e, uint64_t* from, uint64_t* bytes) {
                                    *from = get_le(e + L.s_offset, L.word), *bytes = get_le(e + L.s_size, L.word);
                                    return get_le(e + L.s_type, 4) != kSectionNoBits;
                                  });
  return segments && sections ? end : -1;
}
