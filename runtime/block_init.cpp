// Lay-out and initialisation of the runtime block, its area arithmetic, the
// host's setters, the engine tick and the scratch region. The engine's
// context sits at the start of area 0 and finds the block again through the
// host's block word (the context resolver), never through a kept pointer.
#include <cstring>

#include "engine/core/interp.h"
#include "engine/core/strings.h"
#include "engine/lib/display.h"
#include "engine/lib/engine_start.h"
#include "graphics/plotlist/plot_store.h"
#include "graphics/render/graphics_driver.h"
#include "runtime/error_tables.h"
#include "runtime/camera_builtins.h"
#include "runtime/embedded_streams.h"
#include "runtime/graphics_builtins.h"
#include "runtime/handler_call.h"
#include "runtime/instances.h"
#include "runtime/name_table.h"
#include "runtime/runtime_block.h"
#include "runtime/runtime_status.h"
#include "runtime/special_vars.h"
#include "runtime/tn_builtins.h"
#include "runtime/undo_store.h"

namespace {

// What initialisation puts into the areas: the engine, instance 0 at the top
// of area 1 over the plot store's head, the special variables' names, and
// the value store.
constexpr int64_t kMinMainBytes = int64_t(kInstanceBytes) + 8 * int64_t(kPlotStoreOverhead);
constexpr int64_t kMinNameBytes = name_table_bytes(kSpecialVarRows);
constexpr int64_t kMinValueBytes = kUndoMinBytes;
constexpr int32_t kInteractionManipulate = 1;
constexpr uint32_t kDefaultStyleBits = 256;
constexpr uint8_t kDefaultGrey = 204;
constexpr int kClockFirstRuntimeSlot = 3;
constexpr int kClockRuntimeSlots = 3;

bool split_is_usable(const AreaSplit& s) {
  return s.size[kAreaEngine] >= kMinBlockBytes && s.size[kAreaMain] >= kMinMainBytes &&
         s.size[kAreaNames] >= kMinNameBytes && s.size[kAreaValues] >= kMinValueBytes;
}

}  // namespace

uint32_t rt_min_block_bytes() {
  int64_t total = kAreaAlignBytes;
  while (!split_is_usable(rt_initial_split(total))) total += kAreaAlignBytes;
  return uint32_t(total + kRuntimeHeaderBytes);
}

uint8_t* rt_area(RuntimeBlock* b, int area) {
  int64_t off = kRuntimeHeaderBytes;
  for (int k = 0; k < area; ++k) off += b->h.area_size[k];
  return reinterpret_cast<uint8_t*>(b) + off;
}
EngineContext* rt_engine(RuntimeBlock* b) { return reinterpret_cast<EngineContext*>(rt_area(b, kAreaEngine)); }
PlotStore* rt_plot_store(RuntimeBlock* b) { return reinterpret_cast<PlotStore*>(rt_area(b, kAreaMain)); }
NameTable* rt_name_table(RuntimeBlock* b) { return reinterpret_cast<NameTable*>(rt_area(b, kAreaNames)); }
UndoStore* rt_value_store(RuntimeBlock* b) { return reinterpret_cast<UndoStore*>(rt_area(b, kAreaValues)); }
int32_t* rt_record_words(RuntimeBlock* b) { return reinterpret_cast<int32_t*>(rt_area(b, kAreaRecords)); }
int32_t rt_plot_store_doubles(RuntimeBlock* b, int64_t instances) {
  return int32_t((b->h.area_size[kAreaMain] - instances * kInstanceBytes) / 8);
}

RuntimeBlock** rt_handle(RuntimeBlock* b) { return static_cast<RuntimeBlock**>(rt_engine(b)->resolver_handle); }
bool rt_has_break_poll(RuntimeBlock* b) { return rt_engine(b)->abort_fn != nullptr; }
bool rt_has_clock(RuntimeBlock* b) {
  const EngineContext* c = rt_engine(b);
  return c->clock_fn && c->clock_state;
}
double* rt_clock_slots(RuntimeBlock* b) {
  EngineContext* c = rt_engine(b);
  return c->clock_state ? static_cast<double*>(c->clock_state) + kClockFirstRuntimeSlot : nullptr;
}

EngineContext* engine_of_runtime(void* handle) {
  RuntimeBlock* b = *static_cast<RuntimeBlock**>(handle);
  return b ? rt_engine(b) : nullptr;
}

