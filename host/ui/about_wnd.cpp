// Painting of the About box. Halves truncate towards zero, so odd widths
// place a centred line half a pixel to the left.
#include "host/ui/about_wnd.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QScreen>

#include <cmath>

namespace {

constexpr int kShortBelow = 200;        // pictures lower than this: short layout
constexpr int kPictureTop = 10;
constexpr int kHeadingGap = 20, kBodyGap = 40;
constexpr int kTallHeadingY = 95, kTallBodyY = 150, kBottomY = 335;
constexpr int kRightEdge = 505;
constexpr double kFontPoints = 8.5;
constexpr int kPictureWidth = 262, kPictureHeight = 178;

}  // namespace

AboutLayout about_layout(int w, int h) {
  AboutLayout l{};
  l.short_layout = h < kShortBelow;
  l.picture_x = (kAboutWidth - w) / 2;
  l.picture_y = l.short_layout ? kPictureTop : (kAboutHeight - h) / 2;
  l.heading_y = l.short_layout ? h + kHeadingGap : kTallHeadingY;
  l.body_y = l.short_layout ? h + kBodyGap : kTallBodyY;
  l.bottom_y = kBottomY;
  return l;
}

int about_line_x(const AboutLayout& l, int text_width) {
  return l.short_layout ? (kAboutWidth - text_width) / 2 : kRightEdge - text_width;
}

QStringList about_split_lines(const QString& body) {
  static const QRegularExpression line_ends(QStringLiteral("[\r\n]+"));
  return body.split(line_ends, Qt::SkipEmptyParts);
}

QImage about_picture() {
  // A damped wave over a sampled grid on a pale gradient: a figure of the
  // kind the program shows.
  QImage img(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  QPainter p(&img);
  QLinearGradient bg(0, 0, 0, kPictureHeight);
  bg.setColorAt(0, QColor(232, 240, 250));
  bg.setColorAt(1, QColor(255, 255, 255));
  p.fillRect(img.rect(), bg);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 210, 225), 1));
  for (int x = 21; x < kPictureWidth; x += 20) p.drawLine(x, 10, x, kPictureHeight - 10);
  for (int y = 19; y < kPictureHeight; y += 20) p.drawLine(10, y, kPictureWidth - 10, y);
  QPainterPath wave;
  const double mid = kPictureHeight / 2.0;
  for (int x = 10; x <= kPictureWidth - 10; ++x) {
    const double t = (x - 10) / 24.0;
    const double y = mid - 70.0 * std::exp(-t / 6.0) * std::cos(t);
    if (x == 10) wave.moveTo(x, y); else wave.lineTo(x, y);
  }
  p.setPen(QPen(QColor(30, 80, 170), 2.5));
  p.drawPath(wave);
  p.setPen(QPen(QColor(210, 90, 40), 1.5));
  p.drawLine(10, int(mid), kPictureWidth - 10, int(mid));
  return img;
}

AboutWnd::AboutWnd(const QString& heading, const QString& bottom, const QString& body, QWidget* parent)
    : QDialog(parent), body_(body), heading_(heading), bottom_(bottom), picture_(about_picture()) {
  setWindowTitle(QStringLiteral("About This Application"));
  setFixedSize(kAboutWidth, kAboutHeight);
  setModal(true);
  setFocusPolicy(Qt::StrongFocus);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void AboutWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(0, 0, kAboutWidth, kAboutHeight, Qt::white);
  const AboutLayout l = about_layout(picture_.width(), picture_.height());
  p.drawImage(l.picture_x, l.picture_y, picture_);
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(kFontPoints);
  p.setFont(font);
  p.setPen(Qt::black);
  const QFontMetrics fm(font);
  auto line = [&](const QString& text, int top) {
    p.drawText(about_line_x(l, fm.horizontalAdvance(text)), top + fm.ascent(), text);
  };
  if (!heading_.isEmpty()) line(heading_, l.heading_y);
  // A long text shows the lines that fit above the bottom text, each cut
  // with an ellipsis where it is wider than the canvas within its margins.
  int y = l.body_y;
  for (const QString& s : about_split_lines(body_)) {
    if (y + fm.height() > l.bottom_y) break;
    line(fm.elidedText(s, Qt::ElideRight, 2 * kRightEdge - kAboutWidth), y);
    y += fm.height();
  }
  if (!bottom_.isEmpty()) line(bottom_, l.bottom_y);
}

void AboutWnd::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  // Any key that types a character closes the box.
  if (!event->text().isEmpty()) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
