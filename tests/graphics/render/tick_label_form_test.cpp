// Label forms of a y axis, against the exact decimal model of
// tests/support: decimals written as the model writes them, and over random
// runs of labels every chosen form fits its rooms and reads back, through
// its note, the very values it was given. A few forms are pinned as a user
// reads them.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "graphics/render/tick_label_form.h"
#include "support/tick_label_model.h"

namespace {

constexpr double kCharWidth = 7.0;

// Every byte one character width, as the recording driver measures.
double count_width(const char*, int32_t n, void*) { return n * kCharWidth; }

std::string decimal(int64_t n, int32_t exp, int32_t low = kLabelFixedLow, int32_t high = kLabelFixedHigh) {
  char buf[kTickDecimalBytes];
  return std::string(buf, size_t(tick_decimal_text(n, exp, low, high, buf)));
}

std::string label(const TickLabelForm& f, int64_t n) {
  char buf[kTickDecimalBytes];
  return std::string(buf, size_t(tick_label_form_text(f, n, buf)));
}

TEST(TickLabelForm, DecimalsAreTheModelsCompactForms) {
  std::mt19937_64 rng(7);
  for (int k = 0; k < 20000; ++k) {
    const int64_t n = int64_t(rng() % 2000000000000000000ull) - 1000000000000000000ll;
    const int64_t m = n / int64_t(std::pow(10.0, double(rng() % 18)));
    const int32_t exp = int32_t(rng() % 41) - 20;
    const tickmodel::Decimal d = tickmodel::from_scaled(m, exp);
    ASSERT_EQ(decimal(m, exp), tickmodel::compact(d)) << m << "e" << exp;
  }
  EXPECT_EQ(decimal(0, 5), "0");
  EXPECT_EQ(decimal(25, -6), "2.5e-5");
  EXPECT_EQ(decimal(1999999999, 0), "1999999999");
  EXPECT_EQ(decimal(2, 9), "2e9");
  // The exponent form throughout, and a narrower fixed band.
  EXPECT_EQ(decimal(10000, 0, 1, -1), "1e4");
  EXPECT_EQ(decimal(-15, -1, 1, -1), "-1.5e0");
}

TEST(TickLabelForm, ShortestDecimalsReadBack) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> e(-300, 300);
  for (int k = 0; k < 20000; ++k) {
    const double v = (k % 2 ? -1 : 1) * std::pow(10.0, e(rng));
    int64_t n = 0;
    int32_t exp = 0;
    ASSERT_TRUE(tick_decimal_of(v, &n, &exp)) << v;
    EXPECT_EQ(std::stod(decimal(n, exp, 1, -1)), v);
  }
  int64_t n = 0;
  int32_t exp = 0;
  EXPECT_FALSE(tick_decimal_of(0.0, &n, &exp));
  EXPECT_FALSE(tick_decimal_of(std::nan(""), &n, &exp));
  EXPECT_TRUE(tick_decimal_of(0.1, &n, &exp));
  EXPECT_EQ(n, 1);
  EXPECT_EQ(exp, -1);
}

// Runs of labels first + k step (units of 10^exp), around values near and
// far from zero, in rooms of two to six characters: a chosen form fits,
// and through its note each label reads its own value exactly.
TEST(TickLabelForm, ChosenFormsFitAndReadBackTheirValues) {
  std::mt19937_64 rng(3);
  int chosen = 0, offsets = 0;
  for (int k = 0; k < 20000; ++k) {
    const int64_t steps[] = {1, 2, 5, 10, 20, 25, 50};
    const int64_t step = steps[rng() % 7];
    const int32_t digits = int32_t(rng() % 16);
    int64_t first = int64_t(rng() % 1000000000000000ull) / int64_t(std::pow(10.0, 15 - digits));
    if (rng() % 3 == 0) first = -first;
    first -= first % step;
    const int32_t count = 2 + int32_t(rng() % 12), exp = int32_t(rng() % 31) - 15;
    std::vector<int64_t> n;
    for (int32_t i = 0; i < count; ++i) n.push_back(first + i * step);
    const double room = kCharWidth * double(2 + rng() % 5), note_room = kCharWidth * double(4 + rng() % 30);
    TickLabelForm f;
    if (!tick_label_form_choose(n.data(), count, exp, room, note_room, count_width, nullptr, &f)) continue;
    ++chosen;
    offsets += f.offset != 0;
    const std::string note(f.note, size_t(f.note_length));
    SCOPED_TRACE("note \"" + note + "\"");
    ASSERT_LE(f.note_length * kCharWidth, note_room);
    tickmodel::Note parsed;
    ASSERT_TRUE(tickmodel::parse_note(note, &parsed));
    for (int64_t v : n) {
      const std::string l = label(f, v);
      ASSERT_LE(l.size() * kCharWidth, room) << l;
      tickmodel::Decimal d, value;
      ASSERT_TRUE(tickmodel::parse(l, &d)) << l;
      ASSERT_EQ(tickmodel::compact(d), l);
      ASSERT_TRUE(tickmodel::apply_note(d, parsed, &value));
      ASSERT_EQ(tickmodel::compact(value), tickmodel::compact(tickmodel::from_scaled(v, exp))) << l;
    }
  }
  EXPECT_GT(chosen, 5000) << chosen;
  EXPECT_GT(offsets, 1000) << offsets;
}

TEST(TickLabelForm, FormsAsAUserReadsThem) {
  struct Case {
    std::vector<int64_t> n;
    int32_t exp;
    const char* note;
    const char* labels;
  } cases[] = {
      // Around 987654.3218 in steps of 2e-4: an offset and a factor.
      {{9876543218, 9876543220, 9876543222, 9876543238}, -4, "\xC3\x97" "1e-3 +987654.32", "1.8 2 2.2 3.8"},
      // A flat line at 7 a millionth wide.
      {{70000000, 70000002, 70000010}, -7, "\xC3\x97" "1e-6 +7", "0 0.2 1"},
      // Millions from 0: a factor alone, a power of a thousand.
      {{0, 2, 4, 30}, 5, "\xC3\x97" "1e6", "0 0.2 0.4 3"},
      // Below zero: the offset keeps its sign.
      {{-12345683, -12345682, -12345678}, -2, "\xC3\x97" "1e-2 -123456.8", "-3 -2 2"},
      // Across a round number: the offset is that number.
      {{99999998, 100000000, 100000002}, -2, "\xC3\x97" "1e-2 +1000000", "-2 0 2"},
  };
  for (const Case& c : cases) {
    TickLabelForm f;
    ASSERT_TRUE(tick_label_form_choose(c.n.data(), int32_t(c.n.size()), c.exp, 3 * kCharWidth, 30 * kCharWidth,
                                       count_width, nullptr, &f))
        << c.note;
    EXPECT_EQ(std::string(f.note, size_t(f.note_length)), c.note);
    std::string labels;
    for (int64_t v : c.n) labels += (labels.empty() ? "" : " ") + label(f, v);
    EXPECT_EQ(labels, c.labels) << c.note;
  }
  // No room for the note, or none for any label: no form.
  const int64_t n[] = {9876543218, 9876543238};
  TickLabelForm f;
  EXPECT_FALSE(tick_label_form_choose(n, 2, -4, 3 * kCharWidth, 5 * kCharWidth, count_width, nullptr, &f));
  EXPECT_FALSE(tick_label_form_choose(n, 2, -4, 0.5 * kCharWidth, 30 * kCharWidth, count_width, nullptr, &f));
}

}  // namespace
