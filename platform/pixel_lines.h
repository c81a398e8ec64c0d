// 1-pixel lines on raster targets, rasterised here rather than by Qt: each
// segment covers its start pixel and leaves out its end pixel whatever its
// direction (Qt's own stroker leaves out the end with the larger coordinate),
// and a dash pattern counted in device pixels carries on from segment to
// segment of one polyline. Only pixels inside the given bounds are produced.
#pragma once

#include <cstdint>

#include <QList>
#include <QPoint>
#include <QRect>

// Position in a dash pattern of alternating on and off lengths (pixels).
struct DashState {
  const int* lengths = nullptr;  // null: solid
  int count = 0;                 // entries in lengths (even)
  int index = 0;                 // current entry
  int left = 0;                  // pixels left in the current entry
};

// Starts a pattern at its first dash; lengths null for a solid line.
void dash_start(DashState* d, const int* lengths, int count);

// Appends the pixels of the segment (x0, y0) to (x1, y1), end pixel excluded,
// that fall inside bounds and on a dash. A pixel equal to the last one in
// out is not appended twice.
void raster_segment(QList<QPoint>* out, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const QRect& bounds,
                    DashState* dash);
