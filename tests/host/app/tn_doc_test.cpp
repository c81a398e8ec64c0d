// The document's command map against a scripted runtime: every update
// handler's state from one table, commands and their runtime calls, the
// error texts of runtime statuses, titles and the text windows.
#include <gtest/gtest.h>

#include <QMenuBar>
#include <QTemporaryDir>

#include "engine/core/context.h"
#include "host/app/error_text.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "host/ui/text_frame.h"
#include "platform/command_map.h"
#include "platform/settings_store.h"
#include "tests/host/app/scripted_doc_runtime.h"
#include "tests/host/ui/scripted_dialogs.h"

namespace {

struct Doc : ::testing::Test {
  ScriptedDocRuntime rt;
  CommandMap map;
  QMenuBar bar;
  int views = 0;
  TNDoc doc{&rt, &map, [this] { return &bar; }, [this] { ++views; }, nullptr};
};

// enabled, then the mark: check 0/1/2, or radio 0/1 (stored the same way).
struct Want {
  int command;
  bool enabled;
  int mark;
};

void expect_states(CommandMap& map, const std::vector<Want>& rows, const char* what) {
  for (const Want& w : rows) {
    QAction* a = map.action(w.command);
    map.update_action(a);
    EXPECT_EQ(a->isEnabled(), w.enabled) << what << " " << w.command;
    EXPECT_EQ(a->property("tn_check").toInt(), w.mark) << what << " " << w.command;
  }
}

TEST_F(Doc, UpdateHandlerStates) {
  rt.scale = SubplotBits{2, 1 | 2, 1};  // log x differs, log y on, dB y not allowed
  rt.props = SubplotBits{0x8000 | 0x2000 | 0x40, 0x8000 | 0x10000 | 0x1000 | 0x2000 | 0x4000 | 0x4 | 0x40,
                         0x10000 | 0x4};
  rt.options.apply = true;
  rt.options.differs[1] = true;
  rt.options.value[0] = true;
  rt.mode = 4;
  rt.lock_differs = true;
  rt.rows = 2;
  rt.columns = 3;
  rt.idle_on = true;
  expect_states(map, {
      {10020, true, 0}, {10023, true, 1}, {10030, true, 2},
      {10031, true, 2}, {10032, true, 1}, {10033, false, 0},
      {10040, true, 1}, {10041, true, 2}, {10042, true, 0},
      {10050, true, 1}, {10051, false, 0}, {10052, true, 2}, {10053, false, 0},
      {10060, true, 0}, {10061, true, 1}, {10062, true, 0},
      {10070, true, 2}, {10071, true, 1}, {10072, false, 0},
      {10090, true, 0}, {10091, true, 1}, {10002, true, 0},
      {10150, true, 0}, {10154, true, 1}, {10159, true, 0}, {10160, true, 0},
  }, "grid 2 x 3");
  rt.free = true;
  expect_states(map, {{10150, true, 0}, {10154, true, 0}, {10159, true, 1}, {10160, true, 0}}, "free");
  rt.absolute = true;
  rt.mouse = false;  // tool commands follow the instance taking mouse events
  rt.any_handler = false;
  expect_states(map, {{10159, false, 0}, {10160, false, 1}, {10020, false, 0}, {10023, false, 1}}, "fixed");
  rt.menus.block = false;
  expect_states(map, {{10002, false, 0}, {10020, false, 1}, {10031, false, 0}, {10050, false, 0},
                      {10091, false, 0}, {10154, false, 0}, {10212, false, 0}, {10213, false, 0}}, "no block");
}

TEST_F(Doc, CommandsReachTheRuntime) {
  rt.scale = SubplotBits{2, 19, 0};
  rt.props = SubplotBits{0x8000, 0xFFFFFF, 0};
  rt.options.apply = true;
  map.dispatch(10031);  // log x on
  map.dispatch(10032);  // log y off
  map.dispatch(10050);  // frame on everywhere: switched off
  map.dispatch(10051);  // margin off: switched on
  map.dispatch(10060);  // grid none sets neither bit
  map.dispatch(10062);
  map.dispatch(10040);
  map.dispatch(10030);
  map.dispatch(12000);
  map.dispatch(10154);
  map.dispatch(10022);
  EXPECT_EQ(rt.log, (std::vector<std::string>{"scale 19 3", "scale 19 0", "props 32768 0", "props 1048576 1048576",
                                              "props 24576 0", "props 24576 16384", "option 0 1", "apply", "plot -1"}));
  EXPECT_EQ(rt.rows * 10 + rt.columns, 23);
  EXPECT_EQ(rt.mode, 3);
  // The tool command redraws only when leaving manipulate ran a leave
  // handler that asks for it.
  EXPECT_EQ(views, 10);
  rt.tool_status = kRtHandledRedraw;
  map.dispatch(10020);
  EXPECT_EQ(rt.mode, 1);
  EXPECT_EQ(views, 11);
}

TEST_F(Doc, ResetAndMenuErrorsInTheirWords) {
  ScriptedDialogs dialogs;
  rt.reset_status = kRtNonexistentInstance;
  map.dispatch(kCmdReset);
  rt.reset_status = 0;
  map.dispatch(kCmdReset);
  EXPECT_EQ(views, 1);
  EXPECT_EQ(rt.log, (std::vector<std::string>{"reset", "reset", "refresh"}));
  rt.menus.records['m'] = {{"Run", false, true}, {"go"}};
  doc.install_menus(false);
  rt.menus.status = 10999;
  map.dispatch(11200);
  rt.menus.status = 600;
  map.dispatch(11200);
  EXPECT_EQ(dialogs.asked, (QStringList{"message||Nonexistent instance|0", "message||Error 10999|0",
                                        "message||Initialization error|0"}));
}

TEST_F(Doc, ErrorTexts) {
  RuntimeHost host{4 << 20, 4 << 20, 0, 2};
  ASSERT_TRUE(host.has_block());
  EngineContext* c = rt_engine(host.block());
  EXPECT_EQ(error_text_for_display(c, 600), "Initialization error");
  EXPECT_EQ(error_text_for_display(c, kRtNonexistentInstance), "Nonexistent instance");
  EXPECT_EQ(error_text_for_display(c, kRtCannotRedo), "Cannot redo");
  EXPECT_EQ(error_text_for_display(c, 10999), "Error 10999");
  EXPECT_EQ(error_text_for_display(nullptr, 5), "ZVR error 5");
  c->error_area.loc_line = 7;
  EXPECT_EQ(error_text_for_display(c, kRtCannotRedo), "Cannot redo (line 7)");
  EXPECT_EQ(error_text_for_display(c, 600), "Initialization error");
  EXPECT_FALSE(error_text_for_display(c, 5).empty());
}

TEST_F(Doc, TitlesTextWindowsAndLanguageChange) {
  EXPECT_EQ(map.state_of(kCmdHelp).text() ? *map.state_of(kCmdHelp).text() : QString(), QStringLiteral("TN File Help"));
  EXPECT_FALSE(map.state_of(kCmdHelp).enabled());
  rt.version = "Version 1";
  map.dispatch(kCmdAbout);
  ASSERT_NE(doc.about_window(), nullptr);
  EXPECT_EQ(doc.about_window()->windowTitle(), QStringLiteral("About TN File"));
  EXPECT_TRUE(doc.about_window()->isVisible());
  // A language change rebuilds the menus and the title, and the open window.
  rt.menus.records['l'] = {{"English"}, {"Fran\xC3\xA7" "ais"}};
  rt.menus.records['m'] = {{"Run", false, true}, {"go"}};
  bar.addMenu(QStringLiteral("&Edit"));
  doc.install_menus(false);
  rt.title = "Appli\xC3\xA9";
  rt.version = "Version 2";
  map.dispatch(11401);
  EXPECT_EQ(doc.title(), QString::fromUtf8("Appli\xC3\xA9"));
  EXPECT_EQ(doc.about_window()->windowTitle(), QString::fromUtf8("About Appli\xC3\xA9"));
  EXPECT_EQ(*map.state_of(kCmdHelp).text(), QString::fromUtf8("Appli\xC3\xA9 Help"));
  EXPECT_EQ(menu_find_by_text(&bar, QStringLiteral("Run")), 1);
  QStringList names;
  for (QAction* a : bar.actions()) names << a->text();
  EXPECT_EQ(names, (QStringList{"&Edit", "Run"}));  // no plots declared
}

TEST_F(Doc, IdleCheckAndNumberFormat) {
  rt.changed = true;
  doc.idle_check();
  EXPECT_EQ(views, 1);
  {
    RuntimeCallScope busy;
    doc.idle_check();  // inside a call into the runtime: skipped
  }
  rt.refresh_status = kRtNonexistentInstance;
  doc.idle_check();
  EXPECT_EQ(views, 1);
  EXPECT_EQ(rt.log.size(), 2u);

  QTemporaryDir dir;
  SettingsStore settings(dir.path() + QStringLiteral("/t.ini"));
  doc.write_number_format(&settings);
  EXPECT_EQ(settings.read_string(QStringLiteral("FormatType"), QString()), QStringLiteral("e"));
  EXPECT_EQ(settings.read_int(QStringLiteral("FormatNDigits"), 0), 9);
  EXPECT_EQ(settings.read_string(QStringLiteral("FormatImagSymbol"), QString()), QStringLiteral("i"));
  EXPECT_EQ(settings.read_int(QStringLiteral("FormatLoose"), 0), 1);
  rt.menus.block = false;
  doc.write_number_format(&settings);
  EXPECT_EQ(settings.read_string(QStringLiteral("FormatType"), QString()), QStringLiteral("g"));
  EXPECT_EQ(settings.read_int(QStringLiteral("FormatNDigits"), 0), 4);
}

}  // namespace
