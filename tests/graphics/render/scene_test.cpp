// The depth-sorted scene on its own: block sizes, insertion rules, facing
// and culling, edge flags travelling with their edges, ordering, splits,
// cycles, the pair budget, and the indexed walk against the plain one.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "graphics/render/scene.h"

namespace {

// One drawn primitive as the callbacks saw it.
struct Drawn {
  int kind;  // 1 point, 2 segment, 3 front facet, 4 back facet
  int32_t w[3];
  float x[3], y[3], z[3];
  int32_t edge[3];
};

struct Log {
  std::vector<Drawn> d;
  static Log* of(void* c) { return static_cast<Log*>(c); }
  static void point(void* c, int32_t w1, int32_t w2, int32_t w3, float x, float y, float z) {
    of(c)->d.push_back({1, {w1, w2, w3}, {x, 0, 0}, {y, 0, 0}, {z, 0, 0}, {0, 0, 0}});
  }
  static void segment(void* c, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y, const float* z,
                      const int32_t* e) {
    of(c)->d.push_back({2, {w1, w2, w3}, {x[0], x[1], 0}, {y[0], y[1], 0}, {z[0], z[1], 0}, {e[0], e[1], 0}});
  }
  static void facet(void* c, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y, const float* z,
                    const int32_t* e, bool front) {
    of(c)->d.push_back({front ? 3 : 4, {w1, w2, w3}, {x[0], x[1], x[2]}, {y[0], y[1], y[2]}, {z[0], z[1], z[2]},
                        {e[0], e[1], e[2]}});
  }
  std::string words() const {
    std::string s;
    for (const Drawn& x : d) s += std::to_string(x.w[0]) + " ";
    return s;
  }
};

struct Block {
  std::vector<double> mem;
  Scene* s;
  explicit Block(int prims, uint32_t orientation = 0)
      : mem(size_t((kSceneHeaderBytes + prims * kSceneBytesPerPrim) / 8 + 1)),
        s(scene_init(mem.data(), kSceneHeaderBytes + prims * kSceneBytesPerPrim, orientation)) {}
  std::vector<double> work;
  // With a work area the walk takes its candidates from the grid of cells.
  Log render(SceneStats* st = nullptr, bool indexed = true, bool grid = true) {
    Log l;
    work.assign(grid && s ? size_t(s->capacity) * 3 + 64 : 0, 0.0);
    scene_render(s, Log::point, Log::segment, Log::facet, &l, st, indexed, work.data(),
                 int64_t(work.size()) * 8);
    return l;
  }
};

int tri(Scene* s, int32_t w, float x0, float y0, float z0, float x1, float y1, float z1, float x2, float y2, float z2,
        uint32_t edges = 7) {
  return scene_add_triangle(s, w, -1, 0, x0, y0, z0, x1, y1, z1, x2, y2, z2, 1, 1, edges);
}

TEST(Scene, BlockSizes) {
  std::vector<double> mem(32);
  EXPECT_EQ(scene_init(mem.data(), 47, 0), nullptr);
  EXPECT_EQ(scene_add_point(nullptr, 0, 0, 0, 1, 1, 1), kSceneNone);
  Scene* s = scene_init(mem.data(), 143, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->capacity, 0);
  EXPECT_EQ(scene_add_point(s, 0, 0, 0, 1, 1, 1), kSceneFull);
  EXPECT_EQ(scene_add_segment(s, 0, 0, 0, 1, 1, 1, 2, 2, 2), kSceneFull);
  EXPECT_EQ(tri(s, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0), kSceneFull);
  s = scene_init(mem.data(), 144, 0);
  EXPECT_EQ(s->capacity, 1);
  // Offsets, never pointers: the arrays follow the header in the block.
  EXPECT_EQ(s->prims, 48);
  EXPECT_EQ(s->order, 48 + 88);
  EXPECT_EQ(s->aux, 48 + 88 + 4);
  // A size beyond int32 is capped so that every offset still fits.
  std::vector<double> none(8);
  Scene* big = scene_init(none.data(), int64_t(1) << 40, 0);
  ASSERT_NE(big, nullptr);
  EXPECT_LE(int64_t(big->aux) + int64_t(big->capacity) * 4, int64_t(INT32_MAX));
}

TEST(Scene, NonFiniteAndClippedPrimitivesAreDropped) {
  Block b(8);
  EXPECT_EQ(tri(b.s, 0, NAN, 0, 0, 1, 0, 0, 0, 1, 0), kSceneAdded);
  EXPECT_EQ(tri(b.s, 0, 0, 0, 0, 1, 0, 0, 0, 1, INFINITY), kSceneAdded);
  EXPECT_EQ(scene_add_segment(b.s, 0, 0, 0, 0, 0, 0, 1, -INFINITY, 0), kSceneAdded);
  EXPECT_EQ(b.s->count, 0);
  scene_set_clip(b.s, 10, 20, 10, 20);
  EXPECT_EQ(tri(b.s, 0, 0, 11, 0, 9, 12, 0, 5, 19, 0), kSceneAdded);  // wholly left
  EXPECT_EQ(b.s->count, 0);
  EXPECT_EQ(tri(b.s, 0, 0, 11, 0, 15, 12, 0, 5, 19, 0), kSceneAdded);  // one vertex inside
  EXPECT_EQ(b.s->count, 1);
  EXPECT_EQ(scene_add_point(b.s, 0, 0, 0, 20, 10, 0), kSceneAdded);  // bounds included
  EXPECT_EQ(scene_add_point(b.s, 0, 0, 0, 20.5f, 10, 0), kSceneAdded);
  EXPECT_EQ(b.s->count, 2);
}

TEST(Scene, FacingAndCulling) {
  struct Case {
    uint32_t orientation;
    bool positive;  // cross product >= 0
    int flipped, otherwise;
    int want_kind;  // 0: dropped
  };
  const Case cases[] = {
      {0, true, 1, 0, kScenePrimFront},  {0, true, 0, 1, 0},  {0, false, 0, 1, kScenePrimBack},
      {0, false, 1, 0, 0},               {1, true, 0, 1, kScenePrimBack}, {1, true, 1, 0, 0},
      {1, false, 1, 0, kScenePrimFront}, {1, false, 0, 1, 0},
  };
  for (const Case& c : cases) {
    Block b(2, c.orientation);
    const float y2 = c.positive ? 1.0f : -1.0f;
    scene_add_triangle(b.s, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, y2, 0, c.flipped, c.otherwise, 7);
    ASSERT_EQ(b.s->count, c.want_kind ? 1 : 0) << c.orientation << c.positive << c.flipped;
    if (c.want_kind) EXPECT_EQ(scene_prim(b.s, 0)->kind, c.want_kind);
  }
  // A degenerate (zero) cross product counts as positive.
  Block b(2);
  scene_add_triangle(b.s, 0, 0, 0, 0, 0, 0, 1, 1, 0, 2, 2, 0, 1, 0, 7);
  EXPECT_EQ(b.s->count, 1);
}

TEST(Scene, VerticesSortByDepthWithTheirEdgeFlags) {
  // Every order of three depths: the callback sees them decreasing, and each
  // drawn edge still joins the same two corners.
  const float zs[3][3] = {{1, 2, 3}, {3, 1, 2}, {2, 3, 1}};
  for (const auto& z : zs)
    for (uint32_t edges = 0; edges < 8; ++edges) {
      Block b(2);
      const float x[3] = {0, 10, 0}, y[3] = {0, 0, 10};
      scene_add_triangle(b.s, 0, 0, 0, x[0], y[0], z[0], x[1], y[1], z[1], x[2], y[2], z[2], 1, 1, edges);
      const Log l = b.render();
      ASSERT_EQ(l.d.size(), 1u);
      const Drawn& d = l.d[0];
      EXPECT_GE(d.z[0], d.z[1]);
      EXPECT_GE(d.z[1], d.z[2]);
      for (int i = 0; i < 3; ++i) {
        // Find the original edge between the corners of depths d.z[i], d.z[i+1].
        const float a = d.z[i], c = d.z[(i + 1) % 3];
        int orig = -1;
        for (int k = 0; k < 3; ++k)
          if ((z[k] == a && z[(k + 1) % 3] == c) || (z[k] == c && z[(k + 1) % 3] == a)) orig = k;
        ASSERT_GE(orig, 0);
        EXPECT_EQ(d.edge[i], (edges >> orig) & 1 ? kSceneEdgeDrawn : kSceneEdgeHidden);
      }
    }
}

TEST(Scene, CrossingSegmentsDrawTheNearerAtTheCrossingLast) {
  for (int swap = 0; swap < 2; ++swap) {
    Block b(4);
    // A is near at its start, far at the crossing; B is level, between.
    // By first vertices A sorts nearer, but at the crossing B is nearer.
    const auto add_a = [&] { scene_add_segment(b.s, 1, 0, 0, 0, 0, 10, 10, 10, -12); };
    const auto add_b = [&] { scene_add_segment(b.s, 2, 0, 0, 0, 10, 0, 10, 0, 0); };
    if (swap) add_b(), add_a(); else add_a(), add_b();
    const Log l = b.render();
    EXPECT_EQ(l.words(), "1 2 ");
  }
}

TEST(Scene, PiercingTrianglesAreSplitWithHiddenInnerEdges) {
  Block b(32);
  // A horizontal-ish triangle and one that stands through it.
  tri(b.s, 1, 0, 0, 0, 20, 0, 10, 0, 20, 5);
  tri(b.s, 2, 5, 5, -5, 15, 5, -5, 10, 15, 20);
  SceneStats st{};
  const Log l = b.render(&st);
  EXPECT_GE(st.splits, 1);
  EXPECT_EQ(int(l.d.size()), b.s->count);  // every primitive and piece drawn once
  bool hidden = false;
  for (const Drawn& d : l.d)
    for (int e : d.edge) hidden = hidden || e == kSceneEdgeHidden;
  EXPECT_TRUE(hidden);
  EXPECT_FALSE(st.budget_hit);
}

TEST(Scene, AFullSceneDrawsUnsplit) {
  Block b(2);
  tri(b.s, 1, 0, 0, 0, 20, 0, 10, 0, 20, 5);
  tri(b.s, 2, 5, 5, -5, 15, 5, -5, 10, 15, 20);
  SceneStats st{};
  const Log l = b.render(&st);
  EXPECT_EQ(st.splits, 0);
  EXPECT_EQ(l.d.size(), 2u);
}

// Three long thin triangles, each over the next where they cross: along the
// bottom (A), up the right (B) and down the diagonal (C); B is over A, C
// over B and A over C. No order exists until one is split.
void cyclic_three(Scene* s) {
  tri(s, 1, 0, 0, 2, 0, 4, 2, 34, 2, -1.4f);
  tri(s, 2, 26, -2, 2.2f, 30, -2, 2.2f, 28, 34, -1.4f);
  tri(s, 3, 32, 28, 1.0f, 28, 32, 1.0f, -2, -2, -0.6f);
}

TEST(Scene, ThreeCyclicTrianglesEnd) {
  for (int cap : {3, 4, 5, 64}) {
    Block b(cap);
    cyclic_three(b.s);
    SceneStats st{};
    const Log l = b.render(&st);
    EXPECT_EQ(int(l.d.size()), b.s->count) << cap;
    EXPECT_LE(st.pairs, st.budget);
    if (cap == 64) EXPECT_GT(st.splits, 0);  // the cycle is broken by splitting
    if (cap == 3) EXPECT_EQ(st.splits, 0);   // no room: drawn unsplit
  }
}

std::string seq(const Log& l) {
  std::string s;
  char buf[160];
  for (const Drawn& d : l.d) {
    std::snprintf(buf, sizeof buf, "%d %d %a %a %a %a %a %a %d %d %d;", d.kind, d.w[0], d.x[0], d.y[0], d.z[0],
                  d.x[1], d.y[1], d.z[2], d.edge[0], d.edge[1], d.edge[2]);
    s += buf;
  }
  return s;
}

// Long thin triangles through one centre in every direction and tilt, with
// room for thousands of pieces: splits and restarts without end, but for the
// budget. The rest is drawn in its order, each primitive and piece once, and
// the grid's walk and the summaries' walk still draw what the plain walk
// draws and count the pairs as it does, up to the whole budget (the indexed
// walks charge skipped runs at once, and a run that does not fit the rest of
// the budget must still use it up).
TEST(Scene, AWorstCaseEndsWithinTheBudget) {
  const int n = 80;
  for (unsigned seed : {7u, 8u, 9u, 10u}) {
    Block b(n * 100);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0, 1);
    for (int i = 0; i < n; ++i) {
      const float a = u(rng) * 6.2832f, len = 50;
      const float cx = 50 + 5 * u(rng), cy = 50 + 5 * u(rng);
      const float dx = len * std::cos(a), dy = len * std::sin(a), nx = -dy * 0.1f, ny = dx * 0.1f;
      const float z0 = 20 * (u(rng) - 0.5f), z1 = 20 * (u(rng) - 0.5f);
      tri(b.s, i, cx - dx, cy - dy, z0, cx + dx + nx, cy + dy + ny, z1, cx + dx - nx, cy + dy - ny, z1);
    }
    std::vector<double> copy = b.mem, copy2 = b.mem;
    SceneStats st{}, sp{}, sb{};
    const Log l = b.render(&st);
    EXPECT_TRUE(st.budget_hit);
    EXPECT_EQ(st.budget, scene_pair_budget(n));
    EXPECT_LE(st.pairs, st.budget);
    EXPECT_GT(st.splits, 0);
    EXPECT_EQ(int(l.d.size()), b.s->count);
    Log lp, lb;
    scene_render(reinterpret_cast<Scene*>(copy.data()), Log::point, Log::segment, Log::facet, &lp, &sp, false);
    scene_render(reinterpret_cast<Scene*>(copy2.data()), Log::point, Log::segment, Log::facet, &lb, &sb, true);
    EXPECT_EQ(seq(l), seq(lp)) << seed;
    EXPECT_EQ(seq(lb), seq(lp)) << seed;
    EXPECT_EQ(st.pairs, sp.pairs) << seed;
    EXPECT_EQ(sb.pairs, sp.pairs) << seed;
    EXPECT_TRUE(sp.budget_hit && sb.budget_hit) << seed;
    EXPECT_LT(st.tested, sp.tested);
  }
}

