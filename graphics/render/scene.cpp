// The scene's block, insertion (NaN, clip, facing), vertex and draw order and
// the resolution loop that draws from far to near. Invariants: a drawn
// primitive leaves the order at once, so nothing is drawn twice; every walk
// counts the pairs it examines against a budget, so splits and cycles end.
#include "graphics/render/scene.h"

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/core/status.h"
#include "graphics/render/scene_alike.h"
#include "graphics/render/scene_geometry.h"
#include "graphics/render/scene_grid.h"

namespace {

// Offsets must fit an int32: the whole block is capped at that.
constexpr int64_t kMaxSceneBytes = kSceneMaxBytes;
static_assert(kSceneMaxBytes == std::numeric_limits<int32_t>::max());
constexpr int64_t kPairBudgetBase = 65536;
constexpr int64_t kPairBudgetFactor = 4;

inline ScenePrim* prims(Scene* s) { return reinterpret_cast<ScenePrim*>(reinterpret_cast<char*>(s) + s->prims); }
inline int32_t* order_of(Scene* s) { return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(s) + s->order); }
// The walk's index over the draw order: for each block of kBlock entries,
// and each group of kGroup entries, the smallest far depth and the union of
// the boxes; per group also the smallest far depth over all groups up to
// it. A block whose depth lies wholly in front of P, or whose boxes miss
// P's, holds no conflict: the plain walk would find none there either.
// Summaries may cover entries that have since been drawn: they only widen
// a union, so a skip stays exact.
constexpr int32_t kBlock = 8;
constexpr int32_t kGroup = 256;
struct BlockSummary {
  float far, x0, x1, y0, y1;
};
constexpr int64_t kSummaryWords = sizeof(BlockSummary) / sizeof(float);
static_assert(kSummaryWords == 5);

int64_t blocks_of(int64_t n, int32_t size) { return (n + size - 1) / size; }
// Words the index takes; it must fit the aux array's capacity words.
int64_t index_words(int64_t cap) {
  return kSummaryWords * blocks_of(cap, kBlock) + (kSummaryWords + 1) * blocks_of(cap, kGroup);
}
inline BlockSummary* block_summaries(Scene* s) {
  return reinterpret_cast<BlockSummary*>(reinterpret_cast<char*>(s) + s->aux);
}
inline BlockSummary* group_summaries(Scene* s) { return block_summaries(s) + blocks_of(s->capacity, kBlock); }
inline float* group_prefix(Scene* s) {
  return reinterpret_cast<float*>(group_summaries(s) + blocks_of(s->capacity, kGroup));
}

bool finite3(float a, float b, float c) { return std::isfinite(a) && std::isfinite(b) && std::isfinite(c); }

ScenePrim* next_record(Scene* s, int* status) {
  if (!s) {
    *status = kSceneNone;
    return nullptr;
  }
  if (s->count >= s->capacity) {
    *status = kSceneFull;
    return nullptr;
  }
  *status = kSceneAdded;
  return prims(s) + s->count;
}

void finish_record(Scene* s, ScenePrim* p, int32_t w1, int32_t w2, int32_t w3) {
  scene_prim_box(p);
  p->moved = 0;
  p->w[0] = w1, p->w[1] = w2, p->w[2] = w3;
  ++s->count;
}

// All vertices beyond the same edge of the clip rectangle.
bool clipped_away(const Scene* s, const float* x, const float* y, int n) {
  if (!s->clipOn) return false;
  bool left = true, right = true, above = true, below = true;
  for (int i = 0; i < n; ++i) {
    left = left && x[i] < s->clipXMin;
    right = right && x[i] > s->clipXMax;
    above = above && y[i] < s->clipYMin;
    below = below && y[i] > s->clipYMax;
  }
  return left || right || above || below;
}

