// libFuzzer target: random points, segments and triangles in a scene block
// of exactly the size the input asks for, drawn with both walks. No input may
// crash, hang, read outside the block, draw a primitive twice or examine
// more pairs than the budget allows; the two walks must draw the same.
// The drawing is also held against what was added, by brute force: every
// point that is finite and inside the clip is drawn exactly once, with its
// own words and coordinates; every segment and triangle kept is drawn (in
// one piece or more, each with its words); and of two points drawn at the
// same pixel position, the nearer (larger depth) comes later (unless the
// pair budget ran out, when the rest is drawn in its order, or the two are
// drawn alike under the rule the input may choose: points and segments may
// share their first two words with the one before, and the third word
// names each primitive).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
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

// A point as added or drawn: its words and coordinates.
struct Point {
  int32_t w1, w2, w3;
  float x, y, z;
  bool operator==(const Point& o) const {
    return w1 == o.w1 && w2 == o.w2 && w3 == o.w3 && std::memcmp(&x, &o.x, 4) == 0 && std::memcmp(&y, &o.y, 4) == 0 &&
           std::memcmp(&z, &o.z, 4) == 0;
  }
};

struct Seen {
  std::vector<uint64_t> calls;
  std::vector<Point> points;  // in drawing order
  std::map<int32_t, int> pieces;  // by the first word: segments and facets drawn
  static Seen* of(void* c) { return static_cast<Seen*>(c); }
  static uint64_t key(int kind, int32_t w1, float a, float b) {
    uint32_t ua, ub;
    std::memcpy(&ua, &a, 4);
    std::memcpy(&ub, &b, 4);
    return (uint64_t(kind) << 60) ^ (uint64_t(uint32_t(w1)) << 32) ^ (uint64_t(ua) * 31u) ^ ub;
  }
  static void point(void* c, int32_t w1, int32_t w2, int32_t w3, float x, float y, float z) {
    of(c)->calls.push_back(key(1, w1, x, y));
    of(c)->points.push_back({w1, w2, w3, x, y, z});
  }
  static void segment(void* c, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y, const float* z,
                      const int32_t* e) {
    of(c)->calls.push_back(key(2, w3, x[0] + x[1] + z[1] + float(e[1]), y[0] + y[1]));
    if (w2 == words(w1, w3).w2) ++of(c)->pieces[w3];
  }
  static void facet(void* c, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y, const float* z,
                    const int32_t* e, bool front) {
    of(c)->calls.push_back(key(front ? 3 : 4, w3, x[0] + x[1] + x[2] + z[2], y[0] + y[1] + y[2] + float(e[0] + e[2])));
    if (w2 == words(w1, w3).w2 && w1 == w3) ++of(c)->pieces[w3];
  }
  // The words primitive w is added with, in group g (g = w unless it is
  // alike with the one before).
  static Point words(int32_t g, int32_t w) { return {g, g * 3 + 1, w, 0, 0, 0}; }
};

[[noreturn]] void fails(const char* what, int32_t w) {
  std::fprintf(stderr, "scene_fuzz: %s (primitive %d)\n", what, w);
  std::abort();
}

// What was added against what the plain walk drew.
void check_against_added(const std::vector<Point>& points, const std::vector<int32_t>& others, const Seen& seen,
                         bool ordered, bool alike) {
  for (const Point& p : points) {
    int times = 0;
    for (const Point& q : seen.points) times += q.w3 == p.w3 ? 1 : 0;
    if (times != 1) fails("a point is not drawn exactly once", p.w3);
    for (const Point& q : seen.points)
      if (q.w3 == p.w3 && !(q == p)) fails("a point is drawn with other words or coordinates", p.w3);
  }
  if (seen.points.size() != points.size()) fails("a point is drawn that was never added", -1);
  for (const int32_t w : others)
    if (seen.pieces.count(w) == 0) fails("a segment or triangle kept is not drawn with its words", w);
  for (size_t i = 0; ordered && i < seen.points.size(); ++i)
    for (size_t j = i + 1; j < seen.points.size(); ++j) {
      const Point &a = seen.points[i], &b = seen.points[j];
      if (alike && a.w1 == b.w1) continue;  // the same pixels in either order
      if (a.x == b.x && a.y == b.y && a.z > b.z) fails("a nearer point is drawn before a farther one", a.w3);
    }
}

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
  const uint8_t options = in.byte();
  if (options & 1) scene_set_clip(s, -20, 20, -20, 20);
  const uint32_t looks = options & 2 ? kSceneAlikeByWords : kSceneAlikeNone;
  const bool clip = s->clipOn != 0;
  auto inside = [&](float x, float y) { return !clip || (x >= -20 && x <= 20 && y >= -20 && y <= 20); };
  std::vector<Point> points;  // the points the drawing must show
  std::vector<int32_t> others;  // segments and triangles the scene kept
  int32_t w = 0, group = 0;
  while (in.more()) {
    const uint8_t k = in.byte();
    float v[9];
    for (float& f : v) f = in.coord();
    // A point or segment may be alike with the primitive before it.
    if (!(k % 4 < 2 && (k & 0x10) && w > 0)) group = w;
    const Point words = Seen::words(group, w);
    const int32_t count = s->count;
    switch (k % 4) {
      case 0:
        if (scene_add_point(s, words.w1, words.w2, w, v[0], v[1], v[2]) == kSceneAdded &&
            std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]) && inside(v[0], v[1]))
          points.push_back({words.w1, words.w2, w, v[0], v[1], v[2]});
        break;
      case 1: scene_add_segment(s, words.w1, words.w2, w, v[0], v[1], v[2], v[3], v[4], v[5]); break;
      default:
        scene_add_triangle(s, words.w1, words.w2, w, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], k & 4,
                           k & 8, k >> 4);
        break;
    }
    if (k % 4 != 0 && s->count > count) others.push_back(w);
    ++w;
  }
  std::vector<uint32_t> copy(block), copy2(block);
  Scene* plain = reinterpret_cast<Scene*>(copy.data());
  Scene* blocks = reinterpret_cast<Scene*>(copy2.data());
  // A work area for the grid, of a size the input chooses (too small: none).
  std::vector<uint32_t> work(size_t(room) * size_t(in.n % 7));
  Seen a, b, c;
  SceneStats sa{}, sb{}, sc{};
  scene_render(s, Seen::point, Seen::segment, Seen::facet, &a, &sa, true, work.data(), int64_t(work.size()) * 4,
               looks);
  scene_render(plain, Seen::point, Seen::segment, Seen::facet, &b, &sb, false, nullptr, 0, looks);
  scene_render(blocks, Seen::point, Seen::segment, Seen::facet, &c, &sc, true, nullptr, 0, looks);
  if (int64_t(a.calls.size()) != s->count) __builtin_trap();  // each primitive and piece once
  if (sa.pairs > sa.budget || a.calls != b.calls || sa.pairs != sb.pairs) __builtin_trap();
  if (c.calls != b.calls || sc.pairs != sb.pairs) __builtin_trap();
  check_against_added(points, others, b, !sb.budget_hit, looks == kSceneAlikeByWords);
  return 0;
}
