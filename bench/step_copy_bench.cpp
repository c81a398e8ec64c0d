// What the engine-state copy of a retried step costs (block_growth.cpp):
// a handler call that needs no growth, on a small application and on a
// large one (a global of about 100 MB and some hundreds of functions), with
// the copy's own time beside it; and a handler that grows the block from
// 256 KB, with the copies and restores of its stopped attempts beside the
// whole call. Run it with OPENBLAS_NUM_THREADS=1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/timing.h"
#include "engine/core/heap.h"
#include "engine/core/state_copy.h"
#include "runtime/handler_call.h"
#include "runtime/record_list.h"
#include "tools/imagetools/image_builder.h"

namespace {

// A host that grows the block by half each time, up to 1.5 GB.
struct Host {
  RuntimeBlock* block = nullptr;
  uint32_t size = 0;
  int growths = 0;
  static bool grow(RuntimeBlock** b, uint32_t* current, void* context) {
    auto* h = static_cast<Host*>(context);
    constexpr uint32_t kMax = 1536u << 20;
    if (*current >= kMax) return false;
    const uint32_t next = uint32_t(std::min<uint64_t>(kMax, uint64_t(*current) * 3 / 2));
    void* fresh = std::realloc(*b, next);
    if (!fresh) return false;
    std::memset(static_cast<char*>(fresh) + *current, 0, next - *current);
    *b = static_cast<RuntimeBlock*>(fresh);
    *current = h->size = next;
    ++h->growths;
    return true;
  }
  bool start(uint32_t bytes, const std::string& description, const std::string& source) {
    size = bytes;
    void* buffer = std::calloc(bytes, 1);
    if (tnbuild::start_block(&block, buffer, bytes) != 0) return false;
    rt_set_grow_callback(block, grow, this);
    tnbuild::Builder builder(block, {{"demo", source}});
    if (!builder.build(description)) {
      std::fprintf(stderr, "%s\n", builder.error.c_str());
      return false;
    }
    return true;
  }
  int32_t resize(int n) {
    int32_t pos = 0;
    for (int k = 0; k <= n; ++k) rec_find_tag(block, 0, &pos, kTagResize);
    return pos;
  }
};

// Time per call of the trivial handler, and of the state copy alone.
void no_growth(const char* what, Host& h) {
  constexpr int kCalls = 200;
  const int32_t record = h.resize(0);
  int failures = 0;
  const double call = bench::best_seconds(
      [&] {
        for (int k = 0; k < kCalls; ++k) failures += handler_call_plain(&h.block, 0, record, -1, false) != 0;
      },
      5);
  EngineContext* c = rt_engine(h.block);
  const int64_t bytes = engine_state_copy(c, nullptr, 0);
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size_t(bytes)]);
  const double copying = bench::best_seconds(
      [&] {
        for (int k = 0; k < kCalls; ++k) {
          engine_state_copy(c, copy.get(), bytes);
          engine_state_hold(copy.get());
          engine_state_release(c, copy.get());
        }
      },
      5);
  if (std::getenv("STEP_COPY_PARTS"))
    std::printf("  fn table %d of %d entries, code words %u, data top %d, desc top %d, heap %d words, used to %lld\n",
                c->fn_count, c->fn_capacity, c->code_free, c->data_top, c->desc_top, c->heap_size,
                (long long)heap_used_extent(heap_words(c), c->heap_size));
  std::printf("%s: handler call %.1f us, of which the state copy (%.1f MB) and its release %.1f us%s\n", what,
              call / kCalls * 1e6, double(bytes) / 1e6, copying / kCalls * 1e6, failures ? " (failures!)" : "");
}

}  // namespace

int main() {
  const std::string trivial = "function y = f(x)\n y = x;\nendfunction\nfunction x = one()\n x = 1;\nendfunction\n";
  {
    Host h;
    if (!h.start(8u << 20, "instance demo\nvar x\nvar y\ninit x = one()\nresize y = f(x)\n", trivial)) return 1;
    no_growth("small application", h);
  }
  {
    // A global of 13.5e6 doubles and 400 functions of a few lines each.
    std::string source = trivial + "function big()\n global G\n G = zeros(1, 13.5e6);\nendfunction\n";
    for (int k = 0; k < 400; ++k)
      source += "function y = g" + std::to_string(k) + "(x)\n y = x + " + std::to_string(k) +
                ";\n if y > 3\n  y = y * 2;\n end\nendfunction\n";
    Host h;
    if (!h.start(768u << 20, "instance demo\nvar x\nvar y\ninit x = one()\ninit big()\nresize y = f(x)\n",
                 source))
      return 1;
    no_growth("large application", h);
  }
  {
    // A handler whose run needs 16 MB, in a block that starts at 256 KB:
    // each stopped attempt's copy and restore beside the whole call.
    const std::string source = trivial + "function y = grow(x)\n z = zeros(1, 2e6);\n y = x;\nendfunction\n";
    constexpr int kReps = 5;
    double best = 1e30, restore = 0;
    int growths = 0;
    int64_t bytes = 0;
    for (int r = 0; r < kReps; ++r) {
      Host h;
      if (!h.start(256u << 10, "instance demo\nvar x\nvar y\ninit x = one()\nresize y = grow(x)\n", source))
        return 1;
      const int before = h.growths;
      EngineContext* c = rt_engine(h.block);
      bytes = engine_state_copy(c, nullptr, 0);
      std::unique_ptr<uint8_t[]> copy(new uint8_t[size_t(bytes)]);
      restore = bench::best_seconds(
          [&] {
            engine_state_copy(c, copy.get(), bytes);
            engine_state_restore(c, copy.get());
          },
          20);
      const int32_t record = h.resize(0);
      const double t = bench::best_seconds([&] { handler_call_plain(&h.block, 0, record, -1, false); }, 1);
      growths = h.growths - before;
      if (t < best) best = t;
      std::free(h.block);
    }
    std::printf("growth path: handler call %.2f ms with %d growths; copy and restore of the %.1f KB state "
                "%.1f us per attempt, %.3f ms in all\n",
                best * 1e3, growths, double(bytes) / 1e3, restore * 1e6, restore * 1e3 * (growths + 1));
  }
  return 0;
}