// Shell sort of order[from, len) by decreasing nearest depth; the moved
// marks of the sorted part are cleared. The gaps are those of a sort of
// `gap_basis` entries. When order[0, from) is sorted and no entry there is
// nearer than one from `from` on, the passes over the whole order would move
// nothing below `from` and nothing across it (an entry moves only past a
// strictly farther one), so sorting the tail with the whole order's gaps
// leaves exactly the order the whole sort leaves, ties included.
void sort_from(Scene* s, int32_t from, int32_t gap_basis, float* keys) {
  int32_t* ord = order_of(s);
  ScenePrim* pr = prims(s);
  const int32_t len = s->orderLength;
  const int32_t n = len - from;
  if (n > 1 && keys) {
    // The same passes over a copy of the keys beside the order: every
    // comparison and move as below, without a record read per comparison.
    keys -= from;
    for (int32_t i = from; i < len; ++i) keys[i] = pr[ord[i]].z[0];
    int32_t h = 1;
    while (h < gap_basis / 3) h = 3 * h + 1;
    for (; h >= 1; h /= 3) {
      for (int32_t i = from + h; i < len; ++i) {
        const int32_t v = ord[i];
        const float key = keys[i];
        int32_t j = i;
        while (j - h >= from && keys[j - h] < key) {
          ord[j] = ord[j - h];
          keys[j] = keys[j - h];
          j -= h;
        }
        ord[j] = v;
        keys[j] = key;
      }
    }
  } else if (n > 1) {
    int32_t h = 1;
    while (h < gap_basis / 3) h = 3 * h + 1;
    for (; h >= 1; h /= 3) {
      for (int32_t i = from + h; i < len; ++i) {
        const int32_t v = ord[i];
        const float key = pr[v].z[0];
        int32_t j = i;
        while (j - h >= from && pr[ord[j - h]].z[0] < key) {
          ord[j] = ord[j - h];
          j -= h;
        }
        ord[j] = v;
      }
    }
  }
  for (int32_t i = from; i < len; ++i) pr[ord[i]].moved = 0;
}

// Room for the keys of a sort from `from` in the aux words past the index,
// or none.
float* key_room(Scene* s, int32_t from) {
  const int64_t used = index_words(s->capacity);
  if (s->orderLength - from > s->capacity - used) return nullptr;
  return reinterpret_cast<float*>(reinterpret_cast<char*>(s) + s->aux) + used;
}

void sort_from(Scene* s, int32_t from, int32_t gap_basis) { sort_from(s, from, gap_basis, key_room(s, from)); }

void sort_from(Scene* s, int32_t from) { sort_from(s, from, s->orderLength - from); }

BlockSummary summarise(Scene* s, int32_t first, int32_t end) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const int32_t* ord = order_of(s);
  const ScenePrim* pr = prims(s);
  BlockSummary u = {kInf, kInf, -kInf, kInf, -kInf};
  for (int32_t k = first; k < end; ++k) {
    const ScenePrim& p = pr[ord[k]];
    u.far = std::min(u.far, p.z[p.vertexCount - 1]);
    u.x0 = std::min(u.x0, p.box[0]), u.x1 = std::max(u.x1, p.box[1]);
    u.y0 = std::min(u.y0, p.box[2]), u.y1 = std::max(u.y1, p.box[3]);
  }
  return u;
}

void widen(BlockSummary* u, const BlockSummary& b) {
  u->far = std::min(u->far, b.far);
  u->x0 = std::min(u->x0, b.x0), u->x1 = std::max(u->x1, b.x1);
  u->y0 = std::min(u->y0, b.y0), u->y1 = std::max(u->y1, b.y1);
}

// Moves the records into draw order (the order becomes 0, 1, ...), so that
// the walk reads them one after another instead of all over the block;
// order[0, n) must be a permutation of 0 .. n - 1.
void place_in_order(Scene* s, int32_t n) {
  int32_t* ord = order_of(s);
  ScenePrim* pr = prims(s);
  for (int32_t i = 0; i < n; ++i) {
    if (ord[i] == i) continue;
    const ScenePrim held = pr[i];
    int32_t j = i;
    for (;;) {
      const int32_t k = ord[j];  // the record that belongs at j
      ord[j] = j;
      if (k == i) {
        pr[j] = held;
        break;
      }
      pr[j] = pr[k];
      j = k;
    }
  }
}

// Completes order[0, live) (the records still to be ordered) to a
// permutation of the records: records past `live` that were drawn stay
// where they are, and each one still to be ordered there takes the place
// of one drawn below `live`, so that placing them in order moves no more
// records than it must.
void complete_order(Scene* s, int32_t live) {
  int32_t* ord = order_of(s);
  const ScenePrim* pr = prims(s);
  int32_t drawn_below = 0;
  for (int32_t j = live; j < s->count; ++j) {
    if (pr[j].kind == kScenePrimEmpty) {
      ord[j] = j;
      continue;
    }
    while (pr[drawn_below].kind != kScenePrimEmpty) ++drawn_below;
    TN_ASSERT(drawn_below < live);
    ord[j] = drawn_below++;
  }
}

