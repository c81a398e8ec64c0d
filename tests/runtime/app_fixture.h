// A built application in a moving fake host, for the tests of code that runs
// handlers: the builder's image in place (instances reset at build time),
// test built-ins that count, re-enter the handler call, append a plot
// record or answer a chosen status, and readers of instance variables.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/plotlist/plot_store.h"
#include "runtime/fake_host.h"
#include "runtime/handler_call.h"
#include "runtime/image_loader.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/plot_lists.h"
#include "runtime/record_list.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"
#include "tools/imagetools/image_builder.h"

namespace apptest {

struct Probe {
  int counted = 0;
  int reentry = -1;        // what a nested outer call answered
  int32_t record = -1;     // the record the re-entering built-in calls
  int status = 0;          // what tn_answer returns
};
inline Probe g_probe;

// A statement call (negative output count) leaves the no-value item.
inline int done(EngineContext* c, int nargout) { return nargout < 0 ? stk_push_no_value(c) : 0; }

inline int bi_count(EngineContext* c, int, int nargout, uintptr_t) {
  ++g_probe.counted;
  return nargout != 0 ? stk_push_real(c, g_probe.counted) : 0;
}
inline int bi_reenter(EngineContext* c, int, int nargout, uintptr_t data) {
  auto* call = reinterpret_cast<CallContext*>(data);
  RuntimeBlock** handle = rt_handle(call->block);
  g_probe.reentry = handler_call_plain(handle, call->instance_id, g_probe.record, -1, false);
  return done(c, nargout);
}
inline int bi_answer(EngineContext* c, int, int nargout, uintptr_t) {
  return g_probe.status != 0 ? g_probe.status : done(c, nargout);
}
// Appends one record {1, subplot, -1, 0, 0, 0} to the list being built.
inline int bi_plot_mark(EngineContext* c, int, int nargout, uintptr_t data) {
  RuntimeBlock* b = reinterpret_cast<CallContext*>(data)->block;
  PlotBuildState& st = b->h.build;
  if (st.key < 0 || st.used + 6 > st.capacity) return kRtPlotOverflow;
  double* at = plotstore_data(rt_plot_store(b)) + st.start + st.used;
  const double record[6] = {1, double(st.subplot), -1, 0, 0, 0};
  for (int k = 0; k < 6; ++k) at[k] = record[k];
  st.used += 6;
  return done(c, nargout);
}

inline BuiltinEntry g_test_rows[] = {
    builtin_row("tn_count", 0, 0, 0, 1, 0, 0, bi_count),
    builtin_row("tn_reenter", 0, 0, 0, 0, 0, 0, bi_reenter),
    builtin_row("tn_answer", 0, 0, 0, 0, 0, 0, bi_answer),
    builtin_row("tn_plot_mark", 0, 0, 0, 0, 0, 0, bi_plot_mark),
    builtin_end_row(),
};

struct App : ::testing::Test {
  FakeHost host;
  void SetUp() override { g_probe = Probe{}; }
  // Builds the application; block sizes in bytes.
  void build(const std::string& description, const std::string& source, uint32_t bytes = 2u << 20,
             uint32_t limit = 64u << 20) {
    ASSERT_EQ(host.start(bytes, limit), 0);
    ASSERT_EQ(rt_register_library(host.block, g_builtin_table_host), 0);
    ASSERT_EQ(rt_register_library(host.block, g_test_rows), 0);
    tnbuild::Builder builder(host.block, {{"demo", source}});
    ASSERT_TRUE(builder.build(description)) << builder.error;
    host.take_output();
  }
  RuntimeBlock** h() { return &host.block; }
  EngineContext* c() { return rt_engine(host.block); }
  // Position of the n-th record of the tag in instance 0's run.
  int32_t record(int32_t tag, int n = 0) {
    int32_t pos = 0;
    for (int k = 0; k <= n; ++k) EXPECT_EQ(rec_find_tag(host.block, 0, &pos, tag), 0);
    return pos;
  }
  int32_t code(const std::string& name) {
    const NameTable* t = rt_name_table(host.block);
    for (int32_t k = 0; k < t->count; ++k)
      if (std::string(name_entries(t)[k].name) == name) return name_entries(t)[k].code;
    ADD_FAILURE() << "no variable " << name;
    return 0;
  }
  bool present(const std::string& name) {
    return undo_store_value_present(rt_value_store(host.block), 0, 0, code(name));
  }
  // The variable as a real scalar; NaN when empty or absent.
  double value(const std::string& name, bool previous = false) {
    if (handler_push_input(host.block, 0, previous, code(name)) != 0) return -999;
    double v = 0;
    if (stk_pop_real_scalar(c(), &v) != 0) {
      stk_drop(c());
      return std::nan("");
    }
    return v;
  }
  std::string text_of(const std::string& name) { return text(name); }
  std::string text(const std::string& name) {
    if (handler_push_input(host.block, 0, false, code(name)) != 0) return "<error>";
    char buffer[256] = {};
    int32_t n = 0;
    const int st = stk_get_string_buf(c(), 0, buffer, sizeof buffer, &n);
    stk_drop(c());
    return st == 0 ? std::string(buffer, size_t(n)) : "<not text>";
  }
  int call(int32_t record, bool event = false, int32_t subplot = -1, uint32_t key = 0) {
    return handler_call(h(), 0, record, false, true, false, subplot, event, key, kFdStdout, -1, nullptr, 0, nullptr,
                        nullptr, 0, nullptr);
  }
};

}  // namespace apptest