void random_scene(Scene* s, std::mt19937& rng, int n) {
  std::uniform_real_distribution<float> pos(0, 100), dz(-30, 30), size(-25, 25);
  std::uniform_int_distribution<int> kind(0, 9), bits(0, 7);
  for (int i = 0; i < n; ++i) {
    const float x = pos(rng), y = pos(rng), z = dz(rng);
    const int k = kind(rng);
    if (k == 0) {
      scene_add_point(s, i, 0, 0, x, y, z);
    } else if (k <= 2) {
      scene_add_segment(s, i, 0, 0, x, y, z, x + size(rng), y + size(rng), z + dz(rng));
    } else {
      scene_add_triangle(s, i, 0, 0, x, y, z, x + size(rng), y + size(rng), z + dz(rng), x + size(rng),
                         y + size(rng), z + dz(rng), 1, 1, uint32_t(bits(rng)));
    }
  }
}

TEST(Scene, TheIndexedWalkMatchesThePlainWalk) {
  std::mt19937 rng(40);
  std::uniform_int_distribution<int> count(1, 40), room(0, 40);
  int64_t split_total = 0, tested_grid = 0, tested_plain = 0;
  for (int k = 0; k < 1000; ++k) {
    const int n = count(rng);
    Block a(n + room(rng));
    random_scene(a.s, rng, n);
    // The same scene for the summaries alone and for the plain walk.
    std::vector<double> copy = a.mem, copy2 = a.mem;
    Scene* plain = reinterpret_cast<Scene*>(copy.data());
    Scene* blocks = reinterpret_cast<Scene*>(copy2.data());
    SceneStats si{}, sp{}, sb{};
    const Log li = a.render(&si, true);
    Log lp, lb;
    scene_render(plain, Log::point, Log::segment, Log::facet, &lp, &sp, false);
    scene_render(blocks, Log::point, Log::segment, Log::facet, &lb, &sb, true);
    ASSERT_EQ(seq(li), seq(lp)) << "scene " << k;
    ASSERT_EQ(seq(lb), seq(lp)) << "scene " << k;
    EXPECT_EQ(si.pairs, sp.pairs);
    EXPECT_EQ(sb.pairs, sp.pairs);
    EXPECT_LE(si.tested, sp.tested);
    tested_grid += si.tested, tested_plain += sp.tested;
    EXPECT_EQ(int(li.d.size()), a.s->count);  // each primitive and piece once
    split_total += si.splits;
  }
  EXPECT_GT(split_total, 0);  // the scenes exercise splitting
  EXPECT_LT(tested_grid * 2, tested_plain);  // and the grid skips
}

