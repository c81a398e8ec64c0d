// The document's runtime calls, one runtime or interaction entry each. The
// block may move in any call that takes the handle; nothing of it is kept
// across one, and the handle is read again from the host every time.
#include "host/app/block_runtime.h"

#include "graphics/interact/interaction.h"
#include "host/app/runtime_depth.h"
#include "host/app/runtime_host.h"
#include "runtime/figure_draw.h"
#include "runtime/instances.h"
#include "runtime/layout.h"
#include "runtime/menu_exec.h"
#include "runtime/menu_state.h"
#include "runtime/record_list.h"
#include "runtime/runtime_status.h"

namespace {

// Large enough for an application's help text kept as a value.
constexpr size_t kTextBufferBytes = size_t(1) << 16;
constexpr int32_t kNoLinkId = -1;

}  // namespace

BlockRuntime::BlockRuntime(RuntimeHost* host) : host_(host), text_(kTextBufferBytes) {}

RuntimeBlock* BlockRuntime::block() const { return host_->block(); }
RuntimeBlock** BlockRuntime::handle() const { return host_->block_handle(); }
bool BlockRuntime::has_block() const { return host_->has_block(); }
int32_t BlockRuntime::no_block_status() const { return host_->creation_status(); }

// --- Menus ---------------------------------------------------------------

int BlockRuntime::next_record(int32_t id, char kind, int32_t* cursor, const char** name, int32_t* length,
                              bool* submenu, bool* title) {
  if (!has_block()) return no_block_status();
  *name = nullptr;
  *length = 0;
  if (!submenu && !title) return rec_nth_of_kind(block(), id, kind, cursor, name, length, nullptr, nullptr);
  // The runtime takes both flags or neither: its nesting flag is the host's
  // submenu flag, its title flag the host's title flag.
  uint8_t nesting = 0, titled = 0;
  const int status = rec_nth_of_kind(block(), id, kind, cursor, name, length, &nesting, &titled);
  if (submenu) *submenu = nesting != 0;
  if (title) *title = titled != 0;
  return status;
}

int BlockRuntime::next_language(int32_t id, int32_t* cursor, const char** name, int32_t* length) {
  if (!has_block()) return no_block_status();
  // The menu shows a section's title; sections are told apart by name.
  const char* section = nullptr;
  int32_t section_length = 0;
  return rec_iter_menu_a(block(), id, cursor, name, length, &section, &section_length);
}

bool BlockRuntime::capability(int32_t id, int32_t query) { return has_block() && inst_capability(block(), id, query); }

int BlockRuntime::menu_exec(int32_t id, int32_t position) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_menu_exec(handle(), id, position);
}

int BlockRuntime::call_text_handler(int32_t id, int32_t position, const char* text, int32_t length) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_call_text_handler(handle(), id, position, text, length);
}

int BlockRuntime::record_call(int32_t id, int32_t position, const char** text, int32_t* length) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  char* out = nullptr;
  const int status = inst_record_call(handle(), id, position, kNoLinkId, &out, length);
  *text = out;
  return status;
}

int BlockRuntime::set_language(int32_t id, int32_t position) {
  return has_block() ? inst_set_mode_word(block(), id, position) : no_block_status();
}

int32_t BlockRuntime::menu_item_state(int32_t id, int32_t position, int32_t clipboard_hash, const char* text,
                                      int32_t length) {
  if (!has_block()) return 0;
  RuntimeCallScope scope;  // "_menuFlags" runs in the engine
  return inst_menu_item_state(block(), id, position, clipboard_hash, text, length);
}

int32_t BlockRuntime::can_select_subplot(int32_t id, int32_t position) {
  return has_block() ? inst_can_select_subplot(block(), id, position) : 0;
}

int BlockRuntime::set_current_subplot(int32_t id, int32_t position) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_set_current_subplot(handle(), id, position);
}

int BlockRuntime::refresh_after_change(int32_t id) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_refresh_after_change(handle(), id);
}

// --- Instance --------------------------------------------------------------

