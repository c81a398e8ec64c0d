// Computational geometry: Delaunay triangulation in any dimension by
// circumsphere insertion in the free data-stack space (no allocation), point
// location by barycentric coordinates, and scattered-data interpolation over
// the triangulation. Points are rows of real matrices; triangulations list
// 1-based point indices, one simplex per row.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Doubles of the workspace geom_circumcenter needs in dimension d.
int64_t geom_circumcenter_work(int32_t d);
// The circumcentre (and, when r2 is given, the squared radius) of the
// simplex whose d + 1 vertices are rows verts[k] of the row-major points,
// by least squares restricted to the numerical rank.
void geom_circumcenter(const double* points, int32_t d, const int32_t* verts, double* centre,
                       double* r2, double* work);
// Pushes the m x (d + 1) triangulation of the n x d points (which lie in an
// item below the top, so the pushes do not move them); hull, when given, gets
// one byte per point, 1 for the points on the convex hull.
int geom_delaunay_push(EngineContext* ctx, const double* points, int32_t n, int32_t d, uint8_t* hull);
// Replaces (keep = 0) or keeps (keep = 1) the vectors x and y on top and
// pushes the n x 2 matrix [x(:) y(:)]; 20 when their element counts differ.
int geom_xy_to_points(EngineContext* ctx, int keep);

int bi_delaunayn(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_delaunay(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// voronoin(X) and voronoi(x, y): V, or V and the list of cells C.
int bi_voronoin(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_voronoi(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_tsearchn(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
int bi_griddatan(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
// tsearch ('t') and griddata ('g'): the plane forms over x and y vectors.
constexpr uintptr_t kGeomTsearch = 't';
constexpr uintptr_t kGeomGriddata = 'g';
int bi_tsearch_griddata(EngineContext* ctx, int nargin, int nargout, uintptr_t data);
