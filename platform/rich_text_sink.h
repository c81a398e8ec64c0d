// The markup display's rich-text sink over a QTextDocument (and, when given,
// the QTextEdit showing it): text put in through QTextCursor, character
// formats as QTextCharFormat, paragraph formats as QTextBlockFormat.
#pragma once

#include <QTextCharFormat>

#include "runtime/markup/markup_display.h"

class QTextDocument;
class QTextEdit;

class RichTextSink {
 public:
  // view, when not null, supplies the selection an append replaces and
  // receives the collapsed cursor at the end.
  RichTextSink(QTextDocument* document, QTextEdit* view);
  const MarkupRichSink* sink() const { return &sink_; }
  // The format of "the control's default": the document's font, plain.
  void set_default_format(const QTextCharFormat& format) { default_format_ = format; }

 private:
  static int32_t put_text(void* self, const char16_t* text, int32_t length, bool append);
  static void format_chars(void* self, int32_t start, int32_t end, const MarkupCharFormat* format);
  static void format_paragraphs(void* self, int32_t start, int32_t end, const MarkupParaFormat* format);
  static void remove_text(void* self, int32_t start, int32_t end);
  static void collapse(void* self, int32_t position);

  QTextDocument* document_;
  QTextEdit* view_;
  QTextCharFormat default_format_;
  MarkupRichSink sink_;
};
