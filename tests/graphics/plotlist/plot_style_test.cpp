// Plot styles: one table of texts through counting, parsing alternative n and
// the plot commands' entry, plus a randomised check that counting and
// parsing agree on where alternatives begin.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "graphics/plotlist/plot_style.h"

namespace {

struct Case {
  const char* text;
  int32_t n;          // element asked for through plotstyle_get_nth
  uint32_t defaults;  // default bits
  int status;         // of get_nth
  int32_t count;      // alternatives counted (-1: counting fails)
  uint32_t bits;
  uint8_t r, g, b;
};

constexpr int kBad = kUnknownStyle;

const Case kCases[] = {
    {"", 0, 8, 0, 1, 8, 0, 0, 0},
    {",r", 0, 8, kBad, -1, 0, 0, 0, 0},
    {"r,", 0, 8, 0, 1, 4, 255, 0, 0},
    {"r,,g", 1, 8, 0, 2, 2, 0, 255, 0},
    {"rgb", 4, 8, 0, 3, 2, 0, 255, 0},
    {"r-", 0, 8, 0, 1, 0x44, 255, 0, 0},
    {"R", 0, 8, 0, 1, 0x14, 255, 0, 0},
    {"-f", 0, 8, 0, 2, 0x40, 0, 0, 0},  // a second non-colour character opens the next alternative
    {"-f", 1, 8, 0, 2, 0x20, 0, 0, 0},
    {"f-", 0, 8, 0, 2, 0x20, 0, 0, 0},
    {"Rf", 0, 8, 0, 1, 0x34, 255, 0, 0},
    {"fR", 0, 8, 0, 1, 0x14, 255, 0, 0},
    {"h(f80)", 0, 8, 0, 1, 0, 255, 136, 0},
    {"h(FF8800)", 0, 8, 0, 1, 0, 255, 136, 0},
    {"h(FF8000)", 0, 8, 0, 1, 0, 255, 128, 0},
    {"H(012)", 0, 8, 0, 1, 0x10, 0, 17, 34},
    {"h(f8)", 0, 8, kBad, -1, 0, 0, 0, 0},
    {"h(f80", 0, 8, kBad, -1, 0, 0, 0, 0},
    {"h(g80)", 0, 8, kBad, -1, 0, 0, 0, 0},
    {"r,h(g80)", 0, 8, kBad, -1, 0, 0, 0, 0},  // every 'h' is checked while counting
    {"q", 0, 8, kBad, 1, 0, 0, 0, 0},          // counted, then refused
    {"r-g:", 1, 8, 0, 2, 0x82, 0, 255, 0},
    {"r-:", 1, 8, 0, 2, 0x80, 0, 0, 0},
    {"-r", 0, 8, 0, 1, 0x44, 255, 0, 0},
    {"a", 0, 8, 0, 1, 0x2000, 0, 0, 0},
    {"A", 0, 8, 0, 1, 0x3000, 0, 0, 0},
    {"s", 0, 0x18, 0, 1, 0x810, 0, 0, 0},  // the thick bit of the preset survives
    {"b", 0, 0x10, 0, 1, 0x11, 0, 0, 255},
    {"ko", 0, 8, 0, 1, 0x1c0, 0, 0, 0},
    {"w<", 0, 8, 0, 1, 0x387, 255, 255, 255},
    {" ", 0, 8, 0, 1, 0x140, 0, 0, 0},
    {"z", 0, 8, kBad, 1, 0, 0, 0, 0},  // beyond 'y'
    {"r,g,b", 5, 8, 0, 3, 1, 0, 0, 255},
};

TEST(PlotStyle, TableOfTexts) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const int32_t len = int32_t(std::char_traits<char>::length(c.text));
    int32_t count = -7;
    const int counted = plotstyle_count(c.text, len, &count);
    if (c.count < 0) {
      EXPECT_EQ(counted, kBad);
    } else {
      EXPECT_EQ(counted, 0);
      EXPECT_EQ(count, c.count);
    }
    StyleSpec s{};
    EXPECT_EQ(plotstyle_get_nth(c.text, len, c.n, c.defaults, nullptr, &s), c.status);
    if (c.status != 0) continue;
    EXPECT_EQ(s.bits, c.bits);
    EXPECT_EQ(s.r, c.r);
    EXPECT_EQ(s.g, c.g);
    EXPECT_EQ(s.b, c.b);
  }
}

TEST(PlotStyle, DefaultColourAndPalette) {
  const uint8_t grey[3] = {10, 20, 30};
  StyleSpec s{};
  ASSERT_EQ(plotstyle_get_nth("", 0, 0, 8, grey, &s), 0);
  EXPECT_EQ(s.bits, 8u);
  EXPECT_EQ(s.g, 20);
  ASSERT_EQ(plotstyle_get_nth("-", 1, 0, 8, grey, &s), 0);  // kind only: the default colour stays
  EXPECT_EQ(s.bits, 0x40u);
  EXPECT_EQ(s.b, 30);
  const uint8_t palette[8][3] = {{0, 0, 0},     {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
                                 {255, 0, 0},   {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};
  for (uint32_t i = 1; i < 8; ++i) {
    StyleSpec p{i, 9, 9, 9};
    style_palette_colour(&p);
    EXPECT_EQ(p.r, palette[i][0]);
    EXPECT_EQ(p.g, palette[i][1]);
    EXPECT_EQ(p.b, palette[i][2]);
  }
  StyleSpec k{0, 9, 9, 9};
  style_palette_colour(&k);
  EXPECT_EQ(k.r, 9);
}

// A small model of the division into alternatives, for random texts: each
// alternative is at most one colour and one other character.
int32_t model_count(const std::string& t) {
  auto colour = [](char ch) { return std::string("kbgcrmywKBGCRMYWhH").find(ch) != std::string::npos; };
  int32_t c = 0;
  bool inside = false, cls = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == ',') {
      inside = false;
      continue;
    }
    if (!inside) {
      if (i) ++c;
      cls = colour(t[i]);
      inside = true;
    } else if (colour(t[i]) == cls) {
      ++c;
    } else {
      inside = false;
    }
  }
  return c + 1;
}

TEST(PlotStyle, RandomTextsCountLikeTheModelAndEveryAlternativeParses) {
  const std::string alphabet = "rgbkwRGB-:!.ox+*^v[<fsaA_, n";
  std::mt19937 rng(20);
  for (int k = 0; k < 2000; ++k) {
    std::string t;
    const int len = 1 + int(rng() % 8);
    for (int i = 0; i < len; ++i) t += alphabet[rng() % alphabet.size()];
    SCOPED_TRACE(t);
    int32_t count = 0;
    if (t[0] == ',') {
      EXPECT_EQ(plotstyle_count(t.data(), len, &count), kBad);
      continue;
    }
    ASSERT_EQ(plotstyle_count(t.data(), len, &count), 0);
    EXPECT_EQ(count, model_count(t));
    for (int32_t n = 0; n < count; ++n) {
      StyleSpec s{8, 0, 0, 0};
      EXPECT_EQ(plotstyle_parse(t.data(), len, n, nullptr, &s), 0);
      EXPECT_EQ(s.bits & 0xffff0000u, 0u);
    }
  }
}

}  // namespace
