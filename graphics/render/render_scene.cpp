// The interpreter's 3-D pass: records 1, 2, 13, 14, 15 and 57 of a 3-D
// subplot become scene primitives whose caller words are (record, material
// record, point or polygon number); the callbacks re-read their record
// through the bounded reader, light the facets and draw through the driver.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "graphics/plotlist/colour_map.h"
#include "graphics/render/render_internal.h"
#include "graphics/render/render_scene.h"
#include "graphics/render/scene.h"

namespace {

constexpr int32_t kMaxCount = 1 << 28;
constexpr int32_t kLightDoubles = 6;
constexpr double kDefaultAmbient = 0.2;
constexpr double kDefaultDiffuse = 0.8;
constexpr double kChannelScale = 255.9999;
constexpr double kByteMax = 255.0;
constexpr double kMaxAlign = 4294967295.0;
enum : int32_t { kTextAtLength = 4, kTextAtBytes = 5 };
// Text records carry at most this many bytes.
constexpr int32_t kMaxTextBytes = 1 << 30;

// Pixels and depths as the scene holds them, the same as a lone curve's.
float narrow(double v) { return render_narrow(v); }

// The record at `at`, when the list holds one there with one of the codes.
bool reread(const SceneDrawContext* c, int32_t at, PlotRecord* rec) {
  if (at < 0 || at >= c->length) return false;
  PlotReader r;
  plotreader_init(&r, c->list, c->length, at);
  return plotreader_next(&r, rec) && rec->at == at;
}

StyleSpec style_of(const SceneDrawContext* c, const PlotRecord& rec) {
  return c->state ? render_effective_style(c->state, rec) : record_style(rec);
}

uint8_t clamp_byte(double v) {
  if (!(v > 0.0)) return 0;
  return v >= kByteMax ? uint8_t(kByteMax) : uint8_t(v);
}

SceneStats g_last_stats{};

bool vertex_finite(const PolygonLayout& p, int32_t v) {
  return std::isfinite(p.x[v]) && std::isfinite(p.y[v]) && std::isfinite(p.z[v]);
}

// The mean of a per-vertex quantity over the polygon's corners that are
// drawn (finite position and value); NaN when there are none.
double finite_mean(const PolygonLayout& p, int32_t k, const double* of) {
  double sum = 0.0;
  int32_t n = 0;
  for (int32_t i = 0; i < p.perPolygon; ++i) {
    const int32_t v = polygon_vertex(p, k, i);
    if (!vertex_finite(p, v) || !std::isfinite(of[v])) continue;
    sum += of[v];
    ++n;
  }
  return n > 0 ? sum / n : std::nan("");
}

}  // namespace

// The normal from the polygon's first three vertices in data coordinates,
// turned for a back facet; lighting in doubles. A polygon beside a hole of
// NaN values is drawn by its finite corners alone: its normal and its
// colour come from those, so that it keeps the shade of its neighbours.

double render_facet_light(const SceneDrawContext* c, const PolygonLayout& p, int32_t k, bool front,
                          int32_t material) {
  if (c->light_count <= 0) return 1.0;
  double ambient = kDefaultAmbient, diffuse = kDefaultDiffuse;
  PlotRecord m;
  if (material >= 0 && reread(c, material, &m) && m.code_int == kCodeMaterial && m.n >= 2) {
    ambient = m.data[0];
    diffuse = m.data[1];
  }
  int32_t corner[3] = {polygon_vertex(p, k, 0), polygon_vertex(p, k, 1), polygon_vertex(p, k, 2)};
  for (int32_t i = 0, found = 0; i < p.perPolygon && found < 3; ++i) {
    const int32_t v = polygon_vertex(p, k, i);
    if (vertex_finite(p, v)) corner[found++] = v;
  }
  const int32_t a = corner[0], b = corner[1], d = corner[2];
  const double ux = p.x[b] - p.x[a], uy = p.y[b] - p.y[a], uz = p.z[b] - p.z[a];
  const double vx = p.x[d] - p.x[a], vy = p.y[d] - p.y[a], vz = p.z[d] - p.z[a];
  double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
  double l = ambient;
  if (len > 0.0 && std::isfinite(len)) {
    const double sgn = front ? 1.0 : -1.0;
    nx *= sgn / len, ny *= sgn / len, nz *= sgn / len;
    for (int32_t i = 0; i < c->light_count; ++i) {
      const double* dir = c->lights + kLightDoubles * i;
      const double dot = nx * dir[0] + ny * dir[1] + nz * dir[2];
      if (dot > 0.0) l += dot * diffuse;
    }
  }
  if (!(l > 0.0)) return 0.0;  // NaN counts as 0
  return l > 1.0 ? 1.0 : l;
}

