// The transposed copy of a matrix page, shared by the transpose of the top
// item and the transpose of a local read where it lies. It copies in square
// tiles, so that a large transpose reads and writes each cache line once
// instead of missing the cache on every element of a column.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/core/checked.h"

// Tiles of this many elements a side: a tile of the source and one of the
// result (8-byte elements: 2 x 32 KiB) stay in the level-2 cache.
constexpr int64_t kTransposeTile = 64;

template <class E>
void transpose_tiled(const uint8_t* from, uint8_t* to, int64_t rows, int64_t cols) {
  for (int64_t i0 = 0; i0 < rows; i0 += kTransposeTile) {
    const int64_t i1 = std::min(rows, i0 + kTransposeTile);
    for (int64_t j0 = 0; j0 < cols; j0 += kTransposeTile) {
      const int64_t j1 = std::min(cols, j0 + kTransposeTile);
      for (int64_t i = i0; i < i1; ++i)
        for (int64_t j = j0; j < j1; ++j)
          tn::store<E>(to + (j * rows + i) * sizeof(E), tn::load<E>(from + (i * cols + j) * sizeof(E)));
    }
  }
}

// Copies a rows x cols page of esize-byte elements (1, 2, 4 or 8) from
// `from`, transposed, to `to`, which does not overlap it.
inline void copy_transposed(const uint8_t* from, uint8_t* to, int64_t rows, int64_t cols, uint32_t esize) {
  switch (esize) {
    case 1: transpose_tiled<uint8_t>(from, to, rows, cols); break;
    case 2: transpose_tiled<uint16_t>(from, to, rows, cols); break;
    case 4: transpose_tiled<uint32_t>(from, to, rows, cols); break;
    default: transpose_tiled<uint64_t>(from, to, rows, cols); break;
  }
}
