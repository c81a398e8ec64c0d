// Packer of applications (tnpack and the tests): the appended block (description length,
// description and its zero byte, one zlib chunk per loader request) and the
// trailer that locates it behind a copy of an executable.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tools/imagetools/image_builder.h"
#include "tools/toolfiles/regular_file.h"

namespace tnbuild {

inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(uint8_t(v >> (8 * k)));
}

// One complete zlib stream of the bytes (8 bytes for none).
inline std::vector<uint8_t> deflate_chunk(const std::vector<uint8_t>& bytes) {
  uLongf size = compressBound(uLong(bytes.size()));
  std::vector<uint8_t> out(size);
  compress2(out.data(), &size, bytes.data(), uLong(bytes.size()), Z_DEFAULT_COMPRESSION);
  out.resize(size);
  return out;
}

// The block: u32 D, the description, a zero byte, then {u32 L, L bytes} per
// request in order.
inline std::vector<uint8_t> appended_block(const Sections& requests, const std::string& description) {
  std::vector<uint8_t> out;
  put_u32(out, uint32_t(description.size()));
  out.insert(out.end(), description.begin(), description.end());
  out.push_back(0);
  for (const auto& part : requests) {
    const std::vector<uint8_t> chunk = deflate_chunk(part);
    put_u32(out, uint32_t(chunk.size()));
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

// program + block + trailer (the block's offset).
inline std::vector<uint8_t> with_trailer(const std::vector<uint8_t>& program, const std::vector<uint8_t>& block) {
  std::vector<uint8_t> out = program;
  out.insert(out.end(), block.begin(), block.end());
  put_u32(out, uint32_t(program.size()));
  return out;
}

// The whole of a regular file of up to a program's size; empty when it is
// none or cannot be read (tnpack itself says why, through the reader).
inline std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  toolfiles::read_regular_file(path, toolfiles::kProgramFileMaxBytes, &bytes);
  return bytes;
}

inline bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

}  // namespace tnbuild