// The facet's computed colour (flags 0x100, 0x400): means over the
// polygon's vertices, through the map unless the record carries RGB.
void render_facet_colour(const SceneDrawContext* c, const PolygonLayout& p, int32_t k, double l, uint8_t out[3]) {
  if (p.flags & kPolyRgb) {
    for (int ch = 0; ch < 3; ++ch) {
      double sum = 0.0;
      if (p.flags & kPolyUniform) {
        sum = p.colours[ch];
      } else {
        sum = finite_mean(p, k, p.colours + int64_t(ch) * p.vertices);
      }
      out[ch] = clamp_byte(std::floor(sum * l * kChannelScale));
    }
    return;
  }
  double value = 0.0;
  if ((p.flags & kPolyValues) && (p.flags & kPolyUniform)) {
    value = p.values[0];
  } else {
    value = finite_mean(p, k, (p.flags & kPolyValues) ? p.values : p.z);
  }
  if (p.flags & kPolyRange) value = (value - p.rangeMin) / (p.rangeMax - p.rangeMin);
  uint8_t rgb[3];
  colormap_index(c->map_r, c->map_g, c->map_b, c->map_m, value, rgb);
  for (int ch = 0; ch < 3; ++ch) out[ch] = clamp_byte(std::floor(rgb[ch] * l + 0.5));
}

namespace {

// The visible edges as one connected polyline.
void draw_edges(const SceneDrawContext* c, const float* x, const float* y, const int32_t* edge,
                const StyleSpec& style) {
  int visible = 0, hidden = -1, shown = -1;
  for (int i = 0; i < 3; ++i) {
    if (edge[i] == kSceneEdgeDrawn) {
      ++visible;
      shown = i;
    } else {
      hidden = i;
    }
  }
  double px[4], py[4];
  int n = 0;
  auto put = [&](int i) {
    px[n] = x[i % 3];
    py[n] = y[i % 3];
    ++n;
  };
  if (visible == 3) {
    put(0), put(1), put(2), put(0);
  } else if (visible == 2) {
    put(hidden + 1), put(hidden + 2), put(hidden);
  } else if (visible == 1) {
    put(shown), put(shown + 1);
  } else {
    return;
  }
  c->drv->draw_polyline(px, py, n, &style, c->ctx);
}

}  // namespace

bool polygon_layout(const PlotRecord& rec, PolygonLayout* out) {
  PolygonLayout p{};
  p.at = rec.at;
  int32_t f;
  if (!record_count(rec, 0, kMaxCount, &f) || !record_count(rec, 1, kMaxCount, &p.perPolygon) ||
      !record_count(rec, 2, (rec.n - 3) / 3, &p.vertices))
    return false;
  p.flags = uint32_t(f);
  const int32_t m = p.vertices;
  int64_t pos = 3;
  p.x = rec.data + pos;
  p.y = p.x + m;
  p.z = p.y + m;
  pos += 3 * int64_t(m);
  if (p.flags & kPolyValues) {
    p.values = rec.data + pos;
    pos += (p.flags & kPolyUniform) ? 1 : m;
  }
  if (p.flags & kPolyRgb) {
    p.colours = rec.data + pos;
    pos += (p.flags & kPolyUniform) ? 3 : 3 * int64_t(m);
  }
  if (p.flags & kPolyRange) {
    if (pos + 2 > rec.n) return false;
    p.rangeMin = rec.data[pos];
    p.rangeMax = rec.data[pos + 1];
    pos += 2;
  }
  if (pos >= rec.n) return false;
  if (!double_to_count(rec.data[pos], kMaxCount, &p.polygons)) return false;
  ++pos;
  const int64_t words = int64_t(p.polygons) * p.perPolygon;
  if ((words + 1) / 2 > rec.n - pos) return false;  // the indices lie in the record
  p.indices = reinterpret_cast<const unsigned char*>(rec.data + pos);
  *out = p;
  return true;
}

