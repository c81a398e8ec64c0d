// Tick labels of figures drawn from ZVR code, as an application draws them,
// read from the recording driver: the curve whose y labels once read "1e-1",
// zoomed axes, a log-log plot, a polar plot and a surface's box. Every
// label is held to the exact decimal model of tests/support.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/drawing_context.h"
#include "runtime/figure_draw.h"
#include "support/recording_driver.h"
#include "support/tick_label_model.h"

namespace {

struct TickFigure : DrawingCommands {
  recdrv::Recorder rec;
  bool drawn = false;
  // Runs the plot code, commits the list, lays out w x h and draws; the
  // texts but the figure's title.
  std::vector<tickmodel::Text> draw(const std::string& code, double w = 600, double h = 400) {
    if (drawn) {  // a new list, as the next run of the handler opens one
      EXPECT_EQ(plotstore_begin_list(host.block, 0, true), 0);
      host.block->h.build.subplot = 0;
    }
    drawn = true;
    EXPECT_EQ(run(code), kOk);
    plotstore_commit_list(host.block);
    EXPECT_EQ(figure_layout_subplots(&host.block, 0, 0, w, 0, h), 0);
    RuntimeBlock* b = host.block;
    rt_set_graphics_driver(b, &rec.table);
    rt_set_graphics_context(b, &rec.context);
    rec.take();
    figure_draw(b, 0);
    std::vector<tickmodel::Text> t = tickmodel::texts(rec.take());
    std::erase_if(t, [](const tickmodel::Text& x) { return x.text == "One"; });
    return t;
  }
  static std::vector<std::string> all(const std::vector<tickmodel::Text>& t) {
    std::vector<std::string> out;
    for (const tickmodel::Text& x : t) out.push_back(x.text);
    return out;
  }
  static std::string joined(const std::vector<std::string>& t) {
    std::string s;
    for (const std::string& x : t) s += (s.empty() ? "" : " ") + x;
    return s;
  }
};

constexpr const char* kCurve = "x = -2:0.01:2; plot(x, exp(-0.5 * x.^2) .* cos(2 * x), 'b');\n";

TEST_F(TickFigure, TheCurvesLabelsReadAsAPersonWritesThem) {
  const std::vector<tickmodel::Text> t = draw(kCurve, 600, 700);
  const std::vector<std::string> y = tickmodel::with_align(t, kAlignRight);
  const std::vector<std::string> x = tickmodel::with_align(t, kAlignBelow);
  std::string step;
  EXPECT_EQ(tickmodel::check_linear(y, &step), "") << joined(y);
  EXPECT_EQ(step, "0.1");
  EXPECT_EQ(joined(y), "-0.3 -0.2 -0.1 0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1");
  EXPECT_EQ(tickmodel::check_linear(x), "") << joined(x);
}

// Fixed limits as a zoom leaves them, around zero and off it.
TEST_F(TickFigure, ZoomedAxesKeepShortLabels) {
  const char* limits[] = {"[-0.35 0.25 -0.13 0.11]", "[0.07 0.13 -1e-4 3e-4]", "[1e6 1e6+0.7 -3 -2.2]"};
  for (const char* l : limits) {
    SCOPED_TRACE(l);
    const std::vector<tickmodel::Text> t = draw(std::string(kCurve) + "scale(" + l + ");\n");
    for (uint32_t align : {kAlignRight, kAlignBelow}) {
      const std::vector<std::string> labels = tickmodel::with_align(t, align);
      EXPECT_GE(labels.size(), 2u);
      EXPECT_EQ(tickmodel::check_linear(labels), "") << joined(labels);
    }
  }
}

// Log labels are a table factor times a power of ten: two digits at most.
TEST_F(TickFigure, LogLogLabels) {
  const std::vector<std::string> labels =
      all(draw("x = 10 .^ (-5:0.15:1); scale('loglog'); plot(x, 3 * x.^2, 'b');\n"));
  std::vector<tickmodel::Decimal> v;
  EXPECT_EQ(tickmodel::check_compact(labels, &v), "") << joined(labels);
  EXPECT_GE(v.size(), 6u);
  for (const tickmodel::Decimal& d : v) EXPECT_LE(d.digits.size(), 2u) << joined(labels);
}

TEST_F(TickFigure, PolarLabels) {
  const std::vector<std::string> labels = all(draw("a = 0:0.05:6.3; polar(a, 0.3 + 0.2 * cos(3 * a), 'b');\n"));
  EXPECT_GE(labels.size(), 3u);
  EXPECT_EQ(tickmodel::check_linear(labels), "") << joined(labels);
}

// The box's labels of all three axes, each a compact number.
TEST_F(TickFigure, SurfaceBoxLabels) {
  const std::vector<std::string> labels = all(draw("x = -0.3:0.05:0.3; surf(x, x, 4 * x' * x);\n", 800, 700));
  std::vector<tickmodel::Decimal> v;
  EXPECT_GE(labels.size(), 6u);
  EXPECT_EQ(tickmodel::check_compact(labels, &v), "") << joined(labels);
}

// Labels of many digits: a narrow range around 123456.7, 24 decades of a
// log-log plot, and a box edge around 1e6. At the figure area of an
// 800 x 600 window and at larger ones, the neighbouring labels of each axis
// keep apart, and each axis keeps at least two labels.
struct LongLabels {
  const char* code;
  const char* at800;  // the labels at 800 x 530, axis by axis
};
constexpr LongLabels kLongLabels[] = {
    {"x = 0:0.01:1; plot(123456.7 + 0.3 * x, x, 'b');\n",
     "x: 123456.7 123456.75 123456.8 123456.85 123456.9 123456.95 123457 | y: 0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1"},
    {"scale('loglog'); t = 10 .^ (-12:0.1:12); plot(t, t .^ 0.5, 'b');\n",
     // "10000" would not fit the margin: the y labels past 1000 take the
     // exponent form.
     "x: 1000000 10000000 100000000 1000000000 1e10 1e11 1e12 | y: 1 10 100 1000 1e4 1e5 1e6"},
    // The box: x labels below their edge, z labels to the left of theirs, and
    // the y labels above theirs, along the back edge.
    {"x = 0:0.01:1; plot3(-0.37 + 1.37 * x, 1e6 + 10 * x, 1e-3 * sin(6 * x), 'b');\n",
     "x: 0 0.5 1 | y: -5e-4 0 5e-4 | a8: 1000000 1000005"},
};
constexpr double kFigureSizes[][2] = {{800, 530}, {1200, 850}, {1900, 1000}, {560, 380}};

std::string axis_lists(const std::vector<tickmodel::Text>& t) {
  std::string out;
  for (uint32_t align : {kAlignBelow, kAlignRight, kAlignAbove, kAlignLeft, 0u}) {
    const std::vector<std::string> l = tickmodel::with_align(t, align);
    if (l.empty()) continue;
    const std::string name = align == kAlignBelow ? "x" : align == kAlignRight ? "y" : "a" + std::to_string(align);
    out += std::string(out.empty() ? "" : " | ") + name + ": " + TickFigure::joined(l);
  }
  return out;
}

void long_labels_apart(TickFigure* fig, const LongLabels& app) {
  for (const auto& size : kFigureSizes) {
    SCOPED_TRACE(std::to_string(int(size[0])) + " x " + std::to_string(int(size[1])));
    const std::vector<tickmodel::Text> t = fig->draw(app.code, size[0], size[1]);
    for (uint32_t align : {kAlignBelow, kAlignRight, kAlignAbove, kAlignLeft, 0u}) {
      const std::vector<tickmodel::Text> axis = tickmodel::texts_with_align(t, align);
      EXPECT_EQ(tickmodel::check_apart(axis, recdrv::kCharWidth, recdrv::kCharHeight), "") << axis_lists(t);
      EXPECT_NE(axis.size(), 1u) << axis_lists(t);
    }
    // Labels are compact numbers; the y labels of a flat subplot lie within
    // its margin, those of a log axis that would not taking the exponent form.
    const Subplot& s = fig->s();
    std::vector<tickmodel::Decimal> v;
    std::vector<std::string> others;
    for (const tickmodel::Text& x : t)
      if (s.is3D || x.align != kAlignRight) others.push_back(x.text);
    EXPECT_EQ(tickmodel::check_compact(others, &v), "") << axis_lists(t);
    if (!s.is3D) {
      const double room = s.frameLeft - 0.5 * s.charWidth - 1 - s.rectLeft;
      EXPECT_EQ(tickmodel::check_log_labels(tickmodel::with_align(t, kAlignRight), size_t(room / s.charWidth), &v), "")
          << axis_lists(t);
      EXPECT_EQ(tickmodel::check_in_margin(t, s.rectLeft, recdrv::kCharWidth, 0), "") << axis_lists(t);
    }
    if (size[0] == 800 && *app.at800) EXPECT_EQ(axis_lists(t), app.at800);
  }
}

// y labels too long for the margin, as curves give them: around a large
// value, a flat line (whose axis spans a millionth), large values from 0 and
// a narrow range below zero. At every size each label lies within the
// margin, reads through the note the value it is drawn at, the values step
// evenly, and the note touches no label.
TEST_F(TickFigure, LongYLabelsReadTheirValuesThroughTheNote) {
  struct Case {
    const char* code;
    const char* at800;  // the note and the y labels at 800 x 530
  } cases[] = {
      {"x = 0:0.01:1; plot(x, 987654.3218 + 0.002 * x, 'b');\n",
       "\xC3\x97" "1e-3 +987654.32 | 1.8 2 2.2 2.4 2.6 2.8 3 3.2 3.4 3.6 3.8"},
      {"x = 0:0.01:1; plot(x, 7 + 0 * x, 'b');\n", "\xC3\x97" "1e-6 +7 | 0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1"},
      {"x = 0:0.01:1; plot(x, 3e6 * x, 'b');\n", ""},
      {"x = 0:0.01:1; plot(x, -123456.78 - 0.05 * x, 'b');\n", ""},
  };
  for (const Case& c : cases) {
    for (const auto& size : kFigureSizes) {
      SCOPED_TRACE(std::string(c.code) + " at " + std::to_string(int(size[0])) + " x " + std::to_string(int(size[1])));
      const std::vector<tickmodel::Text> t = draw(c.code, size[0], size[1]);
      const Subplot& sp = s();
      std::vector<std::string> values;
      bool note = false;
      ASSERT_EQ(tickmodel::y_values(t, &values, &note), "") << axis_lists(t);
      EXPECT_TRUE(note) << axis_lists(t);
      EXPECT_GE(values.size(), 2u) << axis_lists(t);
      EXPECT_EQ(tickmodel::check_linear(values), "") << joined(values);
      EXPECT_EQ(tickmodel::check_in_margin(t, sp.rectLeft, recdrv::kCharWidth, 0), "") << axis_lists(t);
      EXPECT_EQ(tickmodel::check_note_apart(t, recdrv::kCharWidth, recdrv::kCharHeight), "") << axis_lists(t);
      size_t k = 0;
      std::string notes;
      for (const tickmodel::Text& x : t) {
        if (x.align == kAlignLeft) notes += x.text + " | ";
        if (x.align != kAlignRight) continue;
        const double v = std::strtod(values[k++].c_str(), nullptr);
        double p = 0;
        subplot_data_to_pixel(&sp, nullptr, &v, nullptr, 1, nullptr, &p, nullptr);
        EXPECT_NEAR(p, x.y, 0.01) << "\"" << x.text << "\" drawn away from " << values[k - 1];
      }
      if (size[0] == 800 && *c.at800)
        EXPECT_EQ(notes + joined(tickmodel::with_align(t, kAlignRight)), c.at800);
    }
  }
}

TEST_F(TickFigure, ManyDigitLabelsAroundALargeValueKeepApart) { long_labels_apart(this, kLongLabels[0]); }
TEST_F(TickFigure, LogLabelsOverManyDecadesKeepApart) { long_labels_apart(this, kLongLabels[1]); }
TEST_F(TickFigure, BoxLabelsAroundALargeValueKeepApart) { long_labels_apart(this, kLongLabels[2]); }

}  // namespace
