// TN application instances: the fixed 22784-byte InstanceRec (saved byte
// for byte in the image), kept top down in area 1 of the runtime block, and
// the lookups and set-ups that block initialisation needs.
#pragma once

#include <cstddef>
#include <bit>
#include <cstdint>

#include "graphics/plotlist/style_spec.h"
#include "graphics/subplot/subplot.h"
#include "runtime/runtime_block.h"

constexpr int32_t kMaxSubplots = 25;
constexpr int32_t kStyleCount = 6;
constexpr int32_t kSpringValues = 6;
constexpr int32_t kMenuStateTables = 3;
constexpr int32_t kMenuStateBytes = 64;

struct InstanceRec {
  int32_t id;
  uint8_t initialised;
  uint8_t flag;
  uint8_t debug;
  int32_t state;  // 0 off, 1 init handlers running, 2 idle processing on
  uint8_t idle_enabled;
  int32_t idle_mode;
  double next_due;
  double idle_base;
  uint32_t capabilities;
  StyleSpec styles[kStyleCount];  // default, fill, chart, frame, axes, interactive axes
  int32_t max_subplots;
  int32_t rows, cols;
  uint32_t selection;
  uint8_t free_layout;
  double frame[4];
  int32_t layout_word;
  // Keyboard focus of a text-field control: subplot, record index, caret, anchor.
  int32_t focus_subplot;
  int32_t focus_record;
  int32_t focus_caret;
  int32_t focus_anchor;
  Subplot subplots[kMaxSubplots];
  double springs[kMaxSubplots][kSpringValues];
  uint8_t changed_outside;
  uint8_t menu_stale;
  int32_t menu_stamp;
  uint8_t menu_state[kMenuStateTables][kMenuStateBytes];
  int32_t section_selector;
  // How the figure's first rectangle places free frames set before it had
  // one (kFramesInPixels, kFramesForDesign, runtime/layout.h); 0 when the
  // springs move them.
  int32_t pending_frames;
  uint8_t figure_only;
  uint8_t resume;           // interaction: a drag to resume
  int32_t pending_subplot;  // interaction: the subplot a press chose
};
constexpr int32_t kInstanceBytes = 22784;
static_assert(sizeof(InstanceRec) == kInstanceBytes);
static_assert(std::endian::native == std::endian::little, "saved byte for byte");
static_assert(offsetof(InstanceRec, state) == 8);
static_assert(offsetof(InstanceRec, next_due) == 24);
static_assert(offsetof(InstanceRec, styles) == 44);
static_assert(offsetof(InstanceRec, max_subplots) == 92);
static_assert(offsetof(InstanceRec, frame) == 112);
static_assert(offsetof(InstanceRec, layout_word) == 144);
static_assert(offsetof(InstanceRec, focus_anchor) == 160);
static_assert(offsetof(InstanceRec, subplots) == 168);
static_assert(offsetof(InstanceRec, springs) == 21368);
static_assert(offsetof(InstanceRec, changed_outside) == 22568);
static_assert(offsetof(InstanceRec, menu_stamp) == 22572);
static_assert(offsetof(InstanceRec, menu_state) == 22576);
static_assert(offsetof(InstanceRec, section_selector) == 22768);
static_assert(offsetof(InstanceRec, figure_only) == 22776);
static_assert(offsetof(InstanceRec, pending_subplot) == 22780);

// Subplot handler words.
enum : int32_t { kSubplotFigureWord = 0, kSubplotPlotHandlerWord = 1 };
constexpr int32_t kEmptyFigure = -3;
constexpr int32_t kDefaultSectionSelector = -2;

// Instance k of the array (k < instance count).
InstanceRec* inst_at(RuntimeBlock* b, int32_t k);
InstanceRec* inst_find_by_id(RuntimeBlock* b, int32_t id);
// Writes the defaults of a new instance (the block's default chart and frame
// styles) into rec.
void inst_write_defaults(RuntimeBlock* b, InstanceRec* rec, int32_t id, uint8_t flag);
void inst_defaults_init(RuntimeBlock* b);
int inst_layout_reset(RuntimeBlock* b, int32_t id, bool write_frame);
// Whether the figure frame is still the one a reset writes, (0, 1, 0, 1):
// no rectangle has been given to the figure since (an image as the builder
// saves it, a new instance before its window lays it out).
bool inst_frame_is_reset(const InstanceRec* rec);