bool polygon_valid(const PolygonLayout& p, int32_t k) {
  if (k < 0 || k >= p.polygons) return false;
  for (int32_t i = 0; i < p.perPolygon; ++i) {
    const int32_t v = polygon_vertex(p, k, i);
    if (v < 0 || v >= p.vertices) return false;
  }
  return true;
}

int32_t polygon_vertex(const PolygonLayout& p, int32_t k, int32_t i) {
  int32_t v;
  const int64_t at = (int64_t(k) * p.perPolygon + i) * int64_t(sizeof(int32_t));
  std::memcpy(&v, p.indices + at, sizeof v);
  return v;
}

void polygon_fan(Scene* scene, const PolygonTarget& t, const PolygonLayout& p, int32_t k, int32_t n) {
  const int32_t first = polygon_vertex(p, k, 0);
  for (int32_t i = 1; i + 1 < n; ++i) {
    uint32_t bits = 2;  // corner 2 to 3 is an edge of the polygon
    if (i == 1) bits |= 1;
    if (i + 2 == n) bits |= 4;
    if (!polygon_target_add(scene, t, first, polygon_vertex(p, k, i), polygon_vertex(p, k, i + 1), bits)) return;
  }
}

bool polygon_target_add(Scene* scene, const PolygonTarget& t, int32_t a, int32_t b, int32_t c, uint32_t bits) {
  const int r = scene_add_triangle(scene, t.record, t.material, t.polygon, narrow(t.px[a]), narrow(t.py[a]),
                                   narrow(t.depth[a]), narrow(t.px[b]), narrow(t.py[b]), narrow(t.depth[b]),
                                   narrow(t.px[c]), narrow(t.py[c]), narrow(t.depth[c]), t.keepFront, t.keepBack,
                                   bits);
  return r == kSceneAdded;
}

// Ear cutting in pixel coordinates: the ear of largest turning (times the
// polygon's total turning, so either winding works) is cut first; the
// work arrays (n corner numbers, angles, edge flags) lie in `work`.
void polygon_ears(Scene* scene, const PolygonTarget& t, const PolygonLayout& p, int32_t k, int32_t n, double* work) {
  double* corner = work;  // vertex numbers, whole doubles
  double* angle = work + n;
  double* edge = work + 2 * int64_t(n);  // 1: an edge of the polygon from this corner to the next
  for (int32_t i = 0; i < n; ++i) corner[i] = polygon_vertex(p, k, i), edge[i] = 1.0;
  auto turn = [&](int32_t j, int32_t count) {
    const int32_t a = int32_t(corner[(j + count - 1) % count]), b = int32_t(corner[j]);
    const int32_t c = int32_t(corner[(j + 1) % count]);
    const double e1x = t.px[b] - t.px[a], e1y = t.py[b] - t.py[a];
    const double e2x = t.px[c] - t.px[b], e2y = t.py[c] - t.py[b];
    return std::atan2(e1x * e2y - e1y * e2x, e1x * e2x + e1y * e2y);
  };
  int32_t count = n;
  double total = 0.0;
  for (int32_t j = 0; j < count; ++j) total += angle[j] = turn(j, count);
  while (count > 3) {
    int32_t best = -1;
    double best_value = 0.0;
    for (int32_t j = 0; j < count; ++j) {
      const double v = angle[j] * total;
      if (v > best_value) best_value = v, best = j;
    }
    if (best < 0) break;
    const int32_t prev = (best + count - 1) % count, next = (best + 1) % count;
    uint32_t bits = 0;
    if (edge[prev] != 0.0) bits |= 1;
    if (edge[best] != 0.0) bits |= 2;
    if (!polygon_target_add(scene, t, int32_t(corner[prev]), int32_t(corner[best]), int32_t(corner[next]), bits))
      return;  // full
    edge[prev] = 0.0;  // prev now runs to next along the cut
    for (int32_t j = best; j + 1 < count; ++j) {
      corner[j] = corner[j + 1];
      angle[j] = angle[j + 1];
      edge[j] = edge[j + 1];
    }
    --count;
    const int32_t p2 = best == 0 ? count - 1 : best - 1, n2 = best % count;
    angle[p2] = turn(p2, count);
    angle[n2] = turn(n2, count);
  }
  uint32_t bits = 0;
  if (edge[0] != 0.0) bits |= 1;
  if (edge[1] != 0.0) bits |= 2;
  if (count == 3 && edge[2] != 0.0) bits |= 4;
  polygon_target_add(scene, t, int32_t(corner[0]), int32_t(corner[1]), int32_t(corner[2]), bits);
}

