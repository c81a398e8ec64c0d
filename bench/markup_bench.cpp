// The markup converter's speed: a 200 KB help text (a rich sample repeated)
// converted to HTML and to the display text with its spans, a 1 MB line
// without a blank, 1 MB runs of each marker character (which must parse at
// a third of the help text's speed or better, both ways: the work per
// marker must not grow with what follows it), and the display in an
// offscreen QTextDocument beside QTextDocument::setMarkdown of the same text
// in Markdown. The exit status is 2 when a run of a marker is too slow.
#include <QApplication>
#include <QTextDocument>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/timing.h"
#include "platform/rich_text_sink.h"
#include "runtime/markup/markup_display.h"

namespace {

constexpr size_t kHelpBytes = 200 * 1024;
constexpr size_t kLineBytes = 1024 * 1024;
constexpr int kReps = 7;

const char kSample[] =
    "= Help Title\n"
    "A paragraph with **bold**, //italic//, __underline__, ^^super^^, ,,sub,, and ##mono## words, a\n"
    "[[http://example.org/page|link]] and more text that runs on for a while so that lines wrap.\n\n"
    "== Section\n* first item\n* second **item**\n*# nested number\n# one\n# two\n\n"
    "; Term : its definition\n: indented text\n\n|= Name |= Value |\n| a | 1 |\n\n{{{\ncode\tline\n}}}\n";

const char kSampleMarkdown[] =
    "# Help Title\n\n"
    "A paragraph with **bold**, *italic*, <u>underline</u>, <sup>super</sup>, <sub>sub</sub> and `mono` words, a\n"
    "[link](http://example.org/page) and more text that runs on for a while so that lines wrap.\n\n"
    "## Section\n\n* first item\n* second **item**\n  1. nested number\n\n1. one\n2. two\n\n"
    "**Term** its definition\n\n> indented text\n\n| Name | Value |\n|---|---|\n| a | 1 |\n\n```\ncode\tline\n```\n";

std::string repeated(const char* sample, size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += sample;
  return s;
}

double mb_per_s(size_t bytes, double seconds) { return double(bytes) / 1e6 / seconds; }

// Every character that begins or ends a construct somewhere.
const char kMarkers[] = "=*#;:|-{}[]<>/_^,~\\";

double html_seconds(const std::string& text, int reps) {
  return bench::best_seconds(
      [&] {
        markup_converter_free(
            markup_converter_run(text.data(), int32_t(text.size()), markup_format(kMkHtml), 0, 0, "\n"));
      },
      reps);
}

double spans_seconds(const std::string& text, int reps) {
  return bench::best_seconds(
      [&] { markup_span_converter_free(markup_converter_run_spans(text.data(), int32_t(text.size()), true)); },
      reps);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string help = repeated(kSample, kHelpBytes);
  const std::string markdown = repeated(kSampleMarkdown, kHelpBytes);
  const std::string line(kLineBytes, 'x');
  const int32_t n = int32_t(help.size());

  const double html = bench::best_seconds(
      [&] { markup_converter_free(markup_converter_run(help.data(), n, markup_format(kMkHtml), 0, 0, "\n")); }, kReps);
  const double spans = bench::best_seconds(
      [&] { markup_span_converter_free(markup_converter_run_spans(help.data(), n, true)); }, kReps);
  const double long_line = bench::best_seconds(
      [&] {
        markup_converter_free(
            markup_converter_run(line.data(), int32_t(line.size()), markup_format(kMkHtml), 0, 0, "\n"));
      },
      kReps);
  // Runs of one marker beside ordinary text (the help text), through both
  // paths; a run of plain letters, which takes the fast path, for scale.
  const double ref_html = mb_per_s(help.size(), html), ref_spans = mb_per_s(help.size(), spans);
  int status = 0;
  std::printf("1 MB run of one character, MB/s (ratio to the help text's; target >= 0.33)\n");
  std::printf("  help text  to HTML %8.1f            spans %8.1f\n", ref_html, ref_spans);
  std::printf("  'x'        to HTML %8.1f (%5.2f)    spans %8.1f (%5.2f)\n", mb_per_s(line.size(), html_seconds(line, 3)),
              mb_per_s(line.size(), html_seconds(line, 3)) / ref_html, mb_per_s(line.size(), spans_seconds(line, 3)),
              mb_per_s(line.size(), spans_seconds(line, 3)) / ref_spans);
  for (const char* m = kMarkers; *m; ++m) {
    const std::string run(kLineBytes, *m);
    const double h = mb_per_s(run.size(), html_seconds(run, 3)), sp = mb_per_s(run.size(), spans_seconds(run, 3));
    const bool ok = h / ref_html >= 1.0 / 3 && sp / ref_spans >= 1.0 / 3;
    status |= ok ? 0 : 2;
    std::printf("  '%c'        to HTML %8.1f (%5.2f)    spans %8.1f (%5.2f)%s\n", *m, h, h / ref_html, sp,
                sp / ref_spans, ok ? "" : "  SLOW");
  }

  QTextDocument doc;
  RichTextSink sink(&doc, nullptr);
  const double display = bench::best_seconds(
      [&] { markup_render_richedit(sink.sink(), help.data(), n, false, nullptr, true); }, kReps);
  const QString md = QString::fromStdString(markdown);
  QTextDocument md_doc;
  const double set_markdown = bench::best_seconds([&] { md_doc.setMarkdown(md); }, kReps);

  std::printf("help text %zu bytes (Markdown %zu bytes)\n", help.size(), markdown.size());
  std::printf("to HTML:                    %8.1f MB/s   (target >= 50)\n", mb_per_s(help.size(), html));
  std::printf("to display text with spans: %8.1f MB/s   (target >= 50)\n", mb_per_s(help.size(), spans));
  std::printf("1 MB line without a blank:  %8.1f MB/s   (target >= 25)\n", mb_per_s(line.size(), long_line));
  std::printf("display in QTextDocument:   %8.1f ms     (target <= 100)\n", display * 1e3);
  std::printf("QTextDocument::setMarkdown: %8.1f ms     (ratio %.2f, target <= 2)\n", set_markdown * 1e3,
              display / set_markdown);
  return status;
}
