// The pointer-manipulation state: the current pointer event and the element
// it hit, filled by the hit test and the interaction code, kept in the
// runtime block and read by the handler's special variables. A field counts
// only while its validity bit is set; a variable whose bits are not all set
// is an empty matrix.
#pragma once

#include <cstdint>

struct ManipState {
  int32_t handler_subplot;  // the subplot of the hit, or of the handler call
  double px, py;            // pointer in pixels (not a handler variable)
  double x, y;              // current point, in data coordinates
  double x0, y0, z0;        // first point: the hit point of the element
  double cx, cy;            // pointer clamped to the frame during a drag (not a handler variable)
  double x1, y1, z1;        // second point: the current point of a manipulation
  double dx, dy;            // explicit displacement: wheel amounts, or the legend's offset
  double q1, q2;            // quantities of the manipulated element
  int32_t id, nb, ix;       // element id, number and index
  uint32_t valid;
};

enum : uint32_t {
  kManipX = 0x1,
  kManipX0 = 0x2,
  kManipX1 = 0x4,
  kManipY = 0x8,
  kManipY0 = 0x10,
  kManipY1 = 0x20,
  kManipZ0 = 0x40,
  kManipZ1 = 0x80,
  kManipQ1 = 0x100,
  kManipQ2 = 0x200,
  kManipFlag = 0x400,  // a modifier key was held
  kManipId = 0x800,
  kManipNb = 0x1000,
  kManipIx = 0x2000,
  kManipDelta = 0x4000,  // wheel amounts or another explicit displacement
  kManipControl = 0x8000,
  kManipLegend = 0x10000,
  kManipPointer = kManipX | kManipY | kManipX1 | kManipY1,                // 0x2d
  kManipPointHit = kManipId | kManipNb | kManipIx | kManipX0 | kManipY0,  // 0x3812
  kManipElementHit = kManipId | kManipNb | kManipX0 | kManipY0,           // 0x1812
};
static_assert(kManipPointer == 0x2d && kManipPointHit == 0x3812 && kManipElementHit == 0x1812);

inline void manip_state_clear(ManipState* m) {
  m->handler_subplot = 0;
  m->valid = 0;
}
