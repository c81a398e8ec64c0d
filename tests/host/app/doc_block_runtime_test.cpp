// The document with the real runtime and a built application, the way a
// user drives it: the application's menus between "&Edit" and "F&igure",
// menu commands that run handlers and update the views, Copy As and Paste
// As through the clipboard, a language change, Reset Data, the command
// states the runtime answers, growth of the block under a handler, "Running"
// in the status bar, and the real value dialog opened from a handler.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include "engine/core/snapshot.h"
#include "graphics/interact/interaction.h"
#include "host/app/runtime_depth.h"
#include "host/ui/input_dialog.h"
#include "platform/status_panes.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/runtime_status.h"
#include "support/recording_driver.h"
#include "tests/host/app/doc_app_fixture.h"

namespace {

using docapp::Doc;
using docapp::submenu;
using docapp::texts;

// The tests' built-ins: one that fails the next init when asked, one that
// opens the host's value dialog, one that reads the "Running" pane, one that
// marks the instance changed from outside.
bool g_fail_init = false;
StatusPanes* g_panes = nullptr;

int push_or_none(EngineContext* c, int nargout, double v) { return nargout < 0 ? stk_push_no_value(c) : stk_push_real(c, v); }

int bi_fail_init(EngineContext* c, int, int nargout, uintptr_t) { return push_or_none(c, nargout, g_fail_init); }

int bi_ask(EngineContext* c, int, int nargout, uintptr_t data) {
  RuntimeBlock* b = reinterpret_cast<CallContext*>(data)->block;
  // Changed from outside while the dialog is open: the idle check must wait.
  inst_find_by_id(b, 0)->changed_outside = 1;
  char buffer[16] = "12";
  int32_t length = 2;
  const DialogRequest r{"Ask", 3, "Value?", 6, buffer, int32_t(sizeof buffer), &length, 0};
  if (!b->h.dialog.fn(&r, b->h.dialog.context)) return push_or_none(c, nargout, -1);
  return push_or_none(c, nargout, std::stod(std::string(buffer, size_t(length))));
}

int bi_running_shown(EngineContext* c, int, int nargout, uintptr_t) {
  return push_or_none(c, nargout, g_panes && g_panes->pane_text(kRunningPane) == QStringLiteral("Running"));
}

BuiltinEntry g_rows[] = {
    builtin_row("t_fail_init", 0, 0, 0, 1, 0, 0, bi_fail_init),
    builtin_row("t_ask", 0, 0, 0, 1, 0, 0, bi_ask),
    builtin_row("t_running_shown", 0, 0, 0, 1, 0, 0, bi_running_shown),
    builtin_end_row(),
};

const char kApp[] =
    "instance demo\n"
    "title \"Demo\"\n"
    "version \"Demo 1.0\"\n"
    "help \"How to use Demo\"\n"
    "var x\n"
    "init x = d_init()\n"
    "idle x = d_idle(x)\n"
    "entry \"Value\" _xdata, _xdatatype = d_copy(x)\n"
    "item \"Value\" x = d_paste(_xdata)\n"
    "menutitle \"Tools\"\n"
    "menu \"Bump\" x = d_bump(x)\n"
    "menu \"Rename\" _title = d_rename()\n"
    "menu \"Fail\" x = d_fail(x)\n"
    "separator\n"
    "menu \"Big\" x = d_big(x)\n"
    "menu \"Ask\" x = d_ask()\n"
    "menu \"Slow\" x = d_slow()\n"
    "section \"English;en\"\n"
    "menutitle \"Greeting\"\n"
    "menu \"Hello\" x = d_hello()\n"
    "section \"Francais;fr\"\n"
    "menutitle \"Salut\"\n"
    "menu \"Bonjour\" x = d_bonjour()\n"
    "endsection\n"
    "figure \"Main\"\n"
    "plot d_plot(x)\n"
    "figure \"Other\"\n"
    "plot d_plot(x)\n";

const char kSource[] =
    "function x = d_init()\n if t_fail_init(), error('cannot start'); end\n x = 1;\n"
    "function x = d_idle(x)\n"
    "function x = d_bump(x)\n x = x + 1;\n"
    "function t = d_rename()\n t = 'Demo renamed';\n"
    "function x = d_fail(x)\n error('bump failed');\n"
    "function x = d_big(x)\n persistent n\n if isempty(n)\n  n = 0;\n end\n n = n + 1;\n threadnew(@d_spin);\n"
    " x = sum(zeros(1, 400000)) + n - 1;\n"
    "function d_spin()\n while true\n end\n"
    "function x = d_ask()\n x = t_ask();\n"
    "function x = d_slow()\n s = 0;\n for k = 1:200000\n  s = s + k;\n end\n x = t_running_shown();\n"
    "function x = d_hello()\n x = 100;\n"
    "function x = d_bonjour()\n x = 200;\n"
    "function [d, t] = d_copy(x)\n d = x; t = 'value';\n"
    "function x = d_paste(d)\n x = d;\n"
    "function d_plot(x)\n plot([1 2 3], [x 2 1]);\n";

struct RealDoc : Doc {
  void SetUp() override {
    g_fail_init = false;
    g_panes = nullptr;
    ASSERT_NO_FATAL_FAILURE(start(kApp, kSource, g_rows));
  }
};

TEST_F(RealDoc, ApplicationMenusSitBetweenEditAndFigure) {
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "Tools", "&Plots", "F&igure", "&Layout", "&Help"}));
  EXPECT_EQ(texts(submenu(&bar, "Tools")), (QStringList{"Bump", "Rename", "Fail", "-", "Big", "Ask", "Slow"}));
  EXPECT_EQ(texts(submenu(&bar, "&Plots")), (QStringList{"&Remove", "-", "Main", "Other"}));
  EXPECT_EQ(texts(submenu(&bar, "&Edit")), (QStringList{"&Undo", "&Redo", "-", "&Copy", "Select &All", "-",
                                                        "Preferences", "Copy As", "Paste As", "Language"}));
  EXPECT_EQ(texts(submenu(submenu(&bar, "&Edit"), "Language")), (QStringList{"English", "Francais"}));
  // Installing again leaves one copy of everything.
  doc->install_menus(true);
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "Tools", "&Plots", "F&igure", "&Layout", "&Help"}));
  EXPECT_EQ(texts(submenu(&bar, "&Edit")).size(), 10);
  doc->remove_menus();
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "F&igure", "&Layout", "&Help"}));
  EXPECT_EQ(texts(submenu(&bar, "&Edit")).size(), 7);
}

