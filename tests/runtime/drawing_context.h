// A one-subplot demo instance on the moving fake host, with its display list
// open for building and the call context on it: where plot commands and the
// `scale` built-in run from ZVR code as a plot handler would run them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/lib_calls.h"
#include "engine/core/status.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/plotlist/plot_records.h"

#include "runtime/fake_host.h"
#include "runtime/layout.h"
#include "runtime/plot_lists.h"
#include "support/failure_sweep.h"
#include "tools/imagetools/image_builder.h"

constexpr uint32_t kDrawingBlockBytes = 2u << 20;

inline void open_drawing_context(FakeHost* host, uint32_t bytes = kDrawingBlockBytes) {
  ASSERT_EQ(host->start(bytes, bytes), 0);
  ASSERT_EQ(rt_register_library(host->block, g_builtin_table_host), 0);
  tnbuild::Builder builder(host->block, {});
  ASSERT_TRUE(builder.build("instance demo\nvar x\nfigure \"One\"\nplot demo_plot(x)\n")) << builder.error;
  ASSERT_EQ(figure_layout_subplots(&host->block, 0, 0, 200, 0, 100), 0);
  RuntimeBlock* b = host->block;
  ASSERT_EQ(plotstore_begin_list(b, 0, true), 0);
  b->h.build.subplot = 0;
  b->h.user.instance_id = 0;
}

// Runs ZVR code as a command line in the host's engine: its status; a
// failed run leaves no frame behind.
inline int drawing_run(FakeHost* host, const std::string& text) {
  EngineContext* e = rt_engine(host->block);
  int status = exec_command_line(e, text.data(), int32_t(text.size()), 0);
  if (status == kSliceEnded) status = interp_run(e, 0);
  if (status != kOk) frame_unwind(e, 0);
  return status;
}

// ZVR code run in the drawing context, and the list it builds.
struct DrawingCommands : ::testing::Test {
  using Doubles = std::vector<double>;
  FakeHost host;
  int32_t full_capacity = 0;
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(open_drawing_context(&host));
    full_capacity = host.block->h.build.capacity;
  }
  EngineContext* c() { return rt_engine(host.block); }
  Subplot& s() { return inst_find_by_id(host.block, 0)->subplots[0]; }
  // The status of the run; a failed run leaves no frame behind.
  int run(const std::string& text) { return drawing_run(&host, text); }
  int32_t& used() { return host.block->h.build.used; }
  Doubles list() {
    const double* d = plotstore_data(rt_plot_store(host.block)) + host.block->h.build.start;
    return Doubles(d, d + used());
  }
  // Pushes a copy of a base-workspace variable; kUndefinedFunctionOrVariable
  // when there is none.
  int push_variable(const char* name) {
    uint8_t* table = nullptr;
    int32_t count = 0;
    frame_var_table(c(), &table, &count);
    for (int32_t k = 0; table && k < count; ++k)
      if (std::strncmp(reinterpret_cast<const char*>(table) + kFrameNameBytes * k, name, kFrameNameBytes) == 0)
        return var_push_local(c(), k);
    return kUndefinedFunctionOrVariable;
  }
  // The function a row of the engine's table holds.
  static BuiltinFn engine_row(const char* name) {
    for (int i = 0; i < kEngineTableRows; ++i)
      if (std::strcmp(g_builtin_table_engine[i].name, name) == 0) return g_builtin_table_engine[i].fn;
    ADD_FAILURE() << "no row " << name;
    return nullptr;
  }
  // Row `name` called from the stacks with the named variables pushed, under
  // the failure sweep at every room: passes when every room does and the call
  // succeeds where there is room. fresh_list empties the list before each call.
  ::testing::AssertionResult sweep_call(const char* name, const std::vector<const char*>& inputs, int nout,
                                        bool fresh_list = false) {
    const BuiltinFn fn = engine_row(name);
    if (!fn || fn == builtin_not_supported) return ::testing::AssertionFailure() << "no built row " << name;
    auto push = [&] {
      for (const char* v : inputs) TN_TRY(push_variable(v));
      return int(kOk);
    };
    auto call = [&] {
      if (fresh_list) used() = 0;
      return lib_call_builtin(c(), fn, int(inputs.size()), nout);
    };
    bool ok = false;
    ::testing::AssertionResult r = sweep_rooms(c(), push, call, &ok);
    if (r && !ok) return ::testing::AssertionFailure() << "the call fails even with room";
    return r;
  }
  // The records after the opening one.
  Doubles records() {
    Doubles l = list();
    return l.size() >= kOpenObjectLength ? Doubles(l.begin() + kOpenObjectLength, l.end()) : Doubles{};
  }
};
