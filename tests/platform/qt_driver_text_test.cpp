// The Qt driver's text entries when the state they draw with changes between
// two texts (font, colour, clips, shapes' pens): every text shows the state
// in force at its own call; and a text-heavy scene pinned byte for byte.
#include <QCryptographicHash>

#include <functional>

#include "tests/platform/qt_driver_fixture.h"

namespace {

using namespace qt_probe;

constexpr uint8_t kRed[3] = {220, 0, 0};
constexpr uint8_t kBlue[3] = {0, 0, 230};
constexpr uint8_t kNoColour[3] = {0, 0, 0};
constexpr char kProbe[] = "Hgx";
constexpr int kSide = 160;
constexpr double kProbeX = 40, kProbeY = 130;  // the probed text, below everything a prefix draws

// The pixels of the lower band, where only the probed text lands.
QImage lower_band(Canvas& c) {
  c.finish();
  return c.image.copy(0, kSide / 2, kSide, kSide / 2);
}

void probe_text(Canvas& c, const uint8_t* colour = nullptr) {
  c.drv->draw_text(kProbeX, kProbeY, kProbe, 3, kAlignLeft, colour, &c.ctx);
}

TEST(QtDriverText, EachTextDrawsWithTheStateOfItsOwnCall) {
  using Step = std::function<void(Canvas&)>;
  const StyleSpec green_thick{kStyleBitThick, 0, 160, 0};
  struct Row {
    const char* what;
    Step prefix;     // drawn in the upper band, may leave driver state behind
    Step reference;  // the state the probed text must show, on a fresh canvas
    const uint8_t* colour;
  } rows[] = {
      {"a font set between two texts",
       [](Canvas& c) {
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, nullptr, &c.ctx);
         c.drv->set_font(kTestFontFace, 24, kFontBold, nullptr, &c.ctx);
       },
       [](Canvas& c) { c.drv->set_font(kTestFontFace, 24, kFontBold, nullptr, &c.ctx); }, nullptr},
      {"back to the figure font",
       [](Canvas& c) {
         c.drv->set_font(kTestFontFace, 24, kFontItalic, kBlue, &c.ctx);
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, nullptr, &c.ctx);
         c.drv->set_font(nullptr, 0, 0, nullptr, &c.ctx);
       },
       [](Canvas&) {}, nullptr},
      {"a font set inside a clip outlives the clip",
       [](Canvas& c) {
         c.drv->clip_begin(0, 80, 0, 80, &c.ctx);
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, nullptr, &c.ctx);
         c.drv->set_font(kTestFontFace, 20, kFontUnderline, kRed, &c.ctx);
         c.drv->draw_text(10, 40, "b", 1, kAlignLeft, nullptr, &c.ctx);
         c.drv->clip_end(&c.ctx);
       },
       [](Canvas& c) { c.drv->set_font(kTestFontFace, 20, kFontUnderline, kRed, &c.ctx); }, nullptr},
      {"a text drawn before a clip, the probe inside another",
       [](Canvas& c) {
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, kBlue, &c.ctx);
         c.drv->clip_begin(0, kSide, 0, kSide, &c.ctx);
         c.drv->clip_end(&c.ctx);
         c.drv->clip_begin(0, kSide, 0, kSide, &c.ctx);
       },
       [](Canvas&) {}, kBlue},
      {"a coloured shape between two texts of one colour",
       [&](Canvas& c) {
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, kRed, &c.ctx);
         const double xs[2] = {10, 70}, ys[2] = {30, 60};
         c.drv->draw_polyline(xs, ys, 2, &green_thick, &c.ctx);
         c.drv->draw_ellipse(100, 40, 20, 10, &green_thick, &c.ctx);
       },
       [](Canvas&) {}, kRed},
      {"a shape between a default-coloured text and the probe",
       [&](Canvas& c) {
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, nullptr, &c.ctx);
         c.drv->draw_ellipse(100, 40, 20, 10, &green_thick, &c.ctx);
       },
       [](Canvas&) {}, nullptr},
      {"a focus rectangle between two texts",
       [](Canvas& c) {
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, kBlue, &c.ctx);
         c.drv->focus_rect(5, 5, 60, 60, 0, &c.ctx);
       },
       [](Canvas&) {}, kBlue},
      {"the set_font colour, then an explicit colour, then none",
       [](Canvas& c) {
         c.drv->set_font(kTestFontFace, 15, 0, kBlue, &c.ctx);
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, kRed, &c.ctx);
         c.drv->draw_text(30, 20, "b", 1, kAlignLeft, nullptr, &c.ctx);
       },
       [](Canvas& c) { c.drv->set_font(kTestFontFace, 15, 0, kBlue, &c.ctx); }, nullptr},
      {"a measured text of another font between two drawn ones",
       [](Canvas& c) {
         c.drv->draw_text(10, 20, "a", 1, kAlignLeft, nullptr, &c.ctx);
         c.drv->set_font(kTestFontFace, 30, 0, nullptr, &c.ctx);
         double w = 0;
         c.drv->text_extent("wide", 4, &w, nullptr, &c.ctx);
         c.drv->set_font(kTestFontFace, 9, 0, kNoColour, &c.ctx);
       },
       [](Canvas& c) { c.drv->set_font(kTestFontFace, 9, 0, kNoColour, &c.ctx); }, nullptr},
  };
  for (const Row& r : rows) {
    Canvas c(kSide, kSide), ref(kSide, kSide);
    r.prefix(c);
    probe_text(c, r.colour);
    r.reference(ref);
    probe_text(ref, r.colour);
    const QImage got = lower_band(c), want = lower_band(ref);
    EXPECT_EQ(got, want) << r.what;
    EXPECT_FALSE(ref.ink().empty()) << r.what;
  }
}

