// The runtime memory block: a fixed 496-byte header, then five areas (0 the
// engine with its context at the start, 1 the plot store bottom up and the
// instance records top down, 2 the record list, 3 the name table, 4 the value
// store). Pointers live only in the header, which is never saved; the areas
// hold offsets and indices, so the block can be copied to a new address.
// What the engine keeps already (the break poll, the clock and the host's
// block word) is read from the engine's context, not kept twice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/context.h"
#include "graphics/plotlist/style_spec.h"
#include "graphics/interact/manip_state.h"

struct RuntimeBlock;
struct GraphicsDriver;
struct PlotStore;
struct NameTable;
struct UndoStore;

constexpr uint32_t kRuntimeHeaderBytes = 496;
constexpr uint32_t kAreaAlignBytes = 2048;
// The smallest buffer that is laid out at all.
constexpr uint32_t kRuntimeMinBufferBytes = 8192;
constexpr int kAreaCount = 5;
enum : int { kAreaEngine = 0, kAreaMain = 1, kAreaRecords = 2, kAreaNames = 3, kAreaValues = 4 };

// Host callbacks: typed function and context pairs; the context comes last.
// Grow: may move the block; writes the new pointer and allocation size.
using RtGrowFn = bool (*)(RuntimeBlock** block, uint32_t* size, void* context);
// The host's modal input dialog.
struct DialogRequest {
  const char* title;
  int32_t title_length;
  const char* prompt;
  int32_t prompt_length;
  char* text;            // editable text, or null
  int32_t text_capacity;
  int32_t* text_length;  // in: initial length, out: the edited length
  uint8_t ask_ok_cancel;
};
using RtDialogFn = int32_t (*)(const DialogRequest* request, void* context);
using RtProgressFn = int32_t (*)(int32_t flag, double elapsed_seconds, void* context);
using RtChangeFn = void (*)(RuntimeBlock* block, int32_t instance_id, void* context);

struct RtGrowCallback { RtGrowFn fn; void* context; };
struct RtDialogCallback { RtDialogFn fn; void* context; };
struct RtProgressCallback { RtProgressFn fn; void* context; };
struct RtChangeCallback { RtChangeFn fn; void* context; };
// The host's figure windows: a new figure asks for a window (true when one
// was opened); a notification activates one (kFigureActivate) or sets its
// title (kFigureSetTitle, UTF-8 text). Both share the context word.
using RtNewFigureFn = bool (*)(RuntimeBlock* block, int32_t id, int32_t figure_word, void* context);
using RtFigureNotifyFn = void (*)(RuntimeBlock* block, int32_t id, int32_t what, const char* text, int32_t length,
                                  int32_t figure_word, void* context);
struct RtFigureCallbacks { RtNewFigureFn create; RtFigureNotifyFn notify; void* context; };
enum : int32_t { kFigureActivate = 102, kFigureSetTitle = 116 };
// The host's open and save dialogs: title, filter (in the "description|
// patterns|...||" form), proposed name (save only), all UTF-8; the chosen
// path goes into path as UTF-8 and its length is returned, 0 on cancel (or
// when it does not fit).
using RtFileDialogFn = int32_t (*)(bool save, const char* title, int32_t title_length, const char* filter,
                                   int32_t filter_length, const char* name, int32_t name_length, char* path,
                                   int32_t capacity, void* context);
struct RtFileDialogCallback { RtFileDialogFn fn; void* context; };

// The call context record that the engine hands to every runtime built-in.
struct CallContext {
  RuntimeBlock* block;  // re-pointed after every move
  int32_t instance_id;
  uint8_t flags;
  int32_t status;  // bits kCallLayoutChanged, kCallRedraw, kCallQuietCancel
  // The subplot of the handler call under way, -1 for none: `subplot` gives
  // that cell's figure to the cells the handler draws.
  int32_t handler_subplot;
};
enum : int32_t { kCallLayoutChanged = 1, kCallRedraw = 2, kCallQuietCancel = 4 };

// The list being built in the plot store.
struct PlotBuildState {
  int32_t key;  // -1 none
  int32_t start;
  int32_t capacity;
  int32_t used;
  int32_t subplot;  // -1 none
};

struct FrameMoveFeedback {
  int32_t target_cell;
  uint8_t drawn;
  double offset_x, offset_y;
};

