// The set-up the figure benches share: an application built into a block of
// its own and drawn through the Qt screen driver, with the paint values, into
// an offscreen image of the given size. Timing starts after it.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include <QImage>
#include <QPainter>

#include "platform/qt_driver.h"
#include "tools/imagetools/image_builder.h"

struct BenchFigure {
  std::unique_ptr<double[]> buffer;
  RuntimeBlock* block = nullptr;
  QImage image;
  QPainter painter;
  QtDriverTarget target;
  GraphicsDriverContext ctx{};
  GraphicsDriver driver = g_qt_screen_driver;

  // False, with the reason on standard error, when the block or the
  // application cannot be built.
  bool open(uint32_t bytes, std::map<std::string, std::string> sources, const char* description, int width,
            int height) {
    buffer.reset(new double[bytes / 8]());
    if (tnbuild::start_block(&block, buffer.get(), bytes) != 0) {
      std::fprintf(stderr, "cannot lay out the block\n");
      return false;
    }
    tnbuild::Builder builder(block, std::move(sources));
    if (!builder.build(description)) {
      std::fprintf(stderr, "%s\n", builder.error.c_str());
      return false;
    }
    image = QImage(width, height, QImage::Format_RGB32);
    painter.begin(&image);
    graphics_context_defaults(&ctx);
    qt_target_begin(&target, &painter, &ctx);
    driver.values = kScreenPaintValues;
    rt_set_graphics_driver(block, &driver);
    rt_set_graphics_context(block, &ctx);
    return true;
  }
  // Ends the paint so that the image can be read or saved.
  void close() {
    if (!painter.isActive()) return;
    qt_target_end(&target, &ctx);
    painter.end();
  }
  ~BenchFigure() { close(); }
};
