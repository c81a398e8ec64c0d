// The markup display without Qt: span tables from the span hook, converter
// retries up to the cap, the UTF-16/UTF-8 helpers, and the rendering steps
// through a recording rich-text sink.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/markup/markup_display.h"

namespace {

std::string spans_of(const MarkupSpanTable* t) {
  std::string s;
  for (int32_t k = 0; k < t->count; ++k) {
    const MarkupSpan& m = t->spans[k];
    s += std::to_string(m.kind) + ":" + std::to_string(m.start) + "-" + std::to_string(m.end) + "/" +
         std::to_string(m.level) + " ";
  }
  return s;
}

TEST(MarkupSpans, TablesOfTheDisplayConversion) {
  struct Row {
    const char* source;
    bool links;
    const char* text;
    const char* spans;
  } rows[] = {
      {"= T\nA **b** //i//", false, "T\nA b i\n", "12:0-2/1 11:2-8/0 1:4-5/-1 2:6-7/-1 "},
      {"* x\n\n# y\n\n; t : d\n: e", false, "- x\n1. y\nt d\ne\n",
       "14:0-4/1 15:4-9/1 16:9-11/1 9:9-11/1 17:11-13/1 18:13-15/1 "},
      {"|= h | c |", false, "h\tc\t\n", "13:0-2/0 10:0-2/0 13:2-4/0 "},
      {"^^u^^,,d,,__l__##m##", false, "udlm\n", "11:0-5/0 4:0-1/-1 5:1-2/-1 3:2-3/-1 6:3-4/-1 "},
      {"[[t|x]] [[u]]", false, "x u\n", "11:0-4/0 7:0-1/-1 7:2-3/-1 "},
      {"[[t|x]] [[u]]", true, "t|x u|u\n", "11:0-8/0 7:0-3/-1 7:4-7/-1 "},
      // Spans stay in place after a 4-byte character (two UTF-16 units).
      {"\xF0\x9F\x98\x80 **b**", false, "\xF0\x9F\x98\x80 b\n", "11:0-5/0 1:3-4/-1 "},
      {"{{{\nx\n}}}", false, "x\n", "6:0-2/0 "},
  };
  for (const Row& r : rows) {
    MarkupSpanConverter* c = markup_converter_run_spans(r.source, int32_t(std::strlen(r.source)), r.links);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->run.status, 0) << r.source;
    EXPECT_EQ(std::string(c->run.text, size_t(c->run.bytes)), r.text) << r.source;
    EXPECT_EQ(spans_of(c->spans), r.spans) << r.source;
    EXPECT_EQ(c->spans->depth, 0);
    markup_span_converter_free(c);
  }
}

TEST(MarkupSpans, RetriesAndTheCap) {
  // Far more spans than the first table holds: retried with doubled sizes.
  std::string many;
  for (int k = 0; k < 400; ++k) many += "**a**";
  MarkupSpanConverter* c = markup_converter_run_spans(many.data(), int32_t(many.size()), false);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->run.status, 0);
  EXPECT_EQ(c->spans->count, 401);
  EXPECT_GT(c->span_bytes, int32_t(many.size()) + 116);
  markup_span_converter_free(c);
  // A format whose output passes 10 x length + 65536 bytes gives up with 1.
  MarkupFormat heavy = *markup_format(kMkDisplayText);
  const std::string hundred = "%%{100}" + std::string(100, 'x') + "%%";
  heavy.templates[kMkParagraphBegin] = hundred.c_str();
  std::string paragraphs;
  for (int k = 0; k < 40; ++k) paragraphs += "a\n\n";
  c = markup_converter_run_spans_over(paragraphs.data(), int32_t(paragraphs.size()), false, &heavy);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->run.status, kMkOutputFull);
  EXPECT_EQ(c->run.buffer_bytes, markup_converter_cap(int32_t(paragraphs.size())));
  markup_span_converter_free(c);
  MarkupConverter* plain = markup_converter_run(paragraphs.data(), int32_t(paragraphs.size()), &heavy, 1, 0, "\n");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->status, kMkOutputFull);
  markup_converter_free(plain);
  plain = markup_converter_run("a\n\nb", 4, markup_format(kMkHtml), 1, 0, "\n");
  EXPECT_EQ(std::string(plain->text), "<p>a</p>\n<p>b</p>\n");
  markup_converter_free(plain);
}

