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

std::string source_for(int64_t n) {
  return "function big_plot()\n  plot(1:" + std::to_string(n) + ", sin((1:" + std::to_string(n) +
         ") / 1e3), 'b');\nendfunction\n";
}
constexpr char kDescription[] = "instance demo\nfigure \"Big\"\nplot big_plot()\n";

// Points that reached the driver in polylines of the curve's style: the
// pieces of one run share their joining point, counted once.
int64_t curve_points(const std::string& log) {
  int64_t points = 0, pieces = 0;
  for (size_t at = 0; (at = log.find("polyline ", at)) != std::string::npos; ++at) {
    const size_t end = log.find('\n', at);
    const std::string line = log.substr(at, end - at);
    if (line.find("style=0x1/0,0,255") == std::string::npos) continue;
    points += std::stoll(line.substr(9));
    ++pieces;
  }
  return pieces > 0 ? points - (pieces - 1) : 0;
}

struct LargePlot : apptest::App {
  recdrv::Recorder rec;
  void open(int64_t n, uint32_t limit) {
    ASSERT_NO_FATAL_FAILURE(build(kDescription, source_for(n), 8290304, limit));
    rt_set_graphics_driver(host.block, &rec.table);
    rt_set_graphics_context(host.block, &rec.context);
    ASSERT_EQ(figure_layout_subplots(h(), 0, 0, kWidth, 0, kHeight), 0);
  }
};

TEST_F(LargePlot, CurvesBeyondTheFirstStoreGrowTheBlockAndDrawWhole) {
  // From a 2 MB block: a curve that fits with room to spare, one whose list
  // fits but leaves the store less than its own size free, one that fills
  // the first store, and ones that need the block grown several times.
  for (int64_t n : {1000, 60000, 100000, 150000, 400000}) {
    SCOPED_TRACE(n);
    ASSERT_NO_FATAL_FAILURE(open(n, 256u << 20));
    ASSERT_EQ(inst_refresh(h(), 0), 0) << host.take_output();
    int32_t pos = 0, length = 0;
    ASSERT_TRUE(plotstore_find(rt_plot_store(host.block), 0, &pos, &length));
    EXPECT_EQ(length, 2 * (kRecHead + 1) + 2 * n);  // the opening record and the curve
    rec.take();
    figure_draw(host.block, 0);
    EXPECT_EQ(curve_points(rec.take()), n);
    std::free(host.block);
    host.block = nullptr;
  }
}

TEST_F(LargePlot, ACurveBeyondTheHostsLimitIsAnError) {
  ASSERT_NO_FATAL_FAILURE(open(400000, 16u << 20));
  EXPECT_EQ(inst_refresh(h(), 0), kRtPlotOverflow);
  EXPECT_NE(host.take_output().find("Not enough memory for plot"), std::string::npos);
}

}  // namespace
