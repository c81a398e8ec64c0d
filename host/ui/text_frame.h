// A top-level window with a read-only text control, in which the document
// shows the application's About and Help texts. Closing it only hides it:
// its owner keeps it and shows the same text again.
#pragma once

#include <QMainWindow>
#include <QString>

class QTextEdit;

class TextFrame : public QMainWindow {
 public:
  TextFrame(const QString& title, bool read_only, bool markup, bool word_wrap, bool topmost,
            bool maximize_box, QWidget* parent);
  QTextEdit* text_edit() const { return edit_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  friend void textframe_set_text(TextFrame* frame, const QString& text, bool force_plain);
  QTextEdit* edit_;
  bool read_only_;
  bool markup_;
  QString font_name_;
};

void textframe_restore(TextFrame* frame);
void textframe_hide(TextFrame* frame);
void textframe_set_title(TextFrame* frame, const QString& title);
// Sets the text: a markup frame not forced plain shows it converted from
// markup with its styles; any other as plain text.
void textframe_set_text(TextFrame* frame, const QString& text, bool force_plain);
