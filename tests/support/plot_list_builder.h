// Builds display lists for drawing tests: records appended by code, style
// and data, and a 2-D subplot whose frame equals its rectangle and whose
// data map has no margin, so pixel positions are easy to read.
#pragma once

#include <cstring>
#include <initializer_list>
#include <vector>

#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/subplot.h"

namespace plotlists {

struct ListBuilder {
  std::vector<double> d;
  ListBuilder& rec(int32_t code, uint32_t bits, uint32_t colour, std::initializer_list<double> data) {
    d.insert(d.end(), {double(code), -1, -1, double(bits), double(colour), double(data.size())});
    d.insert(d.end(), data);
    return *this;
  }
  // The same with an object id (hit tests skip id -1).
  ListBuilder& rec(int32_t code, uint32_t bits, uint32_t colour, std::initializer_list<double> data, double id) {
    rec(code, bits, colour, data);
    d[d.size() - data.size() - 5] = id;
    return *this;
  }
  ListBuilder& open(int32_t s) { return rec(kCodeOpenObject, 0, 0, {double(s)}); }
  // A record whose data are given as a vector (images, long polylines).
  ListBuilder& recv(int32_t code, uint32_t bits, uint32_t colour, const std::vector<double>& data) {
    d.insert(d.end(), {double(code), -1, -1, double(bits), double(colour), double(data.size())});
    d.insert(d.end(), data.begin(), data.end());
    return *this;
  }
};

// Image bytes packed eight per double.
inline std::vector<double> pack_bytes(const std::vector<uint8_t>& bytes) {
  std::vector<double> out((bytes.size() + 7) / 8, 0.0);
  std::memcpy(out.data(), bytes.data(), bytes.size());
  return out;
}

// Frame and rectangle (left, right, top, bottom) in pixels; data limits.
inline void flat_subplot(Subplot* s, double l, double r, double t, double b, double x0, double x1, double y0,
                         double y1) {
  subplot_init_defaults(s);
  s->rectLeft = l, s->rectRight = r, s->rectTop = t, s->rectBottom = b;
  s->frameLeft = l, s->frameRight = r, s->frameTop = t, s->frameBottom = b;
  s->marginLeft = s->marginRight = s->marginTop = s->marginBottom = 0.0;
  s->needsLayout = 0;
  s->xMin = x0, s->xMax = x1, s->yMin = y0, s->yMax = y1;
  s->xMode = s->yMode = kAxisFixed;
  subplot_compute_transform(s, 0, 0.0);
}

}  // namespace plotlists