void rebuild_index(Scene* s, int32_t from) {
  const int32_t len = s->orderLength;
  BlockSummary* blocks = block_summaries(s);
  BlockSummary* groups = group_summaries(s);
  float* prefix = group_prefix(s);
  for (int32_t b = from / kBlock; b * kBlock < len; ++b) blocks[b] = summarise(s, b * kBlock, std::min(len, (b + 1) * kBlock));
  for (int32_t g = from / kGroup; g * kGroup < len; ++g) {
    BlockSummary u = blocks[g * (kGroup / kBlock)];
    for (int32_t b = g * (kGroup / kBlock) + 1; b < (g + 1) * (kGroup / kBlock) && b * kBlock < len; ++b)
      widen(&u, blocks[b]);
    groups[g] = u;
    prefix[g] = g > 0 ? std::min(prefix[g - 1], u.far) : u.far;
  }
}

// No primitive the summary covers can conflict with P.
inline bool clear_of(const BlockSummary& u, const ScenePrim& P) {
  return !(u.far < P.z[0]) || !(P.box[0] < u.x1 && u.x0 < P.box[1] && P.box[2] < u.y1 && u.y0 < P.box[3]);
}

int split_pair(Scene* s, int32_t p, int32_t q, bool forced, int32_t* cut_record);

enum class Pair { kNoConflict, kConflict, kSplit };

// Steps 1 to 5 for P (farther) and a nearer candidate Q.
Pair examine(Scene* s, int32_t pi, int32_t qi, int32_t* cut_record) {
  ScenePrim* pr = prims(s);
  const ScenePrim& P = pr[pi];
  const ScenePrim& Q = pr[qi];
  if (!(P.z[0] > Q.z[Q.vertexCount - 1])) return Pair::kNoConflict;
  if (!(P.box[0] < Q.box[1] && Q.box[0] < P.box[1] && P.box[2] < Q.box[3] && Q.box[2] < P.box[3]))
    return Pair::kNoConflict;
  const bool ptri = P.vertexCount == 3, qtri = Q.vertexCount == 3;
  ScenePlane pp{}, qp{};
  if (ptri) {
    pp = scene_plane(P);
    if (scene_all_in_front(pp, Q)) return Pair::kNoConflict;
  }
  if (qtri) {
    qp = scene_plane(Q);
    if (scene_all_behind(qp, P)) return Pair::kNoConflict;
  }
  if (P.vertexCount == 2 && Q.vertexCount == 2) {
    double t, u;
    if (scene_segments_cross(P, Q, &t, &u)) {
      const double zp = P.z[0] + t * (double(P.z[1]) - P.z[0]);
      const double zq = Q.z[0] + u * (double(Q.z[1]) - Q.z[0]);
      if (zq > zp) return Pair::kNoConflict;
    }
  }
  double ox, oy;
  if (!scene_overlap(P, Q, &ox, &oy)) return Pair::kNoConflict;
  if (split_pair(s, pi, qi, false, cut_record)) return Pair::kSplit;
  if (ptri && qtri) {
    const double zp = scene_plane_depth(pp, ox, oy), zq = scene_plane_depth(qp, ox, oy);
    if (!(zp > zq)) return Pair::kNoConflict;
  }
  return Pair::kConflict;
}

struct Walk {
  Scene* s;
  ScenePointCallback point;
  SceneSegmentCallback segment;
  SceneFacetCallback facet;
  void* context;
  SceneStats st;
  int32_t cut;  // the record the last split cut
  bool indexed;
  SceneGrid grid;  // used when ok
  uint32_t looks;
};

void draw(Walk* w, int32_t i) {
  ScenePrim& p = prims(w->s)[i];
  ++w->st.drawn;
  if (w->indexed && w->grid.ok) scene_grid_drawn(&w->grid, i);
  switch (p.kind) {
    case kScenePrimPoint:
      if (w->point) w->point(w->context, p.w[0], p.w[1], p.w[2], p.x[0], p.y[0], p.z[0]);
      return;
    case kScenePrimSegment:
      if (w->segment) w->segment(w->context, p.w[0], p.w[1], p.w[2], p.x, p.y, p.z, p.edge);
      return;
    case kScenePrimFront:
    case kScenePrimBack:
      if (w->facet) w->facet(w->context, p.w[0], p.w[1], p.w[2], p.x, p.y, p.z, p.edge, p.kind == kScenePrimFront);
      return;
    default:
      return;
  }
}