TEST_F(RealDoc, AMenuCommandRunsItsHandlerAndUpdatesTheViews) {
  ASSERT_EQ(value("x"), 1);
  EXPECT_TRUE(click({"Tools", "Bump"}));
  EXPECT_EQ(value("x"), 2);
  EXPECT_EQ(views, 1);
  EXPECT_TRUE(rt_can_undo(block(), 0));
  EXPECT_EQ(host_runtime_depth(), 0);
  // A failing handler shows its message and leaves the value.
  EXPECT_TRUE(click({"Tools", "Fail"}));
  EXPECT_EQ(value("x"), 2);
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("bump failed"))) << dialogs.asked[0].toStdString();
}

TEST_F(RealDoc, CopyAsThenPasteAsRoundTripsAValueThroughTheClipboard) {
  ASSERT_TRUE(click({"Tools", "Bump"}));
  ASSERT_TRUE(click({"&Edit", "Copy As", "Value"}));
  const QString text = QGuiApplication::clipboard()->text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("%TN xdata \"value\"\n"))) << text.toStdString();
  EXPECT_FALSE(text.contains(QLatin1Char('\r')));
  ASSERT_TRUE(click({"Tools", "Bump"}));
  ASSERT_EQ(value("x"), 3);
  const int before = views;
  ASSERT_TRUE(click({"&Edit", "Paste As", "Value"}));
  EXPECT_EQ(value("x"), 2);
  EXPECT_EQ(views, before + 1);
  EXPECT_TRUE(dialogs.asked.isEmpty()) << dialogs.asked.join(QLatin1Char('\n')).toStdString();
  // Nothing on the clipboard: Paste As runs nothing.
  QGuiApplication::clipboard()->clear();
  ASSERT_TRUE(click({"Tools", "Bump"}));
  ASSERT_TRUE(click({"&Edit", "Paste As", "Value"}));
  EXPECT_EQ(value("x"), 3);
}

