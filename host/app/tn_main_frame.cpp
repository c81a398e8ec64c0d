// The main window. The engine tick and the documents' idle checks skip the
// runtime while a call into it is under way (a modal dialog's nested loop);
// the tool bar's states are refreshed a few times a second, as a menu's are
// when it opens.
#include "host/app/tn_main_frame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QTimerEvent>
#include <QToolBar>

#include "engine/core/status.h"
#include "host/app/main_menu.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "host/app/tn_view.h"
#include "platform/bar_state.h"
#include "platform/command_map.h"
#include "platform/settings_store.h"
#include "platform/status_panes.h"
#include "runtime/runtime_block.h"

namespace {

constexpr int kToolBarUpdateTicks = 20;  // every 200 ms
// A stored rectangle reaching past this, in pixels, is not restored,
// whatever the size of the screen it is restored on.
constexpr int32_t kPlacementReach = 1000;
constexpr int kPanes = 2;
const char kBarSettings[] = "BarSettings";

}  // namespace

bool placement_restorable(StoredPlacement* p, const QRect& desktop, int icon_size) {
  if (p->left < 0 || p->right < 0 || p->top < 0 || p->bottom < 0) return false;
  if (p->left > p->right || p->top > p->bottom) return false;
  if (p->right > kPlacementReach || p->bottom > kPlacementReach) return false;
  const int32_t far_x = desktop.left() + desktop.width() - icon_size;
  const int32_t far_y = desktop.top() + desktop.height() - icon_size;
  if (p->left >= far_x) p->left = far_x;
  if (p->top >= far_y) p->top = far_y;
  return true;
}

TNMainFrame::TNMainFrame(RuntimeHost* host, BlockRuntime* rt, SettingsStore* settings, CommandMap* commands)
    : host_(host), settings_(settings), commands_(commands) {
  setObjectName(QStringLiteral("TNMainFrame"));
  setMinimumSize(kMinFrameWidth, kMinFrameHeight);
  tick_timer_ = startTimer(kFrameTickMs);

  QToolBar* bar = addToolBar(QStringLiteral("Standard"));
  bar->setObjectName(QStringLiteral("ToolBar"));
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->addAction(commands_->action(kCmdEditUndo));
  bar->addAction(commands_->action(kCmdEditRedo));
  bar->addSeparator();
  for (int c = kCmdToolFirst; c <= kCmdToolLast; ++c) bar->addAction(commands_->action(c));

  view_ = new TNView(host_, rt, settings_, commands_, this);
  setCentralWidget(view_);
  // Where no placement was kept: a window a figure can be worked in.
  resize(kDefaultFrameWidth, kDefaultFrameHeight);
}

void TNMainFrame::add_status_bar() {
  if (status_) return;
  status_ = new StatusPanes(kPanes, this);
  setStatusBar(status_);
  if (host_) host_->set_status_bar(status_);
  view_->set_status_bar(status_);
  const QByteArray state = QByteArray::fromBase64(settings_->read_string(QString::fromLatin1(kBarSettings), QString()).toLatin1());
  if (!state.isEmpty()) bar_state_restore(this, state);
}

TNMainFrame::~TNMainFrame() = default;

bool TNMainFrame::load_placement() {
  const QRect current = normalGeometry().isValid() ? normalGeometry() : geometry();
  StoredPlacement p{};
  p.flags = settings_->read_int(QStringLiteral("WindowFlags"), 0);
  p.show_cmd = settings_->read_int(QStringLiteral("WindowShowCmd"), isMaximized() ? kShowMaximized : kShowNormal);
  p.left = settings_->read_int(QStringLiteral("WindowLeft"), -1);
  p.right = settings_->read_int(QStringLiteral("WindowRight"), -1);
  p.top = settings_->read_int(QStringLiteral("WindowTop"), -1);
  p.bottom = settings_->read_int(QStringLiteral("WindowBottom"), -1);
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect desktop = screen ? screen->virtualGeometry() : QRect(0, 0, 1024, 768);
  const int icon = style()->pixelMetric(QStyle::PM_LargeIconSize);
  (void)current;
  if (!placement_restorable(&p, desktop, icon)) return false;
  setGeometry(QRect(QPoint(p.left, p.top), QPoint(p.right - 1, p.bottom - 1)));
  if (p.show_cmd == kShowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
  return true;
}

void TNMainFrame::save_placement() {
  const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
  const int32_t show = isMaximized() ? kShowMaximized : (isMinimized() ? kShowMinimized : kShowNormal);
  settings_->write_int(QStringLiteral("WindowFlags"), 0);
  settings_->write_int(QStringLiteral("WindowShowCmd"), show);
  settings_->write_int(QStringLiteral("WindowLeft"), r.left());
  settings_->write_int(QStringLiteral("WindowRight"), r.right() + 1);
  settings_->write_int(QStringLiteral("WindowTop"), r.top());
  settings_->write_int(QStringLiteral("WindowBottom"), r.bottom() + 1);
  // No command panel: its row's height is kept as 0.
  settings_->write_int(QStringLiteral("CmdPanelHeight"), 0);
}

void TNMainFrame::save_settings() {
  if (saved_) return;
  saved_ = true;
  // One rewrite of the file for every key saved here, the document's too.
  SettingsBatch batch(settings_);
  settings_->write_string(QString::fromLatin1(kBarSettings), QString::fromLatin1(saveState().toBase64()));
  save_placement();
  if (before_close_) before_close_();
}

void TNMainFrame::closeEvent(QCloseEvent* event) {
  save_settings();
  event->accept();
}

void TNMainFrame::timerEvent(QTimerEvent* event) {
  if (event->timerId() != tick_timer_) return QMainWindow::timerEvent(event);
  if (host_ && host_->has_block() && !host_runtime_busy()) {
    RuntimeCallScope scope;
    view_->prepare_runtime();
    // A tick that ran a task for its whole time slice: the next one comes a
    // full period after this one ends. A timer behind its time fires again
    // at once, and the window's own events (a menu to open, a redraw) would
    // find no time between the slices.
    if (rt_engine_tick(host_->block()) == kSliceEnded) {
      killTimer(tick_timer_);
      tick_timer_ = startTimer(kFrameTickMs);
    }
  }
  if (documents_tick_) documents_tick_();
  if (++update_countdown_ >= kToolBarUpdateTicks) {
    update_countdown_ = 0;
    for (QToolBar* bar : findChildren<QToolBar*>())
      for (QAction* a : bar->actions()) commands_->update_action(a);
  }
}
