// The figure view. Every call into the runtime is made with the screen table
// and this view's context installed (prepare_runtime) and under the host's
// depth counter; work that runs handlers on a size change happens in the
// resize event, never while painting, and waits for a runtime call under way
// to end; a paint meanwhile shows the last picture. Mouse errors are shown
// once per drag, after the drag has ended and the pointer grab is released.
// Drag moves wait for one step to the newest of them, however many came in
// while one drew.
#include "host/app/tn_view.h"

#include <cmath>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPaintEvent>
#include <QPrinter>
#include <QScreen>
#include <QSvgGenerator>
#include <QTimer>
#include <QTimerEvent>
#include <QWheelEvent>

#include "graphics/interact/interaction.h"
#include "host/app/appearance.h"
#include "host/app/block_runtime.h"
#include "host/app/error_text.h"
#include "host/app/main_menu.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "host/app/tn_doc.h"
#include "platform/command_map.h"
#include "platform/dialog_service.h"
#include "platform/settings_store.h"
#include "platform/status_panes.h"
#include "platform/utf8_text.h"
#include "runtime/figure_draw.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "engine/core/status.h"
#include "runtime/runtime_status.h"

namespace {

constexpr int kStatusPane = 0;
constexpr int kWheelStep = 120;
// A move the runtime's mouse rate (100 moves a second) dropped is tried
// again after this long.
constexpr int kMovePaceMs = 10;
// A release waits for the drag's last step at most this many tries of it.
constexpr int kReleaseWaitTries = 5;
constexpr int32_t kKeyUp = 0xF700, kKeyDown = 0xF701, kKeyLeft = 0xF702, kKeyRight = 0xF703;
constexpr int32_t kKeyControlA = 1, kKeyBackspace = 8, kKeyTab = 9, kKeyReturn = 13, kKeyEscape = 27, kKeyDelete = 127;
constexpr double kCopyScale = 0.95;
constexpr int kPrintDpi = 300;
constexpr int kPrinterFontPoints = 10;
constexpr double kScreenDpi = 96.0, kPointsPerInch = 72.0;
constexpr int kMillimetreHundredthsPerInch = 2540;

// Statuses of the mouse entries that are no error for the user.
bool quiet_mouse_status(int s) {
  return s == 0 || s == kRtHandledRedraw || s == kRtNoInteraction || s == kRtNoHandler || s == kCancel;
}

// What a copy or a page tells of its drawing: the memory it ran out of,
// building the plots or drawing them (a handler's own error is told where
// the window tells it). 0 when the figure was drawn whole.
int output_failure(int refreshed, int drawn) {
  if (rt_is_memory_code(refreshed)) return refreshed;
  return rt_is_memory_code(drawn) ? drawn : 0;
}

// Draws through the driver into any paint device: a copy or a print. The
// view's own context is put back by the caller.
struct DevicePaint {
  QPainter painter;
  QtDriverTarget target;
  GraphicsDriverContext ctx{};
  // unit: device pixels per drawing unit (1 but for a page).
  DevicePaint(QPaintDevice* device, BlockRuntime* rt, const GraphicsDriver* table, const QFont& font,
              double unit = 1.0) {
    painter.begin(device);
    if (unit != 1.0) painter.scale(unit, unit);
    appearance_fill_context(&ctx);
    appearance_set_font(&ctx, font);
    qt_target_begin(&target, &painter, &ctx);
    rt->set_graphics(table, &ctx);
  }
  ~DevicePaint() {
    qt_target_end(&target, &ctx);
    painter.end();
  }
};

}  // namespace

int32_t pixels_to_himetric(int32_t pixels, double dots_per_inch) {
  if (dots_per_inch <= 0) return 0;
  return int32_t(std::lround(double(pixels) * kMillimetreHundredthsPerInch / dots_per_inch));
}