TEST_F(RealDoc, ALanguageChangeRebuildsMenusAndTitle) {
  EXPECT_EQ(doc->title(), QString());
  ASSERT_TRUE(click({"Tools", "Rename"}));  // 10201: the title waits for a menu change
  EXPECT_EQ(doc->title(), QString());
  ASSERT_TRUE(click({"&Edit", "Language", "English"}));
  EXPECT_EQ(doc->title(), QStringLiteral("Demo renamed"));
  EXPECT_EQ(texts(&bar),
            (QStringList{"&File", "&Edit", "Tools", "Greeting", "&Plots", "F&igure", "&Layout", "&Help"}));
  ASSERT_TRUE(click({"Greeting", "Hello"}));
  EXPECT_EQ(value("x"), 100);
  // The chosen language carries the check mark once the menu is about to
  // show, as every installed menu's items get their states.
  QMenu* languages = submenu(submenu(&bar, "&Edit"), "Language");
  languages->popup(QPoint(0, 0));
  EXPECT_EQ(languages->actions().at(0)->property("tn_check").toInt(), kCheckOn);
  EXPECT_TRUE(languages->actions().at(0)->isChecked());
  EXPECT_EQ(languages->actions().at(1)->property("tn_check").toInt(), kCheckOff);
  languages->hide();
  ASSERT_TRUE(click({"&Edit", "Language", "Francais"}));
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "Tools", "Salut", "&Plots", "F&igure", "&Layout", "&Help"}));
  ASSERT_TRUE(click({"Salut", "Bonjour"}));
  EXPECT_EQ(value("x"), 200);
  // Choosing the same language again changes nothing.
  ASSERT_TRUE(click({"&Edit", "Language", "Francais"}));
  EXPECT_EQ(texts(&bar), (QStringList{"&File", "&Edit", "Tools", "Salut", "&Plots", "F&igure", "&Layout", "&Help"}));
}

// Chosen from the open Language menu, the language rebuilds the menus, that
// one included, while the menu is still handling the key that chose it.
TEST_F(RealDoc, ALanguageChosenInItsOwnMenuRebuildsTheMenusSafely) {
  QMenu* languages = submenu(submenu(&bar, "&Edit"), "Language");
  ASSERT_NE(languages, nullptr);
  languages->popup(QPoint(0, 0));
  languages->setActiveAction(languages->actions().at(0));
  const QPointer<QMenu> chosen_in(languages);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(languages, &enter);
  EXPECT_EQ(texts(&bar),
            (QStringList{"&File", "&Edit", "Tools", "Greeting", "&Plots", "F&igure", "&Layout", "&Help"}));
  // The old menu is out of the menu bar but lives until its event is over.
  EXPECT_FALSE(chosen_in.isNull());
  EXPECT_NE(submenu(submenu(&bar, "&Edit"), "Language"), chosen_in.data());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(chosen_in.isNull());
  EXPECT_EQ(texts(submenu(submenu(&bar, "&Edit"), "Language")), (QStringList{"English", "Francais"}));
}

TEST_F(RealDoc, ResetDataRunsTheInitHandlersAndAFailingOneShowsItsMessage) {
  ASSERT_TRUE(click({"Tools", "Bump"}));
  ASSERT_EQ(value("x"), 2);
  const int before = views;
  ASSERT_TRUE(click({"&File", "&Reset Data\tCtrl+N"}));
  EXPECT_EQ(value("x"), 1);
  EXPECT_EQ(views, before + 1);
  EXPECT_TRUE(dialogs.asked.isEmpty());
  g_fail_init = true;
  ASSERT_TRUE(click({"&File", "&Reset Data\tCtrl+N"}));
  ASSERT_EQ(dialogs.asked.size(), 1);
  EXPECT_TRUE(dialogs.asked[0].startsWith(QStringLiteral("message||"))) << dialogs.asked[0].toStdString();
  EXPECT_TRUE(dialogs.asked[0].contains(QStringLiteral("cannot start"))) << dialogs.asked[0].toStdString();
  EXPECT_EQ(views, before + 1);
}