// k more pairs; false once the budget is spent. The indexed walks charge a
// skipped run of k at once: when it does not fit, the plain walk would have
// examined pairs one by one up to the budget before stopping (a skipped run
// holds no conflict), so the rest of the budget is charged all the same.
bool spend(Walk* w, int64_t k) {
  if (w->st.pairs + k > w->st.budget) {
    w->st.pairs = w->st.budget;
    w->st.budget_hit = true;
    return false;
  }
  w->st.pairs += k;
  return true;
}

// A cycle between P (at the end) and the moved Q: forced splits, widening.
// 1 split, 0 nothing could be split, -1 the budget ran out.
int break_cycle(Walk* w, int32_t pos, int32_t pi, int32_t qi) {
  Scene* s = w->s;
  if (split_pair(s, pi, qi, true, &w->cut)) return 1;
  if (s->capacity - s->count < 2) return 0;  // no split can succeed
  int32_t* ord = order_of(s);
  ScenePrim* pr = prims(s);
  for (int32_t k = pos - 1; k >= 0; --k) {
    const int32_t r = ord[k];
    if (r == qi || !pr[r].moved) continue;
    if (!spend(w, 1)) return -1;
    if (split_pair(s, pi, r, true, &w->cut)) return 1;
  }
  for (int32_t a = pos - 1; a >= 0; --a)
    for (int32_t b = a - 1; b >= 0; --b) {
      if (!spend(w, 1)) return -1;
      if (split_pair(s, ord[a], ord[b], true, &w->cut)) return 1;
    }
  return 0;
}

// The order from `from` on was rewritten.
void reordered(Walk* w, int32_t from) {
  w->st.visited += w->s->orderLength - from;
  if (!w->indexed) return;
  rebuild_index(w->s, from);
  if (w->grid.ok) scene_grid_reordered(&w->grid, w->s, from);
}

// Where record r stands in the order before position `end`.
int32_t position_of(Walk* w, int32_t r, int32_t end) {
  if (w->indexed && w->grid.ok) return w->grid.pos_of[r];
  const int32_t* ord = order_of(w->s);
  for (int32_t k = 0; k < end; ++k)
    if (ord[k] == r) return k;
  return 0;
}

// A split replaced one record by its first piece and appended the others.
// The order is sorted again as a whole, but only from the first entry that
// can have changed: the lowest moved entry or the cut record. Before it the
// order is still sorted and nothing there is farther than an entry after it
// (moved entries came from after it, pieces are no nearer than what they
// were cut from), so the shorter sort leaves the whole sort's order.
void restart(Walk* w, int32_t first_piece, int32_t lowest_moved) {
  Scene* s = w->s;
  ++w->st.splits;
  const int32_t old_length = s->orderLength - (s->count - first_piece);
  int32_t from = position_of(w, w->cut, old_length);
  if (lowest_moved >= 0) from = std::min(from, lowest_moved);
  // The new pieces were appended to the primitives and the order.
  if (w->indexed && w->grid.ok) scene_grid_added(&w->grid, s, first_piece);
  sort_from(s, from, s->orderLength);
  reordered(w, from);
}

enum class Scan { kClear, kConflict, kSplit, kSpent };

Scan examined(Walk* w, int32_t pi, int32_t q) {
  ++w->st.tested;
  // Alike primitives give the same pixels in either order.
  if (w->looks == kSceneAlikeByWords && scene_alike(prims(w->s)[pi], prims(w->s)[q])) return Scan::kClear;
  switch (examine(w->s, pi, q, &w->cut)) {
    case Pair::kNoConflict: return Scan::kClear;
    case Pair::kSplit: return Scan::kSplit;
    default: return Scan::kConflict;
  }
}

// The candidates from the grid, in the plain walk's order; the pairs between
// them count as the plain walk would have counted them.
Scan scan_grid(Walk* w, int32_t pos, int32_t pi, int32_t* conflict) {
  const int32_t m = scene_grid_candidates(&w->grid, w->s, pi, pos);
  const int32_t* ord = order_of(w->s);
  int32_t prev = pos;
  for (int32_t k = 0; k < m; ++k) {
    const int32_t j = w->grid.cand[k];
    if (!spend(w, prev - j)) return Scan::kSpent;
    prev = j;
    const Scan r = examined(w, pi, ord[j]);
    if (r == Scan::kClear) continue;
    *conflict = j;
    return r;
  }
  return spend(w, prev) ? Scan::kClear : Scan::kSpent;
}

