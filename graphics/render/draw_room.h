// Working memory of one drawing. The display-list interpreter, its 3-D scene
// and the scene's walk, the hit test and the contour commands take the room
// their data needs from here, never a share of whatever the block has free:
// a record is drawn whole or, when memory really runs out, the room says so.
#pragma once

#include <cstdint>

// The regions of a room; each is one heap allocation, reused while it is
// large enough. Regions are independent, so the scene can grow while a
// record's points are held.
enum DrawRoomRegion : int32_t {
  kRoomPoints = 0,  // a record's converted coordinates and its work arrays
  kRoomScene = 1,   // the 3-D scene block
  kRoomWalk = 2,    // the scene walk's screen grid
  kRoomRegions = 3
};

struct DrawRoom {
  void* region[kRoomRegions];
  int64_t bytes[kRoomRegions];
  int64_t held;     // bytes of all regions together
  int64_t refused;  // bytes of the first request that could not be had; 0 none
};

// An empty room; nothing is allocated before the first request.
void draw_room_init(DrawRoom* room);
// At least `bytes` bytes in region r, 16-byte aligned; the region's earlier
// contents are not kept. Null when the memory cannot be had (the room then
// counts as failed; what was held stays held).
void* draw_room_take(DrawRoom* room, DrawRoomRegion r, int64_t bytes);
// The same, keeping the region's first `keep` bytes (the scene grows in
// place); with `counts` clear a refusal is no failure of the room.
void* draw_room_widen(DrawRoom* room, DrawRoomRegion r, int64_t bytes, int64_t keep, bool counts = true);
// A region when it can be had, a refusal being no failure: for a caller that
// can do without (in smaller steps, or more slowly).
void* draw_room_offer(DrawRoom* room, DrawRoomRegion r, int64_t bytes);
// Doubles of region kRoomPoints: at least `count` doubles, or null.
double* draw_room_doubles(DrawRoom* room, int64_t count);
// Doubles of region kRoomPoints, as draw_room_offer.
double* draw_room_offer_doubles(DrawRoom* room, int64_t count);
// Gives every region back; the room is empty again, its failure kept.
void draw_room_release(DrawRoom* room);
inline bool draw_room_failed(const DrawRoom* room) { return room->refused > 0; }

// The most bytes one room may hold at once: the heap's answer is the limit
// unless a bound is set (0 removes it). Process-wide, as the heap it bounds.
void draw_room_set_limit(int64_t bytes);
int64_t draw_room_limit();
// Regions allocated afresh so far, process-wide: a room takes the regions
// the last room gave back when they fit (tests and benches count this).
int64_t draw_room_fresh_regions();

// A room that lives for one scope and gives its regions back at its end.
struct ScopedDrawRoom {
  DrawRoom room;
  ScopedDrawRoom() { draw_room_init(&room); }
  ~ScopedDrawRoom() { draw_room_release(&room); }
  ScopedDrawRoom(const ScopedDrawRoom&) = delete;
  ScopedDrawRoom& operator=(const ScopedDrawRoom&) = delete;
};