TEST(Scene, SplitRules) {
  Block b(8);
  scene_add_point(b.s, 0, 0, 0, 5, 5, 0);
  tri(b.s, 1, 0, 0, -5, 20, 0, 5, 0, 20, 0);
  scene_add_segment(b.s, 2, 0, 0, 0, 0, 0, 10, 10, 1);
  scene_add_segment(b.s, 3, 0, 0, 0, 10, 0, 10, 0, 1);
  EXPECT_EQ(scene_split(b.s, 0, 1, true), 0);  // a point is never cut
  EXPECT_EQ(scene_split(b.s, 2, 3, true), 0);  // nor two segments
  // A segment through the triangle's plane is cut there, inside its projection.
  scene_add_segment(b.s, 4, 0, 0, 5, 5, -10, 6, 6, 10);
  const int before = b.s->count;
  b.s->orderLength = before;
  EXPECT_EQ(scene_split(b.s, 1, 4, false), 1);
  EXPECT_EQ(b.s->count, before + 1);
  EXPECT_EQ(scene_prim(b.s, 4)->w[0], 4);
  EXPECT_EQ(scene_prim(b.s, before)->w[0], 4);
  // Fewer than two free records: nothing is split.
  Block c(3);
  tri(c.s, 1, 0, 0, -5, 20, 0, 5, 0, 20, 0);
  scene_add_segment(c.s, 4, 0, 0, 5, 5, -10, 6, 6, 10);
  EXPECT_EQ(scene_split(c.s, 0, 1, true), 0);
}

}  // namespace

