// The pass that frees alike points and segments from the ordering: a
// pyramid of screen cells (each level's cells twice the size of the level
// below) in which every primitive marks the few cells of the level where its
// box spans at most two cells each way; a cell keeps the one look of what
// marked it, or "mixed". A primitive is free when every cell its box meets,
// on every level used, holds nothing but its own look: two boxes that meet
// share a cell on the level where either marked, so nothing unlike it is missed.
#include "graphics/render/scene_alike.h"

#include <algorithm>
#include <cmath>

#include "engine/core/status.h"
#include "graphics/render/scene_geometry.h"

namespace {

constexpr int32_t kMaxLevels = 32;
// A primitive whose box meets more cells than this on a level it is checked
// on stays in the ordering: the check would cost more than the ordering.
constexpr int64_t kMaxCheckedCells = 64;
// Cell values: no primitive, or more than one look; otherwise look + 1.
constexpr int32_t kCellEmpty = 0;
constexpr int32_t kCellMixed = -1;
// Pixels a marker (radius 3) or the thickest pen (4) reaches beyond the
// vertices, with room to spare: an alike primitive this near an unlike one
// is ordered, as its pixels may meet the other's.
constexpr double kReach = 8.0;

struct Pyramid {
  int32_t levels;
  int32_t gx[kMaxLevels], gy[kMaxLevels];
  int64_t base[kMaxLevels];  // first word of each level
  bool used[kMaxLevels];     // a primitive marked cells on this level
  double x0, y0, sx, sy;     // level-0 cell = floor((x - x0) * sx), clamped
  int32_t* cell;
};

struct CellBox {
  int32_t cx0, cx1, cy0, cy1;
};

// The cells of p's box, widened by the reach for a primitive with a look.
CellBox level0_box(const Pyramid& py, const ScenePrim& p, bool with_look) {
  const double r = with_look ? kReach : 0.0;
  return {scene_cell_of(p.box[0] - r, py.x0, py.sx, py.gx[0]),
          scene_cell_of(p.box[1] + r, py.x0, py.sx, py.gx[0]),
          scene_cell_of(p.box[2] - r, py.y0, py.sy, py.gy[0]),
          scene_cell_of(p.box[3] + r, py.y0, py.sy, py.gy[0])};
}

CellBox at_level(const CellBox& b, int32_t j) { return {b.cx0 >> j, b.cx1 >> j, b.cy0 >> j, b.cy1 >> j}; }

// Level 0 of about `cells` square cells over the boxes, and the levels above
// up to a single cell; false when they do not fit `words`.
bool lay_out(Pyramid* py, const ScenePrim* pr, int32_t n, int64_t cells, int64_t words) {
  const SceneExtent e = scene_boxes_extent(pr, n);
  int32_t gx, gy;
  scene_square_cells(e, cells, &gx, &gy);
  for (;;) {
    int64_t total = 0;
    int32_t j = 0;
    for (;; ++j) {
      py->gx[j] = ((gx - 1) >> j) + 1, py->gy[j] = ((gy - 1) >> j) + 1;
      py->base[j] = total;
      py->used[j] = false;
      total += int64_t(py->gx[j]) * py->gy[j];
      if (py->gx[j] == 1 && py->gy[j] == 1) break;
    }
    py->levels = j + 1;
    if (total <= words) break;
    if (gx == 1 && gy == 1) return false;
    if (gx >= gy) gx = std::max(1, gx / 2);
    else gy = std::max(1, gy / 2);
  }
  py->x0 = e.x0, py->y0 = e.y0;
  py->sx = gx / e.w, py->sy = gy / e.h;
  return true;
}

void mark(int32_t* c, int32_t v) {
  if (*c == kCellEmpty) *c = v;
  else if (*c != v) *c = kCellMixed;
}

// Whether every cell the box meets on every used level holds v or nothing.
bool only_look(const Pyramid& py, const CellBox& b0, int32_t v) {
  for (int32_t j = 0; j < py.levels; ++j) {
    if (!py.used[j]) continue;
    const CellBox b = at_level(b0, j);
    if (int64_t(b.cx1 - b.cx0 + 1) * (b.cy1 - b.cy0 + 1) > kMaxCheckedCells) return false;
    for (int32_t cy = b.cy0; cy <= b.cy1; ++cy) {
      const int32_t* row = py.cell + py.base[j] + int64_t(cy) * py.gx[j];
      for (int32_t cx = b.cx0; cx <= b.cx1; ++cx)
        if (row[cx] != v && row[cx] != kCellEmpty) return false;
    }
  }
  return true;
}

}  // namespace

int32_t scene_free_alike(Scene* s) {
  const int32_t n = s->count;
  ScenePrim* pr = scene_prim(s, 0);
  int32_t* ord = scene_order(s);
  auto alike_first = [&](const ScenePrim& p) { return scene_alike(p, pr[0]); };
  if (n > 0 && scene_has_look(pr[0]) && std::all_of(pr + 1, pr + n, alike_first)) {
    // All alike: nothing is unlike anything, and no cell is needed.
    for (int32_t i = 0; i < n; ++i) ord[n - 1 - i] = i;
    return 0;
  }
  for (int32_t i = 0; i < n; ++i) ord[i] = i;
  if (n <= 0 || std::none_of(pr, pr + n, scene_has_look)) return n;
  Pyramid py;
  py.cell = reinterpret_cast<int32_t*>(reinterpret_cast<char*>(s) + s->aux);
  // Cells as fine as the aux words allow (about one cell for every two
  // records the block holds, which the pyramid's levels fit).
  if (!lay_out(&py, pr, n, std::max(1, s->capacity / 2), s->capacity)) return n;
  std::fill(py.cell, py.cell + py.base[py.levels - 1] + 1, kCellEmpty);
  // A look is named by the first of a run of alike primitives: the feeders
  // add a record's primitives one after another. Alike primitives apart
  // get two names, which only keeps them in the ordering.
  int32_t look = -1;
  for (int32_t i = 0; i < n; ++i) {
    const ScenePrim& p = pr[i];
    look = !scene_has_look(p) ? -1 : i > 0 && scene_alike(p, pr[i - 1]) ? look : i;
    const CellBox b0 = level0_box(py, p, look >= 0);
    int32_t j = 0;
    while (j + 1 < py.levels && ((b0.cx1 >> j) - (b0.cx0 >> j) > 1 || (b0.cy1 >> j) - (b0.cy0 >> j) > 1)) ++j;
    py.used[j] = true;
    const CellBox b = at_level(b0, j);
    const int32_t v = look >= 0 ? look + 1 : kCellMixed;
    for (int32_t cy = b.cy0; cy <= b.cy1; ++cy)
      for (int32_t cx = b.cx0; cx <= b.cx1; ++cx) mark(py.cell + py.base[j] + int64_t(cy) * py.gx[j] + cx, v);
  }
  int32_t kept = 0, freed = 0;
  look = -1;
  for (int32_t i = 0; i < n; ++i) {
    const ScenePrim& p = pr[i];
    look = !scene_has_look(p) ? -1 : i > 0 && scene_alike(p, pr[i - 1]) ? look : i;
    if (look >= 0 && only_look(py, level0_box(py, p, true), look + 1))
      ord[n - 1 - freed++] = i;
    else
      ord[kept++] = i;
  }
  TN_ASSERT(kept + freed == n);
  return kept;
}
