// The interpreter's side of the 3-D scene: the layout of polygon records
// (code 15) as the bounded reader sees them, the callback context, the
// feeders and the point, edge and facet callbacks that draw through the
// driver. Tests and the fuzz target call these directly.
#pragma once

#include <cstdint>

#include "graphics/plotlist/plot_records.h"
#include "graphics/render/graphics_driver.h"
#include "graphics/render/scene.h"

struct RenderState;

// Flags of a polygon record.
enum : uint32_t {
  kPolyKeepFront = 0x1,
  kPolyKeepBack = 0x2,
  kPolyEars = 0x4,
  kPolyRange = 0x10,
  kPolyValues = 0x20,
  kPolyRgb = 0x40,
  kPolyUniform = 0x80,
  kPolyEdgesComputed = 0x100,
  kPolyEdgesStyle = 0x200,
  kPolyFillComputed = 0x400,
  kPolyFillStyle = 0x800,
};

// A polygon record's parts, every one inside the record.
struct PolygonLayout {
  int32_t at;  // the record's index in the list
  uint32_t flags;
  int32_t perPolygon;  // v
  int32_t vertices;    // m
  const double *x, *y, *z;
  const double* values;   // flag 0x20: m values, or 1 with 0x80
  const double* colours;  // flag 0x40: planes r, g, b of m, or one triple with 0x80
  double rangeMin, rangeMax;
  int32_t polygons;                // p
  const unsigned char* indices;    // p * v int32, two per double
};
bool polygon_layout(const PlotRecord& rec, PolygonLayout* out);
// Vertex i of polygon k; false when the polygon is out of range or any of
// its vertex numbers is not below m.
bool polygon_valid(const PolygonLayout& p, int32_t k);
int32_t polygon_vertex(const PolygonLayout& p, int32_t k, int32_t i);

// What the feeders of one polygon need: the caller words, the transformed
// vertices and the culling flags.
struct PolygonTarget {
  int32_t record, material, polygon;
  const double *px, *py, *depth;
  int32_t keepFront, keepBack;
};
// False once the scene is full.
bool polygon_target_add(Scene* scene, const PolygonTarget& t, int32_t a, int32_t b, int32_t c, uint32_t bits);
// Ear cutting of polygon k of p; `work` holds 3 n doubles.
void polygon_ears(Scene* scene, const PolygonTarget& t, const PolygonLayout& p, int32_t k, int32_t n, double* work);
void polygon_fan(Scene* scene, const PolygonTarget& t, const PolygonLayout& p, int32_t k, int32_t n);

// The callback context: driver, colour map, lights, and the list the
// callbacks re-read; `state` supplies the figure's default styles.
struct SceneDrawContext {
  const GraphicsDriver* drv;
  GraphicsDriverContext* ctx;
  int32_t map_m;
  const double *map_r, *map_g, *map_b;
  const double* lights;
  int32_t light_count;
  const double* list;
  int32_t length;
  const RenderState* state;
  // The last polygon record read.
  PolygonLayout polygon;
  bool polygon_valid;
  StyleSpec polygon_style;
  // Segments of one record drawn one after another and joined end to end
  // are held here and go to the driver as one polyline (render_scene_flush):
  // the pixels are those of the segments, drawn at the same point of the
  // sequence. Without room (capacity below 2) each segment is drawn alone.
  double* run_x;
  double* run_y;
  int32_t run_capacity;
  int32_t run_length;
  int32_t run_record;
  StyleSpec run_style;
};

void render_polyline_to_scene(int32_t record, const double* px, const double* py, const double* depth, int32_t n,
                              const StyleSpec* style, int32_t w2, Scene* scene);
void render_scene_point_cb(void* context, int32_t w1, int32_t w2, int32_t w3, float x, float y, float z);
void render_scene_edge_cb(void* context, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y,
                          const float* z, const int32_t* edge);
// Draws the held run, if any.
void render_scene_flush(SceneDrawContext* c);
void render_scene_facet_cb(void* context, int32_t w1, int32_t w2, int32_t w3, const float* x, const float* y,
                           const float* z, const int32_t* edge, bool front_facing);
// The lighting factor of polygon k, and its computed colour.
double render_facet_light(const SceneDrawContext* c, const PolygonLayout& p, int32_t k, bool front, int32_t material);
void render_facet_colour(const SceneDrawContext* c, const PolygonLayout& p, int32_t k, double l, uint8_t out[3]);

// Figures of the last scene drawn (benches and tests).
SceneStats scene_last_stats();