namespace {

// Surfaces of (m - 1)^2 quads over -3..3, two triangles each, seen from
// above at an angle; `height` gives each one's z.
template <class Height>
void surface(Scene* s, int m, int32_t first_word, Height height) {
  const double az = -0.65, el = 0.52;
  const double ca = std::cos(az), sa = std::sin(az), ce = std::cos(el), se = std::sin(el);
  auto project = [&](double x, double y, double z, float* p) {
    const double xe = ca * x - sa * y, ye = sa * x + ca * y;
    p[0] = float(400 + 100 * xe), p[1] = float(300 - 80 * (ce * z - se * ye)), p[2] = float(-(se * z + ce * ye));
  };
  for (int i = 0; i + 1 < m; ++i)
    for (int j = 0; j + 1 < m; ++j) {
      float q[4][3];
      const int di[4] = {0, 0, 1, 1}, dj[4] = {0, 1, 1, 0};
      for (int k = 0; k < 4; ++k) {
        const double x = -3 + 6.0 * (j + dj[k]) / (m - 1), y = -3 + 6.0 * (i + di[k]) / (m - 1);
        project(x, y, height(x, y), q[k]);
      }
      const int32_t w = first_word + i * m + j;
      tri(s, w, q[0][0], q[0][1], q[0][2], q[1][0], q[1][1], q[1][2], q[2][0], q[2][1], q[2][2], 3);
      tri(s, w, q[0][0], q[0][1], q[0][2], q[2][0], q[2][1], q[2][2], q[3][0], q[3][1], q[3][2], 6);
    }
}

// Hills and a tilted plane through them: the plane cuts the hills along
// lines whose length grows with m, so the splits do too.
void crossing_surfaces(Scene* s, int m) {
  surface(s, m, 0, [](double x, double y) {
    return 2 * std::exp(-x * x - y * y) - std::exp(-(x - 1.5) * (x - 1.5) - y * y);
  });
  surface(s, m, 100000, [](double x, double) { return 0.3 * x; });
}

// The work area the interpreter gives the walk: as large as the scene's block.
SceneStats render_with_program_room(Block* b, Log* log) {
  std::vector<double> work(size_t(b->s->capacity) * kSceneBytesPerPrim / 8 + 8);
  SceneStats st{};
  scene_render(b->s, Log::point, Log::segment, Log::facet, log, &st, true, work.data(), int64_t(work.size()) * 8);
  return st;
}

}  // namespace