bool cursor_for_kind(int32_t kind, Qt::CursorShape* shape) {
  static const Qt::CursorShape kShapes[15] = {
      Qt::ArrowCursor,                                  // 0 nothing to do
      Qt::PointingHandCursor,                           // 1 manipulate
      Qt::CrossCursor,        Qt::CrossCursor,          // 2, 3 zoom in, out
      Qt::SplitHCursor,       Qt::SplitHCursor,         // 4, 5 zoom x in, out
      Qt::OpenHandCursor,     Qt::SizeHorCursor,        // 6, 7 drag, drag along x
      Qt::ArrowCursor,                                  // 8 select or resize
      Qt::SizeAllCursor,      Qt::SizeAllCursor,        // 9, 10 orbit
      Qt::SizeBDiagCursor,                              // 11 roll
      Qt::ClosedHandCursor,                             // 12 pan and tilt
      Qt::SizeHorCursor,      Qt::SizeVerCursor,        // 13, 14 dolly
  };
  if (kind < 0 || kind > 14) return false;
  *shape = kShapes[kind];
  return true;
}

double wheel_notches(int angle_delta_y) { return -double(angle_delta_y) / kWheelStep; }

int32_t view_key_code(int key, Qt::KeyboardModifiers modifiers, const QString& text) {
  // Alt with any key belongs to the menus' mnemonics and to the window
  // manager (Alt+F4, Alt+Tab), also where no menu takes it. (AltGr, which
  // types characters, is no Alt to X11.)
  if (modifiers.testFlag(Qt::AltModifier)) return 0;
  // The arrows and the editing keys by the key, whatever text the keyboard
  // layout gives them: text fields and the figure shortcuts take these
  // codes. Shift+Tab comes as a key of its own and is a Tab as well.
  switch (key) {
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Up: return kKeyUp;
    case Qt::Key_Right: return kKeyRight;
    case Qt::Key_Down: return kKeyDown;
    case Qt::Key_Backspace: return kKeyBackspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return kKeyTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return kKeyReturn;
    case Qt::Key_Escape: return kKeyEscape;
    case Qt::Key_Delete: return kKeyDelete;
    default: break;
  }
  // Ctrl with a letter is its control code on every platform, also where
  // the text of the press is empty or the letter itself.
  if (modifiers.testFlag(Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z)
    return int32_t(key - Qt::Key_A) + kKeyControlA;
  if (text.isEmpty()) return 0;
  // Other control codes (Ctrl+[ gives 27) pass as the text has them.
  const char16_t c = text[0].unicode();
  return c != 0 && c != kKeyDelete ? int32_t(c) : 0;
}

namespace {

bool menu_binds(const QWidget* menu, const QKeySequence& key) {
  for (const QAction* a : menu->actions()) {
    if (a->menu() && menu_binds(a->menu(), key)) return true;
    for (const QKeySequence& s : a->shortcuts())
      if (s.matches(key) == QKeySequence::ExactMatch) return true;
  }
  return false;
}

}  // namespace

bool menus_bind_key(const QWidget* window, QKeyCombination pressed) {
  // The keypad's digits are the digits a shortcut names.
  const QKeySequence key(QKeyCombination(pressed.keyboardModifiers() & ~Qt::KeypadModifier, pressed.key()));
  for (const QMenuBar* bar : window->findChildren<QMenuBar*>())
    if (menu_binds(bar, key)) return true;
  return false;
}

uint8_t view_shift(Qt::KeyboardModifiers modifiers) { return modifiers.testFlag(Qt::ShiftModifier) ? 1 : 0; }

TNView::TNView(RuntimeHost* host, BlockRuntime* rt, SettingsStore* settings, CommandMap* commands, QWidget* parent)
    : QWidget(parent), host_(host), rt_(rt), settings_(settings), commands_(commands) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  graphics_context_defaults(&ctx_);
  const QFont font = figure_font_saved(settings_);
  setFont(font);
  gdi_set_figure_font(font);
  // The back buffer is begun at the first resize or runtime call, not here:
  // beginning it loads the figure font, which start-up defers.
  idle_timer_ = startTimer(kViewIdleMs);
}

TNView::~TNView() {
  if (has_block()) {
    rt_->set_graphics(&kEmptyGraphicsDriver, nullptr);
  }
  end_buffer();
}

