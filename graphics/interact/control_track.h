// Tracking of the on-screen controls (records 59-65) with the mouse: the
// press tests of sliders, buttons, pop-up menus and text fields, the per-move
// control step that writes a tracked control's value into the ManipState
// (and, for push buttons and pop-ups, into the record that shows it), and the
// layout pass that fills control rectangles before they are tested.
#pragma once

#include <cstdint>

#include "graphics/interact/hit_test.h"
#include "graphics/interact/manip_state.h"
#include "graphics/plotlist/plot_records.h"
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

// The controls' part of the hit test's walk. A section's controls are laid
// out through the driver before a press is tested (a print leaves its own
// pixels in the rectangles), otherwise only when one never was; true when
// the section has controls.
bool controls_lay_out(double* list, int32_t length, int32_t start, Subplot* s, bool press, const GraphicsDriver* d,
                      GraphicsDriverContext* ctx);
// Whether a control's rectangle was ever laid out (its edges differ).
bool control_laid_out(const PlotRecord& rec);
// The stops of a tab-stop record, as the renderer wrote them (untouched
// when the record does not add up).
void control_take_stops(const PlotRecord& rec, const double** at, int32_t* count);

// What a control under the pointer changes beyond the state, kept until the
// walk has decided that it wins.
struct ControlHit {
  int32_t id = -1, index = -1;
  bool range = false;  // a slider's range, held while it is tracked
  double minimum = 0, maximum = 0;
  int64_t menu_at = -1;  // a pop-up's shown-choice slot, and the choice it opens on
  double menu_shown = 0;
  int32_t field_record = -1;
  bool popup = false;
};
// A control's press tracking at the pointer into `st`: true when the pointer
// is on it. A control without id is never hit.
bool control_press_test(const PlotRecord& rec, const Subplot* s, int32_t columns, const double* stops,
                        int32_t stop_count, double px, double py, ManipState* st, ControlHit* hit);
// The winning control: with the start byte the subplot tracks it, a pop-up
// opens on its current choice and a text field or pop-up press is reported.
void control_press_apply(const ControlHit& hit, bool start, double* list, Subplot* s, ControlPress* press);

// The control step over the section at `start` of a writable list: the
// tracked control (the state's id and nb) or the rational function of the
// state's id follows the pointer. Lays the section out first when a control
// has no rectangle.
void plotlist_control_step(double* list, int32_t length, int32_t start, Subplot* s, double x, double y,
                           ManipState* st, const GraphicsDriver* d, GraphicsDriverContext* ctx);

// One control step per press or move on the manipulated subplot `k` of the
// instance `key`: the pointer clamped into the frame (*left_frame tells
// whether it had left it), then the tracked control, or the rational
// function or 3-D sensor of the hit id, updated. Sets kManipControl when a control shows
// its own state.
void interact_control_drag_step(RuntimeBlock* b, int32_t key, int32_t k, Subplot* s, double x, double y,
                                uint8_t modifier, ManipState* st, uint8_t* left_frame, const GraphicsDriver* d,
                                GraphicsDriverContext* ctx);