// Splits must not cost a pass over the whole order each: the entries the
// walk re-sorts, re-indexes and looks up in its grid stay in proportion to
// the primitives while the splits grow with the surfaces' size.
TEST(Scene, SplittingWorkGrowsWithThePrimitives) {
  double per_prim[2];
  int32_t splits[2];
  const int sizes[2] = {16, 64};
  for (int k = 0; k < 2; ++k) {
    const int m = sizes[k];
    Block b(4 * 2 * (m - 1) * (m - 1) + 64);
    crossing_surfaces(b.s, m);
    const int32_t n = b.s->count;
    Log log;
    const SceneStats st = render_with_program_room(&b, &log);
    EXPECT_FALSE(st.budget_hit);
    EXPECT_EQ(int32_t(log.d.size()), b.s->count);
    splits[k] = st.splits;
    per_prim[k] = double(st.visited) / n;
  }
  EXPECT_GT(splits[1], 3 * splits[0]);  // the work to be kept in proportion
  EXPECT_LT(per_prim[1], 1.5 * per_prim[0]) << per_prim[0] << " then " << per_prim[1];
}

// The walk that re-sorts from the first changed entry after a split draws
// what the plain walk draws, which re-sorts the whole order.
TEST(Scene, CrossingSurfacesDrawAsThePlainWalkDraws) {
  for (int m : {6, 11}) {
    Block b(4 * 2 * (m - 1) * (m - 1) + 64);
    crossing_surfaces(b.s, m);
    std::vector<double> copy = b.mem, copy2 = b.mem;
    Log grid, plain, blocks;
    SceneStats sg = render_with_program_room(&b, &grid), sp{}, sb{};
    scene_render(reinterpret_cast<Scene*>(copy.data()), Log::point, Log::segment, Log::facet, &plain, &sp, false);
    scene_render(reinterpret_cast<Scene*>(copy2.data()), Log::point, Log::segment, Log::facet, &blocks, &sb, true);
    EXPECT_GT(sg.splits, 0) << m;
    EXPECT_EQ(seq(grid), seq(plain)) << m;
    EXPECT_EQ(seq(blocks), seq(plain)) << m;
  }
}

