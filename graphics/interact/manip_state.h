// The pointer-manipulation state: the current pointer event and the element
// it hit, filled by the hit test and read by the handler's special
// variables. A field is defined only while its flag bit is set.
#pragma once

#include <cstdint>

struct ManipState {
  int32_t subplot;
  double px, py;      // pointer in pixels
  double x, y;        // pointer in data coordinates
  double x0, y0, z0;  // the hit point of the element
  double cx, cy;      // pointer clamped to the frame during a drag
  double x1, y1, z1;  // current point of a manipulation
  double dx, dy;      // wheel amounts, or the legend's offset from the pointer
  double q[2];        // extra value of the hit element
  int32_t id, nb, ix;
  uint32_t flags;
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
  kManipQ = 0x100,
  kManipQ2 = 0x200,
  kManipModifier = 0x400,
  kManipId = 0x800,
  kManipNb = 0x1000,
  kManipIx = 0x2000,
  kManipWheel = 0x4000,
  kManipControl = 0x8000,
  kManipLegend = 0x10000,
  kManipPointer = kManipX | kManipY | kManipX1 | kManipY1,  // 0x2d
  kManipPointHit = kManipId | kManipNb | kManipIx | kManipX0 | kManipY0,  // 0x3812
  kManipElementHit = kManipId | kManipNb | kManipX0 | kManipY0,  // 0x1812
};
static_assert(kManipPointer == 0x2d && kManipPointHit == 0x3812 && kManipElementHit == 0x1812);

inline void manip_state_clear(ManipState* m) {
  m->subplot = 0;
  m->flags = 0;
}
