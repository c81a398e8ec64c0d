// libFuzzer target: arbitrary bytes as a program file with an appended
// application. Opening, the description and up to eight chunk reads of
// sizes taken from the input must answer true or false, never read past the
// block or allocate beyond the file's size (the description's closing byte
// is read as it stands).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/appended/appended_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int kReads = 8;
  constexpr uint32_t kMaxRequest = 1u << 16;
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return 0;
  AppendedStream s{};
  AppendedDescription d{};
  if (appended_open_file(file, &s, &d)) {
    std::vector<uint8_t> to(kMaxRequest);
    for (int k = 0; k < kReads; ++k) {
      const uint32_t want = size > size_t(k) ? uint32_t(data[k]) * 97 % kMaxRequest : 0;
      if (!appended_chunk_read(to.data(), want, &s)) break;
    }
    appended_close(&s);
  }
  appended_description_free(&d);
  return 0;
}