TEST_F(RealDoc, CommandStatesComeFromTheRuntime) {
  auto state = [this](int command) { return map.state_of(command); };
  EXPECT_TRUE(state(kCmdReset).enabled());
  // The instance has a figure, so it takes the mouse: the tools are on.
  for (int c = kCmdToolFirst; c <= kCmdToolLast; ++c) {
    EXPECT_TRUE(state(c).enabled()) << c;
    EXPECT_EQ(state(c).radio(), c == kCmdToolFirst) << c;
  }
  ASSERT_TRUE(map.dispatch(kCmdToolFirst + 1));
  EXPECT_EQ(interact_get_tool_mode(block()), kToolZoom);
  EXPECT_TRUE(state(kCmdToolFirst + 1).radio());
  // Layout: 1 x 1 checked; the change reaches the runtime.
  EXPECT_TRUE(state(kCmdLayoutFirst).radio());
  ASSERT_TRUE(map.dispatch(kCmdLayoutFirst + 4));  // 2 x 3
  int32_t rows = 0, columns = 0;
  inst_get_grid(block(), 0, &rows, &columns);
  EXPECT_EQ(rows * 10 + columns, 23);
  EXPECT_TRUE(state(kCmdLayoutFirst + 4).radio());
  EXPECT_FALSE(state(kCmdLayoutFirst).radio());
  ASSERT_TRUE(map.dispatch(kCmdLayoutFree));
  EXPECT_TRUE(state(kCmdLayoutFree).radio());
  EXPECT_FALSE(state(kCmdLayoutFirst + 4).radio());
  // Idle processing: on after the build's reset, switched off and on.
  EXPECT_TRUE(state(kCmdIdle).enabled());
  EXPECT_EQ(state(kCmdIdle).check(), kCheckOn);
  ASSERT_TRUE(map.dispatch(kCmdIdle));
  EXPECT_FALSE(inst_idle_running(block(), 0));
  ASSERT_TRUE(map.dispatch(kCmdIdle));
  EXPECT_TRUE(inst_idle_running(block(), 0));
  // The number display settings come back as they were set.
  rt_set_number_format(block(), 'e', 9, 'i', 1, 24, false);
  char letter = 0, imaginary = 0;
  int32_t digits = 0;
  bool loose = false;
  rt->number_format(&letter, &digits, &imaginary, &loose);
  EXPECT_EQ(std::string({letter, imaginary}), "ei");
  EXPECT_EQ(digits, 9);
  EXPECT_TRUE(loose);
  // The highlight preference reaches the block.
  rt->set_interactive_highlight(true);
  EXPECT_EQ(block()->h.interactive_highlight, 1);
  rt->set_interactive_highlight(false);
  EXPECT_EQ(block()->h.interactive_highlight, 0);
  // About and help carry the instance's texts; help's item names the title.
  EXPECT_TRUE(state(kCmdAbout).enabled());
  EXPECT_EQ(*state(kCmdHelp).text(), QStringLiteral("TN File Help"));
  ASSERT_TRUE(map.dispatch(kCmdHelp));
  ASSERT_NE(doc->help_window(), nullptr);
}

TEST_F(RealDoc, TheIdleCheckRefreshesAnInstanceChangedFromOutside) {
  const int before = views;
  doc->idle_check();
  EXPECT_EQ(views, before);
  inst_find_by_id(block(), 0)->changed_outside = 1;
  doc->idle_check();
  EXPECT_EQ(views, before + 1);
  EXPECT_FALSE(inst_changed_flag(block(), 0));
  doc->idle_check();
  EXPECT_EQ(views, before + 1);
}

TEST_F(RealDoc, RunningIsShownWhileAHandlerRunsAndClearedAfter) {
  StatusPanes panes(3);
  app.host->set_status_bar(&panes);
  g_panes = &panes;
  // A clock that moves a second per reading and a break poll that never
  // breaks: the handler runs in slices and passes the threshold at once.
  static double now = 0;
  static double clock_state[1];
  rt_set_clock_callback(block(), [](void*, int, int) { return now += 1.0; }, clock_state, int32_t(sizeof clock_state));
  rt_set_break_poll(block(), [](void*) -> uint8_t { return 0; }, nullptr);
  ASSERT_TRUE(click({"Tools", "Slow"}));
  EXPECT_EQ(value("x"), 1);
  EXPECT_EQ(panes.pane_text(kRunningPane), QString());
  app.host->set_status_bar(nullptr);
}