// The mouse interaction under way on a figure (graphics/interact): the
// active subplot (-1 none), the part of its frame being moved (0 the whole
// frame, 1 to 4 a corner), the pointer at the press or last processed move,
// the far corner of a zoom band or the last frame-move position, the
// subplots that move with the active one, and the last accepted move's
// pacing.
struct InteractionState {
  int32_t active;
  int32_t frame_part;
  double anchor_x, anchor_y;
  double current_x, current_y;
  uint32_t moving;
  uint8_t frames_moved;  // a grid move changed the layout since the press
  uint8_t row_pushed;    // the history row of this interaction is on the store
  // The run of wheel steps whose history row is the newest: while it is
  // open and the history serial is the one it left, a wheel step over the
  // same subplot adds to that row instead of pushing one of its own.
  struct WheelRun {
    uint8_t open;
    int32_t instance;
    int32_t subplot;
    uint32_t serial;
  } wheel;
};

// Fields are ordered for packing (the header is never saved, so its order is
// free): words and bytes first, then the 8-byte pointers and doubles.
struct RuntimeHeader {
  int32_t area_size[kAreaCount];
  int32_t record_words;
  int32_t host_option;
  int32_t line_end;  // 0 CR, 1 LF, 2 CR LF
  int32_t instance_count;
  int32_t next_instance_id;
  int32_t current_figure;
  PlotBuildState build;
  CallContext user;
  int32_t interaction_word;
  uint8_t busy;
  uint8_t default_debug;
  uint8_t flag_byte;
  uint8_t cursor_kind;
  const GraphicsDriver* driver;
  void* driver_context;
  RtDialogCallback dialog;
  RtProgressCallback progress;
  double progress_threshold;
  RtGrowCallback grow;
  int32_t interaction_mode;
  StyleSpec default_chart_style;
  StyleSpec default_frame_style;
  uint8_t band_drawn;
  uint8_t interactive_highlight;  // the host's setting: figures that take the mouse are highlighted
  FrameMoveFeedback frame_move;
  RtChangeCallback change;
  // The first of the embedded-data streams' descriptors, 0 before the first
  // efopen (the slots themselves are process-wide, embedded_streams.h).
  int32_t stream_base;
  uint32_t alloc_size;  // the buffer's real size, handed to the grow callback
  // The event state the special variables read, and the interaction's
  // target words that a handler call with an event hands on.
  ManipState manip;
  int32_t interaction_target;
  int32_t last_handled_target;
  InteractionState interaction;
  // Steps with every history row pushed, undone or redone and every record
  // reset (`inst_push_row`, `inst_undo`, `inst_redo`): what a wheel run
  // compares to know that nothing came between its steps.
  uint32_t history_serial;
  RtFigureCallbacks figure;
};

struct RuntimeBlock {
  RuntimeHeader h;
};
static_assert(sizeof(RuntimeBlock) == kRuntimeHeaderBytes, "the areas start right behind the header");
static_assert(kRuntimeHeaderBytes % 16 == 0, "area 0 starts aligned for the engine");

// Area sizes of a layout: the area total is what follows the header, in
// whole 2048-byte steps; the initial split gives 3/8, 3/8, 1/32, 1/32 and
// the rest.
struct AreaSplit {
  int64_t size[kAreaCount];
};
constexpr int64_t rt_area_total(int64_t buffer_size) {
  if (buffer_size < kRuntimeHeaderBytes) return 0;
  return (buffer_size - kRuntimeHeaderBytes) / kAreaAlignBytes * kAreaAlignBytes;
}
constexpr AreaSplit rt_initial_split(int64_t total) {
  AreaSplit s{};
  s.size[kAreaEngine] = 3 * (total / 8);
  s.size[kAreaMain] = 3 * (total / 8);
  s.size[kAreaRecords] = total / 32;
  s.size[kAreaNames] = total / 32;
  s.size[kAreaValues] = total - s.size[0] - s.size[1] - s.size[2] - s.size[3];
  return s;
}
// The smallest buffer: 7696 bytes behind the header give an area total of
// 6144, split 2304, 2304, 192, 192, 1152.
static_assert(rt_area_total(kRuntimeMinBufferBytes) == 6144);
static_assert(rt_initial_split(6144).size[kAreaEngine] == 2304 && rt_initial_split(6144).size[kAreaMain] == 2304 &&
              rt_initial_split(6144).size[kAreaRecords] == 192 && rt_initial_split(6144).size[kAreaNames] == 192 &&
              rt_initial_split(6144).size[kAreaValues] == 1152);
// The smallest buffer in which every area holds what initialisation puts
// there (smaller ones are laid out and refused by the area that overflows).
uint32_t rt_min_block_bytes();