bool TNView::has_block() const { return host_ && host_->has_block(); }

void TNView::begin_buffer(int width, int height) {
  end_buffer();
  buffer_ = QImage(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32);
  buffer_.fill(palette().color(QPalette::Window));
  painter_.begin(&buffer_);
  appearance_fill_context(&ctx_);
  qt_target_begin(&target_, &painter_, &ctx_);
}

void TNView::end_buffer() {
  if (!painter_.isActive()) return;
  qt_target_end(&target_, &ctx_);
  painter_.end();
}

void TNView::prepare_runtime() {
  gdi_screen_driver_install(host_);
  // The appearance may have changed since the buffer was begun (preferences,
  // the figure font): the driver reads it from the context at each call.
  appearance_fill_context(&ctx_);
  if (!painter_.isActive()) begin_buffer(cached_w_, cached_h_);
  if (has_block()) rt_->set_graphics(&g_qt_screen_driver, &ctx_);
}

void TNView::layout_to_size() {
  if (!has_block()) return;
  prepare_runtime();
  rt_->layout_subplots(kInstanceId, 0, cached_w_, 0, cached_h_);
  // A plot handler that runs out of memory past MemMax leaves its figure
  // without its plot: the window says why, once until a refresh succeeds.
  const int status = rt_->refresh_after_change(kInstanceId);
  const bool fresh = rt_is_memory_code(status) && refresh_error_ == 0;
  refresh_error_ = rt_is_memory_code(status) ? status : 0;
  if (fresh) tell_later(status);
}

void TNView::relayout() {
  layout_to_size();
  invalidate();
}

void TNView::resizeEvent(QResizeEvent*) {
  if (width() == cached_w_ && height() == cached_h_) return;
  cached_w_ = width();
  cached_h_ = height();
  // The last picture stays in the new bitmap until the figure is drawn in
  // the new size: a handler that lays it out may take a while, and a paint
  // that comes meanwhile shows that rather than an empty window.
  const QImage last = buffer_;
  begin_buffer(cached_w_, cached_h_);
  if (!last.isNull()) {
    painter_.save();
    painter_.resetTransform();
    painter_.setClipping(false);
    painter_.drawImage(0, 0, last);
    painter_.restore();
  }
  dirty_ = true;
  layout_pending_ = true;
  settle();
}

void TNView::settle() {
  // A resize that comes while a handler runs (a dialog's own event loop)
  // waits for its end: the runtime is in no state to lay out or refresh.
  if (host_runtime_busy()) return settle_when_free();
  if (layout_pending_) {
    layout_pending_ = false;
    layout_to_size();
    dirty_ = true;
  }
  if (dirty_) update();
}

void TNView::settle_when_free() {
  if (settle_posted_) return;
  settle_posted_ = true;
  QTimer::singleShot(kViewIdleMs, this, [this] {
    settle_posted_ = false;
    settle();
  });
}

void TNView::render() {
  prepare_runtime();
  painter_.save();
  painter_.setClipping(false);
  painter_.fillRect(buffer_.rect(), palette().color(QPalette::Window));
  painter_.restore();
  drawing_failed(rt_->draw_figure(kInstanceId));
  dirty_ = false;
  ++renders_;
}

void TNView::drawing_failed(int status) {
  const bool fresh = status != 0 && draw_error_ == 0;
  draw_error_ = status;
  if (fresh) tell_later(status);
}

void TNView::tell_later(int status) {
  // Never from inside a paint or a layout: the message box runs its own
  // event loop.
  QMetaObject::invokeMethod(
      this,
      [this, status] {
        if (!has_block()) return;
        dialog_service()->message(
            window(), QString(), QString::fromStdString(error_text_for_display(rt_engine(host_->block()), status)),
            false);
      },
      Qt::QueuedConnection);
}

