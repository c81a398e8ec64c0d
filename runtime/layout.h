// Subplot layout of an instance: the grid or free positions of its up to 25
// subplots, the springs that decide how free frames follow a resize, figure
// assignment with handler resolution, selection and the target subplots of
// the view and scale switches, and the layout kept in the value store
// (value 100 the layout, 102 the 3-D cameras) so that undo restores it.
// The operations that take the block handle run application code (resize
// handlers, refreshes); figure drawing joins with the display-list
// interpreter.
#pragma once

#include <cstdint>

#include "runtime/instances.h"

// Spring values of one direction: near margin, size, far margin.
enum : int32_t { kSpringNear = 0, kSpringSize = 1, kSpringFar = 2, kSpringsPerDirection = 3 };
constexpr double kSpringDefault = 0.5;
// Figure record indexes beside record positions.
constexpr int32_t kDefaultFigure = -2;
constexpr int32_t kNoHandler = -2;
// Handler words of a subplot after the figure and plot words: tags 26 to 35.
constexpr int32_t kMouseWords = 10;
constexpr int32_t kFirstMouseWord = 2;
// The plot-handler word of a cell that another cell's plot handler draws
// through `subplot`: it answers the mouse with that figure's handlers, and
// no plot handler of its own runs for it.
constexpr int32_t kPlotByOtherCell = -4;

// Free frames set before the figure had a rectangle (its frame the reset
// frame), as the figure's first rectangle takes them: given in pixels from
// its corner, or laid out for a design size that the frame then holds.
// Either way they land where a reset in that rectangle puts them.
enum : int32_t { kFramesInPixels = 1, kFramesForDesign = 2 };

void inst_reset_subplot_slot(Subplot* s);
int inst_set_grid(RuntimeBlock* b, int32_t id, int32_t rows, int32_t cols);
void inst_get_grid(RuntimeBlock* b, int32_t id, int32_t* rows, int32_t* cols);
int inst_free_layout(RuntimeBlock* b, int32_t id, bool rigid);
int inst_to_free_layout(RuntimeBlock* b, int32_t id);
int inst_layout_to_free(RuntimeBlock* b, int32_t id);
void inst_layout_positions(InstanceRec* rec);
// Lays the figure out in a new rectangle; figure_layout_subplots then runs
// the resize handlers of an initialised instance.
int inst_layout_in_rect(RuntimeBlock* b, int32_t id, double left, double right, double top, double bottom);
int figure_layout_subplots(RuntimeBlock** handle, int32_t id, double left, double right, double top, double bottom);
int inst_layout_from_design_size(RuntimeBlock* b, int32_t id, double width, double height);
// The frames of a figure as the screen shows it, kept while the figure is
// laid out at another size (a copy, a page) and given back after: the spring
// rule of a free layout does not retrace its way back unless the springs are
// uniform or 0 and 1, so the screen gets its own frames again rather than a
// second computation of them. With the rectangles go the margins and the
// character size the screen measured, so the plot frames inside them are the
// screen's at once, not only after its next drawing. Nothing is given back to
// an instance whose layout changed meanwhile (another grid, free layout
// switched, another count of subplots), nor to one that is gone.
struct FigureFrames {
  struct Cell {
    double rect[4], margins[4];
    double charWidth, lineHeight;
  };
  bool kept;
  uint8_t free_layout;
  int32_t rows, cols, pending;
  double frame[4];
  Cell cells[kMaxSubplots];
};
void inst_frames_keep(RuntimeBlock* b, int32_t id, FigureFrames* out);
void inst_frames_give_back(RuntimeBlock* b, int32_t id, const FigureFrames& kept);
void inst_invalidate_subplots(RuntimeBlock* b, int32_t id);
int inst_layout_compact(RuntimeBlock* b, int32_t id);

// One direction of the spring rule: the old extent [origin, origin + extent)
// becomes [origin2, origin2 + extent2); a..b is the subplot's span relative
// to origin; q are its three springs. Writes the new span's ends.
void spring_move(double origin, double extent, double origin2, double extent2, double a, double b,
                 const double* q, double* near_out, double* far_out);

// Figures and handlers.
struct SubplotHandlers {
  int32_t plot;                 // record position of the tag-36 handler, or kNoHandler
  int32_t mouse[kMouseWords];   // tags 26 to 35
};
int inst_subplot_resolve(RuntimeBlock* b, int32_t id, int32_t figure, int32_t element, SubplotHandlers* out);
// Whether the figure (a record position) has mouse handlers, for any element.
bool inst_figure_takes_mouse(RuntimeBlock* b, int32_t id, int32_t figure);
int inst_subplot_assign(RuntimeBlock* b, int32_t id, int32_t row, int32_t col, int32_t figure, bool force);
// Gives subplot k, drawn by the handler of a cell that shows `figure`, that
// figure's mouse handlers; a cell with a plot handler of its own, or a
// figure below 0, is left as it is.
int inst_subplot_share(RuntimeBlock* b, int32_t id, int32_t k, int32_t figure);
// The figure a subplot shows as its own: none for a cell that another
// cell's handler draws. What the stored layout, `subplots` and the figure
// menu see.
int32_t inst_own_figure(const Subplot& s);
// The same without storing the layout in the instance's values: for applying
// a stored layout, whose value must not be rewritten while it is read.
int inst_subplot_assign_unstored(RuntimeBlock* b, int32_t id, int32_t row, int32_t col, int32_t figure,
                                 bool force);