// The scene starts small and grows with the records fed to it; every
// feeder reserves room for all it can add first, so nothing is refused.
constexpr int64_t kFirstScenePrims = 1024;
// Room kept free for the pieces of splits when the walk begins.
constexpr int64_t kSplitRoomPrims = 4096;

int64_t scene_bytes(int64_t prims) { return kSceneHeaderBytes + prims * kSceneBytesPerPrim; }

void render_scene_setup(RenderState* st) {
  void* block = draw_room_take(st->room, kRoomScene, scene_bytes(kFirstScenePrims));
  const Subplot* s = st->s;
  st->scene = block ? scene_init(block, scene_bytes(kFirstScenePrims), s->frameTop < s->frameBottom ? 1u : 0u)
                    : nullptr;
}

namespace {

// Points of a held run of segments: a slice of its own, and as many as a
// curve has (up to a bound) when the room can give them.
constexpr int32_t kRunSlicePoints = 512;
constexpr int64_t kRunPoints = int64_t(1) << 21;

// Walk grid words per primitive of capacity (four arrays and the cells'
// items, some three cells a primitive), and a margin for the cell offsets.
constexpr int64_t kWalkWordsPerPrim = 8;
constexpr int64_t kWalkSpareBytes = 65536;

// With `counts` clear a refusal is no failure: the caller can do without.
bool reserve(RenderState* st, int64_t more, bool counts) {
  Scene* old = st->scene;
  if (!old) return false;
  const int64_t want = int64_t(old->count) + more;
  if (want <= old->capacity) return true;
  if (want > scene_capacity_for(kSceneMaxBytes)) {
    // Past what a scene's offsets address.
    if (counts && st->room->refused == 0) st->room->refused = scene_bytes(want);
    return false;
  }
  void* block = draw_room_widen(st->room, kRoomScene, scene_bytes(want), scene_bytes(old->count), counts);
  if (!block) return false;
  st->scene = static_cast<Scene*>(block);
  scene_resize(st->scene, st->room->bytes[kRoomScene]);
  return true;
}

}  // namespace

bool render_scene_reserve(RenderState* st, int64_t more) { return reserve(st, more, true); }

void render_polyline_to_scene(int32_t record, const double* px, const double* py, const double* depth, int32_t n,
                              const StyleSpec* style, int32_t w2, Scene* scene) {
  if ((style->bits & kStyleBitsKind) >= kStyleKindInvisible) {
    for (int32_t i = 0; i < n; ++i)
      if (scene_add_point(scene, record, w2, i, narrow(px[i]), narrow(py[i]), narrow(depth[i])) == kSceneFull) return;
    return;
  }
  for (int32_t i = 1; i < n; ++i)
    if (scene_add_segment(scene, record, w2, i - 1, narrow(px[i - 1]), narrow(py[i - 1]), narrow(depth[i - 1]),
                          narrow(px[i]), narrow(py[i]), narrow(depth[i])) == kSceneFull)
      return;
}

