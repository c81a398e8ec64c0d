// Large-page advice over the engine block's heap (see block_pages.h).
#include "host/block_pages.h"

#include <sys/mman.h>

#include "engine/core/context.h"

namespace {

constexpr uint64_t kLargePageBytes = uint64_t{2} << 20;
// What start-up and a small script touch of the heap: its first blocks at
// its start, and whatever lies at its end. Taken in large pages, each would
// cost a 2 MB clear at start-up.
constexpr uint64_t kSmallPageEdgeBytes = uint64_t{4} << 20;

// Advises the area [from, to) less its edges.
uint64_t advise(uintptr_t from, uintptr_t to) {
  if (to - from <= 2 * kSmallPageEdgeBytes) return 0;
  const uintptr_t first = (from + kSmallPageEdgeBytes + kLargePageBytes - 1) & ~uintptr_t(kLargePageBytes - 1);
  const uintptr_t last = (to - kSmallPageEdgeBytes) & ~uintptr_t(kLargePageBytes - 1);
  if (last <= first) return 0;
  if (madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) != 0) return 0;
  return last - first;
}

}  // namespace

uint64_t block_advise_large_pages(void* block, uint32_t size) {
  if (!block) return 0;
  // Variables' values live in the heap. The data stack stays in small
  // pages: the compiler's scratch lies in its middle, and a large page
  // there would be cleared at every start.
  const AreaOffsets at = engine_area_offsets(engine_area_layout(size));
  const auto base = reinterpret_cast<uintptr_t>(block);
  return advise(base + at.heap, base + at.desc);
}
