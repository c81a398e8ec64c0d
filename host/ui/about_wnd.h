// The About box: a fixed 520 x 355 white canvas with the program's picture,
// a heading, a body of lines and a bottom text. A picture lower than 200
// pixels puts the texts centred under it; a taller one has them right-aligned
// beside it. Body lines that do not fit above the bottom text are left out,
// lines wider than the canvas cut. The layout is computed by pure functions that tests call.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>

constexpr int kAboutWidth = 520, kAboutHeight = 355;

struct AboutLayout {
  bool short_layout;   // texts centred below the picture
  int picture_x, picture_y;
  int heading_y;       // top of the heading line
  int body_y;          // top of the first body line
  int bottom_y;        // top of the bottom text
};
AboutLayout about_layout(int picture_width, int picture_height);
// The x of a line of the given width: centred, or right-aligned to 505.
int about_line_x(const AboutLayout& layout, int text_width);
// Body lines: split at CR and LF, a run of line ends separating two lines,
// empty lines dropped.
QStringList about_split_lines(const QString& body);
// The program's own picture (262 x 178).
QImage about_picture();

class AboutWnd : public QDialog {
 public:
  AboutWnd(const QString& heading, const QString& bottom, const QString& body, QWidget* parent = nullptr);
  // A different picture (tests use a tall one for the other layout).
  void set_picture(const QImage& picture) { picture_ = picture; update(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString body_, heading_, bottom_;
  QImage picture_;
};