TEST(MarkupSpans, HookBounds) {
  alignas(8) char memory[kMkSpanHeaderBytes + 2 * sizeof(MarkupSpan)];
  EXPECT_EQ(markup_span_table_init(memory, kMkSpanHeaderBytes + 23, true), nullptr);
  MarkupSpanTable* t = markup_span_table_init(memory, sizeof memory, false);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->capacity, 2);
  MarkupOut out;
  EXPECT_EQ(markup_span_hook(0, 0, 0, "p", 0, &out, t), kMkSpanUnbalanced);  // an end without a begin
  EXPECT_EQ(markup_span_hook(0, 0, 1, "----", 0, &out, t), 0);               // no kind: ignored
  EXPECT_EQ(markup_span_hook(1, 0, 1, ";", 0, &out, t), 0);                  // a term and its bold part
  EXPECT_EQ(markup_span_hook(0, 0, 1, "p", 0, &out, t), kMkSpanTableFull);
  out.bytes = 5;
  EXPECT_EQ(markup_span_hook(1, 0, 0, ";", 0, &out, t), 0);
  EXPECT_EQ(t->spans[0].end, 5);
  EXPECT_EQ(t->spans[1].end, 5);
  // More open spans than the stack holds answers 3.
  std::vector<char> big(kMkSpanHeaderBytes + 64 * sizeof(MarkupSpan));
  t = markup_span_table_init(big.data(), int32_t(big.size()), true);
  int status = 0;
  for (int k = 0; k < kMkSpanStackSize + 3 && status == 0; ++k) status = markup_span_hook(0, 0, 1, "**", 0, &out, t);
  EXPECT_EQ(status, kMkSpanUnbalanced);
  EXPECT_EQ(t->depth, kMkSpanStackSize);
  EXPECT_EQ(markup_token("|="), kMkSpanCell);
  EXPECT_EQ(markup_token(";:"), kMkSpanTermWithDefinition);
  EXPECT_EQ(markup_token("x"), kMkSpanNone);
}

// Every marker of the span kinds' table, and markers that share a first
// character or a prefix with one, or that are one with a byte more.
TEST(MarkupSpans, KindOfEveryMarker) {
  const struct {
    const char* marker;
    int32_t kind;
  } rows[] = {{"**", kMkSpanBold},     {"//", kMkSpanItalic},     {"__", kMkSpanUnderline},
              {"^^", kMkSpanSuper},    {",,", kMkSpanSub},        {"##", kMkSpanMono},
              {"{{{", kMkSpanMono},    {"[[", kMkSpanLink},       {"{{", kMkSpanImage},
              {"p", kMkSpanParagraph}, {"=", kMkSpanHeading},     {"|", kMkSpanCell},
              {"|=", kMkSpanCell},     {"*", kMkSpanBullet},      {"#", kMkSpanNumbered},
              {";", kMkSpanTerm},      {";:", kMkSpanTermWithDefinition}, {":", kMkSpanDefinition},
              {"", kMkSpanNone},       {"***", kMkSpanNone},      {"{", kMkSpanNone},
              {"{{{{", kMkSpanNone},   {"|==", kMkSpanNone},      {":;", kMkSpanNone},
              {"----", kMkSpanNone},   {"P", kMkSpanNone},        {"pp", kMkSpanNone},
              {nullptr, kMkSpanNone}};
  for (const auto& r : rows) EXPECT_EQ(markup_token(r.marker), r.kind) << (r.marker ? r.marker : "null");
  // The bold companions: a term and a header cell push two spans.
  for (const char* marker : {";", "|=", "|", ";:"}) {
    alignas(8) char memory[kMkSpanHeaderBytes + 4 * sizeof(MarkupSpan)];
    MarkupSpanTable* t = markup_span_table_init(memory, sizeof memory, false);
    MarkupOut out;
    EXPECT_EQ(markup_span_hook(1, 0, 1, marker, 0, &out, t), 0);
    const bool two = marker[1] == 0 ? marker[0] == ';' : marker[1] == '=';
    ASSERT_EQ(t->count, two ? 2 : 1) << marker;
    if (two) {
      EXPECT_EQ(t->spans[1].kind, marker[0] == ';' ? kMkSpanTermBold : kMkSpanHeaderBold);
    }
  }
}

