// The special-variable functions (_x, _id and the 24 others) from ZVR code:
// empty while the instance's event-values flag is clear (after a reset,
// before any manipulation) or without an instance; with the flag set, the
// very value the handler call gives the variable of that name; their output
// counts; the failure sweep; and a figure-only instance whose figure text
// sees the manipulation once, the refresh clearing the flag.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/lib/builtin_tables.h"
#include "runtime/app_fixture.h"
#include "runtime/drawing_context.h"
#include "runtime/special_vars.h"
#include "support/failure_sweep.h"

namespace {

// An item as the tests compare it: class, shape and values.
struct Item {
  bool logical = false;
  int32_t rows = -1, cols = -1;
  std::vector<double> re, im;
  bool operator==(const Item&) const = default;
};

Item pop_item(EngineContext* c) {
  Item it;
  it.logical = stk_is_logical(c, 0);
  if (it.logical) {
    uint8_t v = 0;
    EXPECT_EQ(stk_get_bool(c, 0, &v), kOk);
    it.re = {double(v)};
  } else {
    double *re = nullptr, *im = nullptr;
    EXPECT_EQ(stk_get_matrix(c, 0, &it.rows, &it.cols, &re, &im), kOk);
    it.re.assign(re, re + int64_t(it.rows) * it.cols);
    if (im) it.im.assign(im, im + int64_t(it.rows) * it.cols);
  }
  stk_drop(c);
  return it;
}

struct EventValues : DrawingCommands {
  void SetUp() override {
    DrawingCommands::SetUp();
    ManipState& m = host.block->h.manip;
    m.x = 3, m.y = 4, m.x0 = 1, m.y0 = 2, m.z0 = 5, m.x1 = 6, m.y1 = 8, m.z1 = 9;
    m.dx = 0.5, m.dy = -0.5, m.q1 = 7, m.q2 = 11, m.id = 12, m.nb = 13, m.ix = 14;
    m.valid = 0x7FFF;
  }
  InstanceRec* rec() { return inst_find_by_id(host.block, 0); }
  // The value a base-workspace variable holds.
  Item variable(const char* name) {
    if (push_variable(name) != kOk) {
      ADD_FAILURE() << "no variable " << name;
      return Item{};
    }
    return pop_item(c());
  }
};

std::vector<SpecialVarDef> event_variables() {
  std::vector<SpecialVarDef> v;
  for (const SpecialVarDef* d = kSpecialVarTable; d->code >= 0; ++d)
    if (d->code >= kCodeFirstSpecial && d->code <= kCodeLastEvent) v.push_back(*d);
  return v;
}

TEST_F(EventValues, EmptyUntilTheFlagIsSetThenTheHandlersValue) {
  ASSERT_EQ(event_variables().size(), 26u);
  const Item empty{false, 0, 0, {}, {}};
  for (const SpecialVarDef& v : event_variables()) {
    const std::string name = v.name;
    rec()->resume = 0;  // as after a reset: no manipulation yet
    ASSERT_EQ(run("v_ = " + name + ";\n"), kOk) << name;
    EXPECT_EQ(variable("v_"), empty) << name;
    rec()->resume = 1;
    ASSERT_EQ(run("v_ = " + name + ";\n"), kOk) << name;
    ASSERT_EQ(handler_push_special_var(host.block, 0, v.code, false), kOk);
    const Item want = pop_item(c());
    EXPECT_EQ(variable("v_"), want) << name;
    EXPECT_NE(want, empty) << name;
    // As a statement the value becomes ans; two outputs are refused.
    ASSERT_EQ(run(name + ";\n"), kOk) << name;
    EXPECT_EQ(variable("ans"), want) << name;
    EXPECT_EQ(run("[a_, b_] = " + name + ";\n"), kWrongNargout) << name;
  }
  // Without an instance, empty whatever the flag.
  host.block->h.user.instance_id = 42;
  ASSERT_EQ(run("v_ = _x;\n"), kOk);
  EXPECT_EQ(variable("v_"), empty);
}

TEST_F(EventValues, EachPassesTheFailureSweep) {
  rec()->resume = 1;
  int swept = 0;
  for (const SpecialVarDef& v : event_variables()) {
    const BuiltinFn fn = engine_row(v.name);
    ASSERT_NE(fn, nullptr) << v.name;
    bool ok = false;
    auto push = [] { return int(kOk); };
    auto call = [&] { return lib_call_builtin(c(), fn, 0, 1); };
    EXPECT_TRUE(sweep_rooms(c(), push, call, &ok)) << v.name;
    swept += ok;
  }
  EXPECT_EQ(swept, 26);
}

// A figure-only instance: its figure text sees the manipulation that caused
// the redraw, and the refresh clears the flag with the figure-only byte.
struct FigureOnly : apptest::App {};

TEST_F(FigureOnly, TheFigureTextSeesTheEventOnce) {
  ASSERT_NO_FATAL_FAILURE(build("instance demo\ncommands \"a = _x; if isempty(a), a = -1; end; plot(a);\"\n", ""));
  InstanceRec* r = inst_find_by_id(host.block, 0);
  ASSERT_EQ(r->figure_only, 1);
  EXPECT_EQ(r->resume, 0);
  auto plotted = [&] {
    int32_t pos = 0, length = 0;
    PlotStore* store = rt_plot_store(host.block);
    EXPECT_TRUE(plotstore_find(store, 0, &pos, &length));
    const double* l = plotstore_data(store) + pos;
    return length >= kOpenObjectLength + 9 ? l[kOpenObjectLength + 8] : NAN;  // y of the one point
  };
  // After the reset, before any manipulation: empty.
  ManipState& m = host.block->h.manip;
  m.x = 3, m.valid = kManipX;
  ASSERT_EQ(inst_refresh(h(), 0), kOk);
  EXPECT_EQ(plotted(), -1);
  // A manipulation sets the flag: the figure text sees its _x, and the
  // refresh that drew it clears the flag.
  ASSERT_EQ(inst_reset(h(), 0), kOk);
  r = inst_find_by_id(host.block, 0);
  r->resume = 1;
  ASSERT_EQ(inst_refresh(h(), 0), kOk);
  EXPECT_EQ(plotted(), 3);
  r = inst_find_by_id(host.block, 0);
  EXPECT_EQ(r->resume, 0);
  EXPECT_EQ(r->figure_only, 0);
}

}  // namespace
