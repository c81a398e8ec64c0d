// Shared by the files of the interaction code, not by its callers: handler
// slots resolved for an element, the subplot under the pointer, the hit
// test on an instance's list, history rows, redraws and status texts.
#pragma once

#include <cstdint>

#include "graphics/interact/interaction.h"
#include "graphics/interact/manip_state.h"
#include "runtime/instances.h"
#include "runtime/layout.h"

constexpr int32_t kNoSubplot = -1;

// The record position of subplot k's mouse handler of `tag` (26 to 35) for
// the element `element` (-1: records for any element), or kNoHandler. The
// slots are resolved afresh from the record list, never from the subplot's
// cached words, since the element decides which record applies.
int32_t interact_handler(RuntimeBlock* b, int32_t id, int32_t k, int32_t tag, int32_t element);
// The element id of the event state, -1 when none was hit.
int32_t interact_element(const ManipState& m);

// Runs one mouse handler of the instance with the event state of the block,
// for subplot k (the handler subplot the cursor query compares with).
int interact_run_handler(RuntimeBlock** handle, int32_t id, int32_t record, int32_t subplot, char* msg,
                         int32_t msg_capacity, int32_t* msg_length);

int32_t interact_cells(const InstanceRec* rec);
// The instance's records begin with a figure command text (tag 45).
bool interact_figure_only(RuntimeBlock* b, int32_t id);
// The subplot has its drawing declaration (a plot handler).
bool interact_has_drawing(const InstanceRec* rec, int32_t k);
// The last subplot, highest index first, whose pixel frame (or outer
// rectangle) holds the pointer, each axis half-open and in either
// orientation; kNoSubplot when none.
int32_t interact_subplot_at(const InstanceRec* rec, double x, double y, bool outer);
// The hit test of subplot k's object in the instance's committed list into
// `st` (the block's event state when null). False when the instance has no
// list or the subplot no object; the state is reset either way.
bool interact_hit_test(RuntimeBlock* b, int32_t id, int32_t k, double x, double y, uint8_t modifier,
                       ManipState* st = nullptr);

// History rows of the interaction: pushed before a change, dropped when it
// fails or nothing moved. Only a row this interaction pushed is dropped.
void interact_push_row(RuntimeBlock* b, int32_t id);
void interact_drop_row(RuntimeBlock* b, int32_t id);
// The instance's plot handlers run again (its display list follows the new
// variables or view); the refresh's error, else `result`.
int interact_redraw(RuntimeBlock** handle, int32_t id, int result);
// Ends the interaction after a handler's error, which is answered once.
int interact_fail(RuntimeBlock* b, int32_t id, int status);

// The mouse-rate limit: false (nothing to do) for a move that comes before
// the interval since the last accepted one; an accepted move restarts it.
bool interact_move_paced(RuntimeBlock* b);
void interact_clear_text(char* text, int32_t size, int32_t* length);
void interact_put_text(const char* message, char* text, int32_t size, int32_t* length);

// Self-inverting rectangles through the driver's focus-rectangle entry.
bool interact_has_focus_rect(const RuntimeBlock* b);
void interact_focus_rect(RuntimeBlock* b, double left, double top, double right, double bottom);
// Zoom cases: the band of active subplot k's interaction drawn in subplot j
// (offset into its frame).
void interact_band(RuntimeBlock* b, const InstanceRec* rec, int32_t k, int32_t j, double x1, double y1, double x2,
                   double y2);

// The drag of one move by case (called by interact_mouse_move after its
// prologue), and the release's work by case.
int interact_drag_case(RuntimeBlock** handle, int32_t id, int32_t c, double x, double y, uint8_t modifier);
// Case 1: at the press (x, y the pointer) the hit test and the press
// handler, then at the press and every move the drag handlers.
int interact_manipulate_step(RuntimeBlock** handle, int32_t id, bool press, double x, double y,
                             uint8_t modifier);
// Runs the drag handler, or the second one when it answers 402 or is absent.
int interact_run_drag(RuntimeBlock** handle, int32_t id, int32_t k, int32_t element, bool* had_handler);
// Lays the grid out again with the selected subplots moved by (rows, cols)
// from the snapshot stored at the press.
int interact_move_subplots(RuntimeBlock* b, int32_t id, int32_t rows, int32_t cols, bool copy);
