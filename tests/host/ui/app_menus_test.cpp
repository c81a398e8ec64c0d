// The application's menus from scripted record walks, dispatch by kind,
// states for every entry, and data text through the clipboard.
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>

#include "host/ui/app_menus.h"
#include "platform/command_map.h"
#include "tests/host/ui/scripted_runtime.h"

namespace {

QStringList texts(QWidget* w) {
  QStringList out;
  for (QAction* a : w->actions()) {
    out << (a->isSeparator() ? QStringLiteral("-") : a->text());
  }
  return out;
}

QMenu* sub(QWidget* w, const QString& text) {
  for (QAction* a : w->actions())
    if (a->text() == text) return a->menu();
  return nullptr;
}

struct Menus : ::testing::Test {
  QMenuBar bar;
  ScriptedRuntime rt;
  CommandMap map;
  AppMenus menus{&rt, &map, 0};
  int last = -1;

  void SetUp() override {
    for (const char* t : {"&File", "&Edit", "F&igure", "&Layout", "&Help"}) bar.addMenu(QString::fromLatin1(t));
    QMenu* edit = sub(&bar, QStringLiteral("&Edit"));
    for (const char* t : {"Undo", "Redo", "-", "Copy", "Select All", "-", "Preferences"})
      if (t[0] == '-') edit->addSeparator(); else edit->addAction(QString::fromLatin1(t));
    map.route(11200, 11999, [this](int n) { last = menus.command(n); },
              [this](int n, CommandState* st) { menus.update(n, st); });
    map.route(12000, 12999, [this](int n) { last = menus.plot_choose(n); },
              [this](int n, CommandState* st) { menus.plot_update(n, st); });
    const std::string long_name(58, 'x');
    rt.records['m'] = {{"Settings", false, true}, {"a"}, {"Empty", false, true}, {"Tools", false, true},
                       {"b"}, {""}, {"Sub", true}, {"c"}, {"", true}, {long_name + "\xC3\xA9\xC3\xA9"},
                       {"Last", false, true}};
    rt.records['l'] = {{"English"}, {"Deutsch"}};
    rt.records['i'] = {{"Matrix"}};
    rt.records['e'] = {{"Matrix"}, {""}};
    rt.records['f'] = {{"Plot1"}, {"Plot2"}};
  }
  QAction* item(QWidget* w, const QString& text) {
    for (QAction* a : w->actions())
      if (a->text() == text) return a;
    return nullptr;
  }
};

TEST_F(Menus, TreeFromTheWalksAndASecondInstallation) {
  for (int round = 0; round < 2; ++round) {
    menus.install(&bar, MenuBases{});
    EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "Settings", "Tools", "&Plots", "F&igure", "&Layout", "&Help"}));
    EXPECT_EQ(texts(sub(&bar, QStringLiteral("&Edit"))),
              (QStringList{"Undo", "Redo", "-", "Copy", "Select All", "-", "Preferences", "Copy As", "Paste As",
                           "Language"}));
    QMenu* tools = sub(&bar, QStringLiteral("Tools"));
    const QString cut = QString(58, QLatin1Char('x')) + QChar(0xE9);  // 60 bytes, never half a character
    EXPECT_EQ(texts(tools), (QStringList{"b", "-", "Sub", cut}));
    EXPECT_EQ(texts(sub(tools, QStringLiteral("Sub"))), QStringList{"c"});
    EXPECT_EQ(texts(sub(&bar, QStringLiteral("&Plots"))), (QStringList{"&Remove", "-", "Plot1", "Plot2"}));
    EXPECT_EQ(CommandMap::command_of(item(tools, QStringLiteral("b"))), 11201);
    EXPECT_EQ(CommandMap::command_of(item(sub(&bar, QStringLiteral("&Plots")), QStringLiteral("Plot1"))), 12002);
  }
  menus.remove_layout(&bar);
  EXPECT_NE(menu_find_by_text(&bar, QStringLiteral("&Layout")), -1);
  rt.choose_layout = false;
  menus.install(&bar, MenuBases{});
  menus.remove_layout(&bar);
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "Settings", "Tools", "F&igure", "&Help"}));
  menus.remove(&bar);
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "F&igure", "&Help"}));
  EXPECT_EQ(texts(sub(&bar, QStringLiteral("&Edit"))).size(), 7);
  rt.block = false;
  menus.install(&bar, MenuBases{});
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "F&igure", "&Help"}));
}

