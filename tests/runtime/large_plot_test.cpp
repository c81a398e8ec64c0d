// Curves larger than the plot store at the start: the handler's plot
// overflows the list being built, the block grows and the handler runs
// again into the larger list, and every point of the curve reaches the
// driver, whatever room the store has left over for the drawing.
#include <gtest/gtest.h>

#include <string>

#include "graphics/plotlist/plot_records.h"
#include "runtime/app_fixture.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "support/recording_driver.h"

namespace {

constexpr double kWidth = 400, kHeight = 300;
constexpr uint32_t kFirstBlock = 8290304;  // the program's block at start-up (its smallest MemMin)

std::string source_for(int64_t n) {
  return "function big_plot()\n  plot(1:" + std::to_string(n) + ", sin((1:" + std::to_string(n) +
         ") / 1e3), 'b');\nendfunction\n";
}
constexpr char kDescription[] = "instance demo\nfigure \"Big\"\nplot big_plot()\n";

// Points that reached the driver in polylines of the curve's colour (blue):
// the pieces of one run share their joining point, counted once.
struct CurveCount {
  int64_t points = 0, pieces = 0;
  int64_t total() const { return pieces > 0 ? points - (pieces - 1) : 0; }
  static CurveCount& now() {
    static CurveCount c;
    return c;
  }
  static void draw(const double*, const double*, int32_t n, const StyleSpec* s, GraphicsDriverContext*) {
    if (s->r == 0 && s->g == 0 && s->b == 255) now().points += n, ++now().pieces;
  }
};

struct LargePlot : apptest::App {
  recdrv::Recorder rec;
  GraphicsDriver driver{};
  void open(int64_t n, uint32_t limit) {
    ASSERT_NO_FATAL_FAILURE(build(kDescription, source_for(n), kFirstBlock, limit));
    driver = rec.table;
    driver.draw_polyline = CurveCount::draw;
    rt_set_graphics_driver(host.block, &driver);
    rt_set_graphics_context(host.block, &rec.context);
    ASSERT_EQ(figure_layout_subplots(h(), 0, 0, kWidth, 0, kHeight), 0);
  }
};

TEST_F(LargePlot, CurvesBeyondTheFirstStoreGrowTheBlockAndDrawWhole) {
  // From the program's first block: curves that fit with room to spare,
  // ones whose list fits but leaves the store less than their pixels need
  // free, and one that needs the block grown several times.
  for (int64_t n : {1000, 60000, 100000, 150000, 400000}) {
    SCOPED_TRACE(n);
    ASSERT_NO_FATAL_FAILURE(open(n, 256u << 20));
    ASSERT_EQ(inst_refresh(h(), 0), 0) << host.take_output();
    int32_t pos = 0, length = 0;
    ASSERT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &pos, &length));
    EXPECT_EQ(length, 2 * (kRecHead + 1) + 2 * n);  // the opening record and the curve
    CurveCount::now() = CurveCount{};
    figure_draw(host.block, 0);
    EXPECT_EQ(CurveCount::now().total(), n);
    std::free(host.block);
    host.block = nullptr;
  }
}

TEST_F(LargePlot, ACurveBeyondTheHostsLimitIsAnError) {
  ASSERT_NO_FATAL_FAILURE(open(400000, 16u << 20));
  EXPECT_EQ(inst_refresh(h(), 0), kRtPlotOverflow);
  EXPECT_NE(host.take_output().find("Not enough memory for plot"), std::string::npos);
}

// A figure command text whose second plot overflows runs again in the
// grown block from the list as it was before it: each curve is there once.
TEST_F(LargePlot, AFigureTextRunAgainAfterGrowthDrawsEachCurveOnce) {
  ASSERT_NO_FATAL_FAILURE(build("instance demo\ncommands \"plot([1 2 3]); plot(1:200000);\"\n", ""));
  ASSERT_EQ(inst_find_by_id(host.block, 0)->figure_only, 1);
  ASSERT_EQ(inst_refresh(h(), 0), 0) << host.take_output();
  EXPECT_GT(host.moves, 0);
  int32_t pos = 0, length = 0;
  ASSERT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &pos, &length));
  EXPECT_EQ(length, kOpenObjectLength + (kRecHead + 1 + 2 * 3) + (kRecHead + 1 + 2 * 200000));
}

}  // namespace
