// Running an application's menu items: a menu entry or item with an undo
// row and a refresh, a data handler fed a text (Paste As) that records the
// text's link line, and a data handler whose output text is handed back
// (Copy As). Every one runs through the handler call and may grow the block.
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

// Runs the handler of the menu record at run position `position` with an
// undo row: kRtHandledRedraw after the refresh; a failure drops the row and
// answers its status (a handler already running, or cancelled: 0).
int inst_menu_exec(RuntimeBlock** handle, int32_t id, int32_t position);

// Runs the data handler of the item at `position` (or of the alternative
// that "_menuFlags" allows for the text) with `text` (length < 0: up to its
// zero) as `_xdata`; the link ids of a "%TN link ## **" line after the
// text's header go into the item that ran. kRtHandledRedraw after the refresh
// and the change handlers; kRtUndefElement when no alternative is allowed.
int inst_call_text_handler(RuntimeBlock** handle, int32_t id, int32_t position, const char* text, int32_t length);

// Runs the data handler of the item at `position` for its output text, with
// `link_id` in the text's header (-1 none). *out points at the text, outside
// the block and as large as the value's text needs, and *out_length is its
// length; both hold until the next record call. The handler call's status.
int inst_record_call(RuntimeBlock** handle, int32_t id, int32_t position, int32_t link_id, char** out,
                     int32_t* out_length);

// Reads a "%TN link ## **" line (each pair two decimal digits) at the start
// of `line` (n bytes): true with the link instance id and link id.
bool read_link_line(const char* line, int32_t n, int32_t* link_instance, int32_t* link_id);
