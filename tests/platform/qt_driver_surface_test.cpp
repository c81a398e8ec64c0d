// The Qt driver's text, image-row, fill, focus and clip entries by pixel
// probes; the same figure twice gives the same bytes; vector targets.
#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QPdfWriter>
#include <QPrinter>
#include <QSvgGenerator>
#include <QTemporaryDir>

#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

TEST(QtDriverSurface, ImageRowsGreyAndColour) {
  const uint8_t red[3] = {0, 128, 255}, green[3] = {1, 2, 3}, blue[3] = {4, 5, 6};
  Canvas c;
  c.drv->draw_image_row(10, 10, 3, 2, 4, 3, red, nullptr, nullptr, &c.ctx);  // grey: from red
  c.drv->draw_image_row(10.7, 40, 3, 1, 2, 1, red, green, blue, &c.ctx);
  for (int y = 10; y < 16; ++y)
    for (int x = 10; x < 22; ++x) {
      int v = red[(x - 10) / 4];
      EXPECT_EQ(c.at(x, y), qRgb(v, v, v)) << x << "," << y;
    }
  EXPECT_EQ(c.at(22, 10), kWhite);
  EXPECT_EQ(c.at(10, 16), kWhite);
  EXPECT_EQ(c.at(9, 10), kWhite);
  for (int x = 10; x < 16; ++x) EXPECT_EQ(c.at(x, 40), qRgb(red[(x - 10) / 2], green[(x - 10) / 2], blue[(x - 10) / 2]));
  EXPECT_EQ(c.at(10, 41), kWhite);
  // Rows far larger than the device, or absurd counts, draw only what shows.
  c.resume();
  std::vector<uint8_t> wide(1 << 20, 7);
  c.drv->draw_image_row(-1e6, 100, int32_t(wide.size()), 1 << 30, 1 << 10, 1 << 10, wide.data(), nullptr, nullptr,
                        &c.ctx);
  EXPECT_EQ(c.at(0, 199), qRgb(7, 7, 7));
  EXPECT_EQ(c.at(0, 99), kWhite);
  for (auto [cw, rows] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{-1, 1}}) {
    Canvas e;
    e.drv->draw_image_row(0, 0, 3, 1, cw, rows, red, green, blue, &e.ctx);
    EXPECT_TRUE(e.ink().empty());
  }
}

TEST(QtDriverSurface, FillKinds) {
  Canvas c(40, 40, kBlack);
  c.ctx.background_colour = 0x00112233;  // 0x00BBGGRR
  c.drv->fill_rect(20.9, 15, 10, 10, 0, &c.ctx);  // corners normalised and truncated
  c.drv->fill_rect(30, 30, 35, 32, kFillWhite, &c.ctx);
  EXPECT_EQ(c.ink(kBlack).size(), size_t(10 * 5 + 5 * 2));
  EXPECT_EQ(c.at(10, 10), qRgb(0x33, 0x22, 0x11));
  EXPECT_EQ(c.at(19, 14), qRgb(0x33, 0x22, 0x11));
  EXPECT_EQ(c.at(20, 14), kBlack);
  EXPECT_EQ(c.at(34, 31), kWhite);
}

TEST(QtDriverSurface, ClipsNestAndUnmatchedEndsAreHarmless) {
  Canvas c(60, 60, kBlack);
  c.drv->clip_begin(10, 30, 10, 30, &c.ctx);  // left, right, top, bottom
  c.drv->clip_begin(20, 50, 5, 25, &c.ctx);
  c.drv->fill_rect(0, 0, 60, 60, kFillWhite, &c.ctx);
  c.drv->clip_end(&c.ctx);
  c.drv->clip_end(&c.ctx);
  c.drv->clip_end(&c.ctx);  // one too many
  c.drv->fill_rect(50, 50, 52, 51, kFillWhite, &c.ctx);
  EXPECT_EQ(c.ink_box(kBlack), (Box{20, 10, 51, 50}));
  EXPECT_EQ(c.ink(kBlack).size(), size_t(10 * 15 + 2));
}

TEST(QtDriverSurface, TextCellPlacement) {
  Canvas probe;
  double w = 0, h = 0;
  probe.drv->text_extent("Hg", 2, &w, &h, &probe.ctx);
  ASSERT_GT(w, 4);
  ASSERT_GT(h, 8);
  int W = int(w), H = int(h);
  struct Row {
    uint32_t align;
    int left, bottom;  // expected cell: x from left to left + W - 1, rows bottom - H to bottom - 1
  } rows[] = {
      {0, 100 - W / 2, 50 + H / 2},
      {kAlignLeft, 100, 50 + H / 2},
      {kAlignRight, 100 - 1 - W, 50 + H / 2},
      {kAlignLeft | kAlignRight, 100, 50 + H / 2},
      {kAlignBelow, 100 - W / 2, 50 + H + 1},
      {kAlignAbove, 100 - W / 2, 49},
      {kAlignLeft | kAlignAbove, 100, 49},
  };
  for (const Row& r : rows) {
    Canvas c;
    c.drv->draw_text(100.8, 50.6, "Hg", 2, r.align, nullptr, &c.ctx);
    Box ink = c.ink_box();
    EXPECT_GE(ink.left, r.left) << r.align;
    EXPECT_LE(ink.right, r.left + W - 1) << r.align;
    EXPECT_GE(ink.top, r.bottom - H) << r.align;
    EXPECT_LE(ink.bottom, r.bottom - 1) << r.align;
    // 'H' reaches the cap height, 'g' the descent: the ink spans most of the cell.
    EXPECT_GT(ink.bottom - ink.top, H / 2) << r.align;
    EXPECT_LE(ink.left, r.left + 2) << r.align;
  }
}

