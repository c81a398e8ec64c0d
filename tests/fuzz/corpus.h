// A small corpus for the fuzz targets' entry points: every truncation of the
// first bytes, then truncations and single-byte flips at a stride. With
// TN_FUZZ_SEEDS naming a folder, every seed is also written there as a file,
// so that scripts/fuzz starts libFuzzer from the inputs CTest runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

inline void save_seed(const std::vector<uint8_t>& seed) {
  static int count = 0;
  const char* folder = std::getenv("TN_FUZZ_SEEDS");
  if (!folder || !*folder) return;
  const std::string path = std::string(folder) + "/seed-" + std::to_string(count++);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (!seed.empty()) std::fwrite(seed.data(), 1, seed.size(), f);
  std::fclose(f);
}

// One input as it stands (a reproducer, or a seed worth keeping whole).
inline int run_seed(const std::vector<uint8_t>& seed) {
  save_seed(seed);
  return LLVMFuzzerTestOneInput(seed.data(), seed.size());
}

inline int run_corpus(const std::vector<uint8_t>& seed, size_t dense_prefix, size_t samples) {
  save_seed(seed);
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