void TNView::paintEvent(QPaintEvent* event) {
  // A paint while the runtime is busy (the status bar's "Running" repaints
  // the window, a handler's dialog is open) must not draw the plot lists a
  // handler is rebuilding, nor frames not yet laid out in the view's size:
  // it shows the last picture, and the figure is drawn once the call ends.
  if (dirty_ && (host_runtime_busy() || layout_pending_)) settle_when_free();
  else if (dirty_) render();
  QPainter p(this);
  p.drawImage(event->rect(), buffer_, event->rect());
}

void TNView::redraw_now() {
  dirty_ = true;
  repaint();
}

void TNView::invalidate() {
  dirty_ = true;
  update();
}

void TNView::show_status(int status) {
  // 0 leaves the figure as it is, but the interaction may have drawn its
  // feedback (a zoom band, a frame outline, selection marks) into the back
  // buffer: the screen shows it while the button is still held.
  if (status != 0) redraw_now();
  else update();
}

void TNView::status_text(const char* text, int32_t length) {
  if (status_) status_->set_pane_text(kStatusPane, cstring_from_bytes(text, length));
}

void TNView::drag_error(int status) {
  if (!quiet_mouse_status(status) && drag_error_ == 0) drag_error_ = status;
}

void TNView::tool_down(double x, double y, bool shift) {
  int status = kRtNoInteraction;
  drag_error_ = 0;
  if (has_block()) {
    RuntimeCallScope scope;
    prepare_runtime();
    status = interact_mouse_down(host_->block_handle(), kInstanceId, x, y, shift);
  }
  dragging_ = status == 0 || status == kRtHandledRedraw;
  drag_error(status);
  show_status(status);
  if (!dragging_ && drag_error_) {
    const int shown = drag_error_;
    drag_error_ = 0;
    dialog_service()->message(window(), QString(),
                              QString::fromStdString(error_text_for_display(rt_engine(host_->block()), shown)), false);
  }
}

int TNView::tool_move(double x, double y, bool shift, bool button) {
  char text[kStatusTextBytes + 1] = {};
  int32_t length = 0;
  if (button && dragging_) {
    int status = kRtNoInteraction;
    if (has_block()) {
      RuntimeCallScope scope;
      prepare_runtime();
      status = interact_mouse_move(host_->block_handle(), kInstanceId, x, y, shift, text, kStatusTextBytes, &length);
    }
    if (status == kRtNoHandler) return status;
    dragging_ = status == 0 || status == kRtHandledRedraw;
    drag_error(status);
    if (dragging_) status_text(text, length);
    show_status(status);
    return status;
  }
  int status = kRtNoInteraction;
  if (has_block()) {
    RuntimeCallScope scope;
    prepare_runtime();
    status = interact_mouse_hover(host_->block_handle(), kInstanceId, x, y, shift, text, kStatusTextBytes, &length);
  }
  if (status == kRtHandledRedraw) {
    redraw_now();
    status_text(text, length);
  } else if (status == 0) {
    status_text(text, length);
  } else if (!quiet_mouse_status(status) && has_block()) {
    // A hover handler's error goes to the message pane, not a message box.
    const std::string e = error_text_for_display(rt_engine(host_->block()), status);
    status_text(e.data(), int32_t(e.size()));
  } else {
    status_text("", 0);
  }
  dragging_ = false;
  middle_drag_ = false;
  return status;
}

void TNView::queue_move(double x, double y, bool shift) {
  move_.x = x, move_.y = y, move_.shift = shift;
  move_.waiting = true;
  if (move_.posted) return;
  move_.posted = true;
  // Posted behind the window events already queued: a burst of moves read
  // while a step drew comes in before the step runs.
  QMetaObject::invokeMethod(this, &TNView::run_queued_move, Qt::QueuedConnection);
}

