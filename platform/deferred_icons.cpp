// A proxy over the application's own style whose extension-button icons are
// icon engines that ask the base style on first paint and keep the answer,
// so a deferred icon draws exactly what the style would have drawn.
#include "platform/deferred_icons.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>

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

class DeferredIconStyle : public QProxyStyle {
 public:
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    if (which == SP_ToolBarHorizontalExtensionButton || which == SP_ToolBarVerticalExtensionButton)
      return QIcon(new DeferredIconEngine(baseStyle(), which));
    return QProxyStyle::standardIcon(which, option, widget);
  }
};

}  // namespace

void deferred_icons_install(QApplication* app) {
  if (app == nullptr || dynamic_cast<DeferredIconStyle*>(QApplication::style()) != nullptr) return;
  QApplication::setStyle(new DeferredIconStyle);
}
