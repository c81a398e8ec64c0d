// libFuzzer target: arbitrary bytes as a program file with an appended
// application, opened and loaded as the host does: the trailer, the
// description, then every chunk pulled through the reader at the size the
// loader asks for, so that a real packed application reaches its chunks and
// the image in them. Every input must give an answer; nothing may read past
// the file or allocate beyond its size (the description's closing byte is
// read as it stands), and the loaded or refused block must pass the image
// target's checks. A model that takes the file apart by its layout says
// what the description and the image are: the description read must be its
// bytes, and a loaded image must give the model's requests back when
// written.
// Each chunk is a zlib stream with its own checksum, so a byte changed in the
// file only ever fails that chunk's read. The mutator therefore works on
// what the loader sees: it inflates one chunk (or takes the description),
// mutates that, deflates it and packs the file again; now and then it
// mutates the file's own bytes, so that the reader's answers to a damaged
// file stay covered.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_runtime_block.h"
#include "host/appended/appended_reader.h"
#include "runtime/image_loader.h"

// libFuzzer's own mutation; absent (null) where the corpus test links this file.
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size) __attribute__((weak));

namespace {

constexpr size_t kWordBytes = 4;
// A chunk that inflates to more than this is left as it stands.
constexpr uLong kMaxInflated = 4u << 20;
// Room a mutation may add to a chunk; most mutations then keep the chunk's
// size, since the loader asks for exactly the size the header gives.
constexpr size_t kMutationRoom = 64;
constexpr unsigned kRawOneIn = 16;
constexpr unsigned kResizeOneIn = 8;

uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (size_t k = 0; k < kWordBytes; ++k) out.push_back(uint8_t(v >> (8 * k)));
}

// A packed file taken apart: the program in front, the description (without
// its closing byte, kept apart) and the compressed chunks.
struct Packed {
  std::vector<uint8_t> program;
  std::vector<uint8_t> description;
  uint8_t closing = 0;
  std::vector<std::vector<uint8_t>> chunks;
};

// False unless the file is exactly program, block and trailer.
bool unpack(const uint8_t* data, size_t size, Packed* p) {
  if (size < kWordBytes) return false;
  const size_t end = size - kWordBytes;
  const size_t offset = get_u32(data + end);
  if (offset > end || end - offset < kWordBytes) return false;
  p->program.assign(data, data + offset);
  size_t at = offset;
  const size_t d = get_u32(data + at);
  at += kWordBytes;
  if (d >= end - at) return false;
  p->description.assign(data + at, data + at + d);
  p->closing = data[at + d];
  at += d + 1;
  while (at < end) {
    if (end - at < kWordBytes) return false;
    const size_t n = get_u32(data + at);
    at += kWordBytes;
    if (n > end - at) return false;
    p->chunks.emplace_back(data + at, data + at + n);
    at += n;
  }
  return true;
}

std::vector<uint8_t> pack(const Packed& p) {
  std::vector<uint8_t> out = p.program;
  put_u32(out, uint32_t(p.description.size()));
  out.insert(out.end(), p.description.begin(), p.description.end());
  out.push_back(p.closing);
  for (const auto& c : p.chunks) {
    put_u32(out, uint32_t(c.size()));
    out.insert(out.end(), c.begin(), c.end());
  }
  put_u32(out, uint32_t(p.program.size()));
  return out;
}

bool inflate_chunk(const std::vector<uint8_t>& chunk, std::vector<uint8_t>* out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(chunk.data());
  z.avail_in = uInt(chunk.size());
  out->assign(chunk.size() * 4 + 64, 0);
  int status = Z_OK;
  while (status == Z_OK) {
    if (z.total_out == out->size()) {
      if (out->size() >= kMaxInflated) break;
      out->resize(out->size() * 2);
    }
    z.next_out = out->data() + z.total_out;
    z.avail_out = uInt(out->size() - z.total_out);
    status = inflate(&z, Z_NO_FLUSH);
  }
  out->resize(z.total_out);
  inflateEnd(&z);
  return status == Z_STREAM_END;
}

std::vector<uint8_t> deflate_chunk(const std::vector<uint8_t>& bytes) {
  uLongf size = compressBound(uLong(bytes.size()));
  std::vector<uint8_t> out(size);
  compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), Z_BEST_SPEED);
  out.resize(size);
  return out;
}

size_t copy_out(const std::vector<uint8_t>& bytes, uint8_t* data, size_t max_size) {
  if (bytes.size() > max_size) return 0;
  std::memcpy(data, bytes.data(), bytes.size());
  return bytes.size();
}

