// The main window: tool bar (Undo, Redo and the five tools), the status bar
// with the message pane and the "Running" pane, the figure view as its one
// pane, and the 10 ms timer that gives the engine its time slice and lets the
// document look for outside changes. It keeps its placement and bar state in
// the settings and cannot be made smaller than 320 x 240.
#pragma once

#include <functional>

#include <QMainWindow>
#include <QRect>

class BlockRuntime;
class CommandMap;
class RuntimeHost;
class SettingsStore;
class StatusPanes;
class TNView;

constexpr int kFrameTickMs = 10;
constexpr int kRunningPaneWidth = 64;
constexpr int kMinFrameWidth = 320, kMinFrameHeight = 240;
constexpr int kDefaultFrameWidth = 800, kDefaultFrameHeight = 600;

// A stored placement and whether it may be applied on a desktop of the given
// geometry: the rectangle is refused when any side is negative, it is
// inside out, or its right or bottom edge lies past 1000 pixels (whatever
// the desktop's size); a left or top edge within an icon's size of the
// desktop's far side is moved back (the far edges stay).
struct StoredPlacement {
  int32_t flags, show_cmd;
  int32_t left, top, right, bottom;
};
bool placement_restorable(StoredPlacement* p, const QRect& desktop, int icon_size);

enum : int32_t { kShowNormal = 1, kShowMinimized = 2, kShowMaximized = 3 };

class TNMainFrame : public QMainWindow {
 public:
  // The tool bar and the view: nothing here measures text, so start-up may
  // build them while the font configuration is still being read.
  TNMainFrame(RuntimeHost* host, BlockRuntime* rt, SettingsStore* settings, CommandMap* commands);
  ~TNMainFrame() override;

  // The status bar, whose panes measure text, and the bar state kept in the
  // settings; once.
  void add_status_bar();

  TNView* view() const { return view_; }
  StatusPanes* status_panes() const { return status_; }
  // Every 10 ms after the engine's slice (the documents' idle checks).
  void set_documents_tick(std::function<void()> tick) { documents_tick_ = std::move(tick); }
  // Before the window closes or the session ends (the document's settings).
  void set_before_close(std::function<void()> fn) { before_close_ = std::move(fn); }

  bool load_placement();
  void save_placement();
  // Bar state, placement and the before-close work, once: at close, or when
  // the session or the application ends first.
  void save_settings();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  RuntimeHost* host_;
  SettingsStore* settings_;
  CommandMap* commands_;
  TNView* view_ = nullptr;
  StatusPanes* status_ = nullptr;
  int tick_timer_ = 0;
  int update_countdown_ = 0;
  bool saved_ = false;
  std::function<void()> documents_tick_, before_close_;
};
