// The figure's option, grid, scale lock and layout commands as the menus call
// them, undone and redone right after a start and right after Reset Data,
// when the history holds no layout yet: each undo gives back the figure and
// the subplot's settings as they were, each redo the changed ones.
#include "graphics/interact/figure_events.h"

#include <functional>

#include "graphics/interact/interaction.h"
#include "runtime/instances.h"
#include "runtime/runtime_status.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function a = start()\n a = 1;\nendfunction\n"
    "function draw(a)\n x = 0:0.1:10;\n plot(x, a * sin(x) + x / 3, 'b');\nendfunction\n";
const char kApp[] = "instance demo\nvar a\ninit a = start()\nfigure \"A\"\nplot draw(a)\n";

constexpr uint32_t kXGrid = 0x4, kYGrid = 0x40, kFrame = 0x8000;

struct OptionUndo : Figure {
  // What the user sees and what the menus show checked.
  std::string state() {
    figure_draw(host.block, 0);
    const InstanceRec* r = inst();
    bool locked = false, mixed = false;
    inst_subplot_query(host.block, 0, &locked, &mixed);
    return rec.take() + "options " + std::to_string(sp(0).optionFlags) + " scale " +
           std::to_string(sp(0).scaleFlags) + " grid " + std::to_string(r->rows) + "x" + std::to_string(r->cols) +
           (r->free_layout ? " free" : "") + (locked ? " locked" : "");
  }
  // Toggles option bits as Options and Figure > Grid do.
  void toggle(uint32_t bit) {
    uint32_t values = 0, allowed = 0, mixed = 0;
    ASSERT_EQ(inst_subplot_props_get(host.block, 0, &values, &allowed, &mixed), 0);
    ASSERT_EQ(inst_subplot_props_set(host.block, 0, bit, ~values), 0);
  }
};

TEST_F(OptionUndo, TheFirstCommandAfterAStartOrAResetUndoesAndRedoes) {
  struct Command {
    const char* name;
    std::function<void(OptionUndo*)> run;
  };
  const Command commands[] = {
      {"X Grid", [](OptionUndo* t) { t->toggle(kXGrid); }},
      {"Frame", [](OptionUndo* t) { t->toggle(kFrame); }},
      {"Y Grid", [](OptionUndo* t) { t->toggle(kYGrid); }},
      {"Locked Scale", [](OptionUndo* t) { ASSERT_EQ(inst_subplots_apply(t->h(), 0), 0); }},
      {"Layout 1 x 2", [](OptionUndo* t) { ASSERT_EQ(inst_set_grid_redraw(t->h(), 0, 1, 2), 0); }},
      {"Free layout", [](OptionUndo* t) { ASSERT_EQ(inst_free_layout(t->host.block, 0, false), 0); }},
      {"Remove plot", [](OptionUndo* t) { ASSERT_EQ(inst_set_current_subplot(t->h(), 0, -1), 0); }},
  };
  for (const Command& c : commands) {
    for (bool reset : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (reset ? " after Reset Data" : " after the start"));
      std::free(host.block);
      host.block = nullptr;
      ASSERT_NO_FATAL_FAILURE(open(kApp, kSource));
      if (reset) {
        ASSERT_EQ(inst_reset(h(), 0), 0);
        ASSERT_EQ(inst_refresh_after_change(h(), 0), 0);
      }
      state();  // the first drawing measures the subplot
      const std::string before = state();
      ASSERT_FALSE(rt_can_undo(host.block, 0));
      ASSERT_NO_FATAL_FAILURE(c.run(this));
      // Drawn again as a resize draws it: undo and redo draw that way too.
      ASSERT_EQ(inst_refresh(h(), 0), 0);
      const std::string after = state();
      ASSERT_NE(after, before);
      ASSERT_TRUE(rt_can_undo(host.block, 0));
      ASSERT_EQ(inst_undo(h(), 0), kRtHandledRedraw);
      EXPECT_TRUE(state() == before) << "undo";
      EXPECT_FALSE(rt_can_undo(host.block, 0));
      ASSERT_TRUE(rt_can_redo(host.block, 0));
      ASSERT_EQ(inst_redo(h(), 0), kRtHandledRedraw);
      EXPECT_TRUE(state() == after) << "redo";
    }
  }
}

}  // namespace
