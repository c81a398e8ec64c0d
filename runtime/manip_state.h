// The event state of the block: what the interaction code found under the
// pointer (points, displacement, element quantities and numbers), read by
// the special handler variables. A field counts only while its validity bit
// is set; a variable whose bits are not all set is an empty matrix.
#pragma once

#include <cstdint>

struct ManipState {
  int32_t handler_subplot;  // written by the handler call from its subplot argument
  double px, py;            // pointer in pixels (not a handler variable)
  double x, y;              // current point
  double x0, y0, z0;        // first point
  double cx, cy;            // clamped pointer of a drag (not a handler variable)
  double x1, y1, z1;        // second point
  double dx, dy;            // explicit displacement
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
  kManipFlag = 0x400,
  kManipId = 0x800,
  kManipNb = 0x1000,
  kManipIx = 0x2000,
  kManipDelta = 0x4000,
};
