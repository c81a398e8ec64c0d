// libFuzzer target: arbitrary bytes as a flat runtime image. Every input must
// give a status; a refused image must leave the block in its initial state,
// and a loaded one must pass the stores' checks, take layout operations and
// give its requests back when written (fuzz/image_model.h).
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_runtime_block.h"
#include "runtime/image_loader.h"

using fuzzblock::Input;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RuntimeBlock** handle = fuzzblock::fresh_block(fuzzblock::cap_for_flat(size));
  Input in{data, size, 0};
  const int status = rt_load_image(handle, &Input::read, &in);
  imagemodel::Sections image;
  fuzzblock::check_loaded(*handle, status, imagemodel::split(data, size, &image) ? &image : nullptr);
  fuzzblock::release_block();
  return 0;
}
