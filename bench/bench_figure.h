// The set-up the figure benches share: an application built into a block of
// its own (a fixed one, or the program's: MemMin first, grown by half again
// up to MemMax) and drawn through the Qt screen driver, with the paint
// values, into an offscreen image of the given size. Timing starts after it.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include <QImage>
#include <QPainter>

#include "host/app/runtime_host.h"
#include "host/app/tn_app.h"
#include "platform/qt_driver.h"
#include "tools/imagetools/image_builder.h"

struct BenchFigure {
  std::unique_ptr<double[]> buffer;
  std::unique_ptr<RuntimeHost> host;
  RuntimeBlock* block = nullptr;
  // What the calls that may grow the block take: the program's block lives
  // in its host, which moves it.
  RuntimeBlock** handle = &block;
  tnbuild::ToolHost tool_host;
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
    if (tnbuild::start_block(&block, buffer.get(), bytes, &tool_host) != 0) {
      std::fprintf(stderr, "cannot lay out the block\n");
      return false;
    }
    return build(std::move(sources), description, width, height);
  }
  // The same in a block that starts and grows as the program's does, up to
  // the default MemMax or the one given (as in the settings file).
  bool open_program(std::map<std::string, std::string> sources, const char* description, int width, int height,
                    int32_t mem_max = kMemMaxDefault) {
    host = std::make_unique<RuntimeHost>(kMemMinDefault, mem_max, 0, 2);
    if (!host->has_block() || rt_register_library(host->block(), g_builtin_table_host) != 0) {
      std::fprintf(stderr, "cannot lay out the block\n");
      return false;
    }
    handle = host->block_handle();
    return build(std::move(sources), description, width, height);
  }
  bool build(std::map<std::string, std::string> sources, const char* description, int width, int height) {
    tnbuild::Builder builder(*handle, std::move(sources));
    if (!builder.build(description)) {
      std::fprintf(stderr, "%s\n", builder.error.c_str());
      return false;
    }
    image = QImage(width, height, QImage::Format_RGB32);
    painter.begin(&image);
    graphics_context_defaults(&ctx);
    qt_target_begin(&target, &painter, &ctx);
    driver.values = kScreenPaintValues;
    rt_set_graphics_driver(*handle, &driver);
    rt_set_graphics_context(*handle, &ctx);
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
