// Command routing and menu states. An indeterminate check (the selected
// subplots differ) has no QAction form of its own: the item is unchecked and
// shows a dash icon, and the state is kept in the action's "tn_check"
// property, where tests read it.
#include "platform/command_map.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

namespace {

const char kCommandProperty[] = "tn_command";
const char kCheckProperty[] = "tn_check";
constexpr int kDashIconPixels = 16;

QIcon dash_icon() {
  static const QIcon icon = [] {
    QPixmap pm(kDashIconPixels, kDashIconPixels);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.fillRect(4, 7, 8, 2, Qt::black);
    return QIcon(pm);
  }();
  return icon;
}

}  // namespace

void CommandMap::route(int first, int last, CommandFn run, CommandUpdateFn update) {
  routes_.push_back(Route{first, last, std::move(run), std::move(update)});
}

const CommandMap::Route* CommandMap::find(int command) const {
  for (auto it = routes_.rbegin(); it != routes_.rend(); ++it)
    if (command >= it->first && command <= it->last) return &*it;
  return nullptr;
}

int CommandMap::command_of(const QAction* action) {
  const QVariant v = action->property(kCommandProperty);
  return v.isValid() ? v.toInt() : -1;
}

void CommandMap::connect_action(QAction* action) {
  connect(action, &QAction::triggered, this, [this, action] { dispatch(command_of(action)); });
}

QAction* CommandMap::action(int command, const QString& text) {
  auto it = actions_.find(command);
  if (it == actions_.end()) {
    QAction* a = new QAction(text, this);
    a->setProperty(kCommandProperty, command);
    connect_action(a);
    it = actions_.emplace(command, a).first;
  } else if (!text.isEmpty()) {
    it->second->setText(text);
  }
  return it->second;
}

QAction* CommandMap::add_to_menu(QMenu* menu, int command, const QString& text) {
  QAction* a = menu->addAction(text);
  a->setProperty(kCommandProperty, command);
  connect_action(a);
  return a;
}

void CommandMap::watch_menu(QMenu* menu) {
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { update_menu(menu); });
}

CommandState CommandMap::state_of(int command) const {
  CommandState st;
  const Route* r = find(command);
  if (r && r->update) r->update(command, &st);
  return st;
}

void CommandMap::update_action(QAction* a) const {
  const int command = command_of(a);
  if (command < 0) return;
  const CommandState st = state_of(command);
  a->setEnabled(st.enabled());
  const bool marked = st.has_radio() ? st.radio() : st.check() == kCheckOn;
  a->setCheckable(st.has_radio() || st.check() != kCheckOff || a->isCheckable());
  a->setChecked(marked);
  a->setIcon(st.check() == kCheckIndeterminate ? dash_icon() : QIcon());
  a->setProperty(kCheckProperty, st.has_radio() ? int(st.radio()) : st.check());
  if (const QString* t = st.text()) a->setText(*t);
}

void CommandMap::update_menu(QMenu* menu) const {
  for (QAction* a : menu->actions())
    if (!a->isSeparator() && !a->menu()) update_action(a);
}

void CommandMap::watch_shortcuts() { QCoreApplication::instance()->installEventFilter(this); }

bool CommandMap::eventFilter(QObject* watched, QEvent* event) {
  // The override event goes to the focus object before the shortcut map
  // matches the key; it is looked at, never taken.
  if (event->type() == QEvent::ShortcutOverride) {
    for (const auto& [command, a] : actions_)
      if (!a->shortcut().isEmpty()) update_action(a);
  }
  return QObject::eventFilter(watched, event);
}

bool CommandMap::dispatch(int command) {
  const Route* r = find(command);
  if (!r) return false;
  if (!state_of(command).enabled()) return false;
  if (r->run) r->run(command);
  return true;
}
