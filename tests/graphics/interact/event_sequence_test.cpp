// Random event sequences over every tool on a grid of 2-D and 3-D subplots,
// in a block that moves whenever it grows: after each event the stores keep
// their invariants, the answer is one the entries give, a release always
// ends the interaction, and the cameras' view rows stay orthonormal.
#include "graphics/interact/figure_events.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "graphics/plotlist/plot_store.h"
#include "runtime/runtime_status.h"
#include "runtime/undo_store.h"

namespace {

using figtest::Figure;

const char kSource[] =
    "function p = start()\n p = [2 3];\nendfunction\n"
    "function draw(p)\n plot([0 p(1) 10], [0 p(2) 10], 'o', 1);\nendfunction\n"
    "function draw3(p)\n plot3([0 p(1)], [0 2], [0 3]);\nendfunction\n"
    "function p = moved(p, x1, y1)\n p = [x1 y1];\nendfunction\n"
    "function log = seen(log, x)\n log = [log 1];\nendfunction\n";
const char kApp[] =
    "instance demo\nvar p\nvar log\ninit p = start()\nfigure \"A\"\nplot draw(p)\n"
    "drag 1 p = moved(p, _x1, _y1)\nover -1 log = seen(log, _x)\nleave -1 log = seen(log, _x)\n"
    "wheel -1 log = seen(log, _x)\nkey \"q\" log = seen(log, _key)\nfigure \"B\"\nplot draw3(p)\n";

bool known_answer(int status) {
  return status == 0 || status == kRtHandledRedraw || status == kRtNoInteraction || status == kRtNoHandler ||
         status == kRtUndefElement;
}

TEST_F(Figure, RandomEventSequencesKeepTheStoresWhole) {
  open(kApp, kSource, 2, 2);
  ASSERT_EQ(inst_subplot_assign(host.block, 0, 1, 1, record(kTagFigure, 1), true), 0);
  ASSERT_EQ(inst_refresh(h(), 0), 0);
  std::mt19937 rng(2222);
  std::uniform_real_distribution<double> pos(-20.0, 420.0);
  for (int step = 0; step < 3000; ++step) {
    double x = pos(rng), y = pos(rng) * 0.75;
    if (rng() % 2 && inst()->rows * inst()->cols >= 1 && sp(0).hasContent && !sp(0).is3D) {
      // Half the time at the draggable point of the first subplot.
      const std::vector<double> p = matrix("p");
      if (p.size() == 2) x = px(0, p[0]), y = py(0, p[1]);
    }
    const uint8_t shift = rng() % 4 == 0;
    int status = 0;
    std::string what;
    switch (rng() % 9) {
      case 0: what = "tool"; status = interact_set_tool_mode(h(), int32_t(1 + rng() % 5)); break;
      case 1: what = "down"; status = interact_mouse_down(h(), 0, x, y, shift); break;
      case 2: case 3: {
        // A gesture: press, a few moves near the press, often a release.
        what = "gesture";
        status = interact_mouse_down(h(), 0, x, y, shift);
        for (int k = 0, n = int(rng() % 5); k < n && known_answer(status); ++k)
          status = interact_mouse_move(h(), 0, x + pos(rng) / 8 - 25, y + pos(rng) / 8 - 25, rng() % 4 == 0,
                                       nullptr, 0, nullptr);
        if (rng() % 4 != 0 && known_answer(status)) status = interact_mouse_up(h(), 0, shift);
        break;
      }
      case 4:
        what = "up";
        status = interact_mouse_up(h(), 0, shift);
        EXPECT_EQ(host.block->h.interaction.active, -1);
        break;
      case 5: {
        what = "hover";
        char text[32];
        status = interact_mouse_hover(h(), 0, x, y, shift, text, sizeof text, nullptr);
        break;
      }
      case 6: what = "wheel"; status = interact_mouse_wheel(h(), 0, x, y, 0, rng() % 2 ? 1 : -1, shift, nullptr, 0, nullptr); break;
      case 7: {
        what = "key";
        static const char keys[] = "q+-9z0Zljkmno1";
        status = inst_key_event(h(), 0, uint32_t(keys[rng() % (sizeof keys - 1)]));
        break;
      }
      default: what = "context"; status = interact_context_click(h(), 0, x, y); break;
    }
    SCOPED_TRACE("step " + std::to_string(step) + " " + what);
    EXPECT_TRUE(known_answer(status)) << status;
    const int32_t kind = interact_cursor_kind(h(), 0, x, y, shift);
    EXPECT_TRUE(kind >= kCursorNone && kind <= kCursorHitFailed) << kind;
    std::string why;
    ASSERT_TRUE(undo_store_check(rt_value_store(host.block), &why)) << why;
    ASSERT_TRUE(plotstore_check(rt_plot_store(host.block)));
    for (int32_t k = 0; k < std::min(inst()->rows * inst()->cols, kMaxSubplots); ++k) {
      const Subplot& s = sp(k);
      if (!s.is3D) continue;
      for (int a = 0; a < 3; ++a) {
        double n = 0;
        for (int i = 0; i < 3; ++i) n += s.viewMatrix[a][i] * s.viewMatrix[a][i];
        ASSERT_NEAR(n, 1.0, 1e-9) << "subplot " << k;
      }
    }
  }
}

}  // namespace
