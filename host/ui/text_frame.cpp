// The text window: a QTextEdit filling the frame, 11-point text in the
// frame's font, tab stops every 480 twips (a third of an inch), 500 x 300
// pixels at first.
#include "host/ui/text_frame.h"

#include <QCloseEvent>
#include <QTextEdit>

#include "platform/rich_text_sink.h"
#include "platform/utf8_text.h"

namespace {

constexpr int kInitialWidth = 500, kInitialHeight = 300;
constexpr double kFontPoints = 11.0;
constexpr double kTabStopInches = 480.0 / 1440.0;

}  // namespace

TextFrame::TextFrame(const QString& title, bool read_only, bool markup, bool word_wrap, bool topmost,
                     bool maximize_box, QWidget* parent)
    : QMainWindow(parent), read_only_(read_only), markup_(markup), font_name_(QStringLiteral("Arial")) {
  setWindowTitle(title);
  Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint;
  if (maximize_box) flags |= Qt::WindowMaximizeButtonHint;
  if (topmost) flags |= Qt::WindowStaysOnTopHint;
  setWindowFlags(flags);
  edit_ = new QTextEdit(this);
  edit_->setLineWrapMode(word_wrap ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font(font_name_);
  font.setPointSizeF(kFontPoints);
  edit_->setFont(font);
  edit_->setTabStopDistance(kTabStopInches * edit_->logicalDpiX());
  edit_->setReadOnly(read_only_);
  setCentralWidget(edit_);
  resize(kInitialWidth, kInitialHeight);
}

void TextFrame::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}

void textframe_restore(TextFrame* f) {
  if (f->isMinimized()) f->showNormal(); else f->show();
  f->raise();
  f->activateWindow();
}

void textframe_hide(TextFrame* f) { f->hide(); }

void textframe_set_title(TextFrame* f, const QString& title) { f->setWindowTitle(title); }

void textframe_set_text(TextFrame* f, const QString& text, bool force_plain) {
  QFont font(f->font_name_);
  font.setPointSizeF(kFontPoints);
  font.setBold(false);
  f->edit_->setCurrentFont(font);
  f->edit_->setReadOnly(f->read_only_);
  if (!f->markup_ || force_plain) {
    f->edit_->setPlainText(text);
    return;
  }
  // Markup: converted and formatted span by span; links become anchors
  // showing their labels. A text that cannot be converted leaves the window
  // empty.
  RichTextSink sink(f->edit_->document(), f->edit_);
  QTextCharFormat base;
  base.setFont(font);
  sink.set_default_format(base);
  if (markup_show_in_richedit(sink.sink(), reinterpret_cast<const char16_t*>(text.utf16()), runtime_length(text.size()),
                              false, nullptr, true) != kMkShown)
    f->edit_->clear();
}
