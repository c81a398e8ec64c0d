// The entries through which the host's figure view hands mouse and key
// events to the interaction code, and the small queries its commands use.
// Entries that can run handlers take the host's block handle and re-read
// the block after every call; each answers a status (0 done, 10201 redraw,
// 10200 nothing under way, 10203 too early or no handler, 10040 no such
// instance, or a handler's own code, returned once).
#pragma once

#include <cstdint>

#include "graphics/subplot/subplot.h"
#include "runtime/runtime_block.h"

struct InstanceRec;

// Tool modes of the block; a saved image may hold 6 to 12, which are stored
// as the zoom and drag tools they stand for.
enum : int32_t {
  kToolManipulate = 1,
  kToolZoom = 2,
  kToolZoomX = 3,
  kToolDrag = 4,
  kToolSelect = 5,
};

// Sets the tool mode. Leaving manipulate first ends the pending subplot of
// every instance (its leave handler runs, the instance is redrawn): the
// answer is 10201 when one was, a leave handler's error when one failed,
// else 0.
int interact_set_tool_mode(RuntimeBlock** handle, int32_t mode);
int32_t interact_get_tool_mode(const RuntimeBlock* b);

// True when the instance has a figure set-up record or begins with a figure
// command text: its figures take mouse events.
bool inst_takes_mouse(RuntimeBlock* b, int32_t id);
// True when the record list holds the instance's header record.
bool rt_instance_known(RuntimeBlock* b, int32_t id);
// The host's "InteractiveHilight" setting, read by the renderer.
void rt_set_interactive_highlight(RuntimeBlock* b, uint8_t on);

// Ends the instance's pending subplot (one whose mouse-over or wheel handler
// ran): its leave handler runs with an empty event state. With `redraw` a
// success refreshes the instance (10201, or the refresh's error); without it
// *redraw_wanted (when given, cleared first) is set and the answer is 0. The
// pending subplot is -1 afterwards in every case; 10040 for no instance.
int interact_end_pending(RuntimeBlock** handle, int32_t id, bool redraw, uint8_t* redraw_wanted);

// Interaction cases: what a press, move and release do on a subplot, from
// the tool mode, the Shift key and the subplot (3-D subplots turn the zoom
// and drag tools into camera moves).
enum : int32_t {
  kCaseManipulate = 1,
  kCaseZoom = 2,
  kCaseZoomX = 3,
  kCaseDrag = 4,
  kCaseSelect = 5,
  kCaseOrbit = 8,
  kCasePan = 9,
  kCaseRoll = 10,
  kCaseDollyLateral = 11,
  kCaseDollyForward = 12,
};
int32_t interact_case(const RuntimeBlock* b, uint8_t modifier, const Subplot* s);

// The view's mouse events; positions in view pixels, `modifier` the Shift
// key. Text buffers receive the status-bar text: at most size - 1 bytes and
// a zero, or, with an out length, its length without a terminator.
int interact_mouse_down(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier);
int interact_mouse_move(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier, char* text,
                        int32_t text_size, int32_t* text_length);
int interact_mouse_up(RuntimeBlock** handle, int32_t id, uint8_t modifier);
int interact_mouse_hover(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier, char* text,
                         int32_t text_size, int32_t* text_length);
// The view passes scroll x 0 and scroll y = -(wheel delta) / 120.
int interact_mouse_wheel(RuntimeBlock** handle, int32_t id, double x, double y, double scroll_x, double scroll_y,
                         uint8_t modifier, char* text, int32_t text_size, int32_t* text_length);
// A context-menu click: a select click (press, then release) under any tool.
int interact_context_click(RuntimeBlock** handle, int32_t id, double x, double y);

// Cursor kinds for the view's cursor query (10040 for no instance).
enum : int32_t {
  kCursorNone = 0,
  kCursorManipulate = 1,
  kCursorZoomIn = 2,
  kCursorZoomOut = 3,
  kCursorZoomXIn = 4,
  kCursorZoomXOut = 5,
  kCursorDrag = 6,
  kCursorDragX = 7,
  kCursorSelect = 8,
  kCursorOrbit = 9,
  kCursorOrbitShift = 10,
  kCursorRoll = 11,
  kCursorPan = 12,
  kCursorDollyLateral = 13,
  kCursorDollyForward = 14,
  kCursorHitFailed = 15,
};
int32_t interact_cursor_kind(RuntimeBlock** handle, int32_t id, double x, double y, uint8_t modifier);

// Keys typed into the instance's focused text field (8 backspace, 13 or 10
// commit, 0xF702 and 0xF703 the arrows, digits, '-', '.', 'e', 'E'): 0 when
// no field has the focus, 12 when the focused record is no text field (or is
// cut short), else 10201. The commit reads the field as a number and runs
// the subplot's drag handler with it as _x1 (a history row around it).
int interact_textfield_key(RuntimeBlock** handle, int32_t id, uint32_t key);
int interact_commit_textfield(RuntimeBlock** handle, int32_t id);

// Selection: n < 0 clears it; with `add` subplot n's bit toggles, else n
// becomes the selection alone. Marks are drawn or erased through the driver.
int interact_toggle_select(RuntimeBlock* b, int32_t id, int32_t n, uint8_t add);
// The selected subplot (last to first) with a corner of its outer rectangle
// within 3 pixels of the pointer: its index and the corner (1 top-left,
// 2 top-right, 3 bottom-left, 4 bottom-right).
bool interact_frame_corner(const InstanceRec* rec, double x, double y, int32_t* subplot, int32_t* part);

// Keys on a figure: the focused text field takes the key first; then the
// instance's key handlers (the first matching tag-39 record, else the
// catch-all with an empty key text), then the figure shortcuts. 402 from a
// key handler is answered as 0.
int inst_key_event(RuntimeBlock** handle, int32_t id, uint32_t key);
// The figure shortcuts alone: 10039 for a key outside 8..127 or not in
// their table.
int inst_key_shortcut(RuntimeBlock** handle, int32_t id, uint32_t key);