// Q from just before P toward the first, skipping summarised blocks.
Scan scan_order(Walk* w, int32_t pos, int32_t pi, int32_t* conflict) {
  Scene* s = w->s;
  const int32_t* ord = order_of(s);
  const ScenePrim& P = prims(s)[pi];
  for (int32_t j = pos - 1; j >= 0; --j) {
    if (w->indexed) {
      const int32_t g = j / kGroup;
      if (!(group_prefix(s)[g] < P.z[0])) {
        // Nothing at 0..j reaches behind P's nearest point.
        return spend(w, j + 1) ? Scan::kClear : Scan::kSpent;
      }
      const int32_t b = j / kBlock;
      const int32_t first = clear_of(group_summaries(s)[g], P) ? g * kGroup
                            : clear_of(block_summaries(s)[b], P) ? b * kBlock
                                                                 : -1;
      if (first >= 0) {
        if (!spend(w, j - first + 1)) return Scan::kSpent;
        j = first;
        continue;
      }
    }
    if (!spend(w, 1)) return Scan::kSpent;
    const Scan r = examined(w, pi, ord[j]);
    if (r == Scan::kClear) continue;
    *conflict = j;
    return r;
  }
  return Scan::kClear;
}

void resolve(Walk* w) {
  Scene* s = w->s;
  int32_t* ord = order_of(s);
  ScenePrim* pr = prims(s);
  int32_t lowest_moved = -1;
  while (s->orderLength > 0) {
    const int32_t pos = s->orderLength - 1;
    const int32_t pi = ord[pos];
    int32_t conflict = -1;
    const int32_t count_before = s->count;
    const Scan r = w->indexed && w->grid.ok ? scan_grid(w, pos, pi, &conflict) : scan_order(w, pos, pi, &conflict);
    if (r == Scan::kSpent) break;
    if (r == Scan::kSplit) {
      restart(w, count_before, lowest_moved);
      lowest_moved = -1;
      continue;
    }
    if (r == Scan::kClear) {
      TN_ASSERT(ord[pos] == pi);
      draw(w, pi);
      s->orderLength = pos;
      if (lowest_moved >= 0 && lowest_moved < pos) {
        sort_from(s, lowest_moved);
        reordered(w, lowest_moved);
      }
      lowest_moved = -1;
      continue;
    }
    const int32_t qi = ord[conflict];
    if (!pr[qi].moved) {
      std::memmove(ord + conflict, ord + conflict + 1, size_t(pos - conflict) * sizeof(int32_t));
      ord[pos] = qi;
      pr[pi].moved = 1;
      if (lowest_moved < 0 || conflict < lowest_moved) lowest_moved = conflict;
      reordered(w, conflict);
      continue;
    }
    const int c = break_cycle(w, pos, pi, qi);
    if (c < 0) break;
    if (c > 0) {
      restart(w, count_before, lowest_moved);
      lowest_moved = -1;
      continue;
    }
    draw(w, pi);  // nothing splits: drawn as it stands
    s->orderLength = pos;
    if (lowest_moved >= 0 && lowest_moved < pos) {
      sort_from(s, lowest_moved);
      reordered(w, lowest_moved);
    }
    lowest_moved = -1;
  }
  // Budget spent: the rest in its current order, farthest first.
  while (s->orderLength > 0) {
    const int32_t pos = --s->orderLength;
    draw(w, ord[pos]);
  }
}

}  // namespace

int64_t scene_pair_budget(int64_t n0) { return kPairBudgetFactor * n0 * n0 + kPairBudgetBase; }

int64_t scene_capacity_for(int64_t size) {
  if (size < kSceneHeaderBytes) return 0;
  return (std::min(size, kMaxSceneBytes) - kSceneHeaderBytes) / kSceneBytesPerPrim;
}

void scene_resize(Scene* s, int64_t size) {
  const int64_t cap = scene_capacity_for(size);
  if (!s || cap < s->capacity) return;
  // The order and the index are filled by the rendering only: nothing in
  // them is kept.
  s->capacity = int32_t(cap);
  s->prims = int32_t(kSceneHeaderBytes);
  s->order = int32_t(kSceneHeaderBytes + cap * int64_t(sizeof(ScenePrim)));
  s->aux = int32_t(s->order + cap * int64_t(sizeof(int32_t)));
}