TEST(MarkupSpans, Utf16AndUtf8) {
  const char16_t text[] = {u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xD800, u'z'};
  char utf8[32];
  const int32_t n = markup_utf16_to_utf8(text, 7, utf8, sizeof utf8);
  EXPECT_EQ(std::string(utf8, size_t(n)), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDz");
  EXPECT_EQ(markup_utf16_to_utf8(text, 7, nullptr, 0), n);
  char16_t back[16];
  const int32_t m = markup_utf8_to_cstring(utf8, n, back, 16);
  ASSERT_EQ(m, 7);
  EXPECT_EQ(back[3], 0xD83D);
  EXPECT_EQ(back[5], 0xFFFD);
  // Malformed bytes are skipped: stray continuation, cut, overlong, surrogate.
  const char bad[] = "x\x80y\xC3z\xC0\xAFw\xED\xA0\x80v\xE2\x82";
  EXPECT_EQ(markup_utf8_to_cstring(bad, int32_t(sizeof bad - 1), back, 16), 5);
}

// A sink that records every call.
struct Recording {
  std::string log;
  std::u16string text;
};
int32_t put(void* c, const char16_t* t, int32_t n, bool append) {
  auto* r = static_cast<Recording*>(c);
  r->text.assign(t, size_t(n));
  r->log += std::string("put ") + std::to_string(n) + (append ? " append; " : "; ");
  return append ? 10 : 0;
}
void chars(void* c, int32_t s, int32_t e, const MarkupCharFormat* f) {
  auto* r = static_cast<Recording*>(c);
  r->log += "chars " + std::to_string(s) + "-" + std::to_string(e) + " ";
  if (!f) r->log += "default";
  else if (f->mask & kMkCfLink) r->log += "link " + std::to_string(f->link_target_length);
  else r->log += "mask " + std::to_string(f->mask) + " " + std::to_string(f->offset_twips + f->height_twips) +
                 (f->face ? std::string(" ") + f->face : "");
  r->log += "; ";
}
void paras(void* c, int32_t s, int32_t e, const MarkupParaFormat* f) {
  static_cast<Recording*>(c)->log += "para " + std::to_string(s) + "-" + std::to_string(e) + " " +
                                     std::to_string(f->mask) + " " + std::to_string(f->start_indent_twips) + " " +
                                     std::to_string(f->first_line_twips) + "; ";
}
void remove(void* c, int32_t s, int32_t e) {
  static_cast<Recording*>(c)->log += "remove " + std::to_string(s) + "-" + std::to_string(e) + "; ";
}
void collapse(void* c, int32_t p) { static_cast<Recording*>(c)->log += "collapse " + std::to_string(p); }

TEST(MarkupRender, StepsThroughARecordingSink) {
  Recording r;
  const MarkupRichSink sink{&r, put, chars, paras, remove, collapse};
  const std::string src = "== H\n= T\nx ^^u^^,,d,, ##m## [[tg|lb]]\n\n: def";
  ASSERT_EQ(markup_render_richedit(&sink, src.data(), int32_t(src.size()), false, nullptr, true), kMkShown);
  EXPECT_EQ(r.log,
            "put 21; chars 0-21 default; chars 0-2 mask 32 320; chars 2-4 mask 32 360; para 2-4 1 0 0; "
            "para 4-17 2 300 -300; chars 6-7 mask 8 100; chars 7-8 mask 8 -100; chars 9-10 mask 16 0 Courier; "
            "chars 11-16 link 2; para 17-21 2 900 -300; remove 11-14; collapse 0");
  // Links inactive: the label only, no link format, nothing removed; an
  // append starts at the selection.
  r = Recording{};
  ASSERT_EQ(markup_render_richedit(&sink, "[[tg|lb]]", 9, true, nullptr, false), kMkShown);
  EXPECT_EQ(r.log, "put 3 append; chars 10-13 default; para 10-13 2 300 -300; collapse 10");
  // A conversion that fails puts nothing in.
  r = Recording{};
  EXPECT_EQ(markup_render_richedit(&sink, nullptr, 5, false, nullptr, true), kMkShowFailed);
  EXPECT_EQ(r.log, "");
  // The 16-bit entry point converts first.
  const char16_t u[] = {u'*', u'*', 0xE9, u'*', u'*'};
  r = Recording{};
  ASSERT_EQ(markup_show_in_richedit(&sink, u, 5, false, nullptr, false), kMkShown);
  EXPECT_EQ(r.text, std::u16string(u"\u00e9\n"));
}

}  // namespace
