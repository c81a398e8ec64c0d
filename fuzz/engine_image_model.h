// The engine's image header as a load reads it, for the image targets: the
// header a loaded context writes back is the image's, except where loading
// keeps less than the file holds (the position flag's byte, the display
// flag as a yes or no, the display text's three bytes), clears a word (the
// main task's slice overrun) or describes this block (the heap's used
// extent, and the main task's stacks when tasks were loaded).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/checked.h"
#include "engine/core/context.h"
#include "engine/core/snapshot.h"

namespace engineimage {

// The header a load of `image` (kImageHeaderBytes) must write back, given
// what it wrote (`written`) for the words that describe the block.
inline std::vector<uint8_t> header_as_loaded(const uint8_t* image, const uint8_t* written) {
  std::vector<uint8_t> want(image, image + kImageHeaderBytes);
  auto put = [&](uint32_t at, uint32_t v) { tn::put_le32(want.data() + at, v); };
  put(kImgHeapWords, tn::get_le32(written + kImgHeapWords));
  put(kImgPosFlag, tn::get_le32(image + kImgPosFlag) & 0xFF);
  put(kImgMainTask + 4 * kTaskSliceOverrun, 0);
  want[kImgDispText + 3] = 0;
  put(kImgDispFlag, image[kImgDispFlag] ? 1 : 0);
  if (tn::get_le32(image + kImgTaskFirst) != 0)
    for (int k = 0; k < kMainTaskWords; ++k) put(kImgMainTask + 4 * k, tn::get_le32(written + kImgMainTask + 4 * k));
  return want;
}

}  // namespace engineimage
