// A small corpus for the fuzz targets' entry points: every truncation of the
// first bytes, then truncations and single-byte flips at a stride.
#pragma once

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

inline int run_corpus(const std::vector<uint8_t>& seed, size_t dense_prefix, size_t samples) {
  const size_t stride = seed.size() / samples + 1;
  int runs = 0;
  for (size_t end = 0; end <= seed.size(); end += (end < dense_prefix ? 1 : stride), ++runs)
    LLVMFuzzerTestOneInput(seed.data(), end);
  for (size_t at = 0; at < seed.size(); at += (at < dense_prefix ? 1 : stride), ++runs) {
    std::vector<uint8_t> bad = seed;
    bad[at] ^= uint8_t(0x80 >> (at % 8));
    LLVMFuzzerTestOneInput(bad.data(), bad.size());
  }
  return runs;
}
