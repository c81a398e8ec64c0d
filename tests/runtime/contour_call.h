// The filled-contour command as the picture tests call it: contour(z,
// limits, levels, style) on the drawing context's emptied list, level i
// filled in a colour of its own (0x0a00ii), so that a pixel's colour names
// its level.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/core/stack_ops.h"
#include "engine/core/value_stack.h"
#include "runtime/drawing_context.h"
#include "support/contour_model.h"

inline int contour_push_row(EngineContext* c, const std::vector<double>& v) {
  double *re, *im;
  TN_TRY(stk_push_matrix(c, 1, int32_t(v.size()), &re, &im));
  std::copy(v.begin(), v.end(), re);
  return kOk;
}

inline int contour_filled(FakeHost* host, const contour_model::Field& f, int level_colours) {
  EngineContext* c = rt_engine(host->block);
  host->block->h.build.used = 0;
  double *re, *im;
  TN_TRY(stk_push_matrix(c, f.rows, f.cols, &re, &im));
  std::copy(f.z.begin(), f.z.end(), re);
  TN_TRY(contour_push_row(c, {f.x1, f.x2, f.y1, f.y2}));
  TN_TRY(contour_push_row(c, f.given));
  std::string style;
  for (int i = 0; i < level_colours; ++i) {
    char one[16];
    std::snprintf(one, sizeof one, "%sh(0a00%02x)f", i ? "," : "", i + 1);
    style += one;
  }
  TN_TRY(stk_push_cstr(c, int32_t(style.size()), style.data()));
  return lib_call_builtin(c, DrawingCommands::engine_row("contour"), 4, 0);
}
