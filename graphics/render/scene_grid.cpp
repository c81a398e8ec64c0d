// The scene's grid of screen cells: built once per rendering from the boxes
// (compressed rows of primitive indices per cell); split pieces are linked
// into the cells of their boxes. What the cells have no room for is kept in
// one list checked for every P. A candidate passes exactly the walk's first
// test and is not alike with P (when that rule holds), so skipping the rest
// changes nothing.
#include "graphics/render/scene_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/core/status.h"
#include "graphics/render/scene_alike.h"
#include "graphics/render/scene_geometry.h"

namespace {

constexpr int32_t kMaxCellsPerPrim = 16;
// Primitives over more cells still go into them, up to this many items per
// primitive of the scene in all: a long sliver of a steep surface would
// otherwise be met by every P through the list.
constexpr int64_t kWideItemsPerPrim = 4;
// A split piece is linked into at most this many cells.
constexpr int64_t kMaxCellsPerPiece = 1024;

inline ScenePrim* prims(Scene* s) { return scene_prim(s, 0); }

void cell_range(const SceneGrid* g, const ScenePrim& p, int32_t* cx0, int32_t* cx1, int32_t* cy0, int32_t* cy1) {
  *cx0 = scene_cell_of(p.box[0], g->x0, g->sx, g->gx);
  *cx1 = scene_cell_of(p.box[1], g->x0, g->sx, g->gx);
  *cy0 = scene_cell_of(p.box[2], g->y0, g->sy, g->gy);
  *cy1 = scene_cell_of(p.box[3], g->y0, g->sy, g->gy);
}

int64_t cells_of(int32_t cx0, int32_t cx1, int32_t cy0, int32_t cy1) {
  return int64_t(cx1 - cx0 + 1) * (cy1 - cy0 + 1);
}

// Whether a primitive over `k` cells goes into them; the wide ones draw on
// `wide_room`, in the same order on every pass.
bool into_cells(int64_t k, int64_t* wide_room) {
  if (k <= kMaxCellsPerPrim) return true;
  if (k > *wide_room) return false;
  *wide_room -= k;
  return true;
}

}  // namespace

bool scene_grid_build(SceneGrid* g, Scene* s, void* work, int64_t bytes) {
  g->ok = false;
  g->visited = 0;
  // The records in the order are 0 .. orderLength - 1; those after them
  // were drawn before the walk began.
  const int32_t n = s->orderLength;
  if (!work || n <= 0) return false;
  ScenePrim* pr = prims(s);
  // About one cell per two primitives, square in pixels.
  const SceneExtent e = scene_boxes_extent(pr, n);
  const double w = e.w, h = e.h;
  scene_square_cells(e, std::max(1, n / 2), &g->gx, &g->gy);
  while (int64_t(g->gx) * g->gy > n && (g->gx > 1 || g->gy > 1)) {
    if (g->gx >= g->gy) g->gx = std::max(1, g->gx / 2);
    else g->gy = std::max(1, g->gy / 2);
  }
  g->x0 = e.x0, g->y0 = e.y0;
  g->sx = g->gx / w, g->sy = g->gy / h;
  const int64_t cells = int64_t(g->gx) * g->gy;
  // Fixed arrays first; the items follow once counted.
  const int64_t cap = s->capacity;
  int64_t words = 3 * cap + cap + (cells + 1) + cells;
  if (words * 4 > bytes) return false;
  int32_t* mem = static_cast<int32_t*>(work);
  g->pos_of = mem;
  g->stamp = g->pos_of + cap;
  g->cand = g->stamp + cap;
  g->big = g->cand + cap;
  g->cell_start = g->big + cap;
  g->cell_end = g->cell_start + cells + 1;
  g->cell_items = g->cell_end + cells;
  g->big_count = 0;
  g->big_room = int32_t(cap);
  std::fill(g->cell_start, g->cell_start + cells + 1, 0);
  int64_t items = 0;
  int64_t wide_room = kWideItemsPerPrim * n;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cx0, cx1, cy0, cy1;
    cell_range(g, pr[i], &cx0, &cx1, &cy0, &cy1);
    if (!into_cells(cells_of(cx0, cx1, cy0, cy1), &wide_room)) continue;
    for (int32_t cy = cy0; cy <= cy1; ++cy)
      for (int32_t cx = cx0; cx <= cx1; ++cx) ++g->cell_start[int64_t(cy) * g->gx + cx + 1];
    items += int64_t(cx1 - cx0 + 1) * (cy1 - cy0 + 1);
  }
  if ((words + items) * 4 > bytes) return false;
  // What is left links the pieces of splits into their cells.
  const int64_t spare = bytes / 4 - words - items - cells;
  g->piece_head = g->cell_items + items;
  g->piece_link = g->piece_head + cells;
  g->piece_links = 0;
  g->piece_room = spare > 0 ? int32_t(std::min<int64_t>(spare / 2, INT32_MAX / 2)) : 0;
  if (spare > 0) std::fill(g->piece_head, g->piece_head + cells, -1);
  for (int64_t c = 0; c < cells; ++c) g->cell_start[c + 1] += g->cell_start[c];
  // The candidate array serves as the fill cursor (cells <= n <= capacity).
  TN_ASSERT(cells <= cap);
  std::copy(g->cell_start, g->cell_start + cells, g->cand);
  wide_room = kWideItemsPerPrim * n;
  for (int32_t i = 0; i < n; ++i) {
    int32_t cx0, cx1, cy0, cy1;
    cell_range(g, pr[i], &cx0, &cx1, &cy0, &cy1);
    if (!into_cells(cells_of(cx0, cx1, cy0, cy1), &wide_room)) {
      g->big[g->big_count++] = i;
      continue;
    }
    for (int32_t cy = cy0; cy <= cy1; ++cy)
      for (int32_t cx = cx0; cx <= cx1; ++cx) g->cell_items[g->cand[int64_t(cy) * g->gx + cx]++] = i;
  }
  std::copy(g->cell_start + 1, g->cell_start + cells + 1, g->cell_end);
  std::fill(g->stamp, g->stamp + cap, 0);
  g->epoch = 0;
  std::fill(g->pos_of + n, g->pos_of + s->count, -1);
  scene_grid_reordered(g, s, 0);
  g->ok = true;
  return true;
}

