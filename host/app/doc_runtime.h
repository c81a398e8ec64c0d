// What the document asks of the runtime and the interaction code beyond the
// menus: instance state, subplot options and layout, the tool mode. The
// program passes the runtime block's operations, tests a scripted fake.
#pragma once

#include <cstdint>

#include "host/ui/menu_runtime.h"

struct EngineContext;

// Flags of the selected subplots: values, bits that may change, bits that
// differ among them.
struct SubplotBits {
  int32_t values = 0, allowed = 0, differing = 0;
};

enum : int { kOptPerspective = 0, kOptAutoTarget = 1, kOptAutoViewpoint = 2, kOptAutoUpVector = 3, kOptCount = 4 };
struct SubplotOptions {
  bool apply = false;
  bool differs[kOptCount] = {};
  bool value[kOptCount] = {};
};

class DocRuntime : public MenuRuntime {
 public:
  virtual EngineContext* engine() = 0;  // null without a block
  virtual bool instance_known(int32_t id) = 0;
  virtual int reset(int32_t id) = 0;
  virtual bool changed_flag(int32_t id) = 0;
  // Texts point into the block; the caller copies them at once.
  virtual int get_title(int32_t id, const char** text, int32_t* length) = 0;
  virtual int get_version(int32_t id, const char** text, int32_t* length) = 0;
  virtual int get_help(int32_t id, const char** text, int32_t* length) = 0;

  virtual bool takes_mouse(int32_t id) = 0;  // a figure or figure-only record
  virtual int32_t tool_mode() = 0;
  // 10201 when leaving manipulate ran a leave handler that asks for a
  // redraw, a handler's error, else 0.
  virtual int set_tool_mode(int32_t mode) = 0;
  virtual int select_all(int32_t id) = 0;

  virtual bool selection_has_plot(int32_t id) = 0;
  virtual bool subplot_query(int32_t id, bool* differs) = 0;  // locked?
  virtual void subplots_apply(int32_t id) = 0;
  virtual SubplotBits scale_flags(int32_t id) = 0;
  virtual void set_scale_flags(int32_t id, int32_t mask, int32_t values) = 0;
  virtual SubplotBits subplot_props(int32_t id) = 0;
  virtual void set_subplot_props(int32_t id, int32_t mask, int32_t values) = 0;
  virtual SubplotOptions subplot_options(int32_t id) = 0;
  virtual void set_subplot_option(int32_t id, int option, bool on) = 0;

  virtual bool debug_flag(int32_t id) = 0;
  virtual void set_debug_flag(int32_t id, bool on) = 0;
  virtual bool has_idle_handler(int32_t id) = 0;
  virtual bool idle_running(int32_t id) = 0;
  virtual void mark_state(int32_t id, bool on) = 0;

  virtual bool has_any_handler(int32_t id) = 0;
  virtual void get_grid(int32_t id, int32_t* rows, int32_t* columns) = 0;
  virtual bool layout_is_free(int32_t id, bool* absolute) = 0;
  virtual void set_grid(int32_t id, int32_t rows, int32_t columns) = 0;
  virtual void free_layout(int32_t id, bool absolute) = 0;

  // The engine's number display settings: letter, digits, imaginary symbol,
  // loose flag.
  virtual void number_format(char* letter, int32_t* digits, char* imaginary, bool* loose) = 0;
};
