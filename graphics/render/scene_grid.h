// A grid of screen cells over the scene's boxes, built in a caller's work
// area for one rendering: the walk asks it for the candidates that can
// conflict with P (depth and box overlap) in the order the plain walk meets
// them, so it examines only those. Internal to the scene.
#pragma once

#include <cstdint>

#include "graphics/render/scene.h"

struct SceneGrid {
  bool ok;
  int32_t gx, gy;
  double x0, y0, sx, sy;  // cell = floor((x - x0) * sx), clamped
  int32_t* pos_of;        // a primitive's position in the order, -1 once drawn
  int32_t* stamp;         // the last gathering that met a primitive
  int32_t* cand;          // positions gathered for one P
  int32_t* cell_start;    // gx * gy + 1 offsets into cell_items
  int32_t* cell_end;      // per cell, the end of its items not yet known drawn
  int32_t* cell_items;    // primitive indices by cell
  int32_t* big;           // primitives and pieces the cells had no room for
  int32_t big_count, big_room;
  int32_t* piece_head;    // per cell, the first of its pieces' links, -1 for none
  int32_t* piece_link;    // pairs (primitive, next link) in the rest of the work area
  int32_t piece_links, piece_room;
  int32_t epoch;
  bool alike;       // alike primitives are no candidates (kSceneAlikeByWords)
  int64_t visited;  // cell and list entries looked at
};

// False (grid unusable) when the work area is too small.
bool scene_grid_build(SceneGrid* g, Scene* s, void* work, int64_t bytes);
// Positions from `from` to the order's end were rewritten.
void scene_grid_reordered(SceneGrid* g, Scene* s, int32_t from);
void scene_grid_drawn(SceneGrid* g, int32_t prim);
// Primitives from `first` on were appended by a split.
void scene_grid_added(SceneGrid* g, Scene* s, int32_t first);
// The positions below pos of the primitives that can conflict with P,
// highest first; returns their count.
int32_t scene_grid_candidates(SceneGrid* g, Scene* s, int32_t pi, int32_t pos);