Scene* scene_init(void* block, int64_t size, uint32_t orientation) {
  if (!block || size < kSceneHeaderBytes || (reinterpret_cast<uintptr_t>(block) & 3) != 0) return nullptr;
  Scene* s = static_cast<Scene*>(block);
  s->capacity = 0;
  scene_resize(s, size);
  s->count = 0;
  s->orderLength = 0;
  s->orientation = orientation & 1;
  s->clipOn = 0;
  s->clipXMin = s->clipXMax = s->clipYMin = s->clipYMax = 0.0f;
  return s;
}

void scene_set_clip(Scene* s, float x_min, float x_max, float y_min, float y_max) {
  if (!s) return;
  s->clipOn = 1;
  s->clipXMin = x_min, s->clipXMax = x_max, s->clipYMin = y_min, s->clipYMax = y_max;
}

ScenePrim* scene_prim(Scene* s, int32_t i) { return prims(s) + i; }
int32_t* scene_order(Scene* s) { return order_of(s); }

int scene_add_point(Scene* s, int32_t w1, int32_t w2, int32_t w3, float x, float y, float z) {
  if (!s) return kSceneNone;
  if (!finite3(x, y, z)) return kSceneAdded;
  int status;
  ScenePrim* p = next_record(s, &status);
  if (!p) return status;
  if (s->clipOn && (x < s->clipXMin || x > s->clipXMax || y < s->clipYMin || y > s->clipYMax)) return kSceneAdded;
  p->kind = kScenePrimPoint;
  p->vertexCount = 1;
  p->x[0] = x, p->y[0] = y, p->z[0] = z;
  p->x[1] = p->x[2] = p->y[1] = p->y[2] = p->z[1] = p->z[2] = 0.0f;
  p->edge[0] = p->edge[1] = p->edge[2] = 0;
  finish_record(s, p, w1, w2, w3);
  return kSceneAdded;
}

int scene_add_segment(Scene* s, int32_t w1, int32_t w2, int32_t w3, float x0, float y0, float z0, float x1,
                      float y1, float z1) {
  if (!s) return kSceneNone;
  if (!finite3(x0, y0, z0) || !finite3(x1, y1, z1)) return kSceneAdded;
  int status;
  ScenePrim* p = next_record(s, &status);
  if (!p) return status;
  const float xs[2] = {x0, x1}, ys[2] = {y0, y1};
  if (clipped_away(s, xs, ys, 2)) return kSceneAdded;
  p->kind = kScenePrimSegment;
  p->vertexCount = 2;
  p->x[0] = x0, p->y[0] = y0, p->z[0] = z0;
  p->x[1] = x1, p->y[1] = y1, p->z[1] = z1;
  p->x[2] = p->y[2] = p->z[2] = 0.0f;
  p->edge[0] = 0, p->edge[1] = 1, p->edge[2] = 0;
  finish_record(s, p, w1, w2, w3);
  return kSceneAdded;
}

int scene_add_triangle(Scene* s, int32_t w1, int32_t w2, int32_t w3, float x0, float y0, float z0, float x1,
                       float y1, float z1, float x2, float y2, float z2, int32_t keep_when_flipped,
                       int32_t keep_otherwise, uint32_t edge_bits) {
  if (!s) return kSceneNone;
  if (!finite3(x0, y0, z0) || !finite3(x1, y1, z1) || !finite3(x2, y2, z2)) return kSceneAdded;
  int status;
  ScenePrim* p = next_record(s, &status);
  if (!p) return status;
  const float xs[3] = {x0, x1, x2}, ys[3] = {y0, y1, y2};
  if (clipped_away(s, xs, ys, 3)) return kSceneAdded;
  const double cross = (double(x1) - x0) * (double(y2) - y0) - (double(y1) - y0) * (double(x2) - x0);
  const uint32_t f = s->orientation ^ (cross >= 0 ? 1u : 0u);
  if (f ? !keep_when_flipped : !keep_otherwise) return kSceneAdded;
  p->kind = f ? kScenePrimFront : kScenePrimBack;
  p->vertexCount = 3;
  p->x[0] = x0, p->y[0] = y0, p->z[0] = z0;
  p->x[1] = x1, p->y[1] = y1, p->z[1] = z1;
  p->x[2] = x2, p->y[2] = y2, p->z[2] = z2;
  for (int i = 0; i < 3; ++i) p->edge[i] = (edge_bits >> i) & 1 ? kSceneEdgeDrawn : kSceneEdgeHidden;
  finish_record(s, p, w1, w2, w3);
  return kSceneAdded;
}