void render_polyline3(RenderState* st, const PlotRecord& rec, const StyleSpec& style) {
  const bool with_z = rec.code_int == kCodePolyline3;
  int32_t m;
  if (st->is3d && rec.at == st->lone_curve) return;  // drawn at the end, without the scene
  if (!st->scene || !record_count(rec, 0, (rec.n - 1) / (with_z ? 3 : 2), &m) || m == 0) return;
  double* px = render_points(st, int64_t(3) * m);
  if (!px || !render_scene_reserve(st, m)) return;
  const double* x = rec.data + 1;
  double* py = px + m;
  double* depth = py + m;
  // Without z the points lie in the plane z = 0 and get its depth.
  if (!with_z) std::fill(depth, depth + m, 0.0);
  const double* z = with_z ? x + 2 * int64_t(m) : depth;
  subplot_data_to_pixel(st->s, x, x + m, z, m, px, py, depth);
  render_polyline_to_scene(rec.at, px, py, depth, m, &style, st->material_record, st->scene);
}

void render_line3_to_scene(RenderState* st, const PlotRecord& rec) {
  double x[2], y[2], z[2];
  if (!st->scene || !render_line3_ends(st, rec, x, y, z) || !render_scene_reserve(st, 1)) return;
  double px[2], py[2], depth[2];
  subplot_data_to_pixel(st->s, x, y, z, 2, px, py, depth);
  scene_add_segment(st->scene, rec.at, st->material_record, 0, narrow(px[0]), narrow(py[0]), narrow(depth[0]),
                    narrow(px[1]), narrow(py[1]), narrow(depth[1]));
}

void render_polygons(RenderState* st, const PlotRecord& rec) {
  PolygonLayout p;
  if (!st->scene || !st->drv->draw_polyline || !polygon_layout(rec, &p)) return;
  const int32_t m = p.vertices, v = p.perPolygon;
  const bool ears = (p.flags & kPolyEars) && v >= 4;
  // The vertices, then the ear cutting's 3v work doubles.
  double* px = render_points(st, int64_t(3) * m + (ears ? int64_t(3) * v : 0));
  if (!px || (v >= 3 && !render_scene_reserve(st, int64_t(p.polygons) * (v - 2)))) return;
  double* py = px + m;
  double* depth = py + m;
  subplot_data_to_pixel(st->s, p.x, p.y, p.z, m, px, py, depth);
  PolygonTarget t{rec.at, st->material_record, 0, px, py, depth, int32_t(p.flags & kPolyKeepFront),
                  int32_t((p.flags & kPolyKeepBack) >> 1)};
  double* work = depth + m;
  Scene* scene = st->scene;
  for (int32_t k = 0; k < p.polygons && scene->count < scene->capacity; ++k) {
    if (v < 3 || !polygon_valid(p, k)) continue;  // adds nothing
    t.polygon = k;
    if (ears)
      polygon_ears(scene, t, p, k, v, work);
    else
      polygon_fan(scene, t, p, k, v);
  }
}

void render_text3_to_scene(RenderState* st, const PlotRecord& rec) {
  if (!st->scene || rec.n < kTextAtBytes || !render_scene_reserve(st, 1)) return;
  double px, py, depth;
  subplot_data_to_pixel(st->s, &rec.data[0], &rec.data[1], &rec.data[2], 1, &px, &py, &depth);
  // A text reaches far beyond its point: it is always ordered.
  scene_add_point(st->scene, rec.at, kSceneAlikeWithNone, 0, narrow(px), narrow(py), narrow(depth));
}

void render_scene_point_cb(void* context, int32_t w1, int32_t, int32_t, float x, float y, float) {
  SceneDrawContext* c = static_cast<SceneDrawContext*>(context);
  render_scene_flush(c);
  PlotRecord rec;
  if (!reread(c, w1, &rec)) return;
  const double px = x, py = y;
  switch (rec.code_int) {
    case kCodePolyline:
    case kCodeFreqPolyline:
    case kCodePolyline3: {
      if (!c->drv->draw_polyline) return;
      const StyleSpec style = style_of(c, rec);
      c->drv->draw_polyline(&px, &py, 1, &style, c->ctx);
      return;
    }
    case kCodeTextAt3: {
      int32_t len;
      if (!c->drv->draw_text || rec.n < kTextAtBytes || !record_count(rec, kTextAtLength, kMaxTextBytes, &len))
        return;
      if ((int64_t(len) + 7) / 8 > rec.n - kTextAtBytes) return;  // the text must lie in its record
      const double a = rec.data[3];
      if (!(a >= 0 && a <= kMaxAlign)) return;
      c->drv->draw_text(px, py, reinterpret_cast<const char*>(rec.data + kTextAtBytes), len, uint32_t(a), nullptr,
                        c->ctx);
      return;
    }
    default:
      return;
  }
}