EngineContext* BlockRuntime::engine() { return has_block() ? rt_engine(block()) : nullptr; }
bool BlockRuntime::instance_known(int32_t id) { return has_block() && rt_instance_known(block(), id); }

int BlockRuntime::reset(int32_t id) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_reset(handle(), id);
}

bool BlockRuntime::changed_flag(int32_t id) { return has_block() && inst_changed_flag(block(), id); }

int BlockRuntime::get_title(int32_t id, const char** text, int32_t* length) {
  if (!has_block()) return no_block_status();
  return inst_get_title(block(), id, text, length, text_.data(), int32_t(text_.size()));
}
int BlockRuntime::get_version(int32_t id, const char** text, int32_t* length) {
  if (!has_block()) return no_block_status();
  return inst_get_version(block(), id, 'n', text, length, text_.data(), int32_t(text_.size()));
}
int BlockRuntime::get_help(int32_t id, const char** text, int32_t* length) {
  if (!has_block()) return no_block_status();
  return inst_get_help(block(), id, 'n', text, length, text_.data(), int32_t(text_.size()));
}

// --- Interaction -----------------------------------------------------------

bool BlockRuntime::takes_mouse(int32_t id) { return has_block() && inst_takes_mouse(block(), id); }
int32_t BlockRuntime::tool_mode() { return has_block() ? interact_get_tool_mode(block()) : kToolManipulate; }

int BlockRuntime::set_tool_mode(int32_t mode) {
  if (!has_block()) return 0;
  RuntimeCallScope scope;  // leaving manipulate runs pending leave handlers
  return interact_set_tool_mode(handle(), mode);
}

int BlockRuntime::select_all(int32_t id) { return has_block() ? inst_select_all(block(), id) : no_block_status(); }

void BlockRuntime::set_interactive_highlight(bool on) {
  if (has_block()) rt_set_interactive_highlight(block(), on ? 1 : 0);
}

// --- Subplots ----------------------------------------------------------------

bool BlockRuntime::selection_has_plot(int32_t id) { return has_block() && inst_selection_has_plot(block(), id); }

bool BlockRuntime::subplot_query(int32_t id, bool* differs) {
  bool locked = false;
  *differs = false;
  if (has_block()) inst_subplot_query(block(), id, &locked, differs);
  return locked;
}

void BlockRuntime::subplots_apply(int32_t id) {
  if (!has_block()) return;
  RuntimeCallScope scope;
  inst_subplots_apply(handle(), id);
}

SubplotBits BlockRuntime::scale_flags(int32_t id) {
  uint32_t values = 0, allowed = 0, differing = 0;
  if (has_block()) inst_scale_flags_get(block(), id, &values, &allowed, &differing);
  return SubplotBits{int32_t(values), int32_t(allowed), int32_t(differing)};
}

void BlockRuntime::set_scale_flags(int32_t id, int32_t mask, int32_t values) {
  if (!has_block()) return;
  RuntimeCallScope scope;
  inst_scale_flags_set(handle(), id, uint32_t(mask), uint32_t(values));
}

SubplotBits BlockRuntime::subplot_props(int32_t id) {
  uint32_t values = 0, allowed = 0, differing = 0;
  if (has_block()) inst_subplot_props_get(block(), id, &values, &allowed, &differing);
  return SubplotBits{int32_t(values), int32_t(allowed), int32_t(differing)};
}

void BlockRuntime::set_subplot_props(int32_t id, int32_t mask, int32_t values) {
  if (has_block()) inst_subplot_props_set(block(), id, uint32_t(mask), uint32_t(values));
}

SubplotOptions BlockRuntime::subplot_options(int32_t id) {
  SubplotOptions o;
  if (!has_block()) return o;
  // Pairs {differ, common value} in the order of the option indexes.
  uint8_t bytes[kSubplotOptionBytes] = {};
  o.apply = inst_subplot_options_get(block(), id, bytes);
  for (int k = 0; k < kOptCount; ++k) {
    o.differs[k] = bytes[2 * k] != 0;
    o.value[k] = bytes[2 * k + 1] != 0;
  }
  return o;
}