TEST_F(RealDoc, TheViewsCallsDrawThroughTheInstalledDriverAndUndo) {
  recdrv::Recorder rec;
  rt->set_graphics(&rec.table, &rec.context);
  ASSERT_EQ(rt->layout_subplots(0, 0, 400, 0, 300), 0);
  ASSERT_EQ(rt->refresh(0), 0);
  rt->draw_figure(0);
  EXPECT_NE(rec.take().find("polyline 3 "), std::string::npos);
  // One subplot into another rectangle, as copying it as a picture does.
  EXPECT_EQ(rt->draw_current_subplot(0, 0, 200, 0, 100), 0);
  EXPECT_NE(rec.take().find("polyline 3 "), std::string::npos);
  rt->invalidate_subplots(0);
  ASSERT_EQ(rt->layout_subplots(0, 0, 400, 0, 300), 0);
  // Undo and redo of a menu command.
  ASSERT_TRUE(click({"Tools", "Bump"}));
  EXPECT_TRUE(rt->can_undo(0));
  EXPECT_EQ(rt->undo(0), kRtHandledRedraw);
  EXPECT_EQ(value("x"), 1);
  EXPECT_TRUE(rt->can_redo(0));
  EXPECT_EQ(rt->redo(0), kRtHandledRedraw);
  EXPECT_EQ(value("x"), 2);
  // The drawn subplot holds a plot: Locked Scale applies and locks it.
  EXPECT_TRUE(map.state_of(kCmdLockedScale).enabled());
  EXPECT_EQ(map.state_of(kCmdLockedScale).check(), kCheckOff);
  ASSERT_TRUE(map.dispatch(kCmdLockedScale));
  EXPECT_EQ(map.state_of(kCmdLockedScale).check(), kCheckOn);
  // Idle steps: a due idle handler runs; none is due at once again.
  const int idle = rt->idle_step_redraw(0);
  EXPECT_TRUE(idle == 0 || idle == kRtHandledRedraw) << idle;
  rt->set_graphics(nullptr, nullptr);
}

// MemMax = MemMin: the block never grows, and a handler that needs more
// memory ends with its code, shown to the user; with room to grow the same
// handler runs, its effects (a task started, a persistent counter stepped)
// once whatever growth it needed.
TEST(RealDocGrowth, AFixedBlockNeverGrowsAndTheOverflowingHandlerEndsWithItsCode) {
  for (const bool fixed : {true, false}) {
    struct Growth : Doc {
      void TestBody() override {}
    } d;
    constexpr int32_t kMin = 2 << 20;
    ASSERT_NO_FATAL_FAILURE(d.start(kApp, kSource, g_rows, kMin, fixed ? kMin : 64 << 20));
    RuntimeBlock* before = d.block();
    ASSERT_TRUE(d.click({"Tools", "Big"}));
    if (fixed) {
      EXPECT_EQ(d.app.host->size(), kMin);
      EXPECT_EQ(d.block(), before);
      EXPECT_EQ(d.value("x"), 1);
      ASSERT_EQ(d.dialogs.asked.size(), 1);
      // The engine's report of the overflow, where the handler stopped.
      EXPECT_TRUE(d.dialogs.asked[0].startsWith(QStringLiteral("message||Data stack overflow (_TN_demo/d_big;")))
          << d.dialogs.asked[0].toStdString();
    } else {
      EXPECT_GT(d.app.host->size(), kMin);
      EXPECT_EQ(d.value("x"), 0);
      int tasks = 0;
      EngineContext* c = d.engine();
      for (int32_t t = c->task_first; t > 0 && tasks < 100; ++tasks)
        t = int32_t(reinterpret_cast<const uint32_t*>(heap_words(c) + t)[kTaskNext]);
      EXPECT_EQ(tasks, 1);
      EXPECT_TRUE(d.dialogs.asked.isEmpty()) << d.dialogs.asked.join(QLatin1Char('\n')).toStdString();
    }
    d.TearDown();
  }
}

