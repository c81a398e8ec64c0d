// A QImage target painted through the Qt driver tables, with pixel probes:
// the colour at a point, the set of pixels that differ from the background,
// their bounding box.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

#include <QImage>
#include <QPainter>

#include "platform/qt_driver.h"
#include "support/qt_test_font.h"

namespace qt_probe {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlack = 0xFF000000;

struct Box {
  int left, top, right, bottom;  // inclusive pixel bounds; left > right when empty
  bool operator==(const Box&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Box& b) {
  return os << "(" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom << ")";
}

using PixelSet = std::set<std::pair<int, int>>;

struct Canvas {
  QImage image;
  QPainter painter;
  QtDriverTarget target;
  GraphicsDriverContext ctx{};
  const GraphicsDriver* drv = &g_qt_screen_driver;

  explicit Canvas(int w = 200, int h = 200, QRgb fill = kWhite) : image(w, h, QImage::Format_RGB32) {
    image.fill(fill);
    painter.begin(&image);
    graphics_context_defaults(&ctx);
    std::memset(ctx.figure_font_face, 0, sizeof ctx.figure_font_face);
    std::memcpy(ctx.figure_font_face, kTestFontFace, sizeof kTestFontFace);
    ctx.figure_font_size = kTestFontPixels;
    qt_target_begin(&target, &painter, &ctx);
  }
  ~Canvas() { finish(); }
  // Ends the paint so that the image can be read.
  void finish() {
    if (painter.isActive()) {
      qt_target_end(&target, &ctx);
      painter.end();
    }
  }
  // Restarts painting after a finish(), keeping the image.
  void resume() {
    painter.begin(&image);
    qt_target_begin(&target, &painter, &ctx);
  }
  QRgb at(int x, int y) {
    finish();
    return image.pixel(x, y);
  }
  PixelSet ink(QRgb background = kWhite) {
    finish();
    PixelSet s;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, y) != background) s.insert({x, y});
    return s;
  }
  Box ink_box(QRgb background = kWhite) {
    Box b{1 << 30, 1 << 30, -(1 << 30), -(1 << 30)};
    for (auto [x, y] : ink(background)) {
      b.left = std::min(b.left, x);
      b.top = std::min(b.top, y);
      b.right = std::max(b.right, x);
      b.bottom = std::max(b.bottom, y);
    }
    return b;
  }
  void line(std::initializer_list<std::pair<double, double>> pts, uint32_t bits, uint8_t r = 0, uint8_t g = 0,
            uint8_t b = 0) {
    std::vector<double> xs, ys;
    for (auto [x, y] : pts) {
      xs.push_back(x);
      ys.push_back(y);
    }
    StyleSpec s{bits, r, g, b};
    drv->draw_polyline(xs.data(), ys.data(), int32_t(xs.size()), &s, &ctx);
  }
};

}  // namespace qt_probe