void scene_render(Scene* s, ScenePointCallback point, SceneSegmentCallback segment, SceneFacetCallback facet,
                  void* context, SceneStats* stats, bool indexed, void* work, int64_t work_bytes, uint32_t looks) {
  Walk w{s,  point, segment, facet, context, {}, 0, indexed && s && index_words(s->capacity) <= s->capacity,
         {}, looks};
  if (s) {
    w.st.budget = scene_pair_budget(s->count);
    ScenePrim* pr = prims(s);
    int32_t* ord = order_of(s);
    int32_t live = s->count;
    if (looks == kSceneAlikeByWords) {
      // The free ones first, in the order they came; they leave the scene.
      // (The pass reads boxes only, which the vertex order leaves as they are.)
      // Their records are marked drawn only when the rest is placed in order.
      live = scene_free_alike(s);
      for (int32_t k = s->count - 1; k >= live; --k) {
        scene_vertex_order(&pr[ord[k]]);
        draw(&w, ord[k]);
        if (live > 0) pr[ord[k]].kind = kScenePrimEmpty;
      }
      w.st.freed = s->count - live;
      for (int32_t k = 0; k < live; ++k) scene_vertex_order(&pr[ord[k]]);
    } else {
      for (int32_t i = 0; i < s->count; ++i) {
        scene_vertex_order(&pr[i]);
        ord[i] = i;
      }
    }
    s->orderLength = live;
    if (live > 0) {
      if (live < s->count) complete_order(s, live);
      // The index is built after this sort: its words hold the keys meanwhile.
      sort_from(s, 0, live, reinterpret_cast<float*>(reinterpret_cast<char*>(s) + s->aux));
      place_in_order(s, s->count);
    }
    if (w.indexed) {
      rebuild_index(s, 0);
      scene_grid_build(&w.grid, s, work, work_bytes);
      w.grid.alike = looks == kSceneAlikeByWords;
    }
    resolve(&w);
    w.st.visited += w.grid.visited;
  }
  if (stats) *stats = w.st;
}

int scene_split(Scene* s, int32_t p, int32_t q, bool forced) {
  int32_t cut;
  return split_pair(s, p, q, forced, &cut);
}

namespace {

int split_pair(Scene* s, int32_t p, int32_t q, bool forced, int32_t* cut_record) {
  if (!s || p < 0 || q < 0 || p >= s->count || q >= s->count || p == q) return 0;
  if (s->capacity - s->count < 2) return 0;
  ScenePrim* pr = prims(s);
  const int pc = pr[p].vertexCount, qc = pr[q].vertexCount;
  if (pc < 2 || qc < 2 || (pc == 2 && qc == 2)) return 0;
  ScenePrim out[3];
  int n = 0;
  int32_t cut = q;
  if (pc == 2) {
    cut = p;
    n = scene_cut_segment(pr[p], pr[q], forced, out);
  } else if (qc == 2) {
    n = scene_cut_segment(pr[q], pr[p], forced, out);
  } else {
    // The second is cut by the first's plane; the roles swap once only
    // when that plane does not cross it at all.
    n = scene_cut_triangle(pr[q], pr[p], forced, out);
    if (n == 0) {
      cut = p;
      n = scene_cut_triangle(pr[p], pr[q], forced, out);
    }
  }
  if (n <= 0) return 0;
  // Pieces get their vertex order before any re-sort takes vertex 0 as
  // nearest; the first takes over the cut record, the rest are appended.
  for (int k = 0; k < n; ++k) {
    scene_vertex_order(&out[k]);
    scene_prim_box(&out[k]);
  }
  TN_ASSERT(s->count + n - 1 <= s->capacity);
  pr[cut] = out[0];
  int32_t* ord = order_of(s);
  for (int k = 1; k < n; ++k) {
    pr[s->count] = out[k];
    ord[s->orderLength++] = s->count;
    ++s->count;
  }
  *cut_record = cut;
  return 1;
}

}  // namespace
