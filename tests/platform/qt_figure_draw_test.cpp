// A figure of two subplots, the second selected, drawn by the runtime through
// the Qt screen driver into an image: the same bytes every time, and the
// selection mark drawn with XOR, so marking and unmarking restores the image.
#include <cmath>

#include <QImage>

#include "graphics/plotlist/plot_records.h"
#include "graphics/subplot/autoscale.h"
#include "runtime/fake_host.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "runtime/plot_lists.h"
#include "tools/imagetools/image_builder.h"
#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

struct QtFigureDraw : ::testing::Test {
  FakeHost host;
  RuntimeBlock* b = nullptr;
  void SetUp() override {
    ASSERT_EQ(host.start(2u << 20, 2u << 20), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    tnbuild::Builder builder(host.block, {});
    ASSERT_TRUE(builder.build("instance demo\nvar x\nfigure \"Two\"\nplot demo_plot(x)\n")) << builder.error;
    ASSERT_EQ(inst_set_grid(host.block, 0, 1, 2), 0);
    ASSERT_EQ(figure_layout_subplots(&host.block, 0, 0, 200, 0, 100), 0);
    b = host.block;
    // Subplot 0: a dashed line with a NaN gap; subplot 1: red circle markers.
    const double x0[4] = {0, 1, 2, 3}, y0[4] = {0, 1, NAN, 3};
    const double x1[3] = {1, 2, 3}, y1[3] = {3, 1, 2};
    ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
    InstanceRec* r = inst_find_by_id(b, 0);
    PlotWriter w{plotstore_data(rt_plot_store(b)) + b->h.build.start, b->h.build.capacity, 0};
    const StyleSpec styles[2] = {{kStyleKindDashed | 2, 0, 0, 0}, {kStyleKindCircle | 4, 0, 0, 0}};
    const double* xs[2] = {x0, x1};
    const double* ys[2] = {y0, y1};
    const int32_t ns[2] = {4, 3};
    for (int k = 0; k < 2; ++k) {
      ASSERT_TRUE(plotlist_open_object(w.data, w.capacity, &w.used, k));
      Subplot* s = &r->subplots[k];
      subplot_begin_autoscale(s);
      subplot_autoscale_to_data(s, xs[k], ys[k], nullptr, ns[k]);
      ASSERT_EQ(plotwriter_begin_record(&w, kCodePolyline, -1, 1, &styles[k], 1 + 2 * ns[k]), 0);
      plotwriter_put(&w, ns[k]);
      for (int i = 0; i < ns[k]; ++i) plotwriter_put(&w, xs[k][i]);
      for (int i = 0; i < ns[k]; ++i) plotwriter_put(&w, ys[k][i]);
    }
    b->h.build.used = w.used;
    plotstore_commit_list(b);
    r->selection = 2;
  }
  // The figure drawn into a fresh image through the screen table.
  QImage draw() {
    Canvas c(200, 100);
    rt_set_graphics_driver(b, &g_qt_screen_driver);
    rt_set_graphics_context(b, &c.ctx);
    figure_draw(b, 0);
    c.finish();
    rt_set_graphics_driver(b, &kEmptyGraphicsDriver);
    return c.image.copy();
  }
};

TEST_F(QtFigureDraw, SameBytesEveryTimeAndTheMarkIsSelfInverting) {
  QImage a = draw(), again = draw();
  ASSERT_EQ(a, again);
  EXPECT_EQ(std::memcmp(a.constBits(), again.constBits(), size_t(a.sizeInBytes())), 0);
  // The background outside the frames, the line and the markers are there.
  std::set<QRgb> colours;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) colours.insert(a.pixel(x, y));
  EXPECT_TRUE(colours.count(qRgb(0xE5, 0xE5, 0xE5)));
  EXPECT_TRUE(colours.count(qRgb(0, 153, 0)));
  EXPECT_TRUE(colours.count(qRgb(255, 0, 0)));
  // Unmarking the selected subplot inverts its mark's pixels back.
  Canvas c(200, 100);
  c.finish();
  c.image = a;
  c.resume();
  rt_set_graphics_driver(b, &g_qt_screen_driver);
  rt_set_graphics_context(b, &c.ctx);
  inst_draw_subplot(b, 0, 1, false);
  c.finish();
  EXPECT_NE(c.image, a);
  c.resume();
  inst_draw_subplot(b, 0, 1, true);
  c.finish();
  rt_set_graphics_driver(b, &kEmptyGraphicsDriver);
  EXPECT_EQ(c.image, a);
}

}  // namespace
