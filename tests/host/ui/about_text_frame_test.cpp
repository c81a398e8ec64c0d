// The About box's layout as pure functions with one pixel probe, and the
// text window that hides on close and comes back with its text.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "host/ui/about_wnd.h"
#include "host/ui/text_frame.h"

namespace {

TEST(AboutWnd, LayoutSwitchAndLines) {
  struct Row {
    int w, h;
    bool short_layout;
    int px, py, heading, body;
  } rows[] = {
      {262, 178, true, 129, 10, 198, 218},
      {261, 199, true, 129, 10, 219, 239},
      {300, 200, false, 110, 77, 95, 150},
      {301, 300, false, 109, 27, 95, 150},
  };
  for (const Row& r : rows) {
    const AboutLayout l = about_layout(r.w, r.h);
    EXPECT_EQ(l.short_layout, r.short_layout) << r.h;
    EXPECT_EQ(l.picture_x, r.px) << r.w;
    EXPECT_EQ(l.picture_y, r.py) << r.h;
    EXPECT_EQ(l.heading_y, r.heading) << r.h;
    EXPECT_EQ(l.body_y, r.body) << r.h;
    EXPECT_EQ(l.bottom_y, 335);
    EXPECT_EQ(about_line_x(l, 101), r.short_layout ? 209 : 404);
  }
  EXPECT_EQ(about_split_lines(QStringLiteral("a\r\n\r\nb")), (QStringList{"a", "b"}));
  EXPECT_EQ(about_split_lines(QStringLiteral("\nx\ry\n")), (QStringList{"x", "y"}));
  EXPECT_TRUE(about_split_lines(QString()).isEmpty());
  EXPECT_EQ(about_picture().size(), QSize(262, 178));
}

TEST(AboutWnd, PaintsPictureAndWhiteCanvas) {
  AboutWnd w(QStringLiteral("Heading"), QString(), QStringLiteral("line one\nline two"));
  QImage img(kAboutWidth, kAboutHeight, QImage::Format_RGB32);
  w.render(&img);
  const QImage pic = about_picture();
  EXPECT_EQ(img.pixel(3, 3), qRgb(255, 255, 255));             // canvas
  EXPECT_EQ(img.pixel(129 + 5, 10 + 5), pic.pixel(5, 5));      // picture placed centred
  EXPECT_EQ(img.pixel(kAboutWidth - 3, kAboutHeight - 3), qRgb(255, 255, 255));
  bool ink = false;  // some text drawn between the heading and the body's end
  for (int y = 198; y < 260 && !ink; ++y)
    for (int x = 0; x < kAboutWidth && !ink; ++x) ink = qGray(img.pixel(x, y)) < 128;
  EXPECT_TRUE(ink);
}

// An application's long help text in the body: its lines stop above the
// bottom text, and a line wider than the canvas is cut inside its margins.
TEST(AboutWnd, ALongBodyStaysInsideTheCanvas) {
  QString body = QStringLiteral("Title\n") + QString(400, QLatin1Char('W')) + QStringLiteral("\n");
  for (int k = 0; k < 40; ++k) body += QStringLiteral("help line %1\n").arg(k);
  AboutWnd w(QStringLiteral("Heading"), QString(), body);
  QImage img(kAboutWidth, kAboutHeight, QImage::Format_RGB32);
  w.render(&img);
  const AboutLayout l = about_layout(about_picture().width(), about_picture().height());
  auto inked = [&](int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (qGray(img.pixel(x, y)) < 200) return true;
    return false;
  };
  EXPECT_TRUE(inked(0, l.body_y, kAboutWidth, l.bottom_y));           // the body shows
  EXPECT_FALSE(inked(0, l.bottom_y, kAboutWidth, kAboutHeight));      // none of it below
  EXPECT_FALSE(inked(0, l.picture_y + about_picture().height(), 14, kAboutHeight));  // nor in the margins
  EXPECT_FALSE(inked(kAboutWidth - 14, l.picture_y + about_picture().height(), kAboutWidth, kAboutHeight));
}

TEST(TextFrame, CloseHidesAndRestoreShowsTheSameText) {
  TextFrame f(QStringLiteral("TN File Help"), true, true, true, false, false, nullptr);
  textframe_set_text(&f, QStringLiteral("Help\ttext"), false);
  textframe_restore(&f);
  EXPECT_TRUE(f.isVisible());
  EXPECT_TRUE(f.text_edit()->isReadOnly());
  EXPECT_FALSE(f.close());  // refused: only hidden
  EXPECT_FALSE(f.isVisible());
  textframe_set_title(&f, QStringLiteral("App Help"));
  textframe_restore(&f);
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(f.windowTitle(), QStringLiteral("App Help"));
  // A markup frame: the blank run is one space and the paragraph ends the text.
  EXPECT_EQ(f.text_edit()->toPlainText(), QStringLiteral("Help text\n"));
  textframe_hide(&f);
  EXPECT_FALSE(f.isVisible());
}

// The character format at the first occurrence of text in the document.
QTextCharFormat format_at(QTextDocument* d, const QString& text) {
  const int at = d->toPlainText().indexOf(text);
  EXPECT_GE(at, 0) << text.toStdString();
  QTextCursor c(d);
  c.setPosition(at + 1);  // the format of the character before the cursor
  return c.charFormat();
}

TEST(TextFrame, MarkupShowsStylesHeadingsAndAnchors) {
  TextFrame f(QStringLiteral("Help"), true, true, true, false, false, nullptr);
  const QString text = QString::fromUtf8(
      "= Title\n== Section\nx **bold** //ital// ##code## ^^up^^ ,,down,, [[http://t.org|label]]\n\n"
      "\xF0\x9F\x98\x80 **after**");
  textframe_set_text(&f, text, false);
  QTextDocument* d = f.text_edit()->document();
  EXPECT_EQ(d->toPlainText(), QString::fromUtf8("Title\nSection\nx bold ital code up down label\n\xF0\x9F\x98\x80 after\n"));
  EXPECT_EQ(format_at(d, "Title").fontPointSize(), 18.0);
  EXPECT_EQ(d->findBlock(0).blockFormat().alignment(), Qt::AlignHCenter);
  EXPECT_EQ(format_at(d, "Section").fontPointSize(), 16.0);
  EXPECT_NE(d->findBlock(7).blockFormat().alignment(), Qt::AlignHCenter);
  EXPECT_EQ(format_at(d, "bold").fontWeight(), QFont::Bold);
  EXPECT_TRUE(format_at(d, "ital").fontItalic());
  EXPECT_EQ(format_at(d, "code").fontFamilies().toStringList(), QStringList{QStringLiteral("Courier")});
  EXPECT_GT(format_at(d, "up").baselineOffset(), 0.0);
  EXPECT_LT(format_at(d, "down").baselineOffset(), 0.0);
  const QTextCharFormat link = format_at(d, "label");
  EXPECT_TRUE(link.isAnchor());
  EXPECT_EQ(link.anchorHref(), QStringLiteral("http://t.org"));
  EXPECT_FALSE(d->toPlainText().contains(QStringLiteral("http")));
  // After a 4-byte character the span still covers exactly its word.
  EXPECT_EQ(format_at(d, "after").fontWeight(), QFont::Bold);
  QTextCursor before(d);
  before.setPosition(d->toPlainText().indexOf(QStringLiteral("after")));
  EXPECT_NE(before.charFormat().fontWeight(), QFont::Bold);  // the blank before it
  EXPECT_EQ(d->findBlock(d->toPlainText().indexOf(QStringLiteral("x bold"))).blockFormat().leftMargin(), 20.0);
  // Forced plain: the markup as it stands.
  textframe_set_text(&f, QStringLiteral("**x**"), true);
  EXPECT_EQ(d->toPlainText(), QStringLiteral("**x**"));
}

}  // namespace
