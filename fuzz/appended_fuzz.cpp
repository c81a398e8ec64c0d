// libFuzzer target: arbitrary bytes as a program file with an appended
// application, opened and loaded as the host does: the trailer, the
// description, then every chunk pulled through the reader at the size the
// loader asks for, so that a real packed application reaches its chunks and
// the image in them. Every input must give an answer; nothing may read past
// the file or allocate beyond its size (the description's closing byte is
// read as it stands).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_runtime_block.h"
#include "host/appended/appended_reader.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!file) return 0;
  AppendedStream s{};
  AppendedDescription d{};
  if (appended_open_file(file, &s, &d)) {
    RuntimeBlock* b = fuzzblock::fresh_block(fuzzblock::kPackedStartBytes, fuzzblock::kPackedCapBytes);
    if (rt_load_image(&b, &appended_chunk_read, &s) != 0)
      fuzzblock::require(b->h.instance_count == 1 && b->h.record_words == 0 && inst_find_by_id(b, 0));
    std::free(b);
    appended_close(&s);
  }
  appended_description_free(&d);
  return 0;
}