// Terraces: every cliff between two steps is a row of tall slivers over many
// grid cells, as many as the grid has columns. They go into the cells they
// cover rather than into the list every primitive is checked against, so
// the entries looked at per primitive stay steady as the grid grows finer.
TEST(Scene, SliversOfCliffsStayInTheirCells) {
  double per_prim[2];
  const int sizes[2] = {24, 96};
  for (int k = 0; k < 2; ++k) {
    const int m = sizes[k];
    Block b(2 * 2 * (m - 1) * (m - 1) + 64);
    surface(b.s, m, 0, [](double x, double y) { return 0.6 * std::floor(2 * x) + 0.1 * y; });
    const int32_t n = b.s->count;
    Log log;
    const SceneStats st = render_with_program_room(&b, &log);
    EXPECT_FALSE(st.budget_hit);
    EXPECT_EQ(int32_t(log.d.size()), b.s->count);
    per_prim[k] = double(st.visited) / n;
  }
  EXPECT_LT(per_prim[1], 1.5 * per_prim[0]) << per_prim[0] << " then " << per_prim[1];
}

namespace {

// Words (7, -1, i): the segments of one curve, drawn alike.
void curve(Scene* s, int n, float x0, float y0, float z0, float x1, float y1, float z1, float wobble) {
  auto at = [&](int i, float* p) {
    const float t = float(i) / float(n);
    p[0] = x0 + t * (x1 - x0), p[1] = y0 + t * (y1 - y0) + wobble * std::sin(40 * t), p[2] = z0 + t * (z1 - z0);
  };
  for (int i = 0; i < n; ++i) {
    float a[3], b[3];
    at(i, a), at(i + 1, b);
    scene_add_segment(s, 7, -1, i, a[0], a[1], a[2], b[0], b[1], b[2]);
  }
}

// The scene and the walk's work area as the interpreter gives them, drawn
// with the interpreter's rule for alike primitives.
SceneStats render_alike(Block* b, Log* log, bool indexed = true) {
  std::vector<double> work(size_t(b->s->capacity) * kSceneBytesPerPrim / 8 + 8);
  SceneStats st{};
  scene_render(b->s, Log::point, Log::segment, Log::facet, log, &st, indexed, work.data(), int64_t(work.size()) * 8,
               kSceneAlikeByWords);
  return st;
}

}  // namespace

