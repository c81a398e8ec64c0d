// A display list drawn by the interpreter through the Qt screen driver: the
// same list twice gives the same bytes (pinned for the Qt in use), and the
// records land on the pixels the subplot's transform gives.
#include <QCryptographicHash>

#include "graphics/render/plot_render.h"
#include "support/plot_list_builder.h"
#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;
using plotlists::ListBuilder;

constexpr char kFigureDigestQt64[] = "c6da60650e1e3f0b67d518ab0991f6ef5a6c9e5a";

// Frame 10..190 by 10..190 for data 0..10 by 0..10: one unit is 18 pixels.
QImage draw_figure() {
  Canvas c;
  Subplot s{};
  plotlists::flat_subplot(&s, 10, 190, 10, 190, 0, 10, 0, 10);
  std::vector<double> img = {0, 2, 2, 7, 1, 2, 2};  // 2 x 2 grey cells over data 7..9 by 1..3
  for (double v : plotlists::pack_bytes({0, 90, 180, 255})) img.push_back(v);
  ListBuilder b;
  b.open(0)
      .rec(kCodePolyline, 0x44, 0xff0000, {5, 0, 2, 4, 6, 8, 1, 9, 1, 9, 1})
      .rec(kCodePolyline, kStyleKindCircle | 2, 0, {3, 2, 5, 8, 5, 5, 5})
      .rec(kCodePolyline, kStyleBitFill | 3, 0, {3, 6, 9, 9, 6, 6, 9})
      .rec(kCodePolyline, kStyleKindDotted | kStyleBitThick, 0x336699, {2, 0, 10, 0, 10})
      .rec(kCodeBars, 0, 0, {0, 2, 2, 5, 3, 4, 4})
      .rec(kCodeCircles, 0, 0, {1, 5, 5, 2})
      .recv(kCodeImage, 0, 0, img);
  std::vector<double> scratch(4096);
  int32_t start = 0;
  StyleSpec def{0, 0, 0, 0};
  RenderRequest q{b.d.data(), int32_t(b.d.size()), scratch.data(), int32_t(scratch.size()), &s, &start, &def,
                  nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, false, c.drv, &c.ctx};
  plotlist_render(&q);
  c.finish();
  return c.image.copy();
}

TEST(QtFigure, SameListSameBytesAndPixelsInPlace) {
  QImage a = draw_figure(), b = draw_figure();
  ASSERT_EQ(a.sizeInBytes(), b.sizeInBytes());
  EXPECT_EQ(std::memcmp(a.constBits(), b.constBits(), size_t(a.sizeInBytes())), 0);
  QByteArray digest =
      QCryptographicHash::hash(QByteArrayView(a.constBits(), a.sizeInBytes()), QCryptographicHash::Sha1).toHex();
  if (QByteArray(qVersion()).startsWith("6.4.")) {
    EXPECT_EQ(digest.toStdString(), kFigureDigestQt64);
  }
  // The first segment of the dashed red polyline: from data (0, 1) at pixel
  // (10, 172) toward (2, 9) at (46, 28); its first dash starts at the start.
  EXPECT_EQ(a.pixel(10, 172), qRgb(255, 0, 0));
  // The filled triangle (driver colour 3) covers its inside.
  EXPECT_EQ(a.pixel(150, 60), qRgb(0, 204, 255));
  // The frame is filled white.
  EXPECT_EQ(a.pixel(170, 120), kWhite);
}

}  // namespace
