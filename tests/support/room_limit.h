// Bounds every drawing room of the test's scope to `bytes` (0: no bound):
// how a test makes memory run out at a chosen size.
#pragma once

#include <cstdint>

#include "graphics/render/draw_room.h"

struct RoomLimit {
  explicit RoomLimit(int64_t bytes) : saved(draw_room_limit()) { draw_room_set_limit(bytes); }
  ~RoomLimit() { draw_room_set_limit(saved); }
  RoomLimit(const RoomLimit&) = delete;
  RoomLimit& operator=(const RoomLimit&) = delete;
  int64_t saved;
};
