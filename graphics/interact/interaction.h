// The entries through which the host's figure view hands mouse and key
// events to the interaction code, and the small queries its commands use.
// Entries that can run handlers take the host's block handle and re-read
// the block after every call; each answers a status (0 done, 10201 redraw,
// 10200 nothing under way, 10203 too early or no handler, 10040 no such
// instance, or a handler's own code, returned once).
#pragma once

#include <cstdint>

#include "runtime/runtime_block.h"

// Tool modes of the block; a saved image may hold 6 to 12, which are stored
// as the zoom and drag tools they stand for.
enum : int32_t {
  kToolManipulate = 1,
  kToolZoom = 2,
  kToolZoomX = 3,
  kToolDrag = 4,
  kToolSelect = 5,
};

// Sets the tool mode. Leaving manipulate first ends the pending subplot of
// every instance (its leave handler runs, the instance is redrawn): the
// answer is 10201 when one was, a leave handler's error when one failed,
// else 0.
int interact_set_tool_mode(RuntimeBlock** handle, int32_t mode);
int32_t interact_get_tool_mode(const RuntimeBlock* b);

// True when the instance has a figure set-up record or begins with a figure
// command text: its figures take mouse events.
bool inst_takes_mouse(RuntimeBlock* b, int32_t id);
// True when the record list holds the instance's header record.
bool rt_instance_known(RuntimeBlock* b, int32_t id);
// The host's "InteractiveHilight" setting, read by the renderer.
void rt_set_interactive_highlight(RuntimeBlock* b, uint8_t on);

// Ends the instance's pending subplot (one whose mouse-over or wheel handler
// ran): its leave handler runs with an empty event state. With `redraw` a
// success refreshes the instance (10201, or the refresh's error); without it
// *redraw_wanted (when given, cleared first) is set and the answer is 0. The
// pending subplot is -1 afterwards in every case; 10040 for no instance.
int interact_end_pending(RuntimeBlock** handle, int32_t id, bool redraw, uint8_t* redraw_wanted);