void TNView::run_queued_move() {
  move_.posted = false;
  if (!move_.waiting) {
    // The step was taken elsewhere (a wheel turn flushes it).
    if (move_.release) release_now();
    return;
  }
  if (host_runtime_busy()) {
    // A handler's dialog or menu runs its own event loop: the step waits
    // for its end, as the moves themselves would have.
    move_.posted = true;
    QTimer::singleShot(kViewIdleMs, this, &TNView::run_queued_move);
    return;
  }
  flush_move();
  if (move_.release && (!move_.waiting || ++move_.release_tries >= kReleaseWaitTries)) return release_now();
  // The runtime drops moves closer together than its mouse rate; the
  // latest one is tried again once the rate allows it, so that the figure
  // ends where the pointer stopped.
  if (move_.waiting && !move_.posted) {
    move_.posted = true;
    QTimer::singleShot(kMovePaceMs, this, &TNView::run_queued_move);
  }
}

void TNView::flush_move() {
  if (!move_.waiting || host_runtime_busy()) return;
  move_.waiting = false;
  if (tool_move(move_.x, move_.y, move_.shift, true) == kRtNoHandler && dragging_) move_.waiting = true;
}

void TNView::tool_up(bool shift) {
  if (!dragging_) return;
  int status = kRtNoInteraction;
  if (has_block()) {
    RuntimeCallScope scope;
    prepare_runtime();
    status = interact_mouse_up(host_->block_handle(), kInstanceId, shift);
  }
  dragging_ = false;
  drag_error(status);
  show_status(status);
}

void TNView::mousePressEvent(QMouseEvent* e) {
  if (move_.release) release_now();
  flush_move();
  const QPointF p = e->position();
  const bool shift = view_shift(e->modifiers());
  if (e->button() == Qt::LeftButton) {
    tool_down(p.x(), p.y(), shift);
  } else if (e->button() == Qt::MiddleButton) {
    middle_drag_ = true;
    tool_down(p.x(), p.y(), true);
  } else {
    QWidget::mousePressEvent(e);
  }
}

void TNView::mouseMoveEvent(QMouseEvent* e) {
  // A hover would end the drag before its release has taken its last step.
  if (move_.release) return;
  const QPointF p = e->position();
  const bool left = e->buttons().testFlag(Qt::LeftButton);
  const bool middle = e->buttons().testFlag(Qt::MiddleButton);
  // A move with the middle button counts as one with the left button and
  // Shift; the middle drag ends at the first move after its release.
  const bool shift = view_shift(e->modifiers()) || middle;
  if ((left || middle) && dragging_) {
    queue_move(p.x(), p.y(), shift);
  } else {
    flush_move();
    tool_move(p.x(), p.y(), shift, left || middle);
  }
  update_cursor();
}

void TNView::mouseReleaseEvent(QMouseEvent* e) {
  flush_move();
  const bool shift = view_shift(e->modifiers());
  if (e->button() == Qt::LeftButton && move_.waiting && dragging_) {
    // The mouse rate holds the drag's last step back: a view busy drawing
    // reads a whole drag at once, its moves right after the hover that
    // brought the pointer there. The release waits for the step, so that
    // the drag ends where the pointer did.
    move_.release = true;
    move_.release_shift = shift;
    move_.release_tries = 0;
    if (!move_.posted) {
      move_.posted = true;
      QTimer::singleShot(kMovePaceMs, this, &TNView::run_queued_move);
    }
    return;
  }
  move_.waiting = false;  // a middle drag's held step goes with the drag
  if (e->button() == Qt::LeftButton) {
    tool_up(shift);
  } else if (e->button() == Qt::MiddleButton) {
    // No button-up of its own: the next move, a hover, ends the drag.
  }
  tell_drag_error();
}

void TNView::release_now() {
  move_.release = false;
  move_.waiting = false;
  tool_up(move_.release_shift);
  tell_drag_error();
}

void TNView::tell_drag_error() {
  if (!dragging_ && drag_error_ && has_block()) {
    const int shown = drag_error_;
    drag_error_ = 0;
    dialog_service()->message(window(), QString(),
                              QString::fromStdString(error_text_for_display(rt_engine(host_->block()), shown)), false);
  }
}