TEST(QtDriverSurface, TextColourAndFonts) {
  Canvas c;
  const uint8_t blue[3] = {0, 0, 255}, green[3] = {0, 200, 0}, none[3] = {0, 0, 0};
  c.drv->draw_text(20, 20, "I", 1, kAlignLeft, blue, &c.ctx);
  c.drv->set_font(kTestFontFace, 30, kFontBold, green, &c.ctx);
  double w30 = 0, h30 = 0;
  c.drv->text_extent("I", 1, &w30, &h30, &c.ctx);
  c.drv->draw_text(60, 60, "I", 1, kAlignLeft, nullptr, &c.ctx);  // the set_font colour
  c.drv->set_font(nullptr, 0, 0, none, &c.ctx);                   // back to the figure font, black
  double w13 = 0, h13 = 0;
  c.drv->text_extent("I", 1, &w13, nullptr, &c.ctx);
  c.drv->text_extent("I", 1, nullptr, &h13, &c.ctx);
  c.drv->draw_text(120, 120, "I", 1, kAlignLeft, nullptr, &c.ctx);
  PixelSet ink = c.ink();
  std::set<QRgb> colours;
  for (auto [x, y] : ink) colours.insert(c.image.pixel(x, y));
  EXPECT_EQ(colours, (std::set<QRgb>{qRgb(0, 0, 255), qRgb(0, 200, 0), kBlack}));
  EXPECT_GT(h30, 2 * h13 - 2);
  EXPECT_GT(w30, w13);
  EXPECT_EQ(c.ctx.text_colour_set, 0);
}

TEST(QtDriverSurface, FocusRectXorTwiceLeavesImageUnchanged) {
  Canvas c;
  c.line({{0, 0}, {200, 200}}, 4);
  c.drv->fill_rect(30, 30, 60, 60, 0, &c.ctx);
  QImage before = (c.finish(), c.image.copy());
  c.resume();
  c.drv->focus_rect(20.5, 25, 80, 70, 0, &c.ctx);
  QImage once = (c.finish(), c.image.copy());
  EXPECT_NE(once, before);
  // Dotted: pixels of the border with x + y even are inverted, the others kept.
  EXPECT_EQ(once.pixel(20, 26), 0xFF000000u);
  EXPECT_EQ(once.pixel(20, 27), kWhite);
  EXPECT_EQ(once.pixel(79, 69), 0xFF000000u);
  EXPECT_EQ(once.pixel(80, 70), kWhite);
  EXPECT_EQ(once.pixel(30, 30), before.pixel(30, 30));
  c.resume();
  c.drv->focus_rect(20.5, 25, 80, 70, 0, &c.ctx);
  c.finish();
  EXPECT_EQ(c.image, before);
  // Limits: one side on the device suffices; both beyond one side draw nothing.
  struct Row {
    double l, t, r, b;
    bool drawn;
  } rows[] = {{-5, 10, 2500, 20, true}, {-5, 10, -1, 20, false}, {10, 2001, 20, 2500, false},
              {10, -1e300, 20, 1e300, true}, {10, 10, 11, 11, true}, {10, 10, 10, 20, false}};
  for (const Row& r : rows) {
    Canvas e;
    e.drv->focus_rect(r.l, r.t, r.r, r.b, 0, &e.ctx);
    EXPECT_EQ(!e.ink().empty(), r.drawn) << r.l << " " << r.t << " " << r.r << " " << r.b;
  }
}

constexpr char kSceneDigestQt64[] = "d30d475f6da0f14f70df3c7f953e2f8bfadd6963";

