// Start-up helpers: the font warm-up in every order main may drive it, and
// the bars' deferred extension icons, which must draw what the style draws.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QStringList>

#include "platform/deferred_icons.h"
#include "platform/font_warmup.h"

namespace {

TEST(FontWarmup, EveryOrderOfReadyAndFinishEnds) {
  { FontWarmup w; }                       // never told: the destructor stops it
  { FontWarmup w; w.finish(); w.finish(); }  // finished twice
  {
    FontWarmup w;
    w.application_ready();
    w.application_ready();
    w.finish();
    EXPECT_FALSE(QFontDatabase::families().isEmpty());
  }
  {
    FontWarmup w;
    w.finish();
    w.application_ready();  // too late: nothing runs, nothing hangs
  }
}

QImage draw_icon(const QIcon& icon) {
  QImage image(24, 24, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  icon.paint(&p, image.rect());
  return image;
}

TEST(DeferredIcons, ExtensionIconsDrawAsTheStyleDraws) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  QStyle* before = QApplication::style();
  QImage expected = draw_icon(before->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton));
  QImage vertical = draw_icon(before->standardIcon(QStyle::SP_ToolBarVerticalExtensionButton));
  QImage other = draw_icon(before->standardIcon(QStyle::SP_DialogOkButton));
  deferred_icons_install(app);  // the old style is gone now
  QStyle* proxy = QApplication::style();
  deferred_icons_install(app);  // a second call keeps the one proxy
  EXPECT_EQ(QApplication::style(), proxy);
  EXPECT_EQ(draw_icon(proxy->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton)), expected);
  EXPECT_EQ(draw_icon(proxy->standardIcon(QStyle::SP_DialogOkButton)), other);
  QIcon cloned = proxy->standardIcon(QStyle::SP_ToolBarVerticalExtensionButton);
  cloned.detach();  // a copied engine reads the icon on its own
  EXPECT_EQ(draw_icon(cloned), vertical);
}

}  // namespace
