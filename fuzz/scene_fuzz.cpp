// libFuzzer target: random points, segments and triangles in a scene block
// of exactly the size the input asks for, drawn with both walks. No input may
// crash, hang, read outside the block, draw a primitive twice or examine
// more pairs than the budget allows; the two walks must draw the same.
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/render/scene.h"

namespace {

constexpr int kMaxPrims = 200;

struct Bytes {
  const uint8_t* p;
  size_t n, at = 0;
  bool more() const { return at < n; }
  uint8_t byte() { return at < n ? p[at++] : 0; }
  float coord() {  // a coarse grid, so that ties, touching and coplanar cases are common
    const uint8_t b = byte();
    switch (b) {
      case 250: return __builtin_nanf("");
      case 251: return __builtin_inff();
      case 252: return 3e38f;
      case 253: return -1e-30f;
      default: return float(int(b) - 120) * 0.5f;
    }
  }
};

struct Seen {
  std::vector<uint64_t> calls;
  static Seen* of(void* c) { return static_cast<Seen*>(c); }
  static uint64_t key(int kind, int32_t w1, float a, float b) {
    uint32_t ua, ub;
    std::memcpy(&ua, &a, 4);
    std::memcpy(&ub, &b, 4);
    return (uint64_t(kind) << 60) ^ (uint64_t(uint32_t(w1)) << 32) ^ (uint64_t(ua) * 31u) ^ ub;
  }
  static void point(void* c, int32_t w1, int32_t, int32_t, float x, float y, float) {
    of(c)->calls.push_back(key(1, w1, x, y));
  }
  static void segment(void* c, int32_t w1, int32_t, int32_t, const float* x, const float* y, const float* z,
                      const int32_t* e) {
    of(c)->calls.push_back(key(2, w1, x[0] + x[1] + z[1] + float(e[1]), y[0] + y[1]));
  }
  static void facet(void* c, int32_t w1, int32_t, int32_t, const float* x, const float* y, const float* z,
                    const int32_t* e, bool front) {
    of(c)->calls.push_back(key(front ? 3 : 4, w1, x[0] + x[1] + x[2] + z[2], y[0] + y[1] + y[2] + float(e[0] + e[2])));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Bytes in{data, size};
  const int room = in.byte() % kMaxPrims;
  const uint32_t orientation = in.byte() & 1;
  const int64_t bytes = kSceneHeaderBytes + room * kSceneBytesPerPrim + (in.byte() % 96);
  // Exactly the asked size, so that the sanitizers see any access past it.
  std::vector<uint32_t> block(size_t(bytes / 4));
  Scene* s = scene_init(block.data(), int64_t(block.size()) * 4, orientation);
  if (!s) __builtin_trap();
  if (in.byte() & 1) scene_set_clip(s, -20, 20, -20, 20);
  int32_t w = 0;
  while (in.more()) {
    const uint8_t k = in.byte();
    float v[9];
    for (float& f : v) f = in.coord();
    switch (k % 4) {
      case 0: scene_add_point(s, w, 0, 0, v[0], v[1], v[2]); break;
      case 1: scene_add_segment(s, w, 0, 0, v[0], v[1], v[2], v[3], v[4], v[5]); break;
      default:
        scene_add_triangle(s, w, 0, 0, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], k & 4, k & 8, k >> 4);
        break;
    }
    ++w;
  }
  std::vector<uint32_t> copy(block), copy2(block);
  Scene* plain = reinterpret_cast<Scene*>(copy.data());
  Scene* blocks = reinterpret_cast<Scene*>(copy2.data());
  // A work area for the grid, of a size the input chooses (too small: none).
  std::vector<uint32_t> work(size_t(room) * size_t(in.n % 7));
  Seen a, b, c;
  SceneStats sa{}, sb{}, sc{};
  scene_render(s, Seen::point, Seen::segment, Seen::facet, &a, &sa, true, work.data(), int64_t(work.size()) * 4);
  scene_render(plain, Seen::point, Seen::segment, Seen::facet, &b, &sb, false);
  scene_render(blocks, Seen::point, Seen::segment, Seen::facet, &c, &sc, true);
  if (int64_t(a.calls.size()) != s->count) __builtin_trap();  // each primitive and piece once
  if (sa.pairs > sa.budget || a.calls != b.calls || sa.pairs != sb.pairs) __builtin_trap();
  if (c.calls != b.calls || sc.pairs != sb.pairs) __builtin_trap();
  return 0;
}
