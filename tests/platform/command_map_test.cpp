// Commands over actions: states applied when a menu is about to show, and a
// shortcut of a command that has become disabled dropped.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

#include "platform/command_map.h"

namespace {

TEST(CommandMap, StatesFromUpdateHandlersAndDroppedCommands) {
  CommandMap map;
  std::vector<int> ran;
  bool enabled = true;
  int check = kCheckOff;
  map.route(100, 199, [&](int c) { ran.push_back(c); }, [&](int c, CommandState* st) {
    st->enable(enabled);
    st->set_check(c == 101 ? check : kCheckOff);
    if (c == 102) st->set_radio(true);
    if (c == 103) st->set_text(QStringLiteral("About X"));
  });
  map.route(150, 150, [&](int c) { ran.push_back(-c); }, nullptr);  // a later route wins

  QMenu menu;
  map.watch_menu(&menu);
  QAction* a101 = map.add_to_menu(&menu, 101, QStringLiteral("Log &X"));
  QAction* a102 = map.add_to_menu(&menu, 102, QStringLiteral("2 x 3"));
  QAction* a103 = map.add_to_menu(&menu, 103, QStringLiteral("About"));
  for (int c : {kCheckOn, kCheckIndeterminate, kCheckOff}) {
    check = c;
    emit menu.aboutToShow();
    EXPECT_EQ(a101->property("tn_check").toInt(), c);
    EXPECT_EQ(a101->isChecked(), c == kCheckOn);
    EXPECT_EQ(a101->icon().isNull(), c != kCheckIndeterminate);
  }
  EXPECT_TRUE(a102->isChecked());
  EXPECT_EQ(a103->text(), QStringLiteral("About X"));

  // A shortcut runs the handler through the same update; once disabled the
  // trigger is dropped even though the action was enabled when last shown.
  QAction* own = map.action(101, QStringLiteral("Log &X"));
  EXPECT_EQ(map.action(101), own);
  own->trigger();
  enabled = false;
  own->trigger();
  a102->trigger();
  EXPECT_FALSE(map.dispatch(500));  // no route
  EXPECT_TRUE(map.dispatch(150));   // no update handler: enabled
  EXPECT_EQ(ran, (std::vector<int>{101, -150}));
  emit menu.aboutToShow();
  EXPECT_FALSE(a101->isEnabled());
}

}  // namespace
