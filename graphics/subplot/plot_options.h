// Bodies of the small commands that set a subplot's look (daspect,
// plotoption, scalefactor, label, title) and of those that add the lighting,
// material and sensor records of 3-D plots (lightangle, material, sensor3).
// Each removes its arguments on success; a result is pushed in their place.
// A record writer checks its whole room, with the opening record of an empty
// list, before writing anything.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "graphics/subplot/subplot.h"

// Sensor record data: kind letter, part (mode bits: 1 without the modifier
// key, 2 with it; 3 both), then the values.
enum : int32_t {
  kSensorKind = 0,
  kSensorPart = 1,
  kSensorValues = 2,
  kSensorPlaneValues = 6,   // two direction vectors
  kSensorSphereValues = 3,  // the centre
};
constexpr char kSensorPlane = 'p';
constexpr char kSensorSphere = 's';

int daspect_body(EngineContext* ctx, int nargin, int nargout, Subplot* s);
int plotoption_body(EngineContext* ctx, Subplot* s);
int scalefactor_body(EngineContext* ctx, int nargin, int nargout, Subplot* s);
int label_body(EngineContext* ctx, int nargin, Subplot* s);
int title_body(EngineContext* ctx, Subplot* s);
int lightangle_body(EngineContext* ctx, int nargin, Subplot* s, double* list, int32_t capacity, int32_t* used);
int material_body(EngineContext* ctx, Subplot* s, double* list, int32_t capacity, int32_t* used);
int sensor3_body(EngineContext* ctx, int nargin, Subplot* s, double* list, int32_t capacity, int32_t* used);