void TNView::wheelEvent(QWheelEvent* e) {
  const QPointF p = e->position();
  char text[kStatusTextBytes + 1] = {};
  int32_t length = 0;
  if (!has_block()) return status_text("", 0);
  flush_move();
  int status;
  {
    RuntimeCallScope scope;
    prepare_runtime();
    status = interact_mouse_wheel(host_->block_handle(), kInstanceId, p.x(), p.y(), 0.0,
                                  wheel_notches(e->angleDelta().y()), view_shift(e->modifiers()), text,
                                  kStatusTextBytes, &length);
  }
  if (status == kRtHandledRedraw) {
    redraw_now();
    status_text(text, length);
  } else if (status != 0) {
    status_text("", 0);
    if (!quiet_mouse_status(status))
      dialog_service()->message(window(), QString(),
                                QString::fromStdString(error_text_for_display(rt_engine(host_->block()), status)),
                                false);
  } else {
    status_text(text, length);
  }
}

void TNView::contextMenuEvent(QContextMenuEvent* e) {
  const QPoint p = e->pos();
  if (has_block()) {
    RuntimeCallScope scope;
    prepare_runtime();
    if (interact_context_click(host_->block_handle(), kInstanceId, p.x(), p.y()) == kRtHandledRedraw) redraw_now();
  }
  QMenu* menu = figure_options_menu(commands_, this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  if (has_block() && doc_ && inst_capability(host_->block(), kInstanceId, 4)) {
    QMenu* plots = new QMenu(QStringLiteral("&Plots"), menu);
    commands_->watch_menu(plots);
    if (doc_->menus().figure_context_menu(plots, kCmdPlotRemove, kCmdPlotRemove + 1)) {
      QAction* first = menu->actions().value(0);
      menu->insertMenu(first, plots);
      menu->insertSeparator(first);
    }
  }
  commands_->update_menu(menu);
  menu->popup(e->globalPos());
}

void TNView::key_code(int code, QKeyEvent* event) {
  int status = host_ ? host_->creation_status() : kRtNoInteraction;
  if (has_block()) {
    RuntimeCallScope scope;
    prepare_runtime();
    status = inst_key_event(host_->block_handle(), kInstanceId, code);
  }
  if (status == kRtHandledRedraw) invalidate();
  else if (status != 0) QWidget::keyPressEvent(event);
}

bool TNView::event(QEvent* e) {
  // Tab and Shift+Tab would move the focus before the key event: they go to
  // the figure's key handlers first, and move the focus only when nothing
  // there takes them. The press is handed on once, whatever the handler
  // answered: QWidget::event would hand an ignored press to keyPressEvent a
  // second time.
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    const bool tab = k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab;
    if (tab && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      k->accept();
      keyPressEvent(k);
      if (!k->isAccepted()) {
        const bool forward = k->key() == Qt::Key_Tab && !k->modifiers().testFlag(Qt::ShiftModifier);
        if (focusNextPrevChild(forward)) k->accept();
      }
      return true;
    }
  }
  return QWidget::event(e);
}

void TNView::keyPressEvent(QKeyEvent* e) {
  flush_move();
  if (e->key() == Qt::Key_Pause || (e->key() == Qt::Key_Cancel && (e->modifiers() & Qt::ControlModifier))) {
    if (break_flag_) break_flag_->store(1);
    return;
  }
  // A key a menu binds is its command's, enabled or not: a disabled
  // command's shortcut lets the press through to the view, and here it is
  // swallowed rather than made a character (Ctrl+Z with nothing to undo
  // would otherwise reach a key handler, whose change enables Undo).
  if (menus_bind_key(window(), e->keyCombination())) {
    e->accept();
  } else if (const int32_t code = view_key_code(e->key(), e->modifiers(), e->text()); code > 0) {
    key_code(code, e);
  } else {
    QWidget::keyPressEvent(e);
  }
  update_cursor();
}

void TNView::keyReleaseEvent(QKeyEvent* e) {
  QWidget::keyReleaseEvent(e);
  update_cursor();
}

void TNView::enterEvent(QEnterEvent*) { update_cursor(); }