// Area access; pointers are valid until the next call that can grow the block.
uint8_t* rt_area(RuntimeBlock* b, int area);
EngineContext* rt_engine(RuntimeBlock* b);
// The host's block word, as the engine's context resolver keeps it.
RuntimeBlock** rt_handle(RuntimeBlock* b);
// Whether the host installed a break poll or a clock (both kept by the
// engine), and the runtime's three clock slots (null without a clock).
bool rt_has_break_poll(RuntimeBlock* b);
bool rt_has_clock(RuntimeBlock* b);
double* rt_clock_slots(RuntimeBlock* b);
PlotStore* rt_plot_store(RuntimeBlock* b);
NameTable* rt_name_table(RuntimeBlock* b);
UndoStore* rt_value_store(RuntimeBlock* b);
int32_t* rt_record_words(RuntimeBlock* b);
// Doubles of the plot store when `instances` records sit above it.
int32_t rt_plot_store_doubles(RuntimeBlock* b, int64_t instances);

// Initialisation and settings.
int runtime_block_init(RuntimeBlock** handle, void* buffer, uint32_t size, int32_t host_option, int32_t line_end);
EngineContext* engine_of_runtime(void* handle);
int rt_register_library(RuntimeBlock* b, const BuiltinEntry* table);
void rt_set_display_format(RuntimeBlock* b, char letter);
constexpr char kDisplayFormatUtf8 = 'u';  // the program's: 8-bit text is UTF-8
void rt_set_break_poll(RuntimeBlock* b, AbortPollFn fn, void* context);
void rt_set_code_optimisation(RuntimeBlock* b, int32_t level, int32_t flag);
void rt_set_number_format(RuntimeBlock* b, char letter, int32_t digits, char imaginary, uint8_t loose,
                          int32_t word5, bool flag);
void rt_get_number_format(RuntimeBlock* b, char* letter, int32_t* digits, char* imaginary, uint8_t* loose,
                          int32_t* word5, bool* flag);
void rt_set_clock_callback(RuntimeBlock* b, ClockFn fn, double* slots, int32_t slot_size);
int rt_add_named_value(RuntimeBlock* b, const char* name, void* value);
void rt_set_grow_callback(RuntimeBlock* b, RtGrowFn fn, void* context);
void rt_set_dialog_callback(RuntimeBlock* b, RtDialogFn fn, void* context);
void rt_set_progress_callback(RuntimeBlock* b, RtProgressFn fn, void* context);
void rt_set_change_callback(RuntimeBlock* b, RtChangeFn fn, void* context);
void rt_set_figure_callbacks(RuntimeBlock* b, RtNewFigureFn create, RtFigureNotifyFn notify, void* context);
// The file dialogs are the platform's, one pair for the process (getfile and
// putfile of every block reach the same dialogs).
void rt_set_file_dialog_callback(RtFileDialogFn fn, void* context);
RtFileDialogCallback rt_file_dialog_callback();
void rt_set_graphics_driver(RuntimeBlock* b, const GraphicsDriver* driver);
void rt_set_graphics_context(RuntimeBlock* b, void* context);
void rt_set_current_subplot(RuntimeBlock* b, int32_t index);
int rt_engine_tick(RuntimeBlock* b);
void rt_scratch_area(RuntimeBlock* b, uint8_t** start, int64_t* bytes);

// Growth.
bool rt_memory_expand(RuntimeBlock** handle, int code);
bool runtime_block_resize(RuntimeBlock* b, uint32_t new_size, int code);
void instance_array_move(uint8_t* old_top, uint8_t* new_top, int32_t count);
// True for the statuses that ask for a larger block.
bool rt_is_memory_code(int code);
// A step that is run again once the block grew for its failure (a handler's
// attempt, the plot handlers of a figure, a figure's command text, a reset
// at build time). rt_begin_step holds the step's standard error and copies
// the engine's state; rt_grow_for_step ends the step and, when `retry` is
// set, grows the block for `status` and puts that state back into it, so
// that a stopped run leaves nothing of its own behind: no task, semaphore,
// stream, persistent or global change, generator step. A failure that growth
// answered is no failure for the user: its report is dropped (only the
// growth line remains); otherwise the report is passed on and whatever the
// step did stays. True when the block grew and the step is to run again
// (from a new rt_begin_step). Steps nest, each one begun is ended, the
// inner ones first; a step begun inside another takes no copy and does not
// grow: its failure ends the enclosing step, which is undone whole and run
// again, so the state is copied once per outermost step. Every step that
// encloses others runs again for any memory status.
// The derived-variable update is a resumable step instead: run again, it
// goes on where it stopped (the values it computed stay), so it is not
// undone; the handler calls inside it are outermost steps again, each
// undone and run again on its own.
struct RtStep {
  int64_t held;      // the console's hold mark
  int32_t depth;     // steps open around it in its scope
  bool copied;       // an outermost undoable step: the state was copied
  bool resumes;      // a resumable step: it opened a scope
};
RtStep rt_begin_step(RuntimeBlock* b);
RtStep rt_begin_resumable_step();
bool rt_grow_for_step(RuntimeBlock** handle, const RtStep& step, bool retry, int status);