void scene_grid_reordered(SceneGrid* g, Scene* s, int32_t from) {
  const int32_t* ord = scene_order(s);
  for (int32_t k = from; k < s->orderLength; ++k) g->pos_of[ord[k]] = k;
}

void scene_grid_drawn(SceneGrid* g, int32_t prim) { g->pos_of[prim] = -1; }

void scene_grid_added(SceneGrid* g, Scene* s, int32_t first) {
  // A piece goes where its own box falls, as the primitives did when the
  // grid was built; one over many cells, or without room for its links,
  // joins the list checked for every P, which has room for every record
  // the block can add.
  ScenePrim* pr = prims(s);
  for (int32_t i = first; i < s->count; ++i) {
    int32_t cx0, cx1, cy0, cy1;
    cell_range(g, pr[i], &cx0, &cx1, &cy0, &cy1);
    const int64_t need = cells_of(cx0, cx1, cy0, cy1);
    if (need <= kMaxCellsPerPiece && g->piece_links + need <= g->piece_room) {
      for (int32_t cy = cy0; cy <= cy1; ++cy)
        for (int32_t cx = cx0; cx <= cx1; ++cx) {
          const int64_t c = int64_t(cy) * g->gx + cx;
          int32_t* link = g->piece_link + 2 * int64_t(g->piece_links);
          link[0] = i, link[1] = g->piece_head[c];
          g->piece_head[c] = g->piece_links++;
        }
      continue;
    }
    if (g->big_count >= g->big_room) {
      g->ok = false;
      return;
    }
    g->big[g->big_count++] = i;
  }
}

int32_t scene_grid_candidates(SceneGrid* g, Scene* s, int32_t pi, int32_t pos) {
  ScenePrim* pr = prims(s);
  const ScenePrim& P = pr[pi];
  if (++g->epoch == 0) {  // wrapped: stamps start over
    std::fill(g->stamp, g->stamp + s->capacity, 0);
    g->epoch = 1;
  }
  const int32_t epoch = g->epoch;
  int32_t m = 0;
  auto consider = [&](int32_t q) {
    ++g->visited;
    if (g->stamp[q] == epoch) return;
    g->stamp[q] = epoch;
    const int32_t at = g->pos_of[q];
    if (at < 0 || at >= pos) return;
    const ScenePrim& Q = pr[q];
    if (g->alike && scene_alike(P, Q)) return;  // the walk would find no conflict
    if (!(P.z[0] > Q.z[Q.vertexCount - 1])) return;
    if (!(P.box[0] < Q.box[1] && Q.box[0] < P.box[1] && P.box[2] < Q.box[3] && Q.box[2] < P.box[3])) return;
    TN_ASSERT(m < s->capacity);
    g->cand[m++] = at;
  };
  int32_t cx0, cx1, cy0, cy1;
  cell_range(g, P, &cx0, &cx1, &cy0, &cy1);
  for (int32_t cy = cy0; cy <= cy1; ++cy)
    for (int32_t cx = cx0; cx <= cx1; ++cx) {
      const int64_t c = int64_t(cy) * g->gx + cx;
      // A cell lists its primitives in their first draw order, nearest
      // first, and the walk draws from the far end: drawn ones are cut off
      // the list's end, so a cell costs what it still holds.
      int32_t end = g->cell_end[c];
      while (end > g->cell_start[c] && g->pos_of[g->cell_items[end - 1]] < 0) --end;
      g->cell_end[c] = end;
      for (int32_t k = g->cell_start[c]; k < end; ++k) consider(g->cell_items[k]);
      if (g->piece_room > 0)
        for (int32_t l = g->piece_head[c]; l >= 0; l = g->piece_link[2 * int64_t(l) + 1])
          consider(g->piece_link[2 * int64_t(l)]);
    }
  // Drawn entries leave the list as it is read, so that it costs what it
  // still holds rather than all it ever held.
  int32_t kept = 0;
  for (int32_t k = 0; k < g->big_count; ++k) {
    const int32_t q = g->big[k];
    if (g->pos_of[q] < 0) continue;
    g->big[kept++] = q;
    consider(q);
  }
  g->big_count = kept;
  std::sort(g->cand, g->cand + m, [](int32_t a, int32_t b) { return a > b; });
  return m;
}