// The pointer left the figure: the subplot it hovered over ends its pending
// manipulation (its leave handler runs).
void TNView::leaveEvent(QEvent*) {
  if (!has_block() || dragging_ || host_runtime_busy()) return;
  int status;
  {
    RuntimeCallScope scope;
    prepare_runtime();
    status = interact_end_pending(host_->block_handle(), kInstanceId, true, nullptr);
  }
  if (status == kRtHandledRedraw) invalidate();
  status_text("", 0);
}

// A text field being edited takes its text when the view loses the focus.
void TNView::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  if (!has_block() || host_runtime_busy()) return;
  int status;
  {
    RuntimeCallScope scope;
    prepare_runtime();
    status = interact_commit_textfield(host_->block_handle(), kInstanceId);
  }
  if (status == kRtHandledRedraw) invalidate();
}

void TNView::update_cursor() {
  // The pointer is grabbed during a drag: no cursor query then, since its
  // hit test would overwrite the event state the drag works on.
  if (dragging_) return;
  const QPoint p = mapFromGlobal(QCursor::pos());
  if (!rect().contains(p)) return;
  int32_t kind = 0;
  if (has_block() && !host_runtime_busy()) {
    RuntimeCallScope scope;
    prepare_runtime();
    kind = interact_cursor_kind(host_->block_handle(), kInstanceId, p.x(), p.y(),
                                view_shift(QGuiApplication::queryKeyboardModifiers()));
  }
  Qt::CursorShape shape;
  if (cursor_for_kind(kind, &shape)) setCursor(shape);
}

void TNView::timerEvent(QTimerEvent* e) {
  if (e->timerId() != idle_timer_) return QWidget::timerEvent(e);
  flush_move();
  if (!has_block() || host_runtime_busy() || dragging_) return;
  prepare_runtime();
  if (rt_->idle_step_redraw(kInstanceId) == kRtHandledRedraw) redraw_now();
}

void TNView::on_undo() {
  prepare_runtime();
  if (rt_->undo(kInstanceId) == kRtHandledRedraw) invalidate();
}

void TNView::on_redo() {
  prepare_runtime();
  if (rt_->redo(kInstanceId) == kRtHandledRedraw) invalidate();
}

void TNView::on_select_all() {
  if (!has_block()) return;
  RuntimeCallScope scope;
  prepare_runtime();
  inst_select_all(host_->block(), kInstanceId);
  invalidate();
}

void TNView::on_figure_font() {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, gdi_figure_font(), window(), QString(),
                                            QFontDialog::DontUseNativeDialog);
  if (!ok) return;
  QFont font = chosen;
  if (font.pixelSize() <= 0) font.setPixelSize(QFontInfo(chosen).pixelSize());
  {
    SettingsBatch batch(settings_);
    settings_->write_string(QStringLiteral("FigFontName"), font.family());
    settings_->write_int(QStringLiteral("FigFontSize"), -font.pixelSize());
  }
  set_figure_font(font);
}

void TNView::set_figure_font(const QFont& font) {
  setFont(font);
  gdi_set_figure_font(font);
  // The back buffer's driver target measures text in the font it began with,
  // and each subplot keeps the margins it was laid out with: the target
  // begins anew and every subplot is laid out again, as at start-up.
  begin_buffer(cached_w_, cached_h_);
  rt_->invalidate_subplots(kInstanceId);
  relayout();
}