namespace {

bool same_point(const double* rx, const double* ry, int32_t i, const float* x, const float* y, int k) {
  return rx[i] == double(x[k]) && ry[i] == double(y[k]);
}

// Whether the segment of `record` continues the held run at its last point
// (or, while the run is one segment, at its first, which is turned round
// to be its last); the segment's other end is appended. A full run goes to
// the driver and goes on from its last point, so that the line joins.
bool run_extend(SceneDrawContext* c, int32_t record, const float* x, const float* y) {
  int32_t n = c->run_length;
  if (n < 2 || record != c->run_record) return false;
  double* rx = c->run_x;
  double* ry = c->run_y;
  int meet = -1;  // the segment's end on the run's last point
  for (int k = 0; k < 2 && meet < 0; ++k)
    if (same_point(rx, ry, n - 1, x, y, k)) meet = k;
  if (meet < 0 && n == 2) {
    for (int k = 0; k < 2 && meet < 0; ++k)
      if (same_point(rx, ry, 0, x, y, k)) meet = k;
    if (meet >= 0) std::swap(rx[0], rx[1]), std::swap(ry[0], ry[1]);
  }
  if (meet < 0) return false;
  if (n == c->run_capacity) {
    c->drv->draw_polyline(rx, ry, n, &c->run_style, c->ctx);
    rx[0] = rx[n - 1], ry[0] = ry[n - 1];
    n = 1;
  }
  rx[n] = x[1 - meet], ry[n] = y[1 - meet];
  c->run_length = n + 1;
  return true;
}

}  // namespace

void render_scene_flush(SceneDrawContext* c) {
  if (c->run_length >= 2) c->drv->draw_polyline(c->run_x, c->run_y, c->run_length, &c->run_style, c->ctx);
  c->run_length = 0;
}

void render_scene_edge_cb(void* context, int32_t w1, int32_t, int32_t, const float* x, const float* y,
                          const float*, const int32_t*) {
  SceneDrawContext* c = static_cast<SceneDrawContext*>(context);
  if (!c->drv->draw_polyline || run_extend(c, w1, x, y)) return;
  render_scene_flush(c);
  PlotRecord rec;
  if (!reread(c, w1, &rec)) return;
  switch (rec.code_int) {
    case kCodePolyline:
    case kCodeFreqPolyline:
    case kCodePolyline3:
    case kCodeLine3:
    case kCodePolygons: {
      const StyleSpec style = style_of(c, rec);
      if (c->run_capacity >= 2) {
        c->run_x[0] = x[0], c->run_y[0] = y[0], c->run_x[1] = x[1], c->run_y[1] = y[1];
        c->run_length = 2;
        c->run_record = w1;
        c->run_style = style;
        return;
      }
      const double px[2] = {x[0], x[1]}, py[2] = {y[0], y[1]};
      c->drv->draw_polyline(px, py, 2, &style, c->ctx);
      return;
    }
    default:
      return;
  }
}