// The figure of the current subplot (figure < 0: none), a value-store row
// pushed and the instance refreshed; the _store form does the layout side
// and says whether a refresh is due.
int inst_set_current_subplot_store(RuntimeBlock* b, int32_t id, int32_t figure, bool* refresh);
int inst_set_current_subplot(RuntimeBlock** handle, int32_t id, int32_t figure);
// Grid change with a value-store row and a refresh.
int inst_set_grid_redraw(RuntimeBlock** handle, int32_t id, int32_t rows, int32_t cols);
// Locks the scales of the targets (unlocks them when all are locked), then
// refreshes.
int inst_subplots_apply(RuntimeBlock** handle, int32_t id);

// Selection, current subplot, frames, targets.
int inst_set_selection(RuntimeBlock* b, int32_t id, uint32_t mask, bool draw);
int inst_select_all(RuntimeBlock* b, int32_t id);
int32_t inst_current_subplot(RuntimeBlock* b, int32_t id);
bool inst_axes_info(RuntimeBlock* b, int32_t id, double* left, double* right, double* top, double* bottom);
int inst_subplot_frame(RuntimeBlock* b, int32_t id, double* left, double* right, double* top, double* bottom);
// The subplots the switches act on: subplot 0 of a 1 x 1 grid, else the
// selected ones (a bit mask).
uint32_t inst_targets(const InstanceRec* rec);
int inst_scale_flags_get(RuntimeBlock* b, int32_t id, uint32_t* common, uint32_t* allowed, uint32_t* mixed);
// The switches change the targets and push a value-store row (the _store
// forms), then refresh the instance.
enum class ViewSwitch { kAutoTarget, kAutoViewpoint, kAutoUpvector, kPerspective };
int inst_scale_flags_store(RuntimeBlock* b, int32_t id, uint32_t mask, uint32_t value);
int inst_view_switch_store(RuntimeBlock* b, int32_t id, ViewSwitch which, bool on);
int inst_scale_flags_set(RuntimeBlock** handle, int32_t id, uint32_t mask, uint32_t value);
int inst_set_auto_target(RuntimeBlock** handle, int32_t id, bool on);
int inst_set_auto_viewpoint(RuntimeBlock** handle, int32_t id, bool on);
int inst_set_auto_upvector(RuntimeBlock** handle, int32_t id, bool on);
int inst_set_perspective(RuntimeBlock** handle, int32_t id, bool on);

// Stored layout values.
int inst_layout_to_array(RuntimeBlock* b, int32_t id);
int inst_apply_stored(RuntimeBlock* b, int32_t id);
// Whether the newest row's layout and cameras are those of the row before
// (a view manipulation that changed nothing).
bool inst_layout_same_as_before(RuntimeBlock* b, int32_t id);
// Pushes a history row after writing the view on screen into the current
// one, so that undo returns to it (a selection or a lock that a handler made
// since the last row included).
int inst_push_view_row(RuntimeBlock* b, int32_t id);
// Pushes a history row (`undo_store_push_row`) and counts it in the
// block's history serial.
int inst_push_row(RuntimeBlock* b, int32_t id);
// Whether every value of the current row is that of the row before it
// (false when there is none): a step that changed neither data nor view.
bool inst_row_same_as_before(RuntimeBlock* b, int32_t id);
uint32_t layout_pack_flags(const Subplot& s, bool selected);
// One row of value 102 for subplot k: index, view flags, orthographic flag,
// aspect word, then thirteen camera doubles; and its application (view flags
// checked by the caller to fit 32 bits), which recomputes the transform.
constexpr int32_t kCameraColumns = 17;
void layout_camera_row(const Subplot& s, int32_t k, double* row);
void layout_apply_camera_row(Subplot* s, const double* row);
void layout_unpack_flags(uint32_t word, Subplot* s, bool* selected);

// The subplot parameter list (value 101): pushes element subplot + 1 of the
// list in the newest row (or the one before), else an empty matrix; and sets
// it from the value on top of the stack, which is popped (a negative subplot
// only pops it). A stack that overflows while the list is built answers its
// code; a store that cannot take the list is not reported.
int inst_store_get_value(RuntimeBlock* b, int32_t id, int32_t subplot, bool previous);
int inst_store_set_value(RuntimeBlock* b, int32_t id, int32_t subplot);

// Property bits (the option flags) of the targets, like the scale flags:
// common = AND, mixed = bits in which they differ, allowed = OR of what each
// subplot allows. Setting changes only allowed bits in the mask, pushes a
// value-store row and rebuilds the stored layout.
int inst_subplot_props_get(RuntimeBlock* b, int32_t id, uint32_t* common, uint32_t* allowed, uint32_t* mixed);
int inst_subplot_props_set(RuntimeBlock* b, int32_t id, uint32_t mask, uint32_t value);
// Whether the targets that have content are all scale-locked, and whether
// they differ in it.
int inst_subplot_query(RuntimeBlock* b, int32_t id, bool* locked, bool* mixed);
// True when a target has content (a plot drawn with its scales), so that
// locking the scales applies.
bool inst_selection_has_plot(RuntimeBlock* b, int32_t id);

// True for a free layout; *absolute when every spring still has the rigid
// values of a fixed-size free layout, *relative when every one is 0.5.
bool inst_layout_is_default(RuntimeBlock* b, int32_t id, bool* absolute, bool* relative);
// Perspective, automatic target, view point and up vector of the targets,
// as pairs {differ, common value} (the first target's value when they
// differ); true when a target is a 3-D subplot, so that the commands apply.
constexpr int32_t kSubplotOptionBytes = 8;
bool inst_subplot_options_get(RuntimeBlock* b, int32_t id, uint8_t options[kSubplotOptionBytes]);