void TNView::on_edit_copy() {
  // The frame of the selected subplot, or of the figure.
  double x0 = 0, x1 = 100, y0 = 0, y1 = 100;
  if (has_block()) inst_subplot_frame(host_->block(), kInstanceId, &x0, &x1, &y0, &y1);
  const int w = std::max(1, int(x1 - x0)), h = std::max(1, int(y1 - y0));
  const QFont font = figure_font_saved(settings_);
  const int half_height = QFontMetrics(font).height() / 2;
  GraphicsDriverValues values = kMetafileValuesBase;
  values.gridStepX = values.gridStepY = half_height;
  // Draws the selected subplot, or the figure, laid out in 95 % of the view.
  // The first memory failure of the two drawings is told once.
  FigureFrames screen{};
  if (has_block()) inst_frames_keep(host_->block(), kInstanceId, &screen);
  int failure = 0;
  auto draw = [&](QPaintDevice* device, GraphicsDriver* table) {
    if (!has_block()) return;
    table->values = values;
    DevicePaint paint(device, rt_, table, font);
    rt_->layout_subplots(kInstanceId, 0, kCopyScale * cached_w_, 0, kCopyScale * cached_h_);
    const int refreshed = rt_->refresh_after_change(kInstanceId);
    const int drawn = rt_->draw_current_subplot(kInstanceId, 0, w, 0, h);
    if (failure == 0) failure = output_failure(refreshed, drawn);
  };
  QByteArray svg;
  {
    QBuffer out(&svg);
    out.open(QIODevice::WriteOnly);
    QSvgGenerator gen;
    gen.setOutputDevice(&out);
    gen.setSize(QSize(w, h));
    gen.setViewBox(QRect(0, 0, w, h));
    gen.setTitle(QStringLiteral("Tarnivel"));
    gen.setDescription(QStringLiteral("Figures"));
    draw(&gen, &g_qt_metafile_driver);
  }
  QImage png(w, h, QImage::Format_RGB32);
  png.fill(Qt::white);
  draw(&png, &g_qt_screen_driver);
  QByteArray png_bytes;
  {
    QBuffer out(&png_bytes);
    out.open(QIODevice::WriteOnly);
    png.save(&out, "PNG");
  }
  auto* mime = new QMimeData;
  mime->setData(QStringLiteral("image/svg+xml"), svg);
  mime->setData(QStringLiteral("image/png"), png_bytes);
  QGuiApplication::clipboard()->setMimeData(mime);
  // The screen shows what it showed before: its own frames given back, not
  // moved back from the copy's size by the springs.
  if (has_block()) inst_frames_give_back(host_->block(), kInstanceId, screen);
  relayout();
  if (failure != 0) tell_later(failure);
}

QPrinter* TNView::printer() {
  if (!printer_) {
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setResolution(kPrintDpi);
  }
  return printer_.get();
}

void TNView::print_to(QPrinter* printer) {
  FigureFrames screen{};
  if (has_block()) inst_frames_keep(host_->block(), kInstanceId, &screen);
  print_page(printer, printer->pageLayout().paintRectPixels(printer->resolution()), printer->resolution());
  // The screen figure gets its own frames back and is laid out again in the
  // view's size.
  if (has_block()) inst_frames_give_back(host_->block(), kInstanceId, screen);
  relayout();
}

double print_unit(int dots_per_inch) {
  const double screen = std::round(kPrinterFontPoints * kScreenDpi / kPointsPerInch);
  const double page = std::round(kPrinterFontPoints * dots_per_inch / kPointsPerInch);
  return dots_per_inch > 0 ? page / screen : 1.0;
}

void TNView::print_page(QPaintDevice* device, const QRect& page, int dots_per_inch) {
  if (!has_block()) return;
  // The page is drawn as a screen whose pixel is `unit` device pixels, unit
  // being the printer font's height over its height on the screen: text is
  // 10 points on the page, and marks, pens and margins keep the proportions
  // to it that they have on the screen.
  const double unit = print_unit(dots_per_inch);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(int(std::round(kPrinterFontPoints * kScreenDpi / kPointsPerInch)));
  g_qt_printer_driver.values = kPrinterDriverValues;
  DevicePaint paint(device, rt_, &g_qt_printer_driver, font, unit);
  rt_->invalidate_subplots(kInstanceId);
  rt_->layout_subplots(kInstanceId, 0, page.width() / unit, 0, page.height() / unit);
  const int refreshed = rt_->refresh_after_change(kInstanceId);
  rt_->invalidate_subplots(kInstanceId);
  const int drawn = rt_->draw_figure(kInstanceId);
  rt_->invalidate_subplots(kInstanceId);
  const int failure = output_failure(refreshed, drawn);
  if (failure != 0) tell_later(failure);
}