int runtime_block_init(RuntimeBlock** handle, void* buffer, uint32_t size, int32_t host_option, int32_t line_end) {
  *handle = nullptr;
  if (!buffer || size < kRuntimeMinBufferBytes) return kRtNotEnoughMemForTN;
  const AreaSplit split = rt_initial_split(rt_area_total(size));
  RuntimeBlock* b = static_cast<RuntimeBlock*>(buffer);
  std::memset(b, 0, sizeof *b);
  *handle = b;
  for (int k = 0; k < kAreaCount; ++k) b->h.area_size[k] = int32_t(split.size[k]);
  b->h.alloc_size = size;
  // Nothing is written into an area too small for what it receives: a name
  // table area below the table's least size is refused here, as the table
  // set-up would refuse it, before the engine is laid out.
  if (split.size[kAreaNames] < kNameTableMinBytes) return kRtTooSmallNameBuf;

  EngineContext* ctx = nullptr;
  const int status = engine_start(rt_area(b, kAreaEngine), uint32_t(split.size[kAreaEngine]), &ctx);
  if (status != 0) {
    *handle = nullptr;
    return status;
  }
  // Field by field over zeroes: a braced copy would bring the stack's
  // padding bytes into the header.
  std::memset(&b->h.user, 0, sizeof b->h.user);
  b->h.user.block = b;
  TN_TRY(rt_error_tables_bind());
  TN_TRY(rt_graphics_builtins_bind());
  TN_TRY(rt_camera_builtins_bind());
  TN_TRY(rt_builtins_bind());
  TN_TRY(rt_handler_builtins_bind());
  engine_set_user_data(ctx, reinterpret_cast<uintptr_t>(&b->h.user));
  engine_set_context_resolver(ctx, engine_of_runtime, handle);
  // Streams a block that used this host word before left open are closed.
  rt_embedded_reset(b);

  b->h.build = PlotBuildState{-1, 0, 0, 0, -1};
  b->h.host_option = host_option;
  b->h.line_end = line_end;
  b->h.interaction_mode = kInteractionManipulate;
  b->h.flag_byte = 1;
  b->h.default_chart_style = StyleSpec{kDefaultStyleBits, kDefaultGrey, kDefaultGrey, kDefaultGrey, 0};
  b->h.default_frame_style = b->h.default_chart_style;
  b->h.frame_move.target_cell = -1;
  b->h.interaction.active = -1;
  b->h.driver = &kEmptyGraphicsDriver;  // nothing is drawn until a view installs its driver

  // Instance 0 fills the top of area 1 above the plot store's head: an area
  // that cannot hold both is full.
  if (split.size[kAreaMain] < kMinMainBytes) return kRtPlotOverflow;
  inst_defaults_init(b);
  return special_vars_init(b, true);
}

int rt_register_library(RuntimeBlock* b, const BuiltinEntry* table) {
  return engine_register_builtin_table(rt_engine(b), table, 1);
}

void rt_set_display_format(RuntimeBlock* b, char letter) { engine_set_charset(rt_engine(b), letter); }

void rt_set_break_poll(RuntimeBlock* b, AbortPollFn fn, void* context) {
  engine_set_option_pair(rt_engine(b), fn, context);
}

void rt_set_code_optimisation(RuntimeBlock* b, int32_t level, int32_t flag) {
  compile_set_optimisation(rt_engine(b), level, flag);
}

void rt_set_number_format(RuntimeBlock* b, char letter, int32_t digits, char imaginary, uint8_t loose,
                          int32_t word5, bool flag) {
  display_set_options(rt_engine(b), letter, digits, imaginary, loose, word5, flag);
}

void rt_get_number_format(RuntimeBlock* b, char* letter, int32_t* digits, char* imaginary, uint8_t* loose,
                          int32_t* word5, bool* flag) {
  display_get_options(rt_engine(b), letter, digits, imaginary, loose, word5, flag);
}

void rt_set_clock_callback(RuntimeBlock* b, ClockFn fn, double* slots, int32_t slot_size) {
  engine_set_callbacks(rt_engine(b), fn, slots, slot_size);
  if (!fn || !slots) return;
  for (int k = 0; k < kClockRuntimeSlots; ++k) fn(slots + kClockFirstRuntimeSlot + k, 0, 1);
}

int rt_add_named_value(RuntimeBlock* b, const char* name, void* value) {
  return engine_add_named_block(rt_engine(b), name, value);
}

void rt_set_grow_callback(RuntimeBlock* b, RtGrowFn fn, void* context) { b->h.grow = RtGrowCallback{fn, context}; }
void rt_set_dialog_callback(RuntimeBlock* b, RtDialogFn fn, void* context) {
  b->h.dialog = RtDialogCallback{fn, context};
}
void rt_set_progress_callback(RuntimeBlock* b, RtProgressFn fn, void* context) {
  b->h.progress = RtProgressCallback{fn, context};
}
void rt_set_change_callback(RuntimeBlock* b, RtChangeFn fn, void* context) {
  b->h.change = RtChangeCallback{fn, context};
}
void rt_set_figure_callbacks(RuntimeBlock* b, RtNewFigureFn create, RtFigureNotifyFn notify, void* context) {
  b->h.figure = RtFigureCallbacks{create, notify, context};
}
void rt_set_graphics_driver(RuntimeBlock* b, const GraphicsDriver* driver) { b->h.driver = driver; }
void rt_set_graphics_context(RuntimeBlock* b, void* context) { b->h.driver_context = context; }
void rt_set_current_subplot(RuntimeBlock* b, int32_t index) { b->h.build.subplot = index; }

int rt_engine_tick(RuntimeBlock* b) {
  // While a handler runs the interpreter is already in use.
  if (b->h.busy) return 0;
  // One slice: the run comes back when a task's time slice ends, however
  // long its code would run, so that the host's window keeps answering.
  const int status = interp_run(rt_engine(b), 1);
  return handler_end_task_stop(rt_engine(b), status) ? kOk : status;
}
