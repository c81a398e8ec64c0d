// Tracking of the on-screen controls (records 59-65) with the mouse: the
// press tests of sliders, buttons, pop-up menus and text fields, the per-move
// control step that writes a tracked control's value into the ManipState
// (and, for push buttons and pop-ups, into the record that shows it), and the
// layout pass that fills control rectangles before they are tested.
#pragma once

#include <cstdint>

#include "graphics/interact/manip_state.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/subplot/subplot.h"

struct RuntimeBlock;

bool ui_slider_track(double x, double y, double left, double right, double top, double bottom, int32_t id,
                     int32_t index, const double* thumbs, int32_t n, double minimum, double maximum, bool log,
                     bool start, ManipState* st);
// kind 'b' push, 'c' check boxes, 'r' radio buttons.
bool ui_buttons_track(double x, double y, double row_left, double row_right, double frame_left, double frame_right,
                      int32_t n, const double* stops, int32_t t, double top, double bottom, int32_t id,
                      int32_t index, char kind, double value, bool start, ManipState* st);
bool ui_popup_track(double x, double y, double row_left, double row_right, double frame_left, double frame_right,
                    int32_t n, const double* stops, int32_t t, double top, double bottom, int32_t id,
                    double current, int32_t items, bool start, ManipState* st, const Subplot* s);
void interact_state_set_scroll(ManipState* st, double scroll_x, double scroll_y);

// What a press on a control asks of the instance.
struct ControlPress {
  int32_t field_record = -1;  // a text field took the focus: its record's position
  bool popup = false;         // a pop-up menu opened
  bool hit = false;
};

// The controls of the section at `start` under the pointer. With `start`
// (a button press) the section is laid out first through the driver, so that
// rectangles are in its pixels; otherwise only when a control has never been
// laid out. A hit fills the state and the subplot's tracked-control fields.
// False when a control still has no rectangle after the layout pass.
bool plotlist_hit_controls(double* list, int32_t length, int32_t start, int32_t subplot_index, Subplot* s,
                           double* scratch, int32_t scratch_size, double px, double py, bool start_byte,
                           ManipState* st, const GraphicsDriver* d, GraphicsDriverContext* ctx, ControlPress* out);

// The control step over the section at `start` of a writable list: the
// tracked control (the state's id and nb) or the rational function of the
// state's id follows the pointer. Lays the section out first when a control
// has no rectangle.
void plotlist_control_step(double* list, int32_t length, int32_t start, Subplot* s, double x, double y,
                           ManipState* st, double* scratch, int32_t scratch_size, const GraphicsDriver* d,
                           GraphicsDriverContext* ctx);

// One control step per press or move on the manipulated subplot `k` of the
// instance `key`: the pointer clamped into the frame (*left_frame tells
// whether it had left it), then the tracked control, or the rational
// function or 3-D sensor of the hit id, updated. Sets kManipControl when a control shows
// its own state.
void interact_control_drag_step(RuntimeBlock* b, int32_t key, int32_t k, Subplot* s, double x, double y,
                                uint8_t modifier, ManipState* st, uint8_t* left_frame, const GraphicsDriver* d,
                                GraphicsDriverContext* ctx);