// One of everything the driver draws.
void scene(Canvas& c) {
  const uint8_t red[4] = {10, 80, 160, 240};
  const uint8_t col[3] = {200, 0, 100};
  c.drv->fill_rect(0, 0, 200, 200, 0, &c.ctx);
  c.drv->clip_begin(5, 195, 5, 195, &c.ctx);
  c.line({{10, 20}, {190, 60}, {40, 150}}, kStyleKindDashDot | 2);
  c.line({{30, 30}, {90, 40}, {60, 90}}, kStyleBitFill | 5);
  c.line({{100, 100}, {120, 110}, {140, 100}}, kStyleKindStar | kStyleBitThick | 3);
  StyleSpec ell{kStyleBitThick | 1, 0, 0, 0};
  c.drv->draw_ellipse(150, 150, 30, 20, &ell, &c.ctx);
  c.drv->draw_image_row(20, 160, 4, 3, 5, 2, red, nullptr, nullptr, &c.ctx);
  c.drv->set_font(kTestFontFace, 17, kFontItalic | kFontUnderline, col, &c.ctx);
  c.drv->draw_text(100, 180, "Sample \xC3\xA9\xE2\x82\xAC", 12, 0, nullptr, &c.ctx);
  c.drv->set_font(nullptr, 0, 0, col, &c.ctx);
  c.drv->clip_end(&c.ctx);
  c.drv->focus_rect(50, 50, 120, 90, 0, &c.ctx);
}

TEST(QtDriverSurface, SameFigureSameBytes) {
  Canvas a, b;
  scene(a);
  scene(b);
  a.finish();
  b.finish();
  ASSERT_EQ(a.image.sizeInBytes(), b.image.sizeInBytes());
  EXPECT_EQ(std::memcmp(a.image.constBits(), b.image.constBits(), size_t(a.image.sizeInBytes())), 0);
  EXPECT_GT(a.ink().size(), 1000u);
  // Pinned for the Qt this tree is built with: the same under the offscreen
  // and the X11 platform, run after run.
  QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(a.image.constBits(), a.image.sizeInBytes()), QCryptographicHash::Sha1).toHex();
  if (QByteArray(qVersion()).startsWith("6.4.")) {
    EXPECT_EQ(digest.toStdString(), kSceneDigestQt64);
  }
}

TEST(QtDriverSurface, VectorTargetsAndTables) {
  // Selection marks and bands go to the focus-rectangle entry on every
  // target: none falls back to drawing them as plain lines.
  for (const GraphicsDriver* t : {&g_qt_screen_driver, &g_qt_metafile_driver, &g_qt_printer_driver}) {
    EXPECT_EQ(t->frame_rect, nullptr);
    EXPECT_EQ(t->focus_rect, qt_focus_rect);
  }
  EXPECT_EQ(g_qt_printer_driver.values.gridStepX, 24.0);
  double pw = 0, ph = 0;
  g_qt_screen_driver.pixel_size(&pw, &ph);
  EXPECT_EQ(pw, 1.0);
  EXPECT_EQ(ph, 1.0);

  QBuffer svg_bytes;
  svg_bytes.open(QIODevice::WriteOnly);
  QSvgGenerator svg;
  svg.setOutputDevice(&svg_bytes);
  svg.setSize(QSize(200, 200));
  QBuffer pdf_bytes;
  pdf_bytes.open(QIODevice::WriteOnly);
  QPdfWriter pdf(&pdf_bytes);
  QTemporaryDir dir;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(dir.filePath(QStringLiteral("page.pdf")));
  for (QPaintDevice* dev : {static_cast<QPaintDevice*>(&svg), static_cast<QPaintDevice*>(&pdf),
                            static_cast<QPaintDevice*>(&printer)}) {
    QPainter p(dev);
    QtDriverTarget t;
    GraphicsDriverContext ctx{};
    graphics_context_defaults(&ctx);
    qt_target_begin(&t, &p, &ctx);
    EXPECT_FALSE(t.raster);
    StyleSpec s{kStyleKindDashed | 4, 0, 0, 0};
    const double x[3] = {10, 100, 150}, y[3] = {10, 120, 20};
    g_qt_printer_driver.clip_begin(0, 180, 0, 180, &ctx);
    g_qt_printer_driver.draw_polyline(x, y, 3, &s, &ctx);
    g_qt_printer_driver.draw_text(50, 50, "vector", 6, 0, nullptr, &ctx);
    const uint8_t grey[2] = {50, 200};
    g_qt_printer_driver.draw_image_row(10, 150, 2, 2, 10, 5, grey, nullptr, nullptr, &ctx);
    if (dev == &svg) {
      g_qt_printer_driver.clip_end(&ctx);
      g_qt_printer_driver.focus_rect(20, 30, 90, 70, 0, &ctx);
    }
    qt_target_end(&t, &ctx);  // closes the clip left open
    EXPECT_EQ(ctx.device, nullptr);
  }
  EXPECT_TRUE(svg_bytes.data().contains("<svg"));
  EXPECT_TRUE(svg_bytes.data().contains("stroke-dasharray"));
  // The focus rectangle on a vector target: its dotted outline.
  EXPECT_TRUE(svg_bytes.data().contains("<rect")) << svg_bytes.data().toStdString();
  EXPECT_TRUE(pdf_bytes.data().startsWith("%PDF"));
  QFile page(dir.filePath(QStringLiteral("page.pdf")));
  ASSERT_TRUE(page.open(QIODevice::ReadOnly));
  EXPECT_TRUE(page.read(4) == "%PDF");
}

}  // namespace
