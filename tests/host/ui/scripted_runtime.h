// A scripted fake of the runtime's menu services: record lists per kind, the
// states and statuses to answer, and a log of the calls that change things.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/ui/menu_runtime.h"
#include "runtime/runtime_status.h"

struct ScriptedRecord {
  std::string name;  // empty: a separator or a submenu end
  bool submenu = false, title = false;
};

class ScriptedRuntime final : public MenuRuntime {
 public:
  std::map<char, std::vector<ScriptedRecord>> records;  // 'm', 'f', 'i', 'e', 'l'
  bool block = true;
  bool choose_layout = true;  // capability 4
  int32_t state = 1;          // menu_item_state answer
  std::map<int32_t, int32_t> state_at;  // per position, over state
  int status = kRtHandledRedraw;
  std::string copy_text;
  std::vector<std::string> log;
  int32_t last_hash = 0;

  bool has_block() const override { return block; }
  int32_t no_block_status() const override { return kRtNotEnoughMemForTN; }
  int next_record(int32_t, char kind, int32_t* cursor, const char** name, int32_t* length, bool* submenu,
                  bool* title) override {
    const std::vector<ScriptedRecord>& list = records[kind];
    if (*cursor + 1 >= int32_t(list.size())) return kRtUndefElement;
    const ScriptedRecord& r = list[size_t(++*cursor)];
    *name = r.name.empty() ? nullptr : r.name.data();
    *length = int32_t(r.name.size());
    if (submenu) *submenu = r.submenu;
    if (title) *title = r.title;
    return 0;
  }
  int next_language(int32_t id, int32_t* cursor, const char** name, int32_t* length) override {
    return next_record(id, 'l', cursor, name, length, nullptr, nullptr);
  }
  bool capability(int32_t, int32_t query) override { return query == 4 && choose_layout; }
  int menu_exec(int32_t, int32_t position) override {
    log.push_back("exec " + std::to_string(position));
    return status;
  }
  int call_text_handler(int32_t, int32_t position, const char* text, int32_t length) override {
    log.push_back("paste " + std::to_string(position) + " " + std::string(text, size_t(length)));
    return status;
  }
  int record_call(int32_t, int32_t position, const char** text, int32_t* length) override {
    log.push_back("copy " + std::to_string(position));
    *text = copy_text.data();
    *length = int32_t(copy_text.size());
    return 0;
  }
  int set_language(int32_t, int32_t position) override {
    log.push_back("language " + std::to_string(position));
    return kRtSectionChanged;
  }
  int32_t menu_item_state(int32_t, int32_t position, int32_t hash, const char*, int32_t) override {
    last_hash = hash;
    auto it = state_at.find(position);
    return it == state_at.end() ? state : it->second;
  }
  int32_t can_select_subplot(int32_t, int32_t) override { return 3; }
  int set_current_subplot(int32_t, int32_t position) override {
    log.push_back("plot " + std::to_string(position));
    return 0;
  }
  int refresh_after_change(int32_t) override {
    log.push_back("refresh");
    return 0;
  }
};
