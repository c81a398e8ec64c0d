// Geometry of the scene's primitives in the projected plane and in depth:
// bounding boxes, vertex order, planes, crossings, projected overlap and the
// cuts that split a primitive along another's plane. Internal to the scene.
#pragma once

#include <cstdint>

#include "graphics/render/scene.h"

// a x + b y + c z + d = 0 with c >= 0 (the positive side is nearer).
struct ScenePlane {
  double a, b, c, d, tol;
};

void scene_prim_box(ScenePrim* p);
// Vertices by decreasing depth; edge flags travel with their edges.
void scene_vertex_order(ScenePrim* p);
ScenePlane scene_plane(const ScenePrim& t);
bool scene_all_in_front(const ScenePlane& pl, const ScenePrim& q);
bool scene_all_behind(const ScenePlane& pl, const ScenePrim& p);
double scene_plane_depth(const ScenePlane& pl, double x, double y);
// Projections crossing strictly inside both (parameters t on p, u on q).
bool scene_segments_cross(const ScenePrim& p, const ScenePrim& q, double* t, double* u);
// Real overlap of the projections, with a point of it.
bool scene_overlap(const ScenePrim& p, const ScenePrim& q, double* ox, double* oy);
// The pieces (2 or 3) of `cut` along the plane of the triangle `by`; 0 when
// the plane does not cross it, kSceneCutUnneeded when it does but the cut
// would not matter (not forced). Pieces carry the cut primitive's kind and words.
constexpr int kSceneCutUnneeded = -1;
int scene_cut_segment(const ScenePrim& cut, const ScenePrim& by, bool forced, ScenePrim out[3]);
int scene_cut_triangle(const ScenePrim& cut, const ScenePrim& by, bool forced, ScenePrim out[3]);

// Screen cells over the primitives' boxes, as the walk's grid and the free
// pass lay them out: the union of the boxes of pr[0, n) (n > 0), with a
// least extent so that a scene on one line or point still has cells; cells
// about square, some `cells` of them (1 to kSceneMaxCellsAlong along a side);
// and the clamped cell of a coordinate (floor((v - origin) * scale); NaN: 0).
struct SceneExtent {
  double x0, y0, w, h;
};
constexpr int32_t kSceneMaxCellsAlong = 4096;
SceneExtent scene_boxes_extent(const ScenePrim* pr, int32_t n);
void scene_square_cells(const SceneExtent& e, int64_t cells, int32_t* gx, int32_t* gy);
inline int32_t scene_cell_of(double v, double origin, double scale, int32_t n) {
  const double c = (v - origin) * scale;  // a positive c's floor is its truncation
  if (!(c > 0)) return 0;
  return c >= n - 1 ? n - 1 : int32_t(c);
}
