// What the menu bar asks of the application runtime, as one interface: the
// program passes the runtime block's operations, tests a scripted fake.
// Names come back as bytes owned by the runtime, valid until it runs again.
#pragma once

#include <cstdint>

class MenuRuntime {
 public:
  virtual ~MenuRuntime() = default;
  // False when no runtime block stands; no_block_status() then stands in for
  // every status.
  virtual bool has_block() const = 0;
  virtual int32_t no_block_status() const = 0;

  // One step of the walk over the instance's records of a kind ('m' menu
  // item, 'f' plot, 'i' paste format, 'e' copy format); 0, or non-zero at
  // the end. submenu and title are set when asked for and the record is a
  // submenu start or end, or a menu title.
  virtual int next_record(int32_t id, char kind, int32_t* cursor, const char** name, int32_t* length,
                          bool* submenu, bool* title) = 0;
  // The next distinct language entry; 0, or non-zero at the end.
  virtual int next_language(int32_t id, int32_t* cursor, const char** name, int32_t* length) = 0;
  virtual bool capability(int32_t id, int32_t query) = 0;
  virtual int menu_exec(int32_t id, int32_t position) = 0;
  virtual int call_text_handler(int32_t id, int32_t position, const char* text, int32_t length) = 0;
  virtual int record_call(int32_t id, int32_t position, const char** text, int32_t* length) = 0;
  virtual int set_language(int32_t id, int32_t position) = 0;
  virtual int32_t menu_item_state(int32_t id, int32_t position, int32_t clipboard_hash, const char* text,
                                  int32_t length) = 0;
  virtual int32_t can_select_subplot(int32_t id, int32_t position) = 0;
  virtual int set_current_subplot(int32_t id, int32_t position) = 0;
  virtual int refresh_after_change(int32_t id) = 0;
};
