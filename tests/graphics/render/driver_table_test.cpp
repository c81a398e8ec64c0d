// The driver table's installed values and the empty table that draws nothing.
#include <gtest/gtest.h>

#include "graphics/render/graphics_driver.h"

namespace {

TEST(DriverTable, ValueTablesInOrder) {
  struct Row {
    const GraphicsDriverValues* v;
    double expect[8];
  } rows[] = {
      {&kEmptyDriverValues, {0, 0, 0, 0, 1, 1, 8, 8}},
      {&kScreenDriverValues, {5, 0.5, 1.5, 1.5, 1, 1, 8, 8}},
      {&kScreenPaintValues, {5, 0.5, 2, 2, 1, 1, 8, 8}},
      {&kPrinterDriverValues, {5, 0.5, 1.5, 1.5, 1, 1, 24, 24}},
  };
  for (const Row& r : rows) {
    const double* got = &r.v->marginLeft;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(got[i], r.expect[i]) << i;
  }
}

TEST(DriverTable, EmptyTableHasNoEntries) {
  const void* const* entries = reinterpret_cast<const void* const*>(&kEmptyGraphicsDriver);
  for (int i = 0; i < kDriverEntryCount; ++i) EXPECT_EQ(entries[i], nullptr) << i;
  EXPECT_EQ(kEmptyGraphicsDriver.flip_vertical, 0);
  GraphicsDriverContext c{};
  graphics_context_defaults(&c);
  EXPECT_EQ(c.background_colour, 0xE5E5E5u);
  EXPECT_STREQ(c.figure_font_face, "Arial");
}

}  // namespace
