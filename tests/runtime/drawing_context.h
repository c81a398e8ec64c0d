// A one-subplot demo instance on the moving fake host, with its display list
// open for building and the call context on it: where plot commands and the
// `scale` built-in run from ZVR code as a plot handler would run them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/fake_host.h"
#include "runtime/layout.h"
#include "runtime/plot_lists.h"
#include "tools/imagetools/image_builder.h"

constexpr uint32_t kDrawingBlockBytes = 2u << 20;

inline void open_drawing_context(FakeHost* host) {
  ASSERT_EQ(host->start(kDrawingBlockBytes, kDrawingBlockBytes), 0);
  ASSERT_EQ(rt_register_library(host->block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host->block, {});
  ASSERT_TRUE(builder.build("instance demo\nvar x\nfigure \"One\"\nplot demo_plot(x)\n")) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host->block, 0, 0, 200, 0, 100), 0);
  RuntimeBlock* b = host->block;
  ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
  b->h.build.subplot = 0;
  b->h.user.instance_id = 0;
}