// Mutates one part's contents in place: mostly keeping its size.
void mutate_part(std::vector<uint8_t>& part, std::minstd_rand& rng) {
  const size_t size = part.size();
  part.resize(size + kMutationRoom);
  const size_t n = LLVMFuzzerMutate(part.data(), size, part.size());
  part.resize(rng() % kResizeOneIn == 0 ? n : size);
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size, unsigned int seed) {
  std::minstd_rand rng(seed);
  Packed p;
  if (rng() % kRawOneIn == 0 || !unpack(data, size, &p)) return LLVMFuzzerMutate(data, size, max_size);
  // The description or one chunk that inflates to something (an empty
  // part gives a mutation nothing to work on).
  for (int attempt = 0; attempt < 4; ++attempt) {
    const size_t pick = rng() % (p.chunks.size() + 1);
    if (pick == p.chunks.size()) {
      if (p.description.empty()) continue;
      mutate_part(p.description, rng);
    } else {
      std::vector<uint8_t> part;
      if (!inflate_chunk(p.chunks[pick], &part) || part.empty()) continue;
      mutate_part(part, rng);
      p.chunks[pick] = deflate_chunk(part);
    }
    const size_t n = copy_out(pack(p), data, max_size);
    if (n) return n;
    break;
  }
  return LLVMFuzzerMutate(data, size, max_size);
}

// Two packed files cross over chunk by chunk: a run of the second's chunks
// takes the place of the first's, so images of different applications mix
// while each chunk stays whole.
extern "C" size_t LLVMFuzzerCustomCrossOver(const uint8_t* data1, size_t size1, const uint8_t* data2, size_t size2,
                                            uint8_t* out, size_t max_out_size, unsigned int seed) {
  std::minstd_rand rng(seed);
  Packed a, b;
  if (!unpack(data1, size1, &a) || !unpack(data2, size2, &b) || b.chunks.empty()) return 0;
  const size_t first = rng() % b.chunks.size();
  const size_t count = 1 + rng() % (b.chunks.size() - first);
  if (a.chunks.size() < first + count) a.chunks.resize(first + count);
  for (size_t k = first; k < first + count; ++k) a.chunks[k] = b.chunks[k];
  return copy_out(pack(a), out, max_out_size);
}

namespace {

// The model of a packed file, read from the layout rather than by the
// reader: the description after the trailer's offset, then the image's
// requests, each a chunk that inflates whole (null when the chunks give no
// image; bytes after the last request are never read).
bool model_requests(const uint8_t* data, size_t size, imagemodel::Sections* out) {
  if (size < kWordBytes) return false;
  const size_t end = size - kWordBytes, offset = get_u32(data + end);
  if (offset > end || end - offset < kWordBytes) return false;
  size_t at = offset + kWordBytes;
  const size_t d = get_u32(data + offset);
  if (d >= end - at) return false;
  at += d + 1;
  out->assign(kImageRequests, {});
  for (auto& request : *out) {
    if (end - at < kWordBytes) return false;
    const size_t n = get_u32(data + at);
    at += kWordBytes;
    if (n > end - at || !inflate_chunk(std::vector<uint8_t>(data + at, data + at + n), &request)) return false;
    at += n;
  }
  return true;
}

// The description the reader gives is the file's: its D bytes, then its
// closing byte as it stands.
void check_description(const uint8_t* data, size_t size, const AppendedDescription& d) {
  const size_t offset = get_u32(data + size - kWordBytes), length = get_u32(data + offset);
  if (d.length != length || !d.text || std::memcmp(d.text, data + offset + kWordBytes, length + 1) != 0) {
    std::fprintf(stderr, "appended_fuzz: the description read is not the file's %zu bytes\n", length);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return 0;
  AppendedStream s{};
  AppendedDescription d{};
  if (appended_open_file(file, &s, &d)) {
    check_description(data, size, d);
    // The packed applications load in the start block (they are built in
    // small ones); the least cap keeps a hostile size from costing much.
    RuntimeBlock** handle = fuzzblock::fresh_block(fuzzblock::kMinCapBytes);
    imagemodel::Sections image;
    const bool modelled = model_requests(data, size, &image);
    fuzzblock::check_loaded(*handle, rt_load_image(handle, &appended_chunk_read, &s), modelled ? &image : nullptr);
    fuzzblock::release_block();
    appended_close(&s);
  }
  appended_description_free(&d);
  return 0;
}
