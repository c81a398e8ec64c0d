// Geometry of the scene's primitives in the projected plane and in depth:
// bounding boxes, vertex order, planes, crossings, projected overlap and the
// cuts that split a primitive along another's plane. Internal to the scene.
#pragma once

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