// Life of an instance: creation (null out_id re-initialises instance 0),
// removal of its value-store record, plot list and slot.
int inst_create(RuntimeBlock* b, int32_t* out_id);
void inst_store_discard(RuntimeBlock* b, int32_t id);

// The operations that run application code take the block handle: reset
// (terminate handlers when initialised, layout and values reset, init
// handlers), the terminate handlers, close (terminate handlers, then the
// record run, the values and the slot go; their code is returned), the
// change handlers by watch rule, refresh (each subplot's plot handler behind
// its opening record; an instance never initialised is reset first),
// refresh of an instance changed from outside, plot-all (no event state),
// the figure command text, idle steps, undo and redo (10201 when stepped).
int inst_reset(RuntimeBlock** handle, int32_t id);
int inst_run_terminate_handlers(RuntimeBlock** handle, int32_t id);
int inst_close(RuntimeBlock** handle, int32_t id);
int inst_run_change_handlers(RuntimeBlock** handle, int32_t id);
int inst_refresh(RuntimeBlock** handle, int32_t id);
int inst_refresh_after_change(RuntimeBlock** handle, int32_t id);
int inst_plot_all(RuntimeBlock** handle, int32_t id);
int inst_run_figure_commands(RuntimeBlock** handle, int32_t id);
int inst_idle_step(RuntimeBlock** handle, int32_t id, bool redraw);
int inst_idle_step_redraw(RuntimeBlock** handle, int32_t id);
int inst_undo(RuntimeBlock** handle, int32_t id);
int inst_redo(RuntimeBlock** handle, int32_t id);
// Whether the record after the instance's header is a figure command text:
// the instance's figure is what that text draws. Its figure-only byte only
// says whether the text runs for the first time since a reset (`firstrun`).
bool inst_is_figure_only(RuntimeBlock* b, int32_t id);
// inst_is_figure_only, setting the figure-only byte when true.
bool inst_detect_figure_only(RuntimeBlock* b, int32_t id);

// The host's queries and setters; the boolean ones answer false for an id
// that no instance has.
int inst_set_flag(RuntimeBlock* b, int32_t id, uint8_t value);
bool inst_get_debug_flag(RuntimeBlock* b, int32_t id);
bool inst_changed_flag(RuntimeBlock* b, int32_t id);
int inst_set_mode_word(RuntimeBlock* b, int32_t id, int32_t value);
bool inst_idle_running(RuntimeBlock* b, int32_t id);
bool inst_has_idle_handler(RuntimeBlock* b, int32_t id);
bool inst_has_any_handler(RuntimeBlock* b, int32_t id);
InstanceRec* inst_mark_state(RuntimeBlock* b, int32_t id, bool on);
bool inst_capability(RuntimeBlock* b, int32_t id, int32_t kind);
bool rt_can_undo(RuntimeBlock* b, int32_t id);
bool rt_can_redo(RuntimeBlock* b, int32_t id);
// The title, version or help text: value 103, 104 or 105 of the newest row
// when it is text (UTF-8, written into `buffer`), else the tag-2, 3 or 5
// record's text (pointing into the record list), else 10039. No handler runs.
// The version and help texts are markup: format 'n' gives them as they are,
// 'r' converted to RTF, 'h' to HTML, any other letter to plain text, with the
// block's line ends, written into `buffer` (kRtTooSmallNameBuf when the
// conversion does not fit). The title is always given as it is.
int inst_get_title(RuntimeBlock* b, int32_t id, const char** text, int32_t* length, char* buffer, int32_t capacity);
int inst_get_version(RuntimeBlock* b, int32_t id, char format, const char** text, int32_t* length, char* buffer,
                     int32_t capacity);
int inst_get_help(RuntimeBlock* b, int32_t id, char format, const char** text, int32_t* length, char* buffer,
                  int32_t capacity);
// What an About box shows of the instance: its title, then its version and
// help texts as plain text, each where the instance gives one, one after
// the other on lines of their own (no line end after the last). Written
// into `buffer`; kRtTooSmallNameBuf when it does not fit, 10040 for an
// unknown instance. The packer stores it as the appended application's
// description.
int inst_about_text(RuntimeBlock* b, int32_t id, char* buffer, int32_t capacity, int32_t* length);
