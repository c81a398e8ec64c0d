// The tagged record list in area 2: finding an instance's run and its
// records, deleting a run, and the menu and section walks. Positions handed
// in and out are word offsets from the start of the instance's run (its
// header record at 0). Every read is bounded by the record-word count.
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

int rec_find_instance(RuntimeBlock* b, int32_t id, int32_t* position);
int rec_find_tag(RuntimeBlock* b, int32_t id, int32_t* position, int32_t tag);
bool rec_instance_has_more(RuntimeBlock* b, int32_t id);
int32_t rec_instance_slot(RuntimeBlock* b, int32_t id);
void rec_delete_instance(RuntimeBlock* b, int32_t id);
// One step of the menu walk; the flags (both or neither given) ask for
// titles and nesting. In the menus' walk ('m') a tag-20 title sets *submenu;
// inside a level opened by a tag-22 record it sets *submenu_end instead,
// with its name (a submenu starts); the tag-23 end sets *submenu_end with no
// name, and a separator comes back with neither flag nor name. Other kinds
// pass over these records.
int rec_nth_of_kind(RuntimeBlock* b, int32_t id, char kind, int32_t* position, const char** text, int32_t* length,
                    uint8_t* submenu_end, uint8_t* submenu);
int rec_iter_menu_a(RuntimeBlock* b, int32_t id, int32_t* position, const char** title, int32_t* title_length,
                    const char** name, int32_t* name_length);

// A record of the list: its tag, length and data, checked to lie inside it.
struct RecordView {
  int32_t tag;
  int32_t length;
  const int32_t* data;
  int32_t data_words;
};
// The record at word w of the list; false at the end or a damaged record.
bool rec_at(RuntimeBlock* b, int64_t w, RecordView* out);
// The text at data word k of a record; false when it does not fit.
bool rec_text(const RecordView& r, int32_t k, const char** text, int32_t* length);
