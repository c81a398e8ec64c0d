// The depth-sorted 3-D scene: points, segments and triangles in pixel
// coordinates with a depth (larger is nearer), kept in one caller-supplied
// block and drawn from far to near through three callbacks. Arrays are found
// by int32 byte offsets from the header, never pointers, so the block may be
// any scratch area; every offset fits an int32 because the capacity is capped.
#pragma once

#include <cstddef>
#include <cstdint>

struct Scene {
  int32_t prims;        // byte offset of the primitive records
  int32_t order;        // byte offset of the draw order (primitive indices)
  int32_t aux;          // byte offset of the walk's depth index (one word per entry)
  int32_t capacity;     // primitives the block holds
  int32_t count;        // primitives added so far
  int32_t orderLength;  // entries of the draw order in use
  uint32_t orientation;  // XOR-ed with each triangle's projected orientation
  int32_t clipOn;
  float clipXMin, clipXMax, clipYMin, clipYMax;
};
static_assert(sizeof(Scene) == 48);

enum : int32_t {
  kScenePrimEmpty = 0,
  kScenePrimPoint = 1,
  kScenePrimSegment = 2,
  kScenePrimFront = 3,  // triangle seen from its front
  kScenePrimBack = 4,   // triangle seen from its back
};
enum : int32_t { kSceneEdgeDrawn = 2, kSceneEdgeHidden = 3 };

struct ScenePrim {
  int32_t kind;
  int32_t vertexCount;
  float x[3], y[3], z[3];
  int32_t edge[3];  // edge i runs from vertex i to vertex (i + 1) mod 3
  float box[4];     // xMin, xMax, yMin, yMax
  int32_t moved;
  int32_t w[3];  // the caller's words
};
static_assert(sizeof(ScenePrim) == 88);

// The record and its two index entries.
constexpr int64_t kSceneBytesPerPrim = 96;
static_assert(kSceneBytesPerPrim == sizeof(ScenePrim) + 2 * sizeof(int32_t));
constexpr int64_t kSceneHeaderBytes = sizeof(Scene);

// Results of the insertions.
enum : int { kSceneAdded = 0, kSceneNone = 1, kSceneFull = 2 };

// A block below 48 bytes (or not 4-byte aligned) gives no scene.
Scene* scene_init(void* block, int64_t size, uint32_t orientation);
// The most bytes a scene's block is used for (its offsets are int32), and
// the primitives a block of `size` bytes holds.
constexpr int64_t kSceneMaxBytes = 2147483647;
int64_t scene_capacity_for(int64_t size);
// While the scene is being filled (before scene_render): its block, with the
// header and the primitives added so far, now has `size` bytes, at least as
// many as before; the capacity and the arrays behind the primitives follow.
void scene_resize(Scene* s, int64_t size);
void scene_set_clip(Scene* s, float x_min, float x_max, float y_min, float y_max);
int scene_add_point(Scene* s, int32_t w1, int32_t w2, int32_t w3, float x, float y, float z);
int scene_add_segment(Scene* s, int32_t w1, int32_t w2, int32_t w3, float x0, float y0, float z0, float x1,
                      float y1, float z1);
// edge_bits: bit i set draws edge i (vertex i to vertex i + 1).
int scene_add_triangle(Scene* s, int32_t w1, int32_t w2, int32_t w3, float x0, float y0, float z0, float x1,
                       float y1, float z1, float x2, float y2, float z2, int32_t keep_when_flipped,
                       int32_t keep_otherwise, uint32_t edge_bits);

ScenePrim* scene_prim(Scene* s, int32_t i);
int32_t* scene_order(Scene* s);

using ScenePointCallback = void (*)(void* context, int32_t w1, int32_t w2, int32_t w3, float x, float y, float z);
using SceneSegmentCallback = void (*)(void* context, int32_t w1, int32_t w2, int32_t w3, const float* x,
                                      const float* y, const float* z, const int32_t* edge);
using SceneFacetCallback = void (*)(void* context, int32_t w1, int32_t w2, int32_t w3, const float* x,
                                    const float* y, const float* z, const int32_t* edge, bool front_facing);

struct SceneStats {
  int64_t pairs;    // pairs examined, counted as the plain walk counts them
  int64_t budget;   // the most pairs one rendering may examine
  int64_t tested;   // pairs the walk tested one by one (the index skips the rest)
  int64_t visited;  // entries re-sorted or re-indexed, and grid entries looked at
  int32_t splits;   // successful splits
  int32_t drawn;    // callbacks made
  int32_t freed;    // drawn first, free of any ordering (kSceneAlikeByWords)
  bool budget_hit;  // the rest was drawn in its order
};

// How the caller draws. kSceneAlikeByWords: two points, or two segments,
// with equal first and second words are drawn alike (one kind of driver
// call, one style, nothing taken from the vertex), so their order changes
// no pixel: the ordering leaves such pairs as they come, and those that no
// primitive unlike them comes near (their boxes widened by a marker's or a
// thick line's reach) are drawn first, in the order they were added,
// without any ordering work.
// A point or segment that reaches further from its vertices than a marker
// or a thick line (a text at a point) gives kSceneAlikeWithNone as its
// second word: it is alike with nothing and always ordered.
enum : uint32_t { kSceneAlikeNone = 0, kSceneAlikeByWords = 1 };
constexpr int32_t kSceneAlikeWithNone = INT32_MIN;

// Orders and draws everything. A null callback draws nothing for its kind.
// `indexed` lets the walk skip candidates through summaries of the order
// and, given a work area (4-byte aligned; some 20 bytes per primitive), a
// grid of screen cells: the callbacks see exactly the plain walk's sequence.
void scene_render(Scene* s, ScenePointCallback point, SceneSegmentCallback segment, SceneFacetCallback facet,
                  void* context, SceneStats* stats = nullptr, bool indexed = true, void* work = nullptr,
                  int64_t work_bytes = 0, uint32_t looks = kSceneAlikeNone);

// Cuts p or q (primitive indices) along the other's plane; 1 when split.
int scene_split(Scene* s, int32_t p, int32_t q, bool forced);

// The pair budget of a rendering that starts with n0 primitives.
int64_t scene_pair_budget(int64_t n0);
