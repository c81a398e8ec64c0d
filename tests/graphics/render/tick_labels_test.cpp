// Tick label text over thousands of random ranges, read from the recording
// driver's log and held to an exact decimal model: every label is its own
// compact form and a whole multiple of one step of 1, 2 or 5 times a power
// of ten, on linear, decibel, logarithmic and polar 2-D axes and on each
// axis of the 3-D box; a zero tick reads "0". Ranges span centres and widths
// from 1e-12 to 1e12 of either sign, narrow ranges around large values
// among them; where a step lies below the resolution of the values the
// labels are only held to be compact numbers in the range. Neighbouring
// labels of one axis never touch, however many digits they have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "graphics/render/axis_ticks.h"
#include "graphics/render/render_axes.h"
#include "graphics/render/render_box3d.h"
#include "support/box3_subplot.h"
#include "support/recording_driver.h"
#include "support/tick_label_model.h"

namespace {

constexpr StyleSpec kStyle = {0, 0, 0, 0};
// Beyond this ratio of magnitude to width a step may lie below the spacing
// of doubles, and labels cannot all be exact.
constexpr double kResolvable = 1e10;

struct Range {
  double lo, hi;
};

struct Sweep {
  std::mt19937_64 rng{61};
  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
  double sign() { return uniform(0, 1) < 0.5 ? -1.0 : 1.0; }
  // A width around a centre of either sign: relative to a large centre,
  // around zero, or both drawn apart, across 1e-12 .. 1e12.
  Range linear() {
    const double pick = uniform(0, 1);
    double c, w;
    if (pick < 0.35) {
      c = sign() * std::pow(10, uniform(-4, 12));
      w = std::fabs(c) * std::pow(10, uniform(-10, 1));
    } else if (pick < 0.65) {
      w = std::pow(10, uniform(-7.9, 12));
      c = w * uniform(-3, 3);
    } else {
      c = sign() * std::pow(10, uniform(-12, 12));
      w = std::pow(10, uniform(-7.9, 12));
    }
    return {c - w / 2, c + w / 2};
  }
  double factor() {
    static const double f[] = {1, 1, 1, 1000, 0.01, 2.54};
    return f[std::uniform_int_distribution<int>(0, 5)(rng)];
  }
};

bool resolvable(double lo, double hi) {
  return std::max(std::fabs(lo), std::fabs(hi)) <= kResolvable * std::fabs(hi - lo);
}

// Labels where the step may lie below the resolution: compact numbers near
// the range, nothing more. `drawn`: the texts drawn, not values read from
// them through a note, and as short as labels are.
std::string check_loose(const std::vector<std::string>& labels, double lo, double hi, bool drawn = true) {
  std::vector<tickmodel::Decimal> v;
  std::string why = tickmodel::check_compact(labels, &v);
  if (!why.empty()) return why;
  const double w = std::fabs(hi - lo), a = std::min(lo, hi), b = std::max(lo, hi);
  for (const std::string& t : labels) {
    const double x = std::strtod(t.c_str(), nullptr);
    if ((drawn && t.size() > size_t(kTickLabelBytes)) || !(x >= a - w - 1e-12 * std::fabs(a) && x <= b + w + 1e-12 * std::fabs(b)))
      return "label \"" + t + "\" lies outside the range";
  }
  return "";
}

std::string show(const std::vector<std::string>& labels) {
  std::string s;
  for (const std::string& t : labels) s += (s.empty() ? "" : " ") + t;
  return s;
}

// The label spacing of x, in characters.
constexpr size_t kSpacingChars = 6;
// The room of a y label in the flat subplot below: its left margin of five
// characters but half a character and the driver's pixel.
constexpr double kYLabelRoom = 5 * recdrv::kCharWidth - 0.5 * recdrv::kCharWidth - 1;

size_t longest(const std::vector<std::string>& labels) {
  size_t n = 0;
  for (const std::string& t : labels) n = std::max(n, t.size());
  return n;
}

// The labels of one axis keep apart, measured as the recording driver
// measures text.
std::string apart(const std::vector<tickmodel::Text>& t, uint32_t align) {
  return tickmodel::check_apart(tickmodel::texts_with_align(t, align), recdrv::kCharWidth, recdrv::kCharHeight);
}

struct Spaced {
  std::vector<std::string> labels;
  bool apart = true;
};

struct Flat {
  recdrv::Recorder rec;
  Subplot s{};
  void set(double width, double height) {
    subplot_init_defaults(&s);
    subplot_set_char_size(&s, recdrv::kCharWidth, recdrv::kCharHeight);
    const GraphicsDriverValues& v = kScreenPaintValues;
    subplot_set_margins(&s, v.marginLeft, v.marginRight, v.marginTop, v.marginBottom);
    subplot_set_rect(&s, 0, width, 0, height);
    s.xMode = s.yMode = kAxisFixed;
  }
  std::vector<tickmodel::Text> draw() {
    subplot_compute_transform(&s, 0, 0.0);
    axes_render(&s, &kStyle, &rec.table, &rec.context);
    return tickmodel::texts(rec.take());
  }
  // The x labels of the step the tick choice gives by itself, and whether
  // they keep half a character apart; if so they are the labels drawn.
  Spaced spaced_x() {
    double lo, hi;
    subplot_visible_xrange(&s, &lo, &hi);
    if (lo > hi) std::swap(lo, hi);
    const double fac = s.scaleFactor[0], sc = std::fabs(s.xScale), cw = s.charWidth;
    const double limit = (hi - std::fabs(cw / s.xScale)) * fac;
    AxisTicks t;
    Spaced out;
    if (!axis_ticks(lo * fac, hi * fac, limit, s.fontSize / sc * fac, kSpacingChars * cw / sc * fac, &t, true))
      return out;
    double prev_x = 0;
    size_t prev_n = 0;
    for (int32_t k = 0; k < kMaxAxisTicks; ++k) {
      double v = axis_tick_at(t.labelFirst, t.labelStep, k);
      if (!(v < limit)) break;
      if (std::fabs(v / t.labelStep) < 0.01) v = 0;
      char buf[kTickLabelBytes];
      const std::string text(buf, size_t(axis_label_text(v, buf)));
      const double d = v / fac;
      double x = 0;
      subplot_data_to_pixel(&s, &d, nullptr, nullptr, 1, &x, nullptr, nullptr);
      if (k && std::fabs(x - prev_x) < (double(prev_n + text.size()) / 2 + 0.5) * cw) out.apart = false;
      out.labels.push_back(text);
      prev_x = x, prev_n = text.size();
    }
    return out;
  }
  // Each label drawn where its own value lies, within rounding of the log;
  // the values of the labels in drawing order (read through a note on y).
  std::string placed(const std::vector<tickmodel::Text>& t, bool x_axis, const std::vector<std::string>& values) {
    const uint32_t align = x_axis ? kAlignBelow : kAlignRight;
    const double f = s.scaleFactor[x_axis ? 0 : 1];
    size_t k = 0;
    for (const tickmodel::Text& l : t) {
      if (l.align != align || k >= values.size()) continue;
      const double v = std::strtod(values[k++].c_str(), nullptr) / f;
      double p = 0;
      if (x_axis)
        subplot_data_to_pixel(&s, &v, nullptr, nullptr, 1, &p, nullptr, nullptr);
      else
        subplot_data_to_pixel(&s, nullptr, &v, nullptr, 1, nullptr, &p, nullptr);
      if (std::fabs(p - (x_axis ? l.x : l.y)) > 0.01) return "label \"" + l.text + "\" is not drawn at its value";
    }
    return "";
  }
};

TEST(TickLabels, LinearAxesOverRandomRanges) {
  Sweep r;
  Flat f;
  int exact = 0, wide = 0, kept = 0, noted = 0;
  for (int k = 0; k < 2000; ++k) {
    f.set(r.uniform(150, 1200), r.uniform(120, 900));
    const Range x = r.linear(), y = r.linear();
    f.s.xMin = x.lo, f.s.xMax = x.hi, f.s.yMin = y.lo, f.s.yMax = y.hi;
    f.s.scaleFactor[0] = r.factor(), f.s.scaleFactor[1] = r.factor();
    const std::vector<tickmodel::Text> t = f.draw();
    for (int axis = 0; axis < 2; ++axis) {
      // The subplot widens a range that is no range at all: its own counts.
      Range g;
      if (axis == 0)
        subplot_visible_xrange(&f.s, &g.lo, &g.hi);
      else
        subplot_visible_yrange(&f.s, &g.lo, &g.hi);
      const double fac = f.s.scaleFactor[axis];
      // y labels that do not fit the margin stand for values through a note.
      std::vector<std::string> labels = tickmodel::with_align(t, axis == 0 ? kAlignBelow : kAlignRight);
      bool note = false;
      std::string why = axis == 0 ? "" : tickmodel::y_values(t, &labels, &note);
      if (why.empty() && axis == 1) why = tickmodel::check_in_margin(t, f.s.rectLeft, recdrv::kCharWidth, 0);
      if (why.empty() && axis == 1) why = tickmodel::check_note_apart(t, recdrv::kCharWidth, recdrv::kCharHeight);
      noted += note;
      const bool strict = resolvable(g.lo, g.hi);
      if (why.empty())
        why = strict ? tickmodel::check_linear(labels) : check_loose(labels, g.lo * fac, g.hi * fac, !note);
      if (why.empty() && strict) why = f.placed(t, axis == 0, labels);
      if (why.empty()) why = apart(t, axis == 0 ? kAlignBelow : kAlignRight);
      wide += axis == 0 && longest(labels) > kSpacingChars;
      if (why.empty() && axis == 0) {
        const Spaced before = f.spaced_x();
        kept += before.apart;
        if (before.apart && labels != before.labels) why = "labels that kept apart were changed from " + show(before.labels);
      }
      exact += strict && labels.size() > 1;
      ASSERT_EQ(why, "") << (axis ? "y " : "x ") << g.lo << " .. " << g.hi << " factor " << fac << ": "
                         << show(labels);
    }
  }
  EXPECT_GT(exact, 2000) << exact;  // the model's check ran, not only the loose one
  EXPECT_GT(wide, 200) << wide;     // labels longer than the spacing foresees were met
  EXPECT_GT(kept, 1000) << kept;
  EXPECT_GT(noted, 200) << noted;  // y labels too wide for the margin were met
}

TEST(TickLabels, DecibelAxesOverRandomRanges) {
  Sweep r;
  Flat f;
  for (int k = 0; k < 500; ++k) {
    f.set(r.uniform(150, 1200), r.uniform(120, 900));
    const double lo = std::pow(10, r.uniform(-12, 10));
    f.s.xMin = 0, f.s.xMax = 1, f.s.yMin = lo, f.s.yMax = lo * std::pow(10, r.uniform(0.001, 12));
    f.s.scaleFlags = kScaleDbY;
    const std::vector<tickmodel::Text> t = f.draw();
    const std::vector<std::string> labels = tickmodel::with_align(t, kAlignRight);
    std::string why = tickmodel::check_linear(labels);
    if (why.empty()) why = apart(t, kAlignRight);
    ASSERT_EQ(why, "") << f.s.yMin << " .. " << f.s.yMax << ": " << show(labels);
  }
}

// Log labels are a factor of the label table times a power of ten: at most
// two significant digits, increasing.
TEST(TickLabels, LogAxesOverRandomRanges) {
  Sweep r;
  Flat f;
  int wide = 0;
  for (int k = 0; k < 1000; ++k) {
    f.set(r.uniform(150, 1200), r.uniform(120, 900));
    const double lo = std::pow(10, r.uniform(-12, 11));
    const double hi = lo * std::pow(10, r.uniform(0.02, 24));
    f.s.xMin = lo, f.s.xMax = hi, f.s.yMin = lo, f.s.yMax = hi * 3;
    f.s.scaleFlags = kScaleLogX | kScaleLogY;
    const std::vector<tickmodel::Text> t = f.draw();
    for (uint32_t align : {kAlignBelow, kAlignRight}) {
      const std::vector<std::string> labels = tickmodel::with_align(t, align);
      std::vector<tickmodel::Decimal> v;
      // y labels too wide for the margin take the exponent form.
      std::string why = align == kAlignBelow
                            ? tickmodel::check_compact(labels, &v)
                            : tickmodel::check_log_labels(labels, size_t(kYLabelRoom / recdrv::kCharWidth), &v);
      if (why.empty()) why = tickmodel::check_in_margin(t, f.s.rectLeft, recdrv::kCharWidth, 0);
      for (size_t i = 0; why.empty() && i < v.size(); ++i) {
        if (v[i].digits.size() > 2 || v[i].negative) why = "label \"" + labels[i] + "\" is no table factor";
        if (i && !(std::strtod(labels[i].c_str(), nullptr) > std::strtod(labels[i - 1].c_str(), nullptr)))
          why = "labels do not increase at \"" + labels[i] + "\"";
      }
      if (why.empty()) why = apart(t, align);
      wide += align == kAlignBelow && longest(labels) > kSpacingChars;
      ASSERT_EQ(why, "") << lo << " .. " << hi << ": " << show(labels);
    }
  }
  EXPECT_GT(wide, 100) << wide;
}

TEST(TickLabels, PolarLabelsOverRandomRanges) {
  Sweep r;
  Flat f;
  int drawn = 0;
  for (int k = 0; k < 1000; ++k) {
    f.set(r.uniform(150, 1200), r.uniform(120, 900));
    const double m = std::pow(10, r.uniform(-7, 12));
    f.s.xMin = -m * r.uniform(0.1, 2), f.s.xMax = m * r.uniform(0.1, 2);
    f.s.yMin = -m * r.uniform(0.1, 2), f.s.yMax = m * r.uniform(0.1, 2);
    f.s.scaleFactor[0] = f.s.scaleFactor[1] = r.factor();
    f.s.polar = 1;
    const std::vector<tickmodel::Text> t = f.draw();
    // One axis is labelled: x from the origin outward, or y (through a
    // note when its labels are too wide for the margin).
    std::vector<std::string> labels = tickmodel::with_align(t, kAlignBelow);
    std::string why;
    if (labels.empty()) why = tickmodel::y_values(t, &labels);
    if (why.empty()) why = tickmodel::check_in_margin(t, f.s.rectLeft, recdrv::kCharWidth, 0);
    drawn += !labels.empty();
    if (why.empty()) why = tickmodel::check_linear(labels);
    if (why.empty()) why = tickmodel::check_apart(t, recdrv::kCharWidth, recdrv::kCharHeight);
    ASSERT_EQ(why, "") << "radius " << m << ": " << show(labels);
  }
  EXPECT_GT(drawn, 500) << drawn;
}

// Each axis of the box alone, so that its labels are told apart.
TEST(TickLabels, BoxAxesOverRandomRanges) {
  Sweep r;
  recdrv::Recorder rec;
  int exact = 0;
  for (int k = 0; k < 1000; ++k) {
    Subplot s = box3_subplot(r.uniform(0, 1) < 0.7 ? 1 : 0);
    Range g[3];
    for (Range& a : g) a = r.linear();
    s.xMin = g[0].lo, s.xMax = g[0].hi, s.yMin = g[1].lo, s.yMax = g[1].hi, s.zMin = g[2].lo, s.zMax = g[2].hi;
    for (double& f : s.scaleFactor) f = r.factor();
    subplot_update_transform(&s);
    for (int i = 0; i < 3; ++i) {
      s.optionFlags = kOptFrame | (0x8u << (4 * i));
      render_box3d_labels(&s, &kStyle, &kStyle, &rec.table, &rec.context);
      const std::vector<tickmodel::Text> t = tickmodel::texts(rec.take());
      std::vector<std::string> labels;
      for (const tickmodel::Text& l : t) labels.push_back(l.text);
      const double f = s.scaleFactor[i];
      const bool strict = resolvable(g[i].lo, g[i].hi);
      exact += strict && labels.size() > 1;
      std::string why = strict ? tickmodel::check_linear(labels) : check_loose(labels, g[i].lo * f, g[i].hi * f);
      if (why.empty()) why = tickmodel::check_apart(t, s.charWidth, s.lineHeight);
      ASSERT_EQ(why, "") << "axis " << i << " " << g[i].lo << " .. " << g[i].hi << " factor " << f << ": "
                         << show(labels);
    }
  }
  EXPECT_GT(exact, 1000) << exact;
}

// The model itself, on texts the sweep should tell apart.
TEST(TickLabels, ModelTellsNoiseFromMultiples) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"0.2", "0.1", "0", "-0.1"}, false},  // decreasing
      {{"-0.1", "0", "0.1", "0.2"}, true},
      {{"0", "1e-1", "0.2"}, false},
      {{"-1e-1", "0", "0.1"}, false},
      {{"0.1", "0.2", "0.30000000000000004"}, false},
      {{"-0", "1"}, false},
      {{"1.2e-17", "0.1"}, false},
      {{"0.05", "0.1"}, false},  // compact form of 0.05 is 5e-2
      {{"5e-2", "0.1", "0.15"}, true},
      {{"2.5e-5", "3e-5", "3.5e-5", "4e-5"}, true},
      {{"1000", "2000", "3000"}, true},
      {{"1e3"}, false},
      {{"1999999999", "2e9", "2.000000001e9"}, true},
      {{"0.3", "0.6"}, false},  // step 3
      {{"0.5", "1", "1.5"}, true},
      {{"0.25", "0.75"}, false},  // step 0.5, of which 0.25 is no multiple
  };
  for (const auto& [labels, ok] : cases) EXPECT_EQ(tickmodel::check_linear(labels).empty(), ok) << show(labels);
}

}  // namespace