// A curve of many turns seen at an angle crosses itself everywhere, but its
// segments are drawn alike: with nothing else near it no pair is examined,
// and it is drawn in the order it was added, whatever its size.
TEST(Scene, AlikeSegmentsAwayFromOthersNeedNoOrdering) {
  for (int n : {500, 20000}) {
    Block b(n + 64);
    auto at = [n](int i, float* p) {
      const double t = 20 * M_PI * i / n;
      p[0] = float(200 + 100 * std::cos(t)), p[1] = float(150 + 30 * std::sin(t) - 100.0 * i / n);
      p[2] = float(std::sin(t));
    };
    for (int i = 0; i < n; ++i) {
      float a[3], c[3];
      at(i, a), at(i + 1, c);
      scene_add_segment(b.s, 7, -1, i, a[0], a[1], a[2], c[0], c[1], c[2]);
    }
    Log log;
    const SceneStats st = render_alike(&b, &log);
    ASSERT_EQ(int(log.d.size()), n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(log.d[size_t(i)].w[2], i) << n;
    EXPECT_EQ(st.freed, n);
    EXPECT_EQ(st.tested, 0);
    EXPECT_EQ(st.visited, 0);
  }
}

// A curve through a surface: where it passes behind the surface it is drawn
// before the facets it lies under, where in front after them, and only the
// parts away from the surface go free; the walk with its grid draws what the
// plain walk draws.
TEST(Scene, ACurveThroughASurfaceKeepsItsDepthOrder) {
  const int k = 10, n = 400;
  Block b(2 * k * k + 2 * n + 256);
  // The square 100..200 in z = 0, two triangles a cell.
  for (int i = 0; i < k; ++i)
    for (int j = 0; j < k; ++j) {
      const float x0 = 100 + 10.0f * j, y0 = 100 + 10.0f * i, x1 = x0 + 10, y1 = y0 + 10;
      tri(b.s, 1000 + 2 * (i * k + j), x0, y0, 0, x1, y0, 0, x1, y1, 0);
      tri(b.s, 1001 + 2 * (i * k + j), x0, y0, 0, x1, y1, 0, x0, y1, 0);
    }
  // Behind it left of x = 150, in front right of it, wavy in y.
  curve(b.s, n, 50, 150.5f, -10, 250, 150.5f, 10, 3);
  std::vector<double> copy = b.mem;
  Log log, plain;
  const SceneStats st = render_alike(&b, &log);
  Block c(0);
  c.s = reinterpret_cast<Scene*>(copy.data());
  render_alike(&c, &plain, false);
  EXPECT_EQ(seq(log), seq(plain));
  EXPECT_EQ(int(log.d.size()), b.s->count);  // each primitive and piece once
  EXPECT_GT(st.freed, n / 4);  // the ends beyond the square and a marker's reach, by screen cells
  EXPECT_LE(st.freed, n / 2 + 2);
  auto inside = [](const Drawn& t, float px, float py) {
    float sgn = 0;
    for (int e = 0; e < 3; ++e) {
      const int f = (e + 1) % 3;
      const float c2 = (t.x[f] - t.x[e]) * (py - t.y[e]) - (t.y[f] - t.y[e]) * (px - t.x[e]);
      if (std::fabs(c2) < 1e-3f) return false;
      if (sgn == 0) sgn = c2;
      else if ((c2 > 0) != (sgn > 0)) return false;
    }
    return true;
  };
  int before = 0, after = 0;
  for (size_t i = 0; i < log.d.size(); ++i) {
    const Drawn& d = log.d[i];
    if (d.kind != 2) continue;
    const float mx = (d.x[0] + d.x[1]) / 2, my = (d.y[0] + d.y[1]) / 2, mz = (d.z[0] + d.z[1]) / 2;
    for (size_t j = 0; j < log.d.size(); ++j) {
      const Drawn& t = log.d[j];
      if (t.kind < 3 || !inside(t, mx, my)) continue;
      if (mz < 0) {
        EXPECT_LT(i, j) << "a segment behind the surface is drawn over it at x " << mx;
        ++before;
      } else {
        EXPECT_GT(i, j) << "a segment in front of the surface is drawn under it at x " << mx;
        ++after;
      }
    }
  }
  EXPECT_GT(before, 50);
  EXPECT_GT(after, 50);
}

// The plain walk and the indexed walks agree when alike primitives are
// left unordered too, and every primitive is drawn once.
TEST(Scene, AlikeWalksMatchThePlainWalk) {
  std::mt19937 rng(41);
  std::uniform_int_distribution<int> count(1, 60), coin(0, 1);
  std::uniform_real_distribution<float> pos(0, 100), dz(-30, 30), step(-8, 8);
  int64_t freed = 0;
  for (int k = 0; k < 300; ++k) {
    const int n = count(rng);
    Block a(n + 40);
    float x = pos(rng), y = pos(rng), z = dz(rng);
    int32_t word = 0;
    for (int i = 0; i < n; ++i) {
      if (coin(rng)) ++word;  // else alike with the one before
      const float nx = x + step(rng), ny = y + step(rng), nz = z + step(rng);
      if (i % 7 == 3) {
        tri(a.s, 1000 + i, x, y, z, nx, ny, nz, pos(rng), pos(rng), dz(rng));
      } else if (i % 5 == 2) {
        scene_add_point(a.s, word, 0, i, nx, ny, nz);
      } else {
        scene_add_segment(a.s, word, 0, i, x, y, z, nx, ny, nz);
      }
      x = nx, y = ny, z = nz;
    }
    std::vector<double> copy = a.mem, copy2 = a.mem;
    Log li, lp, lb;
    const SceneStats si = render_alike(&a, &li);
    Block p(0), q(0);
    p.s = reinterpret_cast<Scene*>(copy.data()), q.s = reinterpret_cast<Scene*>(copy2.data());
    render_alike(&p, &lp, false);
    SceneStats sb{};
    scene_render(q.s, Log::point, Log::segment, Log::facet, &lb, &sb, true, nullptr, 0, kSceneAlikeByWords);
    ASSERT_EQ(seq(li), seq(lp)) << "scene " << k;
    ASSERT_EQ(seq(lb), seq(lp)) << "scene " << k;
    EXPECT_EQ(int(li.d.size()), a.s->count);
    freed += si.freed;
  }
  EXPECT_GT(freed, 0);
}

// A finely drawn curve over a surface: its segments over the facets stay in
// the ordering, and the work per primitive (entries looked at, pairs tested)
// stays steady as the curve gets finer.
TEST(Scene, AFineCurveOverASurfaceCostsInProportion) {
  double visited[2], tested[2];
  const int sizes[2] = {2000, 32000};
  for (int k = 0; k < 2; ++k) {
    const int n = sizes[k], m = 20;
    Block b(2 * m * m + 2 * n + 4096);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) {
        const float x0 = 100 + 10.0f * j, y0 = 100 + 10.0f * i, x1 = x0 + 10, y1 = y0 + 10;
        const float z = 0.04f * float(i - j);  // through the curve's depths
        tri(b.s, 1000 + i * m + j, x0, y0, z, x1, y0, z, x1, y1, z);
        tri(b.s, 1000 + i * m + j, x0, y0, z, x1, y1, z, x0, y1, z);
      }
    // Ten turns over the square, in front of it and behind it.
    for (int i = 0; i < n; ++i) {
      const double t = 20 * M_PI * i / n, u = 20 * M_PI * (i + 1) / n;
      scene_add_segment(b.s, 7, -1, i, float(200 + 90 * std::cos(t)), float(150 + 40 * std::sin(t) + 4.0 * i * 10 / n),
                        float(std::sin(t)), float(200 + 90 * std::cos(u)),
                        float(150 + 40 * std::sin(u) + 4.0 * (i + 1) * 10 / n), float(std::sin(u)));
    }
    const int32_t count = b.s->count;
    Log log;
    const SceneStats st = render_alike(&b, &log);
    EXPECT_FALSE(st.budget_hit);
    EXPECT_EQ(int32_t(log.d.size()), b.s->count);
    EXPECT_LT(st.freed, n / 10);  // the curve lies over the surface
    visited[k] = double(st.visited) / count;
    tested[k] = double(st.tested) / count;
  }
  EXPECT_LT(visited[1], 1.5 * visited[0]) << visited[0] << " then " << visited[1];
  EXPECT_LE(tested[1], 1.5 * tested[0]) << tested[0] << " then " << tested[1];
}