// The real value dialog from a handler, closed by a timer: while it is open
// the engine tick and the idle check skip the runtime; afterwards both run
// again and the instance's idle processing is still on.
TEST_F(RealDoc, TheRealDialogFromAHandlerKeepsTimersOffTheRuntime) {
  QtDialogService qt_dialogs;
  DialogService* previous = dialog_service_set(&qt_dialogs);
  int ticks = 0, skipped = 0, views_in_dialog = -1;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    ++ticks;
    if (host_runtime_busy()) ++skipped;
    else rt_engine_tick(block());
    doc->idle_check();  // skips by itself while busy
  });
  tick.start(1);
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (skipped < 3) return;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dlg = dynamic_cast<InputDialog*>(w); dlg && dlg->isVisible()) {
        views_in_dialog = views;
        dlg->value_edit()->setPlainText(QStringLiteral("7"));
        dlg->accept();
      }
  });
  closer.start(5);
  const int before = views;
  ASSERT_TRUE(click({"Tools", "Ask"}));
  closer.stop();
  EXPECT_GE(skipped, 3);
  EXPECT_EQ(views_in_dialog, before);  // the changed instance waited
  EXPECT_EQ(value("x"), 7);
  EXPECT_EQ(host_runtime_depth(), 0);
  EXPECT_TRUE(inst_idle_running(block(), 0));
  // Afterwards the tick reaches the runtime and the idle check refreshes.
  const int after = ticks;
  while (ticks < after + 2) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_FALSE(inst_changed_flag(block(), 0));
  EXPECT_GE(views, before + 2);  // the command's update and the refresh
  dialog_service_set(previous);
}

}  // namespace

namespace {

// A host whose block could not be laid out: no runtime call is made, every
// status is the creation status and every query answers false or 0.
TEST(BlockRuntimeWithoutBlock, StatusesAreTheCreationStatusAndQueriesFalse) {
  RuntimeHost host(4096, 4096, 0, 2);
  ASSERT_FALSE(host.has_block());
  BlockRuntime rt(&host);
  const int32_t none = host.creation_status();
  ASSERT_NE(none, 0);
  const char* text = nullptr;
  int32_t n = 0, cursor = -1;
  bool sub = false, title = false;
  const int statuses[] = {
      rt.next_record(0, 'm', &cursor, &text, &n, &sub, &title), rt.next_language(0, &cursor, &text, &n),
      rt.menu_exec(0, 0), rt.call_text_handler(0, 0, "x", 1), rt.record_call(0, 0, &text, &n),
      rt.set_language(0, 0), rt.set_current_subplot(0, 0), rt.refresh_after_change(0), rt.reset(0),
      rt.get_title(0, &text, &n), rt.get_version(0, &text, &n), rt.get_help(0, &text, &n), rt.select_all(0),
      rt.layout_subplots(0, 0, 1, 0, 1), rt.refresh(0), rt.draw_current_subplot(0, 0, 1, 0, 1),
      rt.idle_step_redraw(0), rt.undo(0), rt.redo(0)};
  for (int s : statuses) EXPECT_EQ(s, none);
  const bool queries[] = {rt.has_block(), rt.capability(0, 4), rt.instance_known(0), rt.changed_flag(0),
                          rt.takes_mouse(0), rt.selection_has_plot(0), rt.subplot_query(0, &sub), rt.debug_flag(0),
                          rt.has_idle_handler(0), rt.idle_running(0), rt.has_any_handler(0),
                          rt.layout_is_free(0, &title), rt.can_undo(0), rt.can_redo(0),
                          rt.subplot_options(0).apply};
  for (bool q : queries) EXPECT_FALSE(q);
  EXPECT_EQ(rt.menu_item_state(0, 0, 0, nullptr, 0), 0);
  EXPECT_EQ(rt.can_select_subplot(0, 0), 0);
  EXPECT_EQ(rt.tool_mode(), kToolManipulate);
  EXPECT_EQ(rt.engine(), nullptr);
  EXPECT_EQ(rt.scale_flags(0).allowed, 0);
  EXPECT_EQ(rt.subplot_props(0).allowed, 0);
  // The setters do nothing.
  rt.set_tool_mode(kToolZoom);
  rt.set_grid(0, 2, 2);
  rt.free_layout(0, true);
  rt.subplots_apply(0);
  rt.set_scale_flags(0, 1, 1);
  rt.set_subplot_props(0, 1, 1);
  rt.set_subplot_option(0, kOptPerspective, true);
  rt.set_debug_flag(0, true);
  rt.mark_state(0, true);
  rt.invalidate_subplots(0);
  rt.draw_figure(0);
  rt.set_graphics(nullptr, nullptr);
  rt.set_interactive_highlight(true);
  char letter = 'g', imaginary = 'j';
  int32_t digits = 4;
  bool loose = false;
  rt.number_format(&letter, &digits, &imaginary, &loose);
  EXPECT_EQ(letter, 'g');
  EXPECT_EQ(digits, 4);
  EXPECT_EQ(host_runtime_depth(), 0);
}

}  // namespace
