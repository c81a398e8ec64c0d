// A proxy over the application's own style. Its extension-button icons are
// icon engines that ask the base style on first paint and keep the answer,
// so a deferred icon draws exactly what the style would have drawn; its
// tool-bar bevel fills the rows Fusion strokes, with the same colours.
#include "platform/host_style.h"

#include <QApplication>
#include <QIconEngine>
#include <QLinearGradient>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionToolBar>

namespace {

class DeferredIconEngine : public QIconEngine {
 public:
  DeferredIconEngine(QStyle* style, QStyle::StandardPixmap which) : style_(style), which_(which) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    icon().paint(painter, rect, Qt::AlignCenter, mode, state);
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return icon().pixmap(size, mode, state);
  }
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return icon().actualSize(size, mode, state);
  }
  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    return icon().availableSizes(mode, state);
  }
  QIconEngine* clone() const override { return new DeferredIconEngine(style_, which_); }
  QString key() const override { return QStringLiteral("deferred"); }

 private:
  const QIcon& icon() {
    if (!loaded_) {
      loaded_ = true;
      if (style_) icon_ = style_->standardIcon(which_);
    }
    return icon_;
  }

  QPointer<QStyle> style_;
  QStyle::StandardPixmap which_;
  bool loaded_ = false;
  QIcon icon_;
};

// Fusion's edge shades: translucent white and black.
const QColor kLightShade(255, 255, 255, 90);
const QColor kDarkShade(0, 0, 0, 60);

// One pixel row across r at y, blended as a cosmetic line of that colour is.
void fill_row(QPainter* painter, const QRect& r, int y, const QColor& color) {
  painter->fillRect(QRect(r.left(), y, r.width(), 1), color);
}

// Fusion's bevel of a horizontal tool bar in a main window's top area: a
// gradient from the window colour lightened, a light top row, and at the
// bottom a dark row, doubled with a light one under it where the bar's line
// meets the central widget.
void draw_top_bar_bevel(const QStyleOptionToolBar* bar, QPainter* painter) {
  const QRect& r = bar->rect;
  QLinearGradient gradient(r.topLeft(), r.bottomLeft());
  gradient.setColorAt(0, bar->palette.window().color().lighter(104));
  gradient.setColorAt(1, bar->palette.window().color());
  painter->fillRect(r, gradient);
  if (bar->positionOfLine == QStyleOptionToolBar::End || bar->positionOfLine == QStyleOptionToolBar::OnlyOne) {
    fill_row(painter, r, r.bottom(), kLightShade);
    fill_row(painter, r, r.bottom() - 1, kDarkShade);
  } else {
    fill_row(painter, r, r.bottom(), kDarkShade);
  }
  fill_row(painter, r, r.top(), kLightShade);
}

class HostStyle : public QProxyStyle {
 public:
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    if (which == SP_ToolBarHorizontalExtensionButton || which == SP_ToolBarVerticalExtensionButton)
      return QIcon(new DeferredIconEngine(baseStyle(), which));
    return QProxyStyle::standardIcon(which, option, widget);
  }

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    const auto* bar = qstyleoption_cast<const QStyleOptionToolBar*>(option);
    if (element == CE_ToolBar && bar && painter && fusion_main_window_top_bar(bar, widget)) {
      draw_top_bar_bevel(bar, painter);
      return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }

 private:
  // The one case drawn here; every other bar is the base style's.
  bool fusion_main_window_top_bar(const QStyleOptionToolBar* bar, const QWidget* widget) const {
    if (baseStyle()->name().compare(QStringLiteral("fusion"), Qt::CaseInsensitive) != 0) return false;
    if (bar->toolBarArea != Qt::TopToolBarArea || !(bar->state & State_Horizontal)) return false;
    return widget && qobject_cast<const QMainWindow*>(widget->parentWidget()) != nullptr;
  }
};

}  // namespace

void host_style_install(QApplication* app) {
  if (app == nullptr || dynamic_cast<HostStyle*>(QApplication::style()) != nullptr) return;
  QApplication::setStyle(new HostStyle);
}
