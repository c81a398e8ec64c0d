// The scripted runtime of the menu tests with the document's queries added:
// plain fields to set, and a log of the commands that reach it.
#pragma once

#include <string>

#include "host/app/doc_runtime.h"
#include "tests/host/ui/scripted_runtime.h"

class ScriptedDocRuntime final : public DocRuntime {
 public:
  ScriptedRuntime menus;  // the menu services
  EngineContext* ctx = nullptr;
  bool known = true, mouse = true, has_plot = true, locked = false, lock_differs = false;
  int32_t mode = 1;
  int tool_status = 0;  // the answer of a tool change
  int reset_status = 0, refresh_status = 0;
  bool changed = false;
  std::string title, version, help;
  SubplotBits scale, props;
  SubplotOptions options;
  bool debug = false, idle_handler = true, idle_on = false, any_handler = true, free = false, absolute = false;
  int32_t rows = 1, columns = 1;
  std::vector<std::string> log;

  bool has_block() const override { return menus.block; }
  int32_t no_block_status() const override { return menus.no_block_status(); }
  int next_record(int32_t id, char k, int32_t* c, const char** n, int32_t* l, bool* s, bool* t) override {
    return menus.next_record(id, k, c, n, l, s, t);
  }
  int next_language(int32_t id, int32_t* c, const char** n, int32_t* l) override { return menus.next_language(id, c, n, l); }
  bool capability(int32_t id, int32_t q) override { return menus.capability(id, q); }
  int menu_exec(int32_t id, int32_t p) override { return menus.menu_exec(id, p); }
  int call_text_handler(int32_t id, int32_t p, const char* t, int32_t l) override { return menus.call_text_handler(id, p, t, l); }
  int record_call(int32_t id, int32_t p, const char** t, int32_t* l) override { return menus.record_call(id, p, t, l); }
  int set_language(int32_t id, int32_t p) override { return menus.set_language(id, p); }
  int32_t menu_item_state(int32_t id, int32_t p, int32_t h, const char* t, int32_t l) override {
    return menus.menu_item_state(id, p, h, t, l);
  }
  int32_t can_select_subplot(int32_t id, int32_t p) override { return menus.can_select_subplot(id, p); }
  int set_current_subplot(int32_t, int32_t p) override { log.push_back("plot " + std::to_string(p)); return 0; }
  int refresh_after_change(int32_t) override { log.push_back("refresh"); return refresh_status; }

  EngineContext* engine() override { return ctx; }
  bool instance_known(int32_t) override { return known; }
  int reset(int32_t) override { log.push_back("reset"); return reset_status; }
  bool changed_flag(int32_t) override { return changed; }
  static int text(const std::string& s, const char** t, int32_t* n) {
    if (s.empty()) return kRtUndefElement;
    *t = s.data();
    *n = int32_t(s.size());
    return 0;
  }
  int get_title(int32_t, const char** t, int32_t* n) override { return text(title, t, n); }
  int get_version(int32_t, const char** t, int32_t* n) override { return text(version, t, n); }
  int get_help(int32_t, const char** t, int32_t* n) override { return text(help, t, n); }
  bool takes_mouse(int32_t) override { return mouse; }
  int32_t tool_mode() override { return mode; }
  int set_tool_mode(int32_t m) override {
    mode = m;
    return tool_status;
  }
  int select_all(int32_t) override { return 0; }
  bool selection_has_plot(int32_t) override { return has_plot; }
  bool subplot_query(int32_t, bool* differs) override { *differs = lock_differs; return locked; }
  void subplots_apply(int32_t) override { log.push_back("apply"); }
  SubplotBits scale_flags(int32_t) override { return scale; }
  void set_scale_flags(int32_t, int32_t mask, int32_t values) override {
    log.push_back("scale " + std::to_string(mask) + " " + std::to_string(values));
  }
  SubplotBits subplot_props(int32_t) override { return props; }
  void set_subplot_props(int32_t, int32_t mask, int32_t values) override {
    log.push_back("props " + std::to_string(mask) + " " + std::to_string(values & mask));
  }
  SubplotOptions subplot_options(int32_t) override { return options; }
  void set_subplot_option(int32_t, int k, bool on) override {
    log.push_back("option " + std::to_string(k) + " " + std::to_string(on));
  }
  bool debug_flag(int32_t) override { return debug; }
  void set_debug_flag(int32_t, bool on) override { debug = on; }
  bool has_idle_handler(int32_t) override { return idle_handler; }
  bool idle_running(int32_t) override { return idle_on; }
  void mark_state(int32_t, bool on) override { idle_on = on; }
  bool has_any_handler(int32_t) override { return any_handler; }
  void get_grid(int32_t, int32_t* r, int32_t* c) override { *r = rows; *c = columns; }
  bool layout_is_free(int32_t, bool* a) override { *a = absolute; return free; }
  void set_grid(int32_t, int32_t r, int32_t c) override { rows = r; columns = c; free = false; }
  void free_layout(int32_t, bool a) override { free = true; absolute = a; }
  void number_format(char* l, int32_t* d, char* i, bool* loose) override { *l = 'e'; *d = 9; *i = 'i'; *loose = true; }
};
