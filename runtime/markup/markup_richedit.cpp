// Markup put into a rich-text control: the display-text conversion with its
// spans, the plain text put in, then the spans' character and paragraph
// formats. A link's hidden part (its target and '|') is removed only after
// every format is applied, last link first, so earlier offsets stay valid.
#include <cstdlib>

#include "runtime/markup/markup_display.h"

namespace {

constexpr int32_t kRaiseTwips = 100;
constexpr int32_t kHeadingBase = 10;
constexpr int32_t kTwipsPerHeadingStep = 40;
constexpr int32_t kParagraphIndent = 300;
constexpr int32_t kDefinitionStep = 600;
constexpr const char* kMonoFace = "Courier";

struct Text16 {
  char16_t* units;
  int32_t length;
};

void apply_chars(const MarkupRichSink* sink, int32_t start, int32_t end, uint32_t mask) {
  MarkupCharFormat f{};
  f.mask = mask;
  sink->format_chars(sink->context, start, end, &f);
}

void apply_span(const MarkupRichSink* sink, const MarkupSpan& s, int32_t base, const Text16& text,
                bool links_active) {
  const int32_t start = base + s.start, end = base + s.end;
  MarkupCharFormat cf{};
  MarkupParaFormat pf{};
  switch (s.kind) {
    case kMkSpanBold: case kMkSpanTermBold: case kMkSpanHeaderBold: return apply_chars(sink, start, end, kMkCfBold);
    case kMkSpanItalic: return apply_chars(sink, start, end, kMkCfItalic);
    case kMkSpanUnderline: return apply_chars(sink, start, end, kMkCfUnderline);
    case kMkSpanSuper: case kMkSpanSub:
      cf.mask = kMkCfOffset;
      cf.offset_twips = s.kind == kMkSpanSuper ? kRaiseTwips : -kRaiseTwips;
      return sink->format_chars(sink->context, start, end, &cf);
    case kMkSpanMono:
      cf.mask = kMkCfFace;
      cf.face = kMonoFace;
      return sink->format_chars(sink->context, start, end, &cf);
    case kMkSpanLink: {
      if (!links_active) return;
      int32_t bar = s.start;
      while (bar < s.end && text.units[bar] != u'|') ++bar;
      if (bar >= s.end) return;
      cf.mask = kMkCfLink;
      cf.link_target = text.units + s.start;
      cf.link_target_length = bar - s.start;
      return sink->format_chars(sink->context, start, end, &cf);
    }
    case kMkSpanParagraph:
      pf.mask = kMkPfIndent;
      pf.start_indent_twips = kParagraphIndent;
      pf.first_line_twips = -kParagraphIndent;
      return sink->format_paragraphs(sink->context, start, end, &pf);
    case kMkSpanHeading:
      cf.mask = kMkCfHeight;
      cf.height_twips = (kHeadingBase - s.level) * kTwipsPerHeadingStep;
      sink->format_chars(sink->context, start, end, &cf);
      if (s.level == 1) {
        pf.mask = kMkPfCentre;
        sink->format_paragraphs(sink->context, start, end, &pf);
      }
      return;
    case kMkSpanDefinition:
      pf.mask = kMkPfIndent;
      pf.start_indent_twips = kDefinitionStep * s.level + kParagraphIndent;
      pf.first_line_twips = -kParagraphIndent;
      return sink->format_paragraphs(sink->context, start, end, &pf);
    default:
      return;
  }
}

}  // namespace

int markup_render_richedit(const MarkupRichSink* sink, const char* markup, int32_t length, bool append,
                           const MarkupCharFormat* format, bool links_active) {
  if (!sink || length < 0 || (length > 0 && !markup)) return kMkShowFailed;
  MarkupSpanConverter* c = markup_converter_run_spans(markup, length, links_active);
  if (!c) return kMkShowNoMemory;
  if (c->run.status != kMkParsed) {
    markup_span_converter_free(c);
    return kMkShowFailed;
  }
  Text16 text{nullptr, markup_utf8_to_cstring(c->run.text, c->run.bytes, nullptr, 0)};
  text.units = static_cast<char16_t*>(std::malloc(sizeof(char16_t) * size_t(text.length + 1)));
  if (!text.units) {
    markup_span_converter_free(c);
    return kMkShowNoMemory;
  }
  markup_utf8_to_cstring(c->run.text, c->run.bytes, text.units, text.length);
  const int32_t base = sink->put_text(sink->context, text.units, text.length, append);
  sink->format_chars(sink->context, base, base + text.length, format);
  const MarkupSpanTable* t = c->spans;
  for (int32_t k = 0; k < t->count; ++k) {
    const MarkupSpan& s = t->spans[k];
    // The spans come from this run's hook; still, a range outside the text
    // is not formatted.
    if (s.start < 0 || s.end < s.start || s.end > text.length) continue;
    apply_span(sink, s, base, text, links_active);
  }
  if (links_active) {
    for (int32_t k = t->count - 1; k >= 0; --k) {
      const MarkupSpan& s = t->spans[k];
      if (s.kind != kMkSpanLink || s.start < 0 || s.end < s.start || s.end > text.length) continue;
      int32_t bar = s.start;
      while (bar < s.end && text.units[bar] != u'|') ++bar;
      if (bar < s.end) sink->remove_text(sink->context, base + s.start, base + bar + 1);
    }
  }
  sink->collapse(sink->context, base);
  std::free(text.units);
  markup_span_converter_free(c);
  return kMkShown;
}

int markup_show_in_richedit(const MarkupRichSink* sink, const char16_t* markup, int32_t length, bool append,
                            const MarkupCharFormat* format, bool links_active) {
  if (length < 0 || (length > 0 && !markup)) return kMkShowFailed;
  const int32_t bytes = markup_utf16_to_utf8(markup, length, nullptr, 0);
  char* utf8 = static_cast<char*>(std::malloc(size_t(bytes) + 1));
  if (!utf8) return kMkShowNoMemory;
  markup_utf16_to_utf8(markup, length, utf8, bytes);
  const int status = markup_render_richedit(sink, utf8, bytes, append, format, links_active);
  std::free(utf8);
  return status;
}