// Markers and thick lines reach a few pixels beyond their vertices, a text
// far beyond its point: an alike marker a few pixels from an unlike line is
// ordered against it, those far from it go free, and a point alike with
// nothing is never freed.
TEST(Scene, WhatReachesBeyondItsBoxIsOrdered) {
  Block b(20000);  // room for cells of a pixel or two
  scene_add_segment(b.s, 5, -1, 0, 200, 120, 0, 201, 120, 0);
  scene_add_point(b.s, 7, -1, 0, 300, 300, 5);  // far away: free
  scene_add_point(b.s, 7, -1, 1, 207, 120, 5);  // 6 px from the line, nearer
  scene_add_point(b.s, 7, -1, 2, 350, 300, 5);  // far away: free
  scene_add_point(b.s, 9, kSceneAlikeWithNone, 3, 20, 20, -5);  // a text far away, farther
  Log log;
  const SceneStats st = render_alike(&b, &log);
  EXPECT_EQ(st.freed, 2);
  ASSERT_EQ(log.d.size(), 5u);
  EXPECT_EQ(log.d[0].w[2], 0);  // the free ones first, as they came
  EXPECT_EQ(log.d[1].w[2], 2);
  std::string rest;
  for (size_t i = 2; i < 5; ++i) rest += std::to_string(log.d[i].w[0]) + " ";
  EXPECT_EQ(rest, "9 5 7 ");  // then by depth: the text, the line, the near marker
}
