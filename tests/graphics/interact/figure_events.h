// A built application laid out in a 400 x 300 view with the recording
// driver installed and its figure drawn once: where scripted mouse and key
// events run the real handler call. Positions are given in data
// coordinates of a subplot and turned into view pixels here.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/value_stack.h"
#include "graphics/interact/interaction.h"
#include "runtime/app_fixture.h"
#include "runtime/figure_draw.h"
#include "runtime/layout.h"
#include "support/recording_driver.h"

namespace figtest {

// A clock the test moves: each slot holds its start.
inline double g_now = 0;
inline double stepped_clock(void* slot, int, int reset) {
  double* start = static_cast<double*>(slot);
  const double elapsed = g_now - *start;
  if (reset) *start = g_now;
  return elapsed;
}

struct Figure : apptest::App {
  recdrv::Recorder rec;
  double slots[8] = {};

  // Builds, lays out a rows x cols grid in the view and draws the figure.
  void open(const std::string& description, const std::string& source, int32_t rows = 1, int32_t cols = 1) {
    ASSERT_NO_FATAL_FAILURE(build(description, source));
    rt_set_graphics_driver(host.block, &rec.table);
    rt_set_graphics_context(host.block, &rec.context);
    if (rows * cols > 1) {
      // Every cell shows the instance's first figure.
      const int32_t figure = sp(0).handlerWords[kSubplotFigureWord];
      ASSERT_EQ(inst_set_grid(host.block, 0, rows, cols), 0);
      for (int32_t k = 0; k < rows * cols; ++k)
        ASSERT_EQ(inst_subplot_assign(host.block, 0, k / cols, k % cols, figure, true), 0);
    }
    ASSERT_EQ(figure_layout_subplots(h(), 0, 0, 400, 0, 300), 0);
    ASSERT_EQ(inst_refresh(h(), 0), 0);
    rec.take();
  }
  void with_clock() {
    g_now = 100.0;
    rt_set_clock_callback(host.block, stepped_clock, slots, 8);
  }
  InstanceRec* inst() { return inst_find_by_id(host.block, 0); }
  Subplot& sp(int32_t k) { return inst()->subplots[k]; }
  double px(int32_t k, double x) {
    double p = 0;
    subplot_data_to_pixel(&sp(k), &x, &x, nullptr, 1, &p, nullptr, nullptr);
    return p;
  }
  double py(int32_t k, double y) {
    double p = 0;
    subplot_data_to_pixel(&sp(k), &y, &y, nullptr, 1, nullptr, &p, nullptr);
    return p;
  }
  // Mouse events at data positions of subplot k.
  int down(int32_t k, double x, double y, uint8_t shift = 0) {
    return interact_mouse_down(h(), 0, px(k, x), py(k, y), shift);
  }
  int move(int32_t k, double x, double y, uint8_t shift = 0) {
    g_now += 1.0;
    return interact_mouse_move(h(), 0, px(k, x), py(k, y), shift, nullptr, 0, nullptr);
  }
  int up(uint8_t shift = 0) { return interact_mouse_up(h(), 0, shift); }
  // The variable as a matrix, row by row; empty when it holds none.
  std::vector<double> matrix(const std::string& name) {
    std::vector<double> out;
    if (handler_push_input(host.block, 0, false, code(name)) != 0) return out;
    int32_t r = 0, c = 0;
    double* re = nullptr;
    if (stk_get_matrix(c_(), 0, &r, &c, &re, nullptr) == 0) out.assign(re, re + int64_t(r) * c);
    stk_drop(c_());
    return out;
  }
  EngineContext* c_() { return rt_engine(host.block); }
};

}  // namespace figtest
