// The drawing room: regions on the process heap, outside the runtime block.
// The block is not grown for drawing: a drawing holds the list and the
// subplot in place while it runs, its needs end with it (a 10^6-facet
// surface wants far more for its scene than the list itself takes), and the
// block's bound is for what the application keeps, not for this.
#include "graphics/render/draw_room.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int64_t kAlign = 16;
// Regions grow by half again at least, so a run of growing records does not
// allocate once per record.
constexpr int64_t kGrowNum = 3, kGrowDen = 2;
constexpr int64_t kMinRegion = 4096;

int64_t g_limit = 0;
// The regions the last room gave back, one per kind, for the next room:
// a large figure redrawn (every step of a camera drag) would otherwise map
// and fault in its scene's memory afresh each time. Drawing runs on the one
// GUI thread. A spare far larger than a request stays for a later, larger
// one of the same drawing (the scene starts small and grows); a room gives
// back what it used, so the memory goes back once the figures are small.
struct Spare {
  void* p;
  int64_t bytes;
};
Spare g_spare[kRoomRegions];
int64_t g_fresh = 0;
constexpr int64_t kSpareSlack = 4;

// The spare of kind r when it holds `want` bytes without being far larger.
void* take_spare(DrawRoomRegion r, int64_t want, int64_t* size) {
  Spare& k = g_spare[r];
  if (!k.p || k.bytes < want || k.bytes / kSpareSlack > want) return nullptr;
  void* p = k.p;
  k.p = nullptr;
  *size = k.bytes;
  return p;
}

int64_t rounded(int64_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

bool within_limit(const DrawRoom* room, DrawRoomRegion r, int64_t bytes) {
  return g_limit <= 0 || room->held - room->bytes[r] + bytes <= g_limit;
}

void* get(DrawRoom* room, DrawRoomRegion r, int64_t bytes, int64_t keep, bool counts = true) {
  if (r < 0 || r >= kRoomRegions || bytes < 0) return nullptr;
  if (bytes <= room->bytes[r] && room->region[r]) return room->region[r];
  const int64_t want = rounded(std::max(bytes, kMinRegion));
  int64_t size = std::max(want, rounded(room->bytes[r] * kGrowNum / kGrowDen));
  if (!within_limit(room, r, size)) size = want;
  void* p = nullptr;
  int64_t spare = 0;
  if (void* q = take_spare(r, want, &spare)) {
    if (within_limit(room, r, spare)) p = q, size = spare;
    else std::free(q);
  }
  if (!p && within_limit(room, r, size)) {
    p = std::aligned_alloc(size_t(kAlign), size_t(size));
    if (!p && size > want) p = std::aligned_alloc(size_t(kAlign), size_t(size = want));
    g_fresh += p != nullptr;
  }
  if (!p) {
    if (counts && room->refused == 0) room->refused = bytes;
    return nullptr;
  }
  if (keep > 0 && room->region[r]) std::memcpy(p, room->region[r], size_t(std::min(keep, room->bytes[r])));
  std::free(room->region[r]);
  room->held += size - room->bytes[r];
  room->region[r] = p;
  room->bytes[r] = size;
  return p;
}

}  // namespace

void draw_room_init(DrawRoom* room) { *room = DrawRoom{}; }

void* draw_room_take(DrawRoom* room, DrawRoomRegion r, int64_t bytes) { return get(room, r, bytes, 0); }

void* draw_room_widen(DrawRoom* room, DrawRoomRegion r, int64_t bytes, int64_t keep, bool counts) {
  return get(room, r, bytes, keep, counts);
}

void* draw_room_offer(DrawRoom* room, DrawRoomRegion r, int64_t bytes) { return get(room, r, bytes, 0, false); }

namespace {

double* doubles(DrawRoom* room, int64_t count, bool counts) {
  if (count < 0 || count > INT64_MAX / int64_t(sizeof(double))) return nullptr;
  return static_cast<double*>(get(room, kRoomPoints, count * int64_t(sizeof(double)), 0, counts));
}

}  // namespace

double* draw_room_doubles(DrawRoom* room, int64_t count) { return doubles(room, count, true); }
double* draw_room_offer_doubles(DrawRoom* room, int64_t count) { return doubles(room, count, false); }

void draw_room_release(DrawRoom* room) {
  for (int r = 0; r < kRoomRegions; ++r) {
    if (room->region[r]) {
      std::free(g_spare[r].p);
      g_spare[r] = {room->region[r], room->bytes[r]};
    }
    room->region[r] = nullptr;
    room->bytes[r] = 0;
  }
  room->held = 0;
}

void draw_room_set_limit(int64_t bytes) { g_limit = bytes > 0 ? bytes : 0; }
int64_t draw_room_limit() { return g_limit; }
int64_t draw_room_fresh_regions() { return g_fresh; }