void render_scene_facet_cb(void* context, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y,
                           const float*, const int32_t* edge, bool front_facing) {
  SceneDrawContext* c = static_cast<SceneDrawContext*>(context);
  if (!c->drv->draw_polyline) return;
  render_scene_flush(c);
  if (c->polygon.at != w1 || !c->polygon_valid) {
    PlotRecord rec;
    c->polygon_valid = reread(c, w1, &rec) && rec.code_int == kCodePolygons && polygon_layout(rec, &c->polygon);
    if (!c->polygon_valid) return;
    c->polygon_style = style_of(c, rec);
  }
  const PolygonLayout& p = c->polygon;
  const uint32_t f = p.flags;
  if (p.perPolygon < 3 || !polygon_valid(p, w3)) return;
  uint8_t rgb[3] = {0, 0, 0};
  if (f & (kPolyEdgesComputed | kPolyFillComputed))
    render_facet_colour(c, p, w3, render_facet_light(c, p, w3, front_facing, w2), rgb);
  const double px[3] = {x[0], x[1], x[2]}, py[3] = {y[0], y[1], y[2]};
  if (f & kPolyFillComputed) {
    const StyleSpec fill = {kStyleBitFill, rgb[0], rgb[1], rgb[2]};
    c->drv->draw_polyline(px, py, 3, &fill, c->ctx);
  } else if (f & kPolyFillStyle) {
    c->drv->draw_polyline(px, py, 3, &c->polygon_style, c->ctx);
  }
  if (f & kPolyEdgesComputed) {
    const StyleSpec line = {kStyleKindSolid, rgb[0], rgb[1], rgb[2]};
    draw_edges(c, x, y, edge, line);
  } else if (f & kPolyEdgesStyle) {
    draw_edges(c, x, y, edge, c->polygon_style);
  }
}

void render_scene(RenderState* st) {
  if (st->is3d && st->lone_curve >= 0) {
    g_last_stats = SceneStats{};
    PlotRecord lone;
    PlotReader r;
    plotreader_init(&r, st->q->list, st->q->length, st->lone_curve);
    if (plotreader_next(&r, &lone)) render_curve3(st, lone, render_effective_style(st, lone));
    return;
  }
  if (!st->scene) return;
  SceneDrawContext c{};
  c.drv = st->drv;
  c.ctx = st->ctx;
  c.map_m = st->map_r ? st->map_m : 0;
  c.map_r = st->map_r, c.map_g = st->map_g, c.map_b = st->map_b;
  PlotRecord lights;
  c.light_count = 0;
  if (st->light_record >= 0) {
    PlotReader r;
    plotreader_init(&r, st->q->list, st->q->length, st->light_record);
    if (plotreader_next(&r, &lights) && lights.code_int == kCodeLights) {
      c.lights = lights.data;
      c.light_count = lights.n / kLightDoubles;
    }
  }
  c.list = st->q->list;
  c.length = st->q->length;
  c.state = st;
  c.polygon.at = -1;
  // Room for the pieces of splits, as much as can be had: without it the
  // remaining conflicts are drawn unsplit, never left out. Only a
  // triangle's plane cuts anything: points and segments alone need none
  // (and a curve of millions of segments is not copied to a larger block).
  const int64_t n = st->scene->count;
  const ScenePrim* pr = scene_prim(st->scene, 0);
  const bool splits = std::any_of(pr, pr + n, [](const ScenePrim& p) { return p.vertexCount == 3; });
  for (int64_t more : {n / 2 + kSplitRoomPrims, n / 8 + kSplitRoomPrims, int64_t(0)})
    if (!splits || reserve(st, more, false)) break;
  Scene* scene = st->scene;
  // The walk's grid: some 20 bytes a primitive and the cells' items; a
  // walk without it examines more pairs and draws the same.
  const int64_t walk_bytes = kWalkWordsPerPrim * int64_t(sizeof(int32_t)) * scene->capacity + kWalkSpareBytes;
  void* work = draw_room_offer(st->room, kRoomWalk, walk_bytes);
  // The runs: room for a curve's whole length where it can be had (the
  // points region is free once every record is fed), else a slice.
  double own[2][kRunSlicePoints];
  c.run_x = own[0], c.run_y = own[1], c.run_capacity = kRunSlicePoints;
  const int64_t want = std::min<int64_t>(scene->count + 1, kRunPoints);
  if (want > kRunSlicePoints) {
    if (double* buffer = draw_room_offer_doubles(st->room, 2 * want))
      c.run_x = buffer, c.run_y = buffer + want, c.run_capacity = int32_t(want);
  }
  scene_render(scene, render_scene_point_cb, render_scene_edge_cb, render_scene_facet_cb, &c, &g_last_stats, true,
               work, work ? walk_bytes : 0, kSceneAlikeByWords);
  render_scene_flush(&c);
}

SceneStats scene_last_stats() { return g_last_stats; }
