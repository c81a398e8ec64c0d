// The document: the one TN instance of the appended application. It routes
// the figure, option, layout and application commands to the runtime,
// installs the application's menus, polls for outside changes, shows the
// About and Help texts and words runtime statuses for the user.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QString>

#include "host/app/doc_runtime.h"
#include "host/ui/app_menus.h"

class CommandMap;
class QMenuBar;
class RuntimeHost;
class QWidget;
class SettingsStore;
class TextFrame;
struct RuntimeBlock;

enum : int {
  kCmdReset = 10002,
  kCmdToolFirst = 10020, kCmdToolLast = 10024,  // manipulate, zoom, zoom x, drag, select
  kCmdLockedScale = 10030, kCmdLogX = 10031, kCmdLogY = 10032, kCmdDbY = 10033,
  kCmdPerspective = 10040, kCmdAutoUpVector = 10043,
  kCmdFrame = 10050, kCmdLegend = 10053,
  kCmdGridNone = 10060, kCmdGridFull = 10062,
  kCmdXGrid = 10070, kCmdZGrid = 10072,
  kCmdDebug = 10090, kCmdIdle = 10091,
  kCmdLayoutFirst = 10150, kCmdLayoutLast = 10158, kCmdLayoutFree = 10159, kCmdLayoutFixed = 10160,
  kCmdAbout = 10212, kCmdHelp = 10213,
  kCmdAppFirst = 11200, kCmdAppLast = 11999,
  kCmdPlotRemove = 12000, kCmdPlotLast = 12999,
};
constexpr int kTitleChars = 120;

class TNDoc {
 public:
  // menu_bar gives the frame's menu bar (null when there is none yet);
  // update_views redraws every view; owner parents the text windows and
  // message boxes.
  TNDoc(DocRuntime* runtime, CommandMap* commands, std::function<QMenuBar*()> menu_bar,
        std::function<void()> update_views, QWidget* owner);
  ~TNDoc();

  void install_menus(bool remove_layout);
  void remove_menus();
  // The title field (the About and Help texts name it) from the instance,
  // or the default title; the listener is told.
  void refresh_title();
  // At start-up: the window takes the instance's title, while the title
  // field stays empty until a menu command changes the title.
  void take_instance_title();
  // Every 10 ms from the main frame: refresh an instance changed from
  // outside. Skipped while a call into the runtime is under way.
  void idle_check();
  // Writes the number display settings (the main window closes or the
  // application is about to quit).
  void write_number_format(SettingsStore* settings);

  const QString& title() const { return title_; }
  // Reads the application appended to the program file into the host's
  // block; then the title, the application's menus and the views. False
  // (nothing shown) for any failure, which leaves the document untitled.
  bool LoadAppendedApplication(RuntimeHost* host, const QString& program);
  // The appended application's description text (the About box shows it).
  const QString& description() const { return description_; }
  // Called with the window's new title: the instance's at start-up, the
  // title field's whenever it is refreshed.
  void set_title_listener(std::function<void(const QString&)> fn) { title_listener_ = std::move(fn); }
  TextFrame* about_window() const { return about_.get(); }
  TextFrame* help_window() const { return help_.get(); }
  AppMenus& menus() { return menus_; }

 private:
  void route_commands();
  void report(int status, const char* fallback);
  void show_text_window(bool help);
  void set_text_window(TextFrame* frame, bool help, bool fetch);
  QString window_caption(bool help) const;
  void app_command(int number);
  void take_about_text(RuntimeBlock* block);

  DocRuntime* rt_;
  CommandMap* commands_;
  std::function<QMenuBar*()> menu_bar_;
  std::function<void()> update_views_;
  QWidget* owner_;
  AppMenus menus_;
  int32_t id_ = 0;
  QString default_title_, title_, description_;
  std::function<void(const QString&)> title_listener_;
  std::unique_ptr<TextFrame> about_, help_;
};
