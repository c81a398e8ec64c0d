// Start-up helpers: the font warm-up in every order main may drive it, and
// the host's style, whose deferred extension icons and tool-bar bevel must
// draw what its base style draws.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <QProxyStyle>
#include <QStringList>
#include <QStyleOptionToolBar>
#include <QToolBar>

#include "platform/host_style.h"
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
  host_style_install(app);  // the old style is gone now
  QStyle* proxy = QApplication::style();
  host_style_install(app);  // a second call keeps the one proxy
  EXPECT_EQ(QApplication::style(), proxy);
  EXPECT_EQ(draw_icon(proxy->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton)), expected);
  EXPECT_EQ(draw_icon(proxy->standardIcon(QStyle::SP_DialogOkButton)), other);
  QIcon cloned = proxy->standardIcon(QStyle::SP_ToolBarVerticalExtensionButton);
  cloned.detach();  // a copied engine reads the icon on its own
  EXPECT_EQ(draw_icon(cloned), vertical);
}

QImage draw_bar(QStyle* style, const QStyleOptionToolBar& option, const QWidget* bar) {
  QImage image(option.rect.size() + QSize(4, 4), QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0x30, 0x60, 0x90));
  QPainter p(&image);
  p.setPen(QColor(1, 2, 3));  // a pen the style must leave as it found it
  style->drawControl(QStyle::CE_ToolBar, &option, &p, bar);
  p.fillRect(QRect(0, 0, 1, 1), p.pen().color());
  return image;
}

TEST(HostStyle, ToolBarBevelsDrawAsTheBaseStyleDraws) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  host_style_install(app);
  auto* proxy = dynamic_cast<QProxyStyle*>(QApplication::style());
  ASSERT_NE(proxy, nullptr);
  QStyle* base = proxy->baseStyle();
  QMainWindow window;
  QToolBar* in_window = window.addToolBar(QStringLiteral("bar"));
  QToolBar loose;  // not a main window's: the base style's own case
  const QStyleOptionToolBar::ToolBarPosition lines[] = {QStyleOptionToolBar::Beginning, QStyleOptionToolBar::Middle,
                                                        QStyleOptionToolBar::End, QStyleOptionToolBar::OnlyOne};
  const Qt::ToolBarArea areas[] = {Qt::TopToolBarArea, Qt::BottomToolBarArea, Qt::LeftToolBarArea};
  for (const QToolBar* bar : {static_cast<const QToolBar*>(in_window), static_cast<const QToolBar*>(&loose)})
    for (Qt::ToolBarArea area : areas)
      for (QStyleOptionToolBar::ToolBarPosition line : lines)
        for (bool horizontal : {true, false}) {
          QStyleOptionToolBar option;
          option.initFrom(bar);
          option.rect = horizontal ? QRect(2, 1, 317, 29) : QRect(1, 2, 29, 211);
          option.toolBarArea = area;
          option.positionOfLine = line;
          option.state = horizontal ? (option.state | QStyle::State_Horizontal) : (option.state & ~QStyle::State_Horizontal);
          EXPECT_EQ(draw_bar(proxy, option, bar), draw_bar(base, option, bar))
              << "area " << int(area) << " line " << int(line) << " horizontal " << horizontal;
        }
}

}  // namespace
