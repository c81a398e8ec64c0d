// A 3-D subplot for drawing tests: frame and rectangle 0..400 by 0..300 with
// no margins, limits -1..1 on every axis and the default camera, with the
// recording driver's character cell, so pixel positions are stable.
#pragma once

#include "graphics/subplot/subplot.h"

inline Subplot box3_subplot(uint8_t orthographic, double lo = -1.0, double hi = 1.0) {
  Subplot s;
  subplot_init_defaults(&s);
  s.rectLeft = s.frameLeft = 0, s.rectRight = s.frameRight = 400;
  s.rectTop = s.frameTop = 0, s.rectBottom = s.frameBottom = 300;
  s.marginLeft = s.marginRight = s.marginTop = s.marginBottom = 0.0;
  s.charWidth = 7.0;
  s.lineHeight = 13.0;
  s.needsLayout = 0;
  s.is3D = 1;
  s.xMin = s.yMin = s.zMin = lo;
  s.xMax = s.yMax = s.zMax = hi;
  s.xMode = s.yMode = s.zMode = kAxisFixed;
  s.orthographic = orthographic;
  subplot_update_transform(&s);
  return s;
}
