// The figure view: draws the instance's figure through the screen driver into
// a back buffer, hands mouse, wheel and key events to the interaction code
// and redraws when they answer 10201, picks the cursor from what lies under
// the pointer, runs idle processing every 20 ms, and serves Undo, Redo,
// Select All, Copy, Figure Font and printing.
//
// The back buffer's painter stays active for the view's life and its drawing
// context stays installed in the runtime: handlers run from menus or timers
// measure text and draw through a live target, never a stale one. Copy and
// print install their own target and put the view's back afterwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <QImage>
#include <QPainter>
#include <QWidget>

#include "graphics/render/graphics_driver.h"
#include "platform/qt_driver.h"

class BlockRuntime;
class CommandMap;
class QMenu;
class QPagedPaintDevice;
class QPrinter;
class RuntimeHost;
class SettingsStore;
class StatusPanes;
class TNDoc;

constexpr int kViewIdleMs = 20;
constexpr int kStatusTextBytes = 255;
constexpr int kInstanceId = 0;

class TNView : public QWidget {
 public:
  // host: the block the mouse entries act on; rt: the runtime calls of the
  // document and the view, holding the depth counter.
  TNView(RuntimeHost* host, BlockRuntime* rt, SettingsStore* settings, CommandMap* commands,
         QWidget* parent = nullptr);
  ~TNView() override;

  void set_document(TNDoc* doc) { doc_ = doc; }
  void set_status_bar(StatusPanes* bar) { status_ = bar; }
  // The flag the engine's break poll reads: Pause/Break and Ctrl+Break set it.
  void set_break_flag(std::atomic<uint8_t>* flag) { break_flag_ = flag; }
  // The figure drawn again into the back buffer and shown: at once, or at the
  // next paint.
  void redraw_now();
  void invalidate();
  // Installs the screen driver and this view's drawing context in the block
  // (what every call that may draw or hit-test needs first).
  void prepare_runtime();

  // Edit and file commands (the main frame routes them here).
  void on_undo();
  void on_redo();
  void on_select_all();
  void on_edit_copy();
  void on_figure_font();
  // The figure drawn in another font at once, laid out as a start with that
  // font lays it out (what the Figure Font command does once chosen).
  void set_figure_font(const QFont& font);
  void print_to(QPrinter* printer);
  // The figure on a page of the device (page: the drawable rectangle in
  // device pixels), as print_to draws it; the screen is not laid out again.
  void print_page(QPaintDevice* device, const QRect& page, int dots_per_inch);
  QPrinter* printer();
  // Lays the figure out again in the view's size (after a copy or print laid
  // it out in another, or the figure font changed) and redraws.
  void relayout();

  const QImage& back_buffer() const { return buffer_; }
  bool dragging() const { return dragging_; }
  // Figure drawings into the back buffer so far (the tests count them).
  int64_t renders() const { return renders_; }

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool has_block() const;
  void begin_buffer(int width, int height);
  void end_buffer();
  void layout_to_size();
  // A layout or a drawing that waits for the runtime call under way to end:
  // the view is laid out in its size (when a resize came meanwhile) and
  // painted once nothing runs.
  void settle_when_free();
  void settle();
  void render();
  void tool_down(double x, double y, bool shift);
  // The mouse entry's status (kRtNoHandler: dropped by the mouse rate).
  int tool_move(double x, double y, bool shift, bool button);
  void tool_up(bool shift);
  // Moves with the button held wait here for one step to the latest of them:
  // those that arrive while a step draws become one step, not one redraw each.
  void queue_move(double x, double y, bool shift);
  // The waiting move's step, when one waits; every other mouse, wheel, key
  // and timer entry runs it first, so that events keep their order.
  void flush_move();
  // The button-up that waited for the drag's last step.
  void release_now();
  // The first error of a drag that has ended, in a message box.
  void tell_drag_error();
  void run_queued_move();
  // After a mouse entry: redrawn on a non-zero status, else the back buffer
  // shown as it is.
  void show_status(int status);
  void status_text(const char* text, int32_t length);
  void drag_error(int status);
  // A drawing that ran out of memory is told once, after the paint, as a
  // handler's failure is; a later drawing that succeeds re-arms it.
  void drawing_failed(int status);
  // The message box of a failure, once the event under way is over.
  void tell_later(int status);
  void update_cursor();
  void key_code(int code, QKeyEvent* event);

  RuntimeHost* host_;
  BlockRuntime* rt_;
  SettingsStore* settings_;
  CommandMap* commands_;
  TNDoc* doc_ = nullptr;
  StatusPanes* status_ = nullptr;
  std::atomic<uint8_t>* break_flag_ = nullptr;
  QImage buffer_;
  QPainter painter_;
  QtDriverTarget target_;
  GraphicsDriverContext ctx_{};
  int cached_w_ = 0, cached_h_ = 0;
  bool dirty_ = true;
  bool layout_pending_ = false;  // resized while the runtime was busy
  bool settle_posted_ = false;
  bool dragging_ = false;
  bool middle_drag_ = false;
  int drag_error_ = 0;  // the first error of the drag under way, shown once it ends
  int draw_error_ = 0;     // the failure of the last drawing, 0 when it drew whole
  int refresh_error_ = 0;  // the memory failure of the last refresh, 0 when none
  int idle_timer_ = 0;
  struct QueuedMove {
    double x = 0, y = 0;
    bool shift = false;
    bool waiting = false;  // a move waits for its step
    bool posted = false;   // its step is posted or timed
    bool release = false;  // the button-up waits for the step
    bool release_shift = false;
    int release_tries = 0;
  } move_;
  int64_t renders_ = 0;
  std::unique_ptr<QPrinter> printer_;
};

// Screen pixels to the hundredths of a millimetre a metafile's bounds use.
int32_t pixels_to_himetric(int32_t pixels, double dots_per_inch);
// The cursor of an interaction kind; false for kinds above 14, which leave
// the cursor as it is.
bool cursor_for_kind(int32_t kind, Qt::CursorShape* shape);
// The wheel's notches for the runtime: one notch towards the user is +1.
double wheel_notches(int angle_delta_y);
// The character code a key press hands the runtime (the arrows as 0xF700 up,
// 0xF701 down, 0xF702 left, 0xF703 right; the editing keys by their control
// codes: Backspace 8, Tab 9, Return and Enter 13, Escape 27, Delete 127; Ctrl
// with a letter its control code, Ctrl+A 1 to Ctrl+Z 26); 0 for a key that
// gives none, and for every key with Alt held.
int32_t view_key_code(int key, Qt::KeyboardModifiers modifiers, const QString& text);
// Whether a shortcut of an item of the window's menu bar, at any depth, is
// the key pressed, enabled or not.
bool menus_bind_key(const QWidget* window, QKeyCombination pressed);
// Shift held, as the byte the interaction entries take. The modifier is a
// bit far above a byte: its mask must become 0 or 1 before it is narrowed.
uint8_t view_shift(Qt::KeyboardModifiers modifiers);
// Device pixels per drawing unit on a page of that resolution: the ratio of
// the 10-point printer font's pixel height there to its height on a screen.
double print_unit(int dots_per_inch);
