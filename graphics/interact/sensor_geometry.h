// The geometry of 3-D sensors: the pointer's pixel position turned into a
// point constrained to a plane through the pressed point, or to a sphere
// about a centre through it, by inverting the subplot's 3-D projection
// exactly. A position whose solution is not finite changes nothing.
#pragma once

#include "graphics/interact/manip_state.h"
#include "graphics/subplot/subplot.h"

// Flags a sensor sets: x1, y1, z1 and both parts of q.
constexpr uint32_t kSensorFlags = kManipX1 | kManipY1 | kManipZ1 | kManipQ1 | kManipQ2;
static_assert(kSensorFlags == 0x3a4);

// The plane through (x0, y0, z0) spanned by a and b: p1 = p0 + u a + v b
// where the pointer's ray meets it, q = (u, v).
void sensor3_plane_point(const Subplot* s, double px, double py, const double* a, const double* b, ManipState* st);
// The sphere about c through (x0, y0, z0): the point where the pointer's ray
// meets it (the near one, or the far one from inside; the closest approach
// projected onto it when the ray misses), q = (azimuth, elevation).
void sensor3_sphere_point(const Subplot* s, double px, double py, const double* c, ManipState* st);
// Azimuth and elevation, about the centre, of the point where the ray
// origin + t dir (origin relative to the centre) meets the sphere of radius r.
void ray_sphere_angles(const double* origin, const double* dir, double r, double* azimuth, double* elevation);
// The first two components of the solution of M x = rhs, with M's rows then
// rhs given as 12 values; false when M is singular to working precision or
// the solution is not finite.
bool solve3x3_first_two(const double* m12, double* first, double* second);
