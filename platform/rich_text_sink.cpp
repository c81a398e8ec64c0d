// The rich-text sink over QTextCursor. Twips become points (20 to the
// point) for heights and offsets, and pixels (15 to the pixel at 96 dpi)
// for indents; a baseline offset is a percentage of the font's height.
#include "platform/rich_text_sink.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

constexpr double kTwipsPerPoint = 20.0;
constexpr double kTwipsPerPixel = 15.0;
constexpr double kDefaultPoints = 11.0;

QTextCursor range(QTextDocument* d, int32_t start, int32_t end) {
  QTextCursor c(d);
  const int last = d->characterCount() - 1;
  c.setPosition(qBound(0, start, last));
  c.setPosition(qBound(0, end, last), QTextCursor::KeepAnchor);
  return c;
}

}  // namespace

RichTextSink::RichTextSink(QTextDocument* document, QTextEdit* view) : document_(document), view_(view) {
  default_format_.setFont(document->defaultFont());
  sink_ = MarkupRichSink{this, put_text, format_chars, format_paragraphs, remove_text, collapse};
}

int32_t RichTextSink::put_text(void* self, const char16_t* text, int32_t length, bool append) {
  auto* s = static_cast<RichTextSink*>(self);
  const QString q = QString::fromUtf16(text, length);
  QTextCursor c = append && s->view_ ? s->view_->textCursor() : QTextCursor(s->document_);
  if (!append) {
    s->document_->clear();
    c = QTextCursor(s->document_);
  }
  const int32_t at = c.selectionStart();
  c.insertText(q, s->default_format_);
  return at;
}

void RichTextSink::format_chars(void* self, int32_t start, int32_t end, const MarkupCharFormat* f) {
  auto* s = static_cast<RichTextSink*>(self);
  QTextCursor c = range(s->document_, start, end);
  if (!f) {
    c.setCharFormat(s->default_format_);
    return;
  }
  QTextCharFormat q;
  if (f->mask & kMkCfBold) q.setFontWeight(QFont::Bold);
  if (f->mask & kMkCfItalic) q.setFontItalic(true);
  if (f->mask & kMkCfUnderline) q.setFontUnderline(true);
  if (f->mask & kMkCfOffset) {
    const double points = s->default_format_.fontPointSize() > 0 ? s->default_format_.fontPointSize() : kDefaultPoints;
    q.setBaselineOffset(100.0 * (f->offset_twips / kTwipsPerPoint) / points);
  }
  if ((f->mask & kMkCfFace) && f->face) q.setFontFamilies({QString::fromUtf8(f->face)});
  if (f->mask & kMkCfHeight) q.setFontPointSize(f->height_twips / kTwipsPerPoint);
  if (f->mask & kMkCfLink) {
    q.setAnchor(true);
    q.setAnchorHref(QString::fromUtf16(f->link_target, f->link_target_length));
    q.setFontUnderline(true);
    q.setForeground(Qt::blue);
  }
  c.mergeCharFormat(q);
}

void RichTextSink::format_paragraphs(void* self, int32_t start, int32_t end, const MarkupParaFormat* f) {
  auto* s = static_cast<RichTextSink*>(self);
  if (!f) return;
  // The blocks the range covers; a range ending just after a paragraph's
  // line end does not reach the next paragraph.
  const int32_t stop = end > start ? end : start + 1;
  for (QTextBlock b = s->document_->findBlock(start); b.isValid() && b.position() < stop; b = b.next()) {
    QTextCursor c(b);
    QTextBlockFormat bf = b.blockFormat();
    if (f->mask & kMkPfCentre) bf.setAlignment(Qt::AlignHCenter);
    if (f->mask & kMkPfIndent) {
      bf.setLeftMargin(bf.leftMargin() + f->start_indent_twips / kTwipsPerPixel);
      bf.setTextIndent(f->first_line_twips / kTwipsPerPixel);
    }
    c.setBlockFormat(bf);
  }
}

void RichTextSink::remove_text(void* self, int32_t start, int32_t end) {
  auto* s = static_cast<RichTextSink*>(self);
  range(s->document_, start, end).removeSelectedText();
}

void RichTextSink::collapse(void* self, int32_t position) {
  auto* s = static_cast<RichTextSink*>(self);
  if (!s->view_) return;
  QTextCursor c(s->document_);
  c.setPosition(qBound(0, position, s->document_->characterCount() - 1));
  s->view_->setTextCursor(c);
}
