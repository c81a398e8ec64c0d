// Bounds every drawing room of the test's scope to `bytes` (0: no bound):
// how a test makes memory run out at a chosen size.
#pragma once

#include <cstdint>

#include "graphics/render/draw_room.h"

struct DrawRoomBound {
  explicit DrawRoomBound(int64_t bytes) : saved(draw_room_limit()) { draw_room_set_limit(bytes); }
  ~DrawRoomBound() { draw_room_set_limit(saved); }
  DrawRoomBound(const DrawRoomBound&) = delete;
  DrawRoomBound& operator=(const DrawRoomBound&) = delete;
  int64_t saved;
};