void BlockRuntime::set_subplot_option(int32_t id, int option, bool on) {
  if (!has_block()) return;
  RuntimeCallScope scope;
  switch (option) {
    case kOptPerspective: inst_set_perspective(handle(), id, on); break;
    case kOptAutoTarget: inst_set_auto_target(handle(), id, on); break;
    case kOptAutoViewpoint: inst_set_auto_viewpoint(handle(), id, on); break;
    case kOptAutoUpVector: inst_set_auto_upvector(handle(), id, on); break;
    default: break;
  }
}

// --- Instance state and layout -------------------------------------------------

bool BlockRuntime::debug_flag(int32_t id) { return has_block() && inst_get_debug_flag(block(), id); }
void BlockRuntime::set_debug_flag(int32_t id, bool on) {
  if (has_block()) inst_set_flag(block(), id, on ? 1 : 0);
}
bool BlockRuntime::has_idle_handler(int32_t id) { return has_block() && inst_has_idle_handler(block(), id); }
bool BlockRuntime::idle_running(int32_t id) { return has_block() && inst_idle_running(block(), id); }
void BlockRuntime::mark_state(int32_t id, bool on) {
  if (has_block()) inst_mark_state(block(), id, on);
}

bool BlockRuntime::has_any_handler(int32_t id) { return has_block() && inst_has_any_handler(block(), id); }

void BlockRuntime::get_grid(int32_t id, int32_t* rows, int32_t* columns) {
  *rows = *columns = 0;
  if (has_block()) inst_get_grid(block(), id, rows, columns);
}

bool BlockRuntime::layout_is_free(int32_t id, bool* absolute) {
  bool relative = false;
  *absolute = false;
  return has_block() && inst_layout_is_default(block(), id, absolute, &relative);
}

void BlockRuntime::set_grid(int32_t id, int32_t rows, int32_t columns) {
  if (!has_block()) return;
  RuntimeCallScope scope;
  inst_set_grid_redraw(handle(), id, rows, columns);
}

void BlockRuntime::free_layout(int32_t id, bool absolute) {
  if (has_block()) inst_free_layout(block(), id, absolute);
}

void BlockRuntime::number_format(char* letter, int32_t* digits, char* imaginary, bool* loose) {
  if (!has_block()) return;
  uint8_t loose_byte = 0;
  int32_t word5 = 0;
  bool flag = false;
  rt_get_number_format(block(), letter, digits, imaginary, &loose_byte, &word5, &flag);
  *loose = loose_byte != 0;
}

// --- The view's calls --------------------------------------------------------

void BlockRuntime::set_graphics(const GraphicsDriver* driver, void* context) {
  if (!has_block()) return;
  rt_set_graphics_driver(block(), driver);
  rt_set_graphics_context(block(), context);
}

int BlockRuntime::layout_subplots(int32_t id, double left, double right, double top, double bottom) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;  // resize handlers run
  return figure_layout_subplots(handle(), id, left, right, top, bottom);
}

void BlockRuntime::invalidate_subplots(int32_t id) {
  if (has_block()) inst_invalidate_subplots(block(), id);
}

int BlockRuntime::refresh(int32_t id) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_refresh(handle(), id);
}

// Drawing runs no application code: painting stays allowed while a handler
// is under way (drawnow repaints from inside one).
int BlockRuntime::draw_figure(int32_t id) { return has_block() ? figure_draw(block(), id) : 0; }

int BlockRuntime::draw_current_subplot(int32_t id, double left, double right, double top, double bottom) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;  // the subplot's plot handler runs
  return inst_draw_current_subplot(handle(), id, left, right, top, bottom);
}

int BlockRuntime::idle_step_redraw(int32_t id) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_idle_step_redraw(handle(), id);
}

int BlockRuntime::undo(int32_t id) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_undo(handle(), id);
}

int BlockRuntime::redo(int32_t id) {
  if (!has_block()) return no_block_status();
  RuntimeCallScope scope;
  return inst_redo(handle(), id);
}

bool BlockRuntime::can_undo(int32_t id) { return has_block() && rt_can_undo(block(), id); }
bool BlockRuntime::can_redo(int32_t id) { return has_block() && rt_can_redo(block(), id); }