TEST_F(Menus, NoEditMenuPutsMenusAtTheEndAndNoSubmenus) {
  QMenuBar plain;
  plain.addMenu(QStringLiteral("&File"));
  for (int round = 0; round < 2; ++round) {
    menus.install(&plain, MenuBases{});
    EXPECT_EQ(texts(&plain), (QStringList{"&File", "Settings", "Tools", "&Plots"}));
  }
  menus.remove(&plain);
  EXPECT_EQ(texts(&plain), QStringList{"&File"});
}

TEST_F(Menus, DispatchByKindAndClipboardText) {
  menus.install(&bar, MenuBases{});
  QGuiApplication::clipboard()->clear();
  EXPECT_TRUE(map.dispatch(11600));  // Paste As, empty clipboard: nothing called
  EXPECT_EQ(last, 0);
  EXPECT_TRUE(rt.log.empty());
  rt.copy_text = "%TN xdata 'double'\r\n1\n2\r3";
  map.dispatch(11800);  // Copy As
  EXPECT_EQ(last, 0);
  QByteArray clip;
  ASSERT_TRUE(clipboard_get_text(&clip));
  EXPECT_EQ(clip, QByteArray("%TN xdata 'double'\n1\n2\n3"));
  map.dispatch(11600);  // Paste As hands the same text back
  EXPECT_EQ(last, kRtHandledRedraw);
  map.dispatch(11401);  // a language
  EXPECT_EQ(last, kRtSectionChanged);
  map.dispatch(11200);
  EXPECT_EQ(rt.log, (std::vector<std::string>{"copy 0", "paste 0 %TN xdata 'double'\n1\n2\n3", "language 1",
                                              "exec 1"}));
  rt.log.clear();
  map.dispatch(12003);  // plot choice: set and refresh, 10201 whatever they say
  EXPECT_EQ(last, kRtHandledRedraw);
  map.dispatch(11999);  // not in the tables
  EXPECT_EQ(last, 0);
  EXPECT_EQ(rt.log, (std::vector<std::string>{"plot 1", "refresh"}));
  // Without a block: a plot choice still answers 10201, a menu item the
  // host's status, and the states are off.
  rt.block = false;
  EXPECT_EQ(menus.plot_choose(12002), kRtHandledRedraw);
  EXPECT_EQ(menus.command(11200), kRtNotEnoughMemForTN);
  EXPECT_FALSE(map.dispatch(11200));
  EXPECT_EQ(rt.log.size(), 2u);
  clipboard_put_text("\nx", 2);
  ASSERT_TRUE(clipboard_get_text(&clip));
  EXPECT_EQ(clip, QByteArray("\nx"));
}

TEST_F(Menus, StatesForEveryEntryAndGroupsCappedAt200) {
  std::vector<ScriptedRecord> many{{"Many", false, true}};
  for (int i = 0; i < 250; ++i) many.push_back({"item" + std::to_string(i)});
  rt.records['m'] = many;
  menus.install(&bar, MenuBases{});
  QMenu* m = sub(&bar, QStringLiteral("Many"));
  ASSERT_EQ(m->actions().size(), 200);
  EXPECT_EQ(CommandMap::command_of(m->actions().back()), 11399);  // never into the languages
  EXPECT_EQ(CommandMap::command_of(item(sub(sub(&bar, QStringLiteral("&Edit")), QStringLiteral("Language")),
                                        QStringLiteral("English"))), 11400);
  rt.state_at[150] = 0;  // the entry at cursor 150 is item149
  rt.state_at[70] = 3;
  map.update_menu(m);
  EXPECT_FALSE(m->actions().at(149)->isEnabled());
  EXPECT_TRUE(m->actions().at(69)->isChecked());
  EXPECT_TRUE(m->actions().at(0)->isEnabled());
  EXPECT_FALSE(m->actions().at(0)->isChecked());
  // The clipboard text and its hash reach the runtime.
  clipboard_put_text("ab", 2);
  map.update_menu(m);
  EXPECT_EQ(rt.last_hash, ((int32_t('a') << 1) ^ 'b'));
  EXPECT_EQ(clipboard_hash(QByteArray("\xFF")), -1);
}

}  // namespace
