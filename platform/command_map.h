// Commands by number over QAction: each command number (or range of numbers)
// has a handler and an update handler. States are computed when a menu is
// about to show and again just before a command runs, so a shortcut or tool
// button of a command that has become disabled does nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include <QObject>
#include <QString>

class QAction;
class QMenu;

enum : int { kCheckOff = 0, kCheckOn = 1, kCheckIndeterminate = 2 };

// The state an update handler sets; fields it leaves alone keep their
// defaults (enabled, unchecked, no radio mark, the item's own text).
class CommandState {
 public:
  void enable(bool on) { enabled_ = on; }
  void set_check(int check) { check_ = check; }
  void set_radio(bool on) { radio_ = on; has_radio_ = true; }
  void set_text(const QString& text) { text_ = text; has_text_ = true; }

  bool enabled() const { return enabled_; }
  int check() const { return check_; }
  bool radio() const { return radio_; }
  bool has_radio() const { return has_radio_; }
  const QString* text() const { return has_text_ ? &text_ : nullptr; }

 private:
  bool enabled_ = true;
  int check_ = kCheckOff;
  bool radio_ = false, has_radio_ = false;
  QString text_;
  bool has_text_ = false;
};

using CommandFn = std::function<void(int command)>;
using CommandUpdateFn = std::function<void(int command, CommandState* state)>;

class CommandMap : public QObject {
 public:
  explicit CommandMap(QObject* parent = nullptr) : QObject(parent) {}

  // Routes first..last; a later route of the same numbers takes precedence.
  void route(int first, int last, CommandFn run, CommandUpdateFn update);
  // The one action of a command, made on first use (its text set when given).
  QAction* action(int command, const QString& text = QString());
  // A new action of the command in the given menu (menus the application
  // builds and removes again own theirs); it is updated and dispatched like
  // the command's own action.
  QAction* add_to_menu(QMenu* menu, int command, const QString& text);
  // Updates the actions of menu each time it is about to show.
  void watch_menu(QMenu* menu);

  // The state of command from its update handler (enabled with no handler).
  CommandState state_of(int command) const;
  // Applies the state to the action.
  void update_action(QAction* action) const;
  void update_menu(QMenu* menu) const;
  // Updates, then runs the command when it is enabled. False when dropped.
  bool dispatch(int command);
  // Brings the states of the actions with a key up to date before each key
  // is matched against them: a disabled action lets its key through (the
  // figure view swallows it), and the tool bar's timer refreshes them only a
  // few times a second, so a key pressed just after the state changed (Redo
  // right after Undo) was lost.
  void watch_shortcuts();

  static int command_of(const QAction* action);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Route {
    int first, last;
    CommandFn run;
    CommandUpdateFn update;
  };
  const Route* find(int command) const;
  void connect_action(QAction* action);

  std::vector<Route> routes_;
  std::map<int, QAction*> actions_;
};
