// The document's runtime over the real runtime block of the runtime host:
// each operation calls the runtime or interaction entry of its name. Calls
// that can run application code hold the depth counter. Without a block
// every query answers false or 0 and every status is the host's creation
// status. Texts point into the block or into this object's buffer; callers
// copy them at once.
#pragma once

#include <cstdint>
#include <vector>

#include "host/app/doc_runtime.h"

class RuntimeHost;
struct GraphicsDriver;
struct RuntimeBlock;

class BlockRuntime final : public DocRuntime {
 public:
  explicit BlockRuntime(RuntimeHost* host);

  bool has_block() const override;
  int32_t no_block_status() const override;
  int next_record(int32_t id, char kind, int32_t* cursor, const char** name, int32_t* length, bool* submenu,
                  bool* title) override;
  int next_language(int32_t id, int32_t* cursor, const char** name, int32_t* length) override;
  bool capability(int32_t id, int32_t query) override;
  int menu_exec(int32_t id, int32_t position) override;
  int call_text_handler(int32_t id, int32_t position, const char* text, int32_t length) override;
  int record_call(int32_t id, int32_t position, const char** text, int32_t* length) override;
  int set_language(int32_t id, int32_t position) override;
  int32_t menu_item_state(int32_t id, int32_t position, int32_t clipboard_hash, const char* text,
                          int32_t length) override;
  int32_t can_select_subplot(int32_t id, int32_t position) override;
  int set_current_subplot(int32_t id, int32_t position) override;
  int refresh_after_change(int32_t id) override;

  EngineContext* engine() override;
  bool instance_known(int32_t id) override;
  int reset(int32_t id) override;
  bool changed_flag(int32_t id) override;
  int get_title(int32_t id, const char** text, int32_t* length) override;
  int get_version(int32_t id, const char** text, int32_t* length) override;
  int get_help(int32_t id, const char** text, int32_t* length) override;

  bool takes_mouse(int32_t id) override;
  int32_t tool_mode() override;
  int set_tool_mode(int32_t mode) override;
  int select_all(int32_t id) override;

  bool selection_has_plot(int32_t id) override;
  bool subplot_query(int32_t id, bool* differs) override;
  void subplots_apply(int32_t id) override;
  SubplotBits scale_flags(int32_t id) override;
  void set_scale_flags(int32_t id, int32_t mask, int32_t values) override;
  SubplotBits subplot_props(int32_t id) override;
  void set_subplot_props(int32_t id, int32_t mask, int32_t values) override;
  SubplotOptions subplot_options(int32_t id) override;
  void set_subplot_option(int32_t id, int option, bool on) override;

  bool debug_flag(int32_t id) override;
  void set_debug_flag(int32_t id, bool on) override;
  bool has_idle_handler(int32_t id) override;
  bool idle_running(int32_t id) override;
  void mark_state(int32_t id, bool on) override;

  bool has_any_handler(int32_t id) override;
  void get_grid(int32_t id, int32_t* rows, int32_t* columns) override;
  bool layout_is_free(int32_t id, bool* absolute) override;
  void set_grid(int32_t id, int32_t rows, int32_t columns) override;
  void free_layout(int32_t id, bool absolute) override;

  void number_format(char* letter, int32_t* digits, char* imaginary, bool* loose) override;

  // The "InteractiveHilight" preference, for the renderer's highlighting.
  void set_interactive_highlight(bool on);

  // What the view asks: its driver and context installed in the block, the
  // figure laid out in the client rectangle, refreshed, drawn whole or one
  // subplot at a time, the idle step of its timer, undo and redo. Statuses
  // as the runtime answers them (10201: handled, redraw).
  void set_graphics(const GraphicsDriver* driver, void* context);
  int layout_subplots(int32_t id, double left, double right, double top, double bottom);
  void invalidate_subplots(int32_t id);
  int refresh(int32_t id);
  // 0, or kRtPlotOverflow when some records' memory could not be had (the
  // rest is drawn).
  int draw_figure(int32_t id);
  int draw_current_subplot(int32_t id, double left, double right, double top, double bottom);
  int idle_step_redraw(int32_t id);
  int undo(int32_t id);
  int redo(int32_t id);
  bool can_undo(int32_t id);
  bool can_redo(int32_t id);

 private:
  RuntimeBlock* block() const;
  RuntimeBlock** handle() const;

  RuntimeHost* host_;
  // Titles, about and help texts kept as values are copied out of the value
  // store into this buffer; record texts point into the block.
  std::vector<char> text_;
};