TEST(QtDriverText, ThePainterOutsideTheDriverKeepsItsOwnPenAndFont) {
  // The host paints with the same painter between renders (the background
  // fill); what it sets, restored or not, must not stick to driver texts.
  for (bool restored : {true, false}) {
    Canvas c(kSide, kSide), ref(kSide, kSide);
    c.drv->draw_text(10, 20, "a", 1, kAlignLeft, kBlue, &c.ctx);
    c.painter.save();
    c.painter.setPen(QColor(0, 150, 0));
    c.painter.setFont(QFont(QString::fromLatin1(kTestFontFace), 40));
    c.painter.drawLine(0, 5, 100, 5);
    if (restored) c.painter.restore();
    probe_text(c, kBlue);
    probe_text(ref, kBlue);
    EXPECT_EQ(lower_band(c), lower_band(ref)) << restored;
  }
}

TEST(QtDriverText, ExtentOfNoTextIsZeroWideAndOneCellHigh) {
  Canvas c;
  double cell = 0;
  c.drv->text_extent("Hg", 2, nullptr, &cell, &c.ctx);
  ASSERT_GT(cell, 0);
  struct Row {
    const char* text;
    int32_t length;
  } rows[] = {{nullptr, 5}, {"abc", 0}, {"abc", -3}, {nullptr, -1}};
  for (const Row& r : rows) {
    double w = -1, h = -1;
    c.drv->text_extent(r.text, r.length, &w, &h, &c.ctx);
    EXPECT_EQ(w, 0) << r.length;
    EXPECT_EQ(h, cell) << r.length;
    c.drv->draw_text(50, 50, r.text, r.length, kAlignLeft, nullptr, &c.ctx);
  }
  EXPECT_TRUE(c.ink().empty());
}

constexpr char kTextSceneDigestQt64[] = "9fbdc4353a009405020512aacd15fa6ec98b9845";

// Texts at every alignment, half off every edge, in changing fonts and
// colours, through clips and between shapes.
void text_scene(Canvas& c) {
  const uint8_t col[3] = {200, 0, 100};
  const StyleSpec thick{kStyleBitThick | 2, 0, 0, 0};
  static const uint32_t kAligns[] = {0, kAlignLeft, kAlignRight, kAlignBelow, kAlignAbove,
                                     kAlignLeft | kAlignBelow, kAlignRight | kAlignAbove};
  int i = 0;
  for (uint32_t a : kAligns) {
    c.drv->draw_text(100, 10 + 12 * i, "Align \xC3\xA9", 8, a, (i % 2) ? col : nullptr, &c.ctx);
    ++i;
  }
  // Partly and wholly beyond each edge: only what reaches the device shows.
  c.drv->draw_text(-30, 100, "left of the device", 18, kAlignLeft, nullptr, &c.ctx);
  c.drv->draw_text(-3000, 110, "far left", 8, kAlignLeft, nullptr, &c.ctx);
  c.drv->draw_text(190, 120, "right edge", 10, kAlignLeft, kRed, &c.ctx);
  c.drv->draw_text(10, 120, "ends before", 11, kAlignRight, nullptr, &c.ctx);
  c.drv->draw_text(60, -4, "top", 3, kAlignLeft, nullptr, &c.ctx);
  c.drv->draw_text(60, 203, "bottom", 6, kAlignLeft | kAlignAbove, nullptr, &c.ctx);
  c.drv->draw_text(60, 1e12, "never", 5, kAlignLeft, nullptr, &c.ctx);
  c.drv->clip_begin(20, 180, 130, 170, &c.ctx);
  c.drv->set_font(kTestFontFace, 19, kFontBold | kFontItalic, col, &c.ctx);
  c.drv->draw_text(10, 140, "Clipped\tbold", 12, kAlignLeft, nullptr, &c.ctx);
  const double xs[3] = {20, 90, 170}, ys[3] = {135, 168, 140};
  c.drv->draw_polyline(xs, ys, 3, &thick, &c.ctx);
  c.drv->draw_ellipse(100, 150, 40, 8, &thick, &c.ctx);
  c.drv->draw_text(100, 160, "after a shape", 13, 0, nullptr, &c.ctx);
  c.drv->clip_end(&c.ctx);
  c.drv->draw_text(10, 180, "font kept", 9, kAlignLeft, kBlue, &c.ctx);
  c.drv->set_font(nullptr, 0, 0, nullptr, &c.ctx);
  c.drv->draw_text(10, 195, "\xF0\x9F\x98\x80 \xFF bytes", 12, kAlignLeft, nullptr, &c.ctx);
}

TEST(QtDriverText, TextSceneSameBytes) {
  Canvas a;
  text_scene(a);
  a.finish();
  EXPECT_GT(a.ink().size(), 500u);
  QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(a.image.constBits(), a.image.sizeInBytes()), QCryptographicHash::Sha1).toHex();
  if (QByteArray(qVersion()).startsWith("6.4.")) {
    EXPECT_EQ(digest.toStdString(), kTextSceneDigestQt64);
  }
}

}  // namespace
