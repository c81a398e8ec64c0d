// libFuzzer target: arbitrary bytes as a flat runtime image. Every input must
// give a status; a refused image must leave the block in its initial state,
// and a loaded one must pass the stores' checks and take layout operations.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_runtime_block.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/undo_store.h"

namespace {

using fuzzblock::require;

struct Input {
  const uint8_t* data;
  size_t size, at;
  static bool read(void* to, uint32_t n, void* arg) {
    auto* in = static_cast<Input*>(arg);
    if (in->size - in->at < n) return false;
    if (n) std::memcpy(to, in->data + in->at, n);
    in->at += n;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RuntimeBlock* b = fuzzblock::fresh_block(fuzzblock::kStartBytes, fuzzblock::cap_for_flat(size));
  Input in{data, size, 0};
  const int status = rt_load_image(&b, &Input::read, &in);
  require(plotstore_check(rt_plot_store(b)) && undo_store_check(rt_value_store(b)));
  if (status != 0) {
    require(b->h.instance_count == 1 && b->h.record_words == 0 && inst_find_by_id(b, 0));
  } else {
    for (int32_t k = 0; k < b->h.instance_count; ++k) {
      const int32_t id = inst_at(b, k)->id;
      inst_apply_stored(b, id);
      inst_layout_to_array(b, id);
      inst_set_grid(b, id, 2, 3);
      char title[64];
      const char* text = nullptr;
      int32_t length = 0;
      inst_get_title(b, id, &text, &length, title, sizeof title);
    }
  }
  std::free(b);
  return 0;
}
