// The document over the real runtime: an application built into an image by
// the builder, loaded into the program's runtime host, the document made on
// it with a menu bar laid out as the main window's, and helpers that find a
// command by its menu texts and dispatch it as a click does.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>

#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "host/app/block_runtime.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "platform/command_map.h"
#include "runtime/fake_host.h"
#include "runtime/handler_call.h"
#include "runtime/name_table.h"
#include "support/image_feed.h"
#include "tests/host/ui/scripted_dialogs.h"

namespace docapp {

struct LoadedApp {
  std::unique_ptr<AppRuntimeHost> host;
  std::string error;
};

// Builds the application in a block of MemMin bytes, then loads the image
// into a new program host (MemMin, MemMax). Both blocks register the host's
// table and `rows` (the tests' own built-ins) in the same order, so that the
// image's table fingerprint matches.
inline LoadedApp load_app(const std::string& description, const std::string& source, const BuiltinEntry* rows,
                          int32_t mem_min, int32_t mem_max) {
  LoadedApp out;
  FakeHost builder_host;
  if (builder_host.start(uint32_t(mem_min), uint32_t(mem_min)) != 0 ||
      rt_register_library(builder_host.block, g_builtin_table_host) != 0 ||
      (rows && rt_register_library(builder_host.block, rows) != 0)) {
    out.error = "builder block";
    return out;
  }
  tnbuild::Builder builder(builder_host.block, {{"demo", source}});
  if (!builder.build(description)) {
    out.error = builder.error + " " + builder_host.take_output();
    return out;
  }
  const tnbuild::Sections parts = builder.sections();
  out.host = std::make_unique<AppRuntimeHost>(mem_min, mem_max, 0, 2);
  RuntimeBlock* b = out.host->block();
  if (!b || rt_register_library(b, g_builtin_table_host) != 0 || (rows && rt_register_library(b, rows) != 0)) {
    out.error = "host block";
    return out;
  }
  tnbuild::RequestFeed feed{&parts, 0};
  const int status = rt_load_image(out.host->block_handle(), &tnbuild::RequestFeed::read, &feed);
  if (status != 0) out.error = "load " + std::to_string(status);
  return out;
}

inline QMenu* submenu(QWidget* w, const QString& text) {
  for (QAction* a : w->actions())
    if (a->text() == text) return a->menu();
  return nullptr;
}

inline QStringList texts(QWidget* w) {
  QStringList out;
  for (QAction* a : w->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return out;
}

struct Doc : ::testing::Test {
  LoadedApp app;
  std::unique_ptr<BlockRuntime> rt;
  CommandMap map;
  QMenuBar bar;
  int views = 0;
  std::unique_ptr<TNDoc> doc;
  ScriptedDialogs dialogs;

  // The menu bar of the main window: its fixed menus, the Edit menu with its
  // seven fixed items.
  void lay_out_bar() {
    for (const char* t : {"&File", "&Edit", "F&igure", "&Layout", "&Help"}) bar.addMenu(QString::fromLatin1(t));
    submenu(&bar, QStringLiteral("&File"))->addAction(map.action(kCmdReset, QStringLiteral("&Reset Data\tCtrl+N")));
    QMenu* edit = submenu(&bar, QStringLiteral("&Edit"));
    for (const char* t : {"&Undo", "&Redo", "-", "&Copy", "Select &All", "-"})
      if (t[0] == '-') edit->addSeparator(); else edit->addAction(QString::fromLatin1(t));
    edit->addMenu(QStringLiteral("Preferences"));
  }

  void start(const std::string& description, const std::string& source, const BuiltinEntry* rows = nullptr,
             int32_t mem_min = 2 << 20, int32_t mem_max = 64 << 20) {
    app = load_app(description, source, rows, mem_min, mem_max);
    ASSERT_TRUE(app.error.empty()) << app.error;
    rt = std::make_unique<BlockRuntime>(app.host.get());
    lay_out_bar();
    doc = std::make_unique<TNDoc>(rt.get(), &map, [this] { return &bar; }, [this] { ++views; }, nullptr);
    doc->install_menus(true);
  }
  void TearDown() override {
    doc.reset();
    QGuiApplication::clipboard()->clear();
  }

  RuntimeBlock* block() { return app.host->block(); }
  EngineContext* engine() { return rt_engine(block()); }

  // The command of the item at a path of menu texts from the menu bar; -1
  // when a text is missing.
  int command_at(const QStringList& path) {
    QWidget* menu = &bar;
    for (int k = 0; k < path.size(); ++k) {
      QAction* found = nullptr;
      for (QAction* a : menu->actions())
        if (a->text() == path[k]) found = a;
      if (!found) return -1;
      if (k + 1 == path.size()) return CommandMap::command_of(found);
      menu = found->menu();
      if (!menu) return -1;
    }
    return -1;
  }
  // Clicks the item: its state is computed first, a disabled one is dropped.
  bool click(const QStringList& path) {
    const int command = command_at(path);
    EXPECT_GE(command, 0) << path.join(QLatin1Char('/')).toStdString();
    return command >= 0 && map.dispatch(command);
  }

  int32_t code(const std::string& name) {
    const NameTable* t = rt_name_table(block());
    for (int32_t k = 0; k < t->count; ++k)
      if (std::string(name_entries(t)[k].name) == name) return name_entries(t)[k].code;
    ADD_FAILURE() << "no variable " << name;
    return 0;
  }
  // The variable as a real scalar; NaN when it is not one.
  double value(const std::string& name) {
    if (handler_push_input(block(), 0, false, code(name)) != 0) return -999;
    double v = 0;
    if (stk_pop_real_scalar(engine(), &v) != 0) {
      stk_drop(engine());
      return std::nan("");
    }
    return v;
  }
};

}  // namespace docapp
