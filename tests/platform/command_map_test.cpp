// Commands over actions: states applied when a menu is about to show, a
// shortcut of a command that has become disabled dropped, and a key taken by
// a command that has just become enabled.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <QWidget>

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

// A key pressed right after its command's state changed, before anything
// refreshed the action (Redo right after Undo), is matched against the
// current state: an enabled command runs, a disabled one does not.
TEST(CommandMap, KeysMeetTheCommandsCurrentState) {
  CommandMap map;
  map.watch_shortcuts();
  std::vector<int> ran;
  bool enabled = false;
  map.route(300, 300, [&](int c) { ran.push_back(c); }, [&](int, CommandState* st) { st->enable(enabled); });
  QWidget window;
  QAction* a = map.action(300, QStringLiteral("Redo"));
  a->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
  window.addAction(a);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  map.update_action(a);
  ASSERT_FALSE(a->isEnabled());
  for (bool state : {true, false, true}) {
    enabled = state;
    QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  }
  EXPECT_EQ(ran, (std::vector<int>{300, 300}));
}

}  // namespace
