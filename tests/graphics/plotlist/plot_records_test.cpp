// Display-list records: the opening record at the edge of the capacity, the
// writer's room check for whole records, and the bounded reader over lists
// that do not add up (counts beyond the record or the list, non-numbers).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "graphics/plotlist/colour_map.h"
#include "graphics/plotlist/plot_records.h"

namespace {

TEST(PlotRecords, OpeningRecordNeedsSevenFreeDoubles) {
  for (int32_t free_room = 0; free_room <= 8; ++free_room) {
    std::vector<double> data(20, -5.0);
    int32_t used = 3;
    const bool ok = plotlist_open_object(data.data(), used + free_room, &used, 4);
    EXPECT_EQ(ok, free_room >= kOpenObjectLength) << free_room;
    if (!ok) {
      EXPECT_EQ(used, 3);
      EXPECT_EQ(data[3], -5.0);  // nothing written
      continue;
    }
    EXPECT_EQ(used, 10);
    const std::vector<double> want = {69, -1, -1, 0, 0, 1, 4};
    EXPECT_EQ(std::vector<double>(data.begin() + 3, data.begin() + 10), want);
  }
}

TEST(PlotRecords, WriterRefusesAWholeRecordBeforeWritingIt) {
  std::vector<double> data(17, 0.0);
  PlotWriter w{data.data(), 17, 0};
  const StyleSpec style{0x44, 1, 2, 3};
  ASSERT_EQ(plotwriter_begin_record(&w, kCodePolyline, 7, 1, &style, 5), 0);
  for (int i = 0; i < 5; ++i) plotwriter_put(&w, i);
  EXPECT_EQ(w.used, 11);
  EXPECT_EQ(data[4], double((1 << 16) | (2 << 8) | 3));
  EXPECT_EQ(plotwriter_begin_record(&w, kCodePolyline, 7, 1, &style, 0), 0);  // exactly 6 more
  EXPECT_EQ(plotwriter_begin_record(&w, kCodePolyline, 7, 1, &style, 0), kPlotOverflow);
  EXPECT_EQ(plotwriter_reserve(&w, -1), kPlotOverflow);
  EXPECT_EQ(w.used, 17);
}

TEST(PlotRecords, TextsArePackedEightBytesADouble) {
  std::vector<double> data(4, 0.0);
  PlotWriter w{data.data(), 4, 0};
  const char text[] = "nine byte";
  ASSERT_EQ(plotwriter_text_doubles(9), 2);
  plotwriter_put_text(&w, text, 9);
  EXPECT_EQ(w.used, 2);
  const char* back = reinterpret_cast<const char*>(data.data());
  EXPECT_EQ(std::string(back, 9), "nine byte");
  EXPECT_EQ(back[9], 0);
}

std::vector<int32_t> walk(const std::vector<double>& list) {
  PlotReader r;
  plotreader_init(&r, list.data(), int32_t(list.size()), 0);
  PlotRecord rec;
  std::vector<int32_t> codes;
  while (plotreader_next(&r, &rec)) codes.push_back(rec.code_int);
  return codes;
}

TEST(PlotRecords, ReaderStepsOverUnknownCodesAndStopsAtDamage) {
  const double nan = std::nan("");
  struct Case {
    std::vector<double> list;
    std::vector<int32_t> codes;
  } cases[] = {
      {{69, -1, -1, 0, 0, 1, 0, 99, 0, 0, 0, 0, 2, 1, 2, 1, 0, 0, 0, 0, 0}, {69, 99, 1}},
      {{3.5, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, {-1, 1}},    // a fractional code names nothing
      {{1, 0, 0, 0, 0, 7, 1, 2}, {}},                       // count beyond the list
      {{1, 0, 0, 0, 0, nan, 1, 2}, {}},                     // count not a number
      {{1, 0, 0, 0, 0, -1, 1, 2}, {}},                      // negative count
      {{1, 0, 0, 0, 0, 2.5, 1, 2, 9, 9, 9, 9}, {1}},        // truncated count
      {{1, 0, 0, 0, 0}, {}},                                // header cut short
      {{1, 0, 0, 0, 0, 1e300, 1}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(walk(c.list), c.codes);
}

TEST(PlotRecords, CountsAreBoundedByTheRecord) {
  const std::vector<double> list = {1, 0, 0, 0, 0, 3, 2, 9, 9};
  PlotReader r;
  plotreader_init(&r, list.data(), 9, 0);
  PlotRecord rec;
  ASSERT_TRUE(plotreader_next(&r, &rec));
  int32_t m;
  EXPECT_TRUE(record_count(rec, 0, 2, &m));
  EXPECT_EQ(m, 2);
  EXPECT_FALSE(record_count(rec, 0, 1, &m));
  EXPECT_FALSE(record_count(rec, 3, 100, &m));  // beyond the data
  EXPECT_FALSE(double_to_count(-0.5, 10, &m));
  EXPECT_FALSE(double_to_count(INFINITY, 10, &m));
  EXPECT_FALSE(double_to_count(3e9, INT32_MAX, &m));
}

TEST(ColourMap, EntriesGreyAndClamping) {
  const double r[4] = {0, 0.25, 0.5, 1}, g[4] = {1, 1, -3, 7}, b[4] = {0, 0, NAN, 1};
  struct Case {
    int32_t m;
    double v;
    uint8_t want[3];
  } cases[] = {
      {4, 0.5, {127, 0, 0}},  {4, 1.0, {255, 255, 255}}, {4, -0.1, {0, 255, 0}}, {4, NAN, {0, 255, 0}},
      {4, 0.3, {63, 255, 0}}, {4, 1e300, {255, 255, 255}},
      {0, 0.5, {127, 127, 127}}, {0, 1.0, {255, 255, 255}}, {0, 0.0, {0, 0, 0}}, {0, NAN, {0, 0, 0}},
      {0, 200.0 / 255, {200, 200, 200}},
  };
  for (const Case& c : cases) {
    uint8_t out[3];
    colormap_index(r, g, b, c.m, c.v, out);
    EXPECT_EQ(out[0], c.want[0]) << c.m << " " << c.v;
    EXPECT_EQ(out[1], c.want[1]) << c.m << " " << c.v;
    EXPECT_EQ(out[2], c.want[2]) << c.m << " " << c.v;
  }
}

}  // namespace
